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

}  // namespace
