#pragma once
// What the download engine's tests share: a sandboxed home with the cache folders and a fresh
// library store and cache tables, a loopback origin serving media bodies, notification counting
// and file helpers.
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "app/cache/CacheState.h"
#include "app/library/DBAccess.h"
#include "common/CacheUtilities.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "tests/support/Sandbox.h"

namespace cachetest {

// Bytes that differ at every offset a misplaced write could land on, after the head every
// stream begins with.
inline std::string mediaBody(std::size_t size, unsigned seed = 1) {
  std::string body(size, '\0');
  std::uint32_t x = 2463534242u ^ seed;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    body[i] = static_cast<char>(x);
  }
  // Streams begin as their container does: an "ftyp" box.
  static constexpr char kHead[] = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'};
  body.replace(0, std::min(size, sizeof kHead), kHead, std::min(size, sizeof kHead));
  return body;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}

// A sandboxed home with base/"Cache", ".tmp" and ".info", the application's support folder,
// and a fresh library store and cache tables before and after. The cache manager's hooks are
// recorded.
class CacheSandbox {
 public:
  CacheSandbox() {
    std::filesystem::create_directories(sandbox_.path("home/.local/share/Pelorin"));
    std::filesystem::create_directories(getCacheFolderPath());
    std::filesystem::create_directories(getTempFolderPath());
    std::filesystem::create_directories(getInfoFolderPath());
    DBAccess::resetForTesting();
    resetCacheStateTablesForTesting();
    installCacheStateFunctions();
    previousHooks_ = setCacheManagerHooks(CacheManagerHooks{[this](const std::string& videoId) {
                                                              std::lock_guard lock(mutex_);
                                                              removedFromQueues_.push_back(videoId);
                                                            },
                                                            [this] { ++restarts_; }});
  }
  ~CacheSandbox() {
    // What the test queued on the main queue (a stalled download's restart of the server) runs
    // now, under this test's hooks, not in the next test against its server.
    auto ran = std::make_shared<bool>(false);
    dispatch::async(dispatch::mainQueue(), [ran] { *ran = true; });
    pltest::pumpUntil([&] { return *ran; }, 30);
    resetCacheStateTablesForTesting();
    setCacheManagerHooks(previousHooks_);
    setVideoCacheStateRemover(nullptr);
    DBAccess::resetForTesting();
  }
  CacheSandbox(const CacheSandbox&) = delete;
  CacheSandbox& operator=(const CacheSandbox&) = delete;

  testsupport::Sandbox& sandbox() { return sandbox_; }
  std::string base() const { return getCacheBasePath(); }
  std::string cache(const std::string& name) const { return getCacheFolderPath() + "/" + name; }
  std::string temp(const std::string& name) const { return getTempFolderPath() + "/" + name; }
  int restarts() const { return restarts_; }
  std::vector<std::string> removedFromQueues() const {
    std::lock_guard lock(mutex_);
    return removedFromQueues_;
  }

 private:
  testsupport::Sandbox sandbox_;
  CacheManagerHooks previousHooks_;
  mutable std::mutex mutex_;
  std::vector<std::string> removedFromQueues_;
  std::atomic<int> restarts_{0};
};

// Counts the notifications of one name posted while it exists.
class NotificationCounter {
 public:
  explicit NotificationCounter(const std::string& name) {
    token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this](const ns::Ref<ns::Notification>&) { count_++; });
  }
  ~NotificationCounter() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }
  NotificationCounter(const NotificationCounter&) = delete;
  NotificationCounter& operator=(const NotificationCounter&) = delete;
  int count() const { return count_; }

 private:
  ns::Ref<ns::Object> token_;
  std::atomic<int> count_{0};
};

// A gate a fake's handler waits at (on the server's thread) until the test opens it.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  // Answers whether it opened within the time-out.
  bool wait(std::chrono::seconds timeout = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    return changed_.wait_for(lock, timeout, [&] { return open_; });
  }
  bool arrived() const {
    std::lock_guard lock(mutex_);
    return arrived_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool arrived_ = false;
};

// The "Range" header of every request to the path, in order ("" for none).
inline std::vector<std::string> rangesOf(const pltest::FakeServer& server, const std::string& path) {
  std::vector<std::string> ranges;
  for (const auto& request : server.requests())
    if (request.path == path) ranges.push_back(request.header("Range").value_or(""));
  return ranges;
}

}  // namespace cachetest
