#pragma once
// The shared home-folder sandbox, with the application's "Pelorin" folder in Application Support
// (unless asked not to) and a fresh library store before and after.
#include <filesystem>
#include <optional>
#include <string>

#include "app/library/DBAccess.h"
#include "tests/support/Sandbox.h"

class LibrarySandbox {
 public:
  explicit LibrarySandbox(bool withAppFolder = true) {
    std::filesystem::create_directories(dataFolder());
    std::filesystem::create_directories(cacheFolder());
    if (withAppFolder) std::filesystem::create_directories(appFolder());
    DBAccess::resetForTesting();
  }
  // The store goes before the sandbox restores the environment and removes the folder.
  ~LibrarySandbox() { DBAccess::resetForTesting(); }
  LibrarySandbox(const LibrarySandbox&) = delete;
  LibrarySandbox& operator=(const LibrarySandbox&) = delete;

  std::filesystem::path root() const { return sandbox_.root(); }
  std::filesystem::path appFolder() const { return dataFolder() / "Pelorin"; }
  std::string livePath() const { return (appFolder() / "pelorin_web.db").string(); }
  std::filesystem::path cacheBaseFolder() const { return cacheFolder() / "com.ordel42.zeravozezi"; }
  std::string olderPath() const { return (cacheBaseFolder() / "pelorin.db").string(); }
  // Sets (or unsets) an environment variable until the sandbox goes.
  void set(const std::string& name, const std::optional<std::string>& value) { sandbox_.set(name, value); }

 private:
  std::filesystem::path dataFolder() const { return sandbox_.path("home/.local/share"); }
  std::filesystem::path cacheFolder() const { return sandbox_.path("home/.cache"); }

  testsupport::Sandbox sandbox_;
};
