#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/appkit/Button.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"
#include "platform/security/Keychain.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/desktop/RecordingOpener.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/web/WebView.h"
#include "tests/lib/google/OAuthTestSupport.h"

namespace {

using oauthtest::kWait;

constexpr char kItem[] = "Pelorin";
constexpr char kSignInTitle[] = "Sign in - Example Accounts";

// The sign-in sheet over a headless main window, against the fake provider; the keychain file and
// the user defaults live in the application's sandbox.
class OAuth2WindowTest : public testing::Test {
 protected:
  OAuth2WindowTest() {
    oauth_.serveAsProviderHosts();
    oauthtest::aimEndpointsAt(oauth_);
    parent_ = app_.window(ak::MakeRect(100, 100, 800, 600));
  }
  ~OAuth2WindowTest() override {
    if (controller_) controller_->cancelSigningIn();
    NetOAuth2SetEndpoints(std::nullopt);
  }

  // Shows the sheet; with `waitForPage`, until the provider's sign-in page is up.
  void startSheet(bool waitForPage = true, std::function<void(NetOAuth2WindowController&)> setUp = nullptr) {
    controller_ =
        NetOAuth2WindowController::controllerWithScope_clientID_clientSecret_keychainItemName_resourceBundle(
            YouTubeAuthScope(), oauth_.options().clientID, oauth_.options().clientSecret, kItem, nullptr);
    controller_->setNetworkLossTimeoutInterval(0);
    if (setUp) setUp(*controller_);
    controller_->signInSheetModalForWindow_completionHandler(
        parent_, [this](const ns::Ref<NetOAuth2Authentication>& auth, const std::optional<ns::Error>& error) {
          ++ends_;
          endAuth_ = auth;
          endError_ = error;
        });
    if (waitForPage) {
      ASSERT_TRUE(pltest::pumpUntil([&] { return title() == kSignInTitle; }, kWait)) << title();
    }
  }
  std::string title() const {
    return controller_->webView()
               ? controller_->webView()->stringByEvaluatingJavaScriptFromString("document.title")
               : std::string();
  }
  // The person's answer on the consent page.
  void answer(const std::string& decision) {
    ASSERT_TRUE(controller_->webView()->submitForm("consent", {{"decision", decision}}));
  }
  bool waitForEnd() {
    return pltest::pumpUntil([&] { return ends_ > 0; }, kWait);
  }
  static std::optional<std::string> keychainItem() {
    std::string secret;
    if (sec::Keychain::defaultKeychain().findGenericPassword(kItem, "OAuth", &secret) != sec::errSecSuccess)
      return std::nullopt;
    return secret;
  }
  static ns::Value prefsValue() {
    return ns::UserDefaults::standardUserDefaults()->objectForKey("OAuth2: Pelorin");
  }

  pltest::HeadlessApp app_{false};
  testsupport::FakeOAuthServer oauth_;
  ns::Ref<ak::Window> parent_;
  ns::Ref<NetOAuth2WindowController> controller_;
  int ends_ = 0;
  ns::Ref<NetOAuth2Authentication> endAuth_;
  std::optional<ns::Error> endError_;
};

TEST_F(OAuth2WindowTest, AFullSignInIsKeptInTheKeychainAndRestoredAtStart) {
  startSheet();
  EXPECT_EQ(parent_->attachedSheet(), controller_->window());
  EXPECT_TRUE(controller_->isWindowShown());
  EXPECT_FALSE(controller_->keychainCheckbox()->isHidden());
  answer("allow");
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(endError_);
  EXPECT_EQ(ends_, 1);
  EXPECT_FALSE(parent_->attachedSheet());
  EXPECT_FALSE(controller_->isWindowShown());

  ASSERT_TRUE(endAuth_);
  EXPECT_EQ(endAuth_->userEmail(), oauth_.options().email);
  EXPECT_EQ(keychainItem(), endAuth_->persistenceResponseString());
  EXPECT_EQ(prefsValue(), ns::Value(true));
  struct stat info {};
  ASSERT_EQ(::stat(sec::Keychain::defaultPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // At the next start the saved sign-in comes back and works.
  auto restored = NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(
      kItem, oauth_.options().clientID, oauth_.options().clientSecret);
  EXPECT_TRUE(restored->canAuthorize());
  EXPECT_EQ(restored->userEmail(), oauth_.options().email);
  EXPECT_EQ(restored->refreshToken(), endAuth_->refreshToken());
  EXPECT_FALSE(restored->accessToken());
  auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString(oauth_.userInfoURL()));
  bool done = false;
  restored->authorizeRequest_completionHandler(request, [&](const std::optional<ns::Error>& e) {
    EXPECT_FALSE(e);
    done = true;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] { return done; }, kWait));
  EXPECT_EQ(request->valueForHTTPHeaderField("Authorization"),
            "Bearer " + oauth_.issuedAccessTokens().back());
}

TEST_F(OAuth2WindowTest, ASignInWhoseUserInfoHasNoEmailFailsAndKeepsNothing) {
  oauth_.scriptUserInfoReply(pltest::FakeReply::json(200, R"({"sub": "42"})"));
  startSheet();
  answer("allow");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(ends_, 1);
  ASSERT_TRUE(endError_);
  EXPECT_EQ(endError_->code(), kNetOAuth2ErrorAuthorizationFailed);
  EXPECT_FALSE(keychainItem());
  EXPECT_TRUE(prefsValue().isNil());
  ASSERT_TRUE(endAuth_);
  EXPECT_FALSE(endAuth_->canAuthorize());
}

TEST_F(OAuth2WindowTest, WithTheCheckboxOffASavedItemAndItsKeyAreRemoved) {
  auto earlier = NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret("s", "c", "s");
  earlier->setRefreshToken("1/earlier");
  ASSERT_TRUE(NetOAuth2WindowController::saveAuthToKeychainForName_authentication(kItem, earlier));
  ASSERT_TRUE(keychainItem());
  ASSERT_EQ(prefsValue(), ns::Value(true));

  startSheet();
  controller_->keychainCheckbox()->performClick(nullptr);  // the person unticks it
  EXPECT_EQ(controller_->keychainCheckbox()->state(), ak::OffState);
  answer("allow");
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(endError_);
  EXPECT_FALSE(keychainItem());
  EXPECT_TRUE(prefsValue().isNil());
}

TEST_F(OAuth2WindowTest, SigningOutWithNoItemAnswersYesAndKeepsTheKey) {
  ns::UserDefaults::standardUserDefaults()->setBool_forKey(true, "OAuth2: Pelorin");
  EXPECT_TRUE(NetOAuth2WindowController::removeAuthFromKeychainForName(kItem));
  EXPECT_EQ(prefsValue(), ns::Value(true));
  // With the key set but no item, the restored authorizer is signed out.
  auto auth =
      NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(kItem, "c", "s");
  EXPECT_FALSE(auth->canAuthorize());
}

TEST_F(OAuth2WindowTest, WithoutTheKeyTheKeychainIsNotRead) {
  ASSERT_EQ(sec::Keychain::defaultKeychain().addGenericPassword(kItem, "OAuth", "refresh_token=1%2Fsaved"),
            sec::errSecSuccess);
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, sec::Keychain::defaultPath().c_str(), IN_OPEN | IN_ACCESS), 0);
  auto auth =
      NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(kItem, "c", "s");
  EXPECT_FALSE(auth->canAuthorize());
  char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0);  // nothing opened the file
  ::close(watch);

  // The same item with the key set signs in; an item that is not UTF-8 text does not.
  ns::UserDefaults::standardUserDefaults()->setBool_forKey(true, "OAuth2: Pelorin");
  auth = NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(kItem, "c", "s");
  EXPECT_EQ(auth->refreshToken(), "1/saved");
  ASSERT_EQ(sec::Keychain::defaultKeychain().updateGenericPassword(kItem, "OAuth", "refresh_token=\xff\xfe"),
            sec::errSecSuccess);
  auth = NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(kItem, "c", "s");
  EXPECT_FALSE(auth->canAuthorize());
  EXPECT_FALSE(auth->refreshToken());
}

TEST_F(OAuth2WindowTest, ClosingBeforeTheCodeReportsMinus1000) {
  startSheet();
  controller_->webCloseButton()->performClick(nullptr);
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(pltest::isError(endError_, NetOAuth2ErrorDomain, -1000));
  EXPECT_FALSE(parent_->attachedSheet());
  EXPECT_TRUE(oauth_.tokenRequests().empty());
  EXPECT_FALSE(keychainItem());
}

TEST_F(OAuth2WindowTest, ClosingAfterTheCodeReportsNothing) {
  startSheet();
  // The token reply is held back until the close, so the close comes while the code is exchanged.
  oauth_.scriptTokenReply(pltest::FakeReply::stalled("{", 400));
  answer("allow");
  ASSERT_TRUE(pltest::pumpUntil([&] { return oauth_.tokenRequests().size() == 1; }, kWait));
  EXPECT_TRUE(controller_->hasDoneFinalRedirect());
  controller_->closeWindow(nullptr);
  pltest::pumpUntil([&] { return ends_ > 0; }, 0.2);
  EXPECT_EQ(ends_, 0);  // no -1000
  oauth_.server().release();
  // The cut reply is retried and the exchange completes; the close changed nothing.
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(ends_, 1);
  EXPECT_TRUE(!endError_ || endError_->code() != -1000);
}

TEST_F(OAuth2WindowTest, AFreeWindowClosedByThePersonReportsMinus1000) {
  controller_ =
      NetOAuth2WindowController::controllerWithScope_clientID_clientSecret_keychainItemName_resourceBundle(
          YouTubeAuthScope(), oauth_.options().clientID, oauth_.options().clientSecret, kItem, nullptr);
  controller_->setNetworkLossTimeoutInterval(0);
  controller_->signInSheetModalForWindow_completionHandler(
      nullptr, [this](const ns::Ref<NetOAuth2Authentication>&, const std::optional<ns::Error>& error) {
        ++ends_;
        endError_ = error;
      });
  ASSERT_TRUE(pltest::pumpUntil([&] { return title() == kSignInTitle; }, kWait));
  EXPECT_TRUE(controller_->window()->isVisible());
  EXPECT_FALSE(parent_->attachedSheet());
  controller_->window()->performClose(nullptr);
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(endError_);
  EXPECT_EQ(endError_->code(), -1000);
  EXPECT_FALSE(controller_->isWindowShown());
}

TEST_F(OAuth2WindowTest, ADenialEndsWithTheProvidersError) {
  startSheet();
  answer("deny");
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(endError_);
  EXPECT_EQ(endError_->code(), -1001);
  EXPECT_EQ(endError_->userInfo().objectForKey(ns::Value("error")), ns::Value("access_denied"));
  EXPECT_FALSE(keychainItem());
}

TEST_F(OAuth2WindowTest, AClockBefore2011ShowsTheClockPageAndHidesTheCheckbox) {
  startSheet(false, [](NetOAuth2WindowController& c) {
    c.setCurrentDateProvider([] { return ns::Date::dateWithTimeIntervalSince1970(1.0e9); });
  });
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto source = controller_->webView()->mainFrame()->dataSource();
        return source && !source->isLoading() &&
               source->data().toString().find("System Clock Incorrect") != std::string::npos;
      },
      kWait));
  EXPECT_TRUE(controller_->keychainCheckbox()->isHidden());
  pltest::pumpUntil([] { return false; }, 0.1);  // the delayed load would have started by now
  EXPECT_TRUE(oauth_.requestsTo("/o/oauth2/auth").empty());
}

TEST_F(OAuth2WindowTest, TheSheetSendsOnlyItsOwnCookies) {
  auto shared = ns::HTTPCookie::cookieWithProperties(
      ns::Dictionary{{ns::Value("Name"), ns::Value("shared")},
                     {ns::Value("Value"), ns::Value("1")},
                     {ns::Value("Domain"), ns::Value("accounts.example.test")},
                     {ns::Value("Path"), ns::Value("/")}});
  ASSERT_TRUE(shared);
  ns::HTTPCookieStorage::sharedHTTPCookieStorage()->setCookie(shared);
  startSheet();
  answer("allow");
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(endError_);
  auto signInPage = oauth_.requestsTo("/o/oauth2/auth");
  ASSERT_EQ(signInPage.size(), 1u);
  EXPECT_FALSE(signInPage[0].header("Cookie"));
  auto approve = oauth_.requestsTo("/o/oauth2/approve");
  ASSERT_EQ(approve.size(), 1u);
  auto cookie = approve[0].header("Cookie").value_or("");
  EXPECT_NE(cookie.find("SID=sid-1"), std::string::npos) << cookie;
  EXPECT_EQ(cookie.find("shared="), std::string::npos) << cookie;
  ns::HTTPCookieStorage::sharedHTTPCookieStorage()->deleteCookie(shared);
}

TEST_F(OAuth2WindowTest, ALinkForANewWindowGoesToTheDefaultBrowser) {
  pltest::RecordingOpener opener(app_.sandbox());
  startSheet();
  ASSERT_TRUE(controller_->webView()->clickLink("Help"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return opener.invocations().size() == 1; }, kWait));
  EXPECT_EQ(opener.invocations()[0], std::vector<std::string>{oauth_.accountsURL("/help")});
  EXPECT_EQ(title(), kSignInTitle);
  EXPECT_TRUE(oauth_.requestsTo("/help").empty());
}

}  // namespace
