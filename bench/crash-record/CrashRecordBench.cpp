// A crash record's stack walks, before and after the walk learnt to step through code that keeps
// no frame pointer by its unwind table. Three stacks:
//  - program: 32 calls of this program's own code (frame pointers all the way);
//  - callback: 16 calls of the program under a qsort comparator, qsort (the C library) under
//    16 more;
//  - parked: a thread waiting in epoll_wait under 16 calls of the program, walked by another
//    thread from the registers its signal handler copied, as the crash handler walks the threads
//    it parks.
// For each: the frames found and the time of one walk (median of rounds) of the frame-pointer walk
// as it was before this change (a copy of it, below), of the new walk (CRSStackWalk), each alone
// and with its frames written as the record writes them (to /dev/null), and of glibc's
// backtrace() where it can run (on its own stack). Then the time of whole crash records of a
// process with 8 threads parked in epoll_wait, with the new walk.
// A driver, not a test: run it by hand on a quiet machine from a Release build:
//
//   build/release-bench/bench/crash-record/crash_record_bench
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSCrashCapture.h"
#include "CrashReporter/CRSCrashRecord.h"
#include "CrashReporter/CRSRecordWriter.h"
#include "CrashReporter/CRSStackWalk.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "CrashReporter/CRSUnwind.h"
#include "bench/BenchKit.h"

namespace {

constexpr int kWalksPerRound = 2000;
constexpr int kRounds = 7;
constexpr int kRecords = 9;
constexpr int kParkedThreads = 8;

// ---- the walk before this change (CRSCrashRecord.cpp as it was), kept as the reference ----
namespace before {

// Whether `address` lies in a loaded object: the whole span of a listed image, data included.
bool inLoadedObject(const CRSBinaryImageList* images, std::uint64_t address) {
  for (std::uint32_t i = 0; images && i < images->count; ++i) {
    const CRSBinaryImage& image = images->entries[i];
    if (address >= image.address && address - image.address < image.size) return true;
  }
  return false;
}

int walk(const std::uint64_t* gregs, std::uint64_t stackLow, std::uint64_t stackHigh,
         const CRSBinaryImageList* images, std::uint64_t* frames, int capacity) {
  int count = 0;
  std::uint64_t pc = gregs[REG_RIP];
  std::uint64_t fp = gregs[REG_RBP];
  std::uint64_t sp = gregs[REG_RSP];
  bool bounded = stackLow < stackHigh && sp >= stackLow && sp < stackHigh;
  frames[count++] = pc;
  std::uint64_t top = 0;
  if (sp % 8 == 0 && sp < fp && CRSReadMemory(&top, sp, sizeof top) && top != pc &&
      inLoadedObject(images, top) && CRSFollowsCall(top)) {
    std::uint64_t pair[2] = {0, 0};
    if (!CRSReadMemory(pair, fp, sizeof pair) || pair[1] != top) frames[count++] = top;
  }
  while (count < capacity) {
    if (fp % 8 != 0 || fp < sp) break;
    if (bounded && (fp < stackLow || fp > stackHigh - 16)) break;
    std::uint64_t pair[2];
    if (!CRSReadMemory(pair, fp, sizeof pair)) break;
    if (pair[0] < 4096 || pair[1] < 4096) break;
    if (pair[0] <= fp || pair[0] % 8 != 0) break;
    if (bounded && pair[0] > stackHigh - 16) break;
    frames[count++] = pair[1];
    fp = pair[0];
  }
  return count;
}

}  // namespace before

// ---- the stacks ----

class Images {
 public:
  Images() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
          CRSBinaryImage image = CRSBinaryImageOfLoadedObject(info, "/proc/self/exe");
          if (image.address) static_cast<std::vector<CRSBinaryImage>*>(data)->push_back(image);
          return 0;
        },
        &images_);
    list_ = CRSBinaryImageList{static_cast<std::uint32_t>(images_.size()), images_.data()};
  }
  const CRSBinaryImageList* list() const { return &list_; }

 private:
  std::vector<CRSBinaryImage> images_;
  CRSBinaryImageList list_{};
};

struct Stack {
  std::uint64_t gregs[NGREG];
  std::uint64_t low = 0, high = 0;
};

void boundsOfThisThread(Stack* stack) {
  pthread_attr_t attributes;
  if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return;
  void* start = nullptr;
  std::size_t size = 0;
  ::pthread_attr_getstack(&attributes, &start, &size);
  ::pthread_attr_destroy(&attributes);
  stack->low = reinterpret_cast<std::uint64_t>(start);
  stack->high = stack->low + size;
}

using AtBottom = std::function<void()>;

// `depth` calls of the program, then `bottom`.
__attribute__((noinline)) void descend(int depth, const AtBottom& bottom) {
  if (depth == 0) {
    bottom();
  } else {
    descend(depth - 1, bottom);
  }
  asm volatile("" ::: "memory");
}

const AtBottom* gComparatorBottom = nullptr;

int compareAndDescend(const void* a, const void* b) {
  if (const AtBottom* bottom = gComparatorBottom) {
    gComparatorBottom = nullptr;
    descend(16, *bottom);
  }
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

// ---- measuring ----

struct Row {
  int frames = 0;
  double microseconds = 0;
};

template <class Walk>
Row timeWalks(Walk walk) {
  std::vector<double> rounds;
  Row row;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kWalksPerRound; ++i) row.frames = walk();
    rounds.push_back(benchkit::secondsSince(start) * 1e6 / kWalksPerRound);
  }
  row.microseconds = benchkit::median(rounds);
  return row;
}

int gDevNull = -1;

// The frames written as the record's threads line writes one thread's array.
void writeFrames(const std::uint64_t* frames, int count) {
  CRSRecordWriter writer;
  CRSRecordWriterInit(&writer, gDevNull);
  CRSRecordBeginArray(&writer);
  for (int i = 0; i < count; ++i) {
    CRSRecordBeginObject(&writer);
    CRSRecordWriteUInt64Member(&writer, "address", frames[i]);
    CRSRecordEndObject(&writer);
  }
  CRSRecordEndArray(&writer);
}

void measure(const char* name, const Stack& stack, const Images& images,
             const std::function<int()>& backtraceHere) {
  std::uint64_t frames[CRSMaxFrames];
  auto walkBefore = [&] {
    return before::walk(stack.gregs, stack.low, stack.high, images.list(), frames, CRSMaxFrames);
  };
  auto walkAfter = [&] {
    return CRSStackWalk(stack.gregs, stack.low, stack.high, images.list(), frames, CRSMaxFrames);
  };
  Row oldWalk = timeWalks(walkBefore);
  Row newWalk = timeWalks(walkAfter);
  Row oldWrite = timeWalks([&] {
    int n = walkBefore();
    writeFrames(frames, n);
    return n;
  });
  Row newWrite = timeWalks([&] {
    int n = walkAfter();
    writeFrames(frames, n);
    return n;
  });
  std::printf("%-9s frames: before %3d  after %3d", name, oldWalk.frames, newWalk.frames);
  if (backtraceHere) {
    Row reference = timeWalks(backtraceHere);
    std::printf("  backtrace() %3d\n", reference.frames);
    std::printf(
        "          walk       before %8.2f us  after %8.2f us  ratio %6.2f   backtrace() %8.2f us  "
        "after/backtrace() %5.2f\n",
        oldWalk.microseconds, newWalk.microseconds, newWalk.microseconds / oldWalk.microseconds,
        reference.microseconds, newWalk.microseconds / reference.microseconds);
  } else {
    std::printf("\n          walk       before %8.2f us  after %8.2f us  ratio %6.2f\n", oldWalk.microseconds,
                newWalk.microseconds, newWalk.microseconds / oldWalk.microseconds);
  }
  std::printf("          walk+write before %8.2f us  after %8.2f us  ratio %6.2f\n", oldWrite.microseconds,
              newWrite.microseconds, newWrite.microseconds / oldWrite.microseconds);
}

int backtraceOnce() {
  void* frames[CRSMaxFrames];
  return ::backtrace(frames, CRSMaxFrames);
}

// Captures the calling thread's registers and measures the walks from them while the stack stands.
void measureHere(const char* name, const Images& images) {
  Stack stack;
  boundsOfThisThread(&stack);
  ucontext_t context;
  std::memset(&context, 0, sizeof context);
  ::getcontext(&context);
  std::memcpy(stack.gregs, context.uc_mcontext.gregs, sizeof stack.gregs);
  measure(name, stack, images, backtraceOnce);
}

// ---- a thread parked in epoll_wait, its registers copied by its signal handler ----

std::atomic<int> gParkedState{0};  // 1: registers copied, 2: released
Stack gParked;

void copyRegisters(int, siginfo_t*, void* machineContext) {
  auto* context = static_cast<ucontext_t*>(machineContext);
  std::memcpy(gParked.gregs, context->uc_mcontext.gregs, sizeof gParked.gregs);
  gParkedState.store(1);
  while (gParkedState.load() != 2) {
  }
}

bool inEpoll(pid_t tid) {
  std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  std::FILE* file = std::fopen(path.c_str(), "r");
  long number = -1;
  if (file) {
    if (std::fscanf(file, "%ld", &number) != 1) number = -1;
    std::fclose(file);
  }
  return number == SYS_epoll_wait || number == SYS_epoll_pwait;
}

void park(int epoll) {
  epoll_event event{};
  while (::epoll_wait(epoll, &event, 1, -1) < 0 && gParkedState.load() != 2) {
  }
}

void measureParked(const Images& images) {
  struct sigaction action {};
  action.sa_sigaction = copyRegisters;
  action.sa_flags = SA_SIGINFO;
  ::sigaction(SIGUSR1, &action, nullptr);
  int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  std::atomic<pid_t> tid{0};
  std::thread thread([&] {
    boundsOfThisThread(&gParked);
    tid = static_cast<pid_t>(::syscall(SYS_gettid));
    descend(16, [epoll] { park(epoll); });
  });
  while (!tid.load() || !inEpoll(tid.load())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::pthread_kill(thread.native_handle(), SIGUSR1);
  while (gParkedState.load() != 1) {
  }
  measure("parked", gParked, images, nullptr);
  gParkedState.store(2);
  ::close(epoll);
  thread.join();
}

// ---- whole records ----

// In a child process: 8 threads parked in epoll_wait under 16 calls each, then one crash record
// written from the main thread's registers. Answers the record's writing time in milliseconds
// and its thread count, or a negative time when it failed.
double wholeRecordMilliseconds(const std::filesystem::path& folder, int* threads) {
  int pipes[2];
  if (::pipe(pipes) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipes[0]);
    std::string record = (folder / "bench.crsrecord").string();
    std::string marker = (folder / "marker").string();
    CRSContextInitData data;
    data.apiKey = "bench";
    data.sessionIdentifier = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
    data.recordPath = record.c_str();
    data.crashMarkerPath = marker.c_str();
    data.buildEnvironment.configuration = "Release";
    data.buildEnvironment.compiler = "gcc";
    data.documentsPath = folder.c_str();
    CRSContextInitialize(data);
    CRSBinaryImagesUUIDMap();  // the list as the context holds it
    int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<pthread_t> parked(kParkedThreads);
    std::vector<std::atomic<pid_t>> tids(kParkedThreads);
    for (int i = 0; i < kParkedThreads; ++i) {
      struct Start {
        int epoll;
        std::atomic<pid_t>* tid;
      };
      auto* start = new Start{epoll, &tids[i]};
      ::pthread_create(
          &parked[i], nullptr,
          [](void* argument) -> void* {
            auto* s = static_cast<Start*>(argument);
            CRSThreadPrepare();
            s->tid->store(static_cast<pid_t>(::syscall(SYS_gettid)));
            int epoll = s->epoll;
            descend(16, [epoll] { park(epoll); });
            return nullptr;
          },
          start);
    }
    for (auto& tid : tids) {
      while (!tid.load() || !inEpoll(tid.load())) ::usleep(1000);
    }
    ucontext_t context;
    std::memset(&context, 0, sizeof context);
    ::getcontext(&context);
    auto start = std::chrono::steady_clock::now();
    CRSCrashRecordWrite(0, nullptr, &context);
    double milliseconds = benchkit::secondsSince(start) * 1e3;
    ssize_t written = ::write(pipes[1], &milliseconds, sizeof milliseconds);
    ::_exit(written == sizeof milliseconds ? 0 : 1);
  }
  ::close(pipes[1]);
  double milliseconds = -1;
  if (::read(pipes[0], &milliseconds, sizeof milliseconds) != sizeof milliseconds) milliseconds = -1;
  ::close(pipes[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  // The threads line: one array per thread.
  std::FILE* file = std::fopen((folder / "bench.crsrecord").c_str(), "r");
  *threads = 0;
  if (file) {
    char line[1 << 16];
    while (std::fgets(line, sizeof line, file)) {
      if (const char* count = std::strstr(line, "\"thread_count\":")) *threads = std::atoi(count + 15);
    }
    std::fclose(file);
  }
  return milliseconds;
}

}  // namespace

int main() {
  gDevNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  Images images;
  std::printf(
      "crash record stack walks: the frame-pointer walk before this change against the walk through\n"
      "unwind tables (per walk, median of %d rounds of %d walks)\n",
      kRounds, kWalksPerRound);
  AtBottom program = [&] { measureHere("program", images); };
  descend(32, program);
  AtBottom callback = [&] { measureHere("callback", images); };
  AtBottom sort = [&] {
    int values[] = {3, 1, 2};
    gComparatorBottom = &callback;
    std::qsort(values, 3, sizeof values[0], compareAndDescend);
  };
  descend(16, sort);
  measureParked(images);

  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("crash-record-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::vector<double> times;
  int threads = 0;
  for (int i = 0; i < kRecords; ++i) {
    double milliseconds = wholeRecordMilliseconds(folder, &threads);
    if (milliseconds >= 0) times.push_back(milliseconds);
  }
  std::filesystem::remove_all(folder);
  if (times.empty()) {
    std::printf("whole record: failed\n");
    return 1;
  }
  std::printf("whole record, %d threads (%d parked in epoll_wait): median %.2f ms of %zu (best %.2f ms)\n",
              threads, kParkedThreads, benchkit::median(times), times.size(),
              *std::min_element(times.begin(), times.end()));
  return 0;
}
