#include "lib/logging/ASLLogCapture.h"

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "lib/logging/LogHub.h"
#include "lib/logging/SystemLogStore.h"
#include "platform/core/Format.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Dispatch.h"

namespace {

std::atomic<bool> running{false};
std::atomic<std::uint64_t> level{LogFlagError | LogFlagWarning | LogFlagInfo | LogFlagDebug | LogFlagVerbose};
std::atomic<ASLLogCapture::Backend> chosenBackend{ASLLogCapture::Backend::Automatic};
// Each start() begins a new session; a pass of an older one ends it.
std::atomic<std::uint64_t> currentSession{0};

// A capture from one start() on: it reads on the capture queue whenever it is woken.
struct Session {
  virtual ~Session() = default;
  // Queues a pass on the capture queue.
  virtual void wake() = 0;
};

// The newest session, woken by stop() so that it ends. Touched on the capture queue only.
std::shared_ptr<Session>& newestSession() {
  static ns::NoDestructor<std::shared_ptr<Session>> session;
  return *session;
}

const ns::Ref<dispatch::Queue>& captureQueue() {
  static ns::NoDestructor<ns::Ref<dispatch::Queue>> queue([] {
    auto q = dispatch::queueCreate("logging.hub.aslCapture", dispatch::QueueAttr::Serial);
    dispatch::setTargetQueue(q, dispatch::globalQueue(dispatch::Priority::High));
    return q;
  }());
  return *queue;
}

bool sessionEnded(std::uint64_t session) {
  return !running.load() || currentSession.load() != session;
}

std::optional<long long> parseInteger(const std::string& text) {
  long long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

const std::string* field(const ASLLogCapture::Message& message, const char* key) {
  auto it = message.find(key);
  return it == message.end() ? nullptr : &it->second;
}

// --- the process-local store ------------------------------------------------------------------

struct LocalSession : Session, std::enable_shared_from_this<LocalSession> {
  std::uint64_t session = 0;
  std::uint64_t lastID = 0;  // read on the capture queue only
  std::atomic<bool> passQueued{false};

  void wake() override {
    if (passQueued.exchange(true)) return;
    dispatch::async(captureQueue(), [self = shared_from_this()] { self->pass(); });
  }

  void pass() {
    passQueued.store(false);
    if (sessionEnded(session)) {
      finish();
      return;
    }
    ASLLogCapture::Query query;
    query.messageIDGreaterThan = ns::format("%llu", static_cast<unsigned long long>(lastID));
    ASLLogCapture::configureAslQuery(query);
    SystemLogStore& store = SystemLogStore::shared();
    for (const SystemLogEntry& entry : store.entriesAfter(lastID, query.levelAtMost, query.pid)) {
      const double seconds = std::floor(entry.time.timeIntervalSince1970());
      ASLLogCapture::Message message{
          {"Message", entry.message},
          {"Level", ns::format("%d", entry.level)},
          {"Time", ns::format("%lld", static_cast<long long>(seconds))},
          {"TimeNanoSec",
           ns::format("%lld", std::llround((entry.time.timeIntervalSince1970() - seconds) * 1e9))},
          {"ASLMessageID", ns::format("%llu", static_cast<unsigned long long>(entry.id))},
          {"PID", ns::format("%d", static_cast<int>(entry.pid))},
      };
      ASLLogCapture::aslMessageRecieved(message);
      lastID = entry.id;
    }
    store.forgetThrough(lastID);
    if (sessionEnded(session)) finish();
  }

  // On the capture queue, where a new session also registers its listener: only the newest
  // session owns it.
  void finish() {
    if (currentSession.load() == session && !running.load()) SystemLogStore::shared().setListener(nullptr);
  }
};

void startLocal(std::uint64_t session) {
  auto local = std::make_shared<LocalSession>();
  local->session = session;
  // Only lines from this moment on: the store numbers them in order.
  SystemLogStore& store = SystemLogStore::shared();
  std::weak_ptr<LocalSession> weak = local;
  store.setListener([weak] {
    if (auto s = weak.lock()) s->wake();
  });
  local->lastID = store.lastID();
  // The listener holds the session weakly; the session lives while passes may come.
  newestSession() = local;
}

// --- the systemd journal ---------------------------------------------------------------------

struct JournalSession : Session, std::enable_shared_from_this<JournalSession> {
  std::uint64_t session = 0;
  sd_journal* journal = nullptr;
  ns::Ref<dispatch::Source> source;
  std::optional<std::string> lastCursor;

  ~JournalSession() {
    if (journal) sd_journal_close(journal);
  }

  static std::optional<std::string> data(sd_journal* j, const char* name) {
    const void* value = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(j, name, &value, &length) < 0) return std::nullopt;
    std::string text(static_cast<const char*>(value), length);
    std::string prefix = std::string(name) + "=";
    if (text.rfind(prefix, 0) != 0) return std::nullopt;
    return text.substr(prefix.size());
  }

  void wake() override {
    dispatch::async(captureQueue(), [self = shared_from_this()] { self->pass(); });
  }

  void pass() {
    if (source->isCancelled()) return;
    if (sessionEnded(session)) {
      source->cancel();
      return;
    }
    sd_journal_process(journal);
    while (sd_journal_next(journal) > 0) {
      ASLLogCapture::Message message;
      if (auto text = data(journal, "MESSAGE")) message["Message"] = *text;
      if (auto priority = data(journal, "PRIORITY")) message["Level"] = *priority;
      if (auto pid = data(journal, "_PID")) message["PID"] = *pid;
      std::uint64_t usec = 0;
      if (sd_journal_get_realtime_usec(journal, &usec) >= 0) {
        message["Time"] = ns::format("%llu", static_cast<unsigned long long>(usec / 1000000));
        message["TimeNanoSec"] = ns::format("%llu", static_cast<unsigned long long>(usec % 1000000 * 1000));
      }
      char* cursor = nullptr;
      if (sd_journal_get_cursor(journal, &cursor) >= 0) {
        lastCursor = cursor;
        message["ASLMessageID"] = cursor;
        std::free(cursor);
      }
      ASLLogCapture::aslMessageRecieved(message);
    }
    if (sessionEnded(session)) source->cancel();
  }
};

bool startJournal(std::uint64_t session) {
  auto j = std::make_shared<JournalSession>();
  j->session = session;
  if (sd_journal_open(&j->journal, SD_JOURNAL_LOCAL_ONLY) < 0) {
    j->journal = nullptr;
    return false;
  }
  ASLLogCapture::Query query;
  query.timeAtLeast = ns::Date::now().timeIntervalSince1970();
  ASLLogCapture::configureAslQuery(query);
  std::string match = ns::format("_PID=%d", static_cast<int>(query.pid));
  if (sd_journal_add_match(j->journal, match.data(), match.size()) < 0) return false;
  if (sd_journal_seek_realtime_usec(j->journal, static_cast<std::uint64_t>(*query.timeAtLeast * 1e6)) < 0)
    return false;
  int fd = sd_journal_get_fd(j->journal);
  if (fd < 0) return false;
  j->source =
      dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(fd), 0, captureQueue());
  if (!j->source) return false;
  // The source's handlers keep the session, and the journal, until it is cancelled.
  j->source->setEventHandler([j] { j->pass(); });
  j->source->setCancelHandler([j]() mutable { j.reset(); });
  j->source->resume();
  j->pass();  // whatever arrived between the seek and the watch
  newestSession() = j;
  return true;
}

ASLLogCapture::Backend resolvedBackend() {
  auto backend = chosenBackend.load();
  if (backend != ASLLogCapture::Backend::Automatic) return backend;
  return ASLLogCapture::journalIsReadable() ? ASLLogCapture::Backend::Journal : ASLLogCapture::Backend::Local;
}

}  // namespace

bool ASLLogCapture::journalIsReadable() {
  // journald must be there to take the process's lines, and its files must open.
  if (::access("/run/systemd/journal/socket", W_OK) != 0) return false;
  sd_journal* j = nullptr;
  if (sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY) < 0) return false;
  bool readable = sd_journal_seek_tail(j) >= 0 && sd_journal_previous(j) > 0;
  sd_journal_close(j);
  return readable;
}

void ASLLogCapture::setBackend(Backend backend) {
  chosenBackend.store(backend);
}

ASLLogCapture::Backend ASLLogCapture::backendForNextStart() {
  return resolvedBackend();
}

void ASLLogCapture::start() {
  if (running.exchange(true)) return;
  currentSession.fetch_add(1);
  dispatch::sync(captureQueue(), [] { captureAslLogs(); });
}

void ASLLogCapture::stop() {
  running.store(false);
  // The pass this wakes ends the capture.
  dispatch::async(captureQueue(), [] {
    if (newestSession()) newestSession()->wake();
  });
}

bool ASLLogCapture::isRunning() {
  return running.load();
}

std::uint64_t ASLLogCapture::captureLevel() {
  return level.load();
}

void ASLLogCapture::setCaptureLevel(std::uint64_t value) {
  level.store(value);
}

void ASLLogCapture::configureAslQuery(Query& query) {
  query.levelAtMost = 7;
  query.pid = ::getpid();
}

void ASLLogCapture::captureAslLogs() {
  const std::uint64_t session = currentSession.load();
  if (resolvedBackend() == Backend::Journal && startJournal(session)) return;
  startLocal(session);
}

void ASLLogCapture::aslMessageRecieved(const Message& message) {
  const std::string* text = field(message, "Message");
  if (!text) return;

  double seconds = 0;
  if (const std::string* t = field(message, "Time"))
    seconds = static_cast<double>(parseInteger(*t).value_or(0));
  if (const std::string* n = field(message, "TimeNanoSec"))
    seconds += static_cast<double>(parseInteger(*n).value_or(0)) / 1e9;

  std::uint64_t flag = LogFlagVerbose;
  bool asynchronous = true;
  const std::string* levelText = field(message, "Level");
  switch (levelText ? parseInteger(*levelText).value_or(-1) : -1) {
    case 0:
    case 1:
    case 2:
      flag = LogFlagError;
      asynchronous = false;
      break;
    case 3:
      flag = LogFlagWarning;
      break;
    case 4:
      flag = LogFlagInfo;
      break;
    case 5:
      flag = LogFlagDebug;
      break;
    default:
      break;
  }
  const std::uint64_t mask = captureLevel();
  if ((mask & flag) == 0) return;
  auto record = ns::make<LogMessage>(*text, mask, flag, 0, "ASLLogCapture", "", 0, ns::Value(), 0,
                                     ns::Date::dateWithTimeIntervalSince1970(seconds));
  LogHub::log_message(asynchronous, record);
}
