// The cache manager's server, timers, caching step and manual queue.
#include "app/cache/CacheServer.h"

#include <algorithm>
#include <atomic>

#include "app/cache/CacheNotifications.h"
#include "app/cache/MyHTTPConnection.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/cache/YoutubeResponse.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/IPlayerViewController.h"
#include "common/Settings.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileManager.h"
#include "platform/net/URL.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

namespace {

struct NextVideoHook {
  std::mutex mutex;
  NextVideoIdProvider provider;
};

NextVideoHook& nextVideoHook() {
  static ns::NoDestructor<NextVideoHook> hook;
  return *hook;
}

std::optional<std::string> currentVideoId() {
  auto player = playerViewController();
  return player ? player->videoId() : std::nullopt;
}

bool isEmptyId(const std::optional<std::string>& videoId) {
  return !videoId || videoId->empty();
}

// A repeating timer on the main run loop.
ns::Ref<ns::Timer> repeatingTimer(double interval, std::function<void()> action) {
  auto timer = ns::Timer::timerWithTimeInterval_repeats_block(
      interval, true, [action = std::move(action)](const ns::Ref<ns::Timer>&) { action(); });
  timer->setTolerance(0.5);
  ns::RunLoop::mainRunLoop()->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  return timer;
}

void invalidate(ns::Ref<ns::Timer>& timer) {
  if (timer) timer->invalidate();
  timer = nullptr;
}

}  // namespace

NextVideoIdProvider setNextVideoIdProvider(NextVideoIdProvider provider) {
  auto& hook = nextVideoHook();
  std::lock_guard lock(hook.mutex);
  std::swap(hook.provider, provider);
  return provider;
}

std::optional<std::string> currentPlaylistNextVideoId() {
  NextVideoIdProvider provider;
  {
    auto& hook = nextVideoHook();
    std::lock_guard lock(hook.mutex);
    provider = hook.provider;
  }
  return provider ? provider() : std::nullopt;
}

namespace {
// The manager whose hooks the download engine calls now.
std::atomic<CacheServer*> installedManager{nullptr};
}  // namespace

// The timers capture this object: the destructor, which runs on the main thread as they fire,
// takes them back before it goes. The hooks hold it weakly, as whatever replaces them may keep
// them for later.
CacheServer::CacheServer(int firstPort)
    : serverPort_(firstPort), alive_(std::make_shared<CacheServer*>(this)) {
  std::weak_ptr<CacheServer*> weak = alive_;
  previousHooks_ = setCacheManagerHooks(CacheManagerHooks{[weak](const std::string& videoId) {
                                                            if (auto self = weak.lock())
                                                              (*self)->removeManualDownloadVideoId(videoId);
                                                          },
                                                          [weak] {
                                                            if (auto self = weak.lock()) (*self)->restart();
                                                          }});
  installedManager = this;
  // The folders the server serves from and the downloads write into, and the library store's
  // (the cache state reads the store's downloaded videos): on a first start nothing made them.
  std::string storeFolder = getAppSupportFilePath("pelorin_web.db").value();
  storeFolder.erase(storeFolder.rfind('/'));
  for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath(), storeFolder})
    ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
        folder, true, {}, nullptr);
  startDownloadTimer();
  startRefreshTimer();
  startFlushTimer();
}

CacheServer::~CacheServer() {
  alive_.reset();
  invalidate(downloadTimer_);
  invalidate(refreshTimer_);
  invalidate(flushCacheTimer_);
  // A manager made after this one keeps its own hooks.
  CacheServer* self = this;
  if (installedManager.compare_exchange_strong(self, nullptr)) setCacheManagerHooks(previousHooks_);
  if (httpServer_) httpServer_->stop();
}

// ---- the local media server ----

void CacheServer::start() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  while (true) {
    // Ports run out past 65535: the system picks one then.
    bool anyPort = serverPort_ > 65535 || serverPort_ < 0;
    auto server = ns::make<HTTPServer>();
    httpServer_ = server;
    server->setConnectionClass<MyHTTPConnection>();
    server->setPort(anyPort ? 0 : static_cast<std::uint16_t>(serverPort_));
    server->setInterface(std::string("127.0.0.1"));
    server->setDocumentRoot(getCacheFolderPath());
    if (server->start(nullptr)) {
      serverPort_ = server->listeningPort();
      return;
    }
    // Not even a port of the system's choice: nothing listens, and searching on would not help.
    if (anyPort) return;
    ++serverPort_;
  }
}

void CacheServer::restart() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  ++serverCount;
  YoutubeResponse::wakeAll();
  if (httpServer_) httpServer_->stop();
  start();
}

std::string CacheServer::urlStringForVideoId(const std::string& videoId) const {
  return ns::format("http://127.0.0.1:%d/youtube/%@/18/%@.mp4", serverPort_, videoId, videoId);
}

ns::Ref<ns::URL> CacheServer::urlForVideoId(const std::string& videoId) const {
  return ns::URL::URLWithString(urlStringForVideoId(videoId));
}

// ---- timers ----

void CacheServer::startDownloadTimer() {
  invalidate(downloadTimer_);
  // The destructor invalidates the timer, so it never fires for a server that is gone.
  downloadTimer_ = repeatingTimer(5.0, [this] { runCacheAlgorithm(); });
}

void CacheServer::startRefreshTimer() {
  invalidate(refreshTimer_);
  // The destructor invalidates the timer, so it never fires for a server that is gone.
  refreshTimer_ = repeatingTimer(1.0, [this] { refresh(); });
}

void CacheServer::startFlushTimer() {
  invalidate(flushCacheTimer_);
  // The destructor invalidates the timer, so it never fires for a server that is gone.
  flushCacheTimer_ = repeatingTimer(300.0, [this] { removeOldCache(); });
}

void CacheServer::refresh() {
  if (takeVideoInfoDirty()) postNotification(kVideoInfoChangedNotification);
}

// ---- the caching step ----

bool CacheServer::startDownload_startAlways(const std::optional<std::string>& videoId, bool always) {
  if (isEmptyId(videoId) || hasVideoCacheState(*videoId) || hasDownloadError(*videoId)) return false;
  if (auto downloader = getDownloaderForVideoId(*videoId)) {
    if (downloader->isDownloading()) return true;
    // An error reply is not asked again before its retry delay, whoever asks.
    if (downloader->isWaitingAfterHTTPError()) return false;
    if (always) return downloader->startDownloadAlways();
    if (downloader->isValid()) {
      downloader->startDownload();
      return true;
    }
    return false;
  }
  auto downloader = YoutubeDownloader::initWithId(*videoId);
  if (!downloader) return false;
  downloader->startDownload();
  return true;
}

void CacheServer::resumeStartedManualDownloads() {
  for (const auto& videoId : manualCacheStartedQueue()) {
    auto downloader = getDownloaderForVideoId(videoId);
    if (!downloader || downloader->isComplete() || downloader->isError()) continue;
    if (downloader->isDownloading() || downloader->isAudioDownloading()) {
      downloader->checkIfStalled();
      continue;
    }
    // Failed or stalled: it starts again once its retry delay has passed.
    if (!downloader->isValid()) continue;
    ns::Log("# resume: %@", videoId);
    downloader->startDownload();
  }
}

bool CacheServer::processManualQueue() {
  resumeStartedManualDownloads();
  int count = 0;
  std::vector<std::string> finished;
  for (const auto& videoId : manualCacheQueue()) {
    auto downloader = getDownloaderForVideoId(videoId);
    if (!downloader) {
      if (count == 0 && startDownload_startAlways(videoId, true)) {
        ns::Log("# startDownload: %@", videoId);
        std::lock_guard lock(queueMutex_);
        manualCacheStartedQueue_.push_back(videoId);
        removeFirst(manualCacheQueue_, videoId);
        count = 1;
        break;
      }
      continue;
    }
    if (downloader->isComplete()) {
      finished.push_back(videoId);
      continue;
    }
    if (downloader->isError() || downloader->isWaitingAfterHTTPError()) continue;
    if (downloader->isDownloading()) {
      ++count;
      downloader->checkIfStalled();
      continue;
    }
    // Idle. Behind a running entry it waits its turn in the queue: an id leaves the queue only
    // when its download starts, or nothing would ever start it.
    if (count == 0) {
      ns::Log("# startDownloadAlways: %@", videoId);
      downloader->startDownloadAlways();
      count = 1;
      std::lock_guard lock(queueMutex_);
      manualCacheStartedQueue_.push_back(videoId);
      removeFirst(manualCacheQueue_, videoId);
    }
    break;
  }
  if (!finished.empty()) {
    std::lock_guard lock(queueMutex_);
    std::erase_if(manualCacheQueue_, [&](const std::string& videoId) {
      return std::find(finished.begin(), finished.end(), videoId) != finished.end();
    });
  }
  return count > 0;
}

void CacheServer::runCacheAlgorithm() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  long policy = getIntSetting(kCachePolicyKey);
  if (policy == 0) {
    processManualQueue();
    return;
  }
  if (isAnyDownloadActive()) {
    auto current = currentVideoId();
    auto next = currentPlaylistNextVideoId();
    if (!isEmptyId(current) && hasVideoCacheState(*current)) {
      if (!isEmptyId(next) && (hasVideoCacheState(*next) || isVideoDownloading(*next))) return;
    } else {
      if (!isEmptyId(current) && isVideoDownloading(*current)) {
        if (auto downloader = getDownloaderForVideoId(*current)) downloader->checkIfStalled();
        return;
      }
      if (isEmptyId(current)) return;
      ns::Log("cancel!");
      // Manual downloads that already left the queue go back to its front, so that they
      // resume once the player's video is in.
      std::vector<std::string> interrupted;
      for (const auto& videoId : manualCacheStartedQueue()) {
        auto downloader = getDownloaderForVideoId(videoId);
        if (downloader && (downloader->isDownloading() || downloader->isAudioDownloading()) &&
            !downloader->isComplete() && !downloader->isError())
          interrupted.push_back(videoId);
      }
      stopAllDownloads();
      if (!interrupted.empty()) {
        std::lock_guard lock(queueMutex_);
        for (const auto& videoId : interrupted) {
          removeFirst(manualCacheStartedQueue_, videoId);
          removeFirst(manualCacheQueue_, videoId);
        }
        manualCacheQueue_.insert(manualCacheQueue_.begin(), interrupted.begin(), interrupted.end());
      }
    }
  }
  // STEP 1: the player's video.
  if (startDownload_startAlways(currentVideoId(), true)) {
    ns::Log("STEP 1");
    return;
  }
  if (processManualQueue() || policy == 1) return;
  // STEP 2: the next video of the playing list.
  if (startDownload_startAlways(currentPlaylistNextVideoId(), false)) ns::Log("STEP 2");
}

// ---- the manual queue ----

void CacheServer::addManualDownloadVideoId(const std::string& videoId) {
  ns::Log("addManualDownloadVideo : %@", videoId);
  std::vector<std::string> queue;
  {
    std::lock_guard lock(queueMutex_);
    manualCacheQueue_.push_back(videoId);
    queue = manualCacheQueue_;
  }
  ns::Log("manualCacheQueue : %@", ns::Value(queue));
  if (isAnyDownloadActive()) {
    if (!getDownloaderForVideoId(videoId)) {
      if (auto downloader = YoutubeDownloader::initWithId(videoId)) downloader->setValidAfterToZero();
    }
    return;
  }
  startDownload_startAlways(videoId, true);
  std::lock_guard lock(queueMutex_);
  manualCacheStartedQueue_.push_back(videoId);
  removeFirst(manualCacheQueue_, videoId);
}

void CacheServer::removeManualDownloadVideoId(const std::string& videoId) {
  std::lock_guard lock(queueMutex_);
  std::erase(manualCacheQueue_, videoId);
  std::erase(manualCacheStartedQueue_, videoId);
}

bool CacheServer::removeFirst(std::vector<std::string>& queue, const std::string& videoId) {
  auto it = std::find(queue.begin(), queue.end(), videoId);
  if (it == queue.end()) return false;
  queue.erase(it);
  return true;
}

std::vector<std::string> CacheServer::manualCacheQueue() const {
  std::lock_guard lock(queueMutex_);
  return manualCacheQueue_;
}

void CacheServer::setManualCacheQueue(std::vector<std::string> queue) {
  std::lock_guard lock(queueMutex_);
  manualCacheQueue_ = std::move(queue);
}

std::vector<std::string> CacheServer::manualCacheStartedQueue() const {
  std::lock_guard lock(queueMutex_);
  return manualCacheStartedQueue_;
}

void CacheServer::setManualCacheStartedQueue(std::vector<std::string> queue) {
  std::lock_guard lock(queueMutex_);
  manualCacheStartedQueue_ = std::move(queue);
}
