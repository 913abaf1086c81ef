#pragma once
// Socket addresses on the loopback interfaces, as the socket classes take them.
#include <netinet/in.h>

#include <cstdint>

#include "platform/core/Data.h"
#include "platform/testing/TcpPair.h"

namespace sockettest {

// 127.0.0.1 with `port`, as a sockaddr_in.
inline ns::Data loopback4(std::uint16_t port) {
  sockaddr_in address = pltest::loopbackAddress(port);
  return ns::Data(&address, sizeof address);
}

// ::1 with `port`, as a sockaddr_in6.
inline ns::Data loopback6(std::uint16_t port) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  address.sin6_addr = in6addr_loopback;
  return ns::Data(&address, sizeof address);
}

}  // namespace sockettest
