// The video record's resolution through the stream-resolver seam, the failed-video table and
// the built-in credentials: real dispatch queues, the main run loop and a sandboxed home.
#include "app/youtube/YoutubeSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/youtube/StreamResolver.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/Settings.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/support/FakeStreamResolver.h"

namespace {

using testsupport::FakeStreamResolver;
using testsupport::ScopedStreamResolver;

// Counts the runs of a record's block and where they happened.
struct BlockProbe {
  std::atomic<int> runs{0};
  std::atomic<bool> onMainThread{true};
  std::function<void()> block() {
    return [this] {
      ++runs;
      if (!ns::Thread::isMainThread()) onMainThread = false;
    };
  }
};

// Lets every block already queued for the main queue (and anything a global queue still hands
// over) run, so that a second, unwanted run of a block would be seen.
void drainQueues() {
  std::atomic<bool> done{false};
  dispatch::async(dispatch::globalQueue(),
                  [&done] { dispatch::async(dispatch::mainQueue(), [&done] { done = true; }); });
  ASSERT_TRUE(pltest::pumpUntil([&] { return done.load(); }));
}

FakeStreamResolver::Entry playable() {
  FakeStreamResolver::Entry entry;
  entry.urlMap = {{18, "https://media.example/18"}, {22, "https://media.example/22"}};
  entry.videoInfo = ns::Dictionary{{ns::Value("title"), ns::Value("A title")},
                                   {ns::Value("author"), ns::Value("An author")},
                                   {ns::Value("length_seconds"), ns::Value("65")}};
  return entry;
}

class YoutubeSupportTest : public ::testing::Test {
 protected:
  pltest::Sandbox sandbox;
  ns::Ref<FakeStreamResolver> fake = ns::make<FakeStreamResolver>();
};

TEST_F(YoutubeSupportTest, TheBlockRunsOnceOnTheMainThreadAfterTheResolution) {
  ScopedStreamResolver installed(fake);
  auto entry = playable();
  entry.hold = true;
  // Values no property list can hold never reach the record's info.
  entry.videoInfo.set(ns::Value("object"), ns::Value(ns::make<YoutubeSupport>(std::nullopt)));
  entry.videoInfo.set(ns::Value(7), ns::Value("number key"));
  entry.videoInfo.set(ns::Value("nested"), ns::Value(ns::Array{ns::Value(1), ns::Value("two")}));
  fake->setEntry("heldVideo", entry);

  auto record = YoutubeSupport::initWithYoutubeId("heldVideo");
  BlockProbe probe;
  record->runRequest(probe.block());
  ASSERT_TRUE(pltest::pumpUntil([&] { return fake->heldCount() == 1; }));
  drainQueues();
  // Held by the resolver: nothing came back yet.
  EXPECT_EQ(probe.runs, 0);
  EXPECT_TRUE(record->urlMap().empty());

  EXPECT_EQ(fake->release(), 1u);
  ASSERT_TRUE(pltest::pumpUntil([&] { return probe.runs == 1; }));
  drainQueues();
  EXPECT_EQ(probe.runs, 1);
  EXPECT_TRUE(probe.onMainThread);
  EXPECT_EQ(record->urlMap(), (std::map<std::int32_t, std::string>{{18, "https://media.example/18"},
                                                                   {22, "https://media.example/22"}}));
  EXPECT_EQ(record->videoInfo()[ns::Value("title")], ns::Value("A title"));
  EXPECT_EQ(record->videoInfo()[ns::Value("nested")].count(), 2u);
  EXPECT_FALSE(record->videoInfo().contains(ns::Value("object")));
  EXPECT_FALSE(record->videoInfo().contains(ns::Value(7)));
  EXPECT_EQ(record->videoInfo().count(), 4u);
  EXPECT_FALSE(record->error().has_value());
  // The resolver was asked on a global queue, never on the main thread.
  ASSERT_EQ(fake->requestQueueLabels().size(), 1u);
  EXPECT_TRUE(dispatch::isGlobalQueueLabel(fake->requestQueueLabels()[0])) << fake->requestQueueLabels()[0];
}

TEST_F(YoutubeSupportTest, FailuresStillRunTheBlockOnce) {
  struct Case {
    const char* name;
    bool install;
    std::string videoId;
    std::optional<std::string> expectedError;  // nil: any error text
  };
  FakeStreamResolver::Entry failing;
  failing.error = "x";
  fake->setEntry("failing", failing);
  const Case cases[] = {
      {"resolver answers an error", true, "failing", "x"},
      {"unknown to the resolver", true, "unknownVid", "Unknown video"},
      {"no resolver installed", false, "failing", std::nullopt},
      {"id that may not name a file", true, "../x", std::nullopt},
      {"empty id", true, "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ScopedStreamResolver> installed;
    if (c.install) installed.emplace(fake);
    auto previous = StreamResolver::sharedResolver();
    EXPECT_EQ(previous != nullptr, c.install);

    auto record = YoutubeSupport::initWithYoutubeId(c.videoId);
    BlockProbe probe;
    record->runRequest(probe.block());
    ASSERT_TRUE(pltest::pumpUntil([&] { return probe.runs >= 1; }));
    drainQueues();
    EXPECT_EQ(probe.runs, 1);
    EXPECT_TRUE(probe.onMainThread);
    EXPECT_TRUE(record->urlMap().empty());
    ASSERT_TRUE(record->error().has_value());
    EXPECT_FALSE(record->error()->empty());
    if (c.expectedError) {
      EXPECT_EQ(*record->error(), *c.expectedError);
    }
  }
  // Only the usable ids reached the resolver.
  EXPECT_EQ(fake->requestedIds(), (std::vector<std::string>{"failing", "unknownVid"}));
}

TEST_F(YoutubeSupportTest, ADelayedAnswerWaitsForTheVirtualClock) {
  pltest::VirtualClock clock;
  ScopedStreamResolver installed(fake);
  auto entry = playable();
  entry.delay = 30;
  fake->setEntry("slowVideo", entry);

  auto record = YoutubeSupport::initWithYoutubeId("slowVideo");
  BlockProbe probe;
  record->runRequest(probe.block());
  ASSERT_TRUE(pltest::pumpUntil([&] { return fake->requestedIds().size() == 1; }));
  clock.advance(29);
  drainQueues();
  EXPECT_EQ(probe.runs, 0);
  clock.advance(2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return probe.runs == 1; }));
  EXPECT_EQ(record->urlMap().size(), 2u);
}

// Calls its completion twice, from two threads.
class StutteringResolver : public StreamResolver {
 public:
  void resolveVideoId_completion(const std::string&, Completion completion) override {
    StreamResolution first;
    first.urlMap[18] = "https://media.example/first";
    StreamResolution second;
    second.error = "second";
    dispatch::async(dispatch::globalQueue(), [completion, second] { completion(second); });
    completion(first);
  }
};

class ThrowingResolver : public StreamResolver {
 public:
  void resolveVideoId_completion(const std::string&, Completion) override {
    throw std::runtime_error("broken");
  }
};

TEST_F(YoutubeSupportTest, AResolverThatMisbehavesCannotRunTheBlockTwiceOrNever) {
  for (auto resolver :
       std::vector<ns::Ref<StreamResolver>>{ns::make<StutteringResolver>(), ns::make<ThrowingResolver>()}) {
    ScopedStreamResolver installed(resolver);
    auto record = YoutubeSupport::initWithYoutubeId("someVideo");
    BlockProbe probe;
    record->runRequest(probe.block());
    ASSERT_TRUE(pltest::pumpUntil([&] { return probe.runs >= 1; }));
    drainQueues();
    drainQueues();
    EXPECT_EQ(probe.runs, 1);
    EXPECT_TRUE(record->error().has_value() || record->urlMap().size() == 1u);
  }
}

TEST_F(YoutubeSupportTest, TenRecordsResolvedAtOnceEachCallBackOnce) {
  ScopedStreamResolver installed(fake);
  std::vector<ns::Ref<YoutubeSupport>> records;
  std::vector<std::unique_ptr<BlockProbe>> probes;
  for (int i = 0; i < 10; ++i) {
    auto entry = playable();
    entry.urlMap[137] = "https://media.example/137/" + std::to_string(i);
    entry.delay = i % 2 ? 0 : 0.5;
    fake->setEntry("vid" + std::to_string(i), entry);
  }
  pltest::VirtualClock clock;
  for (int i = 0; i < 10; ++i) {
    records.push_back(YoutubeSupport::initWithYoutubeId("vid" + std::to_string(i)));
    probes.push_back(std::make_unique<BlockProbe>());
    records.back()->runRequest(probes.back()->block());
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return fake->requestedIds().size() == 10; }));
  clock.advance(1);
  ASSERT_TRUE(pltest::pumpUntil([&] {
    for (auto& p : probes) {
      if (p->runs == 0) return false;
    }
    return true;
  }));
  drainQueues();
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(probes[i]->runs, 1) << i;
    EXPECT_TRUE(probes[i]->onMainThread) << i;
    EXPECT_EQ(records[i]->urlMap()[137], "https://media.example/137/" + std::to_string(i));
  }
}

TEST_F(YoutubeSupportTest, AFailedRequestEntersTheTableOnTheMainQueue) {
  auto record = YoutubeSupport::initWithYoutubeId("failedVid1");
  record->setError("Private video");
  record->failedRequest();
  // Stored by the main queue, which has not turned yet.
  EXPECT_EQ(YoutubeSupport::failedRequestErrorForVideoId("failedVid1"), std::nullopt);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return YoutubeSupport::failedRequestErrorForVideoId("failedVid1").has_value(); }));

  std::optional<std::string> seenElsewhere;
  std::optional<std::string> unknownElsewhere = "unset";
  std::thread other([&] {
    seenElsewhere = YoutubeSupport::failedRequestErrorForVideoId("failedVid1");
    unknownElsewhere = YoutubeSupport::failedRequestErrorForVideoId("neverFailed");
  });
  other.join();
  EXPECT_EQ(seenElsewhere, "Private video");
  EXPECT_EQ(unknownElsewhere, std::nullopt);

  // A record without error text still enters the table; one without id does nothing.
  auto silent = YoutubeSupport::initWithYoutubeId("failedVid2");
  silent->failedRequest();
  YoutubeSupport::initWithYoutubeUrl("no link")->failedRequest();
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return YoutubeSupport::failedRequestErrorForVideoId("failedVid2").has_value(); }));
  EXPECT_EQ(YoutubeSupport::failedRequestErrorForVideoId("failedVid2"), "");
}

TEST_F(YoutubeSupportTest, CredentialsFollowTheirSettings) {
  struct Case {
    const char* key;
    std::string (*getter)();
    const char* builtIn;
  };
  const Case cases[] = {{"y_dk", &getAPIDeveloperKey, kBuiltInAPIDeveloperKey},
                        {"y_ci", &getOAuthClientID, kBuiltInOAuthClientID},
                        {"y_cs", &getOAuthClientSecret, kBuiltInOAuthClientSecret}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(c.getter(), c.builtIn);
    setStringSetting(c.key, "mine");
    EXPECT_EQ(c.getter(), "mine");
    setStringSetting(c.key, "");
    EXPECT_EQ(c.getter(), c.builtIn);
  }
  EXPECT_FALSE(std::string(kBuiltInAPIDeveloperKey).empty());
}

}  // namespace
