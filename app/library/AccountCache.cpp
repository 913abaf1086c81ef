// The account cache's stored forms, keys and lifetimes, its loading at start, what was playing,
// the list-contents cache and the own channels. The Data API side is in AccountCacheNetwork.cpp.
#include "app/library/AccountCache.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "app/library/LibraryNotifications.h"
#include "app/youtube/SearchEntry.h"
#include "common/AppUtilities.h"
#include "common/IBrowsingInterface.h"
#include "common/Settings.h"
#include "lib/cache/GVCache.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"

namespace {

constexpr char kMyChannelsKey[] = "my_channels";

struct DiskCacheSlot {
  std::mutex mutex;
  ns::Ref<GVCache> cache;
};

DiskCacheSlot& diskCacheSlot() {
  static ns::NoDestructor<DiskCacheSlot> slot;
  return *slot;
}

void postOnMainQueue(const ns::Ref<AccountCache>& cache, const char* name) {
  // The block keeps the cache alive until the notification is out.
  dispatch::async(dispatch::mainQueue(), [cache, name] { postNotification(name); });
}

ns::Ref<SearchEntry> rowOf(const ns::Value& value) {
  return value.isObject() ? value.objectAs<SearchEntry>() : nullptr;
}

}  // namespace

ns::Ref<AccountCache> AccountCache::initWithEmail(const std::string& email) {
  diskCache();
  auto cache = ns::make<AccountCache>();
  cache->email_ = email;
  cache->loadCache();
  cache->loadNetwork();
  return cache;
}

ns::Ref<GVCache> AccountCache::diskCache() {
  auto& slot = diskCacheSlot();
  std::lock_guard lock(slot.mutex);
  if (!slot.cache) slot.cache = getSharedGVCache();
  return slot.cache;
}

void AccountCache::setDiskCache(ns::Ref<GVCache> cache) {
  auto& slot = diskCacheSlot();
  std::lock_guard lock(slot.mutex);
  slot.cache = std::move(cache);
}

std::string AccountCache::cacheKey(const std::string& name) const {
  return md5HexString(email_) + "_" + name;
}

std::string AccountCache::feedsName(const std::string& region) {
  // The fetch and the loading at start use the same name, so the stored list shows at start.
  return "feeds_" + region + "_v2";
}

std::string AccountCache::feedRegion() {
  std::string region = getStringSetting(kFeedRegionKey);
  return region.empty() ? "US" : region;
}

void AccountCache::store(const std::string& name, const ns::Value& value, double lifetime) const {
  diskCache()->setObject_forKey_withTimeoutInterval(value, cacheKey(name), lifetime);
}

ns::Value AccountCache::stored(const std::string& name) const {
  try {
    return diskCache()->objectForKey(cacheKey(name));
  } catch (const ns::Exception& e) {
    ns::LogWarning("AccountCache: %@ cannot be read: %@", name, e.reason());
    return {};
  }
}

std::optional<std::string>* AccountCache::specialIds(int index) {
  std::optional<std::string>* ids[] = {&favorites_, &watchLater_, &watchHistory_, &likes_, &uploads_};
  return ids[index];
}

ns::Value* AccountCache::specialCounts(int index) {
  ns::Value* counts[] = {&favoritesCount_, &watchLaterCount_, &watchHistoryCount_, &likesCount_,
                         &uploadsCount_};
  return counts[index];
}

// ---------------------------------------------------------------------------------------------
// Loading at start

void AccountCache::loadCache() {
  ns::Value links = stored("links");
  if (links.isArray() && links.count() >= 5) {
    for (int i = 0; i < 5; ++i)
      *specialIds(i) = links[i].isString() ? links[i].optionalString() : std::nullopt;
    linksLoaded_ = true;
  }
  ns::Value counts = stored("linksItemCount");
  if (counts.isArray() && counts.count() >= 5) {
    for (int i = 0; i < 5; ++i) *specialCounts(i) = counts[i].isNumber() ? counts[i] : ns::Value();
    linksCountLoaded_ = true;
  }
  // The three lists fill the interface until the network load replaces them; their flags stay
  // false so that it always runs.
  auto self = ref();
  ns::Value playlists = stored("playlists");
  if (playlists.isArray()) {
    playlistsArray_ = playlists.array();
    postOnMainQueue(self, kUpdatePlaylistsNotification);
  }
  ns::Value subscriptions = stored("subscriptions");
  if (subscriptions.isArray()) {
    subscriptionsArray_ = subscriptions.array();
    postOnMainQueue(self, kUpdateSubscriptionsNotification);
  }
  ns::Value feeds = stored(feedsName(feedRegion()));
  if (feeds.isArray()) {
    feedsArray_ = feeds.array();
    postOnMainQueue(self, kUpdateFeedsNotification);
  }
}

void AccountCache::loadNetwork() {
  if (!linksLoaded_) {
    fetchMyRelatedPlaylists();
  } else if (!linksCountLoaded_) {
    fetchMyRelatedPlaylistsCount();
  }
  if (!playlistsLoaded_) fetchPlaylists();
  if (!subscriptionsLoaded_) fetchSubscriptions();
  if (!feedsLoaded_) fetchFeeds();
}

void AccountCache::refresh() {
  fetchPlaylists();
  fetchSubscriptions();
}

// ---------------------------------------------------------------------------------------------
// What was playing

void AccountCache::saveCurrentPlaylist() {
  auto browsing = browsingInterface();
  auto current = browsing ? browsing->currentPlaylist() : nullptr;
  if (!current) return;
  std::string type = current->requestType();
  std::string identifier = current->requestId();
  // A list that cannot be found again is not remembered at all.
  if (type.empty() || identifier.empty()) {
    diskCache()->removeCacheForKey(cacheKey("currentPlaylist"));
    return;
  }
  ns::Array info{ns::Value(current->title()), ns::Value(type), ns::Value(identifier),
                 ns::Value(current->playIndex())};
  store("currentPlaylist", info, kListLifetime);
}

void AccountCache::savePlaying(const ns::Ref<SearchEntry>& row) {
  if (!row || !row->videoid() || row->videoid()->empty()) {
    diskCache()->removeCacheForKey(cacheKey("nowPlaying"));
    return;
  }
  ns::Array info{ns::Value(*row->videoid()), ns::Value(row->title()), ns::Value(row->author())};
  store("nowPlaying", info, kListLifetime);
}

ns::Value AccountCache::getCurrentPlaylistInfoArray() const {
  ns::Value info = stored("currentPlaylist");
  return info.isArray() ? info : ns::Value();
}

ns::Value AccountCache::getPlayingInfoArray() const {
  ns::Value info = stored("nowPlaying");
  return info.isArray() ? info : ns::Value();
}

// ---------------------------------------------------------------------------------------------
// List contents

std::string AccountCache::contentsKey(const std::string& type, const std::string& identifier) const {
  return cacheKey("pl_" + type + "_" + identifier);
}

std::optional<ns::Array> AccountCache::getPlaylistCache_withId(const std::string& type,
                                                               const std::string& identifier) {
  try {
    auto cache = diskCache();
    std::string key = contentsKey(type, identifier);
    ns::Value rows = cache->objectForKey(key);
    if (!rows.isArray()) return ns::Array();
    // Read at least once every 15 days, a list never expires.
    if (cache->ageForKey(key) < kContentsRenewAge)
      cache->setObject_forKey_withTimeoutInterval(rows, key, kContentsLifetime);
    return removeDuplicatesFromPlaylist(rows.array());
  } catch (const std::exception& e) {
    ns::LogWarning("AccountCache: the rows of %@ %@ cannot be read: %@", type, identifier, e.what());
    return std::nullopt;
  }
}

bool AccountCache::hasPlaylistCache_withId(const std::string& type, const std::string& identifier) const {
  try {
    auto cache = diskCache();
    std::string key = contentsKey(type, identifier);
    if (!cache->hasCacheForKey(key)) return false;
    ns::Value rows = cache->objectForKey(key);
    return rows.isArray() && rows.count() > 0;
  } catch (const std::exception& e) {
    return false;
  }
}

bool AccountCache::needReloadForPlaylistCache_withId(const std::string& type,
                                                     const std::string& identifier) const {
  auto flag = diskCache()->stringForKey(cacheKey("f_" + type + "_" + identifier));
  return !flag || ns::Value(*flag).intValue() != 1;
}

void AccountCache::savePlaylistCache_type_withId(const ns::Array& rows, const std::string& type,
                                                 const std::string& identifier) {
  if (rows.empty()) return;
  auto cache = diskCache();
  cache->setObject_forKey_withTimeoutInterval(ns::Value(rows), contentsKey(type, identifier),
                                              kContentsLifetime);
  cache->setString_forKey_withTimeoutInterval("1", cacheKey("f_" + type + "_" + identifier),
                                              kFreshFlagLifetime);
  // The disk cache writes its files later; the next read of these rows (the next add to the
  // same list, say) must find them.
  cache->synchronize();
}

ns::Array AccountCache::removeDuplicatesFromPlaylist(const ns::Array& rows) {
  ns::Array kept;
  ns::Set seen;
  for (const ns::Value& value : rows) {
    auto row = rowOf(value);
    // Whatever is not a row cannot be shown: it is left out.
    if (!row) continue;
    if (const auto& itemId = row->playlistItemId()) {
      if (seen.contains(ns::Value(*itemId))) continue;
      seen.add(ns::Value(*itemId));
    }
    kept.push_back(value);
  }
  return kept;
}

bool AccountCache::hasVideo_inPlaylist(const std::string& videoId, const std::string& playlistId) {
  auto rows = getPlaylistCache_withId("playlists", playlistId);
  if (!rows) return false;
  return std::any_of(rows->begin(), rows->end(), [&](const ns::Value& value) {
    auto row = rowOf(value);
    return row && row->videoid() == videoId;
  });
}

void AccountCache::changePlaylistBadge(const std::string& playlistId, int delta) {
  auto browsing = browsingInterface();
  auto menu = browsing ? browsing->menuViewController() : nullptr;
  if (menu) menu->updatePlaylist_itemCountPlus(playlistId, delta);
}

void AccountCache::insertRow(const ns::Ref<SearchEntry>& row, const std::string& playlistId, long index) {
  if (!row) return;
  ns::Array rows = getPlaylistCache_withId("playlists", playlistId).value_or(ns::Array());
  index = std::clamp<long>(index, 0, static_cast<long>(rows.size()));
  rows.insert(rows.begin() + index, ns::Value(row));
  changePlaylistBadge(playlistId, 1);
  storeEditedRows(rows, playlistId);
}

void AccountCache::storeEditedRows(const ns::Array& rows, const std::string& playlistId) {
  // An edit is no fetch: the fresh flag stays as it was. For a list never fetched these rows are
  // all that is known of it, and marked fresh it would open showing them alone.
  auto cache = diskCache();
  cache->setObject_forKey_withTimeoutInterval(ns::Value(rows), contentsKey("playlists", playlistId),
                                              kContentsLifetime);
  cache->synchronize();
}

void AccountCache::addSearchEntry_toPlaylist_insertAtZero(const ns::Ref<SearchEntry>& row,
                                                          const std::string& playlistId, bool insertAtZero) {
  insertRow(row, playlistId, insertAtZero ? 0 : std::numeric_limits<long>::max());
}

void AccountCache::addSearchEntry_toPlaylist_toIndex(const ns::Ref<SearchEntry>& row,
                                                     const std::string& playlistId, int index) {
  insertRow(row, playlistId, index);
}

void AccountCache::deleteVideoWithPlaylistItemId_fromPlaylist(const std::string& playlistItemId,
                                                              const std::string& playlistId) {
  ns::Array rows = getPlaylistCache_withId("playlists", playlistId).value_or(ns::Array());
  ns::Array kept;
  for (const ns::Value& value : rows) {
    auto row = rowOf(value);
    if (row && row->playlistItemId() == playlistItemId) continue;
    kept.push_back(value);
  }
  // An empty list is stored as such (instead of keeping the last row): it reads as having no
  // stored rows.
  storeEditedRows(kept, playlistId);
  changePlaylistBadge(playlistId, -1);
}

// ---------------------------------------------------------------------------------------------
// Own channels

void AccountCache::initMyChannelSet() {
  if (myChannelSet_) return;
  myChannelSet_ = ns::Set();
  std::string joined = getStringSetting(kMyChannelsKey);
  std::size_t start = 0;
  while (true) {
    std::size_t comma = joined.find(',', start);
    std::string part = joined.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    ns::Log("## channel(cache): %@", part);
    myChannelSet_->add(ns::Value(part));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

bool AccountCache::isMyChannel(const std::string& channelId) {
  initMyChannelSet();
  return myChannelSet_->contains(ns::Value(channelId));
}
