#pragma once
// The contract of a formatter: a record in, the text to write out, or no text to skip the record.
// A formatter may be shared by several loggers and is then called from several queues at once.
#include "lib/logging/LogMessage.h"
#include "platform/core/Object.h"

class Logger;

class LogFormatter : public ns::Object {
 public:
  // Null means "do not log this record". Answering message->messageText() itself tells the
  // logger that the text is the record's own, not custom-formatted.
  virtual LogText formatLogMessage(const ns::Ref<LogMessage>& logMessage) = 0;

  // Told when a logger starts or stops using this formatter (on that logger's queue).
  virtual void didAddToLogger(const ns::Ref<Logger>& logger) {}
  virtual void willRemoveFromLogger(const ns::Ref<Logger>& logger) {}
};
