#pragma once
// The real `pelorin` as a child process on the test display: where its window is, its run with
// every remote endpoint at a sink, and pixel comparison.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <string>

#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/gtk/Screen.h"

extern char** environ;

namespace onscreen {

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Geometry&) const = default;
};

// What a shell command prints.
inline std::string commandOutput(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  pclose(pipe);
  return text;
}

// The top-level window titled "Pelorin", as xwininfo lists it, once it is mapped.
inline std::optional<Geometry> pelorinWindow() {
  const std::string text = commandOutput("xwininfo -root -tree 2>/dev/null");
  // 0x200003 "Pelorin": ("pelorin" "Pelorin")  1100x722+170+89  +170+89
  static const std::regex line(
      "\"Pelorin\": \\([^)]*\\)\\s+(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
  std::smatch match;
  if (!std::regex_search(text, match, line)) return std::nullopt;
  Geometry g{std::stoi(match[3]), std::stoi(match[4]), std::stoi(match[1]), std::stoi(match[2])};
  if (g.width < 600) return std::nullopt;
  return g;
}

// A shown top-level window of exactly this size (a popover, say), as xwininfo lists it.
inline std::optional<Geometry> windowOfSize(int width, int height) {
  const std::string tree = commandOutput("xwininfo -root -tree 2>/dev/null");
  const std::regex line("(0x[0-9a-f]+) .*\\s" + std::to_string(width) + "x" + std::to_string(height) +
                        "[+-]-?\\d+[+-]-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
  for (std::sregex_iterator it(tree.begin(), tree.end(), line), end; it != end; ++it) {
    if (commandOutput("xwininfo -id " + (*it)[1].str() + " 2>/dev/null").find("IsViewable") ==
        std::string::npos)
      continue;
    return Geometry{std::stoi((*it)[2]), std::stoi((*it)[3]), width, height};
  }
  return std::nullopt;
}

inline bool near(const pltest::Pixel& a, int r, int g, int b, int tolerance) {
  return std::abs(a.r - r) <= tolerance && std::abs(a.g - g) <= tolerance && std::abs(a.b - b) <= tolerance;
}

// The screen row where the dark title bar begins, once drawn: the main menu's light bar may sit
// above it.
inline std::optional<int> titleBarTop(const Geometry& window) {
  auto column = pltest::screenPixels(window.x + 400, window.y, 1, 80);
  for (int y = 0; y < 80; ++y)
    if (column[y].r < 120 && column[y].r > 5) return window.y + y;
  return std::nullopt;
}

class PelorinProcess {
 public:
  explicit PelorinProcess(const std::string& log) {
    std::string path = PELORIN_EXECUTABLE;
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~PelorinProcess() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // SIGTERM, then the exit status once it ended.
  std::optional<int> terminate() {
    kill(pid_, SIGTERM);
    int status = 0;
    pltest::pumpUntil([&] { return (ended_ = waitpid(pid_, &status, WNOHANG) == pid_); }, 60);
    if (!ended_) return std::nullopt;
    return status;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

// Every remote endpoint at the sink, with crash capture off.
inline void quietEndpoints(pltest::Sandbox& sandbox, const pltest::FakeServer& sink) {
  sandbox.set("CrashReporting", "0");
  sandbox.set("CrashSubmission", "0");
  for (const char* key : {"PELORIN_VIDEO_SERVICE_URL", "PELORIN_SUGGEST_URL", "PELORIN_GOOGLE_API_URL",
                          "PELORIN_OAUTH_URL", "PELORIN_LEGACY_FEED_URL", "PELORIN_PROFILE_PHOTO_URL",
                          "PELORIN_MAKER_FILES_URL", "CrashReporterAPIEndpoint"})
    sandbox.set(key, sink.baseURL());
  sandbox.set("PELORIN_MAKER_HOST", "127.0.0.1:" + std::to_string(sink.port()));
}

// The player's audio library keeps a few bytes of its device list to the end, on purpose: the
// leak check of a run that played something must not count them.
inline void allowAudioLibraryLeaks(pltest::Sandbox& sandbox) {
  const std::string suppressions = sandbox.path("lsan.supp");
  {
    std::ofstream out(suppressions);
    out << std::ifstream(PELORIN_SOURCE_DIR "/tests/platform/appkit/gtk/lsan.supp").rdbuf()
        << "\nleak:libSDL2-2.0.so\n";
  }
  const char* options = std::getenv("LSAN_OPTIONS");
  sandbox.set("LSAN_OPTIONS", std::string(options ? options : "") + ":suppressions=" + suppressions);
}

// A video of the Data API with this id, title and length, and a search result for it.
inline std::string videoJSON(const std::string& id, const std::string& title, int seconds = 20) {
  return R"({"kind": "youtube#video", "id": ")" + id +
         R"(", "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UC1", "title": ")" +
         title + R"(", "description": "", "channelTitle": "Maker", "thumbnails": {}},
         "contentDetails": {"duration": "PT)" +
         std::to_string(seconds) + R"(S"}, "statistics": {"viewCount": "1"}})";
}

inline std::string searchJSON(const std::string& id, const std::string& title) {
  return R"({"kind": "youtube#searchResult", "id": {"kind": "youtube#video", "videoId": ")" + id +
         R"("}, "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UC1", "title": ")" +
         title + R"(", "description": "", "channelTitle": "Maker", "thumbnails": {}}})";
}

}  // namespace onscreen
