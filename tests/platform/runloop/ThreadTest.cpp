#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <fstream>

#include "platform/core/Exception.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

namespace {

using ns::Thread;

std::string osName(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

TEST(ThreadTest, StartedThreadRunsItsBlockUnderItsOsName) {
  std::atomic<pid_t> tid{0};
  std::string seenName;
  std::atomic<bool> onMain{true};
  std::atomic<bool> release{false};
  ns::Ref<Thread> current;
  auto t = ns::make<Thread>([&] {
    tid = gettid();
    onMain = Thread::isMainThread();
    current = Thread::currentThread();
    while (!release) ns::RunLoop::currentRunLoop()->runUntil([&] { return release.load(); }, 1);
  });
  t->setName("PelorinWorkerThreadName");
  t->start();
  ASSERT_TRUE(ns::RunLoop::currentRunLoop()->runUntil([&] { return tid.load() != 0; }));
  EXPECT_EQ(osName(tid), "PelorinWorkerTh");  // the first 15 bytes
  t->setName("renamed");
  EXPECT_EQ(osName(tid), "renamed");
  release = true;
  ASSERT_TRUE(t->waitUntilFinished(20));
  EXPECT_FALSE(onMain);
  EXPECT_EQ(current, t);
  EXPECT_TRUE(t->isFinished());
  EXPECT_THROW(t->start(), ns::Exception);
  EXPECT_TRUE(Thread::isMainThread());
  EXPECT_TRUE(Thread::currentThread()->isMain());
}

TEST(ThreadTest, PerformOnAnotherThreadRunsThereAndCanWait) {
  auto worker = Thread::detachNewThreadWithRunLoop("test.worker");
  std::atomic<int> ran{0};
  ns::Ref<Thread> ranOn;
  Thread::performOnThread(worker,
                          {nullptr, "work", nullptr,
                           [&] {
                             ranOn = Thread::currentThread();
                             ++ran;
                           }},
                          true);
  EXPECT_EQ(ran.load(), 1);  // waitUntilDone returned after it ran
  EXPECT_EQ(ranOn, worker);
  // From many threads at once, without waiting.
  std::vector<std::thread> senders;
  for (int i = 0; i < 4; ++i)
    senders.emplace_back([&] {
      for (int n = 0; n < 50; ++n)
        Thread::performOnThread(worker, {nullptr, "work", nullptr, [&] { ++ran; }}, false);
    });
  for (auto& s : senders) s.join();
  Thread::performOnThread(worker, {nullptr, "sync", nullptr, [] {}}, true);
  EXPECT_EQ(ran.load(), 201);
  // A waiting request that is cancelled releases its caller.
  auto target = ns::make<ns::Object>();
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    Thread::performOnThread(worker, {target, "never", nullptr, [] {}}, true, {"UnusedMode"});
    returned = true;
  });
  ASSERT_TRUE(ns::RunLoop::currentRunLoop()->runUntil(
      [&] { return worker->runLoop()->cancelPerformSelectorsWithTarget(target.get()) == 1; }));
  waiter.join();
  EXPECT_TRUE(returned);
  worker->cancel();
  EXPECT_TRUE(worker->waitUntilFinished(20));
}

TEST(ThreadTest, PerformOnMainThreadFromAWorkerRunsWhenTheMainLoopIsPumped) {
  std::atomic<bool> ran{false}, returned{false};
  std::thread worker([&] {
    Thread::performOnMainThread({nullptr, "main", nullptr, [&] { ran = Thread::isMainThread(); }}, true);
    returned = true;
  });
  ASSERT_TRUE(ns::RunLoop::mainRunLoop()->runUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(ran);
  // On the target thread itself, waitUntilDone runs the request at once.
  bool inline_ = false;
  Thread::performOnMainThread({nullptr, "inline", nullptr, [&] { inline_ = true; }}, true);
  EXPECT_TRUE(inline_);
}

TEST(ThreadTest, SleepReadsTheVirtualClock) {
  ns::Clock::installVirtual();
  std::atomic<bool> started{false};
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    started = true;
    Thread::sleepForTimeInterval(300);
    woke = true;
  });
  // A thread can start late on a loaded machine; advancing before it reads the clock would
  // leave it sleeping until 600.
  EXPECT_TRUE(ns::RunLoop::currentRunLoop()->runUntil([&] { return started.load(); }));
  EXPECT_FALSE(ns::RunLoop::currentRunLoop()->runUntil([&] { return woke.load(); }, 0.05));
  ns::Clock::advance(300);
  EXPECT_TRUE(ns::RunLoop::currentRunLoop()->runUntil([&] { return woke.load(); }));
  if (!woke) ns::Clock::advance(1e6);  // never leave the join hanging
  sleeper.join();
  ns::Clock::installReal();
}

// A library's per-thread data is released after the body returns, as the system thread exits: a
// thread has ended only once that is done.
TEST(ThreadTest, AThreadHasEndedOnlyOnceItsThreadSpecificDataIsReleased) {
  static std::atomic<bool> release{false};
  static std::atomic<bool> released{false};
  release = false;
  released = false;
  pthread_key_t key;
  ASSERT_EQ(pthread_key_create(&key,
                               [](void*) {
                                 release.wait(false);
                                 released = true;
                               }),
            0);
  auto thread = Thread::detachNewThreadWithRunLoop("tsd");
  Thread::performOnThread(thread, {nullptr, "", nullptr, [key] { pthread_setspecific(key, &release); }},
                          true);
  thread->cancel();
  ASSERT_TRUE(thread->waitUntilFinished(30));
  EXPECT_FALSE(thread->waitUntilEnded(0.05));
  EXPECT_FALSE(released);
  release = true;
  release.notify_all();
  EXPECT_TRUE(thread->waitUntilEnded(30));
  EXPECT_TRUE(released);
  pthread_key_delete(key);
  // A thread this layer did not start has no end to wait for.
  EXPECT_FALSE(Thread::mainThread()->waitUntilEnded(0));
}

}  // namespace
