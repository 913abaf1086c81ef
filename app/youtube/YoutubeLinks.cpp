#include "app/youtube/YoutubeLinks.h"

#include <algorithm>

#include "common/CacheUtilities.h"
#include "platform/core/NoDestructor.h"
#include "platform/net/PercentEncoding.h"

namespace {

// Ids are eleven characters today; anything much longer is no id.
constexpr std::size_t kMaxVideoIdLength = 64;
// Redirect wrappers around a link, unwrapped at most this deep.
constexpr int kMaxRedirectDepth = 3;

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool contains(const std::vector<std::string>& hosts, const std::string& host) {
  return std::find(hosts.begin(), hosts.end(), host) != hosts.end();
}

std::optional<std::string> acceptedId(const std::string& id) {
  if (id.size() > kMaxVideoIdLength || !isSafeVideoId(id)) return std::nullopt;
  return id;
}

// Splits at every character of `separators`.
std::vector<std::string> split(const std::string& text, const char* separators) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    auto end = text.find_first_of(separators, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// The link a "redirect?url=<escaped link>" wrapper carries; the text itself when it is no
// wrapper; nil for a wrapper without a readable link.
std::optional<std::string> unwrapRedirect(const std::string& text) {
  auto at = text.find("redirect?");
  if (at == std::string::npos) return text;
  for (const auto& part : split(text.substr(at + 9), "&#")) {
    if (part.rfind("url=", 0) == 0) {
      auto link = ns::stringByRemovingPercentEncoding(part.substr(4));
      if (!link) return std::nullopt;
      return trimmed(*link);
    }
  }
  return std::nullopt;
}

}  // namespace

const std::vector<std::string>& youtubeWatchHosts() {
  static ns::NoDestructor<std::vector<std::string>> hosts(
      std::vector<std::string>{"youtube.com", "www.youtube.com", "m.youtube.com"});
  return *hosts;
}

const std::vector<std::string>& youtubeShortLinkHosts() {
  static ns::NoDestructor<std::vector<std::string>> hosts(
      std::vector<std::string>{"youtu.be", "www.youtu.be"});
  return *hosts;
}

std::optional<std::string> videoIdFromYoutubeLink(const std::string& input) {
  if (input.size() > kMaxYoutubeLinkLength) return std::nullopt;
  std::string link = trimmed(input);
  for (int depth = 0; depth < kMaxRedirectDepth; ++depth) {
    auto unwrapped = unwrapRedirect(link);
    if (!unwrapped) return std::nullopt;
    if (*unwrapped == link) break;
    link = *unwrapped;
  }

  std::string rest = link;
  std::string lower = lowercase(rest.substr(0, 8));
  if (lower.rfind("https://", 0) == 0) {
    rest = rest.substr(8);
  } else if (lower.rfind("http://", 0) == 0) {
    rest = rest.substr(7);
  }
  auto hostEnd = rest.find_first_of("/?#");
  std::string host = lowercase(rest.substr(0, hostEnd));
  std::string tail = hostEnd == std::string::npos ? std::string() : rest.substr(hostEnd);

  if (contains(youtubeWatchHosts(), host)) {
    auto parts = split(tail, "?&#");
    // The first part is the path.
    for (std::size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].rfind("v=", 0) == 0) return acceptedId(parts[i].substr(2));
    }
    return std::nullopt;
  }
  if (contains(youtubeShortLinkHosts(), host)) {
    if (tail.empty() || tail[0] != '/') return std::nullopt;
    std::string path = tail.substr(
        1, tail.find_first_of("?#") == std::string::npos ? std::string::npos : tail.find_first_of("?#") - 1);
    return acceptedId(path);
  }
  return std::nullopt;
}
