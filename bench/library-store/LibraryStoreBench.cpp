// The library store against the raw SQLite C API doing the same work on an identical file in one
// run: 100,000 strings saved in the string cache in one transaction and 100,000 play positions
// read by key, through the store's own methods, and a scan of every row read by column name against the same
// scan by column index. The two sides take turns for several rounds; the best round of each counts, in
// processor time. A driver, not a test: run it by hand on a quiet machine from a Release build.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/library/DBAccess.h"
#include "lib/database/SqlDatabase.h"
#include "platform/testing/Sandbox.h"

namespace {

constexpr int kRows = 100000;
constexpr int kRounds = 7;
const char* const kInsert =
    "INSERT OR REPLACE INTO strcache (name,type,strdata,insertdate) values (?,?,?,strftime('%s','now'));";
const char* const kPosition = "INSERT OR REPLACE INTO playposition (trackid, pos) values (?,?);";
const char* const kSelect = "SELECT pos FROM playposition where trackid=?;";
const char* const kScan = "SELECT trackid, pos FROM playposition;";

std::vector<std::string> makeIds() {
  std::vector<std::string> ids;
  ids.reserve(kRows);
  for (int i = 0; i < kRows; ++i) ids.push_back("vid" + std::to_string(i * 7919 % kRows) + "x");
  return ids;
}

// The calling thread's processor time: on a shared machine it varies far less from round to
// round than elapsed time, and both sides run all their work on this thread.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double seconds(const std::function<void()>& work) {
  double start = cpuSeconds();
  work();
  return cpuSeconds() - start;
}

// Best round of each side, the rounds of the two sides taken in turn so that both meet the
// same machine.
std::pair<double, double> bestOfEach(const std::function<void()>& ours,
                                     const std::function<void()>& reference) {
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < kRounds; ++round) {
    best[1] = std::min(best[1], seconds(reference));
    best[0] = std::min(best[0], seconds(ours));
  }
  return {best[0], best[1]};
}

bool check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
  std::fprintf(stderr, "raw %s failed: %s\n", what, sqlite3_errmsg(db));
  return false;
}

// The reference: one connection on a file with the store's schema and journal mode, each
// statement prepared once.
class RawStore {
 public:
  explicit RawStore(const std::string& path) {
    ok_ = check(sqlite3_open(path.c_str(), &db_), db_, "open") &&
          check(sqlite3_exec(db_,
                             "PRAGMA journal_mode=WAL;"
                             "CREATE TABLE playposition  ( trackid STRING PRIMARY KEY, pos FLOAT);"
                             "CREATE TABLE strcache  ( name STRING PRIMARY KEY, type STRING, strdata STRING, "
                             "insertdate INTEGER );",
                             nullptr, nullptr, nullptr),
                db_, "schema") &&
          check(sqlite3_prepare_v2(db_, kInsert, -1, &insert_, nullptr), db_, "prepare") &&
          check(sqlite3_prepare_v2(db_, kSelect, -1, &select_, nullptr), db_, "prepare") &&
          check(sqlite3_prepare_v2(db_, kScan, -1, &scan_, nullptr), db_, "prepare");
  }
  ~RawStore() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(select_);
    sqlite3_finalize(scan_);
    sqlite3_close(db_);
  }
  bool ok() const { return ok_; }

  // What saveString_withType_withData does, for each id, then the play position the reads find.
  void insertAll(const std::vector<std::string>& ids) {
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    for (const auto& id : ids) {
      std::string key = "page" + id;
      sqlite3_bind_text(insert_, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(insert_, 2, "page", 4, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert_, 3, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
      ok_ = check(sqlite3_step(insert_), db_, "insert") && ok_;
      sqlite3_reset(insert_);
    }
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }

  void storePositions(const std::vector<std::string>& ids) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, kPosition, -1, &statement, nullptr);
    for (int i = 0; i < kRows; ++i) {
      sqlite3_bind_text(statement, 1, ids[i].data(), static_cast<int>(ids[i].size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(statement, 2, static_cast<float>(i));
      ok_ = check(sqlite3_step(statement), db_, "insert") && ok_;
      sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }

  double selectAll(const std::vector<std::string>& ids) {
    double sum = 0;
    for (const auto& id : ids) {
      sqlite3_bind_text(select_, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(select_) == SQLITE_ROW) sum += static_cast<float>(sqlite3_column_double(select_, 0));
      sqlite3_reset(select_);
    }
    return sum;
  }

  double scan() {
    double sum = 0;
    while (sqlite3_step(scan_) == SQLITE_ROW) sum += sqlite3_column_double(scan_, 1);
    sqlite3_reset(scan_);
    return sum;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* scan_ = nullptr;
  bool ok_ = false;
};

void report(const char* what, double store, double raw) {
  std::printf("%-36s store %8.1f ms   raw C API %8.1f ms   ratio %.2f\n", what, store * 1e3, raw * 1e3,
              store / raw);
}

}  // namespace

// With an argument ("inserts", "selects" or "scans") only that part runs, for a profiler.
int main(int argc, char** argv) {
  std::string only = argc > 1 ? argv[1] : "";
  auto runs = [&](const char* part) { return only.empty() || only == part; };
  pltest::Sandbox sandbox;
  std::filesystem::create_directories(sandbox.dataHome() / "Pelorin");
  auto access = DBAccess::getInstance();
  SqlDatabase& db = *access->db();
  RawStore raw(sandbox.path("raw.db"));
  if (!raw.ok() || !db.goodConnection()) {
    std::fprintf(stderr, "could not open the stores\n");
    return 1;
  }
  std::vector<std::string> ids = makeIds();

  std::pair<double, double> inserts{0, 0}, selects{0, 0}, byIndexScans{0, 0}, byNameScans{0, 0};
  auto storeInserts = [&] {
    db.beginTransaction();
    for (const auto& id : ids) access->saveString_withType_withData(id, "page", id);
    db.commit();
  };
  auto rawInserts = [&] { raw.insertAll(ids); };
  if (runs("inserts")) {
    inserts = bestOfEach(storeInserts, rawInserts);
  } else {
    storeInserts();
    rawInserts();
  }
  // Plain inserts through the store's connection; they also make the rows the reads find.
  auto storePositions = [&] {
    db.beginTransaction();
    for (int i = 0; i < kRows; ++i) db.executeUpdate(kPosition, ids[i], static_cast<float>(i));
    db.commit();
  };
  auto rawPositions = [&] { raw.storePositions(ids); };
  std::pair<double, double> positions{0, 0};
  if (runs("inserts")) {
    positions = bestOfEach(storePositions, rawPositions);
  } else {
    storePositions();
    rawPositions();
  }

  double storeSum = 0;
  double rawSum = 0;
  if (runs("selects"))
    selects = bestOfEach(
        [&] {
          storeSum = 0;
          for (const auto& id : ids) storeSum += access->getPlayPositionForId(id);
        },
        [&] { rawSum = raw.selectAll(ids); });

  double byIndexSum = 0;
  double byNameSum = 0;
  double rawScanSum = 0;
  if (runs("scans"))
    byIndexScans = bestOfEach(
        [&] {
          byIndexSum = 0;
          auto rs = db.executeQuery(kScan);
          while (rs && rs->next()) byIndexSum += rs->doubleForColumnIndex(1);
        },
        [&] { rawScanSum = raw.scan(); });
  if (runs("scans"))
    byNameScans = bestOfEach(
        [&] {
          byNameSum = 0;
          auto rs = db.executeQuery(kScan);
          while (rs && rs->next()) byNameSum += rs->doubleForColumn("pos");
        },
        [&] { rawScanSum = raw.scan(); });
  auto [storeInsert, rawInsert] = inserts;
  auto [storeSelect, rawSelect] = selects;
  auto [byIndex, rawScan] = byIndexScans;
  double byName = byNameScans.first;
  rawScan = std::min(rawScan, byNameScans.second);

  std::printf(
      "library store against the raw SQLite C API (%d rows, best of %d rounds in CPU time, SQLite %s)\n",
      kRows, kRounds, sqlite3_libversion());
  report("string-cache saves, one transaction", storeInsert, rawInsert);
  report("play positions, one transaction", positions.first, positions.second);
  report("selects by key", storeSelect, rawSelect);
  report("scan, getter by column index", byIndex, rawScan);
  report("scan, getter by column name", byName, rawScan);
  std::printf("%-36s by name / by index %.2f\n", "column-name lookup", byName / byIndex);
  if (storeSum != rawSum || byIndexSum != byNameSum || byIndexSum != rawScanSum) {
    std::fprintf(stderr, "the two sides read different values: %f %f %f %f %f\n", storeSum, rawSum,
                 byIndexSum, byNameSum, rawScanSum);
    return 1;
  }
  return 0;
}
