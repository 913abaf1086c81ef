#pragma once
// The application's own windows: the main window, which shows the main window controller every
// mouse-down before dispatching it, and the borderless window of the application's own full
// screen, which still takes the keyboard.
#include "platform/appkit/Window.h"
#include "ui/TitlebarWindow.h"

class MyWindow : public TitlebarWindow {
 public:
  // Left and right mouse-downs go to the main window controller first (it closes the search
  // suggestions); every event then goes to the platform once.
  void sendEvent(const ns::Ref<ak::Event>& event) override;
};

class MyFullScreenWindow : public ak::Window {
 public:
  bool canBecomeKeyWindow() const override { return true; }
};
