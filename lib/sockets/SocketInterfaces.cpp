#include "lib/sockets/SocketInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <type_traits>

namespace {

// The entry's address with `port` set, when the entry is the interface called (or numbered)
// `nameOrAddress`.
template <class Sockaddr>
std::optional<ns::Data> addressIfNamed(const ifaddrs& entry, const std::string& nameOrAddress,
                                       std::uint16_t port) {
  Sockaddr native;
  std::memcpy(&native, entry.ifa_addr, sizeof native);
  char ip[INET6_ADDRSTRLEN];
  const char* text;
  if constexpr (std::is_same_v<Sockaddr, sockaddr_in>) {
    text = inet_ntop(AF_INET, &native.sin_addr, ip, sizeof ip);
    native.sin_port = htons(port);
  } else {
    text = inet_ntop(AF_INET6, &native.sin6_addr, ip, sizeof ip);
    native.sin6_port = htons(port);
  }
  if (nameOrAddress != entry.ifa_name && !(text && nameOrAddress == text)) return std::nullopt;
  return ns::Data(&native, sizeof native);
}

}  // namespace

InterfaceAddresses addressesOfInterface(const std::string& nameOrAddress, std::uint16_t port) {
  InterfaceAddresses found;
  ifaddrs* addrs = nullptr;
  if (getifaddrs(&addrs) != 0) return found;
  for (ifaddrs* cursor = addrs; cursor; cursor = cursor->ifa_next) {
    if (!cursor->ifa_addr) continue;
    int family = cursor->ifa_addr->sa_family;
    if (!found.address4 && family == AF_INET) {
      found.address4 = addressIfNamed<sockaddr_in>(*cursor, nameOrAddress, port);
    } else if (!found.address6 && family == AF_INET6) {
      found.address6 = addressIfNamed<sockaddr_in6>(*cursor, nameOrAddress, port);
    }
  }
  freeifaddrs(addrs);
  return found;
}

std::optional<std::string> nameOfInterfaceWithAddress(int family, const void* inAddr) {
  std::optional<std::string> name;
  ifaddrs* addrs = nullptr;
  if (getifaddrs(&addrs) != 0) return name;
  for (ifaddrs* cursor = addrs; cursor && !name; cursor = cursor->ifa_next) {
    if (!cursor->ifa_addr || cursor->ifa_addr->sa_family != family) continue;
    bool same;
    if (family == AF_INET) {
      sockaddr_in held;
      std::memcpy(&held, cursor->ifa_addr, sizeof held);
      same = std::memcmp(&held.sin_addr, inAddr, sizeof held.sin_addr) == 0;
    } else {
      sockaddr_in6 held;
      std::memcpy(&held, cursor->ifa_addr, sizeof held);
      same = std::memcmp(&held.sin6_addr, inAddr, sizeof held.sin6_addr) == 0;
    }
    if (same) name = cursor->ifa_name;
  }
  freeifaddrs(addrs);
  return name;
}
