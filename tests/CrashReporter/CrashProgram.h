#pragma once
// Runs the crash test program in a child process with its own folder inside the test's sandbox,
// with sanitizer options that leave the crash signals to the crash reporter, and reads back what
// it left: its exit status, the "key=value" facts it printed and the record's lines.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace crstest {

// The crash tests need the crash signals; ThreadSanitizer keeps them.
bool crashTestsSupported();

struct CrashRun {
  int status = -1;
  std::filesystem::path folder;
  std::map<std::string, std::string> facts;
  std::vector<std::string> rawLines;  // the record's lines, without their "\n"
  std::vector<ns::Value> lines;       // each line parsed as JSON (nil when it is not JSON)
  std::string stderrText;

  // The value of the line whose single key is `key` (nil when absent).
  const ns::Value& line(const std::string& key) const;
  // The whole line object whose first key is `key` (the threads line has three members).
  const ns::Value& lineObject(const std::string& key) const;
  std::filesystem::path recordPath() const;
};

// `folder` must exist; the program writes its record, marker and logs there.
CrashRun runCrashProgram(const std::string& mode, const std::filesystem::path& folder,
                         const std::vector<std::string>& extraEnvironment = {});

// The GNU build identifier of an ELF file, read from its note sections ("" when it has none).
std::string buildIdOfFile(const std::string& path);

std::string readFile(const std::filesystem::path& path);
constexpr char kNormalisedSession[] = "0a1b2c3d4e5f60718293a4b5c6d7e8f9";

}  // namespace crstest
