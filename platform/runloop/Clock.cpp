#include "platform/runloop/Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/runloop/ClockHooks.h"

namespace ns {
namespace {

struct ClockState {
  std::atomic<bool> isVirtual{false};
  std::atomic<double> virtualNow{0};
  // Real time is the steady clock plus this offset, so that leaving the virtual clock never
  // moves now() backwards.
  std::atomic<double> realOffset{0};
  // Wall time minus monotonic time while the virtual clock runs.
  std::atomic<double> virtualWallOffset{0};
  std::mutex advanceMutex;
  std::mutex observersMutex;
  std::vector<std::weak_ptr<Clock::Observer>> observers;
};

// Never destroyed: pool threads and run loops may consult the clock during exit.
ClockState& state() {
  static ns::NoDestructor<ClockState> s;
  return *s;
}

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double systemSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<std::shared_ptr<Clock::Observer>> liveObservers() {
  auto& s = state();
  std::vector<std::shared_ptr<Clock::Observer>> live;
  std::lock_guard lock(s.observersMutex);
  for (auto& w : s.observers)
    if (auto o = w.lock()) live.push_back(std::move(o));
  return live;
}

TimeInterval observersNextDeadlineAfter(TimeInterval now) {
  TimeInterval next = Clock::kDistantFuture;
  for (auto& o : liveObservers()) next = std::min(next, o->nextDeadlineAfter(now));
  return next;
}

void notifyObservers(TimeInterval now) {
  for (auto& o : liveObservers()) o->clockAdvanced(now);
}

TimeInterval virtualWallClock() {
  return Clock::wallNow();
}

}  // namespace

TimeInterval Clock::timeForDate(const Date& date) {
  if (date.timeIntervalSince1970() >= Date::distantFuture().timeIntervalSince1970()) return kDistantFuture;
  return now() + (date.timeIntervalSince1970() - wallNow());
}

Date Clock::dateForTime(TimeInterval time) {
  if (time == kDistantFuture) return Date::distantFuture();
  return Date::dateWithTimeIntervalSince1970(wallNow() + (time - now()));
}

TimeInterval Clock::now() {
  auto& s = state();
  if (s.isVirtual.load(std::memory_order_acquire)) return s.virtualNow.load(std::memory_order_acquire);
  return steadySeconds() + s.realOffset.load(std::memory_order_relaxed);
}

TimeInterval Clock::wallNow() {
  auto& s = state();
  if (s.isVirtual.load(std::memory_order_acquire))
    return s.virtualNow.load(std::memory_order_acquire) + s.virtualWallOffset.load();
  return systemSeconds();
}

void Clock::installVirtual() {
  auto& s = state();
  std::lock_guard lock(s.advanceMutex);
  if (s.isVirtual.load()) return;
  double now = steadySeconds() + s.realOffset.load();
  s.virtualNow.store(now);
  s.virtualWallOffset.store(systemSeconds() - now);
  s.isVirtual.store(true, std::memory_order_release);
  Date::setWallClockSource(&virtualWallClock);
  notifyObservers(now);
}

void Clock::installReal() {
  auto& s = state();
  {
    std::lock_guard lock(s.advanceMutex);
    if (!s.isVirtual.load()) return;
    double steady = steadySeconds();
    s.realOffset.store(std::max(s.realOffset.load(), s.virtualNow.load() - steady));
    s.isVirtual.store(false, std::memory_order_release);
    Date::setWallClockSource(nullptr);
  }
  notifyObservers(now());
}

bool Clock::isVirtual() {
  return state().isVirtual.load(std::memory_order_acquire);
}

void Clock::advance(TimeInterval seconds) {
  auto& s = state();
  if (!(seconds > 0)) return;
  std::unique_lock lock(s.advanceMutex);
  if (!s.isVirtual.load()) return;
  const double target = s.virtualNow.load() + seconds;
  // Steps summed in floating point can fall ulps short of a deadline taken as one sum (0.19 then
  // 0.01 against 0.2 from the same start, at uptimes past about 4.5 hours): a deadline within a
  // nanosecond of the target is due, or within a few hundred ulps once an ulp is larger than that
  // (an uptime past about 97 days).
  const double slack = std::max(1e-9, std::abs(target) * 256 * std::numeric_limits<double>::epsilon());
  for (;;) {
    double now = s.virtualNow.load();
    double next = std::min(detail::currentRunLoopNextTimerAfter(now), observersNextDeadlineAfter(now));
    if (!(next <= target + slack)) break;
    s.virtualNow.store(std::max(now, next), std::memory_order_release);
    // Timer callbacks may advance the clock themselves; let them.
    lock.unlock();
    notifyObservers(s.virtualNow.load());
    detail::currentRunLoopFireDueTimers();
    lock.lock();
    if (!s.isVirtual.load()) return;
  }
  if (s.virtualNow.load() < target) s.virtualNow.store(target, std::memory_order_release);
  lock.unlock();
  notifyObservers(s.virtualNow.load());
  detail::currentRunLoopFireDueTimers();
}

void Clock::addObserver(const std::shared_ptr<Observer>& observer) {
  auto& s = state();
  std::lock_guard lock(s.observersMutex);
  std::erase_if(s.observers, [](auto& w) { return w.expired(); });
  s.observers.push_back(observer);
}

void Clock::removeObserver(const Observer* observer) {
  auto& s = state();
  std::lock_guard lock(s.observersMutex);
  std::erase_if(s.observers, [&](auto& w) {
    auto o = w.lock();
    return !o || o.get() == observer;
  });
}

}  // namespace ns
