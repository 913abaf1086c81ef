// WebSocket frames sent to the embedded server over a real loopback connection, after an upgrade
// request. The first byte picks the handshake (RFC 6455, version 76 with its key body, or the
// oldest form) and how the client leaves (closing its sending side and reading until the server
// closes, or closing at once); the rest is sent as frames. The server's WebSockets echo every text
// message. Whatever was sent, each WebSocket must end once its client has gone: it says it died
// and the server no longer lists it.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "fuzz/Loopback.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/websocket/WebSocket.h"
#include "platform/security/LibraryExit.h"

namespace {

class Echo : public WebSocketDelegate {
 public:
  void webSocket_didReceiveMessage(const ns::Ref<WebSocket>& ws,
                                   const std::optional<std::string>& message) override {
    if (message) ws->sendMessage(*message);
  }
};

std::shared_ptr<Echo> gEcho = std::make_shared<Echo>();

class SocketConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  ns::Ref<WebSocketHandle> webSocketForURI(const std::string& path) override {
    if (path != "/ws") return nullptr;
    auto ws = WebSocket::initWithRequest_socket(request(), dispatchSocket());
    if (ws) ws->setDelegate(gEcho);
    return ws;
  }
};

struct Server {
  ns::Ref<HTTPServer> server = ns::make<HTTPServer>();
  std::uint16_t port = 0;
  // Made after the server starts: observers are told in the order they came, so by the time this
  // one hears of a death the server has dropped that WebSocket.
  std::unique_ptr<fuzz::DeathCounter> deaths;
  std::size_t webSockets = 0;

  Server() {
    // The server's threads still hold the TLS library's per-thread state when the replay ends,
    // and its exit-time clean-up then races them (the leak checker saw that state lost now and
    // then): as the application does, the library is kept through exit.
    sec::keepCryptoLibraryThroughExit();
    server->setConnectionClass<SocketConnection>();
    server->setInterface("127.0.0.1");
    ns::Error error;
    if (!server->start(&error)) fuzz::fail("the server does not start: " + error.description());
    port = server->listeningPort();
    deaths = std::make_unique<fuzz::DeathCounter>(WebSocketDidDieNotification);
  }
  ~Server() { server->stop(); }
};

const char* const kHandshakes[] = {
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: http://127.0.0.1\r\n\r\n",
    ("Sec-WebSocket-Key1: 18x 6]8vM;54 *(5:  {   U1]8  z [  8\r\n"
     "Sec-WebSocket-Key2: 1_ tx7X d  <  nw  334J702) 7]o}` 0\r\n\r\nTm[K T2u"),
    "Origin: http://127.0.0.1\r\n\r\n",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto server = std::make_unique<Server>();
  if (size == 0) return 0;
  std::string bytes = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n";
  bytes += kHandshakes[data[0] % 3];
  bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  auto end = (data[0] / 3) % 2 ? fuzz::ClientEnd::Close : fuzz::ClientEnd::HalfClose;
  fuzz::converse(server->port, bytes, end);
  server->deaths->waitFor(++server->webSockets, "a WebSocket");
  if (server->server->numberOfWebSocketConnections() != 0) fuzz::fail("the server still lists a WebSocket");
  return 0;
}
