#include "lib/google/NetHTTPFetcherService.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/foundation/OperationQueue.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

NetHTTPFetcherService::NetHTTPFetcherService() : fetchHistory_(ns::make<NetHTTPFetchHistory>()) {}

NetHTTPFetcherService::~NetHTTPFetcherService() {
  // The authorizer's link to this service has already lapsed; tell it so unless it moved on.
  if (authorizer_ && !authorizer_->fetcherService()) authorizer_->setFetcherService(nullptr);
}

NetHTTPFetcherService::FetcherRef NetHTTPFetcherService::fetcherWithRequest_fetcherClass(
    const ns::Ref<ns::URLRequest>& request, const FetcherMaker& maker) {
  auto fetcher = maker ? maker(request) : NetHTTPFetcher::fetcherWithRequest(request);
  if (!fetcher) return nullptr;
  std::lock_guard lock(mutex_);
  fetcher->setFetchHistory(fetchHistory_);
  fetcher->setDelegateQueue(delegateQueue_);
  fetcher->setRunLoopModes(runLoopModes_);
  fetcher->setCookieStorageMethod(cookieStorageMethod_);
  fetcher->setCredential(credential_);
  fetcher->setProxyCredential(proxyCredential_);
  fetcher->setShouldFetchInBackground(shouldFetchInBackground_);
  fetcher->setAllowedInsecureSchemes(allowedInsecureSchemes_);
  fetcher->setAllowLocalhostRequest(allowLocalhostRequest_);
  fetcher->setAuthorizer(authorizer_);
  fetcher->setService(std::static_pointer_cast<NetHTTPFetcherService>(shared_from_this()));
  if (auto mutableRequest = fetcher->mutableRequest()) {
    if (userAgent_ && !userAgent_->empty() && !mutableRequest->valueForHTTPHeaderField("User-Agent"))
      mutableRequest->setValue_forHTTPHeaderField(*userAgent_, "User-Agent");
    if (timeout_ > 0) mutableRequest->setTimeoutInterval(timeout_);
  }
  return fetcher;
}

NetHTTPFetcherService::FetcherRef NetHTTPFetcherService::fetcherWithRequest(
    const ns::Ref<ns::URLRequest>& request) {
  return fetcherWithRequest_fetcherClass(request, nullptr);
}

NetHTTPFetcherService::FetcherRef NetHTTPFetcherService::fetcherWithURL(const ns::Ref<ns::URL>& url) {
  return fetcherWithRequest(url ? ns::URLRequest::requestWithURL(url) : nullptr);
}

NetHTTPFetcherService::FetcherRef NetHTTPFetcherService::fetcherWithURLString(const std::string& text) {
  return fetcherWithURL(ns::URL::URLWithString(text));
}

std::string NetHTTPFetcherService::hostForFetcher(const NetHTTPFetcher& fetcher) {
  auto request = fetcher.mutableRequest();
  auto url = request ? request->URL() : nullptr;
  if (!url) return std::string();
  std::string host = url->host().value_or("");
  if (host.empty() && url->isFileURL()) host = "localhost";
  return host;
}

bool NetHTTPFetcherService::contains(const HostMap& map, const std::string& host,
                                     const NetHTTPFetcher* fetcher) {
  auto it = map.find(host);
  if (it == map.end()) return false;
  return std::any_of(it->second.begin(), it->second.end(),
                     [&](const FetcherRef& f) { return f.get() == fetcher; });
}

void NetHTTPFetcherService::removeFetcher(HostMap& map, const std::string& host,
                                          const NetHTTPFetcher* fetcher) {
  auto it = map.find(host);
  if (it == map.end()) return;
  std::erase_if(it->second, [&](const FetcherRef& f) { return f.get() == fetcher; });
}

bool NetHTTPFetcherService::fetcherShouldBeginFetching(const FetcherRef& fetcher) {
  std::lock_guard lock(mutex_);
  std::string host = hostForFetcher(*fetcher);
  if (host.empty()) return true;
  if (contains(runningHosts_, host, fetcher.get())) return true;
  fetcher->setServiceHost(host);
  fetcher->setThread(ns::Thread::currentThread());
  auto& running = runningHosts_[host];
  if (maxRunningFetchersPerHost_ > 0 && running.size() >= maxRunningFetchersPerHost_) {
    if (running.empty()) runningHosts_.erase(host);
    delayedHosts_[host].push_back(fetcher);
    return false;
  }
  running.push_back(fetcher);
  return true;
}

void NetHTTPFetcherService::fetcherDidStop(const FetcherRef& fetcher) {
  std::lock_guard lock(mutex_);
  auto host = fetcher->serviceHost();
  if (!host) return;
  removeFetcher(runningHosts_, *host, fetcher.get());
  removeFetcher(delayedHosts_, *host, fetcher.get());
  while (true) {
    auto delayed = delayedHosts_.find(*host);
    if (delayed == delayedHosts_.end() || delayed->second.empty()) break;
    auto& running = runningHosts_[*host];
    if (maxRunningFetchersPerHost_ > 0 && running.size() >= maxRunningFetchersPerHost_) break;
    auto best = std::min_element(
        delayed->second.begin(), delayed->second.end(),
        [](const FetcherRef& a, const FetcherRef& b) { return a->servicePriority() < b->servicePriority(); });
    FetcherRef next = *best;
    delayed->second.erase(best);
    running.push_back(next);
    startFetcher(next);
  }
  for (auto* map : {&runningHosts_, &delayedHosts_})
    std::erase_if(*map, [](const auto& entry) { return entry.second.empty(); });
  fetcher->setServiceHost(std::nullopt);
  fetcher->setThread(nullptr);
}

bool NetHTTPFetcherService::isDelayingFetcher(const FetcherRef& fetcher) {
  std::lock_guard lock(mutex_);
  return contains(delayedHosts_, hostForFetcher(*fetcher), fetcher.get());
}

void NetHTTPFetcherService::startFetcher(const FetcherRef& fetcher) {
  auto thread = fetcher->thread();
  if (fetcher->delegateQueue() || !thread || thread == ns::Thread::currentThread()) {
    fetcher->beginFetchMayDelay_mayAuthorize(false, true);
    return;
  }
  ns::Thread::performOnThread(thread,
                              {fetcher, "startFetcher:", nullptr,
                               [fetcher] { fetcher->beginFetchMayDelay_mayAuthorize(false, true); }},
                              false);
}

void NetHTTPFetcherService::stopFetcher(const FetcherRef& fetcher) {
  auto thread = fetcher->thread();
  if (fetcher->delegateQueue() || !thread || thread == ns::Thread::currentThread()) {
    fetcher->stopFetching();
    return;
  }
  ns::Thread::performOnThread(
      thread, {fetcher, "stopFetcher:", nullptr, [fetcher] { fetcher->stopFetching(); }}, false);
}

std::size_t NetHTTPFetcherService::numberOfRunningFetchers() const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [host, fetchers] : runningHosts_) count += fetchers.size();
  return count;
}

std::size_t NetHTTPFetcherService::numberOfDelayedFetchers() const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [host, fetchers] : delayedHosts_) count += fetchers.size();
  return count;
}

std::size_t NetHTTPFetcherService::numberOfFetchers() const {
  std::lock_guard lock(mutex_);
  return numberOfRunningFetchers() + numberOfDelayedFetchers();
}

std::vector<NetHTTPFetcherService::FetcherRef> NetHTTPFetcherService::issuedFetchersWithRequestURL(
    const ns::Ref<ns::URL>& url) const {
  std::vector<FetcherRef> found;
  if (!url || !url->host() || url->host()->empty()) return found;
  std::string wanted = url->absoluteURL()->absoluteString();
  std::lock_guard lock(mutex_);
  for (const auto* map : {&runningHosts_, &delayedHosts_}) {
    auto it = map->find(*url->host());
    if (it == map->end()) continue;
    for (const auto& fetcher : it->second) {
      auto request = fetcher->mutableRequest();
      if (request && request->URL() && request->URL()->absoluteURL()->absoluteString() == wanted)
        found.push_back(fetcher);
    }
  }
  return found;
}

void NetHTTPFetcherService::stopAllFetchers() {
  std::lock_guard lock(mutex_);
  for (auto* map : {&delayedHosts_, &runningHosts_}) {
    HostMap taken;
    taken.swap(*map);
    for (const auto& [host, fetchers] : taken)
      for (const auto& fetcher : fetchers) stopFetcher(fetcher);
  }
}

bool NetHTTPFetcherService::waitForCompletionOfAllFetchersWithTimeout(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (numberOfFetchers() > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!ns::Thread::isMainThread() && delegateQueue()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      ns::RunLoop::currentRunLoop()->runMode_beforeDate(ns::DefaultRunLoopMode,
                                                        ns::Date::dateWithTimeIntervalSinceNow(0.001));
    }
  }
  return true;
}

#define SERVICE_PROPERTY(Type, getter, setter, member) \
  Type NetHTTPFetcherService::getter() const {         \
    std::lock_guard lock(mutex_);                      \
    return member;                                     \
  }                                                    \
  void NetHTTPFetcherService::setter(Type value) {     \
    std::lock_guard lock(mutex_);                      \
    member = std::move(value);                         \
  }

SERVICE_PROPERTY(NetHTTPFetcherService::HostMap, runningHosts, setRunningHosts, runningHosts_)
SERVICE_PROPERTY(NetHTTPFetcherService::HostMap, delayedHosts, setDelayedHosts, delayedHosts_)
SERVICE_PROPERTY(std::uint64_t, maxRunningFetchersPerHost, setMaxRunningFetchersPerHost,
                 maxRunningFetchersPerHost_)
SERVICE_PROPERTY(ns::Ref<ns::OperationQueue>, delegateQueue, setDelegateQueue, delegateQueue_)
SERVICE_PROPERTY(std::vector<std::string>, runLoopModes, setRunLoopModes, runLoopModes_)
SERVICE_PROPERTY(std::optional<std::string>, userAgent, setUserAgent, userAgent_)
SERVICE_PROPERTY(double, timeout, setTimeout, timeout_)
SERVICE_PROPERTY(ns::Ref<ns::URLCredential>, credential, setCredential, credential_)
SERVICE_PROPERTY(ns::Ref<ns::URLCredential>, proxyCredential, setProxyCredential, proxyCredential_)
SERVICE_PROPERTY(long, cookieStorageMethod, setCookieStorageMethod, cookieStorageMethod_)
SERVICE_PROPERTY(std::vector<std::string>, allowedInsecureSchemes, setAllowedInsecureSchemes,
                 allowedInsecureSchemes_)
SERVICE_PROPERTY(bool, allowLocalhostRequest, setAllowLocalhostRequest, allowLocalhostRequest_)
SERVICE_PROPERTY(bool, shouldFetchInBackground, setShouldFetchInBackground, shouldFetchInBackground_)

#undef SERVICE_PROPERTY

ns::Ref<NetFetcherAuthorizationProtocol> NetHTTPFetcherService::authorizer() const {
  std::lock_guard lock(mutex_);
  return authorizer_;
}

void NetHTTPFetcherService::setAuthorizer(ns::Ref<NetFetcherAuthorizationProtocol> authorizer) {
  auto me = std::static_pointer_cast<NetHTTPFetcherService>(shared_from_this());
  ns::Ref<NetFetcherAuthorizationProtocol> old;
  {
    std::lock_guard lock(mutex_);
    if (authorizer == authorizer_) return;
    old = authorizer_;
    authorizer_ = authorizer;
  }
  if (old && old->fetcherService() == me) old->setFetcherService(nullptr);
  if (authorizer) authorizer->setFetcherService(me);
}
