#pragma once
// Internal link between the clock and the calling thread's run loop (same library).
#include "platform/runloop/Clock.h"

namespace ns::detail {
// The calling thread's run loop, when it has one: its next timer deadline after `now` in the mode
// it is running (default mode when idle), and firing of the timers due in that mode.
TimeInterval currentRunLoopNextTimerAfter(TimeInterval now);
void currentRunLoopFireDueTimers();
}  // namespace ns::detail
