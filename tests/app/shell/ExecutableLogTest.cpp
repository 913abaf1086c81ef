// Where the real `pelorin --headless` writes its log lines: every one to the system log, on
// standard error only the warnings and errors, unless PELORIN_VERBOSE=1 asks for all. The child
// runs in a mount namespace of its own whose /dev/log is a datagram socket this test reads, so
// that what reaches the system log is seen without a system logger on the machine.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/app/shell/ExecutableTestSupport.h"

namespace {

using executable_test::kWait;
using executable_test::Pelorin;

// A datagram socket standing in for the system logger: every message sent to it, as syslog(3)
// sends them ("<priority>timestamp tag[pid]: message").
class SyslogReceiver {
 public:
  explicit SyslogReceiver(const std::filesystem::path& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.string().size() >= sizeof address.sun_path) return;
    std::strcpy(address.sun_path, path.c_str());
    bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~SyslogReceiver() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }
  const std::filesystem::path& path() const { return path_; }

  // The messages received so far, oldest first.
  const std::vector<std::string>& messages() {
    char buffer[8192];
    for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) messages_.emplace_back(buffer, n);
    return messages_;
  }
  // The priority of the first message that ends with ": " + `text`, -1 when none has.
  int priorityOf(const std::string& text) {
    const std::string tail = ": " + text;
    for (const auto& message : messages())
      if (message.size() > tail.size() &&
          message.compare(message.size() - tail.size(), tail.size(), tail) == 0)
        return std::atoi(message.c_str() + 1);
    return -1;
  }
  int count(const std::string& fragment) {
    int n = 0;
    for (const auto& message : messages()) n += message.find(fragment) != std::string::npos;
    return n;
  }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> messages_;
};

// The command line that runs a program in a mount namespace whose /dev holds what the machine's
// does, but whose /dev/log is `logSocket`. Root needs only the mount namespace; anybody else
// asks for a user namespace too.
std::vector<std::string> withPrivateSystemLog(const std::filesystem::path& scratch,
                                              const std::filesystem::path& logSocket) {
  std::vector<std::string> command{"unshare"};
  if (::geteuid() != 0) command.insert(command.end(), {"--user", "--map-root-user"});
  command.insert(command.end(), {"--mount", "--propagation", "private", "--", "sh", "-c",
                                 "mkdir -p \"$1\" && mount --rbind /dev \"$1\" && mount -t tmpfs -o mode=755 "
                                 "tmpfs /dev && for entry in \"$1\"/*; do ln -s \"$entry\" /dev/; done && "
                                 "ln -s \"$2\" /dev/log && shift 2 && exec \"$@\"",
                                 "sh", (scratch / "dev").string(), logSocket.string()});
  return command;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What one headless run wrote to the system log and to its standard error.
struct LoggedRun {
  std::string output;  // standard output and error
  int status = -1;
};

constexpr int kNotice = 8 + 5, kWarning = 8 + 4;  // LOG_USER with LOG_NOTICE, LOG_WARNING

// Diagnostic lines every headless start logs, none of them a warning or an error.
const std::vector<std::string> kStartLines{
    "SourceList: couldn't map method controlTextDidChange: from "
    "NSOutlineViewDelegate",
    "REFRESH!!!!!!"};
constexpr char kThreadLine[] = "ADD THREAD = ";

class PelorinLog : public ::testing::Test {
 protected:
  void SetUp() override {
    executable_test::quietEndpoints(sandbox_, sink_);
    sandbox_.set("PELORIN_VERBOSE", std::nullopt);
    // A settings store that is no file: a warning the run goes on after.
    std::filesystem::create_directories(sandbox_.configHome() / "com.ordel42.zeravozezi.plist");
    // Where namespaces cannot be made here (no unshare, or no user namespaces for a user), the
    // launcher fails before the program it runs: `true` in its place tells.
    const auto scratch = sandbox_.temporaryFolder("probe");
    auto launcher = withPrivateSystemLog(scratch, scratch / "log");
    launcher.push_back("true");
    auto status = Pelorin({}, "/dev/null", launcher).waitForExit();
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
      GTEST_SKIP() << "no mount namespace of its own can be made here";
  }

  // Starts `pelorin --headless` with its own system log, waits for the lines of its start there,
  // then ends it with SIGTERM.
  LoggedRun run(const std::string& name) {
    const auto scratch = sandbox_.temporaryFolder(name);
    SyslogReceiver syslog(scratch / "log");
    EXPECT_TRUE(syslog.bound()) << syslog.path();
    const std::string output = sandbox_.path(name + ".log");
    Pelorin pelorin({"--headless"}, output, withPrivateSystemLog(scratch, syslog.path()));
    EXPECT_GT(pelorin.pid(), 0);
    const bool started = pltest::pumpUntil(
        [&] {
          return pelorin.ended() ||
                 (syslog.count("SourceList: couldn't map method") == 6 && syslog.count(kThreadLine) >= 1 &&
                  syslog.count("REFRESH!!!!!!") >= 1 && syslog.count("is no regular file") >= 1);
        },
        kWait);
    EXPECT_TRUE(started && !pelorin.ended()) << fileText(output);
    pelorin.signal(SIGTERM);
    LoggedRun result;
    if (auto status = pelorin.waitForExit()) result.status = *status;
    result.output = fileText(output);
    for (const auto& line : kStartLines) EXPECT_EQ(syslog.priorityOf(line), kNotice) << line;
    EXPECT_EQ(syslog.priorityOf(
                  "UserDefaults: " + (sandbox_.configHome() / "com.ordel42.zeravozezi.plist").string() +
                  " is no regular file; it is left as it is and changes are kept in memory for this run"),
              kWarning);
    return result;
  }

  pltest::Sandbox sandbox_;
  pltest::FakeServer sink_;
};

TEST_F(PelorinLog, ByDefaultOnlyWarningsReachStandardErrorAndEveryLineTheSystemLog) {
  const LoggedRun quiet = run("quiet");
  EXPECT_TRUE(WIFEXITED(quiet.status) && WEXITSTATUS(quiet.status) == 0) << quiet.status << "\n"
                                                                         << quiet.output;
  for (const auto& line : kStartLines) EXPECT_EQ(quiet.output.find(line), std::string::npos) << quiet.output;
  EXPECT_EQ(quiet.output.find(kThreadLine), std::string::npos) << quiet.output;
  EXPECT_EQ(quiet.output.find("expand! = "), std::string::npos) << quiet.output;
  EXPECT_NE(quiet.output.find(
                "is no regular file; it is left as it is and changes are kept in memory for this run"),
            std::string::npos)
      << quiet.output;
}

TEST_F(PelorinLog, PelorinVerboseSendsEveryLineToStandardErrorToo) {
  sandbox_.set("PELORIN_VERBOSE", "1");
  const LoggedRun verbose = run("verbose");
  EXPECT_TRUE(WIFEXITED(verbose.status) && WEXITSTATUS(verbose.status) == 0) << verbose.status;
  for (const auto& line : kStartLines)
    EXPECT_NE(verbose.output.find("] " + line + "\n"), std::string::npos) << line;
  std::size_t maps = 0;
  for (auto at = verbose.output.find("SourceList: couldn't map method"); at != std::string::npos;
       at = verbose.output.find("SourceList: couldn't map method", at + 1))
    ++maps;
  EXPECT_EQ(maps, 6u) << verbose.output;
  EXPECT_NE(verbose.output.find(kThreadLine), std::string::npos) << verbose.output;
  EXPECT_NE(verbose.output.find(
                "is no regular file; it is left as it is and changes are kept in memory for this run"),
            std::string::npos);
}

}  // namespace
