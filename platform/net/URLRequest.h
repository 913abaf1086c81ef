#pragma once
// URL requests. One class serves as both the immutable and the mutable request: code that hands a
// request on and changes it later takes a mutableCopy() first, as with the platform's pair.
//
//   auto req = ns::URLRequest::requestWithURL(url);
//   req->setHTTPMethod("POST");
//   req->setValue_forHTTPHeaderField("application/json", "Content-Type");
//   req->setHTTPBody(ns::Data("{}"));
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Types.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace ns {

class InputStream;

enum URLRequestCachePolicy : unsigned {
  URLRequestUseProtocolCachePolicy = 0,
  URLRequestReloadIgnoringLocalCacheData = 1,
  URLRequestReturnCacheDataElseLoad = 2,
  URLRequestReturnCacheDataDontLoad = 3,
  URLRequestReloadIgnoringLocalAndRemoteCacheData = 4,
  URLRequestReloadRevalidatingCacheData = 5,
};
inline constexpr URLRequestCachePolicy URLRequestReloadIgnoringCacheData =
    URLRequestReloadIgnoringLocalCacheData;

// A request body read piece by piece while it is sent. `read` fills up to `capacity` bytes and
// answers how many it wrote, 0 at the end, or -1 on a read error (which fails the load).
// `open` runs before the first read of each attempt (again when a redirect resends the body).
struct URLRequestBodyStream {
  std::function<bool()> open;
  std::function<long(std::uint8_t* buffer, std::size_t capacity)> read;
  std::function<void()> close;
};

class URLRequest : public Object {
 public:
  static constexpr TimeInterval kDefaultTimeoutInterval = 60;

  explicit URLRequest(Ref<ns::URL> url = nullptr,
                      URLRequestCachePolicy cachePolicy = URLRequestUseProtocolCachePolicy,
                      TimeInterval timeoutInterval = kDefaultTimeoutInterval);
  static Ref<URLRequest> requestWithURL(Ref<ns::URL> url) { return make<URLRequest>(std::move(url)); }
  static Ref<URLRequest> requestWithURL_cachePolicy_timeoutInterval(Ref<ns::URL> url,
                                                                    URLRequestCachePolicy policy,
                                                                    TimeInterval timeout) {
    return make<URLRequest>(std::move(url), policy, timeout);
  }

  Ref<URLRequest> copy() const;
  Ref<URLRequest> mutableCopy() const { return copy(); }

  const Ref<ns::URL>& URL() const { return url_; }
  void setURL(Ref<ns::URL> url) { url_ = std::move(url); }
  // "GET" unless set.
  const std::string& HTTPMethod() const { return method_; }
  void setHTTPMethod(std::string method) {
    method_ = method.empty() ? std::string("GET") : std::move(method);
  }

  const HTTPHeaderFields& allHTTPHeaderFields() const { return headers_; }
  void setAllHTTPHeaderFields(HTTPHeaderFields fields) { headers_ = std::move(fields); }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return headers_.get(name);
  }
  // A null value removes the field.
  void setValue_forHTTPHeaderField(std::optional<std::string> value, std::string_view name);
  void addValue_forHTTPHeaderField(std::string_view value, std::string_view name) {
    headers_.add(name, value);
  }

  const std::optional<Data>& HTTPBody() const { return body_; }
  // Setting a body drops the body stream and the other way round.
  void setHTTPBody(std::optional<Data> body);
  const std::shared_ptr<URLRequestBodyStream>& HTTPBodyStream() const { return bodyStream_; }
  void setHTTPBodyStream(std::shared_ptr<URLRequestBodyStream> stream);
  // An input stream as the body. It is read once: a redirect or challenge that must send the
  // body again fails the load (-1021), as the stream cannot be reopened.
  void setHTTPBodyStream(const Ref<InputStream>& stream);
  // The input stream given as the body, if the body came that way.
  const Ref<InputStream>& HTTPBodyInputStream() const { return inputStream_; }

  TimeInterval timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(TimeInterval seconds) { timeout_ = seconds; }
  URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }
  bool HTTPShouldHandleCookies() const { return handleCookies_; }
  void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }
  const Ref<ns::URL>& mainDocumentURL() const { return mainDocumentURL_; }
  void setMainDocumentURL(Ref<ns::URL> url) { mainDocumentURL_ = std::move(url); }

  bool isEqual(const Object* other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "NSMutableURLRequest"; }
  std::string description() const override;

 private:
  Ref<ns::URL> url_;
  std::string method_ = "GET";
  HTTPHeaderFields headers_;
  std::optional<Data> body_;
  std::shared_ptr<URLRequestBodyStream> bodyStream_;
  Ref<InputStream> inputStream_;
  TimeInterval timeout_;
  URLRequestCachePolicy cachePolicy_;
  bool handleCookies_ = true;
  Ref<ns::URL> mainDocumentURL_;
};

using MutableURLRequest = URLRequest;

}  // namespace ns
