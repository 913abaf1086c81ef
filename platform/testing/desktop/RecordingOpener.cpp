#include "platform/testing/desktop/RecordingOpener.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pltest {

namespace fs = std::filesystem;

namespace {

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

RecordingOpener::RecordingOpener(Sandbox& sandbox, Options options) {
  static int count = 0;
  folder_ = sandbox.temporaryFolder("opener-" + std::to_string(++count));
  records_ = folder_ / "runs";
  fs::create_directories(records_);
  script_ = folder_ / options.name;
  writeScript(options.exitStatus);
  if (options.firstOnPath) {
    const char* path = std::getenv("PATH");
    sandbox.set("PATH", folder_.string() + (path && *path ? ":" + std::string(path) : std::string()));
  }
}

void RecordingOpener::setExitStatus(int status) {
  writeScript(status);
}

void RecordingOpener::writeScript(int exitStatus) {
  // Each argument is written in hex on a line of its own; the record appears whole, by rename,
  // named by the time of the run so that runs sort in order.
  std::ostringstream text;
  text << "#!/bin/sh\n"
       << "records='" << records_.string() << "'\n"
       << "tmp=$(mktemp \"$records/.run.XXXXXX\") || exit 90\n"
       << "for a in \"$@\"; do printf '%s' \"$a\" | od -An -v -tx1 | tr -d ' \\n' >> \"$tmp\"; echo >> "
          "\"$tmp\"; "
          "done\n"
       << "mv \"$tmp\" \"$records/run.$(date +%s%N).$$\"\n"
       << "exit " << exitStatus << "\n";
  fs::path temporary = folder_ / ".script";
  {
    std::ofstream out(temporary);
    out << text.str();
  }
  fs::permissions(temporary, fs::perms::owner_all);
  fs::rename(temporary, script_);
}

std::vector<std::vector<std::string>> RecordingOpener::invocations() const {
  std::vector<fs::path> runs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(records_, ec)) {
    if (entry.path().filename().string().rfind("run.", 0) == 0) runs.push_back(entry.path());
  }
  std::sort(runs.begin(), runs.end());
  std::vector<std::vector<std::string>> result;
  for (const auto& run : runs) {
    std::ifstream in(run);
    std::vector<std::string> arguments;
    std::string line;
    while (std::getline(in, line)) arguments.push_back(fromHex(line));
    result.push_back(std::move(arguments));
  }
  return result;
}

}  // namespace pltest
