// The source list's interface, built in code as its nib would be: the outline in a scroll view
// over a bottom bar with the new-playlist, new-group and refresh buttons.
#include <mutex>

#include "app/browse/BrowseHooks.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/MyOutlineView.h"
#include "app/browse/PlaylistForms.h"
#include "app/browse/TreeCellViews.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "ui/MyNSView.h"
#include "ui/SourceList.h"

namespace {

constexpr double kBottomBarHeight = 24;
constexpr double kRowHeight = 18;

ns::Ref<ak::Button> barButton(double x, const std::string& image) {
  auto button = ak::make<ak::Button>(ak::MakeRect(x, 2, 20, 20));
  button->setBordered(false);
  button->setTitle("");
  button->setImage(ak::Image::imageNamed(image));
  return button;
}

ns::Ref<ak::TextField> rowLabel(const ak::Rect& frame, double size, bool bold) {
  auto field = ak::make<ak::TextField>(frame);
  field->setBordered(false);
  field->setBezeled(false);
  field->setEditable(false);
  field->setDrawsBackground(false);
  field->setFont(bold ? ak::Font::boldSystemFontOfSize(size) : ak::Font::systemFontOfSize(size));
  if (auto cell = field->cell()) cell->setLineBreakMode(ak::LineBreakMode::TruncatingTail);
  return field;
}

// The heading prototype: its title under a button that covers it (dimmed by the view).
ns::Ref<ak::View> makeHeaderCell(double width) {
  auto view = ak::make<TreeHeaderCellView>(ak::MakeRect(0, 0, width, kRowHeight));
  view->setAutoresizingMask(ak::ViewWidthSizable);
  auto title = rowLabel(ak::MakeRect(6, 1, width - 12, 15), 10, true);
  title->setTextColor(ak::Color::colorWithCalibratedWhite_alpha(110 / 255.0, 1.0));
  title->setAutoresizingMask(ak::ViewWidthSizable);
  view->addSubview(title);
  auto button = ak::make<ak::Button>(ak::MakeRect(0, 0, width, kRowHeight));
  button->setBordered(false);
  button->setTitle("");
  button->setAutoresizingMask(ak::ViewWidthSizable);
  button->setTarget(view);
  button->setAction(ns::Sel("OnButton:"));
  view->addSubview(button);
  view->setTitleTextField(title);
  view->setButton(button);
  return view;
}

// The row prototype: the bar image under the icon, the title and the count.
ns::Ref<ak::View> makeItemCell(double width) {
  auto view = ak::make<TreeItemCellView>(ak::MakeRect(0, 0, width, kRowHeight));
  view->setAutoresizingMask(ak::ViewWidthSizable);
  auto bar = ak::make<ak::ImageView>(ak::MakeRect(0, 0, width, kRowHeight));
  bar->setImageScaling(ak::ImageScaling::AxesIndependently);
  bar->setAutoresizingMask(ak::ViewWidthSizable);
  view->addSubview(bar);
  auto icon = ak::make<ak::ImageView>(ak::MakeRect(14, 1, 16, 16));
  view->addSubview(icon);
  auto title = rowLabel(ak::MakeRect(34, 1, width - 70, 16), 12, false);
  title->setAutoresizingMask(ak::ViewWidthSizable);
  view->addSubview(title);
  auto count = rowLabel(ak::MakeRect(width - 36, 1, 32, 16), 11, false);
  count->setAlignment(ak::TextAlignment::Right);
  count->setAutoresizingMask(ak::ViewMinXMargin);
  view->addSubview(count);
  view->setBgImg(bar);
  view->setIconImg(icon);
  view->setTitleTextField(title);
  view->setCountTextField(count);
  return view;
}

void buildSourceList(ak::NibLoader& nib) {
  auto owner = nib.owner<MenuViewController>();
  const double width = 160, height = 370;
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, width, height));
  root->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);

  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, kBottomBarHeight, width, height - kBottomBarHeight));
  scroll->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  scroll->setHasVerticalScroller(true);
  auto outline = ak::make<MyOutlineView>(ak::MakeRect(0, 0, width, height - kBottomBarHeight));
  auto column = ns::make<ak::TableColumn>("main");
  column->setWidth(width);
  // Playlist titles are edited in place; the delegate says which rows.
  column->setEditable(true);
  outline->addTableColumn(column);
  outline->setAutoresizingMask(ak::ViewWidthSizable);
  // Several playlists can be regrouped at once.
  outline->setAllowsMultipleSelection(true);
  outline->setRowHeight(kRowHeight);
  // See-through: the scroll view's colour is the list's background.
  outline->setBackgroundColor(ak::colors::clearColor());
  outline->registerViewFactory("TreeHeaderCell", [width] { return makeHeaderCell(width); });
  outline->registerViewFactory("TreeCell", [width] { return makeItemCell(width); });
  scroll->setDocumentView(outline);
  root->addSubview(scroll);

  auto bar = ak::make<MyNSView>(ak::MakeRect(0, 0, width, kBottomBarHeight));
  bar->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewMaxYMargin);
  auto newPlaylist = barButton(4, "new_playlist_button");
  auto newGroup = barButton(28, "new_playlist_group_button");
  auto refresh = barButton(width - 24, "refresh_button");
  refresh->setAutoresizingMask(ak::ViewMinXMargin);
  for (const auto& button : {newPlaylist, newGroup, refresh}) bar->addSubview(button);
  root->addSubview(bar);

  nib.outlet([owner, root, bar, scroll, outline, newPlaylist, newGroup, refresh] {
    if (!owner) return;
    owner->connectOutlets({root, bar, scroll, outline, newPlaylist, newGroup, refresh});
    outline->setDataSource(owner);
    outline->setDelegate(owner);
    refresh->setTarget(owner);
    refresh->setAction(ns::Sel("onRefreshBtn:"));
    newPlaylist->setTarget(owner);
    newPlaylist->setAction(ns::Sel("onNewPlaylistBtn:"));
    newGroup->setTarget(owner);
    newGroup->setAction(ns::Sel("onNewPlaylistGroupBtn:"));
  });
}

}  // namespace

void registerMenuNib() {
  static std::once_flag once;
  std::call_once(once, [] { ak::Nib::registerBuilder("MenuViewController", buildSourceList); });
  registerPlaylistFormNibs();
}
