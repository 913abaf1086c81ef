#include "tests/support/FakeVideoService.h"

#include "platform/net/PercentEncoding.h"
#include "platform/serialization/JSONSerialization.h"

namespace testsupport {

FakeVideoService::FakeVideoService() {
  server_.route("GET", "/get_video_info", [this](const pltest::FakeRequest& request) {
    auto it = request.params.find("video_id");
    std::lock_guard<std::mutex> lock(mutex_);
    ++videoInfoRequests_;
    return answer(videoInfo_, it == request.params.end() ? std::string() : it->second);
  });
  server_.route("GET", "/watch", [this](const pltest::FakeRequest& request) {
    auto it = request.params.find("v");
    std::lock_guard<std::mutex> lock(mutex_);
    ++watchPageRequests_;
    return answer(watchPages_, it == request.params.end() ? std::string() : it->second);
  });
}

pltest::FakeReply FakeVideoService::answer(const std::map<std::string, pltest::FakeReply>& table,
                                           const std::string& videoId) {
  auto it = table.find(videoId);
  if (it == table.end()) return pltest::FakeReply::text(404, "no such video");
  return it->second;
}

void FakeVideoService::setVideoInfo(const std::string& videoId, pltest::FakeReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  videoInfo_[videoId] = std::move(reply);
}

void FakeVideoService::setWatchPage(const std::string& videoId, pltest::FakeReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  watchPages_[videoId] = std::move(reply);
}

std::size_t FakeVideoService::videoInfoRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return videoInfoRequests_;
}

std::size_t FakeVideoService::watchPageRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return watchPageRequests_;
}

std::string FakeVideoService::formEncode(const Fields& fields) {
  auto allowed = ns::URLCharacterSet::unreservedCharacterSet();
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += "&";
    out += ns::stringByAddingPercentEncodingWithAllowedCharacters(name, allowed) + "=" +
           ns::stringByAddingPercentEncodingWithAllowedCharacters(value, allowed);
  }
  return out;
}

std::string FakeVideoService::streamMap(const std::vector<Stream>& streams) {
  std::string out;
  for (const auto& stream : streams) {
    Fields entry{{"itag", stream.itag}};
    if (stream.url) entry.emplace_back("url", *stream.url);
    if (stream.sig) entry.emplace_back("sig", *stream.sig);
    if (stream.s) entry.emplace_back("s", *stream.s);
    if (stream.sp) entry.emplace_back("sp", *stream.sp);
    if (!out.empty()) out += ",";
    out += formEncode(entry);
  }
  return out;
}

pltest::FakeReply FakeVideoService::videoInfoReply(const Fields& fields) {
  return pltest::FakeReply::text(200, formEncode(fields), "application/x-www-form-urlencoded");
}

pltest::FakeReply FakeVideoService::watchPage(const Fields& fields) {
  ns::Dictionary args;
  for (const auto& [name, value] : fields) args.set(ns::Value(name), ns::Value(value));
  ns::Dictionary config{{ns::Value("args"), ns::Value(args)}};
  std::string json = ns::JSONSerialization::stringWithJSONObject(ns::Value(config)).value_or("{}");
  std::string html =
      "<!DOCTYPE html><html><head><title>video</title></head><body><div id=\"player\"></div>"
      "<script>var ytplayer = ytplayer || {}; var playerConfig = " +
      json + ";\nytplayer.load();</script></body></html>";
  return pltest::FakeReply::text(200, html, "text/html; charset=utf-8");
}

}  // namespace testsupport
