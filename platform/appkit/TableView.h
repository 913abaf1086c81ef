#pragma once
// View-based tables: rows stacked top down in a flipped view inside a clip view; only the rows
// that intersect the visible rect get a row view and cell views, and rows scrolled out go back
// to a reuse pool. The data source and delegate are called through the runtime; what they
// answer is looked up once per setDataSource/setDelegate.
#include <map>
#include <string>
#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"
#include "platform/foundation/IndexSet.h"
#include "platform/runtime/Sel.h"

namespace ak {

inline constexpr char TableViewSelectionDidChangeNotification[] = "NSTableViewSelectionDidChangeNotification";

enum TableViewSelectionHighlightStyle : long {
  TableViewSelectionHighlightStyleNone = -1,
  TableViewSelectionHighlightStyleRegular = 0,
  TableViewSelectionHighlightStyleSourceList = 1,
};

enum BackgroundStyle : long { BackgroundStyleLight = 0, BackgroundStyleDark = 1 };

class TableColumn : public ns::Object {
 public:
  explicit TableColumn(std::string identifier = {}) : identifier_(std::move(identifier)) {}
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  double width() const { return width_; }
  // Kept between the minimum and maximum widths.
  void setWidth(double width);
  double minWidth() const { return minWidth_; }
  void setMinWidth(double w) { minWidth_ = w; setWidth(width_); }
  double maxWidth() const { return maxWidth_; }
  void setMaxWidth(double w) { maxWidth_ = w; setWidth(width_); }
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }

 private:
  std::string identifier_;
  double width_ = 100, minWidth_ = 10, maxWidth_ = 1e6;
  bool editable_ = true;
};

class TableCellView : public View {
 public:
  ns::Ref<ns::Object> objectValue() const { return objectValue_; }
  virtual void setObjectValue(const ns::Ref<ns::Object>& value) { objectValue_ = value; }
  ns::Ref<View> textField() const { return textField_.lock(); }
  void setTextField(const ns::Ref<View>& field) { textField_ = field; }
  ns::Ref<View> imageView() const { return imageView_.lock(); }
  void setImageView(const ns::Ref<View>& view) { imageView_ = view; }
  long backgroundStyle() const { return backgroundStyle_; }
  virtual void setBackgroundStyle(long style) { backgroundStyle_ = style; }

 private:
  ns::Ref<ns::Object> objectValue_;
  ns::Weak<View> textField_, imageView_;
  long backgroundStyle_ = BackgroundStyleLight;
};

class TableRowView : public View {
 public:
  bool isFlipped() const override { return true; }
  bool isSelected() const { return selected_; }
  // Tells the cell views their background style (dark when selected).
  virtual void setSelected(bool selected);
  long selectionHighlightStyle() const { return highlightStyle_; }
  void setSelectionHighlightStyle(long style);
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
  long highlightStyle_ = TableViewSelectionHighlightStyleRegular;
  ns::Ref<Color> backgroundColor_;
};

class TableView : public View {
 public:
  TableView();
  ~TableView() override;
  void initWithFrame(const Rect& frame) override;
  bool isFlipped() const override { return true; }

  // ---- columns ----
  void addTableColumn(const ns::Ref<TableColumn>& column);
  void removeTableColumn(const ns::Ref<TableColumn>& column);
  const std::vector<ns::Ref<TableColumn>>& tableColumns() const { return columns_; }
  long columnWithIdentifier(const std::string& identifier) const;
  Rect rectOfColumn(long column) const;

  // ---- data source and delegate ----
  ns::Ref<ns::Object> dataSource() const { return dataSource_.lock(); }
  void setDataSource(const ns::Ref<ns::Object>& source);
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate);

  // ---- rows ----
  long numberOfRows() const { return rows_; }
  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height);
  Size intercellSpacing() const { return spacing_; }
  void setIntercellSpacing(const Size& spacing);
  Rect rectOfRow(long row) const;
  // -1 outside every row.
  long rowAtPoint(const Point& point) const;
  // The rows whose rects meet `rect` (location, length).
  ns::Range rowsInRect(const Rect& rect) const;
  virtual Rect frameOfCellAtColumn_row(long column, long row) const;
  // Recounts, re-asks heights, rebinds the visible rows and keeps the selected indexes still valid.
  virtual void reloadData();
  void noteNumberOfRowsChanged();
  void scrollRowToVisible(long row);

  // ---- views ----
  // A pooled view for the identifier, else one from the registered prototype, else nil.
  ns::Ref<View> makeViewWithIdentifier_owner(const std::string& identifier, const ns::Ref<ns::Object>& owner);
  // How a nib builder registers the prototype for an identifier.
  void registerViewFactory(const std::string& identifier, std::function<ns::Ref<View>()> factory);
  ns::Ref<View> viewAtColumn_row_makeIfNecessary(long column, long row, bool make);
  ns::Ref<TableRowView> rowViewAtRow_makeIfNecessary(long row, bool make);
  // Brings the row views in line with the visible rect (done after scrolling and reloads).
  void tile();

  // ---- selection ----
  virtual void selectRowIndexes_byExtendingSelection(const ns::IndexSet& indexes, bool extend);
  long selectedRow() const;
  ns::Ref<ns::IndexSet> selectedRowIndexes() const;
  void deselectAll(const ns::Ref<ns::Object>& sender);
  void deselectRow(long row);
  bool isRowSelected(long row) const;
  bool allowsMultipleSelection() const { return allowsMultiple_; }
  void setAllowsMultipleSelection(bool allows) { allowsMultiple_ = allows; }
  bool allowsEmptySelection() const { return allowsEmpty_; }
  void setAllowsEmptySelection(bool allows) { allowsEmpty_ = allows; }
  long selectionHighlightStyle() const { return highlightStyle_; }
  void setSelectionHighlightStyle(long style);

  void viewDidMoveToSuperview() override;
  bool acceptsFirstResponder() override { return true; }

 private:
  struct Shown {
    ns::Ref<TableRowView> rowView;
    std::vector<ns::Ref<View>> cells;  // per column; null where the delegate gave nil
  };
  void recount();
  void resizeToFit();
  Shown& materialise(long row);
  void retire(long row);
  void changeSelection(ns::Ref<ns::MutableIndexSet> next);
  void observeClip();

  std::vector<ns::Ref<TableColumn>> columns_;
  ns::Weak<ns::Object> dataSource_, delegate_;
  bool dsCount_ = false, dlgView_ = false, dlgHeight_ = false, dlgRemove_ = false, dlgRowView_ = false;
  bool dlgSelectionDidChange_ = false;
  long rows_ = 0;
  double rowHeight_ = 17;
  Size spacing_{3, 2};
  std::vector<double> rowTops_;  // only with delegate heights: rows_+1 offsets
  std::map<long, Shown> shown_;
  std::map<std::string, std::vector<ns::Ref<View>>> pool_;
  std::vector<ns::Ref<TableRowView>> rowPool_;
  std::map<std::string, std::function<ns::Ref<View>()>> factories_;
  ns::Ref<ns::MutableIndexSet> selection_;
  bool allowsMultiple_ = false, allowsEmpty_ = true;
  long highlightStyle_ = TableViewSelectionHighlightStyleRegular;
  ns::Ref<ns::Object> clipToken_;
  ns::Ref<ns::Object> delegateToken_;
  bool tiling_ = false;
};

}  // namespace ak
