#include "platform/appkit/OutlineView.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Event.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {
constexpr char kChildren[] = "outlineView:numberOfChildrenOfItem:";
constexpr char kChild[] = "outlineView:child:ofItem:";
constexpr char kExpandable[] = "outlineView:isItemExpandable:";
constexpr char kObjectValue[] = "outlineView:objectValueForTableColumn:byItem:";
constexpr char kSetObjectValue[] = "outlineView:setObjectValue:forTableColumn:byItem:";
constexpr char kWriteItems[] = "outlineView:writeItems:toPasteboard:";
constexpr char kValidateDrop[] = "outlineView:validateDrop:proposedItem:proposedChildIndex:";
constexpr char kAcceptDrop[] = "outlineView:acceptDrop:item:childIndex:";

constexpr char kViewFor[] = "outlineView:viewForTableColumn:item:";
constexpr char kRowViewFor[] = "outlineView:rowViewForItem:";
constexpr char kHeightOf[] = "outlineView:heightOfRowByItem:";
constexpr char kDidRemove[] = "outlineView:didRemoveRowView:forRow:";
constexpr char kWillDisplay[] = "outlineView:willDisplayCell:forTableColumn:item:";
constexpr char kShouldChange[] = "selectionShouldChangeInOutlineView:";
constexpr char kShouldSelect[] = "outlineView:shouldSelectItem:";
constexpr char kProposed[] = "outlineView:selectionIndexesForProposedSelection:";
constexpr char kShouldEdit[] = "outlineView:shouldEditTableColumn:item:";
constexpr char kIsGroup[] = "outlineView:isGroupItem:";
constexpr char kShouldExpand[] = "outlineView:shouldExpandItem:";
constexpr char kShouldCollapse[] = "outlineView:shouldCollapseItem:";
constexpr char kSelectionDidChange[] = "outlineViewSelectionDidChange:";
constexpr char kWillExpand[] = "outlineViewItemWillExpand:";
constexpr char kDidExpand[] = "outlineViewItemDidExpand:";
constexpr char kWillCollapse[] = "outlineViewItemWillCollapse:";
constexpr char kDidCollapse[] = "outlineViewItemDidCollapse:";

// Deeper trees than any list has are cut here rather than recursing without end through a data
// source whose items contain themselves.
constexpr int kMaxDepth = 64;
constexpr long kMaxChildren = 1L << 22;
}  // namespace

std::vector<std::string> OutlineView::dataSourceSelectors() const {
  return {kChildren,       kChild,      kExpandable,   kObjectValue,
          kSetObjectValue, kWriteItems, kValidateDrop, kAcceptDrop};
}

std::vector<std::string> OutlineView::delegateSelectors() const {
  return {kViewFor,      kRowViewFor,     kHeightOf,           kDidRemove,  kWillDisplay,
          kShouldChange, kShouldSelect,   kProposed,           kShouldEdit, kIsGroup,
          kShouldExpand, kShouldCollapse, kSelectionDidChange, kWillExpand, kDidExpand,
          kWillCollapse, kDidCollapse};
}

std::vector<std::pair<std::string, std::string>> OutlineView::delegateNotifications() const {
  return {{OutlineViewSelectionDidChangeNotification, kSelectionDidChange},
          {OutlineViewItemWillExpandNotification, kWillExpand},
          {OutlineViewItemDidExpandNotification, kDidExpand},
          {OutlineViewItemWillCollapseNotification, kWillCollapse},
          {OutlineViewItemDidCollapseNotification, kDidCollapse}};
}

// ---- the tree ----

long OutlineView::childCount(const Item& item) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kChildren)) return 0;
  return std::clamp(ns::send<long>(source, ns::Sel(kChildren), self<OutlineView>(), item), 0L, kMaxChildren);
}

OutlineView::Item OutlineView::child(long index, const Item& item) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kChild)) return nullptr;
  return ns::send<ns::Ref<ns::Object>>(source, ns::Sel(kChild), self<OutlineView>(), index, item);
}

bool OutlineView::isExpandable(const Item& item) {
  if (!item) return true;
  auto source = dataSource();
  return source && dataSourceAnswers(kExpandable) &&
         ns::send<bool>(source, ns::Sel(kExpandable), self<OutlineView>(), item);
}

bool OutlineView::wasExpanded(const Item& item) const {
  return item && std::find(expanded_.begin(), expanded_.end(), item) != expanded_.end();
}

bool OutlineView::isItemExpanded(const Item& item) const {
  return !item || wasExpanded(item);
}

void OutlineView::addRows(const Item& parent, long level, std::vector<Item>& seenExpanded, int depth) {
  if (depth > kMaxDepth) return;
  const long n = childCount(parent);
  for (long i = 0; i < n; ++i) {
    auto item = child(i, parent);
    tree_.push_back({item, parent, level, i});
    if (wasExpanded(item) && isExpandable(item)) {
      seenExpanded.push_back(item);
      addRows(item, level + 1, seenExpanded, depth + 1);
    }
  }
}

void OutlineView::rebuildRows() {
  tree_.clear();
  std::vector<Item> seen;
  addRows(nullptr, 0, seen, 0);
  // Items the data source no longer returns lose their expansion.
  expanded_ = std::move(seen);
}

void OutlineView::relayout() {
  auto keep = self<OutlineView>();
  std::vector<Item> selected;
  auto indexes = selectedRowIndexes();
  for (const auto& r : indexes->ranges())
    for (std::size_t i = r.location; i < r.max(); ++i) selected.push_back(itemAtRow(long(i)));
  TableView::reloadData();
  auto next = ns::MutableIndexSet::indexSet();
  for (const auto& item : selected)
    if (long row = rowForItem(item); row >= 0) next->addIndex(std::size_t(row));
  if (next->count() < selected.size()) {
    changeSelection(next);  // hidden items leave the selection
  } else {
    replaceSelectionQuietly(next);
  }
}

void OutlineView::expandOne(const Item& item, bool children) {
  if (item && !isExpandable(item)) return;
  if (item && !wasExpanded(item)) {
    auto d = delegate();
    if (d && delegateAnswers(kShouldExpand) &&
        !ns::send<bool>(d, ns::Sel(kShouldExpand), self<OutlineView>(), item))
      return;
    ns::Dictionary info;
    info.set("NSObject", ns::Value(item));
    postDelegateNotification(OutlineViewItemWillExpandNotification, info);
    expanded_.push_back(item);
    relayout();
    postDelegateNotification(OutlineViewItemDidExpandNotification, info);
  }
  if (!children) return;
  const long n = childCount(item);
  std::vector<Item> kids;
  for (long i = 0; i < n; ++i) kids.push_back(child(i, item));
  for (const auto& kid : kids)
    if (kid && isExpandable(kid)) expandOne(kid, true);
}

void OutlineView::expandItem_expandChildren(const Item& item, bool expandChildren) {
  auto keep = self<OutlineView>();
  if (!item && !expandChildren) return;
  expandOne(item, expandChildren);
}

void OutlineView::collapseOne(const Item& item, bool children) {
  if (!item) return;
  if (children) {
    const long n = wasExpanded(item) ? childCount(item) : 0;
    std::vector<Item> kids;
    for (long i = 0; i < n; ++i) kids.push_back(child(i, item));
    for (const auto& kid : kids)
      if (wasExpanded(kid)) collapseOne(kid, true);
  }
  if (!wasExpanded(item)) return;
  auto d = delegate();
  if (d && delegateAnswers(kShouldCollapse) &&
      !ns::send<bool>(d, ns::Sel(kShouldCollapse), self<OutlineView>(), item))
    return;
  ns::Dictionary info;
  info.set("NSObject", ns::Value(item));
  postDelegateNotification(OutlineViewItemWillCollapseNotification, info);
  expanded_.erase(std::remove(expanded_.begin(), expanded_.end(), item), expanded_.end());
  relayout();
  postDelegateNotification(OutlineViewItemDidCollapseNotification, info);
}

void OutlineView::collapseItem_collapseChildren(const Item& item, bool collapseChildren) {
  auto keep = self<OutlineView>();
  if (!item) {
    auto roots = std::vector<Item>();
    for (const auto& row : tree_)
      if (!row.parent) roots.push_back(row.item);
    for (const auto& root : roots) collapseOne(root, collapseChildren);
    return;
  }
  collapseOne(item, collapseChildren);
}

void OutlineView::reloadItem_reloadChildren(const Item& item, bool reloadChildren) {
  if (reloadChildren || !item) {
    relayout();
    return;
  }
  long row = rowForItem(item);
  if (row < 0) return;
  reloadDataForRowIndexes_columnIndexes(*ns::IndexSet::indexSetWithIndex(std::size_t(row)),
                                        *ns::IndexSet::indexSet());
}

OutlineView::Item OutlineView::itemAtRow(long row) const {
  return row >= 0 && row < long(tree_.size()) ? tree_[row].item : nullptr;
}

long OutlineView::rowForItem(const Item& item) const {
  if (!item) return -1;
  for (std::size_t i = 0; i < tree_.size(); ++i)
    if (tree_[i].item == item) return long(i);
  return -1;
}

long OutlineView::levelForItem(const Item& item) const {
  long row = rowForItem(item);
  return row < 0 ? -1 : tree_[row].level;
}

long OutlineView::levelForRow(long row) const {
  return row >= 0 && row < long(tree_.size()) ? tree_[row].level : -1;
}

OutlineView::Item OutlineView::parentForItem(const Item& item) const {
  long row = rowForItem(item);
  return row < 0 ? nullptr : tree_[row].parent;
}

long OutlineView::childIndexForItem(const Item& item) const {
  long row = rowForItem(item);
  return row < 0 ? -1 : tree_[row].childIndex;
}

void OutlineView::setIndentationPerLevel(double points) {
  if (!std::isfinite(points) || points < 0) return;
  indentation_ = points;
  setNeedsDisplay(true);
}

ns::Ref<TableColumn> OutlineView::outlineTableColumn() const {
  if (auto column = outlineColumn_.lock()) return column;
  return tableColumns().empty() ? nullptr : tableColumns().front();
}

Rect OutlineView::frameOfOutlineCellAtRow(long row) const {
  if (row < 0 || row >= long(tree_.size())) return ZeroRect;
  auto column = outlineTableColumn();
  long index = -1;
  for (std::size_t i = 0; i < tableColumns().size(); ++i)
    if (tableColumns()[i] == column) index = long(i);
  if (index < 0) return ZeroRect;
  auto self = const_cast<OutlineView*>(this);
  if (!self->isExpandable(tree_[row].item)) return ZeroRect;
  Rect cell = TableView::frameOfCellAtColumn_row(index, row);
  return {{cell.origin.x + indentation_ * double(tree_[row].level), cell.origin.y},
          {indentation_, cell.size.height}};
}

Rect OutlineView::frameOfCellAtColumn_row(long column, long row) const {
  Rect cell = TableView::frameOfCellAtColumn_row(column, row);
  if (row < 0 || row >= long(tree_.size()) || column < 0 || column >= long(tableColumns().size()) ||
      tableColumns()[column] != outlineTableColumn())
    return cell;
  // The outline column leaves room for the level's indentation and the disclosure triangle.
  double inset = indentation_ * double(tree_[row].level + 1);
  inset = std::min(inset, cell.size.width);
  return {{cell.origin.x + inset, cell.origin.y}, {cell.size.width - inset, cell.size.height}};
}

bool OutlineView::handleClickInRow(long row, const Point& point) {
  Rect triangle = frameOfOutlineCellAtRow(row);
  if (triangle.size.width <= 0 || !MouseInRect(point, triangle, true)) return false;
  auto item = itemAtRow(row);
  if (isItemExpanded(item)) {
    collapseItem(item);
  } else {
    expandItem(item);
  }
  return true;
}

bool OutlineView::handleKey(const ns::Ref<Event>& event) {
  const unsigned short code = event->keyCode();
  if (code != kVK_LeftArrow && code != kVK_RightArrow) return false;
  long row = selectedRow();
  if (row < 0) return true;
  auto item = itemAtRow(row);
  if (code == kVK_RightArrow) {
    expandItem(item);
  } else {
    collapseItem(item);
  }
  return true;
}

// ---- questions, as outline views ask them ----

double OutlineView::askHeight(long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kHeightOf)) return rowHeight();
  return ns::send<double>(d, ns::Sel(kHeightOf), self<OutlineView>(), itemAtRow(row));
}

ns::Ref<View> OutlineView::askView(long column, long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kViewFor)) return nullptr;
  return std::dynamic_pointer_cast<View>(
      ns::send<ns::Ref<ns::Object>>(d, ns::Sel(kViewFor), self<OutlineView>(),
                                    ns::Ref<ns::Object>(tableColumns()[column]), itemAtRow(row)));
}

ns::Ref<TableRowView> OutlineView::askRowView(long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kRowViewFor)) return nullptr;
  return std::dynamic_pointer_cast<TableRowView>(
      ns::send<ns::Ref<ns::Object>>(d, ns::Sel(kRowViewFor), self<OutlineView>(), itemAtRow(row)));
}

void OutlineView::tellDidRemoveRowView(const ns::Ref<TableRowView>& view, long row) {
  auto d = delegate();
  if (d && delegateAnswers(kDidRemove))
    ns::send(d, ns::Sel(kDidRemove), self<OutlineView>(), ns::Ref<ns::Object>(view), row);
}

ns::Value OutlineView::askObjectValue(long column, long row) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kObjectValue)) return {};
  return ns::send<ns::Value>(source, ns::Sel(kObjectValue), self<OutlineView>(),
                             ns::Ref<ns::Object>(tableColumns()[column]), itemAtRow(row));
}

void OutlineView::tellSetObjectValue(const ns::Value& value, long column, long row) {
  auto source = dataSource();
  if (source && dataSourceAnswers(kSetObjectValue))
    ns::send(source, ns::Sel(kSetObjectValue), self<OutlineView>(), value,
             ns::Ref<ns::Object>(tableColumns()[column]), itemAtRow(row));
}

void OutlineView::tellWillDisplayCell(const ns::Ref<Cell>& cell, long column, long row) {
  auto d = delegate();
  if (d && delegateAnswers(kWillDisplay))
    ns::send(d, ns::Sel(kWillDisplay), self<OutlineView>(), ns::Ref<ns::Object>(cell),
             ns::Ref<ns::Object>(tableColumns()[column]), itemAtRow(row));
}

bool OutlineView::askSelectionShouldChange() {
  auto d = delegate();
  return !d || !delegateAnswers(kShouldChange) ||
         ns::send<bool>(d, ns::Sel(kShouldChange), self<OutlineView>());
}

bool OutlineView::askShouldSelectRow(long row) {
  auto d = delegate();
  return !d || !delegateAnswers(kShouldSelect) ||
         ns::send<bool>(d, ns::Sel(kShouldSelect), self<OutlineView>(), itemAtRow(row));
}

ns::Ref<ns::IndexSet> OutlineView::askProposedSelection(const ns::Ref<ns::IndexSet>& proposed) {
  auto d = delegate();
  if (!d || !delegateAnswers(kProposed)) return proposed;
  return std::dynamic_pointer_cast<ns::IndexSet>(ns::send<ns::Ref<ns::Object>>(
      d, ns::Sel(kProposed), self<OutlineView>(), ns::Ref<ns::Object>(proposed)));
}

bool OutlineView::askShouldEdit(long column, long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kShouldEdit)) return tableColumns()[column]->isEditable();
  return ns::send<bool>(d, ns::Sel(kShouldEdit), self<OutlineView>(),
                        ns::Ref<ns::Object>(tableColumns()[column]), itemAtRow(row));
}

bool OutlineView::askIsGroupRow(long row) {
  auto d = delegate();
  return d && delegateAnswers(kIsGroup) &&
         ns::send<bool>(d, ns::Sel(kIsGroup), self<OutlineView>(), itemAtRow(row));
}

bool OutlineView::askWriteRows(const ns::IndexSet& rows, const ns::Ref<Pasteboard>& pasteboard) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kWriteItems)) return false;
  ns::Array items;
  for (const auto& r : rows.ranges())
    for (std::size_t i = r.location; i < r.max(); ++i) items.push_back(ns::Value(itemAtRow(long(i))));
  return ns::send<bool>(source, ns::Sel(kWriteItems), self<OutlineView>(), ns::Value(items),
                        ns::Ref<ns::Object>(pasteboard));
}

void OutlineView::setDropItem_dropChildIndex(const Item& item, long index) {
  dropItem_ = item;
  dropChildIndex_ = index < 0 ? OutlineViewDropOnItemIndex : index;
  dropTargetSet_ = true;
  if (dropChildIndex_ == OutlineViewDropOnItemIndex) {
    setDropRow_dropOperation(rowForItem(item), TableViewDropOn);
  } else {
    // Above the child at that index, or below the parent's last shown descendant.
    long row = -1;
    for (std::size_t i = 0; i < tree_.size(); ++i)
      if (tree_[i].parent == item && tree_[i].childIndex == index) row = long(i);
    if (row < 0) row = long(tree_.size());
    setDropRow_dropOperation(row, TableViewDropAbove);
  }
}

unsigned long OutlineView::askValidateDrop(const ns::Ref<DraggingInfo>& info) {
  const Point p = convertPoint_fromView(info->draggingLocation(), nullptr);
  const long row = rowAtPoint({std::max(0.0, std::min(p.x, frame().size.width - 1)), p.y});
  if (row < 0) {
    setDropItem_dropChildIndex(nullptr, childCount(nullptr));
  } else {
    const auto& r = tree_[row];
    Rect rect = rectOfRow(row);
    double f = (p.y - rect.origin.y) / std::max(1.0, rect.size.height);
    if (f < 0.25) {
      setDropItem_dropChildIndex(r.parent, r.childIndex);
    } else if (f > 0.75 && !(isItemExpanded(r.item) && isExpandable(r.item))) {
      setDropItem_dropChildIndex(r.parent, r.childIndex + 1);
    } else {
      setDropItem_dropChildIndex(r.item, OutlineViewDropOnItemIndex);
    }
  }
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kValidateDrop)) return DragOperationNone;
  return ns::send<unsigned long>(source, ns::Sel(kValidateDrop), self<OutlineView>(),
                                 ns::Ref<ns::Object>(info), dropItem_, dropChildIndex_);
}

bool OutlineView::askAcceptDrop(const ns::Ref<DraggingInfo>& info) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kAcceptDrop)) return false;
  return ns::send<bool>(source, ns::Sel(kAcceptDrop), self<OutlineView>(), ns::Ref<ns::Object>(info),
                        dropItem_, dropChildIndex_);
}

}  // namespace ak

PL_CLASS_NAMED(ak::OutlineView, "NSOutlineView", ak::TableView) {}
