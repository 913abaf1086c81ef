#pragma once
// Notifications the download engine posts (no object, on the posting thread).

// A video's local state changed (cached, downloaded, forgotten) or a download moved on.
inline constexpr char kVideoInfoChangedNotification[] = "videoInfoChanged";
// A video-and-audio pair was joined: the player reloads the video at the same position.
inline constexpr char k1080pStatusChangedNotification[] = "1080pStatusChanged";
// An audio transfer started (observed by nothing in the application).
inline constexpr char kLeftMenuNeedRefreshNotification[] = "leftMenuNeedRefresh";
// A trimming pass of the cache ended (after its deletions): the settings window refreshes its
// cache sizes.
inline constexpr char kCacheDeletedNotification[] = "cacheDeleted";
