#pragma once
// The pane of one list in the left pane (a playlist, a channel's uploads, a feed, a search, the
// related videos of a video, a single video...): its rows, its table, its bottom bar with the
// refresh button, the search-order pop-up and the subscribe button, and its play queue.
//
// Controllers are never made directly: getPlaylistViewController and
// getVideoIdPlaylistViewController keep a process-wide registry keyed by "<type>_<id>", so that
// opening a list again brings back the same controller with its rows and play position. The
// registry, the current playlist and the shuffle's random source are process-wide, main-thread
// only and never destroyed.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/browse/PelViewController.h"
#include "app/browse/PlaylistProtocol.h"
#include "common/IBrowsingInterface.h"

class SearchEntry;
class MyNSView;
class ApiQueryYouTube;
class ApiObject;
class TableViewWithContextMenu;
namespace ak {
class Button;
class PasteboardItem;
class PopUpButton;
class ScrollView;
}  // namespace ak

inline constexpr double kVideoRowHeight = 83.0;
inline constexpr double kPlaylistRowHeight = 120.0;

class YTPlaylistViewController : public PelViewController,
                                 public PlaylistProtocol,
                                 public IPlaylistViewController {
 public:
  ~YTPlaylistViewController() override;

  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void onVideoInfoChanged();
  // Gives every row of the video the new title and redraws the table.
  void videoRenamed_Title(const std::string& videoId, const std::string& title) override;
  std::string title() override { return ak::ViewController::title(); }
  void setTitle(const std::string& title) override { ak::ViewController::setTitle(title); }
  // Reloads the table and selects the same rows again.
  void refreshTableView();
  void _setBottomView(const ns::Ref<MyNSView>& view);

  // ---- selection ----
  long getSelectedCount() const;
  bool containsIndex(long row) const;
  // Reloads, makes the table the main window's first responder and selects exactly the row.
  void selectIndex(long row);

  // ---- the table's data source and delegate, and the actions (called through the runtime) ----
  long numberOfRowsInTableView(const ns::Ref<ns::Object>& table);
  double tableView_heightOfRow(const ns::Ref<ns::Object>& table, long row);
  // The row's VideoCell (video lists) or PlaylistResultCell, reused by identifier; nil past the end.
  ns::Ref<ns::Object> tableView_viewForTableColumn_row(const ns::Ref<ns::Object>& table,
                                                       const ns::Ref<ns::Object>& column, long row);
  ns::Ref<ns::Object> tableView_rowViewForRow(const ns::Ref<ns::Object>& table, long row);
  void tableViewSelectionDidChange(const ns::Ref<ns::Object>& notification);
  void onDoubleClick(const ns::Ref<ns::Object>& sender);
  void onRefreshBtn(const ns::Ref<ns::Object>& sender);
  void onSearchOrderChanged(const ns::Ref<ns::Object>& sender);
  void onSubscribeBtn(const ns::Ref<ns::Object>& sender);

  // ---- controls ----
  // Search lists are never reloaded; a running fetch is left alone.
  void reloadList();
  // A list whose last fetch failed (or could not start while offline) is fetched again: on
  // show, and when its search or link is run again. Nothing else fetches here.
  void fetchAgainIfFailed();
  // The refresh button spins (one turn a second) and is disabled until stopRefreshBtn.
  void animateRefreshBtn();
  void stopRefreshBtn();
  // "Unsubscribe" (tag 0) when the account cache lists this channel, else "Subscribe" (tag 1).
  void prepareSubscribeBtn();
  // "<requestType>_<requestId>".
  std::string getDictionaryKey() const;

  // ---- the play queue ----
  void playAtIndex(long row) override;
  bool nextTrack(const ns::Ref<ns::Object>& sender) override;
  bool prevTrack(const ns::Ref<ns::Object>& sender) override;
  std::optional<std::string> getNextVideoId() override;
  bool isCurrentPlaylist() override;
  long getPlayIndex() override { return playIndex_; }
  void scrollToNowPlaying() override;
  void scrollToIndex(long row) override;
  void processEnterKey() override;
  void generateRandomArray() override;
  long getRandomIndex(bool forward) override;
  long peekRandomIndex(bool forward) override;

  // ---- properties ----
  std::int64_t randomCellPlayIdx() const { return randomCellPlayIdx_; }
  void setRandomCellPlayIdx(std::int64_t idx) { randomCellPlayIdx_ = idx; }
  bool fetchedFromCache() const { return fetchedFromCache_; }
  void setFetchedFromCache(bool value) { fetchedFromCache_ = value; }
  bool isVideoResult() const { return isVideoResult_; }
  // Only video lists allow several selected rows.
  void setIsVideoResult(bool value);
  bool isMyPlaylist() const { return isMyPlaylist_; }
  void setIsMyPlaylist(bool value) { isMyPlaylist_ = value; }
  bool isFetching() const { return isFetching_; }
  void setIsFetching(bool value) { isFetching_ = value; }
  // Whether the last fetch failed or could not start (cleared when a fetch starts).
  bool fetchFailed() const { return fetchFailed_; }
  bool playAfterLoad() const { return playAfterLoad_; }
  void setPlayAfterLoad(bool value) { playAfterLoad_ = value; }
  long playIndex() override { return playIndex_; }
  void setPlayIndex(long index) override { playIndex_ = index; }
  std::vector<ns::Ref<SearchEntry>>& cellArray() { return cellArray_; }
  void setCellArray(std::vector<ns::Ref<SearchEntry>> rows) { cellArray_ = std::move(rows); }
  std::string requestType() override { return requestType_; }
  void setRequestType(const std::string& type) { requestType_ = type; }
  std::string requestId() override { return requestId_; }
  void setRequestId(const std::string& identifier) { requestId_ = identifier; }
  const std::optional<std::string>& myPlaylistName() const { return myPlaylistName_; }
  void setMyPlaylistName(std::optional<std::string> name) { myPlaylistName_ = std::move(name); }
  const std::optional<std::string>& myPlaylistType() const { return myPlaylistType_; }
  void setMyPlaylistType(std::optional<std::string> type) { myPlaylistType_ = std::move(type); }
  const std::vector<long>& randomCellArray() const { return randomCellArray_; }
  void setRandomCellArray(std::vector<long> order) { randomCellArray_ = std::move(order); }
  const std::optional<std::string>& nowPlayingVideoIdForReload() const { return nowPlayingVideoIdForReload_; }
  void setNowPlayingVideoIdForReload(std::optional<std::string> id) {
    nowPlayingVideoIdForReload_ = std::move(id);
  }
  const std::optional<long>& nextPageNumber() const { return nextPageNumber_; }
  void setNextPageNumber(std::optional<long> page) { nextPageNumber_ = page; }

  // ---- outlets ----
  ns::Ref<ak::ScrollView> scrollView() const { return scrollView_.lock(); }
  void setScrollView(const ns::Ref<ak::ScrollView>& view) { scrollView_ = view; }
  ns::Ref<TableViewWithContextMenu> tableView() const { return tableView_.lock(); }
  void setTableView(const ns::Ref<TableViewWithContextMenu>& table) { tableView_ = table; }
  ns::Ref<MyNSView> bottomView() const { return bottomView_; }
  void setBottomView(const ns::Ref<MyNSView>& view) { bottomView_ = view; }
  ns::Ref<ak::Button> subscribeBtn() const { return subscribeBtn_; }
  void setSubscribeBtn(const ns::Ref<ak::Button>& button) { subscribeBtn_ = button; }
  ns::Ref<ak::PopUpButton> searchOrderBtn() const { return searchOrderBtn_.lock(); }
  void setSearchOrderBtn(const ns::Ref<ak::PopUpButton>& button) { searchOrderBtn_ = button; }
  ns::Ref<ak::Button> refreshBtn() const { return refreshBtn_.lock(); }
  void setRefreshBtn(const ns::Ref<ak::Button>& button) { refreshBtn_ = button; }

  // ---- fetching (YTPlaylistFetching.cpp) ----
  // Fills the list from its source by request type; offline only the cached videos are listed.
  void fetch();
  // Runs one page query; its reply goes to handleSearchResults_forQuery.
  void runQuery(const ns::Ref<ApiQueryYouTube>& query);
  void fetchPlaylist();
  void fetchFeed();
  void fetchSearch();
  void fetchRelated();
  void fetchVideoIdInfo();
  void fetchNewSubscriptionVideos();
  void fetchNewSubscriptionVideosV3();
  // The new videos of the subscriptions from the legacy JSON feed, 25 a page.
  void fetchNewSubscriptionVideosUsingV2();
  void takeLegacyFeedPage(const ns::Value& json);
  // The videos in the media cache and the download folder, newest file first; listed offline too.
  void fetchCachedVideos();
  // The ids of (video id, file) pairs whose files can be read, newest modification first.
  static std::vector<std::string> getVideoIdsForCachedVideos(
      const std::vector<std::pair<std::string, std::string>>& files);
  // Turns one page into rows, completes them and decides about the next page.
  void handleSearchResults_forQuery(const ns::Ref<ApiObject>& reply, const ns::Ref<ApiQueryYouTube>& query);
  // Video details in batches of 25, one after the other; with `withTitle` also the titles,
  // thumbnails and dates, and every row's file is saved.
  void requestVideoInfo_withTitle(std::vector<std::string> ids, bool withTitle);
  void requestChannelInfo(const std::vector<std::string>& channelIds);
  void requestPlaylistsInfo(const std::vector<std::string>& playlistIds);
  void requestChannelInfoForSearch(const std::vector<std::string>& channelIds);
  // The counts of the search rows whose `rowId` is among `ids`, asked in one list `query` (of
  // playlists or channels), each item's copied into its row by `setCounts`.
  template <class Item>
  void requestCountsForSearch(const std::vector<std::string>& ids, const ns::Ref<ApiQueryYouTube>& query,
                              const std::string& (SearchEntry::*rowId)() const,
                              void (*setCounts)(SearchEntry&, const ns::Ref<Item>&));

  // ---- editing the account's playlists (YTPlaylistEditing.cpp) ----
  // Removes the row from the list and saves the list; in the account's ordinary playlists (not
  // the uploads or the watch history) its entry on the service is deleted too.
  void deletePlaylistItem(long index);
  // Forgets the (video, playlist) pair in the video-in-playlist index and deletes the entry on
  // the service (nothing is sent without an item id); a failure puts the pair back, a success
  // takes the entry out of that playlist's open list and the account's stored copy.
  void deleteVideo_withPlaylistItemId_fromPlaylist(const std::string& videoId,
                                                   const std::optional<std::string>& playlistItemId,
                                                   const std::string& playlistId);
  // Removes the first row with that item id (the caller refreshes the table).
  void deleteVideoWithPlaylistItemId(const std::string& playlistItemId);
  bool hasPlaylistItemId(const std::string& playlistItemId) const;
  // Completes a move out of this list: the row's old entry is deleted on the service, and the
  // row leaves the list once that delete succeeded.
  void deleteSearchItemFromServerPlaylist_newPlaylistItemId(const ns::Ref<SearchEntry>& row,
                                                            const std::string& newPlaylistItemId);

  // Inserts the video into the playlist this list shows, at the position; the row (pass a copy)
  // enters the open list and the account's stored copy only once the service took it. The
  // video-in-playlist pair is recorded on success; a failure forgets only a pair this call added.
  void insertSearchEntry_toIndex(const ns::Ref<SearchEntry>& row, int index);
  // Keyboard commands on exactly one selected row; NO when not used.
  bool editSelectedVideoTitle();
  bool addOrRemoveFavorites();
  bool showAddToMenu() { return false; }
  // Row insertion and removal that keep `playIndex` on the playing row (indexes are clamped).
  void insertRow_atIndex(const ns::Ref<SearchEntry>& row, long index);
  void removeRowAtIndex(long index);

  // ---- dragging rows out, reordering and drops (YTPlaylistDragging.cpp) ----
  bool tableView_writeRowsWithIndexes_toPasteboard(const ns::Ref<ns::Object>& table,
                                                   const ns::Ref<ns::Object>& indexes,
                                                   const ns::Ref<ns::Object>& pasteboard);
  unsigned long tableView_validateDrop_proposedRow_proposedDropOperation(const ns::Ref<ns::Object>& table,
                                                                         const ns::Ref<ns::Object>& info,
                                                                         long row, unsigned long operation);
  bool tableView_acceptDrop_row_dropOperation(const ns::Ref<ns::Object>& table,
                                              const ns::Ref<ns::Object>& info, long row,
                                              unsigned long operation);
  // The link of an item dragged in from another program, nil when it has none.
  std::optional<std::string> urlFromNSPasteboardItem(const ns::Ref<ak::PasteboardItem>& item);
  bool urlDropOk(const std::string& address);
  std::optional<std::string> videoIdFromPasteboardItem(const ns::Ref<ak::PasteboardItem>& item);
  // Whether rows of this list can be reordered on the service (own playlists and watch later).
  bool canReorder() const;
  // Moves the rows (taken out of the list) to the position on the service, one update after the
  // other, each put back into the list once the service took it; the list is saved at the end.
  void movePlaylistItems_newPosition(std::vector<ns::Ref<SearchEntry>> rows, int position);
  void movePlaylistItem_newPosition(const ns::Ref<SearchEntry>& row, int position);

  // ---- paging and the list cache ----
  void boundsDidChange();
  void extendQuery();
  bool shouldRunNextQuery() const;
  // The first fill: the account's stored copy at once, the network when it is stale or missing.
  void fetchFromCacheAndNetwork();
  // Stores the rows in the account's list cache (never searches or the cached videos).
  void saveToCache();
  const ns::Ref<ApiQueryYouTube>& nextQuery() const { return nextQuery_; }
  void setNextQuery(ns::Ref<ApiQueryYouTube> query) { nextQuery_ = std::move(query); }

  std::string className() const override { return "YTPlaylistViewController"; }

 protected:
  void viewDidLoadOnce() override;

 private:
  void pushOnLeftPane(const ns::Ref<YTPlaylistViewController>& controller);

  std::int64_t randomCellPlayIdx_ = 0;
  std::int32_t randomPlayedCount_ = 0;
  std::int32_t feedCount_ = 0;
  bool fetchedFromCache_ = false;
  bool isVideoResult_ = false;
  bool isMyPlaylist_ = false;
  bool isFetching_ = false;
  bool fetchFailed_ = false;
  bool playAfterLoad_ = false;
  long playIndex_ = 0;
  ns::Weak<ak::ScrollView> scrollView_;
  ns::Weak<TableViewWithContextMenu> tableView_;
  std::vector<ns::Ref<SearchEntry>> cellArray_;
  std::string requestType_;
  std::string requestId_;
  std::optional<std::string> myPlaylistName_;
  std::optional<std::string> myPlaylistType_;
  ns::Ref<MyNSView> bottomView_;
  ns::Ref<ak::Button> subscribeBtn_;
  ns::Weak<ak::PopUpButton> searchOrderBtn_;
  std::vector<long> randomCellArray_;
  ns::Weak<ak::Button> refreshBtn_;
  std::optional<std::string> nowPlayingVideoIdForReload_;
  std::optional<long> nextPageNumber_;
  ns::Ref<ApiQueryYouTube> nextQuery_;
  // Pages in a row that brought no rows although the service named a next page.
  int emptyPagesInRow_ = 0;
  void endFetch();
  // Ends the fetch as failed: the rows stay and the list can be fetched again.
  void failFetch();
  // Fetches again, keeping the playing row when this is the current playlist.
  void refetch();
  long followingIndex() const;
};

// ---- the registry ----
// The controller for a list, made on first use ("others_playlists" is kept as "playlists" and
// not marked as the account's own).
ns::Ref<YTPlaylistViewController> getPlaylistViewController(const std::string& title,
                                                            const std::string& requestType,
                                                            const std::string& requestId);
// The single-video list of a video id; an existing one plays its row 0 when asked to.
ns::Ref<YTPlaylistViewController> getVideoIdPlaylistViewController(const std::string& videoId,
                                                                   bool playAfterLoad);
// The registered controller, nil when none (never made here).
ns::Ref<YTPlaylistViewController> getExistingPlaylistViewController(const std::string& requestType,
                                                                    const std::string& requestId);
ns::Ref<YTPlaylistViewController> findPlaylistViewController(const std::string& key);
// Moves the controller from the old type's key to the new type's.
void rekeyPlaylistViewController(const ns::Ref<YTPlaylistViewController>& controller,
                                 const std::string& newType, const std::string& oldType,
                                 const std::string& requestId);

// ---- the current playlist ----
ns::Ref<YTPlaylistViewController> currentPlaylistController();
void setCurrentPlaylistController(ns::Ref<YTPlaylistViewController> controller);

// The 32-bit random source of the shuffle; nullptr puts the system's back.
void setShuffleRandomSource(std::function<std::uint32_t()> source);

// Empties the registry and forgets the current playlist (tests).
void resetPlaylistRegistryForTesting();

// The search orders of the order pop-up, by item index (4 is "relevance" again).
struct SearchOrderEntry {
  long index;
  const char* requestType;
  const char* order;
  bool isVideoResult;
};
// Nil for an index the table does not hold.
const SearchOrderEntry* searchOrderForIndex(long index);
