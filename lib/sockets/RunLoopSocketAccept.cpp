// RunLoopSocket: listening on a port and taking in the connections that arrive there. Each
// accepted connection becomes a socket of its own, carried on a stream pair.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <tuple>

#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/SocketResolver.h"
#include "lib/sockets/SocketSetup.h"
#include "platform/core/Exception.h"
#include "platform/net/Socket.h"
#include "platform/runloop/RunLoop.h"

using namespace runloop_socket_internal;

void RunLoopSocket::raiseOnMisuse(bool accept) const {
  if (!delegate_)
    ns::Exception::raise(RunLoopSocketException,
                         accept ? "Attempting to accept without a delegate. Set a delegate first."
                                : "Attempting to connect without a delegate. Set a delegate first.");
  if (!isDisconnected())
    ns::Exception::raise(
        RunLoopSocketException,
        accept ? "Attempting to accept while connected or accepting connections. Disconnect first."
               : "Attempting to connect while connected or accepting connections. Disconnect first.");
}

RunLoopSocket::SocketRef RunLoopSocket::newAcceptSocketForAddress(const ns::Data& address,
                                                                  ns::Error* errPtr) {
  ns::Weak<ns::Object> info = anchor_;
  auto sock = cf::Socket::createWithFamily(familyOf(address), SOCK_STREAM, 0, cf::Socket::AcceptCallBack,
                                           Anchor::socketCallout, info);
  if (!sock) ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
  return sock;
}

void RunLoopSocket::attachSocketsToRunLoop(const ns::Ref<ns::RunLoop>& runLoop) {
  runLoop_ = runLoop ? runLoop : ns::RunLoop::currentRunLoop();
  if (socket4_) {
    runLoopAddSocket(socket4_, runLoopModes_);
    source4_ = true;
  }
  if (socket6_) {
    runLoopAddSocket(socket6_, runLoopModes_);
    source6_ = true;
  }
}

bool RunLoopSocket::acceptOnPort_error(std::uint16_t port, ns::Error* errPtr) {
  return acceptOnInterface_port_error(std::nullopt, port, errPtr);
}

bool RunLoopSocket::acceptOnInterface_port_error(const std::optional<std::string>& interface,
                                                 std::uint16_t port, ns::Error* errPtr) {
  raiseOnMisuse(true);
  emptyQueues();
  ns::Data address4, address6;
  bool wildcard = !interface || interface->empty();
  if (wildcard || *interface == "localhost" || *interface == "loopback") {
    std::tie(address4, address6) = socket_setup::loopbackOrWildcardAddresses(port, !wildcard);
  } else {
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* res = nullptr;
    char service[8];
    std::snprintf(service, sizeof service, "%hu", port);
    int rc = socketResolverGetAddrInfo(interface->c_str(), service, &hints, &res);
    if (rc != 0) {
      ns::setError(errPtr, ns::Error::withDescription("kCFStreamErrorDomainNetDB", rc, ::gai_strerror(rc)));
      return false;
    }
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
      if (ai->ai_family == AF_INET && address4.length() == 0)
        address4 = ns::Data(ai->ai_addr, ai->ai_addrlen);
      if (ai->ai_family == AF_INET6 && address6.length() == 0)
        address6 = ns::Data(ai->ai_addr, ai->ai_addrlen);
    }
    if (res) ::freeaddrinfo(res);
    if (address4.length() == 0 && address6.length() == 0) return false;
  }

  auto fail = [&]() {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    // The sources made for the failed sockets go with them.
    if (socket4_) {
      if (source4_) runLoopRemoveSocket(socket4_, runLoopModes_);
      socket4_->invalidate();
    }
    if (socket6_) {
      if (source6_) runLoopRemoveSocket(socket6_, runLoopModes_);
      socket6_->invalidate();
    }
    socket4_ = socket6_ = nullptr;
    source4_ = source6_ = false;
    runLoop_ = nullptr;
    return false;
  };
  if (address4.length()) {
    socket4_ = newAcceptSocketForAddress(address4, errPtr);
    if (!socket4_) return fail();
  }
  if (address6.length()) {
    socket6_ = newAcceptSocketForAddress(address6, errPtr);
    if (!socket6_) return fail();
  }
  attachSocketsToRunLoop(nullptr);
  int on = 1;
  if (socket4_) ::setsockopt(socket4_->getNative(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (socket6_) {
    ::setsockopt(socket6_->getNative(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Both families share one port: the IPv6 socket must not claim the IPv4 side too.
    ::setsockopt(socket6_->getNative(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  if (socket4_ && socket4_->setAddress(address4) != cf::Socket::Success) return fail();
  if (socket4_ && socket6_ && port == 0) {
    std::uint16_t chosen = portOf(socket4_->copyAddress());
    sockaddr_in6 a6;
    std::memcpy(&a6, address6.bytes(), sizeof a6);
    a6.sin6_port = htons(chosen);
    address6 = ns::Data(&a6, sizeof a6);
  }
  if (socket6_ && socket6_->setAddress(address6) != cf::Socket::Success) return fail();
  flags_ |= kDidStartConnect;
  return true;
}

void RunLoopSocket::doAcceptFromSocket(cf::Socket* parent, int fd) {
  // Descriptor 0 is a descriptor like any other here; only negative means none.
  if (fd < 0) return;
  auto me = self<RunLoopSocket>();
  auto newSocket = newAcceptedSocket(delegate_);
  newSocket->setRunLoopModes(runLoopModes_);
  if (!newSocket->createStreamsFromNative(fd, nullptr)) {
    ::close(fd);
    newSocket->close();
    return;
  }
  if (parent == socket4_.get())
    newSocket->nativeSocket4_ = fd;
  else
    newSocket->nativeSocket6_ = fd;
  ns::Weak<RunLoopSocket> weakNew = newSocket;
  if (delegate_) delegate_->onSocket_didAcceptNewSocket(me, newSocket);
  newSocket->flags_ |= kDidStartConnect;
  ns::Ref<ns::RunLoop> loop =
      delegate_ ? delegate_->onSocket_wantsRunLoopForNewSocket(me, newSocket) : nullptr;
  ns::Error error;
  if (!newSocket->attachStreamsToRunLoop(loop, &error) || !newSocket->configureAndReturnError(&error) ||
      !newSocket->openStreamsAndReturnError(&error)) {
    newSocket->close();
  }
  // Without the delegate's reference the new socket dies here, closing its connection.
}
