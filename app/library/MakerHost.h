#pragma once
// Where the maker's web service is reached: its host and optional port, without a scheme, so
// that each request keeps the scheme its own interface uses (the feed-category list is plain
// HTTP, the log call HTTPS). PELORIN_MAKER_HOST overrides the built-in host (for a local fake).
#include <string>

inline constexpr char kMakerHostEnvironmentKey[] = "PELORIN_MAKER_HOST";
inline constexpr char kBuiltInMakerHost[] = "www.ordel42.com";

// PELORIN_MAKER_HOST when set and non-empty, else the built-in host ("host" or "host:port").
// Read at each call.
std::string makerHost();
