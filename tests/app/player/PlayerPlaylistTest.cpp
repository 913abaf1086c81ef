// The end of a video in a list: what plays next in each repeat mode.
#include "app/player/PlayerControlBar.h"
#include "platform/appkit/Button.h"
#include "platform/media/MediaNames.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/app/player/PlayerTestKit.h"

namespace playertest {
namespace {

struct PlaylistFixture : ::testing::Test {
  PlaylistFixture() {
    av::Player::setDefaultAudioOutput("null");
    controller = PlayerViewController::init();
    list = getPlaylistViewController("clips", "search_relevance", "clips");
    list->view();
    auto rows = browse_test::numberedRows(3);
    for (auto& row : rows) {
      auto clip = pltest::testMedia({.seconds = 1});
      std::filesystem::create_directories(getCacheFolderPath());
      std::filesystem::copy_file(clip, *getCachedVideoPath(*row->videoid()),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    list->setCellArray(rows);
  }
  ~PlaylistFixture() override {
    controller->stopVideo();
    setPlayerViewController(nullptr);
  }
  // Plays row 0 and records the videos loaded until `last` has played out.
  std::vector<std::string> playFromStart(int repeatType, const std::function<bool()>& until) {
    browse.setAnswers([&](auto& answers) { answers.repeatType = repeatType; });
    list->playAtIndex(0);
    std::vector<std::string> loaded;
    pltest::pumpUntil(
        [&] {
          auto id = controller->videoId().value_or("");
          if (loaded.empty() || loaded.back() != id) loaded.push_back(id);
          return until();
        },
        kWait);
    return loaded;
  }
  bool atEnd() {
    auto item = controller->player()->currentItem();
    return item && item->status() == av::PlayerItemStatusReadyToPlay &&
           controller->currentTimeSeconds() >= cm::TimeGetSeconds(item->duration()) - 0.1;
  }

  browse_test::BrowseFixture browse;
  LibrarySandbox sandbox;
  ns::Ref<PlayerViewController> controller;
  ns::Ref<YTPlaylistViewController> list;
};

TEST_F(PlaylistFixture, PlaylistPlaysOnAndStopsAtItsEnd) {
  auto loaded = playFromStart(0, [&] { return controller->videoId() == "v2" && atEnd(); });
  EXPECT_EQ(loaded, (std::vector<std::string>{"v0", "v1", "v2"}));
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(controller->videoId(), "v2");
  EXPECT_EQ(list->getPlayIndex(), 2);
}

TEST_F(PlaylistFixture, RepeatAllGoesBackToTheFirstRow) {
  int rounds = 0;
  auto loaded = playFromStart(1, [&] {
    if (controller->videoId() == "v2") rounds = 1;
    return rounds == 1 && controller->videoId() == "v0";
  });
  EXPECT_EQ(loaded, (std::vector<std::string>{"v0", "v1", "v2", "v0"}));
}

TEST_F(PlaylistFixture, RepeatOneReplaysAndPlayOneStays) {
  ns::Ref<ns::Object> token;
  int ends = 0;
  token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(av::AVPlayerItemDidPlayToEndTimeNotification), nullptr, nullptr,
      [&](const ns::Ref<ns::Notification>&) { ++ends; });
  auto loaded = playFromStart(2, [&] { return ends >= 2; });
  EXPECT_EQ(loaded, (std::vector<std::string>{"v0"}));
  EXPECT_TRUE(controller->isPlaying());

  ends = 0;
  loaded = playFromStart(3, [&] { return ends >= 1 && atEnd(); });
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(controller->videoId(), "v0");
  EXPECT_EQ(list->getPlayIndex(), 0);
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
}

TEST_F(PlaylistFixture, BarButtonsMoveThroughTheListEvenPastItsEnd) {
  list->playAtIndex(2);
  auto bar = controller->controlBar();
  // The buttons are the sender: at the end of the list, next goes on to row 0.
  bar->nextBtn()->performClick(nullptr);
  EXPECT_EQ(controller->videoId(), "v0");
  bar->prevBtn()->performClick(nullptr);
  EXPECT_EQ(controller->videoId(), "v2");
  bar->prevBtn()->performClick(nullptr);
  EXPECT_EQ(controller->videoId(), "v1");
}

}  // namespace
}  // namespace playertest
