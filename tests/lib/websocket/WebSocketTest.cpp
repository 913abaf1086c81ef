// WebSockets behind the embedded server on 127.0.0.1, driven by raw sockets that write frames.
#include <gtest/gtest.h>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/websocket/WebSocket.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/Monitor.h"
#include "platform/testing/Pump.h"
#include "platform/testing/RawClient.h"
#include "platform/testing/Sandbox.h"

namespace {

constexpr double kWait = 20;

// Records what the WebSockets tell their delegate, and keeps the last one.
class Recorder : public WebSocketDelegate {
 public:
  void webSocketDidOpen(const ns::Ref<WebSocket>& ws) override {
    monitor.change([&] { last = ws, ++opens; });
  }
  void webSocket_didReceiveMessage(const ns::Ref<WebSocket>&,
                                   const std::optional<std::string>& message) override {
    monitor.change([&] { messages.push_back(message.value_or("<not text>")); });
  }
  void webSocketDidClose(const ns::Ref<WebSocket>&) override {
    monitor.change([&] { ++closes; });
  }
  template <class Pred>
  bool waitFor(Pred pred) {
    return monitor.waitFor(pred);
  }
  pltest::Monitor monitor;
  ns::Ref<WebSocket> last;
  int opens = 0;
  int closes = 0;
  std::vector<std::string> messages;
};

std::shared_ptr<Recorder> gRecorder;

class SocketConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  ns::Ref<WebSocketHandle> webSocketForURI(const std::string& path) override {
    if (path != "/ws") return nullptr;
    auto ws = WebSocket::initWithRequest_socket(request(), dispatchSocket());
    ws->setDelegate(gRecorder);
    return ws;
  }
};

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

class WebSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gRecorder = std::make_shared<Recorder>();
    server = ns::make<HTTPServer>();
    server->setConnectionClass<SocketConnection>();
    server->setInterface("127.0.0.1");
    server->setDocumentRoot(sandbox.temporaryFolder("www").string());
    ns::Error error;
    ASSERT_TRUE(server->start(&error)) << error.description();
    observer = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        WebSocketDidDieNotification, nullptr, nullptr,
        [deaths = deaths](const ns::Ref<ns::Notification>&) { deaths->fetch_add(1); });
  }
  void TearDown() override {
    ns::NotificationCenter::defaultCenter()->removeObserver(observer.get());
    server->stop();
    gRecorder->last = nullptr;
    gRecorder.reset();
  }
  // Connects and sends the upgrade request with `headers`; answers the 101 response.
  std::optional<pltest::WireResponse> upgrade(pltest::RawClient& client, const std::string& headers,
                                              const std::string& body = "") {
    EXPECT_TRUE(client.connectTo(server->listeningPort()));
    EXPECT_TRUE(
        client.sendAll("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                       "Connection: keep-alive, Upgrade\r\n" +
                       headers + "\r\n"));
    // A version-76 handshake body goes separately, after the header block.
    if (!body.empty()) {
      EXPECT_TRUE(client.sendAll(body));
    }
    return client.readResponse(false);
  }
  void upgradeRFC(pltest::RawClient& client) {
    auto r = upgrade(client, "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: http://example.com\r\n");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 101);
    ASSERT_TRUE(gRecorder->waitFor([&] { return gRecorder->opens == 1; }));
  }
  // `count` clients connected to the server.
  std::vector<std::unique_ptr<pltest::RawClient>> connectClients(int count) {
    std::vector<std::unique_ptr<pltest::RawClient>> clients;
    for (int i = 0; i < count; ++i) {
      clients.push_back(std::make_unique<pltest::RawClient>());
      EXPECT_TRUE(clients.back()->connectTo(server->listeningPort()));
    }
    return clients;
  }
  // An upgrade request without Origin, with the given key headers.
  static std::string upgradeRequest(const std::string& keys) {
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" + keys +
           "\r\n";
  }
  // Waits until the WebSocket's queue has run what is queued on it now.
  void flush(const ns::Ref<WebSocket>& ws) {
    dispatch::sync(ws->websocketQueue(), [] {});
  }

  pltest::Sandbox sandbox;
  ns::Ref<HTTPServer> server;
  std::shared_ptr<std::atomic<int>> deaths = std::make_shared<std::atomic<int>>(0);
  ns::Ref<ns::Object> observer;
};

TEST_F(WebSocketTest, RFC6455HandshakeAndMessages) {
  pltest::RawClient client;
  auto r = upgrade(client, "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 101);
  EXPECT_EQ(r->header("Sec-WebSocket-Accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  EXPECT_EQ(r->header("Upgrade"), "WebSocket");
  EXPECT_EQ(r->header("WebSocket-Location"), "ws://127.0.0.1/ws");
  EXPECT_EQ(r->header("WebSocket-Origin"), "http://localhost:" + std::to_string(server->listeningPort()));
  ASSERT_TRUE(gRecorder->waitFor([&] { return gRecorder->opens == 1; }));

  // The masked "Hello" of RFC 6455 section 5.7, the same unmasked, empty text frames masked and
  // not, and a text that follows them: nothing stalls on an empty payload.
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x05}) + "Hello"));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x80, 1, 2, 3, 4})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x00})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x7E, 0x01, 0x00}) + std::string(256, 'x')));
  // Not UTF-8: stray bytes, a surrogate, an overlong form and a code point beyond U+10FFFF.
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x02, 0xff, 0xfe})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x03, 0xED, 0xA0, 0x80})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x03, 0xE0, 0x80, 0xAF})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x04, 0xF4, 0x90, 0x80, 0x80})));
  ASSERT_TRUE(client.sendAll(bytes({0x81, 0x04, 0xF0, 0x9F, 0x98, 0x80})));
  ASSERT_TRUE(gRecorder->waitFor([&] { return gRecorder->messages.size() == 10; }));
  EXPECT_EQ(gRecorder->messages,
            (std::vector<std::string>{"Hello", "Hello", "", "", std::string(256, 'x'), "<not text>",
                                      "<not text>", "<not text>", "<not text>", "\xF0\x9F\x98\x80"}));
  EXPECT_EQ(server->numberOfWebSocketConnections(), 1u);
}

TEST_F(WebSocketTest, SentFrameLengths) {
  pltest::RawClient client;
  upgradeRFC(client);
  auto ws = gRecorder->last;
  struct Case {
    std::size_t length;
    std::string head;
  } cases[] = {
      {0, bytes({0x81, 0x00})},
      {125, bytes({0x81, 0x7D})},
      {126, bytes({0x81, 0x7E, 0x00, 0x7E})},
      {65535, bytes({0x81, 0x7E, 0xFF, 0xFF})},
      {65536, bytes({0x81, 0x7F, 0, 0, 0, 0, 0, 1, 0, 0})},
  };
  for (const auto& c : cases) {
    std::string payload(c.length, 'm');
    ws->sendMessage(payload);
    EXPECT_EQ(client.readExactly(c.head.size()), c.head) << c.length;
    EXPECT_TRUE(client.readExactly(c.length) == payload) << c.length;
  }
}

TEST_F(WebSocketTest, NonTextFramesCloseOnceAndLeaveTheServer) {
  struct Case {
    std::string frame;
  } cases[] = {
      {bytes({0x89, 0x80, 9, 9, 9, 9})},              // ping, masked, empty
      {bytes({0x89, 0x02, 'h', 'i'})},                // ping with payload
      {bytes({0x82, 0x01, 'b'})},                     // binary
      {bytes({0xC1, 0x00})},                          // a reserved bit
      {bytes({0x83, 0x00})},                          // an unknown opcode
      {bytes({0x81, 0x7F, 0, 0, 0, 0, 0, 0, 0, 1})},  // a 64-bit length
      {bytes({0x01, 0x03, 'H', 'e', 'l'})},           // the first piece of a fragmented text
      {bytes({0x01, 0x83, 1, 2, 3, 4, 'H' ^ 1, 'e' ^ 2, 'l' ^ 3, 0x80, 0x02, 'l', 'o'})},  // and its rest
  };
  int expectedDeaths = 0;
  for (const auto& c : cases) {
    gRecorder = std::make_shared<Recorder>();
    pltest::RawClient client;
    upgradeRFC(client);
    auto ws = gRecorder->last;
    ASSERT_TRUE(client.sendAll(c.frame));
    ++expectedDeaths;
    ASSERT_TRUE(pltest::pumpUntil([&] { return deaths->load() == expectedDeaths; }, kWait));
    ASSERT_TRUE(pltest::pumpUntil([&] { return server->numberOfWebSocketConnections() == 0; }, kWait));
    EXPECT_TRUE(client.sendAll(bytes({0x81, 0x01, 'x'})));  // no longer read
    // Stopping disconnects the socket, which ends in the same place: no second notice.
    ws->stop();
    flush(ws);
    flush(ws);
    EXPECT_EQ(deaths->load(), expectedDeaths);
    gRecorder->monitor.with([&] {
      EXPECT_EQ(gRecorder->closes, 1);
      EXPECT_TRUE(gRecorder->messages.empty());
    });
    gRecorder->last = nullptr;
  }
}

TEST_F(WebSocketTest, ClientsThatLeaveRightAfterTheUpgradeRequestEndTheirWebSockets) {
  // Each client sends the upgrade request and closes its side at once, or closes both sides: its
  // socket may be gone before the WebSocket takes it over, while it starts, or after it opened.
  constexpr int kClients = 50;
  auto clients = connectClients(kClients);
  for (int i = 0; i < kClients; ++i) {
    ASSERT_TRUE(clients[i]->sendAll(
        upgradeRequest(i % 3 == 2 ? "Sec-WebSocket-Key1: 1 2\r\nSec-WebSocket-Key2: 3 4\r\n"
                                  : "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")));
    if (i % 2 == 0)
      clients[i]->shutdownWrite();
    else
      clients[i]->shutdownBoth();
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return deaths->load() == kClients; }, kWait)) << deaths->load();
  ASSERT_TRUE(pltest::pumpUntil([&] { return server->numberOfWebSocketConnections() == 0; }, kWait))
      << server->numberOfWebSocketConnections();
  // Each told its delegate once, whether it had opened or not.
  auto first = gRecorder;
  first->monitor.with([&] { EXPECT_EQ(first->closes, kClients); });
  // A WebSocket whose client leaves after it opened ends the same way.
  gRecorder = std::make_shared<Recorder>();
  pltest::RawClient late;
  upgradeRFC(late);
  EXPECT_EQ(server->numberOfWebSocketConnections(), 1u);
  late.shutdownWrite();
  ASSERT_TRUE(pltest::pumpUntil([&] { return deaths->load() == kClients + 1; }, kWait));
  ASSERT_TRUE(pltest::pumpUntil([&] { return server->numberOfWebSocketConnections() == 0; }, kWait));
  gRecorder->monitor.with([&] { EXPECT_EQ(gRecorder->closes, 1); });
  first->last = nullptr;
}

TEST_F(WebSocketTest, ManyConcurrentHandshakesAllOpenAndEnd) {
  // Far more handshakes at once than the dispatch pool has threads; every one is answered, and
  // every WebSocket ends and leaves the server once its client goes.
  constexpr int kClients = 300;
  auto clients = connectClients(kClients);
  // No Origin: the answer carries the server's own port, read from the socket.
  for (auto& client : clients)
    ASSERT_TRUE(client->sendAll(upgradeRequest("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")));
  for (auto& client : clients) {
    auto r = client->readResponse(false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 101);
    EXPECT_EQ(r->header("WebSocket-Origin"), "http://localhost:" + std::to_string(server->listeningPort()));
  }
  ASSERT_TRUE(gRecorder->waitFor([&] { return gRecorder->opens == kClients; }));
  EXPECT_EQ(server->numberOfWebSocketConnections(), static_cast<std::size_t>(kClients));
  clients.clear();
  ASSERT_TRUE(pltest::pumpUntil([&] { return deaths->load() == kClients; }, kWait)) << deaths->load();
  ASSERT_TRUE(pltest::pumpUntil([&] { return server->numberOfWebSocketConnections() == 0; }, kWait));
}

TEST_F(WebSocketTest, Version76HandshakeAndLegacyFrames) {
  pltest::RawClient client;
  auto r = upgrade(client,
                   "Sec-WebSocket-Key1: 18x 6]8vM;54 *(5:  {   U1]8  z [  8\r\n"
                   "Sec-WebSocket-Key2: 1_ tx7X d  <  nw  334J702) 7]o}` 0\r\n",
                   "Tm[K T2u");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 101);
  EXPECT_EQ(r->header("Sec-WebSocket-Location"), "ws://127.0.0.1/ws");
  EXPECT_FALSE(r->header("Sec-WebSocket-Accept"));
  EXPECT_EQ(client.readExactly(16), "fQJ,fN/4F4!~K~MH");
  ASSERT_TRUE(gRecorder->waitFor([&] { return gRecorder->opens == 1; }));
  ASSERT_TRUE(client.sendAll(bytes({0x00}) + "hello" + bytes({0xFF}) + bytes({0x00, 0xFF})));
  ASSERT_TRUE(gRecorder->waitFor([&] { return gRecorder->messages.size() == 2; }));
  EXPECT_EQ(gRecorder->messages, (std::vector<std::string>{"hello", ""}));
  gRecorder->last->sendMessage("back");
  EXPECT_EQ(client.readExactly(6), bytes({0x00}) + "back" + bytes({0xFF}));

  // A message that never ends is cut off at the limit.
  ASSERT_TRUE(client.sendAll(bytes({0x00}) + std::string(WebSocket::MAX_LEGACY_MESSAGE_LENGTH + 2, 'a')));
  EXPECT_TRUE(client.seesEndOfStream());
  ASSERT_TRUE(pltest::pumpUntil([&] { return deaths->load() == 1; }, kWait));
  EXPECT_EQ(gRecorder->messages.size(), 2u);
}

TEST(WebSocketKeyTest, Version76Keys) {
  struct Case {
    std::string key;
    std::string expected;
  } cases[] = {
      {"123", bytes({0, 0, 0, 0})},
      {"1 2", bytes({0, 0, 0, 12})},
      {"18x 6]8vM;54 *(5:  {   U1]8  z [  8", bytes({0x09, 0x47, 0xFA, 0x63})},
      {"99999999999999999999999 ", bytes({0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& c : cases) EXPECT_EQ(WebSocket::processKey(c.key).toString(), c.expected) << c.key;
  EXPECT_TRUE(WebSocket::isValidWebSocketFrame(0x81));
  EXPECT_FALSE(WebSocket::isValidWebSocketFrame(0x83));
  EXPECT_FALSE(WebSocket::isValidWebSocketFrame(0x91));
}

}  // namespace
