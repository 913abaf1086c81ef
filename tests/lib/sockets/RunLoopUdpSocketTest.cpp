// RunLoopUdpSocket object, binding, connecting and joining: misuse, errors, and how binding
// narrows the families.
#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "RunLoopUdpTestSupport.h"
#include "lib/sockets/SocketResolver.h"
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/sockets/SocketTestSupport.h"

using namespace rludptest;

namespace {

// Replaces the resolver for the scope.
struct ResolverOverride {
  explicit ResolverOverride(SocketResolverFunction f) { setSocketResolverForTesting(std::move(f)); }
  ~ResolverOverride() { setSocketResolverForTesting(nullptr); }
};

TEST(RunLoopUdpSocketTest, MisuseRaises) {
  struct Case {
    const char* reason;
    std::function<void(RunLoopUdpSocket&)> setUp;
    std::function<void(RunLoopUdpSocket&)> call;
  };
  auto bind = [](RunLoopUdpSocket& s) { s.bindToAddress_port_error("127.0.0.1", 0, nullptr); };
  auto connectToPeer = [](RunLoopUdpSocket& s) { s.connectToHost_onPort_error("127.0.0.1", 9, nullptr); };
  const Case cases[] = {
      {"Cannot bind a socket more than once.", bind, bind},
      {"The socket is closed.", [](RunLoopUdpSocket& s) { s.close(); }, bind},
      {"The socket is closed.", [](RunLoopUdpSocket& s) { s.close(); }, connectToPeer},
      {"The socket is closed.", [](RunLoopUdpSocket& s) { s.close(); },
       [](RunLoopUdpSocket& s) { s.connectToAddress_error(loopback4(9), nullptr); }},
      {"The socket is closed.", [](RunLoopUdpSocket& s) { s.close(); },
       [](RunLoopUdpSocket& s) { s.joinMulticastGroup_error("239.255.0.1", nullptr); }},
      {"Cannot bind after connecting. If needed, bind first, then connect.", connectToPeer, bind},
      {"Cannot connect a socket more than once.", connectToPeer, connectToPeer},
      {"Cannot connect a socket more than once.", connectToPeer,
       [](RunLoopUdpSocket& s) { s.connectToAddress_error(loopback4(9), nullptr); }},
      {"Must bind a socket before joining a multicast group.", [](RunLoopUdpSocket&) {},
       [](RunLoopUdpSocket& s) { s.joinMulticastGroup_error("239.255.0.1", nullptr); }},
      {"Cannot join a multicast group if connected.",
       [&](RunLoopUdpSocket& s) {
         bind(s);
         connectToPeer(s);
       },
       [](RunLoopUdpSocket& s) { s.joinMulticastGroup_error("239.255.0.1", nullptr); }},
  };
  for (const auto& c : cases) {
    auto sock = ns::make<RunLoopUdpSocket>();
    c.setUp(*sock);
    EXPECT_EQ(raisedReason([&] { c.call(*sock); }), c.reason);
  }
}

TEST(RunLoopUdpSocketTest, FailuresComeBackAsErrors) {
  struct Case {
    const char* what;
    std::function<ns::Ref<RunLoopUdpSocket>()> make;
    std::function<bool(RunLoopUdpSocket&, ns::Error*)> call;
    std::string domain;
    long code;
    std::string description;  // empty: not checked
  };
  const Case cases[] = {
      {"IPv4-only bound to ::1", &RunLoopUdpSocket::initIPv4,
       [](RunLoopUdpSocket& s, ns::Error* e) { return s.bindToAddress_port_error("::1", 0, e); },
       "RunLoopUdpSocketErrorDomain", 3,
       "IPv6 is unavailable due to binding/connecting using IPv4 only or is not supported on this platform"},
      {"IPv6-only connected to 127.0.0.1", &RunLoopUdpSocket::initIPv6,
       [](RunLoopUdpSocket& s, ns::Error* e) { return s.connectToHost_onPort_error("127.0.0.1", 9, e); },
       "RunLoopUdpSocketErrorDomain", 2, "IPv4 is unavailable due to binding/connecting using IPv6 only"},
      {"IPv6-only connected to a 16-byte address", &RunLoopUdpSocket::initIPv6,
       [](RunLoopUdpSocket& s, ns::Error* e) { return s.connectToAddress_error(loopback4(9), e); },
       "RunLoopUdpSocketErrorDomain", 2, ""},
      {"connect to no host", [] { return ns::make<RunLoopUdpSocket>(); },
       [](RunLoopUdpSocket& s, ns::Error* e) { return s.connectToHost_onPort_error(std::nullopt, 9, e); },
       "kCFStreamErrorDomainNetDB", EAI_NONAME, ::gai_strerror(EAI_NONAME)},
      {"connect to an empty host", [] { return ns::make<RunLoopUdpSocket>(); },
       [](RunLoopUdpSocket& s, ns::Error* e) { return s.connectToHost_onPort_error("", 9, e); },
       "kCFStreamErrorDomainNetDB", EAI_NONAME, ""},
      {"20-byte address", [] { return ns::make<RunLoopUdpSocket>(); },
       [](RunLoopUdpSocket& s, ns::Error* e) {
         return s.connectToAddress_error(ns::Data(std::string(20, '\0')), e);
       },
       "RunLoopUdpSocketErrorDomain", 1, "remoteAddr parameter is not a valid address"},
      {"IPv4-only joins an IPv6 group",
       [] {
         auto s = RunLoopUdpSocket::initIPv4();
         s->bindToPort_error(0, nullptr);
         return s;
       },
       [](RunLoopUdpSocket& s, ns::Error* e) { return s.joinMulticastGroup_error("ff02::1", e); },
       "RunLoopUdpSocketErrorDomain", 1, "Invalid group and/or address, not matching existing socket(s)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto sock = c.make();
    ns::Error err;
    EXPECT_FALSE(c.call(*sock, &err));
    EXPECT_TRUE(pltest::isError(err, c.domain, c.code));
    if (!c.description.empty()) {
      EXPECT_EQ(err.localizedDescription(), c.description);
    }
    EXPECT_FALSE(sock->isConnected());
  }
}

TEST(RunLoopUdpSocketTest, ALookupWithNoAddressLeavesTheSocketUnbound) {
  auto sock = ns::make<RunLoopUdpSocket>();
  ns::Error err;
  {
    // The resolver answers success but names no address of either family.
    ResolverOverride nothing([](const char*, const char*, const addrinfo*, addrinfo** res) {
      *res = nullptr;
      return 0;
    });
    EXPECT_FALSE(sock->bindToAddress_port_error("nowhere.invalid", 0, &err));
  }
  EXPECT_TRUE(pltest::isError(err, "kCFStreamErrorDomainNetDB", EAI_FAIL));
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_TRUE(sock->isIPv6());
  // Not marked bound: a real bind still works.
  EXPECT_TRUE(sock->bindToAddress_port_error("127.0.0.1", 0, &err)) << err.description();

  // A failing lookup gives its own code.
  ResolverOverride failing([](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_AGAIN; });
  auto other = ns::make<RunLoopUdpSocket>();
  EXPECT_FALSE(other->bindToAddress_port_error("nowhere.invalid", 0, &err));
  EXPECT_EQ(err.code(), EAI_AGAIN);
  EXPECT_FALSE(other->sendData_toHost_port_withTimeout_tag(ns::Data("x"), "nowhere.invalid", 9, -1, 0));
}

TEST(RunLoopUdpSocketTest, BindingNarrowsTheFamilies) {
  struct Case {
    std::optional<std::string> address;
    bool ipv4;
    bool ipv6;
  };
  const Case cases[] = {
      {std::nullopt, true, true}, {"", true, true},          {"127.0.0.1", true, false},
      {"::1", false, true},       {"localhost", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address.value_or("(none)"));
    auto sock = ns::make<RunLoopUdpSocket>();
    ns::Error err;
    ASSERT_TRUE(sock->bindToAddress_port_error(c.address, 0, &err)) << err.description();
    EXPECT_EQ(sock->isIPv4(), c.ipv4);
    EXPECT_EQ(sock->isIPv6(), c.ipv6);
    EXPECT_NE(sock->localPort(), 0);
  }

  // Both wildcards receive: datagrams to the IPv4 port arrive.
  auto rec = ns::make<UdpRecorder>();
  auto both = ns::make<RunLoopUdpSocket>(rec);
  ASSERT_TRUE(both->bindToPort_error(0, nullptr));
  EXPECT_EQ(both->localHost(), std::optional<std::string>("0.0.0.0"));
  EXPECT_EQ(both->maximumTransmissionUnit(), 0u);  // a wildcard names no interface
  auto peer = boundSocket(rec);
  both->receiveWithTimeout_tag(-1, 1);
  ASSERT_TRUE(
      peer->sendData_toHost_port_withTimeout_tag(ns::Data("v4"), "127.0.0.1", both->localPort(), -1, 1));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, both.get()) == 1; }, kWait));

  // An IPv6-only socket takes datagrams from ::1.
  auto six = RunLoopUdpSocket::initIPv6();
  six->setDelegate(rec);
  ASSERT_TRUE(six->bindToAddress_port_error("::1", 0, nullptr));
  EXPECT_EQ(six->localHost(), std::optional<std::string>("::1"));
  auto sender = RunLoopUdpSocket::initIPv6();
  sender->setDelegate(rec);
  six->receiveWithTimeout_tag(-1, 6);
  ASSERT_TRUE(sender->sendData_toHost_port_withTimeout_tag(ns::Data("v6"), "::1", six->localPort(), -1, 6));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, six.get()) == 1; }, kWait));
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received, six.get())[0].host, "::1");
  six->setDelegate(nullptr);
  sender->setDelegate(nullptr);
}

TEST(RunLoopUdpSocketTest, APortTheKernelPicksIsHeldByNoOtherSocket) {
  sockettest::ReusedPortHolders holders(1500, 400);
  ASSERT_GE(holders.size(), 500u);
  std::vector<ns::Ref<RunLoopUdpSocket>> sockets;
  for (int i = 0; i < 150; ++i) {
    auto sock = ns::make<RunLoopUdpSocket>();
    ns::Error err;
    ASSERT_TRUE(sock->bindToAddress_port_error("127.0.0.1", 0, &err)) << err.description();
    EXPECT_FALSE(holders.holds(sock->localPort())) << sock->localPort();
    sockets.push_back(sock);
  }
  for (auto& sock : sockets) sock->close();
}

TEST(RunLoopUdpSocketTest, ConnectingNarrowsTheFamilyAndFixesThePeer) {
  auto sock = ns::make<RunLoopUdpSocket>();
  ns::Error err;
  ASSERT_TRUE(sock->connectToAddress_error(loopback4(9), &err)) << err.description();
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_FALSE(sock->isIPv6());
  EXPECT_EQ(sock->connectedHost(), std::optional<std::string>("127.0.0.1"));
  EXPECT_EQ(sock->connectedPort(), 9);
  EXPECT_TRUE(sock->isConnectedToHost_port("127.0.0.1", 9));
  EXPECT_FALSE(sock->isConnectedToHost_port("127.0.0.1", 10));
  sock->close();
  EXPECT_FALSE(sock->isConnected());
}

TEST(RunLoopUdpSocketTest, MulticastBroadcastAndTransmissionUnit) {
  auto sock = ns::make<RunLoopUdpSocket>();
  ASSERT_TRUE(sock->bindToAddress_port_error("127.0.0.1", 0, nullptr));
  // The loopback interface's MTU, as the system reports it.
  ifreq lo{};
  std::strcpy(lo.ifr_name, "lo");
  int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(::ioctl(probe, SIOCGIFMTU, &lo), 0);
  ::close(probe);
  EXPECT_EQ(sock->maximumTransmissionUnit(), static_cast<std::uint32_t>(lo.ifr_mtu));

  ns::Error err;
  EXPECT_TRUE(sock->enableBroadcast_error(true, &err)) << err.description();
  EXPECT_TRUE(sock->enableBroadcast_error(false, &err)) << err.description();
  auto six = RunLoopUdpSocket::initIPv6();
  EXPECT_TRUE(six->enableBroadcast_error(true, &err));  // nothing to do without IPv4

  ns::Error bad;
  auto badGroup = ns::make<RunLoopUdpSocket>();
  ASSERT_TRUE(badGroup->bindToPort_error(0, nullptr));
  {
    ResolverOverride failing(
        [](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_NONAME; });
    EXPECT_FALSE(badGroup->joinMulticastGroup_error("no.such.group", &bad));
  }
  EXPECT_EQ(bad.domain(), "kCFStreamErrorDomainNetDB");
  EXPECT_EQ(bad.localizedDescription(),
            std::string("Invalid parameter 'group': ") + ::gai_strerror(EAI_NONAME));

  if (!sock->joinMulticastGroup_withAddress_error("239.255.0.1", "127.0.0.1", &err)) {
    auto underlying = err.underlyingError();
    if (underlying && underlying->code() == ENODEV) GTEST_SKIP() << "no multicast on the loopback interface";
    FAIL() << err.description();
  }
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_FALSE(sock->isIPv6());
}

TEST(RunLoopUdpSocketTest, AddressTextAndAccessors) {
  sockaddr_in a4{};
  a4.sin_family = AF_INET;
  ::inet_pton(AF_INET, "10.1.2.3", &a4.sin_addr);
  EXPECT_EQ(RunLoopUdpSocket::addressHost(reinterpret_cast<sockaddr*>(&a4)), "10.1.2.3");
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  ::inet_pton(AF_INET6, "fe80::1", &a6.sin6_addr);
  EXPECT_EQ(RunLoopUdpSocket::addressHost(reinterpret_cast<sockaddr*>(&a6)), "fe80::1");

  auto rec = ns::make<UdpRecorder>();
  auto sock = ns::make<RunLoopUdpSocket>(rec, 42);
  EXPECT_EQ(sock->userData(), 42);
  EXPECT_EQ(sock->delegate(), rec);
  EXPECT_EQ(sock->runLoopModes(), std::vector<std::string>{ns::DefaultRunLoopMode});
  auto plain = RunLoopUdpSocket::initIPv4();
  EXPECT_TRUE(plain->isIPv4());
  EXPECT_FALSE(plain->isIPv6());
  EXPECT_EQ(plain->localPort(), 0);  // unbound
}

}  // namespace
