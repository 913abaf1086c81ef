// The set-up the TCP and UDP sockets share: the loopback and wildcard addresses of a port and a
// fresh non-blocking descriptor, tried on real descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "lib/sockets/SocketSetup.h"

namespace {

template <class Sockaddr>
Sockaddr sockaddrOf(const ns::Data& data) {
  EXPECT_EQ(data.length(), sizeof(Sockaddr));
  Sockaddr address{};
  std::memcpy(&address, data.bytes(), std::min(data.length(), sizeof address));
  return address;
}

int intOption(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0);
  return value;
}

std::uint16_t boundPort(int fd) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length), 0);
  return storage.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port)
                                      : ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
}

TEST(SocketSetup, LoopbackAndWildcardAddressesCarryThePortInNetworkOrder) {
  for (bool loopback : {true, false}) {
    SCOPED_TRACE(loopback ? "loopback" : "wildcard");
    auto [data4, data6] = socket_setup::loopbackOrWildcardAddresses(0x1234, loopback);
    auto a4 = sockaddrOf<sockaddr_in>(data4);
    EXPECT_EQ(a4.sin_family, AF_INET);
    EXPECT_EQ(a4.sin_port, htons(0x1234));
    EXPECT_EQ(a4.sin_addr.s_addr, htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY));
    auto a6 = sockaddrOf<sockaddr_in6>(data6);
    EXPECT_EQ(a6.sin6_family, AF_INET6);
    EXPECT_EQ(a6.sin6_port, htons(0x1234));
    EXPECT_EQ(std::memcmp(&a6.sin6_addr, loopback ? &in6addr_loopback : &in6addr_any, sizeof a6.sin6_addr),
              0);
    EXPECT_EQ(a6.sin6_flowinfo, 0u);
    EXPECT_EQ(a6.sin6_scope_id, 0u);
  }
}

TEST(SocketSetup, SetNonBlockingKeepsTheOtherStatusFlags) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_APPEND), 0);
  EXPECT_TRUE(socket_setup::setNonBlocking(fds[1]));
  int flags = ::fcntl(fds[1], F_GETFL);
  EXPECT_TRUE(flags & O_NONBLOCK);
  EXPECT_TRUE(flags & O_APPEND);
  // A write to a full pipe now answers at once instead of blocking the test.
  std::string block(65536, 'x');
  while (::write(fds[1], block.data(), block.size()) > 0) {
  }
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  ::close(fds[0]);
  ::close(fds[1]);
  errno = 0;
  EXPECT_FALSE(socket_setup::setNonBlocking(-1));
  EXPECT_EQ(errno, EBADF);
}

TEST(SocketSetup, OpenedDescriptorsAreNonBlockingReusableAndOneFamilyEach) {
  for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
    SCOPED_TRACE(type == SOCK_STREAM ? "stream" : "datagram");
    const char* failedStep = nullptr;
    int fd4 = socket_setup::openNonBlockingSocket(AF_INET, type, &failedStep);
    int fd6 = socket_setup::openNonBlockingSocket(AF_INET6, type, &failedStep);
    ASSERT_GE(fd4, 0);
    ASSERT_GE(fd6, 0);
    EXPECT_EQ(failedStep, nullptr);
    for (int fd : {fd4, fd6}) {
      EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
      EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
      EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_TYPE), type);
      EXPECT_NE(intOption(fd, SOL_SOCKET, SO_REUSEADDR), 0);
    }
    EXPECT_NE(intOption(fd6, IPPROTO_IPV6, IPV6_V6ONLY), 0);
    // IPv6-only is what lets both families hold the same wildcard port.
    auto [any4, any6] = socket_setup::loopbackOrWildcardAddresses(0, false);
    ASSERT_EQ(::bind(fd4, reinterpret_cast<const sockaddr*>(any4.bytes()), any4.length()), 0);
    std::uint16_t port = boundPort(fd4);
    auto [unused, samePort6] = socket_setup::loopbackOrWildcardAddresses(port, false);
    EXPECT_EQ(::bind(fd6, reinterpret_cast<const sockaddr*>(samePort6.bytes()), samePort6.length()), 0)
        << std::strerror(errno);
    ::close(fd4);
    ::close(fd6);
  }
}

TEST(SocketSetup, AFailedOpenNamesItsStepAndKeepsItsErrno) {
  const char* failedStep = nullptr;
  errno = 0;
  EXPECT_EQ(socket_setup::openNonBlockingSocket(-1, SOCK_STREAM, &failedStep), -1);
  ASSERT_NE(failedStep, nullptr);
  EXPECT_STREQ(failedStep, "Error in socket() function");
  EXPECT_EQ(errno, EAFNOSUPPORT);
}

}  // namespace
