#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"

#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

namespace ns {

namespace {

struct SinkEntry {
  LogSinkToken token;
  std::shared_ptr<const LogSink> sink;
};

struct LogState {
  std::mutex mutex;  // guards sinks and serialises the writes
  std::vector<SinkEntry> sinks;
  LogSinkToken nextToken = 1;
  int silenced = 0;
  bool syslogOpen = false;
  std::optional<bool> verbose;  // read from the environment at the first line
};

LogState& state() {
  static ns::NoDestructor<LogState> s;  // never destroyed: threads may log during exit
  return *s;
}

std::string linePrefix() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d pelorin[%d:%d] ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(tv.tv_usec / 1000), static_cast<int>(getpid()), static_cast<int>(gettid()));
  return buf;
}

void writeAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

bool verboseFromEnvironment() {
  const char* value = std::getenv("PELORIN_VERBOSE");
  return value && *value && std::string_view(value) != "0";
}

// Under the state's lock.
bool verboseLocked(LogState& s) {
  if (!s.verbose) s.verbose = verboseFromEnvironment();
  return *s.verbose;
}

}  // namespace

int syslogPriority(LogLevel level) {
  return level == LogLevel::Error ? LOG_ERR : level == LogLevel::Warning ? LOG_WARNING : LOG_NOTICE;
}

bool logIsVerbose() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return verboseLocked(s);
}

void setLogVerbose(bool verbose) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.verbose = verbose;
}

void LogMessage(std::string_view message, LogLevel level) {
  LogLine line;
  line.message = std::string(message);
  line.text = linePrefix() + line.message;
  line.level = level;
  std::vector<std::shared_ptr<const LogSink>> sinks;
  {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.silenced == 0) {
      if (level != LogLevel::Info || verboseLocked(s)) {
        std::string out = line.text;
        if (out.empty() || out.back() != '\n') out += '\n';
        writeAll(STDERR_FILENO, out.data(), out.size());
      }
      if (!s.syslogOpen) {
        openlog("pelorin", LOG_PID, LOG_USER);
        s.syslogOpen = true;
      }
      syslog(syslogPriority(level), "%s", line.message.c_str());
    }
    sinks.reserve(s.sinks.size());
    for (const auto& e : s.sinks) sinks.push_back(e.sink);
  }
  for (const auto& sink : sinks) (*sink)(line);
}

LogSinkToken addLogSink(LogSink sink) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  LogSinkToken token = s.nextToken++;
  s.sinks.push_back({token, std::make_shared<const LogSink>(std::move(sink))});
  return token;
}

void removeLogSink(LogSinkToken token) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sinks.erase(
      std::remove_if(s.sinks.begin(), s.sinks.end(), [&](const SinkEntry& e) { return e.token == token; }),
      s.sinks.end());
}

struct LogCapture::Store {
  std::mutex mutex;
  std::vector<LogLine> lines;
};

LogCapture::LogCapture(bool silence) : store_(std::make_shared<Store>()), silence_(silence) {
  token_ = addLogSink([store = store_](const LogLine& line) {
    std::lock_guard<std::mutex> lock(store->mutex);
    store->lines.push_back(line);
  });
  if (silence_) {
    std::lock_guard<std::mutex> lock(state().mutex);
    ++state().silenced;
  }
}

LogCapture::~LogCapture() {
  removeLogSink(token_);
  if (silence_) {
    std::lock_guard<std::mutex> lock(state().mutex);
    --state().silenced;
  }
}

std::vector<LogLine> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(store_->mutex);
  return store_->lines;
}

std::vector<std::string> LogCapture::messages() const {
  std::lock_guard<std::mutex> lock(store_->mutex);
  std::vector<std::string> out;
  out.reserve(store_->lines.size());
  for (const auto& l : store_->lines) out.push_back(l.message);
  return out;
}

bool LogCapture::contains(std::string_view text) const {
  std::lock_guard<std::mutex> lock(store_->mutex);
  return std::any_of(store_->lines.begin(), store_->lines.end(),
                     [&](const LogLine& l) { return l.message.find(text) != std::string::npos; });
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(store_->mutex);
  store_->lines.clear();
}

}  // namespace ns
