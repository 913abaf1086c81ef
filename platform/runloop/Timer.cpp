#include "platform/runloop/Timer.h"

#include <algorithm>

#include "platform/runloop/RunLoop.h"

namespace ns {
namespace {
// Shorter intervals would spin; the platform clamps them the same way.
constexpr TimeInterval kMinimumInterval = 0.0001;
}  // namespace

Timer::Timer(TimeInterval fireDate, TimeInterval interval, bool repeats, Block block)
    : fireDate_(fireDate),
      interval_(std::max(interval, repeats ? kMinimumInterval : 0.0)),
      repeats_(repeats),
      block_(block ? std::make_shared<Block>(std::move(block)) : nullptr) {}

Ref<Timer> Timer::timerWithTimeInterval_repeats_block(TimeInterval interval, bool repeats, Block block) {
  interval = std::max(interval, 0.0);
  return make<Timer>(Clock::now() + interval, interval, repeats, std::move(block));
}

Ref<Timer> Timer::scheduledTimerWithTimeInterval_repeats_block(TimeInterval interval, bool repeats,
                                                               Block block) {
  auto timer = timerWithTimeInterval_repeats_block(interval, repeats, std::move(block));
  scheduleOnCurrentRunLoop(timer);
  return timer;
}

Ref<Timer> Timer::initWithFireDate_interval_repeats_block(const Date& fireDate, TimeInterval interval,
                                                          bool repeats, Block block) {
  return make<Timer>(Clock::timeForDate(fireDate), interval, repeats, std::move(block));
}

void Timer::scheduleOnCurrentRunLoop(const Ref<Timer>& timer) {
  RunLoop::currentRunLoop()->addTimer_forMode(timer, DefaultRunLoopMode);
}

bool Timer::attachTo(const Ref<RunLoop>& loop) {
  std::lock_guard lock(mutex_);
  if (!valid_) return false;
  auto current = runLoop_.lock();
  if (current && current != loop) return false;  // a timer belongs to one run loop
  runLoop_ = loop;
  return true;
}

void Timer::fire() {
  std::shared_ptr<Block> block;
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    block = block_;
  }
  auto self = this->self<Timer>();
  if (block && *block) (*block)(self);
  if (!repeats_) invalidate();
}

void Timer::fireFromRunLoop(TimeInterval now) {
  std::shared_ptr<Block> block;
  {
    std::lock_guard lock(mutex_);
    if (!valid_ || fireDate_ > now) return;
    block = block_;
    if (repeats_) {
      TimeInterval next = fireDate_ + interval_;
      fireDate_ = next > now ? next : now + interval_;
    }
  }
  auto self = this->self<Timer>();
  if (block && *block) (*block)(self);
  if (!repeats_) {
    std::unique_lock lock(mutex_);
    // The block may have given the timer a new date; it then stays scheduled.
    if (fireDate_ <= now) invalidateLocked(lock);
  }
}

void Timer::invalidate() {
  std::unique_lock lock(mutex_);
  invalidateLocked(lock);
}

void Timer::invalidateLocked(std::unique_lock<std::mutex>& lock) {
  if (!valid_) return;
  valid_ = false;
  auto block = std::move(block_);
  auto userInfo = std::move(userInfo_);
  auto loop = runLoop_.lock();
  runLoop_.reset();
  lock.unlock();
  // The block and user info (and what they captured) are released here, outside the lock.
  block.reset();
  userInfo.reset();
  if (loop) loop->wakeUp();
}

bool Timer::isValid() const {
  std::lock_guard lock(mutex_);
  return valid_;
}

Date Timer::fireDate() const {
  return Clock::dateForTime(fireTime());
}

void Timer::setFireDate(const Date& date) {
  setFireTime(Clock::timeForDate(date));
}

TimeInterval Timer::fireTime() const {
  std::lock_guard lock(mutex_);
  return fireDate_;
}

void Timer::setFireTime(TimeInterval date) {
  Ref<RunLoop> loop;
  {
    std::lock_guard lock(mutex_);
    fireDate_ = date;
    loop = runLoop_.lock();
  }
  if (loop) loop->wakeUp();
}

TimeInterval Timer::timeInterval() const {
  return interval_;
}

TimeInterval Timer::tolerance() const {
  std::lock_guard lock(mutex_);
  return tolerance_;
}

void Timer::setTolerance(TimeInterval tolerance) {
  std::lock_guard lock(mutex_);
  tolerance_ = std::max(tolerance, 0.0);
}

Ref<Object> Timer::userInfo() const {
  std::lock_guard lock(mutex_);
  return userInfo_;
}

void Timer::setUserInfo(Ref<Object> userInfo) {
  std::lock_guard lock(mutex_);
  userInfo_ = std::move(userInfo);
}

}  // namespace ns
