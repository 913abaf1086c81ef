#include "app/youtube/VideoInfoParser.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "platform/net/PercentEncoding.h"
#include "platform/serialization/JSONSerialization.h"

namespace {

// The descriptive fields copied into a record's info, in this order.
const char* const kInfoFieldNames[] = {"title", "author", "length_seconds", "view_count", "thumbnail_url"};

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::optional<std::string> formDecode(std::string_view text) {
  std::string spaced(text);
  std::replace(spaced.begin(), spaced.end(), '+', ' ');
  return ns::stringByRemovingPercentEncoding(spaced);
}

std::optional<std::int32_t> parseItag(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return static_cast<std::int32_t>(std::stol(text));
}

bool isHTTPURL(const std::string& url) {
  std::string head = url.substr(0, 8);
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  std::size_t hostStart = head.rfind("https://", 0) == 0 ? 8 : head.rfind("http://", 0) == 0 ? 7 : 0;
  if (hostStart == 0 || url.size() <= hostStart) return false;
  // No blanks or control characters anywhere, and a host before the path.
  for (unsigned char c : url) {
    if (c <= ' ' || c == 0x7f) return false;
  }
  return url[hostStart] != '/' && url[hostStart] != '?' && url[hostStart] != '#';
}

bool isParameterName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  return std::all_of(name.begin(), name.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '-' || c == '.'; });
}

// The stream URL of one entry, nil when the entry is skipped.
std::optional<std::pair<std::int32_t, std::string>> readEntry(std::string_view entryText) {
  int dropped = 0;
  VideoInfoFields entry = parseFormEncoded(entryText, &dropped);
  if (entry.count("s")) return std::nullopt;  // enciphered signature: not played
  auto itagField = entry.find("itag");
  auto urlField = entry.find("url");
  if (itagField == entry.end() || urlField == entry.end()) return std::nullopt;
  auto itag = parseItag(itagField->second);
  if (!itag || !isHTTPURL(urlField->second)) return std::nullopt;
  std::string url = urlField->second;
  if (auto sig = entry.find("sig"); sig != entry.end()) {
    std::string parameter = "signature";
    if (auto sp = entry.find("sp"); sp != entry.end() && !sp->second.empty()) parameter = sp->second;
    if (!isParameterName(parameter) || sig->second.empty()) return std::nullopt;
    auto allowed = ns::URLCharacterSet::unreservedCharacterSet();
    std::string fragment;
    if (auto hash = url.find('#'); hash != std::string::npos) {
      fragment = url.substr(hash);
      url.erase(hash);
    }
    url += (url.find('?') == std::string::npos ? "?" : "&") + parameter + "=" +
           ns::stringByAddingPercentEncodingWithAllowedCharacters(sig->second, allowed) + fragment;
  }
  return std::make_pair(*itag, url);
}

// The end (one past the closing brace) of the JSON object that starts at `start`; npos when
// the text ends first.
std::size_t endOfJSONObject(std::string_view text, std::size_t start) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return i + 1;
    }
  }
  return std::string_view::npos;
}

std::size_t skipBlanks(std::string_view text, std::size_t at) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return at;
}

}  // namespace

VideoInfoFields parseFormEncoded(std::string_view text, int* dropped) {
  VideoInfoFields fields;
  int bad = 0;
  for (auto pair : split(text, '&')) {
    if (pair.empty()) continue;
    auto equals = pair.find('=');
    auto name = formDecode(pair.substr(0, equals));
    auto value = equals == std::string_view::npos ? std::optional<std::string>("")
                                                  : formDecode(pair.substr(equals + 1));
    if (!name || !value) {
      ++bad;
      continue;
    }
    fields.emplace(std::move(*name), std::move(*value));
  }
  if (dropped) *dropped = bad;
  return fields;
}

int addStreamMapEntries(std::string_view streamMap, std::map<std::int32_t, std::string>& urlMap) {
  int skipped = 0;
  for (auto entryText : split(streamMap, ',')) {
    if (entryText.empty()) continue;
    auto entry = readEntry(entryText);
    if (!entry) {
      ++skipped;
      continue;
    }
    // The first entry of an itag wins: a later one cannot replace a good URL.
    if (!urlMap.emplace(entry->first, std::move(entry->second)).second) ++skipped;
  }
  return skipped;
}

VideoInfoReply readVideoInfoFields(const VideoInfoFields& fields) {
  VideoInfoReply reply;
  if (auto status = fields.find("status"); status != fields.end() && status->second == "fail") {
    reply.failed = true;
    if (auto reason = fields.find("reason"); reason != fields.end() && !reason->second.empty()) {
      reply.reason = reason->second;
    }
  }
  for (const char* name : kInfoFieldNames) {
    if (auto field = fields.find(name); field != fields.end())
      reply.videoInfo.set(ns::Value(name), ns::Value(field->second));
  }
  if (reply.failed) return reply;
  for (const char* mapName : {"url_encoded_fmt_stream_map", "adaptive_fmts"}) {
    if (auto map = fields.find(mapName); map != fields.end()) {
      reply.skippedEntries += addStreamMapEntries(map->second, reply.urlMap);
    }
  }
  return reply;
}

std::optional<VideoInfoFields> playerArgsFromWatchPage(std::string_view html, std::string* error) {
  auto fail = [error](const char* text) -> std::optional<VideoInfoFields> {
    if (error) *error = text;
    return std::nullopt;
  };
  constexpr std::string_view kAssignment = "var playerConfig";
  std::size_t objectStart = std::string_view::npos;
  for (std::size_t at = html.find(kAssignment); at != std::string_view::npos;
       at = html.find(kAssignment, at + kAssignment.size())) {
    std::size_t i = skipBlanks(html, at + kAssignment.size());
    if (i >= html.size() || html[i] != '=') continue;
    i = skipBlanks(html, i + 1);
    if (i < html.size() && html[i] == '{') {
      objectStart = i;
      break;
    }
  }
  if (objectStart == std::string_view::npos) return fail("The watch page holds no player configuration");
  std::size_t objectEnd = endOfJSONObject(html, objectStart);
  if (objectEnd == std::string_view::npos) return fail("The watch page's player configuration is broken");
  ns::Value config = ns::JSONSerialization::JSONObjectWithString(
      std::string(html.substr(objectStart, objectEnd - objectStart)));
  if (!config.isDictionary()) return fail("The watch page's player configuration is broken");
  const ns::Value& args = config["args"];
  if (!args.isDictionary()) return fail("The watch page's player configuration has no arguments");
  VideoInfoFields fields;
  for (const auto& [key, value] : args.dictionary()) {
    if (!key.isString()) continue;
    if (value.isString() || value.isNumber()) fields.emplace(key.string(), value.stringValue());
  }
  return fields;
}
