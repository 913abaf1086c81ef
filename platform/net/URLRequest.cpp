#include "platform/net/URLRequest.h"

#include <functional>

#include "platform/foundation/Stream.h"

namespace ns {

URLRequest::URLRequest(Ref<ns::URL> url, URLRequestCachePolicy cachePolicy, TimeInterval timeoutInterval)
    : url_(std::move(url)), timeout_(timeoutInterval), cachePolicy_(cachePolicy) {}

Ref<URLRequest> URLRequest::copy() const {
  auto r = make<URLRequest>(url_, cachePolicy_, timeout_);
  r->method_ = method_;
  r->headers_ = headers_;
  r->body_ = body_;
  r->bodyStream_ = bodyStream_;
  r->inputStream_ = inputStream_;
  r->handleCookies_ = handleCookies_;
  r->mainDocumentURL_ = mainDocumentURL_;
  return r;
}

void URLRequest::setValue_forHTTPHeaderField(std::optional<std::string> value, std::string_view name) {
  if (value)
    headers_.set(name, *value);
  else
    headers_.remove(name);
}

void URLRequest::setHTTPBody(std::optional<Data> body) {
  body_ = std::move(body);
  if (body_) {
    bodyStream_.reset();
    inputStream_ = nullptr;
  }
}

void URLRequest::setHTTPBodyStream(std::shared_ptr<URLRequestBodyStream> stream) {
  bodyStream_ = std::move(stream);
  inputStream_ = nullptr;
  if (bodyStream_) body_.reset();
}

void URLRequest::setHTTPBodyStream(const Ref<InputStream>& stream) {
  if (!stream) {
    setHTTPBodyStream(std::shared_ptr<URLRequestBodyStream>());
    return;
  }
  auto body = std::make_shared<URLRequestBodyStream>();
  body->open = [stream] {
    if (stream->streamStatus() != StreamStatusNotOpen) return false;
    stream->open();
    StreamStatus status = stream->streamStatus();
    return status != StreamStatusError && status != StreamStatusClosed;
  };
  body->read = [stream](std::uint8_t* buffer, std::size_t capacity) {
    return stream->read_maxLength(buffer, capacity);
  };
  body->close = [stream] { stream->close(); };
  setHTTPBodyStream(body);
  inputStream_ = stream;
}

bool URLRequest::isEqual(const Object* other) const {
  auto o = dynamic_cast<const URLRequest*>(other);
  if (!o) return false;
  bool sameURL = (!url_ && !o->url_) || (url_ && o->url_ && url_->isEqual(o->url_.get()));
  return sameURL && method_ == o->method_ && headers_ == o->headers_ && body_ == o->body_ &&
         bodyStream_ == o->bodyStream_ && timeout_ == o->timeout_ && cachePolicy_ == o->cachePolicy_ &&
         handleCookies_ == o->handleCookies_;
}

std::size_t URLRequest::hash() const {
  return (url_ ? url_->hash() : 0) ^ std::hash<std::string>()(method_);
}

std::string URLRequest::description() const {
  return "<NSMutableURLRequest " + (url_ ? url_->absoluteString() : std::string("(null)")) + ">";
}

}  // namespace ns
