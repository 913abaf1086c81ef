#include "lib/logging/AbstractDatabaseLogger.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"
#include "tests/lib/logging/LoggingTestSupport.h"

namespace {

using logtest::HubCleanup;

// Counts the storage hooks; accepts records unless told not to.
class RecordingDatabaseLogger : public AbstractDatabaseLogger {
 public:
  struct Counts {
    int logged = 0, saves = 0, deletes = 0, saveAndDeletes = 0;
    bool operator==(const Counts&) const = default;
  };
  std::atomic<bool> accept{true};

  Counts counts() {
    return monitor.with([&] { return counts_; });
  }
  // Every block queued on the logger's queue before the call has run.
  Counts settled() {
    dispatch::sync(loggerQueue(), [] {});
    return counts();
  }
  bool waitFor(const std::function<bool(const Counts&)>& pred) {
    return monitor.waitFor([&] { return pred(counts_); });
  }

 protected:
  bool db_log(const ns::Ref<LogMessage>&) override {
    if (!accept) return false;
    monitor.change([&] { counts_.logged += 1; });
    return true;
  }
  void db_save() override {
    monitor.change([&] { counts_.saves += 1; });
  }
  void db_delete() override {
    monitor.change([&] { counts_.deletes += 1; });
  }
  void db_saveAndDelete() override {
    monitor.change([&] { counts_.saveAndDeletes += 1; });
  }

 private:
  logtest::Monitor monitor;
  Counts counts_;
};

struct Installed {
  HubCleanup cleanup;
  ns::Ref<RecordingDatabaseLogger> logger = ns::make<RecordingDatabaseLogger>();
  Installed() {
    LogHub::addLogger(logger);
    logtest::settleRegistrations();
  }
};

TEST(DatabaseLoggerSaving, TheFiveHundredthRecordSavesAtOnce) {
  Installed db;
  EXPECT_EQ(db.logger->saveThreshold(), 500u);
  for (int i = 0; i < 499; ++i) logtest::logNow("r");
  EXPECT_EQ(db.logger->counts().saves, 0);
  logtest::logNow("r");  // delivered synchronously: the save is done when the call returns
  EXPECT_EQ(db.logger->counts(), (RecordingDatabaseLogger::Counts{500, 1, 0, 0}));

  // A threshold lowered to the pending count saves at once; 0 never saves by count.
  for (int i = 0; i < 3; ++i) logtest::logNow("r");
  db.logger->setSaveThreshold(3);
  EXPECT_EQ(db.logger->saveThreshold(), 3u);
  EXPECT_EQ(db.logger->counts().saves, 2);
  db.logger->setSaveThreshold(0);
  for (int i = 0; i < 5; ++i) logtest::logNow("r");
  EXPECT_EQ(db.logger->settled().saves, 2);
}

TEST(DatabaseLoggerSaving, ASaveFollowsTheFirstUnsavedRecordAfterTheSaveInterval) {
  pltest::VirtualClock clock;
  Installed db;
  db.logger->setSaveInterval(0.2);
  EXPECT_EQ(db.logger->saveInterval(), 0.2);
  logtest::logNow("r");
  logtest::logNow("r");
  clock.advance(0.1);
  EXPECT_EQ(db.logger->settled().saves, 0);
  clock.advance(0.15);
  ASSERT_TRUE(db.logger->waitFor([](const auto& c) { return c.saves == 1; }));
  // Saved: the timer waits for the next first record.
  clock.advance(1);
  EXPECT_EQ(db.logger->settled().saves, 1);
  logtest::logNow("r");
  clock.advance(0.25);
  ASSERT_TRUE(db.logger->waitFor([](const auto& c) { return c.saves == 2; }));
  EXPECT_EQ(db.logger->settled().logged, 3);
}

TEST(DatabaseLoggerSaving, RefusedRecordsAndEmptyFlushesCallNoHook) {
  pltest::VirtualClock clock;
  Installed db;
  db.logger->accept = false;
  for (int i = 0; i < 600; ++i) logtest::logNow("r");
  LogHub::flushLog();
  clock.advance(120);  // past the default save interval: no timer was started
  EXPECT_EQ(db.logger->settled(), (RecordingDatabaseLogger::Counts{}));

  db.logger->accept = true;
  logtest::logNow("r");
  db.logger->setDeleteOnEverySave(true);
  EXPECT_TRUE(db.logger->deleteOnEverySave());
  LogHub::flushLog();
  EXPECT_EQ(db.logger->counts(), (RecordingDatabaseLogger::Counts{1, 0, 0, 1}));
  LogHub::flushLog();  // nothing pending
  EXPECT_EQ(db.logger->counts(), (RecordingDatabaseLogger::Counts{1, 0, 0, 1}));
}

TEST(DatabaseLoggerDeleting, LoweringMaxAgeDeletesAtOnceAndZeroStopsDeletion) {
  pltest::VirtualClock clock;
  Installed db;
  db.logger->setMaxAge(100);
  EXPECT_EQ(db.logger->maxAge(), 100);
  EXPECT_EQ(db.logger->counts().deletes, 1);
  db.logger->setMaxAge(200);  // larger: nothing more
  EXPECT_EQ(db.logger->maxAge(), 200);
  EXPECT_EQ(db.logger->counts().deletes, 1);
  // The delete timer runs from the last deletion.
  db.logger->setDeleteInterval(10);
  EXPECT_EQ(db.logger->deleteInterval(), 10);
  clock.advance(10.5);
  ASSERT_TRUE(db.logger->waitFor([](const auto& c) { return c.deletes == 2; }));
  clock.advance(10);
  ASSERT_TRUE(db.logger->waitFor([](const auto& c) { return c.deletes == 3; }));
  db.logger->setMaxAge(0);
  EXPECT_EQ(db.logger->maxAge(), 0);  // the change has taken effect
  clock.advance(100);
  EXPECT_EQ(db.logger->settled().deletes, 3);
  db.logger->deleteOldLogEntries();  // no age: nothing to delete
  EXPECT_EQ(db.logger->settled().deletes, 3);
}

TEST(DatabaseLoggerDeleting, RemovalSavesWhatIsPendingAndStopsTheTimers) {
  pltest::VirtualClock clock;
  Installed db;
  logtest::logNow("r");
  db.logger->savePendingLogEntries();
  EXPECT_EQ(db.logger->settled().saves, 1);
  logtest::logNow("r");
  LogHub::removeLogger(db.logger);
  logtest::settleRegistrations();
  EXPECT_EQ(db.logger->settled().saves, 2);
  clock.advance(1000);
  EXPECT_EQ(db.logger->settled(), (RecordingDatabaseLogger::Counts{2, 2, 0, 0}));
}

}  // namespace
