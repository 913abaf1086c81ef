#include "lib/sockets/DispatchSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "lib/sockets/DispatchReadPacket.h"
#include "lib/sockets/DispatchSocketPreBuffer.h"
#include "lib/sockets/DispatchSpecialPacket.h"
#include "lib/sockets/DispatchWritePacket.h"
#include "platform/core/Exception.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace {

// Bits of flags_.
constexpr std::uint32_t flagStarted = 1 << 0;
constexpr std::uint32_t flagConnected = 1 << 1;
constexpr std::uint32_t flagForbidReadsWrites = 1 << 2;
constexpr std::uint32_t flagReadsPaused = 1 << 3;
constexpr std::uint32_t flagWritesPaused = 1 << 4;
constexpr std::uint32_t flagDisconnectAfterReads = 1 << 5;
constexpr std::uint32_t flagDisconnectAfterWrites = 1 << 6;
constexpr std::uint32_t flagSocketCanAcceptBytes = 1 << 7;
constexpr std::uint32_t flagReadSourceSuspended = 1 << 8;
constexpr std::uint32_t flagWriteSourceSuspended = 1 << 9;
constexpr std::uint32_t flagQueuedTLS = 1 << 10;
constexpr std::uint32_t flagStartingReadTLS = 1 << 11;
constexpr std::uint32_t flagStartingWriteTLS = 1 << 12;
constexpr std::uint32_t flagSocketSecure = 1 << 13;
constexpr std::uint32_t flagSocketHasReadEOF = 1 << 14;
constexpr std::uint32_t flagReadStreamClosed = 1 << 15;
constexpr std::uint32_t flagDeallocating = 1 << 16;

// Bits of config_.
constexpr std::uint16_t configIPv4Disabled = 1 << 0;
constexpr std::uint16_t configIPv6Disabled = 1 << 1;
constexpr std::uint16_t configPreferIPv6 = 1 << 2;
constexpr std::uint16_t configAllowHalfDuplex = 1 << 3;

// TLS statuses that end a stream.
constexpr int errSSLClosedGraceful = -9805;
constexpr int errSSLClosedAbort = -9806;

constexpr std::size_t kPreBufferCapacity = 4096;
constexpr int kListenBacklog = 1024;

bool wouldBlock(int err) { return err == EWOULDBLOCK || err == EAGAIN; }

// Closing a connection whose received bytes were never read makes the kernel reset it, and a
// reset can destroy what the peer has not yet read of our last writes (an error response, for
// instance). Bytes that already arrived are discarded first, up to a bound, so that the close
// is an orderly end of stream.
void discardUnreadInput(int socketFD) {
  constexpr std::size_t kMaxDiscard = 256 * 1024;
  char scratch[16384];
  std::size_t total = 0;
  while (total < kMaxDiscard) {
    ssize_t n = ::recv(socketFD, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
}

// Fills the progress out-parameters (zeros when no request is current) and answers the
// fraction done: NaN without a request, 1 for a request of unknown total.
float reportProgress(bool current, long tag, std::uint64_t done, std::uint64_t total, long* tagPtr,
                     std::uint64_t* donePtr, std::uint64_t* totalPtr) {
  if (tagPtr) *tagPtr = tag;
  if (donePtr) *donePtr = done;
  if (totalPtr) *totalPtr = total;
  if (!current) return std::numeric_limits<float>::quiet_NaN();
  return total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 1.0f;
}

}  // namespace

struct DispatchSocket::Sources {
  ns::Ref<dispatch::Source> accept4Source;
  ns::Ref<dispatch::Source> accept6Source;
  ns::Ref<dispatch::Source> connectTimer;
  ns::Ref<dispatch::Source> readSource;
  ns::Ref<dispatch::Source> writeSource;
  ns::Ref<dispatch::Source> readTimer;
  ns::Ref<dispatch::Source> writeTimer;
};

// ---------------------------------------------------------------------------------------------
// Creation and destruction

DispatchSocket::DispatchSocket() : DispatchSocket(ns::Weak<DispatchSocketDelegate>(), nullptr, nullptr) {}

DispatchSocket::DispatchSocket(ns::Ref<dispatch::Queue> socketQueue)
    : DispatchSocket(ns::Weak<DispatchSocketDelegate>(), nullptr, std::move(socketQueue)) {}

DispatchSocket::DispatchSocket(ns::Weak<DispatchSocketDelegate> delegate, ns::Ref<dispatch::Queue> delegateQueue)
    : DispatchSocket(std::move(delegate), std::move(delegateQueue), nullptr) {}

DispatchSocket::DispatchSocket(ns::Weak<DispatchSocketDelegate> delegate, ns::Ref<dispatch::Queue> delegateQueue,
                               ns::Ref<dispatch::Queue> socketQueue)
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      sources_(std::make_unique<Sources>()),
      preBuffer_(std::make_unique<DispatchSocketPreBuffer>(kPreBufferCapacity)),
      IsOnSocketQueueOrTargetQueueKey_(&IsOnSocketQueueOrTargetQueueKey_) {
  if (socketQueue) {
    // All state is kept lock-free on this queue, which only a serial queue makes safe.
    if (!socketQueue->isSerial()) {
      ns::Exception::raise(DispatchSocketException, "The given socketQueue parameter must not be a concurrent queue.");
    }
    socketQueue_ = std::move(socketQueue);
  } else {
    socketQueue_ = dispatch::queueCreate("DispatchSocket", dispatch::QueueAttr::Serial);
  }
  dispatch::setSpecific(socketQueue_, &IsOnSocketQueueOrTargetQueueKey_, this);
}

DispatchSocket::~DispatchSocket() {
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
// Delegate and configuration

ns::Ref<DispatchSocketDelegate> DispatchSocket::delegate() {
  return query([&] { return delegate_.lock(); });
}

ns::Ref<dispatch::Queue> DispatchSocket::delegateQueue() {
  return query([&] { return delegateQueue_; });
}

void DispatchSocket::getDelegate_delegateQueue(ns::Ref<DispatchSocketDelegate>* delegatePtr,
                                               ns::Ref<dispatch::Queue>* delegateQueuePtr) {
  runSync([&] {
    if (delegatePtr) *delegatePtr = delegate_.lock();
    if (delegateQueuePtr) *delegateQueuePtr = delegateQueue_;
  });
}

void DispatchSocket::setDelegate_synchronously(ns::Weak<DispatchSocketDelegate> delegate, bool synchronously) {
  auto body = [this, delegate = std::move(delegate)] { delegate_ = delegate; };
  if (synchronously) {
    runSync(body);
  } else {
    runInlineOrAsync(body);
  }
}

void DispatchSocket::setDelegateQueue_synchronously(ns::Ref<dispatch::Queue> delegateQueue, bool synchronously) {
  auto body = [this, delegateQueue = std::move(delegateQueue)] { delegateQueue_ = delegateQueue; };
  if (synchronously) {
    runSync(body);
  } else {
    runInlineOrAsync(body);
  }
}

void DispatchSocket::setDelegate_delegateQueue_synchronously(ns::Weak<DispatchSocketDelegate> delegate,
                                                             ns::Ref<dispatch::Queue> delegateQueue,
                                                             bool synchronously) {
  auto body = [this, delegate = std::move(delegate), delegateQueue = std::move(delegateQueue)] {
    delegate_ = delegate;
    delegateQueue_ = delegateQueue;
  };
  if (synchronously) {
    runSync(body);
  } else {
    runInlineOrAsync(body);
  }
}

void DispatchSocket::setDelegate(ns::Weak<DispatchSocketDelegate> delegate) {
  setDelegate_synchronously(std::move(delegate), false);
}
void DispatchSocket::synchronouslySetDelegate(ns::Weak<DispatchSocketDelegate> delegate) {
  setDelegate_synchronously(std::move(delegate), true);
}
void DispatchSocket::setDelegateQueue(ns::Ref<dispatch::Queue> delegateQueue) {
  setDelegateQueue_synchronously(std::move(delegateQueue), false);
}
void DispatchSocket::synchronouslySetDelegateQueue(ns::Ref<dispatch::Queue> delegateQueue) {
  setDelegateQueue_synchronously(std::move(delegateQueue), true);
}
void DispatchSocket::setDelegate_delegateQueue(ns::Weak<DispatchSocketDelegate> delegate,
                                               ns::Ref<dispatch::Queue> delegateQueue) {
  setDelegate_delegateQueue_synchronously(std::move(delegate), std::move(delegateQueue), false);
}
void DispatchSocket::synchronouslySetDelegate_delegateQueue(ns::Weak<DispatchSocketDelegate> delegate,
                                                            ns::Ref<dispatch::Queue> delegateQueue) {
  setDelegate_delegateQueue_synchronously(std::move(delegate), std::move(delegateQueue), true);
}

bool DispatchSocket::isConfigBitClear(std::uint16_t bit) {
  return query([&] { return (config_ & bit) == 0; });
}

void DispatchSocket::setConfigBitClear(std::uint16_t bit, bool clear) {
  runInlineOrAsync([this, bit, clear] {
    if (clear) {
      config_ &= static_cast<std::uint16_t>(~bit);
    } else {
      config_ |= bit;
    }
  });
}

bool DispatchSocket::isIPv4Enabled() { return isConfigBitClear(configIPv4Disabled); }
void DispatchSocket::setIPv4Enabled(bool flag) { setConfigBitClear(configIPv4Disabled, flag); }
bool DispatchSocket::isIPv6Enabled() { return isConfigBitClear(configIPv6Disabled); }
void DispatchSocket::setIPv6Enabled(bool flag) { setConfigBitClear(configIPv6Disabled, flag); }
bool DispatchSocket::isIPv4PreferredOverIPv6() { return isConfigBitClear(configPreferIPv6); }
void DispatchSocket::setIPv4PreferredOverIPv6(bool flag) { setConfigBitClear(configPreferIPv6, flag); }
bool DispatchSocket::autoDisconnectOnClosedReadStream() { return isConfigBitClear(configAllowHalfDuplex); }
void DispatchSocket::setAutoDisconnectOnClosedReadStream(bool flag) { setConfigBitClear(configAllowHalfDuplex, flag); }

ns::Value DispatchSocket::userData() {
  return query([&] { return userData_; });
}

void DispatchSocket::setUserData(ns::Value userData) {
  runInlineOrAsync([this, userData = std::move(userData)] { userData_ = userData; });
}

// ---------------------------------------------------------------------------------------------
// Accepting

bool DispatchSocket::acceptOnPort_error(std::uint16_t port, ns::Error* errPtr) {
  return acceptOnInterface_port_error(std::nullopt, port, errPtr);
}

int DispatchSocket::createListeningSocket(int domain, const ns::Data& interfaceAddr, ns::Error* errPtr) {
  int socketFD = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketFD == -1) {
    ns::setError(errPtr, errnoErrorWithReason("Error in socket() function"));
    return -1;
  }
  auto fail = [&](const char* reason) {
    ns::Error error = errnoErrorWithReason(reason);
    ::close(socketFD);
    ns::setError(errPtr, std::move(error));
    return -1;
  };
  int flags = ::fcntl(socketFD, F_GETFL);
  if (flags == -1 || ::fcntl(socketFD, F_SETFL, flags | O_NONBLOCK) == -1) {
    return fail("Error enabling non-blocking IO on socket (fcntl)");
  }
  int reuseOn = 1;
  if (::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn) == -1) {
    return fail("Error enabling address reuse (setsockopt)");
  }
  if (domain == AF_INET6) {
    // An IPv6 socket serves IPv6 only; IPv4 has its own descriptor.
    int v6Only = 1;
    if (::setsockopt(socketFD, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) == -1) {
      return fail("Error enabling IPv6-only mode (setsockopt)");
    }
  }
  if (::bind(socketFD, reinterpret_cast<const sockaddr*>(interfaceAddr.bytes()),
             static_cast<socklen_t>(interfaceAddr.length())) == -1) {
    return fail("Error in bind() function");
  }
  if (::listen(socketFD, kListenBacklog) == -1) {
    return fail("Error in listen() function");
  }
  return socketFD;
}

bool DispatchSocket::acceptOnInterface_port_error(const std::optional<std::string>& interface, std::uint16_t port,
                                                  ns::Error* errPtr) {
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
      error = badConfigError("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
      return;
    }
    if (flags_ & flagStarted) {
      error = badConfigError("Attempting to accept while connected or accepting connections. Disconnect first.");
      return;
    }
    readQueue_.clear();
    writeQueue_.clear();

    std::optional<ns::Data> interface4;
    std::optional<ns::Data> interface6;
    getInterfaceAddress4_address6_fromDescription_port(&interface4, &interface6, interfaceCopy, port);
    if (!interface4 && !interface6) {
      error = badParamError(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
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
  int childSocketFD = ::accept4(parentSocketFD, reinterpret_cast<sockaddr*>(&addr), &addrLen,
                                SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (childSocketFD == -1) return false;
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
  auto readSource = dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(socketFD), 0,
                                           socketQueue_);
  auto writeSource = dispatch::sourceCreate(dispatch::SourceType::Write, static_cast<std::uintptr_t>(socketFD), 0,
                                            socketQueue_);
  ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
  ns::Weak<dispatch::Source> weakReadSource = readSource;

  readSource->setEventHandler([weakSelf, weakReadSource] {
    auto strongSelf = weakSelf.lock();
    auto source = weakReadSource.lock();
    if (!strongSelf || !source) return;
    strongSelf->socketFDBytesAvailable_ = source->data();
    if (strongSelf->socketFDBytesAvailable_ > 0) {
      strongSelf->doReadData();
    } else {
      strongSelf->doReadEOF();
    }
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
  flags_ &= ~flagReadSourceSuspended;
  readSource->resume();
  // The socket assumes it can write and watches for writability only after a write would block.
  flags_ |= flagSocketCanAcceptBytes | flagWriteSourceSuspended;
}

void DispatchSocket::suspendReadSource() {
  assertOnSocketQueue();
  if (!(flags_ & flagReadSourceSuspended) && sources_->readSource) {
    sources_->readSource->suspend();
    flags_ |= flagReadSourceSuspended;
  }
}

void DispatchSocket::resumeReadSource() {
  assertOnSocketQueue();
  if ((flags_ & flagReadSourceSuspended) && sources_->readSource) {
    sources_->readSource->resume();
    flags_ &= ~flagReadSourceSuspended;
  }
}

void DispatchSocket::suspendWriteSource() {
  assertOnSocketQueue();
  if (!(flags_ & flagWriteSourceSuspended) && sources_->writeSource) {
    sources_->writeSource->suspend();
    flags_ |= flagWriteSourceSuspended;
  }
}

void DispatchSocket::resumeWriteSource() {
  assertOnSocketQueue();
  if ((flags_ & flagWriteSourceSuspended) && sources_->writeSource) {
    sources_->writeSource->resume();
    flags_ &= ~flagWriteSourceSuspended;
  }
}

// ---------------------------------------------------------------------------------------------
// Reading

void DispatchSocket::readDataWithTimeout_tag(double timeout, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataWithTimeout_buffer_bufferOffset_tag(double timeout, ns::Ref<ns::MutableData> buffer,
                                                                 std::size_t offset, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataWithTimeout_buffer_bufferOffset_maxLength_tag(double timeout,
                                                                           ns::Ref<ns::MutableData> buffer,
                                                                           std::size_t offset, std::size_t length,
                                                                           long tag) {
  if (buffer && offset > buffer->length()) return;
  queueRead(ns::make<DispatchReadPacket>(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag));
}

void DispatchSocket::readDataToLength_withTimeout_tag(std::size_t length, double timeout, long tag) {
  readDataToLength_withTimeout_buffer_bufferOffset_tag(length, timeout, nullptr, 0, tag);
}

void DispatchSocket::readDataToLength_withTimeout_buffer_bufferOffset_tag(std::size_t length, double timeout,
                                                                          ns::Ref<ns::MutableData> buffer,
                                                                          std::size_t offset, long tag) {
  if (length == 0) return;
  if (buffer && offset > buffer->length()) return;
  queueRead(ns::make<DispatchReadPacket>(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag));
}

void DispatchSocket::readDataToData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataToData_withTimeout_buffer_bufferOffset_tag(const ns::Data& data, double timeout,
                                                                        ns::Ref<ns::MutableData> buffer,
                                                                        std::size_t offset, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataToData_withTimeout_maxLength_tag(const ns::Data& data, double timeout,
                                                              std::size_t length, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, length, tag);
}

void DispatchSocket::readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(const ns::Data& data,
                                                                                  double timeout,
                                                                                  ns::Ref<ns::MutableData> buffer,
                                                                                  std::size_t offset,
                                                                                  std::size_t length, long tag) {
  if (data.length() == 0) return;
  if (buffer && offset > buffer->length()) return;
  if (length > 0 && length < data.length()) return;
  queueRead(ns::make<DispatchReadPacket>(std::move(buffer), offset, length, timeout, 0, data, tag));
}

void DispatchSocket::queueRead(ns::Ref<DispatchReadPacket> packet) {
  runAsync([this, packet = std::move(packet)] {
    if ((flags_ & flagStarted) && !(flags_ & flagForbidReadsWrites)) {
      readQueue_.push_back(packet);
      maybeDequeueRead();
    }
  });
}

float DispatchSocket::progressOfReadReturningTag_bytesDone_total(long* tagPtr, std::uint64_t* donePtr,
                                                                 std::uint64_t* totalPtr) {
  return query([&] {
    const DispatchReadPacket* packet = currentReadPacket();
    if (!packet) return reportProgress(false, 0, 0, 0, tagPtr, donePtr, totalPtr);
    return reportProgress(true, packet->tag, packet->bytesDone, packet->readLength, tagPtr, donePtr, totalPtr);
  });
}

void DispatchSocket::maybeDequeueRead() {
  assertOnSocketQueue();
  if (currentRead_ || !(flags_ & flagConnected)) return;
  if (!readQueue_.empty()) {
    currentRead_ = readQueue_.front();
    readQueue_.pop_front();
    if (auto* packet = currentReadPacket()) {
      setupReadTimerWithTimeout(packet->timeout);
      doReadData();
    } else {
      // A TLS start marker: TLS comes with the TLS layer; nothing queues one yet.
      flags_ |= flagStartingReadTLS;
    }
  } else if (flags_ & flagDisconnectAfterReads) {
    maybeClose();
  }
}

void DispatchSocket::doReadData() {
  assertOnSocketQueue();
  // Keeps the packet alive through completion, which drops currentRead_.
  ns::Ref<ns::Object> currentRead = currentRead_;
  auto* packet = currentReadPacket();
  if (!currentRead || (flags_ & flagReadsPaused)) {
    // Nobody wants the bytes now: stop the source from firing endlessly until a read comes.
    if (socketFDBytesAvailable_ > 0) suspendReadSource();
    return;
  }

  const std::size_t estimatedBytesAvailable = socketFDBytesAvailable_;
  const bool hasBytesAvailable = estimatedBytesAvailable > 0;
  if (!hasBytesAvailable && preBuffer_->availableBytes() == 0) {
    resumeReadSource();
    return;
  }
  if (flags_ & flagStartingReadTLS) {
    // The write side has not yet reached the TLS marker.
    suspendReadSource();
    return;
  }
  if (!packet) return;

  bool done = false;
  std::optional<ns::Error> error;
  std::size_t totalBytesReadForCurrentRead = 0;

  // Moves n bytes from the read-ahead buffer into the packet.
  auto moveFromPreBuffer = [&](std::size_t n) {
    if (!packet->ensureCapacityForAdditionalDataOfLength(n)) {
      error = otherError("Memory allocation failed");
      return false;
    }
    if (n > 0) std::memcpy(packet->writePosition(), preBuffer_->readBuffer(), n);
    preBuffer_->didRead(n);
    packet->bytesDone += n;
    totalBytesReadForCurrentRead += n;
    return true;
  };

  // 1. Serve the read from the read-ahead buffer.
  if (preBuffer_->availableBytes() > 0) {
    std::size_t bytesToCopy = packet->isTerminated()
                                  ? packet->readLengthForTermWithPreBuffer_found(*preBuffer_, &done)
                                  : packet->readLengthForNonTermWithHint(preBuffer_->availableBytes());
    if (moveFromPreBuffer(bytesToCopy)) {
      if (packet->isFixedLength()) {
        done = packet->bytesDone == packet->readLength;
      } else if (packet->isTerminated()) {
        if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) error = readMaxedOutError();
      } else {
        done = packet->maxLength > 0 && packet->bytesDone == packet->maxLength;
      }
    }
  }

  // 2. Then from the descriptor.
  bool socketEOF = (flags_ & flagSocketHasReadEOF) != 0;
  bool waiting = !done && !error && !socketEOF && !hasBytesAvailable;

  if (!done && !error && !socketEOF && hasBytesAvailable) {
    bool readIntoPreBuffer = false;
    std::size_t bytesToRead = packet->isTerminated()
                                  ? packet->readLengthForTermWithHint_shouldPreBuffer(estimatedBytesAvailable,
                                                                                      &readIntoPreBuffer)
                                  : packet->readLengthForNonTermWithHint(estimatedBytesAvailable);
    std::uint8_t* target = nullptr;
    if (bytesToRead == 0) {
      waiting = true;
    } else if (readIntoPreBuffer) {
      if (preBuffer_->ensureCapacityForWrite(bytesToRead)) {
        target = preBuffer_->writeBuffer();
      } else {
        error = otherError("Memory allocation failed");
      }
    } else {
      if (packet->ensureCapacityForAdditionalDataOfLength(bytesToRead)) {
        target = packet->writePosition();
      } else {
        error = otherError("Memory allocation failed");
      }
    }

    if (target) {
      int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
      ssize_t result = ::read(socketFD, target, bytesToRead);
      if (result < 0) {
        if (wouldBlock(errno)) {
          waiting = true;
        } else {
          error = errnoErrorWithReason("Error in read() function");
        }
        socketFDBytesAvailable_ = 0;
      } else if (result == 0) {
        socketEOF = true;
        socketFDBytesAvailable_ = 0;
      } else {
        std::size_t bytesRead = static_cast<std::size_t>(result);
        if (bytesRead < bytesToRead) {
          socketFDBytesAvailable_ = 0;
        } else {
          socketFDBytesAvailable_ -= std::min<std::uint64_t>(socketFDBytesAvailable_, bytesRead);
        }
        if (socketFDBytesAvailable_ == 0) waiting = true;

        if (packet->isFixedLength()) {
          packet->bytesDone += bytesRead;
          totalBytesReadForCurrentRead += bytesRead;
          done = packet->bytesDone == packet->readLength;
        } else if (packet->isTerminated()) {
          if (readIntoPreBuffer) {
            preBuffer_->didWrite(bytesRead);
            bool found = false;
            std::size_t bytesToCopy = packet->readLengthForTermWithPreBuffer_found(*preBuffer_, &found);
            if (moveFromPreBuffer(bytesToCopy)) done = found;
          } else {
            ssize_t overflow = packet->searchForTermAfterPreBuffering(result);
            if (overflow == 0) {
              packet->bytesDone += bytesRead;
              totalBytesReadForCurrentRead += bytesRead;
              done = true;
            } else if (overflow > 0) {
              // Bytes after the terminator belong to the next read.
              std::size_t overflowLength = static_cast<std::size_t>(overflow);
              std::size_t underflowLength = bytesRead - overflowLength;
              if (preBuffer_->ensureCapacityForWrite(overflowLength)) {
                std::memcpy(preBuffer_->writeBuffer(), packet->writePosition() + underflowLength, overflowLength);
                preBuffer_->didWrite(overflowLength);
                packet->bytesDone += underflowLength;
                totalBytesReadForCurrentRead += underflowLength;
                done = true;
              } else {
                error = otherError("Memory allocation failed");
              }
            } else {
              packet->bytesDone += bytesRead;
              totalBytesReadForCurrentRead += bytesRead;
            }
          }
          if (!done && !error && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
            error = readMaxedOutError();
          }
        } else {
          packet->bytesDone += bytesRead;
          totalBytesReadForCurrentRead += bytesRead;
          done = true;
        }
      }
    }
  }

  // A read of whatever is available is done once it got anything.
  if (!done && !error && !packet->isFixedLength() && !packet->isTerminated() && totalBytesReadForCurrentRead > 0) {
    done = true;
  }

  if (done) {
    completeCurrentRead();
    if (!error && (!socketEOF || preBuffer_->availableBytes() > 0)) {
      maybeDequeueRead();
      // The next read may have closed the socket; nothing below applies to a closed socket.
      if (!(flags_ & flagStarted)) return;
    }
  } else if (totalBytesReadForCurrentRead > 0) {
    std::uint64_t partial = totalBytesReadForCurrentRead;
    long tag = packet->tag;
    notifyDelegate([partial, tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
      d.socket_didReadPartialDataOfLength_tag(s, partial, tag);
    });
  }

  if (error) {
    closeWithError(error);
  } else if (socketEOF) {
    doReadEOF();
  } else if (waiting) {
    resumeReadSource();
  }
}

void DispatchSocket::doReadEOF() {
  assertOnSocketQueue();
  flags_ |= flagSocketHasReadEOF;

  bool shouldDisconnect = false;
  std::optional<ns::Error> error;
  if ((flags_ & flagStartingReadTLS) || (flags_ & flagStartingWriteTLS)) {
    // The handshake can no longer happen.
    shouldDisconnect = true;
    error = sslError(errSSLClosedAbort);
  } else if (flags_ & flagReadStreamClosed) {
    shouldDisconnect = false;
  } else if (preBuffer_->availableBytes() > 0) {
    // Queued reads can still consume these.
    shouldDisconnect = false;
  } else if (config_ & configAllowHalfDuplex) {
    int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
    pollfd pfd{socketFD, POLLOUT, 0};
    ::poll(&pfd, 1, 0);
    if (pfd.revents & POLLOUT) {
      shouldDisconnect = false;
      flags_ |= flagReadStreamClosed;
      notifyDelegate([](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) { d.socketDidCloseReadStream(s); });
    } else {
      shouldDisconnect = true;
    }
  } else {
    shouldDisconnect = true;
  }

  if (shouldDisconnect) {
    if (!error) {
      if (sslErrCode_ != 0 && sslErrCode_ != errSSLClosedGraceful) {
        error = sslError(sslErrCode_);
      } else {
        error = connectionClosedError();
      }
    }
    closeWithError(error);
  } else {
    suspendReadSource();
  }
}

void DispatchSocket::completeCurrentRead() {
  assertOnSocketQueue();
  auto* packet = currentReadPacket();
  ns::Data result = packet->takeResult();
  long tag = packet->tag;
  notifyDelegate([result, tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
    d.socket_didReadData_withTag(s, result, tag);
  });
  endCurrentRead();
}

void DispatchSocket::endCurrentRead() {
  assertOnSocketQueue();
  if (sources_->readTimer) {
    sources_->readTimer->cancel();
    sources_->readTimer = nullptr;
  }
  currentRead_ = nullptr;
}

ns::Ref<dispatch::Source> DispatchSocket::startTimeoutTimer(double timeout, void (DispatchSocket::*onTimeout)()) {
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

void DispatchSocket::setupReadTimerWithTimeout(double timeout) {
  assertOnSocketQueue();
  sources_->readTimer = startTimeoutTimer(timeout, &DispatchSocket::doReadTimeout);
}

template <class Packet>
void DispatchSocket::askForTimeoutExtension(const ns::Ref<Packet>& packet, TimeoutQuestion question,
                                            void (DispatchSocket::*withExtension)(double, const Packet*)) {
  assertOnSocketQueue();
  auto delegate = delegate_.lock();
  if (!delegateQueue_ || !delegate) {
    (this->*withExtension)(0, packet.get());
    return;
  }
  auto me = self<DispatchSocket>();
  long tag = packet->tag;
  double elapsed = packet->timeout;
  std::uint64_t bytesDone = packet->bytesDone;
  dispatch::async(delegateQueue_, [me, delegate, packet, tag, elapsed, bytesDone, question, withExtension] {
    double timeoutExtension = ((*delegate).*question)(me, tag, elapsed, bytesDone);
    dispatch::async(me->socketQueue_, [me, packet, timeoutExtension, withExtension] {
      ((*me).*withExtension)(timeoutExtension, packet.get());
    });
  });
}

void DispatchSocket::doReadTimeout() {
  assertOnSocketQueue();
  // The read step now only holds the source while the delegate decides.
  flags_ |= flagReadsPaused;
  auto packet = std::dynamic_pointer_cast<DispatchReadPacket>(currentRead_);
  if (!packet) return;
  askForTimeoutExtension(packet, &DispatchSocketDelegate::socket_shouldTimeoutReadWithTag_elapsed_bytesDone,
                         &DispatchSocket::doReadTimeoutWithExtension);
}

void DispatchSocket::doReadTimeoutWithExtension(double timeoutExtension, const DispatchReadPacket* packet) {
  assertOnSocketQueue();
  // The answer belongs to the read that timed out; it means nothing once that read is gone.
  if (!currentRead_ || currentRead_.get() != packet) return;
  auto* current = currentReadPacket();
  if (timeoutExtension > 0) {
    current->timeout += timeoutExtension;
    if (sources_->readTimer) sources_->readTimer->setTimer(dispatch::time(timeoutExtension), dispatch::TimeForever, 0);
    flags_ &= ~flagReadsPaused;
    doReadData();
  } else {
    closeWithError(readTimeoutError());
  }
}

// ---------------------------------------------------------------------------------------------
// Writing

void DispatchSocket::writeData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  if (data.length() == 0) return;
  auto packet = ns::make<DispatchWritePacket>(data, timeout, tag);
  runAsync([this, packet] {
    if ((flags_ & flagStarted) && !(flags_ & flagForbidReadsWrites)) {
      writeQueue_.push_back(packet);
      maybeDequeueWrite();
    }
  });
}

float DispatchSocket::progressOfWriteReturningTag_bytesDone_total(long* tagPtr, std::uint64_t* donePtr,
                                                                  std::uint64_t* totalPtr) {
  return query([&] {
    const DispatchWritePacket* packet = currentWritePacket();
    if (!packet) return reportProgress(false, 0, 0, 0, tagPtr, donePtr, totalPtr);
    return reportProgress(true, packet->tag, packet->bytesDone, packet->buffer.length(), tagPtr, donePtr, totalPtr);
  });
}

void DispatchSocket::maybeDequeueWrite() {
  assertOnSocketQueue();
  if (currentWrite_ || !(flags_ & flagConnected)) return;
  if (!writeQueue_.empty()) {
    currentWrite_ = writeQueue_.front();
    writeQueue_.pop_front();
    if (auto* packet = currentWritePacket()) {
      setupWriteTimerWithTimeout(packet->timeout);
      doWriteData();
    } else {
      flags_ |= flagStartingWriteTLS;
    }
  } else if (flags_ & flagDisconnectAfterWrites) {
    maybeClose();
  }
}

void DispatchSocket::doWriteData() {
  assertOnSocketQueue();
  ns::Ref<ns::Object> currentWrite = currentWrite_;
  if (!currentWrite || (flags_ & flagWritesPaused)) {
    // Nothing to write: stop the source from firing endlessly.
    if (flags_ & flagSocketCanAcceptBytes) suspendWriteSource();
    return;
  }
  if (!(flags_ & flagSocketCanAcceptBytes)) {
    resumeWriteSource();
    return;
  }
  if (flags_ & flagStartingWriteTLS) {
    suspendWriteSource();
    return;
  }
  auto* packet = currentWritePacket();
  if (!packet) return;

  bool waiting = false;
  std::optional<ns::Error> error;
  std::size_t bytesWritten = 0;

  int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
  const std::uint8_t* buffer = packet->buffer.bytes() + packet->bytesDone;
  std::size_t bytesToWrite = packet->buffer.length() - packet->bytesDone;
  // MSG_NOSIGNAL: a peer that has gone yields EPIPE, not a signal.
  ssize_t result = ::send(socketFD, buffer, bytesToWrite, MSG_NOSIGNAL);
  if (result < 0) {
    if (wouldBlock(errno)) {
      waiting = true;
    } else {
      error = errnoErrorWithReason("Error in write() function");
    }
  } else {
    bytesWritten = static_cast<std::size_t>(result);
  }

  // Before any dequeue, which may re-enter this step.
  if (waiting) {
    flags_ &= ~flagSocketCanAcceptBytes;
    resumeWriteSource();
  }

  bool done = false;
  if (bytesWritten > 0) {
    packet->bytesDone += bytesWritten;
    done = packet->bytesDone == packet->buffer.length();
  }

  if (done) {
    completeCurrentWrite();
    if (!error) {
      // The next write starts in a later block.
      runAsync([this] { maybeDequeueWrite(); });
    }
  } else {
    if (!waiting && !error) {
      // The descriptor took only part: wait for room.
      flags_ &= ~flagSocketCanAcceptBytes;
      resumeWriteSource();
    }
    if (bytesWritten > 0) {
      std::uint64_t partial = bytesWritten;
      long tag = packet->tag;
      notifyDelegate([partial, tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
        d.socket_didWritePartialDataOfLength_tag(s, partial, tag);
      });
    }
  }

  if (error) closeWithError(error);
}

void DispatchSocket::completeCurrentWrite() {
  assertOnSocketQueue();
  long tag = currentWritePacket()->tag;
  notifyDelegate([tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) { d.socket_didWriteDataWithTag(s, tag); });
  endCurrentWrite();
}

void DispatchSocket::endCurrentWrite() {
  assertOnSocketQueue();
  if (sources_->writeTimer) {
    sources_->writeTimer->cancel();
    sources_->writeTimer = nullptr;
  }
  currentWrite_ = nullptr;
}

void DispatchSocket::setupWriteTimerWithTimeout(double timeout) {
  assertOnSocketQueue();
  sources_->writeTimer = startTimeoutTimer(timeout, &DispatchSocket::doWriteTimeout);
}

void DispatchSocket::doWriteTimeout() {
  assertOnSocketQueue();
  flags_ |= flagWritesPaused;
  auto packet = std::dynamic_pointer_cast<DispatchWritePacket>(currentWrite_);
  if (!packet) return;
  askForTimeoutExtension(packet, &DispatchSocketDelegate::socket_shouldTimeoutWriteWithTag_elapsed_bytesDone,
                         &DispatchSocket::doWriteTimeoutWithExtension);
}

void DispatchSocket::doWriteTimeoutWithExtension(double timeoutExtension, const DispatchWritePacket* packet) {
  assertOnSocketQueue();
  if (!currentWrite_ || currentWrite_.get() != packet) return;
  auto* current = currentWritePacket();
  if (timeoutExtension > 0) {
    current->timeout += timeoutExtension;
    if (sources_->writeTimer) {
      sources_->writeTimer->setTimer(dispatch::time(timeoutExtension), dispatch::TimeForever, 0);
    }
    flags_ &= ~flagWritesPaused;
    doWriteData();
  } else {
    closeWithError(writeTimeoutError());
  }
}

// ---------------------------------------------------------------------------------------------
// Disconnecting

void DispatchSocket::disconnect() {
  runSync([this] {
    if (flags_ & flagStarted) closeWithError(std::nullopt);
  });
}

void DispatchSocket::disconnectAfterReading() {
  runAsync([this] {
    if (flags_ & flagStarted) {
      flags_ |= flagForbidReadsWrites | flagDisconnectAfterReads;
      maybeClose();
    }
  });
}

void DispatchSocket::disconnectAfterWriting() {
  runAsync([this] {
    if (flags_ & flagStarted) {
      flags_ |= flagForbidReadsWrites | flagDisconnectAfterWrites;
      maybeClose();
    }
  });
}

void DispatchSocket::disconnectAfterReadingAndWriting() {
  runAsync([this] {
    if (flags_ & flagStarted) {
      flags_ |= flagForbidReadsWrites | flagDisconnectAfterReads | flagDisconnectAfterWrites;
      maybeClose();
    }
  });
}

void DispatchSocket::maybeClose() {
  assertOnSocketQueue();
  bool shouldClose = false;
  if (flags_ & flagDisconnectAfterReads) {
    if (readQueue_.empty() && !currentRead_) {
      if (flags_ & flagDisconnectAfterWrites) {
        shouldClose = writeQueue_.empty() && !currentWrite_;
      } else {
        shouldClose = true;
      }
    }
  } else if (flags_ & flagDisconnectAfterWrites) {
    shouldClose = writeQueue_.empty() && !currentWrite_;
  }
  if (shouldClose) closeWithError(std::nullopt);
}

void DispatchSocket::endConnectTimeout() {
  assertOnSocketQueue();
  if (sources_->connectTimer) {
    sources_->connectTimer->cancel();
    sources_->connectTimer = nullptr;
  }
  // Late results of a lookup or connect carry the old index and are ignored.
  ++stateIndex_;
  connectInterface4_.reset();
  connectInterface6_.reset();
}

void DispatchSocket::closeWithError(std::optional<ns::Error> error) {
  assertOnSocketQueue();
  endConnectTimeout();
  if (currentRead_) endCurrentRead();
  if (currentWrite_) endCurrentWrite();

  readQueue_.clear();
  writeQueue_.clear();
  preBuffer_->reset();
  sslErrCode_ = 0;

  if (flags_ & flagConnected) {
    if (socket4FD_ != -1) discardUnreadInput(socket4FD_);
    if (socket6FD_ != -1) discardUnreadInput(socket6FD_);
  }

  Sources& s = *sources_;
  if (!s.accept4Source && !s.accept6Source && !s.readSource && !s.writeSource) {
    if (socket4FD_ != -1) ::close(socket4FD_);
    if (socket6FD_ != -1) ::close(socket6FD_);
  } else {
    // The cancel handlers close the descriptors. A suspended source never runs its cancel
    // handler, so suspended ones are resumed after cancelling.
    // A listening descriptor stops listening now rather than when its cancel handler runs, so
    // that once a disconnect returns the port refuses connections and can be bound again.
    if (s.accept4Source && socket4FD_ != -1) ::shutdown(socket4FD_, SHUT_RDWR);
    if (s.accept6Source && socket6FD_ != -1) ::shutdown(socket6FD_, SHUT_RDWR);
    if (s.accept4Source) {
      s.accept4Source->cancel();
      s.accept4Source = nullptr;
    }
    if (s.accept6Source) {
      s.accept6Source->cancel();
      s.accept6Source = nullptr;
    }
    if (s.readSource) {
      s.readSource->cancel();
      if (flags_ & flagReadSourceSuspended) s.readSource->resume();
      s.readSource = nullptr;
    }
    if (s.writeSource) {
      s.writeSource->cancel();
      if (flags_ & flagWriteSourceSuspended) s.writeSource->resume();
      s.writeSource = nullptr;
    }
  }
  socket4FD_ = -1;
  socket6FD_ = -1;

  const bool shouldCallDelegate = (flags_ & flagStarted) != 0;
  const bool isDeallocating = (flags_ & flagDeallocating) != 0;
  socketFDBytesAvailable_ = 0;
  flags_ = isDeallocating ? flagDeallocating : 0;

  if (shouldCallDelegate && delegateQueue_) {
    auto delegate = delegate_.lock();
    if (delegate) {
      // A dying socket is not handed out: the message must not keep it alive.
      ns::Ref<DispatchSocket> me = isDeallocating ? nullptr : self<DispatchSocket>();
      dispatch::async(delegateQueue_, [delegate, me, error] { delegate->socketDidDisconnect_withError(me, error); });
    }
  }
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

std::optional<ns::Data> DispatchSocket::connectedAddress() { return addressOf(true); }
std::optional<ns::Data> DispatchSocket::localAddress() { return addressOf(false); }

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

void DispatchSocket::performBlock(const std::function<void()>& block) { runSync(block); }

int DispatchSocket::socketFD() {
  if (!isOnSocketQueue()) return -1;
  return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int DispatchSocket::socket4FD() { return isOnSocketQueue() ? socket4FD_ : -1; }
int DispatchSocket::socket6FD() { return isOnSocketQueue() ? socket6FD_ : -1; }
void* DispatchSocket::sslContext() { return isOnSocketQueue() ? sslContext_ : nullptr; }

void DispatchSocket::markSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketNewTargetQueue) {
  dispatch::setSpecific(socketNewTargetQueue, &IsOnSocketQueueOrTargetQueueKey_, this);
}

void DispatchSocket::unmarkSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketOldTargetQueue) {
  dispatch::setSpecific(socketOldTargetQueue, &IsOnSocketQueueOrTargetQueueKey_, nullptr);
}
