// Dates of SqlDatabase: with a formatter set, dates are bound and read as text in its format;
// otherwise as seconds since 1970.
#include "lib/database/SqlDatabase.h"
#include "platform/text/DateFormatter.h"

ns::Ref<ns::DateFormatter> SqlDatabase::storeableDateFormat(const std::string& format) {
  auto formatter = ns::make<ns::DateFormatter>();
  formatter->setDateFormat(format);
  formatter->setTimeZone(ns::TimeZone::timeZoneForSecondsFromGMT(0).value_or(ns::TimeZone::GMT()));
  formatter->setLocale(ns::Locale::localeWithLocaleIdentifier("en_US"));
  return formatter;
}

void SqlDatabase::setDateFormat(ns::Ref<ns::DateFormatter> format) {
  _dateFormat = std::move(format);
}

std::optional<ns::Date> SqlDatabase::dateFromString(const std::string& s) {
  if (!_dateFormat) return std::nullopt;
  return _dateFormat->dateFromString(s);
}

std::optional<std::string> SqlDatabase::stringFromDate(const ns::Date& date) {
  if (!_dateFormat) return std::nullopt;
  return _dateFormat->stringFromDate(date);
}
