#pragma once
// A blocking TCP client on the loopback interface, for the far end of servers and sockets under
// test: sends raw bytes and reads raw bytes or HTTP/1.1 responses off the wire.
//
//   pltest::RawClient client;
//   ASSERT_TRUE(client.connectTo(port));
//   client.sendAll("GET / HTTP/1.1\r\n\r\n");
//   auto response = client.readResponse();     // status, headers, Content-Length body
//   EXPECT_TRUE(client.seesEndOfStream());
//
// Every read waits at most the given number of seconds of real time.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pltest {

constexpr double kRawClientWaitSeconds = 20;

// An HTTP response as read from the wire.
struct WireResponse {
  int status = 0;
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The first field of that name, compared without case.
  std::optional<std::string> header(const std::string& name) const;
};

class RawClient {
 public:
  RawClient() = default;
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  ~RawClient();

  // Connects to 127.0.0.1 (or ::1) on `port`; a small receive buffer makes a slow reader.
  bool connectTo(std::uint16_t port, bool ipv6 = false, int receiveBufferSize = 0);
  int fd() const { return fd_; }
  std::uint16_t localPort() const;

  // Answers whether every byte went out (false once the peer has gone).
  bool sendAll(const std::string& bytes);
  // Sends `total` bytes in pieces of `pieceSize`, so that bytes keep arriving at the far end.
  bool sendStream(std::size_t total, std::size_t pieceSize);
  void shutdownWrite();
  // Ends both directions at once; a send or read blocked in another thread returns.
  void shutdownBoth();

  // Exactly n bytes; fewer when the stream ends or the wait runs out.
  std::string readExactly(std::size_t n, double seconds = kRawClientWaitSeconds);
  // Bytes up to and including `terminator`; nothing when the stream ends first or the wait
  // runs out.
  std::optional<std::string> readUntil(const std::string& terminator, double seconds = kRawClientWaitSeconds);
  // Everything until the peer closes; nothing when it does not close in time or the connection
  // fails (is reset) instead.
  std::optional<std::string> readToEnd(double seconds = kRawClientWaitSeconds);
  // True when the peer closed in time with nothing more to read.
  bool seesEndOfStream(double seconds = kRawClientWaitSeconds);
  // One response: the header block, then a body of Content-Length bytes (none when `withBody`
  // is false, as for a HEAD request). Nothing when the stream ends or the wait runs out.
  std::optional<WireResponse> readResponse(bool withBody = true, double seconds = kRawClientWaitSeconds);

 private:
  enum class Got { Data, End, Failed, TimedOut };
  // One read of what is there into the buffer, waiting at most `seconds`.
  Got readSome(double seconds);

  int fd_ = -1;
  std::string buffered_;
  bool ended_ = false;
};

}  // namespace pltest
