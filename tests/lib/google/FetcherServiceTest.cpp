// The fetcher service: settings handed to fetchers, the per-host limit with priorities, and
// stopping everything.
#include "tests/lib/google/FetcherTestSupport.h"

#include "lib/google/NetHTTPFetcherService.h"
#include "platform/testing/Monitor.h"

#include <algorithm>
#include <set>

using namespace fetchertest;
using pltest::FakeReply;

namespace {

class FetcherService : public FetcherTest {
 protected:
  FetcherService() {
    server_.route("GET", "/stall/.*", [](const pltest::FakeRequest&) { return FakeReply::stalled("", 8); });
    service_->setMaxRunningFetchersPerHost(10);
  }
  ~FetcherService() override {
    service_->stopAllFetchers();
    server_.release();
  }

  ns::Ref<NetHTTPFetcher> begin(const std::string& base, const std::string& path, std::int64_t priority = 0) {
    auto fetcher = service_->fetcherWithURLString(base + path);
    fetcher->mutableRequest()->setTimeoutInterval(600);
    fetcher->setServicePriority(priority);
    outcomes_.push_back(std::make_unique<Outcome>());
    EXPECT_TRUE(fetcher->beginFetchWithCompletionHandler(outcomes_.back()->block()));
    return fetcher;
  }
  bool serverSaw(std::size_t count) {
    return pltest::pumpUntil([&] { return server_.requestCount() >= count; }) &&
           server_.requestCount() == count;
  }

  ns::Ref<NetHTTPFetcherService> service_ = ns::make<NetHTTPFetcherService>();
  std::vector<std::unique_ptr<Outcome>> outcomes_;
};

// Holds each "/gate/N" reply until the test opens gate N (the handler waits on the server's
// thread; the test never sleeps).
class Gates {
 public:
  explicit Gates(pltest::FakeServer& server) {
    // The route may outlive this object (a late request after a failed test), so it shares the state.
    server.route("GET", "/gate/([0-9]+)", [state = state_](const pltest::FakeRequest& r) {
      int n = std::stoi(r.matches.at(0));
      state->monitor.waitFor([&] { return state->all || state->open.count(n); }, std::chrono::hours(1));
      return FakeReply::text(200, "gate " + std::to_string(n));
    });
  }
  ~Gates() { openAll(); }
  void open(int n) {
    state_->monitor.change([&] { state_->open.insert(n); });
  }
  void openAll() {
    state_->monitor.change([&] { state_->all = true; });
  }

 private:
  struct State {
    pltest::Monitor monitor;
    std::set<int> open;  // guarded by monitor
    bool all = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

TEST_F(FetcherService, TheEleventhFetchToAHostWaitsForOneReplyToEnd) {
  Gates gates(server_);
  std::vector<ns::Ref<NetHTTPFetcher>> fetchers;
  for (int i = 0; i < 11; ++i) fetchers.push_back(begin(server_.baseURL(), "/gate/" + std::to_string(i)));
  ASSERT_TRUE(serverSaw(10));
  EXPECT_EQ(service_->numberOfRunningFetchers(), 10u);
  EXPECT_EQ(service_->numberOfDelayedFetchers(), 1u);
  EXPECT_TRUE(service_->isDelayingFetcher(fetchers[10]));
  EXPECT_TRUE(fetchers[10]->isFetching()) << "a delayed fetcher counts as fetching";
  EXPECT_EQ(service_->issuedFetchersWithRequestURL(ns::URL::URLWithString(url("/gate/10"))).size(), 1u);

  gates.open(3);
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcomes_[3]->finished == 1; }));
  EXPECT_EQ(outcomes_[3]->body(), "gate 3");
  ASSERT_TRUE(serverSaw(11));
  EXPECT_EQ(server_.requests().back().path, "/gate/10");
  EXPECT_EQ(service_->numberOfRunningFetchers(), 10u);
  EXPECT_EQ(service_->numberOfDelayedFetchers(), 0u);

  gates.openAll();
  ASSERT_TRUE(pltest::pumpUntil([&] {
    return std::all_of(outcomes_.begin(), outcomes_.end(), [](const auto& o) { return o->finished == 1; });
  }));
  EXPECT_EQ(service_->numberOfFetchers(), 0u);
  EXPECT_TRUE(service_->runningHosts().empty());
}

TEST_F(FetcherService, StoppingARunningFetcherStartsTheNextWaiter) {
  service_->setMaxRunningFetchersPerHost(2);
  auto a = begin(server_.baseURL(), "/stall/a");
  begin(server_.baseURL(), "/stall/b");
  begin(server_.baseURL(), "/stall/c");
  ASSERT_TRUE(serverSaw(2));
  a->stopFetching();
  ASSERT_TRUE(serverSaw(3));
  EXPECT_EQ(server_.requests().back().path, "/stall/c");
  EXPECT_EQ(outcomes_[0]->finished, 0) << "a stopped fetch calls nothing";
  service_->stopAllFetchers();
  EXPECT_EQ(service_->numberOfFetchers(), 0u);
}

TEST_F(FetcherService, ALowerPriorityValueOvertakesEarlierWaiters) {
  service_->setMaxRunningFetchersPerHost(1);
  auto running = begin(server_.baseURL(), "/stall/running");
  ASSERT_TRUE(serverSaw(1));
  auto first = begin(server_.baseURL(), "/stall/first", 0);
  auto second = begin(server_.baseURL(), "/stall/second", 0);
  auto urgent = begin(server_.baseURL(), "/stall/urgent", -1);
  EXPECT_EQ(service_->numberOfDelayedFetchers(), 3u);

  std::vector<std::string> order;
  for (auto* stopping : {&running, &urgent, &first}) {
    (*stopping)->stopFetching();
    ASSERT_TRUE(serverSaw(order.size() + 2));
    order.push_back(server_.requests().back().path);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"/stall/urgent", "/stall/first", "/stall/second"}));
}

TEST_F(FetcherService, StoppingADelayedFetcherStartsNothingBeyondTheLimit) {
  service_->setMaxRunningFetchersPerHost(1);
  begin(server_.baseURL(), "/stall/a");
  ASSERT_TRUE(serverSaw(1));
  auto waiting = begin(server_.baseURL(), "/stall/b");
  waiting->stopFetching();
  drainRunLoop();
  EXPECT_EQ(service_->numberOfRunningFetchers(), 1u);
  EXPECT_EQ(service_->numberOfDelayedFetchers(), 0u);
  EXPECT_EQ(server_.requestCount(), 1u);
}

struct HostCase {
  std::string name;
  std::uint64_t limit;
  std::vector<std::string> bases;
  std::size_t delayed;
};

TEST_F(FetcherService, LimitsCountPerHostNameAndZeroMeansNone) {
  std::string port = std::to_string(server_.port());
  std::vector<HostCase> cases = {
      {"other host name", 1, {"https://127.0.0.1:" + port, "https://localhost:" + port}, 0},
      {"same host", 1, {"https://127.0.0.1:" + port, "https://127.0.0.1:" + port}, 1},
      {"no limit", 0, std::vector<std::string>(12, "https://127.0.0.1:" + port), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.clearRequests();
    service_->setMaxRunningFetchersPerHost(c.limit);
    for (std::size_t i = 0; i < c.bases.size(); ++i) begin(c.bases[i], "/stall/" + std::to_string(i));
    EXPECT_EQ(service_->numberOfDelayedFetchers(), c.delayed);
    EXPECT_TRUE(serverSaw(c.bases.size() - c.delayed));
    service_->stopAllFetchers();
    EXPECT_EQ(service_->numberOfRunningFetchers(), 0u);
    EXPECT_EQ(service_->numberOfDelayedFetchers(), 0u);
    EXPECT_EQ(service_->numberOfFetchers(), 0u);
    EXPECT_TRUE(service_->delayedHosts().empty());
  }
}

// Records what the service tells it about itself.
class LinkedAuthorizer : public ns::Object, public NetFetcherAuthorizationProtocol {
 public:
  bool isAuthorizedRequest(const ns::Ref<ns::URLRequest>&) override { return true; }
  ns::Ref<NetHTTPFetcherService> fetcherService() override { return service.lock(); }
  void setFetcherService(const ns::Ref<NetHTTPFetcherService>& s) override {
    service = s;
    ++links;
  }
  ns::Weak<NetHTTPFetcherService> service;
  int links = 0;
};

TEST(FetcherServiceSettings, NewFetchersTakeTheServiceSettings) {
  pltest::Sandbox sandbox;
  auto service = ns::make<NetHTTPFetcherService>();
  auto authorizer = ns::make<LinkedAuthorizer>();
  service->setAuthorizer(authorizer);
  EXPECT_EQ(authorizer->fetcherService(), service);
  service->setUserAgent("Pelorin/1.0");
  service->setTimeout(17);
  service->setAllowLocalhostRequest(true);
  service->setAllowedInsecureSchemes({"http"});

  auto fetcher = service->fetcherWithURLString("https://www.example.test/");
  EXPECT_EQ(fetcher->mutableRequest()->valueForHTTPHeaderField("User-Agent"), "Pelorin/1.0");
  EXPECT_EQ(fetcher->mutableRequest()->timeoutInterval(), 17);
  EXPECT_EQ(fetcher->authorizer(), authorizer);
  EXPECT_EQ(fetcher->service(), service);
  EXPECT_EQ(fetcher->fetchHistory(), service->fetchHistory());
  EXPECT_EQ(fetcher->cookieStorage(), service->fetchHistory()->cookieStorage());
  EXPECT_TRUE(fetcher->allowLocalhostRequest());
  EXPECT_EQ(fetcher->allowedInsecureSchemes(), std::vector<std::string>{"http"});

  auto own = ns::URLRequest::requestWithURL(ns::URL::URLWithString("https://www.example.test/"));
  own->setValue_forHTTPHeaderField("Mine/2", "User-Agent");
  EXPECT_EQ(service->fetcherWithRequest(own)->mutableRequest()->valueForHTTPHeaderField("User-Agent"),
            "Mine/2");

  // A new authorizer detaches the old one.
  auto next = ns::make<LinkedAuthorizer>();
  service->setAuthorizer(next);
  EXPECT_FALSE(authorizer->fetcherService());
  EXPECT_EQ(next->fetcherService(), service);
  EXPECT_TRUE(service->issuedFetchersWithRequestURL(ns::URL::URLWithString("file:///x")).empty());
}

}  // namespace
