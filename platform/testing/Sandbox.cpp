#include "platform/testing/Sandbox.h"

#include <stdlib.h>

#include <stdexcept>

#include "platform/foundation/UserDefaults.h"

namespace pltest {

namespace fs = std::filesystem;

namespace {

const char* const kVariables[] = {"HOME",           "XDG_DATA_HOME",  "XDG_CACHE_HOME", "XDG_CONFIG_HOME",
                                  "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"};

void resetDefaults() { ns::UserDefaults::resetStandardUserDefaults(); }

}  // namespace

Sandbox::Sandbox() {
  std::string pattern = (fs::temp_directory_path() / "pelorin-sandbox-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a sandbox folder");
  root_ = pattern;
  for (const char* name : kVariables) {
    const char* v = std::getenv(name);
    saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
  }
  fs::create_directories(dataHome());
  fs::create_directories(cacheHome());
  fs::create_directories(configHome());
  fs::create_directories(home() / ".local/state");
  fs::create_directories(root_ / "runtime");
  fs::create_directories(root_ / "tmp");
  fs::permissions(root_ / "runtime", fs::perms::owner_all);
  ::setenv("HOME", home().c_str(), 1);
  ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
  ::setenv("XDG_CACHE_HOME", cacheHome().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
  ::setenv("XDG_STATE_HOME", (home() / ".local/state").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
  ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
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
  std::error_code ec;
  fs::remove_all(root_, ec);
}

fs::path Sandbox::temporaryFolder(const std::string& name) const {
  fs::path p = root_ / "tmp" / name;
  fs::create_directories(p);
  return p;
}

}  // namespace pltest
