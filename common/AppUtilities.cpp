#include "common/AppUtilities.h"

#include <cstdio>
#include <string_view>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/security/Digest.h"

void postNotification(const std::string& name) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(name, nullptr);
}

void removeNotificationObserver(const void* observer, const std::string& name) {
  ns::NotificationCenter::defaultCenter()->removeObserver_name_object(observer, name, nullptr);
}

std::optional<std::string> getAppShortVersion() {
  return ns::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString").optionalString();
}

std::string md5HexString(const std::string& text) {
  std::string_view bytes(text);
  return sec::md5Hex(bytes.substr(0, bytes.find('\0')));
}

namespace {

// The count in `unit`s, in whole tenths, cut rather than rounded; without overflow for any
// non-negative count.
long long tenthsOf(long long bytes, long long unit) {
  return bytes / unit * 10 + bytes % unit * 10 / unit;
}

std::string format(const char* pattern, double value, const char* suffix) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value, suffix);
  return buffer;
}

}  // namespace

std::string formatByteSize(std::int64_t bytes) {
  constexpr long long kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024;
  if (bytes < kKiB) return std::to_string(bytes) + " B";
  if (bytes < kMiB) return format("%g %s", tenthsOf(bytes, kKiB) / 10.0, "KB");
  if (bytes < kGiB) return format("%.1f %s", tenthsOf(bytes, kMiB) / 10.0, "MB");
  return format("%g %s", tenthsOf(bytes, kGiB) / 10.0, "GB");
}

std::string timeStringFromSeconds(long long seconds, bool negative) {
  // The magnitude unsigned, so that the most negative count has one too.
  unsigned long long value = static_cast<unsigned long long>(seconds);
  if (seconds < 0) {
    value = 0 - value;
    negative = true;
  }
  char buffer[64];
  const char* sign = negative ? "-" : "";
  if (value < 3660) {
    std::snprintf(buffer, sizeof buffer, "%s%llu:%02llu", sign, value / 60, value % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s%llu:%02llu:%02llu", sign, value / 3600, value / 60 % 60,
                  value % 60);
  }
  return buffer;
}

long secondsFromISODuration(const std::string& text) {
  if (text.size() < 2 || text[0] != 'P') return 0;
  long total = 0;
  bool inTime = false;
  std::size_t pos = 1;
  while (pos < text.size()) {
    if (text[pos] == 'T') {
      if (inTime) return 0;
      inTime = true;
      ++pos;
      continue;
    }
    std::size_t start = pos;
    long number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (__builtin_mul_overflow(number, 10, &number) ||
          __builtin_add_overflow(number, text[pos] - '0', &number))
        return 0;
      ++pos;
    }
    if (pos == start) return 0;
    bool fraction = false;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
      fraction = true;
      std::size_t digits = ++pos;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
      if (pos == digits) return 0;
    }
    if (pos >= text.size()) return 0;
    char designator = text[pos++];
    long unit = 0;
    if (inTime) {
      if (designator == 'H')
        unit = 3600;
      else if (designator == 'M')
        unit = 60;
      else if (designator == 'S')
        unit = 1;
      else
        return 0;
    } else {
      if (designator == 'W')
        unit = 7 * 86400;
      else if (designator == 'D')
        unit = 86400;
      else if (designator != 'Y' && designator != 'M')
        return 0;  // years and months count nothing
    }
    // Only seconds may carry a fraction, which is cut.
    if (fraction && unit != 1) return 0;
    long seconds = 0;
    if (__builtin_mul_overflow(number, unit, &seconds) || __builtin_add_overflow(total, seconds, &total))
      return 0;
  }
  return total;
}

std::string getOSVersionString() {
  ns::OperatingSystemVersion version = ns::ProcessInfo::processInfo()->operatingSystemVersion();
  return std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) + "." +
         std::to_string(version.patchVersion);
}

bool isSystemMavericksOrLater() {
  return ns::ProcessInfo::processInfo()->isOperatingSystemAtLeastVersion({10, 9, 0});
}
