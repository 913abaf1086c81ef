// DispatchUdpSocket: the send queue (datagrams and connect requests, one current at a time),
// connecting, the send filter, the system send with its wait and time-out, and closing once the
// queue has drained.
#include <sys/socket.h>

#include "lib/sockets/DispatchUdpSocketInternal.h"
#include "lib/sockets/SocketSetup.h"

using namespace udp_socket_internal;

DispatchUdpSendPacket* DispatchUdpSocket::currentSendPacket() const {
  assertOnSocketQueue();
  return dynamic_cast<DispatchUdpSendPacket*>(currentSend_.get());
}

// ---------------------------------------------------------------------------------------------
// Sending

void DispatchUdpSocket::sendData_withTag(const ns::Data& data, long tag) {
  sendData_withTimeout_tag(data, -1, tag);
}

void DispatchUdpSocket::queueSendEntry(ns::Ref<ns::Object> entry) {
  // Always queued, also from the socket queue.
  // runAsync holds the socket until the block has run.
  runAsync([this, entry = std::move(entry)] {
    sendQueue_.push_back(entry);
    maybeDequeueSend();
  });
}

void DispatchUdpSocket::sendData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  if (data.empty()) return;
  queueSendEntry(ns::make<DispatchUdpSendPacket>(data, timeout, tag));
}

void DispatchUdpSocket::sendData_toHost_port_withTimeout_tag(const ns::Data& data,
                                                             const std::optional<std::string>& host,
                                                             std::uint16_t port, double timeout, long tag) {
  if (data.empty()) return;
  auto packet = ns::make<DispatchUdpSendPacket>(data, timeout, tag);
  packet->resolveInProgress = true;
  asyncResolveHost_port_withCompletionBlock(
      // The lookup holds the socket until its completion has run.
      host, port, [this, packet](std::vector<ns::Data> addresses, std::optional<ns::Error> error) {
        packet->resolveInProgress = false;
        packet->resolvedAddresses = std::move(addresses);
        packet->resolveError = std::move(error);
        // A packet dropped by a close is never current again.
        if (currentSend_ == packet) doPreSend();
      });
  queueSendEntry(packet);
}

void DispatchUdpSocket::sendData_toAddress_withTimeout_tag(const ns::Data& data, const ns::Data& remoteAddr,
                                                           double timeout, long tag) {
  if (data.empty()) return;
  auto packet = ns::make<DispatchUdpSendPacket>(data, timeout, tag);
  packet->address = remoteAddr;
  packet->addressFamily = familyFromAddress(remoteAddr);
  queueSendEntry(packet);
}

void DispatchUdpSocket::setSendFilter_withQueue(SendFilterBlock filterBlock,
                                                ns::Ref<dispatch::Queue> filterQueue) {
  setSendFilter_withQueue_isAsynchronous(std::move(filterBlock), std::move(filterQueue), true);
}

void DispatchUdpSocket::setSendFilter_withQueue_isAsynchronous(SendFilterBlock filterBlock,
                                                               ns::Ref<dispatch::Queue> filterQueue,
                                                               bool isAsynchronous) {
  if (!filterBlock) filterQueue = nullptr;
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync(
      [this, filterBlock = std::move(filterBlock), filterQueue = std::move(filterQueue), isAsynchronous] {
        sendFilterBlock_ = filterBlock;
        sendFilterQueue_ = filterQueue;
        sendFilterAsync_ = isAsynchronous;
      });
}

// ---------------------------------------------------------------------------------------------
// Connecting

bool DispatchUdpSocket::preConnect(ns::Error* errPtr) {
  if (!preOp(errPtr)) return false;
  if (flags_ & (kConnecting | kDidConnect)) {
    ns::setError(errPtr, badConfigError("Cannot connect a socket more than once."));
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

bool DispatchUdpSocket::queueConnectRequest(ns::Ref<DispatchUdpSpecialPacket> packet,
                                            const std::optional<std::string>& host, std::uint16_t port,
                                            ns::Error* errPtr) {
  assertOnSocketQueue();
  if (!(flags_ & kDidCreateSockets) && !createSockets(errPtr)) return false;
  if (packet->resolveInProgress) {
    asyncResolveHost_port_withCompletionBlock(
        // The lookup holds the socket until its completion has run.
        host, port, [this, packet](std::vector<ns::Data> addresses, std::optional<ns::Error> error) {
          packet->resolveInProgress = false;
          packet->addresses = std::move(addresses);
          packet->error = std::move(error);
          maybeConnect();
        });
  }
  flags_ |= kConnecting;
  sendQueue_.push_back(packet);
  maybeDequeueSend();
  return true;
}

bool DispatchUdpSocket::connectToHost_onPort_error(const std::optional<std::string>& host, std::uint16_t port,
                                                   ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  runSync([&] {
    if (!preConnect(&error)) return;
    if (!host) {
      error = badParamError("The host param is nil. Should be domain name or IP address string.");
      return;
    }
    auto packet = ns::make<DispatchUdpSpecialPacket>();
    packet->resolveInProgress = true;
    result = queueConnectRequest(packet, host, port, &error);
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}

bool DispatchUdpSocket::connectToAddress_error(const std::optional<ns::Data>& remoteAddr, ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  runSync([&] {
    if (!preConnect(&error)) return;
    if (!remoteAddr) {
      error = badParamError("The address param is nil. Should be a valid address.");
      return;
    }
    auto packet = ns::make<DispatchUdpSpecialPacket>();
    packet->addresses = {*remoteAddr};
    result = queueConnectRequest(packet, std::nullopt, 0, &error);
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}

void DispatchUdpSocket::maybeConnect() {
  assertOnSocketQueue();
  auto* request = dynamic_cast<DispatchUdpSpecialPacket*>(currentSend_.get());
  if (!request || request->resolveInProgress) return;

  // Called only while this function runs.
  auto didNotConnect = [this](const ns::Error& error) {
    notifyDelegate([error](DispatchUdpSocketDelegate& d, const ns::Ref<DispatchUdpSocket>& sock) {
      d.udpSocket_didNotConnect(sock, error);
    });
  };
  if (request->error) {
    didNotConnect(*request->error);
  } else {
    std::optional<ns::Data> address;
    ns::Error error;
    int family = getAddress_error_fromAddresses(&address, &error, request->addresses);
    bool connected = false;
    if (family == AF_INET) {
      connected = connectWithAddress4_error(*address, &error);
    } else if (family == AF_INET6) {
      connected = connectWithAddress6_error(*address, &error);
    }
    if (connected) {
      flags_ |= kDidBind | kDidConnect;
      std::string host;
      std::uint16_t port = 0;
      getHost_port_family_fromAddress(&host, &port, nullptr, *address);
      cachedConnectedAddress_ = address;
      cachedConnectedHost_ = host;
      cachedConnectedPort_ = port;
      cachedConnectedFamily_ = family;
      ns::Data peer = *address;
      notifyDelegate([peer](DispatchUdpSocketDelegate& d, const ns::Ref<DispatchUdpSocket>& sock) {
        d.udpSocket_didConnectToAddress(sock, peer);
      });
    } else {
      didNotConnect(error);
    }
  }
  flags_ &= ~kConnecting;
  endCurrentSend();
  maybeDequeueSend();
}

bool DispatchUdpSocket::connectWithAddress4_error(const ns::Data& address4, ns::Error* errPtr) {
  assertOnSocketQueue();
  if (!(flags_ & kDidBind)) socket_setup::keepEphemeralPortOwn(socket4FD_);
  if (::connect(socket4FD_, reinterpret_cast<const sockaddr*>(address4.bytes()), sizeof(sockaddr_in)) != 0) {
    ns::setError(errPtr, errnoErrorWithReason("Error in connect() function"));
    return false;
  }
  // The other family can no longer reach the peer.
  closeSocket6();
  flags_ |= kIPv6Deactivated;
  return true;
}

bool DispatchUdpSocket::connectWithAddress6_error(const ns::Data& address6, ns::Error* errPtr) {
  assertOnSocketQueue();
  if (!(flags_ & kDidBind)) socket_setup::keepEphemeralPortOwn(socket6FD_);
  if (::connect(socket6FD_, reinterpret_cast<const sockaddr*>(address6.bytes()), sizeof(sockaddr_in6)) != 0) {
    ns::setError(errPtr, errnoErrorWithReason("Error in connect() function"));
    return false;
  }
  closeSocket4();
  flags_ |= kIPv4Deactivated;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The queue

void DispatchUdpSocket::maybeDequeueSend() {
  assertOnSocketQueue();
  if (currentSend_) return;
  if (!(flags_ & kDidCreateSockets)) {
    ns::Error error;
    if (!createSockets(&error)) {
      closeWithError(error);
      return;
    }
  }
  while (!sendQueue_.empty()) {
    currentSend_ = sendQueue_.front();
    sendQueue_.pop_front();
    if (dynamic_cast<DispatchUdpSpecialPacket*>(currentSend_.get())) {
      maybeConnect();
      return;
    }
    auto* packet = currentSendPacket();
    if (packet->resolveError) {
      notifyDidNotSend(packet->tag, *packet->resolveError);
      currentSend_ = nullptr;
      continue;
    }
    doPreSend();
    return;
  }
  if (!currentSend_ && (flags_ & kCloseAfterSends)) closeWithError(std::nullopt);
}

void DispatchUdpSocket::doPreSend() {
  assertOnSocketQueue();
  auto packetRef = std::static_pointer_cast<DispatchUdpSendPacket>(currentSend_);
  DispatchUdpSendPacket& packet = *packetRef;
  std::optional<ns::Error> error;
  bool waitingForResolve = false;

  if (flags_ & kDidConnect) {
    if (packet.resolveInProgress || packet.resolvedAddresses || packet.resolveError) {
      error = badConfigError("Cannot specify destination of packet for connected socket");
    } else {
      packet.address = cachedConnectedAddress_;
      packet.addressFamily = cachedConnectedFamily_;
    }
  } else if (packet.resolveInProgress) {
    waitingForResolve = true;
  } else if (packet.resolveError) {
    error = packet.resolveError;
  } else if (packet.address) {
    // An explicit destination.
  } else if (packet.resolvedAddresses) {
    ns::Error choiceError;
    packet.addressFamily =
        getAddress_error_fromAddresses(&packet.address, &choiceError, *packet.resolvedAddresses);
    if (packet.addressFamily == 0) error = choiceError;
  } else {
    error = badConfigError("You must specify destination of packet for a non-connected socket");
  }

  if (waitingForResolve) {
    // The lookup's completion runs this step again; until then nothing is to be sent.
    if (flags_ & kSock4CanAcceptBytes) suspendSend4Source();
    if (flags_ & kSock6CanAcceptBytes) suspendSend6Source();
    return;
  }
  if (error) {
    notifyDidNotSend(packet.tag, *error);
    endCurrentSend();
    maybeDequeueSend();
    return;
  }

  if (!sendFilterBlock_ || !sendFilterQueue_) {
    doSend();
    return;
  }
  const ns::Data address = packet.address.value_or(ns::Data());
  if (!sendFilterAsync_) {
    bool allowed = false;
    auto filter = sendFilterBlock_;
    dispatch::sync(sendFilterQueue_, [&] { allowed = filter(packet.buffer, address, packet.tag); });
    if (allowed) {
      doSend();
    } else {
      finishCurrentSend();
    }
    return;
  }
  packet.filterInProgress = true;
  auto me = self<DispatchUdpSocket>();
  auto filter = sendFilterBlock_;
  const int aStateIndex = stateIndex_;
  dispatch::async(sendFilterQueue_, [me, filter, packetRef, address, aStateIndex] {
    bool allowed = filter(packetRef->buffer, address, packetRef->tag);
    dispatch::async(me->socketQueue_, [me, packetRef, allowed, aStateIndex] {
      packetRef->filterInProgress = false;
      if (aStateIndex != me->stateIndex_ || me->currentSend_ != packetRef) return;
      if (allowed) {
        me->doSend();
      } else {
        me->finishCurrentSend();
      }
    });
  });
}

// The current datagram left (or the filter dropped it): reported as sent, next one.
void DispatchUdpSocket::finishCurrentSend() {
  assertOnSocketQueue();
  long tag = currentSendPacket()->tag;
  notifyDelegate([tag](DispatchUdpSocketDelegate& d, const ns::Ref<DispatchUdpSocket>& sock) {
    d.udpSocket_didSendDataWithTag(sock, tag);
  });
  endCurrentSend();
  maybeDequeueSend();
}

void DispatchUdpSocket::doSend() {
  assertOnSocketQueue();
  auto* packet = currentSendPacket();
  const bool ipv4 = packet->addressFamily == AF_INET;
  const int fd = ipv4 ? socket4FD_ : socket6FD_;
  ssize_t result;
  // The first send binds the socket implicitly, to a port the kernel picks.
  if (!(flags_ & kDidBind)) socket_setup::keepEphemeralPortOwn(fd);
  if (flags_ & kDidConnect) {
    result = ::send(fd, packet->buffer.bytes(), packet->buffer.length(), MSG_NOSIGNAL);
  } else {
    const ns::Data address = packet->address.value_or(ns::Data());
    result = ::sendto(fd, packet->buffer.bytes(), packet->buffer.length(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(address.bytes()),
                      static_cast<socklen_t>(address.length()));
  }
  flags_ |= kDidBind;

  if (result > 0) {
    finishCurrentSend();
    return;
  }
  const int err = result < 0 ? errno : 0;
  if (result == 0 || wouldBlock(err)) {
    // The socket cannot take the datagram now: wait for it to become writable.
    flags_ &= ~(ipv4 ? kSock4CanAcceptBytes : kSock6CanAcceptBytes);
    if (!(flags_ & kSock4CanAcceptBytes)) resumeSend4Source();
    if (!(flags_ & kSock6CanAcceptBytes)) resumeSend6Source();
    if (!sources_->sendTimer && packet->timeout >= 0) setupSendTimerWithTimeout(packet->timeout);
    return;
  }
  if (err == EMSGSIZE) {
    // Too large for the system: only this datagram fails; the socket and the queue go on.
    notifyDidNotSend(packet->tag, errnoErrorWithReason("Error in send() function."));
    endCurrentSend();
    maybeDequeueSend();
    return;
  }
  closeWithError(errnoErrorWithReason("Error in send() function."));
}

void DispatchUdpSocket::endCurrentSend() {
  assertOnSocketQueue();
  if (sources_->sendTimer) {
    sources_->sendTimer->cancel();
    sources_->sendTimer = nullptr;
  }
  currentSend_ = nullptr;
}

void DispatchUdpSocket::setupSendTimerWithTimeout(double timeout) {
  assertOnSocketQueue();
  auto timer = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, socketQueue_);
  ns::Weak<DispatchUdpSocket> weakSelf = self<DispatchUdpSocket>();
  timer->setEventHandler([weakSelf] {
    if (auto strongSelf = weakSelf.lock()) strongSelf->doSendTimeout();
  });
  timer->setTimer(dispatch::time(timeout), dispatch::TimeForever, 0);
  sources_->sendTimer = timer;
  timer->resume();
}

void DispatchUdpSocket::doSendTimeout() {
  assertOnSocketQueue();
  auto* packet = currentSendPacket();
  if (!packet) return;
  notifyDidNotSend(packet->tag, sendTimeoutError());
  endCurrentSend();
  maybeDequeueSend();
}

void DispatchUdpSocket::closeAfterSending() {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this] {
    flags_ |= kCloseAfterSends;
    if (!currentSend_ && sendQueue_.empty()) closeWithError(std::nullopt);
  });
}
