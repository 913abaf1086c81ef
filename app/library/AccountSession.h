#pragma once
// The signed-in account: the one shared Data API service, the restore of the stored sign-in at
// start, the sign-out, and a new account cache and video-in-playlist index whenever the
// signed-in e-mail changes (after which what was playing is restored). The token is kept in the
// keychain item named "Pelorin" by the sign-in window controller. The sign-in sheet and the
// title bar's user button over it are the shell's (app/shell/SignInSession.h).
//
// Main thread only.
#include <optional>
#include <string>

#include "platform/core/Object.h"

class AccountCache;
class ApiServiceYouTube;
class IMainWindowController;
class NetOAuth2Authentication;

inline constexpr char kKeychainItemName[] = "Pelorin";
// The identity provider's host that serves a user's profile photo at
// "/s2/u/0/photos/profile/<user id>", over HTTPS.
inline constexpr char kProfilePhotoHost[] = "profiles.google.com";
// Overrides "https://profiles.google.com" (for a local fake, say).
inline constexpr char kProfilePhotoURLEnvironmentKey[] = "PELORIN_PROFILE_PHOTO_URL";

class AccountSession : public ns::Object {
 public:
  explicit AccountSession(ns::Weak<IMainWindowController> controller,
                          std::string keychainItemName = kKeychainItemName)
      : controller_(std::move(controller)), keychainItemName_(std::move(keychainItemName)) {}

  // The process-wide service, made on first use (next pages joined, retries on, the API key).
  static ns::Ref<ApiServiceYouTube> youTubeService();
  // The e-mail of the service's authorizer; empty when there is none.
  static std::string signedInEmail();
  // "https://profiles.google.com/s2/u/0/photos/profile/<user id>", on PELORIN_PROFILE_PHOTO_URL
  // when that is set.
  static std::string profilePhotoURL(const std::string& userID);

  const std::string& keychainItemName() const { return keychainItemName_; }
  // Restores the stored sign-in as the service's authorizer and posts "loginStateChanged"; a
  // stored token that cannot authorize counts as signed out.
  void restoreSignIn();
  // The service's authorizer can authorize.
  bool isSignedIn();
  // Forgets the stored sign-in and the authorizer, and posts "loginStateChanged".
  void signOut();
  // How a sign-in ended: a new authentication becomes the authorizer and "loginStateChanged" is
  // posted; without one (failed, closed) there is no authorizer and nothing is posted.
  void signInEnded(const ns::Ref<NetOAuth2Authentication>& authentication);
  // The account cache, the index, the own channels and the source list after the authorizer.
  // Answers the profile photo's URL when a new account's cache was made with one, else nothing.
  std::optional<std::string> updateAccount();

 private:
  void restorePlaying(const ns::Ref<AccountCache>& cache);

  ns::Weak<IMainWindowController> controller_;
  std::string keychainItemName_;
};
