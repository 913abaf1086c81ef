// The run-loop TCP socket: reading, writing, time-outs and TLS.
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "platform/security/Digest.h"
#include "platform/security/Trust.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/RawClient.h"
#include "platform/testing/TestCertificateAuthority.h"
#include "tests/lib/sockets/RunLoopSocketTestSupport.h"

namespace {

using rltest::Connection;
using rltest::kWait;
using rltest::Recorder;
using rltest::runPasses;

// A listener whose accepted socket talks to a raw loopback client.
struct RawPeer {
  Connection c;
  pltest::RawClient raw;
  ns::Ref<RunLoopSocket> server;

  void open(int receiveBufferSize = 0) {
    c.listen();
    ASSERT_TRUE(raw.connectTo(c.listener->localPort(), false, receiveBufferSize));
    ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->count("didConnect") == 1; }, kWait));
    server = c.server();
  }
};

TEST(RunLoopSocketReadTest, TerminatorSplitAcrossSegmentsWithAndWithoutPreBuffering) {
  for (bool preBuffering : {true, false}) {
    SCOPED_TRACE(preBuffering ? "pre-buffering" : "no pre-buffering");
    RawPeer p;
    p.open();
    if (!preBuffering) RunLoopSocketTestAccess::disablePreBuffering(*p.server);
    p.server->readDataToData_withTimeout_tag(RunLoopSocket::CRLFData(), -1, 1);
    p.server->readDataToData_withTimeout_tag(RunLoopSocket::CRLFData(), -1, 2);
    ASSERT_TRUE(p.raw.sendAll("first\r"));
    runPasses(10);
    EXPECT_EQ(p.c.serverDelegate->count("read"), 0);
    ASSERT_TRUE(p.raw.sendAll("\nsecond\r\n"));
    ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->count("read") == 2; }, kWait));
    EXPECT_EQ(p.c.serverDelegate->reads, (std::vector<std::string>{"first\r\n", "second\r\n"}));
    EXPECT_EQ(p.c.serverDelegate->readTags, (std::vector<long>{1, 2}));
  }
}

TEST(RunLoopSocketReadTest, TwoLinesInOneSegmentGiveTwoCompletions) {
  RawPeer p;
  p.open();
  ASSERT_TRUE(p.raw.sendAll("one\ntwo\nrest"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.server->isConnected(); }, kWait));
  p.server->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), -1, 1);
  p.server->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), -1, 2);
  p.server->readDataToLength_withTimeout_tag(4, -1, 3);
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->count("read") == 3; }, kWait));
  EXPECT_EQ(p.c.serverDelegate->reads, (std::vector<std::string>{"one\n", "two\n", "rest"}));
}

TEST(RunLoopSocketReadTest, ExceededMaximumClosesWithCode3AndUnreadDataHoldsEverything) {
  RawPeer p;
  p.open();
  p.c.serverDelegate->askUnread = true;
  std::optional<ns::Data> unreadAfter = ns::Data("x", 1);
  p.c.serverDelegate->onDisconnect = [&] { unreadAfter = p.server->unreadData(); };
  p.server->readDataToData_withTimeout_maxLength_tag(RunLoopSocket::CRLFData(), -1, 8, 1);
  ASSERT_TRUE(p.raw.sendAll("0123456789abcdefghij"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->disconnects == 1; }, kWait));
  ASSERT_TRUE(pltest::isError(p.c.serverDelegate->lastError, RunLoopSocketErrorDomain,
                              RunLoopSocketReadMaxedOutError));
  EXPECT_EQ(p.c.serverDelegate->unreadInWill, "0123456789abcdefghij");
  EXPECT_FALSE(unreadAfter);
  EXPECT_EQ(p.c.serverDelegate->count("read"), 0);
  auto& events = p.c.serverDelegate->events;
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], "willDisconnect");
  EXPECT_TRUE(p.raw.seesEndOfStream());
}

TEST(RunLoopSocketReadTest, HalfDoneFixedLengthReadIsUnreadDataWhenThePeerCloses) {
  RawPeer p;
  p.open();
  p.c.serverDelegate->askUnread = true;
  p.server->readDataToLength_withTimeout_tag(100, -1, 1);
  ASSERT_TRUE(p.raw.sendAll("partial"));
  p.raw.shutdownWrite();
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->disconnects == 1; }, kWait));
  EXPECT_FALSE(p.c.serverDelegate->lastError);  // a plain end carries no error
  EXPECT_EQ(p.c.serverDelegate->unreadInWill, "partial");
}

TEST(RunLoopSocketReadTest, AvailableReadNeverCompletesEmptyAndBuffersGrow) {
  RawPeer p;
  p.open();
  p.server->readDataWithTimeout_tag(-1, 1);
  runPasses(10);
  EXPECT_EQ(p.c.serverDelegate->count("read"), 0);
  ASSERT_TRUE(p.raw.sendAll("x"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->count("read") == 1; }, kWait));
  EXPECT_EQ(p.c.serverDelegate->reads[0], "x");

  auto buffer = std::make_shared<ns::MutableData>("AB", 2);
  p.server->readDataToLength_withTimeout_buffer_bufferOffset_tag(5, -1, buffer, 2, 2);
  ASSERT_TRUE(p.raw.sendAll("hello"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->count("read") == 2; }, kWait));
  EXPECT_EQ(p.c.serverDelegate->reads[1], "hello");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer->bytes()), buffer->length()), "ABhello");
}

TEST(RunLoopSocketTimeoutTest, ReadTimeoutExtendedOnceThenCloses) {
  pltest::VirtualClock clock;
  RawPeer p;
  p.open();
  p.c.serverDelegate->readExtension = 0.2;
  p.c.serverDelegate->readExtensionsLeft = 1;
  p.server->readDataToLength_withTimeout_tag(10, 0.2, 1);
  runPasses(5);
  clock.advance(0.25);
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->readTimeoutElapsed.size() == 1; }, kWait));
  EXPECT_EQ(p.c.serverDelegate->disconnects, 0);
  clock.advance(0.25);
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->disconnects == 1; }, kWait));
  ASSERT_EQ(p.c.serverDelegate->readTimeoutElapsed.size(), 2u);
  EXPECT_DOUBLE_EQ(p.c.serverDelegate->readTimeoutElapsed[0], 0.2);
  EXPECT_DOUBLE_EQ(p.c.serverDelegate->readTimeoutElapsed[1], 0.4);
  ASSERT_TRUE(p.c.serverDelegate->lastError);
  EXPECT_EQ(p.c.serverDelegate->lastError->code(), RunLoopSocketReadTimeoutError);
}

TEST(RunLoopSocketWriteTest, OneMebibyteToASlowReaderCompletesOnceIntact) {
  RawPeer p;
  p.open(4096);
  std::string payload(1 << 20, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 131 + 7) % 251);
  std::atomic<bool> done{false};
  std::string received;
  std::thread reader([&] {
    while (received.size() < payload.size()) {
      std::string piece = p.raw.readExactly(std::min<std::size_t>(1000, payload.size() - received.size()));
      if (piece.empty()) break;
      received += piece;
    }
    done = true;
  });
  p.server->writeData_withTimeout_tag(ns::Data(payload.data(), payload.size()), -1, 42);
  bool ok = pltest::pumpUntil([&] { return done.load() && p.c.serverDelegate->count("write") == 1; }, 60);
  reader.join();
  ASSERT_TRUE(ok);
  runPasses(5);
  EXPECT_EQ(p.c.serverDelegate->writeTags, std::vector<long>{42});
  EXPECT_EQ(sec::sha256Hex(received), sec::sha256Hex(payload));
}

TEST(RunLoopSocketTLSTest, StartTLSAfterTwoReadsThenEchoOverTheSecuredStreams) {
  pltest::TestCertificateAuthority ca;
  sec::Trust::addProcessAnchorCertificate(ca.certificate());
  Connection c;
  c.connect();
  auto server = c.server();
  const std::size_t size = 100 * 1024;
  std::string payload(size, '\0');
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('a' + i % 26);

  // Server: two plain lines, TLS, then echo everything back. Without pre-buffering its line
  // reads never take a byte past the newline, so the client's handshake that follows the lines
  // at once stays in the stream for TLS.
  RunLoopSocketTestAccess::disablePreBuffering(*server);
  server->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), 10, 1);
  server->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), 10, 2);
  ns::Dictionary serverSettings;
  serverSettings.set(cf::kCFStreamSSLIsServer, ns::Value(true));
  serverSettings.set(cf::kCFStreamSSLCertificates,
                     ns::Value(ns::Array{ns::Value(ca.issueIdentity({"localhost", "127.0.0.1"}))}));
  server->startTLS(ns::Value(serverSettings));
  server->readDataToLength_withTimeout_tag(size, 30, 3);
  c.serverDelegate->onRead = [](const ns::Ref<RunLoopSocket>& s, const ns::Data& data, long tag) {
    if (tag == 3) s->writeData_withTimeout_tag(data, 30, 4);
  };

  ns::Dictionary clientSettings;
  clientSettings.set(cf::kCFStreamSSLPeerName, ns::Value("localhost"));
  c.client->writeData_withTimeout_tag(ns::Data("hello\n", 6), 10, 1);
  c.client->writeData_withTimeout_tag(ns::Data("world\n", 6), 10, 2);
  c.client->startTLS(ns::Value(clientSettings));
  c.client->writeData_withTimeout_tag(ns::Data(payload.data(), payload.size()), 30, 3);
  c.client->readDataToLength_withTimeout_tag(size, 30, 4);

  bool echoed = pltest::pumpUntil([&] { return c.clientDelegate->count("read") == 1; }, 60);
  auto join = [](const std::vector<std::string>& v) {
    std::string s;
    for (auto& x : v) s += x + " ";
    return s;
  };
  ASSERT_TRUE(echoed) << "server: " << join(c.serverDelegate->events)
                      << "\nclient: " << join(c.clientDelegate->events)
                      << (c.serverDelegate->lastError ? c.serverDelegate->lastError->description() : "")
                      << (c.clientDelegate->lastError ? c.clientDelegate->lastError->description() : "");
  EXPECT_EQ(c.serverDelegate->reads.size(), 3u);
  EXPECT_EQ(c.serverDelegate->reads[0], "hello\n");
  EXPECT_EQ(c.serverDelegate->reads[1], "world\n");
  EXPECT_EQ(c.serverDelegate->count("secure"), 1);
  EXPECT_EQ(c.clientDelegate->count("secure"), 1);
  EXPECT_TRUE(c.clientDelegate->reads[0] == payload);
  EXPECT_FALSE(c.clientDelegate->sawWillDisconnect);
  EXPECT_FALSE(c.serverDelegate->sawWillDisconnect);
}

TEST(RunLoopSocketTLSTest, GarbageInsteadOfAHandshakeDisconnectsWithAnSSLError) {
  RawPeer p;
  p.open();
  ns::Dictionary settings;
  settings.set(cf::kCFStreamSSLIsServer, ns::Value(true));
  pltest::TestCertificateAuthority ca;
  settings.set(cf::kCFStreamSSLCertificates,
               ns::Value(ns::Array{ns::Value(ca.issueIdentity({"localhost"}))}));
  p.server->startTLS(ns::Value(settings));
  ASSERT_TRUE(p.raw.sendAll("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return p.c.serverDelegate->disconnects == 1; }, kWait));
  ASSERT_TRUE(p.c.serverDelegate->lastError);
  EXPECT_EQ(p.c.serverDelegate->lastError->domain(), "kCFStreamErrorDomainSSL");
  EXPECT_EQ(p.c.serverDelegate->count("secure"), 0);
}

}  // namespace
