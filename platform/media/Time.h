#pragma once
// Media time: a rational number of seconds (value / timescale) with flags for the times that are
// not numbers (invalid, indefinite, the infinities), and ranges of such times. Arithmetic keeps
// exact values where it can and marks a result that had to be rounded.
#include <cstdint>
#include <string>

namespace cm {

enum TimeFlags : std::uint32_t {
  TimeFlags_Valid = 1u << 0,
  TimeFlags_HasBeenRounded = 1u << 1,
  TimeFlags_PositiveInfinity = 1u << 2,
  TimeFlags_NegativeInfinity = 1u << 3,
  TimeFlags_Indefinite = 1u << 4,
  TimeFlags_ImpliedValueFlagsMask =
      TimeFlags_PositiveInfinity | TimeFlags_NegativeInfinity | TimeFlags_Indefinite,
};

// The timescale the player uses for the times it answers.
inline constexpr std::int32_t kPreferredTimescale = 600;
inline constexpr std::int32_t kMaxTimescale = 0x7fffffff;

struct Time {
  std::int64_t value = 0;
  std::int32_t timescale = 0;
  std::uint32_t flags = 0;
  std::int64_t epoch = 0;

  bool isValid() const { return (flags & TimeFlags_Valid) != 0; }
  bool isIndefinite() const { return isValid() && (flags & TimeFlags_Indefinite) != 0; }
  bool isPositiveInfinity() const { return isValid() && (flags & TimeFlags_PositiveInfinity) != 0; }
  bool isNegativeInfinity() const { return isValid() && (flags & TimeFlags_NegativeInfinity) != 0; }
  // Valid and neither indefinite nor infinite.
  bool isNumeric() const { return isValid() && (flags & TimeFlags_ImpliedValueFlagsMask) == 0; }
  bool hasBeenRounded() const { return isNumeric() && (flags & TimeFlags_HasBeenRounded) != 0; }
};

struct TimeRange {
  Time start;
  Time duration;
};

extern const Time kTimeZero;
extern const Time kTimeInvalid;
extern const Time kTimeIndefinite;
extern const Time kTimePositiveInfinity;
extern const Time kTimeNegativeInfinity;
extern const TimeRange kTimeRangeZero;
extern const TimeRange kTimeRangeInvalid;

// A numeric time; a timescale that is not positive gives the invalid time.
Time TimeMake(std::int64_t value, std::int32_t timescale);
// The nearest time in `preferredTimescale` (rounded when inexact); NaN gives the invalid time, the
// infinities (and seconds too large for the timescale) the infinite times.
Time TimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale);
// Seconds as a double: NaN for invalid and indefinite times, +/-infinity for the infinities.
double TimeGetSeconds(Time time);
// -1, 0 or 1. Order: negative infinity < numeric times < positive infinity < indefinite < invalid.
std::int32_t TimeCompare(Time a, Time b);
// Sums and differences: invalid when either side is, or for infinities of opposite signs; then
// indefinite when either side is; then the infinities; numeric times in their least common
// timescale, or the finer of the two (rounded) when that does not fit.
Time TimeAdd(Time a, Time b);
Time TimeSubtract(Time a, Time b);
Time TimeAbsoluteValue(Time time);
Time TimeMinimum(Time a, Time b);
Time TimeMaximum(Time a, Time b);
// The time in another timescale, rounded to the nearest value (half away from zero).
Time TimeConvertScale(Time time, std::int32_t newTimescale);
std::string TimeCopyDescription(Time time);

inline bool operator==(const Time& a, const Time& b) {
  return TimeCompare(a, b) == 0;
}
inline bool operator<(const Time& a, const Time& b) {
  return TimeCompare(a, b) < 0;
}

TimeRange TimeRangeMake(Time start, Time duration);
TimeRange TimeRangeFromTimeToTime(Time start, Time end);
Time TimeRangeGetEnd(TimeRange range);
// Valid when both times are numeric and the duration is not negative.
bool TimeRangeIsValid(TimeRange range);
bool TimeRangeIsEmpty(TimeRange range);
// Whether start <= time < end.
bool TimeRangeContainsTime(TimeRange range, Time time);
bool TimeRangeEqual(TimeRange a, TimeRange b);

}  // namespace cm
