#pragma once
// The crash reporter's runtime record. CRSContext lives in the allocator's protected pool and is
// read-only once initialisation finished; CRSWritableContext lives in the writable pool. Both hold
// plain NUL-terminated strings and numbers so that the crash handler reads them without locks or
// allocation.
#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "CrashReporter/CRSAllocator.h"
#include "CrashReporter/CRSUserLogging.h"

namespace dispatch {
class Queue;
class Source;
}  // namespace dispatch

inline constexpr char CRSGenerator[] = "CrashReporter Mac SDK/2.2.5";
inline constexpr int CRSSignalCount = 7;
// The handled signals, in the order of the saved-action table.
inline constexpr int CRSHandledSignals[CRSSignalCount] = {SIGABRT, SIGBUS, SIGFPE, SIGILL,
                                                          SIGSEGV, SIGSYS, SIGTRAP};
inline constexpr std::size_t CRSAlternateStackSize = 131072;
inline constexpr std::size_t CRSMachServerStackSize = 262144;
inline constexpr int CRSMaxThreads = 256;
inline constexpr int CRSMaxFrames = 512;
inline constexpr std::size_t CRSQueueLabelSize = 128;
inline constexpr std::size_t CRSThreadNameSize = 64;

struct CRSBuildEnvironment {
  std::int32_t minOS = 0;
  std::int32_t maxOS = 0;
  const char* configuration = nullptr;
  bool arc = false;
  const char* compiler = nullptr;
  bool debug = false;
};

struct CRSContextInitData {
  const char* apiKey = nullptr;
  const char* sessionIdentifier = nullptr;
  const char* recordPath = nullptr;
  const char* crashMarkerPath = nullptr;
  std::uint32_t requestFlags = 0;
  const char* runningLogPath = nullptr;
  const char* sessionLogPath = nullptr;
  const char* conversionTrackingIdentifier = nullptr;
  CRSBuildEnvironment buildEnvironment;
  std::function<void()> hourlyCallback;
  std::uint32_t machExceptionExclusionMask = 0;
  // The file system of this folder is reported as the record's storage.
  const char* documentsPath = nullptr;
};

struct CRSHostInfo {
  const char* model;
  const char* machine;
  const char* locale;
  const char* osBuild;
  const char* osVersion;
  const char* platform;
  std::uint32_t platformCode;
  std::uint32_t cores;
  const char* cpu;
  std::uint8_t reserved;
  std::uint8_t vendorInternal;
  const char* storagePath;
  std::uint32_t requestFlags;
  const char* deviceIdentifier;
  const char* vendorIdentifier;
  const char* advertisingIdentifier;
  const char* installIdentifier;
  const char* fontToken;
};

struct CRSProcessInfo {
  std::int32_t pid;
  std::int32_t parentPid;
  const char* name;
  const char* parentName;
  std::uint8_t debugger;
  std::uint8_t dyldInsert;
};

struct CRSExecutableInfo {
  const char* path;
  std::uint64_t address;
  std::uint64_t size;
  std::uint8_t encrypted;
  const char* uuid;
  const char* bundleIdentifier;
  const char* version;
  const char* displayVersion;
  const char* name;
  const char* architecture;
  const char* sliceArchitectures;
  const char* sliceUUIDs;
  const char* sdkVersion;
  const char* minimumOSVersion;
};

struct CRSSignalRecord {
  struct sigaction previous[CRSSignalCount];
  std::uint8_t hasPrevious[CRSSignalCount];
  stack_t previousStack;
  std::uint8_t hasPreviousStack;
  void* alternateStack;
  // The real-time signal that parks the other threads at crash time; 0 when none was free.
  int suspendSignal;
};

struct CRSBuildRecord {
  std::uint32_t minOS;
  std::uint32_t maxOS;
  const char* configuration;
  std::uint8_t arc;
  const char* compiler;
  std::uint8_t debug;
};

struct CRSContext {
  const char* recordPath;
  const char* crashMarkerPath;
  const char* apiKey;
  const char* generator;
  const char* sessionIdentifier;
  std::int64_t startedAt;
  CRSHostInfo host;
  CRSProcessInfo process;
  CRSExecutableInfo executable;
  CRSSignalRecord signals;
  CRSBuildRecord build;
  std::uint8_t captureFlags[4];
  std::uint8_t conversionTracking;
};

struct CRSFrameRecord {
  std::uint64_t address;
  const char* symbol;
  const char* file;
  std::uint32_t line;
  std::uint32_t type;
  std::uint32_t context;
};

// A recorded exception in one malloc'd block: this header, then the frames, then every string
// (name, reason, the frames' symbols and files). It never changes once published, so a reader
// that loaded the block sees one exception whole.
struct CRSException {
  const char* name;
  const char* reason;
  std::uint32_t frameCount;
  const CRSFrameRecord* frames;
};

struct CRSExceptionRecord {
  std::atomic<void (*)()> previousHandler;
  // Replaced by one exchange; the replaced block is retired (CRSContextRetire).
  std::atomic<const CRSException*> current;
};

// One entry per thread listed at crash time. The crashing thread fills tid and name; the listed
// thread fills the rest from its suspension handler.
struct CRSThreadSlot {
  pid_t tid;
  std::atomic<std::uint32_t> answered;  // futex word: 1 once registers and label are stored
  std::uint64_t registers[23];          // the ucontext gregs
  // The thread's stack, [stackLow, stackHigh), when it was noted before the crash; 0 and 0 when
  // not known.
  std::uint64_t stackLow;
  std::uint64_t stackHigh;
  char queueLabel[CRSQueueLabelSize];
  char name[CRSThreadNameSize];
};

struct CRSThreadList {
  int count;
  int crashedIndex;
  std::atomic<std::uint32_t> resume;  // futex word the parked threads wait on
  CRSThreadSlot slots[CRSMaxThreads];
};

// Lists filled outside crash time and published whole with one atomic store.
inline constexpr int CRSMaxCodeRanges = 4;
struct CRSCodeRange {
  std::uint64_t address;
  std::uint64_t size;
};
struct CRSBinaryImage {
  const char* path;
  const char* uuid;
  std::uint64_t address;
  std::uint64_t size;  // span of the loadable segments (the record's image size)
  // What the crash-time frame walk reads, noted when the list is built so that it need not ask the
  // dynamic loader (whose lock may be held by a parked thread): the image's unwind search table
  // (PT_GNU_EH_FRAME, 0 when it has none) and its executable segments, the only code it holds.
  std::uint64_t ehFrameHdr = 0;
  std::uint64_t ehFrameHdrSize = 0;
  std::uint32_t codeCount = 0;
  CRSCodeRange code[CRSMaxCodeRanges] = {};
  // The program itself, built with frame pointers: its frames are walked by their frame-pointer
  // chain; the other images' frames by their unwind tables.
  std::uint8_t mainProgram = 0;
  // What tells at crash time that the object is still the one mapped at `address` (a library
  // unloaded since the list was built may have left its place to another object): a hash of its
  // ELF header and of its build identifier's bytes (at buildIdAddress, buildIdSize of them) as
  // they were mapped (CRSBinaryImageIdentity); 0 when not noted, and then not checked.
  std::uint64_t identity = 0;
  std::uint64_t buildIdAddress = 0;
  std::uint32_t buildIdSize = 0;
};
struct CRSBinaryImageList {
  std::uint32_t count;
  const CRSBinaryImage* entries;
};
struct CRSProcessEntry {
  std::int32_t pid;
  const char* name;
};
struct CRSProcessList {
  std::uint32_t count;
  const CRSProcessEntry* entries;
};

struct CRSWritableContext {
  std::shared_ptr<dispatch::Queue>* contextQueue;
  std::atomic<std::uint8_t> state;
  std::atomic<std::uint8_t> machHandled;
  // Set by the first thread that starts writing a record; a second crashing thread parks.
  std::atomic<std::uint32_t> crashing;
  CRSExceptionRecord exception;
  std::atomic<const CRSBinaryImageList*> binaryImages;
  CRSUserData user;
  std::atomic<const CRSProcessList*> processList;
  // Crash-time writers reading what setters swap out (the process list, the user identity,
  // custom keys, the battery level, the development platform, the exception): a replaced block is
  // retired, and freed only when none is counted.
  std::atomic<std::uint32_t> crashReaders;
  std::uint32_t deviceOrientation;
  std::uint32_t uiOrientation;
  std::atomic<char*> batteryLevel;
  std::uint32_t chargingState;
  std::uint8_t proximityOn;
  std::uint8_t backgrounded;
  std::atomic<std::uint64_t> conversionIdentifier;
  std::atomic<char*> developmentPlatform;
  std::atomic<char*> developmentPlatformVersion;
  // Only with conversion tracking on: a timer on the context queue that calls the callback hourly.
  std::shared_ptr<dispatch::Source>* hourlyTimer;
  std::function<void()>* hourlyCallback;
  CRSThreadList threads;
};

// Builds the context, installs the signal and uncaught-exception handlers and protects the
// context. Once per process; later calls do nothing.
void CRSContextInitialize(const CRSContextInitData& data);
bool CRSContextIsInitialized();
const CRSContext* CRSContextGet();
CRSWritableContext* CRSWritableContextGet();
CRSAllocator* CRSContextAllocator();
// The serial queue "com.crashreporter.context-queue" (null before initialisation).
std::shared_ptr<dispatch::Queue> CRSContextQueue();

// Mask bits of the platform's exception types, kept for the exclusion mask callers pass in.
inline constexpr std::uint32_t CRSExceptionMaskBadAccess = 1u << 1;
inline constexpr std::uint32_t CRSExceptionMaskBadInstruction = 1u << 2;
inline constexpr std::uint32_t CRSExceptionMaskArithmetic = 1u << 3;
inline constexpr std::uint32_t CRSExceptionMaskBreakpoint = 1u << 6;
// The exception types an exception server would take: bad access, bad instruction, arithmetic
// and breakpoint, less the exclusion mask, and less breakpoint when the process is traced. There
// is no exception server on this system; the signal handlers catch these faults.
std::uint32_t CRSMachExceptionMaskForExclusion(std::uint32_t exclusionMask, bool traced);

// Test hooks. The fan-out runs `hook` alongside the fact gatherers, so a test can hold
// initialisation past its time limit.
void CRSContextSetInitializationHookForTesting(void (*hook)());
