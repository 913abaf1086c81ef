#pragma once
// Dispatch times are seconds on ns::Clock's monotonic scale, so the virtual clock drives them.
#include <limits>

#include "platform/runloop/Clock.h"

namespace dispatch {

using Time = double;
// "Now" and "never" as time-outs.
constexpr Time TimeNow = 0;
constexpr Time TimeForever = std::numeric_limits<double>::infinity();

// The time `deltaSeconds` from now.
inline Time time(double deltaSeconds) {
  return ns::Clock::now() + deltaSeconds;
}

}  // namespace dispatch
