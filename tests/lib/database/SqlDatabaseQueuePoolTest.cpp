// Sharing a database between threads: the serial queue and the connection pool.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "lib/database/SqlDatabasePool.h"
#include "lib/database/SqlDatabaseQueue.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/testing/Sandbox.h"

namespace {

TEST(SqlDatabaseQueueTest, WorkFromManyThreadsRunsOneAtATime) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto queue = SqlDatabaseQueue::databaseQueueWithPath((dir / "counter.db").string());
  ASSERT_TRUE(queue);
  queue->inDatabase([](const ns::Ref<SqlDatabase>& db) {
    ASSERT_TRUE(db);
    db->executeStatements(
        "PRAGMA synchronous=OFF; CREATE TABLE counter (n INTEGER); INSERT INTO counter VALUES (0);");
  });

  constexpr int kThreads = 4;
  constexpr int kIncrements = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIncrements; ++i) {
        queue->inDatabase([](const ns::Ref<SqlDatabase>& db) {
          // Read, then write: only serialised work adds up to the full count.
          int n = db->intForQuery("SELECT n FROM counter");
          db->executeUpdate("UPDATE counter SET n = ?", n + 1);
        });
      }
    });
  }
  for (auto& t : threads) t.join();

  int total = 0;
  queue->inDatabase(
      [&](const ns::Ref<SqlDatabase>& db) { total = db->intForQuery("SELECT n FROM counter"); });
  EXPECT_EQ(total, kThreads * kIncrements);
}

TEST(SqlDatabaseQueueTest, TransactionsSavepointsAndReopeningAfterClose) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto queue = SqlDatabaseQueue::databaseQueueWithPath((dir / "q.db").string());
  ASSERT_TRUE(queue);
  EXPECT_EQ(queue->openFlags(), 6);
  queue->inDatabase([](const ns::Ref<SqlDatabase>& db) { db->executeUpdate("CREATE TABLE t (x)"); });
  auto rows = [&] {
    int n = -1;
    queue->inDatabase([&](const ns::Ref<SqlDatabase>& db) { n = db->intForQuery("SELECT count(*) FROM t"); });
    return n;
  };

  queue->inTransaction([](const ns::Ref<SqlDatabase>& db, bool*) {
    EXPECT_TRUE(db->inTransaction());
    db->executeUpdate("INSERT INTO t VALUES (1)");
  });
  queue->inDeferredTransaction([](const ns::Ref<SqlDatabase>& db, bool* rollback) {
    db->executeUpdate("INSERT INTO t VALUES (2)");
    *rollback = true;
  });
  EXPECT_EQ(rows(), 1);

  auto error = queue->inSavePoint([](const ns::Ref<SqlDatabase>& db, bool* rollback) {
    db->executeUpdate("INSERT INTO t VALUES (3)");
    *rollback = true;
  });
  EXPECT_FALSE(error);
  EXPECT_EQ(rows(), 1);

  // A cursor left open is reported.
  ns::LogCapture log(true);
  ns::Ref<SqlResultSet> leftOpen;
  queue->inDatabase([&](const ns::Ref<SqlDatabase>& db) { leftOpen = db->executeQuery("SELECT x FROM t"); });
  EXPECT_TRUE(
      log.contains("Warning: there is at least one open result set around after performing [SqlDatabaseQueue "
                   "inDatabase:]"));
  leftOpen = nullptr;

  // After close the next piece of work opens a new connection.
  ns::Ref<SqlDatabase> before, after;
  queue->inDatabase([&](const ns::Ref<SqlDatabase>& db) { before = db; });
  queue->close();
  EXPECT_EQ(before->sqliteHandle(), nullptr);
  queue->inDatabase([&](const ns::Ref<SqlDatabase>& db) { after = db; });
  ASSERT_TRUE(after);
  EXPECT_NE(after, before);
  EXPECT_EQ(rows(), 1);

  // A reopen that fails hands the work nothing.
  queue->close();
  std::filesystem::remove_all(dir);
  ns::Ref<SqlDatabase> none = before;
  queue->inDatabase([&](const ns::Ref<SqlDatabase>& db) { none = db; });
  EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(log.contains("SqlDatabaseQueue could not reopen database for path " + (dir / "q.db").string()));
}

// The number in the savepoint name the traced connection used last, or -1.
long lastSavePointNumber(const ns::LogCapture& log, const std::string& prefix) {
  long number = -1;
  std::string marker = "executeUpdate: savepoint '" + prefix;
  for (const auto& m : log.messages()) {
    auto at = m.find(marker);
    if (at == std::string::npos) continue;
    std::string rest = m.substr(at + marker.size());
    if (!rest.empty() && isdigit(static_cast<unsigned char>(rest[0]))) number = std::stol(rest);
  }
  return number;
}

TEST(SqlDatabaseQueueTest, SavepointNamesCountUpPerKindOfOwner) {
  auto queue = SqlDatabaseQueue::databaseQueueWithPath(std::nullopt);
  auto pool = SqlDatabasePool::databasePoolWithPath(std::nullopt);
  auto plain = SqlDatabase::databaseWithPath(std::nullopt);
  ASSERT_TRUE(queue && plain->open());
  queue->inDatabase([](const ns::Ref<SqlDatabase>& db) { db->setTraceExecution(true); });
  plain->setTraceExecution(true);

  ns::LogCapture log(true);
  queue->inSavePoint([](const ns::Ref<SqlDatabase>&, bool*) {});
  long first = lastSavePointNumber(log, "savePoint");
  ASSERT_GE(first, 0);
  // Savepoints of a pool and of a bare connection use counters of their own.
  pool->inSavePoint([](const ns::Ref<SqlDatabase>& db, bool*) { ASSERT_TRUE(db); });
  plain->inSavePoint([](bool*) {});
  EXPECT_GE(lastSavePointNumber(log, "dbSavePoint"), 0);
  queue->inSavePoint([](const ns::Ref<SqlDatabase>&, bool*) {});
  EXPECT_EQ(lastSavePointNumber(log, "savePoint"), first + 1);
}

TEST(SqlDatabaseQueueTest, AQueueThatCannotOpenIsNotMade) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  ns::LogCapture log(true);
  EXPECT_EQ(SqlDatabaseQueue::databaseQueueWithPath((dir / "missing/q.db").string()), nullptr);
  EXPECT_TRUE(log.contains("Could not create database queue for path " + (dir / "missing/q.db").string()));
  // Read-only flags on a missing file fail too.
  EXPECT_EQ(SqlDatabaseQueue::databaseQueueWithPath_flags((dir / "none.db").string(), 1), nullptr);
}

using SqlDatabaseQueueDeathTest = ::testing::Test;

TEST_F(SqlDatabaseQueueDeathTest, ReentrantCallsStopWithAMessageInsteadOfDeadlocking) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto queue = SqlDatabaseQueue::databaseQueueWithPath(std::nullopt);
  ASSERT_TRUE(queue);
  const char* message =
      "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock";
  EXPECT_DEATH(queue->inDatabase([&](const ns::Ref<SqlDatabase>&) { queue->inDatabase([](auto&) {}); }),
               message);
  EXPECT_DEATH(
      queue->inDatabase([&](const ns::Ref<SqlDatabase>&) { queue->inTransaction([](auto&, bool*) {}); }),
      message);
  EXPECT_DEATH(
      queue->inDatabase([&](const ns::Ref<SqlDatabase>&) { queue->inSavePoint([](auto&, bool*) {}); }),
      message);
  EXPECT_DEATH(queue->inDatabase([&](const ns::Ref<SqlDatabase>&) { queue->close(); }), message);
}

struct RefusingDelegate : SqlDatabasePoolDelegate {
  bool refuse = false;
  int added = 0;
  bool databasePool_shouldAddDatabaseToPool(SqlDatabasePool*, const ns::Ref<SqlDatabase>&) override {
    return !refuse;
  }
  void databasePool_didAddDatabase(SqlDatabasePool*, const ns::Ref<SqlDatabase>&) override { added++; }
};

TEST(SqlDatabasePoolTest, ConnectionsAreHandedOutAndTakenBack) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto pool = SqlDatabasePool::databasePoolWithPath((dir / "p.db").string());
  auto delegate = std::make_shared<RefusingDelegate>();
  pool->setDelegate(delegate);
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);

  auto a = pool->db();
  auto b = pool->db();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(delegate->added, 2);
  pool->pushDatabaseBackInPool(b);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 1u);
  EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
  EXPECT_EQ(pool->countOfOpenDatabases(), 2u);
  // The idle one is reused, and the delegate hears of new connections only.
  EXPECT_EQ(pool->db(), b);
  EXPECT_EQ(delegate->added, 2);
  pool->pushDatabaseBackInPool(a);
  pool->pushDatabaseBackInPool(b);
  try {
    pool->pushDatabaseBackInPool(b);
    ADD_FAILURE() << "giving back an idle connection must raise";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), "Database already in pool");
    EXPECT_EQ(e.reason(), "The SqlDatabase being put back into the pool is already present in the pool");
  }

  pool->inDatabase([](const ns::Ref<SqlDatabase>& db) { db->executeUpdate("CREATE TABLE t (x)"); });
  pool->inTransaction(
      [](const ns::Ref<SqlDatabase>& db, bool*) { db->executeUpdate("INSERT INTO t VALUES (1)"); });
  pool->inDeferredTransaction([](const ns::Ref<SqlDatabase>& db, bool* rollback) {
    db->executeUpdate("INSERT INTO t VALUES (2)");
    *rollback = true;
  });
  EXPECT_FALSE(pool->inSavePoint(
      [](const ns::Ref<SqlDatabase>& db, bool*) { db->executeUpdate("INSERT INTO t VALUES (3)"); }));
  int rows = 0;
  pool->inDatabase([&](const ns::Ref<SqlDatabase>& db) { rows = db->intForQuery("SELECT count(*) FROM t"); });
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);

  // A delegate that refuses makes the work run with nothing, and nothing stays checked out.
  delegate->refuse = true;
  ns::Ref<SqlDatabase> given = a;
  pool->inDatabase([&](const ns::Ref<SqlDatabase>& db) { given = db; });
  EXPECT_EQ(given, nullptr);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
  EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);

  pool->releaseAllDatabases();
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
}

TEST(SqlDatabasePoolTest, TheMaximumIsKeptAndAFailedReopenFreesItsSlot) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  std::filesystem::create_directory(dir / "sub");
  std::string path = (dir / "sub/p.db").string();
  auto pool = SqlDatabasePool::databasePoolWithPath(path);
  pool->setMaximumNumberOfDatabasesToCreate(1);

  ns::LogCapture log(true);
  auto first = pool->db();
  ASSERT_TRUE(first);
  EXPECT_EQ(pool->db(), nullptr);
  EXPECT_TRUE(log.contains("Maximum number of databases (1) has already been reached!"));
  pool->pushDatabaseBackInPool(first);

  // The idle connection is closed and its folder goes away: it cannot open again.
  first->close();
  std::filesystem::remove_all(dir / "sub");
  EXPECT_EQ(pool->db(), nullptr);
  EXPECT_TRUE(log.contains("Could not open up the database at path " + path));
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
  EXPECT_EQ(pool->countOfCheckedInDatabases(), 0u);

  // The freed slot can be used again once the folder is back.
  std::filesystem::create_directory(dir / "sub");
  auto again = pool->db();
  ASSERT_TRUE(again);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 1u);
  pool->pushDatabaseBackInPool(again);
}

TEST(SqlDatabasePoolTest, ConnectionsOfTheSamePoolWaitForEachOther) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto pool = SqlDatabasePool::databasePoolWithPath((dir / "p.db").string());
  pool->inDatabase([](const ns::Ref<SqlDatabase>& db) {
    db->executeStatements("PRAGMA journal_mode=WAL; CREATE TABLE t (x);");
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i)
        pool->inTransaction([&](const ns::Ref<SqlDatabase>& db, bool*) {
          ASSERT_TRUE(db);
          EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?)", t * 100 + i));
        });
    });
  }
  for (auto& th : threads) th.join();
  int rows = 0;
  pool->inDatabase([&](const ns::Ref<SqlDatabase>& db) { rows = db->intForQuery("SELECT count(*) FROM t"); });
  EXPECT_EQ(rows, 100);
  EXPECT_LE(pool->countOfOpenDatabases(), 4u);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
}

}  // namespace
