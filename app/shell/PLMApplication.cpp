#include "app/shell/PLMApplication.h"

#include "app/browse/LeftViewController.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/player/PlayerViewController.h"
#include "app/shell/ShellKeys.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"

PL_CLASS(PLMApplication, ak::Application) {
  cls.method<&PLMApplication::applicationDidResignActive>("applicationDidResignActive:");
}

namespace {

ns::Ref<PlayerViewController> player() {
  return std::dynamic_pointer_cast<PlayerViewController>(playerViewController());
}

bool hasLoadedVideo(const ns::Ref<PlayerViewController>& player) {
  return player && player->videoId().has_value();
}

bool isReturn(const ak::Event& event) {
  const std::string& text = event.charactersIgnoringModifiers();
  return event.keyCode() == ak::kVK_Return || event.keyCode() == shellkeys::kKeypadEnterKeyCode ||
         text == "\r" || text == "\x03";
}

unsigned long relevantModifiers(const ak::Event& event) {
  return event.modifierFlags() &
         (ak::CommandKeyMask | ak::ShiftKeyMask | ak::ControlKeyMask | ak::AlternateKeyMask);
}

bool isKey(const ak::Event& event, const char* key, unsigned long modifiers) {
  if (relevantModifiers(event) != modifiers) return false;
  std::string text = event.charactersIgnoringModifiers();
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text == key;
}

}  // namespace

bool shellKeysHeld() {
  auto main = mainWindowController();
  return (main && main->showingAlert()) || isSharingSheetActive();
}

bool isApplicationClassRegistered() {
  return ns::NSClassFromString("PLMApplication") != nullptr;
}

PLMApplication::PLMApplication() = default;

PLMApplication::~PLMApplication() {
  if (observing_) ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void PLMApplication::finishLaunching() {
  ak::Application::finishLaunching();
  if (observing_) return;
  observing_ = true;
  ns::NotificationCenter::defaultCenter()->addObserver_selector_name_object(
      this, &PLMApplication::applicationDidResignActive,
      std::string(ak::ApplicationDidResignActiveNotification), shared_from_this());
}

void PLMApplication::applicationDidResignActive(const ns::Ref<ns::Notification>&) {
  auto main = mainWindowController();
  if (auto left = main ? main->leftViewController() : nullptr) left->closeAutoComplete();
}

void PLMApplication::sendEvent(const ns::Ref<ak::Event>& event) {
  if (event && !shellKeysHeld()) {
    auto keep = self<PLMApplication>();
    if (handleMediaKey(event) || handleListKey(event)) return;
  }
  ak::Application::sendEvent(event);
}

bool PLMApplication::handleMediaKey(const ns::Ref<ak::Event>& event) {
  if (event->type() != ak::EventType::SystemDefined || event->subtype() != shellkeys::kMediaKeySubtype)
    return false;
  const long key = (event->data1() & 0xFFFF0000l) >> 16;
  const long state = (event->data1() & 0xFF00l) >> 8;
  if (key < shellkeys::kMediaKeyPlay || key > shellkeys::kMediaKeyRewind) return false;
  if (state != shellkeys::kMediaKeyDown) return true;
  auto playerController = player();
  switch (key) {
    case shellkeys::kMediaKeyPlay:
      if (hasLoadedVideo(playerController)) playerController->playPause();
      break;
    case shellkeys::kMediaKeyNext:
      // A non-nil sender: the key goes on past the end of the list, as the next button does.
      if (auto list = currentPlaylistController()) list->nextTrack(shared_from_this());
      break;
    case shellkeys::kMediaKeyPrevious:
      if (auto list = currentPlaylistController()) list->prevTrack(shared_from_this());
      break;
    case shellkeys::kMediaKeyFast:
      if (hasLoadedVideo(playerController)) playerController->shortSeekForward();
      break;
    case shellkeys::kMediaKeyRewind:
      if (hasLoadedVideo(playerController)) playerController->shortSeekBack();
      break;
    default:
      break;
  }
  return true;
}

bool PLMApplication::handleListKey(const ns::Ref<ak::Event>& event) {
  if (event->type() != ak::EventType::KeyDown) return false;
  auto main = mainWindowController();
  auto left = main ? main->leftViewController() : nullptr;
  auto list = left ? left->getVisiblePlaylistViewController() : nullptr;
  auto table = list ? list->tableView() : nullptr;
  auto window = keyWindow();
  if (!table || !window) return false;
  auto fullScreen = main->fullScreenWindow();
  if (window != main->window() && !(fullScreen && window == fullScreen)) return false;
  // Only the list's own table routes them: typed into the search field they stay text.
  if (window->firstResponder() != std::static_pointer_cast<ak::Responder>(table)) return false;

  const ak::Event& key = *event;
  if (isReturn(key) && !(key.modifierFlags() & (ak::CommandKeyMask | ak::ControlKeyMask))) {
    list->processEnterKey();
    return true;
  }
  if (key.keyCode() == shellkeys::kF2KeyCode ||
      key.charactersIgnoringModifiers() == ak::functionKeyString(shellkeys::kF2Character))
    return list->editSelectedVideoTitle();
  if (isKey(key, shellkeys::kFavoritesKey, ak::CommandKeyMask)) return list->addOrRemoveFavorites();
  if (isKey(key, shellkeys::kAddToKey, ak::CommandKeyMask | ak::ShiftKeyMask)) return list->showAddToMenu();
  return false;
}
