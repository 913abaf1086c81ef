#pragma once
// A view that lays its subviews out side by side (vertical) or stacked (horizontal), with a
// divider between each two that the user can drag, within limits the delegate may narrow.
//
// The delegate is asked through the runtime (respondsToSelector), as an optional protocol is:
// splitView:constrainMinCoordinate:ofSubviewAt:, ...MaxCoordinate..., constrainSplitPosition,
// splitView:resizeSubviewsWithOldSize: (replaces adjustSubviews), splitView:canCollapseSubview:,
// splitView:shouldCollapseSubview:forDoubleClickOnDividerAtIndex:,
// splitView:shouldAdjustSizeOfSubview:, and splitViewWillResizeSubviews: /
// splitViewDidResizeSubviews: as observers of the notifications. The split view is flipped:
// stacked subviews run from the top.
#include <set>

#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"

namespace ak {

inline constexpr char SplitViewWillResizeSubviewsNotification[] = "NSSplitViewWillResizeSubviewsNotification";
inline constexpr char SplitViewDidResizeSubviewsNotification[] = "NSSplitViewDidResizeSubviewsNotification";
inline constexpr char SplitViewDividerIndexKey[] = "NSSplitViewDividerIndex";

enum class SplitViewDividerStyle : long { Thick = 1, Thin = 2, PaneSplitter = 3 };

class SplitView : public View {
 public:
  ~SplitView() override;

  bool isFlipped() const override { return true; }
  bool isVertical() const { return vertical_; }
  void setVertical(bool vertical);
  SplitViewDividerStyle dividerStyle() const { return dividerStyle_; }
  void setDividerStyle(SplitViewDividerStyle style);
  virtual double dividerThickness() const;
  virtual ns::Ref<Color> dividerColor() const;
  // Fills the divider with dividerColor; called once per divider after the subviews' area.
  virtual void drawDividerInRect(const Rect& rect);
  virtual bool isSubviewCollapsed(const ns::Ref<View>& subview) const;

  // Not retained.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate);

  // Shares the space left by the dividers out among the visible subviews in proportion to their
  // sizes (subviews the delegate says not to adjust keep theirs when others can take it).
  void adjustSubviews();
  // The coordinate along the split axis where divider `index` starts.
  double positionOfDividerAtIndex(long index) const;
  void setPosition_ofDividerAtIndex(double position, long index);
  double minPossiblePositionOfDividerAtIndex(long index) const;
  double maxPossiblePositionOfDividerAtIndex(long index) const;
  // The divider's rectangle in the split view's coordinates.
  Rect dividerRectAtIndex(long index) const;

  void resizeSubviewsWithOldSize(const Size& oldSize) override;
  void drawRect(const Rect& dirtyRect) override;
  // A press on a divider, or beside a thin one within its slack, is the split view's, also over
  // a subview that keeps its own presses.
  ns::Ref<View> hitTest(const Point& point) override;
  void mouseDown(const ns::Ref<Event>& event) override;
  void willRemoveSubview(const ns::Ref<View>& subview) override;

 protected:
  double length(const Rect& r) const { return vertical_ ? r.size.width : r.size.height; }
  double origin(const Rect& r) const { return vertical_ ? r.origin.x : r.origin.y; }
  double axisOf(const Point& p) const { return vertical_ ? p.x : p.y; }

 private:
  // Sizes along the axis, one per subview; collapsed ones 0.
  std::vector<double> sizes() const;
  // Places the subviews one after another with the given sizes.
  void apply(const std::vector<double>& sizes);
  void setCollapsed(const ns::Ref<View>& subview, bool collapsed);
  double constrainedPosition(double position, long index) const;
  bool delegateCanCollapse(long subviewIndex) const;
  double delegateMinimum(long index) const;
  void postResize(bool will, long dividerIndex);
  void registerDelegateObservers();
  void removeDelegateObservers();
  long dividerAt(const Point& point) const;

  bool vertical_ = false;
  SplitViewDividerStyle dividerStyle_ = SplitViewDividerStyle::Thick;
  ns::Weak<ns::Object> delegate_;
  std::vector<ns::Ref<ns::Object>> delegateTokens_;
  std::set<const View*> collapsed_;
};

}  // namespace ak
