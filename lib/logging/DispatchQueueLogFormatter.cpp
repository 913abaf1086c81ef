#include "lib/logging/DispatchQueueLogFormatter.h"

#include <algorithm>

#include "lib/logging/LogDate.h"
#include "platform/dispatch/Dispatch.h"

namespace {

// Byte offset of the first n UTF-16 units of s (never inside a character); s.size() if shorter.
std::size_t utf16Prefix(const std::string& s, std::uint64_t n, std::uint64_t* units) {
  std::uint64_t count = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    std::uint64_t u = len == 4 ? 2 : 1;
    if (count + u > n) break;
    count += u;
    i = std::min(s.size(), i + len);
  }
  if (units) *units = count;
  return i;
}

std::uint64_t utf16Length(const std::string& s) {
  std::uint64_t units = 0;
  utf16Prefix(s, UINT64_MAX, &units);
  return units;
}

}  // namespace

DispatchQueueLogFormatter::DispatchQueueLogFormatter() {
  replacements_[dispatch::kMainQueueLabel] = "main";
}

std::optional<std::string> DispatchQueueLogFormatter::replacementStringForQueueLabel(const std::string& label) {
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
  return formatLogDate(date, dateFormatString_);
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
  std::uint64_t length = utf16Length(label);
  if (maxLength > 0 && length > maxLength) {
    label.resize(utf16Prefix(label, maxLength, nullptr));
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

void DispatchQueueLogFormatter::didAddToLogger(const ns::Ref<Logger>& logger) { atomicLoggerCount_.fetch_add(1); }

void DispatchQueueLogFormatter::willRemoveFromLogger(const ns::Ref<Logger>& logger) {
  atomicLoggerCount_.fetch_sub(1);
}
