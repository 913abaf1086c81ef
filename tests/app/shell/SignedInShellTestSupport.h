#pragma once
// An in-process launch whose account services are fakes: the identity provider and the Data
// API on 127.0.0.1, answering as the real hosts, and a sign-in that can be kept in the keychain
// before the launch restores it.
#include <string>

#include "app/library/AccountSession.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/Settings.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetHTTPFetcherService.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "tests/app/shell/ShellWindowTestSupport.h"
#include "tests/support/AccountServiceCalls.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/KeptSignIn.h"

namespace shelltest {

struct AccountLaunch : ShellFixture {
  explicit AccountLaunch(bool virtualClock = false) : ShellFixture(virtualClock) {
    pointSignInAtFakes(app.sandbox(), oauth, api);
  }
  ~AccountLaunch() {
    api.release();
    // Calls still under way (a rename, a list's load) end here, against this test's fakes, and
    // what their replies store lands in this test's caches, not in the next test's.
    EXPECT_TRUE(testsupport::finishAccountServiceCalls());
    EXPECT_TRUE(pltest::drainMode());
    AccountSession::youTubeService()->setAuthorizer(nullptr);
    NetOAuth2SetEndpoints(std::nullopt);
  }
  void keepSignIn(const std::string& email) { ASSERT_TRUE(testsupport::keepSignIn(oauth, email)); }

  testsupport::FakeDataAPI api;
  testsupport::FakeOAuthServer oauth;
};

}  // namespace shelltest
