// The player's cost per second of picture, as a user sees it: the real Release `pelorin` on a
// virtual display of its own (Xvfb 1440x900, no window manager), its window at the size it opens
// with, playing a 1080p30 H.264 clip (ffmpeg's moving test pattern, made on the first run) found
// through a search and a double click, so that the picture comes through the local media server;
// and beside it, on the same display, `mpv --vo=x11 --ao=null` playing the same file from a
// loopback origin in a window of the size of pelorin's video view. Both are pinned to the same
// cores (PELORIN_BENCH_CPUS, "0-3" by default). For each, after the picture shows and playback
// has settled for 3 s, it takes 10 s of
//  - the process's CPU seconds (all its threads, from /proc/PID/stat), per second of playback;
//  - the X server's CPU seconds over the same time (the drawing that lands there);
//  - the distinct frames seen on the screen per second: the clip's bottom band carries each
//    frame's number in bars, read from a screen row about 200 times a second;
// alternating rounds, then the medians and the ratio pelorin / mpv (goal <= 1.0). The last
// round's screenshots (pelorin.png, mpv.png) stay in the scratch folder it prints.
// PELORIN_SCREEN_BENCH_PROFILE runs a command beside each measure, "%d" replaced by the measured
// player's process id: "perf record -g -o /tmp/p.data -p %d -- sleep 8".
// A driver, not a test: run it by hand from a Release build on a quiet machine:
//
//   build/release/bench/player/player_screen_bench [rounds]
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TestMedia.h"
#include "platform/testing/gtk/Screen.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeSuggestService.h"
#include "tests/support/FakeVideoService.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kClipSeconds = 40;
constexpr int kFramesPerSecond = 30;
constexpr double kSettleSeconds = 3;
constexpr double kMeasureSeconds = 10;
constexpr double kWait = 90;  // generous: the machine may be loaded

using benchkit::loadAverage;
using benchkit::median;
using benchkit::secondsSince;
using onscreen::kBrowsePane;
using onscreen::kControlBar;
using onscreen::kNavigationBar;
using onscreen::kTitleBar;

// Window-relative places of the main window's layout (points from its top left), as the
// memory driver finds them.
constexpr int kListLeft = 120;
constexpr int kSearchX = 200, kSearchY = 70;
constexpr const char* kVideoId = "screenbench";  // 11 characters, as the service's

// The CPU seconds of a process, all its threads (utime + stime of /proc/PID/stat); -1 once gone.
double processCpu(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  // Fields 3.. after the name; utime and stime are fields 14 and 15.
  for (int i = 3; i < 14 && rest >> field; ++i) {
  }
  double user = 0, system = 0;
  if (!(rest >> user >> system)) return -1;
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The X server xvfb-run started beside this process: a child of the same parent.
pid_t ownXServer() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
    std::ifstream in(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    pid_t parent = -1;
    rest >> state >> parent;
    if (text.substr(open + 1, close - open - 1) == "Xvfb" && parent == getppid()) return std::stoi(pid);
  }
  return -1;
}

cpu_set_t benchCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const char* text = std::getenv("PELORIN_BENCH_CPUS");
  std::string list = text && *text ? text : "0-3";
  std::stringstream in(list);
  std::string part;
  while (std::getline(in, part, ',')) {
    const auto dash = part.find('-');
    const int first = std::atoi(part.c_str());
    const int last = dash == std::string::npos ? first : std::atoi(part.c_str() + dash + 1);
    for (int cpu = first; cpu <= last && cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &set);
  }
  return set;
}

// A child pinned to the bench's cores, its output to `log`.
pid_t spawnPinned(std::vector<std::string> args, const std::string& log) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const cpu_set_t cpus = benchCpus();
  const pid_t pid = fork();
  if (pid == 0) {
    sched_setaffinity(0, sizeof cpus, &cpus);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void end(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  if (!pltest::pumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 60)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

struct Area {
  int x = 0, y = 0, width = 0, height = 0;
};

// The frame number shown in the band of a picture of this size and place (1920x1080 scaled).
std::optional<int> frameShown(const Area& picture) {
  // The middle of the band: the bottom eighth of the picture.
  const int y = picture.y + picture.height - picture.height / 16;
  auto pixels = pltest::screenPixels(picture.x, y, picture.width, 1);
  if (pixels.size() != static_cast<std::size_t>(picture.width)) return std::nullopt;
  std::vector<int> row;
  for (const auto& p : pixels) row.push_back((p.r * 299 + p.g * 587 + p.b * 114) / 1000);
  return pltest::readFrameCode(row);
}

// The 16:9 picture centred in `view`.
Area pictureIn(const Area& view) {
  const double scale = std::min(view.width / 1920.0, view.height / 1080.0);
  const int width = static_cast<int>(1920 * scale + 0.5), height = static_cast<int>(1080 * scale + 0.5);
  // One pixel in from each edge: the scaler may blend the border with the bars.
  return {view.x + (view.width - width) / 2 + 1, view.y + (view.height - height) / 2 + 1, width - 2,
          height - 2};
}

struct Sample {
  double cpu = -1;       // the player's CPU seconds per second of playback
  double server = -1;    // the X server's
  double frames = -1;    // distinct frames seen per second
  double advanced = -1;  // frame numbers advanced per second (the clip's rate when playing in time)
};

// Once the picture shows in `picture`: settles, then measures `pid` for the measuring time.
std::optional<Sample> measure(pid_t pid, pid_t server, const Area& picture) {
  if (!pltest::pumpUntil([&] { return frameShown(picture).has_value(); }, kWait)) return std::nullopt;
  pltest::pumpUntil([] { return false; }, kSettleSeconds);
  std::set<int> seen;
  std::optional<int> first, last;
  // A profiler for the measured player, when asked for ("%d" becomes its process id).
  if (const char* profile = std::getenv("PELORIN_SCREEN_BENCH_PROFILE"); profile && *profile) {
    std::string command = profile;
    for (auto at = command.find("%d"); at != std::string::npos; at = command.find("%d", at))
      command.replace(at, 2, std::to_string(pid));
    if (std::system(("(" + command + ") >/dev/null 2>&1 &").c_str()) != 0)
      std::fprintf(stderr, "player_screen_bench: the profiler did not start\n");
  }
  const double cpu0 = processCpu(pid), server0 = processCpu(server);
  const auto start = Clock::now();
  pltest::pumpUntil(
      [&] {
        if (auto frame = frameShown(picture)) {
          seen.insert(*frame);
          if (!first) first = frame;
          last = frame;
        }
        return secondsSince(start) >= kMeasureSeconds;
      },
      kMeasureSeconds * 3);
  const double wall = secondsSince(start);
  const double cpu1 = processCpu(pid), server1 = processCpu(server);
  if (cpu0 < 0 || cpu1 < 0) return std::nullopt;
  Sample sample;
  sample.cpu = (cpu1 - cpu0) / wall;
  sample.server = server0 >= 0 && server1 >= 0 ? (server1 - server0) / wall : -1;
  sample.frames = seen.size() / wall;
  if (first && last) sample.advanced = (*last - *first) / wall;
  return sample;
}

class Driver {
 public:
  int run(int rounds);

 private:
  void serve();
  std::optional<Sample> pelorinRound(bool last);
  std::optional<Sample> mpvRound(bool last);
  void screenshot(const std::string& name);

  pltest::OnScreenApp screen_;
  pltest::FakeServer sink_, origin_;
  testsupport::FakeDataAPI api_;
  testsupport::FakeVideoService video_;
  testsupport::FakeSuggestService suggest_;
  fs::path clip_;
  std::string scratch_;
  pid_t server_ = -1;
  std::optional<Area> view_;  // pelorin's video view, once seen
};

void Driver::serve() {
  auto& sandbox = screen_.sandbox();
  onscreen::quietEndpoints(sandbox, sink_);
  origin_.route("GET", "/clip.mp4", pltest::mediaRoute(clip_));
  const std::string video =
      R"({"kind": "youtube#video", "id": ")" + std::string(kVideoId) +
      R"(", "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UCscreen", "title": "Picture cost", "description": "", "channelTitle": "Maker", "thumbnails": {}}, "contentDetails": {"duration": "PT40S"}, "statistics": {"viewCount": "1"}})";
  api_.seed("videos", {video});
  const std::string result =
      R"({"kind": "youtube#searchResult", "id": {"kind": "youtube#video", "videoId": ")" +
      std::string(kVideoId) +
      R"("}, "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UCscreen", "title": "Picture cost", "description": "", "channelTitle": "Maker", "thumbnails": {}}})";
  const std::string reply =
      R"({"kind": "youtube#searchListResponse", "etag": "\"screen\"", "pageInfo": {"totalResults": 1, "resultsPerPage": 1}, "items": [)" +
      result + "]}";
  api_.script("youtube.search.list", testsupport::FakeDataAPI::Script(
                                         testsupport::FakeDataAPI::Answer::BareResult, 200, 0, -1, reply));
  video_.setVideoInfo(
      kVideoId, testsupport::FakeVideoService::videoInfoReply(
                    {{"status", "ok"},
                     {"title", "Picture cost"},
                     {"author", "Maker"},
                     {"length_seconds", std::to_string(int(kClipSeconds))},
                     {"view_count", "1"},
                     {"url_encoded_fmt_stream_map",
                      testsupport::FakeVideoService::streamMap({{"18", origin_.URLForPath("/clip.mp4")}})},
                     {"adaptive_fmts", ""}}));
  sandbox.set("PELORIN_VIDEO_SERVICE_URL", video_.baseURL());
  sandbox.set("PELORIN_GOOGLE_API_URL", api_.baseURL());
  sandbox.set("PELORIN_SUGGEST_URL", suggest_.url());
  testsupport::trustCertificates(sandbox, {api_.server().caCertificatePEM()});
}

void Driver::screenshot(const std::string& name) {
  const std::string path = scratch_ + "/" + name;
  onscreen::commandOutput("import -window root '" + path + "' 2>/dev/null");
}

std::optional<Sample> Driver::pelorinRound(bool last) {
  // Each round starts in a fresh home: nothing cached, the clip downloaded through the local
  // media server again.
  auto& sandbox = screen_.sandbox();
  std::error_code ec;
  for (const auto& folder :
       {sandbox.dataHome(), sandbox.cacheHome(), sandbox.configHome(), sandbox.home() / ".local/state"}) {
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
  }
  const std::string log = scratch_ + "/pelorin.log";
  const pid_t pid = spawnPinned({PELORIN_EXECUTABLE}, log);
  std::optional<onscreen::Geometry> window;
  auto top = [&] { return onscreen::titleBarTop(*window).value_or(window->y); };
  const bool shown = pltest::pumpUntil(
      [&] { return (window = onscreen::pelorinWindow()) && onscreen::titleBarTop(*window).has_value(); },
      kWait);
  if (!shown) {
    std::fprintf(stderr, "player_screen_bench: pelorin showed no window; its log: %s\n", log.c_str());
    end(pid);
    return std::nullopt;
  }
  // What the start does after its first frame settles first.
  pltest::pumpUntil([] { return false; }, 1);
  window = onscreen::pelorinWindow();
  const auto before = api_.callsOf("youtube.search.list").size();
  pltest::xtest::click(window->x + kSearchX, top() + kSearchY);
  pltest::xtest::chord({"Control_L", "a"});
  pltest::xtest::type("picture cost");
  pltest::xtest::tap("Return");
  const bool searched =
      pltest::pumpUntil([&] { return api_.callsOf("youtube.search.list").size() > before; }, kWait);
  // The row on the screen, then a double click on it.
  const int rowX = window->x + kListLeft + 100, rowY = top() + kTitleBar + kNavigationBar + 40;
  const auto blank = pltest::screenPixels(rowX, rowY - 30, 200, 60);
  pltest::pumpUntil([&] { return !(pltest::screenPixels(rowX, rowY - 30, 200, 60) == blank); }, 10);
  pltest::pumpUntil([] { return false; }, 0.5);
  const auto infos = video_.videoInfoRequests();
  pltest::xtest::click(rowX, rowY);
  pltest::xtest::click(rowX, rowY);
  if (!searched || !pltest::pumpUntil([&] { return video_.videoInfoRequests() > infos; }, kWait)) {
    std::fprintf(stderr, "player_screen_bench: the clip was not asked for; pelorin's log: %s\n", log.c_str());
    end(pid);
    return std::nullopt;
  }
  const int viewTop = top() + kTitleBar;
  view_ = Area{window->x + kBrowsePane, viewTop, window->width - kBrowsePane,
               window->y + window->height - viewTop - kControlBar};
  auto sample = measure(pid, server_, pictureIn(*view_));
  if (!sample)
    std::fprintf(stderr, "player_screen_bench: pelorin showed no picture; its log: %s\n", log.c_str());
  if (last) screenshot("pelorin.png");
  end(pid);
  return sample;
}

std::optional<Sample> Driver::mpvRound(bool last) {
  if (!view_) return std::nullopt;
  // At pelorin's video view's place and size, on the same display.
  const Area& view = *view_;
  const std::string geometry = std::to_string(view.width) + "x" + std::to_string(view.height) + "+" +
                               std::to_string(view.x) + "+" + std::to_string(view.y);
  const pid_t pid =
      spawnPinned({"mpv", "--no-config", "--really-quiet", "--vo=x11", "--ao=null", "--osc=no",
                   "--osd-level=0", "--no-border", "--geometry=" + geometry, origin_.URLForPath("/clip.mp4")},
                  scratch_ + "/mpv.log");
  auto sample = measure(pid, server_, pictureIn(view));
  if (!sample)
    std::fprintf(stderr, "player_screen_bench: mpv showed no picture; its log: %s/mpv.log\n",
                 scratch_.c_str());
  if (last) screenshot("mpv.png");
  end(pid);
  return sample;
}

int Driver::run(int rounds) {
  clip_ = pltest::testMedia({.seconds = kClipSeconds,
                             .pattern = pltest::MediaPattern::TestPatternFrameCode,
                             .width = 1920,
                             .height = 1080,
                             .framesPerSecond = kFramesPerSecond});
  if (clip_.empty()) {
    std::fprintf(stderr, "player_screen_bench: no clip (ffmpeg missing?)\n");
    return 1;
  }
  serve();
  // Logs and screenshots outlive the run, unlike the sandbox.
  char pattern[] = "/tmp/player-screen-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  scratch_ = pattern;
  server_ = ownXServer();
  std::printf("the player's cost per second of picture: %s beside mpv --vo=x11 (%s)\n", PELORIN_EXECUTABLE,
              onscreen::commandOutput("mpv --version | head -1").c_str());
  std::printf("clip: %s (1920x1080, %d fps); cores: %s; scratch: %s\n", clip_.c_str(), kFramesPerSecond,
              std::getenv("PELORIN_BENCH_CPUS") ? std::getenv("PELORIN_BENCH_CPUS") : "0-3",
              scratch_.c_str());
  std::printf("%-6s %-8s %12s %12s %10s %10s   load (1/5/15 min)\n", "round", "player", "cpu-s/s",
              "X cpu-s/s", "frames/s", "clip f/s");
  std::vector<double> ours, theirs, oursX, theirsX, oursFrames, theirsFrames;
  int failed = 0;
  for (int round = 1; round <= rounds; ++round) {
    const bool last = round == rounds;
    for (const char* player : {"pelorin", "mpv"}) {
      const std::string load = loadAverage();
      const bool pelorin = std::strcmp(player, "pelorin") == 0;
      auto sample = pelorin ? pelorinRound(last) : mpvRound(last);
      if (!sample) {
        ++failed;
        std::printf("%-6d %-8s %12s\n", round, player, "failed");
        continue;
      }
      (pelorin ? ours : theirs).push_back(sample->cpu);
      (pelorin ? oursX : theirsX).push_back(sample->server);
      (pelorin ? oursFrames : theirsFrames).push_back(sample->frames);
      std::printf("%-6d %-8s %12.3f %12.3f %10.1f %10.1f   %s\n", round, player, sample->cpu, sample->server,
                  sample->frames, sample->advanced, load.c_str());
      std::fflush(stdout);
    }
  }
  const double a = median(ours), b = median(theirs);
  std::printf(
      "median cpu-s per s of playback: pelorin %.3f (X server %.3f, %.1f frames/s), mpv %.3f "
      "(X server %.3f, %.1f frames/s)\n",
      a, median(oursX), median(oursFrames), b, median(theirsX), median(theirsFrames));
  if (a > 0 && b > 0)
    std::printf("ratio pelorin / mpv: %.2f (goal <= 1.0); with the X server's share: %.2f\n", a / b,
                (a + median(oursX)) / (b + median(theirsX)));
  std::printf("load at the end: %s\nscreenshots of the last round: %s/pelorin.png, %s/mpv.png\n",
              loadAverage().c_str(), scratch_.c_str(), scratch_.c_str());
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A virtual display of its own, always: the measure is of that display's drawing.
  if (!benchkit::onVirtualDisplay(argc, argv, "PELORIN_SCREEN_BENCH_ON_XVFB", /*displayWillDo=*/false))
    return 1;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  ns::runtime::start();
  Driver driver;
  return driver.run(rounds);
}
