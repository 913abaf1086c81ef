#include "app/browse/MenuViewController.h"

#include <algorithm>
#include <cmath>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/TreeCellViews.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "lib/net/Reachability.h"
#include "platform/appkit/Animation.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TextField.h"
#include "platform/core/Log.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/MyNSView.h"
#include "ui/SourceList.h"

namespace {

struct Special {
  const char* title;
  const char* identifier;
  const char* icon;
};
constexpr Special kSpecials[] = {{"Favorites", "favorites", "favorites"},
                                 {"Likes", "likes", "likes"},
                                 {"Uploads", "uploads", "uploads"},
                                 {"Watch Later", "watchlater", "later"},
                                 {"Watch History", "watchhistory", "history"},
                                 {"New Videos", "newsubscriptionvideo", "newvideos"},
                                 {"Cached Videos", "cachedvideos", "cachedvideos"}};

// A count of the account cache: its integer value, 0 when missing.
std::int64_t countOf(const ns::Value& value) {
  return value.isNumber() || value.isString() ? value.intValue() : 0;
}

// Field `index` of an account-cache entry as a string, nil when the entry is too short or the
// field is no string.
std::optional<std::string> fieldOf(const ns::Value& entry, std::size_t index) {
  if (!entry.isArray() || entry.array().size() <= index) return std::nullopt;
  const ns::Value& field = entry.array()[index];
  if (!field.isString()) return std::nullopt;
  return field.string();
}

// Sorts the entries by their title field, ignoring case; entries without one go last.
void sortByTitle(ns::Array& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const ns::Value& a, const ns::Value& b) {
    auto ta = fieldOf(a, 1), tb = fieldOf(b, 1);
    if (!ta || !tb) return ta.has_value() && !tb.has_value();
    return ns::str::caseInsensitiveCompare(*ta, *tb) == ns::OrderedAscending;
  });
}

ns::Ref<LeftViewController> leftPane() {
  auto main = mainWindowController();
  return main ? main->leftViewController() : nullptr;
}

void markActiveList(bool scrollTo) {
  if (auto left = leftPane()) left->updateTreeActiveItem(scrollTo);
}

}  // namespace

void MenuViewController::initWithNibName_bundle(const std::optional<std::string>& nibName,
                                                const ns::Ref<ns::Bundle>& bundle) {
  PelViewController::initWithNibName_bundle(nibName, bundle);
  treeDict_.clear();
  treeDictDirty_ = true;
}

MenuViewController::~MenuViewController() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void MenuViewController::connectOutlets(const Outlets& outlets) {
  setView(outlets.view);
  bottomBarView_ = outlets.bottomBarView;
  scrollView_ = outlets.scrollView;
  sourceList_ = outlets.sourceList;
  createPlaylistBtn_ = outlets.createPlaylistBtn;
  createPlaylistGroupBtn_ = outlets.createPlaylistGroupBtn;
  refreshBtn_ = outlets.refreshBtn;
}

void MenuViewController::awakeFromNib() {
  PelViewController::awakeFromNib();
  if (auto bar = std::dynamic_pointer_cast<MyNSView>(bottomBarView_.lock())) {
    bar->setDrawingBlock([](const ak::BezierPath& outline, ak::Rect rect) {
      outline.addClip();
      if (auto image = ak::Image::imageNamed("navbottombar"))
        image->drawInRect_fromRect_operation_fraction(rect, ak::ZeroRect,
                                                      ak::CompositingOperation::SourceOver, 1.0);
    });
  }
  if (auto scroll = scrollView_.lock())
    scroll->setBackgroundColor(
        ak::Color::colorWithDeviceRed_green_blue_alpha(20 / 255.0, 25 / 255.0, 30 / 255.0, 1));
  if (sourceList_) {
    sourceList_->setIndentationMarkerFollowsCell(true);
    sourceList_->setIndentationPerLevel(0.0);
    sourceList_->setFloatsGroupRows(false);
  }
  sourceListItems_.clear();
  if (sourceList_)
    sourceList_->registerForDraggedTypes({"VideoTableViewDragAndDropDataType",
                                          "PlaylistTableViewDragAndDropDataType", ak::PasteboardTypeURL,
                                          ak::PasteboardTypeFileURL, ak::PasteboardTypeText});
  addNotificationObserver(this, "updatePlaylists", &MenuViewController::updatePlaylists);
  addNotificationObserver(this, "updateRelatedPlaylist", &MenuViewController::updateRelatedPlaylists);
  addNotificationObserver(this, "updateSubscriptions", &MenuViewController::updateSubscriptions);
  addNotificationObserver(this, "updateFeeds", &MenuViewController::updateFeeds);
  addNotificationObserver(this, "currentPlaylistChanged", &MenuViewController::onCurrentPlaylistChanged);
  addNotificationObserver(this, "playlistGroupChanged", &MenuViewController::onPlaylistGroupChanged);
  refresh();
  addNotificationObserver(this, kMyOutlineViewEndEditNotification, &MenuViewController::myOutlineViewEndEdit);
  addNotificationObserver(this, kMyOutlineViewEndCancelNotification,
                          &MenuViewController::myOutlineViewEndCancel);
  addNotificationObserver(this, kReachabilityChangedNotification, &MenuViewController::reachabilityChanged);
  auto reachability = Reachability::reachabilityForInternetConnection();
  if (reachability) {
    reachability->startNotifier();
    netStatus_ = static_cast<long>(reachability->currentReachabilityStatus());
  }
}

ns::Ref<AccountCache> MenuViewController::account() const {
  auto main = mainWindowController();
  return main ? main->accountCache() : nullptr;
}

ns::Ref<MenuItem> MenuViewController::nodeOf(const ns::Ref<ns::Object>& item) {
  return std::dynamic_pointer_cast<MenuItem>(item);
}

ns::Ref<MenuItem> MenuViewController::groupItem(int groupId) const {
  auto found = playlistGroupMenuMap_.find(groupId);
  return found == playlistGroupMenuMap_.end() ? nullptr : found->second;
}

// ---- the tree ----

void MenuViewController::refresh() {
  ns::Log("REFRESH!!!!!!");
  sourceListItems_.clear();
  if (!libraryItem_) libraryItem_ = MenuItem::itemWithTitle_identifier_parent("SPECIAL", "library", nullptr);
  libraryItem_->setChildren({});

  auto cache = account();
  if (cache) {
    std::vector<ns::Ref<MenuItem>> specials;
    for (const auto& special : kSpecials) {
      auto item = MenuItem::itemWithTitle_identifier_parent(special.title, special.identifier, libraryItem_);
      item->setIcon(ak::Image::imageNamed(std::string(special.icon) + "_icon_grey"));
      item->setSelectedIcon(ak::Image::imageNamed(std::string(special.icon) + "_icon_white"));
      item->setItemtype("library");
      specials.push_back(item);
    }
    favoritesItem_ = specials[0];
    likesItem_ = specials[1];
    uploadsItem_ = specials[2];
    watchLatorItem_ = specials[3];
    watchHistoryItem_ = specials[4];
    newVideosItem_ = specials[5];
    cachedVideosItem_ = specials[6];
    favoritesItem_->setBadgeValue(countOf(cache->favoritesCount()));
    likesItem_->setBadgeValue(countOf(cache->likesCount()));
    uploadsItem_->setBadgeValue(countOf(cache->uploadsCount()));
    watchLatorItem_->setBadgeValue(countOf(cache->watchLaterCount()));
    watchHistoryItem_->setBadgeValue(countOf(cache->watchHistoryCount()));
    libraryItem_->setChildren(std::move(specials));
  } else {
    favoritesItem_ = likesItem_ = uploadsItem_ = watchLatorItem_ = watchHistoryItem_ = newVideosItem_ =
        cachedVideosItem_ = nullptr;
    auto login = MenuItem::itemWithTitle_identifier_icon_parent(
        "Login", "login", ak::Image::imageNamed("login_icon"), libraryItem_);
    login->setItemtype("login");
    libraryItem_->setChildren({login});
  }

  auto section = [](ns::Ref<MenuItem>& slot, const char* title, const char* identifier, const char* type) {
    if (!slot) {
      slot = MenuItem::itemWithTitle_identifier_parent(title, identifier, nullptr);
      if (type) slot->setItemtype(type);
    }
    slot->setChildren({});
  };
  section(playlistsItem_, "PLAYLISTS", "playlists", "PlaylistGroup");
  section(subscriptionsItem_, "SUBSCRIPTIONS", "subscriptions", nullptr);
  section(feedsItem_, "FROM YOUTUBE", "feeds", nullptr);
  sourceListItems_.push_back(libraryItem_);
  sourceListItems_.push_back(playlistsItem_);

  playlistGroupMenuMap_.clear();
  for (const PlaylistGroup& group : DBAccess::getInstance()->getPlaylistGroupArray()) {
    auto item = MenuItem::itemWithTitle_identifier_parent(group.name,
                                                          "group_" + std::to_string(group.groupId), nullptr);
    item->setItemtype("PlaylistGroup");
    sourceListItems_.push_back(item);
    playlistGroupMenuMap_[group.groupId] = item;
  }
  sourceListItems_.push_back(subscriptionsItem_);
  sourceListItems_.push_back(feedsItem_);

  expandStoredSections();
  if (sourceList_) sourceList_->reloadData();
  treeDictDirty_ = true;
  markActiveList(true);
}

void MenuViewController::expandStoredSections() {
  if (!sourceList_) return;
  // Expanding before the reload needs the outline to know the sections.
  sourceList_->reloadData();
  auto store = DBAccess::getInstance();
  for (const auto& section : sourceListItems_)
    if (store->isMenuExpanded(section->identifier())) sourceList_->expandItem_expandChildren(section, false);
}

void MenuViewController::reloadAndMark(bool scrollTo) {
  if (sourceList_) sourceList_->reloadData();
  treeDictDirty_ = true;
  markActiveList(scrollTo);
}

void MenuViewController::updatePlaylists() {
  auto cache = account();
  if (!cache || !playlistsItem_) return;
  ns::Array& entries = cache->playlistsArray();
  sortByTitle(entries);
  playlistsItem_->setChildren({});
  for (auto& [id, group] : playlistGroupMenuMap_) group->setChildren({});
  auto store = DBAccess::getInstance();
  for (const ns::Value& entry : entries) {
    auto identifier = fieldOf(entry, 0);
    auto title = fieldOf(entry, 1);
    if (!identifier || !title) continue;
    auto parent = groupItem(store->getPlaylistGroupId(*identifier));
    if (!parent) parent = playlistsItem_;
    auto item = MenuItem::itemWithTitle_identifier_parent(*title, *identifier, parent);
    item->setItemtype("playlists");
    if (entry.array().size() >= 3) item->setBadgeValue(countOf(entry.array()[2]));
    parent->children().push_back(item);
  }
  expandStoredSections();
  reloadAndMark(false);
}

void MenuViewController::updateSubscriptions() {
  auto cache = account();
  if (cache && subscriptionsItem_)
    fillSection(subscriptionsItem_, cache->subscriptionsArray(), "subscriptions", 4, false);
  endRefreshSpin();
}

void MenuViewController::updateFeeds() {
  auto cache = account();
  if (cache && feedsItem_) fillSection(feedsItem_, cache->feedsArray(), "feeds", std::nullopt, true);
  endRefreshSpin();
}

void MenuViewController::fillSection(const ns::Ref<MenuItem>& section, ns::Array& entries,
                                     const std::string& itemtype, std::optional<std::size_t> badgeField,
                                     bool logExpansion) {
  sortByTitle(entries);
  std::vector<ns::Ref<MenuItem>> children;
  for (const ns::Value& entry : entries) {
    auto identifier = fieldOf(entry, 0);
    auto title = fieldOf(entry, 1);
    if (!identifier || !title) continue;
    auto item = MenuItem::itemWithTitle_identifier_parent(*title, *identifier, section);
    item->setItemtype(itemtype);
    if (badgeField && entry.array().size() > *badgeField) {
      auto count = countOf(entry.array()[*badgeField]);
      if (count != 0) item->setBadgeValue(count);
    }
    children.push_back(item);
  }
  section->setChildren(std::move(children));
  const bool expanded = DBAccess::getInstance()->isMenuExpanded(section->identifier());
  if (logExpansion) ns::Log("updateFeeds ISExpanded: %@ : %@", section->title(), expanded ? "Y" : "N");
  if (sourceList_ && expanded) {
    sourceList_->reloadData();
    sourceList_->expandItem_expandChildren(section, false);
  }
  reloadAndMark(false);
}

void MenuViewController::updateRelatedPlaylists() {
  auto cache = account();
  if (cache && favoritesItem_) {
    favoritesItem_->setBadgeValue(countOf(cache->favoritesCount()));
    likesItem_->setBadgeValue(countOf(cache->likesCount()));
    uploadsItem_->setBadgeValue(countOf(cache->uploadsCount()));
    watchLatorItem_->setBadgeValue(countOf(cache->watchLaterCount()));
    watchHistoryItem_->setBadgeValue(countOf(cache->watchHistoryCount()));
  }
  if (sourceList_) sourceList_->reloadData();
  markActiveList(false);
}

void MenuViewController::onPlaylistGroupChanged() {
  ns::Weak<MenuViewController> weak = self<MenuViewController>();
  dispatch::async(dispatch::mainQueue(), [weak] {
    auto me = weak.lock();
    if (!me) return;
    me->refresh();
    me->updateSubscriptions();
    me->updateFeeds();
    me->updatePlaylists();
  });
}

void MenuViewController::updatePlaylist_itemCountPlus(const std::string& playlistId, int delta) {
  if (delta == 0) return;
  for (const auto& section : sourceListItems_) {
    if (section->itemtype() != "PlaylistGroup") continue;
    for (const auto& child : section->children()) {
      if (child->hasBadge() && child->identifier() == playlistId) {
        child->setBadgeValue(child->badgeValue() + delta);
        break;
      }
    }
  }
  if (sourceList_) sourceList_->reloadData();
  markActiveList(false);
}

std::optional<std::string> MenuViewController::requestIdForSpecial(const std::string& identifier) const {
  if (identifier == "newsubscriptionvideo" || identifier == "cachedvideos") return identifier;
  auto cache = account();
  if (!cache) return std::nullopt;
  if (identifier == "watchlater") return cache->watchLater();
  if (identifier == "favorites") return cache->favorites();
  if (identifier == "uploads") return cache->uploads();
  if (identifier == "watchhistory") return cache->watchHistory();
  if (identifier == "likes") return cache->likes();
  return std::nullopt;
}

// ---- selection and marking ----

void MenuViewController::sourceListSelectionDidChange(ns::Ref<ns::Notification> note) {
  if (!sourceList_) return;
  auto rows = sourceList_->selectedRowIndexes();
  if (rows->count() > 1) {
    ns::Log("(multiple selected)");
    return;
  }
  if (rows->count() == 0) return;
  auto node = nodeOf(sourceList_->itemAtRow(sourceList_->selectedRow()));
  if (!node) return;
  const std::string& type = node->itemtype();
  auto navigation = navigationController();
  if (type == "library") {
    openPlaylist_withTitle(node->identifier(), node->title());
  } else if (type == "playlists" || type == "subscriptions" || type == "feeds") {
    auto list = getPlaylistViewController(node->title(), type == "feeds" ? "feed" : type, node->identifier());
    if (navigation && list) navigation->pushViewController_animated(list, true);
  } else if (type == "login") {
    if (auto main = mainWindowController()) main->signInClicked(nullptr);
  }
}

void MenuViewController::openPlaylist_withTitle(const std::string& identifier, const std::string& title) {
  auto navigation = navigationController();
  if (identifier == "newsubscriptionvideo" || identifier == "cachedvideos") {
    auto list = getPlaylistViewController(title, identifier, identifier);
    if (navigation && list) navigation->pushViewController_animated(list, true);
    return;
  }
  auto requestId = requestIdForSpecial(identifier);
  if (!requestId) {
    ns::Log("Unknown playlist for '%@'", identifier);
    return;
  }
  auto list = getPlaylistViewController(title, "playlists", *requestId);
  if (!list) return;
  list->setMyPlaylistType(identifier);
  if (navigation) navigation->pushViewController_animated(list, true);
}

void MenuViewController::updateTreeDictionary() {
  treeDict_.clear();
  if (libraryItem_)
    for (const auto& child : libraryItem_->children())
      if (auto id = requestIdForSpecial(child->identifier())) treeDict_[*id] = child;
  auto enter = [this](const ns::Ref<MenuItem>& section) {
    if (!section) return;
    for (const auto& child : section->children()) treeDict_[child->identifier()] = child;
  };
  enter(playlistsItem_);
  for (const auto& section : sourceListItems_)
    if (section != playlistsItem_ && section->itemtype() == "PlaylistGroup") enter(section);
  enter(subscriptionsItem_);
  enter(feedsItem_);
  treeDictDirty_ = false;
}

void MenuViewController::selectItemType_withId_scrollTo(const std::string& requestType,
                                                        const std::string& requestId, bool scrollTo) {
  if (treeDictDirty_) updateTreeDictionary();
  auto found = treeDict_.find(requestId);
  if (found == treeDict_.end() || !sourceList_) return;
  auto node = found->second;
  auto parent = node->parent();
  if (scrollTo && parent) sourceList_->expandItem_expandChildren(parent, false);
  sourceList_->deselectAll(nullptr);
  long row = sourceList_->rowForItem(node);
  if (row >= 0)
    sourceList_->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(row), false);
  if (scrollTo && sourceList_->selectedRow() >= 0)
    sourceList_->scrollRowToVisible(sourceList_->selectedRow());
}

void MenuViewController::deselect() {
  if (sourceList_) sourceList_->deselectAll(nullptr);
}

void MenuViewController::toggleExpand(const ns::Ref<MenuItem>& item) {
  if (!item || !sourceList_) return;
  const bool expanded = DBAccess::getInstance()->isMenuExpanded(item->identifier());
  ns::Log("ISExpanded: %@ : %@", item->title(), expanded ? "N" : "Y");
  if (expanded)
    sourceList_->collapseItem(item);
  else
    sourceList_->expandItem_expandChildren(item, false);
}

namespace {
ns::Ref<MenuItem> nodeInNote(const ns::Ref<ns::Notification>& note) {
  if (!note) return nullptr;
  for (const auto& [key, value] : note->userInfo())
    if (auto node = std::dynamic_pointer_cast<MenuItem>(value.object())) return node;
  return nullptr;
}
}  // namespace

void MenuViewController::sourceListItemWillExpand(ns::Ref<ns::Notification> note) {
  auto node = nodeInNote(note);
  if (!node) return;
  ns::Log("expand! = %@", node->title());
  DBAccess::getInstance()->setMenuExpanded_expanded(node->identifier(), true);
}

void MenuViewController::sourceListItemDidExpand(ns::Ref<ns::Notification> note) {
  markActiveList(false);
}

void MenuViewController::sourceListItemWillCollapse(ns::Ref<ns::Notification> note) {
  auto node = nodeInNote(note);
  if (!node) return;
  ns::Log("collapse! = %@", node->title());
  DBAccess::getInstance()->setMenuExpanded_expanded(node->identifier(), false);
}

void MenuViewController::sourceListDeleteKeyPressedOnRows(ns::Ref<ns::Notification> note) {
  ns::Log("Delete key pressed on rows %@", note ? note->userInfo().objectForKey("rows") : ns::Value());
}

void MenuViewController::reachabilityChanged() {
  if (auto reachability = Reachability::reachabilityForInternetConnection())
    netStatus_ = static_cast<long>(reachability->currentReachabilityStatus());
  ns::Weak<MenuViewController> weak = self<MenuViewController>();
  dispatch::async(dispatch::mainQueue(), [weak] {
    auto me = weak.lock();
    if (!me) return;
    if (me->sourceList_) me->sourceList_->reloadData();
    markActiveList(false);
  });
}

void MenuViewController::onCurrentPlaylistChanged() {
  markActiveList(true);
}

void MenuViewController::refreshAccountInfoFromNetwork() {
  if (auto button = refreshBtn_.lock()) {
    button->setEnabled(false);
    button->setWantsLayer(true);
    if (auto layer = button->layer()) {
      layer->setAnchorPoint({0.5, 0.45});
      auto spin = ak::BasicAnimation::animationWithKeyPath("transform.rotation.z");
      spin->setFromValue(0.0);
      spin->setToValue(static_cast<double>(-6.2831855f));
      spin->setDuration(1.0);
      spin->setRepeatCount(HUGE_VALF);
      layer->addAnimation_forKey(spin, "spin");
    }
  }
  if (auto cache = account()) cache->refresh();
}

void MenuViewController::endRefreshSpin() {
  auto button = refreshBtn_.lock();
  if (!button) return;
  button->setEnabled(true);
  if (auto layer = button->wantsLayer() ? button->layer() : nullptr) {
    layer->removeAllAnimations();
    layer->setRotation(0);
  }
  button->setWantsLayer(false);
}

// ---- how rows look ----

bool MenuViewController::isItemAvailable(const ns::Ref<MenuItem>& node) const {
  if (!node || netStatus_ != 0) return true;
  std::string type = node->itemtype(), identifier = node->identifier();
  bool withoutCopy = false;
  if (type == "library") {
    if (identifier == "newsubscriptionvideo") {
      type = identifier;
    } else if (identifier == "cachedvideos") {
      type = "playlists";
      withoutCopy = true;
    } else {
      type = "playlists";
      identifier = requestIdForSpecial(identifier).value_or("");
    }
  } else if (type == "feeds") {
    // Feed lists are stored under "feed", whatever the region.
    type = "feed";
  }
  if (withoutCopy) return true;
  auto cache = account();
  return cache && !identifier.empty() && cache->hasPlaylistCache_withId(type, identifier);
}

ns::Ref<ak::Image> MenuViewController::iconForNode(const ns::Ref<MenuItem>& node) const {
  if (!node) return nullptr;
  std::string listId = node->identifier();
  if (node->itemtype() == "library") listId = requestIdForSpecial(listId).value_or("");
  const bool singleSelected = sourceList_ && sourceList_->numberOfSelectedRows() == 1 &&
                              sourceList_->selectedRow() == sourceList_->rowForItem(node);
  auto current = currentPlaylistController();
  if (current && !listId.empty() && current->requestId() == listId)
    return ak::Image::imageNamed(singleSelected ? "playingplaylist_icon_white" : "playingplaylist_icon_grey");
  if (singleSelected && node->selectedIcon()) return node->selectedIcon();
  return node->icon();
}

ns::Ref<ns::Object> MenuViewController::sourceList_viewForItem(ns::Ref<ns::Object>,
                                                               ns::Ref<ns::Object> item) {
  auto node = nodeOf(item);
  if (!node || !sourceList_) return nullptr;
  auto owner = self<MenuViewController>();
  if (sourceList_->levelForItem(node) == 0) {
    auto heading = std::dynamic_pointer_cast<TreeHeaderCellView>(
        sourceList_->makeViewWithIdentifier_owner("TreeHeaderCell", owner));
    if (!heading) return nullptr;
    if (auto title = heading->titleTextField()) title->setStringValue(node->title());
    heading->setMenuItem(node);
    return heading;
  }
  auto cell = std::dynamic_pointer_cast<TreeItemCellView>(
      sourceList_->makeViewWithIdentifier_owner("TreeCell", owner));
  if (!cell) return nullptr;
  cell->setup();
  cell->setMenuItem(node);
  if (auto icon = cell->iconImg()) icon->setImage(iconForNode(node));
  if (auto title = cell->titleTextField()) {
    title->setEditable(node->itemtype() == "playlists");
    title->setStringValue(node->title());
  }
  if (auto count = cell->countTextField())
    count->setStringValue(node->hasBadge() ? std::to_string(node->badgeValue()) : std::string());
  cell->setAvailable(isItemAvailable(node));
  return cell;
}

ns::Ref<ns::Object> MenuViewController::sourceList_rowViewForItem(ns::Ref<ns::Object>, ns::Ref<ns::Object>) {
  auto row = ak::make<ak::TableRowView>(ak::MakeRect(0, 0, 300, 20));
  row->setBackgroundColor(ak::colors::blackColor());
  return row;
}

// ---- renaming ----

std::optional<std::string> MenuViewController::getOriginalTitleForPlaylist(
    const std::string& playlistId) const {
  auto cache = account();
  if (!cache) return std::nullopt;
  for (const ns::Value& entry : cache->playlistsArray())
    if (fieldOf(entry, 0) == playlistId) return fieldOf(entry, 1);
  return std::nullopt;
}

void MenuViewController::myOutlineViewEndEdit(const ns::Ref<ns::Notification>& note) {
  if (!sourceList_) return;
  auto node = nodeOf(sourceList_->itemAtRow(sourceList_->selectedRow()));
  if (!node) return;
  auto original = getOriginalTitleForPlaylist(node->identifier());
  if (!original || *original == node->title()) return;
  ns::Log("RENAME PLAYLIST: %@ --> %@", *original, node->title());
  if (auto cache = account()) cache->renamePlaylist_toTitle(node->identifier(), node->title());
}

void MenuViewController::myOutlineViewEndCancel(const ns::Ref<ns::Notification>& note) {
  if (!sourceList_) return;
  auto node = nodeOf(sourceList_->itemAtRow(sourceList_->selectedRow()));
  if (!node) return;
  if (auto original = getOriginalTitleForPlaylist(node->identifier())) {
    node->setTitle(*original);
    sourceList_->reloadData();
  }
}

// ---- data source ----

unsigned long MenuViewController::sourceList_numberOfChildrenOfItem(ns::Ref<ns::Object>,
                                                                    ns::Ref<ns::Object> item) {
  if (!item) return sourceListItems_.size();
  auto node = nodeOf(item);
  return node ? node->children().size() : 0;
}

ns::Ref<ns::Object> MenuViewController::sourceList_child_ofItem(ns::Ref<ns::Object>, unsigned long index,
                                                                ns::Ref<ns::Object> item) {
  if (!item) return index < sourceListItems_.size() ? sourceListItems_[index] : nullptr;
  auto node = nodeOf(item);
  if (!node || index >= node->children().size()) return nullptr;
  return node->children()[index];
}

ns::BOOL MenuViewController::sourceList_isItemExpandable(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
  auto node = nodeOf(item);
  return node && node->hasChildren() ? ns::YES : ns::NO;
}

ns::Value MenuViewController::sourceList_objectValueForItem(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
  auto node = nodeOf(item);
  return node ? ns::Value(node->title()) : ns::Value();
}

void MenuViewController::sourceList_setObjectValue_forItem(ns::Ref<ns::Object>, ns::Value value,
                                                           ns::Ref<ns::Object> item) {
  auto node = nodeOf(item);
  if (node && value.isString()) node->setTitle(value.string());
}

ns::Ref<ns::Object> MenuViewController::sourceList_iconForItem(ns::Ref<ns::Object>,
                                                               ns::Ref<ns::Object> item) {
  ns::Log("%s called", "-[MenuViewController sourceList:iconForItem:]");
  return iconForNode(nodeOf(item));
}

bool MenuViewController::sourceList_shouldEditItem(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
  auto node = nodeOf(item);
  return node && node->itemtype() == "playlists";
}

PL_CLASS(MenuViewController, PelViewController) {
  cls.method<&MenuViewController::sourceList_numberOfChildrenOfItem>("sourceList:numberOfChildrenOfItem:");
  cls.method<&MenuViewController::sourceList_child_ofItem>("sourceList:child:ofItem:");
  cls.method<&MenuViewController::sourceList_isItemExpandable>("sourceList:isItemExpandable:");
  cls.method<&MenuViewController::sourceList_objectValueForItem>("sourceList:objectValueForItem:");
  cls.method<&MenuViewController::sourceList_setObjectValue_forItem>("sourceList:setObjectValue:forItem:");
  cls.method<&MenuViewController::sourceList_iconForItem>("sourceList:iconForItem:");
  cls.method<&MenuViewController::sourceList_viewForItem>("sourceList:viewForItem:");
  cls.method<&MenuViewController::sourceList_rowViewForItem>("sourceList:rowViewForItem:");
  cls.method<&MenuViewController::sourceList_isGroupAlwaysExpanded>("sourceList:isGroupAlwaysExpanded:");
  cls.method<&MenuViewController::sourceList_shouldEditItem>("sourceList:shouldEditItem:");
  cls.method<&MenuViewController::sourceListSelectionDidChange>("sourceListSelectionDidChange:");
  cls.method<&MenuViewController::sourceListItemWillExpand>("sourceListItemWillExpand:");
  cls.method<&MenuViewController::sourceListItemDidExpand>("sourceListItemDidExpand:");
  cls.method<&MenuViewController::sourceListItemWillCollapse>("sourceListItemWillCollapse:");
  cls.method<&MenuViewController::sourceListItemDidCollapse>("sourceListItemDidCollapse:");
  cls.method<&MenuViewController::sourceListDeleteKeyPressedOnRows>("sourceListDeleteKeyPressedOnRows:");
  cls.method<&MenuViewController::onRefreshBtn>("onRefreshBtn:");
  cls.method<&MenuViewController::sourceList_menuForEvent_item>("sourceList:menuForEvent:item:");
  cls.method<&MenuViewController::renameGroup>("renameGroup:");
  cls.method<&MenuViewController::onNewPlaylistBtn>("onNewPlaylistBtn:");
  cls.method<&MenuViewController::onNewPlaylistGroupBtn>("onNewPlaylistGroupBtn:");
  cls.method<&MenuViewController::deleteGroup>("deleteGroup:");
  cls.method<&MenuViewController::changeGroup>("changeGroup:");
  cls.method<&MenuViewController::changeSelectionGroup>("changeSelectionGroup:");
  cls.method<&MenuViewController::deletePlaylist>("deletePlaylist:");
  cls.method<&MenuViewController::unsubscribe>("unsubscribe:");
  cls.method<&MenuViewController::copyplaylistlink>("copyplaylistlink:");
  cls.method<&MenuViewController::refresh_>("refresh:");
  cls.method<&MenuViewController::sourceList_writeItems_toPasteboard>("sourceList:writeItems:toPasteboard:");
  cls.method<&MenuViewController::sourceList_validateDrop_proposedItem_proposedChildIndex>(
      "sourceList:validateDrop:proposedItem:proposedChildIndex:");
  cls.method<&MenuViewController::sourceList_acceptDrop_item_childIndex>(
      "sourceList:acceptDrop:item:childIndex:");
}
