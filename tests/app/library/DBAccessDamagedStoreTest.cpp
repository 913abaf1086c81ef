// A library store that cannot be read, or made: every thread's instance tries it, the wrapper logs
// each failed statement as it always did, and one warning names the file and the reason. The file
// is left exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/library/DBAccess.h"
#include "lib/database/SqlDatabase.h"
#include "platform/core/Log.h"
#include "platform/testing/FileRights.h"
#include "tests/app/library/LibrarySandbox.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string randomBytes(std::size_t size) {
  std::mt19937 generator(42);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(generator());
  return bytes;
}

// The lines whose message holds `text`, with their levels.
std::vector<ns::LogLine> linesWith(const ns::LogCapture& log, const std::string& text) {
  std::vector<ns::LogLine> found;
  for (const auto& line : log.lines())
    if (line.message.find(text) != std::string::npos) found.push_back(line);
  return found;
}

std::string warningFor(const std::string& path, const std::string& reason) {
  return "DBAccess: " + path + " cannot be read (" + reason +
         "); it is left as it is and the library is not kept this time";
}

// What a launch does to the store: an instance on the main thread and on a few others, each of
// which reads and writes.
void useTheStoreFromSeveralThreads() {
  auto use = [] {
    auto access = DBAccess::getInstance();
    access->savePlayPosition_forId(12, "vid");
    access->getPlayPositionForId("vid");
    access->getBookmarks("vid");
  };
  use();
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) threads.emplace_back(use);
  for (auto& t : threads) t.join();
}

// A store with rows, as a run of this build leaves it: in the write-ahead mode, checkpointed.
std::string storeWithRows(const std::string& path) {
  {
    auto db = SqlDatabase::databaseWithPath(path);
    EXPECT_TRUE(db->open());
    db->stringForQuery("PRAGMA journal_mode=WAL;");
    EXPECT_TRUE(
        db->executeStatements("CREATE TABLE schema ( version INTEGER PRIMARY KEY );"
                              "INSERT INTO schema VALUES (7);"
                              "CREATE TABLE strcache ( name STRING PRIMARY KEY, type STRING, "
                              "strdata STRING, insertdate INTEGER );"));
    for (int i = 0; i < 200; ++i)
      db->executeUpdate("INSERT INTO strcache (name, type, strdata) VALUES (?, 't', ?);", std::to_string(i),
                        std::string(300, 'x'));
    db->close();
  }
  return readFile(path);
}

TEST(DBAccessDamagedStoreTest, BytesThatAreNoDatabaseAreNamedOnceAndLeftAsTheyAre) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string reason;
  };
  std::vector<Case> cases;
  cases.push_back({"random bytes", randomBytes(40000), "file is not a database"});
  {
    LibrarySandbox scratch;
    const std::string whole = storeWithRows(scratch.livePath());
    ASSERT_GT(whole.size(), 8192u);
    cases.push_back({"half a store", whole.substr(0, whole.size() / 2), "database disk image is malformed"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LibrarySandbox sandbox;
    writeFile(sandbox.livePath(), c.bytes);
    ns::LogCapture log(true);
    useTheStoreFromSeveralThreads();
    DBAccess::resetForTesting();

    const auto warnings = linesWith(log, "cannot be read");
    ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(log.messages());
    EXPECT_EQ(warnings[0].message, warningFor(sandbox.livePath(), c.reason));
    EXPECT_EQ(warnings[0].level, ns::LogLevel::Warning);
    // The wrapper's own lines are there as before, for the system log only.
    const auto failures = linesWith(log, "DB Error: ");
    EXPECT_GE(failures.size(), 4u);
    for (const auto& line : failures) EXPECT_EQ(line.level, ns::LogLevel::Info) << line.message;
    EXPECT_EQ(readFile(sandbox.livePath()), c.bytes);
  }
}

TEST(DBAccessDamagedStoreTest, SomethingInTheStoresPlaceThatCannotBeOpenedIsNamedOnceWithWhy) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string reason;
    // Whether SQLite is given it to open: what is no file, links followed, is only looked at.
    bool opened = false;
  };
  const std::vector<Case> cases{
      {"a folder",
       [](const std::string& path) {
         fs::create_directory(path);
         writeFile(path + "/kept", "x");
       },
       "is a directory"},
      {"a pipe", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "is no regular file"},
      // SQLite opens it, reads an empty store and turns every write away as read-only.
      {"a link to /dev/zero",
       [](const std::string& path) { ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); },
       "is no regular file"},
      // A link to itself: no process, root's included, can open it.
      {"a link loop", [](const std::string& path) { ASSERT_EQ(::symlink(path.c_str(), path.c_str()), 0); },
       "Too many levels of symbolic links", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LibrarySandbox sandbox;
    const std::string path = sandbox.livePath();
    c.make(path);
    struct stat before {};
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);
    ns::LogCapture log(true);
    useTheStoreFromSeveralThreads();
    DBAccess::resetForTesting();

    const auto warnings = linesWith(log, "cannot be read");
    ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(log.messages());
    EXPECT_EQ(warnings[0].message, warningFor(path, c.reason));
    EXPECT_EQ(warnings[0].level, ns::LogLevel::Warning);
    // The wrapper's line is there for every instance that tried, at the level it always had.
    const auto opening = linesWith(log, "error opening!: ");
    EXPECT_EQ(opening.size(), c.opened ? 4u : 0u);
    for (const auto& line : opening) EXPECT_EQ(line.level, ns::LogLevel::Error);
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    if (S_ISDIR(after.st_mode)) {
      EXPECT_EQ(readFile(path + "/kept"), "x");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.appFolder()), fs::directory_iterator()), 1)
        << "nothing was made beside it";
  }
}

// Runs `use` on three threads at once, each meeting the files' modes as a user would.
void onThreadsAsAUser(const std::function<void()>& use) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&use] {
      ASSERT_TRUE(pltest::dropFileOverridesOnThisThread());
      use();
    });
  }
  for (auto& t : threads) t.join();
}

TEST(DBAccessDamagedStoreTest, AFolderThatTakesNoNewStoreIsNamedOnceWithWhyAndLosesNothing) {
  LibrarySandbox sandbox;
  const std::string path = sandbox.livePath();
  // An older library, which a first start copies in: it stays as it is.
  fs::create_directories(sandbox.cacheBaseFolder());
  const std::string older = storeWithRows(sandbox.olderPath());
  ASSERT_EQ(::chmod(sandbox.appFolder().c_str(), 0555), 0);
  ns::LogCapture log(true);
  onThreadsAsAUser([] {
    auto access = DBAccess::getInstance();
    access->savePlayPosition_forId(12, "vid");
    EXPECT_EQ(access->getString_withType("0", ""), "");
  });

  const auto warnings = linesWith(log, "DBAccess: ");
  ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(
      warnings[0].message,
      "DBAccess: " + path + " cannot be created (Permission denied); the library is not kept this time");
  EXPECT_EQ(warnings[0].level, ns::LogLevel::Warning);
  EXPECT_TRUE(fs::is_empty(sandbox.appFolder()));
  EXPECT_EQ(readFile(sandbox.olderPath()), older);

  // Writable again: the next instance makes the store from the older one, without a word.
  ASSERT_EQ(::chmod(sandbox.appFolder().c_str(), 0755), 0);
  log.clear();
  EXPECT_EQ(DBAccess::getInstance()->getString_withType("0", ""), std::string(300, 'x'));
  DBAccess::removeInstance();
  EXPECT_TRUE(linesWith(log, "DBAccess: ").empty()) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(readFile(sandbox.olderPath()), older);
}

// An older library that does not read, copied into the missing store's place, made a store that
// never read again: nothing was kept, run after run. It is named instead, left as it was, and a
// new store is made and kept.
TEST(DBAccessDamagedStoreTest, AnOlderLibraryThatDoesNotReadIsNamedOnceLeftAsItIsAndANewOneIsKept) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string reason;
    mode_t mode = 0600;
  };
  std::string whole;
  {
    LibrarySandbox scratch;
    whole = storeWithRows(scratch.livePath());
  }
  // One page of rows overwritten: the first queries still read.
  std::string damaged = whole;
  damaged.replace(whole.size() / 2 / 4096 * 4096, 4096, randomBytes(4096));
  const std::vector<Case> cases{
      {"random bytes", randomBytes(40000), "file is not a database"},
      {"a store cut short", whole.substr(0, whole.size() / 2), "database disk image is malformed"},
      {"a store damaged inside", damaged, "database disk image is malformed"},
      {"an empty file", "", "is no library"},
      {"a store the user may not read", whole, "Permission denied", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LibrarySandbox sandbox;
    const std::string older = sandbox.olderPath();
    fs::create_directories(sandbox.cacheBaseFolder());
    writeFile(older, c.bytes);
    ASSERT_EQ(::chmod(older.c_str(), c.mode), 0);
    ns::LogCapture log(true);
    onThreadsAsAUser([] { DBAccess::getInstance()->savePlayPosition_forId(12, "vid"); });
    DBAccess::resetForTesting();

    const auto warnings = linesWith(log, "DBAccess: ");
    ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(log.messages());
    EXPECT_EQ(warnings[0].message, "DBAccess: " + older + " cannot be read (" + c.reason +
                                       "); it is left as it is and the library starts without it");
    EXPECT_EQ(warnings[0].level, ns::LogLevel::Warning);
    EXPECT_TRUE(linesWith(log, "DB Error").empty()) << ::testing::PrintToString(log.messages());
    struct stat info {};
    ASSERT_EQ(::stat(older.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    ASSERT_EQ(::chmod(older.c_str(), 0600), 0);
    EXPECT_EQ(readFile(older), c.bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.cacheBaseFolder()), fs::directory_iterator()), 1)
        << "nothing was made beside it";

    // The next run reads what the first wrote, without a word.
    log.clear();
    onThreadsAsAUser([] { EXPECT_EQ(DBAccess::getInstance()->getPlayPositionForId("vid"), 12.0f); });
    DBAccess::resetForTesting();
    EXPECT_TRUE(linesWith(log, "DBAccess: ").empty()) << ::testing::PrintToString(log.messages());
    EXPECT_TRUE(linesWith(log, "DB Error").empty()) << ::testing::PrintToString(log.messages());
  }
}

// A store with rows that may only be read: a change on threads run as a user is not kept, the
// rows read, and one warning says that `file` cannot be written.
void changeAsAUserAndExpectNamedOnce(const std::string& file) {
  ns::LogCapture log(true);
  onThreadsAsAUser([] {
    auto access = DBAccess::getInstance();
    access->saveString_withType_withData("0", "", "changed");
    EXPECT_EQ(access->getString_withType("0", ""), std::string(300, 'x'));
  });
  DBAccess::resetForTesting();

  const auto warnings = linesWith(log, "DBAccess: ");
  ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(warnings[0].message, "DBAccess: " + file +
                                     " cannot be written (Permission denied); it is left as it is and "
                                     "changes to the library are not kept this time");
  EXPECT_EQ(warnings[0].level, ns::LogLevel::Warning);
}

TEST(DBAccessDamagedStoreTest, AStoreThatCanOnlyBeReadIsNamedOnceReadAndLeftAsItIs) {
  LibrarySandbox sandbox;
  const std::string path = sandbox.livePath();
  const std::string stored = storeWithRows(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  changeAsAUserAndExpectNamedOnce(path);
  EXPECT_EQ(readFile(path), stored);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
}

// SQLite opens a store it may not write read-only, and in its folder would make the journal's
// -wal and -shm with the store's mode: the next run, with the store writable again, lost every
// write to them.
TEST(DBAccessDamagedStoreTest, AStoreThatCanOnlyBeReadLeavesNoJournalBehindAndTakesWritesAgain) {
  LibrarySandbox sandbox;
  const std::string path = sandbox.livePath();
  storeWithRows(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ns::LogCapture log(true);
  onThreadsAsAUser([] {
    auto access = DBAccess::getInstance();
    EXPECT_EQ(access->getString_withType("0", ""), std::string(300, 'x'));
    access->saveString_withType_withData("0", "", "changed");
  });
  DBAccess::resetForTesting();
  EXPECT_EQ(linesWith(log, "DBAccess: ").size(), 1u) << ::testing::PrintToString(log.messages());
  for (const char* suffix : {"-wal", "-shm"}) EXPECT_FALSE(fs::exists(path + suffix)) << suffix;

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  log.clear();
  onThreadsAsAUser([] { DBAccess::getInstance()->saveString_withType_withData("0", "", "kept"); });
  DBAccess::resetForTesting();
  EXPECT_TRUE(linesWith(log, "DBAccess: ").empty()) << ::testing::PrintToString(log.messages());
  EXPECT_TRUE(linesWith(log, "DB Error").empty()) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(DBAccess::getInstance()->getString_withType("0", ""), "kept");
  DBAccess::resetForTesting();
}

// The store made writable while a run that opened it read-only goes on: the run keeps to its
// first decision on every thread, and the next run writes.
TEST(DBAccessDamagedStoreTest, AStoreMadeWritableDuringARunIsWrittenOnlyByTheNextRun) {
  LibrarySandbox sandbox;
  const std::string path = sandbox.livePath();
  const std::string stored = storeWithRows(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ns::LogCapture log(true);
  // The first thread's connection stays open, as the main thread's does for a run.
  std::promise<void> opened, madeWritable;
  std::thread first([&] {
    EXPECT_TRUE(pltest::dropFileOverridesOnThisThread());
    auto access = DBAccess::getInstance();
    EXPECT_TRUE(access->db()->isReadOnly());
    opened.set_value();
    madeWritable.get_future().wait();
    EXPECT_EQ(access->getString_withType("0", ""), std::string(300, 'x'));
  });
  opened.get_future().wait();
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  onThreadsAsAUser([] {
    auto access = DBAccess::getInstance();
    EXPECT_TRUE(access->db()->isReadOnly());
    access->saveString_withType_withData("0", "", "changed");
    EXPECT_EQ(access->getString_withType("0", ""), std::string(300, 'x'));
  });
  madeWritable.set_value();
  first.join();
  EXPECT_EQ(linesWith(log, "DBAccess: ").size(), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(readFile(path), stored);
  for (const char* suffix : {"-wal", "-shm"}) EXPECT_FALSE(fs::exists(path + suffix)) << suffix;

  DBAccess::resetForTesting();
  log.clear();
  onThreadsAsAUser([] { DBAccess::getInstance()->saveString_withType_withData("0", "", "kept"); });
  EXPECT_TRUE(linesWith(log, "DBAccess: ").empty()) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(DBAccess::getInstance()->getString_withType("0", ""), "kept");
  DBAccess::resetForTesting();
}

// A writable store beside journal files it may not write, as a run that could only read left
// them or as another user's are: SQLite opens it and turns every write away, unsaid.
TEST(DBAccessDamagedStoreTest, AJournalFileThatCannotBeWrittenIsNamedOnceAndLeftAsItIs) {
  for (const char* readOnly : {"-wal", "-shm"}) {
    SCOPED_TRACE(readOnly);
    LibrarySandbox sandbox;
    const std::string path = sandbox.livePath();
    const std::string stored = storeWithRows(path);
    for (const char* suffix : {"-wal", "-shm"}) writeFile(path + suffix, "");
    const std::string journal = path + readOnly;
    ASSERT_EQ(::chmod(journal.c_str(), 0444), 0);
    changeAsAUserAndExpectNamedOnce(journal);
    EXPECT_EQ(readFile(path), stored);
    EXPECT_EQ(readFile(journal), "");
    struct stat info {};
    ASSERT_EQ(::stat(journal.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
  }
}

TEST(DBAccessDamagedStoreTest, AStoreThatReadsAgainAndBreaksAnewIsNamedAgain) {
  LibrarySandbox sandbox;
  const std::string path = sandbox.livePath();
  fs::create_directory(path);
  ns::LogCapture log(true);
  DBAccess::getInstance();
  DBAccess::removeInstance();
  DBAccess::getInstance();
  DBAccess::removeInstance();
  EXPECT_EQ(linesWith(log, "cannot be read").size(), 1u);

  // Moved away: the next instance makes a store that reads, which ends the warning's turn.
  fs::rename(path, path + ".moved");
  DBAccess::getInstance()->saveString_withType_withData("n", "t", "kept");
  DBAccess::removeInstance();
  EXPECT_EQ(linesWith(log, "cannot be read").size(), 1u);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
  writeFile(path, randomBytes(5000));
  DBAccess::getInstance();
  DBAccess::removeInstance();
  DBAccess::getInstance();
  DBAccess::removeInstance();
  const auto warnings = linesWith(log, "cannot be read");
  ASSERT_EQ(warnings.size(), 2u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(warnings[1].message, warningFor(path, "file is not a database"));
}

TEST(DBAccessDamagedStoreTest, AnEmptyFileOrAHealthyStoreIsNoWarning) {
  for (bool empty : {true, false}) {
    LibrarySandbox sandbox;
    if (empty) writeFile(sandbox.livePath(), "");
    ns::LogCapture log(true);
    useTheStoreFromSeveralThreads();
    EXPECT_EQ(DBAccess::getInstance()->getPlayPositionForId("vid"), 12.0f);
    DBAccess::resetForTesting();
    EXPECT_TRUE(linesWith(log, "cannot be read").empty()) << ::testing::PrintToString(log.messages());
    EXPECT_TRUE(linesWith(log, "DB Error").empty()) << ::testing::PrintToString(log.messages());
  }
}

}  // namespace
