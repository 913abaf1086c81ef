#include "CrashReporter/CRSCrashRecord.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "CrashReporter/CRSRecordWriter.h"
#include "CrashReporter/CRSSafeLog.h"
#include "CrashReporter/CRSStackWalk.h"
#include "CrashReporter/CRSUserLogging.h"
#include "platform/dispatch/Queue.h"

// Everything here runs at crash time: no allocation, no locks, stack buffers only.
namespace {

// The calling thread's stack bounds, noted at its start (plain words: read in signal handlers).
thread_local std::uint64_t tlStackLow = 0;
thread_local std::uint64_t tlStackHigh = 0;

pid_t currentTid() {
  return static_cast<pid_t>(::syscall(SYS_gettid));
}

void futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, const timespec* timeout) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr,
            0);
}

void futexWake(std::atomic<std::uint32_t>* word, int count) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr,
            0);
}

void copyBounded(char* destination, std::size_t size, const char* source) {
  std::size_t i = 0;
  if (source) {
    for (; i + 1 < size && source[i]; ++i) destination[i] = source[i];
  }
  destination[i] = '\0';
}

// Appends the decimal form of `value` to `buffer` at `at`.
std::size_t appendNumber(char* buffer, std::size_t at, std::uint64_t value) {
  char digits[21];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  while (n) buffer[at++] = digits[--n];
  return at;
}

// Reads a small procfs file into `buffer` (NUL-terminated); answers the length or -1.
ssize_t readSmallFile(const char* path, char* buffer, std::size_t size) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t total = 0;
  while (total + 1 < size) {
    ssize_t n = ::read(fd, buffer + total, size - 1 - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  buffer[total] = '\0';
  return static_cast<ssize_t>(total);
}

void readThreadName(pid_t tid, char* name, std::size_t size) {
  char path[64] = "/proc/self/task/";
  std::size_t at = appendNumber(path, std::strlen(path), static_cast<std::uint64_t>(tid));
  std::memcpy(path + at, "/comm", 6);
  ssize_t n = readSmallFile(path, name, size);
  if (n <= 0) {
    name[0] = '\0';
    return;
  }
  if (name[n - 1] == '\n') name[n - 1] = '\0';
}

// The value in kB of a "Key:   123 kB" line of /proc/meminfo, in bytes.
bool meminfoValue(const char* text, const char* key, std::uint64_t* bytes) {
  std::size_t keyLength = std::strlen(key);
  for (const char* line = text; *line;) {
    if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
      const char* p = line + keyLength + 1;
      while (*p == ' ') ++p;
      std::uint64_t value = 0;
      bool any = false;
      while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
        any = true;
      }
      *bytes = value * 1024;
      return any;
    }
    const char* next = std::strchr(line, '\n');
    if (!next) break;
    line = next + 1;
  }
  return false;
}

const char* parseNumber(const char* p, std::uint64_t* value) {
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') return nullptr;
  std::uint64_t v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<std::uint64_t>(*p++ - '0');
  *value = v;
  return p;
}

void writeSignalLine(CRSRecordWriter* w, const CRSContext* context, int savedErrno, const siginfo_t* info) {
  CRSRecordBeginSection(w, "signal");
  CRSRecordBeginObject(w);
  if (info) {
    CRSRecordWriteUInt64Member(w, "number",
                               static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_signo)));
    CRSRecordWriteUInt64Member(w, "code",
                               static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_code)));
    CRSRecordWriteUInt64Member(w, "address", reinterpret_cast<std::uint64_t>(info->si_addr));
    CRSRecordWriteStringMember(w, "name", CRSSignalName(info->si_signo));
    CRSRecordWriteStringMember(w, "code_name", CRSSignalCodeName(info->si_signo, info->si_code));
  }
  bool preexisting = false;
  if (context) {
    for (int i = 0; i < CRSSignalCount; ++i) preexisting = preexisting || context->signals.hasPrevious[i];
  }
  CRSRecordWriteBoolMember(w, "preexisting_handlers", preexisting);
  CRSRecordWriteUInt64Member(w, "errno", static_cast<std::uint64_t>(static_cast<std::int64_t>(savedErrno)));
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

void writeOptional(CRSRecordWriter* w, const char* key, const char* value) {
  if (value) CRSRecordWriteStringMember(w, key, value);
}

void writeIdentityAndBuild(CRSRecordWriter* w, const CRSContext* c) {
  CRSRecordBeginSection(w, "identity");
  CRSRecordBeginObject(w);
  CRSRecordWriteStringMember(w, "generator", c ? c->generator : CRSGenerator);
  CRSRecordWriteStringMember(w, "api_key", c ? c->apiKey : nullptr);
  CRSRecordWriteStringMember(w, "identifier", c ? c->sessionIdentifier : nullptr);
  CRSRecordWriteUInt64Member(w, "started_at", c ? static_cast<std::uint64_t>(c->startedAt) : 0);
  time_t now = ::time(nullptr);
  if (now == static_cast<time_t>(-1)) CRSSafeLog("[Context] Unable to determine current time");
  CRSRecordWriteUInt64Member(w, "ended_at", static_cast<std::uint64_t>(static_cast<std::int64_t>(now)));
  if (c) {
    writeOptional(w, "device_id", c->host.deviceIdentifier);
    writeOptional(w, "vendor_id", c->host.vendorIdentifier);
    writeOptional(w, "advertising_id", c->host.advertisingIdentifier);
    writeOptional(w, "install_id", c->host.installIdentifier);
    writeOptional(w, "font_token", c->host.fontToken);
  }
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);

  CRSRecordBeginSection(w, "build");
  CRSRecordBeginObject(w);
  CRSRecordWriteStringMember(w, "config", c ? c->build.configuration : nullptr);
  CRSRecordWriteStringMember(w, "compiler", c ? c->build.compiler : nullptr);
  CRSRecordWriteBoolMember(w, "debug", c && c->build.debug);
  CRSRecordWriteBoolMember(w, "arc", c && c->build.arc);
  CRSRecordWriteUInt64Member(w, "os_max", c ? c->build.maxOS : 0);
  CRSRecordWriteUInt64Member(w, "os_min", c ? c->build.minOS : 0);
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

void writeProcessAndHost(CRSRecordWriter* w, const CRSContext* c, const CRSWritableContext* wc) {
  CRSProcessInfo process{};
  if (c) process = c->process;
  CRSRecordBeginSection(w, "process_info");
  CRSRecordBeginObject(w);
  CRSRecordWriteUInt64Member(w, "pid", static_cast<std::uint64_t>(static_cast<std::int64_t>(process.pid)));
  CRSRecordWriteStringMember(w, "name", process.name);
  CRSRecordWriteUInt64Member(w, "parent_pid",
                             static_cast<std::uint64_t>(static_cast<std::int64_t>(process.parentPid)));
  CRSRecordWriteStringMember(w, "parent_name", process.parentName);
  CRSRecordWriteBoolMember(w, "debugger", process.debugger);
  CRSRecordWriteBoolMember(w, "dyld_insert", process.dyldInsert);
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);

  CRSRecordBeginSection(w, "external_process_info");
  CRSRecordBeginArray(w);
  const CRSProcessList* processes = wc ? wc->processList.load() : nullptr;
  for (std::uint32_t i = 0; processes && i < processes->count; ++i) {
    CRSRecordBeginObject(w);
    CRSRecordWriteUInt64Member(
        w, "pid", static_cast<std::uint64_t>(static_cast<std::int64_t>(processes->entries[i].pid)));
    CRSRecordWriteStringMember(w, "name", processes->entries[i].name);
    CRSRecordEndObject(w);
  }
  CRSRecordEndArray(w);
  CRSRecordEndLine(w);

  CRSHostInfo host{};
  if (c) host = c->host;
  CRSRecordBeginSection(w, "host");
  CRSRecordBeginObject(w);
  CRSRecordWriteStringMember(w, "model", host.model);
  CRSRecordWriteStringMember(w, "machine", host.machine);
  CRSRecordWriteStringMember(w, "locale", host.locale);
  CRSRecordWriteStringMember(w, "os_build", host.osBuild);
  CRSRecordWriteStringMember(w, "os_version", host.osVersion);
  CRSRecordWriteStringMember(w, "platform", host.platform);
  CRSRecordWriteUInt64Member(w, "platform_code", host.platformCode);
  CRSRecordWriteUInt64Member(w, "cores", host.cores);
  CRSRecordWriteStringMember(w, "cpu", host.cpu);
  CRSRecordWriteBoolMember(w, "vendor_internal", host.vendorInternal);
  CRSRecordWriteUInt64Member(w, "device_orientation", wc ? wc->deviceOrientation : 1);
  CRSRecordWriteUInt64Member(w, "ui_orientation", wc ? wc->uiOrientation : 1);
  CRSRecordWriteStringMember(w, "battery_level", wc ? wc->batteryLevel.load() : nullptr);
  CRSRecordWriteUInt64Member(w, "charging_state", wc ? wc->chargingState : 0);
  CRSRecordWriteBoolMember(w, "proximity_on", wc && wc->proximityOn);
  CRSRecordWriteBoolMember(w, "is_backgrounded", wc && wc->backgrounded);
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

void writeImageMembers(CRSRecordWriter* w, const char* path, const char* uuid, std::uint64_t address,
                       std::uint64_t size) {
  CRSRecordWriteStringMember(w, "path", path ? path : "(uninitialized)");
  CRSRecordWriteStringMember(w, "uuid", uuid ? uuid : "(invalid)");
  CRSRecordWriteUInt64Member(w, "address", address);
  CRSRecordWriteUInt64Member(w, "size", size);
}

void writeExecutableAndImages(CRSRecordWriter* w, const CRSContext* c, const CRSWritableContext* wc) {
  CRSExecutableInfo exe{};
  if (c) exe = c->executable;
  CRSRecordBeginSection(w, "executable");
  CRSRecordBeginObject(w);
  writeImageMembers(w, exe.path, exe.uuid, exe.address, exe.size);
  CRSRecordWriteBoolMember(w, "encrypted", exe.encrypted);
  CRSRecordWriteStringMember(w, "bundle_id", exe.bundleIdentifier);
  CRSRecordWriteStringMember(w, "version", exe.version);
  CRSRecordWriteStringMember(w, "display_version", exe.displayVersion);
  CRSRecordWriteStringMember(w, "architecture", exe.architecture);
  CRSRecordWriteStringMember(w, "uuids", exe.sliceUUIDs);
  CRSRecordWriteStringMember(w, "archs", exe.sliceArchitectures);
  CRSRecordWriteStringMember(w, "dev_platform", wc ? wc->developmentPlatform.load() : nullptr);
  CRSRecordWriteStringMember(w, "dev_platform_version", wc ? wc->developmentPlatformVersion.load() : nullptr);
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);

  CRSRecordBeginSection(w, "binary_images");
  CRSRecordBeginArray(w);
  const CRSBinaryImageList* images = wc ? wc->binaryImages.load() : nullptr;
  for (std::uint32_t i = 0; images && i < images->count; ++i) {
    const CRSBinaryImage& image = images->entries[i];
    // A library unloaded since the list was last built is left out: what is mapped at its place
    // now is not it.
    if (!CRSBinaryImageIsMapped(image, nullptr)) continue;
    CRSRecordBeginObject(w);
    writeImageMembers(w, image.path, image.uuid, image.address, image.size);
    CRSRecordEndObject(w);
  }
  CRSRecordEndArray(w);
  CRSRecordEndLine(w);
}

std::atomic<void (*)()> gExceptionHook{nullptr};

void writeExceptionLine(CRSRecordWriter* w, const CRSWritableContext* wc) {
  CRSRecordBeginSection(w, "exception");
  CRSRecordBeginObject(w);
  // One load: name, reason, count and frames all come from the block it answers, which stays
  // allocated while this writer is counted in crashReaders.
  const CRSException* exception = wc ? wc->exception.current.load() : nullptr;
  if (exception && exception->name) {
    CRSRecordWriteStringMember(w, "name", exception->name);
    CRSRecordWriteStringMember(w, "reason", exception->reason);
    if (auto hook = gExceptionHook.load()) hook();
    if (exception->frameCount && exception->frames) {
      CRSRecordWriteKey(w, "backtrace");
      CRSRecordBeginArray(w);
      for (std::uint32_t i = 0; i < exception->frameCount; ++i) CRSFrameRecordWrite(&exception->frames[i], w);
      CRSRecordEndArray(w);
    }
  }
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

void writeFrame(CRSRecordWriter* w, std::uint64_t address) {
  CRSRecordBeginObject(w);
  CRSRecordWriteUInt64Member(w, "address", address);
  CRSRecordEndObject(w);
}

// The thread's frames: the pc, then the return addresses of its callers (CRSStackWalk).
void writeFrames(CRSRecordWriter* w, const std::uint64_t* gregs, std::uint64_t stackLow,
                 std::uint64_t stackHigh, const CRSBinaryImageList* images) {
  std::uint64_t frames[CRSMaxFrames];
  int count = CRSStackWalk(gregs, stackLow, stackHigh, images, frames, CRSMaxFrames);
  CRSRecordBeginArray(w);
  for (int i = 0; i < count; ++i) writeFrame(w, frames[i]);
  CRSRecordEndArray(w);
}

const std::uint64_t* machineRegisters(const void* machineContext) {
  if (!machineContext) return nullptr;
  const auto* uc = static_cast<const ucontext_t*>(machineContext);
  return reinterpret_cast<const std::uint64_t*>(uc->uc_mcontext.gregs);
}

void writeThreadsLine(CRSRecordWriter* w, CRSThreadList* list, const void* machineContext,
                      const CRSWritableContext* wc) {
  const CRSBinaryImageList* images = wc ? wc->binaryImages.load() : nullptr;
  CRSRecordBeginSection(w, "threads");
  CRSRecordBeginArray(w);
  for (int i = 0; i < list->count; ++i) {
    const std::uint64_t* gregs = nullptr;
    if (i == list->crashedIndex) {
      gregs = machineRegisters(machineContext);
    } else if (list->slots[i].answered.load(std::memory_order_acquire)) {
      gregs = list->slots[i].registers;
    }
    // A thread that did not answer keeps its place in the list with no frames.
    if (!gregs) CRSSafeLog("unable to init unwind context\n");
    writeFrames(w, gregs, list->slots[i].stackLow, list->slots[i].stackHigh, images);
  }
  CRSRecordEndArray(w);
  std::uint64_t crashed = list->crashedIndex >= 0 ? static_cast<std::uint64_t>(list->crashedIndex)
                                                  : static_cast<std::uint64_t>(list->count) + 1;
  CRSRecordWriteUInt64Member(w, "crashed_thread", crashed);
  CRSRecordWriteUInt64Member(w, "thread_count", static_cast<std::uint64_t>(list->count));
  CRSRecordEndLine(w);
}

void writeThreadStateLine(CRSRecordWriter* w, const CRSContext* c, const void* machineContext) {
  CRSRecordBeginSection(w, "thread_state");
  CRSRecordBeginObject(w);
  const std::uint64_t* g = machineRegisters(machineContext);
  if (g && (!c || c->captureFlags[0])) {
    static const struct {
      const char* name;
      int index;
    } kRegisters[] = {{"rax", REG_RAX}, {"rbx", REG_RBX},   {"rcx", REG_RCX}, {"rdx", REG_RDX},
                      {"rdi", REG_RDI}, {"rsi", REG_RSI},   {"rbp", REG_RBP}, {"rsp", REG_RSP},
                      {"r8", REG_R8},   {"r9", REG_R9},     {"r10", REG_R10}, {"r11", REG_R11},
                      {"r12", REG_R12}, {"r13", REG_R13},   {"r14", REG_R14}, {"r15", REG_R15},
                      {"rip", REG_RIP}, {"rflags", REG_EFL}};
    for (const auto& r : kRegisters) CRSRecordWriteUInt64Member(w, r.name, g[r.index]);
    // cs, gs and fs share one word: 16 bits each, in that order.
    std::uint64_t segments = g[REG_CSGSFS];
    CRSRecordWriteUInt64Member(w, "cs", segments & 0xffff);
    CRSRecordWriteUInt64Member(w, "fs", (segments >> 32) & 0xffff);
    CRSRecordWriteUInt64Member(w, "gs", (segments >> 16) & 0xffff);
  }
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

void writeProcessStatsLine(CRSRecordWriter* w) {
  char meminfo[8192];
  char statm[256];
  std::uint64_t active = 0, inactive = 0, wired = 0, freeMemory = 0, pages = 0, residentPages = 0;
  bool ok = readSmallFile("/proc/meminfo", meminfo, sizeof meminfo) > 0 &&
            meminfoValue(meminfo, "Active", &active) && meminfoValue(meminfo, "Inactive", &inactive) &&
            meminfoValue(meminfo, "Unevictable", &wired) && meminfoValue(meminfo, "MemFree", &freeMemory);
  if (!ok) CRSSafeLog("Failed to get vm statistics\n");
  if (ok) {
    const char* p =
        readSmallFile("/proc/self/statm", statm, sizeof statm) > 0 ? parseNumber(statm, &pages) : nullptr;
    ok = p && parseNumber(p, &residentPages);
    if (!ok) CRSSafeLog("Failed to get task info\n");
  }
  rusage usage{};
  if (ok && ::getrusage(RUSAGE_SELF, &usage) != 0) {
    CRSSafeLog("Unable to get process stats\n");
    ok = false;
  }
  CRSRecordBeginSection(w, "process_stats");
  CRSRecordBeginObject(w);
  // When a source fails the line stays, empty: a record without it would be judged invalid.
  if (ok) {
    std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    CRSRecordWriteUInt64Member(w, "active", active);
    CRSRecordWriteUInt64Member(w, "inactive", inactive);
    CRSRecordWriteUInt64Member(w, "wired", wired);
    CRSRecordWriteUInt64Member(w, "freeMem", freeMemory);
    CRSRecordWriteUInt64Member(w, "virtual", pages * page);
    CRSRecordWriteUInt64Member(w, "resident", residentPages * page);
    CRSRecordWriteUInt64Member(w, "user_time",
                               static_cast<std::uint64_t>(usage.ru_utime.tv_sec) * 1000000ull +
                                   static_cast<std::uint64_t>(usage.ru_utime.tv_usec));
    CRSRecordWriteUInt64Member(w, "sys_time",
                               static_cast<std::uint64_t>(usage.ru_stime.tv_sec) * 1000000ull +
                                   static_cast<std::uint64_t>(usage.ru_stime.tv_usec));
  }
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

void writeNamesLines(CRSRecordWriter* w, CRSThreadList* list) {
  CRSRecordBeginSection(w, "thread_names");
  CRSRecordBeginArray(w);
  for (int i = 0; i < list->count; ++i) CRSRecordWriteStringElement(w, list->slots[i].name);
  CRSRecordEndArray(w);
  CRSRecordEndLine(w);

  CRSRecordBeginSection(w, "dispatch_queue_names");
  CRSRecordBeginArray(w);
  for (int i = 0; i < list->count; ++i) {
    bool known = i == list->crashedIndex || list->slots[i].answered.load(std::memory_order_acquire);
    CRSRecordWriteStringElement(w, known ? list->slots[i].queueLabel : nullptr);
  }
  CRSRecordEndArray(w);
  CRSRecordEndLine(w);
}

void writeRuntimeAndStorage(CRSRecordWriter* w, const CRSContext* c) {
  CRSRecordBeginSection(w, "runtime");
  CRSRecordBeginObject(w);
  CRSRecordWriteStringMember(w, "objc_selector", "");
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);

  CRSRecordBeginSection(w, "storage");
  CRSRecordBeginObject(w);
  struct statfs fs {};
  if (c && c->host.storagePath && ::statfs(c->host.storagePath, &fs) == 0) {
    std::uint64_t block = static_cast<std::uint64_t>(fs.f_bsize);
    CRSRecordWriteUInt64Member(w, "free", block * static_cast<std::uint64_t>(fs.f_bavail));
    CRSRecordWriteUInt64Member(w, "total", block * static_cast<std::uint64_t>(fs.f_blocks));
  }
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
}

}  // namespace

void CRSThreadNoteStackBounds() {
  pthread_attr_t attributes;
  if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return;
  void* low = nullptr;
  std::size_t size = 0;
  if (::pthread_attr_getstack(&attributes, &low, &size) == 0 && low && size) {
    tlStackLow = reinterpret_cast<std::uint64_t>(low);
    tlStackHigh = tlStackLow + size;
  }
  ::pthread_attr_destroy(&attributes);
}

void CRSCrashRecordSetExceptionHookForTesting(void (*hook)()) {
  gExceptionHook = hook;
}

const char* CRSSignalName(int signal) {
  switch (signal) {
    case SIGILL:
      return "SIGILL";
    case SIGTRAP:
      return "SIGTRAP";
    case SIGABRT:
      return "SIGABRT";
    case SIGFPE:
      return "SIGFPE";
    case SIGBUS:
      return "SIGBUS";
    case SIGSEGV:
      return "SIGSEGV";
    case SIGSYS:
      return "SIGSYS";
    default:
      return "UNKNOWN";
  }
}

const char* CRSSignalCodeName(int signal, int code) {
  struct Entry {
    int signal;
    int code;
    const char* name;
  };
  static const Entry kCodes[] = {
      {SIGILL, 0, "ILL_NOOP"},
      {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},
      {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"},
      {SIGILL, ILL_PRVOPC, "ILL_PRVOPC"},
      {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},
      {SIGILL, ILL_ILLADR, "ILL_ILLADR"},
      {SIGILL, ILL_PRVREG, "ILL_PRVREG"},
      {SIGILL, ILL_COPROC, "ILL_COPROC"},
      {SIGILL, ILL_BADSTK, "ILL_BADSTK"},
      {SIGABRT, 0, "ABORT"},
      // abort() raises through tgkill, which the kernel reports as SI_TKILL.
      {SIGABRT, SI_TKILL, "ABORT"},
      {SIGBUS, 0, "BUS_NOOP"},
      {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},
      {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
      {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},
      {SIGSEGV, 0, "SEGV_NOOP"},
      {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
      {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
  };
  for (const Entry& e : kCodes) {
    if (e.signal == signal && e.code == code) return e.name;
  }
  return "UNKNOWN";
}

void CRSSuspendSignalHandler(int, siginfo_t*, void* machineContext) {
  int savedErrno = errno;
  CRSWritableContext* wc = CRSWritableContextGet();
  if (!wc) return;
  CRSThreadList* list = &wc->threads;
  pid_t self = currentTid();
  for (int i = 0; i < list->count; ++i) {
    CRSThreadSlot& slot = list->slots[i];
    if (slot.tid != self) continue;
    if (const std::uint64_t* g = machineRegisters(machineContext))
      std::memcpy(slot.registers, g, sizeof slot.registers);
    slot.stackLow = tlStackLow;
    slot.stackHigh = tlStackHigh;
    copyBounded(slot.queueLabel, sizeof slot.queueLabel, dispatch::currentQueueLabel());
    slot.answered.store(1, std::memory_order_release);
    futexWake(&slot.answered, 1);
    while (list->resume.load(std::memory_order_acquire) == 0) futexWait(&list->resume, 0, nullptr);
    break;
  }
  errno = savedErrno;
}

void CRSThreadListCapture(CRSThreadList* list) {
  list->count = 0;
  list->crashedIndex = -1;
  pid_t self = currentTid();
  int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    CRSSafeLog("unable to get task threads\n");
    return;
  }
  alignas(8) char buffer[4096];
  for (;;) {
    long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short length;
      std::memcpy(&length, buffer + at + 16, sizeof length);
      const char* name = buffer + at + 19;
      at += length;
      if (name[0] < '0' || name[0] > '9' || list->count >= CRSMaxThreads) continue;
      pid_t tid = 0;
      for (const char* p = name; *p >= '0' && *p <= '9'; ++p) tid = tid * 10 + (*p - '0');
      CRSThreadSlot& slot = list->slots[list->count];
      slot.tid = tid;
      slot.answered.store(0);
      slot.queueLabel[0] = '\0';
      slot.stackLow = 0;
      slot.stackHigh = 0;
      readThreadName(tid, slot.name, sizeof slot.name);
      if (tid == self) {
        list->crashedIndex = list->count;
        slot.stackLow = tlStackLow;
        slot.stackHigh = tlStackHigh;
        copyBounded(slot.queueLabel, sizeof slot.queueLabel, dispatch::currentQueueLabel());
      }
      list->count++;
    }
  }
  ::close(fd);
}

bool CRSSuspendOtherThreads(CRSThreadList* list) {
  const CRSContext* c = CRSContextGet();
  int signal = c ? c->signals.suspendSignal : 0;
  list->resume.store(0);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  bool all = true;
  pid_t pid = ::getpid();
  pid_t self = currentTid();
  for (int i = 0; i < list->count; ++i) {
    if (list->slots[i].tid == self) continue;
    if (!signal || ::syscall(SYS_tgkill, pid, list->slots[i].tid, signal) != 0) {
      // A thread that cannot be signalled gets no frames.
      list->slots[i].answered.store(0);
      list->slots[i].tid = -1;
      all = false;
    }
  }
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  const std::int64_t budget = 1000000000;  // one second for all threads together
  for (int i = 0; i < list->count; ++i) {
    if (list->slots[i].tid == self || list->slots[i].tid == -1) continue;
    while (list->slots[i].answered.load(std::memory_order_acquire) == 0) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::int64_t spent = (now.tv_sec - start.tv_sec) * 1000000000ll + (now.tv_nsec - start.tv_nsec);
      if (spent >= budget) {
        all = false;
        break;
      }
      std::int64_t left = budget - spent;
      timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
      futexWait(&list->slots[i].answered, 0, &wait);
    }
  }
  return all;
}

void CRSResumeOtherThreads(CRSThreadList* list) {
  list->resume.store(1, std::memory_order_release);
  futexWake(&list->resume, INT_MAX);
}

bool CRSCrashRecordWrite(int savedErrno, const siginfo_t* info, const void* machineContext) {
  const CRSContext* c = CRSContextGet();
  CRSWritableContext* wc = CRSWritableContextGet();
  if (wc) {
    std::uint32_t expected = 0;
    if (!wc->crashing.compare_exchange_strong(expected, 1)) return false;
  }
  if (c && c->crashMarkerPath) {
    int marker = ::open(c->crashMarkerPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (marker >= 0) ::close(marker);
  }
  int fd = c && c->recordPath ? ::open(c->recordPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  CRSRecordWriter writer;
  CRSRecordWriter* w = &writer;
  CRSRecordWriterInit(w, fd);

  CRSRecordBeginSection(w, "schema");
  CRSRecordBeginObject(w);
  CRSRecordWriteUInt64Member(w, "version", 1);
  CRSRecordWriteUInt64Member(w, "expected_lines", 21);
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
  // There is no exception server on this system: signals carry every crash.
  CRSRecordBeginSection(w, "mach_exception");
  CRSRecordBeginObject(w);
  CRSRecordEndObject(w);
  CRSRecordEndLine(w);
  writeSignalLine(w, c, savedErrno, info);

  CRSThreadList* list = wc ? &wc->threads : nullptr;
  if (list) {
    CRSThreadListCapture(list);
    CRSSuspendOtherThreads(list);
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // Counted as a reader of the swapped strings before any is loaded, until the last is written, so
  // that a setter on another thread keeps the strings it replaces meanwhile.
  if (wc) wc->crashReaders.fetch_add(1);
  writeIdentityAndBuild(w, c);
  writeProcessAndHost(w, c, wc);
  writeExecutableAndImages(w, c, wc);
  writeExceptionLine(w, wc);
  if (list) {
    writeThreadsLine(w, list, machineContext, wc);
  } else {
    CRSRecordBeginSection(w, "threads");
    CRSRecordBeginArray(w);
    CRSRecordEndArray(w);
    CRSRecordWriteUInt64Member(w, "crashed_thread", 1);
    CRSRecordWriteUInt64Member(w, "thread_count", 0);
    CRSRecordEndLine(w);
  }
  writeThreadStateLine(w, c, machineContext);
  writeProcessStatsLine(w);
  if (list) {
    writeNamesLines(w, list);
  } else {
    for (const char* key : {"thread_names", "dispatch_queue_names"}) {
      CRSRecordBeginSection(w, key);
      CRSRecordBeginArray(w);
      CRSRecordEndArray(w);
      CRSRecordEndLine(w);
    }
  }
  writeRuntimeAndStorage(w, c);
  if (wc) {
    CRSUserRecordsWrite(&wc->user, w);
  } else {
    CRSUserData empty{};
    CRSUserRecordsWrite(&empty, w);
  }
  if (wc) wc->crashReaders.fetch_sub(1);
  if (fd >= 0) ::close(fd);
  if (list) CRSResumeOtherThreads(list);
  return true;
}
