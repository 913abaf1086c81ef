#pragma once
// Dates to text and back with ICU patterns ("yyyy-MM-dd HH:mm:ss", "EEE, dd MMM yyyy HH:mm:ss
// 'GMT'") or the locale's styles, always in the Gregorian calendar. A new formatter uses the
// current locale and the default time zone; fixed formats should set the "en_US_POSIX" locale.
// One formatter may be used from several threads.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/text/Calendar.h"
#include "platform/text/Locale.h"
#include "platform/text/TimeZone.h"

namespace ns {

class DateFormatter : public Object {
 public:
  enum Style { NoStyle = 0, ShortStyle = 1, MediumStyle = 2, LongStyle = 3, FullStyle = 4 };
  // Accepted for callers that set it; every formatter behaves the modern way.
  enum Behavior { BehaviorDefault = 0, Behavior10_4 = 1040 };

  DateFormatter();
  ~DateFormatter() override;

  const std::string& dateFormat() const { return format_; }
  void setDateFormat(std::string format);
  Style dateStyle() const { return dateStyle_; }
  void setDateStyle(Style style);
  Style timeStyle() const { return timeStyle_; }
  void setTimeStyle(Style style);
  const Locale& locale() const { return locale_; }
  void setLocale(Locale locale);
  const TimeZone& timeZone() const { return timeZone_; }
  void setTimeZone(TimeZone zone);
  bool isLenient() const { return lenient_; }
  void setLenient(bool lenient);
  void setFormatterBehavior(Behavior) {}
  // The calendar is always Gregorian; its first weekday counts for the week fields ("e", "w").
  // Its time zone does not replace the formatter's, as on the platform.
  void setCalendar(const Calendar& calendar);

  std::string stringFromDate(const Date& date) const;
  // nullopt unless the whole text matches the format.
  std::optional<Date> dateFromString(const std::string& text) const;

 private:
  struct Cache;
  void invalidate();
  Cache& cache() const;

  std::string format_;
  Style dateStyle_ = NoStyle;
  Style timeStyle_ = NoStyle;
  Locale locale_;
  TimeZone timeZone_;
  bool lenient_ = false;
  long firstWeekday_ = 1;
  mutable std::mutex mutex_;
  mutable std::unique_ptr<Cache> cache_;
};

}  // namespace ns
