#include "lib/logging/ASLLogger.h"

#include <cassert>

#include "lib/logging/SystemLogStore.h"
#include "platform/core/NoDestructor.h"

ns::Ref<ASLLogger> ASLLogger::sharedInstance() {
  static ns::NoDestructor<ns::Ref<ASLLogger>> instance(ns::make<ASLLogger>(Token{}));
  return *instance;
}

std::string ASLLogger::levelForFlag(std::uint64_t flag) {
  switch (flag) {
    case LogFlagError:
      return "2";
    case LogFlagWarning:
      return "3";
    case LogFlagInfo:
      return "4";
    default:
      return "5";
  }
}

void ASLLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  assert(isOnInternalLoggerQueue() && "the system-log logger runs on its own queue");
  // Read back from the system log by the capture: sending it would only repeat it there.
  if (logMessage->fileName() == "ASLLogCapture") return;
  LogText text = logFormatter_ ? logFormatter_->formatLogMessage(logMessage) : logMessage->messageText();
  if (!text) return;
  SystemLogStore::shared().write(std::stoi(levelForFlag(logMessage->flag())), *text);
}
