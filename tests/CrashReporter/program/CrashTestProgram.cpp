// Crashes in the way its first argument names, after starting the crash reporter with its record
// files in the folder of the second argument. Facts the tests compare with the record are printed
// to standard output as "key=value" lines before the crash.
//
//   crash_test_program <mode> <folder>
//
// The modes "crash" and "run" start the whole reporter as the application does, with the folder
// as the main bundle (its Info.plist), on the virtual clock: "crash" sets user data and dies by
// SIGSEGV; "run" runs the main run loop until the reporter's work is done (or CRS_TEST_RUN_SECONDS
// virtual seconds passed) and prints the delegate calls it receives; with CRS_TEST_AWAIT_ANALYTICS
// it also waits until the logged analytics were sent. With CRS_TEST_COLLECT_PROCESSES, "crash"
// switches process sampling on first.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <dirent.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "CrashReporter/CRSAnalyticsController.h"
#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSCrashCapture.h"
#include "CrashReporter/CRSCrashFile.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "CrashReporter/CRSUserLogging.h"
#include "CrashReporter/CrashReporter.h"
#include "platform/core/Exception.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/foundation/Bundle.h"
#include "platform/net/URL.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "tests/CrashReporter/program/CrashDeepPath.h"
#include "tests/CrashReporter/program/CrashLibraryPaths.h"

namespace {

std::string gFolder;
const char kSession[] = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
const char kNormalised[] = "0a1b2c3d4e5f60718293a4b5c6d7e8f9";

void say(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

int threadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

// Prints the address range of a function of this program, found through its dynamic symbol.
void sayRange(const char* key, void* function) {
  Dl_info info{};
  void* entry = nullptr;
  if (::dladdr1(function, &info, &entry, RTLD_DL_SYMENT) && entry) {
    const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
    auto start = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    say(key, std::to_string(start) + " " + std::to_string(start + symbol->st_size));
  }
}

void beforeCrash() {
  say("threads", std::to_string(threadCount()));
}

// The ranges of the functions of the crash paths through the C library, and of main.
void sayLibraryPathRanges() {
  const std::pair<const char*, void (*)()> functions[] = {
      {"crs_abort_outer", crs_abort_outer},   {"crs_abort_first", crs_abort_first},
      {"crs_abort_second", crs_abort_second}, {"crs_abort_third", crs_abort_third},
      {"crs_once_outer", crs_once_outer},     {"crs_once_caller", crs_once_caller},
      {"crs_once_init", crs_once_init},       {"crs_raise_outer", crs_raise_outer},
      {"crs_raise_caller", crs_raise_caller}};
  for (const auto& [name, function] : functions) sayRange(name, reinterpret_cast<void*>(function));
  sayRange("crs_epoll_caller", reinterpret_cast<void*>(crs_epoll_caller));
  sayRange("crs_epoll_park", reinterpret_cast<void*>(crs_epoll_park));
  sayRange("crs_usr1_handler", reinterpret_cast<void*>(crs_usr1_handler));
  sayRange("main", ::dlsym(RTLD_DEFAULT, "main"));
}

// Waits until the thread `tid` sleeps in the epoll_wait (or epoll_pwait) system call.
void waitUntilInEpoll(pid_t tid) {
  std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  for (;;) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    long number = -1;
    if (file) {
      if (std::fscanf(file, "%ld", &number) != 1) number = -1;
      std::fclose(file);
    }
    if (number == SYS_epoll_wait || number == SYS_epoll_pwait) return;
    ::usleep(1000);
  }
}

// The listed image of the object loaded from `path`, or null.
const CRSBinaryImage* listedImage(const char* path) {
  const CRSBinaryImageList* list = CRSWritableContextGet()->binaryImages.load();
  for (std::uint32_t i = 0; list && i < list->count; ++i) {
    if (std::strcmp(list->entries[i].path, path) == 0) return &list->entries[i];
  }
  return nullptr;
}

// Loads the library `path`, has it listed, unloads it, and maps pages of its own at the library's
// first page and its code: faulting code where the library's code was. Answers that code, or null
// when a step failed (printed as "unloaded=").
void* unloadAndMapOver(const char* path) {
  void* library = path ? ::dlopen(path, RTLD_NOW) : nullptr;
  CRSBinaryImagesUUIDMap();
  const CRSBinaryImage* image = listedImage(path ? path : "");
  if (!library || !image || !image->codeCount) {
    say("unloaded", "not listed");
    return nullptr;
  }
  std::uint64_t header = image->address;
  std::uint64_t code = image->code[0].address & ~std::uint64_t{0xfff};
  ::dlclose(library);
  auto mapPage = [](std::uint64_t at) {
    return ::mmap(reinterpret_cast<void*>(at), 4096, PROT_READ | PROT_WRITE,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0) == reinterpret_cast<void*>(at);
  };
  if (!mapPage(header) || (code != header && !mapPage(code))) {
    say("unloaded", "not mapped over");
    return nullptr;
  }
  // movl $1, 0
  static const unsigned char kFault[] = {0xc7, 0x04, 0x25, 0, 0, 0, 0, 1, 0, 0, 0};
  std::memcpy(reinterpret_cast<void*>(code), kFault, sizeof kFault);
  ::mprotect(reinterpret_cast<void*>(code), 4096, PROT_READ | PROT_EXEC);
  say("unloaded", "yes");
  say("remapped_code", std::to_string(code) + " " + std::to_string(code + sizeof kFault));
  return reinterpret_cast<void*>(code);
}

}  // namespace

extern "C" {

// The sanitizers would report the null write instead of letting it fault.
__attribute__((noinline, no_sanitize("undefined", "address"))) void crs_null_write() {
  beforeCrash();
  *static_cast<volatile int*>(nullptr) = 1;
}

__attribute__((noinline, no_sanitize("undefined", "address"))) void crs_truncated_mapping() {
  std::string path = gFolder + "/mapped";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  long page = ::sysconf(_SC_PAGESIZE);
  ::ftruncate(fd, page);
  auto* p = static_cast<volatile char*>(::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  beforeCrash();
  p[page + 1] = 1;  // past the end of the file
}

__attribute__((noinline)) void crs_undefined_instruction() {
  beforeCrash();
  asm volatile("ud2");
}

__attribute__((noinline)) void crs_divide_by_zero() {
  beforeCrash();
  asm volatile("xor %%ecx, %%ecx\n\tmov $1, %%eax\n\txor %%edx, %%edx\n\tidiv %%ecx" ::: "eax", "ecx", "edx");
}

__attribute__((noinline)) void crs_breakpoint() {
  beforeCrash();
  asm volatile("int3");
}

// Recurses without end on purpose: the crash under test is the stack overflow it causes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int crs_recurse(int depth) {
  volatile char pad[256];
  pad[0] = static_cast<char>(depth);
  return crs_recurse(depth + 1) + pad[0];
}
#pragma GCC diagnostic pop

volatile int* volatile gNullTarget = nullptr;

// The caller of the deep path, built like the rest of this program.
__attribute__((noinline)) void crs_deep_caller() {
  beforeCrash();
  crs_deep_first(gNullTarget);
  asm volatile("" ::: "memory");
}

// Runs the code at `code`, which lies in no image.
__attribute__((noinline)) void crs_call_remapped(void (*code)()) {
  code();
  asm volatile("" ::: "memory");
}

void crs_previous_handler(int) {
  std::string path = gFolder + "/previous-handler";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) ::close(fd);
  ::signal(SIGSEGV, SIG_DFL);
}

}  // extern "C"

namespace {

std::atomic<bool> gReleased{false};

// The alternate stack the "uninstall" mode has before the reporter starts.
alignas(16) char gPreviousStack[65536];

// How many of the seven handled signals have the action `check` accepts.
template <class Check>
int signalsWhere(Check check) {
  int count = 0;
  for (int signal : CRSHandledSignals) {
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) == 0 && check(action)) ++count;
  }
  return count;
}

void holdInitialisation() {
  // Time runs out for the set-up while this part of it is still busy. The clock keeps moving until
  // the program goes on: the waiter may take its deadline only after a single step was made.
  while (!gReleased.load()) {
    ns::Clock::advance(1);
    ::sched_yield();
  }
}

void initialise(const std::string& mode) {
  std::string record = gFolder + "/" + kNormalised + ".crsrecord";
  std::string marker = gFolder + "/marker";
  std::string running = gFolder + "/session.crslog";
  std::string sessionLog = gFolder + "/" + kNormalised + ".crslog";
  CRSContextInitData data;
  data.apiKey = "test-api-key";
  data.sessionIdentifier = kSession;
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  data.requestFlags = 15;
  data.runningLogPath = running.c_str();
  data.sessionLogPath = sessionLog.c_str();
  data.buildEnvironment.configuration = "Debug";
  data.buildEnvironment.compiler = "gcc";
  data.documentsPath = gFolder.c_str();
  if (const char* machineId = ::getenv("CRS_TEST_MACHINE_ID_PATH"))
    CRSHostSetMachineIdPathForTesting(machineId);
  if (mode == "held") {
    ns::Clock::installVirtual();
    CRSContextSetInitializationHookForTesting(holdInitialisation);
  }
  CRSContextInitialize(data);
}

int run(const std::string& mode) {
  if (mode == "segv" || mode == "previous-handler") {
    sayRange("function", reinterpret_cast<void*>(crs_null_write));
    crs_null_write();
  } else if (mode == "deep") {
    sayRange("deep_third", reinterpret_cast<void*>(crs_deep_third));
    sayRange("deep_second", reinterpret_cast<void*>(crs_deep_second));
    sayRange("deep_first", reinterpret_cast<void*>(crs_deep_first));
    sayRange("deep_caller", reinterpret_cast<void*>(crs_deep_caller));
    crs_deep_caller();
  } else if (mode == "no-rows") {
    sayRange("crs_no_rows_fault", reinterpret_cast<void*>(crs_no_rows_fault));
    sayRange("crs_no_rows_third", reinterpret_cast<void*>(crs_no_rows_third));
    sayRange("crs_no_rows_second", reinterpret_cast<void*>(crs_no_rows_second));
    sayRange("crs_no_rows_first", reinterpret_cast<void*>(crs_no_rows_first));
    sayRange("main", ::dlsym(RTLD_DEFAULT, "main"));
    beforeCrash();
    crs_no_rows_first(gNullTarget);
  } else if (mode == "unloaded-library") {
    // A library listed, then unloaded before the crash, with other code at its place.
    void* code = unloadAndMapOver(::getenv("CRS_TEST_UNLOADED_LIBRARY"));
    if (!code) return 3;
    sayRange("crs_call_remapped", reinterpret_cast<void*>(crs_call_remapped));
    beforeCrash();
    crs_call_remapped(reinterpret_cast<void (*)()>(code));
  } else if (mode == "abort-deep") {
    sayLibraryPathRanges();
    beforeCrash();
    crs_abort_outer();
  } else if (mode == "once-fault") {
    sayLibraryPathRanges();
    beforeCrash();
    crs_once_outer();
  } else if (mode == "handler-fault") {
    sayLibraryPathRanges();
    beforeCrash();
    crs_raise_outer();
  } else if (mode == "epoll-parked") {
    // A thread parked in epoll_wait while the main thread faults.
    sayLibraryPathRanges();
    int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    std::atomic<pid_t> tid{0};
    auto thread = ns::make<ns::Thread>([epoll, &tid] {
      tid = static_cast<pid_t>(::syscall(SYS_gettid));
      crs_epoll_caller(epoll);
    });
    thread->setName("epoll-parked");
    thread->start();
    while (!tid.load()) ::sched_yield();
    waitUntilInEpoll(tid.load());
    crs_null_write();
  } else if (mode == "bad-frame-pointer") {
    // What rbp points at looks like a frame whose return address is text, as in code built
    // without frame pointers that keeps a pointer to data in rbp.
    static std::uint64_t fake[4];
    fake[0] = reinterpret_cast<std::uint64_t>(&fake[2]);
    std::memcpy(&fake[1], "mission", 8);
    beforeCrash();
    crs_fault_with_frame_pointer(fake);
  } else if (mode == "bus") {
    crs_truncated_mapping();
  } else if (mode == "ill") {
    crs_undefined_instruction();
  } else if (mode == "fpe") {
    crs_divide_by_zero();
  } else if (mode == "trap") {
    crs_breakpoint();
  } else if (mode == "abort") {
    beforeCrash();
    std::abort();
  } else if (mode == "sys") {
    beforeCrash();
    ::raise(SIGSYS);
  } else if (mode == "worker") {
    auto thread = ns::make<ns::Thread>([] { crs_null_write(); });
    thread->setName("crash-worker");
    thread->start();
    for (;;) ::pause();
  } else if (mode == "parked") {
    auto queue = dispatch::queueCreate("q.parked");
    auto entered = dispatch::semaphoreCreate(0);
    auto never = dispatch::semaphoreCreate(0);
    dispatch::async(queue, [entered, never] {
      dispatch::semaphoreSignal(entered);
      dispatch::semaphoreWait(never, dispatch::TimeForever);
    });
    dispatch::semaphoreWait(entered, dispatch::TimeForever);
    crs_null_write();
  } else if (mode == "exception") {
    sayLibraryPathRanges();
    beforeCrash();
    ns::Exception::raise("NSInvalidArgumentException", "a \"b\"");
  } else if (mode == "recursion") {
    beforeCrash();
    crs_recurse(0);
  } else if (mode == "worker-recursion") {
    auto thread = ns::make<ns::Thread>([] { crs_recurse(0); });
    thread->setName("deep-worker");
    thread->start();
    for (;;) ::pause();
  } else if (mode == "protected-write" || mode == "held") {
    auto* context = const_cast<CRSContext*>(CRSContextGet());
    say("initialized", CRSContextIsInitialized() ? "yes" : "no");
    beforeCrash();
    context->startedAt = 1;
    say("writable", "yes");
    gReleased = true;
    return 0;
  } else if (mode == "facts") {
    const CRSContext* context = CRSContextGet();
    say("exe_uuid", context->executable.uuid ? context->executable.uuid : "");
    say("process_name", context->process.name ? context->process.name : "");
    say("dyld_insert", context->process.dyldInsert ? "yes" : "no");
    say("device_flags", std::to_string(CRSDeviceStateFlags()));
    say("device_id", context->host.deviceIdentifier ? context->host.deviceIdentifier : "");
    say("install_id", CRSInstallIdentifier());
    say("new_install", CRSInstallIdentifierIsNew() ? "yes" : "no");
    return 0;
  } else if (mode == "convert") {
    // Converts the record named by the third argument, as the next launch does.
    const char* record = ::getenv("CRS_TEST_RECORD");
    if (!record) return 2;
    CRSCrashFile file(record);
    say("valid", file.isValid() ? "yes" : "no");
    file.setProcessingExecutableUUID(CRSContextGet()->executable.uuid ? CRSContextGet()->executable.uuid
                                                                      : "");
    file.symbolicateWithUUIDMap(CRSBinaryImagesUUIDMap());
    say("executables_match", file.executablesMatch() ? "yes" : "no");
    std::string report = std::string(record).substr(0, std::string(record).rfind('.')) + ".crs";
    say("written", file.writeCRSFileToPath(report) ? "yes" : "no");
    return 0;
  } else if (mode == "user-data") {
    CRSContextStringSet(&CRSWritableContextGet()->user.userName, std::string("Jo \"Q\""), true);
    CRSCustomAttributeSet("value \"one\"", "key \"quoted\"");
    for (int i = 0; i < 3; ++i) CRSSessionLog("line %d", i);
    sayRange("function", reinterpret_cast<void*>(crs_null_write));
    crs_null_write();
  } else if (mode == "uninstall" || mode == "uninstall-bare") {
    say("ours_before", std::to_string(signalsWhere([](const struct sigaction& a) {
          return (a.sa_flags & SA_SIGINFO) && a.sa_sigaction == CRSSignalHandler;
        })));
    CRSSignalHandlersUninstall();
    CRSSignalHandlersUninstall();  // a second time changes nothing
    say("default_after", std::to_string(signalsWhere([](const struct sigaction& a) {
          return !(a.sa_flags & SA_SIGINFO) && a.sa_handler == SIG_DFL;
        })));
    stack_t current{};
    ::sigaltstack(nullptr, &current);
    say("stack_after", (current.ss_flags & SS_DISABLE)   ? "none"
                       : current.ss_sp == gPreviousStack ? "previous"
                                                         : "other");
    // Nothing catches this fault any more: no record, no previous handler, the default death.
    crs_null_write();
  } else if (mode == "log-ring") {
    CRSUserLoggingApplySettings(64, 100);
    for (int i = 0; i < 30; ++i) CRSSessionLog("entry %02d", i);
    crs_null_write();
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  return 1;
}

}  // namespace

namespace {

constexpr char kReporterKey[] = "0123456789abcdef0123456789abcdef01234567";

class PrintingDelegate : public CrashReporterDelegate {
 public:
  void crashreporterDidDetectCrashDuringPreviousExecution(const ns::Ref<CrashReporter>&) override {
    say("crashreporterDidDetectCrashDuringPreviousExecution", "1");
  }
  void crashreporter_didDetectCrashDuringPreviousExecution(
      const ns::Ref<CrashReporter>&, const std::shared_ptr<const CRSCrashFile>& file) override {
    say("crashreporter:didDetectCrashDuringPreviousExecution:", file->identifier());
  }
};

bool folderEmpty(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return true;
  bool empty = true;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') empty = false;
  }
  ::closedir(dir);
  return empty;
}

bool anyRecord(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 10 && name.rfind(".crsrecord") == name.size() - 10) found = true;
  }
  ::closedir(dir);
  return found;
}

// Done once the settings arrived and every record went through processing and submission.
bool reporterSettled(const ns::Ref<CrashReporter>& reporter) {
  auto controller = reporter->controller();
  if (!controller || !reporter->isSettingsLoaded()) return false;
  for (const auto& folder : {controller->processingDirectory(), controller->preparedDirectory(),
                             controller->sendableDirectory(), controller->invalidDirectory()}) {
    if (!folderEmpty(folder)) return false;
  }
  return !anyRecord(controller->crashFileDirectory());
}

// With CRS_TEST_AWAIT_ANALYTICS set: done once a maintenance cycle sent what was logged, so that
// nothing is packaged and no log file is left in ACTIVE.
bool analyticsSent(const ns::Ref<CrashReporter>& reporter) {
  if (!::getenv("CRS_TEST_AWAIT_ANALYTICS")) return true;
  if (!reporter->controller()) return false;
  std::filesystem::path states = reporter->controller()->analyticsDirectory() + "/v1";
  std::error_code error;
  if (std::filesystem::exists(states / "PACKAGED", error)) return false;
  for (std::filesystem::recursive_directory_iterator it(states / "ACTIVE", error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file()) return false;
  }
  return !error;
}

int runReporter(const std::string& mode) {
  ns::Bundle::setMainBundlePathForTesting(gFolder);
  ns::Clock::installVirtual();
  if (::getenv("CRS_TEST_DEBUG")) CrashReporter::setDebugMode(true);
  auto delegate = std::make_shared<PrintingDelegate>();
  auto reporter = CrashReporter::startWithAPIKey_delegate(kReporterKey, delegate);
  if (::getenv("CRS_TEST_START_TWICE")) CrashReporter::startWithAPIKey(kReporterKey);
  struct sigaction action {};
  ::sigaction(SIGSEGV, nullptr, &action);
  bool defaultAction = !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_DFL;
  say("segv_action", defaultAction ? "default" : "handler");
  say("crash_dir", reporter->controller() ? reporter->controller()->crashFileDirectory() : "");

  if (mode == "crash") {
    CrashReporter::setUserName(::getenv("CRS_TEST_NIL_NAME") ? ns::Value() : ns::Value("alice"));
    CrashReporter::setUserIdentifier(ns::Value());
    CrashReporter::setObjectValue_forKey(ns::Value("v w"), "k");
    CrashReporter::setFloatValue_forKey(1.5f, "f");
    CrashReporter::setBoolValue_forKey(true, "yes");
    CrashReporter::setBoolValue_forKey(false, "no");
    CrashReporter::setIntValue_forKey(-7, "i");
    CrashReporter::setObjectValue_forKey(ns::Value(ns::URL::URLWithString("http://example.com/a?b=c%20d")),
                                         "u");
    CRSSessionLog("run one wrote this");
    // With CRS_TEST_COLLECT_PROCESSES the running processes are sampled before the crash.
    if (::getenv("CRS_TEST_COLLECT_PROCESSES"))
      reporter->controller_collectProcesses(reporter->controller(), true);
    say("pid", std::to_string(::getpid()));
    crs_null_write();
    return 1;
  }
  // The reporter's queues take their deadlines whenever they get to it: the clock keeps moving in
  // small steps until the work is done, slowly enough that requests in flight do not time out.
  const char* limitText = ::getenv("CRS_TEST_RUN_SECONDS");
  double limit = limitText ? std::atof(limitText) : 60;
  double start = ns::Clock::now();
  auto mainLoop = ns::RunLoop::mainRunLoop();
  while (ns::Clock::now() - start < limit) {
    mainLoop->runUntil([] { return false; }, 0.01);
    if (!limitText && ns::Clock::now() - start > 1.5 && reporterSettled(reporter) && analyticsSent(reporter))
      break;
    ns::Clock::advance(0.02);
  }
  // Analytics work still queued, such as the previous run's crash.
  if (auto analytics = reporter->analyticsController()) {
    auto flushed = std::make_shared<std::atomic<bool>>(false);
    dispatch::async(analytics->sessionMaintenanceQueue(), [flushed] { *flushed = true; });
    mainLoop->runUntil([flushed] { return flushed->load(); }, 30);
  }
  // Delegate calls still queued for the main thread.
  mainLoop->runUntil([] { return false; }, 0.05);
  say("settled", reporterSettled(reporter) ? "yes" : "no");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: crash_test_program <mode> <folder>\n");
    return 2;
  }
  rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  std::string mode = argv[1];
  gFolder = argv[2];
  if (mode == "crash" || mode == "run") return runReporter(mode);
  if (mode == "previous-handler" || mode == "uninstall") ::signal(SIGSEGV, crs_previous_handler);
  if (mode == "uninstall") {
    stack_t previous{};
    previous.ss_sp = gPreviousStack;
    previous.ss_size = sizeof gPreviousStack;
    ::sigaltstack(&previous, nullptr);
  } else if (mode == "uninstall-bare") {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
  }
  initialise(mode);
  return run(mode);
}
