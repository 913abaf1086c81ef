#include "platform/appkit/SplitView.h"

#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {

const ns::Sel kConstrainMin("splitView:constrainMinCoordinate:ofSubviewAt:");
const ns::Sel kConstrainMax("splitView:constrainMaxCoordinate:ofSubviewAt:");
const ns::Sel kConstrainSplit("splitView:constrainSplitPosition:ofSubviewAt:");
const ns::Sel kResizeSubviews("splitView:resizeSubviewsWithOldSize:");
const ns::Sel kCanCollapse("splitView:canCollapseSubview:");
const ns::Sel kShouldCollapse("splitView:shouldCollapseSubview:forDoubleClickOnDividerAtIndex:");
const ns::Sel kShouldAdjust("splitView:shouldAdjustSizeOfSubview:");

struct Hook {
  const char* notification;
  const char* selector;
};
const Hook kHooks[] = {
    {SplitViewWillResizeSubviewsNotification, "splitViewWillResizeSubviews:"},
    {SplitViewDidResizeSubviewsNotification, "splitViewDidResizeSubviews:"},
};

bool responds(const ns::Ref<ns::Object>& o, ns::Sel sel) {
  return o && ns::respondsToSelector(o, sel);
}

}  // namespace

SplitView::~SplitView() {
  removeDelegateObservers();
}

void SplitView::setVertical(bool vertical) {
  if (vertical_ == vertical) return;
  vertical_ = vertical;
  adjustSubviews();
  setNeedsDisplay(true);
}

void SplitView::setDividerStyle(SplitViewDividerStyle style) {
  dividerStyle_ = style;
  setNeedsDisplay(true);
}

double SplitView::dividerThickness() const {
  return dividerStyle_ == SplitViewDividerStyle::Thin ? 1.0 : 9.0;
}

ns::Ref<Color> SplitView::dividerColor() const {
  return dividerStyle_ == SplitViewDividerStyle::Thin ? Color::colorWithCalibratedWhite_alpha(0.6, 1)
                                                      : Color::colorWithCalibratedWhite_alpha(0.85, 1);
}

void SplitView::drawDividerInRect(const Rect& rect) {
  if (auto c = dividerColor()) c->setFill();
  RectFill(rect);
}

bool SplitView::isSubviewCollapsed(const ns::Ref<View>& subview) const {
  return subview && collapsed_.count(subview.get()) > 0;
}

void SplitView::setDelegate(const ns::Ref<ns::Object>& delegate) {
  removeDelegateObservers();
  delegate_ = delegate;
  registerDelegateObservers();
}

void SplitView::registerDelegateObservers() {
  auto d = delegate_.lock();
  if (!d) return;
  auto center = ns::NotificationCenter::defaultCenter();
  ns::Weak<ns::Object> weak = d;
  for (const auto& hook : kHooks) {
    ns::Sel sel(hook.selector);
    if (!responds(d, sel)) continue;
    delegateTokens_.push_back(center->addObserverForName_object_queue_usingBlock(
        std::string(hook.notification), shared_from_this(), nullptr,
        [weak, sel](const ns::Ref<ns::Notification>& note) {
          if (auto target = weak.lock()) ns::send(target, sel, note);
        }));
  }
}

void SplitView::removeDelegateObservers() {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
  delegateTokens_.clear();
}

std::vector<double> SplitView::sizes() const {
  std::vector<double> out;
  for (const auto& v : subviews()) out.push_back(isSubviewCollapsed(v) ? 0.0 : length(v->frame()));
  return out;
}

void SplitView::apply(const std::vector<double>& sizes) {
  const auto views = subviews();
  const Rect b = bounds();
  const double t = dividerThickness();
  double pos = 0;
  for (std::size_t i = 0; i < views.size() && i < sizes.size(); ++i) {
    const auto& v = views[i];
    const double size = std::max(0.0, sizes[i]);
    v->setFrame(vertical_ ? MakeRect(pos, 0, size, b.size.height) : MakeRect(0, pos, b.size.width, size));
    const bool collapsed = isSubviewCollapsed(v);
    if (v->isHidden() != collapsed) v->setHidden(collapsed);
    pos += size + t;
  }
  setNeedsDisplay(true);
}

void SplitView::setCollapsed(const ns::Ref<View>& subview, bool collapsed) {
  if (collapsed) {
    collapsed_.insert(subview.get());
  } else {
    collapsed_.erase(subview.get());
  }
}

void SplitView::postResize(bool will, long dividerIndex) {
  ns::Dictionary info;
  if (dividerIndex >= 0) info.set(ns::Value(std::string(SplitViewDividerIndexKey)), ns::Value(dividerIndex));
  ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(
      will ? SplitViewWillResizeSubviewsNotification : SplitViewDidResizeSubviewsNotification,
      shared_from_this(), std::move(info));
}

void SplitView::adjustSubviews() {
  const auto views = subviews();
  const double total = length(bounds());
  if (views.empty() || !(total > 0)) return;
  auto current = sizes();
  const double t = dividerThickness();
  const double available = std::max(0.0, total - t * static_cast<double>(views.size() - 1));
  auto d = delegate();
  const bool askAdjust = responds(d, kShouldAdjust);
  double sum = 0, fixedSum = 0;
  std::vector<bool> adjustable(views.size(), true);
  for (std::size_t i = 0; i < views.size(); ++i) {
    if (isSubviewCollapsed(views[i])) {
      adjustable[i] = false;
      continue;
    }
    sum += current[i];
    if (askAdjust && !ns::send<bool>(d, kShouldAdjust, self<SplitView>(), views[i])) {
      adjustable[i] = false;
      fixedSum += current[i];
    }
  }
  if (!(sum > 0)) return;  // nothing to share out in proportion
  // When the fixed subviews leave nothing to share, every visible subview scales.
  if (!(sum - fixedSum > 0) || fixedSum > available) {
    fixedSum = 0;
    for (std::size_t i = 0; i < views.size(); ++i) adjustable[i] = !isSubviewCollapsed(views[i]);
  }
  const double factor = (available - fixedSum) / (sum - fixedSum);
  long last = -1;
  double used = fixedSum;
  for (std::size_t i = 0; i < views.size(); ++i) {
    if (!adjustable[i]) continue;
    current[i] = std::floor(current[i] * factor);
    used += current[i];
    last = static_cast<long>(i);
  }
  if (last >= 0) current[last] += available - used;  // the rounding goes to the last one
  postResize(true, -1);
  apply(current);
  postResize(false, -1);
}

void SplitView::resizeSubviewsWithOldSize(const Size& oldSize) {
  auto d = delegate();
  if (responds(d, kResizeSubviews)) {
    ns::send(d, kResizeSubviews, self<SplitView>(), oldSize);
    return;
  }
  adjustSubviews();
}

double SplitView::minPossiblePositionOfDividerAtIndex(long index) const {
  const auto s = sizes();
  if (index < 0 || index >= static_cast<long>(s.size()) - 1) return 0;
  double pos = 0;
  for (long i = 0; i < index; ++i) pos += s[i] + dividerThickness();
  return pos;
}

double SplitView::maxPossiblePositionOfDividerAtIndex(long index) const {
  const auto s = sizes();
  if (index < 0 || index >= static_cast<long>(s.size()) - 1) return 0;
  return minPossiblePositionOfDividerAtIndex(index) + s[index] + s[index + 1];
}

double SplitView::positionOfDividerAtIndex(long index) const {
  const auto s = sizes();
  if (index < 0 || index >= static_cast<long>(s.size()) - 1) return 0;
  return minPossiblePositionOfDividerAtIndex(index) + s[index];
}

Rect SplitView::dividerRectAtIndex(long index) const {
  const double pos = positionOfDividerAtIndex(index);
  const Rect b = bounds();
  const double t = dividerThickness();
  return vertical_ ? MakeRect(pos, 0, t, b.size.height) : MakeRect(0, pos, b.size.width, t);
}

double SplitView::delegateMinimum(long index) const {
  double min = minPossiblePositionOfDividerAtIndex(index);
  auto d = delegate();
  if (responds(d, kConstrainMin)) {
    const double answer =
        ns::send<double>(d, kConstrainMin, std::const_pointer_cast<SplitView>(self<SplitView>()), min, index);
    if (!std::isnan(answer)) min = std::max(min, answer);
  }
  return min;
}

double SplitView::constrainedPosition(double position, long index) const {
  auto d = delegate();
  auto me = std::const_pointer_cast<SplitView>(self<SplitView>());
  double max = maxPossiblePositionOfDividerAtIndex(index);
  if (responds(d, kConstrainMax)) {
    const double answer = ns::send<double>(d, kConstrainMax, me, max, index);
    if (!std::isnan(answer)) max = std::min(max, answer);
  }
  if (responds(d, kConstrainSplit)) {
    const double answer = ns::send<double>(d, kConstrainSplit, me, position, index);
    if (!std::isnan(answer)) position = answer;
  }
  const double min = delegateMinimum(index);
  position = std::min(position, max);
  position = std::max(position, min);
  position = std::max(position, minPossiblePositionOfDividerAtIndex(index));
  return position;
}

void SplitView::setPosition_ofDividerAtIndex(double position, long index) {
  const auto views = subviews();
  if (std::isnan(position) || index < 0 || index >= static_cast<long>(views.size()) - 1) return;
  if (!(length(bounds()) > 0)) return;
  position = constrainedPosition(position, index);
  auto s = sizes();
  const double start = minPossiblePositionOfDividerAtIndex(index);
  const double end = maxPossiblePositionOfDividerAtIndex(index);
  s[index] = position - start;
  s[index + 1] = end - position;
  if (s[index] > 0) setCollapsed(views[index], false);
  if (s[index + 1] > 0) setCollapsed(views[index + 1], false);
  postResize(true, index);
  apply(s);
  postResize(false, index);
}

bool SplitView::delegateCanCollapse(long subviewIndex) const {
  auto d = delegate();
  const auto views = subviews();
  if (subviewIndex < 0 || subviewIndex >= static_cast<long>(views.size()) || !responds(d, kCanCollapse))
    return false;
  return ns::send<bool>(d, kCanCollapse, std::const_pointer_cast<SplitView>(self<SplitView>()),
                        views[subviewIndex]);
}

long SplitView::dividerAt(const Point& point) const {
  const long n = static_cast<long>(subviews().size());
  for (long i = 0; i + 1 < n; ++i) {
    Rect r = dividerRectAtIndex(i);
    // A thin divider is hard to hit: it takes clicks a little either side.
    const double grow = dividerThickness() < 5 ? 2 : 0;
    r = vertical_ ? MakeRect(r.origin.x - grow, r.origin.y, r.size.width + 2 * grow, r.size.height)
                  : MakeRect(r.origin.x, r.origin.y - grow, r.size.width, r.size.height + 2 * grow);
    if (mouse_inRect(point, r)) return i;
  }
  return -1;
}

ns::Ref<View> SplitView::hitTest(const Point& point) {
  auto hit = View::hitTest(point);
  if (!hit || hit.get() == this) return hit;
  return dividerAt(transformToSuperview().invert(point)) >= 0 ? self<View>() : hit;
}

void SplitView::mouseDown(const ns::Ref<Event>& event) {
  auto keep = self<SplitView>();
  const Point at = convertPoint_fromView(event->locationInWindow(), nullptr);
  const long divider = dividerAt(at);
  if (divider < 0) {
    View::mouseDown(event);
    return;
  }
  const auto views = subviews();
  auto collapse = [&](long subviewIndex) {
    auto s = sizes();
    const long other = subviewIndex == divider ? divider + 1 : divider;
    s[other] += s[subviewIndex];
    s[subviewIndex] = 0;
    setCollapsed(views[subviewIndex], true);
    postResize(true, divider);
    apply(s);
    postResize(false, divider);
  };
  if (event->clickCount() == 2) {
    auto d = delegate();
    if (!responds(d, kShouldCollapse)) return;
    for (long k : {divider, divider + 1}) {
      if (isSubviewCollapsed(views[k]) || !delegateCanCollapse(k)) continue;
      if (ns::send<bool>(d, kShouldCollapse, keep, views[k], divider)) {
        collapse(k);
        return;
      }
    }
    return;
  }
  const double offset = axisOf(at) - positionOfDividerAtIndex(divider);
  auto app = Application::sharedApplication();
  for (;;) {
    auto next = app->nextEventMatchingMask_untilDate_inMode_dequeue(LeftMouseDraggedMask | LeftMouseUpMask,
                                                                    ns::Date::distantFuture(),
                                                                    ns::EventTrackingRunLoopMode, true);
    if (!next) break;  // headless: nothing more will come
    const Point p = convertPoint_fromView(next->locationInWindow(), nullptr);
    const double proposed = axisOf(p) - offset;
    if (!std::isnan(proposed)) {
      const double start = minPossiblePositionOfDividerAtIndex(divider);
      const double end = maxPossiblePositionOfDividerAtIndex(divider);
      const double minimum = delegateMinimum(divider);
      double maximum = end;
      if (auto d = delegate(); responds(d, kConstrainMax)) {
        const double answer = ns::send<double>(d, kConstrainMax, keep, end, divider);
        if (!std::isnan(answer)) maximum = std::min(end, answer);
      }
      // Dragged past half of a collapsible subview's minimum, the subview collapses.
      if (minimum > start && proposed < start + (minimum - start) / 2 && delegateCanCollapse(divider)) {
        if (!isSubviewCollapsed(views[divider])) collapse(divider);
      } else if (maximum < end && proposed > end - (end - maximum) / 2 && delegateCanCollapse(divider + 1)) {
        if (!isSubviewCollapsed(views[divider + 1])) collapse(divider + 1);
      } else {
        setPosition_ofDividerAtIndex(proposed, divider);
      }
    }
    if (next->type() == EventType::LeftMouseUp) break;
  }
}

void SplitView::willRemoveSubview(const ns::Ref<View>& subview) {
  collapsed_.erase(subview.get());
}

void SplitView::drawRect(const Rect&) {
  // The dividers lie in the gaps between the subviews, so no subview draws over them.
  const long n = static_cast<long>(subviews().size());
  for (long i = 0; i + 1 < n; ++i) drawDividerInRect(dividerRectAtIndex(i));
}

}  // namespace ak

PL_CLASS_NAMED(ak::SplitView, "NSSplitView", ak::View) {}
