#include "platform/appkit/TableView.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {
// More rows than any list shows; a data source answering more is taken at this count so that
// row offsets stay bounded.
constexpr long kMaxRows = 1L << 22;

const ns::Sel kCount("numberOfRowsInTableView:");
const ns::Sel kViewFor("tableView:viewForTableColumn:row:");
const ns::Sel kHeightOf("tableView:heightOfRow:");
const ns::Sel kDidRemove("tableView:didRemoveRowView:forRow:");
const ns::Sel kRowViewFor("tableView:rowViewForRow:");
const ns::Sel kSelectionDidChange("tableViewSelectionDidChange:");
}  // namespace

// ---- TableColumn ----

void TableColumn::setWidth(double width) {
  if (!std::isfinite(width)) return;
  width_ = std::clamp(width, minWidth_, std::max(minWidth_, maxWidth_));
}

// ---- TableRowView ----

void TableRowView::setSelected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  pushBackgroundStyle();
  setNeedsDisplay(true);
}

void TableRowView::setSelectionHighlightStyle(long style) {
  highlightStyle_ = style;
  setNeedsDisplay(true);
}

void TableRowView::setBackgroundColor(const ns::Ref<Color>& color) {
  backgroundColor_ = color;
  setNeedsDisplay(true);
}

void TableRowView::pushBackgroundStyle() {
  long style = selected_ ? BackgroundStyleDark : BackgroundStyleLight;
  for (const auto& sub : subviews())
    if (auto cell = std::dynamic_pointer_cast<TableCellView>(sub)) cell->setBackgroundStyle(style);
}

void TableRowView::didAddSubview(const ns::Ref<View>& subview) {
  if (auto cell = std::dynamic_pointer_cast<TableCellView>(subview))
    cell->setBackgroundStyle(selected_ ? BackgroundStyleDark : BackgroundStyleLight);
}

void TableRowView::drawBackgroundInRect(const Rect& dirtyRect) {
  if (!backgroundColor_) return;
  backgroundColor_->setFill();
  RectFillUsingOperation(dirtyRect, CompositingOperation::SourceOver);
}

void TableRowView::drawSelectionInRect(const Rect& dirtyRect) {
  Color::colorWithDeviceRed_green_blue_alpha(0.22, 0.45, 0.85, 1)->setFill();
  RectFillUsingOperation(IntersectionRect(bounds(), dirtyRect), CompositingOperation::SourceOver);
}

void TableRowView::drawRect(const Rect& dirtyRect) {
  drawBackgroundInRect(dirtyRect);
  if (selected_ && highlightStyle_ != TableViewSelectionHighlightStyleNone) drawSelectionInRect(dirtyRect);
}

// ---- TableView ----

TableView::TableView() : selection_(ns::MutableIndexSet::indexSet()) {}

TableView::~TableView() {
  auto center = ns::NotificationCenter::defaultCenter();
  if (clipToken_) center->removeObserver(clipToken_.get());
  if (delegateToken_) center->removeObserver(delegateToken_.get());
}

void TableView::initWithFrame(const Rect& frame) {
  View::initWithFrame(frame);
}

void TableView::addTableColumn(const ns::Ref<TableColumn>& column) {
  if (!column) return;
  columns_.push_back(column);
  reloadData();
}

void TableView::removeTableColumn(const ns::Ref<TableColumn>& column) {
  auto it = std::find(columns_.begin(), columns_.end(), column);
  if (it == columns_.end()) return;
  columns_.erase(it);
  reloadData();
}

long TableView::columnWithIdentifier(const std::string& identifier) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i]->identifier() == identifier) return long(i);
  return -1;
}

Rect TableView::rectOfColumn(long column) const {
  if (column < 0 || column >= long(columns_.size())) return ZeroRect;
  double x = 0;
  for (long i = 0; i < column; ++i) x += columns_[i]->width() + spacing_.width;
  return {{x, 0}, {columns_[column]->width() + spacing_.width, bounds().size.height}};
}

void TableView::setDataSource(const ns::Ref<ns::Object>& source) {
  dataSource_ = source;
  dsCount_ = source && ns::respondsToSelector(source, kCount);
  reloadData();
}

void TableView::setDelegate(const ns::Ref<ns::Object>& delegate) {
  auto center = ns::NotificationCenter::defaultCenter();
  if (delegateToken_) center->removeObserver(delegateToken_.get());
  delegateToken_ = nullptr;
  delegate_ = delegate;
  dlgView_ = delegate && ns::respondsToSelector(delegate, kViewFor);
  dlgHeight_ = delegate && ns::respondsToSelector(delegate, kHeightOf);
  dlgRemove_ = delegate && ns::respondsToSelector(delegate, kDidRemove);
  dlgRowView_ = delegate && ns::respondsToSelector(delegate, kRowViewFor);
  dlgSelectionDidChange_ = delegate && ns::respondsToSelector(delegate, kSelectionDidChange);
  if (dlgSelectionDidChange_) {
    ns::Weak<ns::Object> weak = delegate;
    delegateToken_ = center->addObserverForName_object_queue_usingBlock(
        std::string(TableViewSelectionDidChangeNotification), self<TableView>(), nullptr,
        [weak](const ns::Ref<ns::Notification>& note) {
          if (auto d = weak.lock()) ns::send(d, kSelectionDidChange, note);
        });
  }
  reloadData();
}

void TableView::setRowHeight(double height) {
  if (!std::isfinite(height) || height <= 0) return;
  rowHeight_ = height;
  reloadData();
}

void TableView::setIntercellSpacing(const Size& spacing) {
  if (!std::isfinite(spacing.width) || !std::isfinite(spacing.height)) return;
  spacing_ = {std::max(0.0, spacing.width), std::max(0.0, spacing.height)};
  reloadData();
}

void TableView::recount() {
  auto source = dataSource();
  long count = source && dsCount_ ? ns::send<long>(source, kCount, self<TableView>()) : 0;
  rows_ = std::clamp(count, 0L, kMaxRows);
  rowTops_.clear();
  auto d = delegate();
  if (dlgHeight_ && d) {
    rowTops_.resize(std::size_t(rows_) + 1);
    double y = 0;
    for (long r = 0; r < rows_; ++r) {
      rowTops_[r] = y;
      double h = ns::send<double>(d, kHeightOf, self<TableView>(), r);
      if (!std::isfinite(h) || h <= 0) h = rowHeight_;
      y += h + spacing_.height;
    }
    rowTops_[rows_] = y;
  }
}

Rect TableView::rectOfRow(long row) const {
  if (row < 0 || row >= rows_) return ZeroRect;
  double width = frame_.size.width;
  if (!rowTops_.empty()) return {{0, rowTops_[row]}, {width, rowTops_[row + 1] - rowTops_[row]}};
  double h = rowHeight_ + spacing_.height;
  return {{0, row * h}, {width, h}};
}

long TableView::rowAtPoint(const Point& point) const {
  if (rows_ == 0 || !std::isfinite(point.y) || point.y < 0 || point.x < 0 || point.x >= frame_.size.width) return -1;
  long row;
  if (!rowTops_.empty()) {
    row = long(std::upper_bound(rowTops_.begin(), rowTops_.end(), point.y) - rowTops_.begin()) - 1;
  } else {
    row = long(std::floor(point.y / (rowHeight_ + spacing_.height)));
  }
  return row >= 0 && row < rows_ ? row : -1;
}

ns::Range TableView::rowsInRect(const Rect& rect) const {
  if (rows_ == 0 || rect.size.height <= 0) return {0, 0};
  long first = std::max(0L, rowAtPoint({0, std::max(0.0, rect.origin.y)}));
  if (rect.origin.y >= rectOfRow(rows_ - 1).origin.y + rectOfRow(rows_ - 1).size.height) return {0, 0};
  double bottom = rect.origin.y + rect.size.height;
  long last = first;
  while (last + 1 < rows_ && rectOfRow(last + 1).origin.y < bottom) ++last;
  return {std::size_t(first), std::size_t(last - first + 1)};
}

Rect TableView::frameOfCellAtColumn_row(long column, long row) const {
  Rect c = rectOfColumn(column), r = rectOfRow(row);
  if (c.size.width <= 0 || r.size.height <= 0) return ZeroRect;
  return {{c.origin.x + spacing_.width / 2, r.origin.y + spacing_.height / 2},
          {c.size.width - spacing_.width, r.size.height - spacing_.height}};
}

void TableView::resizeToFit() {
  double width = 0;
  for (const auto& c : columns_) width += c->width() + spacing_.width;
  double height = rows_ == 0 ? 0 : rectOfRow(rows_ - 1).origin.y + rectOfRow(rows_ - 1).size.height;
  if (auto clip = enclosingClipView(this)) {
    width = std::max(width, clip->bounds().size.width);
    height = std::max(height, clip->bounds().size.height);
  }
  if (frame_.size.width != width || frame_.size.height != height) setFrameSize({width, height});
}

void TableView::reloadData() {
  // Every shown row is rebound, so all go back to the pool first.
  std::vector<long> rows;
  for (const auto& [row, _] : shown_) rows.push_back(row);
  for (long row : rows) retire(row);
  recount();
  // Keep the selected indexes that are still rows.
  if (selection_->count() && selection_->lastIndex() >= std::size_t(rows_)) {
    auto kept = ns::MutableIndexSet::indexSet();
    for (const auto& r : selection_->ranges())
      for (std::size_t i = r.location; i < r.max() && i < std::size_t(rows_); ++i) kept->addIndex(i);
    changeSelection(kept);
  }
  resizeToFit();
  tile();
  setNeedsDisplay(true);
}

void TableView::noteNumberOfRowsChanged() { reloadData(); }

void TableView::scrollRowToVisible(long row) {
  if (row < 0 || row >= rows_) return;
  scrollRectToVisible(this, rectOfRow(row));
  tile();
}

void TableView::registerViewFactory(const std::string& identifier, std::function<ns::Ref<View>()> factory) {
  factories_[identifier] = std::move(factory);
}

ns::Ref<View> TableView::makeViewWithIdentifier_owner(const std::string& identifier, const ns::Ref<ns::Object>&) {
  auto pooled = pool_.find(identifier);
  if (pooled != pool_.end() && !pooled->second.empty()) {
    auto view = pooled->second.back();
    pooled->second.pop_back();
    return view;
  }
  auto factory = factories_.find(identifier);
  if (factory == factories_.end()) return nullptr;
  auto view = factory->second();
  if (view) view->setIdentifier(identifier);
  return view;
}

TableView::Shown& TableView::materialise(long row) {
  auto found = shown_.find(row);
  if (found != shown_.end()) return found->second;
  Shown shown;
  auto d = delegate();
  if (dlgRowView_ && d) shown.rowView = std::dynamic_pointer_cast<TableRowView>(
                            ns::send<ns::Ref<ns::Object>>(d, kRowViewFor, self<TableView>(), row));
  if (!shown.rowView && !rowPool_.empty()) {
    shown.rowView = rowPool_.back();
    rowPool_.pop_back();
  }
  if (!shown.rowView) shown.rowView = make<TableRowView>(ZeroRect);
  Rect rowRect = rectOfRow(row);
  shown.rowView->setFrame(rowRect);
  shown.rowView->setSelectionHighlightStyle(highlightStyle_);
  shown.rowView->setSelected(selection_->containsIndex(std::size_t(row)));
  auto& slot = shown_.emplace(row, std::move(shown)).first->second;
  addSubview(slot.rowView);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    ns::Ref<View> cell;
    // The delegate may reload from here; re-check that the row still stands.
    if (dlgView_ && (d = delegate()))
      cell = std::dynamic_pointer_cast<View>(
          ns::send<ns::Ref<ns::Object>>(d, kViewFor, self<TableView>(), ns::Ref<ns::Object>(columns_[c]), row));
    auto again = shown_.find(row);
    if (again == shown_.end()) break;
    again->second.cells.push_back(cell);
    if (cell) {
      Rect f = frameOfCellAtColumn_row(long(c), row);
      cell->setFrame({{f.origin.x, f.origin.y - rowRect.origin.y}, f.size});
      again->second.rowView->addSubview(cell);
    }
  }
  return shown_.find(row) != shown_.end() ? shown_.find(row)->second : slot;
}

void TableView::retire(long row) {
  auto found = shown_.find(row);
  if (found == shown_.end()) return;
  Shown shown = std::move(found->second);
  shown_.erase(found);
  shown.rowView->removeFromSuperview();
  for (const auto& cell : shown.cells) {
    if (!cell) continue;
    cell->removeFromSuperview();
    if (!cell->identifier().empty()) pool_[cell->identifier()].push_back(cell);
  }
  shown.rowView->setSelected(false);
  rowPool_.push_back(shown.rowView);
  auto d = delegate();
  if (dlgRemove_ && d) ns::send(d, kDidRemove, self<TableView>(), ns::Ref<ns::Object>(shown.rowView), row);
}

void TableView::tile() {
  // Off screen nothing is visible; a table not yet in a clip view would otherwise show every row.
  if (tiling_ || !dlgView_ || !superview()) return;
  tiling_ = true;
  Rect visible = visibleRect();
  ns::Range wanted = rowsInRect(visible);
  std::vector<long> gone;
  for (const auto& [row, _] : shown_)
    if (!wanted.contains(std::size_t(row))) gone.push_back(row);
  for (long row : gone) retire(row);
  for (std::size_t r = wanted.location; r < wanted.max() && long(r) < rows_; ++r) materialise(long(r));
  tiling_ = false;
}

ns::Ref<View> TableView::viewAtColumn_row_makeIfNecessary(long column, long row, bool make) {
  if (column < 0 || column >= long(columns_.size()) || row < 0 || row >= rows_) return nullptr;
  auto found = shown_.find(row);
  if (found == shown_.end()) {
    if (!make || !dlgView_) return nullptr;
    materialise(row);
    found = shown_.find(row);
    if (found == shown_.end()) return nullptr;
  }
  return std::size_t(column) < found->second.cells.size() ? found->second.cells[column] : nullptr;
}

ns::Ref<TableRowView> TableView::rowViewAtRow_makeIfNecessary(long row, bool make) {
  if (row < 0 || row >= rows_) return nullptr;
  auto found = shown_.find(row);
  if (found != shown_.end()) return found->second.rowView;
  if (!make || !dlgView_) return nullptr;
  materialise(row);
  found = shown_.find(row);
  return found == shown_.end() ? nullptr : found->second.rowView;
}

void TableView::viewDidMoveToSuperview() {
  auto center = ns::NotificationCenter::defaultCenter();
  if (clipToken_) center->removeObserver(clipToken_.get());
  clipToken_ = nullptr;
  if (auto clip = enclosingClipView(this)) {
    ns::Weak<TableView> weak = self<TableView>();
    clipToken_ = center->addObserverForName_object_queue_usingBlock(
        std::string(ViewBoundsDidChangeNotification), clip, nullptr, [weak](const ns::Ref<ns::Notification>&) {
          if (auto table = weak.lock()) table->tile();
        });
  }
  resizeToFit();
  tile();
}

// ---- selection ----

void TableView::changeSelection(ns::Ref<ns::MutableIndexSet> next) {
  if (next->isEqualToIndexSet(*selection_)) return;
  auto previous = selection_;
  selection_ = next;
  auto shownRows = shown_;  // a callback may reload
  for (auto& [row, shown] : shownRows) shown.rowView->setSelected(selection_->containsIndex(std::size_t(row)));
  setNeedsDisplay(true);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(TableViewSelectionDidChangeNotification,
                                                                       self<TableView>());
}

void TableView::selectRowIndexes_byExtendingSelection(const ns::IndexSet& indexes, bool extend) {
  auto next = ns::MutableIndexSet::indexSet();
  if (extend) next->addIndexes(*selection_);
  for (const auto& r : indexes.ranges())
    for (std::size_t i = r.location; i < r.max() && i < std::size_t(rows_); ++i) {
      if (!allowsMultiple_ && next->count()) next = ns::MutableIndexSet::indexSet();
      next->addIndex(i);
    }
  // Indexes that are all out of range leave the selection alone.
  if (next->count() == 0 && indexes.count()) return;
  changeSelection(next);
}

long TableView::selectedRow() const {
  return selection_->count() ? long(selection_->lastIndex()) : -1;
}

ns::Ref<ns::IndexSet> TableView::selectedRowIndexes() const {
  return ns::IndexSet::initWithIndexSet(*selection_);
}

bool TableView::isRowSelected(long row) const {
  return row >= 0 && selection_->containsIndex(std::size_t(row));
}

void TableView::deselectAll(const ns::Ref<ns::Object>&) {
  if (!allowsEmpty_) return;
  changeSelection(ns::MutableIndexSet::indexSet());
}

void TableView::deselectRow(long row) {
  if (!isRowSelected(row)) return;
  if (!allowsEmpty_ && selection_->count() == 1) return;
  auto next = ns::MutableIndexSet::indexSet();
  next->addIndexes(*selection_);
  next->removeIndex(std::size_t(row));
  changeSelection(next);
}

void TableView::setSelectionHighlightStyle(long style) {
  highlightStyle_ = style;
  for (auto& [_, shown] : shown_) shown.rowView->setSelectionHighlightStyle(style);
}

}  // namespace ak
