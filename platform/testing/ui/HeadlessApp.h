#pragma once
// The headless application fixture and real events for tests of windows and views.
//
//   pltest::HeadlessApp app;                         // sandbox, virtual clock, fresh NSApp
//   auto window = app.window(ak::MakeRect(100, 100, 300, 200));
//   pltest::click(window, {20, 30});
//   app.dispatchQueued();                            // what run would do with the queue
//   app.advance(0.1);                                // timers and animations step
//   pltest::renderWindow(window, "after-click");     // <build>/ui-snapshots/<test>-after-click.png
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Window.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"

namespace pltest {

class HeadlessApp {
 public:
  explicit HeadlessApp(bool virtualClock = true);
  ~HeadlessApp();
  HeadlessApp(const HeadlessApp&) = delete;
  HeadlessApp& operator=(const HeadlessApp&) = delete;

  const ns::Ref<ak::Application>& app() const { return app_; }
  Sandbox& sandbox() { return *sandbox_; }
  bool hasVirtualClock() const { return clock_.has_value(); }
  // Moves the virtual clock (timers, animations and dispatch timers due meanwhile run).
  void advance(double seconds);
  // Sends every queued event as `run` would, until the queue is empty; answers how many.
  std::size_t dispatchQueued();
  // A window at `content` (screen coordinates) with the given style, shown and made key.
  ns::Ref<ak::Window> window(const ak::Rect& content,
                             unsigned long style = ak::TitledWindowMask | ak::ClosableWindowMask |
                                                   ak::MiniaturizableWindowMask | ak::ResizableWindowMask);

 private:
  std::unique_ptr<Sandbox> sandbox_;
  std::optional<VirtualClock> clock_;
  ns::Ref<ak::Application> app_;
};

// ---- events, posted to the shared application's queue (locations in window base coordinates) ----
ns::Ref<ak::Event> mouseEvent(const ns::Ref<ak::Window>& window, ak::EventType type, ak::Point location,
                              unsigned long flags = 0, long clickCount = 1);
void post(const ns::Ref<ak::Event>& event);
void postMouse(const ns::Ref<ak::Window>& window, ak::EventType type, ak::Point location,
               unsigned long flags = 0, long clickCount = 1);
// Left down and up at one point.
void click(const ns::Ref<ak::Window>& window, ak::Point location, unsigned long flags = 0);
void rightClick(const ns::Ref<ak::Window>& window, ak::Point location);
// Left down at the first point, a drag to each further point, up at the last.
void drag(const ns::Ref<ak::Window>& window, const std::vector<ak::Point>& path);
void moveMouse(const ns::Ref<ak::Window>& window, ak::Point location);
// A key down and up with the given code and characters.
void key(const ns::Ref<ak::Window>& window, unsigned short keyCode, const std::string& characters,
         unsigned long flags = 0);
// A key down and up per character (code 0; the characters carry the text).
void typeText(const ns::Ref<ak::Window>& window, const std::string& text);
void scroll(const ns::Ref<ak::Window>& window, ak::Point location, double deltaX, double deltaY);

// Displays the window and writes its backing store as a PNG under the build folder; answers the
// path.
std::string renderWindow(const ns::Ref<ak::Window>& window, const std::string& name);
// The pixel of the backing store at (x, y) in base coordinates (from the bottom left).
ak::RGBA windowPixel(const ns::Ref<ak::Window>& window, double x, double y);

}  // namespace pltest
