// The source list's interface, built in code as its nib would be: the outline in a scroll view
// over a bottom bar with the new-playlist, new-group and refresh buttons.
#include <mutex>

#include "app/browse/BrowseHooks.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/MyOutlineView.h"
#include "app/browse/PlaylistForms.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "ui/MyNSView.h"
#include "ui/SourceList.h"

namespace {

constexpr double kBottomBarHeight = 24;

ns::Ref<ak::Button> barButton(double x, const std::string& image) {
  auto button = ak::make<ak::Button>(ak::MakeRect(x, 2, 20, 20));
  button->setBordered(false);
  button->setTitle("");
  button->setImage(ak::Image::imageNamed(image));
  return button;
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
