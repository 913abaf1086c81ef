#pragma once
// The handle of one executing Data API call, from the moment the service starts it until its
// callbacks have run; every page of an automatically paged call shares it. At creation it takes
// its own copies of the service's per-call settings (retry, paging, progress, API key,
// surrogates, properties), so a caller may change them for this call alone on the returned ticket,
// right after the execute call, on the same thread.
//
// A ticket is used on the thread that started the call; only the parse operation (which the
// parse queue reads while the caller may cancel) and the retry block are shared.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "lib/google/ApiObject.h"
#include "lib/google/ApiQueryProtocol.h"
#include "lib/google/CallbackSelector.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {
class Operation;
}
class ApiService;
class ApiServiceTicket;
class NetHTTPFetcher;
class ApiQuery;

// What a fetcher that can pause (the upload fetcher) offers the ticket; other fetchers ignore
// pause and resume.
class ApiPausableFetcher {
 public:
  virtual ~ApiPausableFetcher() = default;
  virtual void pauseFetching() = 0;
  virtual void resumeFetching() = 0;
  virtual bool isPaused() const = 0;
};

// A single query or a batch, as the service and the ticket hold them.
ApiQueryProtocol* ApiQueryProtocolOf(const ns::Ref<ns::Object>& query);

class ApiServiceTicket : public ns::Object {
 public:
  using TicketRef = ns::Ref<ApiServiceTicket>;
  // (ticket, proposed flag, error) -> final flag
  using RetryBlock = std::function<bool(const TicketRef&, bool, const ns::Error&)>;
  using RetrySelector = CallbackSelector<bool(const TicketRef&, bool, const ns::Error&)>;
  // (ticket, bytes delivered, bytes in all)
  using UploadProgressBlock = std::function<void(const TicketRef&, std::uint64_t, std::uint64_t)>;
  using UploadProgressSelector = CallbackSelector<void(const TicketRef&, std::uint64_t, std::uint64_t)>;

  // initWithService: holds the service and takes the copies of its settings.
  explicit ApiServiceTicket(const ns::Ref<ApiService>& service);
  ~ApiServiceTicket() override;
  static TicketRef ticketForService(const ns::Ref<ApiService>& service);

  // Stops the call for good: no callback of it runs afterwards.
  void cancelTicket();
  // Passed to an upload fetcher; a plain fetcher ignores them.
  void pauseUpload();
  void resumeUpload();
  bool isUploadPaused() const;
  // The fetcher's HTTP status, 0 before a response.
  long statusCode() const;
  // The member of an executing batch with that ID; nullptr for a single query.
  ns::Ref<ApiQuery> queryForRequestID(const std::string& requestID) const;

  const ns::Ref<ApiService>& service() const { return service_; }
  void setService(ns::Ref<ApiService> service) { service_ = std::move(service); }

  // Free key/value store; "_userData" holds the user data.
  const ns::Dictionary& properties() const { return properties_; }
  void setProperties(ns::Dictionary properties) { properties_ = std::move(properties); }
  void setProperty_forKey(ns::Value value, const std::string& key);
  ns::Value propertyForKey(const std::string& key) const;
  ns::Value userData() const { return propertyForKey("_userData"); }
  void setUserData(ns::Value value) { setProperty_forKey(std::move(value), "_userData"); }

  const ApiSurrogates& surrogates() const { return surrogates_; }
  void setSurrogates(ApiSurrogates surrogates) { surrogates_ = std::move(surrogates); }
  const ns::Ref<NetHTTPFetcher>& objectFetcher() const { return objectFetcher_; }
  void setObjectFetcher(ns::Ref<NetHTTPFetcher> fetcher) { objectFetcher_ = std::move(fetcher); }

  const UploadProgressSelector& uploadProgressSelector() const { return uploadProgressSelector_; }
  // Non-empty values also install the service's sent-data hook on the current fetcher.
  void setUploadProgressSelector(UploadProgressSelector selector);
  UploadProgressBlock uploadProgressBlock() const;
  void setUploadProgressBlock(UploadProgressBlock block);

  bool shouldFetchNextPages() const { return shouldFetchNextPages_; }
  void setShouldFetchNextPages(bool value) { shouldFetchNextPages_ = value; }
  bool isRetryEnabled() const { return retryEnabled_; }
  void setRetryEnabled(bool value) { retryEnabled_ = value; }
  const RetrySelector& retrySelector() const { return retrySelector_; }
  void setRetrySelector(RetrySelector selector) { retrySelector_ = std::move(selector); }
  double maxRetryInterval() const { return maxRetryInterval_; }
  void setMaxRetryInterval(double seconds) { maxRetryInterval_ = seconds; }
  RetryBlock retryBlock() const;
  void setRetryBlock(RetryBlock block);

  const ns::Ref<ApiObject>& postedObject() const { return postedObject_; }
  void setPostedObject(ns::Ref<ApiObject> object) { postedObject_ = std::move(object); }
  const ns::Ref<ApiObject>& fetchedObject() const { return fetchedObject_; }
  void setFetchedObject(ns::Ref<ApiObject> object) { fetchedObject_ = std::move(object); }
  const ns::Ref<ns::Object>& executingQuery() const { return executingQuery_; }
  void setExecutingQuery(ns::Ref<ns::Object> query) { executingQuery_ = std::move(query); }
  const ns::Ref<ns::Object>& originalQuery() const { return originalQuery_; }
  void setOriginalQuery(ns::Ref<ns::Object> query) { originalQuery_ = std::move(query); }
  const std::optional<ns::Error>& fetchError() const { return fetchError_; }
  void setFetchError(std::optional<ns::Error> error) { fetchError_ = std::move(error); }
  bool hasCalledCallback() const { return hasCalledCallback_.load(); }
  void setHasCalledCallback(bool value) { hasCalledCallback_ = value; }
  std::uint64_t pagesFetchedCounter() const { return pagesFetchedCounter_; }
  void setPagesFetchedCounter(std::uint64_t count) { pagesFetchedCounter_ = count; }
  // The service's key when the ticket was made; shown in the description only.
  const std::optional<std::string>& APIKey() const { return apiKey_; }
  void setAPIKey(std::optional<std::string> key) { apiKey_ = std::move(key); }
  bool isREST() const { return isREST_; }
  void setIsREST(bool value) { isREST_ = value; }
  ns::Ref<ns::Operation> parseOperation() const { return parseOperation_.load(); }
  void setParseOperation(ns::Ref<ns::Operation> operation) { parseOperation_.store(std::move(operation)); }

  std::string className() const override { return "ApiServiceTicket"; }
  // "ApiServiceTicket 0x...: {service:<...> devKey:k authorizer:<...> fetcher:<...> }"
  std::string description() const override;

 private:
  ns::Ref<ApiService> service_;
  ns::Dictionary properties_;
  ApiSurrogates surrogates_;
  ns::Ref<NetHTTPFetcher> objectFetcher_;
  UploadProgressSelector uploadProgressSelector_;
  bool shouldFetchNextPages_ = false;
  bool retryEnabled_ = false;
  RetrySelector retrySelector_;
  double maxRetryInterval_ = 0;
  mutable std::mutex blockLock_;
  RetryBlock retryBlock_;
  UploadProgressBlock uploadProgressBlock_;
  ns::Ref<ApiObject> postedObject_;
  ns::Ref<ApiObject> fetchedObject_;
  ns::Ref<ns::Object> executingQuery_;
  ns::Ref<ns::Object> originalQuery_;
  std::optional<ns::Error> fetchError_;
  std::atomic<bool> hasCalledCallback_{false};
  std::uint64_t pagesFetchedCounter_ = 0;
  std::optional<std::string> apiKey_;
  bool isREST_ = false;
  std::atomic<ns::Ref<ns::Operation>> parseOperation_;
};
