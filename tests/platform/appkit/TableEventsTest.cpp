#include <gtest/gtest.h>

#include "platform/appkit/Button.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/net/URL.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace table_events_test {

constexpr char kRowsType[] = "com.ordel42.zeravozezi.rows";

// Rows of 17 points that can be dragged and dropped, recording what the table asks.
class DragRows : public ns::Object {
 public:
  long count = 10;
  int writes = 0;
  std::vector<std::string> validations;  // "row op mask"
  std::vector<std::string> accepted;     // the data read on acceptance
  std::vector<long> actionRows, doubleRows;
  ns::Ref<ak::View> (*cellMaker)() = nullptr;

  long numberOfRows(ns::Ref<ns::Object>) { return count; }
  ns::Ref<ns::Object> viewFor(ns::Ref<ns::Object>, ns::Ref<ns::Object>, long) {
    return cellMaker ? cellMaker() : ak::make<ak::TableCellView>(MakeRect(0, 0, 10, 10));
  }
  bool writeRows(ns::Ref<ns::Object>, ns::Ref<ns::Object> rows, ns::Ref<ns::Object> board) {
    ++writes;
    auto set = std::static_pointer_cast<ns::IndexSet>(rows);
    std::string text;
    for (std::size_t i = set->firstIndex(); i != ns::NotFound; i = set->indexGreaterThanIndex(i))
      text += (text.empty() ? "" : ",") + std::to_string(i);
    auto pb = std::static_pointer_cast<ak::Pasteboard>(board);
    pb->declareTypes_owner({kRowsType}, nullptr);
    return pb->setData_forType(ns::Data(text), kRowsType);
  }
  unsigned long validateDrop(ns::Ref<ns::Object>, ns::Ref<ns::Object> info, long row, unsigned long op) {
    auto i = std::static_pointer_cast<ak::DraggingInfo>(info);
    validations.push_back(std::to_string(row) + " " + std::to_string(op) + " " +
                          std::to_string(i->draggingSourceOperationMask()));
    return i->draggingSourceOperationMask() & ak::DragOperationMove ? ak::DragOperationMove
                                                                    : ak::DragOperationCopy;
  }
  bool acceptDrop(ns::Ref<ns::Object>, ns::Ref<ns::Object> info, long row, unsigned long op) {
    auto data =
        std::static_pointer_cast<ak::DraggingInfo>(info)->draggingPasteboard()->dataForType(kRowsType);
    accepted.push_back(
        std::string(data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length())
                         : "nil") +
        " at " + std::to_string(row) + " " + std::to_string(op));
    return true;
  }
  void open(ns::Ref<ns::Object> sender) {
    actionRows.push_back(std::static_pointer_cast<ak::TableView>(sender)->clickedRow());
  }
  void play(ns::Ref<ns::Object> sender) {
    doubleRows.push_back(std::static_pointer_cast<ak::TableView>(sender)->clickedRow());
  }
};

// A table that records its context-menu questions and keeps right clicks for itself.
class MenuTable : public ak::TableView {
 public:
  std::vector<long> menuRows;
  bool keepRightClicks = false;
  ns::Ref<ak::Menu> menuForEvent(const ns::Ref<ak::Event>& event) override {
    menuRows.push_back(clickedRow());
    return nullptr;
  }
  bool validateProposedFirstResponder_forEvent(const ns::Ref<ak::Responder>& responder,
                                               const ns::Ref<ak::Event>& event) override {
    if (keepRightClicks && event->type() == ak::EventType::RightMouseDown) return false;
    return ak::TableView::validateProposedFirstResponder_forEvent(responder, event);
  }
};

class RecordingButton : public ak::Button {
 public:
  static inline std::vector<std::string>* log = nullptr;
  void mouseDown(const ns::Ref<ak::Event>&) override {
    if (log) log->push_back("button down");
  }
  void rightMouseDown(const ns::Ref<ak::Event>&) override {
    if (log) log->push_back("button right");
  }
};

}  // namespace table_events_test

using table_events_test::DragRows;
using table_events_test::kRowsType;
using table_events_test::MenuTable;

PL_CLASS_NAMED(table_events_test::DragRows, "TTDragRows", ns::Object) {
  cls.method<&DragRows::numberOfRows>("numberOfRowsInTableView:");
  cls.method<&DragRows::viewFor>("tableView:viewForTableColumn:row:");
  cls.method<&DragRows::writeRows>("tableView:writeRowsWithIndexes:toPasteboard:");
  cls.method<&DragRows::validateDrop>("tableView:validateDrop:proposedRow:proposedDropOperation:");
  cls.method<&DragRows::acceptDrop>("tableView:acceptDrop:row:dropOperation:");
  cls.method<&DragRows::open>("open:");
  cls.method<&DragRows::play>("play:");
}

namespace {

// Two view-based tables side by side in a 300 x 340 window: `left` over x 0-150, `right` over
// 150-300, rows of 15 points plus 2 of spacing.
struct TwoTables {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<MenuTable> left, right;
  ns::Ref<DragRows> leftRows = std::make_shared<DragRows>(), rightRows = std::make_shared<DragRows>();

  TwoTables() {
    window = app.window(MakeRect(0, 0, 300, 340), ak::BorderlessWindowMask);
    auto content = ak::make<ak::View>(MakeRect(0, 0, 300, 340));
    window->setContentView(content);
    left = add(content, 0, leftRows);
    right = add(content, 150, rightRows);
  }
  ns::Ref<MenuTable> add(const ns::Ref<ak::View>& content, double x, const ns::Ref<DragRows>& rows) {
    auto scroll = ak::make<ak::ScrollView>(MakeRect(x, 0, 150, 340));
    content->addSubview(scroll);
    auto table = ak::make<MenuTable>(MakeRect(0, 0, 150, 340));
    table->addTableColumn(std::make_shared<ak::TableColumn>("Name"));
    table->setRowHeight(15);
    table->setDelegate(rows);
    table->setDataSource(rows);
    table->setTarget(rows);
    scroll->setDocumentView(table);
    return table;
  }
  // A window point `offset` points into row `row` of the table whose left edge is at `x`.
  ak::Point at(double x, long row, double offset = 8) const { return {x + 40, 340 - (row * 17 + offset)}; }
};

}  // namespace

TEST(TableEvents, ClicksActionsDoubleActionsAndContextMenus) {
  TwoTables t;
  t.left->setAction("open:");
  t.left->setDoubleAction("play:");
  pltest::click(t.window, t.at(0, 2));
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->selectedRow(), 2);
  EXPECT_EQ(t.leftRows->actionRows, std::vector<long>{2});

  pltest::postMouse(t.window, ak::EventType::LeftMouseDown, t.at(0, 3), 0, 2);
  pltest::postMouse(t.window, ak::EventType::LeftMouseUp, t.at(0, 3), 0, 2);
  t.app.dispatchQueued();
  EXPECT_EQ(t.leftRows->doubleRows, std::vector<long>{3});
  EXPECT_EQ(t.left->clickedRow(), 3);

  // Without a double action, the second click of a double click sends the action again.
  t.right->setAction("open:");
  pltest::click(t.window, t.at(150, 1));
  pltest::postMouse(t.window, ak::EventType::LeftMouseDown, t.at(150, 1), 0, 2);
  pltest::postMouse(t.window, ak::EventType::LeftMouseUp, t.at(150, 1), 0, 2);
  t.app.dispatchQueued();
  EXPECT_EQ(t.rightRows->actionRows, (std::vector<long>{1, 1}));
  EXPECT_TRUE(t.rightRows->doubleRows.empty());

  // A right click marks its row for the menu and leaves the selection alone.
  pltest::rightClick(t.window, t.at(0, 5));
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->menuRows, std::vector<long>{5});
  EXPECT_EQ(t.left->clickedRow(), 5);
  EXPECT_EQ(t.left->selectedRow(), 3);

  // Shift and Command clicks with multiple selection: a range from the anchor, then a toggle.
  t.left->setAllowsMultipleSelection(true);
  pltest::click(t.window, t.at(0, 6), ak::ShiftKeyMask);
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->numberOfSelectedRows(), 4);  // 3-6
  pltest::click(t.window, t.at(0, 4), ak::CommandKeyMask);
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->numberOfSelectedRows(), 3);
  EXPECT_FALSE(t.left->isRowSelected(4));

  // Arrows move the selection; Shift extends it.
  t.window->makeFirstResponder(t.left);
  t.left->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(2), false);
  pltest::key(t.window, ak::kVK_DownArrow, "\xEF\x9C\x81", ak::ShiftKeyMask);
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->numberOfSelectedRows(), 2);
  EXPECT_TRUE(t.left->isRowSelected(2) && t.left->isRowSelected(3));
  pltest::key(t.window, ak::kVK_DownArrow, "\xEF\x9C\x81");
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->numberOfSelectedRows(), 1);
  EXPECT_EQ(t.left->selectedRow(), 4);
  pltest::key(t.window, ak::kVK_UpArrow, "\xEF\x9C\x80");
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->selectedRow(), 3);

  // A click below the last row empties the selection.
  t.leftRows->count = 3;
  t.left->reloadData();
  pltest::click(t.window, t.at(0, 8));
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->selectedRow(), -1);
  EXPECT_EQ(t.left->clickedRow(), -1);
}

TEST(TableEvents, ControlsInRowsGetTheirClicksUnlessTheTableKeepsThem) {
  TwoTables t;
  std::vector<std::string> log;
  table_events_test::RecordingButton::log = &log;
  t.leftRows->cellMaker = [] {
    return ns::Ref<ak::View>(ak::make<table_events_test::RecordingButton>(MakeRect(0, 0, 10, 10)));
  };
  t.left->reloadData();
  ASSERT_NE(std::dynamic_pointer_cast<ak::Button>(t.left->viewAtColumn_row_makeIfNecessary(0, 1, false)),
            nullptr);
  pltest::click(t.window, t.at(0, 1));
  pltest::rightClick(t.window, t.at(0, 1));
  t.app.dispatchQueued();
  EXPECT_EQ(joined(log), "button down, button right");
  EXPECT_TRUE(t.left->menuRows.empty());

  log.clear();
  t.left->keepRightClicks = true;
  pltest::click(t.window, t.at(0, 1));
  pltest::rightClick(t.window, t.at(0, 1));
  t.app.dispatchQueued();
  EXPECT_EQ(joined(log), "button down");
  EXPECT_EQ(t.left->menuRows, std::vector<long>{1});

  // A plain view in a row is no control: its clicks select the row.
  t.leftRows->cellMaker = nullptr;
  t.left->reloadData();
  pltest::click(t.window, t.at(0, 2));
  t.app.dispatchQueued();
  EXPECT_EQ(t.left->selectedRow(), 2);
  table_events_test::RecordingButton::log = nullptr;
}

TEST(TableEvents, DraggingRowsOntoARegisteredTable) {
  struct Case {
    unsigned long flags;
    unsigned long expectMask;
    std::string expectAccepted;
  } cases[] = {{0, ak::DragOperationCopy | ak::DragOperationMove, "1,2 at 4 1"},
               {ak::AlternateKeyMask, ak::DragOperationCopy, "1,2 at 4 1"}};
  for (const auto& c : cases) {
    TwoTables t;
    t.right->registerForDraggedTypes({kRowsType});
    t.left->setAllowsMultipleSelection(true);
    t.left->setDraggingSourceOperationMask_forLocal(ak::DragOperationCopy | ak::DragOperationMove, true);
    auto rows = ns::MutableIndexSet::indexSet();
    rows->addIndexesInRange({1, 2});
    t.left->selectRowIndexes_byExtendingSelection(*rows, false);
    // From row 1 of the left table to the top edge of row 4 of the right one.
    auto down = t.at(0, 1);
    pltest::postMouse(t.window, ak::EventType::LeftMouseDown, down, c.flags);
    pltest::postMouse(t.window, ak::EventType::LeftMouseDragged, {down.x + 2, down.y - 2}, c.flags);
    pltest::postMouse(t.window, ak::EventType::LeftMouseDragged, {down.x + 10, down.y - 10}, c.flags);
    pltest::postMouse(t.window, ak::EventType::LeftMouseDragged, t.at(150, 4, 2), c.flags);
    pltest::postMouse(t.window, ak::EventType::LeftMouseUp, t.at(150, 4, 2), c.flags);
    t.app.dispatchQueued();
    EXPECT_EQ(t.leftRows->writes, 1);
    ASSERT_FALSE(t.rightRows->validations.empty());
    EXPECT_EQ(t.rightRows->validations.back(), "4 1 " + std::to_string(c.expectMask));
    EXPECT_EQ(t.rightRows->accepted, std::vector<std::string>{c.expectAccepted});
    EXPECT_TRUE(t.leftRows->validations.empty());  // the source is registered for nothing
    // The selection the drag started from is still whole.
    EXPECT_EQ(t.left->numberOfSelectedRows(), 2);
  }
}

TEST(TableEvents, DropsOnUnregisteredViewsAndShortMovesDoNothing) {
  TwoTables t;
  // The right table registered for another type: it hears nothing of this drag.
  t.right->registerForDraggedTypes({"public.url"});
  auto down = t.at(0, 1);
  pltest::drag(t.window, {down, {down.x + 1, down.y - 1}, t.at(150, 4)});
  t.app.dispatchQueued();
  EXPECT_EQ(t.leftRows->writes, 1);
  EXPECT_TRUE(t.rightRows->validations.empty());
  EXPECT_TRUE(t.rightRows->accepted.empty());

  // A move of 3 points or less is a click, not a drag.
  pltest::drag(t.window, {t.at(0, 2), {t.at(0, 2).x + 2, t.at(0, 2).y - 2}});
  t.app.dispatchQueued();
  EXPECT_EQ(t.leftRows->writes, 1);
  EXPECT_EQ(t.left->selectedRow(), 2);
}

TEST(Pasteboards, TypesItemsAndChangeCounts) {
  auto pb = ak::Pasteboard::pasteboardWithUniqueName();
  long start = pb->changeCount();
  EXPECT_EQ(pb->declareTypes_owner({ak::StringPboardType}, nullptr), start + 1);
  EXPECT_TRUE(pb->setString_forType("hello", ak::StringPboardType));
  // The legacy name and the UTF-8 type are one entry.
  EXPECT_EQ(pb->stringForType(ak::PasteboardTypeString), "hello");
  EXPECT_EQ(pb->availableTypeFromArray({"public.url", ak::PasteboardTypeString}), ak::PasteboardTypeString);
  EXPECT_EQ(pb->availableTypeFromArray({"public.url"}), std::nullopt);

  // Data that is not UTF-8 is no string; a property list is no data.
  pb->setData_forType(ns::Data(std::string("\xff\xfe", 2)), "com.example.bytes");
  EXPECT_EQ(pb->stringForType("com.example.bytes"), std::nullopt);
  EXPECT_EQ(pb->dataForType("com.example.bytes")->length(), 2u);
  EXPECT_TRUE(
      pb->setPropertyList_forType(ns::Value(ns::Array{ns::Value(1), ns::Value("a")}), "com.example.plist"));
  EXPECT_TRUE(pb->propertyListForType("com.example.plist").isArray());
  EXPECT_EQ(pb->dataForType("com.example.plist"), std::nullopt);

  EXPECT_EQ(pb->clearContents(), start + 2);
  EXPECT_TRUE(pb->types().empty());

  // URLs and strings written as objects.
  struct Case {
    ns::Value object;
    std::vector<std::string> types;
  } cases[] = {
      {ns::Value(ns::URL::URLWithString("https://www.example.test/watch?v=abc")),
       {"public.url", "public.utf8-plain-text"}},
      {ns::Value(ns::URL::fileURLWithPath_isDirectory("/tmp/a b.mp4", false)),
       {"public.file-url", "public.utf8-plain-text"}},
      {ns::Value("plain words"), {"public.utf8-plain-text"}},
  };
  for (const auto& c : cases) {
    pb->clearContents();
    EXPECT_TRUE(pb->writeObjects({c.object}));
    ASSERT_EQ(pb->pasteboardItems().size(), 1u);
    EXPECT_EQ(pb->pasteboardItems()[0]->types(), c.types);
  }
  EXPECT_EQ(pb->stringForType("public.utf8-plain-text"), "plain words");
  pb->clearContents();
  EXPECT_TRUE(pb->writeObjects({ns::Value(ns::URL::URLWithString("https://a.test/x")), ns::Value("y")}));
  EXPECT_EQ(pb->pasteboardItems().size(), 2u);
  EXPECT_EQ(pb->stringForType("public.url"), "https://a.test/x");
  // Something neither a URL nor a string adds nothing.
  long before = long(pb->pasteboardItems().size());
  EXPECT_FALSE(pb->writeObjects({ns::Value("z"), ns::Value(42)}));
  EXPECT_EQ(long(pb->pasteboardItems().size()), before);
  EXPECT_EQ(ak::Pasteboard::generalPasteboard(),
            ak::Pasteboard::pasteboardWithName(ak::PasteboardNameGeneral));
}
