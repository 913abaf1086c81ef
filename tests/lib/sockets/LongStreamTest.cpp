// Long one-way streams into an accepted socket: every byte arrives, and the socket reports the
// peer's close only after the last one.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/lib/sockets/SocketTestSupport.h"

namespace sockettest {
namespace {

// Reads the accepted socket in pieces of a fixed length, as a server reads a request body, and
// counts bytes. The socket often holds more than one piece, so readiness is noticed while no read
// is outstanding and bytes are taken outside the read source's handler.
class StreamSink : public DispatchSocketDelegate {
 public:
  static constexpr std::size_t kPiece = 128 * 1024;
  explicit StreamSink(ns::Ref<dispatch::Queue> queue) : queue(std::move(queue)) {}

  void socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>&,
                                 const ns::Ref<DispatchSocket>& child) override {
    std::lock_guard lock(mutex);
    this->child = child;
    child->readDataToLength_withTimeout_tag(kPiece, -1, 0);
  }
  void socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data, long) override {
    received += data.length();
    sock->readDataToLength_withTimeout_tag(kPiece, -1, 0);
  }
  void socketDidDisconnect_withError(const ns::Ref<DispatchSocket>&,
                                     const std::optional<ns::Error>& err) override {
    std::lock_guard lock(mutex);
    if (!disconnected) receivedAtDisconnect = received.load();
    disconnected = true;
    error = err;
  }
  bool isDisconnected() {
    std::lock_guard lock(mutex);
    return disconnected;
  }

  ns::Ref<dispatch::Queue> queue;
  std::mutex mutex;
  ns::Ref<DispatchSocket> child;
  std::atomic<std::uint64_t> received{0};
  std::uint64_t receivedAtDisconnect = 0;
  bool disconnected = false;
  std::optional<ns::Error> error;
};

TEST(LongStreamTest, HundredsOfMegabytesArriveWithoutAFalseEnd) {
  constexpr std::size_t kRound = 64u * 1024 * 1024;
  for (int round = 0; round < 4; ++round) {
    auto sink = std::make_shared<StreamSink>(makeQueue("test.sink"));
    auto listener = ns::make<DispatchSocket>(sink, sink->queue);
    ns::Error error("", 0);
    ASSERT_TRUE(listener->acceptOnInterface_port_error("127.0.0.1", 0, &error))
        << error.localizedDescription();
    RawClient client;
    ASSERT_TRUE(client.connectTo(listener->localPort()));
    std::thread writer([&] {
      client.sendStream(kRound, 16 * 1024);
      client.shutdownWrite();
    });
    bool ended = pltest::pumpUntil([&] { return sink->isDisconnected(); }, 120);
    client.shutdownBoth();  // after a false end, lets a writer blocked on a full buffer go
    writer.join();
    ASSERT_TRUE(ended) << "round " << round;
    std::lock_guard lock(sink->mutex);
    EXPECT_EQ(sink->receivedAtDisconnect, kRound) << "round " << round << ": closed before the last byte";
    ASSERT_TRUE(sink->error) << "round " << round;
    EXPECT_EQ(sink->error->code(), DispatchSocketClosedError) << "round " << round;
    listener->disconnect();
  }
}

}  // namespace
}  // namespace sockettest
