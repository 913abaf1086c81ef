#include <chrono>

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/player/PlayerControlBar.h"
#include "common/Settings.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/FakeServer.h"
#include "tests/app/player/PlayerTestKit.h"
#include "tests/support/FakeStreamResolver.h"

namespace playertest {
namespace {

// For the tests that start a cache server: the caching step's timer stands still, since on a slow
// machine it could come while the player still resolves the video and start its download with a
// resolution of its own.
class CachingStreamingFixture : public StreamingFixture {
 protected:
  pltest::VirtualClock clock;
};

TEST_F(CachingStreamingFixture, DownloadingVideoPlaysThroughTheLocalServerWhileItDownloads) {
  auto clip = pltest::testMedia({.seconds = 6, .pattern = pltest::MediaPattern::RedThenTestPattern});
  ASSERT_FALSE(clip.empty());
  auto bytes = pltest::readMedia(clip);
  server.route("GET", "/v18", [bytes](const pltest::FakeRequest&) {
    return pltest::FakeReply::trickle(bytes, 8 * 1024, std::chrono::milliseconds(125));
  });
  resolver->setEntry("serverF1", {.urlMap = {{18, origin("/v18")}}});
  auto cacheServer = ns::make<CacheServer>(0);
  cacheServer->start();
  main->setAnswers({.cacheServer = cacheServer});

  controller->playVideo(row("serverF1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return item() != nullptr; }, kWait));
  EXPECT_EQ(itemURL(), "http://127.0.0.1:" + std::to_string(cacheServer->serverPort()) +
                           "/youtube/serverF1/18/serverF1.mp4");
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->player()->rate() == 1.0f && now() > 0; }, kWait));
  EXPECT_EQ(resolver->requestedIds(), std::vector<std::string>{"serverF1"});
  // The first picture is at the start, in the red second.
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->player()->currentVideoFrame().width > 0; }, kWait));
  auto rgb = centrePixel(controller->player()->currentVideoFrame());
  EXPECT_NEAR(rgb[0], 255, 20);
  EXPECT_NEAR(rgb[1], 0, 20);
  EXPECT_NEAR(rgb[2], 0, 20);
  auto drawn = renderedCentre(controller, "red");
  EXPECT_NEAR(drawn.r, 255, 20);
  EXPECT_NEAR(drawn.g, 0, 20);
  EXPECT_NEAR(drawn.b, 0, 20);

  auto cached = *getCachedVideoPath("serverF1");
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::filesystem::exists(cached); }, kWait));
  EXPECT_EQ(pltest::readMedia(cached), bytes);
  // Only the downloader went to the origin: the player read from the local server.
  for (auto& request : server.requests()) EXPECT_EQ(request.path, "/v18");
}

TEST_F(StreamingFixture, WithoutCachingTheDirectStreamOfThePreferredQualityPlays) {
  setIntSetting(kCachePolicyKey, 0);
  setStringSetting(kPreferredVideoQualityKey, "720");
  auto clip = pltest::testMedia({.seconds = 2});
  ASSERT_FALSE(clip.empty());
  server.route("GET", "/v18", pltest::mediaRoute(clip));
  server.route("GET", "/v22", pltest::mediaRoute(clip));
  resolver->setEntry("directG1", {.urlMap = {{18, origin("/v18")}, {22, origin("/v22")}}});

  controller->playVideo(row("directG1"));
  ASSERT_TRUE(waitReady());
  EXPECT_EQ(itemURL(), origin("/v22"));
  EXPECT_GE(originRequests("/v22"), 1u);
  EXPECT_EQ(originRequests("/v18"), 0u);
  EXPECT_EQ(getDownloaderForVideoId("directG1"), nullptr);
}

TEST_F(StreamingFixture, CachedFileNeedsNoResolution) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("cachedH1", 1));
  controller->playVideo(row("cachedH1"));
  ASSERT_TRUE(waitReady());
  EXPECT_EQ(item()->URL()->scheme(), "file");
  EXPECT_TRUE(resolver->requestedIds().empty());
}

TEST_F(StreamingFixture, ResolutionOfAVideoLeftBehindIsDropped) {
  setIntSetting(kCachePolicyKey, 0);
  auto clip = pltest::testMedia({.seconds = 1});
  server.route("GET", "/v18", pltest::mediaRoute(clip));
  resolver->setEntry("lateI1", {.urlMap = {{18, origin("/v18")}}, .hold = true});
  ASSERT_NO_FATAL_FAILURE(cacheClip("cachedI2", 1));

  controller->playVideo(row("lateI1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return resolver->heldCount() == 1; }, kWait));
  controller->loadVideo(row("cachedI2"));
  ASSERT_TRUE(waitReady());
  EXPECT_EQ(resolver->release(), 1u);
  ASSERT_TRUE(pltest::drainMode());
  ASSERT_TRUE(pltest::pumpUntil([&] { return server.requestCount() == 0 && pltest::drainMode(); }, kWait));
  EXPECT_EQ(controller->videoId(), "cachedI2");
  EXPECT_EQ(item()->URL()->scheme(), "file");
  EXPECT_EQ(controller->player()->rate(), 0.0f);
}

TEST_F(CachingStreamingFixture, PauseWhileTheVideoResolvesHolds) {
  auto clip = pltest::testMedia({.seconds = 2});
  ASSERT_FALSE(clip.empty());
  server.route("GET", "/v18", pltest::mediaRoute(clip));
  resolver->setEntry("pausedU1", {.urlMap = {{18, origin("/v18")}}, .hold = true});
  auto cacheServer = ns::make<CacheServer>(0);
  cacheServer->start();
  main->setAnswers({.cacheServer = cacheServer});

  controller->playVideo(row("pausedU1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return resolver->heldCount() == 1; }, kWait));
  controller->pause();
  EXPECT_EQ(resolver->release(), 1u);
  ASSERT_TRUE(waitReady());
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(controller->player()->rate(), 0.0f);
  EXPECT_FALSE(controller->isPlaying());
  controller->play();
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->isPlaying() && now() > 0.2; }, kWait));
}

TEST_F(CachingStreamingFixture, AnotherQualityDeletesThePartialAndDownloadsThatStream) {
  setStringSetting(kPreferredVideoQualityKey, "720");
  auto clip = pltest::testMedia({.seconds = 3});
  ASSERT_FALSE(clip.empty());
  auto bytes = pltest::readMedia(clip);
  // itag 22 never ends while the test looks.
  server.route("GET", "/v22", [bytes](const pltest::FakeRequest&) {
    return pltest::FakeReply::stalled(bytes.substr(0, bytes.size() / 3),
                                      static_cast<long long>(bytes.size()));
  });
  server.route("GET", "/v18", pltest::mediaRoute(clip));
  resolver->setEntry("qualityL1", {.urlMap = {{18, origin("/v18")}, {22, origin("/v22")}}});
  auto cacheServer = ns::make<CacheServer>(0);
  cacheServer->start();
  main->setAnswers({.cacheServer = cacheServer});

  controller->loadVideo(row("qualityL1"));
  auto bar = controller->controlBar();
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return originRequests("/v22") >= 1 && bar->qualityPopUp()->isEnabled(); }, kWait));
  EXPECT_EQ(bar->qualityPopUp()->itemTitles(), (std::vector<std::string>{"720p", "360p"}));
  EXPECT_EQ(bar->qualityPopUp()->titleOfSelectedItem(), "720p");
  auto partial = *getTempFolderFilePath("qualityL1.mp4");
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::filesystem::exists(partial); }, kWait));

  bar->qualityPopUp()->selectItemWithTitle("360p");
  bar->onQuality(bar->qualityPopUp());
  EXPECT_EQ(getChosenVideoQuality(std::string("qualityL1")), "360");
  ASSERT_TRUE(pltest::pumpUntil([&] { return originRequests("/v18") >= 1; }, kWait));
  EXPECT_EQ(originRequests("/v22"), 1u);
  auto cached = *getCachedVideoPath("qualityL1");
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::filesystem::exists(cached); }, kWait));
  EXPECT_EQ(pltest::readMedia(cached), bytes);
}

TEST_F(CachingStreamingFixture, FinishedDownloadSwitchesToTheCachedFileAtTheSamePlace) {
  auto clip = pltest::testMedia({.seconds = 6});
  ASSERT_FALSE(clip.empty());
  server.route("GET", "/v18", pltest::mediaRoute(clip));
  resolver->setEntry("switchM1", {.urlMap = {{18, origin("/v18")}}});
  auto cacheServer = ns::make<CacheServer>(0);
  cacheServer->start();
  main->setAnswers({.cacheServer = cacheServer});

  controller->playVideo(row("switchM1"));
  // Far enough in that an item starting over would show itself well before this place.
  ASSERT_TRUE(pltest::pumpUntil([&] { return now() >= 2.0; }, kWait));
  EXPECT_EQ(item()->URL()->scheme(), "http");
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return std::filesystem::exists(*getCachedVideoPath("switchM1")); }, kWait));
  // Another video's change leaves the item alone; the loaded video's cached copy replaces it.
  controller->updateVideoUrlIfNeeded("otherM2");
  EXPECT_EQ(item()->URL()->scheme(), "http");
  FirstPlaces places(controller->player());
  double before = now();
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(k1080pStatusChangedNotification);
  ASSERT_TRUE(pltest::pumpUntil([&] { return item()->URL()->scheme() == "file"; }, kWait));
  ASSERT_TRUE(waitReady());
  // The cached file first shows itself where the stream was, and plays on from there.
  ASSERT_TRUE(pltest::pumpUntil([&] { return places.of(item()).has_value(); }, kWait)) << now();
  double first = *places.of(item());
  EXPECT_NEAR(first, before, 0.5);
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return controller->player()->rate() == 1.0f && now() > first; }, kWait));
  EXPECT_TRUE(controller->isPlaying());
}

}  // namespace
}  // namespace playertest
