// A fetch from start to finish on the main run loop: callbacks, notifications, the guard against
// unencrypted requests, the body turning a GET into a POST, a second begin, and who keeps whom.
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/FetcherTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "lib/google/NetHTTPFetcherService.h"
#include "platform/core/Log.h"
#include "platform/net/URLAuthenticationChallenge.h"

using namespace fetchertest;
using pltest::FakeReply;

namespace {

class FetcherBasics : public FetcherTest {};

TEST_F(FetcherBasics, GetDeliversOnceOnTheMainThreadSelectorFirstWithOneStartAndStop) {
  server_.canned("GET", "/feed", FakeReply::json(200, R"({"items":[]})"));
  auto fetcher = fetcherFor("/feed");
  NotificationCounter notes(fetcher);
  Outcome outcome;
  auto delegate = ns::make<RecordingDelegate>(outcome);
  fetcher->setCompletionBlock(outcome.block());
  ASSERT_TRUE(fetcher->beginFetchWithDelegate_didFinishSelector(delegate, RecordingDelegate::selector()));
  EXPECT_EQ(notes.started(), 1);
  EXPECT_TRUE(fetcher->isFetching());

  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  drainRunLoop();
  EXPECT_EQ(outcome.finished, 1);
  EXPECT_EQ(outcome.calls, (std::vector<std::string>{"selector", "block"}));
  EXPECT_TRUE(outcome.onMainThread);
  EXPECT_EQ(outcome.body(), R"({"items":[]})");
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(fetcher->statusCode(), 200);
  EXPECT_EQ(notes.started(), 1);
  EXPECT_EQ(notes.stopped(), 1);
  EXPECT_FALSE(fetcher->isFetching());
  EXPECT_FALSE(fetcher->delegate()) << "the delegate is released when the fetch ends";
}

struct RefusalCase {
  std::string name;
  std::string url;  // "{base}" stands for the plain-HTTP fake's 127.0.0.1 base
  bool allowLocalhost;
  std::vector<std::string> insecureSchemes;
  bool begins;
  std::string logLine;
};

TEST_F(FetcherBasics, UnencryptedFetchesAreRefusedUnlessAllowed) {
  pltest::FakeServer plain;
  plain.canned("GET", "/", FakeReply::text(200, "plain"));
  std::string base = plain.baseURL();
  std::vector<RefusalCase> cases = {
      {"other host",
       "http://www.example.invalid/a",
       false,
       {},
       false,
       "Fetch disallowed for http://www.example.invalid/a"},
      {"localhost ip", base + "/", false, {}, false, "Localhost fetch disallowed for " + base + "/"},
      {"localhost ip, schemes do not help",
       base + "/",
       false,
       {"http"},
       false,
       "Localhost fetch disallowed for"},
      {"localhost allowed", base + "/", true, {}, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pltest::LogCapture log(true);
    auto fetcher = NetHTTPFetcher::fetcherWithURLString(c.url);
    fetcher->setAllowLocalhostRequest(c.allowLocalhost);
    fetcher->setAllowedInsecureSchemes(c.insecureSchemes);
    Outcome outcome;
    std::size_t before = plain.requestCount();
    bool began = fetcher->beginFetchWithCompletionHandler(outcome.block());
    EXPECT_EQ(began, c.begins);
    // Never inside the begin call.
    EXPECT_EQ(outcome.finished, 0);
    ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
    if (c.begins) {
      EXPECT_EQ(outcome.body(), "plain");
      EXPECT_EQ(plain.requestCount(), before + 1);
    } else {
      ASSERT_TRUE(pltest::isError(outcome.error, NetHTTPFetcherErrorDomain, -1));
      EXPECT_FALSE(outcome.data);
      EXPECT_EQ(plain.requestCount(), before) << "nothing is sent";
      EXPECT_TRUE(log.contains(c.logLine));
    }
  }
}

TEST_F(FetcherBasics, ABodyTurnsAGetIntoAPost) {
  server_.route("*", "/echo",
                [](const pltest::FakeRequest& r) { return FakeReply::text(200, r.method + ":" + r.body); });
  auto fetcher = fetcherFor("/echo");
  fetcher->setPostData(ns::Data("q=1"));
  std::int64_t sent = 0, expected = 0;
  fetcher->setSentDataBlock([&](std::int64_t, std::int64_t total, std::int64_t totalExpected) {
    sent = total;
    expected = totalExpected;
  });
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  EXPECT_EQ(outcome.body(), "POST:q=1");
  EXPECT_EQ(sent, 3);
  EXPECT_EQ(expected, 3);
  EXPECT_EQ(fetcher->mutableRequest()->HTTPMethod(), "POST");
}

TEST_F(FetcherBasics, ASecondBeginWhileFetchingIsRefusedAndChangesNothing) {
  server_.canned("GET", "/slow", FakeReply::stalled("", 4));
  auto fetcher = fetcherFor("/slow");
  fetcher->mutableRequest()->setTimeoutInterval(600);
  Outcome first, second;
  ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(first.block()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return server_.requestCount() == 1; }));
  pltest::LogCapture log(true);
  EXPECT_FALSE(fetcher->beginFetchWithCompletionHandler(second.block()));
  EXPECT_TRUE(log.contains("already fetching"));
  EXPECT_TRUE(fetcher->isFetching());
  server_.release();
  ASSERT_TRUE(pltest::pumpUntil([&] { return first.finished == 1; }));
  drainRunLoop();
  EXPECT_EQ(second.finished, 0) << "the refused begin calls nothing";
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(FetcherBasics, StopFetchingCallsNothingAndPostsTheStop) {
  server_.canned("GET", "/stall", FakeReply::stalled("", 4));
  auto fetcher = fetcherFor("/stall");
  NotificationCounter notes(fetcher);
  Outcome outcome;
  ASSERT_TRUE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return server_.requestCount() == 1; }));
  fetcher->stopFetching();
  EXPECT_FALSE(fetcher->isFetching());
  EXPECT_EQ(notes.stopped(), 1);
  server_.release();
  drainRunLoop();
  EXPECT_EQ(outcome.finished, 0);
}

TEST_F(FetcherBasics, FinishedFetchLetsGoOfItsServiceAndDelegate) {
  server_.canned("GET", "/x", FakeReply::text(200, "x"));
  ns::Weak<NetHTTPFetcherService> weakService;
  ns::Weak<NetHTTPFetcher> weakFetcher;
  ns::Weak<ns::Object> weakDelegate;
  Outcome outcome;
  {
    auto service = ns::make<NetHTTPFetcherService>();
    auto fetcher = service->fetcherWithURLString(url("/x"));
    auto delegate = ns::make<RecordingDelegate>(outcome);
    weakService = service;
    weakFetcher = fetcher;
    weakDelegate = delegate;
    ASSERT_TRUE(fetcher->beginFetchWithDelegate_didFinishSelector(delegate, RecordingDelegate::selector()));
    EXPECT_EQ(service->numberOfRunningFetchers(), 1u);
  }
  // The running fetch keeps itself (through its connection) and the service keeps it.
  EXPECT_FALSE(weakFetcher.expired());
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 0 && outcome.calls.size() == 1; }));
  ASSERT_TRUE(pltest::pumpUntil([&] { return weakFetcher.expired(); }));
  EXPECT_TRUE(weakService.expired());
  EXPECT_TRUE(weakDelegate.expired());
}

TEST(FetcherDescription, NamesClassAddressAndURL) {
  pltest::Sandbox sandbox;
  auto fetcher = NetHTTPFetcher::fetcherWithURLString("https://www.example.test/a");
  auto text = fetcher->description();
  EXPECT_EQ(text.rfind("NetHTTPFetcher 0x", 0), 0u) << text;
  EXPECT_NE(text.find("(https://www.example.test/a)"), std::string::npos) << text;
  EXPECT_EQ(fetcher->comment(), "(No fetcher comment set)");
  EXPECT_EQ(fetcher->cookieStorageMethod(), CookieStorageMethodStatic);
  EXPECT_FALSE(fetcher->mutableRequest()->HTTPShouldHandleCookies());
  fetcher->setCookieStorageMethod(CookieStorageMethodSystem);
  EXPECT_TRUE(fetcher->mutableRequest()->HTTPShouldHandleCookies());
  EXPECT_FALSE(fetcher->cookieStorage());
  fetcher->setCommentWithFormat(std::string("page %d of %@"), 2, std::string("feed"));
  EXPECT_EQ(fetcher->comment(), "page 2 of feed");
  fetcher->setCommentWithFormat(std::nullopt);
  EXPECT_EQ(fetcher->comment(), std::nullopt);
}

TEST(FetcherBegin, NoURLFailsToBeginLater) {
  pltest::Sandbox sandbox;
  auto fetcher = ns::make<NetHTTPFetcher>();
  Outcome outcome;
  EXPECT_FALSE(fetcher->beginFetchWithCompletionHandler(outcome.block()));
  EXPECT_EQ(outcome.finished, 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return outcome.finished == 1; }));
  EXPECT_EQ(outcome.error->code(), -1);
}

}  // namespace

namespace {

struct BadReplyCase {
  std::string name;
  FakeReply reply;
  bool succeeds;
};

TEST_F(FetcherBasics, BadRepliesEndInAnErrorOrAreIgnored) {
  std::vector<BadReplyCase> cases = {
      {"malformed location", FakeReply::redirect(302, "http://[::1"), false},
      {"location without host", FakeReply::redirect(302, "https://"), false},
      {"malformed set-cookie",
       FakeReply::text(200, "ok").header("Set-Cookie", ";;=;; Domain=..; Expires=never"), true},
      {"body cut short", FakeReply::cutShort("abc", 100), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "/bad/" + std::to_string(&c - cases.data());
    server_.canned("GET", path, c.reply);
    auto fetcher = fetcherFor(path);
    fetcher->setCookieStorageMethod(CookieStorageMethodFetchHistory);
    Outcome outcome;
    ASSERT_TRUE(fetchToEnd(fetcher, outcome));
    drainRunLoop();
    EXPECT_EQ(outcome.finished, 1);
    EXPECT_EQ(!outcome.error, c.succeeds) << (outcome.error ? outcome.error->description() : "");
  }
}

// A loopback peer that answers every connection with the same raw bytes, for replies the fake
// HTTP server cannot produce.
class RawPeer {
 public:
  explicit RawPeer(std::string reply) : reply_(std::move(reply)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      char buffer[4096];
      ::recv(client, buffer, sizeof buffer, 0);
      ::send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL);
      ::shutdown(client, SHUT_RDWR);
      ::close(client);
    });
  }
  ~RawPeer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  int port() const { return port_; }

 private:
  std::string reply_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(FetcherRawReplies, AMalformedStatusLineEndsInAnError) {
  pltest::Sandbox sandbox;
  for (std::string reply : {"HTTP/1.1 two hundred OK\r\n\r\nbody", "garbage\r\n\r\n"}) {
    SCOPED_TRACE(reply);
    RawPeer peer(reply);
    auto fetcher =
        NetHTTPFetcher::fetcherWithURLString("http://127.0.0.1:" + std::to_string(peer.port()) + "/");
    fetcher->setAllowLocalhostRequest(true);
    Outcome outcome;
    ASSERT_TRUE(fetchToEnd(fetcher, outcome));
    EXPECT_TRUE(outcome.error);
  }
}

}  // namespace

namespace {

struct ChallengeCase {
  std::string name;
  std::optional<std::pair<std::string, std::string>> credential;
  bool succeeds;
};

TEST_F(FetcherBasics, ChallengesAreAnsweredWithTheCredentialOrEndWithTheChallengeError) {
  // "user:pass" in Base64.
  server_.route("GET", "/basic", [](const pltest::FakeRequest& r) {
    if (r.header("Authorization") == "Basic dXNlcjpwYXNz") return FakeReply::text(200, "in");
    return FakeReply::text(401, "who").header("WWW-Authenticate", "Basic realm=\"fake\"");
  });
  std::vector<ChallengeCase> cases = {
      {"no credential", std::nullopt, false},
      {"right credential", std::make_pair(std::string("user"), std::string("pass")), true},
      {"wrong credential", std::make_pair(std::string("user"), std::string("nope")), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fetcher = fetcherFor("/basic");
    if (c.credential)
      fetcher->setCredential(ns::URLCredential::credentialWithUser_password_persistence(
          c.credential->first, c.credential->second, ns::URLCredentialPersistenceNone));
    Outcome outcome;
    ASSERT_TRUE(fetchToEnd(fetcher, outcome));
    drainRunLoop();
    EXPECT_EQ(outcome.finished, 1);
    if (c.succeeds) {
      EXPECT_EQ(outcome.body(), "in");
    } else {
      ASSERT_TRUE(pltest::isError(outcome.error, NetHTTPFetcherErrorDomain, -2));
      EXPECT_TRUE(outcome.error->userInfo()["challenge"].objectAs<ns::URLAuthenticationChallenge>());
    }
  }
}

TEST_F(FetcherBasics, TheLoggingHookSeesEveryFinishedFetch) {
  server_.canned("GET", "/logged", FakeReply::text(200, "x"));
  std::vector<std::string> logged;
  NetHTTPFetcher::setLoggingHooks({[&](NetHTTPFetcher& fetcher, const std::optional<ns::Error>&) {
                                     logged.push_back(fetcher.mutableRequest()->URL()->path());
                                   },
                                   nullptr});
  auto fetcher = fetcherFor("/logged");
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  NetHTTPFetcher::setLoggingHooks({});
  EXPECT_EQ(logged, std::vector<std::string>{"/logged"});
}

}  // namespace
