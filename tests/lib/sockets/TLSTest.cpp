// TLS in place on connected loopback pairs: an accepted socket as server with an identity made
// in memory, a connected socket as client.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <thread>

#include "platform/security/SSLContext.h"
#include "platform/security/Trust.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TestCertificateAuthority.h"
#include "tests/lib/sockets/SocketTestSupport.h"

using namespace sockettest;

namespace {

const pltest::TestCertificateAuthority& testCA() {
  static const auto* ca = new pltest::TestCertificateAuthority("Socket Test CA");
  return *ca;
}

ns::Ref<sec::Identity> serverIdentity() {
  static const auto identity = testCA().issueIdentity({"localhost", "127.0.0.1"});
  return identity;
}

ns::Value serverSettings(ns::Ref<sec::Identity> identity = serverIdentity(), ns::Dictionary extra = {}) {
  extra.set(kCFStreamSSLIsServer, true);
  extra.set(kCFStreamSSLCertificates, ns::Value(ns::Array{ns::Value(std::move(identity))}));
  return ns::Value(std::move(extra));
}

ns::Value manualTrustClientSettings(ns::Dictionary extra = {}) {
  extra.set(kCFStreamSSLPeerName, "localhost");
  extra.set(DispatchSocketManuallyEvaluateTrust, true);
  return ns::Value(std::move(extra));
}

// The verdict of the test CA on a peer's chain.
bool trustedByTestCA(const ns::Ref<sec::Trust>& trust) {
  trust->setAnchorCertificates({testCA().certificate()}, true);
  sec::SecTrustResultType result = sec::kSecTrustResultInvalid;
  return trust->evaluate(&result) == sec::errSecSuccess &&
         (result == sec::kSecTrustResultUnspecified || result == sec::kSecTrustResultProceed);
}

std::string pattern(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

// A client connected to an accepted child.
struct Pair {
  explicit Pair(const std::string& label)
      : server(ns::make<RecordingDelegate>(makeQueue((label + ".server").c_str()))),
        client(ns::make<RecordingDelegate>(makeQueue((label + ".client").c_str()))) {}
  // Both ends closed and finished with before the pair goes: a handshake step still running on
  // a dispatch thread, or a message to a delegate still held by one, would otherwise outlive the
  // test and race the TLS library's own clean-up at exit.
  ~Pair() {
    for (const auto& [sock, delegate] : {std::pair{child, server}, std::pair{clientSocket, client}}) {
      if (!sock) continue;
      sock->disconnect();
      EXPECT_TRUE(delegate->waitForCount(Event::Disconnect, 1));
      sock->performBlock([] {});
    }
    child = nullptr;
    clientSocket = nullptr;
    listener = nullptr;
    dispatch::sync(server->queue(), [] {});
    dispatch::sync(client->queue(), [] {});
  }
  Pair(const Pair&) = delete;
  Pair& operator=(const Pair&) = delete;

  void connect() {
    listener = listenOnLoopback(server);
    clientSocket = ns::make<DispatchSocket>(client, client->queue());
    ASSERT_TRUE(clientSocket->connectToHost_onPort_error("127.0.0.1", listener->localPort(), nullptr));
    child = server->waitForChild();
    ASSERT_TRUE(child);
    ASSERT_TRUE(client->waitForCount(Event::Connect, 1));
  }
  // Both sides secure.
  void waitSecure() {
    ASSERT_TRUE(server->waitForCount(Event::Secure, 1)) << disconnectText(*server);
    ASSERT_TRUE(client->waitForCount(Event::Secure, 1)) << disconnectText(*client);
  }
  static std::string disconnectText(RecordingDelegate& d) {
    for (auto& e : d.eventsOf(Event::Disconnect))
      if (e.error)
        return e.error->domain() + " " + std::to_string(e.error->code()) + " " +
               e.error->localizedDescription();
    return "";
  }
  static std::optional<ns::Error> disconnectError(RecordingDelegate& d) {
    EXPECT_TRUE(d.waitForCount(Event::Disconnect, 1));
    auto events = d.eventsOf(Event::Disconnect);
    return events.empty() ? std::nullopt : events[0].error;
  }

  ns::Ref<RecordingDelegate> server;
  ns::Ref<RecordingDelegate> client;
  ns::Ref<DispatchSocket> listener;
  ns::Ref<DispatchSocket> child;
  ns::Ref<DispatchSocket> clientSocket;
};

TEST(DispatchSocketTLS, ManualTrustAcceptedSecuresBothSidesAndCarries100KiB) {
  Pair p("tls.trust");
  p.server->onRead = [](const ns::Ref<DispatchSocket>& sock, const ns::Data& data, long tag) {
    sock->writeData_withTimeout_tag(data, -1, tag);  // echo
  };
  p.client->onTrust = [](const ns::Ref<sec::Trust>& trust,
                         const std::function<void(bool)>& completionHandler) {
    EXPECT_EQ(trust->hostName(), "localhost");
    const bool verdict = trustedByTestCA(trust);
    EXPECT_TRUE(verdict);
    // From another thread, as a delegate that evaluates in the background would.
    std::thread([completionHandler, verdict] {
      completionHandler(verdict);
      completionHandler(!verdict);  // a second answer is ignored
    }).join();
  };
  p.connect();
  p.child->startTLS(serverSettings());
  p.clientSocket->startTLS(manualTrustClientSettings());
  p.waitSecure();
  EXPECT_TRUE(p.child->isSecure());
  EXPECT_TRUE(p.clientSocket->isSecure());
  EXPECT_EQ(p.client->count(Event::Trust), 1u);

  const std::string payload = pattern(100 * 1024);
  p.child->readDataToLength_withTimeout_tag(payload.size(), 30, 5);
  p.clientSocket->writeData_withTimeout_tag(ns::Data(payload), 30, 1);
  p.clientSocket->readDataToLength_withTimeout_tag(payload.size(), 30, 2);
  ASSERT_TRUE(p.client->waitForCount(Event::Read, 1)) << Pair::disconnectText(*p.client);
  EXPECT_TRUE(p.client->eventsOf(Event::Read)[0].data == payload) << "echoed intact";
  EXPECT_EQ(p.client->eventsOf(Event::Read)[0].tag, 2);
  EXPECT_EQ(p.client->count(Event::Disconnect), 0u);
  EXPECT_EQ(p.server->count(Event::Disconnect), 0u);
}

TEST(DispatchSocketTLS, ManualTrustDeclinedClosesWithBadCertAndLaterAnswersAreIgnored) {
  Pair p("tls.decline");
  std::function<void(bool)> handler;
  p.client->onTrust = [&](const ns::Ref<sec::Trust>&, const std::function<void(bool)>& completionHandler) {
    handler = completionHandler;
    completionHandler(false);
  };
  p.connect();
  p.child->startTLS(serverSettings());
  p.clientSocket->startTLS(manualTrustClientSettings());
  auto error = Pair::disconnectError(*p.client);
  ASSERT_TRUE(pltest::isError(error, kDispatchSocketSSLErrorDomain, sec::errSSLPeerBadCert));
  p.client->drain();
  ASSERT_TRUE(handler);
  handler(true);
  p.clientSocket->performBlock([] {});
  p.client->drain();
  EXPECT_EQ(p.client->count(Event::Secure), 0u);
  EXPECT_EQ(p.client->count(Event::Disconnect), 1u);
  EXPECT_FALSE(p.clientSocket->isSecure());
  EXPECT_TRUE(p.clientSocket->isDisconnected());
  EXPECT_TRUE(Pair::disconnectError(*p.server)) << "the server loses its handshake";
}

// The server's descriptor, found by its peer's port: the test cannot ask the child while its
// queue is held.
int acceptedDescriptor(std::uint16_t localPort, std::uint16_t peerPort) {
  for (int fd = 3; fd < 4096; ++fd) {
    sockaddr_in local{}, peer{};
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) continue;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
    if (local.sin_family == AF_INET && ntohs(local.sin_port) == localPort && ntohs(peer.sin_port) == peerPort)
      return fd;
  }
  return -1;
}

TEST(DispatchSocketTLS, PlainReadsBeforeTheUpgradeAndHandshakeBytesRightBehindThem) {
  Pair p("tls.order");
  auto childQueue = makeQueue("tls.order.child");
  p.server->childSocketQueue = [childQueue] { return childQueue; };
  p.server->onAccept = [](const ns::Ref<DispatchSocket>&, const ns::Ref<DispatchSocket>& child) {
    child->readDataToData_withTimeout_tag(DispatchSocket::CRLFData(), 30, 1);
    child->startTLS(serverSettings());
    child->startTLS(serverSettings());  // dropped: one upgrade per connection
    child->readDataToData_withTimeout_tag(DispatchSocket::CRLFData(), 30, 2);
  };
  p.client->onTrust = [](const ns::Ref<sec::Trust>& trust,
                         const std::function<void(bool)>& completionHandler) {
    completionHandler(trustedByTestCA(trust));
  };
  // The child's queue waits until the plain line and the start of the handshake are both in
  // its receive buffer, so that they come in one read.
  dispatch::suspend(childQueue);
  p.listener = listenOnLoopback(p.server);
  p.clientSocket = ns::make<DispatchSocket>(p.client, p.client->queue());
  ASSERT_TRUE(p.clientSocket->connectToHost_onPort_error("127.0.0.1", p.listener->localPort(), nullptr));
  p.clientSocket->writeData_withTimeout_tag(ns::Data(std::string_view("PLAIN\r\n")), 30, 1);
  p.clientSocket->startTLS(manualTrustClientSettings());
  p.clientSocket->startTLS(manualTrustClientSettings());  // dropped
  p.clientSocket->writeData_withTimeout_tag(ns::Data(std::string_view("SECRET\r\n")), 30, 2);
  ASSERT_TRUE(p.client->waitForCount(Event::Connect, 1));
  // The client is connected once the kernel has the connection; the listener accepts it later.
  int serverFD = -1;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return (serverFD = acceptedDescriptor(p.listener->localPort(), p.clientSocket->localPort())) != -1;
      },
      20));
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        int pending = 0;
        return ::ioctl(serverFD, FIONREAD, &pending) == 0 && pending > 7 + 100;  // the line and a ClientHello
      },
      20));
  dispatch::resume(childQueue);

  ASSERT_TRUE(p.server->waitForCount(Event::Read, 2)) << Pair::disconnectText(*p.server);
  p.child = p.server->waitForChild();
  p.waitSecure();
  auto reads = p.server->eventsOf(Event::Read);
  EXPECT_EQ(reads[0].data, "PLAIN\r\n");
  EXPECT_EQ(reads[0].tag, 1);
  EXPECT_EQ(reads[1].data, "SECRET\r\n");
  EXPECT_EQ(reads[1].tag, 2);
  p.child->performBlock([] {});
  p.clientSocket->performBlock([] {});
  p.server->drain();
  p.client->drain();
  EXPECT_EQ(p.server->count(Event::Secure), 1u);
  EXPECT_EQ(p.client->count(Event::Secure), 1u);
  EXPECT_EQ(p.client->count(Event::Trust), 1u) << "one handshake";
  EXPECT_EQ(p.server->count(Event::Disconnect), 0u);
}

TEST(DispatchSocketTLS, SettingsThatCannotBeUsedCloseWithTheirTexts) {
  struct Case {
    const char* name;
    ns::Value serverSettings;  // nil: the server does not start TLS
    ns::Value clientSettings;  // nil: the client does not start TLS
    bool clientCloses;
    std::string text;
  };
  ns::Dictionary level{{kCFStreamSSLLevel, "kCFStreamSocketSecurityLevelNegotiatedSSL"}};
  ns::Dictionary serverManualTrust{{DispatchSocketManuallyEvaluateTrust, true}};
  const std::vector<Case> cases = {
      {"security level", serverSettings(serverIdentity(), level), ns::Value(), false,
       "Security option unavailable - kCFStreamSSLLevel"},
      {"manual trust on a server", serverSettings(serverIdentity(), serverManualTrust), ns::Value(), false,
       "Manual trust validation is not supported for server sockets"},
      {"number as peer name", ns::Value(), ns::Value(ns::Dictionary{{kCFStreamSSLPeerName, 42}}), true,
       "Invalid value for kCFStreamSSLPeerName."},
      {"any root", ns::Value(), ns::Value(ns::Dictionary{{kCFStreamSSLAllowsAnyRoot, true}}), true,
       "Security option unavailable - kCFStreamSSLAllowsAnyRoot"},
      {"text as certificate",
       ns::Value(ns::Dictionary{{kCFStreamSSLIsServer, true},
                                {kCFStreamSSLCertificates, ns::Value(ns::Array{"me"})}}),
       ns::Value(), false, "Invalid value for kCFStreamSSLCertificates."},
      {"text as protocol", ns::Value(),
       ns::Value(ns::Dictionary{{DispatchSocketSSLProtocolVersionMax, "TLS 1.2"}}), true,
       "Invalid value for DispatchSocketSSLProtocolVersionMax."},
      {"text as cipher suites", ns::Value(),
       ns::Value(ns::Dictionary{{DispatchSocketSSLCipherSuites, "C02F"}}), true,
       "Invalid value for DispatchSocketSSLCipherSuites."},
      {"no known cipher suite", ns::Value(),
       ns::Value(ns::Dictionary{{DispatchSocketSSLCipherSuites, ns::Value(ns::Array{0xFAFA})}}), true,
       "Error in SSLSetEnabledCiphers"},
      {"text as Diffie-Hellman parameters", ns::Value(),
       ns::Value(ns::Dictionary{{DispatchSocketSSLDiffieHellmanParameters, "p"}}), true,
       "Invalid value for DispatchSocketSSLDiffieHellmanParameters."},
      // The delegate does not take trust questions (onTrust unset).
      {"delegate without the trust message", serverSettings(), manualTrustClientSettings(), true,
       "DispatchSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't implement "
       "socket:shouldTrustPeer:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p("tls.texts");
    p.connect();
    if (c.serverSettings) p.child->startTLS(c.serverSettings);
    if (c.clientSettings) p.clientSocket->startTLS(c.clientSettings);
    auto error = Pair::disconnectError(c.clientCloses ? *p.client : *p.server);
    ASSERT_TRUE(pltest::isError(error, DispatchSocketErrorDomain, DispatchSocketOtherError));
    EXPECT_EQ(error->localizedDescription(), c.text);
    EXPECT_TRUE((c.clientCloses ? p.clientSocket : p.child)->isDisconnected());
  }
}

TEST(DispatchSocketTLS, CipherSuiteC02FOverTls12WithAnRsaIdentity) {
  pltest::TestCertificateAuthority::LeafOptions options;
  options.keyType = pltest::TestCertificateAuthority::KeyType::RSA;
  auto rsaIdentity = testCA().issueIdentityWithOptions(options);
  Pair p("tls.cipher");
  p.client->onTrust = [](const ns::Ref<sec::Trust>& trust,
                         const std::function<void(bool)>& completionHandler) {
    completionHandler(trustedByTestCA(trust));
  };
  p.connect();
  p.child->startTLS(serverSettings(rsaIdentity));
  p.clientSocket->startTLS(manualTrustClientSettings(
      ns::Dictionary{{DispatchSocketSSLProtocolVersionMax, static_cast<int>(sec::kTLSProtocol12)},
                     {DispatchSocketSSLCipherSuites, ns::Value(ns::Array{0xC02F})}}));
  p.waitSecure();
  for (const auto& sock : {p.child, p.clientSocket}) {
    sec::SSLCipherSuite cipher = 0;
    sec::SSLProtocol version = sec::kSSLProtocolUnknown;
    sock->performBlock([&] {
      ASSERT_TRUE(sock->sslContext());
      sock->sslContext()->getNegotiatedCipher(&cipher);
      sock->sslContext()->getNegotiatedProtocolVersion(&version);
    });
    EXPECT_EQ(cipher, 0xC02F);
    EXPECT_EQ(version, sec::kTLSProtocol12);
  }
  EXPECT_FALSE(p.child->sslContext()) << "not handed out off the socket queue";
}

TEST(DispatchSocketTLS, BadPeersEndInTheirTLSErrors) {
  {  // The server goes away in the middle of the handshake.
    Pair p("tls.abort");
    p.server->onRead = [](const ns::Ref<DispatchSocket>& sock, const ns::Data&, long) { sock->disconnect(); };
    p.client->onTrust = [](const ns::Ref<sec::Trust>&, const std::function<void(bool)>& handler) {
      handler(true);
    };
    p.connect();
    p.child->readDataWithTimeout_tag(30, 1);  // the start of the ClientHello, then close
    p.clientSocket->startTLS(manualTrustClientSettings());
    auto error = Pair::disconnectError(*p.client);
    ASSERT_TRUE(pltest::isError(error, kDispatchSocketSSLErrorDomain, sec::errSSLClosedAbort));
  }
  {  // Garbage instead of a ClientHello.
    Pair p("tls.garbage");
    p.connect();
    p.child->startTLS(serverSettings());
    p.clientSocket->writeData_withTimeout_tag(ns::Data(std::string_view("GET / HTTP/1.1\r\nHost: x\r\n\r\n")),
                                              30, 1);
    auto error = Pair::disconnectError(*p.server);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), kDispatchSocketSSLErrorDomain);
    EXPECT_NE(error->code(), sec::errSSLWouldBlock);
    EXPECT_FALSE(p.child->isSecure());
  }
  {  // A certificate for another name, checked against the process's authorities.
    sec::Trust::addProcessAnchorCertificate(testCA().certificate());
    Pair p("tls.name");
    p.connect();
    p.child->startTLS(serverSettings(testCA().issueIdentity({"other.example"})));
    p.clientSocket->startTLS(ns::Value(ns::Dictionary{{kCFStreamSSLPeerName, "localhost"}}));
    auto error = Pair::disconnectError(*p.client);
    sec::Trust::removeProcessAnchorCertificates();
    ASSERT_TRUE(pltest::isError(error, kDispatchSocketSSLErrorDomain, sec::errSSLHostNameMismatch));
    EXPECT_EQ(p.client->count(Event::Secure), 0u);
  }
}

TEST(DispatchSocketTLS, AStalledHandshakeEndsWithTheTimeOutOfTheReadBehindIt) {
  pltest::VirtualClock virtualClock;
  Pair p("tls.stall");
  p.connect();
  p.child->startTLS(serverSettings());
  p.child->readDataToData_withTimeout_tag(DispatchSocket::CRLFData(), 0.5, 1);
  p.child->performBlock([] {});  // both requests are in place, the handshake waits for the client
  EXPECT_TRUE(p.child->isConnected());
  virtualClock.advance(0.5);
  auto error = Pair::disconnectError(*p.server);
  ASSERT_TRUE(pltest::isError(error, DispatchSocketErrorDomain, DispatchSocketReadTimeoutError));
  ASSERT_TRUE(Pair::disconnectError(*p.client)) << "the client sees the connection end";
}

}  // namespace
