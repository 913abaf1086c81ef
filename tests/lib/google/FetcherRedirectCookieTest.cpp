// Redirects (scheme kept, credentials kept to their origin) and the fetcher's own cookie stores.
#include "tests/lib/google/FetcherTestSupport.h"

#include "lib/google/NetCookieStorage.h"
#include "lib/google/NetHTTPFetcherService.h"

using namespace fetchertest;
using pltest::FakeReply;

namespace {

std::optional<std::string> fetchAndTakeHeader(pltest::FakeServer& server,
                                              const ns::Ref<NetHTTPFetcher>& fetcher, const std::string& path,
                                              const std::string& header) {
  Outcome outcome;
  server.clearRequests();
  EXPECT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  EXPECT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_FALSE(outcome.error) << outcome.error->description();
  for (const auto& r : server.requests())
    if (r.path == path) return r.header(header);
  ADD_FAILURE() << "no request to " << path;
  return std::nullopt;
}

class FetcherRedirect : public FetcherTest {
 protected:
  FetcherRedirect() : FetcherTest({"localhost", "127.0.0.1", "api.example.test", "other.example.test"}) {
    server_.serveAs("api.example.test");
    server_.serveAs("other.example.test");
    server_.serveAs("api.example.test", server_.port());
  }
};

TEST_F(FetcherRedirect, ARedirectToHttpIsFollowedAsHttps) {
  std::string plainTarget = "http://127.0.0.1:" + std::to_string(server_.port()) + "/b";
  server_.canned("GET", "/a", FakeReply::redirect(302, plainTarget));
  server_.canned("GET", "/b", FakeReply::text(200, "b"));
  auto fetcher = fetcherFor("/a");
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.body(), "b");
  EXPECT_EQ(fetcher->response()->URL()->absoluteString(), url("/b"));
  EXPECT_EQ(fetcher->mutableRequest()->URL()->scheme(), "https");
  EXPECT_EQ(fetcher->redirectedFromURL()->absoluteString(), url("/a"));
}

struct RedirectCase {
  std::string name;
  std::string start;
  std::string target;
  bool keepsAuthorization;
};

TEST_F(FetcherRedirect, AuthorizationStaysWithItsOrigin) {
  std::vector<RedirectCase> cases = {
      {"same host", "https://api.example.test/same", "https://api.example.test/landing", true},
      {"other host", "https://api.example.test/away", "https://other.example.test/landing", false},
      {"other port", "https://api.example.test/port",
       "https://api.example.test:" + std::to_string(server_.port()) + "/landing", false},
  };
  server_.route("GET", "/landing", [](const pltest::FakeRequest& r) {
    return FakeReply::text(200, r.header("Authorization").value_or("none"));
  });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto start = ns::URL::URLWithString(c.start);
    server_.canned("GET", start->path(), FakeReply::redirect(302, c.target));
    auto fetcher = NetHTTPFetcher::fetcherWithURL(start);
    fetcher->mutableRequest()->setValue_forHTTPHeaderField("Bearer secret", "Authorization");
    Outcome outcome;
    ASSERT_TRUE(fetchToEnd(fetcher, outcome));
    ASSERT_FALSE(outcome.error) << outcome.error->description();
    EXPECT_EQ(outcome.body(), c.keepsAuthorization ? "Bearer secret" : "none");
  }
}

class FetcherCookies : public FetcherTest {
 protected:
  FetcherCookies() : FetcherTest({"localhost", "127.0.0.1", "ample.test", "example.test"}) {
    server_.serveAs("ample.test");
    server_.serveAs("example.test");
    server_.canned("GET", "/a", FakeReply::text(200, "set").header("Set-Cookie", "s=1; Path=/"));
    server_.canned("GET", "/b", FakeReply::text(200, "b"));
    server_.canned("GET", "/domain",
                   FakeReply::text(200, "set").header("Set-Cookie", "d=1; Domain=ample.test; Path=/"));
    server_.canned("GET", "/expire",
                   FakeReply::text(200, "gone")
                       .header("Set-Cookie", "s=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT"));
  }
};

TEST_F(FetcherCookies, FetchHistoryCookiesStayWithTheirService) {
  auto service = ns::make<NetHTTPFetcherService>();
  auto otherService = ns::make<NetHTTPFetcherService>();
  EXPECT_EQ(service->cookieStorageMethod(), CookieStorageMethodFetchHistory);
  fetchAndTakeHeader(server_, service->fetcherWithURLString(url("/a")), "/a", "Cookie");

  EXPECT_EQ(fetchAndTakeHeader(server_, service->fetcherWithURLString(url("/b")), "/b", "Cookie"), "s=1");
  EXPECT_EQ(fetchAndTakeHeader(server_, otherService->fetcherWithURLString(url("/b")), "/b", "Cookie"),
            std::nullopt);

  auto none = service->fetcherWithURLString(url("/a"));
  none->setCookieStorageMethod(CookieStorageMethodNone);
  EXPECT_EQ(fetchAndTakeHeader(server_, none, "/a", "Cookie"), std::nullopt);
  auto noneAgain = service->fetcherWithURLString(url("/b"));
  noneAgain->setCookieStorageMethod(CookieStorageMethodNone);
  EXPECT_EQ(fetchAndTakeHeader(server_, noneAgain, "/b", "Cookie"), std::nullopt);

  // A server's expired cookie deletes the stored one.
  fetchAndTakeHeader(server_, service->fetcherWithURLString(url("/expire")), "/expire", "Cookie");
  EXPECT_EQ(fetchAndTakeHeader(server_, service->fetcherWithURLString(url("/b")), "/b", "Cookie"),
            std::nullopt);
  EXPECT_TRUE(service->fetchHistory()->cookieStorage()->cookies().empty());
}

TEST_F(FetcherCookies, ADomainCookieDoesNotReachAHostThatMerelyEndsWithIt) {
  auto service = ns::make<NetHTTPFetcherService>();
  fetchAndTakeHeader(server_, service->fetcherWithURLString("https://ample.test/domain"), "/domain",
                     "Cookie");
  EXPECT_EQ(
      fetchAndTakeHeader(server_, service->fetcherWithURLString("https://example.test/b"), "/b", "Cookie"),
      std::nullopt);
  EXPECT_EQ(
      fetchAndTakeHeader(server_, service->fetcherWithURLString("https://ample.test/b"), "/b", "Cookie"),
      "d=1");
}

TEST_F(FetcherCookies, SystemMethodLeavesCookiesToTheURLLoader) {
  auto service = ns::make<NetHTTPFetcherService>();
  service->setCookieStorageMethod(CookieStorageMethodSystem);
  auto fetcher = service->fetcherWithURLString("https://ample.test/a");
  EXPECT_TRUE(fetcher->mutableRequest()->HTTPShouldHandleCookies());
  fetchAndTakeHeader(server_, fetcher, "/a", "Cookie");
  EXPECT_TRUE(service->fetchHistory()->cookieStorage()->cookies().empty());
}

ns::Ref<ns::HTTPCookie> cookie(const std::string& name, const std::string& domain, const std::string& path,
                               bool secure = false, std::optional<double> expiresIn = std::nullopt) {
  ns::HTTPCookie::Fields f;
  f.name = name;
  f.value = "v";
  f.domain = domain;
  f.path = path;
  f.secure = secure;
  if (expiresIn) f.expiresDate = ns::Date::now().dateByAddingTimeInterval(*expiresIn);
  return ns::make<ns::HTTPCookie>(f);
}

struct MatchCase {
  std::string url;
  std::vector<std::string> names;
};

TEST(NetCookieStorageMatching, DomainPathAndSecureRules) {
  pltest::Sandbox sandbox;
  auto store = ns::make<NetCookieStorage>();
  store->setCookies({cookie("dot", ".example.test", "/"), cookie("host", "www.example.test", "/"),
                     cookie("tail", ".ample.test", "/"), cookie("path", "www.example.test", "/a"),
                     cookie("secure", "www.example.test", "/", true), cookie("local", "localhost", "/")});
  std::vector<MatchCase> cases = {
      {"https://www.example.test/", {"dot", "host", "secure"}},
      {"http://www.example.test/", {"dot", "host"}},
      {"https://deep.www.example.test/", {"dot"}},
      {"https://example.test/", {"dot"}},
      {"https://ample.test/", {"tail"}},
      {"https://www.example.test/a/b", {"dot", "host", "path", "secure"}},
      {"https://www.example.test/abc", {"dot", "host", "secure"}},
      {"https://www.example.test/b", {"dot", "host", "secure"}},
      {"http://localhost/", {"local"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names;
    for (const auto& found : store->cookiesForURL(ns::URL::URLWithString(c.url)))
      names.push_back(found->name());
    EXPECT_EQ(names, c.names) << c.url;
  }
}

TEST(NetCookieStorageMatching, ReplacementExpiryAndDeletion) {
  pltest::Sandbox sandbox;
  auto store = ns::make<NetCookieStorage>();
  store->setCookies({cookie("a", "h.test", "/"), cookie("b", "h.test", "/", false, 100)});
  store->setCookies({cookie("a", "h.test", "/")});
  EXPECT_EQ(store->cookies().size(), 2u) << "same name, domain and path replaces";
  store->setCookies({cookie("b", "h.test", "/", false, -1)});
  EXPECT_EQ(store->cookies().size(), 1u) << "an expired twin deletes";
  EXPECT_FALSE(store->cookieMatchingCookie(cookie("b", "h.test", "/")));
  store->setCookies({cookie("", "h.test", "/"), cookie("x", "", "/")});
  EXPECT_EQ(store->cookies().size(), 1u) << "nameless or domainless cookies are not kept";
  store->deleteCookie(cookie("a", "h.test", "/"));
  EXPECT_TRUE(store->cookies().empty());
}

}  // namespace
