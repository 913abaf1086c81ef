// The Download command: a video saved into the user's download folder, reusing a cached copy,
// optionally after a sheet that asks for the quality; and the two commands on a saved video.

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "common/Settings.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "ui/AlertBlocks.h"

namespace {

constexpr char kCachedSuffix[] = " (Cached)";

struct QualityRow {
  const char* text;
  const char* quality;
  int height;
  std::vector<std::int32_t> itags;
};

const QualityRow kQualityRows[] = {
    {"1080p", "1080", 1080, {37, 137}},
    {"720p", "720", 720, {22}},
    {"360p", "360", 360, {18}},
    {"240p", "240", 240, {36}},
};

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::vector<std::string> CacheServer::qualityChoices(const std::vector<std::int32_t>& itags,
                                                     int cachedHeight) {
  std::vector<std::string> choices;
  for (const auto& row : kQualityRows) {
    bool offered = std::any_of(row.itags.begin(), row.itags.end(), [&](std::int32_t itag) {
      return std::find(itags.begin(), itags.end(), itag) != itags.end();
    });
    bool cached = cachedHeight == row.height;
    if (!offered && !cached) continue;
    choices.push_back(std::string(row.text) + (cached ? kCachedSuffix : ""));
  }
  return choices;
}

void CacheServer::addManualDownloadVideoId_withTitle_fromViewController(
    const std::string& videoId, const std::string& title, const std::optional<std::string>& listTitle) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (isVideoDownloaded(videoId)) {
    ns::Log("already downloaded!");
    return;
  }
  if (getBoolSetting(kAskQualityKey)) {
    ns::Log("ASK DOWNLOAD QUALITY!");
    auto record = YoutubeSupport::initWithYoutubeId(videoId);
    ns::Weak<CacheServer> weak = weakSelf<CacheServer>();
    record->runRequest([weak, record, videoId, title, listTitle] {
      auto self = weak.lock();
      if (!self) return;
      std::vector<std::int32_t> itags;
      for (const auto& [itag, url] : record->urlMap())
        if (!url.empty()) itags.push_back(itag);
      self->showQualitySheet(videoId, title, listTitle, itags);
    });
    return;
  }
  if (moveCachedVideoToDownloadFolder(videoId, title, listTitle)) return;
  _startManualDownload_withTitle_playlistTitle(videoId, title, listTitle);
}

void CacheServer::showQualitySheet(const std::string& videoId, const std::string& title,
                                   const std::optional<std::string>& listTitle,
                                   const std::vector<std::int32_t>& itags) {
  int cachedHeight = isVideoCached(videoId) ? getCachedVideoHeight(videoId) : 0;
  std::vector<std::string> choices = qualityChoices(itags, cachedHeight);
  auto controller = mainWindowController();
  if (controller) controller->setShowingAlert(true);
  ns::Weak<CacheServer> weak = weakSelf<CacheServer>();
  AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          controller ? controller->getCurrentWindow() : nullptr, "Select Video Quality for Download.", title,
          static_cast<unsigned long>(ak::AlertStyle::Informational), std::string("Cancel"), choices,
          [weak, videoId, title, listTitle, choices](int index) {
            if (auto controller = mainWindowController()) controller->setShowingAlert(false);
            auto self = weak.lock();
            if (!self || index < 0 || static_cast<std::size_t>(index) >= choices.size()) return;
            self->qualityChosen(videoId, title, listTitle, choices[static_cast<std::size_t>(index)]);
          },
          [] {
            if (auto controller = mainWindowController()) controller->setShowingAlert(false);
            ns::Log("cancelled");
          });
}

void CacheServer::qualityChosen(const std::string& videoId, const std::string& title,
                                const std::optional<std::string>& listTitle, const std::string& choice) {
  if (choice.find("(Cached)") != std::string::npos &&
      moveCachedVideoToDownloadFolder(videoId, title, listTitle))
    return;
  deleteCachedVideo(videoId);
  stopAndDeleteDownload(videoId);
  postNotification(kVideoInfoChangedNotification);
  // By the choice's leading digits: "1080p" must not read as another quality.
  const char* quality = nullptr;
  for (const auto& row : kQualityRows)
    if (startsWith(choice, row.text)) quality = row.quality;
  if (!quality) {
    ns::Log("unknown quality: %@", choice);
    return;
  }
  setChosenVideoQuality(videoId, std::string(quality));
  _startManualDownload_withTitle_playlistTitle(videoId, title, listTitle);
}

void CacheServer::_startManualDownload_withTitle_playlistTitle(
    const std::string& videoId, const std::string& title, const std::optional<std::string>& playlistTitle) {
  {
    std::lock_guard lock(queueMutex_);
    manualCacheQueue_.insert(manualCacheQueue_.begin(), videoId);
  }
  auto downloader = getDownloaderForVideoId(videoId);
  if (!downloader) {
    downloader = YoutubeDownloader::initWithId(videoId);
    if (!downloader) {
      std::lock_guard lock(queueMutex_);
      removeFirst(manualCacheQueue_, videoId);
      return;
    }
    downloader->setValidAfterToZero();
  }
  downloader->setBDownload(true);
  downloader->setSaveFilename(title);
  downloader->setSavePlaylistTitle(playlistTitle);
  if (isAnyDownloadActive()) return;
  downloader->startDownloadAlways();
  std::lock_guard lock(queueMutex_);
  manualCacheStartedQueue_.push_back(videoId);
  removeFirst(manualCacheQueue_, videoId);
}

void CacheServer::deleteDownloadedFile(const std::string& videoId) {
  deleteDownloadedVideo(videoId);
}

void CacheServer::moveDownloadedToCache(const std::string& videoId) {
  moveDownloadedVideoToCache(videoId);
}
