#pragma once
// Dispatch queues: serial and concurrent queues with labels, the global concurrent queues by
// priority, and the main queue, which drains on the main run loop in the common modes.
// See platform/dispatch/Dispatch.h for the overview.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Object.h"
#include "platform/dispatch/Time.h"

namespace dispatch {

using Block = std::function<void()>;

enum class QueueAttr { Serial, Concurrent };
enum class Priority { High, Default, Low, Background };

// Label of the main queue; log formatters map it to "main".
extern const char* const kMainQueueLabel;
// Labels of the global queues (each priority, and the overcommit forms log formatters know).
std::vector<std::string> globalQueueLabels();
bool isGlobalQueueLabel(std::string_view label);

class Queue : public ns::Object {
 public:
  enum class Kind { Root, Main, Serial, Concurrent };
  Queue(Kind kind, std::string label);
  ~Queue() override;

  const std::string& label() const;
  Kind kind() const;
  bool isSerial() const { return kind() == Kind::Serial || kind() == Kind::Main; }
  std::string description() const override;

  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

ns::Ref<Queue> queueCreate(const std::string& label, QueueAttr attr = QueueAttr::Serial);
ns::Ref<Queue> mainQueue();
ns::Ref<Queue> globalQueue(Priority priority = Priority::Default);

// Runs `block` later on the queue; the queue stays alive until it has run.
void async(const ns::Ref<Queue>& queue, Block block);
// Runs `block` on the caller's thread as a block of the queue: after everything queued before it
// and exclusive with the queue's other blocks (main-queue blocks run on the main thread). A sync
// onto a serial queue the caller is running on would deadlock and aborts the program instead.
void sync(const ns::Ref<Queue>& queue, const Block& block);
// On a concurrent queue, a barrier runs alone, after what was queued before it and before what
// is queued after it; on other queues it is a plain async/sync.
void barrierAsync(const ns::Ref<Queue>& queue, Block block);
void barrierSync(const ns::Ref<Queue>& queue, const Block& block);
void after(double seconds, const ns::Ref<Queue>& queue, Block block);
void afterTime(Time when, const ns::Ref<Queue>& queue, Block block);
// Calls block(0) ... block(iterations - 1), concurrently on a concurrent queue, and returns when
// all have run.
void apply(std::size_t iterations, const ns::Ref<Queue>& queue,
           const std::function<void(std::size_t)>& block);

// A serial queue drains as a work item of its target; null restores the default-priority global
// queue. The main and global queues keep their targets.
void setTargetQueue(const ns::Ref<Queue>& queue, const ns::Ref<Queue>& target);
ns::Ref<Queue> targetQueue(const ns::Ref<Queue>& queue);
void suspend(const ns::Ref<Queue>& queue);
void resume(const ns::Ref<Queue>& queue);

// Queue-specific data. getSpecific looks at the innermost queue the caller runs on and that
// queue's target chain only; on a thread that runs no queue it answers null (the main thread
// counts as running the main queue).
void setSpecific(const ns::Ref<Queue>& queue, const void* key, void* value,
                 void (*destructor)(void*) = nullptr);
void* queueGetSpecific(const ns::Ref<Queue>& queue, const void* key);
void* getSpecific(const void* key);

// Queue ownership. isCurrentQueue answers whether the caller runs as a block of `queue`: on it,
// on a queue that targets it, or inside a synchronous call made from such a block (the main
// thread counts as running the main queue). assertQueue aborts the program, naming the queue and
// the caller's queue, when it does not.
bool isCurrentQueue(const ns::Ref<Queue>& queue);
void assertQueue(const ns::Ref<Queue>& queue);
// Aborts the program: `owner`'s state was touched off the queue that owns it.
[[noreturn]] void queueOwnershipViolated(std::string_view owner, std::string_view expectedLabel);

// Objects whose state belongs to one queue check, at the entry of each method that touches that
// state, that they run there: in Debug builds only, so that a test catches a call from the wrong
// queue at once instead of a race.
#ifdef NDEBUG
#define DISPATCH_DEBUG_ASSERT_QUEUE(queue) ((void)0)
#define DISPATCH_DEBUG_ASSERT_OWNER(onItsQueue, owner, expectedLabel) ((void)0)
#else
#define DISPATCH_DEBUG_ASSERT_QUEUE(queue) ::dispatch::assertQueue(queue)
#define DISPATCH_DEBUG_ASSERT_OWNER(onItsQueue, owner, expectedLabel) \
  ((onItsQueue) ? (void)0 : ::dispatch::queueOwnershipViolated(owner, expectedLabel))
#endif

// The innermost queue the caller runs on (the main queue on the main thread), or null.
ns::Ref<Queue> currentQueue();
// Its label, "" when there is none. Reads only a thread-local pointer, so a signal handler may
// call it.
const char* currentQueueLabel();

}  // namespace dispatch
