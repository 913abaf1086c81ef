#include "platform/appkit/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Color.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"

namespace ak {

void ClipView::setDocumentView(const ns::Ref<View>& view) {
  if (document_ == view) return;
  if (document_) document_->removeFromSuperview();
  document_ = view;
  if (view) {
    addSubview(view);
    scrollToPoint(view->frame().origin);
  }
}

Point ClipView::constrainScrollPoint(const Point& proposed) const {
  if (!document_) return {0, 0};
  Rect doc = document_->frame();
  auto clamp = [](double v, double lo, double span, double window) {
    if (!std::isfinite(v)) v = lo;
    double hi = lo + std::max(0.0, span - window);
    return std::clamp(v, lo, hi);
  };
  return {clamp(proposed.x, doc.origin.x, doc.size.width, bounds_.size.width),
          clamp(proposed.y, doc.origin.y, doc.size.height, bounds_.size.height)};
}

void ClipView::setBoundsOrigin(const Point& origin) {
  if (origin.x == bounds_.origin.x && origin.y == bounds_.origin.y) return;
  View::setBoundsOrigin(origin);
  setNeedsDisplay(true);
}

void ClipView::setBackgroundColor(const ns::Ref<Color>& color) {
  backgroundColor_ = color;
  setNeedsDisplay(true);
}

void ClipView::setDrawsBackground(bool draws) {
  drawsBackground_ = draws;
  setNeedsDisplay(true);
}

void ClipView::drawRect(const Rect& dirtyRect) {
  if (!drawsBackground_ || !backgroundColor_) return;
  backgroundColor_->setFill();
  RectFillUsingOperation(dirtyRect, CompositingOperation::SourceOver);
}

Rect ClipView::documentVisibleRect() const {
  if (!document_) return bounds_;
  return IntersectionRect(bounds_, document_->frame());
}

void ScrollView::initWithFrame(const Rect& frame) {
  View::initWithFrame(frame);
  clip_ = make<ClipView>(Rect{{0, 0}, frame.size});
  clip_->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
  addSubview(clip_);
}

void ScrollView::setFrameSize(const Size& size) {
  View::setFrameSize(size);
  if (clip_) clip_->scrollToPoint(clip_->bounds().origin);
}

namespace {

double wheelStep(double extent) {
  if (!(extent > 0)) return 0;
  return std::min(std::pow(extent, 2.0 / 3.0), extent / 2);
}

}  // namespace

double ScrollView::verticalLineScroll() const {
  return lineScroll_ ? *lineScroll_ : wheelStep(clip_->bounds().size.height);
}

double ScrollView::horizontalLineScroll() const {
  return lineScroll_ ? *lineScroll_ : wheelStep(clip_->bounds().size.width);
}

void ScrollView::scrollWheel(const ns::Ref<Event>& event) {
  if (!clip_->documentView()) return View::scrollWheel(event);
  double dx = event->scrollingDeltaX(), dy = event->scrollingDeltaY();
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  if (!event->hasPreciseScrollingDeltas()) {
    dx *= horizontalLineScroll();
    dy *= verticalLineScroll();
  }
  Point origin = clip_->bounds().origin;
  // A positive delta moves the content down: towards the top of the document.
  origin.x -= dx;
  origin.y += clip_->isFlipped() ? -dy : dy;
  clip_->scrollToPoint(origin);
}

ns::Ref<ClipView> enclosingClipView(const View* view) {
  for (auto v = view ? view->superview() : nullptr; v; v = v->superview())
    if (auto clip = std::dynamic_pointer_cast<ClipView>(v)) return clip;
  return nullptr;
}

ns::Ref<ScrollView> enclosingScrollView(const View* view) {
  for (auto v = view ? view->superview() : nullptr; v; v = v->superview())
    if (auto scroll = std::dynamic_pointer_cast<ScrollView>(v)) return scroll;
  return nullptr;
}

bool scrollRectToVisible(View* view, const Rect& rect) {
  auto clip = enclosingClipView(view);
  if (!clip) return false;
  Rect target = clip->convertRect_fromView(rect, view);
  Rect b = clip->bounds();
  Point origin = b.origin;
  auto fit = [](double o, double len, double start, double size) {
    if (size >= len || start < o) return start;
    if (start + size > o + len) return start + size - len;
    return o;
  };
  origin.x = fit(b.origin.x, b.size.width, target.origin.x, target.size.width);
  origin.y = fit(b.origin.y, b.size.height, target.origin.y, target.size.height);
  Point before = b.origin;
  clip->scrollToPoint(origin);
  Point after = clip->bounds().origin;
  return before.x != after.x || before.y != after.y;
}

bool autoscroll(View* view, const ns::Ref<Event>& event) {
  if (!view || !event) return false;
  const Point p = view->convertPoint_fromView(event->locationInWindow(), nullptr);
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  return scrollRectToVisible(view, Rect{p, {1, 1}});
}

}  // namespace ak
