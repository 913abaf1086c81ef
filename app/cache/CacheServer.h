#pragma once
// The cache manager: it runs the local media server the player plays every cached or
// downloading video through, decides every 5 s what downloads (by the "cachePolicy" setting and
// the manual download queue), tells the lists every second when a download moved on, trims the
// cache every 300 s and runs the Download command with its quality question.
//
// One per application, made by the main window controller and reached through
// mainWindowController()->cacheServer(). A main-thread object: its timers fire on the main run
// loop, and the menus and the settings window call in on the main thread. While it lives it is
// the download engine's cache manager (CacheState.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/cache/CacheState.h"
#include "platform/core/Object.h"

class HTTPServer;
namespace ns {
class Timer;
class URL;
}  // namespace ns

// The next video of the list the player plays from, as the next-track command would play it,
// or nil. The browsing interface installs it; until then there is no next video.
using NextVideoIdProvider = std::function<std::optional<std::string>()>;
// Installs the provider and answers the previous one.
NextVideoIdProvider setNextVideoIdProvider(NextVideoIdProvider provider);
std::optional<std::string> currentPlaylistNextVideoId();

// Asks which quality to download a video in: its title, the choices in order, and what to run on
// the main thread with the index of the choice taken (nothing when the question was cancelled).
using DownloadQualityQuestion =
    std::function<void(const std::string& title, const std::vector<std::string>& choices,
                       std::function<void(std::optional<std::size_t> choice)> answer)>;
// Installs the question and answers the previous one; main thread only. The shell installs its
// sheet at launch; until one is installed, the Download command does not ask and goes on as with
// "askQuality" off.
DownloadQualityQuestion setDownloadQualityQuestion(DownloadQualityQuestion question);

class CacheServer : public ns::Object {
 public:
  static constexpr int kDefaultPort = 22435;

  // Starts the three timers and becomes the download engine's cache manager. The server is not
  // started here (see start). `firstPort` is where the port search begins.
  explicit CacheServer(int firstPort = kDefaultPort);
  ~CacheServer() override;
  CacheServer(const CacheServer&) = delete;
  CacheServer& operator=(const CacheServer&) = delete;

  std::string className() const override { return "CacheServer"; }

  // ---- the local media server ----

  // Listens on "127.0.0.1" at the first port from serverPort upward that can be bound; past
  // 65535, at a port the system picks. Returns once it listens.
  void start();
  // Makes every response so far stale, stops the server (closing its connections) and starts
  // it again, on the same port when it is free.
  void restart();
  // "http://127.0.0.1:<serverPort>/youtube/<id>/18/<id>.mp4".
  ns::Ref<ns::URL> urlForVideoId(const std::string& videoId) const;
  std::string urlStringForVideoId(const std::string& videoId) const;
  int serverPort() const { return serverPort_; }
  const ns::Ref<HTTPServer>& httpServer() const { return httpServer_; }

  // ---- the cache manager ----

  void startDownloadTimer();
  void startRefreshTimer();
  // Replaces the running trimming timer; the settings window calls it when the limit changes.
  void startFlushTimer();
  // Posts "videoInfoChanged" when a download marked a change since the last tick.
  void refresh();
  // The 5 s caching step.
  void runCacheAlgorithm();
  // Starts or continues the video's download; false when it has a cache state or an error, or
  // cannot start.
  bool startDownload_startAlways(const std::optional<std::string>& videoId, bool always);
  // Manual downloads that started and then failed or stalled start again once their retry
  // delay has passed; those that run are checked for stalls.
  void resumeStartedManualDownloads();
  // Resumes the started manual downloads, then works through the manual queue; true when a
  // queued download runs or was started.
  bool processManualQueue();
  // The Cache Video command.
  void addManualDownloadVideoId(const std::string& videoId);
  void removeManualDownloadVideoId(const std::string& videoId);

  std::vector<std::string> manualCacheQueue() const;
  void setManualCacheQueue(std::vector<std::string> queue);
  std::vector<std::string> manualCacheStartedQueue() const;
  void setManualCacheStartedQueue(std::vector<std::string> queue);

  // ---- cache trimming ----

  // Trims the cache in the background to the "cacheSize" limit (GiB; -1: none), oldest read
  // first, and drops partial downloads nobody read or wrote for an hour; then posts
  // "videoInfoChanged" and "cacheDeleted". Returns at once.
  void removeOldCache();
  // Totals of the last finished trimming pass.
  std::int64_t cachedBytes() const { return cachedBytes_; }
  std::int32_t cachedCount() const { return cachedCount_; }
  std::int64_t downloadingBytes() const { return downloadingBytes_; }
  std::int32_t downloadingCount() const { return downloadingCount_; }

  // ---- the Download command ----

  // Saves the video into the download folder: `listTitle` is the title of the list the command
  // came from (a subfolder when "appendPlaylistNameToDownloadPath" is on).
  void addManualDownloadVideoId_withTitle_fromViewController(const std::string& videoId,
                                                             const std::string& title,
                                                             const std::optional<std::string>& listTitle);
  void _startManualDownload_withTitle_playlistTitle(const std::string& videoId, const std::string& title,
                                                    const std::optional<std::string>& playlistTitle);
  void deleteDownloadedFile(const std::string& videoId);
  void moveDownloadedToCache(const std::string& videoId);
  // The sheet's buttons for a stream map's itags and the cached copy's height (0: none), in
  // order: "1080p", "720p", "360p", "240p", the cached one with " (Cached)".
  static std::vector<std::string> qualityChoices(const std::vector<std::int32_t>& itags, int cachedHeight);

  // The timers, for tests.
  const ns::Ref<ns::Timer>& downloadTimer() const { return downloadTimer_; }
  const ns::Ref<ns::Timer>& refreshTimer() const { return refreshTimer_; }
  const ns::Ref<ns::Timer>& flushCacheTimer() const { return flushCacheTimer_; }

 private:
  // A cached copy moves into the download folder, else the download starts at the preferred quality.
  void saveWithoutAsking(const std::string& videoId, const std::string& title,
                         const std::optional<std::string>& listTitle);
  void askQuality(const std::string& videoId, const std::string& title,
                  const std::optional<std::string>& listTitle, const std::vector<std::int32_t>& itags);
  void qualityChosen(const std::string& videoId, const std::string& title,
                     const std::optional<std::string>& listTitle, const std::string& choice);
  // Removes the first entry equal to the id; answers whether there was one.
  static bool removeFirst(std::vector<std::string>& queue, const std::string& videoId);

  ns::Ref<HTTPServer> httpServer_;
  int serverPort_;
  ns::Ref<ns::Timer> downloadTimer_;
  ns::Ref<ns::Timer> refreshTimer_;
  ns::Ref<ns::Timer> flushCacheTimer_;
  std::int64_t cachedBytes_ = 0;
  std::int64_t downloadingBytes_ = 0;
  std::int32_t cachedCount_ = 0;
  std::int32_t downloadingCount_ = 0;
  mutable std::mutex queueMutex_;
  std::vector<std::string> manualCacheQueue_;
  std::vector<std::string> manualCacheStartedQueue_;
  // The engine's hooks this manager replaced; put back when it goes.
  CacheManagerHooks previousHooks_;
  // Points at this manager while it lives; its hooks hold it weakly.
  std::shared_ptr<CacheServer*> alive_;
};
