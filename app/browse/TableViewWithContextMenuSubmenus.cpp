// The context menu's "Add to" and "Share to" submenus and their actions.
#include <algorithm>
#include <cctype>
#include <map>

#include "app/browse/PlaylistAdding.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/videopage/VideoPage.h"
#include "app/youtube/SearchEntry.h"
#include "common/AppUtilities.h"
#include "common/IAppDelegate.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/Str.h"
#include "platform/foundation/IndexSet.h"
#include "platform/net/URL.h"
#include "platform/system/SharingService.h"
#include "platform/system/SystemServiceSettings.h"
#include "platform/system/Workspace.h"
#include "ui/FakeImageView.h"

namespace {

bool isLegacySystem() {
  return getOSVersionString().rfind("10.7.", 0) == 0;
}

// Percent-escapes everything but the unreserved characters of URLs (UTF-8).
std::string escaped(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The share page host of the service ("https://<host>"), without a trailing "/".
std::optional<std::string> webHost(const char* serviceName) {
  auto host = sys::sharePageHost(serviceName);
  if (!host || host->empty()) return std::nullopt;
  while (!host->empty() && host->back() == '/') host->pop_back();
  return host;
}

void openInBrowser(const std::string& address) {
  auto url = ns::URL::URLWithString(address);
  ns::Error error;
  if (!url || !ak::Workspace::sharedWorkspace()->openURL(url, &error))
    ns::LogWarning("cannot open the share page: %@", error.localizedDescription());
}

}  // namespace

// ---- "Add to" ----

void TableViewWithContextMenu::addAddToItem(const ns::Ref<ak::Menu>& menu, const ns::Ref<SearchEntry>& row,
                                            long count) {
  auto app = ak::Application::sharedApplication();
  auto current = app ? app->currentEvent() : nullptr;
  setMenuMoveMode(current && (current->modifierFlags() & ak::CommandKeyMask));
  const bool move = menuMoveMode();
  std::string title;
  if (count < 2)
    title = move ? "Move to..." : "Add to...";
  else
    title = ns::format(move ? "Move %ld videos to..." : "Add %ld videos to...", count);
  auto item = addItem(menu, title, kVideoMenuCopyLink, true);
  item->setAction(ns::Sel());
  auto submenu = ak::Menu::initWithTitle("Add to...");
  menu->setSubmenu_forItem(submenu, item);

  auto main = mainWindowController();
  auto account = main ? main->accountCache() : nullptr;
  auto index = main ? main->videoInPlaylistCache() : nullptr;
  const std::string videoId = row ? row->videoid().value_or("") : std::string();
  const auto favorites = account ? account->favorites() : std::nullopt;

  auto favoritesItem = addItem(submenu, "Favorites", 0, main && main->isSignedIn(), "onaddto:");
  if (favorites) favoritesItem->setRepresentedObject(ns::Value(*favorites));
  if (count < 2 && favorites && account->hasVideo_inPlaylist(videoId, *favorites)) favoritesItem->setState(1);
  submenu->addItem(ak::MenuItem::separatorItem());

  std::map<int, ns::Ref<ak::Menu>> groups;
  auto store = DBAccess::getInstance();
  if (store) {
    for (const auto& group : store->getPlaylistGroupArray()) {
      auto groupItem = ak::MenuItem::initWithTitle_action_keyEquivalent(group.name, ns::Sel(), "");
      auto groupMenu = ak::Menu::initWithTitle(group.name);
      submenu->addItem(groupItem);
      submenu->setSubmenu_forItem(groupMenu, groupItem);
      groups[group.groupId] = groupMenu;
    }
    if (!groups.empty()) submenu->addItem(ak::MenuItem::separatorItem());
  }
  if (!account) return;

  auto& playlists = account->playlistsArray();
  std::stable_sort(playlists.begin(), playlists.end(), [](const ns::Value& a, const ns::Value& b) {
    const std::string ta = a.isArray() && a.count() > 1 && a[1].isString() ? a[1].string() : std::string();
    const std::string tb = b.isArray() && b.count() > 1 && b[1].isString() ? b[1].string() : std::string();
    return ns::str::caseInsensitiveCompare(ta, tb) == ns::OrderedAscending;
  });
  std::vector<std::string> holding;
  if (count <= 1 && index && !videoId.empty())
    holding = index->getPlaylistIdArrayForVideo(videoId).value_or(std::vector<std::string>{});
  for (const auto& entry : playlists) {
    if (!entry.isArray() || entry.count() < 2 || !entry[0].isString() || !entry[1].isString()) continue;
    const std::string playlistId = entry[0].string();
    auto target = submenu;
    if (store) {
      auto group = groups.find(store->getPlaylistGroupId(playlistId));
      if (group != groups.end()) target = group->second;
    }
    auto playlistItem = addItem(target, entry[1].string(), 0, true, "onaddto:");
    playlistItem->setRepresentedObject(ns::Value(playlistId));
    if (count <= 1 && std::find(holding.begin(), holding.end(), playlistId) != holding.end())
      playlistItem->setState(1);
  }
}

void TableViewWithContextMenu::onaddto(const ns::Ref<ns::Object>& sender) {
  auto item = std::dynamic_pointer_cast<ak::MenuItem>(sender);
  if (!item || !item->representedObject().isString()) return;
  const std::string target = item->representedObject().string();
  auto list = currentListViewController();
  if (!list || target.empty()) return;
  const std::string source = list->requestId();
  // Copies go to the target: the item ids they get there must not reach this list's rows.
  std::vector<ns::Ref<SearchEntry>> rows;
  auto take = [&](const ns::Ref<SearchEntry>& row) {
    auto copy = copySearchEntry(row);
    if (!copy) return;
    copy->setPlaylistid(source);
    rows.push_back(copy);
  };
  if (list->getSelectedCount() < 2) {
    take(listRowAt(list, menuRow()));
  } else if (auto table = list->tableView()) {
    if (auto selection = table->selectedRowIndexes())
      selection->enumerateIndexesUsingBlock(
          [&](std::size_t index, bool*) { take(listRowAt(list, static_cast<long>(index))); });
  }
  addSearchEntries_toPlaylistId_deleteAfterCopy(std::move(rows), target, menuMoveMode());
  list->refreshTableView();
}

// ---- "Share to" ----

void TableViewWithContextMenu::addShareItem(const ns::Ref<ak::Menu>& menu) {
  auto item = addItem(menu, "Share to...", kVideoMenuCopyLink, true);
  item->setAction(ns::Sel());
  auto submenu = ak::Menu::initWithTitle("Share to...");
  menu->setSubmenu_forItem(submenu, item);
  const bool legacy = isLegacySystem();
  auto can = [&](const char* name) {
    if (legacy) return true;
    auto service = ak::SharingService::sharingServiceNamed(name);
    return service && service->canPerformWithItems(std::nullopt);
  };
  addItem(submenu, "Facebook", 0, can(ak::SharingServiceNamePostOnFacebook), "shareToFacebook");
  addItem(submenu, "Twitter", 1, can(ak::SharingServiceNamePostOnTwitter), "shareToTwitter");
}

void TableViewWithContextMenu::shareToTwitter() {
  if (auto row = listRowAt(currentListViewController(), menuRow())) shareToTwitter(row);
}

void TableViewWithContextMenu::shareToFacebook() {
  if (auto row = listRowAt(currentListViewController(), menuRow())) shareToFacebook(row);
}

void TableViewWithContextMenu::shareToTwitter(const ns::Ref<SearchEntry>& row) {
  const std::string videoId = row ? row->videoid().value_or("") : std::string();
  if (videoId.empty()) return;
  const std::string link = videoShortLinkURLString(videoId);
  if (isLegacySystem()) {
    auto host = webHost(ak::SharingServiceNamePostOnTwitter);
    if (!host) return;
    const std::string text =
        ns::format("#NowPlaying %@ %@ using Pelorin(%@)", row->title(), link, kProductPageAddress);
    const std::string escapedText = escaped(text);
    const std::string path = escaped("/intent/tweet?text=" + escapedText);
    openInBrowser(*host + "/intent/session?return_to=" + path + "&text=" + escapedText +
                  "&url=" + escaped(link));
    return;
  }
  auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
  auto url = ns::URL::URLWithString(link);
  if (!service || !url) return;
  sharedRow_ = row;
  shareBegan(service, ns::Array{ns::Value(url), ns::Value(ns::format("#NowPlaying %@ using Pelorin(%@)",
                                                                     row->title(), kProductPageAddress))});
}

void TableViewWithContextMenu::shareToFacebook(const ns::Ref<SearchEntry>& row) {
  const std::string videoId = row ? row->videoid().value_or("") : std::string();
  if (videoId.empty()) return;
  const std::string link = videoShortLinkURLString(videoId);
  const std::string text = ns::format("Playing %@ using Pelorin(%@)", row->title(), kProductPageAddress);
  if (isLegacySystem()) {
    auto host = webHost(ak::SharingServiceNamePostOnFacebook);
    if (!host) return;
    openInBrowser(*host + "/sharer/sharer.php?t=" + escaped(text) + "&u=" + escaped(link));
    return;
  }
  auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnFacebook);
  auto url = ns::URL::URLWithString(link);
  if (!service || !url) return;
  sharedRow_ = row;
  shareBegan(service, ns::Array{ns::Value(text), ns::Value(url)});
}

void TableViewWithContextMenu::shareBegan(const ns::Ref<ak::SharingService>& service,
                                          const ns::Array& items) {
  service->setDelegate(shared_from_this());
  setSharingSheetActive(true);
  if (auto delegate = appDelegate()) delegate->enableShortSeek(false);
  service->performWithItems(items);
}

void TableViewWithContextMenu::shareEnded() {
  setSharingSheetActive(false);
  if (auto delegate = appDelegate()) delegate->enableShortSeek(true);
}

ak::Rect TableViewWithContextMenu::sharingService_sourceFrameOnScreenForShareItem(
    const ns::Ref<ak::SharingService>&, const ns::Value&) {
  return ak::ZeroRect;
}

ns::Ref<ak::Image> TableViewWithContextMenu::sharingService_transitionImageForShareItem_contentRect(
    const ns::Ref<ak::SharingService>&, const ns::Value& item, ak::Rect*) {
  if (!item.isObject() || !item.objectAs<ns::URL>()) return nullptr;
  if (sharedRow_)
    if (auto image = FakeImageView::imageForURL(sharedRow_->thumburl())) return image;
  return ak::Image::imageNamed("green_dot");
}

void TableViewWithContextMenu::sharingService_didShareItems(const ns::Ref<ak::SharingService>&,
                                                            const ns::Array&) {
  shareEnded();
}

void TableViewWithContextMenu::sharingService_didFailToShareItems_error(
    const ns::Ref<ak::SharingService>&, const ns::Array&, const ns::Ref<ns::ErrorObject>& error) {
  if (error) ns::LogWarning("sharing failed: %@", error->error().localizedDescription());
  shareEnded();
}
