#pragma once
// Sends records to the system log (syslog(3), through SystemLogStore), one shared instance per
// process, on the queue "logging.hub.aslLogger". The flags map to syslog priorities: error 1 to
// 2 (critical), warning 2 to 3 (error), info 4 to 4 (warning), anything else to 5 (notice).
// Records that ASLLogCapture read back from the system log (file "ASLLogCapture") are not sent
// again.
#include <cstdint>
#include <optional>
#include <string>

#include "lib/logging/AbstractLogger.h"

class ASLLogger : public AbstractLogger {
  struct Token {};

 public:
  explicit ASLLogger(Token) {}
  static ns::Ref<ASLLogger> sharedInstance();

  // The level a record of `flag` is sent at, as the system log's decimal text.
  static std::string levelForFlag(std::uint64_t flag);

  void logMessage(const ns::Ref<LogMessage>& logMessage) override;
  std::optional<std::string> loggerName() override { return "logging.hub.aslLogger"; }
};
