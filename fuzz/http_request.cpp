// Requests to the embedded server, as bytes on a real loopback connection: heads, bodies (sized
// and chunked), several requests on one connection, ranges of a file. The client writes the input,
// closes its sending side and reads until the server closes. The server serves a document root
// with two files; its connections take POST and PUT bodies.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/Sandbox.h"

namespace {

class UploadConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  bool supportsMethod_atPath(const std::string& method, const std::string& path) override {
    return method == "POST" || method == "PUT" || HTTPConnection::supportsMethod_atPath(method, path);
  }
  void processBodyData(const ns::Data& chunk) override { received_ += chunk.length(); }
  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string& method,
                                                  const std::string& path) override {
    (void)parseGetParams();
    if (method == "POST" || method == "PUT")
      return HTTPConnection::httpResponseForMethod_URI("GET", "/index.html");
    return HTTPConnection::httpResponseForMethod_URI(method, path);
  }

 private:
  std::uint64_t received_ = 0;
};

struct Server {
  pltest::Sandbox sandbox;
  ns::Ref<HTTPServer> server = ns::make<HTTPServer>();
  std::uint16_t port = 0;
  ns::Ref<ns::Object> observer;
  std::mutex mutex;
  std::condition_variable died;
  std::size_t deaths = 0;

  Server() {
    observer = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        HTTPConnectionDidDieNotification, nullptr, nullptr, [this](const ns::Ref<ns::Notification>&) {
          std::lock_guard lock(mutex);
          ++deaths;
          died.notify_all();
        });
    auto root = sandbox.temporaryFolder("www");
    std::ofstream(root / "index.html") << "<html><body>fuzz</body></html>\n";
    std::string video(64 * 1024, '\0');
    for (std::size_t i = 0; i < video.size(); ++i) video[i] = static_cast<char>(i * 7);
    std::ofstream(root / "video.bin", std::ios::binary) << video;
    server->setConnectionClass<UploadConnection>();
    server->setInterface("127.0.0.1");
    server->setDocumentRoot(root.string());
    ns::Error error;
    if (!server->start(&error)) fuzz::fail("the server does not start: " + error.description());
    port = server->listeningPort();
  }
  ~Server() {
    server->stop();
    ns::NotificationCenter::defaultCenter()->removeObserver(observer.get());
  }

  // Each input's connection has ended before the next input (and before the process exits), so
  // that no connection still works while the process winds down.
  void waitForDeaths(std::size_t count) {
    std::unique_lock lock(mutex);
    if (!died.wait_for(lock, std::chrono::seconds(30), [&] { return deaths >= count; }))
      fuzz::fail("a connection did not end after its client left");
  }
};

// Writes everything (while draining what the server answers), half-closes, and reads until the
// server closes or 20 seconds pass.
void converse(std::uint16_t port, const std::uint8_t* data, std::size_t size) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fuzz::fail("no socket");
  // Each connection comes from another loopback address (127.1.0.0 onwards): hundreds of
  // conversations a second would otherwise run out of ports, or meet a closed connection of the
  // same addresses and ports still waiting out its time, whose handshake stalls for seconds.
  static std::uint32_t nextSource = 0;
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl((127u << 24 | 1u << 16) + (nextSource++ % (1u << 20)));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0)
    fuzz::fail(std::string("cannot bind the client: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    fuzz::fail(std::string("cannot connect: ") + std::strerror(errno));
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::size_t sent = 0;
  bool halfClosed = false;
  char buffer[16384];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (sent == size && !halfClosed) {
      ::shutdown(fd, SHUT_WR);
      halfClosed = true;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (halfClosed ? 0 : POLLOUT)), 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;  // the server closed
    }
    if (!halfClosed && (p.revents & POLLOUT)) {
      ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n > 0)
        sent += static_cast<std::size_t>(n);
      else if (n < 0 && errno != EAGAIN && errno != EINTR)
        sent = size;  // the server closed early
    }
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto server = std::make_unique<Server>();
  static std::size_t conversations = 0;
  converse(server->port, data, size);
  server->waitForDeaths(++conversations);
  return 0;
}
