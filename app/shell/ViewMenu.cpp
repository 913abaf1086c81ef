#include "app/shell/ViewMenu.h"

#include "platform/appkit/Menu.h"

void addViewMenu(const ns::Ref<ak::Menu>& mainMenu) {
  if (!mainMenu) return;
  auto view = ak::Menu::initWithTitle("View");
  // No target: the key window's chain ends at the controller, in either window.
  view->addItemWithTitle_action_keyEquivalent("Enter Full Screen", ns::Sel("onToggleFullScreen:"), "f");
  mainMenu->setSubmenu_forItem(view, mainMenu->addItemWithTitle_action_keyEquivalent("View", ns::Sel(), ""));
}
