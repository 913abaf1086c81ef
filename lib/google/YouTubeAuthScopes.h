#pragma once
// The authorization scopes of the YouTube Data API: URLs on the configured API host
// (GoogleAPIConfig.h), so that sign-in against a local fake asks for scopes on that host.
#include <string>

// Read and write access to the account; the scope the application signs in with.
std::string YouTubeAuthScope();
// "<host>/auth/youtube.readonly".
std::string YouTubeAuthScopeReadonly();
// "<host>/auth/youtube.upload".
std::string YouTubeAuthScopeUpload();
// "<host>/auth/youtubepartner".
std::string YouTubeAuthScopePartner();
// "<host>/auth/youtubepartner-channel-audit".
std::string YouTubeAuthScopePartnerChannelAudit();
