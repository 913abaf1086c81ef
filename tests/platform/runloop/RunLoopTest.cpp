#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Timer.h"
#include "platform/testing/Pipe.h"

namespace {

using ns::Clock;
using ns::RunLoop;

TEST(RunLoopTest, PerformRequestsRunOnALaterPassNeverInsideTheQueuingCall) {
  auto loop = RunLoop::currentRunLoop();
  std::vector<int> order;
  loop->performBlock([&] {
    order.push_back(1);
    loop->performBlock([&] { order.push_back(3); });
    order.push_back(2);
  });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(loop->runUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoopTest, PerformRequestsHonourTheirModes) {
  auto loop = RunLoop::currentRunLoop();
  bool ran = false;
  loop->performInModes_block({ns::ModalPanelRunLoopMode}, [&] { ran = true; });
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_FALSE(ran);
  loop->runMode_beforeDate(ns::ModalPanelRunLoopMode, ns::Date::now());
  EXPECT_TRUE(ran);
}

struct Thing : ns::Object {
  explicit Thing(int v) : value(v) {}
  int value;
  bool isEqual(const Object* other) const override {
    auto* o = dynamic_cast<const Thing*>(other);
    return o && o->value == value;
  }
};

TEST(RunLoopTest, DelayedPerformsFollowTheClockAndCanBeCancelled) {
  Clock::installVirtual();
  auto loop = RunLoop::currentRunLoop();
  auto target = ns::make<Thing>(0);
  std::vector<std::string> ran;
  auto queue = [&](const std::string& sel, int arg) {
    loop->perform(
        {target, sel, ns::make<Thing>(arg), [&ran, sel, arg] { ran.push_back(sel + std::to_string(arg)); }},
        2.0);
  };
  queue("show:", 1);
  queue("show:", 2);
  queue("hide:", 1);
  EXPECT_EQ(loop->cancelPerformSelector_target_argument("show:", target.get(), ns::make<Thing>(2).get()), 1u);
  Clock::advance(1.9);
  EXPECT_TRUE(ran.empty());
  Clock::advance(0.1);
  EXPECT_EQ(ran, (std::vector<std::string>{"show:1", "hide:1"}));

  queue("show:", 3);
  loop->perform({target, "now:", nullptr, [&] { ran.push_back("now"); }});
  EXPECT_EQ(loop->cancelPerformSelectorsWithTarget(target.get()), 2u);
  Clock::advance(5);
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_EQ(ran.size(), 2u);
  Clock::installReal();
}

TEST(RunLoopTest, ObjectLevelPerformsAreCoalescedByTheirOwnersAndCancelled) {
  Clock::installVirtual();
  auto socket = ns::make<Thing>(1);
  int dequeues = 0;
  bool scheduled = false;
  // The pattern of a socket that queues one deferred dequeue per pass.
  auto schedule = [&] {
    if (scheduled) return;
    scheduled = true;
    RunLoop::performSelector_withObject_afterDelay_inModes(socket, "maybeDequeueRead", nullptr, 0,
                                                           {ns::DefaultRunLoopMode}, [&] {
                                                             scheduled = false;
                                                             ++dequeues;
                                                           });
  };
  schedule();
  schedule();
  EXPECT_EQ(dequeues, 0);
  RunLoop::currentRunLoop()->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_EQ(dequeues, 1);
  schedule();
  RunLoop::performSelector_withObject_afterDelay_inModes(socket, "disconnect", nullptr, 1,
                                                         {ns::DefaultRunLoopMode}, [&] { dequeues = 100; });
  RunLoop::cancelPreviousPerformRequestsWithTarget_selector_object(socket.get(), "disconnect", nullptr);
  RunLoop::cancelPreviousPerformRequestsWithTarget(socket.get());
  Clock::advance(2);
  RunLoop::currentRunLoop()->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::now());
  EXPECT_EQ(dequeues, 1);
  Clock::installReal();
}

TEST(RunLoopTest, PerformFromAnotherThreadWakesTheWaitingLoop) {
  auto loop = RunLoop::currentRunLoop();
  std::atomic<bool> ran{false};
  std::thread t([&] { loop->performBlock([&] { ran = true; }); });
  // A pass with no deadline returns only because the request arrived.
  auto keepAlive = ns::Timer::timerWithTimeInterval_repeats_block(1e6, false, nullptr);
  loop->addTimer_forMode(keepAlive, ns::DefaultRunLoopMode);
  while (!ran) loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::dateWithTimeIntervalSinceNow(30));
  t.join();
  keepAlive->invalidate();
  EXPECT_TRUE(ran);
}

TEST(RunLoopTest, StopEndsThePassFromACallback) {
  auto loop = RunLoop::currentRunLoop();
  auto keepAlive = ns::Timer::timerWithTimeInterval_repeats_block(1e6, false, nullptr);
  loop->addTimer_forMode(keepAlive, ns::DefaultRunLoopMode);
  auto source = ns::make<ns::RunLoopSource>([&] { loop->stop(); });
  loop->addSource_forMode(source, ns::DefaultRunLoopMode);
  std::thread t([&] {
    source->signal();
    loop->wakeUp();
  });
  EXPECT_TRUE(loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::dateWithTimeIntervalSinceNow(30)));
  t.join();
  loop->removeSource_forMode(source, ns::DefaultRunLoopMode);
  keepAlive->invalidate();
}

TEST(RunLoopTest, RunModeAnswersNoWhenTheModeHasNothing) {
  auto loop = RunLoop::currentRunLoop();
  EXPECT_FALSE(loop->runMode_beforeDate("EmptyTestMode", ns::Date::dateWithTimeIntervalSinceNow(30)));
  EXPECT_FALSE(loop->runUntil([] { return false; }, 0.05, "EmptyTestMode"));
}

// A pump whose thread got no time before its deadline (zero stands for that here) still runs
// what was ready: a queued block, a signalled source and a readable descriptor.
TEST(RunLoopTest, APumpOutOfTimeBeforeItsFirstLookStillRunsWhatIsReady) {
  auto loop = RunLoop::currentRunLoop();
  bool performed = false;
  loop->performBlock([&] { performed = true; });
  EXPECT_TRUE(loop->runUntil([&] { return performed; }, 0));

  int fired = 0;
  auto source = ns::make<ns::RunLoopSource>([&] { ++fired; });
  loop->addSource_forMode(source, ns::DefaultRunLoopMode);
  source->signal();
  EXPECT_TRUE(loop->runUntil([&] { return fired == 1; }, 0));
  loop->removeSource_forMode(source, ns::DefaultRunLoopMode);

  pltest::Pipe p;
  int reads = 0;
  auto id = loop->addDescriptor(p.r, POLLIN, [&](int fd, short) {
    char c;
    if (::read(fd, &c, 1) == 1) ++reads;
  });
  ASSERT_EQ(::write(p.w, "x", 1), 1);
  EXPECT_TRUE(loop->runUntil([&] { return reads == 1; }, 0));
  loop->removeDescriptor(id);
  // Nothing ready: the answer stays no, at once.
  EXPECT_FALSE(loop->runUntil([] { return false; }, 0));
}

TEST(RunLoopTest, DescriptorSourcesFireInTheirModesUntilRemoved) {
  auto loop = RunLoop::currentRunLoop();
  pltest::Pipe p;
  int calls = 0;
  char buf[16];
  auto id = loop->addDescriptor(p.r, POLLIN,
                                [&](int fd, short revents) {
                                  EXPECT_TRUE(revents & POLLIN);
                                  ++calls;
                                  [[maybe_unused]] auto n = ::read(fd, buf, sizeof buf);
                                },
                                {ns::ModalPanelRunLoopMode});
  ASSERT_EQ(::write(p.w, "x", 1), 1);
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::dateWithTimeIntervalSinceNow(0.01));
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(loop->runUntil([&] { return calls == 1; }, 10, ns::ModalPanelRunLoopMode));
  loop->addDescriptorMode(id, ns::DefaultRunLoopMode);
  ASSERT_EQ(::write(p.w, "y", 1), 1);
  EXPECT_TRUE(loop->runUntil([&] { return calls == 2; }));
  loop->removeDescriptor(id);
  ASSERT_EQ(::write(p.w, "z", 1), 1);
  loop->runMode_beforeDate(ns::ModalPanelRunLoopMode, ns::Date::dateWithTimeIntervalSinceNow(0.01));
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::dateWithTimeIntervalSinceNow(0.01));
  EXPECT_EQ(calls, 2);
}

TEST(RunLoopTest, EachThreadHasItsOwnRunLoopAndOnlyTheMainThreadHasTheMainOne) {
  auto here = RunLoop::currentRunLoop();
  EXPECT_EQ(here, RunLoop::currentRunLoop());
  EXPECT_EQ(here, RunLoop::mainRunLoop());  // tests run on the main thread
  ns::Ref<RunLoop> there;
  std::thread t([&] { there = RunLoop::currentRunLoop(); });
  t.join();
  EXPECT_NE(there, here);
  EXPECT_FALSE(there->isMainRunLoop());
  EXPECT_TRUE(here->isMainRunLoop());
}

}  // namespace
