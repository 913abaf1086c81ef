#include "app/shell/BookmarkCommands.h"

#include "app/library/BookmarkDocument.h"
#include "app/library/DBAccess.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileIO.h"
#include "platform/runtime/Runtime.h"
#include "ui/AlertBlocks.h"

std::string BookmarkCommands::importMessage(int count) {
  if (count > 0) return std::to_string(count) + " bookmarks imported :)";
  return "bookmarks not found!";
}

void BookmarkCommands::onExportBookmarks() {
  auto controller = controller_.lock();
  if (!controller) return;
  std::string text = DBAccess::getInstance()->getAllBookmarksAsJson();
  if (text.empty()) {
    ns::LogWarning("BookmarkCommands: the library's bookmarks cannot be read; nothing is exported");
    return;
  }
  auto panel = ns::make<ak::SavePanel>();
  panel->setNameFieldStringValue(kBookmarksFileName);
  panel->beginSheetModalForWindow_completionHandler(controller->window(), [panel, text](long result) {
    if (result != 1 || !panel->URL()) return;
    ns::writeStringToFile(text, panel->URL()->path(), true);
  });
}

void BookmarkCommands::onImportBookmarks() {
  auto controller = controller_.lock();
  if (!controller) return;
  auto access = DBAccess::getInstance();
  auto panel = ns::make<ak::OpenPanel>();
  panel->setCanChooseFiles(true);
  panel->setCanChooseDirectories(false);
  panel->setAllowsMultipleSelection(false);
  panel->setCanCreateDirectories(false);
  ns::Weak<IMainWindowController> weakController = controller_;
  panel->beginSheetModalForWindow_completionHandler(controller->window(), [panel, access,
                                                                           weakController](long result) {
    if (result != 1 || panel->URLs().empty()) return;
    int count = importBookmarksFromFile(panel->URLs().front()->path(), access);
    auto controller = weakController.lock();
    if (!controller) return;
    AlertBlocks::
        showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
            controller->getCurrentWindow(), importMessage(count), "",
            static_cast<unsigned long>(ak::AlertStyle::Informational), std::string("Ok"), {}, nullptr, [] {});
  });
}

bool BookmarkCommands::treeViewHasFocus() {
  auto controller = controller_.lock();
  if (!controller) return false;
  bool ownFullScreen = controller->isFullScreen() && !controller->currentFullScreenLion();
  auto window = ownFullScreen ? controller->fullScreenWindow() : controller->window();
  auto responder = window ? window->firstResponder() : nullptr;
  if (!responder) return false;
  return ns::NSStringFromClass(ns::object_getClass(responder.get())) == "MyOutlineView";
}
