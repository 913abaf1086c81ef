// The server over loopback with raw clients: routing, ranges, request checks, keep-alive and
// the server's life.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/logging/LogHub.h"
#include "platform/testing/desktop/PrivateAvahi.h"
#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

class ServerTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    body = patternBytes(1234);
    file("file.bin", body);
    file("index.html", "<h1>home</h1>");
    startServer();
  }
  std::string body;
};

TEST_F(ServerTest, RangesHeadAndMultipartOnOneSocket) {
  EXPECT_EQ(server->port(), 0);
  EXPECT_TRUE(server->isRunning());
  RawClient& client = connect();

  auto r = exchange(client, GET("/file.bin", "Host: x\r\nRange: bytes=0-499\r\n"));
  ASSERT_EQ(statusOf(r), 206);
  EXPECT_EQ(r->header("Content-Length"), "500");
  EXPECT_EQ(r->header("Content-Range"), "bytes 0-499/1234");
  EXPECT_EQ(r->header("Accept-Ranges"), "bytes");
  EXPECT_TRUE(r->header("Date"));
  EXPECT_FALSE(r->header("Connection"));
  EXPECT_EQ(r->body, body.substr(0, 500));

  r = exchange(client, "HEAD /file.bin HTTP/1.1\r\nHost: x\r\n\r\n", false);
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->header("Content-Length"), "1234");

  // No body followed the HEAD answer: the next bytes are the next response's.
  r = exchange(client, GET("/file.bin", "Host: x\r\nRange: bytes=0-9,20-29\r\n"));
  ASSERT_EQ(statusOf(r), 206);
  auto type = r->header("Content-Type").value_or("");
  const std::string prefix = "multipart/byteranges; boundary=";
  ASSERT_EQ(type.compare(0, prefix.size(), prefix), 0) << type;
  std::string boundary = type.substr(prefix.size());
  EXPECT_EQ(boundary.size(), 36u);
  std::string expected = "\r\n--" + boundary + "\r\nContent-Range: bytes 0-9/1234\r\n\r\n" +
                         body.substr(0, 10) + "\r\n--" + boundary +
                         "\r\nContent-Range: bytes 20-29/1234\r\n\r\n" + body.substr(20, 10) + "\r\n--" +
                         boundary + "--\r\n";
  EXPECT_EQ(r->body, expected);  // readResponse took exactly Content-Length bytes

  // Refused ranges (past the end, an empty suffix) send the full body at once.
  for (const char* refused : {"bytes=1300-", "bytes=-0"}) {
    r = exchange(client, GET("/file.bin", "Host: x\r\nRange: " + std::string(refused) + "\r\n"));
    ASSERT_EQ(statusOf(r), 200) << refused;
    EXPECT_EQ(r->body, body) << refused;
  }

  // A suffix range and a range reaching the end.
  r = exchange(client, GET("/file.bin", "Host: x\r\nRange: bytes=-34\r\n"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->header("Content-Range"), "bytes 1200-1233/1234");
  EXPECT_EQ(r->body, body.substr(1200));
}

TEST_F(ServerTest, RequestWithVeryManyRangesGetsTheWholeBodyAndOthersAreServed) {
  // 617 one-byte ranges: far more than the server takes in one header.
  std::string ranges = "bytes=0-0";
  for (std::size_t at = 2; at < body.size(); at += 2)
    ranges += "," + std::to_string(at) + "-" + std::to_string(at);
  RawClient& client = connect();
  RawClient& other = connect();
  auto r = exchange(client, GET("/file.bin", "Range: " + ranges + "\r\n"));
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_FALSE(r->header("Content-Range"));
  EXPECT_EQ(r->body, body);
  r = exchange(other, GET("/file.bin", "Range: bytes=0-9\r\n"));
  ASSERT_EQ(statusOf(r), 206);
  EXPECT_EQ(r->body, body.substr(0, 10));
}

TEST_F(ServerTest, DocumentRootMappingOverTheWire) {
  RawClient& client = connect();
  auto r = exchange(client, GET("/", "Host: x\r\n"));
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->body, "<h1>home</h1>");
  for (const char* target :
       {"/../x", "/%2e%2e/x", "/%2E%2E/%2e%2e/etc/passwd", "/missing", "/file.bin%00.txt"}) {
    r = exchange(client, GET(target, "Host: x\r\n"));
    ASSERT_EQ(statusOf(r), 404) << target;
    EXPECT_EQ(r->header("Content-Length"), "0");
  }
  r = exchange(client, GET("/file.bin?x=1#frag", "Host: x\r\n"));
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->body.size(), 1234u);
}

TEST_F(ServerTest, RequestChecksAnswerOrClose) {
  struct Case {
    const char* request;
    int status;
  };
  for (const Case& c :
       {Case{"DELETE /file.bin HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        Case{"POST /file.bin HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        Case{"GET /file.bin HTTP/1.1\r\nContent-Length: 5\r\n\r\n", 400},
        Case{"GET /file.bin HTTP/1.1\r\nContent-Length: five\r\n\r\n", 400},
        Case{"POST /file.bin HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        Case{"POST /file.bin HTTP/1.1\r\nContent-Length: +3\r\n\r\nabc", 400},
        Case{"GET /file.bin HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 1\r\n\r\n", 400},
        // Two lengths in one field, and a number with more after it.
        Case{"GET /file.bin HTTP/1.1\r\nContent-Length: 0, 5\r\n\r\n", 400},
        Case{"POST /file.bin HTTP/1.1\r\nContent-Length: 3x\r\n\r\nabc", 400},
        Case{"GET /file.bin HTTP/1.1\r\nX-A: 1\r\n folded\r\n\r\n", 400},
        Case{"GET /file.bin HTTP/1.1\r\nno colon\r\n\r\n", 400}, Case{"BROKEN\r\n\r\n", 400}}) {
    RawClient& client = connect();
    auto r = exchange(client, c.request, false);
    ASSERT_EQ(statusOf(r), c.status) << c.request;
    EXPECT_EQ(r->header("Connection"), "close") << c.request;
    EXPECT_TRUE(client.seesEndOfStream()) << c.request;
  }
  // A zero length on a GET is fine.
  auto r = exchangeOnce(GET("/file.bin", "Content-Length: 0\r\n"));
  ASSERT_EQ(statusOf(r), 200);
}

TEST_F(ServerTest, VersionNotSupportedKeepsTheConnection) {
  RawClient& client = connect();
  auto r = exchange(client, GET("/file.bin", "", "HTTP/2.0"));
  ASSERT_EQ(statusOf(r), 505);
  r = exchange(client, GET("/file.bin"));
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->body, body);
}

TEST_F(ServerTest, HeaderLineAndLineCountLimits) {
  auto fields = [](int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) lines += "X-" + std::to_string(i) + ": v\r\n";
    return lines;
  };
  auto lineOf = [](std::size_t total) {
    std::string line = "X-Long: ";
    line += std::string(total - line.size() - 2, 'a');
    return line + "\r\n";
  };
  // 100 lines (the request line and 99 fields) and a line of 8190 bytes are accepted; the 101st
  // line, or a line of 8191 bytes, closes the connection with nothing sent.
  for (const std::string& headers : {fields(99), lineOf(8190)}) {
    auto r = exchangeOnce(GET("/file.bin", headers));
    ASSERT_EQ(statusOf(r), 200);
  }
  for (const std::string& headers : {fields(100), lineOf(8191)}) {
    RawClient& client = connect();
    ASSERT_TRUE(client.sendAll(GET("/file.bin", headers)));
    EXPECT_EQ(client.readToEnd(), "");
  }
}

TEST_F(ServerTest, KeepAliveRules) {
  {
    RawClient& client = connect();
    auto r = exchange(client, GET("/file.bin", "", "HTTP/1.0"));
    ASSERT_EQ(statusOf(r), 200);
    EXPECT_TRUE(client.seesEndOfStream());
  }
  {
    RawClient& client = connect();
    ASSERT_TRUE(exchange(client, GET("/file.bin", "Connection: KeEp-AlIvE\r\n", "HTTP/1.0")));
    auto r = exchange(client, GET("/index.html", "Connection: keep-alive\r\n", "HTTP/1.0"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "<h1>home</h1>");
  }
  {
    RawClient& client = connect();
    ASSERT_TRUE(exchange(client, GET("/file.bin", "Connection: Close\r\n")));
    EXPECT_TRUE(client.seesEndOfStream());
  }
  {
    // Pipelined requests are answered in order.
    RawClient& client = connect();
    ASSERT_TRUE(client.sendAll(GET("/index.html") + GET("/file.bin", "Range: bytes=5-6\r\n")));
    auto first = client.readResponse();
    auto second = client.readResponse();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->body, "<h1>home</h1>");
    EXPECT_EQ(second->body, body.substr(5, 2));
  }
}

TEST_F(ServerTest, StopClosesEveryConnection) {
  DeathCounter deaths;
  std::vector<RawClient*> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(&connect());
    ASSERT_TRUE(exchange(*clients.back(), GET("/index.html")));
  }
  EXPECT_EQ(server->numberOfHTTPConnections(), 3u);
  server->stop();
  EXPECT_EQ(server->numberOfHTTPConnections(), 0u);
  EXPECT_EQ(server->numberOfWebSocketConnections(), 0u);
  EXPECT_FALSE(server->isRunning());
  EXPECT_EQ(server->listeningPort(), 0);
  for (auto* client : clients) EXPECT_TRUE(client->seesEndOfStream());
  EXPECT_TRUE(deaths.waitForCount(3));
  // New connections are refused.
  RawClient late;
  EXPECT_FALSE(late.connectTo(port));
}

TEST_F(ServerTest, StopKeepingConnectionsLetsThemFinish) {
  DeathCounter deaths;
  RawClient& client = connect();
  ASSERT_TRUE(exchange(client, GET("/index.html")));
  server->stop(true);
  EXPECT_EQ(server->numberOfHTTPConnections(), 1u);
  auto r = exchange(client, GET("/file.bin", "Connection: close\r\n"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, body);
  EXPECT_TRUE(client.seesEndOfStream());
  ASSERT_TRUE(deaths.waitForCount(1));
  EXPECT_EQ(server->numberOfHTTPConnections(), 0u);
}

TEST_F(ServerTest, StartOnATakenPortFailsAndRestartWorks) {
  auto second = ns::make<HTTPServer>();
  second->setInterface("127.0.0.1");
  second->setPort(port);  // a setter followed by start on the same thread is seen by start
  ns::Error error;
  EXPECT_FALSE(second->start(&error));
  EXPECT_FALSE(error.domain().empty());
  EXPECT_FALSE(second->isRunning());
  EXPECT_EQ(second->numberOfHTTPConnections(), 0u);
  EXPECT_EQ(second->listeningPort(), 0);

  // Starting a running server again is refused by the socket and leaves it running.
  EXPECT_FALSE(server->start(&error));
  EXPECT_TRUE(server->isRunning());

  server->stop();
  ns::Error again;
  ASSERT_TRUE(server->start(&again)) << again.description();
  port = server->listeningPort();
  auto r = exchangeOnce(GET("/"));
  ASSERT_EQ(statusOf(r), 200);
}

TEST_F(ServerTest, ConfigurationAccessors) {
  EXPECT_EQ(server->interface(), "127.0.0.1");
  EXPECT_EQ(server->documentRoot(), root.string());
  EXPECT_EQ(server->domain(), "local.");
  EXPECT_EQ(server->name(), "");
  EXPECT_EQ(server->type(), std::nullopt);
  EXPECT_EQ(server->publishedName(), std::nullopt);
  server->setDocumentRoot(std::nullopt);
  EXPECT_EQ(server->documentRoot(), std::nullopt);
  // Without a document root every file is missing.
  auto r = exchangeOnce(GET("/file.bin"));
  ASSERT_EQ(statusOf(r), 404);
}

TEST_F(ServerTest, DroppingTheServerFromItsOwnQueueDoesNotDeadlock) {
  // A queued setter holds the server; when the test lets go first, the last reference drops on
  // the server queue inside that setter.
  ns::Weak<HTTPServer> weak = server;
  server->stop();
  server->setName("gone");
  server.reset();
  // Another server still works afterwards, and the first one is gone once its setter ran.
  auto other = ns::make<HTTPServer>();
  other->setInterface("127.0.0.1");
  ns::Error error;
  ASSERT_TRUE(other->start(&error));
  other->stop();
  // The setter runs on the first server's own queue, unordered with the test thread: wait for it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!weak.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace httptest

namespace httptest {
namespace {

TEST_F(ServerFixture, StartIsLoggedAndPublishingReportsFailure) {
  // No mDNS daemon is reached: the test's own system bus has none.
  pltest::PrivateAvahi::reachNoDaemon(sandbox);
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  server->setType("_http._tcp.");
  server->setName("media");
  startServer();
  const std::string started = "HTTPServer: Started HTTP server on port " + std::to_string(port);
  EXPECT_TRUE(logger->waitForLine([&](const std::string& line) { return line == started; }));
  EXPECT_TRUE(logger->waitForLine([](const std::string& line) {
    return line.rfind("Failed to Publish Service: domain(local.) type(_http._tcp.) name(media) - ", 0) == 0;
  }));
  EXPECT_EQ(server->publishedName(), std::nullopt);
  LogHub::removeLogger(logger);
}

}  // namespace
}  // namespace httptest
