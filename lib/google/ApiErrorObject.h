#pragma once
// The model object of a JSON-RPC "error" member, and its conversion to an error.
#include <optional>

#include "lib/google/ApiObject.h"
#include "platform/core/Error.h"

class ApiErrorObjectData : public ApiObject {
 public:
#define API_ERROR_OBJECT_DATA_PROPERTIES(P) \
  P(domain, setDomain, ApiStringProperty)   \
  P(reason, setReason, ApiStringProperty)   \
  P(message, setMessage, ApiStringProperty) \
  P(location, setLocation, ApiStringProperty)
  API_ERROR_OBJECT_DATA_PROPERTIES(API_PROPERTY_ACCESSORS)
};

class ApiErrorObject : public ApiObject {
 public:
#define API_ERROR_OBJECT_PROPERTIES(P)      \
  P(code, setCode, ApiNumberProperty)       \
  P(message, setMessage, ApiStringProperty) \
  P(data, setData, ApiArrayProperty)
  API_ERROR_OBJECT_PROPERTIES(API_PROPERTY_ACCESSORS)

  // An error in ApiJSONRPCErrorDomain with the code, the object under "ApiStructuredError",
  // and, with a message, "error" = the message and the failure reason "(message)".
  ns::Error foundationError() const;
  // The error object an error made by foundationError carries, else nullptr.
  static ns::Ref<ApiErrorObject> underlyingObjectForError(const ns::Error& error);
};
