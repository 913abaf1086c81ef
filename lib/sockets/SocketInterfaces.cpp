#include "lib/sockets/SocketInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

InterfaceAddresses addressesOfInterface(const std::string& nameOrAddress, std::uint16_t port) {
  InterfaceAddresses found;
  ifaddrs* addrs = nullptr;
  if (getifaddrs(&addrs) != 0) return found;
  for (ifaddrs* cursor = addrs; cursor; cursor = cursor->ifa_next) {
    if (!cursor->ifa_addr) continue;
    int family = cursor->ifa_addr->sa_family;
    if (!found.address4 && family == AF_INET) {
      sockaddr_in nativeAddr4;
      std::memcpy(&nativeAddr4, cursor->ifa_addr, sizeof nativeAddr4);
      char ip[INET_ADDRSTRLEN];
      const char* text = inet_ntop(AF_INET, &nativeAddr4.sin_addr, ip, sizeof ip);
      if (nameOrAddress == cursor->ifa_name || (text && nameOrAddress == text)) {
        nativeAddr4.sin_port = htons(port);
        found.address4 = ns::Data(&nativeAddr4, sizeof nativeAddr4);
      }
    } else if (!found.address6 && family == AF_INET6) {
      sockaddr_in6 nativeAddr6;
      std::memcpy(&nativeAddr6, cursor->ifa_addr, sizeof nativeAddr6);
      char ip[INET6_ADDRSTRLEN];
      const char* text = inet_ntop(AF_INET6, &nativeAddr6.sin6_addr, ip, sizeof ip);
      if (nameOrAddress == cursor->ifa_name || (text && nameOrAddress == text)) {
        nativeAddr6.sin6_port = htons(port);
        found.address6 = ns::Data(&nativeAddr6, sizeof nativeAddr6);
      }
    }
  }
  freeifaddrs(addrs);
  return found;
}
