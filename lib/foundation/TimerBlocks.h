#pragma once
// Run-loop timers that run a closure. The closure travels as the timer's userInfo (a block), so
// the timer alone keeps it, and what it captured, alive until the timer is invalidated; a
// one-shot timer invalidates itself once it has fired.
#include <functional>

#include "platform/core/Object.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/Timer.h"

struct TimerBlocks {
  using TimerBlock = std::function<void(ns::Ref<ns::Timer>)>;

  // Scheduled on the current thread's run loop in the default mode.
  static ns::Ref<ns::Timer> scheduledTimerWithTimeInterval_block_repeats(ns::TimeInterval interval,
                                                                         TimerBlock block, bool repeats);
  // Not scheduled: the caller adds it to a run loop.
  static ns::Ref<ns::Timer> timerWithTimeInterval_block_repeats(ns::TimeInterval interval, TimerBlock block,
                                                                bool repeats);
  // The timers' action: runs the block held in the timer's userInfo; nothing when there is none.
  static void blk_executeBlockFromTimer(const ns::Ref<ns::Timer>& timer);
};
