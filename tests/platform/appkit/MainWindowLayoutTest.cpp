// What a window movable by its background and resized by the user needs of its tables and of
// the display pass: a click on a label in a row selects the row, the rows follow the table's
// width and the table fills its clip view, and redraws of areas with fractional edges leave
// the same pixels as a whole redraw.
#include <gtest/gtest.h>

#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using ak::MakeRect;

namespace main_window_layout_test {

// Rows whose cell is covered by a non-editable label, as in a list of videos.
class LabelRows : public ns::Object {
 public:
  std::vector<long> doubleRows;
  long numberOfRows(ns::Ref<ns::Object>) { return 20; }
  ns::Ref<ns::Object> viewFor(ns::Ref<ns::Object>, ns::Ref<ns::Object>, long row) {
    auto cell = ak::make<ak::TableCellView>(MakeRect(0, 0, 150, 30));
    auto label = ak::make<ak::TextField>(MakeRect(0, 0, 150, 30));
    label->setEditable(false);
    label->setBordered(false);
    label->setStringValue("row " + std::to_string(row));
    label->setAutoresizingMask(ak::ViewWidthSizable);
    cell->addSubview(label);
    return cell;
  }
  void play(ns::Ref<ns::Object> sender) {
    doubleRows.push_back(std::static_pointer_cast<ak::TableView>(sender)->clickedRow());
  }
};

}  // namespace main_window_layout_test

PL_CLASS_NAMED(main_window_layout_test::LabelRows, "MainWindowLayoutTestLabelRows", ns::Object) {
  using main_window_layout_test::LabelRows;
  cls.method<&LabelRows::numberOfRows>("numberOfRowsInTableView:");
  cls.method<&LabelRows::viewFor>("tableView:viewForTableColumn:row:");
  cls.method<&LabelRows::play>("play:");
}

namespace {

using main_window_layout_test::LabelRows;

// A 300 x 200 window, movable by its background, whose content is a scroll view around a
// one-column table of 30-point rows, both following the window's size.
struct ListWindow {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<ak::ScrollView> scroll;
  ns::Ref<ak::TableView> table;
  ns::Ref<LabelRows> rows = std::make_shared<LabelRows>();

  ListWindow() {
    window = app.window(MakeRect(100, 100, 300, 200), ak::BorderlessWindowMask | ak::ResizableWindowMask);
    window->setMovableByWindowBackground(true);
    auto content = ak::make<ak::View>(MakeRect(0, 0, 300, 200));
    window->setContentView(content);
    scroll = ak::make<ak::ScrollView>(MakeRect(0, 0, 300, 200));
    scroll->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
    content->addSubview(scroll);
    table = ak::make<ak::TableView>(MakeRect(0, 0, 300, 200));
    auto column = std::make_shared<ak::TableColumn>("main");
    column->setWidth(300);
    table->addTableColumn(column);
    table->setAutoresizingMask(ak::ViewWidthSizable);
    table->setRowHeight(30);
    table->setIntercellSpacing({0, 0});
    table->setDelegate(rows);
    table->setDataSource(rows);
    table->setTarget(rows);
    table->setDoubleAction(ns::Sel("play:"));
    scroll->setDocumentView(table);
    table->reloadData();
  }
  // A window point inside the label of row `row` (rows from the top).
  ak::Point inRow(long row) const { return {60, 200 - (static_cast<double>(row) * 30 + 15)}; }
};

}  // namespace

TEST(MainWindowLayout, ALabelInARowPassesClicksToItsTableInAWindowMovableByItsBackground) {
  ListWindow list;
  const ak::Point origin = list.window->frame().origin;
  for (long row : {2L, 0L, 3L}) {
    pltest::click(list.window, list.inRow(row));
    list.app.dispatchQueued();
    EXPECT_EQ(list.table->selectedRow(), row);
  }
  pltest::postMouse(list.window, ak::EventType::LeftMouseDown, list.inRow(1), 0, 2);
  pltest::postMouse(list.window, ak::EventType::LeftMouseUp, list.inRow(1), 0, 2);
  list.app.dispatchQueued();
  EXPECT_EQ(list.rows->doubleRows, std::vector<long>{1});
  // A drag over the rows selects, it does not carry the window along.
  pltest::drag(list.window, {list.inRow(4), {80, 40}, {120, 30}});
  list.app.dispatchQueued();
  EXPECT_EQ(list.window->frame().origin, origin);
}

TEST(MainWindowLayout, RowsFollowTheTablesWidthAndTheTableFillsItsClipViewAsTheWindowResizes) {
  ListWindow list;
  auto widthOfRow = [&](long row) {
    return list.table->rowViewAtRow_makeIfNecessary(row, true)->frame().size.width;
  };
  ASSERT_EQ(widthOfRow(0), 300);
  for (double width : {180.0, 420.0, 300.0}) {
    list.window->setContentSize({width, 200});
    const double clip = list.scroll->contentView()->bounds().size.width;
    EXPECT_EQ(list.table->tableColumns()[0]->width(), clip) << width;
    EXPECT_EQ(widthOfRow(0), clip) << width;
    EXPECT_EQ(widthOfRow(5), clip) << width;
  }
  // Twenty rows of 30 fill 600 points; taller than that, the table still covers the clip view.
  list.window->setContentSize({300, 800});
  EXPECT_GE(list.table->frame().size.height, list.scroll->contentView()->bounds().size.height);
  EXPECT_GE(list.table->frame().size.height, 800 - 1);
}

TEST(MainWindowLayout, RedrawsOfAreasWithFractionalEdgesLeaveTheSamePixelsAsAWholeRedraw) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100), ak::BorderlessWindowMask);
  auto content = ak::make<appkit_test::SwatchView>(MakeRect(0, 0, 200, 100));
  content->color = {0, 0, 0, 255};
  window->setContentView(content);
  window->display();
  std::vector<ak::RGBA> whole;
  for (int x = 0; x < 200; ++x) whole.push_back(pltest::windowPixel(window, x, 50));
  // Ten areas whose edges fall inside pixels, as a sliding view's are.
  for (int i = 0; i < 10; ++i) {
    content->setNeedsDisplayInRect(MakeRect(20.4 + i * 13.3, 10.25, 31.7, 80.5));
    window->displayIfNeeded();
  }
  for (int x = 0; x < 200; ++x) {
    const ak::RGBA seen = pltest::windowPixel(window, x, 50);
    EXPECT_TRUE(seen == whole[x]) << "column " << x << ": alpha " << int(seen.a) << " for "
                                  << int(whole[x].a);
  }
}
