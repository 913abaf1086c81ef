#include "tests/support/KeptSignIn.h"

#include "app/library/AccountSession.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/Settings.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/security/Keychain.h"

namespace testsupport {

bool keepSignIn(FakeOAuthServer& oauth, const std::string& email, const std::string& refreshToken) {
  setStringSetting(kOAuthClientIDSettingKey, oauth.options().clientID);
  setStringSetting(kOAuthClientSecretSettingKey, oauth.options().clientSecret);
  oauth.addRefreshToken(refreshToken);
  auto auth = NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(
      YouTubeAuthScope(), oauth.options().clientID, oauth.options().clientSecret);
  auth->setRefreshToken(refreshToken);
  auth->setUserEmail(email);
  auth->setUserID("77");
  return NetOAuth2WindowController::saveAuthToKeychainForName_authentication(kKeychainItemName, auth);
}

bool keychainHoldsSignIn() {
  return sec::Keychain::defaultKeychain().findGenericPassword(
             kKeychainItemName, "OAuth", static_cast<std::string*>(nullptr)) == sec::errSecSuccess;
}

}  // namespace testsupport
