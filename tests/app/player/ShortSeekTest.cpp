// Short seeks on the real player with a real clip keyed only every 10 s, whose pictures show their
// own frame number: from a paused place each lands exactly 5 s away (a key-frame seek would
// land on 0, 10 or 20 s), quick presses add up, the clip's ends hold them, and once a seek is
// done the position the player reports is the picture's.
#include <filesystem>

#include "app/library/DBAccess.h"
#include "platform/media/Time.h"
#include "tests/app/player/PlayerTestKit.h"

namespace playertest {
namespace {

constexpr double kFrameRate = 25;

class ShortSeekFixture : public PlayerFixture {
 protected:
  ShortSeekFixture() {
    observer_ = controller->player()->addPeriodicTimeObserverForInterval_queue_usingBlock(
        cm::TimeMakeWithSeconds(0.5, cm::kPreferredTimescale), nullptr,
        [this](cm::Time time) { reported_ = cm::TimeGetSeconds(time); });
  }
  ~ShortSeekFixture() override { controller->player()->removeTimeObserver(observer_); }

  // The frame number the latest picture shows.
  std::optional<int> shownFrame() { return shownFrameCode(*controller->player()); }

  // Runs `press` and waits until the seek it started is done: the player reports a time again,
  // its position is that time (no seek is under way) and the picture shows it. Then the
  // position, the report and the picture must all be `expected`, and the video still paused.
  void expectSeekTo(const std::function<void()>& press, double expected, const std::string& step) {
    SCOPED_TRACE(step);
    reported_.reset();
    press();
    std::optional<int> frame;
    const bool settled = pltest::pumpUntil(
        [&] {
          frame = shownFrame();
          return reported_ && std::fabs(now() - *reported_) < 1e-3 && frame &&
                 std::fabs(*frame / kFrameRate - *reported_) < 0.05;
        },
        kWait);
    ASSERT_TRUE(settled) << "position " << now() << ", reported " << reported_.value_or(-1) << ", picture "
                         << frame.value_or(-1);
    EXPECT_NEAR(now(), expected, 0.1);
    EXPECT_NEAR(*frame / kFrameRate, expected, 0.1);
    EXPECT_EQ(controller->player()->rate(), 0.0f);
  }

  ns::Ref<ns::Object> observer_;
  std::optional<double> reported_;
};

TEST_F(ShortSeekFixture, ShortSeeksLandExactlyFiveSecondsAwayWithinTheClip) {
  auto clip =
      pltest::testMedia({.seconds = 30, .pattern = pltest::MediaPattern::FrameCode, .keyframeSeconds = 10});
  ASSERT_FALSE(clip.empty());
  ASSERT_EQ(pltest::keyframeTimes(clip), (std::vector<double>{0, 10, 20}));
  std::filesystem::create_directories(getCacheFolderPath());
  std::filesystem::copy_file(clip, *getCachedVideoPath("keyK1"),
                             std::filesystem::copy_options::overwrite_existing);

  // Loaded paused at its stored place, between two key frames.
  DBAccess::getInstance()->savePlayPosition_forId(13.0f, "keyK1");
  controller->loadVideo(row("keyK1"));
  ASSERT_TRUE(waitReady());
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto frame = shownFrame();
        return frame && *frame == 13 * kFrameRate && reported_ && std::fabs(*reported_ - 13.0) < 0.01;
      },
      kWait))
      << now();

  expectSeekTo([&] { controller->shortSeekForward(); }, 18.0, "forward from 13 s");
  expectSeekTo([&] { controller->shortSeekForward(); }, 23.0, "forward past the key frame at 20 s");
  expectSeekTo([&] { controller->shortSeekBack(); }, 18.0, "back past the key frame at 20 s");
  expectSeekTo([&] { controller->shortSeekBack(); }, 13.0, "back from 18 s");
  expectSeekTo([&] { controller->shortSeekBack(); }, 8.0, "back past the key frame at 10 s");
  expectSeekTo([&] { controller->shortSeekBack(); }, 3.0, "back from 8 s");
  expectSeekTo([&] { controller->shortSeekBack(); }, 0.0, "back from 3 s stops at the start");
  // From the start (a key frame): two quick presses, the second before the first is done.
  expectSeekTo(
      [&] {
        controller->shortSeekForward();
        controller->shortSeekForward();
      },
      10.0, "twice forward from the start");

  // Near the end: forward stops at the end of the clip (its last picture).
  expectSeekTo(
      [&] {
        controller->player()->seekToTime_toleranceBefore_toleranceAfter(
            cm::TimeMakeWithSeconds(27.5, cm::kPreferredTimescale), cm::kTimeZero, cm::kTimeZero);
      },
      27.5, "placed near the end");
  expectSeekTo([&] { controller->shortSeekForward(); }, 30.0 - 1 / kFrameRate, "forward from 27.5 s");
  EXPECT_LE(now(), 30.0);
}

}  // namespace
}  // namespace playertest
