#include <dirent.h>

#include <cstdlib>

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNames.h"
#include "platform/media/MpvLibrary.h"
#include "platform/media/PlayerLayer.h"
#include "platform/runtime/KeyValueObserving.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/platform/media/MediaTestSupport.h"

namespace media_test {
namespace {

class PlayerLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { av::Player::setDefaultAudioOutput("null"); }

  // A window whose content is one view of the given size with a layer on a loaded player.
  void show(double width, double height, const std::filesystem::path& path) {
    window = app.window(ak::MakeRect(0, 0, width, height));
    host = window->contentView();
    player = av::Player::initWithURL(ns::URL::fileURLWithPath(path.string()));
    layer = av::PlayerLayer::playerLayerWithPlayer(player);
    layer->addToView(host);
  }
  bool waitForPicture() {
    return pltest::pumpUntil([&] { return layer->isReadyForDisplay(); }, kWait);
  }
  // Within `tolerance` per channel; the message names the colour found.
  static testing::AssertionResult near(ak::RGBA actual, ak::RGBA expected, int tolerance) {
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
        std::abs(actual.b - expected.b) <= tolerance)
      return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "found " << pltest::describe(actual) << ", expected " << pltest::describe(expected);
  }
  ak::RGBA pixel(double x, double y) {
    window->display();
    return pltest::windowPixel(window, x, y);
  }

  pltest::HeadlessApp app{false};
  ns::Ref<ak::Window> window;
  ns::Ref<ak::View> host;
  ns::Ref<av::Player> player;
  ns::Ref<av::PlayerLayer> layer;
};

const ak::RGBA kRed{255, 0, 0, 255};
const ak::RGBA kBlue{0, 0, 255, 255};
const ak::RGBA kBlack{0, 0, 0, 255};

TEST_F(PlayerLayerTest, DrawsTheFirstSecondRedInTheCentre) {
  auto path = pltest::testMedia({.seconds = 2, .pattern = pltest::MediaPattern::RedThenTestPattern});
  ASSERT_FALSE(path.empty());
  show(320, 240, path);
  auto ready = pltest::KeyValueRecorder::observe(layer.get(), {"readyForDisplay"});
  EXPECT_FALSE(layer->isReadyForDisplay());
  ASSERT_TRUE(waitForPicture());
  EXPECT_EQ(ready->count("readyForDisplay"), 1u);
  EXPECT_TRUE(ready->allOnMainThread());
  EXPECT_LT(cm::TimeGetSeconds(player->currentTime()), 1.0);
  EXPECT_TRUE(near(pixel(160, 120), kRed, 20));
  EXPECT_TRUE(near(pixel(20, 20), kRed, 20));
  ak::Rect r = layer->videoRect();
  EXPECT_EQ(r.size.width, 320);
  EXPECT_EQ(r.size.height, 240);
  pltest::renderWindow(window, "red");
}

TEST_F(PlayerLayerTest, GravityPlacesThePicture) {
  auto path = pltest::testMedia({.seconds = 1, .pattern = pltest::MediaPattern::LeftRight});
  ASSERT_FALSE(path.empty());
  show(640, 240, path);
  ASSERT_TRUE(waitForPicture());

  // Aspect: the 4:3 picture is centred with black bars left and right; red left, blue right.
  ak::Rect r = layer->videoRect();
  EXPECT_DOUBLE_EQ(r.origin.x, 160);
  EXPECT_DOUBLE_EQ(r.size.width, 320);
  EXPECT_TRUE(near(pixel(40, 120), kBlack, 4));
  EXPECT_TRUE(near(pixel(600, 120), kBlack, 4));
  EXPECT_TRUE(near(pixel(240, 120), kRed, 20));
  EXPECT_TRUE(near(pixel(400, 120), kBlue, 20));
  pltest::renderWindow(window, "aspect");

  // Resize: the picture is stretched over the whole view.
  layer->setVideoGravity(av::AVLayerVideoGravityResize);
  EXPECT_TRUE(near(pixel(40, 120), kRed, 20));
  EXPECT_TRUE(near(pixel(600, 120), kBlue, 20));

  // Fill: the picture covers the view and its top and bottom are cut.
  layer->setVideoGravity(av::AVLayerVideoGravityResizeAspectFill);
  r = layer->videoRect();
  EXPECT_DOUBLE_EQ(r.size.width, 640);
  EXPECT_DOUBLE_EQ(r.size.height, 480);
  EXPECT_DOUBLE_EQ(r.origin.y, -120);
  EXPECT_TRUE(near(pixel(40, 120), kRed, 20));

  // A transform turns the picture: mirrored, red is on the right.
  layer->setVideoGravity(av::AVLayerVideoGravityResize);
  ak::AffineTransform mirror;
  mirror.scaleXBy_yBy(-1, 1);
  layer->setAffineTransform(mirror);
  EXPECT_TRUE(near(pixel(600, 120), kRed, 20));
  EXPECT_TRUE(near(pixel(40, 120), kBlue, 20));

  // The layer follows its view's size.
  window->setContentSize(ak::MakeSize(320, 240));
  EXPECT_DOUBLE_EQ(layer->bounds().size.width, 320);
}

// The scaler runs on the drawing thread alone for pictures up to 1080p, where its worker threads
// cost more than they save, and with them for larger ones, which need them to keep up.
TEST_F(PlayerLayerTest, LargePicturesAreScaledWithWorkerThreadsSmallOnesWithout) {
  auto path = pltest::testMedia({.seconds = 2, .pattern = pltest::MediaPattern::RedThenTestPattern});
  ASSERT_FALSE(path.empty());
  show(320, 240, path);
  ASSERT_TRUE(waitForPicture());
  EXPECT_TRUE(near(pixel(160, 120), kRed, 20));
  auto threadsBecome = [&](const std::string& value) {
    return pltest::pumpUntil([&] { return player->engineOptionForTesting("zimg-threads") == value; }, kWait);
  };
  EXPECT_TRUE(threadsBecome("1")) << player->engineOptionForTesting("zimg-threads");

  window->setContentSize(ak::MakeSize(2560, 1440));
  EXPECT_TRUE(near(pixel(1280, 720), kRed, 20));
  EXPECT_TRUE(threadsBecome("auto")) << player->engineOptionForTesting("zimg-threads");
  EXPECT_TRUE(near(pixel(2000, 1000), kRed, 20));

  window->setContentSize(ak::MakeSize(1920, 1080));
  EXPECT_TRUE(near(pixel(960, 540), kRed, 20));
  EXPECT_TRUE(threadsBecome("1")) << player->engineOptionForTesting("zimg-threads");
}

std::size_t threadCount() {
  std::size_t n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

// The player pane builds its layer and its time observer on a player with nothing to play while
// the window opens: the engine starts after that, and the layer shows the picture (and the
// observer hears the time) of what is played later, whether the
// item comes before the engine started or after. A player let go before its engine started
// leaves nothing that calls it.
TEST_F(PlayerLayerTest, ALayerMadeBeforeAnythingPlaysShowsWhatPlaysLater) {
  ASSERT_TRUE(av::loadMediaEngineLibrary());
  auto path = pltest::testMedia({.seconds = 2, .pattern = pltest::MediaPattern::RedThenTestPattern});
  ASSERT_FALSE(path.empty());
  for (bool startedFirst : {false, true}) {
    SCOPED_TRACE(startedFirst ? "item after the engine started" : "item before the engine started");
    window = app.window(ak::MakeRect(0, 0, 320, 240));
    player = ns::make<av::Player>();
    layer = av::PlayerLayer::playerLayerWithPlayer(player);
    layer->addToView(window->contentView());
    int ticks = 0;
    auto observer = player->addPeriodicTimeObserverForInterval_queue_usingBlock(
        cm::TimeMakeWithSeconds(0.1, 600), nullptr, [&](cm::Time) { ++ticks; });
    EXPECT_FALSE(player->hasEngine());
    EXPECT_FALSE(layer->isReadyForDisplay());
    if (startedFirst) {
      ASSERT_TRUE(pltest::pumpUntil([&] { return player->hasEngine(); }, kWait));
    }
    player->replaceCurrentItemWithPlayerItem(
        av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string())));
    ASSERT_TRUE(waitForPicture());
    EXPECT_TRUE(near(pixel(160, 120), kRed, 20));
    // The observer added before the engine ran hears the playback.
    player->play();
    EXPECT_TRUE(pltest::pumpUntil([&] { return ticks >= 2; }, kWait));
    player->removeTimeObserver(observer);
    layer->removeFromSuperlayer();
    layer.reset();
    player.reset();
  }
  auto gone = ns::make<av::Player>();
  av::PlayerLayer::playerLayerWithPlayer(gone);
  gone.reset();
  // A later player's engine starts behind the one that was let go, which starts nothing.
  auto later = ns::make<av::Player>();
  auto laterLayer = av::PlayerLayer::playerLayerWithPlayer(later);
  ASSERT_TRUE(pltest::pumpUntil([&] { return later->hasEngine(); }, kWait));
}

// The picture is drawn at the size the layer shows it, stretched as the layer asks; pictures
// that arrive while no layer shows them are taken undrawn, and the layer shown again draws the
// latest one, not the last one it drew.
TEST_F(PlayerLayerTest, PicturesAreDrawnAtTheShownSizeAndOnlyWhileShown) {
  auto path = pltest::testMedia({.seconds = 2, .pattern = pltest::MediaPattern::RedThenTestPattern});
  auto halves = pltest::testMedia({.seconds = 1, .pattern = pltest::MediaPattern::LeftRight});
  ASSERT_FALSE(path.empty());
  ASSERT_FALSE(halves.empty());
  show(320, 240, halves);
  ASSERT_TRUE(waitForPicture());
  EXPECT_TRUE(layer->isShowing());
  EXPECT_TRUE(near(pixel(40, 120), kRed, 30));
  EXPECT_TRUE(near(pixel(280, 120), kBlue, 30));
  for (auto [width, height] : {std::pair{100, 50}, std::pair{333, 17}}) {
    av::VideoPicture picture = player->pictureForLayer(width, height);
    ASSERT_TRUE(picture.pixels);
    EXPECT_EQ(picture.width, width);
    EXPECT_EQ(picture.height, height);
    EXPECT_EQ(picture.stride % 64, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(picture.pixels) % 64, 0u);
    auto at = [&](int x) {
      const unsigned char* p = picture.pixels + (height / 2) * picture.stride + x * 4;
      return ak::RGBA{p[2], p[1], p[0], 255};
    };
    EXPECT_TRUE(near(at(width / 8), kRed, 30)) << width << "x" << height;
    EXPECT_TRUE(near(at(width - 1 - width / 8), kBlue, 30)) << width << "x" << height;
  }
  EXPECT_FALSE(player->pictureForLayer(0, 10).pixels);

  layer->removeFromSuperlayer();
  layer.reset();
  show(320, 240, path);
  ASSERT_TRUE(waitForPicture());
  EXPECT_TRUE(near(pixel(160, 120), kRed, 30));
  layer->drawingView()->setHidden(true);
  EXPECT_FALSE(layer->isShowing());
  const std::uint64_t before = player->pictureSerial();
  bool ended = false;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      av::AVPlayerItemDidPlayToEndTimeNotification, nullptr, nullptr, [&](const auto&) { ended = true; });
  player->play();
  ASSERT_TRUE(pltest::pumpUntil([&] { return ended; }, kWait));
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
  EXPECT_GT(player->pictureSerial(), before + 10);
  // Shown again: the test pattern that played last, not the red it drew before it was hidden.
  layer->drawingView()->setHidden(false);
  EXPECT_TRUE(layer->isShowing());
  EXPECT_FALSE(near(pixel(160, 120), kRed, 60));
  const av::VideoFrame& frame = player->currentVideoFrame();
  EXPECT_EQ(frame.width, 320);
  EXPECT_EQ(frame.serial, player->pictureSerial());
  layer->removeFromSuperlayer();
  EXPECT_FALSE(layer->isShowing());
}

// An opaque view of one colour.
class Patch : public ak::View {
 public:
  bool isOpaque() const override { return true; }
  void drawRect(const ak::Rect&) override {
    ak::Color::colorWithDeviceRed_green_blue_alpha(0, 1, 0, 1)->setFill();
    ak::RectFill(bounds());
  }
};

// The picture goes straight into the window's store when the whole of it is redrawn; a redraw of
// a part of it leaves the rest, and what lies over it, as they were; the picture is opaque there.
TEST_F(PlayerLayerTest, APartialRedrawKeepsWhatLiesOverThePictureAndThePictureIsOpaque) {
  auto halves = pltest::testMedia({.seconds = 1, .pattern = pltest::MediaPattern::LeftRight});
  ASSERT_FALSE(halves.empty());
  show(320, 240, halves);
  host->addSubview(ak::make<Patch>(ak::MakeRect(140, 100, 40, 40)));
  ASSERT_TRUE(waitForPicture());
  const ak::RGBA kGreen{0, 255, 0, 255};
  EXPECT_TRUE(near(pixel(40, 120), kRed, 30));
  EXPECT_EQ(pixel(40, 120).a, 255);
  EXPECT_EQ(pixel(280, 120).a, 255);
  EXPECT_TRUE(near(pixel(160, 120), kGreen, 4));

  // The left half of the picture only, up to the patch: the patch is not drawn again, so the
  // picture must not reach it.
  layer->drawingView()->setNeedsDisplayInRect(ak::MakeRect(0, 0, 120, 240));
  window->displayIfNeeded();
  EXPECT_TRUE(near(pltest::windowPixel(window, 160, 120), kGreen, 4));
  EXPECT_TRUE(near(pltest::windowPixel(window, 145, 105), kGreen, 4));
  EXPECT_TRUE(near(pltest::windowPixel(window, 40, 120), kRed, 30));
  EXPECT_EQ(pltest::windowPixel(window, 40, 120).a, 255);

  // Seen through a half-transparent ancestor, the picture is drawn into the group under it:
  // its red is mixed with what lies under it as the patch's green is.
  host->setAlphaValue(0.5);
  const ak::RGBA faded = pixel(40, 120), patch = pltest::windowPixel(window, 160, 120);
  EXPECT_GT(patch.g, patch.r + 100);
  EXPECT_TRUE(near(faded, ak::RGBA{patch.g, patch.r, patch.b, 255}, 30));
}

// The next item's picture of another shape: the item is told its own size, not the one the file
// before told, and the part of the view the old picture covered and the new one does not
// goes black, not left as it was.
TEST_F(PlayerLayerTest, APictureOfAnotherShapeLeavesNoTraceOfTheOneBefore) {
  auto square = pltest::testMedia({.seconds = 1, .pattern = pltest::MediaPattern::Solid, .colour = "red"});
  auto wide = pltest::testMedia(
      {.seconds = 1, .pattern = pltest::MediaPattern::Solid, .colour = "blue", .width = 320, .height = 120});
  ASSERT_FALSE(square.empty());
  ASSERT_FALSE(wide.empty());
  show(320, 240, square);
  ASSERT_TRUE(waitForPicture());
  EXPECT_TRUE(near(pixel(160, 20), kRed, 30));
  player->replaceCurrentItemWithPlayerItem(
      av::PlayerItem::playerItemWithURL(ns::URL::fileURLWithPath(wide.string())));
  // Drawn as the window draws by itself: only what the new pictures damaged.
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return near(pltest::windowPixel(window, 160, 120), kBlue, 30); }, kWait));
  EXPECT_DOUBLE_EQ(player->currentItem()->presentationSize().height, 120);
  EXPECT_DOUBLE_EQ(layer->videoRect().size.height, 120);
  EXPECT_TRUE(near(pltest::windowPixel(window, 160, 20), kBlack, 4));
  EXPECT_TRUE(near(pltest::windowPixel(window, 160, 220), kBlack, 4));
}

// Players made, played and let go one after another leave no thread behind; one goes while its
// seek is still pending.
TEST_F(PlayerLayerTest, PlayersComeAndGoCleanly) {
  auto path = pltest::testMedia({.seconds = 2, .pattern = pltest::MediaPattern::TestPattern});
  ASSERT_FALSE(path.empty());
  window = app.window(ak::MakeRect(0, 0, 160, 120));
  auto run = [&](int i, std::size_t* baseline) {
    auto item = av::PlayerItem::initWithURL(ns::URL::fileURLWithPath(path.string()));
    auto p = av::Player::initWithPlayerItem(item);
    auto l = av::PlayerLayer::playerLayerWithPlayer(p);
    l->addToView(window->contentView());
    ASSERT_TRUE(pltest::pumpUntil([&] { return item->status() != av::PlayerItemStatusUnknown; }, kWait));
    ASSERT_EQ(item->status(), av::PlayerItemStatusReadyToPlay);
    p->play();
    ASSERT_TRUE(pltest::pumpUntil([&] { return cm::TimeGetSeconds(p->currentTime()) > 0.05; }, kWait));
    bool handlerRan = false;
    if (i == 7) {
      p->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
          cm::TimeMakeWithSeconds(1.5, 600), cm::kTimeZero, cm::kTimeZero, [&](bool) { handlerRan = true; });
    }
    l->removeFromSuperlayer();
    l.reset();
    p.reset();  // the player goes with its mpv instance
    if (baseline && !*baseline) *baseline = threadCount();
    EXPECT_FALSE(handlerRan);
  };
  std::size_t baseline = 0;
  run(0, &baseline);
  for (int i = 1; i < 20; ++i) run(i, nullptr);
  // Events and pictures announced by players that are gone find nothing to call.
  EXPECT_TRUE(pltest::pumpUntil([&] { return threadCount() <= baseline; }, kWait))
      << threadCount() << " threads, " << baseline << " after the first player";
}

}  // namespace
}  // namespace media_test
