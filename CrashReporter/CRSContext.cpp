#include "CrashReporter/CRSContext.h"

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <new>

#include "CrashReporter/CRSApplicationInfo.h"
#include "CrashReporter/CRSCrashCapture.h"
#include "CrashReporter/CRSCrashRecord.h"
#include "CrashReporter/CRSSafeLog.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/runloop/ThreadStartHook.h"

namespace {

std::atomic<CRSAllocator*> gAllocator{nullptr};
std::atomic<CRSContext*> gContext{nullptr};
std::atomic<CRSWritableContext*> gWritable{nullptr};
std::atomic<bool> gStarted{false};
std::atomic<void (*)()> gInitializationHook{nullptr};

const char* copyString(CRSAllocator* allocator, const char* text) {
  if (!text) return nullptr;
  std::size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(CRSAllocatorAlloc(allocator, length + 1, CRSAllocatorProtectedPool));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length + 1);
  return copy;
}

constexpr double kHourlyInterval = 3600;
constexpr double kHourlyLeeway = 120;

// Calls the stored callback (a settings reload) every hour, first an hour from now, on the context
// queue. The timer stays for the life of the process.
void startHourlyTimer(CRSWritableContext* writable) {
  auto queue = CRSContextQueue();
  std::function<void()>* callback = writable->hourlyCallback;
  if (!queue || !callback) return;
  auto timer = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, queue);
  timer->setTimer(dispatch::time(kHourlyInterval), kHourlyInterval, kHourlyLeeway);
  timer->setEventHandler([callback] { (*callback)(); });
  writable->hourlyTimer = new std::shared_ptr<dispatch::Source>(timer);
  timer->resume();
}

}  // namespace

std::uint32_t CRSMachExceptionMaskForExclusion(std::uint32_t exclusionMask, bool traced) {
  std::uint32_t mask = CRSExceptionMaskBadAccess | CRSExceptionMaskBadInstruction |
                       CRSExceptionMaskArithmetic | CRSExceptionMaskBreakpoint;
  mask &= ~exclusionMask;
  if (traced) mask &= ~CRSExceptionMaskBreakpoint;
  return mask;
}

void CRSContextSetInitializationHookForTesting(void (*hook)()) {
  gInitializationHook = hook;
}

const CRSContext* CRSContextGet() {
  return gContext.load(std::memory_order_acquire);
}

CRSWritableContext* CRSWritableContextGet() {
  return gWritable.load(std::memory_order_acquire);
}

CRSAllocator* CRSContextAllocator() {
  return gAllocator.load(std::memory_order_acquire);
}

bool CRSContextIsInitialized() {
  CRSWritableContext* wc = CRSWritableContextGet();
  return wc && (wc->state.load() & 1);
}

std::shared_ptr<dispatch::Queue> CRSContextQueue() {
  CRSWritableContext* wc = CRSWritableContextGet();
  return wc && wc->contextQueue ? *wc->contextQueue : nullptr;
}

void CRSContextInitialize(const CRSContextInitData& data) {
  if (gStarted.exchange(true)) return;
  long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) page = 4096;
  CRSAllocator* allocator = CRSAllocatorCreate(CRSAlternateStackSize + sizeof(CRSWritableContext),
                                               2 * static_cast<std::size_t>(page) + sizeof(CRSContext));
  gAllocator = allocator;
  auto* context =
      new (CRSAllocatorAlloc(allocator, sizeof(CRSContext), CRSAllocatorProtectedPool)) CRSContext{};
  void* alternateStack = CRSAllocatorAlloc(allocator, CRSAlternateStackSize, CRSAllocatorWritablePool);
  auto* writable = new (CRSAllocatorAlloc(allocator, sizeof(CRSWritableContext), CRSAllocatorWritablePool))
      CRSWritableContext{};

  context->recordPath = copyString(allocator, data.recordPath);
  context->crashMarkerPath = copyString(allocator, data.crashMarkerPath);
  context->apiKey = copyString(allocator, data.apiKey);
  context->generator = copyString(allocator, CRSGenerator);
  context->sessionIdentifier = copyString(allocator, data.sessionIdentifier);
  context->startedAt = static_cast<std::int64_t>(::time(nullptr));
  context->build.minOS = static_cast<std::uint32_t>(data.buildEnvironment.minOS);
  context->build.maxOS = static_cast<std::uint32_t>(data.buildEnvironment.maxOS);
  context->build.configuration = copyString(allocator, data.buildEnvironment.configuration);
  context->build.arc = data.buildEnvironment.arc;
  context->build.compiler = copyString(allocator, data.buildEnvironment.compiler);
  context->build.debug = data.buildEnvironment.debug;
  std::memset(context->captureFlags, 1, sizeof context->captureFlags);
  context->host.requestFlags = data.requestFlags;
  context->host.advertisingIdentifier = copyString(allocator, data.conversionTrackingIdentifier);
  context->host.storagePath = copyString(allocator, data.documentsPath);
  context->conversionTracking = CRSConversionTrackingEnabled();
  if (context->conversionTracking && data.hourlyCallback)
    writable->hourlyCallback = new std::function<void()>(data.hourlyCallback);
  writable->deviceOrientation = 1;
  writable->uiOrientation = 1;
  gContext.store(context, std::memory_order_release);
  gWritable.store(writable, std::memory_order_release);

  // Handlers first: a crash during the rest of set-up is still written with what is there.
  CRSSignalHandlersInstall(context, alternateStack);
  CRSThreadNoteStackBounds();
  ns::addThreadStartHook(CRSThreadPrepare);

  writable->contextQueue =
      new std::shared_ptr<dispatch::Queue>(dispatch::queueCreate("com.crashreporter.context-queue"));

  auto group = dispatch::groupCreate();
  auto global = dispatch::globalQueue();
  std::string runningLog = data.runningLogPath ? data.runningLogPath : "";
  std::string sessionLog = data.sessionLogPath ? data.sessionLogPath : "";
  bool hasLogs = data.runningLogPath && data.sessionLogPath;
  dispatch::groupAsync(group, global, [context] { CRSHostInfoGather(context); });
  dispatch::groupAsync(group, global, [context] { CRSProcessInfoGather(context); });
  dispatch::groupAsync(group, global, [context] { CRSExecutableInfoGather(context); });
  dispatch::groupAsync(group, global, [writable] {
    dispatch::sync(CRSContextQueue(), [writable] { CRSBinaryImagesStartTracking(writable); });
  });
  dispatch::groupAsync(group, global, [] { CRSUncaughtExceptionHandlerInstall(); });
  dispatch::groupAsync(group, global, [writable, runningLog, sessionLog, hasLogs] {
    CRSUserLoggingInit(&writable->user, hasLogs ? runningLog.c_str() : nullptr,
                       hasLogs ? sessionLog.c_str() : nullptr);
  });
  if (context->conversionTracking)
    dispatch::groupAsync(group, global, [writable] { startHourlyTimer(writable); });
  if (auto hook = gInitializationHook.load()) dispatch::groupAsync(group, global, [hook] { hook(); });
  if (dispatch::groupWait(group, dispatch::time(5)) != 0) {
    // Set-up is still running and may still fill the context: it stays writable.
  } else if (!CRSAllocatorProtect(allocator)) {
    CRSSafeLog("[CrashReporter] [Context] Memory protection failed\n");
  }
  writable->state.fetch_add(1);
}
