// The account cache's keys, stored forms and lifetimes, and the video-in-playlist index, on a
// real keyed disk cache in a sandbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/library/AccountCache.h"
#include "app/library/LibraryNotifications.h"
#include "app/library/VideoInPlaylistCache.h"
#include "common/Settings.h"
#include "platform/foundation/FileIO.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "tests/app/library/AccountTestSupport.h"
#include "tests/app/library/NotificationCounter.h"

namespace {

using librarytest::AccountTest;

constexpr char kPrefix[] = "b418773a2c51fb9777a1648346fa7394_";

TEST_F(AccountTest, KeysAreScopedByTheDigestOfTheEmail) {
  auto a = bareCache("a@example.com");
  EXPECT_EQ(a->cacheKey("links"), std::string(kPrefix) + "links");
  auto b = bareCache("b@example.com");
  EXPECT_NE(b->cacheKey("links"), a->cacheKey("links"));
  EXPECT_EQ(b->cacheKey("links").size(), 32 + 1 + 5);
}

TEST_F(AccountTest, LoadingAtStartTakesWhatIsStoredAndPostsOnTheMainQueue) {
  auto writer = bareCache("a@example.com");
  auto disk = AccountCache::diskCache();
  auto key = [&](const std::string& name) { return writer->cacheKey(name); };
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{"FL", "WL", "HL", "LL", "UU"}), key("links"),
                                             60);
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{1, 2, 3, 4, 5}), key("linksItemCount"), 60);
  ns::Array playlists{ns::Value(ns::Array{"PL1", "One", 3}), ns::Value(ns::Array{"PL2", "Two"})};
  disk->setObject_forKey_withTimeoutInterval(ns::Value(playlists), key("playlists"), 60);
  ns::Array feeds{ns::Value(ns::Array{"10", "Music"})};
  // The region's entry: "US" while the setting is empty, else the setting's.
  disk->setObject_forKey_withTimeoutInterval(ns::Value(feeds), key("feeds_US_v2"), 60);
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{ns::Value(ns::Array{"1", "Other"})}),
                                             key("feeds_FR_v2"), 60);
  disk->synchronize();

  NotificationCounter playlistsPosted(kUpdatePlaylistsNotification);
  NotificationCounter subscriptionsPosted(kUpdateSubscriptionsNotification);
  NotificationCounter feedsPosted(kUpdateFeedsNotification);
  auto cache = bareCache("a@example.com");
  cache->loadCache();
  EXPECT_TRUE(cache->linksLoaded());
  EXPECT_TRUE(cache->linksCountLoaded());
  EXPECT_EQ(cache->favorites(), "FL");
  EXPECT_EQ(cache->watchLater(), "WL");
  EXPECT_EQ(cache->watchHistory(), "HL");
  EXPECT_EQ(cache->likes(), "LL");
  EXPECT_EQ(cache->uploads(), "UU");
  EXPECT_EQ(cache->watchHistoryCount(), ns::Value(3));
  EXPECT_EQ(cache->uploadsCount(), ns::Value(5));
  EXPECT_EQ(cache->playlistsArray(), playlists);
  EXPECT_EQ(cache->feedsArray(), feeds);
  EXPECT_TRUE(cache->subscriptionsArray().empty());
  // The lists' flags stay false so that the network always refreshes them.
  EXPECT_FALSE(cache->playlistsLoaded() || cache->subscriptionsLoaded() || cache->feedsLoaded());
  EXPECT_EQ(playlistsPosted.count(), 0);
  drainMainQueue();
  EXPECT_EQ(playlistsPosted.count(), 1);
  EXPECT_EQ(feedsPosted.count(), 1);
  EXPECT_EQ(subscriptionsPosted.count(), 0);
  EXPECT_EQ(playlistsPosted.offThread(), 0);

  setStringSetting(kFeedRegionKey, "FR");
  auto french = bareCache("a@example.com");
  french->loadCache();
  EXPECT_EQ(french->feedsArray()[0][1], ns::Value("Other"));

  // Short arrays are ignored and leave their flags false.
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{"FL", "WL", "HL", "LL"}), key("links"), 60);
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{1, 2}), key("linksItemCount"), 60);
  disk->synchronize();
  auto shortLists = bareCache("a@example.com");
  shortLists->loadCache();
  EXPECT_FALSE(shortLists->linksLoaded());
  EXPECT_FALSE(shortLists->linksCountLoaded());
  EXPECT_FALSE(shortLists->favorites());
}

TEST_F(AccountTest, WhatWasPlayingIsStoredWholeOrNotAtAll) {
  auto cache = bareCache("a@example.com");
  auto list = browsing->getPlaylistViewController("Road trip", "playlists", "PLroad");
  list->setPlayIndex(4);
  browsing->setCurrentPlaylist(list);
  cache->saveCurrentPlaylist();
  auto playing = row("vid1", std::nullopt, "Song");
  playing->setAuthor("Band");
  cache->savePlaying(playing);
  AccountCache::diskCache()->synchronize();
  EXPECT_EQ(cache->getCurrentPlaylistInfoArray(),
            ns::Value(ns::Array{"Road trip", "playlists", "PLroad", 4}));
  EXPECT_EQ(cache->getPlayingInfoArray(), ns::Value(ns::Array{"vid1", "Song", "Band"}));

  // A row without an author keeps "" in its place; one without a video id removes the value, as
  // does a list without an id.
  cache->savePlaying(row("vid2", std::nullopt));
  AccountCache::diskCache()->synchronize();
  EXPECT_EQ(cache->getPlayingInfoArray(), ns::Value(ns::Array{"vid2", "vid2", ""}));
  auto noId = SearchEntry::init();
  cache->savePlaying(noId);
  EXPECT_TRUE(cache->getPlayingInfoArray().isNil());
  browsing->setCurrentPlaylist(browsing->getPlaylistViewController("Nameless", "search", ""));
  cache->saveCurrentPlaylist();
  EXPECT_TRUE(cache->getCurrentPlaylistInfoArray().isNil());
}

TEST_F(AccountTest, ListContentsDropRepeatedItemIdsAndEmptyListsChangeNothing) {
  auto cache = bareCache("a@example.com");
  EXPECT_EQ(cache->getPlaylistCache_withId("playlists", "PL1"), ns::Array());
  EXPECT_FALSE(cache->hasPlaylistCache_withId("playlists", "PL1"));
  EXPECT_TRUE(cache->needReloadForPlaylistCache_withId("playlists", "PL1"));

  ns::Array rows{ns::Value(row("R1", "item1")), ns::Value(row("R2", std::nullopt)),
                 ns::Value(row("R3", "item1")), ns::Value(row("R4", std::nullopt))};
  cache->savePlaylistCache_type_withId(rows, "playlists", "PL1");
  auto read = cache->getPlaylistCache_withId("playlists", "PL1");
  ASSERT_TRUE(read);
  EXPECT_EQ(videoIds(*read), (std::vector<std::string>{"R1", "R2", "R4"}));
  EXPECT_TRUE(cache->hasPlaylistCache_withId("playlists", "PL1"));
  EXPECT_FALSE(cache->needReloadForPlaylistCache_withId("playlists", "PL1"));

  // An empty save leaves the rows and the fresh flag as they were.
  cache->savePlaylistCache_type_withId({}, "playlists", "PL1");
  EXPECT_EQ(cache->getPlaylistCache_withId("playlists", "PL1")->size(), 3u);

  // A value of another kind under the key reads as no rows; a damaged file as nil.
  auto disk = AccountCache::diskCache();
  disk->setObject_forKey_withTimeoutInterval(ns::Value("text"), cache->cacheKey("pl_search_q"), 60);
  disk->synchronize();
  EXPECT_EQ(cache->getPlaylistCache_withId("search", "q"), ns::Array());
  disk->setData_forKey_withTimeoutInterval(ns::Data("not an archive", 14), cache->cacheKey("pl_search_bad"),
                                           60);
  EXPECT_FALSE(cache->hasPlaylistCache_withId("search", "bad"));
}

TEST_F(AccountTest, TheFreshFlagLastsTenMinutes) {
  pltest::VirtualClock clock;
  auto cache = bareCache("a@example.com");
  cache->savePlaylistCache_type_withId({ns::Value(row("R1", "i1"))}, "related", "vid");
  EXPECT_FALSE(cache->needReloadForPlaylistCache_withId("related", "vid"));
  clock.advance(599);
  EXPECT_FALSE(cache->needReloadForPlaylistCache_withId("related", "vid"));
  clock.advance(2);
  EXPECT_TRUE(cache->needReloadForPlaylistCache_withId("related", "vid"));
  EXPECT_TRUE(cache->hasPlaylistCache_withId("related", "vid"));
}

// Sets the "created" date of index entries back by the given days (death 60 days after it), as
// if they had been stored that long ago, while no cache has the folder open.
void backDate(const std::string& folder, const std::map<std::string, double>& daysByKey) {
  std::string path = folder + "/GVCache.plist";
  auto data = ns::dataWithContentsOfFile(path);
  ASSERT_TRUE(data);
  ns::Value index = ns::PropertyListSerialization::propertyListWithData(*data);
  ASSERT_TRUE(index.isDictionary());
  ns::Dictionary changed = index.dictionary();
  for (const auto& [key, days] : daysByKey) {
    ns::Date created = ns::Date::dateWithTimeIntervalSinceNow(-days * 86400);
    ns::Date death = ns::Date::dateWithTimeIntervalSince1970(created.timeIntervalSince1970() + 5184000);
    changed.set(ns::Value(key), ns::Value(ns::Dictionary{{"created", created}, {"death", death}}));
  }
  auto written = ns::PropertyListSerialization::xmlData(ns::Value(changed));
  ASSERT_TRUE(written);
  ASSERT_TRUE(ns::writeDataToFile(*written, path, ns::DataWritingAtomic));
}

double daysToDeath(const ns::Value& entry) {
  return entry["death"].date().timeIntervalSinceNow() / 86400;
}

TEST_F(AccountTest, ListsReadWithinFifteenDaysLiveAnotherSixtyDays) {
  auto cache = bareCache("a@example.com");
  cache->savePlaylistCache_type_withId({ns::Value(row("R1", "i1"))}, "playlists", "P14");
  cache->savePlaylistCache_type_withId({ns::Value(row("R2", "i2"))}, "playlists", "P16");
  std::string young = cache->cacheKey("pl_playlists_P14");
  std::string old = cache->cacheKey("pl_playlists_P16");
  AccountCache::diskCache()->synchronize();
  AccountCache::setDiskCache(nullptr);
  backDate(cacheFolder(), {{young, 14}, {old, 16}});
  openDiskCache();

  EXPECT_EQ(videoIds(*cache->getPlaylistCache_withId("playlists", "P14")), std::vector<std::string>{"R1"});
  EXPECT_EQ(videoIds(*cache->getPlaylistCache_withId("playlists", "P16")), std::vector<std::string>{"R2"});
  ns::Dictionary index = AccountCache::diskCache()->frozenCacheInfo();
  EXPECT_NEAR(daysToDeath(index[ns::Value(young)]), 60, 0.1);
  EXPECT_NEAR(daysToDeath(index[ns::Value(old)]), 44, 0.1);
}

TEST_F(AccountTest, RowsAddedAndDeletedMoveTheBadgeAndTheLastDeleteEmptiesTheList) {
  auto cache = bareCache("a@example.com");
  cache->addSearchEntry_toPlaylist_insertAtZero(row("B", "iB"), "PLx", true);
  cache->addSearchEntry_toPlaylist_insertAtZero(row("C", "iC"), "PLx", false);
  cache->addSearchEntry_toPlaylist_insertAtZero(row("A", "iA"), "PLx", true);
  // The index is clamped to the rows there are.
  cache->addSearchEntry_toPlaylist_toIndex(row("Z", "iZ"), "PLx", 99);
  cache->addSearchEntry_toPlaylist_toIndex(row("Y", "iY"), "PLx", -3);
  cache->addSearchEntry_toPlaylist_toIndex(row("M", "iM"), "PLx", 2);
  EXPECT_EQ(videoIds(*cache->getPlaylistCache_withId("playlists", "PLx")),
            (std::vector<std::string>{"Y", "A", "M", "B", "C", "Z"}));
  EXPECT_TRUE(cache->hasVideo_inPlaylist("M", "PLx"));
  EXPECT_FALSE(cache->hasVideo_inPlaylist("M", "PLy"));

  for (const char* item : {"iY", "iA", "iM", "iB", "iC"})
    cache->deleteVideoWithPlaylistItemId_fromPlaylist(item, "PLx");
  EXPECT_TRUE(cache->hasPlaylistCache_withId("playlists", "PLx"));
  cache->deleteVideoWithPlaylistItemId_fromPlaylist("iZ", "PLx");
  EXPECT_FALSE(cache->hasPlaylistCache_withId("playlists", "PLx"));
  EXPECT_EQ(cache->getPlaylistCache_withId("playlists", "PLx"), ns::Array());
  // A delete that matches nothing still takes one off the badge.
  cache->deleteVideoWithPlaylistItemId_fromPlaylist("gone", "PLx");
  auto calls = browsing->menu()->calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "updatePlaylist(PLx,1)"), 6);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "updatePlaylist(PLx,-1)"), 7);
}

TEST_F(AccountTest, ARowAddedToAListNeverFetchedLeavesTheListDueForAFetch) {
  // The row is all that is known of the list: marked fresh, the list would open showing it alone
  // for ten minutes.
  auto cache = bareCache("a@example.com");
  cache->addSearchEntry_toPlaylist_insertAtZero(row("A", "iA"), "PLnew", true);
  cache->addSearchEntry_toPlaylist_toIndex(row("B", "iB"), "PLnew", 1);
  EXPECT_EQ(videoIds(*cache->getPlaylistCache_withId("playlists", "PLnew")),
            (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(cache->hasVideo_inPlaylist("A", "PLnew"));
  EXPECT_TRUE(cache->needReloadForPlaylistCache_withId("playlists", "PLnew"));
  cache->deleteVideoWithPlaylistItemId_fromPlaylist("iA", "PLnew");
  EXPECT_TRUE(cache->needReloadForPlaylistCache_withId("playlists", "PLnew"));

  // A list fetched a moment ago stays fresh with its new row.
  cache->savePlaylistCache_type_withId({ns::Value(row("R1", "i1"))}, "playlists", "PLseen");
  cache->addSearchEntry_toPlaylist_insertAtZero(row("C", "iC"), "PLseen", false);
  EXPECT_EQ(videoIds(*cache->getPlaylistCache_withId("playlists", "PLseen")),
            (std::vector<std::string>{"R1", "C"}));
  EXPECT_FALSE(cache->needReloadForPlaylistCache_withId("playlists", "PLseen"));
}

TEST_F(AccountTest, OwnChannelsComeFromTheSettingUntilTheNetworkAnswers) {
  auto empty = bareCache("a@example.com");
  EXPECT_FALSE(empty->myChannelSet());
  EXPECT_FALSE(empty->isMyChannel("UCme"));
  ASSERT_TRUE(empty->myChannelSet());
  EXPECT_EQ(empty->myChannelSet()->count(), 1u);  // one empty text
  setStringSetting("my_channels", "UCme,UCalso");
  auto cache = bareCache("a@example.com");
  EXPECT_TRUE(cache->isMyChannel("UCalso"));
  EXPECT_FALSE(cache->isMyChannel("UCother"));
}

// ---- the video-in-playlist index ----

class VideoInPlaylistTest : public AccountTest {
 protected:
  VideoInPlaylistTest() {
    account = bareCache("a@example.com");
    account->playlistsArray() = {ns::Value(ns::Array{"P1", "One", 2}), ns::Value(ns::Array{"P2", "Two"}),
                                 ns::Value(ns::Array{"P3", "Never opened"})};
    account->savePlaylistCache_type_withId({ns::Value(row("v", "a")), ns::Value(row("w", "b"))}, "playlists",
                                           "P1");
    account->savePlaylistCache_type_withId({ns::Value(row("v", "c")), ns::Value(row("v", "d"))}, "playlists",
                                           "P2");
    controller->setAccountCache(account);
  }
  ns::Ref<AccountCache> account;
  ns::Ref<VideoInPlaylistCache> index = ns::make<VideoInPlaylistCache>();
};

TEST_F(VideoInPlaylistTest, AVideoMapsToItsPlaylistsInListOrderOnce) {
  EXPECT_FALSE(index->video2playlistDict());
  EXPECT_EQ(index->getPlaylistIdArrayForVideo("v"), (std::vector<std::string>{"P1", "P2"}));
  EXPECT_EQ(index->getPlaylistIdArrayForVideo("w"), (std::vector<std::string>{"P1"}));
  EXPECT_FALSE(index->getPlaylistIdArrayForVideo("nowhere"));
  EXPECT_TRUE(index->hasVideo_inPlaylist("w", "P1"));
  EXPECT_FALSE(index->hasVideo_inPlaylist("w", "P2"));

  index->addVideo_toPlaylist("w", "P3");
  index->addVideo_toPlaylist("w", "P3");
  EXPECT_EQ(index->getPlaylistIdArrayForVideo("w"), (std::vector<std::string>{"P1", "P3"}));
  index->deleteVideo_fromPlaylist("w", "P1");
  index->deleteVideo_fromPlaylist("w", "P3");
  // The array stays, empty.
  EXPECT_EQ(index->getPlaylistIdArrayForVideo("w"), std::vector<std::string>{});
}

TEST_F(VideoInPlaylistTest, BeforeTheFirstLookupAddsDoNothingAndTheBuildReadsTheStoredRows) {
  index->addVideo_toPlaylist("new", "P3");
  EXPECT_FALSE(index->hasVideo_inPlaylist("new", "P3"));
  EXPECT_FALSE(index->video2playlistDict());
  // The add-to-playlist path of the account cache stores the row the later build finds.
  account->addSearchEntry_toPlaylist_insertAtZero(row("new", "e"), "P3", false);
  EXPECT_EQ(index->getPlaylistIdArrayForVideo("new"), std::vector<std::string>{"P3"});
  // Without an account cache the map is built empty.
  controller->setAccountCache(nullptr);
  index->populateCache();
  EXPECT_FALSE(index->getPlaylistIdArrayForVideo("v"));
}

}  // namespace
