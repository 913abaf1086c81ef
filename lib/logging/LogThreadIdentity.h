#pragma once
// The identity of the calling thread as a log record keeps it: the OS thread id in lower-case
// hex, the thread's name (absent when it has none of its own) and the current queue's label.
// Each is a shared string, reused from record to record while it does not change. The name is read
// again at most once per tick of the coarse clock (a few milliseconds): a thread that renames
// itself may log under its former name until the next tick. A string that changes is replaced by a
// new object, never changed in place.
#include <memory>
#include <optional>
#include <string>

struct LogThreadIdentity {
  std::shared_ptr<const std::string> threadID;
  std::shared_ptr<const std::optional<std::string>> threadName;
  std::shared_ptr<const std::string> queueLabel;

  // The calling thread's own copy, valid until its next call on this thread.
  static const LogThreadIdentity& current();
};
