#pragma once
// A home-folder sandbox: while it exists, HOME, TMPDIR and the XDG folders (data, cache, config,
// state, runtime) point into a fresh temporary folder, so application support files, caches,
// temporary files and user defaults start empty, and no session bus is named; the standard user defaults are
// reset on entry and exit. The folder is removed and the environment (including what set() changed) restored
// when it goes. Not for use by two threads at once (it changes the process environment).
//
//   pltest::Sandbox sandbox;
//   auto path = sandbox.home() / ".local/share/Pelorin/x.db";
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace pltest {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path home() const { return root_ / "home"; }
  std::filesystem::path dataHome() const { return home() / ".local/share"; }
  std::filesystem::path cacheHome() const { return home() / ".cache"; }
  std::filesystem::path configHome() const { return home() / ".config"; }
  // A scratch folder inside the sandbox (below TMPDIR), made on demand.
  std::filesystem::path temporaryFolder(const std::string& name) const;
  // A path below the sandbox's root, as text.
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  // Sets (or, with nothing, unsets) an environment variable until the sandbox goes.
  void set(const std::string& name, const std::optional<std::string>& value);

 private:
  std::filesystem::path root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh folder of its own below `parent`, removed with its contents when it goes: for tests that
// need a place outside the sandbox (another file system, such as /dev/shm). Inside a sandbox,
// use Sandbox::temporaryFolder.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::filesystem::path& parent);
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace pltest
