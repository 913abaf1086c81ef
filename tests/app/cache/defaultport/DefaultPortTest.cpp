// A cache manager made with no port listens on 22435 when that port is free, and there again
// after a restart.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "platform/testing/RawClient.h"
#include "tests/support/Sandbox.h"

namespace {

bool canListenOn(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 1) == 0;
  ::close(fd);
  return ok;
}

TEST(CacheServerDefaultPort, ListensOn22435AndAgainAfterARestart) {
  if (!canListenOn(22435)) GTEST_SKIP() << "something outside the tests listens on 22435";
  testsupport::Sandbox sandbox;
  auto server = ns::make<CacheServer>();
  EXPECT_EQ(server->serverPort(), 22435);
  server->start();
  EXPECT_EQ(server->serverPort(), 22435);
  EXPECT_EQ(server->urlStringForVideoId("abc"), "http://127.0.0.1:22435/youtube/abc/18/abc.mp4");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "started" : "restarted");
    if (round == 1) server->restart();
    EXPECT_EQ(server->serverPort(), 22435);
    pltest::RawClient client;
    ASSERT_TRUE(client.connectTo(22435));
    ASSERT_TRUE(client.sendAll("GET /missing.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    auto response = client.readResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 404);
  }
  server = nullptr;
  resetCacheStateTablesForTesting();
}

}  // namespace
