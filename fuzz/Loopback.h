#pragma once
// The client side of the fuzz targets that talk to a server over loopback: one conversation per
// input, each from another loopback source address.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/foundation/NotificationCenter.h"

namespace fuzz {

// How a conversation ends on the client's side once everything is written.
enum class ClientEnd {
  HalfClose,  // closes its sending side and reads until the server closes
  Close,      // closes the connection at once, without reading
  Read,       // reads until the server closes, keeping its sending side open
};

// Writes `size` bytes to 127.0.0.1:`port` while draining what the server answers, then ends as
// `end` says; reads for at most 20 seconds. Answers what the server sent (its first 64 KB).
inline std::string converse(std::uint16_t port, const std::uint8_t* data, std::size_t size,
                            ClientEnd end = ClientEnd::HalfClose) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("no socket");
  // Each connection comes from another loopback address (127.1.0.0 onwards): hundreds of
  // conversations a second would otherwise run out of ports, or meet a closed connection of the
  // same addresses and ports still waiting out its time, whose handshake stalls for seconds.
  static std::uint32_t nextSource = 0;
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl((127u << 24 | 1u << 16) + (nextSource++ % (1u << 20)));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0)
    fail(std::string("cannot bind the client: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Non-blocking from the start: a signal (libFuzzer's timer) cannot then cut the connect short.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) fail(std::string("cannot connect: ") + std::strerror(errno));
    pollfd p{fd, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0)
      if (errno != EINTR) fail(std::string("cannot wait for the connection: ") + std::strerror(errno));
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) fail(std::string("cannot connect: ") + std::strerror(error));
  }
  std::string reply;
  std::size_t sent = 0;
  bool doneSending = false;
  char buffer[16384];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (sent == size && !doneSending) {
      if (end == ClientEnd::Close) break;
      if (end == ClientEnd::HalfClose) ::shutdown(fd, SHUT_WR);
      doneSending = true;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (doneSending ? 0 : POLLOUT)), 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;  // the server closed
      if (n > 0 && reply.size() < 65536) reply.append(buffer, static_cast<std::size_t>(n));
    }
    if (!doneSending && (p.revents & POLLOUT)) {
      ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n > 0)
        sent += static_cast<std::size_t>(n);
      else if (n < 0 && errno != EAGAIN && errno != EINTR)
        sent = size;  // the server closed early
    }
  }
  ::close(fd);
  return reply;
}

inline std::string converse(std::uint16_t port, const std::string& bytes,
                            ClientEnd end = ClientEnd::HalfClose) {
  return converse(port, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), end);
}

// Counts the notifications named `name` (a connection or WebSocket that died) and waits for them:
// each input's conversation has ended on the server before the next input (and before the process
// exits), so that nothing still works while the process winds down.
class DeathCounter {
 public:
  explicit DeathCounter(const std::string& name) {
    observer_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this](const ns::Ref<ns::Notification>&) {
          std::lock_guard lock(mutex_);
          ++deaths_;
          died_.notify_all();
        });
  }
  ~DeathCounter() { ns::NotificationCenter::defaultCenter()->removeObserver(observer_.get()); }
  DeathCounter(const DeathCounter&) = delete;
  DeathCounter& operator=(const DeathCounter&) = delete;

  // Stops the run (keeping the input) unless `count` have died within 30 seconds.
  void waitFor(std::size_t count, const char* what) {
    std::unique_lock lock(mutex_);
    if (!died_.wait_for(lock, std::chrono::seconds(30), [&] { return deaths_ >= count; }))
      fail(std::string(what) + " did not end after its client left");
  }

 private:
  ns::Ref<ns::Object> observer_;
  std::mutex mutex_;
  std::condition_variable died_;
  std::size_t deaths_ = 0;
};

}  // namespace fuzz
