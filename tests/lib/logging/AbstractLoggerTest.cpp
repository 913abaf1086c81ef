#include "lib/logging/AbstractLogger.h"

#include <gtest/gtest.h>

#include "lib/logging/DispatchQueueLogFormatter.h"
#include "platform/dispatch/Dispatch.h"
#include "tests/lib/logging/LoggingTestSupport.h"

using logtest::HubCleanup;
using logtest::RecordingLogger;

namespace {

// Writes down, in one shared journal, when loggers start and stop using it.
class JournalFormatter : public LogFormatter {
 public:
  JournalFormatter(std::string name, std::shared_ptr<logtest::Monitor> monitor,
                   std::shared_ptr<std::vector<std::string>> journal)
      : name_(std::move(name)), monitor_(std::move(monitor)), journal_(std::move(journal)) {}
  LogText formatLogMessage(const ns::Ref<LogMessage>& m) override { return m->messageText(); }
  void didAddToLogger(const ns::Ref<Logger>& logger) override { note("add", logger); }
  void willRemoveFromLogger(const ns::Ref<Logger>& logger) override { note("remove", logger); }

 private:
  void note(const char* what, const ns::Ref<Logger>& logger) {
    monitor_->change([&] { journal_->push_back(name_ + " " + what + " " + logger->description()); });
  }
  std::string name_;
  std::shared_ptr<logtest::Monitor> monitor_;
  std::shared_ptr<std::vector<std::string>> journal_;
};

struct Journal {
  std::shared_ptr<logtest::Monitor> monitor = std::make_shared<logtest::Monitor>();
  std::shared_ptr<std::vector<std::string>> entries = std::make_shared<std::vector<std::string>>();
  ns::Ref<JournalFormatter> make(const char* name) {
    return ns::make<JournalFormatter>(name, monitor, entries);
  }
  std::vector<std::string> read() {
    return monitor->with([&] { return *entries; });
  }
};

TEST(AbstractLoggerFormatter, HandOverTellsTheOldFormatterFirstAndSkipsTheSameOne) {
  Journal journal;
  auto logger = ns::make<RecordingLogger>();
  auto a = journal.make("A");
  auto b = journal.make("B");
  std::string self = logger->description();

  logger->setLogFormatter(a);
  logger->setLogFormatter(a);  // already set: no hand-over
  logger->setLogFormatter(b);
  // A read after the change has returned sees it: both pass the same two queues in order.
  EXPECT_EQ(logger->logFormatter(), b);
  EXPECT_EQ(journal.read(), (std::vector<std::string>{"A add " + self, "A remove " + self, "B add " + self}));

  logger->setLogFormatter(nullptr);
  EXPECT_EQ(logger->logFormatter(), nullptr);
  EXPECT_EQ(journal.read().back(), "B remove " + self);
}

TEST(AbstractLoggerFormatter, ASharedFormatterCountsItsLoggers) {
  auto formatter = ns::make<DispatchQueueLogFormatter>();
  auto one = ns::make<RecordingLogger>();
  auto two = ns::make<RecordingLogger>();
  one->setLogFormatter(formatter);
  two->setLogFormatter(formatter);
  EXPECT_EQ(one->logFormatter(), formatter);
  EXPECT_EQ(two->logFormatter(), formatter);
  EXPECT_EQ(formatter->loggerCount(), 2);
  two->setLogFormatter(ns::make<DispatchQueueLogFormatter>());
  EXPECT_NE(two->logFormatter(), formatter);
  EXPECT_EQ(formatter->loggerCount(), 1);
}

TEST(AbstractLoggerQueue, IsLabelledWithTheLoggerNameAndKnowsWhenItRunsThere) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  EXPECT_EQ(logger->loggerName(), "RecordingLogger");
  EXPECT_EQ(logger->loggerQueue()->label(), "RecordingLogger");
  EXPECT_EQ(logger->loggerQueue(), logger->loggerQueue());
  EXPECT_FALSE(logger->isOnInternalLoggerQueue());
  EXPECT_FALSE(logger->isOnGlobalLoggingQueue());

  // The hub calls the logger on the logger's own queue.
  LogHub::addLogger(logger);
  LogHub::log_level_flag_context_file_function_line_tag_format(false, 1, 1, 0, "", "", 0, {}, "x");
  EXPECT_EQ(logger->onOwnQueue(), (std::vector<bool>{true}));

  bool onLogging = false;
  dispatch::sync(LogHub::loggingQueue(), [&] { onLogging = logger->isOnGlobalLoggingQueue(); });
  EXPECT_TRUE(onLogging);
}

TEST(AbstractLoggerQueue, AReplacedQueueIsUsedAndTheOldOneNoLongerCounts) {
  HubCleanup cleanup;
  auto logger = ns::make<RecordingLogger>();
  auto old = logger->loggerQueue();
  auto replacement = dispatch::queueCreate("test.replacement", dispatch::QueueAttr::Serial);
  logger->setLoggerQueue(replacement);
  EXPECT_EQ(logger->loggerQueue(), replacement);

  bool onOld = true, onNew = false;
  dispatch::sync(old, [&] { onOld = logger->isOnInternalLoggerQueue(); });
  dispatch::sync(replacement, [&] { onNew = logger->isOnInternalLoggerQueue(); });
  EXPECT_FALSE(onOld);
  EXPECT_TRUE(onNew);
}

TEST(AbstractLoggerQueue, AQueueThatOutlivesItsLoggerNoLongerNamesIt) {
  auto shared = dispatch::queueCreate("test.shared", dispatch::QueueAttr::Serial);
  const void* address = nullptr;
  {
    auto logger = ns::make<RecordingLogger>();
    logger->setLoggerQueue(shared);
    address = logger.get();
    EXPECT_EQ(dispatch::queueGetSpecific(shared, address), address);
  }
  // Another logger made at the freed address must not find itself on this queue.
  EXPECT_EQ(dispatch::queueGetSpecific(shared, address), nullptr);
}

}  // namespace
