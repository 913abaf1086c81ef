#include "app/library/DBAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>

#include "app/library/LibraryNotifications.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "lib/database/SqlDatabase.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/WarnOnce.h"

namespace {

// The instance map and the migration flag, shared by every thread. One lock guards both and is
// held while an instance is made, so that the first instance's migration has finished before
// any other thread gets an instance.
struct InstanceStore {
  std::recursive_mutex mutex;
  std::map<std::string, ns::Ref<DBAccess>> instances;
  bool migrated = false;
  // The store this process said it cannot read, write or make, until it works again: every
  // thread's instance tries it, and one warning tells the user.
  ns::WarnOnce faults;
  // The stores this run found it may not write, with why: the run keeps to that for all its
  // connections.
  std::map<std::string, std::string> unwritable;
};

InstanceStore& instanceStore() {
  static ns::NoDestructor<InstanceStore> store;  // never destroyed: threads may end during exit
  return *store;
}

// One per thread: its address is the thread's key, and it drops the thread's instance when the
// thread ends, so that a connection never outlives its thread.
struct ThreadSlot {
  bool hasInstance = false;
  ~ThreadSlot();
};

thread_local ThreadSlot threadSlot;

std::string threadKey() {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<void*>(&threadSlot));
  return buf;
}

// `always`: log even when the thread had no instance, as an explicit removeInstance does.
void removeInstanceForKey(const std::string& key, bool always) {
  ns::Ref<DBAccess> instance;
  auto& store = instanceStore();
  {
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
    auto it = store.instances.find(key);
    if (it != store.instances.end()) {
      instance = std::move(it->second);
      store.instances.erase(it);
    }
    if (instance || always)
      ns::Log("RM  THREAD = %@ (%lu)", key, static_cast<unsigned long>(store.instances.size()));
  }
  // Released outside the lock: closing the connection may take a while.
  instance.reset();
}

ThreadSlot::~ThreadSlot() {
  if (hasInstance) removeInstanceForKey(threadKey(), false);
}

// Says `warning` once for the store at `path`, or forgets that it was said when `warning` is nil
// (the store read again).
void noteStoreFault(const std::string& path, const std::optional<std::string>& warning) {
  auto& faults = instanceStore().faults;
  if (warning)
    faults.warn(path, *warning);
  else
    faults.forget(path);
}

// Why the older library at `path`, which stands there, cannot seed the live one: a file SQLite
// does not read through (random bytes, one cut short) or one without the library's tables. Nil
// when it can. Opened only to read, as a file nobody changes: SQLite takes no lock and makes no
// file beside it.
std::optional<std::string> olderLibraryFault(const std::string& path, const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return "is a directory";
  if (!S_ISREG(info.st_mode)) return "is no regular file";
  // Opened first for the system's reason: SQLite would only say that it is unable to open it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  auto db = SqlDatabase::databaseWithPath(path);
  db->setLogsErrors(false);  // the one warning says it
  if (!db->openReadOnly(true)) return "unable to open database file";
  std::optional<std::string> fault;
  // Every page is read: a store damaged inside can still answer its first queries.
  const auto check = db->stringForQuery("PRAGMA quick_check;");
  if (!check)
    fault = db->lastErrorMessage();
  else if (*check != "ok")
    fault = "database disk image is malformed";
  else if (!db->tableExists("schema"))
    fault = "is no library";
  db->close();
  return fault;
}

// Copies the older library to the live path through a temporary file, so that a copy that fails
// half-way never leaves a truncated live file behind. An older file that is no library is left
// where it is and named once: copied in, it would be a live store that never reads, run after
// run. One that cannot be looked at (none there, a cache folder that cannot be searched, which
// the code that makes the cache folders reports) is passed over.
void seedFromOlderFile(const std::string& olderPath, const std::string& livePath) {
  struct stat info {};
  if (::stat(olderPath.c_str(), &info) != 0) return;
  if (auto fault = olderLibraryFault(olderPath, info)) {
    noteStoreFault(olderPath,
                   ns::format("DBAccess: %@ cannot be read (%@); it is left as it is and the library starts "
                              "without it",
                              olderPath, *fault));
    return;
  }
  noteStoreFault(olderPath, std::nullopt);
  std::error_code ec;
  std::string temporary = livePath + ".seeding";
  if (std::filesystem::copy_file(olderPath, temporary, std::filesystem::copy_options::overwrite_existing,
                                 ec)) {
    std::filesystem::rename(temporary, livePath, ec);
  }
  if (ec) std::filesystem::remove(temporary, ec);
}

std::string unreadableWarning(const std::string& path, const std::string& reason) {
  return ns::format(
      "DBAccess: %@ cannot be read (%@); it is left as it is and the library is not kept this time", path,
      reason);
}

// No store and SQLite could not make one: why its folder takes no new file. Nil when there is no
// folder either, which the code that makes the folder reports.
std::optional<std::string> creationFailureWarning(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  std::string reason = "unable to open database file";
  // With the rights SQLite used, the effective ones, not the real user's.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) reason = std::strerror(errno);
  return ns::format("DBAccess: %@ cannot be created (%@); the library is not kept this time", path, reason);
}

// What stands in the store's place, links followed, when it is no file: a folder, a pipe, a
// device. It is never handed to SQLite: opening a pipe would be its writer's cue, and a device
// such as /dev/zero opens, reads as an empty store and turns every write away in silence.
std::optional<std::string> notAFileWarning(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return std::nullopt;
  return unreadableWarning(path, S_ISDIR(info.st_mode) ? "is a directory" : "is no regular file");
}

std::string unwritableWarning(const std::string& path, const std::string& reason) {
  return ns::format(
      "DBAccess: %@ cannot be written (%@); it is left as it is and changes to the library are not kept "
      "this time",
      path, reason);
}

// Why this process may not write the store at `path`, an existing file, with the rights SQLite
// uses (the effective ones): the file itself, a journal file beside it, or its folder when SQLite
// would have to make a journal file there. Nil when it can be written. Asked before SQLite opens it, because
// SQLite opens such a store read-only and, when its folder takes new files, makes the write-ahead journal's
// -wal and -shm files beside it with the store's mode: a later run that may write the store again finds those
// files read-only and loses every write.
std::optional<std::string> unwritableStoreWarning(const std::string& path) {
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
    return unwritableWarning(path, std::strerror(errno));
  // A journal file that cannot be written, left by a run that could only read or by another
  // user: SQLite would open the store and turn every write away, quietly.
  std::error_code ec;
  bool journalsExist = true;
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string journal = path + suffix;
    if (!std::filesystem::exists(journal, ec)) {
      journalsExist = false;
    } else if (::faccessat(AT_FDCWD, journal.c_str(), W_OK, AT_EACCESS) != 0) {
      return unwritableWarning(journal, std::strerror(errno));
    }
  }
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (!journalsExist && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return unwritableWarning(folder, std::strerror(errno));
  return std::nullopt;
}

// Why this run may not write the store at `path`, an existing file; nil when it may. Once a
// connection of the run has opened it read-only, every later one does too, even when the store
// has been made writable since: a read-only connection may take the file as one nobody changes and
// never see another's commits, and the main thread's lives for the run. A later run asks anew.
std::optional<std::string> unwritableThisRun(const std::string& path) {
  auto& store = instanceStore();
  std::lock_guard<std::recursive_mutex> lock(store.mutex);
  if (auto found = store.unwritable.find(path); found != store.unwritable.end()) return found->second;
  return unwritableStoreWarning(path);
}

// Whether a write-ahead journal with pages in it lies beside the store: a store opened as one
// nobody changes would be read without them.
bool journalHasPages(const std::string& path) {
  struct stat info {};
  return ::stat((path + "-wal").c_str(), &info) == 0 && info.st_size > 0;
}

// Why SQLite could not open the store: what stands in its place, why the system refuses it, or
// why it cannot be made; nil when its folder is missing or no folder, which the code that makes
// the folder reports.
std::optional<std::string> openFailureWarning(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    if (error == ENOENT) return creationFailureWarning(path);
    if (error == ENOTDIR) return std::nullopt;
    return unreadableWarning(path, std::strerror(error));
  }
  if (S_ISDIR(info.st_mode)) return unreadableWarning(path, "is a directory");
  if (!S_ISREG(info.st_mode)) return unreadableWarning(path, "is no regular file");
  // Read-only as SQLite falls back to when it may not write.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return unreadableWarning(path, std::strerror(errno));
  ::close(fd);
  return unreadableWarning(path, "unable to open database file");
}

// The store's writes of this process, one at a time. The connections of several threads would
// otherwise meet at SQLite's file lock, which they can only poll for: under load one of them
// can lose every poll until its busy interval runs out, and its write is lost. Waiting here is
// first come, first served; the busy handler is left to arbitrate with other processes.
std::mutex& writeLock() {
  static ns::NoDestructor<std::mutex> lock;
  return *lock;
}

template <class... Args>
bool write(SqlDatabase& db, const std::string& sql, Args&&... args) {
  std::lock_guard lock(writeLock());
  return db.executeUpdate(sql, std::forward<Args>(args)...);
}

}  // namespace

DBAccess::DBAccess() {
  std::string livePath = getAppSupportFilePath("pelorin_web.db").value();
  std::string olderPath = getCacheBaseSubpath("pelorin.db").value();
  std::error_code ec;
  if (!std::filesystem::exists(livePath, ec)) seedFromOlderFile(olderPath, livePath);
  _db = SqlDatabase::databaseWithPath(livePath);
  // Every call prepares one of a few fixed statements: keep them prepared.
  _db->setShouldCacheStatements(true);
  std::error_code exists;
  const auto unwritable =
      std::filesystem::is_regular_file(livePath, exists) ? unwritableThisRun(livePath) : std::nullopt;
  if (auto notAFile = notAFileWarning(livePath)) {
    noteStoreFault(livePath, notAFile);
  } else if (unwritable ? _db->openReadOnly(!journalHasPages(livePath)) : _db->open()) {
    if (unwritable) {
      std::lock_guard<std::recursive_mutex> lock(instanceStore().mutex);
      instanceStore().unwritable.emplace(livePath, *unwritable);
    }
    // With a write-ahead journal, readers never block the writer and a writer never waits for
    // readers, so the connections of several threads do not turn each other's writes away. The
    // mode is kept in the file; a file in the older rollback mode is converted on first open.
    // It is also the first read of the file: what it answers tells whether the store reads.
    const bool read = _db->stringForQuery("PRAGMA journal_mode=WAL;").has_value();
    if (!read && _db->lastErrorIsUnreadableFile())
      noteStoreFault(livePath, unreadableWarning(livePath, _db->lastErrorMessage()));
    else if (unwritable)
      noteStoreFault(livePath, unwritable);
    else if (_db->isReadOnly())
      noteStoreFault(livePath, unwritableWarning(livePath, "attempt to write a readonly database"));
    else if (read)
      noteStoreFault(livePath, std::nullopt);
  } else if (auto warning = openFailureWarning(livePath)) {
    noteStoreFault(livePath, warning);
  }
  init_database();
}

DBAccess::~DBAccess() {
  if (_db) _db->close();
}

ns::Ref<DBAccess> DBAccess::getInstance() {
  auto& store = instanceStore();
  std::lock_guard<std::recursive_mutex> lock(store.mutex);
  std::string key = threadKey();
  auto it = store.instances.find(key);
  if (it != store.instances.end()) return it->second;
  auto instance = ns::make<DBAccess>();
  store.instances[key] = instance;
  threadSlot.hasInstance = true;
  ns::Log("ADD THREAD = %@ (%lu)", key, static_cast<unsigned long>(store.instances.size()));
  return instance;
}

void DBAccess::removeInstance() {
  removeInstanceForKey(threadKey(), true);
}

void DBAccess::resetForTesting() {
  std::map<std::string, ns::Ref<DBAccess>> instances;
  auto& store = instanceStore();
  {
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
    instances.swap(store.instances);
    store.migrated = false;
    store.faults.forgetAll();
    store.unwritable.clear();
  }
}

int DBAccess::getSchemaVersion() {
  auto rs = _db->executeQuery("SELECT version from schema order by version desc limit 1");
  int version = 0;
  if (rs && rs->next()) {
    // Read whole and clamped: cut to 32 bits, a version of 2^31 or more would pass for an old or
    // current one, and the migration would mark a newer build's library 7.
    long long stored = rs->longLongIntForColumnIndex(0);
    version = static_cast<int>(
        std::clamp<long long>(stored, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    rs->close();
  }
  return version;
}

void DBAccess::init_database() {
  auto& store = instanceStore();
  std::lock_guard<std::recursive_mutex> lock(store.mutex);
  // Set before the first statement: a failed attempt is not retried in the same process.
  if (store.migrated) return;
  store.migrated = true;

  SqlDatabase& db = *_db;
  // One transaction: the library is migrated whole or not at all, and a new library's tables cost
  // the disk one commit instead of one for each of the ~17 statements (the first start waited for
  // each before its window showed). The process's write lock is held throughout, as for one write.
  std::lock_guard writing(writeLock());
  auto update = [&db](const std::string& sql, auto&&... args) { return db.executeUpdate(sql, args...); };
  db.runInTransaction(false, [&](bool*) {
    update("CREATE TABLE IF NOT EXISTS schema ( version INTEGER PRIMARY KEY );");
    int v = getSchemaVersion();
    ns::Log("SCHEMA VERSION = %d", v);
    if (v > kSchemaVersion) {
      // Written by a newer build: marking it 7 would make that build migrate it again.
      ns::LogWarning("SCHEMA VERSION %d is newer than %d: the library is left as it is", v, kSchemaVersion);
      return;
    }
    if (v == 0) {
      update("CREATE TABLE IF NOT EXISTS playposition  ( trackid STRING PRIMARY KEY, pos FLOAT);");
      update("CREATE TABLE IF NOT EXISTS bookmark  ( trackid STRING, pos1 FLOAT, pos2 FLOAT);");
      update("CREATE TABLE IF NOT EXISTS playedstate  ( trackid STRING PRIMARY KEY, pstate INTEGER);");
    }
    if (v < 2) update("ALTER TABLE bookmark ADD startend STRING;");
    if (v < 3)
      update("CREATE TABLE IF NOT EXISTS downloadedpath  ( trackid STRING PRIMARY KEY, filepath STRING);");
    if (v < 4) update("ALTER TABLE bookmark ADD comment STRING;");
    auto createGroupTables = [&update] {
      update(
          "CREATE TABLE IF NOT EXISTS playlistgroup ( groupid INTEGER PRIMARY KEY AUTOINCREMENT, name "
          "STRING);");
      update(
          "CREATE TABLE IF NOT EXISTS playlistgroupentry ( playlistid STRING PRIMARY KEY, groupid INTEGER);");
      update("CREATE TABLE IF NOT EXISTS expandinfo ( menuid STRING PRIMARY KEY, expanded INTEGER);");
    };
    if (v < 5) createGroupTables();
    if (v < 6) {
      update("CREATE TABLE IF NOT EXISTS videoresolution  ( trackid STRING PRIMARY KEY, resolution INT);");
      createGroupTables();
    }
    if (v < 7)
      update(
          "CREATE TABLE IF NOT EXISTS strcache  ( name STRING PRIMARY KEY, type STRING, strdata STRING, "
          "insertdate "
          "INTEGER );");
    if (v != kSchemaVersion) {
      update("DELETE FROM schema;");
      update("INSERT INTO schema (version) values (?);", kSchemaVersion);
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Play positions and played states

void DBAccess::savePlayPosition_forId(float pos, const std::string& videoId) {
  int state = getPlayedStateForId(videoId);
  write(*_db, "INSERT OR REPLACE INTO playposition (trackid, pos) values (?,?);", videoId, pos);
  if (state == 0 && pos > 0) savePlayedState_forId(2, videoId);
}

float DBAccess::getPlayPositionForId(const std::string& videoId) {
  auto rs = _db->executeQuery("SELECT pos FROM playposition where trackid=?;", videoId);
  float pos = 0;
  if (rs && rs->next()) {
    pos = static_cast<float>(rs->doubleForColumnIndex(0));
    rs->close();
  }
  return pos;
}

void DBAccess::savePlayedState_forId(int state, const std::string& videoId) {
  write(*_db, "INSERT OR REPLACE INTO playedstate (trackid, pstate) values (?,?);", videoId, state);
  postNotification(kVideoInfoChangedNotification);
}

int DBAccess::getPlayedStateForId(const std::string& videoId) {
  auto rs = _db->executeQuery("SELECT pstate FROM playedstate where trackid=?;", videoId);
  int state = 0;
  if (rs && rs->next()) {
    state = rs->intForColumnIndex(0);
    rs->close();
  }
  return state;
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

void DBAccess::addBookmark_startPos_endPos_startEnd(const std::string& videoId, float pos1, float pos2,
                                                    const std::string& startEnd) {
  // A video has at most one "s" and one "e" bookmark: the marker leaves the others first.
  if (!startEnd.empty())
    write(*_db, "UPDATE bookmark SET startend='' WHERE startend=? AND trackid=?;", startEnd, videoId);
  write(*_db, "UPDATE bookmark SET startend=? WHERE trackid=? AND pos1=? AND pos2=?;", startEnd, videoId,
        pos1, pos2);
  auto rs = _db->executeQuery("SELECT pos1 from bookmark where trackid=? AND pos1=? AND pos2=?;", videoId,
                              pos1, pos2);
  bool exists = rs && rs->next();
  if (rs) rs->close();
  if (!exists)
    write(*_db, "INSERT INTO bookmark (trackid, pos1, pos2, startend) values (?,?,?,?);", videoId, pos1, pos2,
          startEnd);
  postNotification(kVideoInfoChangedNotification);
}

void DBAccess::deleteBookmark_startPos_endPos(const std::string& videoId, float pos1, float pos2) {
  write(*_db, "DELETE FROM bookmark where trackid=? and pos1=? and pos2=?;", videoId, pos1, pos2);
  postNotification(kVideoInfoChangedNotification);
}

void DBAccess::addBookmark_startPos_endPos_comment(const std::string& videoId, float pos1, float pos2,
                                                   const std::optional<std::string>& comment) {
  write(*_db, "UPDATE bookmark SET comment=? WHERE trackid=? AND pos1=? AND pos2=?;", comment, videoId, pos1,
        pos2);
  postNotification(kVideoInfoChangedNotification);
}

std::vector<BookmarkRow> DBAccess::getBookmarks(const std::string& videoId) {
  std::vector<BookmarkRow> rows;
  auto rs = _db->executeQuery(
      "SELECT pos1, pos2, startend, comment from bookmark where trackid=? order by pos1;", videoId);
  while (rs && rs->next()) {
    BookmarkRow row;
    row.pos1 = static_cast<float>(rs->doubleForColumnIndex(0));
    row.pos2 = static_cast<float>(rs->doubleForColumnIndex(1));
    row.startEnd = rs->stringForColumnIndex(2).value_or("");
    row.comment = rs->stringForColumnIndex(3).value_or("");
    rows.push_back(std::move(row));
  }
  return rows;
}

int DBAccess::getBookmarkCount(const std::string& videoId) {
  auto rs = _db->executeQuery("SELECT count(*) from bookmark where trackid=? order by pos1;", videoId);
  int count = 0;
  if (rs && rs->next()) {
    count = rs->intForColumnIndex(0);
    rs->close();
  }
  return count;
}

// ---------------------------------------------------------------------------------------------
// Downloaded paths

void DBAccess::saveDownloadedVideoFilePath_forId(const std::optional<std::string>& path,
                                                 const std::string& videoId) {
  write(*_db, "DELETE FROM downloadedpath where trackid=?;", videoId);
  if (path && !path->empty())
    write(*_db, "INSERT INTO downloadedpath (trackid, filepath) values (?,?);", videoId, *path);
}

std::optional<std::string> DBAccess::getDownloadedVideoFilePath(const std::string& videoId) {
  auto rs = _db->executeQuery("SELECT filepath FROM downloadedpath where trackid=?;", videoId);
  std::optional<std::string> path;
  if (rs && rs->next()) {
    path = rs->stringForColumnIndex(0);
    rs->close();
  }
  if (!path) return std::nullopt;
  std::error_code ec;
  if (!std::filesystem::exists(*path, ec)) {
    write(*_db, "DELETE FROM downloadedpath where trackid=?;", videoId);
    removeVideoCacheState(videoId);
    return std::nullopt;
  }
  return path;
}

std::vector<std::string> DBAccess::getDownloadedVideoArray() {
  std::vector<std::string> ids;
  auto rs = _db->executeQuery("SELECT trackid from downloadedpath;");
  while (rs && rs->next()) {
    if (auto id = rs->stringForColumnIndex(0)) ids.push_back(*id);
  }
  return ids;
}

// ---------------------------------------------------------------------------------------------
// Playlist groups

namespace {

bool groupNamed(SqlDatabase& db, const std::string& name) {
  auto rs = db.executeQuery("SELECT groupid FROM playlistgroup where name=?;", name);
  bool exists = rs && rs->next();
  if (rs) rs->close();
  return exists;
}

}  // namespace

// These two answer to the caller, who closes its editor on YES: a write that failed answers NO
// rather than pretending the group was made or renamed.
bool DBAccess::addPlaylistGroup(const std::string& name) {
  if (groupNamed(*_db, name)) return false;
  if (!write(*_db, "INSERT INTO playlistgroup (name) values (?);", name)) return false;
  postNotification(kPlaylistGroupChangedNotification);
  return true;
}

bool DBAccess::renamePlaylistGroup_newName(const std::string& oldName, const std::string& newName) {
  if (groupNamed(*_db, newName)) return false;
  if (!write(*_db, "UPDATE playlistgroup SET name=? WHERE name=?;", newName, oldName)) return false;
  postNotification(kPlaylistGroupChangedNotification);
  return true;
}

void DBAccess::deletePlaylistGroup(const std::string& name) {
  write(*_db, "DELETE FROM playlistgroup where name=?;", name);
  postNotification(kPlaylistGroupChangedNotification);
}

void DBAccess::addPlaylistGroupEntry_groupId_notify(const std::string& playlistId, int groupId, bool notify) {
  write(*_db, "INSERT OR REPLACE INTO playlistgroupentry (playlistid, groupid) values (?, ?);", playlistId,
        groupId);
  if (notify) postNotification(kPlaylistGroupChangedNotification);
}

int DBAccess::getPlaylistGroupId(const std::string& playlistId) {
  auto rs = _db->executeQuery("SELECT groupid FROM playlistgroupentry where playlistid=?;", playlistId);
  int groupId = 0;
  if (rs && rs->next()) {
    groupId = rs->intForColumnIndex(0);
    rs->close();
  }
  return groupId;
}

void DBAccess::deletePlaylistGroupEntry_notify(const std::string& playlistId, bool notify) {
  write(*_db, "DELETE FROM playlistgroupentry where playlistid=?;", playlistId);
  if (notify) postNotification(kPlaylistGroupChangedNotification);
}

std::vector<PlaylistGroup> DBAccess::getPlaylistGroupArray() {
  std::vector<PlaylistGroup> groups;
  auto rs = _db->executeQuery("SELECT groupid, name FROM playlistgroup ORDER BY name;");
  while (rs && rs->next())
    groups.push_back({rs->intForColumnIndex(0), rs->stringForColumnIndex(1).value_or("")});
  return groups;
}

ns::Dictionary DBAccess::getPlaylistGroupMap() {
  return ns::Dictionary();
}

// ---------------------------------------------------------------------------------------------
// Expand states

void DBAccess::setMenuExpanded_expanded(const std::string& menuId, bool expanded) {
  write(*_db, "INSERT OR REPLACE INTO expandinfo (menuid, expanded) values (?, ?);", menuId,
        expanded ? "1" : "0");
}

bool DBAccess::isMenuExpanded(const std::string& menuId) {
  auto rs = _db->executeQuery("SELECT expanded FROM expandinfo WHERE menuid=?;", menuId);
  bool expanded = true;  // groups are expanded until the user collapses them
  if (rs && rs->next()) {
    expanded = rs->intForColumnIndex(0) != 0;
    rs->close();
  }
  return expanded;
}

// ---------------------------------------------------------------------------------------------
// String cache

void DBAccess::saveString_withType_withData(const std::string& name, const std::string& type,
                                            const std::string& text) {
  std::string key = type + name;
  write(*_db,
        "INSERT OR REPLACE INTO strcache (name,type,strdata,insertdate) values (?,?,?,strftime('%s','now'));",
        key, type, text);
}

std::optional<std::string> DBAccess::getString_withType(const std::string& name, const std::string& type) {
  std::string key = type + name;
  auto rs =
      _db->executeQuery("SELECT strdata,strftime('%s','now')-insertdate FROM strcache WHERE name=?;", key);
  if (rs && rs->next()) {
    auto text = rs->stringForColumnIndex(0);
    rs->close();
    return text;
  }
  return std::string();
}
