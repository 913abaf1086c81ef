#pragma once
// HTTP/1.x messages: a request or response filled from received bytes (appendBytes) or built
// field by field, and serialised for sending.
//
//   auto req = cf::HTTPMessage::createEmpty(true);
//   if (!req->appendBytes(data)) reject();           // malformed start line or field line
//   if (req->isHeaderComplete()) handle(req->requestMethod(), req->requestURL());
//
// A parsed message keeps every byte after the blank line as its body; the caller decides how
// much body to expect (Content-Length).
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace cf {

inline constexpr char HTTPVersion1_0[] = "HTTP/1.0";
inline constexpr char HTTPVersion1_1[] = "HTTP/1.1";

class HTTPMessage : public ns::Object {
 public:
  static ns::Ref<HTTPMessage> createEmpty(bool isRequest);
  // Nothing for an empty method or a null URL.
  static ns::Ref<HTTPMessage> createRequest(std::string_view method, const ns::Ref<ns::URL>& url,
                                            std::string_view version = HTTPVersion1_1);
  // A null description takes the standard reason phrase of the code.
  static ns::Ref<HTTPMessage> createResponse(long statusCode, std::optional<std::string> description,
                                             std::string_view version = HTTPVersion1_1);

  explicit HTTPMessage(bool isRequest) : isRequest_(isRequest) {}

  // Feeds received bytes. False, and the message stays broken, once they cannot be an HTTP
  // message: a start line that is not "METHOD target HTTP/x.y" (or "HTTP/x.y code phrase"), a
  // field line without a name and colon, or a start line or header block of absurd size.
  bool appendBytes(const void* bytes, std::size_t length);
  bool appendBytes(const ns::Data& data) { return appendBytes(data.bytes(), data.length()); }
  bool appendBytes(std::string_view bytes) { return appendBytes(bytes.data(), bytes.size()); }
  bool isHeaderComplete() const { return headerComplete_; }
  bool isRequest() const { return isRequest_; }

  std::optional<std::string> requestMethod() const { return method_; }
  // The request target as a URL (relative: its relative string is the path and query).
  ns::Ref<ns::URL> requestURL() const { return url_; }
  // "HTTP/1.1"; empty until the start line is known.
  const std::string& version() const { return version_; }
  long responseStatusCode() const { return statusCode_; }
  // "HTTP/1.1 200 OK"
  std::string responseStatusLine() const;

  std::optional<std::string> headerFieldValue(std::string_view name) const { return headers_.get(name); }
  const ns::HTTPHeaderFields& allHeaderFields() const { return headers_; }
  // A null value removes the field.
  void setHeaderFieldValue(std::string_view name, std::optional<std::string> value);

  ns::Data body() const { return body_.copy(); }
  void setBody(const ns::Data& body) { body_.setData(body); }

  // Start line, "Name: value" lines, the blank line and the body; lines end in CR LF.
  ns::Data serializedMessage() const;

  // The standard reason phrase ("OK", "Not Found"...), "Unknown" for other codes.
  static std::string reasonPhraseForStatusCode(long statusCode);

  static constexpr std::size_t kMaxHeaderBytes = 1 << 20;

 private:
  bool parseStartLine(std::string_view line);
  bool parseFieldLine(std::string_view line);

  bool isRequest_;
  bool headerComplete_ = false;
  bool broken_ = false;
  std::string pending_;  // header bytes not yet split into lines
  std::size_t headerBytes_ = 0;
  bool haveStartLine_ = false;
  std::optional<std::string> method_;
  ns::Ref<ns::URL> url_;
  std::string target_;
  std::string version_;
  long statusCode_ = 0;
  std::string statusDescription_;
  ns::HTTPHeaderFields headers_;
  std::string lastFieldName_;
  ns::MutableData body_;
};

}  // namespace cf
