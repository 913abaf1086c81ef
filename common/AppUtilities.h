#pragma once
// Process-wide helpers of the application shell that every subsystem calls: notification
// posting and observing, the application's version, digests of strings, and the formatting of
// sizes, times and durations. The typed settings come along (Settings.h); the folder names are
// in CacheUtilities.h.
#include <cstdint>
#include <optional>
#include <string>

#include "common/Settings.h"
#include "platform/foundation/NotificationCenter.h"

// Posts the named notification with no object on the default notification centre, on the
// calling thread; every observer has run when it returns.
void postNotification(const std::string& name);

// Registers `observer` with the default notification centre for `name` from any sender;
// `selector` is a member function taking the notification or nothing.
template <class T, class Method>
void addNotificationObserver(T* observer, const std::string& name, Method selector) {
  ns::NotificationCenter::defaultCenter()->addObserver_selector_name_object(observer, selector, name);
}
template <class T, class Method>
void addNotificationObserver(const ns::Ref<T>& observer, const std::string& name, Method selector) {
  addNotificationObserver(observer.get(), name, selector);
}
// Removes the observer's registrations for `name`.
void removeNotificationObserver(const void* observer, const std::string& name);

// The main bundle's "CFBundleShortVersionString", nil when it has none.
std::optional<std::string> getAppShortVersion();

// The MD5 digest of the text's UTF-8 bytes up to the first NUL, as 32 lowercase hex digits.
std::string md5HexString(const std::string& text);

// "%lld B" below 1024 bytes, "%g KB" below 1 MiB, "%.1f MB" below 1 GiB, else "%g GB"; the
// value is cut, not rounded, to one decimal.
std::string formatByteSize(std::int64_t bytes);

// "m:ss" below 3660 seconds, else "h:mm:ss", preceded by "-" when `negative` (or when the
// seconds themselves are negative). Wider than int: a player's position in a damaged or forged
// file can be past 68 years.
std::string timeStringFromSeconds(long long seconds, bool negative);

// The seconds of an ISO-8601 duration such as "PT1H2M3S" or "P1DT2H": weeks, days, hours,
// minutes and seconds (fractions of a second are cut; years and months count nothing, as their
// length varies). 0 for text that is no such duration.
long secondsFromISODuration(const std::string& text);

// The running system's version as "major.minor.patch" ("10.10.5").
std::string getOSVersionString();
// Whether the running system is version 10.9 or later.
bool isSystemMavericksOrLater();
