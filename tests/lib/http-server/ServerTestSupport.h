#pragma once
// Shared pieces of the server tests: a blocking loopback client that reads HTTP responses off
// the wire, a logger that records the server's log lines, and a waiting helper.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/logging/Logger.h"

namespace httptest {

constexpr double kWaitSeconds = 20;

// A response as read from the wire.
struct WireResponse {
  int status = 0;
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::optional<std::string> header(const std::string& name) const;
};

class RawClient {
 public:
  RawClient() = default;
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  ~RawClient();

  // Connects to 127.0.0.1; a small receive buffer makes a slow reader.
  bool connectTo(std::uint16_t port, int receiveBufferSize = 0);
  void sendAll(const std::string& bytes);
  // Reads one response: the header block, then a body of Content-Length bytes (none for a HEAD
  // request or when `withBody` is false). Nothing when the stream ends or the wait runs out.
  std::optional<WireResponse> readResponse(bool withBody = true, double seconds = kWaitSeconds);
  // Bytes up to and including `terminator`.
  std::optional<std::string> readUntil(const std::string& terminator, double seconds = kWaitSeconds);
  std::string readExactly(std::size_t n, double seconds = kWaitSeconds);
  // Everything until the peer closes; nothing when it does not close in time.
  std::optional<std::string> readToEnd(double seconds = kWaitSeconds);
  // True when the peer closed with nothing more to read.
  bool seesEndOfStream(double seconds = kWaitSeconds);

 private:
  // One read of what is there, waiting at most `seconds`; "" at the end of the stream.
  std::optional<std::string> readSome(double seconds);

  int fd_ = -1;
  std::string buffered_;
  bool eof_ = false;
};

// Records the log lines of context 80 given to the logging hub.
class RecordingLogger : public Logger {
 public:
  void logMessage(const ns::Ref<LogMessage>& logMessage) override;
  ns::Ref<LogFormatter> logFormatter() override { return formatter_; }
  void setLogFormatter(ns::Ref<LogFormatter> formatter) override { formatter_ = std::move(formatter); }

  bool waitForLine(const std::function<bool(const std::string&)>& pred, double seconds = kWaitSeconds);
  std::vector<std::string> lines();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  ns::Ref<LogFormatter> formatter_;
};

// Waits on `cv` under `lock` until `pred` holds, at most `seconds`.
template <class Pred>
bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Pred pred,
             double seconds = kWaitSeconds) {
  return cv.wait_for(lock, std::chrono::duration<double>(seconds), pred);
}

// Counts "HTTPConnectionDidDie" notifications while it lives.
class DeathCounter {
 public:
  DeathCounter();
  ~DeathCounter();
  bool waitForCount(std::size_t count, double seconds = kWaitSeconds);
  std::size_t count();

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t count = 0;
  };
  // Shared with the observer block, which may still run on another thread while this goes.
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::shared_ptr<void> token_;
};

// A file of `size` bytes whose byte i is (i * 7 + 3) mod 251, and that pattern as a string.
std::string patternBytes(std::size_t size);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace httptest
