#include <gtest/gtest.h>

#include "platform/appkit/Make.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/ui/windows/WindowsTestSupport.h"
#include "ui/TitlebarView.h"
#include "ui/TitlebarWindow.h"
#include "ui/TitlebarWindowDelegateProxy.h"
#include "ui/WindowButton.h"

using ak::MakeRect;
using namespace windows_test;

namespace {

constexpr unsigned long kStyle =
    ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask | ak::ResizableWindowMask;

ns::Ref<TitlebarWindow> shownWindow(const ak::Rect& content) {
  auto w = ak::make<TitlebarWindow>(content, kStyle);
  w->makeKeyAndOrderFront(nullptr);
  return w;
}

// A real delegate that would hang sheets at y 10 and counts resizes.
class SheetDelegate : public ns::Object {
 public:
  int resizes = 0;
  void windowDidResize(ns::Ref<ns::Notification>) { ++resizes; }
  ak::Rect positionSheet(ns::Ref<ak::Window>, ns::Ref<ak::Window>, ak::Rect rect) {
    rect.origin.y = 10;
    return rect;
  }
};

}  // namespace

PL_CLASS_NAMED(SheetDelegate, "UIWindowsSheetDelegate", ns::Object) {
  cls.method<&SheetDelegate::windowDidResize>("windowDidResize:");
  cls.method<&SheetDelegate::positionSheet>("window:willPositionSheet:usingRect:");
}

TEST(TitlebarWindow, MeasuresThePlatformBarAndLaysOutBarButtonsAndContent) {
  pltest::HeadlessApp app;
  auto w = shownWindow(MakeRect(100, 100, 400, 300));
  EXPECT_EQ(w->frame().size.height, 322);
  EXPECT_EQ(w->titleBarHeight(), 22);
  EXPECT_EQ(w->cachedTitleBarHeight(), 22);
  EXPECT_EQ(w->trafficLightButtonsLeftMargin(), 7);
  EXPECT_EQ(w->trafficLightSeparation(), 6);

  w->setCenterTrafficLightButtons(false);
  w->setTitleBarHeight(55);
  EXPECT_EQ(w->contentView()->frame(), MakeRect(0, 0, 400, 267));
  EXPECT_EQ(w->titleBarContainer()->frame(), MakeRect(0, 267, 400, 55));
  EXPECT_EQ(w->titleBarView()->frame(), MakeRect(0, 0, 400, 55));
  for (auto [kind, x] : {std::pair{ak::WindowButton::CloseButton, 7.0},
                         {ak::WindowButton::MiniaturizeButton, 27.0},
                         {ak::WindowButton::ZoomButton, 47.0}}) {
    const ak::Rect f = w->standardWindowButton(kind)->frame();
    EXPECT_EQ(f.origin.x, x);
    EXPECT_EQ(ak::MaxY(f), 322 - 3) << "3 points under the bar's top";
  }
  // A style change keeps the custom layout.
  w->setStyleMask(w->styleMask() | ak::ResizableWindowMask);
  EXPECT_EQ(w->contentView()->frame(), MakeRect(0, 0, 400, 267));
  EXPECT_EQ(ak::MaxY(w->standardWindowButton(ak::WindowButton::CloseButton)->frame()), 322 - 3);
  // The same height again changes nothing, not even the cached one.
  w->setTitleBarHeight(55);
  EXPECT_EQ(w->cachedTitleBarHeight(), 55);

  // The full-screen button's right margin is taken from the first layout, then set.
  w->setCollectionBehavior(ak::WindowCollectionBehaviorFullScreenPrimary);
  w->setTitle("margin");
  EXPECT_TRUE(w->fullScreenButtonRightMarginIsSet());
  w->setFullScreenButtonRightMargin(-30);
  auto full = w->standardWindowButton(ak::WindowButton::FullScreenButton);
  EXPECT_EQ(full->frame().origin.x, 400 - full->frame().size.width + 30);

  // Stacked 14-point buttons with separation 3 span 14 * 3 + 2 * 1.
  for (auto setter : {&TitlebarWindow::setCloseButton, &TitlebarWindow::setMinimizeButton,
                      &TitlebarWindow::setZoomButton}) {
    (w.get()->*setter)(WindowButton::windowButtonWithSize_groupIdentifier({14, 14}, "stacked"));
  }
  w->setTrafficLightSeparation(3);
  w->setVerticalTrafficLightButtons(true);
  EXPECT_EQ(ak::MaxY(w->closeButton()->frame()) - w->zoomButton()->frame().origin.y, 44);
  EXPECT_EQ(w->zoomButton()->frame().origin.y, 322 - 3 - 44);
  EXPECT_TRUE(w->standardWindowButton(ak::WindowButton::CloseButton)->isHidden());

  w->setTitleBarHeight(0);
  EXPECT_EQ(w->titleBarContainer()->frame().size.height, 0);
  EXPECT_EQ(w->contentView()->frame().size.height, 322);
}

TEST(TitlebarWindow, SystemFullScreenCollapsesTheBarOfThisWindowOnly) {
  pltest::HeadlessApp app;
  auto w = shownWindow(MakeRect(100, 100, 400, 300));
  auto other = shownWindow(MakeRect(600, 100, 300, 200));
  w->setHideTitleBarInFullScreen(true);
  w->setTitleBarHeight(55);

  other->toggleFullScreen(nullptr);
  EXPECT_EQ(w->titleBarHeight(), 55) << "another window's full screen leaves this bar alone";
  other->toggleFullScreen(nullptr);

  w->toggleFullScreen(nullptr);
  EXPECT_EQ(w->titleBarHeight(), 0);
  EXPECT_EQ(w->cachedTitleBarHeight(), 55);
  EXPECT_TRUE(w->titleBarView()->isHidden());
  EXPECT_EQ(w->contentView()->frame().size.height, w->frame().size.height);
  w->setTitleBarHeight(0);
  EXPECT_EQ(w->cachedTitleBarHeight(), 55);
  w->toggleFullScreen(nullptr);
  EXPECT_EQ(w->titleBarHeight(), 55);
  EXPECT_FALSE(w->titleBarView()->isHidden());
  EXPECT_EQ(w->contentView()->frame().size.height, 267);
}

TEST(TitlebarWindow, DrawsGradientSeparatorNoiseAndTitle) {
  pltest::HeadlessApp app;
  app.app()->activateIgnoringOtherApps(true);
  auto w = shownWindow(MakeRect(100, 100, 500, 300));
  w->setTitleBarHeight(55);
  w->setTitle("Pelorin Windows");
  auto render = [&](const std::string& name) {
    auto canvas = std::make_unique<pltest::Canvas>(500, 55);
    w->titleBarView()->drawRect(w->titleBarView()->bounds());
    canvas->save(name);
    return canvas;
  };
  {
    auto c = render("active");
    EXPECT_TRUE(pltest::pixelNear(c->rep(), 250, 54, {104, 104, 104, 255}, 2)) << "the separator";
    EXPECT_GE(c->at(250, 53).r, c->at(250, 52).r + 5) << "the highlight above the separator";
    const RowStats top = rowStats(c->rep(), 4, 100, 400);
    EXPECT_NEAR(top.mean, 230, 6);
    EXPECT_GT(top.variance, 0) << "noise";
    EXPECT_EQ(darkPixels(c->rep(), 100, 400, 1, 30), 0) << "no title unless asked for";
  }
  w->setShowsTitle(true);
  EXPECT_GT(darkPixels(render("title")->rep(), 100, 400, 1, 30), 20);

  // Inactive: no noise.
  app.app()->deactivate();
  EXPECT_EQ(rowStats(render("inactive")->rep(), 30, 100, 400).variance, 0);
  app.app()->activateIgnoringOtherApps(true);

  // Full screen: black behind the bar, and the title only when asked for there.
  w->setStyleMask(w->styleMask() | ak::FullScreenWindowMask);
  {
    auto c = render("fullscreen");
    EXPECT_TRUE(pltest::pixelNear(c->rep(), 250, 0, {0, 0, 0, 255}, 0));
    EXPECT_EQ(darkPixels(c->rep(), 100, 400, 1, 30), 0);
  }
  w->setShowsTitleInFullscreen(true);
  EXPECT_GT(darkPixels(render("fullscreen-title")->rep(), 100, 400, 1, 30), 20);
}

TEST(TitlebarWindow, ADrawingBlockReplacesTheDefaultDrawing) {
  pltest::HeadlessApp app;
  app.app()->activateIgnoringOtherApps(true);
  auto w = shownWindow(MakeRect(100, 100, 500, 300));
  w->setTitleBarHeight(55);
  std::vector<bool> calls;
  w->setTitleBarDrawingBlock([&](bool active, ak::Rect rect, const ak::BezierPath& path) {
    calls.push_back(active);
    EXPECT_EQ(rect, MakeRect(0, 0, 500, 55));
    path.addClip();
    ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1)->setFill();
    ak::RectFill(rect);
  });
  pltest::Canvas canvas(500, 55);
  w->titleBarView()->drawRect(w->titleBarView()->bounds());
  EXPECT_EQ(calls, std::vector<bool>{true});
  EXPECT_EQ(canvas.at(0, 0).a, 0) << "outside the rounded corner";
  EXPECT_TRUE(pltest::pixelNear(canvas.rep(), 250, 30, {255, 0, 0, 255}));
}

TEST(TitlebarWindow, TheDelegateProxyPlacesSheetsAndForwardsTheRest) {
  pltest::HeadlessApp app;
  auto w = shownWindow(MakeRect(100, 100, 400, 300));
  w->setTitleBarHeight(55);
  auto real = ns::make<SheetDelegate>();
  w->setDelegate(real);
  auto proxy = w->delegateProxy();
  EXPECT_EQ(w->delegate(), real);
  EXPECT_EQ(w->ak::Window::delegate(), proxy);

  auto sheet = ak::make<ak::Window>(MakeRect(0, 0, 200, 100), ak::TitledWindowMask);
  EXPECT_EQ(w->sheetPositionRect(sheet).origin.y, 322 - 55);

  w->setContentSize({420, 300});
  EXPECT_EQ(real->resizes, 1);

  EXPECT_TRUE(ns::respondsToSelector(proxy, ns::Sel("windowDidResize:")));
  EXPECT_FALSE(ns::respondsToSelector(proxy, ns::Sel("windowDidMiniaturize:")));
  auto note = ns::make<ns::Notification>("NSWindowDidMiniaturizeNotification", w);
  EXPECT_NO_THROW(ns::send(proxy, ns::Sel("windowDidMiniaturize:"), note)) << "dropped";
  EXPECT_TRUE(ns::send<bool>(proxy, ns::Sel("isKindOfClass:"), ns::object_getClass(real)));

  w->setDelegate(nullptr);
  EXPECT_FALSE(ns::respondsToSelector(proxy, ns::Sel("windowDidResize:")));
  EXPECT_TRUE(ns::respondsToSelector(proxy, ns::Sel("window:willPositionSheet:usingRect:")));
  EXPECT_FALSE(ns::send<bool>(proxy, ns::Sel("isKindOfClass:"), ns::object_getClass(real)));
}

TEST(TitlebarWindow, DoubleClickMinimisesOnlyWhenTheUserAskedForIt) {
  pltest::HeadlessApp app;
  auto w = shownWindow(MakeRect(100, 100, 400, 300));
  w->setTitleBarHeight(55);
  auto doubleClick = [&] {
    pltest::postMouse(w, ak::EventType::LeftMouseDown, {200, 300}, 0, 2);
    pltest::postMouse(w, ak::EventType::LeftMouseUp, {200, 300}, 0, 2);
    app.dispatchQueued();
  };
  doubleClick();
  EXPECT_FALSE(w->isMiniaturized());
  ns::UserDefaults::standardUserDefaults()->setBool_forKey(false, "AppleMiniaturizeOnDoubleClick");
  doubleClick();
  EXPECT_FALSE(w->isMiniaturized());
  ns::UserDefaults::standardUserDefaults()->setBool_forKey(true, "AppleMiniaturizeOnDoubleClick");
  doubleClick();
  EXPECT_TRUE(w->isMiniaturized());
}

TEST(TitlebarWindow, DraggingTheBarMovesAWindowThatIsNotMovableByItsBackground) {
  pltest::HeadlessApp app;
  auto w = shownWindow(MakeRect(100, 100, 400, 300));
  w->setTitleBarHeight(55);
  w->setMovableByWindowBackground(false);
  const ak::Point p{200, 300};
  auto dragThrice = [&] {
    pltest::drag(w, {p, p, {p.x + 10, p.y - 5}, {p.x + 20, p.y - 10}, {p.x + 30, p.y - 15}});
    app.dispatchQueued();
  };
  const ak::Point start = w->frame().origin;
  dragThrice();
  EXPECT_EQ(w->frame().origin.x, start.x + 30);
  EXPECT_EQ(w->frame().origin.y, start.y - 15);

  w->toggleFullScreen(nullptr);
  const ak::Rect full = w->frame();
  pltest::drag(w, {{200, 880}, {200, 880}, {210, 875}, {220, 870}});
  app.dispatchQueued();
  EXPECT_EQ(w->frame(), full);
}
