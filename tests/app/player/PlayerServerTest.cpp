// Playing while the download goes on: through the local media server from its first bytes, a
// stalled download's restart, the server going away under the player, and a 1080p pair's
// preview until its join.
#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/MuxingTool.h"
#include "app/cache/YoutubeResponse.h"
#include "app/library/DBAccess.h"
#include "common/Settings.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/media/MediaNames.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/app/player/PlayerTestKit.h"

namespace playertest {
namespace {

// The local media server answers a read of a downloading video only once every byte the read
// asks for (up to its 512 KiB chunk, so the whole of a small clip) is on disk.
class ServerPlaybackFixture : public StreamingFixture {
 protected:
  ~ServerPlaybackFixture() override {
    resume.open();
    server.release();
  }

  // The origin sends the first `held` bytes of a request without a range and then nothing more
  // (until release() cuts it); a resumed request, with a range, gets the rest once `resume`
  // opens.
  void serveHeld(const std::string& path, const std::filesystem::path& clip, std::size_t held) {
    auto bytes = pltest::readMedia(clip);
    auto whole = pltest::mediaRoute(clip);
    server.route("GET", path, [this, bytes, held, whole](const pltest::FakeRequest& request) {
      if (!request.header("Range")) return pltest::FakeReply::stalled(bytes.substr(0, held), bytes.size());
      resume.wait(std::chrono::seconds(120));
      return whole(request);
    });
  }
  void startCacheServer() {
    cacheServer = ns::make<CacheServer>(0);
    cacheServer->start();
    main->setAnswers({.cacheServer = cacheServer, .repeatType = 3});
  }
  std::string serverURL(const std::string& videoId) { return cacheServer->urlStringForVideoId(videoId); }
  bool playingFrom(double seconds) { return controller->player()->rate() == 1.0f && now() >= seconds; }
  // The player played what the origin sent and waits for more.
  bool starved() {
    return item() && item()->status() == av::PlayerItemStatusReadyToPlay && item()->isPlaybackBufferEmpty() &&
           controller->videoView()->isBuffering();
  }

  pltest::VirtualClock clock;
  cachetest::Gate resume;
  cachetest::NotificationCounter ended{std::string(av::AVPlayerItemDidPlayToEndTimeNotification)};
  ns::Ref<CacheServer> cacheServer;
};

TEST_F(ServerPlaybackFixture, PlaybackStartsWhileTheOriginStillHoldsTheRest) {
  auto clip = pltest::testMedia({.seconds = 6, .pattern = pltest::MediaPattern::Solid, .colour = "red"});
  ASSERT_FALSE(clip.empty());
  auto bytes = pltest::readMedia(clip);
  serveHeld("/v18", clip, bytes.size() * 6 / 10);
  resume.open();
  resolver->setEntry("earlyP1", {.urlMap = {{18, origin("/v18")}}});
  startCacheServer();

  controller->playVideo(row("earlyP1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return item() != nullptr; }, kWait));
  EXPECT_EQ(itemURL(), serverURL("earlyP1"));
  auto downloader = getDownloaderForVideoId("earlyP1");
  ASSERT_NE(downloader, nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(1.0); }, kWait)) << now();
  // Plays while 40% of the file is still at the origin.
  EXPECT_LT(downloader->downloadedBytes(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_FALSE(std::filesystem::exists(*getCachedVideoPath("earlyP1")));
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->player()->currentVideoFrame().width > 0; }, kWait));
  auto rgb = renderedCentre(controller, "red");
  EXPECT_NEAR(rgb.r, 255, 20);
  EXPECT_NEAR(rgb.g, 0, 20);
  EXPECT_NEAR(rgb.b, 0, 20);

  // The cut connection fails the transfer; the cache manager's next step resumes it (its timer
  // stands still on the virtual clock).
  server.release();
  ASSERT_TRUE(pltest::pumpUntil([&] { return !downloader->isDownloading(); }, kWait));
  cacheServer->runCacheAlgorithm();
  auto cached = *getCachedVideoPath("earlyP1");
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::filesystem::exists(cached); }, kWait));
  EXPECT_EQ(pltest::readMedia(cached), bytes);
  EXPECT_EQ(cachetest::rangesOf(server, "/v18"),
            (std::vector<std::string>{"", "bytes=" + std::to_string(bytes.size() * 6 / 10 - 1) + "-"}));
  EXPECT_EQ(resolver->requestedIds(), std::vector<std::string>{"earlyP1"});
  ASSERT_TRUE(pltest::pumpUntil([&] { return ended.count() == 1; }, kWait));
  EXPECT_FALSE(controller->videoView()->isMessageVisible());
}

TEST_F(ServerPlaybackFixture, StalledDownloadRestartsTheServerAndThePlayerComesBackAtItsPlace) {
  auto clip = pltest::testMedia({.seconds = 6});
  ASSERT_FALSE(clip.empty());
  auto bytes = pltest::readMedia(clip);
  serveHeld("/v18", clip, bytes.size() * 4 / 10);
  resolver->setEntry("stallQ1", {.urlMap = {{18, origin("/v18")}}});
  startCacheServer();

  controller->playVideo(row("stallQ1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(0.5); }, kWait));
  ASSERT_TRUE(pltest::pumpUntil([&] { return starved(); }, kWait));
  double place = now();
  auto stalledItem = item();
  auto downloader = getDownloaderForVideoId("stallQ1");
  ASSERT_NE(downloader, nullptr);
  downloader->checkIfStalled();
  EXPECT_FALSE(downloader->isStalled());
  downloader->checkIfStalled();
  EXPECT_TRUE(downloader->isStalled());

  // The server restarts and the video is resolved again, which resumes its download; the new
  // item waits for the origin with the spinner turning.
  ASSERT_TRUE(pltest::pumpUntil([&] { return resume.arrived() && item() && item() != stalledItem; }, kWait));
  EXPECT_EQ(resolver->requestedIds(), (std::vector<std::string>{"stallQ1", "stallQ1"}));
  EXPECT_EQ(itemURL(), serverURL("stallQ1"));
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_TRUE(controller->videoView()->isBuffering());
  EXPECT_FALSE(controller->videoView()->isMessageVisible());
  EXPECT_EQ(ended.count(), 0);
  EXPECT_EQ(controller->videoId(), "stallQ1");

  FirstPlaces places(controller->player());
  resume.open();
  // Where the new item first shows itself: at the place the stalled one starved at.
  ASSERT_TRUE(pltest::pumpUntil([&] { return places.of(item()).has_value(); }, kWait)) << now();
  EXPECT_NEAR(*places.of(item()), place, 0.5);
  ASSERT_TRUE(pltest::pumpUntil([&] { return ended.count() > 0; }, kWait));
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(controller->videoView()->isMessageVisible());
  EXPECT_EQ(pltest::readMedia(*getCachedVideoPath("stallQ1")), bytes);
}

TEST_F(ServerPlaybackFixture, ServerGoneUnderThePlayerKeepsItsPlaceUntilTheURLIsRenewed) {
  // Long enough that the place it stops at is a position to keep.
  auto clip = pltest::testMedia({.seconds = 20});
  ASSERT_FALSE(clip.empty());
  auto bytes = pltest::readMedia(clip);
  serveHeld("/v18", clip, bytes.size() * 2 / 10);
  resume.open();
  resolver->setEntry("restartR1", {.urlMap = {{18, origin("/v18")}}});
  startCacheServer();

  controller->playVideo(row("restartR1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(0.5) || starved(); }, kWait));
  ASSERT_TRUE(pltest::pumpUntil([&] { return starved(); }, kWait));
  double place = now();
  auto failing = item();

  // A stall's first steps: the server goes (the player's reconnection finds none) and the
  // transfer stops.
  ++serverCount;
  cacheServer->httpServer()->stop();
  getDownloaderForVideoId("restartR1")->stopDownload();
  ASSERT_TRUE(pltest::pumpUntil([&] { return failing->status() == av::PlayerItemStatusFailed; }, kWait));
  ASSERT_TRUE(pltest::drainMode());
  // Neither an end nor an error: the same item waits with the spinner, at its place.
  EXPECT_EQ(item(), failing);
  EXPECT_FALSE(controller->videoView()->isMessageVisible());
  EXPECT_TRUE(controller->videoView()->isBuffering());
  EXPECT_EQ(ended.count(), 0);
  EXPECT_EQ(controller->videoId(), "restartR1");
  EXPECT_EQ(resolver->requestedIds().size(), 1u);
  controller->savePosition();
  double kept = DBAccess::getInstance()->getPlayPositionForId("restartR1");
  EXPECT_NEAR(kept, place, 0.5);
  EXPECT_EQ(DBAccess::getInstance()->getPlayedStateForId("restartR1"), 2);

  FirstPlaces places(controller->player());
  controller->updateVideoUrlIfNeeded("restartR1");
  // The kept place is sought once the new item knows its duration, which can come after the item
  // is ready at its first frame: the first place it shows past its start is the kept one.
  ASSERT_TRUE(pltest::pumpUntil([&] { return item() != failing && places.of(item()).has_value(); }, kWait))
      << now();
  EXPECT_NEAR(*places.of(item()), kept, 0.5);
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(kept + 0.5); }, kWait));
  EXPECT_FALSE(controller->videoView()->isMessageVisible());
}

TEST_F(ServerPlaybackFixture, OtherFailuresShowTheMessage) {
  setIntSetting(kCachePolicyKey, 0);
  // The direct stream is refused by its origin.
  resolver->setEntry("refusedS1", {.urlMap = {{18, origin("/gone")}}});
  controller->playVideo(row("refusedS1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->videoView()->isMessageVisible(); }, kWait));
  EXPECT_EQ(controller->videoView()->message(), "Can not play video");
  EXPECT_FALSE(controller->videoView()->isBuffering());
  EXPECT_EQ(ended.count(), 0);
  clock.advance(PlayerViewController::kMessageSeconds);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !controller->videoView()->isMessageVisible(); }, kWait));

  // A server item whose download is in error is not waited for.
  setIntSetting(kCachePolicyKey, 1);
  auto clip = pltest::testMedia({.seconds = 6});
  ASSERT_FALSE(clip.empty());
  auto bytes = pltest::readMedia(clip);
  server.route("GET", "/v18", [bytes](const pltest::FakeRequest& request) {
    if (request.header("Range")) return pltest::FakeReply::text(403, "no");
    return pltest::FakeReply::cutShort(bytes.substr(0, bytes.size() / 2), bytes.size());
  });
  resolver->setEntry("brokenS2", {.urlMap = {{18, origin("/v18")}}});
  startCacheServer();
  controller->playVideo(row("brokenS2"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return item() != nullptr; }, kWait));
  auto downloader = getDownloaderForVideoId("brokenS2");
  ASSERT_NE(downloader, nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !downloader->isDownloading(); }, kWait));
  // The resumed transfer is refused: the video is in error for the run.
  EXPECT_TRUE(downloader->startDownloadAlways());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isError(); }, kWait));
  cacheServer->restart();
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->videoView()->isMessageVisible(); }, kWait));
  EXPECT_EQ(controller->videoView()->message(), "Can not play video");
  EXPECT_EQ(ended.count(), 0);
  clock.advance(PlayerViewController::kMessageSeconds);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !controller->videoView()->isMessageVisible(); }, kWait));

  // An error reply is waited out before the download asks again: the item shows the row's
  // error rather than a spinner.
  server.route("GET", "/v404",
               [](const pltest::FakeRequest&) { return pltest::FakeReply::text(404, "gone"); });
  resolver->setEntry("missingS3", {.urlMap = {{18, origin("/v404")}}});
  controller->playVideo(row("missingS3"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return controller->videoView()->isMessageVisible(); }, kWait));
  EXPECT_EQ(controller->videoView()->message(), "HTTP 404");
  EXPECT_EQ(getDownloadError("missingS3"), "HTTP 404");
  EXPECT_FALSE(controller->videoView()->isBuffering());
  EXPECT_EQ(controller->videoId(), "missingS3");
  EXPECT_EQ(ended.count(), 0);
}

// A 1080p pair: the video-only and audio-only halves of the clip.
std::pair<std::string, std::string> splitClip(const std::filesystem::path& clip, const std::string& folder) {
  std::string video = folder + "/video-only.mp4", audio = folder + "/audio-only.mp4";
  if (runTask("/usr/bin/ffmpeg",
              {"-nostdin", "-loglevel", "error", "-y", "-i", clip.string(), "-an", "-c:v", "copy",
               "-movflags", "+faststart", video},
              true) != 0 ||
      runTask("/usr/bin/ffmpeg",
              {"-nostdin", "-loglevel", "error", "-y", "-i", clip.string(), "-vn", "-c:a", "copy",
               "-movflags", "+faststart", audio},
              true) != 0)
    return {};
  return {video, audio};
}

TEST_F(ServerPlaybackFixture, PairPlaysItsPreviewUntilTheJoinThenTheCachedFileAtTheSamePlace) {
  setStringSetting(kPreferredVideoQualityKey, "1080");
  // Long enough for the preview to outlast the join.
  auto clip = pltest::testMedia({.seconds = 15});
  ASSERT_FALSE(clip.empty());
  auto [video, audio] = splitClip(clip, sandbox.root().string());
  ASSERT_FALSE(video.empty()) << "ffmpeg could not split the clip";
  server.route("GET", "/v18", pltest::mediaRoute(clip));
  for (auto [path, file] : {std::pair{"/v137", video}, std::pair{"/v140", audio}}) {
    auto body = pltest::readMedia(file);
    server.route("GET", path, [this, body](const pltest::FakeRequest&) {
      resume.wait(std::chrono::seconds(120));
      return pltest::FakeReply::text(200, body, "video/mp4");
    });
  }
  resolver->setEntry("pairT1",
                     {.urlMap = {{18, origin("/v18")}, {137, origin("/v137")}, {140, origin("/v140")}}});
  startCacheServer();

  controller->playVideo(row("pairT1"));
  // The single-file stream plays while both halves download.
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(1.0); }, kWait)) << now();
  EXPECT_EQ(itemURL(), origin("/v18"));
  EXPECT_EQ(originRequests("/v137"), 1u);
  EXPECT_EQ(originRequests("/v140"), 1u);
  auto downloader = getDownloaderForVideoId("pairT1");
  ASSERT_NE(downloader, nullptr);
  EXPECT_TRUE(downloader->isDashStream());
  EXPECT_FALSE(downloader->isComplete());

  // Far enough in that an item starting over would show itself well before this place.
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(2.0); }, kWait)) << now();
  cachetest::NotificationCounter joined(k1080pStatusChangedNotification);
  FirstPlaces places(controller->player());
  double before = 0;
  resume.open();
  // The join's notice switches to the cached file where the preview was.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        if (joined.count() == 0) before = now();
        return joined.count() > 0;
      },
      kWait));
  EXPECT_EQ(joined.count(), 1);
  EXPECT_EQ(item()->URL()->path(), *getCachedVideoPath("pairT1"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return places.of(item()).has_value(); }, kWait)) << now();
  EXPECT_NEAR(*places.of(item()), before, 0.5);
  ASSERT_TRUE(pltest::pumpUntil([&] { return playingFrom(before + 0.3); }, kWait));
  EXPECT_FALSE(controller->videoView()->isMessageVisible());
}

}  // namespace
}  // namespace playertest
