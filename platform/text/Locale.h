#pragma once
// Locales by identifier ("en_US", "en_US_POSIX", "de_DE"). The current locale comes from the
// environment (LC_ALL, LC_MESSAGES, LANG) and can be replaced, which tests do to get fixed
// month names and separators.
#include <optional>
#include <string>

namespace ns {

class Locale {
 public:
  // The root locale.
  Locale() = default;
  explicit Locale(std::string identifier) : identifier_(std::move(identifier)) {}
  static Locale localeWithLocaleIdentifier(std::string identifier) { return Locale(std::move(identifier)); }

  static Locale currentLocale();
  static Locale systemLocale() { return Locale(); }
  // Replaces the current locale for the process; nullopt goes back to the environment's.
  static void setCurrentLocale(std::optional<Locale> locale);

  const std::string& localeIdentifier() const { return identifier_; }
  std::string languageCode() const;
  std::string countryCode() const;

  friend bool operator==(const Locale&, const Locale&) = default;

 private:
  std::string identifier_;
};

}  // namespace ns
