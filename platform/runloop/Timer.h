#pragma once
// Run-loop timers: one-shot or repeating, with a block or a target and member function. A timer
// keeps its block and target until it is invalidated; a one-shot timer invalidates itself after
// it fires. A repeating timer that falls behind fires once and reschedules from now.
//
//   auto t = ns::Timer::scheduledTimerWithTimeInterval_repeats_block(2.0, false,
//       [weak = weak_from_this()](const ns::Ref<ns::Timer>&) { ... });
//   t->invalidate();
#include <functional>
#include <memory>
#include <mutex>

#include "platform/core/Object.h"
#include "platform/runloop/Clock.h"

namespace ns {

class RunLoop;

class Timer : public Object {
 public:
  using Block = std::function<void(const Ref<Timer>&)>;

  // Not scheduled: add it to a run loop with RunLoop::addTimer_forMode.
  static Ref<Timer> timerWithTimeInterval_repeats_block(TimeInterval interval, bool repeats, Block block);
  // Scheduled on the current thread's run loop in the default mode.
  static Ref<Timer> scheduledTimerWithTimeInterval_repeats_block(TimeInterval interval, bool repeats,
                                                                 Block block);
  static Ref<Timer> initWithFireDate_interval_repeats_block(const Date& fireDate, TimeInterval interval,
                                                            bool repeats, Block block);

  // Target and member function: the timer keeps the target until it is invalidated.
  template <class T>
  static Ref<Timer> timerWithTimeInterval_target_selector_userInfo_repeats(
      TimeInterval interval, const Ref<T>& target, void (T::*selector)(const Ref<Timer>&),
      Ref<Object> userInfo, bool repeats) {
    auto timer = timerWithTimeInterval_repeats_block(
        interval, repeats, [target, selector](const Ref<Timer>& t) { ((*target).*selector)(t); });
    timer->setUserInfo(std::move(userInfo));
    return timer;
  }
  template <class T>
  static Ref<Timer> scheduledTimerWithTimeInterval_target_selector_userInfo_repeats(
      TimeInterval interval, const Ref<T>& target, void (T::*selector)(const Ref<Timer>&),
      Ref<Object> userInfo, bool repeats) {
    auto timer = timerWithTimeInterval_target_selector_userInfo_repeats(interval, target, selector,
                                                                        std::move(userInfo), repeats);
    scheduleOnCurrentRunLoop(timer);
    return timer;
  }

  // `fireTime` is on the Clock's scale.
  Timer(TimeInterval fireTime, TimeInterval interval, bool repeats, Block block);

  // Runs the action now; a one-shot timer is then invalidated, a repeating one keeps its schedule.
  void fire();
  void invalidate();
  bool isValid() const;
  Date fireDate() const;
  void setFireDate(const Date& date);
  // The fire date on the Clock's scale.
  TimeInterval fireTime() const;
  void setFireTime(TimeInterval time);
  TimeInterval timeInterval() const;
  TimeInterval tolerance() const;
  void setTolerance(TimeInterval tolerance);
  Ref<Object> userInfo() const;
  void setUserInfo(Ref<Object> userInfo);

  // Used by the run loop.
  bool attachTo(const Ref<RunLoop>& loop);
  void fireFromRunLoop(TimeInterval now);

 private:
  static void scheduleOnCurrentRunLoop(const Ref<Timer>& timer);
  void invalidateLocked(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  TimeInterval fireDate_;
  TimeInterval interval_;
  TimeInterval tolerance_ = 0;
  bool repeats_;
  bool valid_ = true;
  std::shared_ptr<Block> block_;
  Ref<Object> userInfo_;
  Weak<RunLoop> runLoop_;
};

}  // namespace ns
