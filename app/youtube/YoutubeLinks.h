#pragma once
// Finding the video id in a link to the video service. The hosts are listed here and in
// PROTOCOLS.md ("Links").
#include <optional>
#include <string>
#include <vector>

// Hosts of watch links ("https://www.youtube.com/watch?v=<id>"), lower case.
const std::vector<std::string>& youtubeWatchHosts();
// Hosts of short links ("https://youtu.be/<id>"), lower case.
const std::vector<std::string>& youtubeShortLinkHosts();

// Longest text looked at; a link is far shorter.
inline constexpr std::size_t kMaxYoutubeLinkLength = 8192;

// The id of the video the text links to: the "v" parameter of a watch link (its query split at
// "?", "&" and "#"), or the path after a short-link host; a "redirect?url=" link is
// percent-decoded and unwrapped first. Nil for anything else: text without a link of these
// hosts, a missing or empty value, a value that is no safe id (letters, digits, "-", "_"), bad
// escapes, text longer than kMaxYoutubeLinkLength. Never throws.
std::optional<std::string> videoIdFromYoutubeLink(const std::string& text);
