#pragma once
// What the tests of the local media server share: an HTTP client on libcurl that reports when
// its first body bytes arrived, loopback ports held by the test, a real MP4 made by ffmpeg,
// ffprobe run on a URL, and a run of some work on a joined thread while the main run loop is
// pumped (the downloaders report their progress on the main queue).
#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/Pump.h"

namespace mediatest {

struct HttpResult {
  bool ok = false;  // the transfer ended cleanly
  std::string error;
  long status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::optional<std::string> header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    if (it == headers.end()) return std::nullopt;
    return it->second;
  }
};

// A GET (or HEAD) of the URL through libcurl, with an optional "Range" value ("bytes=5000-");
// `onFirstBytes` runs on the calling thread when the first body bytes arrive.
HttpResult curlGet(const std::string& url, const std::optional<std::string>& range = std::nullopt,
                   const std::function<void()>& onFirstBytes = {}, double timeoutSeconds = 60,
                   bool head = false);

// A port on 127.0.0.1 held by a listening socket of the test until it goes.
class HeldPort {
 public:
  explicit HeldPort(int port);
  ~HeldPort();
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Whether a listening socket could be opened on 127.0.0.1:port now.
bool portIsFree(int port);

// A first port P with P and P+1 held by the test and P+2 free, away from the system's range of
// ephemeral ports.
struct PortRange {
  int first = 0;
  std::unique_ptr<HeldPort> p0, p1;
};
PortRange holdTwoPorts();

// A short real MP4 (video only) with its index at the front, so a reader can start at byte 0.
std::string makeSmallMp4(const std::string& folder);
// ffprobe's "-show_streams" output for the URL (empty when it failed).
std::string ffprobeStreams(const std::string& url);
// ffmpeg's report of decoding the first `count` video frames of the URL (empty when it failed).
std::string decodeFrames(const std::string& url, int count);
// The program's standard output, empty when it did not exit with 0.
std::string run(const std::string& program, const std::vector<std::string>& arguments);

// Runs `work` on a thread of its own while the main run loop is pumped; answers its result.
template <class F>
auto whilePumping(F work, double timeoutSeconds = 120) {
  auto future = std::async(std::launch::async, std::move(work));
  pltest::pumpUntil([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                    timeoutSeconds);
  return future.get();
}

}  // namespace mediatest
