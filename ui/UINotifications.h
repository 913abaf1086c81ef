#pragma once
// Notifications the custom controls post (no object, on the posting thread).

// A search field became first responder.
inline constexpr char kSearchFieldActivatedNotification[] = "sesarchFieldActivated";
