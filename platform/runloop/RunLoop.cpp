#include "platform/runloop/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>

#include "platform/core/Exception.h"
#include "platform/core/NoDestructor.h"
#include "platform/runloop/ClockHooks.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Timer.h"

namespace ns {

// The mode names are never destroyed: threads still run their loops while the process exits.
namespace {
NoDestructor<const std::string> defaultModeName("kCFRunLoopDefaultMode");
NoDestructor<const std::string> eventTrackingModeName("NSEventTrackingRunLoopMode");
NoDestructor<const std::string> modalPanelModeName("NSModalPanelRunLoopMode");
NoDestructor<const std::string> commonModesName("kCFRunLoopCommonModes");
}  // namespace
const std::string& DefaultRunLoopMode = *defaultModeName;
const std::string& EventTrackingRunLoopMode = *eventTrackingModeName;
const std::string& ModalPanelRunLoopMode = *modalPanelModeName;
const std::string& RunLoopCommonModes = *commonModesName;

namespace {

using Steady = std::chrono::steady_clock;

bool onMainThread() {
  return gettid() == getpid();
}

thread_local Ref<RunLoop> tlRunLoop;

std::mutex& mainMutex() {
  static ns::NoDestructor<std::mutex> m;
  return *m;
}
// The main run loop lives for the whole process.
Ref<RunLoop>* gMainRunLoop = nullptr;

bool equalObjects(const Object* a, const Object* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(b);
}

}  // namespace

struct RunLoop::Impl : Clock::Observer {
  struct TimerEntry {
    Ref<Timer> timer;
    std::vector<std::string> modes;
  };
  struct SourceEntry {
    Ref<RunLoopSource> source;
    std::vector<std::string> modes;
  };
  struct FdEntry {
    DescriptorId id;
    int fd;
    short events;
    std::shared_ptr<DescriptorCallback> callback;
    std::vector<std::string> modes;
  };
  struct PerformEntry {
    std::uint64_t seq;
    PerformRequest request;
    unsigned order;
    std::vector<std::string> modes;
    Ref<Timer> timer;  // delayed requests wait on a timer
  };

  pid_t tid = 0;
  bool isMain = false;
  int wakeFd = -1;
  mutable std::mutex m;
  std::set<std::string> commonModes{DefaultRunLoopMode, EventTrackingRunLoopMode, ModalPanelRunLoopMode};
  std::vector<TimerEntry> timers;
  std::vector<SourceEntry> sources;
  std::vector<FdEntry> fds;
  std::vector<PerformEntry> performs;
  std::uint64_t nextSeq = 1;
  DescriptorId nextFdId = 1;
  std::vector<std::string> modeStack;
  std::atomic<bool> stopped{false};
  std::shared_ptr<PollParticipant> participant;

  void clockAdvanced(TimeInterval) override { wake(); }

  // The passes (the mode stack) belong to the loop's thread. Debug builds stop a run from
  // another thread at once, naming the method; release builds raise when the pass starts.
  void assertOwnThread([[maybe_unused]] const char* method) const {
#ifndef NDEBUG
    if (gettid() != tid) {
      std::fprintf(stderr, "RunLoop: %s called on thread %d; the loop belongs to thread %d\n", method,
                   static_cast<int>(gettid()), static_cast<int>(tid));
      std::abort();
    }
#endif
  }
  ~Impl() override {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
  }

  void drainWake() {
    std::uint64_t v;
    while (::read(wakeFd, &v, sizeof v) > 0) {
    }
  }

  bool matches(const std::vector<std::string>& modes, const std::string& mode) const {
    for (auto& m : modes) {
      if (m == mode) return true;
      if (m == RunLoopCommonModes && commonModes.count(mode)) return true;
    }
    return false;
  }

  static void addMode(std::vector<std::string>& modes, const std::string& mode) {
    if (std::find(modes.begin(), modes.end(), mode) == modes.end()) modes.push_back(mode);
  }

  // Timers and sources are kept once each, with the modes they are registered in.
  template <class Entry, class Item>
  static void addInMode(std::vector<Entry>& entries, Item Entry::*field, const Item& item,
                        const std::string& mode) {
    for (auto& e : entries) {
      if (e.*field == item) {
        addMode(e.modes, mode);
        return;
      }
    }
    entries.push_back({item, {mode}});
  }

  // Drops `mode` from the item's entry, and the entry once it is in no mode.
  template <class Entry, class Item>
  static void removeFromMode(std::vector<Entry>& entries, Item Entry::*field, const Item& item,
                             const std::string& mode) {
    for (auto& e : entries)
      if (e.*field == item) e.modes.erase(std::remove(e.modes.begin(), e.modes.end(), mode), e.modes.end());
    entries.erase(std::remove_if(entries.begin(), entries.end(), [](auto& e) { return e.modes.empty(); }),
                  entries.end());
  }

  // Removes the queued perform requests that `match`, and ends their delay timers; answers how
  // many went. The requests (and what they hold) are released outside the lock.
  template <class Match>
  std::size_t cancelPerforms(const Match& match) {
    std::vector<PerformEntry> doomed;
    {
      std::lock_guard lock(m);
      for (auto it = performs.begin(); it != performs.end();) {
        if (match(it->request)) {
          doomed.push_back(std::move(*it));
          it = performs.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& e : doomed)
      if (e.timer) e.timer->invalidate();
    return doomed.size();
  }

  std::string activeMode() const {
    std::lock_guard lock(m);
    return modeStack.empty() ? DefaultRunLoopMode : modeStack.back();
  }

  void pruneTimersLocked() {
    timers.erase(
        std::remove_if(timers.begin(), timers.end(), [](const TimerEntry& e) { return !e.timer->isValid(); }),
        timers.end());
  }

  TimeInterval nextTimerAfter(const std::string& mode, TimeInterval now) {
    std::lock_guard lock(m);
    TimeInterval next = Clock::kDistantFuture;
    for (auto& e : timers) {
      if (!matches(e.modes, mode) || !e.timer->isValid()) continue;
      TimeInterval d = e.timer->fireTime();
      if (d > now) next = std::min(next, d);
    }
    return next;
  }

  // Fires the due timers of the mode, earliest first; each fires at most once per pass.
  std::size_t fireDueTimers(const std::string& mode) {
    TimeInterval now = Clock::now();
    std::vector<std::pair<TimeInterval, Ref<Timer>>> due;
    {
      std::lock_guard lock(m);
      pruneTimersLocked();
      for (auto& e : timers) {
        if (!matches(e.modes, mode)) continue;
        TimeInterval d = e.timer->fireTime();
        if (d <= now) due.emplace_back(d, e.timer);
      }
    }
    std::stable_sort(due.begin(), due.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& [date, timer] : due) timer->fireFromRunLoop(now);
    return due.size();
  }

  bool runPerforms(const std::string& mode) {
    std::vector<PerformEntry> ready;
    {
      std::lock_guard lock(m);
      std::uint64_t limit = nextSeq;
      for (auto it = performs.begin(); it != performs.end();) {
        if (!it->timer && it->seq < limit && matches(it->modes, mode)) {
          ready.push_back(std::move(*it));
          it = performs.erase(it);
        } else {
          ++it;
        }
      }
    }
    std::stable_sort(ready.begin(), ready.end(), [](auto& a, auto& b) { return a.order < b.order; });
    for (auto& e : ready) {
      if (e.request.action) e.request.action();
    }
    return !ready.empty();
  }

  bool runSources(const std::string& mode) {
    std::vector<Ref<RunLoopSource>> ready;
    {
      std::lock_guard lock(m);
      for (auto& e : sources)
        if (matches(e.modes, mode) && e.source->isValid() && e.source->isSignalled())
          ready.push_back(e.source);
    }
    std::stable_sort(ready.begin(), ready.end(), [](auto& a, auto& b) { return a->order() < b->order(); });
    for (auto& s : ready) s->performIfSignalled();
    return !ready.empty();
  }

  bool hasInputs(const std::string& mode) {
    std::lock_guard lock(m);
    if (participant) return true;
    pruneTimersLocked();
    for (auto& e : timers)
      if (matches(e.modes, mode)) return true;
    for (auto& e : sources)
      if (matches(e.modes, mode) && e.source->isValid()) return true;
    for (auto& e : fds)
      if (matches(e.modes, mode)) return true;
    for (auto& e : performs)
      if (matches(e.modes, mode)) return true;
    return false;
  }

  // Waits for the wake-up descriptor or a descriptor source of the mode; runs the callbacks of
  // the ready descriptors and answers whether any ran.
  bool waitAndDispatch(const std::string& mode, double timeoutSeconds) {
    std::vector<pollfd> pfds;
    std::vector<DescriptorId> ids;
    pfds.push_back({wakeFd, POLLIN, 0});
    std::shared_ptr<PollParticipant> guest;
    {
      std::lock_guard lock(m);
      guest = participant;
      for (auto& e : fds) {
        if (!matches(e.modes, mode) || e.events == 0) continue;
        pfds.push_back({e.fd, e.events, 0});
        ids.push_back(e.id);
      }
    }
    // The participant's descriptors follow the loop's own; its wait limit shortens ours.
    std::vector<PollDescriptor> guestFds;
    const std::size_t guestStart = pfds.size();
    if (guest) {
      timeoutSeconds = std::min(timeoutSeconds, guest->prepare(guestFds));
      for (auto& d : guestFds) pfds.push_back({d.fd, d.events, 0});
    }
    timespec ts{};
    timespec* tsp = nullptr;
    if (std::isfinite(timeoutSeconds)) {
      timeoutSeconds = std::max(timeoutSeconds, 0.0);
      ts.tv_sec = static_cast<time_t>(timeoutSeconds);
      ts.tv_nsec = static_cast<long>((timeoutSeconds - static_cast<double>(ts.tv_sec)) * 1e9);
      tsp = &ts;
    }
    int n = ::ppoll(pfds.data(), pfds.size(), tsp, nullptr);
    bool handled = false;
    if (guest) {
      for (std::size_t i = 0; i < guestFds.size(); ++i)
        guestFds[i].revents = n > 0 ? pfds[guestStart + i].revents : 0;
      handled = guest->dispatch(guestFds);
    }
    if (n <= 0) return handled;
    if (pfds[0].revents) drainWake();
    for (std::size_t i = 1; i < guestStart; ++i) {
      if (!pfds[i].revents) continue;
      std::shared_ptr<DescriptorCallback> cb;
      {
        std::lock_guard lock(m);
        for (auto& e : fds)
          if (e.id == ids[i - 1] && matches(e.modes, mode)) cb = e.callback;
      }
      if (!cb) continue;  // removed by an earlier callback of this pass
      (*cb)(pfds[i].fd, pfds[i].revents);
      handled = true;
    }
    return handled;
  }

  enum class Result { Empty, Handled, Stopped, TimedOut };

  Result runPass(const std::string& mode, TimeInterval limit, Steady::time_point realDeadline,
                 bool requireInputs) {
    if (gettid() != tid)
      Exception::raise(NSInternalInconsistencyException, "a run loop runs only on its own thread");
    if (requireInputs && !hasInputs(mode)) return Result::Empty;
    {
      std::lock_guard lock(m);
      modeStack.push_back(mode);
    }
    Result result = Result::TimedOut;
    for (;;) {
      if (stopped.exchange(false)) {
        result = Result::Stopped;
        break;
      }
      fireDueTimers(mode);
      bool handled = runPerforms(mode);
      handled = runSources(mode) || handled;
      if (stopped.exchange(false)) {
        result = Result::Stopped;
        break;
      }
      if (handled) {
        result = Result::Handled;
        break;
      }
      TimeInterval now = Clock::now();
      if (now >= limit) break;
      auto realNow = Steady::now();
      if (realNow >= realDeadline) break;
      double timeout = realDeadline == Steady::time_point::max()
                           ? Clock::kDistantFuture
                           : std::chrono::duration<double>(realDeadline - realNow).count();
      if (!Clock::isVirtual()) {
        timeout = std::min(timeout, limit - now);
        timeout = std::min(timeout, nextTimerAfter(mode, now) - now);
      }
      if (waitAndDispatch(mode, timeout)) {
        result = Result::Handled;
        break;
      }
    }
    {
      std::lock_guard lock(m);
      modeStack.pop_back();
    }
    return result;
  }
};

bool RunLoop::runPendingInMode(const std::string& mode) {
  auto& impl = *impl_;
  if (gettid() != impl.tid)
    Exception::raise(NSInternalInconsistencyException, "a run loop runs only on its own thread");
  {
    std::lock_guard lock(impl.m);
    impl.modeStack.push_back(mode);
  }
  bool handled = impl.fireDueTimers(mode) > 0;
  handled = impl.runPerforms(mode) || handled;
  handled = impl.runSources(mode) || handled;
  handled = impl.waitAndDispatch(mode, 0) || handled;
  {
    std::lock_guard lock(impl.m);
    impl.modeStack.pop_back();
  }
  return handled;
}

RunLoop::RunLoop() : impl_(std::make_shared<Impl>()) {
  impl_->tid = gettid();
  impl_->isMain = impl_->tid == getpid();
  impl_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (impl_->wakeFd < 0) throw std::runtime_error("eventfd failed");
  Clock::addObserver(impl_);
}

RunLoop::~RunLoop() {
  Clock::removeObserver(impl_.get());
}

Ref<RunLoop> RunLoop::mainRunLoop() {
  std::lock_guard lock(mainMutex());
  if (!gMainRunLoop) {
    // Made for the main thread even when another thread asks first.
    auto loop = make<RunLoop>();
    loop->impl_->tid = getpid();
    loop->impl_->isMain = true;
    gMainRunLoop = new Ref<RunLoop>(std::move(loop));
  }
  return *gMainRunLoop;
}

Ref<RunLoop> RunLoop::currentRunLoop() {
  if (onMainThread()) return mainRunLoop();
  if (!tlRunLoop) tlRunLoop = make<RunLoop>();
  return tlRunLoop;
}

bool RunLoop::isMainRunLoop() const {
  return impl_->isMain;
}

std::optional<std::string> RunLoop::currentMode() const {
  std::lock_guard lock(impl_->m);
  if (impl_->modeStack.empty()) return std::nullopt;
  return impl_->modeStack.back();
}

void RunLoop::addCommonMode(const std::string& mode) {
  std::lock_guard lock(impl_->m);
  impl_->commonModes.insert(mode);
}

void RunLoop::addTimer_forMode(const Ref<Timer>& timer, const std::string& mode) {
  if (!timer || !timer->attachTo(self<RunLoop>())) return;
  {
    std::lock_guard lock(impl_->m);
    Impl::addInMode(impl_->timers, &Impl::TimerEntry::timer, timer, mode);
  }
  impl_->wake();
}

void RunLoop::removeTimer_forMode(const Ref<Timer>& timer, const std::string& mode) {
  std::lock_guard lock(impl_->m);
  Impl::removeFromMode(impl_->timers, &Impl::TimerEntry::timer, timer, mode);
}

void RunLoop::performSelector_withObject_afterDelay_inModes(const Ref<Object>& target,
                                                            const std::string& selector,
                                                            const Ref<Object>& argument, TimeInterval delay,
                                                            const std::vector<std::string>& modes,
                                                            std::function<void()> action) {
  currentRunLoop()->perform({target, selector, argument, std::move(action)}, delay, modes);
}

void RunLoop::cancelPreviousPerformRequestsWithTarget(const Object* target) {
  currentRunLoop()->cancelPerformSelectorsWithTarget(target);
}

void RunLoop::cancelPreviousPerformRequestsWithTarget_selector_object(const Object* target,
                                                                      const std::string& selector,
                                                                      const Object* argument) {
  currentRunLoop()->cancelPerformSelector_target_argument(selector, target, argument);
}

void RunLoop::addSource_forMode(const Ref<RunLoopSource>& source, const std::string& mode) {
  if (!source) return;
  {
    std::lock_guard lock(impl_->m);
    Impl::addInMode(impl_->sources, &Impl::SourceEntry::source, source, mode);
  }
  impl_->wake();
}

void RunLoop::removeSource_forMode(const Ref<RunLoopSource>& source, const std::string& mode) {
  std::lock_guard lock(impl_->m);
  Impl::removeFromMode(impl_->sources, &Impl::SourceEntry::source, source, mode);
}

RunLoop::DescriptorId RunLoop::addDescriptor(int fd, short events, DescriptorCallback callback,
                                             const std::vector<std::string>& modes) {
  DescriptorId id;
  {
    std::lock_guard lock(impl_->m);
    id = impl_->nextFdId++;
    impl_->fds.push_back({id, fd, events, std::make_shared<DescriptorCallback>(std::move(callback)), modes});
  }
  impl_->wake();
  return id;
}

void RunLoop::setDescriptorEvents(DescriptorId id, short events) {
  {
    std::lock_guard lock(impl_->m);
    for (auto& e : impl_->fds)
      if (e.id == id) e.events = events;
  }
  impl_->wake();
}

void RunLoop::addDescriptorMode(DescriptorId id, const std::string& mode) {
  {
    std::lock_guard lock(impl_->m);
    for (auto& e : impl_->fds)
      if (e.id == id) Impl::addMode(e.modes, mode);
  }
  impl_->wake();
}

void RunLoop::removeDescriptorMode(DescriptorId id, const std::string& mode) {
  std::lock_guard lock(impl_->m);
  for (auto& e : impl_->fds)
    if (e.id == id) e.modes.erase(std::remove(e.modes.begin(), e.modes.end(), mode), e.modes.end());
}

void RunLoop::removeDescriptor(DescriptorId id) {
  std::shared_ptr<DescriptorCallback> doomed;
  {
    std::lock_guard lock(impl_->m);
    auto& v = impl_->fds;
    for (auto it = v.begin(); it != v.end(); ++it)
      if (it->id == id) {
        doomed = std::move(it->callback);
        v.erase(it);
        break;
      }
  }
  impl_->wake();
}

void RunLoop::setPollParticipant(std::shared_ptr<PollParticipant> participant) {
  std::shared_ptr<PollParticipant> old;
  {
    std::lock_guard lock(impl_->m);
    old = std::move(impl_->participant);
    impl_->participant = std::move(participant);
  }
  impl_->wake();
}

std::shared_ptr<PollParticipant> RunLoop::pollParticipant() const {
  std::lock_guard lock(impl_->m);
  return impl_->participant;
}

void RunLoop::perform(PerformRequest request, TimeInterval delay, const std::vector<std::string>& modes,
                      unsigned order) {
  std::uint64_t seq;
  // Delayed requests fire from a timer, like the platform's, so the virtual clock steps through
  // them; until the timer exists a placeholder keeps the request out of the immediate list.
  Ref<Timer> timer = delay > 0 ? make<Timer>(Clock::now() + delay, 0, false, nullptr) : nullptr;
  {
    std::lock_guard lock(impl_->m);
    seq = impl_->nextSeq++;
    impl_->performs.push_back({seq, std::move(request), order, modes, timer});
  }
  if (timer) {
    auto weak = weakSelf<RunLoop>();
    auto fired = make<Timer>(timer->fireTime(), 0, false, [weak, seq](const Ref<Timer>&) {
      auto loop = weak.lock();
      if (!loop) return;
      std::function<void()> action;
      PerformRequest keep;
      {
        std::lock_guard lock(loop->impl_->m);
        auto& v = loop->impl_->performs;
        for (auto it = v.begin(); it != v.end(); ++it)
          if (it->seq == seq) {
            keep = std::move(it->request);
            v.erase(it);
            break;
          }
      }
      if (keep.action) keep.action();
    });
    {
      std::lock_guard lock(impl_->m);
      for (auto& e : impl_->performs)
        if (e.seq == seq) e.timer = fired;
    }
    for (auto& mode : modes) addTimer_forMode(fired, mode);
  }
  impl_->wake();
}

void RunLoop::performInModes_block(const std::vector<std::string>& modes, std::function<void()> block) {
  perform({nullptr, {}, nullptr, std::move(block)}, 0, modes);
}

void RunLoop::performBlock(std::function<void()> block) {
  performInModes_block({RunLoopCommonModes}, std::move(block));
}

std::size_t RunLoop::cancelPerformSelectorsWithTarget(const Object* target) {
  return impl_->cancelPerforms(
      [target](const PerformRequest& r) { return target && r.target.get() == target; });
}

std::size_t RunLoop::cancelPerformSelector_target_argument(const std::string& selector, const Object* target,
                                                           const Object* argument) {
  return impl_->cancelPerforms([&](const PerformRequest& r) {
    return target && r.target.get() == target && r.selector == selector &&
           equalObjects(r.argument.get(), argument);
  });
}

bool RunLoop::runMode_beforeDate(const std::string& mode, const Date& limitDate) {
  impl_->assertOwnThread("runMode_beforeDate");
  return impl_->runPass(mode, Clock::timeForDate(limitDate), Steady::time_point::max(), true) !=
         Impl::Result::Empty;
}

void RunLoop::runUntilDate(const Date& limitDate) {
  impl_->assertOwnThread("runUntilDate");
  TimeInterval limit = Clock::timeForDate(limitDate);
  while (Clock::now() < limit &&
         impl_->runPass(DefaultRunLoopMode, limit, Steady::time_point::max(), true) != Impl::Result::Empty) {
  }
}

void RunLoop::run() {
  impl_->assertOwnThread("run");
  while (runMode_beforeDate(DefaultRunLoopMode, Date::distantFuture())) {
  }
}

void RunLoop::stop() {
  impl_->stopped.store(true);
  impl_->wake();
}

void RunLoop::wakeUp() {
  impl_->wake();
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds,
                       const std::string& mode) {
  impl_->assertOwnThread("runUntil");
  auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                      std::chrono::duration<double>(std::max(timeoutSeconds, 0.0)));
  bool ranAPass = false;
  while (!predicate()) {
    auto now = Steady::now();
    if (now >= deadline) {
      if (ranAPass) return predicate();
      // A thread that got no time before its deadline (a busy machine) still handles what is
      // ready once: the wait is for the predicate, not for a chance to run.
      runPendingInMode(mode);
      return predicate();
    }
    ranAPass = true;
    // Short slices: the predicate may turn true on another thread without waking this loop.
    auto slice = std::min(deadline, now + std::chrono::milliseconds(5));
    impl_->runPass(mode, Clock::kDistantFuture, slice, false);
  }
  return true;
}

namespace detail {

namespace {
RunLoop* existingCurrentRunLoop() {
  if (onMainThread()) {
    std::lock_guard lock(mainMutex());
    return gMainRunLoop ? gMainRunLoop->get() : nullptr;
  }
  return tlRunLoop.get();
}
}  // namespace

TimeInterval currentRunLoopNextTimerAfter(TimeInterval now) {
  auto* loop = existingCurrentRunLoop();
  if (!loop) return Clock::kDistantFuture;
  auto& impl = loop->impl();
  return impl.nextTimerAfter(impl.activeMode(), now);
}

void currentRunLoopFireDueTimers() {
  auto* loop = existingCurrentRunLoop();
  if (!loop) return;
  auto& impl = loop->impl();
  impl.fireDueTimers(impl.activeMode());
}

}  // namespace detail

}  // namespace ns
