#pragma once
// A child process: launch path, arguments, environment, working folder and standard streams,
// started with posix_spawn. A standard stream may be a Pipe (the child gets the far end, which
// the parent then closes, so reading the near end ends when the child is done) or a FileHandle;
// unset streams are inherited. The launch path is used as given, without a search of PATH.
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Pipe.h"

namespace ns {

// Posted (object: the task) on a background queue once a launched task has ended.
inline constexpr char NSTaskDidTerminateNotification[] = "NSTaskDidTerminateNotification";

enum TaskTerminationReason : long {
  TaskTerminationReasonExit = 1,
  TaskTerminationReasonUncaughtSignal = 2,
};

class Task : public Object {
 public:
  using Stream = std::variant<std::monostate, Ref<Pipe>, Ref<FileHandle>>;

  Task() = default;
  ~Task() override;

  // Launches at once; raises like launch().
  static Ref<Task> launchedTaskWithLaunchPath_arguments(const std::string& path,
                                                        const std::vector<std::string>& arguments);

  const std::string& launchPath() const { return launchPath_; }
  void setLaunchPath(std::string path) { launchPath_ = std::move(path); }
  const std::vector<std::string>& arguments() const { return arguments_; }
  void setArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
  // nullopt (the default) passes this process's environment on; a map replaces it entirely.
  const std::optional<std::map<std::string, std::string>>& environment() const { return environment_; }
  void setEnvironment(std::optional<std::map<std::string, std::string>> environment) {
    environment_ = std::move(environment);
  }
  // Empty: this process's current folder.
  const std::string& currentDirectoryPath() const { return currentDirectory_; }
  void setCurrentDirectoryPath(std::string path) { currentDirectory_ = std::move(path); }

  void setStandardInput(Stream stream) { stdio_[0] = std::move(stream); }
  void setStandardOutput(Stream stream) { stdio_[1] = std::move(stream); }
  void setStandardError(Stream stream) { stdio_[2] = std::move(stream); }
  const Stream& standardInput() const { return stdio_[0]; }
  const Stream& standardOutput() const { return stdio_[1]; }
  const Stream& standardError() const { return stdio_[2]; }

  // Raises NSInvalidArgumentException ("launch path not accessible") when the program cannot be
  // started, and NSInvalidArgumentException when already launched.
  void launch();
  // False with an error (NSCocoaErrorDomain, with the POSIX error underneath) instead.
  bool launchAndReturnError(Error* error);

  int processIdentifier() const;
  bool isRunning();
  // Blocks until the child has ended.
  void waitUntilExit();
  // The exit status, or the signal number for an uncaught signal. Raises
  // NSInvalidArgumentException while the task runs or before launch.
  int terminationStatus();
  TaskTerminationReason terminationReason();

  // Runs once on a background queue when the task has ended, before
  // NSTaskDidTerminateNotification is posted. A running task keeps itself alive until then.
  using TerminationHandler = std::function<void(const Ref<Task>&)>;
  void setTerminationHandler(TerminationHandler handler);

  // SIGTERM, SIGINT, SIGSTOP and SIGCONT; false when the task is not running.
  void terminate();
  void interrupt();
  bool suspend();
  bool resume();

 private:
  std::string launchPath_;
  std::vector<std::string> arguments_;
  std::optional<std::map<std::string, std::string>> environment_;
  std::string currentDirectory_;
  Stream stdio_[3];

  mutable std::mutex mutex_;
  int pid_ = 0;
  int pidfd_ = -1;
  bool launched_ = false;
  bool exited_ = false;
  int status_ = 0;
  TaskTerminationReason reason_ = TaskTerminationReasonExit;
  TerminationHandler terminationHandler_;
  Ref<dispatch::Source> exitSource_;
  bool reported_ = false;

  void watchForExit();
  void reportExit();

  // Collects the exit status if the child has ended (waiting for it when `block`).
  bool reap(bool block);
  bool signal(int sig);
};

}  // namespace ns
