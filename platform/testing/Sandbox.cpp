#include "platform/testing/Sandbox.h"

#include <stdlib.h>

#include <stdexcept>

#include "platform/foundation/UserDefaults.h"

namespace pltest {

namespace fs = std::filesystem;

namespace {

const char* const kVariables[] = {
    "HOME",           "XDG_DATA_HOME",   "XDG_CACHE_HOME", "XDG_CONFIG_HOME",
    "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR",         "DBUS_SESSION_BUS_ADDRESS"};

void resetDefaults() {
  ns::UserDefaults::resetStandardUserDefaults();
}

fs::path makeUniqueFolder(const fs::path& parent, const std::string& prefix) {
  std::string pattern = (parent / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder in " + parent.string());
  return pattern;
}

void removeAll(const fs::path& folder) {
  std::error_code ec;
  // A test may have taken its own rights on the folder away.
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(folder, ec);
}

}  // namespace

Sandbox::Sandbox() {
  root_ = makeUniqueFolder(fs::temp_directory_path(), "pelorin-sandbox");
  for (const char* name : kVariables) {
    const char* v = std::getenv(name);
    saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
  }
  fs::create_directories(dataHome());
  fs::create_directories(cacheHome());
  fs::create_directories(configHome());
  fs::create_directories(home() / ".local/state");
  fs::create_directories(home() / ".runtime");
  fs::create_directories(home() / "tmp");
  fs::permissions(home() / ".runtime", fs::perms::owner_all);
  ::setenv("HOME", home().c_str(), 1);
  ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
  ::setenv("XDG_CACHE_HOME", cacheHome().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
  ::setenv("XDG_STATE_HOME", (home() / ".local/state").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (home() / ".runtime").c_str(), 1);
  ::setenv("TMPDIR", (home() / "tmp").c_str(), 1);
  // No test reaches the user's session bus (and its file manager); a test starts its own.
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  resetDefaults();
}

Sandbox::~Sandbox() {
  resetDefaults();
  for (const auto& [name, value] : saved_) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
  removeAll(root_);
}

fs::path Sandbox::temporaryFolder(const std::string& name) const {
  fs::path p = home() / "tmp" / name;
  fs::create_directories(p);
  return p;
}

void Sandbox::set(const std::string& name, const std::optional<std::string>& value) {
  if (!saved_.count(name)) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

TemporaryFolder::TemporaryFolder(const fs::path& parent) : path_(makeUniqueFolder(parent, "pelorin-test")) {}

TemporaryFolder::~TemporaryFolder() {
  removeAll(path_);
}

}  // namespace pltest
