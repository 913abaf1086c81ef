#pragma once
// One Data API call waiting to be executed: its JSON-RPC method name, its parameters (a JSON
// dictionary), an optional body object sent as the "resource" parameter, and what the caller
// expects back. Subclasses declare their parameters as dynamic properties over the parameter
// dictionary (ApiRuntimeCommon.h) with a map from property name to parameter name.
//
// The service executes a copy, which keeps the request ID, so a query may be changed or run
// again after execution without touching the running call.
//
// A query is used by one thread at a time; only the request counter and the merged parameter
// maps are shared, each under its own lock.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "lib/google/ApiJSON.h"
#include "lib/google/ApiObject.h"
#include "lib/google/ApiQueryProtocol.h"
#include "lib/google/ApiRuntimeCommon.h"
#include "lib/google/ApiUploadParameters.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/Runtime.h"

class ApiServiceTicket;

class ApiQuery : public ns::Object, public ApiRuntimeCommon, public ApiQueryProtocol {
 public:
  // Called with the ticket, the reply object (nullptr when there is none) and the error (nullopt
  // on success).
  using CompletionBlock =
      std::function<void(const ns::Ref<ApiServiceTicket>& ticket, const ns::Ref<ApiObject>& object,
                         const std::optional<ns::Error>& error)>;

  // Made by the runtime's factory; a query gets its method name and ID from queryWithMethodName.
  ApiQuery() = default;

  // The runtime class of ApiQuery.
  static ns::Class classObject();

  // A new query of class Q; nullptr for an empty method name.
  template <class Q = ApiQuery>
  static ns::Ref<Q> queryWithMethodName(std::string_view methodName) {
    auto query = ns::make<Q>();
    if (!query->initWithMethodName(methodName)) return nullptr;
    return query;
  }
  // Takes a fresh request ID and the name; false for an empty name.
  bool initWithMethodName(std::string_view methodName);

  // "api_1", "api_2"...: unique within the process, from one counter under one lock.
  static std::string nextRequestID();

  // A new query of the same class with the same method name and request ID, a deep copy of the
  // parameters (none when there were none), the same body object (shared, not copied), copies of
  // the upload parameters, URL parameters and headers, and the same expected class, skip flag
  // and completion block. The cache of objects made from parameters starts empty.
  ns::Ref<ApiQuery> copy() const;

  // JSON-RPC method, e.g. "youtube.videos.list"; never empty.
  const std::string& methodName() const { return methodName_; }
  // The parameters; nullptr until the first one is set.
  ns::Ref<ApiJSONDictionary> JSON() const { return json_; }
  void setJSON(ns::Ref<ApiJSONDictionary> json);
  // Sent as the "resource" parameter (insert and update calls).
  const ns::Ref<ApiObject>& bodyObject() const { return bodyObject_; }
  void setBodyObject(ns::Ref<ApiObject> body) { bodyObject_ = std::move(body); }
  // The JSON-RPC "id".
  const std::string& requestID() const { return requestID_; }
  void setRequestID(std::string requestID) { requestID_ = std::move(requestID); }
  // Stored as a copy.
  ns::Ref<ApiUploadParameters> uploadParameters() const override { return uploadParameters_; }
  void setUploadParameters(const ns::Ref<ApiUploadParameters>& parameters);
  // Added to the request URL rather than to the JSON body.
  const ns::Dictionary& urlQueryParameters() const override { return urlQueryParameters_; }
  void setUrlQueryParameters(ns::Dictionary parameters) { urlQueryParameters_ = std::move(parameters); }
  const ns::Dictionary& additionalHTTPHeaders() const override { return additionalHTTPHeaders_; }
  void setAdditionalHTTPHeaders(ns::Dictionary headers) { additionalHTTPHeaders_ = std::move(headers); }
  // The default class of the reply object; nullptr when the call answers nothing.
  ns::Class expectedObjectClass() const { return expectedObjectClass_; }
  void setExpectedObjectClass(ns::Class cls) { expectedObjectClass_ = cls; }
  bool shouldSkipAuthorization() const override { return skipAuthorization_; }
  void setShouldSkipAuthorization(bool skip) { skipAuthorization_ = skip; }
  // Called before the service's own callbacks; released when execution stops.
  const CompletionBlock& completionBlock() const { return completionBlock_; }
  void setCompletionBlock(CompletionBlock block) { completionBlock_ = std::move(block); }

  bool isBatchQuery() const override { return false; }
  void executionDidStop() override { completionBlock_ = nullptr; }

  // A parameter that no property declares, under its JSON key; nil removes it.
  void setCustomParameter_forKey(ns::Value value, std::string_view key) {
    setJSONValue_forKey(std::move(value), key);
  }

  // ApiRuntimeCommon: the parameter dictionary is made (capacity 1) for the first non-nil value.
  ns::Value JSONValueForKey(std::string_view key) const override;
  void setJSONValue_forKey(ns::Value value, std::string_view key) override;
  ns::Value cacheChildForKey(std::string_view key) const override;
  void setCacheChild_forKey(ns::Value child, std::string_view key) override;
  // Queries make no surrogates.
  ApiSurrogates surrogates() const override { return nullptr; }

  // The class's "parameterNameMap" (property name -> parameter name) over its superclasses' up
  // to ApiQuery, and the same for "arrayPropertyToClassMap"; computed once per class.
  static ns::Dictionary propertyToJSONKeyMapForClass(ns::Class cls);
  static ns::Dictionary arrayPropertyToClassMapForClass(ns::Class cls);

  ns::Class runtimeClass() const { return ns::object_getClass(this); }
  std::string className() const override;
  // "ApiQueryYouTube 0x...: {method:youtube.videos.list params:(id,part) urlQParams:(alt)
  //  bodyObject:ApiYouTubePlaylist ApiUploadParameters 0x...: {...}}", parameter keys sorted.
  std::string description() const override;

 private:
  std::string methodName_;
  ns::Ref<ApiJSONDictionary> json_;
  ns::Ref<ApiObject> bodyObject_;
  ApiChildCache childCache_;
  std::string requestID_;
  ns::Ref<ApiUploadParameters> uploadParameters_;
  ns::Dictionary urlQueryParameters_;
  ns::Dictionary additionalHTTPHeaders_;
  ns::Class expectedObjectClass_ = nullptr;
  bool skipAuthorization_ = false;
  CompletionBlock completionBlock_;
};

// A query whose calls page: it adopts the runtime protocol ApiQueryCollectionProtocol.
class ApiQueryCollectionImpl : public ApiQuery {};
