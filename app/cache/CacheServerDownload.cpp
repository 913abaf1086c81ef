// The Download command: a video saved into the user's download folder, reusing a cached copy,
// optionally after a question for the quality; and the two commands on a saved video.

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/AppUtilities.h"
#include "common/Settings.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"

namespace {

constexpr char kCachedSuffix[] = " (Cached)";
constexpr char kNoQuestion[] = "no quality question is installed: the download goes on without asking";

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

DownloadQualityQuestion& installedQuestion() {
  static ns::NoDestructor<DownloadQualityQuestion> question;
  return *question;
}

}  // namespace

DownloadQualityQuestion setDownloadQualityQuestion(DownloadQualityQuestion question) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  std::swap(installedQuestion(), question);
  return question;
}

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
  if (getBoolSetting(kAskQualityKey) && installedQuestion()) {
    ns::Log("ASK DOWNLOAD QUALITY!");
    auto record = YoutubeSupport::initWithYoutubeId(videoId);
    ns::Weak<CacheServer> weak = weakSelf<CacheServer>();
    record->runRequest([weak, record, videoId, title, listTitle] {
      auto self = weak.lock();
      if (!self) return;
      std::vector<std::int32_t> itags;
      for (const auto& [itag, url] : record->urlMap())
        if (!url.empty()) itags.push_back(itag);
      self->askQuality(videoId, title, listTitle, itags);
    });
    return;
  }
  if (getBoolSetting(kAskQualityKey)) ns::Log(kNoQuestion);
  saveWithoutAsking(videoId, title, listTitle);
}

void CacheServer::saveWithoutAsking(const std::string& videoId, const std::string& title,
                                    const std::optional<std::string>& listTitle) {
  if (moveCachedVideoToDownloadFolder(videoId, title, listTitle)) return;
  _startManualDownload_withTitle_playlistTitle(videoId, title, listTitle);
}

void CacheServer::askQuality(const std::string& videoId, const std::string& title,
                             const std::optional<std::string>& listTitle,
                             const std::vector<std::int32_t>& itags) {
  int cachedHeight = isVideoCached(videoId) ? getCachedVideoHeight(videoId) : 0;
  std::vector<std::string> choices = qualityChoices(itags, cachedHeight);
  // Taken out before the call: the question may be replaced while it runs.
  auto question = installedQuestion();
  if (!question) {
    ns::Log(kNoQuestion);
    saveWithoutAsking(videoId, title, listTitle);
    return;
  }
  ns::Weak<CacheServer> weak = weakSelf<CacheServer>();
  question(title, choices, [weak, videoId, title, listTitle, choices](std::optional<std::size_t> choice) {
    if (!choice) {
      ns::Log("cancelled");
      return;
    }
    auto self = weak.lock();
    if (!self || *choice >= choices.size()) return;
    self->qualityChosen(videoId, title, listTitle, choices[*choice]);
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
