#include "lib/google/ApiErrorObject.h"

#include "lib/google/ApiConstants.h"

PL_CLASS(ApiErrorObjectData, ApiObject){API_ERROR_OBJECT_DATA_PROPERTIES(API_DECLARE_PROPERTY)}

PL_CLASS(ApiErrorObject, ApiObject) {
  API_ERROR_OBJECT_PROPERTIES(API_DECLARE_PROPERTY)
  ApiModelSchema(cls).arrayPropertyToClassMap({{"data", "ApiErrorObjectData"}});
}

ns::Error ApiErrorObject::foundationError() const {
  ns::Dictionary info;
  info.set(ns::Value(ApiStructuredErrorKey),
           ns::Value(std::const_pointer_cast<ApiErrorObject>(self<ApiErrorObject>())));
  if (auto text = message()) {
    info.set(ns::Value("error"), ns::Value(*text));
    info.set(ns::Value(ns::NSLocalizedFailureReasonErrorKey), ns::Value("(" + *text + ")"));
  }
  auto number = code();
  return ns::Error(ApiJSONRPCErrorDomain, number ? number->integerValue() : 0, std::move(info));
}

ns::Ref<ApiErrorObject> ApiErrorObject::underlyingObjectForError(const ns::Error& error) {
  return error.userInfo()[ns::Value(ApiStructuredErrorKey)].objectAs<ApiErrorObject>();
}
