#pragma once
// Base class of the loggers. It owns the logger's serial queue (labelled with loggerName()) and
// its formatter, and fixes how settings are read and changed while records flow:
//  - reading waits for a step on the hub's logging queue that waits for one on the logger's
//    queue, so the value is consistent with the record being delivered;
//  - changing passes the hub's logging queue and then the logger's queue without waiting, so a
//    change takes effect between two records, in call order.
// Inside logMessage() (on the logger's queue) subclasses read logFormatter_ directly: calling the
// logFormatter() reader there would wait for itself.
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "lib/logging/Logger.h"

class AbstractLogger : public Logger {
 public:
  AbstractLogger();
  ~AbstractLogger() override;

  void logMessage(const ns::Ref<LogMessage>& logMessage) override {}
  ns::Ref<LogFormatter> logFormatter() override;
  void setLogFormatter(ns::Ref<LogFormatter> formatter) override;

  // The private queue, made on first use with the label loggerName() answers then (a subclass's
  // override is not visible from a constructor, so the queue cannot be made there).
  ns::Ref<dispatch::Queue> loggerQueue() override;
  // The class name; subclasses answer their queue names.
  std::optional<std::string> loggerName() override;

  bool isOnGlobalLoggingQueue() const;
  bool isOnInternalLoggerQueue() const;
  // Replaces the queue; the old one is given up.
  void setLoggerQueue(ns::Ref<dispatch::Queue> queue);

 protected:
  // The settings discipline for subclasses' own settings.
  void readSetting(const std::function<void()>& read);
  void changeSetting(std::function<void()> change);

  // Read and written only on the logger's queue.
  ns::Ref<LogFormatter> logFormatter_;

 private:
  ns::Ref<dispatch::Queue> queueLocked();

  std::mutex queueMutex_;
  ns::Ref<dispatch::Queue> queue_;
};
