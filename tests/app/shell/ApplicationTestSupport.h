#pragma once
// A launch with the application object itself (Info.plist's principal class) as the shared
// application, the real player with silent audio, and the fake identity provider and Data API
// on 127.0.0.1: a kept sign-in, the account's channel with its special playlists, and a list of
// three videos whose clips sit in the media cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/library/AccountCache.h"
#include "app/library/AccountSession.h"
#include "app/player/PlayerViewController.h"
#include "app/player/VideoView.h"
#include "app/shell/PLMApplication.h"
#include "app/shell/ShellKeys.h"
#include "app/shell/SignInSession.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "lib/google/NetOAuth2SignIn.h"
#include "lib/google/NetOAuth2WindowController.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/appkit/Menu.h"
#include "platform/foundation/IndexSet.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "platform/security/Keychain.h"
#include "platform/testing/TestMedia.h"
#include "tests/app/shell/ShellWindowTestSupport.h"
#include "tests/support/AccountServiceCalls.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/KeptSignIn.h"

namespace shelltest {

inline constexpr double kWait = 60;
// The three rows of the list: the first is the account's own video.
inline const std::vector<std::string> kRowIds{"keysVideo00", "keysVideo01", "keysVideo02"};
inline constexpr char kOwnChannel[] = "UCownChannel";
inline constexpr char kOtherChannel[] = "UCotherChann";

// Counts one notification's posts while it lives.
class PostCounter {
 public:
  explicit PostCounter(const std::string& name) {
    token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this](const ns::Ref<ns::Notification>&) { ++count_; });
  }
  ~PostCounter() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }
  int count() const { return count_; }

 private:
  ns::Ref<ns::Object> token_;
  int count_ = 0;
};

struct ApplicationFixture : ShellFixture {
  ApplicationFixture() : ShellFixture(false) {
    av::Player::setDefaultAudioOutput("null");
    setCurrentPlaylistController(nullptr);
    setSharingSheetActive(false);
    application = ns::make<PLMApplication>();
    ak::Application::setSharedApplication(application);
    pointSignInAtFakes(app.sandbox(), oauth, api);
    api.seed("channels", {std::string(R"({"kind": "youtube#channel", "id": ")") + kOwnChannel +
                          R"(", "snippet": {"title": "Me"}, "contentDetails": {"relatedPlaylists": )"
                          R"({"favorites": "FLme", "watchLater": "WLme", "watchHistory": "HLme", )"
                          R"("likes": "LLme", "uploads": "UUme"}}})"});
    for (std::size_t i = 0; i < kRowIds.size(); ++i) {
      const std::string& id = kRowIds[i];
      api.seed("playlistItems",
               {R"({"kind": "youtube#playlistItem", "id": "PI_)" + id +
                R"(", "snippet": {"playlistId": "PLkeys", "title": "Row )" + std::to_string(i) +
                R"(", "resourceId": {"kind": "youtube#video", "videoId": ")" + id + R"("}}})"});
      api.seed("videos",
               {R"({"kind": "youtube#video", "id": ")" + id + R"(", "snippet": {"title": "Row )" +
                std::to_string(i) + R"(", "channelId": ")" + (i == 0 ? kOwnChannel : kOtherChannel) +
                R"(", "publishedAt": "2015-09-24T10:00:00Z"}, "contentDetails": {"duration": "PT20S"}})"});
    }
  }
  ~ApplicationFixture() {
    if (controller) {
      if (auto sheet = controller->signInSession()->signInController()) sheet->cancelSigningIn();
      controller->playerViewController()->stopVideo();
    }
    api.release();
    EXPECT_TRUE(testsupport::finishAccountServiceCalls());
    AccountSession::youTubeService()->setAuthorizer(nullptr);
    NetOAuth2SetEndpoints(std::nullopt);
    setCurrentPlaylistController(nullptr);
    setSharingSheetActive(false);
    for (const auto& window : application->windows()) window->close();
    ak::Application::setSharedApplication(app.app());
  }

  // A sign-in kept in the keychain, as the sheet keeps it.
  void keepSignIn(const std::string& email) { ASSERT_TRUE(testsupport::keepSignIn(oauth, email)); }
  static bool keychainHoldsSignIn() { return testsupport::keychainHoldsSignIn(); }

  // "MainMenu" with the application object as owner, then the launch.
  void launchApplication() {
    ASSERT_TRUE(ak::Nib::loadNibNamed_owner("MainMenu", application));
    application->run();
    controller = std::dynamic_pointer_cast<MainWindowController>(mainWindowController());
    ASSERT_TRUE(controller);
    window = controller->window();
  }
  // Signed in as the kept account, its special playlists known.
  void launchSignedIn(const std::string& email = "a@example.com") {
    keepSignIn(email);
    launchApplication();
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          auto account = controller->accountCache();
          return controller->isSignedIn() && account && account->favorites() == "FLme" &&
                 account->isMyChannel(kOwnChannel);
        },
        kWait));
  }
  // Sends the queued events through the application object, as its run does.
  void dispatch() {
    while (auto event = application->nextEventMatchingMask_untilDate_inMode_dequeue(
               ak::AnyEventMask, std::nullopt, ns::DefaultRunLoopMode, true))
      application->sendEvent(event);
    application->updateWindows();
  }
  void press(unsigned short code, const std::string& characters, unsigned long flags = 0) {
    pltest::key(window, code, characters, flags);
    dispatch();
  }
  void mediaKey(long key, long state = shellkeys::kMediaKeyDown) {
    pltest::post(
        ak::Event::
            otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
                ak::EventType::SystemDefined, {}, 0, ns::Clock::now(), 0, nullptr,
                shellkeys::kMediaKeySubtype, shellkeys::mediaKeyData1(key, state), -1));
    dispatch();
  }

  ns::Ref<LeftViewController> left() { return controller->leftViewController(); }
  ns::Ref<PelNavigationController> navigation() { return left()->navigationController(); }
  ns::Ref<PlayerViewController> player() { return controller->playerViewController(); }
  std::optional<std::string> loaded() { return player()->videoId(); }
  double position() { return player()->currentTimeSeconds(); }
  std::string message() { return player()->videoView()->message(); }
  bool ready() {
    auto item = player()->player()->currentItem();
    return item && item->status() == av::PlayerItemStatusReadyToPlay;
  }

  // The clip of `seconds` in Cache/<id>.mp4.
  void cacheClip(const std::string& videoId, double seconds = 20) {
    auto clip = pltest::testMedia({.seconds = seconds});
    ASSERT_FALSE(clip.empty()) << "ffmpeg could not make the clip";
    std::filesystem::create_directories(getCacheFolderPath());
    std::filesystem::copy_file(clip, *getCachedVideoPath(videoId),
                               std::filesystem::copy_options::overwrite_existing);
  }
  // The list pushed on the navigation and filled from the fake Data API.
  ns::Ref<YTPlaylistViewController> openList(const std::string& type = "playlists",
                                             const std::string& id = "PLkeys") {
    auto list = getPlaylistViewController(id, type, id);
    navigation()->pushViewController_animated(list, false);
    pltest::drainMode();
    EXPECT_TRUE(pltest::pumpUntil([&] { return !list->isFetching(); }, kWait));
    return list;
  }
  // The three-row list with its clips cached, row `selected` selected and its table the main
  // window's first responder.
  ns::Ref<YTPlaylistViewController> openKeysList(long selected = 1) {
    for (const auto& id : kRowIds) cacheClip(id);
    auto list = openList();
    EXPECT_TRUE(pltest::pumpUntil(
        [&] {
          const auto& rows = list->cellArray();
          return rows.size() == 3 && rows[0]->videoChannelId() == kOwnChannel &&
                 rows[1]->videoChannelId() == kOtherChannel;
        },
        kWait));
    select(list, selected);
    return list;
  }
  void select(const ns::Ref<YTPlaylistViewController>& list, long row) {
    auto table = list->tableView();
    auto set = ns::MutableIndexSet::indexSet();
    set->addIndex(static_cast<std::size_t>(row));
    table->selectRowIndexes_byExtendingSelection(*set, false);
    window->makeFirstResponder(table);
  }

  // The main menu's item under a top-level title.
  ns::Ref<ak::MenuItem> menuItem(const std::string& menu, const std::string& title) {
    auto main = std::dynamic_pointer_cast<ak::Menu>(application->mainMenu());
    auto top = main ? main->itemWithTitle(menu) : nullptr;
    auto sub = top ? top->submenu() : nullptr;
    return sub ? sub->itemWithTitle(title) : nullptr;
  }
  bool enabled(const std::string& menu, const std::string& title) {
    auto item = menuItem(menu, title);
    EXPECT_TRUE(item) << menu << " / " << title;
    return item && ak::Menu::validateItem(item);
  }

  testsupport::FakeDataAPI api;
  testsupport::FakeOAuthServer oauth;
  ns::Ref<PLMApplication> application;
  ns::Ref<ak::Window> window;
};

}  // namespace shelltest
