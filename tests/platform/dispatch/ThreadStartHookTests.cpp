// Thread start hooks run first on every thread the platform starts. The hook table is process-wide
// and never shrinks, so the checks run in a child process of their own.
#include <sys/wait.h>

#include <atomic>

#include <gtest/gtest.h>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/ThreadStartHook.h"
#include "platform/testing/ChildTest.h"

namespace {

thread_local bool tlHookRan = false;
std::atomic<int> gHookCalls{0};

void markThread() {
  tlHookRan = true;
  gHookCalls++;
}

TEST(ThreadStartHookChild, DISABLED_HooksRunOnNewPlatformThreads) {
  ASSERT_TRUE(ns::addThreadStartHook(markThread));
  EXPECT_FALSE(tlHookRan);  // the calling thread was started before

  std::atomic<bool> onThread{false};
  auto thread = ns::make<ns::Thread>([&] { onThread = tlHookRan; });
  thread->start();
  ASSERT_TRUE(thread->waitUntilFinished(30));
  EXPECT_TRUE(onThread);

  std::atomic<bool> onWorker{false};
  auto done = dispatch::semaphoreCreate(0);
  dispatch::async(dispatch::globalQueue(), [&] {
    onWorker = tlHookRan;
    dispatch::semaphoreSignal(done);
  });
  ASSERT_EQ(dispatch::semaphoreWait(done, dispatch::time(30)), 0);
  EXPECT_TRUE(onWorker);
  EXPECT_GE(gHookCalls.load(), 2);

  // The table holds eight hooks.
  int added = 1;
  while (ns::addThreadStartHook(markThread)) ++added;
  EXPECT_EQ(added, 8);
}

TEST(ThreadStartHook, HooksRunOnNewPlatformThreads) {
  int status = pltest::runChildTest("ThreadStartHookChild.DISABLED_HooksRunOnNewPlatformThreads");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
