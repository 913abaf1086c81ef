#pragma once
// How a run of the application starts and ends: its arguments, SIGINT and SIGTERM ending the run
// as Quit does, and the wait of a headless run between its timers, sources and queued work.
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
  // Starts reading them on the main queue; each one asks the shared application to terminate.
  // False (logged) when the descriptor cannot be made.
  bool start();
  void stop();
  ~TerminationSignals();
  // Signals read so far.
  int received() const { return received_; }

 private:
  ns::Ref<dispatch::Source> source_;
  int fd_ = -1;
  int received_ = 0;
};

// Runs the application until it has terminated. Headless, `run` returns whenever no event is
// queued; the main run loop then sleeps until a timer, a source or the main queue has work, and
// `run` goes on.
void runApplicationUntilTerminated(const ns::Ref<ak::Application>& app);

// After the run: lets go of the process-wide controllers and the application, so that the
// windows, the player's media engine and the cache manager are shut down in order before exit.
void releaseApplication();
