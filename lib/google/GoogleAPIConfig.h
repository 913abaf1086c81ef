#pragma once
// Where the provider's API host is reached: the Data API's endpoints and the authorization scopes
// are URLs on it. PELORIN_GOOGLE_API_URL overrides the built-in host (for a local fake, say).
#include <string>

inline constexpr char kGoogleAPIURLEnvironmentKey[] = "PELORIN_GOOGLE_API_URL";
inline constexpr char kBuiltInGoogleAPIURL[] = "https://www.googleapis.com";

// PELORIN_GOOGLE_API_URL when set and non-empty, else the built-in URL; without a trailing "/".
// Read at each call.
std::string googleAPIBaseURL();
