#pragma once
// Reading the video service's replies (see PROTOCOLS.md): form-encoded video-info replies, the
// stream maps inside them, and the player configuration of a watch page. Pure functions: they
// never throw and never trust a length or a value they were given.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Value.h"

// Name -> value of a reply's fields; the first of a repeated name wins.
using VideoInfoFields = std::map<std::string, std::string>;

// The fields of "a=1&b=x+y%21": "+" is a blank, "%XX" a byte. A pair with a bad escape or
// with bytes that are not UTF-8 is dropped (and counted in *dropped); a pair without "=" has an
// empty value.
VideoInfoFields parseFormEncoded(std::string_view text, int* dropped = nullptr);

// Adds the usable entries of a comma-separated stream map to `urlMap`, keeping an itag already
// there. An entry is used when its `itag` is a number and its `url` an http(s) URL; a plain
// signature (`sig`) is appended as the parameter named by `sp` ("signature" when absent); an
// entry with an enciphered signature (`s`) is skipped. Answers the number of entries skipped.
int addStreamMapEntries(std::string_view streamMap, std::map<std::int32_t, std::string>& urlMap);

// What one reply says about a video.
struct VideoInfoReply {
  // The service's own refusal ("status=fail"), with its reason text.
  bool failed = false;
  std::optional<std::string> reason;
  std::map<std::int32_t, std::string> urlMap;
  // title, author, length_seconds, view_count, thumbnail_url: those present, as strings.
  ns::Dictionary videoInfo;
  int skippedEntries = 0;
};

// Reads a reply's fields: its status and reason, its descriptive fields and both stream maps
// (url_encoded_fmt_stream_map first, then adaptive_fmts).
VideoInfoReply readVideoInfoFields(const VideoInfoFields& fields);

// The fields of the `args` object of the page's "var playerConfig = {...};" script assignment:
// strings as they are, numbers and booleans as their text, anything else left out. Nil with
// *error set when the page has no such assignment, the JSON is broken or has no `args` object.
std::optional<VideoInfoFields> playerArgsFromWatchPage(std::string_view html, std::string* error);
