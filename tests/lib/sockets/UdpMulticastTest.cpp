// Multicast membership and broadcast of the UDP socket on the loopback interface.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/lib/sockets/UdpSocketTestSupport.h"

namespace udptest {
namespace {

TEST(DispatchUdpSocketMulticast, JoiningAnIPv4GroupSettlesADualSocketOnIPv4) {
  if (!ipv6LoopbackAvailable()) GTEST_SKIP() << "::1 cannot be bound here";
  UdpEndpoint e("udp.multicast");
  ns::Error error;
  ASSERT_TRUE(e.socket->bindToPort_error(0, &error)) << error.localizedDescription();
  EXPECT_TRUE(e.socket->isIPv4());
  EXPECT_TRUE(e.socket->isIPv6());
  if (!e.socket->joinMulticastGroup_onInterface_error("239.255.0.1", "127.0.0.1", &error)) {
    if (error.domain() == ns::NSPOSIXErrorDomain && error.code() == ENODEV) {
      GTEST_SKIP() << "the loopback interface takes no multicast here";
    }
    FAIL() << error.localizedDescription();
  }
  EXPECT_TRUE(error.domain().empty()) << "no error on success";
  EXPECT_TRUE(e.socket->isIPv4());
  EXPECT_FALSE(e.socket->isIPv6());
  EXPECT_FALSE(e.socket->isClosed());
  EXPECT_TRUE(e.socket->leaveMulticastGroup_onInterface_error("239.255.0.1", "127.0.0.1", &error))
      << error.localizedDescription();
}

TEST(DispatchUdpSocketMulticast, RefusedRequestsAnswerNoWithTheirTexts) {
  struct Case {
    const char* name;
    bool needsIPv6;
    std::function<void(UdpEndpoint&)> prepare;
    std::string group;
    long code;
    std::string text;
  };
  auto bind4 = [](UdpEndpoint& e) { e.bindLoopback4(); };
  const std::vector<Case> cases = {
      {"before any bind", false, [](UdpEndpoint&) {}, "239.255.0.1", 1,
       "Must bind a socket before joining a multicast group."},
      {"when connected", false,
       [](UdpEndpoint& e) {
         ns::Error error;
         EXPECT_TRUE(e.socket->connectToAddress_error(loopback4(9), &error));
         EXPECT_TRUE(e.delegate->waitForCount(UdpEvent::Connect, 1));
       },
       "239.255.0.1", 1, "Cannot join a multicast group if connected."},
      {"a host name as group", false, bind4, "localhost", 2,
       "Unknown group. Specify valid group IP address."},
      {"an IPv4 group on an IPv6 socket", true,
       [](UdpEndpoint& e) {
         ns::Error error;
         EXPECT_TRUE(e.socket->bindToAddress_error(loopback6(0), &error)) << error.localizedDescription();
       },
       "239.255.0.1", 2, "Socket, group, and interface do not have matching IP versions"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsIPv6 && !ipv6LoopbackAvailable()) continue;
    UdpEndpoint e("udp.multicast.texts");
    c.prepare(e);
    const bool ipv4Before = e.socket->isIPv4();
    const bool ipv6Before = e.socket->isIPv6();
    for (bool join : {true, false}) {
      ns::Error error;
      EXPECT_FALSE(join ? e.socket->joinMulticastGroup_error(c.group, &error)
                        : e.socket->leaveMulticastGroup_error(c.group, &error));
      EXPECT_EQ(error.domain(), DispatchUdpSocketErrorDomain);
      EXPECT_EQ(error.code(), c.code);
      EXPECT_EQ(error.localizedDescription(), c.text);
    }
    // A refusal leaves the sockets as they were.
    EXPECT_EQ(e.socket->isIPv4(), ipv4Before);
    EXPECT_EQ(e.socket->isIPv6(), ipv6Before);
  }
}

TEST(DispatchUdpSocketBroadcast, BroadcastNeedsAnIPv4Socket) {
  {
    // A new socket gets its sockets without being bound: receiving is allowed, a bind still works.
    UdpEndpoint e("udp.broadcast.v4");
    e.socket->setIPv6Enabled(false);
    ns::Error error;
    EXPECT_FALSE(e.socket->receiveOnce(&error));
    ASSERT_TRUE(e.socket->enableBroadcast_error(true, &error)) << error.localizedDescription();
    EXPECT_FALSE(e.socket->isClosed());
    EXPECT_EQ(e.socket->localPort(), 0) << "not bound";
    e.socket->performBlock([&] {
      int on = 0;
      socklen_t length = sizeof on;
      ASSERT_EQ(::getsockopt(e.socket->socket4FD(), SOL_SOCKET, SO_BROADCAST, &on, &length), 0);
      EXPECT_EQ(on, 1);
    });
    EXPECT_TRUE(e.socket->receiveOnce(&error)) << error.localizedDescription();
    EXPECT_TRUE(e.socket->bindToPort_interface_error(0, "127.0.0.1", &error)) << error.localizedDescription();
    EXPECT_TRUE(e.socket->enableBroadcast_error(false, &error));
  }
  if (!ipv6LoopbackAvailable()) return;
  UdpEndpoint e("udp.broadcast.v6");
  ns::Error error;
  ASSERT_TRUE(e.socket->bindToAddress_error(loopback6(0), &error)) << error.localizedDescription();
  error = ns::Error("untouched", 99);
  EXPECT_FALSE(e.socket->enableBroadcast_error(true, &error));
  EXPECT_TRUE(error.domain().empty()) << "NO without an error";
  EXPECT_EQ(error.code(), 0);
}

}  // namespace
}  // namespace udptest
