#include "lib/google/YouTubeAuthScopes.h"

#include "lib/google/GoogleAPIConfig.h"

std::string YouTubeAuthScope() {
  return googleAPIBaseURL() + "/auth/youtube";
}
std::string YouTubeAuthScopeReadonly() {
  return googleAPIBaseURL() + "/auth/youtube.readonly";
}
std::string YouTubeAuthScopeUpload() {
  return googleAPIBaseURL() + "/auth/youtube.upload";
}
std::string YouTubeAuthScopePartner() {
  return googleAPIBaseURL() + "/auth/youtubepartner";
}
std::string YouTubeAuthScopePartnerChannelAudit() {
  return googleAPIBaseURL() + "/auth/youtubepartner-channel-audit";
}
