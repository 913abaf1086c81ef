#include "tests/CrashReporter/CrashProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/serialization/JSONSerialization.h"

extern char** environ;

namespace crstest {

bool crashTestsSupported() {
#if defined(__SANITIZE_THREAD__)
  return false;
#else
  return true;
#endif
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const ns::Value& CrashRun::line(const std::string& key) const {
  static const ns::Value nil;
  for (const auto& value : lines) {
    if (value.isDictionary() && value.dictionary().contains(key)) return value.dictionary()[key];
  }
  return nil;
}

const ns::Value& CrashRun::lineObject(const std::string& key) const {
  static const ns::Value nil;
  for (const auto& value : lines) {
    if (value.isDictionary() && value.dictionary().contains(key)) return value;
  }
  return nil;
}

std::filesystem::path CrashRun::recordPath() const {
  return folder / (std::string(kNormalisedSession) + ".crsrecord");
}

CrashRun runCrashProgram(const std::string& mode, const std::filesystem::path& folder) {
  CrashRun run;
  run.folder = folder;
  std::vector<std::string> environment;
  std::string asan = "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
                     "allow_user_segv_handler=1:detect_leaks=0";
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) environment.emplace_back(*e);
  }
  environment.push_back(asan);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::string program = CRASH_TEST_PROGRAM;
  std::string folderText = folder.string();
  std::vector<char*> argv = {program.data(), const_cast<char*>(mode.c_str()), folderText.data(), nullptr};
  std::string out = (folder / "stdout.txt").string();
  std::string err = (folder / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  while (::waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return run;
  }
  run.status = status;

  std::istringstream facts(readFile(out));
  for (std::string line; std::getline(facts, line);) {
    auto equals = line.find('=');
    if (equals != std::string::npos) run.facts[line.substr(0, equals)] = line.substr(equals + 1);
  }
  run.stderrText = readFile(err);
  std::string record = readFile(run.recordPath());
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    run.rawLines.push_back(record.substr(start, end - start));
    start = end + 1;
  }
  for (const auto& line : run.rawLines) run.lines.push_back(ns::JSONSerialization::JSONObjectWithString(line));
  return run;
}

}  // namespace crstest
