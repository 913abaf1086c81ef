// A player pane built with the first window: its engine starts only once a frame is on the
// screen, and an item to play does not wait for that.
#include <gtest/gtest.h>

#include <memory>

#include "platform/appkit/Presenter.h"
#include "platform/appkit/Window.h"
#include "platform/media/PlayerLayer.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/platform/media/MediaTestSupport.h"

namespace media_test {
namespace {

// A presenter that shows nothing: frames reach the screen when the test says so.
struct OffScreenPresenter : ak::Presenter {};

class EngineStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    av::Player::setDefaultAudioOutput("null");
    ak::setActivePresenter(std::make_shared<OffScreenPresenter>());
  }
  void TearDown() override { ak::setActivePresenter(nullptr); }
  // Passes of the main loop in which nothing is waited for.
  static void pump() {
    for (int i = 0; i < 20; ++i) ns::RunLoop::mainRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
  }
  pltest::HeadlessApp app{false};
};

TEST_F(EngineStartTest, ALayersEngineWaitsForTheFirstFrameAndAnItemDoesNot) {
  auto window = app.window(ak::MakeRect(0, 0, 320, 240));
  auto waiting = ns::make<av::Player>();
  auto layer = av::PlayerLayer::playerLayerWithPlayer(waiting);
  layer->addToView(window->contentView());
  pump();
  EXPECT_FALSE(waiting->hasEngine()) << "started before any frame was on the screen";

  // Something to play starts its engine at once, frame or not.
  auto path = pltest::testMedia({.seconds = 1, .pattern = pltest::MediaPattern::RedThenTestPattern});
  ASSERT_FALSE(path.empty());
  auto playing = av::Player::initWithURL(ns::URL::fileURLWithPath(path.string()));
  EXPECT_TRUE(playing->hasEngine());

  ak::noteFrameShown();
  EXPECT_TRUE(pltest::pumpUntil([&] { return waiting->hasEngine(); }, kWait));
  layer->removeFromSuperlayer();
}

}  // namespace
}  // namespace media_test
