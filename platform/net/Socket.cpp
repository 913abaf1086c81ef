#include "platform/net/Socket.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace cf {

namespace {

constexpr unsigned kDefaultCreateFlags = Socket::AutomaticallyReenableReadCallBack |
                                         Socket::AutomaticallyReenableAcceptCallBack |
                                         Socket::CloseOnInvalidate;
constexpr unsigned kDefaultNativeFlags =
    Socket::AutomaticallyReenableReadCallBack | Socket::AutomaticallyReenableAcceptCallBack;
constexpr int kListenBacklog = 256;

bool holdsSomething(const ns::Weak<ns::Object>& info) {
  // An empty weak pointer and an expired one both answer expired(); an owner named at creation
  // is alive at that moment, so this tells whether one was named.
  return !info.expired();
}

}  // namespace

ns::Ref<Socket> Socket::createWithFamily(int family, int type, int protocol, unsigned callBackTypes,
                                         CallOut callout, ns::Weak<ns::Object> info) {
  int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return nullptr;
  return ns::make<Socket>(fd, callBackTypes, kDefaultCreateFlags, std::move(callout), std::move(info));
}

ns::Ref<Socket> Socket::createWithNative(int fd, unsigned callBackTypes, CallOut callout,
                                         ns::Weak<ns::Object> info) {
  if (fd < 0) return nullptr;
  return ns::make<Socket>(fd, callBackTypes, kDefaultNativeFlags, std::move(callout), std::move(info));
}

Socket::Socket(int fd, unsigned callBackTypes, unsigned flags, CallOut callout, ns::Weak<ns::Object> info)
    : fd_(fd),
      callBackTypes_(callBackTypes),
      enabled_(callBackTypes),
      flags_(flags),
      callout_(std::move(callout)),
      hasInfo_(holdsSomething(info)) {
  info_ = std::move(info);
}

Socket::~Socket() {
  invalidate();
}

unsigned Socket::socketFlags() const {
  std::lock_guard lock(mutex_);
  return flags_;
}

void Socket::setSocketFlags(unsigned flags) {
  std::lock_guard lock(mutex_);
  flags_ = flags;
}

void Socket::enableCallBacks(unsigned types) {
  std::lock_guard lock(mutex_);
  if (!valid_) return;
  enabled_ |= (types & callBackTypes_);
  updateEventsLocked();
}

void Socket::disableCallBacks(unsigned types) {
  std::lock_guard lock(mutex_);
  if (!valid_) return;
  enabled_ &= ~types;
  updateEventsLocked();
}

short Socket::pollEventsLocked() const {
  short events = 0;
  if (enabled_ & (ReadCallBack | AcceptCallBack)) events |= POLLIN;
  if (connectPending_ || (enabled_ & WriteCallBack)) events |= POLLOUT;
  return events;
}

void Socket::updateEventsLocked() {
  short events = pollEventsLocked();
  for (auto& reg : registrations_)
    if (auto loop = reg.loop.lock()) loop->setDescriptorEvents(reg.id, events);
}

void Socket::scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& loop, const std::string& mode) {
  if (!loop) return;
  std::lock_guard lock(mutex_);
  if (!valid_) return;
  for (auto& reg : registrations_) {
    if (reg.loop.lock() != loop) continue;
    if (std::find(reg.modes.begin(), reg.modes.end(), mode) == reg.modes.end()) {
      reg.modes.push_back(mode);
      loop->addDescriptorMode(reg.id, mode);
    }
    return;
  }
  ns::Weak<Socket> weak = weakSelf<Socket>();
  auto id = loop->addDescriptor(fd_, pollEventsLocked(),
                                [weak](int, short revents) {
                                  if (auto s = weak.lock()) s->handleReady(revents);
                                },
                                {mode});
  registrations_.push_back({loop, id, {mode}});
}

void Socket::removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& loop, const std::string& mode) {
  if (!loop) return;
  std::lock_guard lock(mutex_);
  for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
    if (it->loop.lock() != loop) continue;
    auto m = std::find(it->modes.begin(), it->modes.end(), mode);
    if (m == it->modes.end()) return;
    it->modes.erase(m);
    if (it->modes.empty()) {
      loop->removeDescriptor(it->id);
      registrations_.erase(it);
    } else {
      loop->removeDescriptorMode(it->id, mode);
    }
    return;
  }
}

void Socket::handleReady(short revents) {
  std::vector<Event> events;
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    if (revents & POLLNVAL) {
      // The descriptor was closed behind our back: stop watching it rather than spin.
      enabled_ = 0;
      connectPending_ = false;
      updateEventsLocked();
      return;
    }
    const bool in = revents & (POLLIN | POLLERR | POLLHUP);
    const bool out = revents & (POLLOUT | POLLERR | POLLHUP);
    if (out && connectPending_) {
      connectPending_ = false;
      Event e;
      e.type = ConnectCallBack;
      e.errorNumber = pendingConnectError_;
      pendingConnectError_ = 0;
      if (e.errorNumber == 0) {
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
        e.errorNumber = soError;
      }
      if (enabled_ & ConnectCallBack) events.push_back(e);
    } else if (out && (enabled_ & WriteCallBack)) {
      enabled_ &= ~WriteCallBack;
      events.push_back({WriteCallBack, {}, -1, 0});
    }
    if (in && (enabled_ & AcceptCallBack)) {
      sockaddr_storage peer{};
      socklen_t len = sizeof peer;
      int child = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
      if (child >= 0) {
        if (!(flags_ & AutomaticallyReenableAcceptCallBack)) enabled_ &= ~AcceptCallBack;
        events.push_back({AcceptCallBack, ns::Data(&peer, len), child, 0});
      }
    } else if (in && (enabled_ & ReadCallBack)) {
      if (!(flags_ & AutomaticallyReenableReadCallBack)) enabled_ &= ~ReadCallBack;
      events.push_back({ReadCallBack, {}, -1, 0});
    }
    updateEventsLocked();
  }
  for (auto& e : events) deliver(e);
}

void Socket::deliver(const Event& event) {
  CallOut callout;
  ns::Ref<ns::Object> info;
  {
    std::lock_guard lock(mutex_);
    if (valid_) {
      callout = callout_;
      info = info_.lock();
    }
  }
  if (!callout || (hasInfo_ && !info)) {
    // Nobody takes the accepted descriptor: do not leak it.
    if (event.type == AcceptCallBack && event.nativeHandle >= 0) ::close(event.nativeHandle);
    return;
  }
  callout(self<Socket>(), event, info);
}

Socket::Result Socket::setAddress(const ns::Data& address) {
  std::lock_guard lock(mutex_);
  if (!valid_ || address.length() < sizeof(sa_family_t)) return Error;
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(address.bytes()),
             static_cast<socklen_t>(address.length())) != 0)
    return Error;
  int type = 0;
  socklen_t len = sizeof type;
  if (::getsockopt(fd_, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM &&
      ::listen(fd_, kListenBacklog) != 0)
    return Error;
  return Success;
}

Socket::Result Socket::connectToAddress(const ns::Data& address, double timeout) {
  std::unique_lock lock(mutex_);
  if (!valid_ || address.length() < sizeof(sa_family_t)) return Error;
  int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(address.bytes()),
                     static_cast<socklen_t>(address.length()));
  int err = rc == 0 ? 0 : errno;
  if (timeout < 0) {
    if (rc != 0 && err != EINPROGRESS && !(callBackTypes_ & ConnectCallBack)) return Error;
    if (callBackTypes_ & ConnectCallBack) {
      // The outcome, also an immediate failure, comes through the connect call-back.
      connectPending_ = true;
      pendingConnectError_ = err == EINPROGRESS ? 0 : err;
      updateEventsLocked();
    }
    return Success;
  }
  if (rc == 0) return Success;
  if (err != EINPROGRESS) return Error;
  pollfd p{fd_, POLLOUT, 0};
  int ms = static_cast<int>(std::min(std::ceil(timeout * 1000), 2.0e9));
  int n;
  do {
    n = ::poll(&p, 1, ms);
  } while (n < 0 && errno == EINTR);
  if (n == 0) return Timeout;
  int soError = 0;
  socklen_t len = sizeof soError;
  if (n < 0 || ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
    if (soError) errno = soError;
    return Error;
  }
  return Success;
}

int Socket::getNative() const {
  std::lock_guard lock(mutex_);
  return valid_ ? fd_ : -1;
}

ns::Data Socket::copyAddress() const {
  std::lock_guard lock(mutex_);
  if (!valid_) return {};
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return {};
  return ns::Data(&ss, len);
}

ns::Data Socket::copyPeerAddress() const {
  std::lock_guard lock(mutex_);
  if (!valid_) return {};
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return {};
  return ns::Data(&ss, len);
}

void Socket::invalidate() {
  std::vector<Registration> regs;
  CallOut doomed;
  int fd;
  bool close;
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    valid_ = false;
    regs.swap(registrations_);
    doomed = std::move(callout_);
    fd = fd_;
    close = flags_ & CloseOnInvalidate;
    fd_ = -1;
  }
  for (auto& reg : regs)
    if (auto loop = reg.loop.lock()) loop->removeDescriptor(reg.id);
  if (close && fd >= 0) ::close(fd);
}

bool Socket::isValid() const {
  std::lock_guard lock(mutex_);
  return valid_;
}

}  // namespace cf
