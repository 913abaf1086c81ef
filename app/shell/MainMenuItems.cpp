#include "app/shell/MainMenuItems.h"

#include <string>

#include "app/shell/ShellKeys.h"
#include "platform/appkit/Menu.h"

namespace {

ns::Ref<ak::Menu> submenu(const ns::Ref<ak::Menu>& mainMenu, const std::string& title) {
  auto menu = ak::Menu::initWithTitle(title);
  mainMenu->setSubmenu_forItem(menu, mainMenu->addItemWithTitle_action_keyEquivalent(title, ns::Sel(), ""));
  return menu;
}

void addItem(const ns::Ref<ak::Menu>& menu, const std::string& title, const char* action,
             const std::string& key, const ns::Ref<ns::Object>& target) {
  auto item = menu->addItemWithTitle_action_keyEquivalent(title, ns::Sel(action), key);
  if (target) item->setTarget(target);
}

}  // namespace

void addFileMenu(const ns::Ref<ak::Menu>& mainMenu, const ns::Ref<ns::Object>& target) {
  auto file = submenu(mainMenu, "File");
  addItem(file, "Export Bookmarks\u2026", "onExportBookmarks:", "", target);
  addItem(file, "Import Bookmarks\u2026", "onImportBookmarks:", "", target);
}

void addGoMenu(const ns::Ref<ak::Menu>& mainMenu, const ns::Ref<ns::Object>& target) {
  auto go = submenu(mainMenu, "Go");
  addItem(go, "Back", "onBackBtn:", shellkeys::kBack, target);
  addItem(go, "Forward", "onForwardBtn:", shellkeys::kForward, target);
  addItem(go, "Current Playlist", "onCurrentPlaylistBtn:", shellkeys::kCurrentPlaylist, target);
}

void addPlaybackAndAccountMenus(const ns::Ref<ak::Menu>& mainMenu, const ns::Ref<ns::Object>& target) {
  auto playback = submenu(mainMenu, "Playback");
  addItem(playback, "Short Seek Forward", "onShortSeekForward:", shellkeys::shortSeekForward(), target);
  addItem(playback, "Short Seek Back", "onShortSeekBack:", shellkeys::shortSeekBack(), target);
  auto account = submenu(mainMenu, "Account");
  addItem(account, "Login", "onLogin:", "", target);
  addItem(account, "Logout\u2026", "onLogout:", "", target);
}
