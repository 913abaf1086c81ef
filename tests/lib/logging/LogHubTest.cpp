#include "lib/logging/LogHub.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"
#include "tests/lib/logging/LoggingTestSupport.h"

using logtest::HubCleanup;
using logtest::RecordingLogger;

namespace {

void logFlag(bool asynchronous, std::uint64_t flag, const char* text = "m") {
  LogHub::log_level_flag_context_file_function_line_tag_format(asynchronous, 19, flag, 80, __FILE__, __func__,
                                                               __LINE__, {}, "%s", text);
}

TEST(LogHubDelivery, LoggerSeesOnlyItsFlagsInOrderAndFlushRunsOnce) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger_withLevel(logger, 3);
  for (std::uint64_t flag : {1, 2, 4, 8, 16}) logFlag(true, flag);
  LogHub::flushLog();

  EXPECT_EQ(logger->flags(), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(logger->flushes(), 1);
  // Every call of a logger runs on its own queue.
  EXPECT_EQ(logger->onOwnQueue(), (std::vector<bool>{true, true}));
}

TEST(LogHubDelivery, SynchronousCallReturnsAfterTheLoggerRan) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  for (int i = 0; i < 20; ++i) {
    logFlag(false, LogFlagError, "sync");
    // No flush, no waiting: the record is there when the call returns.
    ASSERT_EQ(logger->records().size(), static_cast<std::size_t>(i + 1));
  }
}

TEST(LogHubDelivery, FlagZeroAndLevelZeroNeverDeliver) {
  HubCleanup cleanup;
  auto all = ns::make<RecordingLogger>();
  auto none = ns::make<RecordingLogger>();
  LogHub::addLogger(all);  // every bit set
  LogHub::addLogger_withLevel(none, 0);
  logFlag(false, 0);
  logFlag(false, std::uint64_t{1} << 63);
  logFlag(false, LogFlagVerbose);
  EXPECT_EQ(all->flags(), (std::vector<std::uint64_t>{std::uint64_t{1} << 63, LogFlagVerbose}));
  EXPECT_TRUE(none->records().empty());
}

TEST(LogHubDelivery, EveryLoggerGetsTheSameSharedRecord) {
  HubCleanup cleanup;
  auto a = ns::make<RecordingLogger>();
  auto b = ns::make<RecordingLogger>();
  LogHub::addLogger(a);
  LogHub::addLogger(b);
  logFlag(false, LogFlagInfo, "shared");
  ASSERT_EQ(a->records().size(), 1u);
  ASSERT_EQ(b->records().size(), 1u);
  EXPECT_EQ(a->records()[0], b->records()[0]);
}

TEST(LogHubDelivery, RecordsWithNoLoggerAreDroppedAndFreeTheirSlot) {
  HubCleanup cleanup;
  // More than the in-flight bound: if dropped records kept their slot, this would never finish.
  std::atomic<int> done{0};
  logtest::Monitor monitor;
  std::thread caller([&] {
    for (int i = 0; i < 2500; ++i) logFlag(true, LogFlagWarning);
    monitor.change([&] { done = 1; });
  });
  bool finished = monitor.waitFor([&] { return done.load() == 1; });
  caller.join();
  EXPECT_TRUE(finished);
  LogHub::flushLog();
}

TEST(LogHubDelivery, AFullQueueBlocksTheNextCallUntilARecordIsDelivered) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  logger->setGated(true);
  LogHub::addLogger(logger);

  logtest::Monitor monitor;
  int returned = 0;
  std::thread caller([&] {
    for (int i = 0; i < 1001; ++i) {
      logFlag(true, LogFlagInfo);
      monitor.change([&] { ++returned; });
    }
  });
  // The first record is held in the logger; 999 more wait on the logging queue.
  ASSERT_TRUE(logger->waitForEntered(1));
  ASSERT_TRUE(monitor.waitFor([&] { return returned >= 1000; }));
  // The 1001st call has no slot. (A bounded wait for something that must not happen.)
  EXPECT_FALSE(monitor.waitFor([&] { return returned > 1000; }, std::chrono::milliseconds(300)));
  EXPECT_EQ(logger->records().size(), 0u);

  logger->setGated(false);
  EXPECT_TRUE(monitor.waitFor([&] { return returned == 1001; }));
  caller.join();
  LogHub::flushLog();
  EXPECT_EQ(logger->records().size(), 1001u);
}

// Logs a record of its own, asynchronously, when it gets the one named "first".
class LoggingLogger : public RecordingLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>& message) override {
    RecordingLogger::logMessage(message);
    if (message->message() == "first") logFlag(true, LogFlagWarning, "from the logger");
  }
};

TEST(LogHubDelivery, ALoggerThatLogsWhileTheQueueIsFullDoesNotWaitForItself) {
  HubCleanup cleanup;
  auto logger = ns::make<LoggingLogger>();
  logger->setGated(true);
  LogHub::addLogger(logger);
  logFlag(true, LogFlagInfo, "first");
  ASSERT_TRUE(logger->waitForEntered(1));
  logtest::Monitor monitor;
  int returned = 0;
  std::thread caller([&] {
    for (int i = 0; i < 999; ++i) {
      logFlag(true, LogFlagInfo);
      monitor.change([&] { ++returned; });
    }
  });
  // Every slot is taken; the logger's own record is logged from inside the delivery that frees
  // them.
  ASSERT_TRUE(monitor.waitFor([&] { return returned == 999; }));
  caller.join();
  logger->setGated(false);
  EXPECT_TRUE(logger->waitForRecords(1001));
  LogHub::flushLog();
  auto messages = logger->messages();
  ASSERT_EQ(messages.size(), 1001u);
  EXPECT_EQ(messages.front(), "first");
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "from the logger"), 1);
}

TEST(LogHubDelivery, ManyThreadsAtOnceLoseNothingAndKeepEachThreadsOrder) {
  struct Case {
    int loggers;
    unsigned processors;
  } cases[] = {{1, 4}, {2, 4}, {2, 1}};
  constexpr int kThreads = 8;
  constexpr int kRecords = 600;  // 4800 in all: the 1000-record bound is met many times
  for (const auto& c : cases) {
    HubCleanup cleanup;
    unsigned original = LogHub::processorCount();
    LogHub::setProcessorCount(c.processors);
    std::vector<ns::Ref<RecordingLogger>> loggers;
    for (int i = 0; i < c.loggers; ++i) {
      loggers.push_back(ns::make<RecordingLogger>());
      // The second logger takes only warnings.
      LogHub::addLogger_withLevel(loggers.back(), i == 0 ? LogLevelAll : LogFlagWarning);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kRecords; ++i) {
          // Every tenth call waits for its delivery, in among the others.
          LogHub::log_level_flag_context_file_function_line_tag_format(
              i % 10 != 0, 1, i % 2 == 0 ? LogFlagWarning : LogFlagInfo, t, __FILE__, __func__, __LINE__, {},
              "%d", i);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    LogHub::flushLog();

    for (int l = 0; l < c.loggers; ++l) {
      std::vector<int> next(kThreads, 0);
      std::size_t count = 0;
      for (const auto& record : loggers[l]->records()) {
        int thread = static_cast<int>(record->context());
        int index = std::stoi(record->message());
        EXPECT_EQ(index, next[thread]) << "logger " << l << " thread " << thread;
        next[thread] = index + (l == 0 ? 1 : 2);
        ++count;
      }
      EXPECT_EQ(count, static_cast<std::size_t>(kThreads * kRecords / (l == 0 ? 1 : 2)))
          << c.loggers << " loggers, " << c.processors << " processors";
    }
    LogHub::setProcessorCount(original);
  }
}

// A caller may lose its processor between drawing its ticket and putting its record in place; the
// logging queue then waits for it in real time, and a flush comes back even while a test holds its
// virtual clock still. Callers crowded on one processor are stopped there now and then.
TEST(LogHubDelivery, AFlushComesBackUnderAClockHeldStillWhileCallersAreStoppedMidCall) {
  pltest::VirtualClock clock;
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int cpu = 0;
  while (!CPU_ISSET(cpu, &allowed)) ++cpu;
  constexpr int kThreads = 8;
  constexpr int kRecords = 1000;
  constexpr int kRounds = 40;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([cpu] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        for (int i = 0; i < kRecords; ++i) logFlag(true, LogFlagInfo);
      });
    }
    for (auto& thread : threads) thread.join();
    LogHub::flushLog();
    ASSERT_EQ(logger->records().size(), static_cast<std::size_t>((round + 1) * kThreads * kRecords));
  }
}

// Records with a tag, and steps, are the entries the logging queue frees itself once delivered,
// while their callers may still be inside the call; none may be lost or freed twice (the address
// sanitizer watches the pool's free nodes).
TEST(LogHubDelivery, RecordsWithATagAndStepsFromManyThreadsAllArrive) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  constexpr int kThreads = 8;
  constexpr int kRecords = 3000;
  std::atomic<int> steps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &steps] {
      for (int i = 0; i < kRecords; ++i) {
        if (i % 25 == 0) LogHub::runBetweenRecords([&steps] { steps.fetch_add(1); }, false);
        LogHub::log_level_flag_context_file_function_line_tag_format(
            true, 1, LogFlagInfo, t, __FILE__, __func__, __LINE__, ns::Value(i), "%d", i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  LogHub::flushLog();
  EXPECT_EQ(logger->records().size(), static_cast<std::size_t>(kThreads * kRecords));
  EXPECT_EQ(steps.load(), kThreads * kRecords / 25);
}

TEST(LogHubDelivery, ASettingChangedBetweenTwoRecordsAppliesFromTheSecond) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  std::vector<int> seen;
  for (int i = 0; i < 50; ++i) {
    logFlag(true, LogFlagInfo, "before");
    // A step between records runs after every record queued before it, none after.
    LogHub::runBetweenRecords([&seen, logger] { seen.push_back(static_cast<int>(logger->records().size())); },
                              false);
  }
  LogHub::flushLog();
  ASSERT_EQ(seen.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i + 1);
}

// Notes when it starts and ends each record in a journal shared with its peer; the first one also
// looks, for a bounded while, whether its peer starts meanwhile.
class OverlapLogger : public AbstractLogger {
 public:
  OverlapLogger(std::string name, logtest::Monitor& monitor, std::vector<std::string>& journal, bool watcher)
      : name_(std::move(name)), monitor_(monitor), journal_(journal), watcher_(watcher) {}
  void logMessage(const ns::Ref<LogMessage>&) override {
    monitor_.change([&] { journal_.push_back(name_ + " start"); });
    if (watcher_) {
      bool peerStarted = monitor_.waitFor(
          [&] { return std::count(journal_.begin(), journal_.end(), "B start") > 0; }, watchFor);
      monitor_.change([&] { journal_.push_back(peerStarted ? "overlap" : "alone"); });
    }
    monitor_.change([&] { journal_.push_back(name_ + " end"); });
  }

  // Short where the peer must not start, generous where it must.
  std::chrono::milliseconds watchFor{200};

 private:
  std::string name_;
  logtest::Monitor& monitor_;
  std::vector<std::string>& journal_;
  bool watcher_;
};

TEST(LogHubDelivery, OneProcessorRunsTheLoggersOneAfterTheOtherMoreRunThemTogether) {
  HubCleanup cleanup;
  unsigned original = LogHub::processorCount();
  EXPECT_GE(original, 1u);
  logtest::Monitor monitor;
  std::vector<std::string> journal;
  auto watcher = ns::make<OverlapLogger>("A", monitor, journal, true);
  LogHub::addLogger(watcher);
  LogHub::addLogger(ns::make<OverlapLogger>("B", monitor, journal, false));

  LogHub::setProcessorCount(1);
  logFlag(false, LogFlagInfo);
  EXPECT_EQ(monitor.with([&] { return journal; }),
            (std::vector<std::string>{"A start", "alone", "A end", "B start", "B end"}));

  monitor.change([&] { journal.clear(); });
  LogHub::setProcessorCount(4);
  watcher->watchFor = std::chrono::duration_cast<std::chrono::milliseconds>(logtest::kTimeout);
  logFlag(false, LogFlagInfo);
  auto together = monitor.with([&] { return journal; });
  EXPECT_NE(std::find(together.begin(), together.end(), "overlap"), together.end());
  EXPECT_EQ(together.size(), 5u);  // both finished before the synchronous call returned
  LogHub::setProcessorCount(original);
}

TEST(LogHubRegistration, LoggersAreListedInOrderOfAdditionAndAddedTwiceMeansTwice) {
  HubCleanup cleanup;
  auto a = ns::make<RecordingLogger>();
  auto b = ns::make<RecordingLogger>();
  LogHub::addLogger(a);
  LogHub::addLogger(b);
  LogHub::addLogger(a);
  LogHub::addLogger(nullptr);
  EXPECT_EQ(LogHub::allLoggers(), (std::vector<ns::Ref<Logger>>{a, b, a}));
  logFlag(false, LogFlagInfo);
  EXPECT_EQ(a->records().size(), 2u);
  EXPECT_EQ(b->records().size(), 1u);

  // Removal takes the first node of that very logger.
  LogHub::removeLogger(a);
  EXPECT_EQ(LogHub::allLoggers(), (std::vector<ns::Ref<Logger>>{b, a}));
}

TEST(LogHubRegistration, RemovingAnUnknownLoggerOrRemovingTwiceChangesNothing) {
  HubCleanup cleanup;
  auto a = ns::make<RecordingLogger>();
  auto stranger = ns::make<RecordingLogger>();
  LogHub::addLogger(a);
  LogHub::removeLogger(stranger);
  LogHub::removeLogger(nullptr);
  EXPECT_EQ(LogHub::allLoggers(), (std::vector<ns::Ref<Logger>>{a}));
  LogHub::removeLogger(a);
  LogHub::removeLogger(a);
  EXPECT_TRUE(LogHub::allLoggers().empty());
  EXPECT_TRUE(stranger->events().empty());
  ASSERT_TRUE(a->waitForEvents(2));
  EXPECT_EQ(a->events(), (std::vector<std::string>{"didAdd", "willRemove"}));
}

TEST(LogHubRegistration, RemoveAllTellsEveryLoggerAndEmptiesTheList) {
  auto a = ns::make<RecordingLogger>();
  auto b = ns::make<RecordingLogger>();
  LogHub::addLogger(a);
  LogHub::addLogger(b);
  LogHub::removeAllLoggers();
  EXPECT_TRUE(LogHub::allLoggers().empty());
  ASSERT_TRUE(a->waitForEvents(2));
  ASSERT_TRUE(b->waitForEvents(2));
  EXPECT_EQ(a->events().back(), "willRemove");
  EXPECT_EQ(b->events().back(), "willRemove");
  logFlag(false, LogFlagError);
  EXPECT_TRUE(a->records().empty());
}

// A logger that names its queue but brings none: the hub makes a queue with that label.
class NamedLogger : public Logger {
 public:
  void logMessage(const ns::Ref<LogMessage>&) override { label = dispatch::currentQueueLabel(); }
  ns::Ref<LogFormatter> logFormatter() override { return nullptr; }
  void setLogFormatter(ns::Ref<LogFormatter>) override {}
  std::optional<std::string> loggerName() override { return "test.named.logger"; }
  std::string label;
};

TEST(LogHubRegistration, ALoggerWithoutQueueGetsOneLabelledWithItsName) {
  HubCleanup cleanup;
  auto logger = ns::make<NamedLogger>();
  LogHub::addLogger(logger);
  logFlag(false, LogFlagError);
  EXPECT_EQ(logger->label, "test.named.logger");
}

TEST(LogHubRecord, CarriesTheCallersPositionAndIdentity) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  ns::Value tag("tag");
  LogHub::log_level_flag_context_file_function_line_tag_format(
      false, 7, LogFlagWarning, -1, "/a/b/YoutubeResponse.src", "-[YoutubeResponse open]", -5, tag,
      "%d items", 3);
  ASSERT_EQ(logger->records().size(), 1u);
  auto r = logger->records()[0];
  EXPECT_EQ(r->message(), "3 items");
  EXPECT_EQ(r->level(), 7u);
  EXPECT_EQ(r->flag(), LogFlagWarning);
  EXPECT_EQ(r->context(), ~std::uint64_t{0});  // sign-extended
  EXPECT_EQ(r->line(), static_cast<std::uint64_t>(-5));
  EXPECT_EQ(r->file(), "/a/b/YoutubeResponse.src");
  EXPECT_EQ(r->fileName(), "YoutubeResponse");
  EXPECT_EQ(r->function(), "-[YoutubeResponse open]");
  EXPECT_EQ(r->tag(), tag);
  EXPECT_EQ(r->options(), 0);
  EXPECT_EQ(r->threadID(), logtest::currentThreadIDHex());
  EXPECT_LT(std::abs(r->timestamp().timeIntervalSinceNow()), 60.0);
}

TEST(LogHubRecord, FormatsWithArgumentsAndAnAbsentFormatLogsNothing) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  LogHub::log_level_flag_context_file_function_line_tag_format(false, 1, 1, 80, __FILE__, __func__, __LINE__,
                                                               {}, nullptr);
  logFlag(false, LogFlagError, "after");
  std::string name = "HTTPServer";
  const ns::detail::FormatArg args[] = {ns::detail::FormatArg(name), ns::detail::FormatArg(5)};
  LogHub::log_level_flag_context_file_function_line_tag_format_args(false, 7, 4, 80, __FILE__, __func__,
                                                                    __LINE__, {}, "%@: %d", args);
  LogHub::log_level_flag_context_file_function_line_tag_format_args(false, 7, 4, 80, __FILE__, __func__,
                                                                    __LINE__, {}, nullptr, args);
  EXPECT_EQ(logger->messages(), (std::vector<std::string>{"after", "HTTPServer: 5"}));
}

TEST(LogHubRecord, MadeOnALabelledQueueCarriesItsLabelAndThreadNumber) {
  auto queue = dispatch::queueCreate("q.test", dispatch::QueueAttr::Serial);
  ns::Ref<LogMessage> record;
  std::string threadHex;
  dispatch::sync(queue, [&] {
    record = ns::make<LogMessage>("m", 1, 1, 80, "/x/File.cpp", "f", 1);
    threadHex = logtest::currentThreadIDHex();
  });
  EXPECT_EQ(record->queueLabel(), "q.test");
  EXPECT_EQ(record->threadID(), threadHex);
  EXPECT_EQ(record->threadID().find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(record->threadID()[0], '0');
}

// The hub reuses what a thread's call site made for its last record: a record logged from the same
// line must still show where and by whom it was made now.
TEST(LogHubRecord, OneCallSiteLoggedFromSeveralQueuesAndUnderANewNameShowsEachAsItWas) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  auto first = dispatch::queueCreate("q.first", dispatch::QueueAttr::Serial);
  auto second = dispatch::queueCreate("q.second", dispatch::QueueAttr::Serial);
  std::thread([&] {
    std::vector<std::string> threads;
    auto logHere = [&] {
      logFlag(false, LogFlagError, "same line");
      threads.push_back(logtest::currentThreadIDHex());
    };
    logHere();
    dispatch::sync(first, logHere);
    dispatch::sync(second, logHere);
    dispatch::sync(first, logHere);
    logHere();
    pthread_setname_np(pthread_self(), "renamed-logger");
    // The name is read again once the coarse clock has moved on: a spin bounded by a deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
      logHere();
    } while (logger->records().back()->threadName() != "renamed-logger" &&
             std::chrono::steady_clock::now() < deadline);

    auto records = logger->records();
    ASSERT_GE(records.size(), 6u);
    const std::vector<std::string> labels = {records[0]->queueLabel(), records[1]->queueLabel(),
                                             records[2]->queueLabel(), records[3]->queueLabel(),
                                             records[4]->queueLabel()};
    EXPECT_EQ(labels, (std::vector<std::string>{labels[0], "q.first", "q.second", "q.first", labels[0]}));
    EXPECT_NE(labels[0], "q.first");
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i]->threadID(), threads[i]) << i;
      EXPECT_EQ(records[i]->function(), "logFlag");
    }
    EXPECT_FALSE(records[0]->threadName());
    EXPECT_EQ(records.back()->threadName(), "renamed-logger");
  }).join();
}

TEST(LogHubRecord, AThreadsNameIsItsOwnAndARenameShowsWithinAFewMilliseconds) {
  std::thread([] {
    auto record = [] { return ns::make<LogMessage>("m", 1, 1, 80, "/x/File.cpp", "f", 1); };
    EXPECT_FALSE(record()->threadName()) << "a thread never named has no name of its own";
    pthread_setname_np(pthread_self(), "first-name");
    // The name is read again once the coarse clock has moved on: a spin bounded by a deadline.
    auto nameWithin = [&](const std::string& expected) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      std::optional<std::string> name;
      while ((name = record()->threadName()) != expected && std::chrono::steady_clock::now() < deadline) {
      }
      return name;
    };
    EXPECT_EQ(nameWithin("first-name"), "first-name");
    pthread_setname_np(pthread_self(), "second-name");
    EXPECT_EQ(nameWithin("second-name"), "second-name");
  }).join();
}

TEST(LogHubRecord, CopiesShareEveryFieldAndCanReplaceTheText) {
  auto original = ns::make<LogMessage>("text", 3, 2, 80, "/p/Name.ext", "fn", 9, ns::Value(5), 42);
  auto copy = original->copy();
  EXPECT_NE(copy, original);
  EXPECT_EQ(copy->messageText(), original->messageText());  // shared, not copied
  EXPECT_EQ(copy->timestamp(), original->timestamp());
  EXPECT_EQ(copy->threadID(), original->threadID());
  EXPECT_EQ(copy->options(), 42);
  auto replaced = original->copyWithMessage(std::make_shared<const std::string>("other"));
  EXPECT_EQ(replaced->message(), "other");
  EXPECT_EQ(replaced->fileName(), "Name");
  EXPECT_EQ(replaced->tag(), ns::Value(5));
  EXPECT_EQ(original->message(), "text");
}

TEST(LogHubRecord, AGivenTimestampIsKept) {
  auto when = ns::Date::dateWithTimeIntervalSince1970(1398951907.123);
  auto record = ns::make<LogMessage>("m", 1, 1, 0, "", "", 0, ns::Value(), 0, when);
  EXPECT_EQ(record->timestamp(), when);
}

TEST(SourceFileBaseNameTest, NameWithoutFolderAndLastExtension) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/home/x/Core/HTTPServer.src", "HTTPServer"},
      {"HTTPServer", "HTTPServer"},
      {"/x/archive.tar.gz", "archive.tar"},
      {"/x/.profile", ""},
      {"/x.y/file", "file"},
      {"/x/dir/", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    for (bool copy : {false, true}) {
      auto name = SourceFileBaseName(c.path, copy);
      ASSERT_TRUE(name.has_value()) << c.path;
      EXPECT_EQ(*name, c.expected) << c.path << " copy=" << copy;
    }
  }
  EXPECT_FALSE(SourceFileBaseName(nullptr, false).has_value());
  EXPECT_FALSE(SourceFileBaseName(nullptr, true).has_value());
}

TEST(SourceFileBaseNameTest, WithoutCopyViewsTheCallersBytesWithCopyOutlivesThem) {
  const char* path = "/src/HTTPConnection.src";
  auto view = SourceFileBaseName(path, false);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->data(), path + 5);

  std::string temporary = "/tmp/Volatile.cpp";
  auto copied = SourceFileBaseName(temporary.c_str(), true);
  temporary.assign("/zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz");
  ASSERT_TRUE(copied);
  EXPECT_EQ(*copied, "Volatile");
}

struct LevelledClass {
  static std::uint64_t logHubLevel() { return level; }
  static void setLogHubLevel(std::uint64_t value) { level = value; }
  static inline std::uint64_t level = 3;
};
struct UnlevelledClass {
  static std::uint64_t logHubLevel() { return 1; }  // no setter: not registered
};
LOG_HUB_REGISTER_CLASS(LevelledClass);

// Puts LevelledClass's level back when a test that sets it ends, so that the next test, or the
// same one run again in this process, finds it as it started.
class LevelledClassLevelGuard {
 public:
  LevelledClassLevelGuard() = default;
  ~LevelledClassLevelGuard() { LevelledClass::level = saved_; }
  LevelledClassLevelGuard(const LevelledClassLevelGuard&) = delete;
  LevelledClassLevelGuard& operator=(const LevelledClassLevelGuard&) = delete;

 private:
  std::uint64_t saved_ = LevelledClass::level;
};

TEST(LogHubClasses, OnlyClassesWithBothLevelMethodsTakePart) {
  LevelledClassLevelGuard restoresTheLevel;
  EXPECT_TRUE(LogHub::isRegisteredClass<LevelledClass>());
  EXPECT_FALSE(LogHub::isRegisteredClass<UnlevelledClass>());
  auto names = LogHub::registeredClassNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "LevelledClass"), names.end());

  EXPECT_EQ(LogHub::levelForClass<LevelledClass>(), 3u);
  EXPECT_EQ(LogHub::levelForClass<UnlevelledClass>(), LogLevelAll);
  LogHub::setLevel_forClassWithName(7, "LevelledClass");
  EXPECT_EQ(LevelledClass::level, 7u);
  EXPECT_EQ(LogHub::levelForClassWithName("LevelledClass"), 7u);
  LogHub::setLevel_forClass<LevelledClass>(1);
  EXPECT_EQ(LogHub::levelForClassWithName("LevelledClass"), 1u);

  EXPECT_EQ(LogHub::levelForClassWithName("NoSuchClass"), LogLevelAll);
  LogHub::setLevel_forClassWithName(5, "NoSuchClass");  // silently nothing
  LogHub::setLevel_forClass<UnlevelledClass>(5);
  EXPECT_EQ(UnlevelledClass::logHubLevel(), 1u);
}

// A logger that waits for the hub from its own queue.
class SelfWaitingLogger : public RecordingLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>&) override { LogHub::flushLog(); }
};

#ifndef NDEBUG
TEST(LogHubDeathTest, WaitingForTheHubFromALoggersQueueIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        LogHub::addLogger(ns::make<SelfWaitingLogger>());
        logFlag(false, LogFlagError);
      },
      "flushLog from the logging queue or a logger's queue");
}

TEST(LogHubDeathTest, WaitingForAStepFromTheLoggingQueueIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(dispatch::sync(LogHub::loggingQueue(), [] { LogHub::runBetweenRecords([] {}, true); }),
               "waiting for the hub from the logging queue or a logger's queue");
}
#endif

// Flushes on exit: the buffered text only reaches the output in flush().
class BufferingLogger : public RecordingLogger {
 public:
  void logMessage(const ns::Ref<LogMessage>& message) override { buffer += message->message(); }
  void flush() override {
    std::fputs(buffer.c_str(), stderr);
    std::fflush(stderr);
  }
  std::string buffer;
};

TEST(LogHubDeathTest, TheHubFlushesAtProcessExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        LogHub::addLogger(ns::make<BufferingLogger>());
        logFlag(true, LogFlagInfo, "buffered-then-flushed");
        std::exit(3);
      },
      testing::ExitedWithCode(3), "buffered-then-flushed");
}

TEST(LogHubQueues, TheLoggingQueueIsKnownByItsMark) {
  EXPECT_EQ(LogHub::loggingQueue()->label(), "logging.hub");
  EXPECT_FALSE(LogHub::isOnLoggingQueue());
  bool inside = false;
  dispatch::sync(LogHub::loggingQueue(), [&] { inside = LogHub::isOnLoggingQueue(); });
  EXPECT_TRUE(inside);
}

}  // namespace
