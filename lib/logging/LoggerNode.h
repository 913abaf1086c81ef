#pragma once
// One registered logger of the LogHub: the logger, the serial queue it is called on and the level
// mask it was registered with.
#include <cstdint>

#include "lib/logging/Logger.h"
#include "platform/core/Object.h"

class LoggerNode : public ns::Object {
 public:
  LoggerNode(ns::Ref<Logger> logger, ns::Ref<dispatch::Queue> loggerQueue, std::uint64_t level);
  ~LoggerNode() override;

  static ns::Ref<LoggerNode> nodeWithLogger_loggerQueue_level(ns::Ref<Logger> logger,
                                                              ns::Ref<dispatch::Queue> loggerQueue,
                                                              std::uint64_t level);

  const ns::Ref<Logger>& logger() const { return logger_; }
  const ns::Ref<dispatch::Queue>& loggerQueue() const { return loggerQueue_; }
  std::uint64_t level() const { return level_; }

 private:
  ns::Ref<Logger> logger_;
  ns::Ref<dispatch::Queue> loggerQueue_;
  std::uint64_t level_;
};
