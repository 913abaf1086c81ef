#include "platform/net/StreamPair.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/security/SSLContext.h"

namespace cf {

using OSStatus = sec::OSStatus;

namespace {

std::string domainName(long domain) {
  switch (domain) {
    case StreamErrorDomainPOSIX:
      return "NSPOSIXErrorDomain";
    case StreamErrorDomainNetDB:
      return "kCFStreamErrorDomainNetDB";
    case StreamErrorDomainSSL:
      return "kCFStreamErrorDomainSSL";
    default:
      return "CFStreamError";
  }
}

ns::Error toError(StreamError e) {
  if (e.domain == StreamErrorDomainPOSIX) return ns::Error::posix(e.error);
  if (e.domain == StreamErrorDomainNetDB)
    return ns::Error::withDescription(domainName(e.domain), e.error, ::gai_strerror(e.error));
  return ns::Error(domainName(e.domain), e.error);
}

struct Scheduling {
  ns::Weak<ns::RunLoop> loop;
  std::string mode;
};

}  // namespace

// What the two streams of a pair share: the descriptor, the connection under way, the TLS
// session and the descriptor sources that watch for readiness on the streams' run loops.
class StreamPairCore : public ns::Object {
 public:
  StreamPairCore(int fd, bool ownsFd) : fd_(fd), ownsFd_(ownsFd), state_(fd >= 0 ? kOpen : kIdle) {}
  StreamPairCore(std::string host, std::uint16_t port, StreamResolver resolver)
      : host_(std::move(host)), port_(port), resolver_(std::move(resolver)), ownsFd_(true) {}
  ~StreamPairCore() override {
    removeRegistrations();
    if (fd_ >= 0 && closeOnEnd_) ::close(fd_);
  }

  ns::Weak<ReadStream> readStream;
  ns::Weak<WriteStream> writeStream;

  void schedule(bool read, const ns::Ref<ns::RunLoop>& loop, const std::string& mode, bool add) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    auto& list = read ? readSched_ : writeSched_;
    auto same = [&](const Scheduling& s) { return s.loop.lock() == loop && s.mode == mode; };
    if (add) {
      if (std::none_of(list.begin(), list.end(), same)) list.push_back({loop, mode});
    } else {
      std::erase_if(list, same);
    }
    rebuildRegistrations();
  }

  // A stream's open(): answers whether the stream is open at once.
  void streamOpening(bool read) {
    int state;
    {
      std::lock_guard<std::recursive_mutex> lock(m_);
      (read ? readOpened_ : writeOpened_) = true;
      state = state_;
      if (state_ == kIdle) {
        state_ = kResolving;
        startResolve();
      }
    }
    if (state == kOpen) finishOpen(read);
    if (state == kFailed) failStream(read, error_);
  }

  void streamClosed(bool read) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    (read ? readClosed_ : writeClosed_) = true;
    if (!(readClosed_ && writeClosed_)) return;
    removeRegistrations();
    if (fd_ >= 0 && (closeOnEnd_ || ownsFd_)) ::close(fd_);
    fd_ = -1;
    state_ = kClosed;
  }

  void setCloseOnEnd(bool value) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    closeOnEnd_ = value || ownsFd_;
  }
  bool closeOnEnd() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return closeOnEnd_;
  }
  int nativeHandle() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return state_ == kOpen ? fd_ : -1;
  }
  const ns::Value& sslSettings() const { return sslSettings_; }

  // The socket properties both streams answer; none for a key that is the stream's own.
  std::optional<ns::Value> propertyForKey(const std::string& key) const {
    if (key == kCFStreamPropertySocketNativeHandle) {
      int fd = nativeHandle();
      return fd < 0 ? ns::Value() : ns::Value(ns::Data(&fd, sizeof fd));
    }
    if (key == kCFStreamPropertyShouldCloseNativeSocket) return ns::Value(closeOnEnd());
    if (key == kCFStreamPropertySSLSettings) return sslSettings();
    return std::nullopt;
  }
  std::optional<bool> setProperty_forKey(const ns::Value& value, const std::string& key) {
    if (key == kCFStreamPropertyShouldCloseNativeSocket) {
      setCloseOnEnd(value.boolValue());
      return true;
    }
    if (key == kCFStreamPropertySSLSettings) return setPendingSSL(value);
    return std::nullopt;
  }

  // ---- readiness ----

  bool hasBytesAvailable() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ != kOpen || tls_ == kHandshaking || tls_ == kTlsFailed) return false;
    if (tls_ == kSecure) {
      if (plain_.empty()) pullTLS();
      return !plain_.empty();
    }
    int n = 0;
    return ::ioctl(fd_, FIONREAD, &n) == 0 && n > 0;
  }

  bool canAcceptBytes() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ != kOpen || tls_ == kHandshaking || tls_ == kTlsFailed) return false;
    if (tls_ == kSecure && sslHeld_ && !flushTLS()) return false;
    pollfd p{fd_, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
  }

  // The readiness event of one side, or none after arming the descriptor watch for it.
  bool readReady() {
    if (hasBytesAvailable()) return true;
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ == kOpen && tls_ != kHandshaking && !readEnded_) {
      readWatch_ = true;
      updateEvents();
    }
    return false;
  }
  bool writeReady() {
    if (canAcceptBytes()) return true;
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ == kOpen && tls_ != kHandshaking) {
      writeWatch_ = true;
      updateEvents();
    }
    return false;
  }

  // ---- transfer ----

  // Bytes read; 0 when none are there (or at the end: *end is set); -1 with *error.
  long read(std::uint8_t* buffer, std::size_t max, bool* end, StreamError* error) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ != kOpen) return -1;
    if (tls_ == kHandshaking) return 0;
    if (tls_ == kSecure) {
      if (plain_.empty()) pullTLS();
      std::size_t n = std::min(max, plain_.size());
      std::memcpy(buffer, plain_.data(), n);
      plain_.erase(0, n);
      if (plain_.empty() && tlsStatus_ != sec::noErr) {
        if (isTLSClose(tlsStatus_)) {
          *end = true;
          readEnded_ = true;
        } else if (n == 0) {
          *error = {StreamErrorDomainSSL, tlsStatus_};
          return -1;
        }
      }
      return static_cast<long>(n);
    }
    ssize_t n = ::recv(fd_, buffer, max, MSG_DONTWAIT);
    if (n > 0) return n;
    if (n == 0 && max > 0) {
      *end = true;
      readEnded_ = true;
      return 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    if (n < 0) {
      *error = {StreamErrorDomainPOSIX, errno};
      return -1;
    }
    return 0;
  }

  long write(const std::uint8_t* buffer, std::size_t length, StreamError* error) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ != kOpen) return -1;
    if (tls_ == kHandshaking) return 0;
    if (tls_ == kSecure) {
      if (sslHeld_ && !flushTLS()) return tlsWriteFailure(error);
      std::size_t processed = 0;
      OSStatus status = ssl_->write(buffer, length, &processed);
      if (status == sec::noErr) return static_cast<long>(processed);
      if (status == sec::errSSLWouldBlock) {
        if (processed > 0) return static_cast<long>(processed);
        // The session took the bytes and sends them with the next call.
        sslHeld_ = true;
        return static_cast<long>(length);
      }
      *error = {StreamErrorDomainSSL, status};
      return -1;
    }
    ssize_t n = ::send(fd_, buffer, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    *error = {StreamErrorDomainPOSIX, errno};
    return -1;
  }

  // ---- TLS ----

  bool startTLS(const ns::Value& settings) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (!settings.isDictionary()) return false;
    if (tls_ != kNoTLS) return sslSettings_.isEqual(settings);
    bool server = settings[kCFStreamSSLIsServer].boolValue();
    auto ctx = sec::SSLContext::create(server ? sec::kSSLServerSide : sec::kSSLClientSide);
    if (!ctx) return false;
    const ns::Value& peer = settings[kCFStreamSSLPeerName];
    if (peer.isString() && ctx->setPeerDomainName(peer.string()) != sec::noErr) return false;
    const ns::Value& certs = settings[kCFStreamSSLCertificates];
    if (certs.isArray() && certs.count() > 0) {
      auto identity = certs[0].objectAs<sec::Identity>();
      if (!identity) return false;
      std::vector<ns::Ref<sec::Certificate>> extra;
      for (std::size_t i = 1; i < certs.count(); ++i)
        if (auto c = certs[i].objectAs<sec::Certificate>()) extra.push_back(c);
      if (ctx->setCertificate(identity, extra) != sec::noErr) return false;
    }
    bool verify = true;
    const ns::Value& validates = settings[kCFStreamSSLValidatesCertificateChain];
    if (!validates.isNil() && !validates.boolValue()) verify = false;
    for (const char* key :
         {kCFStreamSSLAllowsExpiredCertificates, kCFStreamSSLAllowsExpiredRoots, kCFStreamSSLAllowsAnyRoot})
      if (settings[key].boolValue()) verify = false;
    if (!server) ctx->setEnableCertVerify(verify);
    const ns::Value& level = settings[kCFStreamSSLLevel];
    if (level.isString()) {
      if (level.string() == kCFStreamSocketSecurityLevelTLSv1) ctx->setProtocolVersionMin(sec::kTLSProtocol1);
    }
    ns::Weak<StreamPairCore> weak = weakSelf<StreamPairCore>();
    ctx->setIOFuncs([this](void* data, std::size_t* length) { return transportRead(data, length); },
                    [this](const void* data, std::size_t* length) { return transportWrite(data, length); });
    ssl_ = ctx;
    sslSettings_ = settings;
    tls_ = kHandshaking;
    readWatch_ = writeWatch_ = false;
    if (state_ == kOpen) {
      // Drive the first step on a later pass, so that events never arrive inside the call.
      for (auto& reg : registrations_)
        if (auto loop = reg.loop.lock())
          loop->performInModes_block(reg.modes, [weak] {
            if (auto self = weak.lock()) self->driveHandshake();
          });
      updateEvents();
    }
    return true;
  }

  // ---- descriptor call-backs ----

  void onReady(short revents) {
    auto self = std::static_pointer_cast<StreamPairCore>(shared_from_this());
    std::unique_lock<std::recursive_mutex> lock(m_);
    if (state_ == kConnecting) {
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      if (err == EINPROGRESS || err == EALREADY) return;
      if (err == 0) {
        state_ = kOpen;
        rebuildRegistrations();
        lock.unlock();
        connected();
        return;
      }
      lastErrno_ = err;
      removeRegistrations();
      ::close(fd_);
      fd_ = -1;
      tryNextAddress();
      return;
    }
    if (state_ != kOpen) return;
    if (tls_ == kHandshaking) {
      lock.unlock();
      driveHandshake();
      return;
    }
    bool postRead = false, postWrite = false, end = false;
    StreamError readError;
    if (readWatch_ && (revents & (POLLIN | POLLHUP | POLLERR))) {
      readWatch_ = false;
      if (tls_ == kSecure) {
        pullTLS();
        if (!plain_.empty()) {
          postRead = true;
        } else if (isTLSClose(tlsStatus_)) {
          end = true;
        } else if (tlsStatus_ != sec::noErr) {
          readError = {StreamErrorDomainSSL, tlsStatus_};
        } else {
          readWatch_ = true;
        }
      } else {
        int n = 0;
        char probe;
        if (::ioctl(fd_, FIONREAD, &n) == 0 && n > 0) {
          postRead = true;
        } else {
          ssize_t got = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
          if (got > 0) {
            postRead = true;
          } else if (got == 0) {
            end = true;
          } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            readWatch_ = true;
          } else {
            readError = {StreamErrorDomainPOSIX, errno};
          }
        }
      }
      if (end) readEnded_ = true;
    }
    if (writeWatch_ && (revents & (POLLOUT | POLLERR | POLLHUP))) {
      writeWatch_ = false;
      if (tls_ == kSecure && sslHeld_ && !flushTLS()) {
        if (tlsStatus_ == sec::noErr) writeWatch_ = true;
      } else {
        postWrite = true;
      }
    }
    updateEvents();
    auto rs = readStream.lock();
    auto ws = writeStream.lock();
    lock.unlock();
    if (rs) {
      if (postRead) rs->postReadiness();
      if (end) rs->reachEnd();
      if (readError.domain) rs->failWithStreamError(readError);
    }
    if (ws && postWrite) ws->postReadiness();
  }

 private:
  enum State { kIdle, kResolving, kConnecting, kOpen, kFailed, kClosed };
  enum TLSState { kNoTLS, kHandshaking, kSecure, kTlsFailed };
  struct Registration {
    ns::Weak<ns::RunLoop> loop;
    std::vector<std::string> modes;
    ns::RunLoop::DescriptorId id = 0;
  };

  static bool isTLSClose(OSStatus s) {
    return s == sec::errSSLClosedGraceful || s == sec::errSSLClosedAbort || s == sec::errSSLClosedNoNotify;
  }

  long tlsWriteFailure(StreamError* error) {
    if (tlsStatus_ != sec::noErr) {
      *error = {StreamErrorDomainSSL, tlsStatus_};
      return -1;
    }
    return 0;
  }

  OSStatus transportRead(void* data, std::size_t* length) {
    std::size_t want = *length, got = 0;
    while (got < want) {
      ssize_t n = ::recv(fd_, static_cast<char*>(data) + got, want - got, MSG_DONTWAIT);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        continue;
      }
      *length = got;
      if (n == 0) return sec::errSSLClosedAbort;
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return sec::errSSLWouldBlock;
      return sec::errSSLClosedAbort;
    }
    return sec::noErr;
  }

  OSStatus transportWrite(const void* data, std::size_t* length) {
    std::size_t want = *length, sent = 0;
    while (sent < want) {
      ssize_t n =
          ::send(fd_, static_cast<const char*>(data) + sent, want - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      *length = sent;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        writeBlocked_ = true;
        return sec::errSSLWouldBlock;
      }
      return sec::errSSLClosedAbort;
    }
    writeBlocked_ = false;
    return sec::noErr;
  }

  // Decrypts whatever the transport holds into plain_.
  void pullTLS() {
    if (!ssl_ || tls_ != kSecure || tlsStatus_ != sec::noErr) return;
    char buffer[16384];
    for (;;) {
      std::size_t n = 0;
      OSStatus status = ssl_->read(buffer, sizeof buffer, &n);
      plain_.append(buffer, n);
      if (status == sec::noErr && n > 0) continue;
      if (status != sec::noErr && status != sec::errSSLWouldBlock) tlsStatus_ = status;
      break;
    }
  }

  bool flushTLS() {
    std::size_t n = 0;
    OSStatus status = ssl_->write(nullptr, 0, &n);
    if (status == sec::noErr) {
      sslHeld_ = false;
      return true;
    }
    if (status != sec::errSSLWouldBlock) tlsStatus_ = status;
    return false;
  }

  void driveHandshake() {
    std::unique_lock<std::recursive_mutex> lock(m_);
    if (tls_ != kHandshaking || state_ != kOpen) return;
    OSStatus status = ssl_->handshake();
    if (status == sec::errSSLWouldBlock) {
      updateEvents();
      return;
    }
    auto rs = readStream.lock();
    auto ws = writeStream.lock();
    if (status != sec::noErr) {
      tls_ = kTlsFailed;
      updateEvents();
      lock.unlock();
      StreamError e{StreamErrorDomainSSL, status};
      if (rs) rs->failWithStreamError(e);
      if (ws) ws->failWithStreamError(e);
      return;
    }
    tls_ = kSecure;
    pullTLS();
    bool bytes = !plain_.empty();
    updateEvents();
    lock.unlock();
    // The owner learns of the finished handshake from the first readiness event.
    if (ws) ws->postReadiness();
    if (rs && bytes) rs->postReadiness();
    if (rs && !bytes) readReady();
  }

  short wantedEvents() const {
    if (fd_ < 0) return 0;
    if (state_ == kConnecting) return POLLOUT;
    if (state_ != kOpen) return 0;
    if (tls_ == kHandshaking) return static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0));
    if (tls_ == kTlsFailed) return 0;
    return static_cast<short>((readWatch_ ? POLLIN : 0) | (writeWatch_ ? POLLOUT : 0));
  }

  void updateEvents() {
    short events = wantedEvents();
    for (auto& reg : registrations_)
      if (auto loop = reg.loop.lock()) loop->setDescriptorEvents(reg.id, events);
  }

  void removeRegistrations() {
    for (auto& reg : registrations_)
      if (auto loop = reg.loop.lock()) loop->removeDescriptor(reg.id);
    registrations_.clear();
  }

  // One descriptor source per run loop, in every mode either stream is scheduled in.
  void rebuildRegistrations() {
    removeRegistrations();
    if (fd_ < 0) return;
    std::vector<Registration> wanted;
    for (auto* list : {&readSched_, &writeSched_})
      for (auto& s : *list) {
        auto loop = s.loop.lock();
        if (!loop) continue;
        auto it = std::find_if(wanted.begin(), wanted.end(),
                               [&](const Registration& r) { return r.loop.lock() == loop; });
        if (it == wanted.end()) {
          wanted.push_back({loop, {s.mode}, 0});
        } else if (std::find(it->modes.begin(), it->modes.end(), s.mode) == it->modes.end()) {
          it->modes.push_back(s.mode);
        }
      }
    ns::Weak<StreamPairCore> weak = weakSelf<StreamPairCore>();
    for (auto& reg : wanted) {
      auto loop = reg.loop.lock();
      reg.id = loop->addDescriptor(
          fd_, wantedEvents(),
          [weak](int, short revents) {
            if (auto self = weak.lock()) self->onReady(revents);
          },
          reg.modes);
    }
    registrations_ = std::move(wanted);
  }

  ns::Ref<ns::RunLoop> firstLoop(std::vector<std::string>* modes) const {
    for (auto* list : {&readSched_, &writeSched_})
      for (auto& s : *list)
        if (auto loop = s.loop.lock()) {
          for (auto& t : *list)
            if (t.loop.lock() == loop) modes->push_back(t.mode);
          return loop;
        }
    modes->push_back(ns::DefaultRunLoopMode);
    return ns::RunLoop::currentRunLoop();
  }

  void startResolve() {
    std::vector<std::string> modes;
    auto loop = firstLoop(&modes);
    ns::Weak<StreamPairCore> weak = weakSelf<StreamPairCore>();
    std::string host = host_;
    std::string service = std::to_string(port_);
    StreamResolver resolver = resolver_;
    dispatch::async(dispatch::globalQueue(), [weak, host, service, resolver, loop, modes] {
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      hints.ai_protocol = IPPROTO_TCP;
      addrinfo* res = nullptr;
      int rc = resolver ? resolver(host.c_str(), service.c_str(), &hints, &res)
                        : ::getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
      std::vector<ns::Data> addresses;
      for (addrinfo* ai = res; rc == 0 && ai; ai = ai->ai_next)
        if (ai->ai_family == AF_INET || ai->ai_family == AF_INET6)
          addresses.emplace_back(ai->ai_addr, ai->ai_addrlen);
      if (res) ::freeaddrinfo(res);
      loop->performInModes_block(modes, [weak, rc, addresses] {
        if (auto self = weak.lock()) self->resolved(rc, addresses);
      });
    });
  }

  void resolved(int rc, const std::vector<ns::Data>& addresses) {
    std::unique_lock<std::recursive_mutex> lock(m_);
    if (state_ != kResolving) return;
    if (rc != 0) {
      lock.unlock();
      fail({StreamErrorDomainNetDB, rc});
      return;
    }
    addresses_ = addresses;
    next_ = 0;
    lastErrno_ = EHOSTUNREACH;
    tryNextAddress();
  }

  // Called with the lock held.
  void tryNextAddress() {
    while (next_ < addresses_.size()) {
      const ns::Data& address = addresses_[next_++];
      auto* sa = reinterpret_cast<const sockaddr*>(address.bytes());
      int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
      if (fd < 0) {
        lastErrno_ = errno;
        continue;
      }
      if (::connect(fd, sa, static_cast<socklen_t>(address.length())) == 0 || errno == EINPROGRESS) {
        fd_ = fd;
        state_ = kConnecting;
        rebuildRegistrations();
        return;
      }
      lastErrno_ = errno;
      ::close(fd);
    }
    state_ = kFailed;
    rebuildRegistrations();
    StreamError e{StreamErrorDomainPOSIX, lastErrno_};
    error_ = e;
    failStreams(e);
  }

  void fail(StreamError e) {
    {
      std::lock_guard<std::recursive_mutex> lock(m_);
      state_ = kFailed;
      error_ = e;
    }
    failStreams(e);
  }

  void failStreams(StreamError e) {
    bool r, w;
    {
      std::lock_guard<std::recursive_mutex> lock(m_);
      r = readOpened_;
      w = writeOpened_;
    }
    if (r) failStream(true, e);
    if (w) failStream(false, e);
  }

  void failStream(bool read, StreamError e) {
    if (read) {
      if (auto rs = readStream.lock()) rs->failWithStreamError(e);
    } else if (auto ws = writeStream.lock()) {
      ws->failWithStreamError(e);
    }
  }

  void connected() {
    bool r, w;
    {
      std::lock_guard<std::recursive_mutex> lock(m_);
      r = readOpened_;
      w = writeOpened_;
      if (!sslSettings_.isNil() && tls_ == kNoTLS) {
        ns::Value settings = sslSettings_;
        sslSettings_ = ns::Value();
        startTLS(settings);
      }
    }
    if (r) finishOpen(true);
    if (w) finishOpen(false);
  }

  void finishOpen(bool read) {
    if (read) {
      if (auto rs = readStream.lock()) rs->finishOpen();
    } else if (auto ws = writeStream.lock()) {
      ws->finishOpen();
    }
  }

 public:
  // Settings given before the connection opened wait for it.
  bool setPendingSSL(const ns::Value& settings) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (state_ == kOpen) return startTLS(settings);
    if (!settings.isDictionary() || state_ == kFailed || state_ == kClosed) return false;
    sslSettings_ = settings;
    return true;
  }

 private:
  mutable std::recursive_mutex m_;
  std::string host_;
  std::uint16_t port_ = 0;
  StreamResolver resolver_;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool closeOnEnd_ = false;
  int state_ = kIdle;
  StreamError error_;
  std::vector<ns::Data> addresses_;
  std::size_t next_ = 0;
  int lastErrno_ = 0;
  bool readOpened_ = false, writeOpened_ = false;
  bool readClosed_ = false, writeClosed_ = false;
  bool readWatch_ = false, writeWatch_ = false;
  bool readEnded_ = false;
  std::vector<Scheduling> readSched_, writeSched_;
  std::vector<Registration> registrations_;
  ns::Ref<sec::SSLContext> ssl_;
  ns::Value sslSettings_;
  int tls_ = kNoTLS;
  OSStatus tlsStatus_ = sec::noErr;
  std::string plain_;
  bool sslHeld_ = false;
  bool writeBlocked_ = false;
};

namespace {

// The two streams of a core, handed to whichever of the out-parameters the caller gave.
void makeStreams(const ns::Ref<StreamPairCore>& core, ns::Ref<ReadStream>* readStream,
                 ns::Ref<WriteStream>* writeStream) {
  auto r = ns::make<ReadStream>(core);
  auto w = ns::make<WriteStream>(core);
  core->readStream = r;
  core->writeStream = w;
  if (readStream) *readStream = r;
  if (writeStream) *writeStream = w;
}

}  // namespace

void createPairWithSocketToHost(const std::string& host, std::uint16_t port, ns::Ref<ReadStream>* readStream,
                                ns::Ref<WriteStream>* writeStream, StreamResolver resolver) {
  makeStreams(ns::make<StreamPairCore>(host, port, std::move(resolver)), readStream, writeStream);
}

void createPairWithSocket(int fd, ns::Ref<ReadStream>* readStream, ns::Ref<WriteStream>* writeStream) {
  if (readStream) *readStream = nullptr;
  if (writeStream) *writeStream = nullptr;
  if (fd < 0) return;
  makeStreams(ns::make<StreamPairCore>(fd, false), readStream, writeStream);
}

// ---- what both halves share ----

template <class Self, class Base, bool kRead>
StreamPairHalf<Self, Base, kRead>::StreamPairHalf(ns::Ref<StreamPairCore> core) : core_(std::move(core)) {}

template <class Self, class Base, bool kRead>
StreamPairHalf<Self, Base, kRead>::~StreamPairHalf() {
  if (this->streamStatus() != ns::StreamStatusClosed) core_->streamClosed(kRead);
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::open() {
  if (this->streamStatus() != ns::StreamStatusNotOpen) return;
  this->setStatus(ns::StreamStatusOpening);
  core_->streamOpening(kRead);
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::finishOpen() {
  if (this->streamStatus() != ns::StreamStatusOpening) return;
  this->setStatus(ns::StreamStatusOpen);
  this->postEvent(ns::StreamEventOpenCompleted);
  if (kRead ? core_->readReady() : core_->writeReady()) postReadiness();
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::failWithStreamError(StreamError error) {
  auto s = this->streamStatus();
  if (s == ns::StreamStatusClosed || s == ns::StreamStatusError) return;
  {
    std::lock_guard<std::mutex> lock(this->mutex_);
    cfError_ = error;
  }
  this->failWith(toError(error));
}

template <class Self, class Base, bool kRead>
long StreamPairHalf<Self, Base, kRead>::failTransfer(StreamError error) {
  failWithStreamError(error.domain ? error : StreamError{StreamErrorDomainPOSIX, EBADF});
  return -1;
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::close() {
  bool wasClosed = this->streamStatus() == ns::StreamStatusClosed;
  Base::close();
  if (!wasClosed) core_->streamClosed(kRead);
}

template <class Self, class Base, bool kRead>
ns::Value StreamPairHalf<Self, Base, kRead>::propertyForKey(const std::string& key) {
  if (auto value = core_->propertyForKey(key)) return *value;
  return Base::propertyForKey(key);
}

template <class Self, class Base, bool kRead>
bool StreamPairHalf<Self, Base, kRead>::setProperty_forKey(const ns::Value& value, const std::string& key) {
  if (auto done = core_->setProperty_forKey(value, key)) return *done;
  return Base::setProperty_forKey(value, key);
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop,
                                                                  const std::string& mode) {
  if (!runLoop) return;
  core_->schedule(kRead, runLoop, mode, true);
  Base::scheduleInRunLoop_forMode(runLoop, mode);
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop,
                                                                  const std::string& mode) {
  Base::removeFromRunLoop_forMode(runLoop, mode);
  core_->schedule(kRead, runLoop, mode, false);
}

template <class Self, class Base, bool kRead>
ns::StreamEvent StreamPairHalf<Self, Base, kRead>::readinessEvent() const {
  return (kRead ? core_->readReady() : core_->writeReady()) ? kReadiness : ns::StreamEventNone;
}

template <class Self, class Base, bool kRead>
StreamError StreamPairHalf<Self, Base, kRead>::getError() const {
  std::lock_guard<std::mutex> lock(this->mutex_);
  return cfError_;
}

template <class Self, class Base, bool kRead>
bool StreamPairHalf<Self, Base, kRead>::setClient(unsigned long events, StreamClientCallBack<Self> callback) {
  if (this->streamStatus() == ns::StreamStatusClosed) return false;
  std::lock_guard<std::mutex> lock(this->mutex_);
  clientEvents_ = callback ? events : 0;
  client_ = clientEvents_ ? std::move(callback) : nullptr;
  return true;
}

template <class Self, class Base, bool kRead>
void StreamPairHalf<Self, Base, kRead>::stream_handleEvent(ns::Stream&, ns::StreamEvent event) {
  StreamClientCallBack<Self> client;
  {
    std::lock_guard<std::mutex> lock(this->mutex_);
    if (!(clientEvents_ & event)) return;
    client = client_;
  }
  auto keep = std::static_pointer_cast<Self>(this->shared_from_this());
  if (client) client(static_cast<Self&>(*this), static_cast<StreamEventType>(event));
}

template class StreamPairHalf<ReadStream, ns::InputStream, true>;
template class StreamPairHalf<WriteStream, ns::OutputStream, false>;

// ---- ReadStream ----

ReadStream::ReadStream(ns::Ref<StreamPairCore> core) : StreamPairHalf(std::move(core)) {}

void ReadStream::reachEnd() {
  auto s = streamStatus();
  if (s != ns::StreamStatusOpen && s != ns::StreamStatusReading) return;
  setStatus(ns::StreamStatusAtEnd);
  postEvent(ns::StreamEventEndEncountered);
}

long ReadStream::read_maxLength(std::uint8_t* buffer, std::size_t maxLength) {
  auto s = streamStatus();
  if (s == ns::StreamStatusAtEnd) return 0;
  if (s != ns::StreamStatusOpen) return -1;
  bool end = false;
  StreamError error;
  long n = core_->read(buffer, maxLength, &end, &error);
  if (n < 0) return failTransfer(error);
  if (end && n == 0) {
    reachEnd();
    return 0;
  }
  didTransfer();
  return n;
}

bool ReadStream::hasBytesAvailable() {
  return core_->hasBytesAvailable();
}

// ---- WriteStream ----

WriteStream::WriteStream(ns::Ref<StreamPairCore> core) : StreamPairHalf(std::move(core)) {}

void WriteStream::reachEnd() {
  if (streamStatus() != ns::StreamStatusOpen) return;
  setStatus(ns::StreamStatusAtEnd);
  postEvent(ns::StreamEventEndEncountered);
}

long WriteStream::write_maxLength(const std::uint8_t* buffer, std::size_t length) {
  if (streamStatus() != ns::StreamStatusOpen) return -1;
  StreamError error;
  long n = core_->write(buffer, length, &error);
  if (n < 0) return failTransfer(error);
  didTransfer();
  return n;
}

bool WriteStream::canAcceptBytes() {
  return core_->canAcceptBytes();
}

}  // namespace cf
