#pragma once
// The OAuth 2.0 state of the signed-in account and the request authorizer of the Data API client:
// every fetch that holds it gets "Authorization: Bearer <access token>", the token refreshed first
// when it expires within 60 seconds. Authorizations asked while one refresh runs wait for it and
// complete in the order asked, each on the thread that asked (or the fetcher service's delegate
// queue). It also reads and writes the form text kept in the keychain.
//
//   auto auth =
//   NetOAuth2Authentication::authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
//       "Google", tokenURL, "urn:ietf:wg:oauth:2.0:oob", clientID, clientSecret);
//   auth->setKeysForResponseString(savedText);
//   auth->authorizeRequest_completionHandler(request, [](const std::optional<ns::Error>& e) { ... });
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/google/CallbackSelector.h"
#include "lib/google/NetFetcherAuthorizationProtocol.h"
#include "platform/core/Data.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

class NetHTTPFetcher;
namespace ns {
class Thread;
}

// A reverse-DNS name of our own.
inline constexpr char NetOAuth2ErrorDomain[] = "com.ordel42.zeravozezi.OAuth2";
inline constexpr long kNetOAuth2ErrorWindowClosed = -1000;
inline constexpr long kNetOAuth2ErrorAuthorizationFailed = -1001;
inline constexpr long kNetOAuth2ErrorUnauthorizableRequest = -1004;

inline constexpr char kNetOAuth2AccessTokenRefreshed[] = "kNetOAuth2AccessTokenRefreshed";
inline constexpr char kNetOAuth2AccessTokenRefreshFailed[] = "kNetOAuth2AccessTokenRefreshFailed";
inline constexpr char kNetOAuth2RefreshTokenChanged[] = "kNetOAuth2RefreshTokenChanged";
inline constexpr char kNetOAuth2FetchStarted[] = "kNetOAuth2FetchStarted";
inline constexpr char kNetOAuth2FetchStopped[] = "kNetOAuth2FetchStopped";
inline constexpr char kNetOAuth2ErrorObjectKey[] = "kNetOAuth2ErrorObjectKey";
inline constexpr char kNetOAuth2ErrorMessageKey[] = "error";
// The server's error when it refuses the grant itself (a revoked or expired refresh token): the
// authorizer then drops its tokens and can no longer authorize.
inline constexpr char kNetOAuth2ErrorInvalidGrant[] = "invalid_grant";
inline constexpr char kNetOAuth2ErrorJSONKey[] = "json";
inline constexpr char kNetOAuth2FetcherKey[] = "fetcher";
inline constexpr char kNetOAuth2FetchTypeKey[] = "FetchType";
inline constexpr char kNetOAuth2FetchTypeToken[] = "token";
inline constexpr char kNetOAuth2FetchTypeRefresh[] = "refresh";
inline constexpr char kNetOAuth2FetchTypeAssertion[] = "assertion";
inline constexpr char kNetOAuth2FetchTypeUserInfo[] = "userInfo";

class NetOAuth2Authentication;

// One pending authorization.
class NetOAuth2AuthorizationArgs : public ns::Object {
 public:
  using CompletionHandler = std::function<void(const std::optional<ns::Error>&)>;

  static ns::Ref<NetOAuth2AuthorizationArgs> argsWithRequest_delegate_selector_completionHandler_thread(
      ns::Ref<ns::URLRequest> request, ns::Ref<ns::Object> delegate,
      NetFetcherAuthorizationProtocol::FinishedSelector selector, CompletionHandler handler,
      ns::Ref<ns::Thread> thread);

  ns::Ref<ns::URLRequest> request;
  ns::Ref<ns::Object> delegate;
  NetFetcherAuthorizationProtocol::FinishedSelector selector;
  CompletionHandler completionHandler;
  ns::Ref<ns::Thread> thread;
  std::optional<ns::Error> error;

  std::string className() const override { return "NetOAuth2AuthorizationArgs"; }
};

class NetOAuth2Authentication : public ns::Object, public NetFetcherAuthorizationProtocol {
 public:
  using CompletionHandler = NetOAuth2AuthorizationArgs::CompletionHandler;
  // auth:finishedWithFetcher:error:
  using FetchFinishedSelector =
      CallbackSelector<void(const ns::Ref<NetOAuth2Authentication>&, const ns::Ref<NetHTTPFetcher>&,
                            const std::optional<ns::Error>&)>;

  NetOAuth2Authentication() = default;
  ~NetOAuth2Authentication() override;

  static ns::Ref<NetOAuth2Authentication>
  authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
      const std::optional<std::string>& serviceProvider, const ns::Ref<ns::URL>& tokenURL,
      const std::optional<std::string>& redirectURI, const std::optional<std::string>& clientID,
      const std::optional<std::string>& clientSecret);

  // ---- authorizing ----
  // Queues an authorization; the handler runs once, on the asking thread. A null request (or
  // one without a URL) only refreshes the token when needed. Answers false when nothing will be
  // called back (no handler).
  bool authorizeRequest_completionHandler(const ns::Ref<ns::URLRequest>& request, CompletionHandler handler);
  bool authorizeRequest_delegate_didFinishSelector(const ns::Ref<ns::URLRequest>& request,
                                                   const ns::Ref<ns::Object>& delegate,
                                                   const FinishedSelector& selector) override;
  // At once, without refreshing: true when the header was added.
  bool authorizeRequest(const ns::Ref<ns::URLRequest>& request);
  bool isAuthorizingRequest(const ns::Ref<ns::URLRequest>& request) override;
  bool isAuthorizedRequest(const ns::Ref<ns::URLRequest>& request) override;
  void stopAuthorization() override;
  void stopAuthorizationForRequest(const ns::Ref<ns::URLRequest>& request) override;
  bool canAuthorize() override;
  bool shouldRefreshAccessToken();
  bool primeForRefresh() override;
  void reset();
  std::optional<std::string> authorizationToken() const;

  // ---- token requests and replies ----
  // Starts the token request the present credential calls for (refresh token, else code, else
  // assertion); nullptr when there is none. The selector is sent to `delegate` when it ends.
  ns::Ref<NetHTTPFetcher> beginTokenFetchWithDelegate_didFinishSelector(
      const ns::Ref<ns::Object>& delegate, const FetchFinishedSelector& selector);
  void setKeysForResponseDictionary(const ns::Dictionary& dictionary);
  void setKeysForResponseString(const std::optional<std::string>& text);
  void setKeysForResponseJSONData(const ns::Data& data);
  void setKeysForPersistenceResponseString(const std::optional<std::string>& text) {
    setKeysForResponseString(text);
  }
  std::string persistenceResponseString() const;
  bool waitForCompletionWithTimeout(double seconds);
  std::string userAgent() const;

  // ---- values ----
  std::optional<std::string> clientID() const;
  void setClientID(std::optional<std::string> value);
  std::optional<std::string> clientSecret() const;
  void setClientSecret(std::optional<std::string> value);
  std::optional<std::string> redirectURI() const;
  void setRedirectURI(std::optional<std::string> value);
  ns::Ref<ns::URL> tokenURL() const;
  void setTokenURL(ns::Ref<ns::URL> url);
  std::optional<ns::Date> expirationDate() const;
  void setExpirationDate(std::optional<ns::Date> date);
  std::optional<std::string> authorizationTokenKey() const;
  void setAuthorizationTokenKey(std::optional<std::string> key);
  ns::Dictionary additionalTokenRequestParameters() const;
  void setAdditionalTokenRequestParameters(ns::Dictionary parameters);
  ns::Dictionary additionalGrantTypeRequestParameters() const;
  void setAdditionalGrantTypeRequestParameters(ns::Dictionary parameters);
  bool shouldAuthorizeAllRequests() const;
  void setShouldAuthorizeAllRequests(bool value);
  ns::Ref<NetHTTPFetcher> refreshFetcher() const;
  // Every value of the token replies and of the persistence string; a key that is absent differs
  // from one holding "".
  ns::Dictionary parameters() const;

  std::optional<std::string> accessToken() const { return stringForKey("access_token"); }
  void setAccessToken(const std::optional<std::string>& v) { setString_forKey(v, "access_token"); }
  std::optional<std::string> refreshToken() const { return stringForKey("refresh_token"); }
  void setRefreshToken(const std::optional<std::string>& v) { setString_forKey(v, "refresh_token"); }
  std::optional<std::string> code() const { return stringForKey("code"); }
  void setCode(const std::optional<std::string>& v) { setString_forKey(v, "code"); }
  std::optional<std::string> assertion() const { return stringForKey("assertion"); }
  void setAssertion(const std::optional<std::string>& v) { setString_forKey(v, "assertion"); }
  std::optional<std::string> refreshScope() const { return stringForKey("refreshScope"); }
  void setRefreshScope(const std::optional<std::string>& v) { setString_forKey(v, "refreshScope"); }
  std::optional<std::string> errorString() const { return stringForKey("error"); }
  void setErrorString(const std::optional<std::string>& v) { setString_forKey(v, "error"); }
  std::optional<std::string> tokenType() const { return stringForKey("token_type"); }
  void setTokenType(const std::optional<std::string>& v) { setString_forKey(v, "token_type"); }
  std::optional<std::string> scope() const { return stringForKey("scope"); }
  void setScope(const std::optional<std::string>& v) { setString_forKey(v, "scope"); }
  std::optional<std::string> serviceProvider() const { return stringForKey("serviceProvider"); }
  void setServiceProvider(const std::optional<std::string>& v) { setString_forKey(v, "serviceProvider"); }
  std::optional<std::string> userID() const { return stringForKey("userID"); }
  void setUserID(const std::optional<std::string>& v) { setString_forKey(v, "userID"); }
  std::optional<std::string> userEmail() override { return stringForKey("email"); }
  void setUserEmail(const std::optional<std::string>& v) { setString_forKey(v, "email"); }
  std::optional<std::string> userEmailIsVerified() const { return stringForKey("isVerified"); }
  void setUserEmailIsVerified(const std::optional<std::string>& v) { setString_forKey(v, "isVerified"); }
  // Seconds; a string value is read by its integer value. Setting it recomputes the expiry.
  std::optional<long long> expiresIn() const;
  void setExpiresIn(std::optional<long long> seconds);

  ns::Value userData() const;
  void setUserData(ns::Value value);
  ns::Value propertyForKey(const std::string& key) const;
  // Nothing removes.
  void setProperty_forKey(ns::Value value, const std::string& key);

  ns::Ref<NetHTTPFetcherService> fetcherService() override;
  void setFetcherService(const ns::Ref<NetHTTPFetcherService>& service) override;

  std::string className() const override { return "NetOAuth2Authentication"; }
  std::string description() const override;

  // The token fetch's end (also for fetches begun by the sign-in flow).
  void auth_finishedRefreshWithFetcher_error(const ns::Ref<NetOAuth2Authentication>& auth,
                                             const ns::Ref<NetHTTPFetcher>& fetcher,
                                             const std::optional<ns::Error>& error);

  // ---- class helpers ----
  // The token endpoint's own word for a failed token request: the "error" of a 400 reply's JSON.
  static std::optional<std::string> serverErrorOf(const ns::Error& error);
  // Whether a request failed because the provider refused the grant itself ("invalid_grant"): the
  // error that the requests waiting for a refused refresh end with.
  static bool isRefusedGrantError(const std::optional<ns::Error>& error);
  // Percent-encoding of UTF-8 text that also escapes "!*'();:@&=+$,/?%#[]"; nothing for nothing.
  static std::optional<std::string> encodedOAuthValueForString(const std::optional<std::string>& text);
  static std::optional<std::string> unencodedOAuthParameterForString(const std::optional<std::string>& text);
  // Keys sorted ignoring case; "key=value" pairs, both encoded, joined with "&".
  static std::string encodedQueryParametersForDictionary(const ns::Dictionary& dictionary);
  // Pieces split on "&", each at its first "="; a bare key has an empty value. Nothing for nothing.
  static std::optional<ns::Dictionary> dictionaryWithResponseString(const std::optional<std::string>& text);
  static std::optional<ns::Dictionary> dictionaryWithResponseData(const ns::Data& data);
  // Nothing unless the bytes are a JSON object.
  static std::optional<ns::Dictionary> dictionaryWithJSONData(const ns::Data& data);
  static std::string scopeWithStrings(const std::vector<std::string>& scopes);

  // Authorizes a queued args and calls it back (exposed for the flow's own requests).
  bool authorizeRequestArgs(const ns::Ref<NetOAuth2AuthorizationArgs>& args);

 private:
  ns::Ref<NetOAuth2Authentication> self() {
    return std::static_pointer_cast<NetOAuth2Authentication>(shared_from_this());
  }
  std::optional<std::string> stringForKey(const std::string& key) const;
  void setString_forKey(const std::optional<std::string>& value, const std::string& key);
  void updateExpirationDateLocked();
  bool shouldRefreshAccessTokenLocked() const;
  bool authorizeRequestImmediateArgs(const ns::Ref<NetOAuth2AuthorizationArgs>& args);
  void invokeCallbackArgs(const ns::Ref<NetOAuth2AuthorizationArgs>& args);
  // Merges the reply; answers the error the delegate is given.
  std::optional<ns::Error> tokenFetcher_finishedWithData_error(const ns::Ref<NetHTTPFetcher>& fetcher,
                                                               const std::optional<ns::Data>& data,
                                                               std::optional<ns::Error> error);

  // The lock of the authorization queue; it also guards the values. Recursive, because callbacks
  // made inline re-enter it.
  mutable std::recursive_mutex mutex_;
  std::optional<std::string> clientID_;
  std::optional<std::string> clientSecret_;
  std::optional<std::string> redirectURI_;
  ns::Dictionary parameters_;
  ns::Ref<ns::URL> tokenURL_;
  std::optional<ns::Date> expirationDate_;
  std::optional<std::string> authorizationTokenKey_;
  ns::Dictionary additionalTokenRequestParameters_;
  ns::Dictionary additionalGrantTypeRequestParameters_;
  ns::Ref<NetHTTPFetcher> refreshFetcher_;
  std::vector<ns::Ref<NetOAuth2AuthorizationArgs>> authorizationQueue_;
  ns::Weak<NetHTTPFetcherService> fetcherService_;
  bool shouldAuthorizeAllRequests_ = false;
  ns::Value userData_;
  std::optional<ns::Dictionary> properties_;
};
