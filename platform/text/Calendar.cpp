#include "platform/text/Calendar.h"

#include <cmath>

#include "platform/text/IcuSupport.h"

namespace ns {

using namespace icu_support;

Calendar::Calendar() : timeZone_(TimeZone::defaultTimeZone()), locale_(Locale::currentLocale()) {}

DateComponents Calendar::components(std::uint32_t units, const Date& date) const {
  const double secondsSince1970 = date.timeIntervalSince1970();
  DateComponents c;
  auto cal = gregorian(timeZone_, locale_);
  if (!cal || !std::isfinite(secondsSince1970)) return c;
  cal->setFirstDayOfWeek(
      static_cast<UCalendarDaysOfWeek>(firstWeekday_ >= 1 && firstWeekday_ <= 7 ? firstWeekday_ : 1));
  UErrorCode status = U_ZERO_ERROR;
  cal->setTime(toUDate(secondsSince1970), status);
  if (U_FAILURE(status)) return c;
  auto get = [&](UCalendarDateFields field) -> long {
    UErrorCode s = U_ZERO_ERROR;
    int32_t v = cal->get(field, s);
    return U_SUCCESS(s) ? v : DateComponentUndefined;
  };
  if (units & CalendarUnitEra) c.era = get(UCAL_ERA);
  if (units & CalendarUnitYear) c.year = get(UCAL_YEAR);
  if (units & CalendarUnitMonth) c.month = get(UCAL_MONTH) + 1;
  if (units & CalendarUnitDay) c.day = get(UCAL_DATE);
  if (units & CalendarUnitHour) c.hour = get(UCAL_HOUR_OF_DAY);
  if (units & CalendarUnitMinute) c.minute = get(UCAL_MINUTE);
  if (units & CalendarUnitSecond) c.second = get(UCAL_SECOND);
  if (units & CalendarUnitNanosecond) {
    double whole = std::floor(secondsSince1970);
    c.nanosecond = static_cast<long>(std::llround((secondsSince1970 - whole) * 1e9));
    if (c.nanosecond >= 1000000000L) c.nanosecond = 999999999L;
  }
  if (units & CalendarUnitWeekday) c.weekday = get(UCAL_DAY_OF_WEEK);
  if (units & CalendarUnitWeekdayOrdinal) c.weekdayOrdinal = get(UCAL_DAY_OF_WEEK_IN_MONTH);
  if (units & CalendarUnitQuarter) c.quarter = get(UCAL_MONTH) / 3 + 1;
  if (units & CalendarUnitWeekOfMonth) c.weekOfMonth = get(UCAL_WEEK_OF_MONTH);
  if (units & CalendarUnitWeekOfYear) c.weekOfYear = get(UCAL_WEEK_OF_YEAR);
  if (units & CalendarUnitYearForWeekOfYear) c.yearForWeekOfYear = get(UCAL_YEAR_WOY);
  if (units & CalendarUnitTimeZone) c.timeZone = timeZone_;
  return c;
}

std::optional<Date> Calendar::dateFromComponents(const DateComponents& c) const {
  auto cal = gregorian(c.timeZone.value_or(timeZone_), locale_);
  if (!cal) return std::nullopt;
  cal->clear();
  cal->setLenient(true);
  auto valid = [](long v) { return v != DateComponentUndefined && v > INT32_MIN && v < INT32_MAX; };
  if (valid(c.era)) cal->set(UCAL_ERA, static_cast<int32_t>(c.era));
  cal->set(UCAL_YEAR, valid(c.year) ? static_cast<int32_t>(c.year) : 1);
  cal->set(UCAL_MONTH, valid(c.month) ? static_cast<int32_t>(c.month - 1) : 0);
  cal->set(UCAL_DATE, valid(c.day) ? static_cast<int32_t>(c.day) : 1);
  cal->set(UCAL_HOUR_OF_DAY, valid(c.hour) ? static_cast<int32_t>(c.hour) : 0);
  cal->set(UCAL_MINUTE, valid(c.minute) ? static_cast<int32_t>(c.minute) : 0);
  cal->set(UCAL_SECOND, valid(c.second) ? static_cast<int32_t>(c.second) : 0);
  UErrorCode status = U_ZERO_ERROR;
  UDate date = cal->getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  double seconds = fromUDate(date);
  if (valid(c.nanosecond)) seconds += static_cast<double>(c.nanosecond) / 1e9;
  return Date::dateWithTimeIntervalSince1970(seconds);
}

}  // namespace ns
