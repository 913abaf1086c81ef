#pragma once
// What a fetcher service remembers across its fetchers: ETags (and optionally the bodies they
// stand for) and the service's cookie store. With the default settings only the cookie store is
// in use; no "If-None-Match" is ever added.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "lib/google/NetCookieStorage.h"
#include "lib/google/NetURLCache.h"
#include "platform/core/Data.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

class NetHTTPFetchHistoryProtocol {
 public:
  virtual ~NetHTTPFetchHistoryProtocol() = default;
  virtual void updateRequest_isHTTPGet(const ns::Ref<ns::URLRequest>& request, bool isHTTPGet) = 0;
  virtual bool shouldCacheETaggedData() const = 0;
  virtual std::optional<ns::Data> cachedDataForRequest(const ns::Ref<ns::URLRequest>& request) = 0;
  virtual ns::Ref<NetCookieStorage> cookieStorage() const = 0;
  virtual void updateFetchHistoryWithRequest_response_downloadedData(
      const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::URLResponse>& response,
      const std::optional<ns::Data>& downloadedData) = 0;
  virtual void removeCachedDataForRequest(const ns::Ref<ns::URLRequest>& request) = 0;
};

class NetHTTPFetchHistory : public ns::Object, public NetHTTPFetchHistoryProtocol {
 public:
  // Default capacity, ETags neither remembered nor cached.
  NetHTTPFetchHistory();
  NetHTTPFetchHistory(std::uint64_t memoryCapacity, bool shouldCacheETaggedData);
  static ns::Ref<NetHTTPFetchHistory> initWithMemoryCapacity_shouldCacheETaggedData(std::uint64_t capacity,
                                                                                    bool shouldCache) {
    return ns::make<NetHTTPFetchHistory>(capacity, shouldCache);
  }

  // With ETags remembered: the request skips the local cache; a GET without its own
  // "If-None-Match" gets the cached reply's ETag (and the entry is reserved), one with its own
  // drops the cached entry.
  void updateRequest_isHTTPGet(const ns::Ref<ns::URLRequest>& request, bool isHTTPGet) override;
  void updateFetchHistoryWithRequest_response_downloadedData(
      const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::URLResponse>& response,
      const std::optional<ns::Data>& downloadedData) override;
  // The cached body for a 304, releasing the entry's reservation.
  std::optional<ns::Data> cachedDataForRequest(const ns::Ref<ns::URLRequest>& request) override;
  void removeCachedDataForRequest(const ns::Ref<ns::URLRequest>& request) override;
  std::optional<std::string> cachedETagForRequest(const ns::Ref<ns::URLRequest>& request);

  void clearETaggedDataCache();
  // The cache and every cookie.
  void clearHistory();
  void removeAllCookies();

  bool shouldRememberETags() const;
  // Turning it off clears the cache.
  void setShouldRememberETags(bool remember);
  bool shouldCacheETaggedData() const override;
  // Turning it on also remembers ETags; turning it off clears the cache.
  void setShouldCacheETaggedData(bool cache);
  std::uint64_t memoryCapacity() const { return cache_->memoryCapacity(); }
  void setMemoryCapacity(std::uint64_t capacity) { cache_->setMemoryCapacity(capacity); }
  const ns::Ref<NetURLCache>& etaggedDataCache() const { return cache_; }

  ns::Ref<NetCookieStorage> cookieStorage() const override;
  void setCookieStorage(ns::Ref<NetCookieStorage> storage);

  std::string className() const override { return "NetHTTPFetchHistory"; }

 private:
  mutable std::recursive_mutex mutex_;
  ns::Ref<NetURLCache> cache_;
  bool shouldRememberETags_ = false;
  bool shouldCacheETaggedData_ = false;
  ns::Ref<NetCookieStorage> cookieStorage_;
};
