// Runs a fuzz target over files, without libFuzzer: every argument is a file or a folder (read
// recursively, in name order); a missing folder is skipped. Each input gets a time budget
// (PELORIN_FUZZ_REPLAY_SECONDS, default 20), so an input that makes a parser crawl fails the
// replay as libFuzzer's -timeout would.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

char currentInput[4096];

void onAlarm(int) {
  const char prefix[] = "replay: input ran past its time budget: ";
  ssize_t ignored = ::write(2, prefix, sizeof prefix - 1);
  ignored = ::write(2, currentInput, std::strlen(currentInput));
  ignored = ::write(2, "\n", 1);
  (void)ignored;
  std::abort();
}

std::vector<std::filesystem::path> inputsUnder(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) {
    files.push_back(path);
  } else if (fs::is_directory(path, ec)) {
    for (const auto& entry : fs::recursive_directory_iterator(path, ec))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  unsigned budget = 20;
  if (const char* env = std::getenv("PELORIN_FUZZ_REPLAY_SECONDS"); env && std::atoi(env) > 0)
    budget = static_cast<unsigned>(std::atoi(env));
  struct sigaction action {};
  action.sa_handler = onAlarm;
  ::sigaction(SIGALRM, &action, nullptr);

  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& file : inputsUnder(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return 1;
      }
      std::snprintf(currentInput, sizeof currentInput, "%s", file.c_str());
      ::alarm(budget);
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ::alarm(0);
      ++count;
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return count > 0 ? 0 : 1;
}
