// The interfaces of the browsing controllers, built in code as their nibs would be.
#include <mutex>

#include "app/browse/BlackSearchFieldCell.h"
#include "app/browse/BrowseHooks.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/MainViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "ui/MyNSView.h"
#include "ui/MySearchField.h"
#include "ui/MySplitView.h"

namespace {

constexpr unsigned kFill = ak::ViewWidthSizable | ak::ViewHeightSizable;
constexpr double kBarHeight = 30;
constexpr double kBottomBarHeight = 24;

// A scroll view around a one-column table that fills it.
template <class Table>
ns::Ref<ak::ScrollView> scrolledTable(const ak::Rect& frame, const ns::Ref<Table>& table) {
  auto scroll = ak::make<ak::ScrollView>(frame);
  scroll->setAutoresizingMask(kFill);
  scroll->setHasVerticalScroller(true);
  auto column = ns::make<ak::TableColumn>("main");
  column->setWidth(frame.size.width);
  table->addTableColumn(column);
  table->setFrame(ak::MakeRect(0, 0, frame.size.width, frame.size.height));
  table->setAutoresizingMask(ak::ViewWidthSizable);
  scroll->setDocumentView(table);
  return scroll;
}

ns::Ref<ak::Button> imageButton(const ak::Rect& frame, const std::string& image, const std::string& pressed) {
  auto button = ak::make<ak::Button>(frame);
  button->setBordered(false);
  button->setTitle("");
  button->setImage(ak::Image::imageNamed(image));
  button->setAlternateImage(ak::Image::imageNamed(pressed));
  return button;
}

void buildLeftPane(ak::NibLoader& nib) {
  auto owner = nib.owner<LeftViewController>();
  const double width = 520, height = 400;
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, width, height));

  auto bar = ak::make<ak::View>(ak::MakeRect(0, height - kBarHeight, width, kBarHeight));
  bar->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewMinYMargin);
  auto back = imageButton(ak::MakeRect(4, 4, 24, 22), "back_button", "back_button_pressed");
  auto forward = imageButton(ak::MakeRect(30, 4, 24, 22), "forth_button", "forth_button_pressed");
  auto current =
      imageButton(ak::MakeRect(58, 4, 24, 22), "current_playlist_button", "current_playlist_button_pressed");
  ak::NibCoder fieldCoder;
  fieldCoder.frame = ak::MakeRect(88, 4, width - 94, 22);
  fieldCoder.autoresizingMask = ak::ViewWidthSizable;
  auto field = nib.view<MySearchField>(fieldCoder);
  ak::NibCoder cellCoder;
  auto cell = std::make_shared<BlackSearchFieldCell>();
  cell->initWithCoder(cellCoder);
  field->setCell(cell);
  for (const auto& view : std::vector<ns::Ref<ak::View>>{back, forward, current, field})
    bar->addSubview(view);

  ak::NibCoder menuCoder;
  menuCoder.frame = ak::MakeRect(0, 0, 160, height - kBarHeight);
  auto menuView = nib.view<ak::View>(menuCoder);
  ak::NibCoder navigationCoder;
  navigationCoder.frame = ak::MakeRect(161, 0, width - 161, height - kBarHeight);
  auto navigationView = nib.view<ak::View>(navigationCoder);
  ak::NibCoder splitCoder;
  splitCoder.frame = ak::MakeRect(0, 0, width, height - kBarHeight);
  splitCoder.autoresizingMask = kFill;
  splitCoder.subviews = {menuView, navigationView};
  auto split = nib.view<MySplitView>(splitCoder);
  // The interface file's thin divider: laid out side by side with it, the two areas fill the pane.
  split->setDividerStyle(ak::SplitViewDividerStyle::Thin);
  split->setVertical(true);
  root->addSubview(split);
  root->addSubview(bar);

  auto suggestions = ak::make<ak::View>(ak::MakeRect(0, 0, 240, 160));
  auto suggestionTable = ak::make<ak::TableView>(ak::MakeRect(0, 0, 240, 160));
  suggestionTable->setRowHeight(20);
  suggestions->addSubview(scrolledTable(ak::MakeRect(0, 0, 240, 160), suggestionTable));

  nib.outlet([owner, root, bar, split, menuView, navigationView, field, suggestions, suggestionTable, back,
              forward, current] {
    if (!owner) return;
    owner->connectOutlets({root, bar, menuView, navigationView, suggestions, split, field, suggestionTable,
                           back, forward, current});
    field->setDelegate(owner);
  });
  nib.action([owner, back, forward, current] {
    if (!owner) return;
    for (const auto& [button, action] : std::vector<std::pair<ns::Ref<ak::Button>, const char*>>{
             {back, "onBackBtn:"}, {forward, "onForwardBtn:"}, {current, "onCurrentPlaylistBtn:"}}) {
      button->setTarget(owner);
      button->setAction(ns::Sel(action));
    }
  });
}

void buildNavigation(ak::NibLoader& nib) {
  auto owner = nib.owner<PelNavigationController>();
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, 360, 370));
  root->setAutoresizingMask(kFill);
  auto contents = ak::make<ak::View>(root->bounds());
  contents->setAutoresizingMask(kFill);
  root->addSubview(contents);
  nib.outlet([owner, root, contents] {
    if (!owner) return;
    owner->setView(root);
    owner->setNavigationView(root);
    owner->setContentsView(contents);
  });
}

void buildMenuPage(ak::NibLoader& nib) {
  auto owner = nib.owner<MainViewController>();
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, 360, 370));
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, 360, 370));
  table->setRowHeight(83);
  root->addSubview(scrolledTable(root->bounds(), table));
  nib.outlet([owner, root, table] {
    if (!owner) return;
    owner->setView(root);
    owner->setTableView(table);
    table->setDataSource(owner);
    table->setDelegate(owner);
  });
}

void buildListPane(ak::NibLoader& nib) {
  auto owner = nib.owner<YTPlaylistViewController>();
  const double width = 360, height = 370;
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, width, height));
  auto table = ak::make<TableViewWithContextMenu>(ak::MakeRect(0, 0, width, height));
  auto scroll = scrolledTable(ak::MakeRect(0, 0, width, height), table);
  root->addSubview(scroll);

  auto bar = ak::make<MyNSView>(ak::MakeRect(0, 0, width, kBottomBarHeight));
  auto refresh = imageButton(ak::MakeRect(6, 2, 20, 20), "refresh_button", "refresh_button_pressed");
  auto order = ak::make<ak::PopUpButton>(ak::MakeRect(32, 1, 120, 22), false);
  for (const char* title : {"relevance", "published", "view count", "rating"}) order->addItemWithTitle(title);
  order->menu()->addItem(ak::MenuItem::separatorItem());
  for (const char* title : {"playlist", "channel"}) order->addItemWithTitle(title);
  auto subscribe = ak::make<ak::Button>(ak::MakeRect(width - 96, 1, 90, 22));
  subscribe->setTitle("Subscribe");
  subscribe->setAutoresizingMask(ak::ViewMinXMargin);
  for (const auto& view : std::vector<ns::Ref<ak::View>>{refresh, order, subscribe}) bar->addSubview(view);
  root->addSubview(bar);

  nib.outlet([owner, root, scroll, table, bar, refresh, order, subscribe] {
    if (!owner) return;
    owner->setView(root);
    owner->setScrollView(scroll);
    owner->setTableView(table);
    owner->setBottomView(bar);
    owner->setRefreshBtn(refresh);
    owner->setSearchOrderBtn(order);
    owner->setSubscribeBtn(subscribe);
    table->setDataSource(owner);
    table->setDelegate(owner);
  });
  nib.action([owner, refresh, order, subscribe] {
    if (!owner) return;
    refresh->setTarget(owner);
    refresh->setAction(ns::Sel("onRefreshBtn:"));
    order->setTarget(owner);
    order->setAction(ns::Sel("onSearchOrderChanged:"));
    subscribe->setTarget(owner);
    subscribe->setAction(ns::Sel("onSubscribeBtn:"));
  });
}

}  // namespace

void registerBrowseNibs() {
  static std::once_flag once;
  std::call_once(once, [] {
    ak::Nib::registerBuilder("LeftViewController", buildLeftPane);
    ak::Nib::registerBuilder("PelNavigationController", buildNavigation);
    ak::Nib::registerBuilder("MainViewController", buildMenuPage);
    ak::Nib::registerBuilder("YTPlaylistViewController", buildListPane);
  });
}
