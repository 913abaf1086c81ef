#include "app/browse/SearchHistory.h"

#include <algorithm>
#include <set>

#include "common/Settings.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/core/Value.h"
#include "platform/foundation/UserDefaults.h"

namespace {

std::optional<std::string> storedHistory() {
  return ns::UserDefaults::standardUserDefaults()->stringForKey(kSearchHistoryKey);
}

std::optional<std::set<std::string>>& skipSet() {
  static ns::NoDestructor<std::optional<std::set<std::string>>> set;
  return *set;
}

}  // namespace

std::optional<std::vector<std::string>> getSearchHistory() {
  if (!getBoolSetting(kUseSearchHistoryKey)) return std::nullopt;
  auto stored = storedHistory();
  if (!stored) return std::nullopt;
  return ns::str::componentsSeparatedByString(*stored, "\n");
}

void clearSearchHistory() {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setObject_forKey(ns::Value(ns::Array{}), kSearchHistoryKey);
  defaults->synchronize();
}

void addSearchHistory(const std::string& query) {
  if (!getBoolSetting(kUseSearchHistoryKey)) return;
  // A stored entry never holds a line break: it would read back as several entries.
  std::string entry = ns::str::replaceOccurrences(ns::str::replaceOccurrences(query, "\r\n", " "), "\n", " ");
  entry = ns::str::replaceOccurrences(entry, "\r", " ");
  std::vector<std::string> list;
  if (auto stored = storedHistory()) list = ns::str::componentsSeparatedByString(*stored, "\n");
  list.erase(std::remove(list.begin(), list.end(), entry), list.end());
  list.insert(list.begin(), entry);
  if (list.size() > kSearchHistoryLimit) list.resize(kSearchHistoryLimit);
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setObject_forKey(ns::Value(ns::str::join(list, "\n")), kSearchHistoryKey);
  defaults->synchronize();
}

void loadSkipVideos() {
  auto parts = ns::str::componentsSeparatedByString(getStringSetting(kSkipVideosKey), ",");
  skipSet() = std::set<std::string>(parts.begin(), parts.end());
}

bool isSkipVideo(const std::string& videoId) {
  if (!skipSet()) loadSkipVideos();
  return skipSet()->count(videoId) > 0;
}

void resetSkipVideosForTesting() {
  skipSet().reset();
}
