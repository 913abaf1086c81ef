#pragma once
// Formats a record as "<local time> [<queue or thread>] <message>", for example
// "2014-05-01 13:45:07:123 [main] Started". The label is the record's queue label, or the thread's
// name (else its number) when the queue was a global one or none; labels can be replaced by
// short names ("main" for the main queue from the start), widened and cut.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "lib/logging/LogFormatter.h"
#include "platform/core/Date.h"

class DispatchQueueLogFormatter : public LogFormatter {
 public:
  DispatchQueueLogFormatter();

  std::optional<std::string> replacementStringForQueueLabel(const std::string& label);
  // An absent replacement removes the entry (the built-in "main" one too).
  void setReplacementString_forQueueLabel(std::optional<std::string> replacement, const std::string& label);

  // 0: labels are not widened.
  std::uint64_t minQueueLength() const { return minQueueLength_.load(); }
  void setMinQueueLength(std::uint64_t length) { minQueueLength_.store(length); }
  // 0: labels are not cut.
  std::uint64_t maxQueueLength() const { return maxQueueLength_.load(); }
  void setMaxQueueLength(std::uint64_t length) { maxQueueLength_.store(length); }

  const std::string& dateFormatString() const { return dateFormatString_; }
  std::string stringFromDate(const ns::Date& date);
  std::string queueThreadLabelForLogMessage(const ns::Ref<LogMessage>& logMessage);
  LogText formatLogMessage(const ns::Ref<LogMessage>& logMessage) override;

  // Counts the loggers that use this formatter.
  void didAddToLogger(const ns::Ref<Logger>& logger) override;
  void willRemoveFromLogger(const ns::Ref<Logger>& logger) override;
  std::int32_t loggerCount() const { return atomicLoggerCount_.load(); }

 private:
  const std::string dateFormatString_ = "yyyy-MM-dd HH:mm:ss:SSS";
  std::atomic<std::int32_t> atomicLoggerCount_{0};
  std::mutex lock_;
  std::atomic<std::uint64_t> minQueueLength_{0};
  std::atomic<std::uint64_t> maxQueueLength_{0};
  std::map<std::string, std::string> replacements_;
};
