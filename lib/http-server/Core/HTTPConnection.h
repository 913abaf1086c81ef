#pragma once
// One accepted TCP connection of the embedded server: reads requests one after the other
// (keep-alive), checks them, reads a body when the method has one, routes each request to a
// response object and writes the response. Everything runs on the connection queue, which all
// connections of one server share (Debug builds check it at the entry of every method that
// touches the connection's state); responses call responseHasAvailableData and
// responseDidAbort from any thread.
//
// Built for subclassing: override the hooks (method support, body handling, routing, error
// responses, keep-alive, authentication) and make the server create the subclass with
// HTTPServer::setConnectionClass<T>(). Connections are always made through
// initWithDispatchSocket_configuration, which takes the socket over once the connection is
// owned by a Ref.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "lib/http-server/Core/ByteRange.h"
#include "lib/http-server/Core/HTTPConfig.h"
#include "lib/http-server/Core/HTTPMessage.h"
#include "lib/http-server/Core/HTTPResponse.h"
#include "lib/sockets/DispatchSocketDelegate.h"
#include "platform/core/Date.h"
#include "platform/core/Value.h"

class WebSocketHandle;

class HTTPConnection : public ns::Object, public DispatchSocketDelegate {
 public:
  // Read tags.
  static constexpr long HTTP_REQUEST_HEADER = 10;
  static constexpr long HTTP_REQUEST_BODY = 11;
  static constexpr long HTTP_REQUEST_CHUNK_SIZE = 12;
  static constexpr long HTTP_REQUEST_CHUNK_DATA = 13;
  static constexpr long HTTP_REQUEST_CHUNK_TRAILER = 14;
  static constexpr long HTTP_REQUEST_CHUNK_FOOTER = 15;
  // Write tags.
  static constexpr long HTTP_PARTIAL_RESPONSE_HEADER = 21;
  static constexpr long HTTP_PARTIAL_RESPONSE_BODY = 22;
  static constexpr long HTTP_CHUNKED_RESPONSE_HEADER = 30;
  static constexpr long HTTP_CHUNKED_RESPONSE_BODY = 31;
  static constexpr long HTTP_CHUNKED_RESPONSE_FOOTER = 32;
  static constexpr long HTTP_PARTIAL_RANGE_RESPONSE_BODY = 40;
  static constexpr long HTTP_PARTIAL_RANGES_RESPONSE_BODY = 50;
  static constexpr long HTTP_RESPONSE = 90;
  static constexpr long HTTP_FINAL_RESPONSE = 91;
  // Limits.
  static constexpr std::size_t MAX_HEADER_LINE_LENGTH = 8190;
  static constexpr unsigned MAX_HEADER_LINES = 100;
  static constexpr std::size_t MAX_CHUNK_LINE_LENGTH = 200;
  // The most ranges one Range header may name; more are refused as a whole.
  static constexpr std::size_t MAX_RANGES = 100;
  static constexpr std::uint64_t POST_CHUNKSIZE = 131072;
  static constexpr std::uint64_t READ_CHUNKSIZE = 524288;
  static constexpr std::uint64_t MAX_WRITE_QUEUE_SIZE = 524288;
  static constexpr double TIMEOUT_READ_FIRST_HEADER_LINE = 30;
  static constexpr double TIMEOUT_WRITE_HEAD = 30;
  static constexpr double TIMEOUT_WRITE_ERROR = 30;
  static constexpr double TIMEOUT_NONE = -1;
  static constexpr std::uint64_t CHUNKED_BODY = UINT64_MAX;

  // Use initWithDispatchSocket_configuration; the constructor alone does not take the socket.
  HTTPConnection(ns::Ref<DispatchSocket> socket, ns::Ref<HTTPConfig> config);
  ~HTTPConnection() override;

  template <class T = HTTPConnection>
  static ns::Ref<T> initWithDispatchSocket_configuration(const ns::Ref<DispatchSocket>& socket,
                                                         const ns::Ref<HTTPConfig>& config) {
    auto connection = ns::make<T>(socket, config);
    connection->takeOverSocket();
    return connection;
  }

  std::string className() const override { return "HTTPConnection"; }

  // Life.
  void start();
  void stop();
  // The request's URL as sent (path and query); nothing when there is no request.
  std::optional<std::string> requestURI() const;

  // Hooks.
  virtual bool supportsMethod_atPath(const std::string& method, const std::string& path);
  virtual bool expectsRequestBodyFromMethod_atPath(const std::string& method, const std::string& path);
  virtual bool isSecureServer();
  // The identity (a sec::Identity) and further certificates (sec::Certificate) a secure
  // connection presents, as object references; none by default.
  virtual ns::Array sslIdentityAndCertificates();
  virtual bool isPasswordProtected(const std::string& path);
  virtual bool useDigestAccessAuthentication();
  virtual std::string realm();
  virtual std::optional<std::string> passwordForUser(const std::string& username);
  // Whether the current request carries valid credentials for its path: Digest (qop "auth",
  // nonces issued here, replay refused by nonce count) or Basic, as useDigestAccessAuthentication
  // says.
  virtual bool isAuthenticated();
  virtual ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string& method, const std::string& path);
  virtual ns::Ref<WebSocketHandle> webSocketForURI(const std::string& path);
  virtual void prepareForBodyWithSize(std::uint64_t contentLength);
  virtual void processBodyData(const ns::Data& postDataChunk);
  virtual void finishBody();
  virtual void handleVersionNotSupported(const std::string& version);
  virtual void handleAuthenticationFailed();
  virtual void handleInvalidRequest(const ns::Data& data);
  virtual void handleUnknownMethod(const std::string& method);
  virtual void handleResourceNotFound();
  virtual ns::Data preprocessResponse(const ns::Ref<HTTPMessage>& response);
  virtual ns::Data preprocessErrorResponse(const ns::Ref<HTTPMessage>& response);
  virtual void finishResponse();
  virtual bool shouldDie();
  virtual void die();
  virtual void addBasicAuthChallenge(const ns::Ref<HTTPMessage>& response);
  virtual void addDigestAuthChallenge(const ns::Ref<HTTPMessage>& response);

  // Digest nonces, one registry for the process: a new nonce is known for NONCE_LIFETIME
  // seconds; at most MAX_RECENT_NONCES are kept, the oldest dropped first.
  static constexpr double NONCE_LIFETIME = 300;
  static constexpr std::size_t MAX_RECENT_NONCES = 10000;
  static std::string generateNonce();
  static bool hasRecentNonce(const std::string& nonce);

  // Document root and query parameters.
  std::optional<std::string> filePathForURI(const std::string& path) {
    return filePathForURI_allowDirectory(path, false);
  }
  virtual std::optional<std::string> filePathForURI_allowDirectory(const std::string& path,
                                                                   bool allowDirectory);
  virtual std::vector<std::string> directoryIndexFileNames();
  std::optional<ns::Dictionary> parseGetParams() const;
  static ns::Dictionary parseParams(const std::string& query);

  // Called by responses, from any thread; they only queue work on the connection queue.
  virtual void responseHasAvailableData(const ns::Ref<HTTPResponse>& sender);
  virtual void responseDidAbort(const ns::Ref<HTTPResponse>& sender);

  // Ranges: on success ranges() holds them sorted, on failure none. Overlapping ranges, an empty
  // one or more than MAX_RANGES refuse the whole header.
  bool parseRangeRequest_withContentLength(const std::string& rangeHeader, std::uint64_t contentLength);
  const std::vector<ByteRange>& ranges() const { return ranges_; }

  // Wire helpers.
  static std::string dateAsString(const ns::Date& date);
  static ns::Data chunkedTransferSizeLineForLength(std::uint64_t length);
  static ns::Data chunkedTransferFooter();
  std::uint64_t writeQueueSize() const;

  // Socket delegate.
  void socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data,
                                  long tag) override;
  void socket_didWriteDataWithTag(const ns::Ref<DispatchSocket>& sock, long tag) override;
  void socketDidDisconnect_withError(const ns::Ref<DispatchSocket>& sock,
                                     const std::optional<ns::Error>& err) override;

  // For subclasses.
  const ns::Ref<HTTPConfig>& config() const { return config_; }
  const ns::Ref<dispatch::Queue>& connectionQueue() const { return connectionQueue_; }
  const ns::Ref<HTTPMessage>& request() const { return request_; }
  const ns::Ref<DispatchSocket>& dispatchSocket() const { return dispatchSocket_; }
  const ns::Ref<HTTPResponse>& httpResponse() const { return httpResponse_; }

 protected:
  virtual void startConnection();
  void startReadingRequest();
  void replyToHTTPRequest();
  void sendResponseHeadersAndBody();
  ns::Ref<HTTPMessage> newUniRangeResponse(std::uint64_t contentLength);
  ns::Ref<HTTPMessage> newMultiRangeResponse(std::uint64_t contentLength);
  void continueSendingStandardResponseBody();
  void continueSendingSingleRangeResponseBody();
  void continueSendingMultiRangeResponseBody();
  void writeErrorResponse(const ns::Ref<HTTPMessage>& response, long tag);

 private:
  // Debug builds: aborts unless called on the connection queue.
  void assertOnConnectionQueue() const;
  void takeOverSocket();
  void onRequestHeaderLine(const ns::Data& data);
  void onChunkSizeLine(const ns::Data& data);
  void queueRead(long tag, std::uint64_t length);
  void readLine(long tag, double timeout, std::size_t maxLength);
  // A piece of the body: bytes, or a range of the response's file that the socket sends itself.
  struct BodyPiece {
    std::optional<ns::Data> data;
    std::optional<DispatchFileRange> file;
    std::uint64_t length() const { return file ? file->length : data ? data->length() : 0; }
    bool empty() const { return length() == 0; }
  };
  // The next piece of at most `length` bytes: a file range when the response offers one.
  BodyPiece readBodyPiece(std::uint64_t length);
  // Queues `prefix` (header blocks) and `piece` as one write, so that they leave together.
  void sendPiece(std::vector<ns::Data> prefix, BodyPiece piece, double timeout, long tag);
  // Queues one body piece (its size is counted against the write bound) after `prefix`.
  void writeBody(BodyPiece piece, long tag, std::vector<ns::Data> prefix = {});
  // Writes one piece of a non-range body after `prefix`; an empty piece writes only the prefix
  // (with the header tag), unless it ends a chunked body.
  void writeStandardPiece(BodyPiece piece, std::vector<ns::Data> prefix = {});
  // Writes the final block of a response; after it no pump touches the response again.
  void writeFinal(const ns::Data& data, double timeout, long tag, bool isBody);
  void writeFinalBody(BodyPiece piece, std::vector<ns::Data> prefix = {});
  void responseDone(long tag);

  ns::Ref<dispatch::Queue> connectionQueue_;
  ns::Ref<DispatchSocket> dispatchSocket_;
  ns::Ref<HTTPConfig> config_;
  bool started_ = false;
  ns::Ref<HTTPMessage> request_;
  unsigned numHeaderLines_ = 0;
  bool sentResponseHeaders_ = false;
  // The final write of the current response is queued.
  bool responseComplete_ = false;
  std::optional<std::string> nonce_;
  std::int64_t lastNC_ = 0;
  ns::Ref<HTTPResponse> httpResponse_;
  std::vector<ByteRange> ranges_;
  std::vector<ns::Data> ranges_headers_;
  std::string ranges_boundry_;
  int rangeIndex_ = 0;
  std::uint64_t requestContentLength_ = 0;
  std::uint64_t requestContentLengthReceived_ = 0;
  std::uint64_t requestChunkSize_ = 0;
  std::uint64_t requestChunkSizeReceived_ = 0;
  std::deque<std::uint64_t> responseDataSizes_;
  // What the last path lookup of the current request found, so that the response made for
  // that path right after does not ask the file system again.
  struct PathLookup {
    std::string path;
    bool exists = false;
    bool directory = false;
    std::uint64_t size = 0;
  };
  std::optional<PathLookup> lastLookup_;
  // The document root as a URL, made once for the root it was made from.
  std::string docRootPath_;
  ns::Ref<ns::URL> docRootURL_;
  PathLookup lookUpPath(const std::string& path);
};
