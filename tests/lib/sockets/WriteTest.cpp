// Writing and disconnecting: partial writes to a slow reader, completion order, the
// disconnect-after requests and closing by dropping the last reference.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/socket.h>

#include <fcntl.h>

#include <fstream>
#include <random>

#include "platform/testing/Sandbox.h"

#include "tests/lib/sockets/SocketTestSupport.h"

using namespace sockettest;

namespace {

std::string sha256(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
}

using Pair = AcceptedPair;

TEST(DispatchSocketWrite, LargeWriteToASlowReaderReportsPartsThenCompletesOnce) {
  Pair p;
  connectPair(p, "write.slow", 4096);
  // A small send buffer makes the kernel refuse most of the megabyte at first.
  p.child->performBlock([&] {
    int size = 4096;
    ::setsockopt(p.child->socketFD(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  });
  std::string payload(1 << 20, '\0');
  std::mt19937 random(42);
  for (auto& ch : payload) ch = static_cast<char>(random());
  p.child->writeData_withTimeout_tag(ns::Data(payload), -1, 77);

  // The client reads nothing until the socket has reported a partial write.
  ASSERT_TRUE(p.delegate->waitForCount(Event::WritePartial, 1));
  std::string received = p.client.readExactly(payload.size());
  ASSERT_EQ(received.size(), payload.size());
  EXPECT_EQ(sha256(received), sha256(payload));

  ASSERT_TRUE(p.delegate->waitThenDrain(Event::Write, 1));
  auto completions = p.delegate->eventsOf(Event::Write);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0].tag, 77);
  std::uint64_t partialBytes = 0;
  for (auto& e : p.delegate->eventsOf(Event::WritePartial)) {
    EXPECT_EQ(e.tag, 77);
    partialBytes += e.length;
  }
  EXPECT_LT(partialBytes, payload.size());
  // The completion comes after every partial report.
  EXPECT_EQ(p.delegate->events().back().kind, Event::Write);
}

TEST(DispatchSocketWrite, StalledWriteTimesOutWithCode5AfterItsExtension) {
  pltest::VirtualClock virtualClock;
  Pair p;
  connectPair(p, "write.timeout", 4096);
  p.delegate->writeExtensions = {0.5};
  p.child->performBlock([&] {
    int size = 4096;
    ::setsockopt(p.child->socketFD(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  });
  p.child->writeData_withTimeout_tag(ns::Data(std::string(1 << 20, 'w')), 0.5, 12);
  ASSERT_TRUE(p.delegate->waitForCount(Event::WritePartial, 1));
  // The write's timer starts once the socket queue has finished the step that found it waiting.
  p.child->performBlock([] {});
  virtualClock.advance(0.5);
  ASSERT_TRUE(p.delegate->waitThenDrain(Event::WriteTimeout, 1));
  p.child->performBlock([] {});
  EXPECT_TRUE(p.child->isConnected());
  virtualClock.advance(0.5);
  ASSERT_TRUE(p.delegate->waitForCount(Event::Disconnect, 1));
  auto questions = p.delegate->eventsOf(Event::WriteTimeout);
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_DOUBLE_EQ(questions[0].elapsed, 0.5);
  EXPECT_DOUBLE_EQ(questions[1].elapsed, 1.0);
  EXPECT_EQ(questions[1].tag, 12);
  EXPECT_GT(questions[1].length, 0u);
  auto error = p.delegate->eventsOf(Event::Disconnect)[0].error;
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), DispatchSocketWriteTimeoutError);
  EXPECT_EQ(error->localizedDescription(), "Write operation timed out");
  EXPECT_EQ(p.delegate->count(Event::Write), 0u);
}

TEST(DispatchSocketWrite, WritesCompleteInQueueOrderAndEmptyDataIsDropped) {
  Pair p;
  connectPair(p, "write.order");
  p.child->writeData_withTimeout_tag(ns::Data("one "), 30, 1);
  p.child->writeData_withTimeout_tag(ns::Data(), 30, 99);
  p.child->writeData_withTimeout_tag(ns::Data("two "), 30, 2);
  p.child->writeData_withTimeout_tag(ns::Data("three"), 30, 3);
  EXPECT_EQ(p.client.readExactly(13), "one two three");
  ASSERT_TRUE(p.delegate->waitThenDrain(Event::Write, 3));
  std::vector<long> tags;
  for (auto& e : p.delegate->eventsOf(Event::Write)) tags.push_back(e.tag);
  EXPECT_EQ(tags, (std::vector<long>{1, 2, 3}));
  EXPECT_TRUE(std::isnan(p.child->progressOfWriteReturningTag_bytesDone_total(nullptr, nullptr, nullptr)));
}

TEST(DispatchSocketWrite, DisconnectAfterWritingSendsEverythingThenClosesWithoutError) {
  Pair p;
  connectPair(p, "write.after");
  p.child->writeData_withTimeout_tag(ns::Data("first,"), -1, 1);
  p.child->writeData_withTimeout_tag(ns::Data("second"), -1, 2);
  p.child->readDataToLength_withTimeout_tag(100, -1, 3);  // reads are not waited for
  p.child->disconnectAfterWriting();
  p.child->writeData_withTimeout_tag(ns::Data("dropped"), -1, 4);
  EXPECT_EQ(p.client.readToEnd(), "first,second");
  ASSERT_TRUE(p.delegate->waitThenDrain(Event::Disconnect, 1));
  auto events = p.delegate->events();
  std::vector<Event::Kind> kinds;
  for (auto& e : events) {
    if (e.kind != Event::Accept) kinds.push_back(e.kind);
  }
  EXPECT_EQ(kinds, (std::vector<Event::Kind>{Event::Write, Event::Write, Event::Disconnect}));
  EXPECT_FALSE(p.delegate->eventsOf(Event::Disconnect)[0].error);
  EXPECT_TRUE(p.child->isDisconnected());
}

TEST(DispatchSocketWrite, DisconnectAfterReadingAndWritingWaitsForTheReadsTimeOut) {
  pltest::VirtualClock virtualClock;
  Pair p;
  connectPair(p, "write.afterboth");
  p.child->readDataToData_withTimeout_tag(DispatchSocket::CRLFData(), 5, 1);
  p.child->writeData_withTimeout_tag(ns::Data("bye"), -1, 2);
  p.child->disconnectAfterReadingAndWriting();
  p.child->disconnectAfterReading();  // a second request changes nothing
  EXPECT_EQ(p.client.readExactly(3), "bye");
  ASSERT_TRUE(p.delegate->waitForCount(Event::Write, 1));
  p.child->performBlock([] {});
  EXPECT_TRUE(p.child->isConnected()) << "the read is still pending";
  virtualClock.advance(5);
  ASSERT_TRUE(p.delegate->waitForCount(Event::Disconnect, 1));
  EXPECT_EQ(p.delegate->eventsOf(Event::Disconnect)[0].error->code(), DispatchSocketReadTimeoutError);
}

TEST(DispatchSocketWrite, PeerResetDuringWritesClosesWithAnErrorAndNoSignal) {
  Pair p;
  connectPair(p, "write.reset", 4096);
  // Fill the path so that writes are in progress, then reset the connection from the far end.
  std::string chunk(256 * 1024, 'z');
  for (long tag = 1; tag <= 16; ++tag) p.child->writeData_withTimeout_tag(ns::Data(chunk), -1, tag);
  ASSERT_TRUE(p.delegate->waitForCount(Event::WritePartial, 1));
  linger hard{1, 0};
  ::setsockopt(p.client.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::shutdown(p.client.fd(), SHUT_RDWR);
  ASSERT_TRUE(p.delegate->waitForCount(Event::Disconnect, 1));
  auto error = p.delegate->eventsOf(Event::Disconnect)[0].error;
  ASSERT_TRUE(error);
  // Whichever side notices first: the write fails (a POSIX error, never SIGPIPE) or the read
  // side sees the stream end.
  if (error->domain() == ns::NSPOSIXErrorDomain) {
    EXPECT_TRUE(error->code() == ECONNRESET || error->code() == EPIPE) << error->code();
    EXPECT_EQ(error->localizedFailureReason(), "Error in write() function");
  } else {
    EXPECT_EQ(error->code(), DispatchSocketClosedError);
  }
  EXPECT_LT(p.delegate->count(Event::Write), 16u);
}

TEST(DispatchSocketDisconnect, DroppingTheLastReferenceClosesAndReportsWithoutSocket) {
  Pair p;
  connectPair(p, "disconnect.drop");
  p.child->writeData_withTimeout_tag(ns::Data("x"), -1, 1);
  ASSERT_TRUE(p.delegate->waitThenDrain(Event::Write, 1));
  p.child = nullptr;
  p.delegate->releaseChildren();
  EXPECT_EQ(p.client.readToEnd(), "x");
  ASSERT_TRUE(p.delegate->waitForCount(Event::Disconnect, 1));
  auto disconnect = p.delegate->eventsOf(Event::Disconnect)[0];
  EXPECT_EQ(disconnect.sock, nullptr) << "a dying socket is not handed out";
  EXPECT_FALSE(disconnect.error);
}

TEST(DispatchSocketDisconnect, DisconnectIsSynchronousAndOnlyStartedSocketsReport) {
  Pair p;
  connectPair(p, "disconnect.sync");
  auto idle = ns::make<DispatchSocket>(p.delegate, p.delegate->queue());
  idle->disconnect();
  p.child->readDataToLength_withTimeout_tag(10, -1, 1);
  p.child->disconnect();
  EXPECT_TRUE(p.child->isDisconnected());
  EXPECT_FALSE(p.child->isConnected());
  EXPECT_EQ(p.child->connectedPort(), 0);
  EXPECT_EQ(p.child->connectedHost(), std::nullopt);
  EXPECT_EQ(p.client.readToEnd(), "");
  ASSERT_TRUE(p.delegate->waitThenDrain(Event::Disconnect, 1));
  auto disconnects = p.delegate->eventsOf(Event::Disconnect);
  ASSERT_EQ(disconnects.size(), 1u);
  EXPECT_EQ(disconnects[0].sock, p.child.get());
  EXPECT_EQ(p.delegate->count(Event::Read), 0u) << "queued reads are dropped without a message";

  // Requests to a closed socket are dropped.
  p.child->writeData_withTimeout_tag(ns::Data("late"), -1, 2);
  p.child->readDataWithTimeout_tag(-1, 3);
  p.child->performBlock([] {});
  p.delegate->drain();
  EXPECT_EQ(p.delegate->count(Event::Write), 0u);
}

TEST(DispatchSocketDisconnect, NoDelegateQueueMeansNoMessagesButEventsStillHappen) {
  Pair p;
  connectPair(p, "disconnect.noqueue");
  p.child->setDelegateQueue(nullptr);
  p.child->writeData_withTimeout_tag(ns::Data("quiet"), -1, 1);
  EXPECT_EQ(p.client.readExactly(5), "quiet");
  p.child->disconnect();
  EXPECT_EQ(p.client.readToEnd(), "");
  p.delegate->drain();
  EXPECT_EQ(p.delegate->count(Event::Write), 0u);
  EXPECT_EQ(p.delegate->count(Event::Disconnect), 0u);
}

// A file of `size` random bytes in the sandbox, opened for reading, and its bytes.
std::pair<std::shared_ptr<DispatchFileDescriptor>, std::string> randomFile(const pltest::Sandbox& sandbox,
                                                                           std::size_t size) {
  std::string bytes(size, '\0');
  std::mt19937 random(7);
  for (auto& ch : bytes) ch = static_cast<char>(random());
  auto path = sandbox.temporaryFolder("files") / "data.bin";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return {std::make_shared<DispatchFileDescriptor>(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), bytes};
}

TEST(DispatchSocketWrite, GatheredPiecesAndFileRangesArriveInOrderToASlowReader) {
  pltest::Sandbox sandbox;
  auto [file, content] = randomFile(sandbox, 3 << 20);
  std::vector<ns::Data> manyPieces;
  std::string manyText;
  for (int i = 0; i < 70; ++i) {
    manyPieces.emplace_back(std::to_string(i) + ",");
    manyText += std::to_string(i) + ",";
  }
  struct Case {
    const char* name;
    std::vector<ns::Data> pieces;
    std::optional<DispatchFileRange> range;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"pieces", {ns::Data("head-"), ns::Data("er\r\n"), ns::Data("body")}, std::nullopt, "head-er\r\nbody"},
      {"range", {}, DispatchFileRange{file, 1000, 2000000}, content.substr(1000, 2000000)},
      {"both",
       {ns::Data("HEADER\r\n\r\n"), ns::Data()},
       DispatchFileRange{file, 5, 1500000},
       "HEADER\r\n\r\n" + content.substr(5, 1500000)},
      {"beyond the vector", manyPieces, DispatchFileRange{file, 0, 70000},
       manyText + content.substr(0, 70000)},
  };
  for (const auto& c : cases) {
    Pair p;
    connectPair(p, "write.gathered", 4096);
    p.child->performBlock([&] {
      int size = 4096;
      ::setsockopt(p.child->socketFD(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
    p.child->writePieces_fileRange_withTimeout_tag(c.pieces, c.range, -1, 5);
    p.child->writeData_withTimeout_tag(ns::Data("<end>"), -1, 6);
    std::string received = p.client.readExactly(c.expected.size() + 5);
    ASSERT_EQ(received.size(), c.expected.size() + 5) << c.name;
    EXPECT_TRUE(received == c.expected + "<end>") << c.name;
    ASSERT_TRUE(p.delegate->waitForCount(Event::Write, 2)) << c.name;
    auto completions = p.delegate->eventsOf(Event::Write);
    EXPECT_EQ(completions[0].tag, 5) << c.name;
    EXPECT_EQ(completions[1].tag, 6) << c.name;
    EXPECT_EQ(p.delegate->count(Event::Disconnect), 0u) << c.name;
  }
  // Nothing to write is no request at all.
  Pair p;
  connectPair(p, "write.gathered.empty");
  p.child->writePieces_fileRange_withTimeout_tag({ns::Data()}, DispatchFileRange{file, 0, 0}, -1, 5);
  p.child->writeData_withTimeout_tag(ns::Data("x"), -1, 6);
  EXPECT_EQ(p.client.readExactly(1), "x");
  ASSERT_TRUE(p.delegate->waitThenDrain(Event::Write, 1));
  auto completions = p.delegate->eventsOf(Event::Write);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0].tag, 6);
}

TEST(DispatchSocketWrite, FileShorterThanItsRangeClosesWithAnErrorAfterWhatItHas) {
  pltest::Sandbox sandbox;
  auto [file, content] = randomFile(sandbox, 1000);
  Pair p;
  connectPair(p, "write.short-file");
  p.child->writePieces_fileRange_withTimeout_tag({ns::Data("h:")}, DispatchFileRange{file, 0, 5000}, -1, 5);
  auto rest = p.client.readToEnd();
  ASSERT_TRUE(rest);
  EXPECT_TRUE(*rest == "h:" + content);
  ASSERT_TRUE(p.delegate->waitForCount(Event::Disconnect, 1));
  EXPECT_EQ(p.delegate->count(Event::Write), 0u);
  auto error = p.delegate->eventsOf(Event::Disconnect)[0].error;
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), ENODATA);
}

}  // namespace
