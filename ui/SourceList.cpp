#include "ui/SourceList.h"

#include <algorithm>

#include "platform/appkit/Event.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"
#include "ui/SourceListBadgeCell.h"
#include "ui/SourceListDelegateDataSourceProxy.h"
#include "ui/UINotifications.h"

namespace {

using Id = ns::Ref<ns::Object>;

const ns::Sel kNumberOfChildren("sourceList:numberOfChildrenOfItem:");
const ns::Sel kChild("sourceList:child:ofItem:");
const ns::Sel kItemHasBadge("sourceList:itemHasBadge:");
const ns::Sel kBadgeValue("sourceList:badgeValueForItem:");
const ns::Sel kBadgeTextColor("sourceList:badgeTextColorForItem:");
const ns::Sel kBadgeBackgroundColor("sourceList:badgeBackgroundColorForItem:");
const ns::Sel kItemHasIcon("sourceList:itemHasIcon:");
const ns::Sel kIconForItem("sourceList:iconForItem:");
const ns::Sel kAlwaysExpanded("sourceList:isGroupAlwaysExpanded:");
const ns::Sel kMenuForEvent("sourceList:menuForEvent:item:");
const ns::Sel kViewForItem("sourceList:viewForItem:");
const ns::Sel kShouldSelect("sourceList:shouldSelectItem:");
const ns::Sel kShouldEdit("sourceList:shouldEditItem:");
const ns::Sel kShouldCollapse("sourceList:shouldCollapseItem:");

constexpr char32_t kDeleteCharacter = 0x7F;
constexpr char32_t kBackspaceCharacter = 0x08;

// The first character of UTF-8 text (U+FFFD for a malformed start).
char32_t firstCharacter(const std::string& text) {
  if (text.empty()) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (s[0] < 0x80) return s[0];
  int extra = s[0] >= 0xF0 ? 3 : s[0] >= 0xE0 ? 2 : s[0] >= 0xC0 ? 1 : -1;
  if (extra < 0 || std::size_t(extra) >= n) return 0xFFFD;
  char32_t c = s[0] & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (s[i] & 0x3F);
  }
  return c;
}

}  // namespace

SourceList::SourceList() = default;
// The outline view holds the proxy weakly; it goes with the list, and its destructor removes the
// delegate's registrations naming this list.
SourceList::~SourceList() = default;

void SourceList::initWithFrame(const ak::Rect& frame) {
  ak::OutlineView::initWithFrame(frame);
  setUpSourceList();
}

void SourceList::initWithCoder(ak::NibCoder& coder) {
  ak::OutlineView::initWithCoder(coder);
  setUpSourceList();
}

void SourceList::setUpSourceList() {
  iconSize_ = {16.0, 16.0};
  proxy_ = ak::make<SourceListDelegateDataSourceProxy>(self<SourceList>());
}

void SourceList::setDelegate(const ns::Ref<ns::Object>& delegate) {
  proxy_->setDelegate(delegate);
  // Cleared first so that the outline view asks the proxy again which methods exist.
  ak::OutlineView::setDelegate(nullptr);
  if (delegate) ak::OutlineView::setDelegate(proxy_);
}

void SourceList::setDataSource(const ns::Ref<ns::Object>& dataSource) {
  proxy_->setDataSource(dataSource);
  ak::OutlineView::setDataSource(nullptr);
  if (dataSource) ak::OutlineView::setDataSource(proxy_);
  reloadData();
}

void SourceList::setIconSize(const ak::Size& size) {
  iconSize_ = size;
  const double rowHeight = this->rowHeight();
  if (iconSize_.height > rowHeight) {
    iconSize_.width *= rowHeight / iconSize_.height;
    iconSize_.height = rowHeight;
  }
}

void SourceList::setFloatsGroupRows(bool) {
  ak::OutlineView::setFloatsGroupRows(false);
}

bool SourceList::answers(ns::Sel selector) const {
  return proxy_ && ns::respondsToSelector(proxy_, selector);
}

bool SourceList::isViewBasedSourceList() const {
  return answers(kViewForItem);
}

unsigned long SourceList::numberOfGroups() const {
  if (!answers(kNumberOfChildren)) return 0;
  const long count = ns::send<long>(proxy_, ns::Sel(kNumberOfChildren), me(), Id());
  return count < 0 ? 0 : static_cast<unsigned long>(count);
}

bool SourceList::isGroupItem(const Item& item) const {
  return levelForItem(item) == 0;
}

bool SourceList::isGroupAlwaysExpanded(const Item& item) const {
  return isGroupItem(item) && answers(kAlwaysExpanded) &&
         ns::send<bool>(proxy_, ns::Sel(kAlwaysExpanded), me(), item);
}

bool SourceList::itemHasBadge(const Item& item) const {
  if (isViewBasedSourceList()) return false;
  return answers(kItemHasBadge) && ns::send<bool>(proxy_, ns::Sel(kItemHasBadge), me(), item);
}

std::int64_t SourceList::badgeValueForItem(const Item& item) const {
  if (isViewBasedSourceList() || !itemHasBadge(item) || !answers(kBadgeValue)) return kNoBadgeValue;
  return ns::send<std::int64_t>(proxy_, ns::Sel(kBadgeValue), me(), item);
}

ns::Ref<SourceListBadgeCell> SourceList::reusableBadgeCell() const {
  if (!reusableBadgeCell_) reusableBadgeCell_ = ak::make<SourceListBadgeCell>();
  return reusableBadgeCell_;
}

// ---- outline-view delegate answers ----

ns::BOOL SourceList::outlineView_shouldCollapseItem(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
  if (isGroupItem(item) && isGroupAlwaysExpanded(item)) return ns::NO;
  if (answers(kShouldCollapse))
    return ns::send<bool>(proxy_, ns::Sel(kShouldCollapse), me(), item) ? ns::YES : ns::NO;
  return ns::YES;
}

ns::BOOL SourceList::outlineView_shouldSelectItem(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
  const bool group = isGroupItem(item);
  if (!group && answers(kShouldSelect))
    return ns::send<bool>(proxy_, ns::Sel(kShouldSelect), me(), item) ? ns::YES : ns::NO;
  return group ? ns::NO : ns::YES;
}

ns::BOOL SourceList::outlineView_shouldEditTableColumn_item(ns::Ref<ns::Object>, ns::Ref<ns::Object>,
                                                            ns::Ref<ns::Object> item) {
  const bool group = isGroupItem(item);
  if (!group && answers(kShouldEdit))
    return ns::send<bool>(proxy_, ns::Sel(kShouldEdit), me(), item) ? ns::YES : ns::NO;
  return group ? ns::NO : ns::YES;
}

ns::BOOL SourceList::outlineView_isGroupItem(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
  return isGroupItem(item) ? ns::YES : ns::NO;
}

// ---- reload, selection, keys and menus ----

void SourceList::reloadData() {
  auto keep = self<SourceList>();
  ak::OutlineView::reloadData();
  if (!proxy_) return;  // the outline's own set-up reloads before the list is set up

  if (answers(kAlwaysExpanded) && numberOfGroups() != 0) {
    auto topLevelRows = [this] {
      unsigned long n = 0;
      for (long r = 0; r < numberOfRows(); ++r)
        if (levelForRow(r) == 0) ++n;
      return n;
    };
    // Bounded by the groups the outline shows: a data source answering an absurd count must not
    // keep the loop going.
    for (unsigned long i = 0; i < numberOfGroups() && i < topLevelRows(); ++i) {
      Item group = answers(kChild) ? ns::send<Id>(proxy_, ns::Sel(kChild), keep, i, Id()) : nullptr;
      if (!group) continue;
      if (isGroupAlwaysExpanded(group)) expandItem_expandChildren(group, false);
    }
  }

  auto selected = selectedRowIndexes();
  const long rows = numberOfRows();
  if (selected->count() == 0) {
    if (allowsEmptySelection() || rows == 0) return;
    for (long r = 0; r < rows; ++r) {
      if (!isGroupItem(itemAtRow(r))) {
        selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(std::size_t(r)), false);
        return;
      }
    }
    return;
  }
  const long first = long(selected->firstIndex());
  if (!isGroupItem(itemAtRow(first))) return;
  // Row 0 is never chosen: the walk stops at row 1.
  for (long r = first; r >= 1; --r) {
    if (!isGroupItem(itemAtRow(r))) {
      selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(std::size_t(r)), false);
      return;
    }
  }
  deselectAll(nullptr);
}

void SourceList::selectRowIndexes_byExtendingSelection(const ns::IndexSet& indexes, bool extend) {
  if (indexes.count() == 0 && !allowsEmptySelection()) return;
  auto kept = ns::MutableIndexSet::indexSet();
  for (const auto& range : indexes.ranges())
    for (std::size_t i = range.location; i < range.max() && long(i) < numberOfRows(); ++i)
      if (!isGroupItem(itemAtRow(long(i)))) kept->addIndex(i);
  if (kept->count() == 0) return;
  ak::OutlineView::selectRowIndexes_byExtendingSelection(*kept, extend);
}

void SourceList::keyDown(const ns::Ref<ak::Event>& event) {
  auto selected = selectedRowIndexes();
  if (selected->count() == 0 || event->characters().empty()) return ak::OutlineView::keyDown(event);
  const char32_t c = firstCharacter(event->characters());
  if (c == ak::UpArrowFunctionKey || c == ak::DownArrowFunctionKey) {
    if (selected->count() != 1 || (event->modifierFlags() & ak::ShiftKeyMask))
      return ak::OutlineView::keyDown(event);
    const long step = c == ak::UpArrowFunctionKey ? -1 : 1;
    for (long r = long(selected->firstIndex()) + step; r >= 0 && r < numberOfRows(); r += step) {
      if (!isGroupItem(itemAtRow(r))) {
        selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(std::size_t(r)), false);
        scrollRowToVisible(r);
        return;
      }
    }
    return;  // past the first or last row: the selection stays as it was
  }
  if (c == kDeleteCharacter || c == kBackspaceCharacter || c == ak::DeleteFunctionKey) {
    ns::Dictionary info;
    info.set("rows", ns::Value(ns::Ref<ns::Object>(selected)));
    ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(
        kSourceListDeleteKeyPressedOnRowsNotification, self<SourceList>(), info);
    return;
  }
  ak::OutlineView::keyDown(event);
}

ns::Ref<ak::Menu> SourceList::menuForEvent(const ns::Ref<ak::Event>& event) {
  if (answers(kMenuForEvent)) {
    const ak::Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
    Item item = itemAtRow(rowAtPoint(p));
    auto menu = std::dynamic_pointer_cast<ak::Menu>(
        ns::send<Id>(proxy_, ns::Sel(kMenuForEvent), me(), Id(event), item));
    if (menu) return menu;
  }
  return ak::OutlineView::menuForEvent(event);
}

// ---- geometry and drawing ----

ak::Rect SourceList::frameOfOutlineCellAtRow(long row) const {
  if (isGroupAlwaysExpanded(itemAtRow(row))) return ak::ZeroRect;
  ak::Rect frame = ak::OutlineView::frameOfOutlineCellAtRow(row);
  const long level = levelForRow(row);
  if (level > 0) frame.origin.x = indentationPerLevel() * double(level);
  return frame;
}

ak::Rect SourceList::frameOfCellAtColumn_row(long column, long row) const {
  const ak::Rect S = ak::OutlineView::frameOfCellAtColumn_row(column, row);
  if (isViewBasedSourceList() || row < 0 || row >= numberOfRows() || column < 0 ||
      column >= long(tableColumns().size()))
    return S;
  auto self = const_cast<SourceList*>(this);
  const Item item = itemAtRow(row);
  double h = S.size.height;
  if (auto cell = self->preparedCellAtColumn_row(column, row)) {
    h = cell->cellSize().height;
    if (cell->type() != ak::CellType::Text && cell->type() != ak::CellType::Image)
      h = cell->cellSizeForBounds(S).height;
  }
  const ak::Rect R = rectOfRow(row);
  if (isGroupItem(item)) {
    const double x = isGroupAlwaysExpanded(item) ? 7.0 : S.origin.x;
    return {{x, S.origin.y + S.size.height * 0.5 - h * 0.5}, {std::max(0.0, R.size.width - x), h}};
  }
  double x = indentationPerLevel() * double(levelForRow(row)) + 18.0;
  if (answers(kItemHasIcon) && ns::send<bool>(proxy_, ns::Sel(kItemHasIcon), me(), item))
    x += iconSize_.width + 4.0;
  const double b = sizeOfBadgeAtRow(row).width;
  return {{x, R.origin.y + R.size.height * 0.5 - h * 0.5}, {std::max(0.0, R.size.width - (b + 5.0) - x), h}};
}

ak::Size SourceList::sizeOfBadgeAtRow(long row) const {
  const Item item = itemAtRow(row);
  if (!itemHasBadge(item)) return {0, 0};
  auto cell = reusableBadgeCell();
  cell->setBadgeValue(static_cast<std::uint64_t>(badgeValueForItem(item)));
  return {std::max(cell->cellSize().width, 22.0), 14.0};
}

void SourceList::drawRow_clipRect(long row, const ak::Rect& clipRect) {
  auto keep = self<SourceList>();
  ak::OutlineView::drawRow_clipRect(row, clipRect);
  if (isViewBasedSourceList()) return;
  const Item item = itemAtRow(row);
  if (!isGroupItem(item) && answers(kItemHasIcon) &&
      ns::send<bool>(proxy_, ns::Sel(kItemHasIcon), keep, item)) {
    const ak::Rect F = frameOfCellAtColumn_row(0, row);
    ak::Rect icon{
        {F.origin.x - iconSize_.width - 2.0, F.origin.y + F.size.height * 0.5 - iconSize_.height * 0.5},
        iconSize_};
    auto image =
        answers(kIconForItem)
            ? std::dynamic_pointer_cast<ak::Image>(ns::send<Id>(proxy_, ns::Sel(kIconForItem), keep, item))
            : nullptr;
    if (image) {
      const ak::Size own = image->size();
      // A smaller image keeps its own size, centred where the icon goes.
      if (iconSize_.width > own.width || iconSize_.height > own.height) {
        icon = {{icon.origin.x + (icon.size.width - own.width) * 0.5,
                 icon.origin.y + (icon.size.height - own.height) * 0.5},
                own};
      }
      image->drawInRect_fromRect_operation_fraction_respectFlipped_hints(
          icon, {{0, 0}, own}, ak::CompositingOperation::SourceOver, 1.0, true, nullptr);
    }
  }
  if (itemHasBadge(item)) {
    const ak::Rect R = rectOfRow(row);
    const ak::Size B = sizeOfBadgeAtRow(row);
    drawBadgeForRow_inRect(
        row,
        {{R.origin.x + R.size.width - B.width - 5.0, R.origin.y + R.size.height * 0.5 - B.height * 0.5}, B});
  }
}

void SourceList::drawBadgeForRow_inRect(long row, const ak::Rect& rect) {
  auto keep = self<SourceList>();
  const Item item = itemAtRow(row);
  auto cell = reusableBadgeCell();
  cell->setBadgeValue(static_cast<std::uint64_t>(badgeValueForItem(item)));
  // Colours the data source does not give stay as the cell last had them.
  if (answers(kBadgeTextColor))
    cell->setTextColor(
        std::dynamic_pointer_cast<ak::Color>(ns::send<Id>(proxy_, ns::Sel(kBadgeTextColor), keep, item)));
  if (answers(kBadgeBackgroundColor))
    cell->setBackgroundColor(std::dynamic_pointer_cast<ak::Color>(
        ns::send<Id>(proxy_, ns::Sel(kBadgeBackgroundColor), keep, item)));
  cell->setHighlighted(isRowSelected(row));
  cell->drawWithFrame_inView(rect, keep);
}

void SourceList::viewDidMoveToSuperview() {
  setAutoresizesOutlineColumn(false);
  // The outline view still follows its clip view and brings its rows in.
  ak::OutlineView::viewDidMoveToSuperview();
}

PL_CLASS(SourceList, ak::OutlineView) {
  cls.method<&SourceList::outlineView_shouldCollapseItem>("outlineView:shouldCollapseItem:");
  cls.method<&SourceList::outlineView_shouldSelectItem>("outlineView:shouldSelectItem:");
  cls.method<&SourceList::outlineView_shouldEditTableColumn_item>("outlineView:shouldEditTableColumn:item:");
  cls.method<&SourceList::outlineView_isGroupItem>("outlineView:isGroupItem:");
}

// ---- the protocols the application's delegate and data source implement ----

PL_PROTOCOL(SourceListDataSource) {
  proto.adopts("NSObject");
  proto.required<unsigned long(Id, Id)>("sourceList:numberOfChildrenOfItem:");
  proto.required<Id(Id, unsigned long, Id)>("sourceList:child:ofItem:");
  proto.required<ns::BOOL(Id, Id)>("sourceList:isItemExpandable:");
  proto.optional<Id(Id, Id)>("sourceList:objectValueForItem:");
  proto.optional<void(Id, Id, Id)>("sourceList:setObjectValue:forItem:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:itemHasBadge:");
  proto.optional<long(Id, Id)>("sourceList:badgeValueForItem:");
  proto.optional<Id(Id, Id)>("sourceList:badgeTextColorForItem:");
  proto.optional<Id(Id, Id)>("sourceList:badgeBackgroundColorForItem:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:itemHasIcon:");
  proto.optional<Id(Id, Id)>("sourceList:iconForItem:");
  proto.optional<Id(Id, Id)>("sourceList:itemForPersistentObject:");
  proto.optional<Id(Id, Id)>("sourceList:persistentObjectForItem:");
  proto.optional<ns::BOOL(Id, Id, Id)>("sourceList:writeItems:toPasteboard:");
  proto.optional<unsigned long(Id, Id, Id, long)>("sourceList:validateDrop:proposedItem:proposedChildIndex:");
  proto.optional<ns::BOOL(Id, Id, Id, long)>("sourceList:acceptDrop:item:childIndex:");
  proto.optional<Id(Id, Id, Id)>("sourceList:namesOfPromisedFilesDroppedAtDestination:forDraggedItems:");
  proto.optional<Id(Id, Id)>("sourceList:pasteboardWriterForItem:");
  proto.optional<void(Id, Id, ak::Point, Id)>("sourceList:draggingSession:willBeginAtPoint:forItems:");
  proto.optional<void(Id, Id, ak::Point, unsigned long)>(
      "sourceList:draggingSession:endedAtPoint:operation:");
  proto.optional<void(Id, Id)>("sourceList:updateDraggingItemsForDrag:");
}

PL_PROTOCOL(SourceListDelegate) {
  proto.adopts("NSObject");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:isGroupAlwaysExpanded:");
  proto.optional<Id(Id, Id, Id)>("sourceList:menuForEvent:item:");
  proto.optional<void(Id)>("sourceListDeleteKeyPressedOnRows:");
  proto.optional<Id(Id, Id)>("sourceList:viewForItem:");
  proto.optional<Id(Id, Id)>("sourceList:rowViewForItem:");
  proto.optional<void(Id, Id, long)>("sourceList:didAddRowView:forRow:");
  proto.optional<void(Id, Id, long)>("sourceList:didRemoveRowView:forRow:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:shouldSelectItem:");
  proto.optional<Id(Id, Id)>("sourceList:selectionIndexesForProposedSelection:");
  proto.optional<void(Id)>("sourceListSelectionIsChanging:");
  proto.optional<void(Id)>("sourceListSelectionDidChange:");
  proto.optional<Id(Id, Id)>("sourceList:typeSelectStringForItem:");
  proto.optional<Id(Id, Id, Id, Id)>("sourceList:nextTypeSelectMatchFromItem:toItem:forString:");
  proto.optional<ns::BOOL(Id, Id, Id)>("sourceList:shouldTypeSelectForEvent:withCurrentSearchString:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:shouldShowCellExpansionForItem:");
  proto.optional<Id(Id, Id, ak::Rect*, Id, ak::Point)>("sourceList:toolTipForCell:rect:item:mouseLocation:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:shouldEditItem:");
  proto.optional<ns::BOOL(Id, Id, Id)>("sourceList:shouldTrackCell:forItem:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:shouldExpandItem:");
  proto.optional<ns::BOOL(Id, Id)>("sourceList:shouldCollapseItem:");
  proto.optional<void(Id)>("sourceListItemWillExpand:");
  proto.optional<void(Id)>("sourceListItemDidExpand:");
  proto.optional<void(Id)>("sourceListItemWillCollapse:");
  proto.optional<void(Id)>("sourceListItemDidCollapse:");
  proto.optional<double(Id, Id)>("sourceList:heightOfRowByItem:");
  proto.optional<void(Id, Id, Id)>("sourceList:willDisplayCell:forItem:");
  proto.optional<Id(Id, Id)>("sourceList:dataCellForItem:");
}
