#pragma once
// Dispatch sources: readiness of a descriptor for reading or writing, timers, and changes to an
// open file (see VnodeSource.h).
//
// A source is created suspended; resume() starts delivery. The event handler runs as a block of
// the target queue, never concurrently with itself; readiness detected while an invocation is
// pending is merged into it. After cancel() the event handler is never invoked again, even for an
// event already detected or queued; the cancel handler then runs once on the target queue, as soon
// as the source is not suspended and its handler is not running, and both handlers are released.
//
// data() inside the handler: for a read source the bytes readable, evaluated at delivery (0 only at
// the real end of a stream, never while a peer is still sending; the next datagram's size on a
// datagram socket, 0 for an empty one; the number
// of pending connections on a listening socket); for a write source an estimate of the free
// buffer space; for a timer the number of firings since the last invocation; for a file watch the
// VnodeFlags seen since the last invocation, within the source's mask.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/Queue.h"

namespace dispatch {

enum class SourceType { Read, Write, Timer, Vnode };

// What a file watch (SourceType::Vnode) reports, as a mask.
enum VnodeFlags : unsigned long {
  VnodeDelete = 0x1,  // the file's last name was removed
  VnodeWrite = 0x2,
  VnodeAttrib = 0x8,
  VnodeRename = 0x20,
};

class Source : public ns::Object {
 public:
  Source(SourceType type, std::uintptr_t handle, const ns::Ref<Queue>& queue);
  // A file watch of `fd` for the VnodeFlags in `mask`, polling the inotify descriptor `watchFd`
  // (which the source closes when it goes).
  Source(std::uintptr_t fd, unsigned long mask, int watchFd, const ns::Ref<Queue>& queue);
  ~Source() override;

  void setEventHandler(Block handler);
  void setCancelHandler(Block handler);
  // Nested: each suspend needs a resume. Resuming more often than suspending aborts.
  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;
  unsigned long data() const;
  // Read sources: the handler runs on each readiness report without the count taken first, for a
  // handler that reads until the descriptor would block and needs no count for it. Such a
  // handler may be run when readiness has gone away again; readableBytes() then answers nothing.
  void setDefersReadCount(bool defers);
  // Read sources: the bytes readable now, as data() counts them at delivery; nothing when the
  // descriptor is no longer readable.
  std::optional<unsigned long> readableBytes() const;
  std::uintptr_t handle() const { return handle_; }
  // The descriptor the reactor polls: the handle itself, or a file watch's own inotify descriptor.
  int pollHandle() const { return pollHandle_; }
  unsigned long mask() const { return mask_; }
  SourceType type() const { return type_; }
  void setTargetQueue(const ns::Ref<Queue>& queue);

  // Timer sources: first firing at `start` (a dispatch time; TimeForever disarms), then every
  // `interval` seconds (0 or TimeForever: once). Re-arming drops firings not yet delivered.
  void setTimer(Time start, double interval, double leeway = 0);

  // Used by the reactor.
  void readinessFired();
  void timerFired(std::uint64_t generation, Time deadline);
  bool armedInReactor = false;  // guarded by the reactor's lock

 private:
  void post(std::unique_lock<std::mutex>& lock);
  // Once the source may deliver again: queue the pending event, or watch for the next one.
  // May release the lock.
  void postOrWatch(std::unique_lock<std::mutex>& lock);
  void invoke();
  void maybeRunCancel(std::unique_lock<std::mutex>& lock);
  void scheduleTimerLocked();
  unsigned long evaluateData();

  const SourceType type_;
  const std::uintptr_t handle_;
  unsigned long mask_ = 0;
  int pollHandle_ = -1;
  mutable std::mutex mutex_;
  ns::Ref<Queue> queue_;
  std::shared_ptr<Block> eventHandler_;
  Block cancelHandler_;
  int suspendCount_ = 1;
  bool cancelled_ = false;
  bool cancelScheduled_ = false;
  bool invocationQueued_ = false;
  bool running_ = false;
  bool pendingEvent_ = false;
  std::atomic<bool> cancelledFlag_{false};
  mutable std::atomic<unsigned long> data_{0};
  // A write source's estimate is made when data() is first asked for after a delivery.
  mutable std::atomic<bool> writeDataWanted_{false};
  std::atomic<bool> defersReadCount_{false};
  // Timer state.
  std::uint64_t timerGeneration_ = 0;
  std::uint64_t timerId_ = 0;
  Time timerStart_ = TimeForever;
  double timerInterval_ = 0;
  unsigned long timerFires_ = 0;
};

// `handle` is the descriptor for read, write and file-watch sources and ignored for timers; `mask`
// is the file watch's VnodeFlags (unused by the other types). nullptr for a descriptor that cannot
// be watched.
ns::Ref<Source> sourceCreate(SourceType type, std::uintptr_t handle, unsigned long mask,
                             const ns::Ref<Queue>& queue);

}  // namespace dispatch
