// The UDP socket's send queue, filters, error texts, lookups through the resolver seam, binding
// failures, the choice of a destination, and closing, on real loopback sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "lib/sockets/SocketResolver.h"
#include "platform/core/Exception.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/Monitor.h"
#include "tests/lib/sockets/UdpSocketTestSupport.h"

namespace udptest {
namespace {

// Replaces the resolver while it lives.
struct ResolverOverride {
  explicit ResolverOverride(SocketResolverFunction resolver) {
    setSocketResolverForTesting(std::move(resolver));
  }
  ~ResolverOverride() { setSocketResolverForTesting(nullptr); }
};

// A resolver that fails `badHost` and answers everything else numerically.
SocketResolverFunction failing(std::string badHost) {
  return [badHost](const char* host, const char* service, const addrinfo* hints, addrinfo** res) {
    if (host && badHost == host) return EAI_NONAME;
    addrinfo numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    return ::getaddrinfo(host, service, &numeric, res);
  };
}

// Holds every lookup until released; then answers 127.0.0.1.
class HeldResolver {
 public:
  HeldResolver()
      : override_([this](const char*, const char* service, const addrinfo* hints, addrinfo** res) {
          monitor_.waitFor([this] { return open_; }, std::chrono::hours(1));  // until released
          addrinfo numeric = *hints;
          numeric.ai_flags |= AI_NUMERICHOST;
          return ::getaddrinfo("127.0.0.1", service, &numeric, res);
        }) {}
  ~HeldResolver() { release(); }
  void release() {
    monitor_.change([this] { open_ = true; });
  }

 private:
  pltest::Monitor monitor_;
  bool open_ = false;  // guarded by monitor_
  ResolverOverride override_;
};

std::vector<long> tagsOf(RecordingUdpDelegate& delegate, UdpEvent::Kind kind) {
  std::vector<long> tags;
  for (const auto& e : delegate.eventsOf(kind)) tags.push_back(e.tag);
  return tags;
}

TEST(DispatchUdpSocketFilters, ASendFilterThatRefusesReportsTheDatagramAsSentAndSendsNothing) {
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "asynchronous filter" : "synchronous filter");
    UdpEndpoint a("udp.sendfilter.a", true);
    RawUdpPeer peer;
    std::mutex seenMutex;
    std::vector<std::pair<ns::Data, long>> seen;
    a.socket->setSendFilter_withQueue_isAsynchronous(
        [&](const ns::Data& data, const ns::Data& address, long tag) {
          std::lock_guard lock(seenMutex);
          seen.emplace_back(address, tag);
          return data.toString() != "blocked";
        },
        makeQueue("udp.sendfilter.filter"), async);
    a.socket->sendData_toAddress_withTimeout_tag(ns::Data("blocked"), peer.address(), -1, 1);
    a.socket->sendData_toAddress_withTimeout_tag(ns::Data("allowed"), peer.address(), -1, 2);
    ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::Send, 2));
    EXPECT_EQ(tagsOf(*a.delegate, UdpEvent::Send), (std::vector<long>{1, 2}));
    EXPECT_EQ(a.delegate->count(UdpEvent::NotSend), 0u);
    // Datagrams on loopback arrive in order: the first one there is the allowed one.
    EXPECT_EQ(peer.receive(), "allowed");
    std::lock_guard lock(seenMutex);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, peer.address());
    EXPECT_EQ(seen[0].second, 1);
  }
}

TEST(DispatchUdpSocketFilters, AReceiveFilterDropsDatagramsAndHandsItsContextOn) {
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "asynchronous filter" : "synchronous filter");
    UdpEndpoint b("udp.receivefilter.b", true);
    RawUdpPeer peer;
    b.socket->setReceiveFilter_withQueue_isAsynchronous(
        [port = peer.port()](const ns::Data& data, const ns::Data& address, ns::Value* context) {
          if (data.toString() == "skip") return false;
          *context = ns::Value("context of " + data.toString() + " from " +
                               std::to_string(DispatchUdpSocket::portFromAddress(address) == port));
          return true;
        },
        makeQueue("udp.receivefilter.filter"), async);
    for (const char* text : {"skip", "skip", "keep", "more"})
      ASSERT_TRUE(peer.sendTo(*b.socket->localAddress(), text));

    // In receive-once mode refused datagrams do not count: reading goes on to the next one.
    ns::Error error;
    ASSERT_TRUE(b.socket->receiveOnce(&error)) << error.localizedDescription();
    ASSERT_TRUE(b.waitThenSettle(UdpEvent::Receive, 1));
    auto got = b.delegate->eventsOf(UdpEvent::Receive);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, "keep");
    ASSERT_TRUE(got[0].context.isString());
    EXPECT_EQ(got[0].context.string(), "context of keep from 1");

    ASSERT_TRUE(b.socket->beginReceiving(&error));
    ASSERT_TRUE(b.delegate->waitForCount(UdpEvent::Receive, 2));
    EXPECT_EQ(b.delegate->eventsOf(UdpEvent::Receive)[1].data, "more");
  }
}

// Operations refused synchronously, with their exact texts.
TEST(DispatchUdpSocketTexts, RefusedOperationsAnswerNoWithTheirTexts) {
  struct Case {
    const char* name;
    std::function<bool(UdpEndpoint&, ns::Error*)> operation;
    long code;
    std::string text;
  };
  const std::string unknownInterface =
      "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
  const std::vector<Case> cases = {
      {"receiving before any bind",
       [](UdpEndpoint& e, ns::Error* err) { return e.socket->beginReceiving(err); }, 1,
       "Must bind socket before you can receive data. You can do this explicitly via bind, or implicitly via "
       "connect "
       "or by sending data."},
      {"receiving once before any bind",
       [](UdpEndpoint& e, ns::Error* err) { return e.socket->receiveOnce(err); }, 1,
       "Must bind socket before you can receive data. You can do this explicitly via bind, or implicitly via "
       "connect "
       "or by sending data."},
      {"a second bind",
       [](UdpEndpoint& e, ns::Error* err) {
         e.bindLoopback4();
         return e.socket->bindToPort_error(0, err);
       },
       1, "Cannot bind a socket more than once."},
      {"a bind after sending",
       [](UdpEndpoint& e, ns::Error* err) {
         RawUdpPeer peer;
         e.socket->sendData_toAddress_withTimeout_tag(ns::Data("x"), peer.address(), -1, 1);
         EXPECT_TRUE(e.delegate->waitForCount(UdpEvent::Send, 1));
         return e.socket->bindToPort_error(0, err);
       },
       1, "Cannot bind a socket more than once."},
      {"a bind after a queued connect",
       [](UdpEndpoint& e, ns::Error* err) {
         // The lookup is held until the bind has been refused, so the request is still queued.
         HeldResolver held;
         ns::Error ignored;
         EXPECT_TRUE(e.socket->connectToHost_onPort_error("peer.test", 9, &ignored));
         bool result = e.socket->bindToPort_error(0, err);
         held.release();
         EXPECT_TRUE(e.delegate->waitForCount(UdpEvent::Connect, 1));
         return result;
       },
       1, "Cannot bind after connecting. If needed, bind first, then connect."},
      {"a second connect",
       [](UdpEndpoint& e, ns::Error* err) {
         ns::Error ignored;
         EXPECT_TRUE(e.socket->connectToHost_onPort_error("127.0.0.1", 9, &ignored));
         return e.socket->connectToHost_onPort_error("127.0.0.1", 9, err);
       },
       1, "Cannot connect a socket more than once."},
      {"a nil host",
       [](UdpEndpoint& e, ns::Error* err) { return e.socket->connectToHost_onPort_error({}, 9, err); }, 2,
       "The host param is nil. Should be domain name or IP address string."},
      {"a nil address",
       [](UdpEndpoint& e, ns::Error* err) { return e.socket->connectToAddress_error({}, err); }, 2,
       "The address param is nil. Should be a valid address."},
      {"a 10-byte address",
       [](UdpEndpoint& e, ns::Error* err) {
         ns::Data tenBytes = loopback4(9).subdata(0, 10);
         return e.socket->bindToAddress_error(tenBytes, err);
       },
       2, "A valid IPv4 or IPv6 address was not given"},
      {"an IPv6 address with IPv6 disabled",
       [](UdpEndpoint& e, ns::Error* err) {
         e.socket->setIPv6Enabled(false);
         return e.socket->bindToAddress_error(loopback6(0), err);
       },
       2, "IPv6 has been disabled and an IPv6 address was passed."},
      {"both families disabled",
       [](UdpEndpoint& e, ns::Error* err) {
         e.socket->setIPv4Enabled(false);
         e.socket->setIPv6Enabled(false);
         return e.socket->bindToPort_error(0, err);
       },
       1, "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."},
      {"an unknown interface",
       [](UdpEndpoint& e, ns::Error* err) {
         return e.socket->bindToPort_interface_error(0, "nosuchif0", err);
       },
       2, unknownInterface},
      {"no delegate",
       [](UdpEndpoint& e, ns::Error* err) {
         e.socket->synchronouslySetDelegate(ns::Weak<DispatchUdpSocketDelegate>());
         return e.socket->bindToPort_error(0, err);
       },
       1, "Attempting to use socket without a delegate. Set a delegate first."},
      {"no delegate queue",
       [](UdpEndpoint& e, ns::Error* err) {
         e.socket->synchronouslySetDelegateQueue(nullptr);
         return e.socket->connectToAddress_error(loopback4(9), err);
       },
       1, "Attempting to use socket without a delegate queue. Set a delegate queue first."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UdpEndpoint endpoint("udp.texts");
    ns::Error error;
    EXPECT_FALSE(c.operation(endpoint, &error));
    EXPECT_TRUE(pltest::isError(error, DispatchUdpSocketErrorDomain, c.code));
    EXPECT_EQ(error.localizedDescription(), c.text);
  }
}

// Datagrams refused one by one, reported through the delegate; the queue goes on after each.
TEST(DispatchUdpSocketTexts, DatagramsWithoutAUsableDestinationFailAlone) {
  UdpEndpoint a("udp.destination.a", true);
  RawUdpPeer peer;
  ResolverOverride resolver(failing("no-such-host.test"));

  a.socket->sendData_withTimeout_tag(ns::Data("nowhere"), -1, 1);
  a.socket->sendData_withTimeout_tag(ns::Data(), -1, 2);  // empty: ignored, no report at all
  a.socket->sendData_toHost_port_withTimeout_tag(ns::Data("unresolved"), "no-such-host.test", peer.port(), -1,
                                                 3);
  a.socket->sendData_toHost_port_withTimeout_tag(ns::Data("nil host"), std::nullopt, peer.port(), -1, 4);
  a.socket->sendData_toHost_port_withTimeout_tag(ns::Data("served"), "127.0.0.1", peer.port(), -1, 5);
  ASSERT_TRUE(a.waitThenSettle(UdpEvent::Send, 1));
  auto failed = a.delegate->eventsOf(UdpEvent::NotSend);
  ASSERT_EQ(failed.size(), 3u);
  EXPECT_EQ(failed[0].tag, 1);
  EXPECT_EQ(failed[0].error->code(), DispatchUdpSocketBadConfigError);
  EXPECT_EQ(describe(failed[0].error), "You must specify destination of packet for a non-connected socket");
  EXPECT_EQ(failed[1].tag, 3);
  EXPECT_EQ(failed[1].error->domain(), kDispatchUdpSocketNetDBErrorDomain);
  EXPECT_EQ(failed[1].error->code(), EAI_NONAME);
  EXPECT_EQ(describe(failed[1].error), gai_strerror(EAI_NONAME));
  EXPECT_EQ(failed[2].tag, 4);
  EXPECT_EQ(describe(failed[2].error), "The host param is nil. Should be domain name or IP address string.");
  EXPECT_EQ(tagsOf(*a.delegate, UdpEvent::Send), (std::vector<long>{5}));
  EXPECT_EQ(peer.receive(), "served");

  // Connected, a datagram for a host is refused; one for an address goes to the peer instead.
  RawUdpPeer other;
  ns::Error error;
  ASSERT_TRUE(a.socket->connectToHost_onPort_error("127.0.0.1", peer.port(), &error))
      << error.localizedDescription();
  a.socket->sendData_toHost_port_withTimeout_tag(ns::Data("to a host"), "127.0.0.1", other.port(), -1, 6);
  a.socket->sendData_toAddress_withTimeout_tag(ns::Data("to an address"), other.address(), -1, 7);
  ASSERT_TRUE(a.waitThenSettle(UdpEvent::Send, 2));
  failed = a.delegate->eventsOf(UdpEvent::NotSend);
  ASSERT_EQ(failed.size(), 4u);
  EXPECT_EQ(failed[3].tag, 6);
  EXPECT_EQ(failed[3].error->code(), DispatchUdpSocketBadConfigError);
  EXPECT_EQ(describe(failed[3].error), "Cannot specify destination of packet for connected socket");
  EXPECT_EQ(peer.receive(), "to an address");
  EXPECT_FALSE(other.hasDatagram());
  EXPECT_EQ(a.delegate->count(UdpEvent::Close), 0u);
}

TEST(DispatchUdpSocketConnect, AFailedLookupOrRefusedChoiceLeavesTheSocketUsable) {
  ResolverOverride resolver(failing("no-such-host.test"));
  UdpEndpoint a("udp.connectfail.a");
  a.socket->setIPv4Enabled(false);
  ns::Error error;
  ASSERT_TRUE(a.socket->connectToHost_onPort_error("no-such-host.test", 9, &error));
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::NotConnect, 1));
  auto refused = a.delegate->eventsOf(UdpEvent::NotConnect).front();
  EXPECT_EQ(refused.error->domain(), kDispatchUdpSocketNetDBErrorDomain);
  EXPECT_EQ(refused.error->code(), EAI_NONAME);
  EXPECT_FALSE(a.socket->isConnected());

  // IPv4 disabled: an IPv4-only answer leaves nothing to connect to.
  ASSERT_TRUE(a.socket->connectToHost_onPort_error("127.0.0.1", 9, &error)) << error.localizedDescription();
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::NotConnect, 2));
  EXPECT_EQ(describe(a.delegate->eventsOf(UdpEvent::NotConnect)[1].error),
            "IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
  EXPECT_FALSE(a.socket->isConnected());

  // Bytes that are no socket address are refused, not used.
  a.socket->setIPv4Enabled(true);
  ASSERT_TRUE(a.socket->connectToAddress_error(ns::Data("ten bytes!"), &error))
      << error.localizedDescription();
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::NotConnect, 3));
  auto third = a.delegate->eventsOf(UdpEvent::NotConnect)[2].error;
  EXPECT_EQ(third->code(), DispatchUdpSocketBadParamError);
  EXPECT_EQ(describe(third), "A valid IPv4 or IPv6 address was not given");
  EXPECT_FALSE(a.socket->isConnected());
  EXPECT_FALSE(a.socket->isClosed());
}

TEST(DispatchUdpSocketBind, APortHeldElsewhereFailsTheBindAndClosesBothSockets) {
  RawUdpPeer holder;
  for (bool bothFamilies : {false, true}) {
    SCOPED_TRACE(bothFamilies ? "any interface" : "127.0.0.1");
    UdpEndpoint a("udp.bindfail.a");
    if (bothFamilies && !ipv6LoopbackAvailable()) a.socket->setIPv6Enabled(false);
    ns::Error error;
    bool bound = bothFamilies ? a.socket->bindToPort_error(holder.port(), &error)
                              : a.socket->bindToPort_interface_error(holder.port(), "127.0.0.1", &error);
    EXPECT_FALSE(bound);
    EXPECT_TRUE(pltest::isError(error, ns::NSPOSIXErrorDomain, EADDRINUSE));
    EXPECT_EQ(error.localizedFailureReason(), "Error in bind() function");
    EXPECT_TRUE(a.socket->isClosed());
    a.socket->performBlock([&] {
      EXPECT_EQ(a.socket->socket4FD(), -1);
      EXPECT_EQ(a.socket->socket6FD(), -1);
    });
    // Closed without a message, and usable again.
    EXPECT_TRUE(a.socket->bindToPort_interface_error(0, "127.0.0.1", &error)) << error.localizedDescription();
    a.settle();
    EXPECT_EQ(a.delegate->count(UdpEvent::Close), 0u);
  }
}

TEST(DispatchUdpSocketBind, APortTheKernelPicksIsHeldByNoOtherSocket) {
  sockettest::ReusedPortHolders holders(1500, 400);
  ASSERT_GE(holders.size(), 500u);
  RawUdpPeer peer;
  std::vector<std::unique_ptr<UdpEndpoint>> endpoints;
  for (int i = 0; i < 150; ++i) {
    auto e = std::make_unique<UdpEndpoint>("udp.ownport");
    e->socket->setIPv6Enabled(false);
    if (i % 2 == 0) {
      e->bindLoopback4();
    } else {
      // Bound by its first send.
      e->socket->sendData_toAddress_withTimeout_tag(ns::Data("x"), peer.address(), -1, i);
      ASSERT_TRUE(e->waitThenSettle(UdpEvent::Send, 1));
    }
    std::uint16_t port = e->socket->localPort_IPv4();
    ASSERT_NE(port, 0) << i;
    EXPECT_FALSE(holders.holds(port)) << (i % 2 ? "sent first, " : "bound, ") << port;
    endpoints.push_back(std::move(e));
  }
}

TEST(DispatchUdpSocketAddresses, TheDestinationFollowsThePreferenceAndTheFamiliesInUse) {
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_port = htons(7);
  inet_pton(AF_INET6, "2001:db8::1", &a6.sin6_addr);
  const ns::Data a(&a6, sizeof a6);
  const ns::Data b = loopback4(7);
  struct Case {
    const char* name;
    std::function<void(DispatchUdpSocket&)> configure;
    std::vector<ns::Data> addresses;
    int family;
    std::string error;
    long code = DispatchUdpSocketOtherError;
  };
  const std::vector<Case> cases = {
      {"nothing usable",
       [](DispatchUdpSocket&) {},
       {b.subdata(0, 10), ns::Data()},
       0,
       "A valid IPv4 or IPv6 address was not given",
       DispatchUdpSocketBadParamError},
      {"neutral", [](DispatchUdpSocket&) {}, {a, b}, AF_INET6, ""},
      {"neutral, IPv4 first", [](DispatchUdpSocket&) {}, {b, a}, AF_INET, ""},
      {"prefer IPv4", [](DispatchUdpSocket& s) { s.setPreferIPv4(); }, {a, b}, AF_INET, ""},
      {"prefer IPv6", [](DispatchUdpSocket& s) { s.setPreferIPv6(); }, {b, a}, AF_INET6, ""},
      {"prefer IPv6, only IPv4", [](DispatchUdpSocket& s) { s.setPreferIPv6(); }, {b}, AF_INET, ""},
      {"IPv4 disabled, only IPv4",
       [](DispatchUdpSocket& s) { s.setIPv4Enabled(false); },
       {b},
       0,
       "IPv4 has been disabled and DNS lookup found no IPv6 address(es)."},
      {"IPv6 disabled, only IPv6",
       [](DispatchUdpSocket& s) { s.setIPv6Enabled(false); },
       {a},
       0,
       "IPv6 has been disabled and DNS lookup found no IPv4 address(es)."},
      {"IPv6 out of use after an IPv4 bind, only IPv6",
       [](DispatchUdpSocket& s) {
         ns::Error error;
         EXPECT_TRUE(s.bindToAddress_error(loopback4(0), &error)) << error.localizedDescription();
       },
       {a},
       0,
       "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UdpEndpoint endpoint("udp.choice");
    c.configure(*endpoint.socket);
    endpoint.socket->performBlock([&] {
      std::optional<ns::Data> chosen;
      ns::Error error;
      int family = endpoint.socket->getAddress_error_fromAddresses(&chosen, &error, c.addresses);
      EXPECT_EQ(family, c.family);
      if (c.family == AF_INET) {
        EXPECT_EQ(chosen, b);
      } else if (c.family == AF_INET6) {
        EXPECT_EQ(chosen, a);
      } else {
        EXPECT_FALSE(chosen);
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.localizedDescription(), c.error);
      }
    });
  }
}

TEST(DispatchUdpSocketAddresses, WithIPv4OutOfUseALookupOfOnlyIPv4AddressesFailsTheDatagram) {
  if (!ipv6LoopbackAvailable()) GTEST_SKIP() << "::1 cannot be bound here";
  ResolverOverride resolver([](const char* host, const char* service, const addrinfo* hints, addrinfo** res) {
    // Every name answers 127.0.0.1 only.
    addrinfo numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    return ::getaddrinfo("127.0.0.1", service, &numeric, res);
  });
  UdpEndpoint a("udp.deactivated.a");
  ns::Error error;
  ASSERT_TRUE(a.socket->bindToAddress_error(loopback6(0), &error)) << error.localizedDescription();
  EXPECT_FALSE(a.socket->isIPv4());
  RawUdpPeer peer4;
  RawUdpPeer peer6(true);
  a.socket->sendData_toHost_port_withTimeout_tag(ns::Data("v4 only"), "peer.test", peer4.port(), -1, 1);
  a.socket->sendData_toAddress_withTimeout_tag(ns::Data("next"), peer6.address(), -1, 2);
  ASSERT_TRUE(a.waitThenSettle(UdpEvent::Send, 1));
  auto failed = a.delegate->eventsOf(UdpEvent::NotSend);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].tag, 1);
  EXPECT_EQ(describe(failed[0].error),
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
  EXPECT_EQ(peer6.receive(), "next");
}

TEST(DispatchUdpSocketClose, CloseAfterSendingReportsEverySendThenTheClose) {
  UdpEndpoint a("udp.close.a");
  RawUdpPeer peer;
  ns::Error error;
  ASSERT_TRUE(a.socket->connectToAddress_error(peer.address(), &error)) << error.localizedDescription();
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::Connect, 1));
  EXPECT_EQ(a.socket->socketFD(), -1) << "off the socket queue";
  a.socket->performBlock([&] {
    EXPECT_GE(a.socket->socketFD(), 0);
    EXPECT_EQ(a.socket->socketFD(), a.socket->socket4FD());
  });

  for (long tag : {1, 2, 3}) a.socket->sendData_withTag(ns::Data("datagram " + std::to_string(tag)), tag);
  a.socket->closeAfterSending();
  ASSERT_TRUE(a.delegate->waitForCount(UdpEvent::Close, 1));
  auto events = a.delegate->events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].kind, UdpEvent::Connect);
  for (std::size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(events[i].kind, UdpEvent::Send);
    EXPECT_EQ(events[i].tag, static_cast<long>(i));
  }
  EXPECT_EQ(events[4].kind, UdpEvent::Close);
  EXPECT_FALSE(events[4].error);
  for (const char* text : {"datagram 1", "datagram 2", "datagram 3"}) EXPECT_EQ(peer.receive(), text);

  EXPECT_TRUE(a.socket->isClosed());
  EXPECT_FALSE(a.socket->isConnected());
  EXPECT_EQ(a.socket->connectedHost(), "127.0.0.1");
  EXPECT_EQ(a.socket->connectedPort(), peer.port());
  EXPECT_FALSE(a.socket->localAddress());
  EXPECT_EQ(a.socket->localPort(), 0);
}

TEST(DispatchUdpSocketClose, WithoutADelegateQueueNothingIsReported) {
  UdpEndpoint a("udp.silent.a");
  a.socket->synchronouslySetDelegateQueue(nullptr);
  RawUdpPeer peer;
  a.socket->sendData_toAddress_withTimeout_tag(ns::Data("quiet"), peer.address(), -1, 1);
  EXPECT_EQ(peer.receive(), "quiet");
  a.socket->close();
  a.settle();
  EXPECT_TRUE(a.delegate->events().empty());
}

TEST(DispatchUdpSocketQueue, ConfigurationIsKeptOnTheSocketQueue) {
  UdpEndpoint e("udp.config");
  DispatchUdpSocket& s = *e.socket;
  EXPECT_TRUE(s.isIPVersionNeutral());
  s.setPreferIPv4();
  s.setPreferIPv6();
  EXPECT_FALSE(s.isIPv4Preferred());
  EXPECT_TRUE(s.isIPv6Preferred());
  EXPECT_FALSE(s.isIPVersionNeutral());
  s.setIPVersionNeutral();
  EXPECT_TRUE(s.isIPVersionNeutral());
  s.setIPv4Enabled(false);
  EXPECT_FALSE(s.isIPv4Enabled());
  EXPECT_FALSE(s.isIPv4()) << "before sockets exist, whether the family is enabled";
  EXPECT_TRUE(s.isIPv6());
  s.setMaxReceiveIPv6BufferSize(100000);
  EXPECT_EQ(s.maxReceiveIPv6BufferSize(), 100000u);
  s.setUserData(ns::Value("mine"));
  EXPECT_EQ(s.userData(), ns::Value("mine"));
  EXPECT_TRUE(s.isClosed());
  EXPECT_EQ(s.localPort(), 0);
  EXPECT_FALSE(s.connectedAddress());
  ns::Ref<DispatchUdpSocketDelegate> delegate;
  ns::Ref<dispatch::Queue> queue;
  s.getDelegate_delegateQueue(&delegate, &queue);
  EXPECT_EQ(delegate, e.delegate);
  EXPECT_EQ(queue, e.delegate->queue());
}

TEST(DispatchUdpSocketQueue, AConcurrentSocketQueueIsRefused) {
  try {
    auto s =
        ns::make<DispatchUdpSocket>(dispatch::queueCreate("udp.concurrent", dispatch::QueueAttr::Concurrent));
    ADD_FAILURE() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), DispatchUdpSocketException);
  }
}

TEST(DispatchUdpSocketQueueDeathTest, StateIsTouchedOnlyOnTheSocketQueue) {
#ifdef NDEBUG
  GTEST_SKIP() << "the checks exist in Debug builds only";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  UdpEndpoint e("udp.check");
  std::vector<ns::Data> none;
  EXPECT_DEATH(e.socket->getAddress_error_fromAddresses(nullptr, nullptr, none),
               "DispatchUdpSocket used off its queue \"DispatchUdpSocket\"");
  auto target = makeQueue("udp.check.target");
  auto socketQueue = makeQueue("udp.check.socket");
  dispatch::setTargetQueue(socketQueue, target);
  auto delegate = ns::make<RecordingUdpDelegate>(makeQueue("udp.check.delegate"));
  auto socket = ns::make<DispatchUdpSocket>(delegate, delegate->queue(), socketQueue);
  socket->markSocketQueueTargetQueue(target);
  dispatch::sync(target,
                 [&] { EXPECT_EQ(socket->getAddress_error_fromAddresses(nullptr, nullptr, none), 0); });
  socket->unmarkSocketQueueTargetQueue(target);
  EXPECT_DEATH(
      dispatch::sync(target, [&] { socket->getAddress_error_fromAddresses(nullptr, nullptr, none); }),
      "used off its queue \"udp.check.socket\"");
  socket->close();
}

}  // namespace
}  // namespace udptest
