#pragma once
// The system log: ns::Log formats like ns::format and writes one line
//   "YYYY-MM-DD HH:MM:SS.mmm pelorin[pid:tid] message"
// to syslog, and to standard error when it is a warning or an error (ns::LogWarning,
// ns::LogError: a failure the user should hear of) or when PELORIN_VERBOSE=1 asks for every
// line. Tests observe every line through sinks (LogCapture), whatever reaches standard error.
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

// Info: a diagnostic line for the system log. Warning: something failed and the user should
// hear of it, but the run goes on as well as it can. Error: what the user asked for, or the
// run itself, cannot go on.
enum class LogLevel { Info, Warning, Error };

struct LogLine {
  std::string text;     // the full line, without the trailing newline
  std::string message;  // the formatted message alone
  LogLevel level = LogLevel::Info;
};

// The syslog priority a line of this level is written at (LOG_NOTICE, LOG_WARNING, LOG_ERR).
int syslogPriority(LogLevel level);

// Writes an already formatted message.
void LogMessage(std::string_view message, LogLevel level = LogLevel::Info);

template <class... Args>
void Log(std::string_view fmt, const Args&... args) {
  LogMessage(format(fmt, args...));
}

template <class... Args>
void LogWarning(std::string_view fmt, const Args&... args) {
  LogMessage(format(fmt, args...), LogLevel::Warning);
}

template <class... Args>
void LogError(std::string_view fmt, const Args&... args) {
  LogMessage(format(fmt, args...), LogLevel::Error);
}

// Whether info lines reach standard error too: PELORIN_VERBOSE set to anything but "" or "0"
// when the first line is logged, until setLogVerbose changes it.
bool logIsVerbose();
void setLogVerbose(bool verbose);

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
