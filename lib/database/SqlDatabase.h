#pragma once
// The thin wrapper around one SQLite connection that the library store goes through: open and
// close, busy retries, queries and updates with arguments bound from a list, an array or a
// dictionary, an optional statement cache, transactions and savepoints, batches, SQL functions
// and a few convenience queries. One instance serves one thread at a time; it has no lock.
//
// Failures are answered by return values (nullptr, false, 0) and log lines; errors handed to
// callers have the domain "SqlDatabase", SQLite's result code and SQLite's message.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "lib/database/SqlResultSet.h"
#include "lib/database/SqlStatement.h"
#include "platform/core/Data.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

namespace ns {
class DateFormatter;
}

// The domain of the errors the wrapper hands out.
inline constexpr char SqlDatabaseErrorDomain[] = "SqlDatabase";

// One argument of the "WithFormat" operations, read by the conversion that consumes it.
class SqlFormatArg {
 public:
  SqlFormatArg(bool v) : v_(static_cast<long long>(v)) {}
  SqlFormatArg(char v) : v_(static_cast<long long>(v)) {}
  SqlFormatArg(signed char v) : v_(static_cast<long long>(v)) {}
  SqlFormatArg(short v) : v_(static_cast<long long>(v)) {}
  SqlFormatArg(int v) : v_(static_cast<long long>(v)) {}
  SqlFormatArg(long v) : v_(static_cast<long long>(v)) {}
  SqlFormatArg(long long v) : v_(v) {}
  SqlFormatArg(unsigned char v) : v_(static_cast<unsigned long long>(v)) {}
  SqlFormatArg(unsigned short v) : v_(static_cast<unsigned long long>(v)) {}
  SqlFormatArg(unsigned int v) : v_(static_cast<unsigned long long>(v)) {}
  SqlFormatArg(unsigned long v) : v_(static_cast<unsigned long long>(v)) {}
  SqlFormatArg(unsigned long long v) : v_(v) {}
  SqlFormatArg(float v) : v_(static_cast<double>(v)) {}
  SqlFormatArg(double v) : v_(v) {}
  SqlFormatArg(const char* v) : v_(v) {}
  SqlFormatArg(char* v) : v_(static_cast<const char*>(v)) {}
  SqlFormatArg(std::nullptr_t) : v_(ns::Value()) {}
  SqlFormatArg(ns::Value v) : v_(std::move(v)) {}
  SqlFormatArg(const std::string& v) : v_(ns::Value(v)) {}
  template <class T, class = std::enable_if_t<std::is_base_of_v<ns::Object, T>>>
  SqlFormatArg(ns::Ref<T> v) : v_(ns::Value(std::move(v))) {}

  long long asSigned() const;
  unsigned long long asUnsigned() const;
  double asDouble() const;
  // Text of a "%s" argument; nullopt for a null C string.
  std::optional<std::string> asCString() const;
  ns::Value asObject() const;

 private:
  std::variant<long long, unsigned long long, double, const char*, ns::Value> v_;
};

class SqlDatabase : public ns::Object {
 public:
  using StatementCache = std::map<std::string, std::vector<ns::Ref<SqlStatement>>>;
  // The body of an SQL function: sets its result through SQLite's sqlite3_result_* calls.
  using SqlFunctionBlock = std::function<void(sqlite3_context* context, int argc, sqlite3_value** argv)>;
  // Called once per row of a batch with column name -> text (or the null marker); non-zero stops.
  using ResultBlock = std::function<int(const ns::Dictionary& row)>;

  // nullopt opens an in-memory database, "" a temporary one, anything else that file.
  explicit SqlDatabase(std::optional<std::string> path = std::nullopt);
  ~SqlDatabase() override;

  static ns::Ref<SqlDatabase> databaseWithPath(std::optional<std::string> path);
  static std::string SqlDBUserVersion();
  static uint32_t SqlDBVersion();
  static std::string sqliteLibVersion();
  static bool isSQLiteThreadSafe();
  static ns::Ref<ns::DateFormatter> storeableDateFormat(const std::string& format);

  // ---- connection ----
  bool open();
  bool openWithFlags(int flags);
  // Opens the file only to read. `immutable`: SQLite takes the file as one nobody changes, so it
  // takes no lock and reads no journal, and it makes no file beside it (a plain read-only open of
  // a write-ahead store makes its -wal and -shm files, with the store's mode).
  bool openReadOnly(bool immutable);
  bool close();
  bool goodConnection();
  const std::optional<std::string>& databasePath() const { return _databasePath; }
  sqlite3* sqliteHandle() const { return _db; }
  const char* sqlitePath() const;
  bool databaseExists();
  void setMaxBusyRetryTimeInterval(double timeout);
  double maxBusyRetryTimeInterval() const { return _maxBusyRetryTimeInterval; }
  int busyRetryTimeout();
  void setBusyRetryTimeout(int timeout);
  // Encryption is not supported: these answer NO and do nothing.
  bool setKey(const std::string& key);
  bool setKeyWithData(const ns::Data& keyData);
  bool rekey(const std::string& key);
  bool rekeyWithData(const ns::Data& keyData);

  // ---- queries ----
  template <class... Args>
  ns::Ref<SqlResultSet> executeQuery(const std::string& sql, Args&&... args) {
    ns::Array list{ns::Value(std::forward<Args>(args))...};
    return executeQuery_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, nullptr, &list);
  }
  ns::Ref<SqlResultSet> executeQuery_withArgumentsInArray(const std::string& sql, const ns::Array& arguments);
  ns::Ref<SqlResultSet> executeQuery_withParameterDictionary(const std::string& sql,
                                                             const ns::Dictionary& arguments);
  ns::Ref<SqlResultSet> executeQuery_withVAList(const std::string& sql, const ns::Array& args);
  template <class... Args>
  ns::Ref<SqlResultSet> executeQueryWithFormat(const std::string& format, Args&&... args) {
    std::vector<SqlFormatArg> list{SqlFormatArg(std::forward<Args>(args))...};
    std::string sql;
    ns::Array arguments;
    extractSQL_argumentsList_intoString_arguments(format, list, sql, arguments);
    return executeQuery_withArgumentsInArray(sql, arguments);
  }
  // Every query funnels here. `arrayArgs` come first, `listArgs` continue after them; with a
  // dictionary both are ignored.
  ns::Ref<SqlResultSet> executeQuery_withArgumentsInArray_orDictionary_orVAList(
      const std::string& sql, const ns::Array* arrayArgs, const ns::Dictionary* dictionaryArgs,
      const ns::Array* listArgs);

  // ---- updates ----
  template <class... Args>
  bool executeUpdate(const std::string& sql, Args&&... args) {
    ns::Array list{ns::Value(std::forward<Args>(args))...};
    return executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(sql, nullptr, nullptr, nullptr,
                                                                          &list);
  }
  bool executeUpdate_withArgumentsInArray(const std::string& sql, const ns::Array& arguments);
  bool executeUpdate_withParameterDictionary(const std::string& sql, const ns::Dictionary& arguments);
  bool executeUpdate_withVAList(const std::string& sql, const ns::Array& args);
  template <class... Args>
  bool executeUpdateWithFormat(const std::string& format, Args&&... args) {
    std::vector<SqlFormatArg> list{SqlFormatArg(std::forward<Args>(args))...};
    std::string sql;
    ns::Array arguments;
    extractSQL_argumentsList_intoString_arguments(format, list, sql, arguments);
    return executeUpdate_withArgumentsInArray(sql, arguments);
  }
  template <class... Args>
  bool executeUpdate_withErrorAndBindings(const std::string& sql, ns::Error* outErr, Args&&... args) {
    ns::Array list{ns::Value(std::forward<Args>(args))...};
    return executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(sql, outErr, nullptr, nullptr,
                                                                          &list);
  }
  template <class... Args>
  bool update_withErrorAndBindings(const std::string& sql, ns::Error* outErr, Args&&... args) {
    return executeUpdate_withErrorAndBindings(sql, outErr, std::forward<Args>(args)...);
  }
  bool executeUpdate_error_withArgumentsInArray_orDictionary_orVAList(const std::string& sql,
                                                                      ns::Error* outErr,
                                                                      const ns::Array* arrayArgs,
                                                                      const ns::Dictionary* dictionaryArgs,
                                                                      const ns::Array* listArgs);

  // Turns a printf-like format into SQL with "?" placeholders and the argument array.
  static void extractSQL_argumentsList_intoString_arguments(const std::string& format,
                                                            const std::vector<SqlFormatArg>& args,
                                                            std::string& cleanedSQL, ns::Array& arguments);

  // Binds one argument at a 1-based index.
  void bindObject_toColumn_inStatement(const ns::Value& obj, int idx, sqlite3_stmt* pStmt);

  // ---- status ----
  std::string lastErrorMessage();
  int lastErrorCode();
  bool hadError();
  // Whether the last error says the file itself cannot be read (not a database, damaged, an I/O
  // error, no permission), rather than that it is busy, full or that a statement is wrong.
  bool lastErrorIsUnreadableFile();
  // Whether the open connection may only read its file: SQLite opens a file it may not write
  // read-only rather than not at all, and every write then fails.
  bool isReadOnly();
  ns::Error lastError();
  ns::Error errorWithMessage(const std::string& message);
  int64_t lastInsertRowId();
  int changes();

  // ---- statement cache ----
  bool shouldCacheStatements() const { return _shouldCacheStatements; }
  void setShouldCacheStatements(bool value);
  const std::optional<StatementCache>& cachedStatements() const { return _cachedStatements; }
  void setCachedStatements(std::optional<StatementCache> cache) { _cachedStatements = std::move(cache); }
  ns::Ref<SqlStatement> cachedStatementForQuery(const std::string& query);
  void setCachedStatement_forQuery(const ns::Ref<SqlStatement>& statement, const std::string& query);
  void clearCachedStatements();

  // ---- result-set bookkeeping ----
  bool hasOpenResultSets() const { return !_openResultSets.empty(); }
  void closeOpenResultSets();
  void resultSetDidClose(SqlResultSet* resultSet);

  // ---- dates ----
  void setDateFormat(ns::Ref<ns::DateFormatter> format);
  bool hasDateFormatter() const { return _dateFormat != nullptr; }
  std::optional<ns::Date> dateFromString(const std::string& s);
  std::optional<std::string> stringFromDate(const ns::Date& date);

  // ---- flags ----
  bool logsErrors() const { return _logsErrors; }
  void setLogsErrors(bool v) { _logsErrors = v; }
  bool crashOnErrors() const { return _crashOnErrors; }
  void setCrashOnErrors(bool v) { _crashOnErrors = v; }
  bool traceExecution() const { return _traceExecution; }
  void setTraceExecution(bool v) { _traceExecution = v; }
  bool checkedOut() const { return _checkedOut; }
  void setCheckedOut(bool v) { _checkedOut = v; }

  // ---- transactions, savepoints, batches, SQL functions ----
  bool beginTransaction();
  bool beginDeferredTransaction();
  bool commit();
  bool rollback();
  bool inTransaction() const { return _inTransaction; }
  bool startSavePointWithName_error(const std::string& name, ns::Error* outErr);
  bool releaseSavePointWithName_error(const std::string& name, ns::Error* outErr);
  bool rollbackToSavePointWithName_error(const std::string& name, ns::Error* outErr);
  // Runs `block` inside a savepoint named "dbSavePoint<n>"; when it sets its flag, the work is
  // rolled back. Answers the error of the last failed step, or nullopt.
  std::optional<ns::Error> inSavePoint(const std::function<void(bool* rollback)>& block);
  // The same inside a savepoint of the given name (the queue and the pool name their own).
  std::optional<ns::Error> runInSavePointNamed(const std::string& name,
                                               const std::function<void(bool* rollback)>& block);
  // Runs `block` inside a transaction (deferred or exclusive) and commits it, or rolls it back
  // when the block sets its flag or throws.
  void runInTransaction(bool useDeferred, const std::function<void(bool* rollback)>& block);
  bool executeStatements(const std::string& sql);
  bool executeStatements_withResultBlock(const std::string& sql, const ResultBlock& block);
  void makeFunctionNamed_maximumArguments_withBlock(const std::string& name, int count,
                                                    SqlFunctionBlock block);

  // ---- additions: single values, schema questions, header values, validation ----
  template <class... Args>
  std::optional<std::string> stringForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->stringForColumnIndex(0)) : std::nullopt;
  }
  template <class... Args>
  int intForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->intForColumnIndex(0)) : 0;
  }
  template <class... Args>
  long longForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->longForColumnIndex(0)) : 0;
  }
  template <class... Args>
  bool boolForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->boolForColumnIndex(0)) : false;
  }
  template <class... Args>
  double doubleForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->doubleForColumnIndex(0)) : 0.0;
  }
  template <class... Args>
  std::optional<ns::Data> dataForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->dataForColumnIndex(0)) : std::nullopt;
  }
  template <class... Args>
  std::optional<ns::Date> dateForQuery(const std::string& sql, Args&&... args) {
    auto rs = runSingleValueQuery(sql, {ns::Value(std::forward<Args>(args))...});
    return rs ? finishSingleValue(rs, rs->dateForColumnIndex(0)) : std::nullopt;
  }
  bool tableExists(const std::string& tableName);
  ns::Ref<SqlResultSet> getSchema();
  ns::Ref<SqlResultSet> getTableSchema(const std::string& tableName);
  bool columnExists_inTableWithName(const std::string& columnName, const std::string& tableName);
  bool columnExists_columnName(const std::string& tableName, const std::string& columnName) {
    return columnExists_inTableWithName(columnName, tableName);
  }
  uint32_t applicationID();
  void setApplicationID(uint32_t appID);
  std::string applicationIDString();
  void setApplicationIDString(const std::string& s);
  uint32_t userVersion();
  void setUserVersion(uint32_t version);
  bool validateSQL_error(const std::string& sql, ns::Error* outErr);

 private:
  // Opens `name` (a path, or a URI with SQLITE_OPEN_URI) with `flags`.
  bool openName(const std::string& name, int flags);
  static int busyHandler(void* context, int count);
  // SQLite answers SQLITE_BUSY without calling the busy handler in a few cases (a statement
  // that must read the schema while another connection commits, a lock upgrade that could
  // deadlock): true, after a short pause, when such an answer should be tried again within the
  // busy interval. `busySince` is 0 until the first busy answer of the statement; the handler's
  // call count taken before the attempt tells whether the handler has timed the wait already.
  bool shouldRetryBusy(int rc, double& busySince, std::uint64_t handlerCallsBefore);
  void warnInUse();
  // The query with its row stepped to, or nullptr when it produced no row.
  ns::Ref<SqlResultSet> runSingleValueQuery(const std::string& sql, ns::Array args);
  template <class T>
  T finishSingleValue(const ns::Ref<SqlResultSet>& rs, T value) {
    rs->close();
    rs->setParentDB(nullptr);
    return value;
  }
  void logPrepareFailure(const std::string& sql);
  // The common start of a query and an update: claims the connection, takes a cached statement
  // or prepares one, and binds the arguments. On failure it logs, fills `outErr`, releases the
  // statement and the connection, and answers NO.
  bool prepareStatement(const std::string& sql, bool forUpdate, ns::Error* outErr, const ns::Array* arrayArgs,
                        const ns::Dictionary* dictionaryArgs, const ns::Array* listArgs,
                        ns::Ref<SqlStatement>& statement, sqlite3_stmt*& pStmt);
  // Binds the arguments and answers how many were bound; `bindError` receives the first code
  // SQLite refused a value with, or SQLITE_OK.
  int bindArguments(sqlite3_stmt* pStmt, int queryCount, const ns::Array* arrayArgs,
                    const ns::Dictionary* dictionaryArgs, const ns::Array* listArgs, int& bindError);
  // bindObject_toColumn_inStatement, answering SQLite's code.
  int bindValue(const ns::Value& obj, int idx, sqlite3_stmt* pStmt);
  void removeCachedStatement(const ns::Ref<SqlStatement>& statement);
  bool executeStatementsImpl(const std::string& sql, const ResultBlock* block);
  ns::Ref<SqlStatement> makeStatement(sqlite3_stmt* pStmt);

  sqlite3* _db = nullptr;
  std::optional<std::string> _databasePath;
  bool _logsErrors = true;
  bool _crashOnErrors = false;
  bool _traceExecution = false;
  bool _checkedOut = false;
  bool _shouldCacheStatements = false;
  bool _isExecutingStatement = false;
  bool _inTransaction = false;
  double _maxBusyRetryTimeInterval = 2.0;
  double _startBusyRetryTime = 0.0;
  std::uint64_t _busyHandlerCalls = 0;
  std::optional<StatementCache> _cachedStatements;
  // In order of opening; a connection has few open at a time.
  std::vector<SqlResultSet*> _openResultSets;
  // Every statement object this connection made that may still be alive, so that closing can
  // finalize them before the handle goes (a caller may still hold one).
  std::vector<ns::Weak<SqlStatement>> _statements;
  std::vector<std::unique_ptr<SqlFunctionBlock>> _openFunctions;
  ns::Ref<ns::DateFormatter> _dateFormat;
};
