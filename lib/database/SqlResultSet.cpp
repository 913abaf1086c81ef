#include "lib/database/SqlResultSet.h"

#include <sqlite3.h>

#include "lib/database/SqlDatabase.h"
#include "lib/database/SqlLog.h"
#include "lib/database/SqlStatement.h"
#include "platform/core/Str.h"
#include "platform/runtime/KeyValueCoding.h"

SqlResultSet::SqlResultSet(ns::Ref<SqlStatement> statement, ns::Ref<SqlDatabase> parentDB)
    : _parentDB(std::move(parentDB)), _statement(std::move(statement)) {
  if (_statement) _statement->setInUse(true);
}

SqlResultSet::~SqlResultSet() {
  close();
}

ns::Ref<SqlResultSet> SqlResultSet::resultSetWithStatement_usingParentDatabase(
    ns::Ref<SqlStatement> statement, ns::Ref<SqlDatabase> parentDB) {
  return ns::make<SqlResultSet>(std::move(statement), std::move(parentDB));
}

void SqlResultSet::close() {
  if (_statement) {
    _statement->reset();
    _statement = nullptr;
  }
  // Moved out first: telling the parent may drop its last reference, which closes it.
  if (auto parent = std::move(_parentDB)) {
    _parentDB = nullptr;
    parent->resultSetDidClose(this);
  }
}

bool SqlResultSet::next() {
  if (!_statement) return false;
  int rc = sqlite3_step(_statement->statement());
  sqlite3* db = _parentDB ? _parentDB->sqliteHandle() : nullptr;
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    std::string path = sqldb::describePath(_parentDB ? _parentDB->databasePath() : std::nullopt);
    sqldb::log(sqldb::cformat("%s:%d Database busy (", "-[SqlResultSet next]", 154) + path + ")");
    sqldb::log("Database busy");
  } else if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
    // fine
  } else if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
    sqldb::log(sqldb::cformat("Error calling sqlite3_step (%d: %s) rs", rc, sqlite3_errmsg(db)));
  } else {
    sqldb::log(sqldb::cformat("Unknown error calling sqlite3_step (%d: %s) rs", rc, sqlite3_errmsg(db)));
  }
  if (rc != SQLITE_ROW) close();
  return rc == SQLITE_ROW;
}

bool SqlResultSet::hasAnotherRow() {
  if (!_parentDB || !_parentDB->sqliteHandle()) return false;
  return sqlite3_errcode(_parentDB->sqliteHandle()) == SQLITE_ROW;
}

int SqlResultSet::columnCount() {
  if (!_statement) return 0;
  return sqlite3_column_count(_statement->statement());
}

std::optional<std::string> SqlResultSet::columnNameForIndex(int columnIdx) {
  if (!_statement || columnIdx < 0 || columnIdx >= columnCount()) return std::nullopt;
  const char* name = sqlite3_column_name(_statement->statement(), columnIdx);
  if (!name) return std::nullopt;
  return std::string(name);
}

namespace {

bool isAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Plain ASCII, the usual case, is lowered here; anything else goes through the full case mapping.
std::string lowercaseName(std::string_view name) {
  if (!isAscii(name)) return ns::str::lowercaseString(name);
  std::string lower(name);
  for (char& c : lower) c = asciiLower(c);
  return lower;
}

bool equalsLowered(std::string_view asciiName, const std::string& lowered) {
  if (asciiName.size() != lowered.size()) return false;
  for (std::size_t i = 0; i < asciiName.size(); ++i)
    if (asciiLower(asciiName[i]) != lowered[i]) return false;
  return true;
}

}  // namespace

const std::vector<std::string>& SqlResultSet::lowercaseColumnNames() {
  if (!_lowercaseColumnNames) {
    _lowercaseColumnNames.emplace();
    int count = columnCount();
    _lowercaseColumnNames->reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(_statement->statement(), i);
      _lowercaseColumnNames->push_back(name ? lowercaseName(name) : std::string());
    }
  }
  return *_lowercaseColumnNames;
}

const std::map<std::string, int>& SqlResultSet::columnNameToIndexMap() {
  if (!_columnNameToIndexMap) {
    _columnNameToIndexMap.emplace();
    int count = columnCount();
    for (int i = 0; i < count; ++i) {
      if (columnNameForIndex(i)) (*_columnNameToIndexMap)[lowercaseColumnNames()[i]] = i;
    }
  }
  return *_columnNameToIndexMap;
}

int SqlResultSet::columnIndexForName(const std::string& columnName) {
  // A row has few columns: a scan from the end (the later of two equal names wins) without
  // building a lowered copy of the name is cheaper than a map lookup.
  const auto& names = lowercaseColumnNames();
  if (isAscii(columnName)) {
    for (std::size_t i = names.size(); i-- > 0;)
      if (equalsLowered(columnName, names[i])) return static_cast<int>(i);
  } else {
    std::string lower = ns::str::lowercaseString(columnName);
    for (std::size_t i = names.size(); i-- > 0;)
      if (names[i] == lower) return static_cast<int>(i);
  }
  sqldb::log("Warning: I could not find the column named '" + ns::str::lowercaseString(columnName) + "'.");
  return -1;
}

// SQL NULL for a closed cursor and for an index outside the row, as SQLite reports such a column,
// without asking SQLite (which would overwrite the connection's last error with a range error).
int SqlResultSet::columnType(int columnIdx) {
  if (!_statement || columnIdx < 0 || columnIdx >= columnCount()) return SQLITE_NULL;
  return sqlite3_column_type(_statement->statement(), columnIdx);
}

int SqlResultSet::intForColumnIndex(int columnIdx) {
  if (!_statement || columnIdx < 0 || columnIdx >= columnCount()) return 0;
  return sqlite3_column_int(_statement->statement(), columnIdx);
}

long SqlResultSet::longForColumnIndex(int columnIdx) {
  return static_cast<long>(longLongIntForColumnIndex(columnIdx));
}

long long SqlResultSet::longLongIntForColumnIndex(int columnIdx) {
  if (!_statement || columnIdx < 0 || columnIdx >= columnCount()) return 0;
  return sqlite3_column_int64(_statement->statement(), columnIdx);
}

unsigned long long SqlResultSet::unsignedLongLongIntForColumnIndex(int columnIdx) {
  return static_cast<unsigned long long>(longLongIntForColumnIndex(columnIdx));
}

bool SqlResultSet::boolForColumnIndex(int columnIdx) {
  return intForColumnIndex(columnIdx) != 0;
}

double SqlResultSet::doubleForColumnIndex(int columnIdx) {
  if (!_statement || columnIdx < 0 || columnIdx >= columnCount()) return 0.0;
  return sqlite3_column_double(_statement->statement(), columnIdx);
}

std::optional<std::string> SqlResultSet::stringForColumnIndex(int columnIdx) {
  if (columnType(columnIdx) == SQLITE_NULL) return std::nullopt;
  sqlite3_stmt* stmt = _statement->statement();
  const unsigned char* text = sqlite3_column_text(stmt, columnIdx);
  if (!text) return std::nullopt;
  int bytes = sqlite3_column_bytes(stmt, columnIdx);
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
}

std::optional<ns::Date> SqlResultSet::dateForColumnIndex(int columnIdx) {
  if (columnType(columnIdx) == SQLITE_NULL) return std::nullopt;
  if (_parentDB && _parentDB->hasDateFormatter()) {
    auto text = stringForColumnIndex(columnIdx);
    if (!text) return std::nullopt;
    return _parentDB->dateFromString(*text);
  }
  return ns::Date::dateWithTimeIntervalSince1970(doubleForColumnIndex(columnIdx));
}

std::optional<ns::Data> SqlResultSet::dataForColumnIndex(int columnIdx) {
  if (columnType(columnIdx) == SQLITE_NULL) return std::nullopt;
  sqlite3_stmt* stmt = _statement->statement();
  const void* blob = sqlite3_column_blob(stmt, columnIdx);
  int bytes = sqlite3_column_bytes(stmt, columnIdx);
  if (!blob) return std::nullopt;
  return ns::Data(blob, static_cast<std::size_t>(bytes));
}

std::optional<ns::Data> SqlResultSet::dataNoCopyForColumnIndex(int columnIdx) {
  if (columnType(columnIdx) == SQLITE_NULL) return std::nullopt;
  sqlite3_stmt* stmt = _statement->statement();
  const void* blob = sqlite3_column_blob(stmt, columnIdx);
  int bytes = sqlite3_column_bytes(stmt, columnIdx);
  if (!blob) return std::nullopt;
  // No owner: the bytes belong to SQLite until the cursor moves.
  return ns::Data(std::shared_ptr<const void>(), static_cast<const std::uint8_t*>(blob),
                  static_cast<std::size_t>(bytes));
}

bool SqlResultSet::columnIndexIsNull(int columnIdx) {
  return columnType(columnIdx) == SQLITE_NULL;
}

const char* SqlResultSet::UTF8StringForColumnIndex(int columnIdx) {
  if (columnType(columnIdx) == SQLITE_NULL) return nullptr;
  return reinterpret_cast<const char*>(sqlite3_column_text(_statement->statement(), columnIdx));
}

ns::Value SqlResultSet::objectForColumnIndex(int columnIdx) {
  int type = columnType(columnIdx);
  ns::Value value;
  switch (type) {
    case SQLITE_INTEGER:
      value = ns::Value(static_cast<long long>(longLongIntForColumnIndex(columnIdx)));
      break;
    case SQLITE_FLOAT:
      value = ns::Value(doubleForColumnIndex(columnIdx));
      break;
    case SQLITE_BLOB:
      if (auto d = dataForColumnIndex(columnIdx)) value = ns::Value(*d);
      break;
    default:
      if (auto s = stringForColumnIndex(columnIdx)) value = ns::Value(*s);
      break;
  }
  if (value.isNil()) return ns::Value::null();
  return value;
}

std::optional<ns::Dictionary> SqlResultSet::resultDictionary() {
  int dataCount = _statement ? sqlite3_data_count(_statement->statement()) : 0;
  if (dataCount <= 0) {
    sqldb::log("Warning: There seem to be no columns in this set.");
    return std::nullopt;
  }
  ns::Dictionary dict;
  int count = columnCount();
  for (int i = 0; i < count; ++i) {
    auto name = columnNameForIndex(i);
    if (name) dict.set(ns::Value(*name), objectForColumnIndex(i));
  }
  return dict;
}

std::optional<ns::Dictionary> SqlResultSet::resultDict() {
  int dataCount = _statement ? sqlite3_data_count(_statement->statement()) : 0;
  if (dataCount <= 0) {
    sqldb::log("Warning: There seem to be no columns in this set.");
    return std::nullopt;
  }
  ns::Dictionary dict;
  for (const auto& [name, idx] : columnNameToIndexMap()) dict.set(ns::Value(name), objectForColumnIndex(idx));
  return dict;
}

void SqlResultSet::kvcMagic(ns::Object* object) {
  if (!object) return;
  int count = columnCount();
  for (int i = 0; i < count; ++i) {
    const char* text = UTF8StringForColumnIndex(i);
    if (!text) continue;
    auto name = columnNameForIndex(i);
    if (name) ns::setValue_forKey(object, ns::Value(text), *name);
  }
}
