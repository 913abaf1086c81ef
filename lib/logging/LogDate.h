#pragma once
// Local-time text of a log date from a date pattern of the usual letters (yyyy MM dd HH mm ss SSS;
// other characters and text in single quotes are copied). Loggers call this one function so that
// the way dates are rendered can change in one place.
#include <string>
#include <string_view>

#include "platform/core/Date.h"

struct LogDateParts {
  long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int millisecond = 0;
};

// The date broken down in the process's current time zone (TZ), with the fraction of its second
// in whole milliseconds (cut, not rounded).
LogDateParts logDateParts(const ns::Date& date);

std::string formatLogDate(const ns::Date& date, std::string_view pattern);
