#pragma once
// What a file logger needs of the manager of its log folder: naming and creating files, listing
// them, and the limits by which old files are pruned.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/logging/LogFileInfo.h"
#include "platform/core/Object.h"

class LogFileManager : public ns::Object {
 public:
  virtual std::string logsDirectory() = 0;
  virtual std::vector<std::string> unsortedLogFilePaths() = 0;
  virtual std::vector<std::string> unsortedLogFileNames() = 0;
  virtual std::vector<ns::Ref<LogFileInfo>> unsortedLogFileInfos() = 0;
  // Newest first.
  virtual std::vector<std::string> sortedLogFilePaths() = 0;
  virtual std::vector<std::string> sortedLogFileNames() = 0;
  virtual std::vector<ns::Ref<LogFileInfo>> sortedLogFileInfos() = 0;
  // The path of a new, empty log file; nothing when none could be made.
  virtual std::optional<std::string> createNewLogFile() = 0;

  // 0: no limit.
  virtual std::uint64_t maximumNumberOfLogFiles() = 0;
  virtual void setMaximumNumberOfLogFiles(std::uint64_t count) = 0;
  virtual std::uint64_t logFilesDiskQuota() = 0;
  virtual void setLogFilesDiskQuota(std::uint64_t bytes) = 0;

  // Optional: told the path of a file the logger archived when it chose its current file, and of
  // a file it rolled.
  virtual void didArchiveLogFile(const std::string& logFilePath) {}
  virtual void didRollAndArchiveLogFile(const std::string& logFilePath) {}
};
