#include "platform/text/NumberFormatter.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/numfmt.h>

#include "platform/text/IcuSupport.h"

namespace ns {

using namespace icu_support;

struct NumberFormatter::Cache {
  std::unique_ptr<icu::NumberFormat> format;
};

NumberFormatter::NumberFormatter() : locale_(Locale::currentLocale()) {}
NumberFormatter::~NumberFormatter() = default;

void NumberFormatter::invalidate() {
  std::lock_guard lock(mutex_);
  cache_.reset();
}
void NumberFormatter::setNumberStyle(Style style) {
  style_ = style;
  invalidate();
}
void NumberFormatter::setLocale(Locale locale) {
  locale_ = std::move(locale);
  invalidate();
}
bool NumberFormatter::usesGroupingSeparator() const {
  return grouping_.value_or(style_ != NoStyle);
}
void NumberFormatter::setUsesGroupingSeparator(bool uses) {
  grouping_ = uses;
  invalidate();
}
void NumberFormatter::setMinimumFractionDigits(int digits) {
  minFraction_ = digits < 0 ? 0 : digits;
  invalidate();
}
void NumberFormatter::setMaximumFractionDigits(int digits) {
  maxFraction_ = digits < 0 ? 0 : digits;
  invalidate();
}

// Called with mutex_ held.
NumberFormatter::Cache& NumberFormatter::cache() const {
  if (cache_) return *cache_;
  cache_ = std::make_unique<Cache>();
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = toIcu(locale_);
  std::unique_ptr<icu::NumberFormat> f;
  switch (style_) {
    case CurrencyStyle:
      f.reset(icu::NumberFormat::createCurrencyInstance(locale, status));
      break;
    case PercentStyle:
      f.reset(icu::NumberFormat::createPercentInstance(locale, status));
      break;
    default:
      f.reset(icu::NumberFormat::createInstance(locale, status));
      break;
  }
  if (U_FAILURE(status) || !f) return *cache_;
  if (style_ == NoStyle) {
    f->setMaximumFractionDigits(0);
    f->setRoundingMode(icu::NumberFormat::kRoundHalfEven);
  }
  f->setGroupingUsed(usesGroupingSeparator());
  if (minFraction_) f->setMinimumFractionDigits(*minFraction_);
  if (maxFraction_) f->setMaximumFractionDigits(*maxFraction_);
  cache_->format = std::move(f);
  return *cache_;
}

std::string NumberFormatter::stringFromNumber(double value) const {
  std::lock_guard lock(mutex_);
  Cache& c = cache();
  if (!c.format) return std::string();
  icu::UnicodeString out;
  c.format->format(value, out);
  return toUtf8(out);
}

std::string NumberFormatter::stringFromNumber(std::int64_t value) const {
  std::lock_guard lock(mutex_);
  Cache& c = cache();
  if (!c.format) return std::string();
  icu::UnicodeString out;
  c.format->format(static_cast<int64_t>(value), out);
  return toUtf8(out);
}

std::optional<double> NumberFormatter::numberFromString(const std::string& text) const {
  std::lock_guard lock(mutex_);
  Cache& c = cache();
  if (!c.format || text.empty()) return std::nullopt;
  icu::UnicodeString input = toUnicode(text);
  icu::Formattable result;
  icu::ParsePosition position(0);
  c.format->parse(input, result, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  double value = result.getDouble(status);
  if (U_FAILURE(status)) return std::nullopt;
  return value;
}

std::string NumberFormatter::groupingSeparator() const {
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(toIcu(locale_), status);
  return toUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
}

std::string NumberFormatter::decimalSeparator() const {
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(toIcu(locale_), status);
  return toUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
}

}  // namespace ns
