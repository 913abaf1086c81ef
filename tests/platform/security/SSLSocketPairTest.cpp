// The TLS contexts over a real kernel transport: a non-blocking socket pair, whose reads and
// writes stop with EAGAIN, which the I/O callbacks turn into errSSLWouldBlock.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/security/Random.h"
#include "platform/security/SSLContext.h"
#include "platform/testing/TestCertificateAuthority.h"

namespace {

using namespace sec;
using pltest::TestCertificateAuthority;

OSStatus readFd(SSLConnectionRef connection, void* data, std::size_t* length) {
  int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(connection));
  std::size_t wanted = *length, got = 0;
  while (got < wanted) {
    ssize_t n = ::read(fd, static_cast<char*>(data) + got, wanted - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    *length = got;
    if (n == 0) return errSSLClosedAbort;  // the peer's socket is gone
    return (errno == EAGAIN || errno == EINTR) ? errSSLWouldBlock : errSSLClosedAbort;
  }
  *length = got;
  return noErr;
}

OSStatus writeFd(SSLConnectionRef connection, const void* data, std::size_t* length) {
  int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(connection));
  std::size_t wanted = *length, done = 0;
  while (done < wanted) {
    ssize_t n = ::write(fd, static_cast<const char*>(data) + done, wanted - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    *length = done;
    return (n < 0 && (errno == EAGAIN || errno == EINTR)) ? errSSLWouldBlock : errSSLClosedAbort;
  }
  *length = done;
  return noErr;
}

TEST(SSLSocketPairTest, HandshakeAndBulkTransferOverNonBlockingSockets) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  TestCertificateAuthority ca;
  auto client = SSLContext::create(kSSLClientSide);
  auto server = SSLContext::create(kSSLServerSide);
  client->setIOFuncs(readFd, writeFd);
  server->setIOFuncs(readFd, writeFd);
  client->setConnection(reinterpret_cast<SSLConnectionRef>(static_cast<std::intptr_t>(fds[0])));
  server->setConnection(reinterpret_cast<SSLConnectionRef>(static_cast<std::intptr_t>(fds[1])));
  EXPECT_EQ(client->connection(), reinterpret_cast<SSLConnectionRef>(static_cast<std::intptr_t>(fds[0])));
  server->setCertificate(ca.issueIdentity({"localhost"}));
  client->setPeerDomainName("localhost");
  client->setSessionOption(kSSLSessionOptionBreakOnServerAuth, true);
  client->setEnableCertVerify(false);

  // Handshake, waiting on the descriptors between steps rather than spinning.
  OSStatus c = errSSLWouldBlock, s = errSSLWouldBlock;
  for (int round = 0; round < 200 && (c != noErr || s != noErr); ++round) {
    if (c == errSSLWouldBlock || c == errSSLPeerAuthCompleted) {
      if (c == errSSLPeerAuthCompleted) {
        ns::Ref<Trust> trust;
        ASSERT_EQ(client->copyPeerTrust(&trust), noErr);
        trust->setAnchorCertificates({ca.certificate()}, true);
        ASSERT_TRUE(trust->evaluateWithError(nullptr));
      }
      c = client->handshake();
    }
    if (s == errSSLWouldBlock) s = server->handshake();
    if (c == errSSLWouldBlock && s == errSSLWouldBlock) {
      pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
      ASSERT_GT(::poll(p, 2, 10000), 0);
    }
  }
  ASSERT_EQ(c, noErr);
  ASSERT_EQ(s, noErr);

  // 1 MB from client to server through socket buffers far smaller than that.
  const std::string payload = randomBytes(1 << 20);
  std::string received;
  std::size_t sent = 0;
  bool held = false;
  while (received.size() < payload.size()) {
    if (sent < payload.size() || held) {
      std::size_t piece = std::min<std::size_t>(32768, payload.size() - sent), n = 0;
      OSStatus w = held ? client->write(nullptr, 0, &n) : client->write(payload.data() + sent, piece, &n);
      if (w == noErr) {
        if (!held) sent += n;
        held = false;
      } else if (w == errSSLWouldBlock) {
        if (!held) sent += piece;
        held = true;
      } else {
        FAIL() << "write " << w;
      }
    }
    char buffer[65536];
    std::size_t n = 0;
    OSStatus r = server->read(buffer, sizeof buffer, &n);
    received.append(buffer, n);
    ASSERT_TRUE(r == noErr || r == errSSLWouldBlock) << r;
    if (r == errSSLWouldBlock && held) {
      pollfd p[2] = {{fds[0], POLLOUT, 0}, {fds[1], POLLIN, 0}};
      ASSERT_GT(::poll(p, 2, 10000), 0);
    }
  }
  EXPECT_TRUE(received == payload);

  // The client's socket goes away without a close notification: an abort, not a clean end.
  ::close(fds[0]);
  char buffer[16];
  std::size_t n = 0;
  EXPECT_EQ(server->read(buffer, sizeof buffer, &n), errSSLClosedAbort);
  ::close(fds[1]);
}

}  // namespace
