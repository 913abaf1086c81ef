// Where the library file lives, how threads get their instances, and the schema migrations.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "app/library/DBAccess.h"
#include "lib/database/SqlDatabase.h"
#include "platform/core/Log.h"
#include "tests/app/library/LibrarySandbox.h"

namespace {

std::set<std::string> tablesOf(const std::string& path) {
  auto db = SqlDatabase::databaseWithPath(path);
  EXPECT_TRUE(db->open());
  std::set<std::string> tables;
  auto rs =
      db->executeQuery("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'");
  while (rs && rs->next()) tables.insert(*rs->stringForColumnIndex(0));
  return tables;
}

std::vector<int> versionsOf(const std::string& path) {
  auto db = SqlDatabase::databaseWithPath(path);
  EXPECT_TRUE(db->open());
  std::vector<int> versions;
  auto rs = db->executeQuery("SELECT version FROM schema");
  while (rs && rs->next()) versions.push_back(rs->intForColumnIndex(0));
  return versions;
}

int countLines(const ns::LogCapture& log, const std::string& text) {
  int n = 0;
  for (const auto& m : log.messages())
    if (m.find(text) != std::string::npos) n++;
  return n;
}

const std::set<std::string> kAllTables = {
    "schema",        "playposition",       "bookmark",   "playedstate",     "downloadedpath",
    "playlistgroup", "playlistgroupentry", "expandinfo", "videoresolution", "strcache"};

// A library as version 3 of the application left it.
void writeVersion3Library(const std::string& path) {
  auto db = SqlDatabase::databaseWithPath(path);
  ASSERT_TRUE(db->open());
  ASSERT_TRUE(db->executeStatements(
      "CREATE TABLE schema ( version INTEGER PRIMARY KEY );"
      "CREATE TABLE playposition  ( trackid STRING PRIMARY KEY, pos FLOAT);"
      "CREATE TABLE bookmark  ( trackid STRING, pos1 FLOAT, pos2 FLOAT, startend STRING);"
      "CREATE TABLE playedstate  ( trackid STRING PRIMARY KEY, pstate INTEGER);"
      "CREATE TABLE downloadedpath  ( trackid STRING PRIMARY KEY, filepath STRING);"
      "INSERT INTO schema VALUES (3);"
      "INSERT INTO playposition VALUES ('vidA', 42.5);"
      "INSERT INTO bookmark VALUES ('vidA', 10, 0, 's');"
      "INSERT INTO playedstate VALUES ('vidA', 1);"));
}

TEST(DBAccessSchemaTest, FirstInstanceCreatesTheLiveFileAtVersion7) {
  LibrarySandbox sandbox;
  ns::LogCapture log(true);
  auto access = DBAccess::getInstance();
  ASSERT_TRUE(access);
  EXPECT_TRUE(std::filesystem::exists(sandbox.livePath()));
  EXPECT_EQ(access->getSchemaVersion(), 7);
  EXPECT_TRUE(log.contains("SCHEMA VERSION = 0"));
  EXPECT_TRUE(log.contains("ADD THREAD = 0x"));
  EXPECT_TRUE(log.contains(" (1)"));

  EXPECT_EQ(tablesOf(sandbox.livePath()), kAllTables);
  EXPECT_EQ(versionsOf(sandbox.livePath()), std::vector<int>{7});
  EXPECT_TRUE(access->db()->columnExists_inTableWithName("startend", "bookmark"));
  EXPECT_TRUE(access->db()->columnExists_inTableWithName("comment", "bookmark"));
  // Nothing is created outside the application's folder.
  EXPECT_FALSE(std::filesystem::exists(sandbox.cacheBaseFolder()));

  // One instance per thread, until it is removed.
  EXPECT_EQ(DBAccess::getInstance(), access);
  DBAccess::removeInstance();
  EXPECT_TRUE(log.contains("RM  THREAD = 0x"));
  auto again = DBAccess::getInstance();
  EXPECT_NE(again, access);
  EXPECT_EQ(countLines(log, "SCHEMA VERSION"), 1);
}

TEST(DBAccessSchemaTest, AnOlderLibraryInTheCacheFolderSeedsAMigratedCopy) {
  LibrarySandbox sandbox;
  std::filesystem::create_directories(sandbox.cacheBaseFolder());
  writeVersion3Library(sandbox.olderPath());

  ns::LogCapture log(true);
  auto access = DBAccess::getInstance();
  EXPECT_TRUE(log.contains("SCHEMA VERSION = 3"));
  EXPECT_EQ(tablesOf(sandbox.livePath()), kAllTables);
  EXPECT_EQ(versionsOf(sandbox.livePath()), std::vector<int>{7});

  // The old rows came along and read through the new schema.
  EXPECT_EQ(access->getPlayPositionForId("vidA"), 42.5f);
  EXPECT_EQ(access->getPlayedStateForId("vidA"), 1);
  auto bookmarks = access->getBookmarks("vidA");
  ASSERT_EQ(bookmarks.size(), 1u);
  EXPECT_EQ(bookmarks[0].startEnd, "s");
  EXPECT_EQ(bookmarks[0].comment, "");

  // The older file is only read.
  EXPECT_EQ(versionsOf(sandbox.olderPath()), std::vector<int>{3});
  EXPECT_FALSE(std::filesystem::exists(sandbox.livePath() + ".seeding"));
}

TEST(DBAccessSchemaTest, OtherThreadsGetTheirOwnInstanceAndNoSecondMigration) {
  LibrarySandbox sandbox;
  ns::LogCapture log(true);
  auto mine = DBAccess::getInstance();

  ns::Weak<DBAccess> theirs;
  ns::Weak<SqlDatabase> theirConnection;
  std::thread worker([&] {
    auto access = DBAccess::getInstance();
    EXPECT_EQ(DBAccess::getInstance(), access);
    theirs = access;
    theirConnection = access->db();
    access->saveString_withType_withData("n", "t", "from the worker");
  });
  worker.join();

  EXPECT_EQ(countLines(log, "SCHEMA VERSION"), 1);
  EXPECT_TRUE(log.contains(" (2)"));
  // The worker's instance and its connection went with the worker.
  EXPECT_TRUE(theirs.expired());
  EXPECT_TRUE(theirConnection.expired());
  EXPECT_TRUE(log.contains("RM  THREAD = 0x"));
  EXPECT_EQ(mine->getString_withType("n", "t"), "from the worker");
  EXPECT_EQ(DBAccess::getInstance(), mine);
}

TEST(DBAccessSchemaTest, ThreadsStartingTogetherAllFindTheMigratedSchema) {
  LibrarySandbox sandbox;
  ns::LogCapture log(true);
  constexpr int kThreads = 6;
  std::atomic<int> ready{0};
  std::atomic<int> stored{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready++;
      while (ready.load() < kThreads) std::this_thread::yield();
      // No instance is handed out before the migration has finished, so the newest table is
      // there for every thread's first statement.
      auto access = DBAccess::getInstance();
      access->saveString_withType_withData(std::to_string(i), "race", "x");
      if (access->getString_withType(std::to_string(i), "race") == "x") stored++;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(stored.load(), kThreads);
  EXPECT_EQ(countLines(log, "SCHEMA VERSION"), 1);
  EXPECT_FALSE(log.contains("DB Error"));
}

TEST(DBAccessSchemaTest, EightThreadsWritingAtOnceKeepEveryWrite) {
  LibrarySandbox sandbox;
  ns::LogCapture log(true);
  DBAccess::getInstance();  // the migration is not what is raced here
  constexpr int kThreads = 8;
  constexpr int kWrites = 150;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      // Each thread opens its connection first, then all write at the same moment.
      auto access = DBAccess::getInstance();
      ready++;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int k = 0; k < kWrites; ++k)
        access->savePlayPosition_forId(static_cast<float>(k + 1),
                                       std::to_string(i) + "v" + std::to_string(k));
    });
  }
  for (auto& t : threads) t.join();

  auto db = DBAccess::getInstance()->db();
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM playposition"), kThreads * kWrites);
  // Each first position also marked its video partly watched: a second write per call.
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM playedstate WHERE pstate = 2"), kThreads * kWrites);
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM playposition WHERE trackid = '7v149' AND pos = 150"), 1);
  EXPECT_FALSE(log.contains("database is locked"));
  EXPECT_EQ(db->stringForQuery("PRAGMA journal_mode"), "wal");
}

TEST(DBAccessSchemaTest, ALibraryInTheOlderJournalModeOpensAndKeepsItsRows) {
  LibrarySandbox sandbox;
  writeVersion3Library(sandbox.livePath());
  {
    auto db = SqlDatabase::databaseWithPath(sandbox.livePath());
    ASSERT_TRUE(db->open());
    EXPECT_EQ(db->stringForQuery("PRAGMA journal_mode"), "delete");
  }
  auto access = DBAccess::getInstance();
  EXPECT_EQ(access->getPlayPositionForId("vidA"), 42.5f);
  EXPECT_EQ(access->getPlayedStateForId("vidA"), 1);
  EXPECT_EQ(access->getBookmarks("vidA").size(), 1u);
  // Converted in the file, so a connection of the next start finds it so too.
  access = nullptr;
  DBAccess::resetForTesting();
  auto db = SqlDatabase::databaseWithPath(sandbox.livePath());
  ASSERT_TRUE(db->open());
  EXPECT_EQ(db->stringForQuery("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM playposition"), 1);
}

// A library a newer build made: its schema version and a table this build does not know.
void writeLibraryOfANewerBuild(const std::string& path, const std::string& version) {
  auto db = SqlDatabase::databaseWithPath(path);
  ASSERT_TRUE(db->open());
  ASSERT_TRUE(db->executeStatements(
      "CREATE TABLE schema ( version INTEGER PRIMARY KEY ); INSERT INTO schema VALUES (" + version +
      "); CREATE TABLE future (x);"));
}

TEST(DBAccessSchemaTest, ALibraryFromANewerBuildIsLeftAsItIs) {
  LibrarySandbox sandbox;
  writeLibraryOfANewerBuild(sandbox.livePath(), "9");
  ns::LogCapture log(true);
  auto access = DBAccess::getInstance();
  EXPECT_TRUE(log.contains("SCHEMA VERSION = 9"));
  EXPECT_TRUE(log.contains("SCHEMA VERSION 9 is newer than 7: the library is left as it is"));
  EXPECT_EQ(versionsOf(sandbox.livePath()), std::vector<int>{9});
  EXPECT_EQ(tablesOf(sandbox.livePath()), (std::set<std::string>{"schema", "future"}));
}

TEST(DBAccessSchemaTest, AVersionBeyond32BitsIsStillNewerAndLeftAsItIs) {
  LibrarySandbox sandbox;
  writeLibraryOfANewerBuild(sandbox.livePath(), "2147483648");
  ns::LogCapture log(true);
  auto access = DBAccess::getInstance();
  EXPECT_EQ(access->getSchemaVersion(), std::numeric_limits<int>::max());
  auto db = SqlDatabase::databaseWithPath(sandbox.livePath());
  ASSERT_TRUE(db->open());
  EXPECT_EQ(db->longForQuery("SELECT version FROM schema"), 2147483648L);
  EXPECT_EQ(tablesOf(sandbox.livePath()), (std::set<std::string>{"schema", "future"}));
}

TEST(DBAccessSchemaTest, AMigrationRunsOnlyOncePerProcessAndAVersion3FileGetsEveryLaterTable) {
  LibrarySandbox sandbox;
  writeVersion3Library(sandbox.livePath());
  ns::LogCapture log(true);
  auto access = DBAccess::getInstance();
  EXPECT_EQ(tablesOf(sandbox.livePath()), kAllTables);
  EXPECT_EQ(versionsOf(sandbox.livePath()), std::vector<int>{7});
  // Running it again by hand in the same process does nothing.
  access->db()->executeUpdate("DELETE FROM schema");
  access->init_database();
  EXPECT_EQ(access->getSchemaVersion(), 0);
}

TEST(DBAccessSchemaTest, WithoutTheApplicationFolderNothingIsCreatedAndReadsAnswerDefaults) {
  LibrarySandbox sandbox(/*withAppFolder=*/false);
  ns::LogCapture log(true);
  auto access = DBAccess::getInstance();
  EXPECT_TRUE(log.contains("error opening!: 14"));
  EXPECT_FALSE(std::filesystem::exists(sandbox.appFolder()));
  EXPECT_EQ(access->getPlayPositionForId("v"), 0.0f);
  EXPECT_EQ(access->getPlayedStateForId("v"), 0);
  EXPECT_TRUE(access->isMenuExpanded("m"));
  EXPECT_EQ(access->getString_withType("n", "t"), "");
  EXPECT_TRUE(access->getBookmarks("v").empty());
  access->savePlayPosition_forId(5, "v");
  EXPECT_EQ(access->getPlayPositionForId("v"), 0.0f);
  // A group that could not be stored is not reported as made.
  EXPECT_FALSE(access->addPlaylistGroup("g"));
  EXPECT_FALSE(access->renamePlaylistGroup_newName("g", "h"));
}

}  // namespace
