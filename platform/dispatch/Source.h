#pragma once
// Dispatch sources: readiness of a descriptor for reading or writing, and timers.
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
// buffer space; for a timer the number of firings since the last invocation.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"

namespace dispatch {

enum class SourceType { Read, Write, Timer };

class Source : public ns::Object {
 public:
  Source(SourceType type, std::uintptr_t handle, const ns::Ref<Queue>& queue);
  ~Source() override;

  void setEventHandler(Block handler);
  void setCancelHandler(Block handler);
  // Nested: each suspend needs a resume. Resuming more often than suspending aborts.
  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;
  unsigned long data() const;
  std::uintptr_t handle() const { return handle_; }
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
  std::atomic<unsigned long> data_{0};
  // Timer state.
  std::uint64_t timerGeneration_ = 0;
  std::uint64_t timerId_ = 0;
  Time timerStart_ = TimeForever;
  double timerInterval_ = 0;
  unsigned long timerFires_ = 0;
};

// `handle` is the descriptor for read and write sources and ignored for timers; `mask` is unused
// (kept for the platform's signature).
ns::Ref<Source> sourceCreate(SourceType type, std::uintptr_t handle, unsigned long mask,
                             const ns::Ref<Queue>& queue);

}  // namespace dispatch
