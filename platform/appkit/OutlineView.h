#pragma once
// Outline views: a table whose rows are the expanded tree of the data source's items. Items are
// object identities (nil is the root); expansion is remembered per item across reloads while
// the data source still returns the item.
#include <vector>

#include "platform/appkit/TableView.h"

namespace ak {

inline constexpr char OutlineViewSelectionDidChangeNotification[] =
    "NSOutlineViewSelectionDidChangeNotification";
inline constexpr char OutlineViewItemWillExpandNotification[] = "NSOutlineViewItemWillExpandNotification";
inline constexpr char OutlineViewItemDidExpandNotification[] = "NSOutlineViewItemDidExpandNotification";
inline constexpr char OutlineViewItemWillCollapseNotification[] = "NSOutlineViewItemWillCollapseNotification";
inline constexpr char OutlineViewItemDidCollapseNotification[] = "NSOutlineViewItemDidCollapseNotification";

// The child index of a drop onto an item itself.
inline constexpr long OutlineViewDropOnItemIndex = -1;

class OutlineView : public TableView {
 public:
  using Item = ns::Ref<ns::Object>;

  // ---- the tree ----
  bool isExpandable(const Item& item);
  bool isItemExpanded(const Item& item) const;
  void expandItem(const Item& item) { expandItem_expandChildren(item, false); }
  // nil with children expands every item.
  void expandItem_expandChildren(const Item& item, bool expandChildren);
  void collapseItem(const Item& item) { collapseItem_collapseChildren(item, false); }
  void collapseItem_collapseChildren(const Item& item, bool collapseChildren);
  void reloadItem(const Item& item) { reloadItem_reloadChildren(item, false); }
  void reloadItem_reloadChildren(const Item& item, bool reloadChildren);

  Item itemAtRow(long row) const;
  // -1 when the item is not shown (inside a collapsed parent, or gone).
  long rowForItem(const Item& item) const;
  long levelForItem(const Item& item) const;
  long levelForRow(long row) const;
  Item parentForItem(const Item& item) const;
  long childIndexForItem(const Item& item) const;

  double indentationPerLevel() const { return indentation_; }
  void setIndentationPerLevel(double points);
  bool indentationMarkerFollowsCell() const { return markerFollowsCell_; }
  void setIndentationMarkerFollowsCell(bool follows) { markerFollowsCell_ = follows; }
  bool autoresizesOutlineColumn() const { return autoresizesOutlineColumn_; }
  void setAutoresizesOutlineColumn(bool autoresizes) { autoresizesOutlineColumn_ = autoresizes; }
  virtual bool floatsGroupRows() const { return floatsGroupRows_; }
  void setFloatsGroupRows(bool floats) { floatsGroupRows_ = floats; }
  ns::Ref<TableColumn> outlineTableColumn() const;
  void setOutlineTableColumn(const ns::Ref<TableColumn>& column) { outlineColumn_ = column; }
  // The disclosure triangle of an expandable row (empty otherwise); a click in it toggles.
  virtual Rect frameOfOutlineCellAtRow(long row) const;
  Rect frameOfCellAtColumn_row(long column, long row) const override;
  // During validation: retargets the drop.
  void setDropItem_dropChildIndex(const Item& item, long index);
  Item dropItem() const { return dropItem_; }
  long dropChildIndex() const { return dropChildIndex_; }

 protected:
  long askRowCount() override { return long(tree_.size()); }
  double askHeight(long row) override;
  ns::Ref<View> askView(long column, long row) override;
  ns::Ref<TableRowView> askRowView(long row) override;
  void tellDidRemoveRowView(const ns::Ref<TableRowView>& view, long row) override;
  ns::Value askObjectValue(long column, long row) override;
  void tellSetObjectValue(const ns::Value& value, long column, long row) override;
  void tellWillDisplayCell(const ns::Ref<Cell>& cell, long column, long row) override;
  bool askSelectionShouldChange() override;
  bool askShouldSelectRow(long row) override;
  ns::Ref<ns::IndexSet> askProposedSelection(const ns::Ref<ns::IndexSet>& proposed) override;
  bool askShouldEdit(long column, long row) override;
  bool askIsGroupRow(long row) override;
  bool askWriteRows(const ns::IndexSet& rows, const ns::Ref<Pasteboard>& pasteboard) override;
  unsigned long askValidateDrop(const ns::Ref<DraggingInfo>& info) override;
  bool askAcceptDrop(const ns::Ref<DraggingInfo>& info) override;
  std::vector<std::pair<std::string, std::string>> delegateNotifications() const override;
  const char* selectionDidChangeName() const override { return OutlineViewSelectionDidChangeNotification; }
  const char* viewForSelector() const override { return "outlineView:viewForTableColumn:item:"; }
  const char* heightSelector() const override { return "outlineView:heightOfRowByItem:"; }
  std::vector<std::string> delegateSelectors() const override;
  std::vector<std::string> dataSourceSelectors() const override;
  void rebuildRows() override;
  bool handleClickInRow(long row, const Point& point) override;
  bool handleKey(const ns::Ref<Event>& event) override;

 private:
  struct Row {
    Item item;
    Item parent;
    long level;
    long childIndex;
  };
  long childCount(const Item& item);
  Item child(long index, const Item& item);
  void addRows(const Item& parent, long level, std::vector<Item>& seenExpanded, int depth);
  // Rebuilds the rows keeping the same items selected.
  void relayout();
  void expandOne(const Item& item, bool children);
  void collapseOne(const Item& item, bool children);
  bool wasExpanded(const Item& item) const;

  std::vector<Row> tree_;
  std::vector<Item> expanded_;
  double indentation_ = 16;
  bool markerFollowsCell_ = true, autoresizesOutlineColumn_ = true, floatsGroupRows_ = true;
  ns::Weak<TableColumn> outlineColumn_;
  Item dropItem_;
  long dropChildIndex_ = OutlineViewDropOnItemIndex;
  bool dropTargetSet_ = false;
};

}  // namespace ak
