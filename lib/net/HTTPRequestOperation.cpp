#include "lib/net/HTTPRequestOperation.h"

#include "platform/core/Format.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLErrorCodes.h"

ns::Ref<HTTPRequestOperation> HTTPRequestOperation::initWithRequest(const ns::Ref<ns::URLRequest>& request) {
  return ns::make<HTTPRequestOperation>(request);
}

ns::Ref<ns::HTTPURLResponse> HTTPRequestOperation::response() const {
  return std::dynamic_pointer_cast<ns::HTTPURLResponse>(URLConnectionOperation::response());
}

std::set<long> HTTPRequestOperation::acceptableStatusCodes() const {
  std::set<long> codes;
  for (long code = 200; code <= 299; ++code) codes.insert(code);
  return codes;
}

bool HTTPRequestOperation::statusAcceptable(const ns::Ref<ns::HTTPURLResponse>& response) const {
  // A load that is not HTTP has no status to judge.
  if (!response) return true;
  return acceptableStatusCodes().count(response->statusCode()) > 0;
}

bool HTTPRequestOperation::contentTypeAcceptable(const ns::Ref<ns::URLResponse>& response) const {
  auto types = acceptableContentTypes();
  if (!types) return true;
  if (!response) return false;
  // A reply that names no type is taken as plain bytes.
  std::string type = response->MIMEType().value_or("application/octet-stream");
  return types->count(type) > 0;
}

bool HTTPRequestOperation::hasAcceptableStatusCode() const {
  auto http = response();
  return http && statusAcceptable(http);
}

bool HTTPRequestOperation::hasAcceptableContentType() const {
  return contentTypeAcceptable(URLConnectionOperation::response());
}

bool HTTPRequestOperation::acceptsResponseBody(const ns::Ref<ns::URLResponse>& response) const {
  return statusAcceptable(std::dynamic_pointer_cast<ns::HTTPURLResponse>(response)) &&
         contentTypeAcceptable(response);
}

std::optional<ns::Error> HTTPRequestOperation::httpError() const {
  auto plain = URLConnectionOperation::response();
  if (!plain) return std::nullopt;
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(plain);
  long code;
  std::string description;
  if (!statusAcceptable(http)) {
    code = ns::URLErrorBadServerResponse;
    description =
        ns::format("The server answered with status %ld (%@), which is not acceptable.", http->statusCode(),
                   ns::HTTPURLResponse::localizedStringForStatusCode(http->statusCode()));
  } else if (!contentTypeAcceptable(plain)) {
    code = ns::URLErrorCannotDecodeContentData;
    description = ns::format("The server answered with content type \u201c%@\u201d, which is not acceptable.",
                             plain->MIMEType().value_or("application/octet-stream"));
  } else {
    return std::nullopt;
  }
  ns::Error error = ns::makeURLError(code, plain->URL());
  ns::Dictionary info = error.userInfo();
  info.set(ns::NSLocalizedDescriptionKey, description);
  if (http) info.set(kHTTPRequestOperationStatusCodeKey, http->statusCode());
  info.set(kHTTPRequestOperationResponseKey, ns::Value(plain));
  if (auto body = refusedResponseData()) info.set(kHTTPRequestOperationResponseBodyKey, *body);
  return ns::Error(error.domain(), error.code(), std::move(info));
}

std::optional<ns::Error> HTTPRequestOperation::error() const {
  if (auto transfer = URLConnectionOperation::error()) {
    // A refused reply may still be cut short or cancelled; its refusal is the more telling error
    // unless the load was cancelled.
    if (transfer->code() != ns::URLErrorCancelled)
      if (auto http = httpError()) return http;
    return transfer;
  }
  return httpError();
}

ns::Ref<dispatch::Queue> HTTPRequestOperation::successCallbackQueue() const {
  std::lock_guard guard(lock());
  return successQueue_;
}

void HTTPRequestOperation::setSuccessCallbackQueue(const ns::Ref<dispatch::Queue>& queue) {
  std::lock_guard guard(lock());
  successQueue_ = queue;
}

ns::Ref<dispatch::Queue> HTTPRequestOperation::failureCallbackQueue() const {
  std::lock_guard guard(lock());
  return failureQueue_;
}

void HTTPRequestOperation::setFailureCallbackQueue(const ns::Ref<dispatch::Queue>& queue) {
  std::lock_guard guard(lock());
  failureQueue_ = queue;
}

void HTTPRequestOperation::dispatchSuccess(std::function<void()> block) const {
  auto queue = successCallbackQueue();
  dispatch::async(queue ? queue : dispatch::mainQueue(), std::move(block));
}

void HTTPRequestOperation::dispatchFailure(std::function<void()> block) const {
  auto queue = failureCallbackQueue();
  dispatch::async(queue ? queue : dispatch::mainQueue(), std::move(block));
}

void HTTPRequestOperation::setCompletionBlockWithSuccess_failure(Success success, Failure failure) {
  // The block holds the operation until it has run, as the operation's user may hold nothing.
  auto self = this->self<HTTPRequestOperation>();
  setCompletionBlock([self, success = std::move(success), failure = std::move(failure)] {
    if (self->isCancelled()) return;
    if (auto error = self->error()) {
      if (failure) self->dispatchFailure([self, failure, error = *error] { failure(self, error); });
    } else if (success) {
      self->dispatchSuccess([self, success, data = self->responseData()] { success(self, data); });
    }
  });
}
