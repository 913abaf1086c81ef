// Responses written through a connection subclass: delayed data, chunked bodies, the bound on
// queued bytes, stale responses, asynchronous file responses and request bodies.
#include <gtest/gtest.h>

#include <atomic>

#include "lib/http-server/Core/Responses/HTTPAsyncFileResponse.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "lib/logging/LogHub.h"
#include "platform/dispatch/Queue.h"
#include "tests/lib/http-server/ServerFixture.h"
#include "tests/lib/http-server/TestConnection.h"

namespace httptest {
namespace {

// Answers nothing at first; 100 ms later, from a global queue, it has its body and says so.
class DelayedResponse : public StringResponse {
 public:
  DelayedResponse(std::string body, ns::Weak<HTTPConnection> connection)
      : StringResponse(std::move(body)), connection_(std::move(connection)) {}
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override {
    if (!ready_) {
      if (!scheduled_) {
        scheduled_ = true;
        auto connection = connection_;
        auto* readyFlag = &ready_;
        auto me = self<HTTPResponse>();
        dispatch::after(0.1, dispatch::globalQueue(), [me, connection, readyFlag] {
          readyFlag->store(true);
          if (auto c = connection.lock()) c->responseHasAvailableData(me);
        });
      }
      ++emptyReads;
      return ns::Data();
    }
    return StringResponse::readDataOfLength(length);
  }
  std::atomic<int> emptyReads{0};

 private:
  ns::Weak<HTTPConnection> connection_;
  std::atomic<bool> ready_{false};
  bool scheduled_ = false;
};

// A chunked body of fixed pieces; the connection must ignore Range for it.
class ChunkedResponse : public HTTPResponse {
 public:
  explicit ChunkedResponse(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return offset_; }
  void setOffset(std::uint64_t) override { ADD_FAILURE() << "a chunked response is never positioned"; }
  std::optional<ns::Data> readDataOfLength(std::uint64_t) override {
    if (next_ == pieces_.size()) return ns::Data();
    offset_ += pieces_[next_].size();
    return ns::Data(pieces_[next_++]);
  }
  bool isDone() override { return next_ == pieces_.size(); }
  bool isChunked() override { return true; }
  ns::HTTPHeaderFields httpHeaders() override { return {{"X-Kind", "chunked"}}; }

 private:
  std::vector<std::string> pieces_;
  std::size_t next_ = 0;
  std::uint64_t offset_ = 0;
};

// A large body that checks, at every read, that the connection's queued bytes plus what it
// asks for stay within the bound.
class BoundCheckingResponse : public StringResponse {
 public:
  BoundCheckingResponse(std::string body, ns::Weak<HTTPConnection> owner)
      : StringResponse(std::move(body)), connection(std::move(owner)) {}
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override {
    if (auto c = connection.lock()) {
      std::uint64_t total = c->writeQueueSize() + length;
      maxQueuedPlusAsked = std::max<std::uint64_t>(maxQueuedPlusAsked, total);
    }
    monitor.change([&] { ++reads; });
    return StringResponse::readDataOfLength(length);
  }
  bool waitForReads(int count) {
    return monitor.waitFor([&] { return reads >= count; });
  }
  std::atomic<std::uint64_t> maxQueuedPlusAsked{0};
  ns::Weak<HTTPConnection> connection;  // set on the connection queue before the first read
  pltest::Monitor monitor;
  int reads = 0;  // guarded by monitor
};

class ResponseTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    TestHooks::install(server, hooks);
    startServer();
  }
  std::shared_ptr<TestHooks> hooks = std::make_shared<TestHooks>();
};

TEST_F(ResponseTest, EmptyDataFirstThenAvailableFromAnotherThread) {
  ns::Ref<DelayedResponse> delayed;
  hooks->route = [&](TestConnection& connection, const std::string&,
                     const std::string& path) -> ns::Ref<HTTPResponse> {
    if (path != "/delayed") return nullptr;
    delayed = ns::make<DelayedResponse>("the body that was late", connection.weakSelf<HTTPConnection>());
    return delayed;
  };
  auto r = exchangeOnce(GET("/delayed"));
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->header("Content-Length"), "22");
  EXPECT_EQ(r->body, "the body that was late");
  EXPECT_GE(delayed->emptyReads.load(), 1);
}

TEST_F(ResponseTest, ChunkedResponseWireBytesIgnoringRange) {
  hooks->route = [](TestConnection&, const std::string&, const std::string& path) -> ns::Ref<HTTPResponse> {
    if (path != "/chunked") return nullptr;
    return ns::make<ChunkedResponse>(std::vector<std::string>{"hello", "world, and more!"});
  };
  RawClient& client = connect();
  auto r = exchange(client, GET("/chunked", "Range: bytes=0-1\r\n"), false);
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->header("Transfer-Encoding"), "chunked");
  EXPECT_FALSE(r->header("Content-Length"));
  EXPECT_FALSE(r->header("Content-Range"));
  EXPECT_EQ(r->header("X-Kind"), "chunked");
  auto wire = client.readUntil("\r\n0\r\n\r\n");
  ASSERT_TRUE(wire);
  EXPECT_EQ(*wire, "5\r\nhello\r\n10\r\nworld, and more!\r\n0\r\n\r\n");
  // The connection is kept and answers again.
  ASSERT_TRUE(exchange(client, GET("/chunked"), false));
  EXPECT_TRUE(client.readUntil("\r\n0\r\n\r\n"));
}

TEST_F(ResponseTest, ChunkedResponseThatEndsWithoutALastPieceIsFinished) {
  // No piece at all, and a last piece that is only an empty answer after the others.
  hooks->route = [](TestConnection&, const std::string&, const std::string& path) -> ns::Ref<HTTPResponse> {
    if (path == "/none") return ns::make<ChunkedResponse>(std::vector<std::string>{});
    if (path == "/empty-last") return ns::make<ChunkedResponse>(std::vector<std::string>{"abc", ""});
    return nullptr;
  };
  RawClient& client = connect();
  auto r = exchange(client, GET("/none"), false);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(client.readUntil("0\r\n\r\n"), "0\r\n\r\n");
  ASSERT_TRUE(exchange(client, GET("/empty-last"), false));
  EXPECT_EQ(client.readUntil("0\r\n\r\n"), "3\r\nabc\r\n0\r\n\r\n");
}

TEST_F(ResponseTest, SlowReaderNeverHasMoreThanTheBoundQueued) {
  const std::string big = patternBytes(5 * 1024 * 1024);
  // Made before the request so that the test thread can wait on it.
  auto response = ns::make<BoundCheckingResponse>(big, ns::Weak<HTTPConnection>());
  hooks->route = [&](TestConnection& connection, const std::string&,
                     const std::string&) -> ns::Ref<HTTPResponse> {
    response->connection = connection.weakSelf<HTTPConnection>();
    return response;
  };
  RawClient& client = connect(4096);
  ASSERT_TRUE(client.sendAll(GET("/big")));
  // The client reads nothing until the first full piece has left the connection's queue.
  ASSERT_TRUE(response->waitForReads(2));
  EXPECT_LE(response->maxQueuedPlusAsked.load(), 524288u);
  auto r = client.readResponse();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.size(), big.size());
  EXPECT_TRUE(r->body == big);
  EXPECT_LE(response->maxQueuedPlusAsked.load(), 524288u);
  EXPECT_GE(response->monitor.with([&] { return response->reads; }),
            10);  // 5 MiB in pieces of at most 512 KiB
}

TEST_F(ResponseTest, CallsFromAFinishedResponseAreLoggedAndIgnored) {
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  ns::Ref<HTTPResponse> first;
  hooks->route = [&](TestConnection&, const std::string&, const std::string& path) -> ns::Ref<HTTPResponse> {
    auto response = ns::make<StringResponse>("body of " + path);
    if (!first) first = response;
    return response;
  };
  RawClient& client = connect();
  ASSERT_TRUE(exchange(client, GET("/one")));
  // The client can read the first body before the connection has finished with its response;
  // once a second answer has arrived, the first response is surely no longer the current one.
  ASSERT_TRUE(exchange(client, GET("/two")));
  auto connection = hooks->lastConnection();
  ASSERT_TRUE(connection);
  connection->responseHasAvailableData(first);
  connection->responseDidAbort(first);
  EXPECT_TRUE(logger->waitForLine([](const std::string& line) {
    return line.rfind("HTTPConnection[0x", 0) == 0 &&
           line.find("]: responseHasAvailableData: - Sender is not current httpResponse") !=
               std::string::npos;
  }));
  EXPECT_TRUE(logger->waitForLine([](const std::string& line) {
    return line.find("]: responseDidAbort: - Sender is not current httpResponse") != std::string::npos;
  }));
  // The stale abort did not close the connection.
  auto r = exchange(client, GET("/three"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "body of /three");
  LogHub::removeLogger(logger);
}

TEST_F(ResponseTest, AsynchronousFileResponseServesWholeAndRanges) {
  const std::string content = patternBytes(3 * 1024 * 1024 + 17);
  std::string path = file("movie.bin", content);
  hooks->route = [&](TestConnection& connection, const std::string&,
                     const std::string&) -> ns::Ref<HTTPResponse> {
    return HTTPAsyncFileResponse::initWithFilePath_forConnection(path, connection.self<HTTPConnection>());
  };
  RawClient& client = connect();
  auto r = exchange(client, GET("/movie"));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->body == content);
  r = exchange(client, GET("/movie", "Range: bytes=1000-2000999\r\n"));
  ASSERT_EQ(statusOf(r), 206);
  EXPECT_TRUE(r->body == content.substr(1000, 2000000));
  r = exchange(client, GET("/movie", "Range: bytes=0-99,-600000\r\n"));
  ASSERT_EQ(statusOf(r), 206);
  EXPECT_NE(r->body.find(content.substr(0, 100)), std::string::npos);
  EXPECT_NE(r->body.find(content.substr(content.size() - 600000)), std::string::npos);
}

TEST_F(ResponseTest, ResponseAbortClosesAfterWhatIsQueued) {
  std::string path = file("short.bin", patternBytes(100000));
  hooks->route = [&](TestConnection& connection, const std::string&,
                     const std::string&) -> ns::Ref<HTTPResponse> {
    auto response = HTTPFileResponse::initWithFilePath_forConnection(path, connection.self<HTTPConnection>());
    // The file shrinks after its length was taken: the response reaches the end early.
    std::filesystem::resize_file(path, 40000);
    return response;
  };
  RawClient& client = connect();
  auto r = exchange(client, GET("/short"), false);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->header("Content-Length"), "100000");
  auto rest = client.readToEnd();
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->size(), 40000u);
}

TEST_F(ResponseTest, RequestBodiesByLengthAndChunked) {
  hooks->supportsPost = true;
  hooks->route = [](TestConnection& connection, const std::string& method,
                    const std::string&) -> ns::Ref<HTTPResponse> {
    if (method != "POST") return nullptr;
    return ns::make<StringResponse>(std::to_string(connection.body.size()) + ":" + connection.body);
  };
  {
    std::string data = patternBytes(300000);
    auto r = exchangeOnce("POST /echo HTTP/1.1\r\nContent-Length: 300000\r\n\r\n" + data);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->body == "300000:" + data);
    std::lock_guard lock(hooks->mutex);
    ASSERT_EQ(hooks->bodyPieces.size(), 3u);  // pieces of at most 128 KiB
    EXPECT_EQ(hooks->bodyPieces[0].size(), 131072u);
    hooks->bodyPieces.clear();
  }
  {
    auto r = exchangeOnce(
        "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1a;name=value\r\n"
        "abcdefghijklmnopqrstuvwxyz\r\n0x3\r\n123\r\n0\r\nX-Trailer: 1\r\n\r\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "29:abcdefghijklmnopqrstuvwxyz123");
  }
  {
    auto r = exchangeOnce("POST /echo HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "0:");
  }
  for (const char* bad :
       {"zz\r\n", "-1a\r\n", "+5\r\nabcde\r\n0\r\n\r\n", "3\r\nabcXY0\r\n\r\n", "ffffffffffffffffff\r\n"}) {
    RawClient& client = connect();
    auto r = exchange(client, std::string("POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") + bad,
                      false);
    ASSERT_EQ(statusOf(r), 400) << bad;
    EXPECT_TRUE(client.seesEndOfStream()) << bad;
  }
}

TEST_F(ResponseTest, DefaultClassRefusesChunkedPostBeforeReadingAndUpgradesGet404) {
  auto r = exchangeOnce("POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", false);
  ASSERT_EQ(statusOf(r), 405);
  {
    std::lock_guard lock(hooks->mutex);
    EXPECT_TRUE(hooks->bodyPieces.empty());
  }
  r = exchangeOnce(GET("/socket", "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"));
  ASSERT_EQ(statusOf(r), 404);
}

}  // namespace
}  // namespace httptest
