#pragma once
// Runs one test of the running test executable in a child process (usually a DISABLED_ test that
// the parent arranges), with the parent's environment, and answers its wait status; -1 when the
// child could not be started. For behaviour that only shows across a restart or at process exit.
#include <sys/types.h>

#include <string>

namespace pltest {

int runChildTest(const std::string& gtestFilter);

// The same child, handed back while it runs, for tests that act on it meanwhile (send it a
// signal, say). A child still running when the object goes is killed and waited for.
//
//   pltest::RunningChildTest child("Suite.DISABLED_Child");
//   ... wait for what the child does ...
//   child.kill(SIGKILL);
//   int status = child.wait();
class RunningChildTest {
 public:
  explicit RunningChildTest(const std::string& gtestFilter);
  ~RunningChildTest();
  RunningChildTest(const RunningChildTest&) = delete;
  RunningChildTest& operator=(const RunningChildTest&) = delete;

  // The child's process id; -1 when it could not be started.
  pid_t pid() const { return pid_; }
  // Sends the signal; false when the child is not running.
  bool kill(int signal);
  // Waits for the child's end and answers its wait status (-1 when there is no child).
  int wait();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

}  // namespace pltest
