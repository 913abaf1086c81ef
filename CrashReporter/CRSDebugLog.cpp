#include "CrashReporter/CRSDebugLog.h"

#include <atomic>

namespace {
std::atomic<bool> debugMode{false};
}

bool CRSDebugModeEnabled() {
  return debugMode.load(std::memory_order_relaxed);
}

void CRSSetDebugModeEnabled(bool enabled) {
  debugMode.store(enabled, std::memory_order_relaxed);
}
