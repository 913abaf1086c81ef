// 1,000 reloads and displays of a 300-row view-based source list (10 groups of 29 items) whose
// data source and delegate are reached through the forwarding proxy, beside the same tree in a
// plain outline view whose delegate and data source answer the outline methods directly. Prints
// both times and the ratio (ours / reference): the cost of forwarding every outline call.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/OutlineView.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "ui/SourceList.h"

namespace {

constexpr int kGroups = 10, kItemsPerGroup = 29, kRounds = 1000;
constexpr double kWidth = 240, kHeight = 400;
using Id = ns::Ref<ns::Object>;

class Node : public ns::Object {
 public:
  explicit Node(std::string n = {}) : name(std::move(n)) {}
  std::string name;
  std::vector<ns::Ref<Node>> children;
};

// One tree, asked in source-list terms (Sidebar) or in outline terms (PlainTree).
class Tree : public ns::Object {
 public:
  std::vector<ns::Ref<Node>> groups;
  ns::Ref<ak::OutlineView> view;
  Tree() {
    for (int g = 0; g < kGroups; ++g) {
      auto group = std::make_shared<Node>("Group " + std::to_string(g));
      for (int i = 0; i < kItemsPerGroup; ++i)
        group->children.push_back(
            std::make_shared<Node>("Item " + std::to_string(g) + "." + std::to_string(i)));
      groups.push_back(group);
    }
  }
  const std::vector<ns::Ref<Node>>& kids(const Id& item) const {
    return item ? std::static_pointer_cast<Node>(item)->children : groups;
  }
  ns::Ref<ak::View> cellFor(const Id& item) {
    auto cell =
        std::static_pointer_cast<ak::TableCellView>(view->makeViewWithIdentifier_owner("Cell", nullptr));
    std::static_pointer_cast<ak::TextField>(cell->textField())
        ->setStringValue(std::static_pointer_cast<Node>(item)->name);
    return cell;
  }
};

class Sidebar : public Tree {
 public:
  unsigned long count(Id, Id item) { return kids(item).size(); }
  Id child(Id, unsigned long index, Id item) { return kids(item).at(index); }
  ns::BOOL expandable(Id, Id item) { return kids(item).empty() ? ns::NO : ns::YES; }
  ns::BOOL alwaysExpanded(Id, Id) { return ns::YES; }
  Id viewFor(Id, Id item) { return cellFor(item); }
};

class PlainTree : public Tree {
 public:
  long count(Id, Id item) { return long(kids(item).size()); }
  Id child(Id, long index, Id item) { return kids(item).at(std::size_t(index)); }
  ns::BOOL expandable(Id, Id item) { return kids(item).empty() ? ns::NO : ns::YES; }
  ns::BOOL isGroup(Id, Id item) { return view->levelForItem(item) == 0 ? ns::YES : ns::NO; }
  ns::BOOL shouldSelect(Id, Id item) { return view->levelForItem(item) == 0 ? ns::NO : ns::YES; }
  Id viewFor(Id, Id, Id item) { return cellFor(item); }
};

void registerCell(const ns::Ref<ak::OutlineView>& view) {
  view->registerViewFactory("Cell", [] {
    auto cell = ak::make<ak::TableCellView>(ak::MakeRect(0, 0, kWidth, 17));
    auto field = ak::make<ak::TextField>(ak::MakeRect(2, 0, kWidth - 4, 17));
    field->setBordered(false);
    field->setDrawsBackground(false);
    cell->addSubview(field);
    cell->setTextField(field);
    return ns::Ref<ak::View>(cell);
  });
}

// A window showing the outline in a scroll view; answers the time of the rounds.
template <class T>
double run(const ns::Ref<T>& outline, const std::function<void()>& wire, long* rows) {
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, kWidth, kHeight), ak::BorderlessWindowMask);
  window->orderFront(nullptr);
  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, 0, kWidth, kHeight));
  window->setContentView(scroll);
  auto column = std::make_shared<ak::TableColumn>("Name");
  column->setWidth(kWidth - 3);
  outline->addTableColumn(column);
  registerCell(outline);
  scroll->setDocumentView(outline);
  wire();
  const double time = benchkit::seconds([&] {
    for (int i = 0; i < kRounds; ++i) {
      outline->reloadData();
      window->display();
    }
  });
  *rows = outline->numberOfRows();
  window->close();
  return time;
}

}  // namespace

PL_CLASS_NAMED(Sidebar, "BenchSidebar", ns::Object) {
  cls.method<&Sidebar::count>("sourceList:numberOfChildrenOfItem:");
  cls.method<&Sidebar::child>("sourceList:child:ofItem:");
  cls.method<&Sidebar::expandable>("sourceList:isItemExpandable:");
  cls.method<&Sidebar::alwaysExpanded>("sourceList:isGroupAlwaysExpanded:");
  cls.method<&Sidebar::viewFor>("sourceList:viewForItem:");
}

PL_CLASS_NAMED(PlainTree, "BenchPlainTree", ns::Object) {
  cls.method<&PlainTree::count>("outlineView:numberOfChildrenOfItem:");
  cls.method<&PlainTree::child>("outlineView:child:ofItem:");
  cls.method<&PlainTree::expandable>("outlineView:isItemExpandable:");
  cls.method<&PlainTree::isGroup>("outlineView:isGroupItem:");
  cls.method<&PlainTree::shouldSelect>("outlineView:shouldSelectItem:");
  cls.method<&PlainTree::viewFor>("outlineView:viewForTableColumn:item:");
}

int main() {
  ns::runtime::start();
  ak::Application::sharedApplication();

  auto sidebar = std::make_shared<Sidebar>();
  auto list = ak::make<SourceList>(ak::MakeRect(0, 0, kWidth, kHeight));
  sidebar->view = list;
  long listRows = 0;
  const double ours = run(
      list,
      [&] {
        list->setDelegate(sidebar);
        list->setDataSource(sidebar);
      },
      &listRows);

  auto plain = std::make_shared<PlainTree>();
  auto outline = ak::make<ak::OutlineView>(ak::MakeRect(0, 0, kWidth, kHeight));
  plain->view = outline;
  long outlineRows = 0;
  const double reference = run(
      outline,
      [&] {
        outline->setDelegate(plain);
        outline->setDataSource(plain);
        for (const auto& group : plain->groups) outline->expandItem(group);
      },
      &outlineRows);

  std::printf("%-60s pelorin %8.3f s   reference %8.3f s   ratio %.2f\n",
              "300-row source list: 1,000 reloads and displays via the proxy", ours, reference,
              ours / reference);
  std::printf("rows: source list %ld, outline view %ld\n", listRows, outlineRows);
  return 0;
}
