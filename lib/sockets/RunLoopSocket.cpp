#include "lib/sockets/RunLoopSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/sockets/RunLoopSocketPackets.h"
#include "lib/sockets/SocketResolver.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/net/Socket.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

namespace {

enum : std::uint16_t {
  kEnablePreBuffering = 0x0001,
  kDidStartConnect = 0x0002,
  kDidCompleteOpenForRead = 0x0004,
  kDidCompleteOpenForWrite = 0x0008,
  kStartingReadTLS = 0x0010,
  kStartingWriteTLS = 0x0020,
  kForbidReadsWrites = 0x0040,
  kDisconnectAfterReads = 0x0080,
  kDisconnectAfterWrites = 0x0100,
  kClosingWithError = 0x0200,
  kDequeueReadScheduled = 0x0400,
  kDequeueWriteScheduled = 0x0800,
  kSocketCanAcceptBytes = 0x1000,
  kSocketHasBytesAvailable = 0x2000,
};

constexpr std::size_t kWriteChunk = 4096;
constexpr std::size_t kUnreadChunk = 256;

ns::Error socketError(long code) {
  const char* text = "General CFSocket error";
  switch (code) {
    case RunLoopSocketCanceledError:
      text = "Connection canceled";
      break;
    case RunLoopSocketConnectTimeoutError:
      text = "Attempt to connect to host timed out";
      break;
    case RunLoopSocketReadMaxedOutError:
      text = "Read operation reached set maximum length";
      break;
    case RunLoopSocketReadTimeoutError:
      text = "Read operation timed out";
      break;
    case RunLoopSocketWriteTimeoutError:
      text = "Write operation timed out";
      break;
    default:
      code = RunLoopSocketCFSocketError;
  }
  return ns::Error::withDescription(RunLoopSocketErrorDomain, code, text);
}

// The family of a socket address image: read from sa_family, which is where Linux keeps it.
int familyOf(const ns::Data& address) {
  if (address.length() < sizeof(sa_family_t)) return AF_UNSPEC;
  sockaddr_storage ss{};
  std::memcpy(&ss, address.bytes(), std::min(address.length(), sizeof ss));
  return ss.ss_family;
}

std::string pointerText(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
  return buffer;
}

std::optional<std::string> hostOf(const ns::Data& address) {
  int family = familyOf(address);
  char text[INET6_ADDRSTRLEN] = {};
  if (family == AF_INET && address.length() >= sizeof(sockaddr_in)) {
    sockaddr_in a;
    std::memcpy(&a, address.bytes(), sizeof a);
    if (!::inet_ntop(AF_INET, &a.sin_addr, text, INET_ADDRSTRLEN))
      ns::Exception::raise(ns::NSInternalInconsistencyException, "Cannot convert IPv4 address to string.");
    return std::string(text);
  }
  if (family == AF_INET6 && address.length() >= sizeof(sockaddr_in6)) {
    sockaddr_in6 a;
    std::memcpy(&a, address.bytes(), sizeof a);
    if (!::inet_ntop(AF_INET6, &a.sin6_addr, text, INET6_ADDRSTRLEN))
      ns::Exception::raise(ns::NSInternalInconsistencyException, "Cannot convert IPv6 address to string.");
    return std::string(text);
  }
  return std::nullopt;
}

std::uint16_t portOf(const ns::Data& address) {
  int family = familyOf(address);
  if (family == AF_INET && address.length() >= sizeof(sockaddr_in)) {
    sockaddr_in a;
    std::memcpy(&a, address.bytes(), sizeof a);
    return ntohs(a.sin_port);
  }
  if (family == AF_INET6 && address.length() >= sizeof(sockaddr_in6)) {
    sockaddr_in6 a;
    std::memcpy(&a, address.bytes(), sizeof a);
    return ntohs(a.sin6_port);
  }
  return 0;
}

ns::Data nativeAddress(int fd, bool peer) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len)
                : ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
  if (rc != 0) return {};
  return ns::Data(&ss, len);
}

ns::Data makeAddress4(std::uint16_t port, in_addr_t address) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(address);
  return ns::Data(&a, sizeof a);
}

ns::Data makeAddress6(std::uint16_t port, const in6_addr& address) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_addr = address;
  return ns::Data(&a, sizeof a);
}

const char* const kStatusNames[] = {"not open", "opening", "open",   "reading",
                                    "writing",  "at end",  "closed", "has error"};

}  // namespace

// The call-back context and perform target of one socket. It holds a plain pointer back: the
// socket owns it and it dies with the socket.
class RunLoopSocket::Anchor : public ns::Object {
 public:
  explicit Anchor(RunLoopSocket* owner) : owner(owner) {}
  RunLoopSocket* owner;
};

RunLoopSocket::RunLoopSocket() : RunLoopSocket(nullptr, 0) {}

RunLoopSocket::RunLoopSocket(ns::Ref<RunLoopSocketDelegate> delegate)
    : RunLoopSocket(std::move(delegate), 0) {}

RunLoopSocket::RunLoopSocket(ns::Ref<RunLoopSocketDelegate> delegate, long userData)
    : anchor_(ns::make<Anchor>(this)),
      runLoopModes_{ns::DefaultRunLoopMode},
      delegate_(std::move(delegate)),
      userData_(userData) {}

RunLoopSocket::~RunLoopSocket() {
  auto loop = runLoop_;
  closeInternal(true);
  if (loop) loop->cancelPerformSelectorsWithTarget(anchor_.get());
}

ns::Ref<RunLoopSocket> RunLoopSocket::newAcceptedSocket(ns::Ref<RunLoopSocketDelegate> delegate) {
  return ns::make<RunLoopSocket>(std::move(delegate));
}

bool RunLoopSocket::canSafelySetDelegate() const {
  return readQueue_.empty() && writeQueue_.empty() && !currentRead_ && !currentWrite_;
}

ns::Ref<cf::Socket> RunLoopSocket::getCFSocket() const {
  return socket4_ ? socket4_ : socket6_;
}

void RunLoopSocket::checkForThreadSafety() const {
  if (runLoop_ && runLoop_ != ns::RunLoop::currentRunLoop())
    ns::Exception::raise(RunLoopSocketException,
                         "Attempting to access RunLoopSocket instance from incorrect thread.");
}

void RunLoopSocket::checkThread() const {
#ifndef NDEBUG
  if (runLoop_ && ns::RunLoop::currentRunLoop() != runLoop_) {
    std::fprintf(stderr, "RunLoopSocket %p used off its run loop's thread\n", static_cast<const void*>(this));
    std::abort();
  }
#endif
}

std::string RunLoopSocket::description() const {
  // Called only while this function runs.
  auto side = [this](bool local) -> std::string {
    bool has4 = socket4_ || nativeSocket4_ > 0;
    bool has6 = socket6_ || nativeSocket6_ > 0;
    auto host4 = [&]() -> std::string {
      ns::Data a = socket4_ ? (local ? socket4_->copyAddress() : socket4_->copyPeerAddress())
                            : nativeAddress(nativeSocket4_, !local);
      return hostOf(a).value_or("(null)");
    };
    auto host6 = [&]() -> std::string {
      ns::Data a = socket6_ ? (local ? socket6_->copyAddress() : socket6_->copyPeerAddress())
                            : nativeAddress(nativeSocket6_, !local);
      return hostOf(a).value_or("(null)");
    };
    unsigned port = local ? localPort() : connectedPort();
    if (has4 && has6) return host4() + "/" + host6() + " " + std::to_string(port);
    if (has4) return host4() + " " + std::to_string(port);
    if (has6) return host6() + " " + std::to_string(port);
    return "nowhere";
  };
  std::string s;
  s.reserve(150);
  s += "<RunLoopSocket " + pointerText(this);
  s += " local " + side(true) + " remote " + side(false) + " ";
  s += "has queued " + std::to_string(readQueue_.size()) + " reads " + std::to_string(writeQueue_.size()) +
       " writes, ";
  if (auto read = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_)) {
    int percent = 0;
    if (read->bytesDone > 0)
      percent = read->readLength == 0 ? 100
                                      : static_cast<int>(static_cast<float>(read->bytesDone) /
                                                         static_cast<float>(read->readLength) * 100.0f);
    s += "currently read " + std::to_string(read->buffer->length()) + " bytes (" + std::to_string(percent) +
         "% done), ";
  } else {
    s += "no current read, ";
  }
  if (auto write = std::dynamic_pointer_cast<RunLoopWritePacket>(currentWrite_)) {
    int percent = 0;
    if (write->bytesDone > 0)
      percent = static_cast<int>(static_cast<float>(write->bytesDone) /
                                 static_cast<float>(write->buffer.length()) * 100.0f);
    s += "currently written " + std::to_string(write->buffer.length()) + " (" + std::to_string(percent) +
         "%), ";
  } else {
    s += "no current write, ";
  }
  unsigned readStatus = readStream_ ? static_cast<unsigned>(readStream_->streamStatus()) : 0;
  unsigned writeStatus = writeStream_ ? static_cast<unsigned>(writeStream_->streamStatus()) : 0;
  s += "read stream " + pointerText(readStream_.get()) + " " + kStatusNames[std::min(readStatus, 7u)] + ", ";
  s += "write stream " + pointerText(writeStream_.get()) + " " + kStatusNames[std::min(writeStatus, 7u)];
  if ((flags_ & kDisconnectAfterReads) && (flags_ & kDisconnectAfterWrites))
    s += ", will disconnect after reads & writes";
  else if (flags_ & kDisconnectAfterReads)
    s += ", will disconnect after reads";
  else if (flags_ & kDisconnectAfterWrites)
    s += ", will disconnect after writes";
  if (!isConnected()) s += ", not connected";
  s += ">";
  return s;
}

// ---- run loop and modes ----

void RunLoopSocket::runLoopAddSocket(const SocketRef& sock, const std::vector<std::string>& modes) {
  if (!sock || !runLoop_) return;
  for (auto& mode : modes) sock->scheduleInRunLoop_forMode(runLoop_, mode);
}

void RunLoopSocket::runLoopRemoveSocket(const SocketRef& sock, const std::vector<std::string>& modes) {
  if (!sock || !runLoop_) return;
  for (auto& mode : modes) sock->removeFromRunLoop_forMode(runLoop_, mode);
}

void RunLoopSocket::runLoopAddTimer(const ns::Ref<ns::Timer>& timer, const std::vector<std::string>& modes) {
  if (!timer || !runLoop_) return;
  for (auto& mode : modes) runLoop_->addTimer_forMode(timer, mode);
}

void RunLoopSocket::runLoopRemoveTimer(const ns::Ref<ns::Timer>& timer,
                                       const std::vector<std::string>& modes) {
  if (!timer || !runLoop_) return;
  for (auto& mode : modes) runLoop_->removeTimer_forMode(timer, mode);
}

void RunLoopSocket::runLoopUnscheduleStreams(const std::vector<std::string>& modes) {
  if (!runLoop_) return;
  for (auto& mode : modes) {
    if (readStream_) readStream_->removeFromRunLoop_forMode(runLoop_, mode);
    if (writeStream_) writeStream_->removeFromRunLoop_forMode(runLoop_, mode);
  }
}

void RunLoopSocket::queuePerform(const std::string& selector, void (RunLoopSocket::*method)()) {
  if (!runLoop_) return;
  ns::Weak<RunLoopSocket> weak = weakSelf<RunLoopSocket>();
  runLoop_->perform({anchor_, selector, nullptr,
                     [weak, method] {
                       if (auto self = weak.lock()) ((*self).*method)();
                     }},
                    0, runLoopModes_, 0);
}

void RunLoopSocket::cancelPerforms() {
  if (runLoop_) runLoop_->cancelPerformSelectorsWithTarget(anchor_.get());
  flags_ &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
}

void RunLoopSocket::queueDeferredCalls() {
  queuePerform("maybeDequeueRead", &RunLoopSocket::maybeDequeueRead);
  queuePerform("maybeDequeueWrite", &RunLoopSocket::maybeDequeueWrite);
  queuePerform("maybeScheduleDisconnect", &RunLoopSocket::maybeScheduleDisconnect);
}

ns::Ref<ns::Timer> RunLoopSocket::makeTimer(double interval, void (RunLoopSocket::*method)()) {
  ns::Weak<RunLoopSocket> weak = weakSelf<RunLoopSocket>();
  auto timer =
      ns::make<ns::Timer>(ns::Clock::now() + interval, 0, false, [weak, method](const ns::Ref<ns::Timer>&) {
        if (auto self = weak.lock()) ((*self).*method)();
      });
  runLoopAddTimer(timer, runLoopModes_);
  return timer;
}

bool RunLoopSocket::moveToRunLoop(const ns::Ref<ns::RunLoop>& runLoop) {
  if (!runLoop) return false;
  if (runLoop == runLoop_) return true;
  cancelPerforms();
  bool streams = readStream_ && writeStream_;
  if (streams) runLoopUnscheduleStreams(runLoopModes_);
  runLoopRemoveSocket(socket4_, runLoopModes_);
  runLoopRemoveSocket(socket6_, runLoopModes_);
  runLoopRemoveTimer(readTimer_, runLoopModes_);
  runLoopRemoveTimer(writeTimer_, runLoopModes_);
  runLoop_ = runLoop;
  runLoopAddTimer(readTimer_, runLoopModes_);
  runLoopAddTimer(writeTimer_, runLoopModes_);
  if (source4_) runLoopAddSocket(socket4_, runLoopModes_);
  if (source6_) runLoopAddSocket(socket6_, runLoopModes_);
  if (streams && !attachStreamsToRunLoop(runLoop, nullptr)) return false;
  queueDeferredCalls();
  return true;
}

bool RunLoopSocket::setRunLoopModes(const std::vector<std::string>& runLoopModes) {
  checkThread();
  if (runLoopModes.empty()) return false;
  if (runLoopModes == runLoopModes_) return true;
  cancelPerforms();
  bool streams = readStream_ && writeStream_;
  if (streams) runLoopUnscheduleStreams(runLoopModes_);
  if (source4_) runLoopRemoveSocket(socket4_, runLoopModes_);
  if (source6_) runLoopRemoveSocket(socket6_, runLoopModes_);
  runLoopRemoveTimer(readTimer_, runLoopModes_);
  runLoopRemoveTimer(writeTimer_, runLoopModes_);
  runLoopModes_ = runLoopModes;
  runLoopAddTimer(readTimer_, runLoopModes_);
  runLoopAddTimer(writeTimer_, runLoopModes_);
  if (source4_) runLoopAddSocket(socket4_, runLoopModes_);
  if (source6_) runLoopAddSocket(socket6_, runLoopModes_);
  if (streams && !attachStreamsToRunLoop(runLoop_ ? runLoop_ : ns::RunLoop::currentRunLoop(), nullptr))
    return false;
  queueDeferredCalls();
  return true;
}

bool RunLoopSocket::addRunLoopMode(const std::string& mode) {
  checkThread();
  if (mode.empty()) return false;
  if (std::find(runLoopModes_.begin(), runLoopModes_.end(), mode) != runLoopModes_.end()) return true;
  cancelPerforms();
  runLoopModes_.push_back(mode);
  runLoopAddTimer(readTimer_, {mode});
  runLoopAddTimer(writeTimer_, {mode});
  if (source4_) runLoopAddSocket(socket4_, {mode});
  if (source6_) runLoopAddSocket(socket6_, {mode});
  if (readStream_ && writeStream_) {
    auto loop = runLoop_ ? runLoop_ : ns::RunLoop::currentRunLoop();
    readStream_->scheduleInRunLoop_forMode(loop, mode);
    writeStream_->scheduleInRunLoop_forMode(loop, mode);
  }
  queueDeferredCalls();
  return true;
}

bool RunLoopSocket::removeRunLoopMode(const std::string& mode) {
  checkThread();
  if (mode.empty()) return false;
  auto it = std::find(runLoopModes_.begin(), runLoopModes_.end(), mode);
  if (it == runLoopModes_.end()) return true;
  if (runLoopModes_.size() == 1) return false;
  cancelPerforms();
  runLoopModes_.erase(it);
  runLoopRemoveTimer(readTimer_, {mode});
  runLoopRemoveTimer(writeTimer_, {mode});
  if (source4_) runLoopRemoveSocket(socket4_, {mode});
  if (source6_) runLoopRemoveSocket(socket6_, {mode});
  if (readStream_ && writeStream_) runLoopUnscheduleStreams({mode});
  queueDeferredCalls();
  return true;
}

// ---- errors ----

std::optional<ns::Error> RunLoopSocket::errorFromCFStreamError(cf::StreamError error) {
  if (error.domain == 0 && error.error == 0) return std::nullopt;
  switch (error.domain) {
    case cf::StreamErrorDomainPOSIX:
      return ns::Error(ns::NSPOSIXErrorDomain, error.error);
    case cf::StreamErrorDomainMacOSStatus:
      return ns::Error(ns::NSOSStatusErrorDomain, error.error);
    case cf::StreamErrorDomainMach:
      return ns::Error(ns::NSMachErrorDomain, error.error);
    case cf::StreamErrorDomainNetDB:
      return ns::Error::withDescription("kCFStreamErrorDomainNetDB", error.error,
                                        ::gai_strerror(error.error));
    case cf::StreamErrorDomainNetServices:
      return ns::Error("kCFStreamErrorDomainNetServices", error.error);
    case cf::StreamErrorDomainSOCKS:
      return ns::Error("kCFStreamErrorDomainSOCKS", error.error);
    case cf::StreamErrorDomainSystemConfiguration:
      return ns::Error("kCFStreamErrorDomainSystemConfiguration", error.error);
    case cf::StreamErrorDomainSSL:
      return ns::Error("kCFStreamErrorDomainSSL", error.error);
    default:
      return ns::Error("CFStreamError (unlisted domain)", error.error);
  }
}

std::optional<ns::Error> RunLoopSocket::getStreamError() const {
  if (readStream_) {
    auto e = readStream_->getError();
    if (e.error != 0) return errorFromCFStreamError(e);
  }
  if (writeStream_) {
    auto e = writeStream_->getError();
    if (e.error != 0) return errorFromCFStreamError(e);
  }
  return std::nullopt;
}

// ---- accepting and connecting ----

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
  auto callout = [](const ns::Ref<cf::Socket>& s, const cf::Socket::Event& event,
                    const ns::Ref<ns::Object>& info) {
    auto* anchor = static_cast<Anchor*>(info.get());
    if (!anchor) return;
    auto self = std::static_pointer_cast<RunLoopSocket>(anchor->owner->weak_from_this().lock());
    if (self) {
      self->handleSocketEvent(s.get(), event.type, event.nativeHandle, event.errorNumber);
    } else if (event.type == cf::Socket::AcceptCallBack && event.nativeHandle >= 0) {
      ::close(event.nativeHandle);
    }
  };
  auto sock = cf::Socket::createWithFamily(familyOf(address), SOCK_STREAM, 0, cf::Socket::AcceptCallBack,
                                           callout, info);
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
  if (!interface || interface->empty()) {
    address4 = makeAddress4(port, INADDR_ANY);
    address6 = makeAddress6(port, in6addr_any);
  } else if (*interface == "localhost" || *interface == "loopback") {
    address4 = makeAddress4(port, INADDR_LOOPBACK);
    address6 = makeAddress6(port, in6addr_loopback);
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

bool RunLoopSocket::configureAndReturnError(ns::Error* errPtr) {
  auto me = self<RunLoopSocket>();
  if (delegate_ && !delegate_->onSocketWillConnect(me)) {
    ns::setError(errPtr, socketError(RunLoopSocketCanceledError));
    return false;
  }
  return true;
}

bool RunLoopSocket::connectToHost_onPort_error(const std::string& hostname, std::uint16_t port,
                                               ns::Error* errPtr) {
  return connectToHost_onPort_withTimeout_error(hostname, port, -1, errPtr);
}

bool RunLoopSocket::connectToHost_onPort_withTimeout_error(const std::string& hostname, std::uint16_t port,
                                                           double timeout, ns::Error* errPtr) {
  raiseOnMisuse(false);
  emptyQueues();
  ns::Error error;
  if (!createStreamsToHost(hostname, port, &error) || !attachStreamsToRunLoop(nullptr, &error) ||
      !configureAndReturnError(&error) || !openStreamsAndReturnError(&error)) {
    close();
    ns::setError(errPtr, error);
    return false;
  }
  startConnectTimeout(timeout);
  flags_ |= kDidStartConnect;
  return true;
}

bool RunLoopSocket::connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr) {
  return connectToAddress_viaInterfaceAddress_withTimeout_error(remoteAddr, ns::Data(), -1, errPtr);
}

bool RunLoopSocket::connectToAddress_withTimeout_error(const ns::Data& remoteAddr, double timeout,
                                                       ns::Error* errPtr) {
  return connectToAddress_viaInterfaceAddress_withTimeout_error(remoteAddr, ns::Data(), timeout, errPtr);
}

bool RunLoopSocket::connectToAddress_viaInterfaceAddress_withTimeout_error(const ns::Data& remoteAddr,
                                                                           const ns::Data& interfaceAddr,
                                                                           double timeout,
                                                                           ns::Error* errPtr) {
  raiseOnMisuse(false);
  emptyQueues();
  ns::Error error;
  if (!createSocketForAddress(remoteAddr, &error) || !bindSocketToAddress(interfaceAddr, &error)) {
    close();
    ns::setError(errPtr, error);
    return false;
  }
  attachSocketsToRunLoop(nullptr);
  if (!configureAndReturnError(&error) || !connectSocketToAddress(remoteAddr, &error)) {
    close();
    ns::setError(errPtr, error);
    return false;
  }
  startConnectTimeout(timeout);
  flags_ |= kDidStartConnect;
  return true;
}

bool RunLoopSocket::createSocketForAddress(const ns::Data& address, ns::Error* errPtr) {
  int family = familyOf(address);
  if (family != AF_INET && family != AF_INET6) {
    ns::setError(errPtr, ns::Error::withDescription(RunLoopSocketErrorDomain, RunLoopSocketCFSocketError,
                                                    "Remote address is not IPv4 or IPv6"));
    return false;
  }
  ns::Weak<ns::Object> info = anchor_;
  auto callout = [](const ns::Ref<cf::Socket>& s, const cf::Socket::Event& event,
                    const ns::Ref<ns::Object>& info) {
    auto* anchor = static_cast<Anchor*>(info.get());
    if (!anchor) return;
    auto self = std::static_pointer_cast<RunLoopSocket>(anchor->owner->weak_from_this().lock());
    if (self) self->handleSocketEvent(s.get(), event.type, event.nativeHandle, event.errorNumber);
  };
  auto sock = cf::Socket::createWithFamily(family, SOCK_STREAM, IPPROTO_TCP, cf::Socket::ConnectCallBack,
                                           callout, info);
  if (!sock) {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    return false;
  }
  (family == AF_INET ? socket4_ : socket6_) = sock;
  return true;
}

bool RunLoopSocket::bindSocketToAddress(const ns::Data& address, ns::Error* errPtr) {
  if (address.length() == 0) return true;
  int family = familyOf(address);
  if (family != AF_INET && family != AF_INET6) {
    ns::setError(errPtr, ns::Error::withDescription(RunLoopSocketErrorDomain, RunLoopSocketCFSocketError,
                                                    "Interface address is not IPv4 or IPv6"));
    return false;
  }
  auto sock = socket4_ ? socket4_ : socket6_;
  if (::bind(sock->getNative(), reinterpret_cast<const sockaddr*>(address.bytes()),
             static_cast<socklen_t>(address.length())) != 0) {
    ns::setError(errPtr, ns::Error::fromErrno());
    return false;
  }
  return true;
}

bool RunLoopSocket::connectSocketToAddress(const ns::Data& address, ns::Error* errPtr) {
  auto sock = socket4_ ? socket4_ : socket6_;
  if (!sock) return true;
  if (sock->connectToAddress(address, -1) != cf::Socket::Success) {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    return false;
  }
  return true;
}

bool RunLoopSocket::createStreamsToHost(const std::string& hostname, std::uint16_t port, ns::Error* errPtr) {
  cf::createPairWithSocketToHost(hostname, port, &readStream_, &writeStream_, socketResolverGetAddrInfo);
  if (!readStream_ || !writeStream_) {
    ns::setError(errPtr, getStreamError().value_or(socketError(RunLoopSocketCFSocketError)));
    return false;
  }
  readStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  writeStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  return true;
}

bool RunLoopSocket::createStreamsFromNative(int fd, ns::Error* errPtr) {
  cf::createPairWithSocket(fd, &readStream_, &writeStream_);
  if (!readStream_ || !writeStream_) {
    auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
    ns::Log("RunLoopSocket %p couldn't create streams from accepted socket: %@",
            static_cast<const void*>(this), error.description());
    ns::setError(errPtr, error);
    return false;
  }
  readStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  writeStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  return true;
}

bool RunLoopSocket::attachStreamsToRunLoop(const ns::Ref<ns::RunLoop>& runLoop, ns::Error* errPtr) {
  runLoop_ = runLoop ? runLoop : ns::RunLoop::currentRunLoop();
  ns::Weak<ns::Object> weakAnchor = anchor_;
  auto owner = [weakAnchor]() -> ns::Ref<RunLoopSocket> {
    auto anchor = std::static_pointer_cast<Anchor>(weakAnchor.lock());
    if (!anchor) return nullptr;
    return std::static_pointer_cast<RunLoopSocket>(anchor->owner->weak_from_this().lock());
  };
  bool ok = readStream_->setClient(cf::StreamEventOpenCompleted | cf::StreamEventHasBytesAvailable |
                                       cf::StreamEventErrorOccurred | cf::StreamEventEndEncountered,
                                   [owner](cf::ReadStream& stream, cf::StreamEventType type) {
                                     auto self = owner();
                                     if (self && self->readStream_.get() == &stream)
                                       self->handleReadStreamEvent(type);
                                   });
  if (!ok) {
    auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
    ns::Log("RunLoopSocket %p couldn't attach read stream to run-loop,Error: %@",
            static_cast<const void*>(this), error.description());
    ns::setError(errPtr, error);
    return false;
  }
  ok = writeStream_->setClient(cf::StreamEventOpenCompleted | cf::StreamEventCanAcceptBytes |
                                   cf::StreamEventErrorOccurred | cf::StreamEventEndEncountered,
                               [owner](cf::WriteStream& stream, cf::StreamEventType type) {
                                 auto self = owner();
                                 if (self && self->writeStream_.get() == &stream)
                                   self->handleWriteStreamEvent(type);
                               });
  if (!ok) {
    auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
    ns::Log("RunLoopSocket %p couldn't attach write stream to run-loop,Error: %@",
            static_cast<const void*>(this), error.description());
    ns::setError(errPtr, error);
    return false;
  }
  for (auto& mode : runLoopModes_) {
    readStream_->scheduleInRunLoop_forMode(runLoop_, mode);
    writeStream_->scheduleInRunLoop_forMode(runLoop_, mode);
  }
  return true;
}

bool RunLoopSocket::openStreamsAndReturnError(ns::Error* errPtr) {
  readStream_->open();
  if (readStream_->streamStatus() == ns::StreamStatusError ||
      readStream_->streamStatus() == ns::StreamStatusClosed) {
    auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
    ns::Log("RunLoopSocket %p couldn't open read stream,", static_cast<const void*>(this));
    ns::setError(errPtr, error);
    return false;
  }
  writeStream_->open();
  if (writeStream_->streamStatus() == ns::StreamStatusError ||
      writeStream_->streamStatus() == ns::StreamStatusClosed) {
    auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
    ns::Log("RunLoopSocket %p couldn't open write stream,", static_cast<const void*>(this));
    ns::setError(errPtr, error);
    return false;
  }
  return true;
}

bool RunLoopSocket::setSocketFromStreamsAndReturnError(ns::Error* errPtr) {
  ns::Value handle = readStream_->propertyForKey(cf::kCFStreamPropertySocketNativeHandle);
  if (!handle.isData()) {
    ns::setError(errPtr, getStreamError().value_or(socketError(RunLoopSocketCFSocketError)));
    return false;
  }
  int fd = 0;
  std::memcpy(&fd, handle.data().bytes(), std::min(handle.data().length(), sizeof fd));
  // The wrapper only answers address questions; the streams own the descriptor.
  auto sock = cf::Socket::createWithNative(fd, cf::Socket::NoCallBack, nullptr, {});
  if (!sock) {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    return false;
  }
  sock->setSocketFlags(sock->socketFlags() & ~cf::Socket::CloseOnInvalidate);
  if (nativeSocket4_ > 0) {
    socket4_ = sock;
  } else if (nativeSocket6_ > 0) {
    socket6_ = sock;
  } else {
    ns::Data peer = sock->copyPeerAddress();
    if (peer.length() == 0) {
      ns::Log("RunLoopSocket couldn't determine IP version of socket");
      sock->invalidate();
      ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
      return false;
    }
    if (familyOf(peer) == AF_INET) {
      socket4_ = sock;
      nativeSocket4_ = fd;
    } else {
      socket6_ = sock;
      nativeSocket6_ = fd;
    }
  }
  return true;
}

void RunLoopSocket::startConnectTimeout(double timeout) {
  if (timeout < 0) return;
  connectTimer_ = makeTimer(timeout, &RunLoopSocket::doConnectTimeout);
}

void RunLoopSocket::endConnectTimeout() {
  if (connectTimer_) connectTimer_->invalidate();
  connectTimer_ = nullptr;
}

void RunLoopSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(socketError(RunLoopSocketConnectTimeoutError));
}

void RunLoopSocket::handleSocketEvent(cf::Socket* sock, unsigned type, int nativeHandle, int errorNumber) {
  if (type == cf::Socket::AcceptCallBack) {
    doAcceptFromSocket(sock, nativeHandle);
  } else if (type == cf::Socket::ConnectCallBack) {
    doSocketOpen(sock, errorNumber != 0 ? -1 : 0);
  } else {
    ns::Log("RunLoopSocket %p received unexpected CFSocketCallBackType %i", static_cast<const void*>(this),
            static_cast<int>(type));
  }
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

void RunLoopSocket::doSocketOpen(cf::Socket* sock, int error) {
  if (error == -1 || error == -2) {
    closeWithError(socketError(RunLoopSocketCFSocketError));
    return;
  }
  int fd = sock->getNative();
  if (sock == socket4_.get())
    nativeSocket4_ = fd;
  else
    nativeSocket6_ = fd;
  // The descriptor is the streams' from now on: the connecting socket must not close it.
  sock->setSocketFlags(sock->socketFlags() & ~cf::Socket::CloseOnInvalidate);
  if (source4_) runLoopRemoveSocket(socket4_, runLoopModes_);
  if (source6_) runLoopRemoveSocket(socket6_, runLoopModes_);
  source4_ = source6_ = false;
  if (socket4_) socket4_->invalidate();
  if (socket6_) socket6_->invalidate();
  socket4_ = socket6_ = nullptr;
  ns::Error streamError;
  if (!createStreamsFromNative(fd, &streamError)) {
    ::close(fd);
    nativeSocket4_ = nativeSocket6_ = 0;
    closeWithError(streamError);
    return;
  }
  if (!attachStreamsToRunLoop(nullptr, &streamError) || !openStreamsAndReturnError(&streamError))
    closeWithError(streamError);
}

void RunLoopSocket::doStreamOpen() {
  if (!(flags_ & kDidCompleteOpenForRead) || !(flags_ & kDidCompleteOpenForWrite)) return;
  ns::Error error;
  if (!setSocketFromStreamsAndReturnError(&error)) {
    ns::Log("RunLoopSocket %p couldn't get socket from streams, %@. Disconnecting.",
            static_cast<const void*>(this), error.description());
    closeWithError(error);
    return;
  }
  endConnectTimeout();
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocket_didConnectToHost_port(me, connectedHost().value_or(""), connectedPort());
  maybeDequeueRead();
  maybeDequeueWrite();
}

void RunLoopSocket::handleReadStreamEvent(cf::StreamEventType type) {
  auto keep = self<RunLoopSocket>();
  switch (type) {
    case cf::StreamEventOpenCompleted:
      flags_ |= kDidCompleteOpenForRead;
      doStreamOpen();
      break;
    case cf::StreamEventHasBytesAvailable:
      if (flags_ & kStartingReadTLS) {
        onTLSHandshakeSuccessful();
      } else {
        flags_ |= kSocketHasBytesAvailable;
        doBytesAvailable();
      }
      break;
    case cf::StreamEventErrorOccurred:
    case cf::StreamEventEndEncountered:
      closeWithError(errorFromCFStreamError(readStream_->getError()));
      break;
    default:
      ns::Log("RunLoopSocket %p received unexpected CFReadStream callback, CFStreamEventType %i",
              static_cast<const void*>(this), static_cast<int>(type));
  }
}

void RunLoopSocket::handleWriteStreamEvent(cf::StreamEventType type) {
  auto keep = self<RunLoopSocket>();
  switch (type) {
    case cf::StreamEventOpenCompleted:
      flags_ |= kDidCompleteOpenForWrite;
      doStreamOpen();
      break;
    case cf::StreamEventCanAcceptBytes:
      if (flags_ & kStartingWriteTLS) {
        onTLSHandshakeSuccessful();
      } else {
        flags_ |= kSocketCanAcceptBytes;
        doSendBytes();
      }
      break;
    case cf::StreamEventErrorOccurred:
    case cf::StreamEventEndEncountered:
      closeWithError(errorFromCFStreamError(writeStream_->getError()));
      break;
    default:
      ns::Log("RunLoopSocket %p received unexpected CFWriteStream callback, CFStreamEventType %i",
              static_cast<const void*>(this), static_cast<int>(type));
  }
}

// ---- endpoints ----

bool RunLoopSocket::isDisconnected() const {
  return nativeSocket4_ <= 0 && nativeSocket6_ <= 0 && !socket4_ && !socket6_ && !readStream_ &&
         !writeStream_;
}

bool RunLoopSocket::isConnected() const {
  if (!readStream_ || !writeStream_) return false;
  auto r = readStream_->streamStatus();
  auto w = writeStream_->streamStatus();
  bool readOk = r == ns::StreamStatusOpen || r == ns::StreamStatusReading || r == ns::StreamStatusError;
  bool writeOk = w == ns::StreamStatusOpen || w == ns::StreamStatusWriting || w == ns::StreamStatusError;
  return readOk && writeOk;
}

std::optional<ns::Data> RunLoopSocket::connectedAddress() const {
  ns::Data a;
  if (socket4_)
    a = socket4_->copyPeerAddress();
  else if (socket6_)
    a = socket6_->copyPeerAddress();
  else if (nativeSocket4_ > 0)
    a = nativeAddress(nativeSocket4_, true);
  else if (nativeSocket6_ > 0)
    a = nativeAddress(nativeSocket6_, true);
  if (a.length() == 0) return std::nullopt;
  return a;
}

std::optional<ns::Data> RunLoopSocket::localAddress() const {
  ns::Data a;
  if (socket4_)
    a = socket4_->copyAddress();
  else if (socket6_)
    a = socket6_->copyAddress();
  else if (nativeSocket4_ > 0)
    a = nativeAddress(nativeSocket4_, false);
  else if (nativeSocket6_ > 0)
    a = nativeAddress(nativeSocket6_, false);
  if (a.length() == 0) return std::nullopt;
  return a;
}

std::optional<std::string> RunLoopSocket::connectedHost() const {
  auto a = connectedAddress();
  return a ? hostOf(*a) : std::nullopt;
}

std::uint16_t RunLoopSocket::connectedPort() const {
  auto a = connectedAddress();
  return a ? portOf(*a) : 0;
}

std::optional<std::string> RunLoopSocket::localHost() const {
  auto a = localAddress();
  return a ? hostOf(*a) : std::nullopt;
}

std::uint16_t RunLoopSocket::localPort() const {
  auto a = localAddress();
  return a ? portOf(*a) : 0;
}

bool RunLoopSocket::isIPv4() const {
  return nativeSocket4_ > 0 || socket4_ != nullptr;
}
bool RunLoopSocket::isIPv6() const {
  return nativeSocket6_ > 0 || socket6_ != nullptr;
}

// ---- TLS ----

void RunLoopSocket::startTLS(const ns::Value& tlsSettings) {
  checkThread();
  auto packet =
      ns::make<RunLoopSpecialPacket>(tlsSettings.isDictionary() ? tlsSettings : ns::Value(ns::Dictionary()));
  readQueue_.push_back(packet);
  writeQueue_.push_back(packet);
  scheduleDequeueRead();
  scheduleDequeueWrite();
}

void RunLoopSocket::maybeStartTLS() {
  if (!(flags_ & kStartingReadTLS) || !(flags_ & kStartingWriteTLS)) return;
  auto packet = std::dynamic_pointer_cast<RunLoopSpecialPacket>(currentRead_);
  if (!packet) return;
  bool didRead = readStream_->setProperty_forKey(packet->tlsSettings, cf::kCFStreamPropertySSLSettings);
  bool didWrite = writeStream_->setProperty_forKey(packet->tlsSettings, cf::kCFStreamPropertySSLSettings);
  if (!didRead || !didWrite) closeWithError(socketError(RunLoopSocketCFSocketError));
}

void RunLoopSocket::onTLSHandshakeSuccessful() {
  if (!(flags_ & kStartingReadTLS) || !(flags_ & kStartingWriteTLS)) return;
  flags_ &= ~(kStartingReadTLS | kStartingWriteTLS);
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocketDidSecure(me);
  endCurrentRead();
  endCurrentWrite();
  scheduleDequeueRead();
  scheduleDequeueWrite();
}

// ---- disconnecting ----

void RunLoopSocket::disconnect() {
  checkThread();
  close();
}

void RunLoopSocket::disconnectAfterReading() {
  checkThread();
  flags_ |= kForbidReadsWrites | kDisconnectAfterReads;
  maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterWriting() {
  checkThread();
  flags_ |= kForbidReadsWrites | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterReadingAndWriting() {
  checkThread();
  flags_ |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RunLoopSocket::maybeScheduleDisconnect() {
  bool should = false;
  if (flags_ & kDisconnectAfterReads) {
    if (readQueue_.empty() && !currentRead_) {
      should = !(flags_ & kDisconnectAfterWrites) || (writeQueue_.empty() && !currentWrite_);
    }
  } else if (flags_ & kDisconnectAfterWrites) {
    should = writeQueue_.empty() && !currentWrite_;
  }
  if (should) queuePerform("disconnect", &RunLoopSocket::disconnect);
}

void RunLoopSocket::closeWithError(const std::optional<ns::Error>& error) {
  flags_ |= kClosingWithError;
  if (flags_ & kDidStartConnect) {
    recoverUnreadData();
    auto me = self<RunLoopSocket>();
    if (delegate_) delegate_->onSocket_willDisconnectWithError(me, error);
  }
  close();
}

void RunLoopSocket::recoverUnreadData() {
  if (auto read = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_); read && read->bytesDone > 0) {
    partialReadBuffer_.replaceBytesInRange_withBytes_length({0, 0}, read->buffer->bytes() + read->startOffset,
                                                            read->bytesDone);
  }
  emptyQueues();
}

void RunLoopSocket::emptyQueues() {
  if (currentRead_) endCurrentRead();
  if (currentWrite_) endCurrentWrite();
  readQueue_.clear();
  writeQueue_.clear();
  if (runLoop_) {
    runLoop_->cancelPerformSelector_target_argument("maybeDequeueRead", anchor_.get(), nullptr);
    runLoop_->cancelPerformSelector_target_argument("maybeDequeueWrite", anchor_.get(), nullptr);
  }
  flags_ &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
}

std::optional<ns::Data> RunLoopSocket::unreadData() {
  if (!(flags_ & kClosingWithError) || !readStream_) return std::nullopt;
  std::size_t held = partialReadBuffer_.length();
  while (readStream_->hasBytesAvailable()) {
    if (partialReadBuffer_.length() == held) partialReadBuffer_.increaseLengthBy(kUnreadChunk);
    long n = readStream_->read_maxLength(partialReadBuffer_.mutableBytes() + held,
                                         partialReadBuffer_.length() - held);
    if (n <= 0) break;
    held += static_cast<std::size_t>(n);
  }
  partialReadBuffer_.setLength(held);
  return partialReadBuffer_.copy();
}

void RunLoopSocket::close() {
  closeInternal(false);
}

void RunLoopSocket::closeInternal(bool dying) {
  emptyQueues();
  partialReadBuffer_.setLength(0);
  if (runLoop_) runLoop_->cancelPerformSelector_target_argument("disconnect", anchor_.get(), nullptr);
  endConnectTimeout();
  if (readStream_) {
    runLoopUnscheduleStreams(runLoopModes_);
    readStream_->setClient(0, nullptr);
    readStream_->close();
    readStream_ = nullptr;
  }
  if (writeStream_) {
    if (runLoop_)
      for (auto& mode : runLoopModes_) writeStream_->removeFromRunLoop_forMode(runLoop_, mode);
    writeStream_->setClient(0, nullptr);
    writeStream_->close();
    writeStream_ = nullptr;
  }
  if (socket4_) {
    if (source4_) runLoopRemoveSocket(socket4_, runLoopModes_);
    socket4_->invalidate();
    socket4_ = nullptr;
  }
  if (socket6_) {
    if (source6_) runLoopRemoveSocket(socket6_, runLoopModes_);
    socket6_->invalidate();
    socket6_ = nullptr;
  }
  nativeSocket4_ = nativeSocket6_ = 0;
  source4_ = source6_ = false;
  runLoop_ = nullptr;
  bool notify = flags_ & kDidStartConnect;
  flags_ &= kEnablePreBuffering;
  if (!notify || !delegate_) return;
  // The delegate may let go of the socket in the message: hold both until it returns, and touch
  // nothing of the socket afterwards.
  auto delegate = delegate_;
  if (dying) {
    delegate->onSocketDidDisconnect(nullptr);
    return;
  }
  auto me = self<RunLoopSocket>();
  delegate->onSocketDidDisconnect(me);
}

// ---- reading ----

ns::Data RunLoopSocket::CRLFData() {
  return ns::Data("\r\n", 2);
}
ns::Data RunLoopSocket::CRData() {
  return ns::Data("\r", 1);
}
ns::Data RunLoopSocket::LFData() {
  return ns::Data("\n", 1);
}
ns::Data RunLoopSocket::ZeroData() {
  return ns::Data("\0", 1);
}

void RunLoopSocket::enqueueRead(ns::Ref<RunLoopReadPacket> packet) {
  checkThread();
  readQueue_.push_back(std::move(packet));
  scheduleDequeueRead();
}

void RunLoopSocket::readDataWithTimeout_tag(double timeout, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataWithTimeout_buffer_bufferOffset_tag(double timeout,
                                                                ns::Ref<ns::MutableData> buffer,
                                                                std::size_t offset, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataWithTimeout_buffer_bufferOffset_maxLength_tag(double timeout,
                                                                          ns::Ref<ns::MutableData> buffer,
                                                                          std::size_t offset,
                                                                          std::size_t length, long tag) {
  if ((buffer && offset > buffer->length()) || (flags_ & kForbidReadsWrites)) return;
  enqueueRead(ns::make<RunLoopReadPacket>(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag));
}

void RunLoopSocket::readDataToLength_withTimeout_tag(std::size_t length, double timeout, long tag) {
  readDataToLength_withTimeout_buffer_bufferOffset_tag(length, timeout, nullptr, 0, tag);
}

void RunLoopSocket::readDataToLength_withTimeout_buffer_bufferOffset_tag(std::size_t length, double timeout,
                                                                         ns::Ref<ns::MutableData> buffer,
                                                                         std::size_t offset, long tag) {
  if (length == 0 || (buffer && offset > buffer->length()) || (flags_ & kForbidReadsWrites)) return;
  enqueueRead(ns::make<RunLoopReadPacket>(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag));
}

void RunLoopSocket::readDataToData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataToData_withTimeout_buffer_bufferOffset_tag(const ns::Data& data, double timeout,
                                                                       ns::Ref<ns::MutableData> buffer,
                                                                       std::size_t offset, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, std::move(buffer), offset, 0,
                                                               tag);
}

void RunLoopSocket::readDataToData_withTimeout_maxLength_tag(const ns::Data& data, double timeout,
                                                             std::size_t length, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, length, tag);
}

void RunLoopSocket::readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(
    const ns::Data& data, double timeout, ns::Ref<ns::MutableData> buffer, std::size_t offset,
    std::size_t length, long tag) {
  if (data.length() == 0 || (buffer && offset > buffer->length()) || (length > 0 && length < data.length()) ||
      (flags_ & kForbidReadsWrites))
    return;
  enqueueRead(ns::make<RunLoopReadPacket>(std::move(buffer), offset, length, timeout, 0, data, tag));
}

void RunLoopSocket::scheduleDequeueRead() {
  if (flags_ & kDequeueReadScheduled) return;
  if (!runLoop_) return;  // nothing is attached yet: the connection's opening dequeues
  flags_ |= kDequeueReadScheduled;
  queuePerform("maybeDequeueRead", &RunLoopSocket::maybeDequeueRead);
}

void RunLoopSocket::maybeDequeueRead() {
  flags_ &= ~kDequeueReadScheduled;
  if (currentRead_ || !readStream_) return;
  if (!readQueue_.empty()) {
    currentRead_ = readQueue_.front();
    readQueue_.pop_front();
    if (std::dynamic_pointer_cast<RunLoopSpecialPacket>(currentRead_)) {
      flags_ |= kStartingReadTLS;
      maybeStartTLS();
      return;
    }
    auto packet = std::static_pointer_cast<RunLoopReadPacket>(currentRead_);
    if (packet->timeout >= 0) readTimer_ = makeTimer(packet->timeout, &RunLoopSocket::doReadTimeout);
    doBytesAvailable();
  } else if ((flags_ & kDisconnectAfterReads) &&
             (!(flags_ & kDisconnectAfterWrites) || (writeQueue_.empty() && !currentWrite_))) {
    disconnect();
  }
}

bool RunLoopSocket::hasBytesAvailable() {
  return (flags_ & kSocketHasBytesAvailable) || partialReadBuffer_.length() > 0 ||
         (readStream_ && readStream_->hasBytesAvailable());
}

long RunLoopSocket::readIntoBuffer(std::uint8_t* buffer, std::size_t length) {
  if (partialReadBuffer_.length() == 0) {
    flags_ &= ~kSocketHasBytesAvailable;
    return readStream_->read_maxLength(buffer, length);
  }
  std::size_t n = std::min(length, partialReadBuffer_.length());
  std::memcpy(buffer, partialReadBuffer_.bytes(), n);
  partialReadBuffer_.replaceBytesInRange_withBytes_length({0, n}, nullptr, 0);
  return static_cast<long>(n);
}

void RunLoopSocket::doBytesAvailable() {
  auto packet = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_);
  if (!packet || !readStream_) return;
  auto keep = self<RunLoopSocket>();
  std::uint64_t total = 0;
  bool done = false, error = false, maxedOut = false;
  while (!done && !error && !maxedOut && hasBytesAvailable()) {
    bool fromPreBuffer = false, preBuffered = false;
    std::uint64_t amount;
    if (packet->term) {
      if (partialReadBuffer_.length() > 0) {
        fromPreBuffer = true;
        amount = packet->readLengthForTermWithPreBuffer(partialReadBuffer_, &done);
      } else if (flags_ & kEnablePreBuffering) {
        preBuffered = true;
        amount = packet->prebufferReadLengthForTerm();
      } else {
        amount = packet->readLengthForTerm();
      }
    } else {
      amount = packet->readLengthForNonTerm();
    }
    std::uint64_t used = packet->startOffset + packet->bytesDone;
    if (used + amount > packet->buffer->length()) packet->buffer->setLength(used + amount);
    long n = readIntoBuffer(packet->buffer->mutableBytes() + used, amount);
    if (n < 0) {
      error = true;
      break;
    }
    packet->bytesDone += static_cast<std::uint64_t>(n);
    total += static_cast<std::uint64_t>(n);
    if (packet->readLength > 0) {
      done = packet->bytesDone == packet->readLength;
    } else if (packet->term) {
      const std::uint64_t L = packet->term->length();
      if (preBuffered) {
        long overflow = packet->searchForTermAfterPreBuffering(n);
        if (overflow > 0) {
          std::uint64_t end = packet->startOffset + packet->bytesDone;
          partialReadBuffer_.appendBytes_length(packet->buffer->bytes() + end - overflow, overflow);
          packet->bytesDone -= static_cast<std::uint64_t>(overflow);
        }
        done = overflow >= 0;
      } else if (!fromPreBuffer) {
        done = packet->bytesDone >= L &&
               std::memcmp(packet->buffer->bytes() + packet->startOffset + packet->bytesDone - L,
                           packet->term->bytes(), L) == 0;
      }
      if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) maxedOut = true;
    } else if (packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
      done = true;
    }
    if (n == 0 && !fromPreBuffer) break;  // nothing more came from the stream on this pass
  }
  if (!packet->term && packet->readLength == 0 && packet->bytesDone > 0) done = true;
  if (done) {
    completeCurrentRead();
    if (!error) scheduleDequeueRead();
  } else if (total > 0 && delegate_) {
    delegate_->onSocket_didReadPartialDataOfLength_tag(keep, total, packet->tag);
  }
  if (error) {
    closeWithError(readStream_ ? errorFromCFStreamError(readStream_->getError()) : std::nullopt);
  } else if (maxedOut) {
    closeWithError(socketError(RunLoopSocketReadMaxedOutError));
  }
}

void RunLoopSocket::completeCurrentRead() {
  auto packet = std::static_pointer_cast<RunLoopReadPacket>(currentRead_);
  ns::Data result;
  if (packet->bufferOwner) {
    packet->buffer->setLength(packet->bytesDone);
    result = packet->buffer->copy();
  } else {
    std::uint64_t keepLength =
        std::max(packet->originalBufferLength, packet->startOffset + packet->bytesDone);
    if (packet->buffer->length() > keepLength) packet->buffer->setLength(keepLength);
    // A view of the caller's buffer, valid while the caller leaves it unchanged.
    ns::Ref<ns::MutableData> owner = packet->buffer;
    result = ns::Data(std::shared_ptr<const void>(owner, owner.get()), owner->bytes() + packet->startOffset,
                      packet->bytesDone);
  }
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocket_didReadData_withTag(me, result, packet->tag);
  if (currentRead_) endCurrentRead();
}

void RunLoopSocket::endCurrentRead() {
  endCurrentPacket(currentRead_, readTimer_);
}

void RunLoopSocket::doReadTimeout() {
  doPacketTimeout<RunLoopReadPacket>(
      currentRead_, readTimer_, &RunLoopSocketDelegate::onSocket_shouldTimeoutReadWithTag_elapsed_bytesDone,
      &RunLoopSocket::doReadTimeout, RunLoopSocketReadTimeoutError);
}

float RunLoopSocket::progressOfReadReturningTag_bytesDone_total(long* tag, std::uint64_t* done,
                                                                std::uint64_t* total) const {
  auto packet = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_);
  return progressOfPacket(packet.get(), packet ? packet->readLength : 0, tag, done, total);
}

// ---- writing ----

void RunLoopSocket::writeData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  checkThread();
  if (data.length() == 0 || (flags_ & kForbidReadsWrites)) return;
  writeQueue_.push_back(ns::make<RunLoopWritePacket>(data, timeout, tag));
  scheduleDequeueWrite();
}

void RunLoopSocket::scheduleDequeueWrite() {
  if (flags_ & kDequeueWriteScheduled) return;
  if (!runLoop_) return;
  flags_ |= kDequeueWriteScheduled;
  queuePerform("maybeDequeueWrite", &RunLoopSocket::maybeDequeueWrite);
}

void RunLoopSocket::maybeDequeueWrite() {
  flags_ &= ~kDequeueWriteScheduled;
  if (currentWrite_ || !writeStream_) return;
  if (!writeQueue_.empty()) {
    currentWrite_ = writeQueue_.front();
    writeQueue_.pop_front();
    if (std::dynamic_pointer_cast<RunLoopSpecialPacket>(currentWrite_)) {
      flags_ |= kStartingWriteTLS;
      maybeStartTLS();
      return;
    }
    auto packet = std::static_pointer_cast<RunLoopWritePacket>(currentWrite_);
    if (packet->timeout >= 0) writeTimer_ = makeTimer(packet->timeout, &RunLoopSocket::doWriteTimeout);
    doSendBytes();
  } else if ((flags_ & kDisconnectAfterWrites) &&
             (!(flags_ & kDisconnectAfterReads) || (readQueue_.empty() && !currentRead_))) {
    disconnect();
  }
}

bool RunLoopSocket::canAcceptBytes() {
  return (flags_ & kSocketCanAcceptBytes) || (writeStream_ && writeStream_->canAcceptBytes());
}

void RunLoopSocket::doSendBytes() {
  auto packet = std::dynamic_pointer_cast<RunLoopWritePacket>(currentWrite_);
  if (!packet || !writeStream_) return;
  auto keep = self<RunLoopSocket>();
  std::uint64_t total = 0;
  bool finished = false;
  while (!finished && canAcceptBytes()) {
    std::size_t remaining = packet->buffer.length() - packet->bytesDone;
    std::size_t chunk = std::min(remaining, kWriteChunk);
    long n = writeStream_->write_maxLength(packet->buffer.bytes() + packet->bytesDone, chunk);
    flags_ &= ~kSocketCanAcceptBytes;
    if (n < 0) {
      closeWithError(errorFromCFStreamError(writeStream_->getError()));
      return;
    }
    packet->bytesDone += static_cast<std::uint64_t>(n);
    total += static_cast<std::uint64_t>(n);
    finished = packet->bytesDone == packet->buffer.length();
    if (n == 0) break;
  }
  if (finished) {
    completeCurrentWrite();
    scheduleDequeueWrite();
  } else if (total > 0 && delegate_) {
    delegate_->onSocket_didWritePartialDataOfLength_tag(keep, total, packet->tag);
  }
}

void RunLoopSocket::completeCurrentWrite() {
  auto packet = std::static_pointer_cast<RunLoopWritePacket>(currentWrite_);
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocket_didWriteDataWithTag(me, packet->tag);
  if (currentWrite_) endCurrentWrite();
}

void RunLoopSocket::endCurrentWrite() {
  endCurrentPacket(currentWrite_, writeTimer_);
}

void RunLoopSocket::doWriteTimeout() {
  doPacketTimeout<RunLoopWritePacket>(
      currentWrite_, writeTimer_,
      &RunLoopSocketDelegate::onSocket_shouldTimeoutWriteWithTag_elapsed_bytesDone,
      &RunLoopSocket::doWriteTimeout, RunLoopSocketWriteTimeoutError);
}

float RunLoopSocket::progressOfWriteReturningTag_bytesDone_total(long* tag, std::uint64_t* done,
                                                                 std::uint64_t* total) const {
  auto packet = std::dynamic_pointer_cast<RunLoopWritePacket>(currentWrite_);
  return progressOfPacket(packet.get(), packet ? packet->buffer.length() : 0, tag, done, total);
}

// ---- what reading and writing share ----

void RunLoopSocket::endCurrentPacket(ns::Ref<ns::Object>& current, ns::Ref<ns::Timer>& timer) {
  if (timer) timer->invalidate();
  timer = nullptr;
  current = nullptr;
}

template <class Packet>
void RunLoopSocket::doPacketTimeout(const ns::Ref<ns::Object>& current, ns::Ref<ns::Timer>& timer,
                                    ShouldTimeout shouldTimeout, void (RunLoopSocket::*again)(),
                                    long timeoutError) {
  auto packet = std::dynamic_pointer_cast<Packet>(current);
  if (!packet) return;
  auto me = self<RunLoopSocket>();
  double extra =
      delegate_ ? ((*delegate_).*shouldTimeout)(me, packet->tag, packet->timeout, packet->bytesDone) : 0;
  if (extra > 0 && current == packet) {
    packet->timeout += extra;
    if (timer) timer->invalidate();
    timer = makeTimer(extra, again);
    return;
  }
  closeWithError(socketError(timeoutError));
}

template <class Packet>
float RunLoopSocket::progressOfPacket(const Packet* packet, std::uint64_t length, long* tag,
                                      std::uint64_t* done, std::uint64_t* total) {
  if (!packet) {
    if (tag) *tag = 0;
    if (done) *done = 0;
    if (total) *total = 0;
    return std::nanf("");
  }
  if (tag) *tag = packet->tag;
  if (done) *done = packet->bytesDone;
  if (total) *total = length;
  // An empty packet has nothing left to do.
  return length > 0 ? static_cast<float>(packet->bytesDone) / static_cast<float>(length) : 1.0f;
}
