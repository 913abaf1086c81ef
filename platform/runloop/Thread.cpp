#include "platform/runloop/Thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/core/Exception.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/ThreadStartHook.h"

namespace ns {
namespace {

thread_local Ref<Thread> tlThread;

void setOsName(pthread_t handle, const std::string& name) {
  // The OS keeps 15 bytes; cut at a character boundary.
  std::string cut = name.substr(0, 15);
  while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) cut.pop_back();
  if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80)) cut.pop_back();
  pthread_setname_np(handle, cut.c_str());
}

}  // namespace

Thread::Thread() = default;
Thread::Thread(std::function<void()> block) : block_(std::move(block)) {}
Thread::Thread(Adopted, bool isMain) : started_(true), executing_(true), isMain_(isMain) {
  nativeHandle_ = static_cast<unsigned long>(pthread_self());
}
Thread::~Thread() = default;

Ref<Thread> Thread::mainThread() {
  static Ref<Thread>* main = [] {
    auto t = Ref<Thread>(new Thread(Adopted{}, true));
    t->name_ = "main";
    t->runLoop_ = RunLoop::mainRunLoop();
    return new Ref<Thread>(std::move(t));
  }();
  return *main;
}

Ref<Thread> Thread::currentThread() {
  if (isMainThread()) return mainThread();
  if (!tlThread) {
    // A thread we did not start (a pool worker, a plain std::thread): adopt it.
    tlThread = Ref<Thread>(new Thread(Adopted{}, false));
    tlThread->runLoop_ = RunLoop::currentRunLoop();
  }
  return tlThread;
}

bool Thread::isMainThread() {
  return gettid() == getpid();
}

void Thread::detachNewThreadWithBlock(std::function<void()> block) {
  make<Thread>(std::move(block))->start();
}

Ref<Thread> Thread::detachNewThreadWithRunLoop(const std::string& name) {
  auto thread = make<Thread>();
  std::weak_ptr<Thread> weak = thread;
  thread->block_ = [weak] {
    auto loop = RunLoop::currentRunLoop();
    // Keeps the default mode non-empty so that the loop waits for work instead of returning.
    auto keepAlive = make<RunLoopSource>([] {});
    loop->addSource_forMode(keepAlive, DefaultRunLoopMode);
    for (;;) {
      auto self = weak.lock();
      if (!self || self->isCancelled()) break;
      self.reset();
      loop->runMode_beforeDate(DefaultRunLoopMode, Date::distantFuture());
    }
    loop->removeSource_forMode(keepAlive, DefaultRunLoopMode);
  };
  thread->setName(name);
  thread->start();
  return thread;
}

void Thread::sleepForTimeInterval(TimeInterval seconds) {
  if (!(seconds > 0)) return;
  TimeInterval until = Clock::now() + seconds;
  while (Clock::now() < until) {
    double slice = Clock::isVirtual() ? 0.005 : until - Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(std::max(slice, 0.0)));
  }
}

void Thread::sleepUntilDate(const Date& date) {
  sleepForTimeInterval(date.timeIntervalSinceNow());
}

void Thread::start() {
  std::unique_lock lock(mutex_);
  if (started_) Exception::raise(NSInvalidArgumentException, "Thread::start: the thread was already started");
  started_ = true;
  auto self = this->self<Thread>();
  std::thread([self] { self->run(); }).detach();
  // Return once the run loop exists, so that requests can be queued on it at once.
  // A body that returns at once has dropped its run loop again by the time this thread wakes.
  cv_.wait(lock, [&] { return runLoop_ != nullptr || finished_; });
}

void Thread::run() {
  runThreadStartHooks();
  tlThread = self<Thread>();
  {
    std::lock_guard lock(mutex_);
    nativeHandle_ = static_cast<unsigned long>(pthread_self());
    systemId_ = static_cast<int>(gettid());
    if (!name_.empty()) setOsName(pthread_self(), name_);
    runLoop_ = RunLoop::currentRunLoop();
    executing_ = true;
  }
  cv_.notify_all();
  main();
  {
    std::lock_guard lock(mutex_);
    executing_ = false;
    finished_ = true;
    // Requests still queued are dropped with the run loop when the thread ends.
    runLoop_ = nullptr;
  }
  cv_.notify_all();
  // The thread-local reference to this object goes with the thread.
}

void Thread::main() {
  if (block_) block_();
}

void Thread::cancel() {
  Ref<RunLoop> loop;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    loop = runLoop_;
  }
  if (loop) loop->stop();
}

bool Thread::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool Thread::isExecuting() const {
  std::lock_guard lock(mutex_);
  return executing_;
}

bool Thread::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

std::string Thread::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void Thread::setName(const std::string& name) {
  std::lock_guard lock(mutex_);
  name_ = name;
  if (executing_ && !finished_ && nativeHandle_) setOsName(static_cast<pthread_t>(nativeHandle_), name);
}

Ref<RunLoop> Thread::runLoop() const {
  std::lock_guard lock(mutex_);
  return runLoop_;
}

bool Thread::waitUntilFinished(double timeoutSeconds) const {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return finished_; });
}

bool Thread::waitUntilEnded(double timeoutSeconds) const {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
  if (!waitUntilFinished(timeoutSeconds)) return false;
  int id = 0;
  {
    std::lock_guard lock(mutex_);
    id = systemId_;
  }
  if (id == 0) return false;
  if (id == static_cast<int>(gettid())) return true;
  // The kernel knows the thread until it has run its thread-specific destructors and exited; a
  // detached thread leaves nothing to join, so its end is asked for.
  while (::syscall(SYS_tgkill, ::getpid(), id, 0) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

void Thread::performOnThread(const Ref<Thread>& thread, PerformRequest request, bool waitUntilDone,
                             const std::vector<std::string>& modes) {
  if (!thread) return;
  auto loop = thread->runLoop();
  if (!loop || thread->isFinished()) return;  // nothing will ever run it
  if (waitUntilDone && currentThread() == thread) {
    if (request.action) request.action();
    return;
  }
  if (!waitUntilDone) {
    loop->perform(std::move(request), 0, modes);
    return;
  }
  // Signals the waiting caller when the last copy of the request goes: after it ran, or when it
  // was cancelled or dropped with its run loop.
  struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  struct SignalOnRelease {
    std::shared_ptr<Done> done;
    ~SignalOnRelease() {
      std::lock_guard lock(done->m);
      done->done = true;
      done->cv.notify_all();
    }
  };
  auto done = std::make_shared<Done>();
  // Built in place: a temporary would signal as it goes.
  std::shared_ptr<SignalOnRelease> signal(new SignalOnRelease{done});
  auto action = std::move(request.action);
  request.action = [action = std::move(action), signal] {
    if (action) action();
  };
  signal.reset();
  loop->perform(std::move(request), 0, modes);
  loop.reset();
  std::unique_lock lock(done->m);
  done->cv.wait(lock, [&] { return done->done; });
}

void Thread::performOnMainThread(PerformRequest request, bool waitUntilDone,
                                 const std::vector<std::string>& modes) {
  performOnThread(mainThread(), std::move(request), waitUntilDone, modes);
}

}  // namespace ns
