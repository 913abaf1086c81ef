#include "lib/logging/MultiFormatter.h"

#include <algorithm>

#include "platform/dispatch/Dispatch.h"

MultiFormatter::MultiFormatter()
    : queue_(dispatch::queueCreate("logging.hub.multiformatter", dispatch::QueueAttr::Concurrent)) {}

MultiFormatter::~MultiFormatter() = default;

// Changes are barrier tasks that capture the formatter strongly, so a change made just before the
// last reference goes away still finds its list.
void MultiFormatter::addFormatter(ns::Ref<LogFormatter> formatter) {
  auto self = ns::Object::self<MultiFormatter>();
  dispatch::barrierAsync(
      queue_, [self, formatter = std::move(formatter)] { self->formatters_.push_back(formatter); });
}

void MultiFormatter::removeFormatter(ns::Ref<LogFormatter> formatter) {
  auto self = ns::Object::self<MultiFormatter>();
  dispatch::barrierAsync(queue_, [self, formatter = std::move(formatter)] {
    auto& list = self->formatters_;
    auto it = std::find(list.begin(), list.end(), formatter);
    if (it != list.end()) list.erase(it);
  });
}

void MultiFormatter::removeAllFormatters() {
  auto self = ns::Object::self<MultiFormatter>();
  dispatch::barrierAsync(queue_, [self] { self->formatters_.clear(); });
}

std::vector<ns::Ref<LogFormatter>> MultiFormatter::formatters() {
  std::vector<ns::Ref<LogFormatter>> copy;
  dispatch::sync(queue_, [&] { copy = formatters_; });
  return copy;
}

bool MultiFormatter::isFormattingWithFormatter(const ns::Ref<LogFormatter>& formatter) {
  bool found = false;
  dispatch::sync(queue_, [&] {
    found = std::find(formatters_.begin(), formatters_.end(), formatter) != formatters_.end();
  });
  return found;
}

LogText MultiFormatter::formatLogMessage(const ns::Ref<LogMessage>& logMessage) {
  LogText line = logMessage->messageText();
  dispatch::sync(queue_, [&] {
    for (const auto& formatter : formatters_) {
      line = formatter->formatLogMessage(logMessageForLine_originalMessage(line, logMessage));
      if (!line) return;
    }
  });
  return line;
}

ns::Ref<LogMessage> MultiFormatter::logMessageForLine_originalMessage(LogText line,
                                                                      const ns::Ref<LogMessage>& message) {
  return message->copyWithMessage(std::move(line));
}
