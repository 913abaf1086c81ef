// The logging hub against fprintf to /dev/null, side by side in one run:
//  - throughput: 8 threads each log 200,000 records asynchronously into one registered logger
//    that does nothing, until flushLog() returns; fprintf writes the same lines from 8 threads;
//    five rounds of each in turn, every round printed, with the best and the median of each side;
//  - the same from one thread: now and then a round of fprintf from 8 threads comes near this
//    rate instead of its usual one, and the best of the rounds then shows that one round;
//  - the cost of one asynchronous call to its caller, at the median of 200,000 calls from one
//    thread, with one logger registered and with none; fprintf's per call beside it.
// A driver, not a test: run it by hand on a quiet machine from a Release build.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchKit.h"
#include "lib/logging/AbstractLogger.h"
#include "lib/logging/LogHub.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRecordsPerThread = 200000;
constexpr int kTimedCalls = 200000;
constexpr int kRounds = 5;

class NullLogger : public AbstractLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>&) override { received.fetch_add(1, std::memory_order_relaxed); }
  std::atomic<long> received{0};
};

using Clock = std::chrono::steady_clock;
using benchkit::median;
using benchkit::secondsSince;

void logOne(int thread, int i) {
  LogHub::log_level_flag_context_file_function_line_tag_format(
      true, LogLevelAll, LogFlagInfo, 0, __FILE__, __func__, __LINE__, {}, "thread %d record %d", thread, i);
}

// Records per second through the hub from `count` threads.
double hubThroughput(int count) {
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int t = 0; t < count; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kRecordsPerThread; ++i) logOne(t, i);
    });
  for (auto& thread : threads) thread.join();
  LogHub::flushLog();
  return count * static_cast<double>(kRecordsPerThread) / secondsSince(start);
}

double fprintfThroughput(FILE* out, int count) {
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int t = 0; t < count; ++t)
    threads.emplace_back([t, out] {
      for (int i = 0; i < kRecordsPerThread; ++i) std::fprintf(out, "thread %d record %d\n", t, i);
    });
  for (auto& thread : threads) thread.join();
  std::fflush(out);
  return count * static_cast<double>(kRecordsPerThread) / secondsSince(start);
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

// One line of throughput: the hub's records and fprintf's lines per second, and their ratio.
void printThroughput(const char* label, double hub, double reference, const char* how = "") {
  std::printf("%-35s hub %10.0f records/s   fprintf %10.0f lines/s   ratio %.3f%s\n", label, hub, reference,
              hub / reference, how);
}

}  // namespace

int main() {
  FILE* devNull = std::fopen("/dev/null", "w");
  if (!devNull) return 1;
  auto logger = ns::make<NullLogger>();
  LogHub::addLogger(logger);
  LogHub::flushLog();

  // Warm up both, then measure in turn.
  hubThroughput(kThreads);
  fprintfThroughput(devNull, kThreads);
  std::vector<double> hub;
  std::vector<double> reference;
  for (int round = 0; round < kRounds; ++round) {
    hub.push_back(hubThroughput(kThreads));
    reference.push_back(fprintfThroughput(devNull, kThreads));
  }
  double hubAlone = hubThroughput(1);
  double referenceAlone = fprintfThroughput(devNull, 1);

  double withLogger = medianMicroseconds([](int i) { logOne(0, i); });
  LogHub::flushLog();
  double fprintfCall =
      medianMicroseconds([devNull](int i) { std::fprintf(devNull, "thread %d record %d\n", 0, i); });
  LogHub::removeLogger(logger);
  LogHub::flushLog();
  double withoutLogger = medianMicroseconds([](int i) { logOne(0, i); });
  LogHub::flushLog();

  long expected = ((kRounds + 1L) * kThreads * kRecordsPerThread) + kRecordsPerThread + kTimedCalls;
  std::printf("logging hub against fprintf to /dev/null (%d threads x %d records, %d rounds)\n", kThreads,
              kRecordsPerThread, kRounds);
  for (int round = 0; round < kRounds; ++round)
    printThroughput(("  round " + std::to_string(round + 1)).c_str(), hub[round], reference[round]);
  printThroughput("throughput, 8 threads, one logger", *std::max_element(hub.begin(), hub.end()),
                  *std::max_element(reference.begin(), reference.end()), " (best of each)");
  printThroughput("throughput, 8 threads, one logger", median(hub), median(reference), " (median of each)");
  printThroughput("throughput, 1 thread, one logger", hubAlone, referenceAlone);
  std::printf(
      "asynchronous call, median           with a logger %.2f us   with none %.2f us   fprintf %.2f us\n",
      withLogger, withoutLogger, fprintfCall);
  std::printf("records delivered %ld of %ld\n", logger->received.load(), expected);
  std::fclose(devNull);
  return logger->received.load() == expected ? 0 : 1;
}
