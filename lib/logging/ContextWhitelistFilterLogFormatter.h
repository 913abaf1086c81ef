#pragma once
// Passes the records of the listed contexts, unchanged, and suppresses all others (an empty list
// suppresses everything).
#include "lib/logging/LogFormatter.h"
#include "lib/logging/LoggingContextSet.h"

class ContextWhitelistFilterLogFormatter : public LogFormatter {
 public:
  void addToWhitelist(std::uint64_t loggingContext) { contextSet_->addToSet(loggingContext); }
  void removeFromWhitelist(std::uint64_t loggingContext) { contextSet_->removeFromSet(loggingContext); }
  bool isOnWhitelist(std::uint64_t loggingContext) { return contextSet_->isInSet(loggingContext); }
  std::vector<std::uint64_t> whitelist() { return contextSet_->currentSet(); }

  LogText formatLogMessage(const ns::Ref<LogMessage>& logMessage) override;

 private:
  ns::Ref<LoggingContextSet> contextSet_ = ns::make<LoggingContextSet>();
};
