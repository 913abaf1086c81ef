#include "platform/appkit/TableView.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Control.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/core/Date.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {
// More rows than any list shows; a data source answering more is taken at this count so that
// row offsets stay bounded.
constexpr long kMaxRows = 1L << 22;

constexpr char kCount[] = "numberOfRowsInTableView:";
constexpr char kObjectValue[] = "tableView:objectValueForTableColumn:row:";
constexpr char kSetObjectValue[] = "tableView:setObjectValue:forTableColumn:row:";
constexpr char kWriteRows[] = "tableView:writeRowsWithIndexes:toPasteboard:";
constexpr char kValidateDrop[] = "tableView:validateDrop:proposedRow:proposedDropOperation:";
constexpr char kAcceptDrop[] = "tableView:acceptDrop:row:dropOperation:";

constexpr char kViewFor[] = "tableView:viewForTableColumn:row:";
constexpr char kRowViewFor[] = "tableView:rowViewForRow:";
constexpr char kHeightOf[] = "tableView:heightOfRow:";
constexpr char kDidRemove[] = "tableView:didRemoveRowView:forRow:";
constexpr char kWillDisplay[] = "tableView:willDisplayCell:forTableColumn:row:";
constexpr char kShouldChange[] = "selectionShouldChangeInTableView:";
constexpr char kShouldSelect[] = "tableView:shouldSelectRow:";
constexpr char kProposed[] = "tableView:selectionIndexesForProposedSelection:";
constexpr char kShouldEdit[] = "tableView:shouldEditTableColumn:row:";
constexpr char kIsGroup[] = "tableView:isGroupRow:";
constexpr char kSelectionDidChange[] = "tableViewSelectionDidChange:";

ns::Ref<ns::MutableIndexSet> copyOf(const ns::IndexSet& set) {
  auto out = ns::MutableIndexSet::indexSet();
  out->addIndexes(set);
  return out;
}

ns::Ref<Color> selectionColor() {
  return Color::colorWithDeviceRed_green_blue_alpha(0.22, 0.45, 0.85, 1);
}
}  // namespace

// ---- TableColumn ----

TableColumn::TableColumn(std::string identifier) : identifier_(std::move(identifier)) {
  dataCell_ = make<TextFieldCell>("");
}

void TableColumn::setWidth(double width) {
  if (!std::isfinite(width)) return;
  width_ = std::clamp(width, minWidth_, std::max(minWidth_, maxWidth_));
}
void TableColumn::setMinWidth(double w) {
  if (!std::isfinite(w) || w < 0) return;
  minWidth_ = w;
  setWidth(width_);
}
void TableColumn::setMaxWidth(double w) {
  if (!std::isfinite(w) || w < 0) return;
  maxWidth_ = w;
  setWidth(width_);
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
  auto style = selected_ ? BackgroundStyle::Dark : BackgroundStyle::Light;
  for (const auto& sub : subviews())
    if (auto cell = std::dynamic_pointer_cast<TableCellView>(sub)) cell->setBackgroundStyle(style);
}

void TableRowView::didAddSubview(const ns::Ref<View>& subview) {
  if (auto cell = std::dynamic_pointer_cast<TableCellView>(subview))
    cell->setBackgroundStyle(selected_ ? BackgroundStyle::Dark : BackgroundStyle::Light);
}

void TableRowView::drawBackgroundInRect(const Rect& dirtyRect) {
  if (!backgroundColor_) return;
  backgroundColor_->setFill();
  RectFillUsingOperation(dirtyRect, CompositingOperation::SourceOver);
}

void TableRowView::drawSelectionInRect(const Rect& dirtyRect) {
  selectionColor()->setFill();
  RectFillUsingOperation(IntersectionRect(bounds(), dirtyRect), CompositingOperation::SourceOver);
}

void TableRowView::drawRect(const Rect& dirtyRect) {
  drawBackgroundInRect(dirtyRect);
  if (selected_ && highlightStyle_ != TableViewSelectionHighlightStyleNone) drawSelectionInRect(dirtyRect);
}

// ---- TableView: set-up ----

TableView::TableView() : selection_(ns::MutableIndexSet::indexSet()) {
  backgroundColor_ = Color::colorWithDeviceRed_green_blue_alpha(1, 1, 1, 1);
}

TableView::~TableView() {
  auto center = ns::NotificationCenter::defaultCenter();
  if (clipToken_) center->removeObserver(clipToken_.get());
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
  if (auto editor = editor_.lock(); editor && editor->client() == this) editor->setClient(nullptr);
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

ns::Ref<TableColumn> TableView::tableColumnWithIdentifier(const std::string& identifier) const {
  long i = columnWithIdentifier(identifier);
  return i < 0 ? nullptr : columns_[i];
}

Rect TableView::rectOfColumn(long column) const {
  if (column < 0 || column >= long(columns_.size())) return ZeroRect;
  double x = 0;
  for (long i = 0; i < column; ++i) x += columns_[i]->width() + spacing_.width;
  return {{x, 0}, {columns_[column]->width() + spacing_.width, bounds().size.height}};
}

long TableView::columnAtPoint(const Point& point) const {
  if (!std::isfinite(point.x) || point.x < 0) return -1;
  double x = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    x += columns_[i]->width() + spacing_.width;
    if (point.x < x) return long(i);
  }
  return -1;
}

std::vector<std::string> TableView::dataSourceSelectors() const {
  return {kCount, kObjectValue, kSetObjectValue, kWriteRows, kValidateDrop, kAcceptDrop};
}

std::vector<std::string> TableView::delegateSelectors() const {
  return {kViewFor,      kRowViewFor, kHeightOf,   kDidRemove, kWillDisplay,       kShouldChange,
          kShouldSelect, kProposed,   kShouldEdit, kIsGroup,   kSelectionDidChange};
}

std::vector<std::pair<std::string, std::string>> TableView::delegateNotifications() const {
  return {{TableViewSelectionDidChangeNotification, kSelectionDidChange}};
}

bool TableView::delegateAnswers(const char* selector) const {
  return dlgAnswers_.count(selector) > 0;
}
bool TableView::dataSourceAnswers(const char* selector) const {
  return dsAnswers_.count(selector) > 0;
}

void TableView::setDataSource(const ns::Ref<ns::Object>& source) {
  dataSource_ = source;
  dsAnswers_.clear();
  if (source)
    for (const auto& sel : dataSourceSelectors())
      if (ns::respondsToSelector(source, ns::Sel(sel))) dsAnswers_.insert(sel);
  reloadData();
}

void TableView::setDelegate(const ns::Ref<ns::Object>& delegate) {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
  delegateTokens_.clear();
  delegate_ = delegate;
  dlgAnswers_.clear();
  if (delegate) {
    for (const auto& sel : delegateSelectors())
      if (ns::respondsToSelector(delegate, ns::Sel(sel))) dlgAnswers_.insert(sel);
    // The delegate hears this view's notifications whose methods it answers.
    ns::Weak<ns::Object> weak = delegate;
    for (const auto& [name, selector] : delegateNotifications()) {
      if (!dlgAnswers_.count(selector) && !ns::respondsToSelector(delegate, ns::Sel(selector))) continue;
      ns::Sel sel(selector);
      delegateTokens_.push_back(center->addObserverForName_object_queue_usingBlock(
          name, self<TableView>(), nullptr, [weak, sel](const ns::Ref<ns::Notification>& note) {
            if (auto d = weak.lock()) ns::send(d, sel, note);
          }));
    }
  }
  viewBased_ = delegateAnswers(viewForSelector());
  reloadData();
}

void TableView::postDelegateNotification(const std::string& name, ns::Dictionary info) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(name, self<TableView>(),
                                                                                std::move(info));
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

// ---- questions, as tables ask them ----

long TableView::askRowCount() {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kCount)) return 0;
  return ns::send<long>(source, ns::Sel(kCount), self<TableView>());
}

double TableView::askHeight(long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kHeightOf)) return rowHeight_;
  return ns::send<double>(d, ns::Sel(kHeightOf), self<TableView>(), row);
}

ns::Ref<View> TableView::askView(long column, long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kViewFor)) return nullptr;
  return std::dynamic_pointer_cast<View>(ns::send<ns::Ref<ns::Object>>(
      d, ns::Sel(kViewFor), self<TableView>(), ns::Ref<ns::Object>(columns_[column]), row));
}

ns::Ref<TableRowView> TableView::askRowView(long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kRowViewFor)) return nullptr;
  return std::dynamic_pointer_cast<TableRowView>(
      ns::send<ns::Ref<ns::Object>>(d, ns::Sel(kRowViewFor), self<TableView>(), row));
}

void TableView::tellDidRemoveRowView(const ns::Ref<TableRowView>& view, long row) {
  auto d = delegate();
  if (d && delegateAnswers(kDidRemove))
    ns::send(d, ns::Sel(kDidRemove), self<TableView>(), ns::Ref<ns::Object>(view), row);
}

ns::Value TableView::askObjectValue(long column, long row) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kObjectValue)) return {};
  return ns::send<ns::Value>(source, ns::Sel(kObjectValue), self<TableView>(),
                             ns::Ref<ns::Object>(columns_[column]), row);
}

void TableView::tellSetObjectValue(const ns::Value& value, long column, long row) {
  auto source = dataSource();
  if (source && dataSourceAnswers(kSetObjectValue))
    ns::send(source, ns::Sel(kSetObjectValue), self<TableView>(), value,
             ns::Ref<ns::Object>(columns_[column]), row);
}

void TableView::tellWillDisplayCell(const ns::Ref<Cell>& cell, long column, long row) {
  auto d = delegate();
  if (d && delegateAnswers(kWillDisplay))
    ns::send(d, ns::Sel(kWillDisplay), self<TableView>(), ns::Ref<ns::Object>(cell),
             ns::Ref<ns::Object>(columns_[column]), row);
}

bool TableView::askSelectionShouldChange() {
  auto d = delegate();
  return !d || !delegateAnswers(kShouldChange) ||
         ns::send<bool>(d, ns::Sel(kShouldChange), self<TableView>());
}

bool TableView::askShouldSelectRow(long row) {
  auto d = delegate();
  return !d || !delegateAnswers(kShouldSelect) ||
         ns::send<bool>(d, ns::Sel(kShouldSelect), self<TableView>(), row);
}

ns::Ref<ns::IndexSet> TableView::askProposedSelection(const ns::Ref<ns::IndexSet>& proposed) {
  auto d = delegate();
  if (!d || !delegateAnswers(kProposed)) return proposed;
  return std::dynamic_pointer_cast<ns::IndexSet>(
      ns::send<ns::Ref<ns::Object>>(d, ns::Sel(kProposed), self<TableView>(), ns::Ref<ns::Object>(proposed)));
}

bool TableView::askShouldEdit(long column, long row) {
  auto d = delegate();
  if (!d || !delegateAnswers(kShouldEdit)) return columns_[column]->isEditable();
  return ns::send<bool>(d, ns::Sel(kShouldEdit), self<TableView>(), ns::Ref<ns::Object>(columns_[column]),
                        row);
}

bool TableView::askIsGroupRow(long row) {
  auto d = delegate();
  return d && delegateAnswers(kIsGroup) && ns::send<bool>(d, ns::Sel(kIsGroup), self<TableView>(), row);
}

bool TableView::askWriteRows(const ns::IndexSet& rows, const ns::Ref<Pasteboard>& pasteboard) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kWriteRows)) return false;
  return ns::send<bool>(source, ns::Sel(kWriteRows), self<TableView>(),
                        ns::Ref<ns::Object>(ns::IndexSet::initWithIndexSet(rows)),
                        ns::Ref<ns::Object>(pasteboard));
}

// ---- rows ----

void TableView::recount() {
  rebuildRows();
  rows_ = std::clamp(askRowCount(), 0L, kMaxRows);
  rowTops_.clear();
  if (delegateAnswers(heightSelector())) {
    rowTops_.resize(std::size_t(rows_) + 1);
    double y = 0;
    for (long r = 0; r < rows_; ++r) {
      rowTops_[r] = y;
      double h = askHeight(r);
      if (!std::isfinite(h) || h <= 0) h = rowHeight_;
      y += h + spacing_.height;
      // A delegate reloading from inside heightOfRow may have shrunk the table under us.
      if (long(rowTops_.size()) != rows_ + 1) return;
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

namespace {
long rowAtY(const std::vector<double>& tops, long rows, double pitch, double y) {
  if (rows == 0 || !std::isfinite(y) || y < 0) return -1;
  long row = !tops.empty() ? long(std::upper_bound(tops.begin(), tops.end(), y) - tops.begin()) - 1
                           : long(std::min(double(rows), std::floor(y / pitch)));
  return row >= 0 && row < rows ? row : -1;
}
}  // namespace

long TableView::rowAtPoint(const Point& point) const {
  if (!std::isfinite(point.x) || point.x < 0 || point.x >= frame_.size.width) return -1;
  return rowAtY(rowTops_, rows_, rowHeight_ + spacing_.height, point.y);
}

ns::Range TableView::rowsInRect(const Rect& rect) const {
  if (rows_ == 0 || rect.size.height <= 0) return {0, 0};
  Rect last = rectOfRow(rows_ - 1);
  double bottom = rect.origin.y + rect.size.height;
  if (rect.origin.y >= last.origin.y + last.size.height || bottom <= 0) return {0, 0};
  long first =
      std::max(0L, rowAtY(rowTops_, rows_, rowHeight_ + spacing_.height, std::max(0.0, rect.origin.y)));
  long end = rowAtY(rowTops_, rows_, rowHeight_ + spacing_.height, bottom);
  if (end < 0) end = rows_ - 1;
  if (end > first && rectOfRow(end).origin.y >= bottom) --end;
  return {std::size_t(first), std::size_t(end - first + 1)};
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

void TableView::resizeWithOldSuperviewSize(const Size& oldSize) {
  const Size before = frame_.size;
  View::resizeWithOldSuperviewSize(oldSize);
  const double change = frame_.size.width - before.width;
  // The last column that follows the table takes the width it gained or lost, so that the rows
  // stay as wide as the table shows them.
  if (change != 0 && std::isfinite(change)) {
    for (auto it = columns_.rbegin(); it != columns_.rend(); ++it) {
      if (!((*it)->resizingMask() & TableColumnAutoresizingMask)) continue;
      (*it)->setWidth((*it)->width() + change);
      break;
    }
  }
  // At least as tall as the clip view, which may have grown.
  resizeToFit();
  if (frame_.size == before) {
    // Taller than the clip view before and after: the rows it now shows still need views.
    tile();
    return;
  }
  for (const auto& [row, shown] : shown_) {
    const Rect rowRect = rectOfRow(row);
    shown.rowView->setFrame(rowRect);
    for (std::size_t c = 0; c < shown.cells.size(); ++c) {
      if (!shown.cells[c]) continue;
      const Rect f = frameOfCellAtColumn_row(long(c), row);
      shown.cells[c]->setFrame({{f.origin.x, f.origin.y - rowRect.origin.y}, f.size});
    }
  }
  tile();
  setNeedsDisplay(true);
}

void TableView::reloadData() {
  // A delegate reloading from inside a row's set-up gets its reload once that is done.
  if (tiling_) {
    reloadPending_ = true;
    return;
  }
  auto keep = self<TableView>();
  ++tiling_;
  retireAll();
  recount();
  --tiling_;
  // Keep the selected indexes that are still rows.
  if (selection_->count() && selection_->lastIndex() >= std::size_t(rows_)) {
    auto kept = copyOf(*selection_);
    kept->removeIndexesInRange({std::size_t(rows_), std::size_t(kMaxRows) + 1});
    changeSelection(kept);
  }
  resizeToFit();
  tile();
  setNeedsDisplay(true);
}

void TableView::noteNumberOfRowsChanged() {
  reloadData();
}
void TableView::noteHeightOfRowsWithIndexesChanged(const ns::IndexSet&) {
  reloadData();
}

void TableView::reloadDataForRowIndexes_columnIndexes(const ns::IndexSet& rows, const ns::IndexSet&) {
  if (tiling_) {
    reloadPending_ = true;
    return;
  }
  ++tiling_;
  for (const auto& r : rows.ranges())
    for (std::size_t i = r.location; i < r.max() && long(i) < rows_; ++i) {
      if (shown_.count(long(i))) {
        retire(long(i));
        materialise(long(i));
      }
    }
  --tiling_;
  setNeedsDisplay(true);
  if (reloadPending_) {
    reloadPending_ = false;
    reloadData();
  }
}

void TableView::insertRowsAtIndexes_withAnimation(const ns::IndexSet& rows, unsigned long) {
  for (const auto& r : rows.ranges()) selection_->shiftIndexesStartingAtIndex_by(r.location, long(r.length));
  reloadData();
}

void TableView::removeRowsAtIndexes_withAnimation(const ns::IndexSet& rows, unsigned long) {
  auto next = copyOf(*selection_);
  const bool lostSelected = [&] {
    for (const auto& r : rows.ranges())
      if (selection_->intersectsIndexesInRange(r)) return true;
    return false;
  }();
  for (auto it = rows.ranges().rbegin(); it != rows.ranges().rend(); ++it)
    next->shiftIndexesStartingAtIndex_by(it->max(), -long(it->length));
  if (lostSelected) {
    changeSelection(next);
  } else {
    selection_ = next;
  }
  reloadData();
}

void TableView::moveRowAtIndex_toIndex(long from, long to) {
  if (from < 0 || from >= rows_ || to < 0 || to >= rows_ || from == to) return;
  auto next = ns::MutableIndexSet::indexSet();
  for (const auto& r : selection_->ranges())
    for (std::size_t i = r.location; i < r.max(); ++i) {
      long row = long(i), moved = row;
      if (row == from)
        moved = to;
      else if (from < to && row > from && row <= to)
        moved = row - 1;
      else if (to < from && row >= to && row < from)
        moved = row + 1;
      next->addIndex(std::size_t(moved));
    }
  selection_ = next;
  reloadData();
}

void TableView::scrollRowToVisible(long row) {
  if (row < 0 || row >= rows_) return;
  scrollRectToVisible(this, rectOfRow(row));
  tile();
}

// ---- views ----

void TableView::registerViewFactory(const std::string& identifier, std::function<ns::Ref<View>()> factory) {
  factories_[identifier] = std::move(factory);
}

ns::Ref<View> TableView::makeViewWithIdentifier_owner(const std::string& identifier,
                                                      const ns::Ref<ns::Object>&) {
  auto pooled = pool_.find(identifier);
  if (pooled != pool_.end() && !pooled->second.empty()) {
    auto view = pooled->second.back();
    pooled->second.pop_back();
    return view;
  }
  auto factory = factories_.find(identifier);
  if (factory == factories_.end() || !factory->second) return nullptr;
  auto view = factory->second();
  if (view) view->setIdentifier(identifier);
  return view;
}

void TableView::materialise(long row) {
  if (shown_.count(row) || row < 0 || row >= rows_) return;
  auto keep = self<TableView>();
  auto rowView = askRowView(row);
  const bool ownRowView = !rowView;
  if (!rowView && !rowPool_.empty()) {
    rowView = rowPool_.back();
    rowPool_.pop_back();
  }
  if (!rowView) rowView = make<TableRowView>(ZeroRect);
  const Rect rowRect = rectOfRow(row);
  rowView->setFrame(rowRect);
  rowView->setSelectionHighlightStyle(highlightStyle_);
  rowView->setGroupRowStyle(askIsGroupRow(row));
  rowView->setSelected(selection_->containsIndex(std::size_t(row)));
  shown_[row].rowView = rowView;
  shown_[row].ownRowView = ownRowView;
  shownPeak_ = std::max(shownPeak_, shown_.size());
  addSubview(rowView);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    auto cell = askView(long(c), row);
    // The delegate may have reloaded or removed rows meanwhile.
    auto again = shown_.find(row);
    if (again == shown_.end() || again->second.rowView != rowView || c >= columns_.size()) break;
    again->second.cells.push_back(cell);
    if (!cell) continue;  // an empty cell
    Rect f = frameOfCellAtColumn_row(long(c), row);
    cell->setFrame({{f.origin.x, f.origin.y - rowRect.origin.y}, f.size});
    rowView->addSubview(cell);
  }
}

void TableView::retire(long row) {
  auto found = shown_.find(row);
  if (found == shown_.end()) return;
  Shown shown = std::move(found->second);
  shown_.erase(found);
  shown.rowView->removeFromSuperview();
  // The pools hold no more than the rows ever shown at once need: a delegate that makes its own
  // views never takes them back, and views of an identifier no longer asked for would stay.
  for (const auto& cell : shown.cells) {
    if (!cell) continue;
    cell->removeFromSuperview();
    if (cell->identifier().empty()) continue;
    auto& pool = pool_[cell->identifier()];
    if (pool.size() < shownPeak_) pool.push_back(cell);
  }
  shown.rowView->setSelected(false);
  // Row views the delegate made are its own: the table reuses only those it made.
  if (shown.ownRowView && rowPool_.size() < shownPeak_) rowPool_.push_back(shown.rowView);
  tellDidRemoveRowView(shown.rowView, row);
}

void TableView::retireAll() {
  std::vector<long> rows;
  for (const auto& [row, _] : shown_) rows.push_back(row);
  for (long row : rows) retire(row);
}

void TableView::tile() {
  // Off screen nothing is visible; a table not yet in a clip view would otherwise show every row.
  if (tiling_ || !viewBased_ || !superview()) return;
  auto keep = self<TableView>();
  ++tiling_;
  ns::Range wanted = rowsInRect(visibleRect());
  std::vector<long> gone;
  for (const auto& [row, _] : shown_)
    if (!wanted.contains(std::size_t(row))) gone.push_back(row);
  for (long row : gone) retire(row);
  for (std::size_t r = wanted.location; r < wanted.max() && long(r) < rows_; ++r) materialise(long(r));
  --tiling_;
  if (reloadPending_) {
    reloadPending_ = false;
    reloadData();
  }
}

ns::Ref<View> TableView::viewAtColumn_row_makeIfNecessary(long column, long row, bool make) {
  if (column < 0 || column >= long(columns_.size()) || row < 0 || row >= rows_) return nullptr;
  auto found = shown_.find(row);
  if (found == shown_.end()) {
    if (!make || !viewBased_) return nullptr;
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
  if (!make || !viewBased_) return nullptr;
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
    clipToken_ =
        center->addObserverForName_object_queue_usingBlock(std::string(ViewBoundsDidChangeNotification), clip,
                                                           nullptr, [weak](const ns::Ref<ns::Notification>&) {
                                                             if (auto table = weak.lock()) table->tile();
                                                           });
  }
  resizeToFit();
  tile();
}

// ---- selection ----

void TableView::refreshSelectionDisplay() {
  std::vector<std::pair<long, ns::Ref<TableRowView>>> rows;
  for (const auto& [row, shown] : shown_) rows.emplace_back(row, shown.rowView);
  for (const auto& [row, view] : rows) view->setSelected(selection_->containsIndex(std::size_t(row)));
  setNeedsDisplay(true);
}

void TableView::changeSelection(ns::Ref<ns::MutableIndexSet> next) {
  if (!next || next->isEqualToIndexSet(*selection_)) return;
  auto keep = self<TableView>();
  selection_ = std::move(next);
  refreshSelectionDisplay();
  postDelegateNotification(selectionDidChangeName());
}

void TableView::replaceSelectionQuietly(ns::Ref<ns::MutableIndexSet> next) {
  if (!next) return;
  selection_ = std::move(next);
  refreshSelectionDisplay();
}

ns::Ref<Color> TableView::dropIndicatorColor() const {
  return selectionColor();
}

void TableView::selectRowIndexes_byExtendingSelection(const ns::IndexSet& indexes, bool extend) {
  auto next = extend ? copyOf(*selection_) : ns::MutableIndexSet::indexSet();
  bool any = false;
  for (const auto& r : indexes.ranges())
    for (std::size_t i = r.location; i < r.max() && i < std::size_t(rows_); ++i) {
      if (!allowsMultiple_) next->removeAllIndexes();
      next->addIndex(i);
      any = true;
    }
  // Indexes that are all out of range leave the selection alone.
  if (!any && indexes.count()) return;
  if (!any && !allowsEmpty_) return;
  if (any) anchor_ = long(next->lastIndex());
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
  auto next = copyOf(*selection_);
  next->removeIndex(std::size_t(row));
  changeSelection(next);
}

void TableView::selectAll(const ns::Ref<ns::Object>&) {
  if (!allowsMultiple_ || rows_ == 0) return;
  changeSelection(ns::MutableIndexSet::indexSetWithIndexesInRange({0, std::size_t(rows_)}));
}

void TableView::setSelectionHighlightStyle(long style) {
  highlightStyle_ = style;
  for (auto& [_, shown] : shown_) shown.rowView->setSelectionHighlightStyle(style);
  setNeedsDisplay(true);
}

ns::Ref<ns::MutableIndexSet> TableView::proposeForClick(long row, unsigned long flags, bool* deferCollapse) {
  *deferCollapse = false;
  if ((flags & CommandKeyMask) && allowsMultiple_) {
    auto next = copyOf(*selection_);
    if (next->containsIndex(std::size_t(row))) {
      next->removeIndex(std::size_t(row));
    } else {
      next->addIndex(std::size_t(row));
    }
    anchor_ = row;
    return next;
  }
  if ((flags & CommandKeyMask) && isRowSelected(row)) {
    return ns::MutableIndexSet::indexSet();
  }
  if ((flags & ShiftKeyMask) && allowsMultiple_ && anchor_ >= 0 && anchor_ < rows_) {
    long lo = std::min(anchor_, row), hi = std::max(anchor_, row);
    return ns::MutableIndexSet::indexSetWithIndexesInRange({std::size_t(lo), std::size_t(hi - lo + 1)});
  }
  anchor_ = row;
  // A plain click on a row of a larger selection keeps it until the mouse goes up, so that the
  // selection can be dragged.
  if (isRowSelected(row) && selection_->count() > 1) *deferCollapse = true;
  return ns::MutableIndexSet::indexSetWithIndex(std::size_t(row));
}

bool TableView::applyProposed(ns::Ref<ns::MutableIndexSet> proposed) {
  if (proposed->isEqualToIndexSet(*selection_)) return false;
  auto keep = self<TableView>();
  if (!askSelectionShouldChange()) return false;
  // Rows the delegate refuses stay out.
  auto refused = ns::MutableIndexSet::indexSet();
  for (const auto& r : proposed->ranges())
    for (std::size_t i = r.location; i < r.max(); ++i)
      if (!selection_->containsIndex(i) && !askShouldSelectRow(long(i))) refused->addIndex(i);
  if (refused->count()) {
    proposed->removeIndexes(*refused);
    // Nothing the click asked for may be selected: the selection stays.
    if (proposed->isEqualToIndexSet(*selection_) || proposed->count() == 0) return false;
  }
  auto answer = askProposedSelection(proposed);
  if (!answer) return false;
  auto next = copyOf(*answer);
  next->removeIndexesInRange({std::size_t(rows_), std::size_t(kMaxRows) + 1});
  if (next->count() == 0 && !allowsEmpty_) return false;
  changeSelection(next);
  return true;
}

// ---- events ----

ns::Ref<View> TableView::hitTest(const Point& point) {
  auto hit = View::hitTest(point);
  if (!hit || hit.get() == this) return hit;
  // A mouse-down on a view in a row goes to it only when the table lets it take the event.
  auto event = Application::sharedApplication() ? Application::sharedApplication()->currentEvent() : nullptr;
  if (event && (event->type() == EventType::LeftMouseDown || event->type() == EventType::RightMouseDown) &&
      !validateProposedFirstResponder_forEvent(hit, event))
    return self<TableView>();
  return hit;
}

bool TableView::validateProposedFirstResponder_forEvent(const ns::Ref<Responder>& responder,
                                                        const ns::Ref<Event>&) {
  for (auto view = std::dynamic_pointer_cast<View>(responder); view && view.get() != this;
       view = view->superview())
    if (std::dynamic_pointer_cast<Control>(view)) return true;
  return false;
}

void TableView::sendClickAction(const ns::Ref<Event>& event) {
  // The second click of a double click sends the double action; without one, it repeats the action.
  ns::Sel sel = event && event->clickCount() >= 2 && doubleAction_ ? doubleAction_ : action_;
  if (!sel) return;
  Application::sharedApplication()->sendAction_to_from(sel, target(), self<TableView>());
}

void TableView::mouseDown(const ns::Ref<Event>& event) {
  auto keep = self<TableView>();
  auto window = this->window();
  if (window && window->firstResponder().get() != this && !editor_.lock()) window->makeFirstResponder(keep);
  const Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  const long row = rowAtPoint(p);
  clickedRow_ = row;
  clickedColumn_ = columnAtPoint(p);
  if (row >= 0 && handleClickInRow(row, p)) return;
  bool deferCollapse = false;
  ns::Ref<ns::MutableIndexSet> deferred;
  const unsigned long flags = event->modifierFlags();
  if (row < 0) {
    if (allowsEmpty_ && !(flags & (ShiftKeyMask | CommandKeyMask)))
      applyProposed(ns::MutableIndexSet::indexSet());
  } else {
    auto proposed = proposeForClick(row, flags, &deferCollapse);
    if (deferCollapse) {
      deferred = proposed;
    } else {
      applyProposed(proposed);
    }
  }
  // Track until the mouse goes up; moving far enough from a row begins a drag of its rows.
  auto app = Application::sharedApplication();
  const Point start = event->locationInWindow();
  const bool canDrag = row >= 0 && dataSourceAnswers(kWriteRows);
  for (;;) {
    auto next = app->nextEventMatchingMask_untilDate_inMode_dequeue(LeftMouseDraggedMask | LeftMouseUpMask,
                                                                    ns::Date::distantFuture(),
                                                                    ns::EventTrackingRunLoopMode, true);
    if (!next || next->type() == EventType::LeftMouseUp) break;
    Point q = next->locationInWindow();
    if (canDrag && std::hypot(q.x - start.x, q.y - start.y) > DragThreshold) {
      startDrag(next);
      return;
    }
    // Held outside the visible rows, the table scrolls towards the mouse.
    if (autoscroll(this, next)) tile();
  }
  if (deferred) applyProposed(deferred);
  if (row >= 0 && clickedColumn_ >= 0 && !viewBased_ && event->clickCount() == 2 && !doubleAction_ &&
      askShouldEdit(clickedColumn_, row)) {
    editColumn_row_withEvent_select(clickedColumn_, row, event, true);
    return;
  }
  sendClickAction(event);
}

void TableView::rightMouseDown(const ns::Ref<Event>& event) {
  const Point p = convertPoint_fromView(event->locationInWindow(), nullptr);
  // The clicked row is marked for the menu; the selection stays as it is.
  clickedRow_ = rowAtPoint(p);
  clickedColumn_ = columnAtPoint(p);
  setNeedsDisplay(true);
  View::rightMouseDown(event);
}

ns::Ref<Menu> TableView::menuForEvent(const ns::Ref<Event>& event) {
  return View::menuForEvent(event);
}

void TableView::keyDown(const ns::Ref<Event>& event) {
  if (handleKey(event)) return;
  const unsigned short code = event->keyCode();
  if ((code != kVK_DownArrow && code != kVK_UpArrow) || rows_ == 0) return View::keyDown(event);
  const bool down = code == kVK_DownArrow;
  const bool extend = (event->modifierFlags() & ShiftKeyMask) && allowsMultiple_ && selection_->count();
  long target;
  if (!selection_->count()) {
    target = down ? 0 : rows_ - 1;
  } else {
    target = down ? long(selection_->lastIndex()) + 1 : long(selection_->firstIndex()) - 1;
  }
  if (target < 0 || target >= rows_) return;
  auto next = extend ? copyOf(*selection_) : ns::MutableIndexSet::indexSet();
  next->addIndex(std::size_t(target));
  if (!extend) anchor_ = target;
  applyProposed(next);
  scrollRowToVisible(target);
}

// ---- cell-based drawing ----

ns::Ref<Cell> TableView::preparedCellAtColumn_row(long column, long row) {
  if (column < 0 || column >= long(columns_.size()) || row < 0 || row >= rows_) return nullptr;
  auto cell = columns_[column]->dataCell();
  if (!cell) return nullptr;
  cell->setObjectValue(askObjectValue(column, row));
  const bool selected = isRowSelected(row) && highlightStyle_ != TableViewSelectionHighlightStyleNone;
  cell->setHighlighted(selected);
  cell->setBackgroundStyle(selected ? BackgroundStyle::Dark : BackgroundStyle::Light);
  tellWillDisplayCell(cell, column, row);
  return cell;
}

void TableView::drawRect(const Rect& dirtyRect) {
  drawBackgroundInClipRect(dirtyRect);
  if (!viewBased_) {
    highlightSelectionInClipRect(dirtyRect);
    drawGridInClipRect(dirtyRect);
    ns::Range rows = rowsInRect(dirtyRect);
    for (std::size_t r = rows.location; r < rows.max() && long(r) < rows_; ++r)
      drawRow_clipRect(long(r), dirtyRect);
  }
  drawDropIndicator();
}

void TableView::drawBackgroundInClipRect(const Rect& clipRect) {
  if (!backgroundColor_) return;
  backgroundColor_->setFill();
  RectFillUsingOperation(clipRect, CompositingOperation::SourceOver);
  if (!alternating_) return;
  auto stripe = Color::colorWithDeviceRed_green_blue_alpha(0.95, 0.96, 0.98, 1);
  stripe->setFill();
  ns::Range rows = rowsInRect(clipRect);
  for (std::size_t r = rows.location; r < rows.max(); ++r)
    if (r % 2 == 1)
      RectFillUsingOperation(IntersectionRect(rectOfRow(long(r)), clipRect),
                             CompositingOperation::SourceOver);
}

void TableView::highlightSelectionInClipRect(const Rect& clipRect) {
  if (highlightStyle_ == TableViewSelectionHighlightStyleNone) return;
  selectionColor()->setFill();
  ns::Range rows = rowsInRect(clipRect);
  for (std::size_t r = rows.location; r < rows.max(); ++r)
    if (selection_->containsIndex(r))
      RectFillUsingOperation(IntersectionRect(rectOfRow(long(r)), clipRect),
                             CompositingOperation::SourceOver);
}

void TableView::drawGridInClipRect(const Rect& clipRect) {
  if (!gridStyle_) return;
  Color::colorWithDeviceRed_green_blue_alpha(0.8, 0.8, 0.8, 1)->setFill();
  if (gridStyle_ & 1) {  // vertical lines between columns
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      Rect col = rectOfColumn(long(c));
      RectFillUsingOperation(
          IntersectionRect(
              {{col.origin.x + col.size.width - 1, clipRect.origin.y}, {1, clipRect.size.height}}, clipRect),
          CompositingOperation::SourceOver);
    }
  }
  if (gridStyle_ & 2) {  // horizontal lines under rows
    ns::Range rows = rowsInRect(clipRect);
    for (std::size_t r = rows.location; r < rows.max(); ++r) {
      Rect row = rectOfRow(long(r));
      RectFillUsingOperation(
          IntersectionRect(
              {{clipRect.origin.x, row.origin.y + row.size.height - 1}, {clipRect.size.width, 1}}, clipRect),
          CompositingOperation::SourceOver);
    }
  }
}

void TableView::drawRow_clipRect(long row, const Rect& clipRect) {
  auto keep = self<TableView>();
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    if (long(c) == editedColumn_ && row == editedRow_) continue;  // the field editor shows it
    Rect frame = frameOfCellAtColumn_row(long(c), row);
    if (!IntersectsRect(frame, clipRect)) continue;
    if (auto cell = preparedCellAtColumn_row(long(c), row)) cell->drawWithFrame_inView(frame, keep);
  }
}

// ---- cell-based editing ----

void TableView::editColumn_row_withEvent_select(long column, long row, const ns::Ref<Event>&, bool select) {
  auto window = this->window();
  if (!window || column < 0 || column >= long(columns_.size()) || row < 0 || row >= rows_) return;
  auto keep = self<TableView>();
  auto editor = window->fieldEditor_forObject(true, keep);
  if (!editor) return;
  if (auto owner = editor->client(); owner && owner != this) {
    if (!owner->textDidEndEditingWithMovement(*editor, OtherTextMovement)) return;
  } else if (owner == this) {
    endEdit(true, OtherTextMovement);
  }
  scrollRowToVisible(row);
  auto cell = preparedCellAtColumn_row(column, row);
  if (!cell) return;
  editingCell_ = cell;
  // The column decides whether its cells are edited in place.
  cell->setEditable(columns_[column]->isEditable());
  cell->setUpFieldEditorAttributes(editor.get());
  editor->setString(cell->stringValue());
  editor->resetEditingSession();
  editor->setClient(this);
  editor->setFrame(frameOfCellAtColumn_row(column, row));
  addSubview(editor);
  editor->setSelectedRange(select ? ns::Range{0, editor->length()} : ns::Range{editor->length(), 0});
  editor_ = editor;
  editedRow_ = row;
  editedColumn_ = column;
  setNeedsDisplay(true);
  window->makeFirstResponder(editor);
}

bool TableView::textShouldBeginEditing(TextView&) {
  return editedRow_ >= 0;
}

bool TableView::textDidEndEditingWithMovement(TextView& editor, long movement) {
  auto keep = self<TableView>();
  ns::Dictionary info;
  info.set(TextMovementKey, ns::Value(movement));
  auto note = ns::Notification::notificationWithName_object_userInfo("NSTextDidEndEditingNotification",
                                                                     editor.self<TextView>(), info);
  textDidEndEditing(note);
  return true;
}

void TableView::textDidEndEditing(const ns::Ref<ns::Notification>& notification) {
  long movement = OtherTextMovement;
  if (notification) {
    auto m = notification->userInfo().objectForKey(TextMovementKey);
    if (m.isNumber()) movement = m.number().integerValue();
  }
  endEdit(movement != CancelTextMovement, movement);
}

void TableView::endEdit(bool commit, long) {
  auto keep = self<TableView>();
  auto editor = editor_.lock();
  const long row = editedRow_, column = editedColumn_;
  auto cell = std::move(editingCell_);
  editedRow_ = editedColumn_ = -1;
  editor_.reset();
  std::string text = editor ? editor->string() : std::string();
  if (editor) {
    editor->setClient(nullptr);
    auto window = editor->window();
    editor->removeFromSuperview();
    if (window && window->firstResponder() == editor) window->makeFirstResponder(keep);
  }
  setNeedsDisplay(true);
  if (!commit || row < 0 || row >= rows_ || column < 0 || column >= long(columns_.size())) return;
  if (cell) cell->setObjectValue(ns::Value(text));
  tellSetObjectValue(ns::Value(text), column, row);
}

// ---- drag and drop ----

void TableView::setDraggingSourceOperationMask_forLocal(unsigned long mask, bool local) {
  (local ? localMask_ : remoteMask_) = mask;
}

void TableView::startDrag(const ns::Ref<Event>& event) {
  auto keep = self<TableView>();
  auto rows = isRowSelected(clickedRow_) ? copyOf(*selection_)
                                         : ns::MutableIndexSet::indexSetWithIndex(std::size_t(clickedRow_));
  auto pasteboard = Pasteboard::pasteboardWithName(PasteboardNameDrag);
  pasteboard->clearContents();
  if (!askWriteRows(*rows, pasteboard)) return;
  runDragSession(keep, pasteboard, localMask_, event);
}

void TableView::setDropRow_dropOperation(long row, unsigned long operation) {
  dropRow_ = std::clamp(row, -1L, rows_);
  dropOperation_ = operation == TableViewDropAbove ? TableViewDropAbove : TableViewDropOn;
  setNeedsDisplay(true);
}

unsigned long TableView::askValidateDrop(const ns::Ref<DraggingInfo>& info) {
  const Point p = convertPoint_fromView(info->draggingLocation(), nullptr);
  const long row = rowAtY(rowTops_, rows_, rowHeight_ + spacing_.height, std::max(0.0, p.y));
  if (row < 0) {
    dropRow_ = rows_;
    dropOperation_ = TableViewDropAbove;
  } else {
    Rect r = rectOfRow(row);
    double f = (p.y - r.origin.y) / std::max(1.0, r.size.height);
    if (f < 0.25) {
      dropRow_ = row;
      dropOperation_ = TableViewDropAbove;
    } else if (f > 0.75) {
      dropRow_ = row + 1;
      dropOperation_ = TableViewDropAbove;
    } else {
      dropRow_ = row;
      dropOperation_ = TableViewDropOn;
    }
  }
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kValidateDrop)) return DragOperationNone;
  return ns::send<unsigned long>(source, ns::Sel(kValidateDrop), self<TableView>(), ns::Ref<ns::Object>(info),
                                 dropRow_, dropOperation_);
}

bool TableView::askAcceptDrop(const ns::Ref<DraggingInfo>& info) {
  auto source = dataSource();
  if (!source || !dataSourceAnswers(kAcceptDrop)) return false;
  return ns::send<bool>(source, ns::Sel(kAcceptDrop), self<TableView>(), ns::Ref<ns::Object>(info), dropRow_,
                        dropOperation_);
}

unsigned long TableView::draggingEntered(const ns::Ref<DraggingInfo>& info) {
  auto keep = self<TableView>();
  unsigned long op = askValidateDrop(info);
  dropShown_ = op != DragOperationNone;
  setNeedsDisplay(true);
  return op;
}

unsigned long TableView::draggingUpdated(const ns::Ref<DraggingInfo>& info) {
  return draggingEntered(info);
}

void TableView::draggingExited(const ns::Ref<DraggingInfo>&) {
  dropShown_ = false;
  dropRow_ = -1;
  setNeedsDisplay(true);
}

bool TableView::performDragOperation(const ns::Ref<DraggingInfo>& info) {
  auto keep = self<TableView>();
  return askAcceptDrop(info);
}

void TableView::concludeDragOperation(const ns::Ref<DraggingInfo>&) {
  dropShown_ = false;
  dropRow_ = -1;
  setNeedsDisplay(true);
}

void TableView::drawDropIndicator() {
  if (!dropShown_ || dropRow_ < 0) return;
  selectionColor()->setFill();
  if (dropOperation_ == TableViewDropAbove) {
    double y = dropRow_ < rows_
                   ? rectOfRow(dropRow_).origin.y
                   : (rows_ ? rectOfRow(rows_ - 1).origin.y + rectOfRow(rows_ - 1).size.height : 0);
    RectFillUsingOperation({{0, std::max(0.0, y - 1)}, {frame_.size.width, 2}},
                           CompositingOperation::SourceOver);
  } else {
    FrameRectWithWidth(rectOfRow(dropRow_), 2);
  }
}

}  // namespace ak

// ---- the protocols: every method the views call, with its type encoding, for proxies built from them ----

namespace {

using ns::BOOL;
using ns::Ref;
using Id = Ref<ns::Object>;

// The control text-editing methods a view's delegate may answer for the field editor.
#define PL_CONTROL_TEXT_EDITING_METHODS(proto)                                    \
  proto.optional<BOOL(Id, Id)>("control:textShouldBeginEditing:");                \
  proto.optional<BOOL(Id, Id)>("control:textShouldEndEditing:");                  \
  proto.optional<BOOL(Id, Id, ns::Sel)>("control:textView:doCommandBySelector:"); \
  proto.optional<void(Id)>("controlTextDidBeginEditing:");                        \
  proto.optional<void(Id)>("controlTextDidChange:");                              \
  proto.optional<void(Id)>("controlTextDidEndEditing:")

}  // namespace

PL_CLASS_NAMED(ak::TableView, "NSTableView", ak::View) {}

PL_PROTOCOL(NSTableViewDataSource) {
  proto.adopts("NSObject");
  proto.optional<long(Id)>("numberOfRowsInTableView:");
  proto.optional<Id(Id, Id, long)>("tableView:objectValueForTableColumn:row:");
  proto.optional<void(Id, Id, Id, long)>("tableView:setObjectValue:forTableColumn:row:");
  proto.optional<void(Id, Id)>("tableView:sortDescriptorsDidChange:");
  proto.optional<BOOL(Id, Id, Id)>("tableView:writeRowsWithIndexes:toPasteboard:");
  proto.optional<unsigned long(Id, Id, long, unsigned long)>(
      "tableView:validateDrop:proposedRow:proposedDropOperation:");
  proto.optional<BOOL(Id, Id, long, unsigned long)>("tableView:acceptDrop:row:dropOperation:");
}

PL_PROTOCOL(NSTableViewDelegate) {
  proto.adopts("NSObject");
  proto.optional<Id(Id, Id, long)>("tableView:viewForTableColumn:row:");
  proto.optional<Id(Id, long)>("tableView:rowViewForRow:");
  proto.optional<void(Id, Id, long)>("tableView:didAddRowView:forRow:");
  proto.optional<void(Id, Id, long)>("tableView:didRemoveRowView:forRow:");
  proto.optional<void(Id, Id, Id, long)>("tableView:willDisplayCell:forTableColumn:row:");
  proto.optional<BOOL(Id, Id, long)>("tableView:shouldEditTableColumn:row:");
  proto.optional<BOOL(Id)>("selectionShouldChangeInTableView:");
  proto.optional<BOOL(Id, long)>("tableView:shouldSelectRow:");
  proto.optional<Id(Id, Id)>("tableView:selectionIndexesForProposedSelection:");
  proto.optional<double(Id, long)>("tableView:heightOfRow:");
  proto.optional<BOOL(Id, long)>("tableView:isGroupRow:");
  proto.optional<void(Id)>("tableViewSelectionDidChange:");
  proto.optional<void(Id)>("tableViewSelectionIsChanging:");
  PL_CONTROL_TEXT_EDITING_METHODS(proto);
}

PL_PROTOCOL(NSOutlineViewDataSource) {
  proto.adopts("NSObject");
  proto.optional<long(Id, Id)>("outlineView:numberOfChildrenOfItem:");
  proto.optional<Id(Id, long, Id)>("outlineView:child:ofItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:isItemExpandable:");
  proto.optional<Id(Id, Id, Id)>("outlineView:objectValueForTableColumn:byItem:");
  proto.optional<void(Id, Id, Id, Id)>("outlineView:setObjectValue:forTableColumn:byItem:");
  proto.optional<BOOL(Id, Id, Id)>("outlineView:writeItems:toPasteboard:");
  proto.optional<unsigned long(Id, Id, Id, long)>(
      "outlineView:validateDrop:proposedItem:proposedChildIndex:");
  proto.optional<BOOL(Id, Id, Id, long)>("outlineView:acceptDrop:item:childIndex:");
  proto.optional<Id(Id, Id)>("outlineView:itemForPersistentObject:");
  proto.optional<Id(Id, Id)>("outlineView:persistentObjectForItem:");
  proto.optional<Id(Id, Id, Id)>("outlineView:namesOfPromisedFilesDroppedAtDestination:forDraggedItems:");
  proto.optional<Id(Id, Id)>("outlineView:pasteboardWriterForItem:");
  proto.optional<void(Id, Id, ak::Point, Id)>("outlineView:draggingSession:willBeginAtPoint:forItems:");
  proto.optional<void(Id, Id, ak::Point, unsigned long)>(
      "outlineView:draggingSession:endedAtPoint:operation:");
  proto.optional<void(Id, Id)>("outlineView:updateDraggingItemsForDrag:");
}

PL_PROTOCOL(NSOutlineViewDelegate) {
  proto.adopts("NSObject");
  proto.optional<Id(Id, Id, Id)>("outlineView:viewForTableColumn:item:");
  proto.optional<Id(Id, Id)>("outlineView:rowViewForItem:");
  proto.optional<void(Id, Id, long)>("outlineView:didAddRowView:forRow:");
  proto.optional<void(Id, Id, long)>("outlineView:didRemoveRowView:forRow:");
  proto.optional<void(Id, Id, Id, Id)>("outlineView:willDisplayCell:forTableColumn:item:");
  proto.optional<void(Id, Id, Id, Id)>("outlineView:willDisplayOutlineCell:forTableColumn:item:");
  proto.optional<BOOL(Id, Id, Id)>("outlineView:shouldEditTableColumn:item:");
  proto.optional<BOOL(Id)>("selectionShouldChangeInOutlineView:");
  proto.optional<BOOL(Id, Id)>("outlineView:shouldSelectItem:");
  proto.optional<Id(Id, Id)>("outlineView:selectionIndexesForProposedSelection:");
  proto.optional<double(Id, Id)>("outlineView:heightOfRowByItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:isGroupItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:shouldExpandItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:shouldCollapseItem:");
  proto.optional<void(Id)>("outlineViewSelectionDidChange:");
  proto.optional<void(Id)>("outlineViewSelectionIsChanging:");
  proto.optional<void(Id)>("outlineViewItemWillExpand:");
  proto.optional<void(Id)>("outlineViewItemDidExpand:");
  proto.optional<void(Id)>("outlineViewItemWillCollapse:");
  proto.optional<void(Id)>("outlineViewItemDidCollapse:");
  proto.optional<Id(Id, Id, ak::Rect*, Id, Id, ak::Point)>(
      "outlineView:toolTipForCell:rect:tableColumn:item:mouseLocation:");
  proto.optional<Id(Id, Id, Id)>("outlineView:typeSelectStringForTableColumn:item:");
  proto.optional<Id(Id, Id, Id, Id)>("outlineView:nextTypeSelectMatchFromItem:toItem:forString:");
  proto.optional<BOOL(Id, Id, Id)>("outlineView:shouldTypeSelectForEvent:withCurrentSearchString:");
  proto.optional<BOOL(Id, Id, Id)>("outlineView:shouldShowCellExpansionForTableColumn:item:");
  proto.optional<BOOL(Id, Id, Id, Id)>("outlineView:shouldTrackCell:forTableColumn:item:");
  proto.optional<Id(Id, Id, Id)>("outlineView:dataCellForTableColumn:item:");
  PL_CONTROL_TEXT_EDITING_METHODS(proto);
}
