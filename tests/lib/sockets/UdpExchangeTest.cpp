// Datagrams between two UDP sockets on real loopback sockets, and from plain POSIX sockets as
// independent peers: sending, receiving, connecting, the receive modes and datagram sizes.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/testing/ErrorMatch.h"
#include "tests/lib/sockets/UdpSocketTestSupport.h"

namespace udptest {
namespace {

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

std::vector<std::string> received(RecordingUdpDelegate& delegate) {
  std::vector<std::string> result;
  for (const auto& e : delegate.eventsOf(UdpEvent::Receive)) result.push_back(e.data);
  return result;
}

TEST(DispatchUdpSocketExchange, SendsToAHostReceivesWithTheSenderAndConnects) {
  UdpEndpoint a("udp.exchange.a", true);
  UdpEndpoint b("udp.exchange.b", true);
  const std::uint16_t bPort = b.socket->localPort();
  ASSERT_NE(bPort, 0);
  ns::Error error;
  ASSERT_TRUE(b.socket->beginReceiving(&error)) << error.localizedDescription();

  a.socket->sendData_toHost_port_withTimeout_tag(ns::Data("hello"), "127.0.0.1", bPort, 5, 11);
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::Send, 1));
  auto sent = a.delegate->eventsOf(UdpEvent::Send).front();
  EXPECT_EQ(sent.tag, 11);
  EXPECT_TRUE(sent.onDelegateQueue);

  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 1));
  auto got = b.delegate->eventsOf(UdpEvent::Receive).front();
  EXPECT_EQ(got.data, "hello");
  ASSERT_TRUE(a.socket->localAddress());
  EXPECT_EQ(got.address, *a.socket->localAddress());
  EXPECT_EQ(DispatchUdpSocket::portFromAddress(got.address), a.socket->localPort());
  EXPECT_TRUE(got.context.isNil());
  EXPECT_TRUE(got.onDelegateQueue);

  EXPECT_FALSE(a.socket->isConnected());
  ASSERT_TRUE(a.socket->connectToAddress_error(*b.socket->localAddress(), &error))
      << error.localizedDescription();
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::Connect, 1));
  EXPECT_EQ(a.delegate->eventsOf(UdpEvent::Connect).front().address, *b.socket->localAddress());
  EXPECT_TRUE(a.socket->isConnected());
  EXPECT_EQ(a.socket->connectedPort(), bPort);
  EXPECT_EQ(a.socket->connectedHost(), "127.0.0.1");
  EXPECT_FALSE(a.socket->isIPv6());

  // Connected, a datagram needs no destination.
  a.socket->sendData_withTag(ns::Data("second"), 12);
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 2));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"hello", "second"}));
  EXPECT_EQ(a.delegate->count(UdpEvent::Close), 0u);
}

TEST(DispatchUdpSocketExchange, AConnectedSocketIgnoresOtherSenders) {
  UdpEndpoint a("udp.stranger.a", true);
  UdpEndpoint b("udp.stranger.b", true);
  ns::Error error;
  ASSERT_TRUE(b.socket->connectToAddress_error(*a.socket->localAddress(), &error))
      << error.localizedDescription();
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Connect, 1));
  ASSERT_TRUE(b.socket->beginReceiving(&error));

  RawUdpPeer stranger;
  ASSERT_TRUE(stranger.sendTo(*b.socket->localAddress(), "from a stranger"));
  // Sent after the stranger's datagram reached B's queue, so it is read after it.
  a.socket->sendData_toAddress_withTimeout_tag(ns::Data("from the peer"), *b.socket->localAddress(), -1, 1);
  ASSERT_TRUE(b.waitThenSettle(UdpEvent::Receive, 1));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"from the peer"}));
  EXPECT_FALSE(b.socket->isClosed());
  EXPECT_EQ(b.delegate->count(UdpEvent::Close), 0u);
}

TEST(DispatchUdpSocketReceive, ReceiveOnceDeliversOneDatagramPerCall) {
  UdpEndpoint b("udp.once.b", true);
  RawUdpPeer peer;
  for (const char* text : {"one", "two", "three"}) ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), text));

  ns::Error error;
  ASSERT_TRUE(b.socket->receiveOnce(&error)) << error.localizedDescription();
  ASSERT_TRUE(b.waitThenSettle(UdpEvent::Receive, 1));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"one"}));

  ASSERT_TRUE(b.socket->receiveOnce(&error));
  ASSERT_TRUE(b.waitThenSettle(UdpEvent::Receive, 2));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"one", "two"}));

  ASSERT_TRUE(b.socket->beginReceiving(&error));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 3));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"one", "two", "three"}));
}

TEST(DispatchUdpSocketReceive, ReceiveOnceTwiceBeforeAnyDatagramStillDeliversOne) {
  UdpEndpoint b("udp.oncetwice.b", true);
  ns::Error error;
  ASSERT_TRUE(b.socket->receiveOnce(&error)) << error.localizedDescription();
  ASSERT_TRUE(b.socket->receiveOnce(&error)) << "a second call while waiting changes nothing";
  RawUdpPeer peer;
  for (const char* text : {"first", "second"}) ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), text));
  ASSERT_TRUE(b.waitThenSettle(UdpEvent::Receive, 1));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"first"}));
}

TEST(DispatchUdpSocketReceive, PausedReceivingResumesWithWhatArrivedMeanwhile) {
  UdpEndpoint b("udp.pause.b", true);
  RawUdpPeer peer;
  ns::Error error;
  ASSERT_TRUE(b.socket->beginReceiving(&error));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), "before"));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 1));

  b.socket->pauseReceiving();
  b.settle();
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), "during 1"));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), "during 2"));
  b.settle();
  EXPECT_EQ(b.delegate->count(UdpEvent::Receive), 1u);

  ASSERT_TRUE(b.socket->beginReceiving(&error));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 3));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"before", "during 1", "during 2"}));
}

TEST(DispatchUdpSocketReceive, DatagramsAreCutToTheReceiveSizeWithoutHarmToTheNext) {
  UdpEndpoint b("udp.sizes.b", true);
  EXPECT_EQ(b.socket->maxReceiveIPv4BufferSize(), 9216);
  EXPECT_EQ(b.socket->maxReceiveIPv6BufferSize(), 9216u);
  RawUdpPeer peer;
  const std::string big = pattern(10000);
  ns::Error error;
  ASSERT_TRUE(b.socket->beginReceiving(&error));
  // The next datagram is longer than what was cut off the first.
  const std::string next = "next " + pattern(5000);
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), big));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), next));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 2));
  auto cut = received(*b.delegate);
  EXPECT_EQ(cut[0], big.substr(0, 9216));
  EXPECT_EQ(cut[1], next) << "the rest of a cut datagram must not shorten the next one";

  b.socket->setMaxReceiveIPv4BufferSize(65535);
  EXPECT_EQ(b.socket->maxReceiveIPv4BufferSize(), 65535);
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), big));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 3));
  EXPECT_EQ(received(*b.delegate)[2], big);
}

TEST(DispatchUdpSocketReceive, AnEmptyDatagramIsConsumedAndTheSocketStaysOpen) {
  UdpEndpoint b("udp.empty.b", true);
  RawUdpPeer peer;
  // Empty datagrams while receiving and while not: neither closes the socket.
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), ""));
  ns::Error error;
  ASSERT_TRUE(b.socket->beginReceiving(&error));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), ""));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), "after"));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 1));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), ""));
  ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), "later"));
  ASSERT_TRUE(b.waitThenSettle(UdpEvent::Receive, 2));
  EXPECT_EQ(received(*b.delegate), (std::vector<std::string>{"after", "later"}));
  EXPECT_FALSE(b.socket->isClosed());
  EXPECT_EQ(b.delegate->count(UdpEvent::Close), 0u);
}

TEST(DispatchUdpSocketSend, AnOversizeDatagramFailsAloneAndTheQueueGoesOn) {
  UdpEndpoint a("udp.oversize.a", true);
  RawUdpPeer peer;
  a.socket->sendData_toAddress_withTimeout_tag(ns::Data(pattern(70000)), peer.address(), -1, 1);
  a.socket->sendData_toAddress_withTimeout_tag(ns::Data("small"), peer.address(), -1, 2);
  ASSERT_TRUE(a.waitThenSettle(UdpEvent::Send, 1));
  auto failed = a.delegate->eventsOf(UdpEvent::NotSend);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].tag, 1);
  ASSERT_TRUE(pltest::isError(failed[0].error, ns::NSPOSIXErrorDomain, EMSGSIZE));
  EXPECT_EQ(a.delegate->eventsOf(UdpEvent::Send)[0].tag, 2);
  EXPECT_EQ(peer.receive(), "small");
  EXPECT_FALSE(a.socket->isClosed());
  EXPECT_EQ(a.delegate->count(UdpEvent::Close), 0u);
}

TEST(DispatchUdpSocketExchange, BothFamiliesOnOnePortListAndAlternate) {
  if (!ipv6LoopbackAvailable()) GTEST_SKIP() << "::1 cannot be bound here";
  UdpEndpoint b("udp.dual.b");
  ns::Error error;
  ASSERT_TRUE(b.socket->bindToPort_interface_error(0, "localhost", &error)) << error.localizedDescription();
  EXPECT_TRUE(b.socket->isIPv4());
  EXPECT_TRUE(b.socket->isIPv6());
  EXPECT_EQ(b.socket->localHost_IPv4(), "127.0.0.1");
  EXPECT_EQ(b.socket->localHost_IPv6(), "::1");
  EXPECT_EQ(b.socket->localPort(), b.socket->localPort_IPv4());
  RawUdpPeer peer4;
  RawUdpPeer peer6(true);
  ASSERT_TRUE(peer4.sendTo(*b.socket->localAddress_IPv4(), "v4 a"));
  ASSERT_TRUE(peer4.sendTo(*b.socket->localAddress_IPv4(), "v4 b"));
  ASSERT_TRUE(peer6.sendTo(*b.socket->localAddress_IPv6(), "v6 a"));
  ASSERT_TRUE(peer6.sendTo(*b.socket->localAddress_IPv6(), "v6 b"));
  ASSERT_TRUE(b.socket->beginReceiving(&error));
  ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 4));
  auto got = b.delegate->eventsOf(UdpEvent::Receive);
  for (const auto& e : got) {
    EXPECT_EQ(DispatchUdpSocket::familyFromAddress(e.address),
              e.data.rfind("v4", 0) == 0 ? AF_INET : AF_INET6);
  }
}

}  // namespace
}  // namespace udptest
