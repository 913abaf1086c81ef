// Editing the account's playlists from a list pane: removing rows and their entries on the
// service.
#include <algorithm>

#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/shell/IMainWindowController.h"
#include "app/youtube/SearchEntry.h"
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
  cellArray_.erase(cellArray_.begin() + index);
  // The playing row keeps its mark when a row above it goes.
  if (index < playIndex_) --playIndex_;
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
          ns::Log("delete error: %@", *error);
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
  if (found == cellArray_.end()) return;
  const long index = found - cellArray_.begin();
  cellArray_.erase(found);
  if (index < playIndex_) --playIndex_;
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
