#include <gtest/gtest.h>

#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"

using namespace ns;

namespace {

std::vector<Ref<HTTPCookie>> parse(std::initializer_list<std::string> lines, const char* url) {
  return HTTPCookie::cookiesWithSetCookieLines_forURL(std::vector<std::string>(lines),
                                                      URL::URLWithString(url));
}

std::string cookieHeader(const HTTPCookieStorage& store, const char* url) {
  return HTTPCookie::requestHeaderFieldsWithCookies(store.cookiesForURL(URL::URLWithString(url)))
      .get("Cookie")
      .value_or("");
}

}  // namespace

TEST(HTTPCookie, ParsesAttributes) {
  auto cookies = parse(
      {"sid=abc; Domain=.Example.Test; Path=/app; Secure; HttpOnly; Expires=Wed, 09 Jun 2055 10:18:14 GMT",
       "plain=1"},
      "https://www.example.test/app/page");
  ASSERT_EQ(cookies.size(), 2u);
  const auto& sid = *cookies[0];
  EXPECT_EQ(sid.name(), "sid");
  EXPECT_EQ(sid.value(), "abc");
  EXPECT_EQ(sid.domain(), ".example.test");
  EXPECT_EQ(sid.path(), "/app");
  EXPECT_TRUE(sid.isSecure());
  EXPECT_TRUE(sid.isHTTPOnly());
  ASSERT_TRUE(sid.expiresDate());
  EXPECT_EQ(sid.expiresDate()->timeIntervalSince1970(), 2696149094.0);
  EXPECT_FALSE(sid.isSessionOnly());

  const auto& plain = *cookies[1];
  EXPECT_EQ(plain.domain(), "www.example.test") << "host-only";
  EXPECT_EQ(plain.path(), "/app") << "the folder of the request path";
  EXPECT_TRUE(plain.isSessionOnly());

  // A joined header (repeated fields folded with commas) splits at cookie boundaries only.
  HTTPHeaderFields joined;
  joined.add("Set-Cookie", "a=1; Expires=Thu, 01 Jan 2060 00:00:00 GMT");
  joined.add("Set-Cookie", "b=2");
  auto both =
      HTTPCookie::cookiesWithResponseHeaderFields_forURL(joined, URL::URLWithString("http://h.test/"));
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0]->name(), "a");
  EXPECT_TRUE(both[0]->expiresDate());
  EXPECT_EQ(both[1]->name(), "b");

  EXPECT_EQ(HTTPCookie::parseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT")->timeIntervalSince1970(),
            784111777.0);
  EXPECT_EQ(HTTPCookie::parseCookieDate("Sun Nov  6 08:49:37 1994")->timeIntervalSince1970(), 784111777.0);
  EXPECT_FALSE(HTTPCookie::parseCookieDate("tomorrow"));
}

TEST(HTTPCookie, RefusesCookiesForOtherSitesAndMalformedLines) {
  EXPECT_TRUE(parse({"a=1; Domain=evil.test"}, "http://www.example.test/").empty());
  EXPECT_TRUE(parse({"a=1; Domain=test"}, "http://www.example.test/").empty()) << "a bare top-level name";
  EXPECT_TRUE(parse({"a=1; Domain=ample.test"}, "http://www.example.test/").empty())
      << "suffix but no dot boundary";
  EXPECT_TRUE(parse({"noequals"}, "http://h.test/").empty());
  EXPECT_TRUE(parse({"=novalue"}, "http://h.test/").empty());
  EXPECT_TRUE(parse({"a=1"}, "file:///tmp/x").empty()) << "no host";
  EXPECT_EQ(parse({"a=1; Max-Age=0"}, "http://h.test/")[0]->isExpiredAt(Date::now()), true);
  EXPECT_FALSE(
      parse({"a=1; Max-Age=100; Expires=Thu, 01 Jan 1970 00:00:00 GMT"}, "http://h.test/")[0]->isExpiredAt(
          Date::now()))
      << "Max-Age wins over Expires";
}

TEST(HTTPCookieStorage, SendsCookiesOnlyWhereDomainPathAndSchemeAllow) {
  auto store = make<HTTPCookieStorage>();
  auto url = URL::URLWithString("https://www.example.test/app/x");
  for (const auto& c : parse({"dom=1; Domain=example.test; Path=/", "host=2; Path=/", "deep=3; Path=/app/x",
                              "sec=4; Secure; Path=/"},
                             "https://www.example.test/app/x"))
    store->setCookie(c);
  EXPECT_EQ(cookieHeader(*store, "https://www.example.test/app/x/y"), "deep=3; dom=1; host=2; sec=4")
      << "longer paths first";
  EXPECT_EQ(cookieHeader(*store, "http://www.example.test/"), "dom=1; host=2") << "secure only over https";
  EXPECT_EQ(cookieHeader(*store, "https://api.example.test/"), "dom=1")
      << "a domain cookie reaches the subdomain";
  EXPECT_EQ(cookieHeader(*store, "https://example.test/"), "dom=1");
  EXPECT_EQ(cookieHeader(*store, "https://notexample.test/"), "");
  EXPECT_EQ(cookieHeader(*store, "https://www.example.test.evil/"), "");
  EXPECT_EQ(cookieHeader(*store, "https://www.example.test/application"), "dom=1; host=2; sec=4")
      << "/app/x must not match /application";

  // Replacing and deleting by name, domain and path.
  for (const auto& c : parse({"host=new; Path=/"}, "https://www.example.test/")) store->setCookie(c);
  EXPECT_EQ(cookieHeader(*store, "http://www.example.test/"), "dom=1; host=new");
  for (const auto& c : parse({"host=gone; Path=/; Max-Age=0"}, "https://www.example.test/"))
    store->setCookie(c);
  EXPECT_EQ(cookieHeader(*store, "http://www.example.test/"), "dom=1")
      << "an expired cookie deletes the stored one";
  EXPECT_EQ(store->cookies().size(), 3u);

  store->setCookieAcceptPolicy(HTTPCookieAcceptPolicyNever);
  store->setCookies_forURL_mainDocumentURL(parse({"n=1"}, "http://other.test/"),
                                           URL::URLWithString("http://other.test/"), nullptr);
  EXPECT_EQ(cookieHeader(*store, "http://other.test/"), "");
  store->setCookieAcceptPolicy(HTTPCookieAcceptPolicyOnlyFromMainDocumentDomain);
  store->setCookies_forURL_mainDocumentURL(parse({"third=1; Domain=ads.test"}, "http://x.ads.test/"),
                                           URL::URLWithString("http://x.ads.test/"),
                                           URL::URLWithString("http://site.test/"));
  EXPECT_EQ(cookieHeader(*store, "http://x.ads.test/"), "") << "a third-party cookie is refused";
  store->setCookies_forURL_mainDocumentURL(parse({"first=1"}, "http://site.test/"),
                                           URL::URLWithString("http://site.test/"),
                                           URL::URLWithString("http://site.test/page"));
  EXPECT_EQ(cookieHeader(*store, "http://site.test/"), "first=1");
  store->removeAllCookies();
  EXPECT_TRUE(store->cookies().empty());
}

TEST(HTTPCookie, PropertiesRoundTrip) {
  auto cookie = HTTPCookie::cookieWithProperties(Dictionary{{HTTPCookieName, "n"},
                                                            {HTTPCookieValue, "v"},
                                                            {HTTPCookieOriginURL, "http://Host.Test/a"},
                                                            {HTTPCookiePath, "/"},
                                                            {HTTPCookieSecure, "TRUE"}});
  ASSERT_TRUE(cookie);
  EXPECT_EQ(cookie->domain(), "host.test");
  EXPECT_TRUE(cookie->isSecure());
  auto again = HTTPCookie::cookieWithProperties(cookie->properties());
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->isEqual(cookie.get()));
  EXPECT_FALSE(HTTPCookie::cookieWithProperties(Dictionary{{HTTPCookieName, "n"}, {HTTPCookieValue, "v"}}))
      << "no domain and no origin";
}
