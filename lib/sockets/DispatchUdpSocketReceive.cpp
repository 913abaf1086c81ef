// DispatchUdpSocket: receiving (once or continuously, through an optional filter, alternating
// between the two sockets), multicast membership and broadcast.
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "lib/sockets/DispatchUdpSocketInternal.h"

using namespace udp_socket_internal;

// ---------------------------------------------------------------------------------------------
// Switching receiving on and off

bool DispatchUdpSocket::startReceiving(std::uint32_t mode, ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  runSync([&] {
    if (flags_ & mode) {
      result = true;
      return;
    }
    if (!(flags_ & kDidCreateSockets)) {
      error = badConfigError(
          "Must bind socket before you can receive data. You can do this explicitly via bind, or implicitly "
          "via "
          "connect or by sending data.");
      return;
    }
    flags_ &= ~(kReceiveOnce | kReceiveContinuous);
    flags_ |= mode;
    // runAsync holds the socket until the block has run.
    runAsync([this] { doReceive(); });
    result = true;
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}

bool DispatchUdpSocket::receiveOnce(ns::Error* errPtr) {
  return startReceiving(kReceiveOnce, errPtr);
}

bool DispatchUdpSocket::beginReceiving(ns::Error* errPtr) {
  return startReceiving(kReceiveContinuous, errPtr);
}

void DispatchUdpSocket::pauseReceiving() {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this] {
    flags_ &= ~(kReceiveOnce | kReceiveContinuous);
    // A source with nothing reported stays resumed; its next event finds no mode and suspends it.
    if (socket4FDBytesAvailable_ > 0) suspendReceive4Source();
    if (socket6FDBytesAvailable_ > 0) suspendReceive6Source();
  });
}

void DispatchUdpSocket::setReceiveFilter_withQueue(ReceiveFilterBlock filterBlock,
                                                   ns::Ref<dispatch::Queue> filterQueue) {
  setReceiveFilter_withQueue_isAsynchronous(std::move(filterBlock), std::move(filterQueue), true);
}

void DispatchUdpSocket::setReceiveFilter_withQueue_isAsynchronous(ReceiveFilterBlock filterBlock,
                                                                  ns::Ref<dispatch::Queue> filterQueue,
                                                                  bool isAsynchronous) {
  if (!filterBlock) filterQueue = nullptr;
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync(
      [this, filterBlock = std::move(filterBlock), filterQueue = std::move(filterQueue), isAsynchronous] {
        receiveFilterBlock_ = filterBlock;
        receiveFilterQueue_ = filterQueue;
        receiveFilterAsync_ = isAsynchronous;
      });
}

void DispatchUdpSocket::applicationWillEnterForeground(const ns::Ref<ns::Notification>&) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this] {
    resumeReceive4Source();
    resumeReceive6Source();
  });
}

// ---------------------------------------------------------------------------------------------
// The receive step

void DispatchUdpSocket::doReceive() {
  assertOnSocketQueue();
  // One datagram per turn; a loop rather than recursion keeps the depth bounded when many wait.
  while (true) {
    const bool once = (flags_ & kReceiveOnce) != 0;
    if (!(flags_ & (kReceiveOnce | kReceiveContinuous)) || (once && pendingFilterOperations_ > 0)) {
      if (socket4FDBytesAvailable_ > 0) suspendReceive4Source();
      if (socket6FDBytesAvailable_ > 0) suspendReceive6Source();
      return;
    }
    if (socket4FDBytesAvailable_ == 0 && socket6FDBytesAvailable_ == 0) {
      // The next read event records a count and runs this step again.
      resumeReceive4Source();
      resumeReceive6Source();
      return;
    }

    bool doReceive4;
    if (flags_ & kDidConnect) {
      doReceive4 = socket4FD_ != -1;
    } else if (socket4FDBytesAvailable_ > 0 && socket6FDBytesAvailable_ > 0) {
      doReceive4 = (flags_ & kFlipFlop) != 0;
      flags_ ^= kFlipFlop;
    } else {
      doReceive4 = socket4FDBytesAvailable_ > 0;
    }

    const int fd = doReceive4 ? socket4FD_ : socket6FD_;
    std::uint64_t& available = doReceive4 ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_;
    const std::uint64_t maxSize = doReceive4 ? max4ReceiveSize_ : max6ReceiveSize_;
    // The datagram is read straight into the memory the delivered data then owns.
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(maxSize, available)));
    sockaddr_storage sender{};
    socklen_t senderLength = doReceive4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    ssize_t result = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&sender), &senderLength);
    const int err = result < 0 ? errno : 0;
    // One read takes one whole datagram, also when it was cut to the buffer: the count reported
    // for it is spent, and a leftover would cut the next datagram short.
    available = 0;

    if (result == 0 || (result < 0 && wouldBlock(err))) {
      // Nothing (an empty datagram was consumed): wait for the next read event.
      if (socket4FDBytesAvailable_ == 0) resumeReceive4Source();
      if (socket6FDBytesAvailable_ == 0) resumeReceive6Source();
      return;
    }
    if (result < 0) {
      errno = err;
      closeWithError(errnoErrorWithReason("Error in recvfrom() function"));
      return;
    }
    buffer.resize(static_cast<std::size_t>(result));
    const ns::Data data(std::move(buffer));
    const ns::Data address(&sender, std::min<std::size_t>(senderLength, sizeof sender));

    bool ignored = false;
    bool handedToAsyncFilter = false;
    if (flags_ & kDidConnect) {
      ignored = doReceive4 ? !isConnectedToAddress4(address) : !isConnectedToAddress6(address);
    }
    if (!ignored) {
      if (!receiveFilterBlock_ || !receiveFilterQueue_) {
        deliverData_fromAddress_context(data, address, ns::Value());
      } else if (!receiveFilterAsync_) {
        ns::Value context;
        bool allowed = false;
        auto filter = receiveFilterBlock_;
        dispatch::sync(receiveFilterQueue_, [&] { allowed = filter(data, address, &context); });
        if (allowed) {
          deliverData_fromAddress_context(data, address, context);
        } else {
          ignored = true;
        }
      } else {
        ++pendingFilterOperations_;
        handedToAsyncFilter = true;
        auto me = self<DispatchUdpSocket>();
        auto filter = receiveFilterBlock_;
        const int aStateIndex = stateIndex_;
        dispatch::async(receiveFilterQueue_, [me, filter, data, address, aStateIndex] {
          ns::Value context;
          bool allowed = filter(data, address, &context);
          dispatch::async(me->socketQueue_, [me, aStateIndex, allowed, data, address, context] {
            me->asyncFilterAnswered(aStateIndex, allowed, data, address, context);
          });
        });
      }
    }

    if (flags_ & kReceiveContinuous) continue;
    if (flags_ & kReceiveOnce) {
      if (handedToAsyncFilter) return;
      if (ignored) continue;
      flags_ &= ~kReceiveOnce;
    }
    return;
  }
}

void DispatchUdpSocket::asyncFilterAnswered(int aStateIndex, bool allowed, const ns::Data& data,
                                            const ns::Data& address, const ns::Value& context) {
  assertOnSocketQueue();
  // An answer for what a close has ended.
  if (aStateIndex != stateIndex_) return;
  --pendingFilterOperations_;
  if (allowed) deliverData_fromAddress_context(data, address, context);
  if (flags_ & kReceiveOnce) {
    if (allowed) {
      flags_ &= ~kReceiveOnce;
    } else if (pendingFilterOperations_ == 0) {
      doReceive();
    }
  }
}

void DispatchUdpSocket::doReceiveEmpty(bool ipv4) {
  assertOnSocketQueue();
  // The read event reported no bytes: an empty datagram waits (UDP has no end of stream, and
  // anyone may send one). It is taken off the socket and nothing is delivered; the socket stays
  // open. An error the system reports instead closes the socket as any receive error does.
  const int fd = ipv4 ? socket4FD_ : socket6FD_;
  std::uint8_t scratch;
  sockaddr_storage sender{};
  socklen_t senderLength = sizeof sender;
  ssize_t result =
      ::recvfrom(fd, &scratch, 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender), &senderLength);
  (ipv4 ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_) = 0;
  if (result < 0 && !wouldBlock(errno)) {
    closeWithError(errnoErrorWithReason("Error in recvfrom() function"));
    return;
  }
  // The source stays resumed: its next event brings the next datagram.
  if (ipv4) {
    resumeReceive4Source();
  } else {
    resumeReceive6Source();
  }
}

void DispatchUdpSocket::deliverData_fromAddress_context(const ns::Data& data, const ns::Data& address,
                                                        const ns::Value& context) {
  notifyDelegate(
      [data, address, context](DispatchUdpSocketDelegate& d, const ns::Ref<DispatchUdpSocket>& sock) {
        d.udpSocket_didReceiveData_fromAddress_withFilterContext(sock, data, address, context);
      });
}

// ---------------------------------------------------------------------------------------------
// Multicast and broadcast

bool DispatchUdpSocket::preJoin(ns::Error* errPtr) {
  if (!preOp(errPtr)) return false;
  if (!(flags_ & kDidBind)) {
    ns::setError(errPtr, badConfigError("Must bind a socket before joining a multicast group."));
    return false;
  }
  if (flags_ & (kConnecting | kDidConnect)) {
    ns::setError(errPtr, badConfigError("Cannot join a multicast group if connected."));
    return false;
  }
  return true;
}

bool DispatchUdpSocket::joinMulticastGroup_error(const std::string& group, ns::Error* errPtr) {
  return joinMulticastGroup_onInterface_error(group, std::nullopt, errPtr);
}

bool DispatchUdpSocket::joinMulticastGroup_onInterface_error(const std::string& group,
                                                             const std::optional<std::string>& interface,
                                                             ns::Error* errPtr) {
  return performMulticastRequest_forGroup_onInterface_error(MulticastRequest::Join, group, interface, errPtr);
}

bool DispatchUdpSocket::leaveMulticastGroup_error(const std::string& group, ns::Error* errPtr) {
  return leaveMulticastGroup_onInterface_error(group, std::nullopt, errPtr);
}

bool DispatchUdpSocket::leaveMulticastGroup_onInterface_error(const std::string& group,
                                                              const std::optional<std::string>& interface,
                                                              ns::Error* errPtr) {
  return performMulticastRequest_forGroup_onInterface_error(MulticastRequest::Leave, group, interface,
                                                            errPtr);
}

bool DispatchUdpSocket::performMulticastRequest_forGroup_onInterface_error(
    MulticastRequest request, const std::string& group, const std::optional<std::string>& interface,
    ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  runSync([&] {
    if (!preJoin(&error)) return;
    std::optional<ns::Data> groupAddr4;
    std::optional<ns::Data> groupAddr6;
    convertNumericHost_port_intoAddress4_address6(group, 0, &groupAddr4, &groupAddr6);
    if (!groupAddr4 && !groupAddr6) {
      error = badParamError("Unknown group. Specify valid group IP address.");
      return;
    }
    std::optional<ns::Data> interfaceAddr4;
    std::optional<ns::Data> interfaceAddr6;
    convertIntefaceDescription_port_intoAddress4_address6(interface, 0, &interfaceAddr4, &interfaceAddr6);
    if (!interfaceAddr4 && !interfaceAddr6) {
      error =
          badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }

    if (socket4FD_ != -1 && groupAddr4 && interfaceAddr4) {
      sockaddr_in nativeGroup;
      sockaddr_in nativeIface;
      std::memcpy(&nativeGroup, groupAddr4->bytes(), sizeof nativeGroup);
      std::memcpy(&nativeIface, interfaceAddr4->bytes(), sizeof nativeIface);
      ip_mreq imreq{};
      imreq.imr_multiaddr = nativeGroup.sin_addr;
      imreq.imr_interface = nativeIface.sin_addr;
      const int option = request == MulticastRequest::Join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
      if (::setsockopt(socket4FD_, IPPROTO_IP, option, &imreq, sizeof imreq) != 0) {
        error = errnoErrorWithReason("Error in setsockopt() function");
        return;
      }
      closeSocket6();
      result = true;
      return;
    }
    if (socket6FD_ != -1 && groupAddr6 && interfaceAddr6) {
      sockaddr_in6 nativeGroup;
      std::memcpy(&nativeGroup, groupAddr6->bytes(), sizeof nativeGroup);
      ipv6_mreq imreq{};
      imreq.ipv6mr_multiaddr = nativeGroup.sin6_addr;
      imreq.ipv6mr_interface = indexOfInterfaceAddr6(*interfaceAddr6);
      const int option = request == MulticastRequest::Join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP;
      if (::setsockopt(socket6FD_, IPPROTO_IPV6, option, &imreq, sizeof imreq) != 0) {
        error = errnoErrorWithReason("Error in setsockopt() function");
        return;
      }
      closeSocket4();
      result = true;
      return;
    }
    error = badParamError("Socket, group, and interface do not have matching IP versions");
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}

bool DispatchUdpSocket::enableBroadcast_error(bool flag, ns::Error* errPtr) {
  ns::Error error;
  bool result = false;
  runSync([&] {
    if (!preOp(&error)) return;
    if (!(flags_ & kDidCreateSockets) && !createSockets(&error)) return;
    if (socket4FD_ != -1) {
      int value = flag ? 1 : 0;
      if (::setsockopt(socket4FD_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
        error = errnoErrorWithReason("Error in setsockopt() function");
        return;
      }
      result = true;
    }
    // IPv6 has no broadcast: NO, without an error.
  });
  ns::setError(errPtr, result ? ns::Error() : error);
  return result;
}
