#pragma once
// A grouped sidebar: an outline view whose top-level items are headings that select nothing and
// whose other items are entries with an optional icon and count badge.
//
// The application's delegate and data source speak the SourceListDelegate and
// SourceListDataSource runtime protocols (the outline-view selectors with "outlineView" turned
// into "sourceList"); they register the methods they implement with PL_CLASS, and which ones
// they have decides the display mode (view-based when the delegate answers
// sourceList:viewForItem:), badges, icons and the outline methods claimed for them. The outline
// view's own delegate and data source is a SourceListDelegateDataSourceProxy the list owns.
#include <cstdint>

#include "platform/appkit/OutlineView.h"
#include "platform/runtime/TypeCodec.h"

class SourceListBadgeCell;
class SourceListDelegateDataSourceProxy;

class SourceList : public ak::OutlineView {
 public:
  // What badgeValueForItem answers for an item without a badge.
  static constexpr std::int64_t kNoBadgeValue = INT64_MAX;

  SourceList();
  ~SourceList() override;

  void initWithFrame(const ak::Rect& frame) override;
  void initWithCoder(ak::NibCoder& coder) override;
  void setUpSourceList();

  // ---- wiring (both held weakly, by the proxy) ----
  void setDelegate(const ns::Ref<ns::Object>& delegate);
  void setDataSource(const ns::Ref<ns::Object>& dataSource);
  const ns::Ref<SourceListDelegateDataSourceProxy>& delegateDataSourceProxy() const { return proxy_; }

  ak::Size iconSize() const { return iconSize_; }
  // A size taller than the rows is scaled down to the row height, keeping its aspect ratio.
  void setIconSize(const ak::Size& size);
  // Group rows never float.
  bool floatsGroupRows() const override { return false; }
  void setFloatsGroupRows(bool floats);

  bool isViewBasedSourceList() const;
  unsigned long numberOfGroups() const;
  bool isGroupItem(const Item& item) const;
  bool isGroupAlwaysExpanded(const Item& item) const;
  bool itemHasBadge(const Item& item) const;
  std::int64_t badgeValueForItem(const Item& item) const;
  // The one cell every badge is drawn with, made on first use.
  ns::Ref<SourceListBadgeCell> reusableBadgeCell() const;

  // ---- the outline-view delegate methods the list answers itself (the proxy routes them here) ----
  ns::BOOL outlineView_shouldCollapseItem(ns::Ref<ns::Object> outlineView, ns::Ref<ns::Object> item);
  ns::BOOL outlineView_shouldSelectItem(ns::Ref<ns::Object> outlineView, ns::Ref<ns::Object> item);
  ns::BOOL outlineView_shouldEditTableColumn_item(ns::Ref<ns::Object> outlineView, ns::Ref<ns::Object> column,
                                                  ns::Ref<ns::Object> item);
  ns::BOOL outlineView_isGroupItem(ns::Ref<ns::Object> outlineView, ns::Ref<ns::Object> item);

  // ---- the outline view's behaviour, changed for headings ----
  void reloadData() override;
  // Heading rows are dropped from the request; an empty result changes nothing.
  void selectRowIndexes_byExtendingSelection(const ns::IndexSet& indexes, bool extend) override;
  void keyDown(const ns::Ref<ak::Event>& event) override;
  ns::Ref<ak::Menu> menuForEvent(const ns::Ref<ak::Event>& event) override;
  ak::Rect frameOfOutlineCellAtRow(long row) const override;
  ak::Rect frameOfCellAtColumn_row(long column, long row) const override;
  ak::Size sizeOfBadgeAtRow(long row) const;
  void drawRow_clipRect(long row, const ak::Rect& clipRect) override;
  void drawBadgeForRow_inRect(long row, const ak::Rect& rect);
  void viewDidMoveToSuperview() override;

  std::string className() const override { return "SourceList"; }

 private:
  // Whether the application's delegate or data source answers `selector`, asked of the proxy.
  bool answers(ns::Sel selector) const;
  ns::Ref<SourceList> me() const { return const_cast<SourceList*>(this)->self<SourceList>(); }

  ak::Size iconSize_{16.0, 16.0};
  ns::Ref<SourceListDelegateDataSourceProxy> proxy_;
  mutable ns::Ref<SourceListBadgeCell> reusableBadgeCell_;
};
