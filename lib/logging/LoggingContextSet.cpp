#include "lib/logging/LoggingContextSet.h"

void LoggingContextSet::addToSet(std::uint64_t loggingContext) {
  std::lock_guard lock(lock_);
  set_.insert(loggingContext);
}

void LoggingContextSet::removeFromSet(std::uint64_t loggingContext) {
  std::lock_guard lock(lock_);
  set_.erase(loggingContext);
}

bool LoggingContextSet::isInSet(std::uint64_t loggingContext) {
  std::lock_guard lock(lock_);
  return set_.count(loggingContext) != 0;
}

std::vector<std::uint64_t> LoggingContextSet::currentSet() {
  std::lock_guard lock(lock_);
  return {set_.begin(), set_.end()};
}
