#pragma once
// A request operation that judges the HTTP reply: a status outside acceptableStatusCodes() is an
// error in the URL error domain with code -1011, a content type outside
// acceptableContentTypes() one with code -1016, each carrying the status and the response in its
// user info. The body of such a reply never goes to the caller's output stream (a partial
// download there stays as it was); it is kept in memory under kHTTPRequestOperationResponseBodyKey.
//
//   auto op = HTTPRequestOperation::initWithRequest(request);
//   op->setCompletionBlockWithSuccess_failure(
//       [](const auto& op, const std::optional<ns::Data>& body) { ... },   // main queue
//       [](const auto& op, const ns::Error& error) { ... });
//   op->start();
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "lib/net/URLConnectionOperation.h"

namespace dispatch {
class Queue;
}

// User-info keys of the HTTP errors.
inline constexpr char kHTTPRequestOperationStatusCodeKey[] = "HTTPRequestOperationStatusCode";
inline constexpr char kHTTPRequestOperationResponseKey[] = "HTTPRequestOperationResponse";
inline constexpr char kHTTPRequestOperationResponseBodyKey[] = "HTTPRequestOperationResponseBody";

class HTTPRequestOperation : public URLConnectionOperation {
 public:
  using Success = std::function<void(const ns::Ref<HTTPRequestOperation>&, const std::optional<ns::Data>&)>;
  using Failure = std::function<void(const ns::Ref<HTTPRequestOperation>&, const ns::Error&)>;

  explicit HTTPRequestOperation(ns::Ref<ns::URLRequest> request)
      : URLConnectionOperation(std::move(request)) {}
  static ns::Ref<HTTPRequestOperation> initWithRequest(const ns::Ref<ns::URLRequest>& request);

  // The HTTP response, or null before one arrived (or for a non-HTTP load).
  ns::Ref<ns::HTTPURLResponse> response() const;
  // The transfer error, else the HTTP error of an unacceptable status or content type.
  std::optional<ns::Error> error() const override;

  // 200-299 here; subclasses widen or narrow it.
  virtual std::set<long> acceptableStatusCodes() const;
  // Lower-case MIME types; nothing means any type.
  virtual std::optional<std::set<std::string>> acceptableContentTypes() const { return std::nullopt; }
  bool hasAcceptableStatusCode() const;
  bool hasAcceptableContentType() const;

  // Where success and failure run; the main queue when null.
  ns::Ref<dispatch::Queue> successCallbackQueue() const;
  void setSuccessCallbackQueue(const ns::Ref<dispatch::Queue>& queue);
  ns::Ref<dispatch::Queue> failureCallbackQueue() const;
  void setFailureCallbackQueue(const ns::Ref<dispatch::Queue>& queue);

  // Sets the completion block: when the operation finishes, failure(operation, error) when there
  // is an error, else success(operation, received data). A cancelled operation calls neither.
  void setCompletionBlockWithSuccess_failure(Success success, Failure failure);

  std::string className() const override { return "HTTPRequestOperation"; }

 protected:
  bool acceptsResponseBody(const ns::Ref<ns::URLResponse>& response) const override;
  // Runs `block` on the success (or failure) callback queue, the main queue when none is set.
  void dispatchSuccess(std::function<void()> block) const;
  void dispatchFailure(std::function<void()> block) const;

 private:
  std::optional<ns::Error> httpError() const;
  bool statusAcceptable(const ns::Ref<ns::HTTPURLResponse>& response) const;
  bool contentTypeAcceptable(const ns::Ref<ns::URLResponse>& response) const;

  ns::Ref<dispatch::Queue> successQueue_;
  ns::Ref<dispatch::Queue> failureQueue_;
};
