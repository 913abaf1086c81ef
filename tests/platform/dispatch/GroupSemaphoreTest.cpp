#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"

namespace {

using namespace dispatch;

TEST(GroupTest, NotifyRunsOnceEveryMemberLeft) {
  auto g = groupCreate();
  auto q = queueCreate("test.group");
  std::atomic<int> done{0};
  std::atomic<int> notifiedAt{-1};
  g->enter();
  for (int i = 0; i < 10; ++i) groupAsync(g, globalQueue(), [&] { ++done; });
  groupNotify(g, q, [&] { notifiedAt = done.load(); });
  EXPECT_NE(g->wait(TimeNow), 0);
  g->leave();
  ASSERT_TRUE(pltest::pumpUntil([&] { return notifiedAt.load() >= 0; }));
  EXPECT_EQ(notifiedAt.load(), 10);
  EXPECT_EQ(g->wait(TimeForever), 0);
  // Notifying an empty group runs at once.
  std::atomic<bool> ran{false};
  groupNotify(g, q, [&] { ran = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return ran.load(); }));
}

TEST(GroupTest, WaitTimesOutOnTheVirtualClock) {
  ns::Clock::installVirtual();
  auto g = groupCreate();
  g->enter();
  std::atomic<long> result{-1};
  Time deadline = time(5);
  std::thread waiter([&] { result = g->wait(deadline); });
  ns::Clock::advance(4);
  EXPECT_FALSE(pltest::pumpUntil([&] { return result.load() != -1; }, 0.05));
  ns::Clock::advance(1);
  ASSERT_TRUE(pltest::pumpUntil([&] { return result.load() != -1; }));
  EXPECT_NE(result.load(), 0);
  waiter.join();
  g->leave();
  ns::Clock::installReal();
}

TEST(SemaphoreTest, WaitTakesUnitsAndTimesOut) {
  auto s = semaphoreCreate(2);
  EXPECT_EQ(s->wait(TimeNow), 0);
  EXPECT_EQ(s->wait(TimeNow), 0);
  EXPECT_NE(s->wait(TimeNow), 0);
  EXPECT_EQ(semaphoreCreate(-1), nullptr);
  std::atomic<long> got{-1};
  std::thread waiter([&] { got = semaphoreWait(s, TimeForever); });
  ASSERT_TRUE(pltest::pumpUntil([&] { return semaphoreSignal(s) != 0 || got.load() == 0; }));
  waiter.join();
  EXPECT_EQ(got.load(), 0);
}

// More pool blocks than the pool's cap of threads each wait, on a semaphore or a group, until all
// of them have started: the waiting threads do not count against the cap, so the pool grows and
// the last block starts and lets them all go.
TEST(SemaphoreTest, WaitsOnPoolThreadsBeyondThePoolsCapAllEnd) {
  constexpr int kWaiting = 300;
  auto gate = semaphoreCreate(0);
  auto gateGroup = groupCreate();
  gateGroup->enter();
  std::atomic<int> started{0}, timedOut{0};
  auto done = groupCreate();
  for (int i = 0; i < kWaiting; ++i) {
    groupAsync(done, globalQueue(), [&, i] {
      if (++started == kWaiting) {
        for (int k = 0; k < kWaiting / 2; ++k) gate->signal();
        gateGroup->leave();
      }
      long result = i % 2 == 0 ? gate->wait(time(30)) : gateGroup->wait(time(30));
      if (result != 0) ++timedOut;
    });
  }
  ASSERT_EQ(done->wait(time(90)), 0);
  EXPECT_EQ(timedOut.load(), 0) << "blocks waited for others the pool did not start";
  EXPECT_EQ(started.load(), kWaiting);
}

}  // namespace
