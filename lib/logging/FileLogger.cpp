#include "lib/logging/FileLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "lib/logging/LogFileFormatterDefault.h"
#include "lib/logging/LogFileManagerDefault.h"
#include "lib/logging/LogHub.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Dispatch.h"

namespace {

std::atomic<long> failedWrites{0};
constexpr long kReportedFailures = 10;

#define ASSERT_ON_LOGGER_QUEUE() \
  assert(isOnInternalLoggerQueue() && "file logger state touched off its queue")

// Appended to, never created here: a file that went away is chosen afresh by the next record.
// Nor followed or waited on: a link or pipe put in the file's place since it was chosen fails.
int openForAppending(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

}  // namespace

FileLogger::FileLogger(ns::Ref<LogFileManager> logFileManager)
    : logFileManager_(logFileManager ? std::move(logFileManager) : ns::make<LogFileManagerDefault>()) {
  // No queue exists yet and nobody else sees the logger: the formatter is in place before the
  // first record without a hand-over.
  logFormatter_ = ns::make<LogFileFormatterDefault>();
}

FileLogger::~FileLogger() {
  closeCurrentFile();
}

long FileLogger::failedWriteCount() {
  return failedWrites.load();
}

std::uint64_t FileLogger::maximumFileSize() {
  std::uint64_t result = 0;
  readSetting([&] { result = maximumFileSize_; });
  return result;
}

void FileLogger::setMaximumFileSize(std::uint64_t bytes) {
  changeSetting([this, bytes] {
    maximumFileSize_ = bytes;
    maybeRollLogFileDueToSize();
  });
}

double FileLogger::rollingFrequency() {
  double result = 0;
  readSetting([&] { result = rollingFrequency_; });
  return result;
}

void FileLogger::setRollingFrequency(double seconds) {
  changeSetting([this, seconds] {
    rollingFrequency_ = seconds;
    maybeRollLogFileDueToAge();
  });
}

void FileLogger::rollLogFileWithCompletionBlock(std::function<void()> completionBlock) {
  auto roll = [self = ns::Object::self<FileLogger>(), completionBlock = std::move(completionBlock)] {
    self->rollLogFileNow();
    if (completionBlock) dispatch::async(dispatch::mainQueue(), completionBlock);
  };
  if (isOnInternalLoggerQueue()) {
    roll();
    return;
  }
  ns::Ref<dispatch::Queue> queue = loggerQueue();
  LogHub::runBetweenRecords([queue, roll = std::move(roll)] { dispatch::async(queue, roll); }, false);
}

ns::Ref<LogFileInfo> FileLogger::currentLogFileInfo() {
  ASSERT_ON_LOGGER_QUEUE();
  if (currentLogFileInfo_) return currentLogFileInfo_;
  std::vector<ns::Ref<LogFileInfo>> infos = logFileManager_->sortedLogFileInfos();
  if (!infos.empty()) {
    const ns::Ref<LogFileInfo>& newest = infos.front();
    const bool archived = newest->isArchived();
    const bool mustArchive =
        !archived && ((maximumFileSize_ != 0 && newest->fileSize() >= maximumFileSize_) ||
                      (rollingFrequency_ > 0 && newest->age() >= rollingFrequency_));
    if (!doNotReuseLogFiles() && !archived && !mustArchive) {
      currentLogFileInfo_ = newest;
      currentLogFileReused_ = true;
    } else if (mustArchive) {
      newest->setIsArchived(true);
      logFileManager_->didArchiveLogFile(newest->filePath());
    }
  }
  if (!currentLogFileInfo_) {
    if (auto path = logFileManager_->createNewLogFile()) {
      currentLogFileInfo_ = LogFileInfo::logFileWithPath(*path);
      currentLogFileReused_ = false;
    }
  }
  return currentLogFileInfo_;
}

int FileLogger::currentLogFileHandle() {
  ASSERT_ON_LOGGER_QUEUE();
  if (fd_ >= 0) return fd_;
  ns::Ref<LogFileInfo> info = currentLogFileInfo();
  if (!info) return -1;
  int fd = openForAppending(info->filePath());
  if (fd < 0 && currentLogFileReused_) {
    // A newest file this process cannot append to (left by another user, say) would be chosen
    // again for every record and lose them all: a new file is made instead.
    currentLogFileInfo_ = nullptr;
    if (auto path = logFileManager_->createNewLogFile()) {
      info = currentLogFileInfo_ = LogFileInfo::logFileWithPath(*path);
      currentLogFileReused_ = false;
      fd = openForAppending(info->filePath());
    }
  }
  if (fd < 0) {
    currentLogFileInfo_ = nullptr;
    return -1;
  }
  off_t end = ::lseek(fd, 0, SEEK_END);
  fd_ = fd;
  offset_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  scheduleTimerToRollLogFileDueToAge();

  currentLogFileVnode_ = dispatch::sourceCreate(dispatch::SourceType::Vnode, static_cast<std::uintptr_t>(fd),
                                                dispatch::VnodeDelete | dispatch::VnodeRename, loggerQueue());
  if (currentLogFileVnode_) {
    ns::Weak<FileLogger> weak = ns::Object::weakSelf<FileLogger>();
    currentLogFileVnode_->setEventHandler([weak] {
      if (auto self = weak.lock()) self->rollLogFileNow();
    });
    currentLogFileVnode_->resume();
  }
  return fd_;
}

void FileLogger::noteFailure(const std::string& what) {
  long count = failedWrites.fetch_add(1) + 1;
  if (count > kReportedFailures) return;
  ns::Log("FileLogger.logMessage: %@", what);
  if (count == kReportedFailures)
    ns::Log("FileLogger.logMessage: Too many exceptions -- will not log any more of them.");
}

void FileLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  ASSERT_ON_LOGGER_QUEUE();
  LogText text = logMessage->messageText();
  bool customFormatted = false;
  if (logFormatter_) {
    text = logFormatter_->formatLogMessage(logMessage);
    // The formatter's answer is custom unless it is the record's own text object.
    customFormatted = text != logMessage->messageText();
  }
  if (!text) return;
  const bool endsWithNewline = !text->empty() && text->back() == '\n';
  const bool appendNewline =
      !endsWithNewline && !(customFormatted && !automaticallyAppendNewlineForCustomFormatters());

  int fd = currentLogFileHandle();
  if (fd < 0) {
    noteFailure(ns::format("no log file to write to: %s", std::strerror(errno)));
    return;
  }
  char newline = '\n';
  iovec parts[2] = {{const_cast<char*>(text->data()), text->size()}, {&newline, appendNewline ? 1u : 0u}};
  std::size_t total = text->size() + (appendNewline ? 1 : 0);
  std::size_t written = 0;
  int part = 0;
  while (written < total) {
    ssize_t n = ::writev(fd, parts + part, 2 - part);
    if (n < 0) {
      if (errno == EINTR) continue;
      noteFailure(ns::format("write to %@: %s", currentLogFileInfo_->filePath(), std::strerror(errno)));
      break;
    }
    written += static_cast<std::size_t>(n);
    offset_ += static_cast<std::uint64_t>(n);
    // Move past what went out, for a short write.
    auto left = static_cast<std::size_t>(n);
    while (part < 2 && left >= parts[part].iov_len) left -= parts[part++].iov_len;
    if (part < 2) {
      parts[part].iov_base = static_cast<char*>(parts[part].iov_base) + left;
      parts[part].iov_len -= left;
    }
  }
  maybeRollLogFileDueToSize();
}

void FileLogger::willRemoveLogger() {
  rollLogFileNow();
}

void FileLogger::maybeRollLogFileDueToSize() {
  ASSERT_ON_LOGGER_QUEUE();
  if (maximumFileSize_ != 0 && fd_ >= 0 && offset_ >= maximumFileSize_) rollLogFileNow();
}

void FileLogger::maybeRollLogFileDueToAge() {
  ASSERT_ON_LOGGER_QUEUE();
  if (rollingFrequency_ > 0 && currentLogFileInfo_ && currentLogFileInfo_->age() >= rollingFrequency_) {
    rollLogFileNow();
  } else {
    scheduleTimerToRollLogFileDueToAge();
  }
}

void FileLogger::scheduleTimerToRollLogFileDueToAge() {
  ASSERT_ON_LOGGER_QUEUE();
  if (rollingTimer_) {
    rollingTimer_->cancel();
    rollingTimer_ = nullptr;
  }
  if (!currentLogFileInfo_ || rollingFrequency_ <= 0) return;
  auto created = currentLogFileInfo_->creationDate();
  if (!created) return;
  rollingTimer_ = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, loggerQueue());
  ns::Weak<FileLogger> weak = ns::Object::weakSelf<FileLogger>();
  rollingTimer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->maybeRollLogFileDueToAge();
  });
  rollingTimer_->setTimer(ns::Clock::timeForDate(created->dateByAddingTimeInterval(rollingFrequency_)), 0,
                          1e-9);
  rollingTimer_->resume();
}

void FileLogger::closeCurrentFile() {
  if (currentLogFileVnode_) {
    currentLogFileVnode_->cancel();
    currentLogFileVnode_ = nullptr;
  }
  if (rollingTimer_) {
    rollingTimer_->cancel();
    rollingTimer_ = nullptr;
  }
  if (fd_ >= 0) {
    ::fsync(fd_);
    ::close(fd_);
    fd_ = -1;
  }
}

void FileLogger::rollLogFileNow() {
  ASSERT_ON_LOGGER_QUEUE();
  if (fd_ < 0) return;
  // A file deleted or moved under the logger is not marked: its name is gone or no longer ours.
  struct stat open {
  }, named{};
  const bool stillThere = ::fstat(fd_, &open) == 0 && open.st_nlink > 0 &&
                          ::stat(currentLogFileInfo_->filePath().c_str(), &named) == 0 &&
                          named.st_ino == open.st_ino && named.st_dev == open.st_dev;
  closeCurrentFile();
  if (stillThere) currentLogFileInfo_->setIsArchived(true);
  logFileManager_->didRollAndArchiveLogFile(currentLogFileInfo_->filePath());
  currentLogFileInfo_ = nullptr;
}
