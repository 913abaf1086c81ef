#pragma once
// The crash-reporting service's settings: the dictionary it answered, cached in "settings.plist"
// with an expiry time, and one typed accessor per setting with its default. Immutable; a new
// load replaces the whole object.
#include <cstdint>
#include <string>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/URL.h"

class CRSSettings : public ns::Object {
 public:
  CRSSettings(std::string cachePath, ns::Dictionary dictionary);
  // The cached settings, or nullptr when the file is no dictionary or its settings_version is not 2.
  static ns::Ref<CRSSettings> initWithCachePath(const std::string& path);
  // Whether an answer is settings this version reads: a dictionary whose settings_version is 2.
  static bool isReadableAnswer(const ns::Value& answer);
  static ns::Ref<CRSSettings> initWithCachePath_settingsDictionary(std::string path,
                                                                   ns::Dictionary dictionary) {
    return ns::make<CRSSettings>(std::move(path), std::move(dictionary));
  }

  // Writes the dictionary with "settings" → "valid_until" set to now + "cache_duration" (3600 s
  // when absent or 0). The old cache stays until the new one replaces it whole.
  static bool writeSettings_toPath(const ns::Value& settings, const std::string& path);

  static bool userDesiresReportsAlwaysBeSent();
  static void setUserDesiresReportsAlwaysBeSent(bool always);

  const std::string& cachePath() const { return cachePath_; }
  const ns::Dictionary& dictionary() const { return dictionary_; }

  ns::Ref<ns::URL> safeURLWithString(const ns::Value& text) const;

  ns::Value appDictionary() const;
  ns::Value promptDictionary() const;
  ns::Value iconDictionary() const;
  ns::Value settingsDictionary() const;
  ns::Value sessionDictionary() const;
  ns::Value featuresDictionary() const;
  ns::Value betaDictionary() const;
  ns::Value analyticsDictionary() const;

  bool isOutdated() const;
  std::uint64_t logBufferSize() const;
  std::uint32_t maxCustomKeyValuePairs() const;
  bool shouldSubmitSynchronously() const { return false; }
  bool shouldCollectOnPlatform() const { return true; }
  bool shouldCollectCrashReports() const;
  ns::Ref<ns::URL> reportsURL() const;
  ns::Ref<ns::URL> appURL() const;
  ns::Ref<ns::URL> settingsURL() const;
  bool appNeedsOnboarding() const;
  bool requiresUpdate() const;
  bool shouldRequestPermissionToSubmit() const;
  bool shouldIncludeInteractiveCancelOption() const;
  bool shouldIncludeInteractiveAlwaysSendOption() const;
  bool shouldCollectProcesess() const;
  std::string interactivePromptTitle() const;
  std::string interactivePromptMessage() const;
  std::string interactivePromptSendTitle() const;
  std::string interactivePromptAlwaysSendTitle() const;
  std::string interactivePromptCancelTitle() const;
  std::optional<std::string> iconHash() const;
  ak::Size iconSize() const;
  bool iconPrerendered() const;
  bool shouldCollectAnalytics() const;
  ns::Ref<ns::URL> analyticsURL() const;
  bool shouldFlushAnalyticsOnBackground() const;
  std::uint32_t flushIntervalSecs() const;
  std::uint32_t maxFileCountPerSend() const;
  std::uint64_t maxByteSizePerFile() const;
  std::uint32_t maxPendingSendFileCount() const;
  ns::Ref<ns::URL> betaUpdateEndpoint() const;
  std::uint32_t betaUpdateSuspendDurationSecs() const;

  std::string className() const override { return "CRSSettings"; }

 private:
  const ns::Value& entry(const char* section, const char* key) const;
  std::string localizedPromptText(const char* localizationKey, const char* promptKey,
                                  const char* builtIn) const;

  std::string cachePath_;
  ns::Dictionary dictionary_;
};
