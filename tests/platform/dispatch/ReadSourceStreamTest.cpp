// What a read source reports while a peer keeps sending: the byte count, and 0 only at the real
// end of a stream.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TcpPair.h"

namespace {

using namespace dispatch;

constexpr double kWait = 120;

// A connected TCP pair on 127.0.0.1: `reader` is non-blocking, `writer` blocks.
struct LoopbackPair {
  int reader = -1;
  int writer = -1;
  LoopbackPair() {
    EXPECT_TRUE(pltest::connectedTcpPair(&writer, &reader));
    ::fcntl(reader, F_SETFL, O_NONBLOCK);
  }
  ~LoopbackPair() {
    if (reader >= 0) ::close(reader);
    if (writer >= 0) ::close(writer);
  }
};

// Sends `total` bytes in small pieces, so that bytes keep arriving while the reader drains,
// then closes its sending side.
void sendStream(int fd, std::size_t total) {
  std::vector<char> piece(16 * 1024, 'x');
  std::size_t sent = 0;
  while (sent < total) {
    ssize_t n = ::send(fd, piece.data(), std::min(piece.size(), total - sent), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
}

struct StreamResult {
  std::size_t received = 0;
  int ends = 0;           // deliveries that reported 0
  std::size_t endAt = 0;  // bytes received when the first 0 came
};

// Streams `total` bytes through a read source. Like a socket that also reads when a new read
// request comes, the handler takes the bytes it was told of and leaves the rest to a block
// queued behind it, which drains the socket: the delivery already queued for those bytes then
// finds nothing waiting, and has to tell "nothing yet" from "the end".
StreamResult streamThroughReadSource(std::size_t total) {
  LoopbackPair pair;
  auto queue = queueCreate("test.stream");
  std::mutex mutex;
  StreamResult result;
  std::atomic<bool> finished{false};
  auto source = sourceCreate(SourceType::Read, static_cast<std::uintptr_t>(pair.reader), 0, queue);
  std::vector<char> buffer(256 * 1024);
  auto drain = [&] {
    std::lock_guard lock(mutex);
    ssize_t n;
    while ((n = ::read(pair.reader, buffer.data(), buffer.size())) > 0)
      result.received += static_cast<std::size_t>(n);
  };
  source->setEventHandler([&, raw = source.get()] {
    unsigned long available = raw->data();
    std::lock_guard lock(mutex);
    if (available == 0) {
      if (result.ends++ == 0) result.endAt = result.received;
      raw->cancel();
      finished = true;
      return;
    }
    ssize_t n = ::read(pair.reader, buffer.data(), std::min<std::size_t>(available, buffer.size()));
    if (n > 0) result.received += static_cast<std::size_t>(n);
    async(queue, drain);
  });
  source->resume();
  std::thread writer(sendStream, pair.writer, total);
  pltest::pumpUntil([&] { return finished.load(); }, kWait);
  source->cancel();
  sync(queue, [] {});
  // After a false end the writer may still be blocked on a full buffer: a close with unread
  // bytes resets the connection and ends its wait.
  ::close(pair.reader);
  pair.reader = -1;
  writer.join();
  std::lock_guard lock(mutex);
  return result;
}

TEST(ReadSourceStreamTest, LongLoopbackStreamsReachTheirEndWithoutAFalseOne) {
  // 256 MB in rounds of 64 MB: every round must report its end only after its last byte.
  constexpr std::size_t kRound = 64u * 1024 * 1024;
  for (int round = 0; round < 4; ++round) {
    StreamResult r = streamThroughReadSource(kRound);
    ASSERT_EQ(r.ends, 1) << "round " << round;
    EXPECT_EQ(r.endAt, kRound) << "round " << round << ": the end was reported before the last byte";
    EXPECT_EQ(r.received, kRound) << "round " << round;
  }
}

}  // namespace
