// The connection: opening, binding every kind of value, busy retries, closing, updates and the
// error paths, on real SQLite files.
#include "lib/database/SqlDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>

#include "lib/database/SqlResultSet.h"
#include "platform/core/Log.h"
#include "platform/testing/Sandbox.h"
#include "platform/text/DateFormatter.h"

namespace {

ns::Ref<SqlDatabase> openDatabase(std::optional<std::string> path) {
  auto db = SqlDatabase::databaseWithPath(std::move(path));
  EXPECT_TRUE(db->open());
  return db;
}

struct TypedValue {
  std::string type;
  ns::Value value;
};

// typeof(x) and x of the single row of t.
TypedValue readBack(const ns::Ref<SqlDatabase>& db) {
  auto rs = db->executeQuery("SELECT typeof(x), x FROM t");
  EXPECT_TRUE(rs && rs->next());
  TypedValue v{rs->stringForColumnIndex(0).value_or("?"), rs->objectForColumnIndex(1)};
  rs->close();
  return v;
}

TEST(SqlDatabaseOpenTest, NoPathIsInMemoryAndEmptyPathIsTemporary) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);

  auto memory = openDatabase(std::nullopt);
  EXPECT_STREQ(memory->sqlitePath(), ":memory:");
  EXPECT_TRUE(memory->executeUpdate("CREATE TABLE t (x)"));
  EXPECT_TRUE(memory->executeUpdate("INSERT INTO t VALUES (?)", 7));
  EXPECT_EQ(memory->intForQuery("SELECT x FROM t"), 7);

  auto temporary = openDatabase(std::string());
  EXPECT_TRUE(temporary->executeUpdate("CREATE TABLE t (x)"));
  EXPECT_TRUE(temporary->executeUpdate("INSERT INTO t VALUES (?)", 8));
  EXPECT_EQ(temporary->intForQuery("SELECT x FROM t"), 8);

  // Neither left a file behind in the working folder.
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  std::filesystem::current_path(previous);

  auto onDisk = openDatabase((dir / "a.db").string());
  EXPECT_TRUE(onDisk->executeUpdate("CREATE TABLE t (x)"));
  EXPECT_TRUE(std::filesystem::exists((dir / "a.db").string()));
  EXPECT_TRUE(onDisk->goodConnection());
  EXPECT_TRUE(onDisk->close());
  EXPECT_FALSE(onDisk->goodConnection());
}

TEST(SqlDatabaseOpenTest, AFailedOpenIsRetriedByTheNextOpen) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  std::string path = (dir / "missing" / "a.db").string();
  auto db = SqlDatabase::databaseWithPath(path);
  {
    ns::LogCapture log(true);
    EXPECT_FALSE(db->open());
    EXPECT_TRUE(log.contains("error opening!: 14"));
  }
  EXPECT_EQ(db->sqliteHandle(), nullptr);

  std::filesystem::create_directory(dir / "missing");
  EXPECT_TRUE(db->open());
  EXPECT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(SqlDatabaseOpenTest, APathHoldingANulOpensNothing) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto db = SqlDatabase::databaseWithPath((dir / "library").string() + std::string("\0.db", 4));
  ns::LogCapture log(true);
  EXPECT_FALSE(db->open());
  EXPECT_TRUE(log.contains("error opening!: 14"));
  EXPECT_EQ(db->sqliteHandle(), nullptr);
  // Nothing was made under the text before the NUL.
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Opened read-only as a URI: a path with the URI's reserved characters still names its own file,
// and an immutable open of a write-ahead store makes nothing beside it.
TEST(SqlDatabaseOpenTest, AReadOnlyOpenNamesItsFileAndAnImmutableOneMakesNoJournal) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("a?b%41#c");
  const std::string path = (dir / "library?x=1%2F.db").string();
  {
    auto db = openDatabase(path);
    EXPECT_EQ(db->stringForQuery("PRAGMA journal_mode=WAL;"), "wal");
    EXPECT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
    EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?)", 7));
    db->close();
  }
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  for (bool immutable : {true, false}) {
    SCOPED_TRACE(immutable);
    auto db = SqlDatabase::databaseWithPath(path);
    ASSERT_TRUE(db->openReadOnly(immutable));
    EXPECT_EQ(db->intForQuery("SELECT x FROM t"), 7);
    EXPECT_TRUE(db->isReadOnly());
    EXPECT_FALSE(db->executeUpdate("INSERT INTO t VALUES (8)"));
    if (immutable) {
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    }
    db->close();
  }
}

TEST(SqlDatabaseOpenTest, StatementsOnAClosedConnectionAreRefusedWithALogLine) {
  auto db = SqlDatabase::databaseWithPath(std::nullopt);
  ns::LogCapture log(true);
  EXPECT_EQ(db->executeQuery("SELECT 1"), nullptr);
  EXPECT_FALSE(db->executeUpdate("CREATE TABLE t (x)"));
  EXPECT_EQ(db->lastInsertRowId(), 0);
  EXPECT_EQ(db->changes(), 0);
  EXPECT_TRUE(log.contains("The SqlDatabase <SqlDatabase: 0x"));
  EXPECT_TRUE(log.contains("> is not open."));
}

TEST(SqlDatabaseBindTest, EveryKindOfValueIsStoredAsDocumented) {
  auto db = openDatabase(std::nullopt);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  auto store = [&](const ns::Value& v) {
    EXPECT_TRUE(db->executeUpdate("DELETE FROM t"));
    EXPECT_TRUE(db->executeUpdate("INSERT INTO t (x) VALUES (?)", v));
    return readBack(db);
  };

  // The value read back, as SQLite's typeof() and the value's description.
  struct Case {
    ns::Value value;
    const char* type;
    ns::Value readBack;
  } cases[] = {
      {ns::Value::null(), "null", ns::Value::null()},
      {ns::Value(), "null", ns::Value::null()},
      {true, "integer", 1LL},
      {std::numeric_limits<uint32_t>::max(), "integer", 4294967295LL},
      {std::numeric_limits<uint64_t>::max(), "integer", -1LL},
      {static_cast<long long>(-9000000000LL), "integer", -9000000000LL},
      {1.5f, "real", 1.5},
      {ns::Date::dateWithTimeIntervalSince1970(1000), "real", 1000.0},
      {ns::Data(std::string("a\0b", 3)), "blob", ns::Data(std::string("a\0b", 3))},
  };
  for (const auto& c : cases) {
    auto stored = store(c.value);
    EXPECT_EQ(stored.type, c.type) << c.value.description();
    EXPECT_EQ(stored.value.description(), c.readBack.description()) << c.value.description();
  }
  EXPECT_EQ(store(ns::Data()).type, "blob");
  EXPECT_EQ(db->intForQuery("SELECT length(x) FROM t"), 0);

  // Text keeps its full length, also past an embedded NUL.
  auto text = store(std::string("ab\0cd", 5));
  EXPECT_EQ(text.type, "text");
  EXPECT_EQ(db->intForQuery("SELECT length(CAST(x AS BLOB)) FROM t"), 5);

  // Containers are stored as their description.
  auto array = store(ns::Array{ns::Value(1), ns::Value("b")});
  EXPECT_EQ(array.type, "text");
  EXPECT_EQ(array.value.string(), ns::Value(ns::Array{ns::Value(1), ns::Value("b")}).description());
}

TEST(SqlDatabaseBindTest, ADateFormatterStoresAndReadsDatesAsText) {
  auto db = openDatabase(std::nullopt);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  db->setDateFormat(SqlDatabase::storeableDateFormat("yyyy-MM-dd HH:mm:ss"));
  ASSERT_TRUE(db->hasDateFormatter());
  ASSERT_TRUE(
      db->executeUpdate("INSERT INTO t (x) VALUES (?)", ns::Date::dateWithTimeIntervalSince1970(1000)));
  auto v = readBack(db);
  EXPECT_EQ(v.type, "text");
  EXPECT_EQ(v.value.string(), "1970-01-01 00:16:40");

  auto date = db->dateForQuery("SELECT x FROM t");
  ASSERT_TRUE(date);
  EXPECT_EQ(date->timeIntervalSince1970(), 1000.0);

  // Text that does not match the format reads as no date.
  ASSERT_TRUE(db->executeUpdate("UPDATE t SET x = 'yesterday'"));
  EXPECT_FALSE(db->dateForQuery("SELECT x FROM t"));

  db->setDateFormat(nullptr);
  ASSERT_TRUE(db->executeUpdate("UPDATE t SET x = 1000.5"));
  EXPECT_EQ(db->dateForQuery("SELECT x FROM t")->timeIntervalSince1970(), 1000.5);
}

TEST(SqlDatabaseBindTest, ArraysListsAndDictionariesFillTheParameters) {
  auto db = openDatabase(std::nullopt);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (a, b, c)"));

  // Array elements first, the list continues after them.
  ns::Array head{ns::Value(1)};
  ns::Array tail{ns::Value(2), ns::Value(3), ns::Value(99)};
  auto rs =
      db->executeQuery_withArgumentsInArray_orDictionary_orVAList("SELECT ?, ?, ?", &head, nullptr, &tail);
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 1);
  EXPECT_EQ(rs->intForColumnIndex(1), 2);
  EXPECT_EQ(rs->intForColumnIndex(2), 3);
  rs->close();

  ns::LogCapture log(true);
  // Fewer elements than placeholders: refused.
  EXPECT_EQ(db->executeQuery_withArgumentsInArray("SELECT ?, ?", ns::Array{ns::Value(1)}), nullptr);
  EXPECT_TRUE(log.contains("Error: the bind count is not correct for the # of variables (executeQuery)"));
  // More: the extra ones are never read.
  EXPECT_EQ(db->intForQuery("SELECT ?", 5, 6, 7), 5);

  ns::Dictionary named{
      {ns::Value("a"), ns::Value(10)}, {ns::Value("b"), ns::Value("x")}, {ns::Value("c"), ns::Value::null()}};
  EXPECT_TRUE(db->executeUpdate_withParameterDictionary("INSERT INTO t VALUES (:a, :b, :c)", named));
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t WHERE a = 10 AND b = 'x' AND c IS NULL"), 1);

  // A key naming no parameter is logged and skipped: fine while every parameter got a value.
  ns::Dictionary extra{{ns::Value("a"), ns::Value(11)}, {ns::Value("zz"), ns::Value(0)}};
  EXPECT_TRUE(db->executeUpdate_withParameterDictionary("INSERT INTO t (a) VALUES (:a)", extra));
  EXPECT_TRUE(log.contains("Could not find index for zz"));
  ns::Dictionary missing{{ns::Value("zz"), ns::Value(0)}};
  EXPECT_FALSE(db->executeUpdate_withParameterDictionary("INSERT INTO t (a) VALUES (:a)", missing));
  EXPECT_TRUE(
      log.contains("Error: the bind count (0) is not correct for the # of variables in the query (1) (INSERT "
                   "INTO t (a) VALUES "
                   "(:a)) (executeUpdate)"));
}

TEST(SqlDatabaseBindTest, FormatsBecomePlaceholdersAndArguments) {
  std::string sql;
  ns::Array args;
  SqlDatabase::extractSQL_argumentsList_intoString_arguments(
      "INSERT INTO t VALUES (%@, %d, %s, %lld, %llu, %hi, %f, %g, %c, %@)",
      {SqlFormatArg(ns::Value("x")), 42, "text", -5000000000LL, 18446744073709551615ULL, 7, 2.5, 0.25, 'z',
       nullptr},
      sql, args);
  EXPECT_EQ(sql, "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, NULL)");
  ASSERT_EQ(args.size(), 9u);
  EXPECT_EQ(args[0].string(), "x");
  EXPECT_EQ(args[1].number().kind(), ns::Number::Kind::Int32);
  EXPECT_EQ(args[2].string(), "text");
  EXPECT_EQ(args[3].longLongValue(), -5000000000LL);
  EXPECT_EQ(args[4].number().kind(), ns::Number::Kind::UInt64);
  EXPECT_EQ(args[5].number().kind(), ns::Number::Kind::Int16);
  EXPECT_EQ(args[6].number().kind(), ns::Number::Kind::Double);
  EXPECT_EQ(args[7].number().kind(), ns::Number::Kind::Float);
  EXPECT_EQ(args[8].string(), "z");

  // "%%" yields one '%' and the next character is read as a conversion again; incomplete
  // multi-letter conversions copy their first letter; a missing argument is NULL, never garbage.
  sql.clear();
  args.clear();
  SqlDatabase::extractSQL_argumentsList_intoString_arguments("a%%d b%hx c%llx d%q e%l f%@", {1}, sql, args);
  EXPECT_EQ(sql, "a%? bhx clx dq el fNULL");
  ASSERT_EQ(args.size(), 1u);

  auto db = openDatabase(std::nullopt);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (a, b)"));
  EXPECT_TRUE(db->executeUpdateWithFormat("INSERT INTO t VALUES (%d, %@)", 3, ns::Value()));
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t WHERE a = 3 AND b IS NULL"), 1);
  auto rs = db->executeQueryWithFormat("SELECT b FROM t WHERE a = %ld", 3L);
  ASSERT_TRUE(rs && rs->next());
  EXPECT_TRUE(rs->columnIndexIsNull(0));
}

TEST(SqlDatabaseBindTest, OnlyPlainDirectivesOfTheTableTakeArguments) {
  struct Case {
    const char* format;
    const char* sql;
    std::size_t arguments;
  } cases[] = {
      {"%%%d", "%%?", 1},      {"%%%%", "%%%", 0}, {"x%", "x", 0},      {"%ll", "l", 0},
      {"%ll%d", "l?", 1},      {"%q%u", "q?", 1},  {"%qi%qu", "??", 2}, {"%lu %ld", "? ?", 2},
      {"%hu%hh", "?hh", 1},    {"%5d", "5d", 0},   {"%-d", "-d", 0},    {"%1$d", "1$d", 0},
      {"%.2f", ".2f", 0},      {"%*d", "*d", 0},   {"%Ld", "Ld", 0},    {"%lld%llu", "??", 2},
      {"%x%D%U%i", "x???", 3}, {"%lx", "lx", 0},   {"100%", "100", 0},  {"%@%@%@%@", "???NULL", 3},
  };
  for (const auto& c : cases) {
    std::string sql;
    ns::Array args;
    SqlDatabase::extractSQL_argumentsList_intoString_arguments(c.format, {1, 2, 3}, sql, args);
    EXPECT_EQ(sql, c.sql) << c.format;
    EXPECT_EQ(args.size(), c.arguments) << c.format;
  }
}

TEST(SqlDatabaseBusyTest, ASecondConnectionWaitsForTheRetryIntervalThenSucceedsAfterCommit) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto a = openDatabase((dir / "shared.db").string());
  auto b = openDatabase((dir / "shared.db").string());
  ASSERT_TRUE(a->executeUpdate("CREATE TABLE t (x)"));
  // B knows the schema already, so its insert prepares and the lock is met when it steps.
  EXPECT_EQ(b->intForQuery("SELECT count(*) FROM t"), 0);
  ASSERT_TRUE(a->beginTransaction());
  ASSERT_TRUE(a->executeUpdate("INSERT INTO t VALUES (1)"));

  ns::LogCapture log(true);
  b->setMaxBusyRetryTimeInterval(0.3);
  auto start = std::chrono::steady_clock::now();
  ns::Error error(SqlDatabaseErrorDomain, 0);
  EXPECT_FALSE(b->executeUpdate_withErrorAndBindings("INSERT INTO t VALUES (?)", &error, 2));
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The handler keeps retrying until the interval has passed, never less.
  EXPECT_GE(waited, 0.3);
  EXPECT_EQ(error.domain(), "SqlDatabase");
  EXPECT_EQ(error.code(), SQLITE_BUSY);
  EXPECT_EQ(error.localizedDescription(), "database is locked");
  EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (5: database is locked) eu"));

  // With 0 no handler is installed: the first busy answer is final.
  b->setMaxBusyRetryTimeInterval(0);
  EXPECT_FALSE(b->executeUpdate("INSERT INTO t VALUES (3)"));
  EXPECT_EQ(b->lastErrorCode(), SQLITE_BUSY);
  EXPECT_FALSE(b->lastErrorIsUnreadableFile());

  ASSERT_TRUE(a->commit());
  EXPECT_FALSE(a->inTransaction());
  b->setMaxBusyRetryTimeInterval(2.0);
  EXPECT_TRUE(b->executeUpdate("INSERT INTO t VALUES (4)"));
  EXPECT_EQ(a->intForQuery("SELECT count(*) FROM t"), 2);
}

TEST(SqlDatabaseCloseTest, CloseFinalizesLeakedStatementsAndClosesOpenResultSets) {
  pltest::Sandbox sandbox;
  const std::filesystem::path dir = sandbox.temporaryFolder("db");
  auto db = openDatabase((dir / "a.db").string());
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (1), (2)"));

  auto rs = db->executeQuery("SELECT x FROM t");
  ASSERT_TRUE(rs && rs->next());
  EXPECT_TRUE(db->hasOpenResultSets());

  sqlite3_stmt* leaked = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db->sqliteHandle(), "SELECT 1", -1, &leaked, nullptr), SQLITE_OK);

  ns::LogCapture log(true);
  EXPECT_TRUE(db->close());
  EXPECT_EQ(log.messages().size(), 1u);
  EXPECT_TRUE(log.contains("Closing leaked statement"));
  EXPECT_EQ(db->sqliteHandle(), nullptr);
  EXPECT_FALSE(db->hasOpenResultSets());

  // The closed cursor answers zero values instead of reading a finalized statement.
  EXPECT_TRUE(rs->isClosed());
  EXPECT_FALSE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 0);
  EXPECT_EQ(rs->longLongIntForColumnIndex(0), 0);
  EXPECT_EQ(rs->doubleForColumnIndex(0), 0.0);
  EXPECT_FALSE(rs->stringForColumnIndex(0));
  EXPECT_FALSE(rs->dataForColumnIndex(0));
  EXPECT_TRUE(rs->columnIndexIsNull(0));
  EXPECT_TRUE(rs->objectForColumnIndex(0).isNull());
  EXPECT_EQ(rs->columnCount(), 0);
  EXPECT_FALSE(rs->hasAnotherRow());

  // Closing again is harmless.
  EXPECT_TRUE(db->close());
  rs->close();
}

TEST(SqlDatabaseCloseTest, AStatementObjectHeldPastCloseIsNotFinalizedTwice) {
  auto db = openDatabase(std::nullopt);
  auto rs = db->executeQuery("SELECT 1");
  ASSERT_TRUE(rs && rs->next());
  ns::Ref<SqlStatement> kept = rs->statement();
  rs->close();
  ns::LogCapture log(true);
  EXPECT_TRUE(db->close());
  // The connection finalized it itself, so nothing was left over as "leaked".
  EXPECT_FALSE(log.contains("Closing leaked statement"));
  EXPECT_EQ(kept->statement(), nullptr);
  kept = nullptr;  // its release finalizes nothing a second time
}

TEST(SqlDatabaseUpdateTest, AnUpdateThatReturnsRowsFailsWithTheDocumentedLines) {
  auto db = openDatabase(std::nullopt);
  ns::LogCapture log(true);
  ns::Error error(SqlDatabaseErrorDomain, 0);
  EXPECT_FALSE(db->executeUpdate_withErrorAndBindings("SELECT 1", &error));
  auto messages = log.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Unknown error calling sqlite3_step (100: another row available) eu");
  EXPECT_EQ(messages[1], "DB Query: SELECT 1");
  EXPECT_EQ(error.code(), SQLITE_ROW);

  // SQLITE_ERROR at step time, and a preparation failure that fills the error.
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x UNIQUE)"));
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (1)"));
  log.clear();
  EXPECT_FALSE(db->executeUpdate_withErrorAndBindings("INSERT INTO t VALUES (?)", &error, 1));
  EXPECT_EQ(error.code(), SQLITE_CONSTRAINT);
  EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (19: UNIQUE constraint failed: t.x) eu"));

  log.clear();
  EXPECT_FALSE(db->executeUpdate_withErrorAndBindings("INSRT INTO t VALUES (1)", &error));
  EXPECT_EQ(error.code(), SQLITE_ERROR);
  EXPECT_EQ(error.localizedDescription(), "near \"INSRT\": syntax error");
  messages = log.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "DB Error: 1 \"near \"INSRT\": syntax error\"");
  EXPECT_EQ(messages[1], "DB Query: INSRT INTO t VALUES (1)");
  EXPECT_EQ(messages[2], "DB Path: (null)");

  // Without logsErrors only the always-logged lines remain.
  db->setLogsErrors(false);
  log.clear();
  EXPECT_FALSE(db->executeUpdate("SELECT 1"));
  EXPECT_TRUE(log.messages().empty());
}

TEST(SqlDatabaseUpdateTest, AValueSQLiteRefusesToBindFailsTheStatementInsteadOfStoringNull) {
  pltest::Sandbox sandbox;
  auto db = openDatabase((sandbox.temporaryFolder("db") / "big.db").string());
  db->setShouldCacheStatements(true);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (k PRIMARY KEY, x)"));
  ASSERT_TRUE(db->executeUpdate("INSERT OR REPLACE INTO t VALUES (?, ?)", "a", "kept"));
  // Longer than the connection allows: SQLite refuses the text and leaves its parameter NULL.
  sqlite3_limit(db->sqliteHandle(), SQLITE_LIMIT_LENGTH, 100);
  const std::string tooLong(101, 'y');
  ns::LogCapture log(true);
  ns::Error error(SqlDatabaseErrorDomain, 0);
  EXPECT_FALSE(
      db->executeUpdate_withErrorAndBindings("INSERT OR REPLACE INTO t VALUES (?, ?)", &error, "a", tooLong));
  EXPECT_EQ(error.code(), SQLITE_TOOBIG);
  EXPECT_TRUE(
      log.contains("Error: an argument could not be bound (18: string or blob too big) (INSERT OR "
                   "REPLACE INTO t VALUES (?, ?))"));
  EXPECT_FALSE(db->executeUpdate_withArgumentsInArray(
      "INSERT OR REPLACE INTO t VALUES (?, ?)", ns::Array{ns::Value("a"), ns::Value(ns::Data(tooLong))}));
  EXPECT_FALSE(db->executeUpdate_withParameterDictionary(
      "UPDATE t SET x = :x", ns::Dictionary{{ns::Value("x"), ns::Value(tooLong)}}));
  EXPECT_EQ(db->executeQuery("SELECT x FROM t WHERE x = ?", tooLong), nullptr);
  // The stored value is untouched, and the statement works again with a value that fits.
  EXPECT_EQ(db->stringForQuery("SELECT x FROM t WHERE k = 'a'"), "kept");
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t"), 1);
  EXPECT_TRUE(db->executeUpdate("INSERT OR REPLACE INTO t VALUES (?, ?)", "a", "fits"));
  EXPECT_EQ(db->stringForQuery("SELECT x FROM t WHERE k = 'a'"), "fits");
}

TEST(SqlDatabaseUpdateTest, StatusReflectsTheLastStatement) {
  auto db = openDatabase(std::nullopt);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (id INTEGER PRIMARY KEY, x)"));
  ASSERT_TRUE(db->executeUpdate("INSERT INTO t (x) VALUES (?), (?), (?)", 1, 2, 3));
  EXPECT_EQ(db->lastInsertRowId(), 3);
  ASSERT_TRUE(db->executeUpdate("UPDATE t SET x = 0 WHERE id > 1"));
  EXPECT_EQ(db->changes(), 2);
  EXPECT_FALSE(db->hadError());

  ns::LogCapture log(true);
  EXPECT_FALSE(db->executeUpdate("INSERT INTO nowhere VALUES (1)"));
  EXPECT_TRUE(db->hadError());
  EXPECT_EQ(db->lastErrorCode(), SQLITE_ERROR);
  EXPECT_EQ(db->lastErrorMessage(), "no such table: nowhere");
  EXPECT_FALSE(db->lastErrorIsUnreadableFile());
  EXPECT_EQ(db->lastError().domain(), "SqlDatabase");
  EXPECT_EQ(db->lastError().localizedDescription(), "no such table: nowhere");
}

TEST(SqlDatabaseUpdateTest, AFileThatIsNoDatabaseReadsAsUnreadable) {
  pltest::Sandbox sandbox;
  const auto path = sandbox.temporaryFolder("db") / "noise.db";
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>((i * 131 + 7) & 0xff));
  }
  auto db = openDatabase(path.string());
  ns::LogCapture log(true);
  EXPECT_FALSE(db->stringForQuery("PRAGMA journal_mode=WAL;"));
  EXPECT_EQ(db->lastErrorCode(), SQLITE_NOTADB);
  EXPECT_TRUE(db->lastErrorIsUnreadableFile());
}

TEST(SqlDatabaseUpdateTest, AStatementStartedWhileAnotherRunsIsRefused) {
  auto db = openDatabase(std::nullopt);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  bool nestedResult = true;
  db->makeFunctionNamed_maximumArguments_withBlock(
      "nested", 0, [&](sqlite3_context* ctx, int, sqlite3_value**) {
        nestedResult = db->executeUpdate("INSERT INTO t VALUES (99)");
        sqlite3_result_int(ctx, 1);
      });
  ns::LogCapture log(true);
  EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (nested())"));
  EXPECT_FALSE(nestedResult);
  EXPECT_TRUE(log.contains("is currently in use."));
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t"), 1);
}

TEST(SqlDatabaseCacheTest, CachedStatementsAreReusedAndABadBindDropsThemFromTheCache) {
  auto db = openDatabase(std::nullopt);
  db->setShouldCacheStatements(true);
  ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (x)"));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?)", i));
  auto statement = db->cachedStatementForQuery("INSERT INTO t VALUES (?)");
  ASSERT_TRUE(statement);
  EXPECT_EQ(statement->useCount(), 3);
  EXPECT_NE(statement->description().find("3 hit(s) for query INSERT INTO t VALUES (?)"), std::string::npos);

  // Two cursors over one SQL text at once need two statements.
  auto first = db->executeQuery("SELECT x FROM t WHERE x >= ?", 0);
  auto second = db->executeQuery("SELECT x FROM t WHERE x >= ?", 1);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->statement(), second->statement());
  EXPECT_EQ(db->cachedStatements()->at("SELECT x FROM t WHERE x >= ?").size(), 2u);
  first->close();
  second->close();

  // The bind count fails on a cached statement: it is finalized and leaves the cache.
  ns::LogCapture log(true);
  EXPECT_EQ(db->executeQuery_withArgumentsInArray("SELECT x FROM t WHERE x >= ?", {}), nullptr);
  EXPECT_EQ(db->cachedStatements()->at("SELECT x FROM t WHERE x >= ?").size(), 1u);
  EXPECT_FALSE(db->executeUpdate_withArgumentsInArray("INSERT INTO t VALUES (?)", {}));
  EXPECT_EQ(db->cachedStatements()->count("INSERT INTO t VALUES (?)"), 0u);
  EXPECT_EQ(statement->statement(), nullptr);

  // Later uses prepare afresh and work.
  EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?)", 10));
  EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t WHERE x >= ?", 0), 4);

  db->setShouldCacheStatements(false);
  EXPECT_FALSE(db->cachedStatements());
  EXPECT_TRUE(db->close());
}

TEST(SqlDatabaseMiscTest, VersionsKeysAndStubs) {
  EXPECT_EQ(SqlDatabase::SqlDBUserVersion(), "2.3");
  EXPECT_EQ(SqlDatabase::SqlDBVersion(), 0x230u);
  EXPECT_EQ(SqlDatabase::sqliteLibVersion(), std::string(sqlite3_libversion()));
  EXPECT_TRUE(SqlDatabase::isSQLiteThreadSafe());

  auto db = openDatabase(std::nullopt);
  EXPECT_FALSE(db->setKey("secret"));
  EXPECT_FALSE(db->rekeyWithData(ns::Data("secret")));

  ns::LogCapture log(true);
  EXPECT_EQ(db->busyRetryTimeout(), -1);
  db->setBusyRetryTimeout(5);
  auto messages = log.messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], "-[SqlDatabase busyRetryTimeout]:267");
  EXPECT_EQ(messages[1], "SqlDB: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
  EXPECT_EQ(messages[2], "-[SqlDatabase setBusyRetryTimeout:]:273");
  EXPECT_EQ(messages[3], "SqlDB: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:");

  db->setTraceExecution(true);
  log.clear();
  EXPECT_TRUE(db->executeUpdate("SELECT ?", ns::Data("abc")) == false);
  EXPECT_TRUE(log.contains("executeUpdate: SELECT ?"));
  EXPECT_TRUE(log.contains("data: 3 bytes"));
}

}  // namespace
