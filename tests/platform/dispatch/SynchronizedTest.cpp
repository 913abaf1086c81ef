#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/Synchronized.h"

namespace {

TEST(SynchronizedTest, ExcludesOtherThreadsAndIsRecursive) {
  int object = 0;
  long counter = 0;  // guarded only by the object's lock
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        ns::synchronized(&object, [&] {
          ns::Synchronized again(&object);  // the same thread may lock again
          ++counter;
        });
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 16000);
  EXPECT_EQ(ns::synchronized(&object, [] { return 7; }), 7);
}

TEST(SynchronizedTest, UnrelatedObjectsNeverShareALock) {
  // Many objects hash to the same stripe; nesting them in opposite orders on two threads would
  // deadlock if they shared locks. One thread holds every lock while the other takes each in turn.
  std::vector<int> objects(512);
  auto holding = dispatch::semaphoreCreate(0), release = dispatch::semaphoreCreate(0);
  std::thread holder([&] {
    ns::Synchronized guard(&objects[0]);
    holding->signal();
    release->wait(dispatch::TimeForever);
  });
  holding->wait(dispatch::TimeForever);
  auto tookAll = dispatch::semaphoreCreate(0);
  std::thread taker([&] {
    for (std::size_t i = 1; i < objects.size(); ++i) ns::Synchronized guard(&objects[i]);
    tookAll->signal();
  });
  EXPECT_EQ(tookAll->wait(dispatch::time(20)), 0);  // a shared lock would block here
  release->signal();
  holder.join();
  taker.join();
}

}  // namespace
