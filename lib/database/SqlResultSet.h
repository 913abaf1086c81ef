#pragma once
// The row cursor a query hands back: steps its statement, maps column names to indexes and
// converts column values. Column indexes are 0-based. Once closed (by next() running out of
// rows, close(), or its connection closing) every getter answers a zero value, nil or the null
// marker instead of touching a finalized statement.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

class SqlDatabase;
class SqlStatement;

class SqlResultSet : public ns::Object {
 public:
  SqlResultSet(ns::Ref<SqlStatement> statement, ns::Ref<SqlDatabase> parentDB);
  ~SqlResultSet() override;

  // A cursor over the statement; marks the statement in use.
  static ns::Ref<SqlResultSet> resultSetWithStatement_usingParentDatabase(ns::Ref<SqlStatement> statement,
                                                                          ns::Ref<SqlDatabase> parentDB);

  // Advances to the next row; answers NO (and closes the cursor) when there is none or a step
  // failed.
  bool next();
  // The last step produced a row.
  bool hasAnotherRow();
  void close();
  bool isClosed() const { return _statement == nullptr; }

  int columnCount();
  std::optional<std::string> columnNameForIndex(int columnIdx);
  // Lower-cased column name to index; the later of two equal names wins.
  const std::map<std::string, int>& columnNameToIndexMap();
  // -1 (after a warning) when no column has that name; names match regardless of case.
  int columnIndexForName(const std::string& columnName);

  int intForColumnIndex(int columnIdx);
  int intForColumn(const std::string& columnName) {
    return intForColumnIndex(columnIndexForName(columnName));
  }
  long longForColumnIndex(int columnIdx);
  long longForColumn(const std::string& columnName) {
    return longForColumnIndex(columnIndexForName(columnName));
  }
  long long longLongIntForColumnIndex(int columnIdx);
  long long longLongIntForColumn(const std::string& columnName) {
    return longLongIntForColumnIndex(columnIndexForName(columnName));
  }
  unsigned long long unsignedLongLongIntForColumnIndex(int columnIdx);
  unsigned long long unsignedLongLongIntForColumn(const std::string& columnName) {
    return unsignedLongLongIntForColumnIndex(columnIndexForName(columnName));
  }
  bool boolForColumnIndex(int columnIdx);
  bool boolForColumn(const std::string& columnName) {
    return boolForColumnIndex(columnIndexForName(columnName));
  }
  double doubleForColumnIndex(int columnIdx);
  double doubleForColumn(const std::string& columnName) {
    return doubleForColumnIndex(columnIndexForName(columnName));
  }
  std::optional<std::string> stringForColumnIndex(int columnIdx);
  std::optional<std::string> stringForColumn(const std::string& columnName) {
    return stringForColumnIndex(columnIndexForName(columnName));
  }
  std::optional<ns::Date> dateForColumnIndex(int columnIdx);
  std::optional<ns::Date> dateForColumn(const std::string& columnName) {
    return dateForColumnIndex(columnIndexForName(columnName));
  }
  // A copy of the blob; nil for NULL, for a zero-length blob and for a bad index.
  std::optional<ns::Data> dataForColumnIndex(int columnIdx);
  std::optional<ns::Data> dataForColumn(const std::string& columnName) {
    return dataForColumnIndex(columnIndexForName(columnName));
  }
  // A view of SQLite's own bytes: valid only until the cursor moves, is reset or closes.
  std::optional<ns::Data> dataNoCopyForColumnIndex(int columnIdx);
  std::optional<ns::Data> dataNoCopyForColumn(const std::string& columnName) {
    return dataNoCopyForColumnIndex(columnIndexForName(columnName));
  }
  bool columnIndexIsNull(int columnIdx);
  bool columnIsNull(const std::string& columnName) {
    return columnIndexIsNull(columnIndexForName(columnName));
  }
  // SQLite's own text (valid until the cursor moves), or nullptr.
  const char* UTF8StringForColumnIndex(int columnIdx);
  const char* UTF8StringForColumnName(const std::string& columnName) {
    return UTF8StringForColumnIndex(columnIndexForName(columnName));
  }
  // By the column's type: a signed 64-bit number, a double, data or a string; the null marker for
  // NULL and for anything that reads as nil.
  ns::Value objectForColumnIndex(int columnIdx);
  ns::Value objectForColumnName(const std::string& columnName) {
    return objectForColumnIndex(columnIndexForName(columnName));
  }
  ns::Value operator[](int columnIdx) { return objectForColumnIndex(columnIdx); }
  ns::Value operator[](const std::string& columnName) { return objectForColumnName(columnName); }
  ns::Value operator[](const char* columnName) { return objectForColumnName(columnName); }

  // The current row keyed by each column's name as SQLite gives it; nil when the row has no
  // data columns.
  std::optional<ns::Dictionary> resultDictionary();
  // The older form, keyed by lower-cased column names.
  std::optional<ns::Dictionary> resultDict();

  // For every column whose text is not NULL, sets the object's property named like the column
  // (as SQLite names it) to that text through key-value coding; an unknown key raises as
  // key-value coding does.
  void kvcMagic(ns::Object* object);
  void kvcMagic(const ns::Ref<ns::Object>& object) { kvcMagic(object.get()); }

  const std::string& query() const { return _query; }
  void setQuery(const std::string& query) { _query = query; }
  const ns::Ref<SqlStatement>& statement() const { return _statement; }
  void setStatement(ns::Ref<SqlStatement> statement) { _statement = std::move(statement); }
  void setParentDB(ns::Ref<SqlDatabase> parentDB) { _parentDB = std::move(parentDB); }
  const ns::Ref<SqlDatabase>& parentDB() const { return _parentDB; }

 private:
  int columnType(int columnIdx);

  ns::Ref<SqlDatabase> _parentDB;
  ns::Ref<SqlStatement> _statement;
  std::string _query;
  // The lower-cased name of each column, by index, read once per cursor.
  const std::vector<std::string>& lowercaseColumnNames();

  std::optional<std::map<std::string, int>> _columnNameToIndexMap;
  std::optional<std::vector<std::string>> _lowercaseColumnNames;
};
