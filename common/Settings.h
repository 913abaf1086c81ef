#pragma once
// The application's settings: typed accessors over the standard user defaults, the keys they
// are stored under and the default each key reads as when nothing usable is stored.
//
// A value stored with another type than the accessor's reads as absent (an array left under a
// string key reads as the string default). Booleans are the texts "Y" and "N"; anything else
// under a boolean key reads as the key's default. Setters store and save the defaults at once.
// Every function is safe from any thread.
#include <optional>
#include <string>

// Keys of the settings.
inline constexpr char kPreferredVideoQualityKey[] = "preferredVideoQuality";
inline constexpr char kDownloadPathKey[] = "downloadPath";
inline constexpr char kUserAgentKey[] = "yt_useragent";
inline constexpr char kFeedRegionKey[] = "feedRegion";
inline constexpr char kSearchLocationKey[] = "SearchLocation";
inline constexpr char kSkipVideosKey[] = "skipVideos";
inline constexpr char kSearchOrderKey[] = "searchOrder";
inline constexpr char kSearchHistoryKey[] = "search_history";
inline constexpr char kAppendPlaylistNameToDownloadPathKey[] = "appendPlaylistNameToDownloadPath";
inline constexpr char kUseSearchHistoryKey[] = "UseSearchHistory";
inline constexpr char kPrivatePlaylistKey[] = "privatePlaylist";
inline constexpr char kAskQualityKey[] = "askquality";
inline constexpr char kSearchOnlyHDKey[] = "SearchOnlyHD";
inline constexpr char kSafeSearchKey[] = "SafeSearch";
inline constexpr char kV2nvKey[] = "v2nv";
inline constexpr char kWhiteButtonsKey[] = "white_buttons";
inline constexpr char kCachePolicyKey[] = "cachePolicy";
inline constexpr char kCacheSizeKey[] = "cacheSize";
inline constexpr char kLeftSplitViewPositionKey[] = "leftSplitViewPosition";

// The string stored under `key`; when absent, "720" for "preferredVideoQuality" and "" for
// every other key.
std::string getStringSetting(const std::string& key);
void setStringSetting(const std::string& key, const std::string& value);

// YES for a stored "Y", NO for a stored "N", else the key's default: YES for
// "appendPlaylistNameToDownloadPath", "UseSearchHistory" and "privatePlaylist", NO otherwise.
bool getBoolSetting(const std::string& key);
// Stores "Y" or "N".
void setBoolSetting(const std::string& key, bool value);

// The stored number (cut to an integer); when absent, "cachePolicy" 1, "cacheSize" 10 (GiB, -1
// for no limit), and 0 for every other key.
long getIntSetting(const std::string& key);
void setIntSetting(const std::string& key, long value);

// "searchOrder", or "relevance" when it is empty or absent.
std::string getSearchOrder();
void setSearchOrder(const std::string& order);

// "preferredVideoQuality", or "360" when it is empty.
std::string getPreferredVideoQuality();

// The quality ("240", "360", "720" or "1080") chosen for the video during this run, nil when
// none was. The table lives in memory only.
std::optional<std::string> getChosenVideoQuality(const std::optional<std::string>& videoId);
// Remembers the quality for the rest of the run; does nothing when either argument is nil.
void setChosenVideoQuality(const std::optional<std::string>& videoId,
                           const std::optional<std::string>& quality);
// Forgets every chosen quality: a test that runs twice in one process starts from none.
void resetChosenVideoQualitiesForTesting();
