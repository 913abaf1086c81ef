#include "lib/logging/LogHub.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <type_traits>
#include <utility>

#include "lib/logging/LoggerNode.h"
#include "lib/logging/RecyclingPool.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Dispatch.h"

namespace {

// Queue-specific keys: their addresses mark the logging queue and the loggers' queues.
char loggingQueueKey;
char loggerQueueKey;

constexpr std::uint64_t kMaxRecordsInFlight = 1000;
// The ticket of an entry kept in its mailbox before its ticket is drawn: never delivered.
constexpr std::uint64_t kNotDrawn = ~std::uint64_t{0};
// Places for entries taken and not yet taken: more than the records that may wait, so that only
// entries that never wait (from the hub's own queues, and steps) can find it full.
constexpr std::uint64_t kRingSize = 4096;
static_assert((kRingSize & (kRingSize - 1)) == 0 && kRingSize > kMaxRecordsInFlight);
constexpr std::size_t kLine = 64;
// How many tickets ahead the logging queue fetches entries.
constexpr std::uint64_t kPrefetchDistance = 6;
// Entries taken by the logging queue before it delivers them.
constexpr std::size_t kMaxBatch = 1024;
// Batches delivered by one turn of the logging queue before it lets other blocks run.
constexpr int kBatchesPerTurn = 64;
// How often in a row a turn yields to the caller of a drawn ticket whose entry is not in place,
// and how long it then waits before it looks again.
constexpr int kGapYields = 16;
constexpr long kGapPauseNs = 1'000'000;
// How long a turn that ran out of entries waits for the next before it ends, in slices: records
// logged meanwhile wait for the slice's end, unless many gather (kWakeWatermark), not for a caller
// to wake this queue, which costs that caller a system call and this queue a processor it must be
// given again.
// The turn sleeps at once, without polling first: on processors shared with other work, a turn
// that polled (pausing or yielding) spent the share that lets it run as soon as it is woken, and
// the hub carried a fifth as many records.
constexpr long kLingerSliceNs = 50'000;
constexpr int kLingerSlices = 10;
// Once this many records are in flight, the caller that logs one more wakes a lingering turn: left
// to its slice's end, the turn would often wake to callers already waiting for room, each then
// giving up its processor, and the hub would carry a quarter fewer records.
constexpr std::uint64_t kWakeWatermark = 384;
// How often a caller waiting for room yields its processor before it sleeps.
constexpr int kRoomYields = 12;

// A caller waiting for its record or step. The signal is given under the lock, so the waiter,
// which lives on its caller's stack, cannot go before the signal is complete.
class Waiter {
 public:
  void signal() {
    std::lock_guard lock(mutex_);
    done_ = true;
    cv_.notify_one();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

struct Mailbox;

// One entry of the hub's queue: a record, or a step (a registration, a flush, a logger's setting)
// that runs on the logging queue between two records.
struct Entry {
  // Links the entries a mailbox keeps.
  Entry* next = nullptr;
  ns::Ref<LogMessage> record;
  std::function<void()> step;
  // Told once the record was delivered or the step ran.
  Waiter* waiter = nullptr;
  // The record's flag, so that the logging queue picks its loggers without reading the record.
  std::uint64_t flag = 0;
  // The mailbox that keeps the entry until its caller's thread frees it; null when the logging
  // queue frees it (see Mailbox).
  Mailbox* owner = nullptr;
  // Written by its caller once drawn; read by its caller and by a sweep of its mailbox, which sees
  // kNotDrawn until then.
  std::atomic<std::uint64_t> ticket{0};

  // From a pool (see RecyclingPool.h).
  static void* operator new(std::size_t size);
  static void operator delete(void* p);
};

using EntryNode = logpool::RawNode<sizeof(Entry), alignof(Entry)>;
void* Entry::operator new(std::size_t) {
  return logpool::Pool<EntryNode>::take();
}
void Entry::operator delete(void* p) {
  logpool::Pool<EntryNode>::give(static_cast<EntryNode*>(p));
}

// A record's text: the string objects are recycled with their buffers, so that a text of the usual
// length costs no allocation once the pool has warmed up.
struct TextNode {
  std::string text;
  TextNode* poolNext = nullptr;
};
static_assert(std::is_standard_layout_v<TextNode>, "the text is found from its node's address");

// Longer buffers are not kept: a rare long record would pin its memory for the process's life.
constexpr std::size_t kMaxKeptTextCapacity = 1024;

struct TextRecycler {
  void operator()(const std::string* text) const {
    auto* node = reinterpret_cast<TextNode*>(const_cast<std::string*>(text));
    if (node->text.capacity() > kMaxKeptTextCapacity) std::string().swap(node->text);
    logpool::Pool<TextNode>::give(node);
  }
};

LogText pooledText(std::string_view message) {
  TextNode* node = logpool::Pool<TextNode>::take();
  node->text.assign(message);
  return LogText(&node->text, TextRecycler{}, logpool::Allocator<char>{});
}

// The entries of a thread's records are freed by that thread: it keeps them, in ticket order, in
// its mailbox and frees those delivered at its next log call. Freed on the logging queue, every
// record would drag its lines, its shared strings' counts and its pool nodes from its caller's
// processor to the queue's and back, and the one logging queue, which every record passes, would
// spend most of its time on that; here the logging queue only reads an entry and tells, by the
// count of completed tickets, that it is done with it. Only records the hub made without a tag
// are kept so: their destruction runs nothing of a caller's. A mailbox outlives its thread and is
// taken over by a later one; what a thread that ended or stopped logging leaves in its mailbox,
// the logging queue frees (lt_sweepMailboxes).
struct Mailbox {
  // Taken by the owner at each log call and by the logging queue's sweep, which never waits.
  std::mutex mutex;
  Entry* oldest = nullptr;  // linked through `next`, tickets rising
  Entry* newest = nullptr;
  std::atomic<bool> owned{true};
  // Set when the owner logs; cleared by the sweep.
  std::atomic<bool> active{true};
  Mailbox* nextMailbox = nullptr;  // in the hub's list; never removed
};

void freeEntries(Entry* entry) {
  while (entry) delete std::exchange(entry, entry->next);
}

// Unlinks the entries whose tickets are below `completed` (the caller holds the mutex).
Entry* detachDelivered(Mailbox& box, std::uint64_t completed) {
  Entry* first = box.oldest;
  Entry* last = nullptr;
  for (Entry* entry = first; entry && entry->ticket.load(std::memory_order_relaxed) < completed;
       entry = entry->next)
    last = entry;
  if (!last) return nullptr;
  box.oldest = last->next;
  if (!box.oldest) box.newest = nullptr;
  last->next = nullptr;
  return first;
}

// Every mailbox ever made, newest first; their number is the most threads that logged at once.
std::atomic<Mailbox*> mailboxes{nullptr};

struct MailboxHolder {
  Mailbox* box = nullptr;
  ~MailboxHolder() {
    holderGone = true;
    // What is left is freed by the logging queue, once delivered.
    if (box) box->owned.store(false, std::memory_order_release);
  }
  // Trivially destructible, so still readable by a record made after the thread's thread-local
  // objects were destroyed; such records are freed by the logging queue.
  static thread_local bool holderGone;
};

thread_local bool MailboxHolder::holderGone = false;

// The calling thread's mailbox: one a finished thread left, or a new one.
Mailbox* threadMailbox() {
  if (MailboxHolder::holderGone) return nullptr;
  thread_local MailboxHolder holder;
  if (holder.box) return holder.box;
  for (Mailbox* box = mailboxes.load(std::memory_order_acquire); box; box = box->nextMailbox) {
    bool expected = false;
    if (!box->owned.load(std::memory_order_relaxed) &&
        box->owned.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
      holder.box = box;
      return box;
    }
  }
  auto* box = new Mailbox;
  box->nextMailbox = mailboxes.load(std::memory_order_relaxed);
  while (!mailboxes.compare_exchange_weak(box->nextMailbox, box, std::memory_order_release,
                                          std::memory_order_relaxed)) {
  }
  holder.box = box;
  return box;
}

struct Hub {
  Hub();

  ns::Ref<dispatch::Queue> loggingQueue;
  ns::Ref<dispatch::Group> group;
  // Every entry draws a ticket, and tickets are the order of delivery: a caller's one atomic
  // step on shared memory. The entry with ticket t is put at place(t) in `ring` (or, when that
  // place is still taken, in `overflow`), and the logging queue takes them in ticket order,
  // records in batches. Reading an array, it can fetch many entries at once; a linked list
  // would make it wait for each in turn.
  // Fields written at different rates by different sides sit on lines of their own, so that a
  // write by one does not take the line from under the others.
  alignas(kLine) std::atomic<std::uint64_t> nextTicket{0};
  alignas(kLine) std::atomic<Entry*>* ring;  // kRingSize places from a line's start; never freed
  std::atomic<int> overflowCount{0};
  // Tickets below it were taken from the ring (their places are free again).
  alignas(kLine) std::atomic<std::uint64_t> takenShown{0};
  // Tickets below it were delivered or ran; a caller waits while 1000 tickets before its own are
  // above it (records, and the rare step).
  std::atomic<std::uint64_t> completed{0};
  // Set by a caller about to wait for room; cleared by the logging queue as it wakes them all.
  alignas(kLine) std::atomic<bool> wakeWanted{false};
  // Moved on by the logging queue each time it wakes the callers waiting for room; a futex word
  // they sleep on. The standard library's wait on the 64-bit `completed` lost a wake now and
  // then, and its caller slept for good beside an idle hub.
  std::atomic<std::uint32_t> roomSignal{0};
  // True while a turn of the logging queue is queued or running.
  alignas(kLine) std::atomic<bool> drainScheduled{false};
  // 1 while a turn waits for the next entry (see kLingerSlices) or for a drawn ticket's entry
  // (lt_pauseForGap); a futex word.
  alignas(kLine) std::atomic<std::uint32_t> lingering{0};
  std::mutex overflowMutex;
  std::map<std::uint64_t, Entry*> overflow;
  // Touched only on the logging queue.
  alignas(kLine) std::uint64_t taken = 0;
  unsigned processorCount = 1;
  std::vector<ns::Ref<LoggerNode>> loggers;
  // The records being delivered, in order, still in their entries.
  std::vector<Entry*> batch;
  std::vector<Waiter*> batchWaiters;

  // The place of a ticket. Consecutive tickets share cache lines: the logging queue, which every
  // entry passes, reads a line for eight of them.
  std::atomic<Entry*>& place(std::uint64_t ticket) { return ring[ticket & (kRingSize - 1)]; }
};

void flushAtExit() {
  LogHub::applicationWillTerminate();
}

Hub::Hub()
    : ring(static_cast<std::atomic<Entry*>*>(
          ::operator new(kRingSize * sizeof(std::atomic<Entry*>), std::align_val_t(kLine)))) {
  for (std::uint64_t i = 0; i < kRingSize; ++i) new (&ring[i]) std::atomic<Entry*>(nullptr);
  loggers.reserve(4);
  loggingQueue = dispatch::queueCreate("logging.hub", dispatch::QueueAttr::Serial);
  dispatch::setSpecific(loggingQueue, &loggingQueueKey, &loggingQueueKey);
  group = dispatch::groupCreate();
  processorCount = std::max(1u, std::thread::hardware_concurrency());
  // The dispatch layer is already running (the queue above exists), so an exit handler
  // registered now runs before it shuts down and the flush can still use the queues.
  std::atexit(flushAtExit);
}

// Records queued by other threads during exit still find the hub: never destroyed.
Hub& hub() {
  static ns::NoDestructor<Hub> instance;
  return *instance;
}

void markLoggerQueue(const ns::Ref<dispatch::Queue>& queue, bool mark) {
  dispatch::setSpecific(queue, &loggerQueueKey, mark ? &loggerQueueKey : nullptr);
}

bool mayWaitForHub() {
  return !LogHub::isOnLoggingQueue() && !LogHub::isOnLoggerQueue();
}

// The hub's own state belongs to the logging queue (debug builds check it).
#define ASSERT_ON_LOGGING_QUEUE() \
  assert(LogHub::isOnLoggingQueue() && "hub state touched off the logging queue")

// --- on the logging queue --------------------------------------------------------------------

void lt_addLogger(const ns::Ref<Logger>& logger, std::uint64_t level) {
  ASSERT_ON_LOGGING_QUEUE();
  ns::Ref<dispatch::Queue> queue = logger->loggerQueue();
  if (!queue) {
    std::optional<std::string> name = logger->loggerName();
    queue = dispatch::queueCreate(name ? *name : std::string(), dispatch::QueueAttr::Serial);
  }
  markLoggerQueue(queue, true);
  hub().loggers.push_back(LoggerNode::nodeWithLogger_loggerQueue_level(logger, queue, level));
  dispatch::async(queue, [logger] { logger->didAddLogger(); });
}

void unmarkIfUnused(const ns::Ref<dispatch::Queue>& queue) {
  ASSERT_ON_LOGGING_QUEUE();
  for (const auto& node : hub().loggers) {
    if (node->loggerQueue() == queue) return;
  }
  markLoggerQueue(queue, false);
}

void lt_removeLogger(const ns::Ref<Logger>& logger) {
  ASSERT_ON_LOGGING_QUEUE();
  auto& loggers = hub().loggers;
  for (auto it = loggers.begin(); it != loggers.end(); ++it) {
    if ((*it)->logger() != logger) continue;
    ns::Ref<LoggerNode> node = *it;
    dispatch::async(node->loggerQueue(), [logger] { logger->willRemoveLogger(); });
    loggers.erase(it);
    unmarkIfUnused(node->loggerQueue());
    return;
  }
}

void lt_removeAllLoggers() {
  ASSERT_ON_LOGGING_QUEUE();
  auto loggers = std::move(hub().loggers);
  hub().loggers.clear();
  for (const auto& node : loggers) {
    ns::Ref<Logger> logger = node->logger();
    dispatch::async(node->loggerQueue(), [logger] { logger->willRemoveLogger(); });
  }
  for (const auto& node : loggers) unmarkIfUnused(node->loggerQueue());
}

std::vector<ns::Ref<Logger>> lt_allLoggers() {
  ASSERT_ON_LOGGING_QUEUE();
  std::vector<ns::Ref<Logger>> result;
  result.reserve(hub().loggers.size());
  for (const auto& node : hub().loggers) result.push_back(node->logger());
  return result;
}

bool anyRecordFor(const LoggerNode& node, const std::vector<Entry*>& batch) {
  for (const Entry* entry : batch)
    if ((entry->flag & node.level()) != 0) return true;
  return false;
}

// Hands the logger every record of the batch that its level takes, in order, on its queue.
void deliverOnLoggerQueue(const LoggerNode& node, const std::vector<Entry*>& batch) {
  const ns::Ref<Logger>& logger = node.logger();
  const std::uint64_t level = node.level();
  for (const Entry* entry : batch)
    if ((entry->flag & level) != 0) logger->logMessage(entry->record);
}

// Frees the delivered entries that no mailbox keeps; the others are their callers' to free, once
// the tickets are completed: not to be touched any more.
void lt_releaseEntries(std::vector<Entry*>& batch) {
  ASSERT_ON_LOGGING_QUEUE();
  for (Entry* entry : batch)
    if (!entry->owner) delete entry;
  batch.clear();
}

// Frees the delivered entries in the mailboxes of threads that ended or did not log since the
// sweep before. Answers whether some mailbox may still hold entries.
bool lt_sweepMailboxes() {
  ASSERT_ON_LOGGING_QUEUE();
  const std::uint64_t completed = hub().completed.load(std::memory_order_relaxed);
  bool left = false;
  for (Mailbox* box = mailboxes.load(std::memory_order_acquire); box; box = box->nextMailbox) {
    if (box->owned.load(std::memory_order_acquire) &&
        box->active.exchange(false, std::memory_order_relaxed)) {
      left = true;
      continue;
    }
    std::unique_lock lock(box->mutex, std::try_to_lock);
    if (!lock) {
      left = true;
      continue;
    }
    Entry* delivered = detachDelivered(*box, completed);
    left = left || box->oldest != nullptr;
    lock.unlock();
    freeEntries(delivered);
  }
  return left;
}

// Sweeps at most this often: a sweep also takes the entries of a thread that was merely slow to
// log again, which then cost the logging queue their freeing.
constexpr std::int64_t kSweepInterval = 20'000'000;  // ns
// Once the hub is idle, sweeps follow one another this far apart until no mailbox holds
// anything: what a thread that stopped logging left is freed by the second, so no record outlives
// its delivery for long, while a thread that goes on logging keeps freeing its own.
constexpr double kIdleSweepDelay = 0.05;  // s

std::int64_t monotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void lt_sweepNowAndThen() {
  ASSERT_ON_LOGGING_QUEUE();
  static std::int64_t lastSweep = 0;
  const std::int64_t now = monotonicNanoseconds();
  if (now - lastSweep < kSweepInterval) return;
  lastSweep = now;
  lt_sweepMailboxes();
}

bool idleSweepQueued = false;  // touched on the logging queue only

void lt_sweepWhenIdle() {
  ASSERT_ON_LOGGING_QUEUE();
  if (idleSweepQueued) return;
  idleSweepQueued = true;
  dispatch::after(kIdleSweepDelay, hub().loggingQueue, [] {
    idleSweepQueued = false;
    if (lt_sweepMailboxes()) lt_sweepWhenIdle();
  });
}

std::uint32_t* futexWord(std::atomic<std::uint32_t>& word) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  return reinterpret_cast<std::uint32_t*>(&word);
}

// Sleeps while `word` holds `expected`, until woken or, with a duration, until it has passed.
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, long timeoutNs = -1) {
  timespec timeout{0, timeoutNs};
  ::syscall(SYS_futex, futexWord(word), FUTEX_WAIT_PRIVATE, expected, timeoutNs < 0 ? nullptr : &timeout,
            nullptr, 0);
}

void futexWake(std::atomic<std::uint32_t>& word, int count) {
  ::syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

// Everything taken so far was delivered or ran: callers waiting for room may go on.
void lt_complete() {
  Hub& h = hub();
  h.completed.store(h.taken);
  // One wake per episode of waiting: a caller woken before still counted as waiting until it
  // ran, and every batch until then paid a system call to wake it again.
  if (h.wakeWanted.load() && h.wakeWanted.exchange(false)) {
    h.roomSignal.fetch_add(1);
    futexWake(h.roomSignal, INT32_MAX);
  }
}

// Delivers the batch to every logger and waits until each has processed it, then frees the
// records' slots and releases the callers that wait for one of them.
void lt_deliverBatch() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  if (h.batch.empty()) return;
  const auto& batch = h.batch;
  std::vector<const LoggerNode*> receivers;
  receivers.reserve(h.loggers.size());
  for (const auto& node : h.loggers)
    if (anyRecordFor(*node, batch)) receivers.push_back(node.get());

  if (h.processorCount == 1 || receivers.size() == 1) {
    // One after the other: with one processor this costs no more than in parallel, and with
    // one receiver a synchronous hand-over needs no group (an idle queue runs it right here).
    for (const LoggerNode* node : receivers)
      dispatch::sync(node->loggerQueue(), [node, &batch] { deliverOnLoggerQueue(*node, batch); });
  } else if (!receivers.empty()) {
    for (const LoggerNode* node : receivers)
      dispatch::groupAsync(h.group, node->loggerQueue(),
                           [node, &batch] { deliverOnLoggerQueue(*node, batch); });
    dispatch::groupWait(h.group, dispatch::TimeForever);
  }

  lt_releaseEntries(h.batch);
  lt_complete();
  for (Waiter* waiter : h.batchWaiters) waiter->signal();
  h.batchWaiters.clear();
}

// The entry with the next ticket, taken out of its place; null when it is not there (yet).
Entry* lt_takeNext() {
  Hub& h = hub();
  std::atomic<Entry*>& place = h.place(h.taken);
  if (Entry* entry = place.load(std::memory_order_acquire)) {
    place.store(nullptr, std::memory_order_relaxed);
    return entry;
  }
  if (h.overflowCount.load() == 0) return nullptr;
  std::lock_guard lock(h.overflowMutex);
  auto it = h.overflow.find(h.taken);
  if (it == h.overflow.end()) return nullptr;
  Entry* entry = it->second;
  h.overflow.erase(it);
  h.overflowCount.fetch_sub(1);
  return entry;
}

bool lt_nextIsThere() {
  Hub& h = hub();
  if (h.place(h.taken).load() != nullptr) return true;
  if (h.overflowCount.load() == 0) return false;
  std::lock_guard lock(h.overflowMutex);
  return h.overflow.count(h.taken) != 0;
}

// Takes entries in ticket order up to the first one missing: records gather into a batch, a step
// first delivers the batch before it. Answers how many entries it took.
std::size_t lt_takeBatch() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  std::size_t count = 0;
  while (h.batch.size() < kMaxBatch) {
    Entry* entry = lt_takeNext();
    if (!entry) break;
    ++count;
    // Entries a few tickets on are fetched while this one is handled: each was written on another
    // processor, and reading them one after the other would wait for each in turn.
    if (Entry* ahead = h.place(h.taken + kPrefetchDistance).load(std::memory_order_relaxed))
      __builtin_prefetch(ahead);
    if (entry->record) {
      h.batch.push_back(entry);
      if (entry->waiter) h.batchWaiters.push_back(entry->waiter);
      ++h.taken;
      continue;
    }
    std::unique_ptr<Entry> step(entry);
    lt_deliverBatch();
    ++h.taken;
    h.takenShown.store(h.taken, std::memory_order_release);
    if (step->step) step->step();
    if (step->waiter) step->waiter->signal();
    lt_complete();
  }
  h.takenShown.store(h.taken, std::memory_order_release);
  lt_deliverBatch();
  return count;
}

// Sleeps up to `ns` unless `ready()` holds, woken early by wakeLingeringTurn().
template <class Ready>
void lt_sleepUnless(Ready ready, long ns) {
  Hub& h = hub();
  // Shown before the look, so that a caller that posts after the look sees it (see post).
  h.lingering.store(1);
  if (!ready()) futexWait(h.lingering, 1, ns);
  h.lingering.store(0);
}

// Waits slice by slice for a caller to draw the next ticket; answers whether one did.
bool lt_lingerForNext() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  const auto drawn = [&h] { return h.nextTicket.load() != h.taken; };
  for (int slice = 0; slice < kLingerSlices; ++slice) {
    lt_sleepUnless(drawn, kLingerSliceNs);
    if (drawn()) return true;
  }
  return false;
}

// Waits up to kGapPauseNs for the entry of a drawn ticket whose caller lost its processor before
// it put the entry in place; a caller waiting for its entry ends the wait as it puts it there. The
// wait is in real time, not on a dispatch timer: that one follows the clock a test may hold still
// while it waits for a flush, and the turn would never come back.
void lt_pauseForGap() {
  ASSERT_ON_LOGGING_QUEUE();
  lt_sleepUnless(lt_nextIsThere, kGapPauseNs);
}

// Ends a lingering turn's wait at once, for an entry somebody waits for.
void wakeLingeringTurn() {
  Hub& h = hub();
  if (h.lingering.load() != 0 && h.lingering.exchange(0) != 0) futexWake(h.lingering, 1);
}

// One turn of the logging queue: takes entries until none comes.
void lt_drain() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  int gapYields = 0;
  for (int turn = 0; turn < kBatchesPerTurn; ++turn) {
    if (lt_takeBatch() != 0) {
      gapYields = 0;
      continue;
    }
    // Nothing in place: the next ticket is drawn and its entry on the way, or it is not drawn
    // yet and the turn waits a little for it. Neither polls the next place: each read would take
    // that line from the processor of the caller about to write it.
    if (lt_nextIsThere()) continue;
    if (h.nextTicket.load() != h.taken) {
      // A ticket is drawn and its entry is a few instructions away, unless its caller lost its
      // processor: let it have one. A caller stopped there for longer is waited for a little.
      if (++gapYields > kGapYields) {
        lt_pauseForGap();
        gapYields = 0;
      } else {
        std::this_thread::yield();
      }
      continue;
    }
    if (lt_lingerForNext()) continue;
    lt_sweepNowAndThen();
    lt_sweepWhenIdle();
    h.drainScheduled.store(false);
    // A caller that drew its ticket before the flag fell may have seen it still set and will not
    // wake us: its entry is awaited here. One that draws later sees the flag down.
    if (h.nextTicket.load() == h.taken || h.drainScheduled.exchange(true)) return;
  }
  lt_sweepNowAndThen();
  // Still busy: queue another turn so that other blocks of the logging queue get theirs.
  dispatch::async(h.loggingQueue, [] { lt_drain(); });
}

void lt_flush() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  for (const auto& node : h.loggers) {
    if (!node->logger()->canFlush()) continue;
    ns::Ref<Logger> logger = node->logger();
    dispatch::groupAsync(h.group, node->loggerQueue(), [logger] { logger->flush(); });
  }
  dispatch::groupWait(h.group, dispatch::TimeForever);
}

// --- callers' side ---------------------------------------------------------------------------

// Draws the next ticket. A bounded caller first waits while 1000 drawn tickets are not
// completed: this is where a caller blocks when 1000 records are in flight. It waits before it
// draws, so that a drawn ticket's entry is always put in place at once and never holds up the
// ones after it. A record logged from the logging queue or a logger's queue never waits: what
// it would wait for is the delivery that caller is part of. Where the caller runs is asked only
// when it would wait: on a thread outside any queue the answer costs system calls, several times
// the rest of a record.
std::uint64_t drawTicket(bool bounded) {
  Hub& h = hub();
  if (!bounded) return h.nextTicket.fetch_add(1);
  std::uint64_t ticket = h.nextTicket.load(std::memory_order_relaxed);
  for (;;) {
    // Read after the ticket, so never older than it.
    const std::uint64_t done = h.completed.load(std::memory_order_acquire);
    if (ticket < done + kMaxRecordsInFlight) {
      if (h.nextTicket.compare_exchange_weak(ticket, ticket + 1)) return ticket;
      continue;
    }
    if (!mayWaitForHub()) return h.nextTicket.fetch_add(1);
    // The signal is read first and the wake asked for before the second look, so that a
    // completion after the look finds the request and moves the signal on: the sleep then ends,
    // or does not begin.
    const std::uint32_t signal = h.roomSignal.load();
    h.wakeWanted.store(true);
    wakeLingeringTurn();
    // The room usually comes within a few turns of the processor: a caller that slept would have
    // to be woken and given one again.
    for (int i = 0; i < kRoomYields && h.nextTicket.load() >= h.completed.load() + kMaxRecordsInFlight; ++i)
      std::this_thread::yield();
    if (h.nextTicket.load() >= h.completed.load() + kMaxRecordsInFlight) futexWait(h.roomSignal, signal);
    ticket = h.nextTicket.load(std::memory_order_relaxed);
  }
}

// Puts the entry in place under a drawn ticket (see Hub) and wakes the logging queue when idle.
void post(Entry* entry, bool bounded) {
  Hub& h = hub();
  // Read before the entry is in place: one that no mailbox keeps may be freed by the logging queue
  // from then on.
  Mailbox* const box = entry->owner;
  // A caller waits for it, or it is a step: the logging queue should not linger over it.
  const bool prompt = entry->waiter != nullptr || !entry->record;
  if (box) {
    // Kept, and what was delivered before freed, before the ticket is drawn: the entry's store
    // into its place takes that line from the logging queue's processor, and an atomic step
    // right after it (the mailbox's lock, a record's count) would wait for the line to come.
    // This thread draws its tickets one after the other, so the mailbox holds them in order.
    entry->ticket.store(kNotDrawn, std::memory_order_relaxed);
    Entry* delivered = nullptr;
    {
      std::lock_guard lock(box->mutex);
      if (box->newest) {
        box->newest->next = entry;
      } else {
        box->oldest = entry;
      }
      box->newest = entry;
      delivered = detachDelivered(*box, h.completed.load(std::memory_order_acquire));
    }
    freeEntries(delivered);
  }
  const std::uint64_t ticket = drawTicket(bounded);
  entry->ticket.store(ticket, std::memory_order_relaxed);
  // Put in place right after the draw: the logging queue waits for a drawn ticket's entry, and
  // a caller that lost its processor in between would hold up every record after its own.
  if (ticket - h.takenShown.load(std::memory_order_acquire) < kRingSize) {
    h.place(ticket).store(entry, std::memory_order_release);
  } else {
    // Only entries that do not wait get here: many steps, or records logged by loggers.
    std::lock_guard lock(h.overflowMutex);
    h.overflow.emplace(ticket, entry);
    h.overflowCount.fetch_add(1);
  }
  // Read after drawing the ticket, an atomic step that the logging queue's going idle is ordered
  // against (see lt_drain): the entry's own store needs no fence.
  if (!h.drainScheduled.load() && !h.drainScheduled.exchange(true)) {
    dispatch::async(h.loggingQueue, [] { lt_drain(); });
  } else if (prompt || ticket >= h.completed.load(std::memory_order_relaxed) + kWakeWatermark) {
    wakeLingeringTurn();
  }
}

// Posts the entry and, with `wait`, returns once its record was delivered or its step ran.
void postAndWait(Entry* entry, bool bounded, bool wait) {
  if (!wait) {
    post(entry, bounded);
    return;
  }
  Waiter waiter;
  entry->waiter = &waiter;
  post(entry, bounded);
  waiter.wait();
}

// Queues a record; with `returnable` its entry is kept in this thread's mailbox and freed by this
// thread (see Mailbox).
void postRecord(ns::Ref<LogMessage> logMessage, bool asynchronous, bool returnable) {
  if (!logMessage) return;
  assert((asynchronous || mayWaitForHub()) &&
         "synchronous log call from the logging queue or a logger's queue");
  Mailbox* box = threadMailbox();
  if (box && !box->active.load(std::memory_order_relaxed)) box->active.store(true, std::memory_order_relaxed);
  auto* entry = new Entry;
  entry->flag = logMessage->flag();
  entry->record = std::move(logMessage);
  if (returnable) entry->owner = box;
  postAndWait(entry, true, !asynchronous);
}

// Posts a step and, with `wait`, returns once it ran.
void postStep(std::function<void()> step, bool wait) {
  auto* entry = new Entry;
  entry->step = std::move(step);
  postAndWait(entry, false, wait);
}

// The origins of the last call sites a thread logged from, so that a record neither copies its
// file and function again nor takes a reference to each of its strings.
struct CallSite {
  const char* file = nullptr;
  const char* function = nullptr;
  std::shared_ptr<const LogOrigin> origin;
};

struct CallSites {
  std::array<CallSite, 8> entries;
  std::size_t next = 0;
  ~CallSites() { callSitesGone = true; }
  // Trivially destructible, so still readable by a record made after the thread's thread-local
  // objects were destroyed (from an exit handler, say).
  static thread_local bool callSitesGone;
};

thread_local bool CallSites::callSitesGone = false;

std::shared_ptr<const LogOrigin> callSiteOrigin(const char* file, const char* function) {
  if (CallSites::callSitesGone)
    return LogOrigin::originWithSource(LogSource::sourceWithFile_function(file, function));
  thread_local CallSites sites;
  for (CallSite& site : sites.entries) {
    // The same pointers usually mean the same literals; the text is compared all the same, as a
    // caller may pass a buffer it reuses.
    if (site.file != file || site.function != function) continue;
    const LogSource& source = site.origin->source;
    if (*source.file != file || *source.function != function) continue;
    // A thread that runs the blocks of several queues changes its label from block to block.
    if (!site.origin->isCurrent()) site.origin = LogOrigin::originWithSource(source);
    return site.origin;
  }
  CallSite& site = sites.entries[sites.next];
  sites.next = (sites.next + 1) % sites.entries.size();
  site = CallSite{file, function,
                  LogOrigin::originWithSource(LogSource::sourceWithFile_function(file, function))};
  return site.origin;
}

// --- registered classes ----------------------------------------------------------------------

struct ClassRegistry {
  std::mutex mutex;
  std::vector<LogHubClass> classes;
};

ClassRegistry& classRegistry() {
  static ns::NoDestructor<ClassRegistry> registry;
  return *registry;
}

std::optional<LogHubClass> classWithName(std::string_view name) {
  ClassRegistry& r = classRegistry();
  std::lock_guard lock(r.mutex);
  for (const auto& c : r.classes) {
    if (c.name == name) return c;
  }
  return std::nullopt;
}

}  // namespace

// --- LoggerNode --------------------------------------------------------------------------------

LoggerNode::LoggerNode(ns::Ref<Logger> logger, ns::Ref<dispatch::Queue> loggerQueue, std::uint64_t level)
    : logger_(std::move(logger)), loggerQueue_(std::move(loggerQueue)), level_(level) {}

LoggerNode::~LoggerNode() = default;

ns::Ref<LoggerNode> LoggerNode::nodeWithLogger_loggerQueue_level(ns::Ref<Logger> logger,
                                                                 ns::Ref<dispatch::Queue> loggerQueue,
                                                                 std::uint64_t level) {
  return ns::make<LoggerNode>(std::move(logger), std::move(loggerQueue), level);
}

// --- LogHub ------------------------------------------------------------------------------------

void LogHub::log_message_level_flag_context_file_function_line_tag(bool asynchronous, std::string message,
                                                                   std::uint64_t level, std::uint64_t flag,
                                                                   std::int32_t context, const char* file,
                                                                   const char* function, std::int32_t line,
                                                                   const ns::Value& tag) {
  // Made from the pools (see RecyclingPool.h).
  ns::Ref<LogMessage> record = std::allocate_shared<LogMessage>(
      logpool::Allocator<LogMessage>{}, pooledText(message), level, flag, context,
      callSiteOrigin(file ? file : "", function ? function : ""), line, tag, 0, std::nullopt);
  postRecord(std::move(record), asynchronous, tag.isNil());
}

void LogHub::log_message(bool asynchronous, ns::Ref<LogMessage> logMessage) {
  postRecord(std::move(logMessage), asynchronous, false);
}

void LogHub::queueLogMessage_asynchronously(ns::Ref<LogMessage> logMessage, bool asynchronous) {
  postRecord(std::move(logMessage), asynchronous, false);
}

void LogHub::flushLog() {
  assert(mayWaitForHub() && "flushLog from the logging queue or a logger's queue");
  postStep([] { lt_flush(); }, true);
}

void LogHub::applicationWillTerminate() {
  // An exit started from one of the hub's own queues cannot wait for them.
  if (!mayWaitForHub()) return;
  flushLog();
}

void LogHub::runBetweenRecords(std::function<void()> step, bool wait) {
  assert((!wait || mayWaitForHub()) && "waiting for the hub from the logging queue or a logger's queue");
  postStep(std::move(step), wait);
}

ns::Ref<dispatch::Queue> LogHub::loggingQueue() {
  return hub().loggingQueue;
}

unsigned LogHub::processorCount() {
  unsigned count = 1;
  postStep([&] { count = hub().processorCount; }, true);
  return count;
}

void LogHub::setProcessorCount(unsigned count) {
  // Read only by deliveries on the logging queue, so it changes between two records.
  postStep([count] { hub().processorCount = std::max(1u, count); }, true);
}

bool LogHub::isOnLoggingQueue() {
  hub();
  return dispatch::getSpecific(&loggingQueueKey) == &loggingQueueKey;
}

bool LogHub::isOnLoggerQueue() {
  return dispatch::getSpecific(&loggerQueueKey) == &loggerQueueKey;
}

void LogHub::addLogger(ns::Ref<Logger> logger) {
  addLogger_withLevel(std::move(logger), LogLevelAll);
}

void LogHub::addLogger_withLevel(ns::Ref<Logger> logger, std::uint64_t level) {
  if (!logger) return;
  postStep([logger = std::move(logger), level] { lt_addLogger(logger, level); }, false);
}

void LogHub::removeLogger(ns::Ref<Logger> logger) {
  if (!logger) return;
  postStep([logger = std::move(logger)] { lt_removeLogger(logger); }, false);
}

void LogHub::removeAllLoggers() {
  postStep([] { lt_removeAllLoggers(); }, false);
}

std::vector<ns::Ref<Logger>> LogHub::allLoggers() {
  assert(mayWaitForHub() && "allLoggers from the logging queue or a logger's queue");
  std::vector<ns::Ref<Logger>> result;
  postStep([&] { result = lt_allLoggers(); }, true);
  return result;
}

bool LogHub::registerClass(LogHubClass record) {
  ClassRegistry& r = classRegistry();
  std::lock_guard lock(r.mutex);
  r.classes.push_back(std::move(record));
  return true;
}

std::optional<std::vector<LogHubClass>> LogHub::registeredClasses() {
  ClassRegistry& r = classRegistry();
  std::lock_guard lock(r.mutex);
  if (r.classes.empty()) return std::nullopt;
  return r.classes;
}

std::vector<std::string> LogHub::registeredClassNames() {
  std::vector<std::string> names;
  if (auto classes = registeredClasses()) {
    for (const auto& c : *classes) names.push_back(c.name);
  }
  return names;
}

std::uint64_t LogHub::levelForClassWithName(std::string_view name) {
  std::optional<LogHubClass> c = classWithName(name);
  return c ? c->logHubLevel() : LogLevelAll;
}

void LogHub::setLevel_forClassWithName(std::uint64_t level, std::string_view name) {
  if (std::optional<LogHubClass> c = classWithName(name)) c->setLogHubLevel(level);
}

// --- SourceFileBaseName ------------------------------------------------------------------------

std::optional<std::string_view> SourceFileBaseName(const char* path, bool copy) {
  if (path == nullptr) return std::nullopt;
  // One pass: the last "/" and the last "." after it.
  const char* begin = path;
  const char* lastDot = nullptr;
  const char* p = path;
  for (; *p != '\0'; ++p) {
    if (*p == '/') {
      begin = p + 1;
      lastDot = nullptr;
    } else if (*p == '.') {
      lastDot = p;
    }
  }
  std::string_view name(begin, static_cast<std::size_t>((lastDot ? lastDot : p) - begin));
  if (!copy) return name;
  // Copies live as long as the process; equal names share one copy.
  struct Copies {
    std::mutex mutex;
    std::set<std::string, std::less<>> names;
  };
  static ns::NoDestructor<Copies> copies;
  std::lock_guard lock(copies->mutex);
  auto it = copies->names.find(name);
  if (it == copies->names.end()) it = copies->names.emplace(name).first;
  return std::string_view(*it);
}
