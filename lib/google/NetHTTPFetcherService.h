#pragma once
// Makes fetchers that share one set of settings, one fetch history (with its cookie store) and
// one authorizer, and throttles them: per host at most `maxRunningFetchersPerHost` run at once
// (0: no limit); the rest wait in a per-host queue and start, lowest `servicePriority` first
// (arrival order among equals), as running ones stop.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/google/NetHTTPFetcher.h"

class NetHTTPFetcherService : public ns::Object, public NetHTTPFetcherServiceProtocol {
 public:
  using FetcherRef = ns::Ref<NetHTTPFetcher>;
  using HostMap = std::map<std::string, std::vector<FetcherRef>>;
  // Makes a fetcher of the caller's class (e.g. an uploader) for a request.
  using FetcherMaker = std::function<FetcherRef(const ns::Ref<ns::URLRequest>&)>;

  NetHTTPFetcherService();
  ~NetHTTPFetcherService() override;

  // Settings are copied into the new fetcher; the service's User-Agent goes to a request that
  // has none, its time-out (when above 0) to every request.
  FetcherRef fetcherWithRequest_fetcherClass(const ns::Ref<ns::URLRequest>& request,
                                             const FetcherMaker& maker);
  FetcherRef fetcherWithRequest(const ns::Ref<ns::URLRequest>& request) override;
  FetcherRef fetcherWithURL(const ns::Ref<ns::URL>& url);
  FetcherRef fetcherWithURLString(const std::string& text);

  bool fetcherShouldBeginFetching(const FetcherRef& fetcher) override;
  void fetcherDidStop(const FetcherRef& fetcher) override;
  bool isDelayingFetcher(const FetcherRef& fetcher) override;
  // Begins a delayed fetcher on the thread that began it (or at once, with a delegate queue).
  void startFetcher(const FetcherRef& fetcher);
  void stopFetcher(const FetcherRef& fetcher);

  std::size_t numberOfRunningFetchers() const;
  std::size_t numberOfDelayedFetchers() const;
  std::size_t numberOfFetchers() const;
  // Running, then delayed fetchers whose request URL equals the URL; empty when none or when the
  // URL has no host.
  std::vector<FetcherRef> issuedFetchersWithRequestURL(const ns::Ref<ns::URL>& url) const;
  void stopAllFetchers();
  bool waitForCompletionOfAllFetchersWithTimeout(double seconds);

  HostMap runningHosts() const;
  void setRunningHosts(HostMap hosts);
  HostMap delayedHosts() const;
  void setDelayedHosts(HostMap hosts);

  // Fetch history.
  const ns::Ref<NetHTTPFetchHistory>& fetchHistory() const { return fetchHistory_; }
  bool shouldCacheETaggedData() const { return fetchHistory_->shouldCacheETaggedData(); }
  void setShouldCacheETaggedData(bool value) { fetchHistory_->setShouldCacheETaggedData(value); }
  std::uint64_t ETaggedDataCacheCapacity() const { return fetchHistory_->memoryCapacity(); }
  void setETaggedDataCacheCapacity(std::uint64_t value) { fetchHistory_->setMemoryCapacity(value); }
  bool shouldRememberETags() const { return fetchHistory_->shouldRememberETags(); }
  void setShouldRememberETags(bool value) { fetchHistory_->setShouldRememberETags(value); }
  void clearETaggedDataCache() { fetchHistory_->clearETaggedDataCache(); }
  void clearHistory() { fetchHistory_->clearHistory(); }

  // Settings given to each new fetcher.
  std::uint64_t maxRunningFetchersPerHost() const;
  void setMaxRunningFetchersPerHost(std::uint64_t limit);
  ns::Ref<ns::OperationQueue> delegateQueue() const override;
  void setDelegateQueue(ns::Ref<ns::OperationQueue> queue) override;
  std::vector<std::string> runLoopModes() const;
  void setRunLoopModes(std::vector<std::string> modes);
  std::optional<std::string> userAgent() const;
  void setUserAgent(std::optional<std::string> userAgent);
  double timeout() const;
  void setTimeout(double seconds);
  ns::Ref<ns::URLCredential> credential() const;
  void setCredential(ns::Ref<ns::URLCredential> credential);
  ns::Ref<ns::URLCredential> proxyCredential() const;
  void setProxyCredential(ns::Ref<ns::URLCredential> credential);
  long cookieStorageMethod() const;
  void setCookieStorageMethod(long method);
  std::vector<std::string> allowedInsecureSchemes() const;
  void setAllowedInsecureSchemes(std::vector<std::string> schemes);
  bool allowLocalhostRequest() const;
  void setAllowLocalhostRequest(bool allow);
  bool shouldFetchInBackground() const;
  void setShouldFetchInBackground(bool value);
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer() const;
  // Detaches the old authorizer from this service and attaches the new one.
  void setAuthorizer(ns::Ref<NetFetcherAuthorizationProtocol> authorizer);

  std::string className() const override { return "NetHTTPFetcherService"; }

 private:
  static std::string hostForFetcher(const NetHTTPFetcher& fetcher);
  static void removeFetcher(HostMap& map, const std::string& host, const NetHTTPFetcher* fetcher);
  static bool contains(const HostMap& map, const std::string& host, const NetHTTPFetcher* fetcher);

  mutable std::recursive_mutex mutex_;
  HostMap delayedHosts_;
  HostMap runningHosts_;
  std::uint64_t maxRunningFetchersPerHost_ = 10;
  ns::Ref<NetHTTPFetchHistory> fetchHistory_;
  ns::Ref<ns::OperationQueue> delegateQueue_;
  std::vector<std::string> runLoopModes_;
  std::optional<std::string> userAgent_;
  double timeout_ = 0;
  ns::Ref<ns::URLCredential> credential_;
  ns::Ref<ns::URLCredential> proxyCredential_;
  long cookieStorageMethod_ = CookieStorageMethodFetchHistory;
  std::vector<std::string> allowedInsecureSchemes_;
  bool allowLocalhostRequest_ = false;
  bool shouldFetchInBackground_ = false;
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer_;
};
