// DispatchUdpSocket: creation, the queue discipline, errors, the delegate, configuration, state
// queries and queue access. Addresses and binding, sending and receiving have files of their own.
#include "lib/sockets/DispatchUdpSocket.h"

#include <netdb.h>

#include <cstring>

#include "lib/sockets/DispatchUdpSocketInternal.h"
#include "platform/core/Exception.h"
#include "platform/foundation/Bundle.h"

using namespace udp_socket_internal;

// ---------------------------------------------------------------------------------------------
// Creation and destruction

DispatchUdpSocket::DispatchUdpSocket()
    : DispatchUdpSocket(ns::Weak<DispatchUdpSocketDelegate>(), nullptr, nullptr) {}

DispatchUdpSocket::DispatchUdpSocket(ns::Ref<dispatch::Queue> socketQueue)
    : DispatchUdpSocket(ns::Weak<DispatchUdpSocketDelegate>(), nullptr, std::move(socketQueue)) {}

DispatchUdpSocket::DispatchUdpSocket(ns::Weak<DispatchUdpSocketDelegate> delegate,
                                     ns::Ref<dispatch::Queue> delegateQueue)
    : DispatchUdpSocket(std::move(delegate), std::move(delegateQueue), nullptr) {}

DispatchUdpSocket::DispatchUdpSocket(ns::Weak<DispatchUdpSocketDelegate> delegate,
                                     ns::Ref<dispatch::Queue> delegateQueue,
                                     ns::Ref<dispatch::Queue> socketQueue)
    : SocketDelegateAccess(std::move(delegate), std::move(delegateQueue)),
      sources_(std::make_unique<Sources>()),
      IsOnSocketQueueOrTargetQueueKey_(&IsOnSocketQueueOrTargetQueueKey_) {
  if (socketQueue) {
    // All state is kept lock-free on this queue, which only a serial queue makes safe.
    if (!socketQueue->isSerial()) {
      ns::Exception::raise(DispatchUdpSocketException,
                           "The given socketQueue parameter must not be a concurrent queue.");
    }
    socketQueue_ = std::move(socketQueue);
  } else {
    socketQueue_ = dispatch::queueCreate("DispatchUdpSocket", dispatch::QueueAttr::Serial);
  }
  dispatch::setSpecific(socketQueue_, &IsOnSocketQueueOrTargetQueueKey_, this);
}

DispatchUdpSocket::~DispatchUdpSocket() {
  // Open sockets keep the socket alive through their sources, so this closes at most sockets that
  // were marked as created without any being open; the delegate does not hear of it, since it
  // must not be handed a socket being destroyed.
  // Runs before runSync returns, while the socket is still whole.
  runSync([this] {
    deallocating_ = true;
    closeWithError(std::nullopt);
  });
  delegate_.reset();
  delegateQueue_ = nullptr;
  // A later socket may be allocated at this address and use the same key on another queue.
  dispatch::setSpecific(socketQueue_, &IsOnSocketQueueOrTargetQueueKey_, nullptr);
  socketQueue_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Queue discipline

bool DispatchUdpSocket::isOnSocketQueue() const {
  return dispatch::getSpecific(&IsOnSocketQueueOrTargetQueueKey_) != nullptr;
}

void DispatchUdpSocket::assertOnSocketQueue() const {
  DISPATCH_DEBUG_ASSERT_OWNER(isOnSocketQueue(), "DispatchUdpSocket", socketQueue_->label());
}

void DispatchUdpSocket::runSync(const std::function<void()>& body) {
  if (isOnSocketQueue()) {
    body();
  } else {
    dispatch::sync(socketQueue_, body);
  }
}

void DispatchUdpSocket::runAsync(std::function<void()> body) {
  auto me = self<DispatchUdpSocket>();
  dispatch::async(socketQueue_, [me, body = std::move(body)] { body(); });
}

void DispatchUdpSocket::runInlineOrAsync(std::function<void()> body) {
  if (isOnSocketQueue()) {
    body();
  } else {
    runAsync(std::move(body));
  }
}

void DispatchUdpSocket::notifyDelegate(
    std::function<void(DispatchUdpSocketDelegate&, const ns::Ref<DispatchUdpSocket>&)> message) {
  assertOnSocketQueue();
  if (!delegateQueue_ || deallocating_) return;
  auto delegate = delegate_.lock();
  if (!delegate) return;
  auto me = self<DispatchUdpSocket>();
  dispatch::async(delegateQueue_, [delegate, me, message = std::move(message)] { message(*delegate, me); });
}

void DispatchUdpSocket::notifyDidNotSend(long tag, const ns::Error& error) {
  notifyDelegate([tag, error](DispatchUdpSocketDelegate& d, const ns::Ref<DispatchUdpSocket>& sock) {
    d.udpSocket_didNotSendDataWithTag_dueToError(sock, tag, error);
  });
}

// ---------------------------------------------------------------------------------------------
// Errors

ns::Error DispatchUdpSocket::badConfigError(const std::string& msg) {
  return ns::Error::withDescription(DispatchUdpSocketErrorDomain, DispatchUdpSocketBadConfigError, msg);
}

ns::Error DispatchUdpSocket::badParamError(const std::string& msg) {
  return ns::Error::withDescription(DispatchUdpSocketErrorDomain, DispatchUdpSocketBadParamError, msg);
}

ns::Error DispatchUdpSocket::sendTimeoutError() {
  std::string text = ns::Bundle::mainBundle()->localizedStringForKey_value_table(
      "DispatchUdpSocketSendTimeoutError", "Send operation timed out", "DispatchUdpSocket");
  return ns::Error::withDescription(DispatchUdpSocketErrorDomain, DispatchUdpSocketSendTimeoutError, text);
}

ns::Error DispatchUdpSocket::socketClosedError() {
  std::string text = ns::Bundle::mainBundle()->localizedStringForKey_value_table(
      "DispatchUdpSocketClosedError", "Socket closed", "DispatchUdpSocket");
  return ns::Error::withDescription(DispatchUdpSocketErrorDomain, DispatchUdpSocketClosedError, text);
}

ns::Error DispatchUdpSocket::otherError(const std::string& msg) {
  return ns::Error::withDescription(DispatchUdpSocketErrorDomain, DispatchUdpSocketOtherError, msg);
}

ns::Error DispatchUdpSocket::errnoErrorWithReason(const std::string& reason) {
  int err = errno;
  ns::Dictionary userInfo{{ns::NSLocalizedDescriptionKey, std::string(std::strerror(err))},
                          {ns::NSLocalizedFailureReasonErrorKey, reason}};
  return ns::Error(ns::NSPOSIXErrorDomain, err, std::move(userInfo));
}

ns::Error DispatchUdpSocket::errnoError() {
  int err = errno;
  return ns::Error::withDescription(ns::NSPOSIXErrorDomain, err, std::strerror(err));
}

ns::Error DispatchUdpSocket::gaiError(int gai_error) {
  return ns::Error::withDescription(kDispatchUdpSocketNetDBErrorDomain, gai_error, gai_strerror(gai_error));
}

bool DispatchUdpSocket::preOp(ns::Error* errPtr) {
  assertOnSocketQueue();
  if (delegate_.expired()) {
    ns::setError(errPtr,
                 badConfigError("Attempting to use socket without a delegate. Set a delegate first."));
    return false;
  }
  if (!delegateQueue_) {
    ns::setError(
        errPtr,
        badConfigError("Attempting to use socket without a delegate queue. Set a delegate queue first."));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Configuration

void DispatchUdpSocket::setConfigBits(std::uint16_t set, std::uint16_t clear) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this, set, clear] { config_ = static_cast<std::uint16_t>((config_ & ~clear) | set); });
}

bool DispatchUdpSocket::hasConfigBits(std::uint16_t bits, bool all) {
  return query([&] { return all ? (config_ & bits) == bits : (config_ & bits) != 0; });
}

bool DispatchUdpSocket::isIPv4Enabled() {
  return !hasConfigBits(kIPv4Disabled, true);
}
void DispatchUdpSocket::setIPv4Enabled(bool flag) {
  flag ? setConfigBits(0, kIPv4Disabled) : setConfigBits(kIPv4Disabled, 0);
}
bool DispatchUdpSocket::isIPv6Enabled() {
  return !hasConfigBits(kIPv6Disabled, true);
}
void DispatchUdpSocket::setIPv6Enabled(bool flag) {
  flag ? setConfigBits(0, kIPv6Disabled) : setConfigBits(kIPv6Disabled, 0);
}
bool DispatchUdpSocket::isIPv4Preferred() {
  return hasConfigBits(kPreferIPv4, true);
}
bool DispatchUdpSocket::isIPv6Preferred() {
  return hasConfigBits(kPreferIPv6, true);
}
bool DispatchUdpSocket::isIPVersionNeutral() {
  return !hasConfigBits(kPreferIPv4 | kPreferIPv6, false);
}
void DispatchUdpSocket::setPreferIPv4() {
  setConfigBits(kPreferIPv4, kPreferIPv6);
}
void DispatchUdpSocket::setPreferIPv6() {
  setConfigBits(kPreferIPv6, kPreferIPv4);
}
void DispatchUdpSocket::setIPVersionNeutral() {
  setConfigBits(0, kPreferIPv4 | kPreferIPv6);
}

std::uint16_t DispatchUdpSocket::maxReceiveIPv4BufferSize() {
  return query([&] { return max4ReceiveSize_; });
}
void DispatchUdpSocket::setMaxReceiveIPv4BufferSize(std::uint16_t max) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this, max] { max4ReceiveSize_ = max; });
}
std::uint32_t DispatchUdpSocket::maxReceiveIPv6BufferSize() {
  return query([&] { return max6ReceiveSize_; });
}
void DispatchUdpSocket::setMaxReceiveIPv6BufferSize(std::uint32_t max) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this, max] { max6ReceiveSize_ = max; });
}

ns::Value DispatchUdpSocket::userData() {
  return query([&] { return userData_; });
}

void DispatchUdpSocket::setUserData(ns::Value userData) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this, userData = std::move(userData)] {
    if (!userData_.isEqual(userData)) userData_ = userData;
  });
}

// ---------------------------------------------------------------------------------------------
// State queries

std::optional<ns::Data> DispatchUdpSocket::localAddress() {
  return query([&] {
    if (socket4FD_ != -1) {
      maybeUpdateCachedLocalAddress4Info();
      return cachedLocalAddress4_;
    }
    maybeUpdateCachedLocalAddress6Info();
    return cachedLocalAddress6_;
  });
}

std::optional<std::string> DispatchUdpSocket::localHost() {
  return query([&] {
    if (socket4FD_ != -1) {
      maybeUpdateCachedLocalAddress4Info();
      return cachedLocalHost4_;
    }
    maybeUpdateCachedLocalAddress6Info();
    return cachedLocalHost6_;
  });
}

std::uint16_t DispatchUdpSocket::localPort() {
  return query([&] {
    if (socket4FD_ != -1) {
      maybeUpdateCachedLocalAddress4Info();
      return cachedLocalPort4_;
    }
    maybeUpdateCachedLocalAddress6Info();
    return cachedLocalPort6_;
  });
}

std::optional<ns::Data> DispatchUdpSocket::localAddress_IPv4() {
  return query([&] {
    maybeUpdateCachedLocalAddress4Info();
    return cachedLocalAddress4_;
  });
}
std::optional<std::string> DispatchUdpSocket::localHost_IPv4() {
  return query([&] {
    maybeUpdateCachedLocalAddress4Info();
    return cachedLocalHost4_;
  });
}
std::uint16_t DispatchUdpSocket::localPort_IPv4() {
  return query([&] {
    maybeUpdateCachedLocalAddress4Info();
    return cachedLocalPort4_;
  });
}
std::optional<ns::Data> DispatchUdpSocket::localAddress_IPv6() {
  return query([&] {
    maybeUpdateCachedLocalAddress6Info();
    return cachedLocalAddress6_;
  });
}
std::optional<std::string> DispatchUdpSocket::localHost_IPv6() {
  return query([&] {
    maybeUpdateCachedLocalAddress6Info();
    return cachedLocalHost6_;
  });
}
std::uint16_t DispatchUdpSocket::localPort_IPv6() {
  return query([&] {
    maybeUpdateCachedLocalAddress6Info();
    return cachedLocalPort6_;
  });
}

std::optional<ns::Data> DispatchUdpSocket::connectedAddress() {
  return query([&] {
    maybeUpdateCachedConnectedAddressInfo();
    return cachedConnectedAddress_;
  });
}
std::optional<std::string> DispatchUdpSocket::connectedHost() {
  return query([&] {
    maybeUpdateCachedConnectedAddressInfo();
    return cachedConnectedHost_;
  });
}
std::uint16_t DispatchUdpSocket::connectedPort() {
  return query([&] {
    maybeUpdateCachedConnectedAddressInfo();
    return cachedConnectedPort_;
  });
}

bool DispatchUdpSocket::isConnected() {
  return query([&] { return (flags_ & kDidConnect) != 0; });
}

bool DispatchUdpSocket::isClosed() {
  return query([&] { return (flags_ & kDidCreateSockets) == 0; });
}

bool DispatchUdpSocket::isIPv4() {
  return query([&] {
    if (flags_ & kDidCreateSockets) return socket4FD_ != -1;
    return (config_ & kIPv4Disabled) == 0;
  });
}

bool DispatchUdpSocket::isIPv6() {
  return query([&] {
    if (flags_ & kDidCreateSockets) return socket6FD_ != -1;
    return (config_ & kIPv6Disabled) == 0;
  });
}

// ---------------------------------------------------------------------------------------------
// Queue access

void DispatchUdpSocket::performBlock(const std::function<void()>& block) {
  runSync(block);
}

int DispatchUdpSocket::socketFD() {
  if (!isOnSocketQueue()) return -1;
  return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int DispatchUdpSocket::socket4FD() {
  return isOnSocketQueue() ? socket4FD_ : -1;
}
int DispatchUdpSocket::socket6FD() {
  return isOnSocketQueue() ? socket6FD_ : -1;
}

void DispatchUdpSocket::markSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketNewTargetQueue) {
  dispatch::setSpecific(socketNewTargetQueue, &IsOnSocketQueueOrTargetQueueKey_, this);
}

void DispatchUdpSocket::unmarkSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketOldTargetQueue) {
  dispatch::setSpecific(socketOldTargetQueue, &IsOnSocketQueueOrTargetQueueKey_, nullptr);
}
