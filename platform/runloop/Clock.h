#pragma once
// The one source of time for timers, run-loop waits, delayed dispatch and dispatch timer sources.
//
// Clock::now() is monotonic seconds; Clock::wallNow() is seconds since 1970. Tests install the
// virtual clock, which stands still until advance() moves it:
//
//   ns::Clock::installVirtual();
//   auto timer = ns::Timer::scheduledTimerWithTimeInterval_repeats_block(300, true, fire);
//   ns::Clock::advance(900);   // the timer fires three times, nothing sleeps
//   ns::Clock::installReal();
//
// advance() steps through every deadline that falls due in order: at each step the dispatch
// timers due by then are delivered to their queues and the calling thread's run loop fires its
// due timers (in the mode it is running, or the default mode). Other threads' run loops are woken
// and see the new time; main-queue blocks run when the main run loop is pumped.
// Switching between the clocks keeps now() from going backwards, so pending deadlines stay valid.
#include <limits>
#include <memory>

#include "platform/core/Date.h"
#include "platform/core/Types.h"

namespace ns {

class Clock {
 public:
  static constexpr TimeInterval kDistantFuture = std::numeric_limits<double>::infinity();

  static TimeInterval now();
  // While the virtual clock is installed, ns::Date::now() reads it too.
  static TimeInterval wallNow();
  // A wall-clock date as a time on this clock, and back.
  static TimeInterval timeForDate(const Date& date);
  static Date dateForTime(TimeInterval time);

  // Replaces the real clock with one that stands still; a second call keeps the virtual time.
  static void installVirtual();
  static void installReal();
  static bool isVirtual();
  // Moves the virtual clock forward (a no-op of the real clock, which cannot be moved).
  static void advance(TimeInterval seconds);

  // Something that keeps deadlines on this clock (dispatch timers, run loops). Observers are told
  // whenever the virtual clock moves and name their next deadline so that advance() can step.
  class Observer {
   public:
    virtual ~Observer() = default;
    // The earliest deadline strictly after `now`, or kDistantFuture.
    virtual TimeInterval nextDeadlineAfter(TimeInterval now) { return kDistantFuture; }
    virtual void clockAdvanced(TimeInterval now) = 0;
  };
  // Kept weakly: an observer that goes away is dropped. Calls are made without the clock's lock,
  // on a strong reference, so an observer may be released from any thread at any time.
  static void addObserver(const std::shared_ptr<Observer>& observer);
  static void removeObserver(const Observer* observer);
};

}  // namespace ns
