#include <gtest/gtest.h>

#include "platform/appkit/OutlineView.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TextField.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URL.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace outline_test {

class Node : public ns::Object {
 public:
  explicit Node(std::string n = {}) : name(std::move(n)) {}
  std::string name;
  std::vector<ns::Ref<Node>> children;
};

// Two groups of three, as a data source and delegate.
class Tree : public ns::Object {
 public:
  std::vector<ns::Ref<Node>> groups;
  std::vector<std::string> log;
  int heightQuestions = 0;
  bool refuseExpand = false;
  std::vector<std::string> drops;

  void build(const std::string& tag = "") {
    groups.clear();
    for (const char* g : {"A", "B"}) {
      auto group = std::make_shared<Node>(g + tag);
      for (int i = 1; i <= 3; ++i)
        group->children.push_back(std::make_shared<Node>(group->name + std::to_string(i)));
      groups.push_back(group);
    }
  }
  const std::vector<ns::Ref<Node>>& kids(const ns::Ref<ns::Object>& item) const {
    return item ? std::static_pointer_cast<Node>(item)->children : groups;
  }
  long count(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) { return long(kids(item).size()); }
  ns::Ref<ns::Object> child(ns::Ref<ns::Object>, long index, ns::Ref<ns::Object> item) {
    return kids(item).at(index);
  }
  bool expandable(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
    return !std::static_pointer_cast<Node>(item)->children.empty();
  }
  ns::Value value(ns::Ref<ns::Object>, ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
    return ns::Value(std::static_pointer_cast<Node>(item)->name);
  }
  void setValue(ns::Ref<ns::Object>, ns::Value value, ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
    log.push_back("set " + std::static_pointer_cast<Node>(item)->name + " " + value.string());
  }
  bool shouldExpand(ns::Ref<ns::Object>, ns::Ref<ns::Object>) { return !refuseExpand; }
  bool isGroup(ns::Ref<ns::Object>, ns::Ref<ns::Object> item) {
    return std::static_pointer_cast<Node>(item)->children.size() > 0;
  }
  double height(ns::Ref<ns::Object>, ns::Ref<ns::Object>) {
    ++heightQuestions;
    return 30;
  }
  void note(const std::string& what, ns::Ref<ns::Notification> n) {
    auto item = n->userInfo().objectForKey("NSObject");
    log.push_back(what + " " + (item.isObject() ? item.objectAs<Node>()->name : std::string("?")));
  }
  unsigned long validateDrop(ns::Ref<ns::Object>, ns::Ref<ns::Object>, ns::Ref<ns::Object> item, long index) {
    drops.push_back((item ? std::static_pointer_cast<Node>(item)->name : std::string("root")) + " " +
                    std::to_string(index));
    return ak::DragOperationCopy;
  }
  bool acceptDrop(ns::Ref<ns::Object>, ns::Ref<ns::Object> info, ns::Ref<ns::Object> item, long index) {
    auto text =
        std::static_pointer_cast<ak::DraggingInfo>(info)->draggingPasteboard()->stringForType("public.url");
    drops.push_back("accept " + text.value_or("nil") + " on " +
                    (item ? std::static_pointer_cast<Node>(item)->name : std::string("root")) + " " +
                    std::to_string(index));
    return true;
  }
  void willExpand(ns::Ref<ns::Notification> n) { note("will", n); }
  void didExpand(ns::Ref<ns::Notification> n) { note("did", n); }
  void willCollapse(ns::Ref<ns::Notification> n) { note("willCollapse", n); }
  void didCollapse(ns::Ref<ns::Notification> n) { note("didCollapse", n); }
};

// Claims heightOfRowByItem: only while `claim` is set, and forwards everything to the tree.
class Forwarder : public ns::Object {
 public:
  ns::Ref<Tree> target;
  bool claim = false;
  bool responds(ns::Sel sel) {
    if (sel == ns::Sel("outlineView:heightOfRowByItem:")) return claim;
    return ns::respondsToSelector(target, sel);
  }
  ns::Ref<ns::Object> forwardingTarget(ns::Sel) { return target; }
};

// A cell-based outline that records its drawing steps and can move its cells right.
class DrawingOutline : public ak::OutlineView {
 public:
  std::vector<std::string> steps;
  double extra = 0;
  int endings = 0;
  long lastMovement = -1;
  void drawBackgroundInClipRect(const ak::Rect& r) override {
    steps.push_back("background");
    ak::OutlineView::drawBackgroundInClipRect(r);
  }
  void highlightSelectionInClipRect(const ak::Rect& r) override {
    steps.push_back("highlight");
    ak::OutlineView::highlightSelectionInClipRect(r);
  }
  void drawRow_clipRect(long row, const ak::Rect& r) override {
    steps.push_back("row " + std::to_string(row));
    ak::OutlineView::drawRow_clipRect(row, r);
  }
  ak::Rect frameOfCellAtColumn_row(long column, long row) const override {
    auto f = ak::OutlineView::frameOfCellAtColumn_row(column, row);
    f.origin.x += extra;
    return f;
  }
  void textDidEndEditing(const ns::Ref<ns::Notification>& n) override {
    ++endings;
    lastMovement = n->userInfo().objectForKey(ak::TextMovementKey).number().integerValue();
    ak::OutlineView::textDidEndEditing(n);
  }
};

}  // namespace outline_test

using outline_test::Forwarder;
using outline_test::Node;
using outline_test::Tree;

PL_CLASS_NAMED(outline_test::Tree, "OTTree", ns::Object) {
  cls.method<&Tree::count>("outlineView:numberOfChildrenOfItem:");
  cls.method<&Tree::child>("outlineView:child:ofItem:");
  cls.method<&Tree::expandable>("outlineView:isItemExpandable:");
  cls.method<&Tree::value>("outlineView:objectValueForTableColumn:byItem:");
  cls.method<&Tree::setValue>("outlineView:setObjectValue:forTableColumn:byItem:");
  cls.method<&Tree::shouldExpand>("outlineView:shouldExpandItem:");
  cls.method<&Tree::isGroup>("outlineView:isGroupItem:");
  cls.method<&Tree::height>("outlineView:heightOfRowByItem:");
  cls.method<&Tree::validateDrop>("outlineView:validateDrop:proposedItem:proposedChildIndex:");
  cls.method<&Tree::acceptDrop>("outlineView:acceptDrop:item:childIndex:");
  cls.method<&Tree::willExpand>("outlineViewItemWillExpand:");
  cls.method<&Tree::didExpand>("outlineViewItemDidExpand:");
  cls.method<&Tree::willCollapse>("outlineViewItemWillCollapse:");
  cls.method<&Tree::didCollapse>("outlineViewItemDidCollapse:");
}

PL_CLASS_NAMED(outline_test::Forwarder, "OTForwarder", ns::Object) {
  cls.method<&Forwarder::responds>("respondsToSelector:");
  cls.method<&Forwarder::forwardingTarget>("forwardingTargetForSelector:");
}

namespace {

template <class O = ak::OutlineView>
struct OutlineFixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<O> outline;
  ns::Ref<Tree> tree = std::make_shared<Tree>();

  OutlineFixture() {
    tree->build();
    window = app.window(MakeRect(0, 0, 200, 200), ak::BorderlessWindowMask);
    auto scroll = ak::make<ak::ScrollView>(MakeRect(0, 0, 200, 200));
    window->setContentView(scroll);
    outline = ak::make<O>(MakeRect(0, 0, 200, 200));
    auto column = std::make_shared<ak::TableColumn>("Name");
    column->setWidth(190);
    outline->addTableColumn(column);
    outline->setDataSource(tree);
    scroll->setDocumentView(outline);
  }
};

}  // namespace

// Outline and table views are runtime classes of their own, so that subclasses may name them.
TEST(OutlineViews, AreRuntimeClassesUnderTableViews) {
  OutlineFixture<> f;
  ns::Class outline = ns::object_getClass(f.outline);
  ASSERT_NE(outline, nullptr);
  EXPECT_EQ(ns::NSStringFromClass(outline), "NSOutlineView");
  ns::Class table = ns::class_getSuperclass(outline);
  EXPECT_EQ(ns::NSStringFromClass(table), "NSTableView");
  EXPECT_EQ(ns::NSStringFromClass(ns::class_getSuperclass(table)), "NSView");
  auto plain = ak::make<ak::TableView>(MakeRect(0, 0, 100, 100));
  EXPECT_TRUE(ns::isKindOfClass(plain, table));
  EXPECT_FALSE(ns::isKindOfClass(plain, outline));
}

TEST(OutlineViews, ExpansionRowsLevelsAndNotifications) {
  OutlineFixture<> f;
  f.outline->setDelegate(f.tree);
  auto a = f.tree->groups[0], b = f.tree->groups[1];
  EXPECT_EQ(f.outline->numberOfRows(), 2);
  EXPECT_EQ(f.outline->rowForItem(a->children[0]), -1);
  EXPECT_EQ(f.outline->levelForItem(a->children[0]), -1);
  EXPECT_EQ(f.outline->itemAtRow(5), nullptr);
  EXPECT_EQ(f.outline->itemAtRow(-1), nullptr);

  f.outline->expandItem(a);
  EXPECT_EQ(joined(f.tree->log), "will A, did A");
  f.outline->expandItem(a);
  EXPECT_EQ(f.tree->log.size(), 2u);
  EXPECT_EQ(f.outline->numberOfRows(), 5);
  EXPECT_EQ(f.outline->rowForItem(a->children[2]), 3);
  EXPECT_EQ(f.outline->rowForItem(b), 4);
  EXPECT_EQ(f.outline->levelForRow(2), 1);
  EXPECT_EQ(f.outline->levelForItem(a), 0);
  EXPECT_EQ(f.outline->parentForItem(a->children[1]), a);
  EXPECT_EQ(f.outline->parentForItem(a), nullptr);

  // Selection follows its item through expansion; collapsing hides it and tells.
  f.outline->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(4), false);
  f.outline->collapseItem(a);
  EXPECT_EQ(f.outline->selectedRow(), 1);
  EXPECT_EQ(joined(f.tree->log), "will A, did A, willCollapse A, didCollapse A");
  f.outline->collapseItem(a);
  EXPECT_EQ(f.tree->log.size(), 4u);

  // A refused expansion does nothing, and says nothing.
  f.tree->refuseExpand = true;
  f.outline->expandItem(b);
  EXPECT_FALSE(f.outline->isItemExpanded(b));
  EXPECT_EQ(f.tree->log.size(), 4u);
  f.tree->refuseExpand = false;

  // A reload with the same group objects keeps their expansion; new objects forget it.
  f.outline->expandItem(b);
  f.outline->reloadData();
  EXPECT_TRUE(f.outline->isItemExpanded(b));
  EXPECT_EQ(f.outline->numberOfRows(), 5);
  f.tree->build("'");
  f.outline->reloadData();
  EXPECT_EQ(f.outline->numberOfRows(), 2);
  EXPECT_FALSE(f.outline->isItemExpanded(b));

  // Expanding everything, then right and left arrows on the selected row.
  f.tree->log.clear();
  f.outline->expandItem_expandChildren(nullptr, true);
  EXPECT_EQ(f.outline->numberOfRows(), 8);
  f.window->makeFirstResponder(f.outline);
  f.outline->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(0), false);
  pltest::key(f.window, ak::kVK_LeftArrow, "\xEF\x9C\x82");
  f.app.dispatchQueued();
  EXPECT_EQ(f.outline->numberOfRows(), 5);
  pltest::key(f.window, ak::kVK_RightArrow, "\xEF\x9C\x83");
  f.app.dispatchQueued();
  EXPECT_EQ(f.outline->numberOfRows(), 8);

  // A click on the disclosure triangle toggles; group rows come from the delegate.
  auto triangle = f.outline->frameOfOutlineCellAtRow(0);
  ASSERT_GT(triangle.size.width, 0);
  EXPECT_EQ(f.outline->frameOfOutlineCellAtRow(1), ak::ZeroRect);  // a leaf has none
  pltest::click(f.window, {triangle.origin.x + 4, 200 - (triangle.origin.y + 4)});
  f.app.dispatchQueued();
  EXPECT_FALSE(f.outline->isItemExpanded(f.tree->groups[0]));
}

TEST(OutlineViews, ADelegateBehindAProxyIsAskedWhatItClaimsAtSetDelegate) {
  OutlineFixture<> f;
  auto proxy = std::make_shared<Forwarder>();
  proxy->target = f.tree;
  f.outline->setDelegate(proxy);
  f.outline->reloadData();
  EXPECT_EQ(f.tree->heightQuestions, 0);
  EXPECT_EQ(f.outline->rectOfRow(0).size.height, 19);

  // Claiming later changes nothing until the delegate is set again.
  proxy->claim = true;
  f.outline->reloadData();
  EXPECT_EQ(f.tree->heightQuestions, 0);
  f.outline->setDelegate(proxy);
  EXPECT_GT(f.tree->heightQuestions, 0);
  EXPECT_EQ(f.outline->rectOfRow(0).size.height, 32);

  // Notifications reach the proxied delegate too.
  f.outline->expandItem(f.tree->groups[1]);
  EXPECT_EQ(joined(f.tree->log), "will B, did B");

  // And a later delegate replaces its registrations.
  f.outline->setDelegate(nullptr);
  f.outline->collapseItem(f.tree->groups[1]);
  EXPECT_EQ(f.tree->log.size(), 2u);

  // The protocol description gives the method's encoding.
  auto protocol = ns::objc_getProtocol("NSOutlineViewDelegate");
  ASSERT_NE(protocol, nullptr);
  auto method =
      ns::protocol_getMethodDescription(protocol, ns::Sel("outlineView:heightOfRowByItem:"), false, true);
  ASSERT_TRUE(method.name);
  EXPECT_EQ(method.types.substr(0, 1), "d");
  EXPECT_NE(method.types.find("@"), std::string::npos);
  EXPECT_FALSE(
      ns::protocol_getMethodDescription(protocol, ns::Sel("outlineView:heightOfRowByItem:"), true, true)
          .name);
  EXPECT_TRUE(
      ns::protocol_getMethodDescription(protocol, ns::Sel("controlTextDidEndEditing:"), false, true).name);
  for (const char* name : {"NSTableViewDataSource", "NSTableViewDelegate", "NSOutlineViewDataSource"})
    EXPECT_NE(ns::objc_getProtocol(name), nullptr) << name;
}

namespace {
// The leftmost column with a dark pixel in the band of window rows [y0, y1).
int leftmostInk(const ns::Ref<ak::Window>& window, int y0, int y1) {
  for (int x = 0; x < 200; ++x)
    for (int y = y0; y < y1; ++y) {
      auto p = pltest::windowPixel(window, x, y);
      if (p.r < 100 && p.g < 100 && p.b < 100) return x;
    }
  return -1;
}
}  // namespace

TEST(OutlineViews, CellBasedDrawingOrderFramesAndEditing) {
  OutlineFixture<outline_test::DrawingOutline> f;
  f.outline->expandItem(f.tree->groups[0]);
  pltest::renderWindow(f.window, "plain");
  std::vector<std::string> expected = {"background", "highlight", "row 0", "row 1",
                                       "row 2",      "row 3",     "row 4"};
  EXPECT_EQ(f.outline->steps, expected);
  // Row 1 (A1) is at y 17-34 from the top: window rows 166-183.
  int before = leftmostInk(f.window, 166, 183);
  ASSERT_GE(before, 0);
  f.outline->extra = 8;
  f.outline->setNeedsDisplay(true);
  pltest::renderWindow(f.window, "moved");
  EXPECT_EQ(leftmostInk(f.window, 166, 183), before + 8);

  // Editing a cell ends once with Return's movement and stores the text.
  f.outline->editColumn_row_withEvent_select(0, 1, nullptr, true);
  EXPECT_EQ(f.outline->editedRow(), 1);
  pltest::typeText(f.window, "Zed");
  pltest::key(f.window, 36, "\r");
  f.app.dispatchQueued();
  EXPECT_EQ(f.outline->endings, 1);
  EXPECT_EQ(f.outline->lastMovement, ak::ReturnTextMovement);
  EXPECT_EQ(f.outline->editedRow(), -1);
  EXPECT_EQ(joined(f.tree->log), "set A1 Zed");
}

TEST(OutlineViews, DropsLandOnItemsOrBetweenChildren) {
  struct Case {
    double windowY;  // from the bottom of the 200-high window; rows are 17 high from the top
    std::string validated, accepted;
  } cases[] = {
      {200 - 8, "A -1", "accept https://a.test/v on A -1"},       // the middle of group A
      {200 - 18, "root 1", "accept https://a.test/v on root 1"},  // the top edge of group B
      {200 - 60, "root 2", "accept https://a.test/v on root 2"},  // below every row
  };
  for (const auto& c : cases) {
    OutlineFixture<> f;
    f.outline->registerForDraggedTypes({"public.url"});
    auto source = swatch(MakeRect(0, 0, 1, 1));
    f.outline->addSubview(source);
    auto pb = ak::Pasteboard::pasteboardWithName(ak::PasteboardNameDrag);
    pb->clearContents();
    pb->writeObjects({ns::Value(ns::URL::URLWithString("https://a.test/v"))});
    pltest::postMouse(f.window, ak::EventType::LeftMouseDragged, {50, c.windowY});
    pltest::postMouse(f.window, ak::EventType::LeftMouseUp, {50, c.windowY});
    auto start = pltest::mouseEvent(f.window, ak::EventType::LeftMouseDragged, {50, 100});
    auto op = ak::runDragSession(source, pb, ak::DragOperationCopy, start);
    EXPECT_EQ(op, ak::DragOperationCopy);
    ASSERT_EQ(f.tree->drops.size(), 4u) << c.validated;  // entered, updated twice, accepted
    EXPECT_EQ(f.tree->drops[2], c.validated);
    EXPECT_EQ(f.tree->drops[3], c.accepted);
  }
}
