#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"

namespace {

using namespace dispatch;

TEST(QueueTest, SerialQueueRunsBlocksFromManyThreadsOneAtATimeInPerThreadOrder) {
  auto q = queueCreate("test.serial");
  constexpr int kThreads = 8;
  constexpr int kPerThread = 1250;  // 10,000 blocks
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> lastSeen(kThreads, -1);  // touched only by the queue's blocks
  std::atomic<bool> outOfOrder{false};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        async(q, [&, t, i] {
          if (inside.fetch_add(1) != 0) overlapped = true;
          if (lastSeen[t] != i - 1) outOfOrder = true;
          lastSeen[t] = i;
          inside.fetch_sub(1);
          done.fetch_add(1);
        });
      }
    });
  }
  for (auto& th : threads) th.join();
  // sync from another serial queue returns only after every block queued before it.
  auto other = queueCreate("test.other");
  int seenBySync = -1;
  sync(other, [&] { sync(q, [&] { seenBySync = done.load(); }); });
  EXPECT_EQ(seenBySync, kThreads * kPerThread);
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(outOfOrder);
}

TEST(QueueTest, SyncAndAsyncFromManyThreadsStayExclusive) {
  auto target = queueCreate("test.mixed.target");
  auto q = queueCreate("test.mixed");
  std::atomic<int> inside{0}, done{0};
  std::atomic<bool> overlapped{false};
  auto body = [&] {
    if (inside.fetch_add(1) != 0) overlapped = true;
    inside.fetch_sub(1);
    done.fetch_add(1);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if (i == 100 && t == 0) setTargetQueue(q, target);  // the hand-over path from here on
        if ((i + t) % 3 == 0)
          sync(q, body);
        else
          async(q, body);
      }
    });
  for (auto& th : threads) th.join();
  sync(q, [] {});
  EXPECT_EQ(done.load(), 1600);
  EXPECT_FALSE(overlapped);
}

TEST(QueueTest, SyncRunsOnTheCallersThreadAfterEarlierBlocks) {
  auto q = queueCreate("test.sync");
  auto gate = semaphoreCreate(0);
  std::vector<int> order;
  async(q, [&] {
    gate->wait(TimeForever);
    order.push_back(1);
  });
  async(q, [&] { order.push_back(2); });
  std::thread::id ran;
  std::thread releaser([&] { gate->signal(); });
  sync(q, [&] {
    order.push_back(3);
    ran = std::this_thread::get_id();
    EXPECT_STREQ(currentQueueLabel(), "test.sync");
  });
  releaser.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ran, std::this_thread::get_id());
}

TEST(QueueDeathTest, SyncOntoTheCurrentQueueIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto q = queueCreate("test.deadlock");
        sync(q, [&] { sync(q, [] {}); });
      },
      "would deadlock");
  EXPECT_DEATH(
      {
        auto q = queueCreate("test.deadlock.outer");
        auto inner = queueCreate("test.deadlock.inner");
        setTargetQueue(inner, q);
        sync(q, [&] { sync(inner, [] {}); });  // inner drains on q, which this thread holds
      },
      "would deadlock");
}

const char kOuterKey = 0;
const char kTargetKey = 0;

TEST(QueueTest, GetSpecificSeesOnlyTheInnermostQueueAndItsTargets) {
  auto a = queueCreate("test.a");
  auto b = queueCreate("test.b");
  auto t = queueCreate("test.t");
  setTargetQueue(b, t);
  int aValue = 1, tValue = 2;
  setSpecific(a, &kOuterKey, &aValue);
  setSpecific(t, &kTargetKey, &tValue);
  EXPECT_EQ(getSpecific(&kOuterKey), nullptr);  // not on a queue
  void* outer = nullptr;
  void* innerOuter = &aValue;
  void* innerTarget = nullptr;
  sync(a, [&] {
    outer = getSpecific(&kOuterKey);
    sync(b, [&] {
      innerOuter = getSpecific(&kOuterKey);
      innerTarget = getSpecific(&kTargetKey);
    });
  });
  EXPECT_EQ(outer, &aValue);
  EXPECT_EQ(innerOuter, nullptr);
  EXPECT_EQ(innerTarget, &tValue);
  // The same from async blocks.
  std::atomic<void*> fromAsync{nullptr};
  std::atomic<bool> done{false};
  async(b, [&] {
    fromAsync = getSpecific(&kTargetKey);
    done = true;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] { return done.load(); }));
  EXPECT_EQ(fromAsync.load(), &tValue);
  EXPECT_EQ(queueGetSpecific(t, &kTargetKey), &tValue);
  std::atomic<void*> onThread{&aValue};
  std::thread([&] { onThread = getSpecific(&kTargetKey); }).join();
  EXPECT_EQ(onThread.load(), nullptr);
}

TEST(QueueTest, SpecificValueDestructorRunsOnReplacementAndWithTheQueue) {
  static int destroyed = 0;
  destroyed = 0;
  auto q = queueCreate("test.specific");
  setSpecific(q, &kOuterKey, new int(1), [](void* p) {
    ++destroyed;
    delete static_cast<int*>(p);
  });
  setSpecific(q, &kOuterKey, new int(2), [](void* p) {
    ++destroyed;
    delete static_cast<int*>(p);
  });
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(*static_cast<int*>(queueGetSpecific(q, &kOuterKey)), 2);
  q.reset();
  EXPECT_EQ(destroyed, 2);
}

TEST(QueueTest, QueuesTargetingOneSerialQueueNeverRunConcurrently) {
  auto target = queueCreate("test.target");
  std::vector<ns::Ref<Queue>> queues;
  for (int i = 0; i < 4; ++i) {
    queues.push_back(queueCreate("test.child" + std::to_string(i)));
    setTargetQueue(queues.back(), target);
  }
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto group = groupCreate();
  for (int n = 0; n < 200; ++n) {
    auto& q = queues[n % queues.size()];
    std::string label = q->label();
    groupAsync(group, q, [&, label] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      if (currentQueueLabel() != label) overlapped = true;
      inside.fetch_sub(1);
    });
  }
  EXPECT_EQ(group->wait(time(30)), 0);
  EXPECT_FALSE(overlapped);
}

TEST(QueueTest, ConcurrentQueueRunsBlocksTogetherAndBarriersAlone) {
  auto q = queueCreate("test.concurrent", QueueAttr::Concurrent);
  // Two blocks that each wait for the other can only finish if they run at the same time.
  auto s1 = semaphoreCreate(0), s2 = semaphoreCreate(0);
  auto group = groupCreate();
  groupAsync(group, q, [&] {
    s1->signal();
    s2->wait(TimeForever);
  });
  groupAsync(group, q, [&] {
    s2->signal();
    s1->wait(TimeForever);
  });
  std::atomic<int> inside{0};
  std::atomic<bool> barrierAlone{true};
  std::vector<int> order;
  std::mutex orderMutex;
  for (int i = 0; i < 20; ++i) {
    groupAsync(group, q, [&] {
      inside.fetch_add(1);
      std::lock_guard lock(orderMutex);
      order.push_back(0);
      inside.fetch_sub(1);
    });
  }
  group->enter();
  barrierAsync(q, [&] {
    if (inside.load() != 0) barrierAlone = false;
    std::lock_guard lock(orderMutex);
    order.push_back(1);
    group->leave();
  });
  for (int i = 0; i < 20; ++i) {
    groupAsync(group, q, [&] {
      std::lock_guard lock(orderMutex);
      order.push_back(2);
    });
  }
  EXPECT_EQ(group->wait(time(30)), 0);
  EXPECT_TRUE(barrierAlone);
  ASSERT_EQ(order.size(), 41u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  int value = 0;
  barrierSync(q, [&] { value = 7; });
  EXPECT_EQ(value, 7);
}

TEST(QueueTest, GlobalQueuesDoNotStarveWhenBlocksBlock) {
  // More blocking blocks than cores: the pool grows so that the releasing block still runs.
  int n = static_cast<int>(std::thread::hardware_concurrency()) + 4;
  auto gate = semaphoreCreate(0);
  auto group = groupCreate();
  for (int i = 0; i < n; ++i) groupAsync(group, globalQueue(), [gate] { gate->wait(TimeForever); });
  // Queued behind them on the same global queue.
  async(globalQueue(), [n, gate] {
    for (int i = 0; i < n; ++i) gate->signal();
  });
  EXPECT_EQ(group->wait(time(60)), 0);
  EXPECT_TRUE(isGlobalQueueLabel(globalQueue(Priority::Low)->label()));
}

TEST(QueueTest, SyncsBlockingMoreThreadsThanThePoolHoldsAllFinish) {
  // Each global-queue block syncs onto its own suspended serial queue, so every pool thread
  // blocks waiting for a drain that itself needs a pool thread; there are more such blocks than
  // the pool's cap of threads, and the drains are queued only once all of them wait.
  constexpr int kBlocked = 300;
  std::vector<ns::Ref<Queue>> queues;
  for (int i = 0; i < kBlocked; ++i) {
    queues.push_back(queueCreate("test.blocked." + std::to_string(i)));
    suspend(queues.back());
  }
  std::atomic<int> waiting{0};
  std::atomic<int> ran{0};
  auto group = groupCreate();
  for (auto& q : queues)
    groupAsync(group, globalQueue(), [q, &waiting, &ran] {
      ++waiting;
      sync(q, [&] { ++ran; });
    });
  // A probe queued behind the blocked blocks runs only if the pool grows past them.
  auto probeRan = semaphoreCreate(0);
  async(globalQueue(), [probeRan] { probeRan->signal(); });
  EXPECT_EQ(probeRan->wait(time(60)), 0);
  for (auto& q : queues) resume(q);
  EXPECT_EQ(group->wait(time(60)), 0);
  EXPECT_EQ(waiting.load(), kBlocked);
  EXPECT_EQ(ran.load(), kBlocked);
  // Blocks synced from the pool onto a busy queue, and the drains that hand the queue over, all
  // wait on pool threads at once: they finish as well.
  auto busy = queueCreate("test.busy");
  auto release = semaphoreCreate(0);
  async(busy, [release] { release->wait(TimeForever); });
  std::atomic<int> onBusy{0};
  for (int i = 0; i < kBlocked; ++i) groupAsync(group, globalQueue(), [&] { sync(busy, [&] { ++onBusy; }); });
  async(globalQueue(), [release] { release->signal(); });
  EXPECT_EQ(group->wait(time(60)), 0);
  EXPECT_EQ(onBusy.load(), kBlocked);
}

// Blocks handed back and forth between serial queues, in several chains at once, with pauses
// between them now and then: a hand-over to an idle pool thread that was lost, or given to two
// threads, would leave a chain short or run a step twice.
TEST(QueueTest, ChainsOfHandOversBetweenQueuesAllRunEachStepOnce) {
  constexpr int kChains = 6;
  constexpr int kSteps = 4000;
  struct Chain {
    ns::Ref<Queue> queues[2] = {queueCreate("test.chain.a"), queueCreate("test.chain.b")};
    std::atomic<int> steps{0};
  };
  std::vector<std::unique_ptr<Chain>> chains;
  auto group = groupCreate();
  // Each step runs on the other queue of its pair than the step before.
  std::function<void(Chain*, int)> step = [&](Chain* chain, int n) {
    chain->steps.fetch_add(1);
    // Now and then a step lets others run, so that the pool's threads go idle and come back.
    if (n % 97 == 0) std::this_thread::yield();
    if (n + 1 == kSteps) {
      groupLeave(group);
      return;
    }
    async(chain->queues[(n + 1) % 2], [&step, chain, n] { step(chain, n + 1); });
  };
  for (int c = 0; c < kChains; ++c) {
    chains.push_back(std::make_unique<Chain>());
    groupEnter(group);
    Chain* chain = chains.back().get();
    async(chain->queues[0], [&step, chain] { step(chain, 0); });
  }
  ASSERT_EQ(group->wait(time(120)), 0);
  for (auto& chain : chains) {
    EXPECT_EQ(chain->steps.load(), kSteps);
    // The last steps may still be on their way out of their queues.
    for (auto& q : chain->queues) sync(q, [] {});
  }
}

TEST(QueueTest, QueueStaysAliveWhileWorkIsPending) {
  auto q = queueCreate("test.lifetime");
  ns::Weak<Queue> weak = q;
  auto gate = semaphoreCreate(0);
  std::atomic<int> ran{0};
  async(q, [&] {
    gate->wait(TimeForever);
    ++ran;
  });
  async(q, [&] { ++ran; });
  q.reset();
  EXPECT_FALSE(weak.expired());
  gate->signal();
  ASSERT_TRUE(pltest::pumpUntil([&] { return ran.load() == 2 && weak.expired(); }));
}

TEST(QueueTest, SuspendedQueueHoldsItsBlocksUntilResumed) {
  auto q = queueCreate("test.suspend");
  std::atomic<bool> ran{false};
  suspend(q);
  async(q, [&] { ran = true; });
  auto probe = queueCreate("test.probe");
  sync(probe, [] {});
  EXPECT_FALSE(ran);
  resume(q);
  ASSERT_TRUE(pltest::pumpUntil([&] { return ran.load(); }));
}

TEST(QueueTest, AThreadOffTheMainOneIsTheMainThreadOfTheChildItForks) {
  int status = -1;
  std::thread([&] {
    // Known here as another thread of this process.
    EXPECT_STREQ(currentQueueLabel(), "");
    const pid_t child = ::fork();
    if (child == 0) ::_exit(std::string_view(currentQueueLabel()) == kMainQueueLabel ? 0 : 1);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_STREQ(currentQueueLabel(), "");
  }).join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_STREQ(currentQueueLabel(), kMainQueueLabel);
}

TEST(QueueTest, MainQueueBlocksRunOnTheMainThreadWhenTheLoopIsPumped) {
  std::atomic<bool> ran{false};
  std::thread::id thread;
  std::string label;
  std::thread([&] {
    async(mainQueue(), [&] {
      thread = std::this_thread::get_id();
      label = currentQueueLabel();
      ran = true;
    });
  }).join();
  EXPECT_FALSE(ran);
  ASSERT_TRUE(pltest::pumpUntil([&] { return ran.load(); }));
  EXPECT_EQ(thread, std::this_thread::get_id());
  EXPECT_EQ(label, kMainQueueLabel);
  EXPECT_STREQ(currentQueueLabel(), kMainQueueLabel);  // the main thread runs the main queue
  // The main queue drains in the common modes, e.g. while a modal panel runs.
  bool modal = false;
  async(mainQueue(), [&] { modal = true; });
  EXPECT_TRUE(pltest::pumpUntil([&] { return modal; }, 20, ns::ModalPanelRunLoopMode));
  // sync onto the main queue from another thread runs on the main thread.
  std::atomic<bool> synced{false};
  std::thread::id syncThread;
  std::thread worker([&] {
    sync(mainQueue(), [&] { syncThread = std::this_thread::get_id(); });
    synced = true;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] { return synced.load(); }));
  worker.join();
  EXPECT_EQ(syncThread, std::this_thread::get_id());
}

TEST(QueueTest, AfterFollowsTheVirtualClockAndRunsOnTheMainThread) {
  ns::Clock::installVirtual();
  std::atomic<bool> ran{false};
  std::thread::id thread;
  after(0.3, mainQueue(), [&] {
    thread = std::this_thread::get_id();
    ran = true;
  });
  ns::Clock::advance(0.29);
  EXPECT_FALSE(pltest::pumpUntil([&] { return ran.load(); }, 0.05));
  ns::Clock::advance(0.01);
  ASSERT_TRUE(pltest::pumpUntil([&] { return ran.load(); }));
  EXPECT_EQ(thread, std::this_thread::get_id());
  // Delayed blocks fall due in order.
  auto q = queueCreate("test.after");
  std::vector<int> order;
  std::mutex m;
  for (int i : {3, 1, 2})
    after(i, q, [&, i] {
      std::lock_guard lock(m);
      order.push_back(i);
    });
  ns::Clock::advance(10);
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(m);
    return order.size() == 3;
  }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  ns::Clock::installReal();
}

TEST(QueueTest, OnceRunsExactlyOnceAcrossThreads) {
  OnceFlag flag;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { once(flag, [&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);
}

TEST(QueueTest, ApplyCallsEveryIndexOnceAndReturnsWhenAllRan) {
  std::vector<std::atomic<int>> hits(1000);
  apply(hits.size(), globalQueue(), [&](std::size_t i) { hits[i].fetch_add(1); });
  for (auto& h : hits) ASSERT_EQ(h.load(), 1);
  std::vector<std::size_t> serial;
  apply(5, queueCreate("test.apply"), [&](std::size_t i) { serial.push_back(i); });
  EXPECT_EQ(serial, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

}  // namespace

namespace {

char gLabelSeenBySignal[64];

void copyLabel(int) {
  // Only async-signal-safe work: read the thread-local label pointer and copy bytes.
  const char* label = dispatch::currentQueueLabel();
  std::size_t i = 0;
  for (; label[i] && i + 1 < sizeof gLabelSeenBySignal; ++i) gLabelSeenBySignal[i] = label[i];
  gLabelSeenBySignal[i] = 0;
}

TEST(QueueTest, LabelIsReadableFromASignalHandlerAndWorkersHaveOsNames) {
  struct sigaction action {
  }, previous{};
  action.sa_handler = copyLabel;
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  auto q = dispatch::queueCreate("test.signal.label");
  dispatch::sync(q, [] { ::raise(SIGUSR2); });
  EXPECT_STREQ(gLabelSeenBySignal, "test.signal.label");
  std::thread([] { ::raise(SIGUSR2); }).join();
  EXPECT_STREQ(gLabelSeenBySignal, "");
  ::sigaction(SIGUSR2, &previous, nullptr);

  std::string comm;
  auto done = dispatch::semaphoreCreate(0);
  dispatch::async(dispatch::globalQueue(), [&] {
    std::ifstream in("/proc/self/task/" + std::to_string(gettid()) + "/comm");
    std::getline(in, comm);
    done->signal();
  });
  ASSERT_EQ(done->wait(dispatch::time(20)), 0);
  EXPECT_EQ(comm, "pl-gq-default");
}

}  // namespace
