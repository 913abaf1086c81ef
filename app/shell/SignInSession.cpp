#include "app/shell/SignInSession.h"

#include "app/library/AccountCache.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/IMainWindowController.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Image.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
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
    : controller_(controller), account_(ns::make<AccountSession>(controller, std::move(keychainItemName))) {}

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
