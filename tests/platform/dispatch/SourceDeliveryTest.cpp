// How readiness reaches handlers when many sources fire at once from many threads: the thread
// woken by a report may run the handler itself, and none of the queues' rules may change for it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pipe.h"
#include "platform/testing/Pump.h"

namespace {

using namespace dispatch;

// Reads what the pipe holds, checking that the bytes continue the writer's count.
int drainCounting(int fd, unsigned char& expected, std::atomic<bool>& outOfOrder) {
  unsigned char buf[256];
  int total = 0;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return total;
    for (ssize_t i = 0; i < n; ++i)
      if (buf[i] != expected++) outOfOrder = true;
    total += static_cast<int>(n);
  }
}

TEST(SourceDeliveryTest, SourcesOfOneSerialQueueRunOneAtATimeInOrderWithTheQueuesData) {
  constexpr int kQueues = 4, kSourcesPerQueue = 4, kBytes = 300;
  static int key;
  struct Lane {
    ns::Ref<Queue> queue;
    int marker = 0;
    std::atomic<int> inFlight{0};
    long issued = 0, ran = 0;  // touched on the queue only
  };
  struct Feed {
    pltest::Pipe pipe;
    Lane* lane = nullptr;
    unsigned char expected = 0;  // touched on the lane's queue only
    ns::Ref<Source> source;
  };
  std::vector<std::unique_ptr<Lane>> lanes;
  std::vector<std::unique_ptr<Feed>> feeds;
  std::atomic<int> received{0};
  std::atomic<bool> overlapped{false}, offQueue{false}, outOfOrder{false};

  for (int l = 0; l < kQueues; ++l) {
    auto lane = std::make_unique<Lane>();
    lane->queue = queueCreate("test.delivery.lane");
    setSpecific(lane->queue, &key, &lane->marker);
    for (int s = 0; s < kSourcesPerQueue; ++s) {
      auto feed = std::make_unique<Feed>();
      feed->lane = lane.get();
      feed->source = sourceCreate(SourceType::Read, feed->pipe.r, 0, lane->queue);
      Feed* f = feed.get();
      feed->source->setEventHandler([f, &received, &overlapped, &offQueue, &outOfOrder] {
        Lane& ln = *f->lane;
        if (ln.inFlight.fetch_add(1) != 0) overlapped = true;
        if (!isCurrentQueue(ln.queue) || getSpecific(&key) != &ln.marker || currentQueue() != ln.queue)
          offQueue = true;
        received += drainCounting(f->pipe.r, f->expected, outOfOrder);
        // Blocks queued from handlers keep their order among the handlers that follow.
        async(ln.queue, [&ln, n = ln.issued++, &outOfOrder] {
          if (n != ln.ran++) outOfOrder = true;
        });
        ln.inFlight.fetch_sub(1);
      });
      feed->source->resume();
      feeds.push_back(std::move(feed));
    }
    lanes.push_back(std::move(lane));
  }

  std::vector<std::thread> writers;
  for (auto& feed : feeds)
    writers.emplace_back([fd = feed->pipe.w] {
      for (int i = 0; i < kBytes; ++i) {
        auto byte = static_cast<unsigned char>(i);
        while (::write(fd, &byte, 1) != 1) ASSERT_EQ(errno, EAGAIN);
      }
    });
  for (auto& w : writers) w.join();
  constexpr int kTotal = kQueues * kSourcesPerQueue * kBytes;
  ASSERT_TRUE(pltest::pumpUntil([&] { return received.load() == kTotal; }, 30));

  for (auto& feed : feeds) feed->source->cancel();
  for (auto& lane : lanes) {
    long issued = 0, ran = 0;
    sync(lane->queue, [&] {
      issued = lane->issued;
      ran = lane->ran;
    });
    EXPECT_GT(issued, 0);
    EXPECT_EQ(ran, issued);
  }
  EXPECT_FALSE(overlapped.load());
  EXPECT_FALSE(offQueue.load());
  EXPECT_FALSE(outOfOrder.load());
}

TEST(SourceDeliveryTest, HandlersThatBlockLeaveLaterReadinessToOtherThreads) {
  // Each handler waits until the test lets it go; the next source can only fire meanwhile if
  // the thread that was woken for the first left the wait for readiness to another.
  constexpr int kChain = 6;
  std::vector<std::unique_ptr<pltest::Pipe>> pipes;
  std::vector<ns::Ref<Source>> sources;
  std::vector<ns::Ref<Semaphore>> started, release;
  std::atomic<int> finished{0};
  for (int i = 0; i < kChain; ++i) {
    pipes.push_back(std::make_unique<pltest::Pipe>());
    started.push_back(semaphoreCreate(0));
    release.push_back(semaphoreCreate(0));
    auto source = sourceCreate(SourceType::Read, pipes[i]->r, 0, queueCreate("test.delivery.chain"));
    auto up = started[i], go = release[i];
    int fd = pipes[i]->r;
    source->setEventHandler([up, go, fd, &finished] {
      char c;
      while (::read(fd, &c, 1) > 0) {
      }
      up->signal();
      if (go->wait(time(20)) == 0) ++finished;
    });
    source->resume();
    sources.push_back(source);
  }
  for (int i = 0; i < kChain; ++i) {
    ASSERT_EQ(::write(pipes[i]->w, "x", 1), 1);
    ASSERT_EQ(started[i]->wait(time(20)), 0) << "source " << i << " never ran";
  }
  for (auto& go : release) go->signal();
  ASSERT_TRUE(pltest::pumpUntil([&] { return finished.load() == kChain; }, 30));
  for (auto& s : sources) s->cancel();
}

TEST(SourceDeliveryTest, ReadinessForABusyQueueRunsAfterItsEarlierBlocks) {
  auto target = queueCreate("test.delivery.busy");
  auto q = queueCreate("test.delivery.busy.inner");
  setTargetQueue(q, target);
  pltest::Pipe p;
  std::vector<int> order;  // touched on target only
  auto source = sourceCreate(SourceType::Read, p.r, 0, q);
  source->setEventHandler([&] {
    char c;
    while (::read(p.r, &c, 1) > 0) order.push_back(2);
  });
  auto witnessQueue = queueCreate("test.delivery.witness");
  std::atomic<bool> witnessed{false};
  auto witness = sourceCreate(SourceType::Read, p.r, 0, witnessQueue);
  witness->setEventHandler([&] { witnessed = true; });
  // The byte stays unread, so the witness runs again and again; one run may have begun as it is
  // cancelled, and is over only once the cancel handler has run.
  auto witnessGone = semaphoreCreate(0);
  witness->setCancelHandler([witnessGone] { witnessGone->signal(); });

  auto entered = semaphoreCreate(0), gate = semaphoreCreate(0);
  async(target, [&] {
    entered->signal();
    gate->wait(TimeForever);
    order.push_back(1);
  });
  ASSERT_EQ(entered->wait(time(20)), 0);
  source->resume();
  witness->resume();
  ASSERT_EQ(::write(p.w, "x", 1), 1);
  // The report has been taken and handed on; the busy queue keeps the handler waiting.
  ASSERT_TRUE(pltest::pumpUntil([&] { return witnessed.load(); }));
  witness->cancel();
  ASSERT_EQ(witnessGone->wait(time(20)), 0);
  gate->signal();
  std::size_t seen = 0;
  ASSERT_TRUE(pltest::pumpUntil([&] {
    sync(target, [&] { seen = order.size(); });
    return seen == 2;
  }));
  sync(target, [&] { EXPECT_EQ(order, (std::vector<int>{1, 2})); });
  source->cancel();
}

TEST(SourceDeliveryTest, AHandlerMaySyncOntoQueuesThatNeedPoolThreads) {
  // A handler run by the thread that took the report counts as one of the pool's: a sync onto a
  // queue whose own work waits for another pool block must still finish.
  pltest::Pipe p;
  auto q = queueCreate("test.delivery.syncing");
  auto other = queueCreate("test.delivery.other");
  auto done = semaphoreCreate(0);
  std::atomic<int> result{0};
  auto source = sourceCreate(SourceType::Read, p.r, 0, q);
  source->setEventHandler([&] {
    char c;
    while (::read(p.r, &c, 1) > 0) {
    }
    sync(other, [&] {
      auto inner = semaphoreCreate(0);
      async(globalQueue(), [&] {
        result = 42;
        inner->signal();
      });
      inner->wait(time(20));
    });
    done->signal();
  });
  source->resume();
  ASSERT_EQ(::write(p.w, "x", 1), 1);
  ASSERT_EQ(done->wait(time(20)), 0);
  EXPECT_EQ(result.load(), 42);
  source->cancel();
}

// Work a handler hands on, and the work that hands on in turn, runs once, in order, on its own
// queue, whichever thread takes it: the one that ran the handler, or the pool thread woken for it.
// Every round waits for the one before, so each starts from a single report.
TEST(SourceDeliveryTest, WorkHandedOnFromAHandlerRunsOnceInOrderOnItsQueue) {
  constexpr int kRounds = 3000;
  pltest::Pipe p;
  auto handlerQueue = queueCreate("test.delivery.handler");
  auto next = queueCreate("test.delivery.next");
  auto last = queueCreate("test.delivery.last");
  auto aside = queueCreate("test.delivery.aside");
  int handled = 0, nextRan = 0, lastRan = 0;  // each touched on its own queue only
  std::atomic<bool> offQueue{false}, outOfOrder{false};
  auto finished = semaphoreCreate(0);
  auto source = sourceCreate(SourceType::Read, p.r, 0, handlerQueue);
  auto writeByte = [w = p.w] {
    char c = 'x';
    return ::write(w, &c, 1) == 1;
  };
  source->setEventHandler([&] {
    char buf[16];
    ssize_t n = ::read(p.r, buf, sizeof buf);
    if (n != 1) outOfOrder = true;
    if (n <= 0) return;
    int round = handled++;
    async(next, [&, round] {
      if (!isCurrentQueue(next)) offQueue = true;
      if (round != nextRan++) outOfOrder = true;
      // Now and then a step waits for another queue, as a blocked thread of the pool.
      if (round % 100 == 0) sync(aside, [] {});
      async(last, [&, round] {
        if (!isCurrentQueue(last)) offQueue = true;
        if (round != lastRan++) outOfOrder = true;
        if (round + 1 == kRounds)
          finished->signal();
        else if (!writeByte())
          outOfOrder = true;
      });
    });
  });
  source->resume();
  ASSERT_TRUE(writeByte());
  ASSERT_EQ(finished->wait(time(60)), 0);
  source->cancel();
  int h = 0, n = 0, l = 0;
  sync(handlerQueue, [&] { h = handled; });
  sync(next, [&] { n = nextRan; });
  sync(last, [&] { l = lastRan; });
  EXPECT_EQ(h, kRounds);
  EXPECT_EQ(n, kRounds);
  EXPECT_EQ(l, kRounds);
  EXPECT_FALSE(offQueue.load());
  EXPECT_FALSE(outOfOrder.load());
}

}  // namespace
