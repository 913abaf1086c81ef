#pragma once
// The file logger's line: the record's time, two spaces, the message ("%@  %@"), the time as
// "yyyy/MM/dd HH:mm:ss:SSS" in the local time zone unless another date formatter is given.
#include "lib/logging/LogFormatter.h"
#include "platform/text/DateFormatter.h"

class LogFileFormatterDefault : public LogFormatter {
 public:
  explicit LogFileFormatterDefault(ns::Ref<ns::DateFormatter> dateFormatter = nullptr);

  LogText formatLogMessage(const ns::Ref<LogMessage>& logMessage) override;

 private:
  ns::Ref<ns::DateFormatter> dateFormatter_;
};
