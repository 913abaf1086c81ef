#pragma once
// Internal: the thread behind sources and delayed work. It waits on epoll for descriptor readiness
// and on a timerfd for the earliest real-clock deadline; with the virtual clock installed the
// clock's advance() delivers the deadlines instead.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Time.h"

namespace dispatch {

class Source;

namespace detail {

class Reactor {
 public:
  static Reactor& instance();

  // Timers: `fire` runs on the reactor thread (or the advancing thread) once `deadline` passed.
  std::uint64_t schedule(Time deadline, std::function<void()> fire);
  void unschedule(std::uint64_t id);

  // Descriptor readiness: a watched source is reported once per arm().
  void watch(const ns::Ref<Source>& source);
  void arm(const ns::Ref<Source>& source);
  void disarm(const ns::Ref<Source>& source);
  void unwatch(const ns::Ref<Source>& source);

  struct Impl;

 private:
  friend class ns::NoDestructor<Reactor>;  // the one process-wide instance
  Reactor();
  Impl* impl_;
};

// While one is open on a thread, the first block that thread hands to a global queue whose pool
// has nothing waiting and room for one more running thread is held back instead, for the thread
// to run itself as a thread of that pool. A thread woken by readiness thereby runs the handler
// it was woken for without waking a second thread; blocks it could not hold go to their pools.
class HeldWork {
 public:
  HeldWork();
  // Anything still held goes to its pool.
  ~HeldWork();
  HeldWork(const HeldWork&) = delete;
  HeldWork& operator=(const HeldWork&) = delete;

  // Stops holding blocks; answers whether one is held.
  bool close();
  // Runs the held block, if any, on the calling thread (after close()), then a few blocks that
  // wait in its pool, as any thread of the pool would.
  void run();

  void* pool = nullptr;
  std::function<void()> block;

 private:
  HeldWork* saved_;
  bool open_ = true;
};

// Marks the calling thread, when it is a thread of a pool, as blocked for as long as it lives:
// what it waits for may itself need a thread of that pool, so the pool may grow past its cap
// meanwhile.
class PoolWait {
 public:
  PoolWait();
  ~PoolWait();
  PoolWait(const PoolWait&) = delete;
  PoolWait& operator=(const PoolWait&) = delete;

 private:
  void* pool_;
};

// Waits on `cv` until `pred` holds or the dispatch time `deadline` passes, on the virtual clock
// when it is installed. Answers pred().
template <class Pred>
bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Time deadline, Pred pred) {
  if (pred()) return true;
  if (deadline == TimeNow) return false;
  PoolWait blocked;
  while (!pred()) {
    if (deadline == TimeForever) {
      cv.wait(lock);
      continue;
    }
    Time now = ns::Clock::now();
    if (deadline == TimeNow || now >= deadline) return pred();
    // The virtual clock moves without telling waiters: look again every few milliseconds.
    double slice = ns::Clock::isVirtual() ? 0.005 : deadline - now;
    cv.wait_for(lock, std::chrono::duration<double>(slice));
  }
  return true;
}

}  // namespace detail
}  // namespace dispatch
