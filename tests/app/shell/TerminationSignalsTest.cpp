// SIGTERM reaches the main loop even when it lands on a thread that never blocked it, as a thread
// that a library starts while it loads, before main runs, does.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "app/shell/Launch.h"
#include "platform/appkit/Application.h"
#include "platform/testing/Pump.h"

namespace {

TEST(TerminationSignals, ASignalTakenByAThreadThatNeverBlockedItEndsTheRunOnTheMainLoop) {
  TerminationSignals::block();
  // The library's thread waits on a condition variable, as such threads do: a ThreadSanitizer
  // build runs a signal's handler only once the thread is in (or leaves) a call it intercepts,
  // which a promise's bare futex wait is not.
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  std::promise<void> unblocked;
  std::thread library([&] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    unblocked.set_value();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return done; });
  });
  unblocked.get_future().wait();
  auto app = ak::Application::sharedApplication();
  TerminationSignals signals;
  ASSERT_TRUE(signals.start());
  // Only the library's thread leaves SIGTERM unblocked: the kernel hands it the signal.
  ::kill(::getpid(), SIGTERM);
  EXPECT_TRUE(pltest::pumpUntil([&] { return signals.received() == 1 && app->hasTerminated(); }, 30));
  signals.stop();
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  changed.notify_all();
  library.join();
  ak::Application::setSharedApplication(nullptr);
}

}  // namespace
