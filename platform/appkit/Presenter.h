#pragma once
// What shows the windows on a real display. Headless there is none and windows live only in
// their backing stores; an on-screen presenter (installed before ApplicationMain runs) follows
// each window through these hooks and feeds the system's events back as ak::Events.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class Menu;
class MenuItem;
class SavePanel;
class Window;
struct MenuPresentation;
struct PanelAnswer;

class Presenter {
 public:
  virtual ~Presenter() = default;
  virtual void windowOrderedIn(const ns::Ref<Window>& window) {}
  virtual void windowOrderedOut(Window& window) {}
  virtual void windowClosed(Window& window) {}
  // The frame changed (not by the presenter itself reporting what the system set).
  virtual void windowFrameChanged(Window& window) {}
  // A display pass drew `dirty` (base coordinates) into the backing store; possibly on a
  // drawing thread.
  virtual void windowDrew(Window& window, const Rect& dirty) {}
  // A cairo image surface (cairo_surface_t*, ARGB32) of this many pixels for the window's backing
  // store that the system shows without copying it first, owned by the caller; nullptr for a
  // plain one. Asked on the main thread only.
  virtual void* createBackingSurface(Window& window, int pixelsWide, int pixelsHigh) { return nullptr; }
  // Title, level, alpha, shadow or opacity changed.
  virtual void windowPropertiesChanged(Window& window) {}
  virtual void windowMiniaturized(Window& window, bool miniaturized) {}
  // Answers true when the system zooms the window (it reports the frame it gives).
  virtual bool zoomWindow(Window& window) { return false; }
  // Answers true when the system takes the window in or out of full screen; it calls
  // Window::finishFullScreenTransition once the change is confirmed.
  virtual bool setWindowFullScreen(Window& window, bool fullScreen) { return false; }

  // ---- menus ----
  // Shows a pop-up or context menu and runs the run loop until it closes; `chosen` is the item
  // picked (nullptr: none). Answers false when it cannot show menus.
  virtual bool trackMenu(const MenuPresentation& presentation, ns::Ref<MenuItem>& chosen) { return false; }
  // The application's main menu was set.
  virtual void mainMenuChanged() {}
  // A menu or one of its items changed (titles, items, states, key equivalents, images).
  virtual void menuChanged(Menu& menu) {}

  // ---- panels ----
  // Shows an open or save panel (application-modal without a parent, else over the parent) and
  // answers at once; `done` gets the person's answer (nullopt: cancelled) exactly once, also when
  // the panel or its parent is closed by other means. Answers false when it cannot show one.
  using PanelDone = std::function<void(std::optional<PanelAnswer>)>;
  virtual bool showPanel(const ns::Ref<SavePanel>& panel, const ns::Ref<Window>& parent, PanelDone done) {
    return false;
  }
};

// The active presenter, nullptr headless.
Presenter* activePresenter();
void setActivePresenter(std::shared_ptr<Presenter> presenter);

// The presenter registry ApplicationMain asks. The starter opens the display and makes its
// presenter active; it answers an error line when the display cannot be opened.
using PresenterStarter = std::function<std::optional<std::string>(int argc, const char** argv)>;
void registerPresenterStarter(PresenterStarter starter);
// Whether the arguments ask for a run without windows ("--headless").
bool asksForHeadless(int argc, const char** argv);
// Whether a run with these arguments and this environment wants a display: not with
// "--headless", nor when neither DISPLAY nor WAYLAND_DISPLAY is set.
bool wantsDisplay(int argc, const char** argv);
// Starts the registered presenter when a display is wanted; answers the error line of a
// display that could not be opened.
std::optional<std::string> startPresenter(int argc, const char** argv);

// Runs `block` on the main run loop once a window's first frame is on the screen: at once
// headless or when one already is. Work that the first window need not wait for (opening the
// media engine's libraries, starting its engine) goes here, out of that frame's way.
void performAfterFirstFrame(std::function<void()> block);
// The presenter reports that a drawn window reached the screen (main thread).
void noteFrameShown();
// Counts the next frame as the first again: for a test in a process where earlier tests drew.
void forgetFrameShown();

}  // namespace ak
