// The cache folders, the file names in them and the video cache-state hook.
#include "common/CacheUtilities.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/Sandbox.h"

namespace {

namespace fs = std::filesystem;

class CacheUtilitiesTest : public ::testing::Test {
 protected:
  std::string base() const { return (sandbox.cacheHome() / "com.ordel42.zeravozezi").string(); }
  pltest::Sandbox sandbox;
};

TEST_F(CacheUtilitiesTest, FoldersFollowTheUsersDataAndCacheFoldersAndAreNotCreated) {
  EXPECT_EQ(getCacheBasePath(), base());
  EXPECT_EQ(getCacheFolderPath(), base() + "/Cache");
  EXPECT_EQ(getTempFolderPath(), base() + "/.tmp");
  EXPECT_EQ(getInfoFolderPath(), base() + "/.info");
  EXPECT_EQ(getCacheBaseSubpath("pelorin.db"), base() + "/pelorin.db");
  EXPECT_EQ(getCacheFolderFilePath("abc.info"), base() + "/Cache/abc.info");
  EXPECT_EQ(getTempFolderFilePath("abc_Audio.mp4"), base() + "/.tmp/abc_Audio.mp4");
  EXPECT_EQ(getCachedVideoPath("abc"), base() + "/Cache/abc.mp4");
  EXPECT_EQ(getCachedVideoPath("dQw4w9WgXcQ"), base() + "/Cache/dQw4w9WgXcQ.mp4");
  EXPECT_EQ(getCachedVideoPath("a-B_9"), base() + "/Cache/a-B_9.mp4");
  EXPECT_EQ(getAppSupportFilePath("pelorin_web.db"),
            (sandbox.dataHome() / "Pelorin" / "pelorin_web.db").string());

  // Each call reads the environment anew.
  sandbox.set("XDG_CACHE_HOME", sandbox.path("elsewhere"));
  EXPECT_EQ(getCachedVideoPath("abc"), sandbox.path("elsewhere") + "/com.ordel42.zeravozezi/Cache/abc.mp4");

  EXPECT_FALSE(fs::exists(base()));
  EXPECT_FALSE(fs::exists(sandbox.path("elsewhere")));
  EXPECT_FALSE(fs::exists(sandbox.dataHome() / "Pelorin"));
}

TEST_F(CacheUtilitiesTest, IdsAndNamesThatCouldLeaveTheirFolderGiveNoPath) {
  const std::string nul("a\0b", 3);
  for (const std::string& id : std::vector<std::string>{"../x", "a/b", "", "..", ".", "a.b", "a b", "a\\b",
                                                        "~x", "%2e%2e", "é", nul}) {
    EXPECT_EQ(getCachedVideoPath(id), std::nullopt) << id;
  }
  for (const std::string& name :
       std::vector<std::string>{"", ".", "..", "../x", "a/b", "/etc/passwd", "x/", nul}) {
    EXPECT_EQ(getCacheBaseSubpath(name), std::nullopt) << name;
    EXPECT_EQ(getCacheFolderFilePath(name), std::nullopt) << name;
    EXPECT_EQ(getTempFolderFilePath(name), std::nullopt) << name;
    EXPECT_EQ(getAppSupportFilePath(name), std::nullopt) << name;
  }
  // Dots inside a name are fine: they cannot climb.
  EXPECT_EQ(getTempFolderFilePath("..abc.mp4"), base() + "/.tmp/..abc.mp4");
  EXPECT_EQ(getCacheBaseSubpath("FFMPEG_License.txt"), base() + "/FFMPEG_License.txt");
}

TEST_F(CacheUtilitiesTest, RemovingACacheStateRunsTheInstalledWorkThenPosts) {
  std::vector<std::string> events;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      "videoInfoChanged", nullptr, nullptr,
      [&](const ns::Ref<ns::Notification>&) { events.push_back("posted"); });
  auto previous =
      setVideoCacheStateRemover([&](const std::string& id) { events.push_back("removed " + id); });
  removeVideoCacheState("abc");
  EXPECT_EQ(events, (std::vector<std::string>{"removed abc", "posted"}));

  setVideoCacheStateRemover(previous);
  events.clear();
  removeVideoCacheState("abc");
  EXPECT_EQ(events, std::vector<std::string>{"posted"});
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
}

}  // namespace
