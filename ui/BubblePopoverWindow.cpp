#include "ui/BubblePopoverWindow.h"

#include <atomic>

#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"

using ak::MakeRect;
using ak::Rect;

namespace {

std::atomic<int> screenUpdatesDisabled{0};

}  // namespace

void NSDisableScreenUpdates() {
  ++screenUpdatesDisabled;
}

void NSEnableScreenUpdates() {
  if (screenUpdatesDisabled > 0) --screenUpdatesDisabled;
}

int ScreenUpdatesDisabledCount() {
  return screenUpdatesDisabled;
}

void BubblePopoverWindow::initWithContentRect_styleMask_backing_defer(const Rect& contentRect, unsigned long,
                                                                      ak::BackingStoreType backing,
                                                                      bool defer) {
  // The base initialiser installs a placeholder content view of its own.
  baseInit_ = true;
  Window::initWithContentRect_styleMask_backing_defer(contentRect, ak::BorderlessWindowMask, backing, defer);
  baseInit_ = false;
  setBackgroundColor(ak::colors::clearColor());
  setMovableByWindowBackground(false);
  setAlphaValue(1.0);
  setOpaque(false);
  setHasShadow(true);
}

// ---- content ----

void BubblePopoverWindow::setContentView(const ns::Ref<ak::View>& view) {
  if (baseInit_) {
    Window::setContentView(view);
    return;
  }
  if (view == popoverContentView_ ||
      (view && popoverContentView_ && view->isEqual(popoverContentView_.get())))
    return;
  auto keep = self<BubblePopoverWindow>();
  if (!frameView_) {
    frameView_ = ak::make<BubblePopoverWindowFrame>(ak::ZeroRect);
    Window::setContentView(frameView_);
    frameView_->setAutoresizingMask(ak::ViewNotSizable);
  }
  const Rect viewFrame = view ? view->frame() : ak::ZeroRect;
  Rect bounds = frameView_->frameRectForContentRect(viewFrame);
  bounds.origin = ak::ZeroPoint;
  Rect windowFrame = frame();
  windowFrame.size = bounds.size;
  setFrame_display(windowFrame, false);
  if (popoverContentView_) popoverContentView_->removeFromSuperview();
  popoverContentView_ = view;
  if (!view) return;
  view->setFrame(frameView_->contentRectForFrameRect(bounds));
  view->setAutoresizingMask(ak::ViewNotSizable);
  frameView_->addSubview(view);
}

void BubblePopoverWindow::setContentSize(const ak::Size& size) {
  if (!frameView_) return;
  Rect bounds = frameView_->frameRectForContentRect(ak::Rect{ak::ZeroPoint, size});
  setFrame_display(ak::Rect{frame().origin, bounds.size}, false);
}

Rect BubblePopoverWindow::contentRectForFrameRect(const Rect& frameRect) {
  return frameView_ ? frameView_->contentRectForFrameRect(frameRect) : ak::ZeroRect;
}

Rect BubblePopoverWindow::frameRectForContentRect(const Rect& contentRect) {
  return frameView_ ? frameView_->frameRectForContentRect(contentRect) : ak::ZeroRect;
}

void BubblePopoverWindow::setFrame_display(const Rect& frame, bool display) {
  Window::setFrame_display(frame, display);
  keepFrameViewFilling();
}

void BubblePopoverWindow::keepFrameViewFilling() {
  if (!frameView_) return;
  const Rect filling = MakeRect(0, 0, frame().size.width, frame().size.height);
  if (!(frameView_->frame() == filling)) frameView_->setFrame(filling);
}

void BubblePopoverWindow::redisplayFrame() {
  if (frameView_) frameView_->setNeedsDisplay(true);
}

// ---- geometry that keeps the arrow edge in place ----

int BubblePopoverWindow::popoverPosition() const {
  return frameView_ ? frameView_->popoverPosition() : 1;
}

void BubblePopoverWindow::setPopoverPosition(int position) {
  if (!frameView_ || position == frameView_->popoverPosition()) return;
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto keep = self<BubblePopoverWindow>();
  Rect w = frame();
  const ak::Point a = frameView_->attachmentPoint();
  const double allowance = frameView_->arrowHeight() + frameView_->distance();
  auto adjust = [&](int pos, double sign) {
    switch (BubbleArrowEdgeForPosition(pos)) {
      case BubbleArrowEdge::Right:
      case BubbleArrowEdge::Left:
        w.size.width += sign * allowance;
        break;
      case BubbleArrowEdge::Top:
      case BubbleArrowEdge::Bottom:
        w.size.height += sign * allowance;
        break;
      case BubbleArrowEdge::None:
        break;
    }
  };
  adjust(frameView_->popoverPosition(), -1);
  frameView_->setPopoverPosition(position);
  adjust(position, +1);
  const ak::Point moved = frameView_->attachmentPointForRect(MakeRect(0, 0, w.size.width, w.size.height));

  const bool wasVisible = isVisible();
  const bool wasKey = isKeyWindow();
  if (wasVisible) {
    NSDisableScreenUpdates();
    orderOut(nullptr);
  }
  if (popoverContentView_) {
    popoverContentView_->setFrame(
        frameView_->contentRectForFrameRect(MakeRect(0, 0, w.size.width, w.size.height)));
  }
  redisplayFrame();
  setFrame_display(
      MakeRect(w.origin.x + (a.x - moved.x), w.origin.y + (a.y - moved.y), w.size.width, w.size.height),
      true);
  if (wasVisible) {
    if (wasKey) {
      makeKeyAndOrderFront(nullptr);
    } else {
      orderFront(nullptr);
    }
    NSEnableScreenUpdates();
  }
}

void BubblePopoverWindow::changeArrowAllowance(double delta) {
  Rect w = frame();
  Rect k = frameView_->contentRectForFrameRect(MakeRect(0, 0, w.size.width, w.size.height));
  switch (BubbleArrowEdgeForPosition(frameView_->popoverPosition())) {
    case BubbleArrowEdge::Right:
      w.origin.x -= delta;
      w.size.width += delta;
      break;
    case BubbleArrowEdge::Top:
      w.origin.y -= delta;
      w.size.height += delta;
      break;
    case BubbleArrowEdge::Left:
      w.size.width += delta;
      k.origin.x += delta;
      break;
    case BubbleArrowEdge::Bottom:
      w.size.height += delta;
      k.origin.y += delta;
      break;
    case BubbleArrowEdge::None:
      break;
  }
  if (popoverContentView_) popoverContentView_->setFrame(k);
  setFrame_display(w, true);
}

double BubblePopoverWindow::distance() const {
  return frameView_ ? frameView_->distance() : 0;
}

void BubblePopoverWindow::setDistance(double distance) {
  if (!frameView_) return;
  const double delta = distance - frameView_->distance();
  if (delta == 0) return;
  auto keep = self<BubblePopoverWindow>();
  frameView_->setDistance(distance);
  changeArrowAllowance(delta);
}

double BubblePopoverWindow::arrowHeight() const {
  return frameView_ ? frameView_->arrowHeight() : 0;
}

void BubblePopoverWindow::setArrowHeight(double height) {
  if (!frameView_) return;
  const double delta = height - frameView_->arrowHeight();
  if (delta == 0) return;
  auto keep = self<BubblePopoverWindow>();
  frameView_->setArrowHeight(height);
  changeArrowAllowance(delta);
}

void BubblePopoverWindow::changeEdgeWidth(double delta) {
  Rect w = frame();
  w = MakeRect(w.origin.x - delta, w.origin.y - delta, w.size.width + 2 * delta, w.size.height + 2 * delta);
  switch (BubbleArrowEdgeForPosition(frameView_->popoverPosition())) {
    case BubbleArrowEdge::Right:
      w.origin.x -= delta;
      break;
    case BubbleArrowEdge::Top:
      w.origin.y -= delta;
      break;
    case BubbleArrowEdge::Left:
      w.origin.x += delta;
      break;
    case BubbleArrowEdge::Bottom:
      w.origin.y += delta;
      break;
    case BubbleArrowEdge::None:
      break;
  }
  if (popoverContentView_) {
    popoverContentView_->setFrame(
        frameView_->contentRectForFrameRect(MakeRect(0, 0, w.size.width, w.size.height)));
  }
  setFrame_display(w, true);
}

double BubblePopoverWindow::borderWidth() const {
  return frameView_ ? frameView_->borderWidth() : 0;
}

void BubblePopoverWindow::setBorderWidth(double width) {
  if (!frameView_) return;
  const double delta = width - frameView_->borderWidth();
  if (delta == 0) return;
  auto keep = self<BubblePopoverWindow>();
  frameView_->setBorderWidth(width);
  changeEdgeWidth(delta);
}

double BubblePopoverWindow::viewMargin() const {
  return frameView_ ? frameView_->viewMargin() : 0;
}

void BubblePopoverWindow::setViewMargin(double margin) {
  if (!frameView_) return;
  const double delta = margin - frameView_->viewMargin();
  if (delta == 0) return;
  auto keep = self<BubblePopoverWindow>();
  frameView_->setViewMargin(margin);
  changeEdgeWidth(delta);
}

// ---- appearance ----

ns::Ref<ak::Color> BubblePopoverWindow::borderColor() const {
  return frameView_ ? frameView_->borderColor() : nullptr;
}

void BubblePopoverWindow::setBorderColor(const ns::Ref<ak::Color>& color) {
  if (!frameView_) return;
  frameView_->setBorderColor(color);
  redisplayFrame();
}

double BubblePopoverWindow::cornerRadius() const {
  return frameView_ ? frameView_->cornerRadius() : 0;
}

void BubblePopoverWindow::setCornerRadius(double radius) {
  if (!frameView_) return;
  frameView_->setCornerRadius(radius);
  redisplayFrame();
}

bool BubblePopoverWindow::drawsArrow() const {
  return frameView_ && frameView_->drawsArrow();
}

void BubblePopoverWindow::setDrawsArrow(bool draws) {
  if (!frameView_) return;
  frameView_->setDrawsArrow(draws);
  redisplayFrame();
}

double BubblePopoverWindow::arrowWidth() const {
  return frameView_ ? frameView_->arrowWidth() : 0;
}

void BubblePopoverWindow::setArrowWidth(double width) {
  if (!frameView_) return;
  frameView_->setArrowWidth(width);
  redisplayFrame();
}

bool BubblePopoverWindow::drawRoundCornerBesideArrow() const {
  return frameView_ && frameView_->drawRoundCornerBesideArrow();
}

void BubblePopoverWindow::setDrawRoundCornerBesideArrow(bool draws) {
  if (!frameView_) return;
  frameView_->setDrawRoundCornerBesideArrow(draws);
  redisplayFrame();
}

ns::Ref<ak::Color> BubblePopoverWindow::popoverBackgroundColor() const {
  return frameView_ ? frameView_->backgroundColor() : nullptr;
}

void BubblePopoverWindow::setPopoverBackgroundColor(const ns::Ref<ak::Color>& color) {
  if (!frameView_) return;
  frameView_->setBackgroundColor(color);
  redisplayFrame();
}

bool BubblePopoverWindow::isMovable() const {
  return frameView_ && frameView_->isMovable();
}

void BubblePopoverWindow::setMovable(bool movable) {
  if (frameView_) frameView_->setMovable(movable);
}

bool BubblePopoverWindow::isResizable() const {
  return frameView_ && frameView_->isResizable();
}

void BubblePopoverWindow::setResizable(bool resizable) {
  if (frameView_) frameView_->setResizable(resizable);
}

PL_CLASS(BubblePopoverWindow, ak::Window) {}
