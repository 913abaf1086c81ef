// Which queue a caller runs on, and the ownership check built on it.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/Dispatch.h"

namespace {

using namespace dispatch;

TEST(QueueOwnershipTest, CurrentQueueCoversTargetsSynchronousCallsAndTheMainThread) {
  auto owner = queueCreate("test.owner");
  auto child = queueCreate("test.child");
  auto other = queueCreate("test.other");
  setTargetQueue(child, owner);
  struct Case {
    const char* where;
    bool onOwner;
    bool onOther;
  };
  std::vector<Case> seen;
  auto look = [&](const char* where) {
    seen.push_back({where, isCurrentQueue(owner), isCurrentQueue(other)});
  };
  look("test thread, outside any queue");
  sync(owner, [&] { look("on the queue"); });
  sync(child, [&] { look("on a queue targeting it"); });
  sync(owner, [&] { sync(other, [&] { look("in a synchronous call made from it"); }); });
  std::thread([&] { look("a thread of its own"); }).join();
  const std::vector<Case> expected = {{"test thread, outside any queue", false, false},
                                      {"on the queue", true, false},
                                      {"on a queue targeting it", true, false},
                                      {"in a synchronous call made from it", true, true},
                                      {"a thread of its own", false, false}};
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].onOwner, expected[i].onOwner) << expected[i].where;
    EXPECT_EQ(seen[i].onOther, expected[i].onOther) << expected[i].where;
  }
  // The test runs on the main thread, which counts as running the main queue.
  EXPECT_TRUE(isCurrentQueue(mainQueue()));
  EXPECT_FALSE(isCurrentQueue(nullptr));
}

TEST(QueueOwnershipDeathTest, AssertQueueAbortsOffTheQueueNamingIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto owner = queueCreate("test.owned-state");
  sync(owner, [&] { assertQueue(owner); });  // passes there
  EXPECT_DEATH(assertQueue(owner), "used off its queue \"test.owned-state\"");
#ifndef NDEBUG
  EXPECT_DEATH(DISPATCH_DEBUG_ASSERT_QUEUE(owner), "test.owned-state");
  EXPECT_DEATH(DISPATCH_DEBUG_ASSERT_OWNER(false, "Widget", "widget.queue"),
               "Widget used off its queue \"widget.queue\"");
#endif
}

}  // namespace
