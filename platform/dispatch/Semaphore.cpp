#include "platform/dispatch/Semaphore.h"

#include "platform/dispatch/Reactor.h"

namespace dispatch {

long Semaphore::wait(Time timeout) {
  std::unique_lock lock(mutex_);
  ++waiters_;
  bool ok = detail::waitUntil(lock, cv_, timeout, [&] { return value_ > 0; });
  --waiters_;
  if (!ok) return 1;
  --value_;
  return 0;
}

long Semaphore::signal() {
  std::lock_guard lock(mutex_);
  ++value_;
  if (waiters_ == 0) return 0;
  cv_.notify_one();
  return 1;
}

ns::Ref<Semaphore> semaphoreCreate(long value) {
  return value < 0 ? nullptr : ns::make<Semaphore>(value);
}
long semaphoreWait(const ns::Ref<Semaphore>& semaphore, Time timeout) {
  return semaphore->wait(timeout);
}
long semaphoreSignal(const ns::Ref<Semaphore>& semaphore) {
  return semaphore->signal();
}

}  // namespace dispatch
