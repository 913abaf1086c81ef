#pragma once
// The real `pelorin` as a child process of the executable's tests: started in the environment of
// the moment (the sandbox's), its standard output and error in one file, or each in its own.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/Sandbox.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LaunchEnvironment.h"

extern char** environ;

namespace executable_test {

constexpr double kWait = 60;

using testsupport::quietEndpoints;

// `pelorin` with the arguments; `launcher`, when given, is the command line that runs it, the
// executable's path and the arguments appended; `errors`, when given, takes its standard error
// apart from its output.
class Pelorin : public testsupport::ChildProcess {
 public:
  explicit Pelorin(std::vector<std::string> arguments, const std::string& output = "/dev/null",
                   std::vector<std::string> launcher = {}, const std::optional<std::string>& errors = {}) {
    std::vector<std::string> all = std::move(launcher);
    all.push_back(PELORIN_EXECUTABLE);
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errors)
      posix_spawn_file_actions_addopen(&actions, 2, errors->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  std::optional<int> waitForExit() { return ChildProcess::waitForExit(kWait); }
};

inline std::string cacheBase(const pltest::Sandbox& sandbox) {
  return (sandbox.cacheHome() / "com.ordel42.zeravozezi").string();
}

// Whether the child has made its folders and its database.
inline bool launched(const pltest::Sandbox& sandbox) {
  namespace fs = std::filesystem;
  const std::string base = cacheBase(sandbox);
  return fs::exists(sandbox.dataHome() / "Pelorin/pelorin_web.db") && fs::is_directory(base + "/Cache") &&
         fs::is_directory(base + "/.tmp") && fs::is_directory(base + "/.info");
}

// Lets every user pass through the folders above `folder` that only their owner may enter (a
// sandbox made inside the whole program's sits below two of them), and puts their modes back
// when it goes.
class PassableFoldersAbove {
 public:
  explicit PassableFoldersAbove(const std::filesystem::path& folder) {
    for (auto above = folder.parent_path(); !above.empty(); above = above.parent_path()) {
      struct stat info {};
      if (::stat(above.c_str(), &info) == 0 && info.st_uid == ::geteuid() && !(info.st_mode & S_IXOTH) &&
          ::chmod(above.c_str(), (info.st_mode & 07777) | S_IXOTH) == 0)
        changed_.emplace_back(above, info.st_mode & 07777);
      if (above == above.parent_path()) break;
    }
  }
  ~PassableFoldersAbove() {
    for (const auto& [folder, mode] : changed_) ::chmod(folder.c_str(), mode);
  }
  PassableFoldersAbove(const PassableFoldersAbove&) = delete;
  PassableFoldersAbove& operator=(const PassableFoldersAbove&) = delete;

 private:
  std::vector<std::pair<std::filesystem::path, mode_t>> changed_;
};

}  // namespace executable_test
