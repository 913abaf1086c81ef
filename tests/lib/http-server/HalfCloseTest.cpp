#include <gtest/gtest.h>

#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

using HalfCloseTest = ServerFixture;

// A client that connects and closes its sending side without a byte has nothing more to say:
// the server closes the connection instead of holding it until the header time-out.
TEST_F(HalfCloseTest, AClientThatSendsNothingAndClosesIsLetGo) {
  startServer();
  for (int i = 0; i < 20; ++i) {
    RawClient& client = connect();
    client.shutdownWrite();
    EXPECT_TRUE(client.seesEndOfStream(10)) << "connection " << i;
  }
}

// A player that has read what it wanted closes its side and then goes away while a large file
// is still being sent from disk. The reset then arrives on a half-closed connection, where the
// next send from the file fails with EPIPE: that must end this one connection, not raise
// SIGPIPE and end the process.
TEST_F(HalfCloseTest, AClientLeavingMidFileAfterClosingItsSideEndsOnlyItsConnection) {
  const std::string body = patternBytes(8 << 20);
  file("movie.bin", body);
  startServer();
  DeathCounter deaths;
  constexpr int kClients = 10;
  for (int i = 0; i < kClients; ++i) {
    auto client = std::make_unique<RawClient>();
    ASSERT_TRUE(client->connectTo(port, false, 4096));
    ASSERT_TRUE(client->sendAll(i % 2 ? GET("/movie.bin") : GET("/movie.bin", "Range: bytes=100-\r\n")));
    ASSERT_TRUE(client->readUntil("\r\n\r\n")) << "connection " << i;
    EXPECT_EQ(client->readExactly(1000).size(), 1000u);
    client->shutdownWrite();
    client.reset();  // closes with unread bytes: the server's side is reset
  }
  EXPECT_TRUE(deaths.waitForCount(kClients));
  auto after = exchangeOnce(GET("/movie.bin", "Range: bytes=0-9\r\n"));
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 206);
  EXPECT_EQ(after->body, body.substr(0, 10));
}

}  // namespace
}  // namespace httptest
