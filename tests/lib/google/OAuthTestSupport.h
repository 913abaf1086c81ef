#pragma once
// Helpers of the sign-in tests: the fake identity provider under its provider-looking names, the
// endpoints aimed at it, and a record of notifications.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/google/NetOAuth2Authentication.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/google/NotificationLog.h"
#include "tests/support/FakeOAuthServer.h"

namespace oauthtest {

constexpr double kWait = 30;

using Notes = googletest::NotificationLog;

// Aims the sign-in endpoints at the fake provider (until NetOAuth2SetEndpoints(std::nullopt)).
inline void aimEndpointsAt(const testsupport::FakeOAuthServer& oauth) {
  NetOAuth2SetEndpoints(NetOAuth2Endpoints{oauth.authorizationURL(), oauth.tokenURL(), oauth.revocationURL(),
                                           oauth.userInfoURL(), oauth.apiURL(""), "example.test"});
}

// A sandbox and the fake provider answering for its hosts, with the sign-in endpoints aimed at it.
class OAuthTest : public testing::Test {
 protected:
  OAuthTest() {
    oauth_.serveAsProviderHosts();
    aimEndpointsAt(oauth_);
  }
  ~OAuthTest() override { NetOAuth2SetEndpoints(std::nullopt); }

  ns::Ref<NetOAuth2Authentication> makeAuth(const std::optional<std::string>& scope = "s1") const {
    return NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(
        scope, oauth_.options().clientID, oauth_.options().clientSecret);
  }
  // An authorizer holding a refresh token the provider knows.
  ns::Ref<NetOAuth2Authentication> signedInAuth(const std::string& refreshToken = "1/known") {
    oauth_.addRefreshToken(refreshToken);
    auto auth = makeAuth();
    auth->setRefreshToken(refreshToken);
    return auth;
  }
  static ns::Ref<ns::URLRequest> requestFor(const std::string& url) {
    return ns::URLRequest::requestWithURL(ns::URL::URLWithString(url));
  }
  // The decoded form fields of a recorded request.
  static std::string field(const pltest::FakeRequest& r, const std::string& name) {
    auto it = r.params.find(name);
    return it == r.params.end() ? std::string("<absent>") : it->second;
  }

  pltest::Sandbox sandbox_;
  testsupport::FakeOAuthServer oauth_;
};

}  // namespace oauthtest
