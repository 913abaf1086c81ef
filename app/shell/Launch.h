#pragma once
// How a run of the application starts and ends: its arguments, SIGINT and SIGTERM ending the run
// as Quit does, and the wait of a headless run between its timers, sources and queued work.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

namespace ak {
class Application;
}
namespace dispatch {
class Source;
}

// The one usage line printed for arguments the application does not take.
inline constexpr char kUsageLine[] = "usage: pelorin [--headless]";

// nullopt when every argument is one the application takes (the platform's "--headless");
// else the first one it does not.
std::optional<std::string> unknownLaunchArgument(int argc, const char* const* argv);

// The warning of a run that goes without windows only because no display is set.
inline constexpr char kNoDisplayLine[] =
    "pelorin: no display is set (neither DISPLAY nor WAYLAND_DISPLAY); running without windows";

// kNoDisplayLine when the arguments do not ask for "--headless" and the environment names no
// display (neither variable set, or set empty); else nullopt: a run asked to go without windows,
// or one that has a display, says nothing.
std::optional<std::string> noDisplayNotice(int argc, const char* const* argv);

// Fixes the allocator's size from which a block is mapped on its own (and unmapped when freed) at
// 128 KiB. Left to itself, glibc raises that size to each large block freed, so that later
// decoded frames and pictures are carved from the threads' heaps, whose freed pages stay
// resident: a run's memory then grows with every clip played. Answers whether it was applied.
bool mapLargeBlocksOnTheirOwn();

// SIGINT and SIGTERM delivered through a descriptor read on the main queue, so that the run ends
// on the main loop (the application's terminate, will-terminate and all) and never inside a
// signal handler. Blocking must happen before the process starts any thread, so that no thread
// takes the signals' default action.
class TerminationSignals {
 public:
  // Blocks the two signals in the calling thread (and the threads it starts later).
  static void block();
  // Starts reading them on the main queue (called on the main thread); each one asks the shared
  // application to terminate. A thread that was started before the block (by a library as it
  // loaded) hands the signals it takes on to the main loop. False (logged) when the descriptor
  // cannot be made.
  bool start();
  void stop();
  ~TerminationSignals();
  // Signals read so far.
  int received() const { return received_; }

 private:
  ns::Ref<dispatch::Source> source_;
  int fd_ = -1;
  // The signals that a thread which never blocked them took, handed on through a pipe.
  ns::Ref<dispatch::Source> forwarded_;
  int received_ = 0;
};

// What a run needs of the platform below it, so that a build that leaves one out says so at once
// instead of showing empty windows: on screen, the GTK presenter and the web views' on-screen
// engine (the sign-in page); always, the player's media engine. Headless runs need no web
// engine: their web views keep the scripted back end, which nobody sees.
struct LaunchRequirements {
  bool onScreen = false;                           // the run wants a display (one is set and no --headless)
  bool presenter = false;                          // a presenter is showing the windows
  bool webViewFactory = false;                     // web views get an on-screen engine
  std::optional<std::string> playerEngineProblem;  // why the player's engine cannot be made
};

// The requirements as this process has them, once the presenter has started. Without
// `probeEngine` the player's engine is taken as there (an on-screen run probes it after its first
// frame: probeMediaEngineAfterFirstFrame).
LaunchRequirements currentLaunchRequirements(int argc, const char* const* argv, bool probeEngine = true);
// One line for each requirement that is missing, naming it and what it costs; none when the run
// has what it needs.
std::vector<std::string> missingLaunchRequirements(const LaunchRequirements& requirements);
// On screen the media engine is probed once the first window is on the screen, off the main
// thread (opening its libraries takes a while, and the first window shows no video); `missing`
// gets the line naming a missing engine on the main queue. Nothing is called when it is there.
void probeMediaEngineAfterFirstFrame(std::function<void(const std::string& line)> missing);

// Runs the application until it has terminated. Headless, `run` returns whenever no event is
// queued; the main run loop then sleeps until a timer, a source or the main queue has work, and
// `run` goes on.
void runApplicationUntilTerminated(const ns::Ref<ak::Application>& app);

// After the run: lets go of the process-wide controllers and the application, so that the
// windows, the player's media engine and the cache manager are shut down in order before exit.
void releaseApplication();
