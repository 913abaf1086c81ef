// The video context menu's commands on the list on show: navigation, links, the download
// engine's files and queues through a real cache manager, the library store, the browser and the
// file manager of the desktop test kit.
#include <gtest/gtest.h>

#include <fstream>

#include "app/cache/CacheFiles.h"
#include "app/cache/CacheServer.h"
#include "app/cache/RevealDownloadedFile.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/cache/YoutubeResponse.h"
#include "app/library/DBAccess.h"
#include "app/library/LibraryNotifications.h"
#include "app/videopage/VideoPage.h"
#include "app/youtube/YoutubeLinks.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/testing/desktop/FakeBusService.h"
#include "platform/testing/desktop/PrivateSessionBus.h"
#include "platform/testing/desktop/RecordingOpener.h"
#include "tests/app/browse/VideoContextMenuTestSupport.h"
#include "tests/support/FakeStreamResolver.h"

namespace {

using browse_test::ContextMenuFixture;

void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fixture with a real cache manager whose downloads resolve through a fake resolver.
struct CommandFixture : ContextMenuFixture {
  CommandFixture() {
    server->start();
    setAnswers([&](auto& answers) { answers.cacheServer = server; });
    rows = open("search_relevance", "cats", videoRows(8));
  }
  ~CommandFixture() { resetCacheStateTablesForTesting(); }
  // A file saved to the download folder for the video.
  std::string download(const std::string& videoId) {
    const std::string path = app.sandbox().root().string() + "/home/Videos/" + videoId + " title.mp4";
    writeFile(path, "saved " + videoId);
    saveDownloadedVideoPath(videoId, path);
    setVideoCacheState(videoId, false);
    return path;
  }

  ns::Ref<testsupport::FakeStreamResolver> resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver{resolver};
  ns::Ref<CacheServer> server = ns::make<CacheServer>(0);
  ns::Ref<YTPlaylistViewController> rows;
};

TEST(VideoContextMenuCommands, UploadersAndRelatedVideosOpenTheirLists) {
  ContextMenuFixture f;
  auto rows = ContextMenuFixture::videoRows(3);
  rows[1]->setVideoChannelId("UCb--64Gl51jIEVE-GLDAVTg");
  rows[1]->setAuthor("C-SPAN");
  rows[2]->setVideoChannelId("U");
  auto list = f.open("search_relevance", "news", rows);

  f.choose(1, "Uploader's Video");
  EXPECT_EQ(f.shown()->requestType(), "subscriptions");
  EXPECT_EQ(f.shown()->requestId(), "UUb--64Gl51jIEVE-GLDAVTg");
  EXPECT_EQ(f.shown()->title(), "C-SPAN");

  f.left->navigationController()->goBack();
  ASSERT_EQ(f.shown(), list);
  f.choose(1, "Related Video");
  EXPECT_EQ(f.shown()->requestType(), "related");
  EXPECT_EQ(f.shown()->requestId(), "v1");
  EXPECT_EQ(f.shown()->title(), "related: Video 1");

  // A channel id too short to name its uploads opens nothing.
  f.left->navigationController()->goBack();
  f.choose(2, "Uploader's Video");
  EXPECT_EQ(f.shown(), list);
  EXPECT_EQ(findPlaylistViewController("subscriptions_UU"), nullptr);
}

TEST(VideoContextMenuCommands, CopyLinksPutsWatchPagesThatParseBackToTheirIds) {
  ContextMenuFixture f;
  f.open("search_relevance", "cats", ContextMenuFixture::videoRows(4));
  auto pasteboard = ak::Pasteboard::generalPasteboard();

  f.choose(2, "Copy Link");
  EXPECT_EQ(pasteboard->stringForType(ak::StringPboardType), "http://www.youtube.com/watch?v=v2");

  f.select({0, 3});
  f.choose(3, "Copy Links");
  auto text = pasteboard->stringForType(ak::StringPboardType);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "http://www.youtube.com/watch?v=v0 , http://www.youtube.com/watch?v=v3");
  const auto split = text->find(" , ");
  EXPECT_EQ(videoIdFromYoutubeLink(text->substr(0, split)), "v0");
  EXPECT_EQ(videoIdFromYoutubeLink(text->substr(split + 3)), "v3");
  // The plain-string type is the only one on the pasteboard.
  EXPECT_EQ(pasteboard->types(), std::vector<std::string>{ak::PasteboardTypeString});
}

TEST(VideoContextMenuCommands, CacheRemoveAndResumeGoThroughTheCacheManager) {
  CommandFixture f;
  // "Cache Video" stores the row and queues its video, which starts at once.
  f.choose(0, "Cache Video");
  EXPECT_TRUE(std::filesystem::exists(getInfoFolderPath() + "/v0.cell"));
  auto queued = f.server->manualCacheStartedQueue();
  EXPECT_NE(std::find(queued.begin(), queued.end(), "v0"), queued.end());
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.resolver->requestedIds().empty(); }));
  EXPECT_EQ(f.resolver->requestedIds().front(), "v0");
  pltest::pumpUntil([] { return false; }, 0.2);
  stopAndDeleteDownload("v0");

  // Over several rows, only what is not cached yet.
  writeFile(getCacheFolderPath() + "/v2.mp4", "cached");
  setVideoCacheState("v2", true);
  f.select({2, 4});
  f.choose(4, "Cache Video");
  queued = f.server->manualCacheStartedQueue();
  auto waiting = f.server->manualCacheQueue();
  queued.insert(queued.end(), waiting.begin(), waiting.end());
  EXPECT_NE(std::find(queued.begin(), queued.end(), "v4"), queued.end());
  EXPECT_EQ(std::find(queued.begin(), queued.end(), "v2"), queued.end());
  pltest::pumpUntil([] { return false; }, 0.2);
  stopAndDeleteDownload("v4");

  // "Remove Cache" on the video in the player: the player stops, the file goes, one notice.
  f.player->setVideoId(std::string("v2"));
  f.select({});
  browse_test::PostCounter changed(kVideoInfoChangedNotification);
  f.choose(2, "Remove Cache");
  EXPECT_FALSE(std::filesystem::exists(getCacheFolderPath() + "/v2.mp4"));
  EXPECT_FALSE(isVideoCached("v2"));
  EXPECT_EQ(f.player->calls(), std::vector<std::string>{"stopVideo"});
  // The engine's removal tells of its change, the command once more at its end.
  EXPECT_EQ(changed.count(), 2);
  // Over two rows, still once at the end.
  writeFile(getCacheFolderPath() + "/v6.mp4", "cached");
  writeFile(getCacheFolderPath() + "/v7.mp4", "cached");
  setVideoCacheState("v6", true);
  setVideoCacheState("v7", true);
  changed.reset();
  f.select({6, 7});
  f.choose(7, "Remove Cache");
  EXPECT_EQ(changed.count(), 3);
  EXPECT_FALSE(std::filesystem::exists(getCacheFolderPath() + "/v6.mp4"));
  EXPECT_FALSE(std::filesystem::exists(getCacheFolderPath() + "/v7.mp4"));
  EXPECT_EQ(f.player->calls(), std::vector<std::string>{"stopVideo"});

  // "Resume Download" restarts the local media server, then resumes the downloader.
  auto paused = YoutubeDownloader::initWithId("v5");
  ASSERT_TRUE(paused);
  const auto generation = serverCount.load();
  const auto asked = f.resolver->requestedIds().size();
  f.choose(5, "Resume Download");
  EXPECT_NE(serverCount.load(), generation);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.resolver->requestedIds().size() > asked; }));
  EXPECT_EQ(f.resolver->requestedIds().back(), "v5");
  pltest::pumpUntil([] { return false; }, 0.2);
  stopAndDeleteDownload("v5");
}

TEST(VideoContextMenuCommands, DownloadedFilesAreMovedBackOrRevealed) {
  CommandFixture f;
  const std::string saved = f.download("v1");
  {
    pltest::ModalScript script;
    script.choose("Delete Downloaded File").clickAlertButton("Cancel");
    f.rightClickAt(f.pointOfRow(1));
    f.app.dispatchQueued();
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    EXPECT_EQ(script.shownAlerts()[0].messageText, "Delete downloaded file?");
    EXPECT_EQ(script.shownAlerts()[0].informativeText, "v1 title.mp4");
    EXPECT_EQ(script.shownAlerts()[0].buttons,
              (std::vector<std::string>{"Delete File", "Move to Cache", "Cancel"}));
    EXPECT_TRUE(script.shownAlerts()[0].sheet);
    EXPECT_TRUE(std::filesystem::exists(saved));
  }
  {
    pltest::ModalScript script;
    script.choose("Delete Downloaded File").clickAlertButton("Move to Cache");
    f.rightClickAt(f.pointOfRow(1));
    f.app.dispatchQueued();
    ASSERT_EQ(script.shownAlerts().size(), 1u);
  }
  EXPECT_FALSE(std::filesystem::exists(saved));
  EXPECT_TRUE(std::filesystem::exists(getCacheFolderPath() + "/v1.mp4"));
  EXPECT_TRUE(isVideoCached("v1"));

  // Revealing: the file manager on the session bus is asked to show the files.
  pltest::PrivateSessionBus bus(f.app.sandbox());
  auto fileManager = pltest::FakeBusService::fileManager(bus.address());
  const std::string first = f.download("v3"), second = f.download("v6");
  f.choose(3, "Reveal in Finder");
  ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 1; }, 30));
  auto uri = [](const std::string& path) { return ns::URL::fileURLWithPath(path)->absoluteString(); };
  auto call = fileManager->calls()[0];
  EXPECT_EQ(call.member, "ShowItems");
  EXPECT_EQ(call.arguments.at(0), ns::Value(ns::Array{ns::Value(uri(first))}));

  f.select({2, 3, 6});
  f.choose(6, "Reveal in Finder");
  ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 2; }, 30));
  call = fileManager->calls()[1];
  EXPECT_EQ(call.member, "ShowItems");
  EXPECT_EQ(call.arguments.at(0), ns::Value(ns::Array{ns::Value(uri(first)), ns::Value(uri(second))}));

  // A video without a downloaded file reveals nothing.
  EXPECT_FALSE(revealDownloadedFileInFinder("v2"));
  std::filesystem::remove(first);
  EXPECT_FALSE(revealDownloadedFileInFinder("v3"));
  EXPECT_TRUE(revealDownloadedFileInFinder("v6"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 3; }, 30));
  EXPECT_EQ(fileManager->calls()[2].arguments.at(0), ns::Value(ns::Array{ns::Value(uri(second))}));
}

TEST(VideoContextMenuCommands, OpenVideoPageAtThePlayersTime) {
  ContextMenuFixture f;
  pltest::RecordingOpener opener(f.app.sandbox());
  f.open("search_relevance", "cats", ContextMenuFixture::videoRows(3));
  f.player->setVideoId(std::string("v1"));
  f.player->setPlaying(true);
  f.player->setCurrentTimeSeconds(75.6);
  f.choose(1, "Open Video Page");
  EXPECT_EQ(f.player->calls(), std::vector<std::string>{"pause"});
  EXPECT_FALSE(f.player->isPlaying());
  ASSERT_EQ(opener.invocations().size(), 1u);
  EXPECT_EQ(opener.invocations()[0], std::vector<std::string>{"http://www.youtube.com/watch?v=v1#t=75"});

  // Another video: its page from the start, the player paused all the same.
  f.player->setPlaying(true);
  f.choose(2, "Open Video Page");
  EXPECT_EQ(f.player->calls(), (std::vector<std::string>{"pause", "pause"}));
  ASSERT_EQ(opener.invocations().size(), 2u);
  EXPECT_EQ(opener.invocations()[1], std::vector<std::string>{"http://www.youtube.com/watch?v=v2"});

  // The loaded video at its very start, and an id that is no video's.
  f.player->setCurrentTimeSeconds(0);
  EXPECT_TRUE(openVideoPageAtCurrentTime("v1"));
  EXPECT_FALSE(openVideoPageAtCurrentTime("v1&list=x#t=9"));
  EXPECT_FALSE(openVideoPageAtCurrentTime(""));
  ASSERT_EQ(opener.invocations().size(), 3u);
  EXPECT_EQ(opener.invocations()[2], std::vector<std::string>{"http://www.youtube.com/watch?v=v1"});
}

TEST(VideoContextMenuCommands, ResetPlayedStateClearsTheLibraryAndReloadLeavesSearchesAlone) {
  ContextMenuFixture f;
  auto list = f.open("search_relevance", "cats", ContextMenuFixture::videoRows(4));
  auto store = DBAccess::getInstance();
  for (const char* id : {"v1", "v2", "v3"}) {
    store->savePlayPosition_forId(42.5f, id);
    store->savePlayedState_forId(2, id);
  }
  f.select({1, 2});
  f.choose(2, "Reset Played State");
  for (const char* id : {"v1", "v2"}) {
    EXPECT_EQ(store->getPlayPositionForId(id), 0.0f) << id;
    EXPECT_EQ(store->getPlayedStateForId(id), 0) << id;
  }
  EXPECT_EQ(store->getPlayPositionForId("v3"), 42.5f);
  EXPECT_EQ(store->getPlayedStateForId("v3"), 2);

  // A search list is never reloaded: its rows stay.
  f.choose(0, "Reload List");
  EXPECT_EQ(list->cellArray().size(), 4u);
  EXPECT_FALSE(list->isFetching());
}

}  // namespace
