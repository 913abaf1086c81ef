#pragma once
// A stand-in for the desktop's opener (xdg-open): a shell script in the sandbox that records
// the arguments of every run, byte for byte, and exits with a chosen status. Put first on PATH,
// it is what a call for "xdg-open" finds; nothing real is ever opened.
//
//   pltest::RecordingOpener opener(sandbox);   // "xdg-open", exit status 0, first on PATH
//   ... open a URL ...
//   ASSERT_TRUE(pltest::pumpUntil([&] { return opener.invocations().size() == 1; }));
//   EXPECT_EQ(opener.invocations()[0], std::vector<std::string>{"https://example.test/"});
#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/Sandbox.h"

namespace pltest {

class RecordingOpener {
 public:
  struct Options {
    std::string name = "xdg-open";
    int exitStatus = 0;
    bool firstOnPath = true;  // put its folder first on PATH for the sandbox's lifetime
  };
  explicit RecordingOpener(Sandbox& sandbox) : RecordingOpener(sandbox, Options{}) {}
  RecordingOpener(Sandbox& sandbox, Options options);
  RecordingOpener(const RecordingOpener&) = delete;
  RecordingOpener& operator=(const RecordingOpener&) = delete;

  // The script's full path.
  std::string path() const { return script_.string(); }
  // Later runs exit with this status.
  void setExitStatus(int status);
  // The arguments of every finished run, oldest first.
  std::vector<std::vector<std::string>> invocations() const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path records_;
  std::filesystem::path script_;
  void writeScript(int exitStatus);
};

}  // namespace pltest
