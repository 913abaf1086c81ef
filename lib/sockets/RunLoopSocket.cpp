// RunLoopSocket: creation, its description, the run loop and its modes, errors, the endpoints and
// the queueing that reading and writing share. Accepting, connecting, reading, writing, TLS and
// disconnecting have files of their own.
#include "lib/sockets/RunLoopSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/RunLoopSocketPackets.h"
#include "platform/core/Exception.h"
#include "platform/net/Socket.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

namespace runloop_socket_internal {

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
}  // namespace runloop_socket_internal

using namespace runloop_socket_internal;

namespace {

std::string pointerText(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
  return buffer;
}

const char* const kStatusNames[] = {"not open", "opening", "open",   "reading",
                                    "writing",  "at end",  "closed", "has error"};

}  // namespace

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

// ---- what reading and writing share ----

void RunLoopSocket::scheduleDequeue(bool read) {
  const std::uint16_t scheduled = read ? kDequeueReadScheduled : kDequeueWriteScheduled;
  if (flags_ & scheduled) return;
  if (!runLoop_) return;  // nothing is attached yet: the connection's opening dequeues
  flags_ |= scheduled;
  if (read)
    queuePerform("maybeDequeueRead", &RunLoopSocket::maybeDequeueRead);
  else
    queuePerform("maybeDequeueWrite", &RunLoopSocket::maybeDequeueWrite);
}

// Starts the next request of one side: its timer and its first step, or TLS for the TLS marker.
// With that side's queue empty, a disconnect waiting for it happens.
void RunLoopSocket::maybeDequeue(bool read) {
  flags_ &= ~(read ? kDequeueReadScheduled : kDequeueWriteScheduled);
  auto& current = read ? currentRead_ : currentWrite_;
  auto& queue = read ? readQueue_ : writeQueue_;
  if (current || !(read ? static_cast<bool>(readStream_) : static_cast<bool>(writeStream_))) return;
  if (queue.empty()) {
    const std::uint16_t afterThis = read ? kDisconnectAfterReads : kDisconnectAfterWrites;
    const std::uint16_t afterOther = read ? kDisconnectAfterWrites : kDisconnectAfterReads;
    bool otherDone = read ? writeQueue_.empty() && !currentWrite_ : readQueue_.empty() && !currentRead_;
    if ((flags_ & afterThis) && (!(flags_ & afterOther) || otherDone)) disconnect();
    return;
  }
  current = queue.front();
  queue.pop_front();
  if (std::dynamic_pointer_cast<RunLoopSpecialPacket>(current)) {
    flags_ |= read ? kStartingReadTLS : kStartingWriteTLS;
    maybeStartTLS();
    return;
  }
  if (read) {
    double timeout = std::static_pointer_cast<RunLoopReadPacket>(current)->timeout;
    if (timeout >= 0) readTimer_ = makeTimer(timeout, &RunLoopSocket::doReadTimeout);
    doBytesAvailable();
  } else {
    double timeout = std::static_pointer_cast<RunLoopWritePacket>(current)->timeout;
    if (timeout >= 0) writeTimer_ = makeTimer(timeout, &RunLoopSocket::doWriteTimeout);
    doSendBytes();
  }
}
