#pragma once
// The system log: ns::Log formats like ns::format and writes one line
//   "YYYY-MM-DD HH:MM:SS.mmm pelorin[pid:tid] message"
// to standard error and to syslog. Tests observe the lines through sinks (LogCapture).
// Thread-safe: lines from different threads never interleave.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Format.h"

namespace ns {

struct LogLine {
  std::string text;     // the full line, without the trailing newline
  std::string message;  // the formatted message alone
};

// Writes an already formatted message.
void LogMessage(std::string_view message);

template <class... Args>
void Log(std::string_view fmt, const Args&... args) {
  LogMessage(format(fmt, args...));
}

// Sinks receive every line, on the logging thread, outside the log's lock (a sink may log).
using LogSink = std::function<void(const LogLine&)>;
using LogSinkToken = std::uint64_t;
LogSinkToken addLogSink(LogSink sink);
void removeLogSink(LogSinkToken token);

// Collects every line logged while it exists. With `silence`, stderr and syslog output is
// suppressed meanwhile, for tests that log on purpose.
class LogCapture {
 public:
  explicit LogCapture(bool silence = false);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> lines() const;
  std::vector<std::string> messages() const;
  // Whether any message contains `text`.
  bool contains(std::string_view text) const;
  void clear();

 private:
  // Shared with the sink, which may still be running on another thread when this is destroyed.
  struct Store;
  std::shared_ptr<Store> store_;
  LogSinkToken token_;
  bool silence_;
};

}  // namespace ns
