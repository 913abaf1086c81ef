#include <gtest/gtest.h>

#include <cmath>

#include "platform/appkit/Animation.h"
#include "platform/appkit/Layer.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace animation_test {

class StopRecorder : public ns::Object {
 public:
  std::vector<std::string> stops;
  void didStop(ns::Ref<ns::Object> animation, bool finished) { stops.push_back(finished ? "YES" : "NO"); }
};

}  // namespace animation_test

using animation_test::StopRecorder;

PL_CLASS_NAMED(animation_test::StopRecorder, "RTStopRecorder", ns::Object) {
  cls.method<&StopRecorder::didStop>("animationDidStop:finished:");
}

namespace {
// One animation frame's worth of change, the most a sampled value may lag.
double frameStep(double distance, double duration) {
  return distance / duration / 60 + 1e-9;
}
}  // namespace

TEST(Animations, AFrameChangeIsHalfWayAtHalfTimeAndFinalAtTheEndWithOneCompletion) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 400, 300), ak::BorderlessWindowMask);
  auto view = ak::make<ak::View>(MakeRect(0, 0, 100, 100));
  window->contentView()->addSubview(view);
  int completions = 0;
  ak::AnimationContext::runAnimationGroup_completionHandler(
      [&](ak::AnimationContext& context) {
        context.setDuration(0.2);
        view->animator()->setFrame(MakeRect(200, 100, 200, 100));
      },
      [&] { ++completions; });
  app.advance(0.1);
  EXPECT_NEAR(view->frame().origin.x, 100, frameStep(200, 0.2));
  EXPECT_NEAR(view->frame().origin.y, 50, frameStep(100, 0.2));
  EXPECT_NEAR(view->frame().size.width, 150, frameStep(100, 0.2));
  EXPECT_EQ(completions, 0);
  app.advance(0.1);
  EXPECT_EQ(view->frame(), MakeRect(200, 100, 200, 100));
  EXPECT_EQ(completions, 1);
  app.advance(1);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(ak::animation::runningCount(), 0u);

  // The default duration is a quarter second.
  EXPECT_DOUBLE_EQ(ak::AnimationContext::currentContext()->duration(), 0.25);
  view->animator()->setFrameOrigin({0, 0});
  app.advance(0.2);
  EXPECT_GT(view->frame().origin.x, 0);
  app.advance(0.05);
  EXPECT_EQ(view->frame().origin, ak::MakePoint(0, 0));
}

TEST(Animations, ANewAnimationOfAKeyStopsTheOldOneWhereItStands) {
  pltest::HeadlessApp app;
  auto view = ak::make<ak::View>(MakeRect(0, 0, 100, 100));
  auto recorder = ns::make<StopRecorder>();
  auto first = ak::BasicAnimation::animation();
  first->setDelegate(recorder);
  view->setAnimations({{"alphaValue", first}});
  int completions = 0;
  ak::AnimationContext::runAnimationGroup_completionHandler(
      [&](ak::AnimationContext& context) {
        context.setDuration(0.2);
        view->animator()->setAlphaValue(0);
      },
      [&] { ++completions; });
  app.advance(0.1);
  const double stoppedAt = view->alphaValue();
  EXPECT_NEAR(stoppedAt, 0.5, frameStep(1, 0.2));
  auto second = ak::BasicAnimation::animation();
  second->setDelegate(recorder);
  second->setDuration(0.4);
  view->setAnimations({{"alphaValue", second}});
  view->animator()->setAlphaValue(1);
  EXPECT_EQ(joined(recorder->stops), "NO");
  EXPECT_EQ(completions, 1);  // the first group ended, interrupted
  EXPECT_DOUBLE_EQ(view->alphaValue(), stoppedAt);
  app.advance(0.2);
  EXPECT_NEAR(view->alphaValue(), stoppedAt + (1 - stoppedAt) / 2, frameStep(1 - stoppedAt, 0.4));
  app.advance(0.2);
  EXPECT_DOUBLE_EQ(view->alphaValue(), 1);
  EXPECT_EQ(joined(recorder->stops), "NO, YES");
}

TEST(Animations, AWindowsAlphaSlotAndFrameAnimate) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100));
  auto recorder = ns::make<StopRecorder>();
  auto fade = ak::BasicAnimation::animationWithKeyPath("alphaValue");
  fade->setDuration(0.5);
  fade->setDelegate(recorder);
  window->setAnimations({{"alphaValue", fade}});
  window->animator()->setAlphaValue(0);
  app.advance(0.25);
  EXPECT_NEAR(window->alphaValue(), 0.5, frameStep(1, 0.5));
  app.advance(0.25);
  EXPECT_EQ(window->alphaValue(), 0);
  EXPECT_EQ(joined(recorder->stops), "YES");

  window->setFrame_display_animate(MakeRect(100, 0, 200, 122), true, true);
  app.advance(0.25);
  EXPECT_EQ(window->frame(), MakeRect(100, 0, 200, 122));
}

namespace {

// A bar from the middle to the right edge.
class Pointer : public ak::View {
 public:
  void drawRect(const ak::Rect&) override {
    ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1)->setFill();
    ak::RectFill(MakeRect(50, 45, 50, 10));
  }
};

}  // namespace

TEST(Animations, ALayerRotatingForeverRendersTurnedByItsCurrentAngle) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 200), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  auto pointer = ak::make<Pointer>(MakeRect(50, 50, 100, 100));
  content->addSubview(pointer);
  pointer->setWantsLayer(true);
  pointer->layer()->setAnchorPoint({0.5, 0.5});
  auto spin = ak::BasicAnimation::animationWithKeyPath("transform.rotation.z");
  spin->setFromValue(0);
  spin->setToValue(2 * M_PI);
  spin->setDuration(1);
  spin->setRepeatCount(HUGE_VALF);
  pointer->layer()->addAnimation_forKey(spin, "spin");
  pltest::renderWindow(window, "0s");
  EXPECT_EQ(pltest::windowPixel(window, 140, 100), kRed);
  EXPECT_EQ(pltest::windowPixel(window, 100, 140), kWhite);

  app.advance(0.25);
  EXPECT_NEAR(pointer->layer()->presentationRotation(), M_PI / 2, 1e-9);
  pltest::renderWindow(window, "quarter-second");
  EXPECT_EQ(pltest::windowPixel(window, 100, 140), kRed);  // pointing up now
  EXPECT_EQ(pltest::windowPixel(window, 140, 100), kWhite);

  app.advance(1.0);  // a whole turn later: the same
  EXPECT_NEAR(pointer->layer()->presentationRotation(), M_PI / 2, 1e-6);
  pointer->layer()->removeAnimationForKey("spin");
  window->displayIfNeeded();
  EXPECT_EQ(pltest::windowPixel(window, 140, 100), kRed);
}

TEST(Animations, LayerOpacityAndBackgroundComposite) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 100, 100), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  auto box = ak::make<ak::View>(MakeRect(10, 10, 50, 50));
  content->addSubview(box);
  box->setWantsLayer(true);
  box->layer()->setBackgroundColor(ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 1, 1));
  EXPECT_EQ(pltest::windowPixel(window, 30, 30), kBlue);
  auto fade = ak::BasicAnimation::animationWithKeyPath("opacity");
  fade->setFromValue(1);
  fade->setToValue(0);
  fade->setDuration(1);
  box->layer()->addAnimation_forKey(fade, "fade");
  app.advance(0.5);
  auto mid = pltest::windowPixel(window, 30, 30);
  EXPECT_NEAR(mid.r, 128, 3);
  EXPECT_EQ(mid.b, 255);
  app.advance(0.6);  // finished and removed: the model opacity again
  EXPECT_EQ(pltest::windowPixel(window, 30, 30), kBlue);
  EXPECT_TRUE(box->layer()->animationKeys().empty());
}

TEST(Animations, ALayersShadowFallsByItsOffsetAndCornersAreRounded) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 100, 100), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  auto box = ak::make<ak::View>(MakeRect(10, 20, 50, 50));
  content->addSubview(box);
  box->setWantsLayer(true);
  auto layer = box->layer();
  layer->setBackgroundColor(ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 1, 1));
  layer->setCornerRadius(10);
  layer->setShadowColor(ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 0, 1));
  layer->setShadowOpacity(1);
  layer->setShadowOffset({5, -5});
  layer->setShadowRadius(0);
  pltest::renderWindow(window, "shadow");
  EXPECT_EQ(pltest::windowPixel(window, 35, 45), kBlue);
  EXPECT_EQ(pltest::windowPixel(window, 62, 40),
            (ak::RGBA{0, 0, 0, 255}));  // right of the box, in its shadow
  EXPECT_EQ(pltest::windowPixel(window, 35, 17), (ak::RGBA{0, 0, 0, 255}));  // below it
  EXPECT_EQ(pltest::windowPixel(window, 62, 68), kWhite);                    // the shadow starts lower
  EXPECT_EQ(pltest::windowPixel(window, 10, 69), kWhite);                    // a rounded corner
  // A radius blurs the edge: just outside the hard shadow it is neither white nor black.
  layer->setShadowRadius(4);
  pltest::renderWindow(window, "blurred-shadow");
  auto edge = pltest::windowPixel(window, 66, 40);
  EXPECT_GT(edge.r, 10);
  EXPECT_LT(edge.r, 245);
}
