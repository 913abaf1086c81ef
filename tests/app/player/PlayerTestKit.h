#pragma once
// What the player pane's tests share: a sandbox with a fresh library store, silent audio, the
// controller installed as the process-wide player, clips placed in the media cache, and a main
// window controller whose repeat mode and cache server the test sets.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/player/PlayerViewController.h"
#include "app/player/VideoView.h"
#include "app/youtube/SearchEntry.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Window.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "platform/media/Time.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TestMedia.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/app/library/LibrarySandbox.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace playertest {

// Generous: the suite runs beside everything else on a loaded two-core machine.
inline constexpr double kWait = 60;

class PlayerFixture : public ::testing::Test {
 protected:
  PlayerFixture() {
    av::Player::setDefaultAudioOutput("null");
    main = ns::make<testsupport::FakeMainWindowController>();
    installedMain = std::make_unique<testsupport::ScopedMainWindowController>(main);
    controller = PlayerViewController::init();
  }
  ~PlayerFixture() override {
    controller->stopVideo();
    setPlayerViewController(nullptr);
  }

  static ns::Ref<SearchEntry> row(const std::string& videoId) {
    auto entry = SearchEntry::init();
    entry->setVideoid(videoId);
    entry->setTitle("Title of " + videoId);
    return entry;
  }
  // Copies a clip of `seconds` into Cache/<id>.mp4.
  void cacheClip(const std::string& videoId, double seconds) {
    auto clip = pltest::testMedia({.seconds = seconds});
    ASSERT_FALSE(clip.empty()) << "ffmpeg could not make the clip";
    std::filesystem::create_directories(getCacheFolderPath());
    std::filesystem::copy_file(clip, *getCachedVideoPath(videoId),
                               std::filesystem::copy_options::overwrite_existing);
  }
  av::PlayerItem* item() { return controller->player()->currentItem().get(); }
  bool waitReady() {
    return pltest::pumpUntil([&] { return item() && item()->status() != av::PlayerItemStatusUnknown; },
                             kWait) &&
           item()->status() == av::PlayerItemStatusReadyToPlay;
  }
  double now() { return controller->currentTimeSeconds(); }

  LibrarySandbox sandbox;
  ns::Ref<testsupport::FakeMainWindowController> main;
  std::unique_ptr<testsupport::ScopedMainWindowController> installedMain;
  ns::Ref<PlayerViewController> controller;
};

// The centre pixel of the latest picture as red, green and blue.
inline std::array<int, 3> centrePixel(const av::VideoFrame& frame) {
  auto* p = frame.pixels.data() + (frame.height / 2) * frame.stride + (frame.width / 2) * 4;
  return {p[2], p[1], p[0]};
}

// The frame number the player's latest picture shows, for clips of the FrameCode pattern.
inline std::optional<int> shownFrameCode(av::Player& player) {
  const av::VideoFrame& frame = player.currentVideoFrame();
  return pltest::readFrameCodeOfPicture(frame.pixels.data(), frame.width, frame.height,
                                        static_cast<std::size_t>(frame.stride));
}

// The video view drawn in a window of its own (written as a PNG under the build folder as
// `name`): the colour at its centre. The view goes back out of the window afterwards.
inline ak::RGBA renderedCentre(const ns::Ref<PlayerViewController>& controller, const std::string& name) {
  auto view = controller->videoView();
  ak::Rect bounds = view->bounds();
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, bounds.size.width, bounds.size.height),
                                     ak::BorderlessWindowMask);
  view->setFrame(bounds);
  window->contentView()->addSubview(view);
  window->orderFront(nullptr);
  window->display();
  pltest::renderWindow(window, name);
  ak::RGBA centre = pltest::windowPixel(window, bounds.size.width / 2, bounds.size.height / 2);
  view->removeFromSuperview();
  window->orderOut(nullptr);
  return centre;
}

// Where each item a player plays first shows itself past its start: the first position at least
// kPastStart in that the player reports for the item once it is ready to play. An item sought to
// a kept place reports that place; one that starts over reports about kPastStart, however long a
// test then waits for it to play on.
class FirstPlaces {
 public:
  static constexpr double kPastStart = 0.5;

  explicit FirstPlaces(const ns::Ref<av::Player>& player) : player_(player) {
    token_ = player->addPeriodicTimeObserverForInterval_queue_usingBlock(
        cm::TimeMakeWithSeconds(0.01, cm::kPreferredTimescale), nullptr, [this](cm::Time time) {
          auto item = player_->currentItem();
          double seconds = cm::TimeGetSeconds(time);
          if (!item || item->status() != av::PlayerItemStatusReadyToPlay || !(seconds >= kPastStart) ||
              of(item.get()))
            return;
          places_.push_back({item, seconds});
        });
  }
  ~FirstPlaces() { player_->removeTimeObserver(token_); }
  FirstPlaces(const FirstPlaces&) = delete;
  FirstPlaces& operator=(const FirstPlaces&) = delete;

  // Nothing until `item` has reported a position past its start.
  std::optional<double> of(const av::PlayerItem* item) const {
    for (auto& [played, seconds] : places_)
      if (played.lock().get() == item) return seconds;
    return std::nullopt;
  }

 private:
  ns::Ref<av::Player> player_;
  ns::Ref<ns::Object> token_;
  std::vector<std::pair<ns::Weak<av::PlayerItem>, double>> places_;
};

// A player resolving through the fake video service, with a loopback origin for the streams.
class StreamingFixture : public PlayerFixture {
 protected:
  // The cache's tables and the qualities chosen during the run outlive a test: a video cached or a
  // quality chosen by an earlier one (or by an earlier repetition of the same test) would count.
  StreamingFixture() : installedResolver(resolver) {
    resetCacheStateTablesForTesting();
    resetChosenVideoQualitiesForTesting();
  }
  ~StreamingFixture() override {
    controller->stopVideo();
    for (auto& downloader : registeredDownloaders()) downloader->stopDownload();
  }
  std::string origin(const std::string& path) { return server.URLForPath(path); }
  std::size_t originRequests(const std::string& path) {
    std::size_t n = 0;
    for (auto& request : server.requests()) n += request.path == path;
    return n;
  }
  std::string itemURL() { return item() ? item()->URL()->absoluteString() : std::string(); }

  ns::Ref<testsupport::FakeStreamResolver> resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver;
  pltest::FakeServer server;
};

}  // namespace playertest
