#include "platform/text/Locale.h"

#include <cstdlib>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/text/IcuSupport.h"

namespace ns {

namespace {

std::mutex& currentMutex() {
  static std::mutex m;
  return m;
}
std::optional<Locale>& currentOverride() {
  static NoDestructor<std::optional<Locale>> locale;
  return *locale;
}

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" -> "en_US_POSIX".
std::string identifierFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string id(value);
    id = id.substr(0, id.find_first_of(".@"));
    if (id == "C" || id == "POSIX") return "en_US_POSIX";
    return id;
  }
  return "en_US_POSIX";
}

}  // namespace

Locale Locale::currentLocale() {
  std::lock_guard lock(currentMutex());
  if (currentOverride()) return *currentOverride();
  return Locale(identifierFromEnvironment());
}

void Locale::setCurrentLocale(std::optional<Locale> locale) {
  std::lock_guard lock(currentMutex());
  currentOverride() = std::move(locale);
}

std::string Locale::languageCode() const {
  return icu_support::toIcu(*this).getLanguage();
}
std::string Locale::countryCode() const {
  return icu_support::toIcu(*this).getCountry();
}

}  // namespace ns
