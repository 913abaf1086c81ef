#pragma once
// The left (browse) pane of the main window: the navigation bar (back, forward, current
// playlist, search field), and the split of the source list (top) and the navigation area
// (bottom). It runs the search field with its suggestions, its hidden commands and the search
// history, keeps the split's divider position, and mirrors the navigation into the bar. Made
// once from the nib "LeftViewController"; main thread only.
#include <optional>
#include <string>

#include "app/browse/SearchAutoComplete.h"
#include "platform/appkit/ViewController.h"

class BubblePopover;
class MainViewController;
class MenuViewController;
class MySearchField;
class MySplitView;
class PelNavigationController;
class PelViewController;
class YTPlaylistViewController;
namespace ak {
class Button;
class Control;
class TableView;
class TextView;
class View;
}  // namespace ak
namespace ns {
class Notification;
}

inline constexpr double kLeftSplitMinimum = 90;
inline constexpr double kLeftSplitMaximum = 300;
inline constexpr double kNavigationAreaMinimum = 230;

class LeftViewController : public ak::ViewController, public SearchAutoCompleteDelegate {
 public:
  void initWithNibName_bundle(const std::optional<std::string>& nibName,
                              const ns::Ref<ns::Bundle>& bundle) override;
  ~LeftViewController() override;

  // Assembles the pane: the navigation, the menu page, the split view, the search.
  void awakeFromNib() override;
  void initLeftSplitView();
  void initSearch();

  // ---- layout ----
  // Hides the split view by transparency while the pane is 50 points high or less; until the
  // divider is first moved, puts the source list back at its stored width as far as the pane
  // has room for it.
  void viewDidResize(const ns::Ref<ns::Notification>& note);
  void leftViewDidResize(const ns::Ref<ns::Notification>& note) {}
  // Stores the divider position (from 90 points up) and sets the split up again. A moved
  // divider ends the restoring of the stored width.
  void splitViewDidResizeSubviews(const ns::Ref<ns::Notification>& note);
  bool treeCollapsed();
  void collapseTree(bool animated);
  void uncollapseTree(bool animated);
  void uncollapseMainLeftView();

  // ---- the bar ----
  void onBackBtn(const ns::Ref<ns::Object>& sender);
  void onForwardBtn(const ns::Ref<ns::Object>& sender);
  void onCurrentPlaylistBtn(const ns::Ref<ns::Object>& sender);
  bool showCurrentPlaylistForMiniPlayer();
  void onRefreshBtn(const ns::Ref<ns::Object>& sender);
  void updateInfo();
  void updateTreeActiveItem(bool scrollTo);
  void onCurrentPlaylistChanged();
  void updateCurrentPlaylistBtn();
  void focusPlaylist();
  // The navigation's page on show when it is a list pane, else nil.
  ns::Ref<YTPlaylistViewController> getVisiblePlaylistViewController();

  // ---- search ----
  void onSearchActivated();
  void controlTextDidChange(const ns::Ref<ns::Notification>& note);
  void controlTextDidEndEditing(const ns::Ref<ns::Notification>& note);
  bool control_textView_doCommandBySelector(const ns::Ref<ak::Control>& control,
                                            const ns::Ref<ak::TextView>& view, ns::Sel command);
  void autoCompleteAvailable() override;
  void closeAutoComplete();
  // Closes the suggestions and drops the ones still asked for.
  void stopSuggesting();
  // The search field's clear button: empties the field and closes the suggestions.
  void searchFieldCleared(const ns::Ref<ns::Object>& sender);
  void runSearchWithQuery(const std::string& query) override;
  void runSearch();
  void search(const std::string& query);

  // ---- outlets and parts ----
  ns::Ref<ak::View> navigationBarView() const { return navigationBarView_.lock(); }
  ns::Ref<MySplitView> leftSplitView() const { return leftSplitView_.lock(); }
  ns::Ref<ak::View> menuView() const { return menuView_.lock(); }
  ns::Ref<ak::View> navigationView() const { return navigationView_.lock(); }
  ns::Ref<MySearchField> searchField() const { return searchField_.lock(); }
  ns::Ref<ak::View> autoCompleteView() const { return autoCompleteView_; }
  ns::Ref<ak::TableView> autoCompleteTableView() const { return autoCompleteTableView_; }
  ns::Ref<ak::Button> backBtn() const { return backBtn_; }
  ns::Ref<ak::Button> forwardBtn() const { return forwardBtn_; }
  ns::Ref<ak::Button> currentPlaylistBtn() const { return currentPlaylistBtn_; }
  ns::Ref<PelNavigationController> navigationController() const { return navigationController_; }
  ns::Ref<MainViewController> mainViewController() const { return mainViewController_; }
  // The source list in `menuView`, nil before the pane awakes.
  ns::Ref<MenuViewController> menuViewController() const { return menuViewController_; }
  ns::Ref<SearchAutoComplete> searchAutoComplete() const { return searchAutoComplete_; }
  ns::Ref<BubblePopover> autoCompletePopover() const { return autoCompletePopover_; }
  const std::string& savedSearch() const { return savedSearch_; }

  struct Outlets {
    ns::Ref<ak::View> view, navigationBarView, menuView, navigationView, autoCompleteView;
    ns::Ref<MySplitView> leftSplitView;
    ns::Ref<MySearchField> searchField;
    ns::Ref<ak::TableView> autoCompleteTableView;
    ns::Ref<ak::Button> backBtn, forwardBtn, currentPlaylistBtn;
  };
  // How the nib connects its outlets.
  void connectOutlets(const Outlets& outlets);

  std::string className() const override { return "LeftViewController"; }

 private:
  // Pushes the list of a search or a link (nothing when it is on show already).
  void showList(const ns::Ref<YTPlaylistViewController>& list);
  // Widens the source list back to the stored width, or as near as the list area's minimum
  // allows.
  void restoreSourceListWidth();

  ns::Weak<ak::View> navigationBarView_;
  ns::Weak<MySplitView> leftSplitView_;
  ns::Weak<ak::View> menuView_;
  ns::Weak<ak::View> navigationView_;
  ns::Weak<MySearchField> searchField_;
  ns::Ref<ak::View> autoCompleteView_;
  ns::Ref<ak::TableView> autoCompleteTableView_;
  ns::Ref<ak::Button> backBtn_, forwardBtn_, currentPlaylistBtn_;
  ns::Ref<PelNavigationController> navigationController_;
  ns::Ref<MainViewController> mainViewController_;
  ns::Ref<MenuViewController> menuViewController_;
  ns::Ref<SearchAutoComplete> searchAutoComplete_;
  ns::Ref<BubblePopover> autoCompletePopover_;
  std::string savedSearch_;
  // The stored source list width the pane keeps restoring (0: none, or the divider was moved).
  double storedSourceListWidth_ = 0;
};
