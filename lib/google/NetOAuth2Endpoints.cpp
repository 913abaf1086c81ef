#include "lib/google/NetOAuth2Endpoints.h"

#include <cstdlib>
#include <mutex>

#include "lib/google/GoogleAPIConfig.h"
#include "platform/core/NoDestructor.h"
#include "platform/net/URL.h"

namespace {

constexpr char kAccountsURL[] = "https://accounts.google.com";
constexpr char kProviderDomain[] = "google.com";

struct Slot {
  std::mutex lock;
  std::optional<NetOAuth2Endpoints> endpoints;
};

Slot& slot() {
  static ns::NoDestructor<Slot> instance;
  return *instance;
}

}  // namespace

NetOAuth2Endpoints NetOAuth2DefaultEndpoints() {
  std::string api = googleAPIBaseURL();
  std::string accounts = kAccountsURL;
  std::string domain = kProviderDomain;
  if (const char* configured = std::getenv(kOAuthURLEnvironmentKey); configured && *configured) {
    accounts = configured;
    while (!accounts.empty() && accounts.back() == '/') accounts.pop_back();
    // The configured provider is the provider: its host is the one whose sign-in gets the
    // account's e-mail.
    auto url = ns::URL::URLWithString(accounts);
    domain = url ? url->host().value_or("") : std::string();
  }
  return {accounts + "/o/oauth2/auth",
          accounts + "/o/oauth2/token",
          accounts + "/o/oauth2/revoke",
          api + "/oauth2/v3/userinfo",
          api,
          domain};
}

NetOAuth2Endpoints NetOAuth2CurrentEndpoints() {
  std::lock_guard guard(slot().lock);
  return slot().endpoints ? *slot().endpoints : NetOAuth2DefaultEndpoints();
}

void NetOAuth2SetEndpoints(std::optional<NetOAuth2Endpoints> endpoints) {
  std::lock_guard guard(slot().lock);
  slot().endpoints = std::move(endpoints);
}
