#include "app/youtube/YoutubeKeys.h"

#include "common/Settings.h"

namespace {

std::string settingOr(const char* key, const char* builtIn) {
  std::string value = getStringSetting(key);
  return value.empty() ? std::string(builtIn) : value;
}

}  // namespace

std::string getAPIDeveloperKey() {
  return settingOr(kDeveloperKeySettingKey, kBuiltInAPIDeveloperKey);
}
std::string getOAuthClientID() {
  return settingOr(kOAuthClientIDSettingKey, kBuiltInOAuthClientID);
}
std::string getOAuthClientSecret() {
  return settingOr(kOAuthClientSecretSettingKey, kBuiltInOAuthClientSecret);
}
