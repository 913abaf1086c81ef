// The address utilities of DispatchSocket: conversions between socket addresses, host texts and
// ports, the host lookup, interface descriptions and the terminator constants. None of them
// touches socket state.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "lib/sockets/DispatchSocket.h"
#include "lib/sockets/SocketInterfaces.h"
#include "lib/sockets/SocketResolver.h"
#include "lib/sockets/SocketSetup.h"

namespace {

int familyOf(const ns::Data& address) {
  if (address.length() < sizeof(sa_family_t)) return AF_UNSPEC;
  // The bytes may be unaligned: copy the family field out rather than casting.
  sockaddr_storage storage{};
  std::memcpy(&storage, address.bytes(), std::min(address.length(), sizeof storage));
  return storage.ss_family;
}

ns::Data dataOf(const void* sockaddrBytes, std::size_t length) {
  return ns::Data(sockaddrBytes, length);
}

// The peer's (or the local) address of a descriptor, as the family's socket address.
template <class Sockaddr>
std::optional<Sockaddr> socketAddress(int socketFD, bool peer) {
  Sockaddr address{};
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  int rc = peer ? ::getpeername(socketFD, raw, &length) : ::getsockname(socketFD, raw, &length);
  if (rc < 0) return std::nullopt;
  return address;
}

std::vector<std::string> splitAtColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t colon = text.find(':', start);
    if (colon == std::string::npos) {
      parts.push_back(text.substr(start));
      break;
    }
    parts.push_back(text.substr(start, colon - start));
    start = colon + 1;
  }
  return parts;
}

}  // namespace

std::string DispatchSocket::hostFromSockaddr4(const sockaddr_in* pSockaddr4) {
  char buffer[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &pSockaddr4->sin_addr, buffer, sizeof buffer)) return "";
  return buffer;
}

std::string DispatchSocket::hostFromSockaddr6(const sockaddr_in6* pSockaddr6) {
  char buffer[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, &pSockaddr6->sin6_addr, buffer, sizeof buffer)) return "";
  return buffer;
}

std::uint16_t DispatchSocket::portFromSockaddr4(const sockaddr_in* pSockaddr4) {
  return ntohs(pSockaddr4->sin_port);
}

std::uint16_t DispatchSocket::portFromSockaddr6(const sockaddr_in6* pSockaddr6) {
  return ntohs(pSockaddr6->sin6_port);
}

bool DispatchSocket::getHost_port_family_fromAddress(std::string* hostPtr, std::uint16_t* portPtr,
                                                     int* familyPtr, const ns::Data& address) {
  if (address.length() < sizeof(sockaddr_in)) return false;
  int family = familyOf(address);
  if (family == AF_INET) {
    sockaddr_in sockaddr4;
    std::memcpy(&sockaddr4, address.bytes(), sizeof sockaddr4);
    if (hostPtr) *hostPtr = hostFromSockaddr4(&sockaddr4);
    if (portPtr) *portPtr = portFromSockaddr4(&sockaddr4);
    if (familyPtr) *familyPtr = AF_INET;
    return true;
  }
  if (family == AF_INET6 && address.length() >= sizeof(sockaddr_in6)) {
    sockaddr_in6 sockaddr6;
    std::memcpy(&sockaddr6, address.bytes(), sizeof sockaddr6);
    if (hostPtr) *hostPtr = hostFromSockaddr6(&sockaddr6);
    if (portPtr) *portPtr = portFromSockaddr6(&sockaddr6);
    if (familyPtr) *familyPtr = AF_INET6;
    return true;
  }
  return false;
}

bool DispatchSocket::getHost_port_fromAddress(std::string* hostPtr, std::uint16_t* portPtr,
                                              const ns::Data& address) {
  return getHost_port_family_fromAddress(hostPtr, portPtr, nullptr, address);
}

std::optional<std::string> DispatchSocket::hostFromAddress(const ns::Data& address) {
  std::string host;
  if (!getHost_port_fromAddress(&host, nullptr, address)) return std::nullopt;
  return host;
}

std::uint16_t DispatchSocket::portFromAddress(const ns::Data& address) {
  std::uint16_t port = 0;
  if (!getHost_port_fromAddress(nullptr, &port, address)) return 0;
  return port;
}

bool DispatchSocket::isIPv4Address(const ns::Data& address) {
  return address.length() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET;
}

bool DispatchSocket::isIPv6Address(const ns::Data& address) {
  return address.length() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET6;
}

ns::Data DispatchSocket::CRLFData() {
  return ns::Data("\r\n", 2);
}
ns::Data DispatchSocket::CRData() {
  return ns::Data("\r", 1);
}
ns::Data DispatchSocket::LFData() {
  return ns::Data("\n", 1);
}
ns::Data DispatchSocket::ZeroData() {
  return ns::Data("", 1);
}

ns::Error DispatchSocket::gaiError(int gaiCode) {
  return ns::Error::withDescription(kDispatchSocketNetDBErrorDomain, gaiCode, gai_strerror(gaiCode));
}

std::optional<std::vector<ns::Data>> DispatchSocket::lookupHost_port_error(const std::string& host,
                                                                           std::uint16_t port,
                                                                           ns::Error* errPtr) {
  std::vector<ns::Data> addresses;
  if (host == "localhost" || host == "loopback") {
    // Answered without the resolver, IPv4 first.
    auto [loopback4, loopback6] = socket_setup::loopbackOrWildcardAddresses(port, true);
    addresses.push_back(std::move(loopback4));
    addresses.push_back(std::move(loopback6));
    return addresses;
  }

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  std::string service = std::to_string(port);
  addrinfo* res0 = nullptr;
  int gaiCode = socketResolverGetAddrInfo(host.c_str(), service.c_str(), &hints, &res0);
  if (gaiCode != 0) {
    ns::setError(errPtr, gaiError(gaiCode));
    return std::nullopt;
  }
  for (addrinfo* res = res0; res; res = res->ai_next) {
    if (res->ai_family == AF_INET || res->ai_family == AF_INET6) {
      addresses.push_back(dataOf(res->ai_addr, res->ai_addrlen));
    }
  }
  freeaddrinfo(res0);
  if (addresses.empty()) ns::setError(errPtr, gaiError(EAI_FAIL));
  return addresses;
}

void DispatchSocket::getInterfaceAddress4_address6_fromDescription_port(
    std::optional<ns::Data>* interfaceAddr4Ptr, std::optional<ns::Data>* interfaceAddr6Ptr,
    const std::optional<std::string>& interfaceDescription, std::uint16_t port) {
  std::optional<ns::Data> addr4;
  std::optional<ns::Data> addr6;

  std::optional<std::string> interface;
  if (interfaceDescription) {
    std::vector<std::string> components = splitAtColons(*interfaceDescription);
    if (!components.empty() && !components[0].empty()) interface = components[0];
    if (components.size() > 1 && port == 0) {
      long portL = std::strtol(components[1].c_str(), nullptr, 10);
      if (portL > 0 && portL <= UINT16_MAX) port = static_cast<std::uint16_t>(portL);
    }
  }

  if (!interface || *interface == "localhost" || *interface == "loopback") {
    auto [any4, any6] = socket_setup::loopbackOrWildcardAddresses(port, interface.has_value());
    addr4 = std::move(any4);
    addr6 = std::move(any6);
  } else {
    auto [found4, found6] = addressesOfInterface(*interface, port);
    addr4 = std::move(found4);
    addr6 = std::move(found6);
  }

  if (interfaceAddr4Ptr) *interfaceAddr4Ptr = std::move(addr4);
  if (interfaceAddr6Ptr) *interfaceAddr6Ptr = std::move(addr6);
}

std::optional<std::string> DispatchSocket::connectedHostFromSocket4(int socketFD) {
  auto address = socketAddress<sockaddr_in>(socketFD, true);
  return address ? std::optional(hostFromSockaddr4(&*address)) : std::nullopt;
}

std::optional<std::string> DispatchSocket::connectedHostFromSocket6(int socketFD) {
  auto address = socketAddress<sockaddr_in6>(socketFD, true);
  return address ? std::optional(hostFromSockaddr6(&*address)) : std::nullopt;
}

std::uint16_t DispatchSocket::connectedPortFromSocket4(int socketFD) {
  auto address = socketAddress<sockaddr_in>(socketFD, true);
  return address ? portFromSockaddr4(&*address) : 0;
}

std::uint16_t DispatchSocket::connectedPortFromSocket6(int socketFD) {
  auto address = socketAddress<sockaddr_in6>(socketFD, true);
  return address ? portFromSockaddr6(&*address) : 0;
}

std::optional<std::string> DispatchSocket::localHostFromSocket4(int socketFD) {
  auto address = socketAddress<sockaddr_in>(socketFD, false);
  return address ? std::optional(hostFromSockaddr4(&*address)) : std::nullopt;
}

std::optional<std::string> DispatchSocket::localHostFromSocket6(int socketFD) {
  auto address = socketAddress<sockaddr_in6>(socketFD, false);
  return address ? std::optional(hostFromSockaddr6(&*address)) : std::nullopt;
}

std::uint16_t DispatchSocket::localPortFromSocket4(int socketFD) {
  auto address = socketAddress<sockaddr_in>(socketFD, false);
  return address ? portFromSockaddr4(&*address) : 0;
}

std::uint16_t DispatchSocket::localPortFromSocket6(int socketFD) {
  auto address = socketAddress<sockaddr_in6>(socketFD, false);
  return address ? portFromSockaddr6(&*address) : 0;
}
