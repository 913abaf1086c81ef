// The display pass: views draw back to front into the window's cairo backing store, each in
// its own coordinates, clipped to its bounds, with its graphics state saved around it. Layer
// properties (rotation about the anchor point, opacity, background, corner radius, shadow) are
// applied as the view is composited.
#include <algorithm>
#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/DrawingInternal.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/Shadow.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/runloop/Thread.h"

namespace ak {

// Maps points as (a x + c y + tx, b x + d y + ty).
struct Window::Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  Point apply(const Point& p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  // `first` applies to points before this.
  Affine after(const Affine& first) const {
    return {a * first.a + c * first.b, b * first.a + d * first.b,        a * first.c + c * first.d,
            b * first.c + d * first.d, a * first.tx + c * first.ty + tx, b * first.tx + d * first.ty + ty};
  }
  bool isAxisAligned() const { return b == 0 && c == 0; }
  Rect boundingBox(const Rect& r) const {
    Point pts[4] = {apply(r.origin), apply({MaxX(r), MinY(r)}), apply({MinX(r), MaxY(r)}),
                    apply({MaxX(r), MaxY(r)})};
    double x0 = pts[0].x, x1 = pts[0].x, y0 = pts[0].y, y1 = pts[0].y;
    for (const auto& p : pts) {
      x0 = std::min(x0, p.x);
      x1 = std::max(x1, p.x);
      y0 = std::min(y0, p.y);
      y1 = std::max(y1, p.y);
    }
    return MakeRect(x0, y0, x1 - x0, y1 - y0);
  }
  AffineTransform transform() const { return AffineTransform(AffineTransformStruct{a, b, c, d, tx, ty}); }
};

void Window::invalidateRect(const Rect& rect) {
  if (!IsSaneRect(rect)) return;
  Rect r = IntersectionRect(rect, MakeRect(0, 0, frame_.size.width, frame_.size.height));
  if (IsEmptyRect(r)) return;
  bool first = false;
  {
    std::lock_guard lock(drawMutex_);
    first = IsEmptyRect(dirty_);
    dirty_ = first ? r : UnionRect(dirty_, r);
  }
  // The main loop may be asleep: the first dirty rectangle wakes it to display.
  if (first) Application::wakeMainLoop();
}

bool Window::viewsNeedDisplay() const {
  std::lock_guard lock(drawMutex_);
  return !IsEmptyRect(dirty_);
}

void Window::setViewsNeedDisplay(bool needs) {
  if (needs) {
    invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  } else {
    std::lock_guard lock(drawMutex_);
    dirty_ = ZeroRect;
  }
}

void Window::ensureBacking() {
  const auto w = std::size_t(std::max(1.0, std::ceil(frame_.size.width * backingScale_)));
  const auto h = std::size_t(std::max(1.0, std::ceil(frame_.size.height * backingScale_)));
  const bool sized = backing_ && backing_->pixelsWide() == w && backing_->pixelsHigh() == h;
  // The system's own kind of surface once it can make one (the window shown): it shows what
  // is drawn there without copying it first.
  auto presenter = ns::Thread::isMainThread() ? activePresenter() : nullptr;
  if (sized && (backingShown_ || !presenter)) return;
  ns::Ref<BitmapImageRep> shown;
  if (presenter) shown = BitmapImageRep::withSurface(presenter->createBackingSurface(*this, int(w), int(h)));
  if (sized && !shown) return;
  backingShown_ = shown != nullptr;
  backing_ = shown ? shown : ns::make<BitmapImageRep>(w, h, true);
  // Its size in points is the window's: drawing in points lands on scaled pixels.
  backing_->setSize(
      MakeSize(std::max(1.0, std::ceil(frame_.size.width)), std::max(1.0, std::ceil(frame_.size.height))));
  context_ = GraphicsContext::graphicsContextWithBitmapImageRep(backing_);
  dirty_ = MakeRect(0, 0, frame_.size.width, frame_.size.height);
}

void Window::display() {
  invalidateRect(MakeRect(0, 0, frame_.size.width, frame_.size.height));
  displayIfNeeded();
}

void Window::displayView_inRect(const ns::Ref<View>& view, const Rect& rect) {
  if (!view) return;
  invalidateRect(view->convertRect_toView(IntersectionRect(rect, view->bounds()), nullptr));
  // Possibly on a drawing thread: only the pass, under the locks, nothing else of the window.
  drawDirty();
}

void Window::displayIfNeeded() {
  if (closed_ || !themeFrame_) return;
  auto keep = self<Window>();
  std::lock_guard lock(drawMutex_);
  updateTrackingAreas();
  drawDirty();
}

void Window::drawDirty() {
  if (closed_ || !themeFrame_) return;
  std::lock_guard lock(drawMutex_);
  ensureBacking();
  Rect dirty = IntersectionRect(dirty_, MakeRect(0, 0, frame_.size.width, frame_.size.height));
  dirty_ = ZeroRect;
  if (IsEmptyRect(dirty)) return;
  // Whole backing pixels: a clip edge through a pixel would clear it in part and redraw it in
  // part, and leave a faint seam where two redrawn areas meet.
  const double scale = backingScale_ > 0 ? backingScale_ : 1;
  const double x0 = std::floor(MinX(dirty) * scale) / scale, y0 = std::floor(MinY(dirty) * scale) / scale;
  const double x1 = std::ceil(MaxX(dirty) * scale) / scale, y1 = std::ceil(MaxY(dirty) * scale) / scale;
  dirty = IntersectionRect(MakeRect(x0, y0, x1 - x0, y1 - y0),
                           MakeRect(0, 0, backing_->pixelsWide() / scale, backing_->pixelsHigh() / scale));
  auto previous = GraphicsContext::currentContext();
  GraphicsContext::setCurrentContext(context_);
  auto& ctx = *context_;
  cairo_t* cr = ctx.native().cr;
  ctx.saveGState();
  ctx.setCTM(AffineTransform());
  ctx.clipToRect(dirty);
  // A picture playing in an opaque view damages only that view: what lies under it is neither
  // cleared nor drawn.
  occluderPath_.clear();
  if (!findOccluder(themeFrame_, dirty, Affine(), false, dirty)) {
    occluderPath_.clear();
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);
  }
  drawTree(themeFrame_, dirty, Affine(), false);
  occluderPath_.clear();
  ctx.restoreGState();
  ctx.flushGraphics();
  GraphicsContext::setCurrentContext(previous);
  if (auto presenter = activePresenter()) presenter->windowDrew(*this, dirty);
}

// Looks in drawing order from the top down for the opaque view whose visible part covers
// `dirty` (`clip`: what the ancestors leave visible), through views drawn plainly (no
// transparency, turn, shadow or rounded mask), and records it with its ancestors.
bool Window::findOccluder(const ns::Ref<View>& view, const Rect& dirty, const Affine& parent,
                          bool parentFlipped, const Rect& clip) {
  if (view->isHidden() || view->alphaValue() < 1) return false;
  if (auto layer = view->wantsLayer() ? view->layer() : nullptr) {
    const double angle = layer->presentationRotation();
    if (layer->presentationOpacity() < 1 || (angle != 0 && std::isfinite(angle)) ||
        layer->shadowOpacity() > 0 || (layer->masksToBounds() && layer->cornerRadius() > 0))
      return false;
  }
  const View::Transform local = view->transformToSuperviewFlipped(parentFlipped);
  const Affine m = parent.after(Affine{local.xx, 0, 0, local.yy, local.x0, local.y0});
  if (!m.isAxisAligned() || m.a <= 0 || m.d == 0) return false;
  const Rect visible = IntersectionRect(m.boundingBox(view->bounds()), clip);
  const double slack = 1e-6;
  if (MinX(visible) > MinX(dirty) + slack || MinY(visible) > MinY(dirty) + slack ||
      MaxX(visible) < MaxX(dirty) - slack || MaxY(visible) < MaxY(dirty) - slack)
    return false;
  occluderPath_.push_back(view.get());
  const auto subviews = view->subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
    if (findOccluder(*it, dirty, m, view->isFlipped(), visible)) return true;
  if (view->isOpaque()) return true;
  occluderPath_.pop_back();
  return false;
}

void Window::drawTree(const ns::Ref<View>& view, const Rect& dirty, const Affine& parent,
                      bool parentFlipped) {
  if (view->isHidden()) return;
  // Before the occluder: its ancestors set up their coordinates and clips but draw nothing of
  // their own, and everything else lies under it.
  bool under = false;
  if (!occluderPath_.empty()) {
    if (std::find(occluderPath_.begin(), occluderPath_.end(), view.get()) == occluderPath_.end()) {
      view->clearNeedsDisplay();
      return;
    }
    under = view.get() != occluderPath_.back();
    if (!under) occluderPath_.clear();
  }
  const View::Transform local = view->transformToSuperviewFlipped(parentFlipped);
  Affine m = parent.after(Affine{local.xx, 0, 0, local.yy, local.x0, local.y0});
  const Rect bounds = view->bounds();
  auto layer = view->wantsLayer() ? view->layer() : nullptr;
  double opacity = view->alphaValue();
  if (layer) {
    opacity *= layer->presentationOpacity();
    const double angle = layer->presentationRotation();
    if (angle != 0 && std::isfinite(angle)) {
      const Point pivot{bounds.origin.x + layer->anchorPoint().x * bounds.size.width,
                        bounds.origin.y + layer->anchorPoint().y * bounds.size.height};
      const double cs = std::cos(angle), sn = std::sin(angle);
      Affine rotate{
          cs, sn, -sn, cs, pivot.x - cs * pivot.x + sn * pivot.y, pivot.y - sn * pivot.x - cs * pivot.y};
      m = m.after(rotate);
    }
  }
  const Size out = layer ? layer->outset() : ZeroSize;
  const Rect onWindow = m.boundingBox(InsetRect(bounds, -out.width, -out.height));
  if (IsEmptyRect(IntersectionRect(onWindow, dirty)) || opacity <= 0) {
    view->clearNeedsDisplay();
    return;
  }
  std::lock_guard viewLock(view->drawingLock());
  auto& ctx = *context_;
  cairo_t* cr = ctx.native().cr;
  const bool shadow = layer && layer->shadowOpacity() > 0;
  const bool group = opacity < 1 || shadow;
  ctx.saveGState();
  if (group) cairo_push_group(cr);
  ctx.setCTM(m.transform());
  if (layer && layer->backgroundColor() && !under) {
    layer->backgroundColor()->setFill();
    if (layer->cornerRadius() > 0) {
      BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(bounds, layer->cornerRadius(),
                                                            layer->cornerRadius())
          ->fill();
    } else {
      RectFillUsingOperation(bounds, CompositingOperation::SourceOver);
    }
  }
  ctx.clipToRect(bounds);
  if (layer && layer->masksToBounds() && layer->cornerRadius() > 0) {
    BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(bounds, layer->cornerRadius(),
                                                          layer->cornerRadius())
        ->addClip();
  }
  Rect dirtyInView = bounds;
  if (m.isAxisAligned() && m.a != 0 && m.d != 0) {
    const Point a{(dirty.origin.x - m.tx) / m.a, (dirty.origin.y - m.ty) / m.d};
    const Point b{(MaxX(dirty) - m.tx) / m.a, (MaxY(dirty) - m.ty) / m.d};
    dirtyInView = IntersectionRect(
        bounds, MakeRect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y)));
  }
  {
    // Whatever drawRect leaves saved is restored here, so its clip never reaches a sibling.
    const std::size_t depth = ctx.native().saved.size();
    const std::size_t threadDepth = GraphicsContext::graphicsStateDepth();
    ctx.saveGState();
    if (!under) view->drawRect(dirtyInView);
    GraphicsContext::restoreGraphicsStateToDepth(threadDepth);
    if (GraphicsContext::currentContext() != context_) GraphicsContext::setCurrentContext(context_);
    while (ctx.native().saved.size() > depth) ctx.restoreGState();
  }
  view->clearNeedsDisplay();
  auto subviews = view->subviews();
  const bool flipped = view->isFlipped();
  for (const auto& sub : subviews) drawTree(sub, dirty, m, flipped);
  if (group) {
    cairo_pattern_t* pattern = cairo_pop_group(cr);
    ctx.saveGState();
    if (shadow) {
      auto color = layer->shadowColor();
      double rgba[4] = {0, 0, 0, 1};
      if (color) colorComponents(*color, rgba);
      Shadow layerShadow;
      layerShadow.setShadowOffset(layer->shadowOffset());
      layerShadow.setShadowBlurRadius(layer->shadowRadius());
      layerShadow.setShadowColor(Color::colorWithDeviceRed_green_blue_alpha(
          rgba[0], rgba[1], rgba[2], rgba[3] * layer->shadowOpacity()));
      ctx.setShadow(&layerShadow);
    }
    // The group goes down with the layer's shadow (blurred as any shadow) and its opacity.
    ctx.native().draw(
        [pattern](cairo_t* c) {
          cairo_set_source(c, pattern);
          cairo_paint(c);
        },
        CAIRO_OPERATOR_OVER, opacity);
    ctx.restoreGState();
    cairo_pattern_destroy(pattern);
  }
  ctx.restoreGState();
}

}  // namespace ak
