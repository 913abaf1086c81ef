#include <gtest/gtest.h>

#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/ui/windows/WindowsTestSupport.h"
#include "ui/TitlebarWindow.h"
#include "ui/UINotifications.h"
#include "ui/WindowButton.h"

using ak::MakeRect;
using namespace windows_test;

namespace {

struct Dots {
  ns::Ref<WindowButton> close, minimize, zoom;
  std::vector<ns::Ref<WindowButton>> all() const { return {close, minimize, zoom}; }
};

// The main window's traffic lights: 12-point dots of the default group.
Dots installDots(const ns::Ref<TitlebarWindow>& w) {
  auto dot = [](const std::string& colour) {
    auto b = WindowButton::windowButtonWithSize_groupIdentifier({12, 12}, std::nullopt);
    b->setActiveImage(ak::Image::imageNamed(colour + "_dot"));
    b->setActiveNotKeyWindowImage(ak::Image::imageNamed("black_dot"));
    b->setInactiveImage(ak::Image::imageNamed("black_dot"));
    b->setRolloverImage(ak::Image::imageNamed(colour + "_dot_over"));
    return b;
  };
  Dots d{dot("red"), dot("yellow"), dot("green")};
  w->setCloseButton(d.close);
  w->setMinimizeButton(d.minimize);
  w->setZoomButton(d.zoom);
  w->setCenterTrafficLightButtons(false);
  w->setTitleBarHeight(55);
  return d;
}

// The rendered centre of the button against the centre of the shipped image.
testing::AssertionResult showsImage(const ns::Ref<ak::Window>& w, const ns::Ref<WindowButton>& b,
                                    const std::string& name) {
  auto image = ak::Image::imageNamed(name);
  if (!image) return testing::AssertionFailure() << "no image " << name;
  if (b->image() != image) return testing::AssertionFailure() << "the button's image is not " << name;
  const ak::Rect f = b->frame();
  const ak::RGBA drawn = pltest::windowPixel(w, f.origin.x + 6, f.origin.y + 6);
  const ak::RGBA shipped = image->colorAtX_y(6, 5);
  if (std::abs(drawn.r - shipped.r) > 3 || std::abs(drawn.g - shipped.g) > 3 ||
      std::abs(drawn.b - shipped.b) > 3)
    return testing::AssertionFailure()
           << name << ": drew " << pltest::describe(drawn) << ", the file has " << pltest::describe(shipped);
  return testing::AssertionSuccess();
}

}  // namespace

TEST(WindowButton, HoveringOneTrafficLightShowsTheRollOverOfAllThree) {
  ShippedResources resources;
  pltest::HeadlessApp app;
  WindowButtonGroup::groupWithIdentifier(std::nullopt)->resetMouseCaptures();
  auto w =
      ak::make<TitlebarWindow>(MakeRect(100, 100, 400, 300),
                               ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask);
  w->makeKeyAndOrderFront(nullptr);
  const Dots dots = installDots(w);
  EXPECT_EQ(dots.close->frame(), MakeRect(7, 322 - 3 - 12, 12, 12));
  EXPECT_EQ(dots.minimize->frame().origin.x, 7 + 12 + 6);
  const char* colours[] = {"red", "yellow", "green"};

  const ak::Rect c = dots.close->frame();
  pltest::moveMouse(w, {c.origin.x - 3, ak::MidY(c)});  // inside the 4-point margin
  app.dispatchQueued();
  pltest::renderWindow(w, "rollover");
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(showsImage(w, dots.all()[i], std::string(colours[i]) + "_dot_over"));

  pltest::moveMouse(w, {200, 100});
  app.dispatchQueued();
  pltest::renderWindow(w, "restored");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(showsImage(w, dots.all()[i], std::string(colours[i]) + "_dot"));
  EXPECT_EQ(WindowButtonGroup::groupWithIdentifier(std::nullopt)->numberOfCaptures(), 0);

  // Another key window: the grey dots; a disabled button: its inactive image.
  auto other = app.window(MakeRect(600, 100, 200, 100));
  EXPECT_FALSE(w->isKeyWindow());
  pltest::renderWindow(w, "not-key");
  for (const auto& b : dots.all()) EXPECT_TRUE(showsImage(w, b, "black_dot"));
  w->makeKeyAndOrderFront(nullptr);
  EXPECT_EQ(dots.zoom->image(), ak::Image::imageNamed("green_dot"));
  dots.zoom->setEnabled(false);
  EXPECT_EQ(dots.zoom->image(), dots.zoom->inactiveImage());

  // Full screen hides the buttons and forgets any capture.
  WindowButtonGroup::groupWithIdentifier(std::nullopt)->didCaptureMousePointer();
  w->toggleFullScreen(nullptr);
  EXPECT_TRUE(dots.close->isHidden());
  EXPECT_EQ(WindowButtonGroup::groupWithIdentifier(std::nullopt)->numberOfCaptures(), 0);
  w->toggleFullScreen(nullptr);
  EXPECT_FALSE(dots.close->isHidden());
}

TEST(WindowButton, TheCustomButtonsActOnTheirWindow) {
  pltest::HeadlessApp app;
  auto w =
      ak::make<TitlebarWindow>(MakeRect(100, 100, 400, 300),
                               ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask);
  w->makeKeyAndOrderFront(nullptr);
  const Dots dots = installDots(w);
  // Setting the same button again neither removes nor re-adds it.
  auto superview = dots.minimize->superview();
  w->setMinimizeButton(dots.minimize);
  EXPECT_EQ(dots.minimize->superview(), superview);
  EXPECT_EQ(dots.minimize->buttonCell()->highlightsBy(), ak::ContentsCellMask);

  pltest::click(w, {ak::MidX(dots.minimize->frame()), ak::MidY(dots.minimize->frame())});
  app.dispatchQueued();
  EXPECT_TRUE(w->isMiniaturized());
  w->deminiaturize(nullptr);
  pltest::click(w, {ak::MidX(dots.close->frame()), ak::MidY(dots.close->frame())});
  app.dispatchQueued();
  EXPECT_TRUE(w->isClosed());

  // Replacing a button takes the old one out of the frame view.
  w->setCloseButton(nullptr);
  EXPECT_EQ(dots.close->superview(), nullptr);
}

TEST(WindowButtonGroup, CountsCapturesAndPostsOnlyRealChanges) {
  pltest::HeadlessApp app;
  auto group = WindowButtonGroup::groupWithIdentifier("counting");
  EXPECT_EQ(WindowButtonGroup::groupWithIdentifier(std::nullopt),
            WindowButtonGroup::groupWithIdentifier(std::string("com.ordel42.zeravozezi.WindowButtonGroup")));
  EXPECT_NE(group, WindowButtonGroup::groupWithIdentifier(std::nullopt));
  int posts = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(WindowButtonGroupDidUpdateRolloverStateNotification), group, nullptr,
      [&](const ns::Ref<ns::Notification>&) { ++posts; });
  group->setNumberOfCaptures(-1);
  group->didReleaseMousePointer();
  EXPECT_EQ(group->numberOfCaptures(), 0);
  EXPECT_EQ(posts, 0);
  group->didCaptureMousePointer();
  group->didCaptureMousePointer();
  EXPECT_TRUE(group->shouldDisplayRollOver());
  group->setNumberOfCaptures(2);
  EXPECT_EQ(posts, 2);
  group->resetMouseCaptures();
  EXPECT_FALSE(group->shouldDisplayRollOver());
  EXPECT_EQ(posts, 3);
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
}
