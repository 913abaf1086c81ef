#pragma once
// A mutex-guarded state with a condition variable, for tests that wait across threads without
// sleeping:
//
//   pltest::Monitor monitor;
//   int calls = 0;                              // guarded by monitor
//   worker: monitor.change([&] { ++calls; });
//   test:   ASSERT_TRUE(monitor.waitFor([&] { return calls == 2; }));
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace pltest {

// Generous: a condition that holds at all holds long before this.
inline constexpr std::chrono::seconds kMonitorWait{20};

class Monitor {
 public:
  template <class F>
  auto with(F&& f) {
    std::lock_guard lock(mutex_);
    return f();
  }
  // Notifies under the lock, so that a waiter that sees the change and destroys the monitor
  // cannot do so while the notification is still under way.
  template <class F>
  void change(F&& f) {
    std::lock_guard lock(mutex_);
    f();
    cv_.notify_all();
  }
  // Waits until pred() holds (checked under the lock); false when the time-out passed first.
  template <class P>
  bool waitFor(P&& pred, std::chrono::milliseconds timeout = kMonitorWait) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, std::forward<P>(pred));
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace pltest
