#include <algorithm>
#include <cmath>

#include "platform/appkit/Window.h"
#include "platform/appkit/gtk/NativeWindow.h"

namespace ak::gtk {

namespace {

// GTK moves a shown toplevel at once and resizes it later: the configure of the move may be
// taken by GTK as the answer to the resize, which then never happens. Once GTK has sent what
// it will, a toplevel left at the last position asked but at an earlier size gets the size.
void followUpResize(Native* n) {
  if (n->resizeFollowUp) return;
  n->resizeFollowUp = g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      +[](gpointer p) -> gboolean {
        auto* n = static_cast<Native*>(p);
        n->resizeFollowUp = 0;
        auto* gdkWindow = gtk_widget_get_window(n->toplevel);
        if (!gdkWindow || n->asked.size() < 2 || !gtk_widget_get_mapped(n->toplevel)) return G_SOURCE_REMOVE;
        const Native::Asked& last = n->asked.back();
        const Native::Asked& at = n->configured;
        if (at.x == last.x && at.y == last.y && (at.width != last.width || at.height != last.height))
          gdk_window_resize(gdkWindow, last.width, last.height);
        return G_SOURCE_REMOVE;
      },
      n, nullptr);
}

}  // namespace

int barHeight(const Native& n) {
  if (!n.bar) return 0;
  auto* widget = static_cast<GtkWidget*>(n.bar->widget());
  if (!gtk_widget_get_visible(widget)) return 0;
  int natural = 0;
  gtk_widget_get_preferred_height(widget, nullptr, &natural);
  return natural;
}

void requestMinimum(Native& n, int width, int height) {
  auto window = n.window.lock();
  int w = width, h = height;
  // A window the user may resize asks for what its contents need, no more: the toplevel's own
  // size carries the frame, and the system may make it as small as that minimum. The request
  // never exceeds the size shown, or GTK would lay the area out taller than the toplevel.
  if (window && (window->styleMask() & ResizableWindowMask)) {
    w = std::min(width, std::max(1, static_cast<int>(std::ceil(window->minSize().width))));
    h = std::min(height, std::max(1, static_cast<int>(std::ceil(window->minSize().height))));
  }
  gtk_widget_set_size_request(n.area, w, h);
}

void moveTo(Native& n, const Rect& frame, double screenHeight) {
  n.shown = frame;
  const int w = std::max(1, static_cast<int>(std::lround(frame.size.width)));
  const int h = std::max(1, static_cast<int>(std::lround(frame.size.height)));
  // The frame is the content's: a menu bar adds its height above it.
  const int bar = barHeight(n);
  const int x = static_cast<int>(std::lround(frame.origin.x));
  const int y = static_cast<int>(std::lround(screenHeight - MaxY(frame))) - bar;
  requestMinimum(n, w, h);
  // A burst of requests the system never confirms keeps only the latest few.
  if (n.asked.size() >= 8) n.asked.erase(n.asked.begin());
  n.asked.push_back({x, y, w, h + bar, bar});
  gtk_window_resize(GTK_WINDOW(n.toplevel), w, h + bar);
  gtk_window_move(GTK_WINDOW(n.toplevel), x, y);
}

bool reconcileConfigure(Native& n, Window& window, const GdkEventConfigure& e, double screenHeight) {
  int bar = barHeight(n);
  n.configured = {e.x, e.y, e.width, e.height, 0};
  if (!n.asked.empty()) {
    const Native::Asked last = n.asked.back();
    const bool lastSize = e.width == last.width && e.height == last.height;
    const bool lastPlace = e.x == last.x && e.y == last.y;
    if (lastSize && lastPlace) {
      // The last request is done: what came before it is no longer awaited.
      n.asked.assign(1, last);
    } else {
      for (auto it = n.asked.begin(); it + 1 < n.asked.end(); ++it)
        if ((!lastSize && e.width == it->width && e.height == it->height) ||
            (!lastPlace && e.x == it->x && e.y == it->y)) {
          followUpResize(&n);
          return false;
        }
    }
    if (lastSize) bar = last.bar;
    // Not on its way to ours: the system or the user chose it, and what we asked before is
    // no longer awaited. It stands as the last geometry known, for the configures that
    // follow our next request to be told from the user's.
    if (!lastSize || !lastPlace) n.asked.assign(1, {e.x, e.y, e.width, e.height, bar});
  }
  const Rect reported = MakeRect(e.x, screenHeight - e.y - e.height, e.width, std::max(1, e.height - bar));
  // An echo of the frame we asked for, or of one already reported, changes nothing.
  if (reported == n.shown) return false;
  n.shown = reported;
  n.reporting = true;
  window.setFrame_display(reported, true);
  n.reporting = false;
  // The content area's request stays within the new size: a larger one would lay the area out
  // taller than the toplevel, and draw it shifted.
  if (window.frame() == reported) {
    requestMinimum(n, e.width, static_cast<int>(reported.size.height));
    // GTK keeps the size last asked of it and would ask it again: it becomes this one.
    gtk_window_resize(GTK_WINDOW(n.toplevel), e.width, e.height);
    return false;
  }
  return true;
}

}  // namespace ak::gtk
