// The local media server on loopback: the port search, the player URL, restarts, finished files
// with byte ranges through the player URL and from the document root, and the answers to paths
// it has nothing for. libcurl and raw socket clients.
#include "app/cache/CacheServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/cache/HTTPStringResponse.h"
#include "app/cache/MyHTTPConnection.h"
#include "app/cache/YoutubeResponse.h"
#include "platform/net/URL.h"
#include "platform/testing/RawClient.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/app/cache/MediaServerKit.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/ScopedController.h"

namespace {

using cachetest::mediaBody;
using cachetest::writeFile;

class CacheServerTest : public ::testing::Test {
 protected:
  // A server on a port the system picks.
  ns::Ref<CacheServer> startServer() {
    auto server = ns::make<CacheServer>(0);
    server->start();
    return server;
  }
  std::string url(const ns::Ref<CacheServer>& server, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server->serverPort()) + path;
  }

  cachetest::CacheSandbox home;
  ns::Ref<testsupport::FakePlayerViewController> player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer{player};
};

TEST_F(CacheServerTest, TheSearchSkipsTakenPortsAndARestartKeepsThePort) {
  auto ports = mediatest::holdTwoPorts();
  ASSERT_NE(ports.first, 0) << "no free range of three ports";
  auto server = ns::make<CacheServer>(ports.first);
  server->start();
  const int expected = ports.first + 2;
  EXPECT_EQ(server->serverPort(), expected);
  EXPECT_EQ(server->urlStringForVideoId("abc"),
            "http://127.0.0.1:" + std::to_string(expected) + "/youtube/abc/18/abc.mp4");
  EXPECT_EQ(server->urlForVideoId("abc")->absoluteString(), server->urlStringForVideoId("abc"));
  EXPECT_FALSE(mediatest::portIsFree(expected));

  writeFile(home.cache("abc.mp4"), "cached bytes");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "started" : "restarted");
    if (round == 1) server->restart();
    EXPECT_EQ(server->serverPort(), expected);
    auto reply = mediatest::curlGet(url(server, "/abc.mp4"));
    EXPECT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.body, "cached bytes");
  }
}

TEST_F(CacheServerTest, PastTheLastPortTheSystemPicksOne) {
  auto server = ns::make<CacheServer>(65536);
  server->start();
  EXPECT_GT(server->serverPort(), 0);
  EXPECT_LE(server->serverPort(), 65535);
  writeFile(home.cache("abc.mp4"), "x");
  auto reply = mediatest::curlGet(server->urlStringForVideoId("abc"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "x");
}

TEST_F(CacheServerTest, AFinishedFileIsServedWholeAndByRangesAtOnce) {
  const std::string body = mediaBody(10000);
  writeFile(home.cache("abc.mp4"), body);
  auto server = startServer();
  const std::string player = server->urlStringForVideoId("abc");
  struct Case {
    std::string url;
    std::optional<std::string> range;
    long status;
    std::optional<std::string> contentRange;
    std::string body;
  };
  const Case cases[] = {
      {player, std::nullopt, 200, std::nullopt, body},
      {player, "bytes=5000-", 206, "bytes 5000-9999/10000", body.substr(5000)},
      {player, "bytes=0-0", 206, "bytes 0-0/10000", body.substr(0, 1)},
      {player, "bytes=-10", 206, "bytes 9990-9999/10000", body.substr(9990)},
      // A range past the end is ignored: the whole body goes out.
      {player, "bytes=20000-", 200, std::nullopt, body},
      {url(server, "/youtube/abc"), std::nullopt, 200, std::nullopt, body},
      {url(server, "/abc.mp4"), std::nullopt, 200, std::nullopt, body},
      {url(server, "/abc.mp4"), "bytes=9000-9099", 206, "bytes 9000-9099/10000", body.substr(9000, 100)},
  };
  pltest::LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " " + c.range.value_or("(no range)"));
    auto reply = mediatest::curlGet(c.url, c.range);
    EXPECT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.header("content-range"), c.contentRange);
    EXPECT_EQ(reply.header("content-length"), std::to_string(c.body.size()));
    EXPECT_TRUE(reply.body == c.body);
  }
  auto head = mediatest::curlGet(player, std::nullopt, {}, 60, true);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("content-length"), "10000");
  EXPECT_TRUE(head.body.empty());
  // A finished file never waits.
  EXPECT_FALSE(log.contains("waiting for"));
}

TEST_F(CacheServerTest, ServingAFileMarksItRead) {
  writeFile(home.cache("abc.mp4"), "cached");
  writeFile(home.cache("def.mp4"), "cached");
  auto server = startServer();
  const std::pair<std::string, std::string> cases[] = {
      {"abc.mp4", server->urlStringForVideoId("abc")},
      {"def.mp4", url(server, "/def.mp4")},
  };
  for (const auto& [name, address] : cases) {
    SCOPED_TRACE(address);
    std::string path = home.cache(name);
    struct timespec old[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    EXPECT_EQ(mediatest::curlGet(address).status, 200);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_GT(st.st_atim.tv_sec, 1000000 + 3600);
    // Reading is no writing.
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000);
  }
}

TEST_F(CacheServerTest, PathsItHasNothingForGet404AndTheConnectionServesOn) {
  writeFile(home.cache("abc.mp4"), "cached");
  writeFile(home.temp("abc.mp4"), "partial");
  writeFile(home.base() + "/secret.mp4", "outside");
  auto server = startServer();
  pltest::RawClient client;
  ASSERT_TRUE(client.connectTo(static_cast<std::uint16_t>(server->serverPort())));
  const std::pair<std::string, int> cases[] = {
      {"/missing.mp4", 404},           {"/youtube/abc?x", 404},     {"/youtube/..", 404},
      {"/youtube/../secret.mp4", 404}, {"/youtube/", 404},          {"/youtube/a%2Fb/18/a.mp4", 404},
      {"/../secret.mp4", 404},         {"/%2e%2e/secret.mp4", 404}, {"/youtube/abc/18/abc.mp4", 200},
  };
  for (const auto& [path, status] : cases) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(client.sendAll("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    auto response = client.readResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, status);
    if (status == 200) {
      EXPECT_EQ(response->body, "cached");
    }
  }
  EXPECT_EQ(cachetest::readFile(home.base() + "/secret.mp4"), "outside");
}

TEST_F(CacheServerTest, OnlyTheIdOfAYoutubePathCounts) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/youtube/abc/18/abc.mp4", "abc"}, {"/youtube/abc", "abc"},
      {"/youtube/abc/", "abc"},           {"/youtube/", ""},
      {"/youtube", std::nullopt},         {"/abc.mp4", std::nullopt},
      {"/Youtube/abc", std::nullopt},     {"/youtube/abc?x", "abc?x"},
  };
  for (const auto& [path, id] : cases) EXPECT_EQ(MyHTTPConnection::videoIdForPath(path), id) << path;
}

TEST_F(CacheServerTest, EveryPlayerRequestStalesTheResponsesBeforeIt) {
  writeFile(home.cache("abc.mp4"), "cached");
  auto server = startServer();
  std::int32_t before = serverCount.load();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(mediatest::curlGet(server->urlStringForVideoId("abc")).status, 200);
  EXPECT_EQ(serverCount.load(), before + 3);
  // Files of the document root are no player requests.
  EXPECT_EQ(mediatest::curlGet(url(server, "/abc.mp4")).status, 200);
  EXPECT_EQ(serverCount.load(), before + 3);
  server->restart();
  EXPECT_EQ(serverCount.load(), before + 4);
}

TEST(CacheFirstStartTest, AnEmptyHomeOpensEveryStoreWithoutAnError) {
  testsupport::Sandbox sandbox;
  DBAccess::resetForTesting();
  resetCacheStateTablesForTesting();
  pltest::LogCapture log;
  {
    auto manager = ns::make<CacheServer>(0);
    manager->start();
    // The cache state reads the cache folder and the library store's downloaded videos.
    EXPECT_FALSE(isVideoCached("any"));
    EXPECT_TRUE(DBAccess::getInstance()->getDownloadedVideoArray().empty());
    auto reply =
        mediatest::curlGet("http://127.0.0.1:" + std::to_string(manager->serverPort()) + "/none.mp4");
    EXPECT_EQ(reply.status, 404);
  }
  EXPECT_FALSE(log.contains("error opening"));
  EXPECT_TRUE(std::filesystem::is_regular_file(sandbox.dataHome() / "Pelorin" / "pelorin_web.db"));
  for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath()})
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
  resetCacheStateTablesForTesting();
  DBAccess::resetForTesting();
}

TEST(HTTPStringResponse, HandsOutItsUtf8BytesInPieces) {
  auto response = HTTPStringResponse::initWithString_forConnection("a\xc3\xa9", nullptr);
  EXPECT_EQ(response->contentLength(), 3u);
  EXPECT_EQ(response->httpHeaders().get("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(response->readDataOfLength(2)->length(), 2u);
  EXPECT_FALSE(response->isDone());
  auto rest = response->readDataOfLength(5);
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->length(), 1u);
  EXPECT_EQ((*rest)[0], 0xa9);
  EXPECT_TRUE(response->isDone());
  EXPECT_EQ(response->readDataOfLength(5)->length(), 0u);
  response->setContentType("text/plain");
  EXPECT_EQ(response->httpHeaders().get("Content-Type"), "text/plain");
  EXPECT_FALSE(response->shouldAbort());
}

}  // namespace
