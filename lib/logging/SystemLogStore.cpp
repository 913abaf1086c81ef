#include "lib/logging/SystemLogStore.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>

#include "platform/core/NoDestructor.h"

namespace {
// Lines nobody has read yet are dropped oldest first beyond this.
constexpr std::size_t kMaxKeptLines = 10000;
}  // namespace

SystemLogStore& SystemLogStore::shared() {
  static ns::NoDestructor<SystemLogStore> store;
  return *store;
}

void SystemLogStore::write(int level, const std::string& message) {
  level = std::clamp(level, 0, 7);
  if (forwardsToSyslog_.load()) ::syslog(LOG_MAKEPRI(LOG_USER, level), "%s", message.c_str());
  keep(level, message);
}

void SystemLogStore::keep(int level, const std::string& message) {
  std::shared_ptr<std::function<void()>> listener;
  {
    std::lock_guard lock(mutex_);
    if (!listener_) return;
    SystemLogEntry entry;
    entry.id = nextID_++;
    entry.time = ns::Date::now();
    entry.level = level;
    entry.message = message;
    entry.pid = ::getpid();
    entries_.push_back(std::move(entry));
    if (entries_.size() > kMaxKeptLines) entries_.pop_front();
    listener = listener_;
  }
  (*listener)();
}

void SystemLogStore::setListener(std::function<void()> newEntry) {
  std::lock_guard lock(mutex_);
  if (!newEntry) {
    listener_ = nullptr;
    entries_.clear();
    return;
  }
  listener_ = std::make_shared<std::function<void()>>(std::move(newEntry));
  if (sink_ == 0) {
    // The console log writes to syslog itself: its lines are only kept here.
    sink_ = ns::addLogSink(
        [this](const ns::LogLine& line) { keep(ns::syslogPriority(line.level), line.message); });
  }
}

std::uint64_t SystemLogStore::lastID() {
  std::lock_guard lock(mutex_);
  return nextID_ - 1;
}

std::vector<SystemLogEntry> SystemLogStore::entriesAfter(std::uint64_t id, int maxLevel, pid_t pid) {
  std::lock_guard lock(mutex_);
  std::vector<SystemLogEntry> result;
  for (const auto& entry : entries_)
    if (entry.id > id && entry.level <= maxLevel && entry.pid == pid) result.push_back(entry);
  return result;
}

void SystemLogStore::forgetThrough(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  while (!entries_.empty() && entries_.front().id <= id) entries_.pop_front();
}
