#pragma once
// Tables: rows stacked top down in a flipped view inside a clip view.
//
// View-based (the delegate answers tableView:viewForTableColumn:row:): only the rows that meet
// the visible rect get a row view and cell views, and rows scrolled out go back to a reuse
// pool. Cell-based otherwise: each visible row is drawn with the columns' data cells.
//
// The data source and delegate are called through the runtime; which optional methods they
// answer is looked up at every setDataSource/setDelegate, so a proxy that claims methods gets
// them.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/appkit/Cell.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/foundation/IndexSet.h"
#include "platform/runtime/Sel.h"

namespace ns {
class Notification;
}

namespace ak {

inline constexpr char TableViewSelectionDidChangeNotification[] = "NSTableViewSelectionDidChangeNotification";

enum TableViewSelectionHighlightStyle : long {
  TableViewSelectionHighlightStyleNone = -1,
  TableViewSelectionHighlightStyleRegular = 0,
  TableViewSelectionHighlightStyleSourceList = 1,
};

enum TableViewDropOperation : unsigned long { TableViewDropOn = 0, TableViewDropAbove = 1 };

enum TableColumnResizingMask : unsigned long {
  TableColumnNoResizing = 0,
  TableColumnAutoresizingMask = 1,
  TableColumnUserResizingMask = 2,
};

class TableColumn : public ns::Object {
 public:
  explicit TableColumn(std::string identifier = {});
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  double width() const { return width_; }
  // Kept between the minimum and maximum widths.
  void setWidth(double width);
  double minWidth() const { return minWidth_; }
  void setMinWidth(double w);
  double maxWidth() const { return maxWidth_; }
  void setMaxWidth(double w);
  unsigned long resizingMask() const { return resizingMask_; }
  void setResizingMask(unsigned long mask) { resizingMask_ = mask; }
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }
  // The cell that draws this column's rows in a cell-based table (a text cell by default).
  ns::Ref<Cell> dataCell() const { return dataCell_; }
  void setDataCell(const ns::Ref<Cell>& cell) { dataCell_ = cell; }

 private:
  std::string identifier_;
  double width_ = 100, minWidth_ = 10, maxWidth_ = 1e6;
  unsigned long resizingMask_ = TableColumnAutoresizingMask | TableColumnUserResizingMask;
  bool editable_ = true;
  ns::Ref<Cell> dataCell_;
};

class TableCellView : public View {
 public:
  ns::Value objectValue() const { return objectValue_; }
  virtual void setObjectValue(const ns::Value& value) { objectValue_ = value; }
  ns::Ref<View> textField() const { return textField_.lock(); }
  void setTextField(const ns::Ref<View>& field) { textField_ = field; }
  ns::Ref<View> imageView() const { return imageView_.lock(); }
  void setImageView(const ns::Ref<View>& view) { imageView_ = view; }
  BackgroundStyle backgroundStyle() const { return backgroundStyle_; }
  virtual void setBackgroundStyle(BackgroundStyle style) { backgroundStyle_ = style; }

 private:
  ns::Value objectValue_;
  ns::Weak<View> textField_, imageView_;
  BackgroundStyle backgroundStyle_ = BackgroundStyle::Light;
};

class TableRowView : public View {
 public:
  bool isFlipped() const override { return true; }
  bool isSelected() const { return selected_; }
  // Tells the cell views their background style (dark when selected).
  virtual void setSelected(bool selected);
  long selectionHighlightStyle() const { return highlightStyle_; }
  void setSelectionHighlightStyle(long style);
  bool isGroupRowStyle() const { return groupRow_; }
  void setGroupRowStyle(bool group) { groupRow_ = group; }
  ns::Ref<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<Color>& color);
  virtual void drawBackgroundInRect(const Rect& dirtyRect);
  // Runs only for a selected row whose style is not None.
  virtual void drawSelectionInRect(const Rect& dirtyRect);
  void drawRect(const Rect& dirtyRect) override;
  void didAddSubview(const ns::Ref<View>& subview) override;

 private:
  void pushBackgroundStyle();
  bool selected_ = false;
  bool groupRow_ = false;
  long highlightStyle_ = TableViewSelectionHighlightStyleRegular;
  ns::Ref<Color> backgroundColor_;
};

class TableView : public View, public TextEditingClient {
 public:
  TableView();
  ~TableView() override;
  bool isFlipped() const override { return true; }
  bool isOpaque() const override { return false; }
  // A press on the rows selects them, whatever window it is in.
  bool mouseDownCanMoveWindow() const override { return false; }
  // The last autoresizing column follows the table's width.
  void resizeWithOldSuperviewSize(const Size& oldSize) override;

  // ---- columns ----
  void addTableColumn(const ns::Ref<TableColumn>& column);
  void removeTableColumn(const ns::Ref<TableColumn>& column);
  const std::vector<ns::Ref<TableColumn>>& tableColumns() const { return columns_; }
  long columnWithIdentifier(const std::string& identifier) const;
  ns::Ref<TableColumn> tableColumnWithIdentifier(const std::string& identifier) const;
  Rect rectOfColumn(long column) const;
  long columnAtPoint(const Point& point) const;

  // ---- data source and delegate ----
  ns::Ref<ns::Object> dataSource() const { return dataSource_.lock(); }
  void setDataSource(const ns::Ref<ns::Object>& source);
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate);

  // ---- target and action ----
  ns::Ref<ns::Object> target() const { return target_.lock(); }
  void setTarget(const ns::Ref<ns::Object>& target) { target_ = target; }
  ns::Sel action() const { return action_; }
  void setAction(ns::Sel action) { action_ = action; }
  ns::Sel doubleAction() const { return doubleAction_; }
  void setDoubleAction(ns::Sel action) { doubleAction_ = action; }
  // The row and column of the last click or context menu (-1 when none).
  long clickedRow() const { return clickedRow_; }
  long clickedColumn() const { return clickedColumn_; }

  // ---- rows ----
  long numberOfRows() const { return rows_; }
  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height);
  Size intercellSpacing() const { return spacing_; }
  void setIntercellSpacing(const Size& spacing);
  bool usesAlternatingRowBackgroundColors() const { return alternating_; }
  void setUsesAlternatingRowBackgroundColors(bool uses) { alternating_ = uses; }
  ns::Ref<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<Color>& color) { backgroundColor_ = color; }
  unsigned long gridStyleMask() const { return gridStyle_; }
  void setGridStyleMask(unsigned long mask) { gridStyle_ = mask; }
  Rect rectOfRow(long row) const;
  // -1 outside every row.
  long rowAtPoint(const Point& point) const;
  // The rows whose rects meet `rect` (location, length).
  ns::Range rowsInRect(const Rect& rect) const;
  virtual Rect frameOfCellAtColumn_row(long column, long row) const;
  // Recounts, re-asks heights, rebinds the visible rows and keeps the selected indexes still valid.
  virtual void reloadData();
  void noteNumberOfRowsChanged();
  void noteHeightOfRowsWithIndexesChanged(const ns::IndexSet& rows);
  void reloadDataForRowIndexes_columnIndexes(const ns::IndexSet& rows, const ns::IndexSet& columns);
  // Row changes at once (no animation here); selected rows move with their contents.
  void insertRowsAtIndexes_withAnimation(const ns::IndexSet& rows, unsigned long options);
  void removeRowsAtIndexes_withAnimation(const ns::IndexSet& rows, unsigned long options);
  void moveRowAtIndex_toIndex(long from, long to);
  void scrollRowToVisible(long row);
  bool isViewBased() const { return viewBased_; }

  // ---- views ----
  // A pooled view for the identifier, else one from the registered prototype, else nil.
  ns::Ref<View> makeViewWithIdentifier_owner(const std::string& identifier, const ns::Ref<ns::Object>& owner);
  // How a view builder registers the prototype for an identifier (the owner's awakeFromNib is
  // not run again for the views made from it).
  void registerViewFactory(const std::string& identifier, std::function<ns::Ref<View>()> factory);
  ns::Ref<View> viewAtColumn_row_makeIfNecessary(long column, long row, bool make);
  ns::Ref<TableRowView> rowViewAtRow_makeIfNecessary(long row, bool make);
  // Brings the row views in line with the visible rect (done after scrolling and reloads).
  void tile();

  // ---- cell-based drawing and editing ----
  // The column's data cell holding the data source's value for the row, after willDisplayCell.
  ns::Ref<Cell> preparedCellAtColumn_row(long column, long row);
  void drawRect(const Rect& dirtyRect) override;
  virtual void drawBackgroundInClipRect(const Rect& clipRect);
  virtual void highlightSelectionInClipRect(const Rect& clipRect);
  virtual void drawGridInClipRect(const Rect& clipRect);
  virtual void drawRow_clipRect(long row, const Rect& clipRect);
  // Opens the field editor over the cell; the edit ends in textDidEndEditing:.
  void editColumn_row_withEvent_select(long column, long row, const ns::Ref<Event>& event, bool select);
  long editedRow() const { return editedRow_; }
  long editedColumn() const { return editedColumn_; }
  // Called with "NSTextMovement" in the user info when the field editor ends an edit; stores the
  // value through the data source and the cell.
  virtual void textDidEndEditing(const ns::Ref<ns::Notification>& notification);

  // ---- selection ----
  virtual void selectRowIndexes_byExtendingSelection(const ns::IndexSet& indexes, bool extend);
  long selectedRow() const;
  ns::Ref<ns::IndexSet> selectedRowIndexes() const;
  long numberOfSelectedRows() const { return long(selection_->count()); }
  void deselectAll(const ns::Ref<ns::Object>& sender);
  void deselectRow(long row);
  void selectAll(const ns::Ref<ns::Object>& sender);
  bool isRowSelected(long row) const;
  bool allowsMultipleSelection() const { return allowsMultiple_; }
  void setAllowsMultipleSelection(bool allows) { allowsMultiple_ = allows; }
  bool allowsEmptySelection() const { return allowsEmpty_; }
  void setAllowsEmptySelection(bool allows) { allowsEmpty_ = allows; }
  long selectionHighlightStyle() const { return highlightStyle_; }
  void setSelectionHighlightStyle(long style);

  // ---- events ----
  bool acceptsFirstResponder() override { return true; }
  ns::Ref<View> hitTest(const Point& point) override;
  // YES for controls inside the rows: other views' clicks are the table's own.
  bool validateProposedFirstResponder_forEvent(const ns::Ref<Responder>& responder,
                                               const ns::Ref<Event>& event) override;
  void mouseDown(const ns::Ref<Event>& event) override;
  void rightMouseDown(const ns::Ref<Event>& event) override;
  void keyDown(const ns::Ref<Event>& event) override;
  ns::Ref<Menu> menuForEvent(const ns::Ref<Event>& event) override;

  // ---- drag and drop ----
  void setDraggingSourceOperationMask_forLocal(unsigned long mask, bool local);
  unsigned long draggingSourceOperationMaskForLocal(bool local) const {
    return local ? localMask_ : remoteMask_;
  }
  // During validation: where and how the drop will land.
  void setDropRow_dropOperation(long row, unsigned long operation);
  long dropRow() const { return dropRow_; }
  unsigned long dropOperation() const { return dropOperation_; }
  unsigned long draggingEntered(const ns::Ref<DraggingInfo>& info) override;
  unsigned long draggingUpdated(const ns::Ref<DraggingInfo>& info) override;
  void draggingExited(const ns::Ref<DraggingInfo>& info) override;
  bool performDragOperation(const ns::Ref<DraggingInfo>& info) override;
  void concludeDragOperation(const ns::Ref<DraggingInfo>& info) override;

  void viewDidMoveToSuperview() override;

  // TextEditingClient
  bool textShouldBeginEditing(TextView& editor) override;
  void textDidBeginEditing(TextView& editor) override {}
  void textDidChange(TextView& editor) override {}
  bool textView_doCommandBySelector(TextView& editor, ns::Sel command) override { return false; }
  bool textDidEndEditingWithMovement(TextView& editor, long movement) override;

 protected:
  // What differs between tables and outline views: the questions asked of the data source and
  // delegate. Each answers as "not implemented" when the object does not answer.
  virtual long askRowCount();
  virtual double askHeight(long row);
  virtual ns::Ref<View> askView(long column, long row);
  virtual ns::Ref<TableRowView> askRowView(long row);
  virtual void tellDidRemoveRowView(const ns::Ref<TableRowView>& view, long row);
  virtual ns::Value askObjectValue(long column, long row);
  virtual void tellSetObjectValue(const ns::Value& value, long column, long row);
  virtual void tellWillDisplayCell(const ns::Ref<Cell>& cell, long column, long row);
  virtual bool askSelectionShouldChange();
  virtual bool askShouldSelectRow(long row);
  virtual ns::Ref<ns::IndexSet> askProposedSelection(const ns::Ref<ns::IndexSet>& proposed);
  virtual bool askShouldEdit(long column, long row);
  virtual bool askIsGroupRow(long row);
  virtual bool askWriteRows(const ns::IndexSet& rows, const ns::Ref<Pasteboard>& pasteboard);
  // Turns the location of a drag into a proposed drop and asks the data source about it.
  virtual unsigned long askValidateDrop(const ns::Ref<DraggingInfo>& info);
  virtual bool askAcceptDrop(const ns::Ref<DraggingInfo>& info);
  virtual void drawDropIndicator();
  // The notifications the delegate is registered for: name -> selector.
  virtual std::vector<std::pair<std::string, std::string>> delegateNotifications() const;
  virtual const char* selectionDidChangeName() const { return TableViewSelectionDidChangeNotification; }
  // The delegate method whose presence makes the table view-based, and the one giving heights.
  virtual const char* viewForSelector() const { return "tableView:viewForTableColumn:row:"; }
  virtual const char* heightSelector() const { return "tableView:heightOfRow:"; }
  // The selectors looked up at setDelegate/setDataSource.
  virtual std::vector<std::string> delegateSelectors() const;
  virtual std::vector<std::string> dataSourceSelectors() const;
  bool delegateAnswers(const char* selector) const;
  bool dataSourceAnswers(const char* selector) const;
  // Called by reloadData before rows are recounted, for subclasses to rebuild their rows.
  virtual void rebuildRows() {}
  // A click at `point` in the row, before selection; YES when it was consumed (a disclosure).
  virtual bool handleClickInRow(long row, const Point& point) { return false; }
  virtual bool handleKey(const ns::Ref<Event>& event) { return false; }
  void changeSelection(ns::Ref<ns::MutableIndexSet> next);
  // Renumbers the selection after rows moved, without telling anyone (the same rows stay selected).
  void replaceSelectionQuietly(ns::Ref<ns::MutableIndexSet> next);
  ns::Ref<Color> dropIndicatorColor() const;
  void postDelegateNotification(const std::string& name, ns::Dictionary info = {});

 private:
  struct Shown {
    ns::Ref<TableRowView> rowView;
    std::vector<ns::Ref<View>> cells;  // per column; null where the delegate gave nil
    bool ownRowView = false;           // made (or pooled) by the table, not by the delegate
  };
  void recount();
  void resizeToFit();
  void materialise(long row);
  void retire(long row);
  void retireAll();
  void observeClip();
  void refreshSelectionDisplay();
  // The selection a click with these modifiers proposes.
  ns::Ref<ns::MutableIndexSet> proposeForClick(long row, unsigned long flags, bool* deferCollapse);
  bool applyProposed(ns::Ref<ns::MutableIndexSet> proposed);
  void startDrag(const ns::Ref<Event>& event);
  void sendClickAction(const ns::Ref<Event>& event);
  void endEdit(bool commit, long movement);

  std::vector<ns::Ref<TableColumn>> columns_;
  ns::Weak<ns::Object> dataSource_, delegate_, target_;
  std::set<std::string> dsAnswers_, dlgAnswers_;
  std::vector<ns::Ref<ns::Object>> delegateTokens_;
  ns::Sel action_, doubleAction_;
  long clickedRow_ = -1, clickedColumn_ = -1;
  bool viewBased_ = false;
  long rows_ = 0;
  double rowHeight_ = 17;
  Size spacing_{3, 2};
  bool alternating_ = false;
  unsigned long gridStyle_ = 0;
  ns::Ref<Color> backgroundColor_;
  std::vector<double> rowTops_;  // only with delegate heights: rows_+1 offsets
  std::map<long, Shown> shown_;
  std::map<std::string, std::vector<ns::Ref<View>>> pool_;
  std::vector<ns::Ref<TableRowView>> rowPool_;
  std::size_t shownPeak_ = 0;  // the most rows shown at once: the pools' bound
  std::map<std::string, std::function<ns::Ref<View>()>> factories_;
  ns::Ref<ns::MutableIndexSet> selection_;
  long anchor_ = -1;
  bool allowsMultiple_ = false, allowsEmpty_ = true;
  long highlightStyle_ = TableViewSelectionHighlightStyleRegular;
  ns::Ref<ns::Object> clipToken_;
  int tiling_ = 0;
  bool reloadPending_ = false;
  long editedRow_ = -1, editedColumn_ = -1;
  ns::Weak<TextView> editor_;
  ns::Ref<Cell> editingCell_;
  unsigned long localMask_ = DragOperationEvery, remoteMask_ = DragOperationCopy;
  long dropRow_ = -1;
  unsigned long dropOperation_ = TableViewDropOn;
  bool dropShown_ = false;
};

}  // namespace ak
