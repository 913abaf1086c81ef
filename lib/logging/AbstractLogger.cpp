#include "lib/logging/AbstractLogger.h"

#include <cassert>

#include "lib/logging/LogHub.h"
#include "platform/dispatch/Dispatch.h"

AbstractLogger::AbstractLogger() = default;

AbstractLogger::~AbstractLogger() {
  // A queue given by the caller outlives the logger: it must not go on naming this address as
  // its logger, or a later logger made at the same address would think it runs there.
  if (queue_) dispatch::setSpecific(queue_, this, nullptr);
}

ns::Ref<dispatch::Queue> AbstractLogger::queueLocked() {
  if (!queue_) {
    std::optional<std::string> name = loggerName();
    queue_ = dispatch::queueCreate(name ? *name : std::string(), dispatch::QueueAttr::Serial);
    // The logger itself is key and value, so that it can tell whether it runs on its own queue.
    dispatch::setSpecific(queue_, this, this);
  }
  return queue_;
}

ns::Ref<dispatch::Queue> AbstractLogger::loggerQueue() {
  std::lock_guard lock(queueMutex_);
  return queueLocked();
}

void AbstractLogger::setLoggerQueue(ns::Ref<dispatch::Queue> queue) {
  std::lock_guard lock(queueMutex_);
  if (queue_ == queue) return;
  if (queue_) dispatch::setSpecific(queue_, this, nullptr);
  queue_ = std::move(queue);
  if (queue_) dispatch::setSpecific(queue_, this, this);
}

std::optional<std::string> AbstractLogger::loggerName() {
  return className();
}

bool AbstractLogger::isOnGlobalLoggingQueue() const {
  return LogHub::isOnLoggingQueue();
}

bool AbstractLogger::isOnInternalLoggerQueue() const {
  return dispatch::getSpecific(this) == static_cast<const void*>(this);
}

void AbstractLogger::readSetting(const std::function<void()>& read) {
  assert(!isOnGlobalLoggingQueue() && !isOnInternalLoggerQueue() &&
         "a logger setting read from the logging queue or the logger's queue would wait for itself");
  ns::Ref<dispatch::Queue> queue = loggerQueue();
  LogHub::runBetweenRecords([&] { dispatch::sync(queue, read); }, true);
}

void AbstractLogger::changeSetting(std::function<void()> change) {
  ns::Ref<dispatch::Queue> queue = loggerQueue();
  // The logger stays alive until its change has run.
  ns::Ref<AbstractLogger> self = ns::Object::self<AbstractLogger>();
  LogHub::runBetweenRecords(
      [queue, self, change = std::move(change)]() mutable {
        dispatch::async(queue, [self, change = std::move(change)] { change(); });
      },
      false);
}

ns::Ref<LogFormatter> AbstractLogger::logFormatter() {
  ns::Ref<LogFormatter> result;
  readSetting([&] { result = logFormatter_; });
  return result;
}

void AbstractLogger::setLogFormatter(ns::Ref<LogFormatter> formatter) {
  changeSetting([this, formatter = std::move(formatter)] {
    // Hand-over: the old formatter hears of its removal before the new one of its addition.
    if (formatter == logFormatter_) return;
    ns::Ref<Logger> self = ns::Object::self<Logger>();
    if (logFormatter_) logFormatter_->willRemoveFromLogger(self);
    logFormatter_ = formatter;
    if (logFormatter_) logFormatter_->didAddToLogger(self);
  });
}
