#pragma once
// Run-loop pumping and the virtual clock for tests.
//
//   pltest::VirtualClock clock;                    // virtual until the end of the scope
//   start something with a 60 s time-out...
//   clock.advance(61);
//   ASSERT_TRUE(pltest::pumpUntil([&] { return failed; }));
#include <functional>
#include <string>

#include "platform/core/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"

namespace pltest {

// Runs the current thread's run loop in `mode` until `predicate` holds or `timeoutSeconds` of
// real time pass; answers whether it holds.
inline bool pumpUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10,
                      const std::string& mode = ns::DefaultRunLoopMode) {
  return ns::RunLoop::currentRunLoop()->runUntil(predicate, timeoutSeconds, mode);
}

// Runs the current thread's run loop in `mode` until a block queued there now has run, so that
// whatever was queued in that mode before it has run too; answers whether it ran in time.
inline bool drainMode(const std::string& mode = ns::DefaultRunLoopMode, double timeoutSeconds = 10) {
  bool ran = false;
  ns::RunLoop::currentRunLoop()->performInModes_block({mode}, [&] { ran = true; });
  return pumpUntil([&] { return ran; }, timeoutSeconds, mode);
}

// Installs the virtual clock for its lifetime.
class VirtualClock {
 public:
  VirtualClock() { ns::Clock::installVirtual(); }
  ~VirtualClock() { ns::Clock::installReal(); }
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;
  void advance(double seconds) const { ns::Clock::advance(seconds); }
  double now() const { return ns::Clock::now(); }
};

// Collects log lines while it lives (see ns::LogCapture).
using LogCapture = ns::LogCapture;

}  // namespace pltest
