#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Layer.h"
#include "platform/core/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace {

// The rows (from the bottom of the window) painted in column x of the window.
std::pair<int, int> paintedRowsFromBottom(const ns::Ref<ak::Window>& window, double x, ak::RGBA color) {
  int first = -1, last = -1;
  for (int y = 0; y < int(window->frame().size.height); ++y) {
    if (window->backingStore() && pltest::windowPixel(window, x, y) == color) {
      if (first < 0) first = y;
      last = y;
    }
  }
  return {first, last};
}

}  // namespace

TEST(Views, FillsLandWhereTheFlipSaysAndHitTestingAgrees) {
  struct Case {
    bool flipped;
    int firstRow, lastRow;  // rows from the bottom of the 100-high content
  } cases[] = {{false, 20, 29}, {true, 70, 79}};
  for (const auto& c : cases) {
    pltest::HeadlessApp app;
    auto window = app.window(MakeRect(100, 100, 200, 100), ak::BorderlessWindowMask);
    auto container = swatch(MakeRect(0, 0, 200, 100), kWhite, c.flipped);
    window->setContentView(container);
    auto square = swatch(MakeRect(10, 20, 10, 10), kRed);
    container->addSubview(square);
    pltest::renderWindow(window, c.flipped ? "flipped" : "unflipped");
    EXPECT_EQ(paintedRowsFromBottom(window, 15, kRed), std::make_pair(c.firstRow, c.lastRow)) << c.flipped;
    EXPECT_EQ(pltest::windowPixel(window, 9, c.firstRow), kWhite);
    EXPECT_EQ(pltest::windowPixel(window, 10, c.firstRow), kRed);
    EXPECT_EQ(pltest::windowPixel(window, 20, c.firstRow), kWhite);

    // The window's point in the middle of the square hits it; a point beside it hits the container.
    auto theme = window->themeFrame();
    EXPECT_EQ(theme->hitTest({15, c.firstRow + 5.0}), square) << c.flipped;
    EXPECT_EQ(theme->hitTest({25, c.firstRow + 5.0}), container);
    EXPECT_EQ(theme->hitTest({500, 5}), nullptr);
    square->setHidden(true);
    EXPECT_EQ(theme->hitTest({15, c.firstRow + 5.0}), container);
  }
}

TEST(Views, AutoresizingFollowsTheFlexibleParts) {
  pltest::HeadlessApp app;
  struct Case {
    unsigned mask;
    ak::Rect expected;
  } cases[] = {
      {ak::ViewWidthSizable | ak::ViewMinYMargin, MakeRect(10, 70, 380, 50)},
      {ak::ViewNotSizable, MakeRect(10, 20, 280, 50)},
      {ak::ViewMinXMargin, MakeRect(110, 20, 280, 50)},
      // Height 50 and top margin 130 share the 50 points in proportion.
      {ak::ViewMaxYMargin | ak::ViewHeightSizable, MakeRect(10, 20, 280, 50 + 50.0 * 50 / 180)},
      // Margins of 10 and 10 share the 100 points equally.
      {ak::ViewMinXMargin | ak::ViewMaxXMargin, MakeRect(60, 20, 280, 50)},
  };
  for (const auto& c : cases) {
    auto parent = ak::make<ak::View>(MakeRect(0, 0, 300, 200));
    auto child = ak::make<ak::View>(MakeRect(10, 20, 280, 50));
    child->setAutoresizingMask(c.mask);
    parent->addSubview(child);
    int notes = 0;
    auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        std::string(ak::ViewFrameDidChangeNotification), child, nullptr,
        [&](const ns::Ref<ns::Notification>&) { ++notes; });
    parent->setFrameSize({400, 250});
    ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_EQ(child->frame(), c.expected) << c.mask;
    EXPECT_EQ(notes, c.mask == ak::ViewNotSizable ? 0 : 1) << c.mask;
  }
}

TEST(Views, BadFramesAreRefusedOrClamped) {
  pltest::HeadlessApp app;
  pltest::LogCapture capture(true);
  auto view = ak::make<ak::View>(MakeRect(1, 2, 30, 40));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  view->setFrame(MakeRect(nan, 0, 10, 10));
  view->setFrame(MakeRect(0, 0, std::numeric_limits<double>::infinity(), 10));
  EXPECT_EQ(view->frame(), MakeRect(1, 2, 30, 40));
  view->setFrame(MakeRect(5, 5, -20, 8));
  EXPECT_EQ(view->frame(), MakeRect(5, 5, 0, 8));
  EXPECT_EQ(view->bounds().size, ak::MakeSize(0, 8));
  auto window = app.window(MakeRect(0, 0, 100, 100));
  window->setFrame_display(MakeRect(nan, 0, 100, 100), true);
  window->setFrame_display(MakeRect(0, 0, -5, 50), true);
  EXPECT_EQ(window->frame(), MakeRect(0, 0, 0, 50));
}

namespace {

// Leaves a clip and two saved states behind on purpose.
class LeakyView : public ak::View {
 public:
  void drawRect(const ak::Rect&) override {
    auto ctx = ak::GraphicsContext::currentContext();
    ctx->saveGState();
    ak::GraphicsContext::saveGraphicsState();
    ak::RectClip(MakeRect(0, 0, 1, 1));
    ctx->setAlpha(0.1);
  }
};

}  // namespace

TEST(Views, ADrawRectThatLeavesStatesSavedDoesNotClipItsSiblings) {
  pltest::HeadlessApp app;
  pltest::LogCapture capture(true);
  auto window = app.window(MakeRect(0, 0, 100, 100), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  content->addSubview(ak::make<LeakyView>(MakeRect(0, 0, 50, 50)));
  auto sibling = swatch(MakeRect(60, 60, 20, 20), kBlue);
  content->addSubview(sibling);
  const auto depth = ak::GraphicsContext::graphicsStateDepth();
  pltest::renderWindow(window, "leaky");
  EXPECT_EQ(pltest::windowPixel(window, 70, 70), kBlue);
  EXPECT_EQ(ak::GraphicsContext::graphicsStateDepth(), depth);
  // A second pass (only the sibling dirty) is not clipped either.
  sibling->color = kRed;
  sibling->setNeedsDisplay(true);
  window->displayIfNeeded();
  EXPECT_EQ(pltest::windowPixel(window, 70, 70), kRed);
}

TEST(Views, DisplayRedrawsOnlyWhatWasMarkedAndHonoursAlpha) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  auto left = swatch(MakeRect(10, 10, 30, 30), kRed);
  auto right = swatch(MakeRect(150, 10, 30, 30), kBlue);
  content->addSubview(left);
  content->addSubview(right);
  window->displayIfNeeded();
  const int leftDraws = left->draws, rightDraws = right->draws;
  right->setNeedsDisplay(true);
  window->displayIfNeeded();
  EXPECT_EQ(left->draws, leftDraws);
  EXPECT_EQ(right->draws, rightDraws + 1);
  EXPECT_FALSE(right->needsDisplay());

  right->setAlphaValue(0.5);
  window->displayIfNeeded();
  ak::RGBA blended = pltest::windowPixel(window, 160, 20);
  EXPECT_NEAR(blended.r, 128, 2);
  EXPECT_NEAR(blended.b, 255, 1);
  EXPECT_NEAR(blended.g, 128, 2);
}

namespace {
class OpaqueSwatch : public SwatchView {
 public:
  bool isOpaque() const override { return true; }
};
}  // namespace

// Damage that an opaque view covers whole is drawn from that view on: what lies under it is
// neither cleared nor drawn, what lies over it still is; damage it covers only in part, or seen
// through a half-transparent ancestor, draws everything as before.
TEST(Views, DamageAnOpaqueViewCoversDrawsNothingUnderIt) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  auto under = swatch(MakeRect(0, 0, 120, 100), kBlue);
  auto holder = swatch(MakeRect(10, 10, 100, 80), {0, 255, 0, 255});
  auto picture = ak::make<OpaqueSwatch>(MakeRect(0, 0, 100, 80));
  auto over = swatch(MakeRect(40, 30, 10, 10), kRed);
  content->addSubview(under);
  content->addSubview(holder);
  holder->addSubview(picture);
  holder->addSubview(over);
  window->displayIfNeeded();
  auto draws = [&] {
    return std::vector<int>{content->draws, under->draws, holder->draws, picture->draws, over->draws};
  };
  auto before = draws();
  picture->color = {10, 20, 30, 255};
  picture->setNeedsDisplay(true);
  window->displayIfNeeded();
  EXPECT_EQ(draws(), (std::vector<int>{before[0], before[1], before[2], before[3] + 1, before[4] + 1}));
  EXPECT_EQ(pltest::windowPixel(window, 20, 20), (ak::RGBA{10, 20, 30, 255}));
  EXPECT_EQ(pltest::windowPixel(window, 55, 45), kRed);
  EXPECT_EQ(pltest::windowPixel(window, 115, 50), kBlue);

  // Part of the damage lies beside the opaque view.
  before = draws();
  window->invalidateRect(MakeRect(100, 40, 20, 20));
  window->displayIfNeeded();
  EXPECT_EQ(draws(),
            (std::vector<int>{before[0] + 1, before[1] + 1, before[2] + 1, before[3] + 1, before[4]}));
  EXPECT_EQ(pltest::windowPixel(window, 115, 50), kBlue);

  // Seen through a half-transparent holder, what lies under it shows and is drawn.
  holder->setAlphaValue(0.5);
  before = draws();
  picture->setNeedsDisplay(true);
  window->displayIfNeeded();
  EXPECT_EQ(draws()[1], before[1] + 1);
  EXPECT_EQ(draws()[2], before[2] + 1);
}

TEST(Views, ConversionsAndTreeChangesKeepTheirInvariants) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 300, 200), ak::BorderlessWindowMask);
  auto flipped = swatch(MakeRect(50, 40, 200, 100), kWhite, true);
  window->contentView()->addSubview(flipped);
  auto inner = ak::make<ak::View>(MakeRect(10, 10, 20, 20));
  flipped->addSubview(inner);
  // The inner view's origin (its bottom-left, unflipped) sits 10 below the flipped view's top
  // plus its own height: window y = 40 + 100 - 10 - 20 = 110.
  EXPECT_EQ(inner->convertPoint_toView({0, 0}, nullptr), ak::MakePoint(60, 110));
  EXPECT_EQ(inner->convertPoint_fromView({60, 110}, nullptr), ak::MakePoint(0, 0));
  EXPECT_EQ(inner->convertRect_toView(inner->bounds(), flipped.get()), MakeRect(10, 10, 20, 20));
  EXPECT_EQ(inner->window(), window);
  // Moving the bounds origin scrolls the contents; a bounds half the frame's size doubles them.
  flipped->setBoundsOrigin({0, 5});
  EXPECT_EQ(inner->convertPoint_toView({0, 0}, nullptr), ak::MakePoint(60, 115));
  flipped->setBoundsOrigin({0, 0});
  flipped->setBoundsSize({100, 50});
  EXPECT_EQ(inner->convertPoint_toView({0, 0}, nullptr), ak::MakePoint(70, 80));
  flipped->setFrameSize({400, 200});
  EXPECT_EQ(flipped->bounds().size, ak::MakeSize(200, 100));
  flipped->setFrame(MakeRect(50, 40, 200, 100));
  flipped->setBoundsSize({200, 100});
  EXPECT_EQ(inner->convertPoint_toView({0, 0}, nullptr), ak::MakePoint(60, 110));

  // A view cannot become its own ancestor's subview; moving keeps one parent.
  flipped->addSubview(flipped);
  inner->addSubview(flipped);
  EXPECT_EQ(flipped->superview(), window->contentView());
  window->contentView()->addSubview(inner);
  EXPECT_EQ(inner->superview(), window->contentView());
  EXPECT_TRUE(flipped->subviews().empty());
  inner->removeFromSuperview();
  EXPECT_EQ(inner->window(), nullptr);
  EXPECT_EQ(inner->superview(), nullptr);
}

namespace {

class HookView : public ak::View {
 public:
  std::vector<std::string> log;
  void viewWillMoveToWindow(const ns::Ref<ak::Window>& window) override {
    log.push_back(window ? "willMoveToWindow" : "willMoveToNoWindow");
  }
  void viewDidMoveToWindow() override { log.push_back(window() ? "didMoveToWindow" : "didMoveToNoWindow"); }
  void viewDidMoveToSuperview() override { log.push_back("didMoveToSuperview"); }
  void viewWillStartLiveResize() override { log.push_back("willStartLiveResize"); }
  void viewDidEndLiveResize() override {
    log.push_back("didEndLiveResize " + std::to_string(inLiveResize()));
  }
  void updateTrackingAreas() override { log.push_back("updateTrackingAreas"); }
};

}  // namespace

TEST(Views, MoveLiveResizeAndTrackingHooksComeInOrder) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100), ak::BorderlessWindowMask);
  auto view = ak::make<HookView>(MakeRect(0, 0, 50, 50));
  window->contentView()->addSubview(view);
  window->displayIfNeeded();  // a pass brings the tracking update
  window->beginLiveResize();
  EXPECT_TRUE(view->inLiveResize());
  window->endLiveResize();
  view->setHidden(true);
  window->displayIfNeeded();
  view->removeFromSuperview();
  EXPECT_EQ(
      joined(view->log),
      "willMoveToWindow, didMoveToWindow, didMoveToSuperview, updateTrackingAreas, willStartLiveResize, "
      "didEndLiveResize 0, updateTrackingAreas, willMoveToNoWindow, didMoveToNoWindow, didMoveToSuperview");
  view->setAppearance(ns::make<ns::Object>());
  EXPECT_TRUE(view->appearance());  // stored as the emulated system does
}

TEST(Views, ADrawingThreadMayDisplayAViewWhileTheMainThreadDraws) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100), ak::BorderlessWindowMask);
  auto content = whiteContent(window);
  auto spinner = swatch(MakeRect(10, 10, 30, 30), kBlue);
  auto other = swatch(MakeRect(100, 10, 30, 30), kRed);
  content->addSubview(spinner);
  content->addSubview(other);
  window->displayIfNeeded();
  std::thread drawer([&] {
    for (int i = 0; i < 50; ++i) spinner->display();
  });
  for (int i = 0; i < 50; ++i) {
    other->setNeedsDisplay(true);
    window->displayIfNeeded();
  }
  drawer.join();
  EXPECT_EQ(pltest::windowPixel(window, 20, 20), kBlue);
  EXPECT_EQ(pltest::windowPixel(window, 110, 20), kRed);
  EXPECT_GE(spinner->draws, 51);
}
