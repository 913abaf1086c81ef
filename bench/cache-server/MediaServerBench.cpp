// The local media server and the download engine beside their references, in one run:
//
// - a finished 200 MB file through the player URL "/youtube/<id>/18/<id>.mp4" (the whole file,
//   then 200 random 1 MB ranges, libcurl), beside nginx serving the same file;
// - a growing file: the time to the first byte of 200 ranges of 64 KiB that are already on disk
//   while the download waits at an origin that holds back the second half (median), and the
//   throughput of a client reading the player URL while a real downloader fetches 200 MB at full
//   speed, beside nginx serving the finished file;
// - the download engine (a real downloader in a child process) beside "curl -o" fetching the same
//   200 MB from an unthrottled loopback origin, in 10 rounds that alternate which goes first:
//   the medians of their rates, of their CPU seconds per GB and of the rounds' ratios, and the
//   peak resident memory of each;
// - the server's resident memory above its idle size while it serves a 1 GB file to 16 clients
//   at once and a growing 200 MB file to 4 clients (each "curl" in a process of its own).
//
// A driver, not a test: run it by hand, Release build, on a quiet machine. Without nginx
// (Debian package nginx-light, scripts/setup.sh --bench) only Pelorin's figures are printed.
//
//   build/release/bench/cache-server/media_server_bench
#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/youtube/StreamResolver.h"
#include "bench/BenchKit.h"
#include "common/CacheUtilities.h"
#include "common/IPlayerViewController.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 200 * 1000 * 1000;
constexpr std::size_t kHugeSize = 1000 * 1000 * 1000;
constexpr std::size_t kRangeSize = 1000 * 1000;
constexpr int kRangeRequests = 200;
constexpr std::size_t kProbeSize = 64 * 1024;
constexpr int kProbes = 200;
// Rounds of the download engine beside curl -o.
constexpr int kEngineRounds = 10;
// The gated origin sends this much, then waits for the gate.
constexpr std::size_t kGateAt = kFileSize / 2;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bytes of every file the bench serves: a pattern that begins as an MP4 does.
char patternByte(std::size_t offset) {
  static constexpr char kHead[] = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'};
  if (offset < sizeof kHead) return kHead[offset];
  return static_cast<char>(offset * 31 + 7);
}

void fillPattern(char* out, std::size_t offset, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) out[i] = patternByte(offset + i);
}

// The player shows whichever video is read, so that the server's waits do not give up.
class BenchPlayer : public ns::Object, public IPlayerViewController {
 public:
  std::optional<std::string> videoId() override {
    std::lock_guard lock(mutex_);
    return videoId_;
  }
  void show(const std::string& videoId) {
    std::lock_guard lock(mutex_);
    videoId_ = videoId;
  }
  void loadVideo(const ns::Ref<SearchEntry>&) override {}
  void playVideo(const ns::Ref<SearchEntry>&) override {}
  void play() override {}
  void stopVideo() override {}
  void updateVideoUrlIfNeeded(const std::string&) override {}
  void showOSD(const std::string&) override {}
  bool bookmarksVisible() override { return false; }

 private:
  std::mutex mutex_;
  std::optional<std::string> videoId_;
};

// Every video's one stream is "<origin>/<id>".
class BenchResolver : public StreamResolver {
 public:
  void setOrigin(const std::string& videoId, std::string url) {
    std::lock_guard lock(mutex_);
    urls_[videoId] = std::move(url);
  }
  void resolveVideoId_completion(const std::string& videoId, Completion completion) override {
    std::string url;
    {
      std::lock_guard lock(mutex_);
      url = urls_[videoId];
    }
    completion(StreamResolution{{{18, url}}, {}, std::nullopt});
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> urls_;
};

// An origin that sends the first kGateAt bytes of the pattern at once and the rest only once
// its gate opens, so that a download stays growing as long as the bench needs.
class GatedOrigin {
 public:
  GatedOrigin() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 4);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~GatedOrigin() {
    open();
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/gated"; }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  void serve() {
    int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: " + std::to_string(kFileSize) +
        "\r\nConnection: close\r\n\r\n";
    bool ok = send(client, head.data(), head.size());
    std::vector<char> block(1 << 20);
    std::size_t offset = 0;
    while (ok && offset < kFileSize) {
      if (offset >= kGateAt) {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
      }
      std::size_t end = offset < kGateAt ? kGateAt : kFileSize;
      std::size_t length = std::min(block.size(), end - offset);
      fillPattern(block.data(), offset, length);
      ok = send(client, block.data(), length);
      offset += length;
    }
    ::close(client);
  }
  static bool send(int fd, const char* data, std::size_t length) {
    while (length > 0) {
      ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

size_t countBytes(char*, size_t size, size_t count, void* total) {
  *static_cast<std::size_t*>(total) += size * count;
  return size * count;
}

CURL* newHandle(const std::string& url, std::size_t* total) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, total);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  return curl;
}

struct Figures {
  double wholeMBps = 0;
  double rangesMBps = 0;
  bool ok = false;
};

// The whole file, then the ranges, from `url`.
Figures measure(const std::string& url) {
  Figures f;
  std::size_t total = 0;
  CURL* curl = newHandle(url, &total);
  auto start = Clock::now();
  bool ok = curl_easy_perform(curl) == CURLE_OK && total == kFileSize;
  f.wholeMBps = static_cast<double>(total) / 1e6 / secondsSince(start);
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::size_t> offsets(0, kFileSize - kRangeSize);
  total = 0;
  start = Clock::now();
  for (int i = 0; i < kRangeRequests && ok; ++i) {
    std::size_t from = offsets(random);
    std::string range = std::to_string(from) + "-" + std::to_string(from + kRangeSize - 1);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    ok = curl_easy_perform(curl) == CURLE_OK;
  }
  f.rangesMBps = static_cast<double>(total) / 1e6 / secondsSince(start);
  curl_easy_cleanup(curl);
  f.ok = ok && total == kRangeSize * kRangeRequests;
  return f;
}

// Median time to the first byte (ms) of kProbes ranges of kProbeSize below `limit`; negative
// when a request failed or its bytes were wrong in length.
double medianFirstByte(const std::string& url, std::size_t limit) {
  std::size_t total = 0;
  CURL* curl = newHandle(url, &total);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::size_t> offsets(0, limit - kProbeSize);
  std::vector<double> times;
  for (int i = 0; i < kProbes; ++i) {
    std::size_t from = offsets(random);
    std::string range = std::to_string(from) + "-" + std::to_string(from + kProbeSize - 1);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    total = 0;
    curl_off_t firstByte = 0;
    if (curl_easy_perform(curl) != CURLE_OK || total != kProbeSize) {
      curl_easy_cleanup(curl);
      return -1;
    }
    curl_easy_getinfo(curl, CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
    times.push_back(static_cast<double>(firstByte) / 1000.0);
  }
  curl_easy_cleanup(curl);
  std::nth_element(times.begin(), times.begin() + kProbes / 2, times.end());
  return times[kProbes / 2];
}

// Runs `work` on a thread of its own while the main run loop turns (downloads report there).
template <class F>
auto whilePumping(F work) {
  auto future = std::async(std::launch::async, std::move(work));
  ns::RunLoop::currentRunLoop()->runUntil(
      [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 3600);
  return future.get();
}

void pumpUntil(const std::function<bool()>& predicate) {
  ns::RunLoop::currentRunLoop()->runUntil(predicate, 3600);
}

// Starts the program; its standard output goes to `output` when given.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& output = {}) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output.empty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

double readNumber(const std::filesystem::path& path) {
  std::ifstream in(path);
  double value = -1;
  in >> value;
  return value;
}

// Waits for the child; false when it failed.
bool reap(pid_t pid) {
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What GNU time reports of a program run to its end.
struct ChildRun {
  double peakMB = -1;  // negative when it failed
  double cpuSeconds = 0;
};

// Runs the program to its end through GNU time, which forks it (a spawned child's own peak
// would start from this process's size); answers its peak resident memory and CPU seconds. Its
// standard output goes to `output`.
ChildRun timedRun(std::vector<std::string> arguments, const std::filesystem::path& report,
                  const std::filesystem::path& output) {
  arguments.insert(arguments.begin(), {"/usr/bin/time", "-f", "%M %U %S", "-o", report.string()});
  ChildRun run;
  if (!reap(spawn(arguments, output.string()))) return run;
  std::ifstream in(report);
  double kilobytes = -1, user = 0, system = 0;
  if (!(in >> kilobytes >> user >> system)) return run;
  run.peakMB = kilobytes / 1024.0;
  run.cpuSeconds = user + system;
  return run;
}

pid_t startNginx(const std::filesystem::path& work, const std::filesystem::path& root,
                 const benchkit::HeldPort& port) {
  return spawn(benchkit::nginxCommand(work, root, port));
}

bool waitUntilServing(const std::string& url) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::size_t total = 0;
    CURL* curl = newHandle(url, &total);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    bool ok = curl_easy_perform(curl) == CURLE_OK;
    curl_easy_cleanup(curl);
    if (ok) return true;
    ::usleep(50000);
  }
  return false;
}

// This process's resident memory now, in MB.
double residentMB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

// Samples this process's resident memory while it lives; peak() is the highest seen.
class ResidentSampler {
 public:
  ResidentSampler() : peak_(residentMB()) {
    thread_ = std::thread([this] {
      while (!done_) {
        double now = residentMB();
        double seen = peak_;
        while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~ResidentSampler() {
    done_ = true;
    thread_.join();
  }
  double peak() const { return peak_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<double> peak_;
  std::thread thread_;
};

// `count` curl processes reading `url` (with an optional range) to /dev/null at once; answers
// when all are done, true when all succeeded.
bool curlClients(int count, const std::string& url, const std::string& range = {}) {
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    std::vector<std::string> arguments{"/usr/bin/curl", "-s", "-f", "--noproxy", "*", "-o", "/dev/null"};
    if (!range.empty()) arguments.insert(arguments.end(), {"-r", range});
    arguments.push_back(url);
    pids.push_back(spawn(arguments));
  }
  bool ok = true;
  for (pid_t pid : pids) ok = reap(pid) && ok;
  return ok;
}

// A fresh home with the folders the application makes at its start: its support folder (where
// the library store lives) and the cache folders.
void setUpHome(const std::filesystem::path& home) {
  for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
    std::string path = (home / name).string();
    std::filesystem::create_directories(path);
    ::setenv(name, path.c_str(), 1);
  }
  if (auto store = getAppSupportFilePath("pelorin_web.db"))
    std::filesystem::create_directories(std::filesystem::path(*store).parent_path());
  for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath()})
    std::filesystem::create_directories(folder);
}

// The child's side of the engine's figure: downloads `url` as the video "engine" into a home
// below `home`; prints nothing, exits 0 when the file is complete.
int downloadOnly(const std::string& url, const std::string& home) {
  ns::runtime::start();
  setUpHome(home);
  auto resolver = std::make_shared<BenchResolver>();
  resolver->setOrigin("engine", url);
  StreamResolver::setSharedResolver(resolver);
  // The application opens its store and reads the cache tables at its start, not when the first
  // download completes: made here, its creation (a score of syncs) is no part of the transfer.
  getCachedVideoIdArray();
  auto downloader = YoutubeDownloader::initWithId("engine");
  auto start = Clock::now();
  downloader->startDownload();
  pumpUntil([&] { return downloader->isComplete() || downloader->isError(); });
  // The transfer's own time, from the start to the file in the cache.
  std::printf("%.6f\n", secondsSince(start));
  bool ok = downloader->isComplete() &&
            std::filesystem::file_size(getCacheFolderPath() + "/engine.mp4") == kFileSize;
  resetCacheStateTablesForTesting();
  return ok ? 0 : 1;
}

void printRow(const char* load, double ours, double theirs, const char* unit, const char* reference) {
  if (theirs > 0)
    std::printf("%-46s %10.2f %10.2f  %-5s %6.2f  (%s)\n", load, ours, theirs, unit, ours / theirs,
                reference);
  else
    std::printf("%-46s %10.2f %10s  %-5s\n", load, ours, "-", unit);
}

// The file every origin serves: kFileSize bytes of the pattern.
void writeServedFile(const std::filesystem::path& path) {
  std::vector<char> block(1 << 20);
  std::ofstream big(path, std::ios::binary);
  for (std::size_t written = 0; written < kFileSize; written += block.size()) {
    std::size_t length = std::min(block.size(), kFileSize - written);
    fillPattern(block.data(), written, length);
    big.write(block.data(), static_cast<std::streamsize>(length));
  }
}

// nginx serving the folder, when it is installed and answers.
struct Reference {
  pid_t pid = -1;
  std::optional<benchkit::HeldPort> port;  // until nginx has stopped
  std::string url;
  bool serving = false;
};

Reference startReference(const std::filesystem::path& work, const std::filesystem::path& www) {
  Reference nginx;
  bool installed = ::access(benchkit::kNginxPath, X_OK) == 0;
  if (installed) nginx.port.emplace();
  nginx.pid = installed ? startNginx(work, www, *nginx.port) : -1;
  nginx.url = "http://127.0.0.1:" + std::to_string(installed ? nginx.port->port() : 0) + "/big.mp4";
  nginx.serving = nginx.pid > 0 && waitUntilServing(nginx.url);
  return nginx;
}

// What the measurements share: the media server, its player and resolver, the origins.
struct Bench {
  std::filesystem::path work;
  Reference nginx;
  std::string originURL;  // the unthrottled origin of the downloads
  std::shared_ptr<BenchResolver> resolver;
  ns::Ref<BenchPlayer> player;
  ns::Ref<CacheServer> server;
  double idleMB = 0;
  bool ok = true;
};

// The server's memory above its idle size under 16 clients of a gigabyte at once.
double hugeFileResidentMB(Bench& bench) {
  ResidentSampler sampler;
  bench.player->show("huge");
  bench.ok =
      whilePumping([&] { return curlClients(16, bench.server->urlStringForVideoId("huge")); }) && bench.ok;
  return sampler.peak() - bench.idleMB;
}

struct GrowingFigures {
  double firstByteMs = -1;
  double nginxFirstByteMs = -1;
  double residentMB = 0;
};

// A growing file held at half its length: the first bytes of ranges on disk, and the server's
// memory while four clients read what is on disk as the rest arrives.
GrowingFigures measureGrowing(Bench& bench) {
  GrowingFigures figures;
  GatedOrigin gated;
  bench.resolver->setOrigin("gated", gated.url());
  bench.player->show("gated");
  auto downloader = YoutubeDownloader::initWithId("gated");
  downloader->startDownload();
  pumpUntil([&] {
    return downloader->downloadedBytes() >= static_cast<std::int64_t>(kGateAt) || downloader->isError();
  });
  const std::string url = bench.server->urlStringForVideoId("gated");
  figures.firstByteMs = whilePumping([&] { return medianFirstByte(url, kGateAt); });
  if (bench.nginx.serving) figures.nginxFirstByteMs = medianFirstByte(bench.nginx.url, kGateAt);
  ResidentSampler sampler;
  gated.open();
  bool ok = whilePumping([&] { return curlClients(4, url, "0-" + std::to_string(kGateAt - 1)); });
  pumpUntil([&] { return downloader->isComplete() || downloader->isError(); });
  figures.residentMB = sampler.peak() - bench.idleMB;
  ok = ok && downloader->isComplete();
  bench.ok = bench.ok && figures.firstByteMs >= 0 && ok;
  return figures;
}

struct FullSpeedFigures {
  double readMBps = 0;
  double residentMB = 0;
};

// A growing file read by the player while a real downloader fetches it at full speed.
FullSpeedFigures measureFullSpeed(Bench& bench) {
  FullSpeedFigures figures;
  bench.resolver->setOrigin("grow", bench.originURL);
  bench.player->show("grow");
  auto downloader = YoutubeDownloader::initWithId("grow");
  double beforeMB = residentMB();
  auto sampler = std::make_unique<ResidentSampler>();
  auto start = Clock::now();
  downloader->startDownload();
  std::size_t total = whilePumping([&] {
    std::size_t bytes = 0;
    CURL* curl = newHandle(bench.server->urlStringForVideoId("grow"), &bytes);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return bytes;
  });
  figures.readMBps = static_cast<double>(total) / 1e6 / secondsSince(start);
  pumpUntil([&] { return downloader->isComplete() || downloader->isError(); });
  figures.residentMB = sampler->peak() - beforeMB;
  bench.ok = bench.ok && total == kFileSize;
  return figures;
}

// One side of the engine's comparison over the rounds.
struct Side {
  std::vector<double> rates;          // process start to end, MB/s
  std::vector<double> transferRates;  // the side's own time of the transfer, MB/s
  std::vector<double> cpu;            // CPU seconds per GB
  double peakMB = 0;
};

struct EngineFigures {
  Side engine, curl;
  std::vector<double> transferRatios;
};

// Runs one side's child to its end; answers its transfer rate (MB/s).
double runSide(Bench& bench, Side& side, const std::vector<std::string>& arguments, const std::string& name,
               const std::filesystem::path& leftover) {
  auto begun = Clock::now();
  ChildRun run = timedRun(arguments, bench.work / (name + ".peak"), bench.work / (name + ".time"));
  double seconds = secondsSince(begun);
  std::filesystem::remove_all(leftover);
  bench.ok = bench.ok && run.peakMB >= 0;
  side.peakMB = std::max(side.peakMB, run.peakMB);
  double transfer = static_cast<double>(kFileSize) / 1e6 / readNumber(bench.work / (name + ".time"));
  side.rates.push_back(static_cast<double>(kFileSize) / 1e6 / seconds);
  side.transferRates.push_back(transfer);
  side.cpu.push_back(run.cpuSeconds / (static_cast<double>(kFileSize) / 1e9));
  return transfer;
}

// The download engine beside curl -o, each in a process of its own, in rounds that alternate
// which goes first, so that a change in the machine's load falls on both.
EngineFigures compareEngineWithCurl(Bench& bench) {
  EngineFigures figures;
  auto self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (int round = 0; round < kEngineRounds; ++round) {
    double engine = 0, curl = 0;
    auto runEngine = [&] {
      engine = runSide(bench, figures.engine,
                       {self, "--download", bench.originURL, (bench.work / "engine").string()}, "engine",
                       bench.work / "engine");
    };
    auto runCurl = [&] {
      curl = runSide(bench, figures.curl,
                     {"/usr/bin/curl", "-s", "-f", "--noproxy", "*", "-w", "%{time_total}", "-o",
                      (bench.work / "curl.mp4").string(), bench.originURL},
                     "curl", bench.work / "curl.mp4");
    };
    if (round % 2 == 0) {
      runEngine();
      runCurl();
    } else {
      runCurl();
      runEngine();
    }
    if (engine > 0 && curl > 0) figures.transferRatios.push_back(engine / curl);
  }
  return figures;
}

void printFigures(const Bench& bench, const Figures& finished, const Figures& reference,
                  const GrowingFigures& growing, const FullSpeedFigures& fullSpeed, double hugeResidentMB,
                  const EngineFigures& engine) {
  std::printf("%-46s %10s %10s  %-5s %6s\n", "load", "Pelorin", "reference", "unit", "ratio");
  printRow("finished file, whole 200 MB", finished.wholeMBps, reference.wholeMBps, "MB/s", "nginx");
  printRow("finished file, 200 random 1 MB ranges", finished.rangesMBps, reference.rangesMBps, "MB/s",
           "nginx");
  printRow("growing file, first byte of 64 KiB on disk", growing.firstByteMs, growing.nginxFirstByteMs, "ms",
           "nginx, median of 200");
  printRow("growing file, 200 MB while downloading", fullSpeed.readMBps, reference.wholeMBps, "MB/s",
           "nginx, finished file");
  printRow("download engine, 200 MB, process start to end", benchkit::median(engine.engine.rates),
           benchkit::median(engine.curl.rates), "MB/s", "curl -o");
  printRow("download engine, 200 MB, transfer only", benchkit::median(engine.engine.transferRates),
           benchkit::median(engine.curl.transferRates), "MB/s", "curl -o, its time_total");
  printRow("download engine, CPU seconds per GB", benchkit::median(engine.engine.cpu),
           benchkit::median(engine.curl.cpu), "s", "curl -o, whole processes");
  printRow("download engine, peak resident memory", engine.engine.peakMB, engine.curl.peakMB, "MB",
           "curl -o");
  std::printf("%-46s %10.2f  (median of %d alternating rounds; each:", "download engine, transfer ratio",
              benchkit::median(engine.transferRatios), kEngineRounds);
  for (double ratio : engine.transferRatios) std::printf(" %.2f", ratio);
  std::printf(")\n");
  std::printf("(load average: %s)\n", benchkit::loadAverage().c_str());
  std::printf("%-46s %10.1f %10s  %-5s\n", "server, idle resident memory", bench.idleMB, "-", "MB");
  std::printf("%-46s %10.1f %10s  %-5s\n", "server, 1 GB to 16 clients, above idle", hugeResidentMB, "-",
              "MB");
  std::printf("%-46s %10.1f %10s  %-5s\n", "server, growing 200 MB to 4 clients, above idle",
              growing.residentMB, "-", "MB");
  std::printf("%-46s %10.1f %10s  %-5s\n", "server, full-speed download read by 1 client",
              fullSpeed.residentMB, "-", "MB");
  std::printf("(ratio: Pelorin / reference; origin of the downloads: %s)\n",
              bench.nginx.serving ? "nginx" : "the embedded server");
}

// Every measurement, against the media server started here; answers the exit status.
int runMeasurements(Bench& bench, const std::filesystem::path& www) {
  bench.resolver = std::make_shared<BenchResolver>();
  StreamResolver::setSharedResolver(bench.resolver);
  bench.player = ns::make<BenchPlayer>();
  setPlayerViewController(bench.player);
  bench.server = ns::make<CacheServer>(0);
  bench.server->start();
  std::filesystem::copy_file(www / "big.mp4", getCacheFolderPath() + "/done.mp4");
  {
    // A sparse gigabyte: the disk is not what is measured.
    int fd = ::open((getCacheFolderPath() + "/huge.mp4").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    (void)!::ftruncate(fd, static_cast<off_t>(kHugeSize));
    ::close(fd);
  }
  bench.idleMB = residentMB();

  // The server's memory under the huge file first, from its idle size.
  double hugeResidentMB = hugeFileResidentMB(bench);
  bench.player->show("done");
  Figures finished = whilePumping([&] { return measure(bench.server->urlStringForVideoId("done")); });
  Figures reference = bench.nginx.serving ? measure(bench.nginx.url) : Figures{};
  bench.ok = bench.ok && finished.ok && (!bench.nginx.serving || reference.ok);
  GrowingFigures growing = measureGrowing(bench);
  FullSpeedFigures fullSpeed = measureFullSpeed(bench);
  EngineFigures engine = compareEngineWithCurl(bench);

  printFigures(bench, finished, reference, growing, fullSpeed, hugeResidentMB, engine);
  if (!bench.ok) std::printf("some requests FAILED\n");
  bench.server = nullptr;
  resetCacheStateTablesForTesting();
  return bench.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--download") == 0) return downloadOnly(argv[2], argv[3]);

  ns::runtime::start();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  Bench bench;
  bench.work = std::filesystem::temp_directory_path() / ("pelorin-media-bench-" + std::to_string(::getpid()));
  setUpHome(bench.work);
  auto www = bench.work / "www";
  std::filesystem::create_directories(www);
  writeServedFile(www / "big.mp4");
  bench.nginx = startReference(bench.work, www);

  // The unthrottled origin: nginx when there is one, else the embedded server over the folder.
  auto embeddedOrigin = ns::make<HTTPServer>();
  embeddedOrigin->setInterface(std::string("127.0.0.1"));
  embeddedOrigin->setDocumentRoot(www.string());
  int status = 1;
  if (embeddedOrigin->start(nullptr)) {
    bench.originURL =
        bench.nginx.serving
            ? bench.nginx.url
            : "http://127.0.0.1:" + std::to_string(embeddedOrigin->listeningPort()) + "/big.mp4";
    status = runMeasurements(bench, www);
    embeddedOrigin->stop();
  } else {
    std::fprintf(stderr, "the origin did not start\n");
  }
  if (bench.nginx.pid > 0) {
    ::kill(bench.nginx.pid, SIGTERM);
    ::waitpid(bench.nginx.pid, nullptr, 0);
  }
  std::filesystem::remove_all(bench.work);
  curl_global_cleanup();
  return status;
}
