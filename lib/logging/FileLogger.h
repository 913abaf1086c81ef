#pragma once
// Writes records as lines of UTF-8 text into the current file of a log folder, and rolls to a new
// file when the current one reaches maximumFileSize (default 1 MiB, 0: no limit), grows older than
// rollingFrequency (default one day, 0 or less: never), or is deleted or renamed under it. The
// manager names, creates and prunes the files; LogFileFormatterDefault stamps each line.
//
// Everything but the public settings runs on the logger's queue ("logging.hub.fileLogger"); the
// two sized settings follow the settings discipline of AbstractLogger. Nothing is touched on disk
// before the first record. A write that fails loses its record; the failures are counted for the
// whole process and the first ten are written to the diagnostic log.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "lib/logging/AbstractLogger.h"
#include "lib/logging/LogFileManager.h"

namespace dispatch {
class Source;
}

class FileLogger : public AbstractLogger {
 public:
  // Without a manager, a LogFileManagerDefault on its default folder.
  explicit FileLogger(ns::Ref<LogFileManager> logFileManager = nullptr);
  ~FileLogger() override;

  std::uint64_t maximumFileSize();
  void setMaximumFileSize(std::uint64_t bytes);
  double rollingFrequency();
  void setRollingFrequency(double seconds);
  bool doNotReuseLogFiles() const { return doNotReuseLogFiles_.load(); }
  void setDoNotReuseLogFiles(bool value) { doNotReuseLogFiles_.store(value); }
  bool automaticallyAppendNewlineForCustomFormatters() const { return automaticallyAppendNewline_.load(); }
  void setAutomaticallyAppendNewlineForCustomFormatters(bool value) {
    automaticallyAppendNewline_.store(value);
  }

  const ns::Ref<LogFileManager>& logFileManager() const { return logFileManager_; }

  void rollLogFile() { rollLogFileWithCompletionBlock(nullptr); }
  // Rolls between two records; the block then runs on the main queue.
  void rollLogFileWithCompletionBlock(std::function<void()> completionBlock);

  // On the logger's queue: the file being written, chosen (reused or made) when there is none,
  // and its open descriptor (-1 when it cannot be opened).
  ns::Ref<LogFileInfo> currentLogFileInfo();
  int currentLogFileHandle();

  void logMessage(const ns::Ref<LogMessage>& logMessage) override;
  void willRemoveLogger() override;
  std::optional<std::string> loggerName() override { return "logging.hub.fileLogger"; }

  // Records lost to failed writes in this process.
  static long failedWriteCount();

 private:
  void rollLogFileNow();
  void maybeRollLogFileDueToSize();
  void maybeRollLogFileDueToAge();
  void scheduleTimerToRollLogFileDueToAge();
  void noteFailure(const std::string& what);
  void closeCurrentFile();

  const ns::Ref<LogFileManager> logFileManager_;
  std::atomic<bool> doNotReuseLogFiles_{false};
  std::atomic<bool> automaticallyAppendNewline_{true};
  // On the logger's queue.
  std::uint64_t maximumFileSize_ = 1024 * 1024;
  double rollingFrequency_ = 60 * 60 * 24;
  ns::Ref<LogFileInfo> currentLogFileInfo_;
  bool currentLogFileReused_ = false;  // found in the folder rather than made by this logger
  int fd_ = -1;
  std::uint64_t offset_ = 0;
  ns::Ref<dispatch::Source> currentLogFileVnode_;
  ns::Ref<dispatch::Source> rollingTimer_;
};
