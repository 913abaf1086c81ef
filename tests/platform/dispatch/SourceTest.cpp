#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pipe.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"

namespace {

using namespace dispatch;

struct Captured {};

TEST(SourceTest, ReadSourceCancelledWhileAnEventIsQueuedNeverRunsItsHandler) {
  pltest::Pipe p;
  auto q = queueCreate("test.source");
  auto witnessQueue = queueCreate("test.witness");
  auto captured = std::make_shared<Captured>();
  std::weak_ptr<Captured> weak = captured;
  std::atomic<int> handled{0}, cancelled{0};

  // The subject registers first; the witness on the same descriptor is told in the same reactor
  // round, after the subject's event has been queued.
  auto subject = sourceCreate(SourceType::Read, p.r, 0, q);
  subject->setEventHandler([&handled, captured] { ++handled; });
  subject->setCancelHandler([&cancelled, captured] { ++cancelled; });
  captured.reset();
  std::atomic<bool> witnessed{false};
  auto witness = sourceCreate(SourceType::Read, p.r, 0, witnessQueue);
  witness->setEventHandler([&] { witnessed = true; });

  auto gate = semaphoreCreate(0);
  async(q, [&] { gate->wait(TimeForever); });  // holds the target queue
  subject->resume();
  witness->resume();
  ASSERT_EQ(::write(p.w, "x", 1), 1);
  ASSERT_TRUE(pltest::pumpUntil([&] { return witnessed.load(); }));
  witness->cancel();

  subject->suspend();
  subject->cancel();
  EXPECT_TRUE(subject->isCancelled());
  gate->signal();
  sync(q, [] {});  // the queued event has had its turn
  EXPECT_EQ(handled.load(), 0);
  EXPECT_EQ(cancelled.load(), 0);  // still suspended
  EXPECT_FALSE(weak.expired());

  subject->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] { return cancelled.load() == 1 && weak.expired(); }));
  sync(q, [] {});
  EXPECT_EQ(cancelled.load(), 1);
  EXPECT_EQ(handled.load(), 0);
}

TEST(SourceTest, ReadDataIsEvaluatedAtDeliveryAndIsZeroAtTheEndOfAStream) {
  pltest::Pipe p;
  auto q = queueCreate("test.read");
  std::mutex m;
  std::vector<unsigned long> seen;
  auto src = sourceCreate(SourceType::Read, p.r, 0, q);
  src->setEventHandler([&, raw = src.get()] {
    std::lock_guard lock(m);
    seen.push_back(raw->data());
    char buf[64];
    while (::read(p.r, buf, sizeof buf) > 0) {
    }
  });
  ASSERT_EQ(::write(p.w, "hello", 5), 5);
  src->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(m);
    return seen.size() == 1;
  }));
  p.closeWriteEnd();
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(m);
    return seen.size() >= 2;
  }));
  src->cancel();
  sync(q, [] {});
  std::lock_guard lock(m);
  EXPECT_EQ(seen[0], 5u);
  EXPECT_EQ(seen[1], 0u);
}

TEST(SourceTest, ReadSourceOnARegularFileReportsTheBytesLeft) {
  pltest::Sandbox sandbox;
  int fd = ::open(sandbox.path("file").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "0123456789", 10), 10);
  ASSERT_EQ(::lseek(fd, 4, SEEK_SET), 4);
  auto q = queueCreate("test.file");
  std::mutex m;
  std::vector<unsigned long> seen;
  auto src = sourceCreate(SourceType::Read, fd, 0, q);
  src->setEventHandler([&, raw = src.get()] {
    std::lock_guard lock(m);
    seen.push_back(raw->data());
    char buf[16];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
    if (seen.size() == 2) raw->cancel();
  });
  src->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] { return src->isCancelled(); }));
  sync(q, [] {});
  std::lock_guard lock(m);
  EXPECT_EQ(seen, (std::vector<unsigned long>{6, 0}));
  ::close(fd);
}

TEST(SourceTest, HandlerNeverRunsConcurrentlyWithItselfAndMergesReadiness) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  ::fcntl(fds[1], F_SETFL, 0);  // the writer blocks while the buffer is full
  auto q = queueCreate("test.merge", QueueAttr::Concurrent);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::atomic<unsigned long> total{0};
  auto src = sourceCreate(SourceType::Read, fds[0], 0, q);
  src->setEventHandler([&, raw = src.get()] {
    if (inside.fetch_add(1) != 0) overlapped = true;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) total += static_cast<unsigned long>(n);
    inside.fetch_sub(1);
  });
  src->resume();
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(::write(fds[1], "abcd", 4), 4);
  });
  writer.join();
  ASSERT_TRUE(pltest::pumpUntil([&] { return total.load() == 8000; }));
  EXPECT_FALSE(overlapped);
  src->cancel();
  sync(q, [] {});
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(SourceTest, ReadAndWriteSourcesOnOneDescriptorCoexist) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  auto q = queueCreate("test.rw");
  std::atomic<int> writable{0};
  std::atomic<unsigned long> readable{0};
  auto w = sourceCreate(SourceType::Write, fds[0], 0, q);
  auto r = sourceCreate(SourceType::Read, fds[0], 0, q);
  w->setEventHandler([&, raw = w.get()] {
    // Level-triggered: fires again while writable; stop after a few.
    EXPECT_GT(raw->data(), 0u);
    if (++writable == 3) raw->suspend();
  });
  r->setEventHandler([&, raw = r.get()] {
    readable = raw->data();
    char buf[16];
    while (::read(fds[0], buf, sizeof buf) > 0) {
    }
  });
  w->resume();
  r->resume();
  ASSERT_EQ(::write(fds[1], "ping", 4), 4);
  ASSERT_TRUE(pltest::pumpUntil([&] { return writable.load() == 3 && readable.load() == 4; }));
  w->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] { return writable.load() > 3; }));
  w->cancel();
  r->cancel();
  sync(q, [] {});
  ::close(fds[0]);
  ::close(fds[1]);
}

// A report for one direction of a descriptor must not leave it unwatched: the read source keeps
// reporting and the write source, waiting for room all along, is told when it comes.
TEST(SourceTest, AReportForOneDirectionLeavesTheOtherWatched) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  std::vector<char> block(65536, 'x');
  while (::write(fds[0], block.data(), block.size()) > 0) {
  }
  auto q = queueCreate("test.directions");
  std::atomic<int> writable{0};
  std::atomic<int> reads{0};
  auto w = sourceCreate(SourceType::Write, fds[0], 0, q);
  auto r = sourceCreate(SourceType::Read, fds[0], 0, q);
  w->setEventHandler([&, raw = w.get()] {
    ++writable;
    raw->suspend();
  });
  r->setEventHandler([&] {
    char buf[16];
    while (::read(fds[0], buf, sizeof buf) > 0) {
    }
    ++reads;
  });
  w->resume();  // full: waits for room
  r->resume();
  ASSERT_EQ(::write(fds[1], "ping", 4), 4);
  ASSERT_TRUE(pltest::pumpUntil([&] { return reads.load() == 1; }));
  ASSERT_EQ(::write(fds[1], "pong", 4), 4);
  ASSERT_TRUE(pltest::pumpUntil([&] { return reads.load() == 2; }));
  EXPECT_EQ(writable.load(), 0);
  while (::read(fds[1], block.data(), block.size()) > 0) {
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return writable.load() == 1; }));
  w->resume();
  w->cancel();
  r->cancel();
  sync(q, [] {});
  ::close(fds[0]);
  ::close(fds[1]);
}

// A source made for a descriptor that an earlier, cancelled source watched (and saw ready) is
// watched afresh.
TEST(SourceTest, ANewSourceOnADescriptorAnEarlierSourceWatchedFires) {
  pltest::Pipe p;
  auto q = queueCreate("test.again");
  for (int round = 0; round < 3; ++round) {
    std::atomic<int> fired{0};
    auto src = sourceCreate(SourceType::Read, p.r, 0, q);
    src->setEventHandler([&] {
      char c;
      while (::read(p.r, &c, 1) > 0) {
      }
      ++fired;
    });
    src->resume();
    ASSERT_EQ(::write(p.w, "x", 1), 1);
    ASSERT_TRUE(pltest::pumpUntil([&] { return fired.load() == 1; })) << "round " << round;
    src->cancel();
    sync(q, [] {});
  }
}

TEST(SourceTest, ReadDataReportsDatagramSizesAndPendingConnections) {
  // UDP: the next datagram's size, 0 for an empty one.
  sockaddr_in addr;
  int rx = pltest::boundLoopbackUdpSocket(&addr, true);
  int tx = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(rx, 0);
  socklen_t len = sizeof addr;
  auto q = queueCreate("test.udp");
  std::mutex m;
  std::vector<unsigned long> sizes;
  auto src = sourceCreate(SourceType::Read, rx, 0, q);
  src->setEventHandler([&, raw = src.get()] {
    std::lock_guard lock(m);
    sizes.push_back(raw->data());
    char buf[2048];
    ::recv(rx, buf, sizeof buf, 0);  // one datagram per event
  });
  ASSERT_EQ(::sendto(tx, "12345678", 8, 0, reinterpret_cast<sockaddr*>(&addr), len), 8);
  ASSERT_EQ(::sendto(tx, "", 0, 0, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::sendto(tx, "abc", 3, 0, reinterpret_cast<sockaddr*>(&addr), len), 3);
  src->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(m);
    return sizes.size() == 3;
  }));
  src->cancel();
  sync(q, [] {});
  EXPECT_EQ(sizes, (std::vector<unsigned long>{8, 0, 3}));
  ::close(rx);
  ::close(tx);

  // Listening TCP socket: the number of connections waiting to be accepted.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  addr.sin_port = 0;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 16), 0);
  len = sizeof addr;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::vector<int> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(clients.back(), reinterpret_cast<sockaddr*>(&addr), len), 0);
  }
  std::atomic<unsigned long> pending{0};
  auto accept = sourceCreate(SourceType::Read, listener, 0, q);
  accept->setEventHandler([&, raw = accept.get()] {
    pending = raw->data();
    for (unsigned long i = 0; i < raw->data(); ++i) ::close(::accept(listener, nullptr, nullptr));
  });
  accept->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] { return pending.load() != 0; }));
  EXPECT_EQ(pending.load(), 3u);
  accept->cancel();
  sync(q, [] {});
  for (int c : clients) ::close(c);
  ::close(listener);
}

TEST(SourceTest, TimerSourceReArmedFromItsHandlerFiresAgain) {
  ns::Clock::installVirtual();
  auto q = queueCreate("test.timer");
  std::atomic<int> fired{0};
  auto timer = sourceCreate(SourceType::Timer, 0, 0, q);
  timer->setEventHandler([&, raw = timer.get()] {
    if (++fired == 1) raw->setTimer(time(0.2), TimeForever);
  });
  timer->setTimer(time(0.2), TimeForever);
  timer->resume();
  ns::Clock::advance(0.19);
  EXPECT_FALSE(pltest::pumpUntil([&] { return fired.load() > 0; }, 0.05));
  ns::Clock::advance(0.01);
  ASSERT_TRUE(pltest::pumpUntil([&] { return fired.load() == 1; }));
  sync(q, [] {});  // the handler has re-armed
  ns::Clock::advance(0.2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return fired.load() == 2; }));
  ns::Clock::advance(10);
  EXPECT_FALSE(pltest::pumpUntil([&] { return fired.load() > 2; }, 0.05));
  timer->cancel();
  ns::Clock::installReal();
}

TEST(SourceTest, RepeatingTimerMergesFiringsMissedWhileSuspended) {
  ns::Clock::installVirtual();
  auto q = queueCreate("test.repeat");
  std::mutex m;
  std::vector<unsigned long> counts;
  auto timer = sourceCreate(SourceType::Timer, 0, 0, q);
  timer->setEventHandler([&, raw = timer.get()] {
    std::lock_guard lock(m);
    counts.push_back(raw->data());
  });
  timer->setTimer(time(1), 1, 0.01);
  timer->resume();
  ns::Clock::advance(1);
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(m);
    return counts.size() == 1;
  }));
  sync(q, [] {});
  timer->suspend();
  ns::Clock::advance(3);
  sync(q, [] {});
  {
    std::lock_guard lock(m);
    EXPECT_EQ(counts.size(), 1u);
  }
  timer->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(m);
    return counts.size() == 2;
  }));
  {
    std::lock_guard lock(m);
    EXPECT_EQ(counts, (std::vector<unsigned long>{1, 3}));
  }
  timer->cancel();
  ns::Clock::installReal();
}

TEST(SourceTest, TimerSourceOnTheRealClockFires) {
  auto q = queueCreate("test.realtimer");
  std::atomic<int> fired{0};
  auto timer = sourceCreate(SourceType::Timer, 0, 0, q);
  timer->setEventHandler([&] { ++fired; });
  timer->setTimer(time(0.001), 0.001);
  timer->resume();
  ASSERT_TRUE(pltest::pumpUntil([&] { return fired.load() >= 3; }));
  std::atomic<bool> cancelRan{false};
  timer->setCancelHandler([&] { cancelRan = true; });
  timer->cancel();
  ASSERT_TRUE(pltest::pumpUntil([&] { return cancelRan.load(); }));
  int after = fired.load();
  sync(q, [] {});
  EXPECT_EQ(fired.load(), after);
}

// Real-clock timers fire in time whatever the reactor's timer was last set for: a far one still
// waiting, a nearer one cancelled, or one that has just fired.
TEST(SourceTest, RealClockTimersFireWhateverWasScheduledBefore) {
  auto q = queueCreate("test.realtimers");
  auto makeTimer = [&](double seconds, std::atomic<int>& fired) {
    auto timer = sourceCreate(SourceType::Timer, 0, 0, q);
    timer->setEventHandler([&fired] { ++fired; });
    timer->setTimer(time(seconds), TimeForever);
    timer->resume();
    return timer;
  };
  std::atomic<int> farFired{0}, nearFired{0}, cancelledFired{0}, laterFired{0}, nextFired{0};
  auto far = makeTimer(600, farFired);
  auto nearTimer = makeTimer(0.01, nearFired);
  ASSERT_TRUE(pltest::pumpUntil([&] { return nearFired.load() == 1; }));

  auto cancelled = makeTimer(0.02, cancelledFired);
  auto later = makeTimer(0.04, laterFired);
  cancelled->cancel();
  ASSERT_TRUE(pltest::pumpUntil([&] { return laterFired.load() == 1; }));

  auto next = makeTimer(0.001, nextFired);
  ASSERT_TRUE(pltest::pumpUntil([&] { return nextFired.load() == 1; }));
  EXPECT_EQ(farFired.load(), 0);
  EXPECT_EQ(cancelledFired.load(), 0);
  for (auto& timer : {far, nearTimer, later, next}) timer->cancel();
  sync(q, [] {});
}

}  // namespace
