#pragma once
// An RFC 3339 time stamp of the Data API: date components, thousandths of a second, an offset
// from UTC (undefined when the local offset is unspecified), the universal-time flag of "Z", and
// an optional time zone. Unparsable text leaves the missing fields undefined, never fails.
#include <optional>
#include <string>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/text/Calendar.h"
#include "platform/text/TimeZone.h"

class ApiDateTime : public ns::Object {
 public:
  // The platform's undefined component (the largest signed 64-bit integer).
  static constexpr long long kUndefined = ns::DateComponentUndefined;

  ApiDateTime() = default;

  // nullptr for nil.
  static ns::Ref<ApiDateTime> dateTimeWithRFC3339String(const std::optional<std::string>& text);
  static ns::Ref<ApiDateTime> dateTimeWithDate_timeZone(const std::optional<ns::Date>& date,
                                                        const std::optional<ns::TimeZone>& zone);
  // The date's day in the local time zone, without a time and without a zone.
  static ns::Ref<ApiDateTime> dateTimeForAllDayWithDate(const std::optional<ns::Date>& date);
  // The components made a date by a Gregorian calendar (in the components' own zone when they
  // have one), then taken apart again.
  static ns::Ref<ApiDateTime> dateTimeWithDateComponents(const ns::DateComponents& components);

  void setFromRFC3339String(const std::string& text);
  void setFromDate_timeZone(const ns::Date& date, const std::optional<ns::TimeZone>& zone);

  std::string RFC3339String() const;
  std::string stringValue() const { return RFC3339String(); }
  // Without a time: noon UTC of the day, so that the day is the same in every zone.
  ns::Date date() const;
  ns::Calendar calendar() const { return calendarForTimeZone(timeZone()); }
  // The cached Gregorian calendar of a zone (nullopt: the default, local, zone).
  static ns::Calendar calendarForTimeZone(const std::optional<ns::TimeZone>& zone);

  // The stored zone; else "Universal" for universal time; else none when the offset is
  // undefined; else a zone of that offset.
  std::optional<ns::TimeZone> timeZone() const;
  // Stores the zone and takes its offset at this value's date (none makes the offset undefined).
  void setTimeZone(const std::optional<ns::TimeZone>& zone);
  bool hasTime() const;
  void setHasTime(bool hasTime);
  const ns::DateComponents& dateComponents() const { return components_; }
  void setDateComponents(const ns::DateComponents& components) { components_ = components; }
  long long milliseconds() const { return milliseconds_; }
  void setMilliseconds(long long ms) { milliseconds_ = ms; }
  long long offsetSeconds() const { return offsetSeconds_; }
  void setOffsetSeconds(long long seconds) { offsetSeconds_ = seconds; }
  bool isUniversalTime() const { return universal_; }
  void setUniversalTime(bool universal) { universal_ = universal; }

  // A new value with the same fields: the value has setters, so sharing it would let an edit
  // of one holder change another.
  ns::Ref<ApiDateTime> copy() const;
  static bool doesDateComponents_equalDateComponents(const ns::DateComponents& a,
                                                     const ns::DateComponents& b);

  std::string className() const override { return "ApiDateTime"; }
  // "ApiDateTime 0x...: {2013-05-04T10:20:30.500Z}".
  std::string description() const override;
  // Year to second, milliseconds, offset, universal flag and zone.
  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;

 private:
  ns::DateComponents components_;
  long long milliseconds_ = 0;
  long long offsetSeconds_ = kUndefined;
  bool universal_ = false;
  std::optional<ns::TimeZone> timeZone_;
};
