#pragma once
// Loopback TCP and UDP helpers for socket and stream tests.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <thread>

namespace pltest {

// Two connected loopback TCP descriptors (blocking, close-on-exec); false when the system
// refuses. The caller closes both.
bool connectedTcpPair(int* first, int* second);
// A loopback port that nothing listens on (bound once, then released).
std::uint16_t closedLoopbackPort();
// The number of descriptors the process holds (entries of /proc/self/fd).
int openDescriptorCount();
// 127.0.0.1 with `port`.
sockaddr_in loopbackAddress(std::uint16_t port = 0);
// A UDP socket bound to a free loopback port (close-on-exec, optionally non-blocking), with that
// address in `address`; -1 on failure. The caller closes it.
int boundLoopbackUdpSocket(sockaddr_in* address, bool nonBlocking = false);

// A loopback port that refuses connections while this object lives (bound, never listening), so
// that no other test can take it meanwhile.
class RefusingLoopbackPort {
 public:
  RefusingLoopbackPort();
  ~RefusingLoopbackPort();
  RefusingLoopbackPort(const RefusingLoopbackPort&) = delete;
  RefusingLoopbackPort& operator=(const RefusingLoopbackPort&) = delete;
  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT/"
  std::string url() const;

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Accepts one connection on 127.0.0.1, reads the request's header block, answers it with fixed
// bytes (not necessarily HTTP) and closes.
class OneReplyServer {
 public:
  explicit OneReplyServer(std::string reply);
  ~OneReplyServer();
  OneReplyServer(const OneReplyServer&) = delete;
  OneReplyServer& operator=(const OneReplyServer&) = delete;
  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT/"
  std::string url() const;

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace pltest
