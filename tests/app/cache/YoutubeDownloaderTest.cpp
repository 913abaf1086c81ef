// The video downloader end to end: the stream choice, the info file, completion into the cache,
// failures with their retry delay, stalls, 403s, a download resumed after its process was
// killed, and a video-and-audio pair joined by the real ffmpeg. A loopback origin, the fake
// stream resolver and player, real files, a real library file and real child processes.
#include "app/cache/YoutubeDownloader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>

#include "app/cache/CacheNotifications.h"
#include "app/cache/MuxingTool.h"
#include "app/cache/PelCacheOperation.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/Settings.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/foundation/Task.h"
#include "platform/runloop/Clock.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Pump.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace {

using cachetest::exists;
using cachetest::mediaBody;
using cachetest::readFile;
using cachetest::writeFile;
using testsupport::FakeStreamResolver;

std::uint64_t sizeOf(const std::string& path) {
  return PelCacheOperation::fileSizeForPath(path);
}

class YoutubeDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override { setStringSetting(kPreferredVideoQualityKey, "720"); }

  // The resolver answers `itags` with URLs of the origin's "/<id>/<itag>".
  void offer(const std::string& videoId, std::initializer_list<int> itags,
             std::optional<std::string> error = {}) {
    FakeStreamResolver::Entry entry;
    for (int itag : itags) entry.urlMap[itag] = origin.URLForPath("/" + videoId + "/" + std::to_string(itag));
    entry.videoInfo = ns::Dictionary{{ns::Value("title"), ns::Value("Title of " + videoId)}};
    entry.error = std::move(error);
    resolver->setEntry(videoId, entry);
  }
  void serve(const std::string& path, const std::string& body) {
    origin.canned("GET", path, pltest::FakeReply::text(200, body, "video/mp4"));
  }
  // Starts a new downloader for the video and pumps until it completed (left the registry).
  ns::Ref<YoutubeDownloader> download(const std::string& videoId) {
    auto downloader = YoutubeDownloader::initWithId(videoId);
    EXPECT_TRUE(downloader->startDownload());
    EXPECT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete() || downloader->isError(); }, 60));
    return downloader;
  }

  cachetest::CacheSandbox home;
  pltest::FakeServer origin;
  ns::Ref<FakeStreamResolver> resolver = ns::make<FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver{resolver};
  ns::Ref<testsupport::FakePlayerViewController> player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer{player};
};

struct ChoiceCase {
  const char* quality;
  std::vector<int> itags;
  int partialType;  // 0: no partial
  int videotype;
  int audiotype;  // 0: no pair
};

TEST_F(YoutubeDownloaderTest, TheStreamFollowsTheQualityThePartialAndTheStreamsOffered) {
  const ChoiceCase cases[] = {
      {"360", {18, 22}, 0, 18, 0},
      {"720", {18, 22}, 0, 22, 0},
      {"720", {18}, 0, 18, 0},
      {"240", {18, 36}, 0, 36, 0},
      {"240", {18}, 0, 18, 0},
      {"1080", {18, 22, 137, 140}, 0, 137, 140},
      {"1080", {18, 22, 137, 139, 140, 141}, 0, 137, 141},
      {"1080", {18, 22, 137, 139}, 0, 137, 139},
      {"1080", {18, 22, 37, 137, 140}, 0, 37, 0},
      // A video-only stream without any audio stream is no choice.
      {"1080", {18, 22, 137}, 0, 22, 0},
      {"1080", {18, 137}, 0, 18, 0},
      {"1080", {18}, 0, 18, 0},
      // The partial steers...
      {"360", {18, 22}, 22, 22, 0},
      {"360", {18, 22, 137, 140}, 137, 137, 140},
      // ...but a partial of another stream than the one chosen is started afresh.
      {"720", {18, 22}, 18, 22, 0},
  };
  origin.route("GET", ".*", [](const pltest::FakeRequest&) { return pltest::FakeReply::text(404, "gone"); });
  int n = 0;
  for (const auto& c : cases) {
    std::string videoId = "choice" + std::to_string(n++);
    SCOPED_TRACE(videoId + " quality " + c.quality);
    setChosenVideoQuality(videoId, std::string(c.quality));
    std::string partial = home.temp(videoId + ".mp4");
    if (c.partialType != 0) {
      writeFile(partial, "partial bytes");
      ns::writePropertyListToFile_atomically(
          ns::Dictionary{{ns::Value("videotype"), ns::Value(c.partialType)}}, home.temp(videoId + ".info"),
          true);
    }
    auto record = YoutubeSupport::initWithYoutubeId(videoId);
    for (int itag : c.itags)
      record->urlMap()[itag] = origin.URLForPath("/" + videoId + "/" + std::to_string(itag));
    auto downloader = YoutubeDownloader::initWithId(videoId);
    downloader->urlFetched(record);
    downloader->stopDownload();

    EXPECT_EQ(downloader->videotype(), c.videotype);
    EXPECT_EQ(downloader->url(), record->urlMap()[c.videotype]);
    EXPECT_EQ(downloader->isDashStream(), c.audiotype != 0);
    EXPECT_EQ(downloader->audiotype(), c.audiotype);
    if (c.audiotype) {
      EXPECT_EQ(downloader->audiourl(), record->urlMap()[c.audiotype]);
      EXPECT_EQ(downloader->previewUrl(), record->urlMap()[18]);
    } else {
      EXPECT_FALSE(downloader->audiourl());
    }
    // The partial of another stream is gone (the new transfer starts an empty file); one of the
    // same stream stays.
    if (c.partialType != 0) {
      EXPECT_EQ(readFile(partial) == "partial bytes", c.partialType == c.videotype);
    }
    ns::Value info = ns::dictionaryWithContentsOfFile(home.temp(videoId + ".info"));
    ASSERT_TRUE(info.isDictionary());
    EXPECT_EQ(info["videotype"].intValue(), c.videotype);
    EXPECT_EQ(info["audiotype"].intValue(), c.audiotype);
    EXPECT_EQ(getCachedVideoHeight(videoId), c.videotype == 22                         ? 720
                                             : c.videotype == 36                       ? 240
                                             : c.videotype == 137 || c.videotype == 37 ? 1080
                                                                                       : 360);
  }
}

TEST_F(YoutubeDownloaderTest, ALaterChoiceClearsAnEarlierPair) {
  origin.route("GET", ".*", [](const pltest::FakeRequest&) { return pltest::FakeReply::text(404, "gone"); });
  auto downloader = YoutubeDownloader::initWithId("later");
  auto dash = YoutubeSupport::initWithYoutubeId("later");
  dash->urlMap() = {
      {18, origin.URLForPath("/18")}, {137, origin.URLForPath("/137")}, {140, origin.URLForPath("/140")}};
  setChosenVideoQuality(std::string("later"), std::string("1080"));
  downloader->urlFetched(dash);
  downloader->stopDownload();
  ASSERT_TRUE(downloader->isDashStream());

  // The partial of the pair is of no use to the single stream now chosen.
  std::filesystem::remove(home.temp("later.info"));
  setChosenVideoQuality(std::string("later"), std::string("360"));
  auto single = YoutubeSupport::initWithYoutubeId("later");
  single->urlMap() = {{18, origin.URLForPath("/18")}};
  downloader->urlFetched(single);
  downloader->stopDownload();
  EXPECT_FALSE(downloader->isDashStream());
  EXPECT_EQ(downloader->videotype(), 18);
  EXPECT_EQ(downloader->audiotype(), 0);
  EXPECT_FALSE(downloader->audiourl());
  ns::Value info = ns::dictionaryWithContentsOfFile(home.temp("later.info"));
  EXPECT_FALSE(info["audiotype"]);
  EXPECT_FALSE(info["audiourl"]);
}

TEST_F(YoutubeDownloaderTest, NoStreamMarksTheVideoFailedAndWritesNothing) {
  offer("nostream", {}, std::string("This video is unavailable."));
  auto downloader = YoutubeDownloader::initWithId("nostream");
  EXPECT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isError() && hasDownloadError("nostream"); }));
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return YoutubeSupport::failedRequestErrorForVideoId("nostream").has_value(); }));
  EXPECT_EQ(getDownloadError("nostream"), "This video is unavailable.");
  EXPECT_FALSE(exists(home.temp("nostream.info")));
  EXPECT_FALSE(downloader->startDownload());
  EXPECT_EQ(origin.requestCount(), 0u);
}

TEST_F(YoutubeDownloaderTest, ASingleStreamEndsInTheCacheWithItsInfoFile) {
  std::string resource = mediaBody(5000);
  offer("single", {18, 22});
  serve("/single/22", resource);
  cachetest::NotificationCounter changed(kVideoInfoChangedNotification);
  setVideoInfoDirty(false);

  auto downloader = download("single");
  ASSERT_TRUE(downloader->isComplete());
  EXPECT_EQ(readFile(home.cache("single.mp4")), resource);
  EXPECT_FALSE(exists(home.temp("single.mp4")));
  ns::Value info = ns::dictionaryWithContentsOfFile(home.cache("single.info"));
  ASSERT_TRUE(info.isDictionary());
  EXPECT_EQ(info["videotype"].intValue(), 22);
  EXPECT_EQ(info["url"].stringValue(), origin.URLForPath("/single/22"));
  EXPECT_EQ(info["availableVideoFormat"], ns::Value(ns::Array{ns::Value(18), ns::Value(22)}));
  EXPECT_EQ(info["filesize"].unsignedLongLongValue(), 5000u);
  EXPECT_EQ(info["title"].stringValue(), "Title of single");
  EXPECT_EQ(getAvailableVideoFormats("single"), (std::vector<std::int32_t>{18, 22}));

  EXPECT_EQ(getDownloaderForVideoId("single"), nullptr);
  EXPECT_TRUE(isVideoCached("single"));
  EXPECT_GE(changed.count(), 1);
  EXPECT_TRUE(videoInfoDirty());
  EXPECT_EQ(home.removedFromQueues(), std::vector<std::string>{"single"});
  EXPECT_EQ(downloader->downloadedBytes(), 5000);
  EXPECT_EQ(downloader->contentLength(), 5000);
  EXPECT_EQ(cachetest::rangesOf(origin, "/single/18").size(), 0u);
  // Nothing of the partial stays behind.
  EXPECT_FALSE(exists(home.temp("single.info")));
}

TEST_F(YoutubeDownloaderTest, BytesThatAreNoMediaAreNotCached) {
  struct Case {
    const char* name;
    std::string body;
  };
  std::string random = mediaBody(5000, 9);
  random.replace(4, 4, "junk");
  const Case cases[] = {
      {"random bytes", random},
      {"an HTML page", "<html><body>Sorry, this video is not available.</body></html>"},
      {"too short to hold a box", "ftyp"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string videoId = "junk" + std::to_string(n++);
    offer(videoId, {22});
    serve("/" + videoId + "/22", c.body);
    auto downloader = download(videoId);
    EXPECT_FALSE(downloader->isComplete());
    EXPECT_TRUE(downloader->isError());
    EXPECT_FALSE(exists(home.cache(videoId + ".mp4")));
    EXPECT_FALSE(exists(home.temp(videoId + ".mp4")));
    EXPECT_FALSE(hasVideoCacheState(videoId));
    ASSERT_TRUE(pltest::pumpUntil([&] { return hasDownloadError(videoId); }));
    EXPECT_EQ(getDownloadError(videoId), "Not a video file");
  }
}

TEST_F(YoutubeDownloaderTest, AReplyOfUnknownLengthCompletesWithTheBytesHeld) {
  std::string resource = mediaBody(3000);
  offer("chunked", {18});
  setChosenVideoQuality(std::string("chunked"), std::string("360"));
  origin.canned("GET", "/chunked/18",
                pltest::FakeReply::chunked({resource.substr(0, 1000), resource.substr(1000)}, "video/mp4"));
  setStringSetting(kUserAgentKey, "Pelorin-Test/1.0");
  auto downloader = download("chunked");
  ASSERT_TRUE(downloader->isComplete());
  EXPECT_EQ(readFile(home.cache("chunked.mp4")), resource);
  EXPECT_TRUE(isVideoCached("chunked"));
  ASSERT_EQ(origin.requests().size(), 1u);
  EXPECT_EQ(origin.requests()[0].header("User-Agent"), "Pelorin-Test/1.0");
}

TEST_F(YoutubeDownloaderTest, AConnectionClosedEarlyCountsAFailureAndResumesAfterTheDelay) {
  pltest::VirtualClock clock;
  std::string resource = mediaBody(3 << 20, 5);
  offer("cut", {22});
  auto calls = std::make_shared<std::atomic<int>>(0);
  origin.route("GET", "/cut/22", [resource, calls](const pltest::FakeRequest&) {
    if ((*calls)++ == 0) return pltest::FakeReply::cutShort(resource.substr(0, 1 << 20), resource.size());
    return pltest::FakeReply::text(200, resource, "video/mp4");
  });
  auto downloader = YoutubeDownloader::initWithId("cut");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->errorCount() == 1; }, 30));
  EXPECT_EQ(downloader->validAfter(), static_cast<std::int64_t>(std::floor(ns::Clock::wallNow())) + 60);
  EXPECT_FALSE(downloader->isDownloading());
  EXPECT_FALSE(downloader->isComplete());
  auto held = sizeOf(home.temp("cut.mp4"));
  ASSERT_GT(held, 1u);
  EXPECT_EQ(readFile(home.temp("cut.mp4")), resource.substr(0, held));
  // Within the delay the cache manager's start is refused; the delay lifted, it resumes.
  EXPECT_FALSE(downloader->startDownload());
  clock.advance(30);
  EXPECT_FALSE(downloader->startDownload());
  downloader->setValidAfterToZero();
  EXPECT_EQ(downloader->errorCount(), 1);
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 30));
  EXPECT_TRUE(readFile(home.cache("cut.mp4")) == resource);
  auto ranges = cachetest::rangesOf(origin, "/cut/22");
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[1], "bytes=" + std::to_string(held - 1) + "-");
}

TEST_F(YoutubeDownloaderTest, TwoStepsWithoutProgressStopTheTransferOnce) {
  std::string resource = mediaBody(5000);
  offer("stall", {22});
  origin.canned("GET", "/stall/22", pltest::FakeReply::stalled(resource.substr(0, 1000), 5000));
  auto downloader = YoutubeDownloader::initWithId("stall");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->downloadedBytes() == 1000; }, 30));
  ASSERT_TRUE(downloader->isDownloading());

  downloader->checkIfStalled();
  EXPECT_FALSE(downloader->isStalled());
  downloader->checkIfStalled();
  EXPECT_TRUE(downloader->isStalled());
  ASSERT_TRUE(pltest::pumpUntil([&] { return !downloader->isDownloading() && home.restarts() == 1; }));
  downloader->checkIfStalled();
  EXPECT_EQ(home.restarts(), 1);
  EXPECT_EQ(player->calls(), std::vector<std::string>{"updateVideoUrlIfNeeded(stall)"});
  EXPECT_EQ(downloader->downloadRequest(), nullptr);
  EXPECT_EQ(readFile(home.temp("stall.mp4")), resource.substr(0, 1000));
  EXPECT_EQ(downloader->errorCount(), 0);

  // The next start resumes from the partial file.
  origin.canned("GET", "/stall/22", pltest::FakeReply::text(200, resource, "video/mp4"));
  origin.release();
  ASSERT_TRUE(downloader->startDownload());
  EXPECT_FALSE(downloader->isStalled());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 30));
  EXPECT_EQ(cachetest::rangesOf(origin, "/stall/22").back(), "bytes=999-");
  EXPECT_EQ(readFile(home.cache("stall.mp4")), resource);
}

TEST_F(YoutubeDownloaderTest, AForbiddenReplyPutsTheVideoInErrorForTheRun) {
  offer("forbidden", {22});
  origin.canned("GET", "/forbidden/22", pltest::FakeReply::text(403, "Forbidden"));
  auto downloader = YoutubeDownloader::initWithId("forbidden");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return hasDownloadError("forbidden"); }, 30));
  EXPECT_TRUE(downloader->isError());
  EXPECT_EQ(downloader->errorCount(), 1);
  // The record had no error text: the table keeps the reason, so the video stays refused.
  EXPECT_EQ(getDownloadError("forbidden"), "HTTP 403");
  EXPECT_FALSE(downloader->isValid());
  EXPECT_FALSE(downloader->startDownload());
  EXPECT_FALSE(isAnyDownloadActive());
  EXPECT_FALSE(exists(home.cache("forbidden.mp4")));
}

TEST_F(YoutubeDownloaderTest, ANewDownloaderStopsTheOlderOneOfTheSameVideo) {
  std::string resource = mediaBody(5000);
  offer("twice", {22});
  origin.canned("GET", "/twice/22", pltest::FakeReply::stalled(resource.substr(0, 1000), 5000));
  auto older = YoutubeDownloader::initWithId("twice");
  ASSERT_TRUE(older->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return older->downloadedBytes() == 1000; }, 30));
  auto newer = YoutubeDownloader::initWithId("twice");
  EXPECT_FALSE(older->isDownloading());
  EXPECT_EQ(older->downloadRequest(), nullptr);
  EXPECT_EQ(getDownloaderForVideoId("twice"), newer);
  EXPECT_EQ(newer->downloadedBytes(), 1000);
  origin.release();
  // Ids that cannot name a file get no downloader.
  EXPECT_EQ(YoutubeDownloader::initWithId("../../escape"), nullptr);
  EXPECT_EQ(YoutubeDownloader::initWithId(""), nullptr);
}

// ---- a download resumed after its process was killed ----

constexpr char kOriginEnvironmentKey[] = "PELORIN_TEST_CACHE_ORIGIN";

// Run by the parent below: downloads until it is killed.
TEST(YoutubeDownloaderChild, DISABLED_DownloadsUntilKilled) {
  const char* url = std::getenv(kOriginEnvironmentKey);
  if (!url) GTEST_SKIP() << "run by the parent test only";
  auto resolver = ns::make<FakeStreamResolver>();
  testsupport::ScopedStreamResolver installed(resolver);
  FakeStreamResolver::Entry entry;
  entry.urlMap[18] = url;
  resolver->setEntry("killed", entry);
  setChosenVideoQuality(std::string("killed"), std::string("360"));
  auto downloader = YoutubeDownloader::initWithId("killed");
  ASSERT_TRUE(downloader->startDownload());
  pltest::pumpUntil([&] { return downloader->isComplete(); }, 120);
}

TEST_F(YoutubeDownloaderTest, AKilledDownloadResumesFromItsPartialFile) {
  std::string resource = mediaBody(20 << 20, 9);
  origin.route("GET", "/big", [resource](const pltest::FakeRequest& request) {
    if (request.header("Range")) return pltest::FakeReply::text(200, resource, "video/mp4");
    return pltest::FakeReply::trickle(resource, 128 << 10, std::chrono::milliseconds(25));
  });
  home.sandbox().set(kOriginEnvironmentKey, origin.URLForPath("/big"));
  std::string partial = home.temp("killed.mp4");
  {
    pltest::RunningChildTest child("YoutubeDownloaderChild.DISABLED_DownloadsUntilKilled");
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(pltest::pumpUntil([&] { return sizeOf(partial) >= (4u << 20); }, 120));
    ASSERT_TRUE(child.kill(SIGKILL));
    int status = child.wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
  }
  auto held = sizeOf(partial);
  ASSERT_LT(held, resource.size());
  EXPECT_TRUE(readFile(partial) == resource.substr(0, held));

  origin.clearRequests();
  FakeStreamResolver::Entry entry;
  entry.urlMap[18] = origin.URLForPath("/big");
  resolver->setEntry("killed", entry);
  setChosenVideoQuality(std::string("killed"), std::string("360"));
  auto downloader = download("killed");
  ASSERT_TRUE(downloader->isComplete());
  EXPECT_EQ(cachetest::rangesOf(origin, "/big"),
            std::vector<std::string>{"bytes=" + std::to_string(held - 1) + "-"});
  EXPECT_TRUE(readFile(home.cache("killed.mp4")) == resource);
}

// ---- a video-and-audio pair ----

// Answers the program's standard output.
std::string outputOf(const std::string& program, const std::vector<std::string>& arguments) {
  auto task = ns::make<ns::Task>();
  task->setLaunchPath(program);
  task->setArguments(arguments);
  auto pipe = ns::Pipe::pipe();
  task->setStandardOutput(pipe);
  if (!task->launchAndReturnError(nullptr)) return {};
  ns::Data data = pipe->fileHandleForReading()->readDataToEndOfFile();
  task->waitUntilExit();
  return std::string(reinterpret_cast<const char*>(data.bytes()), data.length());
}

class DashPairTest : public YoutubeDownloaderTest {
 protected:
  void SetUp() override {
    YoutubeDownloaderTest::SetUp();
    std::string folder = home.sandbox().temporaryFolder("media").string();
    ASSERT_EQ(runTask("/usr/bin/ffmpeg",
                      {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=duration=1:size=160x120:rate=10",
                       "-an", "-c:v", "mpeg4", folder + "/video.mp4"},
                      true),
              0);
    ASSERT_EQ(runTask("/usr/bin/ffmpeg",
                      {"-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=1", "-vn", "-c:a", "aac",
                       folder + "/audio.mp4"},
                      true),
              0);
    video = readFile(folder + "/video.mp4");
    audio = readFile(folder + "/audio.mp4");
    offer("pair", {18, 137, 140});
    setChosenVideoQuality(std::string("pair"), std::string("1080"));
    serve("/pair/137", video);
    origin.route("GET", "/pair/140", [this](const pltest::FakeRequest&) {
      audioGate.wait();
      return pltest::FakeReply::text(200, audio, "audio/mp4");
    });
  }
  void TearDown() override { audioGate.open(); }

  std::string video;
  std::string audio;
  cachetest::Gate audioGate;
};

TEST_F(DashPairTest, BothStreamsAreJoinedIntoOneFileOnceBothAreIn) {
  cachetest::NotificationCounter joined(k1080pStatusChangedNotification);
  auto downloader = YoutubeDownloader::initWithId("pair");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return audioGate.arrived() && downloader->contentLength() > 0 && !downloader->isDownloading(); },
      30));
  // The video is in; the pair waits for its audio.
  EXPECT_EQ(readFile(home.temp("pair.mp4")), video);
  EXPECT_FALSE(downloader->isComplete());
  EXPECT_FALSE(hasVideoCacheState("pair"));
  EXPECT_EQ(joined.count(), 0);
  EXPECT_EQ(downloader->previewUrl(), origin.URLForPath("/pair/18"));

  audioGate.open();
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 60));
  EXPECT_EQ(joined.count(), 1);
  EXPECT_TRUE(isVideoCached("pair"));
  EXPECT_FALSE(downloader->previewUrl());
  EXPECT_EQ(outputOf("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "stream=codec_type", "-of",
                                          "csv=p=0", home.cache("pair.mp4")}),
            "video\naudio\n");
  ns::Value info = ns::dictionaryWithContentsOfFile(home.cache("pair.info"));
  EXPECT_EQ(info["audiotype"].intValue(), 140);
  EXPECT_EQ(info["filesize"].unsignedLongLongValue(), sizeOf(home.cache("pair.mp4")));
  EXPECT_FALSE(exists(home.temp("pair_join.mp4")));
}

TEST_F(DashPairTest, AnAudioStreamThatIsNoMediaIsNotJoined) {
  origin.canned("GET", "/pair/140",
                pltest::FakeReply::text(200, mediaBody(3000, 4).replace(4, 4, "junk"), "audio/mp4"));
  auto downloader = YoutubeDownloader::initWithId("pair");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isError(); }, 30));
  EXPECT_FALSE(downloader->isComplete());
  EXPECT_FALSE(exists(home.cache("pair.mp4")));
  EXPECT_FALSE(exists(home.temp("pair_Audio.mp4")));
  EXPECT_FALSE(hasVideoCacheState("pair"));
}

TEST_F(DashPairTest, AFailedJoinKeepsThePairAndCountsAFailure) {
  writeFile(getFFmpegPath(), "#!/bin/sh\nexit 1\n");
  ::chmod(getFFmpegPath().c_str(), 0755);
  audioGate.open();
  cachetest::NotificationCounter joined(k1080pStatusChangedNotification);
  auto downloader = YoutubeDownloader::initWithId("pair");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isAwaitingJoin(); }, 30));
  EXPECT_FALSE(downloader->isComplete());
  EXPECT_EQ(downloader->errorCount(), 1);
  EXPECT_EQ(readFile(home.temp("pair.mp4")), video);
  EXPECT_EQ(readFile(home.temp("pair_Audio.mp4")), audio);
  EXPECT_FALSE(exists(home.cache("pair.mp4")));
  EXPECT_FALSE(exists(home.temp("pair_join.mp4")));
  EXPECT_FALSE(hasVideoCacheState("pair"));
  EXPECT_EQ(joined.count(), 0);
  EXPECT_EQ(getDownloaderForVideoId("pair"), downloader);

  // A working tool later: the next start joins the pair without fetching anything again.
  std::filesystem::remove(getFFmpegPath());
  std::filesystem::create_symlink("/usr/bin/ffmpeg", getFFmpegPath());
  auto requests = origin.requestCount();
  downloader->setValidAfterToZero();
  ASSERT_TRUE(downloader->startDownload());
  EXPECT_TRUE(downloader->isComplete());
  EXPECT_EQ(joined.count(), 1);
  EXPECT_TRUE(isVideoCached("pair"));
  EXPECT_EQ(origin.requestCount(), requests);
}

TEST_F(DashPairTest, WithoutAToolThePairWaitsForItsJoinUntilALaterStep) {
  // No ffmpeg on PATH, and the maker's storage has none either.
  home.sandbox().set("PATH", home.sandbox().temporaryFolder("empty-bin").string());
  home.sandbox().set(kMakerFilesURLEnvironmentKey, origin.baseURL());
  audioGate.open();
  cachetest::NotificationCounter joined(k1080pStatusChangedNotification);
  auto downloader = YoutubeDownloader::initWithId("pair");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isAwaitingJoin(); }, 30));
  ASSERT_TRUE(pltest::pumpUntil([] { return !isFFmpegDownloading(); }, 30));
  EXPECT_FALSE(downloader->isComplete());
  EXPECT_FALSE(hasVideoCacheState("pair"));
  EXPECT_FALSE(exists(home.cache("pair.mp4")));
  EXPECT_EQ(downloader->errorCount(), 0);
  EXPECT_FALSE(isAnyDownloadActive());
  // A step without a tool changes nothing.
  downloader->checkIfStalled();
  EXPECT_FALSE(downloader->isComplete());

  std::filesystem::create_symlink("/usr/bin/ffmpeg", getFFmpegPath());
  downloader->checkIfStalled();
  EXPECT_TRUE(downloader->isComplete());
  EXPECT_TRUE(isVideoCached("pair"));
  EXPECT_EQ(joined.count(), 1);
  EXPECT_FALSE(exists(home.temp("pair.mp4")) || exists(home.temp("pair_Audio.mp4")));
}

TEST_F(YoutubeDownloaderTest, APlayerWaitingForTheStreamPlaysOnceItsLengthIsKnown) {
  std::string resource = mediaBody(5000);
  offer("waiting", {22});
  origin.canned("GET", "/waiting/22", pltest::FakeReply::stalled(resource.substr(0, 1000), 5000));
  player->setVideoId(std::string("waiting"));
  auto downloader = YoutubeDownloader::initWithId("waiting");
  downloader->setPlayAfterDownloadStart(true);
  auto record = YoutubeSupport::initWithYoutubeId("waiting");
  record->urlMap()[22] = origin.URLForPath("/waiting/22");
  downloader->urlFetched(record);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !player->calls().empty(); }, 30));
  EXPECT_EQ(player->calls(), std::vector<std::string>{"play"});
  EXPECT_EQ(downloader->contentLength(), 5000);
  origin.release();
}

TEST_F(DashPairTest, APairWhoseVideoFailedCompletesOnlyOnceTheVideoIsIn) {
  auto calls = std::make_shared<std::atomic<int>>(0);
  std::string body = video;
  origin.route("GET", "/pair/137", [body, calls](const pltest::FakeRequest&) {
    if ((*calls)++ == 0) return pltest::FakeReply::cutShort(body.substr(0, body.size() / 2), body.size());
    return pltest::FakeReply::text(200, body, "video/mp4");
  });
  audioGate.open();
  auto downloader = YoutubeDownloader::initWithId("pair");
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return downloader->errorCount() == 1 &&
               downloader->audioDownloadedBytes() == static_cast<std::int64_t>(audio.size());
      },
      30));
  // The audio is in, the video is not: no completion from the audio alone.
  cachetest::NotificationCounter joined(k1080pStatusChangedNotification);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->audioDownloadRequest()->isFinished(); }, 30));
  EXPECT_FALSE(downloader->isComplete());
  EXPECT_FALSE(hasVideoCacheState("pair"));

  downloader->setValidAfterToZero();
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 60));
  EXPECT_EQ(joined.count(), 1);
  EXPECT_EQ(cachetest::rangesOf(origin, "/pair/140").size(), 1u);
  EXPECT_EQ(outputOf("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "stream=codec_type", "-of",
                                          "csv=p=0", home.cache("pair.mp4")}),
            "video\naudio\n");
}

}  // namespace
