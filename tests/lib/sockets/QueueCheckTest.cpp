// Debug builds stop a call that touches a socket's state off its socket queue at once.
#include <gtest/gtest.h>

#include "tests/lib/sockets/SocketTestSupport.h"

namespace sockettest {
namespace {

TEST(SocketQueueCheckDeathTest, StateIsTouchedOnlyOnTheSocketQueueOrItsMarkedTarget) {
#ifdef NDEBUG
  GTEST_SKIP() << "the checks exist in Debug builds only";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto delegate = ns::make<RecordingDelegate>(makeQueue("check.delegate"));
  auto listener = listenOnLoopback(delegate);
  std::uint16_t port = 0;
  listener->performBlock([&] { port = listener->localPort4(); });
  EXPECT_GT(port, 0);
  EXPECT_EQ(listener->localPort(), port);  // the public form hops onto the queue itself
  EXPECT_DEATH(listener->localPort4(), "DispatchSocket used off its queue \"DispatchSocket\"");
  EXPECT_DEATH(listener->connectedHost6(), "DispatchSocket used off its queue");

  // A marked target queue of the socket queue counts as the socket queue.
  auto target = makeQueue("check.target");
  auto socketQueue = makeQueue("check.socket");
  dispatch::setTargetQueue(socketQueue, target);
  auto socket = ns::make<DispatchSocket>(delegate, delegate->queue(), socketQueue);
  socket->markSocketQueueTargetQueue(target);
  dispatch::sync(target, [&] { EXPECT_EQ(socket->localPort4(), 0); });
  socket->unmarkSocketQueueTargetQueue(target);
  EXPECT_DEATH(dispatch::sync(target, [&] { socket->localPort4(); }), "used off its queue \"check.socket\"");
}

}  // namespace
}  // namespace sockettest
