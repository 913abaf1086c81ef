#include "platform/dispatch/Queue.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Reactor.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/ThreadStartHook.h"

namespace dispatch {

const char* const kMainQueueLabel = "main-thread";

namespace {

// Whether the calling thread is the process's first, read once per thread: it is asked at every
// look at the current queue off a queue (each log record's label, say), and both ids are system
// calls. The thread that forks becomes its child's first thread, so a child reads it again.
thread_local int tlMainThread = -1;

bool onMainThread() {
  if (tlMainThread < 0) {
    static const bool forgottenInChildren = [] {
      return ::pthread_atfork(nullptr, nullptr, [] { tlMainThread = -1; }) == 0;
    }();
    (void)forgottenInChildren;
    tlMainThread = gettid() == getpid() ? 1 : 0;
  }
  return tlMainThread == 1;
}

[[noreturn]] void fatal(const char* message, const std::string& label) {
  std::fprintf(stderr, "dispatch: %s (queue \"%s\")\n", message, label.c_str());
  std::abort();
}

// The queues the calling thread is running blocks of, innermost last.
struct Frame {
  Queue* queue;
  Frame* previous;
};
thread_local Frame* tlTop = nullptr;
// Mirrors tlTop->queue's label as a plain pointer for signal handlers.
thread_local const char* tlLabel = nullptr;

class FrameScope {
 public:
  explicit FrameScope(Queue* q) : frame_{q, tlTop}, savedLabel_(tlLabel) {
    tlTop = &frame_;
    tlLabel = q->label().c_str();
  }
  ~FrameScope() {
    tlTop = frame_.previous;
    tlLabel = savedLabel_;
  }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;

 private:
  Frame frame_;
  const char* savedLabel_;
};

// A synchronous block waiting for its turn on a queue.
struct SyncWait {
  std::mutex m;
  std::condition_variable cv;
  int state = 0;  // 0 queued, 1 the queue is held for the caller, 2 done
  const Block* block = nullptr;
  bool runOnDrainer = false;  // main-queue blocks run on the main thread
};

struct Item {
  Block block;
  std::shared_ptr<SyncWait> sync;
  bool barrier = false;
};

struct Pool;
thread_local Pool* tlPool = nullptr;
thread_local detail::HeldWork* tlHeld = nullptr;

// One idle worker's wake-up: the pool wakes one idle thread of its choice, which then looks for
// work. A condition variable shared by all of them made every hand-over fight over the pool's
// lock inside the wait itself (a futex call or two more per block passed between queues).
class Parker {
 public:
  // Waits until woken or until `timeout` passes; answers whether it was woken.
  bool parkFor(std::chrono::nanoseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (state_.load(std::memory_order_acquire) == 0) {
      auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::nanoseconds::zero()) break;
      auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
      timespec relative{static_cast<time_t>(seconds.count()),
                        static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
      ::syscall(SYS_futex, &state_, FUTEX_WAIT_PRIVATE, 0, &relative, nullptr, 0);
    }
    return state_.exchange(0, std::memory_order_acquire) == 1;
  }
  // Waits until woken.
  void park() {
    while (!parkFor(std::chrono::hours(1))) {
    }
  }
  void unpark() {
    state_.store(1, std::memory_order_release);
    ::syscall(SYS_futex, &state_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }

 private:
  std::atomic<std::uint32_t> state_{0};
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
};

// An elastic pool of worker threads behind one global queue: a thread is added whenever work
// waits and no thread is idle, so blocking work (name resolution, disk) does not starve the rest.
// The cap counts only threads that can run work: a thread blocked in a synchronous call, or in a wait on a
// semaphore or group, waits for work that may itself need a thread of this pool, so while it waits the pool
// may grow past the cap, and the surplus leaves once those threads run again. Idle threads leave after a
// while; the pool is never torn down, and its threads are not joined at exit.
struct Pool {
  std::mutex m;
  std::deque<Block> work;
  // Idle threads, the most recently idle last: it is woken first (its caches are warm, and a
  // surplus of threads stays at the bottom until it times out).
  std::vector<Parker*> idle;
  int waking = 0;  // threads woken that have not yet looked for work
  int threads = 0;
  int blocked = 0;  // threads waiting in a synchronous call or a wait
  std::string threadName;
  static constexpr int kMaxThreads = 128;
  static constexpr std::chrono::seconds kIdleTime{10};

  // Called with m held: whether waiting work needs one more thread.
  bool needsThreadLocked() const {
    return work.size() > idle.size() + static_cast<std::size_t>(waking) && threads - blocked < kMaxThreads;
  }

  void spawn() {
    std::thread([this] { workerLoop(); }).detach();
  }

  void submit(Block block) {
    bool grow = false;
    Parker* woken = nullptr;
    {
      std::lock_guard lock(m);
      // Held only where an idle or new thread would have started it at once, so that the pool's
      // order and its cap stay as they are; the holder counts as one of its threads meanwhile.
      if (tlHeld && !tlHeld->block && work.empty() && threads - blocked < kMaxThreads) {
        ++threads;
        tlHeld->pool = this;
        tlHeld->block = std::move(block);
        return;
      }
      work.push_back(std::move(block));
      // A thread that finishes its block first takes the work as well; the one woken then finds
      // none and waits again.
      if (work.size() > static_cast<std::size_t>(waking) && !idle.empty()) {
        woken = idle.back();
        idle.pop_back();
        ++waking;
      } else if (needsThreadLocked()) {
        ++threads;
        grow = true;
      }
    }
    if (woken) woken->unpark();
    if (grow) spawn();
  }

  void enterBlocked() {
    bool grow = false;
    {
      std::lock_guard lock(m);
      ++blocked;
      if (needsThreadLocked()) {
        ++threads;
        grow = true;
      }
    }
    if (grow) spawn();
  }

  void leaveBlocked() {
    std::lock_guard lock(m);
    --blocked;
  }

  void workerLoop() {
    ns::runThreadStartHooks();
    pthread_setname_np(pthread_self(), threadName.c_str());
    tlPool = this;
    Parker parker;
    std::unique_lock lock(m);
    for (;;) {
      while (work.empty()) {
        idle.push_back(&parker);
        lock.unlock();
        if (!parker.parkFor(kIdleTime)) {
          lock.lock();
          auto mine = std::find(idle.begin(), idle.end(), &parker);
          if (mine != idle.end()) {
            idle.erase(mine);
            --threads;
            return;
          }
          // Woken just as the wait ran out: the wake-up is on its way.
          lock.unlock();
          parker.park();
        }
        lock.lock();
        --waking;
      }
      Block block = std::move(work.front());
      work.pop_front();
      lock.unlock();
      block();
      block = nullptr;
      lock.lock();
      if (threads - blocked > kMaxThreads) {  // grown while others were blocked
        --threads;
        return;
      }
    }
  }
};

using BlockedScope = detail::PoolWait;

void submit(const ns::Ref<Queue>& q, Item item);

}  // namespace

namespace detail {

PoolWait::PoolWait() : pool_(tlPool) {
  if (pool_) static_cast<Pool*>(pool_)->enterBlocked();
}

PoolWait::~PoolWait() {
  if (pool_) static_cast<Pool*>(pool_)->leaveBlocked();
}

HeldWork::HeldWork() : saved_(tlHeld) {
  tlHeld = this;
}

HeldWork::~HeldWork() {
  close();
  if (!block) return;
  auto* p = static_cast<Pool*>(pool);
  {
    std::lock_guard lock(p->m);
    --p->threads;
  }
  p->submit(std::move(block));
}

bool HeldWork::close() {
  if (open_) {
    tlHeld = saved_;
    open_ = false;
  }
  return static_cast<bool>(block);
}

constexpr int kTakenAfterHeld = 16;

void HeldWork::run() {
  close();
  if (!block) return;
  auto* p = static_cast<Pool*>(pool);
  Block b = std::move(block);
  block = nullptr;
  Pool* savedPool = tlPool;
  tlPool = p;
  b();
  b = nullptr;
  // Then, as a thread of the pool that finished its block, it takes what waits: most often what
  // the held block handed on (a read's completion for its delegate's queue), which it starts
  // before the pool thread woken for it is running. A few only: its place is the wait.
  std::unique_lock lock(p->m);
  for (int n = 0; n < kTakenAfterHeld && !p->work.empty() && p->threads - p->blocked <= Pool::kMaxThreads;
       ++n) {
    b = std::move(p->work.front());
    p->work.pop_front();
    lock.unlock();
    b();
    b = nullptr;
    lock.lock();
  }
  --p->threads;
  tlPool = savedPool;
}

}  // namespace detail

struct Queue::Impl {
  Queue::Kind kind;
  std::string label;
  mutable std::mutex m;
  ns::Ref<Queue> target;  // serial and concurrent queues
  std::deque<Item> items;
  bool scheduled = false;  // serial and main: a drain is queued or running
  int running = 0;         // concurrent: blocks running
  bool barrierRunning = false;
  int suspendCount = 0;
  std::map<const void*, std::pair<void*, void (*)(void*)>> specific;
  Pool* pool = nullptr;                   // global queues
  ns::Ref<ns::RunLoopSource> mainSource;  // the main queue
};

namespace {

ns::Ref<Queue> rootQueue(Priority p);

ns::Ref<Queue> targetOf(Queue* q) {
  std::lock_guard lock(q->impl().m);
  return q->impl().target;
}

void runItem(Queue* q, Item& item) {
  if (!item.sync) {
    item.block();
    return;
  }
  auto& w = *item.sync;
  std::unique_lock lock(w.m);
  if (w.runOnDrainer) {
    lock.unlock();
    (*w.block)();
    lock.lock();
    w.state = 2;
    w.cv.notify_all();
    return;
  }
  // Hand the queue to the waiting caller and hold it until the caller's block has run.
  w.state = 1;
  w.cv.notify_all();
  lock.unlock();
  BlockedScope blocked;
  lock.lock();
  w.cv.wait(lock, [&] { return w.state == 2; });
}

void drainSerial(const ns::Ref<Queue>& q);

void scheduleDrain(const ns::Ref<Queue>& q) {
  auto& impl = q->impl();
  if (impl.kind == Queue::Kind::Main) {
    impl.mainSource->signal();
    ns::RunLoop::mainRunLoop()->wakeUp();
    return;
  }
  submit(targetOf(q.get()), Item{[q] { drainSerial(q); }, nullptr, false});
}

// Serial and main queues: run blocks one at a time; after a batch, yield the target's thread.
void drainSerial(const ns::Ref<Queue>& q) {
  auto& impl = q->impl();
  FrameScope frame(q.get());
  std::size_t budget;
  {
    std::lock_guard lock(impl.m);
    budget = impl.kind == Queue::Kind::Main ? impl.items.size() : 64;
  }
  for (std::size_t n = 0;; ++n) {
    Item item;
    {
      std::unique_lock lock(impl.m);
      if (impl.suspendCount > 0 || impl.items.empty()) {
        impl.scheduled = false;
        return;
      }
      if (n >= budget) {
        lock.unlock();
        scheduleDrain(q);
        return;
      }
      item = std::move(impl.items.front());
      impl.items.pop_front();
    }
    runItem(q.get(), item);
  }
}

void submitConcurrent(const ns::Ref<Queue>& q, std::vector<Item> ready);

// Concurrent queues: move what may start now to the target; the caller holds impl.m.
std::vector<Item> pumpLocked(Queue::Impl& impl) {
  std::vector<Item> ready;
  while (!impl.items.empty() && impl.suspendCount == 0 && !impl.barrierRunning) {
    if (impl.items.front().barrier) {
      if (impl.running == 0) {
        impl.barrierRunning = true;
        ready.push_back(std::move(impl.items.front()));
        impl.items.pop_front();
      }
      break;
    }
    ++impl.running;
    ready.push_back(std::move(impl.items.front()));
    impl.items.pop_front();
  }
  return ready;
}

void finishConcurrent(const ns::Ref<Queue>& q, bool barrier) {
  std::vector<Item> ready;
  {
    std::lock_guard lock(q->impl().m);
    if (barrier)
      q->impl().barrierRunning = false;
    else
      --q->impl().running;
    ready = pumpLocked(q->impl());
  }
  submitConcurrent(q, std::move(ready));
}

void submitConcurrent(const ns::Ref<Queue>& q, std::vector<Item> ready) {
  if (ready.empty()) return;
  auto target = targetOf(q.get());
  for (auto& item : ready) {
    bool barrier = item.barrier;
    auto shared = std::make_shared<Item>(std::move(item));
    submit(target, Item{[q, shared, barrier] {
                          {
                            FrameScope frame(q.get());
                            runItem(q.get(), *shared);
                          }
                          finishConcurrent(q, barrier);
                        },
                        nullptr, false});
  }
}

void submit(const ns::Ref<Queue>& q, Item item) {
  auto& impl = q->impl();
  switch (impl.kind) {
    case Queue::Kind::Root:
      impl.pool->submit([q, block = std::move(item.block)] {
        FrameScope frame(q.get());
        block();
      });
      return;
    case Queue::Kind::Main:
    case Queue::Kind::Serial: {
      bool schedule = false;
      {
        std::lock_guard lock(impl.m);
        impl.items.push_back(std::move(item));
        if (!impl.scheduled && impl.suspendCount == 0) {
          impl.scheduled = true;
          schedule = true;
        }
      }
      if (schedule) scheduleDrain(q);
      return;
    }
    case Queue::Kind::Concurrent: {
      std::vector<Item> ready;
      {
        std::lock_guard lock(impl.m);
        impl.items.push_back(std::move(item));
        ready = pumpLocked(impl);
      }
      submitConcurrent(q, std::move(ready));
      return;
    }
  }
}

// Whether a sync onto `q` would wait for the calling thread itself: some serial queue on q's
// target chain is one the caller runs a block of, directly or as the target of its queue.
bool callerHolds(Queue* q) {
  std::vector<ns::Ref<Queue>> held;
  for (Frame* f = tlTop; f; f = f->previous) {
    for (auto x = f->queue->self<Queue>(); x; x = targetOf(x.get()))
      if (x->isSerial()) held.push_back(x);
  }
  for (auto x = q->self<Queue>(); x; x = targetOf(x.get())) {
    if (!x->isSerial()) continue;
    if (x->kind() == Queue::Kind::Main && onMainThread()) return true;
    for (auto& h : held)
      if (h == x) return true;
  }
  return false;
}

void waitForTurn(SyncWait& w, int state) {
  BlockedScope blocked;
  std::unique_lock lock(w.m);
  w.cv.wait(lock, [&] { return w.state >= state; });
}

void finishTurn(SyncWait& w) {
  std::lock_guard lock(w.m);
  w.state = 2;
  w.cv.notify_all();
}

void syncImpl(const ns::Ref<Queue>& q, const Block& block, bool barrier) {
  if (!q) return;
  auto& impl = q->impl();
  if (callerHolds(q.get())) fatal("sync onto the queue the caller is running on would deadlock", impl.label);

  switch (impl.kind) {
    case Queue::Kind::Root: {
      FrameScope frame(q.get());
      block();
      return;
    }
    case Queue::Kind::Main: {
      auto w = std::make_shared<SyncWait>();
      w->block = &block;
      w->runOnDrainer = true;
      submit(q, Item{nullptr, w, false});
      waitForTurn(*w, 2);
      return;
    }
    case Queue::Kind::Serial: {
      bool fast = false;
      {
        std::lock_guard lock(impl.m);
        if (!impl.scheduled && impl.items.empty() && impl.suspendCount == 0 &&
            impl.target->kind() == Queue::Kind::Root) {
          impl.scheduled = true;  // hold the idle queue for the caller
          fast = true;
        }
      }
      if (fast) {
        struct Release {
          const ns::Ref<Queue>& q;
          ~Release() {
            auto& impl = q->impl();
            bool schedule = false;
            {
              std::lock_guard lock(impl.m);
              if (!impl.items.empty() && impl.suspendCount == 0)
                schedule = true;
              else
                impl.scheduled = false;
            }
            if (schedule) scheduleDrain(q);
          }
        } release{q};
        FrameScope frame(q.get());
        block();
        return;
      }
      break;
    }
    case Queue::Kind::Concurrent: {
      bool fast = false;
      {
        std::lock_guard lock(impl.m);
        if (!barrier && !impl.barrierRunning && impl.items.empty() && impl.suspendCount == 0) {
          ++impl.running;
          fast = true;
        }
      }
      if (fast) {
        struct Release {
          const ns::Ref<Queue>& q;
          ~Release() { finishConcurrent(q, false); }
        } release{q};
        FrameScope frame(q.get());
        block();
        return;
      }
      break;
    }
  }
  // Queue behind the earlier blocks; run on this thread once the queue is handed over.
  auto w = std::make_shared<SyncWait>();
  submit(q, Item{nullptr, w, barrier});
  waitForTurn(*w, 1);
  struct Finish {
    SyncWait& w;
    ~Finish() { finishTurn(w); }
  } finish{*w};
  FrameScope frame(q.get());
  block();
}

Pool* makePool(const char* threadName) {
  auto* pool = new Pool;
  pool->threadName = threadName;
  return pool;
}

ns::Ref<Queue> makeRoot(const char* label, const char* threadName) {
  auto q = ns::make<Queue>(Queue::Kind::Root, label);
  q->impl().pool = makePool(threadName);
  return q;
}

struct Roots {
  ns::Ref<Queue> high = makeRoot("global.high-priority", "pl-gq-high");
  ns::Ref<Queue> def = makeRoot("global.default-priority", "pl-gq-default");
  ns::Ref<Queue> low = makeRoot("global.low-priority", "pl-gq-low");
  ns::Ref<Queue> background = makeRoot("global.background-priority", "pl-gq-background");
};

// The global and main queues live for the whole process.
Roots& roots() {
  static ns::NoDestructor<Roots> r;
  return *r;
}

ns::Ref<Queue> rootQueue(Priority p) {
  switch (p) {
    case Priority::High:
      return roots().high;
    case Priority::Low:
      return roots().low;
    case Priority::Background:
      return roots().background;
    case Priority::Default:
      break;
  }
  return roots().def;
}

Queue* innermostQueue() {
  if (tlTop) return tlTop->queue;
  if (onMainThread()) return mainQueue().get();
  return nullptr;
}

}  // namespace

Queue::Queue(Kind kind, std::string label) : impl_(std::make_unique<Impl>()) {
  impl_->kind = kind;
  impl_->label = std::move(label);
}

Queue::~Queue() {
  for (auto& [key, entry] : impl_->specific)
    if (entry.second) entry.second(entry.first);
}

const std::string& Queue::label() const {
  return impl_->label;
}
Queue::Kind Queue::kind() const {
  return impl_->kind;
}

std::string Queue::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
  return "<Queue: " + std::string(buf) + " label = " + impl_->label + ">";
}

std::vector<std::string> globalQueueLabels() {
  return {"global.high-priority",       "global.high-priority.overcommit",
          "global.default-priority",    "global.default-priority.overcommit",
          "global.low-priority",        "global.low-priority.overcommit",
          "global.background-priority", "global.background-priority.overcommit"};
}

bool isGlobalQueueLabel(std::string_view label) {
  for (auto& l : globalQueueLabels())
    if (l == label) return true;
  return false;
}

ns::Ref<Queue> queueCreate(const std::string& label, QueueAttr attr) {
  auto q = ns::make<Queue>(attr == QueueAttr::Serial ? Queue::Kind::Serial : Queue::Kind::Concurrent, label);
  q->impl().target = rootQueue(Priority::Default);
  return q;
}

ns::Ref<Queue> mainQueue() {
  static ns::Ref<Queue>* main = [] {
    auto q = ns::make<Queue>(Queue::Kind::Main, kMainQueueLabel);
    ns::Weak<Queue> weak = q;
    q->impl().mainSource = ns::make<ns::RunLoopSource>([weak] {
      if (auto q = weak.lock()) drainSerial(q);
    });
    ns::RunLoop::mainRunLoop()->addSource_forMode(q->impl().mainSource, ns::RunLoopCommonModes);
    return new ns::Ref<Queue>(std::move(q));
  }();
  return *main;
}

ns::Ref<Queue> globalQueue(Priority priority) {
  return rootQueue(priority);
}

void async(const ns::Ref<Queue>& queue, Block block) {
  if (!queue || !block) return;
  submit(queue, Item{std::move(block), nullptr, false});
}

void sync(const ns::Ref<Queue>& queue, const Block& block) {
  if (block) syncImpl(queue, block, false);
}

void barrierAsync(const ns::Ref<Queue>& queue, Block block) {
  if (!queue || !block) return;
  submit(queue, Item{std::move(block), nullptr, queue->kind() == Queue::Kind::Concurrent});
}

void barrierSync(const ns::Ref<Queue>& queue, const Block& block) {
  if (block) syncImpl(queue, block, queue && queue->kind() == Queue::Kind::Concurrent);
}

void afterTime(Time when, const ns::Ref<Queue>& queue, Block block) {
  if (!queue || !block || when == TimeForever) return;
  detail::Reactor::instance().schedule(
      when, [queue, block = std::move(block)]() mutable { async(queue, std::move(block)); });
}

void after(double seconds, const ns::Ref<Queue>& queue, Block block) {
  afterTime(ns::Clock::now() + std::max(seconds, 0.0), queue, std::move(block));
}

void apply(std::size_t iterations, const ns::Ref<Queue>& queue,
           const std::function<void(std::size_t)>& block) {
  if (!queue || iterations == 0) return;
  if (queue->isSerial()) {
    sync(queue, [&] {
      for (std::size_t i = 0; i < iterations; ++i) block(i);
    });
    return;
  }
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < iterations;) block(i);
  };
  std::size_t helpers =
      std::min<std::size_t>(iterations, std::max(1u, std::thread::hardware_concurrency())) - 1;
  auto group = groupCreate();
  for (std::size_t h = 0; h < helpers; ++h) groupAsync(group, queue, work);
  {
    FrameScope frame(queue.get());
    work();
  }
  group->wait(TimeForever);
}

void setTargetQueue(const ns::Ref<Queue>& queue, const ns::Ref<Queue>& target) {
  if (!queue) return;
  auto kind = queue->kind();
  if (kind != Queue::Kind::Serial && kind != Queue::Kind::Concurrent) return;
  std::lock_guard lock(queue->impl().m);
  queue->impl().target = target && target != queue ? target : rootQueue(Priority::Default);
}

ns::Ref<Queue> targetQueue(const ns::Ref<Queue>& queue) {
  return queue ? targetOf(queue.get()) : nullptr;
}

void suspend(const ns::Ref<Queue>& queue) {
  if (!queue || queue->kind() == Queue::Kind::Root) return;
  std::lock_guard lock(queue->impl().m);
  ++queue->impl().suspendCount;
}

void resume(const ns::Ref<Queue>& queue) {
  if (!queue || queue->kind() == Queue::Kind::Root) return;
  auto& impl = queue->impl();
  bool schedule = false;
  std::vector<Item> ready;
  {
    std::lock_guard lock(impl.m);
    if (impl.suspendCount == 0) fatal("resume of a queue that is not suspended", impl.label);
    if (--impl.suspendCount > 0) return;
    if (impl.kind == Queue::Kind::Concurrent) {
      ready = pumpLocked(impl);
    } else if (!impl.scheduled && !impl.items.empty()) {
      impl.scheduled = true;
      schedule = true;
    }
  }
  if (schedule) scheduleDrain(queue);
  submitConcurrent(queue, std::move(ready));
}

void setSpecific(const ns::Ref<Queue>& queue, const void* key, void* value, void (*destructor)(void*)) {
  if (!queue || !key) return;
  std::pair<void*, void (*)(void*)> old{nullptr, nullptr};
  {
    std::lock_guard lock(queue->impl().m);
    auto& map = queue->impl().specific;
    auto it = map.find(key);
    if (it != map.end()) {
      old = it->second;
      map.erase(it);
    }
    if (value) map[key] = {value, destructor};
  }
  if (old.second && old.first) old.second(old.first);
}

void* queueGetSpecific(const ns::Ref<Queue>& queue, const void* key) {
  if (!queue) return nullptr;
  std::lock_guard lock(queue->impl().m);
  auto& map = queue->impl().specific;
  auto it = map.find(key);
  return it == map.end() ? nullptr : it->second.first;
}

void* getSpecific(const void* key) {
  ns::Ref<Queue> keep;
  for (Queue* q = innermostQueue(); q; q = keep.get()) {
    {
      std::lock_guard lock(q->impl().m);
      auto& map = q->impl().specific;
      auto it = map.find(key);
      if (it != map.end()) return it->second.first;
    }
    keep = targetOf(q);
  }
  return nullptr;
}

bool isCurrentQueue(const ns::Ref<Queue>& queue) {
  if (!queue) return false;
  if (queue->kind() == Queue::Kind::Main && onMainThread()) return true;
  for (Frame* frame = tlTop; frame; frame = frame->previous) {
    ns::Ref<Queue> keep;
    for (Queue* q = frame->queue; q; q = keep.get()) {
      if (q == queue.get()) return true;
      keep = targetOf(q);
    }
  }
  return false;
}

void queueOwnershipViolated(std::string_view owner, std::string_view expectedLabel) {
  std::fprintf(stderr, "dispatch: %.*s used off its queue \"%.*s\" (called on \"%s\")\n",
               static_cast<int>(owner.size()), owner.data(), static_cast<int>(expectedLabel.size()),
               expectedLabel.data(), currentQueueLabel());
  std::abort();
}

void assertQueue(const ns::Ref<Queue>& queue) {
  if (!isCurrentQueue(queue))
    queueOwnershipViolated("a block", queue ? queue->label() : std::string("(none)"));
}

ns::Ref<Queue> currentQueue() {
  Queue* q = innermostQueue();
  return q ? q->self<Queue>() : nullptr;
}

const char* currentQueueLabel() {
  if (tlLabel) return tlLabel;
  return onMainThread() ? kMainQueueLabel : "";
}

}  // namespace dispatch
