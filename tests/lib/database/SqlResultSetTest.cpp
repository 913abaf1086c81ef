// The row cursor: stepping, column lookup by name, typed getters and row dictionaries.
#include "lib/database/SqlResultSet.h"

#include <gtest/gtest.h>

#include "lib/database/SqlDatabase.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

// A model object whose properties are set from a row by name.
class Episode : public ns::Object {
 public:
  std::string title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  int number() const { return number_; }
  void setNumber(int number) { number_ = number; }

 private:
  std::string title_ = "unset";
  int number_ = -1;
};

}  // namespace

PL_CLASS_NAMED(Episode, "DBTestEpisode", ns::Object) {
  cls.property<&Episode::title, &Episode::setTitle>("title", "C,N,V_title");
  cls.property<&Episode::number, &Episode::setNumber>("number", "N,V_number");
}

namespace {

class SqlResultSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = SqlDatabase::databaseWithPath(std::nullopt);
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate("CREATE TABLE t (id INTEGER, Name TEXT, score REAL, raw BLOB)"));
    ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?, ?, ?, ?)", 1, "one", 1.25, ns::Data("xy")));
    ASSERT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?, ?, ?, ?)", 2, ns::Value::null(),
                                  ns::Value::null(), ns::Data()));
  }
  ns::Ref<SqlDatabase> db;
};

TEST_F(SqlResultSetTest, NextWalksTheRowsAndClosesAtTheEnd) {
  auto rs = db->executeQuery("SELECT id FROM t ORDER BY id");
  ASSERT_TRUE(rs);
  EXPECT_TRUE(db->hasOpenResultSets());
  ASSERT_TRUE(rs->next());
  EXPECT_TRUE(rs->hasAnotherRow());
  EXPECT_EQ(rs->intForColumnIndex(0), 1);
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 2);
  EXPECT_FALSE(rs->next());
  EXPECT_TRUE(rs->isClosed());
  EXPECT_FALSE(db->hasOpenResultSets());
  EXPECT_FALSE(rs->next());
  rs->close();

  // A released cursor closes itself and frees its statement for the connection.
  db->executeQuery("SELECT id FROM t")->next();
  EXPECT_FALSE(db->hasOpenResultSets());
}

TEST_F(SqlResultSetTest, TypedGettersByIndexAndByName) {
  auto rs = db->executeQuery("SELECT id, Name, score, raw FROM t ORDER BY id");
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->columnCount(), 4);
  EXPECT_EQ(rs->columnNameForIndex(1), "Name");
  // Names match regardless of letter case.
  EXPECT_EQ(rs->intForColumn("ID"), 1);
  EXPECT_EQ(rs->stringForColumn("name"), "one");
  EXPECT_EQ(rs->doubleForColumn("SCORE"), 1.25);
  EXPECT_EQ(rs->dataForColumn("raw")->toString(), "xy");
  EXPECT_EQ(rs->dataNoCopyForColumnIndex(3)->toString(), "xy");
  EXPECT_STREQ(rs->UTF8StringForColumnName("name"), "one");
  EXPECT_TRUE(rs->boolForColumn("id"));
  EXPECT_EQ(rs->longForColumnIndex(0), 1);
  EXPECT_EQ(rs->unsignedLongLongIntForColumnIndex(0), 1u);

  EXPECT_EQ(rs->objectForColumnIndex(0).number().kind(), ns::Number::Kind::Int64);
  EXPECT_EQ(rs->objectForColumnIndex(2).number().kind(), ns::Number::Kind::Double);
  EXPECT_TRUE(rs->objectForColumnIndex(3).isData());
  EXPECT_EQ((*rs)["name"].string(), "one");
  EXPECT_EQ((*rs)[0].intValue(), 1);

  ASSERT_TRUE(rs->next());
  // NULL columns: nil or the null marker; a zero-length blob reads as nil.
  EXPECT_FALSE(rs->stringForColumnIndex(1));
  EXPECT_TRUE(rs->objectForColumnIndex(1).isNull());
  EXPECT_TRUE(rs->columnIsNull("score"));
  EXPECT_EQ(rs->doubleForColumn("score"), 0.0);
  EXPECT_FALSE(rs->dateForColumnIndex(2));
  EXPECT_FALSE(rs->columnIndexIsNull(3));
  EXPECT_FALSE(rs->dataForColumnIndex(3));
  EXPECT_TRUE(rs->objectForColumnIndex(3).isNull());
  EXPECT_EQ(rs->UTF8StringForColumnIndex(1), nullptr);
}

TEST_F(SqlResultSetTest, AnUnknownColumnNameWarnsAndReadsAsNothing) {
  auto rs = db->executeQuery("SELECT id, Name FROM t ORDER BY id");
  ASSERT_TRUE(rs && rs->next());
  ns::LogCapture log(true);
  EXPECT_EQ(rs->columnIndexForName("Nope"), -1);
  EXPECT_TRUE(log.contains("Warning: I could not find the column named 'nope'."));
  EXPECT_EQ(rs->intForColumn("nope"), 0);
  EXPECT_FALSE(rs->boolForColumn("nope"));
  EXPECT_TRUE(rs->columnIsNull("nope"));
  EXPECT_TRUE(rs->objectForColumnName("nope").isNull());
  EXPECT_FALSE(rs->stringForColumn("nope"));
  EXPECT_FALSE(rs->dataForColumn("nope"));
  // Reading a missing column leaves the cursor where it was.
  EXPECT_TRUE(rs->hasAnotherRow());
  EXPECT_EQ(rs->intForColumn("id"), 1);
}

TEST_F(SqlResultSetTest, ColumnNamesMatchRegardlessOfCaseAlsoBeyondAscii) {
  auto rs =
      db->executeQuery("SELECT id AS \"Ünïcode\", Name, 7 AS \"x_Y1\", 8 AS \"\u212A\" FROM t WHERE id = 1");
  ASSERT_TRUE(rs && rs->next());
  struct Case {
    const char* name;
    int index;
  } cases[] = {
      {"ünïcode", 0}, {"ÜNÏCODE", 0}, {"Ünïcode", 0}, {"name", 1},     {"NAME", 1},
      {"nAmE", 1},    {"x_y1", 2},    {"X_Y1", 2},    {"k", 3},        {"K", 3},
      {"nam", -1},    {"names", -1},  {"", -1},       {"unicode", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(rs->columnIndexForName(c.name), c.index) << c.name;
  EXPECT_EQ(rs->intForColumn("ÜNÏCODE"), 1);
  EXPECT_EQ(rs->stringForColumn("NAME"), "one");
  EXPECT_EQ(rs->columnNameToIndexMap().at("ünïcode"), 0);
}

TEST_F(SqlResultSetTest, RowDictionariesAndDuplicateColumnNames) {
  auto rs = db->executeQuery("SELECT id, Name, id AS ID FROM t WHERE id = 1");
  ASSERT_TRUE(rs && rs->next());
  auto row = rs->resultDictionary();
  ASSERT_TRUE(row);
  EXPECT_EQ(row->count(), 3u);
  EXPECT_EQ((*row)[ns::Value("Name")].string(), "one");
  auto older = rs->resultDict();
  ASSERT_TRUE(older);
  EXPECT_EQ(older->count(), 2u);  // "id" and "ID" are one lower-cased key
  EXPECT_EQ((*older)[ns::Value("name")].string(), "one");
  EXPECT_EQ(rs->columnIndexForName("id"), 2);  // the later of two equal names wins

  EXPECT_FALSE(rs->next());
  ns::LogCapture log(true);
  EXPECT_FALSE(rs->resultDictionary());
  EXPECT_TRUE(log.contains("Warning: There seem to be no columns in this set."));
}

TEST_F(SqlResultSetTest, KvcMagicSetsPropertiesNamedLikeTheColumns) {
  auto episode = ns::make<Episode>();
  auto rs = db->executeQuery("SELECT Name AS title, id AS number FROM t ORDER BY id");
  ASSERT_TRUE(rs && rs->next());
  rs->kvcMagic(episode);
  EXPECT_EQ(episode->title(), "one");
  EXPECT_EQ(episode->number(), 1);
  // A NULL column leaves its property alone.
  ASSERT_TRUE(rs->next());
  rs->kvcMagic(episode);
  EXPECT_EQ(episode->title(), "one");
  EXPECT_EQ(episode->number(), 2);

  auto unknown = db->executeQuery("SELECT 1 AS nosuchproperty");
  ASSERT_TRUE(unknown && unknown->next());
  EXPECT_THROW(unknown->kvcMagic(episode), ns::Exception);
}

TEST_F(SqlResultSetTest, AStepErrorEndsTheCursorWithALogLine) {
  db->makeFunctionNamed_maximumArguments_withBlock(
      "boom", 1, [](sqlite3_context* ctx, int, sqlite3_value**) { throw std::runtime_error("boom failed"); });
  auto rs = db->executeQuery("SELECT boom(id) FROM t");
  ASSERT_TRUE(rs);
  ns::LogCapture log(true);
  EXPECT_FALSE(rs->next());
  EXPECT_TRUE(log.contains("Error calling sqlite3_step (1: boom failed) rs"));
  EXPECT_TRUE(rs->isClosed());
}

}  // namespace
