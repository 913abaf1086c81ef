// The signed-in account without the shell's sheet and button: the stored sign-in restored, the
// account cache following the authorizer, the photo's URL only for a new account, and the
// sign-out; against the fake identity provider and the fake Data API on 127.0.0.1, with the
// keychain's file store in the sandbox.
#include <gtest/gtest.h>

#include "app/library/AccountSession.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/Settings.h"
#include "common/ShellNotifications.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "tests/app/library/AccountTestSupport.h"
#include "tests/app/library/NotificationCounter.h"
#include "tests/support/AccountServiceCalls.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/KeptSignIn.h"

namespace {

constexpr char kPhotoURL[] = "https://profiles.google.com/s2/u/0/photos/profile/77";

class AccountSessionTest : public librarytest::SignInTest {
 protected:
  AccountSessionTest() {
    sandbox.set(kProfilePhotoURLEnvironmentKey, std::nullopt);
    oauth.serveAsProviderHosts({&api.server()});
    testsupport::FakeMainWindowController::Answers answers;
    answers.youTubeService = AccountSession::youTubeService();
    controller->setAnswers(answers);
  }

  ns::Ref<AccountSession> session = ns::make<AccountSession>(controller);
};

TEST_F(AccountSessionTest, TheAccountFollowsTheAuthorizerAndOnlyANewAccountNamesItsPhoto) {
  NotificationCounter login(kLoginStateChangedNotification);
  // Nothing kept: signed out, and so is the interface's account.
  session->restoreSignIn();
  EXPECT_FALSE(session->isSignedIn());
  EXPECT_EQ(login.count(), 1);
  EXPECT_EQ(session->updateAccount(), std::nullopt);
  EXPECT_FALSE(controller->accountCache());

  ASSERT_TRUE(testsupport::keepSignIn(oauth, "a@x"));
  session->restoreSignIn();
  EXPECT_TRUE(session->isSignedIn());
  EXPECT_EQ(AccountSession::signedInEmail(), "a@x");
  EXPECT_EQ(login.count(), 2);
  EXPECT_EQ(session->updateAccount(), std::optional<std::string>(kPhotoURL));
  auto cache = controller->accountCache();
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache->email(), "a@x");
  EXPECT_EQ(cache->profileImageUrl(), kPhotoURL);
  EXPECT_TRUE(controller->videoInPlaylistCache());
  // The same account again keeps its cache, and its photo is already asked for.
  EXPECT_EQ(session->updateAccount(), std::nullopt);
  EXPECT_EQ(controller->accountCache(), cache);

  session->signOut();
  EXPECT_FALSE(session->isSignedIn());
  EXPECT_FALSE(testsupport::keychainHoldsSignIn());
  EXPECT_EQ(AccountSession::signedInEmail(), "");
  EXPECT_EQ(login.count(), 3);
  EXPECT_EQ(session->updateAccount(), std::nullopt);
  EXPECT_FALSE(controller->accountCache());
  EXPECT_EQ(browsing->menu()->calls(), (std::vector<std::string>{"refresh", "refresh", "refresh"}));
}

TEST_F(AccountSessionTest, OnlyASignInThatEndsWithAnAuthenticationSignsInAndSaysSo) {
  NotificationCounter login(kLoginStateChangedNotification);
  session->signInEnded(nullptr);
  EXPECT_FALSE(session->isSignedIn());
  EXPECT_EQ(login.count(), 0);

  oauth.addRefreshToken("1/fresh");
  auto auth = NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(
      YouTubeAuthScope(), oauth.options().clientID, oauth.options().clientSecret);
  auth->setRefreshToken("1/fresh");
  auth->setUserEmail("b@x");
  session->signInEnded(auth);
  EXPECT_TRUE(session->isSignedIn());
  EXPECT_EQ(login.count(), 1);
  // Without a user id there is no photo to name.
  EXPECT_EQ(session->updateAccount(), std::nullopt);
  ASSERT_TRUE(controller->accountCache());
  EXPECT_EQ(controller->accountCache()->email(), "b@x");
}

}  // namespace
