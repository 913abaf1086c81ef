#include "lib/logging/LogFileFormatterDefault.h"

#include "platform/core/Format.h"

LogFileFormatterDefault::LogFileFormatterDefault(ns::Ref<ns::DateFormatter> dateFormatter)
    : dateFormatter_(std::move(dateFormatter)) {
  if (!dateFormatter_) {
    dateFormatter_ = ns::make<ns::DateFormatter>();
    dateFormatter_->setFormatterBehavior(ns::DateFormatter::Behavior10_4);
    dateFormatter_->setLocale(ns::Locale("en_US_POSIX"));
    dateFormatter_->setDateFormat("yyyy/MM/dd HH:mm:ss:SSS");
  }
}

LogText LogFileFormatterDefault::formatLogMessage(const ns::Ref<LogMessage>& logMessage) {
  return std::make_shared<const std::string>(
      ns::format("%@  %@", dateFormatter_->stringFromDate(logMessage->timestamp()), logMessage->message()));
}
