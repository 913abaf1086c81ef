#pragma once
// This process's part of the system log, as the platform writes it. Every line written through
// write() goes to syslog(3); while capture listens, it and every line of ns::Log (the console
// log, which goes to syslog itself) are also kept here, with increasing ids, so that capture can
// read them back where no journal is readable. A new line wakes the listener.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Log.h"

struct SystemLogEntry {
  std::uint64_t id = 0;
  ns::Date time;
  int level = 5;  // syslog priority 0-7
  std::string message;
  pid_t pid = 0;
};

class SystemLogStore {
 public:
  static SystemLogStore& shared();

  // Writes `message` to the system log at priority `level` (0-7, clamped).
  void write(int level, const std::string& message);
  // Tests that write emergencies on purpose keep them out of the machine's real system log
  // (where they would reach every terminal); the lines are still kept here.
  void setForwardsToSyslog(bool forwards) { forwardsToSyslog_.store(forwards); }

  // While listening, lines are kept and each new one calls `newEntry` (on the writing thread);
  // nullptr stops listening and forgets the kept lines.
  void setListener(std::function<void()> newEntry);
  // The id of the last line kept (0 before the first).
  std::uint64_t lastID();
  // The kept lines after `id` of process `pid` with a level of at most `maxLevel`, oldest first.
  std::vector<SystemLogEntry> entriesAfter(std::uint64_t id, int maxLevel, pid_t pid);
  // Drops the kept lines up to `id`, once read.
  void forgetThrough(std::uint64_t id);

 private:
  void keep(int level, const std::string& message);

  std::mutex mutex_;
  std::deque<SystemLogEntry> entries_;
  std::uint64_t nextID_ = 1;
  std::shared_ptr<std::function<void()>> listener_;
  ns::LogSinkToken sink_ = 0;
  std::atomic<bool> forwardsToSyslog_{true};
};
