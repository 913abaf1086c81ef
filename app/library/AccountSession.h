#pragma once
// The sign-in glue of the main window controller, which owns one and forwards to it: the one
// shared Data API service, the restore of the signed-in account at start, the sign-in sheet and
// the sign-out, the title-bar user button, and a new account cache and video-in-playlist index
// whenever the signed-in e-mail changes (after which what was playing is restored). The token
// is kept in the keychain item named "Pelorin" by the sign-in window controller.
//
// Main thread only, except the profile photo, which downloads on a background global queue and
// is set on the button only while the account cache is still the one it was fetched for.
#include <functional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class AccountCache;
class ApiServiceYouTube;
class IMainWindowController;
class NetOAuth2WindowController;

inline constexpr char kKeychainItemName[] = "Pelorin";
// The identity provider's host that serves a user's profile photo at
// "/s2/u/0/photos/profile/<user id>", over HTTPS.
inline constexpr char kProfilePhotoHost[] = "profiles.google.com";
// Overrides "https://profiles.google.com" (for a local fake, say).
inline constexpr char kProfilePhotoURLEnvironmentKey[] = "PELORIN_PROFILE_PHOTO_URL";
// The user button's titles: "<e-mail> ▾ " while signed in.
inline constexpr char kSignedOutButtonTitle[] = "not logged in \u25BE ";
inline constexpr char kSignedInButtonTitleSuffix[] = " \u25BE ";

class AccountSession : public ns::Object {
 public:
  explicit AccountSession(ns::Weak<IMainWindowController> controller,
                          std::string keychainItemName = kKeychainItemName)
      : controller_(std::move(controller)), keychainItemName_(std::move(keychainItemName)) {}

  // The process-wide service, made on first use (next pages joined, retries on, the API key).
  static ns::Ref<ApiServiceYouTube> youTubeService();

  // Restores the stored sign-in as the service's authorizer, posts "loginStateChanged" and
  // brings the interface in line.
  void initYoutube();
  // The service's authorizer can authorize.
  bool isSignedIn();
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

  // The sheet's controller while a sign-in runs, else nil.
  const ns::Ref<NetOAuth2WindowController>& signInController() const { return signInController_; }
  // "https://profiles.google.com/s2/u/0/photos/profile/<user id>", on PELORIN_PROFILE_PHOTO_URL
  // when that is set.
  static std::string profilePhotoURL(const std::string& userID);

 private:
  void restorePlaying(const ns::Ref<AccountCache>& cache);
  void loadProfilePhoto(const std::string& url, const std::string& email);

  ns::Weak<IMainWindowController> controller_;
  std::string keychainItemName_;
  ns::Ref<NetOAuth2WindowController> signInController_;
  std::vector<std::function<void()>> signInHandlers_;
};
