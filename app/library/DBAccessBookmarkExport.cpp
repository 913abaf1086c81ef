// The bookmarks document of the library store.
#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/library/DBAccess.h"
#include "common/AppUtilities.h"
#include "lib/database/SqlDatabase.h"
#include "platform/core/Str.h"

namespace {

// A JSON string literal: quote, backslash and control characters escaped. Bytes that are no
// UTF-8 become U+FFFD: a JSON reader refuses them, and with them every other bookmark of the file.
std::string jsonString(const std::string& stored) {
  const std::string text = ns::str::isValidUtf8(stored) ? stored : ns::str::toUtf8(ns::str::toUtf16(stored));
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// The shortest text that reads back as the same float, so that importing an export finds the
// very bookmarks it came from; 0 for a value JSON cannot hold.
std::string jsonNumber(float value) {
  if (!std::isfinite(value)) return "0";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string DBAccess::getAllBookmarksAsJson() {
  std::string text = "{ \"client\" : \"Pelorin for Mac\", \n";
  text += " \"version\" : " + jsonString(getAppShortVersion().value_or("")) + ", \n";
  text += " \"bookmarks\" : [\n";
  auto rs = _db->executeQuery(
      "SELECT trackid, pos1, pos2, startend, comment from bookmark order by trackid, pos1;");
  // Without the rows, the document would pass for an export of a library with no bookmarks.
  if (!rs) return "";
  bool first = true;
  while (rs->next()) {
    if (!first) text += ",\n";
    first = false;
    float pos1 = static_cast<float>(rs->doubleForColumnIndex(1));
    float pos2 = static_cast<float>(rs->doubleForColumnIndex(2));
    text += "  {\"videoid\":" + jsonString(rs->stringForColumnIndex(0).value_or("")) +
            ", \"pos1\":" + jsonNumber(pos1) + ", \"pos2\":" + jsonNumber(pos2) +
            ", \"startend\":" + jsonString(rs->stringForColumnIndex(3).value_or("")) +
            ", \"comment\":" + jsonString(rs->stringForColumnIndex(4).value_or("")) + "}";
  }
  if (_db->hadError()) return "";
  if (!first) text += "\n";
  text += "] }";
  return text;
}
