#include <gtest/gtest.h>

#include <cctype>

#include "lib/logging/ContextBlacklistFilterLogFormatter.h"
#include "lib/logging/ContextWhitelistFilterLogFormatter.h"
#include "lib/logging/DispatchQueueLogFormatter.h"
#include "lib/logging/MultiFormatter.h"
#include "platform/dispatch/Dispatch.h"
#include "tests/lib/logging/LoggingTestSupport.h"

namespace {

const ns::Date kMay1 =
    ns::Date::dateWithTimeIntervalSince1970(1398951907.123);  // 2014-05-01 13:45:07.123 UTC

ns::Ref<LogMessage> record(const std::string& text, std::int32_t context = 80,
                           std::optional<ns::Date> when = std::nullopt) {
  return ns::make<LogMessage>(text, 7, LogFlagInfo, context, "/src/File.cpp", "f", 1, ns::Value(), 0, when);
}

TEST(DispatchQueueLogFormatterTest, LineOnTheMainThreadShowsMain) {
  logtest::ScopedTimeZone utc("UTC");
  DispatchQueueLogFormatter formatter;
  auto line = formatter.formatLogMessage(record("m", 80, kMay1));
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, "2014-05-01 13:45:07:123 [main] m");
}

TEST(DispatchQueueLogFormatterTest, DateFollowsTheLocalTimeZone) {
  logtest::ScopedTimeZone zone("Asia/Kolkata");  // UTC+05:30, no daylight saving
  DispatchQueueLogFormatter formatter;
  EXPECT_EQ(formatter.stringFromDate(kMay1), "2014-05-01 19:15:07:123");
  EXPECT_EQ(formatter.stringFromDate(ns::Date::dateWithTimeIntervalSince1970(0.999)),
            "1970-01-01 05:30:00:999");
  // Before 1970 the milliseconds still count forward within their second.
  EXPECT_EQ(formatter.stringFromDate(ns::Date::dateWithTimeIntervalSince1970(-0.25)),
            "1970-01-01 05:29:59:750");
}

TEST(DispatchQueueLogFormatterTest, LabelsOfQueuesThreadsAndGlobalQueues) {
  DispatchQueueLogFormatter formatter;
  auto queue = dispatch::queueCreate("com.example.worker", dispatch::QueueAttr::Serial);
  ns::Ref<LogMessage> onQueue, onGlobal;
  std::string globalThreadLabel;
  dispatch::sync(queue, [&] { onQueue = record("q"); });
  logtest::Monitor monitor;
  dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), [&] {
    auto r = record("g");
    monitor.change([&] { onGlobal = r; });
  });
  ASSERT_TRUE(monitor.waitFor([&] { return onGlobal != nullptr; }));
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onQueue), "com.example.worker");
  // A global queue says nothing about the caller: the thread's name, or its number.
  const auto& name = onGlobal->threadName();
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onGlobal),
            name && !name->empty() ? *name : onGlobal->threadID());

  // Replacements apply to labels; removing one (also the built-in main) restores the label.
  formatter.setReplacementString_forQueueLabel("worker", "com.example.worker");
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onQueue), "worker");
  EXPECT_EQ(formatter.replacementStringForQueueLabel(dispatch::kMainQueueLabel), "main");
  formatter.setReplacementString_forQueueLabel(std::nullopt, dispatch::kMainQueueLabel);
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(record("m")), dispatch::kMainQueueLabel);
  EXPECT_FALSE(formatter.replacementStringForQueueLabel(dispatch::kMainQueueLabel));
}

TEST(DispatchQueueLogFormatterTest, LabelsAreWidenedAndCut) {
  DispatchQueueLogFormatter formatter;
  ns::Ref<LogMessage> hub;
  dispatch::sync(dispatch::queueCreate("logging.hub.test"), [&] { hub = record("x"); });
  auto main = record("m");
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(main), "main");
  formatter.setMinQueueLength(8);
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(main), "main    ");
  formatter.setMaxQueueLength(3);
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(hub), "log");
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(main), "mai");
  formatter.setMinQueueLength(0);
  formatter.setMaxQueueLength(0);
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(hub), "logging.hub.test");

  // Lengths count UTF-16 units and never split a character.
  formatter.setReplacementString_forQueueLabel("d\xC3\xA9j\xC3\xA0", "logging.hub.test");  // "déjà"
  formatter.setMaxQueueLength(2);
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(hub), "d\xC3\xA9");
  formatter.setMaxQueueLength(0);
  formatter.setMinQueueLength(5);
  EXPECT_EQ(formatter.queueThreadLabelForLogMessage(hub), "d\xC3\xA9j\xC3\xA0 ");
}

TEST(ContextFilters, EmptySetsAndListedContexts) {
  ContextWhitelistFilterLogFormatter white;
  ContextBlacklistFilterLogFormatter black;
  auto r80 = record("eighty", 80);
  auto rNeg = record("negative", -1);
  EXPECT_EQ(white.formatLogMessage(r80), nullptr);             // empty whitelist: nothing passes
  EXPECT_EQ(black.formatLogMessage(r80), r80->messageText());  // empty blacklist: all pass, unchanged

  white.addToWhitelist(80);
  white.addToWhitelist(static_cast<std::uint64_t>(-1));
  black.addToBlacklist(80);
  EXPECT_EQ(white.formatLogMessage(r80), r80->messageText());
  EXPECT_EQ(white.formatLogMessage(rNeg), rNeg->messageText());
  EXPECT_EQ(black.formatLogMessage(r80), nullptr);
  EXPECT_EQ(black.formatLogMessage(rNeg), rNeg->messageText());
  EXPECT_TRUE(white.isOnWhitelist(80));
  EXPECT_EQ(white.whitelist().size(), 2u);

  white.removeFromWhitelist(80);
  black.removeFromBlacklist(80);
  EXPECT_EQ(white.formatLogMessage(r80), nullptr);
  EXPECT_EQ(black.formatLogMessage(r80), r80->messageText());
  EXPECT_TRUE(black.blacklist().empty());
}

// Upper-cases the text, recording the message it was handed.
class UpperFormatter : public LogFormatter {
 public:
  LogText formatLogMessage(const ns::Ref<LogMessage>& m) override {
    seen.push_back(m->message());
    std::string s = m->message();
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::make_shared<const std::string>(s);
  }
  std::vector<std::string> seen;
};

TEST(MultiFormatterTest, ChainsFormattersAndStopsAtTheFirstWithoutText) {
  logtest::ScopedTimeZone utc("UTC");
  auto multi = ns::make<MultiFormatter>();
  auto original = record("hello", 80, kMay1);
  EXPECT_EQ(multi->formatLogMessage(original),
            original->messageText());  // empty chain: the record's own text

  auto black = ns::make<ContextBlacklistFilterLogFormatter>();
  black->addToBlacklist(5);
  auto upper = ns::make<UpperFormatter>();
  auto dq = ns::make<DispatchQueueLogFormatter>();
  multi->addFormatter(black);
  multi->addFormatter(upper);
  multi->addFormatter(dq);

  auto line = multi->formatLogMessage(original);
  ASSERT_TRUE(line);
  // The later formatter sees the earlier one's text as the record's message.
  EXPECT_EQ(*line, "2014-05-01 13:45:07:123 [main] HELLO");
  EXPECT_EQ(upper->seen, (std::vector<std::string>{"hello"}));
  EXPECT_EQ(original->message(), "hello");

  EXPECT_EQ(multi->formatLogMessage(record("hidden", 5)), nullptr);
  EXPECT_EQ(upper->seen.size(), 1u);  // the chain stopped at the filter
}

TEST(MultiFormatterTest, ChangesAreSeenByTheNextReadOnTheSameThread) {
  auto multi = ns::make<MultiFormatter>();
  auto a = ns::make<UpperFormatter>();
  auto b = ns::make<ContextWhitelistFilterLogFormatter>();
  multi->addFormatter(a);
  multi->addFormatter(b);
  EXPECT_TRUE(multi->isFormattingWithFormatter(a));
  EXPECT_EQ(multi->formatters(), (std::vector<ns::Ref<LogFormatter>>{a, b}));
  multi->removeFormatter(a);
  EXPECT_FALSE(multi->isFormattingWithFormatter(a));
  EXPECT_TRUE(multi->isFormattingWithFormatter(b));
  multi->removeAllFormatters();
  EXPECT_TRUE(multi->formatters().empty());
}

TEST(MultiFormatterTest, KeepsOnlyTheTextReplaced) {
  auto multi = ns::make<MultiFormatter>();
  auto original = record("text");
  auto copy = multi->logMessageForLine_originalMessage(std::make_shared<const std::string>("line"), original);
  EXPECT_EQ(copy->message(), "line");
  EXPECT_EQ(copy->timestamp(), original->timestamp());
  EXPECT_EQ(copy->queueLabel(), original->queueLabel());
  EXPECT_EQ(copy->context(), original->context());
}

}  // namespace
