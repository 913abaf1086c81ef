#pragma once
// Numbers to text and back in a locale's conventions. The decimal style groups thousands with
// the locale's separator ("1,234,567" in English, "1.234.567" in German) and keeps up to three
// fraction digits; no style prints a plain rounded integer.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/text/Locale.h"

namespace ns {

class NumberFormatter : public Object {
 public:
  enum Style { NoStyle = 0, DecimalStyle = 1, CurrencyStyle = 2, PercentStyle = 3 };

  NumberFormatter();
  ~NumberFormatter() override;

  Style numberStyle() const { return style_; }
  void setNumberStyle(Style style);
  const Locale& locale() const { return locale_; }
  void setLocale(Locale locale);
  bool usesGroupingSeparator() const;
  void setUsesGroupingSeparator(bool uses);
  void setMinimumFractionDigits(int digits);
  void setMaximumFractionDigits(int digits);

  std::string stringFromNumber(double value) const;
  std::string stringFromNumber(std::int64_t value) const;
  std::string stringFromNumber(int value) const { return stringFromNumber(static_cast<std::int64_t>(value)); }
  // nullopt unless the whole text is a number in this format.
  std::optional<double> numberFromString(const std::string& text) const;

  // The locale's grouping and decimal separators.
  std::string groupingSeparator() const;
  std::string decimalSeparator() const;

 private:
  struct Cache;
  void invalidate();
  Cache& cache() const;

  Style style_ = NoStyle;
  Locale locale_;
  std::optional<bool> grouping_;
  std::optional<int> minFraction_, maxFraction_;
  mutable std::mutex mutex_;
  mutable std::unique_ptr<Cache> cache_;
};

}  // namespace ns
