#include "app/browse/PlaylistForms.h"

#include <mutex>

#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "common/IMainWindowController.h"
#include "common/Settings.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/Popover.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/core/Log.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

constexpr char kNoGroup[] = "PLAYLISTS";

bool endedWithReturn(const ns::Ref<ns::Notification>& note) {
  if (!note) return false;
  const ns::Value& value = note->userInfo()[std::string(ak::TextMovementKey)];
  return value.isNumber() && value.integerValue() == ak::ReturnTextMovement;
}

void closePopover(const ns::Ref<ak::Popover>& popover) {
  if (popover) popover->close();
}

}  // namespace

// ---- the new playlist ----

void NewPlaylistViewController::connectOutlets(const Outlets& outlets) {
  setView(outlets.view);
  playlistNameTextField_ = outlets.playlistNameTextField;
  privatePlaylistBtn_ = outlets.privatePlaylistBtn;
  createBtn_ = outlets.createBtn;
  groupPopUpButton_ = outlets.groupPopUpButton;
}

void NewPlaylistViewController::awakeFromNib() {
  ak::ViewController::awakeFromNib();
  if (auto create = createBtn()) create->setEnabled(false);
  if (auto check = privatePlaylistBtn())
    check->setState(getBoolSetting(kPrivatePlaylistKey) ? ak::OnState : ak::OffState);
  // The pop-up maps by item index, so a group named like the no-group item stays a group.
  groupIds_ = {-1};
  auto popup = groupPopUpButton();
  for (const PlaylistGroup& group : DBAccess::getInstance()->getPlaylistGroupArray()) {
    // Through the menu: the pop-up's own call would drop an item of the same title.
    if (popup && popup->menu())
      popup->menu()->addItemWithTitle_action_keyEquivalent(group.name, ns::Sel(), "");
    groupIds_.push_back(group.groupId);
  }
}

void NewPlaylistViewController::onCancelBtn(const ns::Ref<ns::Object>& sender) {
  closePopover(popOver());
}

void NewPlaylistViewController::controlTextDidChange(const ns::Ref<ns::Notification>& note) {
  auto field = playlistNameTextField();
  if (auto create = createBtn()) create->setEnabled(field && !field->stringValue().empty());
}

void NewPlaylistViewController::controlTextDidEndEditing(const ns::Ref<ns::Notification>& note) {
  if (endedWithReturn(note)) onCreateBtn(nullptr);
}

void NewPlaylistViewController::onCreateBtn(const ns::Ref<ns::Object>& sender) {
  auto popup = groupPopUpButton();
  const long index = popup ? popup->indexOfSelectedItem() : 0;
  const int groupId =
      index >= 0 && static_cast<std::size_t>(index) < groupIds_.size() ? groupIds_[index] : -1;
  auto check = privatePlaylistBtn();
  const bool isPrivate = check && check->state() == ak::OnState;
  setBoolSetting(kPrivatePlaylistKey, isPrivate);
  auto field = playlistNameTextField();
  const std::string name = field ? field->stringValue() : std::string();
  if (name.empty()) {
    closePopover(popOver());
    return;
  }
  auto snippet = ApiObject::object<ApiYouTubePlaylistSnippet>();
  snippet->setTitle(name);
  auto status = ApiObject::object<ApiYouTubePlaylistStatus>();
  status->setPrivacyStatus(isPrivate ? "private" : "public");
  auto playlist = ApiObject::object<ApiYouTubePlaylist>();
  playlist->setSnippet(snippet);
  playlist->setStatus(status);
  ns::Log("item.snippet = %@", snippet->description());
  auto main = mainWindowController();
  auto service = main ? main->youTubeService() : nullptr;
  if (service) {
    auto query = ApiQueryYouTube::queryForPlaylistsInsertWithObject_part(playlist, "snippet,status");
    service->executeQuery_completionHandler(
        query, [groupId, name](const ns::Ref<ApiServiceTicket>&, const ns::Ref<ApiObject>& reply,
                               const std::optional<ns::Error>& error) {
          if (error) {
            ns::LogWarning("error: %@", *error);
            return;
          }
          auto created = std::dynamic_pointer_cast<ApiYouTubePlaylist>(reply);
          // An empty id names no playlist: it would be listed and filed as one all the same.
          if (!created || !created->identifier() || created->identifier()->empty()) {
            ns::LogWarning("the new playlist's answer holds no id");
            return;
          }
          const std::string identifier = *created->identifier();
          if (groupId > 0)
            DBAccess::getInstance()->addPlaylistGroupEntry_groupId_notify(identifier, groupId, false);
          auto main = mainWindowController();
          auto cache = main ? main->accountCache() : nullptr;
          if (cache) cache->addPlaylist_withId(name, identifier);
        });
  }
  closePopover(popOver());
}

// ---- the playlist group ----

void NewPlaylistGroupViewController::connectOutlets(const Outlets& outlets) {
  setView(outlets.view);
  playlistNameTextField_ = outlets.playlistNameTextField;
  dialogTitle_ = outlets.dialogTitle;
  errorTextField_ = outlets.errorTextField;
  createBtn_ = outlets.createBtn;
}

void NewPlaylistGroupViewController::awakeFromNib() {
  ak::ViewController::awakeFromNib();
  if (auto create = createBtn()) create->setEnabled(false);
  if (auto error = errorTextField()) error->setHidden(true);
  bRename_ = !originalName_.empty();
  if (bRename_) {
    if (auto title = dialogTitle()) title->setStringValue("Rename Playlist Group \"" + originalName_ + "\"");
    if (auto field = playlistNameTextField()) field->setStringValue(originalName_);
  }
}

void NewPlaylistGroupViewController::onCancelBtn(const ns::Ref<ns::Object>& sender) {
  closePopover(popOver());
}

void NewPlaylistGroupViewController::showError() {
  if (auto error = errorTextField()) error->setHidden(false);
}

void NewPlaylistGroupViewController::controlTextDidChange(const ns::Ref<ns::Notification>& note) {
  auto field = playlistNameTextField();
  const std::string name = field ? field->stringValue() : std::string();
  if (auto create = createBtn()) create->setEnabled(!name.empty() && !(bRename_ && name == originalName_));
  if (auto error = errorTextField()) error->setHidden(true);
}

void NewPlaylistGroupViewController::controlTextDidEndEditing(const ns::Ref<ns::Notification>& note) {
  if (endedWithReturn(note)) onCreateBtn(nullptr);
}

void NewPlaylistGroupViewController::onCreateBtn(const ns::Ref<ns::Object>& sender) {
  auto field = playlistNameTextField();
  const std::string name = field ? field->stringValue() : std::string();
  auto store = DBAccess::getInstance();
  // Return ends the edit even while the button is off. A group renamed to nothing could not be
  // renamed again (the form opens to create for a group without a name): the group stays as it is.
  if (bRename_ && name.empty()) {
    closePopover(popOver());
    return;
  }
  if (bRename_) {
    if (name == originalName_) {
      showError();
      return;
    }
    if (store->renamePlaylistGroup_newName(originalName_, name))
      closePopover(popOver());
    else
      showError();
    return;
  }
  if (name.empty()) {
    closePopover(popOver());
    return;
  }
  if (store->addPlaylistGroup(name))
    closePopover(popOver());
  else
    showError();
}

// ---- the nibs ----

namespace {

ns::Ref<ak::TextField> label(const ak::Rect& frame, const std::string& text) {
  auto field = ak::make<ak::TextField>(frame);
  field->setStringValue(text);
  field->setEditable(false);
  field->setBordered(false);
  field->setDrawsBackground(false);
  return field;
}

// The name entry: an editable field in a bezel on the text background (a bare text field is a
// label that takes no keys and draws nothing while empty).
ns::Ref<ak::TextField> entryField(const ak::Rect& frame) {
  auto field = ak::make<ak::TextField>(frame);
  field->setEditable(true);
  field->setBezeled(true);
  field->setDrawsBackground(true);
  return field;
}

ns::Ref<ak::Button> pushButton(const ak::Rect& frame, const std::string& title, const char* action,
                               const ns::Ref<ns::Object>& target) {
  auto button = ak::make<ak::Button>(frame);
  button->setTitle(title);
  button->setTarget(target);
  button->setAction(ns::Sel(action));
  return button;
}

void buildNewPlaylist(ak::NibLoader& nib) {
  auto owner = nib.owner<NewPlaylistViewController>();
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, 260, 130));
  root->addSubview(label(ak::MakeRect(10, 100, 240, 20), "New Playlist"));
  auto name = entryField(ak::MakeRect(10, 72, 240, 22));
  auto check = ak::make<ak::Button>(ak::MakeRect(10, 46, 120, 20));
  check->setButtonType(ak::ButtonType::Switch);
  check->setTitle("Private");
  auto popup = ak::make<ak::PopUpButton>(ak::MakeRect(130, 44, 120, 24));
  popup->addItemWithTitle(kNoGroup);
  auto cancel = pushButton(ak::MakeRect(90, 8, 76, 28), "Cancel", "onCancelBtn:", owner);
  auto create = pushButton(ak::MakeRect(174, 8, 76, 28), "Create", "onCreateBtn:", owner);
  for (const ns::Ref<ak::View>& view : std::vector<ns::Ref<ak::View>>{name, check, popup, cancel, create})
    root->addSubview(view);
  nib.outlet([owner, root, name, check, popup, create] {
    if (!owner) return;
    owner->connectOutlets({root, name, check, create, popup});
    name->setDelegate(owner);
  });
}

void buildNewPlaylistGroup(ak::NibLoader& nib) {
  auto owner = nib.owner<NewPlaylistGroupViewController>();
  auto root = ak::make<ak::View>(ak::MakeRect(0, 0, 260, 120));
  auto title = label(ak::MakeRect(10, 92, 240, 20), "New Playlist Group");
  auto name = entryField(ak::MakeRect(10, 64, 240, 22));
  auto error = label(ak::MakeRect(10, 40, 240, 18), "A group with this name exists.");
  auto cancel = pushButton(ak::MakeRect(90, 8, 76, 28), "Cancel", "onCancelBtn:", owner);
  auto create = pushButton(ak::MakeRect(174, 8, 76, 28), "OK", "onCreateBtn:", owner);
  for (const ns::Ref<ak::View>& view : std::vector<ns::Ref<ak::View>>{title, name, error, cancel, create})
    root->addSubview(view);
  nib.outlet([owner, root, name, title, error, create] {
    if (!owner) return;
    owner->connectOutlets({root, name, title, error, create});
    name->setDelegate(owner);
  });
}

}  // namespace

void registerPlaylistFormNibs() {
  static std::once_flag once;
  std::call_once(once, [] {
    ak::Nib::registerBuilder("NewPlaylistViewController", buildNewPlaylist);
    ak::Nib::registerBuilder("NewPlaylistGroupViewController", buildNewPlaylistGroup);
  });
}

PL_CLASS(NewPlaylistViewController, ak::ViewController) {
  cls.method<&NewPlaylistViewController::onCancelBtn>("onCancelBtn:");
  cls.method<&NewPlaylistViewController::onCreateBtn>("onCreateBtn:");
  cls.method<&NewPlaylistViewController::controlTextDidChange>("controlTextDidChange:");
  cls.method<&NewPlaylistViewController::controlTextDidEndEditing>("controlTextDidEndEditing:");
}

PL_CLASS(NewPlaylistGroupViewController, ak::ViewController) {
  cls.method<&NewPlaylistGroupViewController::onCancelBtn>("onCancelBtn:");
  cls.method<&NewPlaylistGroupViewController::onCreateBtn>("onCreateBtn:");
  cls.method<&NewPlaylistGroupViewController::controlTextDidChange>("controlTextDidChange:");
  cls.method<&NewPlaylistGroupViewController::controlTextDidEndEditing>("controlTextDidEndEditing:");
}
