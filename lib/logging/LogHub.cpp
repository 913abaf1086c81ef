#include "lib/logging/LogHub.h"

#include <array>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "lib/logging/LoggerNode.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Dispatch.h"

namespace {

// Queue-specific keys: their addresses mark the logging queue and the loggers' queues.
char loggingQueueKey;
char loggerQueueKey;

constexpr long kMaxRecordsInFlight = 1000;
// Batches delivered by one turn of the logging queue before it lets other blocks run.
constexpr int kBatchesPerTurn = 64;
// How long a busy turn looks for more records before it ends (a few microseconds).
constexpr int kIdleSpins = 2000;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

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

// One entry of the hub's inbox: a record, or a step (a registration, a flush, a logger's setting)
// that runs on the logging queue between two records.
struct Entry {
  Entry* next = nullptr;
  ns::Ref<LogMessage> record;
  std::function<void()> step;
  // Told once the record was delivered or the step ran.
  Waiter* waiter = nullptr;
};

struct Hub {
  Hub();

  ns::Ref<dispatch::Queue> loggingQueue;
  ns::Ref<dispatch::Group> group;
  // Entries posted and not yet taken, newest first. Callers push without a lock; the logging
  // queue takes everything at once, so records are handed over in batches and an idle queue is
  // woken once per batch, not once per record.
  std::atomic<Entry*> inbox{nullptr};
  // True while a turn of the logging queue is queued or running.
  std::atomic<bool> drainScheduled{false};
  // Records posted and not yet delivered, and the callers waiting for one of them to finish.
  std::atomic<long> inFlight{0};
  std::atomic<int> slotWaiters{0};
  // Touched only on the logging queue.
  unsigned processorCount = 1;
  std::vector<ns::Ref<LoggerNode>> loggers;
  std::vector<ns::Ref<LogMessage>> batch;
  std::vector<Waiter*> batchWaiters;
};

void flushAtExit() {
  LogHub::applicationWillTerminate();
}

Hub::Hub() {
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

bool anyRecordFor(const LoggerNode& node, const std::vector<ns::Ref<LogMessage>>& records) {
  for (const auto& record : records)
    if ((record->flag() & node.level()) != 0) return true;
  return false;
}

// Hands the logger every record of the batch that its level takes, in order, on its queue.
void deliverOnLoggerQueue(const LoggerNode& node, const std::vector<ns::Ref<LogMessage>>& records) {
  const ns::Ref<Logger>& logger = node.logger();
  const std::uint64_t level = node.level();
  for (const auto& record : records)
    if ((record->flag() & level) != 0) logger->logMessage(record);
}

// Delivers the batch to every logger and waits until each has processed it, then frees the
// records' slots and releases the callers that wait for one of them.
void lt_deliverBatch() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  if (h.batch.empty()) return;
  const auto& records = h.batch;
  std::vector<const LoggerNode*> receivers;
  receivers.reserve(h.loggers.size());
  for (const auto& node : h.loggers)
    if (anyRecordFor(*node, records)) receivers.push_back(node.get());

  if (h.processorCount == 1 || receivers.size() == 1) {
    // One after the other: with one processor this costs no more than in parallel, and with
    // one receiver a synchronous hand-over needs no group (an idle queue runs it right here).
    for (const LoggerNode* node : receivers)
      dispatch::sync(node->loggerQueue(), [node, &records] { deliverOnLoggerQueue(*node, records); });
  } else if (!receivers.empty()) {
    for (const LoggerNode* node : receivers)
      dispatch::groupAsync(h.group, node->loggerQueue(),
                           [node, &records] { deliverOnLoggerQueue(*node, records); });
    dispatch::groupWait(h.group, dispatch::TimeForever);
  }

  const auto delivered = static_cast<long>(h.batch.size());
  h.batch.clear();  // the loggers keep what they keep; the rest goes here
  h.inFlight.fetch_sub(delivered);
  if (h.slotWaiters.load() > 0) h.inFlight.notify_all();
  for (Waiter* waiter : h.batchWaiters) waiter->signal();
  h.batchWaiters.clear();
}

// Runs the entries in the order they were posted: records gather into a batch, a step first
// delivers the batch before it.
void lt_process(Entry* entry) {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  while (entry) {
    std::unique_ptr<Entry> owned(entry);
    entry = entry->next;
    if (owned->record) {
      h.batch.push_back(std::move(owned->record));
      if (owned->waiter) h.batchWaiters.push_back(owned->waiter);
      continue;
    }
    lt_deliverBatch();
    if (owned->step) owned->step();
    if (owned->waiter) owned->waiter->signal();
  }
  lt_deliverBatch();
}

// One turn of the logging queue: takes what the inbox holds until it stays empty.
void lt_drain() {
  ASSERT_ON_LOGGING_QUEUE();
  Hub& h = hub();
  for (int turn = 0; turn < kBatchesPerTurn; ++turn) {
    Entry* newestFirst = h.inbox.exchange(nullptr, std::memory_order_acquire);
    // While records keep coming, the next one is usually a few microseconds away: a short look
    // before going idle saves the callers from waking this queue again for it.
    for (int spin = 0; !newestFirst && turn > 0 && spin < kIdleSpins; ++spin) {
      cpuRelax();
      if (h.inbox.load(std::memory_order_relaxed))
        newestFirst = h.inbox.exchange(nullptr, std::memory_order_acquire);
    }
    if (!newestFirst) {
      h.drainScheduled.store(false);
      // A caller that posted just before the flag fell saw it still set and did not wake us.
      if (h.inbox.load() == nullptr || h.drainScheduled.exchange(true)) return;
      continue;
    }
    Entry* oldestFirst = nullptr;
    while (newestFirst) {
      Entry* next = newestFirst->next;
      newestFirst->next = oldestFirst;
      oldestFirst = newestFirst;
      newestFirst = next;
    }
    lt_process(oldestFirst);
  }
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

void post(Entry* entry) {
  Hub& h = hub();
  Entry* newest = h.inbox.load(std::memory_order_relaxed);
  do {
    entry->next = newest;
  } while (
      !h.inbox.compare_exchange_weak(newest, entry, std::memory_order_release, std::memory_order_relaxed));
  // Only a post into an empty inbox may find the logging queue idle.
  if (newest == nullptr && !h.drainScheduled.exchange(true))
    dispatch::async(h.loggingQueue, [] { lt_drain(); });
}

// The bound on records in flight: this is where a caller waits when 1000 are queued. A record
// logged from the logging queue or a logger's queue takes its slot at once: the slots are freed
// by the delivery that caller is part of, so waiting there would never end. Where it runs is asked
// only when the slots are all taken: on a thread outside any queue the answer costs system calls,
// several times the rest of a record.
void takeSlot() {
  Hub& h = hub();
  long current = h.inFlight.load(std::memory_order_relaxed);
  for (;;) {
    if (current < kMaxRecordsInFlight) {
      if (h.inFlight.compare_exchange_weak(current, current + 1)) return;
      continue;
    }
    if (!mayWaitForHub()) {
      h.inFlight.fetch_add(1);
      return;
    }
    h.slotWaiters.fetch_add(1);
    h.inFlight.wait(current);
    h.slotWaiters.fetch_sub(1);
    current = h.inFlight.load();
  }
}

// Posts a step and, with `wait`, returns once it ran.
void postStep(std::function<void()> step, bool wait) {
  auto* entry = new Entry;
  entry->step = std::move(step);
  if (!wait) {
    post(entry);
    return;
  }
  Waiter waiter;
  entry->waiter = &waiter;
  post(entry);
  waiter.wait();
}

// The shared strings of the last call sites a thread logged from, so that a record does not copy
// its file and function again.
struct CallSite {
  const char* file = nullptr;
  const char* function = nullptr;
  LogSource source;
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

LogSource callSite(const char* file, const char* function) {
  if (CallSites::callSitesGone) return LogSource::sourceWithFile_function(file, function);
  thread_local CallSites sites;
  for (const CallSite& site : sites.entries) {
    // The same pointers usually mean the same literals; the text is compared all the same, as a
    // caller may pass a buffer it reuses.
    if (site.file == file && site.function == function && *site.source.file == file &&
        *site.source.function == function)
      return site.source;
  }
  CallSite& site = sites.entries[sites.next];
  sites.next = (sites.next + 1) % sites.entries.size();
  site = CallSite{file, function, LogSource::sourceWithFile_function(file, function)};
  return site.source;
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
  auto record =
      ns::make<LogMessage>(std::make_shared<const std::string>(std::move(message)), level, flag, context,
                           callSite(file ? file : "", function ? function : ""), line, tag, 0, std::nullopt);
  queueLogMessage_asynchronously(std::move(record), asynchronous);
}

void LogHub::log_message(bool asynchronous, ns::Ref<LogMessage> logMessage) {
  if (!logMessage) return;
  queueLogMessage_asynchronously(std::move(logMessage), asynchronous);
}

void LogHub::queueLogMessage_asynchronously(ns::Ref<LogMessage> logMessage, bool asynchronous) {
  if (!logMessage) return;
  assert((asynchronous || mayWaitForHub()) &&
         "synchronous log call from the logging queue or a logger's queue");
  takeSlot();
  auto* entry = new Entry;
  entry->record = std::move(logMessage);
  if (asynchronous) {
    post(entry);
    return;
  }
  Waiter waiter;
  entry->waiter = &waiter;
  post(entry);
  waiter.wait();
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
