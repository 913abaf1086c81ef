// The embedded server against nginx, measured from outside as a client sees them, in one run:
// small GETs at 16 kept-alive connections (wrk: requests/s and median latency), 200 random 1 MB
// ranges of a 100 MB file on one connection and the whole file (libcurl: MB/s), with each
// server's CPU seconds for each load read from /proc. Both serve the same folder on 127.0.0.1;
// nginx runs as one process (one worker) with sendfile on. The embedded server runs in a child
// process of this driver so that its CPU time is its own. All loads run in rounds that alternate
// between the two servers, so that a change in the machine's load falls on both; each round's
// ratio is kept and their spread printed (the small GETs print the medians of their rounds). Over
// loopback the kernel charges the receiving side's TCP work to whichever side happens to run it,
// so the client's CPU (this driver's thread running libcurl) is printed too: the sum is the work
// one megabyte costs.
// A driver, not a test: run it by hand on a quiet machine, with nginx and wrk installed (Debian
// packages nginx-light and wrk).
//
//   build/release/bench/http_server_bench [seconds per wrk run, default 5]
#include <curl/curl.h>
#include <fcntl.h>
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
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchKit.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kSmallSize = 4096;
constexpr std::size_t kFileSize = 100 * 1000 * 1000;
constexpr std::size_t kRangeSize = 1000 * 1000;
// Each round of the transfer loads makes this many range requests and fetches the whole file
// once, from each server; a round of ranges lasts only some 50 ms, so there are several.
constexpr int kRangeRequests = 200;
constexpr int kRounds = 9;
constexpr int kSmallRounds = 3;

// The child's side: serve `root` until stdin closes, after printing the port.
int serve(const std::string& root) {
  ns::runtime::start();
  auto server = ns::make<HTTPServer>();
  server->setInterface("127.0.0.1");
  server->setDocumentRoot(root);
  ns::Error error;
  if (!server->start(&error)) {
    std::fprintf(stderr, "server did not start: %s\n", error.description().c_str());
    return 1;
  }
  std::printf("%u\n", server->listeningPort());
  std::fflush(stdout);
  char byte;
  while (::read(0, &byte, 1) > 0) {
  }
  server->stop();
  return 0;
}

// CPU seconds a process has run so far, from its CPU-time clock: every thread it has had, also
// those that have ended (the dispatch pool's threads leave after 10 s idle), to the nanosecond.
// Negative when the clock cannot be read.
double cpuSeconds(pid_t pid) {
  clockid_t clock;
  timespec now{};
  if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &now) != 0) return -1;
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU seconds of the calling thread so far: the client's side of the libcurl loads.
double threadCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

std::string run(const std::vector<std::string>& args) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while (rc == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0)
    output.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  if (rc == 0) ::waitpid(pid, nullptr, 0);
  return output;
}

// A number after `label` in wrk's output, scaled by its unit (us, ms, s; k, M).
double wrkValue(const std::string& output, const std::string& label) {
  auto at = output.find(label);
  if (at == std::string::npos) return -1;
  std::istringstream in(output.substr(at + label.size()));
  double value = 0;
  std::string unit;
  in >> value;
  in >> unit;
  if (unit.rfind("us", 0) == 0) return value / 1e6;
  if (unit.rfind("ms", 0) == 0) return value / 1e3;
  if (unit.rfind("s", 0) == 0) return value;
  if (unit.rfind("k", 0) == 0) return value * 1e3;
  if (unit.rfind("M", 0) == 0) return value * 1e6;
  return value;
}

// Bytes, time and CPU of a transfer load, added up over rounds.
struct Transfer {
  double megabytes = 0;
  double seconds = 0;
  double serverCpu = 0;
  double clientCpu = 0;
  bool ok = true;

  double rate() const { return seconds > 0 ? megabytes / seconds : 0; }
  double serverCpuPerMB() const { return megabytes > 0 ? serverCpu / megabytes : 0; }
  double totalCpuPerMB() const { return megabytes > 0 ? (serverCpu + clientCpu) / megabytes : 0; }
  void add(const Transfer& t) {
    megabytes += t.megabytes;
    seconds += t.seconds;
    serverCpu += t.serverCpu;
    clientCpu += t.clientCpu;
    ok = ok && t.ok;
  }
};

struct Figures {
  double smallRequestsPerSecond = 0;
  double smallMedianSeconds = 0;
  double smallCpuPerRequest = 0;
  long smallErrors = 0;
  Transfer ranges;
  Transfer whole;
  bool ok = false;
};

size_t countBytes(char*, size_t size, size_t count, void* total) {
  *static_cast<std::size_t*>(total) += size * count;
  return size * count;
}

bool fetch(CURL* curl, const std::string& range) {
  curl_easy_setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
  return curl_easy_perform(curl) == CURLE_OK;
}

Figures measureSmall(std::uint16_t port, pid_t serverPid, int seconds) {
  Figures f;
  std::string base = "http://127.0.0.1:" + std::to_string(port);
  double cpu = cpuSeconds(serverPid);
  std::string output =
      run({"wrk", "-t1", "-c16", "-d" + std::to_string(seconds) + "s", "--latency", base + "/small.bin"});
  double smallCpu = cpuSeconds(serverPid) - cpu;
  f.smallRequestsPerSecond = wrkValue(output, "Requests/sec:");
  // The median from the latency distribution (a deviation column above it may also read "..50%").
  auto distribution = output.find("Latency Distribution");
  f.smallMedianSeconds =
      distribution == std::string::npos ? -1 : wrkValue(output.substr(distribution), "50%");
  double requests = 0;
  {
    auto at = output.find(" requests in ");
    if (at != std::string::npos) {
      auto start = output.rfind('\n', at);
      requests = std::stod(output.substr(start + 1, at - start - 1));
    }
  }
  f.smallCpuPerRequest = requests > 0 ? smallCpu / requests : 0;
  double non2xx = wrkValue(output, "Non-2xx or 3xx responses:");
  f.smallErrors = non2xx > 0 ? static_cast<long>(non2xx) : 0;
  if (f.smallRequestsPerSecond <= 0) std::fprintf(stderr, "wrk gave no figures:\n%s\n", output.c_str());
  f.ok = f.smallRequestsPerSecond > 0 && f.smallErrors == 0;
  return f;
}

// The median of each small-request figure over rounds; failed when any round failed.
Figures medianSmall(const std::vector<Figures>& rounds) {
  auto median = [&](double Figures::*field) {
    std::vector<double> values;
    for (const auto& f : rounds) values.push_back(f.*field);
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
  };
  Figures f;
  f.smallRequestsPerSecond = median(&Figures::smallRequestsPerSecond);
  f.smallMedianSeconds = median(&Figures::smallMedianSeconds);
  f.smallCpuPerRequest = median(&Figures::smallCpuPerRequest);
  f.ok = !rounds.empty();
  for (const auto& r : rounds) {
    f.smallErrors += r.smallErrors;
    f.ok = f.ok && r.ok;
  }
  return f;
}

// One client connection to a server, kept alive across the rounds.
class Client {
 public:
  Client(std::uint16_t port, pid_t serverPid) : serverPid_(serverPid), curl_(curl_easy_init()) {
    url_ = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, countBytes);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &total_);
    curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
  }
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // `count` random 1 MB ranges (the same offsets for both servers, from the same seed).
  Transfer ranges(std::mt19937_64& random, int count) {
    std::uniform_int_distribution<std::size_t> offsets(0, kFileSize - kRangeSize);
    return timed(static_cast<std::size_t>(count) * kRangeSize, [&] {
      for (int i = 0; i < count; ++i) {
        std::size_t from = offsets(random);
        if (!fetch(curl_, std::to_string(from) + "-" + std::to_string(from + kRangeSize - 1))) return;
      }
    });
  }
  Transfer wholeFile() {
    return timed(kFileSize, [&] { fetch(curl_, ""); });
  }

 private:
  template <class Body>
  Transfer timed(std::size_t expected, Body body) {
    total_ = 0;
    double serverCpu = cpuSeconds(serverPid_);
    double clientCpu = threadCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    body();
    Transfer t;
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.clientCpu = threadCpuSeconds() - clientCpu;
    t.serverCpu = cpuSeconds(serverPid_) - serverCpu;
    t.megabytes = static_cast<double>(total_) / 1e6;
    t.ok = total_ == expected;
    return t;
  }

  pid_t serverPid_;
  CURL* curl_;
  std::string url_;
  std::size_t total_ = 0;
};

// The ratio of each round (ours / theirs for rates, theirs / ours for CPU), as "min-max".
std::string spread(const std::vector<double>& ratios) {
  if (ratios.empty()) return "";
  auto [lo, hi] = std::minmax_element(ratios.begin(), ratios.end());
  char text[64];
  std::snprintf(text, sizeof text, "%.2f-%.2f", *lo, *hi);
  return text;
}

// Starts nginx as one process on `port` over `root`; answers its process id, or -1.
pid_t startNginx(const std::filesystem::path& work, const std::filesystem::path& root,
                 const benchkit::HeldPort& port) {
  auto arguments = benchkit::nginxCommand(work, root, port, 256);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Starts this program as the embedded server's process; answers its id and port, and the pipe
// whose closing stops it.
pid_t startEmbedded(const std::filesystem::path& root, std::uint16_t* port, int* stopFd) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string rootText = root.string();
  char* argv[] = {self.data(), const_cast<char*>("--serve"), rootText.data(), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) return -1;
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);
  *port = static_cast<std::uint16_t>(std::atoi(line.c_str()));
  *stopFd = in[1];
  return *port ? pid : -1;
}

bool waitUntilServing(std::uint16_t port) {
  CURL* curl = curl_easy_init();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/small.bin";
  std::size_t total = 0;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  bool ok = false;
  // A process that has just started needs a moment to listen.
  for (int attempt = 0; attempt < 100 && !ok; ++attempt) {
    ok = curl_easy_perform(curl) == CURLE_OK && total == kSmallSize;
    if (!ok) ::usleep(50000);
    total = 0;
  }
  curl_easy_cleanup(curl);
  return ok;
}

void printRow(const char* load, double ours, double theirs, const char* unit, bool higherIsBetter,
              const std::string& rounds = "") {
  double ratio = higherIsBetter ? ours / theirs : theirs / ours;
  std::printf("%-34s %12.3f %12.3f  %-10s %6.2f  %s\n", load, ours, theirs, unit, ratio, rounds.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--serve") == 0) return serve(argv[2]);
  int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (::access(benchkit::kNginxPath, X_OK) != 0 || run({"sh", "-c", "command -v wrk"}).empty()) {
    std::fprintf(stderr, "nginx and wrk are needed: apt-get install nginx-light wrk\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  auto work = std::filesystem::temp_directory_path() / ("pelorin-http-bench-" + std::to_string(::getpid()));
  auto root = work / "www";
  std::filesystem::create_directories(root);
  {
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
    std::ofstream small(root / "small.bin", std::ios::binary);
    small.write(block.data(), kSmallSize);
    std::ofstream big(root / "big.bin", std::ios::binary);
    for (std::size_t written = 0; written < kFileSize; written += block.size())
      big.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), kFileSize - written)));
  }

  std::uint16_t ourPort = 0;
  int stopFd = -1;
  pid_t ourPid = startEmbedded(root, &ourPort, &stopFd);
  benchkit::HeldPort heldPort;  // until nginx has stopped
  const std::uint16_t nginxPort = heldPort.port();
  pid_t nginxPid = startNginx(work, root, heldPort);
  int status = 1;
  if (ourPid > 0 && nginxPid > 0 && waitUntilServing(ourPort) && waitUntilServing(nginxPort)) {
    // Small GETs in alternating rounds too; each figure is the median of its rounds.
    std::vector<Figures> ourSmall, theirSmall;
    std::vector<double> smallRates;
    for (int round = 0; round < kSmallRounds; ++round) {
      ourSmall.push_back(measureSmall(ourPort, ourPid, seconds));
      theirSmall.push_back(measureSmall(nginxPort, nginxPid, seconds));
      smallRates.push_back(ourSmall.back().smallRequestsPerSecond / theirSmall.back().smallRequestsPerSecond);
    }
    Figures ours = medianSmall(ourSmall);
    Figures theirs = medianSmall(theirSmall);
    std::vector<double> rangeRates, rangeCpu, wholeRates, wholeCpu, wholeTotalCpu;
    {
      Client ourClient(ourPort, ourPid);
      Client theirClient(nginxPort, nginxPid);
      for (int round = 0; round < kRounds; ++round) {
        std::mt19937_64 ourRandom(42 + round), theirRandom(42 + round);
        Transfer a = ourClient.ranges(ourRandom, kRangeRequests);
        Transfer b = theirClient.ranges(theirRandom, kRangeRequests);
        ours.ranges.add(a);
        theirs.ranges.add(b);
        rangeRates.push_back(a.rate() / b.rate());
        rangeCpu.push_back(b.serverCpuPerMB() / a.serverCpuPerMB());
        a = ourClient.wholeFile();
        b = theirClient.wholeFile();
        ours.whole.add(a);
        theirs.whole.add(b);
        wholeRates.push_back(a.rate() / b.rate());
        wholeCpu.push_back(b.serverCpuPerMB() / a.serverCpuPerMB());
        wholeTotalCpu.push_back(b.totalCpuPerMB() / a.totalCpuPerMB());
      }
    }
    ours.ok = ours.ok && ours.ranges.ok && ours.whole.ok;
    theirs.ok = theirs.ok && theirs.ranges.ok && theirs.whole.ok;
    std::printf("%-34s %12s %12s  %-10s %6s  %s\n", "load", "Pelorin", "nginx", "unit", "ratio", "rounds");
    printRow("4 KB GETs, 16 connections", ours.smallRequestsPerSecond, theirs.smallRequestsPerSecond, "req/s",
             true, spread(smallRates));
    printRow("  median latency", ours.smallMedianSeconds * 1e3, theirs.smallMedianSeconds * 1e3, "ms", false);
    printRow("  server CPU per request", ours.smallCpuPerRequest * 1e6, theirs.smallCpuPerRequest * 1e6, "us",
             false);
    printRow("200 random 1 MB ranges", ours.ranges.rate(), theirs.ranges.rate(), "MB/s", true,
             spread(rangeRates));
    printRow("  server CPU per MB", ours.ranges.serverCpuPerMB() * 1e3, theirs.ranges.serverCpuPerMB() * 1e3,
             "ms", false, spread(rangeCpu));
    printRow("  server + client CPU per MB", ours.ranges.totalCpuPerMB() * 1e3,
             theirs.ranges.totalCpuPerMB() * 1e3, "ms", false);
    printRow("whole 100 MB file", ours.whole.rate(), theirs.whole.rate(), "MB/s", true, spread(wholeRates));
    printRow("  server CPU per MB", ours.whole.serverCpuPerMB() * 1e3, theirs.whole.serverCpuPerMB() * 1e3,
             "ms", false, spread(wholeCpu));
    printRow("  server + client CPU per MB", ours.whole.totalCpuPerMB() * 1e3,
             theirs.whole.totalCpuPerMB() * 1e3, "ms", false, spread(wholeTotalCpu));
    std::printf(
        "(ratio: Pelorin / nginx for rates, nginx / Pelorin for times; above 1 is Pelorin ahead;\n"
        " rounds: the spread of the ratio over rounds that alternate between the servers, %d for the\n"
        " small GETs, whose figures are the medians, and %d for the rest)\n",
        kSmallRounds, kRounds);
    if (!ours.ok) std::printf("Pelorin: some requests FAILED\n");
    if (!theirs.ok) std::printf("nginx: some requests FAILED\n");
    status = ours.ok && theirs.ok ? 0 : 1;
  } else {
    std::fprintf(stderr, "a server did not start\n");
  }
  if (stopFd >= 0) ::close(stopFd);
  if (ourPid > 0) ::waitpid(ourPid, nullptr, 0);
  if (nginxPid > 0) {
    ::kill(nginxPid, SIGTERM);
    ::waitpid(nginxPid, nullptr, 0);
  }
  std::filesystem::remove_all(work);
  curl_global_cleanup();
  return status;
}
