#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/core/Exception.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/Pump.h"

namespace {

using ns::BlockOperation;
using ns::Operation;
using ns::OperationQueue;

TEST(OperationTest, CancelledBeforeStartRunsItsCompletionOnceOffTheMainThread) {
  std::atomic<int> ran{0}, completions{0};
  std::atomic<bool> completedOnMain{true};
  auto op = BlockOperation::blockOperationWithBlock([&] { ++ran; });
  op->setCompletionBlock([&] {
    // Recorded before the count that the main thread waits for, so that it reads this value.
    completedOnMain = ns::Thread::isMainThread();
    ++completions;
  });
  op->cancel();
  EXPECT_TRUE(op->isReady());
  op->start();  // on the main thread
  EXPECT_TRUE(op->isFinished());
  EXPECT_FALSE(op->isExecuting());
  ASSERT_TRUE(pltest::pumpUntil([&] { return completions.load() == 1; }));
  EXPECT_FALSE(completedOnMain);
  op->cancel();
  EXPECT_THROW(op->start(), ns::Exception);
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(completions.load(), 1);

  // The same through a queue.
  auto queue = ns::make<OperationQueue>();
  auto queued = BlockOperation::blockOperationWithBlock([&] { ++ran; });
  queued->setCompletionBlock([&] { ++completions; });
  queued->cancel();
  queue->addOperation(queued);
  queue->waitUntilAllOperationsAreFinished();
  ASSERT_TRUE(pltest::pumpUntil([&] { return completions.load() == 2; }));
  EXPECT_EQ(ran.load(), 0);
}

TEST(OperationTest, MaxConcurrentOperationCountOneSerialisesInOrder) {
  auto queue = ns::make<OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> order;
  std::mutex m;
  for (int i = 0; i < 50; ++i) {
    queue->addOperationWithBlock([&, i] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      {
        std::lock_guard lock(m);
        order.push_back(i);
      }
      EXPECT_EQ(OperationQueue::currentQueue(), queue);
      inside.fetch_sub(1);
    });
  }
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(order.size(), 50u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationTest, UnlimitedQueueRunsOperationsConcurrently) {
  auto queue = ns::make<OperationQueue>();
  auto a = dispatch::semaphoreCreate(0), b = dispatch::semaphoreCreate(0);
  std::atomic<int> met{0};
  // Each waits for the other: run one after the other, the first gives up after its time-out.
  queue->addOperationWithBlock([&] {
    a->signal();
    if (b->wait(dispatch::time(10)) == 0) ++met;
  });
  queue->addOperationWithBlock([&] {
    b->signal();
    if (a->wait(dispatch::time(10)) == 0) ++met;
  });
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(met.load(), 2);
}

TEST(OperationTest, DependenciesHoldAnOperationBackAcrossQueues) {
  auto first = ns::make<OperationQueue>(), second = ns::make<OperationQueue>();
  std::vector<std::string> order;
  std::mutex m;
  auto record = [&](const char* s) {
    std::lock_guard lock(m);
    order.push_back(s);
  };
  auto gate = dispatch::semaphoreCreate(0);
  auto a = BlockOperation::blockOperationWithBlock([&] {
    gate->wait(dispatch::TimeForever);
    record("a");
  });
  auto b = BlockOperation::blockOperationWithBlock([&] { record("b"); });
  b->addDependency(a);
  EXPECT_FALSE(b->isReady());
  second->addOperation(b);
  first->addOperation(a);
  EXPECT_FALSE(b->isFinished());
  gate->signal();
  second->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b"}));
  EXPECT_THROW(second->addOperation(b), ns::Exception);  // finished
}

TEST(OperationTest, AnOperationJoinsOneQueueOnly) {
  auto q1 = ns::make<OperationQueue>(), q2 = ns::make<OperationQueue>();
  q1->setSuspended(true);
  auto op = ns::make<BlockOperation>([] {});
  q1->addOperation(op);
  EXPECT_THROW(q2->addOperation(op), ns::Exception);
  EXPECT_EQ(q1->operationCount(), 1u);
  q1->setSuspended(false);
  q1->waitUntilAllOperationsAreFinished();
}

// Manages its own state: finishes later, from a dispatch block.
class DelayedOperation : public Operation {
 public:
  bool isConcurrent() const override { return true; }
  bool isExecuting() const override { return executing_; }
  bool isFinished() const override { return finished_; }
  void start() override {
    willChangeValueForKey("isExecuting");
    executing_ = true;
    didChangeValueForKey("isExecuting");
    auto self = this->self<DelayedOperation>();
    dispatch::async(dispatch::globalQueue(), [self] {
      self->gate.wait(dispatch::TimeForever);
      self->willChangeValueForKey("isFinished");
      self->executing_ = false;
      self->finished_ = true;
      self->didChangeValueForKey("isExecuting");
      self->didChangeValueForKey("isFinished");
    });
  }
  dispatch::Semaphore gate{0};

 private:
  std::atomic<bool> executing_{false}, finished_{false};
};

TEST(OperationTest, ConcurrentOperationKeepsItsSlotUntilItReportsFinished) {
  auto queue = ns::make<OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  auto op = ns::make<DelayedOperation>();
  std::vector<std::string> changes;
  std::mutex m;
  op->addChangeObserver([&](Operation&, const std::string& key) {
    std::lock_guard lock(m);
    changes.push_back(key);
  });
  std::atomic<bool> nextRan{false};
  queue->addOperation(op);
  queue->addOperationWithBlock([&] { nextRan = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return op->isExecuting(); }));
  EXPECT_FALSE(pltest::pumpUntil([&] { return nextRan.load(); }, 0.05));
  EXPECT_EQ(queue->operationCount(), 2u);
  op->gate.signal();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(nextRan);
  std::lock_guard lock(m);
  EXPECT_EQ(changes, (std::vector<std::string>{"isExecuting", "isExecuting", "isFinished"}));
}

TEST(OperationTest, MainQueueRunsOperationsOnTheMainThread) {
  std::atomic<bool> done{false};
  std::atomic<bool> onMain{false};
  ns::Ref<OperationQueue> current;
  std::thread([&] {
    OperationQueue::mainQueue()->addOperationWithBlock([&] {
      onMain = ns::Thread::isMainThread();
      current = OperationQueue::currentQueue();
      done = true;
    });
  }).join();
  ASSERT_TRUE(pltest::pumpUntil([&] { return done.load(); }));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(current, OperationQueue::mainQueue());
  EXPECT_EQ(OperationQueue::mainQueue()->maxConcurrentOperationCount(), 1);
}

TEST(OperationTest, CancelAllOperationsCancelsPendingOnesBeforeTheRunningOneMakesRoomAndTellsIt) {
  auto queue = ns::make<OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  auto started = dispatch::semaphoreCreate(0);
  std::atomic<bool> sawCancel{false};
  std::atomic<int> later{0};
  auto running = ns::make<BlockOperation>();
  std::weak_ptr<BlockOperation> weak = running;
  running->addExecutionBlock([&, weak] {
    started->signal();
    while (!weak.lock()->isCancelled()) std::this_thread::yield();
    sawCancel = true;
  });
  auto pending = BlockOperation::blockOperationWithBlock([&] { ++later; });
  // Holds the running operation's cancel until the pending one has ended: the slot the running
  // one frees on cancel must find the pending one cancelled already.
  running->addChangeObserver([pending](Operation&, const std::string& key) {
    if (key != "isCancelled") return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pending->isFinished() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  });
  queue->addOperation(running);
  queue->addOperation(pending);
  for (int i = 0; i < 4; ++i) queue->addOperationWithBlock([&] { ++later; });
  ASSERT_EQ(started->wait(dispatch::time(20)), 0);
  queue->cancelAllOperations();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(sawCancel);
  EXPECT_TRUE(pending->isFinished());
  EXPECT_EQ(later.load(), 0) << "a pending operation ran although all were cancelled";
}

TEST(OperationTest, HigherPriorityStartsFirst) {
  auto queue = ns::make<OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  queue->setSuspended(true);
  std::vector<int> order;
  auto low = ns::make<BlockOperation>([&] { order.push_back(1); });
  auto high = ns::make<BlockOperation>([&] { order.push_back(2); });
  low->setQueuePriority(Operation::QueuePriorityLow);
  high->setQueuePriority(Operation::QueuePriorityVeryHigh);
  queue->addOperation(low);
  queue->addOperation(high);
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

}  // namespace
