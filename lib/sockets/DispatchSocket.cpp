// DispatchSocket: creation, the queue discipline, errors, the delegate and configuration, time-outs
// and state queries. Accepting, reading, writing and disconnecting have files of their own.
#include "lib/sockets/DispatchSocket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lib/sockets/DispatchReadPacket.h"
#include "lib/sockets/DispatchSocketInternal.h"
#include "lib/sockets/DispatchSocketPreBuffer.h"
#include "lib/sockets/DispatchWritePacket.h"
#include "platform/core/Exception.h"

using namespace socket_internal;

// ---------------------------------------------------------------------------------------------
// Creation and destruction

DispatchSocket::DispatchSocket() : DispatchSocket(ns::Weak<DispatchSocketDelegate>(), nullptr, nullptr) {}

DispatchSocket::DispatchSocket(ns::Ref<dispatch::Queue> socketQueue)
    : DispatchSocket(ns::Weak<DispatchSocketDelegate>(), nullptr, std::move(socketQueue)) {}

DispatchSocket::DispatchSocket(ns::Weak<DispatchSocketDelegate> delegate,
                               ns::Ref<dispatch::Queue> delegateQueue)
    : DispatchSocket(std::move(delegate), std::move(delegateQueue), nullptr) {}

DispatchSocket::DispatchSocket(ns::Weak<DispatchSocketDelegate> delegate,
                               ns::Ref<dispatch::Queue> delegateQueue, ns::Ref<dispatch::Queue> socketQueue)
    : SocketDelegateAccess(std::move(delegate), std::move(delegateQueue)),
      sources_(std::make_unique<Sources>()),
      preBuffer_(std::make_unique<DispatchSocketPreBuffer>(kPreBufferCapacity)),
      IsOnSocketQueueOrTargetQueueKey_(&IsOnSocketQueueOrTargetQueueKey_) {
  if (socketQueue) {
    // All state is kept lock-free on this queue, which only a serial queue makes safe.
    if (!socketQueue->isSerial()) {
      ns::Exception::raise(DispatchSocketException,
                           "The given socketQueue parameter must not be a concurrent queue.");
    }
    socketQueue_ = std::move(socketQueue);
  } else {
    socketQueue_ = dispatch::queueCreate("DispatchSocket", dispatch::QueueAttr::Serial);
  }
  dispatch::setSpecific(socketQueue_, &IsOnSocketQueueOrTargetQueueKey_, this);
}

DispatchSocket::~DispatchSocket() {
  // Runs before runSync returns, while the socket is still whole.
  runSync([this] {
    flags_ |= flagDeallocating;
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

bool DispatchSocket::isOnSocketQueue() const {
  return dispatch::getSpecific(&IsOnSocketQueueOrTargetQueueKey_) != nullptr;
}

void DispatchSocket::assertOnSocketQueue() const {
  DISPATCH_DEBUG_ASSERT_OWNER(isOnSocketQueue(), "DispatchSocket", socketQueue_->label());
}

void DispatchSocket::runSync(const std::function<void()>& body) {
  if (isOnSocketQueue()) {
    body();
  } else {
    dispatch::sync(socketQueue_, body);
  }
}

void DispatchSocket::runAsync(std::function<void()> body) {
  // The block keeps the socket alive until it has run.
  auto me = self<DispatchSocket>();
  dispatch::async(socketQueue_, [me, body = std::move(body)] { body(); });
}

void DispatchSocket::runInlineOrAsync(std::function<void()> body) {
  if (isOnSocketQueue()) {
    body();
  } else {
    runAsync(std::move(body));
  }
}

void DispatchSocket::notifyDelegate(
    std::function<void(DispatchSocketDelegate&, const ns::Ref<DispatchSocket>&)> message) {
  assertOnSocketQueue();
  if (!delegateQueue_) return;
  auto delegate = delegate_.lock();
  if (!delegate) return;
  auto me = self<DispatchSocket>();
  dispatch::async(delegateQueue_, [delegate, me, message = std::move(message)] { message(*delegate, me); });
}

DispatchReadPacket* DispatchSocket::currentReadPacket() const {
  assertOnSocketQueue();
  return dynamic_cast<DispatchReadPacket*>(currentRead_.get());
}

DispatchWritePacket* DispatchSocket::currentWritePacket() const {
  assertOnSocketQueue();
  return dynamic_cast<DispatchWritePacket*>(currentWrite_.get());
}

// ---------------------------------------------------------------------------------------------
// Errors

ns::Error DispatchSocket::badConfigError(const std::string& msg) {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketBadConfigError, msg);
}

ns::Error DispatchSocket::badParamError(const std::string& msg) {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketBadParamError, msg);
}

ns::Error DispatchSocket::connectTimeoutError() {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketConnectTimeoutError,
                                    "Attempt to connect to host timed out");
}

ns::Error DispatchSocket::readMaxedOutError() {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketReadMaxedOutError,
                                    "Read operation reached set maximum length");
}

ns::Error DispatchSocket::readTimeoutError() {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketReadTimeoutError,
                                    "Read operation timed out");
}

ns::Error DispatchSocket::writeTimeoutError() {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketWriteTimeoutError,
                                    "Write operation timed out");
}

ns::Error DispatchSocket::connectionClosedError() {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketClosedError,
                                    "Socket closed by remote peer");
}

ns::Error DispatchSocket::otherError(const std::string& msg) {
  return ns::Error::withDescription(DispatchSocketErrorDomain, DispatchSocketOtherError, msg);
}

ns::Error DispatchSocket::errnoErrorWithReason(const std::string& reason) {
  int err = errno;
  ns::Dictionary userInfo{{ns::NSLocalizedDescriptionKey, std::string(std::strerror(err))},
                          {ns::NSLocalizedFailureReasonErrorKey, reason}};
  return ns::Error(ns::NSPOSIXErrorDomain, err, std::move(userInfo));
}

ns::Error DispatchSocket::errnoError() {
  int err = errno;
  return ns::Error::withDescription(ns::NSPOSIXErrorDomain, err, std::strerror(err));
}

ns::Error DispatchSocket::sslError(int ssl_error) {
  ns::Dictionary userInfo{{ns::NSLocalizedRecoverySuggestionErrorKey,
                           "Error code definition can be found in Apple's SecureTransport"}};
  return ns::Error(kDispatchSocketSSLErrorDomain, ssl_error, std::move(userInfo));
}

// ---------------------------------------------------------------------------------------------
// Configuration

bool DispatchSocket::isConfigBitClear(std::uint16_t bit) {
  return query([&] { return (config_ & bit) == 0; });
}

void DispatchSocket::setConfigBitClear(std::uint16_t bit, bool clear) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this, bit, clear] {
    if (clear) {
      config_ &= static_cast<std::uint16_t>(~bit);
    } else {
      config_ |= bit;
    }
  });
}

bool DispatchSocket::isIPv4Enabled() {
  return isConfigBitClear(configIPv4Disabled);
}
void DispatchSocket::setIPv4Enabled(bool flag) {
  setConfigBitClear(configIPv4Disabled, flag);
}
bool DispatchSocket::isIPv6Enabled() {
  return isConfigBitClear(configIPv6Disabled);
}
void DispatchSocket::setIPv6Enabled(bool flag) {
  setConfigBitClear(configIPv6Disabled, flag);
}
bool DispatchSocket::isIPv4PreferredOverIPv6() {
  return isConfigBitClear(configPreferIPv6);
}
void DispatchSocket::setIPv4PreferredOverIPv6(bool flag) {
  setConfigBitClear(configPreferIPv6, flag);
}
bool DispatchSocket::autoDisconnectOnClosedReadStream() {
  return isConfigBitClear(configAllowHalfDuplex);
}
void DispatchSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
  setConfigBitClear(configAllowHalfDuplex, flag);
}

ns::Value DispatchSocket::userData() {
  return query([&] { return userData_; });
}

void DispatchSocket::setUserData(ns::Value userData) {
  // Runs here or through runAsync, which holds the socket until the block has run.
  runInlineOrAsync([this, userData = std::move(userData)] { userData_ = userData; });
}

// ---------------------------------------------------------------------------------------------
// Time-outs

ns::Ref<dispatch::Source> DispatchSocket::startTimeoutTimer(double timeout,
                                                            void (DispatchSocket::*onTimeout)()) {
  if (!(timeout >= 0)) return nullptr;  // negative (or NaN): no time-out
  auto timer = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, socketQueue_);
  ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
  timer->setEventHandler([weakSelf, onTimeout] {
    if (auto strongSelf = weakSelf.lock()) ((*strongSelf).*onTimeout)();
  });
  timer->setTimer(dispatch::time(timeout), dispatch::TimeForever, 0);
  timer->resume();
  return timer;
}

// ---------------------------------------------------------------------------------------------
// State queries

bool DispatchSocket::isDisconnected() {
  return query([&] { return (flags_ & flagStarted) == 0; });
}

bool DispatchSocket::isConnected() {
  return query([&] { return (flags_ & flagConnected) != 0; });
}

// The per-family forms answer none (or 0) for a family without a descriptor.
std::optional<std::string> DispatchSocket::connectedHost() {
  return query([&] { return socket4FD_ != -1 ? connectedHost4() : connectedHost6(); });
}

std::uint16_t DispatchSocket::connectedPort() {
  return query([&] { return socket4FD_ != -1 ? connectedPort4() : connectedPort6(); });
}

std::optional<std::string> DispatchSocket::localHost() {
  return query([&] { return socket4FD_ != -1 ? localHost4() : localHost6(); });
}

std::uint16_t DispatchSocket::localPort() {
  return query([&] { return socket4FD_ != -1 ? localPort4() : localPort6(); });
}

std::optional<ns::Data> DispatchSocket::addressOf(bool peer) {
  auto query = [peer](int fd, socklen_t size) -> std::optional<ns::Data> {
    sockaddr_storage addr{};
    socklen_t length = size;
    int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length)
                  : ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    if (rc < 0) return std::nullopt;
    return ns::Data(&addr, std::min(length, size));
  };
  std::optional<ns::Data> result;
  runSync([&] {
    if (socket4FD_ != -1) result = query(socket4FD_, sizeof(sockaddr_in));
    if (socket6FD_ != -1) result = query(socket6FD_, sizeof(sockaddr_in6));
  });
  return result;
}

std::optional<ns::Data> DispatchSocket::connectedAddress() {
  return addressOf(true);
}
std::optional<ns::Data> DispatchSocket::localAddress() {
  return addressOf(false);
}

bool DispatchSocket::isIPv4() {
  return query([&] { return socket4FD_ != -1; });
}

bool DispatchSocket::isIPv6() {
  return query([&] { return socket6FD_ != -1; });
}

bool DispatchSocket::isSecure() {
  return query([&] { return (flags_ & flagSocketSecure) != 0; });
}

std::optional<std::string> DispatchSocket::connectedHost4() {
  assertOnSocketQueue();
  return socket4FD_ != -1 ? connectedHostFromSocket4(socket4FD_) : std::nullopt;
}
std::optional<std::string> DispatchSocket::connectedHost6() {
  assertOnSocketQueue();
  return socket6FD_ != -1 ? connectedHostFromSocket6(socket6FD_) : std::nullopt;
}
std::uint16_t DispatchSocket::connectedPort4() {
  assertOnSocketQueue();
  return socket4FD_ != -1 ? connectedPortFromSocket4(socket4FD_) : 0;
}
std::uint16_t DispatchSocket::connectedPort6() {
  assertOnSocketQueue();
  return socket6FD_ != -1 ? connectedPortFromSocket6(socket6FD_) : 0;
}
std::optional<std::string> DispatchSocket::localHost4() {
  assertOnSocketQueue();
  return socket4FD_ != -1 ? localHostFromSocket4(socket4FD_) : std::nullopt;
}
std::optional<std::string> DispatchSocket::localHost6() {
  assertOnSocketQueue();
  return socket6FD_ != -1 ? localHostFromSocket6(socket6FD_) : std::nullopt;
}
std::uint16_t DispatchSocket::localPort4() {
  assertOnSocketQueue();
  return socket4FD_ != -1 ? localPortFromSocket4(socket4FD_) : 0;
}
std::uint16_t DispatchSocket::localPort6() {
  assertOnSocketQueue();
  return socket6FD_ != -1 ? localPortFromSocket6(socket6FD_) : 0;
}

// ---------------------------------------------------------------------------------------------
// Queue access

void DispatchSocket::performBlock(const std::function<void()>& block) {
  runSync(block);
}

int DispatchSocket::socketFD() {
  if (!isOnSocketQueue()) return -1;
  return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int DispatchSocket::socket4FD() {
  return isOnSocketQueue() ? socket4FD_ : -1;
}
int DispatchSocket::socket6FD() {
  return isOnSocketQueue() ? socket6FD_ : -1;
}
ns::Ref<sec::SSLContext> DispatchSocket::sslContext() {
  return isOnSocketQueue() ? sslContext_ : nullptr;
}

void DispatchSocket::markSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketNewTargetQueue) {
  dispatch::setSpecific(socketNewTargetQueue, &IsOnSocketQueueOrTargetQueueKey_, this);
}

void DispatchSocket::unmarkSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketOldTargetQueue) {
  dispatch::setSpecific(socketOldTargetQueue, &IsOnSocketQueueOrTargetQueueKey_, nullptr);
}
