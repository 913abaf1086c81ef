#pragma once
// Suppresses the records of the listed contexts and passes all others unchanged (an empty list
// passes everything).
#include "lib/logging/LogFormatter.h"
#include "lib/logging/LoggingContextSet.h"

class ContextBlacklistFilterLogFormatter : public LogFormatter {
 public:
  void addToBlacklist(std::uint64_t loggingContext) { contextSet_->addToSet(loggingContext); }
  void removeFromBlacklist(std::uint64_t loggingContext) { contextSet_->removeFromSet(loggingContext); }
  bool isOnBlacklist(std::uint64_t loggingContext) { return contextSet_->isInSet(loggingContext); }
  std::vector<std::uint64_t> blacklist() { return contextSet_->currentSet(); }

  LogText formatLogMessage(const ns::Ref<LogMessage>& logMessage) override;

 private:
  ns::Ref<LoggingContextSet> contextSet_ = ns::make<LoggingContextSet>();
};
