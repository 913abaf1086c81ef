#include "CrashReporter/CRSAnalyticsMetadataController.h"

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSDebugLog.h"
#include "platform/serialization/JSONSerialization.h"

using Self = CRSAnalyticsMetadataController;

void Self::setValueInDictionary_withKey_toObject(ns::Dictionary& dictionary, const std::string& key,
                                                 const ns::Value& object) {
  if (!object.isNil()) dictionary.set(key, object);
}
void Self::setValueInDictionary_withKey_toCString(ns::Dictionary& dictionary, const std::string& key,
                                                  const char* text) {
  if (text) setValueInDictionary_withKey_toObject(dictionary, key, ns::Value(std::string(text)));
}
void Self::setValueInDictionary_withKey_toBOOL(ns::Dictionary& dictionary, const std::string& key,
                                               bool value) {
  setValueInDictionary_withKey_toObject(dictionary, key, ns::Value(value));
}
void Self::setValueInDictionary_withKey_toLong(ns::Dictionary& dictionary, const std::string& key,
                                               long value) {
  setValueInDictionary_withKey_toObject(dictionary, key, ns::Value(value));
}
void Self::setValueInDictionary_withKey_toInteger(ns::Dictionary& dictionary, const std::string& key,
                                                  long value) {
  setValueInDictionary_withKey_toObject(dictionary, key, ns::Value(value));
}
void Self::setValueInDictionary_withKey_toLongLong(ns::Dictionary& dictionary, const std::string& key,
                                                   long long value) {
  setValueInDictionary_withKey_toObject(dictionary, key, ns::Value(static_cast<std::int64_t>(value)));
}

ns::Ref<CRSAnalyticsMetadataController> Self::initWithAppInfoDictionary(const ns::Dictionary& info) {
  if (!CRSContextIsInitialized()) {
    CRSDebugLog("[CrashReporter] CRSContext is unavailable");
    return nullptr;
  }
  const CRSContext* context = CRSContextGet();
  const CRSHostInfo& host = context->host;
  ns::Dictionary metadata;
  setValueInDictionary_withKey_toCString(metadata, "generator", context->generator);
  setValueInDictionary_withKey_toCString(metadata, "api_key", context->apiKey);
  setValueInDictionary_withKey_toCString(metadata, "session_id", context->sessionIdentifier);
  setValueInDictionary_withKey_toLongLong(metadata, "started_at", context->startedAt);
  setValueInDictionary_withKey_toCString(metadata, "device_id", host.deviceIdentifier);
  setValueInDictionary_withKey_toCString(metadata, "vendor_id", host.vendorIdentifier);
  setValueInDictionary_withKey_toCString(metadata, "advertising_id", host.advertisingIdentifier);
  setValueInDictionary_withKey_toCString(metadata, "install_id", host.installIdentifier);
  setValueInDictionary_withKey_toCString(metadata, "model", host.model);
  setValueInDictionary_withKey_toCString(metadata, "machine", host.machine);
  setValueInDictionary_withKey_toCString(metadata, "locale", host.locale);
  setValueInDictionary_withKey_toCString(metadata, "os_build", host.osBuild);
  setValueInDictionary_withKey_toCString(metadata, "os_version", host.osVersion);
  setValueInDictionary_withKey_toCString(metadata, "platform", host.platform);
  setValueInDictionary_withKey_toInteger(metadata, "platform_code", static_cast<long>(host.platformCode));
  setValueInDictionary_withKey_toInteger(metadata, "cores", static_cast<long>(host.cores));
  setValueInDictionary_withKey_toCString(metadata, "cpu", host.cpu);
  setValueInDictionary_withKey_toBOOL(metadata, "jailbroken", host.reserved != 0);
  setValueInDictionary_withKey_toCString(metadata, "config", context->build.configuration);
  setValueInDictionary_withKey_toCString(metadata, "compiler", context->build.compiler);
  setValueInDictionary_withKey_toBOOL(metadata, "debug", context->build.debug != 0);
  setValueInDictionary_withKey_toBOOL(metadata, "arc", context->build.arc != 0);
  setValueInDictionary_withKey_toInteger(metadata, "os_max", static_cast<long>(context->build.maxOS));
  setValueInDictionary_withKey_toInteger(metadata, "os_min", static_cast<long>(context->build.minOS));
  for (const auto& [key, infoKey] :
       {std::pair{"bundle_id", "CFBundleIdentifier"}, std::pair{"bundle_version", "CFBundleVersion"},
        std::pair{"bundle_short_version", "CFBundleShortVersionString"}}) {
    const ns::Value& value = info[infoKey];
    if (value.isString()) setValueInDictionary_withKey_toObject(metadata, key, value);
  }
  ns::Error error;
  auto json = ns::JSONSerialization::dataWithJSONObject_options_error(ns::Value(metadata), 0, &error);
  if (!json) {
    CRSDebugLog("[CrashReporter] Unable to JSON-encode metadata {error: %@}", error);
    return nullptr;
  }
  return ns::make<CRSAnalyticsMetadataController>(info, std::move(metadata), std::move(*json));
}
