#include "lib/google/NetHTTPFetcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/core/Exception.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/FileHandle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/foundation/Stream.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace {

constexpr char kDefaultComment[] = "(No fetcher comment set)";
constexpr char kAuthorizationHeader[] = "Authorization";
constexpr char kCookieHeader[] = "Cookie";

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

struct ClassState {
  std::mutex mutex;
  NetHTTPFetcher::ConnectionFactory connectionFactory;
  NetHTTPFetcherLoggingHooks loggingHooks;
  ns::Ref<NetCookieStorage> staticCookieStorage = ns::make<NetCookieStorage>();
};

ClassState& classState() {
  static ns::NoDestructor<ClassState> state;
  return *state;
}

std::atomic<unsigned> temporaryFileCounter{0};

unsigned random32() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<unsigned>(generator());
}

double randomMinRetryInterval() {
  return static_cast<double>(random32() & 0xffff) / 65535.0 + 1.0;
}

int defaultPort(const std::string& scheme) {
  if (scheme == "https") return 443;
  if (scheme == "http") return 80;
  return -1;
}

// Scheme, host and port: what decides whether credentials may travel along.
bool sameOrigin(const ns::URL& a, const ns::URL& b) {
  std::string schemeA = lowered(a.scheme().value_or("")), schemeB = lowered(b.scheme().value_or(""));
  if (schemeA != schemeB) return false;
  if (lowered(a.host().value_or("")) != lowered(b.host().value_or(""))) return false;
  return a.port().value_or(defaultPort(schemeA)) == b.port().value_or(defaultPort(schemeB));
}

void postNotification(const char* name, const ns::Ref<NetHTTPFetcher>& fetcher) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(name, fetcher);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation and class state

NetHTTPFetcher::NetHTTPFetcher(const ns::Ref<ns::URLRequest>& request)
    : request_(request ? request->mutableCopy() : nullptr), comment_(kDefaultComment) {
  // The static store always exists here, so a new fetcher keeps its cookies there.
  setCookieStorageMethod(CookieStorageMethodStatic);
}

NetHTTPFetcher::~NetHTTPFetcher() {
  if (retryTimer_) retryTimer_->invalidate();
  if (connection_) connection_->cancel();
  if (downloadFileHandle_ && temporaryDownloadPath_) downloadFileHandle_->closeFile();
  deleteTemporaryDownloadFile();
}

NetHTTPFetcher::FetcherRef NetHTTPFetcher::fetcherWithRequest(const ns::Ref<ns::URLRequest>& request) {
  return ns::make<NetHTTPFetcher>(request);
}

NetHTTPFetcher::FetcherRef NetHTTPFetcher::fetcherWithURL(const ns::Ref<ns::URL>& url) {
  return fetcherWithRequest(url ? ns::URLRequest::requestWithURL(url) : nullptr);
}

NetHTTPFetcher::FetcherRef NetHTTPFetcher::fetcherWithURLString(const std::string& text) {
  return fetcherWithURL(ns::URL::URLWithString(text));
}

ns::Ref<NetCookieStorage> NetHTTPFetcher::staticCookieStorage() {
  std::lock_guard lock(classState().mutex);
  return classState().staticCookieStorage;
}

void NetHTTPFetcher::setConnectionClass(ConnectionFactory factory) {
  std::lock_guard lock(classState().mutex);
  classState().connectionFactory = std::move(factory);
}

void NetHTTPFetcher::setLoggingHooks(NetHTTPFetcherLoggingHooks hooks) {
  std::lock_guard lock(classState().mutex);
  classState().loggingHooks = std::move(hooks);
}

std::string NetHTTPFetcher::description() const {
  std::lock_guard lock(mutex_);
  std::string url = request_ && request_->URL() ? request_->URL()->absoluteString() : std::string("(null)");
  return ns::format("%@ %p (%@)", className(), static_cast<const void*>(this), url);
}

// ---------------------------------------------------------------------------------------------
// Beginning

bool NetHTTPFetcher::beginFetchWithDelegate_didFinishSelector(const ns::Ref<ns::Object>& delegate,
                                                              FinishedSelector selector) {
  if (isFetching()) {
    // A second begin would release the running fetch's callbacks and files: refuse it instead.
    ns::Log("%@ is already fetching; the new begin is refused", description());
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
    finishedSel_ = std::move(selector);
  }
  return beginFetchMayDelay_mayAuthorize(true, true);
}

bool NetHTTPFetcher::beginFetchWithCompletionHandler(CompletionBlock handler) {
  if (isFetching()) {
    ns::Log("%@ is already fetching; the new begin is refused", description());
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    completionBlock_ = std::move(handler);
    finishedSel_ = {};
  }
  return beginFetchMayDelay_mayAuthorize(true, true);
}

bool NetHTTPFetcher::beginFetchMayDelay_mayAuthorize(bool mayDelay, bool mayAuthorize) {
  auto me = self();
  std::unique_lock lock(mutex_);
  if (connection_) {
    ns::Log("%@ is already fetching; the new begin is refused", description());
    return false;
  }
  if (!request_ || !request_->URL()) {
    lock.unlock();
    failToBeginFetchWithError(std::nullopt);
    return false;
  }

  const auto& url = request_->URL();
  std::string scheme = lowered(url->scheme().value_or(""));
  if (scheme != "https") {
    std::string host = lowered(url->host().value_or(""));
    bool refused;
    if (host == "localhost" || host == "::1" || host == "[::1]" || host == "127.0.0.1") {
      refused = !allowLocalhostRequest_;
      if (refused) ns::LogWarning("Localhost fetch disallowed for %@", url->absoluteString());
    } else {
      refused = std::none_of(allowedInsecureSchemes_.begin(), allowedInsecureSchemes_.end(),
                             [&](const std::string& allowed) { return lowered(allowed) == scheme; });
      if (refused) ns::LogWarning("Fetch disallowed for %@", url->absoluteString());
    }
    if (refused) {
      lock.unlock();
      failToBeginFetchWithError(std::nullopt);
      return false;
    }
  }

  downloadedData_.reset();
  downloadedLength_ = 0;

  if (mayDelay && service_) {
    auto service = service_;
    lock.unlock();
    if (!service->fetcherShouldBeginFetching(me)) return true;  // the service starts it later
    lock.lock();
    if (connection_) return true;
  }

  auto methodOverride = request_->valueForHTTPHeaderField("X-HTTP-Method-Override");
  std::string effectiveMethod = methodOverride ? *methodOverride : request_->HTTPMethod();
  bool isGet = effectiveMethod.empty() || effectiveMethod == "GET";
  if (postData_ || postStream_) {
    if (isGet) {
      request_->setHTTPMethod("POST");
      isGet = false;
      if (!methodOverride) effectiveMethod = "POST";
    }
    if (postData_) {
      request_->setHTTPBody(*postData_);
    } else {
      NetHTTPFetcherLoggingHooks hooks;
      {
        std::lock_guard classLock(classState().mutex);
        hooks = classState().loggingHooks;
      }
      if (hooks.setupStreamLogging) hooks.setupStreamLogging(*this);
      request_->setHTTPBodyStream(postStream_);
    }
  }

  if (mayAuthorize && authorizer_ && !authorizer_->isAuthorizedRequest(request_)) {
    auto authorizer = authorizer_;
    auto request = request_;
    lock.unlock();
    auto selector = NetFetcherAuthorizationProtocol::FinishedSelector::of(
        "authorizer:request:finishedWithError:", &NetHTTPFetcher::authorizer_request_finishedWithError);
    if (authorizer->authorizeRequest_delegate_didFinishSelector(request, me, selector)) return true;
    return beginFetchMayDelay_mayAuthorize(false, false);
  }

  if (fetchHistory_) fetchHistory_->updateRequest_isHTTPGet(request_, isGet);

  if (isRetryEnabled_ && maxRetryInterval_ <= -1.0)
    maxRetryInterval_ = (isGet || effectiveMethod == "HEAD") ? 60.0 : 600.0;

  addCookiesToRequest(request_);

  if (downloadPath_) {
    ns::Error error;
    if (!createTemporaryDownloadFile(&error)) {
      lock.unlock();
      failToBeginFetchWithError(error);
      return false;
    }
  }

  if (!delegateQueue_ && runLoopModes_.empty() && !ns::Thread::isMainThread())
    delegateQueue_ = ns::OperationQueue::mainQueue();

  if (!downloadFileHandle_) downloadedData_ = ns::MutableData();
  hasConnectionEnded_ = false;

  ConnectionFactory factory;
  {
    std::lock_guard classLock(classState().mutex);
    factory = classState().connectionFactory;
  }
  auto requestToSend = request_->copy();
  ns::Ref<ns::URLConnection> connection =
      factory ? factory(requestToSend, me)
              : ns::URLConnection::initWithRequest_delegate_startImmediately(requestToSend, me, false);
  if (!connection) {
    downloadedData_.reset();
    lock.unlock();
    failToBeginFetchWithError(std::nullopt);
    return false;
  }
  if (delegateQueue_) {
    connection->setDelegateQueue(delegateQueue_);
  } else {
    auto loop = ns::RunLoop::currentRunLoop();
    if (runLoopModes_.empty()) {
      connection->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
    } else {
      for (const auto& mode : runLoopModes_) connection->scheduleInRunLoop_forMode(loop, mode);
    }
  }
  connection_ = connection;
  if (!initialRequestDate_) initialRequestDate_ = ns::Date::now();
  isStopNotificationNeeded_ = true;
  lock.unlock();

  postNotification(kNetHTTPFetcherStartedNotification, me);
  {
    std::lock_guard again(mutex_);
    if (connection_ != connection) return true;  // stopped by an observer of the notification
  }
  connection->start();
  return true;
}

void NetHTTPFetcher::authorizer_request_finishedWithError(
    const ns::Ref<NetFetcherAuthorizationProtocol>& authorizer, const ns::Ref<ns::URLRequest>& request,
    const std::optional<ns::Error>& error) {
  {
    std::lock_guard lock(mutex_);
    // An answer for a request this fetcher no longer waits for (stopped, or begun anew).
    if (authorizer != authorizer_ || request != request_ || connection_) return;
  }
  if (error) {
    failToBeginFetchWithError(error);
  } else {
    beginFetchMayDelay_mayAuthorize(false, false);
  }
}

void NetHTTPFetcher::failToBeginFetchWithError(std::optional<ns::Error> error) {
  auto me = self();
  ns::Ref<ns::OperationQueue> queue;
  std::vector<std::string> modes;
  {
    std::lock_guard lock(mutex_);
    queue = delegateQueue_;
    modes = runLoopModes_;
  }
  if (queue) {
    reportFailureToBegin(std::move(error));
    return;
  }
  // Reported on a later turn of this thread's run loop, so the begin call returns first. The
  // request keeps the fetcher until then, as a performed selector keeps its target.
  if (modes.empty()) modes = {ns::RunLoopCommonModes};
  ns::RunLoop::currentRunLoop()->perform(
      {me, "failToBeginFetchWithError:", nullptr, [me, error] { me->reportFailureToBegin(error); }}, 0,
      modes);
}

void NetHTTPFetcher::reportFailureToBegin(std::optional<ns::Error> error) {
  if (!error) error = ns::Error(NetHTTPFetcherErrorDomain, kNetHTTPFetcherErrorDownloadFailed);
  invokeFinishedCallbacks(std::nullopt, error);
  ns::Ref<NetHTTPFetcherServiceProtocol> service;
  {
    std::lock_guard lock(mutex_);
    delegate_.reset();
    delegateQueue_.reset();
    completionBlock_ = nullptr;
    receivedDataBlock_ = nullptr;
    sentDataBlock_ = nullptr;
    retryBlock_ = nullptr;
    authorizer_.reset();
    service = service_;
  }
  if (service) service->fetcherDidStop(self());
  deleteTemporaryDownloadFile();
}

// ---------------------------------------------------------------------------------------------
// Temporary download file

bool NetHTTPFetcher::createTemporaryDownloadFile(ns::Error* error) {
  auto manager = ns::FileManager::defaultManager();
  auto folder = manager->pathForDirectory_inDomain_appropriateForPath_create_error(
      ns::ItemReplacementDirectory, ns::UserDomainMask, downloadPath_, true, nullptr);
  std::string directory;
  if (folder) {
    directory = *folder;
    temporaryDownloadFolder_ = folder;
  } else {
    directory = manager->temporaryDirectory();
    temporaryDownloadFolder_.reset();
  }
  if (!directory.empty() && directory.back() == '/') directory.pop_back();
  unsigned counter = ++temporaryFileCounter;
  std::string path = directory + "/" + ns::format("nethttpfetcher_%u_%u", counter, random32());
  // Exclusive creation: never write through a file or link somebody else put there.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = ns::Error::fromErrno(path);
    if (temporaryDownloadFolder_) ::rmdir(temporaryDownloadFolder_->c_str());
    temporaryDownloadFolder_.reset();
    return false;
  }
  temporaryDownloadPath_ = path;
  downloadFileHandle_ = ns::FileHandle::initWithFileDescriptor_closeOnDealloc(fd, true);
  return true;
}

void NetHTTPFetcher::deleteTemporaryDownloadFile() {
  std::optional<std::string> path, folder;
  {
    std::lock_guard lock(mutex_);
    path = std::move(temporaryDownloadPath_);
    folder = std::move(temporaryDownloadFolder_);
    temporaryDownloadPath_.reset();
    temporaryDownloadFolder_.reset();
  }
  if (path) ::unlink(path->c_str());
  if (folder) ::rmdir(folder->c_str());
}

// ---------------------------------------------------------------------------------------------
// Cookies

ns::Ref<NetCookieStorageProtocol> NetHTTPFetcher::storageForMethod(long method) const {
  switch (method) {
    case CookieStorageMethodStatic:
      return staticCookieStorage();
    case CookieStorageMethodFetchHistory:
      return fetchHistory_ ? fetchHistory_->cookieStorage() : nullptr;
    default:
      return nullptr;
  }
}

void NetHTTPFetcher::addCookiesToRequest(const ns::Ref<ns::URLRequest>& request) {
  if (cookieStorageMethod_ != CookieStorageMethodStatic &&
      cookieStorageMethod_ != CookieStorageMethodFetchHistory)
    return;
  if (!cookieStorage_ || !request || !request->URL()) return;
  auto cookies = cookieStorage_->cookiesForURL(request->URL());
  auto header = ns::HTTPCookie::requestHeaderFieldsWithCookies(cookies).get(kCookieHeader);
  // Replace, never append: a retry or redirect must not send the cookies twice.
  if (header) {
    request->setValue_forHTTPHeaderField(*header, kCookieHeader);
    addedCookieHeader_ = true;
  } else if (addedCookieHeader_) {
    request->setValue_forHTTPHeaderField(std::nullopt, kCookieHeader);
    addedCookieHeader_ = false;
  }
}

void NetHTTPFetcher::handleCookiesForResponse(const ns::Ref<ns::URLResponse>& response) {
  if (cookieStorageMethod_ != CookieStorageMethodStatic &&
      cookieStorageMethod_ != CookieStorageMethodFetchHistory)
    return;
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
  if (!http || !cookieStorage_) return;
  auto cookies = ns::HTTPCookie::cookiesWithResponseHeaderFields_forURL(http->allHeaderFields(), http->URL());
  if (!cookies.empty()) cookieStorage_->setCookies(cookies);
}

// ---------------------------------------------------------------------------------------------
// Connection callbacks

ns::Ref<ns::URLRequest> NetHTTPFetcher::connection_willSendRequest_redirectResponse(
    const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLRequest>& proposed,
    const ns::Ref<ns::URLResponse>& redirectResponse) {
  std::lock_guard lock(mutex_);
  if (!redirectResponse || !proposed || !proposed->URL() || !request_ || !request_->URL()) return proposed;
  if (connection != connection_) return nullptr;
  handleCookiesForResponse(redirectResponse);

  const auto& target = proposed->URL();
  std::string ownScheme = lowered(request_->URL()->scheme().value_or("http"));
  std::string targetScheme = lowered(target->scheme().value_or(""));
  // A redirect never lowers https to http; http may rise to https.
  std::string scheme = (ownScheme == "http" && targetScheme == "https") ? targetScheme : ownScheme;
  auto newURL = ns::URL::URLWithString(scheme + ":" + target->resourceSpecifier());
  if (!newURL || !newURL->host()) return nullptr;

  auto next = request_->copy();
  next->setURL(newURL);
  for (const auto& [name, value] : proposed->allHTTPHeaderFields())
    next->setValue_forHTTPHeaderField(value, name);
  // The authorizer signed the request for its own origin only.
  if (!sameOrigin(*request_->URL(), *newURL)) {
    next->setValue_forHTTPHeaderField(std::nullopt, kAuthorizationHeader);
    if (addedCookieHeader_) next->setValue_forHTTPHeaderField(std::nullopt, kCookieHeader);
  }
  addCookiesToRequest(next);
  response_ = redirectResponse;
  redirectedFromURL_ = request_->URL();
  request_ = next->copy();
  return next;
}

void NetHTTPFetcher::connection_willSendRequestForAuthenticationChallenge(
    const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLAuthenticationChallenge>& challenge) {
  auto sender = challenge->sender();
  if (!sender) return;
  const auto& space = challenge->protectionSpace();
  // Server trust is the loader's business: an unverifiable certificate keeps its own error.
  if (space && space->authenticationMethod() == ns::URLAuthenticationMethodServerTrust) {
    sender->performDefaultHandlingForAuthenticationChallenge(challenge);
    return;
  }
  ns::Ref<ns::URLCredential> answer;
  {
    std::lock_guard lock(mutex_);
    if (connection != connection_) return;
    answer = credential_;
    if (space && space->isProxy() && proxyCredential_) answer = proxyCredential_;
  }
  if (challenge->previousFailureCount() < 3 && answer) {
    sender->useCredential_forAuthenticationChallenge(answer, challenge);
    return;
  }
  ns::Error error(NetHTTPFetcherErrorDomain, kNetHTTPFetcherErrorAuthenticationChallengeFailed,
                  ns::Dictionary{{kNetHTTPFetcherErrorChallengeKey, ns::Value(challenge)}});
  {
    std::lock_guard lock(mutex_);
    isCancellingChallenge_ = true;
  }
  sender->cancelAuthenticationChallenge(challenge);
  {
    std::lock_guard lock(mutex_);
    isCancellingChallenge_ = false;
  }
  connection_didFailWithError(connection, error);
}

void NetHTTPFetcher::connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                                   const ns::Ref<ns::URLResponse>& response) {
  std::lock_guard lock(mutex_);
  if (connection != connection_) return;
  if (downloadedData_) downloadedData_->setLength(0);
  // Some handles (devices, pipes) cannot be truncated; writing goes on from where they are.
  if (downloadFileHandle_) downloadFileHandle_->truncateAtOffset_error(0, nullptr);
  downloadedLength_ = 0;
  response_ = response;
  handleCookiesForResponse(response);
}

void NetHTTPFetcher::connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection,
                                               const ns::Data& data) {
  std::optional<ns::Error> writeError;
  {
    std::lock_guard lock(mutex_);
    if (connection != connection_ || hasConnectionEnded_) return;
    if (downloadFileHandle_) {
      try {
        downloadFileHandle_->writeData(data);
        downloadedLength_ = downloadFileHandle_->offsetInFile();
      } catch (const ns::Exception& exception) {
        writeError = ns::Error::withDescription(NetHTTPStatusErrorDomain, kNetHTTPFetcherStatusWriteFailed,
                                                exception.reason());
      }
    } else if (downloadedData_) {
      downloadedData_->appendData(data);
      downloadedLength_ = downloadedData_->length();
    }
    if (!writeError && (receivedDataSel_ || receivedDataBlock_)) {
      auto me = self();
      std::optional<ns::Data> soFar;
      if (downloadedData_) soFar = downloadedData_->copy();
      if (receivedDataSel_ && delegate_) receivedDataSel_(*delegate_, me, soFar);
      if (receivedDataBlock_) receivedDataBlock_(soFar);
    }
  }
  if (writeError) connection_didFailWithError(connection, *writeError);
}

void NetHTTPFetcher::connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
    const ns::Ref<ns::URLConnection>& connection, long bytesWritten, long totalBytesWritten,
    long totalBytesExpectedToWrite) {
  std::lock_guard lock(mutex_);
  if (connection != connection_) return;
  if (sentDataSel_ && delegate_)
    sentDataSel_(*delegate_, self(), bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
  if (sentDataBlock_) sentDataBlock_(bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}

void NetHTTPFetcher::connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) {
  auto me = self();
  long status;
  std::optional<ns::Error> error;
  std::optional<ns::Data> body;
  bool isFileDownload;
  bool logged = false;
  {
    std::lock_guard lock(mutex_);
    if (connection != connection_ || hasConnectionEnded_) return;
    hasConnectionEnded_ = true;
    isFileDownload = downloadFileHandle_ != nullptr;
    if (fetchHistory_) {
      if (isFileDownload) {
        fetchHistory_->removeCachedDataForRequest(request_);
      } else {
        std::optional<ns::Data> data;
        if (downloadedData_) data = downloadedData_->copy();
        fetchHistory_->updateFetchHistoryWithRequest_response_downloadedData(request_, response_, data);
      }
    }
    status = statusCode();
    if (status == 304 && fetchHistory_ && fetchHistory_->shouldCacheETaggedData()) {
      if (auto cached = fetchHistory_->cachedDataForRequest(request_)) {
        logNowWithError(std::nullopt);
        logged = true;
        status = 200;
        if (downloadFileHandle_) {
          ns::Error writeError;
          if (downloadFileHandle_->truncateAtOffset_error(0, &writeError) &&
              downloadFileHandle_->writeData_error(*cached, &writeError)) {
            downloadedLength_ = downloadFileHandle_->offsetInFile();
          } else {
            status = kNetHTTPFetcherStatusWriteFailed;
          }
        } else {
          downloadedData_ = ns::MutableData(*cached);
          downloadedLength_ = cached->length();
        }
      }
    }
    if (downloadedData_) body = downloadedData_->copy();
  }

  bool willRetry = false;
  if (status >= 0 && status < 300) {
    std::lock_guard lock(mutex_);
    if (downloadPath_ && temporaryDownloadPath_) {
      if (downloadFileHandle_) downloadFileHandle_->closeFile();
      downloadFileHandle_.reset();
      // rename(2) replaces the old file in one step; a failed move leaves it as it was.
      if (::rename(temporaryDownloadPath_->c_str(), downloadPath_->c_str()) == 0) {
        temporaryDownloadPath_.reset();
        if (temporaryDownloadFolder_) ::rmdir(temporaryDownloadFolder_->c_str());
        temporaryDownloadFolder_.reset();
      } else {
        error = ns::Error::fromErrno(*downloadPath_);
      }
    }
  } else {
    if (!logged) logNowWithError(std::nullopt);
    logged = true;
    willRetry = shouldRetryNowForStatus_error(status, std::nullopt);
    if (!willRetry) {
      error = statusError(status);
    }
  }

  if (willRetry) beginRetryTimer();
  sendStopNotificationIfNeeded();
  if (!willRetry) {
    invokeFinishedCallbacks(isFileDownload ? std::nullopt : body, error);
    stopFetchReleasingCallbacks(shouldReleaseCallbacksUponCompletion());
  }
  if (!logged) logNowWithError(error);
}

void NetHTTPFetcher::connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                                 const ns::Error& error) {
  {
    std::lock_guard lock(mutex_);
    if (!connection_ || connection != connection_ || isCancellingChallenge_ || hasConnectionEnded_) return;
    hasConnectionEnded_ = true;
  }
  logNowWithError(error);
  sendStopNotificationIfNeeded();
  if (shouldRetryNowForStatus_error(0, error)) {
    beginRetryTimer();
  } else {
    invokeFinishedCallbacks(std::nullopt, error);
    stopFetchReleasingCallbacks(true);
  }
}

// ---------------------------------------------------------------------------------------------
// Callbacks, stopping and notifications

void NetHTTPFetcher::invokeFinishedCallbacks(const std::optional<ns::Data>& data,
                                             const std::optional<ns::Error>& error) {
  auto me = self();
  ns::Ref<ns::Object> target;
  FinishedSelector selector;
  CompletionBlock block;
  ns::Ref<ns::OperationQueue> queue;
  {
    std::lock_guard lock(mutex_);
    target = delegate_;
    selector = finishedSel_;
    block = completionBlock_;
    queue = delegateQueue_;
  }
  auto invoke = [me, target, selector, block, data, error] {
    if (target && selector) selector(*target, me, data, error);
    if (block) block(data, error);
  };
  if (queue) {
    queue->addOperationWithBlock(std::move(invoke));
  } else {
    invoke();
  }
}

void NetHTTPFetcher::sendStopNotificationIfNeeded() {
  {
    std::lock_guard lock(mutex_);
    if (!isStopNotificationNeeded_) return;
    isStopNotificationNeeded_ = false;
  }
  postNotification(kNetHTTPFetcherStoppedNotification, self());
}

void NetHTTPFetcher::stopFetchReleasingCallbacks(bool release) {
  auto me = self();
  destroyRetryTimer();
  ns::Ref<ns::URLConnection> connection;
  {
    std::lock_guard lock(mutex_);
    connection = std::move(connection_);
    connection_.reset();
  }
  // Also an ended connection: it lets go of its delegate (this fetcher) at once.
  if (connection) connection->cancel();
  sendStopNotificationIfNeeded();

  ns::Ref<NetFetcherAuthorizationProtocol> authorizer;
  ns::Ref<ns::URLRequest> request;
  ns::Ref<NetHTTPFetcherServiceProtocol> service;
  ns::Ref<ns::Object> releasedDelegate;
  {
    std::lock_guard lock(mutex_);
    authorizer = authorizer_;
    request = request_;
    service = service_;
    if (release) releasedDelegate = takeCallbacks();
    if (downloadFileHandle_ && temporaryDownloadPath_) {
      downloadFileHandle_->closeFile();
      downloadFileHandle_.reset();
    }
  }
  if (authorizer) authorizer->stopAuthorizationForRequest(request);
  deleteTemporaryDownloadFile();
  if (service) service->fetcherDidStop(me);
}

void NetHTTPFetcher::stopFetching() {
  stopFetchReleasingCallbacks(true);
}

ns::Ref<ns::Object> NetHTTPFetcher::takeCallbacks() {
  std::lock_guard lock(mutex_);
  ns::Ref<ns::Object> released = std::move(delegate_);
  delegate_.reset();
  delegateQueue_.reset();
  completionBlock_ = nullptr;
  receivedDataBlock_ = nullptr;
  sentDataBlock_ = nullptr;
  retryBlock_ = nullptr;
  authorizer_.reset();
  return released;
}

void NetHTTPFetcher::releaseCallbacks() {
  // The delegate goes after the lock is let go: its destruction may call back.
  ns::Ref<ns::Object> released = takeCallbacks();
}

bool NetHTTPFetcher::isCurrentConnection(const ns::Ref<ns::URLConnection>& connection) const {
  std::lock_guard lock(mutex_);
  return connection && connection == connection_;
}

NetHTTPFetcher::FinishedSelector NetHTTPFetcher::finishedSelector() const {
  std::lock_guard lock(mutex_);
  return finishedSel_;
}

void NetHTTPFetcher::setFinishedSelector(FinishedSelector selector) {
  std::lock_guard lock(mutex_);
  finishedSel_ = std::move(selector);
}

NetHTTPFetcher::CompletionBlock NetHTTPFetcher::completionBlock() const {
  std::lock_guard lock(mutex_);
  return completionBlock_;
}

NetHTTPFetcher::SentDataSelector NetHTTPFetcher::sentDataSelector() const {
  std::lock_guard lock(mutex_);
  return sentDataSel_;
}

NetHTTPFetcher::SentDataBlock NetHTTPFetcher::sentDataBlock() const {
  std::lock_guard lock(mutex_);
  return sentDataBlock_;
}

void NetHTTPFetcher::setDownloadedData(const std::optional<ns::Data>& data) {
  std::lock_guard lock(mutex_);
  if (data) {
    downloadedData_ = ns::MutableData(*data);
    downloadedLength_ = data->length();
  } else {
    downloadedData_.reset();
    downloadedLength_ = 0;
  }
}

NetHTTPFetcher::RetryBlock NetHTTPFetcher::retryBlock() const {
  std::lock_guard lock(mutex_);
  return retryBlock_;
}

bool NetHTTPFetcher::isFetching() {
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer;
  ns::Ref<NetHTTPFetcherServiceProtocol> service;
  ns::Ref<ns::URLRequest> request;
  {
    std::lock_guard lock(mutex_);
    if (connection_ || retryTimer_) return true;
    authorizer = authorizer_;
    service = service_;
    request = request_;
  }
  if (authorizer && authorizer->isAuthorizingRequest(request)) return true;
  return service && service->isDelayingFetcher(self());
}

long NetHTTPFetcher::statusCode() const {
  std::lock_guard lock(mutex_);
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response_);
  return http ? http->statusCode() : 0;
}

std::optional<ns::HTTPHeaderFields> NetHTTPFetcher::responseHeaders() const {
  std::lock_guard lock(mutex_);
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response_);
  if (!http) return std::nullopt;
  return http->allHeaderFields();
}

bool NetHTTPFetcher::waitForCompletionWithTimeout(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  // Called only while this function runs.
  auto done = [this] {
    std::lock_guard lock(mutex_);
    return (!connection_ || hasConnectionEnded_) && !completionBlock_ && !delegate_ && !retryTimer_;
  };
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ns::Ref<ns::OperationQueue> queue;
    {
      std::lock_guard lock(mutex_);
      queue = delegateQueue_;
    }
    if (!ns::Thread::isMainThread() && queue) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      ns::RunLoop::currentRunLoop()->runMode_beforeDate(ns::DefaultRunLoopMode,
                                                        ns::Date::dateWithTimeIntervalSinceNow(0.001));
    }
  }
  return true;
}

ns::Error NetHTTPFetcher::statusError(long status) const {
  std::lock_guard lock(mutex_);
  ns::Dictionary info;
  if (downloadedData_ && !downloadedData_->empty()) info.set(kNetHTTPStatusDataKey, downloadedData_->copy());
  return ns::Error(NetHTTPStatusErrorDomain, status, info);
}

void NetHTTPFetcher::logNowWithError(const std::optional<ns::Error>& error) {
  NetHTTPFetcherLoggingHooks hooks;
  {
    std::lock_guard lock(classState().mutex);
    hooks = classState().loggingHooks;
  }
  if (hooks.logFetchWithError) hooks.logFetchWithError(*this, error);
}

// ---------------------------------------------------------------------------------------------
// Retry

bool NetHTTPFetcher::shouldRetryNowForStatus_error(long status, std::optional<ns::Error> error) {
  auto me = self();
  bool refresh = false;
  ns::Ref<NetFetcherAuthorizationProtocol> authorizer;
  {
    std::lock_guard lock(mutex_);
    if (authorizer_ && !hasAttemptedAuthRefresh_ && status == 401) authorizer = authorizer_;
  }
  if (authorizer && authorizer->primeForRefresh()) {
    std::lock_guard lock(mutex_);
    hasAttemptedAuthRefresh_ = true;
    request_->setValue_forHTTPHeaderField(std::nullopt, kAuthorizationHeader);
    refresh = true;
  }
  bool backOff = false;
  ns::Ref<ns::Object> target;
  RetrySelector selector;
  RetryBlock block;
  {
    std::lock_guard lock(mutex_);
    if (isRetryEnabled_ && nextRetryInterval() < maxRetryInterval_) {
      backOff = true;
      if (maxRetryInterval_ > -1.0 && initialRequestDate_ &&
          ns::Date::now().timeIntervalSinceDate(*initialRequestDate_) > 3 * maxRetryInterval_)
        backOff = false;
    }
    target = delegate_;
    selector = retrySel_;
    block = retryBlock_;
  }
  if (!refresh && !backOff) return false;
  if (!error) error = statusError(status);
  bool willRetry = refresh;
  if (!refresh) {
    long code = error->code();
    if (error->domain() == NetHTTPStatusErrorDomain) {
      willRetry = code == 408 || code == 503 || code == 504;
    } else if (error->domain() == ns::NSURLErrorDomain) {
      willRetry = code == ns::URLErrorTimedOut || code == ns::URLErrorNetworkConnectionLost;
    }
  }
  if (target && selector) willRetry = selector(*target, me, willRetry, *error);
  if (block) willRetry = block(willRetry, *error);
  return willRetry;
}

void NetHTTPFetcher::beginRetryTimer() {
  auto me = self();
  bool hasQueue;
  {
    std::lock_guard lock(mutex_);
    hasQueue = delegateQueue_ != nullptr;
  }
  if (hasQueue && !ns::Thread::isMainThread()) {
    ns::Thread::performOnMainThread({me, "beginRetryTimer", nullptr, [me] { me->beginRetryTimer(); }}, false);
    return;
  }
  destroyRetryTimer();
  ns::Ref<ns::Timer> timer;
  {
    std::lock_guard lock(mutex_);
    double wait = std::max(0.0, std::min(nextRetryInterval(), maxRetryInterval_));
    lastRetryInterval_ = wait;
    // The timer keeps the fetcher until it fires or the fetch is stopped.
    timer = ns::Timer::timerWithTimeInterval_repeats_block(
        wait, false, [me](const ns::Ref<ns::Timer>&) { me->retryTimerFired(); });
    retryTimer_ = timer;
    auto loop = hasQueue ? ns::RunLoop::mainRunLoop() : ns::RunLoop::currentRunLoop();
    loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  }
  postNotification(kNetHTTPFetcherRetryDelayStartedNotification, me);
}

void NetHTTPFetcher::retryTimerFired() {
  destroyRetryTimer();
  {
    std::lock_guard lock(mutex_);
    ++retryCount_;
  }
  stopFetchReleasingCallbacks(false);
  beginFetchMayDelay_mayAuthorize(true, true);
}

void NetHTTPFetcher::destroyRetryTimer() {
  ns::Ref<ns::Timer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(retryTimer_);
    retryTimer_.reset();
  }
  if (!timer) return;
  timer->invalidate();
  postNotification(kNetHTTPFetcherRetryDelayStoppedNotification, self());
}

bool NetHTTPFetcher::isRetryEnabled() const {
  std::lock_guard lock(mutex_);
  return isRetryEnabled_;
}

void NetHTTPFetcher::setRetryEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  if (enabled && !isRetryEnabled_) {
    setMinRetryInterval(0);
    setMaxRetryInterval(0);
    retryFactor_ = 2.0;
    lastRetryInterval_ = 0;
  }
  isRetryEnabled_ = enabled;
}

double NetHTTPFetcher::maxRetryInterval() const {
  std::lock_guard lock(mutex_);
  return maxRetryInterval_;
}

void NetHTTPFetcher::setMaxRetryInterval(double seconds) {
  std::lock_guard lock(mutex_);
  maxRetryInterval_ = seconds > 0 ? seconds : -1.0;
}

double NetHTTPFetcher::minRetryInterval() const {
  std::lock_guard lock(mutex_);
  return minRetryInterval_;
}

void NetHTTPFetcher::setMinRetryInterval(double seconds) {
  std::lock_guard lock(mutex_);
  minRetryInterval_ = seconds > 0 ? seconds : randomMinRetryInterval();
}

double NetHTTPFetcher::retryFactor() const {
  std::lock_guard lock(mutex_);
  return retryFactor_;
}

void NetHTTPFetcher::setRetryFactor(double factor) {
  std::lock_guard lock(mutex_);
  retryFactor_ = factor;
}

std::uint64_t NetHTTPFetcher::retryCount() const {
  std::lock_guard lock(mutex_);
  return retryCount_;
}

double NetHTTPFetcher::nextRetryInterval() const {
  std::lock_guard lock(mutex_);
  return std::max(minRetryInterval_, std::min(lastRetryInterval_ * retryFactor_, maxRetryInterval_));
}

void NetHTTPFetcher::setRetrySelector(RetrySelector selector) {
  std::lock_guard lock(mutex_);
  retrySel_ = std::move(selector);
}

void NetHTTPFetcher::setRetryBlock(RetryBlock block) {
  std::lock_guard lock(mutex_);
  retryBlock_ = std::move(block);
}
