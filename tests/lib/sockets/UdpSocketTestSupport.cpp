#include "tests/lib/sockets/UdpSocketTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace udptest {

UdpEndpoint::UdpEndpoint(const char* label, bool boundToLoopback4)
    : delegate(ns::make<RecordingUdpDelegate>(makeQueue(label))),
      socket(ns::make<DispatchUdpSocket>(delegate, delegate->queue())) {
  if (boundToLoopback4) bindLoopback4();
}

UdpEndpoint::~UdpEndpoint() {
  socket->close();
  settle();
}

void UdpEndpoint::bindLoopback4() {
  ns::Error error;
  ASSERT_TRUE(socket->bindToPort_interface_error(0, "127.0.0.1", &error)) << error.localizedDescription();
}

void UdpEndpoint::settle() {
  socket->performBlock([] {});
  delegate->drain();
}

RawUdpPeer::RawUdpPeer(bool ipv6, std::uint16_t port) : ipv6_(ipv6) {
  fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ == -1) {
    ADD_FAILURE() << "no datagram socket: " << std::strerror(errno);
    return;
  }
  ns::Data address = ipv6 ? loopback6(port) : loopback4(port);
  if (ipv6) {
    int on = 1;
    ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(address.bytes()),
             static_cast<socklen_t>(address.length())) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    ADD_FAILURE() << "cannot bind the peer on loopback port " << port << ": " << std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return;
  }
  port_ = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
               : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

RawUdpPeer::~RawUdpPeer() {
  if (fd_ != -1) ::close(fd_);
}

ns::Data RawUdpPeer::address() const {
  return ipv6_ ? loopback6(port_) : loopback4(port_);
}

bool RawUdpPeer::sendTo(const ns::Data& address, const std::string& bytes) {
  ssize_t n = ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(address.bytes()),
                       static_cast<socklen_t>(address.length()));
  return n == static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> RawUdpPeer::receive(double seconds) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return std::nullopt;
  std::string buffer(70000, '\0');
  ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

bool RawUdpPeer::hasDatagram() {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

std::string describe(const std::optional<ns::Error>& error) {
  return error ? error->localizedDescription() : "";
}

}  // namespace udptest
