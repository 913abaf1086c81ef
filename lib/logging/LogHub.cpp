#include "lib/logging/LogHub.h"

#include <cassert>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "lib/logging/LoggerNode.h"
#include "platform/dispatch/Dispatch.h"

namespace {

// Queue-specific keys: their addresses mark the logging queue and the loggers' queues.
char loggingQueueKey;
char loggerQueueKey;

constexpr long kMaxRecordsInFlight = 1000;

struct Hub {
  ns::Ref<dispatch::Queue> loggingQueue;
  ns::Ref<dispatch::Group> group;
  ns::Ref<dispatch::Semaphore> semaphore;
  unsigned processorCount = 1;
  // Touched only on the logging queue.
  std::vector<ns::Ref<LoggerNode>> loggers;
};

void flushAtExit() { LogHub::applicationWillTerminate(); }

// The hub lives until the process ends and is never torn down, so that records queued by other
// threads during exit still find it.
Hub& hub() {
  static Hub* const instance = [] {
    auto* h = new Hub;
    h->loggers.reserve(4);
    h->loggingQueue = dispatch::queueCreate("logging.hub", dispatch::QueueAttr::Serial);
    dispatch::setSpecific(h->loggingQueue, &loggingQueueKey, &loggingQueueKey);
    h->group = dispatch::groupCreate();
    h->semaphore = dispatch::semaphoreCreate(kMaxRecordsInFlight);
    h->processorCount = std::max(1u, std::thread::hardware_concurrency());
    // The dispatch layer is already running (the queue above exists), so an exit handler
    // registered now runs before it shuts down and the flush can still use the queues.
    std::atexit(flushAtExit);
    return h;
  }();
  return *instance;
}

void markLoggerQueue(const ns::Ref<dispatch::Queue>& queue, bool mark) {
  dispatch::setSpecific(queue, &loggerQueueKey, mark ? &loggerQueueKey : nullptr);
}

bool mayWaitForHub() { return !LogHub::isOnLoggingQueue() && !LogHub::isOnLoggerQueue(); }

// --- on the logging queue --------------------------------------------------------------------

void lt_addLogger(const ns::Ref<Logger>& logger, std::uint64_t level) {
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
  for (const auto& node : hub().loggers) {
    if (node->loggerQueue() == queue) return;
  }
  markLoggerQueue(queue, false);
}

void lt_removeLogger(const ns::Ref<Logger>& logger) {
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
  auto loggers = std::move(hub().loggers);
  hub().loggers.clear();
  for (const auto& node : loggers) {
    ns::Ref<Logger> logger = node->logger();
    dispatch::async(node->loggerQueue(), [logger] { logger->willRemoveLogger(); });
  }
  for (const auto& node : loggers) unmarkIfUnused(node->loggerQueue());
}

std::vector<ns::Ref<Logger>> lt_allLoggers() {
  std::vector<ns::Ref<Logger>> result;
  result.reserve(hub().loggers.size());
  for (const auto& node : hub().loggers) result.push_back(node->logger());
  return result;
}

void lt_log(const ns::Ref<LogMessage>& logMessage) {
  Hub& h = hub();
  if (h.processorCount == 1) {
    // One processor: running the loggers one after the other costs no more than in parallel.
    for (const auto& node : h.loggers) {
      if ((logMessage->flag() & node->level()) == 0) continue;
      const ns::Ref<Logger>& logger = node->logger();
      dispatch::sync(node->loggerQueue(), [&] { logger->logMessage(logMessage); });
    }
  } else {
    bool submitted = false;
    for (const auto& node : h.loggers) {
      if ((logMessage->flag() & node->level()) == 0) continue;
      ns::Ref<Logger> logger = node->logger();
      dispatch::groupAsync(h.group, node->loggerQueue(), [logger, logMessage] { logger->logMessage(logMessage); });
      submitted = true;
    }
    if (submitted) dispatch::groupWait(h.group, dispatch::TimeForever);
  }
  h.semaphore->signal();
}

void lt_flush() {
  Hub& h = hub();
  for (const auto& node : h.loggers) {
    if (!node->logger()->canFlush()) continue;
    ns::Ref<Logger> logger = node->logger();
    dispatch::groupAsync(h.group, node->loggerQueue(), [logger] { logger->flush(); });
  }
  dispatch::groupWait(h.group, dispatch::TimeForever);
}

// --- registered classes ----------------------------------------------------------------------

struct ClassRegistry {
  std::mutex mutex;
  std::vector<LogHubClass> classes;
};

ClassRegistry& classRegistry() {
  static ClassRegistry* const registry = new ClassRegistry;
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
  auto record = ns::make<LogMessage>(std::move(message), level, flag, context, file ? file : "",
                                     function ? function : "", line, tag, 0, std::nullopt);
  queueLogMessage_asynchronously(std::move(record), asynchronous);
}

void LogHub::log_message(bool asynchronous, ns::Ref<LogMessage> logMessage) {
  if (!logMessage) return;
  queueLogMessage_asynchronously(std::move(logMessage), asynchronous);
}

void LogHub::queueLogMessage_asynchronously(ns::Ref<LogMessage> logMessage, bool asynchronous) {
  if (!logMessage) return;
  Hub& h = hub();
  assert((asynchronous || mayWaitForHub()) && "synchronous log call from the logging queue or a logger's queue");
  // The bound on records in flight: this is where a caller waits when 1000 are queued.
  h.semaphore->wait(dispatch::TimeForever);
  if (asynchronous) {
    dispatch::async(h.loggingQueue, [logMessage = std::move(logMessage)] { lt_log(logMessage); });
  } else {
    dispatch::sync(h.loggingQueue, [&] { lt_log(logMessage); });
  }
}

void LogHub::flushLog() {
  assert(mayWaitForHub() && "flushLog from the logging queue or a logger's queue");
  dispatch::sync(hub().loggingQueue, [] { lt_flush(); });
}

void LogHub::applicationWillTerminate() {
  // An exit started from one of the hub's own queues cannot wait for them.
  if (!mayWaitForHub()) return;
  flushLog();
}

ns::Ref<dispatch::Queue> LogHub::loggingQueue() { return hub().loggingQueue; }

bool LogHub::isOnLoggingQueue() {
  hub();
  return dispatch::getSpecific(&loggingQueueKey) == &loggingQueueKey;
}

bool LogHub::isOnLoggerQueue() { return dispatch::getSpecific(&loggerQueueKey) == &loggerQueueKey; }

void LogHub::addLogger(ns::Ref<Logger> logger) { addLogger_withLevel(std::move(logger), LogLevelAll); }

void LogHub::addLogger_withLevel(ns::Ref<Logger> logger, std::uint64_t level) {
  if (!logger) return;
  dispatch::async(hub().loggingQueue, [logger = std::move(logger), level] { lt_addLogger(logger, level); });
}

void LogHub::removeLogger(ns::Ref<Logger> logger) {
  if (!logger) return;
  dispatch::async(hub().loggingQueue, [logger = std::move(logger)] { lt_removeLogger(logger); });
}

void LogHub::removeAllLoggers() {
  dispatch::async(hub().loggingQueue, [] { lt_removeAllLoggers(); });
}

std::vector<ns::Ref<Logger>> LogHub::allLoggers() {
  assert(mayWaitForHub() && "allLoggers from the logging queue or a logger's queue");
  std::vector<ns::Ref<Logger>> result;
  dispatch::sync(hub().loggingQueue, [&] { result = lt_allLoggers(); });
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
  static std::mutex mutex;
  static auto* copies = new std::set<std::string, std::less<>>;
  std::lock_guard lock(mutex);
  auto it = copies->find(name);
  if (it == copies->end()) it = copies->emplace(name).first;
  return std::string_view(*it);
}
