#pragma once
// A source that another thread signals and a run loop performs in the modes it was added to,
// e.g. the main dispatch queue, which drains on the main run loop in the common modes.
#include <atomic>
#include <functional>

#include "platform/core/Object.h"

namespace ns {

class RunLoopSource : public Object {
 public:
  explicit RunLoopSource(std::function<void()> perform, int order = 0)
      : perform_(std::move(perform)), order_(order) {}

  // Marks the source ready; the run loop performs it on its next pass in a matching mode. Call
  // RunLoop::wakeUp() afterwards when the loop may be waiting.
  void signal() { signaled_.store(true, std::memory_order_release); }
  bool isSignalled() const { return signaled_.load(std::memory_order_acquire); }
  void invalidate() { valid_.store(false, std::memory_order_release); }
  bool isValid() const { return valid_.load(std::memory_order_acquire); }
  int order() const { return order_; }

  // Used by the run loop: clears the signal and runs the perform callback.
  void performIfSignalled() {
    if (signaled_.exchange(false, std::memory_order_acq_rel) && isValid()) perform_();
  }

 private:
  std::function<void()> perform_;
  int order_;
  std::atomic<bool> signaled_{false};
  std::atomic<bool> valid_{true};
};

}  // namespace ns
