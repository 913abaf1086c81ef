#include "lib/google/NetOAuth2Authentication.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "lib/google/NetHTTPFetcher.h"
#include "lib/google/NetHTTPFetcherService.h"
#include "platform/core/Str.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/PercentEncoding.h"
#include "platform/runloop/Thread.h"
#include "platform/serialization/JSONSerialization.h"

namespace {

constexpr char kAuthorizationHeader[] = "Authorization";
constexpr char kJWTBearerGrantType[] = "urn:ietf:params:oauth:grant-type:jwt-bearer";
constexpr double kRefreshMargin = 60.0;
constexpr double kTokenFetchMaxRetryInterval = 15.0;

// A token from a reply or the keychain that holds a line break or NUL cannot go into a header
// (the transport would drop the field and send the request unauthorized): it authorizes nothing.
bool isHeaderSafe(const std::string& token) {
  return token.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool nonEmpty(const std::optional<std::string>& s) {
  return s && !s->empty();
}

// The text of a value as a token reply may carry it: strings as they are, numbers written out.
std::optional<std::string> textOf(const ns::Value& value) {
  if (value.isString()) return value.string();
  if (value.isNumber()) return value.stringValue();
  return std::nullopt;
}

// An integer read from the start of text, as the platform's integerValue reads it.
std::optional<long long> leadingInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long n = 0;
  bool any = false;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    any = true;
    if (n > 1'000'000'000'000LL) break;  // far beyond any lifetime; no overflow
    n = n * 10 + (text[i] - '0');
  }
  if (!any) return 0;
  return negative ? -n : n;
}

void post(const char* name, const ns::Ref<ns::Object>& object, ns::Dictionary userInfo = {}) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(name, object, userInfo);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Args

ns::Ref<NetOAuth2AuthorizationArgs>
NetOAuth2AuthorizationArgs::argsWithRequest_delegate_selector_completionHandler_thread(
    ns::Ref<ns::URLRequest> request, ns::Ref<ns::Object> delegate,
    NetFetcherAuthorizationProtocol::FinishedSelector selector, CompletionHandler handler,
    ns::Ref<ns::Thread> thread) {
  auto args = ns::make<NetOAuth2AuthorizationArgs>();
  args->request = std::move(request);
  args->delegate = std::move(delegate);
  args->selector = std::move(selector);
  args->completionHandler = std::move(handler);
  args->thread = std::move(thread);
  return args;
}

// ---------------------------------------------------------------------------------------------
// Creation and values

NetOAuth2Authentication::~NetOAuth2Authentication() = default;

ns::Ref<NetOAuth2Authentication>
NetOAuth2Authentication::authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
    const std::optional<std::string>& serviceProvider, const ns::Ref<ns::URL>& tokenURL,
    const std::optional<std::string>& redirectURI, const std::optional<std::string>& clientID,
    const std::optional<std::string>& clientSecret) {
  auto auth = ns::make<NetOAuth2Authentication>();
  auth->setServiceProvider(serviceProvider);
  auth->setTokenURL(tokenURL);
  auth->setRedirectURI(redirectURI);
  auth->setClientID(clientID);
  auth->setClientSecret(clientSecret);
  return auth;
}

#define OAUTH_FIELD(Type, getter, setter, member)    \
  Type NetOAuth2Authentication::getter() const {     \
    std::lock_guard lock(mutex_);                    \
    return member;                                   \
  }                                                  \
  void NetOAuth2Authentication::setter(Type value) { \
    std::lock_guard lock(mutex_);                    \
    member = std::move(value);                       \
  }
OAUTH_FIELD(std::optional<std::string>, clientID, setClientID, clientID_)
OAUTH_FIELD(std::optional<std::string>, clientSecret, setClientSecret, clientSecret_)
OAUTH_FIELD(std::optional<std::string>, redirectURI, setRedirectURI, redirectURI_)
OAUTH_FIELD(ns::Ref<ns::URL>, tokenURL, setTokenURL, tokenURL_)
OAUTH_FIELD(std::optional<ns::Date>, expirationDate, setExpirationDate, expirationDate_)
OAUTH_FIELD(std::optional<std::string>, authorizationTokenKey, setAuthorizationTokenKey,
            authorizationTokenKey_)
OAUTH_FIELD(ns::Dictionary, additionalTokenRequestParameters, setAdditionalTokenRequestParameters,
            additionalTokenRequestParameters_)
OAUTH_FIELD(ns::Dictionary, additionalGrantTypeRequestParameters, setAdditionalGrantTypeRequestParameters,
            additionalGrantTypeRequestParameters_)
OAUTH_FIELD(bool, shouldAuthorizeAllRequests, setShouldAuthorizeAllRequests, shouldAuthorizeAllRequests_)
OAUTH_FIELD(ns::Value, userData, setUserData, userData_)
#undef OAUTH_FIELD

ns::Ref<NetHTTPFetcher> NetOAuth2Authentication::refreshFetcher() const {
  std::lock_guard lock(mutex_);
  return refreshFetcher_;
}

ns::Dictionary NetOAuth2Authentication::parameters() const {
  std::lock_guard lock(mutex_);
  return parameters_;
}

std::optional<std::string> NetOAuth2Authentication::stringForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const ns::Value* value = parameters_.find(ns::Value(key));
  return value ? textOf(*value) : std::nullopt;
}

void NetOAuth2Authentication::setString_forKey(const std::optional<std::string>& value,
                                               const std::string& key) {
  std::lock_guard lock(mutex_);
  if (value) {
    parameters_.set(ns::Value(key), ns::Value(*value));
  } else {
    parameters_.remove(ns::Value(key));
  }
}

std::optional<long long> NetOAuth2Authentication::expiresIn() const {
  std::lock_guard lock(mutex_);
  const ns::Value* value = parameters_.find(ns::Value("expires_in"));
  if (!value) return std::nullopt;
  if (value->isNumber()) return value->longLongValue();
  if (value->isString()) return leadingInteger(value->string());
  return std::nullopt;
}

void NetOAuth2Authentication::setExpiresIn(std::optional<long long> seconds) {
  std::lock_guard lock(mutex_);
  if (seconds) {
    parameters_.set(ns::Value("expires_in"), ns::Value(*seconds));
  } else {
    parameters_.remove(ns::Value("expires_in"));
  }
  updateExpirationDateLocked();
}

void NetOAuth2Authentication::updateExpirationDateLocked() {
  std::optional<long long> seconds;
  if (const ns::Value* value = parameters_.find(ns::Value("expires_in"))) {
    if (value->isNumber()) seconds = value->longLongValue();
    if (value->isString()) seconds = leadingInteger(value->string());
  }
  if (seconds && *seconds > 0) {
    expirationDate_ = ns::Date::dateWithTimeIntervalSinceNow(static_cast<double>(*seconds));
  } else {
    expirationDate_.reset();
  }
}

ns::Value NetOAuth2Authentication::propertyForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return properties_ ? properties_->objectForKey(ns::Value(key)) : ns::Value();
}

void NetOAuth2Authentication::setProperty_forKey(ns::Value value, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (value.isNil()) {
    if (properties_) properties_->remove(ns::Value(key));
    return;
  }
  if (!properties_) properties_.emplace();
  properties_->set(ns::Value(key), std::move(value));
}

ns::Ref<NetHTTPFetcherService> NetOAuth2Authentication::fetcherService() {
  std::lock_guard lock(mutex_);
  return fetcherService_.lock();
}

void NetOAuth2Authentication::setFetcherService(const ns::Ref<NetHTTPFetcherService>& service) {
  std::lock_guard lock(mutex_);
  fetcherService_ = service;
}

std::optional<std::string> NetOAuth2Authentication::authorizationToken() const {
  std::lock_guard lock(mutex_);
  if (authorizationTokenKey_) return stringForKey(*authorizationTokenKey_);
  return stringForKey("access_token");
}

std::string NetOAuth2Authentication::description() const {
  std::lock_guard lock(mutex_);
  std::string fields;
  auto add = [&fields](const char* name, const std::optional<std::string>& value) {
    if (!value) return;
    fields += std::string(fields.empty() ? "" : ", ") + name + "=\"" + *value + "\"";
  };
  add("accessToken", stringForKey("access_token"));
  add("refreshToken", stringForKey("refresh_token"));
  add("code", stringForKey("code"));
  add("assertion", stringForKey("assertion"));
  if (expirationDate_) add("expirationDate", ns::Value(*expirationDate_).description());
  add("errorString", stringForKey("error"));
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return className() + " " + address + ": {" + fields + "}";
}

// ---------------------------------------------------------------------------------------------
// State

bool NetOAuth2Authentication::canAuthorize() {
  std::lock_guard lock(mutex_);
  if (auto refresh = stringForKey("refresh_token")) return !refresh->empty();
  return nonEmpty(authorizationToken());
}

bool NetOAuth2Authentication::shouldRefreshAccessToken() {
  std::lock_guard lock(mutex_);
  return shouldRefreshAccessTokenLocked();
}

bool NetOAuth2Authentication::shouldRefreshAccessTokenLocked() const {
  bool canRefresh = nonEmpty(stringForKey("refresh_token")) || nonEmpty(stringForKey("assertion")) ||
                    nonEmpty(stringForKey("code"));
  if (!canRefresh) return false;
  if (!nonEmpty(stringForKey("access_token"))) return true;
  // A date already past counts as expiring.
  return !expirationDate_ || expirationDate_->timeIntervalSinceNow() < kRefreshMargin;
}

bool NetOAuth2Authentication::primeForRefresh() {
  std::lock_guard lock(mutex_);
  if (!stringForKey("refresh_token")) return false;
  parameters_.remove(ns::Value("access_token"));
  parameters_.remove(ns::Value("expires_in"));
  parameters_.remove(ns::Value("error"));
  expirationDate_.reset();
  return true;
}

void NetOAuth2Authentication::reset() {
  std::lock_guard lock(mutex_);
  for (const char* key :
       {"code", "access_token", "refresh_token", "assertion", "expires_in", "error", "email", "isVerified"})
    parameters_.remove(ns::Value(key));
  expirationDate_.reset();
  authorizationTokenKey_.reset();
}

// ---------------------------------------------------------------------------------------------
// Authorizing

bool NetOAuth2Authentication::authorizeRequest_completionHandler(const ns::Ref<ns::URLRequest>& request,
                                                                 CompletionHandler handler) {
  auto args = NetOAuth2AuthorizationArgs::argsWithRequest_delegate_selector_completionHandler_thread(
      request, nullptr, {}, std::move(handler), ns::Thread::currentThread());
  return authorizeRequestArgs(args);
}

bool NetOAuth2Authentication::authorizeRequest_delegate_didFinishSelector(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::Object>& delegate,
    const FinishedSelector& selector) {
  auto args = NetOAuth2AuthorizationArgs::argsWithRequest_delegate_selector_completionHandler_thread(
      request, delegate, selector, nullptr, ns::Thread::currentThread());
  bool result = authorizeRequestArgs(args);
  // With a delegate the answer always comes through the selector, so the caller must wait for it
  // even when the authorization failed.
  return (delegate && selector) ? true : result;
}

bool NetOAuth2Authentication::authorizeRequest(const ns::Ref<ns::URLRequest>& request) {
  auto args = NetOAuth2AuthorizationArgs::argsWithRequest_delegate_selector_completionHandler_thread(
      request, nullptr, {}, nullptr, ns::Thread::currentThread());
  return authorizeRequestImmediateArgs(args) && request && isAuthorizedRequest(request);
}

bool NetOAuth2Authentication::authorizeRequestArgs(const ns::Ref<NetOAuth2AuthorizationArgs>& args) {
  {
    std::lock_guard lock(mutex_);
    if (shouldRefreshAccessTokenLocked()) {
      if (refreshFetcher_) {
        authorizationQueue_.push_back(args);
      } else {
        auto selector =
            FetchFinishedSelector::of("auth:finishedRefreshWithFetcher:error:",
                                      &NetOAuth2Authentication::auth_finishedRefreshWithFetcher_error);
        auto fetcher = beginTokenFetchWithDelegate_didFinishSelector(self(), selector);
        if (fetcher) {
          refreshFetcher_ = fetcher;
          authorizationQueue_.push_back(args);
        }
      }
      if (refreshFetcher_) return true;
    }
  }
  return authorizeRequestImmediateArgs(args);
}

std::optional<std::string> NetOAuth2Authentication::serverErrorOf(const ns::Error& error) {
  if (error.code() != 400) return std::nullopt;
  const ns::Value& json = error.userInfo().objectForKey(ns::Value(kNetOAuth2ErrorJSONKey));
  if (!json.isDictionary()) return std::nullopt;
  const ns::Value& message = json.dictionary().objectForKey(ns::Value("error"));
  if (!message.isString()) return std::nullopt;
  return message.stringValue();
}

bool NetOAuth2Authentication::isRefusedGrantError(const std::optional<ns::Error>& error) {
  return error && serverErrorOf(*error) == kNetOAuth2ErrorInvalidGrant;
}

void NetOAuth2Authentication::auth_finishedRefreshWithFetcher_error(const ns::Ref<NetOAuth2Authentication>&,
                                                                    const ns::Ref<NetHTTPFetcher>&,
                                                                    const std::optional<ns::Error>& error) {
  const std::optional<std::string> serverError = error ? serverErrorOf(*error) : std::nullopt;
  const bool grantRefused = serverError == kNetOAuth2ErrorInvalidGrant;
  std::vector<ns::Ref<NetOAuth2AuthorizationArgs>> pending;
  bool hasToken = false;
  {
    std::lock_guard lock(mutex_);
    refreshFetcher_.reset();
    pending.swap(authorizationQueue_);
    if (grantRefused) {
      // The provider will never honour this refresh token again: sending it at each later request
      // (or retrying a 401 through it) only repeats the refusal, and the access token it kept
      // alive is as good as gone. Without either the authorizer can no longer authorize.
      for (const char* key : {"access_token", "refresh_token", "expires_in"})
        parameters_.remove(ns::Value(key));
      expirationDate_.reset();
    }
    hasToken = nonEmpty(stringForKey("access_token"));
  }
  if (hasToken && !error) {
    post(kNetOAuth2AccessTokenRefreshed, self());
  } else {
    ns::Dictionary userInfo;
    if (error)
      userInfo.set(ns::Value(kNetOAuth2ErrorObjectKey), ns::Value(ns::make<ns::ErrorObject>(*error)));
    if (serverError) userInfo.set(ns::Value(kNetOAuth2ErrorMessageKey), ns::Value(*serverError));
    post(kNetOAuth2AccessTokenRefreshFailed, self(), userInfo);
  }
  for (const auto& args : pending) {
    if (!hasToken && !args->error) args->error = error;
    authorizeRequestImmediateArgs(args);
  }
}

bool NetOAuth2Authentication::authorizeRequestImmediateArgs(const ns::Ref<NetOAuth2AuthorizationArgs>& args) {
  const auto& request = args->request;
  auto url = request ? request->URL() : nullptr;
  long code = 0;
  {
    std::lock_guard lock(mutex_);
    bool mayAuthorize = !url || shouldAuthorizeAllRequests_ || url->isFileURL() ||
                        ns::str::lowercase(url->scheme().value_or("")) == "https";
    if (!mayAuthorize) {
      code = kNetOAuth2ErrorUnauthorizableRequest;
    } else if (auto token = authorizationToken(); nonEmpty(token) && isHeaderSafe(*token)) {
      if (url) request->setValue_forHTTPHeaderField("Bearer " + *token, kAuthorizationHeader);
      args->error.reset();
    } else if (url) {
      code = kNetOAuth2ErrorAuthorizationFailed;
    }
  }
  if (code && !args->error) {
    ns::Dictionary userInfo;
    if (request) userInfo.set(ns::Value("request"), ns::Value(std::static_pointer_cast<ns::Object>(request)));
    args->error = ns::Error(NetOAuth2ErrorDomain, code, userInfo);
  }
  bool succeeded = !args->error;
  if (!args->delegate && !args->completionHandler) return succeeded;
  invokeCallbackArgs(args);
  return succeeded;
}

void NetOAuth2Authentication::invokeCallbackArgs(const ns::Ref<NetOAuth2AuthorizationArgs>& args) {
  auto me = self();
  auto run = [me, args] {
    if (args->delegate && args->selector) args->selector(*args->delegate, me, args->request, args->error);
    if (args->completionHandler) args->completionHandler(args->error);
  };
  if (!args->thread || args->thread == ns::Thread::currentThread()) {
    run();
    return;
  }
  auto service = fetcherService();
  if (auto queue = service ? service->delegateQueue() : nullptr) {
    queue->addOperationWithBlock(run);
    return;
  }
  ns::Thread::performOnThread(args->thread, {me, "invokeCallbackArgs:", nullptr, run}, false);
}

bool NetOAuth2Authentication::isAuthorizingRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard lock(mutex_);
  return std::any_of(authorizationQueue_.begin(), authorizationQueue_.end(),
                     [&](const auto& args) { return args->request == request; });
}

bool NetOAuth2Authentication::isAuthorizedRequest(const ns::Ref<ns::URLRequest>& request) {
  return request && nonEmpty(request->valueForHTTPHeaderField(kAuthorizationHeader));
}

void NetOAuth2Authentication::stopAuthorization() {
  ns::Ref<NetHTTPFetcher> fetcher;
  {
    std::lock_guard lock(mutex_);
    authorizationQueue_.clear();
    fetcher = std::move(refreshFetcher_);
    refreshFetcher_.reset();
  }
  if (fetcher) fetcher->stopFetching();
}

void NetOAuth2Authentication::stopAuthorizationForRequest(const ns::Ref<ns::URLRequest>& request) {
  bool empty = false;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(authorizationQueue_.begin(), authorizationQueue_.end(),
                           [&](const auto& args) { return args->request == request; });
    if (it == authorizationQueue_.end()) return;
    authorizationQueue_.erase(it);
    empty = authorizationQueue_.empty();
  }
  if (empty) stopAuthorization();
}

// ---------------------------------------------------------------------------------------------
// Token requests

ns::Ref<NetHTTPFetcher> NetOAuth2Authentication::beginTokenFetchWithDelegate_didFinishSelector(
    const ns::Ref<ns::Object>& delegate, const FetchFinishedSelector& selector) {
  ns::Dictionary fields;
  std::string fetchType;
  ns::Ref<ns::URL> tokenURL;
  std::optional<std::string> email;
  ns::Ref<NetHTTPFetcherService> service;
  {
    std::lock_guard lock(mutex_);
    auto set = [&fields](const char* key, const std::string& value) {
      fields.set(ns::Value(key), ns::Value(value));
    };
    std::string grantType;
    if (auto refresh = stringForKey("refresh_token"); nonEmpty(refresh)) {
      set("refresh_token", *refresh);
      if (auto scope = stringForKey("refreshScope"); nonEmpty(scope)) set("scope", *scope);
      grantType = "refresh_token";
      fetchType = kNetOAuth2FetchTypeRefresh;
    } else if (auto code = stringForKey("code"); nonEmpty(code)) {
      set("code", *code);
      if (nonEmpty(redirectURI_)) set("redirect_uri", *redirectURI_);
      if (auto scope = stringForKey("scope"); nonEmpty(scope)) set("scope", *scope);
      grantType = "authorization_code";
      fetchType = kNetOAuth2FetchTypeToken;
    } else if (auto assertion = stringForKey("assertion"); nonEmpty(assertion)) {
      set("assertion", *assertion);
      grantType = kJWTBearerGrantType;
      fetchType = kNetOAuth2FetchTypeAssertion;
    } else {
      return nullptr;
    }
    set("grant_type", grantType);
    if (nonEmpty(clientID_)) set("client_id", *clientID_);
    if (nonEmpty(clientSecret_)) set("client_secret", *clientSecret_);
    fields.addEntriesFromDictionary(additionalTokenRequestParameters_);
    const ns::Value& extra = additionalGrantTypeRequestParameters_.objectForKey(ns::Value(grantType));
    if (extra.isDictionary()) fields.addEntriesFromDictionary(extra.dictionary());
    tokenURL = tokenURL_;
    email = stringForKey("email");
    service = fetcherService_.lock();
  }
  if (!tokenURL) return nullptr;

  auto request = ns::URLRequest::requestWithURL(tokenURL);
  request->setValue_forHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  request->setValue_forHTTPHeaderField(userAgent(), "User-Agent");
  ns::Ref<NetHTTPFetcher> fetcher;
  if (service) {
    fetcher = service->fetcherWithRequest(request);
    // The token request itself carries no bearer header.
    if (fetcher) fetcher->setAuthorizer(nullptr);
  } else {
    fetcher = NetHTTPFetcher::fetcherWithRequest(request);
  }
  if (!fetcher) return nullptr;
  fetcher->setPostData(ns::Data(encodedQueryParametersForDictionary(fields)));
  std::string forEmail = email ? " for \"" + *email + "\"" : std::string();
  fetcher->setComment("NetOAuth2 " + fetchType + " fetch to " + tokenURL->host().value_or("") + forEmail);
  fetcher->setRetryEnabled(true);
  fetcher->setMaxRetryInterval(kTokenFetchMaxRetryInterval);
  if (delegate) fetcher->setProperty_forKey(ns::Value(delegate), "delegate");
  if (selector) fetcher->setProperty_forKey(ns::Value(selector.name()), "sel");

  // A fetch that cannot begin still calls back later; by then nobody waits for it.
  auto started = std::make_shared<bool>(true);
  auto me = self();
  std::weak_ptr<NetHTTPFetcher> weakFetcher = fetcher;
  bool began = fetcher->beginFetchWithCompletionHandler(
      [me, weakFetcher, selector, started](const std::optional<ns::Data>& data,
                                           const std::optional<ns::Error>& error) {
        auto f = weakFetcher.lock();
        if (!f || !*started) return;
        // The reply's values are merged before the delegate hears of the end.
        auto finalError = me->tokenFetcher_finishedWithData_error(f, data, error);
        auto target = f->propertyForKey("delegate");
        f->setProperty_forKey(ns::Value(), "delegate");
        if (selector && target.isObject() && target.object()) selector(*target.object(), me, f, finalError);
      });
  if (!began) {
    *started = false;
    return nullptr;
  }
  ns::Dictionary userInfo;
  userInfo.set(ns::Value(kNetOAuth2FetcherKey), ns::Value(std::static_pointer_cast<ns::Object>(fetcher)));
  userInfo.set(ns::Value(kNetOAuth2FetchTypeKey), ns::Value(fetchType));
  post(kNetOAuth2FetchStarted, me, userInfo);
  return fetcher;
}

std::optional<ns::Error> NetOAuth2Authentication::tokenFetcher_finishedWithData_error(
    const ns::Ref<NetHTTPFetcher>& fetcher, const std::optional<ns::Data>& data,
    std::optional<ns::Error> error) {
  auto me = self();
  ns::Dictionary stopInfo;
  stopInfo.set(ns::Value(kNetOAuth2FetcherKey), ns::Value(std::static_pointer_cast<ns::Object>(fetcher)));
  post(kNetOAuth2FetchStopped, me, stopInfo);

  if (!error) {
    if (data && data->length() > 0) {
      auto headers = fetcher->responseHeaders();
      auto type = headers ? headers->get("Content-Type") : std::nullopt;
      if (type && ns::str::lowercase(*type).rfind("application/json", 0) == 0) {
        setKeysForResponseJSONData(*data);
      } else {
        setKeysForResponseString(data->toString());
      }
    }
  } else {
    std::optional<ns::Data> body = data;
    if (!body || body->length() == 0) {
      const ns::Value& stored = error->userInfo().objectForKey(ns::Value(kNetHTTPStatusDataKey));
      if (stored.isData()) body = stored.data();
    }
    if (body && body->length() > 0) {
      if (auto json = dictionaryWithJSONData(*body); json && !json->empty()) {
        ns::Dictionary userInfo;
        userInfo.set(ns::Value(kNetOAuth2ErrorJSONKey), ns::Value(*json));
        userInfo.addEntriesFromDictionary(error->userInfo());
        error = ns::Error(error->domain(), error->code(), userInfo);
      }
    }
  }
  return error;
}

bool NetOAuth2Authentication::waitForCompletionWithTimeout(double seconds) {
  auto fetcher = refreshFetcher();
  return !fetcher || fetcher->waitForCompletionWithTimeout(seconds);
}

std::string NetOAuth2Authentication::userAgent() const {
  auto bundle = ns::Bundle::mainBundle();
  auto identifier = bundle ? bundle->bundleIdentifier() : std::nullopt;
  if (!nonEmpty(identifier)) return "net-oauth2";
  std::string agent = "net-oauth2 " + *identifier;
  auto version = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
  if (!version.isString() || version.string().empty())
    version = bundle->objectForInfoDictionaryKey(ns::kCFBundleVersionKey);
  if (version.isString() && !version.string().empty()) agent += "/" + version.string();
  return agent;
}

// ---------------------------------------------------------------------------------------------
// Replies and the persistence string

void NetOAuth2Authentication::setKeysForResponseDictionary(const ns::Dictionary& dictionary) {
  bool refreshChanged = false;
  {
    std::lock_guard lock(mutex_);
    if (dictionary.contains(ns::Value("access_token")) || dictionary.contains(ns::Value("code")))
      parameters_.remove(ns::Value("expires_in"));
    if (const ns::Value* fresh = dictionary.find(ns::Value("refresh_token"))) {
      const ns::Value* old = parameters_.find(ns::Value("refresh_token"));
      refreshChanged = !old || !(*old == *fresh);
    }
    for (const auto& [key, value] : dictionary) {
      if (key.isString()) parameters_.set(key, value);
    }
    updateExpirationDateLocked();
  }
  if (refreshChanged) post(kNetOAuth2RefreshTokenChanged, self());
}

void NetOAuth2Authentication::setKeysForResponseString(const std::optional<std::string>& text) {
  if (auto dictionary = dictionaryWithResponseString(text)) setKeysForResponseDictionary(*dictionary);
}

void NetOAuth2Authentication::setKeysForResponseJSONData(const ns::Data& data) {
  if (auto dictionary = dictionaryWithJSONData(data)) setKeysForResponseDictionary(*dictionary);
}

std::string NetOAuth2Authentication::persistenceResponseString() const {
  std::lock_guard lock(mutex_);
  ns::Dictionary saved;
  auto copy = [&](const char* key) {
    if (const ns::Value* value = parameters_.find(ns::Value(key))) saved.set(ns::Value(key), *value);
  };
  copy(parameters_.contains(ns::Value("refresh_token")) ? "refresh_token" : "access_token");
  for (const char* key : {"serviceProvider", "userID", "email", "isVerified", "scope"}) copy(key);
  return encodedQueryParametersForDictionary(saved);
}

// ---------------------------------------------------------------------------------------------
// Class helpers

std::optional<std::string> NetOAuth2Authentication::encodedOAuthValueForString(
    const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  static const ns::URLCharacterSet allowed = ns::URLCharacterSet::unreservedCharacterSet();
  return ns::stringByAddingPercentEncodingWithAllowedCharacters(*text, allowed);
}

std::optional<std::string> NetOAuth2Authentication::unencodedOAuthParameterForString(
    const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ns::stringByRemovingPercentEncoding(*text);
}

std::string NetOAuth2Authentication::encodedQueryParametersForDictionary(const ns::Dictionary& dictionary) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& [key, value] : dictionary) {
    auto k = textOf(key);
    auto v = textOf(value);
    if (k && v) pairs.emplace_back(*k, *v);
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
    return ns::str::caseInsensitiveCompare(a.first, b.first) == ns::OrderedAscending;
  });
  std::string out;
  for (const auto& [k, v] : pairs) {
    if (!out.empty()) out += '&';
    out += *encodedOAuthValueForString(k) + "=" + *encodedOAuthValueForString(v);
  }
  return out;
}

std::optional<ns::Dictionary> NetOAuth2Authentication::dictionaryWithResponseString(
    const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  ns::Dictionary out;
  std::size_t start = 0;
  while (start <= text->size()) {
    std::size_t end = text->find('&', start);
    if (end == std::string::npos) end = text->size();
    std::string piece = text->substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    std::size_t equals = piece.find('=');
    std::string rawKey = equals == std::string::npos ? piece : piece.substr(0, equals);
    std::string rawValue = equals == std::string::npos ? std::string() : piece.substr(equals + 1);
    // A pair that does not decode to UTF-8 text is left out rather than kept half-read.
    auto key = unencodedOAuthParameterForString(rawKey);
    auto value = unencodedOAuthParameterForString(rawValue);
    if (key && value) out.set(ns::Value(*key), ns::Value(*value));
  }
  return out;
}

std::optional<ns::Dictionary> NetOAuth2Authentication::dictionaryWithResponseData(const ns::Data& data) {
  return dictionaryWithResponseString(data.toString());
}

std::optional<ns::Dictionary> NetOAuth2Authentication::dictionaryWithJSONData(const ns::Data& data) {
  ns::Error error;
  ns::Value value = ns::JSONSerialization::JSONObjectWithData_options_error(data, 0, &error);
  if (!value.isDictionary()) return std::nullopt;
  return value.dictionary();
}

std::string NetOAuth2Authentication::scopeWithStrings(const std::vector<std::string>& scopes) {
  std::string out;
  for (const auto& scope : scopes) {
    if (!out.empty()) out += ' ';
    out += scope;
  }
  return out;
}
