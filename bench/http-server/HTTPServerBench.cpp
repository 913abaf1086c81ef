// Throughput of the embedded server serving a 100 MB file over loopback: one whole-file GET
// and 200 random 1 MB range requests on a kept-alive connection, fetched with libcurl. When
// nginx is installed the same requests go to an nginx serving the same folder, and the ratio is
// printed. A driver, not a test: run it by hand on a quiet machine.
#include <curl/curl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "lib/http-server/Core/HTTPServer.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 100 * 1000 * 1000;
constexpr std::size_t kRangeSize = 1000 * 1000;
constexpr int kRangeRequests = 200;

size_t countBytes(char*, size_t size, size_t count, void* total) {
  *static_cast<std::size_t*>(total) += size * count;
  return size * count;
}

struct Result {
  double wholeMBps = 0;
  double rangesMBps = 0;
  bool ok = false;
};

Result measure(std::uint16_t port) {
  Result result;
  CURL* curl = curl_easy_init();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
  std::size_t total = 0;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");

  auto start = std::chrono::steady_clock::now();
  if (curl_easy_perform(curl) != CURLE_OK || total != kFileSize) {
    curl_easy_cleanup(curl);
    return result;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.wholeMBps = kFileSize / 1e6 / seconds;

  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::size_t> offsets(0, kFileSize - kRangeSize);
  total = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRangeRequests; ++i) {
    std::size_t from = offsets(random);
    std::string range = std::to_string(from) + "-" + std::to_string(from + kRangeSize - 1);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    if (curl_easy_perform(curl) != CURLE_OK) {
      curl_easy_cleanup(curl);
      return result;
    }
  }
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  curl_easy_cleanup(curl);
  if (total != kRangeSize * kRangeRequests) return result;
  result.rangesMBps = static_cast<double>(total) / 1e6 / seconds;
  result.ok = true;
  return result;
}

std::string findNginx() {
  for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"})
    if (::access(candidate, X_OK) == 0) return candidate;
  return {};
}

std::uint16_t freePort() {
  auto probe = ns::make<HTTPServer>();
  probe->setInterface("127.0.0.1");
  ns::Error error;
  if (!probe->start(&error)) return 0;
  std::uint16_t port = probe->listeningPort();
  probe->stop();
  return port;
}

// Starts nginx on `port` over `root`; answers its process id, or -1.
pid_t startNginx(const std::string& nginx, const std::filesystem::path& work, const std::filesystem::path& root,
                 std::uint16_t port) {
  std::filesystem::create_directories(work / "logs");
  std::ofstream conf(work / "nginx.conf");
  conf << "daemon off;\nworker_processes 1;\npid " << (work / "nginx.pid").string() << ";\n"
       << "error_log " << (work / "logs/error.log").string() << ";\n"
       << "events { worker_connections 64; }\n"
       << "http {\n  access_log off;\n  sendfile on;\n"
       << "  client_body_temp_path " << (work / "body").string() << ";\n"
       << "  proxy_temp_path " << (work / "proxy").string() << ";\n"
       << "  fastcgi_temp_path " << (work / "fastcgi").string() << ";\n"
       << "  uwsgi_temp_path " << (work / "uwsgi").string() << ";\n"
       << "  scgi_temp_path " << (work / "scgi").string() << ";\n"
       << "  server { listen 127.0.0.1:" << port << "; root " << root.string() << "; }\n}\n";
  conf.close();
  std::string confPath = (work / "nginx.conf").string();
  std::string prefix = work.string() + "/";
  char* argv[] = {const_cast<char*>(nginx.c_str()), const_cast<char*>("-p"), prefix.data(),
                  const_cast<char*>("-c"), confPath.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, nginx.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  return pid;
}

}  // namespace

int main() {
  ns::runtime::start();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  auto work = std::filesystem::temp_directory_path() / ("pelorin-http-bench-" + std::to_string(::getpid()));
  auto root = work / "www";
  std::filesystem::create_directories(root);
  {
    std::ofstream out(root / "big.bin", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
    for (std::size_t written = 0; written < kFileSize; written += block.size())
      out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), kFileSize - written)));
  }

  auto server = ns::make<HTTPServer>();
  server->setInterface("127.0.0.1");
  server->setDocumentRoot(root.string());
  ns::Error error;
  if (!server->start(&error)) {
    std::fprintf(stderr, "server did not start: %s\n", error.description().c_str());
    return 1;
  }
  Result ours = measure(server->listeningPort());
  server->stop();
  std::printf("embedded server: whole file %.1f MB/s, 1 MB ranges %.1f MB/s%s\n", ours.wholeMBps, ours.rangesMBps,
              ours.ok ? "" : " (FAILED)");

  std::string nginx = findNginx();
  if (nginx.empty()) {
    std::printf("nginx: not installed, no comparison\n");
  } else {
    std::uint16_t port = freePort();
    pid_t pid = startNginx(nginx, work, root, port);
    Result theirs;
    // nginx needs a moment to listen; retry the first measurement a few times.
    for (int attempt = 0; attempt < 50 && pid > 0 && !theirs.ok; ++attempt) {
      theirs = measure(port);
      if (!theirs.ok) ::usleep(100000);
    }
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    if (theirs.ok) {
      std::printf("nginx:           whole file %.1f MB/s, 1 MB ranges %.1f MB/s\n", theirs.wholeMBps,
                  theirs.rangesMBps);
      std::printf("ratio (embedded / nginx): whole file %.2f, ranges %.2f\n", ours.wholeMBps / theirs.wholeMBps,
                  ours.rangesMBps / theirs.rangesMBps);
    } else {
      std::printf("nginx: did not serve, no comparison\n");
    }
  }
  std::filesystem::remove_all(work);
  curl_global_cleanup();
  return ours.ok ? 0 : 1;
}
