#include "platform/text/DateFormatter.h"

#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>

#include "platform/text/IcuSupport.h"

namespace ns {

using namespace icu_support;

struct DateFormatter::Cache {
  std::unique_ptr<icu::DateFormat> format;  // null when the settings give no usable format
};

DateFormatter::DateFormatter() : locale_(Locale::currentLocale()), timeZone_(TimeZone::defaultTimeZone()) {}
DateFormatter::~DateFormatter() = default;

void DateFormatter::invalidate() {
  std::lock_guard lock(mutex_);
  cache_.reset();
}

void DateFormatter::setDateFormat(std::string format) {
  format_ = std::move(format);
  invalidate();
}
void DateFormatter::setDateStyle(Style style) {
  dateStyle_ = style;
  format_.clear();
  invalidate();
}
void DateFormatter::setTimeStyle(Style style) {
  timeStyle_ = style;
  format_.clear();
  invalidate();
}
void DateFormatter::setLocale(Locale locale) {
  locale_ = std::move(locale);
  invalidate();
}
void DateFormatter::setTimeZone(TimeZone zone) {
  timeZone_ = std::move(zone);
  invalidate();
}
void DateFormatter::setCalendar(const Calendar& calendar) {
  firstWeekday_ = calendar.firstWeekday() >= 1 && calendar.firstWeekday() <= 7 ? calendar.firstWeekday() : 1;
  invalidate();
}

void DateFormatter::setLenient(bool lenient) {
  lenient_ = lenient;
  invalidate();
}

namespace {

icu::DateFormat::EStyle icuStyle(DateFormatter::Style style) {
  switch (style) {
    case DateFormatter::ShortStyle:
      return icu::DateFormat::kShort;
    case DateFormatter::MediumStyle:
      return icu::DateFormat::kMedium;
    case DateFormatter::LongStyle:
      return icu::DateFormat::kLong;
    case DateFormatter::FullStyle:
      return icu::DateFormat::kFull;
    default:
      return icu::DateFormat::kNone;
  }
}

}  // namespace

// Called with mutex_ held.
DateFormatter::Cache& DateFormatter::cache() const {
  if (cache_) return *cache_;
  cache_ = std::make_unique<Cache>();
  icu::Locale locale = toIcu(locale_);
  std::unique_ptr<icu::DateFormat> format;
  if (!format_.empty()) {
    UErrorCode status = U_ZERO_ERROR;
    auto pattern = std::make_unique<icu::SimpleDateFormat>(toUnicode(format_), locale, status);
    if (U_SUCCESS(status)) format = std::move(pattern);
  } else if (dateStyle_ != NoStyle || timeStyle_ != NoStyle) {
    format.reset(icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle_), icuStyle(timeStyle_), locale));
  }
  if (format) {
    if (auto calendar = gregorian(timeZone_, locale_)) {
      calendar->setFirstDayOfWeek(static_cast<UCalendarDaysOfWeek>(firstWeekday_));
      format->adoptCalendar(calendar.release());
    }
    format->setTimeZone(*toIcu(timeZone_));
    format->setLenient(lenient_);
    cache_->format = std::move(format);
  }
  return *cache_;
}

std::string DateFormatter::stringFromDate(const Date& date) const {
  std::lock_guard lock(mutex_);
  Cache& c = cache();
  if (!c.format) return std::string();
  icu::UnicodeString out;
  c.format->format(toUDate(date.timeIntervalSince1970()), out);
  return toUtf8(out);
}

std::optional<Date> DateFormatter::dateFromString(const std::string& text) const {
  std::lock_guard lock(mutex_);
  Cache& c = cache();
  if (!c.format || text.empty()) return std::nullopt;
  icu::UnicodeString input = toUnicode(text);
  icu::ParsePosition position(0);
  UDate date = c.format->parse(input, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  return Date::dateWithTimeIntervalSince1970(fromUDate(date));
}

}  // namespace ns
