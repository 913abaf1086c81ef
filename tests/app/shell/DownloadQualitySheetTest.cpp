// The Download command's quality sheet on the current window, answered by a script: what it
// lists, and what each answer does to the cached copy and the download queue.
#include <gtest/gtest.h>

#include "app/cache/CacheFiles.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/shell/DownloadQualitySheet.h"
#include "tests/app/cache/DownloadCommandTestKit.h"

namespace {

using cachetest::exists;
using Ids = std::vector<std::string>;

class DownloadQualitySheetTest : public cachetest::DownloadCommandFixture {
 protected:
  DownloadQualitySheetTest() { installDownloadQualitySheet(); }
  // Shows the sheet and answers it with the button.
  void answerSheet(const std::string& videoId, const std::string& button) {
    script.clickAlertButton(button, [this] { showingWhileOpen = controller->showingAlert(); });
    std::size_t before = script.shownAlerts().size();
    download(videoId);
    ASSERT_TRUE(pltest::pumpUntil([&] { return script.shownAlerts().size() > before; }, 30));
    app.dispatchQueued();
  }

  // The sheet goes with the test.
  cachetest::ScopedQualityQuestion installedSheet{nullptr};
  bool showingWhileOpen = false;
};

TEST_F(DownloadQualitySheetTest, TheSheetListsTheQualitiesAndMarksTheCachedOne) {
  setBoolSetting(kAskQualityKey, true);
  offer("v", {18, 22, 137});
  cache("v", 22);
  pltest::LogCapture log;
  answerSheet("v", "Cancel");
  EXPECT_TRUE(log.contains("ASK DOWNLOAD QUALITY!"));
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  const auto& shown = script.shownAlerts()[0];
  EXPECT_TRUE(shown.sheet);
  EXPECT_EQ(shown.messageText, "Select Video Quality for Download.");
  EXPECT_EQ(shown.informativeText, "My Video");
  EXPECT_EQ(shown.style, ak::AlertStyle::Informational);
  EXPECT_EQ(shown.buttons, (Ids{"1080p", "720p (Cached)", "360p", "Cancel"}));
  EXPECT_TRUE(showingWhileOpen);
  EXPECT_FALSE(controller->showingAlert());
  EXPECT_TRUE(log.contains("cancelled"));
  EXPECT_TRUE(isVideoCached("v"));
  EXPECT_FALSE(getDownloaderForVideoId("v"));
}

TEST_F(DownloadQualitySheetTest, TheCachedChoiceMovesTheCopyIntoTheDownloadFolder) {
  setBoolSetting(kAskQualityKey, true);
  offer("v", {18, 22, 137});
  cache("v", 22);
  answerSheet("v", "720p (Cached)");
  EXPECT_FALSE(controller->showingAlert());
  EXPECT_TRUE(isVideoDownloaded("v"));
  auto saved = getDownloadedVideoPath("v");
  ASSERT_TRUE(saved);
  EXPECT_EQ(*saved, getDownloadFolderPath(std::string("Mix")) + "My Video.mp4");
  EXPECT_EQ(cachetest::readFile(*saved), "cached v");
  EXPECT_FALSE(exists(home.cache("v.mp4")));
  EXPECT_FALSE(getDownloaderForVideoId("v"));
}

TEST_F(DownloadQualitySheetTest, AnotherQualityDropsTheCopyAndQueuesTheVideoFirst) {
  setBoolSetting(kAskQualityKey, true);
  offer("v", {18, 22, 137, 140});
  offer("other", {18});
  cache("v", 22);
  // Another download runs and an earlier Cache Video waits.
  manager->addManualDownloadVideoId("other");
  ASSERT_TRUE(isAnyDownloadActive());
  manager->addManualDownloadVideoId("earlier");
  answerSheet("v", "1080p");
  EXPECT_FALSE(controller->showingAlert());
  EXPECT_FALSE(exists(home.cache("v.mp4")));
  EXPECT_FALSE(isVideoCached("v"));
  EXPECT_EQ(getChosenVideoQuality(std::string("v")), "1080");
  EXPECT_EQ(manager->manualCacheQueue(), (Ids{"v", "earlier"}));
  auto downloader = getDownloaderForVideoId("v");
  ASSERT_TRUE(downloader);
  EXPECT_TRUE(downloader->bDownload());
  EXPECT_EQ(downloader->saveFilename(), "My Video");
  EXPECT_EQ(downloader->savePlaylistTitle(), "Mix");
  EXPECT_TRUE(downloader->isValid());
  EXPECT_FALSE(downloader->isDownloading());
}

}  // namespace
