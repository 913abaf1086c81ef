// Transactions, savepoints, batches, SQL functions and the convenience additions.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "lib/database/SqlDatabase.h"
#include "platform/core/Log.h"

namespace {

class SqlDatabaseTransactionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = SqlDatabase::databaseWithPath(std::nullopt);
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  }
  int rows() { return db->intForQuery("SELECT count(*) FROM t"); }
  ns::Ref<SqlDatabase> db;
};

TEST_F(SqlDatabaseTransactionsTest, CommitKeepsAndRollbackDiscards) {
  ASSERT_TRUE(db->beginTransaction());
  EXPECT_TRUE(db->inTransaction());
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (1)"));
  ASSERT_TRUE(db->commit());
  EXPECT_FALSE(db->inTransaction());
  EXPECT_EQ(rows(), 1);

  ASSERT_TRUE(db->beginDeferredTransaction());
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (2)"));
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (3)"));
  EXPECT_EQ(rows(), 3);
  ASSERT_TRUE(db->rollback());
  EXPECT_FALSE(db->inTransaction());
  EXPECT_EQ(rows(), 1);

  // A commit without a transaction fails, logs the step error and changes nothing.
  ns::LogCapture log(true);
  EXPECT_FALSE(db->commit());
  EXPECT_TRUE(
      log.contains("Error calling sqlite3_step (1: cannot commit - no transaction is active) SQLITE_ERROR"));
  EXPECT_FALSE(db->inTransaction());
}

TEST_F(SqlDatabaseTransactionsTest, SavepointsWithQuotesInTheirNames) {
  ns::Error error(SqlDatabaseErrorDomain, 0);
  ASSERT_TRUE(db->startSavePointWithName_error("it's", &error));
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (1)"));
  ASSERT_TRUE(db->rollbackToSavePointWithName_error("it's", &error));
  ASSERT_TRUE(db->releaseSavePointWithName_error("it's", &error));
  EXPECT_EQ(rows(), 0);

  db->setTraceExecution(true);
  ns::LogCapture log(true);
  ASSERT_TRUE(db->startSavePointWithName_error("it's", &error));
  EXPECT_TRUE(log.contains("executeUpdate: savepoint 'it''s';"));
  ASSERT_TRUE(db->releaseSavePointWithName_error("it's", &error));
  db->setTraceExecution(false);

  // Releasing an unknown savepoint fails with SQLite's error.
  EXPECT_FALSE(db->releaseSavePointWithName_error("nothing", &error));
  EXPECT_EQ(error.domain(), "SqlDatabase");
  EXPECT_EQ(error.localizedDescription(), "no such savepoint: nothing");
}

TEST_F(SqlDatabaseTransactionsTest, InSavePointRollsBackWhenAsked) {
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (0)"));
  auto error = db->inSavePoint([&](bool* rollback) {
    EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (1)"));
    EXPECT_EQ(rows(), 2);
    *rollback = true;
  });
  EXPECT_FALSE(error);
  EXPECT_EQ(rows(), 1);

  error = db->inSavePoint([&](bool*) { EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (2)")); });
  EXPECT_FALSE(error);
  EXPECT_EQ(rows(), 2);

  // An exception leaves no savepoint open and undoes the work.
  EXPECT_THROW(db->inSavePoint([&](bool*) {
    db->executeUpdate("INSERT INTO t VALUES (3)");
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_EQ(rows(), 2);
  EXPECT_TRUE(db->beginTransaction());  // would fail inside a still-open savepoint
  EXPECT_TRUE(db->commit());
}

TEST_F(SqlDatabaseTransactionsTest, BatchesRunEveryStatementUntilTheCallbackStops) {
  EXPECT_TRUE(db->executeStatements("INSERT INTO t VALUES (1); INSERT INTO t VALUES (2);"));
  EXPECT_EQ(rows(), 2);

  std::vector<ns::Dictionary> seen;
  bool ok = db->executeStatements_withResultBlock(
      "INSERT INTO t VALUES (NULL); SELECT x FROM t ORDER BY x; INSERT INTO t VALUES (9);",
      [&](const ns::Dictionary& row) {
        seen.push_back(row);
        return 1;
      });
  EXPECT_FALSE(ok);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0][ns::Value("x")].isNull());
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t WHERE x = 9"), 0);

  seen.clear();
  EXPECT_TRUE(db->executeStatements_withResultBlock("SELECT x FROM t WHERE x IS NOT NULL ORDER BY x",
                                                    [&](const ns::Dictionary& row) {
                                                      seen.push_back(row);
                                                      return 0;
                                                    }));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1][ns::Value("x")].string(), "2");

  ns::LogCapture log(true);
  EXPECT_FALSE(db->executeStatements("INSERT INTO nowhere VALUES (1)"));
  EXPECT_TRUE(log.contains("Error inserting batch: no such table: nowhere"));
}

TEST_F(SqlDatabaseTransactionsTest, RegisteredFunctionsAnswerInQueries) {
  db->makeFunctionNamed_maximumArguments_withBlock(
      "twice", 1, [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
        ASSERT_EQ(argc, 1);
        sqlite3_result_int64(ctx, 2 * sqlite3_value_int64(argv[0]));
      });
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (21)"));
  EXPECT_EQ(db->intForQuery("SELECT twice(x) FROM t"), 42);
  EXPECT_EQ(db->intForQuery("SELECT twice(?)", 5), 10);

  // Registering the name again replaces the function.
  db->makeFunctionNamed_maximumArguments_withBlock(
      "twice", 1, [](sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_int(ctx, -1); });
  EXPECT_EQ(db->intForQuery("SELECT twice(x) FROM t"), -1);
}

TEST_F(SqlDatabaseTransactionsTest, AdditionsAnswerSingleValuesAndSchemaQuestions) {
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?), (?)", 3, "three"));
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t"), 2);
  EXPECT_EQ(db->intForQuery("SELECT x FROM t WHERE 0"), 0);
  EXPECT_EQ(db->stringForQuery("SELECT x FROM t WHERE typeof(x) = ?", "text"), "three");
  EXPECT_FALSE(db->stringForQuery("SELECT x FROM t WHERE 0"));
  EXPECT_EQ(db->longForQuery("SELECT 5000000000"), 5000000000L);
  EXPECT_TRUE(db->boolForQuery("SELECT 1"));
  EXPECT_EQ(db->doubleForQuery("SELECT 0.5"), 0.5);
  EXPECT_EQ(db->dataForQuery("SELECT x'6869'")->toString(), "hi");
  EXPECT_EQ(db->dateForQuery("SELECT 86400")->timeIntervalSince1970(), 86400.0);
  EXPECT_FALSE(db->hasOpenResultSets());

  EXPECT_TRUE(db->tableExists("T"));
  EXPECT_FALSE(db->tableExists("nothing"));
  EXPECT_TRUE(db->columnExists_inTableWithName("X", "t"));
  EXPECT_TRUE(db->columnExists_columnName("t", "x"));
  EXPECT_FALSE(db->columnExists_inTableWithName("y", "t"));

  auto schema = db->getSchema();
  ASSERT_TRUE(schema && schema->next());
  EXPECT_EQ(schema->stringForColumn("name"), "t");
  schema->close();

  // A quote in the table name stays inside the literal.
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE \"it's\" (a)"));
  EXPECT_TRUE(db->columnExists_inTableWithName("a", "it's"));
  ns::LogCapture log(true);
  EXPECT_FALSE(db->columnExists_inTableWithName("a", "x'); DROP TABLE t; --"));
  EXPECT_FALSE(log.contains("DB Error"));
  EXPECT_TRUE(db->tableExists("t"));
}

TEST_F(SqlDatabaseTransactionsTest, HeaderValuesAndValidation) {
  EXPECT_EQ(db->applicationID(), 0u);
  db->setApplicationID(0x50454C4Fu);
  EXPECT_EQ(db->applicationID(), 0x50454C4Fu);
  EXPECT_EQ(db->applicationIDString(), "PELO");
  db->setApplicationID(0xFFFFFFFEu);
  EXPECT_EQ(db->applicationID(), 0xFFFFFFFEu);

  ns::LogCapture log(true);
  db->setApplicationIDString("abc");
  EXPECT_TRUE(log.contains("setApplicationIDString: string passed is not exactly 4 chars long. (was 3)"));
  EXPECT_EQ(db->applicationIDString(), "abc ");
  db->setApplicationIDString("wxyz");
  EXPECT_EQ(db->applicationIDString(), "wxyz");

  db->setUserVersion(7);
  EXPECT_EQ(db->userVersion(), 7u);

  ns::Error error(SqlDatabaseErrorDomain, 0);
  EXPECT_TRUE(db->validateSQL_error("SELECT * FROM t", &error));
  EXPECT_FALSE(db->validateSQL_error("SELEC * FROM t", &error));
  EXPECT_EQ(error.domain(), ns::NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), SQLITE_ERROR);
  EXPECT_EQ(error.localizedDescription(), "near \"SELEC\": syntax error");
  // Validation changed nothing.
  EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (1)"));
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t"), 1);
}

}  // namespace
