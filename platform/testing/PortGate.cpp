#include "platform/testing/PortGate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/testing/TcpPair.h"

namespace pltest {

struct PortGate::Impl {
  std::uint16_t target = 0;
  std::uint16_t port = 0;
  int listener = -1;
  int wake = -1;
  std::atomic<std::size_t> connections{0};
  std::thread thread;

  void run() {
    // Each pair: the accepted client's descriptor and the one to the target.
    std::vector<std::pair<int, int>> pairs;
    auto closePair = [](std::pair<int, int>& pair) {
      ::close(pair.first);
      ::close(pair.second);
    };
    for (;;) {
      std::vector<pollfd> fds = {{wake, POLLIN, 0}, {listener, POLLIN, 0}};
      for (auto& [client, server] : pairs) {
        fds.push_back({client, POLLIN, 0});
        fds.push_back({server, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents) break;
      // Bytes of either side go to the other; an end or an error on either closes both.
      std::vector<std::pair<int, int>> open;
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        bool alive = true;
        for (int side = 0; side < 2 && alive; ++side) {
          if (!fds[2 + 2 * i + side].revents) continue;
          const int from = side == 0 ? pairs[i].first : pairs[i].second;
          const int to = side == 0 ? pairs[i].second : pairs[i].first;
          char buffer[65536];
          const long got = ::recv(from, buffer, sizeof buffer, 0);
          for (long sent = 0; got > 0 && sent < got;) {
            const long n = ::send(to, buffer + sent, static_cast<std::size_t>(got - sent), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += n;
          }
          if (got <= 0) alive = false;
        }
        if (alive) {
          open.push_back(pairs[i]);
        } else {
          closePair(pairs[i]);
        }
      }
      pairs = std::move(open);
      if (fds[1].revents & POLLIN) {
        int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
          int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
          sockaddr_in address = loopbackAddress(target);
          if (server >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            pairs.emplace_back(client, server);
            ++connections;
          } else {
            if (server >= 0) ::close(server);
            ::close(client);
          }
        }
      }
    }
    for (auto& pair : pairs) closePair(pair);
  }
};

PortGate::PortGate(std::uint16_t targetPort) : impl_(std::make_unique<Impl>()) {
  impl_->target = targetPort;
  impl_->wake = ::eventfd(0, EFD_CLOEXEC);
  impl_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopbackAddress();
  socklen_t length = sizeof address;
  if (impl_->listener >= 0 &&
      ::bind(impl_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    impl_->port = ntohs(address.sin_port);
}

PortGate::~PortGate() {
  if (impl_->thread.joinable()) {
    const std::uint64_t one = 1;
    (void)::write(impl_->wake, &one, sizeof one);
    impl_->thread.join();
  }
  if (impl_->listener >= 0) ::close(impl_->listener);
  if (impl_->wake >= 0) ::close(impl_->wake);
}

std::uint16_t PortGate::port() const {
  return impl_->port;
}

void PortGate::open() {
  if (impl_->thread.joinable() || impl_->port == 0 || ::listen(impl_->listener, 16) != 0) return;
  impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

std::size_t PortGate::connections() const {
  return impl_->connections;
}

}  // namespace pltest
