// The player pane on the road a user takes, beside the mpv command-line player on the same URL:
//  - from playVideo to the first picture, for a cached file (its file URL) and for a video that
//    is not cached yet, whose complete file a loopback origin sends at once (resolution,
//    download and the local media server included); mpv's figure is a process playing one frame
//    (--frames=1) of the same file or the local server's URL;
//  - the process's CPU seconds per second of playback of a 1080p clip through the local media
//    server, beside `mpv --vo=null --ao=null` on the server's URL of the same file.
// A driver, not a test: run it by hand on a quiet machine (a build with sanitizers inflates our
// side several times):
//
//   build/release/bench/player/player_bench
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/library/DBAccess.h"
#include "app/player/PlayerViewController.h"
#include "app/youtube/SearchEntry.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/TestMedia.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

extern char** environ;

namespace {

constexpr int kRuns = 5;
constexpr double kClipSeconds = 6;
constexpr double kWait = 120;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double processCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Run {
  double wall = -1;
  double cpu = -1;
};

// mpv playing `target` with no video and no audio output (and `extra`), while this thread keeps
// the run loop going: the local media server answers from it. Negative figures when mpv cannot
// run or fails.
Run runMpv(const std::string& target, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"mpv", "--no-config", "--really-quiet", "--vo=null", "--ao=null"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(target);
  auto start = Clock::now();
  auto done = std::async(std::launch::async, [args]() mutable {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Run run;
    pid_t pid = -1;
    if (posix_spawnp(&pid, "mpv", nullptr, nullptr, argv.data(), environ) != 0) return run;
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
    run.cpu = u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
    return run;
  });
  ns::RunLoop::currentRunLoop()->runUntil(
      [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, kWait);
  Run run = done.get();
  if (run.cpu >= 0) run.wall = secondsSince(start);
  return run;
}

ns::Ref<SearchEntry> row(const std::string& videoId) {
  auto entry = SearchEntry::init();
  entry->setVideoid(videoId);
  entry->setTitle(videoId);
  return entry;
}

class Bench {
 public:
  Bench() {
    controller_ = PlayerViewController::init();
    main_ = ns::make<testsupport::FakeMainWindowController>();
    installedMain_ = std::make_unique<testsupport::ScopedMainWindowController>(main_);
    installedResolver_ = std::make_unique<testsupport::ScopedStreamResolver>(resolver_);
    cacheServer_ = ns::make<CacheServer>(0);
    cacheServer_->start();
    main_->setAnswers({.cacheServer = cacheServer_, .repeatType = 3});
  }
  ~Bench() {
    controller_->stopVideo();
    setPlayerViewController(nullptr);
    for (auto& downloader : registeredDownloaders()) downloader->stopDownload();
  }

  // Seconds from playVideo to the first picture; negative when none came.
  double firstPicture(const std::string& videoId) {
    // The player keeps the last picture of the video before: only a newer one counts.
    auto before = controller_->player()->currentVideoFrame().serial;
    auto start = Clock::now();
    controller_->playVideo(row(videoId));
    bool shown = ns::RunLoop::currentRunLoop()->runUntil(
        [&] {
          auto& frame = controller_->player()->currentVideoFrame();
          return frame.serial != before && frame.width > 0;
        },
        kWait);
    return shown ? secondsSince(start) : -1;
  }
  // Plays the loaded video to its end; the process's CPU seconds per second of the clip.
  double cpuToEnd(double clipSeconds) {
    double cpu0 = processCpu();
    auto item = controller_->player()->currentItem();
    bool ended = ns::RunLoop::currentRunLoop()->runUntil(
        [&] {
          return item && controller_->player()->rate() == 0 &&
                 controller_->currentTimeSeconds() >= clipSeconds - 0.2;
        },
        kWait);
    return ended ? (processCpu() - cpu0) / clipSeconds : -1;
  }

  // The first picture of a cached copy of the clip, ours and mpv's, over the runs.
  void cached(const std::filesystem::path& clip) {
    std::vector<double> ours, theirs;
    for (int i = 0; i < kRuns; ++i) {
      std::string id = "cached" + std::to_string(i);
      std::filesystem::copy_file(clip, *getCachedVideoPath(id),
                                 std::filesystem::copy_options::overwrite_existing);
      ours.push_back(firstPicture(id));
      controller_->stopVideo();
      theirs.push_back(runMpv(*getCachedVideoPath(id), {"--frames=1"}).wall);
    }
    print("first picture, cached file (s)", median(ours), median(theirs));
  }

  // A video that is not cached, from a loopback origin through the local media server: the first
  // picture, then the CPU of playing it out.
  void throughServer(const std::filesystem::path& clip) {
    origin_.route("GET", "/clip", pltest::mediaRoute(clip));
    std::vector<double> ours, theirs, cpu, theirCpu;
    for (int i = 0; i < kRuns; ++i) {
      std::string id = "served" + std::to_string(i);
      resolver_->setEntry(id, {.urlMap = {{18, origin_.URLForPath("/clip")}}});
      ours.push_back(firstPicture(id));
      std::string url = cacheServer_->urlStringForVideoId(id);
      auto item = controller_->player()->currentItem();
      if (!item || item->URL()->absoluteString() != url) {
        std::printf("the player did not play %s through the local media server\n", id.c_str());
        return;
      }
      if (i == 0) cpu.push_back(cpuToEnd(kClipSeconds));
      controller_->stopVideo();
      // The download is complete by now: the server sends the cached file.
      ns::RunLoop::currentRunLoop()->runUntil([&] { return hasVideoCacheState(id); }, kWait);
      theirs.push_back(runMpv(url, {"--frames=1"}).wall);
      if (i == 0) {
        Run whole = runMpv(url, {});
        theirCpu.push_back(whole.cpu >= 0 ? whole.cpu / kClipSeconds : -1);
      }
    }
    print("first picture, through the local server (s)", median(ours), median(theirs));
    print("1080p through the local server (CPU s per s)", median(cpu), median(theirCpu));
  }

 private:
  static void print(const char* what, double ours, double theirs) {
    if (ours < 0) {
      std::printf("%-46s %9s\n", what, "FAILED");
    } else if (theirs <= 0) {
      std::printf("%-46s %9.3f %9s\n", what, ours, "-");
    } else {
      std::printf("%-46s %9.3f %9.3f %7.2f\n", what, ours, theirs, ours / theirs);
    }
  }

  ns::Ref<PlayerViewController> controller_;
  ns::Ref<testsupport::FakeMainWindowController> main_;
  std::unique_ptr<testsupport::ScopedMainWindowController> installedMain_;
  ns::Ref<testsupport::FakeStreamResolver> resolver_ = ns::make<testsupport::FakeStreamResolver>();
  std::unique_ptr<testsupport::ScopedStreamResolver> installedResolver_;
  ns::Ref<CacheServer> cacheServer_;
  pltest::FakeServer origin_;
};

}  // namespace

int main() {
  ns::runtime::start();
  av::Player::setDefaultAudioOutput("null");
  auto work = std::filesystem::temp_directory_path() / ("pelorin-player-bench-" + std::to_string(::getpid()));
  for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
    std::string path = (work / name).string();
    std::filesystem::create_directories(path);
    ::setenv(name, path.c_str(), 1);
  }
  std::filesystem::create_directories(work / "XDG_DATA_HOME" / "Pelorin");
  for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath()})
    std::filesystem::create_directories(folder);

  auto clip = pltest::testMedia({.seconds = kClipSeconds, .width = 1920, .height = 1080});
  if (clip.empty()) {
    std::fprintf(stderr, "no clip (ffmpeg missing?)\n");
    return 1;
  }
  {
    Bench bench;
    std::printf("%-46s %9s %9s %7s\n", "1920x1080, 6 s", "Pelorin", "mpv", "ratio");
    bench.cached(clip);
    bench.throughServer(clip);
    std::printf("(median of %d runs; mpv's first picture includes its process start and exit)\n", kRuns);
  }
  DBAccess::resetForTesting();
  std::filesystem::remove_all(work);
  return 0;
}
