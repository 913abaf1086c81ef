#include "lib/logging/ContextBlacklistFilterLogFormatter.h"
#include "lib/logging/ContextWhitelistFilterLogFormatter.h"

// Both answer the record's own text object, so loggers treat it as not custom-formatted.

LogText ContextWhitelistFilterLogFormatter::formatLogMessage(const ns::Ref<LogMessage>& logMessage) {
  return isOnWhitelist(logMessage->context()) ? logMessage->messageText() : nullptr;
}

LogText ContextBlacklistFilterLogFormatter::formatLogMessage(const ns::Ref<LogMessage>& logMessage) {
  return isOnBlacklist(logMessage->context()) ? nullptr : logMessage->messageText();
}
