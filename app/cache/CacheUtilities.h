#pragma once
// Folders of the media cache and the cache state of a video, as the library store and the
// other subsystems reach them.
#include <functional>
#include <string>

// The user's first Application Support folder, then "Pelorin", then `fileName`. Creates nothing.
std::string getAppSupportFilePath(const std::string& fileName);

// The media-cache base folder (the user's Caches folder, then a folder named after the bundle
// identifier) followed by `name`. Creates nothing.
std::string getCacheBaseSubpath(const std::string& name);

// Forgets what the cache knows of the video (its cached and downloaded state) and posts
// "videoInfoChanged". The cache subsystem installs the work on its map and its server through
// setVideoCacheStateRemover; until then only the notification is posted.
void removeVideoCacheState(const std::string& videoId);

// Installs the work removeVideoCacheState does before posting (nullptr removes it). Answers the
// previous one.
using VideoCacheStateRemover = std::function<void(const std::string& videoId)>;
VideoCacheStateRemover setVideoCacheStateRemover(VideoCacheStateRemover remover);
