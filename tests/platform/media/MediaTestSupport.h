#pragma once
// Set-up shared by the player tests: a sandbox, silent audio, clips made with ffmpeg and a
// loopback server that serves them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNames.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/KeyValueRecorder.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TestMedia.h"

namespace media_test {

// Generous: the suite runs beside everything else on a loaded two-core machine.
inline constexpr double kWait = 30;

// Counts the item notifications posted for one item, and the thread they came on.
class ItemNotes {
 public:
  explicit ItemNotes(const ns::Ref<ns::Object>& item) {
    auto center = ns::NotificationCenter::defaultCenter();
    for (const char* name :
         {av::AVPlayerItemDidPlayToEndTimeNotification, av::AVPlayerItemFailedToPlayToEndTimeNotification,
          av::AVPlayerItemPlaybackStalledNotification}) {
      tokens_.push_back(center->addObserverForName_object_queue_usingBlock(
          std::string(name), item, nullptr, [this](const ns::Ref<ns::Notification>& note) {
            names.push_back(note->name());
            userInfos.push_back(note->userInfo());
          }));
    }
  }
  ~ItemNotes() {
    for (auto& t : tokens_) ns::NotificationCenter::defaultCenter()->removeObserver(t.get());
  }
  std::size_t count(const std::string& name) const {
    std::size_t n = 0;
    for (auto& s : names) n += s == name;
    return n;
  }
  std::vector<std::string> names;
  std::vector<ns::Dictionary> userInfos;

 private:
  std::vector<ns::Ref<ns::Object>> tokens_;
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { av::Player::setDefaultAudioOutput("null"); }

  std::filesystem::path clip(double seconds,
                             pltest::MediaPattern pattern = pltest::MediaPattern::TestPattern) {
    auto path = pltest::testMedia({.seconds = seconds, .pattern = pattern});
    EXPECT_FALSE(path.empty()) << "ffmpeg could not make the test clip";
    return path;
  }
  // The clip served at `route` with byte ranges; answers its URL.
  ns::Ref<ns::URL> served(const std::filesystem::path& path, const std::string& route = "/clip.mp4") {
    server.route("GET", route, pltest::mediaRoute(path));
    return ns::URL::URLWithString(server.URLForPath(route));
  }
  bool waitReady(const ns::Ref<av::PlayerItem>& item) {
    return pltest::pumpUntil([&] { return item->status() != av::PlayerItemStatusUnknown; }, kWait) &&
           item->status() == av::PlayerItemStatusReadyToPlay;
  }
  static double seconds(cm::Time t) { return cm::TimeGetSeconds(t); }

  pltest::Sandbox sandbox;
  pltest::FakeServer server;
};

}  // namespace media_test
