#pragma once
// A sign-in kept in the keychain as the sign-in sheet keeps it, for tests that start signed in:
// the refresh token "1/kept", which the fake identity provider then takes, the e-mail and the
// user id "77", under the keychain item "Pelorin".
#include <gtest/gtest.h>

#include <string>

#include "app/library/AccountSession.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/security/Keychain.h"
#include "tests/support/FakeOAuthServer.h"

namespace testsupport {

inline void keepSignIn(FakeOAuthServer& oauth, const std::string& email) {
  oauth.addRefreshToken("1/kept");
  auto auth = NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(
      YouTubeAuthScope(), oauth.options().clientID, oauth.options().clientSecret);
  auth->setRefreshToken("1/kept");
  auth->setUserEmail(email);
  auth->setUserID("77");
  ASSERT_TRUE(NetOAuth2WindowController::saveAuthToKeychainForName_authentication(kKeychainItemName, auth));
}

inline bool keychainHoldsSignIn() {
  return sec::Keychain::defaultKeychain().findGenericPassword(
             kKeychainItemName, "OAuth", static_cast<std::string*>(nullptr)) == sec::errSecSuccess;
}

}  // namespace testsupport
