// Throughput of the resumable download operation: a 200 MB file served by the embedded HTTP
// server on 127.0.0.1, fetched by PelCacheOperation into a partial file and by `curl -s -o` into
// another, in one run; prints both rates, their ratio, and the peak resident memory of the
// process during the operation's download (the body streams to disk, so it stays far below the
// file's size). The server runs in a child process of its own, so that its memory is not
// counted. A driver, not a test: run it by hand on a quiet machine.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/cache/PelCacheOperation.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/net/URL.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 200 * 1000 * 1000;

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

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Answers the rate in MB/s, 0 on failure.
double fetchWithOperation(const std::string& url, const std::string& path) {
  auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString(url));
  auto op = PelCacheOperation::initWithRequest_tempPath(request, path);
  bool done = false, failed = false;
  op->setCompletionBlockWithSuccess_failure(
      [&](const ns::Ref<HTTPRequestOperation>&, const std::optional<ns::Data>&) { done = true; },
      [&](const ns::Ref<HTTPRequestOperation>&, const ns::Error& error) {
        std::fprintf(stderr, "operation failed: %s\n", error.localizedDescription().c_str());
        done = failed = true;
      });
  auto start = std::chrono::steady_clock::now();
  op->start();
  ns::RunLoop::currentRunLoop()->runUntil([&] { return done; }, 600, ns::DefaultRunLoopMode);
  double elapsed = seconds(start);
  if (!done || failed || std::filesystem::file_size(path) != kFileSize) return 0;
  return kFileSize / 1e6 / elapsed;
}

double fetchWithCurl(const std::string& url, const std::string& path) {
  std::string program = "/usr/bin/curl";
  char* argv[] = {program.data(),
                  const_cast<char*>("-s"),
                  const_cast<char*>("-o"),
                  const_cast<char*>(path.c_str()),
                  const_cast<char*>(url.c_str()),
                  nullptr};
  auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return 0;
  int status = 0;
  waitpid(pid, &status, 0);
  double elapsed = seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::filesystem::file_size(path) != kFileSize)
    return 0;
  return kFileSize / 1e6 / elapsed;
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

  int fds[2];
  if (::pipe(fds) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::string self = "/proc/self/exe", flag = "--serve", rootText = root.string();
  char* serverArgv[] = {self.data(), flag.data(), rootText.data(), nullptr};
  pid_t server = -1;
  int spawned = posix_spawn(&server, self.c_str(), &actions, nullptr, serverArgv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  char portText[16] = {};
  ssize_t n = spawned == 0 ? ::read(fds[0], portText, sizeof portText - 1) : -1;
  ::close(fds[0]);
  if (n <= 0) {
    std::fprintf(stderr, "server did not start\n");
    std::filesystem::remove_all(work);
    return 1;
  }
  std::string url = "http://127.0.0.1:" + std::to_string(std::atoi(portText)) + "/big.bin";

  double before = peakResidentMB();
  resetPeakResident();
  double ours = fetchWithOperation(url, (work / "operation.part").string());
  double peak = peakResidentMB();
  std::filesystem::remove(work / "operation.part");
  double theirs = fetchWithCurl(url, (work / "curl.out").string());
  ::kill(server, SIGKILL);
  ::waitpid(server, nullptr, 0);
  std::filesystem::remove_all(work);

  std::printf("PelCacheOperation: %.1f MB/s%s\n", ours, ours > 0 ? "" : " (FAILED)");
  std::printf("curl -s -o:        %.1f MB/s%s\n", theirs, theirs > 0 ? "" : " (FAILED)");
  if (ours > 0 && theirs > 0) std::printf("ratio (PelCacheOperation / curl): %.2f\n", ours / theirs);
  std::printf("peak resident memory during the download: %.1f MB (before: %.1f MB; file: %.0f MB)\n", peak,
              before, kFileSize / 1e6);
  return ours > 0 && theirs > 0 ? 0 : 1;
}
