#include "platform/testing/gtk/Screen.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cmath>
#include <stdexcept>

#include "platform/appkit/Screen.h"
#include "platform/appkit/gtk/Presenter.h"

namespace pltest {

namespace {

Display* xdisplay() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) throw std::runtime_error("no X11 display");
  return gdk_x11_display_get_xdisplay(display);
}

int x11Top(const ns::Ref<ak::Window>& window) {
  return static_cast<int>(
      std::lround(ak::Screen::mainScreen()->frame().size.height - ak::MaxY(window->frame())));
}

}  // namespace

OnScreenApp::OnScreenApp() : HeadlessApp(false) {
  if (auto error = ak::gtk::startPresenter()) throw std::runtime_error(*error);
}

bool OnScreenApp::settle(const std::function<bool()>& predicate, double timeoutSeconds) {
  return pumpUntil(
      [&] {
        dispatchQueued();
        return predicate();
      },
      timeoutSeconds);
}

bool OnScreenApp::waitUntilShown(const ns::Ref<ak::Window>& window, double timeoutSeconds) {
  return settle(
      [&] {
        auto* gdkWindow = static_cast<GdkWindow*>(ak::gtk::nativeGdkWindow(*window));
        if (!gdkWindow || !gdk_window_is_viewable(gdkWindow)) return false;
        int x = 0, y = 0;
        gdk_window_get_origin(gdkWindow, &x, &y);
        if (x != std::lround(window->frame().origin.x) || y != x11Top(window)) return false;
        // The window's own pixels are on screen: a point near its top edge matches the backing store.
        auto backing = window->backingStore();
        if (!backing) return false;
        const auto px = static_cast<std::size_t>(window->frame().size.width * 3 / 4);
        const auto want = backing->pixelAtX_y(px, 4);
        const auto got = screenPixel(x + static_cast<int>(px), y + 4);
        return std::abs(int(got.r) - int(want.r)) <= 2 && std::abs(int(got.g) - int(want.g)) <= 2 &&
               std::abs(int(got.b) - int(want.b)) <= 2;
      },
      timeoutSeconds);
}

bool OnScreenApp::focus(const ns::Ref<ak::Window>& window, double timeoutSeconds) {
  auto* gdkWindow = static_cast<GdkWindow*>(ak::gtk::nativeGdkWindow(*window));
  if (!gdkWindow) return false;
  // No window manager runs on the test display: the focus is set directly.
  XSetInputFocus(xdisplay(), GDK_WINDOW_XID(gdkWindow), RevertToParent, CurrentTime);
  XFlush(xdisplay());
  return settle([&] { return window->isKeyWindow() && app()->isActive(); }, timeoutSeconds);
}

std::vector<Pixel> screenPixels(int x, int y, int width, int height) {
  std::vector<Pixel> out;
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, width, height);
  if (!shot) return out;
  const int stride = gdk_pixbuf_get_rowstride(shot), channels = gdk_pixbuf_get_n_channels(shot);
  const guchar* data = gdk_pixbuf_read_pixels(shot);
  const int rows = gdk_pixbuf_get_height(shot), cols = gdk_pixbuf_get_width(shot);
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < cols; ++col) {
      const guchar* p = data + row * stride + col * channels;
      out.push_back({p[0], p[1], p[2]});
    }
  g_object_unref(shot);
  return out;
}

Pixel screenPixel(int x, int y) {
  auto pixels = screenPixels(x, y, 1, 1);
  return pixels.empty() ? Pixel{} : pixels[0];
}

namespace xtest {

void moveTo(int x, int y) {
  XTestFakeMotionEvent(xdisplay(), -1, x, y, CurrentTime);
  XFlush(xdisplay());
}

void button(int button, bool press) {
  XTestFakeButtonEvent(xdisplay(), static_cast<unsigned>(button), press, CurrentTime);
  XFlush(xdisplay());
}

void click(int x, int y, int b) {
  moveTo(x, y);
  button(b, true);
  button(b, false);
}

void key(const std::string& keysym, bool press) {
  Display* d = xdisplay();
  KeySym sym = XStringToKeysym(keysym.c_str());
  if (sym == NoSymbol) throw std::runtime_error("unknown keysym " + keysym);
  KeyCode code = XKeysymToKeycode(d, sym);
  if (code == 0) {
    // A symbol the display's keymap lacks goes on a spare code.
    int low = 0, high = 0;
    XDisplayKeycodes(d, &low, &high);
    code = static_cast<KeyCode>(high - 1);
    KeySym syms[] = {sym, sym};
    XChangeKeyboardMapping(d, code, 2, syms, 1);
    XSync(d, False);
  }
  XTestFakeKeyEvent(d, code, press, CurrentTime);
  XFlush(d);
}

void tap(const std::string& keysym) {
  key(keysym, true);
  key(keysym, false);
}

}  // namespace xtest

}  // namespace pltest
