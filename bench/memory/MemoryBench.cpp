// The real Release `pelorin` used for a while, as a user would, and its memory after each step:
// on a virtual display (1440x900), against the tests' fakes of the Data API, the video service,
// the suggestions and the image host on 127.0.0.1, driven only through XTest input (a click in
// the search field, typed text and Return for a search; a double click on a row for a clip).
// After a warm-up of one search and one clip, ten more searches (each with 20 results of their
// own, with thumbnails) and fifteen more clips (720p, 10 s, each played until its picture shows
// and then 3 s more) follow. After each step it prints the process's resident size (VmRSS of
// /proc/PID/status) and the heap's bytes in use and held (glibc's mallinfo2, read through a small
// library preloaded into `pelorin`), and at the end the growth since the warm-up against the
// 30 MB it may add.
//
// A driver, not a test: run it by hand from a Release build (a build with sanitizers inflates
// every figure and has no heap probe). It starts its own virtual display when DISPLAY is unset:
//
//   build/release/bench/memory/memory_bench
//
// PELORIN_MEMORY_WRAP="heaptrack -o /tmp/pelorin" runs `pelorin` under that command (the resident
// size is still the application's own process) to find what grows.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/ImageSamples.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TestMedia.h"
#include "platform/testing/gtk/Screen.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeSuggestService.h"
#include "tests/support/FakeVideoService.h"

extern char** environ;

namespace {

constexpr int kSearches = 10;            // after the warm-up's
constexpr int kClips = 15;               // after the warm-up's
constexpr int kResultsPerSearch = 20;    // each search's own videos
constexpr double kClipSeconds = 10;      // each clip's length
constexpr double kPlaySeconds = 3;       // played on after its picture shows
constexpr double kAllowedGrowthMB = 30;  // what the steps after the warm-up may add
constexpr double kWait = 90;             // generous: the machine may be loaded

using onscreen::kBrowsePane;
using onscreen::kControlBar;
using onscreen::kNavigationBar;
using onscreen::kTitleBar;

// Window-relative places of the main window's layout (points from its top left).
constexpr int kListLeft = 120;
constexpr int kRowPitch = 85;
constexpr int kSearchX = 200, kSearchY = 70;

struct Colour {
  const char* name;  // ffmpeg's
  int r, g, b;
};
const Colour kColours[] = {{"red", 255, 0, 0},       {"blue", 0, 0, 255},   {"yellow", 255, 255, 0},
                           {"magenta", 255, 0, 255}, {"cyan", 0, 255, 255}, {"white", 255, 255, 255}};
constexpr int kColourCount = sizeof kColours / sizeof kColours[0];

// Consecutive clips differ in colour, so that the new one's picture can be told from the last.
const Colour& colourOf(int search, int row) {
  return kColours[(2 * search + row) % kColourCount];
}

int countOf(int x, int y, int width, int height, int r, int g, int b, int tolerance) {
  int count = 0;
  for (const auto& p : pltest::screenPixels(x, y, width, height))
    count +=
        std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
  return count;
}

std::string videoId(int search, int row) {
  char id[16];
  std::snprintf(id, sizeof id, "mem%02dv%02d0", search, row);  // 11 characters, as the service's
  return id;
}

std::string title(int search, int row) {
  return "Search " + std::to_string(search) + " clip " + std::to_string(row + 1);
}

std::string thumbnails(const std::string& base, const std::string& id) {
  std::string out = "{";
  for (auto [name, width, height] :
       {std::tuple{"default", 120, 90}, {"medium", 320, 180}, {"high", 480, 360}}) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (out.size() > 1) out += ", ";
    out += '"';
    out += name;
    out += "\": {\"url\": \"";
    out += base;
    out += "/thumb/";
    out += id;
    out += "-";
    out += size;
    out += ".jpg\", \"width\": ";
    out += std::to_string(width);
    out += ", \"height\": ";
    out += std::to_string(height);
    out += "}";
  }
  return out + "}";
}

std::string videoJSON(const std::string& id, const std::string& name, const std::string& thumbs) {
  return R"({"kind": "youtube#video", "id": ")" + id +
         R"(", "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UCmemory", "title": ")" +
         name +
         R"(", "description": "A clip of the memory driver.", "channelTitle": "Maker", "thumbnails": )" +
         thumbs + R"(}, "contentDetails": {"duration": "PT10S"}, "statistics": {"viewCount": "12345"}})";
}

std::string searchJSON(const std::string& id, const std::string& name, const std::string& thumbs) {
  return R"({"kind": "youtube#searchResult", "id": {"kind": "youtube#video", "videoId": ")" + id +
         R"("}, "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UCmemory", "title": ")" +
         name + R"(", "description": "", "channelTitle": "Maker", "thumbnails": )" + thumbs + "}}";
}

// Resident kilobytes of a process, from /proc/PID/status.
long residentKB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

struct Heap {
  unsigned long sequence = 0;
  double inUse = -1, held = -1;  // bytes
};

std::optional<Heap> readHeap(const std::string& path) {
  std::ifstream in(path);
  Heap heap;
  double arena = 0, free = 0, mapped = 0;
  if (!(in >> heap.sequence >> heap.inUse >> arena >> free >> mapped)) return std::nullopt;
  heap.held = arena + mapped;
  return heap;
}

// The process running the executable at `path` that descends from `root` (itself, or a child
// of a wrapper such as heaptrack).
pid_t findApplication(pid_t root, const std::filesystem::path& path) {
  std::error_code ec;
  const auto wanted = std::filesystem::canonical(path, ec);
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path() / "exe", linkError) != wanted) continue;
    for (pid_t pid = std::stoi(name), depth = 0; pid > 1 && depth < 6; ++depth) {
      if (pid == root) return std::stoi(name);
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), {});
      auto close = text.rfind(')');
      if (close == std::string::npos) break;
      std::istringstream rest(text.substr(close + 2));
      char state;
      rest >> state >> pid;
    }
  }
  return -1;
}

class Driver {
 public:
  int run();

 private:
  void serve();
  bool launch();
  void place();
  int top() const { return onscreen::titleBarTop(*window_).value_or(window_->y); }
  int rowTop(int row) const { return top() + kTitleBar + kNavigationBar + row * kRowPitch; }
  bool search(int index);
  bool play(int search, int row, int order);
  void report(const std::string& step);
  void quit();

  pltest::OnScreenApp screen_;
  pltest::FakeServer sink_, origin_;
  testsupport::FakeDataAPI api_;
  testsupport::FakeVideoService video_;
  testsupport::FakeSuggestService suggest_;
  std::vector<std::string> clips_;  // per colour
  std::string log_, heapFile_;
  pid_t spawned_ = -1, pid_ = -1;
  std::optional<onscreen::Geometry> window_;
  bool heapProbe_ = false;
  struct Row {
    std::string step;
    long rss = 0;
    std::optional<Heap> heap;
  };
  std::vector<Row> rows_;
};

void Driver::serve() {
  auto& sandbox = screen_.sandbox();
  onscreen::quietEndpoints(sandbox, sink_);
  for (const auto& colour : kColours) {
    auto path = pltest::testMedia({.seconds = kClipSeconds,
                                   .pattern = pltest::MediaPattern::Solid,
                                   .colour = colour.name,
                                   .width = 1280,
                                   .height = 720});
    clips_.push_back(path);
    if (!path.empty())
      origin_.route("GET", std::string("/clip/") + colour.name + ".mp4", pltest::mediaRoute(path));
  }
  // Thumbnails: a grey JPEG of the size the name asks for.
  origin_.route(
      "GET", "/thumb/([A-Za-z0-9]+)-([0-9]+)x([0-9]+)\\.jpg", [](const pltest::FakeRequest& request) {
        const int width = std::stoi(request.matches.at(1)), height = std::stoi(request.matches.at(2));
        const auto gray =
            static_cast<std::uint8_t>(40 + std::hash<std::string>()(request.matches.at(0)) % 160);
        return pltest::FakeReply::text(200, pltest::jpegOf(width, height, gray).toString(), "image/jpeg");
      });
  std::vector<std::string> videos;
  for (int search = 0; search <= kSearches; ++search)
    for (int row = 0; row < kResultsPerSearch; ++row) {
      const std::string id = videoId(search, row);
      videos.push_back(videoJSON(id, title(search, row), thumbnails(origin_.baseURL(), id)));
    }
  api_.seed("videos", videos);
  sandbox.set("PELORIN_VIDEO_SERVICE_URL", video_.baseURL());
  sandbox.set("PELORIN_GOOGLE_API_URL", api_.baseURL());
  sandbox.set("PELORIN_SUGGEST_URL", suggest_.url());
  testsupport::trustCertificates(sandbox, {api_.server().caCertificatePEM()});
  heapFile_ = sandbox.path("heap");
#ifdef PELORIN_HEAP_PROBE_LIBRARY
  const char* wrap = std::getenv("PELORIN_MEMORY_WRAP");
  if (!wrap || !*wrap) {
    heapProbe_ = true;
    sandbox.set("LD_PRELOAD", PELORIN_HEAP_PROBE_LIBRARY);
    sandbox.set("PELORIN_HEAP_PROBE", heapFile_);
  }
#endif
}

bool Driver::launch() {
  log_ = screen_.sandbox().path("pelorin.log");
  const char* wrap = std::getenv("PELORIN_MEMORY_WRAP");
  std::string executable = PELORIN_EXECUTABLE, shell = "/bin/sh", dashC = "-c",
              command = std::string("exec ") + (wrap ? wrap : "") + " \"$0\"";
  char* wrapped[] = {shell.data(), dashC.data(), command.data(), executable.data(), nullptr};
  char* direct[] = {executable.data(), nullptr};
  // Without a wrapper, nothing but `pelorin` may start with the probe preloaded.
  char** argv = wrap && *wrap ? wrapped : direct;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int spawned = posix_spawn(&spawned_, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  // The probe is for `pelorin` only, not for this process's later children.
  screen_.sandbox().set("LD_PRELOAD", std::nullopt);
  if (spawned != 0) return false;
  if (!pltest::pumpUntil([&] { return (pid_ = findApplication(spawned_, executable)) > 0; }, kWait))
    return false;
  if (!pltest::pumpUntil([&] { return (window_ = onscreen::pelorinWindow()).has_value(); }, kWait))
    return false;
  place();
  return window_.has_value();
}

// The window, once listed and drawn (its title bar, not the black root, at its top).
void Driver::place() {
  pltest::pumpUntil(
      [&] { return (window_ = onscreen::pelorinWindow()) && onscreen::titleBarTop(*window_).has_value(); },
      kWait);
}

bool Driver::search(int index) {
  std::vector<std::string> results;
  for (int row = 0; row < kResultsPerSearch; ++row) {
    const std::string id = videoId(index, row);
    results.push_back(searchJSON(id, title(index, row), thumbnails(origin_.baseURL(), id)));
    const Colour& colour = colourOf(index, row);
    video_.setVideoInfo(
        id, testsupport::FakeVideoService::videoInfoReply(
                {{"status", "ok"},
                 {"title", title(index, row)},
                 {"author", "Maker"},
                 {"length_seconds", std::to_string(int(kClipSeconds))},
                 {"view_count", "12345"},
                 {"url_encoded_fmt_stream_map",
                  testsupport::FakeVideoService::streamMap(
                      {{"18", origin_.URLForPath(std::string("/clip/") + colour.name + ".mp4")}})},
                 {"adaptive_fmts", ""}}));
  }
  std::string items;
  for (const auto& result : results) items += (items.empty() ? "" : ", ") + result;
  const std::string reply = R"({"kind": "youtube#searchListResponse", "etag": "\"memory/)" +
                            std::to_string(index) + R"(\"", "pageInfo": {"totalResults": )" +
                            std::to_string(kResultsPerSearch) + R"(, "resultsPerPage": )" +
                            std::to_string(kResultsPerSearch) + R"(}, "items": [)" + items + "]}";
  testsupport::FakeDataAPI::Script script(testsupport::FakeDataAPI::Answer::BareResult, 200, 0, 1, reply);
  api_.script("youtube.search.list", script);

  place();
  const auto before = api_.callsOf("youtube.search.list").size();
  const int listX = window_->x + kListLeft + 110, titleY = rowTop(0) + 4;
  const auto titleBefore = pltest::screenPixels(listX, titleY, 200, 26);
  pltest::xtest::click(window_->x + kSearchX, top() + kSearchY);
  pltest::xtest::chord({"Control_L", "a"});
  pltest::xtest::type("memory " + std::to_string(index));
  pltest::xtest::tap("Return");
  if (!pltest::pumpUntil([&] { return api_.callsOf("youtube.search.list").size() > before; }, kWait))
    return false;
  // Its rows on screen (row 0's title changed), and the visible rows' thumbnails asked for.
  if (!pltest::pumpUntil([&] { return !(pltest::screenPixels(listX, titleY, 200, 26) == titleBefore); },
                         kWait))
    return false;
  const std::string prefix = "/thumb/" + videoId(index, 0).substr(0, 6);
  pltest::pumpUntil(
      [&] {
        int asked = 0;
        for (const auto& request : origin_.requests()) asked += request.path.rfind(prefix, 0) == 0;
        return asked >= 5;
      },
      20);
  // What follows the first picture of the rows (the rest of the thumbnails, redraws) settles.
  pltest::pumpUntil([] { return false; }, 1);
  return true;
}

bool Driver::play(int search, int row, int order) {
  place();
  const Colour& colour = colourOf(search, row);
  const int listX = window_->x + kListLeft + 100, y = rowTop(row) + 40;
  const auto before = video_.videoInfoRequests();
  pltest::xtest::click(listX, y);
  pltest::xtest::click(listX, y);
  if (!pltest::pumpUntil([&] { return video_.videoInfoRequests() > before; }, kWait)) return false;
  // The clip's colour over most of the video view.
  const int left = window_->x + kBrowsePane, topY = top() + kTitleBar;
  const int width = window_->width - kBrowsePane, height = window_->y + window_->height - topY - kControlBar;
  const bool shown = pltest::pumpUntil(
      [&] {
        return countOf(left, topY, width, height, colour.r, colour.g, colour.b, 40) > width * height / 4;
      },
      kWait);
  if (!shown)
    std::fprintf(stderr, "memory_bench: clip %d (%s) did not show its picture\n", order, colour.name);
  pltest::pumpUntil([] { return false; }, kPlaySeconds);
  return shown;
}

void Driver::report(const std::string& step) {
  Row row{step, residentKB(pid_), std::nullopt};
  if (heapProbe_) {
    // A reading taken after the step: wait for the probe's next two.
    auto first = readHeap(heapFile_);
    pltest::pumpUntil(
        [&] {
          auto now = readHeap(heapFile_);
          return now && (!first || now->sequence >= first->sequence + 2) && (row.heap = now, true);
        },
        5);
  }
  auto mb = [](double bytes) { return bytes / (1024.0 * 1024.0); };
  if (row.heap)
    std::printf("%-26s %9.1f %9.1f %9.1f\n", step.c_str(), row.rss / 1024.0, mb(row.heap->inUse),
                mb(row.heap->held));
  else
    std::printf("%-26s %9.1f %9s %9s\n", step.c_str(), row.rss / 1024.0, "-", "-");
  std::fflush(stdout);
  rows_.push_back(std::move(row));
}

void Driver::quit() {
  if (spawned_ <= 0) return;
  if (pid_ > 0) kill(pid_, SIGTERM);
  int status = 0;
  if (!pltest::pumpUntil([&] { return waitpid(spawned_, &status, WNOHANG) == spawned_; }, 60)) {
    kill(spawned_, SIGKILL);
    if (pid_ > 0) kill(pid_, SIGKILL);
    waitpid(spawned_, nullptr, 0);
  }
  spawned_ = -1;
}

int Driver::run() {
  serve();
  for (const auto& clip : clips_)
    if (clip.empty()) {
      std::fprintf(stderr, "memory_bench: no clip (ffmpeg missing?)\n");
      return 1;
    }
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("memory of the real pelorin (%s)\nload average at start: %.2f %.2f %.2f\n\n",
              PELORIN_EXECUTABLE, load[0], load[1], load[2]);
  if (!launch()) {
    std::fprintf(stderr, "memory_bench: pelorin did not show its window; its log: %s\n", log_.c_str());
    quit();
    return 1;
  }
  std::printf("%-26s %9s %9s %9s\n", "after", "RSS MB", "heap MB", "held MB");
  report("start");
  auto fail = [&](const std::string& step) {
    std::fprintf(stderr, "memory_bench: %s failed; pelorin's log: %s\n", step.c_str(), log_.c_str());
    quit();
    return 1;
  };
  if (!search(0)) return fail("the warm-up's search");
  report("warm-up search");
  if (!play(0, 0, 0)) return fail("the warm-up's clip");
  report("warm-up clip");
  const std::size_t warm = rows_.size() - 1;
  // Fifteen clips over ten searches: two after each of the first five, one after the others.
  int clips = 0;
  for (int search = 1; search <= kSearches; ++search) {
    if (!this->search(search)) return fail("search " + std::to_string(search));
    report("search " + std::to_string(search));
    const int here = search <= kClips - kSearches ? 2 : 1;
    for (int row = 0; row < here && clips < kClips; ++row) {
      ++clips;
      if (!play(search, row, clips)) return fail("clip " + std::to_string(clips));
      report("clip " + std::to_string(clips) + " (search " + std::to_string(search) + ", row " +
             std::to_string(row + 1) + ")");
    }
  }
  const Row& base = rows_[warm];
  const Row& last = rows_.back();
  const double growth = (last.rss - base.rss) / 1024.0;
  getloadavg(load, 3);
  std::printf("\nload average at the end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  if (base.heap && last.heap)
    std::printf("heap in use after the warm-up: %+.1f MB\n",
                (last.heap->inUse - base.heap->inUse) / 1048576.0);
  std::printf("RSS after the warm-up: %+.1f MB against the %.0f MB allowed (ratio %.2f): %s\n", growth,
              kAllowedGrowthMB, growth / kAllowedGrowthMB, growth <= kAllowedGrowthMB ? "within" : "OVER");
  quit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A virtual display of its own when there is none.
  if (!benchkit::onVirtualDisplay(argc, argv, "PELORIN_MEMORY_ON_XVFB", /*displayWillDo=*/true)) return 1;
  ns::runtime::start();
  Driver driver;
  return driver.run();
}
