#pragma once
// What a frame loaded or is loading: the request it began with, the request after redirects,
// the response and the bytes received.
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace wk {

class WebFrame;

class WebDataSource : public ns::Object {
 public:
  WebDataSource() = default;

  const ns::Ref<ns::URLRequest>& initialRequest() const { return initialRequest_; }
  // The request being (or last) sent: the one the delegate answered, after redirects.
  const ns::Ref<ns::URLRequest>& request() const { return request_; }
  const ns::Ref<ns::URLResponse>& response() const { return response_; }
  ns::Data data() const { return ns::Data(bytes_); }
  std::size_t length() const { return bytes_.size(); }
  bool isLoading() const { return loading_; }
  ns::Ref<WebFrame> webFrame() const { return frame_.lock(); }

  std::string className() const override { return "WebDataSource"; }

  // Filled in by the web view's back end.
  void setInitialRequest(ns::Ref<ns::URLRequest> r) { initialRequest_ = std::move(r); }
  void setRequest(ns::Ref<ns::URLRequest> r) { request_ = std::move(r); }
  void setResponse(ns::Ref<ns::URLResponse> r) { response_ = std::move(r); }
  void appendData(const ns::Data& d) { bytes_.append(d.view()); }
  void setData(std::string bytes) { bytes_ = std::move(bytes); }
  void setLoading(bool loading) { loading_ = loading; }
  void setWebFrame(const ns::Ref<WebFrame>& frame) { frame_ = frame; }

 private:
  ns::Ref<ns::URLRequest> initialRequest_;
  ns::Ref<ns::URLRequest> request_;
  ns::Ref<ns::URLResponse> response_;
  std::string bytes_;
  bool loading_ = false;
  ns::Weak<WebFrame> frame_;
};

}  // namespace wk
