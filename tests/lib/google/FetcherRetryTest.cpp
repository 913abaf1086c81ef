// Retry with back-off on the virtual clock, the retry callbacks, and the one refresh-and-retry
// after a 401.
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/FetcherTestSupport.h"

#include "platform/core/Str.h"

using namespace fetchertest;
using pltest::FakeReply;

namespace {

// Answers each request with the next status of a script (the last one repeats).
void scriptStatuses(pltest::FakeServer& server, const std::string& path, std::vector<int> statuses) {
  auto count = std::make_shared<std::atomic<std::size_t>>(0);
  server.route("*", path, [count, statuses](const pltest::FakeRequest&) {
    std::size_t n = (*count)++;
    int status = statuses[std::min(n, statuses.size() - 1)];
    return FakeReply::text(status, status == 200 ? "done" : "busy " + std::to_string(status))
        .header("Set-Cookie", "s=1; Path=/");
  });
}

class FetcherRetry : public FetcherTest {
 protected:
  // The retry timer must not fire a moment before `wait` seconds, and must fire at `wait`.
  void expectWait(NotificationCounter& notes, double wait) {
    int fired = notes.retryStopped();
    clock_.advance(wait - 0.01);
    drainRunLoop();
    EXPECT_EQ(notes.retryStopped(), fired) << "fired before " << wait << " s";
    clock_.advance(0.02);
    ASSERT_TRUE(pltest::pumpUntil([&] { return notes.retryStopped() == fired + 1; }))
        << "no retry at " << wait;
  }

  pltest::VirtualClock clock_;
};

TEST_F(FetcherRetry, ServiceUnavailableTwiceThenSuccess) {
  scriptStatuses(server_, "/r", {503, 503, 200});
  auto fetcher = fetcherFor("/r");
  fetcher->setRetryEnabled(true);
  fetcher->setMinRetryInterval(1.5);
  NotificationCounter notes(fetcher);
  Outcome outcome;
  ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  for (double wait : {1.5, 3.0}) {
    int started = notes.retryStarted();
    ASSERT_TRUE(pltest::pumpUntil([&] { return notes.retryStarted() == started + 1; }));
    EXPECT_TRUE(fetcher->isFetching()) << "waiting to retry counts as fetching";
    expectWait(notes, wait);
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  drainRunLoop();
  EXPECT_EQ(outcome.finished, 1);
  EXPECT_EQ(outcome.body(), "done");
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(fetcher->retryCount(), 2u);
  auto requests = requestsTo("/r");
  ASSERT_EQ(requests.size(), 3u);
  // The cookie set by the first reply goes out once per request, never doubled by the retries.
  EXPECT_EQ(requests[1].header("Cookie"), "s=1");
  EXPECT_EQ(requests[2].header("Cookie"), "s=1");
}

TEST_F(FetcherRetry, ServerErrorIsFinalButTheRetryBlockIsAsked) {
  scriptStatuses(server_, "/e", {500});
  auto fetcher = fetcherFor("/e");
  fetcher->setRetryEnabled(true);
  std::vector<std::pair<bool, long>> asked;
  fetcher->setRetryBlock([&](bool willRetry, const ns::Error& error) {
    asked.emplace_back(willRetry, error.code());
    return willRetry;
  });
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  EXPECT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(asked, (std::vector<std::pair<bool, long>>{{false, 500}}));
  ASSERT_TRUE(pltest::isError(outcome.error, NetHTTPStatusErrorDomain, 500));
  EXPECT_EQ(outcome.error->userInfo()["data"].data().toString(), "busy 500");
  EXPECT_EQ(outcome.body(), "busy 500") << "a status failure still hands over the body";
}

struct BackOffCase {
  std::string name;
  std::string method;
  std::optional<std::string> methodOverride;
  bool withBody;
  double ceiling;
  std::vector<double> waits;
};

TEST_F(FetcherRetry, BackOffDoublesUntilTheCeilingForTheMethod) {
  std::vector<BackOffCase> cases = {
      {"GET", "GET", std::nullopt, false, 60, {1.5, 3, 6, 12, 24, 48}},
      {"POST", "GET", std::nullopt, true, 600, {1.5, 3, 6, 12, 24, 48, 96, 192, 384}},
      {"HEAD override on a POST", "POST", "HEAD", true, 60, {1.5, 3, 6, 12, 24, 48}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "/busy/" + std::to_string(&c - cases.data());
    scriptStatuses(server_, path, {503});
    auto fetcher = fetcherFor(path);
    fetcher->mutableRequest()->setHTTPMethod(c.method);
    if (c.methodOverride)
      fetcher->mutableRequest()->setValue_forHTTPHeaderField(*c.methodOverride, "X-HTTP-Method-Override");
    if (c.withBody) fetcher->setPostData(ns::Data("x=1"));
    fetcher->setRetryEnabled(true);
    fetcher->setMinRetryInterval(1.5);
    NotificationCounter notes(fetcher);
    Outcome outcome;
    ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
    for (double wait : c.waits) {
      int started = notes.retryStarted();
      ASSERT_TRUE(
          pltest::pumpUntil([&] { return notes.retryStarted() == started + 1 || outcome.finished > 0; }));
      ASSERT_EQ(outcome.finished, 0) << "gave up before the wait of " << wait << ": "
                                     << (outcome.error ? outcome.error->description() : "");
      EXPECT_EQ(fetcher->maxRetryInterval(), c.ceiling);
      expectWait(notes, wait);
    }
    ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
    EXPECT_EQ(notes.retryStarted(), static_cast<int>(c.waits.size()));
    EXPECT_EQ(outcome.error->code(), 503);
    EXPECT_EQ(requestsTo(path).size(), c.waits.size() + 1);
    if (c.withBody) {
      EXPECT_EQ(requestsTo(path).front().method, "POST");
    }
  }
}

TEST_F(FetcherRetry, NoBackOffOnceThreeCeilingsHavePassed) {
  scriptStatuses(server_, "/old", {503});
  auto fetcher = fetcherFor("/old");
  fetcher->setRetryEnabled(true);
  fetcher->setMinRetryInterval(1.5);
  fetcher->setMaxRetryInterval(10);
  NotificationCounter notes(fetcher);
  Outcome outcome;
  ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return notes.retryStarted() == 1; }));
  // Past 3 x 10 s since the first start the next failure is final.
  clock_.advance(31);
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_EQ(notes.retryStarted(), 1);
  EXPECT_EQ(requestsTo("/old").size(), 2u);
}

// Signs requests with "Bearer <token>"; can refresh once.
class TestAuthorizer : public ns::Object, public NetFetcherAuthorizationProtocol {
 public:
  std::string token = "one";
  bool canRefresh = true;
  int authorizations = 0;
  int primes = 0;

  bool isAuthorizedRequest(const ns::Ref<ns::URLRequest>& request) override {
    return !request->valueForHTTPHeaderField("Authorization").value_or("").empty();
  }
  bool authorizeRequest_delegate_didFinishSelector(const ns::Ref<ns::URLRequest>& request,
                                                   const ns::Ref<ns::Object>& delegate,
                                                   const FinishedSelector& selector) override {
    ++authorizations;
    pending_ = request;
    auto me = std::static_pointer_cast<TestAuthorizer>(shared_from_this());
    // Answers on a later turn, as a token refresh would.
    ns::RunLoop::currentRunLoop()->performBlock([me, request, delegate, selector] {
      if (me->pending_ != request) return;
      me->pending_.reset();
      request->setValue_forHTTPHeaderField("Bearer " + me->token, "Authorization");
      selector(*delegate, me, request, std::nullopt);
    });
    return true;
  }
  bool isAuthorizingRequest(const ns::Ref<ns::URLRequest>& request) override { return pending_ == request; }
  void stopAuthorizationForRequest(const ns::Ref<ns::URLRequest>& request) override {
    if (pending_ == request) pending_.reset();
  }
  bool primeForRefresh() override {
    ++primes;
    if (!canRefresh) return false;
    token = "two";
    return true;
  }

 private:
  ns::Ref<ns::URLRequest> pending_;
};

struct RefreshCase {
  std::string name;
  std::string acceptedToken;  // the token the fake takes
  int requests;
  long finalStatus;
};

TEST_F(FetcherRetry, UnauthorizedIsRetriedOnceWithARefreshedToken) {
  std::vector<RefreshCase> cases = {
      {"refresh helps", "Bearer two", 2, 200},
      {"second 401 is final", "Bearer three", 2, 401},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "/auth/" + std::to_string(&c - cases.data());
    std::string accepted = c.acceptedToken;
    server_.route("GET", path, [accepted](const pltest::FakeRequest& r) {
      if (r.header("Authorization") == accepted) return FakeReply::text(200, "secret");
      return FakeReply::json(401, R"({"error":"invalid_token"})");
    });
    auto authorizer = ns::make<TestAuthorizer>();
    auto fetcher = fetcherFor(path);
    fetcher->setAuthorizer(authorizer);
    Outcome outcome;
    ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
    EXPECT_TRUE(fetcher->isFetching()) << "waiting for the authorizer counts as fetching";
    ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
    auto requests = requestsTo(path);
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(c.requests));
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer one");
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer two");
    EXPECT_EQ(authorizer->primes, 1);
    EXPECT_EQ(fetcher->statusCode(), c.finalStatus);
    if (c.finalStatus == 200) {
      EXPECT_FALSE(outcome.error);
      EXPECT_EQ(outcome.body(), "secret");
    } else {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->code(), 401);
      EXPECT_EQ(outcome.error->userInfo()["data"].data().toString(), R"({"error":"invalid_token"})");
    }
  }
}

TEST_F(FetcherRetry, AnAuthorizerThatCannotRefreshMakesTheFirst401Final) {
  server_.canned("GET", "/no", FakeReply::text(401, "no"));
  auto authorizer = ns::make<TestAuthorizer>();
  authorizer->canRefresh = false;
  auto fetcher = fetcherFor("/no");
  fetcher->setAuthorizer(authorizer);
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  EXPECT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(outcome.error->code(), 401);
}

}  // namespace
