#pragma once
// The server's HTTP message: a request filled from socket bytes, or a response built field by
// field and serialised. It sits on the platform message and is stricter than it where a lenient
// reading would let a request smuggle a second meaning past the server: folded header lines
// and a repeated Content-Length with a different value make appendData refuse the bytes.
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/URL.h"

inline constexpr char HTTPVersion1_0[] = "HTTP/1.0";
inline constexpr char HTTPVersion1_1[] = "HTTP/1.1";

class HTTPMessage : public ns::Object {
 public:
  explicit HTTPMessage(ns::Ref<cf::HTTPMessage> message);

  static ns::Ref<HTTPMessage> initEmptyRequest();
  // Nothing for an empty method or a null URL.
  static ns::Ref<HTTPMessage> initRequestWithMethod_URL_version(std::string_view method,
                                                                const ns::Ref<ns::URL>& url,
                                                                std::string_view version);
  // A null description takes the standard reason phrase of the code.
  static ns::Ref<HTTPMessage> initResponseWithStatusCode_description_version(
      long code, const std::optional<std::string>& description, std::string_view version);

  // False once the bytes cannot be an HTTP request; the message then stays refused.
  bool appendData(const ns::Data& data);
  bool isHeaderComplete() const { return message_->isHeaderComplete(); }

  std::string version() const { return message_->version(); }
  std::optional<std::string> method() const { return message_->requestMethod(); }
  ns::Ref<ns::URL> url() const { return message_->requestURL(); }
  long statusCode() const { return message_->responseStatusCode(); }

  const ns::HTTPHeaderFields& allHeaderFields() const { return message_->allHeaderFields(); }
  // Names match ignoring case.
  std::optional<std::string> headerField(std::string_view name) const {
    return message_->headerFieldValue(name);
  }
  void setHeaderField_value(std::string_view name, const std::string& value) {
    message_->setHeaderFieldValue(name, value);
  }

  ns::Data messageData() const { return message_->serializedMessage(); }
  ns::Data body() const { return message_->body(); }
  void setBody(const ns::Data& body) { message_->setBody(body); }

  const ns::Ref<cf::HTTPMessage>& message() const { return message_; }

 private:
  bool checkHeaderLine(std::string_view line);

  ns::Ref<cf::HTTPMessage> message_;
  std::string pendingLine_;  // the header line being received, for the checks above
  bool sawStartLine_ = false;
  bool refused_ = false;
};
