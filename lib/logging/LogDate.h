#pragma once
// The calendar fields of a log record's time, for loggers that print them without a formatter
// object per record.
#include "platform/core/Date.h"

struct LogDateParts {
  long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int millisecond = 0;
};

// The date broken down in the process's current time zone (TZ), with the fraction of its second
// in whole milliseconds (cut, not rounded).
LogDateParts logDateParts(const ns::Date& date);
