#pragma once
// One HTTP fetch over the platform URL connection, with what the Data API client needs around
// it: a guard against unencrypted requests, a request authorizer with one refresh-and-retry on
// 401, cookies from a choice of stores, ETag memory, automatic retry with exponential back-off,
// download into a file, throttling by a fetcher service, and four notifications.
//
//   auto fetcher = NetHTTPFetcher::fetcherWithURLString("https://www.example.test/feed");
//   fetcher->beginFetchWithCompletionHandler([](const std::optional<ns::Data>& data,
//                                               const std::optional<ns::Error>& error) { ... });
//
// Callbacks: the finished selector (when both delegate and selector are set) runs before the
// completion block, exactly once per fetch, also for a fetch that cannot begin (never inside the
// begin call unless a delegate queue is set). Connection callbacks come on the delegate queue
// when one is set, else on the run loop of the thread that began the fetch; a fetch begun off the
// main thread with neither queue nor run-loop modes calls back on the main operation queue.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/google/CallbackSelector.h"
#include "lib/google/NetFetcherAuthorizationProtocol.h"
#include "lib/google/NetHTTPFetchHistory.h"
#include "lib/google/NetHTTPFetcherConstants.h"
#include "platform/core/Data.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Format.h"
#include "platform/core/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace ns {
class FileHandle;
class InputStream;
class OperationQueue;
class Thread;
class Timer;
class URLCredential;
}  // namespace ns

class NetHTTPFetcher;

// What a fetcher needs of the service that throttles it.
class NetHTTPFetcherServiceProtocol {
 public:
  virtual ~NetHTTPFetcherServiceProtocol() = default;
  // false: the fetcher waits; the service starts it later.
  virtual bool fetcherShouldBeginFetching(const ns::Ref<NetHTTPFetcher>& fetcher) = 0;
  virtual void fetcherDidStop(const ns::Ref<NetHTTPFetcher>& fetcher) = 0;
  virtual ns::Ref<NetHTTPFetcher> fetcherWithRequest(const ns::Ref<ns::URLRequest>& request) = 0;
  virtual bool isDelayingFetcher(const ns::Ref<NetHTTPFetcher>& fetcher) = 0;
  virtual ns::Ref<ns::OperationQueue> delegateQueue() const = 0;
  virtual void setDelegateQueue(ns::Ref<ns::OperationQueue> queue) = 0;
};

// Hooks of the optional fetch-logging module; they do nothing until it registers itself.
struct NetHTTPFetcherLoggingHooks {
  std::function<void(NetHTTPFetcher& fetcher, const std::optional<ns::Error>& error)> logFetchWithError;
  std::function<void(NetHTTPFetcher& fetcher)> setupStreamLogging;
};

class NetHTTPFetcher : public ns::Object, public ns::URLConnectionDelegate {
 public:
  using FetcherRef = ns::Ref<NetHTTPFetcher>;
  // fetcher:finishedWithData:error:
  using FinishedSelector = CallbackSelector<void(const FetcherRef&, const std::optional<ns::Data>&,
                                                 const std::optional<ns::Error>&)>;
  using CompletionBlock =
      std::function<void(const std::optional<ns::Data>&, const std::optional<ns::Error>&)>;
  // fetcher:didSendBytes:totalBytesSent:totalBytesExpectedToSend:
  using SentDataSelector =
      CallbackSelector<void(const FetcherRef&, std::int64_t, std::int64_t, std::int64_t)>;
  using SentDataBlock = std::function<void(std::int64_t, std::int64_t, std::int64_t)>;
  // fetcher:receivedData: (everything so far; nothing when the body goes into a file)
  using ReceivedDataSelector = CallbackSelector<void(const FetcherRef&, const std::optional<ns::Data>&)>;
  using ReceivedDataBlock = std::function<void(const std::optional<ns::Data>&)>;
  // fetcher:willRetry:forError: answers the final flag
  using RetrySelector = CallbackSelector<bool(const FetcherRef&, bool, const ns::Error&)>;
  using RetryBlock = std::function<bool(bool, const ns::Error&)>;

  explicit NetHTTPFetcher(const ns::Ref<ns::URLRequest>& request = nullptr);
  ~NetHTTPFetcher() override;

  static FetcherRef fetcherWithRequest(const ns::Ref<ns::URLRequest>& request);
  static FetcherRef fetcherWithURL(const ns::Ref<ns::URL>& url);
  static FetcherRef fetcherWithURLString(const std::string& text);

  // Answer false only when the fetch cannot begin (the finished callbacks still come, later) or
  // when this fetcher is already fetching (then nothing changes and no callback comes for this
  // call); true when started, delayed by the service, or waiting for the authorizer.
  virtual bool beginFetchWithDelegate_didFinishSelector(const ns::Ref<ns::Object>& delegate,
                                                        FinishedSelector selector);
  virtual bool beginFetchWithCompletionHandler(CompletionBlock handler);
  // The service starts a delayed fetcher through this.
  bool beginFetchMayDelay_mayAuthorize(bool mayDelay, bool mayAuthorize);

  // Stops and releases the callbacks.
  virtual void stopFetching();
  virtual bool isFetching();
  // The HTTP status of the last response, 0 when there is none or it is not an HTTP one.
  virtual long statusCode() const;
  virtual std::optional<ns::HTTPHeaderFields> responseHeaders() const;
  // Runs the current run loop (or sleeps, off the main thread with a delegate queue) until the
  // fetch has ended and its callbacks are gone, or `seconds` of real time pass.
  bool waitForCompletionWithTimeout(double seconds);

  static bool doesSupportSentDataCallback() { return true; }
  static ns::Ref<NetCookieStorage> staticCookieStorage();
  using ConnectionFactory = std::function<ns::Ref<ns::URLConnection>(
      const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::URLConnectionDelegate>&)>;
  // The connection maker (the platform URL connection unless replaced; null restores it).
  static void setConnectionClass(ConnectionFactory factory);
  static void setLoggingHooks(NetHTTPFetcherLoggingHooks hooks);

  // Retry.
  bool isRetryEnabled() const;
  // Turning it on resets the back-off: a random first wait of 1 to 2 s, no maximum, factor 2.
  void setRetryEnabled(bool enabled);
  double maxRetryInterval() const;
  // A value not above 0 means "none": 60 s for GET and HEAD, 600 s for other methods, set at begin.
  void setMaxRetryInterval(double seconds);
  double minRetryInterval() const;
  // 0 picks a random value from 1 to 2 s.
  void setMinRetryInterval(double seconds);
  double retryFactor() const;
  void setRetryFactor(double factor);
  std::uint64_t retryCount() const;
  double nextRetryInterval() const;
  const RetrySelector& retrySelector() const { return retrySel_; }
  void setRetrySelector(RetrySelector selector);
  void setRetryBlock(RetryBlock block);

  // Callbacks.
  ns::Ref<ns::Object> delegate() const;
  void setDelegate(ns::Ref<ns::Object> delegate);
  void setCompletionBlock(CompletionBlock block);
  void setSentDataSelector(SentDataSelector selector);
  void setSentDataBlock(SentDataBlock block);
  void setReceivedDataSelector(ReceivedDataSelector selector);
  void setReceivedDataBlock(ReceivedDataBlock block);
  ns::Ref<ns::OperationQueue> delegateQueue() const;
  void setDelegateQueue(ns::Ref<ns::OperationQueue> queue);
  std::vector<std::string> runLoopModes() const;
  void setRunLoopModes(std::vector<std::string> modes);

  // The request (a copy of the one given) and its body.
  ns::Ref<ns::URLRequest> mutableRequest() const;
  void setMutableRequest(const ns::Ref<ns::URLRequest>& request);
  std::optional<ns::Data> postData() const;
  void setPostData(std::optional<ns::Data> data);
  std::optional<ns::Data> bodyData() const { return postData(); }
  void setBodyData(std::optional<ns::Data> data) { setPostData(std::move(data)); }
  ns::Ref<ns::InputStream> postStream() const;
  void setPostStream(ns::Ref<ns::InputStream> stream);

  // The reply.
  ns::Ref<ns::URLResponse> response() const;
  void setResponse(ns::Ref<ns::URLResponse> response);
  std::optional<ns::Data> downloadedData() const;
  std::uint64_t downloadedLength() const;

  // Download into a file.
  std::optional<std::string> downloadPath() const;
  void setDownloadPath(std::optional<std::string> path);
  std::optional<std::string> temporaryDownloadPath() const;
  ns::Ref<ns::FileHandle> downloadFileHandle() const;
  void setDownloadFileHandle(ns::Ref<ns::FileHandle> handle);

  // Security.
  std::vector<std::string> allowedInsecureSchemes() const;
  void setAllowedInsecureSchemes(std::vector<std::string> schemes);
  bool allowLocalhostRequest() const;
  void setAllowLocalhostRequest(bool allow);
  ns::Ref<ns::URLCredential> credential() const;
  void setCredential(ns::Ref<ns::URLCredential> credential);
  ns::Ref<ns::URLCredential> proxyCredential() const;
  void setProxyCredential(ns::Ref<ns::URLCredential> credential);
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer() const;
  void setAuthorizer(ns::Ref<NetFetcherAuthorizationProtocol> authorizer);

  // Cookies and history.
  long cookieStorageMethod() const;
  void setCookieStorageMethod(long method);
  ns::Ref<NetCookieStorageProtocol> cookieStorage() const;
  void setCookieStorage(ns::Ref<NetCookieStorageProtocol> storage);
  ns::Ref<NetHTTPFetchHistoryProtocol> fetchHistory() const;
  void setFetchHistory(ns::Ref<NetHTTPFetchHistoryProtocol> history);

  // Service.
  ns::Ref<NetHTTPFetcherServiceProtocol> service() const;
  void setService(ns::Ref<NetHTTPFetcherServiceProtocol> service);
  std::optional<std::string> serviceHost() const;
  void setServiceHost(std::optional<std::string> host);
  std::int64_t servicePriority() const;
  void setServicePriority(std::int64_t priority);
  ns::Ref<ns::Thread> thread() const;
  void setThread(ns::Ref<ns::Thread> thread);

  // Free slots and log text.
  bool shouldFetchInBackground() const;
  void setShouldFetchInBackground(bool value);
  ns::Value userData() const;
  void setUserData(ns::Value value);
  ns::Dictionary properties() const;
  void setProperties(ns::Dictionary properties);
  void setProperty_forKey(ns::Value value, const std::string& key);
  ns::Value propertyForKey(const std::string& key) const;
  void addPropertiesFromDictionary(const ns::Dictionary& dictionary);
  std::optional<std::string> comment() const;
  void setComment(std::optional<std::string> comment);
  // No format: no comment.
  template <class... Args>
  void setCommentWithFormat(const std::optional<std::string>& format, const Args&... args) {
    setComment(format ? std::optional<std::string>(ns::format(*format, args...)) : std::nullopt);
  }
  std::optional<std::string> log() const;
  void setLog(std::optional<std::string> log);
  ns::Ref<ns::URL> redirectedFromURL() const;
  std::optional<ns::Date> initialRequestDate() const;

  std::string className() const override { return "NetHTTPFetcher"; }
  // "NetHTTPFetcher 0x... (URL)"
  std::string description() const override;

  // URLConnectionDelegate
  ns::Ref<ns::URLRequest> connection_willSendRequest_redirectResponse(
      const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLRequest>& request,
      const ns::Ref<ns::URLResponse>& redirectResponse) override;
  void connection_willSendRequestForAuthenticationChallenge(
      const ns::Ref<ns::URLConnection>& connection,
      const ns::Ref<ns::URLAuthenticationChallenge>& challenge) override;
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override;
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection, const ns::Data& data) override;
  void connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
      const ns::Ref<ns::URLConnection>& connection, long bytesWritten, long totalBytesWritten,
      long totalBytesExpectedToWrite) override;
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override;
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override;

  // The authorizer's answer.
  void authorizer_request_finishedWithError(const ns::Ref<NetFetcherAuthorizationProtocol>& authorizer,
                                            const ns::Ref<ns::URLRequest>& request,
                                            const std::optional<ns::Error>& error);

 protected:
  // Whether the finished callbacks are released when a fetch ends (an uploader keeps them).
  virtual bool shouldReleaseCallbacksUponCompletion() const { return true; }
  bool shouldRetryNowForStatus_error(long status, std::optional<ns::Error> error);
  void stopFetchReleasingCallbacks(bool release);
  // For a fetcher that runs its own callbacks around the inherited fetch (the uploader).
  void releaseCallbacks();
  bool isCurrentConnection(const ns::Ref<ns::URLConnection>& connection) const;
  FinishedSelector finishedSelector() const;
  void setFinishedSelector(FinishedSelector selector);
  CompletionBlock completionBlock() const;
  SentDataSelector sentDataSelector() const;
  SentDataBlock sentDataBlock() const;
  RetryBlock retryBlock() const;
  void setDownloadedData(const std::optional<ns::Data>& data);

 private:
  FetcherRef self() { return std::static_pointer_cast<NetHTTPFetcher>(shared_from_this()); }
  ns::Ref<ns::Object> takeCallbacks();
  void failToBeginFetchWithError(std::optional<ns::Error> error);
  void reportFailureToBegin(std::optional<ns::Error> error);
  void invokeFinishedCallbacks(const std::optional<ns::Data>& data, const std::optional<ns::Error>& error);
  void sendStopNotificationIfNeeded();
  void beginRetryTimer();
  void retryTimerFired();
  void destroyRetryTimer();
  void addCookiesToRequest(const ns::Ref<ns::URLRequest>& request);
  void handleCookiesForResponse(const ns::Ref<ns::URLResponse>& response);
  bool createTemporaryDownloadFile(ns::Error* error);
  void deleteTemporaryDownloadFile();
  void logNowWithError(const std::optional<ns::Error>& error);
  ns::Error statusError(long status) const;
  ns::Ref<NetCookieStorageProtocol> storageForMethod(long method) const;

  mutable std::recursive_mutex mutex_;
  ns::Ref<ns::URLRequest> request_;
  ns::Ref<ns::URLConnection> connection_;
  std::optional<ns::MutableData> downloadedData_;
  std::optional<std::string> downloadPath_;
  std::optional<std::string> temporaryDownloadPath_;
  std::optional<std::string> temporaryDownloadFolder_;
  ns::Ref<ns::FileHandle> downloadFileHandle_;
  std::uint64_t downloadedLength_ = 0;
  std::vector<std::string> allowedInsecureSchemes_;
  bool allowLocalhostRequest_ = false;
  ns::Ref<ns::URLCredential> credential_;
  ns::Ref<ns::URLCredential> proxyCredential_;
  std::optional<ns::Data> postData_;
  ns::Ref<ns::InputStream> postStream_;
  ns::Ref<ns::URLResponse> response_;
  ns::Ref<ns::Object> delegate_;
  FinishedSelector finishedSel_;
  SentDataSelector sentDataSel_;
  ReceivedDataSelector receivedDataSel_;
  CompletionBlock completionBlock_;
  ReceivedDataBlock receivedDataBlock_;
  SentDataBlock sentDataBlock_;
  RetryBlock retryBlock_;
  bool hasConnectionEnded_ = false;
  bool isCancellingChallenge_ = false;
  bool isStopNotificationNeeded_ = false;
  bool shouldFetchInBackground_ = false;
  bool addedCookieHeader_ = false;
  ns::Value userData_;
  std::optional<ns::Dictionary> properties_;
  std::vector<std::string> runLoopModes_;
  ns::Ref<ns::OperationQueue> delegateQueue_;
  ns::Ref<NetHTTPFetchHistoryProtocol> fetchHistory_;
  long cookieStorageMethod_ = CookieStorageMethodStatic;
  ns::Ref<NetCookieStorageProtocol> cookieStorage_;
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer_;
  ns::Ref<NetHTTPFetcherServiceProtocol> service_;
  std::optional<std::string> serviceHost_;
  std::int64_t servicePriority_ = 0;
  ns::Ref<ns::Thread> thread_;
  bool isRetryEnabled_ = false;
  RetrySelector retrySel_;
  ns::Ref<ns::Timer> retryTimer_;
  std::uint64_t retryCount_ = 0;
  double maxRetryInterval_ = -1.0;
  double minRetryInterval_ = 0;
  double retryFactor_ = 0;
  double lastRetryInterval_ = 0;
  std::optional<ns::Date> initialRequestDate_;
  bool hasAttemptedAuthRefresh_ = false;
  std::optional<std::string> comment_;
  std::optional<std::string> log_;
  ns::Ref<ns::URL> redirectedFromURL_;
};
