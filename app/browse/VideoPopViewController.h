#pragma once
// A small popover of actions for one video: add it to the account's favourites or to one of the
// account's own playlists (one button row each, as on the menu page), open its uploader's videos
// or its related videos. Whoever opens it makes it from the nib "VideoPopViewController", sets
// the row, the list it came from and the popover, and shows the popover. Main thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/appkit/ViewController.h"
#include "ui/ButtonCell.h"

class SearchEntry;
class BubblePopover;
class YTPlaylistViewController;
namespace ak {
class TableView;
}

class VideoPopViewController : public ak::ViewController, public ButtonCellDelegate {
 public:
  // One row: its title, the playlist it adds to and its kind ("add_to_favorites" or
  // "playlist").
  struct Row {
    std::string title;
    std::string playlistId;
    std::string kind;
  };

  // Row 0 "Add to Favorites" with the account's favourites id, then one row per playlist of the
  // account.
  void awakeFromNib() override;

  // ---- the table's data source and delegate (called through the runtime) ----
  long numberOfRowsInTableView(const ns::Ref<ns::Object>& table);
  ns::Ref<ns::Object> tableView_viewForTableColumn_row(const ns::Ref<ns::Object>& table,
                                                       const ns::Ref<ns::Object>& column, long row);
  void tableViewSelectionDidChange(const ns::Ref<ns::Object>& notification);
  // Row 0 adds to the favourites; another row inserts the video into that playlist on the
  // service, shows a copy with its new item id at the end of the playlist's open list and closes
  // the popover; a refusal forgets the membership this click recorded and leaves it open.
  void buttonCellClicked(std::int64_t idx) override;

  // ---- actions ----
  void onUploadersVideoBtn(const ns::Ref<ns::Object>& sender);
  void onRelatedVideoBtn(const ns::Ref<ns::Object>& sender);
  // Closes the popover, then inserts the video into the favourites (the copy goes first in
  // their open list); nothing is sent without a favourites id (signed out).
  void onAddToFavoritesBtn(const ns::Ref<ns::Object>& sender);

  // ---- properties ----
  long selectedRow() const { return selectedRow_; }
  void setSelectedRow(long row) { selectedRow_ = row; }
  ns::Ref<ak::TableView> tableView() const { return tableView_.lock(); }
  void setTableView(const ns::Ref<ak::TableView>& table) { tableView_ = table; }
  // Weak: the list holds its rows.
  ns::Ref<SearchEntry> searchEntry() const { return searchEntry_.lock(); }
  void setSearchEntry(const ns::Ref<SearchEntry>& row) { searchEntry_ = row; }
  ns::Ref<YTPlaylistViewController> playlist() const { return playlist_; }
  void setPlaylist(const ns::Ref<YTPlaylistViewController>& list) { playlist_ = list; }
  // Weak: the popover holds this controller.
  ns::Ref<BubblePopover> popOver() const { return popOver_.lock(); }
  void setPopOver(const ns::Ref<BubblePopover>& popover) { popOver_ = popover; }
  const std::vector<Row>& cellArray() const { return cellArray_; }

  std::string className() const override { return "VideoPopViewController"; }

 private:
  void closePopover();
  // Inserts the video into the playlist; the copy goes first or last into its open list.
  void addToPlaylist(const std::string& playlistId, bool atTop, bool closeOnSuccess);

  long selectedRow_ = -1;
  ns::Weak<ak::TableView> tableView_;
  ns::Weak<SearchEntry> searchEntry_;
  ns::Ref<YTPlaylistViewController> playlist_;
  ns::Weak<BubblePopover> popOver_;
  std::vector<Row> cellArray_;
};

// Registers the nib builder "VideoPopViewController" (once per process).
void registerVideoPopNib();
