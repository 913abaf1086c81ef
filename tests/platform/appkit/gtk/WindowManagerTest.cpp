#include "platform/testing/gtk/WindowManager.h"

#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/appkit/gtk/Presenter.h"
#include "platform/testing/gtk/Screen.h"

namespace {

using Kind = pltest::WindowManager::Kind;

// The windows the manager says it manages (_NET_CLIENT_LIST on the root window).
std::vector<unsigned long> managedWindows() {
  Display* d = gdk_x11_get_default_xdisplay();
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> out;
  if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_CLIENT_LIST", False), 0, 1024, False,
                         XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data && format == 32) {
    auto* ids = reinterpret_cast<unsigned long*>(data);
    out.assign(ids, ids + count);
  }
  if (data) XFree(data);
  return out;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// One after the other on one display: each takes the screen (replacing nobody), manages a window
// shown under it, and leaves the screen to the next when it goes.
TEST(GtkWindowManagerTest, EachManagerTakesTheScreenManagesAWindowAndLeavesTheScreen) {
  pltest::OnScreenApp app;
  std::string skipped;
  for (Kind kind : {Kind::openbox, Kind::xfwm4, Kind::mutter}) {
    SCOPED_TRACE(pltest::WindowManager::name(kind));
    ASSERT_EQ(pltest::WindowManager::runningName(), "") << "the screen is free";
    {
      pltest::WindowManager wm(kind);
      if (auto why = wm.unavailable()) {
        skipped += "\n" + *why;
        continue;
      }
      EXPECT_EQ(lower(pltest::WindowManager::runningName()), pltest::WindowManager::name(kind));
      auto window = app.window(ak::MakeRect(100, 200, 400, 300));
      auto* toplevel = static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window));
      ASSERT_TRUE(toplevel);
      EXPECT_TRUE(app.settle([&] {
        auto* gdkWindow = gtk_widget_get_window(toplevel);
        auto ids = managedWindows();
        return gdkWindow && std::count(ids.begin(), ids.end(), GDK_WINDOW_XID(gdkWindow)) == 1;
      }));
      window->close();
    }
    EXPECT_EQ(pltest::WindowManager::runningName(), "") << "stopped, it left the screen";
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

}  // namespace
