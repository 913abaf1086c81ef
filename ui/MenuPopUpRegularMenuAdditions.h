#pragma once
// Menus popped up under a view or under the account button, through a pop-up button cell, on a
// copy so that the caller's menu never changes.
#include "platform/appkit/Button.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/View.h"

struct MenuPopUpRegularMenuAdditions {
  // Shows a copy of the menu over the view's own frame size at (0, 0). A pull-down copy gets an
  // empty first item, which pull-down menus take as their title and never show.
  static void popUpMenu_forView_pullsDown(const ns::Ref<ak::Menu>& menu, const ns::Ref<ak::View>& view,
                                          bool pullsDown);
  // A pull-down copy over the right-hand 100 points of the button, so that it opens
  // right-aligned under it.
  static void popUpMenu_forLoginButton(const ns::Ref<ak::Menu>& menu, const ns::Ref<ak::Button>& button);
};
