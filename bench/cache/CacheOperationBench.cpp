// Throughput and CPU cost of the resumable download operation: a 200 MB file served on 127.0.0.1
// (by nginx when it is installed, else by the embedded HTTP server), fetched by PelCacheOperation
// into a partial file and by `curl -s -o` into another, in rounds that alternate which goes
// first, so that a change in the machine's load falls on both. Each round prints both rates, their
// ratio, the CPU seconds each spent per GB (this process's CPU clock for the operation, the
// child's resource usage for curl) and the load average; the end prints the medians, and the
// peak resident memory of the process during the operation's downloads (the body streams to
// disk, so it stays far below the file's size). The server runs in a process of its own, so that
// neither its memory nor its CPU is counted. A driver, not a test: run it by hand on a quiet
// machine, from the Release build.
//
//   build/release/bench/cache/cache_operation_bench [rounds, default 10] [--ours | --curl] [--embedded]
//
// With --ours (or --curl) only that side runs, for a profiler attached to it; with --embedded
// the embedded server is the origin even where nginx is installed.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/cache/PelCacheOperation.h"
#include "bench/BenchKit.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/net/URL.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 200 * 1000 * 1000;

struct Fetch {
  double seconds = 0;
  double cpuSeconds = 0;
  bool ok = false;
  double mbps() const { return ok ? kFileSize / 1e6 / seconds : 0; }
  double cpuPerGB() const { return cpuSeconds / (kFileSize / 1e9); }
};

// The process's peak resident set since the last reset, in MB (VmHWM).
double peakResidentMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

void resetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double processCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool hasWholeFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::file_size(path, error) == kFileSize && !error;
}

Fetch fetchWithOperation(const std::string& url, const std::string& path) {
  auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString(url));
  auto op = PelCacheOperation::initWithRequest_tempPath(request, path);
  bool done = false, failed = false;
  op->setCompletionBlockWithSuccess_failure(
      [&](const ns::Ref<HTTPRequestOperation>&, const std::optional<ns::Data>&) { done = true; },
      [&](const ns::Ref<HTTPRequestOperation>&, const ns::Error& error) {
        std::fprintf(stderr, "operation failed: %s\n", error.localizedDescription().c_str());
        done = failed = true;
      });
  Fetch fetch;
  double cpu = processCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  op->start();
  ns::RunLoop::currentRunLoop()->runUntil([&] { return done; }, 600, ns::DefaultRunLoopMode);
  fetch.seconds = benchkit::secondsSince(start);
  fetch.cpuSeconds = processCpuSeconds() - cpu;
  fetch.ok = done && !failed && hasWholeFile(path);
  return fetch;
}

Fetch fetchWithCurl(const std::string& url, const std::string& path) {
  std::string program = "/usr/bin/curl";
  char* argv[] = {program.data(),
                  const_cast<char*>("-s"),
                  const_cast<char*>("--noproxy"),
                  const_cast<char*>("*"),
                  const_cast<char*>("-o"),
                  const_cast<char*>(path.c_str()),
                  const_cast<char*>(url.c_str()),
                  nullptr};
  Fetch fetch;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return fetch;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  fetch.seconds = benchkit::secondsSince(start);
  auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  fetch.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
  fetch.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && hasWholeFile(path);
  return fetch;
}

pid_t spawnProgram(std::vector<std::string> arguments, int stdoutFd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// nginx as one process over `root`; answers its process id, or -1.
pid_t startNginx(const std::filesystem::path& work, const std::filesystem::path& root,
                 const benchkit::HeldPort& port) {
  return spawnProgram(benchkit::nginxCommand(work, root, port));
}

// The embedded server over `root`; answers its process id and sets `port`, or -1.
pid_t startEmbedded(const std::filesystem::path& root, int* port) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t pid = spawnProgram({"/proc/self/exe", "--serve", root.string()}, fds[1]);
  ::close(fds[1]);
  char portText[16] = {};
  ssize_t n = pid > 0 ? ::read(fds[0], portText, sizeof portText - 1) : -1;
  ::close(fds[0]);
  if (n <= 0) return -1;
  *port = std::atoi(portText);
  return pid;
}

bool serving(const std::string& url, const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string program = "/usr/bin/curl";
    pid_t pid = spawnProgram({program, "-s", "-f", "--noproxy", "*", "-r", "0-0", "-o", path, url});
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      return true;
    ::usleep(50000);
  }
  return false;
}

}  // namespace

// The server side: serves `root` on 127.0.0.1, writes its port as one line and runs until killed.
int serve(const std::string& root) {
  auto server = ns::make<HTTPServer>();
  server->setInterface("127.0.0.1");
  server->setDocumentRoot(root);
  ns::Error error;
  if (!server->start(&error)) {
    std::fprintf(stderr, "server did not start: %s\n", error.description().c_str());
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(server->listeningPort()));
  std::fflush(stdout);
  for (;;) ::pause();
}

int main(int argc, char** argv) {
  ns::runtime::start();
  if (argc == 3 && std::string(argv[1]) == "--serve") return serve(argv[2]);
  int rounds = 10;
  bool ours = true, theirs = true, embedded = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--embedded") == 0)
      embedded = true;
    else if (std::strcmp(argv[i], "--ours") == 0)
      theirs = false;
    else if (std::strcmp(argv[i], "--curl") == 0)
      ours = false;
    else
      rounds = std::max(1, std::atoi(argv[i]));
  }

  auto work = std::filesystem::temp_directory_path() / ("pelorin-cache-bench-" + std::to_string(::getpid()));
  auto root = work / "www";
  std::filesystem::create_directories(root);
  {
    std::ofstream out(root / "big.bin", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 17);
    for (std::size_t written = 0; written < kFileSize; written += block.size())
      out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), kFileSize - written)));
  }

  int port = 0;
  pid_t server = -1;
  const char* origin = "nginx";
  std::optional<benchkit::HeldPort> nginxPort;  // until nginx has stopped
  if (!embedded && ::access(benchkit::kNginxPath, X_OK) == 0) {
    port = nginxPort.emplace().port();
    server = startNginx(work, root, *nginxPort);
  }
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
  if (server < 0 || !serving(url, (work / "probe").string())) {
    if (server > 0) {
      ::kill(server, SIGTERM);
      ::waitpid(server, nullptr, 0);
    }
    origin = "the embedded HTTP server";
    server = startEmbedded(root, &port);
    url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
  }
  if (server < 0) {
    std::fprintf(stderr, "the origin did not start\n");
    std::filesystem::remove_all(work);
    return 1;
  }

  std::printf("200 MB from %s, %d rounds; load average at the start: %s\n", origin, rounds,
              benchkit::loadAverage().c_str());
  std::printf("%5s %12s %12s %7s %14s %14s  %s\n", "round", "operation", "curl", "ratio", "op CPU s/GB",
              "curl CPU s/GB", "load average");
  const std::string ourPath = (work / "operation.part").string(), theirPath = (work / "curl.out").string();
  std::vector<double> ratios, ourRates, theirRates, ourCpu, theirCpu;
  double before = peakResidentMB();
  double peak = 0;
  bool ok = true;
  for (int round = 0; round < rounds; ++round) {
    Fetch a, b;
    auto runOurs = [&] {
      resetPeakResident();
      a = fetchWithOperation(url, ourPath);
      peak = std::max(peak, peakResidentMB());
      std::filesystem::remove(ourPath);
    };
    auto runTheirs = [&] {
      b = fetchWithCurl(url, theirPath);
      std::filesystem::remove(theirPath);
    };
    // Alternating which goes first: the second one of a round meets the first one's file
    // still being written back.
    if (round % 2 == 0) {
      if (ours) runOurs();
      if (theirs) runTheirs();
    } else {
      if (theirs) runTheirs();
      if (ours) runOurs();
    }
    ok = ok && (!ours || a.ok) && (!theirs || b.ok);
    double ratio = a.ok && b.ok ? a.mbps() / b.mbps() : 0;
    std::printf("%5d %7.1f MB/s %7.1f MB/s %7.2f %14.3f %14.3f  %s\n", round + 1, a.mbps(), b.mbps(), ratio,
                a.cpuPerGB(), b.cpuPerGB(), benchkit::loadAverage().c_str());
    std::fflush(stdout);
    if (a.ok) {
      ourRates.push_back(a.mbps());
      ourCpu.push_back(a.cpuPerGB());
    }
    if (b.ok) {
      theirRates.push_back(b.mbps());
      theirCpu.push_back(b.cpuPerGB());
    }
    if (ratio > 0) ratios.push_back(ratio);
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  std::filesystem::remove_all(work);

  std::printf("median: PelCacheOperation %.1f MB/s, curl -s -o %.1f MB/s\n", benchkit::median(ourRates),
              benchkit::median(theirRates));
  if (!ratios.empty())
    std::printf("median ratio (PelCacheOperation / curl): %.2f\n", benchkit::median(ratios));
  std::printf("median CPU seconds per GB: PelCacheOperation %.3f, curl %.3f", benchkit::median(ourCpu),
              benchkit::median(theirCpu));
  if (!ourCpu.empty() && !theirCpu.empty())
    std::printf(" (x %.2f of curl's)", benchkit::median(ourCpu) / benchkit::median(theirCpu));
  std::printf("\n");
  if (ours)
    std::printf("peak resident memory during the downloads: %.1f MB (before: %.1f MB; file: %.0f MB)\n", peak,
                before, kFileSize / 1e6);
  std::printf("load average at the end: %s\n", benchkit::loadAverage().c_str());
  if (!ok) std::printf("some downloads FAILED\n");
  return ok ? 0 : 1;
}
