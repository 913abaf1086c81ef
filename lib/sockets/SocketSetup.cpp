#include "lib/sockets/SocketSetup.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace socket_setup {

std::pair<ns::Data, ns::Data> loopbackOrWildcardAddresses(std::uint16_t port, bool loopback) {
  sockaddr_in sockaddr4{};
  sockaddr4.sin_family = AF_INET;
  sockaddr4.sin_port = htons(port);
  sockaddr4.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
  sockaddr_in6 sockaddr6{};
  sockaddr6.sin6_family = AF_INET6;
  sockaddr6.sin6_port = htons(port);
  sockaddr6.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
  return {ns::Data(&sockaddr4, sizeof sockaddr4), ns::Data(&sockaddr6, sizeof sockaddr6)};
}

bool setNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags != -1 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1;
}

int openNonBlockingSocket(int domain, int type, const char** failedStep) {
  int socketFD = ::socket(domain, type | SOCK_CLOEXEC, 0);
  if (socketFD == -1) {
    *failedStep = "Error in socket() function";
    return -1;
  }
  auto fail = [&](const char* step) {
    // The caller reports the failed step's errno, not what closing leaves behind.
    int err = errno;
    ::close(socketFD);
    errno = err;
    *failedStep = step;
    return -1;
  };
  if (!setNonBlocking(socketFD)) return fail("Error enabling non-blocking IO on socket (fcntl)");
  int on = 1;
  if (::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1)
    return fail("Error enabling address reuse (setsockopt)");
  if (domain == AF_INET6 && ::setsockopt(socketFD, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == -1)
    return fail("Error enabling IPv6-only mode (setsockopt)");
  return socketFD;
}

void keepEphemeralPortOwn(int fd) {
  int off = 0;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off);
}

}  // namespace socket_setup
