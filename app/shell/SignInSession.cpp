#include "app/shell/SignInSession.h"

#include "app/library/AccountCache.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Image.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "ui/ButtonTextColor.h"
#include "ui/ImageRoundedCorner.h"

namespace {

void setButtonTitle(const ns::Ref<ak::Button>& button, const std::string& title) {
  if (!button) return;
  button->setTitle(title);
  ButtonTextColor::setTextColor(*button, ak::colors::lightGrayColor());
}

}  // namespace

SignInSession::SignInSession(ns::Weak<IMainWindowController> controller, std::string keychainItemName)
    : controller_(controller), account_(ns::make<AccountSession>(controller, std::move(keychainItemName))) {
  // Any call of the account's may be the one whose token refresh is refused.
  ns::NotificationCenter::defaultCenter()->addObserver_selector_name_object(
      this, &SignInSession::accessTokenRefreshFailed, std::string(kNetOAuth2AccessTokenRefreshFailed));
}

SignInSession::~SignInSession() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void SignInSession::accessTokenRefreshFailed(const ns::Ref<ns::Notification>& notification) {
  // No network, a server error or a time-out may pass: the account stays signed in. Only the
  // provider's refusal of the refresh token itself means it never will.
  if (notification->userInfo().objectForKey(ns::Value(kNetOAuth2ErrorMessageKey)) !=
      ns::Value(kNetOAuth2ErrorInvalidGrant))
    return;
  auto refused = std::dynamic_pointer_cast<NetOAuth2Authentication>(notification->object());
  if (!refused) return;
  // Posted on the thread whose call asked for the token, while the calls that waited for it are
  // still to be failed; the sign-out comes after them, on the main thread.
  ns::Weak<SignInSession> weak = self<SignInSession>();
  dispatch::async(dispatch::mainQueue(), [weak, refused] {
    auto session = weak.lock();
    // A refusal for an authorizer that is no longer the account's (signed out or in anew
    // meanwhile) says nothing of the account signed in now.
    if (!session || AccountSession::youTubeService()->authorizer() != refused) return;
    session->account_->signOut();
    session->updateUI();
    ns::LogWarning("The sign-in of %@ has expired: log in again (Account > Login) to use the account",
                   refused->userEmail().value_or(""));
  });
}

void SignInSession::initYoutube() {
  account_->restoreSignIn();
  updateUI();
}

void SignInSession::signInClicked(const ns::Ref<ns::Object>&) {
  // While a sign-in runs, a click goes to it rather than signing out.
  if (signInController_ || !isSignedIn()) {
    ns::Weak<SignInSession> weak = self<SignInSession>();
    runSigninThenHandler([weak] {
      if (auto session = weak.lock()) session->updateUI();
    });
    return;
  }
  account_->signOut();
  updateUI();
}

void SignInSession::runSigninThenHandler(std::function<void()> handler) {
  auto controller = controller_.lock();
  if (!controller) return;
  if (signInController_) {
    // A second sheet would run a second sign-in beside the first.
    if (handler) signInHandlers_.push_back(std::move(handler));
    signInController_->bringSignInToFront();
    return;
  }
  auto sheet =
      NetOAuth2WindowController::controllerWithScope_clientID_clientSecret_keychainItemName_resourceBundle(
          YouTubeAuthScope(), getOAuthClientID(), getOAuthClientSecret(), account_->keychainItemName(),
          nullptr);
  if (!sheet) return;
  signInController_ = sheet;
  signInHandlers_.clear();
  if (handler) signInHandlers_.push_back(std::move(handler));
  controller->setShowingAlert(true);
  ns::Weak<SignInSession> weak = self<SignInSession>();
  ns::Weak<IMainWindowController> weakController = controller_;
  sheet->signInSheetModalForWindow_completionHandler(
      controller->window(), [weak, weakController](const ns::Ref<NetOAuth2Authentication>& auth,
                                                   const std::optional<ns::Error>& error) {
        if (auto controller = weakController.lock()) controller->setShowingAlert(false);
        auto session = weak.lock();
        if (!session) return;
        session->signInController_ = nullptr;
        auto handlers = std::move(session->signInHandlers_);
        session->signInHandlers_.clear();
        if (error || !auth) {
          session->account_->signInEnded(nullptr);
          session->updateUI();
          return;
        }
        session->account_->signInEnded(auth);
        for (const auto& handler : handlers) handler();
      });
}

void SignInSession::updateUI() {
  auto controller = controller_.lock();
  if (!controller) return;
  auto button = controller->userBtn();
  if (!isSignedIn()) {
    setButtonTitle(button, kSignedOutButtonTitle);
    account_->updateAccount();
    if (button) {
      button->setImage(nullptr);
      button->setAlternateImage(nullptr);
    }
    return;
  }
  std::string email = AccountSession::signedInEmail();
  setButtonTitle(button, email + kSignedInButtonTitleSuffix);
  if (auto photoURL = account_->updateAccount()) loadProfilePhoto(*photoURL, email);
}

void SignInSession::loadProfilePhoto(const std::string& url, const std::string& email) {
  ns::Weak<IMainWindowController> weakController = controller_;
  dispatch::async(dispatch::globalQueue(dispatch::Priority::Background), [weakController, url, email] {
    ns::Ref<ns::URLResponse> response;
    ns::Error error;
    auto data = ns::URLConnection::sendSynchronousRequest_returningResponse_error(
        ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)), &response, &error);
    auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
    if (!data || (http && (http->statusCode() < 200 || http->statusCode() > 299))) {
      ns::Log("AccountSession: no profile photo from %@", url);
      return;
    }
    auto image = ak::Image::initWithData(*data);
    if (!image) return;
    dispatch::async(dispatch::mainQueue(), [weakController, image, email] {
      auto controller = weakController.lock();
      if (!controller) return;
      // A photo that lands after a sign-out or a switch of account belongs to nobody shown.
      auto cache = controller->accountCache();
      if (!cache || cache->email() != email) {
        ns::Log("AccountSession: the profile photo of %@ came after the account changed", email);
        return;
      }
      auto button = controller->userBtn();
      if (!button) return;
      auto rounded = ImageRoundedCorner::roundCorners(image);
      button->setImage(rounded);
      button->setAlternateImage(rounded);
    });
  });
}
