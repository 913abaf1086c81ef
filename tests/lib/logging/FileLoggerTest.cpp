#include "lib/logging/FileLogger.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "lib/logging/LogFileFormatterDefault.h"
#include "lib/logging/LogFileManagerDefault.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Files.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/logging/LoggingTestSupport.h"

namespace {

namespace fs = std::filesystem;
using pltest::readFile;

// The standard manager, telling the test of every rolled file.
class WatchingManager : public LogFileManagerDefault {
 public:
  using LogFileManagerDefault::LogFileManagerDefault;
  void didRollAndArchiveLogFile(const std::string& path) override {
    monitor.change([&] { rolled_.push_back(path); });
  }
  void didArchiveLogFile(const std::string& path) override {
    monitor.change([&] { archived_.push_back(path); });
  }
  bool waitForRolls(std::size_t count) {
    return monitor.waitFor([&] { return rolled_.size() >= count; });
  }
  std::size_t rolls() {
    return monitor.with([&] { return rolled_.size(); });
  }
  std::vector<std::string> archived() {
    return monitor.with([&] { return archived_; });
  }
  logtest::Monitor monitor;

 private:
  std::vector<std::string> rolled_;
  std::vector<std::string> archived_;
};

// A formatter whose answer the test chooses.
class ScriptedFormatter : public LogFormatter {
 public:
  explicit ScriptedFormatter(std::function<LogText(const ns::Ref<LogMessage>&)> answer)
      : answer_(std::move(answer)) {}
  LogText formatLogMessage(const ns::Ref<LogMessage>& m) override { return answer_(m); }

 private:
  std::function<LogText(const ns::Ref<LogMessage>&)> answer_;
};

ns::Ref<LogFormatter> ownText() {
  return ns::make<ScriptedFormatter>([](const ns::Ref<LogMessage>& m) { return m->messageText(); });
}

using logtest::logNow;

// Waits until every logger was removed and has rolled its file.
void removeLoggersAndWait(const std::vector<ns::Ref<FileLogger>>& loggers) {
  LogHub::removeAllLoggers();
  logtest::settleRegistrations();
  for (const auto& logger : loggers) dispatch::sync(logger->loggerQueue(), [] {});
}

// Removes the loggers and waits for them when it goes.
struct RemovedAtEnd {
  std::vector<ns::Ref<FileLogger>> loggers;
  ~RemovedAtEnd() { removeLoggersAndWait(loggers); }
};

struct LoggerInFolder {
  pltest::Sandbox sandbox;
  ns::Ref<WatchingManager> manager = ns::make<WatchingManager>(sandbox.path("logs"));
  ns::Ref<FileLogger> logger = ns::make<FileLogger>(manager);

  explicit LoggerInFolder(bool add = true, ns::Ref<LogFormatter> formatter = ownText()) {
    if (formatter) logger->setLogFormatter(formatter);
    if (add) LogHub::addLogger(logger);
  }
  ~LoggerInFolder() { removeLoggersAndWait({logger}); }
  std::vector<std::string> files() { return manager->sortedLogFilePaths(); }  // newest first
};

TEST(FileLoggerRolling, ARecordThatFillsTheFileExactlyRollsItAndTheNextOpensANewOne) {
  LoggerInFolder s;
  EXPECT_EQ(s.logger->loggerName(), "logging.hub.fileLogger");
  EXPECT_TRUE(s.files().empty());  // nothing on disk before the first record
  s.logger->setMaximumFileSize(10);
  EXPECT_EQ(s.logger->maximumFileSize(), 10u);
  logNow("12345678");  // 9 bytes with its line feed
  ASSERT_EQ(s.files().size(), 1u);
  std::string first = s.files()[0];
  EXPECT_EQ(s.manager->rolls(), 0u);
  logNow("");  // the tenth byte
  EXPECT_EQ(s.manager->rolls(), 1u);
  EXPECT_EQ(readFile(first), "12345678\n\n");
  EXPECT_TRUE(LogFileInfo::logFileWithPath(first)->isArchived());
  logNow("next");
  ASSERT_EQ(s.files().size(), 2u);
  EXPECT_EQ(s.files()[1], first);
  EXPECT_EQ(readFile(s.files()[0]), "next\n");
  EXPECT_FALSE(LogFileInfo::logFileWithPath(s.files()[0])->isArchived());

  // A limit below the current size rolls at once.
  s.logger->setMaximumFileSize(3);
  EXPECT_EQ(s.logger->maximumFileSize(), 3u);
  EXPECT_EQ(s.manager->rolls(), 2u);
}

TEST(FileLoggerRolling, DeletingOrRenamingTheOpenFileRollsItThroughTheFileWatch) {
  struct Row {
    const char* name;
    std::function<void(const std::string& path, const pltest::Sandbox&)> act;
  };
  const Row rows[] = {
      {"unlink", [](const std::string& path, auto&) { ASSERT_EQ(::unlink(path.c_str()), 0); }},
      {"rename",
       [](const std::string& path, auto& sandbox) {
         ASSERT_EQ(::rename(path.c_str(), sandbox.path("moved.txt").c_str()), 0);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoggerInFolder s;
    logNow("one");
    ASSERT_EQ(s.files().size(), 1u);
    std::string first = s.files()[0];
    row.act(first, s.sandbox);
    ASSERT_TRUE(s.manager->waitForRolls(1));
    logNow("two");
    // A new file (it may take the name that was freed).
    ASSERT_EQ(s.files().size(), 1u);
    EXPECT_EQ(readFile(s.files()[0]), "two\n");
    if (std::string(row.name) == "rename") {
      EXPECT_EQ(readFile(s.sandbox.path("moved.txt")), "one\n");
    }
  }
}

TEST(FileLoggerRolling, ARecordAfterTheRollingFrequencyGoesToANewFile) {
  pltest::VirtualClock clock;
  LoggerInFolder s;
  s.logger->setRollingFrequency(60);
  EXPECT_EQ(s.logger->rollingFrequency(), 60);
  logNow("one");
  ASSERT_EQ(s.files().size(), 1u);
  std::string first = s.files()[0];
  clock.advance(30);
  logNow("half");
  EXPECT_EQ(s.manager->rolls(), 0u);
  clock.advance(31);
  ASSERT_TRUE(s.manager->waitForRolls(1));
  logNow("two");
  auto files = s.files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1], first);
  EXPECT_EQ(readFile(first), "one\nhalf\n");
  EXPECT_EQ(readFile(files[0]), "two\n");
}

TEST(FileLoggerRolling, UntouchedItRollsAtOneMebibyteAndAfterOneDay) {
  {
    LoggerInFolder s;
    EXPECT_EQ(s.logger->maximumFileSize(), 1048576u);
    EXPECT_EQ(s.logger->rollingFrequency(), 86400);
    const std::string kibibyte(1023, 'x');  // 1024 bytes with its line feed
    for (int i = 0; i < 1023; ++i) logNow(kibibyte);
    logNow(std::string(1022, 'y'));
    ASSERT_EQ(s.files().size(), 1u);
    EXPECT_EQ(fs::file_size(s.files()[0]), 1048575u);
    EXPECT_EQ(s.manager->rolls(), 0u);
    logNow("");  // the byte that makes the mebibyte
    EXPECT_EQ(s.manager->rolls(), 1u);
    logNow("next");
    ASSERT_EQ(s.files().size(), 2u);
    EXPECT_EQ(fs::file_size(s.files()[1]), 1048576u);
    EXPECT_EQ(readFile(s.files()[0]), "next\n");
  }
  pltest::VirtualClock clock;
  LoggerInFolder s;
  logNow("one");
  clock.advance(86399);
  logNow("a day but a second");
  EXPECT_EQ(s.manager->rolls(), 0u);
  clock.advance(2);
  ASSERT_TRUE(s.manager->waitForRolls(1));
  logNow("two");
  auto files = s.files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(readFile(files[1]), "one\na day but a second\n");
  EXPECT_EQ(readFile(files[0]), "two\n");
}

TEST(FileLoggerOutput, TheDefaultLineIsTheLocalTimeTwoSpacesAndTheMessage) {
  logtest::ScopedTimeZone utc("UTC");
  LoggerInFolder s(true, nullptr);
  auto record = ns::make<LogMessage>("m", 1, LogFlagError, 0, "f", "fn", 1, ns::Value(), 0,
                                     ns::Date::dateWithTimeIntervalSince1970(1398951907.1234));
  LogHub::log_message(false, record);
  ASSERT_EQ(s.files().size(), 1u);
  EXPECT_EQ(readFile(s.files()[0]), "2014/05/01 13:45:07:123  m\n");
}

TEST(FileLoggerOutput, LineFeedsFollowTheFormatterAndTheSetting) {
  struct Row {
    const char* name;
    std::function<LogText(const ns::Ref<LogMessage>&)> answer;
    bool appendForCustom;
    std::string written;
  };
  auto text = [](const char* t) {
    return [t](const ns::Ref<LogMessage>&) { return std::make_shared<const std::string>(t); };
  };
  auto own = [](const ns::Ref<LogMessage>& m) { return m->messageText(); };
  const Row rows[] = {
      {"custom text, appending", text("c"), true, "c\n"},
      {"custom text, not appending", text("c"), false, "c"},
      {"custom text with its line feed", text("c\n"), true, "c\n"},
      {"equal text of another object is custom",
       [](const ns::Ref<LogMessage>& m) { return std::make_shared<const std::string>(m->message()); }, false,
       "m"},
      {"the record's own text, appending", own, true, "m\n"},
      {"the record's own text, not appending", own, false, "m\n"},
      {"no text", [](const ns::Ref<LogMessage>&) { return LogText(); }, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoggerInFolder s(false, ns::make<ScriptedFormatter>(row.answer));
    s.logger->setAutomaticallyAppendNewlineForCustomFormatters(row.appendForCustom);
    LogHub::addLogger(s.logger);
    logNow("m");
    if (row.written.empty()) {
      // The record is kept out: not even a file is made for it.
      EXPECT_TRUE(s.files().empty());
      continue;
    }
    ASSERT_EQ(s.files().size(), 1u);
    EXPECT_EQ(readFile(s.files()[0]), row.written);
  }
}

TEST(FileLoggerOutput, ReusesTheNewestFileUnlessToldNotTo) {
  LoggerInFolder s(false);
  auto existing = *s.manager->createNewLogFile();
  LogHub::addLogger(s.logger);
  logNow("appended");
  EXPECT_EQ(s.files(), std::vector<std::string>{existing});
  EXPECT_EQ(readFile(existing), "appended\n");
  LogHub::removeLogger(s.logger);
  ASSERT_TRUE(s.manager->waitForRolls(1));  // removal rolls and archives

  auto fresh = *s.manager->createNewLogFile();
  auto other = ns::make<FileLogger>(s.manager);
  RemovedAtEnd cleanup{{other}};
  other->setLogFormatter(ownText());
  other->setDoNotReuseLogFiles(true);
  LogHub::addLogger(other);
  logNow("new");
  auto files = s.files();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(readFile(files[0]), "new\n");
  EXPECT_EQ(readFile(fresh), "");
  EXPECT_FALSE(LogFileInfo::logFileWithPath(fresh)->isArchived());

  // A newest file that is too large is archived and not reused.
  LogHub::removeLogger(other);
  ASSERT_TRUE(s.manager->waitForRolls(2));
  auto big = *s.manager->createNewLogFile();
  std::ofstream(big) << std::string(20, 'x');
  auto third = ns::make<FileLogger>(s.manager);
  cleanup.loggers.push_back(third);
  third->setLogFormatter(ownText());
  third->setMaximumFileSize(16);
  LogHub::addLogger(third);
  logNow("third");
  EXPECT_EQ(s.manager->archived(), std::vector<std::string>{big});
  EXPECT_TRUE(LogFileInfo::logFileWithPath(big)->isArchived());
  EXPECT_EQ(readFile(s.files()[0]), "third\n");
}

TEST(FileLoggerOutput, ALinkFolderOrPipeNamedLikeTheNewestFileIsNeitherWrittenThroughNorReused) {
  LoggerInFolder s(false);
  ASSERT_EQ(s.manager->logsDirectory(), s.sandbox.path("logs"));
  const std::string outside = s.sandbox.path("outside.txt");
  pltest::writeFile(outside, "not a log\n");
  // Each stands where the newest log file would be; none of them is a file of the logger's own.
  const std::string name = s.manager->newLogFileName();
  const std::string stem = name.substr(0, name.size() - 4);
  ASSERT_EQ(::symlink(outside.c_str(), s.sandbox.path("logs/" + name).c_str()), 0);
  ASSERT_EQ(::mkdir(s.sandbox.path("logs/" + stem + " 7.log").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(s.sandbox.path("logs/" + stem + " 8.log").c_str(), 0644), 0);
  s.manager->setMaximumNumberOfLogFiles(1);
  LogHub::addLogger(s.logger);
  logNow("kept");
  logNow("also kept");
  auto files = s.files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(readFile(files[0]), "kept\nalso kept\n");
  EXPECT_EQ(readFile(outside), "not a log\n");
  EXPECT_TRUE(fs::is_symlink(s.sandbox.path("logs/" + name)));
  EXPECT_TRUE(fs::is_directory(s.sandbox.path("logs/" + stem + " 7.log")));
  EXPECT_TRUE(fs::is_fifo(s.sandbox.path("logs/" + stem + " 8.log")));
}

// Makes a file unwritable, even for the superuser, for the life of the guard.
class Unwritable {
 public:
  explicit Unwritable(const std::string& path) : path_(path) {
    ::chmod(path.c_str(), 0444);
    if (::geteuid() != 0) {
      made_ = true;
      return;
    }
    made_ = setImmutable(true);
  }
  ~Unwritable() {
    if (::geteuid() == 0 && made_) setImmutable(false);
  }
  bool made() const { return made_; }

 private:
  bool setImmutable(bool on) {
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  }
  std::string path_;
  bool made_ = false;
};

TEST(FileLoggerOutput, ANewestFileThatCannotBeAppendedToIsPassedOverForANewOne) {
  LoggerInFolder s(false);
  auto foreign = *s.manager->createNewLogFile();  // left by another user of the folder
  pltest::writeFile(foreign, "theirs\n");
  Unwritable guard(foreign);
  if (!guard.made()) GTEST_SKIP() << "this file system cannot make a file unwritable";
  LogHub::addLogger(s.logger);
  logNow("first");
  logNow("second");
  auto files = s.files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1], foreign);
  EXPECT_EQ(readFile(files[0]), "first\nsecond\n");
  EXPECT_EQ(readFile(foreign), "theirs\n");
}

// Hands the logger a device that is always full.
class FullDiskManager : public LogFileManagerDefault {
 public:
  using LogFileManagerDefault::LogFileManagerDefault;
  std::vector<ns::Ref<LogFileInfo>> sortedLogFileInfos() override { return {}; }
  std::optional<std::string> createNewLogFile() override { return "/dev/full"; }
};

TEST(FileLoggerOutput, FailedWritesAreCountedAndTheFirstTenLogged) {
  pltest::Sandbox sandbox;
  ns::LogCapture log(true);
  auto logger = ns::make<FileLogger>(ns::make<FullDiskManager>(sandbox.path("logs")));
  RemovedAtEnd cleanup{{logger}};
  LogHub::addLogger(logger);
  const long before = FileLogger::failedWriteCount();
  for (int i = 0; i < 12; ++i) logNow("lost");
  EXPECT_EQ(FileLogger::failedWriteCount(), before + 12);
  long reported = 0;
  for (long n = before + 1; n <= before + 12; ++n) reported += n <= 10 ? 1 : 0;
  long lines = 0;
  for (const auto& m : log.messages())
    if (m.rfind("FileLogger.logMessage: ", 0) == 0 && m.find("Too many") == std::string::npos) ++lines;
  EXPECT_EQ(lines, reported);
  EXPECT_EQ(log.contains("FileLogger.logMessage: Too many exceptions -- will not log any more of them."),
            before < 10 && before + 12 >= 10);
  if (reported > 0) {
    EXPECT_TRUE(log.contains("No space left on device")) << log.messages().front();
  }
}

TEST(FileLoggerOutput, AFolderThatCannotBeMadeLosesRecordsWithoutAFloodOfReports) {
  pltest::Sandbox sandbox;
  std::ofstream(sandbox.path("blocker")) << "a file where the folder's parent should be";
  ns::LogCapture log(true);
  auto manager = ns::make<WatchingManager>(sandbox.path("blocker/logs"));
  auto logger = ns::make<FileLogger>(manager);
  RemovedAtEnd cleanup{{logger}};
  LogHub::addLogger(logger);
  const long before = FileLogger::failedWriteCount();
  for (int i = 0; i < 5; ++i) logNow("lost");
  EXPECT_EQ(FileLogger::failedWriteCount(), before + 5);
  long folderReports = 0;
  for (const auto& m : log.messages())
    if (m.rfind("FileLogManagerDefault: Error creating logsDirectory: ", 0) == 0) ++folderReports;
  EXPECT_EQ(folderReports, 1);
  EXPECT_EQ(readFile(sandbox.path("blocker")), "a file where the folder's parent should be");
}

TEST(FileLoggerOutput, RollingOnRequestRunsTheBlockOnTheMainQueue) {
  LoggerInFolder s;
  logNow("one");
  bool done = false;
  s.logger->rollLogFileWithCompletionBlock([&] { done = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return done; }));
  EXPECT_EQ(s.manager->rolls(), 1u);
  logNow("two");
  EXPECT_EQ(s.files().size(), 2u);
}

}  // namespace
