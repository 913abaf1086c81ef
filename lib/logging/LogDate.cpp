#include "lib/logging/LogDate.h"

#include <cmath>
#include <ctime>

LogDateParts logDateParts(const ns::Date& date) {
  // A date of our era is only exact to a fraction of a microsecond: x.123 is stored as
  // x.12299990... Rounding to the microsecond first keeps the cut to milliseconds from losing
  // one to binary rounding.
  long long micro = std::llround(date.timeIntervalSince1970() * 1e6);
  long long whole = micro / 1000000;
  long long rest = micro % 1000000;
  if (rest < 0) {
    rest += 1000000;
    whole -= 1;
  }
  std::time_t t = static_cast<std::time_t>(whole);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900L,
          tm.tm_mon + 1L,
          static_cast<long>(tm.tm_mday),
          static_cast<long>(tm.tm_hour),
          static_cast<long>(tm.tm_min),
          static_cast<long>(tm.tm_sec),
          static_cast<int>(rest / 1000)};
}
