#include "platform/testing/gtk/DesktopPanel.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gtk/gtk.h>
#include <poll.h>

#include <chrono>
#include <stdexcept>

namespace pltest {

struct DesktopPanel::Impl {
  Display* display = nullptr;
  ::Window window = 0;
  ~Impl() {
    if (!display) return;
    if (window) XDestroyWindow(display, window);
    XCloseDisplay(display);
  }
};

DesktopPanel::DesktopPanel(int height) : impl_(std::make_unique<Impl>()), height_(height) {
  Display* d = impl_->display = XOpenDisplay(nullptr);
  if (!d) throw std::runtime_error("no X display for the panel");
  // Across the primary monitor's top edge.
  GdkRectangle m{0, 0, DisplayWidth(d, DefaultScreen(d)), 0};
  if (GdkDisplay* gdk = gdk_display_get_default())
    if (GdkMonitor* primary = gdk_display_get_primary_monitor(gdk)) gdk_monitor_get_geometry(primary, &m);
  const ::Window root = DefaultRootWindow(d);
  const unsigned long color = (unsigned long)kColor.r << 16 | (unsigned long)kColor.g << 8 | kColor.b;
  impl_->window = XCreateSimpleWindow(d, root, m.x, m.y, static_cast<unsigned>(m.width),
                                      static_cast<unsigned>(height), 0, 0, color);
  const ::Window w = impl_->window;
  const Atom dock = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DOCK", False);
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&dock), 1);
  // Left, right, top, bottom; then each edge's start and end (top: across the monitor).
  const long strut[12] = {0, 0, height, 0, 0, 0, 0, 0, m.x, m.x + m.width - 1, 0, 0};
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STRUT", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(strut), 4);
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(strut), 12);
  XStoreName(d, w, "panel");
  // The root's property changes (the work area among them) wake waitUntilReserved.
  XSelectInput(d, root, PropertyChangeMask);
  XMapWindow(d, w);
  XFlush(d);
}

DesktopPanel::~DesktopPanel() = default;

bool DesktopPanel::waitUntilReserved(double timeoutSeconds) {
  Display* d = impl_->display;
  const Atom workArea = XInternAtom(d, "_NET_WORKAREA", False);
  auto reserved = [&] {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool below = false;
    if (XGetWindowProperty(d, DefaultRootWindow(d), workArea, 0, 4, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 4)
      below = reinterpret_cast<long*>(data)[1] >= height_;
    if (data) XFree(data);
    return below;
  };
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeoutSeconds));
  for (;;) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
    }
    if (reserved()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{ConnectionNumber(d), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left));
  }
}

}  // namespace pltest
