#include "ui/MyWindow.h"

#include "common/IMainWindowController.h"
#include "platform/appkit/Event.h"
#include "platform/runtime/ClassBuilder.h"

void MyWindow::sendEvent(const ns::Ref<ak::Event>& event) {
  if (event &&
      (event->type() == ak::EventType::LeftMouseDown || event->type() == ak::EventType::RightMouseDown)) {
    if (auto controller = mainWindowController()) controller->checkMouseDownEvent(event);
  }
  TitlebarWindow::sendEvent(event);
}

PL_CLASS(MyWindow, TitlebarWindow) {}
PL_CLASS(MyFullScreenWindow, ak::Window) {}
