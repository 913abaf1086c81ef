// Convenience operations of SqlDatabase: single values, schema questions, the header values
// application id and user version, and SQL validation.
#include <sqlite3.h>

#include "lib/database/SqlDatabase.h"
#include "lib/database/SqlLog.h"
#include "platform/core/Str.h"

ns::Ref<SqlResultSet> SqlDatabase::runSingleValueQuery(const std::string& sql, ns::Array args) {
  auto rs = executeQuery_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, nullptr, &args);
  if (rs && rs->next()) return rs;
  return nullptr;
}

bool SqlDatabase::tableExists(const std::string& tableName) {
  auto rs = executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                         ns::str::lowercaseString(tableName));
  if (!rs) return false;
  bool found = rs->next();
  rs->close();
  return found;
}

ns::Ref<SqlResultSet> SqlDatabase::getSchema() {
  return executeQuery(
      "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * FROM "
      "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, "
      "name");
}

ns::Ref<SqlResultSet> SqlDatabase::getTableSchema(const std::string& tableName) {
  // The name sits between quotes in the SQL text: a quote inside it is doubled so that it cannot
  // end the literal early.
  return executeQuery("pragma table_info('" + ns::str::replaceOccurrences(tableName, "'", "''") + "')");
}

bool SqlDatabase::columnExists_inTableWithName(const std::string& columnName, const std::string& tableName) {
  auto rs = getTableSchema(ns::str::lowercaseString(tableName));
  if (!rs) return false;
  std::string wanted = ns::str::lowercaseString(columnName);
  bool found = false;
  while (rs->next()) {
    auto name = rs->stringForColumn("name");
    if (name && ns::str::lowercaseString(*name) == wanted) {
      found = true;
      break;
    }
  }
  rs->close();
  return found;
}

uint32_t SqlDatabase::applicationID() {
  uint32_t r = 0;
  auto rs = executeQuery("pragma application_id");
  if (rs && rs->next()) r = static_cast<uint32_t>(rs->longLongIntForColumnIndex(0));
  if (rs) rs->close();
  return r;
}

void SqlDatabase::setApplicationID(uint32_t appID) {
  auto rs = executeQuery(sqldb::cformat("pragma application_id=%d", static_cast<int>(appID)));
  if (rs) {
    rs->next();
    rs->close();
  }
}

std::string SqlDatabase::applicationIDString() {
  uint32_t code = applicationID();
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8)
    ns::str::appendUtf8(out, static_cast<char32_t>((code >> shift) & 0xFF));
  return out;
}

void SqlDatabase::setApplicationIDString(const std::string& s) {
  std::u16string units = ns::str::toUtf16(s);
  if (units.size() != 4)
    sqldb::log(sqldb::cformat("setApplicationIDString: string passed is not exactly 4 chars long. (was %ld)",
                              static_cast<long>(units.size())));
  // Cut to four characters, or padded with blanks as four-character codes are.
  uint32_t code = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    uint32_t c = i < units.size() ? (units[i] & 0xFF) : ' ';
    code = (code << 8) | c;
  }
  setApplicationID(code);
}

uint32_t SqlDatabase::userVersion() {
  uint32_t r = 0;
  auto rs = executeQuery("pragma user_version");
  if (rs && rs->next()) r = static_cast<uint32_t>(rs->longLongIntForColumnIndex(0));
  if (rs) rs->close();
  return r;
}

void SqlDatabase::setUserVersion(uint32_t version) {
  auto rs = executeQuery(sqldb::cformat("pragma user_version = %d", static_cast<int>(version)));
  if (rs) {
    rs->next();
    rs->close();
  }
}

bool SqlDatabase::validateSQL_error(const std::string& sql, ns::Error* outErr) {
  if (!databaseExists()) {
    ns::setError(outErr,
                 ns::Error::withDescription(ns::NSCocoaErrorDomain, SQLITE_MISUSE, "database is not open"));
    return false;
  }
  sqlite3_stmt* pStmt = nullptr;
  bool validationSucceeded = true;
  int rc = sqlite3_prepare_v2(_db, sql.data(), static_cast<int>(sql.size()), &pStmt, nullptr);
  if (rc != SQLITE_OK) {
    validationSucceeded = false;
    ns::setError(outErr,
                 ns::Error::withDescription(ns::NSCocoaErrorDomain, lastErrorCode(), lastErrorMessage()));
  }
  sqlite3_finalize(pStmt);
  return validationSucceeded;
}
