// The list panes: the registry, the bottom bar and its controls by request type, the search
// order, the subscribe button against the account cache and the fake Data API, and the refresh
// button's spin on the virtual clock.
#include <gtest/gtest.h>

#include <cmath>

#include "app/browse/PelNavigationController.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/library/LibraryNotifications.h"
#include "common/AppUtilities.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/IndexSet.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "ui/MyNSView.h"

namespace {

using browse_test::BrowseFixture;

ns::Ref<YTPlaylistViewController> shownIn(const ns::Ref<ak::Window>& window,
                                          const ns::Ref<YTPlaylistViewController>& list) {
  auto view = list->view();
  view->setFrame(window->contentView()->bounds());
  window->contentView()->addSubview(view);
  return list;
}

void selectRow(const ns::Ref<YTPlaylistViewController>& list, long row) {
  list->tableView()->selectRowIndexes_byExtendingSelection(
      *ns::IndexSet::indexSetWithIndex(static_cast<std::size_t>(row)), false);
}

TEST(ListRegistry, OneControllerPerListKeptAsTheAccountsOwnWhenFirstOpenedSo) {
  BrowseFixture f;
  EXPECT_EQ(findPlaylistViewController("playlists_PL1"), nullptr);
  EXPECT_EQ(getExistingPlaylistViewController("playlists", "PL1"), nullptr);
  auto mine = getPlaylistViewController("Mine", "playlists", "PL1");
  auto found = getPlaylistViewController("Found", "others_playlists", "PL1");
  EXPECT_EQ(mine, found);
  EXPECT_TRUE(found->isMyPlaylist());
  EXPECT_EQ(found->title(), "Mine");
  EXPECT_EQ(found->myPlaylistName(), "Mine");
  EXPECT_EQ(findPlaylistViewController("playlists_PL1"), mine);
  EXPECT_EQ(mine->getDictionaryKey(), "playlists_PL1");

  auto other = getPlaylistViewController("Found", "others_playlists", "PL2");
  EXPECT_EQ(other->requestType(), "playlists");
  EXPECT_FALSE(other->isMyPlaylist());
  EXPECT_EQ(getExistingPlaylistViewController("playlists", "PL2"), other);

  auto single = getVideoIdPlaylistViewController("abc", false);
  EXPECT_EQ(single->requestType(), "videoid");
  EXPECT_EQ(single->title(), "abc");
  single->setCellArray(browse_test::numberedRows(1));
  EXPECT_EQ(getVideoIdPlaylistViewController("abc", false), single);
  EXPECT_TRUE(f.player->calls().empty());
  EXPECT_EQ(getVideoIdPlaylistViewController("abc", true), single);
  EXPECT_EQ(f.player->lastRow()->videoid(), "v0");
  EXPECT_EQ(currentPlaylistController(), single);
}

TEST(ListPane, BelowItsLastRowTheListShowsItsScrollViewsGrey) {
  BrowseFixture f;
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 370), ak::BorderlessWindowMask);
  auto list = shownIn(window, getPlaylistViewController("Two rows", "feed_grey", "grey"));
  list->setCellArray(browse_test::numberedRows(2));
  auto table = list->tableView();
  table->reloadData();
  ASSERT_EQ(table->numberOfRows(), 2);
  // The table is see-through; the grey is the scroll view's.
  const ak::Rect last = table->rectOfRow(1);
  const ak::Point below = table->convertPoint_toView({100, ak::MaxY(last) + 20}, nullptr);
  auto scroll = list->scrollView();
  ASSERT_TRUE(ak::PointInRect(below, scroll->convertRect_toView(scroll->bounds(), nullptr)));
  pltest::renderWindow(window, "two-rows");
  EXPECT_EQ(pltest::describe(pltest::windowPixel(window, below.x, below.y)),
            pltest::describe({50, 50, 50, 255}));
}

TEST(ListPane, AChannelSearchShowsItsOrderAndTallSingleRowsOverTheBottomBar) {
  BrowseFixture f;
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 370), ak::BorderlessWindowMask);
  auto list = shownIn(window, getPlaylistViewController("tomato", "search_channel", "tomato"));
  EXPECT_EQ(list->searchOrderBtn()->indexOfSelectedItem(), 6);
  EXPECT_FALSE(list->searchOrderBtn()->isHidden());
  EXPECT_TRUE(list->subscribeBtn()->isHidden());
  // Without a Data API service the search's fetch ends at once and gives the button back.
  EXPECT_FALSE(list->isFetching());
  EXPECT_FALSE(list->isVideoResult());
  EXPECT_EQ(list->tableView_heightOfRow(nullptr, 0), 120.0);
  EXPECT_FALSE(list->tableView()->allowsMultipleSelection());
  const double bar = list->bottomView()->frame().size.height;
  EXPECT_EQ(list->bottomView()->frame(), ak::MakeRect(0, 0, 360, bar));
  EXPECT_EQ(list->scrollView()->frame(), ak::MakeRect(0, bar, 360, 370 - bar));
  EXPECT_EQ(list->bottomView()->autoresizingMask(), unsigned(ak::ViewWidthSizable));

  pltest::renderWindow(window, "channel-search");
  // Left of the refresh button the bar shows "navbottombar" row by row.
  auto image = ak::Image::imageNamed("navbottombar");
  ASSERT_TRUE(image);
  for (double y : {2.0, bar / 2, bar - 3}) {
    auto expected = image->colorAtX_y(0, static_cast<std::size_t>(bar - 1 - y));
    auto seen = pltest::windowPixel(window, 2, y + 0.5);
    EXPECT_NEAR(seen.r, expected.r, 12) << "y " << y;
    EXPECT_NEAR(seen.g, expected.g, 12) << "y " << y;
  }

  // A list of videos and one of the account's playlists show other controls.
  auto videos = getPlaylistViewController("cats", "search_relevance", "cats");
  videos->view();
  EXPECT_TRUE(videos->isVideoResult());
  EXPECT_TRUE(videos->tableView()->allowsMultipleSelection());
  EXPECT_EQ(videos->tableView_heightOfRow(nullptr, 0), 83.0);
  auto playlist = getPlaylistViewController("Mine", "playlists", "PL1");
  playlist->view();
  EXPECT_TRUE(playlist->searchOrderBtn()->isHidden());
  EXPECT_TRUE(playlist->subscribeBtn()->isHidden());
  EXPECT_TRUE(playlist->refreshBtn()->isEnabled());
}

TEST(ListPane, SelectingAChannelOpensItsUploadsAndClearsTheSelection) {
  BrowseFixture f;
  auto navigation = ns::make<PelNavigationController>();
  navigation->init(std::string("PelNavigationController"));
  navigation->view();
  auto list = getPlaylistViewController("tomato", "search_channel", "tomato");
  navigation->pushViewController_animated(list, true);
  auto rows = browse_test::searchRows("search-2.json", true);
  ASSERT_EQ(rows.size(), 1u);
  list->setCellArray(rows);
  list->tableView()->reloadData();
  selectRow(list, 0);
  auto uploads = getExistingPlaylistViewController("subscriptions", "UUHroTZTdUNXeZOWypt4Akvw");
  ASSERT_TRUE(uploads);
  EXPECT_EQ(navigation->getCurrentViewController(), uploads);
  EXPECT_EQ(uploads->title(), rows[0]->title());
  EXPECT_EQ(list->tableView()->numberOfSelectedRows(), 0);

  // A channel id too short for its prefix opens nothing.
  auto broken = SearchEntry::init();
  broken->setChannelid("U");
  list->setCellArray({broken});
  list->tableView()->reloadData();
  selectRow(list, 0);
  EXPECT_EQ(navigation->getCurrentViewController(), uploads);
  EXPECT_EQ(list->tableView()->numberOfSelectedRows(), 0);
}

TEST(ListPane, ChangingTheOrderMovesTheListToItsNewKey) {
  BrowseFixture f;
  auto list = getPlaylistViewController("cats", "search_relevance", "cats");
  list->view();
  list->setCellArray(browse_test::numberedRows(3));
  auto order = list->searchOrderBtn();
  EXPECT_EQ(order->indexOfSelectedItem(), 0);

  order->selectItemAtIndex(1);
  list->onSearchOrderChanged(order);
  EXPECT_EQ(list->requestType(), "search_date");
  EXPECT_EQ(getSearchOrder(), "date");
  EXPECT_TRUE(list->cellArray().empty());
  EXPECT_EQ(findPlaylistViewController("search_date_cats"), list);
  EXPECT_EQ(findPlaylistViewController("search_relevance_cats"), nullptr);

  // The order on show again changes nothing.
  setSearchOrder("viewcount");
  list->setCellArray(browse_test::numberedRows(2));
  list->onSearchOrderChanged(order);
  EXPECT_EQ(getSearchOrder(), "viewcount");
  EXPECT_EQ(list->cellArray().size(), 2u);

  order->selectItemAtIndex(5);
  list->onSearchOrderChanged(order);
  EXPECT_EQ(list->requestType(), "search_playlist");
  EXPECT_EQ(list->tableView_heightOfRow(nullptr, 0), 120.0);
  EXPECT_FALSE(list->tableView()->allowsMultipleSelection());
  order->selectItemAtIndex(0);
  list->onSearchOrderChanged(order);
  EXPECT_EQ(list->getDictionaryKey(), "search_relevance_cats");
  EXPECT_EQ(list->tableView_heightOfRow(nullptr, 0), 83.0);
  EXPECT_TRUE(list->tableView()->allowsMultipleSelection());
  EXPECT_EQ(getSearchOrder(), "relevance");
}

TEST(ListPane, TheRefreshButtonTurnsWhileAFetchRuns) {
  BrowseFixture f;
  auto list = getPlaylistViewController("Mine", "playlists", "PL1");
  list->view();
  auto refresh = list->refreshBtn();
  list->animateRefreshBtn();
  EXPECT_FALSE(refresh->isEnabled());
  ASSERT_TRUE(refresh->layer());
  EXPECT_EQ(refresh->layer()->anchorPoint(), (ak::Point{0.5, 0.45}));
  f.app.advance(0.25);
  EXPECT_NEAR(refresh->layer()->presentationRotation(), -M_PI / 2, 0.01);
  f.app.advance(1.0);  // it keeps turning
  EXPECT_NEAR(refresh->layer()->presentationRotation(), -M_PI / 2, 0.01);
  list->stopRefreshBtn();
  EXPECT_TRUE(refresh->isEnabled());
  EXPECT_FALSE(refresh->wantsLayer());
}

TEST(ListPane, ReloadSkipsSearchesAndRunningFetchesAndRemembersThePlayingVideo) {
  BrowseFixture f;
  pltest::LogCapture log(true);
  auto search = getPlaylistViewController("cats", "search_relevance", "cats");
  search->reloadList();
  EXPECT_TRUE(log.contains("Reload List"));
  auto list = getPlaylistViewController("Mine", "playlists", "PL1");
  list->setIsFetching(true);
  list->reloadList();
  EXPECT_TRUE(log.contains("already fetching..."));
  list->setIsFetching(false);
  list->setCellArray(browse_test::numberedRows(2));
  list->playAtIndex(1);
  f.player->setVideoId("v1");
  list->reloadList();
  EXPECT_EQ(list->nowPlayingVideoIdForReload(), "v1");
  search->setCellArray(browse_test::numberedRows(1));
  search->playAtIndex(0);
  list->reloadList();
  EXPECT_EQ(list->nowPlayingVideoIdForReload(), std::nullopt);
}

TEST(ListPane, TheSubscribeButtonFollowsTheAccountsSubscriptions) {
  BrowseFixture f;
  f.app.sandbox().set(kGoogleAPIURLEnvironmentKey, std::nullopt);
  testsupport::FakeDataAPI api;
  api.serveAsAPIHost();
  auto service = ns::make<ApiServiceYouTube>();
  f.setAnswers([&](auto& answers) { answers.youTubeService = service; });
  const std::string uploads = "UUb--64Gl51jIEVE-GLDAVTg";
  api.seed("subscriptions", {R"({"kind": "youtube#subscription", "id": "SUB1", "snippet": {"title": "C-SPAN",
      "resourceId": {"kind": "youtube#channel", "channelId": "UCb--64Gl51jIEVE-GLDAVTg"}}})"});
  f.account->subscriptionsArray().push_back(ns::Value(ns::Array{uploads, "C-SPAN", "SUB1"}));

  auto list = getPlaylistViewController("C-SPAN", "subscriptions", uploads);
  list->view();
  auto button = list->subscribeBtn();
  EXPECT_FALSE(button->isHidden());
  EXPECT_TRUE(list->searchOrderBtn()->isHidden());
  EXPECT_EQ(button->title(), "Unsubscribe");
  EXPECT_EQ(button->tag(), 0);

  button->performClick(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return button->title() == "Subscribe"; }, 30));
  EXPECT_EQ(button->tag(), 1);
  ASSERT_EQ(api.callsOf("youtube.subscriptions.delete").size(), 1u);
  EXPECT_EQ(api.callsOf("youtube.subscriptions.delete")[0].params["id"], ns::Value("SUB1"));

  button->performClick(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return button->title() == "Unsubscribe"; }, 30));
  auto inserts = api.callsOf("youtube.subscriptions.insert");
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(inserts[0].params["resource"]["snippet"]["resourceId"]["channelId"],
            ns::Value("UCb--64Gl51jIEVE-GLDAVTg"));
  api.release();
}

}  // namespace
