// The account at launch, in process against the fake identity provider and the fake Data API:
// a stored sign-in is restored on the turn after the window loaded and names the user button;
// without one, nothing is asked of either service.
#include <gtest/gtest.h>

#include "app/library/AccountSession.h"
#include "app/shell/Settings.h"
#include "app/youtube/YoutubeKeys.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/appkit/Button.h"
#include "tests/app/shell/window/ShellWindowTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"

namespace {

struct AccountLaunch : shelltest::ShellFixture {
  AccountLaunch() : shelltest::ShellFixture(false) {
    setStringSetting(kOAuthClientIDSettingKey, oauth.options().clientID);
    setStringSetting(kOAuthClientSecretSettingKey, oauth.options().clientSecret);
    app.sandbox().set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    NetOAuth2SetEndpoints(NetOAuth2Endpoints{oauth.authorizationURL(), oauth.tokenURL(),
                                             oauth.revocationURL(), oauth.userInfoURL(), oauth.apiURL(""),
                                             "example.test"});
    api.serveAsAPIHost();
    oauth.serveAsProviderHosts({&api.server()});
  }
  ~AccountLaunch() {
    AccountSession::youTubeService()->setAuthorizer(nullptr);
    NetOAuth2SetEndpoints(std::nullopt);
    api.release();
  }
  void keepSignIn(const std::string& email) {
    oauth.addRefreshToken("1/kept");
    auto auth = NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(
        YouTubeAuthScope(), oauth.options().clientID, oauth.options().clientSecret);
    auth->setRefreshToken("1/kept");
    auth->setUserEmail(email);
    auth->setUserID("77");
    ASSERT_TRUE(NetOAuth2WindowController::saveAuthToKeychainForName_authentication(kKeychainItemName, auth));
  }

  testsupport::FakeDataAPI api;
  testsupport::FakeOAuthServer oauth;
};

TEST(AccountAtLaunch, AStoredSignInNamesTheUserButtonAndAsksForTheAccountsLists) {
  AccountLaunch f;
  f.keepSignIn("a@example.com");
  f.launch();
  auto button = f.controller->userBtn();
  ASSERT_TRUE(pltest::pumpUntil([&] { return button->title() == "a@example.com \u25BE "; }, 60));
  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_TRUE(f.controller->accountCache());
  EXPECT_TRUE(f.controller->videoInPlaylistCache());
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return !f.api.callsOf("youtube.channels.list").empty() &&
               !f.api.callsOf("youtube.playlists.list").empty();
      },
      60));
  for (const auto& call : f.api.callsOf("youtube.playlists.list"))
    EXPECT_EQ(call.headers.get("Authorization").value_or("").rfind("Bearer ", 0), 0u);
}

TEST(AccountAtLaunch, WithoutOneNeitherServiceIsAskedAndTheButtonSaysSo) {
  AccountLaunch f;
  f.launch();
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(f.controller->initYoutubeCount(), 1);
  EXPECT_EQ(f.controller->userBtn()->title(), "not logged in \u25BE ");
  EXPECT_FALSE(f.controller->isSignedIn());
  EXPECT_FALSE(f.controller->accountCache());
  EXPECT_EQ(f.oauth.server().requestCount(), 0u);
  EXPECT_EQ(f.api.postCount(), 0u);
}

}  // namespace
