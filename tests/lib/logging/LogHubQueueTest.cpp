// The hub's queue under load: the places records wait in, the free lists they are made from, and
// where they are freed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lib/logging/LogHub.h"
#include "lib/logging/RecyclingPool.h"
#include "tests/lib/logging/LoggingTestSupport.h"

using logtest::HubCleanup;
using logtest::RecordingLogger;

namespace {

void logText(bool asynchronous, std::uint64_t flag, const std::string& text, int context = 0) {
  LogHub::log_level_flag_context_file_function_line_tag_format(asynchronous, 19, flag, context, __FILE__,
                                                               __func__, __LINE__, {}, "%s", text.c_str());
}

struct TestNode {
  TestNode* poolNext = nullptr;
  int value = 0;
};
using TestPool = logpool::Pool<TestNode>;

// Keeps only weak references: the records it gets die when the hub lets go of them.
class WatchingLogger : public AbstractLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>& message) override {
    monitor.change([&] { seen_.push_back(message); });
  }
  std::size_t alive() {
    return monitor.with([&] {
      std::size_t n = 0;
      for (const auto& weak : seen_) n += weak.expired() ? 0 : 1;
      return n;
    });
  }
  std::size_t seen() {
    return monitor.with([&] { return seen_.size(); });
  }
  logtest::Monitor monitor;

 private:
  std::vector<ns::Weak<LogMessage>> seen_;
};

// Logs `count` records of its own from its queue when it gets the one named "first".
class FloodingLogger : public RecordingLogger {
 public:
  explicit FloodingLogger(int count) : count_(count) {}
  void logMessage(const ns::Ref<LogMessage>& message) override {
    RecordingLogger::logMessage(message);
    if (message->message() != "first") return;
    for (int i = 0; i < count_; ++i) logText(true, LogFlagWarning, "own " + std::to_string(i), 1);
  }

 private:
  int count_;
};

}  // namespace

TEST(LogHubPool, NodesFreedOnAnotherThreadAreReusedAndAnEndedThreadLeavesItsNodes) {
  constexpr int kNodes = 10 * logpool::kMagazine;
  std::vector<TestNode*> made;
  for (int i = 0; i < kNodes; ++i) made.push_back(TestPool::take());
  std::set<TestNode*> first(made.begin(), made.end());
  EXPECT_EQ(first.size(), static_cast<std::size_t>(kNodes));

  // Freed elsewhere, as the hub's records are: whole magazines reach the depot, and the thread's
  // end hands over the rest that fill one.
  const std::size_t before = TestPool::depotSize();
  std::thread([&] {
    for (TestNode* node : made) TestPool::give(node);
  }).join();
  EXPECT_GE(TestPool::depotSize(), before + kNodes - logpool::kMagazine);

  // Taken again here: the same nodes, not new ones.
  std::size_t reused = 0;
  for (int i = 0; i < kNodes - logpool::kMagazine; ++i) {
    TestNode* node = TestPool::take();
    reused += first.count(node);
    made[static_cast<std::size_t>(i)] = node;
  }
  EXPECT_EQ(reused, static_cast<std::size_t>(kNodes - logpool::kMagazine));
  for (int i = 0; i < kNodes - logpool::kMagazine; ++i) TestPool::give(made[static_cast<std::size_t>(i)]);
}

TEST(LogHubPool, AThreadKeepsItsOwnNodesUpToItsShareAndLosesNoneWhenItHandsSomeOn) {
  constexpr int kShare = logpool::kLocalMagazines * logpool::kMagazine;
  constexpr int kNodes = kShare + 3 * logpool::kMagazine;
  std::thread([&] {
    std::vector<TestNode*> made;
    for (int i = 0; i < kNodes; ++i) made.push_back(TestPool::take());
    const std::set<TestNode*> all(made.begin(), made.end());
    const std::size_t before = TestPool::depotSize();
    for (TestNode* node : made) TestPool::give(node);
    // Beyond its share, whole magazines went on to the depot.
    EXPECT_EQ(TestPool::depotSize(), before + kNodes - kShare);

    // What the thread kept comes back without the depot: distinct nodes of its own, the newest
    // first.
    std::set<TestNode*> again;
    for (int i = 0; i < kShare; ++i) again.insert(TestPool::take());
    EXPECT_EQ(TestPool::depotSize(), before + kNodes - kShare);
    EXPECT_EQ(again.size(), static_cast<std::size_t>(kShare));
    EXPECT_TRUE(std::includes(all.begin(), all.end(), again.begin(), again.end()));
    EXPECT_TRUE(again.count(made.back()));

    // Taken back from the depot, the magazines hold the rest: no node was lost or counted twice.
    std::set<TestNode*> rest;
    for (int i = 0; i < kNodes - kShare; ++i) rest.insert(TestPool::take());
    EXPECT_EQ(rest.size(), static_cast<std::size_t>(kNodes - kShare));
    for (TestNode* node : rest) EXPECT_TRUE(all.count(node) && !again.count(node));
    for (TestNode* node : again) TestPool::give(node);
    for (TestNode* node : rest) TestPool::give(node);
  }).join();
}

TEST(LogHubQueue, KeptRecordsKeepTheirTextWhileOthersAreRecycledAndLongTextsArriveWhole) {
  HubCleanup cleanup;
  auto keeper = ns::make<RecordingLogger>();
  LogHub::addLogger_withLevel(keeper, LogFlagError);
  // Warnings reach no logger: their texts go back to the pool and are reused at once.
  const std::string longText(5000, 'x');
  std::thread caller([&] {
    for (int i = 0; i < 3000; ++i) {
      logText(true, LogFlagError, "kept " + std::to_string(i));
      logText(true, LogFlagWarning, "dropped " + std::to_string(i) + " and somewhat longer than the kept");
      if (i % 500 == 0) logText(true, LogFlagError, longText + std::to_string(i));
    }
  });
  caller.join();
  LogHub::flushLog();
  auto messages = keeper->messages();
  ASSERT_EQ(messages.size(), 3006u);
  int next = 0;
  for (const auto& message : messages) {
    if (message.size() > longText.size()) {
      EXPECT_EQ(message.compare(0, longText.size(), longText), 0);
      continue;
    }
    EXPECT_EQ(message, "kept " + std::to_string(next));
    ++next;
  }
  EXPECT_EQ(next, 3000);
}

TEST(LogHubQueue, RecordsOfAThreadThatEndedOrStoppedLoggingAreFreedSoonAfterDelivery) {
  HubCleanup cleanup;
  auto watcher = ns::make<WatchingLogger>();
  LogHub::addLogger(watcher);
  logtest::Monitor monitor;
  bool logged = false;
  bool stop = false;
  // One thread logs and ends; the other logs and stays, idle.
  std::thread ended([] {
    for (int i = 0; i < 300; ++i) logText(true, LogFlagInfo, "ended");
  });
  std::thread idle([&] {
    for (int i = 0; i < 300; ++i) logText(true, LogFlagInfo, "idle");
    monitor.change([&] { logged = true; });
    monitor.waitFor([&] { return stop; }, std::chrono::hours(1));
  });
  ended.join();
  EXPECT_TRUE(monitor.waitFor([&] { return logged; }));
  LogHub::flushLog();
  EXPECT_EQ(watcher->seen(), 600u);
  // Nothing announces a record's end: looked at until it holds, within the usual bound.
  bool freed = false;
  for (auto deadline = std::chrono::steady_clock::now() + logtest::kTimeout;
       !freed && std::chrono::steady_clock::now() < deadline;) {
    freed = watcher->alive() == 0;
    if (!freed) std::this_thread::yield();
  }
  EXPECT_TRUE(freed) << watcher->alive() << " records still alive";
  monitor.change([&] { stop = true; });
  idle.join();
}

TEST(LogHubQueue, ALoggerFloodingFromItsOwnQueueWhileTheQueueIsFullLosesNothingAndKeepsOrder) {
  HubCleanup cleanup;
  // More than the queue has places for, on top of a full bound: the rest waits aside, in order.
  constexpr int kOwn = 6000;
  auto logger = ns::make<FloodingLogger>(kOwn);
  logger->setGated(true);
  LogHub::addLogger(logger);
  logText(true, LogFlagInfo, "first");
  ASSERT_TRUE(logger->waitForEntered(1));
  std::thread caller([] {
    for (int i = 0; i < 999; ++i) logText(true, LogFlagInfo, "caller " + std::to_string(i), 2);
  });
  caller.join();
  logger->setGated(false);
  ASSERT_TRUE(logger->waitForRecords(1 + 999 + kOwn));
  LogHub::flushLog();
  auto records = logger->records();
  ASSERT_EQ(records.size(), static_cast<std::size_t>(1 + 999 + kOwn));
  int own = 0;
  int callers = 0;
  for (const auto& record : records) {
    if (record->context() == 1) {
      EXPECT_EQ(record->message(), "own " + std::to_string(own));
      ++own;
    } else if (record->context() == 2) {
      EXPECT_EQ(record->message(), "caller " + std::to_string(callers));
      ++callers;
    }
  }
  EXPECT_EQ(own, kOwn);
  EXPECT_EQ(callers, 999);
}
