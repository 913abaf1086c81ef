#pragma once
// A sign-in kept as an earlier run of `pelorin` left it: the next launch (in this process or a
// child started in the same sandbox) restores it and refreshes its token at the fake identity
// provider.
#include <string>

#include "tests/support/FakeOAuthServer.h"

namespace testsupport {

// The provider's client id and secret in the settings, `refreshToken` known to the provider, and
// the account `email` with it in the keychain. False when the keychain refused it.
bool keepSignIn(FakeOAuthServer& oauth, const std::string& email, const std::string& refreshToken = "1/kept");
// Whether the keychain holds a sign-in under the application's item.
bool keychainHoldsSignIn();

}  // namespace testsupport
