#pragma once
// Tests on a real (virtual) display: the presenter started once per process, input injected
// through XTest and pixels read back from the root window. X11 coordinates: from the top left.
//
//   pltest::OnScreenApp app;                       // headless fixture + presenter, real clock
//   auto w = app.window(ak::MakeRect(100, 200, 400, 300));
//   ASSERT_TRUE(app.waitUntilShown(w));
//   pltest::xtest::click(150, 600);
//   ASSERT_TRUE(app.settle([&] { return clicked; }));
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Window.h"
#include "platform/testing/ui/HeadlessApp.h"

namespace pltest {

class OnScreenApp : public HeadlessApp {
 public:
  OnScreenApp();
  // Pumps the main loop, sending queued events and displaying windows, until `predicate` holds
  // or `timeoutSeconds` pass (generous: the machine may be loaded).
  bool settle(const std::function<bool()>& predicate, double timeoutSeconds = 30);
  // Waits until the window is mapped where its frame says and its content is on screen.
  bool waitUntilShown(const ns::Ref<ak::Window>& window, double timeoutSeconds = 30);
  // Gives the window the keyboard focus and waits until it is key.
  bool focus(const ns::Ref<ak::Window>& window, double timeoutSeconds = 30);
};

// The top of the screens' area in screen coordinates (from the bottom left), which X11
// coordinates count down from: the main screen's height on one monitor.
double screensTop();

struct Pixel {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Pixel&) const = default;
};
// The pixel of the root window at (x, y) (the first device pixel there).
Pixel screenPixel(int x, int y);
// Pixels of the root window's rectangle (in GDK's units, which GDK_SCALE multiplies), row by
// row, one per device pixel.
std::vector<Pixel> screenPixels(int x, int y, int width, int height);

// Test steps run from the main run loop in every mode, also inside the nested loops of menus and
// panels that the test's own call is waiting in: each step waits until its condition holds,
// then acts once, in order.
//
//   pltest::Steps steps;
//   steps.when([&] { return pltest::labelOnScreen("Copy").has_value(); }, [&] { click on it });
//   ... right-click, and pump until steps.done() ...
class Steps {
 public:
  Steps();
  ~Steps();
  Steps(const Steps&) = delete;
  Steps& operator=(const Steps&) = delete;
  Steps& when(std::function<bool()> condition, std::function<void()> action);
  Steps& then(std::function<void()> action);
  bool done() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

struct ScreenPoint {
  int x = 0, y = 0;
};
// The centre (X11 coordinates) of a mapped label with exactly this text in any shown GTK window:
// menu items, the menu bar, dialogs.
std::optional<ScreenPoint> labelOnScreen(const std::string& text);
// Whether a GTK window of this kind is shown: "menu" (a pop-up menu), "dialog".
bool shownToplevel(const std::string& kind);
// Gives the keyboard focus to the shown dialog (there is no window manager to do it).
bool focusDialog();

namespace xtest {
void moveTo(int x, int y);
void button(int button, bool press);
void click(int x, int y, int button = 1);
// A key by its X keysym name ("a", "Return", "XF86AudioPlay", "Control_L").
void key(const std::string& keysym, bool press);
void tap(const std::string& keysym);
// Keys held in order, then released in reverse: {"Control_L", "q"}.
void chord(const std::vector<std::string>& keysyms);
// Types plain text of letters, digits, "." "-" "_" "/" and spaces.
void type(const std::string& text);
}  // namespace xtest

}  // namespace pltest
