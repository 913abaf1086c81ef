#include "app/browse/YTPlaylistViewController.h"

#include <cmath>
#include <map>
#include <random>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/library/AccountCache.h"
#include "app/library/LibraryNotifications.h"
#include "app/youtube/SearchEntry.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "platform/appkit/Animation.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/foundation/IndexSet.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/MyNSView.h"

PL_CLASS(YTPlaylistViewController, PelViewController) {
  cls.method<&YTPlaylistViewController::numberOfRowsInTableView>("numberOfRowsInTableView:");
  cls.method<&YTPlaylistViewController::tableView_heightOfRow>("tableView:heightOfRow:");
  cls.method<&YTPlaylistViewController::tableView_viewForTableColumn_row>(
      "tableView:viewForTableColumn:row:");
  cls.method<&YTPlaylistViewController::tableView_rowViewForRow>("tableView:rowViewForRow:");
  cls.method<&YTPlaylistViewController::tableViewSelectionDidChange>("tableViewSelectionDidChange:");
  cls.method<&YTPlaylistViewController::onDoubleClick>("onDoubleClick:");
  cls.method<&YTPlaylistViewController::onRefreshBtn>("onRefreshBtn:");
  cls.method<&YTPlaylistViewController::onSearchOrderChanged>("onSearchOrderChanged:");
  cls.method<&YTPlaylistViewController::onSubscribeBtn>("onSubscribeBtn:");
  cls.method<&YTPlaylistViewController::nextTrack>("nextTrack:");
  cls.method<&YTPlaylistViewController::prevTrack>("prevTrack:");
  cls.method<&YTPlaylistViewController::tableView_writeRowsWithIndexes_toPasteboard>(
      "tableView:writeRowsWithIndexes:toPasteboard:");
  cls.method<&YTPlaylistViewController::tableView_validateDrop_proposedRow_proposedDropOperation>(
      "tableView:validateDrop:proposedRow:proposedDropOperation:");
  cls.method<&YTPlaylistViewController::tableView_acceptDrop_row_dropOperation>(
      "tableView:acceptDrop:row:dropOperation:");
}

namespace {

constexpr char kVideoDragType[] = "VideoTableViewDragAndDropDataType";
constexpr double kRefreshTurn = -6.2831855;

struct ProcessState {
  std::map<std::string, ns::Ref<YTPlaylistViewController>> registry;
  ns::Ref<YTPlaylistViewController> current;
  std::function<std::uint32_t()> random;
};

ProcessState& state() {
  static ns::NoDestructor<ProcessState> process;
  return *process;
}

std::uint32_t nextRandom() {
  if (state().random) return state().random();
  static ns::NoDestructor<std::random_device> device;
  return (*device)();
}

std::string registryKey(const std::string& type, const std::string& identifier) {
  return type + "_" + identifier;
}

constexpr SearchOrderEntry kSearchOrders[] = {
    {0, "search_relevance", "relevance", true}, {1, "search_date", "date", true},
    {2, "search_viewcount", "viewcount", true}, {3, "search_rating", "rating", true},
    {4, "search_relevance", "relevance", true}, {5, "search_playlist", "playlist", false},
    {6, "search_channel", "channel", false},
};

ns::Ref<YTPlaylistViewController> makeController(const std::string& title) {
  auto controller = ns::make<YTPlaylistViewController>();
  controller->initWithNibName_bundle(std::string("YTPlaylistViewController"), nullptr);
  controller->ak::ViewController::setTitle(title);
  return controller;
}

using ns::str::hasPrefix;

ns::Ref<AccountCache> accountCache() {
  auto main = mainWindowController();
  return main ? main->accountCache() : nullptr;
}

// Whether the signed-in account's subscriptions hold the channel's uploads-list id.
bool isSubscribed(const std::string& uploadsId) {
  auto cache = accountCache();
  if (!cache) return false;
  for (const ns::Value& entry : cache->subscriptionsArray())
    if (entry.isArray() && entry.count() > 0 && entry[0] == ns::Value(uploadsId)) return true;
  return false;
}

}  // namespace

const SearchOrderEntry* searchOrderForIndex(long index) {
  for (const auto& entry : kSearchOrders)
    if (entry.index == index) return &entry;
  return nullptr;
}

// ---- the registry ----

ns::Ref<YTPlaylistViewController> getPlaylistViewController(const std::string& title,
                                                            const std::string& requestType,
                                                            const std::string& requestId) {
  const bool others = requestType == "others_playlists";
  const std::string type = others ? "playlists" : requestType;
  const std::string key = registryKey(type, requestId);
  auto& registry = state().registry;
  auto found = registry.find(key);
  if (found != registry.end()) return found->second;
  auto controller = makeController(title);
  controller->setRequestId(requestId);
  controller->setRequestType(type);
  if (requestType == "playlists") {
    controller->setIsMyPlaylist(true);
    controller->setMyPlaylistName(title);
  }
  registry[key] = controller;
  return controller;
}

ns::Ref<YTPlaylistViewController> getVideoIdPlaylistViewController(const std::string& videoId,
                                                                   bool playAfterLoad) {
  const std::string key = registryKey("videoid", videoId);
  auto& registry = state().registry;
  auto found = registry.find(key);
  if (found != registry.end()) {
    if (playAfterLoad) found->second->playAtIndex(0);
    return found->second;
  }
  auto controller = makeController(videoId);
  controller->setRequestId(videoId);
  controller->setRequestType("videoid");
  controller->setPlayAfterLoad(playAfterLoad);
  registry[key] = controller;
  return controller;
}

ns::Ref<YTPlaylistViewController> findPlaylistViewController(const std::string& key) {
  auto& registry = state().registry;
  auto found = registry.find(key);
  return found == registry.end() ? nullptr : found->second;
}

ns::Ref<YTPlaylistViewController> getExistingPlaylistViewController(const std::string& requestType,
                                                                    const std::string& requestId) {
  return findPlaylistViewController(registryKey(requestType, requestId));
}

void rekeyPlaylistViewController(const ns::Ref<YTPlaylistViewController>& controller,
                                 const std::string& newType, const std::string& oldType,
                                 const std::string& requestId) {
  if (newType == oldType) return;
  auto& registry = state().registry;
  registry.erase(registryKey(oldType, requestId));
  if (controller) registry[registryKey(newType, requestId)] = controller;
}

ns::Ref<YTPlaylistViewController> currentPlaylistController() {
  return state().current;
}
void setCurrentPlaylistController(ns::Ref<YTPlaylistViewController> controller) {
  state().current = std::move(controller);
}

void setShuffleRandomSource(std::function<std::uint32_t()> source) {
  state().random = std::move(source);
}

void resetPlaylistRegistryForTesting() {
  state().registry.clear();
  state().current = nullptr;
}

// ---- the pane ----

YTPlaylistViewController::~YTPlaylistViewController() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void YTPlaylistViewController::viewDidLoadOnce() {
  auto table = tableView();
  if (table) table->setBackgroundColor(ak::Color::colorWithCalibratedWhite_alpha(184 / 255.0, 0));
  if (auto scroll = scrollView())
    scroll->setBackgroundColor(ak::Color::colorWithCalibratedWhite_alpha(50 / 255.0, 1));
  setIsVideoResult(true);
  if (table) {
    table->registerForDraggedTypes({kVideoDragType, ak::PasteboardTypeURL, ak::PasteboardTypeFileURL,
                                    ak::PasteboardTypeString, ak::PasteboardTypePlainText,
                                    ak::PasteboardTypeText});
    table->setTarget(self<YTPlaylistViewController>());
    table->setDoubleAction(ns::Sel("onDoubleClick:"));
  }
  if (isMyPlaylist_) {
    if (myPlaylistName_)
      ns::Log("MY PLAYLIST : %@", *myPlaylistName_);
    else
      ns::Log("MY %@", ns::str::uppercaseString(myPlaylistType_.value_or("")));
  }
  if (bottomView_) {
    bottomView_->setDrawingBlock([](const ak::BezierPath& path, ak::Rect rect) {
      path.addClip();
      if (auto image = ak::Image::imageNamed("navbottombar"))
        image->drawInRect_fromRect_operation_fraction(rect, ak::ZeroRect,
                                                      ak::CompositingOperation::SourceOver, 1.0);
    });
    _setBottomView(bottomView_);
  }

  auto order = searchOrderBtn();
  auto subscribe = subscribeBtn_;
  auto show = [](const auto& control, bool shown) {
    if (control) control->setHidden(!shown);
  };
  if (requestType_ == "playlists" || requestType_ == "newsubscriptionvideo" ||
      requestType_ == "cachedvideos") {
    show(order, false);
    show(subscribe, false);
  } else if (requestType_ == "subscriptions") {
    show(order, false);
    show(subscribe, true);
    prepareSubscribeBtn();
    addNotificationObserver(this, kUpdateSubscriptionsNotification,
                            &YTPlaylistViewController::prepareSubscribeBtn);
  } else if (hasPrefix(requestType_, "search_")) {
    show(order, true);
    show(subscribe, false);
    if (auto refresh = refreshBtn()) refresh->setEnabled(false);
    for (const auto& entry : kSearchOrders) {
      if (entry.index == 4 || requestType_ != entry.requestType) continue;
      if (order) order->selectItemAtIndex(entry.index);
      if (!entry.isVideoResult) setIsVideoResult(false);
      break;
    }
  } else if (hasPrefix(requestType_, "feed") || hasPrefix(requestType_, "videoid")) {
    show(order, false);
    show(subscribe, false);
  }

  if (auto scroll = scrollView()) {
    scroll->contentView()->setPostsBoundsChangedNotifications(true);
    ns::NotificationCenter::defaultCenter()->addObserver_selector_name_object(
        this, &YTPlaylistViewController::boundsDidChange, std::string(ak::ViewBoundsDidChangeNotification),
        scroll->contentView());
  }
  fetchFromCacheAndNetwork();
}

void YTPlaylistViewController::_setBottomView(const ns::Ref<MyNSView>& bar) {
  auto scroll = scrollView();
  auto root = view();
  if (!bar || !scroll || !root) return;
  bar->removeFromSuperview();
  const double height = bar->frame().size.height;
  ak::Rect frame = scroll->frame();
  frame.origin.y = height;
  frame.size.height -= height;
  scroll->setFrame(frame);
  bar->setFrame(ak::MakeRect(frame.origin.x, 0, frame.size.width, height));
  bar->setAutoresizingMask(ak::ViewWidthSizable);
  root->addSubview(bar);
}

void YTPlaylistViewController::viewWillAppear(bool) {
  refreshTableView();
  fetchAgainIfFailed();
  addNotificationObserver(this, kVideoInfoChangedNotification, &YTPlaylistViewController::onVideoInfoChanged);
}

void YTPlaylistViewController::viewWillDisappear(bool) {
  removeNotificationObserver(this, kVideoInfoChangedNotification);
}

void YTPlaylistViewController::onVideoInfoChanged() {
  refreshTableView();
}

void YTPlaylistViewController::videoRenamed_Title(const std::string& videoId, const std::string& title) {
  bool changed = false;
  for (const auto& row : cellArray_)
    if (row->videoid() == videoId) {
      row->setTitle(title);
      changed = true;
    }
  if (changed) refreshTableView();
}

void YTPlaylistViewController::refreshTableView() {
  auto table = tableView();
  if (!table) return;
  auto selected = table->selectedRowIndexes();
  table->reloadData();
  if (selected) table->selectRowIndexes_byExtendingSelection(*selected, false);
}

// ---- selection ----

long YTPlaylistViewController::getSelectedCount() const {
  auto table = tableView();
  return table ? table->numberOfSelectedRows() : 0;
}

bool YTPlaylistViewController::containsIndex(long row) const {
  auto table = tableView();
  return table && row >= 0 && table->isRowSelected(row);
}

void YTPlaylistViewController::selectIndex(long row) {
  auto table = tableView();
  if (!table || row < 0) return;
  table->reloadData();
  auto main = mainWindowController();
  if (auto window = main ? main->window() : nullptr) window->makeFirstResponder(table);
  table->selectRowIndexes_byExtendingSelection(
      *ns::IndexSet::indexSetWithIndex(static_cast<std::size_t>(row)), false);
}

long YTPlaylistViewController::numberOfRowsInTableView(const ns::Ref<ns::Object>&) {
  return static_cast<long>(cellArray_.size());
}

double YTPlaylistViewController::tableView_heightOfRow(const ns::Ref<ns::Object>&, long) {
  return isVideoResult_ ? kVideoRowHeight : kPlaylistRowHeight;
}

void YTPlaylistViewController::pushOnLeftPane(const ns::Ref<YTPlaylistViewController>& controller) {
  auto main = mainWindowController();
  auto left = main ? main->leftViewController() : nullptr;
  auto navigation = left ? left->navigationController() : navigationController();
  if (navigation) navigation->pushViewController_animated(controller, true);
}

void YTPlaylistViewController::tableViewSelectionDidChange(const ns::Ref<ns::Object>&) {
  auto table = tableView();
  if (!table) return;
  const long row = table->selectedRow();
  if (row < 0 || row >= static_cast<long>(cellArray_.size())) return;
  auto entry = cellArray_[static_cast<std::size_t>(row)];
  if (requestType_ == "search_playlist") {
    ns::Log("playlist select idx = %ld", row);
    pushOnLeftPane(getPlaylistViewController(entry->title(), "others_playlists", entry->playlistid()));
    table->deselectAll(nullptr);
  } else if (requestType_ == "search_channel") {
    ns::Log("channel select idx = %ld", row);
    ns::Log("e = %@", entry->description());
    // Rows made from channel search results carry the channel in `channelid` and its title
    // as the row's title.
    const std::string& channel =
        entry->videoChannelId().empty() ? entry->channelid() : entry->videoChannelId();
    const std::string& title = entry->author().empty() ? entry->title() : entry->author();
    // A channel id too short to hold the two-letter prefix names no uploads list.
    if (channel.size() >= 2) {
      std::string uploads = "UU" + channel.substr(2);
      ns::Log("videoChannelId = %@", uploads);
      pushOnLeftPane(getPlaylistViewController(title, "subscriptions", uploads));
    }
    table->deselectAll(nullptr);
  }
}

void YTPlaylistViewController::onDoubleClick(const ns::Ref<ns::Object>&) {
  auto table = tableView();
  if (table) playAtIndex(table->clickedRow());
}

// ---- controls ----

void YTPlaylistViewController::onRefreshBtn(const ns::Ref<ns::Object>&) {
  reloadList();
}

void YTPlaylistViewController::reloadList() {
  ns::Log("Reload List");
  if (hasPrefix(requestType_, "search_")) return;
  if (isFetching_) {
    ns::Log("already fetching...");
    return;
  }
  refetch();
}

void YTPlaylistViewController::fetchAgainIfFailed() {
  if (!fetchFailed_ || isFetching_) return;
  ns::Log("fetching again after a failure: %@", getDictionaryKey());
  refetch();
}

void YTPlaylistViewController::refetch() {
  nowPlayingVideoIdForReload_.reset();
  if (isCurrentPlaylist()) {
    if (auto player = playerViewController()) nowPlayingVideoIdForReload_ = player->videoId();
  }
  fetch();
}

void YTPlaylistViewController::animateRefreshBtn() {
  auto button = refreshBtn();
  if (!button) return;
  button->setEnabled(false);
  button->setWantsLayer(true);
  auto layer = button->layer();
  if (!layer) return;
  auto spin = ak::BasicAnimation::animationWithKeyPath("transform.rotation.z");
  spin->setFromValue(0.0);
  spin->setToValue(kRefreshTurn);
  spin->setDuration(1.0);
  spin->setRepeatCount(HUGE_VALF);
  layer->setAnchorPoint(ak::Point{0.5, 0.45});
  layer->addAnimation_forKey(spin, "transform.rotation.z");
}

void YTPlaylistViewController::stopRefreshBtn() {
  auto button = refreshBtn();
  if (!button) return;
  button->setLayer(nullptr);
  button->setWantsLayer(false);
  button->setEnabled(true);
}

void YTPlaylistViewController::onSearchOrderChanged(const ns::Ref<ns::Object>&) {
  auto order = searchOrderBtn();
  if (!order) return;
  long index = order->indexOfSelectedItem();
  if (index == 4) index = 0;
  const SearchOrderEntry* entry = searchOrderForIndex(index);
  if (entry && requestType_ == entry->requestType) return;
  ns::Log("idx = %ld", index);
  const std::string oldType = requestType_;
  if (entry) {
    requestType_ = entry->requestType;
    setSearchOrder(entry->order);
    setIsVideoResult(entry->isVideoResult);
  }
  rekeyPlaylistViewController(self<YTPlaylistViewController>(), requestType_, oldType, requestId_);
  cellArray_.clear();
  if (auto table = tableView()) table->reloadData();
}

void YTPlaylistViewController::setIsVideoResult(bool value) {
  isVideoResult_ = value;
  if (auto table = tableView()) table->setAllowsMultipleSelection(value);
}

void YTPlaylistViewController::prepareSubscribeBtn() {
  if (!subscribeBtn_) return;
  if (isSubscribed(requestId_)) {
    subscribeBtn_->setTitle("Unsubscribe");
    subscribeBtn_->setTag(0);
  } else {
    subscribeBtn_->setTitle("Subscribe");
    subscribeBtn_->setTag(1);
  }
}

void YTPlaylistViewController::onSubscribeBtn(const ns::Ref<ns::Object>& sender) {
  auto button = std::dynamic_pointer_cast<ak::Button>(sender);
  if (!button) button = subscribeBtn_;
  if (!button) return;
  auto cache = accountCache();
  if (!cache) return;
  if (button->tag() != 0)
    cache->subscribe(requestId_);
  else
    cache->unsubscribe(requestId_);
}

std::string YTPlaylistViewController::getDictionaryKey() const {
  return registryKey(requestType_, requestId_);
}

// ---- the play queue ----

void YTPlaylistViewController::playAtIndex(long row) {
  if (row < 0) return;
  playIndex_ = row;
  // A row past the end plays nothing, as a failed lookup would leave it.
  if (row >= static_cast<long>(cellArray_.size())) return;
  auto entry = cellArray_[static_cast<std::size_t>(row)];
  if (auto player = playerViewController()) player->playVideo(entry);
  setCurrentPlaylistController(self<YTPlaylistViewController>());
  if (auto cache = accountCache()) {
    cache->saveCurrentPlaylist();
    cache->savePlaying(entry);
  }
  postNotification(kCurrentPlaylistChangedNotification);
  refreshTableView();
}

namespace {
bool shuffleOn() {
  auto main = mainWindowController();
  return main && main->shuffleMode() == 1;
}
int repeatType() {
  auto main = mainWindowController();
  return main ? main->repeatType() : 0;
}
}  // namespace

// The row after the playing one; any index at or past the end gives the end itself. The index may
// come back from the stored copy of what was playing, so it can be any number.
long YTPlaylistViewController::followingIndex() const {
  const long count = static_cast<long>(cellArray_.size());
  return playIndex_ >= count ? count : playIndex_ + 1;
}

bool YTPlaylistViewController::nextTrack(const ns::Ref<ns::Object>& sender) {
  if (cellArray_.empty()) return false;
  long next = shuffleOn() ? getRandomIndex(true) : followingIndex();
  if (static_cast<unsigned long>(next) >= cellArray_.size()) {
    next = 0;
    if (!sender && repeatType() == 0) return false;
  }
  playAtIndex(next);
  return true;
}

bool YTPlaylistViewController::prevTrack(const ns::Ref<ns::Object>&) {
  if (cellArray_.empty()) return false;
  long previous = shuffleOn() ? getRandomIndex(false) : (playIndex_ <= 0 ? -1 : playIndex_ - 1);
  if (previous < 0) previous = static_cast<long>(cellArray_.size()) - 1;
  playAtIndex(previous);
  return true;
}

std::optional<std::string> YTPlaylistViewController::getNextVideoId() {
  if (cellArray_.empty()) return std::nullopt;
  long next = shuffleOn() ? peekRandomIndex(true) : followingIndex();
  if (next < 0 || next >= static_cast<long>(cellArray_.size())) next = 0;
  return cellArray_[static_cast<std::size_t>(next)]->videoid();
}

bool YTPlaylistViewController::isCurrentPlaylist() {
  return currentPlaylistController().get() == this;
}

void YTPlaylistViewController::generateRandomArray() {
  if (randomCellArray_.size() == cellArray_.size()) return;
  ns::Log("!!! ### Generating random");
  randomCellPlayIdx_ = 0;
  randomCellArray_.clear();
  const long count = static_cast<long>(cellArray_.size());
  for (long row = 0; row < count; ++row)
    if (row != playIndex_) randomCellArray_.push_back(row);
  const std::size_t m = randomCellArray_.size();
  for (std::size_t p = 0; p < m; ++p) {
    const std::size_t j = p + nextRandom() % (m - p);
    std::swap(randomCellArray_[p], randomCellArray_[j]);
  }
  randomCellArray_.insert(randomCellArray_.begin(), playIndex_);
  if (randomCellArray_.size() >= 2) randomCellPlayIdx_ = 1;
}

long YTPlaylistViewController::getRandomIndex(bool forward) {
  if (cellArray_.size() == 1) return playIndex_;
  randomCellPlayIdx_ += forward ? 1 : -1;
  generateRandomArray();
  const auto entries = static_cast<std::int64_t>(randomCellArray_.size());
  if (randomCellPlayIdx_ < 0) randomCellPlayIdx_ = entries - 1;
  if (randomCellPlayIdx_ >= entries) randomCellPlayIdx_ = 0;
  return randomCellArray_[static_cast<std::size_t>(randomCellPlayIdx_)];
}

long YTPlaylistViewController::peekRandomIndex(bool forward) {
  if (cellArray_.size() == 1) return playIndex_;
  const std::int64_t position = randomCellPlayIdx_;
  generateRandomArray();
  std::int64_t q = forward ? position + 1 : position - 1;
  const auto entries = static_cast<std::int64_t>(randomCellArray_.size());
  if (q < 0) q = entries - 1;
  if (q >= entries) q = 0;
  return randomCellArray_[static_cast<std::size_t>(q)];
}

void YTPlaylistViewController::scrollToNowPlaying() {
  scrollToIndex(playIndex_);
}

void YTPlaylistViewController::scrollToIndex(long row) {
  if (!isVideoResult_) return;
  float y = static_cast<float>(row) * 83.0f + 41.5f;
  auto scroll = scrollView();
  auto clip = scroll ? scroll->contentView() : nullptr;
  const float height = clip ? static_cast<float>(clip->frame().size.height) : 0.0f;
  y = std::round(y - height / 2.0f);
  if (clip) clip->scrollToPoint(ak::Point{0, y});
}

void YTPlaylistViewController::processEnterKey() {
  auto table = tableView();
  if (!table) return;
  const long row = table->selectedRow();
  if (row >= 0) playAtIndex(row);
}
