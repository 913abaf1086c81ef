#include <gtest/gtest.h>

#include <mutex>
#include <numeric>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"

namespace {

// Advancing the virtual clock fires due blocks on the advancing thread while the reactor thread,
// woken by the previous step, may be firing others: blocks due earlier must still reach their
// queue first.
TEST(VirtualClockAfter, BlocksPassedInOneLongAdvanceArriveInDeadlineOrder) {
  ns::Clock::installVirtual();
  for (int round = 0; round < 100; ++round) {
    auto q = dispatch::queueCreate("test.after.order");
    std::mutex m;
    std::vector<int> order;
    for (int i = 40; i >= 1; --i)
      dispatch::after(i, q, [&, i] {
        std::lock_guard lock(m);
        order.push_back(i);
      });
    ns::Clock::advance(100);
    ASSERT_TRUE(ns::RunLoop::mainRunLoop()->runUntil(
        [&] {
          std::lock_guard lock(m);
          return order.size() == 40;
        },
        20));
    std::vector<int> expected(40);
    std::iota(expected.begin(), expected.end(), 1);
    std::lock_guard lock(m);
    ASSERT_EQ(order, expected) << "round " << round;
  }
  ns::Clock::installReal();
}

}  // namespace
