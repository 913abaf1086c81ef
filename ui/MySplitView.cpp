#include "ui/MySplitView.h"

#include "common/IMainWindowController.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Window.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"

void MySplitView::drawRect(const ak::Rect& dirtyRect) {
  ak::Color::colorWithDeviceWhite_alpha(0, 1)->setFill();
  ak::RectFill(dirtyRect);
  // The platform's split view draws the dividers from here.
  ConstrainedSplitView::drawRect(dirtyRect);
}

void MySplitView::drawDividerInRect(const ak::Rect& rect) {
  if (auto color = dividerColor()) color->set();
  ak::RectFill(rect);
}

ak::Rect MySplitView::dividerHitRect() const {
  const auto& views = subviews();
  const ak::Rect b = bounds();
  double x = 0;
  if (!views.empty() && !isSubviewCollapsed(views.front())) x = ak::MaxX(views.front()->frame());
  return ak::InsetRect(ak::MakeRect(x, b.origin.y, dividerThickness(), b.size.height), -2.0, 0);
}

void MySplitView::mouseDown(const ns::Ref<ak::Event>& event) {
  if (!event) return;
  auto controller = mainWindowController();
  if (controller && controller->isFullScreen()) {
    ConstrainedSplitView::mouseDown(event);
    return;
  }
  const ak::Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  if (mouse_inRect(p, dividerHitRect())) {
    ConstrainedSplitView::mouseDown(event);
    return;
  }
  auto w = window();
  if (!w) return;
  auto keep = self<MySplitView>();
  auto app = ak::Application::sharedApplication();
  ak::Point origin = w->frame().origin;
  ak::Point last = event->locationInScreen();
  for (;;) {
    auto next = app->nextEventMatchingMask_untilDate_inMode_dequeue(0x46, ns::Date::distantFuture(),
                                                                    ns::EventTrackingRunLoopMode, true);
    if (!next) {
      mouseUp(nullptr);
      return;
    }
    if (next->type() == ak::EventType::LeftMouseUp) {
      mouseUp(next);
      return;
    }
    const ak::Point at = next->locationInScreen();
    origin.x += at.x - last.x;
    origin.y += at.y - last.y;
    w->setFrameOrigin(origin);
    last = at;
  }
}

PL_CLASS(MySplitView, ConstrainedSplitView) {}
