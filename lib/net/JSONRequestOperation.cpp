#include "lib/net/JSONRequestOperation.h"

#include "platform/serialization/JSONSerialization.h"

ns::Ref<JSONRequestOperation> JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
    const ns::Ref<ns::URLRequest>& request, JSONSuccess success, JSONFailure failure) {
  auto operation = ns::make<JSONRequestOperation>(request);
  operation->setCompletionBlockWithSuccess_failure(
      success ? Success([success](const ns::Ref<JSONRequestOperation>& op, const ns::Value& json) {
        success(op->request(), op->response(), json);
      })
              : Success(),
      failure ? HTTPRequestOperation::Failure(
                    [failure](const ns::Ref<HTTPRequestOperation>& op, const ns::Error& error) {
                      auto json = std::static_pointer_cast<JSONRequestOperation>(op)->responseJSON();
                      failure(op->request(), op->response(), error, json);
                    })
              : HTTPRequestOperation::Failure());
  return operation;
}

ns::Value JSONRequestOperation::responseJSON() const {
  std::lock_guard guard(lock());
  if (!parsed_ && isFinished()) {
    parsed_ = true;
    auto data = responseData();
    bool blank = true;
    if (data)
      for (auto c : data->view())
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') blank = false;
    if (!blank) {
      ns::Error error;
      json_ = ns::JSONSerialization::JSONObjectWithData_options_error(*data, 0, &error);
      if (json_.isNil()) jsonError_ = error;
    }
  }
  return json_;
}

std::optional<ns::Error> JSONRequestOperation::error() const {
  if (auto error = HTTPRequestOperation::error()) return error;
  responseJSON();
  std::lock_guard guard(lock());
  return jsonError_;
}

void JSONRequestOperation::setCompletionBlockWithSuccess_failure(Success success,
                                                                 HTTPRequestOperation::Failure failure) {
  auto self = this->self<JSONRequestOperation>();
  setCompletionBlock([self, success = std::move(success), failure = std::move(failure)] {
    if (self->isCancelled()) return;
    // error() parses the body here, off the main thread.
    if (auto error = self->error()) {
      if (failure) self->dispatchFailure([self, failure, error = *error] { failure(self, error); });
    } else if (success) {
      self->dispatchSuccess([self, success, json = self->responseJSON()] { success(self, json); });
    }
  });
}
