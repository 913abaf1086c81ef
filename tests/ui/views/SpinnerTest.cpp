#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/core/Exception.h"
#include "platform/testing/Pump.h"
#include "tests/ui/views/UiViewsTestSupport.h"
#include "ui/ExternalLibrary/SpinningProgressIndicator/SpinningProgressIndicator.h"

using ak::MakeRect;
using uiviews_test::AppWithResources;

namespace spinner_test {

constexpr double kStep = 0.05 + 1e-6;  // one timer interval, past its fire date

struct SpinnerFixture {
  explicit SpinnerFixture(bool virtualClock = true) : fixture(virtualClock) {
    window = fixture.app.window(MakeRect(0, 0, 100, 100), ak::BorderlessWindowMask);
    window->setBackgroundColor(ak::colors::whiteColor());
    spinner = ak::make<SpinningProgressIndicator>(MakeRect(30, 30, 40, 40));
  }
  AppWithResources fixture;
  ns::Ref<ak::Window> window;
  ns::Ref<SpinningProgressIndicator> spinner;
};

// The window pixel at `radius` from the spinner's centre, `hours` round the clock.
ak::RGBA atClock(const ns::Ref<ak::Window>& window, double hours, double radius) {
  const double angle = hours / 12.0 * 2 * M_PI;
  return pltest::windowPixel(window, 50 + radius * std::sin(angle), 50 + radius * std::cos(angle));
}

}  // namespace spinner_test

using spinner_test::kStep;
using spinner_test::SpinnerFixture;

TEST(SpinningProgressIndicator, StartsInTheDocumentedState) {
  SpinnerFixture f;
  auto& s = *f.spinner;
  EXPECT_EQ(s.position(), 0);
  EXPECT_EQ(s.numFins(), 12);
  EXPECT_EQ(s.finAlphas(), std::vector<double>(12, 0.0));
  EXPECT_FALSE(s.isAnimating());
  EXPECT_TRUE(s.color()->isEqual(ak::colors::blackColor().get()));
  EXPECT_FALSE(s.drawsBackground());
  EXPECT_TRUE(s.isDisplayedWhenStopped());
  EXPECT_TRUE(s.usesThreadedAnimation());
  EXPECT_TRUE(s.isIndeterminate());
  EXPECT_EQ(s.doubleValue(), 0.0);
  EXPECT_EQ(s.maxValue(), 100.0);
  s.setStyle(1);
  try {
    s.setStyle(2);
    ADD_FAILURE() << "a non-spinning style was accepted";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), ns::NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Non-spinning styles not available.");
  }
}

TEST(SpinningProgressIndicator, AStoppedTimerAnimationFadesOutOverItsSteps) {
  struct Case {
    bool displayedWhenStopped;
    int steps;  // until the fins rest
  };
  for (const auto& c : {Case{false, 25}, Case{true, 12}}) {
    SCOPED_TRACE(c.displayedWhenStopped ? "displayed when stopped" : "hidden when stopped");
    SpinnerFixture f;
    auto& s = *f.spinner;
    s.setUsesThreadedAnimation(false);
    s.setDisplayedWhenStopped(c.displayedWhenStopped);
    EXPECT_EQ(s.isHidden(), !c.displayedWhenStopped);
    f.window->contentView()->addSubview(f.spinner);
    s.startAnimation(nullptr);
    EXPECT_FALSE(s.isHidden());
    ASSERT_TRUE(s.animationTimer());
    EXPECT_FALSE(s.animationThread());
    EXPECT_EQ(s.position(), 1);
    f.fixture.app.advance(kStep);
    EXPECT_EQ(s.position(), 0);
    EXPECT_EQ(s.finAlphas()[0], 1.0);
    f.fixture.app.advance(kStep);
    EXPECT_EQ(s.position(), 11);
    EXPECT_EQ(s.finAlphas()[11], 1.0);
    EXPECT_DOUBLE_EQ(s.finAlphas()[0], 0.85);
    pltest::renderWindow(f.window, c.displayedWhenStopped ? "spinning" : "spinning-hides");

    s.stopAnimation(nullptr);
    EXPECT_TRUE(s.isFadingOut());
    for (int step = 1; step < c.steps; ++step) {
      f.fixture.app.advance(kStep);
      ASSERT_TRUE(s.isAnimating()) << "step " << step;
    }
    f.fixture.app.advance(kStep);
    EXPECT_FALSE(s.isAnimating());
    EXPECT_FALSE(s.animationTimer());
    EXPECT_EQ(s.isHidden(), !c.displayedWhenStopped);
    if (c.displayedWhenStopped) {
      // Twelve fins at alpha 0.15 of black on white.
      pltest::renderWindow(f.window, "stopped");
      for (int hour = 0; hour < 12; ++hour) {
        auto p = spinner_test::atClock(f.window, hour, 13);
        EXPECT_NEAR(p.r, 255 * 0.85, 8) << "fin at " << hour << " o'clock";
      }
      EXPECT_GT(spinner_test::atClock(f.window, 0.5, 13).r, 240);  // between two fins
    }
    const int position = s.position();
    f.fixture.app.advance(1.0);
    EXPECT_EQ(s.position(), position);
  }
}

TEST(SpinningProgressIndicator, TheLeadFinRunsClockwise) {
  SpinnerFixture f;
  f.spinner->setUsesThreadedAnimation(false);
  f.window->contentView()->addSubview(f.spinner);
  f.spinner->startAnimation(nullptr);
  f.fixture.app.advance(kStep);
  f.fixture.app.advance(kStep);  // lead fin 11: one step clockwise from twelve o'clock
  pltest::renderWindow(f.window, "lead-fin");
  EXPECT_LT(spinner_test::atClock(f.window, 1, 13).r, 40);
  EXPECT_LT(spinner_test::atClock(f.window, 0, 13).r, 90);  // the one before, at 0.85
  EXPECT_GT(spinner_test::atClock(f.window, 11, 13).r, 200);
}

TEST(SpinningProgressIndicator, ADeterminateValueDrawsAPieFromTwelveOClock) {
  SpinnerFixture f;
  auto& s = *f.spinner;
  s.setUsesThreadedAnimation(false);
  f.window->contentView()->addSubview(f.spinner);
  s.startAnimation(nullptr);
  s.setDoubleValue(25);
  EXPECT_FALSE(s.isIndeterminate());
  EXPECT_TRUE(s.isFadingOut());  // the spinning fades out
  pltest::renderWindow(f.window, "quarter");
  for (double hours : {0.5, 1.5, 2.5}) EXPECT_LT(spinner_test::atClock(f.window, hours, 10).r, 40) << hours;
  for (double hours : {3.5, 6.0, 9.0, 11.5})
    EXPECT_GT(spinner_test::atClock(f.window, hours, 10).r, 220) << hours;
  // The circle is stroked all round.
  EXPECT_LT(spinner_test::atClock(f.window, 6, 18.55).r, 200);

  // A determinate indicator does not start.
  for (int i = 0; i < 30; ++i) f.fixture.app.advance(kStep);
  EXPECT_FALSE(s.isAnimating());
  s.startAnimation(nullptr);
  EXPECT_FALSE(s.isAnimating());
}

TEST(SpinningProgressIndicator, OutOfAWindowItCountsAsAnimatingAndStartsWhenPutInOne) {
  SpinnerFixture f;
  auto& s = *f.spinner;
  s.setUsesThreadedAnimation(false);
  s.startAnimation(nullptr);
  EXPECT_TRUE(s.isAnimating());
  EXPECT_FALSE(s.animationTimer());
  EXPECT_FALSE(s.animationThread());
  f.fixture.app.advance(0.5);
  EXPECT_EQ(s.position(), 1);

  f.window->contentView()->addSubview(f.spinner);
  EXPECT_TRUE(s.animationTimer());
  f.fixture.app.advance(kStep);
  EXPECT_EQ(s.position(), 0);

  // Leaving the window stops everything.
  f.spinner->removeFromSuperview();
  EXPECT_FALSE(s.isAnimating());
  EXPECT_FALSE(s.animationTimer());
}

TEST(SpinningProgressIndicator, ThreadedAnimationStepsOnItsThreadAndEndsWithIt) {
  SpinnerFixture f(/*virtualClock=*/false);
  auto& s = *f.spinner;
  s.setColor(ak::colors::redColor());
  f.window->contentView()->addSubview(f.spinner);
  s.startAnimation(nullptr);
  auto thread = s.animationThread();
  ASSERT_TRUE(thread);
  EXPECT_FALSE(s.animationTimer());
  // The main thread draws the window while the animation thread steps and draws the spinner.
  std::vector<int> seen;
  ASSERT_TRUE(pltest::pumpUntil([&] {
    f.window->display();
    const int position = s.position();
    if (seen.empty() || seen.back() != position) seen.push_back(position);
    return seen.size() >= 4;
  }));
  s.stopAnimation(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] {
    f.window->display();
    return !s.isAnimating();
  }));
  EXPECT_TRUE(thread->waitUntilFinished(0.1));
  EXPECT_FALSE(s.animationThread());
  for (double alpha : s.finAlphas()) EXPECT_NEAR(alpha, 0.15, 0.011);

  // Taken out of its window, the view's thread ends at once.
  s.startAnimation(nullptr);
  thread = s.animationThread();
  ASSERT_TRUE(thread);
  ASSERT_TRUE(pltest::pumpUntil([&] { return s.position() != 1; }));
  f.spinner->removeFromSuperview();
  EXPECT_TRUE(thread->waitUntilFinished(0.1));
  EXPECT_FALSE(s.isAnimating());

  // Switching modes while animating moves the animation to the timer at once.
  f.window->contentView()->addSubview(f.spinner);
  s.startAnimation(nullptr);
  thread = s.animationThread();
  ASSERT_TRUE(thread);
  s.setUsesThreadedAnimation(false);
  EXPECT_TRUE(thread->waitUntilFinished(0.1));
  EXPECT_TRUE(s.animationTimer());
  EXPECT_TRUE(s.isAnimating());
}

TEST(SpinningProgressIndicator, NoAnimationThreadOutlivesTheView) {
  SpinnerFixture f(/*virtualClock=*/false);
  auto window = f.fixture.app.window(MakeRect(200, 0, 100, 100), ak::BorderlessWindowMask);
  auto spinner = ak::make<SpinningProgressIndicator>(MakeRect(30, 30, 40, 40));
  window->contentView()->addSubview(spinner);
  spinner->startAnimation(nullptr);
  auto thread = spinner->animationThread();
  ASSERT_TRUE(thread);
  ASSERT_TRUE(pltest::pumpUntil([&] { return spinner->position() != 1; }));
  ns::Weak<SpinningProgressIndicator> weak = spinner;
  spinner.reset();
  window->close();
  window.reset();
  ASSERT_TRUE(pltest::pumpUntil([&] { return weak.expired(); }));
  EXPECT_TRUE(thread->waitUntilFinished(0.1));
}
