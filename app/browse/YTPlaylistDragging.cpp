// Dragging rows out of a list pane, reordering an own playlist by dragging its rows (one update
// request after the other), and links dropped in from other programs.
#include <algorithm>
#include <deque>
#include <set>

#include "app/browse/DragPayloads.h"
#include "app/browse/PlaylistAdding.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/youtube/SearchEntry.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/TableView.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/IndexSet.h"

namespace {

// The list panes' own memo of the last link examined.
LinkCheckMemo& linkMemo() {
  static ns::NoDestructor<LinkCheckMemo> memo;
  return *memo;
}

// Lists whose rows are being moved on the service: their row indexes are in flux, so a new drag
// of their rows waits for the end of the chain.
std::set<const YTPlaylistViewController*>& reorderingLists() {
  static ns::NoDestructor<std::set<const YTPlaylistViewController*>> lists;
  return *lists;
}

struct Reorder {
  ns::Weak<YTPlaylistViewController> list;
  std::deque<ns::Ref<SearchEntry>> rows;
  int position = 0;
};

ns::Ref<ApiQueryYouTube> playlistItemUpdateQuery(const ns::Ref<SearchEntry>& row,
                                                 const std::string& playlistId, int position) {
  auto resource = ApiObject::object<ApiYouTubeResourceId>();
  resource->setKind("youtube#video");
  resource->setVideoId(row->videoid());
  auto snippet = ApiObject::object<ApiYouTubePlaylistItemSnippet>();
  snippet->setPlaylistId(playlistId);
  snippet->setResourceId(resource);
  snippet->setPosition(ns::Number(position));
  auto item = ApiObject::object<ApiYouTubePlaylistItem>();
  item->setIdentifier(row->playlistItemId());
  item->setSnippet(snippet);
  return ApiQueryYouTube::queryForPlaylistItemsUpdateWithObject_part(item, "snippet");
}

// The end of a chain, whichever way it ended: the playing row gives its index back, every flag is
// cleared and the table shows the rows.
void endReorder(YTPlaylistViewController& list, bool save) {
  reorderingLists().erase(&list);
  auto& rows = list.cellArray();
  if (list.playIndex() >= 0) {
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i]->isPlaying()) list.setPlayIndex(static_cast<long>(i));
  }
  for (const auto& row : rows) row->setIsPlaying(false);
  if (auto table = list.tableView()) table->reloadData();
  if (save) list.saveToCache();
}

// The rows not moved yet go back where they were dropped.
void putBack(YTPlaylistViewController& list, const std::deque<ns::Ref<SearchEntry>>& rows, int position) {
  auto& cells = list.cellArray();
  auto at = static_cast<std::size_t>(std::clamp<long>(position, 0, static_cast<long>(cells.size())));
  cells.insert(cells.begin() + static_cast<long>(at), rows.begin(), rows.end());
}

void moveNext(const std::shared_ptr<Reorder>& chain) {
  auto list = chain->list.lock();
  if (!list) return;
  if (chain->rows.empty()) {
    endReorder(*list, true);
    return;
  }
  auto row = chain->rows.front();
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  if (!row->playlistItemId() || row->playlistItemId()->empty() || !service) {
    // Nothing to move on the service: the rows stay where they were dropped.
    putBack(*list, chain->rows, chain->position);
    endReorder(*list, true);
    return;
  }
  auto query = playlistItemUpdateQuery(row, list->requestId(), chain->position);
  service->executeQuery_completionHandler(
      query, [chain](const auto&, const auto&, const std::optional<ns::Error>& error) {
        if (error) ns::LogWarning("error: %@", *error);
        std::optional<ns::Error> failure = error;
        dispatch::async(dispatch::mainQueue(), [chain, failure] {
          auto list = chain->list.lock();
          if (!list) return;
          if (failure) {
            // The service's order is no longer known here: the rows come back, then the list is
            // fetched again.
            putBack(*list, chain->rows, chain->position);
            endReorder(*list, false);
            list->reloadList();
            return;
          }
          auto& cells = list->cellArray();
          auto at = std::clamp<long>(chain->position, 0, static_cast<long>(cells.size()));
          cells.insert(cells.begin() + at, chain->rows.front());
          chain->rows.pop_front();
          ++chain->position;
          moveNext(chain);
        });
      });
}

}  // namespace

bool YTPlaylistViewController::canReorder() const {
  return requestType_ == "playlists" && (!myPlaylistType_ || *myPlaylistType_ == "watchlater");
}

bool YTPlaylistViewController::tableView_writeRowsWithIndexes_toPasteboard(
    const ns::Ref<ns::Object>&, const ns::Ref<ns::Object>& indexes, const ns::Ref<ns::Object>& pasteboard) {
  auto set = std::dynamic_pointer_cast<ns::IndexSet>(indexes);
  auto board = std::dynamic_pointer_cast<ak::Pasteboard>(pasteboard);
  if (!set || !board || set->count() == 0) return false;
  std::vector<ns::Ref<SearchEntry>> rows;
  set->enumerateIndexesUsingBlock([&](std::size_t index, bool* stop) {
    auto copy = index < cellArray_.size() ? copySearchEntry(cellArray_[index]) : nullptr;
    if (!copy) {
      *stop = true;
      return;
    }
    // The drag's marks go on the copies: the list's rows keep their own.
    copy->setIsPlaying(static_cast<long>(index) == playIndex_);
    copy->setPlaylistid(requestId_);
    rows.push_back(copy);
  });
  if (rows.size() != set->count()) return false;
  auto data = archiveVideoRows(*set, rows);
  if (!data) return false;
  board->declareTypes_owner({kVideoTableViewDragType}, self<YTPlaylistViewController>());
  board->setData_forType(*data, kVideoTableViewDragType);
  return true;
}

std::optional<std::string> YTPlaylistViewController::urlFromNSPasteboardItem(
    const ns::Ref<ak::PasteboardItem>& item) {
  return item ? pasteboardItemLink(*item) : std::nullopt;
}

bool YTPlaylistViewController::urlDropOk(const std::string& address) {
  return linkMemo().urlDropOk(address);
}

std::optional<std::string> YTPlaylistViewController::videoIdFromPasteboardItem(
    const ns::Ref<ak::PasteboardItem>& item) {
  auto link = urlFromNSPasteboardItem(item);
  return link ? videoIdOfLink(*link) : std::nullopt;
}

namespace {

// Only a drag of this list's own table reorders it; rows of another table are not this list's.
bool fromOwnTable(const ak::DraggingInfo& drag, const ns::Ref<TableViewWithContextMenu>& table) {
  return table && drag.draggingSource() == std::static_pointer_cast<ns::Object>(table);
}

// Links go into the account's playlists that the service lets us edit.
bool takesLinks(YTPlaylistViewController& list) {
  const auto& type = list.myPlaylistType();
  return list.requestType() == "playlists" && list.isMyPlaylist() &&
         !(type && (*type == "uploads" || *type == "watchhistory"));
}

}  // namespace

unsigned long YTPlaylistViewController::tableView_validateDrop_proposedRow_proposedDropOperation(
    const ns::Ref<ns::Object>&, const ns::Ref<ns::Object>& info, long, unsigned long operation) {
  auto drag = std::dynamic_pointer_cast<ak::DraggingInfo>(info);
  auto board = drag ? drag->draggingPasteboard() : nullptr;
  if (!board) return ak::DragOperationNone;
  if (board->availableTypeFromArray({kVideoTableViewDragType})) {
    const bool ok = operation == ak::TableViewDropAbove && fromOwnTable(*drag, tableView()) && canReorder() &&
                    !reorderingLists().count(this);
    return ok ? ak::DragOperationMove : ak::DragOperationNone;
  }
  const auto& items = board->pasteboardItems();
  if (items.empty() || !takesLinks(*this)) return ak::DragOperationNone;
  auto address = pasteboardItemAddress(*items.front());
  return address && urlDropOk(*address) ? ak::DragOperationMove : ak::DragOperationNone;
}

bool YTPlaylistViewController::tableView_acceptDrop_row_dropOperation(const ns::Ref<ns::Object>&,
                                                                      const ns::Ref<ns::Object>& info,
                                                                      long row, unsigned long operation) {
  auto drag = std::dynamic_pointer_cast<ak::DraggingInfo>(info);
  auto board = drag ? drag->draggingPasteboard() : nullptr;
  if (!board || operation != ak::TableViewDropAbove) return false;
  const int dropRow = static_cast<int>(std::clamp<long>(row, 0, static_cast<long>(cellArray_.size())));

  if (board->availableTypeFromArray({kVideoTableViewDragType})) {
    if (!fromOwnTable(*drag, tableView()) || reorderingLists().count(this)) return false;
    if (!canReorder()) {
      if (requestType_ == "playlists") ns::Log("MOVE NOT SUPPORTED!!!");
      return false;
    }
    auto data = board->dataForType(kVideoTableViewDragType);
    auto payload = data ? decodeVideoRows(*data) : std::nullopt;
    if (!payload || payload->indexes.empty()) return false;
    // The indexes must still name the dragged rows of this list.
    std::vector<ns::Ref<SearchEntry>> moving;
    for (std::size_t i = 0; i < payload->indexes.size(); ++i) {
      const long index = payload->indexes[i];
      if (index < 0 || index >= static_cast<long>(cellArray_.size()) ||
          cellArray_[static_cast<std::size_t>(index)]->videoid() != payload->rows[i]->videoid())
        return false;
      moving.push_back(cellArray_[static_cast<std::size_t>(index)]);
    }
    int position = dropRow;
    for (long index : payload->indexes)
      if (position > index) --position;
    // The playing row is found again by its flag after the move.
    if (playIndex_ >= 0 && playIndex_ < static_cast<long>(cellArray_.size()))
      cellArray_[static_cast<std::size_t>(playIndex_)]->setIsPlaying(true);
    for (auto index = payload->indexes.rbegin(); index != payload->indexes.rend(); ++index)
      cellArray_.erase(cellArray_.begin() + *index);
    movePlaylistItems_newPosition(std::move(moving), position);
    return true;
  }

  if (!takesLinks(*this)) return false;
  bool taken = false;
  for (const auto& item : board->pasteboardItems()) {
    auto videoId = videoIdFromPasteboardItem(item);
    if (!videoId) continue;
    taken = true;
    if (auto cached = SearchEntry::initWithCache(*videoId)) {
      insertSearchEntry_toIndex(cached, dropRow);
      continue;
    }
    auto entry = SearchEntry::init();
    entry->setVideoid(*videoId);
    ns::Weak<YTPlaylistViewController> weak = self<YTPlaylistViewController>();
    entry->getFromNetwork([weak, dropRow](const ns::Ref<SearchEntry>& filled) {
      ns::Log("getFromNetwork! e = %@", filled->description());
      dispatch::async(dispatch::mainQueue(), [weak, dropRow, filled] {
        if (auto me = weak.lock()) me->insertSearchEntry_toIndex(filled, dropRow);
      });
    });
  }
  return taken;
}

void YTPlaylistViewController::movePlaylistItems_newPosition(std::vector<ns::Ref<SearchEntry>> rows,
                                                             int position) {
  auto chain = std::make_shared<Reorder>();
  chain->list = self<YTPlaylistViewController>();
  chain->rows.assign(rows.begin(), rows.end());
  chain->position = position;
  reorderingLists().insert(this);
  if (!canReorder()) {
    if (requestType_ == "playlists") ns::Log("MOVE NOT SUPPORTED!!!");
    // Rows handed over are never lost: they go back where they were dropped.
    putBack(*this, chain->rows, position);
    endReorder(*this, false);
    return;
  }
  moveNext(chain);
}

void YTPlaylistViewController::movePlaylistItem_newPosition(const ns::Ref<SearchEntry>& row, int position) {
  if (!canReorder()) {
    if (requestType_ == "playlists") ns::Log("MOVE NOT SUPPORTED!!!");
    return;
  }
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  if (!row || !row->playlistItemId() || !service) return;
  service->executeQuery_completionHandler(
      playlistItemUpdateQuery(row, requestId_, position),
      [](const auto&, const auto&, const std::optional<ns::Error>& error) {
        if (error) ns::LogWarning("error: %@", *error);
      });
}
