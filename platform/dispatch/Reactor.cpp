#include "platform/dispatch/Reactor.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Source.h"
#include "platform/runloop/ThreadStartHook.h"

namespace dispatch::detail {

struct Reactor::Impl : ns::Clock::Observer {
  int epfd = -1;
  int wakeFd = -1;
  int timerFd = -1;
  std::mutex m;
  std::recursive_mutex fireMutex;  // held while due timers are taken and run; see fireDue
  std::map<std::pair<Time, std::uint64_t>, std::function<void()>> timers;
  std::unordered_map<std::uint64_t, Time> timerDeadlines;
  std::uint64_t nextId = 1;
  // Descriptors are registered one-shot: the kernel disables a registration when it reports
  // it, so a report costs no call to take the interest back, and re-arming is one change.
  struct FdEntry {
    std::vector<ns::Ref<Source>> watchers;
    std::uint32_t registered = 0;  // the interest the kernel reports now (0: none)
    bool added = false;            // in the epoll set, perhaps disabled by a report
    bool pollable = true;
    // Reports carry it beside the descriptor: one taken from the kernel just before the
    // descriptor was closed, and handled after its number was opened and watched again, belongs
    // to the earlier entry and is dropped, not given to the new watchers.
    std::uint32_t generation = 0;
  };
  std::unordered_map<int, FdEntry> fds;
  std::uint32_t lastGeneration = 0;

  void wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
  }

  ns::TimeInterval nextDeadlineAfter(ns::TimeInterval now) override {
    std::lock_guard lock(m);
    auto it = timers.upper_bound({now, UINT64_MAX});
    return it == timers.end() ? ns::Clock::kDistantFuture : it->first.first;
  }

  void clockAdvanced(ns::TimeInterval now) override {
    fireDue(now);
    wake();  // the clock may have switched: re-arm the timerfd
  }

  void fireDue(Time now) {
    // Both the reactor thread and a thread advancing the virtual clock fire due timers; one at
    // a time, so that blocks due earlier are always handed over before blocks due later.
    std::lock_guard firing(fireMutex);
    std::vector<std::function<void()>> due;
    {
      std::lock_guard lock(m);
      while (!timers.empty() && timers.begin()->first.first <= now) {
        timerDeadlines.erase(timers.begin()->first.second);
        due.push_back(std::move(timers.begin()->second));
        timers.erase(timers.begin());
      }
    }
    for (auto& f : due) f();
  }

  // The real-clock deadline the timerfd is set for (TimeForever: not set). Guarded by m.
  Time armedDeadline = TimeForever;

  void armTimerLocked() {
    itimerspec timerSpec{};
    armedDeadline = TimeForever;
    if (!ns::Clock::isVirtual() && !timers.empty()) {
      armedDeadline = timers.begin()->first.first;
      double delay = timers.begin()->first.first - ns::Clock::now();
      if (delay < 1e-9) delay = 1e-9;
      timerSpec.it_value.tv_sec = static_cast<time_t>(delay);
      timerSpec.it_value.tv_nsec =
          static_cast<long>((delay - static_cast<double>(timerSpec.it_value.tv_sec)) * 1e9);
      if (timerSpec.it_value.tv_sec == 0 && timerSpec.it_value.tv_nsec == 0) timerSpec.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(timerFd, 0, &timerSpec, nullptr);
  }

  void updateLocked(int fd, FdEntry& e) {
    std::uint32_t mask = 0;
    for (auto& s : e.watchers)
      if (s->armedInReactor) mask |= s->type() == SourceType::Write ? EPOLLOUT : EPOLLIN;
    if (mask == e.registered || !e.pollable) return;
    epoll_event ev{};
    ev.events = mask | EPOLLONESHOT;
    ev.data.u64 = (std::uint64_t{e.generation} << 32) | static_cast<std::uint32_t>(fd);
    if (mask == 0) {
      // Taken back before it fired: removed, since the kernel reports hang-ups and errors even
      // to a registration that asks for nothing.
      ::epoll_ctl(epfd, EPOLL_CTL_DEL, fd, nullptr);
      e.added = false;
    } else if (!e.added) {
      if (::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        if (errno == EEXIST) {
          ::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev);
        } else if (errno == EPERM) {
          e.pollable = false;  // regular files: always ready
          return;
        } else {
          return;  // not a descriptor we can watch (closed, invalid): it never fires
        }
      }
      e.added = true;
    } else if (::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT) {
      // The descriptor was closed and reopened under us: register it afresh.
      ::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev);
    }
    e.registered = mask;
  }

  // Threads waiting for readiness, or about to: at least one while any runs a handler it was
  // woken for, at most kSpareWaiters once they are done. Guarded by waitersMutex.
  std::mutex waitersMutex;
  int waiting = 2;
  const int kSpareWaiters = static_cast<int>(std::max(2u, std::thread::hardware_concurrency() / 2));

  void startThread() {
    std::thread([this] {
      ns::runThreadStartHooks();
      loop();
    }).detach();
  }

  // The calling thread leaves the wait to run work; another takes its place if none is left.
  void handOver() {
    bool start = false;
    {
      std::lock_guard lock(waitersMutex);
      if (--waiting == 0) {
        ++waiting;
        start = true;
      }
    }
    if (start) startThread();
  }

  // Back to waiting, or, with enough threads waiting already, the calling thread ends.
  bool rejoin() {
    std::lock_guard lock(waitersMutex);
    if (waiting >= kSpareWaiters) return false;
    ++waiting;
    return true;
  }

  // Run by every waiting thread: epoll hands each report to one of them. The thread that takes
  // a report runs the first handler it makes ready itself, when that handler's queue would
  // otherwise have woken an idle pool thread for it, leaving the wait to the others.
  void loop() {
    pthread_setname_np(pthread_self(), "pl-dispatch-io");
    epoll_event events[64];
    for (;;) {
      int n = ::epoll_wait(epfd, events, 64, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        std::perror("dispatch: epoll_wait");
        std::abort();
      }
      std::vector<ns::Ref<Source>> ready;
      bool timersDue = false;
      {
        std::lock_guard lock(m);
        for (int i = 0; i < n; ++i) {
          const std::uint64_t tag = events[i].data.u64;
          const int fd = static_cast<int>(static_cast<std::uint32_t>(tag));
          std::uint32_t got = events[i].events;
          if (fd == wakeFd) {
            std::uint64_t v;
            while (::read(wakeFd, &v, sizeof v) > 0) {
            }
            timersDue = true;
            continue;
          }
          if (fd == timerFd) {
            std::uint64_t v;
            [[maybe_unused]] auto r = ::read(timerFd, &v, sizeof v);
            timersDue = true;
            continue;
          }
          auto it = fds.find(fd);
          if (it == fds.end() || it->second.generation != static_cast<std::uint32_t>(tag >> 32)) continue;
          // The report disabled the registration; what is still armed is registered again.
          it->second.registered = 0;
          bool readable = got & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP);
          bool writable = got & (EPOLLOUT | EPOLLHUP | EPOLLERR);
          for (auto& s : it->second.watchers) {
            if (!s->armedInReactor) continue;
            bool isWrite = s->type() == SourceType::Write;
            if (isWrite ? writable : readable) {
              s->armedInReactor = false;
              ready.push_back(s);
            }
          }
          updateLocked(fd, it->second);
        }
      }
      HeldWork held;
      for (auto& s : ready) s->readinessFired();
      ready.clear();
      bool runHeld = held.close();
      if (timersDue) {
        fireDue(ns::Clock::now());
        std::lock_guard lock(m);
        armTimerLocked();
      }
      if (runHeld) {
        handOver();
        held.run();
        if (!rejoin()) return;
      }
    }
  }
};

Reactor& Reactor::instance() {
  // Lives for the whole process; its thread is never joined.
  static ns::NoDestructor<Reactor> r;
  return *r;
}

Reactor::Reactor() {
  // Shared with the clock, which keeps observers weakly; never released.
  static ns::NoDestructor<std::shared_ptr<Impl>> keep(std::make_shared<Impl>());
  impl_ = keep->get();
  impl_->epfd = ::epoll_create1(EPOLL_CLOEXEC);
  impl_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  impl_->timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (impl_->epfd < 0 || impl_->wakeFd < 0 || impl_->timerFd < 0) {
    std::perror("dispatch: reactor set-up");
    std::abort();
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = impl_->wakeFd;
  ::epoll_ctl(impl_->epfd, EPOLL_CTL_ADD, impl_->wakeFd, &ev);
  ev.data.fd = impl_->timerFd;
  ::epoll_ctl(impl_->epfd, EPOLL_CTL_ADD, impl_->timerFd, &ev);
  ns::Clock::addObserver(*keep);
  // Two from the start, so that the first handler run by a woken thread finds another waiting
  // and need not start one first.
  impl_->startThread();
  impl_->startThread();
}

std::uint64_t Reactor::schedule(Time deadline, std::function<void()> fire) {
  std::lock_guard lock(impl_->m);
  std::uint64_t id = impl_->nextId++;
  bool earliest = impl_->timers.empty() || deadline < impl_->timers.begin()->first.first;
  impl_->timers.emplace(std::make_pair(deadline, id), std::move(fire));
  impl_->timerDeadlines[id] = deadline;
  if (deadline <= ns::Clock::now()) {
    impl_->wake();  // already due: the reactor thread delivers it, on either clock
  } else if (earliest && (ns::Clock::isVirtual() || deadline < impl_->armedDeadline)) {
    // A timerfd already set for this deadline or an earlier one (perhaps a cancelled timer's)
    // wakes the reactor in time, which then sets it for the earliest timer left.
    impl_->armTimerLocked();
  }
  return id;
}

void Reactor::unschedule(std::uint64_t id) {
  std::function<void()> doomed;
  std::lock_guard lock(impl_->m);
  auto it = impl_->timerDeadlines.find(id);
  if (it == impl_->timerDeadlines.end()) return;
  auto t = impl_->timers.find({it->second, id});
  if (t != impl_->timers.end()) {
    doomed = std::move(t->second);
    impl_->timers.erase(t);
  }
  impl_->timerDeadlines.erase(it);
}

void Reactor::watch(const ns::Ref<Source>& source) {
  std::lock_guard lock(impl_->m);
  int fd = source->pollHandle();
  auto [it, made] = impl_->fds.try_emplace(fd);
  if (made) it->second.generation = ++impl_->lastGeneration;
  auto& e = it->second;
  source->armedInReactor = false;
  e.watchers.push_back(source);
}

void Reactor::arm(const ns::Ref<Source>& source) {
  bool fireNow = false;
  {
    std::lock_guard lock(impl_->m);
    int fd = source->pollHandle();
    auto it = impl_->fds.find(fd);
    if (it == impl_->fds.end()) return;
    bool watched = false;
    for (auto& s : it->second.watchers) watched = watched || s == source;
    if (!watched) return;
    source->armedInReactor = true;
    impl_->updateLocked(fd, it->second);
    if (!it->second.pollable) {
      source->armedInReactor = false;
      fireNow = true;
    }
  }
  if (fireNow) source->readinessFired();
}

void Reactor::disarm(const ns::Ref<Source>& source) {
  std::lock_guard lock(impl_->m);
  int fd = source->pollHandle();
  auto it = impl_->fds.find(fd);
  if (it == impl_->fds.end()) return;
  source->armedInReactor = false;
  impl_->updateLocked(fd, it->second);
}

void Reactor::unwatch(const ns::Ref<Source>& source) {
  ns::Ref<Source> keep;
  std::lock_guard lock(impl_->m);
  int fd = source->pollHandle();
  auto it = impl_->fds.find(fd);
  if (it == impl_->fds.end()) return;
  auto& w = it->second.watchers;
  for (auto s = w.begin(); s != w.end(); ++s)
    if (*s == source) {
      keep = std::move(*s);
      w.erase(s);
      break;
    }
  source->armedInReactor = false;
  impl_->updateLocked(fd, it->second);
  if (w.empty()) impl_->fds.erase(it);
}

}  // namespace dispatch::detail
