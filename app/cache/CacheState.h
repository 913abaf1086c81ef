#pragma once
// The process-wide tables every subsystem asks about a video's local copy: the cache-state map
// (1: the finished file is Cache/<id>.mp4; 2: it was saved to the download folder), the
// download-error table, and the registry of downloaders by video id; and the operations that
// move, delete and forget a video's files.
//
// The tables are changed on the main thread; the media server reads the registry and the
// downloaders from its own queue, so every table sits behind a lock. Ids that cannot name a
// file (see isSafeVideoId) have no files: the file operations refuse them.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class YoutubeDownloader;

// ---- cache state ----

// A new map from the "Cache" folder (regular files "<id>.mp4" -> 1) and the library store's
// downloaded videos (-> 2, replacing a 1).
std::map<std::string, int> scanVideoCacheStates();
// Records whether a listing of the cache folder worked. The first failure says once, as a
// warning, that the folder cannot be read and why; a listing that works again forgets it. A folder
// that is missing or is no folder is left to the code that creates the folders to report.
void noteCacheFolderListing(const std::string& folder, bool listed);
// Opens the cache folder to learn whether it can be listed, and notes that as above.
void checkCacheFolder(const std::string& folder);
// Makes the cache folders ("Cache", ".tmp", ".info") where they are missing, then checks the
// cache folder as above. What keeps them from being made (a cache base the user may not read or
// write, a file in a folder's place) is said once, in one warning for each reason whatever the
// number of folders it stops; the cache folder's own check, which fails for the same reason, says
// nothing more.
void makeCacheFolders();
bool isVideoCached(const std::string& videoId);
bool isVideoDownloaded(const std::string& videoId);
bool hasVideoCacheState(const std::string& videoId);
// State 1 when `cached`, else 2; drops the id from the manual queues; posts "videoInfoChanged".
void setVideoCacheState(const std::string& videoId, bool cached);
// Every id with a state, cached or downloaded.
std::vector<std::string> getCachedVideoIdArray();
// Size of the saved file (state 2) or of Cache/<id>.mp4; 0 when it cannot be read.
std::int64_t getVideoFileSize(const std::string& videoId);
bool moveCachedVideoToDownloadFolder(const std::string& videoId, const std::string& title,
                                     const std::optional<std::string>& playlistTitle);
bool moveDownloadedVideoToCache(const std::string& videoId);
void deleteCachedVideo(const std::string& videoId);
void deleteDownloadedVideo(const std::string& videoId);

// ---- download errors ----

// Stores the text under the id on the main queue; a nil text removes the entry.
void recordDownloadError(const std::string& videoId, const std::optional<std::string>& errorText);
bool hasDownloadError(const std::string& videoId);
// The stored text; else, while the video's download waits out an error reply, that reply's
// status ("HTTP 404"), which does not put the video in error.
std::optional<std::string> getDownloadError(const std::string& videoId);

// ---- downloader registry ----

ns::Ref<YoutubeDownloader> getDownloaderForVideoId(const std::string& videoId);
// Stops every registered downloader that is not complete.
void stopAllDownloads();
// Some downloader transfers and is not in error.
bool isAnyDownloadActive();
bool isVideoDownloading(const std::string& videoId);
bool isVideoManualDownloading(const std::string& videoId);
// Stops and deletes the video's downloader and its files, then deletes .tmp/<id>.mp4,
// .tmp/<id>.info and .info/<id>.cell.
void stopAndDeleteDownload(const std::string& videoId);
// Tells the player to play when the video is the one it shows.
void playVideoIfCurrent(const std::string& videoId);

// Enters the downloader under its id, answering the one it replaces (nil when none).
ns::Ref<YoutubeDownloader> registerDownloader(const ns::Ref<YoutubeDownloader>& downloader);
// Removes the id's entry when it is this downloader.
void unregisterDownloader(const YoutubeDownloader* downloader);
// Every registered downloader (a copy).
std::vector<ns::Ref<YoutubeDownloader>> registeredDownloaders();

// ---- the cache manager's side ----

// What the state functions ask of the cache manager: drop an id from the manual download
// queues, and restart the local media server. The cache manager installs them; until then
// they do nothing.
struct CacheManagerHooks {
  std::function<void(const std::string& videoId)> removeManualDownloadVideoId;
  std::function<void()> restartServer;
};
// Installs the hooks and answers the previous ones.
CacheManagerHooks setCacheManagerHooks(CacheManagerHooks hooks);
void cacheManagerRemoveManualDownloadVideoId(const std::string& videoId);
void cacheManagerRestartServer();

// Installs the cache's work behind the shell's removeVideoCacheState (the map entry and the
// manual queues). The launch calls it once.
void installCacheStateFunctions();
// Forgets the map (the next reader scans again) and the error table, and stops and drops every
// registered downloader; for tests.
void resetCacheStateTablesForTesting();
