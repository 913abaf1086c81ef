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
#include <string>

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

struct Pixel {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Pixel&) const = default;
};
// The pixel of the root window at (x, y) (the first device pixel there).
Pixel screenPixel(int x, int y);
// Pixels of the root window's rectangle (in GDK's units, which GDK_SCALE multiplies), row by
// row, one per device pixel.
std::vector<Pixel> screenPixels(int x, int y, int width, int height);

namespace xtest {
void moveTo(int x, int y);
void button(int button, bool press);
void click(int x, int y, int button = 1);
// A key by its X keysym name ("a", "Return", "XF86AudioPlay", "Control_L").
void key(const std::string& keysym, bool press);
void tap(const std::string& keysym);
}  // namespace xtest

}  // namespace pltest
