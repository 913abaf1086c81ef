#pragma once
// The base of loggers that keep records in a store where writing each record at once would cost
// too much. Records go to the subclass one by one (db_log); the save of the pending batch comes
// when saveThreshold records are pending (default 500, 0: never by count) or saveInterval seconds
// after the first of them (default 60, 0 or less: never by time); entries older than maxAge
// (default 7 days, 0 or less: kept) are deleted every deleteInterval seconds (default 300).
//
// The hooks, the timers and the counters all run on the logger's queue, so a subclass's storage
// code is never entered twice at once. The settings follow AbstractLogger's settings discipline.
#include <cstdint>

#include "lib/logging/AbstractLogger.h"

namespace dispatch {
class Source;
}

class AbstractDatabaseLogger : public AbstractLogger {
 public:
  AbstractDatabaseLogger();
  ~AbstractDatabaseLogger() override;

  std::uint64_t saveThreshold();
  void setSaveThreshold(std::uint64_t count);
  double saveInterval();
  void setSaveInterval(double seconds);
  double maxAge();
  void setMaxAge(double seconds);
  double deleteInterval();
  void setDeleteInterval(double seconds);
  bool deleteOnEverySave();
  void setDeleteOnEverySave(bool value);

  // On the logger's queue (at once when called there): save now, delete now.
  void savePendingLogEntries();
  void deleteOldLogEntries();

  void logMessage(const ns::Ref<LogMessage>& logMessage) override;
  void didAddLogger() override;
  void willRemoveLogger() override;
  bool canFlush() const override { return true; }
  void flush() override;

 protected:
  // Stores the record in the pending batch; true when it was accepted.
  virtual bool db_log(const ns::Ref<LogMessage>& logMessage) { return false; }
  virtual void db_save() {}
  // Deletes entries older than maxAge.
  virtual void db_delete() {}
  // Both, used instead of db_save() when deleteOnEverySave is set.
  virtual void db_saveAndDelete() {}

 private:
  void onLoggerQueue(void (AbstractDatabaseLogger::*step)());
  void performSaveAndSuspendSaveTimer();
  void performDelete();
  void createSuspendedSaveTimer();
  void updateAndResumeSaveTimer();
  void destroySaveTimer();
  void createAndStartDeleteTimer();
  void updateDeleteTimer();
  void destroyDeleteTimer();
  ns::Ref<dispatch::Source> makeTimer(void (AbstractDatabaseLogger::*step)());

  // On the logger's queue.
  std::uint64_t saveThreshold_ = 500;
  double saveInterval_ = 60;
  double maxAge_ = 60 * 60 * 24 * 7;
  double deleteInterval_ = 60 * 5;
  bool deleteOnEverySave_ = false;
  bool saveTimerSuspended_ = false;
  std::uint64_t unsavedCount_ = 0;
  double unsavedTime_ = 0;  // dispatch time of the first unsaved record, 0 when none
  ns::Ref<dispatch::Source> saveTimer_;
  double lastDeleteTime_ = 0;
  ns::Ref<dispatch::Source> deleteTimer_;
};
