// The Download command: videos already saved, cached copies moved into the download folder, the
// quality question and what its answers do, and the command without a question installed.
#include <gtest/gtest.h>

#include "app/cache/CacheFiles.h"
#include "app/cache/YoutubeDownloader.h"
#include "tests/app/cache/DownloadCommandTestKit.h"

namespace {

using cachetest::exists;
using Ids = std::vector<std::string>;

TEST(QualityChoices, FollowTheStreamsOfferedAndTheCachedHeight) {
  struct Case {
    std::vector<std::int32_t> itags;
    int cachedHeight;
    std::vector<std::string> choices;
  };
  const Case cases[] = {
      {{18, 22, 137}, 720, {"1080p", "720p (Cached)", "360p"}},
      {{18, 22, 137}, 0, {"1080p", "720p", "360p"}},
      {{18, 36, 37}, 0, {"1080p", "360p", "240p"}},
      {{140, 17}, 0, {}},
      {{}, 360, {"360p (Cached)"}},
      {{137}, 1080, {"1080p (Cached)"}},
      {{18}, 240, {"360p", "240p (Cached)"}},
  };
  for (const auto& c : cases) EXPECT_EQ(CacheServer::qualityChoices(c.itags, c.cachedHeight), c.choices);
}

using DownloadCommandTest = cachetest::DownloadCommandFixture;

TEST_F(DownloadCommandTest, TheQuestionGetsTheTitleAndChoicesAndItsAnswerIsTaken) {
  setBoolSetting(kAskQualityKey, true);
  offer("v", {18, 22, 137});
  cache("v", 22);
  std::vector<std::pair<std::string, Ids>> asked;
  std::function<void(std::optional<std::size_t>)> answer;
  cachetest::ScopedQualityQuestion question([&](const std::string& title, const Ids& choices,
                                                std::function<void(std::optional<std::size_t>)> then) {
    asked.emplace_back(title, choices);
    answer = std::move(then);
  });
  auto ask = [&] {
    answer = nullptr;
    download("v");
    ASSERT_TRUE(pltest::pumpUntil([&] { return answer != nullptr; }, 30));
  };

  pltest::LogCapture log;
  ask();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].first, "My Video");
  EXPECT_EQ(asked[0].second, (Ids{"1080p", "720p (Cached)", "360p"}));
  answer(std::nullopt);
  EXPECT_TRUE(log.contains("cancelled"));
  EXPECT_TRUE(isVideoCached("v"));
  EXPECT_FALSE(getDownloaderForVideoId("v"));

  // An index past the choices is no answer.
  ask();
  answer(3);
  EXPECT_TRUE(isVideoCached("v"));
  EXPECT_FALSE(getDownloaderForVideoId("v"));

  ask();
  answer(2);
  EXPECT_FALSE(isVideoCached("v"));
  EXPECT_EQ(getChosenVideoQuality(std::string("v")), "360");
  auto downloader = getDownloaderForVideoId("v");
  ASSERT_TRUE(downloader);
  EXPECT_TRUE(downloader->bDownload());
  EXPECT_TRUE(downloader->isDownloading());
  EXPECT_TRUE(script.shownAlerts().empty());
}

TEST_F(DownloadCommandTest, WithoutAQuestionTheDownloadGoesOnAsIfAskingWereOff) {
  setBoolSetting(kAskQualityKey, true);
  offer("fresh", {18});
  offer("late", {18});
  cache("kept", 18);
  pltest::LogCapture log;
  download("kept");
  EXPECT_TRUE(isVideoDownloaded("kept"));
  EXPECT_TRUE(log.contains("no quality question is installed"));
  EXPECT_FALSE(log.contains("ASK DOWNLOAD QUALITY!"));
  download("fresh");
  auto fresh = getDownloaderForVideoId("fresh");
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(fresh->isDownloading());
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"fresh"});

  // A question taken away while the streams are looked up: the download still goes on, queued.
  bool asked = false;
  {
    cachetest::ScopedQualityQuestion question(
        [&](const std::string&, const Ids&, std::function<void(std::optional<std::size_t>)>) {
          asked = true;
        });
    download("late");
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return getDownloaderForVideoId("late") != nullptr; }, 30));
  EXPECT_FALSE(asked);
  EXPECT_TRUE(getDownloaderForVideoId("late")->bDownload());
  EXPECT_EQ(manager->manualCacheQueue(), Ids{"late"});
  EXPECT_TRUE(script.shownAlerts().empty());
}

TEST_F(DownloadCommandTest, WithoutTheQuestionACachedCopyMovesAndAnyOtherVideoStartsAtOnce) {
  offer("fresh", {18});
  cache("kept", 18);
  download("kept");
  EXPECT_TRUE(isVideoDownloaded("kept"));
  EXPECT_FALSE(getDownloaderForVideoId("kept"));

  download("fresh");
  auto downloader = getDownloaderForVideoId("fresh");
  ASSERT_TRUE(downloader);
  EXPECT_TRUE(downloader->isDownloading());
  EXPECT_TRUE(downloader->bDownload());
  EXPECT_TRUE(manager->manualCacheQueue().empty());
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"fresh"});
  EXPECT_TRUE(script.shownAlerts().empty());
}

TEST_F(DownloadCommandTest, ADownloadedVideoIsLeftAlone) {
  for (bool ask : {false, true}) {
    SCOPED_TRACE(ask ? "asking" : "not asking");
    setBoolSetting(kAskQualityKey, ask);
    offer("saved", {18});
    cache("saved", 18);
    ASSERT_TRUE(moveCachedVideoToDownloadFolder("saved", "Saved", std::nullopt));
    pltest::LogCapture log;
    download("saved");
    EXPECT_TRUE(log.contains("already downloaded!"));
    EXPECT_FALSE(log.contains("ASK DOWNLOAD QUALITY!"));
    EXPECT_FALSE(getDownloaderForVideoId("saved"));
    EXPECT_TRUE(manager->manualCacheQueue().empty());
    // Back into the cache, and the saved file deleted, through the manager.
    manager->moveDownloadedToCache("saved");
    EXPECT_TRUE(isVideoCached("saved"));
    ASSERT_TRUE(moveCachedVideoToDownloadFolder("saved", "Saved", std::nullopt));
    auto path = getDownloadedVideoPath("saved");
    ASSERT_TRUE(path);
    manager->deleteDownloadedFile("saved");
    EXPECT_FALSE(exists(*path));
    EXPECT_FALSE(hasVideoCacheState("saved"));
  }
  EXPECT_TRUE(script.shownAlerts().empty());
}

}  // namespace
