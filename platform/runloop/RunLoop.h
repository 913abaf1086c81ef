#pragma once
// Run loops: one per thread, made on first use. A pass in mode M services only the timers,
// sources, descriptor sources and perform requests registered in M (RunLoopCommonModes stands for
// every common mode: default, modal panel and event tracking).
//
//   auto loop = ns::RunLoop::currentRunLoop();
//   loop->addTimer_forMode(timer, ns::RunLoopCommonModes);
//   loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::dateWithTimeIntervalSinceNow(1));
//   loop->runUntil([&] { return done; }, 10);   // tests: pump until done, at most 10 s real time
//
// Limit dates are read through ns::Clock, so the virtual clock governs them in tests.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/runloop/Clock.h"

namespace ns {

class Timer;
class RunLoopSource;

// One descriptor of a poll participant's wait (the layout of struct pollfd).
struct PollDescriptor {
  int fd;
  short events;
  short revents;
};

// Another event loop that shares the main run loop's wait, e.g. a toolkit's main context. Each
// wait of the loop, in every mode, asks `prepare` for the descriptors to watch and the longest
// wait it allows, polls them together with the loop's own, then hands them to `dispatch` with
// their ready bits. Every prepare is followed by exactly one dispatch.
class PollParticipant {
 public:
  virtual ~PollParticipant() = default;
  // Replaces `descriptors`; answers the longest wait in seconds (0: ready now, infinity: none).
  virtual double prepare(std::vector<PollDescriptor>& descriptors) = 0;
  // Answers whether it handled anything.
  virtual bool dispatch(std::vector<PollDescriptor>& descriptors) = 0;
};

extern const std::string& DefaultRunLoopMode;
extern const std::string& EventTrackingRunLoopMode;
extern const std::string& ModalPanelRunLoopMode;
extern const std::string& RunLoopCommonModes;

// A request to run `action` on a run loop. target and argument are kept until it has run or been
// cancelled; target, selector and argument identify it for cancellation.
struct PerformRequest {
  Ref<Object> target;
  std::string selector;
  Ref<Object> argument;
  std::function<void()> action;
};

class RunLoop : public Object {
 public:
  static Ref<RunLoop> currentRunLoop();
  static Ref<RunLoop> mainRunLoop();

  // The mode of the innermost pass, or nothing when the loop is not running.
  std::optional<std::string> currentMode() const;
  // Adds a mode to the set that RunLoopCommonModes stands for.
  void addCommonMode(const std::string& mode);

  // Timers: one timer in several modes still fires once per interval. A timer belongs to one run
  // loop; it stays until it is invalidated (a one-shot timer invalidates itself after firing).
  void addTimer_forMode(const Ref<Timer>& timer, const std::string& mode);
  // Takes the timer out of one mode without invalidating it; it stays in its other modes.
  void removeTimer_forMode(const Ref<Timer>& timer, const std::string& mode);

  void addSource_forMode(const Ref<RunLoopSource>& source, const std::string& mode);
  void removeSource_forMode(const Ref<RunLoopSource>& source, const std::string& mode);

  // Descriptor sources: `callback(fd, revents)` runs on this loop's thread while the descriptor is
  // ready (level-triggered, poll(2) event bits) in a pass of one of its modes.
  using DescriptorCallback = std::function<void(int fd, short revents)>;
  using DescriptorId = unsigned long;
  DescriptorId addDescriptor(int fd, short events, DescriptorCallback callback,
                             const std::vector<std::string>& modes = {DefaultRunLoopMode});
  void setDescriptorEvents(DescriptorId id, short events);
  void addDescriptorMode(DescriptorId id, const std::string& mode);
  void removeDescriptorMode(DescriptorId id, const std::string& mode);
  // Removes the source from every mode; its callback never runs afterwards (also safe to call
  // from inside the callback).
  void removeDescriptor(DescriptorId id);

  // The one poll participant (nullptr removes it). It joins the waits of every mode and counts
  // as an input, so a pass with nothing else registered still waits for it.
  void setPollParticipant(std::shared_ptr<PollParticipant> participant);
  std::shared_ptr<PollParticipant> pollParticipant() const;

  // Perform requests run on a later pass, never inside the call that queued them. Thread-safe:
  // any thread may queue onto any run loop.
  void perform(PerformRequest request, TimeInterval delay = 0,
               const std::vector<std::string>& modes = {DefaultRunLoopMode}, unsigned order = 0);
  void performInModes_block(const std::vector<std::string>& modes, std::function<void()> block);
  void performBlock(std::function<void()> block);
  // Cancel pending requests; argument equality follows Object::isEqual (two nulls are equal).
  std::size_t cancelPerformSelectorsWithTarget(const Object* target);
  std::size_t cancelPerformSelector_target_argument(const std::string& selector, const Object* target,
                                                    const Object* argument);

  // The object-level forms, on the calling thread's run loop: `target` receives `selector` with
  // `argument` by running `action` after `delay` seconds in `modes`.
  static void performSelector_withObject_afterDelay_inModes(const Ref<Object>& target,
                                                            const std::string& selector,
                                                            const Ref<Object>& argument, TimeInterval delay,
                                                            const std::vector<std::string>& modes,
                                                            std::function<void()> action);
  static void cancelPreviousPerformRequestsWithTarget(const Object* target);
  static void cancelPreviousPerformRequestsWithTarget_selector_object(const Object* target,
                                                                      const std::string& selector,
                                                                      const Object* argument);

  // Running belongs to the loop's own thread: Debug builds abort a run from another thread at
  // once, release builds raise NSInternalInconsistencyException.
  //
  // One pass: returns after a source or perform request was handled, after stop(), or once
  // limitDate has passed; answers false at once when nothing is registered in the mode.
  bool runMode_beforeDate(const std::string& mode, const Date& limitDate);
  void runUntilDate(const Date& limitDate);
  // One pass that never waits: fires the due timers, runs the queued perform requests and the
  // ready sources of `mode`; answers whether anything ran.
  bool runPendingInMode(const std::string& mode);
  void run();
  // Ends the innermost pass; callable from any thread.
  void stop();
  void wakeUp();

  // Pumps passes of `mode` until `predicate` holds or `timeoutSeconds` of real time pass; answers
  // whether the predicate holds. For tests and modal waits.
  bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10,
                const std::string& mode = DefaultRunLoopMode);

  bool isMainRunLoop() const;

  RunLoop();
  ~RunLoop() override;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace ns
