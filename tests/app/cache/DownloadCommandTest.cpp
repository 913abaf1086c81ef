// The Download command: videos already saved, cached copies moved into the download folder, the
// quality sheet on the current window answered by a script, and downloads queued first.
#include <gtest/gtest.h>

#include "app/cache/CacheFiles.h"
#include "app/cache/CacheServer.h"
#include "app/cache/YoutubeDownloader.h"
#include "common/Settings.h"
#include "platform/appkit/Make.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace {

using cachetest::exists;
using cachetest::writeFile;
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

class DownloadCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::FakeMainWindowController::Answers answers;
    answers.currentWindow = window;
    controller->setAnswers(answers);
    setStringSetting(kPreferredVideoQualityKey, "360");
  }
  // The resolver offers the itags at the origin, whose transfers stall.
  void offer(const std::string& videoId, std::initializer_list<int> itags) {
    testsupport::FakeStreamResolver::Entry entry;
    for (int itag : itags) {
      std::string path = "/" + videoId + "/" + std::to_string(itag);
      entry.urlMap[itag] = origin.URLForPath(path);
      origin.canned("GET", path, pltest::FakeReply::stalled("head", 100000));
    }
    resolver->setEntry(videoId, entry);
  }
  // A finished copy in the cache, of the given itag.
  void cache(const std::string& videoId, int itag) {
    writeFile(home.cache(videoId + ".mp4"), "cached " + videoId);
    ns::writePropertyListToFile_atomically(ns::Dictionary{{ns::Value("videotype"), ns::Value(itag)}},
                                           home.cache(videoId + ".info"), true);
    setVideoCacheState(videoId, true);
  }
  void download(const std::string& videoId) {
    manager->addManualDownloadVideoId_withTitle_fromViewController(videoId, "My Video", std::string("Mix"));
  }
  // Shows the sheet and answers it with the button.
  void answerSheet(const std::string& videoId, const std::string& button) {
    script.clickAlertButton(button, [this] { showingWhileOpen = controller->showingAlert(); });
    std::size_t before = script.shownAlerts().size();
    download(videoId);
    ASSERT_TRUE(pltest::pumpUntil([&] { return script.shownAlerts().size() > before; }, 30));
    app.dispatchQueued();
  }

  pltest::HeadlessApp app{false};
  cachetest::CacheSandbox home;
  pltest::ModalScript script;
  ns::Ref<ak::Window> window = app.window(ak::MakeRect(0, 0, 600, 400));
  ns::Ref<testsupport::FakeMainWindowController> controller =
      ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installedController{controller};
  pltest::FakeServer origin;
  ns::Ref<testsupport::FakeStreamResolver> resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver{resolver};
  ns::Ref<CacheServer> manager = ns::make<CacheServer>(0);
  bool showingWhileOpen = false;
};

TEST_F(DownloadCommandTest, TheSheetListsTheQualitiesAndMarksTheCachedOne) {
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

TEST_F(DownloadCommandTest, TheCachedChoiceMovesTheCopyIntoTheDownloadFolder) {
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

TEST_F(DownloadCommandTest, AnotherQualityDropsTheCopyAndQueuesTheVideoFirst) {
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
