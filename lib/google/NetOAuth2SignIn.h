#pragma once
// The OAuth 2.0 authorization-code grant of an installed application, without windows: builds
// the authorization request for a delegate to show, watches the pages the delegate reports
// (redirects, titles, load failures) for the code, exchanges it for tokens, reads the account's
// user ID and e-mail, and reports the end once. The redirect URI is the out-of-band one, so the
// provider shows the code in the title of its last page. While the page is up it watches whether
// the provider's host can be reached. Main thread only.
#include <optional>
#include <string>

#include "lib/google/CallbackSelector.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

class NetHTTPFetcher;
class NetCookieStorage;
namespace ns {
class Timer;
}
namespace sc {
class NetworkReachability;
}

inline constexpr char kNetOAuth2UserSignedIn[] = "kNetOAuth2UserSignedIn";
inline constexpr char kNetOAuthNetworkLost[] = "kNetOAuthNetworkLost";
inline constexpr char kNetOAuthNetworkFound[] = "kNetOAuthNetworkFound";
inline constexpr char kNetOAuth2ServiceProviderGoogle[] = "Google";
inline constexpr char kNetOAuth2NativeClientRedirectURI[] = "urn:ietf:wg:oauth:2.0:oob";

class NetOAuth2SignIn : public ns::Object {
 public:
  using SignInRef = ns::Ref<NetOAuth2SignIn>;
  // signIn:displayRequest: (no request: close the window)
  using WebRequestSelector = CallbackSelector<void(const SignInRef&, const ns::Ref<ns::URLRequest>&)>;
  // signIn:finishedWithAuth:error:
  using FinishedSelector = CallbackSelector<void(const SignInRef&, const ns::Ref<NetOAuth2Authentication>&,
                                                 const std::optional<ns::Error>&)>;

  NetOAuth2SignIn() = default;
  ~NetOAuth2SignIn() override;

  // ---- the provider (NetOAuth2Endpoints.h) ----
  static ns::Ref<ns::URL> googleAuthorizationURL();
  static ns::Ref<ns::URL> googleTokenURL();
  static ns::Ref<ns::URL> googleRevocationURL();
  static ns::Ref<ns::URL> googleUserInfoURL();
  static std::string nativeClientRedirectURI() { return kNetOAuth2NativeClientRedirectURI; }
  static std::string googleUserInfoEmailScope();
  static std::string googleUserInfoProfileScope();
  static ns::Ref<NetOAuth2Authentication> standardGoogleAuthenticationForScope_clientID_clientSecret(
      const std::optional<std::string>& scope, const std::optional<std::string>& clientID,
      const std::optional<std::string>& clientSecret);

  static SignInRef initWithAuthentication_authorizationURL_delegate_webRequestSelector_finishedSelector(
      const ns::Ref<NetOAuth2Authentication>& auth, const ns::Ref<ns::URL>& authorizationURL,
      const ns::Ref<ns::Object>& delegate, WebRequestSelector webRequestSelector,
      FinishedSelector finishedSelector);

  bool startSigningIn();
  // Ends without a callback.
  void cancelSigningIn();

  // ---- page events from the delegate ----
  // YES when the flow took the request and the web view must not load it.
  bool requestRedirectedToRequest(const ns::Ref<ns::URLRequest>& request);
  // YES when the title held the result.
  bool titleChanged(const std::string& title);
  bool cookiesChanged(const ns::Ref<NetCookieStorage>& storage) { return false; }
  // YES when the failure ended the flow.
  bool loadFailedWithError(const ns::Error& error);
  void windowWasClosed();

  // ---- class helpers ----
  static void revokeTokenForGoogleAuthentication(const ns::Ref<NetOAuth2Authentication>& auth);
  // base64url (RFC 4648, section 5); trailing "=" optional. Nothing for text that is not.
  static std::optional<ns::Data> decodeWebSafeBase64(const std::string& text);
  static ns::Ref<NetHTTPFetcher> userInfoFetcherWithAuth(const ns::Ref<NetOAuth2Authentication>& auth);
  static ns::Ref<ns::URLRequest> mutableURLRequestWithURL_paramString(const ns::Ref<ns::URL>& url,
                                                                      const std::string& paramString);

  // ---- properties ----
  const ns::Ref<NetOAuth2Authentication>& authentication() const { return auth_; }
  const ns::Ref<ns::URL>& authorizationURL() const { return authorizationURL_; }
  const ns::Dictionary& additionalAuthorizationParameters() const {
    return additionalAuthorizationParameters_;
  }
  void setAdditionalAuthorizationParameters(ns::Dictionary p) {
    additionalAuthorizationParameters_ = std::move(p);
  }
  ns::Ref<ns::Object> delegate() const { return delegate_; }
  bool hasHandledCallback() const { return hasHandledCallback_; }
  ns::Ref<NetHTTPFetcher> pendingFetcher() const { return pendingFetcher_; }
  bool shouldFetchGoogleUserEmail() const { return shouldFetchGoogleUserEmail_; }
  void setShouldFetchGoogleUserEmail(bool value) { shouldFetchGoogleUserEmail_ = value; }
  bool shouldFetchGoogleUserProfile() const { return shouldFetchGoogleUserProfile_; }
  void setShouldFetchGoogleUserProfile(bool value) { shouldFetchGoogleUserProfile_ = value; }
  const std::optional<ns::Dictionary>& userProfile() const { return userProfile_; }
  double networkLossTimeoutInterval() const { return networkLossTimeoutInterval_; }
  void setNetworkLossTimeoutInterval(double seconds) { networkLossTimeoutInterval_ = seconds; }
  bool hasNotifiedNetworkLoss() const { return hasNotifiedNetworkLoss_; }
  const ns::Value& userData() const { return userData_; }
  void setUserData(ns::Value value) { userData_ = std::move(value); }

  std::string className() const override { return "NetOAuth2SignIn"; }

  // The token fetch's end.
  void auth_finishedWithFetcher_error(const ns::Ref<NetOAuth2Authentication>& auth,
                                      const ns::Ref<NetHTTPFetcher>& fetcher,
                                      const std::optional<ns::Error>& error);

 private:
  SignInRef self() { return std::static_pointer_cast<NetOAuth2SignIn>(shared_from_this()); }
  void addScopeForGoogleUserInfo();
  void startWebRequest();
  // Only the code and the error are taken from a page: a page inside the sheet could otherwise
  // plant a refresh or access token in the authorizer.
  void takeResultFrom(const ns::Dictionary& pairs);
  void authCodeObtained();
  void closeTheWindow();
  void fetchGoogleUserInfo();
  // Takes the reply's id and e-mail; answers the error that ends the sign-in when the reply is no
  // JSON object, or has no e-mail although one was asked for.
  std::optional<ns::Error> updateGoogleUserInfoWithData(const std::optional<ns::Data>& data);
  void invokeFinalCallbackWithError(const std::optional<ns::Error>& error);
  void startReachabilityCheck();
  void stopReachabilityCheck();
  void reachabilityChanged(unsigned flags);

  ns::Ref<NetOAuth2Authentication> auth_;
  ns::Ref<ns::URL> authorizationURL_;
  ns::Dictionary additionalAuthorizationParameters_;
  ns::Ref<ns::Object> delegate_;
  WebRequestSelector webRequestSelector_;
  FinishedSelector finishedSelector_;
  bool hasHandledCallback_ = false;
  ns::Ref<NetHTTPFetcher> pendingFetcher_;
  bool shouldFetchGoogleUserEmail_ = false;
  bool shouldFetchGoogleUserProfile_ = false;
  std::optional<ns::Dictionary> userProfile_;
  ns::Ref<sc::NetworkReachability> reachabilityRef_;
  ns::Ref<ns::Timer> networkLossTimer_;
  double networkLossTimeoutInterval_ = 30.0;
  bool hasNotifiedNetworkLoss_ = false;
  ns::Value userData_;
};
