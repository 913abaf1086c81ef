// The local media server against nginx, as the player sees them, in one run: a finished 100 MB
// file through the player URL "/youtube/<id>/18/<id>.mp4" (the whole file, then 200 random 1 MB
// ranges, libcurl) and a growing one (a real downloader fetches 100 MB at full speed from a
// loopback origin while a client reads the player URL), each beside nginx serving the finished
// file. A driver, not a test: run it by hand on a quiet machine; without nginx (Debian package
// nginx-light) only Pelorin's figures are printed.
//
//   build/release/bench/cache-server/media_server_bench
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>

#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/shell/CacheUtilities.h"
#include "app/shell/IPlayerViewController.h"
#include "app/youtube/StreamResolver.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 100 * 1000 * 1000;
constexpr std::size_t kRangeSize = 1000 * 1000;
constexpr int kRangeRequests = 200;

// The player shows the video being read, so that the server's waits do not give up.
class BenchPlayer : public ns::Object, public IPlayerViewController {
 public:
  std::optional<std::string> videoId() override { return std::string("grow"); }
  void loadVideo(const ns::Ref<SearchEntry>&) override {}
  void playVideo(const ns::Ref<SearchEntry>&) override {}
  void play() override {}
  void stopVideo() override {}
  void updateVideoUrlIfNeeded(const std::string&) override {}
  void showOSD(const std::string&) override {}
  bool bookmarksVisible() override { return false; }
};

// Every video's one stream is the origin's big file.
class BenchResolver : public StreamResolver {
 public:
  explicit BenchResolver(std::string url) : url_(std::move(url)) {}
  void resolveVideoId_completion(const std::string&, Completion completion) override {
    completion(StreamResolution{{{18, url_}}, {}, std::nullopt});
  }

 private:
  std::string url_;
};

size_t countBytes(char*, size_t size, size_t count, void* total) {
  *static_cast<std::size_t*>(total) += size * count;
  return size * count;
}

struct Figures {
  double wholeMBps = 0;
  double rangesMBps = 0;
  bool ok = false;
};

// The whole file, then the ranges, from `url`.
Figures measure(const std::string& url) {
  Figures f;
  CURL* curl = curl_easy_init();
  std::size_t total = 0;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  auto start = std::chrono::steady_clock::now();
  bool ok = curl_easy_perform(curl) == CURLE_OK && total == kFileSize;
  f.wholeMBps = static_cast<double>(total) / 1e6 /
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::size_t> offsets(0, kFileSize - kRangeSize);
  total = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRangeRequests && ok; ++i) {
    std::size_t from = offsets(random);
    std::string range = std::to_string(from) + "-" + std::to_string(from + kRangeSize - 1);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    ok = curl_easy_perform(curl) == CURLE_OK;
  }
  f.rangesMBps = static_cast<double>(total) / 1e6 /
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  curl_easy_cleanup(curl);
  f.ok = ok && total == kRangeSize * kRangeRequests;
  return f;
}

// Runs `work` on a thread of its own while the main run loop turns (downloads report there).
template <class F>
auto whilePumping(F work) {
  auto future = std::async(std::launch::async, std::move(work));
  ns::RunLoop::currentRunLoop()->runUntil(
      [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 3600);
  return future.get();
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

pid_t startNginx(const std::filesystem::path& work, const std::filesystem::path& root, std::uint16_t port) {
  std::filesystem::create_directories(work / "logs");
  std::ofstream conf(work / "nginx.conf");
  conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << (work / "nginx.pid").string()
       << ";\n"
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
  std::string nginx = "/usr/sbin/nginx", prefix = work.string() + "/",
              confPath = (work / "nginx.conf").string();
  char* argv[] = {nginx.data(),    const_cast<char*>("-p"),
                  prefix.data(),   const_cast<char*>("-c"),
                  confPath.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, nginx.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  return pid;
}

bool waitUntilServing(const std::string& url) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    CURL* curl = curl_easy_init();
    std::size_t total = 0;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    bool ok = curl_easy_perform(curl) == CURLE_OK;
    curl_easy_cleanup(curl);
    if (ok) return true;
    ::usleep(50000);
  }
  return false;
}

void printRow(const char* load, double ours, double theirs) {
  if (theirs > 0)
    std::printf("%-40s %10.1f %10.1f  MB/s %6.2f\n", load, ours, theirs, ours / theirs);
  else
    std::printf("%-40s %10.1f %10s  MB/s\n", load, ours, "-");
}

}  // namespace

int main() {
  ns::runtime::start();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  auto work = std::filesystem::temp_directory_path() / ("pelorin-media-bench-" + std::to_string(::getpid()));
  for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
    std::string path = (work / name).string();
    std::filesystem::create_directories(path);
    ::setenv(name, path.c_str(), 1);
  }
  std::filesystem::create_directories(work / "XDG_DATA_HOME" / "Pelorin");
  for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath()})
    std::filesystem::create_directories(folder);
  auto www = work / "www";
  std::filesystem::create_directories(www);
  {
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
    std::ofstream big(www / "big.mp4", std::ios::binary);
    for (std::size_t written = 0; written < kFileSize; written += block.size())
      big.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), kFileSize - written)));
  }
  std::filesystem::copy_file(www / "big.mp4", getCacheFolderPath() + "/done.mp4");

  bool haveNginx = ::access("/usr/sbin/nginx", X_OK) == 0;
  std::uint16_t nginxPort = haveNginx ? freePort() : 0;
  pid_t nginxPid = haveNginx ? startNginx(work, www, nginxPort) : -1;
  std::string nginxURL = "http://127.0.0.1:" + std::to_string(nginxPort) + "/big.mp4";
  haveNginx = nginxPid > 0 && waitUntilServing(nginxURL);

  // The origin of the growing download: the embedded server over the same folder.
  auto origin = ns::make<HTTPServer>();
  origin->setInterface(std::string("127.0.0.1"));
  origin->setDocumentRoot(www.string());
  ns::Error error;
  int status = 1;
  if (origin->start(&error)) {
    std::string originURL = "http://127.0.0.1:" + std::to_string(origin->listeningPort()) + "/big.mp4";
    StreamResolver::setSharedResolver(std::make_shared<BenchResolver>(originURL));
    setPlayerViewController(ns::make<BenchPlayer>());
    auto server = ns::make<CacheServer>(0);
    server->start();

    Figures finished = whilePumping([&] { return measure(server->urlStringForVideoId("done")); });
    Figures reference = haveNginx ? measure(nginxURL) : Figures{};

    auto downloader = YoutubeDownloader::initWithId("grow");
    auto start = std::chrono::steady_clock::now();
    downloader->startDownload();
    std::size_t total = whilePumping([&] {
      CURL* curl = curl_easy_init();
      std::size_t bytes = 0;
      std::string url = server->urlStringForVideoId("grow");
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes);
      curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
      curl_easy_perform(curl);
      curl_easy_cleanup(curl);
      return bytes;
    });
    double growingMBps = static_cast<double>(total) / 1e6 /
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("%-40s %10s %10s  %-4s %6s\n", "load", "Pelorin", "nginx", "unit", "ratio");
    printRow("finished file, whole 100 MB", finished.wholeMBps, reference.wholeMBps);
    printRow("finished file, 200 random 1 MB ranges", finished.rangesMBps, reference.rangesMBps);
    printRow("growing file, 100 MB while downloading", growingMBps, reference.wholeMBps);
    std::printf("(ratio: Pelorin / nginx; nginx serves the finished file in every row)\n");
    bool ok = finished.ok && total == kFileSize && (!haveNginx || reference.ok);
    if (!ok) std::printf("some requests FAILED\n");
    status = ok ? 0 : 1;
    server = nullptr;
    resetCacheStateTablesForTesting();
    origin->stop();
  } else {
    std::fprintf(stderr, "the origin did not start\n");
  }
  if (nginxPid > 0) {
    ::kill(nginxPid, SIGTERM);
    ::waitpid(nginxPid, nullptr, 0);
  }
  std::filesystem::remove_all(work);
  curl_global_cleanup();
  return status;
}
