#pragma once
// The Account menu's Logout…: a sheet on the current window asks first, with the account's
// e-mail, and only "Log Out" signs out. The main window's showingAlert is set while the sheet is
// up and cleared on every way it ends. Main thread.
#include "platform/core/Object.h"

class IMainWindowController;

inline constexpr char kLogoutQuestion[] = "Do you want to log out?";
inline constexpr char kLogoutButtonTitle[] = "Log Out";
inline constexpr char kLogoutCancelTitle[] = "Cancel";

// False when there is no window to ask on (nothing happens then).
bool confirmLogout(const ns::Ref<IMainWindowController>& main);
