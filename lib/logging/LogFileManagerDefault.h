#pragma once
// The standard log file manager. Files are named "<application> yyyy-MM-dd HH-mm.log" after their
// creation time in GMT ("<application> yyyy-MM-dd HH-mm 2.log" and so on when the name is taken),
// where the application name is the main bundle's identifier. Only names of that shape count as
// log files: the folder may be shared with other programs, and their files are never touched.
// Files are listed newest first and the oldest are deleted when there are more than
// maximumNumberOfLogFiles (default 5) or they take more than logFilesDiskQuota (default 20 MiB);
// the newest file, while not archived, is never deleted.
//
// Called on the file logger's queue and, after a change of a limit, on the hub's logging queue.
#include <atomic>
#include <optional>
#include <string>

#include "lib/logging/LogFileManager.h"
#include "platform/text/DateFormatter.h"

class LogFileManagerDefault : public LogFileManager {
 public:
  // Without a folder, defaultLogsDirectory().
  explicit LogFileManagerDefault(std::optional<std::string> logsDirectory = std::nullopt);

  // The user's Library folder (the XDG data folder), then "Logs", then the process name.
  static std::string defaultLogsDirectory();

  // Made, with its parents, when missing. A failure is reported once until the folder can be
  // made, and the path is answered all the same.
  std::string logsDirectory() override;
  bool isLogFile(const std::string& fileName);
  // This thread's formatter of the date part of the names (GMT).
  static ns::DateFormatter& logFileDateFormatter();

  std::vector<std::string> unsortedLogFilePaths() override;
  std::vector<std::string> unsortedLogFileNames() override;
  std::vector<ns::Ref<LogFileInfo>> unsortedLogFileInfos() override;
  std::vector<std::string> sortedLogFilePaths() override;
  std::vector<std::string> sortedLogFileNames() override;
  std::vector<ns::Ref<LogFileInfo>> sortedLogFileInfos() override;

  std::string newLogFileName();
  std::optional<std::string> createNewLogFile() override;
  // The main bundle's identifier, else the process name, else "".
  virtual std::string applicationName();

  void deleteOldLogFiles();

  // A change to another value prunes at once, on the hub's logging queue.
  std::uint64_t maximumNumberOfLogFiles() override { return maximumNumberOfLogFiles_.load(); }
  void setMaximumNumberOfLogFiles(std::uint64_t count) override;
  std::uint64_t logFilesDiskQuota() override { return logFilesDiskQuota_.load(); }
  void setLogFilesDiskQuota(std::uint64_t bytes) override;

 private:
  void pruneOnLoggingQueue();

  std::atomic<std::uint64_t> maximumNumberOfLogFiles_{5};
  std::atomic<std::uint64_t> logFilesDiskQuota_{20 * 1024 * 1024};
  const std::string logsDirectory_;
  std::atomic<bool> folderFailureReported_{false};
};
