#include "app/library/BookmarkDocument.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/library/DBAccess.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileIO.h"
#include "platform/serialization/JSONSerialization.h"

namespace {

// Far more than any library holds (a bookmark takes about a hundred bytes).
constexpr std::uintmax_t kMaxBookmarksFileBytes = 32u << 20;

// Only a regular file of sane size is read: a pipe or a device picked in the panel would block the
// main thread or never end, and a video picked by mistake would be read whole into memory.
bool isReadableBookmarksFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) || error) return false;
  auto size = std::filesystem::file_size(path, error);
  return !error && size <= kMaxBookmarksFileBytes;
}

// A position: a number, a text holding one, or missing/null for 0; nothing for anything else.
std::optional<float> positionOf(const ns::Value& value) {
  double seconds = 0;
  if (value.isNilOrNull()) {
    seconds = 0;
  } else if (value.isNumber()) {
    seconds = value.doubleValue();
  } else if (value.isString()) {
    const std::string& text = value.string();
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  float narrowed = static_cast<float>(seconds);
  if (!std::isfinite(narrowed)) return std::nullopt;
  return narrowed;
}

// A text field: the text, or nil when missing or null; `valid` false for another type.
std::optional<std::string> textOf(const ns::Value& value, bool* valid) {
  if (value.isNilOrNull()) return std::nullopt;
  if (!value.isString()) {
    *valid = false;
    return std::nullopt;
  }
  return value.string();
}

}  // namespace

int importBookmarksFromFile(const std::string& path, const ns::Ref<DBAccess>& access) {
  if (!isReadableBookmarksFile(path)) {
    ns::Log("BookmarkCommands: %@ is no bookmarks file of a readable size", path);
    return 0;
  }
  ns::Error error;
  auto data = ns::dataWithContentsOfFile(path, &error);
  if (!data) {
    ns::LogWarning("BookmarkCommands: %@ cannot be read: %@", path, error);
    return 0;
  }
  ns::Value document = ns::JSONSerialization::JSONObjectWithData_options_error(*data, 0, &error);
  const ns::Value& bookmarks = document.isDictionary() ? document["bookmarks"] : ns::Value();
  if (!bookmarks.isArray()) {
    ns::Log("BookmarkCommands: %@ holds no bookmarks", path);
    return 0;
  }
  int count = 0;
  for (const ns::Value& element : bookmarks.array()) {
    if (!element.isDictionary()) {
      ns::Log("BookmarkCommands: an element that is no object is left out");
      continue;
    }
    const ns::Value& videoId = element["videoid"];
    auto pos1 = positionOf(element["pos1"]);
    auto pos2 = positionOf(element["pos2"]);
    bool valid = true;
    auto startEnd = textOf(element["startend"], &valid);
    auto comment = textOf(element["comment"], &valid);
    if (startEnd && *startEnd != "s" && *startEnd != "e" && !startEnd->empty()) valid = false;
    if (!videoId.isString() || videoId.string().empty() || !pos1 || !pos2 || !valid) {
      ns::Log("BookmarkCommands: a bookmark with missing or mistyped fields is left out: %@", element);
      continue;
    }
    access->addBookmark_startPos_endPos_startEnd(videoId.string(), *pos1, *pos2, startEnd.value_or(""));
    // The export writes "" for no comment: it reads back as none, so that importing an export into
    // its own library changes no row.
    if (comment && comment->empty()) comment.reset();
    access->addBookmark_startPos_endPos_comment(videoId.string(), *pos1, *pos2, comment);
    ++count;
  }
  return count;
}
