#include <gtest/gtest.h>

#include "lib/foundation/TimerBlocks.h"
#include "platform/testing/Pump.h"

namespace {

class TimerBlocksTest : public testing::Test {
 protected:
  pltest::VirtualClock clock;
};

TEST_F(TimerBlocksTest, AOneShotInvalidatedBeforeItFiresNeverRunsAndItsReplacementRunsOnce) {
  std::vector<double> ran;
  double start = clock.now();
  auto first = TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(
      2.0, [&](ns::Ref<ns::Timer>) { ran.push_back(-1); }, false);
  clock.advance(1.0);
  first->invalidate();
  auto second = TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(
      2.0, [&](ns::Ref<ns::Timer>) { ran.push_back(clock.now() - start); }, false);
  clock.advance(1.99);
  EXPECT_TRUE(ran.empty());
  clock.advance(0.02);
  ASSERT_EQ(ran.size(), 1u);
  EXPECT_NEAR(ran[0], 3.0, 0.02);
  EXPECT_FALSE(second->isValid());
  clock.advance(10);
  EXPECT_EQ(ran.size(), 1u);
}

TEST_F(TimerBlocksTest, ARepeatingTimerPassesItselfAndCanInvalidateItselfFromTheBlock) {
  std::vector<ns::Timer*> seen;
  auto timer = TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(
      1.0,
      [&](ns::Ref<ns::Timer> t) {
        if (seen.size() == 2) t->invalidate();  // drops the timer's reference to this block
        seen.push_back(t.get());                // ...which must still be alive here
      },
      true);
  clock.advance(10);
  ASSERT_EQ(seen.size(), 3u);
  for (auto* t : seen) EXPECT_EQ(t, timer.get());
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(timer->userInfo(), nullptr);
}

TEST_F(TimerBlocksTest, ATimerWithoutABlockFiresWithoutEffectAndAnUnscheduledOneWaits) {
  auto empty = TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(1.0, nullptr, false);
  clock.advance(2);
  EXPECT_FALSE(empty->isValid());
  TimerBlocks::blk_executeBlockFromTimer(nullptr);

  int ran = 0;
  auto unscheduled = TimerBlocks::timerWithTimeInterval_block_repeats(
      1.0, [&](ns::Ref<ns::Timer>) { ++ran; }, false);
  clock.advance(5);
  EXPECT_EQ(ran, 0);
  ns::RunLoop::currentRunLoop()->addTimer_forMode(unscheduled, ns::DefaultRunLoopMode);
  clock.advance(1.01);
  EXPECT_EQ(ran, 1);
}

TEST_F(TimerBlocksTest, WhatTheBlockCapturedLivesUntilTheOneShotHasFired) {
  auto held = ns::make<ns::Object>();
  ns::Weak<ns::Object> weak = held;
  bool fired = false;
  TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(
      2.0, [held, &fired](ns::Ref<ns::Timer>) { fired = held != nullptr; }, false);
  held.reset();
  clock.advance(1);
  EXPECT_FALSE(weak.expired());
  clock.advance(1.01);
  EXPECT_TRUE(fired);
  EXPECT_TRUE(weak.expired());
}

}  // namespace
