// Open and save panels on GtkFileChooserNative (a GtkFileChooserDialog where no desktop portal
// runs). The chooser never runs a loop of its own: its answer arrives through GLib's context,
// which the main run loop turns, and ends the panel exactly once.
#include <gtk/gtk.h>

#include <filesystem>

#include "platform/appkit/SavePanel.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/core/Log.h"

namespace ak::gtk {

std::optional<std::vector<std::string>> pathsOfChosenURIs(const std::vector<std::string>& uris) {
  if (uris.empty()) return std::nullopt;
  std::vector<std::string> paths;
  for (const auto& uri : uris) {
    gchar* scheme = g_uri_parse_scheme(uri.c_str());
    const bool file = scheme && g_ascii_strcasecmp(scheme, "file") == 0;
    g_free(scheme);
    if (!file) return std::nullopt;
    gchar* host = nullptr;
    gchar* path = g_filename_from_uri(uri.c_str(), &host, nullptr);
    const bool local = !host || !*host || g_ascii_strcasecmp(host, "localhost") == 0;
    g_free(host);
    if (!path) return std::nullopt;
    std::string chosen = path;
    g_free(path);
    // Paths are text in ak: one that is not UTF-8 cannot be named without changing it.
    if (!local || chosen.empty() ||
        !g_utf8_validate(chosen.c_str(), static_cast<gssize>(chosen.size()), nullptr))
      return std::nullopt;
    paths.push_back(std::move(chosen));
  }
  return paths;
}

namespace {

std::vector<std::string> urisOf(GtkFileChooser* chooser) {
  std::vector<std::string> out;
  GSList* uris = gtk_file_chooser_get_uris(chooser);
  for (GSList* u = uris; u; u = u->next) out.emplace_back(static_cast<const char*>(u->data));
  g_slist_free_full(uris, g_free);
  return out;
}

class NativeChooser : public FileChooser {
 public:
  NativeChooser(const ns::Ref<SavePanel>& panel, GtkWindow* parent, PanelDone done)
      : done_(std::move(done)), open_(panel->isOpenPanel()) {
    auto open = std::dynamic_pointer_cast<OpenPanel>(panel);
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_SAVE;
    if (open) {
      action = open->canChooseDirectories() && !open->canChooseFiles() ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                                       : GTK_FILE_CHOOSER_ACTION_OPEN;
    }
    // The chooser has no line of its own for the panel's message: it joins the title.
    std::string title = panel->title();
    if (title.empty()) title = open ? "Open" : "Save";
    if (!panel->message().empty()) title += ": " + panel->message();
    native_ = gtk_file_chooser_native_new(
        title.c_str(), parent, action, panel->prompt().empty() ? nullptr : panel->prompt().c_str(), nullptr);
    auto* chooser = GTK_FILE_CHOOSER(native_);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native_), TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (auto dir = panel->directoryURL(); dir && dir->isFileURL()) {
      std::error_code ec;
      if (std::filesystem::is_directory(dir->path(), ec))
        gtk_file_chooser_set_current_folder(chooser, dir->path().c_str());
    }
    if (open) {
      gtk_file_chooser_set_select_multiple(chooser, open->allowsMultipleSelection());
      gtk_file_chooser_set_create_folders(chooser, FALSE);
    } else {
      gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
      gtk_file_chooser_set_create_folders(chooser, panel->canCreateDirectories());
      gtk_file_chooser_set_current_name(chooser, panel->nameFieldStringValue().c_str());
    }
    const auto& types = panel->allowedFileTypes();
    if (!types.empty() && action != GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER) {
      GtkFileFilter* filter = gtk_file_filter_new();
      std::string name;
      for (const auto& type : types) {
        // Extensions match in either case, as the system's panel does.
        std::string pattern = "*.";
        for (char c : type) {
          const char lower = g_ascii_tolower(c), upper = g_ascii_toupper(c);
          if (lower == upper) {
            pattern += c;
          } else {
            pattern += std::string("[") + lower + upper + "]";
          }
        }
        gtk_file_filter_add_pattern(filter, pattern.c_str());
        name += (name.empty() ? "" : ", ") + std::string("*.") + type;
      }
      gtk_file_filter_set_name(filter, name.c_str());
      gtk_file_chooser_add_filter(chooser, filter);
    }
    g_signal_connect(native_, "response", G_CALLBACK(onResponse), this);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native_));
  }

  ~NativeChooser() override {
    g_signal_handlers_disconnect_by_data(native_, this);
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(native_));
    g_object_unref(native_);
  }

  void cancel() override {
    if (finished_) return;
    gtk_native_dialog_hide(GTK_NATIVE_DIALOG(native_));
    finish(std::nullopt);
  }

  bool isFinished() const override { return finished_; }

 private:
  static void onResponse(GtkNativeDialog*, gint response, NativeChooser* self) {
    if (self->finished_) return;
    if (response != GTK_RESPONSE_ACCEPT) {
      // Cancel, Escape, or the chooser's window closed by the window manager.
      self->finish(std::nullopt);
      return;
    }
    auto paths = pathsOfChosenURIs(urisOf(GTK_FILE_CHOOSER(self->native_)));
    if (!paths) {
      ns::LogWarning(
          "AppKit: the file chooser answered a place that is no local file with a UTF-8 path; cancelled");
      self->finish(std::nullopt);
      return;
    }
    PanelAnswer answer;
    answer.ok = true;
    if (self->open_) {
      answer.paths = *paths;
    } else {
      const std::filesystem::path path(paths->front());
      answer.folder = path.parent_path().string();
      answer.name = path.filename().string();
      // The chooser asked before replacing.
      answer.confirmReplace = true;
    }
    self->finish(answer);
  }

  void finish(std::optional<PanelAnswer> answer) {
    finished_ = true;
    auto done = std::move(done_);
    done_ = nullptr;
    if (done) done(std::move(answer));
  }

  GtkFileChooserNative* native_ = nullptr;
  PanelDone done_;
  bool open_ = false;
  bool finished_ = false;
};

}  // namespace

std::unique_ptr<FileChooser> showFileChooser(const ns::Ref<SavePanel>& panel, void* parentToplevel,
                                             PanelDone done) {
  return std::make_unique<NativeChooser>(panel, parentToplevel ? GTK_WINDOW(parentToplevel) : nullptr,
                                         std::move(done));
}

}  // namespace ak::gtk
