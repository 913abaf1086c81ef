// The logging hub against fprintf to /dev/null, side by side in one run:
//  - throughput: 8 threads each log 200,000 records asynchronously into one registered logger
//    that does nothing, until flushLog() returns; fprintf writes the same lines from 8 threads;
//  - the cost of one asynchronous call to its caller, at the median of 200,000 calls from one
//    thread, with one logger registered and with none; fprintf's per call beside it.
// A driver, not a test: run it by hand on a quiet machine from a Release build.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "lib/logging/AbstractLogger.h"
#include "lib/logging/LogHub.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRecordsPerThread = 200000;
constexpr int kTimedCalls = 200000;

class NullLogger : public AbstractLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>&) override { received.fetch_add(1, std::memory_order_relaxed); }
  std::atomic<long> received{0};
};

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void logOne(int thread, int i) {
  LogHub::log_level_flag_context_file_function_line_tag_format(
      true, LogLevelAll, LogFlagInfo, 0, __FILE__, __func__, __LINE__, {}, "thread %d record %d", thread, i);
}

// Records per second through the hub from kThreads threads.
double hubThroughput() {
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kRecordsPerThread; ++i) logOne(t, i);
    });
  for (auto& thread : threads) thread.join();
  LogHub::flushLog();
  return kThreads * static_cast<double>(kRecordsPerThread) / secondsSince(start);
}

double fprintfThroughput(FILE* out) {
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, out] {
      for (int i = 0; i < kRecordsPerThread; ++i) std::fprintf(out, "thread %d record %d\n", t, i);
    });
  for (auto& thread : threads) thread.join();
  std::fflush(out);
  return kThreads * static_cast<double>(kRecordsPerThread) / secondsSince(start);
}

template <class Call>
double medianMicroseconds(Call call) {
  std::vector<double> times;
  times.reserve(kTimedCalls);
  for (int i = 0; i < kTimedCalls; ++i) {
    auto start = Clock::now();
    call(i);
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::nth_element(times.begin(), times.begin() + kTimedCalls / 2, times.end());
  return times[kTimedCalls / 2];
}

}  // namespace

int main() {
  FILE* devNull = std::fopen("/dev/null", "w");
  if (!devNull) return 1;
  auto logger = ns::make<NullLogger>();
  LogHub::addLogger(logger);
  LogHub::flushLog();

  // Warm up both, then measure in turn.
  hubThroughput();
  fprintfThroughput(devNull);
  double hub = 0;
  double reference = 0;
  for (int round = 0; round < 3; ++round) {
    hub = std::max(hub, hubThroughput());
    reference = std::max(reference, fprintfThroughput(devNull));
  }

  double withLogger = medianMicroseconds([](int i) { logOne(0, i); });
  LogHub::flushLog();
  double fprintfCall =
      medianMicroseconds([devNull](int i) { std::fprintf(devNull, "thread %d record %d\n", 0, i); });
  LogHub::removeLogger(logger);
  LogHub::flushLog();
  double withoutLogger = medianMicroseconds([](int i) { logOne(0, i); });
  LogHub::flushLog();

  long expected = (4L * kThreads * kRecordsPerThread) + kTimedCalls;
  std::printf("logging hub against fprintf to /dev/null (%d threads x %d records, best of 3)\n", kThreads,
              kRecordsPerThread);
  std::printf(
      "throughput, 8 threads, one logger   hub %10.0f records/s   fprintf %10.0f lines/s   ratio %.3f\n", hub,
      reference, hub / reference);
  std::printf(
      "asynchronous call, median           with a logger %.2f us   with none %.2f us   fprintf %.2f us\n",
      withLogger, withoutLogger, fprintfCall);
  std::printf("records delivered %ld of %ld\n", logger->received.load(), expected);
  std::fclose(devNull);
  return logger->received.load() == expected ? 0 : 1;
}
