#include <gtest/gtest.h>

#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetHTTPFetcher.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/GoogleTestSupport.h"
#include "tests/lib/google/OAuthTestSupport.h"
#include "tests/support/FakeDataAPI.h"

namespace {

using oauthtest::kWait;
using oauthtest::Notes;

class OAuth2AuthenticationTest : public oauthtest::OAuthTest {
 protected:
  // Authorizes one request and waits for the answer.
  std::optional<ns::Error> authorizeAndWait(const ns::Ref<NetOAuth2Authentication>& auth,
                                            const ns::Ref<ns::URLRequest>& request) {
    bool done = false;
    std::optional<ns::Error> result;
    auth->authorizeRequest_completionHandler(request, [&](const std::optional<ns::Error>& error) {
      result = error;
      done = true;
    });
    EXPECT_TRUE(pltest::pumpUntil([&] { return done; }, kWait));
    return result;
  }
};

TEST_F(OAuth2AuthenticationTest, RefreshesATokenThatExpiresWithinAMinuteAndUsesOneThatDoesNot) {
  pltest::VirtualClock clock;
  struct Case {
    std::optional<long long> expiresIn;
    bool refreshed;
  };
  for (const Case& c : {Case{59, true}, Case{61, false}, Case{std::nullopt, true}}) {
    SCOPED_TRACE(c.expiresIn ? std::to_string(*c.expiresIn) : "no expiry");
    auto auth = signedInAuth();
    auth->setAccessToken("old-token");
    auth->setExpiresIn(c.expiresIn);
    std::size_t before = oauth_.tokenRequests().size();
    auto request = requestFor("https://www.example.test/data");
    EXPECT_FALSE(authorizeAndWait(auth, request));
    EXPECT_EQ(oauth_.tokenRequests().size() - before, c.refreshed ? 1u : 0u);
    std::string expected = c.refreshed ? oauth_.issuedAccessTokens().back() : "old-token";
    EXPECT_EQ(request->valueForHTTPHeaderField("Authorization"), "Bearer " + expected);
  }

  // Two seconds later the 61-second token is inside the margin and is refreshed.
  auto auth = signedInAuth();
  auth->setAccessToken("old-token");
  auth->setExpiresIn(61);
  clock.advance(2);
  EXPECT_TRUE(auth->shouldRefreshAccessToken());
}

TEST_F(OAuth2AuthenticationTest, WhatCanBeAuthorized) {
  auto auth = makeAuth();
  auth->setAccessToken("token");
  EXPECT_TRUE(auth->canAuthorize());
  auth->setRefreshToken("");
  EXPECT_FALSE(auth->canAuthorize());  // a zero-length refresh token wins over the access token
  auth->setRefreshToken(std::nullopt);

  auto plain = requestFor("http://www.example.test/data");
  auto error = authorizeAndWait(auth, plain);
  ASSERT_TRUE(pltest::isError(error, NetOAuth2ErrorDomain, -1004));
  EXPECT_FALSE(plain->valueForHTTPHeaderField("Authorization"));

  auth->setShouldAuthorizeAllRequests(true);
  EXPECT_FALSE(authorizeAndWait(auth, plain));
  EXPECT_EQ(plain->valueForHTTPHeaderField("Authorization"), "Bearer token");

  auto none = makeAuth();
  auto secure = requestFor("https://www.example.test/data");
  error = authorizeAndWait(none, secure);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), -1001);

  // A token that would break the header line authorizes nothing.
  for (const std::string& bad :
       {std::string("a\r\nX-Injected: 1"), std::string("a\nb"), std::string("a\0b", 3)}) {
    auto broken = makeAuth();
    broken->setAccessToken(bad);
    auto request = requestFor("https://www.example.test/data");
    error = authorizeAndWait(broken, request);
    EXPECT_TRUE(pltest::isError(error, NetOAuth2ErrorDomain, -1001));
    EXPECT_FALSE(request->valueForHTTPHeaderField("Authorization"));
    EXPECT_FALSE(broken->authorizeRequest(requestFor("https://www.example.test/data")));
  }

  // reset keeps the user ID; primeForRefresh needs a refresh token.
  auth->setUserID("42");
  auth->reset();
  EXPECT_EQ(auth->userID(), "42");
  EXPECT_FALSE(auth->accessToken());
  auth->setAccessToken("t");
  EXPECT_FALSE(auth->primeForRefresh());
  EXPECT_EQ(auth->accessToken(), "t");
}

TEST_F(OAuth2AuthenticationTest, TenAuthorizationsShareOneRefreshAndCompleteInOrder) {
  auto auth = signedInAuth();
  std::vector<int> order;
  std::vector<ns::Ref<ns::URLRequest>> requests;
  bool allOnMain = true;
  for (int i = 0; i < 10; ++i) {
    requests.push_back(requestFor("https://www.example.test/item/" + std::to_string(i)));
    EXPECT_TRUE(
        auth->authorizeRequest_completionHandler(requests.back(), [&, i](const std::optional<ns::Error>& e) {
          EXPECT_FALSE(e);
          allOnMain = allOnMain && ns::Thread::isMainThread();
          order.push_back(i);
        }));
    EXPECT_TRUE(auth->isAuthorizingRequest(requests.back()));
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return order.size() == 10; }, kWait));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(allOnMain);
  ASSERT_EQ(oauth_.tokenRequests().size(), 1u);
  EXPECT_EQ(field(oauth_.tokenRequests()[0], "grant_type"), "refresh_token");
  for (const auto& r : requests)
    EXPECT_EQ(r->valueForHTTPHeaderField("Authorization"), "Bearer " + oauth_.issuedAccessTokens().at(0));
}

TEST_F(OAuth2AuthenticationTest, CallbacksReturnToTheAskingThread) {
  auto auth = signedInAuth();
  auto worker = ns::Thread::detachNewThreadWithRunLoop("oauth-asker");
  std::atomic<bool> done{false};
  std::atomic<bool> onWorker{false};
  // The refresh starts on the main thread; the worker's request waits for it.
  auth->authorizeRequest_completionHandler(requestFor("https://www.example.test/a"), nullptr);
  ns::Thread::performOnThread(worker,
                              {nullptr, "ask", nullptr,
                               [&] {
                                 auth->authorizeRequest_completionHandler(
                                     requestFor("https://www.example.test/b"), [&](const auto& e) {
                                       onWorker = ns::Thread::currentThread() == worker && !e;
                                       done = true;
                                     });
                               }},
                              true);
  ASSERT_TRUE(pltest::pumpUntil([&] { return done.load(); }, kWait));
  EXPECT_TRUE(onWorker);
  worker->cancel();
  EXPECT_TRUE(worker->waitUntilFinished(kWait));
}

TEST_F(OAuth2AuthenticationTest, ARefusedRefreshFailsTheQueuedRequestsWithTheServersError) {
  auto auth = signedInAuth();
  oauth_.scriptTokenReply(pltest::FakeReply::json(400, R"({"error": "invalid_grant"})"));
  Notes notes({kNetOAuth2AccessTokenRefreshFailed, kNetOAuth2AccessTokenRefreshed});
  std::vector<std::optional<ns::Error>> errors;
  std::vector<ns::Ref<ns::URLRequest>> requests;
  for (int i = 0; i < 3; ++i) {
    requests.push_back(requestFor("https://www.example.test/" + std::to_string(i)));
    auth->authorizeRequest_completionHandler(requests.back(),
                                             [&](const std::optional<ns::Error>& e) { errors.push_back(e); });
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return errors.size() == 3; }, kWait));
  ASSERT_EQ(notes.entries().size(), 1u);
  EXPECT_EQ(notes.entries()[0].name, kNetOAuth2AccessTokenRefreshFailed);
  EXPECT_EQ(notes.entries()[0].userInfo.objectForKey(ns::Value("error")), ns::Value("invalid_grant"));
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(errors[i]);
    EXPECT_EQ(errors[i]->code(), 400);
    EXPECT_TRUE(errors[i]->userInfo().objectForKey(ns::Value("json")).isDictionary());
    EXPECT_FALSE(requests[i]->valueForHTTPHeaderField("Authorization"));
  }
}

TEST_F(OAuth2AuthenticationTest, AuthorizingNoRequestRefreshesThenCallsBack) {
  auto auth = signedInAuth();
  Notes notes({kNetOAuth2AccessTokenRefreshed});
  EXPECT_FALSE(authorizeAndWait(auth, nullptr));
  EXPECT_EQ(oauth_.tokenRequests().size(), 1u);
  EXPECT_EQ(notes.count(kNetOAuth2AccessTokenRefreshed), 1u);
  EXPECT_EQ(auth->accessToken(), oauth_.issuedAccessTokens().at(0));
}

TEST_F(OAuth2AuthenticationTest, MalformedTokenRepliesMergeNothing) {
  for (const char* body : {"{not json", "[1, 2]", ""}) {
    SCOPED_TRACE(body);
    auto auth = signedInAuth();
    oauth_.scriptTokenReply(pltest::FakeReply::json(200, body));
    auto request = requestFor("https://www.example.test/x");
    auto error = authorizeAndWait(auth, request);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -1001);
    EXPECT_FALSE(auth->accessToken());
    EXPECT_EQ(auth->refreshToken(), "1/known");
    EXPECT_FALSE(request->valueForHTTPHeaderField("Authorization"));
  }
}

TEST_F(OAuth2AuthenticationTest, PersistenceStringAndFormText) {
  auto auth = makeAuth();
  auth->setRefreshToken("1/r t");
  auth->setAccessToken("not kept");
  auth->setUserEmail("a@b.test");
  auth->setScope("s1 s2");
  auth->setUserID("42");
  EXPECT_EQ(auth->persistenceResponseString(),
            "email=a%40b.test&refresh_token=1%2Fr%20t&scope=s1%20s2&serviceProvider=Google&userID=42");

  Notes notes({kNetOAuth2RefreshTokenChanged});
  auto restored = makeAuth(std::nullopt);
  restored->setKeysForPersistenceResponseString(auth->persistenceResponseString());
  EXPECT_EQ(restored->refreshToken(), "1/r t");
  EXPECT_EQ(restored->userEmail(), "a@b.test");
  EXPECT_FALSE(restored->accessToken());
  EXPECT_FALSE(restored->expirationDate());
  EXPECT_EQ(notes.count(kNetOAuth2RefreshTokenChanged), 1u);

  auto parsed = NetOAuth2Authentication::dictionaryWithResponseString("a=1&b");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, (ns::Dictionary{{ns::Value("a"), ns::Value("1")}, {ns::Value("b"), ns::Value("")}}));
  // Pieces that do not decode to UTF-8 are left out.
  EXPECT_EQ(NetOAuth2Authentication::dictionaryWithResponseString("x=%FF&y=2")->count(), 1u);
  EXPECT_FALSE(NetOAuth2Authentication::dictionaryWithResponseString(std::nullopt));
}

TEST_F(OAuth2AuthenticationTest, AFormTextTokenReplySetsTheExpiryAnHourAhead) {
  pltest::VirtualClock clock;
  oauth_.setFormTextReplies(true);
  auto auth = signedInAuth();
  EXPECT_FALSE(authorizeAndWait(auth, requestFor("https://www.example.test/x")));
  EXPECT_EQ(auth->accessToken(), oauth_.issuedAccessTokens().at(0));
  ASSERT_TRUE(auth->expirationDate());
  EXPECT_DOUBLE_EQ(auth->expirationDate()->timeIntervalSinceNow(), 3600.0);
  EXPECT_EQ(auth->expiresIn(), 3600);
}

// The Data API service with the authorizer, against both fakes over HTTPS.
class OAuth2DataAPITest : public OAuth2AuthenticationTest {
 protected:
  OAuth2DataAPITest() {
    sandbox_.set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api_.serveAsAPIHost();
    oauth_.serveAsProviderHosts({&api_.server()});
    api_.seedFromFixture("playlists", googletest::fixtureText("playlists-1.json"));
  }
  ~OAuth2DataAPITest() override { api_.release(); }

  std::optional<ns::Error> listPlaylists(const ns::Ref<ApiServiceYouTube>& service) {
    auto query = ApiQueryYouTube::queryForPlaylistsListWithPart("snippet");
    query->setMine(true);
    bool done = false;
    std::optional<ns::Error> result;
    service->executeQuery_completionHandler(
        query,
        [&](const ns::Ref<ApiServiceTicket>&, const ns::Ref<ApiObject>&, const std::optional<ns::Error>& e) {
          result = e;
          done = true;
        });
    EXPECT_TRUE(pltest::pumpUntil([&] { return done; }, kWait));
    return result;
  }

  testsupport::FakeDataAPI api_;
};

TEST_F(OAuth2DataAPITest, CallsCarryAFreshBearerTokenAndA401RefreshesOnce) {
  auto auth = signedInAuth();
  auto service = ns::make<ApiServiceYouTube>();
  service->setAuthorizer(auth);
  EXPECT_TRUE(auth->fetcherService());
  api_.requireBearerToken("ya29.access1");
  EXPECT_FALSE(listPlaylists(service));
  ASSERT_EQ(oauth_.tokenRequests().size(), 1u);
  ASSERT_EQ(api_.calls().size(), 1u);
  EXPECT_EQ(api_.calls()[0].headers.get("Authorization"), "Bearer ya29.access1");
  // The token request itself carried no bearer header.
  EXPECT_FALSE(oauth_.tokenRequests()[0].header("Authorization"));

  // The server stops taking the token: one 401, one refresh, one retry.
  api_.requireBearerToken("ya29.access2");
  EXPECT_FALSE(listPlaylists(service));
  EXPECT_EQ(oauth_.tokenRequests().size(), 2u);
  ASSERT_EQ(api_.calls().size(), 3u);
  EXPECT_EQ(api_.calls()[1].headers.get("Authorization"), "Bearer ya29.access1");
  EXPECT_EQ(api_.calls()[2].headers.get("Authorization"), "Bearer ya29.access2");
}

TEST_F(OAuth2DataAPITest, ARefusedRefreshTokenEndsTheCallWithItsErrorAndIsNeverSentAgain) {
  auto auth = signedInAuth();
  auth->setAccessToken("ya29.expiring");
  auth->setExpiresIn(30);
  auth->setUserEmail("a@example.com");
  auto service = ns::make<ApiServiceYouTube>();
  service->setAuthorizer(auth);
  api_.requireBearerToken("ya29.live");
  oauth_.scriptTokenReply(pltest::FakeReply::json(400, R"({"error": "invalid_grant"})"), 5);
  Notes notes({kNetOAuth2AccessTokenRefreshFailed});

  auto error = listPlaylists(service);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 400);
  EXPECT_EQ(notes.count(kNetOAuth2AccessTokenRefreshFailed), 1u);
  // The call did not go out with the token the refused grant kept alive.
  EXPECT_TRUE(api_.calls().empty());
  EXPECT_FALSE(auth->canAuthorize());
  EXPECT_FALSE(auth->refreshToken());
  EXPECT_FALSE(auth->accessToken());
  // Whose sign-in it was can still be told.
  EXPECT_EQ(auth->userEmail(), "a@example.com");

  // Later calls fail at once: the refused grant is not sent again.
  EXPECT_TRUE(listPlaylists(service));
  EXPECT_EQ(oauth_.tokenRequests().size(), 1u);
  EXPECT_TRUE(api_.calls().empty());
}

TEST_F(OAuth2DataAPITest, OtherRefreshFailuresKeepTheTokensAndTheOneStillValidIsUsed) {
  struct Case {
    int status;
    const char* body;
  };
  for (const Case& c : {Case{500, R"({"error": "backend_error"})"},
                        Case{400, R"({"error": "invalid_client"})"}, Case{400, "not json"}}) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    auto auth = signedInAuth();
    auth->setAccessToken("ya29.still-good");
    auth->setExpiresIn(30);
    auto service = ns::make<ApiServiceYouTube>();
    service->setAuthorizer(auth);
    api_.requireBearerToken("ya29.still-good");
    oauth_.scriptTokenReply(pltest::FakeReply::json(c.status, c.body));
    EXPECT_FALSE(listPlaylists(service));
    EXPECT_TRUE(auth->canAuthorize());
    EXPECT_EQ(auth->refreshToken(), "1/known");
    EXPECT_EQ(auth->accessToken(), "ya29.still-good");
  }
}

}  // namespace
