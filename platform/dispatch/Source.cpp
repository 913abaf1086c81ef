#include "platform/dispatch/Source.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/dispatch/Reactor.h"
#include "platform/dispatch/VnodeWatch.h"

namespace dispatch {
namespace {

using detail::Reactor;

// The descriptor's readiness for reading right now (data, an end of stream, a hang-up or an
// error), or nothing when it is not readable.
std::optional<short> readableEvents(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return std::nullopt;
  short events = static_cast<short>(p.revents & (POLLIN | POLLHUP | POLLERR | POLLRDHUP));
  return events ? std::optional<short>(events) : std::nullopt;
}

bool isListening(int fd) {
  int value = 0;
  socklen_t len = sizeof value;
  return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &value, &len) == 0 && value != 0;
}

// SOCK_STREAM, SOCK_DGRAM...; 0 for a descriptor that is not a socket.
int socketType(int fd) {
  int type = 0;
  socklen_t len = sizeof type;
  return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 ? type : 0;
}

unsigned long bytesWaiting(int fd) {
  int n = 0;
  return ::ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? static_cast<unsigned long>(n) : 0;
}

// Bytes readable at delivery; nothing when readiness went away before the handler's turn.
//
// A count above 0 is taken at once. Otherwise readiness is taken first and the count after it:
// bytes that arrive in between only raise the count. Counting first would report 0, the end of
// the stream, for a stream whose next bytes arrived between the count and the readiness check,
// and readers close a healthy connection on that 0.
std::optional<unsigned long> readData(int fd) {
  // The common case first, in one call: bytes waiting are readiness enough. A listening socket
  // refuses the count, and a count of 0 needs the careful path below.
  if (unsigned long n = bytesWaiting(fd)) return n;
  if (isListening(fd)) {
    // Linux reports a listening TCP socket's accept-queue length in tcpi_unacked.
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 && info.tcpi_unacked > 0)
      return info.tcpi_unacked;
    return readableEvents(fd) ? std::optional<unsigned long>(1) : std::nullopt;
  }
  auto events = readableEvents(fd);
  if (!events) return std::nullopt;
  if (unsigned long n = bytesWaiting(fd)) return n;
  if (socketType(fd) != SOCK_STREAM) {
    // A datagram socket's next datagram is empty (or an error is pending); a pipe or another
    // descriptor with nothing to count has reached its end or has no count.
    return 0;
  }
  // A stream socket that is readable with nothing waiting: 0 only for a real end of stream,
  // which a peek tells apart from bytes already consumed by another reader.
  char byte;
  ssize_t peeked = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (peeked > 0) return std::max<unsigned long>(bytesWaiting(fd), 1);
  if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return std::nullopt;
  // The end of the stream, or an error such as a reset, which also ends it.
  return 0;
}

unsigned long writeData(int fd) {
  int sndbuf = 0;
  socklen_t len = sizeof sndbuf;
  int queued = 0;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, &len) == 0 && ::ioctl(fd, SIOCOUTQ, &queued) == 0 &&
      sndbuf > queued)
    return static_cast<unsigned long>(sndbuf - queued);
  return 1;
}

}  // namespace

Source::Source(SourceType type, std::uintptr_t handle, const ns::Ref<Queue>& queue)
    : type_(type),
      handle_(handle),
      pollHandle_(static_cast<int>(handle)),
      queue_(queue ? queue : globalQueue()) {}

Source::Source(std::uintptr_t fd, unsigned long mask, int watchFd, const ns::Ref<Queue>& queue)
    : type_(SourceType::Vnode),
      handle_(fd),
      mask_(mask),
      pollHandle_(watchFd),
      queue_(queue ? queue : globalQueue()) {}

Source::~Source() {
  if (type_ == SourceType::Vnode) detail::closeVnodeWatch(pollHandle_);
}

ns::Ref<Source> sourceCreate(SourceType type, std::uintptr_t handle, unsigned long mask,
                             const ns::Ref<Queue>& queue) {
  if (type != SourceType::Timer && static_cast<std::intptr_t>(handle) < 0) return nullptr;
  ns::Ref<Source> source;
  if (type == SourceType::Vnode) {
    int watchFd = detail::openVnodeWatch(static_cast<int>(handle), mask);
    if (watchFd < 0) return nullptr;
    source = ns::make<Source>(handle, mask, watchFd, queue);
  } else {
    source = ns::make<Source>(type, handle, queue);
  }
  if (type != SourceType::Timer) Reactor::instance().watch(source);
  return source;
}

void Source::setEventHandler(Block handler) {
  std::lock_guard lock(mutex_);
  if (cancelScheduled_) return;
  eventHandler_ = handler ? std::make_shared<Block>(std::move(handler)) : nullptr;
}

void Source::setCancelHandler(Block handler) {
  std::lock_guard lock(mutex_);
  if (cancelScheduled_) return;
  cancelHandler_ = std::move(handler);
}

void Source::setTargetQueue(const ns::Ref<Queue>& queue) {
  std::lock_guard lock(mutex_);
  queue_ = queue ? queue : globalQueue();
}

bool Source::isCancelled() const {
  return cancelledFlag_.load(std::memory_order_acquire);
}

unsigned long Source::data() const {
  // A write source's estimate costs two system calls: made only for a handler that asks.
  if (type_ == SourceType::Write && writeDataWanted_.exchange(false, std::memory_order_acq_rel))
    data_.store(writeData(static_cast<int>(handle_)), std::memory_order_release);
  return data_.load(std::memory_order_acquire);
}

void Source::setDefersReadCount(bool defers) {
  defersReadCount_.store(defers, std::memory_order_release);
}

std::optional<unsigned long> Source::readableBytes() const {
  if (type_ != SourceType::Read) return std::nullopt;
  return readData(static_cast<int>(handle_));
}

void Source::resume() {
  std::unique_lock lock(mutex_);
  if (suspendCount_ == 0) {
    std::fprintf(stderr, "dispatch: resume of a source that is not suspended\n");
    std::abort();
  }
  if (--suspendCount_ > 0) return;
  if (cancelled_) {
    maybeRunCancel(lock);
    return;
  }
  if (invocationQueued_ || running_) return;  // the invocation re-arms when it ends
  postOrWatch(lock);
}

void Source::suspend() {
  {
    std::lock_guard lock(mutex_);
    ++suspendCount_;
    if (type_ == SourceType::Timer) return;
  }
  Reactor::instance().disarm(self<Source>());
}

void Source::cancel() {
  std::unique_lock lock(mutex_);
  if (cancelled_) return;
  cancelled_ = true;
  cancelledFlag_.store(true, std::memory_order_release);
  pendingEvent_ = false;
  ++timerGeneration_;
  auto timerId = timerId_;
  timerId_ = 0;
  lock.unlock();
  if (type_ == SourceType::Timer) {
    if (timerId) Reactor::instance().unschedule(timerId);
  } else {
    Reactor::instance().unwatch(self<Source>());
  }
  lock.lock();
  maybeRunCancel(lock);
}

void Source::maybeRunCancel(std::unique_lock<std::mutex>& lock) {
  if (!cancelled_ || suspendCount_ > 0 || running_ || cancelScheduled_) return;
  cancelScheduled_ = true;
  auto queue = queue_;
  lock.unlock();
  async(queue, [self = self<Source>()] {
    Block cancelHandler;
    std::shared_ptr<Block> eventHandler;
    {
      std::lock_guard lock(self->mutex_);
      cancelHandler = std::move(self->cancelHandler_);
      eventHandler = std::move(self->eventHandler_);
      self->cancelHandler_ = nullptr;
    }
    if (cancelHandler) cancelHandler();
    // Both closures, and what they captured, are released here.
  });
  lock.lock();
}

void Source::post(std::unique_lock<std::mutex>& lock) {
  invocationQueued_ = true;
  auto queue = queue_;
  lock.unlock();
  async(queue, [self = self<Source>()] { self->invoke(); });
  lock.lock();
}

void Source::postOrWatch(std::unique_lock<std::mutex>& lock) {
  if (pendingEvent_) {
    post(lock);
  } else if (type_ != SourceType::Timer) {
    lock.unlock();
    Reactor::instance().arm(self<Source>());
  }
}

void Source::readinessFired() {
  std::unique_lock lock(mutex_);
  if (cancelled_) return;
  pendingEvent_ = true;
  if (suspendCount_ == 0 && !invocationQueued_ && !running_) post(lock);
}

void Source::timerFired(std::uint64_t generation, Time deadline) {
  std::unique_lock lock(mutex_);
  if (cancelled_ || generation != timerGeneration_) return;
  unsigned long count = 1;
  if (timerInterval_ > 0) {
    double now = ns::Clock::now();
    double missed = std::floor((now - deadline) / timerInterval_);
    if (missed > 0) count += static_cast<unsigned long>(missed);
    Time next = deadline + static_cast<double>(count) * timerInterval_;
    std::weak_ptr<Source> weak = self<Source>();
    timerId_ = Reactor::instance().schedule(next, [weak, generation, next] {
      if (auto s = weak.lock()) s->timerFired(generation, next);
    });
  } else {
    timerId_ = 0;
  }
  timerFires_ += count;
  pendingEvent_ = true;
  if (suspendCount_ == 0 && !invocationQueued_ && !running_) post(lock);
}

void Source::setTimer(Time start, double interval, double) {
  if (type_ != SourceType::Timer) return;
  std::unique_lock lock(mutex_);
  if (cancelled_) return;
  auto generation = ++timerGeneration_;
  auto oldId = timerId_;
  timerId_ = 0;
  timerFires_ = 0;
  pendingEvent_ = false;
  timerStart_ = start == TimeNow ? ns::Clock::now() : start;
  timerInterval_ = (interval > 0 && std::isfinite(interval)) ? interval : 0;
  if (oldId) Reactor::instance().unschedule(oldId);
  if (timerStart_ == TimeForever) return;
  std::weak_ptr<Source> weak = self<Source>();
  Time deadline = timerStart_;
  timerId_ = Reactor::instance().schedule(deadline, [weak, generation, deadline] {
    if (auto s = weak.lock()) s->timerFired(generation, deadline);
  });
}

void Source::invoke() {
  std::unique_lock lock(mutex_);
  invocationQueued_ = false;
  if (cancelled_) {
    maybeRunCancel(lock);
    return;
  }
  if (suspendCount_ > 0 || !pendingEvent_) return;  // delivered again on resume
  pendingEvent_ = false;
  running_ = true;
  auto handler = eventHandler_;
  unsigned long fires = timerFires_;
  timerFires_ = 0;
  lock.unlock();

  bool deliver = true;
  if (type_ == SourceType::Timer) {
    data_.store(fires);
  } else if (type_ == SourceType::Read && defersReadCount_.load(std::memory_order_acquire)) {
    data_.store(1);  // readable, by the report; the handler reads to find out how much
  } else if (type_ == SourceType::Read) {
    auto bytes = readData(static_cast<int>(handle_));
    deliver = bytes.has_value();
    if (bytes) data_.store(*bytes);
  } else if (type_ == SourceType::Vnode) {
    unsigned long flags = detail::readVnodeEvents(pollHandle_, static_cast<int>(handle_), mask_);
    deliver = flags != 0;
    data_.store(flags);
  } else {
    writeDataWanted_.store(true, std::memory_order_release);
  }
  if (deliver && handler && *handler) (*handler)();
  handler.reset();

  lock.lock();
  running_ = false;
  if (cancelled_) {
    maybeRunCancel(lock);
    return;
  }
  if (suspendCount_ > 0) return;
  postOrWatch(lock);
}

}  // namespace dispatch
