#include "lib/google/NetHTTPFetchHistory.h"

namespace {

constexpr char kIfNoneMatchHeader[] = "If-None-Match";
constexpr char kETagHeader[] = "Etag";

}  // namespace

NetHTTPFetchHistory::NetHTTPFetchHistory()
    : NetHTTPFetchHistory(NetURLCache::kDefaultMemoryCapacity, false) {}

NetHTTPFetchHistory::NetHTTPFetchHistory(std::uint64_t memoryCapacity, bool shouldCacheETaggedData)
    : cache_(ns::make<NetURLCache>(memoryCapacity)),
      shouldRememberETags_(shouldCacheETaggedData),
      shouldCacheETaggedData_(shouldCacheETaggedData),
      cookieStorage_(ns::make<NetCookieStorage>()) {}

void NetHTTPFetchHistory::updateRequest_isHTTPGet(const ns::Ref<ns::URLRequest>& request, bool isHTTPGet) {
  std::lock_guard lock(mutex_);
  if (!shouldRememberETags_ || !request) return;
  request->setCachePolicy(ns::URLRequestReloadIgnoringLocalCacheData);
  if (!isHTTPGet) return;
  if (request->valueForHTTPHeaderField(kIfNoneMatchHeader)) {
    // The caller brought its own ETag: what we kept for the URL is of no use.
    cache_->removeCachedResponseForRequest(request);
    return;
  }
  auto cached = cache_->cachedResponseForRequest(request);
  if (!cached) return;
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(cached->response());
  auto etag = http ? http->valueForHTTPHeaderField(kETagHeader) : std::nullopt;
  if (!etag) return;
  request->setValue_forHTTPHeaderField(*etag, kIfNoneMatchHeader);
  cached->setReservationDate(ns::Date::now());
}

void NetHTTPFetchHistory::updateFetchHistoryWithRequest_response_downloadedData(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::URLResponse>& response,
    const std::optional<ns::Data>& downloadedData) {
  std::lock_guard lock(mutex_);
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
  if (!shouldRememberETags_ || !http) return;
  long status = http->statusCode();
  if (status == 304) return;
  auto etag = http->valueForHTTPHeaderField(kETagHeader);
  if (status >= 300 || !etag) {
    cache_->removeCachedResponseForRequest(request);
    return;
  }
  auto entry =
      ns::make<NetCachedURLResponse>(response, shouldCacheETaggedData_ ? downloadedData : std::nullopt);
  cache_->storeCachedResponse_forRequest(entry, request);
}

std::optional<ns::Data> NetHTTPFetchHistory::cachedDataForRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  auto cached = cache_->cachedResponseForRequest(request);
  if (!cached) return std::nullopt;
  cached->setReservationDate(std::nullopt);
  return cached->data();
}

void NetHTTPFetchHistory::removeCachedDataForRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  cache_->removeCachedResponseForRequest(request);
}

std::optional<std::string> NetHTTPFetchHistory::cachedETagForRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  auto cached = cache_->cachedResponseForRequest(request);
  auto http = cached ? std::dynamic_pointer_cast<ns::HTTPURLResponse>(cached->response()) : nullptr;
  return http ? http->valueForHTTPHeaderField(kETagHeader) : std::nullopt;
}

void NetHTTPFetchHistory::clearETaggedDataCache() {
  cache_->removeAllCachedResponses();
}

void NetHTTPFetchHistory::clearHistory() {
  clearETaggedDataCache();
  removeAllCookies();
}

void NetHTTPFetchHistory::removeAllCookies() {
  cookieStorage()->removeAllCookies();
}

bool NetHTTPFetchHistory::shouldRememberETags() const {
  std::lock_guard lock(mutex_);
  return shouldRememberETags_;
}

void NetHTTPFetchHistory::setShouldRememberETags(bool remember) {
  std::lock_guard lock(mutex_);
  bool was = shouldRememberETags_;
  shouldRememberETags_ = remember;
  if (was && !remember) clearETaggedDataCache();
}

bool NetHTTPFetchHistory::shouldCacheETaggedData() const {
  std::lock_guard lock(mutex_);
  return shouldCacheETaggedData_;
}

void NetHTTPFetchHistory::setShouldCacheETaggedData(bool cache) {
  std::lock_guard lock(mutex_);
  bool was = shouldCacheETaggedData_;
  shouldCacheETaggedData_ = cache;
  if (cache) shouldRememberETags_ = true;
  if (was && !cache) clearETaggedDataCache();
}

ns::Ref<NetCookieStorage> NetHTTPFetchHistory::cookieStorage() const {
  std::lock_guard lock(mutex_);
  return cookieStorage_;
}

void NetHTTPFetchHistory::setCookieStorage(ns::Ref<NetCookieStorage> storage) {
  std::lock_guard lock(mutex_);
  cookieStorage_ = std::move(storage);
}
