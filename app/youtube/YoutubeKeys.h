#pragma once
// The credentials the application presents to the Data API and the OAuth 2.0 service: our own
// built-in values, each overridden by a non-empty user-defaults string. Safe from any thread.
#include <string>

inline constexpr char kDeveloperKeySettingKey[] = "y_dk";
inline constexpr char kOAuthClientIDSettingKey[] = "y_ci";
inline constexpr char kOAuthClientSecretSettingKey[] = "y_cs";

// The built-in values.
inline constexpr char kBuiltInAPIDeveloperKey[] = "PelorinDataApiKey-7f3c9a2e51d84b06";
inline constexpr char kBuiltInOAuthClientID[] = "418305526718-pelorin.apps.googleusercontent.com";
inline constexpr char kBuiltInOAuthClientSecret[] = "PelorinClientSecret-c1e84d5b";

// "y_dk" when set and non-empty, else the built-in key.
std::string getAPIDeveloperKey();
// "y_ci" when set and non-empty, else the built-in client id.
std::string getOAuthClientID();
// "y_cs" when set and non-empty, else the built-in secret.
std::string getOAuthClientSecret();
