#include "app/library/AccountSession.h"

#include <cstdlib>

#include "app/library/AccountCache.h"
#include "app/library/LibraryNotifications.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/AppUtilities.h"
#include "common/IBrowsingInterface.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "common/Settings.h"
#include "common/ShellNotifications.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"

namespace {

void refreshSourceList() {
  auto browsing = browsingInterface();
  auto menu = browsing ? browsing->menuViewController() : nullptr;
  if (menu) menu->refresh();
}

}  // namespace

ns::Ref<ApiServiceYouTube> AccountSession::youTubeService() {
  static const ns::Ref<ApiServiceYouTube>* service = [] {
    auto made = ns::make<ApiServiceYouTube>();
    made->setShouldFetchNextPages(true);
    made->setRetryEnabled(true);
    made->setAPIKey(getAPIDeveloperKey());
    return new ns::Ref<ApiServiceYouTube>(std::move(made));  // lives for the process
  }();
  return *service;
}

std::string AccountSession::profilePhotoURL(const std::string& userID) {
  std::string base = std::string("https://") + kProfilePhotoHost;
  if (const char* configured = std::getenv(kProfilePhotoURLEnvironmentKey); configured && *configured) {
    base = configured;
    while (!base.empty() && base.back() == '/') base.pop_back();
  }
  return base + "/s2/u/0/photos/profile/" + userID;
}

std::string AccountSession::signedInEmail() {
  auto authorizer = youTubeService()->authorizer();
  return authorizer ? authorizer->userEmail().value_or("") : std::string();
}

void AccountSession::restoreSignIn() {
  auto service = youTubeService();
  service->setAuthorizer(NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(
      keychainItemName_, getOAuthClientID(), getOAuthClientSecret()));
  postNotification(kLoginStateChangedNotification);
  // A stored token that cannot authorize counts as signed out.
  if (!isSignedIn()) service->setAuthorizer(nullptr);
}

bool AccountSession::isSignedIn() {
  auto authorizer = youTubeService()->authorizer();
  return authorizer && authorizer->canAuthorize();
}

void AccountSession::signOut() {
  NetOAuth2WindowController::removeAuthFromKeychainForName(keychainItemName_);
  youTubeService()->setAuthorizer(nullptr);
  postNotification(kLoginStateChangedNotification);
}

void AccountSession::signInEnded(const ns::Ref<NetOAuth2Authentication>& authentication) {
  youTubeService()->setAuthorizer(authentication);
  if (authentication) postNotification(kLoginStateChangedNotification);
}

std::optional<std::string> AccountSession::updateAccount() {
  auto controller = controller_.lock();
  if (!controller) return std::nullopt;
  if (!isSignedIn()) {
    controller->setAccountCache(nullptr);
    // The index of the account that went would go on marking videos as in its playlists.
    if (controller->videoInPlaylistCache())
      controller->setVideoInPlaylistCache(ns::make<VideoInPlaylistCache>());
    // The own channels are kept for whoever is signed in, not per account: the next account to
    // sign in must not take the channels of this one for its own.
    if (!getStringSetting("my_channels").empty()) setStringSetting("my_channels", "");
    refreshSourceList();
    return std::nullopt;
  }
  auto authorizer = youTubeService()->authorizer();
  std::string email = authorizer->userEmail().value_or("");
  auto cache = controller->accountCache();
  std::optional<std::string> photoURL;
  if (!cache || cache->email() != email) {
    cache = AccountCache::initWithEmail(email);
    controller->setAccountCache(cache);
    controller->setVideoInPlaylistCache(ns::make<VideoInPlaylistCache>());
    refreshSourceList();
    auto oauth = std::dynamic_pointer_cast<NetOAuth2Authentication>(authorizer);
    auto userID = oauth ? oauth->userID() : std::nullopt;
    if (userID && !userID->empty()) {
      photoURL = profilePhotoURL(*userID);
      cache->setProfileImageUrl(*photoURL);
    }
    ns::Weak<AccountSession> weak = self<AccountSession>();
    dispatch::async(dispatch::mainQueue(), [weak, cache] {
      if (auto session = weak.lock()) session->restorePlaying(cache);
    });
  }
  cache->getMyChannelList();
  return photoURL;
}

void AccountSession::restorePlaying(const ns::Ref<AccountCache>& cache) {
  // Queued when the cache was made: after a sign-out or a switch of account meanwhile, what that
  // account was playing belongs to nobody shown.
  auto controller = controller_.lock();
  if (!controller || controller->accountCache() != cache) {
    ns::Log("AccountSession: what %@ was playing is not restored: the account changed",
            cache ? cache->email() : std::string());
    return;
  }
  ns::Value list = cache->getCurrentPlaylistInfoArray();
  auto browsing = browsingInterface();
  if (browsing && list.isArray() && list.count() >= 4 && list[0].isString() && list[1].isString() &&
      list[2].isString()) {
    auto controller =
        browsing->getPlaylistViewController(list[0].string(), list[1].string(), list[2].string());
    if (controller) {
      browsing->pushViewController_animated(controller, true);
      browsing->setCurrentPlaylist(controller);
      controller->setPlayIndex(list[3].integerValue());
      postNotification(kCurrentPlaylistChangedNotification);
    }
  }
  ns::Value playing = cache->getPlayingInfoArray();
  if (playing.isArray() && playing.count() >= 1 && playing[0].isString()) {
    auto row = SearchEntry::initWithCache(playing[0].string());
    auto player = playerViewController();
    if (row && player) player->loadVideo(row);
  }
}
