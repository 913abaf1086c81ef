#include "tests/CrashReporter/CrashProgram.h"

#include <elf.h>
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

std::string buildIdOfFile(const std::string& path) {
  std::string file = readFile(path);
  if (file.size() < sizeof(Elf64_Ehdr) || file.compare(0, 4, ELFMAG) != 0) return {};
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  for (int i = 0; i < header.e_shnum; ++i) {
    std::size_t at = header.e_shoff + static_cast<std::size_t>(i) * header.e_shentsize;
    if (at + sizeof(Elf64_Shdr) > file.size()) return {};
    Elf64_Shdr section;
    std::memcpy(&section, file.data() + at, sizeof section);
    if (section.sh_type != SHT_NOTE) continue;
    for (std::size_t n = section.sh_offset; n + sizeof(Elf64_Nhdr) <= section.sh_offset + section.sh_size;) {
      Elf64_Nhdr note;
      std::memcpy(&note, file.data() + n, sizeof note);
      std::size_t name = n + sizeof note;
      std::size_t desc = name + ((note.n_namesz + 3) & ~3u);
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
          file.compare(name, 4, std::string("GNU\0", 4)) == 0) {
        static const char hex[] = "0123456789abcdef";
        std::string out;
        for (std::size_t b = 0; b < note.n_descsz; ++b) {
          auto c = static_cast<unsigned char>(file[desc + b]);
          out += hex[c >> 4];
          out += hex[c & 15];
        }
        return out;
      }
      n = desc + ((note.n_descsz + 3) & ~3u);
    }
  }
  return {};
}

CrashRun runCrashProgram(const std::string& mode, const std::filesystem::path& folder,
                         const std::vector<std::string>& extraEnvironment) {
  CrashRun run;
  run.folder = folder;
  std::vector<std::string> environment;
  std::string asan =
      "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
      "allow_user_segv_handler=1:detect_leaks=0";
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) environment.emplace_back(*e);
  }
  // The tests read the program's diagnostic lines on its standard error, where only warnings and
  // errors go unless every line is asked for.
  environment.emplace_back("PELORIN_VERBOSE=1");
  for (const auto& e : extraEnvironment) {
    if (e.rfind("ASAN_OPTIONS=", 0) == 0) {
      asan += ":" + e.substr(13);
    } else {
      environment.push_back(e);
    }
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
  for (const auto& line : run.rawLines)
    run.lines.push_back(ns::JSONSerialization::JSONObjectWithString(line));
  return run;
}

}  // namespace crstest
