#pragma once
// Notifications the library store posts (no object, on the calling thread).

// A video's play position, played state, bookmarks or cache state changed.
inline constexpr char kVideoInfoChangedNotification[] = "videoInfoChanged";
// A local playlist group or a playlist's group changed.
inline constexpr char kPlaylistGroupChangedNotification[] = "playlistGroupChanged";
