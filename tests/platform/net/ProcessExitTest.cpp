// Process-wide objects stay usable while the process exits: threads that go on using user
// defaults, the main bundle, reachability, the run-loop mode names and URL loading while main()
// returns must not meet a destroyed object. The use runs in a child process whose exit is watched.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/NetworkReachability.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"

namespace {

// Each use in a loop of its own thread, so that every object is in use while the exit runs.
const std::vector<std::function<std::size_t()>>& uses() {
  // Never destroyed, as the threads call them until the process is gone.
  static const ns::NoDestructor<std::vector<std::function<std::size_t()>>> all(
      std::vector<std::function<std::size_t()>>{
          [] {
            return static_cast<std::size_t>(
                ns::UserDefaults::standardUserDefaults()->integerForKey("ExitProbe"));
          },
          [] { return ns::Bundle::mainBundle()->bundleIdentifier().value_or("").size(); },
          [] {
            auto reachability = sc::NetworkReachability::createWithName("exit.example.test");
            sc::ReachabilityFlags flags{};
            return static_cast<std::size_t>(reachability && reachability->getFlags(&flags));
          },
          [] {
            std::string modes = ns::DefaultRunLoopMode + ns::RunLoopCommonModes +
                                ns::EventTrackingRunLoopMode + ns::ModalPanelRunLoopMode;
            return modes.size();
          },
          [] {
            ns::RunLoop::currentRunLoop()->runMode_beforeDate(ns::DefaultRunLoopMode,
                                                              ns::Date::dateWithTimeIntervalSinceNow(0));
            return std::size_t{1};
          },
          [] {
            ns::Error error;
            ns::URLConnection::sendSynchronousRequest_returningResponse_error(
                ns::URLRequest::requestWithURL(ns::URL::URLWithString("http://127.0.0.1:1/")), nullptr,
                &error);
            return static_cast<std::size_t>(error.code() != 0);
          },
      });
  return *all;
}

}  // namespace

// Runs in the child started by the next test: threads keep using the objects while the test
// returns and the process exits under them.
TEST(ProcessExitChild, DISABLED_ObjectsUsedByOtherThreadsDuringExit) {
  static std::mutex mutex;
  static std::condition_variable cv;
  static std::size_t started = 0;
  for (const auto& use : uses()) {
    std::thread([&use] {
      std::atomic<std::size_t> sink{0};
      sink += use();
      {
        std::lock_guard lock(mutex);
        ++started;
        cv.notify_all();
      }
      for (;;) sink += use();
    }).detach();
  }
  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [] { return started == uses().size(); }));
}

TEST(ProcessExit, ObjectsOutliveStaticDestructionWhileAnotherThreadUsesThem) {
  pltest::Sandbox sandbox;
  // Several rounds: each exit races the thread at a different point.
  for (int round = 0; round < 5; ++round) {
    int status = pltest::runChildTest("ProcessExitChild.DISABLED_ObjectsUsedByOtherThreadsDuringExit");
    ASSERT_TRUE(status != -1);
    ASSERT_TRUE(WIFEXITED(status)) << "round " << round << ": the child died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "round " << round << ": the child's exit used a destroyed object";
  }
}
