// The plain settings of a fetcher, each under the fetcher's lock.
#include "lib/google/NetHTTPFetcher.h"

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Stream.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/runloop/Thread.h"

#define FETCHER_PROPERTY(Type, getter, setter, member) \
  Type NetHTTPFetcher::getter() const {                \
    std::lock_guard lock(mutex_);                      \
    return member;                                     \
  }                                                    \
  void NetHTTPFetcher::setter(Type value) {            \
    std::lock_guard lock(mutex_);                      \
    member = std::move(value);                         \
  }

FETCHER_PROPERTY(ns::Ref<ns::Object>, delegate, setDelegate, delegate_)
FETCHER_PROPERTY(ns::Ref<ns::OperationQueue>, delegateQueue, setDelegateQueue, delegateQueue_)
FETCHER_PROPERTY(std::vector<std::string>, runLoopModes, setRunLoopModes, runLoopModes_)
FETCHER_PROPERTY(std::optional<ns::Data>, postData, setPostData, postData_)
FETCHER_PROPERTY(ns::Ref<ns::InputStream>, postStream, setPostStream, postStream_)
FETCHER_PROPERTY(ns::Ref<ns::URLResponse>, response, setResponse, response_)
FETCHER_PROPERTY(std::optional<std::string>, downloadPath, setDownloadPath, downloadPath_)
FETCHER_PROPERTY(ns::Ref<ns::FileHandle>, downloadFileHandle, setDownloadFileHandle, downloadFileHandle_)
FETCHER_PROPERTY(std::vector<std::string>, allowedInsecureSchemes, setAllowedInsecureSchemes,
                 allowedInsecureSchemes_)
FETCHER_PROPERTY(bool, allowLocalhostRequest, setAllowLocalhostRequest, allowLocalhostRequest_)
FETCHER_PROPERTY(ns::Ref<ns::URLCredential>, credential, setCredential, credential_)
FETCHER_PROPERTY(ns::Ref<ns::URLCredential>, proxyCredential, setProxyCredential, proxyCredential_)
FETCHER_PROPERTY(ns::Ref<NetFetcherAuthorizationProtocol>, authorizer, setAuthorizer, authorizer_)
FETCHER_PROPERTY(ns::Ref<NetCookieStorageProtocol>, cookieStorage, setCookieStorage, cookieStorage_)
FETCHER_PROPERTY(ns::Ref<NetHTTPFetcherServiceProtocol>, service, setService, service_)
FETCHER_PROPERTY(std::optional<std::string>, serviceHost, setServiceHost, serviceHost_)
FETCHER_PROPERTY(std::int64_t, servicePriority, setServicePriority, servicePriority_)
FETCHER_PROPERTY(ns::Ref<ns::Thread>, thread, setThread, thread_)
FETCHER_PROPERTY(bool, shouldFetchInBackground, setShouldFetchInBackground, shouldFetchInBackground_)
FETCHER_PROPERTY(ns::Value, userData, setUserData, userData_)
FETCHER_PROPERTY(std::optional<std::string>, comment, setComment, comment_)
FETCHER_PROPERTY(std::optional<std::string>, log, setLog, log_)

#undef FETCHER_PROPERTY

void NetHTTPFetcher::setCompletionBlock(CompletionBlock block) {
  std::lock_guard lock(mutex_);
  completionBlock_ = std::move(block);
}

void NetHTTPFetcher::setSentDataSelector(SentDataSelector selector) {
  std::lock_guard lock(mutex_);
  sentDataSel_ = std::move(selector);
}

void NetHTTPFetcher::setSentDataBlock(SentDataBlock block) {
  std::lock_guard lock(mutex_);
  sentDataBlock_ = std::move(block);
}

void NetHTTPFetcher::setReceivedDataSelector(ReceivedDataSelector selector) {
  std::lock_guard lock(mutex_);
  receivedDataSel_ = std::move(selector);
}

void NetHTTPFetcher::setReceivedDataBlock(ReceivedDataBlock block) {
  std::lock_guard lock(mutex_);
  receivedDataBlock_ = std::move(block);
}

ns::Ref<ns::URLRequest> NetHTTPFetcher::mutableRequest() const {
  std::lock_guard lock(mutex_);
  return request_;
}

void NetHTTPFetcher::setMutableRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  request_ = request ? request->mutableCopy() : nullptr;
  if (request_) request_->setHTTPShouldHandleCookies(cookieStorageMethod_ == CookieStorageMethodSystem);
}

std::optional<ns::Data> NetHTTPFetcher::downloadedData() const {
  std::lock_guard lock(mutex_);
  if (!downloadedData_) return std::nullopt;
  return downloadedData_->copy();
}

std::uint64_t NetHTTPFetcher::downloadedLength() const {
  std::lock_guard lock(mutex_);
  return downloadedLength_;
}

std::optional<std::string> NetHTTPFetcher::temporaryDownloadPath() const {
  std::lock_guard lock(mutex_);
  return temporaryDownloadPath_;
}

long NetHTTPFetcher::cookieStorageMethod() const {
  std::lock_guard lock(mutex_);
  return cookieStorageMethod_;
}

void NetHTTPFetcher::setCookieStorageMethod(long method) {
  std::lock_guard lock(mutex_);
  cookieStorageMethod_ = method;
  // Only the system method lets the URL loader handle cookies itself.
  if (request_) request_->setHTTPShouldHandleCookies(method == CookieStorageMethodSystem);
  cookieStorage_ = storageForMethod(method);
}

ns::Ref<NetHTTPFetchHistoryProtocol> NetHTTPFetcher::fetchHistory() const {
  std::lock_guard lock(mutex_);
  return fetchHistory_;
}

void NetHTTPFetcher::setFetchHistory(ns::Ref<NetHTTPFetchHistoryProtocol> history) {
  std::lock_guard lock(mutex_);
  fetchHistory_ = std::move(history);
  if (fetchHistory_) {
    setCookieStorageMethod(CookieStorageMethodFetchHistory);
  } else if (cookieStorageMethod_ == CookieStorageMethodFetchHistory) {
    setCookieStorageMethod(CookieStorageMethodStatic);
  }
}

ns::Dictionary NetHTTPFetcher::properties() const {
  std::lock_guard lock(mutex_);
  return properties_.value_or(ns::Dictionary());
}

void NetHTTPFetcher::setProperties(ns::Dictionary properties) {
  std::lock_guard lock(mutex_);
  properties_ = std::move(properties);
}

void NetHTTPFetcher::setProperty_forKey(ns::Value value, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (value.isNil()) {
    if (properties_) properties_->remove(key);
    return;
  }
  if (!properties_) properties_ = ns::Dictionary();
  properties_->set(key, std::move(value));
}

ns::Value NetHTTPFetcher::propertyForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  if (!properties_) return ns::Value();
  return (*properties_)[key];
}

void NetHTTPFetcher::addPropertiesFromDictionary(const ns::Dictionary& dictionary) {
  std::lock_guard lock(mutex_);
  if (!properties_) properties_ = ns::Dictionary();
  for (const auto& [key, value] : dictionary) properties_->set(key, value);
}

ns::Ref<ns::URL> NetHTTPFetcher::redirectedFromURL() const {
  std::lock_guard lock(mutex_);
  return redirectedFromURL_;
}

std::optional<ns::Date> NetHTTPFetcher::initialRequestDate() const {
  std::lock_guard lock(mutex_);
  return initialRequestDate_;
}
