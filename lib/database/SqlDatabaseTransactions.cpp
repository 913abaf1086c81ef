// Transactions, savepoints, batches of statements and SQL functions of SqlDatabase.
#include <sqlite3.h>

#include <atomic>
#include <exception>

#include "lib/database/SqlDatabase.h"
#include "lib/database/SqlLog.h"
#include "platform/core/Str.h"

namespace {

std::string escapeSavePointName(const std::string& name) {
  return ns::str::replaceOccurrences(name, "'", "''");
}

// Shared by every connection of the process.
std::atomic<long> savePointCounter{0};

struct BatchContext {
  const SqlDatabase::ResultBlock* block;
  std::exception_ptr exception;
};

int batchCallback(void* context, int columns, char** values, char** names) {
  auto* ctx = static_cast<BatchContext*>(context);
  ns::Dictionary row;
  for (int i = 0; i < columns; ++i)
    row.set(ns::Value(names[i] ? names[i] : ""), values[i] ? ns::Value(values[i]) : ns::Value::null());
  // An exception must not unwind through SQLite's frames: stop the batch and rethrow afterwards.
  try {
    return (*ctx->block)(row);
  } catch (...) {
    ctx->exception = std::current_exception();
    return 1;
  }
}

void functionTrampoline(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* block = static_cast<SqlDatabase::SqlFunctionBlock*>(sqlite3_user_data(context));
  try {
    (*block)(context, argc, argv);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "SQL function failed", -1);
  }
}

}  // namespace

bool SqlDatabase::beginTransaction() {
  bool b = executeUpdate("begin exclusive transaction");
  if (b) _inTransaction = true;
  return b;
}

bool SqlDatabase::beginDeferredTransaction() {
  bool b = executeUpdate("begin deferred transaction");
  if (b) _inTransaction = true;
  return b;
}

bool SqlDatabase::commit() {
  bool b = executeUpdate("commit transaction");
  if (b) _inTransaction = false;
  return b;
}

bool SqlDatabase::rollback() {
  bool b = executeUpdate("rollback transaction");
  if (b) _inTransaction = false;
  return b;
}

bool SqlDatabase::startSavePointWithName_error(const std::string& name, ns::Error* outErr) {
  std::string sql = "savepoint '" + escapeSavePointName(name) + "';";
  if (!executeUpdate(sql)) {
    ns::setError(outErr, lastError());
    return false;
  }
  return true;
}

bool SqlDatabase::releaseSavePointWithName_error(const std::string& name, ns::Error* outErr) {
  std::string sql = "release savepoint '" + escapeSavePointName(name) + "';";
  if (!executeUpdate(sql)) {
    ns::setError(outErr, lastError());
    return false;
  }
  return true;
}

bool SqlDatabase::rollbackToSavePointWithName_error(const std::string& name, ns::Error* outErr) {
  std::string sql = "rollback transaction to savepoint '" + escapeSavePointName(name) + "';";
  if (!executeUpdate(sql)) {
    ns::setError(outErr, lastError());
    return false;
  }
  return true;
}

std::optional<ns::Error> SqlDatabase::inSavePoint(const std::function<void(bool* rollback)>& block) {
  return runInSavePointNamed("dbSavePoint" + std::to_string(savePointCounter.fetch_add(1)), block);
}

std::optional<ns::Error> SqlDatabase::runInSavePointNamed(const std::string& name,
                                                          const std::function<void(bool* rollback)>& block) {
  std::optional<ns::Error> result;
  ns::Error err(SqlDatabaseErrorDomain, 0);
  if (!startSavePointWithName_error(name, &err)) return err;

  bool shouldRollback = false;
  if (block) {
    try {
      block(&shouldRollback);
    } catch (...) {
      // Leave no savepoint open behind an exception.
      rollbackToSavePointWithName_error(name, nullptr);
      releaseSavePointWithName_error(name, nullptr);
      throw;
    }
  }
  if (shouldRollback && !rollbackToSavePointWithName_error(name, &err)) result = err;
  if (!releaseSavePointWithName_error(name, &err)) result = err;
  return result;
}

void SqlDatabase::runInTransaction(bool useDeferred, const std::function<void(bool* rollback)>& block) {
  if (useDeferred)
    beginDeferredTransaction();
  else
    beginTransaction();
  bool shouldRollback = false;
  try {
    block(&shouldRollback);
  } catch (...) {
    rollback();
    throw;
  }
  if (shouldRollback)
    rollback();
  else
    commit();
}

bool SqlDatabase::executeStatements(const std::string& sql) {
  return executeStatementsImpl(sql, nullptr);
}

bool SqlDatabase::executeStatements_withResultBlock(const std::string& sql, const ResultBlock& block) {
  return executeStatementsImpl(sql, block ? &block : nullptr);
}

bool SqlDatabase::executeStatementsImpl(const std::string& sql, const ResultBlock* block) {
  if (!databaseExists()) return false;
  BatchContext ctx{block, nullptr};
  char* errmsg = nullptr;
  int rc = sqlite3_exec(_db, sql.c_str(), block ? &batchCallback : nullptr, &ctx, &errmsg);
  if (errmsg) {
    if (_logsErrors) sqldb::log(sqldb::cformat("Error inserting batch: %s", errmsg));
    sqlite3_free(errmsg);
  }
  if (ctx.exception) std::rethrow_exception(ctx.exception);
  return rc == SQLITE_OK;
}

void SqlDatabase::makeFunctionNamed_maximumArguments_withBlock(const std::string& name, int count,
                                                               SqlFunctionBlock block) {
  // The connection owns every callable it was given for its whole life: SQLite may still hold an
  // earlier one until the name is registered again.
  _openFunctions.push_back(std::make_unique<SqlFunctionBlock>(std::move(block)));
  if (!_db) return;
  sqlite3_create_function(_db, name.c_str(), count, SQLITE_UTF8, _openFunctions.back().get(),
                          &functionTrampoline, nullptr, nullptr);
}
