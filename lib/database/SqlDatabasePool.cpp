#include "lib/database/SqlDatabasePool.h"

#include <algorithm>
#include <atomic>

#include "lib/database/SqlDatabaseQueue.h"
#include "lib/database/SqlLog.h"
#include "platform/core/Exception.h"
#include "platform/dispatch/Queue.h"

namespace {

std::atomic<long> savePointCounter{0};

void removeFrom(std::vector<ns::Ref<SqlDatabase>>& list, const ns::Ref<SqlDatabase>& db) {
  list.erase(std::remove(list.begin(), list.end(), db), list.end());
}

bool contains(const std::vector<ns::Ref<SqlDatabase>>& list, const ns::Ref<SqlDatabase>& db) {
  return std::find(list.begin(), list.end(), db) != list.end();
}

// Gives the connection back however the caller's work ends.
struct GiveBack {
  SqlDatabasePool* pool;
  ns::Ref<SqlDatabase> db;
  ~GiveBack() {
    if (db) pool->pushDatabaseBackInPool(db);
  }
};

}  // namespace

SqlDatabasePool::SqlDatabasePool(std::optional<std::string> path, int openFlags)
    : _path(std::move(path)), _openFlags(openFlags) {
  _lockQueue = dispatch::queueCreate("sqldb." + description());
}

SqlDatabasePool::~SqlDatabasePool() = default;

ns::Ref<SqlDatabasePool> SqlDatabasePool::databasePoolWithPath(std::optional<std::string> path) {
  return databasePoolWithPath_flags(std::move(path), kSqlDefaultOpenFlags);
}

ns::Ref<SqlDatabasePool> SqlDatabasePool::databasePoolWithPath_flags(std::optional<std::string> path,
                                                                     int openFlags) {
  return ns::make<SqlDatabasePool>(std::move(path), openFlags);
}

ns::Ref<SqlDatabase> SqlDatabasePool::db() {
  ns::Ref<SqlDatabase> result;
  dispatch::sync(_lockQueue, [&] {
    ns::Ref<SqlDatabase> db;
    bool shouldNotifyDelegate = false;
    if (!_databaseInPool.empty()) {
      db = _databaseInPool.back();
      if (!contains(_databaseOutPool, db)) _databaseOutPool.push_back(db);
      _databaseInPool.pop_back();
    } else {
      if (_maximumNumberOfDatabasesToCreate) {
        std::size_t currentCount = _databaseOutPool.size() + _databaseInPool.size();
        if (currentCount >= _maximumNumberOfDatabasesToCreate) {
          sqldb::log(sqldb::cformat("Maximum number of databases (%ld) has already been reached!",
                                    static_cast<long>(currentCount)));
          return;
        }
      }
      db = SqlDatabase::databaseWithPath(_path);
      shouldNotifyDelegate = true;
    }

    if (!db->openWithFlags(_openFlags)) {
      sqldb::logError("Could not open up the database at path " + sqldb::describePath(_path));
      // A reused connection that cannot reopen leaves the pool instead of holding a slot.
      removeFrom(_databaseOutPool, db);
      db->close();
      return;
    }

    auto delegate = _delegate.lock();
    if (delegate && !delegate->databasePool_shouldAddDatabaseToPool(this, db)) {
      removeFrom(_databaseOutPool, db);
      db->close();
      return;
    }

    if (!contains(_databaseOutPool, db)) _databaseOutPool.push_back(db);
    if (shouldNotifyDelegate && delegate) delegate->databasePool_didAddDatabase(this, db);
    result = db;
  });
  return result;
}

void SqlDatabasePool::pushDatabaseBackInPool(const ns::Ref<SqlDatabase>& db) {
  if (!db) return;
  bool alreadyIdle = false;
  dispatch::sync(_lockQueue, [&] {
    if (contains(_databaseInPool, db)) {
      alreadyIdle = true;
      return;
    }
    _databaseInPool.push_back(db);
    removeFrom(_databaseOutPool, db);
  });
  // Raised here, not inside the lock queue's block.
  if (alreadyIdle)
    ns::Exception::raise("Database already in pool",
                         "The SqlDatabase being put back into the pool is already present in the pool");
}

void SqlDatabasePool::inDatabase(const DatabaseBlock& block) {
  GiveBack giveBack{this, db()};
  block(giveBack.db);
}

void SqlDatabasePool::beginTransaction_withBlock(bool useDeferred, const TransactionBlock& block) {
  GiveBack giveBack{this, db()};
  const auto& db = giveBack.db;
  if (!db) {
    bool ignored = false;
    block(db, &ignored);
    return;
  }
  db->runInTransaction(useDeferred, [&](bool* rollback) { block(db, rollback); });
}

std::optional<ns::Error> SqlDatabasePool::inSavePoint(const TransactionBlock& block) {
  std::string name = "savePoint" + std::to_string(savePointCounter.fetch_add(1));
  GiveBack giveBack{this, db()};
  const auto& db = giveBack.db;
  if (!db) {
    bool ignored = false;
    block(db, &ignored);
    return std::nullopt;
  }
  return db->runInSavePointNamed(name, [&](bool* rollback) { block(db, rollback); });
}

std::size_t SqlDatabasePool::countOfCheckedInDatabases() {
  std::size_t count = 0;
  dispatch::sync(_lockQueue, [&] { count = _databaseInPool.size(); });
  return count;
}

std::size_t SqlDatabasePool::countOfCheckedOutDatabases() {
  std::size_t count = 0;
  dispatch::sync(_lockQueue, [&] { count = _databaseOutPool.size(); });
  return count;
}

std::size_t SqlDatabasePool::countOfOpenDatabases() {
  std::size_t count = 0;
  dispatch::sync(_lockQueue, [&] { count = _databaseOutPool.size() + _databaseInPool.size(); });
  return count;
}

void SqlDatabasePool::releaseAllDatabases() {
  std::vector<ns::Ref<SqlDatabase>> in, out;
  dispatch::sync(_lockQueue, [&] {
    in.swap(_databaseInPool);
    out.swap(_databaseOutPool);
  });
}

void SqlDatabasePool::executeLocked(const std::function<void()>& block) {
  dispatch::sync(_lockQueue, block);
}
