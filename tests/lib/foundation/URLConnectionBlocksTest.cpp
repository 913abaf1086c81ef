#include <gtest/gtest.h>

#include <cstring>

#include "lib/foundation/URLConnectionBlocks.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"

namespace uc_test {

// An ordinary delegate that keeps the body itself.
class DataTaker : public ns::Object {
 public:
  void connection_didReceiveData(ns::Ref<ns::URLConnection>, ns::Data data) { bytes += data.length(); }
  std::size_t bytes = 0;
};

}  // namespace uc_test

PL_CLASS_NAMED(uc_test::DataTaker, "UCDataTaker", ns::Object) {
  cls.method<&uc_test::DataTaker::connection_didReceiveData>("connection:didReceiveData:");
}

namespace {

struct Outcome {
  int successes = 0, failures = 0;
  std::optional<ns::Data> body;
  ns::Ref<ns::URLResponse> response;
  ns::Error error;
  bool done() const { return successes + failures > 0; }
};

class URLConnectionBlocksTest : public testing::Test {
 protected:
  pltest::Sandbox sandbox;
  pltest::FakeServer server;

  ns::Ref<ns::URLRequest> request(const std::string& path) {
    return ns::URLRequest::requestWithURL(ns::URL::URLWithString(server.URLForPath(path)));
  }

  ns::Ref<ns::URLConnection> start(const ns::Ref<ns::URLRequest>& req, Outcome& outcome) {
    return URLConnectionBlocks::startConnectionWithRequest_successHandler_failureHandler(
        req,
        [&outcome](ns::Ref<ns::URLConnection>, ns::Ref<ns::URLResponse> response,
                   std::optional<ns::Data> body) {
          ++outcome.successes;
          outcome.response = response;
          outcome.body = body;
        },
        [&outcome](ns::Ref<ns::URLConnection>, ns::Error error) {
          ++outcome.failures;
          outcome.error = error;
        });
  }
};

TEST_F(URLConnectionBlocksTest, SuccessGetsTheWholeBodyOrNilAndFailureComesOnce) {
  server.canned("GET", "/empty", pltest::FakeReply::text(200, ""));
  server.canned("GET", "/moved", pltest::FakeReply::redirect(302, "/final"));
  server.canned("GET", "/final", pltest::FakeReply::text(200, "second body"));

  Outcome empty;
  auto c1 = start(request("/empty"), empty);
  ASSERT_TRUE(pltest::pumpUntil([&] { return empty.done(); }));
  EXPECT_EQ(empty.successes, 1);
  EXPECT_FALSE(empty.body.has_value());

  Outcome moved;
  auto c2 = start(request("/moved"), moved);
  ASSERT_TRUE(pltest::pumpUntil([&] { return moved.done(); }));
  ASSERT_EQ(moved.successes, 1);
  ASSERT_TRUE(moved.body.has_value());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(moved.body->bytes()), moved.body->length()),
            "second body");
  EXPECT_NE(moved.response->URL()->absoluteString().find("/final"), std::string::npos);

  // A port nobody listens on: failure, once.
  pltest::RefusingLoopbackPort port;
  Outcome refused;
  auto c3 = start(ns::URLRequest::requestWithURL(ns::URL::URLWithString(port.url())), refused);
  ASSERT_TRUE(pltest::pumpUntil([&] { return refused.done(); }));
  pltest::pumpUntil([] { return false; }, 0.1);
  EXPECT_EQ(refused.failures, 1);
  EXPECT_EQ(refused.successes, 0);
  EXPECT_EQ(refused.error.code(), -1004);
}

TEST_F(URLConnectionBlocksTest, ProgressIsReportedOnlyAgainstAKnownTotal) {
  server.canned("GET", "/chunked", pltest::FakeReply::chunked({"abc", "def"}));
  server.canned("GET", "/sized", pltest::FakeReply::text(200, std::string(10000, 'x')));
  server.route("POST", "/upload", [](const pltest::FakeRequest& r) {
    return pltest::FakeReply::text(200, std::to_string(r.body.size()));
  });

  // Chunked: no length, no download progress.
  Outcome chunked;
  auto c1 = URLConnectionBlocks::initWithRequest(request("/chunked"));
  int chunkedProgress = 0;
  URLConnectionBlocks::setDownloadBlock(c1, [&](double) { ++chunkedProgress; });
  URLConnectionBlocks::startWithCompletionBlock(c1, [&](auto, auto, std::optional<ns::Data> body) {
    ++chunked.successes;
    chunked.body = body;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] { return chunked.done(); }));
  EXPECT_EQ(chunkedProgress, 0);
  ASSERT_TRUE(chunked.body.has_value());
  EXPECT_EQ(chunked.body->length(), 6u);

  // A real delegate that takes the data: it gets every byte, the collected body stays empty, and
  // the download progress still runs up to 1.
  Outcome sized;
  auto c2 = URLConnectionBlocks::initWithRequest(request("/sized"));
  auto taker = ns::make<uc_test::DataTaker>();
  URLConnectionBlocks::setDelegate(c2, taker);
  EXPECT_EQ(URLConnectionBlocks::delegate(c2), taker);
  std::vector<double> progress;
  URLConnectionBlocks::setDownloadBlock(c2, [&](double p) { progress.push_back(p); });
  URLConnectionBlocks::startWithCompletionBlock(c2, [&](auto, auto, std::optional<ns::Data> body) {
    ++sized.successes;
    sized.body = body;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] { return sized.done(); }));
  EXPECT_EQ(taker->bytes, 10000u);
  EXPECT_FALSE(sized.body.has_value());
  ASSERT_FALSE(progress.empty());
  EXPECT_DOUBLE_EQ(progress.back(), 1.0);

  // An upload from a stream has no known total: the upload block is never called.
  auto req = request("/upload");
  req->setHTTPMethod("POST");
  auto sent = std::make_shared<bool>(false);
  auto stream = std::make_shared<ns::URLRequestBodyStream>();
  stream->open = [] { return true; };
  stream->read = [sent](std::uint8_t* buffer, std::size_t capacity) -> long {
    if (*sent) return 0;
    *sent = true;
    std::memset(buffer, 'u', std::min<std::size_t>(capacity, 100));
    return static_cast<long>(std::min<std::size_t>(capacity, 100));
  };
  stream->close = [] {};
  req->setHTTPBodyStream(stream);
  Outcome upload;
  auto c3 = URLConnectionBlocks::initWithRequest(req);
  int uploadCalls = 0;
  URLConnectionBlocks::setUploadBlock(c3, [&](double) { ++uploadCalls; });
  URLConnectionBlocks::startWithCompletionBlock(c3, [&](auto, auto, std::optional<ns::Data> body) {
    ++upload.successes;
    upload.body = body;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] { return upload.done(); }));
  EXPECT_EQ(uploadCalls, 0);
  ASSERT_TRUE(upload.body.has_value());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(upload.body->bytes()), upload.body->length()), "100");
}

TEST_F(URLConnectionBlocksTest, TheResponseBlockAndTheDelegateAccessorsGoThroughTheRuntime) {
  server.canned("GET", "/a", pltest::FakeReply::text(200, "a"));
  auto c = URLConnectionBlocks::initWithRequest(request("/a"));
  ns::Ref<ns::URLResponse> seen;
  URLConnectionBlocks::setResponseBlock(
      c, [&](ns::Ref<ns::URLConnection> connection, ns::Ref<ns::URLResponse> r) {
        EXPECT_EQ(connection, c);
        seen = r;
      });
  EXPECT_NE(ns::send<ns::Ref<ns::Object>>(c, ns::Sel("responseBlock")), nullptr);
  auto dynamic = ns::send<ns::Ref<ns::Object>>(c, ns::Sel("dyn_delegate"));
  ASSERT_NE(dynamic, nullptr);
  EXPECT_EQ(dynamic->className(), "DynamicNSURLConnectionDelegate");
  EXPECT_TRUE(ns::conformsToProtocol(dynamic, ns::objc_getProtocol("NSURLConnectionDataDelegate")));
  EXPECT_EQ(URLConnectionBlocks::delegate(c), nullptr);
  bool finished = false;
  URLConnectionBlocks::startWithCompletionBlock(c, [&](auto, auto, auto) { finished = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return finished; }));
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->expectedContentLength(), 1);
}

}  // namespace
