// The sign-in glue on a headless main window, with the real sign-in sheet against the fake
// identity provider, the keychain's file store, the fake Data API, the fake maker service and a
// fake profile-photo host, all on 127.0.0.1.
#include <gtest/gtest.h>

#include <future>

#include "app/library/AccountSession.h"
#include "app/library/LibraryNotifications.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/shell/SignInSession.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/Settings.h"
#include "common/ShellNotifications.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/security/Keychain.h"
#include "platform/testing/ImageSamples.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/web/WebView.h"
#include "tests/app/library/AccountTestSupport.h"
#include "tests/app/library/NotificationCounter.h"
#include "tests/support/AccountServiceCalls.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/KeptSignIn.h"

namespace {

constexpr double kSessionWait = 60;

class SignInSessionTest : public librarytest::SignInTest {
 protected:
  SignInSessionTest() {
    photos.serveAs(kProfilePhotoHost);
    photos.route("GET", "/s2/u/0/photos/profile/.*", [this](const pltest::FakeRequest&) {
      if (holdPhoto.valid()) holdPhoto.wait();
      return pltest::FakeReply::text(200, pltest::jpegOf(40, 30, 200).toString(), "image/jpeg");
    });
    oauth.serveAsProviderHosts({&api.server(), &photos});
    testsupport::FakeMainWindowController::Answers answers;
    answers.youTubeService = AccountSession::youTubeService();
    answers.window = window;
    answers.currentWindow = window;
    answers.userBtn = button;
    controller->setAnswers(answers);
  }
  ~SignInSessionTest() override {
    if (auto sheet = session->signInController()) sheet->cancelSigningIn();
  }

  // A sign-in kept in the keychain, as the sheet keeps it.
  void keepSignIn(const std::string& email) { ASSERT_TRUE(testsupport::keepSignIn(oauth, email)); }
  static bool keychainHoldsSignIn() { return testsupport::keychainHoldsSignIn(); }
  // What the account was playing when last used: row 3 of the playlist "Road trip" (PLroad), the
  // video "vidPlay" titled "Song", whose row is in the cache.
  void storePlaying(const std::string& email) {
    auto previous = bareCache(email);
    previous->diskCache()->setObject_forKey_withTimeoutInterval(
        ns::Value(ns::Array{"Road trip", "playlists", "PLroad", 3}), previous->cacheKey("currentPlaylist"),
        600);
    previous->diskCache()->setObject_forKey_withTimeoutInterval(
        ns::Value(ns::Array{"vidPlay", "Song", "Band"}), previous->cacheKey("nowPlaying"), 600);
    previous->diskCache()->synchronize();
    ASSERT_TRUE(row("vidPlay", std::nullopt, "Song")->saveToCache());
  }
  std::string pageTitle() {
    auto sheet = session->signInController();
    return sheet && sheet->webView()
               ? sheet->webView()->stringByEvaluatingJavaScriptFromString("document.title")
               : std::string();
  }

  // While set, the photo host answers only once it is set.
  std::shared_future<void> holdPhoto;
  pltest::FakeServer photos{{.https = true, .hostNames = {"localhost", "127.0.0.1", kProfilePhotoHost}}};
  ns::Ref<ak::Window> window = app.window(ak::MakeRect(100, 100, 800, 600));
  ns::Ref<ak::Button> button = ak::make<ak::Button>(ak::MakeRect(0, 0, 200, 22));
  ns::Ref<testsupport::FakePlayerViewController> player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer{player};
  ns::Ref<SignInSession> session = ns::make<SignInSession>(controller);
};

TEST_F(SignInSessionTest, AStoredSignInIsRestoredWithWhatWasPlayingAndTheButtonSignsOut) {
  keepSignIn("a@x");
  // What was playing when this account was last used.
  ASSERT_NO_FATAL_FAILURE(storePlaying("a@x"));
  NotificationCounter login(kLoginStateChangedNotification);
  NotificationCounter changed(kCurrentPlaylistChangedNotification);

  session->initYoutube();
  EXPECT_TRUE(session->isSignedIn());
  EXPECT_EQ(button->title(), "a@x \u25BE ");
  EXPECT_EQ(login.count(), 1);
  ASSERT_TRUE(controller->accountCache());
  EXPECT_EQ(controller->accountCache()->email(), "a@x");
  EXPECT_EQ(controller->accountCache()->profileImageUrl(),
            "https://profiles.google.com/s2/u/0/photos/profile/77");
  EXPECT_TRUE(controller->videoInPlaylistCache());
  EXPECT_EQ(browsing->menu()->calls(), std::vector<std::string>{"refresh"});

  ASSERT_TRUE(pltest::pumpUntil([&] { return button->image() && player->lastRow(); }, kSessionWait));
  EXPECT_EQ(button->image()->size().width, 40);
  EXPECT_EQ(button->alternateImage(), button->image());
  EXPECT_EQ(player->lastRow()->videoid(), "vidPlay");
  EXPECT_EQ(player->calls(), std::vector<std::string>{"loadVideo"});
  auto list = browsing->controllerFor("playlists", "PLroad");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->title(), "Road trip");
  EXPECT_EQ(list->playIndex(), 3);
  EXPECT_EQ(browsing->currentPlaylist(), list);
  EXPECT_EQ(browsing->calls(),
            (std::vector<std::string>{"push(PLroad,animated)", "setCurrentPlaylist(PLroad)"}));
  EXPECT_EQ(changed.count(), 1);

  // A second update with the same e-mail keeps the cache and asks for the own channels again.
  auto cache = controller->accountCache();
  session->updateUI();
  EXPECT_EQ(controller->accountCache(), cache);
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return api.callsOf("youtube.channels.list").size() >= 3; }, kSessionWait));

  session->signInClicked(nullptr);
  EXPECT_FALSE(session->isSignedIn());
  EXPECT_FALSE(keychainHoldsSignIn());
  EXPECT_EQ(button->title(), "not logged in \u25BE ");
  EXPECT_FALSE(controller->accountCache());
  EXPECT_FALSE(button->image());
  EXPECT_EQ(login.count(), 2);
}

TEST_F(SignInSessionTest, ASignOutForgetsWhichPlaylistsHoldWhichVideosAndTheOwnChannels) {
  keepSignIn("a@x");
  session->initYoutube();
  auto index = controller->videoInPlaylistCache();
  ASSERT_TRUE(index);
  index->getPlaylistIdArrayForVideo("vidOwn");
  index->addVideo_toPlaylist("vidOwn", "PLprivate");
  ASSERT_TRUE(index->hasVideo_inPlaylist("vidOwn", "PLprivate"));

  setStringSetting("my_channels", "UCa");
  session->signInClicked(nullptr);
  ASSERT_FALSE(controller->accountCache());
  // The next account to sign in is not told that the channels of this one are its own.
  EXPECT_FALSE(bareCache("b@x")->isMyChannel("UCa"));
  // The lists of an account nobody is signed in to mark no video any more.
  auto after = controller->videoInPlaylistCache();
  ASSERT_TRUE(after);
  EXPECT_FALSE(after->hasVideo_inPlaylist("vidOwn", "PLprivate"));
  EXPECT_FALSE(after->getPlaylistIdArrayForVideo("vidOwn"));
}

TEST_F(SignInSessionTest, WhatWasPlayingIsNotRestoredAfterTheAccountWent) {
  keepSignIn("a@x");
  ASSERT_NO_FATAL_FAILURE(storePlaying("a@x"));
  session->initYoutube();
  // Signed out before the queued restore runs.
  session->signInClicked(nullptr);
  drainMainQueue();
  drainMainQueue();
  EXPECT_FALSE(player->lastRow());
  EXPECT_FALSE(browsing->currentPlaylist());
}

TEST_F(SignInSessionTest, APhotoLandingAfterASignOutIsNotShown) {
  keepSignIn("a@x");
  std::promise<void> letGo;
  holdPhoto = letGo.get_future().share();
  pltest::LogCapture log(true);
  session->initYoutube();
  ASSERT_TRUE(photos.waitForRequests(1));
  session->signInClicked(nullptr);
  letGo.set_value();
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return log.contains("came after the account changed"); }, kSessionWait));
  drainMainQueue();
  EXPECT_FALSE(button->image());
  EXPECT_EQ(button->title(), "not logged in \u25BE ");
}

TEST_F(SignInSessionTest, AClosedSheetSignsNobodyInAndCallsNoHandler) {
  session->initYoutube();
  EXPECT_FALSE(session->isSignedIn());
  EXPECT_EQ(button->title(), "not logged in \u25BE ");
  NotificationCounter login(kLoginStateChangedNotification);
  int handled = 0;
  session->runSigninThenHandler([&] { ++handled; });
  EXPECT_TRUE(controller->showingAlert());
  ASSERT_TRUE(pltest::pumpUntil([&] { return pageTitle() == "Sign in - Example Accounts"; }, kSessionWait))
      << pageTitle();
  session->signInController()->webCloseButton()->performClick(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !session->signInController(); }, kSessionWait));
  EXPECT_EQ(handled, 0);
  EXPECT_FALSE(controller->showingAlert());
  EXPECT_FALSE(session->isSignedIn());
  EXPECT_EQ(login.count(), 0);
  EXPECT_EQ(button->title(), "not logged in \u25BE ");
  EXPECT_FALSE(controller->accountCache());
}

TEST_F(SignInSessionTest, ASecondClickWhileTheSheetIsUpBringsItToTheFront) {
  session->initYoutube();
  NotificationCounter login(kLoginStateChangedNotification);
  int handled = 0;
  session->runSigninThenHandler([&] { ++handled; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return pageTitle() == "Sign in - Example Accounts"; }, kSessionWait))
      << pageTitle();
  auto first = session->signInController();
  ASSERT_TRUE(first && first->isWindowShown());
  ASSERT_EQ(window->attachedSheet(), first->window());
  // The person turns to another window, then clicks sign-in again.
  auto other = app.window(ak::MakeRect(300, 300, 200, 100));
  other->makeKeyAndOrderFront(nullptr);
  ASSERT_FALSE(first->window()->isKeyWindow());
  std::size_t windows = ak::Application::sharedApplication()->windows().size();
  session->signInClicked(nullptr);
  session->runSigninThenHandler([&] { handled += 10; });
  drainMainQueue();
  EXPECT_EQ(session->signInController(), first);
  EXPECT_EQ(window->attachedSheet(), first->window());
  EXPECT_TRUE(first->window()->isKeyWindow());
  EXPECT_EQ(ak::Application::sharedApplication()->windows().size(), windows);
  EXPECT_FALSE(session->isSignedIn());

  // The one sign-in ends; every handler asked for runs once.
  ASSERT_TRUE(first->webView()->submitForm("consent", {{"decision", "allow"}}));
  ASSERT_TRUE(pltest::pumpUntil([&] { return !session->signInController(); }, kSessionWait));
  EXPECT_EQ(handled, 11);
  EXPECT_EQ(login.count(), 1);
  EXPECT_EQ(oauth.tokenRequests().size(), 1u);
  EXPECT_EQ(oauth.requestsTo("/o/oauth2/auth").size(), 1u);
  EXPECT_TRUE(session->isSignedIn());
}

TEST_F(SignInSessionTest, SigningInThroughTheSheetMakesTheAccountsCache) {
  session->initYoutube();
  NotificationCounter login(kLoginStateChangedNotification);
  session->signInClicked(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pageTitle() == "Sign in - Example Accounts"; }, kSessionWait))
      << pageTitle();
  ASSERT_TRUE(session->signInController()->webView()->submitForm("consent", {{"decision", "allow"}}));
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->accountCache() != nullptr; }, kSessionWait));
  EXPECT_EQ(login.count(), 1);
  EXPECT_EQ(controller->accountCache()->email(), oauth.options().email);
  EXPECT_EQ(button->title(), oauth.options().email + " \u25BE ");
  EXPECT_TRUE(keychainHoldsSignIn());
}

}  // namespace
