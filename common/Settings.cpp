#include "common/Settings.h"

#include <map>
#include <mutex>
#include <string_view>

#include "platform/core/NoDestructor.h"
#include "platform/core/Value.h"
#include "platform/foundation/UserDefaults.h"

namespace {

// The defaults of the keys that do not read as "", NO or 0.
struct StringDefault {
  std::string_view key;
  std::string_view value;
};
constexpr StringDefault kStringDefaults[] = {
    {kPreferredVideoQualityKey, "720"},
};

constexpr std::string_view kBoolsDefaultingToYes[] = {
    kAppendPlaylistNameToDownloadPathKey,
    kUseSearchHistoryKey,
    kPrivatePlaylistKey,
};

struct IntDefault {
  std::string_view key;
  long value;
};
constexpr IntDefault kIntDefaults[] = {
    {kCachePolicyKey, 1},
    {kCacheSizeKey, 10},
    {kLeftSplitViewPositionKey, 0},
};

std::string defaultString(std::string_view key) {
  for (const auto& entry : kStringDefaults)
    if (entry.key == key) return std::string(entry.value);
  return {};
}

bool defaultBool(std::string_view key) {
  for (auto yes : kBoolsDefaultingToYes)
    if (yes == key) return true;
  return false;
}

long defaultInt(std::string_view key) {
  for (const auto& entry : kIntDefaults)
    if (entry.key == key) return entry.value;
  return 0;
}

ns::Value storedValue(const std::string& key) {
  return ns::UserDefaults::standardUserDefaults()->objectForKey(key);
}

void store(const std::string& key, ns::Value value) {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setObject_forKey(value, key);
  defaults->synchronize();
}

struct ChosenQualities {
  std::mutex mutex;
  std::map<std::string, std::string> byVideoId;
};

ChosenQualities& chosenQualities() {
  // Downloaders on other threads may still ask while the process exits.
  static ns::NoDestructor<ChosenQualities> table;
  return *table;
}

}  // namespace

std::string getStringSetting(const std::string& key) {
  ns::Value value = storedValue(key);
  if (value.isString()) return value.string();
  return defaultString(key);
}

void setStringSetting(const std::string& key, const std::string& value) {
  store(key, ns::Value(value));
}

bool getBoolSetting(const std::string& key) {
  ns::Value value = storedValue(key);
  if (value.isString()) {
    if (value.string() == "Y") return true;
    if (value.string() == "N") return false;
  }
  return defaultBool(key);
}

void setBoolSetting(const std::string& key, bool value) {
  store(key, ns::Value(value ? "Y" : "N"));
}

long getIntSetting(const std::string& key) {
  ns::Value value = storedValue(key);
  if (value.isNumber()) return value.integerValue();
  return defaultInt(key);
}

void setIntSetting(const std::string& key, long value) {
  store(key, ns::Value(value));
}

std::string getSearchOrder() {
  std::string order = getStringSetting(kSearchOrderKey);
  return order.empty() ? "relevance" : order;
}

void setSearchOrder(const std::string& order) {
  setStringSetting(kSearchOrderKey, order);
}

std::string getPreferredVideoQuality() {
  std::string quality = getStringSetting(kPreferredVideoQualityKey);
  return quality.empty() ? "360" : quality;
}

std::optional<std::string> getChosenVideoQuality(const std::optional<std::string>& videoId) {
  if (!videoId) return std::nullopt;
  auto& table = chosenQualities();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.byVideoId.find(*videoId);
  if (it == table.byVideoId.end()) return std::nullopt;
  return it->second;
}

void setChosenVideoQuality(const std::optional<std::string>& videoId,
                           const std::optional<std::string>& quality) {
  if (!videoId || !quality) return;
  auto& table = chosenQualities();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.byVideoId[*videoId] = *quality;
}

void resetChosenVideoQualitiesForTesting() {
  auto& table = chosenQualities();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.byVideoId.clear();
}
