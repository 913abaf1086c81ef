// Video-info replies and watch pages: the form fields, both stream maps inside them and the
// player configuration of a page. Every URL taken into a stream map is an http(s) URL, and a
// page either gives its arguments or says why not.
#include <cstdint>
#include <string>

#include <cctype>
#include <map>
#include "app/youtube/VideoInfoParser.h"
#include "fuzz/FuzzSupport.h"

namespace {

void checkURLs(const std::map<std::int32_t, std::string>& urlMap) {
  for (const auto& [itag, url] : urlMap) {
    std::string scheme = url.substr(0, url.find(':'));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https") fuzz::fail("a stream URL that is not http(s): " + url);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::text(data, size);
  int dropped = 0;
  VideoInfoFields fields = parseFormEncoded(text, &dropped);
  if (dropped < 0) fuzz::fail("a negative count of dropped pairs");
  VideoInfoReply reply = readVideoInfoFields(fields);
  checkURLs(reply.urlMap);
  if (reply.skippedEntries < 0) fuzz::fail("a negative count of skipped entries");

  std::map<std::int32_t, std::string> urlMap;
  if (addStreamMapEntries(text, urlMap) < 0) fuzz::fail("a negative count of skipped entries");
  checkURLs(urlMap);

  std::string error;
  auto args = playerArgsFromWatchPage(text, &error);
  if (!args && error.empty()) fuzz::fail("a watch page refused without a reason");
  if (args) checkURLs(readVideoInfoFields(*args).urlMap);
  return 0;
}
