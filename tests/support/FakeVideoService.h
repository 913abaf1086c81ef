#pragma once
// A fake of the video service on 127.0.0.1 that speaks the wire formats of
// app/youtube/PROTOCOLS.md: "/get_video_info?video_id=<id>" and "/watch?v=<id>", answered from a
// table by video id. Ids without an entry get 404 on both.
//
//   testsupport::FakeVideoService service;
//   service.setVideoInfo("abc", FakeVideoService::videoInfoReply({{"status", "ok"}, ...}));
//   YoutubeStreamResolver resolver(service.baseURL());
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/FakeServer.h"

namespace testsupport {

class FakeVideoService {
 public:
  using Fields = std::vector<std::pair<std::string, std::string>>;

  FakeVideoService();

  std::string baseURL() const { return server_.baseURL(); }
  pltest::FakeServer& server() { return server_; }

  void setVideoInfo(const std::string& videoId, pltest::FakeReply reply);
  void setWatchPage(const std::string& videoId, pltest::FakeReply reply);
  // Requests for the two paths, in order of arrival.
  std::size_t videoInfoRequests() const;
  std::size_t watchPageRequests() const;

  // ---- building replies ----
  // "a=1&b=x%20y": every byte but letters, digits and "-._~" escaped.
  static std::string formEncode(const Fields& fields);
  // One stream-map entry.
  struct Stream {
    Stream(std::string itag, std::optional<std::string> url = std::nullopt,
           std::optional<std::string> sig = std::nullopt, std::optional<std::string> s = std::nullopt,
           std::optional<std::string> sp = std::nullopt)
        : itag(std::move(itag)),
          url(std::move(url)),
          sig(std::move(sig)),
          s(std::move(s)),
          sp(std::move(sp)) {}
    std::string itag;
    std::optional<std::string> url;
    std::optional<std::string> sig;
    std::optional<std::string> s;
    std::optional<std::string> sp;
  };
  static std::string streamMap(const std::vector<Stream>& streams);
  // A 200 form-encoded video-info reply.
  static pltest::FakeReply videoInfoReply(const Fields& fields);
  // A 200 HTML page with "var playerConfig = {"args": {fields}};".
  static pltest::FakeReply watchPage(const Fields& fields);

 private:
  pltest::FakeReply answer(const std::map<std::string, pltest::FakeReply>& table, const std::string& videoId);

  pltest::FakeServer server_;
  mutable std::mutex mutex_;
  std::map<std::string, pltest::FakeReply> videoInfo_;
  std::map<std::string, pltest::FakeReply> watchPages_;
  std::size_t videoInfoRequests_ = 0;
  std::size_t watchPageRequests_ = 0;
};

}  // namespace testsupport
