// Windows on two monitors (1024x700 at 0,0, the primary, and 1280x720 at 1024,0; no window
// manager): every monitor's visible frame leaves room for the main window's menu bar, and when an
// output goes away, a window that was on it comes onto the remaining screen while one on the
// primary monitor stays where it was.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/appkit/Make.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/testing/gtk/Monitors.h"
#include "platform/testing/gtk/PointerDrag.h"
#include "platform/testing/gtk/Screen.h"

namespace monitors_test {

using pltest::frameText;

// The X11 origin of the window's content.
pltest::ScreenPoint contentOrigin(const ns::Ref<ak::Window>& window) {
  int x = 0, y = 0;
  gdk_window_get_origin(static_cast<GdkWindow*>(ak::gtk::nativeGdkWindow(*window)), &x, &y);
  return {x, y};
}

// A content rectangle by its X11 top left, on the current screens.
ak::Rect atX11(int x, int y, int width, int height) {
  const double top = pltest::screensTop();
  return ak::MakeRect(x, top - y - height, width, height);
}

TEST(GtkMonitorsTest, AWindowOnAnOutputSwitchedOffComesOntoTheOtherAndOneOnThePrimaryStaysTwoMonitors) {
  pltest::OnScreenApp app;
  if (auto why = pltest::twoMonitorsUnavailable()) GTEST_SKIP() << *why;
  // The second monitor's visible frame, as the first's, leaves a menu bar's strip at its top.
  const auto screens = ak::Screen::screens();
  ASSERT_EQ(screens.size(), 2u);
  const double strip = ak::MaxY(screens[0]->frame()) - ak::MaxY(screens[0]->visibleFrame());
  EXPECT_GT(strip, 10);
  EXPECT_EQ(ak::MaxY(screens[1]->frame()) - ak::MaxY(screens[1]->visibleFrame()), strip);

  auto onSecond = app.window(atX11(1300, 80, 400, 300));
  auto onPrimary = app.window(atX11(100, 120, 400, 300));
  ASSERT_TRUE(app.waitUntilShown(onSecond));
  ASSERT_TRUE(app.waitUntilShown(onPrimary));
  ASSERT_EQ(contentOrigin(onSecond).x, 1300);
  const auto primaryAt = contentOrigin(onPrimary);
  const ak::Rect primaryFrame = onPrimary->frame();

  ASSERT_TRUE(pltest::switchOutputOff(app, "DUMMY1", 1));
  // Each window stands where its frame says, in the remaining screen's coordinates.
  ASSERT_EQ(ak::Screen::mainScreen()->frame(), ak::MakeRect(0, 0, 1024, 700));
  EXPECT_TRUE(app.settle([&] {
    return pltest::placedAsFramed(onSecond) && pltest::placedAsFramed(onPrimary);
  })) << frameText(onSecond->frame())
      << "; " << frameText(onPrimary->frame());
  // The first, whole on the primary monitor's visible frame.
  EXPECT_TRUE(ak::ContainsRect(ak::Screen::mainScreen()->visibleFrame(), onSecond->frame()))
      << frameText(onSecond->frame());
  const auto moved = contentOrigin(onSecond);
  EXPECT_LE(moved.x + 400, 1024);
  EXPECT_GE(moved.y, strip);
  EXPECT_LE(moved.y + 300, 700);
  // The other where it was.
  EXPECT_EQ(contentOrigin(onPrimary).x, primaryAt.x);
  EXPECT_EQ(contentOrigin(onPrimary).y, primaryAt.y);
  EXPECT_EQ(onPrimary->frame(), ak::OffsetRect(primaryFrame, 0, -20)) << frameText(onPrimary->frame());
}

}  // namespace monitors_test
