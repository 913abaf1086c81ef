#include "platform/system/Opener.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Task.h"
#include "platform/system/SystemServiceSettings.h"

extern char** environ;

namespace sys {
namespace {

bool isExecutableFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

// What the termination handler hands back to the waiting caller.
struct Outcome {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  ns::TaskTerminationReason reason = ns::TaskTerminationReasonExit;
  int status = 0;
};

}  // namespace

std::optional<std::string> resolveExecutable(const std::string& command,
                                             const std::optional<std::string>& searchPath) {
  if (command.empty()) return std::nullopt;
  if (command.find('/') != std::string::npos) {
    if (isExecutableFile(command)) return command;
    return std::nullopt;
  }
  if (!searchPath) return std::nullopt;
  std::string::size_type start = 0;
  while (start <= searchPath->size()) {
    auto end = searchPath->find(':', start);
    if (end == std::string::npos) end = searchPath->size();
    std::string folder = searchPath->substr(start, end - start);
    // An empty entry means the current folder; an opener is never taken from there.
    if (!folder.empty() && folder[0] == '/') {
      std::string candidate = folder + (folder.back() == '/' ? "" : "/") + command;
      if (isExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<std::string> resolveOpener() {
  const char* path = std::getenv("PATH");
  return resolveExecutable(openerCommand(), path ? std::optional<std::string>(path) : std::nullopt);
}

ns::Error openerNotFoundError(const std::string& what) {
  return ns::Error::withDescription(ns::NSOSStatusErrorDomain, kOpenerNotFoundError,
                                    "No application was found to open " + what + ".");
}

std::map<std::string, std::string> environmentSnapshot() {
  std::map<std::string, std::string> result;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string text(*entry);
    auto eq = text.find('=');
    if (eq != std::string::npos) result.emplace(text.substr(0, eq), text.substr(eq + 1));
  }
  return result;
}

bool runOpener(const std::string& program, const std::string& argument, double failureWindow,
               ns::Error* error, std::optional<std::map<std::string, std::string>> environment) {
  auto outcome = std::make_shared<Outcome>();
  auto task = ns::make<ns::Task>();
  task->setEnvironment(std::move(environment));
  task->setLaunchPath(program);
  task->setArguments({argument});
  task->setStandardInput(ns::FileHandle::fileHandleWithNullDevice());
  // Set before the launch, so that an opener that ends at once is not missed.
  task->setTerminationHandler([outcome](const ns::Ref<ns::Task>& ended) {
    std::lock_guard<std::mutex> lock(outcome->mutex);
    outcome->done = true;
    outcome->reason = ended->terminationReason();
    outcome->status = ended->terminationStatus();
    outcome->ended.notify_all();
  });
  ns::Error launchError;
  if (!task->launchAndReturnError(&launchError)) {
    ns::setError(error, openerNotFoundError("\"" + argument + "\"").withUnderlyingError(launchError));
    return false;
  }
  std::unique_lock<std::mutex> lock(outcome->mutex);
  // Real time: this waits for a real process.
  outcome->ended.wait_for(lock, std::chrono::duration<double>(failureWindow), [&] { return outcome->done; });
  if (!outcome->done) return true;
  if (outcome->reason == ns::TaskTerminationReasonExit && outcome->status == 0) return true;
  std::string how = outcome->reason == ns::TaskTerminationReasonExit
                        ? "exited with status " + std::to_string(outcome->status)
                        : "was ended by signal " + std::to_string(outcome->status);
  ns::setError(error, ns::Error::withDescription(ns::NSOSStatusErrorDomain, kOpenerFailedError,
                                                 "The opener " + program + " " + how + "."));
  return false;
}

}  // namespace sys
