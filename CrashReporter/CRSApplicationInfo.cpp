#include "CrashReporter/CRSApplicationInfo.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "platform/core/Date.h"
#include "platform/core/Format.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"

namespace {

std::string bundleString(const char* key) {
  ns::Value value = ns::Bundle::mainBundle()->objectForInfoDictionaryKey(key);
  return value.isString() ? value.string() : std::string();
}

bool bundleBool(const char* key) {
  ns::Value value = ns::Bundle::mainBundle()->objectForInfoDictionaryKey(key);
  if (value.isNumber()) return value.boolValue();
  if (value.isString()) return value.string() == "YES" || value.string() == "true" || value.string() == "1";
  return false;
}

const CRSContext* readyContext() {
  return CRSContextIsInitialized() ? CRSContextGet() : nullptr;
}

std::vector<std::string> split(const char* text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ':');) parts.push_back(part);
  return parts;
}

std::string withoutQuotes(std::string text) {
  std::erase_if(text, [](char c) { return c == '\\' || c == '"'; });
  return text;
}

// Fixed salt of the event keys.
constexpr char kEventSalt[] = "q7Lm2Vx9Rt4Kc8Np3Wz6Hd1Jf5Gs0Yb7Ua2Xe9Qr4Tn6Mk8Pw3Zl1Vc5Bh0Dj2Fy";

}  // namespace

std::string CRSApplicationBundleIdentifier() {
  std::string identifier = bundleString(ns::kCFBundleIdentifierKey);
  if (identifier.empty()) identifier = ns::Bundle::mainBundle()->bundleIdentifier().value_or("");
  std::replace(identifier.begin(), identifier.end(), '/', '_');
  return identifier;
}

std::string CRSApplicationBundleVersion() {
  std::string version = bundleString(ns::kCFBundleVersionKey);
  return version.empty() ? "0" : version;
}

std::string CRSApplicationShortBundleVersion() {
  std::string version = bundleString("CFBundleShortVersionString");
  return version.empty() ? "0.0" : version;
}

std::string CRSApplicationName() {
  std::string name = bundleString("CFBundleDisplayName");
  if (name.empty()) name = bundleString(ns::kCFBundleNameKey);
  if (name.empty()) name = CRSApplicationBundleVersion();
  return name;
}

std::optional<std::map<std::string, std::string>> CRSExecutableSlices() {
  const CRSContext* context = readyContext();
  if (!context || !context->executable.sliceArchitectures || !context->executable.sliceUUIDs)
    return std::nullopt;
  auto archs = split(context->executable.sliceArchitectures);
  auto uuids = split(context->executable.sliceUUIDs);
  if (archs.size() != uuids.size()) return std::nullopt;
  std::map<std::string, std::string> slices;
  for (std::size_t i = 0; i < archs.size(); ++i) slices[archs[i]] = uuids[i];
  return slices;
}

std::string CRSExecutableMinimumSDKVersion() {
  const CRSContext* context = readyContext();
  return context && context->executable.minimumOSVersion ? context->executable.minimumOSVersion : "0.0.0";
}

std::string CRSExecutableBuiltSDKVersion() {
  const CRSContext* context = readyContext();
  return context && context->executable.sdkVersion ? context->executable.sdkVersion : "0.0.0";
}

std::uint32_t CRSApplicationDeliveryMechanism() {
  const CRSContext* context = readyContext();
  if (!context) return 0;
  if (context->executable.encrypted) return 4;
  return CRSApplicationSignedForDistribution() ? 3 : 1;
}

bool CRSApplicationSignedForDistribution() {
  return bundleBool("CrashReporterSignedForDistribution");
}

bool CRSApplicationIsExtension() {
  ns::Value extension = ns::Bundle::mainBundle()->objectForInfoDictionaryKey("NSExtension");
  if (extension.isNil()) return false;
  if (!extension.isDictionary()) {
    CRSDebugLog("[CrashReporter] NSExtension Info.plist entry is mal-formed");
    return false;
  }
  if (!extension.dictionary()["NSExtensionPointIdentifier"].isString()) {
    CRSDebugLog("[CrashReporter] NSExtensionPointIdentifier Info.plist entry is mal-formed");
    return false;
  }
  return true;
}

bool CRSBetaEnabled() {
  return !CRSApplicationIsExtension() && CRSApplicationSignedForDistribution() &&
         CRSApplicationDeliveryMechanism() != 4;
}

std::optional<std::string> CRSHostOSVersionString() {
  const CRSContext* context = readyContext();
  if (!context || !context->host.osVersion || !context->host.osBuild) return std::nullopt;
  return withoutQuotes(ns::format("%s/%s", context->host.osVersion, context->host.osBuild));
}

std::optional<std::string> CRSHostModelString() {
  const CRSContext* context = readyContext();
  if (!context || !context->host.model) return std::nullopt;
  return withoutQuotes(context->host.model);
}

std::optional<std::string> CRSAPIEndpointOverride(const ns::Dictionary& infoDictionary) {
  const ns::Value& fromInfo = infoDictionary["CrashReporterAPIEndpoint"];
  if (fromInfo.isString() && !fromInfo.string().empty()) return fromInfo.string();
  if (const char* fromEnvironment = std::getenv("CrashReporterAPIEndpoint");
      fromEnvironment && *fromEnvironment)
    return std::string(fromEnvironment);
  return std::nullopt;
}

std::uint64_t CRSConversionTrackingIdentifier() {
  ns::Value value = ns::Bundle::mainBundle()->objectForInfoDictionaryKey("CrashReporterConversionId");
  if (!value.isNumber()) return 0;
  ns::Log("[CT] Checking value of %@.", value);
  return static_cast<std::uint64_t>(value.longLongValue());
}

bool CRSConversionTrackingEnabled() {
  return bundleBool("CrashReporterConversionTracking");
}

bool CRSInstallEventPending() {
  return CRSContextIsInitialized() && CRSConversionTrackingEnabled();
}

std::optional<std::string> CRSInstallEventKeyForType(const std::string& type) {
  const CRSContext* context = readyContext();
  if (!context || !context->host.advertisingIdentifier) return std::nullopt;
  std::uint64_t appId = CRSConversionTrackingIdentifier();
  if (appId == 0) return std::nullopt;
  std::string text = ns::format("%s%@%llu%@", context->host.advertisingIdentifier, std::string(kEventSalt),
                                static_cast<unsigned long long>(appId), type);
  return CRSSHA1HexStringFromString(text);
}

std::optional<ns::Array> CRSInstallEventArray() {
  if (!CRSInstallEventPending()) return std::nullopt;
  auto defaults = ns::UserDefaults::standardUserDefaults();
  ns::Array events;
  auto event = [&](const std::string& key, const char* type) {
    events.push_back(ns::Dictionary{
        {"key", key},
        {"event_type", type},
        {"app_id", static_cast<unsigned long long>(CRSConversionTrackingIdentifier())},
        {"happened_at", static_cast<long long>(ns::Date::now().timeIntervalSince1970())},
        {"bundle_identifier", CRSApplicationBundleIdentifier()},
    });
  };
  auto installKey = defaults->stringForKey(CRSInstallEventKey);
  if (!installKey && CRSInstallIdentifierIsNew()) {
    installKey = CRSInstallEventKeyForType("Install");
    if (installKey) {
      defaults->setObject_forKey(ns::Value(*installKey), CRSInstallEventKey);
      defaults->synchronize();
    }
  }
  if (installKey) event(*installKey, "Install");
  if (auto activation = CRSInstallEventKeyForType("Activation")) event(*activation, "Activation");
  return events;
}

void CRSRemoveInstallEventKey() {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  if (!CRSInstallEventPending() || !defaults->stringForKey(CRSInstallEventKey)) return;
  defaults->removeObjectForKey(CRSInstallEventKey);
  defaults->synchronize();
}
