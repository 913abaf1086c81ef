#include "ui/ConstrainedSplitView.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/appkit/Animation.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

bool isFiniteNumber(double v) {
  return std::isfinite(v);
}

}  // namespace

// ---- creation ----

void ConstrainedSplitView::initWithFrame(const ak::Rect& frame) {
  ak::SplitView::initWithFrame(frame);
  initializeSplitView();
}

void ConstrainedSplitView::initWithCoder(ak::NibCoder& coder) {
  ak::SplitView::initWithCoder(coder);
  initializeSplitView();
}

void ConstrainedSplitView::initializeSplitView() {
  setDelegate(self<ConstrainedSplitView>());
  subviewsResizeMode_ = 0;
  dividerThicknessOverriden_ = false;
  const std::size_t n = subviews().size();
  priorityIndexes_.clear();
  viewsToCollapseByDivider_.clear();
  lastValuesBeforeCollapse_.assign(n, 0.0);
  subviewsStates_.assign(n, 0.0);
  subviewContraints_.clear();
  for (std::size_t i = 0; i < n; ++i) subviewContraints_.push_back(ns::make<SubviewConstraint>());
}

// ---- constraints ----

ns::Ref<SubviewConstraint> ConstrainedSplitView::constraintAt(unsigned long index) const {
  return index < subviewContraints_.size() ? subviewContraints_[index] : nullptr;
}

void ConstrainedSplitView::setMinSize_ofSubviewAtIndex(double size, unsigned long index) {
  if (auto c = constraintAt(index); c && isFiniteNumber(size)) c->setMinSize(size);
}

void ConstrainedSplitView::setMaxSize_ofSubviewAtIndex(double size, unsigned long index) {
  if (auto c = constraintAt(index); c && isFiniteNumber(size)) c->setMaxSize(size);
}

double ConstrainedSplitView::minSizeForSubviewAtIndex(unsigned long index) const {
  auto c = constraintAt(index);
  return c ? c->minSize() : 0;
}

double ConstrainedSplitView::maxSizeForSubviewAtIndex(unsigned long index) const {
  auto c = constraintAt(index);
  return c ? c->maxSize() : 0;
}

void ConstrainedSplitView::setCanCollapse_subviewAtIndex(bool canCollapse, unsigned long index) {
  if (auto c = constraintAt(index)) c->setCanCollapse(canCollapse);
}

bool ConstrainedSplitView::canCollapseSubviewAtIndex(unsigned long index) const {
  auto c = constraintAt(index);
  return c && c->canCollapse();
}

void ConstrainedSplitView::setPriority_ofSubviewAtIndex(long priority, long index) {
  priorityIndexes_[priority] = index;
}

ns::Ref<SubviewConstraint> ConstrainedSplitView::constraintForSubview(
    const ns::Ref<ak::View>& subview) const {
  const auto& views = subviews();
  auto found = std::find(views.begin(), views.end(), subview);
  if (!subview || found == views.end()) return nullptr;
  return constraintAt(static_cast<unsigned long>(found - views.begin()));
}

void ConstrainedSplitView::setCollapseSubviewAtIndex_forDoubleClickOnDividerAtIndex(unsigned long subview,
                                                                                    unsigned long divider) {
  viewsToCollapseByDivider_[divider] = subview;
}

long ConstrainedSplitView::subviewIndexToCollapseForDoubleClickOnDividerAtIndex(unsigned long divider) const {
  auto found = viewsToCollapseByDivider_.find(divider);
  return found == viewsToCollapseByDivider_.end() ? kNotFound : static_cast<long>(found->second);
}

// ---- appearance ----

void ConstrainedSplitView::setShouldDrawDivider(bool draw) {
  shouldDrawDivider_ = draw;
  setNeedsDisplay(true);
}

void ConstrainedSplitView::setShouldDrawDividerHandle(bool draw) {
  shouldDrawDividerHandle_ = draw;
  setNeedsDisplay(true);
}

void ConstrainedSplitView::setDividerColor(const ns::Ref<ak::Color>& color) {
  const bool same = color == dividerColor_ || (color && dividerColor_ && color->isEqual(dividerColor_.get()));
  dividerColor_ = color;
  if (!same) setNeedsDisplay(true);
}

void ConstrainedSplitView::setDividerRectEdge(std::uint64_t edge) {
  dividerRectEdge_ = edge;
  setNeedsDisplay(true);
}

void ConstrainedSplitView::setDividerThickness(double thickness) {
  if (!isFiniteNumber(thickness)) return;
  oDividerThickness_ = thickness;
  dividerThicknessOverriden_ = true;
  setNeedsDisplay(true);
}

double ConstrainedSplitView::dividerThickness() const {
  return dividerThicknessOverriden_ ? oDividerThickness_ : ak::SplitView::dividerThickness();
}

bool ConstrainedSplitView::isSubviewCollapsed(const ns::Ref<ak::View>& subview) const {
  if (!subview) return false;
  // The platform's split view collapses a subview by hiding it.
  return ak::SplitView::isSubviewCollapsed(subview) || subview->isHidden() || sizeOf(subview) == 0;
}

void ConstrainedSplitView::drawDividerInRect(const ak::Rect& rect) {
  if (!shouldDrawDivider_) {
    ak::SplitView::drawDividerInRect(rect);
    return;
  }
  ak::Rect r = rect;
  if (dividerStyle() != ak::SplitViewDividerStyle::Thin) {
    if (shouldDrawDividerHandle_) {
      // The standard drawing adds the handle; its fill is made clear for the while.
      auto kept = dividerColor_;
      dividerColor_ = ak::Color::colorWithDeviceWhite_alpha(0, 0);
      ak::SplitView::drawDividerInRect(rect);
      dividerColor_ = kept;
    }
    switch (dividerRectEdge_) {
      case 0:
        r.size.width = 1.0;
        break;
      case 1:
        r.size.height = 1.0;
        break;
      case 2:
        r.origin.x = r.origin.x + r.size.width - 1.0;
        r.size.width = 1.0;
        break;
      case 3:
        r.origin.y = r.origin.y + r.size.height - 1.0;
        r.size.height = 1.0;
        break;
      default:
        break;
    }
  }
  if (dividerColor_) dividerColor_->setFill();
  ak::RectFill(r);
}

// ---- positions ----

double ConstrainedSplitView::positionOfDividerAtIndex(long index) const {
  const auto& views = subviews();
  if (index < 0 || views.empty()) return 0;
  for (long i = std::min<long>(index, static_cast<long>(views.size()) - 1); i >= 0; --i) {
    const auto& v = views[static_cast<std::size_t>(i)];
    if (!isSubviewCollapsed(v)) return isVertical() ? ak::MaxX(v->frame()) : ak::MaxY(v->frame());
  }
  return 0;
}

void ConstrainedSplitView::saveCurrentDivididerState() {
  const long n = static_cast<long>(subviews().size());
  const double farEnd = length(frame()) - dividerThickness();
  for (long i = 0; i + 1 < n && i < static_cast<long>(lastValuesBeforeCollapse_.size()); ++i) {
    const double p = positionOfDividerAtIndex(i);
    if (p != 0 && p != farEnd) lastValuesBeforeCollapse_[static_cast<std::size_t>(i)] = p;
  }
}

void ConstrainedSplitView::getNewSubviewsRects_withIndexes_andPositions(
    std::vector<ak::Rect>* rects, const std::vector<long>& indexes, const std::vector<double>& positions) {
  if (!rects) return;
  const auto views = subviews();
  rects->clear();
  for (const auto& v : views) rects->push_back(v->frame());
  const long n = static_cast<long>(views.size());
  const double t = dividerThickness();
  for (long d : indexes) {
    if (d < 0 || d + 1 >= n) continue;
    const auto at = std::find(indexes.begin(), indexes.end(), d) - indexes.begin();
    const double p = positions[static_cast<std::size_t>(at)];
    saveCurrentDivididerState();
    ak::Rect& a = (*rects)[static_cast<std::size_t>(d)];
    ak::Rect& b = (*rects)[static_cast<std::size_t>(d + 1)];
    const double far = origin(b) + length(b);
    const double gap = p < boundsLength() ? t : 0;
    if (isVertical()) {
      a.size.width = p - a.origin.x;
      b.origin.x = p + gap;
      b.size.width = far - p - gap;
    } else {
      a.size.height = p - a.origin.y;
      b.origin.y = p + gap;
      b.size.height = far - p - gap;
    }
  }
}

bool ConstrainedSplitView::setPosition_ofDividerAtIndex_animated_completitionBlock(
    double position, long index, bool animated, CompletionBlock completion) {
  if (index >= static_cast<long>(subviews().size())) return false;
  // setPositions also refuses the indexes that name no divider (negative, or the last subview's)
  // and NaN positions.
  return setPositions_ofDividersAtIndexes_animated_completitionBlock({position}, {index}, animated,
                                                                     std::move(completion));
}

bool ConstrainedSplitView::setPositions_ofDividersAtIndexes_animated_completitionBlock(
    const std::vector<double>& positions, const std::vector<long>& indexes, bool animated,
    CompletionBlock completion) {
  const auto views = subviews();
  const long n = static_cast<long>(views.size());
  if (positions.size() != indexes.size() || static_cast<long>(indexes.size()) >= n) return false;
  // Every index must name a divider (0 to n - 2); a bad one would step outside the rectangles.
  for (long d : indexes) {
    if (d < 0 || d >= n - 1) return false;
  }
  for (double p : positions) {
    if (!isFiniteNumber(p)) return false;
  }
  std::vector<ak::Rect> rects;
  auto me = self<ConstrainedSplitView>();
  if (animated) {
    if (eventsDelegate_) eventsDelegate_->splitView_splitViewIsAnimating(me, true);
    isAnimating_ = true;
    ak::AnimationContext::runAnimationGroup_completionHandler(
        [&](ak::AnimationContext& context) {
          context.setDuration(0.2);
          getNewSubviewsRects_withIndexes_andPositions(&rects, indexes, positions);
          for (std::size_t i = 0; i < views.size(); ++i) {
            const double size = length(rects[i]);
            if (views[i]->isHidden() && size > 0) views[i]->setHidden(false);
            if (size != 0) {
              views[i]->animator()->setFrame(rects[i]);
            } else {
              views[i]->setHidden(true);
            }
          }
        },
        [weak = weak_from_this(), completion = std::move(completion)] {
          auto strong = std::dynamic_pointer_cast<ConstrainedSplitView>(weak.lock());
          if (!strong) return;
          strong->isAnimating_ = false;
          strong->setNeedsDisplay(true);
          if (completion) completion(true);
          if (auto events = strong->eventsDelegate_) events->splitView_splitViewIsAnimating(strong, false);
        });
    return true;
  }
  getNewSubviewsRects_withIndexes_andPositions(&rects, indexes, positions);
  for (std::size_t i = 0; i < views.size(); ++i) {
    if (length(rects[i]) != 0) {
      views[i]->setHidden(false);
      views[i]->setFrame(rects[i]);
    } else {
      views[i]->setHidden(true);
    }
  }
  if (completion) completion(true);
  return true;
}

bool ConstrainedSplitView::setSize_ofSubviewAtIndex_animated_completition(double size, long index,
                                                                          bool animated,
                                                                          CompletionBlock completion) {
  const auto views = subviews();
  const long n = static_cast<long>(views.size());
  if (index < 0 || index >= n || !isFiniteNumber(size)) return false;
  const double delta = size - sizeOf(views[static_cast<std::size_t>(index)]);
  if (delta == 0) return false;
  auto done = [completion = std::move(completion)](bool finished) {
    if (completion) completion(finished);
  };
  if (index > 0 && index < n - 1) {
    setPositions_ofDividersAtIndexes_animated_completitionBlock(
        {positionOfDividerAtIndex(index - 1) - delta * 0.5, positionOfDividerAtIndex(index) + delta * 0.5},
        {index - 1, index}, animated, done);
    return true;
  }
  const long d = index > 0 ? index - 1 : 0;
  const double base = std::trunc(positionOfDividerAtIndex(d));
  const double position = std::trunc(index > 0 ? base - delta : base + delta);
  setPositions_ofDividersAtIndexes_animated_completitionBlock({position}, {d}, animated, done);
  return true;
}

bool ConstrainedSplitView::collapseOrExpandSubviewAtIndex_animated(unsigned long index, bool animated) {
  const auto views = subviews();
  const unsigned long n = views.size();
  if (index >= n || (index != 0 && index != n - 1)) return false;
  const bool wasCollapsed = isSubviewCollapsed(views[index]);
  const long d = index == 0 ? 0 : static_cast<long>(index) - 1;
  double target = 0.0;
  if (wasCollapsed) {
    target = static_cast<std::size_t>(d) < lastValuesBeforeCollapse_.size()
                 ? lastValuesBeforeCollapse_[static_cast<std::size_t>(d)]
                 : 0.0;
  } else if (index != 0) {
    target = positionOfDividerAtIndex(d) + sizeOf(views[index]);
  }
  setPosition_ofDividerAtIndex_animated_completitionBlock(target, d, animated, nullptr);
  return wasCollapsed;
}

bool ConstrainedSplitView::collapseOrExpandSubview_animated(const ns::Ref<ak::View>& subview, bool animated) {
  const auto& views = subviews();
  auto found = std::find(views.begin(), views.end(), subview);
  if (!subview || found == views.end()) return false;
  return collapseOrExpandSubviewAtIndex_animated(static_cast<unsigned long>(found - views.begin()), animated);
}

// ---- resizing ----

void ConstrainedSplitView::calculateSubviewsSizesArrayInto(std::vector<double>* sizes) const {
  if (!sizes) return;
  sizes->clear();
  for (const auto& v : subviews()) sizes->push_back(sizeOf(v));
}

void ConstrainedSplitView::setSubviewsSizes(const std::vector<double>& sizes) {
  const auto views = subviews();
  const ak::Rect b = bounds();
  for (std::size_t i = 0; i < views.size() && i < sizes.size(); ++i) {
    views[i]->setFrameSize(isVertical() ? ak::Size{sizes[i], b.size.height}
                                        : ak::Size{b.size.width, sizes[i]});
  }
  layoutSubviews();
}

void ConstrainedSplitView::layoutSubviews() {
  double offset = 0;
  const double t = dividerThickness();
  for (const auto& v : subviews()) {
    if (v->isHidden()) {
      offset += t;
      continue;
    }
    ak::Point o = v->frame().origin;
    (isVertical() ? o.x : o.y) = offset;
    v->setFrameOrigin(o);
    const double size = sizeOf(v);
    offset += size + t;
    v->setHidden(!(size > 0));
  }
  setNeedsDisplay(true);
}

void ConstrainedSplitView::calculateResizableSubviews_totalNumber_totalWidth_withDelta(
    std::vector<bool>* resizable, long* count, double* total, double delta) const {
  const auto& views = subviews();
  if (resizable) resizable->assign(views.size(), false);
  long c = 0;
  double sum = 0;
  for (std::size_t i = 0; i < views.size(); ++i) {
    const double s = sizeOf(views[i]);
    const double min = minSizeForSubviewAtIndex(i), max = maxSizeForSubviewAtIndex(i);
    bool can = true;
    if (delta < 0 && min > 0) {
      can = std::fabs(s - min) >= 0.5;
    } else if (delta > 0 && max > 0) {
      can = std::fabs(s - max) >= 0.5;
    }
    if (resizable) (*resizable)[i] = can;
    if (can) {
      ++c;
      sum += s;
    }
  }
  if (count) *count = c;
  if (total) *total = sum;
}

double ConstrainedSplitView::deltaFrom(const ak::Size& oldSize) const {
  return boundsLength() - (isVertical() ? oldSize.width : oldSize.height);
}

void ConstrainedSplitView::applyUniformResizeFromOldSize(const ak::Size& oldSize) {
  double delta = deltaFrom(oldSize);
  std::vector<bool> resizable;
  long count = 0;
  calculateResizableSubviews_totalNumber_totalWidth_withDelta(&resizable, &count, nullptr, delta);
  std::vector<double> sizes;
  calculateSubviewsSizesArrayInto(&sizes);
  while (isFiniteNumber(delta) && std::fabs(delta) > 0.5) {
    if (count <= 0) break;  // nobody left to take a share
    double share = delta / static_cast<double>(count);
    share = share > 0 ? std::ceil(share) : std::floor(share);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      if (!resizable[i]) continue;
      const double old = sizes[i];
      double now = old + share;
      const double min = minSizeForSubviewAtIndex(i), max = maxSizeForSubviewAtIndex(i);
      if (min > 0 && now < min) {
        now = min;
        resizable[i] = false;
        --count;
      }
      if (max > 0 && now > max) {
        now = max;
        if (resizable[i]) {
          resizable[i] = false;
          --count;
        }
      }
      sizes[i] = now;
      delta -= now - old;
      if (std::fabs(delta) <= 0.5) break;
    }
  }
  setSubviewsSizes(sizes);
}

void ConstrainedSplitView::applyProportionalResizeFromOldSize(const ak::Size& oldSize) {
  double delta = deltaFrom(oldSize);
  std::vector<bool> resizable;
  long count = 0;
  double total = 0;
  calculateResizableSubviews_totalNumber_totalWidth_withDelta(&resizable, &count, &total, delta);
  std::vector<double> sizes;
  calculateSubviewsSizesArrayInto(&sizes);
  std::vector<double> ratios(sizes.size(), 0.0);
  // When every resizable subview is empty there is nothing to share in proportion to.
  if (total > 0) {
    for (std::size_t i = 0; i < sizes.size(); ++i) ratios[i] = resizable[i] ? sizes[i] / total : 0.0;
  }
  // Each pass either changes a size or ends the passes; the cap only guards against rounding
  // that would trade the same point back and forth.
  for (int pass = 0; pass < 10000 && isFiniteNumber(delta) && std::fabs(delta) > 0.5; ++pass) {
    double remaining = delta;
    bool changed = false;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      const double old = sizes[i];
      double now = old + std::round(ratios[i] * delta);
      const double min = minSizeForSubviewAtIndex(i), max = maxSizeForSubviewAtIndex(i);
      if (min > 0 && now < min) now = min;
      if (max > 0 && now > max) now = max;
      sizes[i] = now;
      if (now != old) changed = true;
      remaining -= now - old;
      if (std::fabs(remaining) <= 0.5) break;
    }
    delta = remaining;
    if (!changed) break;  // what is left stays unabsorbed
  }
  setSubviewsSizes(sizes);
}

void ConstrainedSplitView::applyPriorityResizeFromOldSize(const ak::Size& oldSize) {
  double remaining = deltaFrom(oldSize);
  if (!isFiniteNumber(remaining)) return;
  const auto views = subviews();
  const ak::Rect b = bounds();
  for (const auto& [priority, index] : priorityIndexes_) {
    if (index < 0 || index >= static_cast<long>(views.size())) continue;
    const auto& v = views[static_cast<std::size_t>(index)];
    if (isSubviewCollapsed(v)) continue;
    const double s = sizeOf(v), m = minSizeForSubviewAtIndex(static_cast<unsigned long>(index));
    double now = s + remaining;
    if (remaining > 0 || now >= m) {
      remaining = 0;
    } else if (remaining < 0) {
      now = m;
      remaining = s - m + remaining;
    } else {
      now = s;
    }
    v->setFrameSize(isVertical() ? ak::Size{now, b.size.height} : ak::Size{b.size.width, now});
  }
  layoutSubviews();
}

void ConstrainedSplitView::updateSubviewsState() {
  const auto& views = subviews();
  for (std::size_t j = 0; j < views.size() && j < subviewsStates_.size(); ++j)
    subviewsStates_[j] = isSubviewCollapsed(views[j]) ? 0.0 : sizeOf(views[j]);
}

// ---- split-view delegate ----

double ConstrainedSplitView::splitView_constrainMinCoordinate_ofSubviewAt(ns::Ref<ak::SplitView>,
                                                                          double proposed, long index) {
  const auto& views = subviews();
  auto c = index >= 0 ? constraintAt(static_cast<unsigned long>(index)) : nullptr;
  if (!c || !c->hasSizeContraints() || index >= static_cast<long>(views.size())) return proposed;
  return origin(views[static_cast<std::size_t>(index)]->frame()) + c->minSize();
}

double ConstrainedSplitView::splitView_constrainMaxCoordinate_ofSubviewAt(ns::Ref<ak::SplitView>,
                                                                          double proposed, long index) {
  const auto& views = subviews();
  if (index < 0 || index + 1 >= static_cast<long>(views.size())) return proposed;
  const auto& a = views[static_cast<std::size_t>(index)];
  const auto& b = views[static_cast<std::size_t>(index) + 1];
  return origin(a->frame()) + length(a->frame()) + length(b->frame()) -
         minSizeForSubviewAtIndex(static_cast<unsigned long>(index) + 1);
}

void ConstrainedSplitView::splitView_resizeSubviewsWithOldSize(ns::Ref<ak::SplitView>, ak::Size oldSize) {
  if (isAnimating_) {
    setNeedsDisplay(true);
    return;
  }
  switch (subviewsResizeMode_) {
    case 1:
      applyPriorityResizeFromOldSize(oldSize);
      break;
    case 2:
      applyUniformResizeFromOldSize(oldSize);
      break;
    default:
      applyProportionalResizeFromOldSize(oldSize);
      break;
  }
}

bool ConstrainedSplitView::splitView_canCollapseSubview(ns::Ref<ak::SplitView>, ns::Ref<ak::View> subview) {
  auto c = constraintForSubview(subview);
  return c && c->canCollapse();
}

bool ConstrainedSplitView::splitView_shouldCollapseSubview_forDoubleClickOnDividerAtIndex(
    ns::Ref<ak::SplitView>, ns::Ref<ak::View> subview, long divider) {
  if (divider < 0) return false;
  const long registered =
      subviewIndexToCollapseForDoubleClickOnDividerAtIndex(static_cast<unsigned long>(divider));
  if (registered == kNotFound) return true;
  const auto& views = subviews();
  auto found = std::find(views.begin(), views.end(), subview);
  return found != views.end() && (found - views.begin()) == registered;
}

void ConstrainedSplitView::splitViewDidResizeSubviews(ns::Ref<ns::Notification> note) {
  long d = 0;
  if (note) {
    const ns::Value& value = note->userInfo()[std::string(ak::SplitViewDividerIndexKey)];
    if (value.isNumber()) d = value.integerValue();
  }
  const double p = positionOfDividerAtIndex(d);
  if (!isAnimating_) {
    saveCurrentDivididerState();
    if (eventsDelegate_ && d >= 0 && static_cast<std::size_t>(d) < subviewsStates_.size()) {
      auto me = self<ConstrainedSplitView>();
      eventsDelegate_->splitView_divider_movedAt(me, d, p);
      const double previous = subviewsStates_[static_cast<std::size_t>(d)];
      if (previous > 0 && p == 0) {
        eventsDelegate_->splitView_subview_stateChanged(me, d, 0);
      } else if (previous == 0 && p > 0) {
        eventsDelegate_->splitView_subview_stateChanged(me, d, 1);
      }
    }
  }
  updateSubviewsState();
}

PL_CLASS(ConstrainedSplitView, ak::SplitView) {
  cls.method<&ConstrainedSplitView::splitView_constrainMinCoordinate_ofSubviewAt>(
      "splitView:constrainMinCoordinate:ofSubviewAt:");
  cls.method<&ConstrainedSplitView::splitView_constrainMaxCoordinate_ofSubviewAt>(
      "splitView:constrainMaxCoordinate:ofSubviewAt:");
  cls.method<&ConstrainedSplitView::splitView_resizeSubviewsWithOldSize>(
      "splitView:resizeSubviewsWithOldSize:");
  cls.method<&ConstrainedSplitView::splitView_canCollapseSubview>("splitView:canCollapseSubview:");
  cls.method<&ConstrainedSplitView::splitView_shouldCollapseSubview_forDoubleClickOnDividerAtIndex>(
      "splitView:shouldCollapseSubview:forDoubleClickOnDividerAtIndex:");
  cls.method<&ConstrainedSplitView::splitViewDidResizeSubviews>("splitViewDidResizeSubviews:");
}
