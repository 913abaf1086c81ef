#pragma once
// The client end of a Google Data API. A query becomes one HTTP request: a JSON-RPC 2.0 call
// POSTed to the API's RPC endpoint (or, through the REST entries, a plain JSON request to a
// resource URL), started on a fetcher of the service's own fetcher service; the call returns a
// ticket. The reply is parsed on the parse queue (JSON and the top-level model object, chosen by
// its "kind"), brought back to the thread that started the call (or to the delegate queue), paged
// on the same ticket when automatic paging is on, and handed to the callbacks in this order: the
// query's block, the delegate's selector, the completion block. Every started call ends in its
// callbacks exactly once, unless cancelled; a call that cannot start answers no ticket and calls
// nothing.
//
//   auto query = ApiQueryYouTube::queryForPlaylistsListWithPart("snippet");
//   query->setMine(true);
//   service->executeQuery_completionHandler(query, [](auto& ticket, auto& object, auto& error) {
//     if (auto list = std::dynamic_pointer_cast<ApiYouTubePlaylistListResponse>(object)) ...
//   });
//
// Calls are made on one thread whose run loop runs. Settings are read when a ticket is made
// (retry, paging, progress, key, surrogates, properties) and when a request is built (key,
// version, URLs, headers, User-Agent).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/google/ApiObject.h"
#include "lib/google/ApiQuery.h"
#include "lib/google/ApiServiceTicket.h"
#include "lib/google/CallbackSelector.h"
#include "lib/google/NetHTTPFetcher.h"
#include "lib/google/NetHTTPFetcherService.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

namespace ns {
class OperationQueue;
class Thread;
}  // namespace ns
class ApiBatchQuery;
class ApiUploadParameters;

class ApiService : public ns::Object {
 public:
  using TicketRef = ns::Ref<ApiServiceTicket>;
  // (ticket, object or nullptr, error or nullopt)
  using CompletionHandler = ApiQuery::CompletionBlock;
  using FinishedSelector =
      CallbackSelector<void(const TicketRef&, const ns::Ref<ApiObject>&, const std::optional<ns::Error>&)>;
  // Makes the resumable upload fetcher of a query with upload parameters (request, fetcher
  // service, parameters, chunk size); registered by the upload module. Without one, a query with
  // upload parameters cannot start.
  using UploadFetcherFactory = std::function<ns::Ref<NetHTTPFetcher>(
      const ns::Ref<ns::URLRequest>&, const ns::Ref<NetHTTPFetcherService>&,
      const ns::Ref<ApiUploadParameters>&, std::uint64_t)>;

  ApiService();
  ~ApiService() override;

  // ---- executing queries (a single ApiQuery or an ApiBatchQuery) ----
  TicketRef executeQuery_completionHandler(const ns::Ref<ns::Object>& query, CompletionHandler handler);
  TicketRef executeQuery_delegate_didFinishSelector(const ns::Ref<ns::Object>& query,
                                                    const ns::Ref<ns::Object>& delegate,
                                                    FinishedSelector selector);
  TicketRef executeBatchQuery_delegate_didFinishSelector_completionHandler_ticket(
      const ns::Ref<ApiBatchQuery>& batch, const ns::Ref<ns::Object>& delegate, FinishedSelector selector,
      CompletionHandler handler, TicketRef ticket);

  // ---- method-name entries (authorized, a fresh request ID, no URL parameters) ----
  TicketRef fetchObjectWithMethodNamed_parameters_objectClass_completionHandler(
      const std::string& methodName, const ns::Dictionary& parameters, ns::Class objectClass,
      CompletionHandler handler);
  TicketRef fetchObjectWithMethodNamed_insertingObject_objectClass_completionHandler(
      const std::string& methodName, const ns::Ref<ApiObject>& object, ns::Class objectClass,
      CompletionHandler handler);
  TicketRef fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_completionHandler(
      const std::string& methodName, const ns::Dictionary& parameters, const ns::Ref<ApiObject>& object,
      ns::Class objectClass, CompletionHandler handler);
  TicketRef fetchObjectWithMethodNamed_parameters_objectClass_delegate_didFinishSelector(
      const std::string& methodName, const ns::Dictionary& parameters, ns::Class objectClass,
      const ns::Ref<ns::Object>& delegate, FinishedSelector selector);
  TicketRef fetchObjectWithMethodNamed_insertingObject_objectClass_delegate_didFinishSelector(
      const std::string& methodName, const ns::Ref<ApiObject>& object, ns::Class objectClass,
      const ns::Ref<ns::Object>& delegate, FinishedSelector selector);
  TicketRef fetchObjectWithMethodNamed_parameters_insertingObject_objectClass_delegate_didFinishSelector(
      const std::string& methodName, const ns::Dictionary& parameters, const ns::Ref<ApiObject>& object,
      ns::Class objectClass, const ns::Ref<ns::Object>& delegate, FinishedSelector selector);
  // The core the entries above and the pages of a call lead to.
  TicketRef
  fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      const std::string& methodName, ns::Class objectClass, const ns::Ref<ApiJSONDictionary>& parameters,
      const ns::Ref<ApiObject>& bodyObject, const std::optional<std::string>& requestID,
      const ns::Dictionary& urlQueryParameters, const ns::Ref<ns::Object>& delegate,
      FinishedSelector selector, CompletionHandler handler, const ns::Ref<ns::Object>& executingQuery,
      TicketRef ticket);

  // ---- REST entries ----
  TicketRef fetchObjectWithURL_completionHandler(const ns::Ref<ns::URL>& url, CompletionHandler handler);
  TicketRef fetchObjectWithURL_delegate_didFinishSelector(const ns::Ref<ns::URL>& url,
                                                          const ns::Ref<ns::Object>& delegate,
                                                          FinishedSelector selector);
  TicketRef fetchObjectWithURL_objectClass_delegate_didFinishSelector(const ns::Ref<ns::URL>& url,
                                                                      ns::Class objectClass,
                                                                      const ns::Ref<ns::Object>& delegate,
                                                                      FinishedSelector selector);
  TicketRef fetchPublicObjectWithURL_objectClass_delegate_didFinishSelector(
      const ns::Ref<ns::URL>& url, ns::Class objectClass, const ns::Ref<ns::Object>& delegate,
      FinishedSelector selector);
  TicketRef fetchObjectByInsertingObject_forURL_completionHandler(const ns::Ref<ApiObject>& object,
                                                                  const ns::Ref<ns::URL>& url,
                                                                  CompletionHandler handler);
  TicketRef fetchObjectByInsertingObject_forURL_delegate_didFinishSelector(
      const ns::Ref<ApiObject>& object, const ns::Ref<ns::URL>& url, const ns::Ref<ns::Object>& delegate,
      FinishedSelector selector);
  TicketRef fetchObjectByUpdatingObject_forURL_completionHandler(const ns::Ref<ApiObject>& object,
                                                                 const ns::Ref<ns::URL>& url,
                                                                 CompletionHandler handler);
  TicketRef fetchObjectByUpdatingObject_forURL_delegate_didFinishSelector(const ns::Ref<ApiObject>& object,
                                                                          const ns::Ref<ns::URL>& url,
                                                                          const ns::Ref<ns::Object>& delegate,
                                                                          FinishedSelector selector);
  TicketRef deleteResourceURL_ETag_completionHandler(const ns::Ref<ns::URL>& url,
                                                     const std::optional<std::string>& etag,
                                                     CompletionHandler handler);
  TicketRef deleteResourceURL_ETag_delegate_didFinishSelector(const ns::Ref<ns::URL>& url,
                                                              const std::optional<std::string>& etag,
                                                              const ns::Ref<ns::Object>& delegate,
                                                              FinishedSelector selector);

  // ---- request building ----
  ns::Ref<ns::URLRequest> requestForURL_ETag_httpMethod(const ns::Ref<ns::URL>& url,
                                                        const std::optional<std::string>& etag,
                                                        const std::optional<std::string>& method);
  ns::Ref<ns::URLRequest> requestForURL_ETag_httpMethod_ticket(const ns::Ref<ns::URL>& url,
                                                               const std::optional<std::string>& etag,
                                                               const std::optional<std::string>& method,
                                                               const TicketRef& ticket);
  ns::Ref<ns::URLRequest> objectRequestForURL_object_ETag_httpMethod_isREST_additionalHeaders_ticket(
      const ns::Ref<ns::URL>& url, const ns::Ref<ApiObject>& object, std::optional<std::string> etag,
      const std::optional<std::string>& method, bool isREST, const ns::Dictionary& additionalHeaders,
      const TicketRef& ticket);
  // The JSON-RPC call object of one query.
  ns::Ref<ApiJSONDictionary> rpcPayloadForMethodNamed_parameters_bodyObject_requestID(
      const std::string& methodName, const ns::Ref<ApiJSONDictionary>& parameters,
      const ns::Ref<ApiObject>& bodyObject, const std::string& requestID);
  std::string requestUserAgent() const;
  // The upload fetcher of a query with upload parameters; nullptr while no factory is registered.
  ns::Ref<NetHTTPFetcher> uploadFetcherWithRequest_fetcherService_params(
      const ns::Ref<ns::URLRequest>& request, const ns::Ref<NetHTTPFetcherService>& fetcherService,
      const ns::Ref<ApiUploadParameters>& params);
  static void setUploadFetcherFactory(UploadFetcherFactory factory);

  // ---- replies (called by the fetcher; the service is its delegate) ----
  void objectFetcher_finishedWithData_error(const ns::Ref<NetHTTPFetcher>& fetcher,
                                            const std::optional<ns::Data>& data,
                                            const std::optional<ns::Error>& error);
  bool objectFetcher_willRetry_forError(const ns::Ref<NetHTTPFetcher>& fetcher, bool willRetry,
                                        const ns::Error& error);
  void objectFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(
      const ns::Ref<NetHTTPFetcher>& fetcher, std::int64_t bytesSent, std::int64_t totalBytesSent,
      std::int64_t totalBytesExpected);
  // The fetcher selectors above, as the fetcher takes them.
  static NetHTTPFetcher::FinishedSelector finishedSelector();
  static NetHTTPFetcher::RetrySelector retrySelector();
  static NetHTTPFetcher::SentDataSelector sentDataSelector();

  // The steps of reply handling.
  void prepareToParseObjectForFetcher(const ns::Ref<NetHTTPFetcher>& fetcher);
  void parseObjectFromDataOfFetcher(const ns::Ref<NetHTTPFetcher>& fetcher);
  void handleParsedObjectForFetcher(const ns::Ref<NetHTTPFetcher>& fetcher);
  ns::Ref<ns::Object> nextPageQueryForQuery_result_ticket(const ns::Ref<ns::Object>& query,
                                                          const ns::Ref<ApiObject>& result,
                                                          const TicketRef& ticket);
  bool fetchNextPageWithQuery_delegate_didFinishedSelector_completionHandler_ticket(
      const ns::Ref<ns::Object>& query, const ns::Ref<ns::Object>& delegate, FinishedSelector selector,
      CompletionHandler handler, const TicketRef& ticket);
  ns::Ref<ApiObject> mergedNewResultObject_oldResultObject_forQuery(const ns::Ref<ApiObject>& newResult,
                                                                    const ns::Ref<ApiObject>& oldResult,
                                                                    const ns::Ref<ns::Object>& query);
  void invokeProgressCallbackForTicket_deliveredBytes_totalBytes(const TicketRef& ticket,
                                                                 std::uint64_t delivered,
                                                                 std::uint64_t total);
  bool invokeRetrySelector_delegate_ticket_willRetry_error(const ApiServiceTicket::RetrySelector& selector,
                                                           const ns::Ref<ns::Object>& delegate,
                                                           const TicketRef& ticket, bool willRetry,
                                                           const ns::Error& error);
  static void invokeCallback_target_ticket_object_error(const FinishedSelector& selector,
                                                        const ns::Ref<ns::Object>& target,
                                                        const TicketRef& ticket,
                                                        const ns::Ref<ApiObject>& object,
                                                        const std::optional<ns::Error>& error);

  // Runs the current run loop until the ticket's callbacks have run or `seconds` pass; true when
  // the call ended without error. Meant for the thread that started the call.
  bool waitForTicket_timeout_fetchedObject_error(const TicketRef& ticket, double seconds,
                                                 ns::Ref<ApiObject>* object, ns::Error* error);

  // ---- configuration ----
  ns::Ref<ns::OperationQueue> parseQueue() const;
  // nullptr parses on the callback thread.
  void setParseQueue(ns::Ref<ns::OperationQueue> queue);
  std::optional<std::string> userAgent() const;
  // Stored cleaned of separators; setExactUserAgent stores it unchanged.
  void setUserAgent(const std::optional<std::string>& userAgent);
  void setExactUserAgent(const std::optional<std::string>& userAgent);
  std::optional<std::string> userAgentAddition() const;
  void setUserAgentAddition(const std::optional<std::string>& addition);
  const ns::Ref<NetHTTPFetcherService>& fetcherService() const { return fetcherService_; }
  void setFetcherService(ns::Ref<NetHTTPFetcherService> service);
  ns::Dictionary serviceProperties() const;
  void setServiceProperties(ns::Dictionary properties);
  void setServiceProperty_forKey(ns::Value value, const std::string& key);
  ns::Value servicePropertyForKey(const std::string& key) const;
  ns::Value serviceUserData() const { return servicePropertyForKey("_userData"); }
  void setServiceUserData(ns::Value value) { setServiceProperty_forKey(std::move(value), "_userData"); }
  ApiSurrogates surrogates() const;
  void setSurrogates(ApiSurrogates surrogates);
  ApiServiceTicket::UploadProgressSelector uploadProgressSelector() const;
  void setUploadProgressSelector(ApiServiceTicket::UploadProgressSelector selector);
  ApiServiceTicket::RetryBlock retryBlock() const;
  void setRetryBlock(ApiServiceTicket::RetryBlock block);
  ApiServiceTicket::UploadProgressBlock uploadProgressBlock() const;
  void setUploadProgressBlock(ApiServiceTicket::UploadProgressBlock block);
  std::uint64_t serviceUploadChunkSize() const;
  // The all-ones value stands for the standard size.
  void setServiceUploadChunkSize(std::uint64_t size);
  static std::uint64_t defaultServiceUploadChunkSize() { return ~std::uint64_t(0); }
  bool isRetryEnabled() const;
  void setRetryEnabled(bool enabled);
  ApiServiceTicket::RetrySelector retrySelectorForTickets() const;
  void setRetrySelector(ApiServiceTicket::RetrySelector selector);
  double maxRetryInterval() const;
  void setMaxRetryInterval(double seconds);
  bool shouldFetchNextPages() const;
  void setShouldFetchNextPages(bool value);
  bool allowInsecureQueries() const;
  void setAllowInsecureQueries(bool value);
  std::optional<std::string> APIKey() const;
  void setAPIKey(const std::optional<std::string>& key);
  bool isRESTDataWrapperRequired() const;
  void setRESTDataWrapperRequired(bool value);
  std::optional<std::string> apiVersion() const;
  void setApiVersion(const std::optional<std::string>& version);
  ns::Ref<ns::URL> rpcURL() const;
  void setRpcURL(ns::Ref<ns::URL> url);
  ns::Ref<ns::URL> rpcUploadURL() const;
  void setRpcUploadURL(ns::Ref<ns::URL> url);
  ns::Dictionary urlQueryParameters() const;
  void setUrlQueryParameters(ns::Dictionary parameters);
  ns::Dictionary additionalHTTPHeaders() const;
  void setAdditionalHTTPHeaders(ns::Dictionary headers);

  // Forwarded to the fetcher service.
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer() const { return fetcherService_->authorizer(); }
  void setAuthorizer(ns::Ref<NetFetcherAuthorizationProtocol> authorizer);
  long cookieStorageMethod() const { return fetcherService_->cookieStorageMethod(); }
  void setCookieStorageMethod(long method) { fetcherService_->setCookieStorageMethod(method); }
  bool shouldFetchInBackground() const { return fetcherService_->shouldFetchInBackground(); }
  void setShouldFetchInBackground(bool value) { fetcherService_->setShouldFetchInBackground(value); }
  ns::Ref<ns::OperationQueue> delegateQueue() const { return fetcherService_->delegateQueue(); }
  void setDelegateQueue(ns::Ref<ns::OperationQueue> queue) {
    fetcherService_->setDelegateQueue(std::move(queue));
  }
  std::vector<std::string> runLoopModes() const { return fetcherService_->runLoopModes(); }
  void setRunLoopModes(std::vector<std::string> modes) { fetcherService_->setRunLoopModes(std::move(modes)); }

  // The ticket class's maker; a subclass may make its own tickets.
  virtual TicketRef makeTicket();

  std::string className() const override { return "ApiService"; }

 protected:
  // The REST core: the body is the object's JSON (inside "data" when the wrapper is required).
  TicketRef
  fetchObjectWithURL_objectClass_bodyObject_ETag_httpMethod_mayAuthorize_delegate_didFinishSelector_completionHandler_ticket(
      const ns::Ref<ns::URL>& url, ns::Class objectClass, const ns::Ref<ApiObject>& bodyObject,
      const std::optional<std::string>& etag, const std::optional<std::string>& method, bool mayAuthorize,
      const ns::Ref<ns::Object>& delegate, FinishedSelector selector, CompletionHandler handler,
      TicketRef ticket);
  // The core fetch of both paths.
  TicketRef
  fetchObjectWithURL_objectClass_bodyObject_dataToPost_ETag_httpMethod_mayAuthorize_isREST_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
      ns::Ref<ns::URL> url, ns::Class objectClass, const ns::Ref<ApiObject>& bodyObject,
      const std::optional<ns::Data>& dataToPost, const std::optional<std::string>& etag,
      const std::optional<std::string>& method, bool mayAuthorize, bool isREST,
      const ns::Ref<ns::Object>& delegate, FinishedSelector selector, CompletionHandler handler,
      const ns::Ref<ns::Object>& executingQuery, TicketRef ticket);

 private:
  void handOnParsedObjectForFetcher(const ns::Ref<NetHTTPFetcher>& fetcher);

  mutable std::mutex lock_;
  ns::Ref<ns::OperationQueue> parseQueue_;
  std::optional<std::string> userAgent_;
  ns::Ref<NetHTTPFetcherService> fetcherService_;
  std::optional<std::string> userAgentAddition_;
  std::optional<ns::Dictionary> serviceProperties_;
  ApiSurrogates surrogates_;
  ApiServiceTicket::UploadProgressSelector uploadProgressSelector_;
  ApiServiceTicket::RetryBlock retryBlock_;
  ApiServiceTicket::UploadProgressBlock uploadProgressBlock_;
  std::uint64_t uploadChunkSize_ = 0;
  bool retryEnabled_ = false;
  ApiServiceTicket::RetrySelector retrySelector_;
  double maxRetryInterval_ = 0;
  bool shouldFetchNextPages_ = false;
  bool allowInsecureQueries_ = false;
  std::optional<std::string> apiKey_;
  bool restDataWrapperRequired_ = false;
  std::optional<std::string> apiVersion_;
  ns::Ref<ns::URL> rpcURL_;
  ns::Ref<ns::URL> rpcUploadURL_;
  ns::Dictionary urlQueryParameters_;
  ns::Dictionary additionalHTTPHeaders_;
};

// The ticket that owns a fetcher of the service (the fetcher's "_ticket"), or nullptr once its
// call has ended.
ns::Ref<ApiServiceTicket> ticket(const ns::Ref<NetHTTPFetcher>& fetcher);
