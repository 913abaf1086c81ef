// How responses leave the server: accepted sockets without Nagle's delay, file bodies sent from
// the file itself (the same bytes as when they are read in), and no descriptor left behind by a
// client that goes away in the middle of a body.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "lib/sockets/DispatchSocket.h"
#include "platform/dispatch/Queue.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TcpPair.h"
#include "tests/lib/http-server/ServerFixture.h"
#include "tests/lib/http-server/TestConnection.h"

namespace httptest {
namespace {

// A file response that counts the file ranges it hands out, or refuses them all so that every
// byte goes through readDataOfLength.
class TracedFileResponse : public HTTPFileResponse {
 public:
  using HTTPFileResponse::HTTPFileResponse;
  std::optional<DispatchFileRange> fileRangeOfLength(std::uint64_t length) override {
    if (!allowRanges) return std::nullopt;
    auto range = HTTPFileResponse::fileRangeOfLength(length);
    if (range) ++*rangesHandedOut;
    return range;
  }
  bool allowRanges = true;
  std::shared_ptr<std::atomic<int>> rangesHandedOut;
};

int socketOption(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  if (::getsockopt(fd, level, name, &value, &length) != 0) return -1;
  return value;
}

class WireEfficiencyTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    TestHooks::install(server, hooks);
    // "/sent/NAME" serves NAME with file ranges, "/read/NAME" with reads only.
    hooks->route = [this](TestConnection& connection, const std::string&,
                          const std::string& path) -> ns::Ref<HTTPResponse> {
      if (path == "/hold") {
        // Holds the connection queue, which the accepted sockets share, until the server has
        // accepted a second connection.
        holding->store(true);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (server->numberOfHTTPConnections() < 2 && std::chrono::steady_clock::now() < deadline)
          std::this_thread::yield();
        return ns::make<StringResponse>(std::to_string(server->numberOfHTTPConnections()));
      }
      bool sent = path.rfind("/sent/", 0) == 0;
      if (!sent && path.rfind("/read/", 0) != 0) return nullptr;
      auto filePath = root / path.substr(6);
      std::error_code error;
      auto size = std::filesystem::file_size(filePath, error);
      if (error) return nullptr;
      auto response =
          ns::make<TracedFileResponse>(filePath.string(), connection.self<HTTPConnection>(), size);
      response->allowRanges = sent;
      response->rangesHandedOut = rangesHandedOut;
      return response;
    };
    startServer();
  }

  std::shared_ptr<TestHooks> hooks = std::make_shared<TestHooks>();
  std::shared_ptr<std::atomic<int>> rangesHandedOut = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<std::atomic<bool>> holding = std::make_shared<std::atomic<bool>>(false);
};

TEST_F(WireEfficiencyTest, SmallGetsOnAKeptAliveConnectionUseAcceptedSocketWithoutNagle) {
  const std::string content = patternBytes(2048);
  file("small.bin", content);
  RawClient& client = connect();
  // The client leaves Nagle's algorithm on, as a plain client does.
  ASSERT_EQ(socketOption(client.fd(), IPPROTO_TCP, TCP_NODELAY), 0);
  for (int i = 0; i < 4; ++i) {
    auto r = exchange(client, GET("/small.bin", "Host: x\r\n"));
    ASSERT_TRUE(r) << "request " << i;
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->header("Content-Length"), "2048");
    EXPECT_TRUE(r->body == content) << "request " << i;
  }
  auto connection = hooks->lastConnection();
  ASSERT_TRUE(connection);
  ns::Ref<DispatchSocket> socket;
  dispatch::sync(connection->connectionQueue(), [&] { socket = connection->dispatchSocket(); });
  ASSERT_TRUE(socket);
  int noDelay = -1;
  int type = -1;
  socket->performBlock([&] {
    int fd = socket->socketFD();
    noDelay = socketOption(fd, IPPROTO_TCP, TCP_NODELAY);
    type = socketOption(fd, SOL_SOCKET, SO_TYPE);
  });
  EXPECT_EQ(type, SOCK_STREAM);
  EXPECT_EQ(noDelay, 1);
}

TEST_F(WireEfficiencyTest, SentAndReadBodiesAreTheSameBytes) {
  // Larger than the bound on queued bytes, so that bodies go out in several pieces.
  const std::string content = patternBytes(1500 * 1000 + 7);
  file("movie.bin", content);
  const std::string L = std::to_string(content.size());
  struct Case {
    std::string range;  // empty: no Range header
    int status;
    std::string contentRange;
    bool fromFile;  // large enough to be sent from the file
  };
  const std::vector<Case> cases = {
      {"", 200, "", true},
      {"bytes=0-0", 206, "bytes 0-0/" + L, false},
      {"bytes=100-2099", 206, "bytes 100-2099/" + L, false},
      {"bytes=1000-1200999", 206, "bytes 1000-1200999/" + L, true},
      {"bytes=-1000", 206, "bytes 1499007-1500006/" + L, false},
      {"bytes=700000-", 206, "bytes 700000-1500006/" + L, true},
      {"bytes=0-9,1000-600999,1500000-", 206, "", true},
      {"bytes=2000000-", 200, "", true},  // refused: the whole body
  };
  RawClient& sentClient = connect();
  RawClient& readClient = connect();
  for (const auto& c : cases) {
    std::string headers = "Host: x\r\n" + (c.range.empty() ? std::string() : "Range: " + c.range + "\r\n");
    int before = rangesHandedOut->load();
    auto sent = exchange(sentClient, GET("/sent/movie.bin", headers));
    auto read = exchange(readClient, GET("/read/movie.bin", headers));
    ASSERT_TRUE(sent && read) << c.range;
    EXPECT_EQ(rangesHandedOut->load() > before, c.fromFile) << c.range;
    EXPECT_EQ(sent->status, c.status) << c.range;
    EXPECT_EQ(read->status, c.status) << c.range;
    EXPECT_EQ(sent->header("Content-Length"), read->header("Content-Length")) << c.range;
    EXPECT_EQ(sent->header("Content-Length"), std::to_string(sent->body.size())) << c.range;
    if (!c.contentRange.empty()) {
      EXPECT_EQ(sent->header("Content-Range"), c.contentRange);
      EXPECT_EQ(read->header("Content-Range"), c.contentRange);
    }
    auto type = sent->header("Content-Type");
    if (type) {
      // Multipart bodies differ only in their boundaries.
      std::string sentBoundary = type->substr(type->find('=') + 1);
      std::string readBoundary = read->header("Content-Type")->substr(type->find('=') + 1);
      std::string body = read->body;
      for (std::size_t at = body.find(readBoundary); at != std::string::npos;
           at = body.find(readBoundary, at))
        body.replace(at, readBoundary.size(), sentBoundary);
      EXPECT_TRUE(sent->body == body) << c.range;
      EXPECT_NE(sent->body.find(content.substr(1000, 600000)), std::string::npos);
      EXPECT_NE(sent->body.find(content.substr(1500000)), std::string::npos);
    } else {
      EXPECT_TRUE(sent->body == read->body) << c.range;
      if (c.status == 200) {
        EXPECT_TRUE(sent->body == content) << c.range;
      }
    }
  }
  // A HEAD asks for no body at all.
  auto head = exchange(sentClient, "HEAD /sent/movie.bin HTTP/1.1\r\nHost: x\r\n\r\n", false);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->header("Content-Length"), L);
  auto after = exchange(sentClient, GET("/sent/movie.bin", "Range: bytes=5-14\r\n"));
  ASSERT_TRUE(after);
  EXPECT_EQ(after->body, content.substr(5, 10));
}

TEST_F(WireEfficiencyTest, ClientClosingMidBodyLeavesNoDescriptorBehind) {
  file("large.bin", patternBytes(8 * 1024 * 1024));
  // A first exchange opens whatever the process keeps open for good (the reactor, the log).
  ASSERT_TRUE(exchangeOnce(GET("/sent/large.bin", "Range: bytes=0-9\r\n")));
  DeathCounter deaths;
  ASSERT_TRUE(pltest::pumpUntil([&] { return server->numberOfHTTPConnections() == 1; }, 20));
  const int baseline = pltest::openDescriptorCount();

  const std::vector<std::string> requests = {
      GET("/sent/large.bin"),
      GET("/read/large.bin"),
      GET("/sent/large.bin", "Range: bytes=10-7000000\r\n"),
      GET("/sent/large.bin", "Range: bytes=0-99,1000-5000000,6000000-\r\n"),
  };
  for (std::size_t i = 0; i < requests.size(); ++i) {
    {
      RawClient client;
      ASSERT_TRUE(client.connectTo(port, false, 8192));
      ASSERT_TRUE(client.sendAll(requests[i]));
      // Part of the body arrives, then the client goes with the rest unread.
      EXPECT_EQ(client.readExactly(20000).size(), 20000u) << i;
    }
    ASSERT_TRUE(deaths.waitForCount(i + 1)) << i;
    EXPECT_TRUE(pltest::pumpUntil([&] { return pltest::openDescriptorCount() <= baseline; }, 20))
        << "request " << i << ": " << pltest::openDescriptorCount() << " open, " << baseline << " before";
  }
}

TEST_F(WireEfficiencyTest, ASlowReaderHasNoMoreThanTheWriteBoundWaitingOnTheServer) {
  file("large.bin", patternBytes(8 * 1024 * 1024));
  const std::vector<std::string> requests = {
      GET("/sent/large.bin"),
      GET("/sent/large.bin", "Range: bytes=100-7999999\r\n"),
      GET("/read/large.bin", "Range: bytes=100-7999999\r\n"),
  };
  for (std::size_t i = 0; i < requests.size(); ++i) {
    RawClient client;
    ASSERT_TRUE(client.connectTo(port, false, 8192));
    ASSERT_TRUE(client.sendAll(requests[i]));
    ASSERT_EQ(client.readExactly(20000).size(), 20000u) << i;
    ASSERT_TRUE(pltest::pumpUntil([&] { return server->numberOfHTTPConnections() == 1; }, 20));
    auto connection = hooks->lastConnection();
    ASSERT_TRUE(connection);
    ns::Ref<DispatchSocket> socket;
    dispatch::sync(connection->connectionQueue(), [&] { socket = connection->dispatchSocket(); });
    ASSERT_TRUE(socket);
    // The reader stops here: once the descriptor takes no more, what the server holds back is
    // the rest of the write in progress, the only one queued.
    std::uint64_t waiting = 0;
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          bool full = false;
          socket->performBlock([&] {
            pollfd descriptor{socket->socketFD(), POLLOUT, 0};
            full = ::poll(&descriptor, 1, 0) == 0;
          });
          std::uint64_t done = 0, total = 0;
          long tag = 0;
          socket->progressOfWriteReturningTag_bytesDone_total(&tag, &done, &total);
          waiting = total - done;
          return full && waiting > 0;
        },
        20))
        << i;
    EXPECT_LE(waiting, HTTPConnection::MAX_WRITE_QUEUE_SIZE) << i;
  }
}

TEST_F(WireEfficiencyTest, ABusyConnectionQueueDoesNotHoldUpAccepting) {
  RawClient& first = connect();
  ASSERT_TRUE(first.sendAll(GET("/hold")));
  // The first request is being answered on the connection queue when the second client comes.
  ASSERT_TRUE(pltest::pumpUntil([&] { return holding->load(); }, 20));
  RawClient& second = connect();
  auto r = first.readResponse();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "2");
  r = exchange(second, GET("/hold"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "2");
}

}  // namespace
}  // namespace httptest
