#include "platform/testing/ChildTest.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <vector>

extern char** environ;

namespace pltest {

namespace {

pid_t spawnChildTest(const std::string& gtestFilter) {
  std::vector<std::string> args = {"child-test", "--gtest_also_run_disabled_tests",
                                   "--gtest_filter=" + gtestFilter};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

int runChildTest(const std::string& gtestFilter) {
  pid_t pid = spawnChildTest(gtestFilter);
  return pid < 0 ? -1 : waitFor(pid);
}

RunningChildTest::RunningChildTest(const std::string& gtestFilter) : pid_(spawnChildTest(gtestFilter)) {}

RunningChildTest::~RunningChildTest() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

bool RunningChildTest::kill(int signal) {
  return pid_ > 0 && !reaped_ && ::kill(pid_, signal) == 0;
}

int RunningChildTest::wait() {
  if (pid_ <= 0) return -1;
  if (!reaped_) {
    status_ = waitFor(pid_);
    reaped_ = true;
  }
  return status_;
}

}  // namespace pltest
