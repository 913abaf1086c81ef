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

}  // namespace
}  // namespace httptest
