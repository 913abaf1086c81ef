#pragma once
// Notifications of the browsing interface (no object, posted on the main thread).

// The left pane's navigation put another page on show.
inline constexpr char kNavigationChangedNotification[] = "navigationChanged";
// The list that feeds the player changed, or its playing row did.
inline constexpr char kCurrentPlaylistChangedNotification[] = "currentPlaylistChanged";
// The account cache's subscriptions changed.
inline constexpr char kUpdateSubscriptionsNotification[] = "updateSubscriptions";
// The search field became first responder (the spelling is the system's own).
inline constexpr char kSearchFieldActivatedNotification[] = "sesarchFieldActivated";
