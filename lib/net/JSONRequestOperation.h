#pragma once
// A request operation whose reply body is parsed as JSON (objects and arrays into ns::Value
// dictionaries and arrays). Any content type is taken: some services answer JSON as
// "text/html", so a body that is no JSON shows as a parse error instead.
//
//   auto op = JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
//       request,
//       [](const auto& request, const auto& response, const ns::Value& json) { ... },  // main queue
//       nullptr);                                                  // no failure block: ignored
//   op->start();
#include <functional>
#include <optional>

#include "lib/net/HTTPRequestOperation.h"
#include "platform/core/Value.h"

class JSONRequestOperation : public HTTPRequestOperation {
 public:
  using JSONSuccess =
      std::function<void(const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::HTTPURLResponse>& response,
                         const ns::Value& json)>;
  using JSONFailure =
      std::function<void(const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::HTTPURLResponse>& response,
                         const ns::Error& error, const ns::Value& json)>;
  using Success = std::function<void(const ns::Ref<JSONRequestOperation>&, const ns::Value&)>;

  explicit JSONRequestOperation(ns::Ref<ns::URLRequest> request) : HTTPRequestOperation(std::move(request)) {}

  // Nothing runs until start(). Without a failure block a failed request has no effect.
  static ns::Ref<JSONRequestOperation> JSONRequestOperationWithRequest_success_failure(
      const ns::Ref<ns::URLRequest>& request, JSONSuccess success, JSONFailure failure);

  // The parsed body, made once the operation has finished; nil for an empty body, on a parse
  // error or before the end.
  ns::Value responseJSON() const;
  // The transfer or HTTP error, else the parse error.
  std::optional<ns::Error> error() const override;

  // Success receives the parsed body; the body is parsed off the main thread.
  void setCompletionBlockWithSuccess_failure(Success success, HTTPRequestOperation::Failure failure);

  std::string className() const override { return "JSONRequestOperation"; }

 private:
  mutable bool parsed_ = false;
  mutable ns::Value json_;
  mutable std::optional<ns::Error> jsonError_;
};
