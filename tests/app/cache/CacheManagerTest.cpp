// The cache manager's caching step, manual queue and timers: a fake player and playing list, real
// downloaders against a loopback origin whose transfers stall (so that they keep downloading) or
// wait at a gate, and the virtual clock for the timers.
#include <gtest/gtest.h>

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/Settings.h"
#include "platform/testing/Pump.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace {

using cachetest::writeFile;
using Ids = std::vector<std::string>;

class CacheManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setStringSetting(kPreferredVideoQualityKey, "360");
    previousProvider = setNextVideoIdProvider([this] { return next; });
  }
  void TearDown() override {
    for (auto& gate : gates) gate->open();
    setNextVideoIdProvider(previousProvider);
  }
  // The video's transfer sends a little and then stalls: its downloader keeps downloading.
  void stalls(const std::string& videoId) {
    offer(videoId);
    origin.canned("GET", "/" + videoId + "/18", pltest::FakeReply::stalled("head", 100000));
  }
  // The video's transfer waits until the gate opens, then brings the whole video.
  cachetest::Gate& gated(const std::string& videoId) {
    offer(videoId);
    gates.push_back(std::make_unique<cachetest::Gate>());
    cachetest::Gate* gate = gates.back().get();
    origin.route("GET", "/" + videoId + "/18", [gate](const pltest::FakeRequest&) {
      gate->wait();
      return pltest::FakeReply::text(200, cachetest::mediaBody(3000), "video/mp4");
    });
    return *gate;
  }
  void offer(const std::string& videoId) {
    testsupport::FakeStreamResolver::Entry entry;
    entry.urlMap[18] = origin.URLForPath("/" + videoId + "/18");
    resolver->setEntry(videoId, entry);
  }
  bool downloading(const std::string& videoId) {
    auto downloader = getDownloaderForVideoId(videoId);
    return downloader && downloader->isDownloading();
  }
  void step() { manager->runCacheAlgorithm(); }

  cachetest::CacheSandbox home;
  pltest::FakeServer origin;
  std::vector<std::unique_ptr<cachetest::Gate>> gates;
  ns::Ref<testsupport::FakeStreamResolver> resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver{resolver};
  ns::Ref<testsupport::FakePlayerViewController> player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer{player};
  std::optional<std::string> next;
  NextVideoIdProvider previousProvider;
  ns::Ref<CacheServer> manager = ns::make<CacheServer>(0);
};

TEST_F(CacheManagerTest, ANewUncachedVideoInThePlayerCancelsOtherDownloadsAndStartsFirst) {
  setIntSetting(kCachePolicyKey, 1);
  stalls("other");
  stalls("cur");
  ASSERT_TRUE(manager->startDownload_startAlways(std::string("other"), true));
  ASSERT_TRUE(downloading("other"));
  player->setVideoId(std::string("cur"));
  pltest::LogCapture log;
  step();
  auto lines = log.messages();
  auto cancel = std::find(lines.begin(), lines.end(), "cancel!");
  auto step1 = std::find(lines.begin(), lines.end(), "STEP 1");
  ASSERT_NE(cancel, lines.end());
  ASSERT_NE(step1, lines.end());
  EXPECT_LT(cancel, step1);
  EXPECT_FALSE(downloading("other"));
  EXPECT_TRUE(downloading("cur"));
  // The next step leaves the player's download alone.
  log.clear();
  step();
  EXPECT_FALSE(log.contains("cancel!"));
  EXPECT_FALSE(log.contains("STEP"));
  EXPECT_TRUE(downloading("cur"));
}

TEST_F(CacheManagerTest, TheNextVideoIsFetchedAheadOnlyUnderPolicy2) {
  struct Case {
    long policy;
    const char* nextState;  // "", "cached", "error"
    bool step2;
  };
  const Case cases[] = {{2, "", true}, {1, "", false}, {2, "cached", false}, {2, "error", false}};
  int n = 0;
  for (const auto& c : cases) {
    std::string cur = "cur" + std::to_string(n), nxt = "nxt" + std::to_string(n++);
    SCOPED_TRACE(nxt + " policy " + std::to_string(c.policy) + " " + c.nextState);
    setIntSetting(kCachePolicyKey, c.policy);
    writeFile(home.cache(cur + ".mp4"), "cached");
    setVideoCacheState(cur, true);
    if (std::string(c.nextState) == "cached") setVideoCacheState(nxt, true);
    if (std::string(c.nextState) == "error") {
      recordDownloadError(nxt, std::string("This video is unavailable."));
      ASSERT_TRUE(pltest::pumpUntil([&] { return hasDownloadError(nxt); }));
    }
    stalls(nxt);
    player->setVideoId(cur);
    next = nxt;
    pltest::LogCapture log;
    step();
    EXPECT_EQ(log.contains("STEP 2"), c.step2);
    EXPECT_FALSE(log.contains("STEP 1"));
    EXPECT_EQ(downloading(nxt), c.step2);
    EXPECT_FALSE(getDownloaderForVideoId(cur));
    stopAllDownloads();
  }
}

TEST_F(CacheManagerTest, UnderPolicy0OnlyTheQueueIsServedEachEntryInTurn) {
  setIntSetting(kCachePolicyKey, 0);
  for (const char* id : {"cur", "m1", "m2", "m3"}) stalls(id);
  player->setVideoId(std::string("cur"));
  next = "m3";
  manager->setManualCacheQueue({"m1", "m2"});
  pltest::LogCapture log;
  step();
  EXPECT_TRUE(log.contains("# startDownload: m1"));
  EXPECT_TRUE(downloading("m1"));
  EXPECT_EQ(manager->manualCacheQueue(), Ids{"m2"});
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"m1"});
  // m1 left the queue when it started: it does not hold m2 back.
  step();
  EXPECT_TRUE(downloading("m2"));
  EXPECT_TRUE(manager->manualCacheQueue().empty());
  EXPECT_EQ(manager->manualCacheStartedQueue(), (Ids{"m1", "m2"}));
  step();
  EXPECT_FALSE(getDownloaderForVideoId("cur"));
  EXPECT_FALSE(getDownloaderForVideoId("m3"));
  EXPECT_FALSE(log.contains("STEP"));
}

TEST_F(CacheManagerTest, ManualEntriesWaitForThePlayersVideoThenStartOnePerStep) {
  for (long policy : {1L, 2L}) {
    SCOPED_TRACE("policy " + std::to_string(policy));
    setIntSetting(kCachePolicyKey, policy);
    std::string p = std::to_string(policy);
    std::string cur = "cur" + p, a = "a" + p, b = "b" + p, nxt = "nxt" + p;
    auto& curGate = gated(cur);
    stalls(a);
    stalls(b);
    stalls(nxt);
    player->setVideoId(cur);
    next = nxt;
    step();
    ASSERT_TRUE(downloading(cur));

    manager->addManualDownloadVideoId(a);
    manager->addManualDownloadVideoId(b);
    EXPECT_EQ(manager->manualCacheQueue(), (Ids{a, b}));
    for (const auto& id : {a, b}) {
      auto downloader = getDownloaderForVideoId(id);
      ASSERT_TRUE(downloader);
      EXPECT_TRUE(downloader->isValid());
      EXPECT_FALSE(downloader->isDownloading());
    }
    step();
    EXPECT_FALSE(downloading(a));
    EXPECT_FALSE(downloading(b));

    curGate.open();
    ASSERT_TRUE(pltest::pumpUntil([&] { return isVideoCached(cur); }, 30));
    step();
    EXPECT_TRUE(downloading(a));
    EXPECT_FALSE(downloading(b));
    EXPECT_EQ(manager->manualCacheQueue(), Ids{b});
    // The player's video is in and the next one is neither cached nor downloading: B starts
    // beside A, which left the queue.
    step();
    EXPECT_TRUE(downloading(a));
    EXPECT_TRUE(downloading(b));
    EXPECT_FALSE(getDownloaderForVideoId(nxt));
    EXPECT_TRUE(manager->manualCacheQueue().empty());
    EXPECT_EQ(manager->manualCacheStartedQueue(), (Ids{a, b}));
    stopAllDownloads();
    manager->setManualCacheStartedQueue({});
  }
}

TEST_F(CacheManagerTest, AQueuedIdThatBecomesCachedOrDownloadedLeavesBothQueues) {
  manager->setManualCacheQueue({"x", "y", "x"});
  manager->setManualCacheStartedQueue({"y", "x"});
  writeFile(home.cache("x.mp4"), "cached");
  setVideoCacheState("x", true);
  EXPECT_EQ(manager->manualCacheQueue(), Ids{"y"});
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"y"});
  setVideoCacheState("y", false);
  EXPECT_TRUE(manager->manualCacheQueue().empty());
  EXPECT_TRUE(manager->manualCacheStartedQueue().empty());
}

TEST_F(CacheManagerTest, AnIdleEntryBehindARunningOneStaysQueuedUntilItCanStart) {
  setIntSetting(kCachePolicyKey, 0);
  stalls("first");
  stalls("second");
  auto first = YoutubeDownloader::initWithId("first");
  first->startDownload();
  YoutubeDownloader::initWithId("second")->setValidAfterToZero();
  manager->setManualCacheQueue({"first", "second"});
  EXPECT_TRUE(manager->processManualQueue());
  EXPECT_EQ(manager->manualCacheQueue(), (Ids{"first", "second"}));
  EXPECT_TRUE(manager->manualCacheStartedQueue().empty());
  EXPECT_FALSE(downloading("second"));
  // Once nothing before it runs, it starts.
  first->markAsError();
  EXPECT_TRUE(manager->processManualQueue());
  EXPECT_TRUE(downloading("second"));
  EXPECT_EQ(manager->manualCacheQueue(), Ids{"first"});
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"second"});
}

TEST_F(CacheManagerTest, AManualDownloadCancelledForThePlayersVideoResumesAfterIt) {
  setIntSetting(kCachePolicyKey, 1);
  stalls("manual");
  auto& curGate = gated("cur");
  manager->addManualDownloadVideoId("manual");
  ASSERT_TRUE(downloading("manual"));
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return getDownloaderForVideoId("manual")->downloadRequest() != nullptr; }));
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"manual"});

  player->setVideoId(std::string("cur"));
  pltest::LogCapture log;
  step();
  EXPECT_TRUE(log.contains("cancel!"));
  EXPECT_FALSE(downloading("manual"));
  EXPECT_TRUE(downloading("cur"));
  EXPECT_EQ(manager->manualCacheQueue(), Ids{"manual"});
  EXPECT_TRUE(manager->manualCacheStartedQueue().empty());

  curGate.open();
  ASSERT_TRUE(pltest::pumpUntil([&] { return isVideoCached("cur"); }, 30));
  step();
  EXPECT_TRUE(log.contains("# startDownloadAlways: manual"));
  EXPECT_TRUE(downloading("manual"));
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"manual"});
}

TEST_F(CacheManagerTest, TheTimersRunTheStepTheRefreshAndTheTrimming) {
  pltest::VirtualClock clock;
  // Timers made on the virtual clock.
  manager = nullptr;
  manager = ns::make<CacheServer>(0);
  setIntSetting(kCachePolicyKey, 1);
  stalls("cur");
  player->setVideoId(std::string("cur"));
  cachetest::NotificationCounter changed(kVideoInfoChangedNotification);
  pltest::LogCapture log;
  takeVideoInfoDirty();

  clock.advance(1);
  EXPECT_EQ(changed.count(), 0);
  setVideoInfoDirty(true);
  setVideoInfoDirty(true);
  clock.advance(1);
  EXPECT_EQ(changed.count(), 1);
  clock.advance(1);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_FALSE(log.contains("STEP 1"));

  clock.advance(2);
  EXPECT_TRUE(log.contains("STEP 1"));
  EXPECT_TRUE(downloading("cur"));
  stopAllDownloads();
  EXPECT_FALSE(log.contains("### removeOldCache"));
  setIntSetting(kCacheSizeKey, -1);
  clock.advance(295);
  EXPECT_TRUE(log.contains("### removeOldCache"));
  EXPECT_TRUE(log.contains("unlimited cache size"));
  // A new limit restarts the trimming timer.
  log.clear();
  clock.advance(200);
  manager->startFlushTimer();
  clock.advance(200);
  EXPECT_FALSE(log.contains("### removeOldCache"));
  clock.advance(100);
  EXPECT_TRUE(log.contains("### removeOldCache"));
}

}  // namespace

namespace {

TEST_F(CacheManagerTest, ADownloadStoppedWhileItsStreamsAreResolvedStaysStopped) {
  testsupport::FakeStreamResolver::Entry entry;
  entry.urlMap[18] = origin.URLForPath("/held/18");
  entry.hold = true;
  resolver->setEntry("held", entry);
  origin.canned("GET", "/held/18", pltest::FakeReply::stalled("head", 100000));
  auto downloader = YoutubeDownloader::initWithId("held");
  ASSERT_TRUE(downloader->startDownload());
  EXPECT_TRUE(downloader->isDownloading());
  ASSERT_TRUE(pltest::pumpUntil([&] { return resolver->heldCount() == 1; }));
  downloader->stopDownload();
  EXPECT_EQ(resolver->release(), 1u);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !downloader->youtubeSupport()->urlMap().empty(); }));
  EXPECT_FALSE(downloader->isDownloading());
  EXPECT_FALSE(downloader->downloadRequest());
  // Started again, it resolves afresh and runs.
  entry.hold = false;
  resolver->setEntry("held", entry);
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->downloadRequest() != nullptr; }));
  EXPECT_TRUE(downloader->isDownloading());
  EXPECT_TRUE(origin.waitForRequests(1));
}

}  // namespace

namespace {

TEST_F(CacheManagerTest, AManualDownloadCutByTheNetworkStartsAgainAfterItsDelay) {
  pltest::VirtualClock clock;
  setIntSetting(kCachePolicyKey, 0);
  const std::string resource = cachetest::mediaBody(3 << 20, 11);
  offer("cut");
  auto calls = std::make_shared<std::atomic<int>>(0);
  origin.route("GET", "/cut/18", [resource, calls](const pltest::FakeRequest&) {
    if ((*calls)++ == 0) return pltest::FakeReply::cutShort(resource.substr(0, 1 << 20), resource.size());
    return pltest::FakeReply::text(200, resource, "video/mp4");
  });
  manager->addManualDownloadVideoId("cut");
  EXPECT_EQ(manager->manualCacheStartedQueue(), Ids{"cut"});
  auto downloader = getDownloaderForVideoId("cut");
  ASSERT_TRUE(downloader);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->errorCount() == 1; }, 30));
  const auto held = cachetest::readFile(home.temp("cut.mp4")).size();
  // The steps within the delay leave it alone; the first one after it resumes it.
  clock.advance(55);
  EXPECT_EQ(origin.requestCount(), 1u);
  EXPECT_FALSE(downloader->isDownloading());
  clock.advance(10);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 30));
  EXPECT_TRUE(cachetest::readFile(home.cache("cut.mp4")) == resource);
  auto ranges = cachetest::rangesOf(origin, "/cut/18");
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[1], "bytes=" + std::to_string(held - 1) + "-");
  EXPECT_TRUE(manager->manualCacheStartedQueue().empty());
}

TEST_F(CacheManagerTest, AnErrorReplyIsAskedAgainOnlyAfterTheDelayAndShowsItsStatusMeanwhile) {
  pltest::VirtualClock clock;
  setIntSetting(kCachePolicyKey, 1);
  offer("nf");
  origin.canned("GET", "/nf/18", pltest::FakeReply::text(404, "Not Found"));
  player->setVideoId(std::string("nf"));
  step();
  auto downloader = getDownloaderForVideoId("nf");
  ASSERT_TRUE(downloader);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->errorCount() == 1; }, 30));
  EXPECT_EQ(getDownloadError("nf"), "HTTP 404");
  EXPECT_FALSE(hasDownloadError("nf"));
  EXPECT_FALSE(downloader->isError());
  EXPECT_FALSE(cachetest::exists(home.temp("nf.mp4")));
  // Steps every 5 s within the delay ask nothing.
  clock.advance(55);
  EXPECT_FALSE(downloader->isDownloading());
  EXPECT_EQ(origin.requestCount(), 1u);
  clock.advance(10);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->errorCount() == 2; }, 30));
  EXPECT_EQ(origin.requestCount(), 2u);
  // The second delay is twice as long.
  clock.advance(100);
  EXPECT_FALSE(downloader->isDownloading());
  EXPECT_EQ(origin.requestCount(), 2u);
  EXPECT_EQ(getDownloadError("nf"), "HTTP 404");
  // The origin mends: the next ask after the delay completes, and the text goes.
  origin.canned("GET", "/nf/18", pltest::FakeReply::text(200, cachetest::mediaBody(3000), "video/mp4"));
  clock.advance(25);
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->isComplete(); }, 30));
  EXPECT_EQ(getDownloadError("nf"), std::nullopt);
  EXPECT_TRUE(isVideoCached("nf"));
}

TEST_F(CacheManagerTest, AManagerThatGoesLeavesTheHooksOfANewerOneInPlace) {
  auto newer = ns::make<CacheServer>(0);
  manager->setManualCacheQueue({"q", "r"});
  newer->setManualCacheQueue({"q", "r"});
  manager = nullptr;
  setVideoCacheState("q", true);
  EXPECT_EQ(newer->manualCacheQueue(), Ids{"r"});
  // Once the newer one goes too, the hooks it put back belong to a manager that is gone: they
  // do nothing.
  newer = nullptr;
  setVideoCacheState("r", true);
  EXPECT_TRUE(isVideoCached("r"));
}

}  // namespace
