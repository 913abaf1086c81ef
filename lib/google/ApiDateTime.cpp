#include "lib/google/ApiDateTime.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/core/NoDestructor.h"

namespace {

constexpr long kUndefinedComponent = ns::DateComponentUndefined;

// Milliseconds of a fraction of a second: rounded, but never 1000, which would write ".1000"
// and stand for a whole second the seconds do not hold.
long long millisecondsOfFraction(double fraction) {
  long long ms = std::llround(fraction * 1000.0);
  if (ms > 999) ms = 999;
  if (ms < 0) ms = 0;
  return ms;
}

// A scanner that skips nothing: each scan either consumes what it wants or leaves the position.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  bool scanInteger(long& out) {
    std::size_t p = pos_;
    bool negative = false;
    if (p < s_.size() && (s_[p] == '+' || s_[p] == '-')) negative = s_[p++] == '-';
    std::size_t digits = p;
    long long value = 0;
    bool overflow = false;
    while (p < s_.size() && s_[p] >= '0' && s_[p] <= '9') {
      int d = s_[p] - '0';
      if (value > (std::numeric_limits<long long>::max() - d) / 10) overflow = true;
      if (!overflow) value = value * 10 + d;
      ++p;
    }
    if (p == digits) return false;
    // Out-of-range text saturates, as the platform's scanner does.
    if (overflow) {
      out = negative ? std::numeric_limits<long>::min() : std::numeric_limits<long>::max();
    } else {
      out = static_cast<long>(negative ? -value : value);
    }
    pos_ = p;
    return true;
  }

  // One or more characters of the set; the run taken is stored in `taken`.
  bool scanCharacters(std::string_view set, std::string_view* taken = nullptr) {
    std::size_t p = pos_;
    while (p < s_.size() && set.find(s_[p]) != std::string_view::npos) ++p;
    if (p == pos_) return false;
    if (taken) *taken = s_.substr(pos_, p - pos_);
    pos_ = p;
    return true;
  }

  // A decimal number: its whole part and its fraction (0 <= fraction < 1).
  bool scanDecimal(long& whole, double& fraction) {
    std::size_t p = pos_;
    bool negative = false;
    if (p < s_.size() && (s_[p] == '+' || s_[p] == '-')) negative = s_[p++] == '-';
    std::size_t intStart = p;
    while (p < s_.size() && s_[p] >= '0' && s_[p] <= '9') ++p;
    std::size_t intEnd = p;
    std::size_t fracStart = p, fracEnd = p;
    if (p < s_.size() && s_[p] == '.') {
      fracStart = ++p;
      while (p < s_.size() && s_[p] >= '0' && s_[p] <= '9') ++p;
      fracEnd = p;
      if (intEnd == intStart && fracEnd == fracStart) return false;
    }
    if (intEnd == intStart && fracEnd == fracStart) return false;
    long long value = 0;
    for (std::size_t i = intStart; i < intEnd; ++i) {
      if (value > std::numeric_limits<long>::max() / 10) {
        value = std::numeric_limits<long>::max();
        break;
      }
      value = value * 10 + (s_[i] - '0');
    }
    double frac = 0;
    if (fracEnd > fracStart) {
      // Parsed without locale: the fraction's text is always written with ".".
      std::string text = "0." + std::string(s_.substr(fracStart, fracEnd - fracStart));
      std::from_chars(text.data(), text.data() + text.size(), frac);
    }
    whole = static_cast<long>(negative ? -value : value);
    fraction = frac;
    pos_ = p;
    return true;
  }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

ns::TimeZone universalZone() {
  static const ns::NoDestructor<ns::TimeZone> zone(
      ns::TimeZone::timeZoneWithName("Universal").value_or(ns::TimeZone::GMT()));
  return *zone;
}

struct CalendarCache {
  std::mutex lock;
  std::map<std::string, ns::Calendar> byZone;
};

CalendarCache& calendarCache() {
  static ns::NoDestructor<CalendarCache> cache;
  return *cache;
}

ns::DateComponents timeComponents(const ns::DateComponents& c) {
  ns::DateComponents out;
  out.year = c.year;
  out.month = c.month;
  out.day = c.day;
  out.hour = c.hour;
  out.minute = c.minute;
  out.second = c.second;
  return out;
}

}  // namespace

ns::Ref<ApiDateTime> ApiDateTime::dateTimeWithRFC3339String(const std::optional<std::string>& text) {
  if (!text) return nullptr;
  auto value = ns::make<ApiDateTime>();
  value->setFromRFC3339String(*text);
  return value;
}

ns::Ref<ApiDateTime> ApiDateTime::dateTimeWithDate_timeZone(const std::optional<ns::Date>& date,
                                                            const std::optional<ns::TimeZone>& zone) {
  if (!date) return nullptr;
  auto value = ns::make<ApiDateTime>();
  value->setFromDate_timeZone(*date, zone);
  return value;
}

ns::Ref<ApiDateTime> ApiDateTime::dateTimeForAllDayWithDate(const std::optional<ns::Date>& date) {
  if (!date) return nullptr;
  auto value = ns::make<ApiDateTime>();
  value->setFromDate_timeZone(*date, std::nullopt);
  value->setHasTime(false);
  return value;
}

ns::Ref<ApiDateTime> ApiDateTime::dateTimeWithDateComponents(const ns::DateComponents& components) {
  ns::Calendar calendar = calendarForTimeZone(components.timeZone);
  auto date = calendar.dateFromComponents(components);
  if (!date) return nullptr;
  return dateTimeWithDate_timeZone(*date, components.timeZone);
}

void ApiDateTime::setFromRFC3339String(const std::string& text) {
  Scanner scanner(text);
  long year = kUndefinedComponent, month = kUndefinedComponent, day = kUndefinedComponent;
  long hour = kUndefinedComponent, minute = kUndefinedComponent, second = kUndefinedComponent;
  long long ms = 0;
  std::string_view sign;
  long offsetHours = 0, offsetMinutes = 0;
  bool haveSign = false;

  if (scanner.scanInteger(year) && scanner.scanCharacters("-") && scanner.scanInteger(month) &&
      scanner.scanCharacters("-") && scanner.scanInteger(day) && scanner.scanCharacters("Tt ") &&
      scanner.scanInteger(hour) && scanner.scanCharacters(":") && scanner.scanInteger(minute) &&
      scanner.scanCharacters(":")) {
    long whole = 0;
    double fraction = 0;
    if (scanner.scanDecimal(whole, fraction)) {
      second = whole;
      ms = millisecondsOfFraction(fraction);
      if (scanner.scanCharacters("+-zZ", &sign)) {
        haveSign = true;
        if (scanner.scanInteger(offsetHours) && scanner.scanCharacters(":"))
          scanner.scanInteger(offsetMinutes);
      }
    }
  }

  components_ = ns::DateComponents();
  components_.year = year;
  components_.month = month;
  components_.day = day;
  components_.hour = hour;
  components_.minute = minute;
  components_.second = second;
  milliseconds_ = ms;
  timeZone_.reset();
  universal_ = false;
  offsetSeconds_ = kUndefined;
  if (!haveSign) return;
  if (sign == "Z" || sign == "z") {
    universal_ = true;
    offsetSeconds_ = 0;
    return;
  }
  // Hour and minute offsets far outside any zone are kept as written; the arithmetic is done
  // wide so that hostile text cannot overflow it.
  long long offset = static_cast<long long>(std::clamp<long>(offsetHours, -1000000, 1000000)) * 3600 +
                     static_cast<long long>(std::clamp<long>(offsetMinutes, -1000000, 1000000)) * 60;
  if (sign == "-") {
    // "-00:00": the local offset is unspecified (RFC 3339, 4.3).
    offsetSeconds_ = offset == 0 ? kUndefined : -offset;
  } else {
    offsetSeconds_ = offset;
  }
}

void ApiDateTime::setFromDate_timeZone(const ns::Date& date, const std::optional<ns::TimeZone>& zone) {
  ns::Calendar calendar = calendarForTimeZone(zone);
  ns::DateComponents parts =
      calendar.components(ns::CalendarUnitYear | ns::CalendarUnitMonth | ns::CalendarUnitDay |
                              ns::CalendarUnitHour | ns::CalendarUnitMinute | ns::CalendarUnitSecond,
                          date);
  components_ = timeComponents(parts);
  double t = date.timeIntervalSince1970();
  milliseconds_ = millisecondsOfFraction(t - std::floor(t));
  universal_ = false;
  if (zone) {
    offsetSeconds_ = zone->secondsFromGMTForDate(date);
    universal_ = offsetSeconds_ == 0 && *zone == universalZone();
  } else {
    offsetSeconds_ = kUndefined;
  }
  timeZone_ = zone;
}

std::string ApiDateTime::RFC3339String() const {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld", components_.year, components_.month, components_.day);
  std::string out = buf;
  if (!hasTime()) return out;
  std::snprintf(buf, sizeof buf, "T%02ld:%02ld:%02ld", components_.hour, components_.minute,
                components_.second);
  out += buf;
  if (milliseconds_ > 0) {
    std::snprintf(buf, sizeof buf, ".%03lld", milliseconds_);
    out += buf;
  }
  if (universal_) {
    out += "Z";
  } else if (offsetSeconds_ == kUndefined) {
    out += "-00:00";
  } else {
    unsigned long long magnitude = offsetSeconds_ < 0 ? 0ull - static_cast<unsigned long long>(offsetSeconds_)
                                                      : static_cast<unsigned long long>(offsetSeconds_);
    std::snprintf(buf, sizeof buf, "%s%02llu:%02llu", offsetSeconds_ < 0 ? "-" : "+", (magnitude / 3600) % 24,
                  (magnitude / 60) % 60);
    out += buf;
  }
  return out;
}

ns::Date ApiDateTime::date() const {
  if (!hasTime()) {
    ns::DateComponents noon;
    noon.year = components_.year;
    noon.month = components_.month;
    noon.day = components_.day;
    noon.hour = 12;
    noon.minute = 0;
    noon.second = 0;
    return calendarForTimeZone(universalZone()).dateFromComponents(noon).value_or(ns::Date());
  }
  ns::Date date = calendar().dateFromComponents(timeComponents(components_)).value_or(ns::Date());
  if (milliseconds_ > 0) date = date.dateByAddingTimeInterval(static_cast<double>(milliseconds_) / 1000.0);
  return date;
}

ns::Calendar ApiDateTime::calendarForTimeZone(const std::optional<ns::TimeZone>& zone) {
  // The local zone may be changed for the process, so a calendar for "no zone" is made fresh.
  if (!zone) return ns::Calendar();
  CalendarCache& cache = calendarCache();
  std::lock_guard guard(cache.lock);
  auto it = cache.byZone.find(zone->name());
  if (it == cache.byZone.end()) {
    ns::Calendar calendar;
    calendar.setTimeZone(*zone);
    it = cache.byZone.emplace(zone->name(), calendar).first;
  }
  return it->second;
}

std::optional<ns::TimeZone> ApiDateTime::timeZone() const {
  if (timeZone_) return timeZone_;
  if (universal_) return universalZone();
  if (offsetSeconds_ == kUndefined) return std::nullopt;
  if (offsetSeconds_ < std::numeric_limits<long>::min() ||
      offsetSeconds_ > std::numeric_limits<long>::max()) {
    return std::nullopt;
  }
  return ns::TimeZone::timeZoneForSecondsFromGMT(static_cast<long>(offsetSeconds_));
}

void ApiDateTime::setTimeZone(const std::optional<ns::TimeZone>& zone) {
  timeZone_ = zone;
  offsetSeconds_ = zone ? zone->secondsFromGMTForDate(date()) : kUndefined;
}

bool ApiDateTime::hasTime() const {
  return components_.hour != kUndefinedComponent && components_.minute != kUndefinedComponent;
}

void ApiDateTime::setHasTime(bool shouldHaveTime) {
  bool had = hasTime();
  if (shouldHaveTime == had) return;
  if (shouldHaveTime) {
    components_.hour = 0;
    components_.minute = 0;
    components_.second = 0;
  } else {
    components_.hour = kUndefinedComponent;
    components_.minute = kUndefinedComponent;
    components_.second = kUndefinedComponent;
    timeZone_.reset();
  }
  milliseconds_ = 0;
  offsetSeconds_ = kUndefined;
  universal_ = false;
}

ns::Ref<ApiDateTime> ApiDateTime::copy() const {
  auto out = ns::make<ApiDateTime>();
  out->components_ = components_;
  out->milliseconds_ = milliseconds_;
  out->offsetSeconds_ = offsetSeconds_;
  out->universal_ = universal_;
  out->timeZone_ = timeZone_;
  return out;
}

bool ApiDateTime::doesDateComponents_equalDateComponents(const ns::DateComponents& a,
                                                         const ns::DateComponents& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

std::string ApiDateTime::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %p: {", static_cast<const void*>(this));
  return className() + buf + RFC3339String() + "}";
}

bool ApiDateTime::isEqual(const ns::Object* other) const {
  if (other == this) return true;
  auto* o = dynamic_cast<const ApiDateTime*>(other);
  if (!o) return false;
  return doesDateComponents_equalDateComponents(components_, o->components_) && timeZone() == o->timeZone() &&
         offsetSeconds_ == o->offsetSeconds_ && universal_ == o->universal_ &&
         milliseconds_ == o->milliseconds_;
}

std::size_t ApiDateTime::hash() const {
  std::size_t h = static_cast<std::size_t>(components_.year);
  for (long part :
       {components_.month, components_.day, components_.hour, components_.minute, components_.second}) {
    h = h * 31 + static_cast<std::size_t>(part);
  }
  return h * 31 + static_cast<std::size_t>(milliseconds_);
}
