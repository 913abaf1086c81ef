#pragma once
// The video's pages on the web: the watch page and the short link, both over plain http with the
// video id as the only variable part, so that the link parsers of the video model read the id
// back; and opening the watch page in the default browser at the player's position.
#include <string>

// The web host of watch pages and the host of short links.
inline constexpr char kVideoWebHost[] = "www.youtube.com";
inline constexpr char kVideoShortLinkHost[] = "youtu.be";

// "http://<web host>/watch?v=<id>".
std::string videoWatchPageURLString(const std::string& videoId);
// "http://<short-link host>/<id>".
std::string videoShortLinkURLString(const std::string& videoId);

// Pauses the player when it plays, then opens the video's watch page in the default browser,
// with "#t=<whole seconds>" appended when the id is the video loaded in the player and its time
// is above 0 s. Answers whether the browser was started (NO for an id that could not be a
// video's). Main thread.
bool openVideoPageAtCurrentTime(const std::string& videoId);
