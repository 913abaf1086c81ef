#include <gtest/gtest.h>

#include "platform/core/Exception.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/ui/sourcelist/SourceListTestSupport.h"
#include "ui/SourceListDelegateDataSourceProxy.h"
#include "ui/UINotifications.h"

using namespace sltest;
using Proxy = SourceListDelegateDataSourceProxy;
using Indexes = std::vector<std::size_t>;

namespace {

// A responder after the list in the chain: it sees the keys the list passes on.
class KeyRecorder : public ak::Responder {
 public:
  std::vector<std::string> keys;
  void keyDown(const ns::Ref<ak::Event>& event) override { keys.push_back(event->characters()); }
};

bool claims(const ns::Ref<SourceList>& list, const char* selector) {
  return ns::respondsToSelector(list->delegateDataSourceProxy(), ns::Sel(selector));
}

}  // namespace

// ---- the rename tables ----

TEST(SourceListProxy, RenameRuleMapsOutlineNamesAndSkipsTheRest) {
  const std::pair<const char*, const char*> cases[] = {
      {"outlineView:child:ofItem:", "sourceList:child:ofItem:"},
      {"selectionShouldChangeInOutlineView:", "selectionShouldChangeInSourceList:"},
      {"outlineViewItemDidExpand:", "sourceListItemDidExpand:"},
      {"OUTLINEVIEW:foo:", "SourceList:foo:"},
  };
  for (const auto& [from, to] : cases)
    EXPECT_EQ(Proxy::mappedMethodNameForMethodName(from).value_or("nil"), to) << from;
  EXPECT_FALSE(Proxy::mappedMethodNameForMethodName("controlTextDidChange:"));

  pltest::LogCapture log(true);
  auto mappings = Proxy::methodNameMappingsForProtocol(ns::objc_getProtocol("NSOutlineViewDelegate"));
  EXPECT_TRUE(
      log.contains("SourceList: couldn't map method controlTextDidChange: from NSOutlineViewDelegate"));
  EXPECT_EQ(mappings.count("controlTextDidChange:"), 0u);
  EXPECT_EQ(mappings.at("outlineView:heightOfRowByItem:").methodName, "sourceList:heightOfRowByItem:");
}

TEST(SourceListProxy, ForwardingMapHoldsCustomEntriesAndLeavesOutTheBlacklist) {
  auto tip = Proxy::forwardingInformationForSelector(
      ns::Sel("outlineView:toolTipForCell:rect:tableColumn:item:mouseLocation:"));
  ASSERT_TRUE(tip);
  EXPECT_EQ(tip->methodName, "sourceList:toolTipForCell:rect:item:mouseLocation:");
  EXPECT_EQ(tip->forwardedArgumentIndexes, (std::vector<long>{0, 1, 2, 4, 5}));
  auto value =
      Proxy::forwardingInformationForSelector(ns::Sel("outlineView:objectValueForTableColumn:byItem:"));
  ASSERT_TRUE(value);
  EXPECT_EQ(value->forwardedArgumentIndexes, (std::vector<long>{0, 2}));
  auto child = Proxy::forwardingInformationForSelector(ns::Sel("outlineView:child:ofItem:"));
  ASSERT_TRUE(child);
  EXPECT_EQ(child->methodName, "sourceList:child:ofItem:");
  EXPECT_FALSE(child->forwardedArgumentIndexes);
  EXPECT_FALSE(Proxy::forwardingInformationForSelector(ns::Sel("outlineView:isGroupItem:")));
  EXPECT_FALSE(Proxy::forwardingInformationForSelector(ns::Sel("controlTextDidChange:")));
}

// ---- claims ----

TEST(SourceListProxy, ClaimsFollowTheDelegatesMethods) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  auto tall = std::make_shared<TallDelegate>();
  f.list->setDataSource(source);
  f.list->setDelegate(tall);
  f.expandAll(*source);
  EXPECT_TRUE(claims(f.list, "outlineView:heightOfRowByItem:"));
  const long row = f.list->rowForItem(source->find("a2"));
  ASSERT_EQ(row, 2);
  EXPECT_EQ(f.list->rectOfRow(row).size.height, 30);
  EXPECT_EQ(f.list->rectOfRow(1).size.height, 17);
  ASSERT_FALSE(tall->asked.empty());
  EXPECT_EQ(tall->asked.back().first, f.list);

  // Always claimed: the required data-source methods and what the list answers itself.
  for (const char* sel :
       {"outlineView:numberOfChildrenOfItem:", "outlineView:objectValueForTableColumn:byItem:",
        "outlineView:isGroupItem:", "outlineView:shouldSelectItem:"})
    EXPECT_TRUE(claims(f.list, sel)) << sel;
  EXPECT_FALSE(claims(f.list, "outlineView:viewForTableColumn:item:"));
  EXPECT_TRUE(claims(f.list, "outlineViewSelectionDidChange:"));
  EXPECT_FALSE(claims(f.list, "outlineViewItemDidExpand:"));

  auto plain = std::make_shared<PlainDelegate>();
  f.list->setDelegate(plain);
  EXPECT_FALSE(claims(f.list, "outlineView:heightOfRowByItem:"));
  EXPECT_EQ(f.list->rectOfRow(row).size.height, 17);

  // The list answers isGroupItem: itself, never the application's method of that name.
  auto proxy = f.list->delegateDataSourceProxy();
  EXPECT_TRUE(ns::send<bool>(proxy, ns::Sel("outlineView:isGroupItem:"), f.list, Id(source->groups[1])));
  EXPECT_FALSE(ns::send<bool>(proxy, ns::Sel("outlineView:isGroupItem:"), f.list, Id(source->find("b1"))));
  f.list->display();
  EXPECT_EQ(plain->isGroupCalls, 0);
}

TEST(SourceListProxy, ForwardsRenamedMessagesWithTheNamedArguments) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  auto groups = std::make_shared<GroupDelegate>();
  f.list->setDataSource(source);
  f.list->setDelegate(groups);
  auto proxy = f.list->delegateDataSourceProxy();
  auto item = source->find("a1");
  auto column = f.list->tableColumns().front();

  auto value = ns::send<ns::Value>(proxy, ns::Sel("outlineView:objectValueForTableColumn:byItem:"), f.list,
                                   Id(column), Id(item));
  EXPECT_EQ(value.stringValue(), "a1");
  ASSERT_FALSE(source->asked.empty());
  EXPECT_EQ(source->asked.back().first, f.list);
  EXPECT_EQ(source->asked.back().second, item);

  ak::Rect rect = ak::MakeRect(1, 2, 33, 4);
  auto cell = column->dataCell();
  ns::send<Id>(proxy, ns::Sel("outlineView:toolTipForCell:rect:tableColumn:item:mouseLocation:"), f.list,
               Id(cell), &rect, Id(column), Id(item), ak::Point{5, 6});
  EXPECT_EQ(groups->toolTipArguments, (std::vector<std::string>{"SourceList", "cell", "33", "a1", "5,6"}));

  ns::Ref<ns::Object> target;
  ns::Sel renamed;
  EXPECT_TRUE(proxy->getForwardingObject_andForwardingSelector_forSelector(
      &target, &renamed, ns::Sel("outlineView:heightOfRowByItem:")));
  EXPECT_EQ(target, groups);
  EXPECT_EQ(renamed, ns::Sel("sourceList:heightOfRowByItem:"));
  EXPECT_FALSE(proxy->getForwardingObject_andForwardingSelector_forSelector(
      &target, &renamed, ns::Sel("outlineView:isGroupItem:")));
  for (const char* name :
       {"NSOutlineViewDelegate", "NSOutlineViewDataSource", "SourceListDelegate", "SourceListDataSource"})
    EXPECT_TRUE(ns::conformsToProtocol(proxy, ns::objc_getProtocol(name))) << name;

  // Only claimed messages are routed; anything else is the runtime's unrecognised selector.
  try {
    ns::send(proxy, ns::Sel("outlineView:noSuchThing:"), f.list);
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
    EXPECT_NE(e.reason().find("unrecognized selector"), std::string::npos) << e.reason();
  }
}

TEST(SourceListProxy, DataSourceWithoutValuesGetsNoCallAndTheOutlineGetsNil) {
  ListFixture f;
  auto basic = std::make_shared<BasicSource>();
  f.list->setDataSource(basic);
  f.expandAll(*basic);
  auto value = ns::send<ns::Value>(f.list->delegateDataSourceProxy(),
                                   ns::Sel("outlineView:objectValueForTableColumn:byItem:"), f.list,
                                   Id(f.list->tableColumns().front()), Id(basic->find("a1")));
  EXPECT_TRUE(value.isNil());
  EXPECT_EQ(f.list->numberOfRows(), 8);
}

// ---- display modes ----

TEST(SourceListModes, ViewBasedShowsTheDelegatesViewsAndNoBadges) {
  ListFixture f;
  auto source = std::make_shared<BadgeSource>();
  auto views = std::make_shared<ViewDelegate>();
  f.list->setDataSource(source);
  EXPECT_FALSE(f.list->isViewBasedSourceList());
  auto a1 = source->find("a1");
  f.expandAll(*source);
  EXPECT_TRUE(f.list->itemHasBadge(a1));
  EXPECT_EQ(f.list->badgeValueForItem(a1), 7);

  f.list->setDelegate(views);
  EXPECT_TRUE(f.list->isViewBasedSourceList());
  EXPECT_TRUE(f.list->isViewBased());
  EXPECT_FALSE(f.list->itemHasBadge(a1));
  EXPECT_EQ(f.list->badgeValueForItem(a1), INT64_MAX);
  auto shown =
      std::dynamic_pointer_cast<ak::TableCellView>(f.list->viewAtColumn_row_makeIfNecessary(0, 1, true));
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->objectValue().stringValue(), "a1");
  EXPECT_NE(std::find(views->made.begin(), views->made.end(), shown), views->made.end());
}

TEST(SourceListModes, IsAnOutlineViewToTheRuntime) {
  ListFixture f;
  ns::Class list = ns::object_getClass(f.list);
  EXPECT_EQ(ns::NSStringFromClass(list), "SourceList");
  EXPECT_EQ(ns::NSStringFromClass(ns::class_getSuperclass(list)), "NSOutlineView");
}

// ---- selection ----

TEST(SourceListSelection, ClickPostsToTheCurrentDelegateOnly) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  auto first = std::make_shared<PlainDelegate>();
  f.list->setDataSource(source);
  f.list->setDelegate(first);
  f.expandAll(*source);

  pltest::click(f.window, f.rowPoint(2));
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{2});
  ASSERT_EQ(first->selectionNotes.size(), 1u);
  EXPECT_EQ(first->selectionNotes[0]->name(), "SourceListSelectionDidChange");
  EXPECT_EQ(first->selectionNotes[0]->object(), f.list);

  // A heading refuses the click.
  pltest::click(f.window, f.rowPoint(4));
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{2});
  EXPECT_EQ(first->selectionNotes.size(), 1u);

  auto second = std::make_shared<PlainDelegate>();
  f.list->setDelegate(second);
  pltest::click(f.window, f.rowPoint(5));
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{5});
  EXPECT_EQ(first->selectionNotes.size(), 1u);
  EXPECT_EQ(second->selectionNotes.size(), 1u);
}

TEST(SourceListSelection, RequestsForHeadingsOnlyOrNothingChangeNothing) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  f.list->setDataSource(source);
  f.expandAll(*source);
  f.list->setAllowsMultipleSelection(true);
  f.select({1, 4, 6});
  EXPECT_EQ(f.selected(), (Indexes{1, 6}));
  f.select({0, 4});
  EXPECT_EQ(f.selected(), (Indexes{1, 6}));
  f.select({});
  EXPECT_EQ(f.selected(), (Indexes{1, 6}));
  f.list->setAllowsEmptySelection(false);
  f.select({});
  EXPECT_EQ(f.selected(), (Indexes{1, 6}));
}

TEST(SourceListSelection, ReloadRepairsTheSelection) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  f.list->setDataSource(source);
  f.expandAll(*source);

  // Nothing selected and an empty selection not allowed: the first item.
  f.list->setAllowsEmptySelection(false);
  f.list->reloadData();
  EXPECT_EQ(f.selected(), Indexes{1});

  // A heading left selected gives way to the nearest item above it.
  f.select({3});
  source->groups[0]->children.pop_back();  // row 3 becomes "G2"
  f.list->reloadData();
  EXPECT_EQ(f.selected(), Indexes{2});

  // With no item between it and row 1 the selection is cleared by deselectAll, which the
  // platform does only when an empty selection is allowed...
  f.list->setAllowsEmptySelection(true);
  f.select({1});
  source->groups[0]->children.clear();  // row 1 becomes "G2"
  f.list->reloadData();
  EXPECT_EQ(f.selected(), Indexes{});

  // ...and refuses otherwise, leaving the heading selected.
  source->groups[0]->children.push_back(std::make_shared<Node>("a1"));
  f.list->reloadData();
  f.select({1});
  f.list->setAllowsEmptySelection(false);
  source->groups[0]->children.clear();
  f.list->reloadData();
  EXPECT_EQ(f.selected(), Indexes{1});
  EXPECT_TRUE(f.list->isGroupItem(f.list->itemAtRow(1)));
}

// ---- keys ----

TEST(SourceListKeys, ArrowsSkipHeadingsAndStopAtTheEnds) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  f.list->setDataSource(source);
  f.expandAll(*source);
  const std::string down = ak::functionKeyString(ak::DownArrowFunctionKey);
  const std::string up = ak::functionKeyString(ak::UpArrowFunctionKey);

  f.select({3});
  pltest::key(f.window, ak::kVK_DownArrow, down);
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{5});
  pltest::key(f.window, ak::kVK_UpArrow, up);
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{3});

  f.select({7});
  pltest::key(f.window, ak::kVK_DownArrow, down);
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{7});
  f.select({1});
  pltest::key(f.window, ak::kVK_UpArrow, up);
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), Indexes{1});

  // Shift extends as the outline does.
  f.list->setAllowsMultipleSelection(true);
  pltest::key(f.window, ak::kVK_DownArrow, down, ak::ShiftKeyMask);
  f.app.dispatchQueued();
  EXPECT_EQ(f.selected(), (Indexes{1, 2}));
}

TEST(SourceListKeys, DeleteKeysPostTheSelectedRowsAndStopThere) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  auto delegate = std::make_shared<PlainDelegate>();
  f.list->setDataSource(source);
  f.list->setDelegate(delegate);
  f.expandAll(*source);
  auto recorder = std::make_shared<KeyRecorder>();
  f.list->setNextResponder(recorder);
  f.list->setAllowsMultipleSelection(true);
  f.select({2, 5});

  std::vector<Indexes> posted;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(kSourceListDeleteKeyPressedOnRowsNotification), f.list, nullptr,
      [&](const ns::Ref<ns::Notification>& note) {
        posted.push_back(indexesOf(*note->userInfo().objectForKey("rows").objectAs<ns::IndexSet>()));
      });
  pltest::key(f.window, ak::kVK_Delete, "\x7f");
  pltest::key(f.window, ak::kVK_Delete, "\b");
  pltest::key(f.window, ak::kVK_ForwardDelete, ak::functionKeyString(ak::DeleteFunctionKey));
  pltest::key(f.window, 7, "x");
  f.app.dispatchQueued();
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());

  EXPECT_EQ(posted, (std::vector<Indexes>(3, Indexes{2, 5})));
  EXPECT_EQ(delegate->deleteNotes.size(), 3u);
  EXPECT_EQ(recorder->keys, std::vector<std::string>{"x"});
  EXPECT_EQ(f.selected(), (Indexes{2, 5}));
}

// ---- groups and menus ----

TEST(SourceListGroups, AlwaysExpandedGroupHasNoTriangleAndStaysOpen) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  auto groups = std::make_shared<GroupDelegate>();
  f.list->setDelegate(groups);
  f.list->setDataSource(source);
  auto g1 = source->groups[0], g2 = source->groups[1];
  EXPECT_TRUE(f.list->isItemExpanded(g1));
  EXPECT_FALSE(f.list->isItemExpanded(g2));
  EXPECT_EQ(f.list->numberOfRows(), 5);
  EXPECT_TRUE(f.list->isGroupAlwaysExpanded(g1));
  EXPECT_FALSE(f.list->isGroupAlwaysExpanded(g2));
  EXPECT_EQ(f.list->frameOfOutlineCellAtRow(0), ak::ZeroRect);
  EXPECT_GT(f.list->frameOfOutlineCellAtRow(4).size.width, 0);

  f.list->collapseItem(g1);
  EXPECT_TRUE(f.list->isItemExpanded(g1));
  pltest::click(f.window, f.rowPoint(0, 4));
  f.app.dispatchQueued();
  EXPECT_TRUE(f.list->isItemExpanded(g1));

  // The outline's expansion notices reach the delegate under the list's names, item included.
  EXPECT_EQ(groups->expanded, std::vector<std::string>{"list G1"});
  f.list->expandItem(g2);
  EXPECT_EQ(groups->expanded, (std::vector<std::string>{"list G1", "list G2"}));

  f.list->setFloatsGroupRows(true);
  EXPECT_FALSE(f.list->floatsGroupRows());
}

TEST(SourceListMenus, RightClickAsksTheDelegateWithTheRowsItem) {
  ListFixture f;
  auto source = std::make_shared<TextSource>();
  auto groups = std::make_shared<GroupDelegate>();
  f.list->setDelegate(groups);
  f.list->setDataSource(source);  // rows: G1 a1 a2 a3 G2
  pltest::ModalScript script;
  script.dismiss().dismiss();
  pltest::rightClick(f.window, f.rowPoint(3));
  f.app.dispatchQueued();
  ak::Rect last = f.list->rectOfRow(4);
  pltest::rightClick(f.window,
                     f.list->convertPoint_toView({60, last.origin.y + last.size.height + 20}, nullptr));
  f.app.dispatchQueued();
  ASSERT_EQ(groups->menuItems.size(), 2u);
  EXPECT_EQ(nameOf(groups->menuItems[0]), "a3");
  EXPECT_EQ(groups->menuItems[1], nullptr);
  ASSERT_EQ(script.shown().size(), 2u);
  EXPECT_EQ(script.shown()[0].describe(), "Rename a3 (disabled)\n");
}

// ---- bad data sources and teardown ----

TEST(SourceListFaults, OddCountsAndNilChildrenNeitherLoopNorCrash) {
  ListFixture f;
  auto odd = std::make_shared<OddSource>();
  auto groups = std::make_shared<GroupDelegate>();
  f.list->setDelegate(groups);
  f.list->setDataSource(odd);
  EXPECT_EQ(f.list->numberOfGroups(), 0u);
  EXPECT_EQ(f.list->numberOfRows(), 0);
  odd->rootCount = 3;  // three nil groups
  f.list->setAllowsEmptySelection(false);
  f.list->reloadData();
  EXPECT_EQ(f.list->numberOfGroups(), 3u);
  EXPECT_EQ(f.list->numberOfRows(), 3);
  EXPECT_EQ(f.selected(), Indexes{0});
  f.list->display();
}

TEST(SourceListTeardown, ProxyRemovesTheDelegatesRegistrationsForItsList) {
  ListFixture f;
  auto delegate = std::make_shared<PlainDelegate>();
  auto proxy = ak::make<Proxy>(f.list);
  proxy->setDelegate(delegate);
  auto center = ns::NotificationCenter::defaultCenter();
  center->postNotificationName_object(kSourceListSelectionDidChangeNotification, f.list);
  EXPECT_EQ(delegate->selectionNotes.size(), 1u);
  proxy.reset();
  center->postNotificationName_object(kSourceListSelectionDidChangeNotification, f.list);
  EXPECT_EQ(delegate->selectionNotes.size(), 1u);
}

TEST(SourceListTeardown, ListAndDelegateMayGoInEitherOrder) {
  auto center = ns::NotificationCenter::defaultCenter();
  {
    ListFixture f;
    auto source = std::make_shared<BadgeSource>();
    auto delegate = std::make_shared<TallDelegate>();
    f.list->setDataSource(source);
    f.list->setDelegate(delegate);
    f.expandAll(*source);
    f.select({1});
    ASSERT_EQ(delegate->selectionNotes.size(), 1u);
    // The delegate goes first: nothing reaches it and nothing is forwarded any more.
    delegate.reset();
    source.reset();
    f.select({2});
    EXPECT_FALSE(f.list->itemHasBadge(f.list->itemAtRow(2)));
    EXPECT_FALSE(claims(f.list, "sourceList:heightOfRowByItem:"));
    f.list->display();
    f.list->reloadData();
    EXPECT_EQ(f.list->numberOfRows(), 0);
  }
  {
    auto delegate = std::make_shared<PlainDelegate>();
    ns::Weak<SourceList> gone;
    {
      ListFixture f;
      auto source = std::make_shared<TextSource>();
      f.list->setDataSource(source);
      f.list->setDelegate(delegate);
      gone = f.list;
    }
    EXPECT_TRUE(gone.expired());
    center->postNotificationName_object(kSourceListSelectionDidChangeNotification, nullptr);
    EXPECT_TRUE(delegate->selectionNotes.empty());
  }
}
