#include "platform/appkit/View.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Animation.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {

using MenuPresenter = std::function<void(const ns::Ref<Menu>&, const ns::Ref<Event>&, const ns::Ref<View>&)>;
MenuPresenter& menuPresenter() {
  static ns::NoDestructor<MenuPresenter> presenter;
  return *presenter;
}

// Refuses non-finite numbers; clamps negative sizes to zero. Answers false when refused.
bool sanitize(Rect& r, const char* what) {
  if (!std::isfinite(r.origin.x) || !std::isfinite(r.origin.y) || !std::isfinite(r.size.width) ||
      !std::isfinite(r.size.height)) {
    ns::Log("View: %s with a non-finite rectangle refused", what);
    return false;
  }
  r.size.width = std::max(0.0, r.size.width);
  r.size.height = std::max(0.0, r.size.height);
  return true;
}

View::Transform compose(const View::Transform& first, const View::Transform& then) {
  return {then.xx * first.xx, then.yy * first.yy, then.xx * first.x0 + then.x0, then.yy * first.y0 + then.y0};
}

Rect transformRect(const View::Transform& t, const Rect& r, bool inverse) {
  Point a = inverse ? t.invert(r.origin) : t.apply(r.origin);
  Point b = inverse ? t.invert({MaxX(r), MaxY(r)}) : t.apply({MaxX(r), MaxY(r)});
  return MakeRect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
}

// Shares `delta` among the flexible parts in proportion to their sizes (equally when those
// sizes add up to nothing).
void distribute(double delta, bool flex[3], double parts[3]) {
  double sum = 0;
  int count = 0;
  for (int i = 0; i < 3; ++i) {
    if (flex[i]) {
      sum += std::max(0.0, parts[i]);
      ++count;
    }
  }
  if (count == 0 || delta == 0) return;
  for (int i = 0; i < 3; ++i) {
    if (!flex[i]) continue;
    parts[i] += sum > 0 ? delta * std::max(0.0, parts[i]) / sum : delta / count;
  }
}

}  // namespace

View::View() = default;
View::~View() = default;

void View::initWithFrame(const Rect& frame) {
  Rect f = frame;
  if (!sanitize(f, "initWithFrame")) f = ZeroRect;
  frame_ = f;
  bounds_ = Rect{ZeroPoint, f.size};
}

void View::initWithCoder(NibCoder& coder) {
  initWithFrame(coder.frame);
  autoresizingMask_ = coder.autoresizingMask;
  identifier_ = coder.identifier;
  hidden_ = coder.hidden;
  if (coder.tag) tag_ = *coder.tag;
  // The subviews are in place before a subclass's initialiser goes on.
  for (const auto& sub : coder.subviews) addSubview(sub);
}

// ---- geometry ----

void View::setFrame(const Rect& frame) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  Rect f = frame;
  if (!sanitize(f, "setFrame")) return;
  if (f == frame_) return;
  auto win = window();
  if (win && !hidden_) win->invalidateRect(paintedRectInWindow());
  const Size oldBoundsSize = bounds_.size;
  const bool sizeChanged = !(f.size == frame_.size);
  const Size oldFrameSize = frame_.size;
  frame_ = f;
  if (!boundsSizeSet_) {
    bounds_.size = f.size;
  } else {
    // A scaled view keeps its scale: the bounds grow with the frame.
    if (oldFrameSize.width > 0) bounds_.size.width = f.size.width * bounds_.size.width / oldFrameSize.width;
    if (oldFrameSize.height > 0)
      bounds_.size.height = f.size.height * bounds_.size.height / oldFrameSize.height;
  }
  if (sizeChanged) resizeSubviewsWithOldSize(oldBoundsSize);
  markTrackingAreasNeedUpdate();
  setNeedsDisplay(true);
  if (win) win->invalidateCursorRectsForView(self<View>());
  postFrameChanged();
}

void View::setFrameOrigin(const Point& origin) {
  setFrame(Rect{origin, frame_.size});
}
void View::setFrameSize(const Size& size) {
  setFrame(Rect{frame_.origin, size});
}

void View::setBounds(const Rect& bounds) {
  Rect b = bounds;
  if (!sanitize(b, "setBounds")) return;
  if (b == bounds_) return;
  boundsSizeSet_ = !(b.size == frame_.size);
  bounds_ = b;
  markTrackingAreasNeedUpdate();
  setNeedsDisplay(true);
  postBoundsChanged();
}

void View::setBoundsOrigin(const Point& origin) {
  setBounds(Rect{origin, bounds_.size});
}
void View::setBoundsSize(const Size& size) {
  setBounds(Rect{bounds_.origin, size});
}

void View::postFrameChanged() {
  if (!postsFrameChanged_) return;
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(ViewFrameDidChangeNotification,
                                                                       self<View>());
}

void View::postBoundsChanged() {
  if (!postsBoundsChanged_) return;
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(ViewBoundsDidChangeNotification,
                                                                       self<View>());
}

void View::resizeSubviewsWithOldSize(const Size& oldSize) {
  if (!autoresizesSubviews_) return;
  auto subs = subviews_;
  for (const auto& sub : subs) sub->resizeWithOldSuperviewSize(oldSize);
}

void View::resizeWithOldSuperviewSize(const Size& oldSize) {
  auto super = superview();
  if (!super || autoresizingMask_ == ViewNotSizable) return;
  const Size newSize = super->bounds().size;
  Rect f = frame_;
  bool hflex[3] = {(autoresizingMask_ & ViewMinXMargin) != 0, (autoresizingMask_ & ViewWidthSizable) != 0,
                   (autoresizingMask_ & ViewMaxXMargin) != 0};
  double h[3] = {f.origin.x, f.size.width, oldSize.width - f.origin.x - f.size.width};
  distribute(newSize.width - oldSize.width, hflex, h);
  bool vflex[3] = {(autoresizingMask_ & ViewMinYMargin) != 0, (autoresizingMask_ & ViewHeightSizable) != 0,
                   (autoresizingMask_ & ViewMaxYMargin) != 0};
  double v[3] = {f.origin.y, f.size.height, oldSize.height - f.origin.y - f.size.height};
  distribute(newSize.height - oldSize.height, vflex, v);
  setFrame(MakeRect(h[0], v[0], std::max(0.0, h[1]), std::max(0.0, v[1])));
}

View::Transform View::transformToSuperview() const {
  auto super = superview();
  return transformToSuperviewFlipped(super ? super->isFlipped() : false);
}

View::Transform View::transformToSuperviewFlipped(bool superFlipped) const {
  const double sx = bounds_.size.width > 0 ? frame_.size.width / bounds_.size.width : 1;
  const double sy = bounds_.size.height > 0 ? frame_.size.height / bounds_.size.height : 1;
  Transform t;
  t.xx = sx;
  t.x0 = frame_.origin.x - bounds_.origin.x * sx;
  if (isFlipped() == superFlipped) {
    t.yy = sy;
    t.y0 = frame_.origin.y - bounds_.origin.y * sy;
  } else {
    t.yy = -sy;
    t.y0 = frame_.origin.y + frame_.size.height + bounds_.origin.y * sy;
  }
  return t;
}

View::Transform View::transformToWindow() const {
  Transform t = transformToSuperview();
  for (auto v = superview(); v; v = v->superview()) t = compose(t, v->transformToSuperview());
  return t;
}

Point View::convertPoint_toView(const Point& point, const View* view) const {
  Point w = transformToWindow().apply(point);
  return view ? view->transformToWindow().invert(w) : w;
}

Point View::convertPoint_fromView(const Point& point, const View* view) const {
  Point w = view ? view->transformToWindow().apply(point) : point;
  return transformToWindow().invert(w);
}

Rect View::convertRect_toView(const Rect& rect, const View* view) const {
  Rect w = transformRect(transformToWindow(), rect, false);
  return view ? transformRect(view->transformToWindow(), w, true) : w;
}

Rect View::convertRect_fromView(const Rect& rect, const View* view) const {
  Rect w = view ? transformRect(view->transformToWindow(), rect, false) : rect;
  return transformRect(transformToWindow(), w, true);
}

Size View::convertSize_toView(const Size& size, const View* view) const {
  return convertRect_toView(Rect{ZeroPoint, size}, view).size;
}

Rect View::paintedRectInWindow() const {
  Rect r = bounds_;
  if (layer_) {
    const Size out = layer_->outset();
    r = InsetRect(r, -out.width, -out.height);
  }
  return convertRect_toView(r, nullptr);
}

Rect View::visibleRect() const {
  Rect r = convertRect_toView(bounds_, nullptr);
  for (auto v = superview(); v; v = v->superview()) {
    r = IntersectionRect(r, v->convertRect_toView(v->bounds(), nullptr));
  }
  return IsEmptyRect(r) ? ZeroRect : convertRect_fromView(r, nullptr);
}

// ---- the tree ----

void View::addSubview(const ns::Ref<View>& view) {
  insertSubview(view, SIZE_MAX);
}

void View::addSubview_positioned_relativeTo(const ns::Ref<View>& view, WindowOrderingMode place,
                                            const ns::Ref<View>& other) {
  if (!view) return;
  std::size_t index = place == WindowOrderingMode::Below ? 0 : SIZE_MAX;
  if (other) {
    auto it = std::find(subviews_.begin(), subviews_.end(), other);
    if (it != subviews_.end()) {
      index = std::size_t(it - subviews_.begin()) + (place == WindowOrderingMode::Below ? 0 : 1);
    }
  }
  insertSubview(view, index);
}

void View::insertSubview(const ns::Ref<View>& view, std::size_t index) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!view || view.get() == this || isDescendantOf(view.get())) {
    ns::Log("View: a view cannot be its own subview, refused");
    return;
  }
  ns::Ref<View> keep = view;
  auto me = self<View>();
  if (view->superview().get() == this) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    std::size_t at = std::size_t(it - subviews_.begin());
    subviews_.erase(it);
    if (index != SIZE_MAX && index > at) --index;
    subviews_.insert(index >= subviews_.size() ? subviews_.end() : subviews_.begin() + long(index), view);
    setNeedsDisplay(true);
    return;
  }
  view->removeFromSuperview();
  view->viewWillMoveToSuperview(me);
  subviews_.insert(index >= subviews_.size() ? subviews_.end() : subviews_.begin() + long(index), view);
  view->superview_ = me;
  view->setWindowInternal(window());
  view->viewDidMoveToSuperview();
  didAddSubview(view);
  view->markTrackingAreasNeedUpdate();
  view->setNeedsDisplay(true);
}

void View::removeFromSuperview() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto super = superview();
  if (!super) return;
  auto keep = self<View>();
  super->willRemoveSubview(keep);
  auto win = window();
  if (win) {
    if (!hidden_) win->invalidateRect(paintedRectInWindow());
    win->viewRemovedInternal(this);
  }
  viewWillMoveToSuperview(nullptr);
  auto& subs = super->subviews_;
  subs.erase(std::remove(subs.begin(), subs.end(), keep), subs.end());
  superview_.reset();
  setWindowInternal(nullptr);
  viewDidMoveToSuperview();
}

void View::setSubviews(const std::vector<ns::Ref<View>>& subviews) {
  auto old = subviews_;
  for (const auto& v : old) {
    if (std::find(subviews.begin(), subviews.end(), v) == subviews.end()) v->removeFromSuperview();
  }
  for (const auto& v : subviews) addSubview(v);
}

void View::replaceSubview_with(const ns::Ref<View>& old, const ns::Ref<View>& replacement) {
  auto it = std::find(subviews_.begin(), subviews_.end(), old);
  if (it == subviews_.end() || !replacement) return;
  std::size_t index = std::size_t(it - subviews_.begin());
  old->removeFromSuperview();
  insertSubview(replacement, index);
}

bool View::isDescendantOf(const View* view) const {
  for (const View* v = this; v;) {
    if (v == view) return true;
    auto s = v->superview();
    v = s.get();
  }
  return false;
}

ns::Ref<View> View::ancestorSharedWithView(const View* view) const {
  for (auto v = std::const_pointer_cast<View>(self<View>()); v; v = v->superview()) {
    if (view && view->isDescendantOf(v.get())) return v;
  }
  return nullptr;
}

ns::Ref<View> View::viewWithTag(long tag) {
  if (tag_ == tag) return self<View>();
  for (const auto& sub : subviews_) {
    if (auto found = sub->viewWithTag(tag)) return found;
  }
  return nullptr;
}

void View::setWindowInternal(const ns::Ref<Window>& window) {
  if (window_.lock() == window && (window || window_.expired())) return;
  auto keep = self<View>();
  viewWillMoveToWindow(window);
  window_ = window;
  auto subs = subviews_;
  for (const auto& sub : subs) sub->setWindowInternal(window);
  markTrackingAreasNeedUpdate();
  for (const auto& area : trackingAreas_) area->setKnowsInside(false);
  viewDidMoveToWindow();
  if (window) {
    window->invalidateCursorRectsForView(keep);
    setNeedsDisplay(true);
  }
}

bool View::inLiveResize() const {
  auto w = window();
  return w && w->inLiveResize();
}

// ---- visibility ----

void View::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  auto win = window();
  if (win && hidden) win->invalidateRect(paintedRectInWindow());
  hidden_ = hidden;
  if (win && hidden) win->viewHiddenInternal(this);
  markTrackingAreasNeedUpdate();
  if (!hidden) setNeedsDisplay(true);
  if (win) win->invalidateCursorRectsForView(self<View>());
}

bool View::isHiddenOrHasHiddenAncestor() const {
  for (const View* v = this; v;) {
    if (v->hidden_) return true;
    auto s = v->superview();
    v = s.get();
  }
  return false;
}

void View::setAlphaValue(double alpha) {
  double a = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : alpha_;
  if (a == alpha_) return;
  alpha_ = a;
  setNeedsDisplay(true);
}

// ---- events ----

ns::Ref<View> View::hitTest(const Point& point) {
  if (hidden_) return nullptr;
  auto super = superview();
  const bool superFlipped = super ? super->isFlipped() : false;
  if (!MouseInRect(point, frame_, superFlipped)) return nullptr;
  Point local = transformToSuperview().invert(point);
  auto subs = subviews_;
  for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
    if (auto hit = (*it)->hitTest(local)) return hit;
  }
  return self<View>();
}

bool View::performKeyEquivalent(const ns::Ref<Event>& event) {
  auto subs = subviews_;
  for (const auto& sub : subs) {
    if (!sub->isHidden() && sub->performKeyEquivalent(event)) return true;
  }
  return false;
}

ns::Ref<Responder> View::nextResponder() const {
  if (hasExplicitNext_) return Responder::nextResponder();
  if (auto controller = viewController_.lock()) return controller;
  if (auto super = superview()) return super;
  return window();
}

void View::rightMouseDown(const ns::Ref<Event>& event) {
  auto menu = menuForEvent(event);
  if (menu && menuPresenter()) {
    menuPresenter()(menu, event, self<View>());
    return;
  }
  if (menu) {
    Menu::popUpContextMenu_withEvent_forView(menu, event, self<View>());
    return;
  }
  Responder::rightMouseDown(event);
}

void View::setContextMenuPresenter(MenuPresenter presenter) {
  menuPresenter() = std::move(presenter);
}

// ---- tracking areas and cursor rects ----

void View::addTrackingArea(const ns::Ref<TrackingArea>& area) {
  if (!area || std::find(trackingAreas_.begin(), trackingAreas_.end(), area) != trackingAreas_.end()) return;
  if (area->options() & TrackingAssumeInside) {
    area->setMouseInside(true);
    area->setKnowsInside(true);
  }
  trackingAreas_.push_back(area);
}

void View::removeTrackingArea(const ns::Ref<TrackingArea>& area) {
  trackingAreas_.erase(std::remove(trackingAreas_.begin(), trackingAreas_.end(), area), trackingAreas_.end());
}

void View::markTrackingAreasNeedUpdate() {
  if (auto w = window_.lock()) w->setTrackingAreasNeedUpdate();
  trackingNeedsUpdate_ = true;
  for (const auto& sub : subviews_) {
    if (!sub->trackingNeedsUpdate_) sub->markTrackingAreasNeedUpdate();
  }
}

void View::addCursorRect_cursor(const Rect& rect, const ns::Ref<Cursor>& cursor) {
  if (cursor && IsSaneRect(rect)) cursorRects_.push_back({rect, cursor});
}

void View::removeCursorRect_cursor(const Rect& rect, const ns::Ref<Cursor>& cursor) {
  cursorRects_.erase(
      std::remove_if(cursorRects_.begin(), cursorRects_.end(),
                     [&](const CursorRect& c) { return c.rect == rect && c.cursor == cursor; }),
      cursorRects_.end());
}

void View::discardCursorRects() {
  cursorRects_.clear();
}

// ---- drawing ----

void View::setNeedsDisplay(bool needs) {
  if (needs) {
    setNeedsDisplayInRect(bounds_);
  } else {
    needsDisplay_ = false;
  }
}

void View::setNeedsDisplayInRect(const Rect& rect) {
  needsDisplay_ = true;
  auto win = window();
  if (!win || isHiddenOrHasHiddenAncestor()) return;
  Rect r = IntersectionRect(rect, bounds_);
  if (IsEmptyRect(r)) return;
  if (layer_) {
    // A shadow paints beyond the view.
    const Size out = layer_->outset();
    r = InsetRect(r, -out.width, -out.height);
  }
  win->invalidateRect(convertRect_toView(r, nullptr));
}

void View::display() {
  displayRect(bounds_);
}

void View::displayIfNeeded() {
  if (auto win = window()) win->displayIfNeeded();
}

void View::displayRect(const Rect& rect) {
  // The pass takes the window's lock, then each view's drawing lock, in that order.
  if (auto win = window()) win->displayView_inRect(self<View>(), rect);
}

bool View::lockFocusIfCanDraw() {
  if (!window() || isHiddenOrHasHiddenAncestor()) return false;
  drawingLock_.lock();
  return true;
}

void View::unlockFocus() {
  drawingLock_.unlock();
}

// ---- layers ----

void View::setWantsLayer(bool wants) {
  wantsLayer_ = wants;
  if (wants) layer();
  setNeedsDisplay(true);
}

ns::Ref<Layer> View::layer() {
  if (!layer_ && wantsLayer_) {
    layer_ = ns::make<Layer>();
    layer_->setDelegate(self<View>());
  }
  return layer_;
}

void View::setLayer(const ns::Ref<Layer>& layer) {
  layer_ = layer;
  if (layer_) layer_->setDelegate(self<View>());
  setNeedsDisplay(true);
}

ns::Ref<BasicAnimation> View::animationForKey(const std::string& key) const {
  auto it = animations_.find(key);
  return it == animations_.end() ? nullptr : it->second;
}

ns::Ref<ViewAnimator> View::animator() {
  return ns::make<ViewAnimator>(self<View>());
}

}  // namespace ak

PL_CLASS_NAMED(ak::View, "NSView", ak::Responder) {}
