// Debug builds stop a call that touches a connection's or a server's state off its queue at once.
#include <gtest/gtest.h>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/dispatch/Queue.h"

namespace {

TEST(HTTPQueueCheckDeathTest, ConnectionAndServerStateIsTouchedOnlyOnTheirQueues) {
#ifdef NDEBUG
  GTEST_SKIP() << "the checks exist in Debug builds only";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto connection = ns::make<HTTPConnection>(
      nullptr, HTTPConfig::initWithServer_documentRoot(ns::Weak<HTTPServer>(), std::nullopt));
  dispatch::sync(connection->connectionQueue(), [&] {
    EXPECT_TRUE(connection->parseRangeRequest_withContentLength("bytes=0-1", 10));
    EXPECT_EQ(connection->writeQueueSize(), 0u);
  });
  EXPECT_DEATH(connection->parseRangeRequest_withContentLength("bytes=0-1", 10),
               "HTTPConnection used off its queue \"HTTPConnection\"");
  EXPECT_DEATH(connection->writeQueueSize(), "HTTPConnection used off its queue");
  EXPECT_DEATH(connection->requestURI(), "HTTPConnection used off its queue");

  auto server = ns::make<HTTPServer>();
  EXPECT_DEATH(server->config(), "HTTPServer used off its queue \"HTTPServer\"");
  // The public accessors hop onto the server queue themselves.
  EXPECT_EQ(server->domain(), "local.");
}

}  // namespace
