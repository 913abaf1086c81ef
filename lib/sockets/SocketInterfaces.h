#pragma once
// The addresses of a local network interface, named by its interface name ("eth0") or by one of
// its numeric addresses ("192.168.1.2"), as both kinds of socket need them to bind.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Data.h"

struct InterfaceAddresses {
  std::optional<ns::Data> address4;  // a sockaddr_in
  std::optional<ns::Data> address6;  // a sockaddr_in6
};

// The first IPv4 and the first IPv6 address of the interface called (or numbered) `nameOrAddress`,
// with `port` set; none when no interface answers to it.
InterfaceAddresses addressesOfInterface(const std::string& nameOrAddress, std::uint16_t port);

// The name of the first interface that holds the address `inAddr` (an in_addr for AF_INET, an
// in6_addr for AF_INET6); none when no interface does.
std::optional<std::string> nameOfInterfaceWithAddress(int family, const void* inAddr);
