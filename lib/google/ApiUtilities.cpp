#include "lib/google/ApiUtilities.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "platform/core/Str.h"
#include "platform/net/PercentEncoding.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Send.h"

namespace {

constexpr char kURIReserved[] = "!*'();:@&=+$,/?%#[]";

// Up to four integers separated by "."; scanning stops at the first part that is not one.
void versionParts(std::string_view text, long long (&parts)[4]) {
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    parts[i] = 0;
  }
  for (int i = 0; i < 4; ++i) {
    while (pos < text.size() && text[pos] == '.') ++pos;
    std::size_t start = pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t digits = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    if (pos == digits) return;
    long long value = 0;
    auto [end, ec] =
        std::from_chars(text.data() + (text[start] == '+' ? start + 1 : start), text.data() + pos, value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
      value =
          text[start] == '-' ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
    }
    parts[i] = value;
  }
}

std::string queryText(const ns::Value& value) {
  if (value.isString()) return value.string();
  if (value.isNumber()) return value.number().stringValue();
  return value.description();
}

}  // namespace

std::string ApiUtilities::stringByURLEncodingString(std::string_view text) {
  return ns::stringByAddingPercentEscapesUsingEncoding(text);
}

std::string ApiUtilities::stringByURLEncodingForURI(std::string_view text) {
  return ns::stringByAddingPercentEscapesUsingEncoding(text, kURIReserved);
}

std::string ApiUtilities::stringByURLEncodingStringParameter(std::string_view text) {
  std::string escaped = ns::stringByAddingPercentEscapesUsingEncoding(text, kURIReserved, " ");
  std::replace(escaped.begin(), escaped.end(), ' ', '+');
  return escaped;
}

std::optional<std::string> ApiUtilities::stringByPercentEncodingUTF8ForString(
    const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::string& s = *text;
  auto needsEscape = [](unsigned char c) { return c < 32 || c == '%' || c > 126; };
  auto first =
      std::find_if(s.begin(), s.end(), [&](char c) { return needsEscape(static_cast<unsigned char>(c)); });
  if (first == s.end()) return text;
  std::string out(s.begin(), first);
  for (auto it = first; it != s.end(); ++it) {
    unsigned char c = static_cast<unsigned char>(*it);
    if (needsEscape(c)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

ns::Array ApiUtilities::objectsFromArray_withValue_forKeyPath(const ns::Array& array, const ns::Value& value,
                                                              std::string_view keyPath) {
  ns::Array out;
  for (const ns::Value& element : array) {
    if (ApiObjectsEqual(ns::valueForKeyPathOfValue(element, keyPath), value)) out.push_back(element);
  }
  return out;
}

ns::Value ApiUtilities::firstObjectFromArray_withValue_forKeyPath(const ns::Array& array,
                                                                  const ns::Value& value,
                                                                  std::string_view keyPath) {
  for (const ns::Value& element : array) {
    if (ApiObjectsEqual(ns::valueForKeyPathOfValue(element, keyPath), value)) return element;
  }
  return ns::Value();
}

int ApiUtilities::compareVersion_toVersion(const std::optional<std::string>& a,
                                           const std::optional<std::string>& b) {
  long long pa[4], pb[4];
  versionParts(a.value_or(""), pa);
  versionParts(b.value_or(""), pb);
  for (int i = 0; i < 4; ++i) {
    if (pa[i] < pb[i]) return -1;
    if (pa[i] > pb[i]) return 1;
  }
  return 0;
}

ns::Ref<ns::URL> ApiUtilities::URLWithString_queryParameters(std::string_view text,
                                                             const ns::Dictionary& parameters) {
  if (text.empty()) return nullptr;
  if (parameters.empty()) return ns::URL::URLWithString(text);
  std::vector<std::pair<std::string, ns::Value>> entries;
  for (const auto& [key, value] : parameters) entries.emplace_back(queryText(key), value);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) {
    return ns::str::caseInsensitiveCompare(x.first, y.first) == ns::OrderedAscending;
  });
  std::string query;
  for (const auto& [key, value] : entries) {
    if (!query.empty()) query += '&';
    query += stringByURLEncodingStringParameter(key);
    query += '=';
    query += stringByURLEncodingStringParameter(queryText(value));
  }
  std::string full(text);
  full += full.find('?') == std::string::npos ? '?' : '&';
  full += query;
  return ns::URL::URLWithString(full);
}

ApiClassDictionaryCache* ApiUtilities::newStaticDictionary() {
  return new ApiClassDictionaryCache();
}

ns::Dictionary ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
    ns::Sel selector, ns::Class startClass, ns::Class ancestorClass, ApiClassDictionaryCache* cache) {
  if (!startClass || !cache) return ns::Dictionary();
  std::lock_guard guard(cache->lock);
  auto it = cache->entries.find(startClass);
  if (it != cache->entries.end()) return it->second;

  ns::Value own = ns::send<ns::Value>(static_cast<ns::Object*>(startClass), selector);
  ns::Dictionary merged;
  // A class outside the ancestor's tree stops the walk at the root instead of running off it.
  ns::Class super = ns::class_getSuperclass(startClass);
  if (startClass != ancestorClass && super) {
    merged = mergedClassDictionaryForSelector_startClass_ancestorClass_cache(selector, super, ancestorClass,
                                                                             cache);
  }
  if (own.isDictionary()) merged.addEntriesFromDictionary(own.dictionary());
  cache->entries.emplace(startClass, merged);
  return merged;
}

bool ApiObjectsEqual(const ns::Value& a, const ns::Value& b) {
  if (a.isNil() || b.isNil()) return a.isNil() && b.isNil();
  if (a.isObject() && b.isObject() && a.object() == b.object()) return true;
  return a == b;
}

bool ApiObjectsEqual(const ns::Object* a, const ns::Object* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(b);
}

ns::Value ApiNumberFromJSONString(const ns::Value& value) {
  if (!value.isString()) return value;
  const std::string& s = value.string();
  if (s.find('.') != std::string::npos) {
    // No decimal number kind here: the text becomes a double, read without locale.
    std::size_t p = 0;
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t' || s[p] == '\n')) ++p;
    if (p < s.size() && s[p] == '+') ++p;
    double d = 0;
    auto [end, ec] = std::from_chars(s.data() + p, s.data() + s.size(), d);
    // "inf" and "nan" are not JSON numbers and could never be written back; text beyond the
    // range of a double is left unread rather than taken as the 0 the reader leaves behind.
    if (end == s.data() + p || ec != std::errc() || !std::isfinite(d)) return value;
    return ns::Value(d);
  }
  if (!s.empty() && s[0] == '-') return ns::Value(ns::str::longLongValue(s));
  // Base 10 from the UTF-8 text; no digits reads as 0, too many saturates.
  std::size_t p = 0;
  while (p < s.size() && (s[p] == ' ' || s[p] == '\t' || s[p] == '\n')) ++p;
  if (p < s.size() && s[p] == '+') ++p;
  unsigned long long u = 0;
  auto [end, ec] = std::from_chars(s.data() + p, s.data() + s.size(), u);
  (void)end;
  if (ec == std::errc::result_out_of_range) u = std::numeric_limits<unsigned long long>::max();
  if (ec == std::errc::invalid_argument) u = 0;
  return ns::Value(u);
}

ns::Value ApiClassValue(ns::Class cls) {
  if (!cls) return ns::Value();
  return ns::Value(cls->weak_from_this().lock());
}

ns::Class ApiClassFromValue(const ns::Value& value) {
  if (value.isString()) return ns::NSClassFromString(value.string());
  if (!value.isObject() || !ns::object_isClass(value.object().get())) return nullptr;
  return static_cast<ns::ClassRecord*>(value.object().get());
}
