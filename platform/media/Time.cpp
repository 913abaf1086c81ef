#include "platform/media/Time.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace cm {

namespace {

using Wide = __int128;

constexpr std::int64_t kMaxValue = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinValue = std::numeric_limits<std::int64_t>::min();

Time special(std::uint32_t flag) {
  Time t;
  t.flags = TimeFlags_Valid | flag;
  return t;
}

// A wide value in a timescale: the infinities when it does not fit.
Time fromWide(Wide value, std::int32_t timescale, bool rounded) {
  if (value > kMaxValue) return special(TimeFlags_PositiveInfinity);
  if (value < kMinValue) return special(TimeFlags_NegativeInfinity);
  Time t = TimeMake(static_cast<std::int64_t>(value), timescale);
  if (rounded) t.flags |= TimeFlags_HasBeenRounded;
  return t;
}

// value * to / from, rounded half away from zero; `exact` tells whether nothing was lost.
Wide rescale(Wide value, std::int32_t from, std::int32_t to, bool& exact) {
  Wide scaled = value * to;
  Wide quotient = scaled / from;
  Wide remainder = scaled % from;
  exact = remainder == 0;
  if (!exact) {
    Wide twice = remainder * 2;
    if (twice < 0) twice = -twice;
    if (twice >= from) quotient += scaled < 0 ? -1 : 1;
  }
  return quotient;
}

// The rank of a non-numeric time in the ordering; numeric times rank 1.
int rank(const Time& t) {
  if (!t.isValid()) return 4;
  if (t.flags & TimeFlags_Indefinite) return 3;
  if (t.flags & TimeFlags_PositiveInfinity) return 2;
  if (t.flags & TimeFlags_NegativeInfinity) return 0;
  return 1;
}

Time combine(Time a, Time b, bool subtract) {
  if (!a.isValid() || !b.isValid()) return kTimeInvalid;
  bool bPos = b.isPositiveInfinity(), bNeg = b.isNegativeInfinity();
  if (subtract) std::swap(bPos, bNeg);
  if ((a.isPositiveInfinity() && bNeg) || (a.isNegativeInfinity() && bPos)) return kTimeInvalid;
  if (a.isIndefinite() || b.isIndefinite()) return kTimeIndefinite;
  if (a.isPositiveInfinity() || bPos) return kTimePositiveInfinity;
  if (a.isNegativeInfinity() || bNeg) return kTimeNegativeInfinity;
  bool rounded = a.hasBeenRounded() || b.hasBeenRounded();
  // The least common timescale when there is one; else the finer of the two, rounding.
  Wide gcd = std::gcd(a.timescale, b.timescale);
  Wide common = static_cast<Wide>(a.timescale) / gcd * b.timescale;
  std::int32_t scale =
      common <= kMaxTimescale ? static_cast<std::int32_t>(common) : std::max(a.timescale, b.timescale);
  bool exactA = true, exactB = true;
  Wide va = rescale(a.value, a.timescale, scale, exactA);
  Wide vb = rescale(b.value, b.timescale, scale, exactB);
  rounded = rounded || !exactA || !exactB;
  return fromWide(subtract ? va - vb : va + vb, scale, rounded);
}

}  // namespace

const Time kTimeZero = TimeMake(0, 1);
const Time kTimeInvalid = Time{};
const Time kTimeIndefinite = special(TimeFlags_Indefinite);
const Time kTimePositiveInfinity = special(TimeFlags_PositiveInfinity);
const Time kTimeNegativeInfinity = special(TimeFlags_NegativeInfinity);
const TimeRange kTimeRangeZero = {kTimeZero, kTimeZero};
const TimeRange kTimeRangeInvalid = {kTimeInvalid, kTimeInvalid};

Time TimeMake(std::int64_t value, std::int32_t timescale) {
  if (timescale <= 0) return kTimeInvalid;
  Time t;
  t.value = value;
  t.timescale = timescale;
  t.flags = TimeFlags_Valid;
  return t;
}

Time TimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale) {
  if (std::isnan(seconds) || preferredTimescale <= 0) return kTimeInvalid;
  if (std::isinf(seconds)) return seconds > 0 ? kTimePositiveInfinity : kTimeNegativeInfinity;
  long double scaled = static_cast<long double>(seconds) * preferredTimescale;
  if (scaled >= 9.2233720368547758e18L) return kTimePositiveInfinity;
  if (scaled <= -9.2233720368547758e18L) return kTimeNegativeInfinity;
  long double rounded = std::round(scaled);
  Time t = TimeMake(static_cast<std::int64_t>(rounded), preferredTimescale);
  if (rounded != scaled) t.flags |= TimeFlags_HasBeenRounded;
  return t;
}

double TimeGetSeconds(Time time) {
  if (!time.isValid() || time.isIndefinite()) return std::numeric_limits<double>::quiet_NaN();
  if (time.isPositiveInfinity()) return std::numeric_limits<double>::infinity();
  if (time.isNegativeInfinity()) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(time.value) / time.timescale;
}

std::int32_t TimeCompare(Time a, Time b) {
  int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra != 1) return 0;
  Wide left = static_cast<Wide>(a.value) * b.timescale;
  Wide right = static_cast<Wide>(b.value) * a.timescale;
  return left < right ? -1 : (left > right ? 1 : 0);
}

Time TimeAdd(Time a, Time b) {
  return combine(a, b, false);
}

Time TimeSubtract(Time a, Time b) {
  return combine(a, b, true);
}

Time TimeAbsoluteValue(Time time) {
  if (time.isNegativeInfinity()) return kTimePositiveInfinity;
  if (!time.isNumeric() || time.value >= 0) return time;
  return fromWide(-static_cast<Wide>(time.value), time.timescale, time.hasBeenRounded());
}

Time TimeMinimum(Time a, Time b) {
  return TimeCompare(a, b) <= 0 ? a : b;
}

Time TimeMaximum(Time a, Time b) {
  return TimeCompare(a, b) >= 0 ? a : b;
}

Time TimeConvertScale(Time time, std::int32_t newTimescale) {
  if (newTimescale <= 0) return kTimeInvalid;
  if (!time.isNumeric()) return time;
  bool exact = true;
  Wide v = rescale(time.value, time.timescale, newTimescale, exact);
  return fromWide(v, newTimescale, time.hasBeenRounded() || !exact);
}

std::string TimeCopyDescription(Time time) {
  if (!time.isValid()) return "INVALID";
  if (time.isIndefinite()) return "INDEFINITE";
  if (time.isPositiveInfinity()) return "+INFINITY";
  if (time.isNegativeInfinity()) return "-INFINITY";
  char buf[96];
  std::snprintf(buf, sizeof buf, "{%lld/%d = %.3f%s}", static_cast<long long>(time.value), time.timescale,
                TimeGetSeconds(time), time.hasBeenRounded() ? ", rounded" : "");
  return buf;
}

TimeRange TimeRangeMake(Time start, Time duration) {
  TimeRange range{start, duration};
  return TimeRangeIsValid(range) ? range : kTimeRangeInvalid;
}

TimeRange TimeRangeFromTimeToTime(Time start, Time end) {
  return TimeRangeMake(start, TimeSubtract(end, start));
}

Time TimeRangeGetEnd(TimeRange range) {
  if (!TimeRangeIsValid(range)) return kTimeInvalid;
  return TimeAdd(range.start, range.duration);
}

bool TimeRangeIsValid(TimeRange range) {
  return range.start.isNumeric() && range.duration.isValid() && !range.duration.isIndefinite() &&
         !range.duration.isNegativeInfinity() && TimeCompare(range.duration, kTimeZero) >= 0;
}

bool TimeRangeIsEmpty(TimeRange range) {
  return TimeRangeIsValid(range) && TimeCompare(range.duration, kTimeZero) == 0;
}

bool TimeRangeContainsTime(TimeRange range, Time time) {
  if (!TimeRangeIsValid(range) || !time.isNumeric()) return false;
  return TimeCompare(range.start, time) <= 0 && TimeCompare(time, TimeRangeGetEnd(range)) < 0;
}

bool TimeRangeEqual(TimeRange a, TimeRange b) {
  return TimeCompare(a.start, b.start) == 0 && TimeCompare(a.duration, b.duration) == 0;
}

}  // namespace cm
