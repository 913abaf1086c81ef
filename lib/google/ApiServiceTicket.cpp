#include "lib/google/ApiServiceTicket.h"

#include <cstdio>

#include "lib/google/ApiBatchQuery.h"
#include "lib/google/ApiService.h"
#include "lib/google/NetHTTPFetcher.h"
#include "platform/foundation/Operation.h"

ApiQueryProtocol* ApiQueryProtocolOf(const ns::Ref<ns::Object>& query) {
  return dynamic_cast<ApiQueryProtocol*>(query.get());
}

ApiServiceTicket::ApiServiceTicket(const ns::Ref<ApiService>& service) : service_(service) {
  if (!service) return;
  properties_ = service->serviceProperties();
  surrogates_ = service->surrogates();
  uploadProgressSelector_ = service->uploadProgressSelector();
  shouldFetchNextPages_ = service->shouldFetchNextPages();
  retryEnabled_ = service->isRetryEnabled();
  retrySelector_ = service->retrySelectorForTickets();
  maxRetryInterval_ = service->maxRetryInterval();
  retryBlock_ = service->retryBlock();
  uploadProgressBlock_ = service->uploadProgressBlock();
  apiKey_ = service->APIKey();
}

ApiServiceTicket::~ApiServiceTicket() = default;

ns::Ref<ApiServiceTicket> ApiServiceTicket::ticketForService(const ns::Ref<ApiService>& service) {
  return ns::make<ApiServiceTicket>(service);
}

void ApiServiceTicket::cancelTicket() {
  if (auto operation = parseOperation_.exchange(nullptr)) operation->cancel();

  if (auto fetcher = std::move(objectFetcher_)) {
    objectFetcher_.reset();
    fetcher->stopFetching();
    // Without its bag, a reply already on its way finds no ticket, delegate or block.
    fetcher->setProperties({});
  }

  properties_ = {};
  uploadProgressSelector_ = {};
  {
    std::lock_guard guard(blockLock_);
    uploadProgressBlock_ = nullptr;
    retryBlock_ = nullptr;
  }

  if (auto* query = ApiQueryProtocolOf(executingQuery_)) query->executionDidStop();
  executingQuery_ = originalQuery_;

  // Held until this call returns, as a caller inside one of the service's methods may still use it.
  ns::Ref<ApiService> service = std::move(service_);
  service_.reset();
}

void ApiServiceTicket::pauseUpload() {
  // Only the upload fetcher pauses; it registers itself through the upload fetcher factory.
  if (auto* pausable = dynamic_cast<ApiPausableFetcher*>(objectFetcher_.get())) pausable->pauseFetching();
}

void ApiServiceTicket::resumeUpload() {
  if (auto* pausable = dynamic_cast<ApiPausableFetcher*>(objectFetcher_.get())) pausable->resumeFetching();
}

bool ApiServiceTicket::isUploadPaused() const {
  auto* pausable = dynamic_cast<const ApiPausableFetcher*>(objectFetcher_.get());
  return pausable && pausable->isPaused();
}

long ApiServiceTicket::statusCode() const {
  return objectFetcher_ ? objectFetcher_->statusCode() : 0;
}

ns::Ref<ApiQuery> ApiServiceTicket::queryForRequestID(const std::string& requestID) const {
  if (auto batch = std::dynamic_pointer_cast<ApiBatchQuery>(executingQuery_))
    return batch->queryForRequestID(requestID);
  return nullptr;
}

void ApiServiceTicket::setProperty_forKey(ns::Value value, const std::string& key) {
  properties_.set(ns::Value(key), std::move(value));
}

ns::Value ApiServiceTicket::propertyForKey(const std::string& key) const {
  return properties_.objectForKey(ns::Value(key));
}

void ApiServiceTicket::setUploadProgressSelector(UploadProgressSelector selector) {
  bool install = static_cast<bool>(selector);
  uploadProgressSelector_ = std::move(selector);
  if (install && objectFetcher_) objectFetcher_->setSentDataSelector(ApiService::sentDataSelector());
}

ApiServiceTicket::UploadProgressBlock ApiServiceTicket::uploadProgressBlock() const {
  std::lock_guard guard(blockLock_);
  return uploadProgressBlock_;
}

void ApiServiceTicket::setUploadProgressBlock(UploadProgressBlock block) {
  bool install = static_cast<bool>(block);
  {
    std::lock_guard guard(blockLock_);
    uploadProgressBlock_ = std::move(block);
  }
  if (install && objectFetcher_) objectFetcher_->setSentDataSelector(ApiService::sentDataSelector());
}

ApiServiceTicket::RetryBlock ApiServiceTicket::retryBlock() const {
  std::lock_guard guard(blockLock_);
  return retryBlock_;
}

void ApiServiceTicket::setRetryBlock(RetryBlock block) {
  std::lock_guard guard(blockLock_);
  retryBlock_ = std::move(block);
}

std::string ApiServiceTicket::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string text =
      className() + " " + address + ": {service:" + (service_ ? service_->description() : "(null)");
  if (apiKey_ && !apiKey_->empty()) text += " devKey:" + *apiKey_;
  if (objectFetcher_)
    if (auto authorizer = objectFetcher_->authorizer()) {
      auto* object = dynamic_cast<ns::Object*>(authorizer.get());
      text += " authorizer:" + (object ? object->description() : std::string("<authorizer>"));
    }
  text += " fetcher:" + (objectFetcher_ ? objectFetcher_->description() : std::string("(null)"));
  return text + " }";
}
