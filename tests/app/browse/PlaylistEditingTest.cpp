// Editing the account's playlists from a list pane against the fake Data API: inserting at a
// row, deleting, renaming, the keyboard's favourites toggle and title edit, and the playing row
// staying the playing row while rows come and go.
#include <gtest/gtest.h>

#include "common/IBrowsingInterface.h"
#include "common/Settings.h"
#include "tests/app/browse/DropTestSupport.h"

namespace {

using browse_test::DropFixture;
using testsupport::FakeDataAPI;

constexpr char kList[] = "PLWDhtSiJQSdRf_OgbtnbPD0Ub03mY-tGX";
constexpr char kTwice[] = "EdRBMHpUslk";

FakeDataAPI::Script refused(int times = 1) {
  return FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, times,
                             googletest::fixtureText("error-403.json"));
}

ns::Ref<SearchEntry> rowOf(const std::string& videoId) {
  auto row = SearchEntry::init();
  row->setVideoid(videoId);
  row->setTitle("Title of " + videoId);
  return row;
}

// The own playlist of the fixture reply, shown in the left pane.
struct FixtureListFixture : DropFixture {
  FixtureListFixture() {
    api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-1.json"));
    list = open("playlists", kList);
    EXPECT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 10 && !list->isFetching(); }, 30));
    pltest::pumpUntil([] { return false; }, 0.2);
  }
  ns::Ref<YTPlaylistViewController> list;
};

TEST(PlaylistEditing, InsertingAtARowShowsItOnlyOnceTheServiceTookIt) {
  FixtureListFixture f;
  ASSERT_EQ(f.list->cellArray().size(), 10u);
  EXPECT_EQ(f.storedIds(kList).size(), 10u);
  const std::string firstBefore = f.list->cellArray()[0]->videoid().value_or("");

  f.list->insertSearchEntry_toIndex(rowOf("newVideo001"), 0);
  EXPECT_EQ(f.list->cellArray()[0]->videoid(), firstBefore);
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 1);
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(inserts[0].params["resource"]["snippet"]["position"].intValue(), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.list->cellArray().size() == 11; }));
  EXPECT_EQ(f.list->cellArray()[0]->videoid(), "newVideo001");
  EXPECT_EQ(f.list->cellArray()[0]->playlistItemId().value_or("").rfind("FAKE", 0), 0u);
  EXPECT_EQ(f.storedIds(kList).front(), "newVideo001");
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("newVideo001", kList));

  // Refused: list, stored copy and index stay; a pair known before stays too.
  f.index->addVideo_toPlaylist(kTwice, kList);
  f.api.script("youtube.playlistItems.insert", refused(2));
  f.list->insertSearchEntry_toIndex(rowOf(kTwice), 0);
  f.list->insertSearchEntry_toIndex(rowOf("refusedVid1"), 3);
  f.waitForCalls("youtube.playlistItems.insert", 3);
  EXPECT_EQ(f.list->cellArray().size(), 11u);
  EXPECT_EQ(f.storedIds(kList).size(), 11u);
  EXPECT_TRUE(f.index->hasVideo_inPlaylist(kTwice, kList));
  EXPECT_FALSE(f.index->hasVideo_inPlaylist("refusedVid1", kList));
}

TEST(PlaylistEditing, DeletingSendsOnlyWithAnItemIdAndPutsThePairBackWhenRefused) {
  FixtureListFixture f;
  // Without an item id: nothing is sent, the pair goes.
  f.index->addVideo_toPlaylist("orphanVid01", kList);
  f.list->deleteVideo_withPlaylistItemId_fromPlaylist("orphanVid01", std::nullopt, kList);
  EXPECT_FALSE(f.index->hasVideo_inPlaylist("orphanVid01", kList));

  // Refused with the service's quota error: the pair comes back, the row stays.
  auto row = f.list->cellArray()[1];
  const std::string video = row->videoid().value_or("");
  const std::string item = row->playlistItemId().value_or("");
  f.index->addVideo_toPlaylist(video, kList);
  f.api.script("youtube.playlistItems.delete", refused());
  f.list->deleteVideo_withPlaylistItemId_fromPlaylist(video, item, kList);
  EXPECT_FALSE(f.index->hasVideo_inPlaylist(video, kList));
  auto deletes = f.waitForCalls("youtube.playlistItems.delete", 1);
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].params["id"].stringValue(), item);
  EXPECT_TRUE(f.index->hasVideo_inPlaylist(video, kList));
  EXPECT_EQ(f.list->cellArray().size(), 10u);

  // Taken: the row leaves the open list and the stored copy.
  f.list->deleteVideo_withPlaylistItemId_fromPlaylist(video, item, kList);
  f.waitForCalls("youtube.playlistItems.delete", 2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.list->cellArray().size() == 9; }));
  EXPECT_FALSE(f.list->hasPlaylistItemId(item));
  EXPECT_EQ(f.storedIds(kList).size(), 9u);
  EXPECT_FALSE(f.index->hasVideo_inPlaylist(video, kList));
}

TEST(PlaylistEditing, RenamingReachesEveryRowOfTheVideoAndTwoSelectedRowsTakeNoKeys) {
  FixtureListFixture f;
  // The account cache's rename completion calls the list on show.
  auto visible = browsingInterface()->getVisiblePlaylistViewController();
  ASSERT_EQ(visible, std::static_pointer_cast<IPlaylistViewController>(f.list));
  visible->videoRenamed_Title(kTwice, "Renamed");
  int renamed = 0;
  for (const auto& row : f.list->cellArray())
    if (row->videoid() == kTwice) {
      EXPECT_EQ(row->title(), "Renamed");
      ++renamed;
    }
  EXPECT_EQ(renamed, 2);

  // One row of the account's own channel opens the rename sheet; another channel's row does not.
  setStringSetting("my_channels", "UCmine00000000000000000,UCother");
  f.list->cellArray()[0]->setVideoChannelId("UCmine00000000000000000");
  f.select({1});
  EXPECT_FALSE(f.list->editSelectedVideoTitle());
  f.select({0});
  EXPECT_TRUE(f.list->editSelectedVideoTitle());
  EXPECT_EQ(f.main->calls().back(), "onShowRenameVideo");
  f.main->clearCalls();

  f.select({0, 1});
  EXPECT_FALSE(f.list->addOrRemoveFavorites());
  EXPECT_FALSE(f.list->editSelectedVideoTitle());
  EXPECT_FALSE(f.list->showAddToMenu());
  EXPECT_TRUE(f.player->calls().empty());
  for (const auto& call : f.main->calls()) EXPECT_EQ(call.rfind("onShowRenameVideo", 0), std::string::npos);
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.insert").empty());
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.delete").empty());
}

// The favourites "FLme" open with two rows the fake holds, and the playlist "PLcode" on show.
struct FavouritesFixture : DropFixture {
  FavouritesFixture() {
    api.seed("playlistItems", {browse_test::playlistItemJSON("fav0", "FLme", "favVideo001"),
                               browse_test::playlistItemJSON("fav1", "FLme", "favVideo002")});
    std::vector<ns::Ref<SearchEntry>> rows{rowOf("favVideo001"), rowOf("favVideo002")};
    rows[0]->setPlaylistItemId("fav0");
    rows[1]->setPlaylistItemId("fav1");
    favourites = open("playlists", "FLme", rows);
    left->navigationController()->goBack();
    list = openPlaylist("PLcode", 3);
  }
  ns::Ref<YTPlaylistViewController> favourites, list;
};

TEST(PlaylistEditing, TheFavouritesToggleAddsACopyFirstOrDeletesAKnownEntry) {
  FavouritesFixture f;
  ASSERT_EQ(f.shown(), f.list);
  f.select({1});
  ASSERT_TRUE(f.list->addOrRemoveFavorites());
  EXPECT_EQ(f.player->calls(), std::vector<std::string>{"showOSD(added to Favorites)"});
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 1);
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(inserts[0].params["resource"]["snippet"]["playlistId"].stringValue(), "FLme");
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.favourites->cellArray().size() == 3; }));
  EXPECT_EQ(f.favourites->cellArray()[0]->videoid(), "v1");
  EXPECT_NE(f.favourites->cellArray()[0], f.list->cellArray()[1]);
  EXPECT_EQ(f.list->cellArray()[1]->playlistItemId(), "item1");
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v1", "FLme"));

  // A video whose entry the open favourites list holds: its delete goes out.
  f.player->clearCalls();
  f.list->cellArray()[2] = rowOf("favVideo002");
  f.index->addVideo_toPlaylist("favVideo002", "FLme");
  f.select({2});
  ASSERT_TRUE(f.list->addOrRemoveFavorites());
  auto deletes = f.waitForCalls("youtube.playlistItems.delete", 1);
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].params["id"].stringValue(), "fav1");
  EXPECT_EQ(f.player->calls(), std::vector<std::string>{"showOSD(removed from Favorites)"});
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.favourites->cellArray().size() == 2; }));

  // Listed in the index but with no entry known anywhere: nothing is sent, nothing claimed.
  f.player->clearCalls();
  f.index->addVideo_toPlaylist("v0", "FLme");
  f.select({0});
  ASSERT_TRUE(f.list->addOrRemoveFavorites());
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.delete").size(), 1u);
  EXPECT_TRUE(f.player->calls().empty());
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v0", "FLme"));
}

TEST(PlaylistEditing, ThePlayingRowKeepsItsMarkWhenRowsComeAndGoAbove) {
  FavouritesFixture f;
  setCurrentPlaylistController(f.list);
  f.list->setPlayIndex(2);
  f.list->deletePlaylistItem(0);
  EXPECT_EQ(f.list->cellArray()[static_cast<std::size_t>(f.list->playIndex())]->videoid(), "v2");
  f.list->cellArray().push_back(rowOf("afterV2xxxx"));
  ASSERT_TRUE(f.list->nextTrack(nullptr));
  ASSERT_TRUE(f.player->lastRow());
  EXPECT_EQ(f.player->lastRow()->videoid(), "afterV2xxxx");

  // A top insertion into the playing favourites list.
  setCurrentPlaylistController(f.favourites);
  f.favourites->setPlayIndex(1);
  f.left->menuViewController()->addSearchEntry_toPlaylistId(rowOf("topVideo001"), "FLme");
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.favourites->cellArray().size() == 3; }));
  EXPECT_EQ(f.favourites->cellArray()[0]->videoid(), "topVideo001");
  EXPECT_EQ(f.favourites->playIndex(), 2);
  EXPECT_EQ(f.favourites->cellArray()[2]->videoid(), "favVideo002");
}

}  // namespace
