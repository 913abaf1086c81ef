#pragma once
// The folders of the media cache and the names of the files in them, the application's support
// folder, and the cache state of a video, as every subsystem reaches them. Nothing here creates
// a folder.
//
// Ids and file names often come from links, replies and folder listings, so the per-video and
// per-name functions answer nil instead of a path that could leave its folder: for a video id
// that is empty or holds anything but ASCII letters, digits, "-" and "_", and for a file name
// that is empty, "." or "..", or holds "/" or NUL.
#include <functional>
#include <optional>
#include <string>

// Whether the id may name per-video files: not empty, ASCII letters, digits, "-" and "_" only.
bool isSafeVideoId(const std::string& id);

// The cache base folder: the user's Caches folder, then a folder named after the bundle
// identifier. Read at each call, so that it follows the environment the process runs in.
std::string getCacheBasePath();
// base/name.
std::optional<std::string> getCacheBaseSubpath(const std::string& name);
// base/"Cache" (finished media), base/".tmp" (partial downloads), base/".info" (stored rows).
std::string getCacheFolderPath();
std::string getTempFolderPath();
std::string getInfoFolderPath();
// base/"Cache"/name and base/".tmp"/name.
std::optional<std::string> getCacheFolderFilePath(const std::string& fileName);
std::optional<std::string> getTempFolderFilePath(const std::string& fileName);
// base/"Cache"/<videoId>.mp4.
std::optional<std::string> getCachedVideoPath(const std::string& videoId);

// The user's first Application Support folder, then "Pelorin", then `fileName`.
std::optional<std::string> getAppSupportFilePath(const std::string& fileName);

// Forgets what the cache knows of the video (its cached and downloaded state) and posts
// "videoInfoChanged". The cache subsystem installs the work on its map and its server through
// setVideoCacheStateRemover; until then only the notification is posted.
void removeVideoCacheState(const std::string& videoId);

// Installs the work removeVideoCacheState does before posting (nullptr removes it). Answers the
// previous one.
using VideoCacheStateRemover = std::function<void(const std::string& videoId)>;
VideoCacheStateRemover setVideoCacheStateRemover(VideoCacheStateRemover remover);
