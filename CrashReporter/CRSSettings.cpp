#include "CrashReporter/CRSSettings.h"

#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/foundation/UserDefaults.h"

namespace {

constexpr double kDefaultCacheDuration = 3600;

ns::Value dictionaryOrNil(const ns::Value& value) {
  return value.isDictionary() ? value : ns::Value();
}

// Integer settings are read as the stored number's signed 32-bit value.
std::int32_t int32Value(const ns::Value& value) {
  return static_cast<std::int32_t>(value.longLongValue());
}

}  // namespace

CRSSettings::CRSSettings(std::string cachePath, ns::Dictionary dictionary)
    : cachePath_(std::move(cachePath)), dictionary_(std::move(dictionary)) {}

bool CRSSettings::isReadableAnswer(const ns::Value& answer) {
  if (!answer.isDictionary()) return false;
  const ns::Value& version = answer["settings_version"];
  return version.isNumber() && !version.isBool() && version.doubleValue() == 2;
}

ns::Ref<CRSSettings> CRSSettings::initWithCachePath(const std::string& path) {
  ns::Value plist = ns::dictionaryWithContentsOfFile(path);
  if (!isReadableAnswer(plist)) return nullptr;
  return ns::make<CRSSettings>(path, plist.dictionary());
}

bool CRSSettings::writeSettings_toPath(const ns::Value& settings, const std::string& path) {
  if (!settings.isDictionary() || path.empty()) {
    CRSDebugLog("[CrashReporter] Unable to construct settings");
    return false;
  }
  ns::Dictionary copy = settings.dictionary();
  ns::Dictionary section;
  if (copy["settings"].isDictionary()) section = copy["settings"].dictionary();
  double duration = static_cast<double>(section["cache_duration"].unsignedLongLongValue());
  if (duration == 0) duration = kDefaultCacheDuration;
  section.set("valid_until", ns::Date::dateWithTimeIntervalSinceNow(duration));
  copy.set("settings", section);
  // Written beside the old cache and renamed over it, so a failed write keeps the old one.
  ns::Error error;
  if (!ns::writePropertyListToFile_atomically(copy, path, true, &error)) {
    CRSDebugLog("[CrashReporter] Could not write settings out to %@: %@", path, ns::Value(copy));
    return false;
  }
  return true;
}

bool CRSSettings::userDesiresReportsAlwaysBeSent() {
  return ns::UserDefaults::standardUserDefaults()->boolForKey(CRSAlwaysSendCrashReportsKey);
}

void CRSSettings::setUserDesiresReportsAlwaysBeSent(bool always) {
  CRSDebugLog("[CrashReporter] [Settings] User has requested that reports %@ be sent. Recording.",
              always ? "always" : "not always");
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setBool_forKey(always, CRSAlwaysSendCrashReportsKey);
  defaults->synchronize();
}

ns::Ref<ns::URL> CRSSettings::safeURLWithString(const ns::Value& text) const {
  if (!text.isString()) return nullptr;
  return ns::URL::URLWithString(text.string());
}

const ns::Value& CRSSettings::entry(const char* section, const char* key) const {
  return dictionary_[section][key];
}

ns::Value CRSSettings::appDictionary() const {
  return dictionaryOrNil(dictionary_["app"]);
}
ns::Value CRSSettings::promptDictionary() const {
  return dictionaryOrNil(dictionary_["prompt"]);
}
ns::Value CRSSettings::iconDictionary() const {
  return dictionaryOrNil(dictionary_["app"]["icon"]);
}
ns::Value CRSSettings::settingsDictionary() const {
  return dictionaryOrNil(dictionary_["settings"]);
}
ns::Value CRSSettings::sessionDictionary() const {
  return dictionaryOrNil(dictionary_["session"]);
}
ns::Value CRSSettings::featuresDictionary() const {
  return dictionaryOrNil(dictionary_["features"]);
}
ns::Value CRSSettings::betaDictionary() const {
  return dictionaryOrNil(dictionary_["beta"]);
}
ns::Value CRSSettings::analyticsDictionary() const {
  return dictionaryOrNil(dictionary_["analytics"]);
}

bool CRSSettings::isOutdated() const {
  const ns::Value& validUntil = entry("settings", "valid_until");
  if (!validUntil.isDate()) return true;
  return !(validUntil.date().timeIntervalSinceNow() > 0);
}

std::uint64_t CRSSettings::logBufferSize() const {
  return static_cast<std::uint64_t>(
      static_cast<std::int64_t>(int32Value(entry("session", "log_buffer_size"))));
}

std::uint32_t CRSSettings::maxCustomKeyValuePairs() const {
  return static_cast<std::uint32_t>(entry("session", "max_custom_key_value_pairs").unsignedLongLongValue());
}

bool CRSSettings::shouldCollectCrashReports() const {
  ns::Value user = ns::UserDefaults::standardUserDefaults()->objectForKey(CRSShouldCollectCrashReportsKey);
  if (!user.isNil() && !user.boolValue()) return false;
  if (!shouldCollectOnPlatform()) return false;
  const ns::Value& collect = entry("settings", "collect_reports");
  if (!collect.isNil()) return collect.boolValue();
  return true;
}

ns::Ref<ns::URL> CRSSettings::reportsURL() const {
  return safeURLWithString(entry("app", "reports_url"));
}
ns::Ref<ns::URL> CRSSettings::appURL() const {
  return safeURLWithString(entry("app", "url"));
}
ns::Ref<ns::URL> CRSSettings::settingsURL() const {
  return safeURLWithString(entry("app", "settings_url"));
}

bool CRSSettings::appNeedsOnboarding() const {
  const ns::Value& status = entry("app", "status");
  return status.isString() && status.string() == "new";
}

bool CRSSettings::requiresUpdate() const {
  return entry("app", "update_required").boolValue();
}

bool CRSSettings::shouldRequestPermissionToSubmit() const {
  return entry("features", "prompt_enabled").boolValue() && !userDesiresReportsAlwaysBeSent();
}

bool CRSSettings::shouldIncludeInteractiveCancelOption() const {
  return entry("prompt", "show_cancel_button").boolValue();
}
bool CRSSettings::shouldIncludeInteractiveAlwaysSendOption() const {
  return entry("prompt", "show_always_send_button").boolValue();
}
bool CRSSettings::shouldCollectProcesess() const {
  return entry("settings", "collect_procesess").boolValue();
}

std::string CRSSettings::localizedPromptText(const char* localizationKey, const char* promptKey,
                                             const char* builtIn) const {
  const ns::Value& service = entry("prompt", promptKey);
  std::string fallback =
      service.isString() && !service.string().empty() ? service.string() : std::string(builtIn);
  return ns::Bundle::mainBundle()->localizedStringForKey_value_table(localizationKey, fallback,
                                                                     CRSLocalizationTable);
}

std::string CRSSettings::interactivePromptTitle() const {
  return localizedPromptText("CrashReporterCrashSubmissionPromptTitle", "title", "Send Crash Report?");
}
std::string CRSSettings::interactivePromptMessage() const {
  return localizedPromptText(
      "CrashReporterCrashSubmissionPromptMessage", "message",
      "Looks like we crashed! Please help us fix the problem by sending a crash report.");
}
std::string CRSSettings::interactivePromptSendTitle() const {
  return localizedPromptText("CrashReporterCrashSubmissionSendTitle", "send_button_title", "Send");
}
std::string CRSSettings::interactivePromptAlwaysSendTitle() const {
  return localizedPromptText("CrashReporterCrashSubmissionAlwaysSendTitle", "always_send_button_title",
                             "Always Send");
}
std::string CRSSettings::interactivePromptCancelTitle() const {
  return localizedPromptText("CrashReporterCrashSubmissionCancelTitle", "cancel_button_title", "Don't Send");
}

std::optional<std::string> CRSSettings::iconHash() const {
  return entry("app", "icon")["hash"].optionalString();
}

ak::Size CRSSettings::iconSize() const {
  const ns::Value& icon = dictionary_["app"]["icon"];
  const ns::Value& width = icon["width"];
  const ns::Value& height = icon["height"];
  if (width.isNil() || height.isNil()) return {0, 0};
  return {width.floatValue(), height.floatValue()};
}

bool CRSSettings::iconPrerendered() const {
  return dictionary_["app"]["icon"]["prerendered"].boolValue();
}
bool CRSSettings::shouldCollectAnalytics() const {
  return entry("features", "collect_analytics").boolValue();
}
ns::Ref<ns::URL> CRSSettings::analyticsURL() const {
  return safeURLWithString(entry("analytics", "url"));
}
bool CRSSettings::shouldFlushAnalyticsOnBackground() const {
  return entry("analytics", "flush_on_background").boolValue();
}
std::uint32_t CRSSettings::flushIntervalSecs() const {
  return static_cast<std::uint32_t>(int32Value(entry("analytics", "flush_interval_secs")));
}
std::uint32_t CRSSettings::maxFileCountPerSend() const {
  return static_cast<std::uint32_t>(int32Value(entry("analytics", "max_file_count_per_send")));
}
std::uint64_t CRSSettings::maxByteSizePerFile() const {
  return static_cast<std::uint64_t>(
      static_cast<std::int64_t>(int32Value(entry("analytics", "max_byte_size_per_file"))));
}
std::uint32_t CRSSettings::maxPendingSendFileCount() const {
  return static_cast<std::uint32_t>(int32Value(entry("analytics", "max_pending_send_file_count")));
}
ns::Ref<ns::URL> CRSSettings::betaUpdateEndpoint() const {
  return safeURLWithString(entry("beta", "update_endpoint"));
}
std::uint32_t CRSSettings::betaUpdateSuspendDurationSecs() const {
  const ns::Value& value = entry("beta", "update_suspend_duration");
  if (value.isNil()) return 3600;
  return static_cast<std::uint32_t>(int32Value(value));
}
