#include "platform/appkit/gtk/Presenter.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>

#include "platform/appkit/Color.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/WindowMetrics.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/testing/gtk/Screen.h"

// Last: Xlib's macros would clash with names in the headers above.
#include <gdk/gdkx.h>

namespace {

using ak::MakeRect;
using pltest::OnScreenApp;
namespace xtest = pltest::xtest;

// A filled view that records the mouse downs it gets.
class SolidView : public ak::View {
 public:
  void drawRect(const ak::Rect&) override {
    ak::Color::colorWithDeviceRed_green_blue_alpha(r_, g_, b_, 1)->setFill();
    ak::RectFill(bounds());
  }
  void setRGB(double r, double g, double b) { r_ = r, g_ = g, b_ = b; }
  void mouseDown(const ns::Ref<ak::Event>& e) override { downs.push_back(e); }
  std::vector<ns::Ref<ak::Event>> downs;

 private:
  double r_ = 1, g_ = 0, b_ = 0;
};

bool isRed(const pltest::Pixel& p) {
  return p.r > 200 && p.g < 60 && p.b < 60;
}

// The window of the demonstrations: content (100, 200, 400, 300), a red 100x50 view at (20, 20).
struct Scene {
  ns::Ref<ak::Window> window;
  ns::Ref<SolidView> red;
  explicit Scene(OnScreenApp& app) {
    window = app.window(MakeRect(100, 200, 400, 300), ak::TitledWindowMask | ak::ClosableWindowMask);
    red = ak::make<SolidView>(MakeRect(20, 20, 100, 50));
    window->contentView()->addSubview(red);
  }
};

TEST(GtkPresenterTest, TheWindowSitsWhereItsFrameSaysWithTheTitleBarAboveTheContent) {
  OnScreenApp app;
  Scene scene(app);
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  ASSERT_TRUE(app.settle([] { return isRed(pltest::screenPixel(130, 640)); }));
  // The red view's top-left corner: X11 (120, 630), within a pixel.
  auto pixels = pltest::screenPixels(110, 620, 20, 20);
  int left = -1, top = -1;
  for (int row = 0; row < 20 && top < 0; ++row)
    for (int col = 0; col < 20; ++col)
      if (isRed(pixels[row * 20 + col])) {
        top = 620 + row;
        left = 110 + col;
        break;
      }
  EXPECT_NEAR(left, 120, 1);
  EXPECT_NEAR(top, 630, 1);
  // The 22-point title bar fills X11 rows 378 to 399 above the content, as the window drew it.
  auto backing = scene.window->backingStore();
  for (int row : {1, 11, 20}) {
    auto want = backing->pixelAtX_y(300, row);
    auto got = pltest::screenPixel(400, 378 + row);
    EXPECT_NEAR(got.r, want.r, 2) << row;
    EXPECT_NEAR(got.g, want.g, 2) << row;
  }
  EXPECT_EQ(ak::metrics::kTitleBarHeight, 22);
  // Moved by the program, the window follows on screen.
  scene.window->setFrameOrigin(ak::MakePoint(300, 100));
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  // The red view's top-left corner is now at X11 (320, 900 - 100 - 70).
  EXPECT_TRUE(app.settle(
      [] { return isRed(pltest::screenPixel(321, 731)) && !isRed(pltest::screenPixel(130, 640)); }));
}

// What waits for the first frame (the media engine's start) runs once a drawn window is on the
// screen, not while the display is only open; later requests run at once.
TEST(GtkPresenterTest, WorkAfterTheFirstFrameWaitsForADrawnWindow) {
  OnScreenApp app;
  ak::forgetFrameShown();  // an earlier test of this process may have drawn
  int ran = 0;
  ak::performAfterFirstFrame([&] { ++ran; });
  for (int i = 0; i < 10; ++i) ns::RunLoop::mainRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
  EXPECT_EQ(ran, 0) << "no window is on the screen";
  Scene scene(app);
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  EXPECT_TRUE(app.settle([&] { return ran == 1; }));
  int later = 0;
  ak::performAfterFirstFrame([&] { ++later; });
  EXPECT_TRUE(app.settle([&] { return later == 1; }));
  EXPECT_EQ(ran, 1);
}

TEST(GtkPresenterTest, ADoubleClickGivesClickCountTwoAtTheWindowLocation) {
  OnScreenApp app;
  Scene scene(app);
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  // X11 (150, 650) is base (50, 522 - 650 + 378 ...): the frame's top is at X11 378.
  xtest::click(150, 650);
  xtest::click(150, 650);
  ASSERT_TRUE(app.settle([&] { return scene.red->downs.size() == 2; }));
  EXPECT_EQ(scene.red->downs[0]->clickCount(), 1);
  EXPECT_EQ(scene.red->downs[1]->clickCount(), 2);
  const auto at = scene.red->downs[1]->locationInWindow();
  EXPECT_DOUBLE_EQ(at.x, 50);
  EXPECT_DOUBLE_EQ(at.y, 322 - (650 - 378));
  EXPECT_TRUE(scene.window->isKeyWindow());
}

TEST(GtkPresenterTest, TypedAndComposedTextReachesTheFieldWithMarkedTextMeanwhile) {
  OnScreenApp app;
  Scene scene(app);
  auto field = ak::make<ak::TextField>(MakeRect(150, 200, 200, 24));
  field->setEditable(true);
  scene.window->contentView()->addSubview(field);
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  ASSERT_TRUE(app.focus(scene.window));
  ASSERT_TRUE(scene.window->makeFirstResponder(field));
  auto editor = field->currentEditor();
  ASSERT_TRUE(editor);
  xtest::tap("a");
  ASSERT_TRUE(app.settle([&] { return field->currentEditor()->string() == "a"; }));
  xtest::key("Control_L", true);
  xtest::key("Shift_L", true);
  xtest::tap("u");
  xtest::key("Shift_L", false);
  xtest::key("Control_L", false);
  xtest::tap("e");
  xtest::tap("9");
  ASSERT_TRUE(app.settle([&] { return editor->hasMarkedText(); }));
  xtest::tap("space");
  EXPECT_TRUE(app.settle([&] { return editor->string() == "a\u00e9" && !editor->hasMarkedText(); }, 10))
      << editor->string();
}

TEST(GtkPresenterTest, AMediaKeyHeldGivesOneSystemDefinedDownAndOneUp) {
  OnScreenApp app;
  Scene scene(app);
  std::vector<long> data;
  auto monitor = ak::Event::addLocalMonitorForEventsMatchingMask_handler(
      ak::EventMaskFromType(ak::EventType::SystemDefined), [&](const ns::Ref<ak::Event>& e) {
        if (e->subtype() == ak::gtk::kMediaKeySubtype) data.push_back(e->data1());
        return e;
      });
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  ASSERT_TRUE(app.focus(scene.window));
  xtest::key("XF86AudioPlay", true);
  xtest::key("XF86AudioPlay", true);  // the key repeats while held
  xtest::key("XF86AudioPlay", false);
  xtest::tap("a");  // a later key shows that everything before it arrived
  auto editorless = [&] { return data.size() >= 2; };
  ASSERT_TRUE(app.settle(editorless));
  app.settle([] { return false; }, 0.2);
  ak::Event::removeMonitor(monitor);
  EXPECT_EQ(data, (std::vector<long>{(16 << 16) | (0xA << 8), (16 << 16) | (0xB << 8)}));
}

TEST(GtkPresenterTest, GLibAndTheRunLoopShareOneLoopAndKeepTheirModes) {
  OnScreenApp app;
  int glibFired = 0;
  bool akFired = false, afterRan = false;
  auto timer = ns::Timer::timerWithTimeInterval_repeats_block(
      0.01, false, [&](const ns::Ref<ns::Timer>&) { akFired = true; });
  ns::RunLoop::mainRunLoop()->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  auto glibTick = +[](gpointer p) -> gboolean {
    ++*static_cast<int*>(p);
    return G_SOURCE_REMOVE;
  };
  g_timeout_add(20, glibTick, &glibFired);
  // A tracking loop: the GLib timeout fires while the default-mode timer, though due, waits.
  auto deadline = ns::Date::dateWithTimeIntervalSinceNow(30);
  while (!glibFired && ns::Date::now().timeIntervalSinceDate(deadline) < 0) {
    app.app()->nextEventMatchingMask_untilDate_inMode_dequeue(ak::LeftMouseUpMask,
                                                              ns::Date::dateWithTimeIntervalSinceNow(0.05),
                                                              ns::EventTrackingRunLoopMode, true);
  }
  EXPECT_EQ(glibFired, 1);
  EXPECT_FALSE(akFired);
  // Between loops, in the default mode, everything runs.
  g_timeout_add(10, glibTick, &glibFired);
  dispatch::after(0.01, dispatch::mainQueue(), [&] { afterRan = true; });
  EXPECT_TRUE(app.settle([&] { return akFired && afterRan && glibFired == 2; }));
}

}  // namespace

namespace {

TEST(GtkPresenterTest, ADragOnTheRightEdgeResizesTheWindowAndTheFrameFollows) {
  OnScreenApp app;
  auto window = app.window(ak::MakeRect(100, 200, 400, 300));
  ASSERT_TRUE(app.waitUntilShown(window));
  const ak::Rect before = window->frame();
  // The right edge is at X11 x = 499; the frame's top at y = 378.
  xtest::moveTo(498, 550);
  xtest::button(1, true);
  for (int x = 510; x <= 560; x += 10) xtest::moveTo(x, 550);
  xtest::button(1, false);
  ASSERT_TRUE(app.settle([&] { return window->frame().size.width > before.size.width + 40; }))
      << window->frame().size.width;
  // Only the width changed, and what the window shows followed.
  EXPECT_EQ(window->frame().origin.x, before.origin.x);
  EXPECT_EQ(window->frame().size.height, before.size.height);
  EXPECT_EQ(ak::MaxY(window->frame()), ak::MaxY(before));
  EXPECT_TRUE(app.settle([&] {
    auto backing = window->backingStore();
    return backing && backing->pixelsWide() == static_cast<std::size_t>(window->frame().size.width);
  }));
}

}  // namespace

namespace {

TEST(GtkPresenterTest, EventsForAWindowClosedMeanwhileAreDropped) {
  OnScreenApp app;
  Scene scene(app);
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  xtest::click(150, 650);
  // The system's events are queued, not yet sent, when the window closes.
  ASSERT_TRUE(pltest::pumpUntil([&] { return app.app()->queuedEventCount() >= 2; }, 30));
  scene.window->close();
  app.dispatchQueued();
  EXPECT_TRUE(scene.red->downs.empty());
  EXPECT_EQ(app.app()->queuedEventCount(), 0u);
  EXPECT_EQ(ak::gtk::nativeWindow(*scene.window), nullptr);
}

// Another program destroys a window's toplevel while a request of ours to it is on its way:
// the error it answers ends nothing, and the window closes once the destruction is read.
TEST(GtkPresenterTest, AToplevelDestroyedByAnotherProgramClosesTheWindowAndItsErrorsEndNothing) {
  OnScreenApp app;
  Scene scene(app);
  ASSERT_TRUE(app.waitUntilShown(scene.window));
  GdkWindow* toplevel = gtk_widget_get_window(static_cast<GtkWidget*>(ak::gtk::nativeWindow(*scene.window)));
  ASSERT_TRUE(toplevel && GDK_IS_X11_WINDOW(toplevel));
  ::Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(other);
  XDestroyWindow(other, gdk_x11_window_get_xid(toplevel));
  XCloseDisplay(other);
  // The title goes to the window that is gone, and the round trip reads its error.
  scene.window->setTitle("After");
  gdk_display_sync(gdk_window_get_display(toplevel));
  EXPECT_TRUE(app.settle([&] { return scene.window->isClosed(); }));
  EXPECT_EQ(ak::gtk::nativeWindow(*scene.window), nullptr);
}

}  // namespace
