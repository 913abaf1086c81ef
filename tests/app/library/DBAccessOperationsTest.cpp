// The library store's operations on a real file in a sandbox.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/library/DBAccess.h"
#include "app/library/LibraryNotifications.h"
#include "common/CacheUtilities.h"
#include "lib/database/SqlDatabase.h"
#include "tests/app/library/LibrarySandbox.h"
#include "tests/app/library/NotificationCounter.h"

namespace {

class DBAccessOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override { access = DBAccess::getInstance(); }
  void TearDown() override { access = nullptr; }

  LibrarySandbox sandbox;
  ns::Ref<DBAccess> access;
  NotificationCounter videoInfo{kVideoInfoChangedNotification};
  NotificationCounter groups{kPlaylistGroupChangedNotification};
};

TEST_F(DBAccessOperationsTest, PlayPositionsMarkNewVideosPartlyWatched) {
  access->savePlayPosition_forId(12.5f, "vidA");
  EXPECT_EQ(access->getPlayPositionForId("vidA"), 12.5f);
  EXPECT_EQ(access->getPlayedStateForId("vidA"), 2);
  EXPECT_EQ(videoInfo.take(), 1);
  EXPECT_EQ(videoInfo.withObject(), 0);

  // Position 0 never changes the state.
  access->savePlayPosition_forId(0, "vidB");
  EXPECT_EQ(access->getPlayPositionForId("vidB"), 0.0f);
  EXPECT_EQ(access->getPlayedStateForId("vidB"), 0);
  EXPECT_EQ(videoInfo.take(), 0);

  // A watched video stays watched; a later position replaces the earlier one.
  access->savePlayedState_forId(1, "vidC");
  EXPECT_EQ(videoInfo.take(), 1);
  access->savePlayPosition_forId(30, "vidC");
  access->savePlayPosition_forId(31, "vidC");
  EXPECT_EQ(access->getPlayedStateForId("vidC"), 1);
  EXPECT_EQ(access->getPlayPositionForId("vidC"), 31.0f);
  EXPECT_EQ(videoInfo.take(), 0);

  EXPECT_EQ(access->getPlayPositionForId("unknown"), 0.0f);
  EXPECT_EQ(access->getPlayedStateForId("unknown"), 0);
}

TEST_F(DBAccessOperationsTest, BookmarksKeepOneStartAndOneEndMarker) {
  access->addBookmark_startPos_endPos_startEnd("v", 20, 0, "");
  access->addBookmark_startPos_endPos_startEnd("v", 5, 0, "s");
  access->addBookmark_startPos_endPos_startEnd("v", 5, 0, "s");  // the same point twice: one row
  access->addBookmark_startPos_endPos_startEnd("v", 40, 50, "e");
  EXPECT_EQ(videoInfo.take(), 4);
  EXPECT_EQ(access->getBookmarkCount("v"), 3);

  auto rows = access->getBookmarks("v");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].pos1, 5.0f);
  EXPECT_EQ(rows[0].startEnd, "s");
  EXPECT_EQ(rows[1].pos1, 20.0f);
  EXPECT_EQ(rows[1].startEnd, "");
  EXPECT_EQ(rows[2].pos2, 50.0f);
  EXPECT_EQ(rows[2].startEnd, "e");

  // Marking another bookmark "s" moves the marker there.
  access->addBookmark_startPos_endPos_startEnd("v", 20, 0, "s");
  rows = access->getBookmarks("v");
  EXPECT_EQ(rows[0].startEnd, "");
  EXPECT_EQ(rows[1].startEnd, "s");
  // An empty marker unmarks it.
  access->addBookmark_startPos_endPos_startEnd("v", 20, 0, "");
  EXPECT_EQ(access->getBookmarks("v")[1].startEnd, "");
  EXPECT_EQ(access->getBookmarkCount("v"), 3);

  // Comments go onto existing bookmarks only, with a notification either way.
  videoInfo.take();
  access->addBookmark_startPos_endPos_comment("v", 40, 50, "chorus");
  access->addBookmark_startPos_endPos_comment("v", 41, 50, "nowhere");
  EXPECT_EQ(videoInfo.take(), 2);
  EXPECT_EQ(access->getBookmarks("v")[2].comment, "chorus");
  EXPECT_EQ(access->getBookmarkCount("v"), 3);

  // Fractional float positions survive the trip through doubles and still identify the row.
  access->addBookmark_startPos_endPos_startEnd("v", 0.1f, 0.3f, "");
  access->deleteBookmark_startPos_endPos("v", 0.1f, 0.3f);
  access->deleteBookmark_startPos_endPos("v", 20, 0);
  EXPECT_EQ(access->getBookmarkCount("v"), 2);
  EXPECT_EQ(access->getBookmarkCount("other"), 0);
  EXPECT_TRUE(access->getBookmarks("other").empty());

  // A bookmark written before the marker and comment columns existed reads them as "".
  access->db()->executeUpdate("INSERT INTO bookmark (trackid, pos1, pos2) VALUES ('old', 1, 0)");
  rows = access->getBookmarks("old");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].startEnd, "");
  EXPECT_EQ(rows[0].comment, "");
}

TEST_F(DBAccessOperationsTest, DownloadedPathsForgetFilesThatAreGone) {
  std::string file = (sandbox.root() / "video.mp4").string();
  std::ofstream(file) << "movie";
  std::vector<std::string> forgotten;
  auto previous = setVideoCacheStateRemover([&](const std::string& id) { forgotten.push_back(id); });

  access->saveDownloadedVideoFilePath_forId(file, "vidA");
  access->saveDownloadedVideoFilePath_forId(std::string("/elsewhere/x.mp4"), "vidB");
  EXPECT_EQ(access->getDownloadedVideoFilePath("vidA"), file);
  auto ids = access->getDownloadedVideoArray();
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), (std::set<std::string>{"vidA", "vidB"}));

  // Saving again replaces; an empty or absent path only forgets.
  access->saveDownloadedVideoFilePath_forId(std::string(""), "vidB");
  EXPECT_EQ(access->getDownloadedVideoArray(), std::vector<std::string>{"vidA"});

  std::filesystem::remove(file);
  videoInfo.take();
  EXPECT_FALSE(access->getDownloadedVideoFilePath("vidA"));
  EXPECT_EQ(forgotten, std::vector<std::string>{"vidA"});
  EXPECT_EQ(videoInfo.take(), 1);
  EXPECT_TRUE(access->getDownloadedVideoArray().empty());
  // The next call finds no record and has no side effect.
  EXPECT_FALSE(access->getDownloadedVideoFilePath("vidA"));
  EXPECT_EQ(forgotten.size(), 1u);
  EXPECT_EQ(videoInfo.take(), 0);

  access->saveDownloadedVideoFilePath_forId(std::nullopt, "vidC");
  EXPECT_TRUE(access->getDownloadedVideoArray().empty());
  setVideoCacheStateRemover(previous);
}

TEST_F(DBAccessOperationsTest, PlaylistGroupsRefuseDuplicateNames) {
  EXPECT_TRUE(access->addPlaylistGroup("Music"));
  EXPECT_TRUE(access->addPlaylistGroup("Cooking"));
  EXPECT_EQ(groups.take(), 2);
  EXPECT_FALSE(access->addPlaylistGroup("Music"));
  EXPECT_EQ(groups.take(), 0);

  auto list = access->getPlaylistGroupArray();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "Cooking");
  EXPECT_EQ(list[1].name, "Music");
  EXPECT_EQ(list[1].groupId, 1);  // the first group made
  EXPECT_EQ(list[0].groupId, 2);

  EXPECT_FALSE(access->renamePlaylistGroup_newName("Cooking", "Music"));
  EXPECT_EQ(groups.take(), 0);
  EXPECT_TRUE(access->renamePlaylistGroup_newName("Cooking", "Baking"));
  EXPECT_TRUE(access->renamePlaylistGroup_newName("Nothing", "Else"));  // no such group: still YES
  EXPECT_EQ(groups.take(), 2);
  EXPECT_EQ(access->getPlaylistGroupArray()[0].name, "Baking");

  access->addPlaylistGroupEntry_groupId_notify("PL1", 1, true);
  access->addPlaylistGroupEntry_groupId_notify("PL2", 2, false);
  EXPECT_EQ(groups.take(), 1);
  EXPECT_EQ(access->getPlaylistGroupId("PL1"), 1);
  access->addPlaylistGroupEntry_groupId_notify("PL1", 2, false);  // one group per playlist
  EXPECT_EQ(access->getPlaylistGroupId("PL1"), 2);
  EXPECT_EQ(access->getPlaylistGroupId("PL9"), 0);

  // Deleting a group leaves its entries.
  access->deletePlaylistGroup("Baking");
  EXPECT_EQ(groups.take(), 1);
  EXPECT_EQ(access->getPlaylistGroupArray().size(), 1u);
  EXPECT_EQ(access->getPlaylistGroupId("PL2"), 2);
  access->deletePlaylistGroupEntry_notify("PL2", true);
  access->deletePlaylistGroupEntry_notify("PL1", false);
  EXPECT_EQ(groups.take(), 1);
  EXPECT_EQ(access->getPlaylistGroupId("PL2"), 0);
  EXPECT_EQ(access->getPlaylistGroupMap().count(), 0u);
}

TEST_F(DBAccessOperationsTest, MenusAreExpandedUntilCollapsed) {
  EXPECT_TRUE(access->isMenuExpanded("group_1"));
  access->setMenuExpanded_expanded("group_1", false);
  EXPECT_FALSE(access->isMenuExpanded("group_1"));
  access->setMenuExpanded_expanded("group_1", true);
  EXPECT_TRUE(access->isMenuExpanded("group_1"));
  // Stored as the integers the column's affinity makes of "1" and "0".
  EXPECT_EQ(access->db()->stringForQuery("SELECT typeof(expanded) FROM expandinfo WHERE menuid='group_1'"),
            "integer");
}

TEST_F(DBAccessOperationsTest, TheStringCacheKeysByTypeThenName) {
  EXPECT_EQ(access->getString_withType("123", "ytsig"), "");
  access->saveString_withType_withData("123", "ytsig", "step1 step2");
  EXPECT_EQ(access->getString_withType("123", "ytsig"), "step1 step2");
  access->saveString_withType_withData("123", "ytsig", "newer");
  EXPECT_EQ(access->getString_withType("123", "ytsig"), "newer");
  EXPECT_EQ(access->db()->intForQuery("SELECT count(*) FROM strcache"), 1);
  EXPECT_EQ(access->db()->stringForQuery("SELECT type FROM strcache"), "ytsig");
  EXPECT_GT(access->db()->longForQuery("SELECT insertdate FROM strcache"), 1600000000L);

  // The joined key is all that counts.
  access->saveString_withType_withData("c", "ab", "first");
  EXPECT_EQ(access->getString_withType("bc", "a"), "first");

  // A NULL text reads as nil, not as "".
  access->db()->executeUpdate("INSERT INTO strcache (name, type, strdata) VALUES ('tnull', 't', NULL)");
  EXPECT_FALSE(access->getString_withType("null", "t"));
}

TEST_F(DBAccessOperationsTest, EachStatementIsPreparedOnceAndReused) {
  for (int i = 0; i < 3; ++i) {
    access->savePlayPosition_forId(static_cast<float>(i + 1), "vid" + std::to_string(i));
    EXPECT_EQ(access->getPlayPositionForId("vid" + std::to_string(i)), static_cast<float>(i + 1));
    EXPECT_EQ(access->getBookmarks("vid").size(), 0u);
  }
  const auto& cache = access->db()->cachedStatements();
  ASSERT_TRUE(cache);
  struct Case {
    const char* sql;
    int uses;
  } cases[] = {
      {"SELECT pos FROM playposition where trackid=?;", 3},
      {"INSERT OR REPLACE INTO playposition (trackid, pos) values (?,?);", 3},
      // Read before each save as well as by the test's own calls.
      {"SELECT pstate FROM playedstate where trackid=?;", 3},
      {"SELECT pos1, pos2, startend, comment from bookmark where trackid=? order by pos1;", 3},
  };
  for (const auto& c : cases) {
    auto it = cache->find(c.sql);
    ASSERT_NE(it, cache->end()) << c.sql;
    ASSERT_EQ(it->second.size(), 1u) << c.sql;
    EXPECT_EQ(it->second[0]->useCount(), c.uses) << c.sql;
    EXPECT_FALSE(it->second[0]->inUse()) << c.sql;
  }
}

TEST_F(DBAccessOperationsTest, TheStoreSurvivesANewProcessStart) {
  access->savePlayPosition_forId(7, "vid");
  access->addBookmark_startPos_endPos_startEnd("vid", 3, 0, "s");
  EXPECT_TRUE(access->addPlaylistGroup("Kept"));
  access = nullptr;
  DBAccess::resetForTesting();

  auto reopened = DBAccess::getInstance();
  EXPECT_EQ(reopened->getPlayPositionForId("vid"), 7.0f);
  EXPECT_EQ(reopened->getBookmarks("vid").at(0).startEnd, "s");
  EXPECT_FALSE(reopened->addPlaylistGroup("Kept"));
}

}  // namespace
