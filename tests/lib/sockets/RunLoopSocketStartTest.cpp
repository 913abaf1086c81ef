// The run-loop TCP socket's paths that its reading and writing, its listening and its connecting
// share: a start that fails half-way, a listener on every address, and a disconnect that waits
// for both queues.
#include <string>

#include "platform/testing/ErrorMatch.h"
#include "tests/lib/sockets/LoopbackAddresses.h"
#include "tests/lib/sockets/RunLoopSocketTestSupport.h"

namespace {

using rltest::Connection;
using rltest::kWait;
using rltest::Recorder;
using rltest::runPasses;

TEST(RunLoopSocketStartTest, AStartThatFailsHalfWayClosesQuietlyAndLeavesTheSocketReusable) {
  Connection c;
  c.listen();
  const ns::Data notAnAddress(std::string(16, '\0'));
  ns::Error error;
  EXPECT_FALSE(c.client->connectToAddress_error(notAnAddress, &error));
  EXPECT_TRUE(pltest::isError(error, RunLoopSocketErrorDomain, RunLoopSocketCFSocketError));
  EXPECT_EQ(error.localizedDescription(), "Remote address is not IPv4 or IPv6");
  EXPECT_TRUE(c.client->isDisconnected());
  // The socket exists by now: the bad interface address fails the next step and closes it.
  error = ns::Error();
  EXPECT_FALSE(c.client->connectToAddress_viaInterfaceAddress_withTimeout_error(
      sockettest::loopback4(c.listener->localPort()), notAnAddress, 5, &error));
  EXPECT_EQ(error.localizedDescription(), "Interface address is not IPv4 or IPv6");
  EXPECT_TRUE(c.client->isDisconnected());
  runPasses(10);
  // Neither start got far enough to be reported as a connection, nor its end as a disconnect.
  EXPECT_TRUE(c.clientDelegate->events.empty());
  ASSERT_TRUE(
      c.client->connectToAddress_withTimeout_error(sockettest::loopback4(c.listener->localPort()), 5, &error))
      << error.description();
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.clientDelegate->count("didConnect") == 1; }, kWait));
  EXPECT_EQ(c.clientDelegate->count("willConnect"), 1);
}

TEST(RunLoopSocketStartTest, AListenerOnEveryAddressTakesBothFamiliesOnOnePort) {
  auto serverDelegate = ns::make<Recorder>("server");
  auto listener = ns::make<RunLoopSocket>(serverDelegate);
  ns::Error error;
  ASSERT_TRUE(listener->acceptOnPort_error(0, &error)) << error.description();
  std::uint16_t port = listener->localPort();
  ASSERT_NE(port, 0);
  std::vector<ns::Ref<Recorder>> delegates;
  std::vector<ns::Ref<RunLoopSocket>> clients;
  for (const ns::Data& address : {sockettest::loopback4(port), sockettest::loopback6(port)}) {
    delegates.push_back(ns::make<Recorder>("client"));
    clients.push_back(ns::make<RunLoopSocket>(delegates.back()));
    ASSERT_TRUE(clients.back()->connectToAddress_error(address, &error)) << error.description();
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return serverDelegate->count("didConnect") == 2; }, kWait));
  EXPECT_TRUE(serverDelegate->accepted[0]->isIPv4() != serverDelegate->accepted[1]->isIPv4());
  EXPECT_EQ(clients[0]->connectedPort(), port);
  EXPECT_EQ(clients[1]->connectedHost(), "::1");
  for (auto& s : serverDelegate->accepted) s->setDelegate(nullptr);
  for (auto& s : clients) s->setDelegate(nullptr);
  listener->setDelegate(nullptr);
  listener->disconnect();
}

TEST(RunLoopSocketStartTest, DisconnectAfterReadingAndWritingWaitsForBothQueues) {
  Connection c;
  c.connect();
  auto server = c.server();
  ASSERT_TRUE(server);
  server->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), -1, 7);
  server->writeData_withTimeout_tag(ns::Data("out\n", 4), -1, 8);
  server->disconnectAfterReadingAndWriting();
  c.client->readDataToData_withTimeout_tag(RunLoopSocket::LFData(), -1, 1);
  // The write goes out; the read still waits, and so does the disconnect.
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.clientDelegate->count("read") == 1; }, kWait));
  runPasses(10);
  EXPECT_EQ(c.serverDelegate->writeTags, std::vector<long>{8});
  EXPECT_EQ(c.serverDelegate->count("didDisconnect"), 0);
  EXPECT_TRUE(server->isConnected());
  c.client->writeData_withTimeout_tag(ns::Data("in\n", 3), -1, 2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return c.serverDelegate->count("didDisconnect") == 1; }, kWait));
  EXPECT_EQ(c.serverDelegate->reads, std::vector<std::string>{"in\n"});
  EXPECT_EQ(c.clientDelegate->reads, std::vector<std::string>{"out\n"});
}

}  // namespace
