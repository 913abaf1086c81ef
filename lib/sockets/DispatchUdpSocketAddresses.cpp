// DispatchUdpSocket: address utilities, interface and host conversions, lookups and the choice of
// a destination, the two datagram sockets with their sources, closing, the address caches and
// binding.
#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lib/sockets/DispatchSocket.h"
#include "lib/sockets/DispatchUdpSocketInternal.h"
#include "lib/sockets/SocketInterfaces.h"
#include "lib/sockets/SocketResolver.h"
#include "lib/sockets/SocketSetup.h"

using namespace udp_socket_internal;

namespace {

template <class Sockaddr>
Sockaddr copyOf(const ns::Data& address) {
  Sockaddr result{};
  std::memcpy(&result, address.bytes(), std::min(address.length(), sizeof result));
  return result;
}

// getsockname() or getpeername() of a descriptor into a family-sized image.
std::optional<ns::Data> socketName(int fd, socklen_t size, bool peer) {
  sockaddr_storage storage{};
  socklen_t length = size;
  auto* raw = reinterpret_cast<sockaddr*>(&storage);
  if ((peer ? ::getpeername(fd, raw, &length) : ::getsockname(fd, raw, &length)) < 0) return std::nullopt;
  return ns::Data(&storage, std::min(length, size));
}

// The UDP addresses of a host, in the resolver's order; "localhost" and "loopback" are answered
// without asking it. Answers 0 or the resolver's error code (EAI_FAIL when it found no address).
int lookUp(const std::string& host, std::uint16_t port, std::vector<ns::Data>* addresses) {
  if (host == "localhost" || host == "loopback") {
    auto [a4, a6] = socket_setup::loopbackOrWildcardAddresses(port, true);
    *addresses = {a4, a6};
    return 0;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  std::string service = std::to_string(port);
  addrinfo* res0 = nullptr;
  if (int gai_error = socketResolverGetAddrInfo(host.c_str(), service.c_str(), &hints, &res0))
    return gai_error;
  for (addrinfo* res = res0; res; res = res->ai_next) {
    if (res->ai_family == AF_INET || res->ai_family == AF_INET6)
      addresses->emplace_back(res->ai_addr, res->ai_addrlen);
  }
  freeaddrinfo(res0);
  return addresses->empty() ? EAI_FAIL : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Address utilities

// The same conversions as the TCP socket's; only a failure clears what the caller passed.
std::string DispatchUdpSocket::hostFromSockaddr4(const sockaddr_in* pSockaddr4) {
  return DispatchSocket::hostFromSockaddr4(pSockaddr4);
}

std::string DispatchUdpSocket::hostFromSockaddr6(const sockaddr_in6* pSockaddr6) {
  return DispatchSocket::hostFromSockaddr6(pSockaddr6);
}

std::uint16_t DispatchUdpSocket::portFromSockaddr4(const sockaddr_in* pSockaddr4) {
  return DispatchSocket::portFromSockaddr4(pSockaddr4);
}

std::uint16_t DispatchUdpSocket::portFromSockaddr6(const sockaddr_in6* pSockaddr6) {
  return DispatchSocket::portFromSockaddr6(pSockaddr6);
}

bool DispatchUdpSocket::getHost_port_family_fromAddress(std::string* hostPtr, std::uint16_t* portPtr,
                                                        int* afPtr, const ns::Data& address) {
  if (DispatchSocket::getHost_port_family_fromAddress(hostPtr, portPtr, afPtr, address)) return true;
  if (hostPtr) hostPtr->clear();
  if (portPtr) *portPtr = 0;
  if (afPtr) *afPtr = AF_UNSPEC;
  return false;
}

bool DispatchUdpSocket::getHost_port_fromAddress(std::string* hostPtr, std::uint16_t* portPtr,
                                                 const ns::Data& address) {
  return getHost_port_family_fromAddress(hostPtr, portPtr, nullptr, address);
}

std::optional<std::string> DispatchUdpSocket::hostFromAddress(const ns::Data& address) {
  std::string host;
  if (!getHost_port_family_fromAddress(&host, nullptr, nullptr, address)) return std::nullopt;
  return host;
}

std::uint16_t DispatchUdpSocket::portFromAddress(const ns::Data& address) {
  std::uint16_t port = 0;
  getHost_port_family_fromAddress(nullptr, &port, nullptr, address);
  return port;
}

int DispatchUdpSocket::familyFromAddress(const ns::Data& address) {
  int af = AF_UNSPEC;
  getHost_port_family_fromAddress(nullptr, nullptr, &af, address);
  return af;
}

bool DispatchUdpSocket::isIPv4Address(const ns::Data& address) {
  return familyFromAddress(address) == AF_INET;
}
bool DispatchUdpSocket::isIPv6Address(const ns::Data& address) {
  return familyFromAddress(address) == AF_INET6;
}

// ---------------------------------------------------------------------------------------------
// Conversions, lookups and the choice of an address

void DispatchUdpSocket::convertIntefaceDescription_port_intoAddress4_address6(
    const std::optional<std::string>& interfaceDescription, std::uint16_t port,
    std::optional<ns::Data>* interfaceAddr4Ptr, std::optional<ns::Data>* interfaceAddr6Ptr) {
  assertOnSocketQueue();
  std::optional<ns::Data> addr4;
  std::optional<ns::Data> addr6;
  if (!interfaceDescription || *interfaceDescription == "localhost" || *interfaceDescription == "loopback") {
    auto [a4, a6] = socket_setup::loopbackOrWildcardAddresses(port, interfaceDescription.has_value());
    addr4 = std::move(a4);
    addr6 = std::move(a6);
  } else {
    auto [found4, found6] = addressesOfInterface(*interfaceDescription, port);
    addr4 = std::move(found4);
    addr6 = std::move(found6);
  }
  if (interfaceAddr4Ptr) *interfaceAddr4Ptr = std::move(addr4);
  if (interfaceAddr6Ptr) *interfaceAddr6Ptr = std::move(addr6);
}

void DispatchUdpSocket::convertNumericHost_port_intoAddress4_address6(
    const std::optional<std::string>& numericHost, std::uint16_t port, std::optional<ns::Data>* addr4Ptr,
    std::optional<ns::Data>* addr6Ptr) {
  assertOnSocketQueue();
  std::optional<ns::Data> addr4;
  std::optional<ns::Data> addr6;
  if (numericHost) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICHOST;
    std::string service = std::to_string(port);
    addrinfo* res0 = nullptr;
    if (::getaddrinfo(numericHost->c_str(), service.c_str(), &hints, &res0) == 0) {
      for (addrinfo* res = res0; res; res = res->ai_next) {
        if (!addr4 && res->ai_family == AF_INET) addr4 = ns::Data(res->ai_addr, res->ai_addrlen);
        if (!addr6 && res->ai_family == AF_INET6) addr6 = ns::Data(res->ai_addr, res->ai_addrlen);
      }
      freeaddrinfo(res0);
    }
  }
  if (addr4Ptr) *addr4Ptr = std::move(addr4);
  if (addr6Ptr) *addr6Ptr = std::move(addr6);
}

void DispatchUdpSocket::asyncResolveHost_port_withCompletionBlock(const std::optional<std::string>& aHost,
                                                                  std::uint16_t port, Completion completion) {
  // The completion holds the socket until it has run, as a queued block does.
  auto me = self<DispatchUdpSocket>();
  auto socketQueue = socketQueue_;
  if (!aHost) {
    ns::Error error = badParamError("The host param is nil. Should be domain name or IP address string.");
    dispatch::async(socketQueue, [me, completion = std::move(completion), error] { completion({}, error); });
    return;
  }
  // The lookup touches no socket state: only the copied host, the port and the queue.
  std::string host = *aHost;
  dispatch::async(dispatch::globalQueue(dispatch::Priority::Default),
                  [me, socketQueue, host, port, completion = std::move(completion)] {
                    std::vector<ns::Data> addresses;
                    std::optional<ns::Error> error;
                    if (int gai_error = lookUp(host, port, &addresses)) error = gaiError(gai_error);
                    dispatch::async(socketQueue, [me, completion, addresses = std::move(addresses), error] {
                      completion(addresses, error);
                    });
                  });
}

int DispatchUdpSocket::getAddress_error_fromAddresses(std::optional<ns::Data>* addressPtr,
                                                      ns::Error* errorPtr,
                                                      const std::vector<ns::Data>& addresses) {
  assertOnSocketQueue();
  bool resolvedIPv4Address = false;
  bool resolvedIPv6Address = false;
  for (const auto& address : addresses) {
    int family = familyFromAddress(address);
    resolvedIPv4Address |= family == AF_INET;
    resolvedIPv6Address |= family == AF_INET6;
  }
  auto fail = [&](const char* msg) {
    if (addressPtr) addressPtr->reset();
    ns::setError(errorPtr, otherError(msg));
    return AF_UNSPEC;
  };
  if ((config_ & kIPv4Disabled) && !resolvedIPv6Address) {
    return fail("IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
  }
  if ((config_ & kIPv6Disabled) && !resolvedIPv4Address) {
    return fail("IPv6 has been disabled and DNS lookup found no IPv4 address(es).");
  }
  if ((flags_ & kIPv4Deactivated) && !resolvedIPv6Address) {
    return fail("IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
  }
  if ((flags_ & kIPv6Deactivated) && !resolvedIPv4Address) {
    return fail("IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).");
  }

  const ns::Data* address4 = nullptr;
  const ns::Data* address6 = nullptr;
  bool ipv4WasFirst = false;
  for (const auto& address : addresses) {
    int family = familyFromAddress(address);
    if (family == AF_INET && !address4) {
      address4 = &address;
      if (!address6) ipv4WasFirst = true;
    } else if (family == AF_INET6 && !address6) {
      address6 = &address;
    }
  }
  if (!address4 && !address6) {
    // Nothing in the list is a socket address (a connect request given bytes of another kind).
    if (addressPtr) addressPtr->reset();
    ns::setError(errorPtr, badParamError("A valid IPv4 or IPv6 address was not given"));
    return AF_UNSPEC;
  }
  bool useIPv4 = ((config_ & kPreferIPv4) && address4) || !address6;
  bool useIPv6 = ((config_ & kPreferIPv6) && address6) || !address4;
  if (useIPv4 || (!useIPv6 && ipv4WasFirst)) {
    if (addressPtr) *addressPtr = *address4;
    ns::setError(errorPtr, ns::Error());
    return AF_INET;
  }
  if (addressPtr) *addressPtr = *address6;
  ns::setError(errorPtr, ns::Error());
  return AF_INET6;
}

bool DispatchUdpSocket::isConnectedToAddress4(const ns::Data& someAddr4) {
  assertOnSocketQueue();
  if (cachedConnectedFamily_ != AF_INET || !cachedConnectedAddress_ ||
      someAddr4.length() < sizeof(sockaddr_in)) {
    return false;
  }
  auto a = copyOf<sockaddr_in>(*cachedConnectedAddress_);
  auto b = copyOf<sockaddr_in>(someAddr4);
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool DispatchUdpSocket::isConnectedToAddress6(const ns::Data& someAddr6) {
  assertOnSocketQueue();
  if (cachedConnectedFamily_ != AF_INET6 || !cachedConnectedAddress_ ||
      someAddr6.length() < sizeof(sockaddr_in6)) {
    return false;
  }
  auto a = copyOf<sockaddr_in6>(*cachedConnectedAddress_);
  auto b = copyOf<sockaddr_in6>(someAddr6);
  return std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0 && a.sin6_port == b.sin6_port;
}

unsigned DispatchUdpSocket::indexOfInterfaceAddr4(const ns::Data& interfaceAddr4) {
  if (interfaceAddr4.length() != sizeof(sockaddr_in)) return 0;
  auto wanted = copyOf<sockaddr_in>(interfaceAddr4);
  auto name = nameOfInterfaceWithAddress(AF_INET, &wanted.sin_addr);
  return name ? if_nametoindex(name->c_str()) : 0;
}

unsigned DispatchUdpSocket::indexOfInterfaceAddr6(const ns::Data& interfaceAddr6) {
  if (interfaceAddr6.length() != sizeof(sockaddr_in6)) return 0;
  auto wanted = copyOf<sockaddr_in6>(interfaceAddr6);
  auto name = nameOfInterfaceWithAddress(AF_INET6, &wanted.sin6_addr);
  return name ? if_nametoindex(name->c_str()) : 0;
}

// ---------------------------------------------------------------------------------------------
// Sockets and sources

int DispatchUdpSocket::createSocket(int domain, ns::Error* errPtr) {
  // Every send passes MSG_NOSIGNAL, which keeps a send from raising SIGPIPE without a socket
  // option: there is no sigpipe step to set up or to fail.
  const char* failedStep = nullptr;
  int socketFD = socket_setup::openNonBlockingSocket(domain, SOCK_DGRAM, &failedStep);
  if (socketFD == -1) ns::setError(errPtr, errnoErrorWithReason(failedStep));
  return socketFD;
}

bool DispatchUdpSocket::createSocket4_socket6_error(bool useIPv4, bool useIPv6, ns::Error* errPtr) {
  assertOnSocketQueue();
  if (useIPv4) {
    socket4FD_ = createSocket(AF_INET, errPtr);
    if (socket4FD_ == -1) return false;
  }
  if (useIPv6) {
    socket6FD_ = createSocket(AF_INET6, errPtr);
    if (socket6FD_ == -1) {
      if (socket4FD_ != -1) {
        ::close(socket4FD_);
        socket4FD_ = -1;
      }
      return false;
    }
  }
  if (useIPv4) setupSendAndReceiveSourcesForSocket4();
  if (useIPv6) setupSendAndReceiveSourcesForSocket6();
  flags_ |= kDidCreateSockets;
  return true;
}

bool DispatchUdpSocket::createSockets(ns::Error* errPtr) {
  assertOnSocketQueue();
  return createSocket4_socket6_error((config_ & kIPv4Disabled) == 0, (config_ & kIPv6Disabled) == 0, errPtr);
}

void DispatchUdpSocket::setupSendAndReceiveSourcesForSocket4() {
  setupSources(true);
}
void DispatchUdpSocket::setupSendAndReceiveSourcesForSocket6() {
  setupSources(false);
}

void DispatchUdpSocket::setupSources(bool ipv4) {
  assertOnSocketQueue();
  const int fd = ipv4 ? socket4FD_ : socket6FD_;
  auto sendSource = dispatch::sourceCreate(dispatch::SourceType::Write, fd, 0, socketQueue_);
  auto receiveSource = dispatch::sourceCreate(dispatch::SourceType::Read, fd, 0, socketQueue_);

  // The handlers hold the socket: a socket with open sockets lives until it closes them, and
  // the sources release the handlers once cancelled, which breaks the cycle.
  auto me = self<DispatchUdpSocket>();
  const std::uint32_t canAcceptBytes = ipv4 ? kSock4CanAcceptBytes : kSock6CanAcceptBytes;
  sendSource->setEventHandler([me, ipv4, canAcceptBytes] {
    me->flags_ |= canAcceptBytes;
    // Nothing to send right now: stop watching until a refused send resumes the source.
    auto* packet = me->currentSendPacket();
    if (packet && !packet->resolveInProgress && !packet->filterInProgress) {
      me->doSend();
    } else if (ipv4) {
      me->suspendSend4Source();
    } else {
      me->suspendSend6Source();
    }
  });
  ns::Weak<dispatch::Source> weakReceive = receiveSource;
  receiveSource->setEventHandler([me, ipv4, weakReceive] {
    auto source = weakReceive.lock();
    if (!source) return;
    std::uint64_t bytes = source->data();
    (ipv4 ? me->socket4FDBytesAvailable_ : me->socket6FDBytesAvailable_) = bytes;
    if (bytes > 0) {
      me->doReceive();
    } else {
      me->doReceiveEmpty(ipv4);
    }
  });

  // The descriptor is closed by whichever cancel handler runs last.
  auto remaining = std::make_shared<int>(2);
  auto cancelHandler = [fd, remaining] {
    if (--*remaining == 0) ::close(fd);
  };
  sendSource->setCancelHandler(cancelHandler);
  receiveSource->setCancelHandler(cancelHandler);

  if (ipv4) {
    sources_->send4Source = sendSource;
    sources_->receive4Source = receiveSource;
    socket4FDBytesAvailable_ = 0;
    flags_ |= kSend4SourceSuspended | kReceive4SourceSuspended | kSock4CanAcceptBytes;
  } else {
    sources_->send6Source = sendSource;
    sources_->receive6Source = receiveSource;
    socket6FDBytesAvailable_ = 0;
    flags_ |= kSend6SourceSuspended | kReceive6SourceSuspended | kSock6CanAcceptBytes;
  }
}

namespace {

// Suspends or resumes a source only when its flag says the opposite state, so that suspends and
// resumes never pile up.
void switchSource(const ns::Ref<dispatch::Source>& source, std::uint32_t& flags, std::uint32_t suspendedBit,
                  bool suspend) {
  if (!source) return;
  bool suspended = (flags & suspendedBit) != 0;
  if (suspend && !suspended) {
    source->suspend();
    flags |= suspendedBit;
  } else if (!suspend && suspended) {
    source->resume();
    flags &= ~suspendedBit;
  }
}

}  // namespace

void DispatchUdpSocket::suspendSend4Source() {
  assertOnSocketQueue();
  switchSource(sources_->send4Source, flags_, kSend4SourceSuspended, true);
}
void DispatchUdpSocket::suspendSend6Source() {
  assertOnSocketQueue();
  switchSource(sources_->send6Source, flags_, kSend6SourceSuspended, true);
}
void DispatchUdpSocket::resumeSend4Source() {
  assertOnSocketQueue();
  switchSource(sources_->send4Source, flags_, kSend4SourceSuspended, false);
}
void DispatchUdpSocket::resumeSend6Source() {
  assertOnSocketQueue();
  switchSource(sources_->send6Source, flags_, kSend6SourceSuspended, false);
}
void DispatchUdpSocket::suspendReceive4Source() {
  assertOnSocketQueue();
  switchSource(sources_->receive4Source, flags_, kReceive4SourceSuspended, true);
}
void DispatchUdpSocket::suspendReceive6Source() {
  assertOnSocketQueue();
  switchSource(sources_->receive6Source, flags_, kReceive6SourceSuspended, true);
}
void DispatchUdpSocket::resumeReceive4Source() {
  assertOnSocketQueue();
  switchSource(sources_->receive4Source, flags_, kReceive4SourceSuspended, false);
}
void DispatchUdpSocket::resumeReceive6Source() {
  assertOnSocketQueue();
  switchSource(sources_->receive6Source, flags_, kReceive6SourceSuspended, false);
}

// ---------------------------------------------------------------------------------------------
// Closing

namespace {

// Cancels a source and makes sure its cancel handler runs: a suspended source never runs it.
void cancelSource(ns::Ref<dispatch::Source>& source, std::uint32_t& flags, std::uint32_t suspendedBit) {
  if (!source) return;
  source->cancel();
  if (flags & suspendedBit) {
    source->resume();
    flags &= ~suspendedBit;
  }
  source = nullptr;
}

}  // namespace

void DispatchUdpSocket::closeSocket4() {
  assertOnSocketQueue();
  if (socket4FD_ == -1) return;
  if (sources_->send4Source || sources_->receive4Source) {
    // The cancel handlers close the descriptor.
    cancelSource(sources_->send4Source, flags_, kSend4SourceSuspended);
    cancelSource(sources_->receive4Source, flags_, kReceive4SourceSuspended);
  } else {
    ::close(socket4FD_);
  }
  socket4FD_ = -1;
  socket4FDBytesAvailable_ = 0;
  flags_ &= ~kSock4CanAcceptBytes;
  cachedLocalAddress4_.reset();
  cachedLocalHost4_.reset();
  cachedLocalPort4_ = 0;
}

void DispatchUdpSocket::closeSocket6() {
  assertOnSocketQueue();
  if (socket6FD_ == -1) return;
  if (sources_->send6Source || sources_->receive6Source) {
    cancelSource(sources_->send6Source, flags_, kSend6SourceSuspended);
    cancelSource(sources_->receive6Source, flags_, kReceive6SourceSuspended);
  } else {
    ::close(socket6FD_);
  }
  socket6FD_ = -1;
  socket6FDBytesAvailable_ = 0;
  flags_ &= ~kSock6CanAcceptBytes;
  cachedLocalAddress6_.reset();
  cachedLocalHost6_.reset();
  cachedLocalPort6_ = 0;
}

void DispatchUdpSocket::closeSockets() {
  closeSocket4();
  closeSocket6();
  flags_ &= ~kDidCreateSockets;
}

void DispatchUdpSocket::closeWithError(std::optional<ns::Error> error) {
  assertOnSocketQueue();
  endCurrentSend();
  sendQueue_.clear();
  const bool shouldCallDelegate = (flags_ & kDidCreateSockets) != 0;
  closeSockets();
  flags_ = 0;
  // Lookups and filter answers still under way belong to what was just closed.
  ++stateIndex_;
  pendingFilterOperations_ = 0;
  if (shouldCallDelegate) {
    notifyDelegate([error](DispatchUdpSocketDelegate& d, const ns::Ref<DispatchUdpSocket>& sock) {
      d.udpSocketDidClose_withError(sock, error);
    });
  }
}

void DispatchUdpSocket::close() {
  // Runs before runSync returns.
  runSync([this] { closeWithError(std::nullopt); });
}

// ---------------------------------------------------------------------------------------------
// Address caches

void DispatchUdpSocket::maybeUpdateCachedLocalAddress4Info() {
  assertOnSocketQueue();
  if (cachedLocalAddress4_ || !(flags_ & kDidBind) || socket4FD_ == -1) return;
  auto address = socketName(socket4FD_, sizeof(sockaddr_in), false);
  if (!address || !isIPv4Address(*address)) return;
  auto sockaddr4 = copyOf<sockaddr_in>(*address);
  cachedLocalAddress4_ = address;
  cachedLocalHost4_ = hostFromSockaddr4(&sockaddr4);
  cachedLocalPort4_ = portFromSockaddr4(&sockaddr4);
}

void DispatchUdpSocket::maybeUpdateCachedLocalAddress6Info() {
  assertOnSocketQueue();
  if (cachedLocalAddress6_ || !(flags_ & kDidBind) || socket6FD_ == -1) return;
  auto address = socketName(socket6FD_, sizeof(sockaddr_in6), false);
  if (!address || !isIPv6Address(*address)) return;
  auto sockaddr6 = copyOf<sockaddr_in6>(*address);
  cachedLocalAddress6_ = address;
  cachedLocalHost6_ = hostFromSockaddr6(&sockaddr6);
  cachedLocalPort6_ = portFromSockaddr6(&sockaddr6);
}

void DispatchUdpSocket::maybeUpdateCachedConnectedAddressInfo() {
  assertOnSocketQueue();
  if (cachedConnectedAddress_ || !(flags_ & kDidConnect)) return;
  std::optional<ns::Data> address;
  if (socket4FD_ != -1) {
    address = socketName(socket4FD_, sizeof(sockaddr_in), true);
  } else if (socket6FD_ != -1) {
    address = socketName(socket6FD_, sizeof(sockaddr_in6), true);
  }
  std::string host;
  std::uint16_t port = 0;
  int family = 0;
  if (!address || !getHost_port_family_fromAddress(&host, &port, &family, *address)) return;
  cachedConnectedAddress_ = address;
  cachedConnectedHost_ = host;
  cachedConnectedPort_ = port;
  cachedConnectedFamily_ = family;
}

// ---------------------------------------------------------------------------------------------
// Binding

bool DispatchUdpSocket::preBind(ns::Error* errPtr) {
  if (!preOp(errPtr)) return false;
  if (flags_ & kDidBind) {
    ns::setError(errPtr, badConfigError("Cannot bind a socket more than once."));
    return false;
  }
  if (flags_ & (kConnecting | kDidConnect)) {
    ns::setError(errPtr,
                 badConfigError("Cannot bind after connecting. If needed, bind first, then connect."));
    return false;
  }
  if ((config_ & kIPv4Disabled) && (config_ & kIPv6Disabled)) {
    ns::setError(
        errPtr,
        badConfigError("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."));
    return false;
  }
  return true;
}

bool DispatchUdpSocket::bindToPort_error(std::uint16_t port, ns::Error* errPtr) {
  return bindToPort_interface_error(port, std::nullopt, errPtr);
}

bool DispatchUdpSocket::bindToPort_interface_error(std::uint16_t port,
                                                   const std::optional<std::string>& interface,
                                                   ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  runSync([&] {
    if (!preBind(&error)) return;
    std::optional<ns::Data> interface4;
    std::optional<ns::Data> interface6;
    convertIntefaceDescription_port_intoAddress4_address6(interface, port, &interface4, &interface6);
    if (!interface4 && !interface6) {
      error =
          badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    const bool isIPv4Disabled = (config_ & kIPv4Disabled) != 0;
    const bool isIPv6Disabled = (config_ & kIPv6Disabled) != 0;
    if (isIPv4Disabled && !interface6) {
      error = badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
      return;
    }
    if (isIPv6Disabled && !interface4) {
      error = badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
      return;
    }
    const bool useIPv4 = !isIPv4Disabled && interface4;
    const bool useIPv6 = !isIPv6Disabled && interface6;
    if (!(flags_ & kDidCreateSockets) && !createSocket4_socket6_error(useIPv4, useIPv6, &error)) return;

    auto bindOne = [&](int fd, const ns::Data& address) {
      if (port == 0) socket_setup::keepEphemeralPortOwn(fd);
      if (::bind(fd, reinterpret_cast<const sockaddr*>(address.bytes()),
                 static_cast<socklen_t>(address.length())) == -1) {
        error = errnoErrorWithReason("Error in bind() function");
        closeSockets();
        return false;
      }
      return true;
    };
    if (useIPv4 && !bindOne(socket4FD_, *interface4)) return;
    if (useIPv6 && !bindOne(socket6FD_, *interface6)) return;

    flags_ |= kDidBind;
    if (!useIPv4) flags_ |= kIPv4Deactivated;
    if (!useIPv6) flags_ |= kIPv6Deactivated;
    result = true;
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}

bool DispatchUdpSocket::bindToAddress_error(const ns::Data& localAddr, ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  const ns::Data address = localAddr;
  runSync([&] {
    if (!preBind(&error)) return;
    const int family = familyFromAddress(address);
    if (family != AF_INET && family != AF_INET6) {
      error = badParamError("A valid IPv4 or IPv6 address was not given");
      return;
    }
    const bool useIPv4 = family == AF_INET;
    if (useIPv4 && (config_ & kIPv4Disabled)) {
      error = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
      return;
    }
    if (!useIPv4 && (config_ & kIPv6Disabled)) {
      error = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
      return;
    }
    if (!(flags_ & kDidCreateSockets) && !createSocket4_socket6_error(useIPv4, !useIPv4, &error)) return;
    const int fd = useIPv4 ? socket4FD_ : socket6FD_;
    const socklen_t length = useIPv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (portFromAddress(address) == 0) socket_setup::keepEphemeralPortOwn(fd);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.bytes()), length) == -1) {
      error = errnoErrorWithReason("Error in bind() function");
      closeSockets();
      return;
    }
    flags_ |= kDidBind | (useIPv4 ? kIPv6Deactivated : kIPv4Deactivated);
    result = true;
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}
