#pragma once
// The main window controller's bookmark commands: export of every bookmark of the library to one
// JSON file and import of such a file, and the source list's focus test. The controller owns one
// and forwards to it.
//
// The bookmarks document, UTF-8 JSON:
//   { "client" : "Pelorin for Mac",
//     "version" : <short version>,
//     "bookmarks" : [ {"videoid": text, "pos1": seconds, "pos2": seconds (0 for a point),
//                      "startend": "s", "e" or "", "comment": text}, ... ] }
// Bookmarks are ordered by video id and then by pos1. Positions are written with the digits
// that read back as the same value, so that importing an export into its own library finds the
// very bookmarks it came from.
#include <optional>
#include <string>

#include "platform/core/Object.h"

class IMainWindowController;
class DBAccess;

inline constexpr char kBookmarksFileName[] = "pelorin_bookmarks.json";

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

  // Imports the file's bookmarks into the library and answers how many were taken. A file that
  // cannot be read or parsed, or has no "bookmarks" array, takes none. Elements that are not
  // objects, lack a video id, or hold fields of other types than the document's (a position may
  // also be a text holding a number, or missing or null for 0) are left out and logged. A missing,
  // null or empty comment stores none.
  static int importBookmarksFromFile(const std::string& path, const ns::Ref<DBAccess>& access);
  // "%d bookmarks imported :)" for a count above 0, else "bookmarks not found!".
  static std::string importMessage(int count);

 private:
  ns::Weak<IMainWindowController> controller_;
};
