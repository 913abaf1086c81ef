#pragma once
// The main window controller's bookmark commands: export of every bookmark of the library to one
// JSON file and import of such a file, and the source list's focus test. The controller owns one
// and forwards to it. The document and its import are the library's (BookmarkDocument.h).
#include <string>

#include "platform/core/Object.h"

class IMainWindowController;

class BookmarkCommands : public ns::Object {
 public:
  explicit BookmarkCommands(ns::Weak<IMainWindowController> controller)
      : controller_(std::move(controller)) {}

  // A save panel as a sheet on the main window, named "pelorin_bookmarks.json"; on OK the
  // document is written there atomically (a write error is ignored).
  void onExportBookmarks();
  // An open panel for one file as a sheet on the main window; on OK the file is imported into
  // the main thread's library and the count shown in an alert on the current window.
  void onImportBookmarks();
  // The source list's outline view is the first responder of the own full-screen window (in the
  // own full screen) or of the main window: its class is exactly "MyOutlineView".
  bool treeViewHasFocus();

  // "%d bookmarks imported :)" for a count above 0, else "bookmarks not found!".
  static std::string importMessage(int count);

 private:
  ns::Weak<IMainWindowController> controller_;
};
