// Running a run loop belongs to its own thread.
#include <gtest/gtest.h>

#include <thread>

#include "platform/core/Exception.h"
#include "platform/runloop/RunLoop.h"

namespace {

TEST(RunLoopThreadCheckDeathTest, RunningAnotherThreadsLoopStopsAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ns::Ref<ns::RunLoop> workerLoop;
  std::thread([&] { workerLoop = ns::RunLoop::currentRunLoop(); }).join();
  ASSERT_TRUE(workerLoop);
#ifndef NDEBUG
  const auto limit = ns::Date::dateWithTimeIntervalSinceNow(0.01);
  EXPECT_DEATH(workerLoop->runMode_beforeDate(ns::DefaultRunLoopMode, limit),
               "RunLoop: runMode_beforeDate called on thread");
  EXPECT_DEATH(workerLoop->runUntil([] { return false; }, 0.01), "RunLoop: runUntil called on thread");
  EXPECT_DEATH(workerLoop->runUntilDate(limit), "RunLoop: runUntilDate called on thread");
#else
  EXPECT_THROW(workerLoop->runUntil([] { return false; }, 0.01), ns::Exception);
#endif
  // The caller's own loop runs.
  EXPECT_TRUE(ns::RunLoop::currentRunLoop()->runUntil([] { return true; }, 0.01));
}

}  // namespace
