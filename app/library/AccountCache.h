#pragma once
// The signed-in account's library: the ids and item counts of its five special playlists, its
// own playlists, its subscriptions, the feed categories of the chosen region, the contents of
// every list the user has opened, the list and video that were playing, and its own channel ids.
// It is kept in memory for the browsing interface and in the shared keyed disk cache under keys
// scoped to the account (the MD5 of the e-mail, "_", a name), so that the next start shows the
// library at once while the refresh runs.
//
// Entry forms (plain arrays, so that they archive as property-list types):
//   playlist      [playlist id, title, item count]          the count may be missing
//   subscription  [uploads id "UU...", channel title, subscription id, new count, total count]
//                                                            the two counts may be missing
//   feed          [feed id, title]
// List contents are arrays of archived SearchEntry rows.
//
// Main thread only. Data API completions and delayed blocks keep the instance alive; they update
// the instance that issued them even after it was replaced.
#include <functional>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

class GVCache;
class SearchEntry;
class ApiObject;
class ApiQueryYouTube;
class ApiServiceYouTube;

class AccountCache : public ns::Object {
 public:
  // Lifetimes of the stored values, in seconds.
  static constexpr double kListLifetime = 604800;       // 7 days
  static constexpr double kCountsLifetime = 300;        // 5 minutes
  static constexpr double kContentsLifetime = 5184000;  // 60 days
  static constexpr double kContentsRenewAge = 1296000;  // 15 days
  static constexpr double kFreshFlagLifetime = 600;     // 10 minutes

  AccountCache() = default;

  // Takes the shared disk cache on first use of the class, sets the e-mail, then loads what is
  // stored (loadCache) and asks the network for the rest (loadNetwork), in this order.
  static ns::Ref<AccountCache> initWithEmail(const std::string& email);

  // The disk cache every account cache uses: getSharedGVCache(), taken once. Tests and tools
  // may hand in another one before the first account cache is made (nullptr goes back to the
  // shared one on next use).
  static ns::Ref<GVCache> diskCache();
  static void setDiskCache(ns::Ref<GVCache> cache);

  // md5HexString(email) + "_" + name.
  std::string cacheKey(const std::string& name) const;
  // The name of the feed list's entry for a region: "feeds_<region>_v2".
  static std::string feedsName(const std::string& region);
  // "feedRegion", or "US" when it is empty.
  static std::string feedRegion();

  // ---- loading ----
  void loadCache();
  // Fetches what loadCache did not supply.
  void loadNetwork();
  // The playlists, then the subscriptions.
  void refresh();

  // ---- what was playing ----
  // [title, request type, request id, play index] of the current playlist, when there is one.
  void saveCurrentPlaylist();
  // [video id, title, author] of the row; a row without a video id removes the stored value.
  void savePlaying(const ns::Ref<SearchEntry>& row);
  // The stored arrays, nil when absent or expired.
  ns::Value getCurrentPlaylistInfoArray() const;
  ns::Value getPlayingInfoArray() const;

  // ---- list contents ----
  // The stored rows without duplicates (renewed for 60 days when younger than 15 days); an empty
  // array when nothing is stored; nil when the stored value cannot be read.
  std::optional<ns::Array> getPlaylistCache_withId(const std::string& type, const std::string& identifier);
  bool hasPlaylistCache_withId(const std::string& type, const std::string& identifier) const;
  bool needReloadForPlaylistCache_withId(const std::string& type, const std::string& identifier) const;
  // A non-empty array is stored for 60 days with a fresh flag for 600 s; an empty one changes
  // nothing.
  void savePlaylistCache_type_withId(const ns::Array& rows, const std::string& type,
                                     const std::string& identifier);
  static ns::Array removeDuplicatesFromPlaylist(const ns::Array& rows);
  bool hasVideo_inPlaylist(const std::string& videoId, const std::string& playlistId);
  void addSearchEntry_toPlaylist_insertAtZero(const ns::Ref<SearchEntry>& row, const std::string& playlistId,
                                              bool insertAtZero);
  // The index is clamped to 0 ... number of rows.
  void addSearchEntry_toPlaylist_toIndex(const ns::Ref<SearchEntry>& row, const std::string& playlistId,
                                         int index);
  void deleteVideoWithPlaylistItemId_fromPlaylist(const std::string& playlistItemId,
                                                  const std::string& playlistId);

  // ---- own channels ----
  void initMyChannelSet();
  bool isMyChannel(const std::string& channelId);

  // ---- fetching and editing through the Data API (on the main window controller's service) ----
  void fetchMyRelatedPlaylists();
  void fetchMyRelatedPlaylistsCount();
  void fetchPlaylists();
  void fetchSubscriptions();
  void fetchFeeds();
  // A channel id or a channel's uploads id: "UC" + the id without its first two characters.
  void subscribe(const std::string& identifier);
  void unsubscribe(const std::string& uploadsId);
  void deletePlaylist(const std::string& playlistId);
  void renamePlaylist_toTitle(const std::string& playlistId, const std::string& title);
  void renameVideo_toTitle(const std::string& videoId, const std::string& title);
  void addPlaylist_withId(const std::string& title, const std::string& playlistId);
  void getMyChannelList();
  // Nothing: the player calls it when a video starts.
  void addWatchHistory(const ns::Ref<SearchEntry>& row) {}

  // ---- properties ----
  const std::string& email() const { return email_; }
  void setEmail(const std::string& email) { email_ = email; }
  bool linksLoaded() const { return linksLoaded_; }
  bool linksCountLoaded() const { return linksCountLoaded_; }
  bool playlistsLoaded() const { return playlistsLoaded_; }
  bool subscriptionsLoaded() const { return subscriptionsLoaded_; }
  bool feedsLoaded() const { return feedsLoaded_; }
  void setLinksLoaded(bool value) { linksLoaded_ = value; }
  void setLinksCountLoaded(bool value) { linksCountLoaded_ = value; }
  const std::optional<std::string>& favorites() const { return favorites_; }
  const std::optional<std::string>& likes() const { return likes_; }
  const std::optional<std::string>& uploads() const { return uploads_; }
  const std::optional<std::string>& watchLater() const { return watchLater_; }
  const std::optional<std::string>& watchHistory() const { return watchHistory_; }
  // Numbers, nil until known.
  const ns::Value& favoritesCount() const { return favoritesCount_; }
  const ns::Value& likesCount() const { return likesCount_; }
  const ns::Value& uploadsCount() const { return uploadsCount_; }
  const ns::Value& watchLaterCount() const { return watchLaterCount_; }
  const ns::Value& watchHistoryCount() const { return watchHistoryCount_; }
  // The lists; the browsing interface may sort them in place.
  ns::Array& playlistsArray() { return playlistsArray_; }
  ns::Array& subscriptionsArray() { return subscriptionsArray_; }
  ns::Array& feedsArray() { return feedsArray_; }
  const std::optional<std::string>& profileImageUrl() const { return profileImageUrl_; }
  void setProfileImageUrl(std::optional<std::string> url) { profileImageUrl_ = std::move(url); }
  // Nil until first used.
  const std::optional<ns::Set>& myChannelSet() const { return myChannelSet_; }
  const std::string& youtubeIdentifier() const { return youtubeIdentifier_; }

 private:
  ns::Ref<AccountCache> ref() { return self<AccountCache>(); }
  ns::Ref<ApiServiceYouTube> service() const;
  // Asks the service for one of the account's own lists with `query` (at most 50 entries;
  // without a service it logs that `caller` needs one); the entries `entriesOf` makes of a list
  // reply replace `list` and the stored value `name` on the main thread, which then sets `loaded`
  // and posts `notification`. A failure or a reply that is no list changes nothing.
  void fetchOwnList(const char* caller, const ns::Ref<ApiQueryYouTube>& query, const char* name,
                    std::function<ns::Array(const ns::Ref<ApiObject>&)> entriesOf,
                    ns::Array AccountCache::*list, bool AccountCache::*loaded, const char* notification);
  void store(const std::string& name, const ns::Value& value, double lifetime) const;
  ns::Value stored(const std::string& name) const;
  std::string contentsKey(const std::string& type, const std::string& identifier) const;
  // The five special ids in the order favorites, watchLater, watchHistory, likes, uploads.
  std::optional<std::string>* specialIds(int index);
  ns::Value* specialCounts(int index);
  void changePlaylistBadge(const std::string& playlistId, int delta);
  void insertRow(const ns::Ref<SearchEntry>& row, const std::string& playlistId, long index);
  // The rows of an account playlist after an add or a delete, with its fresh flag left alone.
  void storeEditedRows(const ns::Array& rows, const std::string& playlistId);

  std::string email_;
  bool linksLoaded_ = false;
  bool linksCountLoaded_ = false;
  bool playlistsLoaded_ = false;
  bool subscriptionsLoaded_ = false;
  bool feedsLoaded_ = false;
  std::optional<std::string> favorites_;
  std::optional<std::string> likes_;
  std::optional<std::string> uploads_;
  std::optional<std::string> watchLater_;
  std::optional<std::string> watchHistory_;
  ns::Value favoritesCount_;
  ns::Value likesCount_;
  ns::Value uploadsCount_;
  ns::Value watchLaterCount_;
  ns::Value watchHistoryCount_;
  ns::Array playlistsArray_;
  ns::Array subscriptionsArray_;
  ns::Array feedsArray_;
  std::optional<std::string> profileImageUrl_;
  std::optional<ns::Set> myChannelSet_;
  std::string youtubeIdentifier_;
};
