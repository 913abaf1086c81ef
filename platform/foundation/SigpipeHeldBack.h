#pragma once
// Holds SIGPIPE back on the calling thread for its lifetime and takes off again one raised
// meanwhile, so that a write the call cannot mark MSG_NOSIGNAL (write, sendfile) to a pipe or
// socket whose reader has gone fails with EPIPE instead of ending the process, the signal's
// default. errno is kept as the guarded call left it.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace ns {

class SigpipeHeldBack {
 public:
  SigpipeHeldBack() {
    sigemptyset(&pipeOnly_);
    sigaddset(&pipeOnly_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly_, &old_);
  }
  ~SigpipeHeldBack() {
    const int error = errno;
    // Pending while it was not held back before, it can only be one raised meanwhile.
    if (!sigismember(&old_, SIGPIPE)) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE)) {
        timespec zero{};
        sigtimedwait(&pipeOnly_, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    errno = error;
  }
  SigpipeHeldBack(const SigpipeHeldBack&) = delete;
  SigpipeHeldBack& operator=(const SigpipeHeldBack&) = delete;

 private:
  sigset_t pipeOnly_;
  sigset_t old_;
};

}  // namespace ns
