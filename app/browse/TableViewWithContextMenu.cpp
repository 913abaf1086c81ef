#include "app/browse/TableViewWithContextMenu.h"

#include <atomic>
#include <filesystem>

#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheFiles.h"
#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/RevealDownloadedFile.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "app/videopage/VideoPage.h"
#include "app/youtube/SearchEntry.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "common/ShellNotifications.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/foundation/IndexSet.h"
#include "platform/net/URL.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/system/SharingService.h"
#include "platform/system/Workspace.h"
#include "ui/AlertBlocks.h"
#include "ui/HoverButton.h"

// NSTableView has no class record of its own: the nearest registered superclass is NSView.
PL_CLASS_NAMED(TableViewWithContextMenu, "TableViewWithContextMenu", ak::View) {
  cls.method<&TableViewWithContextMenu::onclick>("onclick:");
  cls.method<&TableViewWithContextMenu::reload>("reload:");
  cls.method<&TableViewWithContextMenu::onaddto>("onaddto:");
  cls.method<&TableViewWithContextMenu::shareToTwitterAction>("shareToTwitter");
  cls.method<&TableViewWithContextMenu::shareToFacebookAction>("shareToFacebook");
  cls.method<&TableViewWithContextMenu::sharingService_sourceFrameOnScreenForShareItem>(
      "sharingService:sourceFrameOnScreenForShareItem:");
  cls.method<&TableViewWithContextMenu::sharingService_transitionImageForShareItem_contentRect>(
      "sharingService:transitionImageForShareItem:contentRect:");
  cls.method<&TableViewWithContextMenu::sharingService_didShareItems>("sharingService:didShareItems:");
  cls.method<&TableViewWithContextMenu::sharingService_didFailToShareItems_error>(
      "sharingService:didFailToShareItems:error:");
  cls.method<&TableViewWithContextMenu::alertDidEnd_returnCode_contextInfo>(
      "alertDidEnd:returnCode:contextInfo:");
}

namespace {

std::atomic<bool> gMenuMoveMode{false};
std::atomic<bool> gSharingSheetActive{false};

std::vector<long> selectedIndexes(const ns::Ref<YTPlaylistViewController>& list) {
  std::vector<long> indexes;
  auto table = list ? list->tableView() : nullptr;
  auto selection = table ? table->selectedRowIndexes() : nullptr;
  if (!selection) return indexes;
  selection->enumerateIndexesUsingBlock(
      [&](std::size_t index, bool*) { indexes.push_back(static_cast<long>(index)); });
  return indexes;
}

std::string idOf(const ns::Ref<SearchEntry>& row) {
  return row ? row->videoid().value_or("") : std::string();
}

ns::Ref<CacheServer> cacheServer() {
  auto main = mainWindowController();
  return main ? main->cacheServer() : nullptr;
}

// The uploads list of a channel: "UU" and the channel id past its "UC"; nil for ids too short
// to have one.
std::optional<std::string> uploadsPlaylistId(const std::string& channelId) {
  if (channelId.size() <= 2) return std::nullopt;
  return "UU" + channelId.substr(2);
}

}  // namespace

bool menuMoveMode() {
  return gMenuMoveMode.load();
}
void setMenuMoveMode(bool move) {
  gMenuMoveMode.store(move);
}
bool isSharingSheetActive() {
  return gSharingSheetActive.load();
}
void setSharingSheetActive(bool active) {
  gSharingSheetActive.store(active);
}

ns::Ref<SearchEntry> listRowAt(const ns::Ref<YTPlaylistViewController>& list, long index) {
  if (!list || index < 0 || index >= static_cast<long>(list->cellArray().size())) return nullptr;
  return list->cellArray()[static_cast<std::size_t>(index)];
}

namespace {

ns::Ref<PelNavigationController> leftNavigation() {
  auto main = mainWindowController();
  auto left = main ? main->leftViewController() : nullptr;
  return left ? left->navigationController() : nullptr;
}

bool pushOnLeftNavigation(const ns::Ref<YTPlaylistViewController>& list) {
  auto navigation = leftNavigation();
  if (!list || !navigation) return false;
  navigation->pushViewController_animated(list, true);
  return true;
}

}  // namespace

ns::Ref<YTPlaylistViewController> currentListViewController() {
  auto navigation = leftNavigation();
  return navigation
             ? std::dynamic_pointer_cast<YTPlaylistViewController>(navigation->getCurrentViewController())
             : nullptr;
}

// The uploads and related lists, pushed on the left pane's navigation; shared with the video
// pop-up.
bool pushUploadersVideo(const ns::Ref<SearchEntry>& row) {
  if (!row || row->videoChannelId().empty()) return false;
  auto uploads = uploadsPlaylistId(row->videoChannelId());
  if (!uploads) {
    ns::Log("no uploads list for channel \"%@\"", row->videoChannelId());
    return false;
  }
  ns::Log("videoChannelId = %@", row->videoChannelId());
  return pushOnLeftNavigation(getPlaylistViewController(row->author(), "subscriptions", *uploads));
}

bool pushRelatedVideo(const ns::Ref<SearchEntry>& row) {
  const std::string videoId = idOf(row);
  if (videoId.empty()) return false;
  return pushOnLeftNavigation(
      getPlaylistViewController(ns::format("related: %@", row->title()), "related", videoId));
}

// ---- building the menu ----

bool TableViewWithContextMenu::validateProposedFirstResponder_forEvent(
    const ns::Ref<ak::Responder>& responder, const ns::Ref<ak::Event>& event) {
  if (std::dynamic_pointer_cast<HoverButton>(responder) && event &&
      event->type() == ak::EventType::RightMouseDown)
    return false;
  return ak::TableView::validateProposedFirstResponder_forEvent(responder, event);
}

ns::Ref<ak::MenuItem> TableViewWithContextMenu::addItem(const ns::Ref<ak::Menu>& menu,
                                                        const std::string& title, long tag, bool enabled,
                                                        const char* action) {
  // Enabled exactly when the item has a target and an action.
  auto item =
      ak::MenuItem::initWithTitle_action_keyEquivalent(title, enabled ? ns::Sel(action) : ns::Sel(), "");
  if (enabled) item->setTarget(shared_from_this());
  item->setTag(tag);
  menu->addItem(item);
  return item;
}

ns::Ref<ak::Menu> TableViewWithContextMenu::menuForEvent(const ns::Ref<ak::Event>& event) {
  if (!event) return nullptr;
  menuRow_ = rowAtPoint(convertPoint_fromView(event->locationInWindow(), nullptr));
  auto list = currentListViewController();
  // A click below the last row keeps the selection as it is.
  if (list && menuRow_ >= 0 && !list->containsIndex(menuRow_)) list->selectIndex(menuRow_);
  const long count = list ? list->getSelectedCount() : 0;
  auto row = listRowAt(list, menuRow_);
  ak::Menu::setMenuBarVisible(true);

  auto menu = ak::Menu::initWithTitle(row ? row->title() : "");
  if (row && !row->isPlaylist() && !row->isChannel()) {
    addLinkItems(menu, count);
    addCacheItems(menu, row, count, list);
    menu->addItem(ak::MenuItem::separatorItem());
    addAddToItem(menu, row, count);
    if (count < 2) {
      addShareItem(menu);
      addItem(menu, "Reset Played State", kVideoMenuResetPlayedState, true);
      addItem(menu, "Delete", kVideoMenuDelete, true);
    } else {
      addItem(menu, "Reset Played State", kVideoMenuResetPlayedState, true);
      addItem(menu, ns::format("Delete %ld videos", count), kVideoMenuDelete, true);
    }
    auto main = mainWindowController();
    auto account = main ? main->accountCache() : nullptr;
    // The account's set of own channels holds "" when none is known: a row without a channel is
    // nobody's.
    if (count == 1 && account && !row->videoChannelId().empty() &&
        account->isMyChannel(row->videoChannelId()))
      addItem(menu, "Edit Video Title", kVideoMenuEditVideoTitle, true);
    menu->addItem(ak::MenuItem::separatorItem());
  }
  addItem(menu, "Reload List", kVideoMenuReloadList, true, "reload:");
  return menu;
}

void TableViewWithContextMenu::addLinkItems(const ns::Ref<ak::Menu>& menu, long count) {
  if (count < 2) {
    addItem(menu, "Uploader's Video", kVideoMenuUploadersVideo, true);
    addItem(menu, "Related Video", kVideoMenuRelatedVideo, true);
    addItem(menu, "Open Video Page", kVideoMenuOpenVideoPage, true);
    addItem(menu, "Copy Link", kVideoMenuCopyLink, true);
    menu->addItem(ak::MenuItem::separatorItem());
  } else {
    addItem(menu, "Copy Links", kVideoMenuCopyLink, true);
  }
}

void TableViewWithContextMenu::addCacheItems(const ns::Ref<ak::Menu>& menu, const ns::Ref<SearchEntry>& row,
                                             long count, const ns::Ref<YTPlaylistViewController>& list) {
  if (count < 2) {
    const std::string videoId = idOf(row);
    const bool downloaded = isVideoDownloaded(videoId);
    bool cached = false, downloading = false;
    if (hasDownloadError(videoId)) {
    } else if (isVideoCached(videoId)) {
      cached = true;
    } else {
      downloading = isVideoDownloading(videoId);
    }
    if (downloaded) {
      addItem(menu, "Reveal in Finder", kVideoMenuRevealInFinder, true);
      addItem(menu, "Delete Downloaded File", kVideoMenuDeleteDownloadedFile, true);
      return;
    }
    addItem(menu, "Cache Video", kVideoMenuCacheVideo, !cached && !downloading);
    addItem(menu, "Remove Cache", kVideoMenuRemoveCache, cached || downloading);
    addItem(menu, "Download", kVideoMenuDownload, !isVideoManualDownloading(videoId));
    if (!cached && getDownloaderForVideoId(videoId)) {
      if (downloading)
        addItem(menu, "Pause Download", kVideoMenuPauseDownload, true);
      else
        addItem(menu, "Resume Download", kVideoMenuResumeDownload, true);
    }
    return;
  }
  bool canCache = false, canRemove = false, canDownload = false, hasDownloads = false;
  for (long index : selectedIndexes(list)) {
    const std::string videoId = idOf(listRowAt(list, index));
    if (videoId.empty()) continue;
    const bool cached = isVideoCached(videoId), downloading = isVideoDownloading(videoId);
    const bool downloaded = isVideoDownloaded(videoId), manual = isVideoManualDownloading(videoId);
    canCache = canCache || (!cached && !downloading && !downloaded && !manual);
    canRemove = canRemove || cached || downloading;
    canDownload = canDownload || (!downloaded && !manual);
    hasDownloads = hasDownloads || downloaded || manual;
    if (canCache && canRemove && canDownload && hasDownloads) break;
  }
  addItem(menu, "Cache Video", kVideoMenuCacheVideo, canCache);
  addItem(menu, "Remove Cache", kVideoMenuRemoveCache, canRemove);
  addItem(menu, "Download", kVideoMenuDownload, canDownload);
  addItem(menu, "Reveal in Finder", kVideoMenuRevealInFinder, hasDownloads);
  addItem(menu, "Delete Downloaded File", kVideoMenuDeleteDownloadedFile, hasDownloads);
}

// ---- the commands ----

void TableViewWithContextMenu::reload(const ns::Ref<ns::Object>& sender) {
  auto item = std::dynamic_pointer_cast<ak::MenuItem>(sender);
  if (!item || item->tag() != kVideoMenuReloadList) return;
  // Search lists and lists in the middle of a fetch ignore it.
  if (auto list = currentListViewController()) list->reloadList();
}

void TableViewWithContextMenu::onclick(const ns::Ref<ns::Object>& sender) {
  auto item = std::dynamic_pointer_cast<ak::MenuItem>(sender);
  if (!item) return;
  // The command acts on the list on show and its selection as they are now, which may differ
  // from what the menu was built for when a list changed in between.
  auto list = currentListViewController();
  auto row = listRowAt(list, menuRow_);
  const bool several = list && list->getSelectedCount() >= 2;
  std::vector<ns::Ref<SearchEntry>> rows;
  if (!several) {
    if (row) rows.push_back(row);
  } else {
    for (long index : selectedIndexes(list)) {
      ns::Log("currentIndex = %ld", index);
      if (auto selected = listRowAt(list, index)) rows.push_back(selected);
    }
  }
  auto server = cacheServer();

  switch (item->tag()) {
    case kVideoMenuUploadersVideo:
      pushUploadersVideo(row);
      break;
    case kVideoMenuRelatedVideo:
      pushRelatedVideo(row);
      break;
    case kVideoMenuOpenVideoPage:
      if (row) openVideoPageAtCurrentTime(idOf(row));
      break;
    case kVideoMenuCopyLink: {
      std::string links;
      for (const auto& each : rows) {
        if (!links.empty()) links += " , ";
        links += videoWatchPageURLString(idOf(each));
      }
      if (rows.empty()) break;
      auto pasteboard = ak::Pasteboard::generalPasteboard();
      pasteboard->declareTypes_owner({ak::StringPboardType}, nullptr);
      pasteboard->setString_forType(links, ak::StringPboardType);
      break;
    }
    case kVideoMenuCacheVideo:
      for (const auto& each : rows) {
        const std::string videoId = idOf(each);
        if (videoId.empty()) continue;
        if (several && (isVideoCached(videoId) || isVideoDownloading(videoId) || isVideoDownloaded(videoId) ||
                        isVideoManualDownloading(videoId)))
          continue;
        each->saveToCache();
        if (server) server->addManualDownloadVideoId(videoId);
      }
      break;
    case kVideoMenuRemoveCache: {
      auto player = playerViewController();
      for (const auto& each : rows) {
        const std::string videoId = idOf(each);
        if (videoId.empty()) continue;
        if (player && player->videoId() == videoId) player->stopVideo();
        deleteCachedVideo(videoId);
        stopAndDeleteDownload(videoId);
      }
      postNotification(kVideoInfoChangedNotification);
      break;
    }
    case kVideoMenuDownload:
      for (const auto& each : rows) {
        const std::string videoId = idOf(each);
        if (videoId.empty()) continue;
        if (several && (isVideoDownloaded(videoId) || isVideoManualDownloading(videoId))) continue;
        each->saveToCache();
        if (server)
          server->addManualDownloadVideoId_withTitle_fromViewController(
              videoId, each->title(), list ? std::optional<std::string>(list->title()) : std::nullopt);
      }
      break;
    case kVideoMenuRevealInFinder: {
      if (!several) {
        if (row) revealDownloadedFileInFinder(idOf(row));
        break;
      }
      std::vector<ns::Ref<ns::URL>> urls;
      std::vector<std::string> paths;
      for (const auto& each : rows) {
        auto path = getDownloadedVideoPath(idOf(each));
        if (!path || path->empty()) continue;
        if (auto url = ns::URL::fileURLWithPath(*path)) {
          urls.push_back(url);
          paths.push_back(*path);
        }
      }
      if (urls.empty()) break;
      ns::Log("reveal in finder: %@", ns::Value(ns::Array(paths.begin(), paths.end())));
      ak::Workspace::sharedWorkspace()->activateFileViewerSelectingURLs(urls);
      break;
    }
    case kVideoMenuDeleteDownloadedFile:
      if (row) deleteDownloadedFiles(row, rows, several);
      break;
    case kVideoMenuPauseDownload:
      if (auto downloader = getDownloaderForVideoId(idOf(row))) downloader->stopDownload();
      break;
    case kVideoMenuResumeDownload:
      if (auto downloader = getDownloaderForVideoId(idOf(row))) {
        if (server) server->restart();
        downloader->startDownloadAlways();
      }
      break;
    case kVideoMenuResetPlayedState: {
      auto store = DBAccess::getInstance();
      for (const auto& each : rows) {
        const std::string videoId = idOf(each);
        if (videoId.empty() || !store) continue;
        store->savePlayPosition_forId(0.0f, videoId);
        store->savePlayedState_forId(0, videoId);
      }
      break;
    }
    case kVideoMenuDelete:
      if (!list) break;
      if (several) {
        // From the last row up, so that the indexes still to come stay valid.
        auto indexes = selectedIndexes(list);
        for (auto index = indexes.rbegin(); index != indexes.rend(); ++index)
          list->deletePlaylistItem(*index);
      } else if (row) {
        list->deletePlaylistItem(menuRow_);
      }
      break;
    case kVideoMenuEditVideoTitle:
      if (auto main = mainWindowController(); main && row) main->onShowRenameVideo(row);
      break;
    default:
      break;
  }
}

void TableViewWithContextMenu::deleteDownloadedFiles(const ns::Ref<SearchEntry>& row,
                                                     const std::vector<ns::Ref<SearchEntry>>& rows,
                                                     bool several) {
  auto main = mainWindowController();
  auto window = main ? main->getCurrentWindow() : nullptr;
  if (!window) return;
  auto path = getDownloadedVideoPath(idOf(row));
  const std::string fileName = path ? std::filesystem::path(*path).filename().string() : std::string();
  std::vector<std::string> videoIds;
  for (const auto& each : rows) videoIds.push_back(idOf(each));
  const std::string message = several ? "Delete downloaded files?" : "Delete downloaded file?";
  const std::string deleteTitle = several ? "Delete Files" : "Delete File";
  AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          window, message, fileName, 2, std::string("Cancel"), {deleteTitle, "Move to Cache"},
          [videoIds, several](int index) {
            auto server = cacheServer();
            if (!server) return;
            for (const auto& videoId : videoIds) {
              if (videoId.empty() || (several && !isVideoDownloaded(videoId))) continue;
              if (index == 0)
                server->deleteDownloadedFile(videoId);
              else if (index == 1)
                server->moveDownloadedToCache(videoId);
            }
          },
          [] { ns::Log("cancelled"); });
}
