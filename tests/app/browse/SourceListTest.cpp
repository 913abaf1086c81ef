// The source list of the left pane: its tree built from the account cache and the library store,
// what selecting a row opens, the marking of the list on show, and the badges.
#include <gtest/gtest.h>

#include <cmath>

#include "app/browse/LeftViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/MyOutlineView.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/TreeCellViews.h"
#include "app/library/DBAccess.h"
#include "common/AppUtilities.h"
#include "common/IBrowsingInterface.h"
#include "lib/net/Reachability.h"
#include "platform/appkit/Animation.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "ui/SourceList.h"

namespace {

constexpr char kCode[] = "PLBfwD_NnDB3qXSVqBIJ7CCL5jUgXMyiVo";

// The account's playlists as the account cache keeps them: [id, title, item count].
ns::Array fixturePlaylists(const std::string& fixture) {
  ns::Value reply = ns::JSONSerialization::JSONObjectWithString(googletest::fixtureText(fixture));
  ns::Array entries;
  for (const ns::Value& item : reply["items"].array())
    entries.push_back(
        ns::Value(ns::Array{item["id"], item["snippet"]["title"], item["contentDetails"]["itemCount"]}));
  return entries;
}

std::vector<std::string> titles(const ns::Ref<MenuItem>& section) {
  std::vector<std::string> out;
  for (const auto& child : section->children()) out.push_back(child->title());
  return out;
}

ns::Ref<MenuItem> childNamed(const ns::Ref<MenuItem>& section, const std::string& title) {
  for (const auto& child : section->children())
    if (child->title() == title) return child;
  return nullptr;
}

struct SourceListFixture : browse_test::BrowseFixture {
  // `prepare` runs before the pane is made: it may sign out, store counts or groups.
  explicit SourceListFixture(const std::function<void(SourceListFixture&)>& prepare = {}) {
    if (prepare) prepare(*this);
    std::tie(window, left) = showLeftPane(ak::MakeRect(0, 0, 520, 620), ak::MakeRect(0, 20, 520, 600));
    menu = left->menuViewController();
  }
  // Stores the special lists' ids and counts the way a previous run left them, and loads them.
  void storeSpecials() {
    auto disk = AccountCache::diskCache();
    disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{"FLme", "WLme", "HLme", "LLme", "UUme"}),
                                               account->cacheKey("links"), 60);
    disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{1, 2, 0, 4, 5}),
                                               account->cacheKey("linksItemCount"), 60);
    disk->synchronize();
    account->loadCache();
  }
  void loadPlaylists() {
    account->playlistsArray() = fixturePlaylists("playlists-2.json");
    menu->updatePlaylists();
  }
  ns::Ref<SourceList> outline() const { return menu->sourceList(); }
  ns::Ref<MenuItem> selectedNode() const {
    return std::dynamic_pointer_cast<MenuItem>(outline()->itemAtRow(outline()->selectedRow()));
  }
  void selectNode(const ns::Ref<MenuItem>& node) {
    long row = outline()->rowForItem(node);
    ASSERT_GE(row, 0) << node->title();
    outline()->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(row), false);
  }
  ns::Ref<MenuItem> nodeNamed(const std::string& title) const {
    for (const auto& section : menu->sourceListItems()) {
      if (section->title() == title) return section;
      for (const auto& child : section->children())
        if (child->title() == title) return child;
    }
    return nullptr;
  }
  // The view showing the node's row (made when the row is off screen).
  ns::Ref<TreeItemCellView> cellOf(const ns::Ref<MenuItem>& node) const {
    long row = node ? outline()->rowForItem(node) : -1;
    return std::dynamic_pointer_cast<TreeItemCellView>(
        outline()->viewAtColumn_row_makeIfNecessary(0, row, true));
  }
  ns::Ref<PelNavigationController> navigation() const { return left->navigationController(); }
  ns::Ref<YTPlaylistViewController> shown() const { return left->getVisiblePlaylistViewController(); }

  ns::Ref<ak::Window> window;
  ns::Ref<LeftViewController> left;
  ns::Ref<MenuViewController> menu;
};

TEST(SourceList, SignedOutOnlyTheLoginItemShows) {
  SourceListFixture f([](SourceListFixture& f) { f.main->setAccountCache(nullptr); });
  ASSERT_NE(f.menu, nullptr);
  EXPECT_EQ(f.menu->view()->superview(), f.left->menuView());
  auto sections = f.menu->sourceListItems();
  ASSERT_EQ(sections.size(), 4u);
  EXPECT_EQ(sections[0]->title(), "SPECIAL");
  EXPECT_EQ(titles(sections[0]), std::vector<std::string>{"Login"});
  EXPECT_EQ(sections[0]->children()[0]->itemtype(), "login");
  EXPECT_FALSE(sections[0]->children()[0]->hasBadge());
  for (std::size_t i = 1; i < sections.size(); ++i) EXPECT_FALSE(sections[i]->hasChildren()) << i;
  EXPECT_EQ((std::vector<std::string>{sections[1]->identifier(), sections[2]->identifier(),
                                      sections[3]->identifier()}),
            (std::vector<std::string>{"playlists", "subscriptions", "feeds"}));

  // Selecting "Login" starts the sign-in flow once and opens no list.
  f.main->clearCalls();
  f.selectNode(sections[0]->children()[0]);
  EXPECT_EQ(f.main->calls(), std::vector<std::string>{"signInClicked"});
  EXPECT_EQ(f.shown(), nullptr);
}

TEST(SourceList, BelowItsLastRowTheScrollViewsDarkBlueShows) {
  SourceListFixture f([](SourceListFixture& f) { f.main->setAccountCache(nullptr); });
  auto outline = f.outline();
  auto scroll = ak::enclosingScrollView(outline.get());
  ASSERT_NE(scroll, nullptr);
  ASSERT_NE(scroll->backgroundColor(), nullptr);
  // The outline is see-through: the scroll view's colour shows under and below the rows.
  EXPECT_EQ(outline->backgroundColor(), ak::colors::clearColor());
  const ak::Rect last = outline->rectOfRow(outline->numberOfRows() - 1);
  const ak::Point below = outline->convertPoint_toView({40, ak::MaxY(last) + 20}, nullptr);
  ASSERT_TRUE(ak::PointInRect(below, scroll->convertRect_toView(scroll->bounds(), nullptr)));
  pltest::renderWindow(f.window, "below-the-rows");
  EXPECT_EQ(pltest::describe(pltest::windowPixel(f.window, below.x, below.y)),
            pltest::describe({20, 25, 30, 255}));
}

TEST(SourceList, SignedInTheTreeHoldsTheSpecialListsAndThePlaylistsByGroup) {
  std::string loose = "PLBfwD_NnDB3rpo3Ar-VbnKpl7HyW6k4rw";
  SourceListFixture f([&](SourceListFixture& f) {
    f.storeSpecials();
    auto store = DBAccess::getInstance();
    for (const char* name : {"Alpha", "Beta", "Gamma"}) store->addPlaylistGroup(name);
    store->addPlaylistGroupEntry_groupId_notify(kCode, f.groupId("Gamma"), false);
    // Filed in a group that no longer exists.
    store->addPlaylistGroupEntry_groupId_notify(loose, 99, false);
  });
  f.loadPlaylists();
  auto special = f.menu->libraryItem();
  EXPECT_EQ(titles(special), (std::vector<std::string>{"Favorites", "Likes", "Uploads", "Watch Later",
                                                       "Watch History", "New Videos", "Cached Videos"}));
  std::vector<std::int64_t> badges;
  for (const auto& child : special->children()) badges.push_back(child->badgeValue());
  EXPECT_EQ(badges, (std::vector<std::int64_t>{1, 4, 5, 2, 0, -1, -1}));

  auto sections = f.menu->sourceListItems();
  std::vector<std::string> sectionTitles;
  for (const auto& section : sections) sectionTitles.push_back(section->title());
  EXPECT_EQ(sectionTitles, (std::vector<std::string>{"SPECIAL", "PLAYLISTS", "Alpha", "Beta", "Gamma",
                                                     "SUBSCRIPTIONS", "FROM YOUTUBE"}));
  auto gamma = f.menu->groupItem(f.groupId("Gamma"));
  ASSERT_NE(gamma, nullptr);
  EXPECT_EQ(gamma->identifier(), "group_" + std::to_string(f.groupId("Gamma")));
  EXPECT_EQ(titles(gamma), std::vector<std::string>{"Code"});
  EXPECT_EQ(gamma->children()[0]->parent(), gamma);

  auto playlists = titles(f.menu->playlistsItem());
  ASSERT_EQ(playlists.size(), 22u);
  EXPECT_EQ(std::vector<std::string>(playlists.begin(), playlists.begin() + 3),
            (std::vector<std::string>{"1club", "calesthenics-now-offline", "downlload1"}));
  auto empty = childNamed(f.menu->playlistsItem(), "end month, movies download");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->badgeValue(), 0);
  bool looseUnderPlaylists = false;
  for (const auto& child : f.menu->playlistsItem()->children())
    looseUnderPlaylists |= child->identifier() == loose;
  EXPECT_TRUE(looseUnderPlaylists);
  // The account cache's array is sorted in place, ignoring case.
  EXPECT_EQ(f.account->playlistsArray()[2][1].string(), "Code");

  // Sections never stored open expanded (those with rows to show); a collapsed one stays so
  // after a rebuild.
  for (const auto& section : {special, f.menu->playlistsItem(), gamma})
    EXPECT_TRUE(f.outline()->isItemExpanded(section)) << section->title();
  f.outline()->collapseItem(gamma);
  EXPECT_FALSE(DBAccess::getInstance()->isMenuExpanded(gamma->identifier()));
  f.menu->refresh();
  f.menu->updatePlaylists();
  EXPECT_FALSE(f.outline()->isItemExpanded(f.menu->groupItem(f.groupId("Gamma"))));
  EXPECT_TRUE(f.outline()->isItemExpanded(f.menu->playlistsItem()));
}

TEST(SourceList, EntriesTooShortOrOfAnotherTypeAreSkippedOrReadAsZero) {
  SourceListFixture f;
  f.account->playlistsArray() = {
      ns::Value(ns::Array{"P1", "b", "7"}), ns::Value(ns::Array{"P2", "A"}),
      ns::Value(ns::Array{"P3"}),           ns::Value("loose"),
      ns::Value(ns::Array{"P4", 5, 3}),     ns::Value(ns::Array{"P5", "c", ns::Array{}})};
  f.account->subscriptionsArray() = {ns::Value(ns::Array{"UU1", "Zed", "s1", 1, 0}),
                                     ns::Value(ns::Array{"UU2", "amy", "s2", 1, 12}),
                                     ns::Value(ns::Array{"UU3"})};
  f.account->feedsArray() = {ns::Value(ns::Array{"10", "Music"}), ns::Value(ns::Array{7, "Bad"}),
                             ns::Value(ns::Array{"30", "News", "n", 1, 9})};
  f.menu->updatePlaylists();
  f.menu->updateSubscriptions();
  f.menu->updateFeeds();
  EXPECT_EQ(titles(f.menu->playlistsItem()), (std::vector<std::string>{"A", "b", "c"}));
  std::vector<std::int64_t> badges;
  for (const auto& child : f.menu->playlistsItem()->children()) badges.push_back(child->badgeValue());
  EXPECT_EQ(badges, (std::vector<std::int64_t>{-1, 7, 0}));
  EXPECT_EQ(titles(f.menu->subscriptionsItem()), (std::vector<std::string>{"amy", "Zed"}));
  EXPECT_EQ(f.menu->subscriptionsItem()->children()[0]->badgeValue(), 12);
  EXPECT_FALSE(f.menu->subscriptionsItem()->children()[1]->hasBadge());
  EXPECT_EQ(titles(f.menu->feedsItem()), (std::vector<std::string>{"Music", "News"}));
  // Feeds carry no badge, whatever their entry holds.
  EXPECT_FALSE(f.menu->feedsItem()->children()[1]->hasBadge());
  EXPECT_EQ(f.menu->subscriptionsItem()->children()[0]->itemtype(), "subscriptions");
  EXPECT_EQ(f.menu->feedsItem()->children()[0]->itemtype(), "feeds");
}

TEST(SourceList, SelectingARowOpensItsList) {
  SourceListFixture f([](SourceListFixture& f) { f.storeSpecials(); });
  f.loadPlaylists();
  f.account->feedsArray() = {ns::Value(ns::Array{"10", "Music"})};
  f.menu->updateFeeds();

  f.selectNode(childNamed(f.menu->libraryItem(), "Favorites"));
  ASSERT_NE(f.shown(), nullptr);
  EXPECT_EQ(f.shown()->requestType(), "playlists");
  EXPECT_EQ(f.shown()->requestId(), "FLme");
  EXPECT_EQ(f.shown()->myPlaylistType(), "favorites");
  // The list on show keeps its row selected.
  EXPECT_EQ(f.selectedNode()->title(), "Favorites");

  f.selectNode(childNamed(f.menu->feedsItem(), "Music"));
  EXPECT_EQ(f.shown()->requestType(), "feed");
  EXPECT_EQ(f.shown()->requestId(), "10");

  f.selectNode(childNamed(f.menu->libraryItem(), "Cached Videos"));
  EXPECT_EQ(f.shown()->requestType(), "cachedvideos");

  f.selectNode(childNamed(f.menu->playlistsItem(), "1club"));
  EXPECT_EQ(f.shown()->requestType(), "playlists");
  auto club = f.shown();

  // Two rows, or a heading, open nothing.
  auto set = ns::MutableIndexSet::indexSet();
  set->addIndex(f.outline()->rowForItem(childNamed(f.menu->playlistsItem(), "downlload1")));
  set->addIndex(f.outline()->rowForItem(childNamed(f.menu->feedsItem(), "Music")));
  ns::LogCapture log(true);
  f.main->clearCalls();
  f.outline()->selectRowIndexes_byExtendingSelection(*set, false);
  EXPECT_TRUE(log.contains("(multiple selected)"));
  EXPECT_EQ(f.shown(), club);
  f.menu->sourceListSelectionDidChange(nullptr);
  EXPECT_EQ(f.shown(), club);
  EXPECT_EQ(f.main->calls(), std::vector<std::string>{});
}

TEST(SourceList, ASpecialListWithoutItsIdOpensNothing) {
  SourceListFixture f;
  ns::LogCapture log(true);
  f.selectNode(childNamed(f.menu->libraryItem(), "Favorites"));
  EXPECT_TRUE(log.contains("Unknown playlist for 'favorites'"));
  EXPECT_EQ(f.shown(), nullptr);
  EXPECT_EQ(f.menu->requestIdForSpecial("other"), std::nullopt);
}

TEST(SourceList, TheListOnShowIsMarkedAndExpandsItsGroupOnlyWhenScrolling) {
  SourceListFixture f([](SourceListFixture& f) {
    auto store = DBAccess::getInstance();
    store->addPlaylistGroup("Gamma");
    store->addPlaylistGroupEntry_groupId_notify(kCode, f.groupId("Gamma"), false);
    store->setMenuExpanded_expanded("group_" + std::to_string(f.groupId("Gamma")), false);
  });
  f.loadPlaylists();
  auto gamma = f.menu->groupItem(f.groupId("Gamma"));
  ASSERT_FALSE(f.outline()->isItemExpanded(gamma));

  // Without scrolling the group stays closed and nothing is selected.
  f.menu->selectItemType_withId_scrollTo("playlists", kCode, false);
  EXPECT_FALSE(f.outline()->isItemExpanded(gamma));
  EXPECT_EQ(f.outline()->numberOfSelectedRows(), 0);
  // Showing the list marks it with scrolling.
  auto code = getPlaylistViewController("Code", "playlists", kCode);
  f.navigation()->pushViewController_animated(code, false);
  EXPECT_TRUE(pltest::drainMode());
  EXPECT_TRUE(f.outline()->isItemExpanded(gamma));
  EXPECT_TRUE(DBAccess::getInstance()->isMenuExpanded(gamma->identifier()));
  EXPECT_EQ(f.selectedNode()->identifier(), kCode);

  // A search list has no row; going back marks the previous list again.
  auto search = getPlaylistViewController("cats", "search", "cats");
  f.navigation()->pushViewController_animated(search, false);
  EXPECT_TRUE(pltest::drainMode());
  EXPECT_EQ(f.outline()->numberOfSelectedRows(), 0);
  f.navigation()->goBack();
  EXPECT_TRUE(pltest::drainMode());
  ASSERT_NE(f.selectedNode(), nullptr);
  EXPECT_EQ(f.selectedNode()->identifier(), kCode);
  // Every navigation gives the keyboard to the source list.
  EXPECT_EQ(f.window->firstResponder(), f.outline());
}

TEST(SourceList, BadgesFollowTheAccountsEdits) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"P1", "One", 7}), ns::Value(ns::Array{"P2", "Two"})};
  f.menu->updatePlaylists();
  f.menu->updatePlaylist_itemCountPlus("P1", 1);
  f.menu->updatePlaylist_itemCountPlus("P2", 1);
  EXPECT_EQ(childNamed(f.menu->playlistsItem(), "One")->badgeValue(), 8);
  EXPECT_FALSE(childNamed(f.menu->playlistsItem(), "Two")->hasBadge());
  // The rows show the count; a row without a badge shows none.
  EXPECT_EQ(f.cellOf(childNamed(f.menu->playlistsItem(), "One"))->countTextField()->stringValue(), "8");
  EXPECT_EQ(f.cellOf(childNamed(f.menu->playlistsItem(), "Two"))->countTextField()->stringValue(), "");
  // Through the library's interface too.
  browsingInterface()->menuViewController()->updatePlaylist_itemCountPlus("P1", -2);
  EXPECT_EQ(childNamed(f.menu->playlistsItem(), "One")->badgeValue(), 6);
}

TEST(SourceList, TheRefreshButtonSpinsUntilTheSubscriptionsOrFeedsArrive) {
  SourceListFixture f;
  auto button = f.menu->refreshBtn();
  ASSERT_NE(button, nullptr);
  for (const char* arrival : {"updateSubscriptions", "updateFeeds"}) {
    ns::LogCapture log(true);
    button->performClick(nullptr);
    EXPECT_FALSE(button->isEnabled());
    ASSERT_TRUE(button->wantsLayer());
    auto spin = button->layer()->animationForKey("spin");
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->keyPath(), "transform.rotation.z");
    EXPECT_EQ(spin->repeatCount(), HUGE_VALF);
    // Other lists arriving leave it spinning.
    postNotification("updatePlaylists");
    EXPECT_FALSE(button->isEnabled());
    // Turned part of the way when the lists arrive; then at rest, unturned.
    f.app.advance(0.3);
    EXPECT_NE(button->layer()->presentationRotation(), 0.0);
    postNotification(arrival);
    EXPECT_TRUE(button->isEnabled()) << arrival;
    EXPECT_FALSE(button->wantsLayer()) << arrival;
    EXPECT_EQ(button->layer()->rotation(), 0.0) << arrival;
    EXPECT_EQ(button->layer()->presentationRotation(), 0.0) << arrival;
  }
  // The library reaches the same refresh through the browsing interface.
  auto hooked = browsingInterface() ? browsingInterface()->menuViewController() : nullptr;
  ASSERT_NE(hooked, nullptr);
  hooked->refreshAccountInfoFromNetwork();
  EXPECT_FALSE(button->isEnabled());
  postNotification("updateSubscriptions");
  EXPECT_TRUE(button->isEnabled());
}

TEST(SourceList, OfflineOnlyListsWithAStoredCopyAreBright) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"PLkept", "Kept", 1}),
                                 ns::Value(ns::Array{"PLgone", "Gone", 1})};
  f.account->feedsArray() = {ns::Value(ns::Array{"10", "Music"}), ns::Value(ns::Array{"20", "Gaming"})};
  f.menu->updatePlaylists();
  f.menu->updateFeeds();
  ns::Array rows{ns::Value(ns::Dictionary{{ns::Value("videoid"), ns::Value("v1")}})};
  f.account->savePlaylistCache_type_withId(rows, "playlists", "PLkept");
  // Feed lists are kept under "feed", not under the region's name.
  f.account->savePlaylistCache_type_withId(rows, "feed", "10");
  ASSERT_TRUE(f.account->hasPlaylistCache_withId("feed", "10"));

  auto grey = [&](const std::string& title) {
    auto cell = f.cellOf(f.nodeNamed(title));
    if (!cell) return -1;
    auto colour = cell->titleTextField()->textColor();
    return colour ? static_cast<int>(std::lround(colour->whiteComponent() * 255)) : -1;
  };
  f.menu->setNetStatusForTesting(0);
  f.outline()->reloadData();
  const std::vector<std::pair<std::string, int>> offline = {
      {"Cached Videos", 148}, {"Music", 148},    {"Kept", 148},     {"Gaming", 68},
      {"Gone", 68},           {"Favorites", 68}, {"New Videos", 68}};
  for (const auto& [title, expected] : offline) EXPECT_EQ(grey(title), expected) << title;
  f.menu->setNetStatusForTesting(2);
  f.outline()->reloadData();
  for (const auto& [title, expected] : offline) EXPECT_EQ(grey(title), 148) << title;
  // The single selected row is white.
  f.outline()->selectRowIndexes_byExtendingSelection(
      *ns::IndexSet::indexSetWithIndex(f.outline()->rowForItem(childNamed(f.menu->feedsItem(), "Music"))),
      false);
  EXPECT_EQ(grey("Music"), 255);
}

TEST(SourceList, TheListFeedingThePlayerShowsTheNowPlayingIcon) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"PL1", "One", 1}),
                                 ns::Value(ns::Array{"PL2", "Two", 1})};
  f.menu->updatePlaylists();
  auto one = childNamed(f.menu->playlistsItem(), "One");
  auto two = childNamed(f.menu->playlistsItem(), "Two");
  EXPECT_EQ(f.menu->iconForNode(one), nullptr);
  setCurrentPlaylistController(getPlaylistViewController("One", "playlists", "PL1"));
  auto grey = ak::Image::imageNamed("playingplaylist_icon_grey");
  auto white = ak::Image::imageNamed("playingplaylist_icon_white");
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(f.menu->iconForNode(one), grey);
  f.selectNode(one);
  EXPECT_EQ(f.menu->iconForNode(one), white);
  // With two rows selected no row is white.
  auto set = ns::MutableIndexSet::indexSet();
  set->addIndex(f.outline()->rowForItem(one));
  set->addIndex(f.outline()->rowForItem(two));
  f.outline()->selectRowIndexes_byExtendingSelection(*set, false);
  EXPECT_EQ(f.menu->iconForNode(one), grey);
  EXPECT_EQ(f.menu->iconForNode(two), nullptr);
  // The rows show it when they are filled.
  f.outline()->reloadData();
  EXPECT_EQ(f.cellOf(one)->iconImg()->image(), grey);
  f.selectNode(one);
  f.outline()->reloadData();
  EXPECT_EQ(f.cellOf(one)->iconImg()->image(), white);
  setCurrentPlaylistController(nullptr);
}

TEST(SourceList, AHeadingsButtonTogglesItsSectionAndTheStoredFlag) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"PL1", "One", 1})};
  f.menu->updatePlaylists();
  auto section = f.menu->playlistsItem();
  ASSERT_TRUE(f.outline()->isItemExpanded(section));
  f.menu->toggleExpand(section);
  EXPECT_FALSE(f.outline()->isItemExpanded(section));
  EXPECT_FALSE(DBAccess::getInstance()->isMenuExpanded("playlists"));
  f.menu->toggleExpand(section);
  EXPECT_TRUE(f.outline()->isItemExpanded(section));
  EXPECT_TRUE(DBAccess::getInstance()->isMenuExpanded("playlists"));
}

TEST(SourceList, AReachabilityChangeReloadsAndMarksTheListOnShowAgain) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"PL1", "One", 1})};
  f.menu->updatePlaylists();
  f.navigation()->pushViewController_animated(getPlaylistViewController("One", "playlists", "PL1"), false);
  EXPECT_TRUE(pltest::drainMode());
  ASSERT_NE(f.selectedNode(), nullptr);
  f.menu->deselect();
  EXPECT_EQ(f.outline()->numberOfSelectedRows(), 0);
  postNotification(kReachabilityChangedNotification);
  EXPECT_TRUE(pltest::pumpUntil([&] { return f.outline()->numberOfSelectedRows() == 1; }));
  EXPECT_EQ(f.selectedNode()->identifier(), "PL1");
}

TEST(SourceList, ItemsDescribeThemselves) {
  auto item = MenuItem::itemWithTitle_identifier_parent("Code", "PL1", nullptr);
  item->setItemtype("playlists");
  EXPECT_NE(item->description().find("| identifier = PL1 | title = Code | itemtype = playlists >"),
            std::string::npos);
  EXPECT_EQ(item->description().rfind("<MenuItem: 0x", 0), 0u);
  EXPECT_FALSE(item->hasBadge());
  EXPECT_FALSE(item->hasIcon());

  // Archived under the property names, as dragged rows travel.
  item->setBadgeValue(4);
  auto data = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(ns::Ref<ns::Object>(item)));
  auto copy = ns::KeyedUnarchiver::unarchiveObjectWithData(data).objectAs<MenuItem>();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, item);
  EXPECT_EQ(copy->title(), "Code");
  EXPECT_EQ(copy->identifier(), "PL1");
  EXPECT_EQ(copy->itemtype(), "playlists");
  EXPECT_EQ(copy->badgeValue(), 4);
  EXPECT_EQ(item->codableProperties().count(), 4u);
}

TEST(SourceList, TheOutlineTakesTheDragTypesOfRowsAndLinks) {
  SourceListFixture f;
  EXPECT_EQ(
      f.outline()->registeredDraggedTypes(),
      (std::vector<std::string>{"VideoTableViewDragAndDropDataType", "PlaylistTableViewDragAndDropDataType",
                                "public.url", "public.file-url", "public.text"}));
}

TEST(SourceList, HeadingsAndRowsAreDrawnBlackWithItemsReachingFurtherLeft) {
  SourceListFixture f([](SourceListFixture& f) { f.storeSpecials(); });
  f.loadPlaylists();
  pltest::renderWindow(f.window, "tree");
  auto view = [&](const ns::Ref<MenuItem>& node) {
    return f.outline()->viewAtColumn_row_makeIfNecessary(0, f.outline()->rowForItem(node), true);
  };
  // A point of the view in window coordinates.
  auto at = [&](const ns::Ref<ak::View>& v, double x, double y) {
    return v->convertPoint_toView({x, y}, nullptr);
  };
  auto heading = std::dynamic_pointer_cast<TreeHeaderCellView>(view(f.menu->libraryItem()));
  ASSERT_NE(heading, nullptr);
  EXPECT_EQ(heading->titleTextField()->stringValue(), "SPECIAL");
  EXPECT_EQ(heading->menuItem(), f.menu->libraryItem());
  ASSERT_NE(heading->button(), nullptr);
  EXPECT_DOUBLE_EQ(heading->button()->alphaValue(), 0.1);
  auto club = f.cellOf(childNamed(f.menu->playlistsItem(), "1club"));
  ASSERT_NE(club, nullptr);
  EXPECT_EQ(club->barImageName(), "black_bar");
  EXPECT_EQ(f.cellOf(childNamed(f.menu->playlistsItem(), "end month, movies download"))
                ->countTextField()
                ->stringValue(),
            "0");
  // Item rows reach 8 points further left, and are 8 points wider, than headings.
  EXPECT_DOUBLE_EQ(club->frame().origin.x, heading->frame().origin.x - 8.0);
  EXPECT_DOUBLE_EQ(club->frame().size.width, heading->frame().size.width + 8.0);
  long clubRow = f.outline()->rowForItem(club->menuItem());
  long headingRow = f.outline()->rowForItem(f.menu->libraryItem());
  EXPECT_DOUBLE_EQ(f.outline()->frameOfCellAtColumn_row(0, clubRow).origin.x,
                   f.outline()->frameOfCellAtColumn_row(0, headingRow).origin.x - 8.0);

  const ak::RGBA black{0, 0, 0, 255};
  const ak::Rect hb = heading->bounds();
  ak::Point p = at(heading, 100, hb.size.height / 2);
  EXPECT_EQ(pltest::describe(pltest::windowPixel(f.window, p.x, p.y)), pltest::describe(black));
  const ak::Rect cb = club->bounds();
  p = at(club, cb.size.width - 45, cb.size.height / 2);
  EXPECT_EQ(pltest::describe(pltest::windowPixel(f.window, p.x, p.y)), pltest::describe(black));
  // The special rows show their own grey icons.
  auto favorites = f.cellOf(childNamed(f.menu->libraryItem(), "Favorites"));
  EXPECT_EQ(favorites->iconImg()->image(), ak::Image::imageNamed("favorites_icon_grey"));
  EXPECT_EQ(f.cellOf(childNamed(f.menu->libraryItem(), "Cached Videos"))->iconImg()->image(),
            ak::Image::imageNamed("cachedvideos_icon_grey"));
  const ak::Rect icon = favorites->iconImg()->frame();
  p = at(favorites, icon.origin.x + 8, icon.origin.y + 8);
  EXPECT_EQ(pltest::describe(pltest::windowPixel(f.window, p.x, p.y)),
            pltest::describe({150, 150, 150, 255}));
  // The bottom bar draws its image between the buttons, dark grey from top to bottom.
  auto bar = f.menu->createPlaylistBtn()->superview();
  ASSERT_NE(bar, nullptr);
  auto barPixel = [&](double y) {
    ak::Point q = bar->convertPoint_toView({80, y}, nullptr);
    return pltest::windowPixel(f.window, q.x, q.y);
  };
  const ak::RGBA top = barPixel(bar->bounds().size.height - 2), bottom = barPixel(2);
  EXPECT_NEAR(top.r, 68, 4) << pltest::describe(top);
  EXPECT_NEAR(bottom.r, 42, 4) << pltest::describe(bottom);
}

TEST(SourceList, TheSelectionBarIsOrangeWhileTheOutlineHasTheFocus) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"PL1", "One", 1}),
                                 ns::Value(ns::Array{"PL2", "Two", 1})};
  f.menu->updatePlaylists();
  auto one = childNamed(f.menu->playlistsItem(), "One");
  auto barPixel = [&] {
    pltest::renderWindow(f.window, "selection");
    auto cell = f.cellOf(one);
    ak::Point p =
        cell->convertPoint_toView({cell->bounds().size.width - 45, cell->bounds().size.height / 2}, nullptr);
    return pltest::describe(pltest::windowPixel(f.window, p.x, p.y));
  };
  for (bool focus : {true, false}) {
    f.setAnswers([&](auto& answers) { answers.treeViewHasFocus = focus; });
    f.menu->deselect();
    EXPECT_EQ(f.cellOf(one)->barImageName(), "black_bar");
    f.selectNode(one);
    auto cell = f.cellOf(one);
    EXPECT_EQ(cell->barImageName(), focus ? "orange_bar" : "orange_bar_out");
    EXPECT_EQ(barPixel(), pltest::describe(focus ? ak::RGBA{236, 120, 24, 255} : ak::RGBA{112, 76, 52, 255}));
    EXPECT_DOUBLE_EQ(cell->titleTextField()->textColor()->whiteComponent(), 1.0);
  }

  // The outline's own highlight: orange only as first responder of the main and key window.
  auto mine = std::dynamic_pointer_cast<MyOutlineView>(f.outline());
  ASSERT_NE(mine, nullptr);
  const long row = f.outline()->rowForItem(one);
  const ak::Rect rect = f.outline()->rectOfRow(row);
  auto drawn = [&] {
    pltest::Canvas canvas(std::size_t(rect.size.width), std::size_t(rect.origin.y + 40), true);
    canvas.clear({0, 0, 255, 255});
    mine->highlightSelectionInClipRect(rect);
    return std::make_pair(pltest::describe(canvas.at(20, std::size_t(rect.origin.y + 10))),
                          pltest::describe(canvas.at(20, std::size_t(rect.origin.y + 1))));
  };
  // A titled window can be key and main.
  auto titled = f.app.window(ak::MakeRect(0, 0, 520, 620));
  titled->contentView()->addSubview(f.left->view());
  titled->makeKeyWindow();
  titled->makeMainWindow();
  ASSERT_TRUE(titled->makeFirstResponder(f.outline()));
  EXPECT_EQ(mine->selectionBarImageName(), "orange_bar");
  // Drawn 3 points down: the row's first points keep what was there.
  EXPECT_EQ(drawn(),
            std::make_pair(pltest::describe({236, 120, 24, 255}), pltest::describe({0, 0, 255, 255})));
  titled->makeFirstResponder(nullptr);
  EXPECT_EQ(drawn().first, pltest::describe({112, 76, 52, 255}));
}

TEST(SourceList, ARightClickOnAHeadingsButtonIsTheOutlines) {
  SourceListFixture f;
  auto mine = std::dynamic_pointer_cast<MyOutlineView>(f.outline());
  ASSERT_NE(mine, nullptr);
  auto button = ak::make<ak::Button>(ak::MakeRect(0, 0, 10, 10));
  auto subclass = ak::make<ak::PopUpButton>(ak::MakeRect(0, 0, 10, 10));
  auto right = pltest::mouseEvent(f.window, ak::EventType::RightMouseDown, {5, 5});
  auto left = pltest::mouseEvent(f.window, ak::EventType::LeftMouseDown, {5, 5});
  EXPECT_FALSE(mine->validateProposedFirstResponder_forEvent(button, right));
  EXPECT_TRUE(mine->validateProposedFirstResponder_forEvent(button, left));
  EXPECT_TRUE(mine->validateProposedFirstResponder_forEvent(subclass, right));
}

TEST(SourceList, ClickingAHeadingsButtonTogglesItsSectionAndTheStoredFlag) {
  SourceListFixture f;
  f.account->playlistsArray() = {ns::Value(ns::Array{"PL1", "One", 1})};
  f.menu->updatePlaylists();
  auto section = f.menu->playlistsItem();
  auto clickHeading = [&] {
    auto heading = std::dynamic_pointer_cast<TreeHeaderCellView>(
        f.outline()->viewAtColumn_row_makeIfNecessary(0, f.outline()->rowForItem(section), true));
    ASSERT_NE(heading, nullptr);
    pltest::click(f.window, heading->convertPoint_toView({40, heading->bounds().size.height / 2}, nullptr));
    f.app.dispatchQueued();
  };
  ns::LogCapture log(true);
  clickHeading();
  EXPECT_TRUE(log.contains("ISExpanded: PLAYLISTS : N"));
  EXPECT_FALSE(f.outline()->isItemExpanded(section));
  EXPECT_FALSE(DBAccess::getInstance()->isMenuExpanded("playlists"));
  clickHeading();
  EXPECT_TRUE(f.outline()->isItemExpanded(section));
  EXPECT_TRUE(DBAccess::getInstance()->isMenuExpanded("playlists"));
}

}  // namespace
