#include "CrashReporter/CRSUserLogging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <mutex>
#include <vector>
#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSRecordWriter.h"
#include "CrashReporter/CRSSafeLog.h"

#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/PercentEncoding.h"

namespace {

char* copyText(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

std::uint64_t monotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

bool writeAll(int fd, const char* bytes, std::size_t length, off_t at) {
  while (length > 0) {
    ssize_t n = ::pwrite(fd, bytes, length, at);
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

bool readWhole(const char* path, std::string& out) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return n == 0;
}

int openLog(const char* path, bool truncate) {
  return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
}

// Replaces the running log with `contents` through a temporary file and a rename, and reopens it.
bool replaceLog(CRSUserData* data, const std::string& contents) {
  std::string temporary = std::string(data->runningLogPath) + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, contents.data(), contents.size(), 0);
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temporary.c_str(), data->runningLogPath) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  if (data->logFd >= 0) ::close(data->logFd);
  data->logFd = openLog(data->runningLogPath, false);
  return data->logFd >= 0;
}

// The ring's text in order, oldest byte first.
bool readRingInOrder(CRSUserData* data, std::string& ordered) {
  std::string contents;
  if (!readWhole(data->runningLogPath, contents)) return false;
  ordered = CRSSessionLogReorder(contents, data->writeOffset.load());
  return true;
}

// Moves the ring to a new limit: a smaller one keeps the newest bytes, once; a larger one lays the
// ring out in order so that it can grow from its end.
bool resizeRing(CRSUserData* data, std::uint64_t limit) {
  std::string ordered;
  if (!readRingInOrder(data, ordered)) return false;
  if (ordered.size() > limit) ordered.erase(0, ordered.size() - limit);
  if (!replaceLog(data, ordered)) return false;
  data->wrapped = ordered.size() == limit;
  data->writeOffset = data->wrapped ? 0 : ordered.size();
  data->logSizeLimit = limit;
  data->defaultLimitFlag = false;
  return true;
}

void appendToRing(CRSUserData* data, const std::string& message) {
  bool settingsLoaded = data->settingsLoaded.load();
  std::uint64_t bufferSize = data->settingsLogBufferSize.load();
  if (settingsLoaded) {
    // A size of 0 turns the session log off.
    if (bufferSize == 0) return;
    if (bufferSize != data->logSizeLimit && !resizeRing(data, bufferSize)) return;
  } else {
    data->defaultLimitFlag = true;
  }
  if (data->logFd < 0) return;
  std::uint64_t limit = data->logSizeLimit;
  std::uint64_t elapsed = (monotonicNanoseconds() - data->startTime) * data->timebaseNumerator /
                          data->timebaseDenominator / 1000000ull;
  std::string line = std::to_string(elapsed) + " $ " + message + "\n";
  std::uint64_t offset = data->writeOffset.load();
  if (line.size() >= limit) {
    // Only the newest `limit` bytes of the line can stay.
    if (!writeAll(data->logFd, line.data() + line.size() - limit, limit, 0)) return;
    if (::ftruncate(data->logFd, static_cast<off_t>(limit)) != 0) return;
    data->wrapped = true;
    data->writeOffset = 0;
    return;
  }
  std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(line.size(), limit - offset));
  if (!writeAll(data->logFd, line.data(), first, static_cast<off_t>(offset))) return;
  std::uint64_t next = offset + first;
  if (first < line.size()) {
    if (!writeAll(data->logFd, line.data() + first, line.size() - first, 0)) return;
    next = line.size() - first;
    data->wrapped = true;
  } else if (next == limit) {
    next = 0;
    data->wrapped = true;
  }
  data->writeOffset = next;
}

// Tables replaced by larger ones. The crash handler may still be reading one, so they are kept
// (reachable) for the life of the process. Touched on the context queue only.
std::vector<CRSCustomAttribute*>& retiredTables() {
  static ns::NoDestructor<std::vector<CRSCustomAttribute*>> tables;
  return *tables;
}

// Blocks swapped out of the context while a crash-time reader was counted. Setters may run on
// any thread, so the list has a lock; the crash handler never touches it.
struct Retired {
  std::mutex mutex;
  std::vector<void*> blocks;
};

Retired& retired() {
  static ns::NoDestructor<Retired> instance;
  return *instance;
}

CRSUserData* userData() {
  if (!CRSContextIsInitialized()) return nullptr;
  return &CRSWritableContextGet()->user;
}

}  // namespace

void CRSUserLoggingInit(CRSUserData* data, const char* runningLogPath, const char* sessionLogPath) {
  data->logSizeLimit = CRSDefaultLogSizeLimit;
  data->defaultLimitFlag = false;
  data->wrapped = false;
  data->logFd = -1;
  data->writeOffset = 0;
  // The monotonic clock counts nanoseconds already.
  data->timebaseNumerator = 1;
  data->timebaseDenominator = 1;
  data->startTime = monotonicNanoseconds();
  data->runningLogPath = runningLogPath ? copyText(runningLogPath) : nullptr;
  data->sessionLogPath = sessionLogPath ? copyText(sessionLogPath) : nullptr;
  // Every run starts with an empty running log.
  if (data->runningLogPath) data->logFd = openLog(data->runningLogPath, true);
  data->userIdentifier = nullptr;
  data->userName = nullptr;
  data->userEmail = nullptr;
  data->attributeCount = 0;
  data->attributeCapacity = 0;
  data->nextReplacementIndex = 0;
  data->attributes = nullptr;
  data->defaultCustomKeyLimit = 64;
}

void CRSUserLoggingApplySettings(std::uint32_t attributesCount, std::uint64_t logBufferSize) {
  CRSUserData* data = userData();
  if (!data) return;
  data->settingsAttributesCount = attributesCount;
  data->settingsLogBufferSize = logBufferSize;
  data->settingsLoaded = true;
}

std::string CRSPercentEscape(std::string_view text) {
  return ns::stringByAddingPercentEscapesUsingEncoding(text);
}

void CRSContextStringSet(std::atomic<char*>* slot, const std::optional<std::string>& value, bool escape) {
  if (!slot) return;
  char* copy = !value ? copyText("(null)") : copyText(escape ? CRSPercentEscape(*value) : *value);
  CRSContextRetire(slot->exchange(copy));
}

void CRSContextRetire(void* replaced) {
  Retired& list = retired();
  std::lock_guard lock(list.mutex);
  if (replaced) list.blocks.push_back(replaced);
  // A crash-time writer counts itself before it loads a slot: when none is counted after the swap,
  // none can still hold a block replaced before it.
  CRSWritableContext* writable = CRSWritableContextGet();
  if (writable && writable->crashReaders.load() != 0) return;
  for (void* old : list.blocks) std::free(old);
  list.blocks.clear();
}

std::size_t CRSContextRetiredCountForTesting() {
  Retired& list = retired();
  std::lock_guard lock(list.mutex);
  return list.blocks.size();
}

std::size_t CRSCustomValueCutLength(std::string_view value, std::size_t limit) {
  if (value.size() <= limit) return value.size();
  std::size_t cut = limit;
  // Do not split a "%XX" escape...
  if (cut >= 1 && value[cut - 1] == '%') {
    cut -= 1;
  } else if (cut >= 2 && value[cut - 2] == '%') {
    cut -= 2;
  }
  // ...nor a UTF-8 sequence: step back to the start of the character the cut falls into.
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

void CRSCustomAttributeSet(const char* value, const char* key) {
  CRSUserData* data = userData();
  if (!value || !key || !data) return;
  std::uint32_t limit =
      data->settingsLoaded.load() ? data->settingsAttributesCount.load() : data->defaultCustomKeyLimit;
  if (limit == 0) return;
  std::string_view text(value);
  std::string stored(text.substr(0, CRSCustomValueCutLength(text, CRSCustomValueLimit)));
  std::string keyText(key);
  dispatch::sync(CRSContextQueue(), [&] {
    CRSCustomAttribute* table = data->attributes.load();
    std::uint32_t count = data->attributeCount.load();
    for (std::uint32_t i = 0; i < count; ++i) {
      if (std::strcmp(table[i].key.load(), keyText.c_str()) == 0) {
        CRSContextRetire(table[i].value.exchange(copyText(stored)));
        return;
      }
    }
    if (count < limit) {
      if (count == data->attributeCapacity) {
        std::uint32_t capacity = data->attributeCapacity ? data->attributeCapacity * 2 : 16;
        auto* grown = static_cast<CRSCustomAttribute*>(std::calloc(capacity, sizeof(CRSCustomAttribute)));
        if (!grown) return;
        for (std::uint32_t i = 0; i < count; ++i) {
          grown[i].key = table[i].key.load();
          grown[i].value = table[i].value.load();
        }
        data->attributes = grown;
        if (table) retiredTables().push_back(table);
        data->attributeCapacity = capacity;
        table = grown;
      }
      table[count].key = copyText(keyText);
      table[count].value = copyText(stored);
      data->attributeCount = count + 1;
      return;
    }
    std::uint32_t index = data->nextReplacementIndex;
    if (index >= limit || index >= count) index = 0;
    CRSContextRetire(table[index].key.exchange(copyText(keyText)));
    CRSContextRetire(table[index].value.exchange(copyText(stored)));
    data->nextReplacementIndex = index + 1;
  });
}

void CRSSessionLogAppend(const std::string& message) {
  CRSUserData* data = userData();
  if (!data) return;
  dispatch::sync(CRSContextQueue(), [&] { appendToRing(data, message); });
}

void CRSSessionLogAndNSLogMessage(const std::string& message) {
  CRSSessionLogAppend(message);
  ns::LogMessage(message);
}

bool CRSUserIdentityIsSet() {
  CRSUserData* data = userData();
  if (!data) return false;
  return data->userIdentifier.load() || data->userName.load() || data->userEmail.load();
}

std::string CRSSessionLogReorder(std::string_view contents, std::uint64_t lastOffset) {
  if (lastOffset > contents.size()) return std::string(contents);
  std::string ordered(contents.substr(lastOffset));
  ordered.append(contents.substr(0, lastOffset));
  return ordered;
}

void CRSFrameRecordWrite(const CRSFrameRecord* frame, CRSRecordWriter* writer) {
  CRSRecordBeginObject(writer);
  CRSRecordWriteUInt64Member(writer, "address", frame->address);
  if (frame->context) CRSRecordWriteUInt64Member(writer, "context", frame->context);
  if (frame->type) CRSRecordWriteUInt64Member(writer, "type", frame->type);
  if (frame->file) {
    CRSRecordWriteStringMember(writer, "file", frame->file);
    CRSRecordWriteUInt64Member(writer, "line", frame->line);
  }
  if (frame->symbol) CRSRecordWriteStringMember(writer, "symbol", frame->symbol);
  CRSRecordEndObject(writer);
}

void CRSUserRecordsWrite(CRSUserData* data, CRSRecordWriter* writer) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const char* name = data->userName.load();
  const char* identifier = data->userIdentifier.load();
  const char* email = data->userEmail.load();
  CRSRecordBeginSection(writer, "user");
  CRSRecordBeginObject(writer);
  if (name || identifier || email) {
    CRSRecordWriteStringMember(writer, "name", name);
    CRSRecordWriteStringMember(writer, "id", identifier);
    CRSRecordWriteStringMember(writer, "email", email);
  }
  CRSRecordEndObject(writer);
  CRSRecordEndLine(writer);

  CRSRecordBeginSection(writer, "log");
  CRSRecordBeginObject(writer);
  CRSRecordWriteUInt64Member(writer, "last_offset", data->writeOffset.load());
  CRSRecordEndObject(writer);
  CRSRecordEndLine(writer);
  if (data->runningLogPath && data->sessionLogPath &&
      ::rename(data->runningLogPath, data->sessionLogPath) != 0) {
    // Crash time: the line is put together in a stack buffer and written once.
    char line[2 * 4096 + 128];
    std::size_t at = 0;
    auto append = [&](const char* text) {
      for (; *text && at + 2 < sizeof line; ++text) line[at++] = *text;
    };
    append("[Logging] Unable to rename the session log ");
    append(data->runningLogPath);
    append(" to ");
    append(data->sessionLogPath);
    line[at++] = '\n';
    line[at] = '\0';
    CRSSafeLog(line);
  }

  CRSRecordBeginSection(writer, "custom_attributes");
  CRSRecordBeginObject(writer);
  // The count first: a table published later holds at least as many entries.
  std::uint32_t count = data->attributeCount.load();
  CRSCustomAttribute* table = data->attributes.load();
  for (std::uint32_t i = 0; table && i < count; ++i) {
    const char* key = table[i].key.load();
    if (!key) continue;
    CRSRecordWriteStringMember(writer, key, table[i].value.load());
  }
  CRSRecordEndObject(writer);
  CRSRecordEndLine(writer);
}
