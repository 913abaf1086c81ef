#include "platform/core/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

namespace {

TEST(LogTest, LineFormatAndCapture) {
  ns::LogCapture capture(/*silence=*/true);
  ns::Log("Loaded %d videos from %@", 3, "cache");
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, "Loaded 3 videos from cache");
  // "YYYY-MM-DD HH:MM:SS.mmm pelorin[pid:tid] message"
  int y, mo, d, h, mi, sec, ms, pid, tid, used = 0;
  ASSERT_EQ(std::sscanf(lines[0].text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d pelorin[%d:%d] %n", &y, &mo, &d,
                        &h, &mi, &sec, &ms, &pid, &tid, &used),
            9)
      << lines[0].text;
  EXPECT_EQ(lines[0].text.substr(0, 24).size(), 24u);
  EXPECT_EQ(lines[0].text[4], '-');
  EXPECT_EQ(lines[0].text[19], '.');
  EXPECT_EQ(lines[0].text[23], ' ');
  EXPECT_EQ(pid, getpid());
  EXPECT_GT(tid, 0);
  EXPECT_EQ(lines[0].text.substr(static_cast<std::size_t>(used)), "Loaded 3 videos from cache");
  EXPECT_TRUE(capture.contains("videos"));
  EXPECT_FALSE(capture.contains("absent"));
  capture.clear();
  EXPECT_TRUE(capture.messages().empty());
}

TEST(LogTest, MessageWithPercentSignsIsNotReformatted) {
  ns::LogCapture capture(true);
  ns::LogMessage("100% %d %@");
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"100% %d %@"});
}

TEST(LogTest, ConcurrentLinesAllArriveWhole) {
  ns::LogCapture capture(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) ns::Log("thread %d line %d", t, i);
    });
  for (auto& th : threads) th.join();
  auto messages = capture.messages();
  ASSERT_EQ(messages.size(), 200u);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 50; ++i)
      EXPECT_NE(std::find(messages.begin(), messages.end(), ns::format("thread %d line %d", t, i)),
                messages.end());
}

TEST(LogTest, SinkMayLogAndIsRemovable) {
  ns::LogCapture capture(true);
  int calls = 0;
  auto token = ns::addLogSink([&](const ns::LogLine& line) {
    ++calls;
    if (line.message == "outer") ns::LogMessage("inner");  // no deadlock
  });
  ns::LogMessage("outer");
  ns::removeLogSink(token);
  ns::LogMessage("after");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"outer", "inner", "after"}));
}

}  // namespace
