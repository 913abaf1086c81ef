#include "platform/appkit/SavePanel.h"

#include <algorithm>
#include <filesystem>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Presenter.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"

namespace fs = std::filesystem;

namespace ak {

namespace {

SavePanel::Answerer& answerer() {
  static ns::NoDestructor<SavePanel::Answerer> a;
  return *a;
}

std::string extensionOf(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

bool typeAllowed(const std::vector<std::string>& types, const std::string& name) {
  if (types.empty()) return true;
  return std::find(types.begin(), types.end(), extensionOf(name)) != types.end();
}

}  // namespace

void SavePanel::setAnswerer(Answerer a) {
  answerer() = std::move(a);
}

bool SavePanel::hasAnswerer() {
  return static_cast<bool>(answerer());
}

ns::Ref<Window> SavePanel::window() {
  if (!window_) {
    window_ = make<Window>(MakeRect(0, 0, 640, 420), TitledWindowMask);
    window_->setReleasedWhenClosed(false);
  }
  return window_;
}

std::string SavePanel::accept(const PanelAnswer& answer) {
  std::string name = answer.name;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return "\"" + name + "\" is no plain file name";
  }
  std::error_code ec;
  const fs::path folder(answer.folder);
  if (answer.folder.empty() || !fs::is_directory(folder, ec))
    return "the folder \"" + answer.folder + "\" does not exist";
  if (!allowedFileTypes_.empty() && !typeAllowed(allowedFileTypes_, name))
    name += "." + allowedFileTypes_.front();
  const fs::path target = fs::canonical(folder, ec) / name;
  if (ec) return "the folder \"" + answer.folder + "\" cannot be read";
  if (fs::is_directory(target, ec)) return "\"" + name + "\" is a folder";
  if (fs::exists(target, ec) && !answer.confirmReplace)
    return "\"" + name + "\" already exists and was not replaced";
  urls_ = {ns::URL::fileURLWithPath_isDirectory(target.string(), false)};
  return {};
}

std::string OpenPanel::accept(const PanelAnswer& answer) {
  if (answer.paths.empty()) return "nothing was chosen";
  if (answer.paths.size() > 1 && !allowsMultipleSelection_) return "only one item may be chosen";
  std::vector<ns::Ref<ns::URL>> chosen;
  for (const auto& path : answer.paths) {
    std::error_code ec;
    const fs::path p(path);
    if (path.empty() || !fs::exists(p, ec)) return "\"" + path + "\" does not exist";
    const bool directory = fs::is_directory(p, ec);
    if (directory && !canChooseDirectories_) return "\"" + path + "\" is a folder";
    if (!directory && !canChooseFiles_) return "\"" + path + "\" is a file";
    if (!directory && !typeAllowed(allowedFileTypes(), p.filename().string()))
      return "\"" + path + "\" is of a type not allowed";
    chosen.push_back(ns::URL::fileURLWithPath_isDirectory(fs::canonical(p, ec).string(), directory));
  }
  urls_ = std::move(chosen);
  return {};
}

long SavePanel::answerNow() {
  auto keep = self<SavePanel>();
  urls_.clear();
  auto& a = answerer();
  if (!a) {
    ns::Log("AppKit: a file panel has nobody to answer it and is cancelled");
    return ModalResponseCancel;
  }
  std::string refusal;
  for (;;) {
    auto answer = a(keep, refusal);
    if (!answer || !answer->ok) {
      urls_.clear();
      return ModalResponseCancel;
    }
    refusal = accept(*answer);
    if (refusal.empty()) return ModalResponseOK;
    urls_.clear();
  }
}

bool SavePanel::showOnScreen(const ns::Ref<Window>& parent, std::function<void(long)> finish) {
  auto* presenter = activePresenter();
  if (answerer() || !presenter) return false;
  auto keep = self<SavePanel>();
  urls_.clear();
  return presenter->showPanel(keep, parent, [keep, finish](std::optional<PanelAnswer> answer) {
    long code = ModalResponseCancel;
    if (answer && answer->ok) {
      const std::string refusal = keep->accept(*answer);
      if (refusal.empty()) {
        code = ModalResponseOK;
      } else {
        ns::LogWarning("AppKit: the file chooser's answer is refused (%s); the panel is cancelled",
                       refusal.c_str());
      }
    }
    if (code != ModalResponseOK) keep->urls_.clear();
    finish(code);
  });
}

long SavePanel::runModal() {
  auto keep = self<SavePanel>();
  std::optional<long> result;
  auto loop = ns::RunLoop::mainRunLoop();
  if (showOnScreen(nullptr, [&result, loop](long code) {
        result = code;
        // A pass of the loop below ends on this, however the answer came.
        loop->performInModes_block({ns::ModalPanelRunLoopMode}, [] {});
      })) {
    // The chooser is GTK's: the loop keeps GLib's context turning (its poll participant) until
    // the answer, whether it comes from a button, Escape, or the chooser's parent closing.
    auto app = Application::sharedApplication();
    while (!result) {
      app->updateWindows();
      loop->runMode_beforeDate(ns::ModalPanelRunLoopMode, ns::Date::distantFuture());
    }
    return *result;
  }
  auto w = window();
  w->center();
  w->makeKeyAndOrderFront(nullptr);
  const long code = answerNow();
  w->orderOut(nullptr);
  return code;
}

void SavePanel::beginSheetModalForWindow_completionHandler(const ns::Ref<Window>& parent,
                                                           std::function<void(long)> handler) {
  auto keep = self<SavePanel>();
  if (!parent || parent->isClosed()) {
    const long code = runModal();
    if (handler) handler(code);
    return;
  }
  auto shared = std::make_shared<std::function<void(long)>>(std::move(handler));
  if (showOnScreen(parent, [shared](long code) {
        // The handler runs on a pass of its own, never inside whatever closed the chooser.
        ns::RunLoop::mainRunLoop()->performInModes_block({ns::RunLoopCommonModes}, [shared, code] {
          if (*shared) (*shared)(code);
        });
      }))
    return;
  handler = std::move(*shared);
  auto app = Application::sharedApplication();
  app->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(window(), parent, nullptr,
                                                                          ns::Sel(), nullptr);
  // The answer comes on a later pass of the loop, as a person's would: the caller returns first.
  // A panel waiting behind another sheet is answered once it hangs.
  auto answer = [keep, parent, handler = std::move(handler)] {
    const long code = keep->answerNow();
    if (parent->attachedSheet() == keep->window_) {
      Application::sharedApplication()->endSheet_returnCode(keep->window_, code);
    }
    keep->window_->orderOut(nullptr);
    if (handler) handler(code);
  };
  auto schedule = [answer] {
    ns::RunLoop::currentRunLoop()->performInModes_block({ns::DefaultRunLoopMode, ns::ModalPanelRunLoopMode},
                                                        answer);
  };
  if (parent->attachedSheet() == window_) {
    schedule();
    return;
  }
  auto center = ns::NotificationCenter::defaultCenter();
  auto token = std::make_shared<ns::Ref<ns::Object>>();
  ns::Weak<Window> weakParent = parent;
  ns::Weak<Window> weakSheet = window_;
  *token = center->addObserverForName_object_queue_usingBlock(
      std::string(WindowWillBeginSheetNotification), parent, nullptr,
      [weakParent, weakSheet, token, schedule](const auto&) {
        auto p = weakParent.lock();
        auto sheet = weakSheet.lock();
        if (!p || !sheet || p->attachedSheet() != sheet) return;
        ns::NotificationCenter::defaultCenter()->removeObserver(token->get());
        schedule();
      });
}

}  // namespace ak

PL_CLASS_NAMED(ak::SavePanel, "NSSavePanel", ns::Object) {}
PL_CLASS_NAMED(ak::OpenPanel, "NSOpenPanel", ak::SavePanel) {}
