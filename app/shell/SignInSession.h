#pragma once
// The sign-in glue of the main window controller, which owns one and forwards to it: the sign-in
// sheet and the sign-out over the library's account session, and the title bar's user button,
// which names the signed-in e-mail and shows the account's profile photo. When the identity
// provider refuses the account's refresh token, the account is signed out as by Logout (without
// asking), and standard error says that a new sign-in is needed.
//
// Main thread only, except the profile photo, which downloads on a background global queue and
// is set on the button only while the account cache is still the one it was fetched for.
#include <functional>
#include <string>
#include <vector>

#include "app/library/AccountSession.h"
#include "platform/core/Object.h"

class NetOAuth2WindowController;
namespace ns {
class Notification;
}

// The user button's titles: "<e-mail> ▾ " while signed in.
inline constexpr char kSignedOutButtonTitle[] = "not logged in \u25BE ";
inline constexpr char kSignedInButtonTitleSuffix[] = " \u25BE ";

class SignInSession : public ns::Object {
 public:
  explicit SignInSession(ns::Weak<IMainWindowController> controller,
                         std::string keychainItemName = kKeychainItemName);
  ~SignInSession() override;

  // Restores the stored sign-in as the service's authorizer, posts "loginStateChanged" and
  // brings the interface in line.
  void initYoutube();
  // The service's authorizer can authorize.
  bool isSignedIn() { return account_->isSignedIn(); }
  // Signs in when signed out (then updateUI), signs out at once when signed in; while the sign-in
  // sheet is up, brings it to the front.
  void signInClicked(const ns::Ref<ns::Object>& sender);
  // Shows the sign-in sheet on the main window; after a successful sign-in posts
  // "loginStateChanged" and runs the handler. A failed or closed sheet signs out and runs
  // updateUI, not the handler. One sign-in runs at a time: while the sheet is up, a further call
  // brings it to the front and its handler runs after the earlier ones when that sign-in
  // succeeds.
  void runSigninThenHandler(std::function<void()> handler);
  // The user button, the account cache, the index and the source list after the authorizer.
  void updateUI();

  const ns::Ref<AccountSession>& account() const { return account_; }
  // The sheet's controller while a sign-in runs, else nil.
  const ns::Ref<NetOAuth2WindowController>& signInController() const { return signInController_; }

 private:
  void loadProfilePhoto(const std::string& url, const std::string& email);
  void accessTokenRefreshFailed(const ns::Ref<ns::Notification>& notification);

  ns::Weak<IMainWindowController> controller_;
  ns::Ref<AccountSession> account_;
  ns::Ref<NetOAuth2WindowController> signInController_;
  std::vector<std::function<void()>> signInHandlers_;
};
