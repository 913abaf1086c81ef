#pragma once
// The contract of a logger registered with the LogHub. The hub calls every method of a logger on
// that logger's own serial queue, one call at a time.
#include <optional>
#include <string>

#include "lib/logging/LogFormatter.h"
#include "lib/logging/LogMessage.h"
#include "platform/core/Object.h"

namespace dispatch {
class Queue;
}

class Logger : public ns::Object {
 public:
  virtual void logMessage(const ns::Ref<LogMessage>& logMessage) = 0;
  virtual ns::Ref<LogFormatter> logFormatter() = 0;
  virtual void setLogFormatter(ns::Ref<LogFormatter> formatter) = 0;

  // Optional: called on the logger's queue after registration and before removal.
  virtual void didAddLogger() {}
  virtual void willRemoveLogger() {}

  // Optional: loggers that buffer answer canFlush() true; LogHub::flushLog() waits for their
  // flush() and for no one else.
  virtual bool canFlush() const { return false; }
  virtual void flush() {}

  // Optional: the queue this logger wants to be called on; null lets the hub make one.
  virtual ns::Ref<dispatch::Queue> loggerQueue() { return nullptr; }
  // Optional: the label of a queue the hub makes for this logger; absent means unlabelled.
  virtual std::optional<std::string> loggerName() { return std::nullopt; }
};
