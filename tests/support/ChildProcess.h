#pragma once
// A child process a test started (the real `pelorin`, mostly): its status once it ended, waited
// for with the run loop pumped, and SIGKILL if it still runs when this goes.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <optional>

#include "platform/testing/Pump.h"

namespace testsupport {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int number) { ::kill(pid_, number); }
  // Whether it has ended (its wait status is then known).
  bool ended() {
    int status = 0;
    if (!status_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_.has_value();
  }
  // The wait status once it ended within `seconds`, nullopt past them.
  std::optional<int> waitForExit(double seconds = 60) {
    pltest::pumpUntil([&] { return ended(); }, seconds);
    return status_;
  }

 protected:
  pid_t pid_ = -1;

 private:
  std::optional<int> status_;
};

}  // namespace testsupport
