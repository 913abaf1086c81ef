#pragma once
// Chains formatters: each one formats a copy of the record that carries the text of the one
// before; the first to answer no text suppresses the record. Changes to the chain never wait and
// are never seen half-made by a formatting pass; a read or a pass on the same thread after a
// change sees it.
#include <vector>

#include "lib/logging/LogFormatter.h"

namespace dispatch {
class Queue;
}

class MultiFormatter : public LogFormatter {
 public:
  MultiFormatter();
  ~MultiFormatter() override;

  void addFormatter(ns::Ref<LogFormatter> formatter);
  void removeFormatter(ns::Ref<LogFormatter> formatter);
  void removeAllFormatters();
  std::vector<ns::Ref<LogFormatter>> formatters();
  bool isFormattingWithFormatter(const ns::Ref<LogFormatter>& formatter);

  LogText formatLogMessage(const ns::Ref<LogMessage>& logMessage) override;
  // A copy of the record whose message is the given text.
  ns::Ref<LogMessage> logMessageForLine_originalMessage(LogText line, const ns::Ref<LogMessage>& message);

 private:
  ns::Ref<dispatch::Queue> queue_;
  std::vector<ns::Ref<LogFormatter>> formatters_;  // changed only by barrier tasks on queue_
};
