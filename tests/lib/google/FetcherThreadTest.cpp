// Where callbacks run when a fetch is begun off the main thread or with a delegate queue, a
// time-out on the virtual clock, and the User-Agent pieces.
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/FetcherTestSupport.h"

#include "lib/google/NetHTTPFetcherService.h"
#include "lib/google/NetUserAgent.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/URLErrorCodes.h"

using namespace fetchertest;
using pltest::FakeReply;

namespace {

class FetcherThreads : public FetcherTest {};

TEST_F(FetcherThreads, AWorkerBeginWithoutQueueOrModesCallsBackOnTheMainThread) {
  server_.canned("GET", "/w", FakeReply::text(200, "w"));
  auto fetcher = fetcherFor("/w");
  Outcome outcome;
  bool began = false;
  std::thread worker([&] { began = fetcher->beginFetchWithCompletionHandler(outcome.block()); });
  worker.join();
  EXPECT_TRUE(began);
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_TRUE(outcome.onMainThread);
  EXPECT_EQ(outcome.body(), "w");
}

TEST_F(FetcherThreads, ADelegateQueueReceivesTheCallbacks) {
  server_.canned("GET", "/q", FakeReply::text(200, "q"));
  auto queue = ns::make<ns::OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  auto fetcher = fetcherFor("/q");
  fetcher->setDelegateQueue(queue);
  Outcome outcome;
  std::atomic<bool> onQueue{false};
  auto record = outcome.block();
  std::thread worker([&] {
    fetcher->beginFetchWithCompletionHandler(
        [&](const std::optional<ns::Data>& d, const std::optional<ns::Error>& e) {
          onQueue = ns::OperationQueue::currentQueue() == queue;
          record(d, e);
        });
  });
  worker.join();
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_TRUE(onQueue);
  EXPECT_FALSE(outcome.onMainThread);
  EXPECT_EQ(outcome.body(), "q");
}

TEST_F(FetcherThreads, AFailedBeginOnADelegateQueueIsReportedThereAndTellsTheService) {
  auto queue = ns::make<ns::OperationQueue>();
  auto service = ns::make<NetHTTPFetcherService>();
  service->setDelegateQueue(queue);
  auto fetcher = service->fetcherWithURLString("http://www.example.invalid/a");
  Outcome outcome;
  pltest::LogCapture log(true);
  EXPECT_FALSE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_EQ(outcome.error->code(), -1);
  EXPECT_EQ(service->numberOfFetchers(), 0u);
}

TEST_F(FetcherThreads, AStalledReplyTimesOutOnTheVirtualClock) {
  server_.canned("GET", "/stall", FakeReply::stalled("", 100));
  pltest::VirtualClock clock;
  auto fetcher = fetcherFor("/stall");
  fetcher->mutableRequest()->setTimeoutInterval(30);
  Outcome outcome;
  ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return fetcher->response() != nullptr; }));
  clock.advance(29);
  drainRunLoop();
  EXPECT_EQ(outcome.finished, 0);
  clock.advance(2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  ASSERT_TRUE(pltest::isError(outcome.error, ns::NSURLErrorDomain, ns::URLErrorTimedOut));
  server_.release();
}

TEST(FetcherUserAgent, CleanTokens) {
  pltest::Sandbox sandbox;
  std::vector<std::pair<std::string, std::string>> cases = {
      {"Pelorin Video", "Pelorin_Video"}, {"a,b", "a_b"},
      {"x(y)<z>@;:\\\"/[]?={}w", "xyzw"}, {"tab\there\nnow", "tabherenow"},
      {"plain-1.2", "plain-1.2"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NetCleanUserAgentToken(in), out) << in;
  EXPECT_EQ(NetCleanUserAgentToken(std::nullopt), std::nullopt);
}

TEST(FetcherUserAgent, SystemAndBundleTokens) {
  pltest::Sandbox sandbox;
  auto release = sandbox.root() / "os-release";
  std::ofstream(release) << "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n";
  EXPECT_EQ(NetOSReleaseVersionID(release.string()), "12");
  EXPECT_EQ(NetOSReleaseVersionID((sandbox.root() / "missing").string()), "");
  std::string system = NetSystemVersionToken();
  EXPECT_EQ(system.rfind("Linux/", 0), 0u) << system;
  EXPECT_EQ(system, NetSystemVersionToken());

  auto bundle = ns::make<ns::Bundle>(sandbox.root().string(),
                                     ns::Dictionary{{"CFBundleIdentifier", "com.example.agent test"},
                                                    {"CFBundleShortVersionString", "2.0 beta"}});
  EXPECT_EQ(NetBundleUserAgentToken(bundle), "com.example.agent_test/2.0_beta");
  auto named = ns::make<ns::Bundle>(sandbox.root().string(),
                                    ns::Dictionary{{"CFBundleIdentifier", "com.example.named"},
                                                   {"NetUserAgentID", "Pelorin"},
                                                   {"CFBundleVersion", "7"}});
  EXPECT_EQ(NetBundleUserAgentToken(named), "Pelorin/7");
  auto bare = ns::make<ns::Bundle>(sandbox.root().string(), ns::Dictionary{});
  EXPECT_EQ(NetBundleUserAgentToken(bare).rfind("proc_", 0), 0u);
}

}  // namespace
