#include <gtest/gtest.h>

#include "lib/google/YouTubeAuthScopes.h"
#include "platform/net/URLComponents.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/FakeRouteState.h"
#include "tests/lib/google/OAuthTestSupport.h"

namespace {

using oauthtest::kWait;
using oauthtest::Notes;

// Stands in for the sign-in sheet: records what the flow shows and how it ends.
class FlowDelegate : public ns::Object {
 public:
  std::vector<ns::Ref<ns::URLRequest>> shown;  // nullptr: close the window
  int finishedCount = 0;
  ns::Ref<NetOAuth2Authentication> finishedAuth;
  std::optional<ns::Error> finishedError;

  void signIn_displayRequest(const ns::Ref<NetOAuth2SignIn>&, const ns::Ref<ns::URLRequest>& request) {
    shown.push_back(request);
  }
  void signIn_finishedWithAuth_error(const ns::Ref<NetOAuth2SignIn>&,
                                     const ns::Ref<NetOAuth2Authentication>& auth,
                                     const std::optional<ns::Error>& error) {
    ++finishedCount;
    finishedAuth = auth;
    finishedError = error;
  }
  std::string className() const override { return "FlowDelegate"; }
};

class OAuth2SignInTest : public oauthtest::OAuthTest {
 protected:
  ns::Ref<NetOAuth2SignIn> start(const ns::Ref<NetOAuth2Authentication>& auth,
                                 const std::string& authorizationURL = "") {
    auto url =
        ns::URL::URLWithString(authorizationURL.empty() ? oauth_.authorizationURL() : authorizationURL);
    auto signIn =
        NetOAuth2SignIn::initWithAuthentication_authorizationURL_delegate_webRequestSelector_finishedSelector(
            auth, url, delegate_,
            NetOAuth2SignIn::WebRequestSelector::of("signIn:displayRequest:",
                                                    &FlowDelegate::signIn_displayRequest),
            NetOAuth2SignIn::FinishedSelector::of("signIn:finishedWithAuth:error:",
                                                  &FlowDelegate::signIn_finishedWithAuth_error));
    signIn->setNetworkLossTimeoutInterval(0);
    EXPECT_TRUE(signIn->startSigningIn());
    return signIn;
  }
  bool waitForEnd() {
    return pltest::pumpUntil([&] { return delegate_->finishedCount > 0; }, kWait);
  }
  static std::map<std::string, std::string> queryOf(const ns::Ref<ns::URLRequest>& request) {
    std::map<std::string, std::string> out;
    auto components = ns::URLComponents::componentsWithURL_resolvingAgainstBaseURL(request->URL(), false);
    for (const auto& item : components->queryItems().value_or(std::vector<ns::URLQueryItem>{}))
      out[item.name] = item.value.value_or("");
    return out;
  }

  ns::Ref<FlowDelegate> delegate_ = ns::make<FlowDelegate>();
};

TEST_F(OAuth2SignInTest, TheAuthorizationRequestAsksForTheEmailScopeAndKeepsAnExistingQuery) {
  auto signIn = start(makeAuth(YouTubeAuthScope()), oauth_.authorizationURL() + "?hl=en");
  ASSERT_EQ(delegate_->shown.size(), 1u);
  auto request = delegate_->shown[0];
  ASSERT_TRUE(request);
  auto query = request->URL()->query().value_or("");
  EXPECT_EQ(query.rfind("hl=en&", 0), 0u) << query;
  auto fields = queryOf(request);
  EXPECT_EQ(fields["scope"], YouTubeAuthScope() + " " + oauth_.apiURL("/auth/userinfo.email"));
  EXPECT_EQ(fields["response_type"], "code");
  EXPECT_EQ(fields["client_id"], oauth_.options().clientID);
  EXPECT_EQ(fields["redirect_uri"], "urn:ietf:wg:oauth:2.0:oob");
  EXPECT_EQ(request->URL()->host(), "accounts.example.test");
  EXPECT_EQ(request->URL()->path(), "/o/oauth2/auth");
}

TEST_F(OAuth2SignInTest, ASuccessTitleExchangesTheCodeAndFetchesTheUserInfo) {
  Notes notes({kNetOAuth2UserSignedIn, kNetOAuth2FetchStarted, kNetOAuth2FetchStopped});
  oauth_.issueCode("4/abc");
  auto auth = makeAuth();
  auto signIn = start(auth);
  EXPECT_FALSE(signIn->titleChanged("Sign in - Example Accounts?"));  // no key in the last word
  EXPECT_FALSE(signIn->titleChanged("NoBlankcode=4/abc"));
  EXPECT_FALSE(signIn->titleChanged("Success code"));  // no "=": an empty code
  EXPECT_FALSE(signIn->titleChanged("Success code=&error="));
  EXPECT_TRUE(signIn->titleChanged("Success code=4/abc"));
  ASSERT_EQ(delegate_->shown.size(), 2u);
  EXPECT_FALSE(delegate_->shown[1]);  // told to close the window
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(delegate_->finishedError);
  EXPECT_EQ(delegate_->finishedAuth, auth);

  auto tokens = oauth_.tokenRequests();
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(field(tokens[0], "grant_type"), "authorization_code");
  EXPECT_EQ(field(tokens[0], "code"), "4/abc");
  EXPECT_EQ(field(tokens[0], "redirect_uri"), "urn:ietf:wg:oauth:2.0:oob");
  EXPECT_EQ(field(tokens[0], "client_id"), oauth_.options().clientID);
  EXPECT_EQ(field(tokens[0], "client_secret"), oauth_.options().clientSecret);
  EXPECT_EQ(tokens[0].header("User-Agent").value_or("").rfind("net-oauth2 com.ordel42.zeravozezi", 0), 0u);
  EXPECT_EQ(tokens[0].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(notes.count(kNetOAuth2UserSignedIn), 1u);

  auto infos = oauth_.userInfoRequests();
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0].header("Authorization"), "Bearer " + oauth_.issuedAccessTokens().at(0));
  EXPECT_EQ(infos[0].header("Cache-Control"), "no-cache");
  EXPECT_EQ(auth->userEmail(), oauth_.options().email);
  EXPECT_EQ(auth->userID(), oauth_.options().userID);
  EXPECT_EQ(auth->userEmailIsVerified(), "1");
  EXPECT_EQ(auth->refreshToken(), oauth_.issuedRefreshTokens().at(0));
  EXPECT_EQ(notes.count(kNetOAuth2FetchStarted), 2u);  // token, then user info
  EXPECT_EQ(notes.count(kNetOAuth2FetchStopped), 2u);

  // A later title changes nothing.
  EXPECT_TRUE(signIn->titleChanged("Success code=4/other"));
  EXPECT_EQ(auth->code(), "4/abc");
  EXPECT_EQ(oauth_.tokenRequests().size(), 1u);
  EXPECT_EQ(delegate_->finishedCount, 1);
}

TEST_F(OAuth2SignInTest, AnIDTokenSparesTheUserInfoRequest) {
  oauth_.setIncludeIDToken(true);
  oauth_.issueCode("4/abc");
  auto auth = makeAuth();
  auto signIn = start(auth);
  EXPECT_TRUE(signIn->titleChanged("Success code=4/abc"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(delegate_->finishedError);
  EXPECT_EQ(auth->userID(), "42");
  EXPECT_EQ(auth->userEmail(), oauth_.options().email);
  EXPECT_TRUE(oauth_.userInfoRequests().empty());
}

TEST_F(OAuth2SignInTest, ABrokenIDTokenFallsBackToTheUserInfoRequest) {
  for (const char* idToken : {"only.two", "a.!!!.c", "a.bm90IGpzb24.c"}) {
    SCOPED_TRACE(idToken);
    oauth_.server().clearRequests();
    delegate_ = ns::make<FlowDelegate>();
    oauth_.issueCode("4/id");
    oauth_.scriptTokenReply(pltest::FakeReply::json(
        200, std::string(R"({"access_token": "ya29.scripted", "expires_in": 3600, "refresh_token": "1/x", )"
                         R"("id_token": ")") +
                 idToken + "\"}"));
    auto auth = makeAuth();
    auto signIn = start(auth);
    EXPECT_TRUE(signIn->titleChanged("Success code=4/id"));
    ASSERT_TRUE(waitForEnd());
    // The scripted token is not one the provider issued, so the user-info request is refused (and
    // so is the refresh token it came with: the request is not sent again).
    ASSERT_TRUE(delegate_->finishedError);
    EXPECT_GE(oauth_.userInfoRequests().size(), 1u);
    EXPECT_FALSE(auth->userEmail());
  }
}

TEST_F(OAuth2SignInTest, ADeniedTitleEndsWithTheProvidersError) {
  auto auth = makeAuth();
  auto signIn = start(auth);
  EXPECT_TRUE(signIn->titleChanged("Denied error=access_denied"));
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(pltest::isError(delegate_->finishedError, NetOAuth2ErrorDomain, -1001));
  EXPECT_EQ(delegate_->finishedError->userInfo().objectForKey(ns::Value("error")),
            ns::Value("access_denied"));
  EXPECT_TRUE(oauth_.tokenRequests().empty());
}

TEST_F(OAuth2SignInTest, ATitleTakesOnlyTheCodeAndTheError) {
  oauth_.issueCode("c");
  auto auth = makeAuth();
  auto signIn = start(auth);
  EXPECT_TRUE(signIn->titleChanged("x refresh_token=evil&access_token=evil2&code=c"));
  EXPECT_FALSE(auth->refreshToken());
  EXPECT_FALSE(auth->accessToken());
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(delegate_->finishedError);
  ASSERT_EQ(oauth_.tokenRequests().size(), 1u);
  EXPECT_EQ(field(oauth_.tokenRequests()[0], "grant_type"), "authorization_code");
  EXPECT_EQ(field(oauth_.tokenRequests()[0], "code"), "c");
  EXPECT_EQ(auth->refreshToken(), oauth_.issuedRefreshTokens().at(0));
}

TEST_F(OAuth2SignInTest, ARedirectToTheRedirectURITakesOnlyItsCode) {
  oauth_.issueCode("r1");
  auto auth = makeAuth();
  auth->setRedirectURI("https://app.example.test/done");
  auto signIn = start(auth);
  auto elsewhere = requestFor("https://app.example.test/other?code=x");
  EXPECT_FALSE(signIn->requestRedirectedToRequest(elsewhere));
  auto done = requestFor("https://app.example.test/done?refresh_token=evil&code=r1");
  EXPECT_TRUE(signIn->requestRedirectedToRequest(done));
  EXPECT_FALSE(auth->refreshToken());
  EXPECT_EQ(auth->code(), "r1");
  ASSERT_TRUE(waitForEnd());  // the fake provider only knows the out-of-band redirect URI
  EXPECT_TRUE(delegate_->finishedError);
  // The out-of-band redirect URI leaves redirects to the title watch.
  auto oob = makeAuth();
  delegate_ = ns::make<FlowDelegate>();
  EXPECT_FALSE(start(oob)->requestRedirectedToRequest(done));
}

TEST_F(OAuth2SignInTest, AnAuthorizationHostOutsideTheProviderFetchesNoUserInfo) {
  oauth_.issueCode("4/abc");
  auto auth = makeAuth("s1");
  auto signIn = start(auth, "https://login.elsewhere.test/authorize");
  EXPECT_FALSE(signIn->shouldFetchGoogleUserEmail());
  EXPECT_EQ(auth->scope(), "s1");
  EXPECT_TRUE(signIn->titleChanged("Success code=4/abc"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(delegate_->finishedError);
  EXPECT_EQ(oauth_.tokenRequests().size(), 1u);
  EXPECT_TRUE(oauth_.userInfoRequests().empty());
  EXPECT_FALSE(auth->userEmail());
}

// A provider configured by address (a local one, say) is the provider: its sign-in asks for the
// e-mail and fetches it.
TEST_F(OAuth2SignInTest, AProviderAtTheConfiguredAddressGetsTheEmailAndTheBuiltInOneKeepsItsDomain) {
  EXPECT_EQ(NetOAuth2DefaultEndpoints().providerDomain, "google.com");
  sandbox_.set(kOAuthURLEnvironmentKey, oauth_.server().baseURL() + "/");
  const auto configured = NetOAuth2DefaultEndpoints();
  EXPECT_EQ(configured.authorizationURL, oauth_.server().baseURL() + "/o/oauth2/auth");
  EXPECT_EQ(configured.providerDomain, "127.0.0.1");
  NetOAuth2SetEndpoints(NetOAuth2Endpoints{configured.authorizationURL, configured.tokenURL,
                                           configured.revocationURL, oauth_.userInfoURL(), oauth_.apiURL(""),
                                           configured.providerDomain});
  oauth_.issueCode("4/abc");
  auto auth = makeAuth("s1");
  auto signIn = start(auth, configured.authorizationURL);
  EXPECT_TRUE(signIn->shouldFetchGoogleUserEmail());
  EXPECT_NE(auth->scope().value_or("").find("userinfo.email"), std::string::npos);
  EXPECT_TRUE(signIn->titleChanged("Success code=4/abc"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(delegate_->finishedError);
  EXPECT_EQ(oauth_.userInfoRequests().size(), 1u);
  EXPECT_EQ(auth->userEmail(), oauth_.options().email);
}

TEST_F(OAuth2SignInTest, BadTokenRepliesEndTheFlowWithAnError) {
  struct Case {
    pltest::FakeReply reply;
    long code;
  };
  for (const auto& c : {Case{pltest::FakeReply::json(200, "{truncated"), -1001},
                        Case{pltest::FakeReply::json(200, R"({"error": "server_error"})"), -1001},
                        Case{pltest::FakeReply::json(400, R"({"error": "invalid_grant"})"), 400}}) {
    delegate_ = ns::make<FlowDelegate>();
    oauth_.issueCode("4/bad");
    oauth_.scriptTokenReply(c.reply);
    auto auth = makeAuth();
    auto signIn = start(auth);
    EXPECT_TRUE(signIn->titleChanged("Success code=4/bad"));
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(delegate_->finishedError);
    EXPECT_EQ(delegate_->finishedError->code(), c.code);
    EXPECT_FALSE(auth->canAuthorize());
  }
}

TEST_F(OAuth2SignInTest, AUserInfoReplyWithoutAnEmailEndsTheFlowWithAnErrorAndNoTokens) {
  struct Case {
    const char* body;
    const char* message;
  };
  const char* const notAnObject = "The account's user info is not a JSON object";
  const char* const noEmail = "The account's user info has no e-mail address";
  for (const auto& c :
       {Case{"[1, 2]", notAnObject}, Case{"\"text\"", notAnObject}, Case{"{broken", notAnObject},
        Case{"", notAnObject}, Case{R"({"sub": "42", "email_verified": true})", noEmail},
        Case{R"({"sub": "42", "email": ""})", noEmail}, Case{R"({"email": ["a@b"]})", noEmail}}) {
    SCOPED_TRACE(c.body);
    delegate_ = ns::make<FlowDelegate>();
    oauth_.issueCode("4/info");
    oauth_.scriptUserInfoReply(pltest::FakeReply::json(200, c.body));
    auto auth = makeAuth();
    auto signIn = start(auth);
    EXPECT_TRUE(signIn->titleChanged("Success code=4/info"));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(delegate_->finishedCount, 1);
    ASSERT_TRUE(delegate_->finishedError);
    EXPECT_EQ(delegate_->finishedError->domain(), NetOAuth2ErrorDomain);
    EXPECT_EQ(delegate_->finishedError->code(), kNetOAuth2ErrorAuthorizationFailed);
    EXPECT_EQ(delegate_->finishedError->userInfo().objectForKey(ns::Value("error")), ns::Value(c.message));
    EXPECT_FALSE(auth->userEmail());
    EXPECT_FALSE(auth->canAuthorize());
    EXPECT_FALSE(auth->refreshToken());
    EXPECT_EQ(auth->persistenceResponseString().find("token"), std::string::npos);
  }
  // The fake's own reply, with an e-mail, still signs in.
  delegate_ = ns::make<FlowDelegate>();
  oauth_.issueCode("4/good");
  auto auth = makeAuth();
  auto signIn = start(auth);
  EXPECT_TRUE(signIn->titleChanged("Success code=4/good"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_FALSE(delegate_->finishedError);
  EXPECT_EQ(auth->userEmail(), oauth_.options().email);
}

TEST_F(OAuth2SignInTest, ClosingTheWindowEndsWithMinus1000AndCancellingCallsNothing) {
  auto signIn = start(makeAuth());
  signIn->windowWasClosed();
  ASSERT_EQ(delegate_->finishedCount, 1);
  EXPECT_EQ(delegate_->finishedError->code(), -1000);
  signIn->windowWasClosed();
  EXPECT_EQ(delegate_->finishedCount, 1);

  delegate_ = ns::make<FlowDelegate>();
  auto cancelled = start(makeAuth());
  cancelled->cancelSigningIn();
  EXPECT_FALSE(cancelled->delegate());
  EXPECT_EQ(delegate_->shown.size(), 2u);
  EXPECT_FALSE(delegate_->shown.back());
  EXPECT_EQ(delegate_->finishedCount, 0);
}

TEST_F(OAuth2SignInTest, AFailedAuthorizationPageEndsTheFlowAndOtherFailuresDoNot) {
  auto signIn = start(makeAuth());
  ns::Dictionary other{
      {ns::Value(ns::NSURLErrorFailingURLErrorKey),
       ns::Value(std::static_pointer_cast<ns::Object>(ns::URL::URLWithString(oauth_.accountsURL("/help"))))}};
  EXPECT_FALSE(signIn->loadFailedWithError(ns::Error("NSURLErrorDomain", -1004, other)));
  ns::Dictionary page{{ns::Value(ns::NSURLErrorFailingURLErrorKey),
                       ns::Value(std::static_pointer_cast<ns::Object>(delegate_->shown[0]->URL()))}};
  EXPECT_TRUE(signIn->loadFailedWithError(ns::Error("NSURLErrorDomain", -1004, page)));
  ASSERT_EQ(delegate_->finishedCount, 1);
  EXPECT_EQ(delegate_->finishedError->code(), -1004);
  EXPECT_EQ(delegate_->finishedError->domain(), "NSURLErrorDomain");
}

TEST_F(OAuth2SignInTest, TheNetworkWatchAnnouncesALossOnceAndTheRecoveryOnce) {
  pltest::VirtualClock clock;
  auto routes = std::make_shared<pltest::FakeRouteState>(sc::kSCNetworkReachabilityFlagsReachable);
  sc::NetworkReachability::setDefaultRouteStateSource(routes);
  Notes notes({kNetOAuthNetworkLost, kNetOAuthNetworkFound});
  auto url = ns::URL::URLWithString(oauth_.authorizationURL());
  auto signIn =
      NetOAuth2SignIn::initWithAuthentication_authorizationURL_delegate_webRequestSelector_finishedSelector(
          makeAuth(), url, delegate_,
          NetOAuth2SignIn::WebRequestSelector::of("signIn:displayRequest:",
                                                  &FlowDelegate::signIn_displayRequest),
          {});
  signIn->setNetworkLossTimeoutInterval(0.1);
  signIn->startSigningIn();

  routes->setFlags(0);
  routes->setFlags(sc::kSCNetworkReachabilityFlagsConnectionRequired);
  for (int i = 0; i < 100 && notes.count(kNetOAuthNetworkLost) == 0; ++i) {
    clock.advance(0.05);
    pltest::pumpUntil([&] { return notes.count(kNetOAuthNetworkLost) > 0; }, 0.05);
  }
  EXPECT_EQ(notes.count(kNetOAuthNetworkLost), 1u);
  clock.advance(1);
  routes->notifyChange();
  pltest::pumpUntil([] { return false; }, 0.1);
  EXPECT_EQ(notes.count(kNetOAuthNetworkLost), 1u);

  routes->setFlags(sc::kSCNetworkReachabilityFlagsReachable);
  ASSERT_TRUE(pltest::pumpUntil([&] { return notes.count(kNetOAuthNetworkFound) > 0; }, kWait));
  routes->notifyChange();
  pltest::pumpUntil([] { return false; }, 0.1);
  EXPECT_EQ(notes.count(kNetOAuthNetworkFound), 1u);
  EXPECT_EQ(notes.entries().size(), 2u);

  signIn->cancelSigningIn();
  EXPECT_EQ(routes->handlerCount(), 0u);
  sc::NetworkReachability::setDefaultRouteStateSource(nullptr);
}

TEST_F(OAuth2SignInTest, RevokingPostsTheRefreshTokenAndResetsTheAuthorizer) {
  auto auth = signedInAuth("1/to revoke");
  auth->setUserID("42");
  NetOAuth2SignIn::revokeTokenForGoogleAuthentication(auth);
  EXPECT_FALSE(auth->refreshToken());
  EXPECT_EQ(auth->userID(), "42");
  ASSERT_TRUE(pltest::pumpUntil([&] { return oauth_.revokedTokens().size() == 1; }, kWait));
  EXPECT_EQ(oauth_.revokedTokens()[0], "1/to revoke");
  auto posts = oauth_.requestsTo("/o/oauth2/revoke");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].body, "token=1%2Fto%20revoke");
  EXPECT_FALSE(posts[0].header("Authorization"));

  // Nothing to revoke: nothing is sent.
  NetOAuth2SignIn::revokeTokenForGoogleAuthentication(makeAuth());
  pltest::pumpUntil([] { return false; }, 0.1);
  EXPECT_EQ(oauth_.requestsTo("/o/oauth2/revoke").size(), 1u);
}

TEST(OAuth2SignInHelpers, WebSafeBase64AndQueryBuilding) {
  EXPECT_EQ(NetOAuth2SignIn::decodeWebSafeBase64("eyJhIjoxfQ")->toString(), "{\"a\":1}");
  EXPECT_EQ(NetOAuth2SignIn::decodeWebSafeBase64("eyJhIjoxfQ==")->toString(), "{\"a\":1}");
  EXPECT_EQ(NetOAuth2SignIn::decodeWebSafeBase64("-_8")->toString(), std::string("\xfb\xff", 2));
  EXPECT_FALSE(NetOAuth2SignIn::decodeWebSafeBase64("a$b"));
  EXPECT_FALSE(NetOAuth2SignIn::decodeWebSafeBase64("abcde"));

  auto url = ns::URL::URLWithString("https://h.test:8443/p?x=1");
  EXPECT_EQ(NetOAuth2SignIn::mutableURLRequestWithURL_paramString(url, "a=b")->URL()->absoluteString(),
            "https://h.test:8443/p?x=1&a=b");
  EXPECT_EQ(NetOAuth2SignIn::mutableURLRequestWithURL_paramString(url, "")->URL(), url);
}

}  // namespace
