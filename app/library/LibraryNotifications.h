#pragma once
// Notifications the library store posts (no object, on the calling thread).

// A video's play position, played state, bookmarks or cache state changed.
inline constexpr char kVideoInfoChangedNotification[] = "videoInfoChanged";
// A local playlist group or a playlist's group changed.
inline constexpr char kPlaylistGroupChangedNotification[] = "playlistGroupChanged";

// The account cache's lists changed: its own playlists, subscriptions, feed categories, and the
// item counts of its special playlists.
inline constexpr char kUpdatePlaylistsNotification[] = "updatePlaylists";
inline constexpr char kUpdateSubscriptionsNotification[] = "updateSubscriptions";
inline constexpr char kUpdateFeedsNotification[] = "updateFeeds";
inline constexpr char kUpdateRelatedPlaylistNotification[] = "updateRelatedPlaylist";
// The list that feeds the player changed.
inline constexpr char kCurrentPlaylistChangedNotification[] = "currentPlaylistChanged";
