#include "tests/app/youtube/SharedCacheSandbox.h"

#include <gtest/gtest.h>

#include <memory>

#include "lib/cache/GVCache.h"

namespace {

std::unique_ptr<pltest::Sandbox>& sandbox() {
  static std::unique_ptr<pltest::Sandbox> instance;
  return instance;
}

class SharedCacheEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!sandbox()) return;
    // Writes still on the cache's queues finish inside the folder before it goes.
    getSharedGVCache()->synchronize();
    sandbox().reset();
  }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SharedCacheEnvironment);

}  // namespace

pltest::Sandbox& sharedCacheSandbox() {
  if (!sandbox()) sandbox() = std::make_unique<pltest::Sandbox>();
  return *sandbox();
}
