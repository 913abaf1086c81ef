#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>

#include "platform/core/Exception.h"
#include "platform/runloop/Thread.h"
#include "platform/runtime/KeyValueObserving.h"
#include "tests/platform/media/MediaTestSupport.h"

namespace media_test {
namespace {

TEST_F(PlayerTest, LoadsOverLoopbackPlaysAndSeeks) {
  auto item = av::PlayerItem::initWithURL(served(clip(6)));
  auto itemChanges =
      pltest::KeyValueRecorder::observe(item.get(), {"status", "duration", "loadedTimeRanges"});
  auto player = av::Player::initWithPlayerItem(item);
  auto playerChanges = pltest::KeyValueRecorder::observe(player.get(), {"status", "rate"});
  EXPECT_TRUE(cm::TimeCompare(item->duration(), cm::kTimeIndefinite) == 0);
  EXPECT_EQ(player->currentItem(), item);

  ASSERT_TRUE(waitReady(item)) << (item->error() ? item->error()->description() : "no error");
  EXPECT_EQ(player->status(), av::PlayerStatusReadyToPlay);
  EXPECT_NEAR(seconds(item->duration()), 6.0, 0.05);
  EXPECT_GE(itemChanges->count("status"), 1u);
  EXPECT_GE(playerChanges->count("status"), 1u);
  EXPECT_EQ(itemChanges->changes().front().keyPath, "status");
  EXPECT_EQ(itemChanges->changes().front().newValue.integerValue(), av::PlayerItemStatusReadyToPlay);
  EXPECT_EQ(item->presentationSize().width, 320);

  player->play();
  EXPECT_EQ(player->rate(), 1.0f);
  ASSERT_TRUE(pltest::pumpUntil([&] { return seconds(player->currentTime()) > 0.2; }, kWait));

  // An exact seek lands on its time and says YES.
  // (Positions are read in the handlers: playback goes on afterwards.)
  std::optional<bool> finished;
  double landed = -1;
  auto seekStart = std::chrono::steady_clock::now();
  double took = -1;
  player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
      cm::TimeMakeWithSeconds(3.0, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) {
        finished = done;
        landed = seconds(player->currentTime());
        took = std::chrono::duration<double>(std::chrono::steady_clock::now() - seekStart).count();
      });
  ASSERT_TRUE(pltest::pumpUntil([&] { return finished.has_value(); }, kWait));
  EXPECT_TRUE(*finished);
  EXPECT_NEAR(landed, 3.0, 0.1);
  RecordProperty("exactSeekSeconds", std::to_string(took));

  // A seek made before the last one completed finishes it with NO.
  std::optional<bool> first, second;
  player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
      cm::TimeMakeWithSeconds(1.0, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) { first = done; });
  player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
      cm::TimeMakeWithSeconds(4.0, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) {
        second = done;
        landed = seconds(player->currentTime());
      });
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(*first);
  ASSERT_TRUE(pltest::pumpUntil([&] { return second.has_value(); }, kWait));
  EXPECT_TRUE(*second);
  EXPECT_NEAR(landed, 4.0, 0.1);

  // The whole file arrives over loopback.
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto ranges = item->loadedTimeRanges();
        return !ranges.empty() && seconds(cm::TimeRangeGetEnd(ranges.back())) >= 6.0 - 0.05;
      },
      kWait));
  ASSERT_EQ(item->seekableTimeRanges().size(), 1u);
  EXPECT_NEAR(seconds(cm::TimeRangeGetEnd(item->seekableTimeRanges()[0])), 6.0, 0.05);

  EXPECT_TRUE(itemChanges->allOnMainThread());
  EXPECT_TRUE(playerChanges->allOnMainThread());
}

TEST_F(PlayerTest, PlayingToTheEndPostsOnceAndPauses) {
  auto item = av::PlayerItem::initWithURL(served(clip(6)));
  ItemNotes notes(item);
  auto player = av::Player::initWithPlayerItem(item);
  ASSERT_TRUE(waitReady(item));
  std::optional<bool> sought;
  player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
      cm::TimeMakeWithSeconds(5.2, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) { sought = done; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return sought.has_value(); }, kWait));
  auto rate = pltest::KeyValueRecorder::observe(player.get(), {"rate"});
  player->play();
  ASSERT_TRUE(pltest::pumpUntil([&] { return notes.count(av::AVPlayerItemDidPlayToEndTimeNotification) > 0; },
                                kWait));
  EXPECT_EQ(player->rate(), 0.0f);
  EXPECT_EQ(rate->count("rate"), 2u);  // 1 on play, 0 at the end
  EXPECT_NEAR(seconds(player->currentTime()), 6.0, 0.5);

  // Later events (a seek's round trip through mpv) post nothing more.
  std::optional<bool> back;
  player->seekToTime_completionHandler(cm::TimeMakeWithSeconds(5.5, 600), [&](bool done) { back = done; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return back.has_value(); }, kWait));
  EXPECT_EQ(notes.count(av::AVPlayerItemDidPlayToEndTimeNotification), 1u);
  EXPECT_EQ(notes.count(av::AVPlayerItemFailedToPlayToEndTimeNotification), 0u);
  EXPECT_EQ(item->status(), av::PlayerItemStatusReadyToPlay);
}

TEST_F(PlayerTest, RateIsZeroOrOneAndVolumeIsClamped) {
  auto player = ns::make<av::Player>();
  player->setRate(2.5f);
  EXPECT_EQ(player->rate(), 1.0f);
  player->setRate(-1.0f);
  EXPECT_EQ(player->rate(), 1.0f);
  player->setRate(0);
  EXPECT_EQ(player->rate(), 0.0f);
  player->setVolume(3);
  EXPECT_EQ(player->volume(), 1.0f);
  player->setVolume(-1);
  EXPECT_EQ(player->volume(), 0.0f);
  EXPECT_EQ(player->actionAtItemEnd(), av::PlayerActionAtItemEndPause);
  EXPECT_TRUE(cm::TimeCompare(player->currentTime(), cm::kTimeZero) == 0);
  // Seeking with nothing loaded finishes at once with NO.
  std::optional<bool> finished;
  player->seekToTime_completionHandler(cm::TimeMake(1, 1), [&](bool done) { finished = done; });
  ASSERT_TRUE(finished.has_value());
  EXPECT_FALSE(*finished);
}

TEST_F(PlayerTest, PeriodicObserverFollowsPlayback) {
  auto item = av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(clip(2).string()));
  auto player = av::Player::initWithPlayerItem(item);
  std::vector<double> times;
  bool offMain = false;
  auto token = player->addPeriodicTimeObserverForInterval_queue_usingBlock(
      cm::TimeMakeWithSeconds(0.25, 600), nullptr, [&](cm::Time t) {
        times.push_back(cm::TimeGetSeconds(t));
        offMain = offMain || !ns::Thread::isMainThread();
      });
  // An observer on a queue of its own is called there.
  auto queue = dispatch::queueCreate("media-test.observer");
  std::atomic<int> onQueue{0}, offQueue{0};
  auto queued = player->addPeriodicTimeObserverForInterval_queue_usingBlock(
      cm::TimeMakeWithSeconds(0.25, 600), queue,
      [&](cm::Time) { (dispatch::isCurrentQueue(queue) ? onQueue : offQueue)++; });
  ASSERT_TRUE(waitReady(item));
  player->play();
  ASSERT_TRUE(pltest::pumpUntil([&] { return times.size() >= 3 && onQueue >= 1; }, kWait));
  EXPECT_FALSE(offMain);
  EXPECT_EQ(offQueue, 0);
  player->removeTimeObserver(queued);
  dispatch::sync(queue, [] {});
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i], times[i - 1]);
  player->removeTimeObserver(token);
  std::size_t seen = times.size();
  std::optional<bool> done;
  player->seekToTime_completionHandler(cm::TimeMakeWithSeconds(0.5, 600), [&](bool f) { done = f; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return done.has_value(); }, kWait));
  EXPECT_EQ(times.size(), seen);
}

// The frame number a FrameCode picture shows.
std::optional<int> shownFrame(av::Player& player) {
  const av::VideoFrame& frame = player.currentVideoFrame();
  return pltest::readFrameCodeOfPicture(frame.pixels.data(), frame.width, frame.height,
                                        static_cast<std::size_t>(frame.stride));
}

// Playback that stops between two periodic reports gets one more, with the time of the picture it
// stopped on; so does a seek made while paused, once its picture is there.
TEST_F(PlayerTest, PeriodicObserverReportsThePictureAPauseOrPausedSeekLeaves) {
  constexpr double kFrameRate = 25;
  auto path = clip(6, pltest::MediaPattern::FrameCode);
  auto item = av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string()));
  auto player = av::Player::initWithPlayerItem(item);
  std::optional<double> reported;
  auto token = player->addPeriodicTimeObserverForInterval_queue_usingBlock(
      cm::TimeMakeWithSeconds(0.5, 600), nullptr, [&](cm::Time t) { reported = seconds(t); });
  ASSERT_TRUE(waitReady(item));

  std::optional<int> frame;
  // The position, the last report and the picture all tell the same time.
  auto settled = [&] {
    frame = shownFrame(*player);
    const double now = seconds(player->currentTime());
    return frame && reported && std::fabs(*reported - now) < 1e-3 &&
           std::fabs(*frame / kFrameRate - now) < 1e-3;
  };
  auto expectSettled = [&](const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(pltest::pumpUntil(settled, kWait))
        << "position " << seconds(player->currentTime()) << ", reported " << reported.value_or(-1)
        << ", picture " << frame.value_or(-1);
    // And they stay so.
    const int stoppedOn = *frame;
    ASSERT_TRUE(pltest::drainMode());
    EXPECT_TRUE(settled());
    EXPECT_EQ(frame, stoppedOn);
  };

  player->play();
  ASSERT_TRUE(pltest::pumpUntil([&] { return seconds(player->currentTime()) > 2.8; }, kWait));
  player->pause();
  expectSettled("paused while playing");

  // Between two pictures: the picture shown is the one the report names.
  player->seekToTime_toleranceBefore_toleranceAfter(cm::TimeMakeWithSeconds(1.23, 600), cm::kTimeZero,
                                                    cm::kTimeZero);
  expectSettled("sought while paused");
  EXPECT_NEAR(*reported, 1.23, 1 / kFrameRate);
  player->removeTimeObserver(token);
}

// Reloading a video at the same position: a seek made before the item is ready waits for it;
// replacing the item finishes a pending seek with NO.
TEST_F(PlayerTest, SeeksBeforeReadyAndAcrossReplacement) {
  auto path = clip(2);
  auto first = av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string()));
  auto player = av::Player::initWithPlayerItem(first);
  auto changes = pltest::KeyValueRecorder::observe(player.get(), {"currentItem"});
  std::optional<bool> early;
  player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
      cm::TimeMakeWithSeconds(1.2, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) { early = done; });
  EXPECT_FALSE(early.has_value());
  ASSERT_TRUE(pltest::pumpUntil([&] { return early.has_value(); }, kWait));
  EXPECT_TRUE(*early);
  EXPECT_EQ(first->status(), av::PlayerItemStatusReadyToPlay);
  EXPECT_NEAR(seconds(player->currentTime()), 1.2, 0.1);  // paused: the time stays

  std::optional<bool> dropped;
  player->seekToTime_completionHandler(cm::TimeMakeWithSeconds(0.5, 600), [&](bool done) { dropped = done; });
  auto second = av::PlayerItem::initWithURL(served(path));
  player->replaceCurrentItemWithPlayerItem(second);
  ASSERT_TRUE(dropped.has_value());
  EXPECT_FALSE(*dropped);
  EXPECT_EQ(player->currentItem(), second);
  EXPECT_EQ(changes->count("currentItem"), 1u);
  ASSERT_TRUE(waitReady(second));
  EXPECT_TRUE(cm::TimeCompare(first->currentTime(), cm::kTimeZero) == 0);  // no longer played

  // An item belongs to one player at a time.
  auto other = ns::make<av::Player>();
  EXPECT_THROW(other->replaceCurrentItemWithPlayerItem(second), ns::Exception);
  player->replaceCurrentItemWithPlayerItem(nullptr);
  EXPECT_EQ(player->currentItem(), nullptr);
  other->replaceCurrentItemWithPlayerItem(second);
  EXPECT_EQ(other->currentItem(), second);
}

// Items replaced faster than the engine starts them (a user pressing Next and Previous at once):
// only the last is loaded, and it and every later item become ready and play.
TEST_F(PlayerTest, ItemsReplacedBeforeTheEngineStartedThemLeaveTheLastOneReady) {
  const auto path = clip(2);
  auto player = ns::make<av::Player>();
  std::vector<ns::Ref<av::PlayerItem>> items;
  for (int round = 0; round < 3; ++round) {
    // Three in a row with no turn of the run loop between them: the engine sees all three
    // loads before it starts one.
    for (int i = 0; i < 3; ++i) {
      items.push_back(av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string())));
      player->replaceCurrentItemWithPlayerItem(items.back());
    }
    ASSERT_TRUE(waitReady(items.back())) << "round " << round;
    EXPECT_EQ(player->currentItem(), items.back());
    EXPECT_EQ(player->status(), av::PlayerStatusReadyToPlay);
    player->play();
    EXPECT_TRUE(pltest::pumpUntil([&] { return seconds(player->currentTime()) > 0.2; }, kWait)) << round;
    player->pause();
  }
  // The ones replaced at once never became ready: what was said of them was not theirs.
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i % 3 != 2) {
      EXPECT_EQ(items[i]->status(), av::PlayerItemStatusUnknown) << i;
    }
  }
  // One more, alone, after all that.
  auto last = av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string()));
  player->replaceCurrentItemWithPlayerItem(last);
  EXPECT_TRUE(waitReady(last));
}

}  // namespace
}  // namespace media_test
