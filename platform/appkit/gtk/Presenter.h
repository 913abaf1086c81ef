#pragma once
// The GTK 3 presenter: shows the ak windows on a real display, one GLib main context sharing the
// main run loop's waits, GDK input as ak::Events (keys through the input method), media keys as
// system-defined events, cursors and full screen from GDK.
//
//   int main(int argc, char** argv) {
//     ak::gtk::installPresenter();                 // before ApplicationMain
//     return ak::ApplicationMain(argc, argv);      // headless without a display or with --headless
//   }
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {
class View;
class Window;
}  // namespace ak

namespace ak::gtk {

// Whether this machine has a GPU the process may render with (a render node under /dev/dri).
bool hasRenderNode();

// Sets what the toolkit needs on this machine before any thread starts: without a GPU, GDK does
// not probe OpenGL when it opens the display (GDK_GL=disable, unless the environment already
// chose). That probe loads the software GL and its compiler (~80 ms of every start) for visuals
// nothing here draws into: the windows, menus and video are drawn with cairo. Call at the top of
// main.
void prepareDisplayEnvironment();

// Registers the starter ApplicationMain asks: GTK opens the display (X11 preferred) and the
// presenter becomes active.
void installPresenter();

// Opens the display and activates the presenter now; answers the error line when the display
// cannot be opened. Tests and the starter use it; a second call changes nothing.
std::optional<std::string> startPresenter(int argc = 0, const char** argv = nullptr);

// Registers GLib's default main context with the main run loop (done by startPresenter).
void attachMainContext();

// A native child placed over the window's drawing area at the view's frame, moved, resized and
// hidden with the view; events over it go to the toolkit. `widget` is a GtkWidget*; the
// answered token removes the child when released.
class NativeChild {
 public:
  virtual ~NativeChild() = default;
  // Places the child again after the view moved or changed visibility.
  virtual void update() = 0;
};
std::shared_ptr<NativeChild> attachNativeChild(const ns::Ref<View>& view, void* widget);

// The GtkWindow* shown for a window, and the GdkWindow* its content is drawn in (below the menu
// bar when the window shows one); nullptr when it has none. For tests and native children.
void* nativeWindow(const Window& window);
void* nativeGdkWindow(const Window& window);

// The system-defined event's data for a media key: key code << 16 | state << 8.
inline constexpr short kMediaKeySubtype = 8;
inline constexpr long kMediaKeyPlay = 16, kMediaKeyNext = 17, kMediaKeyPrevious = 18, kMediaKeyFast = 19,
                      kMediaKeyRewind = 20;
inline constexpr long kMediaKeyDown = 0xA, kMediaKeyUp = 0xB;

}  // namespace ak::gtk
