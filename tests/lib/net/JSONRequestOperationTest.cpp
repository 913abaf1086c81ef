// JSON replies: parsed on success, every bad reply a failure with an error, nothing thrown.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>

#include "lib/net/JSONRequestOperation.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/net/OperationTestSupport.h"

using pltest::FakeReply;
using pltest::FakeServer;

namespace {

struct Outcome {
  int successes = 0;
  int failures = 0;
  bool onMainThread = true;
  ns::Value json;
  std::optional<ns::Error> error;
  ns::Ref<ns::HTTPURLResponse> response;
};

// Runs a JSON operation for `path` to its end and collects what its blocks saw.
Outcome run(FakeServer& server, const std::string& path, bool withFailureBlock = true) {
  Outcome out;
  auto op = JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
      nettest::requestFor(server.URLForPath(path)),
      [&](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>& response,
          const ns::Value& json) {
        ++out.successes;
        out.onMainThread = out.onMainThread && ns::Thread::isMainThread();
        out.json = json;
        out.response = response;
      },
      withFailureBlock ? JSONRequestOperation::JSONFailure([&](const ns::Ref<ns::URLRequest>&,
                                                               const ns::Ref<ns::HTTPURLResponse>& response,
                                                               const ns::Error& error, const ns::Value&) {
        ++out.failures;
        out.onMainThread = out.onMainThread && ns::Thread::isMainThread();
        out.error = error;
        out.response = response;
      })
                       : JSONRequestOperation::JSONFailure());
  op->start();
  EXPECT_TRUE(nettest::pumpUntilSettled(op));
  return out;
}

}  // namespace

TEST(JSONRequestOperation, ObjectBodyReachesSuccessOnTheMainThread) {
  FakeServer server;
  server.canned("GET", "/feeds", FakeReply::json(200, R"({"a":[1,2]})"));
  // Some endpoints answer JSON as HTML: any content type is taken.
  server.canned("GET", "/html", FakeReply::text(200, R"({"b":"c"})", "text/html"));

  auto out = run(server, "/feeds");
  EXPECT_EQ(out.successes, 1);
  EXPECT_EQ(out.failures, 0);
  EXPECT_TRUE(out.onMainThread);
  ASSERT_TRUE(out.json.isDictionary());
  auto a = out.json.dictionary().objectForKey("a");
  ASSERT_TRUE(a.isArray());
  ASSERT_EQ(a.array().size(), 2u);
  EXPECT_EQ(a.array()[0].intValue(), 1);
  EXPECT_EQ(a.array()[1].intValue(), 2);
  ASSERT_TRUE(out.response);
  EXPECT_EQ(out.response->statusCode(), 200);

  auto html = run(server, "/html");
  EXPECT_EQ(html.successes, 1);
  ASSERT_TRUE(html.json.isDictionary());
  EXPECT_EQ(html.json.dictionary().objectForKey("b").stringValue(), "c");
}

TEST(JSONRequestOperation, BadRepliesEndInFailureWithAnError) {
  FakeServer server;
  server.canned("GET", "/missing", FakeReply::json(404, R"({"error":"gone"})"));
  server.canned("GET", "/broken", FakeReply::json(200, "{"));
  server.canned("GET", "/short", FakeReply::cutShort(R"({"a":)", 100));
  struct Case {
    const char* path;
    std::optional<long> code;    // the URL error expected, or any error of another domain
    std::optional<long> status;  // the status recorded in the error
  } cases[] = {
      {"/missing", ns::URLErrorBadServerResponse, 404},
      {"/broken", std::nullopt, std::nullopt},
      {"/short", ns::URLErrorNetworkConnectionLost, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto out = run(server, c.path);
    EXPECT_EQ(out.successes, 0);
    ASSERT_EQ(out.failures, 1);
    EXPECT_TRUE(out.onMainThread);
    ASSERT_TRUE(out.error);
    if (c.code) {
      EXPECT_EQ(out.error->domain(), ns::NSURLErrorDomain);
      EXPECT_EQ(out.error->code(), *c.code);
    } else {
      EXPECT_NE(out.error->domain(), ns::NSURLErrorDomain) << "a parse error, not a transfer error";
    }
    if (c.status) {
      EXPECT_EQ(out.error->userInfo().objectForKey(kHTTPRequestOperationStatusCodeKey).integerValue(),
                *c.status);
      auto response = out.error->userInfo().objectForKey(kHTTPRequestOperationResponseKey);
      EXPECT_TRUE(response.isObject());
      ASSERT_TRUE(out.response);
      EXPECT_EQ(out.response->statusCode(), *c.status);
    }
  }
}

TEST(JSONRequestOperation, WithoutAFailureBlockAFailedRequestRunsNothingAndFinishes) {
  FakeServer server;
  server.canned("GET", "/missing", FakeReply::json(404, "{}"));
  server.canned("GET", "/broken", FakeReply::json(200, "[1,"));
  for (const char* path : {"/missing", "/broken"}) {
    SCOPED_TRACE(path);
    auto out = run(server, path, /*withFailureBlock=*/false);
    EXPECT_EQ(out.successes, 0);
    EXPECT_EQ(out.failures, 0);
  }
}
