// Outgoing connections on real loopback sockets, with listeners from the same socket class and
// the resolver seam standing in for name service.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lib/sockets/SocketResolver.h"
#include "platform/core/Error.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/Monitor.h"
#include "platform/testing/Pump.h"
#include "tests/lib/sockets/LoopbackAddresses.h"
#include "tests/lib/sockets/SocketTestSupport.h"

using namespace sockettest;

namespace {

// A client socket with its own recording delegate.
struct Client {
  explicit Client(const char* label)
      : delegate(ns::make<RecordingDelegate>(makeQueue(label))),
        socket(ns::make<DispatchSocket>(delegate, delegate->queue())) {}
  ns::Ref<RecordingDelegate> delegate;
  ns::Ref<DispatchSocket> socket;

  std::optional<ns::Error> disconnectError() {
    EXPECT_TRUE(delegate->waitForCount(Event::Disconnect, 1));
    auto events = delegate->eventsOf(Event::Disconnect);
    return events.empty() ? std::nullopt : events.back().error;
  }
};

// Replaces the resolver while it lives.
struct ResolverOverride {
  explicit ResolverOverride(SocketResolverFunction resolver) {
    setSocketResolverForTesting(std::move(resolver));
  }
  ~ResolverOverride() { setSocketResolverForTesting(nullptr); }
};

TEST(DispatchSocketConnect, ConnectsToAListenerAndRunsTheReadsQueuedRightAfter) {
  auto server = ns::make<RecordingDelegate>(makeQueue("connect.server"));
  server->onAccept = [](const ns::Ref<DispatchSocket>&, const ns::Ref<DispatchSocket>& child) {
    child->writeData_withTimeout_tag(ns::Data(std::string_view("hello")), -1, 1);
  };
  auto listener = listenOnLoopback(server);
  const std::uint16_t port = listener->localPort();

  Client client("connect.client");
  ns::Error error("", 0);
  ASSERT_TRUE(client.socket->connectToHost_onPort_error("127.0.0.1", port, &error))
      << error.localizedDescription();
  client.socket->readDataToLength_withTimeout_tag(5, -1, 7);
  EXPECT_FALSE(client.socket->isDisconnected());

  ASSERT_TRUE(client.delegate->waitThenDrain(Event::Read, 1));
  auto events = client.delegate->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Event::Connect) << "the read completes after the connect message";
  EXPECT_EQ(events[0].data, "127.0.0.1");
  EXPECT_EQ(events[0].length, port);
  EXPECT_TRUE(events[0].onDelegateQueue);
  EXPECT_EQ(events[1].kind, Event::Read);
  EXPECT_EQ(events[1].data, "hello");
  EXPECT_EQ(events[1].tag, 7);
  EXPECT_TRUE(client.socket->isConnected());
  EXPECT_TRUE(client.socket->isIPv4());
  EXPECT_EQ(client.socket->connectedPort(), port);
  auto child = server->waitForChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->connectedPort(), client.socket->localPort());
}

TEST(DispatchSocketConnect, ConnectsToAnAddressAndThroughALocalInterface) {
  auto server = ns::make<RecordingDelegate>(makeQueue("connect.forms.server"));
  auto listener = listenOnLoopback(server);
  const std::uint16_t port = listener->localPort();

  struct Case {
    const char* name;
    std::function<bool(DispatchSocket&, ns::Error*)> connect;
    std::uint16_t localPort;  // 0: any
  };
  const std::uint16_t boundPort = pltest::closedLoopbackPort();
  ASSERT_NE(boundPort, 0);
  const std::string viaInterface = "127.0.0.1:" + std::to_string(boundPort);
  const std::vector<Case> cases = {
      {"address",
       [&](DispatchSocket& s, ns::Error* e) { return s.connectToAddress_error(loopback4(port), e); }, 0},
      {"address with time-out",
       [&](DispatchSocket& s, ns::Error* e) {
         return s.connectToAddress_withTimeout_error(loopback4(port), 30, e);
       },
       0},
      {"host via interface",
       [&](DispatchSocket& s, ns::Error* e) {
         return s.connectToHost_onPort_viaInterface_withTimeout_error("127.0.0.1", port, viaInterface, 30, e);
       },
       boundPort},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Client client("connect.forms.client");
    ns::Error error("", 0);
    ASSERT_TRUE(c.connect(*client.socket, &error)) << error.localizedDescription();
    ASSERT_TRUE(client.delegate->waitForCount(Event::Connect, 1));
    EXPECT_EQ(client.delegate->eventsOf(Event::Connect)[0].data, "127.0.0.1");
    EXPECT_EQ(client.socket->localHost(), "127.0.0.1");
    if (c.localPort != 0) {
      EXPECT_EQ(client.socket->localPort(), c.localPort) << "bound before connecting";
    }
    client.socket->disconnect();
  }
}

TEST(DispatchSocketConnect, RefusedAndUnresolvedConnectsCloseWithTheirErrors) {
  {
    Client client("connect.refused");
    ASSERT_TRUE(
        client.socket->connectToHost_onPort_error("127.0.0.1", pltest::closedLoopbackPort(), nullptr));
    auto error = client.disconnectError();
    ASSERT_TRUE(pltest::isError(error, ns::NSPOSIXErrorDomain, ECONNREFUSED));
    EXPECT_EQ(error->userInfo()[ns::NSLocalizedFailureReasonErrorKey].stringValue(),
              "Error in connect() function");
    EXPECT_TRUE(client.socket->isDisconnected());
  }
  {
    ResolverOverride resolver(
        [](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_NONAME; });
    Client client("connect.unresolved");
    ASSERT_TRUE(client.socket->connectToHost_onPort_error("nowhere.invalid", 80, nullptr));
    auto error = client.disconnectError();
    ASSERT_TRUE(pltest::isError(error, kDispatchSocketNetDBErrorDomain, EAI_NONAME));
    EXPECT_LT(error->code(), 0);
    EXPECT_EQ(error->localizedDescription(), gai_strerror(EAI_NONAME));
    EXPECT_EQ(client.delegate->count(Event::Connect), 0u);
  }
}

TEST(DispatchSocketConnect, TimeOutAgainstAFullBacklogEndsTheAttemptForGood) {
  pltest::VirtualClock virtualClock;
  // A listener with no room: one connection waits unaccepted, so the next one's SYN is dropped.
  int listenFD = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_NE(listenFD, -1);
  ns::Data any = loopback4(0);
  ASSERT_EQ(::bind(listenFD, reinterpret_cast<const sockaddr*>(any.bytes()), sizeof(sockaddr_in)), 0);
  ASSERT_EQ(::listen(listenFD, 0), 0);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listenFD, reinterpret_cast<sockaddr*>(&bound), &length);
  RawClient waiting;
  ASSERT_TRUE(waiting.connectTo(ntohs(bound.sin_port)));

  Client client("connect.timeout");
  const std::set<int> descriptorsBefore = openDescriptors();
  ns::Error error("", 0);
  ASSERT_TRUE(client.socket->connectToAddress_withTimeout_error(ns::Data(&bound, sizeof bound), 0.5, &error));
  EXPECT_EQ(descriptorsOpenedSince(descriptorsBefore), 1u);
  virtualClock.advance(0.5);
  auto timeoutError = client.disconnectError();
  ASSERT_TRUE(pltest::isError(timeoutError, DispatchSocketErrorDomain, DispatchSocketConnectTimeoutError));
  EXPECT_EQ(timeoutError->localizedDescription(), "Attempt to connect to host timed out");

  // The attempt is over: its descriptor is closed, so no late outcome can arrive, even once
  // the listener makes room.
  EXPECT_EQ(descriptorsOpenedSince(descriptorsBefore), 0u);
  int accepted = ::accept(listenFD, nullptr, nullptr);
  client.socket->performBlock([] {});
  client.delegate->drain();
  EXPECT_EQ(client.delegate->events().size(), 1u);
  EXPECT_TRUE(client.socket->isDisconnected());
  if (accepted != -1) ::close(accepted);
  ::close(listenFD);
}

TEST(DispatchSocketConnect, DisconnectDuringAHeldLookupIgnoresItsResult) {
  auto server = ns::make<RecordingDelegate>(makeQueue("connect.held.server"));
  auto listener = listenOnLoopback(server);

  pltest::Monitor monitor;
  bool entered = false;  // guarded by monitor
  bool released = false;
  bool returned = false;
  ResolverOverride resolver(
      [&](const char* host, const char* service, const addrinfo* hints, addrinfo** res) {
        monitor.change([&] { entered = true; });
        monitor.waitFor([&] { return released; }, std::chrono::hours(1));  // until the test lets go
        int rc = ::getaddrinfo(host, service, hints, res);
        monitor.change([&] { returned = true; });
        return rc;
      });

  Client client("connect.held");
  ASSERT_TRUE(client.socket->connectToHost_onPort_error("127.0.0.1", listener->localPort(), nullptr));
  ASSERT_TRUE(monitor.waitFor([&] { return entered; }));
  client.socket->disconnect();
  EXPECT_TRUE(client.socket->isDisconnected());
  monitor.change([&] { released = true; });
  ASSERT_TRUE(monitor.waitFor([&] { return returned; }));
  // The lookup's answer reaches the socket queue right after the resolver returns; had it been
  // taken, the socket would be connecting or connected to the listener.
  client.socket->performBlock([] {});
  client.delegate->drain();
  auto events = client.delegate->events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, Event::Disconnect);
  EXPECT_FALSE(events[0].error) << "the owner's disconnect carries no error";
  EXPECT_TRUE(client.socket->isDisconnected());

  // The socket is free for a new attempt, which alone reaches the listener.
  ASSERT_TRUE(client.socket->connectToAddress_error(loopback4(listener->localPort()), nullptr));
  ASSERT_TRUE(client.delegate->waitForCount(Event::Connect, 1));
  ASSERT_TRUE(server->waitForCount(Event::Accept, 1));
  client.socket->performBlock([] {});
  server->drain();
  client.delegate->drain();
  EXPECT_EQ(server->count(Event::Accept), 1u);
  EXPECT_EQ(client.delegate->count(Event::Connect), 1u);
  EXPECT_EQ(client.delegate->count(Event::Disconnect), 1u);
}

TEST(DispatchSocketConnect, FailedConnectsLeaveNoDescriptorBehind) {
  auto server = ns::make<RecordingDelegate>(makeQueue("connect.leak.server"));
  auto listener = listenOnLoopback(server);
  const std::uint16_t busyPort = listener->localPort();
  const std::uint16_t closedPort = pltest::closedLoopbackPort();
  const std::string busyInterface = "127.0.0.1:" + std::to_string(busyPort);

  Client client("connect.leak");
  const std::set<int> descriptorsBefore = openDescriptors();
  std::size_t disconnects = 0;
  for (int i = 0; i < 100; ++i) {
    ns::Error error("", 0);
    switch (i % 3) {
      case 0:  // bind fails before the connect starts: NO at once
        ASSERT_FALSE(client.socket->connectToAddress_viaInterface_withTimeout_error(
            loopback4(closedPort), busyInterface, -1, &error));
        EXPECT_EQ(error.userInfo()[ns::NSLocalizedFailureReasonErrorKey].stringValue(),
                  "Error in bind() function");
        EXPECT_TRUE(client.socket->isDisconnected());
        break;
      case 1:  // bind fails after the lookup: through the delegate
        ASSERT_TRUE(client.socket->connectToHost_onPort_viaInterface_withTimeout_error(
            "127.0.0.1", closedPort, busyInterface, -1, &error));
        ASSERT_TRUE(client.delegate->waitForCount(Event::Disconnect, ++disconnects));
        break;
      default:  // refused
        ASSERT_TRUE(client.socket->connectToAddress_error(loopback4(closedPort), &error));
        ASSERT_TRUE(client.delegate->waitForCount(Event::Disconnect, ++disconnects));
        break;
    }
  }
  client.socket->performBlock([] {});
  EXPECT_EQ(descriptorsOpenedSince(descriptorsBefore), 0u);
  auto events = client.delegate->eventsOf(Event::Disconnect);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].error->userInfo()[ns::NSLocalizedFailureReasonErrorKey].stringValue(),
            "Error in bind() function");
  EXPECT_EQ(events[1].error->code(), ECONNREFUSED);
}

TEST(DispatchSocketConnect, RefusesBadRequestsWithTheirTexts) {
  auto server = ns::make<RecordingDelegate>(makeQueue("connect.texts.server"));
  auto listener = listenOnLoopback(server);
  const std::uint16_t port = listener->localPort();
  ns::Data twentyBytes(std::string(20, '\0'));

  struct Case {
    const char* name;
    std::function<ns::Ref<DispatchSocket>(Client&)> prepare;  // the socket to connect
    std::function<bool(DispatchSocket&, ns::Error*)> connect;
    long code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"empty host", [](Client& c) { return c.socket; },
       [&](DispatchSocket& s, ns::Error* e) { return s.connectToHost_onPort_error("", port, e); },
       DispatchSocketBadParamError,
       "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
      {"20-byte address", [](Client& c) { return c.socket; },
       [&](DispatchSocket& s, ns::Error* e) { return s.connectToAddress_error(twentyBytes, e); },
       DispatchSocketBadParamError, "A valid IPv4 or IPv6 address was not given"},
      {"no delegate", [](Client&) { return ns::make<DispatchSocket>(); },
       [&](DispatchSocket& s, ns::Error* e) { return s.connectToHost_onPort_error("127.0.0.1", port, e); },
       DispatchSocketBadConfigError, "Attempting to connect without a delegate. Set a delegate first."},
      {"already connected",
       [&](Client& c) {
         EXPECT_TRUE(c.socket->connectToHost_onPort_error("127.0.0.1", port, nullptr));
         EXPECT_TRUE(c.delegate->waitForCount(Event::Connect, 1));
         return c.socket;
       },
       [&](DispatchSocket& s, ns::Error* e) { return s.connectToAddress_error(loopback4(port), e); },
       DispatchSocketBadConfigError,
       "Attempting to connect while connected or accepting connections. Disconnect first."},
      {"IPv4 address with IPv4 disabled",
       [](Client& c) {
         c.socket->setIPv4Enabled(false);
         return c.socket;
       },
       [&](DispatchSocket& s, ns::Error* e) { return s.connectToAddress_error(loopback4(port), e); },
       DispatchSocketBadParamError, "IPv4 has been disabled and an IPv4 address was passed."},
      {"unknown interface", [](Client& c) { return c.socket; },
       [&](DispatchSocket& s, ns::Error* e) {
         return s.connectToHost_onPort_viaInterface_withTimeout_error("127.0.0.1", port, "no-such-interface0",
                                                                      -1, e);
       },
       DispatchSocketBadParamError,
       "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Client client("connect.texts.client");
    auto sock = c.prepare(client);
    const bool wasDisconnected = sock->isDisconnected();
    ns::Error error("", 0);
    EXPECT_FALSE(c.connect(*sock, &error));
    EXPECT_TRUE(pltest::isError(error, DispatchSocketErrorDomain, c.code));
    EXPECT_EQ(error.localizedDescription(), c.text);
    EXPECT_EQ(sock->isDisconnected(), wasDisconnected) << "a refused request starts nothing";
    sock->disconnect();
  }
}

TEST(DispatchSocketConnect, LocalhostUsesThePreferredFamily) {
  const bool haveIPv6 = ipv6LoopbackAvailable();
  auto server = ns::make<RecordingDelegate>(makeQueue("connect.localhost.server"));
  auto listener = ns::make<DispatchSocket>(server, server->queue());
  ASSERT_TRUE(listener->acceptOnInterface_port_error(haveIPv6 ? "localhost" : "127.0.0.1", 0, nullptr));
  const std::uint16_t port = listener->localPort();

  struct Case {
    bool preferIPv4;
    const char* host;
  };
  for (const Case& c : {Case{true, "127.0.0.1"}, Case{false, "::1"}}) {
    if (!c.preferIPv4 && !haveIPv6) {
      GTEST_LOG_(INFO) << "::1 is missing here: the IPv6 case is skipped";
      continue;
    }
    SCOPED_TRACE(c.host);
    Client client("connect.localhost");
    client.socket->setIPv4PreferredOverIPv6(c.preferIPv4);
    ASSERT_TRUE(client.socket->connectToHost_onPort_error("localhost", port, nullptr));
    ASSERT_TRUE(client.delegate->waitForCount(Event::Connect, 1));
    EXPECT_EQ(client.delegate->eventsOf(Event::Connect)[0].data, c.host);
    EXPECT_EQ(client.socket->isIPv6(), !c.preferIPv4);
    EXPECT_EQ(client.socket->connectedHost(), c.host);
  }
}

}  // namespace
