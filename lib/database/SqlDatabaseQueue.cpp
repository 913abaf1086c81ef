#include "lib/database/SqlDatabaseQueue.h"

#include <atomic>
#include <cstdlib>
#include <exception>

#include "lib/database/SqlLog.h"
#include "platform/dispatch/Queue.h"

namespace {

// The queue-specific key; its value on a queue is the SqlDatabaseQueue that owns the queue.
const char kDispatchQueueSpecificKey = 0;

std::atomic<long> savePointCounter{0};

}  // namespace

SqlDatabaseQueue::SqlDatabaseQueue(std::optional<std::string> path, int openFlags)
    : _path(std::move(path)), _openFlags(openFlags) {}

SqlDatabaseQueue::~SqlDatabaseQueue() {
  if (_queue) dispatch::setSpecific(_queue, &kDispatchQueueSpecificKey, nullptr);
}

ns::Ref<SqlDatabase> SqlDatabaseQueue::databaseClass_make(const std::optional<std::string>& path) const {
  return SqlDatabase::databaseWithPath(path);
}

ns::Ref<SqlDatabaseQueue> SqlDatabaseQueue::databaseQueueWithPath(std::optional<std::string> path) {
  return databaseQueueWithPath_flags(std::move(path), kSqlDefaultOpenFlags);
}

ns::Ref<SqlDatabaseQueue> SqlDatabaseQueue::databaseQueueWithPath_flags(std::optional<std::string> path,
                                                                        int openFlags) {
  auto q = ns::make<SqlDatabaseQueue>(std::move(path), openFlags);
  q->_db = q->databaseClass_make(q->_path);
  if (!q->_db->openWithFlags(openFlags)) {
    sqldb::logError("Could not create database queue for path " + sqldb::describePath(q->_path));
    return nullptr;
  }
  q->_queue = dispatch::queueCreate("sqldb." + q->description());
  dispatch::setSpecific(q->_queue, &kDispatchQueueSpecificKey, q.get());
  return q;
}

void SqlDatabaseQueue::checkNotReentrant() const {
  // The same check for every operation that waits on the queue: from work running on it, the
  // wait could never end.
  if (dispatch::getSpecific(&kDispatchQueueSpecificKey) == this) {
    sqldb::logError("inDatabase: was called reentrantly on the same queue, which would lead to a deadlock");
    std::abort();
  }
}

void SqlDatabaseQueue::runOnQueue(const std::function<void()>& work) {
  checkNotReentrant();
  std::exception_ptr failure;
  dispatch::sync(_queue, [&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
}

ns::Ref<SqlDatabase> SqlDatabaseQueue::database() {
  if (!_db) {
    _db = databaseClass_make(_path);
    if (!_db->openWithFlags(_openFlags)) {
      sqldb::logError("SqlDatabaseQueue could not reopen database for path " + sqldb::describePath(_path));
      _db = nullptr;
    }
  }
  return _db;
}

void SqlDatabaseQueue::close() {
  runOnQueue([this] {
    if (_db) _db->close();
    _db = nullptr;
  });
}

void SqlDatabaseQueue::inDatabase(const DatabaseBlock& block) {
  runOnQueue([&] {
    auto db = database();
    block(db);
    if (db && db->hasOpenResultSets())
      sqldb::log(
          "Warning: there is at least one open result set around after performing [SqlDatabaseQueue "
          "inDatabase:]");
  });
}

void SqlDatabaseQueue::beginTransaction_withBlock(bool useDeferred, const TransactionBlock& block) {
  runOnQueue([&] {
    auto db = database();
    if (!db) {
      bool ignored = false;
      block(db, &ignored);
      return;
    }
    db->runInTransaction(useDeferred, [&](bool* rollback) { block(db, rollback); });
  });
}

std::optional<ns::Error> SqlDatabaseQueue::inSavePoint(const TransactionBlock& block) {
  std::optional<ns::Error> result;
  runOnQueue([&] {
    auto db = database();
    if (!db) {
      bool ignored = false;
      block(db, &ignored);
      return;
    }
    result = db->runInSavePointNamed("savePoint" + std::to_string(savePointCounter.fetch_add(1)),
                                     [&](bool* rollback) { block(db, rollback); });
  });
  return result;
}
