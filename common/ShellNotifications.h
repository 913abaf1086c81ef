#pragma once
// Notifications the application shell posts (no object, on the posting thread).

// The settings window stored a change of the settings.
inline constexpr char kSettingsChangedNotification[] = "settingsChanged";
// The main window entered or left full screen.
inline constexpr char kFullScreenChangedNotification[] = "fullScreenChanged";
// The user signed in or out.
inline constexpr char kLoginStateChangedNotification[] = "loginStateChanged";
