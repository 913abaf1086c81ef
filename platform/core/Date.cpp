#include "platform/core/Date.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>

namespace ns {

namespace {
std::atomic<Date::WallClockSource> gSource{nullptr};

// Days since 1970-01-01 to a proleptic Gregorian civil date.
void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}
}  // namespace

TimeInterval Date::systemTimeSince1970() {
  using namespace std::chrono;
  return duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
}

Date Date::now() {
  WallClockSource source = gSource.load(std::memory_order_acquire);
  return Date(source ? source() : systemTimeSince1970());
}

Date::WallClockSource Date::setWallClockSource(WallClockSource source) {
  return gSource.exchange(source, std::memory_order_acq_rel);
}

ComparisonResult Date::compare(const Date& other) const {
  if (since1970_ < other.since1970_) return OrderedAscending;
  if (since1970_ > other.since1970_) return OrderedDescending;
  return OrderedSame;
}

std::size_t Date::hash() const {
  double t = since1970_ == 0 ? 0.0 : since1970_;  // -0.0 and 0.0 are the same date
  return std::hash<double>()(t);
}

std::string Date::description() const {
  double t = since1970_;
  if (!std::isfinite(t)) t = 0;
  // Clamp to what the civil conversion handles; far beyond the distant dates anyway.
  t = std::fmax(std::fmin(t, 1e15), -1e15);
  long long secs = static_cast<long long>(std::floor(t));
  long long days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  long long rem = secs - days * 86400;
  long long y;
  unsigned m, d;
  civilFromDays(days, y, m, d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld +0000", y, m, d, rem / 3600,
                (rem / 60) % 60, rem % 60);
  return buf;
}

}  // namespace ns
