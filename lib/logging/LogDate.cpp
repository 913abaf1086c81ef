#include "lib/logging/LogDate.h"

#include <cmath>
#include <cstdio>
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
  return {tm.tm_year + 1900L, tm.tm_mon + 1L, static_cast<long>(tm.tm_mday), static_cast<long>(tm.tm_hour),
          static_cast<long>(tm.tm_min), static_cast<long>(tm.tm_sec), static_cast<int>(rest / 1000)};
}

namespace {

void appendNumber(std::string& out, long value, std::size_t width) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%0*ld", static_cast<int>(width), value);
  if (n > 0) out.append(buf, static_cast<std::size_t>(n));
}

}  // namespace

std::string formatLogDate(const ns::Date& date, std::string_view pattern) {
  LogDateParts p = logDateParts(date);
  std::string out;
  out.reserve(pattern.size() + 4);
  for (std::size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if (c == '\'') {
      // Quoted literal text; '' is a quote.
      std::size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == '\'') {
        out += '\'';
        i = j + 1;
        continue;
      }
      while (j < pattern.size() && pattern[j] != '\'') out += pattern[j++];
      i = j + 1;
      continue;
    }
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    switch (c) {
      case 'y':
        // "yy" is the two-digit year; any other count pads the full year.
        appendNumber(out, run == 2 ? p.year % 100 : p.year, run);
        break;
      case 'M': appendNumber(out, p.month, run); break;
      case 'd': appendNumber(out, p.day, run); break;
      case 'H': appendNumber(out, p.hour, run); break;
      case 'm': appendNumber(out, p.minute, run); break;
      case 's': appendNumber(out, p.second, run); break;
      case 'S': {
        // Fractional seconds: the leading digits of the milliseconds, zero-filled past three.
        char ms[4];
        std::snprintf(ms, sizeof ms, "%03d", p.millisecond);
        for (std::size_t k = 0; k < run; ++k) out += k < 3 ? ms[k] : '0';
        break;
      }
      default: out.append(run, c); break;
    }
    i += run;
  }
  return out;
}
