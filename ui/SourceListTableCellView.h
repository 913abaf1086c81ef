#pragma once
// A table cell view for view-based source lists that keeps its badge view flush right and
// vertically centred.
#include "platform/appkit/TableView.h"
#include "ui/SourceListBadgeView.h"

class SourceListTableCellView : public ak::TableCellView {
 public:
  // Not retained: the view is one of the cell view's subviews.
  ns::Ref<SourceListBadgeView> badgeView() const { return badgeView_.lock(); }
  void setBadgeView(const ns::Ref<SourceListBadgeView>& view) { badgeView_ = view; }

  // Sizes the badge view to fit and places it at the right edge, centred on a whole point.
  virtual void layout();
  // The view lays its badge out again whenever its size changes.
  void resizeSubviewsWithOldSize(const ak::Size& oldSize) override;

  std::string className() const override { return "SourceListTableCellView"; }

 private:
  ns::Weak<SourceListBadgeView> badgeView_;
};
