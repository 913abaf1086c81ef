// The cache folders and the video cache-state hook.
#include "app/cache/CacheUtilities.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

class CacheUtilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-cache-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data()));
    root = pattern;
    for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
      const char* old = std::getenv(name);
      saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
  }
  void TearDown() override {
    for (auto& [name, value] : saved) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    std::filesystem::remove_all(root);
  }
  std::filesystem::path root;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(CacheUtilitiesTest, FoldersFollowTheUsersDataAndCacheFoldersAndAreNotCreated) {
  EXPECT_EQ(getAppSupportFilePath("pelorin_web.db"), (root / "data" / "Pelorin" / "pelorin_web.db").string());
  EXPECT_EQ(getCacheBaseSubpath("pelorin.db"), (root / "cache" / "com.ordel42.zeravozezi" / "pelorin.db").string());
  EXPECT_FALSE(std::filesystem::exists(root / "data"));
  EXPECT_FALSE(std::filesystem::exists(root / "cache"));
}

TEST_F(CacheUtilitiesTest, RemovingACacheStateRunsTheInstalledWorkThenPosts) {
  std::vector<std::string> events;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      "videoInfoChanged", nullptr, nullptr, [&](const ns::Ref<ns::Notification>&) { events.push_back("posted"); });
  auto previous = setVideoCacheStateRemover([&](const std::string& id) { events.push_back("removed " + id); });
  removeVideoCacheState("abc");
  EXPECT_EQ(events, (std::vector<std::string>{"removed abc", "posted"}));

  setVideoCacheStateRemover(previous);
  events.clear();
  removeVideoCacheState("abc");
  EXPECT_EQ(events, std::vector<std::string>{"posted"});
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
}

}  // namespace
