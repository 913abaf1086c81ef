#pragma once
// The main menu's View menu: "Enter Full Screen" (Cmd-F), sent along the responder chain to the
// main window controller, which titles it "Exit Full Screen" while either kind of full screen
// is on.
#include "platform/core/Object.h"

namespace ak {
class Menu;
}

void addViewMenu(const ns::Ref<ak::Menu>& mainMenu);
