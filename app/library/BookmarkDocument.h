#pragma once
// The bookmarks document, UTF-8 JSON:
//   { "client" : "Pelorin for Mac",
//     "version" : <short version>,
//     "bookmarks" : [ {"videoid": text, "pos1": seconds, "pos2": seconds (0 for a point),
//                      "startend": "s", "e" or "", "comment": text}, ... ] }
// Bookmarks are ordered by video id and then by pos1. Positions are written with the digits
// that read back as the same value, so that importing an export into its own library finds the
// very bookmarks it came from. DBAccess::getAllBookmarksAsJson writes it.
#include <string>

#include "platform/core/Object.h"

class DBAccess;

inline constexpr char kBookmarksFileName[] = "pelorin_bookmarks.json";

// Imports the file's bookmarks into the library and answers how many were taken. A file that
// cannot be read or parsed, or has no "bookmarks" array, takes none. Elements that are not
// objects, lack a video id, or hold fields of other types than the document's (a position may
// also be a text holding a number, or missing or null for 0) are left out and logged. A missing,
// null or empty comment stores none.
int importBookmarksFromFile(const std::string& path, const ns::Ref<DBAccess>& access);
