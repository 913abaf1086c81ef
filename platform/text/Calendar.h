#pragma once
// The Gregorian calendar: a date broken into components in a time zone,
// and components put back together.
#include <climits>
#include <cstdint>
#include <optional>

#include "platform/core/Date.h"
#include "platform/text/Locale.h"
#include "platform/text/TimeZone.h"

namespace ns {

enum CalendarUnit : std::uint32_t {
  CalendarUnitEra = 1u << 1,
  CalendarUnitYear = 1u << 2,
  CalendarUnitMonth = 1u << 3,
  CalendarUnitDay = 1u << 4,
  CalendarUnitHour = 1u << 5,
  CalendarUnitMinute = 1u << 6,
  CalendarUnitSecond = 1u << 7,
  CalendarUnitWeekday = 1u << 9,
  CalendarUnitWeekdayOrdinal = 1u << 10,
  CalendarUnitQuarter = 1u << 11,
  CalendarUnitWeekOfMonth = 1u << 12,
  CalendarUnitWeekOfYear = 1u << 13,
  CalendarUnitYearForWeekOfYear = 1u << 14,
  CalendarUnitNanosecond = 1u << 15,
  CalendarUnitTimeZone = 1u << 21,
};

inline constexpr long DateComponentUndefined = LONG_MAX;

// Every field is DateComponentUndefined unless set. weekday: 1 = Sunday ... 7 = Saturday.
struct DateComponents {
  long era = DateComponentUndefined;
  long year = DateComponentUndefined;
  long month = DateComponentUndefined;
  long day = DateComponentUndefined;
  long hour = DateComponentUndefined;
  long minute = DateComponentUndefined;
  long second = DateComponentUndefined;
  long nanosecond = DateComponentUndefined;
  long weekday = DateComponentUndefined;
  long weekdayOrdinal = DateComponentUndefined;
  long quarter = DateComponentUndefined;
  long weekOfMonth = DateComponentUndefined;
  long weekOfYear = DateComponentUndefined;
  long yearForWeekOfYear = DateComponentUndefined;
  std::optional<TimeZone> timeZone;

  friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

class Calendar {
 public:
  // Gregorian, in the default time zone and the current locale.
  Calendar();
  static Calendar currentCalendar() { return Calendar(); }
  static Calendar gregorianCalendar() { return Calendar(); }

  const TimeZone& timeZone() const { return timeZone_; }
  void setTimeZone(TimeZone zone) { timeZone_ = std::move(zone); }
  const Locale& locale() const { return locale_; }
  void setLocale(Locale locale) { locale_ = std::move(locale); }
  // 1 = Sunday (the default), 2 = Monday ...
  long firstWeekday() const { return firstWeekday_; }
  void setFirstWeekday(long weekday) { firstWeekday_ = weekday; }

  DateComponents components(std::uint32_t units, const Date& date) const;
  // Undefined fields take their lowest value (January, the 1st, midnight); the components' own
  // time zone wins over the calendar's. nullopt for values the calendar cannot represent.
  std::optional<Date> dateFromComponents(const DateComponents& components) const;

  friend bool operator==(const Calendar&, const Calendar&) = default;

 private:
  TimeZone timeZone_;
  Locale locale_;
  long firstWeekday_ = 1;
};

}  // namespace ns
