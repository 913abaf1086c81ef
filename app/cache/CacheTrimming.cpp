// Cache trimming: the scan runs on a background queue; every deletion and the notifications
// run on the main queue, in the order queued.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeResponse.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/IPlayerViewController.h"
#include "common/Settings.h"
#include "platform/core/Date.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/Clock.h"

namespace {

// Partial downloads nobody read or wrote for this long are dropped.
constexpr double kPartialMaxAgeSeconds = 3600;
constexpr char kAudioSuffix[] = "_Audio";

struct Entry {
  std::string name;
  struct stat st {};
};

double seconds(const struct timespec& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The entries of a folder whose attributes could be read (links are not followed); `listed` tells
// whether the folder could be opened.
std::vector<Entry> listFolder(const std::string& folder, bool* listed = nullptr) {
  std::vector<Entry> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (listed) *listed = dir != nullptr;
  if (!dir) return entries;
  while (dirent* item = ::readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    Entry entry{name};
    if (::lstat((folder + "/" + name).c_str(), &entry.st) == 0) entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

// Whether a partial's download is moving: the video's own, or the one whose audio track it is.
bool isPartialTransferring(const std::string& videoId) {
  if (isVideoDownloading(videoId)) return true;
  std::string suffix = kAudioSuffix;
  return endsWith(videoId, suffix) && isVideoDownloading(videoId.substr(0, videoId.size() - suffix.size()));
}

// A finished file that is in use: the player's video, one a downloader works on (a new quality,
// say), or one a media-server response has open. Trimming passes over it.
bool isCachedFileInUse(const std::string& videoId) {
  auto player = playerViewController();
  if (player && player->videoId() == videoId) return true;
  return getDownloaderForVideoId(videoId) != nullptr || isVideoFileServed(videoId);
}

// The video id a file of the partial-download folder belongs to: its name less the whole
// extension ("<id>.mp4", "<id>.info", "<id>_Audio.mp4" give "<id>", "<id>", "<id>_Audio").
std::optional<std::string> partialVideoId(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::nullopt;
  return name.substr(0, dot);
}

}  // namespace

void CacheServer::removeOldCache() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  ns::Log("### removeOldCache");
  long size = getIntSetting(kCacheSizeKey);
  // The settings window writes -1 for no limit; any other negative value is a damaged setting,
  // which must not empty the cache either.
  if (size < 0) {
    ns::Log("unlimited cache size");
    return;
  }
  // Limits beyond what 64 bits count are no limit at all.
  constexpr std::int64_t kGiB = std::int64_t{1} << 30;
  const std::int64_t limit = static_cast<std::int64_t>(size) > std::numeric_limits<std::int64_t>::max() / kGiB
                                 ? std::numeric_limits<std::int64_t>::max()
                                 : static_cast<std::int64_t>(size) * kGiB;
  ns::Weak<CacheServer> weak = weakSelf<CacheServer>();
  // Each pass counts in its own totals, so that two passes at once (timer and settings button)
  // do not add to each other's; the manager takes them when the pass ends.
  dispatch::async(dispatch::globalQueue(dispatch::Priority::Background), [weak, limit] {
    std::int64_t cachedBytes = 0, downloadingBytes = 0;
    std::int32_t cachedCount = 0, downloadingCount = 0;
    struct Candidate {
      double accessed;
      std::string name;
      std::int64_t size;
    };
    std::vector<Candidate> candidates;
    auto main = dispatch::mainQueue();

    const std::string cacheFolder = getCacheFolderPath();
    bool listed = false;
    const std::vector<Entry> cached = listFolder(cacheFolder, &listed);
    noteCacheFolderListing(cacheFolder, listed);
    for (const auto& entry : cached) {
      if (!S_ISREG(entry.st.st_mode) || !endsWith(entry.name, ".mp4")) continue;
      cachedBytes += entry.st.st_size;
      ++cachedCount;
      candidates.push_back(
          {seconds(entry.st.st_atim), entry.name, static_cast<std::int64_t>(entry.st.st_size)});
    }

    const double now = ns::Clock::wallNow();
    for (const auto& entry : listFolder(getTempFolderPath())) {
      // Downloads write without touching the access time: a partial is as young as its last
      // read or write.
      double touched = std::max(seconds(entry.st.st_atim), seconds(entry.st.st_mtim));
      if (now - touched > kPartialMaxAgeSeconds) {
        // A name without an extension is none of the cache's files.
        auto videoId = partialVideoId(entry.name);
        if (!videoId) continue;
        // An old info file of a partial still in use goes with that partial, not before it.
        if (!endsWith(entry.name, ".mp4")) {
          struct stat partial {};
          std::string partialPath = getTempFolderPath() + "/" + *videoId + ".mp4";
          if (::stat(partialPath.c_str(), &partial) == 0 &&
              now - std::max(seconds(partial.st_atim), seconds(partial.st_mtim)) <= kPartialMaxAgeSeconds)
            continue;
        }
        dispatch::async(main, [videoId = *videoId] {
          if (!isPartialTransferring(videoId)) stopAndDeleteDownload(videoId);
        });
      } else if (S_ISREG(entry.st.st_mode) && endsWith(entry.name, ".mp4")) {
        downloadingBytes += entry.st.st_size;
        ++downloadingCount;
      }
    }

    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.accessed < b.accessed; });
    for (auto it = candidates.begin(); cachedBytes > limit && it != candidates.end(); ++it) {
      std::string videoId = it->name.substr(0, it->name.size() - 4);
      // The next candidate goes instead.
      if (isCachedFileInUse(videoId)) continue;
      ns::Log("Delete cached %@ %@", ns::Date::dateWithTimeIntervalSince1970(it->accessed), it->name);
      dispatch::async(main, [videoId, name = it->name] {
        // Still in use is still spared; the next pass sees it again.
        if (isCachedFileInUse(videoId)) return;
        if (isSafeVideoId(videoId)) {
          deleteCachedVideo(videoId);
          return;
        }
        // A file the cache did not make (its name is no video id, which the deletion helpers
        // refuse): it was counted as gone, so it goes by the name it was listed under, which
        // names an entry of the cache folder and nothing else.
        ::unlink((getCacheFolderPath() + "/" + name).c_str());
        removeVideoCacheState(videoId);
      });
      cachedBytes -= it->size;
      --cachedCount;
      ns::Log("cachedBytes = %@ (%d)", formatByteSize(cachedBytes), cachedCount);
    }

    dispatch::async(main, [weak, cachedBytes, cachedCount, downloadingBytes, downloadingCount] {
      if (auto self = weak.lock()) {
        self->cachedBytes_ = cachedBytes;
        self->cachedCount_ = cachedCount;
        self->downloadingBytes_ = downloadingBytes;
        self->downloadingCount_ = downloadingCount;
      }
      postNotification(kVideoInfoChangedNotification);
      postNotification(kCacheDeletedNotification);
    });
  });
}
