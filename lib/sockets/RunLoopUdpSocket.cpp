#include "lib/sockets/RunLoopUdpSocket.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/sockets/RunLoopUdpSocketInternal.h"
#include "lib/sockets/SocketInterfaces.h"
#include "lib/sockets/SocketResolver.h"
#include "lib/sockets/SocketSetup.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/net/Socket.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

using namespace rludp;

namespace rludp {

ns::Error socketError() {
  return ns::Error::withDescription(RunLoopUdpSocketErrorDomain, RunLoopUdpSocketCFSocketError,
                                    "General CFSocket error");
}

ns::Error udpError(long code) {
  switch (code) {
    case RunLoopUdpSocketIPv4Unavailable:
      return ns::Error::withDescription(RunLoopUdpSocketErrorDomain, code,
                                        "IPv4 is unavailable due to binding/connecting using IPv6 only");
    case RunLoopUdpSocketIPv6Unavailable:
      return ns::Error::withDescription(RunLoopUdpSocketErrorDomain, code,
                                        "IPv6 is unavailable due to binding/connecting using IPv4 only or is "
                                        "not supported on this platform");
    case RunLoopUdpSocketSendTimeoutError:
      return ns::Error::withDescription(RunLoopUdpSocketErrorDomain, code, "Send operation timed out");
    case RunLoopUdpSocketReceiveTimeoutError:
      return ns::Error::withDescription(RunLoopUdpSocketErrorDomain, code, "Receive operation timed out");
    default:
      return socketError();
  }
}

ns::Error netdbError(int code, const std::string& prefix) {
  std::string text = ::gai_strerror(code);
  return ns::Error::withDescription(kRunLoopUdpSocketNetDBErrorDomain, code,
                                    prefix.empty() ? text : prefix + text);
}

ns::Error optionError(int result, const std::string& text, int errnoValue) {
  // The code is the option call's own result; the errno behind it rides along as the
  // underlying error so that callers can tell, say, a missing device.
  return ns::Error::withDescription(kRunLoopUdpSocketPOSIXErrorDomain, result, text)
      .withUnderlyingError(ns::Error::posix(errnoValue));
}

}  // namespace rludp

// The context every call-back and perform of one socket shares. It holds only a plain pointer
// back: the socket owns it, and it dies with the socket.
class RunLoopUdpSocket::Anchor : public ns::Object {
 public:
  explicit Anchor(RunLoopUdpSocket* owner) : owner(owner) {}
  RunLoopUdpSocket* owner;
};

RunLoopUdpSocket::RunLoopUdpSocket() : RunLoopUdpSocket(nullptr, 0, true, true) {}

RunLoopUdpSocket::RunLoopUdpSocket(ns::Ref<RunLoopUdpSocketDelegate> delegate)
    : RunLoopUdpSocket(std::move(delegate), 0, true, true) {}

RunLoopUdpSocket::RunLoopUdpSocket(ns::Ref<RunLoopUdpSocketDelegate> delegate, long userData)
    : RunLoopUdpSocket(std::move(delegate), userData, true, true) {}

RunLoopUdpSocket::RunLoopUdpSocket(ns::Ref<RunLoopUdpSocketDelegate> delegate, long userData, bool enableIPv4,
                                   bool enableIPv6)
    : anchor_(ns::make<Anchor>(this)),
      runLoop_(ns::RunLoop::currentRunLoop()),
      runLoopModes_{ns::DefaultRunLoopMode},
      delegate_(std::move(delegate)),
      userData_(userData),
      closeNoticeTarget_(ns::make<ns::Object>()) {
  if (enableIPv4) createSocket(AF_INET);
  if (enableIPv6) createSocket(AF_INET6);
}

ns::Ref<RunLoopUdpSocket> RunLoopUdpSocket::initIPv4() {
  return ns::make<RunLoopUdpSocket>(nullptr, 0, true, false);
}

ns::Ref<RunLoopUdpSocket> RunLoopUdpSocket::initIPv6() {
  return ns::make<RunLoopUdpSocket>(nullptr, 0, false, true);
}

RunLoopUdpSocket::~RunLoopUdpSocket() {
  auto loop = runLoop_;
  closeInternal(false);
  if (loop) loop->cancelPerformSelectorsWithTarget(anchor_.get());
  // A close notice still waiting would name a socket that no longer exists.
  for (auto& weak : closeNoticeLoops_)
    if (auto noticeLoop = weak.lock()) noticeLoop->cancelPerformSelectorsWithTarget(closeNoticeTarget_.get());
}

void RunLoopUdpSocket::createSocket(int family) {
  auto callout = [](const ns::Ref<cf::Socket>& s, const cf::Socket::Event& event,
                    const ns::Ref<ns::Object>& info) {
    auto* anchor = static_cast<Anchor*>(info.get());
    if (!anchor) return;
    // Keep the socket alive through the event even if the delegate lets go of it.
    auto self = std::static_pointer_cast<RunLoopUdpSocket>(anchor->owner->weak_from_this().lock());
    if (self) self->handleEvent(s.get(), event.type);
  };
  auto sock =
      cf::Socket::createWithFamily(family, SOCK_DGRAM, IPPROTO_UDP,
                                   cf::Socket::ReadCallBack | cf::Socket::WriteCallBack, callout, anchor_);
  if (!sock) return;
  // No automatic re-enabling: each event fires once until it is asked for again.
  sock->setSocketFlags(cf::Socket::CloseOnInvalidate);
  if (family == AF_INET6) {
    int on = 1;
    ::setsockopt(sock->getNative(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  (family == AF_INET ? socket4_ : socket6_) = sock;
  runLoopAddSocket(sock);
}

void RunLoopUdpSocket::checkThread() const {
#ifndef NDEBUG
  if (runLoop_ && ns::RunLoop::currentRunLoop() != runLoop_) {
    std::fprintf(stderr, "RunLoopUdpSocket %p used off its run loop's thread\n",
                 static_cast<const void*>(this));
    std::abort();
  }
#endif
}

void RunLoopUdpSocket::handleEvent(cf::Socket* sock, unsigned type) {
  const bool is4 = sock == socket4_.get();
  if (!is4 && sock != socket6_.get()) return;  // a socket closed earlier in this pass
  if (type == cf::Socket::ReadCallBack) {
    flags_ |= is4 ? kFlagSocket4HasBytes : kFlagSocket6HasBytes;
    doReceive(sock);
  } else if (type == cf::Socket::WriteCallBack) {
    flags_ |= is4 ? kFlagSocket4CanAccept : kFlagSocket6CanAccept;
    doSend(sock);
  } else {
    ns::Log("RunLoopUdpSocket %p received unexpected CFSocketCallBackType %lu.",
            static_cast<const void*>(this), static_cast<unsigned long>(type));
  }
}

// ---- run loop and modes ----

void RunLoopUdpSocket::runLoopAddSocket(const SocketRef& sock) {
  if (!sock || !runLoop_) return;
  for (auto& mode : runLoopModes_) sock->scheduleInRunLoop_forMode(runLoop_, mode);
}

void RunLoopUdpSocket::runLoopRemoveSocket(const SocketRef& sock) {
  if (!sock || !runLoop_) return;
  for (auto& mode : runLoopModes_) sock->removeFromRunLoop_forMode(runLoop_, mode);
}

void RunLoopUdpSocket::runLoopAddTimer(const ns::Ref<ns::Timer>& timer) {
  if (!timer || !runLoop_) return;
  for (auto& mode : runLoopModes_) runLoop_->addTimer_forMode(timer, mode);
}

ns::Ref<ns::Timer> RunLoopUdpSocket::makeTimer(double fireTime, bool send) {
  ns::Weak<RunLoopUdpSocket> weak = weakSelf<RunLoopUdpSocket>();
  return ns::make<ns::Timer>(fireTime, 0, false, [weak, send](const ns::Ref<ns::Timer>& timer) {
    auto self = weak.lock();
    if (!self) return;
    if (send)
      self->doSendTimeout(timer);
    else
      self->doReceiveTimeout(timer);
  });
}

void RunLoopUdpSocket::queuePerform(const std::string& selector, void (RunLoopUdpSocket::*method)()) {
  if (!runLoop_) return;
  ns::Weak<RunLoopUdpSocket> weak = weakSelf<RunLoopUdpSocket>();
  runLoop_->perform({anchor_, selector, nullptr,
                     [weak, method] {
                       if (auto self = weak.lock()) ((*self).*method)();
                     }},
                    0, runLoopModes_, 0);
}

bool RunLoopUdpSocket::moveToRunLoop(const ns::Ref<ns::RunLoop>& runLoop) {
  if (!runLoop) return false;
  if (runLoop == runLoop_) return true;
  checkThread();
  if (runLoop_) runLoop_->cancelPerformSelectorsWithTarget(anchor_.get());
  flags_ &= ~(kFlagDequeueSendScheduled | kFlagDequeueReceiveScheduled);

  runLoopRemoveSocket(socket4_);
  runLoopRemoveSocket(socket6_);
  // A timer belongs to one run loop: the new loop gets fresh timers with the same fire dates.
  ns::Ref<ns::Timer> oldSend = sendTimer_, oldReceive = receiveTimer_;
  if (oldSend) {
    sendTimer_ = makeTimer(oldSend->fireTime(), true);
    oldSend->invalidate();
  }
  if (oldReceive) {
    receiveTimer_ = makeTimer(oldReceive->fireTime(), false);
    oldReceive->invalidate();
  }
  runLoop_ = runLoop;
  runLoopAddSocket(socket4_);
  runLoopAddSocket(socket6_);
  runLoopAddTimer(sendTimer_);
  runLoopAddTimer(receiveTimer_);

  queuePerform("maybeDequeueSend", &RunLoopUdpSocket::maybeDequeueSend);
  queuePerform("maybeDequeueReceive", &RunLoopUdpSocket::maybeDequeueReceive);
  queuePerform("maybeScheduleClose", &RunLoopUdpSocket::maybeScheduleClose);
  return true;
}

bool RunLoopUdpSocket::setRunLoopModes(const std::vector<std::string>& runLoopModes) {
  if (runLoopModes.empty()) return false;
  if (runLoopModes == runLoopModes_) return true;
  checkThread();
  if (runLoop_) runLoop_->cancelPerformSelectorsWithTarget(anchor_.get());
  flags_ &= ~(kFlagDequeueSendScheduled | kFlagDequeueReceiveScheduled);

  runLoopRemoveSocket(socket4_);
  runLoopRemoveSocket(socket6_);
  if (runLoop_)
    for (auto& mode : runLoopModes_) {
      if (sendTimer_) runLoop_->removeTimer_forMode(sendTimer_, mode);
      if (receiveTimer_) runLoop_->removeTimer_forMode(receiveTimer_, mode);
    }
  runLoopModes_ = runLoopModes;
  runLoopAddSocket(socket4_);
  runLoopAddSocket(socket6_);
  runLoopAddTimer(sendTimer_);
  runLoopAddTimer(receiveTimer_);

  queuePerform("maybeDequeueSend", &RunLoopUdpSocket::maybeDequeueSend);
  queuePerform("maybeDequeueReceive", &RunLoopUdpSocket::maybeDequeueReceive);
  queuePerform("maybeScheduleClose", &RunLoopUdpSocket::maybeScheduleClose);
  return true;
}

// ---- addresses ----

namespace {

// The loopback (or wildcard) addresses of a port into whichever of the two the caller asked for.
void loopbackOrWildcard(std::uint16_t port, bool loopback, ns::Data* address4, ns::Data* address6) {
  auto [any4, any6] = socket_setup::loopbackOrWildcardAddresses(port, loopback);
  if (address4) *address4 = any4;
  if (address6) *address6 = any6;
}

int lookUp(const std::string& host, std::uint16_t port, bool passive, ns::Data* address4,
           ns::Data* address6) {
  addrinfo hints{};
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* res = nullptr;
  int rc = socketResolverGetAddrInfo(host.c_str(), std::to_string(port).c_str(), &hints, &res);
  if (rc != 0) return rc;
  bool have4 = false, have6 = false;
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && !have4 && ai->ai_addrlen == sizeof(sockaddr_in)) {
      have4 = true;
      if (address4) *address4 = ns::Data(ai->ai_addr, ai->ai_addrlen);
    } else if (ai->ai_family == AF_INET6 && !have6 && ai->ai_addrlen == sizeof(sockaddr_in6)) {
      have6 = true;
      if (address6) *address6 = ns::Data(ai->ai_addr, ai->ai_addrlen);
    }
  }
  if (res) ::freeaddrinfo(res);
  return 0;
}

bool isLoopbackName(const std::string& host) {
  return host == "localhost" || host == "loopback";
}

}  // namespace

int RunLoopUdpSocket::convertForBindHost_port_intoAddress4_address6(const std::optional<std::string>& host,
                                                                    std::uint16_t port, ns::Data* address4,
                                                                    ns::Data* address6) {
  bool wildcard = !host || host->empty();
  if (wildcard || isLoopbackName(*host)) {
    loopbackOrWildcard(port, !wildcard, address4, address6);
    return 0;
  }
  return lookUp(*host, port, true, address4, address6);
}

int RunLoopUdpSocket::convertForSendHost_port_intoAddress4_address6(const std::optional<std::string>& host,
                                                                    std::uint16_t port, ns::Data* address4,
                                                                    ns::Data* address6) {
  if (!host || host->empty()) return EAI_NONAME;
  if (isLoopbackName(*host)) {
    loopbackOrWildcard(port, true, address4, address6);
    return 0;
  }
  return lookUp(*host, port, false, address4, address6);
}

std::string RunLoopUdpSocket::addressHost4(const sockaddr_in* addr) {
  char buf[INET_ADDRSTRLEN] = {};
  if (!addr || !::inet_ntop(AF_INET, &addr->sin_addr, buf, sizeof buf))
    ns::Exception::raise(ns::NSInternalInconsistencyException, "Cannot convert address to string.");
  return buf;
}

std::string RunLoopUdpSocket::addressHost6(const sockaddr_in6* addr) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (!addr || !::inet_ntop(AF_INET6, &addr->sin6_addr, buf, sizeof buf))
    ns::Exception::raise(ns::NSInternalInconsistencyException, "Cannot convert address to string.");
  return buf;
}

std::string RunLoopUdpSocket::addressHost(const sockaddr* addr) {
  if (addr && addr->sa_family == AF_INET) return addressHost4(reinterpret_cast<const sockaddr_in*>(addr));
  return addressHost6(reinterpret_cast<const sockaddr_in6*>(addr));
}

// ---- binding and connecting ----

void RunLoopUdpSocket::raiseIfClosed() const {
  if (flags_ & kFlagClosed) ns::Exception::raise(RunLoopUdpSocketException, "The socket is closed.");
}

bool RunLoopUdpSocket::bindToPort_error(std::uint16_t port, ns::Error* errPtr) {
  return bindToAddress_port_error(std::nullopt, port, errPtr);
}

bool RunLoopUdpSocket::bindToAddress_port_error(const std::optional<std::string>& localAddr,
                                                std::uint16_t port, ns::Error* errPtr) {
  checkThread();
  raiseIfClosed();
  if (flags_ & kFlagBound)
    ns::Exception::raise(RunLoopUdpSocketException, "Cannot bind a socket more than once.");
  if (flags_ & kFlagConnected)
    ns::Exception::raise(RunLoopUdpSocketException,
                         "Cannot bind after connecting. If needed, bind first, then connect.");

  ns::Data address4, address6;
  int rc = convertForBindHost_port_intoAddress4_address6(localAddr, port, &address4, &address6);
  if (rc != 0) {
    ns::setError(errPtr, netdbError(rc));
    return false;
  }
  if (address4.empty() && address6.empty()) {
    // A lookup that names no address of either family binds nothing: that is a failure.
    ns::setError(errPtr, netdbError(EAI_FAIL));
    return false;
  }

  // Address reuse lets a named port be bound again; on port 0 it could share the kernel's pick
  // with another socket (see keepEphemeralPortOwn).
  int on = port != 0 ? 1 : 0;
  if (socket4_) ::setsockopt(socket4_->getNative(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (socket6_) ::setsockopt(socket6_->getNative(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  if (!address4.empty()) {
    if (socket4_) {
      if (socket4_->setAddress(address4) != cf::Socket::Success) {
        ns::setError(errPtr, socketError());
        return false;
      }
      if (address6.empty()) {
        closeSocket6();
        flags_ |= kFlagBound;
        return true;
      }
    } else if (address6.empty()) {
      ns::setError(errPtr, udpError(RunLoopUdpSocketIPv4Unavailable));
      return false;
    }
  }
  if (!address6.empty()) {
    if (socket6_) {
      if (socket6_->setAddress(address6) != cf::Socket::Success) {
        ns::setError(errPtr, socketError());
        return false;
      }
      if (address4.empty()) closeSocket4();
    } else if (address4.empty()) {
      ns::setError(errPtr, udpError(RunLoopUdpSocketIPv6Unavailable));
      return false;
    }
  }
  flags_ |= kFlagBound;
  return true;
}

bool RunLoopUdpSocket::connectToHost_onPort_error(const std::optional<std::string>& host, std::uint16_t port,
                                                  ns::Error* errPtr) {
  checkThread();
  raiseIfClosed();
  if (flags_ & kFlagConnected)
    ns::Exception::raise(RunLoopUdpSocketException, "Cannot connect a socket more than once.");

  ns::Data address4, address6;
  int rc = convertForSendHost_port_intoAddress4_address6(host, port, &address4, &address6);
  if (rc != 0) {
    ns::setError(errPtr, netdbError(rc));
    return false;
  }
  if (!address4.empty() && socket4_) {
    if (socket4_->connectToAddress(address4, 0) != cf::Socket::Success) {
      ns::setError(errPtr, socketError());
      return false;
    }
    flags_ |= kFlagConnected;
    closeSocket6();
    return true;
  }
  if (!address4.empty() && address6.empty()) {
    ns::setError(errPtr, udpError(RunLoopUdpSocketIPv4Unavailable));
    return false;
  }
  if (address4.empty() && address6.empty()) {
    ns::setError(errPtr, ns::Error());
    return false;
  }
  if (!socket6_) {
    ns::setError(errPtr, udpError(RunLoopUdpSocketIPv6Unavailable));
    return false;
  }
  if (socket6_->connectToAddress(address6, 0) != cf::Socket::Success) {
    ns::setError(errPtr, socketError());
    return false;
  }
  flags_ |= kFlagConnected;
  closeSocket4();
  return true;
}

bool RunLoopUdpSocket::connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr) {
  checkThread();
  raiseIfClosed();
  if (flags_ & kFlagConnected)
    ns::Exception::raise(RunLoopUdpSocketException, "Cannot connect a socket more than once.");

  SocketRef sock;
  if (remoteAddr.length() == sizeof(sockaddr_in)) {
    if (!socket4_) {
      ns::setError(errPtr, udpError(RunLoopUdpSocketIPv4Unavailable));
      return false;
    }
    sock = socket4_;
  } else if (remoteAddr.length() == sizeof(sockaddr_in6)) {
    if (!socket6_) {
      ns::setError(errPtr, udpError(RunLoopUdpSocketIPv6Unavailable));
      return false;
    }
    sock = socket6_;
  } else {
    ns::setError(errPtr, ns::Error::withDescription(RunLoopUdpSocketErrorDomain, RunLoopUdpSocketBadParameter,
                                                    "remoteAddr parameter is not a valid address"));
    return false;
  }
  if (sock->connectToAddress(remoteAddr, 0) != cf::Socket::Success) {
    ns::setError(errPtr, socketError());
    return false;
  }
  flags_ |= kFlagConnected;
  if (sock == socket4_)
    closeSocket6();
  else
    closeSocket4();
  return true;
}

bool RunLoopUdpSocket::joinMulticastGroup_error(const std::string& group, ns::Error* errPtr) {
  return joinMulticastGroup_withAddress_error(group, std::nullopt, errPtr);
}

bool RunLoopUdpSocket::joinMulticastGroup_withAddress_error(const std::string& group,
                                                            const std::optional<std::string>& address,
                                                            ns::Error* errPtr) {
  checkThread();
  raiseIfClosed();
  if (!(flags_ & kFlagBound))
    ns::Exception::raise(RunLoopUdpSocketException, "Must bind a socket before joining a multicast group.");
  if (flags_ & kFlagConnected)
    ns::Exception::raise(RunLoopUdpSocketException, "Cannot join a multicast group if connected.");

  ns::Data address4, address6, group4, group6;
  int rc = convertForBindHost_port_intoAddress4_address6(address, 0, &address4, &address6);
  if (rc != 0) {
    ns::setError(errPtr, netdbError(rc, "Invalid parameter 'address': "));
    return false;
  }
  rc = convertForBindHost_port_intoAddress4_address6(group, 0, &group4, &group6);
  if (rc != 0) {
    ns::setError(errPtr, netdbError(rc, "Invalid parameter 'group': "));
    return false;
  }

  if (socket4_ && !group4.empty() && !address4.empty()) {
    ip_mreq request{};
    request.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(group4.bytes())->sin_addr;
    request.imr_interface = reinterpret_cast<const sockaddr_in*>(address4.bytes())->sin_addr;
    int result = ::setsockopt(socket4_->getNative(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
    if (result != 0) {
      ns::setError(errPtr, optionError(result, "Unable to join IPv4 multicast group", errno));
      return false;
    }
    closeSocket6();
    return true;
  }
  if (socket6_ && !group6.empty() && !address6.empty()) {
    ipv6_mreq request{};
    request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6*>(group6.bytes())->sin6_addr;
    request.ipv6mr_interface = 0;  // the default interface
    int result = ::setsockopt(socket6_->getNative(), IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request);
    if (result != 0) {
      ns::setError(errPtr, optionError(result, "Unable to join IPv6 multicast group", errno));
      return false;
    }
    closeSocket4();
    return true;
  }
  ns::setError(errPtr,
               ns::Error::withDescription(RunLoopUdpSocketErrorDomain, RunLoopUdpSocketBadParameter,
                                          "Invalid group and/or address, not matching existing socket(s)"));
  return false;
}

bool RunLoopUdpSocket::enableBroadcast_error(bool flag, ns::Error* errPtr) {
  checkThread();
  if (!socket4_) return true;
  int value = flag ? 1 : 0;
  int result = ::setsockopt(socket4_->getNative(), SOL_SOCKET, SO_BROADCAST, &value, sizeof value);
  if (result != 0) {
    ns::setError(errPtr, optionError(result, "Unable to enable broadcast message sending", errno));
    return false;
  }
  return true;
}

// ---- closing ----

void RunLoopUdpSocket::closeSocket4() {
  if (!socket4_) return;
  runLoopRemoveSocket(socket4_);
  socket4_->invalidate();
  socket4_ = nullptr;
}

void RunLoopUdpSocket::closeSocket6() {
  if (!socket6_) return;
  runLoopRemoveSocket(socket6_);
  socket6_->invalidate();
  socket6_ = nullptr;
}

void RunLoopUdpSocket::emptyQueues() {
  if (currentSend_) endCurrentSend();
  if (currentReceive_) endCurrentReceive();
  sendQueue_.clear();
  receiveQueue_.clear();
  if (runLoop_) {
    runLoop_->cancelPerformSelector_target_argument("maybeDequeueSend", anchor_.get(), nullptr);
    runLoop_->cancelPerformSelector_target_argument("maybeDequeueReceive", anchor_.get(), nullptr);
  }
  flags_ &= ~(kFlagDequeueSendScheduled | kFlagDequeueReceiveScheduled);
}

void RunLoopUdpSocket::close() {
  checkThread();
  closeInternal(true);
}

void RunLoopUdpSocket::closeInternal(bool notify) {
  emptyQueues();
  // A close queued by closeAfter... would otherwise repeat this one and its notice.
  if (runLoop_) runLoop_->cancelPerformSelector_target_argument("close", anchor_.get(), nullptr);
  closeSocket4();
  closeSocket6();
  auto loop = runLoop_;
  runLoop_ = nullptr;
  if (notify && delegate_) {
    if (!loop) loop = ns::RunLoop::currentRunLoop();
    // Deferred, and holding the socket only weakly: it never runs inside close, and never
    // once the socket is gone (the destructor also withdraws it).
    ns::Weak<RunLoopUdpSocket> weak = weakSelf<RunLoopUdpSocket>();
    auto delegate = delegate_;
    loop->perform({closeNoticeTarget_, "onUdpSocketDidClose:", nullptr,
                   [weak, delegate] {
                     if (auto self = weak.lock()) delegate->onUdpSocketDidClose(self);
                   }},
                  0, runLoopModes_, 0);
    closeNoticeLoops_.push_back(loop);
  }
  flags_ |= kFlagClosed;
}

void RunLoopUdpSocket::closeAfterSending() {
  checkThread();
  if (flags_ & kFlagClosed) return;
  flags_ |= kFlagForbidRequests | kFlagCloseAfterSends;
  maybeScheduleClose();
}

void RunLoopUdpSocket::closeAfterReceiving() {
  checkThread();
  if (flags_ & kFlagClosed) return;
  flags_ |= kFlagForbidRequests | kFlagCloseAfterReceives;
  maybeScheduleClose();
}

void RunLoopUdpSocket::closeAfterSendingAndReceiving() {
  checkThread();
  if (flags_ & kFlagClosed) return;
  flags_ |= kFlagForbidRequests | kFlagCloseAfterSends | kFlagCloseAfterReceives;
  maybeScheduleClose();
}

void RunLoopUdpSocket::maybeScheduleClose() {
  const bool sendsPending = currentSend_ || !sendQueue_.empty();
  const bool receivesPending = currentReceive_ || !receiveQueue_.empty();
  if (flags_ & kFlagCloseAfterSends) {
    if (sendsPending) return;
    if ((flags_ & kFlagCloseAfterReceives) && receivesPending) return;
  } else if (flags_ & kFlagCloseAfterReceives) {
    if (receivesPending) return;
  } else {
    return;
  }
  queuePerform("close", &RunLoopUdpSocket::close);
}

// ---- endpoint information ----

namespace {

// getsockname or getpeername into a buffer of the socket's family.
bool socketName(cf::Socket& sock, bool is4, bool peer, sockaddr_in6* out, socklen_t* len) {
  *len = is4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  auto* sa = reinterpret_cast<sockaddr*>(out);
  int fd = sock.getNative();
  if (fd < 0) return false;
  return (peer ? ::getpeername(fd, sa, len) : ::getsockname(fd, sa, len)) == 0;
}

std::uint16_t portOf(const sockaddr_in6& ss) {
  const auto* sa = reinterpret_cast<const sockaddr*>(&ss);
  if (sa->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&ss)->sin_port);
  return ntohs(ss.sin6_port);
}

std::optional<std::string> hostOf(const sockaddr_in6& ss) {
  return RunLoopUdpSocket::addressHost(reinterpret_cast<const sockaddr*>(&ss));
}

}  // namespace

template <class Value>
Value RunLoopUdpSocket::nameLookup(bool peer, Value& cache, Value (*valueOf)(const sockaddr_in6&)) {
  SocketRef sock = socket4_ ? socket4_ : socket6_;
  if (!sock) return Value{};
  sockaddr_in6 ss{};
  socklen_t len;
  if (!socketName(*sock, sock == socket4_, peer, &ss, &len)) return Value{};
  Value value = valueOf(ss);
  if (flags_ & (peer ? kFlagConnected : kFlagBound)) cache = value;
  return value;
}

std::optional<std::string> RunLoopUdpSocket::localHost() {
  if (cachedLocalHost_) return cachedLocalHost_;
  return nameLookup(false, cachedLocalHost_, hostOf);
}

std::uint16_t RunLoopUdpSocket::localPort() {
  if (cachedLocalPort_ != 0) return cachedLocalPort_;
  return nameLookup(false, cachedLocalPort_, portOf);
}

std::optional<std::string> RunLoopUdpSocket::connectedHost() {
  if (cachedConnectedHost_) return cachedConnectedHost_;
  return nameLookup(true, cachedConnectedHost_, hostOf);
}

std::uint16_t RunLoopUdpSocket::connectedPort() {
  if (cachedConnectedPort_ != 0) return cachedConnectedPort_;
  return nameLookup(true, cachedConnectedPort_, portOf);
}

bool RunLoopUdpSocket::isConnected() const {
  return (flags_ & kFlagConnected) && !(flags_ & kFlagClosed);
}

bool RunLoopUdpSocket::isConnectedToHost_port(const std::string& host, std::uint16_t port) {
  return connectedHost() == host && connectedPort() == port;
}

bool RunLoopUdpSocket::isClosed() const {
  return flags_ & kFlagClosed;
}

std::uint32_t RunLoopUdpSocket::maximumTransmissionUnit() {
  SocketRef sock = socket4_ ? socket4_ : socket6_;
  if (!sock) return 0;
  ns::Data local = sock->copyAddress();
  if (local.length() < sizeof(sockaddr_in)) return 0;
  const auto* sa = reinterpret_cast<const sockaddr*>(local.bytes());
  // A socket bound to the wildcard address has no interface of its own.
  std::string name;
  if (sa->sa_family == AF_INET) {
    const auto* mine = reinterpret_cast<const sockaddr_in*>(sa);
    if (mine->sin_addr.s_addr != htonl(INADDR_ANY))
      name = nameOfInterfaceWithAddress(AF_INET, &mine->sin_addr).value_or("");
  } else if (sa->sa_family == AF_INET6 && local.length() >= sizeof(sockaddr_in6)) {
    const auto* mine = reinterpret_cast<const sockaddr_in6*>(sa);
    if (!IN6_IS_ADDR_UNSPECIFIED(&mine->sin6_addr))
      name = nameOfInterfaceWithAddress(AF_INET6, &mine->sin6_addr).value_or("");
  }
  if (name.empty() || name.size() >= IFNAMSIZ) return 0;
  ifreq request{};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  if (::ioctl(sock->getNative(), SIOCGIFMTU, &request) != 0 || request.ifr_mtu < 0) return 0;
  return static_cast<std::uint32_t>(request.ifr_mtu);
}
