#pragma once
// Time zones: named Olson zones ("Europe/Paris", "GMT", "UTC", "Universal") or fixed offsets
// from GMT. The default zone starts as the system's and can be
// replaced for the process (tests pin it).
#include <functional>
#include <optional>
#include <string>

#include "platform/core/Date.h"

namespace ns {

class TimeZone {
 public:
  // GMT.
  TimeZone();

  // nullopt for a name the zone database does not know.
  static std::optional<TimeZone> timeZoneWithName(const std::string& name);
  // A zone "GMT+0100" style for a fixed offset; nullopt beyond ±18 hours.
  static std::optional<TimeZone> timeZoneForSecondsFromGMT(long seconds);
  // Abbreviations "GMT", "UTC", "CET", "PST", ... map to their zones.
  static std::optional<TimeZone> timeZoneWithAbbreviation(const std::string& abbreviation);
  static TimeZone GMT() { return TimeZone(); }

  static TimeZone systemTimeZone();
  static TimeZone defaultTimeZone();
  static TimeZone localTimeZone() { return defaultTimeZone(); }
  static void setDefaultTimeZone(std::optional<TimeZone> zone);

  const std::string& name() const { return name_; }
  long secondsFromGMTForDate(const Date& date) const;
  long secondsFromGMT() const;
  bool isDaylightSavingTimeForDate(const Date& date) const;

  // For the ICU-based formatters: a fixed-offset zone keeps its offset here.
  bool isFixedOffset() const { return fixed_.has_value(); }
  long fixedOffset() const { return fixed_.value_or(0); }

  friend bool operator==(const TimeZone&, const TimeZone&) = default;
  std::size_t hash() const { return std::hash<std::string>()(name_); }

 private:
  std::string name_;
  std::optional<long> fixed_;
};

}  // namespace ns

template <>
struct std::hash<ns::TimeZone> {
  std::size_t operator()(const ns::TimeZone& zone) const { return zone.hash(); }
};
