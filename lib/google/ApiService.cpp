// Request building and execution: queries, method names and REST calls become fetches.
#include "lib/google/ApiService.h"

#include <set>

#include "lib/google/ApiBatchQuery.h"
#include "lib/google/ApiConstants.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiServiceFetchState.h"
#include "lib/google/ApiUploadParameters.h"
#include "lib/google/ApiUtilities.h"
#include "lib/google/NetUserAgent.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/foundation/OperationQueue.h"

namespace {

struct UploadFactoryState {
  std::mutex lock;
  ApiService::UploadFetcherFactory factory;
};

UploadFactoryState& uploadFactory() {
  static ns::NoDestructor<UploadFactoryState> state;
  return *state;
}

bool nonEmpty(const std::optional<std::string>& text) {
  return text && !text->empty();
}

// The URL with the parameters appended (sorted, case-insensitively), or the URL itself when
// there are none.
ns::Ref<ns::URL> withQueryParameters(const ns::Ref<ns::URL>& url, const ns::Dictionary& parameters) {
  if (!url || parameters.empty()) return url;
  return ApiUtilities::URLWithString_queryParameters(url->absoluteString(), parameters);
}

}  // namespace

ns::Ref<ApiServiceTicket> ticket(const ns::Ref<NetHTTPFetcher>& fetcher) {
  auto state = ApiServiceFetchState::of(fetcher);
  return state ? state->ticket : nullptr;
}

ApiService::ApiService()
    : parseQueue_(ns::make<ns::OperationQueue>()), fetcherService_(ns::make<NetHTTPFetcherService>()) {
  parseQueue_->setName("ApiService parse queue");
  setServiceUploadChunkSize(defaultServiceUploadChunkSize());
}

ApiService::~ApiService() = default;

ApiService::TicketRef ApiService::makeTicket() {
  return ApiServiceTicket::ticketForService(self<ApiService>());
}

// ---- executing queries ----

ApiService::TicketRef ApiService::executeQuery_completionHandler(const ns::Ref<ns::Object>& query,
                                                                 CompletionHandler handler) {
  if (auto batch = std::dynamic_pointer_cast<ApiBatchQuery>(query))
    return executeBatchQuery_delegate_didFinishSelector_completionHandler_ticket(batch, nullptr, {},
                                                                                 std::move(handler), nullptr);
  auto single = std::dynamic_pointer_cast<ApiQuery>(query);
  if (!single) return nullptr;
  auto copy = single->copy();
  return fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      copy->methodName(), copy->expectedObjectClass(), copy->JSON(), copy->bodyObject(), copy->requestID(),
      copy->urlQueryParameters(), nullptr, {}, std::move(handler), copy, nullptr);
}

ApiService::TicketRef ApiService::executeQuery_delegate_didFinishSelector(const ns::Ref<ns::Object>& query,
                                                                          const ns::Ref<ns::Object>& delegate,
                                                                          FinishedSelector selector) {
  if (auto batch = std::dynamic_pointer_cast<ApiBatchQuery>(query))
    return executeBatchQuery_delegate_didFinishSelector_completionHandler_ticket(
        batch, delegate, std::move(selector), nullptr, nullptr);
  auto single = std::dynamic_pointer_cast<ApiQuery>(query);
  if (!single) return nullptr;
  auto copy = single->copy();
  return fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      copy->methodName(), copy->expectedObjectClass(), copy->JSON(), copy->bodyObject(), copy->requestID(),
      copy->urlQueryParameters(), delegate, std::move(selector), nullptr, copy, nullptr);
}

ApiService::TicketRef ApiService::executeBatchQuery_delegate_didFinishSelector_completionHandler_ticket(
    const ns::Ref<ApiBatchQuery>& batch, const ns::Ref<ns::Object>& delegate, FinishedSelector selector,
    CompletionHandler handler, TicketRef ticket) {
  if (!batch) return nullptr;
  auto copy = batch->copy();
  if (copy->queries().empty()) return nullptr;

  auto calls = ns::make<ApiJSONArray>(copy->queries().size());
  std::set<std::string> seen;
  for (const auto& query : copy->queries()) {
    if (!query || query->methodName().empty() || query->requestID().empty()) return nullptr;
    if (!seen.insert(query->requestID()).second) return nullptr;
    calls->addObject(ns::Value(rpcPayloadForMethodNamed_parameters_bodyObject_requestID(
        query->methodName(), query->JSON(), query->bodyObject(), query->requestID())));
  }
  auto data = ApiJSONParser::dataWithObject_humanReadable_error(ns::Value(calls), false, nullptr);
  if (!data) return nullptr;

  bool mayAuthorize = !copy->shouldSkipAuthorization();
  // The caller's batch, not the copy, carries the URL parameters.
  auto url = withQueryParameters(rpcURL(), batch->urlQueryParameters());
  auto result =
      fetchObjectWithURL_objectClass_bodyObject_dataToPost_ETag_httpMethod_mayAuthorize_isREST_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
          url, ApiClassOf<ApiBatchResult>(), nullptr, data, std::nullopt, "POST", mayAuthorize, false,
          delegate, std::move(selector), std::move(handler), batch, std::move(ticket));
  if (result) {
    std::uint64_t counter = result->pagesFetchedCounter();
    std::string page = counter > 0 ? "page " + std::to_string(counter + 1) + ", " : "";
    result->objectFetcher()->setComment("batch: " + ns::str::join(copy->methodNames(), ", ") + " (" + page +
                                        std::to_string(copy->queries().size()) + " queries)");
  }
  return result;
}

// ---- method-name entries ----

ApiService::TicketRef ApiService::fetchObjectWithMethodNamed_parameters_objectClass_completionHandler(
    const std::string& methodName, const ns::Dictionary& parameters, ns::Class objectClass,
    CompletionHandler handler) {
  return fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_completionHandler(
      methodName, parameters, nullptr, objectClass, std::move(handler));
}

ApiService::TicketRef ApiService::fetchObjectWithMethodNamed_insertingObject_objectClass_completionHandler(
    const std::string& methodName, const ns::Ref<ApiObject>& object, ns::Class objectClass,
    CompletionHandler handler) {
  return fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_completionHandler(
      methodName, {}, object, objectClass, std::move(handler));
}

ApiService::TicketRef
ApiService::fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_completionHandler(
    const std::string& methodName, const ns::Dictionary& parameters, const ns::Ref<ApiObject>& object,
    ns::Class objectClass, CompletionHandler handler) {
  auto json = parameters.empty() ? nullptr : ApiJSONMutableDictionary(parameters);
  return fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      methodName, objectClass, json, object, std::nullopt, {}, nullptr, {}, std::move(handler), nullptr,
      nullptr);
}

ApiService::TicketRef
ApiService::fetchObjectWithMethodNamed_parameters_objectClass_delegate_didFinishSelector(
    const std::string& methodName, const ns::Dictionary& parameters, ns::Class objectClass,
    const ns::Ref<ns::Object>& delegate, FinishedSelector selector) {
  return fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_delegate_didFinishSelector(
      methodName, parameters, nullptr, objectClass, delegate, std::move(selector));
}

ApiService::TicketRef
ApiService::fetchObjectWithMethodNamed_insertingObject_objectClass_delegate_didFinishSelector(
    const std::string& methodName, const ns::Ref<ApiObject>& object, ns::Class objectClass,
    const ns::Ref<ns::Object>& delegate, FinishedSelector selector) {
  return fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_delegate_didFinishSelector(
      methodName, {}, object, objectClass, delegate, std::move(selector));
}

ApiService::TicketRef
ApiService::fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_delegate_didFinishSelector(
    const std::string& methodName, const ns::Dictionary& parameters, const ns::Ref<ApiObject>& object,
    ns::Class objectClass, const ns::Ref<ns::Object>& delegate, FinishedSelector selector) {
  auto json = parameters.empty() ? nullptr : ApiJSONMutableDictionary(parameters);
  return fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      methodName, objectClass, json, object, std::nullopt, {}, delegate, std::move(selector), nullptr,
      nullptr, nullptr);
}

ApiService::TicketRef ApiService::
    fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
        const std::string& methodName, ns::Class objectClass, const ns::Ref<ApiJSONDictionary>& parameters,
        const ns::Ref<ApiObject>& bodyObject, const std::optional<std::string>& requestID,
        const ns::Dictionary& urlQueryParameters, const ns::Ref<ns::Object>& delegate,
        FinishedSelector selector, CompletionHandler handler, const ns::Ref<ns::Object>& executingQuery,
        TicketRef ticket) {
  if (methodName.empty()) return nullptr;
  std::string id = nonEmpty(requestID) ? *requestID : ApiQuery::nextRequestID();

  ApiQueryProtocol* query = ApiQueryProtocolOf(executingQuery);
  ns::Ref<ApiUploadParameters> upload = query ? query->uploadParameters() : nullptr;
  std::optional<ns::Data> data;
  if (!(upload && upload->shouldSendUploadOnly())) {
    auto payload =
        rpcPayloadForMethodNamed_parameters_bodyObject_requestID(methodName, parameters, bodyObject, id);
    data = ApiJSONParser::dataWithObject_humanReadable_error(ns::Value(payload), false, nullptr);
    if (!data) return nullptr;
  }

  auto url = withQueryParameters(upload ? rpcUploadURL() : rpcURL(), urlQueryParameters);
  bool mayAuthorize = !(query && query->shouldSkipAuthorization());
  auto result =
      fetchObjectWithURL_objectClass_bodyObject_dataToPost_ETag_httpMethod_mayAuthorize_isREST_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
          url, objectClass, bodyObject, data, std::nullopt, "POST", mayAuthorize, false, delegate,
          std::move(selector), std::move(handler), executingQuery, std::move(ticket));
  if (result) {
    std::uint64_t counter = result->pagesFetchedCounter();
    result->objectFetcher()->setComment(
        counter > 0 ? methodName + " (page " + std::to_string(counter + 1) + ")" : methodName);
  }
  return result;
}

// ---- REST entries ----

ApiService::TicketRef ApiService::fetchObjectWithURL_completionHandler(const ns::Ref<ns::URL>& url,
                                                                       CompletionHandler handler) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, nullptr, nullptr, std::nullopt, std::nullopt, true, nullptr, {}, std::move(handler), nullptr);
}

ApiService::TicketRef ApiService::fetchObjectWithURL_delegate_didFinishSelector(
    const ns::Ref<ns::URL>& url, const ns::Ref<ns::Object>& delegate, FinishedSelector selector) {
  return fetchObjectWithURL_objectClass_delegate_didFinishSelector(url, nullptr, delegate,
                                                                   std::move(selector));
}

ApiService::TicketRef ApiService::fetchObjectWithURL_objectClass_delegate_didFinishSelector(
    const ns::Ref<ns::URL>& url, ns::Class objectClass, const ns::Ref<ns::Object>& delegate,
    FinishedSelector selector) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, objectClass, nullptr, std::nullopt, std::nullopt, true, delegate, std::move(selector), nullptr,
      nullptr);
}

ApiService::TicketRef ApiService::fetchPublicObjectWithURL_objectClass_delegate_didFinishSelector(
    const ns::Ref<ns::URL>& url, ns::Class objectClass, const ns::Ref<ns::Object>& delegate,
    FinishedSelector selector) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, objectClass, nullptr, std::nullopt, std::nullopt, false, delegate, std::move(selector), nullptr,
      nullptr);
}

ApiService::TicketRef ApiService::fetchObjectByInsertingObject_forURL_completionHandler(
    const ns::Ref<ApiObject>& object, const ns::Ref<ns::URL>& url, CompletionHandler handler) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, object ? object->runtimeClass() : nullptr, object, std::nullopt, "POST", true, nullptr, {},
      std::move(handler), nullptr);
}

ApiService::TicketRef ApiService::fetchObjectByInsertingObject_forURL_delegate_didFinishSelector(
    const ns::Ref<ApiObject>& object, const ns::Ref<ns::URL>& url, const ns::Ref<ns::Object>& delegate,
    FinishedSelector selector) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, object ? object->runtimeClass() : nullptr, object, std::nullopt, "POST", true, delegate,
      std::move(selector), nullptr, nullptr);
}

ApiService::TicketRef ApiService::fetchObjectByUpdatingObject_forURL_completionHandler(
    const ns::Ref<ApiObject>& object, const ns::Ref<ns::URL>& url, CompletionHandler handler) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, object ? object->runtimeClass() : nullptr, object, std::nullopt, "PUT", true, nullptr, {},
      std::move(handler), nullptr);
}

ApiService::TicketRef ApiService::fetchObjectByUpdatingObject_forURL_delegate_didFinishSelector(
    const ns::Ref<ApiObject>& object, const ns::Ref<ns::URL>& url, const ns::Ref<ns::Object>& delegate,
    FinishedSelector selector) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, object ? object->runtimeClass() : nullptr, object, std::nullopt, "PUT", true, delegate,
      std::move(selector), nullptr, nullptr);
}

ApiService::TicketRef ApiService::deleteResourceURL_ETag_completionHandler(
    const ns::Ref<ns::URL>& url, const std::optional<std::string>& etag, CompletionHandler handler) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, nullptr, nullptr, etag, "DELETE", true, nullptr, {}, std::move(handler), nullptr);
}

ApiService::TicketRef ApiService::deleteResourceURL_ETag_delegate_didFinishSelector(
    const ns::Ref<ns::URL>& url, const std::optional<std::string>& etag, const ns::Ref<ns::Object>& delegate,
    FinishedSelector selector) {
  return fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      url, nullptr, nullptr, etag, "DELETE", true, delegate, std::move(selector), nullptr, nullptr);
}

ApiService::TicketRef ApiService::
    fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
        const ns::Ref<ns::URL>& url, ns::Class objectClass, const ns::Ref<ApiObject>& bodyObject,
        const std::optional<std::string>& etag, const std::optional<std::string>& method, bool mayAuthorize,
        const ns::Ref<ns::Object>& delegate, FinishedSelector selector, CompletionHandler handler,
        TicketRef ticket) {
  if (!url) return nullptr;
  std::optional<ns::Data> data;
  if (bodyObject) {
    ns::Value json = bodyObject->JSONValue();
    if (isRESTDataWrapperRequired()) {
      auto wrapper = ns::make<ApiJSONDictionary>(1);
      wrapper->setObject_forKey(json, "data");
      json = ns::Value(wrapper);
    }
    data = ApiJSONParser::dataWithObject_humanReadable_error(json, false, nullptr);
    // Sent without its body, an update would wipe the resource: such a call does not start.
    if (!data) return nullptr;
  }
  return fetchObjectWithURL_objectClass_bodyObject_dataToPost_ETag_httpMethod_mayAuthorize_isREST_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      url, objectClass, bodyObject, data, etag, method, mayAuthorize, true, delegate, std::move(selector),
      std::move(handler), nullptr, std::move(ticket));
}

// ---- the core fetch ----

ApiService::TicketRef ApiService::
    fetchObjectWithURL_objectClass_bodyObject_dataToPost_ETag_httpMethod_mayAuthorize_isREST_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
        ns::Ref<ns::URL> url, ns::Class objectClass, const ns::Ref<ApiObject>& bodyObject,
        const std::optional<ns::Data>& dataToPost, const std::optional<std::string>& etag,
        const std::optional<std::string>& method, bool mayAuthorize, bool isREST,
        const ns::Ref<ns::Object>& delegate, FinishedSelector selector, CompletionHandler handler,
        const ns::Ref<ns::Object>& executingQuery, TicketRef ticket) {
  if (!url) return nullptr;
  if (!ticket) ticket = makeTicket();
  ticket->setIsREST(isREST);

  url = withQueryParameters(url, urlQueryParameters());
  if (isREST) {
    auto key = APIKey();
    if (nonEmpty(key)) url = withQueryParameters(url, ns::Dictionary{{ns::Value("key"), ns::Value(*key)}});
  }
  if (!url) return nullptr;

  ApiQueryProtocol* query = ApiQueryProtocolOf(executingQuery);
  ns::Dictionary queryHeaders = query ? query->additionalHTTPHeaders() : ns::Dictionary();
  auto request = objectRequestForURL_object_ETag_httpMethod_isREST_additionalHeaders_ticket(
      url, bodyObject, etag, method, isREST, queryHeaders, ticket);

  ticket->setPostedObject(bodyObject);
  ticket->setExecutingQuery(executingQuery);
  if (!ticket->originalQuery()) ticket->setOriginalQuery(executingQuery);

  ns::Ref<NetHTTPFetcher> fetcher;
  if (auto upload = query ? query->uploadParameters() : nullptr) {
    fetcher = uploadFetcherWithRequest_fetcherService_params(request, fetcherService_, upload);
    // No upload machinery registered: the call cannot start.
    if (!fetcher) return nullptr;
  } else {
    fetcher = fetcherService_->fetcherWithRequest(request);
  }
  if (allowInsecureQueries()) {
    fetcher->setAllowLocalhostRequest(true);
    fetcher->setAllowedInsecureSchemes({"http"});
  }
  if (selector) fetcher->setComment(selector.name());
  if (long method = cookieStorageMethod(); method >= 0) fetcher->setCookieStorageMethod(method);
  if (!mayAuthorize) fetcher->setAuthorizer(nullptr);
  fetcher->setRetryEnabled(ticket->isRetryEnabled());
  fetcher->setMaxRetryInterval(ticket->maxRetryInterval());
  if (ticket->retrySelector() || ticket->retryBlock()) fetcher->setRetrySelector(retrySelector());

  ticket->setObjectFetcher(fetcher);
  auto state = ns::make<ApiServiceFetchState>();
  state->objectClass = objectClass;
  state->delegate = delegate;
  state->finishedSelector = std::move(selector);
  state->ticket = ticket;
  state->completionHandler = std::move(handler);
  fetcher->setProperty_forKey(ns::Value(state), ApiServiceFetchState::kKey);
  fetcher->setBodyData(dataToPost);

  bool began = fetcher->beginFetchWithDelegate_didFinishSelector(self<ApiService>(), finishedSelector());
  if (!began || ticket->hasCalledCallback()) {
    fetcher->setProperties({});
    return nullptr;
  }
  return ticket;
}

// ---- request building ----

ns::Ref<ns::URLRequest> ApiService::requestForURL_ETag_httpMethod(const ns::Ref<ns::URL>& url,
                                                                  const std::optional<std::string>& etag,
                                                                  const std::optional<std::string>& method) {
  return requestForURL_ETag_httpMethod_ticket(url, etag, method, nullptr);
}

ns::Ref<ns::URLRequest> ApiService::requestForURL_ETag_httpMethod_ticket(
    const ns::Ref<ns::URL>& url, const std::optional<std::string>& etag,
    const std::optional<std::string>& method, const TicketRef&) {
  auto request = ns::make<ns::URLRequest>(url, ns::URLRequestReloadIgnoringLocalCacheData, 60.0);
  request->setValue_forHTTPHeaderField(requestUserAgent(), "User-Agent");
  if (nonEmpty(method)) request->setHTTPMethod(*method);
  if (nonEmpty(etag)) {
    if (!nonEmpty(method) || ns::str::equalsIgnoringCase(*method, "GET")) {
      request->setValue_forHTTPHeaderField(*etag, "If-None-Match");
    } else if ((ns::str::equalsIgnoringCase(*method, "PUT") ||
                ns::str::equalsIgnoringCase(*method, "DELETE") ||
                ns::str::equalsIgnoringCase(*method, "PATCH")) &&
               !ns::str::hasPrefix(*etag, "W/")) {
      // A weak ETag cannot make a write conditional.
      request->setValue_forHTTPHeaderField(*etag, "If-Match");
    }
  }
  return request;
}

ns::Ref<ns::URLRequest>
ApiService::objectRequestForURL_object_ETag_httpMethod_isREST_additionalHeaders_ticket(
    const ns::Ref<ns::URL>& url, const ns::Ref<ApiObject>& object, std::optional<std::string> etag,
    const std::optional<std::string>& method, bool isREST, const ns::Dictionary& additionalHeaders,
    const TicketRef& ticket) {
  if (object && !nonEmpty(etag)) {
    if (const ApiDispatch* dispatch =
            ApiRuntimeCommon::dispatchForClass_selector(object->runtimeClass(), "ETag"))
      etag = ApiRuntimeCommon::getValue(*object, dispatch).optionalString();
  }
  auto request = requestForURL_ETag_httpMethod_ticket(url, etag, method, ticket);
  request->setValue_forHTTPHeaderField(isREST ? "application/json" : "application/json-rpc", "Accept");
  request->setValue_forHTTPHeaderField(
      isREST ? "application/json; charset=utf-8" : "application/json-rpc; charset=utf-8", "Content-Type");
  request->setValue_forHTTPHeaderField("no-cache", "Cache-Control");
  // The service's headers, then the query's, each replacing an earlier value of the same name.
  for (const ns::Dictionary& headers : {additionalHTTPHeaders(), additionalHeaders})
    for (const auto& [name, value] : headers)
      if (name.isString()) request->setValue_forHTTPHeaderField(value.stringValue(), name.string());
  return request;
}

ns::Ref<ApiJSONDictionary> ApiService::rpcPayloadForMethodNamed_parameters_bodyObject_requestID(
    const std::string& methodName, const ns::Ref<ApiJSONDictionary>& parameters,
    const ns::Ref<ApiObject>& bodyObject, const std::string& requestID) {
  auto payload = ns::make<ApiJSONDictionary>(5);
  payload->setObject_forKey(ns::Value("2.0"), "jsonrpc");
  payload->setObject_forKey(ns::Value(methodName), "method");
  payload->setObject_forKey(ns::Value(requestID), "id");
  auto version = apiVersion();
  if (nonEmpty(version)) payload->setObject_forKey(ns::Value(*version), "apiVersion");

  auto key = APIKey();
  ns::Ref<ApiJSONDictionary> params;
  if (nonEmpty(key) || bodyObject) {
    params = ns::make<ApiJSONDictionary>((parameters ? parameters->count() : 0) + 2);
    if (parameters)
      for (const auto& [name, value] : parameters->entries()) params->setObject_forKey(value, name);
    if (nonEmpty(key) && !params->find("key")) params->setObject_forKey(ns::Value(*key), "key");
    if (bodyObject && !bodyObject->JSONValue().isNil())
      params->setObject_forKey(bodyObject->JSONValue(), "resource");
  } else {
    params = parameters;
  }
  if (params && params->count() > 0) payload->setObject_forKey(ns::Value(params), "params");
  return payload;
}

std::string ApiService::requestUserAgent() const {
  std::optional<std::string> base = userAgent();
  // Classes of the client library itself live in no bundle of their own here: the application's
  // bundle names the caller.
  if (!nonEmpty(base)) base = NetBundleUserAgentToken(nullptr);
  if (ns::str::lowercase(*base).find("google-api-objc-client") != std::string::npos) return *base;
  auto addition = userAgentAddition();
  return *base + " google-api-objc-client/" + ApiLibraryVersionString() + " " + NetSystemVersionToken() +
         (nonEmpty(addition) ? " " + *addition : std::string()) + " (gzip)";
}

ns::Ref<NetHTTPFetcher> ApiService::uploadFetcherWithRequest_fetcherService_params(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<NetHTTPFetcherService>& fetcherService,
    const ns::Ref<ApiUploadParameters>& params) {
  UploadFetcherFactory factory;
  {
    auto& state = uploadFactory();
    std::lock_guard guard(state.lock);
    factory = state.factory;
  }
  if (!factory || !params) return nullptr;
  return factory(request, fetcherService, params, serviceUploadChunkSize());
}

void ApiService::setUploadFetcherFactory(UploadFetcherFactory factory) {
  auto& state = uploadFactory();
  std::lock_guard guard(state.lock);
  state.factory = std::move(factory);
}

// ---- configuration ----

#define SERVICE_PROPERTY(Type, getter, setter, member) \
  Type ApiService::getter() const {                    \
    std::lock_guard guard(lock_);                      \
    return member;                                     \
  }                                                    \
  void ApiService::setter(Type value) {                \
    std::lock_guard guard(lock_);                      \
    member = std::move(value);                         \
  }

SERVICE_PROPERTY(ns::Ref<ns::OperationQueue>, parseQueue, setParseQueue, parseQueue_)
SERVICE_PROPERTY(ApiSurrogates, surrogates, setSurrogates, surrogates_)
SERVICE_PROPERTY(ApiServiceTicket::UploadProgressSelector, uploadProgressSelector, setUploadProgressSelector,
                 uploadProgressSelector_)
SERVICE_PROPERTY(ApiServiceTicket::RetryBlock, retryBlock, setRetryBlock, retryBlock_)
SERVICE_PROPERTY(ApiServiceTicket::UploadProgressBlock, uploadProgressBlock, setUploadProgressBlock,
                 uploadProgressBlock_)
SERVICE_PROPERTY(bool, isRetryEnabled, setRetryEnabled, retryEnabled_)
SERVICE_PROPERTY(ApiServiceTicket::RetrySelector, retrySelectorForTickets, setRetrySelector, retrySelector_)
SERVICE_PROPERTY(double, maxRetryInterval, setMaxRetryInterval, maxRetryInterval_)
SERVICE_PROPERTY(bool, shouldFetchNextPages, setShouldFetchNextPages, shouldFetchNextPages_)
SERVICE_PROPERTY(bool, allowInsecureQueries, setAllowInsecureQueries, allowInsecureQueries_)
SERVICE_PROPERTY(bool, isRESTDataWrapperRequired, setRESTDataWrapperRequired, restDataWrapperRequired_)
SERVICE_PROPERTY(ns::Ref<ns::URL>, rpcURL, setRpcURL, rpcURL_)
SERVICE_PROPERTY(ns::Ref<ns::URL>, rpcUploadURL, setRpcUploadURL, rpcUploadURL_)
SERVICE_PROPERTY(ns::Dictionary, urlQueryParameters, setUrlQueryParameters, urlQueryParameters_)
SERVICE_PROPERTY(ns::Dictionary, additionalHTTPHeaders, setAdditionalHTTPHeaders, additionalHTTPHeaders_)

#undef SERVICE_PROPERTY

std::optional<std::string> ApiService::userAgent() const {
  std::lock_guard guard(lock_);
  return userAgent_;
}

void ApiService::setUserAgent(const std::optional<std::string>& userAgent) {
  auto clean = NetCleanUserAgentToken(userAgent);
  std::lock_guard guard(lock_);
  userAgent_ = std::move(clean);
}

void ApiService::setExactUserAgent(const std::optional<std::string>& userAgent) {
  std::lock_guard guard(lock_);
  userAgent_ = userAgent;
}

std::optional<std::string> ApiService::userAgentAddition() const {
  std::lock_guard guard(lock_);
  return userAgentAddition_;
}

void ApiService::setUserAgentAddition(const std::optional<std::string>& addition) {
  std::lock_guard guard(lock_);
  userAgentAddition_ = addition;
}

void ApiService::setFetcherService(ns::Ref<NetHTTPFetcherService> service) {
  if (service) fetcherService_ = std::move(service);
}

ns::Dictionary ApiService::serviceProperties() const {
  std::lock_guard guard(lock_);
  return serviceProperties_ ? *serviceProperties_ : ns::Dictionary();
}

void ApiService::setServiceProperties(ns::Dictionary properties) {
  std::lock_guard guard(lock_);
  serviceProperties_ = std::move(properties);
}

void ApiService::setServiceProperty_forKey(ns::Value value, const std::string& key) {
  std::lock_guard guard(lock_);
  if (!serviceProperties_) {
    if (value.isNil()) return;
    serviceProperties_.emplace();
  }
  serviceProperties_->set(ns::Value(key), std::move(value));
}

ns::Value ApiService::servicePropertyForKey(const std::string& key) const {
  std::lock_guard guard(lock_);
  return serviceProperties_ ? serviceProperties_->objectForKey(ns::Value(key)) : ns::Value();
}

std::uint64_t ApiService::serviceUploadChunkSize() const {
  std::lock_guard guard(lock_);
  return uploadChunkSize_;
}

void ApiService::setServiceUploadChunkSize(std::uint64_t size) {
  if (size == defaultServiceUploadChunkSize())
    size = NetHTTPFetcher::doesSupportSentDataCallback() ? 25'000'000 : 75'000;
  std::lock_guard guard(lock_);
  uploadChunkSize_ = size;
}

std::optional<std::string> ApiService::APIKey() const {
  std::lock_guard guard(lock_);
  return apiKey_;
}

void ApiService::setAPIKey(const std::optional<std::string>& key) {
  std::lock_guard guard(lock_);
  apiKey_ = key;
}

std::optional<std::string> ApiService::apiVersion() const {
  std::lock_guard guard(lock_);
  return apiVersion_;
}

void ApiService::setApiVersion(const std::optional<std::string>& version) {
  std::lock_guard guard(lock_);
  apiVersion_ = version;
}

void ApiService::setAuthorizer(ns::Ref<NetFetcherAuthorizationProtocol> authorizer) {
  fetcherService_->setAuthorizer(std::move(authorizer));
}
