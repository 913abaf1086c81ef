#pragma once
// A point in time as seconds since 1970-01-01 00:00:00 UTC. The wall clock is read through a
// replaceable source so that a virtual clock can stand in for it in tests.
#include <compare>
#include <cstddef>
#include <string>

#include "platform/core/Types.h"

namespace ns {

class Date {
 public:
  // Seconds between 1970-01-01 and the 2001-01-01 reference date.
  static constexpr TimeInterval timeIntervalBetween1970AndReferenceDate = 978307200.0;

  // The 1970 epoch; use now() for the current time.
  constexpr Date() = default;

  static Date now();
  static Date date() { return now(); }
  static constexpr Date dateWithTimeIntervalSince1970(TimeInterval seconds) { return Date(seconds); }
  static constexpr Date dateWithTimeIntervalSinceReferenceDate(TimeInterval seconds) {
    return Date(seconds + timeIntervalBetween1970AndReferenceDate);
  }
  static Date dateWithTimeIntervalSinceNow(TimeInterval seconds) { return Date(now().since1970_ + seconds); }
  // The platform's distant dates (printed "0000-12-30" and "4001-01-01").
  static constexpr Date distantPast() { return dateWithTimeIntervalSinceReferenceDate(-63114076800.0); }
  static constexpr Date distantFuture() { return dateWithTimeIntervalSinceReferenceDate(63113904000.0); }

  constexpr TimeInterval timeIntervalSince1970() const { return since1970_; }
  constexpr TimeInterval timeIntervalSinceReferenceDate() const {
    return since1970_ - timeIntervalBetween1970AndReferenceDate;
  }
  constexpr TimeInterval timeIntervalSinceDate(const Date& other) const {
    return since1970_ - other.since1970_;
  }
  TimeInterval timeIntervalSinceNow() const { return since1970_ - now().since1970_; }
  constexpr Date dateByAddingTimeInterval(TimeInterval seconds) const { return Date(since1970_ + seconds); }

  ComparisonResult compare(const Date& other) const;
  Date earlierDate(const Date& other) const { return other.since1970_ < since1970_ ? other : *this; }
  Date laterDate(const Date& other) const { return other.since1970_ > since1970_ ? other : *this; }
  bool isEqualToDate(const Date& other) const { return since1970_ == other.since1970_; }

  friend constexpr bool operator==(const Date& a, const Date& b) { return a.since1970_ == b.since1970_; }
  friend constexpr std::partial_ordering operator<=>(const Date& a, const Date& b) {
    return a.since1970_ <=> b.since1970_;
  }
  std::size_t hash() const;

  // "2001-01-01 00:00:00 +0000" (UTC, whole seconds).
  std::string description() const;

  // The wall-clock source: a function answering seconds since 1970. Passing nullptr restores the
  // system clock. Answers the previous source (nullptr when it was the system clock).
  using WallClockSource = TimeInterval (*)();
  static WallClockSource setWallClockSource(WallClockSource source);
  // The system's real-time clock, whatever source is installed.
  static TimeInterval systemTimeSince1970();

 private:
  constexpr explicit Date(TimeInterval since1970) : since1970_(since1970) {}
  TimeInterval since1970_ = 0;
};

}  // namespace ns
