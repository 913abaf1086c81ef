#include "platform/net/StreamPair.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "platform/security/Trust.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TcpPair.h"
#include "platform/testing/TestCertificateAuthority.h"

namespace {

constexpr double kWait = 20;

// A pair on the current run loop that records its events.
struct RecordedPair {
  ns::Ref<cf::ReadStream> in;
  ns::Ref<cf::WriteStream> out;
  std::vector<cf::StreamEventType> readEvents, writeEvents;

  int count(const std::vector<cf::StreamEventType>& events, cf::StreamEventType type) const {
    int n = 0;
    for (auto e : events) n += e == type;
    return n;
  }
  int reads(cf::StreamEventType type) const { return count(readEvents, type); }
  int writes(cf::StreamEventType type) const { return count(writeEvents, type); }

  void attach() {
    in->setClient(~0ul, [this](cf::ReadStream&, cf::StreamEventType type) { readEvents.push_back(type); });
    out->setClient(~0ul, [this](cf::WriteStream&, cf::StreamEventType type) { writeEvents.push_back(type); });
    auto loop = ns::RunLoop::currentRunLoop();
    in->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
    out->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
  }
  void overDescriptor(int fd) {
    cf::createPairWithSocket(fd, &in, &out);
    in->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
    attach();
  }
  void openAndWait() {
    in->open();
    out->open();
    ASSERT_TRUE(pltest::pumpUntil(
        [&] { return reads(cf::StreamEventOpenCompleted) && writes(cf::StreamEventOpenCompleted); }, kWait));
  }
  ~RecordedPair() {
    if (in) in->close();
    if (out) out->close();
  }
};

// Everything the stream has now, read while it says it has bytes (so no read may block).
std::string readAvailable(cf::ReadStream& in) {
  std::uint8_t buffer[4096];
  std::string got;
  while (in.hasBytesAvailable()) {
    long n = in.read_maxLength(buffer, sizeof buffer);
    EXPECT_GT(n, 0);
    if (n <= 0) break;
    got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
  }
  return got;
}

void runPasses(int n) {
  for (int i = 0; i < n; ++i) ns::RunLoop::currentRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
}

ns::Value serverSettings(const pltest::TestCertificateAuthority& ca) {
  ns::Dictionary d;
  d.set(cf::kCFStreamSSLIsServer, ns::Value(true));
  d.set(cf::kCFStreamSSLCertificates,
        ns::Value(ns::Array{ns::Value(ca.issueIdentity({"localhost", "127.0.0.1"}))}));
  return ns::Value(d);
}

ns::Value clientSettings() {
  ns::Dictionary d;
  d.set(cf::kCFStreamSSLPeerName, ns::Value("localhost"));
  return ns::Value(d);
}

class StreamPairTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pltest::connectedTcpPair(&peer_, &local_)); }
  void TearDown() override {
    if (peer_ >= 0) ::close(peer_);
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), 0), (ssize_t)bytes.size());
  }
  int peer_ = -1;
  int local_ = -1;
};

TEST_F(StreamPairTest, OverDescriptorOpensOnTheNextPassAndAnswersItsProperties) {
  RecordedPair pair;
  pair.overDescriptor(local_);
  pair.in->open();
  pair.out->open();
  EXPECT_TRUE(pair.readEvents.empty());
  EXPECT_TRUE(pair.writeEvents.empty());
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventOpenCompleted) == 1; }, kWait));
  EXPECT_EQ(pair.writes(cf::StreamEventOpenCompleted), 1);
  EXPECT_EQ(pair.in->streamStatus(), ns::StreamStatusOpen);
  ns::Value handle = pair.in->propertyForKey(cf::kCFStreamPropertySocketNativeHandle);
  ASSERT_TRUE(handle.isData());
  int fd = -1;
  std::memcpy(&fd, handle.data().bytes(), sizeof fd);
  EXPECT_EQ(fd, local_);
  EXPECT_TRUE(pair.out->propertyForKey(cf::kCFStreamPropertyShouldCloseNativeSocket).boolValue());
}

TEST_F(StreamPairTest, HasBytesComesAgainOnlyAfterARead) {
  RecordedPair pair;
  pair.overDescriptor(local_);
  pair.openAndWait();
  send("abcdef");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventHasBytesAvailable) == 1; }, kWait));
  send("ghij");
  runPasses(20);
  EXPECT_EQ(pair.reads(cf::StreamEventHasBytesAvailable), 1);
  std::uint8_t buffer[2];
  ASSERT_EQ(pair.in->read_maxLength(buffer, 2), 2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventHasBytesAvailable) == 2; }, kWait));
}

TEST_F(StreamPairTest, ReadsAfterHasBytesNeverBlockAndEndIsReported) {
  RecordedPair pair;
  pair.overDescriptor(local_);
  pair.openAndWait();
  send("12345");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.in->hasBytesAvailable(); }, kWait));
  EXPECT_EQ(readAvailable(*pair.in), "12345");
  EXPECT_FALSE(pair.in->hasBytesAvailable());
  // Nothing there: an answer at once, not a wait.
  std::uint8_t buffer[16];
  EXPECT_EQ(pair.in->read_maxLength(buffer, sizeof buffer), 0);
  ::shutdown(peer_, SHUT_WR);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventEndEncountered) == 1; }, kWait));
  EXPECT_EQ(pair.in->streamStatus(), ns::StreamStatusAtEnd);
}

TEST_F(StreamPairTest, TLSInPlaceIsQuietDuringTheHandshakeAndReadsNeverBlock) {
  pltest::TestCertificateAuthority ca;
  sec::Trust::addProcessAnchorCertificate(ca.certificate());
  RecordedPair client, server;
  client.overDescriptor(local_);
  server.overDescriptor(peer_);
  peer_ = -1;  // the server pair closes it
  client.openAndWait();
  server.openAndWait();
  runPasses(5);
  const int clientBefore = client.writes(cf::StreamEventCanAcceptBytes);
  const int serverBefore = server.writes(cf::StreamEventCanAcceptBytes);
  const std::size_t clientEventsBefore = client.writeEvents.size() + client.readEvents.size();

  ASSERT_TRUE(server.in->setProperty_forKey(serverSettings(ca), cf::kCFStreamPropertySSLSettings));
  ASSERT_TRUE(client.out->setProperty_forKey(clientSettings(), cf::kCFStreamPropertySSLSettings));
  ASSERT_TRUE(client.in->setProperty_forKey(clientSettings(), cf::kCFStreamPropertySSLSettings));
  EXPECT_FALSE(client.out->canAcceptBytes());
  EXPECT_FALSE(client.in->hasBytesAvailable());

  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return client.writes(cf::StreamEventCanAcceptBytes) > clientBefore &&
               server.writes(cf::StreamEventCanAcceptBytes) > serverBefore;
      },
      kWait));
  // The handshake ran without events: the one that came is the can-accept after it.
  EXPECT_EQ(client.writeEvents.size() + client.readEvents.size(), clientEventsBefore + 1);
  EXPECT_EQ(client.writes(cf::StreamEventCanAcceptBytes), clientBefore + 1);
  EXPECT_EQ(client.reads(cf::StreamEventHasBytesAvailable), 0);
  EXPECT_EQ(client.reads(cf::StreamEventErrorOccurred) + server.reads(cf::StreamEventErrorOccurred), 0);

  const std::string message = "secret over TLS";
  ASSERT_EQ(
      client.out->write_maxLength(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()),
      (long)message.size());
  ASSERT_TRUE(pltest::pumpUntil([&] { return server.reads(cf::StreamEventHasBytesAvailable) > 0; }, kWait));
  ASSERT_TRUE(server.in->hasBytesAvailable());
  EXPECT_EQ(readAvailable(*server.in), message);
  std::uint8_t buffer[16];
  EXPECT_EQ(server.in->read_maxLength(buffer, sizeof buffer), 0);
}

TEST_F(StreamPairTest, HandshakeAgainstPlainTextPeerIsAnSSLError) {
  RecordedPair pair;
  pair.overDescriptor(local_);
  pair.openAndWait();
  ASSERT_TRUE(pair.in->setProperty_forKey(clientSettings(), cf::kCFStreamPropertySSLSettings));
  send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventErrorOccurred) > 0; }, kWait));
  EXPECT_EQ(pair.in->getError().domain, cf::StreamErrorDomainSSL);
  EXPECT_NE(pair.in->getError().error, 0);
  EXPECT_EQ(pair.in->streamStatus(), ns::StreamStatusError);
  EXPECT_EQ(pair.reads(cf::StreamEventHasBytesAvailable), 0);
}

// The read and the write half keep their clients, schedules and errors alike but apart.
TEST_F(StreamPairTest, EachHalfDeliversOnlyItsClientsEventsAndOnlyWhereScheduled) {
  RecordedPair pair;
  cf::createPairWithSocket(local_, &pair.in, &pair.out);
  pair.in->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  pair.attach();
  // The read half hears only its open; the write half is off the run loop for now.
  pair.in->setClient(cf::StreamEventOpenCompleted,
                     [&](cf::ReadStream&, cf::StreamEventType type) { pair.readEvents.push_back(type); });
  auto loop = ns::RunLoop::currentRunLoop();
  pair.out->removeFromRunLoop_forMode(loop, ns::DefaultRunLoopMode);
  pair.in->open();
  pair.out->open();
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventOpenCompleted) == 1; }, kWait));
  send("abc");
  runPasses(20);
  EXPECT_EQ(pair.reads(cf::StreamEventHasBytesAvailable), 0);
  EXPECT_TRUE(pair.writeEvents.empty());
  pair.out->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.writes(cf::StreamEventCanAcceptBytes) == 1; }, kWait));
  EXPECT_EQ(pair.out->streamStatus(), ns::StreamStatusOpen);
  EXPECT_EQ(readAvailable(*pair.in), "abc");
  // No call-back removes the client; a closed half takes none.
  EXPECT_TRUE(pair.out->setClient(~0ul, nullptr));
  ASSERT_EQ(pair.out->write_maxLength(reinterpret_cast<const std::uint8_t*>("x"), 1), 1);
  runPasses(20);
  EXPECT_EQ(pair.writes(cf::StreamEventCanAcceptBytes), 1);
  pair.in->close();
  pair.out->close();
  EXPECT_FALSE(pair.in->setClient(~0ul, [](cf::ReadStream&, cf::StreamEventType) {}));
  EXPECT_FALSE(pair.out->setClient(~0ul, [](cf::WriteStream&, cf::StreamEventType) {}));
  EXPECT_EQ(pair.in->read_maxLength(nullptr, 0), -1);
  EXPECT_EQ(pair.out->write_maxLength(reinterpret_cast<const std::uint8_t*>("x"), 1), -1);
  EXPECT_EQ(pair.in->getError().domain, 0);
  EXPECT_EQ(pair.out->getError().domain, 0);
}

TEST_F(StreamPairTest, AWriteToAGonePeerFailsTheWriteHalfWithItsPOSIXError) {
  RecordedPair pair;
  pair.overDescriptor(local_);
  pair.openAndWait();
  // The peer resets the connection (no linger), so a later write fails instead of being buffered.
  linger reset{1, 0};
  ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(peer_);
  peer_ = -1;
  std::string chunk(4096, 'y');
  long n = 0;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        n = pair.out->write_maxLength(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
        return n < 0;
      },
      kWait));
  EXPECT_EQ(pair.out->streamStatus(), ns::StreamStatusError);
  EXPECT_EQ(pair.out->getError().domain, cf::StreamErrorDomainPOSIX);
  EXPECT_TRUE(pair.out->getError().error == EPIPE || pair.out->getError().error == ECONNRESET)
      << pair.out->getError().error;
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.writes(cf::StreamEventErrorOccurred) == 1; }, kWait));
}

TEST(StreamPairToHostTest, ClosedPortIsAPOSIXRefusal) {
  std::uint16_t port = pltest::closedLoopbackPort();
  ASSERT_NE(port, 0);
  RecordedPair pair;
  cf::createPairWithSocketToHost("127.0.0.1", port, &pair.in, &pair.out);
  pair.attach();
  pair.in->open();
  pair.out->open();
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventErrorOccurred) == 1; }, kWait));
  EXPECT_EQ(pair.in->getError().domain, cf::StreamErrorDomainPOSIX);
  EXPECT_EQ(pair.in->getError().error, ECONNREFUSED);
  EXPECT_EQ(pair.writes(cf::StreamEventErrorOccurred), 1);
  EXPECT_EQ(pair.reads(cf::StreamEventOpenCompleted), 0);
}

TEST(StreamPairToHostTest, ResolverFailureIsANetDBError) {
  RecordedPair pair;
  cf::createPairWithSocketToHost(
      "no-such-host.invalid", 80, &pair.in, &pair.out,
      [](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_NONAME; });
  pair.attach();
  pair.in->open();
  pair.out->open();
  ASSERT_TRUE(pltest::pumpUntil([&] { return pair.reads(cf::StreamEventErrorOccurred) == 1; }, kWait));
  EXPECT_EQ(pair.in->getError().domain, cf::StreamErrorDomainNetDB);
  EXPECT_EQ(pair.in->getError().error, EAI_NONAME);
}

}  // namespace
