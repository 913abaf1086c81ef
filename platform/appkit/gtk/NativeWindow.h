#pragma once
// The GTK side of one window, shared by the presenter's files (GTK types: include it only there).
#include <gtk/gtk.h>

#include <memory>
#include <set>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/gtk/GtkInternal.h"

namespace ak::gtk {

struct Native {
  ns::Weak<Window> window;
  long number = 0;
  GtkWidget* toplevel = nullptr;
  // The toplevel holds a vertical box: the menu bar (main window only) over the content.
  GtkWidget* box = nullptr;
  GtkWidget* area = nullptr;
  std::unique_ptr<MenuBar> bar;
  GtkIMContext* im = nullptr;
  Rect shown;  // the frame last asked of or reported by the system
  // Toplevel geometries asked for and not yet confirmed, the last one last, each with the menu
  // bar's height at the time. The system answers a move and a resize in separate configures,
  // and an answer may arrive after the bar came or went: a configure echoing one of them must be
  // read with the bar it was asked with, and one mixing an earlier request's position or size
  // is on its way to the last request, not a move or resize by the user.
  struct Asked {
    int x = 0, y = 0, width = -1, height = -1, bar = 0;
  };
  std::vector<Asked> asked;
  Asked configured;  // the toplevel's geometry in the last configure
  guint resizeFollowUp = 0;
  bool reporting = false;
  // A display pass has drawn into the backing store: what the drawing area shows is the window's.
  bool drawn = false;
  // Click counting.
  guint lastButton = 0;
  guint32 lastPressTime = 0;
  double lastX = -1e9, lastY = -1e9;
  long clickCount = 0;
  guint buttonsDown = 0;
  // The key press the input method is filtering, for the key events its commit becomes.
  const GdkEventKey* filtering = nullptr;
  bool committedDuringFilter = false;
  std::set<guint> heldMediaKeys;
  std::set<guint> heldKeys;
  guint fullScreenTimeout = 0;
  // The monitor whose desktop full-screen state the window was given (covering it), or -1.
  int fullScreenMonitor = -1;
  // A drag from another program over the window.
  GdkDragContext* dropContext = nullptr;
  bool dropPending = false;
  bool dropLeaving = false;
  int dropX = 0, dropY = 0;
};

// ---- the toplevel's geometry and the window's frame ----

// The height of the menu bar shown over the content; 0 without one.
int barHeight(const Native& n);

// The content area's size request for a window shown `width` x `height`: the window's minimum
// size when the user may resize it (its current size otherwise), so that the system's minimum
// (WM_NORMAL_HINTS) is what the contents need.
void requestMinimum(Native& n, int width, int height);

// Asks the system to show the window's content at `frame` (bottom-left coordinates on screens
// `screenHeight` tall), the menu bar above it.
void moveTo(Native& n, const Rect& frame, double screenHeight);

// Takes a configure of the toplevel: an answer to what was asked, or a move or resize by the
// system or the user, which becomes the window's frame. Answers true when the window then keeps
// a frame of its own, which is to be asked for again.
bool reconcileConfigure(Native& n, Window& window, const GdkEventConfigure& e, double screenHeight);

}  // namespace ak::gtk
