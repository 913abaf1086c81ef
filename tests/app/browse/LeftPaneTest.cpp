// The left pane in a headless main window: its assembly, the split view and its stored divider,
// the navigation bar, the suggestions from a fake suggestion service on loopback with the
// virtual clock, the search and its hidden commands, the option menu and the current-playlist
// button.
#include <gtest/gtest.h>

#include "app/browse/BlackSearchFieldCell.h"
#include "app/browse/BrowseNotifications.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/MainViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/SearchHistory.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/youtube/SuggestServiceConfig.h"
#include "common/AppUtilities.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/Window.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeSuggestService.h"
#include "ui/BubblePopover.h"
#include "ui/MySearchField.h"
#include "ui/MySplitView.h"

namespace {

using browse_test::BrowseFixture;

struct LeftPaneFixture : BrowseFixture {
  explicit LeftPaneFixture(std::function<void(pltest::Sandbox&)> before = {}) {
    if (before) before(app.sandbox());
    bottom = ak::make<ak::View>(ak::MakeRect(0, 0, 520, 20));
    std::tie(window, left) = showLeftPane(ak::MakeRect(0, 0, 520, 420), ak::MakeRect(0, 20, 520, 400),
                                          [&](auto& answers) { answers.bottomView = bottom; });
    window->contentView()->addSubview(bottom);
  }
  ns::Ref<PelNavigationController> navigation() const { return left->navigationController(); }
  ns::Ref<MySearchField> field() const { return left->searchField(); }
  // The window point of a point of the split view.
  ak::Point inSplit(double x, double yFromTop) const {
    auto split = left->leftSplitView();
    return split->convertPoint_toView(ak::Point{x, yFromTop}, nullptr);
  }

  ns::Ref<ak::Window> window;
  ns::Ref<ak::View> bottom;
  ns::Ref<LeftViewController> left;
};

TEST(LeftPane, StartsOnTheMenuPageWithTheSplitSetUp) {
  LeftPaneFixture f;
  EXPECT_TRUE(f.navigation()->isShowingMenu());
  EXPECT_EQ(f.left->mainViewController()->view()->superview(), f.navigation()->contentsView());
  EXPECT_EQ(f.field()->stringValue(), "");
  EXPECT_FALSE(f.left->backBtn()->isEnabled());
  EXPECT_FALSE(f.left->forwardBtn()->isEnabled());
  EXPECT_FALSE(f.left->currentPlaylistBtn()->isEnabled());
  auto split = f.left->leftSplitView();
  EXPECT_EQ(split->minSizeForSubviewAtIndex(0), 90);
  EXPECT_EQ(split->maxSizeForSubviewAtIndex(0), 300);
  EXPECT_EQ(split->minSizeForSubviewAtIndex(1), 230);
  EXPECT_TRUE(split->canCollapseSubviewAtIndex(0));
  EXPECT_EQ(split->subviewsResizeMode(), 1u);
  EXPECT_EQ(split->dividerThickness(), 1.0);
  for (const auto& button : {f.left->backBtn(), f.left->forwardBtn(), f.left->currentPlaylistBtn()})
    EXPECT_EQ(button->buttonCell()->highlightsBy(), 1);
  EXPECT_EQ(f.left->backBtn()->image(), ak::Image::imageNamed("back_button"));
  // The bar is opaque on the emulated 10.10 too: the navigation starts below it, so the list's
  // first row is whole.
  EXPECT_EQ(f.navigation()->view()->frame(), f.left->navigationView()->bounds());
  EXPECT_TRUE(dynamic_cast<BlackSearchFieldCell*>(f.field()->cell().get()));
}

TEST(LeftPane, OnAnOlderSystemTheNavigationFitsItsArea) {
  LeftPaneFixture f([](pltest::Sandbox& sandbox) { sandbox.set("PELORIN_MACOS_VERSION", "10.9.5"); });
  EXPECT_EQ(f.navigation()->view()->frame(), f.left->navigationView()->bounds());
}

TEST(LeftPane, TheStoredDividerComesBackAndOnlyWideSourceListsAreStored) {
  LeftPaneFixture first([](pltest::Sandbox&) { setIntSetting(kLeftSplitViewPositionKey, 180); });
  EXPECT_EQ(first.left->menuView()->frame().size.width, 180);
  pltest::renderWindow(first.window, "divider");
  const double y = first.inSplit(0, 100).y;
  auto divider = pltest::windowPixel(first.window, 180.5, y);
  EXPECT_LT(divider.r + divider.g + divider.b, 30) << pltest::describe(divider);
  auto page = pltest::windowPixel(first.window, 184, y);
  EXPECT_NEAR(page.r, 50, 4) << pltest::describe(page);

  pltest::drag(first.window, {first.inSplit(180.5, 100), first.inSplit(20.5, 100)});
  first.app.dispatchQueued();
  EXPECT_EQ(getIntSetting(kLeftSplitViewPositionKey), 180);
  pltest::drag(first.window, {first.inSplit(first.left->menuView()->frame().size.width + 0.5, 100),
                              first.inSplit(200.5, 100)});
  first.app.dispatchQueued();
  EXPECT_EQ(first.left->menuView()->frame().size.width, 200);
  EXPECT_EQ(getIntSetting(kLeftSplitViewPositionKey), 200);
}

TEST(LeftPane, AStoredPositionOutsideTheLimitsIsClamped) {
  LeftPaneFixture f([](pltest::Sandbox&) { setIntSetting(kLeftSplitViewPositionKey, 5000); });
  EXPECT_EQ(f.left->menuView()->frame().size.width, 300);
}

TEST(LeftPane, WhiteButtonsAndALowPane) {
  LeftPaneFixture f([](pltest::Sandbox&) { setBoolSetting(kWhiteButtonsKey, true); });
  EXPECT_EQ(f.left->backBtn()->image(), ak::Image::imageNamed("white_back_button"));
  EXPECT_EQ(f.left->forwardBtn()->image(), ak::Image::imageNamed("white_forth_button"));
  pltest::renderWindow(f.window, "white-buttons");
  // The back arrow's middle, in the bar at the pane's top.
  auto arrow = pltest::windowPixel(f.window, 4 + 16, 20 + 400 - 30 + 4 + 11);
  EXPECT_GT(arrow.r, 240) << pltest::describe(arrow);
  EXPECT_GT(arrow.b, 240) << pltest::describe(arrow);

  f.left->view()->setFrame(ak::MakeRect(0, 20, 520, 40));
  EXPECT_EQ(f.left->leftSplitView()->alphaValue(), 0.0);
  f.left->view()->setFrame(ak::MakeRect(0, 20, 520, 400));
  EXPECT_EQ(f.left->leftSplitView()->alphaValue(), 1.0);
}

// Made before the pane, whose set-up reads the service's address.
struct SuggestServiceHolder {
  testsupport::FakeSuggestService suggest;
};

struct SuggestFixture : SuggestServiceHolder, LeftPaneFixture {
  SuggestFixture()
      : LeftPaneFixture([this](pltest::Sandbox& sandbox) {
          sandbox.set(kSuggestServiceURLEnvironmentKey, suggest.url());
        }) {
    suggest.answer("ca", pltest::FakeReply::json(
                             200, testsupport::FakeSuggestService::suggestionsJSON("ca", {"cats", "cars"})));
    window->makeFirstResponder(field());
  }
  void down() { pltest::key(window, ak::kVK_DownArrow, std::string("\xEF\x9C\x81")); }
  void up() { pltest::key(window, ak::kVK_UpArrow, std::string("\xEF\x9C\x80")); }
  void send() { app.dispatchQueued(); }
  bool popoverShown() const { return left->autoCompletePopover()->isVisible(); }
};

TEST(LeftPane, TypingAsksForSuggestionsOnceAndReturnSearchesTheHighlightedOne) {
  SuggestFixture f;
  pltest::typeText(f.window, "ca");
  f.send();
  EXPECT_EQ(f.left->searchAutoComplete()->query(), "ca");
  f.app.advance(0.29);
  EXPECT_TRUE(f.suggest.queries().empty());
  f.app.advance(0.02);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.popoverShown(); }));
  EXPECT_EQ(f.suggest.queries(), std::vector<std::string>{"ca"});
  EXPECT_EQ(f.left->searchAutoComplete()->suggestArray(), (std::vector<std::string>{"cats", "cars"}));
  // Centred under the field: its middle, lifted by the bottom bar and the split view.
  auto frame = f.field()->frame();
  auto popoverWindow = f.left->autoCompletePopover()->popoverWindow();
  EXPECT_TRUE(popoverWindow->isVisible());
  const double pointX = frame.origin.x + frame.size.width / 2;
  const double pointY =
      frame.origin.y + 20 + f.left->leftSplitView()->frame().size.height + frame.size.height / 2;
  const ak::Rect shownAt = popoverWindow->frame();
  EXPECT_NEAR(shownAt.origin.x + shownAt.size.width / 2, f.window->frame().origin.x + pointX, 1);
  EXPECT_NEAR(shownAt.origin.y + shownAt.size.height, f.window->frame().origin.y + pointY, 12);

  f.up();
  f.send();
  EXPECT_EQ(f.left->searchAutoComplete()->selectedRow(), 1);  // up from nothing: the last
  f.up();
  f.up();
  f.send();
  EXPECT_EQ(f.left->searchAutoComplete()->selectedRow(), -1);  // up from the first: none
  f.down();
  f.down();
  f.down();  // stays on the last
  f.send();
  EXPECT_EQ(f.left->searchAutoComplete()->selectedRow(), 1);
  EXPECT_EQ(f.left->autoCompleteTableView()->selectedRow(), 1);
  pltest::key(f.window, ak::kVK_Return, "\r");
  f.send();
  EXPECT_EQ(f.field()->stringValue(), "cars");
  auto shown = f.navigation()->getCurrentViewController();
  ASSERT_TRUE(shown);
  EXPECT_EQ(std::dynamic_pointer_cast<YTPlaylistViewController>(shown)->getDictionaryKey(),
            "search_relevance_cars");
  EXPECT_EQ(getSearchHistory()->front(), "cars");
  EXPECT_FALSE(f.left->searchAutoComplete()->enabled());
  EXPECT_EQ(f.main->calls().back(), "showLeftView(YES)");
}

TEST(LeftPane, AnEmptyReturnOnlyClosesAndTabShowsThePageTitleAgain) {
  SuggestFixture f;
  pltest::typeText(f.window, "ca");
  f.send();
  f.app.advance(0.31);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.popoverShown(); }));
  f.field()->currentEditor()->setString("");
  pltest::key(f.window, ak::kVK_Return, "\r");
  f.send();
  EXPECT_EQ(f.left->savedSearch(), "");
  EXPECT_TRUE(f.navigation()->isShowingMenu());
  EXPECT_EQ(getSearchHistory(), std::nullopt);
  f.app.advance(1);  // the fade-out
  EXPECT_FALSE(f.popoverShown());

  f.navigation()->pushViewController_animated(getPlaylistViewController("Page", "playlists", "PL1"), true);
  EXPECT_EQ(f.field()->stringValue(), "Page");
  f.window->makeFirstResponder(f.field());
  pltest::typeText(f.window, "dog");
  pltest::key(f.window, ak::kVK_Tab, "\t");
  f.send();
  EXPECT_EQ(f.field()->stringValue(), "Page");
  EXPECT_EQ(f.left->savedSearch(), "dog");
  f.window->makeFirstResponder(f.field());
  EXPECT_EQ(f.field()->stringValue(), "dog");
}

TEST(LeftPane, RunSearchOpensVideoLinksAndRunsTheHiddenCommands) {
  LeftPaneFixture f;
  pltest::ModalScript script;
  f.left->runSearchWithQuery("https://www.youtube.com/watch?v=abc_DEF-123&t=4");
  auto video =
      std::dynamic_pointer_cast<YTPlaylistViewController>(f.navigation()->getCurrentViewController());
  ASSERT_TRUE(video);
  EXPECT_EQ(video->getDictionaryKey(), "videoid_abc_DEF-123");
  EXPECT_EQ(getSearchHistory(), std::nullopt);

  script.clickAlertButton("Ok");
  f.left->runSearchWithQuery("PL:white=1");
  f.app.dispatchQueued();
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_EQ(script.shownAlerts()[0].messageText, "Please restart app!");
  EXPECT_EQ(script.shownAlerts()[0].buttons, std::vector<std::string>{"Ok"});
  EXPECT_TRUE(getBoolSetting(kWhiteButtonsKey));
  EXPECT_EQ(f.navigation()->getCurrentViewController(), video);
  EXPECT_EQ(getSearchHistory(), std::nullopt);

  f.left->runSearchWithQuery("PL:x");
  auto searched =
      std::dynamic_pointer_cast<YTPlaylistViewController>(f.navigation()->getCurrentViewController());
  EXPECT_EQ(searched->getDictionaryKey(), "search_relevance_PL:x");
  EXPECT_EQ(getSearchHistory(), std::vector<std::string>{"PL:x"});

  // The order chosen meanwhile opens another list for the same query.
  setSearchOrder("date");
  f.left->runSearchWithQuery("PL:x");
  EXPECT_NE(f.navigation()->getCurrentViewController(), searched);
}

TEST(LeftPane, TheOptionMenuOffersTheHistoryAndTheOrders) {
  LeftPaneFixture f;
  addSearchHistory("dogs");
  addSearchHistory("cats");
  setSearchOrder("date");
  auto cell = std::dynamic_pointer_cast<BlackSearchFieldCell>(f.field()->cell());
  ASSERT_TRUE(cell);
  pltest::ModalScript script;
  script.choose("channel");
  cell->searchOptionButtonClicked(nullptr);
  ASSERT_EQ(script.shown().size(), 1u);
  // A pull-down menu's first item is its hidden title.
  EXPECT_EQ(script.shown()[0].describe(),
            " (disabled)\ncats\ndogs\nclear search history\n-\nrelevance\n[x] published\nview "
            "count\nrating\n-\nplaylist\nchannel\n");
  EXPECT_EQ(getSearchOrder(), "channel");
  f.left->runSearchWithQuery("tomato");
  auto list = std::dynamic_pointer_cast<YTPlaylistViewController>(f.navigation()->getCurrentViewController());
  EXPECT_EQ(list->getDictionaryKey(), "search_channel_tomato");

  script.choose("cats");
  cell->searchOptionButtonClicked(nullptr);
  EXPECT_EQ(getSearchHistory()->front(), "cats");
  EXPECT_EQ(f.field()->stringValue(), "cats");

  setBoolSetting(kUseSearchHistoryKey, false);
  script.dismiss();
  cell->searchOptionButtonClicked(nullptr);
  EXPECT_EQ(script.shown().back().items.at(1).separator, true);
  EXPECT_EQ(script.shown().back().items.size(), 9u);
}

TEST(LeftPane, ADisabledFieldIsDrawnAtHalfOpacity) {
  LeftPaneFixture f;
  auto field = f.field();
  auto cell = field->cell();
  const auto frame = ak::MakeRect(0, 0, 200, 22);
  auto middleOf = [&](bool enabled) {
    pltest::Canvas canvas(200, 22, true);
    canvas.clear({255, 255, 255, 255});
    cell->setEnabled(enabled);
    cell->drawWithFrame_inView(frame, field);
    return canvas.at(100, 11);
  };
  auto enabled = middleOf(true);
  auto disabled = middleOf(false);
  EXPECT_LT(enabled.r, 80) << pltest::describe(enabled);
  // Half of the dark bar over white.
  EXPECT_NEAR(disabled.r, (enabled.r + 255) / 2, 6) << pltest::describe(disabled);
}

TEST(LeftPane, TheCurrentPlaylistButtonLightsWhileThePlayingListIsOnShow) {
  LeftPaneFixture f;
  auto list = getPlaylistViewController("Mine", "playlists", "PL1");
  auto other = getPlaylistViewController("Other", "playlists", "PL2");
  list->setCellArray(browse_test::numberedRows(20));
  f.navigation()->pushViewController_animated(list, true);
  list->playAtIndex(10);
  auto button = f.left->currentPlaylistBtn();
  EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(button->image(), ak::Image::imageNamed("current_playlist_button_highlighted"));
  EXPECT_EQ(button->alternateImage(), ak::Image::imageNamed("current_playlist_button_highlighted_pressed"));
  EXPECT_EQ(button->state(), ak::OnState);

  f.navigation()->pushViewController_animated(other, true);
  EXPECT_EQ(button->image(), ak::Image::imageNamed("current_playlist_button"));
  EXPECT_EQ(button->alternateImage(), ak::Image::imageNamed("current_playlist_button_pressed"));
  EXPECT_EQ(button->state(), ak::OffState);

  button->performClick(nullptr);  // pushes the playing list
  EXPECT_EQ(f.navigation()->getCurrentViewController(), list);
  EXPECT_EQ(button->state(), ak::OnState);
  EXPECT_EQ(f.window->firstResponder(), list->tableView());

  list->tableView()->reloadData();
  list->scrollView()->contentView()->scrollToPoint(ak::Point{0, 0});
  button->performClick(nullptr);  // on show: scrolls to the playing row
  EXPECT_GT(list->scrollView()->contentView()->bounds().origin.y, 600);
  EXPECT_EQ(f.navigation()->getCurrentViewController(), list);
}

}  // namespace

namespace {

TEST(LeftPane, TheBarFollowsTheNavigation) {
  LeftPaneFixture f;
  auto x = getPlaylistViewController("X", "playlists", "PLX");
  auto y = getPlaylistViewController("Y", "playlists", "PLY");
  f.navigation()->pushViewController_animated(x, true);
  f.navigation()->pushViewController_animated(y, true);
  EXPECT_TRUE(f.left->backBtn()->isEnabled());
  EXPECT_FALSE(f.left->forwardBtn()->isEnabled());
  EXPECT_EQ(f.field()->stringValue(), "Y");
  EXPECT_EQ(f.left->getVisiblePlaylistViewController(), y);

  f.main->clearCalls();
  f.left->backBtn()->performClick(nullptr);
  EXPECT_EQ(f.main->calls(), std::vector<std::string>{"showLeftView(YES)"});
  EXPECT_EQ(f.field()->stringValue(), "X");
  EXPECT_TRUE(f.left->forwardBtn()->isEnabled());
  EXPECT_EQ(f.window->firstResponder(), x->tableView());
  f.left->backBtn()->performClick(nullptr);
  EXPECT_EQ(f.field()->stringValue(), "");
  EXPECT_EQ(f.left->getVisiblePlaylistViewController(), nullptr);
  EXPECT_FALSE(f.left->backBtn()->isEnabled());
  f.left->forwardBtn()->performClick(nullptr);
  EXPECT_EQ(f.left->getVisiblePlaylistViewController(), x);

  // What the library calls of the browsing interface reaches the same pane.
  auto browsing = browsingInterface();
  ASSERT_TRUE(browsing);
  EXPECT_EQ(browsing->getVisiblePlaylistViewController(), x);
  browsing->setNavigationTitle("Renamed");
  EXPECT_EQ(f.field()->stringValue(), "Renamed");
  EXPECT_EQ(f.navigation()->currentTitle(), "Renamed");
  auto z = browsing->getPlaylistViewController("Z", "playlists", "PLZ");
  browsing->pushViewController_animated(z, true);
  EXPECT_EQ(f.left->getVisiblePlaylistViewController(), z);
  browsing->setCurrentPlaylist(z);
  EXPECT_EQ(currentPlaylistController(), z);
  ASSERT_NE(f.left->menuViewController(), nullptr);
  EXPECT_EQ(browsing->menuViewController(),
            std::static_pointer_cast<IMenuViewController>(f.left->menuViewController()));
}

}  // namespace

namespace {

TEST(LeftPane, TheSourceListCollapsesAndTheMiniPlayerShowsThePlayingList) {
  LeftPaneFixture f;
  EXPECT_FALSE(f.left->treeCollapsed());
  f.left->collapseTree(false);
  EXPECT_TRUE(f.left->treeCollapsed());
  f.left->collapseTree(false);  // already collapsed: stays so
  EXPECT_TRUE(f.left->treeCollapsed());
  f.left->uncollapseTree(false);
  EXPECT_FALSE(f.left->treeCollapsed());

  EXPECT_FALSE(f.left->showCurrentPlaylistForMiniPlayer());
  auto list = getPlaylistViewController("Mine", "playlists", "PL1");
  list->setCellArray(browse_test::numberedRows(2));
  list->playAtIndex(0);
  browse_test::PostCounter changes(kCurrentPlaylistChangedNotification);
  EXPECT_TRUE(f.left->showCurrentPlaylistForMiniPlayer());
  EXPECT_EQ(f.navigation()->getCurrentViewController(), list);
  EXPECT_EQ(changes.count(), 1);

  pltest::ModalScript script;
  script.clickAlertButton("Cancel");
  f.left->onRefreshBtn(nullptr);
  f.app.dispatchQueued();
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_EQ(script.shownAlerts()[0].messageText, "refresh not implemented");
  EXPECT_TRUE(script.shownAlerts()[0].sheet);
}

}  // namespace
