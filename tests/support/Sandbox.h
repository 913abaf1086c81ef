#pragma once
// A private home folder for one test: HOME, the XDG folders and TMPDIR point into a fresh
// temporary folder, the shared user defaults are reset, and everything is removed and restored
// afterwards.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/foundation/UserDefaults.h"

namespace testsupport {

class Sandbox {
 public:
  Sandbox() {
    char templ[] = "/tmp/pelorin-test-XXXXXX";
    root_ = ::mkdtemp(templ);
    std::filesystem::create_directories(root_ + "/home/tmp");
    set("HOME", root_ + "/home");
    set("XDG_CONFIG_HOME", root_ + "/home/.config");
    set("XDG_DATA_HOME", root_ + "/home/.local/share");
    set("XDG_CACHE_HOME", root_ + "/home/.cache");
    set("TMPDIR", root_ + "/home/tmp");
    ns::UserDefaults::resetStandardUserDefaults();
  }
  ~Sandbox() {
    ns::UserDefaults::resetStandardUserDefaults();
    for (auto& [name, old] : saved_) {
      if (old) {
        ::setenv(name.c_str(), old->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    std::error_code ec;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return root_; }
  std::string home() const { return root_ + "/home"; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = ::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

 private:
  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace testsupport
