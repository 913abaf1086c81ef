// RunLoopUdpSocket sending and receiving on real loopback sockets: exchanges, time-outs on the
// virtual clock, cut and dropped datagrams, refused requests, closing, modes and run loops.
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>

#include "RunLoopUdpTestSupport.h"
#include "platform/runloop/Thread.h"

using namespace rludptest;

namespace {

TEST(RunLoopUdpTransferTest, TwoSocketsExchangeDatagramsWithTagsAndSenders) {
  onTestThread([] {
    auto rec = ns::make<UdpRecorder>();
    rec->answers = {true, true, false};  // a turns down its second datagram
    auto a = boundSocket(rec);
    auto b = boundSocket(rec);
    const auto portA = a->localPort(), portB = b->localPort();

    a->receiveWithTimeout_tag(-1, 11);
    b->receiveWithTimeout_tag(-1, 21);
    ASSERT_TRUE(a->sendData_toHost_port_withTimeout_tag(ns::Data("ping"), "127.0.0.1", portB, -1, 1));
    ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, b.get()) == 1; }, kWait));
    ASSERT_TRUE(b->sendData_toAddress_withTimeout_tag(ns::Data("pong"), loopback4(portA), -1, 2));
    ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, a.get()) == 1; }, kWait));
    ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Sent) == 2; }, kWait));

    auto atB = rec->eventsOf(UdpEvent::Received, b.get())[0];
    EXPECT_EQ(atB.tag, 21);
    EXPECT_EQ(atB.data, "ping");
    EXPECT_EQ(atB.host, "127.0.0.1");
    EXPECT_EQ(atB.port, portA);
    auto atA = rec->eventsOf(UdpEvent::Received, a.get())[0];
    EXPECT_EQ(atA.tag, 11);
    EXPECT_EQ(atA.data, "pong");
    EXPECT_EQ(atA.port, portB);
    EXPECT_EQ(rec->eventsOf(UdpEvent::Sent, a.get())[0].tag, 1);
    EXPECT_EQ(rec->eventsOf(UdpEvent::Sent, b.get())[0].tag, 2);

    // A NO keeps the receive open: the next datagram comes under the same tag.
    a->receiveWithTimeout_tag(-1, 12);
    ASSERT_TRUE(b->sendData_toAddress_withTimeout_tag(ns::Data("first"), loopback4(portA), -1, 3));
    ASSERT_TRUE(b->sendData_toAddress_withTimeout_tag(ns::Data("second"), loopback4(portA), -1, 4));
    ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, a.get()) == 3; }, kWait));
    auto received = rec->eventsOf(UdpEvent::Received, a.get());
    EXPECT_EQ(received[1].data, "first");
    EXPECT_FALSE(received[1].answer);
    EXPECT_EQ(received[2].data, "second");
    EXPECT_EQ(received[2].tag, 12);
    EXPECT_TRUE(received[2].answer);
    EXPECT_EQ(rec->count(UdpEvent::NotReceived), 0u);
    a->close();
    b->close();
  });
}

TEST(RunLoopUdpTransferTest, ReceiveTimesOutOnTheVirtualClockAndTheSocketStaysUsable) {
  pltest::VirtualClock clock;
  auto rec = ns::make<UdpRecorder>();
  auto sock = boundSocket(rec);
  auto peer = boundSocket(rec);
  auto loop = ns::RunLoop::currentRunLoop();

  sock->receiveWithTimeout_tag(0.3, 5);
  // One pass starts the receive (and its timer); nothing arrives.
  loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::distantFuture());
  clock.advance(0.29);
  ASSERT_TRUE(
      peer->sendData_toAddress_withTimeout_tag(ns::Data("mark"), loopback4(peer->localPort()), -1, 0));
  peer->receiveWithTimeout_tag(-1, 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, peer.get()) == 1; }, kWait));
  EXPECT_EQ(rec->count(UdpEvent::NotReceived), 0u);

  clock.advance(0.02);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::NotReceived) == 1; }, kWait));
  auto failed = rec->eventsOf(UdpEvent::NotReceived)[0];
  EXPECT_EQ(failed.tag, 5);
  EXPECT_EQ(failed.error->domain(), "RunLoopUdpSocketErrorDomain");
  EXPECT_EQ(failed.error->code(), 5);
  EXPECT_EQ(failed.error->localizedDescription(), "Receive operation timed out");

  sock->receiveWithTimeout_tag(-1, 6);
  ASSERT_TRUE(
      peer->sendData_toAddress_withTimeout_tag(ns::Data("after"), loopback4(sock->localPort()), -1, 0));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, sock.get()) == 1; }, kWait));
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received, sock.get())[0].data, "after");
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received, sock.get())[0].tag, 6);
}

TEST(RunLoopUdpTransferTest, LongDatagramsAreCutToTheReceiveBuffer) {
  struct Case {
    std::uint32_t max;  // 0 = the default
    std::size_t sent;
    std::size_t expected;
  };
  const Case cases[] = {{0, 10000, 9216}, {100, 10000, 100}, {0, 9216, 9216}, {0, 5, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    auto rec = ns::make<UdpRecorder>();
    auto sock = boundSocket(rec);
    auto peer = boundSocket(rec);
    EXPECT_EQ(sock->maxReceiveBufferSize(), 9216u);
    if (c.max) sock->setMaxReceiveBufferSize(c.max);
    std::string payload(c.sent, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
    sock->receiveWithTimeout_tag(-1, 1);
    ASSERT_TRUE(
        peer->sendData_toAddress_withTimeout_tag(ns::Data(payload), loopback4(sock->localPort()), -1, 1));
    ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received) == 1; }, kWait));
    EXPECT_EQ(rec->eventsOf(UdpEvent::Received)[0].data, payload.substr(0, c.expected));
  }
}

TEST(RunLoopUdpTransferTest, ConnectedSocketDropsStrangersAndTakesEmptyDatagrams) {
  auto rec = ns::make<UdpRecorder>();
  auto sock = boundSocket(rec);
  auto peer = boundSocket(rec);
  auto stranger = boundSocket(rec);
  // The stranger's datagram is already waiting when the socket connects to its peer.
  ASSERT_TRUE(stranger->sendData_toAddress_withTimeout_tag(ns::Data("stranger"), loopback4(sock->localPort()),
                                                           -1, 9));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Sent, stranger.get()) == 1; }, kWait));
  ns::Error err;
  ASSERT_TRUE(sock->connectToHost_onPort_error("127.0.0.1", peer->localPort(), &err)) << err.description();
  EXPECT_TRUE(sock->isConnected());
  EXPECT_TRUE(sock->isConnectedToHost_port("127.0.0.1", peer->localPort()));
  EXPECT_EQ(sock->connectedPort(), peer->localPort());

  sock->receiveWithTimeout_tag(-1, 1);
  ASSERT_TRUE(
      peer->sendData_toAddress_withTimeout_tag(ns::Data("peer"), loopback4(sock->localPort()), -1, 1));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, sock.get()) == 1; }, kWait));
  auto got = rec->eventsOf(UdpEvent::Received, sock.get())[0];
  EXPECT_EQ(got.data, "peer");
  EXPECT_EQ(got.port, peer->localPort());

  // An empty datagram from the peer is a datagram of no bytes, not a failure. Our sockets
  // refuse to send one, so a raw socket takes over the peer's port.
  sock->receiveWithTimeout_tag(-1, 2);
  const auto peerPort = peer->localPort();
  peer->close();
  int raw = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(raw, 0);
  ns::Data from = loopback4(peerPort);
  int on = 1;
  ::setsockopt(raw, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ASSERT_EQ(::bind(raw, reinterpret_cast<const sockaddr*>(from.bytes()), from.length()), 0);
  ns::Data to = loopback4(sock->localPort());
  ASSERT_EQ(::sendto(raw, "", 0, 0, reinterpret_cast<const sockaddr*>(to.bytes()), to.length()), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, sock.get()) == 2; }, kWait));
  auto empty = rec->eventsOf(UdpEvent::Received, sock.get())[1];
  EXPECT_EQ(empty.tag, 2);
  EXPECT_EQ(empty.data, "");
  EXPECT_EQ(empty.port, peerPort);
  ::close(raw);
  EXPECT_EQ(rec->count(UdpEvent::NotReceived), 0u);
}

TEST(RunLoopUdpTransferTest, FirstSendBindsAndTheLocalPortIsCached) {
  auto rec = ns::make<UdpRecorder>();
  auto peer = boundSocket(rec);
  auto sock = ns::make<RunLoopUdpSocket>(rec);
  peer->receiveWithTimeout_tag(-1, 1);
  ASSERT_TRUE(
      sock->sendData_toHost_port_withTimeout_tag(ns::Data("hello"), "127.0.0.1", peer->localPort(), -1, 7));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, peer.get()) == 1; }, kWait));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Sent, sock.get()) == 1; }, kWait));
  const auto senderPort = rec->eventsOf(UdpEvent::Received, peer.get())[0].port;
  EXPECT_EQ(sock->localPort(), senderPort);
  EXPECT_EQ(sock->localHost(), std::optional<std::string>("0.0.0.0"));
  // Marked bound: a bind now is misuse.
  EXPECT_EQ(raisedReason([&] { sock->bindToPort_error(0, nullptr); }),
            "Cannot bind a socket more than once.");
  // With its sockets gone, the port still comes from the cache.
  sock->close();
  EXPECT_FALSE(sock->isIPv4());
  EXPECT_EQ(sock->localPort(), senderPort);
  EXPECT_EQ(sock->localHost(), std::optional<std::string>("0.0.0.0"));
}

TEST(RunLoopUdpTransferTest, RefusedRequestsAnswerNoAndSendNothing) {
  auto rec = ns::make<UdpRecorder>();
  auto sock = boundSocket(rec);
  auto peer = boundSocket(rec);
  auto connected = boundSocket(rec);
  ASSERT_TRUE(connected->connectToHost_onPort_error("127.0.0.1", peer->localPort(), nullptr));
  const auto to = loopback4(peer->localPort());
  const ns::Data empty;
  const ns::Data some("x");

  struct Case {
    const char* what;
    std::function<bool()> send;
  };
  const Case cases[] = {
      {"no destination, unconnected", [&] { return sock->sendData_withTimeout_tag(some, -1, 1); }},
      {"host on a connected socket",
       [&] {
         return connected->sendData_toHost_port_withTimeout_tag(some, "127.0.0.1", peer->localPort(), -1, 1);
       }},
      {"address on a connected socket",
       [&] { return connected->sendData_toAddress_withTimeout_tag(some, to, -1, 1); }},
      {"empty to host",
       [&] { return sock->sendData_toHost_port_withTimeout_tag(empty, "127.0.0.1", 9, -1, 1); }},
      {"empty to address", [&] { return sock->sendData_toAddress_withTimeout_tag(empty, to, -1, 1); }},
      {"empty on connected", [&] { return connected->sendData_withTimeout_tag(empty, -1, 1); }},
      {"IPv6 address on an IPv4 socket",
       [&] {
         sockaddr_in6 a6{};
         a6.sin6_family = AF_INET6;
         a6.sin6_addr = in6addr_loopback;
         a6.sin6_port = htons(peer->localPort());
         return sock->sendData_toAddress_withTimeout_tag(some, ns::Data(&a6, sizeof a6), -1, 1);
       }},
      {"no host", [&] { return sock->sendData_toHost_port_withTimeout_tag(some, std::nullopt, 9, -1, 1); }},
  };
  for (const auto& c : cases) EXPECT_FALSE(c.send()) << c.what;

  // Only what is sent afterwards arrives.
  peer->receiveWithTimeout_tag(-1, 1);
  ASSERT_TRUE(connected->sendData_withTimeout_tag(ns::Data("legit"), -1, 2));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received, peer.get()) == 1; }, kWait));
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received, peer.get())[0].data, "legit");
  EXPECT_EQ(rec->count(UdpEvent::Sent), 1u);

  // After closeAfterSending nothing new is taken; the socket closes once its sends are done.
  ASSERT_TRUE(sock->sendData_toAddress_withTimeout_tag(ns::Data("last"), to, -1, 3));
  sock->closeAfterSending();
  EXPECT_FALSE(sock->sendData_toAddress_withTimeout_tag(ns::Data("late"), to, -1, 4));
  ASSERT_TRUE(pltest::pumpUntil([&] { return sock->isClosed(); }, kWait));
  EXPECT_EQ(rec->eventsOf(UdpEvent::Sent, sock.get()).at(0).tag, 3);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Closed, sock.get()) == 1; }, kWait));
}

TEST(RunLoopUdpTransferTest, CloseNoticeComesLaterAndNeverForADestroyedSocket) {
  auto rec = ns::make<UdpRecorder>();
  auto sock = boundSocket(rec);
  sock->receiveWithTimeout_tag(-1, 1);
  sock->close();
  EXPECT_TRUE(sock->isClosed());
  EXPECT_EQ(rec->count(UdpEvent::Closed), 0u);  // not inside close
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Closed) == 1; }, kWait));
  EXPECT_EQ(rec->count(UdpEvent::NotReceived), 0u);  // requests go without a message
  EXPECT_EQ(raisedReason([&] { sock->bindToPort_error(0, nullptr); }), "The socket is closed.");

  // Destroyed after close, before the notice's pass: nothing comes. A second socket's notice,
  // queued later, proves the pass ran.
  auto doomed = boundSocket(rec);
  doomed->close();
  doomed.reset();
  auto witness = boundSocket(rec);
  witness->close();
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Closed, witness.get()) == 1; }, kWait));
  // (Counted in all: the witness may live where the destroyed socket did.)
  EXPECT_EQ(rec->count(UdpEvent::Closed), 2u);

  // A close queued by closeAfterReceiving does not repeat an explicit close and its notice.
  auto twice = boundSocket(rec);
  twice->closeAfterReceiving();
  twice->close();
  bool marker = false;
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Closed, twice.get()) == 1; }, kWait));
  ns::RunLoop::currentRunLoop()->performBlock([&] { marker = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return marker; }, kWait));
  EXPECT_EQ(rec->count(UdpEvent::Closed, twice.get()), 1u);
}

TEST(RunLoopUdpTransferTest, SendsInACustomModeProgressOnlyInThatMode) {
  auto rec = ns::make<UdpRecorder>();
  auto sock = boundSocket(rec);
  auto peer = boundSocket(rec);
  EXPECT_FALSE(sock->setRunLoopModes({}));
  ASSERT_TRUE(sock->setRunLoopModes({"custom"}));
  EXPECT_EQ(sock->runLoopModes(), std::vector<std::string>{"custom"});
  peer->receiveWithTimeout_tag(-1, 1);
  ASSERT_TRUE(
      sock->sendData_toAddress_withTimeout_tag(ns::Data("custom"), loopback4(peer->localPort()), -1, 4));

  // Default-mode passes: the marker queued after the send runs; the send does not.
  bool marker = false;
  ns::RunLoop::currentRunLoop()->performBlock([&] { marker = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return marker; }, kWait));
  EXPECT_EQ(rec->count(UdpEvent::Sent), 0u);
  EXPECT_EQ(rec->count(UdpEvent::Received), 0u);

  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Sent) == 1; }, kWait, "custom"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec->count(UdpEvent::Received) == 1; }, kWait));
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received)[0].data, "custom");
}

TEST(RunLoopUdpTransferTest, AfterMovingToAnotherThreadsRunLoopTrafficContinuesThere) {
  auto rec = ns::make<UdpRecorder>();
  auto sock = boundSocket(rec);
  auto peer = boundSocket(rec);
  const auto sockPort = sock->localPort(), peerPort = peer->localPort();
  auto worker = ns::Thread::detachNewThreadWithRunLoop("udp-moved");
  std::thread::id workerId;
  ns::Thread::performOnThread(worker, {nullptr, "", nullptr, [&] { workerId = std::this_thread::get_id(); }},
                              true);

  EXPECT_FALSE(sock->moveToRunLoop(nullptr));
  EXPECT_TRUE(sock->moveToRunLoop(ns::RunLoop::currentRunLoop()));
  ASSERT_TRUE(sock->moveToRunLoop(worker->runLoop()));
  ns::Thread::performOnThread(worker,
                              {nullptr, "", nullptr,
                               [&] {
                                 sock->receiveWithTimeout_tag(-1, 3);
                                 sock->sendData_toAddress_withTimeout_tag(ns::Data("from worker"),
                                                                          loopback4(peerPort), -1, 4);
                               }},
                              true);
  peer->receiveWithTimeout_tag(-1, 1);
  ASSERT_TRUE(peer->sendData_toAddress_withTimeout_tag(ns::Data("to worker"), loopback4(sockPort), -1, 2));
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return rec->count(UdpEvent::Received, sock.get()) == 1 &&
               rec->count(UdpEvent::Sent, sock.get()) == 1 && rec->count(UdpEvent::Received, peer.get()) == 1;
      },
      kWait));
  auto got = rec->eventsOf(UdpEvent::Received, sock.get())[0];
  EXPECT_EQ(got.data, "to worker");
  EXPECT_EQ(got.tag, 3);
  EXPECT_EQ(got.thread, workerId);
  EXPECT_EQ(rec->eventsOf(UdpEvent::Sent, sock.get())[0].thread, workerId);
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received, peer.get())[0].data, "from worker");
  EXPECT_EQ(rec->eventsOf(UdpEvent::Received, peer.get())[0].thread, std::this_thread::get_id());

  ns::Thread::performOnThread(worker,
                              {nullptr, "", nullptr,
                               [&] {
                                 sock->close();
                                 sock.reset();
                               }},
                              true);
  worker->cancel();
  EXPECT_TRUE(worker->waitUntilFinished(kWait));
}

}  // namespace
