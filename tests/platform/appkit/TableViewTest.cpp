#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace table_test {

// A data source and delegate that records what the table asks of it.
class Rows : public ns::Object {
 public:
  long count = 0;
  double height = 81;               // 83 with the default row spacing
  std::vector<long> asked;          // rows whose views were asked for
  std::vector<long> removed;        // rows whose row views went away
  std::set<ak::View*> made;         // every cell view ever handed out
  std::map<long, ak::View*> given;  // the last view handed out per row
  bool nilViews = false;
  int selectionChanges = 0;
  std::function<void()> onSelectionChange;
  ak::TableView* table = nullptr;
  std::vector<std::string>* drawLog = nullptr;  // when set, rows get recording row views
  bool ownRowViews = false;                     // rows get row views made here
  bool freshCells = false;                      // cells made here, not asked of the table
  std::vector<ns::Weak<ak::View>> everMade;     // row views and cells made here

  long numberOfRows(ns::Ref<ns::Object>) { return count; }
  double heightOfRow(ns::Ref<ns::Object>, long) { return height; }
  ns::Ref<ns::Object> viewFor(ns::Ref<ns::Object> table, ns::Ref<ns::Object> column, long row) {
    asked.push_back(row);
    if (nilViews) return nullptr;
    if (freshCells) {
      auto fresh = ak::make<ak::TableCellView>(ak::MakeRect(0, 0, 100, 20));
      fresh->setIdentifier("Cell");
      everMade.push_back(fresh);
      return fresh;
    }
    auto view = std::static_pointer_cast<ak::TableView>(table)->makeViewWithIdentifier_owner("Cell", nullptr);
    auto cell = std::dynamic_pointer_cast<ak::TableCellView>(view);
    if (cell) cell->setObjectValue(ns::Ref<ns::Object>());
    made.insert(view.get());
    given[row] = view.get();
    return view;
  }
  void didRemove(ns::Ref<ns::Object>, ns::Ref<ns::Object>, long row) { removed.push_back(row); }
  ns::Ref<ns::Object> rowViewFor(ns::Ref<ns::Object>, long row);
  void selectionDidChange(ns::Ref<ns::Notification>) {
    ++selectionChanges;
    if (onSelectionChange) onSelectionChange();
  }
};

// A delegate without the view method or heights: the count alone.
class CountOnly : public ns::Object {
 public:
  long count = 0;
  long numberOfRows(ns::Ref<ns::Object>) { return count; }
};

class SelectionRowView : public ak::TableRowView {
 public:
  std::vector<std::string>* log = nullptr;
  std::string name;
  void drawSelectionInRect(const ak::Rect& r) override {
    if (log) log->push_back(name);
    ak::TableRowView::drawSelectionInRect(r);
  }
};

inline ns::Ref<ns::Object> Rows::rowViewFor(ns::Ref<ns::Object>, long row) {
  if (ownRowViews) {
    auto view = ak::make<ak::TableRowView>(ak::ZeroRect);
    everMade.push_back(view);
    return view;
  }
  if (!drawLog) return nullptr;
  auto view = ak::make<SelectionRowView>(ak::ZeroRect);
  view->log = drawLog;
  view->name = "row " + std::to_string(row);
  return view;
}

}  // namespace table_test

using table_test::CountOnly;
using table_test::Rows;

PL_CLASS_NAMED(table_test::Rows, "TTRows", ns::Object) {
  cls.method<&Rows::numberOfRows>("numberOfRowsInTableView:");
  cls.method<&Rows::heightOfRow>("tableView:heightOfRow:");
  cls.method<&Rows::viewFor>("tableView:viewForTableColumn:row:");
  cls.method<&Rows::didRemove>("tableView:didRemoveRowView:forRow:");
  cls.method<&Rows::rowViewFor>("tableView:rowViewForRow:");
  cls.method<&Rows::selectionDidChange>("tableViewSelectionDidChange:");
}

PL_CLASS_NAMED(table_test::CountOnly, "TTCountOnly", ns::Object) {
  cls.method<&CountOnly::numberOfRows>("numberOfRowsInTableView:");
}

namespace {

struct TableFixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<ak::ScrollView> scroll;
  ns::Ref<ak::TableView> table;
  ns::Ref<Rows> rows = std::make_shared<Rows>();
  int cellsBuilt = 0;

  explicit TableFixture(long count, double height = 81) {
    rows->count = count;
    rows->height = height;
    window = app.window(MakeRect(0, 0, 300, 400), ak::BorderlessWindowMask);
    scroll = ak::make<ak::ScrollView>(MakeRect(0, 0, 300, 400));
    window->setContentView(scroll);
    table = ak::make<ak::TableView>(MakeRect(0, 0, 300, 400));
    rows->table = table.get();
    table->addTableColumn(std::make_shared<ak::TableColumn>("Name"));
    table->registerViewFactory("Cell", [this] {
      ++cellsBuilt;
      return ak::make<ak::TableCellView>(MakeRect(0, 0, 100, 20));
    });
    table->setDelegate(rows);
    table->setDataSource(rows);
    scroll->setDocumentView(table);
  }
  std::set<long> askedSet() const { return {rows->asked.begin(), rows->asked.end()}; }
};

std::set<long> range(long first, long last) {
  std::set<long> s;
  for (long i = first; i <= last; ++i) s.insert(i);
  return s;
}

}  // namespace

TEST(TableViews, OnlyVisibleRowsGetViewsAndScrolledOutViewsAreReused) {
  TableFixture f(10000);
  pltest::renderWindow(f.window, "first");
  EXPECT_EQ(f.askedSet(), range(0, 4));
  EXPECT_EQ(f.rows->asked.size(), 5u);
  EXPECT_EQ(f.table->rectOfRow(100), MakeRect(0, 8300, 300, 83));
  EXPECT_EQ(f.table->rowAtPoint({10, 8300}), 100);
  EXPECT_EQ(f.table->rowAtPoint({10, 830000}), -1);
  EXPECT_EQ(f.table->rowAtPoint({-1, 10}), -1);
  std::set<ak::View*> firstViews;
  for (long r = 0; r <= 4; ++r) firstViews.insert(f.rows->given[r]);

  f.rows->asked.clear();
  f.scroll->contentView()->scrollToPoint({0, 8300});
  EXPECT_EQ(f.scroll->documentVisibleRect(), MakeRect(0, 8300, 300, 400));
  EXPECT_EQ(f.askedSet(), range(100, 104));
  EXPECT_EQ(std::set<long>(f.rows->removed.begin(), f.rows->removed.end()), range(0, 4));
  // The views of rows 100-104 are those of rows 0-4, back from the pool.
  std::set<ak::View*> laterViews;
  for (long r = 100; r <= 104; ++r) laterViews.insert(f.rows->given[r]);
  EXPECT_EQ(laterViews, firstViews);
  EXPECT_EQ(f.cellsBuilt, 5);
  for (long r = 100; r <= 104; ++r)
    EXPECT_EQ(f.table->viewAtColumn_row_makeIfNecessary(0, r, false).get(), f.rows->given[r]);
  EXPECT_EQ(f.table->viewAtColumn_row_makeIfNecessary(0, 0, false), nullptr);
  EXPECT_EQ(f.table->rowViewAtRow_makeIfNecessary(0, false), nullptr);
  EXPECT_NE(f.table->rowViewAtRow_makeIfNecessary(102, false), nullptr);
  // The shown view is a subview of its row view, where the cell frame says.
  auto view = f.table->viewAtColumn_row_makeIfNecessary(0, 101, false);
  EXPECT_EQ(view->superview(), f.table->rowViewAtRow_makeIfNecessary(101, false));
  pltest::renderWindow(f.window, "scrolled");
}

TEST(TableViews, ScrollWheelAndScrollRowToVisibleStayInsideTheDocument) {
  TableFixture f(100, 15);  // rows of 17 points: 1,700 high
  auto clip = f.scroll->contentView();
  int boundsChanges = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(ak::ViewBoundsDidChangeNotification), clip, nullptr,
      [&](const ns::Ref<ns::Notification>&) { ++boundsChanges; });
  struct Step {
    double deltaY;
    double expectY;
  } steps[] = {{-100, 100}, {30, 70}, {500, 0}, {-5000, 1300}, {std::nan(""), 1300}};
  for (const auto& s : steps) {
    pltest::scroll(f.window, {50, 200}, 0, s.deltaY);
    f.app.dispatchQueued();
    EXPECT_EQ(clip->bounds().origin.y, s.expectY) << s.deltaY;
  }
  EXPECT_EQ(boundsChanges, 4);  // the refused NaN step changes nothing
  f.table->scrollRowToVisible(10);
  EXPECT_EQ(clip->bounds().origin.y, 170);
  f.table->scrollRowToVisible(50);
  EXPECT_EQ(clip->bounds().origin.y, 50 * 17 + 17 - 400);
  f.table->scrollRowToVisible(55);
  EXPECT_EQ(clip->bounds().origin.y, 55 * 17 + 17 - 400);
  // Rows on show follow the scroll.
  EXPECT_NE(f.table->viewAtColumn_row_makeIfNecessary(0, 55, false), nullptr);
  EXPECT_EQ(f.table->viewAtColumn_row_makeIfNecessary(0, 0, false), nullptr);
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
}

TEST(TableViews, RowsThatComeIntoViewAsTheClipGrowsAroundATallerTableGetViews) {
  TableFixture f(100);  // rows of 83 points: far taller than the window at every size here
  pltest::renderWindow(f.window, "before");
  EXPECT_EQ(f.askedSet(), range(0, 4));
  f.window->setFrame_display(MakeRect(0, 0, 300, 700), true);
  EXPECT_EQ(f.table->frame().size.height, 8300);  // unchanged
  EXPECT_EQ(f.askedSet(), range(0, 8));
  EXPECT_NE(f.table->rowViewAtRow_makeIfNecessary(8, false), nullptr);
}

TEST(TableViews, AWheelNotchMovesTheStepOfTheDesktopsOwnLists) {
  TableFixture f(100, 81);  // 8,100 high in a clip 400 high
  auto clip = f.scroll->contentView();
  // A notch (a line, without precise deltas) moves 400^(2/3) points, as GTK's scrolled windows
  // move: about 54 here, two thirds of a row, where 10 points were an eighth of one.
  const double step = std::pow(400.0, 2.0 / 3.0);
  EXPECT_NEAR(f.scroll->verticalLineScroll(), step, 1e-9);
  EXPECT_NEAR(f.scroll->horizontalLineScroll(), std::min(std::pow(300.0, 2.0 / 3.0), 150.0), 1e-9);
  auto notches = [&](double lines) {
    pltest::post(ak::Event::scrollWheelEvent({50, 200}, 0, 0, f.window->windowNumber(), 0, lines, false));
    f.app.dispatchQueued();
    return clip->bounds().origin.y;
  };
  EXPECT_NEAR(notches(-1), step, 1e-9);
  EXPECT_NEAR(notches(-3), 4 * step, 1e-9);
  EXPECT_NEAR(notches(1), 3 * step, 1e-9);
  // A smooth wheel's fraction of a notch moves that fraction of the step.
  EXPECT_NEAR(notches(-0.5), 3.5 * step, 1e-9);
  // Thirty notches cover 30 steps, far beyond the 3.5 rows they used to.
  const double before = clip->bounds().origin.y;
  EXPECT_NEAR(notches(-30) - before, 30 * step, 1e-9);
  // Precise deltas stay points.
  const double y = clip->bounds().origin.y;
  pltest::scroll(f.window, {50, 200}, 0, 7);
  f.app.dispatchQueued();
  EXPECT_NEAR(clip->bounds().origin.y, y - 7, 1e-9);
  // A short clip moves at most half of itself; a set line scroll wins.
  f.scroll->setFrameSize({300, 6});
  EXPECT_EQ(f.scroll->verticalLineScroll(), 3);
  f.scroll->setFrameSize({300, 400});
  f.scroll->setLineScroll(81);
  EXPECT_EQ(f.scroll->verticalLineScroll(), 81);
  const double at = clip->bounds().origin.y;
  EXPECT_NEAR(notches(-1), at + 81, 1e-9);
}

TEST(TableViews, SelectionPostsOnRealChangesAndStylesTheCellViews) {
  TableFixture f(20, 15);
  std::vector<std::string> drawn;
  f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(2), false);
  EXPECT_EQ(f.rows->selectionChanges, 1);
  f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(2), false);
  EXPECT_EQ(f.rows->selectionChanges, 1);
  f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(99), false);
  EXPECT_EQ(f.rows->selectionChanges, 1);
  EXPECT_EQ(f.table->selectedRow(), 2);
  auto cell = [&](long row) {
    return std::dynamic_pointer_cast<ak::TableCellView>(
        f.table->viewAtColumn_row_makeIfNecessary(0, row, false));
  };
  EXPECT_EQ(cell(2)->backgroundStyle(), ak::BackgroundStyle::Dark);
  f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(3), false);
  EXPECT_EQ(f.rows->selectionChanges, 2);
  EXPECT_EQ(cell(2)->backgroundStyle(), ak::BackgroundStyle::Light);
  EXPECT_EQ(cell(3)->backgroundStyle(), ak::BackgroundStyle::Dark);

  // Single selection keeps the last index; multiple keeps all; out-of-range indexes are dropped.
  auto many = ns::MutableIndexSet::indexSet();
  many->addIndex(4);
  many->addIndex(6);
  many->addIndex(500);
  f.table->selectRowIndexes_byExtendingSelection(*many, false);
  EXPECT_EQ(f.table->selectedRowIndexes()->count(), 1u);
  EXPECT_EQ(f.table->selectedRow(), 6);
  f.table->setAllowsMultipleSelection(true);
  f.table->selectRowIndexes_byExtendingSelection(*many, false);
  EXPECT_EQ(f.table->selectedRowIndexes()->count(), 2u);
  EXPECT_TRUE(f.table->isRowSelected(4) && f.table->isRowSelected(6));

  // deselectAll keeps the rows when an empty selection is not allowed.
  f.table->setAllowsEmptySelection(false);
  int before = f.rows->selectionChanges;
  f.table->deselectAll(nullptr);
  EXPECT_EQ(f.table->selectedRowIndexes()->count(), 2u);
  EXPECT_EQ(f.rows->selectionChanges, before);
  f.table->setAllowsEmptySelection(true);
  f.table->deselectAll(nullptr);
  EXPECT_EQ(f.table->selectedRow(), -1);
  EXPECT_EQ(f.rows->selectionChanges, before + 1);

  // A reload that shrinks the table keeps only the selected rows that remain.
  f.table->selectRowIndexes_byExtendingSelection(*many, false);
  f.rows->count = 5;
  f.table->reloadData();
  EXPECT_EQ(f.table->selectedRow(), 4);
  EXPECT_EQ(f.table->selectedRowIndexes()->count(), 1u);
}

TEST(TableViews, SelectionIsDrawnOnlyForSelectedRowsAndNeverWithStyleNone) {
  struct Case {
    long style;
    std::vector<std::string> expected;
  } cases[] = {{ak::TableViewSelectionHighlightStyleRegular, {"row 2"}},
               {ak::TableViewSelectionHighlightStyleNone, {}}};
  const ak::RGBA selectionBlue{56, 115, 217, 255};
  for (const auto& c : cases) {
    TableFixture f(6, 15);
    std::vector<std::string> drawn;
    f.rows->drawLog = &drawn;
    f.table->setSelectionHighlightStyle(c.style);
    f.table->reloadData();
    ASSERT_NE(std::dynamic_pointer_cast<table_test::SelectionRowView>(
                  f.table->rowViewAtRow_makeIfNecessary(2, false)),
              nullptr);
    f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(2), false);
    drawn.clear();
    pltest::renderWindow(f.window, c.style < 0 ? "style-none" : "style-regular");
    EXPECT_EQ(drawn, c.expected) << c.style;
    // Row 2 spans y 34..51 from the top of the flipped table; row 0 is never selected.
    auto rowTwo = pltest::windowPixel(f.window, 150, 400 - 45);
    auto rowZero = pltest::windowPixel(f.window, 150, 400 - 8);
    EXPECT_NE(rowZero, selectionBlue);
    if (c.style < 0)
      EXPECT_EQ(rowTwo, rowZero);
    else
      EXPECT_EQ(rowTwo, selectionBlue);
  }
}

TEST(TableViews, BadCountsHeightsAndNilViewsAreSurvived) {
  struct Case {
    long count;
    double height;
    long expectRows;
    double expectRowHeight;
  } cases[] = {
      {-5, 20, 0, 0},    {std::numeric_limits<long>::max(), 20, 1L << 22, 22},  {10, std::nan(""), 10, 19},
      {10, -40, 10, 19}, {10, std::numeric_limits<double>::infinity(), 10, 19},
  };
  for (const auto& c : cases) {
    TableFixture f(c.count, c.height);
    EXPECT_EQ(f.table->numberOfRows(), c.expectRows) << c.count << " " << c.height;
    EXPECT_EQ(f.table->rectOfRow(0).size.height, c.expectRowHeight) << c.count << " " << c.height;
    // Only the rows on show are ever asked for.
    EXPECT_LE(f.rows->asked.size(), 400 / 17 + 1u);
  }

  // A delegate giving nil views leaves empty rows: row views without cells.
  TableFixture f(3, 15);
  f.rows->nilViews = true;
  f.table->reloadData();
  EXPECT_EQ(f.table->viewAtColumn_row_makeIfNecessary(0, 1, true), nullptr);
  ASSERT_NE(f.table->rowViewAtRow_makeIfNecessary(1, false), nullptr);
  EXPECT_TRUE(f.table->rowViewAtRow_makeIfNecessary(1, false)->subviews().empty());
  pltest::renderWindow(f.window, "nil-views");

  // A table whose delegate cannot make views shows none, whatever the count.
  auto plain = std::make_shared<CountOnly>();
  plain->count = 50;
  f.table->setDelegate(plain);
  f.table->setDataSource(plain);
  EXPECT_EQ(f.table->numberOfRows(), 50);
  EXPECT_EQ(f.table->rowViewAtRow_makeIfNecessary(0, true), nullptr);
}

TEST(TableViews, ReloadsKeepNoMoreRetiredViewsThanTheShownRowsNeed) {
  // A delegate making its own row views and cells (five rows on show) reloaded many times: the
  // table keeps none of its row views and at most a screenful of its cells.
  TableFixture f(10);
  f.rows->ownRowViews = true;
  f.rows->freshCells = true;
  f.table->reloadData();
  for (int i = 0; i < 200; ++i) f.table->reloadData();
  auto alive = [&] {
    std::size_t count = 0;
    for (const auto& weak : f.rows->everMade) count += !weak.expired();
    return count;
  };
  EXPECT_GE(f.rows->everMade.size(), 200u * 10);
  EXPECT_LE(alive(), 5u + 5u + 5u);  // shown row views and cells, and a pool of cells
  for (long r = 0; r < 5; ++r)
    EXPECT_NE(f.table->viewAtColumn_row_makeIfNecessary(0, r, false), nullptr) << r;

  // Row views the table makes itself, and cells it hands out, are reused across reloads.
  TableFixture own(10);
  std::set<ak::TableRowView*> first;
  for (long r = 0; r < 5; ++r) first.insert(own.table->rowViewAtRow_makeIfNecessary(r, false).get());
  ASSERT_EQ(first.size(), 5u);
  for (int i = 0; i < 200; ++i) own.table->reloadData();
  std::set<ak::TableRowView*> later;
  for (long r = 0; r < 5; ++r) later.insert(own.table->rowViewAtRow_makeIfNecessary(r, false).get());
  EXPECT_EQ(later, first);
  EXPECT_EQ(own.cellsBuilt, 5);
}

TEST(TableViews, ADelegateReloadingInsideTheSelectionCallbackIsSafe) {
  TableFixture f(30, 15);
  int depth = 0, maxDepth = 0;
  f.rows->onSelectionChange = [&] {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    f.rows->count = 10;
    f.table->reloadData();
    f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(1), false);
    --depth;
  };
  f.table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(5), false);
  EXPECT_EQ(f.table->selectedRow(), 1);
  EXPECT_EQ(f.table->numberOfRows(), 10);
  EXPECT_LE(maxDepth, 2);
  f.rows->onSelectionChange = nullptr;
  pltest::renderWindow(f.window, "after-reentry");
  for (long r = 0; r < 10; ++r) EXPECT_NE(f.table->rowViewAtRow_makeIfNecessary(r, false), nullptr) << r;
}

TEST(TableViews, AMouseHeldBelowTheVisibleRowsScrollsTowardsIt) {
  TableFixture f(100, 15);  // 1,700 high in a 400-point clip
  auto clip = f.scroll->contentView();
  // Down on row 1, dragged 20 points below the window's bottom edge, then 40, then up.
  pltest::drag(f.window, {{50, 400 - 25}, {50, -20}, {50, -40}});
  f.app.dispatchQueued();
  // Each event brings its point (and the point's height) into view: 21 points for the first,
  // then 41 more for a point 40 below the already moved edge.
  EXPECT_EQ(clip->bounds().origin.y, 62);
  EXPECT_NE(f.table->viewAtColumn_row_makeIfNecessary(0, 25, false), nullptr);
  // Without a document to move, nothing scrolls.
  auto lone = ak::make<ak::View>(MakeRect(0, 0, 10, 10));
  EXPECT_FALSE(
      ak::autoscroll(lone.get(), pltest::mouseEvent(f.window, ak::EventType::LeftMouseDragged, {5, -50})));
}
