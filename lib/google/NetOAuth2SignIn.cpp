#include "lib/google/NetOAuth2SignIn.h"

#include <vector>

#include "lib/google/NetHTTPFetcher.h"
#include "lib/google/NetHTTPFetcherConstants.h"
#include "lib/google/NetHTTPFetcherService.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/NetworkReachability.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/serialization/JSONSerialization.h"

namespace {

constexpr double kUserInfoMaxRetryInterval = 15.0;

bool nonEmpty(const std::optional<std::string>& s) {
  return s && !s->empty();
}

void post(const char* name, const ns::Ref<ns::Object>& object, ns::Dictionary userInfo = {}) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(name, object, userInfo);
}

// Whether `host` is `domain` or lies inside it.
bool hostInDomain(const std::string& host, const std::string& domain) {
  if (domain.empty()) return false;
  std::string h = ns::str::lowercase(host), d = ns::str::lowercase(domain);
  if (h == d) return true;
  return h.size() > d.size() && h.compare(h.size() - d.size(), d.size(), d) == 0 &&
         h[h.size() - d.size() - 1] == '.';
}

ns::Ref<ns::URL> failingURLOf(const ns::Error& error) {
  const ns::Value& value = error.userInfo().objectForKey(ns::Value(ns::NSURLErrorFailingURLErrorKey));
  if (auto url = value.objectAs<ns::URL>()) return url;
  if (value.isString()) return ns::URL::URLWithString(value.string());
  const ns::Value& text = error.userInfo().objectForKey(ns::Value(ns::NSURLErrorFailingURLStringErrorKey));
  return text.isString() ? ns::URL::URLWithString(text.string()) : nullptr;
}

bool sameHostAndPath(const ns::URL& a, const ns::URL& b) {
  return ns::str::lowercase(a.host().value_or("")) == ns::str::lowercase(b.host().value_or("")) &&
         a.path() == b.path();
}

// The flow lives on the main thread, with the web view that reports to it.
}  // namespace

NetOAuth2SignIn::~NetOAuth2SignIn() {
  if (networkLossTimer_) networkLossTimer_->invalidate();
  if (reachabilityRef_) reachabilityRef_->setCallback(nullptr);
}

// ---------------------------------------------------------------------------------------------
// The provider

ns::Ref<ns::URL> NetOAuth2SignIn::googleAuthorizationURL() {
  return ns::URL::URLWithString(NetOAuth2CurrentEndpoints().authorizationURL);
}
ns::Ref<ns::URL> NetOAuth2SignIn::googleTokenURL() {
  return ns::URL::URLWithString(NetOAuth2CurrentEndpoints().tokenURL);
}
ns::Ref<ns::URL> NetOAuth2SignIn::googleRevocationURL() {
  return ns::URL::URLWithString(NetOAuth2CurrentEndpoints().revocationURL);
}
ns::Ref<ns::URL> NetOAuth2SignIn::googleUserInfoURL() {
  return ns::URL::URLWithString(NetOAuth2CurrentEndpoints().userInfoURL);
}
std::string NetOAuth2SignIn::googleUserInfoEmailScope() {
  return NetOAuth2CurrentEndpoints().scopeHost + "/auth/userinfo.email";
}
std::string NetOAuth2SignIn::googleUserInfoProfileScope() {
  return NetOAuth2CurrentEndpoints().scopeHost + "/auth/userinfo.profile";
}

ns::Ref<NetOAuth2Authentication> NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(
    const std::optional<std::string>& scope, const std::optional<std::string>& clientID,
    const std::optional<std::string>& clientSecret) {
  auto auth =
      NetOAuth2Authentication::authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
          kNetOAuth2ServiceProviderGoogle, googleTokenURL(), nativeClientRedirectURI(), clientID,
          clientSecret);
  auth->setScope(scope);
  return auth;
}

NetOAuth2SignIn::SignInRef
NetOAuth2SignIn::initWithAuthentication_authorizationURL_delegate_webRequestSelector_finishedSelector(
    const ns::Ref<NetOAuth2Authentication>& auth, const ns::Ref<ns::URL>& authorizationURL,
    const ns::Ref<ns::Object>& delegate, WebRequestSelector webRequestSelector,
    FinishedSelector finishedSelector) {
  auto signIn = ns::make<NetOAuth2SignIn>();
  signIn->auth_ = auth;
  signIn->authorizationURL_ = authorizationURL;
  signIn->delegate_ = delegate;
  signIn->webRequestSelector_ = std::move(webRequestSelector);
  signIn->finishedSelector_ = std::move(finishedSelector);
  std::string host = authorizationURL ? authorizationURL->host().value_or("") : std::string();
  signIn->shouldFetchGoogleUserEmail_ = hostInDomain(host, NetOAuth2CurrentEndpoints().providerDomain);
  return signIn;
}

// ---------------------------------------------------------------------------------------------
// Starting

bool NetOAuth2SignIn::startSigningIn() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  addScopeForGoogleUserInfo();
  startWebRequest();
  return true;
}

void NetOAuth2SignIn::addScopeForGoogleUserInfo() {
  if (!auth_) return;
  // Called only while this function runs.
  auto add = [this](const std::string& wanted) {
    std::string scope = auth_->scope().value_or("");
    if (scope.find(wanted) != std::string::npos) return;
    auth_->setScope(scope.empty() ? wanted : scope + " " + wanted);
  };
  if (shouldFetchGoogleUserEmail_) add(googleUserInfoEmailScope());
  if (shouldFetchGoogleUserProfile_) add(googleUserInfoProfileScope());
}

void NetOAuth2SignIn::startWebRequest() {
  ns::Dictionary parameters;
  auto clientID = auth_ ? auth_->clientID() : std::nullopt;
  auto redirectURI = auth_ ? auth_->redirectURI() : std::nullopt;
  if (nonEmpty(clientID) && nonEmpty(redirectURI)) {
    parameters.set(ns::Value("response_type"), ns::Value("code"));
    parameters.set(ns::Value("client_id"), ns::Value(*clientID));
    if (auto scope = auth_->scope(); nonEmpty(scope)) parameters.set(ns::Value("scope"), ns::Value(*scope));
    parameters.set(ns::Value("redirect_uri"), ns::Value(*redirectURI));
  }
  parameters.addEntriesFromDictionary(additionalAuthorizationParameters_);
  auto request = mutableURLRequestWithURL_paramString(
      authorizationURL_, NetOAuth2Authentication::encodedQueryParametersForDictionary(parameters));
  if (delegate_ && webRequestSelector_) webRequestSelector_(*delegate_, self(), request);
  startReachabilityCheck();
}

ns::Ref<ns::URLRequest> NetOAuth2SignIn::mutableURLRequestWithURL_paramString(
    const ns::Ref<ns::URL>& url, const std::string& paramString) {
  if (!url) return nullptr;
  if (paramString.empty()) return ns::URLRequest::requestWithURL(url);
  std::string query = url->query().value_or("");
  query = query.empty() ? paramString : query + "&" + paramString;
  std::string port = url->port() ? ":" + std::to_string(*url->port()) : std::string();
  std::string text =
      url->scheme().value_or("") + "://" + url->host().value_or("") + port + url->path() + "?" + query;
  auto rebuilt = ns::URL::URLWithString(text);
  return ns::URLRequest::requestWithURL(rebuilt ? rebuilt : url);
}

// ---------------------------------------------------------------------------------------------
// Page events

bool NetOAuth2SignIn::requestRedirectedToRequest(const ns::Ref<ns::URLRequest>& request) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto redirectURIText = auth_ ? auth_->redirectURI() : std::nullopt;
  if (!redirectURIText || *redirectURIText == nativeClientRedirectURI()) return false;
  auto redirectURL = ns::URL::URLWithString(*redirectURIText);
  auto url = request ? request->URL() : nullptr;
  if (!redirectURL || !url) return false;
  bool isRedirect = (!url->host() || url->path().empty())
                        ? url->absoluteString() == redirectURL->absoluteString()
                        : sameHostAndPath(*url, *redirectURL);
  if (!isRedirect) return false;
  if (!hasHandledCallback_) {
    if (auto pairs = NetOAuth2Authentication::dictionaryWithResponseString(url->query().value_or("")))
      takeResultFrom(*pairs);
    authCodeObtained();
  }
  return true;
}

bool NetOAuth2SignIn::titleChanged(const std::string& title) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto blank = title.rfind(' ');
  if (blank == std::string::npos) return false;
  auto pairs = NetOAuth2Authentication::dictionaryWithResponseString(title.substr(blank + 1));
  if (!pairs) return false;
  auto nonEmptyValue = [&pairs](const char* key) {
    const ns::Value& value = pairs->objectForKey(ns::Value(key));
    return value.isString() && !value.string().empty();
  };
  if (!nonEmptyValue("code") && !nonEmptyValue("error")) return false;
  if (!hasHandledCallback_) {
    takeResultFrom(*pairs);
    authCodeObtained();
  }
  return true;
}

void NetOAuth2SignIn::takeResultFrom(const ns::Dictionary& pairs) {
  ns::Dictionary taken;
  for (const char* key : {"code", "error"}) {
    if (const ns::Value* value = pairs.find(ns::Value(key))) taken.set(ns::Value(key), *value);
  }
  if (auth_ && !taken.empty()) auth_->setKeysForResponseDictionary(taken);
}

bool NetOAuth2SignIn::loadFailedWithError(const ns::Error& error) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto failing = failingURLOf(error);
  if (!failing || !authorizationURL_ || !sameHostAndPath(*failing, *authorizationURL_)) return false;
  hasHandledCallback_ = true;
  closeTheWindow();
  invokeFinalCallbackWithError(error);
  return true;
}

void NetOAuth2SignIn::windowWasClosed() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  stopReachabilityCheck();
  // Once the code (or an error) was taken, the flow ends through its fetches, not the window.
  if (hasHandledCallback_) return;
  hasHandledCallback_ = true;
  invokeFinalCallbackWithError(ns::Error(NetOAuth2ErrorDomain, kNetOAuth2ErrorWindowClosed));
}

void NetOAuth2SignIn::cancelSigningIn() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto keep = self();
  if (auto fetcher = std::move(pendingFetcher_)) fetcher->stopFetching();
  pendingFetcher_.reset();
  if (auth_) auth_->stopAuthorization();
  closeTheWindow();
  delegate_.reset();
}

void NetOAuth2SignIn::closeTheWindow() {
  stopReachabilityCheck();
  if (delegate_ && webRequestSelector_) webRequestSelector_(*delegate_, self(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The code, the tokens and the user info

void NetOAuth2SignIn::authCodeObtained() {
  auto keep = self();
  hasHandledCallback_ = true;
  if (webRequestSelector_) {
    closeTheWindow();
  } else {
    addScopeForGoogleUserInfo();
  }
  std::optional<ns::Error> error;
  if (auth_ && nonEmpty(auth_->code())) {
    auto selector = NetOAuth2Authentication::FetchFinishedSelector::of(
        "auth:finishedWithFetcher:error:", &NetOAuth2SignIn::auth_finishedWithFetcher_error);
    pendingFetcher_ = auth_->beginTokenFetchWithDelegate_didFinishSelector(keep, selector);
    if (!pendingFetcher_) error = ns::Error(NetHTTPStatusErrorDomain, -1);
    post(kNetOAuth2UserSignedIn, keep);
  } else {
    ns::Dictionary userInfo;
    if (auto message = auth_ ? auth_->errorString() : std::nullopt)
      userInfo.set(ns::Value(kNetOAuth2ErrorMessageKey), ns::Value(*message));
    error = ns::Error(NetOAuth2ErrorDomain, kNetOAuth2ErrorAuthorizationFailed, userInfo);
  }
  if (error) invokeFinalCallbackWithError(error);
}

void NetOAuth2SignIn::auth_finishedWithFetcher_error(const ns::Ref<NetOAuth2Authentication>&,
                                                     const ns::Ref<NetHTTPFetcher>&,
                                                     const std::optional<ns::Error>& error) {
  auto keep = self();
  pendingFetcher_.reset();
  if (!error && !nonEmpty(auth_->accessToken())) {
    // A reply that carried no token (malformed, or an "error" member) ends the flow here: the
    // user-info request would only send the spent code again.
    ns::Dictionary userInfo;
    if (auto message = auth_->errorString())
      userInfo.set(ns::Value(kNetOAuth2ErrorMessageKey), ns::Value(*message));
    invokeFinalCallbackWithError(
        ns::Error(NetOAuth2ErrorDomain, kNetOAuth2ErrorAuthorizationFailed, userInfo));
    return;
  }
  if (!error && (shouldFetchGoogleUserEmail_ || shouldFetchGoogleUserProfile_) &&
      auth_->serviceProvider() == std::optional<std::string>(kNetOAuth2ServiceProviderGoogle)) {
    fetchGoogleUserInfo();
    return;
  }
  invokeFinalCallbackWithError(error);
}

void NetOAuth2SignIn::fetchGoogleUserInfo() {
  auto keep = self();
  if (!shouldFetchGoogleUserProfile_) {
    const ns::Value idToken = auth_->parameters().objectForKey(ns::Value("id_token"));
    if (idToken.isString()) {
      // The token came straight from the token endpoint over TLS, so its claims are read
      // without checking its signature.
      std::vector<std::string> parts;
      std::size_t start = 0;
      const std::string& text = idToken.string();
      while (true) {
        auto dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
      }
      if (parts.size() == 3) {
        if (auto claims = decodeWebSafeBase64(parts[1])) {
          updateGoogleUserInfoWithData(claims);
          if (nonEmpty(auth_->userID()) && nonEmpty(auth_->userEmail())) {
            invokeFinalCallbackWithError(std::nullopt);
            return;
          }
        }
      }
    }
  }
  auto fetcher = userInfoFetcherWithAuth(auth_);
  if (!fetcher) {
    invokeFinalCallbackWithError(ns::Error(NetHTTPStatusErrorDomain, -1));
    return;
  }
  pendingFetcher_ = fetcher;
  std::weak_ptr<NetOAuth2SignIn> weak = keep;
  std::weak_ptr<NetHTTPFetcher> weakFetcher = fetcher;
  auto auth = auth_;
  bool began = fetcher->beginFetchWithCompletionHandler(
      [weak, weakFetcher, auth](const std::optional<ns::Data>& data, const std::optional<ns::Error>& error) {
        ns::Dictionary stopInfo;
        if (auto f = weakFetcher.lock())
          stopInfo.set(ns::Value(kNetOAuth2FetcherKey), ns::Value(std::static_pointer_cast<ns::Object>(f)));
        post(kNetOAuth2FetchStopped, auth, stopInfo);
        auto me = weak.lock();
        if (!me) return;
        me->pendingFetcher_.reset();
        std::optional<ns::Error> finalError = error;
        if (!finalError) finalError = me->updateGoogleUserInfoWithData(data);
        // A sign-in that does not know whose account it holds keeps none of its tokens, so that
        // nothing can store them.
        if (finalError && !error) me->auth_->reset();
        me->invokeFinalCallbackWithError(finalError);
      });
  (void)began;  // a fetch that cannot begin still calls back with its error
  ns::Dictionary startInfo;
  startInfo.set(ns::Value(kNetOAuth2FetcherKey), ns::Value(std::static_pointer_cast<ns::Object>(fetcher)));
  startInfo.set(ns::Value(kNetOAuth2FetchTypeKey), ns::Value(kNetOAuth2FetchTypeUserInfo));
  post(kNetOAuth2FetchStarted, auth_, startInfo);
}

std::optional<ns::Error> NetOAuth2SignIn::updateGoogleUserInfoWithData(const std::optional<ns::Data>& data) {
  auto failure = [](const char* message) {
    ns::Dictionary userInfo;
    userInfo.set(ns::Value(kNetOAuth2ErrorMessageKey), ns::Value(message));
    userInfo.set(ns::Value(ns::NSLocalizedDescriptionKey), ns::Value(message));
    return ns::Error(NetOAuth2ErrorDomain, kNetOAuth2ErrorAuthorizationFailed, userInfo);
  };
  auto profile = data ? NetOAuth2Authentication::dictionaryWithJSONData(*data) : std::nullopt;
  if (!profile) return failure("The account's user info is not a JSON object");
  userProfile_ = profile;
  auto text = [&profile](const char* key) -> std::optional<std::string> {
    const ns::Value& value = profile->objectForKey(ns::Value(key));
    if (value.isString()) return value.string();
    if (value.isNumber()) return value.stringValue();
    return std::nullopt;
  };
  if (auto sub = text("sub")) auth_->setUserID(sub);
  auto email = text("email");
  if (email) auth_->setUserEmail(email);
  const ns::Value& verified = profile->objectForKey(ns::Value("email_verified"));
  if (verified.isString()) {
    std::string v = ns::str::lowercase(verified.string());
    auth_->setUserEmailIsVerified(
        v == "true" || v == "yes" || (!v.empty() && v[0] >= '1' && v[0] <= '9') ? "1" : "0");
  } else if (verified.isNumber()) {
    auth_->setUserEmailIsVerified(verified.boolValue() ? "1" : "0");
  }
  if (shouldFetchGoogleUserEmail_ && !nonEmpty(email))
    return failure("The account's user info has no e-mail address");
  return std::nullopt;
}

ns::Ref<NetHTTPFetcher> NetOAuth2SignIn::userInfoFetcherWithAuth(
    const ns::Ref<NetOAuth2Authentication>& auth) {
  auto url = googleUserInfoURL();
  if (!url || !auth) return nullptr;
  auto request = ns::URLRequest::requestWithURL(url);
  request->setValue_forHTTPHeaderField(auth->userAgent(), "User-Agent");
  request->setValue_forHTTPHeaderField("no-cache", "Cache-Control");
  auto service = auth->fetcherService();
  auto fetcher = service ? service->fetcherWithRequest(request) : NetHTTPFetcher::fetcherWithRequest(request);
  if (!fetcher) return nullptr;
  fetcher->setAuthorizer(auth);
  fetcher->setRetryEnabled(true);
  fetcher->setMaxRetryInterval(kUserInfoMaxRetryInterval);
  auto email = auth->userEmail();
  fetcher->setComment(std::string("NetOAuth2 user info") +
                      (email ? " for \"" + *email + "\"" : std::string()));
  return fetcher;
}

void NetOAuth2SignIn::invokeFinalCallbackWithError(const std::optional<ns::Error>& error) {
  auto keep = self();
  auto delegate = std::move(delegate_);
  delegate_.reset();
  if (delegate && finishedSelector_) finishedSelector_(*delegate, keep, auth_, error);
}

// ---------------------------------------------------------------------------------------------
// Revocation

void NetOAuth2SignIn::revokeTokenForGoogleAuthentication(const ns::Ref<NetOAuth2Authentication>& auth) {
  if (!auth) return;
  auto refresh = auth->refreshToken();
  auto url = googleRevocationURL();
  if (refresh && auth->canAuthorize() && auth->serviceProvider() == std::optional<std::string>("Google") &&
      url) {
    auto request = ns::URLRequest::requestWithURL(url);
    request->setValue_forHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    request->setValue_forHTTPHeaderField(auth->userAgent(), "User-Agent");
    auto service = auth->fetcherService();
    auto fetcher =
        service ? service->fetcherWithRequest(request) : NetHTTPFetcher::fetcherWithRequest(request);
    if (fetcher) {
      fetcher->setAuthorizer(nullptr);
      fetcher->setPostData(
          ns::Data("token=" + *NetOAuth2Authentication::encodedOAuthValueForString(refresh)));
      fetcher->setComment("NetOAuth2 revoke token for " + auth->userEmail().value_or(""));
      fetcher->beginFetchWithCompletionHandler(
          [](const std::optional<ns::Data>&, const std::optional<ns::Error>&) {});
    }
  }
  auth->reset();
}

// ---------------------------------------------------------------------------------------------
// base64url

std::optional<ns::Data> NetOAuth2SignIn::decodeWebSafeBase64(const std::string& text) {
  std::string s = text;
  while (!s.empty() && s.back() == '=') s.pop_back();
  if (s.size() % 4 == 1) return std::nullopt;
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : s) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '-' || c == '+') {
      v = 62;
    } else if (c == '_' || c == '/') {
      v = 63;
    } else {
      return std::nullopt;
    }
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return ns::Data(out);
}

// ---------------------------------------------------------------------------------------------
// Network watch

void NetOAuth2SignIn::startReachabilityCheck() {
  if (networkLossTimeoutInterval_ <= 0 || reachabilityRef_ || !authorizationURL_) return;
  auto host = authorizationURL_->host();
  if (!nonEmpty(host)) return;
  auto target = sc::NetworkReachability::createWithName(*host);
  if (!target) return;
  std::weak_ptr<NetOAuth2SignIn> weak = self();
  target->setCallback([weak](const ns::Ref<sc::NetworkReachability>&, sc::ReachabilityFlags flags) {
    if (auto me = weak.lock()) me->reachabilityChanged(flags);
  });
  if (!target->scheduleWithRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode)) {
    target->setCallback(nullptr);
    return;
  }
  reachabilityRef_ = target;
}

void NetOAuth2SignIn::stopReachabilityCheck() {
  if (networkLossTimer_) {
    networkLossTimer_->invalidate();
    networkLossTimer_.reset();
  }
  if (auto target = std::move(reachabilityRef_)) {
    target->unscheduleFromRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    target->setCallback(nullptr);
  }
  reachabilityRef_.reset();
}

void NetOAuth2SignIn::reachabilityChanged(unsigned flags) {
  bool reachable = (flags & sc::kSCNetworkReachabilityFlagsReachable) &&
                   !(flags & sc::kSCNetworkReachabilityFlagsConnectionRequired);
  if (reachable) {
    if (networkLossTimer_) {
      networkLossTimer_->invalidate();
      networkLossTimer_.reset();
    }
    if (hasNotifiedNetworkLoss_) {
      hasNotifiedNetworkLoss_ = false;
      post(kNetOAuthNetworkFound, self());
    }
    return;
  }
  if (networkLossTimer_ || networkLossTimeoutInterval_ <= 0 || hasNotifiedNetworkLoss_) return;
  std::weak_ptr<NetOAuth2SignIn> weak = self();
  networkLossTimer_ = ns::Timer::scheduledTimerWithTimeInterval_repeats_block(
      networkLossTimeoutInterval_, false, [weak](const ns::Ref<ns::Timer>&) {
        auto me = weak.lock();
        if (!me) return;
        me->networkLossTimer_.reset();
        if (me->hasNotifiedNetworkLoss_) return;
        me->hasNotifiedNetworkLoss_ = true;
        post(kNetOAuthNetworkLost, me);
      });
}
