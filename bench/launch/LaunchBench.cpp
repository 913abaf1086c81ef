// Start to the window, as a user sees it: the real `pelorin` started on a virtual display of its
// own (Xvfb, 1440x900, no window manager), every remote endpoint at a loopback sink, timed from
// the spawn until
//  - mapped: the X server maps the top-level window titled "Pelorin";
//  - drawn: its dark title bar, the source list and the middle pane show their colours on the
//    screen (the panes laid out and painted, not only an empty frame).
// Each round starts once in a fresh home (cold: no settings, stores, caches, not even the font
// cache of the user) and once more in the same home (warm), ending each run with SIGTERM as the
// session's end would. It prints every round with the machine's load, then the medians.
// A driver, not a test: run it by hand on a Release build (sanitizers inflate the start many
// times), as quiet a machine as there is:
//
//   build/release/bench/launch/launch_bench [rounds] [path to pelorin]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/testing/FakeServer.h"
#include "tests/support/LaunchEnvironment.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double kWait = 60;  // seconds a run may take to show its window before it counts as failed

using benchkit::loadAverage;
using benchkit::median;
using benchkit::secondsSince;

// An Xvfb of its own: the server picks a free display number and writes it to a pipe.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1440x900x24", "-br", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 30000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

struct Pixel {
  int r = 0, g = 0, b = 0;
};

bool near(Pixel p, int r, int g, int b, int tolerance) {
  return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

class Screen {
 public:
  explicit Screen(const std::string& name) : display_(XOpenDisplay(name.c_str())) {
    if (display_) {
      root_ = DefaultRootWindow(display_);
      XSelectInput(display_, root_, SubstructureNotifyMask);
      XSync(display_, False);
    }
  }
  ~Screen() {
    if (display_) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }

  // Events queued since the last call, dropped (before a run, so that no stale map counts).
  void drain() {
    XSync(display_, False);
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
    }
  }

  // Waits for the map of a top-level window titled "Pelorin"; its window once seen.
  std::optional<Window> waitForMap(double timeout, Clock::time_point start) {
    const int fd = ConnectionNumber(display_);
    while (secondsSince(start) < timeout) {
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != MapNotify) continue;
        if (titled(event.xmap.window, "Pelorin")) return event.xmap.window;
      }
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 5);
    }
    return std::nullopt;
  }

  // Whether the title bar, the source list and the middle pane of `window` are on the screen.
  bool drawn(Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, window, &attributes) || attributes.width < 600 ||
        attributes.height < 500)
      return false;
    const int x = attributes.x, y = attributes.y;
    // The main menu's light bar may sit above the dark title bar. One request for the column: the
    // X server that answers these polls is the one drawing the window being timed.
    bool titleBar = false;
    if (XImage* column = XGetImage(display_, root_, x + 400, y, 1, 80, AllPlanes, ZPixmap)) {
      for (int row = 0; row < 80 && !titleBar; ++row) {
        Pixel p = pixelOf(column, 0, row);
        titleBar = p.r < 120 && p.r > 5;
      }
      XDestroyImage(column);
    }
    return titleBar && near(pixel(x + 30, y + 400), 20, 25, 30, 8) &&
           near(pixel(x + 230, y + 300), 50, 50, 50, 8);
  }

 private:
  bool titled(Window window, const char* title) {
    char* name = nullptr;
    bool same = XFetchName(display_, window, &name) && name && std::strcmp(name, title) == 0;
    if (name) XFree(name);
    return same;
  }

  static Pixel pixelOf(XImage* image, int x, int y) {
    const unsigned long value = XGetPixel(image, x, y);
    return {static_cast<int>((value & image->red_mask) >> 16),
            static_cast<int>((value & image->green_mask) >> 8), static_cast<int>(value & image->blue_mask)};
  }

  Pixel pixel(int x, int y) {
    XImage* image = XGetImage(display_, root_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return {};
    Pixel p = pixelOf(image, 0, 0);
    XDestroyImage(image);
    return p;
  }

  Display* display_;
  Window root_ = 0;
};

struct Times {
  double mapped = -1, drawn = -1;
  // The main thread's time on a CPU and waiting for one until drawn: on a loaded machine the
  // first tells a change in the work apart from the machine's noise.
  double cpu = 0, queued = 0;
};

// The run and run-queue seconds of a process's main thread, from the scheduler's statistics.
std::pair<double, double> mainThreadTimes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  double run = 0, wait = 0;
  in >> run >> wait;
  return {run / 1e9, wait / 1e9};
}

class Bench {
 public:
  Bench(std::string executable, const std::string& display, const pltest::FakeServer& sink)
      : executable_(std::move(executable)), display_(display), screen_(display) {
    for (char** entry = environ; *entry; ++entry) {
      std::string text = *entry;
      auto equals = text.find('=');
      if (equals != std::string::npos) environment_[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const char* key : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "WAYLAND_DISPLAY"})
      environment_.erase(key);
    environment_["DISPLAY"] = display;
    environment_["NO_AT_BRIDGE"] = "1";
    environment_["GSETTINGS_BACKEND"] = "memory";
    for (const auto& [name, value] : testsupport::quietEndpointVariables(sink)) environment_[name] = value;
  }
  bool ok() const { return screen_.ok(); }

  // One run in `home`: the times of its window, after which it is ended as a session ends.
  std::optional<Times> run(const fs::path& home, const fs::path& log) {
    auto environment = environment_;
    environment["HOME"] = home.string();
    std::vector<std::string> entries;
    for (const auto& [key, value] : environment) entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = executable_;
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    screen_.drain();
    pid_t pid = -1;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::nullopt;

    Times times;
    if (auto window = screen_.waitForMap(kWait, start)) {
      times.mapped = secondsSince(start);
      while (secondsSince(start) < kWait) {
        if (screen_.drawn(*window)) {
          times.drawn = secondsSince(start);
          std::tie(times.cpu, times.queued) = mainThreadTimes(pid);
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    }
    // What the start left for after its first frame settles before the session ends, as a
    // user's first look at the window would let it.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    kill(pid, SIGTERM);
    int status = 0;
    const auto end = Clock::now();
    while (waitpid(pid, &status, WNOHANG) != pid) {
      if (secondsSince(end) > kWait) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        std::fprintf(stderr, "pelorin did not end within %.0f s of SIGTERM\n", kWait);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (times.drawn < 0) return std::nullopt;
    return times;
  }

 private:
  std::string executable_;
  std::string display_;
  Screen screen_;
  std::map<std::string, std::string> environment_;
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string executable = argc > 2 ? argv[2] : PELORIN_EXECUTABLE;
  VirtualDisplay display;
  if (display.name().empty()) {
    std::fprintf(stderr, "cannot start Xvfb\n");
    return 1;
  }
  pltest::FakeServer sink;
  Bench bench(executable, display.name(), sink);
  if (!bench.ok()) {
    std::fprintf(stderr, "cannot open display %s\n", display.name().c_str());
    return 1;
  }
  char pattern[] = "/tmp/launch-bench-XXXXXX";
  const char* scratch = mkdtemp(pattern);
  if (!scratch) return 1;
  const fs::path root = scratch;
  std::printf("pelorin: %s\ndisplay %s; log in %s\n", executable.c_str(), display.name().c_str(),
              (root / "pelorin.log").c_str());
  std::printf("%-6s %-5s %10s %10s %10s %10s   load (1/5/15 min)\n", "round", "start", "mapped", "drawn",
              "main cpu", "queued");
  std::vector<double> coldMapped, coldDrawn, warmMapped, warmDrawn, coldCpu, warmCpu;
  int failed = 0;
  for (int round = 1; round <= rounds; ++round) {
    const fs::path home = root / ("home-" + std::to_string(round));
    fs::create_directories(home);
    for (const char* kind : {"cold", "warm"}) {
      const std::string load = loadAverage();
      auto times = bench.run(home, root / "pelorin.log");
      if (!times) {
        ++failed;
        std::printf("%-6d %-5s %10s %10s %10s %10s   %s\n", round, kind, "-", "failed", "-", "-",
                    load.c_str());
        continue;
      }
      const bool cold = std::strcmp(kind, "cold") == 0;
      (cold ? coldMapped : warmMapped).push_back(times->mapped);
      (cold ? coldDrawn : warmDrawn).push_back(times->drawn);
      (cold ? coldCpu : warmCpu).push_back(times->cpu);
      std::printf("%-6d %-5s %7.0f ms %7.0f ms %7.0f ms %7.0f ms   %s\n", round, kind, times->mapped * 1000,
                  times->drawn * 1000, times->cpu * 1000, times->queued * 1000, load.c_str());
      std::fflush(stdout);
    }
  }
  std::printf("median cold: mapped %.0f ms, drawn %.0f ms (goal <= 600 ms), main thread's cpu %.0f ms\n",
              median(coldMapped) * 1000, median(coldDrawn) * 1000, median(coldCpu) * 1000);
  std::printf("median warm: mapped %.0f ms, drawn %.0f ms (goal <= 300 ms), main thread's cpu %.0f ms\n",
              median(warmMapped) * 1000, median(warmDrawn) * 1000, median(warmCpu) * 1000);
  std::printf("load at the end: %s\n", loadAverage().c_str());
  if (failed) return 1;
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
