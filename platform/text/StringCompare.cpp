#include "platform/text/StringCompare.h"

#include <unicode/coll.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/text/IcuSupport.h"

namespace ns::str {

using namespace icu_support;

namespace {

ComparisonResult fromInt(int v) {
  return v < 0 ? OrderedAscending : v > 0 ? OrderedDescending : OrderedSame;
}

enum class Kind { Plain, CaseInsensitive, Numeric };

// Collators are costly to build: one per locale and kind, kept for the process. compare on a
// const collator is thread-safe.
const icu::Collator* collator(const Locale& locale, Kind kind) {
  static std::mutex mutex;
  static ns::NoDestructor<std::map<std::pair<std::string, Kind>, std::unique_ptr<icu::Collator>>> cache;
  std::lock_guard lock(mutex);
  auto key = std::make_pair(locale.localeIdentifier(), kind);
  auto it = cache->find(key);
  if (it != cache->end()) return it->second.get();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(toIcu(locale), status));
  if (U_FAILURE(status) || !c) return nullptr;
  if (kind != Kind::Plain) c->setStrength(icu::Collator::SECONDARY);
  if (kind == Kind::Numeric) c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
  return cache->emplace(key, std::move(c)).first->second.get();
}

ComparisonResult collate(std::string_view a, std::string_view b, const Locale& locale, Kind kind) {
  const icu::Collator* c = collator(locale, kind);
  if (!c) return kind == Kind::Plain ? compare(a, b) : caseInsensitiveCompare(a, b);
  UErrorCode status = U_ZERO_ERROR;
  return fromInt(c->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status));
}

}  // namespace

ComparisonResult localizedCompare(std::string_view a, std::string_view b,
                                  const std::optional<Locale>& locale) {
  return collate(a, b, locale.value_or(Locale::currentLocale()), Kind::Plain);
}

ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                                 const std::optional<Locale>& locale) {
  return collate(a, b, locale.value_or(Locale::currentLocale()), Kind::CaseInsensitive);
}

ComparisonResult localizedStandardCompareInLocale(std::string_view a, std::string_view b,
                                                  const Locale& locale) {
  return collate(a, b, locale, Kind::Numeric);
}

std::string lowercaseStringWithLocale(std::string_view text, const std::optional<Locale>& locale) {
  return icu_support::toUtf8(toUnicode(text).toLower(toIcu(locale.value_or(Locale::currentLocale()))));
}

std::string uppercaseStringWithLocale(std::string_view text, const std::optional<Locale>& locale) {
  return icu_support::toUtf8(toUnicode(text).toUpper(toIcu(locale.value_or(Locale::currentLocale()))));
}

std::string capitalizedStringWithLocale(std::string_view text, const std::optional<Locale>& locale) {
  icu::UnicodeString u = toUnicode(text);
  u.toTitle(nullptr, toIcu(locale.value_or(Locale::currentLocale())));
  return icu_support::toUtf8(u);
}

}  // namespace ns::str
