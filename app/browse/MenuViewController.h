#pragma once
// The source list of the left pane: the account's special lists, its playlists sorted into the
// local playlist groups, the subscriptions and the feeds. It rebuilds the tree from the account
// cache and the library store, opens the selected row in the navigation and marks the row of the
// list on show. Made from the nib "MenuViewController"; main thread only.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/browse/MenuItem.h"
#include "app/browse/PelViewController.h"
#include "common/IBrowsingInterface.h"
#include "platform/core/Value.h"

class AccountCache;
class SearchEntry;
class SourceList;
namespace ak {
class Button;
class PasteboardItem;
class Popover;
class ScrollView;
class View;
}  // namespace ak
namespace ns {
class Error;
class Notification;
}  // namespace ns

class MenuViewController : public PelViewController, public IMenuViewController {
 public:
  void initWithNibName_bundle(const std::optional<std::string>& nibName,
                              const ns::Ref<ns::Bundle>& bundle) override;
  ~MenuViewController() override;
  void awakeFromNib() override;

  // ---- the tree ----
  void refresh() override;
  void updatePlaylists();
  void updateSubscriptions();
  void updateFeeds();
  void updateRelatedPlaylists();
  void onPlaylistGroupChanged();
  void updatePlaylist_itemCountPlus(const std::string& playlistId, int delta) override;
  std::optional<std::string> requestIdForSpecial(const std::string& identifier) const;

  // ---- selection and marking ----
  void openPlaylist_withTitle(const std::string& identifier, const std::string& title);
  void selectItemType_withId_scrollTo(const std::string& requestType, const std::string& requestId,
                                      bool scrollTo);
  void deselect();
  void toggleExpand(const ns::Ref<MenuItem>& item);
  void reachabilityChanged();
  void onCurrentPlaylistChanged();
  void onRefreshBtn(const ns::Ref<ns::Object>& sender) { refreshAccountInfoFromNetwork(); }
  void refreshAccountInfoFromNetwork() override;
  // Show the new-playlist and new-group forms in transient popovers right of their buttons.
  void onNewPlaylistBtn(const ns::Ref<ns::Object>& sender);
  void onNewPlaylistGroupBtn(const ns::Ref<ns::Object>& sender);
  // The popover of the last form shown; kept here, as nothing else holds a shown popover.
  ns::Ref<ak::Popover> formPopover() const { return formPopover_; }

  // ---- how rows look ----
  // Whether the row's list can be shown now: always while reachable, else when the account
  // cache holds a copy of it ("Cached Videos" always).
  bool isItemAvailable(const ns::Ref<MenuItem>& node) const;
  // The row's icon: the now-playing icon for the list that feeds the player (white on the single
  // selected row), else the selected icon on the single selected row, else the icon.
  ns::Ref<ak::Image> iconForNode(const ns::Ref<MenuItem>& node) const;
  // A heading's view for a section, a row's view (icon, editable title for playlists, count,
  // dimmed when not available) for any other node.
  ns::Ref<ns::Object> sourceList_viewForItem(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  // A black row view, 300 by 20.
  ns::Ref<ns::Object> sourceList_rowViewForItem(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  void setNetStatusForTesting(long status) { netStatus_ = status; }

  // ---- renaming a playlist in place ----
  void myOutlineViewEndEdit(const ns::Ref<ns::Notification>& note);
  void myOutlineViewEndCancel(const ns::Ref<ns::Notification>& note);
  // The title the account holds for the playlist, nil when it has none.
  std::optional<std::string> getOriginalTitleForPlaylist(const std::string& playlistId) const;

  // ---- the source list's data source and delegate (called through the runtime) ----
  unsigned long sourceList_numberOfChildrenOfItem(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  ns::Ref<ns::Object> sourceList_child_ofItem(ns::Ref<ns::Object> list, unsigned long index,
                                              ns::Ref<ns::Object> item);
  ns::BOOL sourceList_isItemExpandable(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  ns::Value sourceList_objectValueForItem(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  // Stores the edited text as the node's title.
  void sourceList_setObjectValue_forItem(ns::Ref<ns::Object> list, ns::Value value, ns::Ref<ns::Object> item);
  // The row's icon by the rule of iconForNode (the rows are views: the outline draws no badges
  // or icons of its own).
  ns::Ref<ns::Object> sourceList_iconForItem(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  bool sourceList_isGroupAlwaysExpanded(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item) { return false; }
  bool sourceList_shouldEditItem(ns::Ref<ns::Object> list, ns::Ref<ns::Object> item);
  void sourceListSelectionDidChange(ns::Ref<ns::Notification> note);
  void sourceListItemWillExpand(ns::Ref<ns::Notification> note);
  void sourceListItemDidExpand(ns::Ref<ns::Notification> note);
  void sourceListItemWillCollapse(ns::Ref<ns::Notification> note);
  void sourceListItemDidCollapse(ns::Ref<ns::Notification> note) {}
  void sourceListDeleteKeyPressedOnRows(ns::Ref<ns::Notification> note);

  // ---- the context menu and its actions ----
  // Right mouse down, or left mouse down with Control, on a row or none; nil for other events.
  ns::Ref<ns::Object> sourceList_menuForEvent_item(ns::Ref<ns::Object> list, ns::Ref<ns::Object> event,
                                                   ns::Ref<ns::Object> item);
  ns::Ref<MenuItem> rightClickedMenuItem() const { return rightClickedMenuItem_; }
  // Shows the group form in rename mode for the clicked group, next to the outline.
  void renameGroup(const ns::Ref<ns::Object>& sender);
  void deleteGroup(const ns::Ref<ns::Object>& sender);
  void changeGroup(const ns::Ref<ns::Object>& sender);
  void changeSelectionGroup(const ns::Ref<ns::Object>& sender);
  void deletePlaylist(const ns::Ref<ns::Object>& sender);
  void unsubscribe(const ns::Ref<ns::Object>& sender);
  void copyplaylistlink(const ns::Ref<ns::Object>& sender);
  void refresh_(const ns::Ref<ns::Object>& sender) { refreshAccountInfoFromNetwork(); }

  // ---- adding videos to the account's playlists, and drops (MenuViewControllerDrops.cpp) ----
  // Each add inserts a copy of the row on the service (the caller's row never gets the target's
  // item id), one insert after the other for a batch.
  void addSearchEntry_toPlaylistId(const ns::Ref<SearchEntry>& row, const std::string& playlistId);
  void addSearchEntries_toPlaylistId_deleteAfterCopy(const std::vector<ns::Ref<SearchEntry>>& rows,
                                                     const std::string& playlistId, bool deleteAfterCopy);
  void addSearchEntry_toPlaylist(const ns::Ref<SearchEntry>& row, const std::string& playlistId);
  void addVideoForUrl_toPlaylistId(const std::string& link, const std::string& playlistId);
  static void logError(const ns::Error& error);
  bool sourceList_writeItems_toPasteboard(const ns::Ref<ns::Object>& list, const ns::Value& items,
                                          const ns::Ref<ns::Object>& pasteboard);
  unsigned long sourceList_validateDrop_proposedItem_proposedChildIndex(const ns::Ref<ns::Object>& list,
                                                                        const ns::Ref<ns::Object>& info,
                                                                        const ns::Ref<ns::Object>& item,
                                                                        long childIndex);
  bool sourceList_acceptDrop_item_childIndex(const ns::Ref<ns::Object>& list, const ns::Ref<ns::Object>& info,
                                             const ns::Ref<ns::Object>& item, long childIndex);
  std::optional<std::string> urlFromNSPasteboardItem(const ns::Ref<ak::PasteboardItem>& item);
  bool urlDropOk(const std::string& address);

  // ---- parts ----
  ns::Ref<SourceList> sourceList() const { return sourceList_; }
  ns::Ref<ak::Button> createPlaylistBtn() const { return createPlaylistBtn_.lock(); }
  ns::Ref<ak::Button> createPlaylistGroupBtn() const { return createPlaylistGroupBtn_.lock(); }
  ns::Ref<ak::Button> refreshBtn() const { return refreshBtn_.lock(); }
  const std::vector<ns::Ref<MenuItem>>& sourceListItems() const { return sourceListItems_; }
  ns::Ref<MenuItem> libraryItem() const { return libraryItem_; }
  ns::Ref<MenuItem> playlistsItem() const { return playlistsItem_; }
  ns::Ref<MenuItem> subscriptionsItem() const { return subscriptionsItem_; }
  ns::Ref<MenuItem> feedsItem() const { return feedsItem_; }
  // The section of a local group, nil when none.
  ns::Ref<MenuItem> groupItem(int groupId) const;
  long netStatus() const { return netStatus_; }

  struct Outlets {
    ns::Ref<ak::View> view, bottomBarView;
    ns::Ref<ak::ScrollView> scrollView;
    ns::Ref<SourceList> sourceList;
    ns::Ref<ak::Button> createPlaylistBtn, createPlaylistGroupBtn, refreshBtn;
  };
  void connectOutlets(const Outlets& outlets);

  std::string className() const override { return "MenuViewController"; }

 private:
  ns::Ref<AccountCache> account() const;
  void expandStoredSections();
  void reloadAndMark(bool scrollTo);
  void updateTreeDictionary();
  void endRefreshSpin();
  // Rebuilds `section`'s children from the account cache's `entries` (sorted by title in place),
  // each of type `itemtype`, badged with the count in field `badgeField` when it is not 0; shows
  // them when the section is stored as expanded.
  void fillSection(const ns::Ref<MenuItem>& section, ns::Array& entries, const std::string& itemtype,
                   std::optional<std::size_t> badgeField, bool logExpansion);
  static ns::Ref<MenuItem> nodeOf(const ns::Ref<ns::Object>& item);

  ns::Ref<MenuItem> rightClickedMenuItem_;
  ns::Ref<ak::Popover> formPopover_;
  ns::Ref<SourceList> sourceList_;
  ns::Weak<ak::Button> createPlaylistBtn_, createPlaylistGroupBtn_, refreshBtn_;
  ns::Weak<ak::View> bottomBarView_;
  ns::Weak<ak::ScrollView> scrollView_;

  std::vector<ns::Ref<MenuItem>> sourceListItems_;
  ns::Ref<MenuItem> libraryItem_, playlistsItem_, subscriptionsItem_, feedsItem_;
  ns::Ref<MenuItem> favoritesItem_, likesItem_, uploadsItem_, watchLatorItem_, watchHistoryItem_,
      newVideosItem_, cachedVideosItem_;
  std::map<int, ns::Ref<MenuItem>> playlistGroupMenuMap_;
  std::map<std::string, ns::Ref<MenuItem>> treeDict_;
  bool treeDictDirty_ = true;
  long netStatus_ = 0;
};
