// The embedded server against nginx, measured from outside as a client sees them, in one run:
// small GETs at 16 kept-alive connections (wrk: requests/s and median latency), 200 random 1 MB
// ranges of a 100 MB file on one connection and the whole file (libcurl: MB/s), with each
// server's CPU seconds for each load read from /proc. Both serve the same folder on 127.0.0.1;
// nginx runs as one process (one worker) with sendfile on. The embedded server runs in a child
// process of this driver so that its CPU time is its own. A driver, not a test: run it by hand
// on a quiet machine, with nginx and wrk installed (Debian packages nginx-light and wrk).
//
//   build/release/bench/http_server_bench [seconds per wrk run, default 5]
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "lib/http-server/Core/HTTPServer.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kSmallSize = 4096;
constexpr std::size_t kFileSize = 100 * 1000 * 1000;
constexpr std::size_t kRangeSize = 1000 * 1000;
constexpr int kRangeRequests = 200;
constexpr int kWholeFileRuns = 5;

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

std::uint16_t freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

// CPU seconds a process has run so far, summed over its threads from their scheduler statistics
// (nanoseconds; the tick counts of /proc/PID/stat are too coarse for loads of a fraction of a
// second). Threads that have ended are not counted: both servers keep theirs for their life.
double cpuSeconds(pid_t pid) {
  double total = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream in(task.path() / "schedstat");
    double nanoseconds = 0;
    if (in >> nanoseconds) total += nanoseconds / 1e9;
  }
  return total;
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

struct Figures {
  double smallRequestsPerSecond = 0;
  double smallMedianSeconds = 0;
  double smallCpuPerRequest = 0;
  long smallErrors = 0;
  double rangesMBps = 0;
  double rangesCpuPerMB = 0;
  double wholeMBps = 0;
  double wholeCpuPerMB = 0;
  bool ok = false;
};

size_t countBytes(char*, size_t size, size_t count, void* total) {
  *static_cast<std::size_t*>(total) += size * count;
  return size * count;
}

bool fetch(CURL* curl, const std::string& range, std::size_t* total) {
  curl_easy_setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
  return curl_easy_perform(curl) == CURLE_OK;
}

Figures measure(std::uint16_t port, pid_t serverPid, int seconds) {
  Figures f;
  std::string base = "http://127.0.0.1:" + std::to_string(port);

  double cpu = cpuSeconds(serverPid);
  std::string output =
      run({"wrk", "-t1", "-c16", "-d" + std::to_string(seconds) + "s", "--latency", base + "/small.bin"});
  double smallCpu = cpuSeconds(serverPid) - cpu;
  f.smallRequestsPerSecond = wrkValue(output, "Requests/sec:");
  f.smallMedianSeconds = wrkValue(output, "50%");
  double requests = wrkValue(output, "Latency Distribution") < 0 ? 0 : 0;
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
  if (f.smallRequestsPerSecond <= 0) {
    std::fprintf(stderr, "wrk gave no figures:\n%s\n", output.c_str());
    return f;
  }

  CURL* curl = curl_easy_init();
  std::string url = base + "/big.bin";
  std::size_t total = 0;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");

  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::size_t> offsets(0, kFileSize - kRangeSize);
  cpu = cpuSeconds(serverPid);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRangeRequests; ++i) {
    std::size_t from = offsets(random);
    if (!fetch(curl, std::to_string(from) + "-" + std::to_string(from + kRangeSize - 1), &total)) break;
  }
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double megabytes = static_cast<double>(total) / 1e6;
  f.rangesMBps = megabytes / elapsed;
  f.rangesCpuPerMB = (cpuSeconds(serverPid) - cpu) / megabytes;
  bool rangesOk = total == kRangeSize * kRangeRequests;

  total = 0;
  cpu = cpuSeconds(serverPid);
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kWholeFileRuns; ++i)
    if (!fetch(curl, "", &total)) break;
  elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  megabytes = static_cast<double>(total) / 1e6;
  f.wholeMBps = megabytes / elapsed;
  f.wholeCpuPerMB = (cpuSeconds(serverPid) - cpu) / megabytes;
  curl_easy_cleanup(curl);
  f.ok = rangesOk && total == kFileSize * kWholeFileRuns && f.smallErrors == 0;
  return f;
}

// Starts nginx as one process on `port` over `root`; answers its process id, or -1.
pid_t startNginx(const std::filesystem::path& work, const std::filesystem::path& root, std::uint16_t port) {
  std::filesystem::create_directories(work / "logs");
  std::ofstream conf(work / "nginx.conf");
  conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << (work / "nginx.pid").string()
       << ";\n"
       << "error_log " << (work / "logs/error.log").string() << ";\n"
       << "events { worker_connections 256; }\n"
       << "http {\n  access_log off;\n  sendfile on;\n  keepalive_requests 1000000;\n"
       << "  client_body_temp_path " << (work / "body").string() << ";\n"
       << "  proxy_temp_path " << (work / "proxy").string() << ";\n"
       << "  fastcgi_temp_path " << (work / "fastcgi").string() << ";\n"
       << "  uwsgi_temp_path " << (work / "uwsgi").string() << ";\n"
       << "  scgi_temp_path " << (work / "scgi").string() << ";\n"
       << "  server { listen 127.0.0.1:" << port << "; root " << root.string() << "; }\n}\n";
  conf.close();
  std::string nginx = "/usr/sbin/nginx";
  std::string confPath = (work / "nginx.conf").string();
  std::string prefix = work.string() + "/";
  char* argv[] = {nginx.data(),    const_cast<char*>("-p"),
                  prefix.data(),   const_cast<char*>("-c"),
                  confPath.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, nginx.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
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

void printRow(const char* load, double ours, double theirs, const char* unit, bool higherIsBetter) {
  double ratio = higherIsBetter ? ours / theirs : theirs / ours;
  std::printf("%-34s %12.3f %12.3f  %-10s %6.2f\n", load, ours, theirs, unit, ratio);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--serve") == 0) return serve(argv[2]);
  int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (::access("/usr/sbin/nginx", X_OK) != 0 || run({"sh", "-c", "command -v wrk"}).empty()) {
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
  std::uint16_t nginxPort = freePort();
  pid_t nginxPid = startNginx(work, root, nginxPort);
  int status = 1;
  if (ourPid > 0 && nginxPid > 0 && waitUntilServing(ourPort) && waitUntilServing(nginxPort)) {
    Figures ours = measure(ourPort, ourPid, seconds);
    Figures theirs = measure(nginxPort, nginxPid, seconds);
    std::printf("%-34s %12s %12s  %-10s %6s\n", "load", "Pelorin", "nginx", "unit", "ratio");
    printRow("4 KB GETs, 16 connections", ours.smallRequestsPerSecond, theirs.smallRequestsPerSecond, "req/s",
             true);
    printRow("  median latency", ours.smallMedianSeconds * 1e3, theirs.smallMedianSeconds * 1e3, "ms", false);
    printRow("  server CPU per request", ours.smallCpuPerRequest * 1e6, theirs.smallCpuPerRequest * 1e6, "us",
             false);
    printRow("200 random 1 MB ranges", ours.rangesMBps, theirs.rangesMBps, "MB/s", true);
    printRow("  server CPU per MB", ours.rangesCpuPerMB * 1e3, theirs.rangesCpuPerMB * 1e3, "ms", false);
    printRow("whole 100 MB file", ours.wholeMBps, theirs.wholeMBps, "MB/s", true);
    printRow("  server CPU per MB", ours.wholeCpuPerMB * 1e3, theirs.wholeCpuPerMB * 1e3, "ms", false);
    std::printf("(ratio: Pelorin / nginx for rates, nginx / Pelorin for times; above 1 is Pelorin ahead)\n");
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
