#include "platform/foundation/Task.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/Exception.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NotificationCenter.h"

extern char** environ;

namespace ns {
namespace {

// Straight system calls: the C library's declarations of these are not usable from C++ here.
int openPidfd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}
int signalPidfd(int pidfd, int sig) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

int childEnd(const Task::Stream& stream, int which) {
  if (auto* pipe = std::get_if<Ref<Pipe>>(&stream); pipe && *pipe) {
    return which == 0 ? (*pipe)->fileHandleForReading()->fileDescriptor()
                      : (*pipe)->fileHandleForWriting()->fileDescriptor();
  }
  if (auto* handle = std::get_if<Ref<FileHandle>>(&stream); handle && *handle)
    return (*handle)->fileDescriptor();
  return -1;
}

}  // namespace

Task::~Task() {
  if (exitSource_) exitSource_->cancel();
  std::lock_guard<std::mutex> lock(mutex_);
  // A child that has ended is collected; one still running is left to run.
  if (launched_ && !exited_) {
    int status = 0;
    ::waitpid(pid_, &status, WNOHANG);
  }
  if (pidfd_ >= 0) ::close(pidfd_);
}

Ref<Task> Task::launchedTaskWithLaunchPath_arguments(const std::string& path,
                                                     const std::vector<std::string>& arguments) {
  auto task = make<Task>();
  task->setLaunchPath(path);
  task->setArguments(arguments);
  task->launch();
  return task;
}

void Task::launch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (launched_)
      Exception::raise(NSInvalidArgumentException, "*** -[NSConcreteTask launch]: task already launched");
  }
  Error error(NSCocoaErrorDomain, 0);
  if (!launchAndReturnError(&error)) {
    Exception::raise(NSInvalidArgumentException, "launch path not accessible");
  }
}

bool Task::launchAndReturnError(Error* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (launched_) {
    setError(error, fileError(EBUSY, launchPath_, false));
    return false;
  }
  if (launchPath_.empty() || ::access(launchPath_.c_str(), X_OK) != 0) {
    int err = launchPath_.empty() ? ENOENT : errno;
    // A missing program is "no such file" (4), as the platform answers; other causes as reads.
    setError(error, fileError(err, launchPath_, err == ENOENT || err == ENOTDIR));
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int i = 0; i < 3; ++i) {
    int fd = childEnd(stdio_[i], i);
    if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, i);
  }
  if (!currentDirectory_.empty()) posix_spawn_file_actions_addchdir_np(&actions, currentDirectory_.c_str());

  // The child starts with default signal handling and nothing blocked, whatever this process set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int sig = 1; sig < SIGRTMIN; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaddset(&defaults, sig);
  }
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argStrings;
  argStrings.push_back(launchPath_);
  argStrings.insert(argStrings.end(), arguments_.begin(), arguments_.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  char** env = environ;
  if (environment_) {
    for (const auto& [k, v] : *environment_) envStrings.push_back(k + "=" + v);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    env = envp.data();
  }

  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, launchPath_.c_str(), &actions, &attr, argv.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    setError(
        error,
        fileError(rc, rc == ENOENT && !currentDirectory_.empty() ? currentDirectory_ : launchPath_, false));
    return false;
  }
  launched_ = true;
  pid_ = pid;
  pidfd_ = openPidfd(pid);
  watchForExit();

  // The child's ends of our pipes belong to it now; holding them would keep the pipes open.
  for (int i = 0; i < 3; ++i) {
    if (auto* pipe = std::get_if<Ref<Pipe>>(&stdio_[i]); pipe && *pipe) {
      (i == 0 ? (*pipe)->fileHandleForReading() : (*pipe)->fileHandleForWriting())->closeFile();
    }
  }
  return true;
}

int Task::processIdentifier() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pid_;
}

bool Task::reap(bool block) {
  int pidfd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (exited_) return true;
    if (!launched_) return false;
    pidfd = pidfd_;
  }
  if (block && pidfd >= 0) {
    struct pollfd p {
      pidfd, POLLIN, 0
    };
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (exited_) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, (block && pidfd < 0) ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) {
    exited_ = true;
    if (WIFSIGNALED(status)) {
      reason_ = TaskTerminationReasonUncaughtSignal;
      status_ = WTERMSIG(status);
    } else {
      reason_ = TaskTerminationReasonExit;
      status_ = WEXITSTATUS(status);
    }
    return true;
  }
  if (r < 0 && errno == ECHILD) {
    // Someone else collected the child; its status is lost.
    exited_ = true;
    reason_ = TaskTerminationReasonExit;
    status_ = -1;
    return true;
  }
  return false;
}

bool Task::isRunning() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!launched_) return false;
  }
  return !reap(false);
}

void Task::waitUntilExit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!launched_) return;
  }
  while (!reap(true)) {
  }
}

int Task::terminationStatus() {
  if (!reap(false)) {
    std::lock_guard<std::mutex> lock(mutex_);
    Exception::raise(NSInvalidArgumentException,
                     launched_ ? "*** -[NSConcreteTask terminationStatus]: task still running"
                               : "*** -[NSConcreteTask terminationStatus]: task not launched");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

TaskTerminationReason Task::terminationReason() {
  if (!reap(false)) {
    std::lock_guard<std::mutex> lock(mutex_);
    Exception::raise(NSInvalidArgumentException,
                     launched_ ? "*** -[NSConcreteTask terminationReason]: task still running"
                               : "*** -[NSConcreteTask terminationReason]: task not launched");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return reason_;
}

bool Task::signal(int sig) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!launched_ || exited_) return false;
  // Through the pidfd, the signal can only reach our own child, even if its id were reused.
  if (pidfd_ >= 0) return signalPidfd(pidfd_, sig) == 0;
  return ::kill(pid_, sig) == 0;
}

void Task::setTerminationHandler(TerminationHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  terminationHandler_ = std::move(handler);
}

// Called with the lock held, right after the launch.
void Task::watchForExit() {
  if (pidfd_ < 0) return;
  auto self = std::static_pointer_cast<Task>(weak_from_this().lock());
  if (!self) return;  // a task not owned by a Ref is only waited for
  // A pidfd becomes readable when the process ends. The handler holds the task until then.
  exitSource_ = dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(pidfd_), 0,
                                       dispatch::globalQueue());
  exitSource_->setEventHandler([self] { self->reportExit(); });
  exitSource_->resume();
}

void Task::reportExit() {
  if (!reap(false)) return;
  TerminationHandler handler;
  Ref<dispatch::Source> source;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reported_) return;
    reported_ = true;
    handler = std::move(terminationHandler_);
    source = std::move(exitSource_);
  }
  // Cancelling releases the event handler and with it the task's hold on itself.
  if (source) source->cancel();
  auto self = std::static_pointer_cast<Task>(shared_from_this());
  if (handler) handler(self);
  NotificationCenter::defaultCenter()->postNotificationName_object(NSTaskDidTerminateNotification, self);
}

void Task::terminate() {
  signal(SIGTERM);
}
void Task::interrupt() {
  signal(SIGINT);
}
bool Task::suspend() {
  return signal(SIGSTOP);
}
bool Task::resume() {
  return signal(SIGCONT);
}

}  // namespace ns
