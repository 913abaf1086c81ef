// DispatchSocket: listening, accepting connections and setting up an accepted one.
#include "lib/sockets/DispatchSocketInternal.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lib/sockets/DispatchSocketPreBuffer.h"
#include "lib/sockets/SocketSetup.h"

using namespace socket_internal;

// ---------------------------------------------------------------------------------------------
// Accepting

bool DispatchSocket::acceptOnPort_error(std::uint16_t port, ns::Error* errPtr) {
  return acceptOnInterface_port_error(std::nullopt, port, errPtr);
}

int DispatchSocket::createListeningSocket(int domain, const ns::Data& interfaceAddr, ns::Error* errPtr) {
  const char* failedStep = nullptr;
  int socketFD = socket_setup::openNonBlockingSocket(domain, SOCK_STREAM, &failedStep);
  if (socketFD == -1) {
    ns::setError(errPtr, errnoErrorWithReason(failedStep));
    return -1;
  }
  auto fail = [&](const char* reason) {
    ns::Error error = errnoErrorWithReason(reason);
    ::close(socketFD);
    ns::setError(errPtr, std::move(error));
    return -1;
  };
  if (::bind(socketFD, reinterpret_cast<const sockaddr*>(interfaceAddr.bytes()),
             static_cast<socklen_t>(interfaceAddr.length())) == -1) {
    return fail("Error in bind() function");
  }
  if (::listen(socketFD, kListenBacklog) == -1) {
    return fail("Error in listen() function");
  }
  return socketFD;
}

bool DispatchSocket::acceptOnInterface_port_error(const std::optional<std::string>& interface,
                                                  std::uint16_t port, ns::Error* errPtr) {
  std::optional<ns::Error> error;
  bool result = false;
  std::optional<std::string> interfaceCopy = interface;

  runSync([&] {
    if (delegate_.expired()) {
      error = badConfigError("Attempting to accept without a delegate. Set a delegate first.");
      return;
    }
    if (!delegateQueue_) {
      error = badConfigError("Attempting to accept without a delegate queue. Set a delegate queue first.");
      return;
    }
    bool isIPv4Disabled = (config_ & configIPv4Disabled) != 0;
    bool isIPv6Disabled = (config_ & configIPv6Disabled) != 0;
    if (isIPv4Disabled && isIPv6Disabled) {
      error =
          badConfigError("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
      return;
    }
    if (flags_ & flagStarted) {
      error =
          badConfigError("Attempting to accept while connected or accepting connections. Disconnect first.");
      return;
    }
    readQueue_.clear();
    writeQueue_.clear();

    std::optional<ns::Data> interface4;
    std::optional<ns::Data> interface6;
    getInterfaceAddress4_address6_fromDescription_port(&interface4, &interface6, interfaceCopy, port);
    if (!interface4 && !interface6) {
      error =
          badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    if (isIPv4Disabled && !interface6) {
      error = badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
      return;
    }
    if (isIPv6Disabled && !interface4) {
      error = badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
      return;
    }
    bool enableIPv4 = !isIPv4Disabled && interface4;
    bool enableIPv6 = !isIPv6Disabled && interface6;

    ns::Error socketError(DispatchSocketErrorDomain, DispatchSocketOtherError);
    if (enableIPv4) {
      socket4FD_ = createListeningSocket(AF_INET, *interface4, &socketError);
      if (socket4FD_ == -1) {
        error = socketError;
        return;
      }
    }
    if (enableIPv6) {
      if (enableIPv4 && port == 0) {
        // Both families listen on the port the system chose for IPv4.
        sockaddr_in6 addr6;
        std::memcpy(&addr6, interface6->bytes(), sizeof addr6);
        addr6.sin6_port = htons(localPort4());
        interface6 = ns::Data(&addr6, sizeof addr6);
      }
      socket6FD_ = createListeningSocket(AF_INET6, *interface6, &socketError);
      if (socket6FD_ == -1) {
        if (socket4FD_ != -1) {
          ::close(socket4FD_);
          socket4FD_ = -1;
        }
        error = socketError;
        return;
      }
    }

    if (enableIPv4) sources_->accept4Source = startAcceptSource(socket4FD_);
    if (enableIPv6) sources_->accept6Source = startAcceptSource(socket6FD_);
    flags_ |= flagStarted;
    result = true;
  });

  if (!result && error) ns::setError(errPtr, *error);
  return result;
}

ns::Ref<dispatch::Source> DispatchSocket::startAcceptSource(int socketFD) {
  auto source = dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(socketFD), 0,
                                       socketQueue_);
  ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
  ns::Weak<dispatch::Source> weakSource = source;
  source->setEventHandler([weakSelf, weakSource, socketFD] {
    auto strongSelf = weakSelf.lock();
    auto strongSource = weakSource.lock();
    if (!strongSelf || !strongSource) return;
    unsigned long numPendingConnections = strongSource->data();
    unsigned long i = 0;
    // At least one attempt, also when the count is 0.
    while (strongSelf->doAccept(socketFD) && ++i < numPendingConnections) {
    }
  });
  source->setCancelHandler([socketFD] { ::close(socketFD); });
  source->resume();
  return source;
}

bool DispatchSocket::doAccept(int parentSocketFD) {
  assertOnSocketQueue();
  bool isIPv4 = parentSocketFD == socket4FD_;
  sockaddr_storage addr{};
  socklen_t addrLen = isIPv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  int childSocketFD =
      ::accept4(parentSocketFD, reinterpret_cast<sockaddr*>(&addr), &addrLen, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (childSocketFD == -1) return false;
  // Writes go out at once: a small write otherwise waits for the peer's delayed acknowledgement
  // of the one before it.
  int noDelay = 1;
  ::setsockopt(childSocketFD, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  ns::Data peerAddress(&addr, addrLen);

  // The delegate and its queue are read together here, on the socket queue, and travel with
  // the connection; a connection nobody can be told about is closed rather than leaked.
  ns::Ref<dispatch::Queue> delegateQueue = delegateQueue_;
  ns::Ref<DispatchSocketDelegate> delegate = delegate_.lock();
  if (!delegateQueue || !delegate) {
    ::close(childSocketFD);
    return true;
  }

  auto me = self<DispatchSocket>();
  dispatch::async(delegateQueue, [me, delegate, delegateQueue, childSocketFD, isIPv4, peerAddress] {
    ns::Ref<DispatchSocket> acceptedSocket;
    try {
      ns::Ref<dispatch::Queue> childSocketQueue =
          delegate->newSocketQueueForConnectionFromAddress_onSocket(peerAddress, me);
      acceptedSocket = ns::make<DispatchSocket>(delegate, delegateQueue, childSocketQueue);
    } catch (const std::exception&) {
      // A concurrent queue from the delegate, or no memory: drop this connection only.
      ::close(childSocketFD);
      return;
    }
    acceptedSocket->adoptAcceptedDescriptor(childSocketFD, isIPv4);
    delegate->socket_didAcceptNewSocket(me, acceptedSocket);
  });
  return true;
}

void DispatchSocket::adoptAcceptedDescriptor(int childSocketFD, bool isIPv4) {
  // Queued before the delegate hears of this socket, so every read or write it queues from
  // socket_didAcceptNewSocket runs after the set-up.
  // runAsync holds the socket until the block has run.
  runAsync([this, childSocketFD, isIPv4] {
    if (isIPv4) {
      socket4FD_ = childSocketFD;
    } else {
      socket6FD_ = childSocketFD;
    }
    flags_ = flagStarted | flagConnected;
    setupReadAndWriteSourcesForNewlyConnectedSocket(childSocketFD);
  });
}

void DispatchSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int socketFD) {
  assertOnSocketQueue();
  auto readSource = dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(socketFD),
                                           0, socketQueue_);
  auto writeSource = dispatch::sourceCreate(dispatch::SourceType::Write,
                                            static_cast<std::uintptr_t>(socketFD), 0, socketQueue_);
  ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
  ns::Weak<dispatch::Source> weakReadSource = readSource;

  readSource->setEventHandler([weakSelf, weakReadSource] {
    auto strongSelf = weakSelf.lock();
    auto source = weakReadSource.lock();
    if (!strongSelf || !source) return;
    strongSelf->readSourceFired(*source);
  });
  writeSource->setEventHandler([weakSelf] {
    auto strongSelf = weakSelf.lock();
    if (!strongSelf) return;
    strongSelf->flags_ |= flagSocketCanAcceptBytes;
    strongSelf->doWriteData();
  });

  // The descriptor is closed once, after both sources are cancelled; both cancel handlers run
  // on the socket queue, so the count needs no lock.
  auto socketFDRefCount = std::make_shared<int>(2);
  auto cancelHandler = [socketFDRefCount, socketFD] {
    if (--*socketFDRefCount == 0) ::close(socketFD);
  };
  readSource->setCancelHandler(cancelHandler);
  writeSource->setCancelHandler(cancelHandler);

  sources_->readSource = readSource;
  sources_->writeSource = writeSource;

  socketFDBytesAvailable_ = 0;
  socketFDBytesGuessed_ = false;
  readSource->setDefersReadCount(true);
  flags_ &= ~flagReadSourceSuspended;
  readSource->resume();
  // The socket assumes it can write and watches for writability only after a write would block.
  flags_ |= flagSocketCanAcceptBytes | flagWriteSourceSuspended;
}
