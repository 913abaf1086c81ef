// Reading from accepted sockets: terminator, fixed-length and available-bytes reads, the
// read-ahead buffer, the maximum length, time-outs and the peer's end of stream.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cmath>

#include "lib/sockets/DispatchReadStorage.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/Pump.h"
#include "tests/lib/sockets/SocketTestSupport.h"

using namespace sockettest;

namespace {

using Connected = AcceptedPair;

void connect(Connected& c, const char* label,
             std::function<void(const ns::Ref<DispatchSocket>&)> onAccept = nullptr) {
  connectPair(c, label, 0, std::move(onAccept));
}

std::vector<std::pair<long, std::string>> reads(RecordingDelegate& d) {
  std::vector<std::pair<long, std::string>> result;
  for (auto& e : d.eventsOf(Event::Read)) result.emplace_back(e.tag, e.data);
  return result;
}

const ns::Data kCRLF = DispatchSocket::CRLFData();

// Waits until the reads together have carried at least `total` bytes.
bool waitForBytesRead(RecordingDelegate& d, std::size_t total) {
  return d.waitUntil([total](const std::vector<Event>& events) {
    std::size_t n = 0;
    for (const auto& e : events)
      if (e.kind == Event::Read) n += e.data.size();
    return n >= total;
  });
}

TEST(DispatchSocketRead, LineReadsQueuedFromAcceptCompleteInOrderThenFixedLength) {
  Connected c;
  connect(c, "read.lines", [](const ns::Ref<DispatchSocket>& child) {
    child->readDataToData_withTimeout_maxLength_tag(kCRLF, 30, 8190, 1);
    child->readDataToData_withTimeout_maxLength_tag(kCRLF, 30, 8190, 2);
    child->readDataToData_withTimeout_maxLength_tag(kCRLF, 30, 8190, 3);
    child->readDataToLength_withTimeout_tag(5, 30, 4);
  });
  ASSERT_TRUE(c.client.sendAll("GET /a HTTP/1.1\r\nHost: h\r\n\r\n"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 3));
  ASSERT_TRUE(c.client.sendAll("hello"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 4));
  using R = std::vector<std::pair<long, std::string>>;
  EXPECT_EQ(reads(*c.delegate),
            (R{{1, "GET /a HTTP/1.1\r\n"}, {2, "Host: h\r\n"}, {3, "\r\n"}, {4, "hello"}}));
  for (auto& e : c.delegate->events()) EXPECT_TRUE(e.onDelegateQueue);
  EXPECT_EQ(c.delegate->count(Event::ReadPartial), 0u);
  EXPECT_EQ(c.delegate->count(Event::Disconnect), 0u);
}

TEST(DispatchSocketRead, TwoRequestsInOneSegmentAreServedFromTheReadAheadBuffer) {
  Connected c;
  connect(c, "read.ahead");
  ASSERT_TRUE(c.client.sendAll("GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\ntail"));
  // Nothing reads yet: the bytes wait (the read source is held) and none is lost.
  for (long tag = 1; tag <= 4; ++tag) c.child->readDataToData_withTimeout_maxLength_tag(kCRLF, 30, 8190, tag);
  c.child->readDataWithTimeout_tag(30, 5);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 5));
  using R = std::vector<std::pair<long, std::string>>;
  EXPECT_EQ(
      reads(*c.delegate),
      (R{{1, "GET /1 HTTP/1.1\r\n"}, {2, "\r\n"}, {3, "GET /2 HTTP/1.1\r\n"}, {4, "\r\n"}, {5, "tail"}}));
}

// Reads of whatever is available, plain and bounded, one queued after another from the delegate:
// a long stream arrives whole and in order, and no bounded read goes past its bound.
TEST(DispatchSocketRead, ReadsOfWhateverIsAvailableCarryALongStreamWhole) {
  constexpr std::size_t kTotal = 2 << 20;
  constexpr std::size_t kBound = 1000;
  Connected c;
  connect(c, "read.available",
          [](const ns::Ref<DispatchSocket>& child) { child->readDataWithTimeout_tag(-1, 0); });
  auto received = std::make_shared<std::size_t>(0);
  c.delegate->onRead = [received](const ns::Ref<DispatchSocket>& sock, const ns::Data& data, long tag) {
    *received += data.length();
    if (*received >= kTotal) return;
    if (tag % 2 == 0) {
      sock->readDataWithTimeout_buffer_bufferOffset_maxLength_tag(-1, nullptr, 0, kBound, tag + 1);
    } else {
      sock->readDataWithTimeout_tag(-1, tag + 1);
    }
  };
  std::string stream(kTotal, '\0');
  for (std::size_t i = 0; i < kTotal; ++i) stream[i] = static_cast<char>(i * 31 + 7);
  ASSERT_TRUE(c.client.sendAll(stream));
  ASSERT_TRUE(waitForBytesRead(*c.delegate, kTotal));
  std::string joined;
  for (const auto& [tag, data] : reads(*c.delegate)) {
    if (tag % 2 == 1) {
      EXPECT_LE(data.size(), kBound) << "read " << tag;
    }
    joined += data;
  }
  EXPECT_TRUE(joined == stream) << "the stream arrived changed";
  EXPECT_EQ(c.delegate->count(Event::Disconnect), 0u);
}

// A stream read one read at a time, each asked for from the delegate's queue when the last has
// arrived: bytes that come as a read ends wait for the next read, and the end of the stream comes
// after the last of them, also when the reads stop for a while and the peer closes meanwhile.
TEST(DispatchSocketRead, BytesArrivingAsAReadEndsWaitForTheNextAndTheEndComesAfterThem) {
  constexpr std::size_t kTotal = 8 << 20;
  Connected c;
  connect(c, "read.between",
          [](const ns::Ref<DispatchSocket>& child) { child->readDataWithTimeout_tag(-1, 0); });
  auto received = std::make_shared<std::size_t>(0);
  c.delegate->onRead = [received](const ns::Ref<DispatchSocket>& sock, const ns::Data& data, long tag) {
    *received += data.length();
    if (*received < kTotal) sock->readDataWithTimeout_tag(-1, tag + 1);
  };
  std::string stream(kTotal, '\0');
  for (std::size_t i = 0; i < kTotal; ++i) stream[i] = static_cast<char>(i * 37 + 11);
  ASSERT_TRUE(c.client.sendAll(stream));
  ASSERT_TRUE(waitForBytesRead(*c.delegate, kTotal));
  // No read waits now: the last piece and the end of the stream wait for the next ones.
  const std::string tail = "the last piece, sent while no read waited";
  ASSERT_TRUE(c.client.sendAll(tail));
  c.client.shutdownWrite();
  int serverFD = -1;
  c.child->performBlock([&] { serverFD = c.child->socketFD(); });
  int waiting = 0;
  ASSERT_TRUE(pltest::pumpUntil([&] {
    return ::ioctl(serverFD, FIONREAD, &waiting) == 0 && static_cast<std::size_t>(waiting) == tail.size();
  }));
  EXPECT_EQ(c.delegate->count(Event::Disconnect), 0u) << "the end came before the bytes ahead of it";
  constexpr long kTailTag = 1 << 30;
  c.child->readDataWithTimeout_tag(-1, kTailTag);
  c.child->readDataWithTimeout_tag(-1, kTailTag + 1);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto all = reads(*c.delegate);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), std::make_pair(kTailTag, tail));
  std::string joined;
  for (const auto& [tag, data] : all)
    if (tag != kTailTag) joined += data;
  EXPECT_TRUE(joined == stream) << "the stream arrived changed";
  EXPECT_EQ(c.delegate->events().back().kind, Event::Disconnect);
  EXPECT_EQ(c.delegate->eventsOf(Event::Disconnect)[0].error->code(), DispatchSocketClosedError);
}

// Large reads of whatever is available go into storage that is used again once their bytes are
// let go of, never while a read's bytes are still held; what waits for reuse stays bounded.
TEST(DispatchSocketRead, LargeReadsReuseStorageOnlyOnceTheirBytesAreLetGo) {
  constexpr std::size_t kPiece = 300 * 1024;
  constexpr int kPieces = 12;
  Connected c;
  connect(c, "read.storage");
  // Room for a whole piece on both sides, so that each is waiting whole before its read is asked
  // for, and arrives as one large read.
  int serverFD = -1;
  c.child->performBlock([&] { serverFD = c.child->socketFD(); });
  ASSERT_GE(serverFD, 0);
  const int room = 2 << 20;
  ASSERT_EQ(::setsockopt(serverFD, SOL_SOCKET, SO_RCVBUF, &room, sizeof room), 0);
  ASSERT_EQ(::setsockopt(c.client.fd(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room), 0);
  // Every other read's bytes are held to the end; the rest are let go of at once.
  auto held = std::make_shared<std::vector<ns::Data>>();
  c.delegate->onRead = [held](const ns::Ref<DispatchSocket>&, const ns::Data& data, long tag) {
    if (tag % 2 == 0) held->push_back(data);
  };
  std::string stream;
  std::size_t keptAtMost = 0;
  for (int piece = 0; piece < kPieces; ++piece) {
    std::string bytes(kPiece, '\0');
    for (std::size_t i = 0; i < kPiece; ++i) bytes[i] = static_cast<char>(i * 131 + piece * 7);
    stream += bytes;
    ASSERT_TRUE(c.client.sendAll(bytes));
    int waiting = 0;
    ASSERT_TRUE(pltest::pumpUntil([&] {
      return ::ioctl(serverFD, FIONREAD, &waiting) == 0 && static_cast<std::size_t>(waiting) == kPiece;
    })) << "piece "
        << piece << ": " << waiting << " waiting";
    c.child->readDataWithTimeout_tag(-1, piece);
    ASSERT_TRUE(c.delegate->waitForCount(Event::Read, static_cast<std::size_t>(piece) + 1));
    c.delegate->drain();
    keptAtMost = std::max(keptAtMost, dispatch_read_storage::keptBytes());
  }
  std::string joined;
  for (const auto& [tag, data] : reads(*c.delegate)) {
    EXPECT_EQ(data.size(), kPiece) << "read " << tag;
    joined += data;
  }
  EXPECT_TRUE(joined == stream) << "the stream arrived changed";
  // The held reads' own bytes are what the delegate was given, though other reads came after.
  std::string heldNow, heldThen;
  dispatch::sync(c.delegate->queue(), [&] {
    for (const auto& data : *held) heldNow.append(reinterpret_cast<const char*>(data.bytes()), data.length());
  });
  for (const auto& [tag, data] : reads(*c.delegate))
    if (tag % 2 == 0) heldThen += data;
  EXPECT_EQ(heldNow.size(), kPiece * kPieces / 2);
  EXPECT_TRUE(heldNow == heldThen) << "storage was reused while its bytes were held";
  // The reads let go of left their storage for the next; never more than the bound waits.
  EXPECT_GT(keptAtMost, 0u);
  dispatch::sync(c.delegate->queue(), [&] { held->clear(); });
  EXPECT_LE(dispatch_read_storage::keptBytes(), dispatch_read_storage::kKeptBytes);
}

TEST(DispatchSocketRead, LineLongerThanTheMaximumClosesWithCode6) {
  Connected c;
  connect(c, "read.maxed", [](const ns::Ref<DispatchSocket>& child) {
    child->readDataToData_withTimeout_maxLength_tag(kCRLF, 30, 8190, 1);
  });
  ASSERT_TRUE(c.client.sendAll(std::string(9000, 'x')));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto disconnect = c.delegate->eventsOf(Event::Disconnect)[0];
  ASSERT_TRUE(pltest::isError(disconnect.error, DispatchSocketErrorDomain, DispatchSocketReadMaxedOutError));
  EXPECT_EQ(disconnect.error->localizedDescription(), "Read operation reached set maximum length");
  EXPECT_EQ(disconnect.sock, c.child.get());
  EXPECT_EQ(c.delegate->count(Event::Read), 0u);
  for (auto& e : c.delegate->eventsOf(Event::ReadPartial)) EXPECT_LE(e.length, 8190u);
  EXPECT_EQ(c.client.readToEnd(), "") << "the client sees the end of the stream";
  EXPECT_TRUE(c.child->isDisconnected());
}

TEST(DispatchSocketRead, FixedLengthReadReportsPartialThenWhole) {
  Connected c;
  connect(c, "read.partial",
          [](const ns::Ref<DispatchSocket>& child) { child->readDataToLength_withTimeout_tag(10, -1, 7); });
  ASSERT_TRUE(c.client.sendAll("0123"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::ReadPartial, 1));
  long tag = 0;
  std::uint64_t done = 0, total = 0;
  float progress = c.child->progressOfReadReturningTag_bytesDone_total(&tag, &done, &total);
  EXPECT_EQ(tag, 7);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(total, 10u);
  EXPECT_FLOAT_EQ(progress, 0.4f);
  ASSERT_TRUE(c.client.sendAll("456789"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 1));
  auto partials = c.delegate->eventsOf(Event::ReadPartial);
  ASSERT_EQ(partials.size(), 1u);
  EXPECT_EQ(partials[0].length, 4u);
  EXPECT_EQ(partials[0].tag, 7);
  EXPECT_EQ(reads(*c.delegate), (std::vector<std::pair<long, std::string>>{{7, "0123456789"}}));
  EXPECT_TRUE(std::isnan(c.child->progressOfReadReturningTag_bytesDone_total(&tag, &done, &total)));
  EXPECT_EQ(tag, 0);
}

TEST(DispatchSocketRead, ReadsIntoTheCallersBufferAtAnOffset) {
  Connected c;
  connect(c, "read.buffer");
  auto buffer = ns::make<ns::MutableData>(std::string_view("head:"));
  c.child->readDataToData_withTimeout_buffer_bufferOffset_tag(DispatchSocket::LFData(), -1, buffer, 5, 1);
  ASSERT_TRUE(c.client.sendAll("line one\nrest"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 1));
  EXPECT_EQ(c.delegate->eventsOf(Event::Read)[0].data, "line one\n");
  c.delegate->drain();
  EXPECT_EQ(buffer->toString(), "head:line one\n");
}

TEST(DispatchSocketRead, RequestsThatBreakTheRulesAreDropped) {
  Connected c;
  connect(c, "read.rules");
  auto buffer = ns::make<ns::MutableData>(std::string_view("abc"));
  c.child->readDataToData_withTimeout_maxLength_tag(kCRLF, -1, 1, 1);      // maximum below the terminator
  c.child->readDataToData_withTimeout_tag(ns::Data(), -1, 2);              // empty terminator
  c.child->readDataToLength_withTimeout_tag(0, -1, 3);                     // length 0
  c.child->readDataWithTimeout_buffer_bufferOffset_tag(-1, buffer, 4, 4);  // offset past the buffer
  c.child->readDataToLength_withTimeout_tag(2, -1, 5);
  ASSERT_TRUE(c.client.sendAll("ok"));
  ASSERT_TRUE(c.delegate->waitThenDrain(Event::Read, 1));
  EXPECT_EQ(reads(*c.delegate), (std::vector<std::pair<long, std::string>>{{5, "ok"}}));
}

TEST(DispatchSocketRead, ReadTimesOutWithCode4) {
  pltest::VirtualClock virtualClock;
  Connected c;
  connect(c, "read.timeout");
  c.child->readDataToData_withTimeout_tag(kCRLF, 0.2, 9);
  long tag = 0;
  c.child->progressOfReadReturningTag_bytesDone_total(&tag, nullptr, nullptr);
  ASSERT_EQ(tag, 9) << "the read and its timer are in place";
  virtualClock.advance(0.2);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto events = c.delegate->eventsOf(Event::ReadTimeout);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_DOUBLE_EQ(events[0].elapsed, 0.2);
  auto error = c.delegate->eventsOf(Event::Disconnect)[0].error;
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), DispatchSocketReadTimeoutError);
  EXPECT_EQ(error->localizedDescription(), "Read operation timed out");
  EXPECT_EQ(c.client.readToEnd(), "");
}

// Reads that wait one after another, each timed from when it began waiting: a finished read's
// deadline never ends a later one, and the later one still times out at its own.
TEST(DispatchSocketRead, EachWaitingReadIsTimedFromItsOwnStart) {
  pltest::VirtualClock virtualClock;
  Connected c;
  connect(c, "read.timers");
  for (long tag = 1; tag <= 3; ++tag) {
    c.child->readDataToData_withTimeout_tag(kCRLF, 1, tag);
    c.child->performBlock([] {});
    virtualClock.advance(0.75);
    ASSERT_TRUE(c.client.sendAll("line\r\n"));
    ASSERT_TRUE(c.delegate->waitForCount(Event::Read, static_cast<std::size_t>(tag)));
  }
  // Three quarters of a second past each start, three seconds past the first.
  EXPECT_EQ(c.delegate->count(Event::ReadTimeout), 0u);
  EXPECT_TRUE(c.child->isConnected());
  c.child->readDataToData_withTimeout_tag(kCRLF, 0.5, 4);
  c.child->performBlock([] {});
  virtualClock.advance(0.4);
  c.child->performBlock([] {});
  EXPECT_EQ(c.delegate->count(Event::ReadTimeout), 0u);
  virtualClock.advance(0.1);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto timeouts = c.delegate->eventsOf(Event::ReadTimeout);
  ASSERT_EQ(timeouts.size(), 1u);
  EXPECT_EQ(timeouts[0].tag, 4);
  EXPECT_DOUBLE_EQ(timeouts[0].elapsed, 0.5);
  EXPECT_EQ(c.delegate->eventsOf(Event::Disconnect)[0].error->code(), DispatchSocketReadTimeoutError);
}

TEST(DispatchSocketRead, ZeroTimeOutEndsAReadThatCannotCompleteAtOnce) {
  Connected c;
  connect(c, "read.zero");
  c.child->readDataToLength_withTimeout_tag(4, 0, 5);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  EXPECT_EQ(c.delegate->eventsOf(Event::Disconnect)[0].error->code(), DispatchSocketReadTimeoutError);
  EXPECT_EQ(c.delegate->eventsOf(Event::ReadTimeout)[0].tag, 5);
}

TEST(DispatchSocketRead, DisconnectAfterReadingClosesOnceTheQueuedReadsAreDone) {
  Connected c;
  connect(c, "read.after");
  c.child->readDataToData_withTimeout_tag(kCRLF, -1, 1);
  c.child->disconnectAfterReading();
  c.child->readDataToData_withTimeout_tag(kCRLF, -1, 2);  // dropped: asked after the request
  c.child->performBlock([] {});
  EXPECT_TRUE(c.child->isConnected());
  ASSERT_TRUE(c.client.sendAll("last\r\nignored\r\n"));
  ASSERT_TRUE(c.delegate->waitThenDrain(Event::Disconnect, 1));
  EXPECT_EQ(reads(*c.delegate), (std::vector<std::pair<long, std::string>>{{1, "last\r\n"}}));
  EXPECT_FALSE(c.delegate->eventsOf(Event::Disconnect)[0].error);
  EXPECT_EQ(c.client.readToEnd(), "");
}

TEST(DispatchSocketRead, DelegateExtensionAddsToTheReportedElapsedTime) {
  pltest::VirtualClock virtualClock;
  Connected c;
  connect(c, "read.extend");
  c.delegate->readExtensions = {0.2};
  c.child->readDataToData_withTimeout_tag(kCRLF, 0.2, 9);
  long tag = 0;
  c.child->progressOfReadReturningTag_bytesDone_total(&tag, nullptr, nullptr);
  ASSERT_EQ(tag, 9);
  virtualClock.advance(0.2);
  // Drained, the answer is on its way to the socket queue; after a block there it has re-armed the timer.
  ASSERT_TRUE(c.delegate->waitThenDrain(Event::ReadTimeout, 1));
  c.child->performBlock([] {});
  EXPECT_TRUE(c.child->isConnected()) << "an extension keeps the read going";
  virtualClock.advance(0.2);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto questions = c.delegate->eventsOf(Event::ReadTimeout);
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_DOUBLE_EQ(questions[0].elapsed, 0.2);
  EXPECT_DOUBLE_EQ(questions[1].elapsed, 0.4);
  EXPECT_EQ(questions[1].tag, 9);
  EXPECT_EQ(c.delegate->eventsOf(Event::Disconnect)[0].error->code(), DispatchSocketReadTimeoutError);
}

TEST(DispatchSocketRead, ExtendedReadStillCompletesWhenDataComes) {
  pltest::VirtualClock virtualClock;
  Connected c;
  connect(c, "read.extend.data");
  c.delegate->readExtensions = {5};
  c.child->readDataToData_withTimeout_tag(kCRLF, 1, 3);
  long tag = 0;
  c.child->progressOfReadReturningTag_bytesDone_total(&tag, nullptr, nullptr);
  ASSERT_EQ(tag, 3);
  virtualClock.advance(1);
  ASSERT_TRUE(c.delegate->waitThenDrain(Event::ReadTimeout, 1));
  c.child->performBlock([] {});
  ASSERT_TRUE(c.client.sendAll("late\r\n"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 1));
  EXPECT_EQ(c.delegate->eventsOf(Event::Read)[0].data, "late\r\n");
  EXPECT_EQ(c.delegate->count(Event::Disconnect), 0u);
}

TEST(DispatchSocketRead, PeerCloseDuringALineReadGivesCode7) {
  Connected c;
  connect(c, "read.eof",
          [](const ns::Ref<DispatchSocket>& child) { child->readDataToData_withTimeout_tag(kCRLF, -1, 1); });
  ASSERT_TRUE(c.client.sendAll("partial line"));
  c.client.shutdownWrite();
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto error = c.delegate->eventsOf(Event::Disconnect)[0].error;
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), DispatchSocketClosedError);
  EXPECT_EQ(error->localizedDescription(), "Socket closed by remote peer");
  EXPECT_EQ(c.delegate->count(Event::Read), 0u);
}

TEST(DispatchSocketRead, BytesBeforeThePeersCloseAreStillDelivered) {
  Connected c;
  connect(c, "read.eof.data");
  ASSERT_TRUE(c.client.sendAll("one\r\ntwo\r\n"));
  c.client.shutdownWrite();
  // Both lines arrive although the stream may have ended by the time they are asked for.
  c.child->readDataToData_withTimeout_tag(kCRLF, -1, 1);
  c.child->readDataToData_withTimeout_tag(kCRLF, -1, 2);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  using R = std::vector<std::pair<long, std::string>>;
  EXPECT_EQ(reads(*c.delegate), (R{{1, "one\r\n"}, {2, "two\r\n"}}));
  EXPECT_EQ(c.delegate->eventsOf(Event::Disconnect)[0].error->code(), DispatchSocketClosedError);
}

TEST(DispatchSocketRead, HalfDuplexKeepsTheSocketOpenForWriting) {
  Connected c;
  connect(c, "read.halfduplex", [](const ns::Ref<DispatchSocket>& child) {
    child->setAutoDisconnectOnClosedReadStream(false);
    child->readDataToData_withTimeout_tag(kCRLF, -1, 1);
  });
  c.client.shutdownWrite();
  ASSERT_TRUE(c.delegate->waitForCount(Event::CloseReadStream, 1));
  EXPECT_FALSE(c.child->autoDisconnectOnClosedReadStream());
  EXPECT_TRUE(c.child->isConnected());
  EXPECT_EQ(c.delegate->count(Event::Disconnect), 0u);
  c.child->writeData_withTimeout_tag(ns::Data("answer"), -1, 2);
  EXPECT_EQ(c.client.readExactly(6), "answer");
  ASSERT_TRUE(c.delegate->waitForCount(Event::Write, 1));
  c.child->disconnect();
  EXPECT_EQ(c.client.readToEnd(), "");
}

// Reads of a known length or up to a terminator read on readiness without counting first: a
// length far beyond one read step, a line beyond the read-ahead buffer's size, with or without a
// maximum, and the bytes after each still reach the next read.
TEST(DispatchSocketRead, LongLengthsAndLongLinesArriveWholeAndLeaveTheRestForTheNextRead) {
  const std::size_t kLong = (3 << 20) + 17;
  std::string body(kLong, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 23);
  const std::string longLine = std::string(6000, 'L') + "\r\n";
  const std::string unboundedLine = std::string(10000, 'U') + "\r\n";
  Connected c;
  connect(c, "read.long", [kLong](const ns::Ref<DispatchSocket>& child) {
    child->readDataToLength_withTimeout_tag(kLong, -1, 1);
    child->readDataToData_withTimeout_maxLength_tag(kCRLF, -1, 8190, 2);
    child->readDataToData_withTimeout_tag(kCRLF, -1, 3);
    child->readDataToLength_withTimeout_tag(4, -1, 4);
  });
  ASSERT_TRUE(c.client.sendAll(body + longLine + unboundedLine + "tail"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::Read, 4));
  auto got = reads(*c.delegate);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].first, 1);
  EXPECT_TRUE(got[0].second == body) << "the long read differs, length " << got[0].second.size();
  EXPECT_EQ(got[1], (std::pair<long, std::string>{2, longLine}));
  EXPECT_EQ(got[2], (std::pair<long, std::string>{3, unboundedLine}));
  EXPECT_EQ(got[3], (std::pair<long, std::string>{4, "tail"}));
  EXPECT_EQ(c.delegate->count(Event::Disconnect), 0u);
}

// A reset while a read waits ends the stream just as a close does, whether or not the waiting
// bytes were counted first.
TEST(DispatchSocketRead, PeerResetDuringAFixedLengthReadGivesCode7) {
  Connected c;
  connect(c, "read.reset",
          [](const ns::Ref<DispatchSocket>& child) { child->readDataToLength_withTimeout_tag(10, -1, 1); });
  ASSERT_TRUE(c.client.sendAll("abc"));
  ASSERT_TRUE(c.delegate->waitForCount(Event::ReadPartial, 1));
  // Dissolving an established connection sends a reset.
  sockaddr unspecified{};
  unspecified.sa_family = AF_UNSPEC;
  ASSERT_EQ(::connect(c.client.fd(), &unspecified, sizeof unspecified), 0);
  ASSERT_TRUE(c.delegate->waitForCount(Event::Disconnect, 1));
  auto error = c.delegate->eventsOf(Event::Disconnect)[0].error;
  ASSERT_TRUE(error);
  EXPECT_TRUE(pltest::isError(error, DispatchSocketErrorDomain, DispatchSocketClosedError));
  EXPECT_EQ(c.delegate->count(Event::Read), 0u);
  EXPECT_TRUE(c.child->isDisconnected());
}

}  // namespace
