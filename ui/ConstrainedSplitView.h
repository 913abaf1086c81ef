#pragma once
// A split view with per-subview limits (minimum, maximum, may collapse) and priorities; three
// ways of sharing a change of its own size among the subviews; divider moves that may be
// animated; collapsing and expanding of the first or last subview with the divider position
// remembered; its own divider drawing; and an events delegate. It is its own split-view delegate:
// the limits and the resize modes work through the delegate methods it answers. Main thread only.
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "platform/appkit/SplitView.h"

namespace ns {
class Notification;
}

class ConstrainedSplitView;

// The limits of one subview along the split axis.
class SubviewConstraint : public ns::Object {
 public:
  bool canCollapse() const { return canCollapse_; }
  void setCanCollapse(bool can) { canCollapse_ = can; }
  // 0: no minimum.
  double minSize() const { return minSize_; }
  void setMinSize(double size) { minSize_ = size; }
  // 0: no maximum.
  double maxSize() const { return maxSize_; }
  void setMaxSize(double size) { maxSize_ = size; }
  bool hasSizeContraints() const { return minSize_ > 0 || maxSize_ > 0; }

 private:
  bool canCollapse_ = false;
  double minSize_ = 0;
  double maxSize_ = 0;
};

// Hears of divider moves, collapse and expansion, and animation. Every method is optional: the
// empty defaults are what an absent method does.
class ConstrainedSplitViewDelegate {
 public:
  virtual ~ConstrainedSplitViewDelegate() = default;
  // A divider moved, by the user or by the standard split-view machinery.
  virtual void splitView_divider_movedAt(const ns::Ref<ConstrainedSplitView>& splitView, long divider,
                                         double position) {}
  // The subview before the divider collapsed (0) or expanded (1).
  virtual void splitView_subview_stateChanged(const ns::Ref<ConstrainedSplitView>& splitView, long index,
                                              long state) {}
  virtual void splitView_splitViewIsAnimating(const ns::Ref<ConstrainedSplitView>& splitView,
                                              bool animating) {}
};

class ConstrainedSplitView : public ak::SplitView {
 public:
  using CompletionBlock = std::function<void(bool)>;
  // The answer of subviewIndexToCollapseForDoubleClickOnDividerAtIndex when none is registered.
  static constexpr long kNotFound = INT64_MAX;

  void initWithFrame(const ak::Rect& frame) override;
  void initWithCoder(ak::NibCoder& coder) override;
  // Makes the split view its own delegate again and rebuilds every per-subview state with
  // defaults; the owner calls it after adding or removing subviews.
  void initializeSplitView();
  void reset() { initializeSplitView(); }

  // ---- constraints (subview indexes) ----
  void setMinSize_ofSubviewAtIndex(double size, unsigned long index);
  void setMaxSize_ofSubviewAtIndex(double size, unsigned long index);
  double minSizeForSubviewAtIndex(unsigned long index) const;
  double maxSizeForSubviewAtIndex(unsigned long index) const;
  void setCanCollapse_subviewAtIndex(bool canCollapse, unsigned long index);
  bool canCollapseSubviewAtIndex(unsigned long index) const;
  // One subview per priority: a priority already in use is given to the new subview.
  void setPriority_ofSubviewAtIndex(long priority, long index);
  // nullptr for a view that is not one of the split view's subviews.
  ns::Ref<SubviewConstraint> constraintForSubview(const ns::Ref<ak::View>& subview) const;
  void setCollapseSubviewAtIndex_forDoubleClickOnDividerAtIndex(unsigned long subview, unsigned long divider);
  long subviewIndexToCollapseForDoubleClickOnDividerAtIndex(unsigned long divider) const;

  // ---- appearance ----
  bool shouldDrawDivider() const { return shouldDrawDivider_; }
  void setShouldDrawDivider(bool draw);
  bool shouldDrawDividerHandle() const { return shouldDrawDividerHandle_; }
  void setShouldDrawDividerHandle(bool draw);
  // Nil unless set.
  ns::Ref<ak::Color> dividerColor() const override { return dividerColor_; }
  void setDividerColor(const ns::Ref<ak::Color>& color);
  // 0 min-x, 1 min-y, 2 max-x, 3 max-y; 4 or more: the whole divider.
  std::uint64_t dividerRectEdge() const { return dividerRectEdge_; }
  void setDividerRectEdge(std::uint64_t edge);
  void setDividerThickness(double thickness);
  double dividerThickness() const override;
  void drawDividerInRect(const ak::Rect& rect) override;
  bool isSubviewCollapsed(const ns::Ref<ak::View>& subview) const override;

  // 1 priority, 2 uniform, anything else proportional.
  std::uint64_t subviewsResizeMode() const { return subviewsResizeMode_; }
  void setSubviewsResizeMode(std::uint64_t mode) { subviewsResizeMode_ = mode; }
  std::shared_ptr<ConstrainedSplitViewDelegate> eventsDelegate() const { return eventsDelegate_; }
  void setEventsDelegate(std::shared_ptr<ConstrainedSplitViewDelegate> delegate) {
    eventsDelegate_ = std::move(delegate);
  }
  bool isAnimating() const { return isAnimating_; }

  // ---- positions and sizes ----
  // The far edge of the nearest subview at or before `index` that is not collapsed; 0 when
  // there is none or for a negative index.
  double positionOfDividerAtIndex(long index) const;
  bool setPosition_ofDividerAtIndex_animated_completitionBlock(double position, long index, bool animated,
                                                               CompletionBlock completion);
  bool setPositions_ofDividersAtIndexes_animated_completitionBlock(const std::vector<double>& positions,
                                                                   const std::vector<long>& indexes,
                                                                   bool animated, CompletionBlock completion);
  bool setSize_ofSubviewAtIndex_animated_completition(double size, long index, bool animated,
                                                      CompletionBlock completion);
  // Only the first and the last subview collapse; answers YES when the call expands.
  bool collapseOrExpandSubviewAtIndex_animated(unsigned long index, bool animated);
  bool collapseOrExpandSubview_animated(const ns::Ref<ak::View>& subview, bool animated);

  // ---- steps ----
  void getNewSubviewsRects_withIndexes_andPositions(std::vector<ak::Rect>* rects,
                                                    const std::vector<long>& indexes,
                                                    const std::vector<double>& positions);
  void calculateSubviewsSizesArrayInto(std::vector<double>* sizes) const;
  void setSubviewsSizes(const std::vector<double>& sizes);
  void calculateResizableSubviews_totalNumber_totalWidth_withDelta(std::vector<bool>* resizable, long* count,
                                                                   double* total, double delta) const;
  void applyProportionalResizeFromOldSize(const ak::Size& oldSize);
  void applyUniformResizeFromOldSize(const ak::Size& oldSize);
  void applyPriorityResizeFromOldSize(const ak::Size& oldSize);
  void layoutSubviews();
  void saveCurrentDivididerState();
  void updateSubviewsState();
  const std::vector<double>& lastValuesBeforeCollapse() const { return lastValuesBeforeCollapse_; }
  const std::vector<double>& subviewsStates() const { return subviewsStates_; }

  // ---- split-view delegate methods it answers for itself ----
  double splitView_constrainMinCoordinate_ofSubviewAt(ns::Ref<ak::SplitView> splitView, double proposed,
                                                      long index);
  double splitView_constrainMaxCoordinate_ofSubviewAt(ns::Ref<ak::SplitView> splitView, double proposed,
                                                      long index);
  void splitView_resizeSubviewsWithOldSize(ns::Ref<ak::SplitView> splitView, ak::Size oldSize);
  bool splitView_canCollapseSubview(ns::Ref<ak::SplitView> splitView, ns::Ref<ak::View> subview);
  bool splitView_shouldCollapseSubview_forDoubleClickOnDividerAtIndex(ns::Ref<ak::SplitView> splitView,
                                                                      ns::Ref<ak::View> subview,
                                                                      long divider);
  void splitViewDidResizeSubviews(ns::Ref<ns::Notification> note);

 private:
  double sizeOf(const ns::Ref<ak::View>& view) const { return length(view->frame()); }
  double boundsLength() const { return length(bounds()); }
  ns::Ref<SubviewConstraint> constraintAt(unsigned long index) const;
  double deltaFrom(const ak::Size& oldSize) const;

  std::map<long, long> priorityIndexes_;
  std::vector<ns::Ref<SubviewConstraint>> subviewContraints_;
  std::map<unsigned long, unsigned long> viewsToCollapseByDivider_;
  std::vector<double> lastValuesBeforeCollapse_;
  std::vector<double> subviewsStates_;
  double oDividerThickness_ = 0;
  bool dividerThicknessOverriden_ = false;
  bool isAnimating_ = false;
  bool shouldDrawDivider_ = false;
  bool shouldDrawDividerHandle_ = false;
  std::shared_ptr<ConstrainedSplitViewDelegate> eventsDelegate_;
  ns::Ref<ak::Color> dividerColor_;
  std::uint64_t dividerRectEdge_ = 0;
  std::uint64_t subviewsResizeMode_ = 0;
};
