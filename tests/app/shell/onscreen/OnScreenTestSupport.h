#pragma once
// The real `pelorin` as a child process on the test display: where its window and the parts of
// its main window are, its run with every remote endpoint at a sink, and pixel comparison.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/gtk/Screen.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LaunchEnvironment.h"

extern char** environ;

namespace onscreen {

// The main window's layout, in points: heights from the top of the title bar, widths from the
// window's left edge.
constexpr int kTitleBar = 55;       // the tiled title bar
constexpr int kNavigationBar = 30;  // back, forward and the search field, below the title bar
constexpr int kControlBar = 42;     // the player's bottom bar, at the window's bottom
constexpr int kBrowsePane = 360;    // the source list and the list, left of the player

// A top-level window as xwininfo lists it: its X id and its frame on the screen.
struct Geometry {
  std::string id;
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
  // 0x200003 "Pelorin": ("pelorin" "Pelorin")  1100x722+170+89  +170+89 (capital P: not the
  // application's leader window)
  static const std::regex line(
      "(0x[0-9a-f]+) \"Pelorin\": "
      "\\([^)]*\\)\\s+(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
  std::smatch match;
  if (!std::regex_search(text, match, line)) return std::nullopt;
  Geometry g{match[1], std::stoi(match[4]), std::stoi(match[5]), std::stoi(match[2]), std::stoi(match[3])};
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
    return Geometry{(*it)[1], std::stoi((*it)[2]), std::stoi((*it)[3]), width, height};
  }
  return std::nullopt;
}

// The X id of the window that has the keyboard focus, as xwininfo writes ids ("0x..."), or "".
inline std::string focusedWindow() {
  const std::string text = commandOutput("xdotool getwindowfocus 2>/dev/null");
  char* end = nullptr;
  const unsigned long id = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str()) return {};
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", id);
  return hex;
}

inline bool near(const pltest::Pixel& a, int r, int g, int b, int tolerance) {
  return std::abs(a.r - r) <= tolerance && std::abs(a.g - g) <= tolerance && std::abs(a.b - b) <= tolerance;
}

// The main window on the screen, and where its parts are. The main menu's light bar sits at the
// window's top, as tall as its font makes it, and the dark title bar below it: every place under
// the title bar is reckoned from the title bar's top, never from the window's.
struct MainWindow : Geometry {
  int titleBarTop = 0;  // the screen row of the title bar's first row
  bool operator==(const MainWindow&) const = default;

  int belowTitleBar() const { return titleBarTop + kTitleBar; }
  int belowNavigationBar() const { return belowTitleBar() + kNavigationBar; }
  int bottom() const { return y + height; }
  // The player's centre: right of the browse pane (and its divider), between the title bar and
  // the control bar.
  int playerCentreX() const { return x + kBrowsePane + 1 + (width - kBrowsePane - 1) / 2; }
  int playerCentreY() const { return belowTitleBar() + (bottom() - kControlBar - belowTitleBar()) / 2; }
};

// The screen row where the title bar begins in this window, once drawn: the first of the top 80
// rows that is dark and even across the bar's plain middle (the menu bar is light, its titles
// are short runs of dark pixels, and the root behind an undrawn window is black).
inline std::optional<int> titleBarTop(const Geometry& window) {
  constexpr int kLeft = 300, kSpan = 200, kRows = 80;
  const auto shot = pltest::screenPixels(window.x + kLeft, window.y, kSpan, kRows);
  auto barRow = [&](int row) {
    const pltest::Pixel& first = shot[std::size_t(row) * kSpan];
    if (first.r <= 5 || first.r >= 120) return false;
    for (int x = 1; x < kSpan; ++x)
      if (!near(shot[std::size_t(row) * kSpan + x], first.r, first.g, first.b, 3)) return false;
    return true;
  };
  for (int row = 0; row + 1 < kRows; ++row)
    if (barRow(row) && barRow(row + 1)) return window.y + row;
  return std::nullopt;
}

// The main window once it is listed and its title bar is drawn.
inline std::optional<MainWindow> mainWindow() {
  auto window = pelorinWindow();
  if (!window) return std::nullopt;
  auto top = titleBarTop(*window);
  if (!top) return std::nullopt;
  return MainWindow{*window, *top};
}

// Starts the real `pelorin` with this process's environment, its output (every log line, for the
// tests that read it) in `log`; answers its process id, or -1. With no session bus named (the sandbox names
// none), the child gets one that cannot be reached: D-Bus's own library (the audio library's device watch)
// would otherwise start a bus by forking the process, and such a child of a sanitized, many-threaded process
// can hang before its exec, holding pelorin's X connection, so that its window stays on the screen over the
// next test's after pelorin has ended.
inline pid_t spawnPelorin(const std::string& log) {
  std::vector<std::string> variables;
  for (char** v = environ; *v; ++v)
    if (std::string_view(*v).rfind("PELORIN_VERBOSE=", 0) != 0) variables.emplace_back(*v);
  variables.push_back("PELORIN_VERBOSE=1");
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    variables.push_back(std::string("DBUS_SESSION_BUS_ADDRESS=unix:path=") +
                        (runtime ? runtime : "/nonexistent") + "/no-session-bus");
  }
  std::vector<char*> env;
  for (auto& v : variables) env.push_back(v.data());
  env.push_back(nullptr);
  std::string path = PELORIN_EXECUTABLE;
  char* argv[] = {path.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, env.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// What a failed run's log says of why: from a sanitizer's first report on, or else its last
// 4000 bytes.
inline std::string logExcerpt(const std::string& text) {
  const std::size_t report = text.find("ERROR: ");
  const std::size_t from =
      report != std::string::npos ? report : (text.size() > 4000 ? text.size() - 4000 : 0);
  return text.substr(from, 6000);
}

class PelorinProcess : public testsupport::ChildProcess {
 public:
  explicit PelorinProcess(const std::string& log) : log_(log) { pid_ = spawnPelorin(log); }
  // SIGTERM, then the exit status once it ended. A run that did not exit with 0 prints its log's
  // excerpt: the test's sandbox, and the log with it, is gone once the test ends.
  std::optional<int> terminate() {
    signal(SIGTERM);
    auto status = waitForExit(60);
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
      std::ostringstream text;
      text << std::ifstream(log_).rdbuf();
      std::fprintf(stderr, "pelorin did not exit cleanly; its log ends:\n%s\n",
                   logExcerpt(text.str()).c_str());
    }
    return status;
  }

 private:
  std::string log_;
};

// Every remote endpoint at the sink, with crash capture off.
using testsupport::quietEndpoints;

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
