// Listening and accepting on real loopback sockets, with raw POSIX clients.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/core/Exception.h"
#include "platform/testing/ErrorMatch.h"

#include "tests/lib/sockets/SocketTestSupport.h"

using namespace sockettest;

namespace {

TEST(DispatchSocketAccept, AcceptsOnLoopbackAndHandsOverOneConnectedChild) {
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.delegate"));
  auto listener = ns::make<DispatchSocket>(delegate, delegate->queue());
  ns::Error error("", 0);
  ASSERT_TRUE(listener->acceptOnInterface_port_error("127.0.0.1", 0, &error)) << error.localizedDescription();
  EXPECT_TRUE(listener->isIPv4());
  EXPECT_FALSE(listener->isIPv6()) << "no interface has the IPv6 text 127.0.0.1";
  EXPECT_GT(listener->localPort(), 0);
  EXPECT_EQ(listener->localHost(), "127.0.0.1");
  EXPECT_FALSE(listener->isDisconnected());
  EXPECT_FALSE(listener->isConnected());

  RawClient client;
  ASSERT_TRUE(client.connectTo(listener->localPort()));
  auto child = delegate->waitForChild();
  ASSERT_TRUE(child);
  delegate->drain();
  auto accepts = delegate->eventsOf(Event::Accept);
  ASSERT_EQ(accepts.size(), 1u);
  EXPECT_EQ(accepts[0].sock, listener.get());
  EXPECT_TRUE(accepts[0].onDelegateQueue);

  EXPECT_TRUE(child->isConnected());
  EXPECT_FALSE(child->isDisconnected());
  EXPECT_EQ(child->connectedHost(), "127.0.0.1");
  EXPECT_EQ(child->connectedPort(), client.localPort());
  EXPECT_EQ(child->localPort(), listener->localPort());
  EXPECT_TRUE(child->isIPv4());
  auto peer = child->connectedAddress();
  ASSERT_TRUE(peer);
  EXPECT_EQ(DispatchSocket::portFromAddress(*peer), client.localPort());
  EXPECT_EQ(child->delegate(), delegate) << "the child reports to the listener's delegate";
  EXPECT_EQ(child->delegateQueue(), delegate->queue());
}

TEST(DispatchSocketAccept, SeveralPendingConnectionsEachGetAChildInAcceptOrder) {
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.many"));
  auto socketQueue = makeQueue("accept.many.socket");
  auto listener = ns::make<DispatchSocket>(delegate, delegate->queue(), socketQueue);
  ns::Error error("", 0);
  ASSERT_TRUE(listener->acceptOnInterface_port_error("127.0.0.1", 0, &error));
  std::uint16_t port = listener->localPort();
  // With the socket queue held, all three connections wait in the backlog together and are
  // taken in one firing of the accept source.
  dispatch::suspend(socketQueue);
  RawClient clients[3];
  for (auto& c : clients) ASSERT_TRUE(c.connectTo(port));
  dispatch::resume(socketQueue);
  ASSERT_TRUE(delegate->waitForCount(Event::Accept, 3));
  auto children = delegate->children();
  ASSERT_EQ(children.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(children[i]->connectedPort(), clients[i].localPort());
}

TEST(DispatchSocketAccept, PortInUseFailsWithBindReasonAndLeavesTheSocketReusable) {
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.busy"));
  auto first = listenOnLoopback(delegate);
  auto second = ns::make<DispatchSocket>(delegate, delegate->queue());
  ns::Error error("", 0);
  EXPECT_FALSE(second->acceptOnInterface_port_error("127.0.0.1", first->localPort(), &error));
  EXPECT_TRUE(pltest::isError(error, ns::NSPOSIXErrorDomain, EADDRINUSE));
  EXPECT_EQ(error.localizedFailureReason(), "Error in bind() function");
  EXPECT_EQ(error.localizedDescription(), std::strerror(EADDRINUSE));
  EXPECT_TRUE(second->isDisconnected());
  EXPECT_FALSE(second->isIPv4());

  // The same object then listens on another port, and nobody heard of the failure.
  ASSERT_TRUE(second->acceptOnInterface_port_error("127.0.0.1", 0, &error));
  EXPECT_NE(second->localPort(), first->localPort());
  RawClient client;
  ASSERT_TRUE(client.connectTo(second->localPort()));
  ASSERT_TRUE(delegate->waitForChild());
  EXPECT_EQ(delegate->count(Event::Disconnect), 0u);
}

TEST(DispatchSocketAccept, ConfigurationErrorsComeBackSynchronously) {
  auto queue = makeQueue("accept.config");
  auto delegate = ns::make<RecordingDelegate>(queue);
  ns::Error error("", 0);

  auto bare = ns::make<DispatchSocket>();
  EXPECT_FALSE(bare->acceptOnPort_error(0, &error));
  EXPECT_TRUE(pltest::isError(error, DispatchSocketErrorDomain, DispatchSocketBadConfigError));
  EXPECT_EQ(error.localizedDescription(), "Attempting to accept without a delegate. Set a delegate first.");
  bare->synchronouslySetDelegate(delegate);
  EXPECT_FALSE(bare->acceptOnPort_error(0, &error));
  EXPECT_EQ(error.localizedDescription(),
            "Attempting to accept without a delegate queue. Set a delegate queue first.");
  bare->synchronouslySetDelegateQueue(queue);
  bare->setIPv4Enabled(false);
  bare->setIPv6Enabled(false);
  EXPECT_FALSE(bare->isIPv4Enabled());
  EXPECT_FALSE(bare->acceptOnPort_error(0, &error));
  EXPECT_EQ(error.localizedDescription(),
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  bare->setIPv4Enabled(true);
  EXPECT_FALSE(bare->acceptOnInterface_port_error("no-such-interface-xyz", 0, &error));
  EXPECT_EQ(error.code(), DispatchSocketBadParamError);
  EXPECT_EQ(error.localizedDescription(),
            "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
  bare->setIPv4Enabled(false);
  bare->setIPv6Enabled(true);
  EXPECT_FALSE(bare->acceptOnInterface_port_error("127.0.0.1", 0, &error));
  EXPECT_EQ(error.localizedDescription(),
            "IPv4 has been disabled and specified interface doesn't support IPv6.");
  EXPECT_FALSE(bare->acceptOnInterface_port_error("127.0.0.1", 0, nullptr)) << "a null error pointer is fine";

  bare->setIPv4Enabled(true);
  bare->setIPv6Enabled(true);
  ASSERT_TRUE(bare->acceptOnInterface_port_error("127.0.0.1", 0, &error));
  EXPECT_FALSE(bare->acceptOnPort_error(0, &error));
  EXPECT_EQ(error.localizedDescription(),
            "Attempting to accept while connected or accepting connections. Disconnect first.");
  bare->disconnect();
  EXPECT_TRUE(bare->isDisconnected());
  EXPECT_FALSE(bare->isIPv4());
  delegate->drain();
  EXPECT_EQ(delegate->count(Event::Disconnect), 1u);
}

TEST(DispatchSocketAccept, DefaultsAndConcurrentSocketQueueMisuse) {
  auto sock = ns::make<DispatchSocket>();
  EXPECT_TRUE(sock->isIPv4Enabled());
  EXPECT_TRUE(sock->isIPv6Enabled());
  EXPECT_TRUE(sock->isIPv4PreferredOverIPv6());
  EXPECT_TRUE(sock->autoDisconnectOnClosedReadStream());
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_EQ(sock->delegate(), nullptr);
  EXPECT_EQ(sock->delegateQueue(), nullptr);
  sock->setUserData(ns::Value("owner"));
  EXPECT_EQ(sock->userData(), ns::Value("owner"));
  sock->setIPv4PreferredOverIPv6(false);
  EXPECT_FALSE(sock->isIPv4PreferredOverIPv6());

  try {
    ns::make<DispatchSocket>(dispatch::globalQueue());
    FAIL() << "a concurrent socket queue was accepted";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), "SocketException");
  }
}

TEST(DispatchSocketAccept, BothFamiliesListenOnTheSamePort) {
  if (!ipv6LoopbackAvailable()) GTEST_SKIP() << "no IPv6 loopback here";
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.dual"));
  auto listener = ns::make<DispatchSocket>(delegate, delegate->queue());
  ns::Error error("", 0);
  ASSERT_TRUE(listener->acceptOnInterface_port_error("localhost", 0, &error)) << error.localizedDescription();
  EXPECT_TRUE(listener->isIPv4());
  EXPECT_TRUE(listener->isIPv6());
  std::uint16_t port4 = 0, port6 = 0;
  listener->performBlock([&] {
    port4 = listener->localPort4();
    port6 = listener->localPort6();
  });
  EXPECT_GT(port4, 0);
  EXPECT_EQ(port4, port6);

  RawClient client6;
  ASSERT_TRUE(client6.connectTo(port4, true));
  auto child = delegate->waitForChild();
  ASSERT_TRUE(child);
  EXPECT_TRUE(child->isIPv6());
  EXPECT_EQ(child->connectedHost(), "::1");
  EXPECT_EQ(child->connectedPort(), client6.localPort());
}

TEST(DispatchSocketAccept, ConnectionAcceptedWithoutDelegateQueueIsClosedNotLeaked) {
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.noqueue"));
  auto listener = listenOnLoopback(delegate);
  listener->synchronouslySetDelegateQueue(nullptr);
  RawClient client;
  ASSERT_TRUE(client.connectTo(listener->localPort()));
  EXPECT_EQ(client.readToEnd(), "") << "the connection is closed, not left dangling";
  EXPECT_EQ(delegate->count(Event::Accept), 0u);

  // With the queue back, connections are handed over again.
  listener->synchronouslySetDelegateQueue(delegate->queue());
  RawClient second;
  ASSERT_TRUE(second.connectTo(listener->localPort()));
  EXPECT_TRUE(delegate->waitForChild());
}

TEST(DispatchSocketAccept, ChildGetsTheDelegateQueueThatHandedItOver) {
  // The delegate queue changes while connections arrive: each child must report to the queue
  // its own hand-over ran on, read together with the delegate on the socket queue.
  auto queueA = makeQueue("accept.swap.a");
  auto queueB = makeQueue("accept.swap.b");
  auto delegate = ns::make<RecordingDelegate>(queueA);
  std::mutex mutex;
  std::vector<std::pair<ns::Ref<dispatch::Queue>, ns::Ref<DispatchSocket>>> handovers;
  delegate->onAccept = [&](const ns::Ref<DispatchSocket>&, const ns::Ref<DispatchSocket>& child) {
    std::lock_guard lock(mutex);
    handovers.emplace_back(dispatch::currentQueue(), child);
  };
  auto listener = listenOnLoopback(delegate);
  constexpr int kConnections = 20;
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kConnections; ++i) {
    listener->setDelegateQueue(i % 2 ? queueB : queueA);
    clients.push_back(std::make_unique<RawClient>());
    ASSERT_TRUE(clients.back()->connectTo(listener->localPort()));
  }
  ASSERT_TRUE(delegate->waitForCount(Event::Accept, kConnections));
  std::lock_guard lock(mutex);
  ASSERT_EQ(handovers.size(), static_cast<std::size_t>(kConnections));
  for (auto& [queue, child] : handovers) EXPECT_EQ(child->delegateQueue(), queue);
}

TEST(DispatchSocketAccept, ChildCanRunOnAQueueTheDelegateChooses) {
  struct QueueChoosingDelegate : RecordingDelegate {
    using RecordingDelegate::RecordingDelegate;
    ns::Ref<dispatch::Queue> chosen = makeQueue("chosen.socket.queue");
    std::atomic<int> asked{0};
    ns::Ref<dispatch::Queue> newSocketQueueForConnectionFromAddress_onSocket(
        const ns::Data& address, const ns::Ref<DispatchSocket>&) override {
      EXPECT_TRUE(DispatchSocket::isIPv4Address(address));
      ++asked;
      return chosen;
    }
  };
  auto delegate = ns::make<QueueChoosingDelegate>(makeQueue("accept.choose"));
  auto listener = listenOnLoopback(delegate);
  RawClient client;
  ASSERT_TRUE(client.connectTo(listener->localPort()));
  auto child = delegate->waitForChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(delegate->asked.load(), 1);
  bool ranOnChosenQueue = false;
  child->performBlock([&] { ranOnChosenQueue = dispatch::currentQueue() == delegate->chosen; });
  EXPECT_TRUE(ranOnChosenQueue);
}

TEST(DispatchSocketAccept, SynchronousGettersFromCallbacksOnAMarkedTargetQueueDoNotDeadlock) {
  auto delegateQueue = makeQueue("accept.target");
  auto delegate = ns::make<RecordingDelegate>(delegateQueue);
  auto socketQueue = makeQueue("accept.target.socket");
  dispatch::setTargetQueue(socketQueue, delegateQueue);
  auto listener = ns::make<DispatchSocket>(delegate, delegateQueue, socketQueue);
  listener->markSocketQueueTargetQueue(delegateQueue);
  ns::Error error("", 0);
  ASSERT_TRUE(listener->acceptOnInterface_port_error("127.0.0.1", 0, &error));

  std::atomic<int> portSeenInCallback{-1};
  std::atomic<int> fdSeenInCallback{-2};
  delegate->onAccept = [&](const ns::Ref<DispatchSocket>& sock, const ns::Ref<DispatchSocket>&) {
    // Runs on the delegate queue, which the socket queue targets: inline, no deadlock.
    portSeenInCallback = sock->localPort();
    fdSeenInCallback = sock->socketFD();
    EXPECT_FALSE(sock->isDisconnected());
  };
  RawClient client;
  ASSERT_TRUE(client.connectTo(listener->localPort()));
  ASSERT_TRUE(delegate->waitForChild());
  EXPECT_EQ(portSeenInCallback.load(), listener->localPort());
  EXPECT_GE(fdSeenInCallback.load(), 0) << "the descriptor is visible on the marked queue";
  EXPECT_EQ(listener->socketFD(), -1) << "but not off the socket queue";

  listener->unmarkSocketQueueTargetQueue(delegateQueue);
  bool marked = true;
  dispatch::sync(delegateQueue, [&] { marked = listener->socketFD() != -1; });
  EXPECT_FALSE(marked);
}

TEST(DispatchSocketAccept, DisconnectingTheListenerLeavesChildrenConnected) {
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.stop"));
  auto listener = listenOnLoopback(delegate);
  std::uint16_t port = listener->localPort();
  RawClient client;
  ASSERT_TRUE(client.connectTo(port));
  auto child = delegate->waitForChild();
  ASSERT_TRUE(child);
  listener->disconnect();
  EXPECT_TRUE(listener->isDisconnected());
  // Once disconnect returns the port refuses connections and can be listened on again, although
  // the descriptor itself is closed later by its source's cancel handler.
  RawClient refused;
  EXPECT_FALSE(refused.connectTo(port)) << "the port no longer listens";
  auto again = ns::make<DispatchSocket>(delegate, delegate->queue());
  ns::Error error("", 0);
  EXPECT_TRUE(again->acceptOnInterface_port_error("127.0.0.1", port, &error)) << error.localizedDescription();
  again->disconnect();

  EXPECT_TRUE(child->isConnected());
  child->writeData_withTimeout_tag(ns::Data("still here"), -1, 1);
  EXPECT_EQ(client.readExactly(10), "still here");
  ASSERT_TRUE(delegate->waitForCount(Event::Disconnect, 1));
  EXPECT_EQ(delegate->eventsOf(Event::Disconnect)[0].sock, listener.get());
  EXPECT_FALSE(delegate->eventsOf(Event::Disconnect)[0].error);
}

TEST(DispatchSocketAccept, ADisconnectedListenerRefusesConnectionsBeforeItsDescriptorIsClosed) {
  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.refuse"));
  auto listener = listenOnLoopback(delegate);
  std::uint16_t port = listener->localPort();
  bool connected = true;
  // Inside a block on the socket queue the sources' cancel handlers, which close the
  // descriptors, cannot run yet: the port must stop listening all the same.
  listener->performBlock([&] {
    listener->disconnect();
    RawClient late;
    connected = late.connectTo(port);
  });
  EXPECT_FALSE(connected);
}

TEST(DispatchSocketAccept, InterfaceDescriptionWithPortListensThere) {
  // Find a free port, then ask for it through the description.
  auto probe = ns::make<RecordingDelegate>(makeQueue("accept.probe"));
  auto probeListener = listenOnLoopback(probe);
  std::uint16_t port = probeListener->localPort();
  probeListener->disconnect();
  probeListener->performBlock([] {});  // its descriptor is closed by then

  auto delegate = ns::make<RecordingDelegate>(makeQueue("accept.desc"));
  auto listener = ns::make<DispatchSocket>(delegate, delegate->queue());
  ns::Error error("", 0);
  ASSERT_TRUE(listener->acceptOnInterface_port_error("127.0.0.1:" + std::to_string(port), 0, &error))
      << error.localizedDescription();
  EXPECT_EQ(listener->localPort(), port);
}

}  // namespace
