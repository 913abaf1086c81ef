#include "lib/logging/TTYLogger.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "lib/logging/DispatchQueueLogFormatter.h"
#include "lib/logging/TTYColorTable.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/logging/LoggingTestSupport.h"

using logtest::HubCleanup;

namespace {

const std::string ESC = "\033[";

// A console logger writing into a pipe that the test reads.
class PipeConsole {
 public:
  explicit PipeConsole(TTYTerminal terminal) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read_ = fds[0];
    write_ = fds[1];
    ::fcntl(read_, F_SETFL, O_NONBLOCK);
    logger = TTYLogger::loggerWithFileDescriptor_terminal(write_, terminal);
    LogHub::addLogger(logger);
  }
  ~PipeConsole() {
    LogHub::removeLogger(logger);
    LogHub::flushLog();
    ::close(read_);
    ::close(write_);
  }
  // Logs synchronously: the text is in the pipe when this returns.
  void log(std::uint64_t flag, std::int32_t context, const char* text, ns::Value tag = {}) {
    LogHub::log_level_flag_context_file_function_line_tag_format(false, LogLevelAll, flag, context, __FILE__,
                                                                 __func__, __LINE__, tag, "%s", text);
  }
  std::string take() {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(read_, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
  }
  // The coloured text of one line: what lies between the colour codes and the reset.
  ns::Ref<TTYLogger> logger;

 private:
  int read_ = -1;
  int write_ = -1;
};

TTYTerminal ansi256() {
  return TTYTerminal::fromValues(std::nullopt, "xterm-256color");
}

bool wrappedIn(const std::string& line, const std::string& prefix, const std::string& suffix) {
  return line.size() >= prefix.size() + suffix.size() && line.compare(0, prefix.size(), prefix) == 0 &&
         line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(TTYTerminalTest, ChosenFromConsoleColorsAndTerm) {
  using K = TTYTerminal::Kind;
  EXPECT_EQ(TTYTerminal::fromValues(std::nullopt, "xterm-256color").kind, K::Ansi256);
  EXPECT_EQ(TTYTerminal::fromValues(std::nullopt, "XTERM-256COLOR").kind, K::Ansi256);
  EXPECT_EQ(TTYTerminal::fromValues(std::nullopt, "xterm-color").kind, K::Ansi16);
  EXPECT_EQ(TTYTerminal::fromValues(std::nullopt, "xterm").kind, K::None);
  EXPECT_EQ(TTYTerminal::fromValues(std::nullopt, std::nullopt).kind, K::None);
  EXPECT_EQ(TTYTerminal::fromValues("YES", "xterm-256color").kind, K::DevelopmentConsole);
  EXPECT_EQ(TTYTerminal::fromValues("yes", "xterm-color").kind, K::Ansi16);  // exactly "YES"
}

TEST(TTYColorTableTest, NearestColours) {
  const auto& t16 = TTYColorTable::colors16();
  const auto& t256 = TTYColorTable::colors256();
  ASSERT_EQ(t16.colors.size(), 16u);
  ASSERT_EQ(t256.colors.size(), 240u);

  // Pure red.
  EXPECT_EQ(t16.codeIndexForColor(1, 0, 0), 9u);
  EXPECT_EQ(t16.foregroundCodes[9], "1;31m");
  EXPECT_EQ(t256.codeIndexForColor(1, 0, 0) + 16, 160u);
  EXPECT_EQ(t256.foregroundCodes[160 - 16], "38;5;160m");
  EXPECT_EQ(t256.backgroundCodes[160 - 16], "48;5;160m");

  // The default error and warning colours.
  auto idx16 = [&](int r, int g, int b) { return t16.codeIndexForColor(r / 255.0, g / 255.0, b / 255.0); };
  auto idx256 = [&](int r, int g, int b) {
    return t256.codeIndexForColor(r / 255.0, g / 255.0, b / 255.0) + 16;
  };
  EXPECT_EQ(idx16(214, 57, 30), 1u);
  EXPECT_EQ(t16.foregroundCodes[1], "31m");
  EXPECT_EQ(idx16(204, 121, 32), 3u);
  EXPECT_EQ(idx256(214, 57, 30), 124u);
  EXPECT_EQ(idx256(204, 121, 32), 130u);

  // Fixed points of the palette.
  struct Fixed {
    int palette, r, g, b;
  } fixed[] = {{16, 47, 49, 49},   {17, 60, 42, 144},    {21, 88, 51, 255},   {46, 27, 254, 30},
               {51, 42, 253, 252}, {124, 214, 57, 30},   {130, 204, 121, 32}, {160, 247, 56, 30},
               {196, 255, 61, 30}, {201, 255, 59, 255},  {226, 251, 252, 15}, {231, 254, 255, 255},
               {232, 52, 53, 53},  {244, 151, 152, 153}, {255, 240, 242, 242}};
  for (const auto& f : fixed) {
    const auto& c = t256.colors[static_cast<std::size_t>(f.palette - 16)];
    EXPECT_EQ((std::array<int, 3>{c[0], c[1], c[2]}), (std::array<int, 3>{f.r, f.g, f.b})) << f.palette;
    EXPECT_EQ(idx256(f.r, f.g, f.b), static_cast<std::size_t>(f.palette));
  }
}

TEST(TTYLoggerColorProfileTest, EscapeCodesForEachTerminal) {
  auto red = TTYColor::colorWithRed_green_blue(1, 0, 0);
  auto p16 = TTYLoggerColorProfile::initWithForegroundColor_backgroundColor_flag_context(
      red, TTYColor::colorWithBytes(0, 0, 0), 1, 80, TTYTerminal::fromValues(std::nullopt, "xterm-color"));
  ASSERT_TRUE(p16);
  EXPECT_EQ(p16->fgCodeIndex(), 9u);
  EXPECT_EQ(p16->fgCode(), ESC + "1;31m");
  EXPECT_EQ(p16->bgCode(), ESC + "40m");
  EXPECT_EQ(p16->resetCode(), ESC + "0m");
  EXPECT_EQ(p16->fg_r(), 255);

  auto dev = TTYLoggerColorProfile::initWithForegroundColor_backgroundColor_flag_context(
      TTYColor::colorWithBytes(214, 57, 30), std::nullopt, 1, TTYLoggerEveryContext,
      TTYTerminal::fromValues("YES", {}));
  ASSERT_TRUE(dev);
  EXPECT_EQ(dev->fgCode(), ESC + "fg214,57,30;");  // whole numbers survive the trip through 0-1
  EXPECT_EQ(dev->bgCode(), "");
  EXPECT_EQ(dev->resetCode(), ESC + ";");

  auto plain = TTYLoggerColorProfile::initWithForegroundColor_backgroundColor_flag_context(red, red, 1, 0,
                                                                                           TTYTerminal{});
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->fgCode() + plain->bgCode() + plain->resetCode(), "");
  EXPECT_NE(plain->description().find("mask:1 ctxt:0 fg:255,0,0 bg:255,0,0"), std::string::npos);
}

TEST(TTYLoggerOutput, ErrorAndWarningLinesWearTheDefaultColours) {
  HubCleanup cleanup;
  PipeConsole console(ansi256());
  console.logger->setColorsEnabled(true);
  EXPECT_TRUE(console.logger->colorsEnabled());

  console.log(LogFlagError, 80, "broken");
  std::string error = console.take();
  EXPECT_TRUE(wrappedIn(error, ESC + "38;5;124m", "broken\n" + ESC + "0m")) << error;

  console.log(LogFlagWarning, 80, "careful");
  EXPECT_TRUE(wrappedIn(console.take(), ESC + "38;5;130m", "careful\n" + ESC + "0m"));

  console.log(LogFlagInfo, 80, "plain");
  std::string info = console.take();
  EXPECT_EQ(info.find('\033'), std::string::npos) << info;

  console.logger->setColorsEnabled(false);
  console.log(LogFlagError, 80, "off");
  EXPECT_EQ(console.take().find('\033'), std::string::npos);
}

TEST(TTYLoggerOutput, LineHasTimeProcessAndThreadAndOneNewline) {
  logtest::ScopedTimeZone utc("UTC");
  HubCleanup cleanup;
  PipeConsole console(TTYTerminal{});
  auto r = ns::make<LogMessage>("Started.", 1, 1, 0, "", "", 0, ns::Value(), 0,
                                ns::Date::dateWithTimeIntervalSince1970(1398951907.123));
  LogHub::log_message(false, r);
  std::string expected = "2014-05-01 13:45:07:123 " + console.logger->appName() + "[" +
                         std::to_string(::getpid()) + ":" + r->threadID() + "] Started.\n";
  EXPECT_EQ(console.take(), expected);

  console.log(LogFlagInfo, 0, "ends with newline\n");
  std::string line = console.take();
  EXPECT_EQ(line.substr(line.size() - 19), " ends with newline\n");
}

TEST(TTYLoggerOutput, ContextProfileBeatsEveryContextProfileInEitherOrder) {
  HubCleanup cleanup;
  for (bool contextFirst : {false, true}) {
    PipeConsole console(ansi256());
    auto red = TTYColor::colorWithRed_green_blue(1, 0, 0);  // palette 160
    auto green = TTYColor::colorWithBytes(27, 254, 30);     // palette 46
    if (contextFirst)
      console.logger->setForegroundColor_backgroundColor_forFlag_context(green, std::nullopt, 1, 80);
    console.logger->setForegroundColor_backgroundColor_forFlag(red, std::nullopt, 1);
    if (!contextFirst)
      console.logger->setForegroundColor_backgroundColor_forFlag_context(green, std::nullopt, 1, 80);
    console.logger->setColorsEnabled(true);

    console.log(LogFlagError, 80, "ctx80");
    EXPECT_TRUE(wrappedIn(console.take(), ESC + "38;5;46m", "ctx80\n" + ESC + "0m")) << contextFirst;
    console.log(LogFlagError, 0, "ctx0");
    EXPECT_TRUE(wrappedIn(console.take(), ESC + "38;5;160m", "ctx0\n" + ESC + "0m")) << contextFirst;
    // Flag profiles exist, so switching on loaded no defaults: warnings stay plain.
    console.log(LogFlagWarning, 0, "warn");
    EXPECT_EQ(console.take().find('\033'), std::string::npos);
  }
}

TEST(TTYLoggerOutput, ClearingByFlagUsesContextZeroUnlessTold) {
  HubCleanup cleanup;
  PipeConsole console(ansi256());
  console.logger->setForegroundColor_backgroundColor_forFlag(TTYColor::colorWithRed_green_blue(1, 0, 0),
                                                             std::nullopt, 1);
  console.logger->setColorsEnabled(true);
  console.logger->clearColorsForFlag(1);  // context 0: the every-context profile stays
  console.log(LogFlagError, 3, "still red");
  EXPECT_TRUE(wrappedIn(console.take(), ESC + "38;5;160m", ESC + "0m"));
  console.logger->clearColorsForFlag_context(1, TTYLoggerEveryContext);
  console.log(LogFlagError, 3, "plain");
  EXPECT_EQ(console.take().find('\033'), std::string::npos);
}

TEST(TTYLoggerOutput, TagProfileWinsAndAppliesWithoutFlagProfiles) {
  HubCleanup cleanup;
  PipeConsole console(TTYTerminal::fromValues(std::nullopt, "xterm-color"));
  console.logger->setForegroundColor_backgroundColor_forTag(
      TTYColor::colorWithBytes(73, 46, 225), TTYColor::colorWithBytes(203, 204, 205), ns::Value("net"));
  console.logger->setColorsEnabled(true);  // loads the defaults: no flag profile existed
  console.log(LogFlagError, 0, "tagged", ns::Value("net"));
  EXPECT_TRUE(wrappedIn(console.take(), ESC + "34m" + ESC + "47m", "tagged\n" + ESC + "0m"));
  console.log(LogFlagError, 0, "untagged");
  EXPECT_TRUE(wrappedIn(console.take(), ESC + "31m", "untagged\n" + ESC + "0m"));

  console.logger->clearColorsForTag(ns::Value("net"));
  console.log(LogFlagInfo, 0, "tag gone", ns::Value("net"));
  EXPECT_EQ(console.take().find('\033'), std::string::npos);
  console.logger->clearAllColors();
  console.log(LogFlagError, 0, "all gone");
  EXPECT_EQ(console.take().find('\033'), std::string::npos);
}

TEST(TTYLoggerOutput, CustomFormattedTextIsWrittenAsItStands) {
  logtest::ScopedTimeZone utc("UTC");
  HubCleanup cleanup;
  PipeConsole console(TTYTerminal{});
  console.logger->setLogFormatter(ns::make<DispatchQueueLogFormatter>());
  auto r = ns::make<LogMessage>("m", 1, 1, 0, "", "", 0, ns::Value(), 0,
                                ns::Date::dateWithTimeIntervalSince1970(1398951907.123));
  LogHub::log_message(false, r);
  EXPECT_EQ(console.take(), "2014-05-01 13:45:07:123 [main] m\n");

  console.logger->setAutomaticallyAppendNewlineForCustomFormatters(false);
  LogHub::log_message(false, r);
  EXPECT_EQ(console.take(), "2014-05-01 13:45:07:123 [main] m");
}

// A formatter that passes the record's own text is not a custom one: the prefix stays.
class PassThrough : public LogFormatter {
 public:
  LogText formatLogMessage(const ns::Ref<LogMessage>& m) override {
    return m->context() == 9 ? nullptr : m->messageText();
  }
};

TEST(TTYLoggerOutput, PassThroughFormatterKeepsThePrefixAndNoTextSkipsTheRecord) {
  HubCleanup cleanup;
  PipeConsole console(TTYTerminal{});
  console.logger->setLogFormatter(ns::make<PassThrough>());
  console.log(LogFlagInfo, 0, "kept");
  std::string line = console.take();
  EXPECT_NE(line.find("[" + std::to_string(::getpid()) + ":"), std::string::npos) << line;
  console.log(LogFlagInfo, 9, "skipped");
  EXPECT_EQ(console.take(), "");
  // Text that is not UTF-8 cannot be converted: nothing is written.
  console.log(LogFlagInfo, 0, "bad \xC3 byte");
  EXPECT_EQ(console.take(), "");
}

// Answers the record's text as a new string: custom formatted, without the prefix.
class TextOnly : public LogFormatter {
 public:
  LogText formatLogMessage(const ns::Ref<LogMessage>& m) override {
    return std::make_shared<const std::string>(m->message());
  }
};

TEST(TTYLoggerOutput, ControlCharactersInTheTextAreShownNotActedOnByATerminal) {
  HubCleanup cleanup;
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(terminal, &raw), 0);
  ::cfmakeraw(&raw);
  ASSERT_EQ(::tcsetattr(terminal, TCSANOW, &raw), 0);
  auto logger = TTYLogger::loggerWithFileDescriptor_terminal(terminal, ansi256());
  logger->setLogFormatter(ns::make<TextOnly>());
  LogHub::addLogger(logger);
  // A window title, a screen clear, a bell, a carriage return, a C1 escape and DEL; line feeds and
  // tabs stay.
  const std::string hostile =
      "a\033]0;owned\007b\033[2Jc\rd\xC2\x9B"
      "31me\x7F\tf\nnext é";
  LogHub::log_level_flag_context_file_function_line_tag_format(false, LogLevelAll, LogFlagInfo, 0, __FILE__,
                                                               __func__, __LINE__, {}, "%@", hostile);
  LogHub::removeLogger(logger);
  LogHub::flushLog();
  std::string out;
  char buf[4096];
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  EXPECT_EQ(out, "a\\x1B]0;owned\\x07b\\x1B[2Jc\\x0Dd\\u009B31me\\x7F\tf\nnext é\n");
  ::close(terminal);
  ::close(master);

  // Written elsewhere, the text stays as it was logged.
  PipeConsole console(TTYTerminal{});
  console.logger->setLogFormatter(ns::make<TextOnly>());
  console.log(LogFlagInfo, 0, hostile.c_str());
  EXPECT_EQ(console.take(), hostile + "\n");
}

TEST(TTYLoggerShared, OneInstanceOnStandardErrorWithItsQueueName) {
  auto shared = TTYLogger::sharedInstance();
  EXPECT_EQ(shared, TTYLogger::sharedInstance());
  EXPECT_EQ(shared->loggerQueue()->label(), "logging.hub.ttyLogger");
  EXPECT_FALSE(shared->appName().empty());
  EXPECT_EQ(shared->processID(), std::to_string(::getpid()));
}

// The shared logger reads "TERM" and "ConsoleColors" once, in a fresh process.
TEST(TTYLoggerSharedDeathTest, TheSharedLoggerColoursStandardErrorAsTheEnvironmentSays) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("TERM", "xterm-256color", 1);
        ::unsetenv("ConsoleColors");
        auto shared = TTYLogger::sharedInstance();
        ::setenv("TERM", "xterm", 1);  // too late: decided already
        shared->setColorsEnabled(true);
        LogHub::addLogger(shared);
        LogHub::log_level_flag_context_file_function_line_tag_format(
            false, 3, LogFlagError, 80, __FILE__, __func__, __LINE__, {}, "%s", "shared red");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "\x1b\\[38;5;124m[^\n]*shared red");
}

}  // namespace

// The console logger and its tables are used while the process exits. These run in a child
// process so that its exit can be watched.
namespace {

// Logs through the console logger from a destructor that runs after those of every static made
// later than it.
struct LogsAtExit {
  ~LogsAtExit() {
    auto record = ns::make<LogMessage>("logged at exit", LogLevelAll, LogFlagError, 0, "/x/Exit.cpp", "f", 1);
    TTYLogger::sharedInstance()->logMessage(record);
    TTYLogger::codeIndexForColor(TTYColor::colorWithBytes(214, 57, 30));
  }
};

}  // namespace

// Runs in the child started by the next test: the object that logs at exit is made before the
// console logger's process-wide state, so at exit that state would go first.
TEST(TTYLoggerExitChild, DISABLED_LogsWhileTheProcessExits) {
  static LogsAtExit logsAtExit;
  TTYLogger::sharedInstance()->setColorsEnabled(true);
  TTYLogger::codeIndexForColor(TTYColor::colorWithBytes(1, 2, 3));
  EXPECT_TRUE(TTYLogger::sharedInstance()->colorsEnabled());
}

TEST(TTYLoggerExit, TheConsoleLoggerOutlivesTheStaticsAtExit) {
  pltest::Sandbox sandbox;
  sandbox.set("TERM", "xterm-256color");
  int status = pltest::runChildTest("TTYLoggerExitChild.DISABLED_LogsWhileTheProcessExits");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's exit used a destroyed console logger";
}
