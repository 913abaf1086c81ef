#include "lib/database/SqlDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "lib/database/SqlLog.h"
#include "platform/core/Format.h"
#include "platform/core/Str.h"

namespace {

// Busy retries measure real elapsed time: the lock they wait for is held by another connection
// (often another process) that no virtual clock can make hurry.
double monotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Format arguments

long long SqlFormatArg::asSigned() const {
  if (auto p = std::get_if<long long>(&v_)) return *p;
  if (auto p = std::get_if<unsigned long long>(&v_)) return static_cast<long long>(*p);
  if (auto p = std::get_if<double>(&v_)) return static_cast<long long>(*p);
  if (auto p = std::get_if<ns::Value>(&v_)) return p->longLongValue();
  return 0;
}

unsigned long long SqlFormatArg::asUnsigned() const {
  if (auto p = std::get_if<unsigned long long>(&v_)) return *p;
  if (auto p = std::get_if<long long>(&v_)) return static_cast<unsigned long long>(*p);
  if (auto p = std::get_if<double>(&v_)) return static_cast<unsigned long long>(*p);
  if (auto p = std::get_if<ns::Value>(&v_)) return p->unsignedLongLongValue();
  return 0;
}

double SqlFormatArg::asDouble() const {
  if (auto p = std::get_if<double>(&v_)) return *p;
  if (auto p = std::get_if<long long>(&v_)) return static_cast<double>(*p);
  if (auto p = std::get_if<unsigned long long>(&v_)) return static_cast<double>(*p);
  if (auto p = std::get_if<ns::Value>(&v_)) return p->doubleValue();
  return 0;
}

std::optional<std::string> SqlFormatArg::asCString() const {
  if (auto p = std::get_if<const char*>(&v_)) return *p ? std::optional<std::string>(*p) : std::nullopt;
  if (auto p = std::get_if<ns::Value>(&v_))
    return p->isString() ? std::optional<std::string>(p->string()) : std::nullopt;
  return std::nullopt;
}

ns::Value SqlFormatArg::asObject() const {
  if (auto p = std::get_if<ns::Value>(&v_)) return *p;
  if (auto p = std::get_if<const char*>(&v_)) return ns::Value(*p);
  if (auto p = std::get_if<long long>(&v_)) return ns::Value(*p);
  if (auto p = std::get_if<unsigned long long>(&v_)) return ns::Value(*p);
  if (auto p = std::get_if<double>(&v_)) return ns::Value(*p);
  return ns::Value();
}

// ---------------------------------------------------------------------------------------------
// Class-level values

SqlDatabase::SqlDatabase(std::optional<std::string> path) : _databasePath(std::move(path)) {
  // Connections of several threads share SQLite's global state; a library built without its
  // locks would corrupt it.
  if (!isSQLiteThreadSafe()) {
    sqldb::logError("Assertion failed: (sqlite3_threadsafe())");
    std::abort();
  }
}

SqlDatabase::~SqlDatabase() {
  close();
}

ns::Ref<SqlDatabase> SqlDatabase::databaseWithPath(std::optional<std::string> path) {
  return ns::make<SqlDatabase>(std::move(path));
}

std::string SqlDatabase::SqlDBUserVersion() {
  return "2.3";
}

uint32_t SqlDatabase::SqlDBVersion() {
  static const uint32_t version = [] {
    std::string s = SqlDBUserVersion();
    if (ns::str::split(s, ".").size() < 3) s += ".0";
    std::string digits;
    for (char c : s)
      if (c != '.') digits += c;
    return static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
  }();
  return version;
}

std::string SqlDatabase::sqliteLibVersion() {
  return sqlite3_libversion();
}

bool SqlDatabase::isSQLiteThreadSafe() {
  return sqlite3_threadsafe() != 0;
}

// ---------------------------------------------------------------------------------------------
// Connection

const char* SqlDatabase::sqlitePath() const {
  if (!_databasePath) return ":memory:";
  return _databasePath->c_str();
}

bool SqlDatabase::open() {
  return openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool SqlDatabase::openWithFlags(int flags) {
  return openName(_databasePath ? *_databasePath : std::string(":memory:"), flags);
}

bool SqlDatabase::openReadOnly(bool immutable) {
  if (!_databasePath || _databasePath->empty()) return openWithFlags(SQLITE_OPEN_READONLY);
  // As a URI, whose reserved characters the path may hold: they are escaped, every other byte
  // (a NUL included, which openName turns away) is kept as it is.
  // An absolute path follows an empty authority; a relative one stands alone.
  std::string uri = _databasePath->front() == '/' ? "file://" : "file:";
  for (char c : *_databasePath) {
    if (c == '%' || c == '?' || c == '#')
      uri += sqldb::cformat("%%%02X", static_cast<unsigned char>(c));
    else
      uri += c;
  }
  uri += immutable ? "?mode=ro&immutable=1" : "?mode=ro";
  return openName(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
}

bool SqlDatabase::openName(const std::string& name, int flags) {
  if (_db) return true;
  // SQLite reads the path up to its first NUL: a path holding one would open another file, the
  // one named by the text before it.
  if (name.find('\0') != std::string::npos) {
    sqldb::logError(sqldb::cformat("error opening!: %d", SQLITE_CANTOPEN));
    return false;
  }
  int err = sqlite3_open_v2(name.c_str(), &_db, flags, nullptr);
  if (err != SQLITE_OK) {
    sqldb::logError(sqldb::cformat("error opening!: %d", err));
    // SQLite hands back a handle even when the open fails; keeping it would make every later
    // open answer YES on a connection that never opened.
    if (_db) sqlite3_close(_db);
    _db = nullptr;
    return false;
  }
  if (_maxBusyRetryTimeInterval > 0.0) setMaxBusyRetryTimeInterval(_maxBusyRetryTimeInterval);
  return true;
}

bool SqlDatabase::close() {
  clearCachedStatements();
  closeOpenResultSets();
  for (auto& weak : _statements)
    if (auto statement = weak.lock()) statement->close();
  _statements.clear();
  if (!_db) return true;

  bool triedFinalizingOpenStatements = false;
  bool retry;
  do {
    retry = false;
    int rc = sqlite3_close(_db);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      if (!triedFinalizingOpenStatements) {
        triedFinalizingOpenStatements = true;
        sqlite3_stmt* pStmt;
        while ((pStmt = sqlite3_next_stmt(_db, nullptr)) != nullptr) {
          sqldb::log("Closing leaked statement");
          sqlite3_finalize(pStmt);
          retry = true;
        }
      }
      if (!retry) {
        // Still busy (a backup or blob handle): let SQLite release the handle once they finish
        // instead of leaking it.
        sqlite3_close_v2(_db);
      }
    } else if (rc != SQLITE_OK) {
      sqldb::log(sqldb::cformat("error closing!: %d", rc));
    }
  } while (retry);

  _db = nullptr;
  _inTransaction = false;
  return true;
}

bool SqlDatabase::goodConnection() {
  if (!_db) return false;
  auto rs = executeQuery("select name from sqlite_master where type='table'");
  if (rs) {
    rs->close();
    return true;
  }
  return false;
}

bool SqlDatabase::databaseExists() {
  if (!_db) {
    sqldb::log("The SqlDatabase " + description() + " is not open.");
    return false;
  }
  return true;
}

void SqlDatabase::warnInUse() {
  sqldb::log("The SqlDatabase " + description() + " is currently in use.");
}

int SqlDatabase::busyHandler(void* context, int count) {
  auto* self = static_cast<SqlDatabase*>(context);
  self->_busyHandlerCalls++;
  if (count == 0) {
    self->_startBusyRetryTime = monotonicSeconds();
    return 1;
  }
  double delta = monotonicSeconds() - self->_startBusyRetryTime;
  if (delta < self->_maxBusyRetryTimeInterval) {
    sqlite3_sleep(50);
    return 1;
  }
  return 0;
}

bool SqlDatabase::shouldRetryBusy(int rc, double& started, std::uint64_t handlerCallsBefore) {
  // Only another connection's lock is worth waiting for; SQLITE_LOCKED is a conflict inside this
  // connection that no wait resolves.
  if ((rc & 0xff) != SQLITE_BUSY || _maxBusyRetryTimeInterval <= 0.0) return false;
  double now = monotonicSeconds();
  if (started == 0.0) {
    // The interval counts from the first busy answer, which the handler may already have timed.
    started = _busyHandlerCalls != handlerCallsBefore ? _startBusyRetryTime : now;
  }
  double waited = now - started;
  if (waited >= _maxBusyRetryTimeInterval) return false;
  // Short waits first: the lock of a single write is usually held for well under a millisecond.
  sqlite3_sleep(waited < 0.01 ? 1 : waited < 0.1 ? 5 : 50);
  return true;
}

void SqlDatabase::setMaxBusyRetryTimeInterval(double timeout) {
  _maxBusyRetryTimeInterval = timeout;
  if (!_db) return;
  if (timeout > 0)
    sqlite3_busy_handler(_db, &SqlDatabase::busyHandler, this);
  else
    sqlite3_busy_handler(_db, nullptr, nullptr);
}

int SqlDatabase::busyRetryTimeout() {
  sqldb::log(sqldb::cformat("%s:%d", "-[SqlDatabase busyRetryTimeout]", 267));
  sqldb::log("SqlDB: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
  return -1;
}

void SqlDatabase::setBusyRetryTimeout(int) {
  sqldb::log(sqldb::cformat("%s:%d", "-[SqlDatabase setBusyRetryTimeout:]", 273));
  sqldb::log("SqlDB: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:");
}

bool SqlDatabase::setKey(const std::string& key) {
  return setKeyWithData(ns::Data(key));
}
bool SqlDatabase::setKeyWithData(const ns::Data&) {
  return false;
}
bool SqlDatabase::rekey(const std::string& key) {
  return rekeyWithData(ns::Data(key));
}
bool SqlDatabase::rekeyWithData(const ns::Data&) {
  return false;
}

// ---------------------------------------------------------------------------------------------
// Status

std::string SqlDatabase::lastErrorMessage() {
  return sqlite3_errmsg(_db);
}

int SqlDatabase::lastErrorCode() {
  return sqlite3_errcode(_db);
}

bool SqlDatabase::lastErrorIsUnreadableFile() {
  switch (lastErrorCode() & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return true;
    default:
      return false;
  }
}

bool SqlDatabase::isReadOnly() {
  return _db && sqlite3_db_readonly(_db, "main") == 1;
}

bool SqlDatabase::hadError() {
  int code = lastErrorCode();
  return code > SQLITE_OK && code < SQLITE_ROW;
}

ns::Error SqlDatabase::lastError() {
  return errorWithMessage(lastErrorMessage());
}

ns::Error SqlDatabase::errorWithMessage(const std::string& message) {
  return ns::Error::withDescription(SqlDatabaseErrorDomain, sqlite3_errcode(_db), message);
}

int64_t SqlDatabase::lastInsertRowId() {
  if (_isExecutingStatement) {
    warnInUse();
    return 0;
  }
  return _db ? sqlite3_last_insert_rowid(_db) : 0;
}

int SqlDatabase::changes() {
  if (_isExecutingStatement) {
    warnInUse();
    return 0;
  }
  return _db ? sqlite3_changes(_db) : 0;
}

// ---------------------------------------------------------------------------------------------
// Statement cache and result sets

void SqlDatabase::setShouldCacheStatements(bool value) {
  _shouldCacheStatements = value;
  if (value && !_cachedStatements) _cachedStatements.emplace();
  if (!value) _cachedStatements.reset();
}

ns::Ref<SqlStatement> SqlDatabase::cachedStatementForQuery(const std::string& query) {
  if (!_cachedStatements) return nullptr;
  auto it = _cachedStatements->find(query);
  if (it == _cachedStatements->end()) return nullptr;
  for (const auto& statement : it->second)
    if (!statement->inUse()) return statement;
  return nullptr;
}

void SqlDatabase::setCachedStatement_forQuery(const ns::Ref<SqlStatement>& statement,
                                              const std::string& query) {
  if (!statement) return;
  statement->setQuery(query);
  if (!_cachedStatements) _cachedStatements.emplace();
  auto& statements = (*_cachedStatements)[query];
  for (const auto& s : statements)
    if (s == statement) return;
  statements.push_back(statement);
}

void SqlDatabase::removeCachedStatement(const ns::Ref<SqlStatement>& statement) {
  if (!_cachedStatements) return;
  for (auto it = _cachedStatements->begin(); it != _cachedStatements->end(); ++it) {
    auto& statements = it->second;
    for (auto s = statements.begin(); s != statements.end(); ++s) {
      if (*s == statement) {
        statements.erase(s);
        if (statements.empty()) _cachedStatements->erase(it);
        return;
      }
    }
  }
}

ns::Ref<SqlStatement> SqlDatabase::makeStatement(sqlite3_stmt* pStmt) {
  auto statement = ns::make<SqlStatement>(pStmt);
  std::erase_if(_statements, [](const ns::Weak<SqlStatement>& w) { return w.expired(); });
  _statements.push_back(statement);
  return statement;
}

void SqlDatabase::clearCachedStatements() {
  if (!_cachedStatements) return;
  for (auto& [query, statements] : *_cachedStatements)
    for (auto& statement : statements) statement->close();
  _cachedStatements->clear();
}

void SqlDatabase::closeOpenResultSets() {
  auto copy = _openResultSets;
  for (SqlResultSet* rs : copy) {
    if (std::find(_openResultSets.begin(), _openResultSets.end(), rs) == _openResultSets.end()) continue;
    std::erase(_openResultSets, rs);
    // Detached first, so that closing does not call back into this connection. The result set
    // may hold the last reference to it but the caller of close() holds another.
    auto parent = rs->parentDB();
    rs->setParentDB(nullptr);
    rs->close();
  }
}

void SqlDatabase::resultSetDidClose(SqlResultSet* resultSet) {
  std::erase(_openResultSets, resultSet);
}

// ---------------------------------------------------------------------------------------------
// Binding

void SqlDatabase::bindObject_toColumn_inStatement(const ns::Value& obj, int idx, sqlite3_stmt* pStmt) {
  bindValue(obj, idx, pStmt);
}

int SqlDatabase::bindValue(const ns::Value& obj, int idx, sqlite3_stmt* pStmt) {
  switch (obj.kind()) {
    case ns::Value::Kind::Nil:
    case ns::Value::Kind::Null:
      return sqlite3_bind_null(pStmt, idx);
    case ns::Value::Kind::Data: {
      // Data's bytes are never null, so empty data binds an empty blob rather than NULL.
      const ns::Data& data = obj.data();
      return sqlite3_bind_blob64(pStmt, idx, data.bytes(), data.length(), SQLITE_TRANSIENT);
    }
    case ns::Value::Kind::Date: {
      if (hasDateFormatter()) {
        auto text = stringFromDate(obj.date());
        if (text)
          return sqlite3_bind_text64(pStmt, idx, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        return sqlite3_bind_null(pStmt, idx);
      }
      return sqlite3_bind_double(pStmt, idx, obj.date().timeIntervalSince1970());
    }
    case ns::Value::Kind::Number: {
      ns::Number n = obj.number();
      switch (n.kind()) {
        case ns::Number::Kind::Bool:
        case ns::Number::Kind::Int8:
        case ns::Number::Kind::UInt8:
        case ns::Number::Kind::Int16:
        case ns::Number::Kind::UInt16:
        case ns::Number::Kind::Int32:
          return sqlite3_bind_int(pStmt, idx, n.intValue());
        case ns::Number::Kind::UInt32:
          return sqlite3_bind_int64(pStmt, idx, static_cast<sqlite3_int64>(n.unsignedLongLongValue()));
        case ns::Number::Kind::Int64:
          return sqlite3_bind_int64(pStmt, idx, n.longLongValue());
        case ns::Number::Kind::UInt64:
          // The bit pattern is kept: UInt64 max reads back as -1.
          return sqlite3_bind_int64(pStmt, idx, static_cast<sqlite3_int64>(n.unsignedLongLongValue()));
        case ns::Number::Kind::Float:
        case ns::Number::Kind::Double:
          return sqlite3_bind_double(pStmt, idx, n.doubleValue());
      }
      std::string text = n.description();
      return sqlite3_bind_text64(pStmt, idx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    case ns::Value::Kind::String: {
      // SQLite copies the text, and takes all of it: an embedded NUL does not cut it short.
      const std::string& s = obj.string();
      return sqlite3_bind_text64(pStmt, idx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    default: {
      std::string text = obj.description();
      return sqlite3_bind_text64(pStmt, idx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
  }
}

int SqlDatabase::bindArguments(sqlite3_stmt* pStmt, int queryCount, const ns::Array* arrayArgs,
                               const ns::Dictionary* dictionaryArgs, const ns::Array* listArgs,
                               int& bindError) {
  int idx = 0;
  bindError = SQLITE_OK;
  // A value SQLite refuses (text or a blob over its length limit, no memory for the copy) leaves
  // its parameter NULL: the statement must not run as though it had been bound.
  auto bind = [&](const ns::Value& value, int index) {
    int rc = bindValue(value, index, pStmt);
    if (rc != SQLITE_OK && bindError == SQLITE_OK) bindError = rc;
  };
  if (dictionaryArgs) {
    for (const auto& [key, value] : *dictionaryArgs) {
      std::string parameterName = ":" + key.description();
      if (_traceExecution) sqldb::log(parameterName + " = " + value.description());
      int namedIdx = sqlite3_bind_parameter_index(pStmt, parameterName.c_str());
      if (namedIdx > 0) {
        bind(value, namedIdx);
        idx++;
      } else {
        sqldb::log("Could not find index for " + key.description());
      }
    }
    return idx;
  }
  std::size_t listPos = 0;
  while (idx < queryCount) {
    const ns::Value* obj = nullptr;
    if (arrayArgs && static_cast<std::size_t>(idx) < arrayArgs->size())
      obj = &(*arrayArgs)[idx];
    else if (listArgs && listPos < listArgs->size())
      obj = &(*listArgs)[listPos++];
    else
      break;
    if (_traceExecution) {
      if (obj->isData())
        sqldb::log(sqldb::cformat("data: %ld bytes", static_cast<long>(obj->data().length())));
      else
        sqldb::log("obj: " + obj->description());
    }
    idx++;
    bind(*obj, idx);
  }
  return idx;
}

void SqlDatabase::logPrepareFailure(const std::string& sql) {
  sqldb::log("DB Error: " + std::to_string(lastErrorCode()) + " \"" + lastErrorMessage() + "\"");
  sqldb::log("DB Query: " + sql);
  sqldb::log("DB Path: " + sqldb::describePath(_databasePath));
}

// ---------------------------------------------------------------------------------------------
// Queries

ns::Ref<SqlResultSet> SqlDatabase::executeQuery_withArgumentsInArray(const std::string& sql,
                                                                     const ns::Array& arguments) {
  return executeQuery_withArgumentsInArray_orDictionary_orVAList(sql, &arguments, nullptr, nullptr);
}

ns::Ref<SqlResultSet> SqlDatabase::executeQuery_withParameterDictionary(const std::string& sql,
                                                                        const ns::Dictionary& arguments) {
  return executeQuery_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, &arguments, nullptr);
}

ns::Ref<SqlResultSet> SqlDatabase::executeQuery_withVAList(const std::string& sql, const ns::Array& args) {
  return executeQuery_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, nullptr, &args);
}

bool SqlDatabase::prepareStatement(const std::string& sql, bool forUpdate, ns::Error* outErr,
                                   const ns::Array* arrayArgs, const ns::Dictionary* dictionaryArgs,
                                   const ns::Array* listArgs, ns::Ref<SqlStatement>& statement,
                                   sqlite3_stmt*& pStmt) {
  if (!databaseExists()) return false;
  if (_isExecutingStatement) {
    warnInUse();
    return false;
  }
  _isExecutingStatement = true;

  if (_traceExecution) sqldb::log(description() + (forUpdate ? " executeUpdate: " : " executeQuery: ") + sql);

  statement = nullptr;
  pStmt = nullptr;
  if (_shouldCacheStatements) {
    statement = cachedStatementForQuery(sql);
    if (statement) {
      pStmt = statement->statement();
      // A cached statement is reset when its last use ends; one that is not mid-run needs no
      // second reset.
      if (sqlite3_stmt_busy(pStmt)) statement->reset();
    }
  }

  if (!pStmt) {
    statement = nullptr;
    int rc;
    double busySince = 0.0;
    const std::uint64_t handlerCalls = _busyHandlerCalls;
    do {
      sqlite3_finalize(pStmt);
      pStmt = nullptr;
      rc = sqlite3_prepare_v2(_db, sql.data(), static_cast<int>(sql.size()), &pStmt, nullptr);
    } while (shouldRetryBusy(rc, busySince, handlerCalls));
    if (rc != SQLITE_OK) {
      if (_logsErrors) logPrepareFailure(sql);
      if (_crashOnErrors) std::abort();
      ns::setError(outErr, errorWithMessage(sqlite3_errmsg(_db)));
      sqlite3_finalize(pStmt);
      pStmt = nullptr;
      _isExecutingStatement = false;
      return false;
    }
  }

  int queryCount = sqlite3_bind_parameter_count(pStmt);
  int bindError = SQLITE_OK;
  int idx = bindArguments(pStmt, queryCount, arrayArgs, dictionaryArgs, listArgs, bindError);
  if (bindError != SQLITE_OK) {
    std::string message = sqlite3_errmsg(_db);
    sqldb::log(
        sqldb::cformat("Error: an argument could not be bound (%d: %s) (", bindError, message.c_str()) + sql +
        ")");
    ns::setError(outErr, ns::Error::withDescription(SqlDatabaseErrorDomain, bindError, message));
  } else if (idx != queryCount) {
    if (forUpdate) {
      std::string line = sqldb::cformat(
          "Error: the bind count (%d) is not correct for the # of variables in the query (%d) (", idx,
          queryCount);
      sqldb::log(line + sql + ") (executeUpdate)");
    } else {
      sqldb::log("Error: the bind count is not correct for the # of variables (executeQuery)");
    }
    // A caller that asked for an error gets one for every NO.
    ns::setError(outErr, ns::Error::withDescription(SqlDatabaseErrorDomain, SQLITE_RANGE,
                                                    "bind count does not match the number of parameters"));
  }
  if (bindError != SQLITE_OK || idx != queryCount) {
    if (statement) {
      // Out of the cache before it is finalized, so that nothing can hand it out again.
      removeCachedStatement(statement);
      statement->close();
      statement = nullptr;
    } else {
      sqlite3_finalize(pStmt);
    }
    pStmt = nullptr;
    _isExecutingStatement = false;
    return false;
  }
  return true;
}

ns::Ref<SqlResultSet> SqlDatabase::executeQuery_withArgumentsInArray_orDictionary_orVAList(
    const std::string& sql, const ns::Array* arrayArgs, const ns::Dictionary* dictionaryArgs,
    const ns::Array* listArgs) {
  ns::Ref<SqlStatement> statement;
  sqlite3_stmt* pStmt = nullptr;
  if (!prepareStatement(sql, false, nullptr, arrayArgs, dictionaryArgs, listArgs, statement, pStmt))
    return nullptr;

  if (!statement) {
    statement = makeStatement(pStmt);
    if (_shouldCacheStatements) setCachedStatement_forQuery(statement, sql);
  }

  auto rs = SqlResultSet::resultSetWithStatement_usingParentDatabase(statement, self<SqlDatabase>());
  rs->setQuery(sql);
  _openResultSets.push_back(rs.get());
  statement->setUseCount(statement->useCount() + 1);
  _isExecutingStatement = false;
  return rs;
}

// ---------------------------------------------------------------------------------------------
// Updates

bool SqlDatabase::executeUpdate_withArgumentsInArray(const std::string& sql, const ns::Array& arguments) {
  return executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, &arguments, nullptr,
                                                                        nullptr);
}

bool SqlDatabase::executeUpdate_withParameterDictionary(const std::string& sql,
                                                        const ns::Dictionary& arguments) {
  return executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, nullptr, &arguments,
                                                                        nullptr);
}

bool SqlDatabase::executeUpdate_withVAList(const std::string& sql, const ns::Array& args) {
  return executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, nullptr, nullptr,
                                                                        &args);
}

bool SqlDatabase::executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(
    const std::string& sql, ns::Error* outErr, const ns::Array* arrayArgs,
    const ns::Dictionary* dictionaryArgs, const ns::Array* listArgs) {
  ns::Ref<SqlStatement> statement;
  sqlite3_stmt* pStmt = nullptr;
  if (!prepareStatement(sql, true, outErr, arrayArgs, dictionaryArgs, listArgs, statement, pStmt))
    return false;

  double busySince = 0.0;
  const std::uint64_t handlerCalls = _busyHandlerCalls;
  int rc = sqlite3_step(pStmt);
  // Outside a transaction nothing was written yet, so a busy statement can simply run again.
  while ((rc & 0xff) == SQLITE_BUSY && sqlite3_get_autocommit(_db) &&
         shouldRetryBusy(rc, busySince, handlerCalls)) {
    sqlite3_reset(pStmt);
    rc = sqlite3_step(pStmt);
  }
  if (rc != SQLITE_DONE) {
    std::string message = sqlite3_errmsg(_db);
    if (_logsErrors) {
      if (rc == SQLITE_ERROR)
        sqldb::log(sqldb::cformat("Error calling sqlite3_step (%d: %s) SQLITE_ERROR", rc, message.c_str()));
      else if (rc == SQLITE_MISUSE)
        sqldb::log(sqldb::cformat("Error calling sqlite3_step (%d: %s) SQLITE_MISUSE", rc, message.c_str()));
      else
        sqldb::log(sqldb::cformat("Unknown error calling sqlite3_step (%d: %s) eu", rc, message.c_str()));
      sqldb::log("DB Query: " + sql);
    }
    // The caller learns why the step failed, not only that it did.
    ns::setError(outErr, ns::Error::withDescription(SqlDatabaseErrorDomain, rc, message));
  }

  if (_shouldCacheStatements && !statement) {
    statement = makeStatement(pStmt);
    setCachedStatement_forQuery(statement, sql);
  }

  int closeErrorCode;
  if (statement) {
    statement->setUseCount(statement->useCount() + 1);
    closeErrorCode = sqlite3_reset(pStmt);
  } else {
    closeErrorCode = sqlite3_finalize(pStmt);
  }
  if (closeErrorCode != SQLITE_OK && _logsErrors) {
    sqldb::log(sqldb::cformat("Unknown error finalizing or resetting statement (%d: %s)", closeErrorCode,
                              sqlite3_errmsg(_db)));
    sqldb::log("DB Query: " + sql);
  }

  _isExecutingStatement = false;
  return rc == SQLITE_DONE || rc == SQLITE_OK;
}

// ---------------------------------------------------------------------------------------------
// Format to SQL

namespace {

// What a plain directive of the table reads: the argument becomes the value to bind, or nothing
// for an absent object (or a missing argument). Null when the directive is not in the table.
using SqlConversion = ns::Value (*)(const SqlFormatArg*);

SqlConversion sqlConversionFor(const ns::detail::FormatDirective& d) {
  if (!d.isPlain()) return nullptr;
  const std::string_view length = d.length;
  const char c = d.conversion;
  if (length.empty()) {
    switch (c) {
      case '@':
        return [](const SqlFormatArg* a) { return a ? a->asObject() : ns::Value(); };
      case 'c':
        return [](const SqlFormatArg* a) {
          return a ? ns::Value(std::string(1, static_cast<char>(a->asSigned()))) : ns::Value();
        };
      case 's':
        return [](const SqlFormatArg* a) {
          auto text = a ? a->asCString() : std::nullopt;
          return text ? ns::Value(*text) : ns::Value();
        };
      case 'd':
      case 'D':
      case 'i':
        return [](const SqlFormatArg* a) {
          return a ? ns::Value(static_cast<int>(a->asSigned())) : ns::Value();
        };
      case 'u':
      case 'U':
        return [](const SqlFormatArg* a) {
          return a ? ns::Value(static_cast<unsigned int>(a->asUnsigned())) : ns::Value();
        };
      case 'f':
        return [](const SqlFormatArg* a) { return a ? ns::Value(a->asDouble()) : ns::Value(); };
      case 'g':
        return [](const SqlFormatArg* a) {
          return a ? ns::Value(static_cast<float>(a->asDouble())) : ns::Value();
        };
      default:
        return nullptr;
    }
  }
  const bool signed64 = (length == "q" && c == 'i') || ((length == "l" || length == "ll") && c == 'd');
  const bool unsigned64 = (length == "q" || length == "l" || length == "ll") && c == 'u';
  if (signed64)
    return [](const SqlFormatArg* a) {
      return a ? ns::Value(static_cast<long long>(a->asSigned())) : ns::Value();
    };
  if (unsigned64)
    return [](const SqlFormatArg* a) {
      return a ? ns::Value(static_cast<unsigned long long>(a->asUnsigned())) : ns::Value();
    };
  if (length == "h" && c == 'i')
    return
        [](const SqlFormatArg* a) { return a ? ns::Value(static_cast<short>(a->asSigned())) : ns::Value(); };
  if (length == "h" && c == 'u')
    return [](const SqlFormatArg* a) {
      return a ? ns::Value(static_cast<unsigned short>(a->asUnsigned())) : ns::Value();
    };
  return nullptr;
}

}  // namespace

void SqlDatabase::extractSQL_argumentsList_intoString_arguments(const std::string& format,
                                                                const std::vector<SqlFormatArg>& args,
                                                                std::string& cleanedSQL,
                                                                ns::Array& arguments) {
  const std::string_view fmt = format;
  std::size_t nextArg = 0;
  std::size_t i = 0;
  while (i < fmt.size()) {
    std::size_t pct = fmt.find('%', i);
    if (pct == std::string_view::npos) {
      cleanedSQL.append(fmt.substr(i));
      break;
    }
    cleanedSQL.append(fmt.substr(i, pct - i));
    // `pct` is a '%' that opens a directive. Only the plain directives of the table take an
    // argument; anything else copies the character after the '%' as it stands and goes on after
    // it. A second '%' is copied and opens the next directive; of a modifier that did not
    // complete a conversion only its first letter is kept ("%llx" gives "lx").
    for (;;) {
      ns::detail::FormatDirective directive;
      if (ns::detail::parseFormatDirective(fmt, pct, directive)) {
        if (SqlConversion convert = sqlConversionFor(directive)) {
          // Arguments beyond those given read as absent, never as whatever lies past the list.
          const SqlFormatArg* arg = nextArg < args.size() ? &args[nextArg] : nullptr;
          ++nextArg;
          ns::Value value = convert(arg);
          if (value.isNil()) {
            cleanedSQL += "NULL";  // an absent object (or a missing argument) becomes the literal NULL
          } else {
            cleanedSQL += '?';
            arguments.push_back(std::move(value));
          }
          i = directive.end;
          break;
        }
      }
      std::size_t next = pct + 1;
      if (next >= fmt.size()) {
        i = next;
        break;
      }
      char c = fmt[next];
      cleanedSQL += c;
      if (c == '%') {
        pct = next;
        continue;
      }
      i = next + 1;
      if (c == 'l' && i < fmt.size() && fmt[i] == 'l') ++i;
      break;
    }
  }
}
