// The player drawing every picture of a 4-second clip through mpv's software renderer into a view
// of the clip's size (1280x720 and 1920x1080), beside the mpv command-line player playing the same
// clip with no video and no audio output (when installed). Prints, per size:
//  - the main thread's CPU time per picture (render into memory, then draw into the view);
//  - the process's CPU seconds per second of playback, ours and the reference, and the ratio.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerLayer.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/TestMedia.h"

extern char** environ;

namespace {

constexpr double kClipSeconds = 4;

double cpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double processCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return cpuSeconds(u);
}

double threadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// CPU seconds of `mpv --vo=null --ao=null` playing the file; negative when mpv cannot run.
double referenceCpu(const std::string& path) {
  std::vector<std::string> args = {"mpv", "--no-config", "--really-quiet", "--vo=null", "--ao=null", path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "mpv", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage u{};
  if (wait4(pid, &status, 0, &u) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return cpuSeconds(u);
}

void measure(int width, int height) {
  auto path = pltest::testMedia({.seconds = kClipSeconds,
                                 .pattern = pltest::MediaPattern::TestPattern,
                                 .width = width,
                                 .height = height});
  if (path.empty()) {
    std::printf("%dx%d: no clip (ffmpeg missing?)\n", width, height);
    return;
  }
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, width, height), ak::BorderlessWindowMask);
  window->orderFront(nullptr);
  auto item = av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string()));
  auto player = av::Player::initWithPlayerItem(item);
  auto layer = av::PlayerLayer::playerLayerWithPlayer(player);
  layer->addToView(window->contentView());
  auto loop = ns::RunLoop::currentRunLoop();
  if (!loop->runUntil([&] { return item->status() != av::PlayerItemStatusUnknown; }, 60) ||
      item->status() != av::PlayerItemStatusReadyToPlay) {
    std::printf("%dx%d: the clip did not load\n", width, height);
    return;
  }
  std::uint64_t firstFrame = player->currentVideoFrame().serial;
  double cpu0 = processCpu(), main0 = threadCpu();
  auto wall0 = std::chrono::steady_clock::now();
  bool ended = false;
  player->play();
  loop->runUntil(
      [&] {
        window->displayIfNeeded();
        ended = player->rate() == 0;
        return ended;
      },
      60);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  double cpu = processCpu() - cpu0, mainCpu = threadCpu() - main0;
  auto frames = player->currentVideoFrame().serial - firstFrame;
  double ours = cpu / kClipSeconds;
  std::printf("%dx%d: %llu pictures in %.2f s, main thread %.2f ms per picture (render and draw)\n", width,
              height, static_cast<unsigned long long>(frames), wall, frames ? mainCpu * 1000 / frames : 0.0);
  double reference = referenceCpu(path.string());
  if (reference < 0) {
    std::printf("%dx%d: pelorin %.3f CPU s per s of playback; mpv is not installed for the reference\n",
                width, height, ours);
  } else {
    std::printf("%dx%d: pelorin %.3f CPU s per s of playback   mpv --vo=null %.3f   ratio %.2f\n", width,
                height, ours, reference / kClipSeconds, ours / (reference / kClipSeconds));
  }
}

}  // namespace

int main() {
  ns::runtime::start();
  av::Player::setDefaultAudioOutput("null");
  measure(1280, 720);
  measure(1920, 1080);
  return 0;
}
