#include "lib/websocket/WebSocket.h"

#include <climits>

#include "lib/http-server/Core/DataDigests.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/sockets/DispatchSocket.h"
#include "platform/core/Format.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"

namespace {
constexpr double kNoTimeout = -1;
constexpr char kAcceptGUID[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
}  // namespace

WebSocket::WebSocket(const ns::Ref<HTTPMessage>& request, const ns::Ref<DispatchSocket>& socket)
    : websocketQueue_(dispatch::queueCreate("WebSocket")),
      request_(request),
      dispatchSocket_(socket),
      term_(std::string(1, '\xFF')),
      isVersion76_(isVersion76Request(*request)),
      isRFC6455_(isRFC6455Request(*request)) {}

ns::Ref<WebSocket> WebSocket::initWithRequest_socket(const ns::Ref<HTTPMessage>& request,
                                                     const ns::Ref<DispatchSocket>& socket) {
  if (!request || !socket) return nullptr;
  auto ws = ns::make<WebSocket>(request, socket);
  // One visit to the socket's queue: take the socket over and read what the handshake needs of
  // it. A socket already gone there (its client sent the request and left) told its old delegate,
  // so the WebSocket learns it here and ends as soon as it starts.
  socket->performBlock([&] {
    socket->setDelegate_delegateQueue(ws->weakSelf<WebSocket>(), ws->websocketQueue_);
    ws->socketGone_ = socket->isDisconnected();
    ws->isSecure_ = socket->isSecure();
    ws->localPort_ = socket->localPort();
  });
  return ws;
}

WebSocket::~WebSocket() {
  if (dispatchSocket_) {
    dispatchSocket_->setDelegate_delegateQueue(ns::Weak<DispatchSocketDelegate>(), nullptr);
    dispatchSocket_->disconnect();
  }
}

bool WebSocket::isVersion76Request(const HTTPMessage& request) {
  return request.headerField("Sec-WebSocket-Key1") && request.headerField("Sec-WebSocket-Key2");
}

bool WebSocket::isRFC6455Request(const HTTPMessage& request) {
  return request.headerField("Sec-WebSocket-Key").has_value();
}

void WebSocket::start() {
  auto me = self<WebSocket>();
  dispatch::async(websocketQueue_, [me] {
    if (me->isStarted_) return;
    me->isStarted_ = true;
    if (me->socketGone_) {
      me->didClose();
    } else if (me->isVersion76_) {
      me->readRequestBody();
    } else {
      me->sendResponseHeaders();
      me->didOpen();
    }
  });
}

void WebSocket::stop() {
  auto me = self<WebSocket>();
  dispatch::async(websocketQueue_, [me] { me->dispatchSocket_->disconnect(); });
}

std::shared_ptr<WebSocketDelegate> WebSocket::delegate() {
  std::shared_ptr<WebSocketDelegate> result;
  dispatch::sync(websocketQueue_, [&] { result = delegate_.lock(); });
  return result;
}

void WebSocket::setDelegate(std::weak_ptr<WebSocketDelegate> delegate) {
  auto me = self<WebSocket>();
  dispatch::async(websocketQueue_, [me, delegate = std::move(delegate)] { me->delegate_ = delegate; });
}

// Handshake -----------------------------------------------------------------------------------

void WebSocket::readRequestBody() {
  dispatchSocket_->readDataToLength_withTimeout_tag(8, kNoTimeout, TAG_HTTP_REQUEST_BODY);
}

std::string WebSocket::originResponseHeaderValue() {
  if (auto origin = request_->headerField("Origin")) return *origin;
  return ns::format("http://localhost:%hu", localPort_);
}

std::string WebSocket::locationResponseHeaderValue() {
  std::string scheme = isSecure_ ? "wss" : "ws";
  std::string path = request_->url() ? request_->url()->relativeString() : "";
  if (auto host = request_->headerField("Host")) return scheme + "://" + *host + path;
  return ns::format("%@://localhost:%hu%@", scheme, localPort_, path);
}

std::optional<std::string> WebSocket::secWebSocketKeyResponseHeaderValue() {
  auto key = request_->headerField("Sec-WebSocket-Key");
  if (!key) return std::nullopt;
  return DataDigests::base64Encoded(DataDigests::sha1Digest(ns::Data(*key + kAcceptGUID)));
}

void WebSocket::sendResponseHeaders() {
  auto response = HTTPMessage::initResponseWithStatusCode_description_version(
      101, "Web Socket Protocol Handshake", HTTPVersion1_1);
  response->setHeaderField_value("Upgrade", "WebSocket");
  response->setHeaderField_value("Connection", "Upgrade");
  response->setHeaderField_value(isVersion76_ ? "Sec-WebSocket-Origin" : "WebSocket-Origin",
                                 originResponseHeaderValue());
  response->setHeaderField_value(isVersion76_ ? "Sec-WebSocket-Location" : "WebSocket-Location",
                                 locationResponseHeaderValue());
  if (auto accept = secWebSocketKeyResponseHeaderValue())
    response->setHeaderField_value("Sec-WebSocket-Accept", *accept);
  dispatchSocket_->writeData_withTimeout_tag(response->messageData(), kNoTimeout, TAG_HTTP_RESPONSE_HEADERS);
}

ns::Data WebSocket::processKey(const std::string& key) {
  std::string digits;
  std::uint64_t spaces = 0;
  for (char c : key) {
    if (c >= '0' && c <= '9') digits += c;
    if (c == ' ') ++spaces;
  }
  std::int64_t number = 0;
  for (char c : digits) {
    if (number > (LLONG_MAX - (c - '0')) / 10) {
      number = LLONG_MAX;
      break;
    }
    number = number * 10 + (c - '0');
  }
  std::uint64_t result = spaces ? static_cast<std::uint64_t>(number) / spaces : 0;
  std::uint8_t bytes[4] = {static_cast<std::uint8_t>(result >> 24), static_cast<std::uint8_t>(result >> 16),
                           static_cast<std::uint8_t>(result >> 8), static_cast<std::uint8_t>(result)};
  return ns::Data(bytes, 4);
}

void WebSocket::sendResponseBody(const ns::Data& body) {
  ns::MutableData challenge;
  challenge.appendData(processKey(request_->headerField("Sec-WebSocket-Key1").value_or("")));
  challenge.appendData(processKey(request_->headerField("Sec-WebSocket-Key2").value_or("")));
  challenge.appendData(body);
  ns::Data md5 = DataDigests::md5Digest(ns::Data(challenge.bytes(), challenge.length()));
  dispatchSocket_->writeData_withTimeout_tag(md5, kNoTimeout, TAG_HTTP_RESPONSE_BODY);
}

bool WebSocket::isValidWebSocketFrame(std::uint8_t frame) {
  if (frame & 0x70) return false;
  switch (frame & 0x0F) {
    case 0:
    case 1:
    case 2:
    case 8:
    case 9:
    case 10:
      return true;
    default:
      return false;
  }
}

// Sending -------------------------------------------------------------------------------------

ns::Data WebSocket::frameForMessage(const ns::Data& payload) const {
  const std::uint64_t length = payload.length();
  ns::MutableData frame;
  if (isRFC6455_) {
    std::uint8_t head[10] = {0x81};
    std::size_t headLength;
    if (length <= 125) {
      head[1] = static_cast<std::uint8_t>(length);
      headLength = 2;
    } else if (length <= 0xFFFF) {
      head[1] = 126;
      head[2] = static_cast<std::uint8_t>(length >> 8);
      head[3] = static_cast<std::uint8_t>(length);
      headLength = 4;
    } else {
      // The whole 64-bit length, so that messages of 4 GiB and more are framed correctly.
      head[1] = 127;
      for (int i = 0; i < 8; ++i) head[2 + i] = static_cast<std::uint8_t>(length >> (56 - 8 * i));
      headLength = 10;
    }
    frame.appendBytes_length(head, headLength);
    frame.appendData(payload);
  } else {
    std::uint8_t zero = 0x00;
    frame.appendBytes_length(&zero, 1);
    frame.appendData(payload);
    frame.appendData(term_);
  }
  return ns::Data(frame.bytes(), frame.length());
}

void WebSocket::sendMessage(const std::string& message) {
  dispatchSocket_->writeData_withTimeout_tag(frameForMessage(ns::Data(message)), kNoTimeout, TAG_MESSAGE);
}

// Events --------------------------------------------------------------------------------------

void WebSocket::didOpen() {
  dispatchSocket_->readDataToLength_withTimeout_tag(1, kNoTimeout,
                                                    isRFC6455_ ? TAG_PAYLOAD_PREFIX : TAG_PREFIX);
  if (auto d = delegate_.lock()) d->webSocketDidOpen(self<WebSocket>());
}

void WebSocket::didReceiveMessage(const std::optional<std::string>& message) {
  if (auto d = delegate_.lock()) d->webSocket_didReceiveMessage(self<WebSocket>(), message);
}

void WebSocket::didClose() {
  // A refused frame and the disconnection that follows both end here; tell everyone once.
  if (closed_) return;
  closed_ = true;
  auto me = self<WebSocket>();
  if (auto d = delegate_.lock()) d->webSocketDidClose(me);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(WebSocketDidDieNotification, me);
}

// Receiving -----------------------------------------------------------------------------------

namespace {
// Text frames must be valid UTF-8: overlong forms, surrogates and code points beyond U+10FFFF
// fail the connection like any other invalid sequence.
std::optional<std::string> utf8Text(const std::uint8_t* bytes, std::size_t length) {
  std::string text(reinterpret_cast<const char*>(bytes), length);
  if (!ns::str::isValidUtf8(text)) return std::nullopt;
  return text;
}
}  // namespace

void WebSocket::readPayload(std::uint64_t length) {
  payloadLength_ = length;
  if (nextFrameMasked_) dispatchSocket_->readDataToLength_withTimeout_tag(4, kNoTimeout, TAG_MSG_MASKING_KEY);
  // A read of no bytes is never answered: an empty payload is handled at once (or once its
  // masking key is in).
  if (length > 0)
    dispatchSocket_->readDataToLength_withTimeout_tag(static_cast<std::size_t>(length), kNoTimeout,
                                                      TAG_PAYLOAD_LENGTH_BYTES);
  else if (!nextFrameMasked_)
    processPayload(ns::Data());
}

void WebSocket::processPayload(const ns::Data& payload) {
  std::vector<std::uint8_t> bytes(payload.begin(), payload.end());
  if (nextFrameMasked_ && maskingKey_ && maskingKey_->length() == 4)
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= (*maskingKey_)[i % 4];
  // Only a text message whole in one frame is taken. The first piece of a fragmented one is no
  // message (its rest ends the connection anyway): it must not reach the delegate as if whole.
  if (nextOpCode_ != 1 || !nextFrameFinal_) {
    didClose();
    return;
  }
  didReceiveMessage(utf8Text(bytes.data(), bytes.size()));
  if (!closed_) dispatchSocket_->readDataToLength_withTimeout_tag(1, kNoTimeout, TAG_PAYLOAD_PREFIX);
}

void WebSocket::socket_didReadData_withTag(const ns::Ref<DispatchSocket>&, const ns::Data& data, long tag) {
  switch (tag) {
    case TAG_HTTP_REQUEST_BODY:
      sendResponseHeaders();
      sendResponseBody(data);
      didOpen();
      return;
    case TAG_PREFIX:
      if (data.length() < 1 || data[0] >= 0x80) {
        didClose();
        return;
      }
      // One byte more than the limit, so that a message of exactly the limit still fits with
      // its terminator; anything longer ends the connection with a read error.
      dispatchSocket_->readDataToData_withTimeout_maxLength_tag(
          term_, kNoTimeout, MAX_LEGACY_MESSAGE_LENGTH + 1, TAG_MSG_PLUS_SUFFIX);
      return;
    case TAG_PAYLOAD_PREFIX:
      if (data.length() < 1 || !isValidWebSocketFrame(data[0])) {
        didClose();
        return;
      }
      nextOpCode_ = data[0] & 0x0F;
      nextFrameFinal_ = (data[0] & 0x80) != 0;
      dispatchSocket_->readDataToLength_withTimeout_tag(1, kNoTimeout, TAG_PAYLOAD_LENGTH);
      return;
    case TAG_PAYLOAD_LENGTH: {
      std::uint8_t b = data.length() ? data[0] : 0;
      nextFrameMasked_ = (b & 0x80) != 0;
      maskingKey_.reset();
      std::uint8_t length = b & 0x7F;
      if (length <= 125)
        readPayload(length);
      else if (length == 126)
        dispatchSocket_->readDataToLength_withTimeout_tag(2, kNoTimeout, TAG_PAYLOAD_LENGTH16);
      else
        dispatchSocket_->readDataToLength_withTimeout_tag(8, kNoTimeout, TAG_PAYLOAD_LENGTH64);
      return;
    }
    case TAG_PAYLOAD_LENGTH16:
      readPayload(data.length() == 2 ? (static_cast<std::uint64_t>(data[0]) << 8) | data[1] : 0);
      return;
    case TAG_PAYLOAD_LENGTH64:
      didClose();
      return;
    case TAG_MSG_MASKING_KEY:
      maskingKey_ = data;
      if (payloadLength_ == 0) processPayload(ns::Data());
      return;
    case TAG_PAYLOAD_LENGTH_BYTES:
      processPayload(data);
      return;
    default: {
      // The legacy message and its 0xFF terminator.
      std::size_t length = data.length() ? data.length() - 1 : 0;
      didReceiveMessage(utf8Text(data.bytes(), length));
      if (!closed_) dispatchSocket_->readDataToLength_withTimeout_tag(1, kNoTimeout, TAG_PREFIX);
      return;
    }
  }
}

void WebSocket::socketDidDisconnect_withError(const ns::Ref<DispatchSocket>&,
                                              const std::optional<ns::Error>&) {
  // Before the start the server may not list this WebSocket yet; the start ends it instead.
  socketGone_ = true;
  if (isStarted_) didClose();
}
