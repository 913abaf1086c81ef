// DispatchSocket: outgoing connections. The host is resolved on a global queue; the connect
// itself runs without blocking on the socket queue, its outcome watched by a one-shot write
// source. Every late result carries the stateIndex it was started under and is dropped once a
// close (or a time-out, or the connection itself) has moved the index on.
#include "lib/sockets/DispatchSocketInternal.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lib/sockets/SocketSetup.h"

using namespace socket_internal;

// ---------------------------------------------------------------------------------------------
// The public forms

bool DispatchSocket::connectToHost_onPort_error(const std::string& host, std::uint16_t port,
                                                ns::Error* errPtr) {
  return connectToHost_onPort_viaInterface_withTimeout_error(host, port, std::nullopt, -1, errPtr);
}

bool DispatchSocket::connectToHost_onPort_withTimeout_error(const std::string& host, std::uint16_t port,
                                                            double timeout, ns::Error* errPtr) {
  return connectToHost_onPort_viaInterface_withTimeout_error(host, port, std::nullopt, timeout, errPtr);
}

bool DispatchSocket::connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr) {
  return connectToAddress_viaInterface_withTimeout_error(remoteAddr, std::nullopt, -1, errPtr);
}

bool DispatchSocket::connectToAddress_withTimeout_error(const ns::Data& remoteAddr, double timeout,
                                                        ns::Error* errPtr) {
  return connectToAddress_viaInterface_withTimeout_error(remoteAddr, std::nullopt, timeout, errPtr);
}

bool DispatchSocket::connectToHost_onPort_viaInterface_withTimeout_error(
    const std::string& inHost, std::uint16_t port, const std::optional<std::string>& inInterface,
    double timeout, ns::Error* errPtr) {
  const std::string host = inHost;
  const std::optional<std::string> interface = inInterface;
  std::optional<ns::Error> error;
  bool result = false;

  runSync([&] {
    if (host.empty()) {
      error = badParamError(
          "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");
      return;
    }
    ns::Error preConnectError("", 0);
    if (!preConnectWithInterface_error(interface, &preConnectError)) {
      error = preConnectError;
      return;
    }
    flags_ |= flagStarted;

    const int aStateIndex = stateIndex_;
    ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
    dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), [weakSelf, host, port, aStateIndex] {
      ns::Error lookupError("", 0);
      bool failed = false;
      std::optional<std::vector<ns::Data>> addresses = lookupHost_port_error(host, port, &lookupError);
      if (!addresses || addresses->empty()) failed = true;

      auto strongSelf = weakSelf.lock();
      if (!strongSelf) return;
      if (failed) {
        dispatch::async(strongSelf->socketQueue_, [strongSelf, aStateIndex, lookupError] {
          strongSelf->lookup_didFail(aStateIndex, lookupError);
        });
        return;
      }
      std::optional<ns::Data> address4;
      std::optional<ns::Data> address6;
      for (const ns::Data& address : *addresses) {
        if (!address4 && isIPv4Address(address)) address4 = address;
        if (!address6 && isIPv6Address(address)) address6 = address;
      }
      dispatch::async(strongSelf->socketQueue_, [strongSelf, aStateIndex, address4, address6] {
        strongSelf->lookup_didSucceedWithAddress4_address6(aStateIndex, address4, address6);
      });
    });

    startConnectTimeout(timeout);
    result = true;
  });

  if (!result && error) ns::setError(errPtr, *error);
  return result;
}

bool DispatchSocket::connectToAddress_viaInterface_withTimeout_error(
    const ns::Data& inRemoteAddr, const std::optional<std::string>& inInterface, double timeout,
    ns::Error* errPtr) {
  const ns::Data remoteAddr = inRemoteAddr;
  const std::optional<std::string> interface = inInterface;
  std::optional<ns::Error> error;
  bool result = false;

  runSync([&] {
    std::optional<ns::Data> address4;
    std::optional<ns::Data> address6;
    if (remoteAddr.length() == sizeof(sockaddr_in) && isIPv4Address(remoteAddr)) {
      address4 = remoteAddr;
    } else if (remoteAddr.length() == sizeof(sockaddr_in6) && isIPv6Address(remoteAddr)) {
      address6 = remoteAddr;
    } else {
      error = badParamError("A valid IPv4 or IPv6 address was not given");
      return;
    }
    if (address4 && (config_ & configIPv4Disabled)) {
      error = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
      return;
    }
    if (address6 && (config_ & configIPv6Disabled)) {
      error = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
      return;
    }
    ns::Error stepError("", 0);
    if (!preConnectWithInterface_error(interface, &stepError) ||
        !connectWithAddress4_address6_error(address4, address6, &stepError)) {
      error = stepError;
      return;
    }
    flags_ |= flagStarted;
    startConnectTimeout(timeout);
    result = true;
  });

  if (!result && error) ns::setError(errPtr, *error);
  return result;
}

// ---------------------------------------------------------------------------------------------
// The steps

bool DispatchSocket::preConnectWithInterface_error(const std::optional<std::string>& interface,
                                                   ns::Error* errPtr) {
  assertOnSocketQueue();
  if (delegate_.expired()) {
    ns::setError(errPtr, badConfigError("Attempting to connect without a delegate. Set a delegate first."));
    return false;
  }
  if (!delegateQueue_) {
    ns::setError(errPtr, badConfigError(
                             "Attempting to connect without a delegate queue. Set a delegate queue first."));
    return false;
  }
  if (flags_ & flagStarted) {
    ns::setError(
        errPtr,
        badConfigError("Attempting to connect while connected or accepting connections. Disconnect first."));
    return false;
  }
  const bool isIPv4Disabled = (config_ & configIPv4Disabled) != 0;
  const bool isIPv6Disabled = (config_ & configIPv6Disabled) != 0;
  if (isIPv4Disabled && isIPv6Disabled) {
    ns::setError(
        errPtr,
        badConfigError("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."));
    return false;
  }
  if (interface) {
    std::optional<ns::Data> interface4;
    std::optional<ns::Data> interface6;
    getInterfaceAddress4_address6_fromDescription_port(&interface4, &interface6, interface, 0);
    if (!interface4 && !interface6) {
      ns::setError(
          errPtr,
          badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."));
      return false;
    }
    if (isIPv4Disabled && !interface6) {
      ns::setError(errPtr,
                   badParamError("IPv4 has been disabled and specified interface doesn't support IPv6."));
      return false;
    }
    if (isIPv6Disabled && !interface4) {
      ns::setError(errPtr,
                   badParamError("IPv6 has been disabled and specified interface doesn't support IPv4."));
      return false;
    }
    connectInterface4_ = interface4;
    connectInterface6_ = interface6;
  }
  readQueue_.clear();
  writeQueue_.clear();
  return true;
}

void DispatchSocket::lookup_didFail(int aStateIndex, const ns::Error& error) {
  assertOnSocketQueue();
  if (aStateIndex != stateIndex_) return;  // disconnected or timed out meanwhile
  endConnectTimeout();
  closeWithError(error);
}

void DispatchSocket::lookup_didSucceedWithAddress4_address6(int aStateIndex,
                                                            const std::optional<ns::Data>& address4,
                                                            const std::optional<ns::Data>& address6) {
  assertOnSocketQueue();
  if (aStateIndex != stateIndex_) return;  // disconnected or timed out meanwhile
  const bool isIPv4Disabled = (config_ & configIPv4Disabled) != 0;
  const bool isIPv6Disabled = (config_ & configIPv6Disabled) != 0;
  if (isIPv4Disabled && !address6) {
    closeWithError(otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
    return;
  }
  if (isIPv6Disabled && !address4) {
    closeWithError(otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
    return;
  }
  ns::Error error("", 0);
  if (!connectWithAddress4_address6_error(address4, address6, &error)) closeWithError(error);
}

bool DispatchSocket::connectWithAddress4_address6_error(const std::optional<ns::Data>& address4,
                                                        const std::optional<ns::Data>& address6,
                                                        ns::Error* errPtr) {
  assertOnSocketQueue();
  const bool useIPv6 = ((config_ & configPreferIPv6) && address6) || !address4;
  const ns::Data& address = useIPv6 ? *address6 : *address4;
  const std::optional<ns::Data>& connectInterface = useIPv6 ? connectInterface6_ : connectInterface4_;
  int& socketFD = useIPv6 ? socket6FD_ : socket4FD_;

  // Non-blocking from the start: the connect runs here, on the socket queue, and its outcome is
  // watched rather than waited for, so no other thread ever holds a descriptor number that a
  // close on this queue could hand to somebody else.
  socketFD = ::socket(useIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socketFD == -1) {
    ns::setError(errPtr, errnoErrorWithReason("Error in socket() function"));
    return false;
  }
  // A socket that is not started is never closed by a disconnect: a failure here closes the
  // descriptor itself.
  auto fail = [&](const char* reason) {
    ns::Error error = errnoErrorWithReason(reason);
    ::close(socketFD);
    socketFD = -1;
    ns::setError(errPtr, std::move(error));
    return false;
  };
  if (connectInterface) {
    if (portFromAddress(*connectInterface) != 0) {
      int reuseOn = 1;
      ::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn);
    }
    if (::bind(socketFD, reinterpret_cast<const sockaddr*>(connectInterface->bytes()),
               static_cast<socklen_t>(connectInterface->length())) == -1) {
      return fail("Error in bind() function");
    }
  }
  // No SO_NOSIGPIPE here: every write passes MSG_NOSIGNAL instead.

  const int aStateIndex = stateIndex_;
  const int fd = socketFD;
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(address.bytes()),
                     static_cast<socklen_t>(address.length()));
  if (rc == 0 || errno != EINPROGRESS) {
    // Settled at once (a loopback refusal, for instance). The outcome still arrives after the
    // caller has its YES, as any connect outcome does.
    std::optional<ns::Error> connectError;
    if (rc != 0) connectError = errnoErrorWithReason("Error in connect() function");
    // runAsync holds the socket until the block has run.
    runAsync([this, aStateIndex, connectError] {
      if (connectError) {
        didNotConnect_error(aStateIndex, *connectError);
      } else {
        didConnect(aStateIndex);
      }
    });
    return true;
  }

  auto source =
      dispatch::sourceCreate(dispatch::SourceType::Write, static_cast<std::uintptr_t>(fd), 0, socketQueue_);
  ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
  source->setEventHandler([weakSelf, aStateIndex, fd] {
    if (auto strongSelf = weakSelf.lock()) strongSelf->connectSocketDidBecomeWritable(aStateIndex, fd);
  });
  sources_->connectSource = source;
  source->resume();
  return true;
}

void DispatchSocket::connectSocketDidBecomeWritable(int aStateIndex, int socketFD) {
  assertOnSocketQueue();
  // A stale firing: the attempt it belonged to is over and the descriptor may not be ours.
  if (aStateIndex != stateIndex_) return;
  if (sources_->connectSource) {
    sources_->connectSource->cancel();
    sources_->connectSource = nullptr;
  }
  int socketError = 0;
  socklen_t length = sizeof socketError;
  if (::getsockopt(socketFD, SOL_SOCKET, SO_ERROR, &socketError, &length) == -1) socketError = errno;
  if (socketError == 0) {
    didConnect(aStateIndex);
  } else {
    errno = socketError;
    didNotConnect_error(aStateIndex, errnoErrorWithReason("Error in connect() function"));
  }
}

void DispatchSocket::didConnect(int aStateIndex) {
  assertOnSocketQueue();
  if (aStateIndex != stateIndex_) return;
  flags_ |= flagConnected;
  endConnectTimeout();

  std::optional<std::string> host = connectedHost();
  std::uint16_t port = connectedPort();
  notifyDelegate(
      [host = host.value_or(""), port](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
        d.socket_didConnectToHost_port(s, host, port);
      });

  int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
  if (!socket_setup::setNonBlocking(socketFD)) {
    closeWithError(otherError("Error enabling non-blocking IO on socket (fcntl)"));
    return;
  }
  setupReadAndWriteSourcesForNewlyConnectedSocket(socketFD);
  maybeDequeueRead();
  maybeDequeueWrite();
}

void DispatchSocket::didNotConnect_error(int aStateIndex, const ns::Error& error) {
  assertOnSocketQueue();
  if (aStateIndex != stateIndex_) return;
  closeWithError(error);
}

void DispatchSocket::startConnectTimeout(double timeout) {
  assertOnSocketQueue();
  if (!(timeout >= 0)) return;
  sources_->connectTimer = startTimeoutTimer(timeout, &DispatchSocket::doConnectTimeout);
}

void DispatchSocket::doConnectTimeout() {
  assertOnSocketQueue();
  endConnectTimeout();
  closeWithError(connectTimeoutError());
}
