// The run-loop TCP socket: object, modes, accepting, connecting, disconnecting and descriptors.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "platform/core/Exception.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/RawClient.h"
#include "platform/testing/TcpPair.h"
#include "tests/lib/sockets/LoopbackAddresses.h"
#include "tests/lib/sockets/RunLoopSocketTestSupport.h"

namespace {

using rltest::Connection;
using rltest::kWait;
using rltest::Recorder;
using rltest::runPasses;

TEST(RunLoopSocketObjectTest, FreshSocketDescriptionAndState) {
  auto sock = ns::make<RunLoopSocket>();
  char pointer[32];
  std::snprintf(pointer, sizeof pointer, "0x%lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(sock.get())));
  EXPECT_EQ(
      sock->description(),
      std::string("<RunLoopSocket ") + pointer +
          " local nowhere remote nowhere has queued 0 reads 0 writes, no current read, no current write, "
          "read stream 0x0 not open, write stream 0x0 not open, not connected>");
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_FALSE(sock->isConnected());
  EXPECT_EQ(sock->runLoopModes(), std::vector<std::string>{ns::DefaultRunLoopMode});
  EXPECT_FALSE(sock->connectedAddress());
  EXPECT_TRUE(std::isnan(sock->progressOfReadReturningTag_bytesDone_total(nullptr, nullptr, nullptr)));
}

TEST(RunLoopSocketObjectTest, ModeChangesThatAreRefused) {
  auto sock = ns::make<RunLoopSocket>();
  EXPECT_FALSE(sock->setRunLoopModes({}));
  EXPECT_TRUE(sock->setRunLoopModes({ns::DefaultRunLoopMode}));
  EXPECT_FALSE(sock->removeRunLoopMode(ns::DefaultRunLoopMode));
  EXPECT_TRUE(sock->removeRunLoopMode("absent"));
  EXPECT_FALSE(sock->moveToRunLoop(nullptr));
  EXPECT_EQ(sock->runLoopModes(), std::vector<std::string>{ns::DefaultRunLoopMode});
  EXPECT_TRUE(sock->addRunLoopMode("other"));
  EXPECT_TRUE(sock->removeRunLoopMode(ns::DefaultRunLoopMode));
  EXPECT_EQ(sock->runLoopModes(), std::vector<std::string>{"other"});
}

TEST(RunLoopSocketObjectTest, RequestsThatAreIgnoredAndTheDelegateCheck) {
  auto sock = ns::make<RunLoopSocket>(ns::make<Recorder>());
  sock->readDataToLength_withTimeout_tag(0, -1, 1);
  sock->writeData_withTimeout_tag(ns::Data(), -1, 2);
  sock->readDataToData_withTimeout_tag(ns::Data(), -1, 3);
  sock->readDataToData_withTimeout_maxLength_tag(RunLoopSocket::CRLFData(), -1, 1, 4);
  auto small = std::make_shared<ns::MutableData>("ab", 2);
  sock->readDataWithTimeout_buffer_bufferOffset_tag(-1, small, 3, 5);
  EXPECT_TRUE(sock->canSafelySetDelegate());
  EXPECT_NE(sock->description().find("has queued 0 reads 0 writes"), std::string::npos);
  sock->readDataWithTimeout_tag(-1, 6);
  EXPECT_FALSE(sock->canSafelySetDelegate());
  EXPECT_NE(sock->description().find("has queued 1 reads 0 writes"), std::string::npos);
}

TEST(RunLoopSocketObjectTest, MisuseRaises) {
  auto bare = ns::make<RunLoopSocket>();
  ns::Error error;
  EXPECT_THROW(bare->acceptOnPort_error(0, &error), ns::Exception);
  EXPECT_THROW(bare->connectToHost_onPort_error("localhost", 1, &error), ns::Exception);
  Connection c;
  c.listen();
  try {
    c.listener->connectToHost_onPort_error("localhost", 1, &error);
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), "SocketException");
    EXPECT_EQ(e.reason(),
              "Attempting to connect while connected or accepting connections. Disconnect first.");
  }
}

TEST(RunLoopSocketConnectTest, AcceptAndConnectInOrderOnOneRunLoop) {
  Connection c;
  c.connect();
  EXPECT_EQ(c.serverDelegate->events,
            (std::vector<std::string>{"accept", "wantsRunLoop", "willConnect", "didConnect"}));
  EXPECT_EQ(c.clientDelegate->events, (std::vector<std::string>{"willConnect", "didConnect"}));
  EXPECT_TRUE(c.client->isConnected());
  EXPECT_EQ(c.client->connectedPort(), c.listener->localPort());
  EXPECT_EQ(c.server()->connectedPort(), c.client->localPort());
  EXPECT_TRUE(c.server()->getCFSocket());
  EXPECT_NE(c.client->description().find("read stream"), std::string::npos);
  EXPECT_EQ(c.client->description().find("not connected"), std::string::npos);
}

TEST(RunLoopSocketConnectTest, AcceptedSocketNobodyKeepsClosesAtOnce) {
  Connection c;
  c.serverDelegate->keepAccepted = false;
  c.listen();
  pltest::RawClient raw;
  ASSERT_TRUE(raw.connectTo(c.listener->localPort()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->count("accept") == 1; }, kWait));
  EXPECT_EQ(c.serverDelegate->disconnects, 1);
  EXPECT_EQ(c.serverDelegate->disconnectsWithoutSocket, 1);  // told as it dies, so with no socket
  EXPECT_TRUE(raw.seesEndOfStream());
}

TEST(RunLoopSocketConnectTest, FailedAcceptLeavesTheSocketReusable) {
  Connection c;
  c.listen();
  auto delegate = ns::make<Recorder>();
  auto second = ns::make<RunLoopSocket>(delegate);
  ns::Error error;
  EXPECT_FALSE(
      second->acceptOnInterface_port_error(std::string("127.0.0.1"), c.listener->localPort(), &error));
  EXPECT_TRUE(pltest::isError(error, RunLoopSocketErrorDomain, RunLoopSocketCFSocketError));
  EXPECT_TRUE(second->isDisconnected());
  EXPECT_TRUE(delegate->events.empty());
  // Nothing of the failed attempt is left on the run loop: a new listen works and accepts.
  ASSERT_TRUE(second->acceptOnInterface_port_error(std::string("127.0.0.1"), 0, &error));
  pltest::RawClient raw;
  ASSERT_TRUE(raw.connectTo(second->localPort()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->count("didConnect") == 1; }, kWait));
  for (auto& s : delegate->accepted) s->setDelegate(nullptr);
  second->setDelegate(nullptr);
}

TEST(RunLoopSocketConnectTest, ConnectTimeoutWhileTheHandshakeCannotFinish) {
  pltest::VirtualClock clock;
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = pltest::loopbackAddress();
  socklen_t len = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), len), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &len), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  pltest::RawClient filler;  // fills the backlog and is never accepted
  ASSERT_TRUE(filler.connectTo(ntohs(address.sin_port)));

  auto delegate = ns::make<Recorder>();
  auto sock = ns::make<RunLoopSocket>(delegate);
  ns::Error error;
  ASSERT_TRUE(sock->connectToHost_onPort_withTimeout_error("127.0.0.1", ntohs(address.sin_port), 2, &error));
  runPasses(5);
  clock.advance(2.5);
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->disconnects == 1; }, kWait));
  ASSERT_TRUE(
      pltest::isError(delegate->lastError, RunLoopSocketErrorDomain, RunLoopSocketConnectTimeoutError));
  EXPECT_EQ(delegate->count("didConnect"), 0);
  EXPECT_TRUE(sock->isDisconnected());
  sock->setDelegate(nullptr);
  ::close(listener);
}

TEST(RunLoopSocketConnectTest, ConnectToAddressAnswersForIPv4Only) {
  Connection c;
  c.listen();
  ns::Error error;
  ASSERT_TRUE(c.client->connectToAddress_error(sockettest::loopback4(c.listener->localPort()), &error))
      << error.description();
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.clientDelegate->count("didConnect") == 1; }, kWait));
  EXPECT_TRUE(c.client->isIPv4());
  EXPECT_FALSE(c.client->isIPv6());
  EXPECT_EQ(c.client->connectedHost(), "127.0.0.1");
  EXPECT_EQ(c.client->connectedPort(), c.listener->localPort());
}

TEST(RunLoopSocketDisconnectTest, AfterWritingWithNothingQueuedWaitsForTheNextPass) {
  Connection c;
  c.connect();
  c.client->disconnectAfterWriting();
  EXPECT_EQ(c.clientDelegate->disconnects, 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.clientDelegate->disconnects == 1; }, kWait));
  EXPECT_FALSE(c.clientDelegate->sawWillDisconnect);
  // The peer sees the plain close as an end without an error.
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->disconnects == 1; }, kWait));
  EXPECT_TRUE(c.serverDelegate->sawWillDisconnect);
  EXPECT_FALSE(c.serverDelegate->lastError);
  EXPECT_EQ(c.serverDelegate->events.back(), "didDisconnect");
  EXPECT_EQ(c.serverDelegate->events[c.serverDelegate->events.size() - 2], "willDisconnect");
}

TEST(RunLoopSocketDisconnectTest, AfterReadingWaitsForThePendingReadAndIgnoresLaterRequests) {
  Connection c;
  c.connect();
  auto server = c.server();
  server->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), -1, 7);
  server->disconnectAfterReading();
  server->readDataWithTimeout_tag(-1, 8);
  server->writeData_withTimeout_tag(ns::Data("late", 4), -1, 9);
  runPasses(10);
  EXPECT_EQ(c.serverDelegate->count("didDisconnect"), 0);
  EXPECT_TRUE(server->isConnected());
  c.client->writeData_withTimeout_tag(ns::Data("line\n", 5), -1, 1);
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->count("didDisconnect") == 1; }, kWait));
  EXPECT_EQ(c.serverDelegate->reads, std::vector<std::string>{"line\n"});
  EXPECT_EQ(c.serverDelegate->readTags, std::vector<long>{7});
  EXPECT_EQ(c.serverDelegate->count("write"), 0);
}

TEST(RunLoopSocketDisconnectTest, TwiceIsHarmlessAndNeverConnectedSaysNothing) {
  Connection c;
  c.connect();
  c.client->disconnect();
  c.client->disconnect();
  EXPECT_EQ(c.clientDelegate->disconnects, 1);
  EXPECT_TRUE(c.client->isDisconnected());
  auto delegate = ns::make<Recorder>();
  auto idle = ns::make<RunLoopSocket>(delegate);
  idle->disconnect();
  idle->disconnect();
  EXPECT_TRUE(delegate->events.empty());
}

TEST(RunLoopSocketDisconnectTest, DelegateMayReleaseTheSocketInDidDisconnect) {
  Connection c;
  c.connect();
  auto delegate = ns::make<Recorder>();
  ns::Ref<RunLoopSocket> held = c.serverDelegate->accepted.front();
  c.serverDelegate->accepted.clear();
  held->setDelegate(delegate);
  ns::Weak<RunLoopSocket> weak = held;
  delegate->onDisconnect = [&] { held = nullptr; };
  c.client->disconnect();
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->disconnects == 1; }, kWait));
  EXPECT_TRUE(weak.expired());
}

TEST(RunLoopSocketDescriptorTest, ConnectAndCloseCyclesLeaveNoDescriptorBehind) {
  Connection c;
  c.listen();
  // One cycle first, so that lazily made descriptors (run-loop wake-ups, threads) exist.
  auto cycle = [&] {
    auto delegate = ns::make<Recorder>();
    auto sock = ns::make<RunLoopSocket>(delegate);
    ns::Error error;
    ASSERT_TRUE(sock->connectToHost_onPort_error("127.0.0.1", c.listener->localPort(), &error));
    ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->count("didConnect") == 1; }, kWait));
    sock->disconnect();
    sock->setDelegate(nullptr);
    ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->disconnects >= 1; }, kWait));
    for (auto& s : c.serverDelegate->accepted) s->setDelegate(nullptr);
    c.serverDelegate->accepted.clear();
    c.serverDelegate->disconnects = 0;
  };
  cycle();
  runPasses(5);
  int before = pltest::openDescriptorCount();
  for (int i = 0; i < 100; ++i) cycle();
  runPasses(5);
  EXPECT_EQ(pltest::openDescriptorCount(), before);
}

TEST(RunLoopSocketModesTest, CustomModeOnlyProgressesInThatMode) {
  Connection c;
  c.connect();
  auto server = c.server();
  ASSERT_TRUE(server->setRunLoopModes({"custom"}));
  server->readDataToLength_withTimeout_tag(4, -1, 1);
  c.client->writeData_withTimeout_tag(ns::Data("abcd", 4), -1, 1);
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.clientDelegate->count("write") == 1; }, kWait));
  runPasses(20);
  EXPECT_EQ(c.serverDelegate->count("read"), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->count("read") == 1; }, kWait, "custom"));
  EXPECT_EQ(c.serverDelegate->reads, std::vector<std::string>{"abcd"});
}

}  // namespace
