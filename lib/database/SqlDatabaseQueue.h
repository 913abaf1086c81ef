#pragma once
// One connection shared by any number of threads: every piece of work runs, one at a time, on
// the queue's own serial dispatch queue, and the caller waits until it has run.
#include <functional>
#include <optional>
#include <string>

#include "lib/database/SqlDatabase.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace dispatch {
class Queue;
}

// SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE.
inline constexpr int kSqlDefaultOpenFlags = 6;

class SqlDatabaseQueue : public ns::Object {
 public:
  using DatabaseBlock = std::function<void(const ns::Ref<SqlDatabase>& db)>;
  using TransactionBlock = std::function<void(const ns::Ref<SqlDatabase>& db, bool* rollback)>;

  // Use the factories: they open the connection and answer nullptr when that fails.
  SqlDatabaseQueue(std::optional<std::string> path, int openFlags);
  ~SqlDatabaseQueue() override;

  static ns::Ref<SqlDatabaseQueue> databaseQueueWithPath(std::optional<std::string> path);
  static ns::Ref<SqlDatabaseQueue> databaseQueueWithPath_flags(std::optional<std::string> path,
                                                               int openFlags);
  static ns::Ref<SqlDatabaseQueue> initWithPath(std::optional<std::string> path) {
    return databaseQueueWithPath(std::move(path));
  }
  static ns::Ref<SqlDatabaseQueue> initWithPath_flags(std::optional<std::string> path, int openFlags) {
    return databaseQueueWithPath_flags(std::move(path), openFlags);
  }
  static ns::Ref<SqlDatabaseQueue> init() { return databaseQueueWithPath(std::nullopt); }

  // Closes the connection; the next piece of work opens a new one.
  void close();
  // Runs `block` with the connection (nullptr when it could not be reopened). Calling any of
  // these from work already running on this queue would wait for itself forever: the program
  // stops with a message instead.
  void inDatabase(const DatabaseBlock& block);
  void inTransaction(const TransactionBlock& block) { beginTransaction_withBlock(false, block); }
  void inDeferredTransaction(const TransactionBlock& block) { beginTransaction_withBlock(true, block); }
  void beginTransaction_withBlock(bool useDeferred, const TransactionBlock& block);
  // Runs `block` inside a savepoint named "savePoint<n>"; answers the error of the last failed
  // step, or nullopt.
  std::optional<ns::Error> inSavePoint(const TransactionBlock& block);

  const std::optional<std::string>& path() const { return _path; }
  void setPath(std::optional<std::string> path) { _path = std::move(path); }
  int openFlags() const { return _openFlags; }

 protected:
  // The connection class: a subclass may answer a connection of its own kind.
  virtual ns::Ref<SqlDatabase> databaseClass_make(const std::optional<std::string>& path) const;

 private:
  ns::Ref<SqlDatabase> database();
  void checkNotReentrant() const;
  void runOnQueue(const std::function<void()>& work);

  std::optional<std::string> _path;
  ns::Ref<dispatch::Queue> _queue;
  ns::Ref<SqlDatabase> _db;
  int _openFlags;
};
