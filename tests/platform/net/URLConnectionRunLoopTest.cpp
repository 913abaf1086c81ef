// Delivery on a scheduled run loop, and time-outs on the virtual clock.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Stream.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/Timer.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "tests/platform/net/RecordingDelegate.h"

using namespace ns;
using pltest::FakeReply;
using pltest::FakeServer;

TEST(URLConnectionRunLoop, DeliversInOrderOnTheScheduledLoopAndModeOnly) {
  FakeServer server;
  server.canned("GET", "/feed", FakeReply::chunked({"a", "b", "c"}));
  auto delegate = std::make_shared<RecordingDelegate>();
  auto connection = URLConnection::initWithRequest_delegate_startImmediately(
      requestFor(server.URLForPath("/feed")), delegate, false);
  const std::string custom = "PelorinTestMode";
  connection->scheduleInRunLoop_forMode(RunLoop::currentRunLoop(), custom);
  connection->start();

  // Pumping another mode delivers nothing, not even the first callback.
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_TRUE(delegate->kinds().empty());
  EXPECT_EQ(server.requestCount(), 0u);

  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->ended(); }, 10, custom));
  auto kinds = delegate->kinds();
  ASSERT_GE(kinds.size(), 4u);
  EXPECT_EQ(kinds.front(), "request");
  EXPECT_EQ(kinds[1], "response");
  EXPECT_EQ(kinds.back(), "finish");
  EXPECT_EQ(delegate->body, "abc");
  EXPECT_TRUE(delegate->allOnThread(std::this_thread::get_id()));
}

TEST(URLConnectionRunLoop, StartedConnectionUsesTheCurrentLoopsDefaultMode) {
  FakeServer server;
  server.canned("GET", "/x", FakeReply::text(200, "x"));
  auto delegate = std::make_shared<RecordingDelegate>();
  auto connection =
      URLConnection::connectionWithRequest_delegate(requestFor(server.URLForPath("/x")), delegate);
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->ended(); }));
  EXPECT_EQ(delegate->body, "x");
}

TEST(URLConnectionRunLoop, AStalledServerTimesOutOnTheVirtualClock) {
  FakeServer server;
  server.canned("GET", "/stall", FakeReply::stalled("", 100));
  pltest::VirtualClock clock;
  auto delegate = std::make_shared<RecordingDelegate>();
  auto request = requestFor(server.URLForPath("/stall"));
  request->setTimeoutInterval(30);
  auto connection = URLConnection::connectionWithRequest_delegate(request, delegate);
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->count("response") == 1; }));
  // advance() returns once the engine has looked at its time-outs, so a failure would be queued
  // before the marker block.
  clock.advance(29);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_FALSE(delegate->ended()) << "not yet: 29 of 30 idle seconds";
  clock.advance(2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->ended(); }));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code(), -1001);
  EXPECT_EQ(delegate->error->localizedDescription(), "The request timed out.");
  server.release();
}

TEST(URLConnectionRunLoop, DelegateQueueOnADispatchQueue) {
  FakeServer server;
  server.canned("GET", "/q", FakeReply::text(200, "queued"));
  auto delegate = std::make_shared<RecordingDelegate>();
  auto connection = URLConnection::initWithRequest_delegate_startImmediately(
      requestFor(server.URLForPath("/q")), delegate, false);
  auto queue = dispatch::queueCreate("com.ordel42.zeravozezi.test.net");
  std::atomic<bool> onQueue{true};
  delegate->onData = [&](const Data&) {
    if (dispatch::currentQueue() != queue) onQueue = false;
  };
  connection->setDelegateQueue(queue);
  connection->start();
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->ended(); }));
  EXPECT_EQ(delegate->body, "queued");
  EXPECT_TRUE(onQueue);
}

TEST(URLConnectionRunLoop, OperationQueueDelegateAndInputStreamBodies) {
  FakeServer server;
  server.route("POST", "/up",
               [](const pltest::FakeRequest& r) { return FakeReply::text(200, "got " + r.body); });
  server.route("POST", "/moved", [](const pltest::FakeRequest&) { return FakeReply::redirect(307, "/up"); });
  auto queue = make<OperationQueue>();

  auto request = requestFor(server.URLForPath("/up"));
  request->setHTTPMethod("POST");
  request->setHTTPBodyStream(InputStream::inputStreamWithData(Data("streamed body")));
  request->setValue_forHTTPHeaderField("text/plain", "Content-Type");
  auto delegate = std::make_shared<RecordingDelegate>();
  std::atomic<bool> onQueue{true};
  delegate->onData = [&](const Data&) {
    if (OperationQueue::currentQueue() != queue) onQueue = false;
  };
  auto connection = URLConnection::initWithRequest_delegate_startImmediately(request, delegate, false);
  connection->setDelegateQueue(queue);
  connection->start();
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->ended(); }));
  EXPECT_EQ(delegate->body, "got streamed body");
  EXPECT_TRUE(onQueue);

  // A 307 must send the body again, which a stream cannot do.
  auto again = requestFor(server.URLForPath("/moved"));
  again->setHTTPMethod("POST");
  again->setHTTPBodyStream(InputStream::inputStreamWithData(Data("once")));
  again->setValue_forHTTPHeaderField("text/plain", "Content-Type");
  auto second = std::make_shared<RecordingDelegate>();
  auto redirected = URLConnection::connectionWithRequest_delegate(again, second);
  ASSERT_TRUE(pltest::pumpUntil([&] { return second->ended(); }));
  ASSERT_TRUE(second->error);
  EXPECT_EQ(second->error->code(), -1021);
}
