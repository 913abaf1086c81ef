#include "app/cache/CacheState.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "app/cache/CacheFiles.h"
#include "app/cache/CacheNotifications.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/cache/YoutubeResponse.h"
#include "app/library/DBAccess.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/IPlayerViewController.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/WarnOnce.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileManager.h"

namespace {

struct Tables {
  std::mutex mutex;
  std::optional<std::map<std::string, int>> states;
  std::optional<std::map<std::string, std::string>> errors;
  std::map<std::string, ns::Ref<YoutubeDownloader>> registry;
  CacheManagerHooks hooks;
};

Tables& tables() {
  static ns::NoDestructor<Tables> instance;
  return *instance;
}

// The cache folders this process said it cannot read: the scans and the trimming passes that
// follow fail the same way, and one warning tells the user.
ns::WarnOnce& unreadableFolders() {
  static ns::NoDestructor<ns::WarnOnce> instance;
  return *instance;
}

// Builds the map when it does not exist yet. The scan reads the library store, which may call
// back into the state functions, so it runs outside the lock.
void ensureStates() {
  auto& t = tables();
  {
    std::lock_guard lock(t.mutex);
    if (t.states) return;
  }
  auto scanned = scanVideoCacheStates();
  std::lock_guard lock(t.mutex);
  if (!t.states) t.states = std::move(scanned);
}

int stateOf(const std::string& videoId) {
  ensureStates();
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  auto it = t.states->find(videoId);
  return it == t.states->end() ? 0 : it->second;
}

void removeItem(const std::optional<std::string>& path) {
  if (path) ns::FileManager::defaultManager()->removeItemAtPath_error(*path, nullptr);
}

std::optional<std::string> infoCellPath(const std::string& videoId) {
  if (!isSafeVideoId(videoId)) return std::nullopt;
  return getInfoFolderPath() + "/" + videoId + ".cell";
}

// The recorded path of the video's saved copy when it names a regular file. The library store
// may record any path: whatever else is there (a folder, say) is the user's and is never moved
// or deleted as a video.
std::optional<std::string> savedVideoFilePath(const std::string& videoId) {
  auto path = getDownloadedVideoPath(videoId);
  struct stat st {};
  if (!path || ::lstat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return path;
}

// The work behind the shell's removeVideoCacheState, which posts "videoInfoChanged" after it.
void forgetState(const std::string& videoId) {
  ensureStates();
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    t.states->erase(videoId);
  }
  cacheManagerRemoveManualDownloadVideoId(videoId);
}

}  // namespace

// ---- cache state ----

void noteCacheFolderListing(const std::string& folder, bool listed) {
  if (listed) {
    unreadableFolders().forget(folder);
    return;
  }
  // Tried again for the reason: the listing's caller may have lost its errno on the way.
  checkCacheFolder(folder);
}

void checkCacheFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir) {
    ::closedir(dir);
    noteCacheFolderListing(folder, true);
    return;
  }
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR) return;
  unreadableFolders().warn(
      folder,
      ns::format("CacheState: the cache folder %@ cannot be read (%@); the videos in it are left as they are",
                 folder, std::string(std::strerror(error))));
}

void makeCacheFolders() {
  const std::string base = getCacheBasePath();
  const std::string cache = getCacheFolderPath();
  // The folders each reason stopped, in the order they were tried.
  std::vector<std::pair<std::string, std::vector<std::string>>> failures;
  for (const std::string& folder : {cache, getTempFolderPath(), getInfoFolderPath()}) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && std::filesystem::is_directory(folder, error)) continue;
    const std::string reason = error ? error.message() : std::string("a file is in its place");
    auto same =
        std::find_if(failures.begin(), failures.end(), [&](const auto& f) { return f.first == reason; });
    if (same == failures.end()) same = failures.insert(failures.end(), {reason, {}});
    same->second.push_back(folder);
  }
  bool cacheMade = true;
  for (const auto& [reason, folders] : failures) {
    std::string names;
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (i) names += i + 1 == folders.size() ? " and " : ", ";
      names += std::filesystem::path(folders[i]).filename().string();
    }
    // Said under the first folder's name: where that is the cache folder, its check below and the
    // scans that follow fail for the same reason and stay quiet.
    unreadableFolders().warn(
        folders.front(),
        ns::format("CacheState: cannot create the cache %@ %@ in %@: %@",
                   std::string(folders.size() == 1 ? "folder" : "folders"), names, base, reason));
    if (folders.front() == cache) cacheMade = false;
  }
  // A cache folder that is there but cannot be listed (mode 000, another user's) is said now, not
  // first when a list asks for the cached videos, which may be never.
  if (cacheMade) checkCacheFolder(cache);
}

std::map<std::string, int> scanVideoCacheStates() {
  std::map<std::string, int> states;
  auto manager = ns::FileManager::defaultManager();
  std::string folder = getCacheFolderPath();
  auto names = manager->contentsOfDirectoryAtPath_error(folder, nullptr);
  noteCacheFolderListing(folder, names.has_value());
  if (names) {
    for (const auto& name : *names) {
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".mp4") != 0) continue;
      auto attributes = manager->attributesOfItemAtPath_error(folder + "/" + name, nullptr);
      if (!attributes) continue;
      const ns::Value& type = attributes->objectForKey(ns::NSFileType);
      if (!type.isString() || type.string() != ns::NSFileTypeRegular) continue;
      states[name.substr(0, name.size() - 4)] = 1;
    }
  }
  for (const auto& videoId : DBAccess::getInstance()->getDownloadedVideoArray()) states[videoId] = 2;
  return states;
}

bool isVideoCached(const std::string& videoId) {
  return stateOf(videoId) == 1;
}
bool isVideoDownloaded(const std::string& videoId) {
  return stateOf(videoId) == 2;
}

bool hasVideoCacheState(const std::string& videoId) {
  return stateOf(videoId) != 0;
}

void setVideoCacheState(const std::string& videoId, bool cached) {
  ensureStates();
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    (*t.states)[videoId] = cached ? 1 : 2;
  }
  cacheManagerRemoveManualDownloadVideoId(videoId);
  postNotification(kVideoInfoChangedNotification);
}

std::vector<std::string> getCachedVideoIdArray() {
  ensureStates();
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  std::vector<std::string> ids;
  for (const auto& [videoId, state] : *t.states) ids.push_back(videoId);
  return ids;
}

std::int64_t getVideoFileSize(const std::string& videoId) {
  std::optional<std::string> path =
      isVideoDownloaded(videoId) ? getDownloadedVideoPath(videoId) : getCachedVideoPath(videoId);
  if (!path) return 0;
  auto attributes = ns::FileManager::defaultManager()->attributesOfItemAtPath_error(*path, nullptr);
  if (!attributes) return 0;
  // Only a file is a video: a folder under the name has no size to speak of.
  const ns::Value& type = attributes->objectForKey(ns::NSFileType);
  if (!type.isString() || type.string() != ns::NSFileTypeRegular) return 0;
  return attributes->objectForKey(ns::NSFileSize).longLongValue();
}

bool moveCachedVideoToDownloadFolder(const std::string& videoId, const std::string& title,
                                     const std::optional<std::string>& playlistTitle) {
  if (!isVideoCached(videoId)) return false;
  auto cachePath = getCachedVideoPath(videoId);
  auto manager = ns::FileManager::defaultManager();
  if (!cachePath || !manager->fileExistsAtPath(*cachePath)) return false;
  std::string savePath = getUniqueDownloadFilePath(title, playlistTitle);
  ns::Log("title = %@", title);
  ns::Log("savePath = %@", savePath);
  manager->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
      getDownloadFolderPath(playlistTitle), true, {}, nullptr);
  ns::Error error;
  if (!manager->moveItemAtPath_toPath_error(*cachePath, savePath, &error)) {
    ns::Log("cachePath = %@", *cachePath);
    ns::Log("savePath = %@", savePath);
    ns::LogError("XXX file move error 1!!! : %@", error.localizedDescription());
    return false;
  }
  saveDownloadedVideoPath(videoId, savePath);
  setVideoCacheState(videoId, false);
  return true;
}

bool moveDownloadedVideoToCache(const std::string& videoId) {
  if (!isVideoDownloaded(videoId)) return false;
  auto savePath = savedVideoFilePath(videoId);
  auto cachePath = getCachedVideoPath(videoId);
  auto manager = ns::FileManager::defaultManager();
  if (!savePath || !cachePath) return false;
  if (!manager->moveItemAtPath_toPath_error(*savePath, *cachePath, nullptr)) {
    ns::Log("cachePath = %@", *cachePath);
    ns::Log("savePath = %@", *savePath);
    ns::LogError("XXX file move error 2!!!");
    return false;
  }
  saveDownloadedVideoPath(videoId, std::nullopt);
  setVideoCacheState(videoId, true);
  return true;
}

void deleteCachedVideo(const std::string& videoId) {
  if (isSafeVideoId(videoId)) {
    removeItem(getCachedVideoPath(videoId));
    removeItem(getCacheFolderFilePath(videoId + ".info"));
    removeItem(infoCellPath(videoId));
  }
  removeVideoCacheState(videoId);
}

void deleteDownloadedVideo(const std::string& videoId) {
  if (isVideoDownloaded(videoId)) removeItem(savedVideoFilePath(videoId));
  removeVideoCacheState(videoId);
}

// ---- download errors ----

void recordDownloadError(const std::string& videoId, const std::optional<std::string>& errorText) {
  dispatch::async(dispatch::mainQueue(), [videoId, errorText] {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    if (!t.errors) t.errors.emplace();
    if (errorText)
      (*t.errors)[videoId] = *errorText;
    else
      t.errors->erase(videoId);
  });
}

bool hasDownloadError(const std::string& videoId) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  return t.errors && t.errors->count(videoId) > 0;
}

std::optional<std::string> getDownloadError(const std::string& videoId) {
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    if (t.errors) {
      auto it = t.errors->find(videoId);
      if (it != t.errors->end()) return it->second;
    }
  }
  // An error reply the download waits out: shown, though the video is not in error for the run.
  if (auto downloader = getDownloaderForVideoId(videoId)) {
    std::string text = downloader->downloadErrorText();
    if (!text.empty()) return text;
  }
  return std::nullopt;
}

// ---- downloader registry ----

ns::Ref<YoutubeDownloader> getDownloaderForVideoId(const std::string& videoId) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  auto it = t.registry.find(videoId);
  return it == t.registry.end() ? nullptr : it->second;
}

std::vector<ns::Ref<YoutubeDownloader>> registeredDownloaders() {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  std::vector<ns::Ref<YoutubeDownloader>> all;
  for (const auto& [videoId, downloader] : t.registry) all.push_back(downloader);
  return all;
}

ns::Ref<YoutubeDownloader> registerDownloader(const ns::Ref<YoutubeDownloader>& downloader) {
  auto& t = tables();
  std::unique_lock lock(t.mutex);
  auto& slot = t.registry[downloader->videoid()];
  auto previous = slot;
  slot = downloader;
  lock.unlock();
  // A response waiting for the video's download to begin, or on the one replaced, looks again.
  YoutubeResponse::downloadChanged(downloader->videoid());
  return previous;
}

void unregisterDownloader(const YoutubeDownloader* downloader) {
  ns::Ref<YoutubeDownloader> leaving;
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    auto it = t.registry.find(downloader->videoid());
    if (it == t.registry.end() || it->second.get() != downloader) return;
    leaving = std::move(it->second);
    t.registry.erase(it);
  }
  YoutubeResponse::downloadChanged(downloader->videoid());
  // `leaving` may be the last reference: it goes here, outside the lock.
}

void stopAllDownloads() {
  for (const auto& downloader : registeredDownloaders())
    if (!downloader->isComplete()) downloader->stopDownload();
}

bool isAnyDownloadActive() {
  for (const auto& downloader : registeredDownloaders())
    if ((downloader->isDownloading() || downloader->isAudioDownloading()) && !downloader->isError())
      return true;
  return false;
}

bool isVideoDownloading(const std::string& videoId) {
  auto downloader = getDownloaderForVideoId(videoId);
  return downloader && (downloader->isDownloading() || downloader->isAudioDownloading());
}

bool isVideoManualDownloading(const std::string& videoId) {
  auto downloader = getDownloaderForVideoId(videoId);
  return downloader && (downloader->isDownloading() || downloader->isAudioDownloading()) &&
         downloader->bDownload();
}

void stopAndDeleteDownload(const std::string& videoId) {
  if (auto downloader = getDownloaderForVideoId(videoId)) {
    downloader->stopAndDelete();
    unregisterDownloader(downloader.get());
  }
  if (!isSafeVideoId(videoId)) return;
  removeItem(getTempFolderFilePath(videoId + ".mp4"));
  removeItem(getTempFolderFilePath(videoId + ".info"));
  removeItem(infoCellPath(videoId));
}

void playVideoIfCurrent(const std::string& videoId) {
  auto player = playerViewController();
  if (player && player->videoId() == videoId) player->play();
}

// ---- the cache manager's side ----

CacheManagerHooks setCacheManagerHooks(CacheManagerHooks hooks) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  std::swap(t.hooks, hooks);
  return hooks;
}

void cacheManagerRemoveManualDownloadVideoId(const std::string& videoId) {
  std::function<void(const std::string&)> hook;
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    hook = t.hooks.removeManualDownloadVideoId;
  }
  if (hook) hook(videoId);
}

void cacheManagerRestartServer() {
  std::function<void()> hook;
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    hook = t.hooks.restartServer;
  }
  if (hook) hook();
}

void installCacheStateFunctions() {
  setVideoCacheStateRemover(forgetState);
}

void resetCacheStateTablesForTesting() {
  for (const auto& downloader : registeredDownloaders()) downloader->stopDownload();
  std::map<std::string, ns::Ref<YoutubeDownloader>> leaving;
  {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    t.states.reset();
    t.errors.reset();
    leaving.swap(t.registry);
  }
}
