// The send and receive queues of RunLoopUdpSocket. One send and one receive are served at a
// time; a request that cannot proceed enables the socket's call-backs and waits for the next
// event, so nothing polls and nothing blocks the run loop.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

#include "lib/sockets/RunLoopUdpSocket.h"
#include "lib/sockets/RunLoopUdpSocketInternal.h"
#include "platform/core/Log.h"
#include "platform/net/Socket.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

using namespace rludp;

namespace {

constexpr unsigned kReadWrite = cf::Socket::ReadCallBack | cf::Socket::WriteCallBack;

// A zero-time-out readiness question.
bool pollNow(int fd, short events) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (events | POLLERR));
}

}  // namespace

// ---- queueing ----

bool RunLoopUdpSocket::sendData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  checkThread();
  if (data.empty() || (flags_ & (kFlagForbidRequests | kFlagClosed))) return false;
  if (!(flags_ & kFlagConnected)) return false;
  sendQueue_.push_back(ns::make<RunLoopSendPacket>(data, ns::Data(), timeout, tag));
  scheduleDequeueSend();
  return true;
}

bool RunLoopUdpSocket::sendData_toHost_port_withTimeout_tag(const ns::Data& data,
                                                            const std::optional<std::string>& host,
                                                            std::uint16_t port, double timeout, long tag) {
  checkThread();
  if (data.empty() || (flags_ & (kFlagForbidRequests | kFlagClosed))) return false;
  if (flags_ & kFlagConnected) return false;
  ns::Data address4, address6;
  convertForSendHost_port_intoAddress4_address6(host, port, &address4, &address6);
  ns::Data address;
  if (!address4.empty() && socket4_)
    address = address4;
  else if (!address6.empty() && socket6_)
    address = address6;
  else
    return false;
  sendQueue_.push_back(ns::make<RunLoopSendPacket>(data, address, timeout, tag));
  scheduleDequeueSend();
  return true;
}

bool RunLoopUdpSocket::sendData_toAddress_withTimeout_tag(const ns::Data& data, const ns::Data& remoteAddr,
                                                          double timeout, long tag) {
  checkThread();
  if (data.empty() || (flags_ & (kFlagForbidRequests | kFlagClosed))) return false;
  if (flags_ & kFlagConnected) return false;
  if (remoteAddr.length() == sizeof(sockaddr_in) && !socket4_) return false;
  if (remoteAddr.length() == sizeof(sockaddr_in6) && !socket6_) return false;
  sendQueue_.push_back(ns::make<RunLoopSendPacket>(data, remoteAddr, timeout, tag));
  scheduleDequeueSend();
  return true;
}

void RunLoopUdpSocket::receiveWithTimeout_tag(double timeout, long tag) {
  checkThread();
  if (flags_ & (kFlagForbidRequests | kFlagClosed)) return;
  receiveQueue_.push_back(ns::make<RunLoopReceivePacket>(timeout, tag));
  scheduleDequeueReceive();
}

// ---- sending ----

void RunLoopUdpSocket::scheduleDequeueSend() {
  if (flags_ & kFlagDequeueSendScheduled) return;
  if (!runLoop_) return;
  flags_ |= kFlagDequeueSendScheduled;
  queuePerform("maybeDequeueSend", &RunLoopUdpSocket::maybeDequeueSend);
}

void RunLoopUdpSocket::maybeDequeueSend() {
  flags_ &= ~kFlagDequeueSendScheduled;
  if (currentSend_) return;
  if (!sendQueue_.empty()) {
    currentSend_ = sendQueue_.front();
    sendQueue_.pop_front();
    if (currentSend_->timeout >= 0) {
      sendTimer_ = makeTimer(ns::Clock::now() + currentSend_->timeout, true);
      runLoopAddTimer(sendTimer_);
    }
    doSend(socketForPacket(*currentSend_));
  } else if ((flags_ & kFlagCloseAfterSends) &&
             (!(flags_ & kFlagCloseAfterReceives) || (!currentReceive_ && receiveQueue_.empty()))) {
    close();
  }
}

cf::Socket* RunLoopUdpSocket::socketForPacket(const RunLoopSendPacket& packet) const {
  if (!socket4_) return socket6_.get();
  if (!socket6_) return socket4_.get();
  return packet.address.length() == sizeof(sockaddr_in) ? socket4_.get() : socket6_.get();
}

bool RunLoopUdpSocket::canAcceptBytes(cf::Socket* sock) {
  const bool is4 = sock == socket4_.get();
  if (flags_ & (is4 ? kFlagSocket4CanAccept : kFlagSocket6CanAccept)) return true;
  int fd = sock->getNative();
  if (fd < 0) {
    ns::Log("Error - Could not get CFSocketNativeHandle from CFSocketRef");
    return false;
  }
  return pollNow(fd, POLLOUT);
}

void RunLoopUdpSocket::doSend(cf::Socket* sock) {
  if (!currentSend_ || !sock || sock != socketForPacket(*currentSend_)) return;
  if (!canAcceptBytes(sock)) {
    sock->enableCallBacks(kReadWrite);
    return;
  }
  const auto& packet = *currentSend_;
  ssize_t result;
  if (flags_ & kFlagConnected) {
    result = ::send(sock->getNative(), packet.buffer.bytes(), packet.buffer.length(), MSG_NOSIGNAL);
  } else {
    result = ::sendto(sock->getNative(), packet.buffer.bytes(), packet.buffer.length(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(packet.address.bytes()),
                      static_cast<socklen_t>(packet.address.length()));
  }
  int sendErrno = errno;
  flags_ &= ~(sock == socket4_.get() ? kFlagSocket4CanAccept : kFlagSocket6CanAccept);
  if (result < 0 && (sendErrno == EAGAIN || sendErrno == EWOULDBLOCK)) {
    // The buffer filled between the readiness question and the send: wait for room.
    sock->enableCallBacks(kReadWrite);
    return;
  }
  if (result < 0) {
    failCurrentSend(ns::Error::posix(sendErrno));
  } else {
    flags_ |= kFlagBound;  // a socket that sent has a local address
    completeCurrentSend();
  }
  scheduleDequeueSend();
}

void RunLoopUdpSocket::completeCurrentSend() {
  auto packet = currentSend_;
  if (auto delegate = delegate_)
    delegate->onUdpSocket_didSendDataWithTag(self<RunLoopUdpSocket>(), packet->tag);
  if (currentSend_ == packet) endCurrentSend();
}

void RunLoopUdpSocket::failCurrentSend(const ns::Error& error) {
  auto packet = currentSend_;
  if (auto delegate = delegate_)
    delegate->onUdpSocket_didNotSendDataWithTag_dueToError(self<RunLoopUdpSocket>(), packet->tag, error);
  if (currentSend_ == packet) endCurrentSend();
}

void RunLoopUdpSocket::endCurrentSend() {
  if (sendTimer_) {
    sendTimer_->invalidate();
    sendTimer_ = nullptr;
  }
  currentSend_ = nullptr;
}

void RunLoopUdpSocket::doSendTimeout(const ns::Ref<ns::Timer>& timer) {
  if (timer != sendTimer_ || !currentSend_) return;
  failCurrentSend(udpError(RunLoopUdpSocketSendTimeoutError));
  scheduleDequeueSend();
}

// ---- receiving ----

void RunLoopUdpSocket::scheduleDequeueReceive() {
  if (flags_ & kFlagDequeueReceiveScheduled) return;
  if (!runLoop_) return;
  flags_ |= kFlagDequeueReceiveScheduled;
  queuePerform("maybeDequeueReceive", &RunLoopUdpSocket::maybeDequeueReceive);
}

void RunLoopUdpSocket::maybeDequeueReceive() {
  flags_ &= ~kFlagDequeueReceiveScheduled;
  if (currentReceive_) return;
  if (!receiveQueue_.empty()) {
    currentReceive_ = receiveQueue_.front();
    receiveQueue_.pop_front();
    if (currentReceive_->timeout >= 0) {
      receiveTimer_ = makeTimer(ns::Clock::now() + currentReceive_->timeout, false);
      runLoopAddTimer(receiveTimer_);
    }
    // Both families at once, the one looked at first alternating, so neither starves.
    if (flags_ & kFlagReceiveIPv4First) {
      doReceive4();
      doReceive6();
    } else {
      doReceive6();
      doReceive4();
    }
    flags_ ^= kFlagReceiveIPv4First;
  } else if ((flags_ & kFlagCloseAfterReceives) &&
             (!(flags_ & kFlagCloseAfterSends) || (!currentSend_ && sendQueue_.empty()))) {
    close();
  }
}

bool RunLoopUdpSocket::hasBytesAvailable(cf::Socket* sock) {
  const bool is4 = sock == socket4_.get();
  if (flags_ & (is4 ? kFlagSocket4HasBytes : kFlagSocket6HasBytes)) return true;
  int fd = sock->getNative();
  if (fd < 0) {
    ns::Log("Error - Could not get CFSocketNativeHandle from CFSocketRef");
    return false;
  }
  return pollNow(fd, POLLIN);
}

void RunLoopUdpSocket::doReceive4() {
  if (socket4_) doReceive(socket4_.get());
}

void RunLoopUdpSocket::doReceive6() {
  if (socket6_) doReceive(socket6_.get());
}

void RunLoopUdpSocket::doReceive(cf::Socket* raw) {
  // The delegate may close or narrow the socket while it hears of a datagram: keep this
  // family's socket alive and stop once it is no longer ours.
  SocketRef sock = raw == socket4_.get() ? socket4_ : raw == socket6_.get() ? socket6_ : nullptr;
  if (!sock) return;
  const bool is4 = sock == socket4_;
  for (;;) {
    if (!currentReceive_ || (sock != socket4_ && sock != socket6_)) return;
    if (!hasBytesAvailable(sock.get())) {
      sock->enableCallBacks(kReadWrite);
      return;
    }
    std::vector<std::uint8_t> bytes(maxReceiveBufferSize_);
    sockaddr_in6 from{};
    socklen_t fromLength = is4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    // A longer datagram is cut to the buffer's size (the rest is discarded by the system).
    ssize_t result = ::recvfrom(sock->getNative(), bytes.data(), bytes.size(), MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&from), &fromLength);
    int receiveErrno = errno;
    bool dropped = false;
    if (result >= 0) {
      std::string host = addressHost(reinterpret_cast<const sockaddr*>(&from));
      auto* sa = reinterpret_cast<const sockaddr*>(&from);
      std::uint16_t port = sa->sa_family == AF_INET
                               ? ntohs(reinterpret_cast<const sockaddr_in*>(&from)->sin_port)
                               : ntohs(from.sin6_port);
      if ((flags_ & kFlagConnected) && !isConnectedToHost_port(host, port)) {
        dropped = true;  // not from the connected peer
      } else {
        bytes.resize(static_cast<std::size_t>(result));
        bytes.shrink_to_fit();
        currentReceive_->buffer = ns::Data(std::move(bytes));
        currentReceive_->host = host;
        currentReceive_->port = port;
      }
    }
    flags_ &= ~(is4 ? kFlagSocket4HasBytes : kFlagSocket6HasBytes);
    if (result < 0 && (receiveErrno == EAGAIN || receiveErrno == EWOULDBLOCK)) {
      // Readable, but the datagram went away (a bad checksum): wait for the next one.
      sock->enableCallBacks(kReadWrite);
      return;
    }
    if (result < 0) {
      failCurrentReceive(ns::Error::posix(receiveErrno));
      scheduleDequeueReceive();
      return;
    }
    if (dropped) continue;
    if (maybeCompleteCurrentReceive()) return;
  }
}

bool RunLoopUdpSocket::maybeCompleteCurrentReceive() {
  auto packet = currentReceive_;
  bool accepted = true;
  if (auto delegate = delegate_)
    accepted = delegate->onUdpSocket_didReceiveData_withTag_fromHost_port(
        self<RunLoopUdpSocket>(), packet->buffer, packet->tag, packet->host.value_or(""), packet->port);
  if (!accepted) {
    // Turned down: the receive stays open for the next datagram, unless the delegate closed us.
    if (currentReceive_ == packet) {
      packet->buffer = ns::Data();
      packet->host.reset();
    }
    return false;
  }
  if (currentReceive_ == packet) endCurrentReceive();
  scheduleDequeueReceive();
  return true;
}

void RunLoopUdpSocket::failCurrentReceive(const ns::Error& error) {
  auto packet = currentReceive_;
  if (auto delegate = delegate_)
    delegate->onUdpSocket_didNotReceiveDataWithTag_dueToError(self<RunLoopUdpSocket>(), packet->tag, error);
  if (currentReceive_ == packet) endCurrentReceive();
}

void RunLoopUdpSocket::endCurrentReceive() {
  if (receiveTimer_) {
    receiveTimer_->invalidate();
    receiveTimer_ = nullptr;
  }
  currentReceive_ = nullptr;
}

void RunLoopUdpSocket::doReceiveTimeout(const ns::Ref<ns::Timer>& timer) {
  if (timer != receiveTimer_ || !currentReceive_) return;
  failCurrentReceive(udpError(RunLoopUdpSocketReceiveTimeoutError));
  scheduleDequeueReceive();
}
