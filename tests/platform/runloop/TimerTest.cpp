#include <gtest/gtest.h>

#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

namespace {

using ns::Clock;
using ns::RunLoop;
using ns::Timer;

class VirtualClockTest : public testing::Test {
 protected:
  void SetUp() override { Clock::installVirtual(); }
  void TearDown() override {
    for (auto& t : timers) t->invalidate();
    Clock::installReal();
  }
  std::vector<ns::Ref<Timer>> timers;
};

TEST_F(VirtualClockTest, RepeatingTimerFiresOncePerIntervalAsTheClockAdvances) {
  int fired = 0;
  std::vector<double> when;
  double start = Clock::now();
  timers.push_back(Timer::scheduledTimerWithTimeInterval_repeats_block(300, true, [&](const ns::Ref<Timer>&) {
    ++fired;
    when.push_back(Clock::now() - start);
  }));
  Clock::advance(900);
  EXPECT_EQ(fired, 3);
  ASSERT_EQ(when.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(when[i], 300.0 * (i + 1), 1e-6);
  Clock::advance(299);
  EXPECT_EQ(fired, 3);
  Clock::advance(1);
  EXPECT_EQ(fired, 4);
}

TEST_F(VirtualClockTest, StepsThatSumToTheDeadlineFireItAtEveryMagnitudeOfTheClock) {
  // Past 2^14 seconds of uptime, 0.19 then 0.01 summed in floating point fall an ulp short of
  // the same start plus 0.2; the step must still fire the timer.
  for (double uptime : {0.0, 20000.0, 3e6}) {
    SCOPED_TRACE(uptime);
    Clock::advance(uptime);
    int fired = 0;
    timers.push_back(Timer::scheduledTimerWithTimeInterval_repeats_block(
        0.2, false, [&](const ns::Ref<Timer>&) { ++fired; }));
    Clock::advance(0.19);
    EXPECT_EQ(fired, 0);
    Clock::advance(0.01);
    EXPECT_EQ(fired, 1);
  }
}

// Past about 97 days of uptime an ulp of the clock exceeds a nanosecond: a fixed slack no longer
// covers what summed steps lose, and a machine up that long must still fire the timer. Many
// starting points, since whether a sum falls short depends on the start's low bits.
TEST_F(VirtualClockTest, StepsThatSumToTheDeadlineFireItAfterAYearOfUptime) {
  if (Clock::now() < 4e7) Clock::advance(4e7 - Clock::now());
  for (int start = 0; start < 200; ++start) {
    SCOPED_TRACE(start);
    Clock::advance(0.37);
    int fired = 0;
    timers.push_back(Timer::scheduledTimerWithTimeInterval_repeats_block(
        0.2, false, [&](const ns::Ref<Timer>&) { ++fired; }));
    Clock::advance(0.19);
    ASSERT_EQ(fired, 0);
    Clock::advance(0.01);
    ASSERT_EQ(fired, 1);
  }
  // Twenty steps of a hundredth sum to the deadline too, and not one step sooner.
  int fired = 0;
  timers.push_back(Timer::scheduledTimerWithTimeInterval_repeats_block(
      0.2, false, [&](const ns::Ref<Timer>&) { ++fired; }));
  for (int step = 1; step < 20; ++step) {
    Clock::advance(0.01);
    ASSERT_EQ(fired, 0) << step;
  }
  Clock::advance(0.01);
  EXPECT_EQ(fired, 1);
}

TEST_F(VirtualClockTest, OneShotRestartedBeforeItFiresFiresOnceAfterTheLastRestart) {
  int fired = 0;
  auto arm = [&] {
    if (!timers.empty()) timers.back()->invalidate();
    timers.push_back(Timer::scheduledTimerWithTimeInterval_repeats_block(
        0.3, false, [&](const ns::Ref<Timer>&) { ++fired; }));
  };
  arm();
  Clock::advance(0.1);
  arm();
  Clock::advance(0.1);
  arm();
  Clock::advance(0.29);
  EXPECT_EQ(fired, 0);
  Clock::advance(0.01);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timers.back()->isValid());
  Clock::advance(5);
  EXPECT_EQ(fired, 1);
}

TEST_F(VirtualClockTest, DefaultModeTimerWaitsWhileTheLoopTracksEvents) {
  auto loop = RunLoop::currentRunLoop();
  int fired = 0;
  auto timer = Timer::timerWithTimeInterval_repeats_block(1, false, [&](const ns::Ref<Timer>&) { ++fired; });
  timers.push_back(timer);
  loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  std::optional<std::string> modeSeen;
  loop->performInModes_block({ns::EventTrackingRunLoopMode}, [&] {
    modeSeen = loop->currentMode();
    Clock::advance(2);  // the clock moves while the loop tracks events
  });
  EXPECT_TRUE(loop->runMode_beforeDate(ns::EventTrackingRunLoopMode, ns::Date::distantFuture()));
  EXPECT_EQ(modeSeen, ns::EventTrackingRunLoopMode);
  loop->runMode_beforeDate(ns::EventTrackingRunLoopMode, ns::Date::now());
  EXPECT_EQ(fired, 0);
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(loop->currentMode().has_value());
}

TEST_F(VirtualClockTest, TimerInSeveralModesFiresOncePerInterval) {
  auto loop = RunLoop::currentRunLoop();
  int fired = 0;
  auto timer = Timer::timerWithTimeInterval_repeats_block(10, true, [&](const ns::Ref<Timer>&) { ++fired; });
  timers.push_back(timer);
  loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  loop->addTimer_forMode(timer, ns::RunLoopCommonModes);
  loop->addTimer_forMode(timer, ns::ModalPanelRunLoopMode);
  Clock::advance(10);
  EXPECT_EQ(fired, 1);
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  loop->runMode_beforeDate(ns::ModalPanelRunLoopMode, ns::Date::now());
  EXPECT_EQ(fired, 1);
  Clock::advance(10);
  EXPECT_EQ(fired, 2);
}

TEST_F(VirtualClockTest, TimerInvalidatedEarlierInThePassDoesNotFire) {
  auto loop = RunLoop::currentRunLoop();
  bool secondFired = false;
  auto second = Timer::timerWithTimeInterval_repeats_block(
      2, false, [&](const ns::Ref<Timer>&) { secondFired = true; });
  auto first = Timer::timerWithTimeInterval_repeats_block(
      1, false, [&](const ns::Ref<Timer>&) { second->invalidate(); });
  timers = {first, second};
  // Both are overdue when the loop next runs, so they fall due in the same pass.
  Clock::advance(5);
  loop->addTimer_forMode(second, ns::DefaultRunLoopMode);
  loop->addTimer_forMode(first, ns::DefaultRunLoopMode);
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_FALSE(first->isValid());
  EXPECT_FALSE(secondFired);
}

TEST_F(VirtualClockTest, RepeatingTimerThatFellBehindFiresOnceAndReschedulesFromNow) {
  auto loop = RunLoop::currentRunLoop();
  int fired = 0;
  auto timer = Timer::initWithFireDate_interval_repeats_block(ns::Date::dateWithTimeIntervalSinceNow(1), 1,
                                                              true, [&](const ns::Ref<Timer>&) { ++fired; });
  timers.push_back(timer);
  Clock::advance(10.5);  // not yet on a run loop: nothing steps it
  loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_EQ(fired, 1);
  EXPECT_NEAR(timer->fireTime(), Clock::now() + 1, 1e-6);
}

struct Target : ns::Object {
  int ticks = 0;
  void tick(const ns::Ref<Timer>& t) {
    if (++ticks == 2) t->invalidate();
  }
};

TEST_F(VirtualClockTest, TimerKeepsItsTargetUntilInvalidated) {
  auto target = ns::make<Target>();
  ns::Weak<Target> weak = target;
  auto timer = Timer::scheduledTimerWithTimeInterval_target_selector_userInfo_repeats(
      1.0, target, &Target::tick, nullptr, true);
  timers.push_back(timer);
  target.reset();
  Clock::advance(1);
  ASSERT_FALSE(weak.expired());
  EXPECT_EQ(weak.lock()->ticks, 1);
  Clock::advance(1);  // the second tick invalidates the timer
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(timer->isValid());
}

TEST_F(VirtualClockTest, FireRunsARepeatingTimerWithoutChangingItsSchedule) {
  int fired = 0;
  auto timer =
      Timer::scheduledTimerWithTimeInterval_repeats_block(5, true, [&](const ns::Ref<Timer>&) { ++fired; });
  timers.push_back(timer);
  double date = timer->fireTime();
  timer->fire();
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(timer->isValid());
  EXPECT_EQ(timer->fireTime(), date);
  auto once =
      Timer::scheduledTimerWithTimeInterval_repeats_block(5, false, [&](const ns::Ref<Timer>&) { ++fired; });
  timers.push_back(once);
  once->fire();
  EXPECT_EQ(fired, 2);
  EXPECT_FALSE(once->isValid());
  Clock::advance(5);
  EXPECT_EQ(fired, 3);
}

TEST_F(VirtualClockTest, TimerRemovedFromAModeKeepsFiringInItsOtherModes) {
  auto loop = RunLoop::currentRunLoop();
  int fired = 0;
  auto timer = Timer::timerWithTimeInterval_repeats_block(1, true, [&](const ns::Ref<Timer>&) { ++fired; });
  timers.push_back(timer);
  loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  loop->addTimer_forMode(timer, ns::ModalPanelRunLoopMode);
  loop->removeTimer_forMode(timer, ns::DefaultRunLoopMode);
  Clock::advance(1);  // idle loop: the default mode is served
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timer->isValid());
  loop->runMode_beforeDate(ns::ModalPanelRunLoopMode, ns::Date::now());
  EXPECT_EQ(fired, 1);
  loop->removeTimer_forMode(timer, ns::ModalPanelRunLoopMode);
  loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  Clock::advance(1);
  EXPECT_EQ(fired, 2);
}

TEST(ClockTest, SwitchingClocksNeverMovesTimeBackwards) {
  double before = Clock::now();
  Clock::installVirtual();
  double v = Clock::now();
  EXPECT_GE(v, before);
  Clock::advance(1000);
  EXPECT_NEAR(Clock::now(), v + 1000, 1e-6);
  double wall = Clock::wallNow();
  ns::Date date = ns::Date::now();
  Clock::advance(1);
  EXPECT_NEAR(Clock::wallNow(), wall + 1, 1e-6);
  EXPECT_NEAR(ns::Date::now().timeIntervalSinceDate(date), 1, 1e-6);  // dates follow the clock
  auto timer = Timer::initWithFireDate_interval_repeats_block(ns::Date::dateWithTimeIntervalSinceNow(5), 0,
                                                              false, nullptr);
  EXPECT_NEAR(timer->fireTime(), Clock::now() + 5, 1e-6);
  EXPECT_NEAR(timer->fireDate().timeIntervalSinceNow(), 5, 1e-6);
  Clock::installReal();
  EXPECT_GE(Clock::now(), v + 1000);
  EXPECT_NEAR(ns::Date::now().timeIntervalSince1970(), ns::Date::systemTimeSince1970(), 5);
  EXPECT_FALSE(Clock::isVirtual());
}

}  // namespace
