#include "app/browse/VideoPopViewController.h"

#include <mutex>

#include "app/browse/ButtonCellRows.h"
#include "app/browse/PlaylistAdding.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/SearchEntry.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/IndexSet.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/BubblePopover.h"

PL_CLASS(VideoPopViewController, ak::ViewController) {
  cls.method<&VideoPopViewController::numberOfRowsInTableView>("numberOfRowsInTableView:");
  cls.method<&VideoPopViewController::tableView_viewForTableColumn_row>("tableView:viewForTableColumn:row:");
  cls.method<&VideoPopViewController::tableViewSelectionDidChange>("tableViewSelectionDidChange:");
  cls.method<&VideoPopViewController::onUploadersVideoBtn>("onUploadersVideoBtn:");
  cls.method<&VideoPopViewController::onRelatedVideoBtn>("onRelatedVideoBtn:");
  cls.method<&VideoPopViewController::onAddToFavoritesBtn>("onAddToFavoritesBtn:");
}

namespace {

ns::Ref<AccountCache> accountCache() {
  auto main = mainWindowController();
  return main ? main->accountCache() : nullptr;
}

}  // namespace

void VideoPopViewController::awakeFromNib() {
  ak::ViewController::awakeFromNib();
  cellArray_.clear();
  auto account = accountCache();
  cellArray_.push_back(
      {"Add to Favorites", account ? account->favorites().value_or("") : std::string(), "add_to_favorites"});
  if (account) {
    for (const auto& entry : account->playlistsArray()) {
      if (!entry.isArray() || entry.count() < 2 || !entry[0].isString() || !entry[1].isString()) continue;
      cellArray_.push_back({entry[1].string(), entry[0].string(), "playlist"});
    }
  }
  if (auto table = tableView()) table->reloadData();
}

long VideoPopViewController::numberOfRowsInTableView(const ns::Ref<ns::Object>&) {
  return static_cast<long>(cellArray_.size());
}

ns::Ref<ns::Object> VideoPopViewController::tableView_viewForTableColumn_row(
    const ns::Ref<ns::Object>& tableObject, const ns::Ref<ns::Object>&, long row) {
  auto table = std::dynamic_pointer_cast<ak::TableView>(tableObject);
  if (!table || row < 0 || row >= static_cast<long>(cellArray_.size())) return nullptr;
  return buttonCellForRow(table, cellArray_[static_cast<std::size_t>(row)].title, row,
                          std::shared_ptr<ButtonCellDelegate>(self<VideoPopViewController>(), this),
                          selectedRow_ == row);
}

void VideoPopViewController::tableViewSelectionDidChange(const ns::Ref<ns::Object>&) {
  auto table = tableView();
  if (buttonCellTableLostSelection(table)) {
    selectedRow_ = -1;
    if (table) table->reloadData();
  }
}

void VideoPopViewController::buttonCellClicked(std::int64_t idx) {
  ns::Log("buttonCellClicked %ld", static_cast<long>(idx));
  if (idx < 0 || idx >= static_cast<std::int64_t>(cellArray_.size())) return;
  selectedRow_ = static_cast<long>(idx);
  if (auto table = tableView()) {
    table->reloadData();
    table->selectRowIndexes_byExtendingSelection(
        *ns::IndexSet::indexSetWithIndex(static_cast<std::size_t>(idx)), false);
  }
  if (idx == 0) {
    onAddToFavoritesBtn(nullptr);
    return;
  }
  addToPlaylist(cellArray_[static_cast<std::size_t>(idx)].playlistId, false, true);
}

void VideoPopViewController::closePopover() {
  if (auto popover = popOver()) popover->closePopover(nullptr);
}

void VideoPopViewController::onAddToFavoritesBtn(const ns::Ref<ns::Object>&) {
  closePopover();
  auto account = accountCache();
  auto favorites = account ? account->favorites() : std::nullopt;
  // Signed out there are no favourites to add to.
  if (!favorites || favorites->empty()) return;
  addToPlaylist(*favorites, true, false);
}

void VideoPopViewController::addToPlaylist(const std::string& playlistId, bool atTop, bool closeOnSuccess) {
  auto row = searchEntry();
  const std::string videoId = row ? row->videoid().value_or("") : std::string();
  if (videoId.empty() || playlistId.empty()) return;
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  if (!service) return;

  // The copy, not the list's own row, goes into the target list, with the target's item id.
  auto copy = copySearchEntry(row);
  ns::Weak<VideoPopViewController> weakSelf = self<VideoPopViewController>();
  insertVideo_intoPlaylist(service, videoId, playlistId, std::nullopt,
                           [weakSelf, copy, playlistId, atTop, closeOnSuccess](const std::string& itemId) {
                             if (copy) {
                               copy->setPlaylistItemId(itemId);
                               copy->setPlaylistid(playlistId);
                               showRowInOpenPlaylist(copy, playlistId, atTop);
                             }
                             if (auto self = weakSelf.lock(); self && closeOnSuccess) self->closePopover();
                           });
}

void VideoPopViewController::onUploadersVideoBtn(const ns::Ref<ns::Object>&) {
  closePopover();
  pushUploadersVideo(searchEntry());
}

void VideoPopViewController::onRelatedVideoBtn(const ns::Ref<ns::Object>&) {
  closePopover();
  pushRelatedVideo(searchEntry());
}

// ---- the nib ----

namespace {

void buildVideoPop(ak::NibLoader& nib) {
  auto owner = nib.owner<VideoPopViewController>();
  const double width = 240, height = 300, buttons = 30;
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, width, height));
  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, buttons, width, height - buttons));
  scroll->setHasVerticalScroller(true);
  scroll->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, width, height - buttons));
  auto column = ns::make<ak::TableColumn>("main");
  column->setWidth(width);
  table->addTableColumn(column);
  table->setRowHeight(kButtonCellRowHeight);
  scroll->setDocumentView(table);
  root->addSubview(scroll);
  auto uploader = ak::make<ak::Button>(ak::MakeRect(4, 4, width / 2 - 6, buttons - 8));
  uploader->setTitle("Uploader's Video");
  auto related = ak::make<ak::Button>(ak::MakeRect(width / 2 + 2, 4, width / 2 - 6, buttons - 8));
  related->setTitle("Related Video");
  root->addSubview(uploader);
  root->addSubview(related);
  nib.outlet([owner, root, table] {
    if (!owner) return;
    owner->setView(root);
    owner->setTableView(table);
    table->setDataSource(owner);
    table->setDelegate(owner);
  });
  nib.action([owner, uploader, related] {
    if (!owner) return;
    uploader->setTarget(owner);
    uploader->setAction(ns::Sel("onUploadersVideoBtn:"));
    related->setTarget(owner);
    related->setAction(ns::Sel("onRelatedVideoBtn:"));
  });
}

}  // namespace

void registerVideoPopNib() {
  static std::once_flag once;
  std::call_once(once, [] { ak::Nib::registerBuilder("VideoPopViewController", buildVideoPop); });
}
