#include "platform/testing/gtk/PointerDrag.h"

#include <gtk/gtk.h>

#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/gtk/Presenter.h"

namespace pltest {

namespace {

double screenHeight() {
  return screensTop();
}

// The last event the application took is `type` at this X11 point of the screen.
bool took(ak::EventType type, ScreenPoint at) {
  auto e = ak::Application::sharedApplication()->currentEvent();
  return e && e->type() == type && e->locationInScreen().x == at.x &&
         e->locationInScreen().y == screenHeight() - at.y;
}

}  // namespace

bool placedAsFramed(const ns::Ref<ak::Window>& window) {
  auto* gdkWindow = static_cast<GdkWindow*>(ak::gtk::nativeGdkWindow(*window));
  if (!gdkWindow) return false;
  int x = 0, y = 0;
  gdk_window_get_origin(gdkWindow, &x, &y);
  const ak::Rect f = window->frame();
  return x == std::lround(f.origin.x) && y == std::lround(screenHeight() - ak::MaxY(f)) &&
         gdk_window_get_width(gdkWindow) == std::lround(f.size.width) &&
         gdk_window_get_height(gdkWindow) == std::lround(f.size.height);
}

std::string frameText(const ak::Rect& f) {
  auto text = [](double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s;
  };
  return text(f.origin.x) + "," + text(f.origin.y) + " " + text(f.size.width) + "x" + text(f.size.height);
}

bool dragInSteps(OnScreenApp& app, const ns::Ref<ak::Window>& window, ScreenPoint from,
                 const std::vector<PointerStep>& steps) {
  Steps run;
  run.then([from] {
    xtest::moveTo(from.x, from.y);
    xtest::button(1, true);
  });
  auto type = ak::EventType::LeftMouseDown;
  ScreenPoint at = from;
  for (const auto& step : steps) {
    const ScreenPoint next{at.x + step.dx, at.y + step.dy};
    run.when([type, at, window] { return took(type, at) && placedAsFramed(window); },
             [next] { xtest::moveTo(next.x, next.y); });
    at = next;
    type = ak::EventType::LeftMouseDragged;
  }
  run.when([type, at, window] { return took(type, at) && placedAsFramed(window); },
           [] { xtest::button(1, false); });
  return app.settle(
      [&] { return run.done() && took(ak::EventType::LeftMouseUp, at) && placedAsFramed(window); }, 120);
}

}  // namespace pltest
