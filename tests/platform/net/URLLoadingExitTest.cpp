// The loading engine is a static never destroyed; its thread keeps working while the other statics
// of the process are destroyed, and is stopped after them. These run in a child process so that
// its exit can be watched, or its engine stopped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/URLConnection.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLLoadingEngine.h"
#include "platform/net/URLLoadingSettings.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Monitor.h"

namespace {

using namespace ns;

long syncLoadCode(const std::string& url) {
  Error error;
  URLConnection::sendSynchronousRequest_returningResponse_error(
      URLRequest::requestWithURL(URL::URLWithString(url)), nullptr, &error);
  return error.code();
}

// Loads once more while the process exits, after the statics made later than it are gone.
struct LoadsAtExit {
  ~LoadsAtExit() { syncLoadCode("http://exit.example.test/"); }
};

}  // namespace

// Runs in the child started by the next test. The engine is made first (an unsupported scheme
// ends before any setting is read), then the object that loads at exit, then the settings; so at
// exit the settings go first and the last load's lookup in them comes after.
TEST(URLLoadingExitChild, DISABLED_LoadsWhileTheProcessExits) {
  EXPECT_EQ(syncLoadCode("gopher://example.test/"), URLErrorUnsupportedURL);
  static LoadsAtExit loadsAtExit;
  URLLoading::setConnectTo("exit.example.test", 80, "127.0.0.1", 1);
}

TEST(URLLoadingExit, SettingsOutliveTheEngineThreadAtExit) {
  int status = pltest::runChildTest("URLLoadingExitChild.DISABLED_LoadsWhileTheProcessExits");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's exit used destroyed loading settings";
}

// Runs in the child started by the next test: the engine thread is held inside a pass (opening a
// request's body stream) when the stop comes.
TEST(URLLoadingExitChild, DISABLED_StopsAfterThePassUnderWay) {
  struct State {
    pltest::Monitor monitor;
    // Guarded by the monitor.
    bool opened = false;
    bool released = false;
    bool openReturned = false;
    bool stopReturned = false;
  };
  auto state = std::make_shared<State>();
  auto request = URLRequest::requestWithURL(URL::URLWithString("http://127.0.0.1:1/upload"));
  request->setHTTPMethod("POST");
  auto body = std::make_shared<URLRequestBodyStream>();
  body->open = [state] {
    state->monitor.change([&] { state->opened = true; });
    state->monitor.waitFor([&] { return state->released; }, std::chrono::minutes(2));
    state->monitor.change([&] { state->openReturned = true; });
    return true;
  };
  body->read = [](std::uint8_t*, std::size_t) -> long { return 0; };
  request->setHTTPBodyStream(body);
  // Its load never ends once the engine has stopped: the thread is left to the process's exit.
  std::thread([request] {
    URLConnection::sendSynchronousRequest_returningResponse_error(request, nullptr, nullptr);
  }).detach();
  ASSERT_TRUE(state->monitor.waitFor([&] { return state->opened; }, std::chrono::seconds(60)));

  bool stopped = false;
  bool openHadReturned = false;
  std::thread stopper([&] {
    stopped = URLLoadingEngine::stopForExit(60);
    openHadReturned = state->monitor.with([&] { return state->openReturned; });
    state->monitor.change([&] { state->stopReturned = true; });
  });
  // The stop waits for the pass, which waits for the release: only a fault returns meanwhile.
  EXPECT_FALSE(state->monitor.waitFor([&] { return state->stopReturned; }, std::chrono::milliseconds(300)));
  state->monitor.change([&] { state->released = true; });
  stopper.join();
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(openHadReturned) << "the stop returned while the engine thread was still in its pass";

  // A load made afterwards (by a static destroyed late, say) fails at once instead of waiting.
  EXPECT_EQ(syncLoadCode("http://127.0.0.1:1/later"), URLErrorCancelled);
  EXPECT_TRUE(URLLoadingEngine::stopForExit(60)) << "a second stop, as at exit, is answered at once";
}

TEST(URLLoadingExit, TheStopAtExitWaitsForThePassUnderWayAndLaterLoadsFailAtOnce) {
  int status = pltest::runChildTest("URLLoadingExitChild.DISABLED_StopsAfterThePassUnderWay");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
