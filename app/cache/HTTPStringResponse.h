#pragma once
// A response over a text, sent as UTF-8 with its content type ("text/html; charset=utf-8"
// unless set). The local media server offers it; no path of the server uses it.
#include <cstdint>
#include <string>

#include "lib/http-server/Core/HTTPResponse.h"

class HTTPConnection;

class HTTPStringResponse : public HTTPResponse {
 public:
  HTTPStringResponse(const std::string& text, ns::Weak<HTTPConnection> connection);

  static ns::Ref<HTTPStringResponse> initWithString_forConnection(const std::string& text,
                                                                  const ns::Ref<HTTPConnection>& connection);

  std::string className() const override { return "HTTPStringResponse"; }

  std::uint64_t contentLength() override { return response_.length(); }
  std::uint64_t offset() override { return strOffset_; }
  void setOffset(std::uint64_t offset) override { strOffset_ = offset; }
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return strOffset_ == response_.length(); }
  ns::HTTPHeaderFields httpHeaders() override;

  // Tells the connection that this response gives up.
  void abort();
  bool shouldAbort() const { return false; }

  const ns::Data& response() const { return response_; }
  void setResponse(ns::Data data) { response_ = std::move(data); }
  const std::string& contentType() const { return contentType_; }
  void setContentType(std::string type) { contentType_ = std::move(type); }

 private:
  ns::Weak<HTTPConnection> connection_;
  std::uint64_t strOffset_ = 0;
  ns::Data response_;
  std::string contentType_ = "text/html; charset=utf-8";
};
