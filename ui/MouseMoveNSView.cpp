#include "ui/MouseMoveNSView.h"

#include "common/AppUtilities.h"
#include "common/IPlayerViewController.h"
#include "lib/foundation/TimerBlocks.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/UINotifications.h"

void MouseMoveNSView::initWithCoder(ak::NibCoder& coder) {
  ns::Log("init!");
  ak::View::initWithCoder(coder);
  mouseMoved_ = false;
}

void MouseMoveNSView::mouseMoved(const ns::Ref<ak::Event>& event) {
  if (!event) return;
  const ak::Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  // The point is in the view's own coordinates, so it is compared with the bounds.
  if (!ak::PointInRect(p, bounds())) {
    mouseInWindow_ = false;
    return;
  }
  mouseInWindow_ = true;
  if (!mouseMoved_) {
    mouseMoved_ = true;
    postNotification(kFullScreenMouseMovedNotification);
  }
  if (ak::PointInRect(p, playerRect_)) {
    auto player = playerViewController();
    const bool bookmarksVisible = player && player->bookmarksVisible();
    if (!bookmarksVisible || !ak::PointInRect(p, bookmarksRect_)) {
      runMouseIdleTimer();
      return;
    }
  }
  // Over the controls strip or the open bookmarks the controls stay up.
  if (notMovedTimer_) notMovedTimer_->invalidate();
  notMovedTimer_ = nullptr;
}

void MouseMoveNSView::mouseEntered(const ns::Ref<ak::Event>&) {
  mouseInWindow_ = true;
}

void MouseMoveNSView::mouseExited(const ns::Ref<ak::Event>&) {
  runMouseIdleTimer();
  mouseInWindow_ = false;
}

void MouseMoveNSView::runMouseIdleTimer() {
  if (notMovedTimer_) notMovedTimer_->invalidate();
  // The block keeps the view until the timer fires or is invalidated.
  auto me = self<MouseMoveNSView>();
  notMovedTimer_ = TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(
      2.0,
      [me](ns::Ref<ns::Timer>) {
        me->mouseMoved_ = false;
        postNotification(kFullScreenMouseIdleNotification);
      },
      false);
}

void MouseMoveNSView::stopMouseIdleTimer() {
  if (notMovedTimer_) notMovedTimer_->invalidate();
  mouseMoved_ = false;
}

void MouseMoveNSView::drawRect(const ak::Rect& dirtyRect) {
  ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(bounds(), 0.0, 0.0)->addClip();
  ak::Color::colorWithDeviceWhite_alpha(0, 1)->setFill();
  ak::RectFill(dirtyRect);
}

PL_CLASS(MouseMoveNSView, ak::View) {}
