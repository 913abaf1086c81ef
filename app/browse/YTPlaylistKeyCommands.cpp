// The keys the application routes to the list on show: the title edit and the favourites.
#include "app/browse/PlaylistAdding.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/shell/IMainWindowController.h"
#include "app/shell/IPlayerViewController.h"
#include "app/youtube/SearchEntry.h"
#include "platform/foundation/IndexSet.h"

namespace {

// The row at the first selected index when exactly one is selected, else nil.
ns::Ref<SearchEntry> singleSelectedRow(const YTPlaylistViewController& list,
                                       const std::vector<ns::Ref<SearchEntry>>& rows) {
  if (list.getSelectedCount() != 1) return nullptr;
  auto table = list.tableView();
  auto selection = table ? table->selectedRowIndexes() : nullptr;
  if (!selection || selection->count() == 0) return nullptr;
  const std::size_t index = selection->firstIndex();
  return index < rows.size() ? rows[index] : nullptr;
}

void say(const std::string& message) {
  if (auto player = playerViewController()) player->showOSD(message);
}

}  // namespace

bool YTPlaylistViewController::editSelectedVideoTitle() {
  auto row = singleSelectedRow(*this, cellArray_);
  auto main = mainWindowController();
  auto account = main ? main->accountCache() : nullptr;
  if (!row || !account || row->videoChannelId().empty() || !account->isMyChannel(row->videoChannelId()))
    return false;
  main->onShowRenameVideo(row);
  return true;
}

bool YTPlaylistViewController::addOrRemoveFavorites() {
  auto row = singleSelectedRow(*this, cellArray_);
  auto main = mainWindowController();
  auto account = main ? main->accountCache() : nullptr;
  if (!row || !account || !row->videoid() || row->videoid()->empty()) return false;
  const std::optional<std::string>& favorites = account->favorites();
  // Signed in before the account's special lists are known: there is nothing to add to yet.
  if (!favorites || favorites->empty()) return false;
  const std::string videoId = *row->videoid();
  auto index = main->videoInPlaylistCache();
  if (!index || !index->hasVideo_inPlaylist(videoId, *favorites)) {
    auto copy = copySearchEntry(row);
    if (!copy) return false;
    copy->setPlaylistid(requestId_);
    addSearchEntries_toPlaylistId_deleteAfterCopy({copy}, *favorites, false);
    refreshTableView();
    say("added to Favorites");
    return true;
  }
  std::optional<std::string> itemId;
  if (auto stored = account->getPlaylistCache_withId("playlists", *favorites)) {
    for (const ns::Value& value : *stored) {
      auto entry = value.objectAs<SearchEntry>();
      if (entry && entry->videoid() == videoId) {
        itemId = entry->playlistItemId();
        break;
      }
    }
  }
  deleteVideo_withPlaylistItemId_fromPlaylist(videoId, itemId, *favorites);
  say("removed from Favorites");
  return true;
}
