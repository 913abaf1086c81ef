// The one network thread: every connection callback runs on it, and it is stopped and joined when
// the process exits, also with a transfer still running.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <set>
#include <vector>

#include "lib/net/HTTPRequestOperation.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/FakeServer.h"
#include "tests/lib/net/OperationTestSupport.h"

using pltest::FakeReply;
using pltest::FakeServer;

namespace {

// Notes the thread of each callback, calling the base first as subclasses do.
class ThreadNotingOperation : public HTTPRequestOperation {
 public:
  using HTTPRequestOperation::HTTPRequestOperation;
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override {
    HTTPRequestOperation::connection_didReceiveResponse(connection, response);
    note();
  }
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection,
                                 const ns::Data& data) override {
    HTTPRequestOperation::connection_didReceiveData(connection, data);
    note();
  }
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override {
    note();
    HTTPRequestOperation::connectionDidFinishLoading(connection);
  }
  std::set<ns::Thread*> threads() const {
    std::lock_guard guard(lock());
    return threads_;
  }

 private:
  void note() {
    std::lock_guard guard(lock());
    threads_.insert(ns::Thread::currentThread().get());
  }
  std::set<ns::Thread*> threads_;
};

}  // namespace

TEST(NetworkThread, EveryOperationsCallbacksRunOnTheNetworkingThread) {
  FakeServer server;
  // Whole replies: the server library's chunked writer is not safe to run on several of its
  // threads at once.
  const std::string body = nettest::patterned(96 << 10);
  server.canned("GET", "/parts", FakeReply::text(200, body, "application/octet-stream"));
  std::vector<ns::Ref<ThreadNotingOperation>> ops;
  for (int i = 0; i < 3; ++i) {
    ops.push_back(ns::make<ThreadNotingOperation>(nettest::requestFor(server.URLForPath("/parts"))));
    ops.back()->start();
  }
  auto network = URLConnectionOperation::networkRequestThread();
  EXPECT_EQ(network->name(), "Networking");
  for (auto& op : ops) {
    ASSERT_TRUE(nettest::pumpUntilSettled(op));
    EXPECT_TRUE(op->responseData().value_or(ns::Data()).toString() == body);
    EXPECT_EQ(op->threads(), (std::set<ns::Thread*>{network.get()}));
  }
}

// Run by the next test in a child process: exits while a transfer waits for a stalled server.
TEST(NetworkThreadChild, DISABLED_ExitsWhileATransferRuns) {
  static auto* server = new FakeServer;
  server->canned("GET", "/stall", FakeReply::stalled("first", 1000));
  static auto op = HTTPRequestOperation::initWithRequest(nettest::requestFor(server->URLForPath("/stall")));
  op->start();
  ASSERT_TRUE(pltest::pumpUntil([] { return op->response() != nullptr; }));
  EXPECT_TRUE(op->isExecuting());
}

TEST(NetworkThread, StoppedAndJoinedAtExitWithATransferRunning) {
  int status = pltest::runChildTest("NetworkThreadChild.DISABLED_ExitsWhileATransferRuns");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
