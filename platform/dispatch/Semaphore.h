#pragma once
// Counting semaphores.
#include <condition_variable>
#include <mutex>

#include "platform/core/Object.h"
#include "platform/dispatch/Time.h"

namespace dispatch {

class Semaphore : public ns::Object {
 public:
  explicit Semaphore(long value) : value_(value) {}
  // Answers 0 once it took a unit, non-zero when `timeout` (a dispatch time) passed first.
  long wait(Time timeout);
  // Answers non-zero when it woke a waiter.
  long signal();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;
  long waiters_ = 0;
};

ns::Ref<Semaphore> semaphoreCreate(long value);
long semaphoreWait(const ns::Ref<Semaphore>& semaphore, Time timeout);
long semaphoreSignal(const ns::Ref<Semaphore>& semaphore);

}  // namespace dispatch
