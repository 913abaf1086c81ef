#pragma once
// Shared pieces of the server tests: a logger that records the server's log lines, a counter of
// connection deaths and a waiting helper. The far end is a pltest::RawClient.
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
#include "platform/testing/Files.h"
#include "platform/testing/Monitor.h"
#include "platform/testing/RawClient.h"

namespace httptest {

constexpr double kWaitSeconds = 20;

using pltest::RawClient;
using pltest::WireResponse;

// Records the log lines of context 80 given to the logging hub.
class RecordingLogger : public Logger {
 public:
  void logMessage(const ns::Ref<LogMessage>& logMessage) override;
  ns::Ref<LogFormatter> logFormatter() override { return formatter_; }
  void setLogFormatter(ns::Ref<LogFormatter> formatter) override { formatter_ = std::move(formatter); }

  bool waitForLine(const std::function<bool(const std::string&)>& pred, double seconds = kWaitSeconds);
  std::vector<std::string> lines();

 private:
  pltest::Monitor monitor_;
  std::vector<std::string> lines_;  // guarded by monitor_
  ns::Ref<LogFormatter> formatter_;
};

// Counts "HTTPConnectionDidDie" notifications while it lives.
class DeathCounter {
 public:
  DeathCounter();
  ~DeathCounter();
  bool waitForCount(std::size_t count, double seconds = kWaitSeconds);
  std::size_t count();

 private:
  struct State {
    pltest::Monitor monitor;
    std::size_t count = 0;
  };
  // Shared with the observer block, which may still run on another thread while this goes.
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::shared_ptr<void> token_;
};

// A file of `size` bytes whose byte i is (i * 7 + 3) mod 251, and that pattern as a string.
std::string patternBytes(std::size_t size);
using pltest::writeFile;

}  // namespace httptest
