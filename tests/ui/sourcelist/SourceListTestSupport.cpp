#include "tests/ui/sourcelist/SourceListTestSupport.h"

#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/ClassBuilder.h"

namespace sltest {

std::string nameOf(const Id& item) {
  auto node = std::dynamic_pointer_cast<Node>(item);
  return node ? node->name : std::string("nil");
}

BasicSource::BasicSource() {
  for (const char* g : {"G1", "G2"}) {
    auto group = std::make_shared<Node>(g);
    const char* prefix = groups.empty() ? "a" : "b";
    for (int i = 1; i <= 3; ++i)
      group->children.push_back(std::make_shared<Node>(prefix + std::to_string(i)));
    groups.push_back(group);
  }
}

ns::Ref<Node> BasicSource::find(const std::string& name) const {
  for (const auto& g : groups) {
    if (g->name == name) return g;
    for (const auto& c : g->children)
      if (c->name == name) return c;
  }
  return nullptr;
}

unsigned long BasicSource::count(Id, Id item) {
  return item ? std::static_pointer_cast<Node>(item)->children.size() : groups.size();
}

Id BasicSource::child(Id, unsigned long index, Id item) {
  const auto& list = item ? std::static_pointer_cast<Node>(item)->children : groups;
  return index < list.size() ? list[index] : nullptr;
}

ns::BOOL BasicSource::expandable(Id, Id item) {
  return item && !std::static_pointer_cast<Node>(item)->name.empty() &&
                 std::static_pointer_cast<Node>(item)->name[0] == 'G'
             ? ns::YES
             : ns::NO;
}

ns::Value TextSource::value(Id list, Id item) {
  asked.emplace_back(list, item);
  return ns::Value(nameOf(item));
}

bool BadgeSource::hasBadge(Id, Id item) {
  return nameOf(item) == "a1";
}
long BadgeSource::badgeValue(Id, Id) {
  return 7;
}
bool BadgeSource::hasIcon(Id, Id item) {
  return nameOf(item) == "a1";
}
Id BadgeSource::iconFor(Id, Id) {
  return icon;
}

double TallDelegate::height(Id list, Id item) {
  asked.emplace_back(list, item);
  return nameOf(item) == "a2" ? 30 : 17;
}

bool GroupDelegate::alwaysExpanded(Id, Id item) {
  return nameOf(item) == "G1";
}

void GroupDelegate::didExpand(ns::Ref<ns::Notification> note) {
  expanded.push_back(std::string(std::dynamic_pointer_cast<SourceList>(note->object()) ? "list " : "other ") +
                     nameOf(note->userInfo().objectForKey("NSObject").object()));
}

Id GroupDelegate::menuFor(Id, Id, Id item) {
  menuItems.push_back(item);
  auto menu = ak::Menu::initWithTitle("Row");
  menu->addItemWithTitle_action_keyEquivalent("Rename " + nameOf(item), ns::Sel(), "");
  return menu;
}

Id GroupDelegate::toolTip(Id list, Id cell, ak::Rect* rect, Id item, ak::Point mouse) {
  toolTipArguments = {list ? list->className() : "nil", cell ? "cell" : "nil",
                      rect ? std::to_string(int(rect->size.width)) : "nil", nameOf(item),
                      std::to_string(int(mouse.x)) + "," + std::to_string(int(mouse.y))};
  return nullptr;
}

Id ViewDelegate::viewFor(Id, Id item) {
  auto view = ak::make<ak::TableCellView>(ak::MakeRect(0, 0, 100, 17));
  view->setObjectValue(ns::Value(nameOf(item)));
  made.push_back(view);
  return view;
}

ListFixture::ListFixture() {
  window = app.window(ak::MakeRect(0, 0, 200, 200), ak::TitledWindowMask);
  scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, 0, 200, 200));
  window->setContentView(scroll);
  list = ak::make<SourceList>(ak::MakeRect(0, 0, 200, 200));
  auto column = std::make_shared<ak::TableColumn>("Name");
  column->setWidth(200);
  list->addTableColumn(column);
  list->setIntercellSpacing({0, 0});
  scroll->setDocumentView(list);
  window->makeFirstResponder(list);
}

void ListFixture::expandAll(const BasicSource& source) {
  for (const auto& g : source.groups) list->expandItem(g);
}

ak::Point ListFixture::rowPoint(long row, double x) const {
  ak::Rect r = list->rectOfRow(row);
  return list->convertPoint_toView({x, r.origin.y + r.size.height / 2}, nullptr);
}

void ListFixture::select(std::initializer_list<std::size_t> rows) {
  auto set = ns::MutableIndexSet::indexSet();
  for (auto r : rows) set->addIndex(r);
  list->selectRowIndexes_byExtendingSelection(*set, false);
}

std::vector<std::size_t> ListFixture::selected() const {
  return indexesOf(*list->selectedRowIndexes());
}

std::vector<std::size_t> indexesOf(const ns::IndexSet& set) {
  std::vector<std::size_t> out;
  for (const auto& r : set.ranges())
    for (std::size_t i = r.location; i < r.max(); ++i) out.push_back(i);
  return out;
}

ns::Ref<ak::Image> solidImage(double width, double height, double r, double g, double b) {
  auto image = ak::Image::initWithSize({width, height});
  image->lockFocus();
  ak::Color::colorWithDeviceRed_green_blue_alpha(r, g, b, 1)->setFill();
  ak::RectFill(ak::MakeRect(0, 0, width, height));
  image->unlockFocus();
  return image;
}

}  // namespace sltest

using namespace sltest;

PL_CLASS_NAMED(sltest::BasicSource, "SLBasicSource", ns::Object) {
  cls.method<&BasicSource::count>("sourceList:numberOfChildrenOfItem:");
  cls.method<&BasicSource::child>("sourceList:child:ofItem:");
  cls.method<&BasicSource::expandable>("sourceList:isItemExpandable:");
}

PL_CLASS_NAMED(sltest::TextSource, "SLTextSource", sltest::BasicSource) {
  cls.method<&TextSource::value>("sourceList:objectValueForItem:");
}

PL_CLASS_NAMED(sltest::BadgeSource, "SLBadgeSource", sltest::TextSource) {
  cls.method<&BadgeSource::hasBadge>("sourceList:itemHasBadge:");
  cls.method<&BadgeSource::badgeValue>("sourceList:badgeValueForItem:");
  cls.method<&BadgeSource::hasIcon>("sourceList:itemHasIcon:");
  cls.method<&BadgeSource::iconFor>("sourceList:iconForItem:");
}

PL_CLASS_NAMED(sltest::OddSource, "SLOddSource", ns::Object) {
  cls.method<&OddSource::count>("sourceList:numberOfChildrenOfItem:");
  cls.method<&OddSource::child>("sourceList:child:ofItem:");
  cls.method<&OddSource::expandable>("sourceList:isItemExpandable:");
}

PL_CLASS_NAMED(sltest::PlainDelegate, "SLPlainDelegate", ns::Object) {
  cls.method<&PlainDelegate::selectionDidChange>("sourceListSelectionDidChange:");
  cls.method<&PlainDelegate::deletePressed>("sourceListDeleteKeyPressedOnRows:");
  cls.method<&PlainDelegate::outlineIsGroup>("outlineView:isGroupItem:");
}

PL_CLASS_NAMED(sltest::TallDelegate, "SLTallDelegate", sltest::PlainDelegate) {
  cls.method<&TallDelegate::height>("sourceList:heightOfRowByItem:");
}

PL_CLASS_NAMED(sltest::GroupDelegate, "SLGroupDelegate", sltest::PlainDelegate) {
  cls.method<&GroupDelegate::alwaysExpanded>("sourceList:isGroupAlwaysExpanded:");
  cls.method<&GroupDelegate::menuFor>("sourceList:menuForEvent:item:");
  cls.method<&GroupDelegate::toolTip>("sourceList:toolTipForCell:rect:item:mouseLocation:");
  cls.method<&GroupDelegate::didExpand>("sourceListItemDidExpand:");
}

PL_CLASS_NAMED(sltest::ViewDelegate, "SLViewDelegate", sltest::PlainDelegate) {
  cls.method<&ViewDelegate::viewFor>("sourceList:viewForItem:");
}
