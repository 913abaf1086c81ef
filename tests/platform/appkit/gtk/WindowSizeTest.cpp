// A window's size under real window managers: the minimum the system is told is what the window's
// contents need, so that a manager may shrink the window to it (and no further); zoom and unzoom,
// by the title bar's button and by the manager's maximise, come back to the frame before.
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>
#include <optional>

#include "platform/appkit/Make.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/testing/gtk/PointerDrag.h"
#include "platform/testing/gtk/Screen.h"
#include "platform/testing/gtk/WindowManager.h"

namespace {

using ak::MakeRect;
using Kind = pltest::WindowManager::Kind;
using pltest::frameText;
using pltest::placedAsFramed;

constexpr unsigned long kStyle =
    ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask | ak::ResizableWindowMask;

GtkWidget* toplevelOf(const ns::Ref<ak::Window>& window) {
  return static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window));
}

::Window xidOf(const ns::Ref<ak::Window>& window) {
  return GDK_WINDOW_XID(gtk_widget_get_window(toplevelOf(window)));
}

// The X11 top-left of the window's toplevel.
pltest::ScreenPoint originOf(const ns::Ref<ak::Window>& window) {
  int x = 0, y = 0;
  gdk_window_get_origin(gtk_widget_get_window(toplevelOf(window)), &x, &y);
  return {x, y};
}

bool maximized(const ns::Ref<ak::Window>& window) {
  return gdk_window_get_state(gtk_widget_get_window(toplevelOf(window))) & GDK_WINDOW_STATE_MAXIMIZED;
}

// A message to the window manager about the window, as a pager or the user's own action sends it.
void tellTheManager(const ns::Ref<ak::Window>& window, const char* type, std::vector<long> data) {
  Display* d = gdk_x11_get_default_xdisplay();
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = xidOf(window);
  e.xclient.message_type = XInternAtom(d, type, False);
  e.xclient.format = 32;
  for (std::size_t i = 0; i < data.size() && i < 5; ++i) e.xclient.data.l[i] = data[i];
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(d);
}

// The manager moves and resizes the window's toplevel (north-west gravity, from the user).
void moveResize(const ns::Ref<ak::Window>& window, int x, int y, int width, int height) {
  tellTheManager(window, "_NET_MOVERESIZE_WINDOW",
                 {NorthWestGravity | (0xf << 8) | (2 << 12), x, y, width, height});
}

void maximize(const ns::Ref<ak::Window>& window, bool on) {
  Display* d = gdk_x11_get_default_xdisplay();
  tellTheManager(window, "_NET_WM_STATE",
                 {on ? 1 : 0, static_cast<long>(XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_VERT", False)),
                  static_cast<long>(XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_HORZ", False)), 2});
}

// The minimum size the toplevel states (WM_NORMAL_HINTS), if any.
std::optional<ak::Size> statedMinimum(const ns::Ref<ak::Window>& window) {
  XSizeHints hints{};
  long supplied = 0;
  if (!XGetWMNormalHints(gdk_x11_get_default_xdisplay(), xidOf(window), &hints, &supplied) ||
      !(hints.flags & PMinSize))
    return std::nullopt;
  return ak::MakeSize(hints.min_width, hints.min_height);
}

void shrinkFromTheManager(Kind kind) {
  pltest::WindowManager wm(kind);
  if (auto why = wm.unavailable()) GTEST_SKIP() << *why;
  pltest::OnScreenApp app;
  auto window = ak::make<ak::Window>(MakeRect(100, 300, 600, 400), kStyle);
  window->setMinSize(ak::MakeSize(300, 200));
  window->makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_EQ(frameText(window->frame()), "100,300 600x422");
  // The system is told the contents' minimum, not the size shown.
  auto minimum = statedMinimum(window);
  ASSERT_TRUE(minimum);
  EXPECT_EQ(minimum->width, 300);
  EXPECT_EQ(minimum->height, 200);

  // The manager makes it smaller, and moves it (which it does whatever the size): the frame
  // follows.
  pltest::ScreenPoint at = originOf(window);
  moveResize(window, at.x + 10, at.y + 10, 350, 250);
  ASSERT_TRUE(app.settle([&] { return originOf(window).x != at.x && placedAsFramed(window); }))
      << frameText(window->frame());
  EXPECT_EQ(window->frame().size.width, 350);
  EXPECT_EQ(window->frame().size.height, 250);
  // Asked for less than the minimum, it stops there.
  at = originOf(window);
  moveResize(window, at.x + 10, at.y + 10, 100, 100);
  ASSERT_TRUE(app.settle([&] { return originOf(window).x != at.x && placedAsFramed(window); }))
      << frameText(window->frame());
  EXPECT_EQ(window->frame().size.width, 300);
  EXPECT_EQ(window->frame().size.height, 200);
}

TEST(GtkWindowSizeTest, OpenboxShrinksTheWindowToWhatItsContentsNeed) {
  shrinkFromTheManager(Kind::openbox);
}
TEST(GtkWindowSizeTest, Xfwm4ShrinksTheWindowToWhatItsContentsNeed) {
  shrinkFromTheManager(Kind::xfwm4);
}
TEST(GtkWindowSizeTest, MutterShrinksTheWindowToWhatItsContentsNeed) {
  shrinkFromTheManager(Kind::mutter);
}

// Counts the mouse-ups the application sends while it lives.
class UpCounter {
 public:
  explicit UpCounter(int& ups)
      : token_(ak::Event::addLocalMonitorForEventsMatchingMask_handler(
            ak::EventMaskFromType(ak::EventType::LeftMouseUp), [&ups](const ns::Ref<ak::Event>& e) {
              ++ups;
              return e;
            })) {}
  ~UpCounter() { ak::Event::removeMonitor(token_); }
  UpCounter(const UpCounter&) = delete;
  UpCounter& operator=(const UpCounter&) = delete;

 private:
  ns::Ref<ns::Object> token_;
};

// Counts the configure events of the window's toplevel while it lives: the system's answers to
// what was asked of it, and what it did of its own.
class ConfigureCounter {
 public:
  explicit ConfigureCounter(const ns::Ref<ak::Window>& window)
      : toplevel_(toplevelOf(window)),
        handler_(g_signal_connect(toplevel_, "configure-event",
                                  G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer p) {
                                    ++*static_cast<int*>(p);
                                    return FALSE;
                                  }),
                                  &count_)) {}
  ~ConfigureCounter() { g_signal_handler_disconnect(toplevel_, handler_); }
  ConfigureCounter(const ConfigureCounter&) = delete;
  ConfigureCounter& operator=(const ConfigureCounter&) = delete;
  int count() const { return count_; }

 private:
  GtkWidget* toplevel_;
  gulong handler_;
  int count_ = 0;
};

// The title bar's zoom button twice, the manager's maximise and back, and the manager's maximise
// undone by the button: each way ends at the frame before.
void zoomAndBack(std::optional<Kind> kind) {
  std::optional<pltest::WindowManager> wm;
  if (kind) {
    wm.emplace(*kind);
    if (auto why = wm->unavailable()) GTEST_SKIP() << *why;
  }
  pltest::OnScreenApp app;
  auto window = app.window(MakeRect(200, 300, 500, 300));
  ASSERT_TRUE(app.waitUntilShown(window));
  const ak::Rect before = window->frame();
  int ups = 0;
  UpCounter counter(ups);
  ConfigureCounter configures(window);
  // The system answered: a configure came, the window stands where its frame says, that frame is
  // no longer the one it had when asked (a manager may announce the state and send a configure of
  // the old size before it resizes) and, under a manager, in the state asked for.
  auto answered = [&](int configuresBefore, const ak::Rect& asked, bool zoomed) {
    return configures.count() > configuresBefore && placedAsFramed(window) && !(window->frame() == asked) &&
           (!kind || maximized(window) == zoomed);
  };
  // Clicks the title bar's zoom button; answers once the application took the click and the
  // system answered.
  auto clickZoom = [&](bool zoomed) {
    const int upsBefore = ups, configuresBefore = configures.count();
    const ak::Rect asked = window->frame();
    auto button = window->standardWindowButton(ak::WindowButton::ZoomButton);
    const ak::Rect r = window->convertRectToScreen(button->convertRect_toView(button->bounds(), nullptr));
    const int x = static_cast<int>(ak::MidX(r)), y = static_cast<int>(900 - ak::MidY(r));
    pltest::xtest::click(x, y);
    return app.settle([&] { return ups > upsBefore && answered(configuresBefore, asked, zoomed); });
  };
  ASSERT_TRUE(clickZoom(true)) << frameText(window->frame());
  EXPECT_GT(window->frame().size.width, before.size.width);
  EXPECT_GT(window->frame().size.height, before.size.height);
  ASSERT_TRUE(clickZoom(false)) << frameText(window->frame());
  EXPECT_EQ(frameText(window->frame()), frameText(before)) << "the button twice";
  if (!kind) return;

  auto maximizeByTheManager = [&](bool on) {
    const int configuresBefore = configures.count();
    const ak::Rect asked = window->frame();
    maximize(window, on);
    return app.settle([&] { return answered(configuresBefore, asked, on); });
  };
  ASSERT_TRUE(maximizeByTheManager(true));
  EXPECT_GT(window->frame().size.width, before.size.width);
  ASSERT_TRUE(maximizeByTheManager(false));
  EXPECT_EQ(frameText(window->frame()), frameText(before)) << "the manager's maximise and back";

  ASSERT_TRUE(maximizeByTheManager(true));
  ASSERT_TRUE(clickZoom(false)) << frameText(window->frame());
  EXPECT_EQ(frameText(window->frame()), frameText(before)) << "the manager's maximise, then the button";
}

TEST(GtkWindowSizeTest, ZoomAndUnzoomComeBackToTheFrameBeforeWithoutAManager) {
  zoomAndBack(std::nullopt);
}
TEST(GtkWindowSizeTest, ZoomAndUnzoomComeBackToTheFrameBeforeUnderOpenbox) {
  zoomAndBack(Kind::openbox);
}
TEST(GtkWindowSizeTest, ZoomAndUnzoomComeBackToTheFrameBeforeUnderXfwm4) {
  zoomAndBack(Kind::xfwm4);
}
TEST(GtkWindowSizeTest, ZoomAndUnzoomComeBackToTheFrameBeforeUnderMutter) {
  zoomAndBack(Kind::mutter);
}

}  // namespace
