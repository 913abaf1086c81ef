#pragma once
// Where the identity provider is reached: its four OAuth 2.0 endpoints, the host the user-info
// scopes are URLs on, and the domain whose hosts count as the provider's own (the sign-in flow
// fetches the account's e-mail only from an authorization host inside it). One process-wide
// setting; tests aim it at a local fake.
#include <optional>
#include <string>

struct NetOAuth2Endpoints {
  std::string authorizationURL;
  std::string tokenURL;
  std::string revocationURL;
  std::string userInfoURL;
  std::string scopeHost;
  std::string providerDomain;
};

// The base of the four OAuth 2.0 endpoints when set and non-empty (for a local fake, say).
inline constexpr char kOAuthURLEnvironmentKey[] = "PELORIN_OAUTH_URL";

// The provider's built-in endpoints (the first three on PELORIN_OAUTH_URL when set, whose host is
// then the provider's domain); the user-info endpoint and the scopes are on the configured API
// host (GoogleAPIConfig.h).
NetOAuth2Endpoints NetOAuth2DefaultEndpoints();
// The endpoints in use: those set last, else the built-in ones.
NetOAuth2Endpoints NetOAuth2CurrentEndpoints();
// Nothing restores the built-in endpoints.
void NetOAuth2SetEndpoints(std::optional<NetOAuth2Endpoints> endpoints);
