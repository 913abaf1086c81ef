// Editing the account's playlists from a list pane: inserting and removing rows and their
// entries on the service, renaming rows, and the keyboard's favourites toggle and title edit.
#include <algorithm>

#include "app/browse/LeftViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/PlaylistAdding.h"
#include "common/IPlayerViewController.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/foundation/IndexSet.h"

#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/SearchEntry.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"

namespace {

ns::Ref<VideoInPlaylistCache> playlistIndex() {
  auto main = mainWindowController();
  return main ? main->videoInPlaylistCache() : nullptr;
}

}  // namespace

void YTPlaylistViewController::deletePlaylistItem(long index) {
  if (index < 0 || index >= static_cast<long>(cellArray_.size())) return;
  auto row = cellArray_[static_cast<std::size_t>(index)];
  if (requestType_ == "playlists" && myPlaylistType_ != "uploads" && myPlaylistType_ != "watchhistory")
    deleteVideo_withPlaylistItemId_fromPlaylist(row->videoid().value_or(""), row->playlistItemId(),
                                                requestId_);
  removeRowAtIndex(index);
  if (auto table = tableView()) table->reloadData();
  saveToCache();
}

void YTPlaylistViewController::deleteVideo_withPlaylistItemId_fromPlaylist(
    const std::string& videoId, const std::optional<std::string>& playlistItemId,
    const std::string& playlistId) {
  if (auto index = playlistIndex()) index->deleteVideo_fromPlaylist(videoId, playlistId);
  refreshTableView();
  if (!playlistItemId || playlistItemId->empty()) return;
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  if (!service) {
    if (auto index = playlistIndex()) index->addVideo_toPlaylist(videoId, playlistId);
    return;
  }
  const std::string itemId = *playlistItemId;
  auto query = ApiQueryYouTube::queryForPlaylistItemsDeleteWithIdentifier(itemId);
  service->executeQuery_completionHandler(
      query,
      [videoId, itemId, playlistId](const auto&, const auto& reply, const std::optional<ns::Error>& error) {
        if (error) {
          ns::LogWarning("delete error: %@", *error);
          if (auto index = playlistIndex()) index->addVideo_toPlaylist(videoId, playlistId);
          return;
        }
        ns::Log("delete ok: %@", reply ? reply->description() : std::string());
        dispatch::async(dispatch::mainQueue(), [itemId, playlistId] {
          if (auto list = getExistingPlaylistViewController("playlists", playlistId)) {
            list->deleteVideoWithPlaylistItemId(itemId);
            list->refreshTableView();
          }
          auto main = mainWindowController();
          if (auto account = main ? main->accountCache() : nullptr)
            account->deleteVideoWithPlaylistItemId_fromPlaylist(itemId, playlistId);
        });
      });
}

void YTPlaylistViewController::deleteVideoWithPlaylistItemId(const std::string& playlistItemId) {
  auto found = std::find_if(cellArray_.begin(), cellArray_.end(),
                            [&](const auto& row) { return row->playlistItemId() == playlistItemId; });
  if (found != cellArray_.end()) removeRowAtIndex(found - cellArray_.begin());
}

bool YTPlaylistViewController::hasPlaylistItemId(const std::string& playlistItemId) const {
  return std::any_of(cellArray_.begin(), cellArray_.end(),
                     [&](const auto& row) { return row->playlistItemId() == playlistItemId; });
}

void YTPlaylistViewController::deleteSearchItemFromServerPlaylist_newPlaylistItemId(
    const ns::Ref<SearchEntry>& row, const std::string& newPlaylistItemId) {
  ns::Log("%s called", "-[YTPlaylistViewController deleteSearchItemFromServerPlaylist:newPlaylistItemId:]");
  if (!row) return;
  // The delete's success takes the row out of this list: a refused delete leaves it where it
  // is, as the service still holds it.
  deleteVideo_withPlaylistItemId_fromPlaylist(row->videoid().value_or(""), row->playlistItemId(), requestId_);
  (void)newPlaylistItemId;
}

void YTPlaylistViewController::insertRow_atIndex(const ns::Ref<SearchEntry>& row, long index) {
  if (!row) return;
  const long count = static_cast<long>(cellArray_.size());
  index = std::clamp(index, 0L, count);
  cellArray_.insert(cellArray_.begin() + index, row);
  // The playing row moves down one place with the rows after the insertion point.
  if (playIndex_ >= 0 && playIndex_ < count && index <= playIndex_) ++playIndex_;
}

void YTPlaylistViewController::removeRowAtIndex(long index) {
  if (index < 0 || index >= static_cast<long>(cellArray_.size())) return;
  cellArray_.erase(cellArray_.begin() + index);
  if (index < playIndex_) --playIndex_;
}

void YTPlaylistViewController::insertSearchEntry_toIndex(const ns::Ref<SearchEntry>& row, int index) {
  const std::string videoId = row ? row->videoid().value_or("") : std::string();
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  if (videoId.empty() || !service) return;
  const std::string playlistId = requestId_;
  insertVideo_intoPlaylist(service, videoId, playlistId, index,
                           [row, videoId, playlistId, index](const std::string& itemId) {
                             row->setPlaylistItemId(itemId);
                             if (auto pairs = playlistIndex())
                               pairs->addVideo_toPlaylist(videoId, playlistId);
                             if (auto list = getExistingPlaylistViewController("playlists", playlistId)) {
                               list->insertRow_atIndex(row, index);
                               list->refreshTableView();
                             }
                             auto main = mainWindowController();
                             if (auto account = main ? main->accountCache() : nullptr)
                               account->addSearchEntry_toPlaylist_toIndex(row, playlistId, index);
                           });
}

bool YTPlaylistViewController::editSelectedVideoTitle() {
  auto table = tableView();
  if (!table || getSelectedCount() != 1) return false;
  const std::size_t selected = table->selectedRowIndexes()->firstIndex();
  if (selected >= cellArray_.size()) return false;
  auto row = cellArray_[selected];
  auto main = mainWindowController();
  auto account = main ? main->accountCache() : nullptr;
  if (!account || row->videoChannelId().empty() || !account->isMyChannel(row->videoChannelId())) return false;
  main->onShowRenameVideo(row);
  return true;
}

bool YTPlaylistViewController::addOrRemoveFavorites() {
  auto table = tableView();
  if (!table || getSelectedCount() != 1) return false;
  const std::size_t selected = table->selectedRowIndexes()->firstIndex();
  if (selected >= cellArray_.size()) return false;
  auto row = cellArray_[selected];
  const std::string videoId = row->videoid().value_or("");
  auto main = mainWindowController();
  auto account = main ? main->accountCache() : nullptr;
  if (!account || !account->favorites() || videoId.empty()) return false;
  const std::string favorites = *account->favorites();
  auto pairs = playlistIndex();
  auto player = playerViewController();
  if (!pairs || !pairs->hasVideo_inPlaylist(videoId, favorites)) {
    auto left = main->leftViewController();
    if (auto menu = left ? left->menuViewController() : nullptr)
      menu->addSearchEntry_toPlaylistId(row, favorites);
    refreshTableView();
    if (player) player->showOSD("added to Favorites");
    return true;
  }
  // The entry's id in the favourites: from the stored copy, else from the open list.
  std::optional<std::string> itemId;
  if (auto stored = account->getPlaylistCache_withId("playlists", favorites)) {
    for (const ns::Value& value : *stored) {
      auto entry = value.objectAs<SearchEntry>();
      if (entry && entry->videoid() == videoId) {
        itemId = entry->playlistItemId();
        break;
      }
    }
  }
  if (!itemId || itemId->empty()) {
    itemId.reset();
    if (auto open = getExistingPlaylistViewController("playlists", favorites)) {
      for (const auto& entry : open->cellArray())
        if (entry->videoid() == videoId && entry->playlistItemId() && !entry->playlistItemId()->empty()) {
          itemId = entry->playlistItemId();
          break;
        }
    }
  }
  if (!itemId) {
    // Nothing can be removed on the service: the membership stays as it is, and no success shows.
    ns::Log("no favourites entry known for %@", videoId);
    return true;
  }
  deleteVideo_withPlaylistItemId_fromPlaylist(videoId, itemId, favorites);
  if (player) player->showOSD("removed from Favorites");
  return true;
}
