#pragma once
// The main menu's File, Go, Playback and Account menus, their items sent to the application
// delegate (the explicit target; nil leaves them to the responder chain, which ends there).
#include "platform/core/Object.h"

namespace ak {
class Menu;
}

// File: Export Bookmarks…, Import Bookmarks….
void addFileMenu(const ns::Ref<ak::Menu>& mainMenu, const ns::Ref<ns::Object>& target);
// Go: Back (Cmd-[), Forward (Cmd-]), Current Playlist (Cmd-L).
void addGoMenu(const ns::Ref<ak::Menu>& mainMenu, const ns::Ref<ns::Object>& target);
// Playback: Short Seek Forward (Cmd-→), Short Seek Back (Cmd-←); Account: Login, Logout….
void addPlaybackAndAccountMenus(const ns::Ref<ak::Menu>& mainMenu, const ns::Ref<ns::Object>& target);
