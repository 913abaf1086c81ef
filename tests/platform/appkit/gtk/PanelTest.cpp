// Open and save panels on the file chooser, answered with real keys: sheets, application-modal
// runs, and a parent window closed while the chooser is up.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/appkit/Make.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/net/URL.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/gtk/Screen.h"

namespace {

namespace fs = std::filesystem;
using ak::MakeRect;
using pltest::OnScreenApp;
namespace xtest = pltest::xtest;

fs::path folderIn(OnScreenApp& app, const std::string& name) {
  const fs::path folder = fs::path(app.sandbox().home()) / name;
  fs::create_directories(folder);
  return fs::canonical(folder);
}

// Whether a file chooser's dialog exists, shown or hidden.
bool chooserExists() {
  bool exists = false;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t; t = t->next) exists = exists || GTK_IS_FILE_CHOOSER_DIALOG(t->data);
  g_list_free(toplevels);
  return exists;
}

// Declared after the app, so that its sandbox goes only once the chooser has: the presenter frees
// a chooser on an idle after its answer, and until then the chooser watches its folder. GTK's
// list of a folder's files never frees the texts of rows whose files are removed under it (as the
// sandbox's removal does), which the leak check reports at the process's exit.
class ChooserGoneBeforeTheSandbox {
 public:
  explicit ChooserGoneBeforeTheSandbox(OnScreenApp& app) : app_(app) {}
  ~ChooserGoneBeforeTheSandbox() {
    EXPECT_TRUE(app_.settle([] { return !chooserExists(); }));
  }

 private:
  OnScreenApp& app_;
};

// The shown chooser's dialog, or null.
GtkWindow* shownChooser() {
  GtkWindow* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t; t = t->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(t->data) && gtk_widget_get_mapped(GTK_WIDGET(t->data)))
      found = GTK_WINDOW(t->data);
  g_list_free(toplevels);
  return found;
}

// The text of the entry that has the chooser's focus; nullopt when no entry has it.
std::optional<std::string> focusedEntryText() {
  GtkWindow* chooser = shownChooser();
  GtkWidget* focus = chooser ? gtk_window_get_focus(chooser) : nullptr;
  if (!focus || !GTK_IS_ENTRY(focus) || !gtk_widget_get_mapped(focus)) return std::nullopt;
  return std::string(gtk_entry_get_text(GTK_ENTRY(focus)));
}

// Focuses the chooser once it is shown, then runs `keys` once it has the keyboard: keys sent
// before the focus has arrived go to no window, and the chooser would wait for ever.
void whenChooserShows(pltest::Steps& steps, std::function<void()> keys) {
  steps.when([] { return pltest::shownToplevel("dialog") && pltest::labelOnScreen("Cancel").has_value(); },
             [] { pltest::focusDialog(); });
  steps.when(
      [] {
        GtkWindow* chooser = shownChooser();
        return chooser && gtk_window_is_active(chooser);
      },
      std::move(keys));
}

TEST(GtkPanelTest, ASaveSheetEndsWithTheTypedNameOrWithCancelOnEscape) {
  OnScreenApp app;
  ChooserGoneBeforeTheSandbox chooserGone(app);
  const fs::path folder = folderIn(app, "exports");
  auto window = app.window(MakeRect(100, 200, 500, 400));
  ASSERT_TRUE(app.waitUntilShown(window));
  auto panel = ns::make<ak::SavePanel>();
  panel->setNameFieldStringValue("untitled.json");
  panel->setDirectoryURL(ns::URL::fileURLWithPath_isDirectory(folder.string(), true));
  std::optional<long> code;
  pltest::Steps steps;
  whenChooserShows(steps, [] {
    xtest::chord({"Control_L", "a"});
    xtest::type("bookmarks.json");
    xtest::tap("Return");
  });
  panel->beginSheetModalForWindow_completionHandler(window, [&](long c) { code = c; });
  ASSERT_TRUE(app.settle([&] { return code.has_value(); }));
  EXPECT_EQ(*code, ak::ModalResponseOK);
  ASSERT_TRUE(panel->URL());
  EXPECT_EQ(panel->URL()->path(), (folder / "bookmarks.json").string());
  ASSERT_TRUE(app.settle([] { return !pltest::shownToplevel("dialog"); }));

  // Escape: Cancel, and no URL.
  code.reset();
  pltest::Steps escape;
  whenChooserShows(escape, [] { xtest::tap("Escape"); });
  panel->beginSheetModalForWindow_completionHandler(window, [&](long c) { code = c; });
  ASSERT_TRUE(app.settle([&] { return code.has_value(); }));
  EXPECT_EQ(*code, ak::ModalResponseCancel);
  EXPECT_EQ(panel->URL(), nullptr);
}

TEST(GtkPanelTest, AFoldersOnlyOpenPanelRunModalReturnsTheFolderChosenWithTheKeyboard) {
  OnScreenApp app;
  ChooserGoneBeforeTheSandbox chooserGone(app);
  const fs::path folder = folderIn(app, "library");
  fs::create_directories(folder / "clips");
  auto panel = ns::make<ak::OpenPanel>();
  panel->setCanChooseFiles(false);
  panel->setCanChooseDirectories(true);
  panel->setDirectoryURL(ns::URL::fileURLWithPath_isDirectory(folder.string(), true));
  pltest::Steps steps;
  // The location field (Ctrl+L) takes a path typed from the shown folder; Return chooses it once
  // the field shows it (completion may add a selected rest, which Return keeps within the folder).
  // Not a whole path: the field's completion would list the busy temporary folder on the way,
  // whose many sandboxes of other tests make it offer a list that takes the keys.
  const std::string typed = "clips";
  whenChooserShows(steps, [] { xtest::chord({"Control_L", "l"}); });
  steps.when([] { return focusedEntryText().has_value(); }, [&] { xtest::type(typed); });
  steps.when(
      [&] {
        const auto text = focusedEntryText();
        return text && text->compare(0, typed.size(), typed) == 0;
      },
      [] { xtest::tap("Return"); });
  // A chooser still up long after its keys is a fault: it is cancelled, with what it showed, so
  // that the run goes on instead of waiting for ever.
  std::string stuck;
  const guint watchdog = g_timeout_add_seconds(
      120,
      +[](gpointer data) -> gboolean {
        auto* said = static_cast<std::string*>(data);
        GtkWindow* chooser = shownChooser();
        *said = std::string("the chooser was still up; ") + (chooser ? "shown" : "not shown") +
                (chooser && gtk_window_is_active(chooser) ? ", active" : ", not active") +
                ", focused entry: " + focusedEntryText().value_or("(none)");
        if (chooser) gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        return G_SOURCE_REMOVE;
      },
      &stuck);
  const long code = panel->runModal();
  if (stuck.empty()) g_source_remove(watchdog);
  EXPECT_EQ(stuck, "");
  EXPECT_EQ(code, ak::ModalResponseOK);
  ASSERT_EQ(panel->URLs().size(), 1u);
  EXPECT_EQ(panel->URLs()[0]->path(), (folder / "clips").string());
}

TEST(GtkPanelTest, ClosingTheParentWhileTheChooserIsUpEndsItWithCancelAndTheLoopGoesOn) {
  OnScreenApp app;
  ChooserGoneBeforeTheSandbox chooserGone(app);
  auto window = app.window(MakeRect(100, 200, 500, 400));
  ASSERT_TRUE(app.waitUntilShown(window));
  auto panel = ns::make<ak::OpenPanel>();
  std::optional<long> code;
  int handlerRuns = 0;
  pltest::Steps steps;
  steps.when([] { return pltest::shownToplevel("dialog"); }, [&] { window->close(); });
  panel->beginSheetModalForWindow_completionHandler(window, [&](long c) {
    code = c;
    ++handlerRuns;
  });
  ASSERT_TRUE(app.settle([&] { return code.has_value(); }));
  EXPECT_EQ(*code, ak::ModalResponseCancel);
  EXPECT_TRUE(panel->URLs().empty());
  ASSERT_TRUE(app.settle([] { return !pltest::shownToplevel("dialog"); }));
  // The run loop goes on: a block queued now runs, and the handler ran once.
  bool ran = false;
  ns::RunLoop::mainRunLoop()->performBlock([&] { ran = true; });
  ASSERT_TRUE(app.settle([&] { return ran; }));
  EXPECT_EQ(handlerRuns, 1);
}

TEST(GtkPanelTest, OnlyLocalFileURIsWithUtf8PathsAreAnAnswer) {
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"file:///home/u/a%20b.json"}),
            (std::vector<std::string>{"/home/u/a b.json"}));
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"file://localhost/tmp/x"}), (std::vector<std::string>{"/tmp/x"}));
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"sftp://host/tmp/x"}), std::nullopt);
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"file://elsewhere/tmp/x"}), std::nullopt);
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"file:///tmp/%FF%FE"}), std::nullopt);
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"file:///tmp/ok", "http://x/y"}), std::nullopt);
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({}), std::nullopt);
  EXPECT_EQ(ak::gtk::pathsOfChosenURIs({"not a uri"}), std::nullopt);
}

}  // namespace
