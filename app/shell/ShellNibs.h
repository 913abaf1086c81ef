#pragma once
// The interfaces of the shell's controllers, built in code as their nibs would be:
// "MainMenu" (with the application as owner: the application delegate and the main menu) and
// "MainWindowController" (the main window). Safe to call again. Main thread.
namespace ak {
class Menu;
class NibLoader;
}  // namespace ak
#include "platform/core/Object.h"

void registerShellNibs();

// Lets go of what the nibs' top-level objects kept (the application delegate), once the run
// is over.
void releaseShellNibObjects();

// The builders, for callers that wrap them.
void buildMainMenuNib(ak::NibLoader& nib);
void buildMainWindowNib(ak::NibLoader& nib);

// The main menu: the application menu with Quit Pelorin (Cmd-Q); File; Edit with Cut, Copy,
// Paste and Select All, sent to the first responder; Go; View with Enter Full Screen (Cmd-F);
// Playback; Account. The items of File, Go, Playback and Account go to `delegate` (the
// application delegate).
ns::Ref<ak::Menu> makeMainMenu(const ns::Ref<ns::Object>& delegate = nullptr);
