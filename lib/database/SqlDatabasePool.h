#pragma once
// Whole connections to one file handed out one per concurrent user and taken back afterwards.
// Only the bookkeeping of the two lists is serialised (on the lock queue); a connection handed
// out is used on the caller's thread, and SQLite's busy handling arbitrates between them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lib/database/SqlDatabase.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace dispatch {
class Queue;
}

class SqlDatabasePool;

// Both messages are optional: the defaults accept every connection and do nothing.
class SqlDatabasePoolDelegate {
 public:
  virtual ~SqlDatabasePoolDelegate() = default;
  // Asked each time a connection is about to be handed out.
  virtual bool databasePool_shouldAddDatabaseToPool(SqlDatabasePool* pool, const ns::Ref<SqlDatabase>& db) {
    return true;
  }
  // Told after a newly made connection was handed out.
  virtual void databasePool_didAddDatabase(SqlDatabasePool* pool, const ns::Ref<SqlDatabase>& db) {}
};

class SqlDatabasePool : public ns::Object {
 public:
  using DatabaseBlock = std::function<void(const ns::Ref<SqlDatabase>& db)>;
  using TransactionBlock = std::function<void(const ns::Ref<SqlDatabase>& db, bool* rollback)>;

  SqlDatabasePool(std::optional<std::string> path, int openFlags);
  ~SqlDatabasePool() override;

  static ns::Ref<SqlDatabasePool> databasePoolWithPath(std::optional<std::string> path);
  static ns::Ref<SqlDatabasePool> databasePoolWithPath_flags(std::optional<std::string> path, int openFlags);
  static ns::Ref<SqlDatabasePool> initWithPath(std::optional<std::string> path) {
    return databasePoolWithPath(std::move(path));
  }
  static ns::Ref<SqlDatabasePool> initWithPath_flags(std::optional<std::string> path, int openFlags) {
    return databasePoolWithPath_flags(std::move(path), openFlags);
  }
  static ns::Ref<SqlDatabasePool> init() { return databasePoolWithPath(std::nullopt); }

  // A connection for the caller, or nullptr when the maximum is reached, opening fails or the
  // delegate refuses it.
  ns::Ref<SqlDatabase> db();
  // Gives a connection back. Raises "Database already in pool" when it is already idle.
  void pushDatabaseBackInPool(const ns::Ref<SqlDatabase>& db);

  void inDatabase(const DatabaseBlock& block);
  void inTransaction(const TransactionBlock& block) { beginTransaction_withBlock(false, block); }
  void inDeferredTransaction(const TransactionBlock& block) { beginTransaction_withBlock(true, block); }
  void beginTransaction_withBlock(bool useDeferred, const TransactionBlock& block);
  std::optional<ns::Error> inSavePoint(const TransactionBlock& block);

  std::size_t countOfCheckedInDatabases();
  std::size_t countOfCheckedOutDatabases();
  std::size_t countOfOpenDatabases();
  void releaseAllDatabases();
  void executeLocked(const std::function<void()>& block);

  const std::optional<std::string>& path() const { return _path; }
  void setPath(std::optional<std::string> path) { _path = std::move(path); }
  std::shared_ptr<SqlDatabasePoolDelegate> delegate() const { return _delegate.lock(); }
  void setDelegate(const std::shared_ptr<SqlDatabasePoolDelegate>& delegate) { _delegate = delegate; }
  uint64_t maximumNumberOfDatabasesToCreate() const { return _maximumNumberOfDatabasesToCreate; }
  void setMaximumNumberOfDatabasesToCreate(uint64_t maximum) { _maximumNumberOfDatabasesToCreate = maximum; }
  int openFlags() const { return _openFlags; }

 private:
  std::optional<std::string> _path;
  ns::Ref<dispatch::Queue> _lockQueue;
  std::vector<ns::Ref<SqlDatabase>> _databaseInPool;
  std::vector<ns::Ref<SqlDatabase>> _databaseOutPool;
  std::weak_ptr<SqlDatabasePoolDelegate> _delegate;
  uint64_t _maximumNumberOfDatabasesToCreate = 0;
  int _openFlags;
};
