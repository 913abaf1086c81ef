#include "app/browse/LeftViewController.h"

#include <algorithm>
#include <cmath>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/MainViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/SearchHistory.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/SplitView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/foundation/IndexSet.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/AlertBlocks.h"
#include "ui/BubblePopover.h"
#include "ui/MySearchField.h"
#include "ui/MySplitView.h"
#include "ui/SourceList.h"

PL_CLASS(LeftViewController, ak::ViewController) {
  cls.method<&LeftViewController::onBackBtn>("onBackBtn:");
  cls.method<&LeftViewController::onForwardBtn>("onForwardBtn:");
  cls.method<&LeftViewController::onCurrentPlaylistBtn>("onCurrentPlaylistBtn:");
  cls.method<&LeftViewController::onRefreshBtn>("onRefreshBtn:");
  cls.method<&LeftViewController::controlTextDidChange>("controlTextDidChange:");
  cls.method<&LeftViewController::controlTextDidEndEditing>("controlTextDidEndEditing:");
  cls.method<&LeftViewController::control_textView_doCommandBySelector>(
      "control:textView:doCommandBySelector:");
  cls.method<&LeftViewController::splitViewDidResizeSubviews>("splitViewDidResizeSubviews:");
  cls.method<&LeftViewController::searchFieldCleared>("searchFieldCleared:");
}

namespace {

// The pressed images of these buttons show in their contents.
constexpr long kContentsHighlightMask = 1;
constexpr double kHiddenPaneHeight = 50;

template <class T>
ns::Ref<T> controllerFromNib(const std::string& nib) {
  auto controller = ns::make<T>();
  controller->initWithNibName_bundle(nib, nullptr);
  return controller;
}

void showSheet(const std::string& message, const std::string& button) {
  auto main = mainWindowController();
  auto window = main ? main->getCurrentWindow() : nullptr;
  AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          window, message, "", static_cast<unsigned long>(ak::AlertStyle::Informational), std::nullopt,
          {button}, nullptr, nullptr);
}

}  // namespace

void LeftViewController::initWithNibName_bundle(const std::optional<std::string>& nibName,
                                                const ns::Ref<ns::Bundle>& bundle) {
  ak::ViewController::initWithNibName_bundle(nibName, bundle);
  savedSearch_.clear();
}

LeftViewController::~LeftViewController() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void LeftViewController::connectOutlets(const Outlets& outlets) {
  setView(outlets.view);
  navigationBarView_ = outlets.navigationBarView;
  leftSplitView_ = outlets.leftSplitView;
  menuView_ = outlets.menuView;
  navigationView_ = outlets.navigationView;
  searchField_ = outlets.searchField;
  autoCompleteView_ = outlets.autoCompleteView;
  autoCompleteTableView_ = outlets.autoCompleteTableView;
  backBtn_ = outlets.backBtn;
  forwardBtn_ = outlets.forwardBtn;
  currentPlaylistBtn_ = outlets.currentPlaylistBtn;
}

void LeftViewController::awakeFromNib() {
  ak::ViewController::awakeFromNib();
  navigationController_ = controllerFromNib<PelNavigationController>("PelNavigationController");
  mainViewController_ = controllerFromNib<MainViewController>("MainViewController");
  mainViewController_->setNavigationController(navigationController_);
  navigationController_->setMenuPage(mainViewController_);

  if (auto area = navigationView()) {
    auto navigation = navigationController_->view();
    ak::Rect frame = area->bounds();
    // The bar is opaque on every emulated system: content that scrolled under it would be
    // hidden, so the pages start below it.
    navigation->setFrame(frame);
    navigation->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
    area->addSubview(navigation);
  }

  menuViewController_ = controllerFromNib<MenuViewController>("MenuViewController");
  menuViewController_->setNavigationController(navigationController_);
  if (auto area = menuView()) {
    auto list = menuViewController_->view();
    list->setFrame(area->bounds());
    list->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
    area->addSubview(list);
  }

  initLeftSplitView();
  long position = getIntSetting(kLeftSplitViewPositionKey);
  if (position > 0) {
    // The value comes from a file the user can edit.
    position =
        std::clamp(position, static_cast<long>(kLeftSplitMinimum), static_cast<long>(kLeftSplitMaximum));
    if (auto split = leftSplitView())
      split->setPosition_ofDividerAtIndex_animated_completitionBlock(static_cast<double>(position), 0, false,
                                                                     nullptr);
    // The pane is still at its interface's size here; the main window gives it its own width
    // later, and the split's priority resize would leave the source list at whatever room the
    // list area left it then. The pane's resizes put the stored width back instead.
    storedSourceListWidth_ = static_cast<double>(position);
  }
  initSearch();

  if (getBoolSetting(kWhiteButtonsKey)) {
    if (backBtn_) backBtn_->setImage(ak::Image::imageNamed("white_back_button"));
    if (forwardBtn_) forwardBtn_->setImage(ak::Image::imageNamed("white_forth_button"));
  }
  for (const auto& button : {backBtn_, forwardBtn_, currentPlaylistBtn_})
    if (button && button->buttonCell()) button->buttonCell()->setHighlightsBy(kContentsHighlightMask);

  auto center = ns::NotificationCenter::defaultCenter();
  addNotificationObserver(this, kNavigationChangedNotification, &LeftViewController::updateInfo);
  addNotificationObserver(this, kSearchFieldActivatedNotification, &LeftViewController::onSearchActivated);
  addNotificationObserver(this, kCurrentPlaylistChangedNotification,
                          &LeftViewController::onCurrentPlaylistChanged);
  if (auto root = view()) {
    root->setPostsFrameChangedNotifications(true);
    center->addObserver_selector_name_object(this, &LeftViewController::viewDidResize,
                                             std::string(ak::ViewFrameDidChangeNotification), root);
  }
  // The split view stays its own delegate, so that its limits hold; the pane hears its resizes
  // as an observer of the same notification.
  if (auto split = leftSplitView())
    center->addObserver_selector_name_object(this, &LeftViewController::splitViewDidResizeSubviews,
                                             std::string(ak::SplitViewDidResizeSubviewsNotification), split);
}

void LeftViewController::initLeftSplitView() {
  auto split = leftSplitView();
  if (!split) return;
  split->setDividerColor(ak::colors::blackColor());
  split->setDividerThickness(1.0);
  split->setSubviewsResizeMode(1);
  split->setMinSize_ofSubviewAtIndex(kLeftSplitMinimum, 0);
  split->setMaxSize_ofSubviewAtIndex(kLeftSplitMaximum, 0);
  split->setMinSize_ofSubviewAtIndex(kNavigationAreaMinimum, 1);
  split->setPriority_ofSubviewAtIndex(1, 0);
  split->setPriority_ofSubviewAtIndex(0, 1);
  split->setCanCollapse_subviewAtIndex(true, 0);
}

void LeftViewController::splitViewDidResizeSubviews(const ns::Ref<ns::Notification>&) {
  // A divider moved posts this; the split's own resizes and the restores above post nothing. The
  // width chosen now is the one to keep.
  storedSourceListWidth_ = 0;
  if (auto menu = menuView()) {
    const long width = static_cast<long>(menu->frame().size.width);
    if (width >= static_cast<long>(kLeftSplitMinimum)) setIntSetting(kLeftSplitViewPositionKey, width);
  }
  initLeftSplitView();
}

void LeftViewController::viewDidResize(const ns::Ref<ns::Notification>&) {
  auto root = view();
  auto split = leftSplitView();
  if (!root || !split) return;
  if (root->frame().size.height > kHiddenPaneHeight) {
    // Below the bar, which keeps the top of the pane.
    ak::Rect frame = root->bounds();
    if (auto bar = navigationBarView())
      frame.size.height = std::max(0.0, frame.size.height - bar->frame().size.height);
    split->setFrame(frame);
    split->setAlphaValue(1.0);
    restoreSourceListWidth();
  } else {
    split->setAlphaValue(0.0);
  }
}

void LeftViewController::restoreSourceListWidth() {
  auto split = leftSplitView();
  auto menu = menuView();
  if (!(storedSourceListWidth_ > 0) || !split || !menu || treeCollapsed()) return;
  // It only gives back what the split's resizes took: the list area keeps its minimum, and
  // narrowing is left to the split's resize.
  const double room =
      std::floor(split->bounds().size.width - split->dividerThickness() - split->minSizeForSubviewAtIndex(1));
  const double width = std::min(storedSourceListWidth_, room);
  if (width < split->minSizeForSubviewAtIndex(0) || width <= menu->frame().size.width) return;
  split->setPosition_ofDividerAtIndex_animated_completitionBlock(width, 0, false, nullptr);
}

bool LeftViewController::treeCollapsed() {
  auto split = leftSplitView();
  auto menu = menuView();
  return split && menu && split->isSubviewCollapsed(menu);
}

void LeftViewController::collapseTree(bool animated) {
  if (auto split = leftSplitView(); split && !treeCollapsed())
    split->collapseOrExpandSubviewAtIndex_animated(0, animated);
}

void LeftViewController::uncollapseTree(bool animated) {
  if (auto split = leftSplitView(); split && treeCollapsed())
    split->collapseOrExpandSubviewAtIndex_animated(0, animated);
}

void LeftViewController::uncollapseMainLeftView() {
  if (auto main = mainWindowController()) main->showLeftView(true);
}

// ---- the bar ----

void LeftViewController::onBackBtn(const ns::Ref<ns::Object>&) {
  uncollapseMainLeftView();
  navigationController_->goBack();
  focusPlaylist();
}

void LeftViewController::onForwardBtn(const ns::Ref<ns::Object>&) {
  uncollapseMainLeftView();
  navigationController_->goForward();
  focusPlaylist();
}

void LeftViewController::onCurrentPlaylistBtn(const ns::Ref<ns::Object>&) {
  auto current = currentPlaylistController();
  if (!current) return;
  uncollapseMainLeftView();
  if (current == navigationController_->getCurrentViewController())
    current->scrollToNowPlaying();
  else
    navigationController_->pushViewController_animated(current, true);
  postNotification(kCurrentPlaylistChangedNotification);
  focusPlaylist();
}

bool LeftViewController::showCurrentPlaylistForMiniPlayer() {
  auto current = currentPlaylistController();
  if (!current) return false;
  navigationController_->pushViewController_animated(current, true);
  postNotification(kCurrentPlaylistChangedNotification);
  return true;
}

void LeftViewController::onRefreshBtn(const ns::Ref<ns::Object>&) {
  showSheet("refresh not implemented", "Cancel");
}

void LeftViewController::updateInfo() {
  if (backBtn_) backBtn_->setEnabled(navigationController_->canGoBack());
  if (forwardBtn_) forwardBtn_->setEnabled(navigationController_->canGoForward());
  auto field = searchField();
  if (field) {
    if (auto window = field->window()) {
      auto responder = window->firstResponder();
      auto editor = field->currentEditor();
      if (responder && (responder == field || (editor && responder == editor)))
        window->makeFirstResponder(nullptr);
      if (auto list = menuViewController_ ? menuViewController_->sourceList() : nullptr)
        window->makeFirstResponder(list);
    }
    field->setStringValue(navigationController_->currentTitle());
  }
  updateCurrentPlaylistBtn();
  updateTreeActiveItem(true);
}

void LeftViewController::updateTreeActiveItem(bool scrollTo) {
  if (!menuViewController_) return;
  menuViewController_->deselect();
  if (auto list = getVisiblePlaylistViewController())
    menuViewController_->selectItemType_withId_scrollTo(list->requestType(), list->requestId(), scrollTo);
}

void LeftViewController::onCurrentPlaylistChanged() {
  updateCurrentPlaylistBtn();
}

void LeftViewController::updateCurrentPlaylistBtn() {
  if (!currentPlaylistBtn_) return;
  auto current = currentPlaylistController();
  if (!current) {
    currentPlaylistBtn_->setEnabled(false);
    return;
  }
  currentPlaylistBtn_->setEnabled(true);
  const bool onShow = current == navigationController_->getCurrentViewController();
  currentPlaylistBtn_->setImage(
      ak::Image::imageNamed(onShow ? "current_playlist_button_highlighted" : "current_playlist_button"));
  currentPlaylistBtn_->setAlternateImage(ak::Image::imageNamed(
      onShow ? "current_playlist_button_highlighted_pressed" : "current_playlist_button_pressed"));
  currentPlaylistBtn_->setState(onShow ? ak::OnState : ak::OffState);
}

void LeftViewController::focusPlaylist() {
  auto list = getVisiblePlaylistViewController();
  if (!list) return;
  auto main = mainWindowController();
  auto window = main ? main->window() : nullptr;
  if (window && list->tableView()) window->makeFirstResponder(list->tableView());
}

ns::Ref<YTPlaylistViewController> LeftViewController::getVisiblePlaylistViewController() {
  auto page = navigationController_ ? navigationController_->getCurrentViewController() : nullptr;
  if (!page || page->className() != "YTPlaylistViewController") return nullptr;
  return std::dynamic_pointer_cast<YTPlaylistViewController>(page);
}

// ---- search ----

void LeftViewController::initSearch() {
  if (autoCompleteView_) {
    autoCompletePopover_ = ak::make<BubblePopover>(autoCompleteView_);
    autoCompletePopover_->setClosesWhenPopoverResignsKey(true);
    // Suggestions of a field the user no longer looks at would cover it.
    autoCompletePopover_->setClosesWhenApplicationBecomesInactive(true);
    autoCompletePopover_->setBorderColor(ak::colors::blackColor());
    autoCompletePopover_->setBackgroundColor(ak::colors::whiteColor());
    autoCompletePopover_->setDrawsArrow(false);
  }
  searchAutoComplete_ = SearchAutoComplete::init();
  searchAutoComplete_->setTableView(autoCompleteTableView_);
  searchAutoComplete_->setDelegate(
      std::shared_ptr<SearchAutoCompleteDelegate>(self<LeftViewController>(), this));
  if (auto field = searchField())
    if (auto cell = field->searchFieldCell()) {
      cell->cancelButtonCell()->setTarget(self<LeftViewController>());
      cell->cancelButtonCell()->setAction(ns::Sel("searchFieldCleared:"));
    }
}

void LeftViewController::searchFieldCleared(const ns::Ref<ns::Object>&) {
  stopSuggesting();
  auto field = searchField();
  if (!field) return;
  field->setStringValue("");
  if (auto editor = field->currentEditor()) editor->setString("");
}

void LeftViewController::stopSuggesting() {
  // Also drops a reply still on its way, which would show the popover again.
  searchAutoComplete_->setEnabled(false);
  closeAutoComplete();
}

void LeftViewController::onSearchActivated() {
  if (auto field = searchField()) field->setStringValue(savedSearch_);
}

void LeftViewController::controlTextDidChange(const ns::Ref<ns::Notification>&) {
  if (autoCompleteTableView_) autoCompleteTableView_->deselectAll(nullptr);
  searchAutoComplete_->setEnabled(true);
  auto field = searchField();
  std::string text;
  if (field) text = field->currentEditor() ? field->currentEditor()->string() : field->stringValue();
  if (text.empty()) return stopSuggesting();
  searchAutoComplete_->setQuery(text);
}

void LeftViewController::controlTextDidEndEditing(const ns::Ref<ns::Notification>& note) {
  auto field = searchField();
  if (field) savedSearch_ = field->stringValue();
  long movement = ak::OtherTextMovement;
  if (note) {
    const ns::Value& value = note->userInfo()[std::string(ak::TextMovementKey)];
    if (value.isNumber()) movement = value.integerValue();
  }
  if (movement == ak::ReturnTextMovement) {
    const long row = searchAutoComplete_->selectedRow();
    const auto& suggestions = searchAutoComplete_->suggestArray();
    if (autoCompletePopover_ && autoCompletePopover_->isVisible() && row >= 0 &&
        row < static_cast<long>(suggestions.size())) {
      const std::string suggestion = suggestions[static_cast<std::size_t>(row)];
      ns::Log("search = %@", suggestion);
      runSearchWithQuery(suggestion);
    } else {
      runSearch();
    }
  } else {
    // The field lost the focus.
    stopSuggesting();
    if (field) field->setStringValue(navigationController_->currentTitle());
  }
}

bool LeftViewController::control_textView_doCommandBySelector(const ns::Ref<ak::Control>&,
                                                              const ns::Ref<ak::TextView>&, ns::Sel command) {
  if (command == ns::Sel("cancelOperation:")) {
    stopSuggesting();
    return false;
  }
  const bool up = command == ns::Sel("moveUp:");
  const bool down = command == ns::Sel("moveDown:");
  if (!up && !down) return false;
  if (!autoCompletePopover_ || !autoCompletePopover_->isVisible()) {
    if (!searchAutoComplete_->suggestArray().empty()) autoCompleteAvailable();
    return true;
  }
  const long count = static_cast<long>(searchAutoComplete_->suggestArray().size());
  const long current = searchAutoComplete_->selectedRow();
  long next;
  if (up) {
    // Up from no row highlights the last; up from the first leaves none.
    next = (current < 0 ? count : current) - 1;
  } else {
    // Down on the last row stays there.
    next = std::min(current + 1, count - 1);
  }
  if (next < -1) next = -1;
  if (autoCompleteTableView_) autoCompleteTableView_->deselectAll(nullptr);
  searchAutoComplete_->setSelectedRow(next);
  if (autoCompleteTableView_) {
    autoCompleteTableView_->reloadData();
    if (next >= 0)
      autoCompleteTableView_->selectRowIndexes_byExtendingSelection(
          *ns::IndexSet::indexSetWithIndex(static_cast<std::size_t>(next)), false);
  }
  return true;
}

void LeftViewController::autoCompleteAvailable() {
  if (!autoCompletePopover_) return;
  if (searchAutoComplete_->suggestArray().empty()) {
    closeAutoComplete();
    return;
  }
  auto field = searchField();
  if (!autoCompletePopover_->isVisible() && field) {
    const ak::Rect frame = field->frame();
    auto main = mainWindowController();
    auto bottom = main ? main->bottomView() : nullptr;
    auto split = leftSplitView();
    const double x = frame.origin.x + frame.size.width / 2;
    // Hung from the field's lower edge, so that the bubble leaves the typed text in sight.
    const double y = frame.origin.y + (bottom ? bottom->frame().size.height : 0) +
                     (split ? split->frame().size.height : 0);
    autoCompletePopover_->displayPopoverInWindow_atPoint(field->window(), ak::Point{x, y});
  }
  if (autoCompleteTableView_) autoCompleteTableView_->reloadData();
}

void LeftViewController::closeAutoComplete() {
  if (autoCompletePopover_ && autoCompletePopover_->isVisible()) autoCompletePopover_->closePopover(nullptr);
}

void LeftViewController::runSearchWithQuery(const std::string& query) {
  if (auto field = searchField()) field->setStringValue(query);
  runSearch();
}

void LeftViewController::runSearch() {
  searchAutoComplete_->setEnabled(false);
  closeAutoComplete();
  auto field = searchField();
  const std::string text = field ? field->stringValue() : std::string();
  savedSearch_ = text;
  if (text.empty()) return;
  ns::Log("search: %@", text);
  std::string videoId;
  try {
    if (auto support = YoutubeSupport::initWithYoutubeUrl(text))
      if (support->videoid()) videoId = *support->videoid();
  } catch (const std::exception&) {
    videoId.clear();
  }
  if (text == "PL:white=1" || text == "PL:white=0") {
    setBoolSetting(kWhiteButtonsKey, text == "PL:white=1");
    showSheet("Please restart app!", "Ok");
    return;
  }
  if (!videoId.empty()) {
    showList(getPlaylistViewController(videoId, "videoid", videoId));
  } else {
    addSearchHistory(text);
    search(text);
  }
  uncollapseMainLeftView();
}

void LeftViewController::search(const std::string& query) {
  showList(getPlaylistViewController(query, "search_" + getSearchOrder(), query));
}

void LeftViewController::showList(const ns::Ref<YTPlaylistViewController>& list) {
  const bool onShow = navigationController_->getCurrentViewController() == list;
  navigationController_->pushViewController_animated(list, true);
  // A list pushed sees to a failed fetch itself as it appears; the list on show is not pushed.
  if (onShow) list->fetchAgainIfFailed();
}
