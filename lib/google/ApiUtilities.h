#pragma once
// Class operations of the Data API client: URL percent-encoding and URL building, array search by
// key path, version comparison, the per-class merged dictionaries behind the model and query
// property maps, and the equality and number-coercion helpers of the model objects.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/URL.h"
#include "platform/runtime/Runtime.h"

// A per-class cache of merged dictionaries, kept for the life of the process; its lock is
// re-entered by the merge's recursion through the superclasses.
struct ApiClassDictionaryCache {
  std::recursive_mutex lock;
  std::unordered_map<ns::Class, ns::Dictionary> entries;
};

class ApiUtilities {
 public:
  // The legacy escaping: characters not allowed in a URL are escaped, reserved ones stay.
  static std::string stringByURLEncodingString(std::string_view text);
  // Also escapes each of "!*'();:@&=+$,/?%#[]".
  static std::string stringByURLEncodingForURI(std::string_view text);
  // As stringByURLEncodingForURI, but each blank becomes "+".
  static std::string stringByURLEncodingStringParameter(std::string_view text);
  // Bytes below 32, "%" and bytes above 126 as "%XX"; nil for nil, the text itself when nothing
  // needed escaping.
  static std::optional<std::string> stringByPercentEncodingUTF8ForString(
      const std::optional<std::string>& text);

  // The elements whose value at the key path equals `value` (nil matches nil), in order.
  static ns::Array objectsFromArray_withValue_forKeyPath(const ns::Array& array, const ns::Value& value,
                                                         std::string_view keyPath);
  static ns::Value firstObjectFromArray_withValue_forKeyPath(const ns::Array& array, const ns::Value& value,
                                                             std::string_view keyPath);

  // -1, 0 or 1 over up to four "."-separated integers; missing parts are 0, nil is empty.
  static int compareVersion_toVersion(const std::optional<std::string>& a,
                                      const std::optional<std::string>& b);

  // The string with the parameters appended as a sorted (case-insensitive) query; nil for an
  // empty string. Values are strings; any other value is written as its text.
  static ns::Ref<ns::URL> URLWithString_queryParameters(std::string_view text,
                                                        const ns::Dictionary& parameters);

  // A new empty cache owned by the caller and never freed.
  static ApiClassDictionaryCache* newStaticDictionary();
  // The class's own dictionary (the class method `selector`, answering a dictionary or nil)
  // over its superclass's merged dictionary, up to `ancestor`; computed once per class.
  static ns::Dictionary mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
      ns::Sel selector, ns::Class startClass, ns::Class ancestorClass, ApiClassDictionaryCache* cache);
};

// Same object (both nil included), else isEqual.
bool ApiObjectsEqual(const ns::Value& a, const ns::Value& b);
bool ApiObjectsEqual(const ns::Object* a, const ns::Object* b);
// Both zero or both non-zero.
inline bool ApiBoolsEqual(long long a, long long b) {
  return (a == 0) == (b == 0);
}
// The number coercion of JSON strings: with "." a double (there is no decimal number kind; the
// text is read without locale), with a leading "-" a signed 64-bit number, else an unsigned
// 64-bit number in base 10 (0 for text without digits). A value that is not a string, or a
// "." string without a number in it, is answered unchanged.
ns::Value ApiNumberFromJSONString(const ns::Value& value);

// A class as a Value (an object reference), and back (also from a Value naming the class).
ns::Value ApiClassValue(ns::Class cls);
ns::Class ApiClassFromValue(const ns::Value& value);
