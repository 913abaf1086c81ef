#include <filesystem>

#include "app/cache/MuxingTool.h"
#include "app/player/PlayerControlBar.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "tests/app/player/PlayerTestKit.h"
#include "ui/CustomSlider.h"

namespace playertest {
namespace {

TEST(PlayerControlBarQualities, TitlesFollowTheFormatsInTheirOrder) {
  struct Case {
    std::vector<std::int32_t> itags;
    std::vector<std::string> titles;
  };
  for (const auto& c : std::vector<Case>{{{18, 22}, {"720p", "360p"}},
                                         {{137, 140, 18}, {"1080p", "360p"}},
                                         {{37, 36, 17}, {"1080p", "240p"}},
                                         {{17, 140}, {}}}) {
    EXPECT_EQ(PlayerControlBar::qualityTitles(c.itags), c.titles);
  }
}

TEST_F(PlayerFixture, ControlBarDrivesThePlayer) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("barJ1", 6));
  auto bar = controller->controlBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->volumeSlider()->doubleValue(), 1.0);
  EXPECT_EQ(controller->player()->volume(), 1.0f);

  controller->loadVideo(row("barJ1"));
  ASSERT_TRUE(waitReady());
  // Play/pause toggles the rate.
  bar->playBtn()->performClick(nullptr);
  EXPECT_EQ(controller->player()->rate(), 1.0f);
  ASSERT_TRUE(pltest::pumpUntil([&] { return bar->progressSlider()->maxValue() > 5.9; }, kWait));
  bar->playBtn()->performClick(nullptr);
  EXPECT_EQ(controller->player()->rate(), 0.0f);

  // The knob let go at 80% seeks there.
  bar->progressSlider()->setDoubleValue(0.8 * bar->progressSlider()->maxValue());
  bar->progressSlider()->performClick(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::fabs(now() - 4.8) < 0.3; }, kWait)) << now();
  ASSERT_TRUE(pltest::pumpUntil([&] { return bar->timeLabel()->stringValue() == "0:04"; }, kWait))
      << bar->timeLabel()->stringValue();

  // The volume reaches the player and is not kept.
  bar->volumeSlider()->setDoubleValue(0.25);
  bar->volumeSlider()->performClick(nullptr);
  EXPECT_EQ(controller->player()->volume(), 0.25f);
  for (auto& entry : std::filesystem::recursive_directory_iterator(sandbox.root())) {
    if (entry.is_regular_file()) {
      EXPECT_EQ(entry.path().string().find("volume"), std::string::npos);
    }
  }

  // No formats are known for a copied file without its info: the pop-up stays off.
  EXPECT_FALSE(bar->qualityPopUp()->isEnabled());
}

TEST_F(PlayerFixture, AKnobHeldWhileTheTimeMovesOnSeeksWhereItIsLetGo) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("holdK1", 6));
  auto bar = controller->controlBar();
  controller->loadVideo(row("holdK1"));
  ASSERT_TRUE(waitReady());
  // Paused at the start: the bar learns the duration from its next report.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        bar->updateProgress();
        return bar->progressSlider()->maxValue() > 5.9;
      },
      kWait));
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, 640, 40), ak::BorderlessWindowMask);
  window->contentView()->addSubview(bar);
  window->orderFront(nullptr);
  auto slider = bar->progressSlider();
  const ak::Rect frame = slider->convertRect_toView(slider->bounds(), nullptr);
  const ak::Point at{frame.origin.x + frame.size.width * 0.8, frame.origin.y + frame.size.height / 2};
  const double pressed = slider->sliderCell()->valueForPoint(slider->convertPoint_fromView(at, nullptr));
  ASSERT_GT(pressed, 4);

  // The time observer reports the player's time while the knob is held.
  int reports = 0;
  ns::RunLoop::currentRunLoop()->addTimer_forMode(
      ns::Timer::timerWithTimeInterval_repeats_block(0, false,
                                                     [&](const auto&) {
                                                       bar->updateProgress();
                                                       ++reports;
                                                     }),
      ns::EventTrackingRunLoopMode);
  pltest::click(window, at);
  auto app = ak::Application::sharedApplication();
  while (auto e = app->nextEventMatchingMask_untilDate_inMode_dequeue(ak::AnyEventMask, std::nullopt,
                                                                      ns::DefaultRunLoopMode, true))
    app->sendEvent(e);
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(pltest::pumpUntil([&] { return std::fabs(now() - pressed) < 0.3; }, kWait))
      << now() << " for " << pressed;
  bar->removeFromSuperview();
  window->orderOut(nullptr);
}

// Paused between two of the time observer's reports, and after a seek made while paused, the
// time field and the slider show the time of the picture on the screen.
TEST_F(PlayerFixture, TheTimeFieldAndSliderShowThePictureWhilePaused) {
  constexpr int kFrameRate = 25;
  auto clip = pltest::testMedia({.seconds = 6, .pattern = pltest::MediaPattern::FrameCode});
  ASSERT_FALSE(clip.empty());
  std::filesystem::create_directories(getCacheFolderPath());
  std::filesystem::copy_file(clip, *getCachedVideoPath("pauseF1"),
                             std::filesystem::copy_options::overwrite_existing);
  auto bar = controller->controlBar();
  controller->loadVideo(row("pauseF1"));
  ASSERT_TRUE(waitReady());

  std::optional<int> frame;
  auto barShowsThePicture = [&] {
    frame = shownFrameCode(*controller->player());
    if (!frame) return false;
    const double at = *frame / double(kFrameRate);
    return std::fabs(bar->progressSlider()->doubleValue() - at) < 1e-3 &&
           bar->timeLabel()->stringValue() == "0:0" + std::to_string(*frame / kFrameRate);
  };
  auto expectBarShowsThePicture = [&](const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(pltest::pumpUntil(barShowsThePicture, kWait))
        << "picture " << frame.value_or(-1) << ", slider " << bar->progressSlider()->doubleValue()
        << ", time field " << bar->timeLabel()->stringValue();
    const int stoppedOn = *frame;
    ASSERT_TRUE(pltest::drainMode());
    EXPECT_TRUE(barShowsThePicture());
    EXPECT_EQ(frame, stoppedOn);
    EXPECT_EQ(controller->player()->rate(), 0.0f);
  };

  // Paused just past 3 s, as a user would: the last half-second report most likely came in the
  // second before.
  bar->playBtn()->performClick(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return now() >= 3.0; }, kWait));
  bar->playBtn()->performClick(nullptr);
  expectBarShowsThePicture("paused while playing");

  // The knob let go just before a whole second.
  bar->progressSlider()->setDoubleValue(1.99);
  bar->progressSlider()->performClick(nullptr);
  expectBarShowsThePicture("sought while paused");
  EXPECT_NEAR(*frame / double(kFrameRate), 1.99, 1.0 / kFrameRate);
}

TEST_F(PlayerFixture, ShortSeeksStayInsideTheVideo) {
  ASSERT_NO_FATAL_FAILURE(cacheClip("seekK1", 6));
  controller->loadVideo(row("seekK1"));
  ASSERT_TRUE(waitReady());
  controller->shortSeekBack();
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_NEAR(now(), 0.0, 0.1);
  controller->shortSeekForward();
  ASSERT_TRUE(pltest::pumpUntil([&] { return std::fabs(now() - 5.0) < 0.6; }, kWait)) << now();
  controller->shortSeekForward();
  ASSERT_TRUE(pltest::pumpUntil([&] { return now() > 5.5; }, kWait)) << now();
  EXPECT_LE(now(), 6.05);
}

TEST_F(PlayerFixture, APositionPastWhatAnIntCountsShowsItsHoursInTheTimeLabel) {
  // A forged file: its second picture more than 68 years after its first.
  auto clip = pltest::testMedia({.seconds = 3});
  ASSERT_FALSE(clip.empty());
  std::filesystem::create_directories(getCacheFolderPath());
  ASSERT_EQ(
      runTask("/usr/bin/ffmpeg",
              {"-nostdin", "-loglevel", "error", "-y", "-i", clip.string(), "-an", "-c:v", "copy", "-bsf:v",
               "setts=pts='if(eq(N,0),0,PTS+3000000000/TB)':dts='if(eq(N,0),0,DTS+3000000000/TB)'", "-f",
               "matroska", *getCachedVideoPath("farL1")},
              true),
      0);
  controller->loadVideo(row("farL1"));
  ASSERT_TRUE(waitReady());
  controller->player()->seekToTime(cm::TimeMakeWithSeconds(3000000001.0, cm::kPreferredTimescale));
  ASSERT_TRUE(pltest::pumpUntil([&] { return now() > 3e9; }, kWait)) << now();
  auto bar = controller->controlBar();
  bar->updateProgress();
  const std::string label = bar->timeLabel()->stringValue();
  EXPECT_EQ(label.rfind("833333:", 0), 0u) << label;
}

}  // namespace
}  // namespace playertest
