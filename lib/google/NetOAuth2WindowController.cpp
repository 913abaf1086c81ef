#include "lib/google/NetOAuth2WindowController.h"

#include <mutex>

#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/HTTPCookie.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/security/Keychain.h"
#include "platform/system/Workspace.h"
#include "platform/web/WebView.h"

namespace {

constexpr char kKeychainAccountName[] = "OAuth";
constexpr char kPrefsKeyPrefix[] = "OAuth2: ";
// The start of 2011: a clock before it cannot be right, and TLS would fail in confusing ways.
constexpr double kEarliestPlausibleTime = 1293840000.0;
constexpr double kInitialLoadDelay = 0.01;
constexpr double kFreeWindowCloseDelay = 0.1;
constexpr char kClockPage[] =
    "<html><body><div align=center><font size='7'>&#x231A; ?<br><i>System Clock "
    "Incorrect</i><br>%@</font></div>"
    "</body></html>";

// The window the sheet shows, built in code as its nib would be.
void buildSignInWindow(ak::NibLoader& nib) {
  auto owner = nib.owner<NetOAuth2WindowController>();
  auto window = nib.object(
      ak::make<ak::Window>(ak::MakeRect(0, 0, 640, 560), ak::TitledWindowMask | ak::ClosableWindowMask));
  auto content = ak::make<ak::View>(ak::MakeRect(0, 0, 640, 560));
  auto webView = nib.object(ak::make<wk::WebView>(ak::MakeRect(0, 40, 640, 520)));
  auto checkbox = nib.object(ak::make<ak::Button>(ak::MakeRect(12, 10, 300, 20)));
  checkbox->setButtonType(ak::ButtonType::Switch);
  checkbox->setTitle("Stay signed in");
  checkbox->setState(ak::OnState);
  auto closeButton = nib.object(ak::make<ak::Button>(ak::MakeRect(548, 6, 80, 28)));
  closeButton->setTitle("Cancel");
  auto backButton = nib.object(ak::make<ak::Button>(ak::MakeRect(460, 6, 80, 28)));
  backButton->setTitle("Back");
  for (const auto& view : std::vector<ns::Ref<ak::View>>{webView, checkbox, closeButton, backButton})
    content->addSubview(view);
  window->setContentView(content);
  nib.outlet([owner, window, webView, checkbox, closeButton, backButton] {
    if (!owner) return;
    owner->setWindow(window);
    window->setDelegate(owner);
    owner->setOutlets(checkbox, webView, closeButton, backButton);
  });
  nib.action([owner, closeButton, backButton] {
    if (!owner) return;
    closeButton->setTarget(owner);
    closeButton->setAction(ns::Sel("closeWindow:"));
    backButton->setTarget(owner);
    backButton->setAction(ns::Sel("goBack:"));
  });
}

void registerNibOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!ak::Nib::hasBuilder(NetOAuth2WindowController::authNibName()))
      ak::Nib::registerBuilder(NetOAuth2WindowController::authNibName(), buildSignInWindow);
  });
}

}  // namespace

PL_CLASS_NAMED(NetOAuth2WindowController, "NetOAuth2WindowController", ak::WindowController) {
  cls.method<&NetOAuth2WindowController::webView_resource_willSendRequest_redirectResponse_fromDataSource>(
      "webView:resource:willSendRequest:redirectResponse:fromDataSource:");
  cls.method<&NetOAuth2WindowController::webView_resource_didReceiveResponse_fromDataSource>(
      "webView:resource:didReceiveResponse:fromDataSource:");
  cls.method<&NetOAuth2WindowController::webView_resource_didFinishLoadingFromDataSource>(
      "webView:resource:didFinishLoadingFromDataSource:");
  cls.method<&NetOAuth2WindowController::webView_resource_didFailLoadingWithError_fromDataSource>(
      "webView:resource:didFailLoadingWithError:fromDataSource:");
  cls.method<&NetOAuth2WindowController::
                 webView_decidePolicyForNewWindowAction_request_newFrameName_decisionListener>(
      "webView:decidePolicyForNewWindowAction:request:newFrameName:decisionListener:");
  cls.method<&NetOAuth2WindowController::windowWillClose>("windowWillClose:");
  cls.method<&NetOAuth2WindowController::sheetDidEnd_returnCode_contextInfo>(
      "sheetDidEnd:returnCode:contextInfo:");
  cls.method<&NetOAuth2WindowController::closeWindow>("closeWindow:");
  cls.method<&NetOAuth2WindowController::goBack>("goBack:");
}

NetOAuth2WindowController::NetOAuth2WindowController() = default;

NetOAuth2WindowController::~NetOAuth2WindowController() = default;

// ---------------------------------------------------------------------------------------------
// Creation

NetOAuth2WindowController::ControllerRef
NetOAuth2WindowController::controllerWithScope_clientID_clientSecret_keychainItemName_resourceBundle(
    const std::optional<std::string>& scope, const std::optional<std::string>& clientID,
    const std::optional<std::string>& clientSecret, const std::optional<std::string>& keychainItemName,
    const ns::Ref<ns::Bundle>& bundle) {
  auto auth = NetOAuth2SignIn::standardGoogleAuthenticationForScope_clientID_clientSecret(scope, clientID,
                                                                                          clientSecret);
  return controllerWithAuthentication_authorizationURL_keychainItemName_resourceBundle(
      auth, NetOAuth2SignIn::googleAuthorizationURL(), keychainItemName, bundle);
}

NetOAuth2WindowController::ControllerRef
NetOAuth2WindowController::controllerWithAuthentication_authorizationURL_keychainItemName_resourceBundle(
    const ns::Ref<NetOAuth2Authentication>& auth, const ns::Ref<ns::URL>& authorizationURL,
    const std::optional<std::string>& keychainItemName, const ns::Ref<ns::Bundle>& bundle) {
  auto controller = std::make_shared<NetOAuth2WindowController>();
  controller->initWithAuthentication_authorizationURL_keychainItemName_resourceBundle(
      auth, authorizationURL, keychainItemName, bundle);
  return controller;
}

void NetOAuth2WindowController::initWithAuthentication_authorizationURL_keychainItemName_resourceBundle(
    const ns::Ref<NetOAuth2Authentication>& auth, const ns::Ref<ns::URL>& authorizationURL,
    const std::optional<std::string>& keychainItemName, const ns::Ref<ns::Bundle>&) {
  // The window is built in code; the resource bundle has no nib to offer.
  registerNibOnce();
  initWithWindowNibName(authNibName());
  signIn_ =
      NetOAuth2SignIn::initWithAuthentication_authorizationURL_delegate_webRequestSelector_finishedSelector(
          auth, authorizationURL, self(),
          NetOAuth2SignIn::WebRequestSelector::of("signIn:displayRequest:",
                                                  &NetOAuth2WindowController::signIn_displayRequest),
          NetOAuth2SignIn::FinishedSelector::of("signIn:finishedWithAuth:error:",
                                                &NetOAuth2WindowController::signIn_finishedWithAuth_error));
  keychainItemName_ = keychainItemName;
  cookieStorage_ = ns::make<NetCookieStorage>();
}

void NetOAuth2WindowController::setOutlets(ns::Ref<ak::Button> checkbox, ns::Ref<wk::WebView> webView,
                                           ns::Ref<ak::Button> closeButton, ns::Ref<ak::Button> backButton) {
  keychainCheckbox_ = std::move(checkbox);
  webView_ = std::move(webView);
  webCloseButton_ = std::move(closeButton);
  webBackButton_ = std::move(backButton);
}

ns::Value NetOAuth2WindowController::propertyForKey(const std::string& key) const {
  return properties_ ? properties_->objectForKey(ns::Value(key)) : ns::Value();
}

void NetOAuth2WindowController::setProperty_forKey(ns::Value value, const std::string& key) {
  if (value.isNil()) {
    if (properties_) properties_->remove(ns::Value(key));
    return;
  }
  if (!properties_) properties_.emplace();
  properties_->set(ns::Value(key), std::move(value));
}

// ---------------------------------------------------------------------------------------------
// Starting and showing

void NetOAuth2WindowController::signInSheetModalForWindow_completionHandler(const ns::Ref<ak::Window>& parent,
                                                                            CompletionHandler handler) {
  completionBlock_ = std::move(handler);
  signInCommonForWindow(parent);
}

void NetOAuth2WindowController::signInSheetModalForWindow_delegate_finishedSelector(
    const ns::Ref<ak::Window>& parent, const ns::Ref<ns::Object>& delegate, FinishedSelector selector) {
  delegate_ = delegate;
  finishedSelector_ = std::move(selector);
  signInCommonForWindow(parent);
}

void NetOAuth2WindowController::signInCommonForWindow(const ns::Ref<ak::Window>& parent) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  sheetModalForWindow_ = parent;
  hasDoneFinalRedirect_ = false;
  hasCalledFinished_ = false;
  signIn_->startSigningIn();
}

void NetOAuth2WindowController::bringSignInToFront() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!isWindowShown_) return;
  if (sheetModalForWindow_) sheetModalForWindow_->makeKeyAndOrderFront(nullptr);
  if (auto window = this->window()) window->makeKeyAndOrderFront(nullptr);
}

void NetOAuth2WindowController::signIn_displayRequest(const ns::Ref<NetOAuth2SignIn>&,
                                                      const ns::Ref<ns::URLRequest>& request) {
  if (!request) {
    destroyWindow();
    return;
  }
  initialRequest_ = request->copy();
  auto window = this->window();
  if (!window) return;
  // The sheet keeps the application from quitting unless told otherwise; this window has no such
  // switch, so there is nothing to set.
  if (sheetModalForWindow_) {
    ak::Application::sharedApplication()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
        window, sheetModalForWindow_, self(), ns::Sel("sheetDidEnd:returnCode:contextInfo:"), nullptr);
  } else {
    showWindow(nullptr);
  }
  isWindowShown_ = true;
}

void NetOAuth2WindowController::awakeFromNib() {
  if (!webView_) return;
  webView_->setResourceLoadDelegate(self());
  webView_->setPolicyDelegate(self());
  if (!initialHTMLString_.empty()) webView_->mainFrame()->loadHTMLString_baseURL(initialHTMLString_, nullptr);
  ns::Date now = now_ ? now_() : ns::Date::now();
  if (now.timeIntervalSince1970() > kEarliestPlausibleTime) {
    std::weak_ptr<NetOAuth2WindowController> weak = self();
    auto timer =
        ns::Timer::timerWithTimeInterval_repeats_block(kInitialLoadDelay, false, [weak](const auto&) {
          if (auto me = weak.lock()) me->loadInitialRequest();
        });
    ns::RunLoop::currentRunLoop()->addTimer_forMode(timer, ns::RunLoopCommonModes);
    if (keychainCheckbox_ && !shouldUseKeychain()) keychainCheckbox_->setHidden(true);
  } else {
    std::string html = kClockPage;
    html.replace(html.find("%@"), 2, ns::Value(now).description());
    webView_->mainFrame()->loadHTMLString_baseURL(html, nullptr);
    if (keychainCheckbox_) keychainCheckbox_->setHidden(true);
  }
}

void NetOAuth2WindowController::loadInitialRequest() {
  if (webView_ && initialRequest_ && isWindowShown_) webView_->mainFrame()->loadRequest(initialRequest_);
}

// ---------------------------------------------------------------------------------------------
// Closing

void NetOAuth2WindowController::destroyWindow() {
  if (webView_) webView_->mainFrame()->stopLoading();
  auto window = isWindowLoaded() ? this->window() : nullptr;
  if (window && sheetModalForWindow_) {
    if (sheetModalForWindow_->attachedSheet() == window)
      ak::Application::sharedApplication()->endSheet(window);
  } else if (window && isWindowShown_) {
    std::weak_ptr<ak::Window> weakWindow = window;
    auto timer = ns::Timer::timerWithTimeInterval_repeats_block(kFreeWindowCloseDelay, false,
                                                                [weakWindow](const auto&) {
                                                                  if (auto w = weakWindow.lock()) w->close();
                                                                });
    ns::RunLoop::currentRunLoop()->addTimer_forMode(timer, ns::RunLoopCommonModes);
  }
  isWindowShown_ = false;
}

void NetOAuth2WindowController::sheetDidEnd_returnCode_contextInfo(ns::Ref<ak::Window> sheet, long, void*) {
  if (sheet) sheet->orderOut(self());
  sheetModalForWindow_.reset();
}

void NetOAuth2WindowController::closeWindow(ns::Ref<ns::Object>) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto keep = self();
  destroyWindow();
  handlePrematureWindowClose();
}

void NetOAuth2WindowController::goBack(ns::Ref<ns::Object>) {
  // The pages keep no history headless; going back shows the authorization page again.
  if (!hasDoneFinalRedirect_) loadInitialRequest();
}

void NetOAuth2WindowController::windowWillClose(ns::Ref<ns::Notification>) {
  if (isWindowShown_) {
    auto keep = self();
    isWindowShown_ = false;
    handlePrematureWindowClose();
  }
}

void NetOAuth2WindowController::handlePrematureWindowClose() {
  if (hasDoneFinalRedirect_) return;
  hasDoneFinalRedirect_ = true;
  signIn_->windowWasClosed();
}

void NetOAuth2WindowController::cancelSigningIn() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto keep = self();
  hasCalledFinished_ = true;
  delegate_.reset();
  completionBlock_ = nullptr;
  signIn_->cancelSigningIn();
  hasDoneFinalRedirect_ = true;
}

// ---------------------------------------------------------------------------------------------
// Page events

ns::Ref<ns::URLRequest>
NetOAuth2WindowController::webView_resource_willSendRequest_redirectResponse_fromDataSource(
    ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::URLRequest> request,
    ns::Ref<ns::URLResponse> redirectResponse, ns::Ref<wk::WebDataSource>) {
  if (!request) return nullptr;
  if (!shouldPersistUser_) {
    if (redirectResponse) handleCookiesForResponse(redirectResponse);
    request = addCookiesToRequest(request);
  }
  if (!hasDoneFinalRedirect_ && signIn_->requestRedirectedToRequest(request)) {
    hasDoneFinalRedirect_ = true;
    return nullptr;
  }
  return request;
}

void NetOAuth2WindowController::webView_resource_didReceiveResponse_fromDataSource(
    ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::URLResponse> response,
    ns::Ref<wk::WebDataSource>) {
  if (!shouldPersistUser_) handleCookiesForResponse(response);
}

void NetOAuth2WindowController::webView_resource_didFinishLoadingFromDataSource(ns::Ref<wk::WebView> sender,
                                                                                ns::Ref<ns::Object>,
                                                                                ns::Ref<wk::WebDataSource>) {
  auto keep = self();
  if (!sender) return;
  std::string title = sender->stringByEvaluatingJavaScriptFromString("document.title");
  // Once a title carried the result, closing the sheet is no longer a premature close.
  if (!title.empty() && signIn_->titleChanged(title)) hasDoneFinalRedirect_ = true;
  signIn_->cookiesChanged(cookieStorage_);
}

void NetOAuth2WindowController::webView_resource_didFailLoadingWithError_fromDataSource(
    ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::ErrorObject> error, ns::Ref<wk::WebDataSource>) {
  auto keep = self();
  if (error && signIn_->loadFailedWithError(error->error())) hasDoneFinalRedirect_ = true;
}

void NetOAuth2WindowController::webView_decidePolicyForNewWindowAction_request_newFrameName_decisionListener(
    ns::Ref<wk::WebView>, ns::Dictionary, ns::Ref<ns::URLRequest> request, std::string,
    ns::Ref<wk::WebPolicyDecisionListener> listener) {
  if (listener) listener->ignore();
  if (!request) return;
  if (delegate_ && externalRequestSelector_) {
    externalRequestSelector_(*delegate_, self(), request);
  } else if (request->URL()) {
    ak::Workspace::sharedWorkspace()->openURL(request->URL());
  }
}

void NetOAuth2WindowController::handleCookiesForResponse(const ns::Ref<ns::URLResponse>& response) {
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
  if (!http || !http->URL()) return;
  auto cookies = ns::HTTPCookie::cookiesWithResponseHeaderFields_forURL(http->allHeaderFields(), http->URL());
  if (!cookies.empty()) cookieStorage_->setCookies(cookies);
}

ns::Ref<ns::URLRequest> NetOAuth2WindowController::addCookiesToRequest(
    const ns::Ref<ns::URLRequest>& request) {
  auto copy = request->copy();
  copy->setHTTPShouldHandleCookies(false);
  copy->setValue_forHTTPHeaderField(std::nullopt, "Cookie");
  if (auto url = copy->URL()) {
    auto cookies = cookieStorage_->cookiesForURL(url);
    if (!cookies.empty()) {
      for (const auto& [name, value] : ns::HTTPCookie::requestHeaderFieldsWithCookies(cookies))
        copy->setValue_forHTTPHeaderField(value, name);
    }
  }
  return copy;
}

// ---------------------------------------------------------------------------------------------
// The end

void NetOAuth2WindowController::signIn_finishedWithAuth_error(const ns::Ref<NetOAuth2SignIn>&,
                                                              const ns::Ref<NetOAuth2Authentication>& auth,
                                                              const std::optional<ns::Error>& error) {
  if (hasCalledFinished_) return;
  hasCalledFinished_ = true;
  auto keep = self();
  if (!error && shouldUseKeychain()) {
    bool save = keychainCheckbox_ ? keychainCheckbox_->state() == ak::OnState : true;
    if (save && auth && auth->canAuthorize()) {
      saveAuthToKeychainForName_authentication(*keychainItemName_, auth);
    } else {
      removeAuthFromKeychainForName(*keychainItemName_);
    }
  }
  auto delegate = std::move(delegate_);
  delegate_.reset();
  if (delegate && finishedSelector_) finishedSelector_(*delegate, keep, auth, error);
  auto block = std::move(completionBlock_);
  completionBlock_ = nullptr;
  if (block) block(auth, error);
}

// ---------------------------------------------------------------------------------------------
// The keychain

std::string NetOAuth2WindowController::prefsKeyForName(const std::string& keychainItemName) {
  return kPrefsKeyPrefix + keychainItemName;
}

bool NetOAuth2WindowController::removeAuthFromKeychainForName(const std::string& keychainItemName) {
  auto keychain = sec::Keychain::defaultKeychain();
  if (keychain.findGenericPassword(keychainItemName, kKeychainAccountName,
                                   static_cast<std::string*>(nullptr)) != sec::errSecSuccess)
    return true;
  bool deleted = keychain.deleteGenericPassword(keychainItemName, kKeychainAccountName) == sec::errSecSuccess;
  ns::UserDefaults::standardUserDefaults()->removeObjectForKey(prefsKeyForName(keychainItemName));
  return deleted;
}

bool NetOAuth2WindowController::saveAuthToKeychainForName_authentication(
    const std::string& keychainItemName, const ns::Ref<NetOAuth2Authentication>& auth) {
  removeAuthFromKeychainForName(keychainItemName);
  if (!auth || !auth->canAuthorize()) return false;
  auto status = sec::Keychain::defaultKeychain().addGenericPassword(keychainItemName, kKeychainAccountName,
                                                                    auth->persistenceResponseString());
  if (status != sec::errSecSuccess) {
    ns::LogWarning("OAuth2: the sign-in could not be kept in the keychain (%d)", static_cast<int>(status));
    return false;
  }
  ns::UserDefaults::standardUserDefaults()->setBool_forKey(true, prefsKeyForName(keychainItemName));
  return true;
}

bool NetOAuth2WindowController::authorizeFromKeychainForName_authentication(
    const std::string& keychainItemName, const ns::Ref<NetOAuth2Authentication>& auth) {
  if (!auth) return false;
  auth->setAccessToken(std::nullopt);
  if (!ns::UserDefaults::standardUserDefaults()->boolForKey(prefsKeyForName(keychainItemName))) return false;
  std::string text;
  if (sec::Keychain::defaultKeychain().findGenericPassword(keychainItemName, kKeychainAccountName, &text) !=
      sec::errSecSuccess)
    return false;
  // An item that is not text was not written by us; it signs nobody in.
  if (text.empty() || !ns::str::isValidUtf8(text)) return false;
  auth->setKeysForResponseString(text);
  return true;
}

ns::Ref<NetOAuth2Authentication>
NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(
    const std::string& keychainItemName, const std::optional<std::string>& clientID,
    const std::optional<std::string>& clientSecret) {
  auto auth =
      NetOAuth2Authentication::authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
          kNetOAuth2ServiceProviderGoogle, NetOAuth2SignIn::googleTokenURL(),
          NetOAuth2SignIn::nativeClientRedirectURI(), clientID, clientSecret);
  authorizeFromKeychainForName_authentication(keychainItemName, auth);
  return auth;
}
