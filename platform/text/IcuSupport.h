#pragma once
// Internal to pl_text: conversions between our types and ICU's. Included only by this
// folder's .cpp files, so that ICU headers stay out of everyone else's build.
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/text/Locale.h"
#include "platform/text/TimeZone.h"

namespace ns::icu_support {

inline icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

inline std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

inline icu::Locale toIcu(const Locale& locale) {
  const std::string& id = locale.localeIdentifier();
  if (id.empty()) return icu::Locale::getRoot();
  return icu::Locale::createCanonical(id.c_str());
}

std::unique_ptr<icu::TimeZone> toIcu(const TimeZone& zone);

// A Gregorian calendar in the given zone and locale.
std::unique_ptr<icu::Calendar> gregorian(const TimeZone& zone, const Locale& locale);

inline UDate toUDate(double secondsSince1970) {
  return secondsSince1970 * 1000.0;
}
inline double fromUDate(UDate date) {
  return date / 1000.0;
}

}  // namespace ns::icu_support
