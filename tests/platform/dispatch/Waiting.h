#pragma once
// Waiting in dispatch tests: pump the main run loop (which also drains the main queue) until a
// condition holds, with a generous time-out.
#include <functional>

#include "platform/runloop/RunLoop.h"

inline bool eventually(const std::function<bool()>& predicate, double timeoutSeconds = 20) {
  return ns::RunLoop::mainRunLoop()->runUntil(predicate, timeoutSeconds);
}
