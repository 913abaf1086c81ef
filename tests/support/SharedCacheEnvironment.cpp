// The shared keyed disk cache (video detail records, channel titles) is made once per process,
// in the home of its first user. Each test here has a sandbox of its own that goes when the test
// ends, so the cache is made first, in a sandbox of the whole program, removed after the last
// test; otherwise every test after the first would write into a folder already gone.
#include <gtest/gtest.h>

#include <memory>

#include "lib/cache/GVCache.h"
#include "platform/testing/Sandbox.h"

namespace {

class SharedCacheEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    sandbox_ = std::make_unique<pltest::Sandbox>();
    getSharedGVCache();
  }
  void TearDown() override {
    if (!sandbox_) return;
    // Writes still on the cache's queues finish inside the folder before it goes.
    getSharedGVCache()->synchronize();
    sandbox_.reset();
  }

 private:
  std::unique_ptr<pltest::Sandbox> sandbox_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SharedCacheEnvironment);

}  // namespace
