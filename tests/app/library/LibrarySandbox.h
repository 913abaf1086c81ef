#pragma once
// A home-folder sandbox for the library store: a temporary HOME whose XDG data, cache and config
// folders are private, with the application's "Pelorin" folder in Application Support (unless
// asked not to), and a fresh store. Everything is removed afterwards.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "app/cache/CacheUtilities.h"
#include "app/library/DBAccess.h"
#include "platform/foundation/UserDefaults.h"

class LibrarySandbox {
 public:
  explicit LibrarySandbox(bool withAppFolder = true) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-home-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) root_ = made;
    setEnv("HOME", root_.string());
    setEnv("XDG_DATA_HOME", (root_ / "data").string());
    setEnv("XDG_CACHE_HOME", (root_ / "cache").string());
    setEnv("XDG_CONFIG_HOME", (root_ / "config").string());
    std::filesystem::create_directories(root_ / "data");
    std::filesystem::create_directories(root_ / "cache");
    std::filesystem::create_directories(root_ / "config");
    if (withAppFolder) std::filesystem::create_directories(appFolder());
    ns::UserDefaults::setStandardDefaultsFolderForTesting((root_ / "config").string());
    DBAccess::resetForTesting();
  }
  ~LibrarySandbox() {
    DBAccess::resetForTesting();
    ns::UserDefaults::setStandardDefaultsFolderForTesting(std::nullopt);
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  LibrarySandbox(const LibrarySandbox&) = delete;
  LibrarySandbox& operator=(const LibrarySandbox&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path appFolder() const { return root_ / "data" / "Pelorin"; }
  std::string livePath() const { return (appFolder() / "pelorin_web.db").string(); }
  std::filesystem::path cacheBaseFolder() const { return root_ / "cache" / "com.ordel42.zeravozezi"; }
  std::string olderPath() const { return (cacheBaseFolder() / "pelorin.db").string(); }

 private:
  void setEnv(const std::string& name, const std::string& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name.c_str(), value.c_str(), 1);
  }

  std::filesystem::path root_;
  std::map<std::string, std::optional<std::string>> saved_;
};
