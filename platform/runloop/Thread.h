#pragma once
// Threads with names the OS shows (the first 15 bytes), each with its own run loop.
//
//   auto t = ns::make<ns::Thread>([] { ns::RunLoop::currentRunLoop()->run(); });
//   t->setName("PelorinStreams");
//   t->start();                                   // returns once the thread's run loop exists
//   ns::Thread::performOnThread(t, {obj, "poll", nullptr, [obj] { obj->poll(); }}, false);
//
// Threads are detached, as the platform's are: a started thread keeps its Thread object alive
// until its body returns. waitUntilFinished() lets a caller wait for that end.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/runloop/RunLoop.h"

namespace ns {

class Thread : public Object {
 public:
  Thread();
  explicit Thread(std::function<void()> block);
  ~Thread() override;

  static Ref<Thread> currentThread();
  static Ref<Thread> mainThread();
  static bool isMainThread();
  static void detachNewThreadWithBlock(std::function<void()> block);
  // A started thread whose body runs its run loop in the default mode until cancel().
  static Ref<Thread> detachNewThreadWithRunLoop(const std::string& name);
  // Read the Clock: on the virtual clock they return once it has been advanced far enough.
  static void sleepForTimeInterval(TimeInterval seconds);
  static void sleepUntilDate(const Date& date);

  // Runs main() on a new thread; misuse (starting twice) raises.
  void start();
  // The thread body; by default runs the block given at creation.
  virtual void main();
  // Marks the thread and wakes its run loop; its body checks isCancelled() and returns.
  void cancel();
  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;
  bool isMain() const { return isMain_; }
  std::string name() const;
  // Also renames the OS thread when it is running.
  void setName(const std::string& name);
  // The thread's run loop (made when the thread starts), or null before start.
  Ref<RunLoop> runLoop() const;
  // Waits until the body has returned or `timeoutSeconds` of real time passed.
  bool waitUntilFinished(double timeoutSeconds) const;
  // Waits, as long, until the system thread itself has ended: its thread-specific data (the
  // libraries' own, too) is released only after the body returns. False for a thread adopted
  // rather than started here.
  bool waitUntilEnded(double timeoutSeconds) const;

  // performSelector:onThread:withObject:waitUntilDone:modes: — queues the request on the thread's
  // run loop from any thread (waking it); with waitUntilDone, returns after it ran, and runs it at
  // once when the caller is that thread.
  static void performOnThread(const Ref<Thread>& thread, PerformRequest request, bool waitUntilDone,
                              const std::vector<std::string>& modes = {DefaultRunLoopMode});
  static void performOnMainThread(PerformRequest request, bool waitUntilDone,
                                  const std::vector<std::string>& modes = {DefaultRunLoopMode});

 private:
  struct Adopted {};
  Thread(Adopted, bool isMain);
  void run();

  std::function<void()> block_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::string name_;
  bool started_ = false;
  bool executing_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
  bool isMain_ = false;
  unsigned long nativeHandle_ = 0;
  int systemId_ = 0;  // the kernel's thread id, once a started thread runs
  Ref<RunLoop> runLoop_;
};

}  // namespace ns
