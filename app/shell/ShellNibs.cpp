// The shell's interfaces, built in code as their nibs would be.
#include "app/shell/ShellNibs.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "app/shell/MainMenuItems.h"
#include "app/shell/MainWindowController.h"
#include "app/shell/PLMAppDelegate.h"
#include "app/shell/PLMApplication.h"
#include "app/shell/ShellKeys.h"
#include "app/shell/ViewMenu.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/Screen.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "ui/MyWindow.h"

namespace {

// The nib's top-level objects that nothing else retains (the application does not retain its
// delegate), kept for the life of the process as a loaded nib keeps them.
std::vector<ns::Ref<ns::Object>>& keptTopLevelObjects() {
  static ns::NoDestructor<std::vector<ns::Ref<ns::Object>>> objects;
  return *objects;
}

ns::Ref<ak::MenuItem> addItem(const ns::Ref<ak::Menu>& menu, const std::string& title, const char* action,
                              const std::string& key) {
  return menu->addItemWithTitle_action_keyEquivalent(title, ns::Sel(action), key);
}

}  // namespace

ns::Ref<ak::Menu> makeMainMenu(const ns::Ref<ns::Object>& delegate) {
  auto mainMenu = ak::Menu::initWithTitle("MainMenu");

  auto appMenu = ak::Menu::initWithTitle("Pelorin");
  addItem(appMenu, "Quit Pelorin", "terminate:", shellkeys::kQuit);
  mainMenu->setSubmenu_forItem(appMenu,
                               mainMenu->addItemWithTitle_action_keyEquivalent("Pelorin", ns::Sel(), ""));
  addFileMenu(mainMenu, delegate);

  // Sent to the first responder, so that the text fields cut, copy and paste.
  auto edit = ak::Menu::initWithTitle("Edit");
  addItem(edit, "Cut", "cut:", "x");
  addItem(edit, "Copy", "copy:", "c");
  addItem(edit, "Paste", "paste:", "v");
  addItem(edit, "Select All", "selectAll:", "a");
  mainMenu->setSubmenu_forItem(edit, mainMenu->addItemWithTitle_action_keyEquivalent("Edit", ns::Sel(), ""));

  addGoMenu(mainMenu, delegate);
  addViewMenu(mainMenu);
  addPlaybackAndAccountMenus(mainMenu, delegate);
  return mainMenu;
}

void buildMainMenuNib(ak::NibLoader& nib) {
  auto delegate = nib.object(ns::make<PLMAppDelegate>());
  keptTopLevelObjects().push_back(delegate);
  auto menu = makeMainMenu(delegate);
  auto app = nib.owner<ak::Application>();
  nib.outlet([app, delegate, menu] {
    if (!app) return;
    app->setMainMenu(menu);
    app->setDelegate(delegate);
  });
}

void buildMainWindowNib(ak::NibLoader& nib) {
  auto owner = nib.owner<MainWindowController>();
  const double width = MainWindowController::kDefaultWidth, height = MainWindowController::kDefaultHeight;
  // Centred on the visible frame of the main screen, within it when it is smaller.
  ak::Rect visible = ak::MakeRect(0, 0, width, height);
  if (auto screen = ak::Screen::mainScreen()) visible = screen->visibleFrame();
  const unsigned long style =
      ak::TitledWindowMask | ak::ClosableWindowMask | ak::MiniaturizableWindowMask | ak::ResizableWindowMask;
  const ak::Rect content =
      ak::MakeRect(visible.origin.x + std::max(0.0, (visible.size.width - width) / 2),
                   visible.origin.y + std::max(0.0, (visible.size.height - height) / 2), width, height);
  auto window = nib.object(ak::make<MyWindow>(content, style));
  window->setTitle("Pelorin");
  window->setReleasedWhenClosed(false);
  const ak::Rect minimum = ak::Window::frameRectForContentRect_styleMask(
      ak::MakeRect(0, 0, MainWindowController::kMinimumWidth, MainWindowController::kMinimumHeight), style);
  window->setMinSize(minimum.size);
  nib.outlet([owner, window] {
    if (owner) owner->setWindow(window);
  });
}

void releaseShellNibObjects() {
  keptTopLevelObjects().clear();
}

void registerShellNibs() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The launch makes the application object by the name Info.plist gives.
    if (!isApplicationClassRegistered()) ns::LogError("Pelorin: the application class is not registered");
    ak::Nib::registerBuilder("MainMenu", buildMainMenuNib);
    ak::Nib::registerBuilder("MainWindowController", buildMainWindowNib);
  });
}
