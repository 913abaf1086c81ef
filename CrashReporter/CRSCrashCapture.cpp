#include "CrashReporter/CRSCrashCapture.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSCrashRecord.h"
#include "CrashReporter/CRSSafeLog.h"
#include "CrashReporter/CRSUserLogging.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"

namespace {

void setDefaultActions() {
  for (int signal : CRSHandledSignals) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (::sigaction(signal, &action, nullptr) != 0) CRSSafeLog("Unable to set default handler for %d (%s)\n");
  }
}

// Set once the saved alternate stack went back for good (the context itself is read-only).
std::atomic<bool> gPreviousStackForgotten{false};

void restorePrevious(const CRSContext* context) {
  setDefaultActions();
  if (!context) return;
  // The kernel refuses to change the stack a handler runs on; the saved stack was the installing
  // thread's anyway, so it goes back only from outside a handler on that stack.
  stack_t current{};
  bool onAlternateStack = ::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK);
  if (context->signals.hasPreviousStack && !onAlternateStack && !gPreviousStackForgotten.load() &&
      ::sigaltstack(&context->signals.previousStack, nullptr) != 0) {
    CRSSafeLog("Unable to setup stack %s\n");
  }
  for (int i = 0; i < CRSSignalCount; ++i) {
    if (!context->signals.hasPrevious[i]) continue;
    if (::sigaction(CRSHandledSignals[i], &context->signals.previous[i], nullptr) != 0) {
      CRSSafeLog("Unable to install handler for %d (%s)\n");
    }
  }
}

// The real-time signal reserved for parking threads: the first one nobody handles.
int reserveSuspendSignal() {
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0) continue;
    bool taken =
        (current.sa_flags & SA_SIGINFO) ? current.sa_sigaction != nullptr : current.sa_handler != SIG_DFL;
    if (taken) continue;
    struct sigaction action {};
    action.sa_sigaction = CRSSuspendSignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    // Nothing else interrupts a parked thread, but faults still reach it.
    sigfillset(&action.sa_mask);
    for (int handled : CRSHandledSignals) sigdelset(&action.sa_mask, handled);
    if (::sigaction(signal, &action, nullptr) == 0) return signal;
  }
  CRSSafeLog("Unable to reserve a signal to suspend threads\n");
  return 0;
}

void unblock(int signal) {
  if (!signal) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// An alternate stack made for a thread, removed when the thread ends.
struct ThreadStack {
  void* mapping = nullptr;
  std::size_t size = 0;
  ~ThreadStack() {
    if (!mapping) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == static_cast<char*>(mapping) + guardSize()) {
      ::sigaltstack(&off, nullptr);
    }
    ::munmap(mapping, size);
  }
  static std::size_t guardSize() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }
};

thread_local ThreadStack tlStack;

std::terminate_handler gOurTerminate = nullptr;

// Lays the exception out in one block (see CRSException): the header, the frames, then the
// strings. Null when the memory cannot be had.
const CRSException* makeException(const std::string& name, const std::string& reason,
                                  const std::vector<CRSStackFrame>& frames) {
  std::size_t count = frames.size();
  std::size_t bytes =
      sizeof(CRSException) + count * sizeof(CRSFrameRecord) + name.size() + 1 + reason.size() + 1;
  for (const auto& frame : frames) {
    if (frame.symbol) bytes += frame.symbol->size() + 1;
    if (frame.fileName) bytes += frame.fileName->size() + 1;
  }
  void* block = std::calloc(1, bytes);
  if (!block) return nullptr;
  auto* exception = static_cast<CRSException*>(block);
  auto* records = reinterpret_cast<CRSFrameRecord*>(exception + 1);
  char* text = reinterpret_cast<char*>(records + count);
  auto place = [&text](const std::string& value) {
    char* at = text;
    std::memcpy(at, value.c_str(), value.size() + 1);
    text += value.size() + 1;
    return at;
  };
  exception->name = place(name);
  exception->reason = place(reason);
  for (std::size_t i = 0; i < count; ++i) {
    records[i].address = frames[i].address;
    records[i].symbol = frames[i].symbol ? place(*frames[i].symbol) : nullptr;
    records[i].file = frames[i].fileName ? place(*frames[i].fileName) : nullptr;
    records[i].line = static_cast<std::uint32_t>(frames[i].lineNumber);
  }
  exception->frameCount = static_cast<std::uint32_t>(count);
  exception->frames = records;
  return exception;
}

// Publishes `exception` (or none) with one exchange. A crash writer on another thread may be
// reading the block replaced here: it is retired, and freed once no writer reads.
void storeException(const CRSException* exception) {
  CRSWritableContext* wc = CRSWritableContextGet();
  if (!wc) {
    std::free(const_cast<CRSException*>(exception));
    return;
  }
  CRSContextRetire(const_cast<CRSException*>(wc->exception.current.exchange(exception)));
}

std::string typeName(const std::type_info* type) {
  if (!type) return "unknown";
  int status = 0;
  char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type->name();
  std::free(demangled);
  return name;
}

[[noreturn]] void terminateHandler() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type) {
    std::string reason;
    try {
      throw;
    } catch (const ns::Exception& e) {
      reason = e.reason();
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
    }
    void* addresses[128];
    int count = ::backtrace(addresses, 128);
    std::vector<CRSStackFrame> frames;
    for (int i = 0; i < count; ++i)
      frames.push_back(CRSStackFrame::stackFrameWithAddress(reinterpret_cast<std::uint64_t>(addresses[i])));
    if (const CRSException* exception = makeException(typeName(type), CRSPercentEscape(reason), frames))
      storeException(exception);
  }
  CRSWritableContext* wc = CRSWritableContextGet();
  void (*previous)() = wc ? wc->exception.previousHandler.load() : nullptr;
  Dl_info info{};
  // A handler we cannot name is not called, nor the one of a known interfering library.
  if (previous && ::dladdr(reinterpret_cast<void*>(previous), &info) != 0 && info.dli_sname &&
      std::strcmp(info.dli_sname, "TFHandleExceptions") != 0) {
    previous();
  }
  std::abort();
}

const char* signalAbbreviation(int signal, char* buffer, std::size_t size) {
  const char* name = ::sigabbrev_np(signal);
  std::size_t i = 0;
  for (; name && name[i] && i + 1 < size; ++i) buffer[i] = static_cast<char>(std::tolower(name[i]));
  buffer[i] = '\0';
  return buffer;
}

void describe(void* address, std::string& symbol, std::string& image) {
  Dl_info info{};
  symbol = "unknown";
  image = "unknown";
  if (address && ::dladdr(address, &info) != 0) {
    if (info.dli_sname) symbol = info.dli_sname;
    if (info.dli_fname) image = info.dli_fname;
  }
}

}  // namespace

void CRSSignalHandler(int signal, siginfo_t* info, void* machineContext) {
  int savedErrno = errno;
  errno = 0;
  const CRSContext* context = CRSContextGet();
  setDefaultActions();
  sigset_t none;
  sigemptyset(&none);
  if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0) {
    CRSSafeLog("Unable to unmask signals - we risk infinite recursion here.");
  }
  if (reinterpret_cast<std::uintptr_t>(info) < 4096) info = nullptr;
  if (reinterpret_cast<std::uintptr_t>(machineContext) < 4096) machineContext = nullptr;
  CRSSafeLog("signal %d, info %p, uapVoid %p\n");
  CRSWritableContext* wc = CRSWritableContextGet();
  bool handledElsewhere = wc && (wc->machHandled.load() & 1);
  if (!handledElsewhere && !CRSCrashRecordWrite(savedErrno, info, machineContext)) {
    // Another thread is writing the record and will end the process.
    for (;;) ::pause();
  }
  restorePrevious(context);
  errno = savedErrno;
  if (::raise(signal) != 0) {
    CRSSafeLog("Unable to re-raise signal %d");
    ::_exit(128 + signal);
  }
}

void CRSSignalHandlersInstall(CRSContext* context, void* alternateStack) {
  CRSSignalRecord& record = context->signals;
  record.alternateStack = alternateStack;
  stack_t ours{};
  ours.ss_sp = alternateStack;
  ours.ss_size = CRSAlternateStackSize;
  ours.ss_flags = 0;
  stack_t previous{};
  if (::sigaltstack(&ours, &previous) != 0) {
    CRSSafeLog("Unable to setup stack %s\n");
  } else if (!(previous.ss_flags & SS_DISABLE)) {
    record.previousStack = previous;
    record.hasPreviousStack = 1;
  }
  record.suspendSignal = reserveSuspendSignal();
  for (int i = 0; i < CRSSignalCount; ++i) {
    struct sigaction action {};
    action.sa_sigaction = CRSSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    struct sigaction old {};
    if (::sigaction(CRSHandledSignals[i], &action, &old) != 0) {
      CRSSafeLog("Unable to install handler for %d (%s)\n");
      continue;
    }
    bool hadHandler = (old.sa_flags & SA_SIGINFO) ? old.sa_sigaction != nullptr
                                                  : (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN);
    if (hadHandler) {
      record.previous[i] = old;
      record.hasPrevious[i] = 1;
    }
  }
}

void CRSSignalHandlersUninstall() {
  const CRSContext* context = CRSContextGet();
  restorePrevious(context);
  setDefaultActions();
  if (!context) return;
  stack_t current{};
  if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_ONSTACK)) return;
  if (context->signals.hasPreviousStack) {
    if (!gPreviousStackForgotten.exchange(true) &&
        ::sigaltstack(&context->signals.previousStack, nullptr) != 0)
      CRSSafeLog("Unable to setup stack %s\n");
  } else if (!(current.ss_flags & SS_DISABLE) && current.ss_sp == context->signals.alternateStack) {
    // There was none before ours.
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    if (::sigaltstack(&off, nullptr) != 0) CRSSafeLog("Unable to setup stack %s\n");
  }
}

void CRSThreadPrepare() {
  CRSThreadNoteStackBounds();
  const CRSContext* context = CRSContextGet();
  if (context) unblock(context->signals.suspendSignal);
  stack_t current{};
  if (::sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE) || tlStack.mapping) return;
  std::size_t guard = ThreadStack::guardSize();
  std::size_t size = CRSAlternateStackSize + guard;
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return;
  // A guard page below the stack turns an overflow of the handler itself into a fault.
  ::mprotect(mapping, guard, PROT_NONE);
  stack_t ours{};
  ours.ss_sp = static_cast<char*>(mapping) + guard;
  ours.ss_size = CRSAlternateStackSize;
  if (::sigaltstack(&ours, nullptr) != 0) {
    ::munmap(mapping, size);
    return;
  }
  tlStack.mapping = mapping;
  tlStack.size = size;
}

void CRSUncaughtExceptionHandlerInstall() {
  CRSWritableContext* wc = CRSWritableContextGet();
  if (!wc) return;
  gOurTerminate = terminateHandler;
  std::terminate_handler previous = std::set_terminate(terminateHandler);
  wc->exception.previousHandler = previous == terminateHandler ? nullptr : previous;
  storeException(nullptr);
}

void CRSRecordCustomException(const std::string& name, const std::string& reason,
                              const std::vector<CRSStackFrame>& frames) {
  if (!CRSContextIsInitialized()) return;
  if (const CRSException* exception = makeException(name, CRSPercentEscape(reason), frames))
    storeException(exception);
}

int CRSCheckExceptionAndSignalHandlers() {
  int warnings = 0;
  std::string symbol, image;
  std::terminate_handler current = std::get_terminate();
  if (current != terminateHandler) {
    describe(reinterpret_cast<void*>(current), symbol, image);
    ns::LogWarning("[CrashReporter] Warning: NSUncaughtExceptionHandler is '%s' in '%s'", symbol, image);
    ++warnings;
  }
  for (int signal : CRSHandledSignals) {
    char name[16];
    signalAbbreviation(signal, name, sizeof name);
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) != 0) {
      ns::LogWarning("[CrashReporter] Warning: Missing sig%s handler", std::string(name));
      ++warnings;
      continue;
    }
    if ((action.sa_flags & SA_SIGINFO) && action.sa_sigaction == CRSSignalHandler) continue;
    void* handler = (action.sa_flags & SA_SIGINFO) ? reinterpret_cast<void*>(action.sa_sigaction)
                                                   : reinterpret_cast<void*>(action.sa_handler);
    describe(reinterpret_cast<std::uintptr_t>(handler) < 4096 ? nullptr : handler, symbol, image);
    ns::LogWarning("[CrashReporter] Warning: sig%s handler is '%s' in '%s'", std::string(name), symbol,
                   image);
    ++warnings;
  }
  return warnings;
}
