#pragma once
// Notifications of the browsing interface (no object, posted on the main thread). The
// current-playlist and subscription notifications are the library's (LibraryNotifications.h).
#include "app/library/LibraryNotifications.h"

// The left pane's navigation put another page on show.
inline constexpr char kNavigationChangedNotification[] = "navigationChanged";
// The search field became first responder (the spelling is the system's own).
inline constexpr char kSearchFieldActivatedNotification[] = "sesarchFieldActivated";
// Editing a source-list title ended with Return (the typed text is the node's title now), or
// any other way.
inline constexpr char kMyOutlineViewEndEditNotification[] = "MyOutlineViewEndEdit";
inline constexpr char kMyOutlineViewEndCancelNotification[] = "MyOutlineViewEndCancel";
