#pragma once
// What came back from the crash-reporting service: status, headers, raw bytes, decoded body and
// error. Successful means no error and a 2xx status; other statuses are for the caller to judge.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

class CRSWebResponse : public ns::Object {
 public:
  std::uint64_t statusCode() const { return statusCode_; }
  void setStatusCode(std::uint64_t code) { statusCode_ = code; }
  const ns::MutableData& responseData() const { return responseData_; }
  ns::MutableData& mutableResponseData() { return responseData_; }
  // A dictionary or array decoded from JSON or a property list, the raw bytes, or nil.
  const ns::Value& body() const { return body_; }
  void setBody(ns::Value body) { body_ = std::move(body); }
  const std::optional<ns::Error>& error() const { return error_; }
  void setError(std::optional<ns::Error> error) { error_ = std::move(error); }
  const ns::Ref<ns::URL>& requestURL() const { return requestURL_; }
  void setRequestURL(ns::Ref<ns::URL> url) { requestURL_ = std::move(url); }
  const ns::HTTPHeaderFields& responseHeaders() const { return responseHeaders_; }
  void setResponseHeaders(ns::HTTPHeaderFields headers) { responseHeaders_ = std::move(headers); }

  bool wasSuccessful() const { return !error_ && statusCode_ >= 200 && statusCode_ <= 299; }

  std::string className() const override { return "CRSWebResponse"; }
  std::string description() const override;

 private:
  std::uint64_t statusCode_ = 0;
  ns::MutableData responseData_;
  ns::Value body_;
  std::optional<ns::Error> error_;
  ns::Ref<ns::URL> requestURL_;
  ns::HTTPHeaderFields responseHeaders_;
};
