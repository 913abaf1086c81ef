// How a list pane fills itself: one Data API query per page by request type, the rows of each
// reply completed with video details and channel titles kept for three days, further pages as the
// user scrolls, and the account's stored copy shown at once.
#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/VideoCell.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheFiles.h"
#include "app/cache/CacheState.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/ApiVideoFields.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/VideoDetailRecord.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/IMainWindowController.h"
#include "common/Settings.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/net/Reachability.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/core/Log.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileManager.h"
#include "ui/MyTableRowView.h"

namespace {

using Ticket = ns::Ref<ApiServiceTicket>;
using Reply = ns::Ref<ApiObject>;
using Failure = std::optional<ns::Error>;
using Self = ns::Ref<YTPlaylistViewController>;

constexpr std::size_t kDetailBatch = 25;
constexpr std::size_t kAutoFillRows = 50;
constexpr std::uint64_t kRowPitch = 83;
constexpr std::uint64_t kLookAhead = 166;
// A service that keeps naming a next page without sending rows would be paged for ever while
// the list stays short: after this many such pages in a row the list ends there.
constexpr int kEmptyPageLimit = 5;

using ns::str::hasPrefix;

// A row's video count holds 32 bits: a larger count shows as the largest, never wrapped round.
std::int32_t videoCountOf(const std::optional<ns::Number>& number) {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(apiCount(number), std::numeric_limits<std::int32_t>::max()));
}

std::optional<std::string> nextPageTokenOf(const Reply& reply) {
  if (!reply) return std::nullopt;
  ns::Value token = reply->JSONValueForKey("nextPageToken");
  if (!token.isString() || token.stringValue().empty()) return std::nullopt;
  return token.stringValue();
}

std::string joined(const std::vector<std::string>& ids) {
  std::string text;
  for (const auto& id : ids) text += (text.empty() ? "" : ",") + id;
  return text;
}

// A failed call is a warning, except one that failed because the provider refused the account's
// sign-in: the sign-out that follows says so once, for all the calls that were waiting.
void logFailure(const char* prefix, const ns::Error& error) {
  if (NetOAuth2Authentication::isRefusedGrantError(error))
    ns::Log("%@%@", std::string(prefix), error.localizedDescription());
  else
    ns::LogWarning("%@%@", std::string(prefix), error.localizedDescription());
}

ns::Ref<ApiServiceYouTube> service() {
  auto controller = mainWindowController();
  return controller ? controller->youTubeService() : nullptr;
}

ns::Ref<AccountCache> accountCache() {
  auto controller = mainWindowController();
  return controller ? controller->accountCache() : nullptr;
}

void onMain(std::function<void()> block) {
  dispatch::async(dispatch::mainQueue(), std::move(block));
}

std::string regionOr(const std::string& key) {
  std::string region = getStringSetting(key);
  return region.empty() ? "US" : region;
}

std::string safeSearch() {
  return getBoolSetting("SafeSearch") ? "strict" : "none";
}

// The set of channel ids in first-seen order, so that one request names each once.
struct ChannelSet {
  std::vector<std::string> ids;
  void add(const std::string& id) {
    if (id.empty()) return;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
};

// A row whose details are stored is complete at once; the others are asked for.
void lookUpRecord(const ns::Ref<SearchEntry>& row, std::vector<std::string>& toRequest,
                  ChannelSet& channels) {
  const auto& id = row->videoid();
  if (!id || id->empty()) return;
  if (auto record = cachedVideoDetailRecord(*id)) {
    row->applyVideoDetailRecord(*record);
    if (row->author().empty()) channels.add(row->videoChannelId());
  } else {
    toRequest.push_back(*id);
  }
}

}  // namespace

void YTPlaylistViewController::endFetch() {
  isFetching_ = false;
  stopRefreshBtn();
}

void YTPlaylistViewController::failFetch() {
  fetchFailed_ = true;
  endFetch();
}

// ---- fetching ----

void YTPlaylistViewController::fetch() {
  if (requestType_ != "cachedvideos" &&
      Reachability::reachabilityForInternetConnection()->currentReachabilityStatus() == NotReachable) {
    ns::Log("offine!!!");
    if (cellArray_.empty()) ns::Log("OFFLINE!!!");
    // Nothing was asked: the list is fetched again when shown or searched once more.
    fetchFailed_ = true;
    return;
  }
  animateRefreshBtn();
  isFetching_ = true;
  fetchFailed_ = false;
  // A page left for scrolling belongs to the rows this fetch replaces.
  nextQuery_ = nullptr;
  if (requestType_ == "playlists") {
    fetchPlaylist();
  } else if (requestType_ == "subscriptions") {
    ns::Log("sub = %@", requestId_);
    fetchPlaylist();
  } else if (hasPrefix(requestType_, "feed")) {
    fetchFeed();
  } else if (hasPrefix(requestType_, "search_")) {
    fetchSearch();
  } else if (requestType_ == "related") {
    fetchRelated();
  } else if (requestType_ == "newsubscriptionvideo") {
    fetchNewSubscriptionVideos();
  } else if (requestType_ == "videoid") {
    fetchVideoIdInfo();
  } else if (requestType_ == "cachedvideos") {
    fetchCachedVideos();
  } else {
    ns::Log("unknown request type: %@", requestType_);
    // Left fetching, the list could never be reloaded again.
    endFetch();
  }
}

void YTPlaylistViewController::runQuery(const ns::Ref<ApiQueryYouTube>& query) {
  auto youtube = service();
  if (!query || !youtube) {
    failFetch();
    return;
  }
  Self self = this->self<YTPlaylistViewController>();
  auto ticket = youtube->executeQuery_completionHandler(
      query, [self, query](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) {
          logFailure("error: ", *error);
          // The rows stay; the list is fetched again when reloaded, shown or searched again.
          self->failFetch();
          return;
        }
        if (query->pageToken().value_or("").empty()) {
          self->cellArray_.clear();
          self->nextQuery_ = nullptr;
        }
        self->handleSearchResults_forQuery(reply, query);
      });
  if (ticket)
    ticket->setShouldFetchNextPages(false);
  else
    failFetch();
}

void YTPlaylistViewController::fetchPlaylist() {
  auto query = ApiQueryYouTube::queryForPlaylistItemsListWithPart("snippet");
  if (isMyPlaylist_) query->setMine(true);
  query->setMaxResults(25);
  query->setPlaylistId(requestId_);
  runQuery(query);
}

void YTPlaylistViewController::fetchFeed() {
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet,id");
  query->setRegionCode(regionOr("feedRegion"));
  query->setChart("mostPopular");
  query->setVideoCategoryId(requestId_);
  query->setMaxResults(25);
  query->setPlaylistId(requestId_);
  query->setFields("items(id,snippet(title,thumbnails))");
  runQuery(query);
}

void YTPlaylistViewController::fetchSearch() {
  auto query = ApiQueryYouTube::queryForSearchListWithPart("snippet");
  if (hasPrefix(requestType_, "search_playlist")) {
    query->setOrder("relevance");
    query->setType("playlist");
    query->setMaxResults(20);
  } else if (hasPrefix(requestType_, "search_channel")) {
    query->setOrder("relevance");
    query->setType("channel");
    query->setMaxResults(20);
  } else {
    query->setOrder(requestType_.substr(requestType_.find('_') + 1));
    query->setType("video");
    query->setMaxResults(25);
    if (getBoolSetting("SearchOnlyHD")) query->setVideoDefinition("high");
  }
  query->setQ(requestId_);
  query->setRegionCode(regionOr("SearchLocation"));
  query->setSafeSearch(safeSearch());
  runQuery(query);
}

void YTPlaylistViewController::fetchRelated() {
  auto query = ApiQueryYouTube::queryForSearchListWithPart("snippet");
  query->setMaxResults(25);
  query->setRelatedToVideoId(requestId_);
  query->setType("video");
  runQuery(query);
}

void YTPlaylistViewController::fetchVideoIdInfo() {
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet,contentDetails,statistics");
  query->setIdentifier(requestId_);
  query->setMine(true);
  query->setFields(
      "items(id,snippet(channelId,publishedAt,title,thumbnails),contentDetails(duration),statistics)");
  runQuery(query);
}

void YTPlaylistViewController::fetchNewSubscriptionVideos() {
  if (!getBoolSetting("v2nv")) {
    fetchNewSubscriptionVideosV3();
    return;
  }
  // A fresh fetch starts again at page 1 with new rows; -1 after an empty page only stops the
  // automatic paging.
  nextPageNumber_.reset();
  fetchNewSubscriptionVideosUsingV2();
}

void YTPlaylistViewController::fetchNewSubscriptionVideosV3() {
  auto query = ApiQueryYouTube::queryForActivitiesListWithPart("snippet,contentDetails");
  query->setMaxResults(50);
  query->setHome(true);
  runQuery(query);
}

// ---- page results ----

void YTPlaylistViewController::handleSearchResults_forQuery(const ns::Ref<ApiObject>& reply,
                                                            const ns::Ref<ApiQueryYouTube>& query) {
  std::vector<ns::Ref<SearchEntry>> rows;
  std::vector<std::string> toRequest;
  ChannelSet channels;
  std::optional<std::string> token = nextPageTokenOf(reply);
  // A row model answering nil for an item skips that item only.
  if (hasPrefix(requestType_, "search_playlist")) {
    std::vector<std::string> playlistIds;
    for (const auto& item : ApiCollectionItemsOf<ApiYouTubeSearchResult>(reply)) {
      auto row = SearchEntry::initWithApiSearchPlaylistResult(item);
      if (!row) continue;
      rows.push_back(row);
      if (!row->playlistid().empty()) playlistIds.push_back(row->playlistid());
    }
    requestPlaylistsInfo(playlistIds);
  } else if (hasPrefix(requestType_, "search_channel")) {
    std::vector<std::string> channelIds;
    for (const auto& item : ApiCollectionItemsOf<ApiYouTubeSearchResult>(reply)) {
      auto row = SearchEntry::initWithApiSearchChannelResult(item);
      if (!row || !hasPrefix(row->channelid(), "UC")) continue;
      rows.push_back(row);
      channels.add(row->channelid());
      channelIds.push_back(row->channelid());
    }
    requestChannelInfoForSearch(channelIds);
  } else if (hasPrefix(requestType_, "search_") || requestType_ == "related") {
    for (const auto& item : ApiCollectionItemsOf<ApiYouTubeSearchResult>(reply)) {
      auto row = SearchEntry::initWithApiSearchResult(item);
      if (!row) continue;
      row->setDate("");
      rows.push_back(row);
      lookUpRecord(row, toRequest, channels);
    }
  } else if (hasPrefix(requestType_, "videoid")) {
    token.reset();
    for (const auto& video : ApiCollectionItemsOf<ApiYouTubeVideo>(reply)) {
      auto row = SearchEntry::initWithApiVideo(video);
      if (!row) continue;
      if (!row->videoid()) row->setVideoid(requestId_);
      ns::Log("e.videoid = %@", row->videoid().value_or(""));
      rows.push_back(row);
      if (row->author().empty()) channels.add(row->videoChannelId());
    }
  } else if (requestType_ == "newsubscriptionvideo") {
    for (const auto& activity : ApiCollectionItemsOf<ApiYouTubeActivity>(reply)) {
      auto snippet = activity->snippet();
      if (!snippet || snippet->type().value_or("") != "upload") continue;
      auto row = SearchEntry::initWithApiActivity(activity);
      if (!row) continue;
      row->setDate("");
      rows.push_back(row);
      lookUpRecord(row, toRequest, channels);
    }
  } else if (requestType_ == "feed") {
    for (const auto& video : ApiCollectionItemsOf<ApiYouTubeVideo>(reply)) {
      auto row = SearchEntry::initWithApiVideo(video);
      if (!row || !video->identifier()) continue;
      row->setVideoid(*video->identifier());
      row->setDate("");
      rows.push_back(row);
      lookUpRecord(row, toRequest, channels);
    }
  } else {
    for (const auto& item : ApiCollectionItemsOf<ApiYouTubePlaylistItem>(reply)) {
      auto row = SearchEntry::initWithApi(item);
      if (!row) continue;
      row->setDate("");
      rows.push_back(row);
      lookUpRecord(row, toRequest, channels);
    }
  }

  if (query->pageToken().value_or("").empty() || !rows.empty()) emptyPagesInRow_ = 0;
  if (rows.empty() && token && ++emptyPagesInRow_ >= kEmptyPageLimit) {
    ns::Log("%d pages without rows in a row: the list ends here", emptyPagesInRow_);
    token.reset();
  }

  requestVideoInfo_withTitle(toRequest, false);
  requestChannelInfo(channels.ids);

  Self self = this->self<YTPlaylistViewController>();
  onMain([self, rows] {
    if (self->fetchedFromCache_) {
      self->cellArray_.clear();
      self->fetchedFromCache_ = false;
    }
    self->cellArray_.insert(self->cellArray_.end(), rows.begin(), rows.end());
    if (self->nowPlayingVideoIdForReload_) {
      for (std::size_t i = 0; i < self->cellArray_.size(); ++i) {
        if (self->cellArray_[i]->videoid() == self->nowPlayingVideoIdForReload_) {
          self->playIndex_ = static_cast<long>(i);
          self->nowPlayingVideoIdForReload_.reset();
          break;
        }
      }
    }
    self->refreshTableView();
    if (hasPrefix(self->requestType_, "videoid") && self->playAfterLoad_) {
      self->playAtIndex(0);
      self->playAfterLoad_ = false;
    }
  });

  if (token) {
    query->setPageToken(*token);
    // Decided before this page's rows are added (they are added by the block above).
    if (shouldRunNextQuery()) {
      runQuery(query);
    } else {
      // Nothing is asked until the user scrolls: the list can be refreshed meanwhile.
      nextQuery_ = query;
      isFetching_ = false;
      onMain([self] { self->stopRefreshBtn(); });
    }
  } else {
    isFetching_ = false;
    onMain([self] {
      self->stopRefreshBtn();
      self->saveToCache();
    });
  }
}

void YTPlaylistViewController::requestVideoInfo_withTitle(std::vector<std::string> ids, bool withTitle) {
  if (ids.empty()) return;
  std::vector<std::string> later;
  if (ids.size() > kDetailBatch) {
    later.assign(ids.begin() + kDetailBatch, ids.end());
    ids.resize(kDetailBatch);
  }
  auto youtube = service();
  if (!youtube) return;
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet,contentDetails,statistics");
  query->setMine(true);
  query->setIdentifier(joined(ids));
  query->setFields(withTitle
                       ? "items(id,snippet(title,channelId,publishedAt,thumbnails),contentDetails(duration),"
                         "statistics)"
                       : "items(id,snippet(channelId,publishedAt),contentDetails(duration),statistics)");
  Self self = this->self<YTPlaylistViewController>();
  youtube->executeQuery_completionHandler(
      query, [self, later, withTitle](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) {
          logFailure("## error: ", *error);
          return;
        }
        std::map<std::string, VideoDetailRecord> records;
        std::map<std::string, ns::Ref<SearchEntry>> titled;
        ChannelSet channels;
        for (const auto& video : ApiCollectionItemsOf<ApiYouTubeVideo>(reply)) {
          if (!video->identifier()) continue;
          const std::string id = *video->identifier();
          auto record = videoDetailRecordForApiVideo(video);
          if (!record) continue;
          record->channelTitle = cachedChannelTitle(record->channelId).value_or("");
          if (record->channelTitle.empty()) channels.add(record->channelId);
          storeVideoDetailRecord(id, *record);
          records[id] = *record;
          if (withTitle) {
            if (auto row = SearchEntry::initWithApiVideo(video)) titled[id] = row;
          }
        }
        self->requestChannelInfo(channels.ids);
        onMain([self, records, titled, later, withTitle] {
          for (const auto& row : self->cellArray_) {
            const auto& id = row->videoid();
            if (!id) continue;
            if (withTitle) {
              if (auto found = titled.find(*id); found != titled.end()) {
                row->setTitle(found->second->title());
                row->setDate(found->second->date());
                row->setThumburl(found->second->thumburl());
              }
            }
            if (auto found = records.find(*id); found != records.end())
              row->applyVideoDetailRecord(found->second);
            if (withTitle) row->saveToCache();
          }
          self->refreshTableView();
          if (!later.empty())
            self->requestVideoInfo_withTitle(later, withTitle);
          else
            onMain([self] { self->saveToCache(); });
        });
      });
}

void YTPlaylistViewController::requestChannelInfo(const std::vector<std::string>& channelIds) {
  if (channelIds.empty()) return;
  auto youtube = service();
  if (!youtube) return;
  auto query = ApiQueryYouTube::queryForChannelsListWithPart("snippet");
  query->setMaxResults(50);
  query->setFields("items(id,snippet(title))");
  query->setIdentifier(joined(channelIds));
  Self self = this->self<YTPlaylistViewController>();
  youtube->executeQuery_completionHandler(
      query, [self](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) {
          logFailure("error: ", *error);
          return;
        }
        std::map<std::string, std::string> titles;
        for (const auto& channel : ApiCollectionItemsOf<ApiYouTubeChannel>(reply)) {
          if (!channel->identifier()) continue;
          auto snippet = channel->snippet();
          std::string title = snippet ? snippet->title().value_or("") : "";
          storeChannelTitle(*channel->identifier(), title);
          titles[*channel->identifier()] = title;
        }
        onMain([self, titles] {
          for (const auto& row : self->cellArray_) {
            if (auto found = titles.find(row->videoChannelId()); found != titles.end())
              row->setAuthor(found->second);
          }
          self->refreshTableView();
          onMain([self] { self->saveToCache(); });
        });
      });
}

void YTPlaylistViewController::requestPlaylistsInfo(const std::vector<std::string>& playlistIds) {
  requestCountsForSearch<ApiYouTubePlaylist>(
      playlistIds, ApiQueryYouTube::queryForPlaylistsListWithPart("contentDetails"), &SearchEntry::playlistid,
      [](SearchEntry& row, const ns::Ref<ApiYouTubePlaylist>& playlist) {
        if (auto details = playlist->contentDetails()) row.setVideoCount(videoCountOf(details->itemCount()));
      });
}

void YTPlaylistViewController::requestChannelInfoForSearch(const std::vector<std::string>& channelIds) {
  requestCountsForSearch<ApiYouTubeChannel>(
      channelIds, ApiQueryYouTube::queryForChannelsListWithPart("statistics"), &SearchEntry::channelid,
      [](SearchEntry& row, const ns::Ref<ApiYouTubeChannel>& channel) {
        if (auto statistics = channel->statistics()) {
          row.setVideoCount(videoCountOf(statistics->videoCount()));
          row.setSubscriberCount(apiCount(statistics->subscriberCount()));
        }
      });
}

template <class Item>
void YTPlaylistViewController::requestCountsForSearch(const std::vector<std::string>& ids,
                                                      const ns::Ref<ApiQueryYouTube>& query,
                                                      const std::string& (SearchEntry::*rowId)() const,
                                                      void (*setCounts)(SearchEntry&, const ns::Ref<Item>&)) {
  if (ids.empty()) return;
  auto youtube = service();
  if (!youtube) return;
  query->setMaxResults(50);
  query->setIdentifier(joined(ids));
  Self self = this->self<YTPlaylistViewController>();
  youtube->executeQuery_completionHandler(
      query, [self, rowId, setCounts](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) {
          logFailure("error: ", *error);
          return;
        }
        auto items = ApiCollectionItemsOf<Item>(reply);
        onMain([self, items, rowId, setCounts] {
          std::map<std::string, ns::Ref<SearchEntry>> byId;
          for (const auto& row : self->cellArray_) {
            const std::string& id = ((*row).*rowId)();
            if (!id.empty()) byId[id] = row;
          }
          for (const auto& item : items) {
            auto found = item->identifier() ? byId.find(*item->identifier()) : byId.end();
            if (found != byId.end()) setCounts(*found->second, item);
          }
          self->refreshTableView();
        });
      });
}

// ---- paging and the list cache ----

bool YTPlaylistViewController::shouldRunNextQuery() const {
  return cellArray_.size() < kAutoFillRows;
}

void YTPlaylistViewController::boundsDidChange() {
  if (!nextQuery_) return;
  // One row (or none) never pages.
  if (cellArray_.size() < 2) return;
  auto scroll = scrollView();
  if (!scroll) return;
  const float y = static_cast<float>(scroll->contentView()->bounds().origin.y);
  const float h = static_cast<float>(scroll->documentVisibleRect().size.height);
  const float threshold = static_cast<float>(cellArray_.size() * kRowPitch - kLookAhead);
  if (y + h >= threshold) {
    animateRefreshBtn();
    extendQuery();
  }
}

void YTPlaylistViewController::extendQuery() {
  if (!nextQuery_) return;
  ns::Log("nextQueryScroll!!! %lu", static_cast<unsigned long>(cellArray_.size()));
  auto query = std::exchange(nextQuery_, nullptr);
  isFetching_ = true;
  runQuery(query);
}

void YTPlaylistViewController::fetchFromCacheAndNetwork() {
  std::vector<ns::Ref<SearchEntry>> rows;
  auto account = accountCache();
  if (account) {
    if (auto stored = account->getPlaylistCache_withId(requestType_, requestId_)) {
      for (const ns::Value& value : *stored)
        if (auto row = value.objectAs<SearchEntry>()) rows.push_back(row);
    }
  }
  if (rows.empty()) {
    fetchedFromCache_ = false;
    fetch();
    return;
  }
  ns::Log("fetch from cache: %ld", static_cast<long>(rows.size()));
  cellArray_ = std::move(rows);
  fetchedFromCache_ = true;
  refreshTableView();
  Self self = this->self<YTPlaylistViewController>();
  dispatch::after(1.0, dispatch::mainQueue(), [self, shownFrom = ns::Weak<AccountCache>(account)] {
    // Signed out or signed in as someone else meanwhile: the rows were the earlier account's, and
    // fetching them now would store that account's list in the new one's cache.
    auto account = accountCache();
    if (!account || account != shownFrom.lock()) return;
    if (account->needReloadForPlaylistCache_withId(self->requestType_, self->requestId_)) self->fetch();
  });
}

void YTPlaylistViewController::saveToCache() {
  if (hasPrefix(requestType_, "search_") || hasPrefix(requestType_, "cachedvideos")) return;
  auto account = accountCache();
  if (!account) return;
  ns::Array rows;
  for (const auto& row : cellArray_) rows.push_back(ns::Value(row));
  account->savePlaylistCache_type_withId(rows, requestType_, requestId_);
}

// ---- the cached videos ----

std::vector<std::string> YTPlaylistViewController::getVideoIdsForCachedVideos(
    const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::pair<double, std::string>> dated;
  auto manager = ns::FileManager::defaultManager();
  for (const auto& [videoId, path] : files) {
    auto attributes = manager->attributesOfItemAtPath_error(path, nullptr);
    if (!attributes) continue;
    const ns::Value& date = attributes->objectForKey(ns::NSFileModificationDate);
    if (!date.isDate()) continue;
    dated.emplace_back(date.date().timeIntervalSince1970(), videoId);
  }
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> ids;
  for (const auto& entry : dated) ids.push_back(entry.second);
  return ids;
}

void YTPlaylistViewController::fetchCachedVideos() {
  // The cache-state map and the library store are the main thread's: their paths are taken here,
  // the files are read on a global queue.
  cellArray_.clear();
  nextQuery_ = nullptr;
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& videoId : getCachedVideoIdArray()) {
    auto path = isVideoDownloaded(videoId) ? getDownloadedVideoPath(videoId) : getCachedVideoPath(videoId);
    if (path) files.emplace_back(videoId, *path);
  }
  Self self = this->self<YTPlaylistViewController>();
  dispatch::async(dispatch::globalQueue(), [self, files] {
    std::vector<ns::Ref<SearchEntry>> rows;
    std::vector<std::string> placeholders;
    for (const auto& videoId : getVideoIdsForCachedVideos(files)) {
      auto row = SearchEntry::initWithCache(videoId);
      if (!row) {
        row = SearchEntry::init();
        row->setVideoid(videoId);
        placeholders.push_back(videoId);
      }
      rows.push_back(row);
    }
    onMain([self, rows, placeholders] {
      self->cellArray_.insert(self->cellArray_.end(), rows.begin(), rows.end());
      self->requestVideoInfo_withTitle(placeholders, true);
      self->isFetching_ = false;
      onMain([self] {
        self->stopRefreshBtn();
        self->refreshTableView();
      });
    });
  });
}

// ---- row views ----

ns::Ref<ns::Object> YTPlaylistViewController::tableView_viewForTableColumn_row(
    const ns::Ref<ns::Object>& table, const ns::Ref<ns::Object>&, long row) {
  if (row < 0 || static_cast<std::size_t>(row) >= cellArray_.size()) return nullptr;
  auto entry = cellArray_[static_cast<std::size_t>(row)];
  auto tableView = std::dynamic_pointer_cast<ak::TableView>(table);
  const double width = tableView ? tableView->frame().size.width : 0;
  if (isVideoResult_) {
    auto cell = tableView ? std::dynamic_pointer_cast<VideoCell>(tableView->makeViewWithIdentifier_owner(
                                "VideoCell", self<YTPlaylistViewController>()))
                          : nullptr;
    if (!cell) {
      cell = ak::make<VideoCell>(ak::MakeRect(0, 0, width, kVideoRowHeight));
      cell->setIdentifier("VideoCell");
    }
    cell->reset();
    entry->setIdx(row);
    cell->setPlaylistKey(getDictionaryKey());
    std::optional<std::vector<std::string>> holders;
    auto controller = mainWindowController();
    if (auto index = controller ? controller->videoInPlaylistCache() : nullptr)
      holders = index->getPlaylistIdArrayForVideo(entry->videoid().value_or(""));
    if (!holders || holders->empty()) {
      entry->setIsInFavorites(false);
      entry->setIsInOtherPlaylist(false);
    } else {
      auto account = accountCache();
      const std::string favorites = account ? account->favorites().value_or("") : "";
      const bool inFavourites = std::find(holders->begin(), holders->end(), favorites) != holders->end();
      entry->setIsInFavorites(requestType_ == "playlists" && requestId_ == favorites
                                  ? false
                                  : !favorites.empty() && inFavourites);
      const bool inThis = std::find(holders->begin(), holders->end(), requestId_) != holders->end();
      entry->setIsInOtherPlaylist(!inThis || holders->size() >= 2);
    }
    cell->setSearchEntry(entry);
    return cell;
  }
  auto cell = tableView
                  ? std::dynamic_pointer_cast<PlaylistResultCell>(tableView->makeViewWithIdentifier_owner(
                        "PlaylistCell", self<YTPlaylistViewController>()))
                  : nullptr;
  if (!cell) {
    cell = ak::make<PlaylistResultCell>(ak::MakeRect(0, 0, width, kPlaylistRowHeight));
    cell->setIdentifier("PlaylistCell");
  }
  entry->setIdx(row);
  cell->setPlaylistKey(getDictionaryKey());
  cell->setSearchEntry(entry);
  return cell;
}

ns::Ref<ns::Object> YTPlaylistViewController::tableView_rowViewForRow(const ns::Ref<ns::Object>&, long) {
  return ak::make<MyTableRowView>(ak::ZeroRect);
}
