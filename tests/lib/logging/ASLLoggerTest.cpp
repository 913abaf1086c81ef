#include "lib/logging/ASLLogger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "lib/logging/ASLLogCapture.h"
#include "lib/logging/SystemLogStore.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"
#include "tests/lib/logging/LoggingTestSupport.h"

namespace {

using logtest::RecordingLogger;

// What the recording logger received from the capture: (text, flag) in order.
std::vector<std::pair<std::string, std::uint64_t>> captured(RecordingLogger& logger) {
  std::vector<std::pair<std::string, std::uint64_t>> out;
  for (const auto& r : logger.records())
    if (r->fileName() == "ASLLogCapture") out.emplace_back(r->message(), r->flag());
  return out;
}

std::vector<std::string> capturedTexts(RecordingLogger& logger) {
  std::vector<std::string> out;
  for (const auto& [text, flag] : captured(logger)) out.push_back(text);
  return out;
}

bool waitForCaptured(RecordingLogger& logger, const std::string& text) {
  return logger.monitor.waitFor([&] {
    for (const auto& r : logger.recordsUnlocked())
      if (r->fileName() == "ASLLogCapture" && r->message() == text) return true;
    return false;
  });
}

// Capture running on the chosen back end, with the system-log logger and a recording logger in
// the hub; ns::Log is kept off the terminal and syslog.
struct Capturing {
  explicit Capturing(ASLLogCapture::Backend backend, bool silence = true) : log(silence) {
    SystemLogStore::shared().setForwardsToSyslog(!silence);
    ASLLogCapture::setBackend(backend);
    ASLLogCapture::setCaptureLevel(31);
    LogHub::addLogger(ASLLogger::sharedInstance());
    LogHub::addLogger(recorder);
    logtest::settleRegistrations();
    ASLLogCapture::start();
  }
  ~Capturing() {
    ASLLogCapture::stop();
    ASLLogCapture::setBackend(ASLLogCapture::Backend::Automatic);
    ASLLogCapture::setCaptureLevel(31);
    SystemLogStore::shared().setForwardsToSyslog(true);
  }
  // Everything the capture has read so far was delivered; then `marker`, written through the
  // system log, arrives: what came before it has been captured.
  void settle(const std::string& marker) {
    LogHub::flushLog();
    SystemLogStore::shared().write(2, marker);
    ASSERT_TRUE(waitForCaptured(*recorder, marker));
    LogHub::flushLog();
  }

  ns::LogCapture log;
  logtest::HubCleanup cleanup;
  ns::Ref<RecordingLogger> recorder = ns::make<RecordingLogger>();
};

TEST(ASLLoggerLevels, FlagsAreSentAtTheirSystemLogLevels) {
  struct Row {
    std::uint64_t flag;
    const char* level;
  };
  const Row rows[] = {{LogFlagError, "2"}, {LogFlagWarning, "3"}, {LogFlagInfo, "4"},
                      {LogFlagDebug, "5"}, {LogFlagVerbose, "5"}, {64, "5"}};
  for (const auto& row : rows) EXPECT_EQ(ASLLogger::levelForFlag(row.flag), row.level) << row.flag;
  EXPECT_EQ(ASLLogger::sharedInstance(), ASLLogger::sharedInstance());
  EXPECT_EQ(ASLLogger::sharedInstance()->loggerName(), "logging.hub.aslLogger");
  EXPECT_EQ(ASLLogger::sharedInstance()->loggerQueue()->label(), "logging.hub.aslLogger");

  // Round trip through the local back end: level 5 reads back as debug, 3 as warning.
  Capturing c(ASLLogCapture::Backend::Local);
  logtest::logNow("eight", LogFlagDebug, 31);
  logtest::logNow("sixteen", LogFlagVerbose, 31);
  logtest::logNow("two", LogFlagWarning, 31);
  c.settle("end");
  using P = std::pair<std::string, std::uint64_t>;
  EXPECT_EQ(captured(*c.recorder), (std::vector<P>{{"eight", LogFlagDebug},
                                                   {"sixteen", LogFlagDebug},
                                                   {"two", LogFlagWarning},
                                                   {"end", LogFlagError}}));
  for (const auto& r : c.recorder->records())
    if (r->fileName() == "ASLLogCapture") {
      EXPECT_EQ(r->level(), 31u);
    }
}

TEST(ASLLogCaptureLocal, AConsoleLineBecomesOneRecordAndIsNotSentAgain) {
  Capturing c(ASLLogCapture::Backend::Local);
  ns::Log("console line %d", 1);
  ASSERT_TRUE(waitForCaptured(*c.recorder, "console line 1"));
  c.settle("end");
  // Only once: the system-log logger did not send the captured record back.
  EXPECT_EQ(capturedTexts(*c.recorder), (std::vector<std::string>{"console line 1", "end"}));
  auto records = c.recorder->records();
  auto it =
      std::find_if(records.begin(), records.end(), [](auto& r) { return r->message() == "console line 1"; });
  ASSERT_NE(it, records.end());
  EXPECT_EQ((*it)->file(), "ASLLogCapture");
  EXPECT_EQ((*it)->context(), 0u);
  EXPECT_EQ((*it)->flag(), LogFlagDebug);
  EXPECT_LT(std::abs((*it)->timestamp().timeIntervalSinceNow()), 60.0);
}

// A console warning is kept at the system log's warning level (4) and an error at its error
// level (3), which the capture reads back as the hub's info and warning.
TEST(ASLLogCaptureLocal, ConsoleWarningsAndErrorsKeepTheirSystemLogLevels) {
  Capturing c(ASLLogCapture::Backend::Local);
  ns::LogWarning("console warning");
  ns::LogError("console error");
  c.settle("end");
  auto got = captured(*c.recorder);
  EXPECT_EQ(got,
            (std::vector<std::pair<std::string, std::uint64_t>>{
                {"console warning", LogFlagInfo}, {"console error", LogFlagWarning}, {"end", LogFlagError}}));
}

TEST(ASLLogCaptureLocal, CaptureLevelOnePassesLevelsZeroToTwoSynchronously) {
  Capturing c(ASLLogCapture::Backend::Local);
  ASLLogCapture::setCaptureLevel(LogFlagError);
  for (int level = 0; level <= 7; ++level) SystemLogStore::shared().write(level, "L" + std::to_string(level));
  c.settle("end");
  EXPECT_EQ(capturedTexts(*c.recorder), (std::vector<std::string>{"L0", "L1", "L2", "end"}));

  // Errors wait for their delivery; the rest do not.
  struct Row {
    const char* level;
    bool waits;
  };
  ASLLogCapture::setCaptureLevel(31);
  for (const Row& row : {Row{"1", true}, Row{"3", false}, Row{"7", false}}) {
    SCOPED_TRACE(row.level);
    c.recorder->setGated(true);
    const int entered = c.recorder->entered();
    std::atomic<bool> returned{false};
    std::thread caller([&] {
      ASLLogCapture::aslMessageRecieved(
          {{"Message", "direct"}, {"Level", row.level}, {"Time", "1398951907"}});
      returned = true;
    });
    if (row.waits) {
      ASSERT_TRUE(c.recorder->waitForEntered(entered + 1));
      EXPECT_FALSE(returned.load());
    } else {
      ASSERT_TRUE(pltest::pumpUntil([&] { return returned.load(); }));
    }
    c.recorder->setGated(false);
    caller.join();
    LogHub::flushLog();
  }
  // A message without text is ignored.
  const auto before = c.recorder->records().size();
  ASLLogCapture::aslMessageRecieved({{"Level", "0"}});
  EXPECT_EQ(c.recorder->records().size(), before);
}

TEST(ASLLogCaptureLocal, LinesBeforeStartAreNotCapturedAndASecondStartAddsNothing) {
  ns::LogCapture quiet(true);
  ns::Log("before start");
  Capturing c(ASLLogCapture::Backend::Local);
  ASLLogCapture::start();  // already running
  EXPECT_TRUE(ASLLogCapture::isRunning());
  ns::Log("after start");
  c.settle("end");
  EXPECT_EQ(capturedTexts(*c.recorder), (std::vector<std::string>{"after start", "end"}));

  // After a stop, a new start reads from its own moment on.
  ASLLogCapture::stop();
  EXPECT_FALSE(ASLLogCapture::isRunning());
  ns::Log("while stopped");
  ASLLogCapture::start();
  ns::Log("restarted");
  c.settle("end 2");
  EXPECT_EQ(capturedTexts(*c.recorder),
            (std::vector<std::string>{"after start", "end", "restarted", "end 2"}));
}

TEST(ASLLogCaptureJournal, CapturesThisProcessesLinesFromTheJournal) {
  if (!ASLLogCapture::journalIsReadable()) GTEST_SKIP() << "no readable systemd journal on this machine";
  Capturing c(ASLLogCapture::Backend::Journal, false);
  SystemLogStore::shared().write(5, "journal line");
  ASSERT_TRUE(waitForCaptured(*c.recorder, "journal line"));
  c.settle("end");
  EXPECT_EQ(capturedTexts(*c.recorder), (std::vector<std::string>{"journal line", "end"}));
}

}  // namespace
