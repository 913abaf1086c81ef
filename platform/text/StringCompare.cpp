#include "platform/text/StringCompare.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/text/IcuSupport.h"

namespace ns {

using namespace icu_support;

namespace {

ComparisonResult fromInt(int v) { return v < 0 ? OrderedAscending : v > 0 ? OrderedDescending : OrderedSame; }

// Collators are costly to build; keep one per locale and strength. Collator::compare is
// thread-safe on a const object.
enum class Kind { Plain, CaseInsensitive, Numeric };

const icu::Collator* collator(const Locale& locale, Kind kind) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, Kind>, std::unique_ptr<icu::Collator>> cache;
  std::lock_guard lock(mutex);
  auto key = std::make_pair(locale.localeIdentifier(), kind);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(toIcu(locale), status));
  if (U_FAILURE(status) || !c) return nullptr;
  if (kind != Kind::Plain) c->setStrength(icu::Collator::SECONDARY);
  if (kind == Kind::Numeric) c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
  return cache.emplace(key, std::move(c)).first->second.get();
}

ComparisonResult collate(std::string_view a, std::string_view b, const std::optional<Locale>& locale, Kind kind) {
  const icu::Collator* c = collator(locale.value_or(Locale::currentLocale()), kind);
  if (!c) return caseInsensitiveCompare(a, b);
  UErrorCode status = U_ZERO_ERROR;
  return fromInt(c->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status));
}

}  // namespace

ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
  icu::UnicodeString ua = toUnicode(a), ub = toUnicode(b);
  return fromInt(ua.caseCompare(ub, U_FOLD_CASE_DEFAULT));
}

ComparisonResult localizedCompare(std::string_view a, std::string_view b, const std::optional<Locale>& locale) {
  return collate(a, b, locale, Kind::Plain);
}

ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                                 const std::optional<Locale>& locale) {
  return collate(a, b, locale, Kind::CaseInsensitive);
}

ComparisonResult localizedStandardCompare(std::string_view a, std::string_view b,
                                          const std::optional<Locale>& locale) {
  return collate(a, b, locale, Kind::Numeric);
}

std::string lowercaseString(std::string_view text) { return toUtf8(toUnicode(text).toLower(icu::Locale::getRoot())); }
std::string uppercaseString(std::string_view text) { return toUtf8(toUnicode(text).toUpper(icu::Locale::getRoot())); }

std::string capitalizedString(std::string_view text) {
  // First letter of each word upper case, the rest lower case.
  icu::UnicodeString u = toUnicode(text);
  u.toTitle(nullptr, icu::Locale::getRoot());
  return toUtf8(u);
}

std::string lowercaseStringWithLocale(std::string_view text, const Locale& locale) {
  return toUtf8(toUnicode(text).toLower(toIcu(locale)));
}

std::string uppercaseStringWithLocale(std::string_view text, const Locale& locale) {
  return toUtf8(toUnicode(text).toUpper(toIcu(locale)));
}

}  // namespace ns
