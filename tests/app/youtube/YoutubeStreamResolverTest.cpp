// Stream resolution against the fake video service on 127.0.0.1: the real URL loading, real
// global queues and the main run loop.
#include "app/youtube/YoutubeStreamResolver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "app/youtube/VideoServiceConfig.h"
#include "app/youtube/YoutubeSupport.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/FakeVideoService.h"

namespace {

using testsupport::FakeVideoService;
using Stream = FakeVideoService::Stream;
using UrlMap = std::map<std::int32_t, std::string>;

// Generous: a 20 MB reply crosses loopback under the sanitizers.
constexpr double kPumpTimeout = 60;

class YoutubeStreamResolverTest : public ::testing::Test {
 protected:
  struct Outcome {
    ns::Ref<YoutubeSupport> record;
    int runs = 0;
    bool onMainThread = true;
  };

  // Resolves the video through the record and waits for its block; then lets the queues turn
  // once more so that a second run would be seen.
  std::shared_ptr<Outcome> resolve(const std::string& videoId) {
    auto outcome = start(videoId);
    EXPECT_TRUE(pltest::pumpUntil([&] { return outcome->runs > 0; }, kPumpTimeout));
    settle();
    return outcome;
  }
  std::shared_ptr<Outcome> start(const std::string& videoId) {
    auto outcome = std::make_shared<Outcome>();
    outcome->record = YoutubeSupport::initWithYoutubeId(videoId);
    outcome->record->runRequest([outcome] {
      ++outcome->runs;
      if (!ns::Thread::isMainThread()) outcome->onMainThread = false;
    });
    return outcome;
  }
  // Waits until every record's block has run, then lets the queues turn once more.
  static bool waitForAll(const std::vector<std::shared_ptr<Outcome>>& outcomes) {
    bool all = pltest::pumpUntil(
        [&] {
          for (auto& o : outcomes)
            if (o->runs == 0) return false;
          return true;
        },
        kPumpTimeout);
    settle();
    return all;
  }
  static void settle() {
    std::atomic<bool> done{false};
    dispatch::async(dispatch::globalQueue(),
                    [&done] { dispatch::async(dispatch::mainQueue(), [&done] { done = true; }); });
    ASSERT_TRUE(pltest::pumpUntil([&] { return done.load(); }));
  }
  static FakeVideoService::Fields okReply(const std::string& progressive, const std::string& adaptive = "") {
    return {{"status", "ok"},           {"title", "Ünïcode & title"},
            {"author", "Uploader"},     {"length_seconds", "65"},
            {"view_count", "1234"},     {"url_encoded_fmt_stream_map", progressive},
            {"adaptive_fmts", adaptive}};
  }

  pltest::Sandbox sandbox;
  FakeVideoService service;
  testsupport::ScopedStreamResolver installed{ns::make<YoutubeStreamResolver>(service.baseURL())};
};

TEST_F(YoutubeStreamResolverTest, FourStreamsTwoOfThemSignedResolveFromTheVideoInfoCall) {
  service.setVideoInfo(
      "fourStreams",
      FakeVideoService::videoInfoReply(okReply(
          FakeVideoService::streamMap(
              {{"18", "https://media.example/videoplayback?itag=18&id=a", "SIG.18/+x"},
               {"22", "https://media.example/videoplayback?itag=22&id=a"}}),
          FakeVideoService::streamMap({{"137", "https://media.example/videoplayback?itag=137&id=a", "SIG137"},
                                       {"140", "http://media.example/audio/140"}}))));
  auto outcome = resolve("fourStreams");
  EXPECT_EQ(outcome->runs, 1);
  EXPECT_TRUE(outcome->onMainThread);
  const auto& record = *outcome->record;
  EXPECT_EQ(record.urlMap(),
            (UrlMap{{18, "https://media.example/videoplayback?itag=18&id=a&signature=SIG.18%2F%2Bx"},
                    {22, "https://media.example/videoplayback?itag=22&id=a"},
                    {137, "https://media.example/videoplayback?itag=137&id=a&signature=SIG137"},
                    {140, "http://media.example/audio/140"}}));
  EXPECT_FALSE(record.error().has_value());
  EXPECT_EQ(record.videoInfo()[ns::Value("title")], ns::Value("Ünïcode & title"));
  EXPECT_EQ(record.videoInfo()[ns::Value("author")], ns::Value("Uploader"));
  EXPECT_EQ(record.videoInfo()[ns::Value("length_seconds")], ns::Value("65"));
  // The stream maps themselves are not descriptive fields.
  EXPECT_FALSE(record.videoInfo().contains(ns::Value("adaptive_fmts")));
  EXPECT_EQ(service.watchPageRequests(), 0u);
  auto requests = service.server().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/get_video_info?video_id=fourStreams");
}

TEST_F(YoutubeStreamResolverTest, EncipheredEntriesAreSkipped) {
  service.setVideoInfo("someEnciphered",
                       FakeVideoService::videoInfoReply(okReply(FakeVideoService::streamMap(
                           {{"18", "https://media.example/18", std::nullopt, "ENCIPHERED"},
                            {"22", "https://media.example/22"},
                            {"37", "https://media.example/37", "plain", "ALSO.ENCIPHERED"}}))));
  auto some = resolve("someEnciphered");
  EXPECT_EQ(some->runs, 1);
  EXPECT_EQ(some->record->urlMap(), (UrlMap{{22, "https://media.example/22"}}));
  EXPECT_FALSE(some->record->error().has_value());

  service.setVideoInfo("allEnciphered", FakeVideoService::videoInfoReply(okReply(FakeVideoService::streamMap(
                                            {{"18", "https://media.example/18", std::nullopt, "X"},
                                             {"22", "https://media.example/22", std::nullopt, "Y"}}))));
  auto all = resolve("allEnciphered");
  EXPECT_EQ(all->runs, 1);
  EXPECT_TRUE(all->record->urlMap().empty());
  ASSERT_TRUE(all->record->error().has_value());
  EXPECT_FALSE(all->record->error()->empty());
  // The watch page was tried as the second attempt (and was not there).
  EXPECT_EQ(service.watchPageRequests(), 1u);
  // What the video-info call said about the video stays.
  EXPECT_EQ(all->record->videoInfo()[ns::Value("title")], ns::Value("Ünïcode & title"));
}

TEST_F(YoutubeStreamResolverTest, TheWatchPageIsTheSecondAttempt) {
  struct Case {
    const char* videoId;
    std::optional<pltest::FakeReply> videoInfo;  // nil: 404
    std::optional<pltest::FakeReply> watchPage;  // nil: 404
    UrlMap expectedMap;
    std::optional<std::string> expectedError;  // "*": any text
  };
  const std::string pageMap = FakeVideoService::streamMap(
      {{"18", "https://media.example/page/18", "S1"}, {"22", "https://media.example/page/22"}});
  const std::vector<Case> cases = {
      {"info500page200", pltest::FakeReply::text(500, "oops"), FakeVideoService::watchPage(okReply(pageMap)),
       UrlMap{{18, "https://media.example/page/18?signature=S1"}, {22, "https://media.example/page/22"}},
       std::nullopt},
      {"info500page404", pltest::FakeReply::text(500, "oops"), std::nullopt, UrlMap{}, "*"},
      {"privateVideo", FakeVideoService::videoInfoReply({{"status", "fail"}, {"reason", "Private video"}}),
       std::nullopt, UrlMap{}, "Private video"},
      {"privateOnBoth", FakeVideoService::videoInfoReply({{"status", "fail"}, {"reason", "Private video"}}),
       FakeVideoService::watchPage({{"status", "fail"}, {"reason", "Sign in to confirm your age"}}), UrlMap{},
       "Private video"},
      {"noStreamsAnywhere", FakeVideoService::videoInfoReply(okReply("")),
       FakeVideoService::watchPage(okReply("")), UrlMap{}, "No playable stream was found for this video"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.videoId);
    if (c.videoInfo) service.setVideoInfo(c.videoId, *c.videoInfo);
    if (c.watchPage) service.setWatchPage(c.videoId, *c.watchPage);
    auto outcome = resolve(c.videoId);
    EXPECT_EQ(outcome->runs, 1);
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(outcome->record->urlMap(), c.expectedMap);
    if (!c.expectedError) {
      EXPECT_FALSE(outcome->record->error().has_value());
    } else {
      ASSERT_TRUE(outcome->record->error().has_value());
      if (*c.expectedError == "*") {
        EXPECT_FALSE(outcome->record->error()->empty());
      } else {
        EXPECT_EQ(*outcome->record->error(), *c.expectedError);
      }
    }
  }
  EXPECT_EQ(service.watchPageRequests(), cases.size());

  // The refused video enters the failed-video table.
  auto refused = resolve("privateVideo");
  refused->record->failedRequest();
  ASSERT_TRUE(pltest::pumpUntil(
      [] { return YoutubeSupport::failedRequestErrorForVideoId("privateVideo").has_value(); }));
  EXPECT_EQ(YoutubeSupport::failedRequestErrorForVideoId("privateVideo"), "Private video");
}

TEST_F(YoutubeStreamResolverTest, HostileRepliesEndInAnErrorOrASkippedEntry) {
  const std::string good = FakeVideoService::streamMap({{"18", "https://media.example/18"}});
  const std::string hugePageTail = FakeVideoService::watchPage(okReply(good)).body;
  const std::string goodArgs = "{\"url_encoded_fmt_stream_map\": \"" + good + "\"}";
  struct Case {
    const char* videoId;
    std::optional<pltest::FakeReply> videoInfo;
    std::optional<pltest::FakeReply> watchPage;
    UrlMap expectedMap;  // empty: an error is expected
  };
  const std::vector<Case> cases = {
      // Usable, but only after 20 MB.
      {"hugePage", std::nullopt,
       pltest::FakeReply::text(200, std::string(20 * 1024 * 1024, ' ') + hugePageTail, "text/html"),
       UrlMap{}},
      {"hugeInfo",
       pltest::FakeReply::text(200, FakeVideoService::formEncode(okReply(good)) +
                                        "&padding=" + std::string(9 * 1024 * 1024, 'x')),
       std::nullopt, UrlMap{}},
      // Each page below would give a stream to a reader that accepted it.
      {"pageWithoutConfig", std::nullopt,
       pltest::FakeReply::text(
           200, "<html><script>var somethingElse = {\"args\": " + goodArgs + "};</script></html>",
           "text/html"),
       UrlMap{}},
      {"brokenJson", std::nullopt,
       pltest::FakeReply::text(
           200, "<script>var playerConfig = {\"args\": " + goodArgs + ", \"x\": [};</script>", "text/html"),
       UrlMap{}},
      {"brokenJsonBalanced", std::nullopt,
       pltest::FakeReply::text(
           200, "<script>var playerConfig = {\"args\": " + goodArgs + ", \"a\": tru};</script>", "text/html"),
       UrlMap{}},
      {"unterminatedJson", std::nullopt,
       pltest::FakeReply::text(200, "<script>var playerConfig = {\"args\": " + goodArgs, "text/html"),
       UrlMap{}},
      {"argsNotAnObject", std::nullopt,
       pltest::FakeReply::text(200, "<script>var playerConfig = {\"args\": [" + goodArgs + "]};</script>",
                               "text/html"),
       UrlMap{}},
      {"badFormEncoding",
       pltest::FakeReply::text(200, "status=ok&url_encoded_fmt_stream_map=%zz%&title=%E2%82"), std::nullopt,
       UrlMap{}},
      {"notFormAtAll", pltest::FakeReply::text(200, std::string("\0\xff\xfe binary", 10)), std::nullopt,
       UrlMap{}},
      {"badEntries",
       FakeVideoService::videoInfoReply(
           okReply(FakeVideoService::streamMap({
                       {"abc", "https://media.example/abc"},
                       {"22"},
                       {"-5", "https://media.example/neg"},
                       {"99999999999", "https://media.example/big"},
                       {"36", "javascript:alert(1)"},
                       {"37", "ftp://media.example/37"},
                       {"43", "https://"},
                       {"44", "https://media.example/with space"},
                       {"45", "https://media.example/45", "sig", std::nullopt, "bad&name"},
                       {"18", "https://media.example/18-first"},
                       {"18", "https://evil.example/18-second"},
                   }) +
                   ",%zz,,itag")),
       std::nullopt, UrlMap{{18, "https://media.example/18-first"}}},
      {"duplicateAcrossMaps",
       FakeVideoService::videoInfoReply(
           okReply(good, FakeVideoService::streamMap(
                             {{"18", "https://evil.example/18"}, {"140", "https://media.example/140"}}))),
       std::nullopt, UrlMap{{18, "https://media.example/18"}, {140, "https://media.example/140"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.videoId);
    if (c.videoInfo) service.setVideoInfo(c.videoId, *c.videoInfo);
    if (c.watchPage) service.setWatchPage(c.videoId, *c.watchPage);
    auto outcome = resolve(c.videoId);
    EXPECT_EQ(outcome->runs, 1);
    EXPECT_EQ(outcome->record->urlMap(), c.expectedMap);
    EXPECT_EQ(outcome->record->error().has_value(), c.expectedMap.empty());
  }
}

TEST_F(YoutubeStreamResolverTest, AStalledServiceEndsInAnErrorOnceTheClockPassesTheTimeOut) {
  pltest::VirtualClock clock;
  const double startedAt = clock.now();
  service.setVideoInfo("stalled", pltest::FakeReply::stalled("status=ok&title=", 4096));
  service.setWatchPage("stalled", pltest::FakeReply::stalled("<html><script>var playerConfig = {", 4096));
  auto outcome = start("stalled");
  ASSERT_TRUE(pltest::pumpUntil([&] { return service.videoInfoRequests() == 1; }, kPumpTimeout));
  settle();
  EXPECT_EQ(outcome->runs, 0);
  // Less than the time-out: still waiting.
  clock.advance(kVideoServiceRequestTimeout / 2);
  settle();
  EXPECT_EQ(outcome->runs, 0);
  EXPECT_EQ(service.watchPageRequests(), 0u);
  // Let virtual time run on while pumping, a second at a time, until the record gives up.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        if (outcome->runs > 0) return true;
        clock.advance(1);
        return false;
      },
      kPumpTimeout));
  settle();
  EXPECT_EQ(outcome->runs, 1);
  EXPECT_TRUE(outcome->onMainThread);
  EXPECT_TRUE(outcome->record->urlMap().empty());
  ASSERT_TRUE(outcome->record->error().has_value());
  EXPECT_NE(outcome->record->error()->find("timed out"), std::string::npos) << *outcome->record->error();
  EXPECT_EQ(service.watchPageRequests(), 1u);
  // Both requests together took no longer than their time-outs allow.
  EXPECT_GE(clock.now() - startedAt, kVideoServiceRequestTimeout);
  EXPECT_LE(clock.now() - startedAt, 2 * kVideoServiceRequestDeadline);
  service.server().release();
}

TEST_F(YoutubeStreamResolverTest, TenRecordsResolvedAtOnceEachCallBackOnce) {
  std::vector<std::shared_ptr<Outcome>> outcomes;
  for (int i = 0; i < 10; ++i) {
    std::string id = "many" + std::to_string(i);
    std::string map = FakeVideoService::streamMap({{"18", "https://media.example/" + id}});
    if (i % 3 == 0) {
      service.setWatchPage(id, FakeVideoService::watchPage(okReply(map)));
    } else {
      service.setVideoInfo(id, FakeVideoService::videoInfoReply(okReply(map)));
    }
  }
  for (int i = 0; i < 10; ++i) outcomes.push_back(start("many" + std::to_string(i)));
  ASSERT_TRUE(waitForAll(outcomes));
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcomes[i]->runs, 1);
    EXPECT_TRUE(outcomes[i]->onMainThread);
    EXPECT_EQ(outcomes[i]->record->urlMap(),
              (UrlMap{{18, "https://media.example/many" + std::to_string(i)}}));
  }
}

TEST_F(YoutubeStreamResolverTest, MoreRecordsAtOnceThanTheDispatchPoolHasThreadsAllCallBackOnce) {
  // As many as a long selection sent to the quality question: every resolution starts on a
  // global queue at once, and none may hold a pool thread that the replies need. A port that
  // refuses at once answers them all, with no server that could be slow to take so many.
  testsupport::ScopedStreamResolver refusing{
      ns::make<YoutubeStreamResolver>("http://127.0.0.1:" + std::to_string(pltest::closedLoopbackPort()))};
  constexpr int kRecords = 160;
  std::vector<std::shared_ptr<Outcome>> outcomes;
  for (int i = 0; i < kRecords; ++i) outcomes.push_back(start("crowd" + std::to_string(i)));
  ASSERT_TRUE(waitForAll(outcomes));
  for (int i = 0; i < kRecords; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcomes[i]->runs, 1);
    EXPECT_TRUE(outcomes[i]->record->urlMap().empty());
    ASSERT_TRUE(outcomes[i]->record->error().has_value());
    EXPECT_FALSE(outcomes[i]->record->error()->empty());
  }
}

TEST(VideoServiceConfig, TheEnvironmentOverridesTheBuiltInService) {
  pltest::Sandbox sandbox;
  sandbox.set(kVideoServiceURLEnvironmentKey, std::nullopt);
  EXPECT_EQ(videoServiceBaseURL(), "https://www.youtube.com");
  EXPECT_EQ(YoutubeStreamResolver().baseURL(), "https://www.youtube.com");
  sandbox.set(kVideoServiceURLEnvironmentKey, "http://127.0.0.1:8123/");
  EXPECT_EQ(YoutubeStreamResolver().baseURL(), "http://127.0.0.1:8123");
  sandbox.set(kVideoServiceURLEnvironmentKey, "");
  EXPECT_EQ(videoServiceBaseURL(), "https://www.youtube.com");
}

}  // namespace
