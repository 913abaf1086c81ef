// Authentication of a protected path, seen by raw clients and by libcurl.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "lib/http-server/Core/DataDigests.h"
#include "lib/http-server/Core/HTTPAuthenticationRequest.h"
#include "platform/testing/Pump.h"
#include "tests/lib/http-server/CurlGet.h"
#include "tests/lib/http-server/ServerFixture.h"
#include "tests/lib/http-server/TestConnection.h"

namespace httptest {
namespace {

// Protects "/secret" for user "u", password "p:q"; Basic when `basic` is set.
template <bool Basic>
class SecretConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  bool isPasswordProtected(const std::string& path) override { return path.rfind("/secret", 0) == 0; }
  bool useDigestAccessAuthentication() override { return !Basic; }
  std::string realm() override { return "test realm"; }
  std::optional<std::string> passwordForUser(const std::string& user) override {
    if (user == "u") return std::string("p:q");
    return std::nullopt;
  }
  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string&, const std::string&) override {
    return ns::make<StringResponse>("secret body");
  }
};

std::string md5Hex(const std::string& text) {
  return DataDigests::hexStringValue(DataDigests::md5Digest(ns::Data(text)));
}

std::string nonceOf(const WireResponse& response) {
  auto challenge = response.header("WWW-Authenticate").value_or("");
  return HTTPAuthenticationRequest::quotedSubHeaderFieldValue_fromHeaderFieldValue("nonce", challenge)
      .value_or("");
}

// An Authorization header for GET of `digestURI` with the given nonce and count.
std::string digestHeader(const std::string& nonce, const std::string& nc, const std::string& digestURI,
                         const std::string& password = "p:q") {
  std::string ha1 = md5Hex("u:test realm:" + password);
  std::string ha2 = md5Hex("GET:" + digestURI);
  std::string response = md5Hex(ha1 + ":" + nonce + ":" + nc + ":abcdef:auth:" + ha2);
  return "Authorization: Digest username=\"u\", realm=\"test realm\", nonce=\"" + nonce + "\", uri=\"" +
         digestURI + "\", qop=auth, nc=" + nc + ", cnonce=\"abcdef\", response=\"" + response + "\"\r\n";
}

class AuthenticationTest : public ServerFixture {
 protected:
  template <bool Basic>
  void startWith() {
    server->setConnectionClass<SecretConnection<Basic>>();
    startServer();
  }
  // A fresh nonce from a challenge.
  std::string challengeNonce(RawClient& client) {
    auto response = exchange(client, GET("/secret"));
    EXPECT_TRUE(response && response->status == 401);
    return response ? nonceOf(*response) : "";
  }
  long curlStatus(long authType, const char* userpwd) {
    return curlGet({.url = urlOf("/secret"), .authType = authType, .userpwd = userpwd});
  }
};

TEST_F(AuthenticationTest, DigestChallengeAndLibcurl) {
  startWith<false>();
  auto response = exchangeOnce(GET("/secret"));
  ASSERT_EQ(statusOf(response), 401);
  auto challenge = response->header("WWW-Authenticate").value_or("");
  EXPECT_EQ(challenge.rfind("Digest realm=\"test realm\", qop=\"auth\", nonce=\"", 0), 0u) << challenge;
  EXPECT_EQ(nonceOf(*response).size(), 36u);
  EXPECT_EQ(response->body, "");

  EXPECT_EQ(exchangeOnce(GET("/open"))->status, 200);
  EXPECT_EQ(curlStatus(CURLAUTH_DIGEST, "u:p:q"), 200);
  EXPECT_EQ(curlStatus(CURLAUTH_DIGEST, "u:wrong"), 401);
  EXPECT_EQ(curlStatus(CURLAUTH_DIGEST, "nobody:p:q"), 401);
}

TEST_F(AuthenticationTest, DigestReplayUriAndIncompleteHeaders) {
  startWith<false>();
  auto& client = connect();
  std::string nonce = challengeNonce(client);
  ASSERT_EQ(nonce.size(), 36u);
  std::string first = digestHeader(nonce, "00000001", "/secret");
  struct Case {
    std::string headers;
    int status;
  } cases[] = {
      {first, 200},
      {first, 401},  // replayed count
      {digestHeader(nonce, "00000002", "/secret"), 200},
      {digestHeader(nonce, "00000003", "/secret", "p"), 401},  // wrong password
      {digestHeader(nonce, "00000004", "/secret?x=1"), 401},   // made for another uri
      {digestHeader("F00D", "00000005", "/secret"), 401},      // never issued
      {"Authorization: Digest username=\"u\", realm=\"test realm\", nonce=\"" + nonce +
           "\", uri=\"/secret\", response=\"" + md5Hex("x") + "\"\r\n",
       401},  // no nc, cnonce, qop
      {"Authorization: Digest\r\n", 401},
  };
  for (const auto& c : cases) {
    auto response = exchange(client, GET("/secret", c.headers));
    ASSERT_EQ(statusOf(response), c.status) << c.headers;
  }
}

TEST_F(AuthenticationTest, NonceExpiresForNewConnections) {
  pltest::VirtualClock clock;
  startWith<false>();
  std::string nonce = challengeNonce(connect());
  ASSERT_EQ(nonce.size(), 36u);
  ASSERT_TRUE(HTTPConnection::hasRecentNonce(nonce));
  clock.advance(HTTPConnection::NONCE_LIFETIME - 1);
  EXPECT_TRUE(HTTPConnection::hasRecentNonce(nonce));
  EXPECT_EQ(exchange(connect(), GET("/secret", digestHeader(nonce, "00000001", "/secret")))->status, 200);
  clock.advance(2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !HTTPConnection::hasRecentNonce(nonce); }));
  EXPECT_EQ(exchange(connect(), GET("/secret", digestHeader(nonce, "00000002", "/secret")))->status, 401);
}

TEST_F(AuthenticationTest, NonceRegistryIsBounded) {
  std::string first = HTTPConnection::generateNonce();
  for (std::size_t i = 0; i < HTTPConnection::MAX_RECENT_NONCES; ++i) HTTPConnection::generateNonce();
  std::string last = HTTPConnection::generateNonce();
  EXPECT_TRUE(HTTPConnection::hasRecentNonce(last));
  EXPECT_FALSE(HTTPConnection::hasRecentNonce(first));
}

TEST_F(AuthenticationTest, Basic) {
  startWith<true>();
  auto base64 = [](const std::string& text) { return DataDigests::base64Encoded(ns::Data(text)); };
  struct Case {
    std::string headers;
    int status;
  } cases[] = {
      {"", 401},
      {"Authorization: basic " + base64("u:p:q") + "\r\n", 200},
      {"Authorization: Basic   " + base64("u:p:q") + "  \r\n", 200},
      {"Authorization: Basic " + base64("u:p") + "\r\n", 401},
      {"Authorization: Basic " + base64("up:q") + "\r\n", 401},
      {"Authorization: Basic " + base64("uonly") + "\r\n", 401},
      {"Authorization: Basic !!!\r\n", 401},
  };
  for (const auto& c : cases) {
    auto response = exchangeOnce(GET("/secret", c.headers));
    ASSERT_EQ(statusOf(response), c.status) << c.headers;
    if (c.status == 401) {
      EXPECT_EQ(response->header("WWW-Authenticate"), "Basic realm=\"test realm\"");
    }
  }
  EXPECT_EQ(curlStatus(CURLAUTH_BASIC, "u:p:q"), 200);
}

TEST(AuthenticationRequestTest, SubFieldRules) {
  struct Case {
    const char* param;
    const char* header;
    std::optional<std::string> quoted;
    std::optional<std::string> unquoted;
  } cases[] = {
      {"nonce", "Digest nonce=\"abc\", nc=1", "abc", "\"abc\""},
      {"nc", "Digest nonce=\"abc\", nc=00000001", std::nullopt, "00000001"},
      {"nc", "Digest nc=00000001 , x", std::nullopt, "00000001 "},
      {"qop", "Digest qop=auth x", std::nullopt, std::nullopt},
      {"uri", "Digest uri=\"/open", std::nullopt, "\"/open"},
      {"realm", "Digest username=\"u\"", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HTTPAuthenticationRequest::quotedSubHeaderFieldValue_fromHeaderFieldValue(c.param, c.header),
              c.quoted)
        << c.header;
    EXPECT_EQ(HTTPAuthenticationRequest::nonquotedSubHeaderFieldValue_fromHeaderFieldValue(c.param, c.header),
              c.unquoted)
        << c.header;
  }
}

}  // namespace
}  // namespace httptest
