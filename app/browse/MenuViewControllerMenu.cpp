// The source list's context menu and its playlist and group operations.
#include <string_view>

#include "app/browse/MenuViewController.h"
#include "app/browse/PlaylistForms.h"
#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "app/youtube/VideoServiceConfig.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Popover.h"
#include "platform/core/Log.h"
#include "ui/AlertBlocks.h"
#include "ui/SourceList.h"

namespace {

constexpr char kNoGroup[] = "PLAYLISTS";

// The video site's public web host, from its built-in address.
std::string webHost() {
  std::string_view url = kBuiltInVideoServiceURL;
  auto scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  return std::string(url.substr(0, url.find('/')));
}

ns::Ref<ak::MenuItem> entry(const std::string& title, const char* action, const ns::Ref<ns::Object>& target) {
  auto item =
      ak::MenuItem::initWithTitle_action_keyEquivalent(title, action ? ns::Sel(action) : ns::Sel(), "");
  if (action) item->setTarget(target);
  return item;
}

ns::Ref<ak::MenuItem> disabledEntry(const std::string& title) {
  auto item = ak::MenuItem::initWithTitle_action_keyEquivalent(title, ns::Sel(), "");
  item->setEnabled(false);
  return item;
}

// "Group" with its submenu: no group, a separator, then the local groups. `current` ticks the
// playlist's group (0 for none) when given.
ns::Ref<ak::MenuItem> groupEntry(const char* action, const ns::Ref<ns::Object>& target,
                                 std::optional<int> current) {
  auto submenu = ak::Menu::initWithTitle("Group");
  auto none = entry(kNoGroup, action, target);
  none->setRepresentedObject(ns::Value(kNoGroup));
  if (current && *current == 0) none->setState(ak::OnState);
  submenu->addItem(none);
  submenu->addItem(ak::MenuItem::separatorItem());
  for (const PlaylistGroup& group : DBAccess::getInstance()->getPlaylistGroupArray()) {
    auto item = entry(group.name, action, target);
    item->setRepresentedObject(ns::Value(std::to_string(group.groupId)));
    if (current && *current == group.groupId) item->setState(ak::OnState);
    submenu->addItem(item);
  }
  auto item = entry("Group", nullptr, target);
  item->setSubmenu(submenu);
  return item;
}

// The menu entry's represented object as text.
std::string targetGroupOf(const ns::Ref<ns::Object>& sender) {
  auto item = std::dynamic_pointer_cast<ak::MenuItem>(sender);
  if (!item) return {};
  const ns::Value& value = item->representedObject();
  return value.isString() ? value.string() : value.stringValue();
}

// Files the playlist in the group named by the entry, or takes it out of its group.
void fileInGroup(const std::string& playlistId, const std::string& group, bool notify) {
  auto store = DBAccess::getInstance();
  if (group == kNoGroup) {
    store->deletePlaylistGroupEntry_notify(playlistId, notify);
    return;
  }
  int groupId = ns::Value(group).intValue();
  store->addPlaylistGroupEntry_groupId_notify(playlistId, groupId, notify);
}

void criticalSheet(const std::string& message, const std::string& informative,
                   std::function<void()> onDelete) {
  auto main = mainWindowController();
  auto window = main ? main->getCurrentWindow() : nullptr;
  AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          window, message, informative, static_cast<unsigned long>(ak::AlertStyle::Critical),
          std::string("Cancel"), {"Delete"}, [onDelete = std::move(onDelete)](int) { onDelete(); },
          [] { ns::Log("cancelled"); });
}

// Shows the form in a transient, animated popover right of `anchor`; answers the popover.
template <class Form>
ns::Ref<ak::Popover> showForm(const ns::Ref<Form>& form, const ns::Ref<ak::View>& anchor) {
  auto popover = ns::make<ak::Popover>();
  popover->setBehavior(ak::PopoverBehavior::Transient);
  popover->setAnimates(true);
  popover->setContentViewController(form);
  form->setPopOver(popover);
  if (anchor) popover->showRelativeToRect_ofView_preferredEdge(anchor->bounds(), anchor, ak::RectEdge::MaxX);
  return popover;
}

template <class Form>
ns::Ref<Form> formFromNib(const std::string& nib) {
  registerPlaylistFormNibs();
  auto form = ns::make<Form>();
  form->initWithNibName_bundle(nib, nullptr);
  return form;
}

}  // namespace

void MenuViewController::onNewPlaylistBtn(const ns::Ref<ns::Object>& sender) {
  auto form = formFromNib<NewPlaylistViewController>("NewPlaylistViewController");
  formPopover_ = showForm(form, createPlaylistBtn());
}

void MenuViewController::onNewPlaylistGroupBtn(const ns::Ref<ns::Object>& sender) {
  auto form = formFromNib<NewPlaylistGroupViewController>("NewPlaylistGroupViewController");
  formPopover_ = showForm(form, createPlaylistGroupBtn());
}

void MenuViewController::renameGroup(const ns::Ref<ns::Object>& sender) {
  auto node = rightClickedMenuItem_;
  if (!node) return;
  auto form = formFromNib<NewPlaylistGroupViewController>("NewPlaylistGroupViewController");
  form->setOriginalName(node->title());
  formPopover_ = showForm(form, sourceList_);
}

ns::Ref<ns::Object> MenuViewController::sourceList_menuForEvent_item(ns::Ref<ns::Object> list,
                                                                     ns::Ref<ns::Object> eventObject,
                                                                     ns::Ref<ns::Object> item) {
  auto event = std::dynamic_pointer_cast<ak::Event>(eventObject);
  if (!event) return nullptr;
  const bool rightDown = event->type() == ak::EventType::RightMouseDown;
  const bool controlDown =
      event->type() == ak::EventType::LeftMouseDown && (event->modifierFlags() & ak::ControlKeyMask) != 0;
  if (!rightDown && !controlDown) return nullptr;
  auto node = std::dynamic_pointer_cast<MenuItem>(item);
  rightClickedMenuItem_ = node;
  auto me = self<MenuViewController>();
  auto menu = ak::Menu::initWithTitle("");

  auto selected = sourceList_ ? sourceList_->selectedRowIndexes() : nullptr;
  const long row = node && sourceList_ ? sourceList_->rowForItem(node) : -1;
  if (selected && selected->count() >= 2 && row >= 0 && selected->containsIndex(row)) {
    menu->addItem(disabledEntry(std::to_string(selected->count()) + " selected"));
    menu->addItem(groupEntry("changeSelectionGroup:", me, std::nullopt));
    return menu;
  }

  if (node) menu->addItem(disabledEntry(node->title()));
  if (node && node->identifier().rfind("group_", 0) == 0) {
    menu->addItem(entry("Rename Group", "renameGroup:", me));
    menu->addItem(entry("Delete Group", "deleteGroup:", me));
    menu->addItem(ak::MenuItem::separatorItem());
  } else {
    const std::string type = node ? node->itemtype() : std::string();
    if (type == "playlists") {
      menu->addItem(
          groupEntry("changeGroup:", me, DBAccess::getInstance()->getPlaylistGroupId(node->identifier())));
      menu->addItem(entry("Delete", "deletePlaylist:", me));
    }
    if (type == "subscriptions") menu->addItem(entry("Unsubscribe", "unsubscribe:", me));
    menu->addItem(ak::MenuItem::separatorItem());
    if (type == "playlists") menu->addItem(entry("Copy URL", "copyplaylistlink:", me));
  }
  menu->addItem(entry("refresh", "refresh:", me));
  return menu;
}

void MenuViewController::changeGroup(const ns::Ref<ns::Object>& sender) {
  auto node = rightClickedMenuItem_;
  if (!node) return;
  const std::string group = targetGroupOf(sender);
  ns::Log("changeGroup: %@, %@", node->title(), group);
  fileInGroup(node->identifier(), group, true);
}

void MenuViewController::changeSelectionGroup(const ns::Ref<ns::Object>& sender) {
  const std::string group = targetGroupOf(sender);
  ns::Log("changeSelectionGroup: %@", group);
  if (!sourceList_) return;
  std::vector<ns::Ref<MenuItem>> playlists;
  auto selected = sourceList_->selectedRowIndexes();
  for (const auto& range : selected->ranges())
    for (std::size_t row = range.location; row < range.max(); ++row) {
      auto node = std::dynamic_pointer_cast<MenuItem>(sourceList_->itemAtRow(static_cast<long>(row)));
      if (node && node->itemtype() == "playlists") playlists.push_back(node);
    }
  for (const auto& node : playlists) {
    ns::Log("changeSelectionGroup: %@ -> %@", node->title(), group);
    fileInGroup(node->identifier(), group, false);
  }
  if (!playlists.empty()) postNotification("playlistGroupChanged");
}

void MenuViewController::deleteGroup(const ns::Ref<ns::Object>& sender) {
  auto node = rightClickedMenuItem_;
  if (!node) return;
  std::string title = node->title();
  criticalSheet("Delete Playlist Group \"" + title + "\"?",
                "All playlists contained in the group will be moved to PLAYLISTS.",
                [title] { DBAccess::getInstance()->deletePlaylistGroup(title); });
}

void MenuViewController::deletePlaylist(const ns::Ref<ns::Object>& sender) {
  auto node = rightClickedMenuItem_;
  if (!node) return;
  std::string identifier = node->identifier();
  ns::Weak<MenuViewController> weak = self<MenuViewController>();
  criticalSheet("Delete playlist \"" + node->title() + "\" from YouTube", "This operation can NOT be undone!",
                [weak, identifier] {
                  auto me = weak.lock();
                  auto cache = me ? me->account() : nullptr;
                  if (cache) cache->deletePlaylist(identifier);
                });
}

void MenuViewController::unsubscribe(const ns::Ref<ns::Object>& sender) {
  auto node = rightClickedMenuItem_;
  auto cache = account();
  if (node && cache) cache->unsubscribe(node->identifier());
}

void MenuViewController::copyplaylistlink(const ns::Ref<ns::Object>& sender) {
  auto node = rightClickedMenuItem_;
  if (!node) return;
  const std::string address = "http://" + webHost() + "/playlist?list=" + node->identifier();
  auto pasteboard = ak::Pasteboard::generalPasteboard();
  pasteboard->declareTypes_owner({ak::PasteboardTypeString}, nullptr);
  pasteboard->setString_forType(address, ak::PasteboardTypeString);
}
