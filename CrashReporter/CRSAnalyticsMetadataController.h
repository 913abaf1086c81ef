#pragma once
// The facts every analytics log file begins with: the device and the build from the crash
// reporter's runtime context, then the application's identity from its Info.plist, as one JSON
// object in a fixed key order.
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

class CRSAnalyticsMetadataController : public ns::Object {
 public:
  CRSAnalyticsMetadataController(ns::Dictionary appInfoDictionary, ns::Dictionary metadata, ns::Data json)
      : appInfoDictionary_(std::move(appInfoDictionary)),
        metadata_(std::move(metadata)),
        json_(std::move(json)) {}
  // nullptr without an initialised runtime context or when the facts do not encode as JSON.
  static ns::Ref<CRSAnalyticsMetadataController> initWithAppInfoDictionary(const ns::Dictionary& info);

  const ns::Dictionary& appInfoDictionary() const { return appInfoDictionary_; }
  const ns::Dictionary& metadata() const { return metadata_; }
  const ns::Data& metadataJSONData() const { return json_; }

  // Each stores the matching value; nothing is stored for a nil object or a null C string.
  static void setValueInDictionary_withKey_toObject(ns::Dictionary& dictionary, const std::string& key,
                                                    const ns::Value& object);
  static void setValueInDictionary_withKey_toCString(ns::Dictionary& dictionary, const std::string& key,
                                                     const char* text);
  static void setValueInDictionary_withKey_toBOOL(ns::Dictionary& dictionary, const std::string& key,
                                                  bool value);
  static void setValueInDictionary_withKey_toLong(ns::Dictionary& dictionary, const std::string& key,
                                                  long value);
  static void setValueInDictionary_withKey_toInteger(ns::Dictionary& dictionary, const std::string& key,
                                                     long value);
  static void setValueInDictionary_withKey_toLongLong(ns::Dictionary& dictionary, const std::string& key,
                                                      long long value);

  std::string className() const override { return "CRSAnalyticsMetadataController"; }

 private:
  ns::Dictionary appInfoDictionary_;
  ns::Dictionary metadata_;
  ns::Data json_;
};
