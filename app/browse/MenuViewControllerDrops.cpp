// The source list as the place where videos are added to the account's playlists: single adds,
// batches and links, the error report to the maker's log, and what is dragged onto the source
// list: video rows (copied, or moved with Command), source-list rows (playlists refiled into
// groups) and links from other programs.
#include <charconv>

#include "app/browse/DragPayloads.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/PlaylistAdding.h"
#include "app/library/DBAccess.h"
#include "app/library/MakerHost.h"
#include "app/youtube/SearchEntry.h"
#include "lib/net/JSONRequestOperation.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "ui/SourceList.h"

namespace {

constexpr char kPlaylistGroupChanged[] = "playlistGroupChanged";
constexpr double kGroupChangeDelay = 0.01;

bool commandHeld() {
  auto app = ak::Application::sharedApplication();
  auto event = app ? app->currentEvent() : nullptr;
  return event && (event->modifierFlags() & ak::CommandKeyMask);
}

// The special lists videos can be added to; the others are the service's own (uploads, watch
// history) or no playlists at all (new videos, cached videos).
bool takesVideos(const std::string& special) {
  return special == "favorites" || special == "likes" || special == "watchlater";
}

// The source list's own memo of the last link examined.
LinkCheckMemo& linkMemo() {
  static ns::NoDestructor<LinkCheckMemo> memo;
  return *memo;
}

}  // namespace

// ---- adding ----

void MenuViewController::addSearchEntry_toPlaylistId(const ns::Ref<SearchEntry>& row,
                                                     const std::string& playlistId) {
  auto copy = copySearchEntry(row);
  if (!copy) return;
  ::addSearchEntries_toPlaylistId_deleteAfterCopy({copy}, playlistId, false,
                                                  [](const ns::Error& error) { logError(error); });
}

void MenuViewController::addSearchEntries_toPlaylistId_deleteAfterCopy(
    const std::vector<ns::Ref<SearchEntry>>& rows, const std::string& playlistId, bool deleteAfterCopy) {
  std::vector<ns::Ref<SearchEntry>> copies;
  for (const auto& row : rows)
    if (auto copy = copySearchEntry(row)) copies.push_back(copy);
  ::addSearchEntries_toPlaylistId_deleteAfterCopy(std::move(copies), playlistId, deleteAfterCopy);
}

void MenuViewController::addSearchEntry_toPlaylist(const ns::Ref<SearchEntry>& row,
                                                   const std::string& playlistId) {
  addSearchEntries_toPlaylistId_deleteAfterCopy({row}, playlistId, false);
}

void MenuViewController::addVideoForUrl_toPlaylistId(const std::string& link, const std::string& playlistId) {
  auto videoId = videoIdOfLink(link);
  if (!videoId || playlistId.empty()) return;
  if (auto cached = SearchEntry::initWithCache(*videoId)) {
    addSearchEntry_toPlaylist(cached, playlistId);
    return;
  }
  auto row = SearchEntry::init();
  row->setVideoid(*videoId);
  ns::Weak<MenuViewController> weak = self<MenuViewController>();
  row->getFromNetwork([weak, playlistId](const ns::Ref<SearchEntry>& filled) {
    ns::Log("getFromNetwork! e = %@", filled->description());
    dispatch::async(dispatch::mainQueue(), [weak, playlistId, filled] {
      if (auto me = weak.lock()) me->addSearchEntry_toPlaylist(filled, playlistId);
    });
  });
}

void MenuViewController::logError(const ns::Error& error) {
  // Escaped as a query value: "&", "#", "+" and "=" too.
  const std::string text = ns::stringByAddingPercentEncodingWithAllowedCharacters(
      error.localizedDescription(), ns::URLCharacterSet::unreservedCharacterSet());
  auto url = ns::URL::URLWithString("https://" + makerHost() + "/zeravozezi/logerror.php?e=" + text);
  if (!url) return;
  auto operation = JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
      ns::URLRequest::requestWithURL(url),
      [](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&, const ns::Value&) {}, nullptr);
  operation->start();
}

// ---- dragging and dropping ----

bool MenuViewController::sourceList_writeItems_toPasteboard(const ns::Ref<ns::Object>&,
                                                            const ns::Value& items,
                                                            const ns::Ref<ns::Object>& pasteboard) {
  ns::Log("%s called", "-[MenuViewController sourceList:writeItems:toPasteboard:]");
  auto board = std::dynamic_pointer_cast<ak::Pasteboard>(pasteboard);
  if (!board || !items.isArray()) return false;
  std::vector<ns::Ref<MenuItem>> nodes;
  for (const ns::Value& value : items.array())
    if (auto node = value.objectAs<MenuItem>()) nodes.push_back(node);
  auto data = archiveMenuItems(nodes);
  if (!data) return false;
  board->declareTypes_owner({kPlaylistTableViewDragType}, self<MenuViewController>());
  board->setData_forType(*data, kPlaylistTableViewDragType);
  return true;
}

std::optional<std::string> MenuViewController::urlFromNSPasteboardItem(
    const ns::Ref<ak::PasteboardItem>& item) {
  return item ? pasteboardItemLink(*item) : std::nullopt;
}

bool MenuViewController::urlDropOk(const std::string& address) {
  return linkMemo().urlDropOk(address);
}

unsigned long MenuViewController::sourceList_validateDrop_proposedItem_proposedChildIndex(
    const ns::Ref<ns::Object>&, const ns::Ref<ns::Object>& info, const ns::Ref<ns::Object>& item, long) {
  auto drag = std::dynamic_pointer_cast<ak::DraggingInfo>(info);
  auto node = nodeOf(item);
  auto board = drag ? drag->draggingPasteboard() : nullptr;
  if (!board || !node) return ak::DragOperationNone;
  const std::string& type = node->itemtype();
  if (board->availableTypeFromArray({kVideoTableViewDragType})) {
    if (type == "playlists" && !node->identifier().empty())
      return commandHeld() ? ak::DragOperationMove : ak::DragOperationCopy;
    if (type == "library" && takesVideos(node->identifier())) return ak::DragOperationCopy;
    return ak::DragOperationNone;
  }
  if (board->availableTypeFromArray({kPlaylistTableViewDragType}))
    return type == "PlaylistGroup" ? ak::DragOperationMove : ak::DragOperationNone;
  // A link: offered as a copy onto the lists that take videos, when it names one.
  const auto& items = board->pasteboardItems();
  if (items.empty()) return ak::DragOperationNone;
  auto address = pasteboardItemAddress(*items.front());
  if (!address || !urlDropOk(*address)) return ak::DragOperationNone;
  const bool target = (type == "playlists" && !node->identifier().empty()) ||
                      (type == "library" && takesVideos(node->identifier()));
  return target ? ak::DragOperationCopy : ak::DragOperationNone;
}

bool MenuViewController::sourceList_acceptDrop_item_childIndex(const ns::Ref<ns::Object>& list,
                                                               const ns::Ref<ns::Object>& info,
                                                               const ns::Ref<ns::Object>& item,
                                                               long childIndex) {
  ns::Log("%s called", "-[MenuViewController sourceList:acceptDrop:item:childIndex:]");
  auto drag = std::dynamic_pointer_cast<ak::DraggingInfo>(info);
  auto node = nodeOf(item);
  auto board = drag ? drag->draggingPasteboard() : nullptr;
  if (!board || !node) return false;
  const std::string& type = node->itemtype();

  if (board->availableTypeFromArray({kVideoTableViewDragType})) {
    auto data = board->dataForType(kVideoTableViewDragType);
    auto payload = data ? decodeVideoRows(*data) : std::nullopt;
    if (!payload) return false;
    if (sourceList_validateDrop_proposedItem_proposedChildIndex(list, info, item, childIndex) ==
        ak::DragOperationNone)
      return false;
    if (type == "playlists") {
      addSearchEntries_toPlaylistId_deleteAfterCopy(payload->rows, node->identifier(), commandHeld());
    } else if (auto target = requestIdForSpecial(node->identifier())) {
      addSearchEntries_toPlaylistId_deleteAfterCopy(payload->rows, *target, false);
    }
    return true;
  }

  if (board->availableTypeFromArray({kPlaylistTableViewDragType})) {
    auto data = board->dataForType(kPlaylistTableViewDragType);
    auto dragged = data ? decodeMenuItems(*data) : std::nullopt;
    if (!dragged) return false;
    if (type != "PlaylistGroup") return true;
    auto store = DBAccess::getInstance();
    int groupId = 0;
    const bool intoPlaylists = node->identifier() == "playlists";
    if (!intoPlaylists) {
      const std::string& identifier = node->identifier();
      const std::string prefix = "group_";
      if (identifier.rfind(prefix, 0) != 0) return false;
      auto [end, failed] =
          std::from_chars(identifier.data() + prefix.size(), identifier.data() + identifier.size(), groupId);
      if (failed != std::errc() || end != identifier.data() + identifier.size()) return false;
    }
    int refiled = 0;
    for (const auto& playlist : *dragged) {
      if (playlist->itemtype() != "playlists" || playlist->identifier().empty()) continue;
      if (intoPlaylists)
        store->deletePlaylistGroupEntry_notify(playlist->identifier(), false);
      else
        store->addPlaylistGroupEntry_groupId_notify(playlist->identifier(), groupId, false);
      ++refiled;
    }
    if (refiled > 0)
      dispatch::after(kGroupChangeDelay, dispatch::mainQueue(), [] {
        ns::NotificationCenter::defaultCenter()->postNotificationName_object(kPlaylistGroupChanged);
      });
    return true;
  }

  std::optional<std::string> target;
  if (type == "playlists" && !node->identifier().empty())
    target = node->identifier();
  else if (type == "library" && takesVideos(node->identifier()))
    target = requestIdForSpecial(node->identifier());
  if (!target || target->empty()) return false;
  int added = 0;
  for (const auto& pasted : board->pasteboardItems()) {
    auto link = urlFromNSPasteboardItem(pasted);
    if (!link || !videoIdOfLink(*link)) continue;
    addVideoForUrl_toPlaylistId(*link, *target);
    ++added;
  }
  return added > 0;
}
