#include "platform/security/SSLContext.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include "platform/security/Random.h"
#include "platform/security/Trust.h"
#include "platform/testing/TestCertificateAuthority.h"
#include "tests/platform/security/TlsPipe.h"

namespace {

using namespace sec;
using pltest::TestCertificateAuthority;
using tls_test::Link;

// One CA that the process trusts, shared by the tests of this file.
const TestCertificateAuthority& trustedCA() {
  static TestCertificateAuthority* ca = [] {
    auto* authority = new TestCertificateAuthority("Pelorin Trusted Test CA");
    Trust::addProcessAnchorCertificate(authority->certificate());
    return authority;
  }();
  return *ca;
}

// Moves `data` from one side to the other through both contexts, driving both, until all of it
// arrived. Answers what the receiver got.
std::string transfer(SSLContext& sender, SSLContext& receiver, const std::string& data) {
  std::string received;
  std::size_t sent = 0;
  bool held = false;
  for (int round = 0; round < 100000 && received.size() < data.size(); ++round) {
    if (sent < data.size() || held) {
      std::size_t piece = std::min<std::size_t>(32768, data.size() - sent), n = 0;
      OSStatus s = held ? sender.write(nullptr, 0, &n) : sender.write(data.data() + sent, piece, &n);
      if (s == noErr) {
        sent += held ? 0 : n;
        held = false;
      } else if (s == errSSLWouldBlock && !held) {
        held = true;  // the piece was taken; push it out with empty writes
        sent += piece;
      } else if (s != errSSLWouldBlock) {
        ADD_FAILURE() << "write failed with " << s;
        break;
      }
    }
    char buffer[5000];
    std::size_t n = 0;
    OSStatus r = receiver.read(buffer, sizeof buffer, &n);
    received.append(buffer, n);
    if (r != noErr && r != errSSLWouldBlock) {
      ADD_FAILURE() << "read failed with " << r;
      break;
    }
  }
  return received;
}

TEST(SSLContextTest, HandshakeExchangeBothWaysAndGracefulClose) {
  Link link(7000);  // small pipes: writes and reads block often
  ASSERT_TRUE(link.client && link.server);
  ASSERT_EQ(link.server->setCertificate(trustedCA().issueIdentity({"localhost", "127.0.0.1"})), noErr);
  ASSERT_EQ(link.client->setPeerDomainName("localhost"), noErr);
  SSLSessionState state;
  link.client->getSessionState(&state);
  EXPECT_EQ(state, kSSLIdle);

  auto [c, s] = link.handshake();
  ASSERT_EQ(c, noErr);
  ASSERT_EQ(s, noErr);
  link.client->getSessionState(&state);
  EXPECT_EQ(state, kSSLConnected);
  SSLProtocol version;
  link.client->getNegotiatedProtocolVersion(&version);
  EXPECT_EQ(version, kTLSProtocol13);
  auto peer = link.client->peerCertificates();
  ASSERT_EQ(peer.size(), 2u);
  EXPECT_EQ(peer[0]->subjectSummary(), "localhost");
  EXPECT_TRUE(peer[1]->isEqual(trustedCA().certificate().get()));

  const std::string up = randomBytes(100 * 1024), down = randomBytes(100 * 1024);
  EXPECT_TRUE(transfer(*link.client, *link.server, up) == up);
  EXPECT_TRUE(transfer(*link.server, *link.client, down) == down);

  // Nothing more to read: would block, with nothing delivered.
  char buffer[16];
  std::size_t n = 99;
  EXPECT_EQ(link.server->read(buffer, sizeof buffer, &n), errSSLWouldBlock);
  EXPECT_EQ(n, 0u);

  EXPECT_EQ(link.client->close(), noErr);
  EXPECT_EQ(link.server->read(buffer, sizeof buffer, &n), errSSLClosedGraceful);
  EXPECT_EQ(link.server->read(buffer, sizeof buffer, &n), errSSLClosedGraceful);
  EXPECT_EQ(link.client->write("x", 1, &n), errSSLClosedGraceful);
}

TEST(SSLContextTest, BytesBeforeTheCloseAreDeliveredFirst) {
  Link link;
  link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
  link.client->setPeerDomainName("localhost");
  ASSERT_EQ(link.handshake(), std::make_pair(noErr, noErr));
  std::size_t n = 0;
  ASSERT_EQ(link.server->write("last words", 10, &n), noErr);
  link.server->close();
  char buffer[64];
  ASSERT_EQ(link.client->read(buffer, sizeof buffer, &n), noErr);  // a short count is a success
  EXPECT_EQ(std::string(buffer, n), "last words");
  EXPECT_EQ(link.client->read(buffer, sizeof buffer, &n), errSSLClosedGraceful);
  EXPECT_EQ(n, 0u);
}

TEST(SSLContextTest, VerificationFailuresHaveTheirStatuses) {
  {  // The certificate does not carry the peer name.
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost", "127.0.0.1"}));
    link.client->setPeerDomainName("videos.example.com");
    auto [c, s] = link.handshake();
    EXPECT_EQ(c, errSSLHostNameMismatch);
    EXPECT_NE(s, noErr);
    EXPECT_NE(s, errSSLWouldBlock);
  }
  {  // A name with a leading dot is no host name: it would match every name below it.
    Link link;
    EXPECT_EQ(link.client->setPeerDomainName(".localhost"), paramErr);
    EXPECT_EQ(link.client->setPeerDomainName(std::string("www.localhost\0", 14)), paramErr);
    EXPECT_EQ(link.client->peerDomainName(), std::nullopt);
  }
  {  // An IP address is checked against the IP entries.
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost", "127.0.0.1"}));
    link.client->setPeerDomainName("127.0.0.2");
    EXPECT_EQ(link.handshake().first, errSSLHostNameMismatch);
  }
  {  // An authority nobody trusts.
    TestCertificateAuthority stranger("Stranger CA");
    Link link;
    link.server->setCertificate(stranger.issueIdentity({"localhost"}));
    link.client->setPeerDomainName("localhost");
    EXPECT_EQ(link.handshake().first, errSSLUnknownRootCert);
  }
  {  // Expired.
    TestCertificateAuthority::LeafOptions old;
    old.subjectAltNames = {"localhost"};
    old.validFromSeconds = -10 * 24 * 3600;
    old.validForSeconds = 24 * 3600;
    Link link;
    link.server->setCertificate(trustedCA().issueIdentityWithOptions(old));
    link.client->setPeerDomainName("localhost");
    EXPECT_EQ(link.handshake().first, errSSLCertExpired);
  }
  {  // Without verification, the same stranger is accepted.
    TestCertificateAuthority stranger("Stranger CA");
    Link link;
    link.server->setCertificate(stranger.issueIdentity({"localhost"}));
    link.client->setPeerDomainName("somewhere.else");
    link.client->setEnableCertVerify(false);
    EXPECT_EQ(link.handshake(), std::make_pair(noErr, noErr));
  }
}

TEST(SSLContextTest, BreakOnServerAuthLetsTheClientDecide) {
  TestCertificateAuthority stranger("Stranger CA");
  auto setUp = [&](Link& link) {
    link.server->setCertificate(stranger.issueIdentity({"fake.youtube.test"}));
    link.client->setPeerDomainName("fake.youtube.test");
    ASSERT_EQ(link.client->setSessionOption(kSSLSessionOptionBreakOnServerAuth, true), noErr);
    ASSERT_EQ(link.client->setEnableCertVerify(false), noErr);
  };
  Link link;
  setUp(link);
  ns::Ref<Trust> early;
  EXPECT_EQ(link.client->copyPeerTrust(&early), errSSLBadConfiguration);
  auto [c, s] = link.handshake();
  ASSERT_EQ(c, errSSLPeerAuthCompleted);
  EXPECT_EQ(s, errSSLWouldBlock);

  ns::Ref<Trust> trust;
  ASSERT_EQ(link.client->copyPeerTrust(&trust), noErr);
  ASSERT_EQ(trust->certificateCount(), 2u);
  EXPECT_EQ(trust->certificateAtIndex(0)->subjectSummary(), "fake.youtube.test");
  EXPECT_EQ(trust->hostName(), "fake.youtube.test");
  SecTrustResultType result;
  ASSERT_EQ(trust->evaluate(&result), errSecSuccess);
  EXPECT_EQ(result, kSecTrustResultRecoverableTrustFailure);  // not one of the system's
  trust->setAnchorCertificates({stranger.certificate()});
  ASSERT_EQ(trust->evaluate(&result), errSecSuccess);
  EXPECT_EQ(result, kSecTrustResultUnspecified);

  // Reading or writing is no decision: they answer the same status and send nothing.
  std::size_t n = 0;
  const std::size_t before = link.clientToServer.bytes.size();
  EXPECT_EQ(link.client->write("early", 5, &n), errSSLPeerAuthCompleted);
  char buffer[8];
  EXPECT_EQ(link.client->read(buffer, sizeof buffer, &n), errSSLPeerAuthCompleted);
  EXPECT_EQ(link.clientToServer.bytes.size(), before);

  // Going on completes the handshake, and the session works.
  EXPECT_EQ(link.client->handshake(), noErr);
  EXPECT_EQ(link.server->handshake(), noErr);
  EXPECT_EQ(transfer(*link.client, *link.server, "after the decision"), "after the decision");

  // Declining: the client never completes, and no data can be written.
  Link declined;
  setUp(declined);
  ASSERT_EQ(declined.handshake().first, errSSLPeerAuthCompleted);
  declined.client->close();
  EXPECT_EQ(declined.client->write("secret", 6, &n), errSSLClosedGraceful);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(declined.clientToServer.bytes.find("secret") == std::string::npos);
}

TEST(SSLContextTest, Tls12AndCipherSuiteCanBeForced) {
  Link link;
  ASSERT_EQ(link.server->setCertificate(trustedCA().issueIdentityWithOptions([] {
    TestCertificateAuthority::LeafOptions o;
    o.keyType = TestCertificateAuthority::KeyType::RSA;  // 0xC02F is ECDHE-RSA
    return o;
  }())),
            noErr);
  link.client->setPeerDomainName("localhost");
  ASSERT_EQ(link.client->setProtocolVersionMax(kTLSProtocol12), noErr);
  ASSERT_EQ(link.client->setEnabledCiphers({0xC02F}), noErr);
  SSLProtocol max;
  link.client->getProtocolVersionMax(&max);
  EXPECT_EQ(max, kTLSProtocol12);
  ASSERT_EQ(link.handshake(), std::make_pair(noErr, noErr));
  for (auto* side : {link.client.get(), link.server.get()}) {
    SSLProtocol version;
    SSLCipherSuite cipher = 0;
    side->getNegotiatedProtocolVersion(&version);
    EXPECT_EQ(side->getNegotiatedCipher(&cipher), noErr);
    EXPECT_EQ(version, kTLSProtocol12);
    EXPECT_EQ(cipher, 0xC02F);
  }
  EXPECT_EQ(transfer(*link.server, *link.client, "over TLS 1.2"), "over TLS 1.2");
}

TEST(SSLContextTest, DiffieHellmanParametersEnableTheFiniteFieldSuites) {
  auto rsaLeaf = [] {
    TestCertificateAuthority::LeafOptions o;
    o.keyType = TestCertificateAuthority::KeyType::RSA;
    return trustedCA().issueIdentityWithOptions(o);
  }();
  const SSLCipherSuite dheRsaAes128Gcm = 0x009E;
  {  // Without parameters the server has no suite in common with such a client.
    Link link;
    link.server->setCertificate(rsaLeaf);
    link.client->setEnabledCiphers({dheRsaAes128Gcm});
    auto [c, s] = link.handshake();
    EXPECT_NE(c, noErr);
    EXPECT_EQ(s, errSSLNegotiation);
  }
  Link link;
  link.server->setCertificate(rsaLeaf);
  ASSERT_EQ(link.server->setDiffieHellmanParams(TestCertificateAuthority::diffieHellmanParameters()), noErr);
  link.client->setEnabledCiphers({dheRsaAes128Gcm});
  ASSERT_EQ(link.handshake(), std::make_pair(noErr, noErr));
  SSLCipherSuite cipher = 0;
  link.client->getNegotiatedCipher(&cipher);
  EXPECT_EQ(cipher, dheRsaAes128Gcm);
  SSLProtocol version;
  link.client->getNegotiatedProtocolVersion(&version);
  EXPECT_EQ(version, kTLSProtocol12);  // a list without TLS 1.3 suites keeps to TLS 1.2
}

TEST(SSLContextTest, SettingsAreCheckedAndIncompatiblePeersFail) {
  auto client = SSLContext::create(kSSLClientSide);
  EXPECT_FALSE(SSLContext::create(kSSLClientSide, kSSLDatagramType));
  EXPECT_EQ(client->setEnabledCiphers({0xFFFF, 0x0000}), errSSLBadCipherSuite);
  EXPECT_EQ(client->setProtocolVersionMin(static_cast<SSLProtocol>(3)), paramErr);
  EXPECT_EQ(client->setDiffieHellmanParams("not DER"), paramErr);
  EXPECT_EQ(client->setCertificate(nullptr), paramErr);
  EXPECT_EQ(client->setSessionOption(static_cast<SSLSessionOption>(42), true), paramErr);
  EXPECT_EQ(client->setClientSideAuthenticate(kAlwaysAuthenticate), paramErr);
  EXPECT_EQ(client->handshake(), paramErr);  // no I/O functions
  bool value = true;
  EXPECT_EQ(client->setSessionOption(kSSLSessionOptionFalseStart, true), noErr);
  EXPECT_EQ(client->getSessionOption(kSSLSessionOptionSendOneByteRecord, &value), noErr);
  EXPECT_FALSE(value);
  EXPECT_FALSE(client->supportedCiphers().empty());

  Link link;
  link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
  link.server->setProtocolVersionMin(kTLSProtocol13);
  link.client->setProtocolVersionMax(kTLSProtocol12);
  auto [c, s] = link.handshake();
  EXPECT_EQ(c, errSSLPeerProtocolVersion);
  EXPECT_EQ(s, errSSLNegotiation);
  // Settings are fixed once the handshake has begun.
  EXPECT_EQ(link.client->setPeerDomainName("late"), errSSLBadConfiguration);
}

TEST(SSLContextTest, TransportFailuresAndGarbage) {
  {  // The transport ends in the middle of the handshake.
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
    EXPECT_EQ(link.client->handshake(), errSSLWouldBlock);
    link.clientToServer.bytes.clear();
    link.serverToClient.ended = true;
    EXPECT_EQ(link.client->handshake(), errSSLClosedAbort);
    EXPECT_EQ(link.client->handshake(), errSSLClosedAbort);
  }
  {  // A plain-text request where a TLS hello was expected.
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
    link.clientToServer.bytes = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
    OSStatus s = link.server->handshake();
    EXPECT_NE(s, noErr);
    EXPECT_NE(s, errSSLWouldBlock);
    std::size_t n = 0;
    char buffer[8];
    EXPECT_NE(link.server->read(buffer, sizeof buffer, &n), noErr);
  }
  {  // Random bytes after the handshake break the session with an error, not a crash.
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
    ASSERT_EQ(link.handshake(), std::make_pair(noErr, noErr));
    link.serverToClient.bytes = std::string("\x17\x03\x03\x00\x20", 5) + randomBytes(32);
    char buffer[64];
    std::size_t n = 0;
    OSStatus s = link.client->read(buffer, sizeof buffer, &n);
    EXPECT_NE(s, noErr);
    EXPECT_NE(s, errSSLWouldBlock);
    EXPECT_EQ(n, 0u);
  }
}

TEST(SSLContextTest, SessionsResumeByPeerID) {
  auto identity = trustedCA().issueIdentity({"localhost"});
  const std::string peerID = "127.0.0.1:" + std::to_string(reinterpret_cast<std::uintptr_t>(&identity));
  for (int attempt = 0; attempt < 2; ++attempt) {
    Link link;
    link.server->setCertificate(identity);
    link.client->setPeerDomainName("localhost");
    link.client->setPeerID(peerID);
    ASSERT_EQ(link.handshake(), std::make_pair(noErr, noErr));
    // TLS 1.3 tickets come after the handshake; a read on the client takes them in.
    EXPECT_EQ(transfer(*link.server, *link.client, "hello"), "hello");
    EXPECT_EQ(link.client->sessionWasResumed(), attempt == 1) << "attempt " << attempt;
  }
  Link other;
  other.server->setCertificate(identity);
  other.client->setPeerID("another peer");
  ASSERT_EQ(other.handshake(), std::make_pair(noErr, noErr));
  EXPECT_FALSE(other.client->sessionWasResumed());
}

TEST(SSLContextTest, ASessionIsNotResumedWhereItsCertificateWouldHaveBeenRefused) {
  auto connect = [](const ns::Ref<Identity>& identity, const std::string& peerID, const char* name,
                    bool verify) {
    auto link = std::make_unique<Link>();
    link->server->setCertificate(identity);
    link->client->setPeerDomainName(name);
    link->client->setPeerID(peerID);
    link->client->setEnableCertVerify(verify);
    return link;
  };
  const std::string peerID = "127.0.0.1:" + std::to_string(reinterpret_cast<std::uintptr_t>(&connect));
  {  // A session made for one name does not stand in for the check of another.
    auto identity = trustedCA().issueIdentity({"localhost"});
    auto first = connect(identity, peerID, "localhost", true);
    ASSERT_EQ(first->handshake(), std::make_pair(noErr, noErr));
    EXPECT_EQ(transfer(*first->server, *first->client, "ticket"), "ticket");
    auto other = connect(identity, peerID, "videos.example.com", true);
    EXPECT_EQ(other->handshake().first, errSSLHostNameMismatch);
    EXPECT_FALSE(other->client->sessionWasResumed());
    auto again = connect(identity, peerID, "localhost", true);
    ASSERT_EQ(again->handshake(), std::make_pair(noErr, noErr));
    EXPECT_TRUE(again->client->sessionWasResumed());
  }
  {  // Nor does a session made without any check stand in for one.
    TestCertificateAuthority stranger("Stranger CA");
    auto identity = stranger.issueIdentity({"localhost"});
    auto unchecked = connect(identity, peerID + "/b", "localhost", false);
    ASSERT_EQ(unchecked->handshake(), std::make_pair(noErr, noErr));
    EXPECT_EQ(transfer(*unchecked->server, *unchecked->client, "ticket"), "ticket");
    auto checked = connect(identity, peerID + "/b", "localhost", true);
    EXPECT_EQ(checked->handshake().first, errSSLUnknownRootCert);
    EXPECT_FALSE(checked->client->sessionWasResumed());
  }
}

TEST(SSLContextTest, ClientCertificatesWhenTheServerAsks) {
  {
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
    link.server->setClientSideAuthenticate(kAlwaysAuthenticate);
    link.client->setCertificate(trustedCA().issueIdentity({"client.test"}));
    ASSERT_EQ(link.handshake(), std::make_pair(noErr, noErr));
    EXPECT_EQ(transfer(*link.client, *link.server, "hi"), "hi");
    auto peer = link.server->peerCertificates();
    ASSERT_FALSE(peer.empty());
    EXPECT_EQ(peer[0]->subjectSummary(), "client.test");
  }
  {
    Link link;
    link.server->setCertificate(trustedCA().issueIdentity({"localhost"}));
    link.server->setClientSideAuthenticate(kAlwaysAuthenticate);
    auto [c, s] = link.handshake();
    EXPECT_EQ(s, errSSLXCertChainInvalid);
    // TLS 1.3 clients finish first and learn of the refusal on their next read.
    char buffer[8];
    std::size_t n = 0;
    OSStatus r = c == noErr ? link.client->read(buffer, sizeof buffer, &n) : c;
    EXPECT_EQ(r, errSSLPeerBadCert);
  }
}

}  // namespace

namespace {

// A TLS 1.2 server of the library itself, for what our own server never does: renegotiating
// with another certificate.
struct RawServer {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL* ssl = nullptr;
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());

  static void use(SSL* ssl, const ns::Ref<Identity>& identity) {
    std::string cert = identity->certificate()->PEM(), key = identity->privateKeyPEM();
    BIO* c = BIO_new_mem_buf(cert.data(), static_cast<int>(cert.size()));
    BIO* k = BIO_new_mem_buf(key.data(), static_cast<int>(key.size()));
    X509* x = PEM_read_bio_X509(c, nullptr, nullptr, nullptr);
    EVP_PKEY* p = PEM_read_bio_PrivateKey(k, nullptr, nullptr, nullptr);
    SSL_use_certificate(ssl, x);
    SSL_use_PrivateKey(ssl, p);
    X509_free(x);
    EVP_PKEY_free(p);
    BIO_free(c);
    BIO_free(k);
  }
  explicit RawServer(const ns::Ref<Identity>& identity) {
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);  // a full handshake
    ssl = SSL_new(ctx);
    SSL_set_bio(ssl, in, out);
    SSL_set_accept_state(ssl);
    use(ssl, identity);
  }
  ~RawServer() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  }
  // Moves bytes between the pipes and the library, and lets it progress.
  void pump(tls_test::Pipe& fromClient, tls_test::Pipe& toClient) {
    if (!fromClient.bytes.empty()) {
      BIO_write(in, fromClient.bytes.data(), static_cast<int>(fromClient.bytes.size()));
      fromClient.bytes.clear();
    }
    char buffer[4096];
    SSL_do_handshake(ssl);
    std::size_t n = 0;
    if (SSL_is_init_finished(ssl)) SSL_read_ex(ssl, buffer, sizeof buffer, &n);
    ERR_clear_error();
    int got;
    while ((got = BIO_read(out, buffer, sizeof buffer)) > 0)
      toClient.bytes.append(buffer, static_cast<std::size_t>(got));
  }
};

}  // namespace

TEST(SSLContextTest, ARenegotiationMayNotChangeTheServerTheClientAccepted) {
  TestCertificateAuthority stranger("Stranger CA");
  for (int variant = 0; variant < 4; ++variant) {
    const bool manual = variant & 1, sameServer = variant & 2;
    SCOPED_TRACE(std::string(manual ? "manual trust" : "checked") + (sameServer ? ", same server" : ""));
    tls_test::Pipe toServer, toClient;
    auto client = SSLContext::create(kSSLClientSide);
    tls_test::attach(*client, toClient, toServer);
    client->setPeerDomainName("localhost");
    if (manual) {
      client->setSessionOption(kSSLSessionOptionBreakOnServerAuth, true);
      client->setEnableCertVerify(false);
    }
    auto first = manual ? stranger.issueIdentity({"localhost"}) : trustedCA().issueIdentity({"localhost"});
    RawServer server(first);
    OSStatus c = errSSLWouldBlock;
    for (int round = 0; round < 20 && c == errSSLWouldBlock; ++round) {
      c = client->handshake();
      server.pump(toServer, toClient);
      if (c == errSSLPeerAuthCompleted) c = client->handshake();  // the caller accepts
    }
    ASSERT_EQ(c, noErr);
    // The same server again, or another one that the authorities trust as well.
    if (!sameServer) RawServer::use(server.ssl, trustedCA().issueIdentity({"localhost"}));
    ASSERT_EQ(SSL_renegotiate(server.ssl), 1);
    server.pump(toServer, toClient);
    OSStatus r = errSSLWouldBlock;
    for (int round = 0; round < 20 && r == errSSLWouldBlock && SSL_renegotiate_pending(server.ssl); ++round) {
      char buffer[16];
      std::size_t n = 0;
      r = client->read(buffer, sizeof buffer, &n);
      server.pump(toServer, toClient);
    }
    if (sameServer) {
      EXPECT_EQ(r, errSSLWouldBlock);
      EXPECT_FALSE(SSL_renegotiate_pending(server.ssl));
      ASSERT_EQ(SSL_write(server.ssl, "still", 5), 5);
      server.pump(toServer, toClient);
      char buffer[16];
      std::size_t n = 0;
      EXPECT_EQ(client->read(buffer, sizeof buffer, &n), noErr);
      EXPECT_EQ(std::string(buffer, n), "still");
    } else {
      EXPECT_EQ(r, errSSLXCertChainInvalid);
      EXPECT_TRUE(client->peerCertificates().front()->isEqual(first->certificate().get()));
    }
  }
}
