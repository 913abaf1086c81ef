#pragma once
// Where search suggestions come from. PELORIN_SUGGEST_URL overrides the built-in service (for a
// local fake, say); the wire format is in PROTOCOLS.md.
#include <cstddef>
#include <string>

inline constexpr char kSuggestServiceURLEnvironmentKey[] = "PELORIN_SUGGEST_URL";
inline constexpr char kBuiltInSuggestServiceURL[] =
    "https://suggestqueries.google.com/complete/search?client=firefox&ds=yt";

// Seconds of quiet typing before the service is asked, on ns::Clock.
inline constexpr double kSuggestDelay = 0.3;
// Seconds a request may take.
inline constexpr double kSuggestRequestTimeout = 30;
// The largest reply read; a longer one gives no suggestions.
inline constexpr std::size_t kSuggestMaxReplyBytes = 256 * 1024;

// PELORIN_SUGGEST_URL when set and non-empty, else the built-in URL. Read at each call.
std::string suggestServiceURL();
// The request URL for the text: the service URL with the text added as the query value "q".
std::string suggestRequestURL(const std::string& text);
