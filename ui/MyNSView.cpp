#include "ui/MyNSView.h"

#include "common/IMainWindowController.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"

void MyNSView::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  cornerRadius_ = 0.0f;
  backgroundColor_ = ak::colors::clearColor();
}

void MyNSView::drawRect(const ak::Rect& dirtyRect) {
  const ak::Rect bounds = this->bounds();
  if (auto block = drawingBlock()) {
    auto outline = ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(bounds, 0, 0);
    block(*outline, bounds);
  } else {
    ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(bounds, cornerRadius_, cornerRadius_)
        ->addClip();
    if (backgroundColor_) {
      backgroundColor_->set();
      ak::RectFillUsingOperation(dirtyRect, ak::CompositingOperation::SourceOver);
    }
  }
  ak::View::drawRect(dirtyRect);
}

bool MyNSView::mouseDownCanMoveWindow() const {
  auto controller = mainWindowController();
  return !(controller && controller->isFullScreen());
}

MyNSView::DrawingBlock MyNSView::drawingBlock() const {
  std::lock_guard lock(blockMutex_);
  return drawingBlock_;
}

void MyNSView::setDrawingBlock(DrawingBlock block) {
  std::lock_guard lock(blockMutex_);
  drawingBlock_ = std::move(block);
}
