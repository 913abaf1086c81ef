#include "lib/http-server/Core/HTTPConnection.h"

#include <cctype>

#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/http-server/Core/NumberParsing.h"
#include "lib/http-server/Core/WebSocketHandle.h"
#include "lib/sockets/DispatchSocket.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/HTTPHeaderFields.h"

namespace {

constexpr char kLogName[] = "HTTPConnection";

// Content-Length as a decimal number and nothing else. A sign is refused ("-1" would wrap to
// the value that marks a chunked body), and so is anything after the digits: "0, 5" holds two
// lengths, and reading only the first would take the body for the next request.
bool parseContentLength(const std::string& value, std::uint64_t* out) {
  std::size_t i = 0;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  std::size_t end = value.size();
  while (end > i && std::isspace(static_cast<unsigned char>(value[end - 1]))) --end;
  if (i == end) return false;
  for (std::size_t k = i; k < end; ++k)
    if (!std::isdigit(static_cast<unsigned char>(value[k]))) return false;
  return NumberParsing::parseString_intoUInt64(value.substr(i, end - i), out);
}

// A chunk-size line: hexadecimal digits after optional white space and "0x"; extensions after
// the digits are ignored. A sign is refused, as is a value beyond 64 bits.
bool parseChunkSize(const ns::Data& line, std::uint64_t* out) {
  if (!ns::str::isValidUtf8(line.view())) return false;
  std::string_view s = line.view();
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) return false;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && i + 2 < s.size() &&
      std::isxdigit(static_cast<unsigned char>(s[i + 2])))
    i += 2;
  std::uint64_t value = 0;
  bool any = false;
  for (; i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])); ++i) {
    if (value >> 60) return false;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
    value = value * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    any = true;
  }
  if (!any) return false;
  *out = value;
  return true;
}

}  // namespace

HTTPConnection::HTTPConnection(ns::Ref<DispatchSocket> socket, ns::Ref<HTTPConfig> config)
    : dispatchSocket_(std::move(socket)), config_(std::move(config)) {
  connectionQueue_ = config_ && config_->queue() ? config_->queue() : dispatch::queueCreate("HTTPConnection");
  request_ = HTTPMessage::initEmptyRequest();
}

void HTTPConnection::assertOnConnectionQueue() const {
  DISPATCH_DEBUG_ASSERT_OWNER(dispatch::isCurrentQueue(connectionQueue_), "HTTPConnection",
                              connectionQueue_->label());
}

void HTTPConnection::takeOverSocket() {
  // Queued, not waited for: the socket may work on the connection queue itself, which may be busy
  // (and the server's queue, which accepts, must never wait for it). Everything the connection
  // later asks of the socket is queued behind this.
  if (dispatchSocket_)
    dispatchSocket_->setDelegate_delegateQueue(weakSelf<HTTPConnection>(), connectionQueue_);
}

HTTPConnection::~HTTPConnection() {
  if (dispatchSocket_) {
    dispatchSocket_->setDelegate_delegateQueue({}, nullptr);
    dispatchSocket_->disconnect();
  }
  if (httpResponse_) httpResponse_->connectionDidClose();
}

void HTTPConnection::start() {
  auto me = self<HTTPConnection>();
  dispatch::async(connectionQueue_, [me] {
    if (me->started_) return;
    me->started_ = true;
    me->startConnection();
  });
}

void HTTPConnection::stop() {
  auto me = self<HTTPConnection>();
  dispatch::async(connectionQueue_, [me] {
    if (me->dispatchSocket_) me->dispatchSocket_->disconnect();
  });
}

void HTTPConnection::startConnection() {
  assertOnConnectionQueue();
  if (isSecureServer()) {
    ns::Array certificates = sslIdentityAndCertificates();
    if (!certificates.empty() && dispatchSocket_) {
      // No security level: the socket refuses that key, and TLS negotiates its version anyway.
      ns::Dictionary settings{{kCFStreamSSLIsServer, true},
                              {kCFStreamSSLCertificates, ns::Value(std::move(certificates))}};
      dispatchSocket_->startTLS(ns::Value(std::move(settings)));
    }
  }
  startReadingRequest();
}

void HTTPConnection::startReadingRequest() {
  assertOnConnectionQueue();
  readLine(HTTP_REQUEST_HEADER, TIMEOUT_READ_FIRST_HEADER_LINE, MAX_HEADER_LINE_LENGTH);
}

void HTTPConnection::readLine(long tag, double timeout, std::size_t maxLength) {
  assertOnConnectionQueue();
  if (dispatchSocket_)
    dispatchSocket_->readDataToData_withTimeout_maxLength_tag(DispatchSocket::CRLFData(), timeout, maxLength,
                                                              tag);
}

void HTTPConnection::queueRead(long tag, std::uint64_t length) {
  assertOnConnectionQueue();
  if (dispatchSocket_) dispatchSocket_->readDataToLength_withTimeout_tag(length, TIMEOUT_NONE, tag);
}

std::optional<std::string> HTTPConnection::requestURI() const {
  assertOnConnectionQueue();
  if (!request_ || !request_->url()) return std::nullopt;
  return request_->url()->relativeString();
}

void HTTPConnection::socketDidDisconnect_withError(const ns::Ref<DispatchSocket>&,
                                                   const std::optional<ns::Error>&) {
  assertOnConnectionQueue();
  dispatchSocket_ = nullptr;
  die();
}

void HTTPConnection::die() {
  assertOnConnectionQueue();
  if (httpResponse_) httpResponse_->connectionDidClose();
  httpResponse_ = nullptr;
  // The caller's task holds this connection, so the server dropping it here does not end it.
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(HTTPConnectionDidDieNotification,
                                                                       self<HTTPConnection>());
}

// Reading ------------------------------------------------------------------------------------

void HTTPConnection::socket_didReadData_withTag(const ns::Ref<DispatchSocket>&, const ns::Data& data,
                                                long tag) {
  assertOnConnectionQueue();
  switch (tag) {
    case HTTP_REQUEST_HEADER:
      onRequestHeaderLine(data);
      break;
    case HTTP_REQUEST_BODY: {
      requestContentLengthReceived_ += data.length();
      processBodyData(data);
      if (requestContentLengthReceived_ < requestContentLength_) {
        queueRead(HTTP_REQUEST_BODY,
                  std::min(requestContentLength_ - requestContentLengthReceived_, POST_CHUNKSIZE));
      } else {
        finishBody();
        replyToHTTPRequest();
      }
      break;
    }
    case HTTP_REQUEST_CHUNK_SIZE:
      onChunkSizeLine(data);
      break;
    case HTTP_REQUEST_CHUNK_DATA: {
      requestContentLengthReceived_ += data.length();
      requestChunkSizeReceived_ += data.length();
      processBodyData(data);
      if (requestChunkSizeReceived_ < requestChunkSize_)
        queueRead(HTTP_REQUEST_CHUNK_DATA,
                  std::min(requestChunkSize_ - requestChunkSizeReceived_, POST_CHUNKSIZE));
      else
        queueRead(HTTP_REQUEST_CHUNK_TRAILER, 2);
      break;
    }
    case HTTP_REQUEST_CHUNK_TRAILER:
      if (data.view() != "\r\n") {
        HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: Method expects chunk trailer, but is missing",
                      kLogName, this);
        handleInvalidRequest(data);
        return;
      }
      readLine(HTTP_REQUEST_CHUNK_SIZE, TIMEOUT_NONE, MAX_CHUNK_LINE_LENGTH);
      break;
    case HTTP_REQUEST_CHUNK_FOOTER:
      if (++numHeaderLines_ > MAX_HEADER_LINES) {
        if (dispatchSocket_) dispatchSocket_->disconnect();
        return;
      }
      if (data.length() > 2) {
        readLine(HTTP_REQUEST_CHUNK_FOOTER, TIMEOUT_NONE, MAX_HEADER_LINE_LENGTH);
      } else {
        finishBody();
        replyToHTTPRequest();
      }
      break;
    default:
      break;
  }
}

void HTTPConnection::onRequestHeaderLine(const ns::Data& data) {
  assertOnConnectionQueue();
  if (!request_->appendData(data)) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: Malformed request", kLogName, this);
    handleInvalidRequest(data);
    return;
  }
  if (!request_->isHeaderComplete()) {
    if (++numHeaderLines_ > MAX_HEADER_LINES) {
      // Too many lines: drop the connection without an answer.
      if (dispatchSocket_) dispatchSocket_->disconnect();
      return;
    }
    readLine(HTTP_REQUEST_HEADER, TIMEOUT_READ_FIRST_HEADER_LINE, MAX_HEADER_LINE_LENGTH);
    return;
  }

  std::string method = request_->method().value_or("");
  std::string uri = requestURI().value_or("");
  auto transferEncoding = request_->headerField("Transfer-Encoding");
  auto contentLength = request_->headerField("Content-Length");
  bool expectsUpload = expectsRequestBodyFromMethod_atPath(method, uri);

  if (expectsUpload) {
    if (transferEncoding && ns::headerNameEquals(*transferEncoding, "Chunked")) {
      requestContentLength_ = CHUNKED_BODY;
    } else if (!contentLength) {
      HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION,
                    "%@[%p]: Method expects request body, but had no specified Content-Length", kLogName,
                    this);
      handleInvalidRequest(ns::Data());
      return;
    } else if (!parseContentLength(*contentLength, &requestContentLength_)) {
      HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION,
                    "%@[%p]: Unable to parse Content-Length header into a valid number", kLogName, this);
      handleInvalidRequest(ns::Data());
      return;
    }
  } else {
    if (contentLength) {
      std::uint64_t length = 0;
      if (!parseContentLength(*contentLength, &length)) {
        HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION,
                      "%@[%p]: Unable to parse Content-Length header into a valid number", kLogName, this);
        handleInvalidRequest(ns::Data());
        return;
      }
      if (length > 0) {
        HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION,
                      "%@[%p]: Method not expecting request body had non-zero Content-Length", kLogName,
                      this);
        handleInvalidRequest(ns::Data());
        return;
      }
    }
    requestContentLength_ = 0;
    requestContentLengthReceived_ = 0;
  }

  // Length problems are answered before an unsupported method.
  if (!supportsMethod_atPath(method, uri)) {
    handleUnknownMethod(method);
    return;
  }

  if (expectsUpload) {
    requestContentLengthReceived_ = 0;
    prepareForBodyWithSize(requestContentLength_);
    if (requestContentLength_ == 0) {
      finishBody();
      replyToHTTPRequest();
    } else if (requestContentLength_ == CHUNKED_BODY) {
      readLine(HTTP_REQUEST_CHUNK_SIZE, TIMEOUT_NONE, MAX_CHUNK_LINE_LENGTH);
    } else {
      queueRead(HTTP_REQUEST_BODY, std::min(requestContentLength_, POST_CHUNKSIZE));
    }
  } else {
    replyToHTTPRequest();
  }
}

void HTTPConnection::onChunkSizeLine(const ns::Data& data) {
  assertOnConnectionQueue();
  std::uint64_t size = 0;
  if (!parseChunkSize(data, &size)) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: Method expects chunk size, but received something else",
                  kLogName, this);
    handleInvalidRequest(data);
    return;
  }
  requestChunkSize_ = size;
  requestChunkSizeReceived_ = 0;
  if (size > 0)
    queueRead(HTTP_REQUEST_CHUNK_DATA, std::min(size, POST_CHUNKSIZE));
  else
    readLine(HTTP_REQUEST_CHUNK_FOOTER, TIMEOUT_NONE, MAX_HEADER_LINE_LENGTH);
}

// Routing ------------------------------------------------------------------------------------

void HTTPConnection::replyToHTTPRequest() {
  assertOnConnectionQueue();
  std::string version = request_->version();
  if (version != HTTPVersion1_1 && version != HTTPVersion1_0) {
    handleVersionNotSupported(version);
    return;
  }
  std::string uri = requestURI().value_or("");

  if (WebSocketHandle::isWebSocketRequest(*request_)) {
    auto ws = webSocketForURI(uri);
    if (!ws) {
      handleResourceNotFound();
      return;
    }
    // Listed before it starts: a WebSocket whose client has already gone ends at once, and the
    // server must hold it by then to hear that and drop it.
    if (auto server = config_->server()) server->addWebSocket(ws);
    ws->start();
    if (dispatchSocket_ && dispatchSocket_->delegate().get() == static_cast<DispatchSocketDelegate*>(this)) {
      HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: WebSocket forgot to set itself as socket delegate",
                    kLogName, this);
      dispatchSocket_->disconnect();
    } else {
      // The socket lives on in the WebSocket.
      dispatchSocket_ = nullptr;
      die();
    }
    return;
  }

  if (isPasswordProtected(uri) && !isAuthenticated()) {
    handleAuthenticationFailed();
    return;
  }

  httpResponse_ = httpResponseForMethod_URI(request_->method().value_or(""), uri);
  if (!httpResponse_) {
    handleResourceNotFound();
    return;
  }
  sendResponseHeadersAndBody();
}

// Hook defaults ------------------------------------------------------------------------------

bool HTTPConnection::supportsMethod_atPath(const std::string& method, const std::string&) {
  return method == "GET" || method == "HEAD";
}

bool HTTPConnection::expectsRequestBodyFromMethod_atPath(const std::string& method, const std::string&) {
  return method == "POST" || method == "PUT";
}

bool HTTPConnection::isSecureServer() {
  return false;
}
ns::Array HTTPConnection::sslIdentityAndCertificates() {
  return {};
}
bool HTTPConnection::isPasswordProtected(const std::string&) {
  return false;
}
bool HTTPConnection::useDigestAccessAuthentication() {
  return true;
}
std::string HTTPConnection::realm() {
  return "Pelorin";
}
std::optional<std::string> HTTPConnection::passwordForUser(const std::string&) {
  return std::nullopt;
}
ns::Ref<WebSocketHandle> HTTPConnection::webSocketForURI(const std::string&) {
  return nullptr;
}
void HTTPConnection::prepareForBodyWithSize(std::uint64_t) {}
void HTTPConnection::processBodyData(const ns::Data&) {}
void HTTPConnection::finishBody() {}

// Error responses ----------------------------------------------------------------------------

void HTTPConnection::writeErrorResponse(const ns::Ref<HTTPMessage>& response, long tag) {
  assertOnConnectionQueue();
  ns::Data data = preprocessErrorResponse(response);
  writeFinal(data, TIMEOUT_WRITE_ERROR, tag, false);
}

void HTTPConnection::handleVersionNotSupported(const std::string& version) {
  assertOnConnectionQueue();
  HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "HTTP Server: Error 505 - Version Not Supported: %@ (%@)", version,
                requestURI().value_or(""));
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(505, std::nullopt, HTTPVersion1_1);
  response->setHeaderField_value("Content-Length", "0");
  writeErrorResponse(response, HTTP_RESPONSE);
}

void HTTPConnection::addBasicAuthChallenge(const ns::Ref<HTTPMessage>& response) {
  response->setHeaderField_value("WWW-Authenticate", ns::format("Basic realm=\"%@\"", realm()));
}

void HTTPConnection::handleAuthenticationFailed() {
  assertOnConnectionQueue();
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(401, std::nullopt, HTTPVersion1_1);
  response->setHeaderField_value("Content-Length", "0");
  if (useDigestAccessAuthentication())
    addDigestAuthChallenge(response);
  else
    addBasicAuthChallenge(response);
  writeErrorResponse(response, HTTP_RESPONSE);
}

void HTTPConnection::handleInvalidRequest(const ns::Data&) {
  assertOnConnectionQueue();
  HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "HTTP Server: Error 400 - Bad Request (%@)",
                requestURI().value_or(""));
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(400, std::nullopt, HTTPVersion1_1);
  response->setHeaderField_value("Content-Length", "0");
  response->setHeaderField_value("Connection", "close");
  writeErrorResponse(response, HTTP_FINAL_RESPONSE);
}

void HTTPConnection::handleUnknownMethod(const std::string& method) {
  assertOnConnectionQueue();
  HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "HTTP Server: Error 405 - Method Not Allowed: %@ (%@)", method,
                requestURI().value_or(""));
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(405, std::nullopt, HTTPVersion1_1);
  response->setHeaderField_value("Content-Length", "0");
  response->setHeaderField_value("Connection", "close");
  writeErrorResponse(response, HTTP_FINAL_RESPONSE);
}

void HTTPConnection::handleResourceNotFound() {
  assertOnConnectionQueue();
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(404, std::nullopt, HTTPVersion1_1);
  response->setHeaderField_value("Content-Length", "0");
  writeErrorResponse(response, HTTP_RESPONSE);
}
