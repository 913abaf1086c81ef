#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "app/library/DBAccess.h"
#include "app/player/PlayerControlBar.h"
#include "app/player/PlayerNib.h"
#include "app/youtube/YoutubeSupport.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Nib.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/app/player/PlayerTestKit.h"
#include "ui/CustomSlider.h"

namespace playertest {
namespace {

TEST_F(PlayerFixture, PaneMadeFromItsNibPlaysAndBecomesTheProcessWidePlayer) {
  registerPlayerNib();
  ASSERT_TRUE(ak::Nib::hasBuilder("PlayerViewController"));
  // As the main window makes it: by the nib's name, the view on first use.
  auto pane = ns::make<PlayerViewController>();
  pane->initWithNibName_bundle(std::string("PlayerViewController"), nullptr);
  auto view = std::dynamic_pointer_cast<VideoView>(pane->view());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->autoresizingMask(), ak::ViewWidthSizable | ak::ViewHeightSizable);
  EXPECT_EQ(playerViewController().get(), static_cast<IPlayerViewController*>(pane.get()));
  auto bar = pane->controlBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->superview(), nullptr);
  EXPECT_EQ(pane->player()->volume(), 1.0f);

  ASSERT_NO_FATAL_FAILURE(cacheClip("nibN1", 2));
  pane->loadVideo(row("nibN1"));
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return pane->player()->currentItem() &&
               pane->player()->currentItem()->status() == av::PlayerItemStatusReadyToPlay;
      },
      kWait));
  // The bar built by the nib drives this pane's player.
  bar->playBtn()->performClick(nullptr);
  EXPECT_TRUE(pane->isPlaying());
  ASSERT_TRUE(pltest::pumpUntil([&] { return bar->progressSlider()->maxValue() > 1.9; }, kWait));
  pane->stopVideo();

  // A nib loaded for an owner of another class builds nothing into it and does not fail.
  auto stranger = ns::make<ak::ViewController>();
  EXPECT_TRUE(ak::Nib::loadNibNamed_owner("PlayerViewController", stranger));
  EXPECT_EQ(std::dynamic_pointer_cast<VideoView>(stranger->view()), nullptr);
}

TEST_F(PlayerFixture, CachedFileResumesPausesAndStopsSavingPositions) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("cachedA1", 15));
  auto db = DBAccess::getInstance();
  db->savePlayPosition_forId(2.0f, "cachedA1");
  EXPECT_EQ(playerViewController().get(), static_cast<IPlayerViewController*>(controller.get()));

  controller->loadVideo(row("cachedA1"));
  EXPECT_EQ(controller->videoId(), "cachedA1");
  ASSERT_TRUE(waitReady());
  EXPECT_EQ(item()->URL()->scheme(), "file");
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::fabs(now() - 2.0) < 0.1; }, kWait)) << now();
  EXPECT_FALSE(controller->isPlaying());
  EXPECT_EQ(controller->player()->rate(), 0.0f);

  controller->play();
  EXPECT_TRUE(controller->isPlaying());
  ASSERT_TRUE(pltest::pumpUntil([&] { return now() >= 3.4; }, kWait));
  EXPECT_TRUE(controller->isPlaying());
  controller->pause();
  EXPECT_FALSE(controller->isPlaying());
  EXPECT_EQ(controller->player()->rate(), 0.0f);
  double paused = now();
  EXPECT_NEAR(paused, 3.4, 0.5);
  EXPECT_NEAR(db->getPlayPositionForId("cachedA1"), paused, 0.1);
  EXPECT_EQ(db->getPlayedStateForId("cachedA1"), 2);

  controller->play();
  ASSERT_TRUE(pltest::pumpUntil([&] { return now() >= paused + 0.3; }, kWait));
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      ak::ApplicationWillTerminateNotification);
  EXPECT_GT(db->getPlayPositionForId("cachedA1"), paused + 0.2);
  controller->stopVideo();
  EXPECT_EQ(controller->videoId(), std::nullopt);
  EXPECT_FALSE(controller->isPlaying());
  EXPECT_GT(db->getPlayPositionForId("cachedA1"), paused + 0.2);
  EXPECT_EQ(db->getPlayedStateForId("cachedA1"), 2);
}

TEST_F(PlayerFixture, PlayedOutClipIsPlayedAndMerelyLoadedKeepsItsState) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("shortB1", 3));
  ASSERT_NO_FATAL_FAILURE(cacheClip("shortB2", 1));
  auto db = DBAccess::getInstance();
  main->setAnswers({.repeatType = 3});

  controller->loadVideo(row("shortB1"));
  ASSERT_TRUE(waitReady());
  controller->stopVideo();
  EXPECT_EQ(db->getPlayedStateForId("shortB1"), 0);

  db->savePlayPosition_forId(0.5f, "shortB2");
  controller->playVideo(row("shortB2"));
  ASSERT_TRUE(waitReady());
  ASSERT_TRUE(pltest::pumpUntil([&] { return db->getPlayedStateForId("shortB2") == 1; }, kWait));
  EXPECT_EQ(db->getPlayPositionForId("shortB2"), 0.0f);
  // Repeat mode 3 stays at the end with the video loaded.
  EXPECT_EQ(controller->videoId(), "shortB2");
}

TEST_F(PlayerFixture, SpinnerTurnsOnlyWhileTheItemWaitsForData) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("spinO1", 2));
  EXPECT_FALSE(controller->videoView()->isBuffering());
  controller->loadVideo(row("spinO1"));
  EXPECT_TRUE(controller->videoView()->isBuffering());
  ASSERT_TRUE(waitReady());
  ASSERT_TRUE(pltest::pumpUntil([&] { return !controller->videoView()->isBuffering(); }, kWait));
  controller->stopVideo();
  EXPECT_FALSE(controller->videoView()->isBuffering());
}

TEST_F(PlayerFixture, UnusableStoredPositionsStartAtZero) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("posC1", 2));
  for (float stored : {std::nanf(""), -3.0f, 50.0f}) {
    DBAccess::getInstance()->savePlayPosition_forId(stored, "posC1");
    controller->loadVideo(row("posC1"));
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(pltest::drainMode());
    EXPECT_NEAR(now(), 0.0, 0.05) << stored << " duration " << cm::TimeGetSeconds(item()->duration());
    controller->stopVideo();
  }
}

TEST_F(PlayerFixture, FailedVideoShowsMessageForTwoSecondsAndLoadsNothing) {
  pltest::VirtualClock clock;
  auto record = YoutubeSupport::initWithYoutubeId("failedD1");
  record->setError("gone");
  record->failedRequest();
  ASSERT_TRUE(
      pltest::pumpUntil([] { return YoutubeSupport::failedRequestErrorForVideoId("failedD1").has_value(); }));

  controller->playVideo(row("failedD1"));
  EXPECT_EQ(controller->videoId(), std::nullopt);
  EXPECT_EQ(controller->player()->currentItem(), nullptr);
  EXPECT_EQ(controller->videoView()->message(), "Can not play video");
  clock.advance(1.9);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_TRUE(controller->videoView()->isMessageVisible());
  // A new message restarts the time.
  controller->showOSD("again");
  clock.advance(1.9);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(controller->videoView()->message(), "again");
  clock.advance(0.2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !controller->videoView()->isMessageVisible(); }));
  EXPECT_FALSE(controller->bookmarksVisible());
}

TEST_F(PlayerFixture, VideoIdReadByOtherThreadsIsAlwaysALoadedIdOrNil) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("threadE1", 1));
  auto record = YoutubeSupport::initWithYoutubeId("threadE2");
  record->failedRequest();
  ASSERT_TRUE(
      pltest::pumpUntil([] { return YoutubeSupport::failedRequestErrorForVideoId("threadE2").has_value(); }));

  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!done) {
        auto id = controller->videoId();
        if (id && *id != "threadE1" && *id != "threadE2") ++bad;
      }
    });
  }
  for (int i = 0; i < 200; ++i) controller->loadVideo(row(i % 2 ? "threadE1" : "threadE2"));
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(controller->videoId(), "threadE1");
}

}  // namespace
}  // namespace playertest
