// The loading engine is a static joined at exit; its thread keeps working while the other statics
// of the process are destroyed. These run in a child process so that its exit can be watched.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "platform/net/URLConnection.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLLoadingSettings.h"
#include "platform/testing/ChildTest.h"

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
