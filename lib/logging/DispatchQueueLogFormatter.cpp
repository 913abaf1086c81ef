#include "lib/logging/DispatchQueueLogFormatter.h"

#include "platform/core/Str.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/text/DateFormatter.h"

namespace {

// A pattern formatter in the default time zone as it is when the formatter is made. Digits and
// separators must not follow the user's locale in a log line.
ns::Ref<ns::DateFormatter> makeDateFormatter(const std::string& format) {
  auto formatter = ns::make<ns::DateFormatter>();
  formatter->setFormatterBehavior(ns::DateFormatter::Behavior10_4);
  formatter->setLocale(ns::Locale("en_US_POSIX"));
  formatter->setDateFormat(format);
  return formatter;
}

}  // namespace

DispatchQueueLogFormatter::DispatchQueueLogFormatter() {
  replacements_[dispatch::kMainQueueLabel] = "main";
}

DispatchQueueLogFormatter::~DispatchQueueLogFormatter() = default;

std::optional<std::string> DispatchQueueLogFormatter::replacementStringForQueueLabel(
    const std::string& label) {
  std::lock_guard lock(lock_);
  auto it = replacements_.find(label);
  if (it == replacements_.end()) return std::nullopt;
  return it->second;
}

void DispatchQueueLogFormatter::setReplacementString_forQueueLabel(std::optional<std::string> replacement,
                                                                   const std::string& label) {
  std::lock_guard lock(lock_);
  if (replacement) {
    replacements_[label] = std::move(*replacement);
  } else {
    replacements_.erase(label);
  }
}

std::string DispatchQueueLogFormatter::stringFromDate(const ns::Date& date) {
  if (atomicLoggerCount_.load() > 1) {
    // Several loggers call from their own queues at once: one formatter per thread, so that they
    // do not queue up behind one formatter's lock.
    thread_local ns::Ref<ns::DateFormatter> perThread;
    if (!perThread) perThread = makeDateFormatter(dateFormatString_);
    return perThread->stringFromDate(date);
  }
  std::call_once(threadUnsafeDateFormatterOnce_,
                 [this] { threadUnsafeDateFormatter_ = makeDateFormatter(dateFormatString_); });
  return threadUnsafeDateFormatter_->stringFromDate(date);
}

std::string DispatchQueueLogFormatter::queueThreadLabelForLogMessage(const ns::Ref<LogMessage>& logMessage) {
  const std::string& queueLabel = logMessage->queueLabel();
  const std::optional<std::string>& threadName = logMessage->threadName();
  std::string label;
  bool replaceable = true;
  // A global queue's label says nothing about the caller: the thread does.
  if (queueLabel.empty() || dispatch::isGlobalQueueLabel(queueLabel)) {
    if (threadName && !threadName->empty()) {
      label = *threadName;
    } else {
      label = logMessage->threadID();
      replaceable = false;  // a thread number is shown as it is
    }
  } else {
    label = queueLabel;
  }
  if (replaceable) {
    if (std::optional<std::string> replacement = replacementStringForQueueLabel(label)) label = *replacement;
  }

  std::uint64_t maxLength = maxQueueLength();
  std::uint64_t minLength = minQueueLength();
  std::uint64_t length = ns::str::utf16Length(label);
  if (maxLength > 0 && length > maxLength) {
    // Cut by UTF-16 units, never inside a character.
    label = ns::str::substringToIndex(label, static_cast<std::size_t>(maxLength));
  } else if (length < minLength) {
    label.append(static_cast<std::size_t>(minLength - length), ' ');
  }
  return label;
}

LogText DispatchQueueLogFormatter::formatLogMessage(const ns::Ref<LogMessage>& logMessage) {
  std::string line = stringFromDate(logMessage->timestamp());
  line += " [";
  line += queueThreadLabelForLogMessage(logMessage);
  line += "] ";
  line += logMessage->message();
  return std::make_shared<const std::string>(std::move(line));
}

void DispatchQueueLogFormatter::didAddToLogger(const ns::Ref<Logger>& logger) {
  atomicLoggerCount_.fetch_add(1);
}

void DispatchQueueLogFormatter::willRemoveFromLogger(const ns::Ref<Logger>& logger) {
  atomicLoggerCount_.fetch_sub(1);
}
