#include "lib/logging/AbstractDatabaseLogger.h"

#include <cassert>

#include "platform/dispatch/Dispatch.h"

#define ASSERT_ON_LOGGER_QUEUE() \
  assert(isOnInternalLoggerQueue() && "database logger state touched off its queue")

namespace {
constexpr double kLeeway = 1e-9;
}

AbstractDatabaseLogger::AbstractDatabaseLogger() = default;

AbstractDatabaseLogger::~AbstractDatabaseLogger() {
  // No block of this logger can run any more: its timers' handlers hold it only weakly.
  if (saveTimer_) {
    if (saveTimerSuspended_) saveTimer_->resume();
    saveTimer_->cancel();
  }
  if (deleteTimer_) deleteTimer_->cancel();
}

// --- settings --------------------------------------------------------------------------------

std::uint64_t AbstractDatabaseLogger::saveThreshold() {
  std::uint64_t result = 0;
  readSetting([&] { result = saveThreshold_; });
  return result;
}

void AbstractDatabaseLogger::setSaveThreshold(std::uint64_t count) {
  changeSetting([this, count] {
    if (count == saveThreshold_) return;
    saveThreshold_ = count;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) performSaveAndSuspendSaveTimer();
  });
}

double AbstractDatabaseLogger::saveInterval() {
  double result = 0;
  readSetting([&] { result = saveInterval_; });
  return result;
}

void AbstractDatabaseLogger::setSaveInterval(double seconds) {
  changeSetting([this, seconds] {
    if (seconds == saveInterval_) return;
    saveInterval_ = seconds;
    if (saveInterval_ > 0) {
      createSuspendedSaveTimer();
      updateAndResumeSaveTimer();  // a save already due fires at once
    } else {
      destroySaveTimer();
    }
  });
}

double AbstractDatabaseLogger::maxAge() {
  double result = 0;
  readSetting([&] { result = maxAge_; });
  return result;
}

void AbstractDatabaseLogger::setMaxAge(double seconds) {
  changeSetting([this, seconds] {
    if (seconds == maxAge_) return;
    const double old = maxAge_;
    maxAge_ = seconds;
    if (old > 0 && maxAge_ <= 0) {
      destroyDeleteTimer();
    } else if ((old > 0 && maxAge_ < old) || (old <= 0 && maxAge_ > 0)) {
      performDelete();
      if (deleteTimer_) {
        updateDeleteTimer();
      } else {
        createAndStartDeleteTimer();
      }
    }
  });
}

double AbstractDatabaseLogger::deleteInterval() {
  double result = 0;
  readSetting([&] { result = deleteInterval_; });
  return result;
}

void AbstractDatabaseLogger::setDeleteInterval(double seconds) {
  changeSetting([this, seconds] {
    if (seconds == deleteInterval_) return;
    deleteInterval_ = seconds;
    if (deleteInterval_ > 0) {
      if (deleteTimer_) {
        updateDeleteTimer();
      } else {
        createAndStartDeleteTimer();
      }
    } else {
      destroyDeleteTimer();
    }
  });
}

bool AbstractDatabaseLogger::deleteOnEverySave() {
  bool result = false;
  readSetting([&] { result = deleteOnEverySave_; });
  return result;
}

void AbstractDatabaseLogger::setDeleteOnEverySave(bool value) {
  changeSetting([this, value] { deleteOnEverySave_ = value; });
}

// --- requests and hub calls ----------------------------------------------------------------------

void AbstractDatabaseLogger::onLoggerQueue(void (AbstractDatabaseLogger::*step)()) {
  if (isOnInternalLoggerQueue()) {
    (this->*step)();
    return;
  }
  dispatch::async(loggerQueue(),
                  [self = ns::Object::self<AbstractDatabaseLogger>(), step] { ((*self).*step)(); });
}

void AbstractDatabaseLogger::savePendingLogEntries() {
  onLoggerQueue(&AbstractDatabaseLogger::performSaveAndSuspendSaveTimer);
}

void AbstractDatabaseLogger::deleteOldLogEntries() {
  onLoggerQueue(&AbstractDatabaseLogger::performDelete);
}

void AbstractDatabaseLogger::didAddLogger() {
  ASSERT_ON_LOGGER_QUEUE();
  createSuspendedSaveTimer();
  createAndStartDeleteTimer();
}

void AbstractDatabaseLogger::willRemoveLogger() {
  ASSERT_ON_LOGGER_QUEUE();
  performSaveAndSuspendSaveTimer();
  destroySaveTimer();
  destroyDeleteTimer();
}

void AbstractDatabaseLogger::flush() {
  ASSERT_ON_LOGGER_QUEUE();
  performSaveAndSuspendSaveTimer();
}

void AbstractDatabaseLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  ASSERT_ON_LOGGER_QUEUE();
  if (!db_log(logMessage)) return;
  unsavedCount_ += 1;
  if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
    performSaveAndSuspendSaveTimer();
  } else if (unsavedCount_ == 1) {
    unsavedTime_ = ns::Clock::now();
    updateAndResumeSaveTimer();
  }
}

// --- saving and deleting --------------------------------------------------------------------

void AbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (unsavedCount_ != 0) {
    if (deleteOnEverySave_) {
      db_saveAndDelete();
    } else {
      db_save();
    }
  }
  unsavedCount_ = 0;
  unsavedTime_ = 0;
  if (saveTimer_ && !saveTimerSuspended_) {
    saveTimer_->suspend();
    saveTimerSuspended_ = true;
  }
}

void AbstractDatabaseLogger::performDelete() {
  ASSERT_ON_LOGGER_QUEUE();
  if (maxAge_ > 0) {
    db_delete();
    lastDeleteTime_ = ns::Clock::now();
  }
}

// --- timers ------------------------------------------------------------------------------------

ns::Ref<dispatch::Source> AbstractDatabaseLogger::makeTimer(void (AbstractDatabaseLogger::*step)()) {
  auto timer = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, loggerQueue());
  ns::Weak<AbstractDatabaseLogger> weak = ns::Object::weakSelf<AbstractDatabaseLogger>();
  timer->setEventHandler([weak, step] {
    if (auto self = weak.lock()) ((*self).*step)();
  });
  return timer;
}

void AbstractDatabaseLogger::createSuspendedSaveTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (saveTimer_ || saveInterval_ <= 0) return;
  saveTimer_ = makeTimer(&AbstractDatabaseLogger::performSaveAndSuspendSaveTimer);
  saveTimerSuspended_ = true;  // sources start suspended
}

void AbstractDatabaseLogger::updateAndResumeSaveTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (!saveTimer_ || saveInterval_ <= 0 || unsavedTime_ == 0) return;
  saveTimer_->setTimer(unsavedTime_ + saveInterval_, saveInterval_, kLeeway);
  if (saveTimerSuspended_) {
    saveTimer_->resume();
    saveTimerSuspended_ = false;
  }
}

void AbstractDatabaseLogger::destroySaveTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (!saveTimer_) return;
  // A suspended source would never finish its cancellation.
  if (saveTimerSuspended_) {
    saveTimer_->resume();
    saveTimerSuspended_ = false;
  }
  saveTimer_->cancel();
  saveTimer_ = nullptr;
}

void AbstractDatabaseLogger::createAndStartDeleteTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0) return;
  deleteTimer_ = makeTimer(&AbstractDatabaseLogger::performDelete);
  updateDeleteTimer();
  deleteTimer_->resume();
}

void AbstractDatabaseLogger::updateDeleteTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (!deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0) return;
  const double start =
      lastDeleteTime_ > 0 ? lastDeleteTime_ + deleteInterval_ : dispatch::time(deleteInterval_);
  deleteTimer_->setTimer(start, deleteInterval_, kLeeway);
}

void AbstractDatabaseLogger::destroyDeleteTimer() {
  ASSERT_ON_LOGGER_QUEUE();
  if (!deleteTimer_) return;
  deleteTimer_->cancel();
  deleteTimer_ = nullptr;
}
