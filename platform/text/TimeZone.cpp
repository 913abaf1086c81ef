#include "platform/text/TimeZone.h"

#include <unicode/simpletz.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/text/IcuSupport.h"

namespace ns {

namespace icu_support {

std::unique_ptr<icu::TimeZone> toIcu(const TimeZone& zone) {
  if (zone.isFixedOffset())
    return std::make_unique<icu::SimpleTimeZone>(static_cast<int32_t>(zone.fixedOffset() * 1000),
                                                 toUnicode(zone.name()));
  return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(toUnicode(zone.name())));
}

std::unique_ptr<icu::Calendar> gregorian(const TimeZone& zone, const Locale& locale) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> calendar(
      icu::Calendar::createInstance(toIcu(zone).release(), toIcu(locale), status));
  if (U_FAILURE(status) || !calendar) return nullptr;
  if (std::string(calendar->getType()) != "gregorian") {
    // Locales with another default calendar still get the Gregorian one.
    icu::Locale withGregorian = toIcu(locale);
    withGregorian.setKeywordValue("calendar", "gregorian", status);
    status = U_ZERO_ERROR;
    calendar.reset(icu::Calendar::createInstance(toIcu(zone).release(), withGregorian, status));
    if (U_FAILURE(status)) return nullptr;
  }
  return calendar;
}

}  // namespace icu_support

namespace {

std::mutex& defaultMutex() {
  static std::mutex m;
  return m;
}
std::optional<TimeZone>& defaultOverride() {
  static NoDestructor<std::optional<TimeZone>> zone;
  return *zone;
}

}  // namespace

TimeZone::TimeZone() : name_("GMT") {}

std::optional<TimeZone> TimeZone::timeZoneWithName(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu_support::toUnicode(name)));
  if (!zone || *zone == icu::TimeZone::getUnknown()) return std::nullopt;
  TimeZone result;
  result.name_ = name;
  return result;
}

std::optional<TimeZone> TimeZone::timeZoneForSecondsFromGMT(long seconds) {
  if (seconds < -18 * 3600 || seconds > 18 * 3600) return std::nullopt;
  TimeZone result;
  if (seconds == 0) return result;
  long magnitude = seconds < 0 ? -seconds : seconds;
  char name[16];
  std::snprintf(name, sizeof name, "GMT%c%02ld%02ld", seconds < 0 ? '-' : '+', magnitude / 3600,
                (magnitude % 3600) / 60);
  result.name_ = name;
  result.fixed_ = seconds;
  return result;
}

std::optional<TimeZone> TimeZone::timeZoneWithAbbreviation(const std::string& abbreviation) {
  static const std::map<std::string, std::string> known = {{"GMT", "GMT"},
                                                           {"UTC", "UTC"},
                                                           {"BST", "Europe/London"},
                                                           {"CET", "Europe/Paris"},
                                                           {"CEST", "Europe/Paris"},
                                                           {"EST", "America/New_York"},
                                                           {"EDT", "America/New_York"},
                                                           {"CST", "America/Chicago"},
                                                           {"CDT", "America/Chicago"},
                                                           {"MST", "America/Denver"},
                                                           {"MDT", "America/Denver"},
                                                           {"PST", "America/Los_Angeles"},
                                                           {"PDT", "America/Los_Angeles"},
                                                           {"JST", "Asia/Tokyo"}};
  auto it = known.find(abbreviation);
  if (it == known.end()) return std::nullopt;
  return timeZoneWithName(it->second);
}

TimeZone TimeZone::systemTimeZone() {
  // TZ names a zone directly when set; otherwise ICU reads the host's configuration.
  if (const char* tz = std::getenv("TZ"); tz && *tz) {
    std::string name(tz[0] == ':' ? tz + 1 : tz);
    if (auto zone = timeZoneWithName(name)) return *zone;
  }
  std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
  icu::UnicodeString id;
  if (host) host->getID(id);
  if (auto zone = timeZoneWithName(icu_support::toUtf8(id))) return *zone;
  return TimeZone();
}

TimeZone TimeZone::defaultTimeZone() {
  std::lock_guard lock(defaultMutex());
  if (defaultOverride()) return *defaultOverride();
  return systemTimeZone();
}

void TimeZone::setDefaultTimeZone(std::optional<TimeZone> zone) {
  std::lock_guard lock(defaultMutex());
  defaultOverride() = std::move(zone);
}

long TimeZone::secondsFromGMTForDate(const Date& date) const {
  const double secondsSince1970 = date.timeIntervalSince1970();
  if (fixed_) return *fixed_;
  auto zone = icu_support::toIcu(*this);
  int32_t raw = 0, dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  zone->getOffset(icu_support::toUDate(secondsSince1970), false, raw, dst, status);
  if (U_FAILURE(status)) return 0;
  return (raw + dst) / 1000;
}

long TimeZone::secondsFromGMT() const {
  return secondsFromGMTForDate(Date::now());
}

bool TimeZone::isDaylightSavingTimeForDate(const Date& date) const {
  const double secondsSince1970 = date.timeIntervalSince1970();
  if (fixed_) return false;
  auto zone = icu_support::toIcu(*this);
  int32_t raw = 0, dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  zone->getOffset(icu_support::toUDate(secondsSince1970), false, raw, dst, status);
  return U_SUCCESS(status) && dst != 0;
}

}  // namespace ns
