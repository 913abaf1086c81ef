#include "app/library/AccountSession.h"

#include <cstdlib>

#include "app/library/AccountCache.h"
#include "app/library/BrowsingInterface.h"
#include "app/library/LibraryNotifications.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "common/Settings.h"
#include "common/ShellNotifications.h"
#include "lib/google/ApiServiceYouTube.h"
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

void AccountSession::initYoutube() {
  auto service = youTubeService();
  service->setAuthorizer(NetOAuth2WindowController::authForGoogleFromKeychainForName_clientID_clientSecret(
      keychainItemName_, getOAuthClientID(), getOAuthClientSecret()));
  postNotification(kLoginStateChangedNotification);
  // A stored token that cannot authorize counts as signed out.
  if (!isSignedIn()) service->setAuthorizer(nullptr);
  updateUI();
}

bool AccountSession::isSignedIn() {
  auto authorizer = youTubeService()->authorizer();
  return authorizer && authorizer->canAuthorize();
}

void AccountSession::signInClicked(const ns::Ref<ns::Object>&) {
  // While a sign-in runs, a click goes to it rather than signing out.
  if (signInController_ || !isSignedIn()) {
    ns::Weak<AccountSession> weak = self<AccountSession>();
    runSigninThenHandler([weak] {
      if (auto session = weak.lock()) session->updateUI();
    });
    return;
  }
  NetOAuth2WindowController::removeAuthFromKeychainForName(keychainItemName_);
  youTubeService()->setAuthorizer(nullptr);
  postNotification(kLoginStateChangedNotification);
  updateUI();
}

void AccountSession::runSigninThenHandler(std::function<void()> handler) {
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
          YouTubeAuthScope(), getOAuthClientID(), getOAuthClientSecret(), keychainItemName_, nullptr);
  if (!sheet) return;
  signInController_ = sheet;
  signInHandlers_.clear();
  if (handler) signInHandlers_.push_back(std::move(handler));
  controller->setShowingAlert(true);
  ns::Weak<AccountSession> weak = self<AccountSession>();
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
          youTubeService()->setAuthorizer(nullptr);
          session->updateUI();
          return;
        }
        youTubeService()->setAuthorizer(auth);
        postNotification(kLoginStateChangedNotification);
        for (const auto& handler : handlers) handler();
      });
}

void AccountSession::updateUI() {
  auto controller = controller_.lock();
  if (!controller) return;
  auto button = controller->userBtn();
  if (!isSignedIn()) {
    setButtonTitle(button, kSignedOutButtonTitle);
    controller->setAccountCache(nullptr);
    // The index of the account that went would go on marking videos as in its playlists.
    if (controller->videoInPlaylistCache())
      controller->setVideoInPlaylistCache(ns::make<VideoInPlaylistCache>());
    // The own channels are kept for whoever is signed in, not per account: the next account to
    // sign in must not take the channels of this one for its own.
    if (!getStringSetting("my_channels").empty()) setStringSetting("my_channels", "");
    refreshSourceList();
    if (button) {
      button->setImage(nullptr);
      button->setAlternateImage(nullptr);
    }
    return;
  }
  auto authorizer = youTubeService()->authorizer();
  std::string email = authorizer->userEmail().value_or("");
  setButtonTitle(button, email + kSignedInButtonTitleSuffix);
  auto cache = controller->accountCache();
  if (!cache || cache->email() != email) {
    cache = AccountCache::initWithEmail(email);
    controller->setAccountCache(cache);
    controller->setVideoInPlaylistCache(ns::make<VideoInPlaylistCache>());
    refreshSourceList();
    auto oauth = std::dynamic_pointer_cast<NetOAuth2Authentication>(authorizer);
    auto userID = oauth ? oauth->userID() : std::nullopt;
    if (userID && !userID->empty()) {
      std::string url = profilePhotoURL(*userID);
      cache->setProfileImageUrl(url);
      loadProfilePhoto(url, email);
    }
    ns::Weak<AccountSession> weak = self<AccountSession>();
    dispatch::async(dispatch::mainQueue(), [weak, cache] {
      if (auto session = weak.lock()) session->restorePlaying(cache);
    });
  }
  cache->getMyChannelList();
}

void AccountSession::loadProfilePhoto(const std::string& url, const std::string& email) {
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
