#include "platform/testing/ui/HeadlessApp.h"

#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/appkit/Animation.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Screen.h"
#include "platform/runloop/Clock.h"
#include "platform/testing/ui/Canvas.h"

namespace pltest {

HeadlessApp::HeadlessApp(bool virtualClock) : sandbox_(std::make_unique<Sandbox>()) {
  if (virtualClock) clock_.emplace();
  app_ = ns::make<ak::Application>();
  ak::Application::setSharedApplication(app_);
}

HeadlessApp::~HeadlessApp() {
  for (const auto& w : app_->windows()) w->close();
  ak::animation::resetForTesting();
  ak::Application::setSharedApplication(nullptr);
  app_->discardEventsMatchingMask_beforeEvent(ak::AnyEventMask, nullptr);
  ak::Cursor::resetForTesting();
  ak::Screen::setScreenFrames({});
  // Whatever the test left queued on the main loop runs now, not in the next test.
  ns::RunLoop::currentRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
  app_ = nullptr;
  clock_.reset();
}

void HeadlessApp::advance(double seconds) {
  ns::Clock::advance(seconds);
}

std::size_t HeadlessApp::dispatchQueued() {
  std::size_t count = 0;
  while (auto e = app_->nextEventMatchingMask_untilDate_inMode_dequeue(ak::AnyEventMask, std::nullopt,
                                                                       ns::DefaultRunLoopMode, true)) {
    app_->sendEvent(e);
    ++count;
  }
  app_->updateWindows();
  return count;
}

ns::Ref<ak::Window> HeadlessApp::window(const ak::Rect& content, unsigned long style) {
  auto w = ak::make<ak::Window>(content, style);
  w->makeKeyAndOrderFront(nullptr);
  return w;
}

ns::Ref<ak::Event> mouseEvent(const ns::Ref<ak::Window>& window, ak::EventType type, ak::Point location,
                              unsigned long flags, long clickCount) {
  return ak::Event::
      mouseEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_clickCount_pressure(
          type, location, flags, ns::Clock::now(), window ? window->windowNumber() : 0, nullptr, 0,
          clickCount, type == ak::EventType::LeftMouseUp || type == ak::EventType::MouseMoved ? 0.0f : 1.0f);
}

void post(const ns::Ref<ak::Event>& event) {
  ak::Application::sharedApplication()->postEvent_atStart(event, false);
}

void postMouse(const ns::Ref<ak::Window>& window, ak::EventType type, ak::Point location, unsigned long flags,
               long clickCount) {
  post(mouseEvent(window, type, location, flags, clickCount));
}

void click(const ns::Ref<ak::Window>& window, ak::Point location, unsigned long flags) {
  postMouse(window, ak::EventType::LeftMouseDown, location, flags);
  postMouse(window, ak::EventType::LeftMouseUp, location, flags);
}

void rightClick(const ns::Ref<ak::Window>& window, ak::Point location) {
  postMouse(window, ak::EventType::RightMouseDown, location);
  postMouse(window, ak::EventType::RightMouseUp, location);
}

void drag(const ns::Ref<ak::Window>& window, const std::vector<ak::Point>& path) {
  if (path.empty()) return;
  postMouse(window, ak::EventType::LeftMouseDown, path.front());
  for (std::size_t i = 1; i < path.size(); ++i) postMouse(window, ak::EventType::LeftMouseDragged, path[i]);
  postMouse(window, ak::EventType::LeftMouseUp, path.back());
}

void moveMouse(const ns::Ref<ak::Window>& window, ak::Point location) {
  postMouse(window, ak::EventType::MouseMoved, location, 0, 0);
}

void key(const ns::Ref<ak::Window>& window, unsigned short keyCode, const std::string& characters,
         unsigned long flags) {
  for (auto type : {ak::EventType::KeyDown, ak::EventType::KeyUp}) {
    post(
        ak::Event::
            keyEventWithType_location_modifierFlags_timestamp_windowNumber_context_characters_charactersIgnoringModifiers_isARepeat_keyCode(
                type, {}, flags, ns::Clock::now(), window ? window->windowNumber() : 0, nullptr, characters,
                characters, false, keyCode));
  }
}

void typeText(const ns::Ref<ak::Window>& window, const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    // One UTF-8 character at a time.
    std::size_t n = 1;
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0xF0) {
      n = 4;
    } else if (c >= 0xE0) {
      n = 3;
    } else if (c >= 0xC0) {
      n = 2;
    }
    key(window, 0, text.substr(i, n));
    i += n;
  }
}

void scroll(const ns::Ref<ak::Window>& window, ak::Point location, double deltaX, double deltaY) {
  post(ak::Event::scrollWheelEvent(location, 0, ns::Clock::now(), window ? window->windowNumber() : 0, deltaX,
                                   deltaY));
}

std::string renderWindow(const ns::Ref<ak::Window>& window, const std::string& name) {
  window->displayIfNeeded();
  auto rep = window->backingStore();
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string file = info ? std::string(info->test_suite_name()) + "." + info->name() + "-" + name : name;
  for (char& c : file) {
    if (c == '/' || c == '\\') c = '_';
  }
  const std::string path = snapshotFolder() + "/" + file + ".png";
  if (!rep) return path;
  if (auto png = rep->representationUsingType_properties(ak::BitmapImageFileType::PNG)) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
  }
  return path;
}

ak::RGBA windowPixel(const ns::Ref<ak::Window>& window, double x, double y) {
  window->displayIfNeeded();
  auto rep = window->backingStore();
  if (!rep) return {};
  const double top = double(rep->pixelsHigh()) - 1 - std::floor(y);
  if (x < 0 || top < 0) return {};
  return rep->pixelAtX_y(std::size_t(x), std::size_t(top));
}

}  // namespace pltest
