#pragma once
// Loggers and helpers shared by the logging tests.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lib/logging/AbstractLogger.h"
#include "lib/logging/LogHub.h"
#include "platform/testing/Monitor.h"

namespace logtest {

// Generous: a condition that holds at all holds long before this.
inline constexpr auto kTimeout = pltest::kMonitorWait;
using Monitor = pltest::Monitor;

inline std::string currentThreadIDHex() {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(::syscall(SYS_gettid)));
  return buf;
}

// Records what it receives; its flush can be counted. An optional gate holds logMessage() until
// opened.
class RecordingLogger : public AbstractLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>& message) override {
    bool onOwnQueue = isOnInternalLoggerQueue();
    monitor.change([&] { entered_ += 1; });
    monitor.waitFor([&] { return !gated_; }, std::chrono::hours(1));
    monitor.change([&] {
      records_.push_back(message);
      onOwnQueue_.push_back(onOwnQueue);
    });
  }
  bool canFlush() const override { return true; }
  void flush() override {
    monitor.change([&] { flushes_ += 1; });
  }
  void didAddLogger() override {
    monitor.change([&] { events_.push_back("didAdd"); });
  }
  void willRemoveLogger() override {
    monitor.change([&] { events_.push_back("willRemove"); });
  }

  std::vector<ns::Ref<LogMessage>> records() {
    return monitor.with([&] { return records_; });
  }
  // For predicates that already hold the monitor's lock.
  const std::vector<ns::Ref<LogMessage>>& recordsUnlocked() const { return records_; }
  std::vector<std::uint64_t> flags() {
    return monitor.with([&] {
      std::vector<std::uint64_t> f;
      for (auto& r : records_) f.push_back(r->flag());
      return f;
    });
  }
  std::vector<std::string> messages() {
    return monitor.with([&] {
      std::vector<std::string> m;
      for (auto& r : records_) m.push_back(r->message());
      return m;
    });
  }
  std::vector<bool> onOwnQueue() {
    return monitor.with([&] { return onOwnQueue_; });
  }
  int flushes() {
    return monitor.with([&] { return flushes_; });
  }
  int entered() {
    return monitor.with([&] { return entered_; });
  }
  std::vector<std::string> events() {
    return monitor.with([&] { return events_; });
  }
  void setGated(bool gated) {
    monitor.change([&] { gated_ = gated; });
  }
  bool waitForRecords(std::size_t count) {
    return monitor.waitFor([&] { return records_.size() >= count; });
  }
  bool waitForEntered(int count) {
    return monitor.waitFor([&] { return entered_ >= count; });
  }
  bool waitForEvents(std::size_t count) {
    return monitor.waitFor([&] { return events_.size() >= count; });
  }

  Monitor monitor;

 private:
  std::vector<ns::Ref<LogMessage>> records_;
  std::vector<bool> onOwnQueue_;
  std::vector<std::string> events_;
  int flushes_ = 0;
  int entered_ = 0;
  bool gated_ = false;
};

// Logs `text` synchronously: every logger has it when this returns.
inline void logNow(const std::string& text, std::uint64_t flag = LogFlagError, std::uint64_t level = 1) {
  LogHub::log_message_level_flag_context_file_function_line_tag(false, text, level, flag, 0, __FILE__,
                                                                __func__, __LINE__, {});
}

// Registration is asynchronous; allLoggers() passes the logging queue, so once it answers every
// registration queued before it has happened.
inline void settleRegistrations() {
  (void)LogHub::allLoggers();
}

// Removes every logger when a test ends, so no logger outlives its test.
struct HubCleanup {
  ~HubCleanup() {
    LogHub::removeAllLoggers();
    LogHub::flushLog();
  }
};

// Sets TZ for the life of the guard.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

}  // namespace logtest
