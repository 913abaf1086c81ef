#pragma once
// The sign-in sheet: a window with a web view showing the provider's pages, a checkbox choosing
// whether the sign-in is kept, and close and back buttons. It is the delegate of the sign-in flow:
// it shows the authorization page, reports redirects, titles and load failures, closes when told,
// and on success keeps the authorizer's persistence string as a generic password ("OAuth") in the
// keychain, marked by the user default "OAuth2: <item name>". The web view gets a private cookie
// jar for the length of the sheet. Main thread only.
//
//   auto controller =
//   NetOAuth2WindowController::controllerWithScope_clientID_clientSecret_keychainItemName_resourceBundle(
//       YouTubeAuthScope(), clientID, clientSecret, "Pelorin", nullptr);
//   controller->signInSheetModalForWindow_completionHandler(mainWindow, [](auto& auth, auto& error) { ... });
#include <functional>
#include <optional>
#include <string>

#include "lib/google/CallbackSelector.h"
#include "lib/google/NetCookieStorage.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "platform/appkit/WindowController.h"
#include "platform/core/Date.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace ak {
class Button;
class Window;
}  // namespace ak
namespace ns {
class Bundle;
class Notification;
class ErrorObject;
}  // namespace ns
namespace wk {
class WebView;
class WebDataSource;
class WebPolicyDecisionListener;
}  // namespace wk

class NetOAuth2WindowController : public ak::WindowController {
 public:
  using ControllerRef = ns::Ref<NetOAuth2WindowController>;
  using CompletionHandler =
      std::function<void(const ns::Ref<NetOAuth2Authentication>&, const std::optional<ns::Error>&)>;
  // windowController:finishedWithAuth:error:
  using FinishedSelector = CallbackSelector<void(
      const ControllerRef&, const ns::Ref<NetOAuth2Authentication>&, const std::optional<ns::Error>&)>;
  // windowController:opensRequest:
  using ExternalRequestSelector =
      CallbackSelector<void(const ControllerRef&, const ns::Ref<ns::URLRequest>&)>;

  NetOAuth2WindowController();
  ~NetOAuth2WindowController() override;

  static ControllerRef controllerWithScope_clientID_clientSecret_keychainItemName_resourceBundle(
      const std::optional<std::string>& scope, const std::optional<std::string>& clientID,
      const std::optional<std::string>& clientSecret, const std::optional<std::string>& keychainItemName,
      const ns::Ref<ns::Bundle>& bundle);
  static ControllerRef controllerWithAuthentication_authorizationURL_keychainItemName_resourceBundle(
      const ns::Ref<NetOAuth2Authentication>& auth, const ns::Ref<ns::URL>& authorizationURL,
      const std::optional<std::string>& keychainItemName, const ns::Ref<ns::Bundle>& bundle);

  // ---- signing in ----
  void signInSheetModalForWindow_completionHandler(const ns::Ref<ak::Window>& parent,
                                                   CompletionHandler handler);
  void signInSheetModalForWindow_delegate_finishedSelector(const ns::Ref<ak::Window>& parent,
                                                           const ns::Ref<ns::Object>& delegate,
                                                           FinishedSelector selector);
  // Ends without any callback.
  void cancelSigningIn();
  // Brings a shown sign-in to the front and makes it key: the sheet with its parent window, or
  // the free window. Does nothing before the window is shown.
  void bringSignInToFront();
  // The close button's action: the window goes and the flow ends as closed by the user.
  void closeWindow(ns::Ref<ns::Object> sender);

  // ---- the keychain ----
  static std::string prefsKeyForName(const std::string& keychainItemName);
  static bool removeAuthFromKeychainForName(const std::string& keychainItemName);
  static bool saveAuthToKeychainForName_authentication(const std::string& keychainItemName,
                                                       const ns::Ref<NetOAuth2Authentication>& auth);
  static bool authorizeFromKeychainForName_authentication(const std::string& keychainItemName,
                                                          const ns::Ref<NetOAuth2Authentication>& auth);
  static ns::Ref<NetOAuth2Authentication> authForGoogleFromKeychainForName_clientID_clientSecret(
      const std::string& keychainItemName, const std::optional<std::string>& clientID,
      const std::optional<std::string>& clientSecret);
  static void revokeTokenForGoogleAuthentication(const ns::Ref<NetOAuth2Authentication>& auth) {
    NetOAuth2SignIn::revokeTokenForGoogleAuthentication(auth);
  }
  static std::string authNibName() { return "NetOAuth2Window"; }

  // ---- properties ----
  ns::Ref<NetOAuth2Authentication> authentication() const {
    return signIn_ ? signIn_->authentication() : nullptr;
  }
  const ns::Ref<NetOAuth2SignIn>& signIn() const { return signIn_; }
  double networkLossTimeoutInterval() const { return signIn_ ? signIn_->networkLossTimeoutInterval() : 0; }
  void setNetworkLossTimeoutInterval(double seconds) {
    if (signIn_) signIn_->setNetworkLossTimeoutInterval(seconds);
  }
  bool shouldUseKeychain() const { return keychainItemName_ && !keychainItemName_->empty(); }
  const std::optional<std::string>& keychainItemName() const { return keychainItemName_; }
  void setKeychainItemName(std::optional<std::string> name) { keychainItemName_ = std::move(name); }
  const ns::Ref<ns::URLRequest>& initialRequest() const { return initialRequest_; }
  const ns::Ref<NetCookieStorage>& cookieStorage() const { return cookieStorage_; }
  const std::string& initialHTMLString() const { return initialHTMLString_; }
  void setInitialHTMLString(std::string html) { initialHTMLString_ = std::move(html); }
  bool shouldPersistUser() const { return shouldPersistUser_; }
  void setShouldPersistUser(bool value) { shouldPersistUser_ = value; }
  bool shouldAllowApplicationTermination() const { return shouldAllowApplicationTermination_; }
  void setShouldAllowApplicationTermination(bool value) { shouldAllowApplicationTermination_ = value; }
  void setExternalRequestSelector(ExternalRequestSelector selector) {
    externalRequestSelector_ = std::move(selector);
  }
  bool isWindowShown() const { return isWindowShown_; }
  bool hasDoneFinalRedirect() const { return hasDoneFinalRedirect_; }
  bool hasCalledFinished() const { return hasCalledFinished_; }
  ns::Ref<ak::Window> sheetModalForWindow() const { return sheetModalForWindow_; }
  // What "now" is for the check of the system clock (the platform's clock unless set).
  void setCurrentDateProvider(std::function<ns::Date()> now) { now_ = std::move(now); }
  const ns::Value& userData() const { return userData_; }
  void setUserData(ns::Value value) { userData_ = std::move(value); }
  ns::Value propertyForKey(const std::string& key) const;
  void setProperty_forKey(ns::Value value, const std::string& key);

  // Outlets.
  const ns::Ref<ak::Button>& keychainCheckbox() const { return keychainCheckbox_; }
  const ns::Ref<wk::WebView>& webView() const { return webView_; }
  const ns::Ref<ak::Button>& webCloseButton() const { return webCloseButton_; }
  const ns::Ref<ak::Button>& webBackButton() const { return webBackButton_; }

  void awakeFromNib() override;
  std::string className() const override { return "NetOAuth2WindowController"; }

  // ---- the flow's delegate ----
  void signIn_displayRequest(const ns::Ref<NetOAuth2SignIn>& signIn, const ns::Ref<ns::URLRequest>& request);
  void signIn_finishedWithAuth_error(const ns::Ref<NetOAuth2SignIn>& signIn,
                                     const ns::Ref<NetOAuth2Authentication>& auth,
                                     const std::optional<ns::Error>& error);

  // ---- web view, window and sheet delegate methods (reached through the runtime) ----
  ns::Ref<ns::URLRequest> webView_resource_willSendRequest_redirectResponse_fromDataSource(
      ns::Ref<wk::WebView> sender, ns::Ref<ns::Object> identifier, ns::Ref<ns::URLRequest> request,
      ns::Ref<ns::URLResponse> redirectResponse, ns::Ref<wk::WebDataSource> dataSource);
  void webView_resource_didReceiveResponse_fromDataSource(ns::Ref<wk::WebView> sender,
                                                          ns::Ref<ns::Object> identifier,
                                                          ns::Ref<ns::URLResponse> response,
                                                          ns::Ref<wk::WebDataSource> dataSource);
  void webView_resource_didFinishLoadingFromDataSource(ns::Ref<wk::WebView> sender,
                                                       ns::Ref<ns::Object> identifier,
                                                       ns::Ref<wk::WebDataSource> dataSource);
  void webView_resource_didFailLoadingWithError_fromDataSource(ns::Ref<wk::WebView> sender,
                                                               ns::Ref<ns::Object> identifier,
                                                               ns::Ref<ns::ErrorObject> error,
                                                               ns::Ref<wk::WebDataSource> dataSource);
  void webView_decidePolicyForNewWindowAction_request_newFrameName_decisionListener(
      ns::Ref<wk::WebView> sender, ns::Dictionary actionInformation, ns::Ref<ns::URLRequest> request,
      std::string frameName, ns::Ref<wk::WebPolicyDecisionListener> listener);
  void windowWillClose(ns::Ref<ns::Notification> note);
  void sheetDidEnd_returnCode_contextInfo(ns::Ref<ak::Window> sheet, long returnCode, void* contextInfo);
  void goBack(ns::Ref<ns::Object> sender);

  // Set by the window's nib.
  void setOutlets(ns::Ref<ak::Button> checkbox, ns::Ref<wk::WebView> webView, ns::Ref<ak::Button> closeButton,
                  ns::Ref<ak::Button> backButton);

 private:
  ControllerRef self() { return std::static_pointer_cast<NetOAuth2WindowController>(shared_from_this()); }
  void initWithAuthentication_authorizationURL_keychainItemName_resourceBundle(
      const ns::Ref<NetOAuth2Authentication>& auth, const ns::Ref<ns::URL>& authorizationURL,
      const std::optional<std::string>& keychainItemName, const ns::Ref<ns::Bundle>& bundle);
  void signInCommonForWindow(const ns::Ref<ak::Window>& parent);
  void destroyWindow();
  void handlePrematureWindowClose();
  void handleCookiesForResponse(const ns::Ref<ns::URLResponse>& response);
  ns::Ref<ns::URLRequest> addCookiesToRequest(const ns::Ref<ns::URLRequest>& request);
  void loadInitialRequest();

  ns::Ref<ak::Button> keychainCheckbox_;
  ns::Ref<wk::WebView> webView_;
  ns::Ref<ak::Button> webCloseButton_;
  ns::Ref<ak::Button> webBackButton_;
  ns::Ref<NetOAuth2SignIn> signIn_;
  ns::Ref<ns::URLRequest> initialRequest_;
  ns::Ref<NetCookieStorage> cookieStorage_;
  ns::Ref<ns::Object> delegate_;
  FinishedSelector finishedSelector_;
  CompletionHandler completionBlock_;
  bool shouldAllowApplicationTermination_ = false;
  ExternalRequestSelector externalRequestSelector_;
  bool isWindowShown_ = false;
  bool hasDoneFinalRedirect_ = false;
  bool hasCalledFinished_ = false;
  ns::Ref<ak::Window> sheetModalForWindow_;
  std::optional<std::string> keychainItemName_;
  std::string initialHTMLString_;
  bool shouldPersistUser_ = false;
  ns::Value userData_;
  std::optional<ns::Dictionary> properties_;
  std::function<ns::Date()> now_;
};
