#include "platform/core/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/core/WarnOnce.h"

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

// Standard error sent to a temporary file while it lives, and the log's verbosity set, both put
// back when it goes.
class StandardErrorFile {
 public:
  explicit StandardErrorFile(bool verbose) : file_(std::tmpfile()), saved_(::dup(STDERR_FILENO)) {
    wasVerbose_ = ns::logIsVerbose();
    ns::setLogVerbose(verbose);
    ::dup2(::fileno(file_), STDERR_FILENO);
  }
  ~StandardErrorFile() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    std::fclose(file_);
    ns::setLogVerbose(wasVerbose_);
  }
  std::string text() const {
    std::string out;
    char buffer[4096];
    for (ssize_t at = 0, n; (n = ::pread(::fileno(file_), buffer, sizeof buffer, at)) > 0; at += n)
      out.append(buffer, static_cast<std::size_t>(n));
    return out;
  }

 private:
  FILE* file_;
  int saved_;
  bool wasVerbose_ = false;
};

TEST(LogTest, OnlyWarningsAndErrorsReachStandardErrorUnlessVerbose) {
  std::string quiet, verbose;
  ns::LogCapture capture;
  {
    StandardErrorFile err(false);
    ns::Log("info %d", 1);
    ns::LogWarning("warning %d", 2);
    ns::LogError("error %@", "three");
    quiet = err.text();
  }
  {
    StandardErrorFile err(true);
    ns::Log("info %d", 4);
    ns::LogWarning("warning %d", 5);
    verbose = err.text();
  }
  EXPECT_EQ(quiet.find("info 1"), std::string::npos) << quiet;
  EXPECT_NE(quiet.find("] warning 2\n"), std::string::npos) << quiet;
  EXPECT_NE(quiet.find("] error three\n"), std::string::npos) << quiet;
  EXPECT_NE(verbose.find("] info 4\n"), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("] warning 5\n"), std::string::npos) << verbose;
  // The sinks hear every line with its level, whatever reached standard error.
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 5u);
  const ns::LogLevel levels[] = {ns::LogLevel::Info, ns::LogLevel::Warning, ns::LogLevel::Error,
                                 ns::LogLevel::Info, ns::LogLevel::Warning};
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].level, levels[i]) << lines[i].message;
}

TEST(LogTest, ASilencingCaptureKeepsEvenErrorsOffStandardErrorButSeesThem) {
  StandardErrorFile err(true);
  ns::LogCapture capture(/*silence=*/true);
  ns::LogError("a failure logged on purpose");
  EXPECT_EQ(err.text(), "");
  EXPECT_TRUE(capture.contains("a failure logged on purpose"));
}

TEST(LogTest, EachLevelHasItsSyslogPriority) {
  EXPECT_EQ(ns::syslogPriority(ns::LogLevel::Info), 5);     // notice
  EXPECT_EQ(ns::syslogPriority(ns::LogLevel::Warning), 4);  // warning
  EXPECT_EQ(ns::syslogPriority(ns::LogLevel::Error), 3);    // error
}

TEST(WarnOnceTest, EachSubjectIsSaidOnceUntilItIsForgotten) {
  ns::LogCapture capture(true);
  ns::WarnOnce warnings;
  warnings.warn("/a", "a is broken");
  warnings.warn("/a", "a is broken again");
  warnings.warn("/b", "b is broken");
  warnings.forget("/a");
  warnings.warn("/a", "a broke once more");
  warnings.warn("/b", "b is still broken");
  warnings.forgetAll();
  warnings.warn("/b", "b broke once more");
  const std::vector<std::string> said = {"a is broken", "b is broken", "a broke once more",
                                         "b broke once more"};
  EXPECT_EQ(capture.messages(), said);
  for (const auto& line : capture.lines()) EXPECT_EQ(line.level, ns::LogLevel::Warning);
}

}  // namespace
