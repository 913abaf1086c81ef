#pragma once
// The server side of one WebSocket connection, made by a connection class for an upgrade
// request: it takes the connection's socket over, answers the handshake (versions 75 and 76 and
// RFC 6455, told apart by the request's headers) and exchanges text messages. Reads, framing
// and the delegate calls run on its serial queue; sendMessage writes from the caller's thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "lib/http-server/Core/HTTPMessage.h"
#include "lib/http-server/Core/WebSocketHandle.h"
#include "lib/sockets/DispatchSocketDelegate.h"

class WebSocket;

class WebSocketDelegate {
 public:
  virtual ~WebSocketDelegate() = default;
  virtual void webSocketDidOpen(const ns::Ref<WebSocket>&) {}
  // `message` is nothing when the payload was not UTF-8.
  virtual void webSocket_didReceiveMessage(const ns::Ref<WebSocket>&,
                                           const std::optional<std::string>& message) {}
  virtual void webSocketDidClose(const ns::Ref<WebSocket>&) {}
};

class WebSocket : public WebSocketHandle, public DispatchSocketDelegate {
 public:
  // Socket tags.
  static constexpr long TAG_HTTP_REQUEST_BODY = 100;
  static constexpr long TAG_HTTP_RESPONSE_HEADERS = 200;
  static constexpr long TAG_HTTP_RESPONSE_BODY = 201;
  static constexpr long TAG_PREFIX = 300;
  static constexpr long TAG_MSG_PLUS_SUFFIX = 301;
  static constexpr long TAG_PAYLOAD_LENGTH_BYTES = 302;  // the payload itself
  static constexpr long TAG_MSG_MASKING_KEY = 303;
  static constexpr long TAG_PAYLOAD_PREFIX = 304;
  static constexpr long TAG_PAYLOAD_LENGTH = 305;
  static constexpr long TAG_PAYLOAD_LENGTH16 = 306;
  static constexpr long TAG_PAYLOAD_LENGTH64 = 307;
  static constexpr long TAG_MESSAGE = 0;
  // A version-75/76 message longer than this closes the connection.
  static constexpr std::size_t MAX_LEGACY_MESSAGE_LENGTH = 1024 * 1024;

  WebSocket(const ns::Ref<HTTPMessage>& request, const ns::Ref<DispatchSocket>& socket);
  ~WebSocket() override;
  // Nothing without a request. The socket's delegate becomes the WebSocket once it is owned.
  static ns::Ref<WebSocket> initWithRequest_socket(const ns::Ref<HTTPMessage>& request,
                                                   const ns::Ref<DispatchSocket>& socket);

  std::string className() const override { return "WebSocket"; }
  static bool isVersion76Request(const HTTPMessage& request);
  static bool isRFC6455Request(const HTTPMessage& request);

  void start() override;
  void stop() override;
  void sendMessage(const std::string& message);
  // The frame sendMessage writes for `payload`.
  ns::Data frameForMessage(const ns::Data& payload) const;

  // Read on the queue; never call from it.
  std::shared_ptr<WebSocketDelegate> delegate();
  void setDelegate(std::weak_ptr<WebSocketDelegate> delegate);
  const ns::Ref<dispatch::Queue>& websocketQueue() const { return websocketQueue_; }

  // Handshake steps.
  std::string originResponseHeaderValue();
  std::string locationResponseHeaderValue();
  std::optional<std::string> secWebSocketKeyResponseHeaderValue();
  static ns::Data processKey(const std::string& key);
  static bool isValidWebSocketFrame(std::uint8_t frame);

  // Socket delegate.
  void socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data,
                                  long tag) override;
  void socketDidDisconnect_withError(const ns::Ref<DispatchSocket>& sock,
                                     const std::optional<ns::Error>& err) override;

 protected:
  virtual void didOpen();
  virtual void didReceiveMessage(const std::optional<std::string>& message);
  // Runs its work once, however the connection ends.
  virtual void didClose();
  void readRequestBody();
  void sendResponseHeaders();
  void sendResponseBody(const ns::Data& body);

 private:
  void readPayload(std::uint64_t length);
  void processPayload(const ns::Data& payload);

  ns::Ref<dispatch::Queue> websocketQueue_;
  ns::Ref<HTTPMessage> request_;
  ns::Ref<DispatchSocket> dispatchSocket_;
  ns::Data term_;
  bool isStarted_ = false;
  bool isVersion76_ = false;
  std::weak_ptr<WebSocketDelegate> delegate_;
  bool isRFC6455_ = false;
  bool nextFrameMasked_ = false;
  bool nextFrameFinal_ = true;
  std::uint64_t nextOpCode_ = 0;
  std::optional<ns::Data> maskingKey_;
  std::uint64_t payloadLength_ = 0;
  bool closed_ = false;
  // Read from the socket once, when the WebSocket takes it over; the socket's end also sets it.
  bool socketGone_ = false;
  bool isSecure_ = false;
  std::uint16_t localPort_ = 0;
};
