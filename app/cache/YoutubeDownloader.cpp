#include "app/cache/YoutubeDownloader.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheState.h"
#include "app/cache/MuxingTool.h"
#include "app/cache/PelCacheOperation.h"
#include "app/cache/YoutubeResponse.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/IPlayerViewController.h"
#include "common/Settings.h"
#include "platform/core/Exception.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/net/URL.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/Thread.h"

namespace {

std::atomic<bool> dirtyFlag{false};

// A downloader's state lives on the main thread; a call from elsewhere fails at once in Debug
// builds instead of racing.
std::int64_t nowSeconds() {
  return static_cast<std::int64_t>(std::floor(ns::Clock::wallNow()));
}

void removeItem(const std::string& path) {
  if (!path.empty()) ns::FileManager::defaultManager()->removeItemAtPath_error(path, nullptr);
}

void ensureFolder(const std::string& path) {
  ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
      path, true, {}, nullptr);
}

std::optional<std::string> mapURL(const YoutubeSupport& record, std::int32_t itag) {
  auto it = record.urlMap().find(itag);
  if (it == record.urlMap().end() || it->second.empty()) return std::nullopt;
  return it->second;
}

// The finished info file when there is one, else the partial one.
ns::Value readInfoFile(const std::string& videoId) {
  if (!isSafeVideoId(videoId)) return {};
  for (const auto& path :
       {getCacheFolderFilePath(videoId + ".info"), getTempFolderFilePath(videoId + ".info")}) {
    if (!path || !ns::FileManager::defaultManager()->fileExistsAtPath(*path)) continue;
    return ns::dictionaryWithContentsOfFile(*path);
  }
  return {};
}

long statusOf(const ns::Ref<HTTPRequestOperation>& op) {
  auto response = op ? op->response() : nullptr;
  return response ? response->statusCode() : 0;
}

bool isSuccessStatus(long status) {
  return status >= 200 && status <= 299;
}

// Every stream the downloader chooses (3GP, MP4, M4A) begins with an "ftyp" box: its size in
// four bytes, then the type. Anything else is no media, whatever its reply said.
bool beginsAsMedia(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char head[8] = {};
  std::size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  return got == sizeof head && std::memcmp(head + 4, "ftyp", 4) == 0;
}

}  // namespace

bool videoInfoDirty() {
  return dirtyFlag;
}
void setVideoInfoDirty(bool dirty) {
  dirtyFlag = dirty;
}
bool takeVideoInfoDirty() {
  return dirtyFlag.exchange(false);
}

YoutubeDownloader::YoutubeDownloader(std::string videoid) : videoid_(std::move(videoid)) {}

YoutubeDownloader::~YoutubeDownloader() {
  dropOperation(downloadRequest_);
  dropOperation(audioDownloadRequest_);
}

ns::Ref<YoutubeDownloader> YoutubeDownloader::initWithId(const std::string& videoId) {
  if (!isSafeVideoId(videoId)) return nullptr;
  // The older downloader writes the same partial file: it stops before the new one may start.
  if (auto older = getDownloaderForVideoId(videoId)) older->stopDownload();
  auto downloader = ns::make<YoutubeDownloader>(videoId);
  registerDownloader(downloader);
  downloader->initVariables();
  return downloader;
}

void YoutubeDownloader::initVariables() {
  contentLength_ = 0;
  downloadedBytes_ = 0;
  isStalled_ = false;
  dstpath_ = *getCachedVideoPath(videoid_);
  tmppath_ = *getTempFolderFilePath(videoid_ + ".mp4");
  audio_tmppath_ = *getTempFolderFilePath(videoid_ + "_Audio.mp4");
  infopath_ = *getTempFolderFilePath(videoid_ + ".info");
  if (ns::FileManager::defaultManager()->fileExistsAtPath(tmppath_))
    downloadedBytes_ = static_cast<std::int64_t>(PelCacheOperation::fileSizeForPath(tmppath_));
}

bool YoutubeDownloader::isValid() const {
  if (isError_) return false;
  std::int64_t after = validAfter_;
  if (after == 0) return true;
  return nowSeconds() > after;
}

void YoutubeDownloader::setValidAfterToZero() {
  validAfter_ = 0;
}

bool YoutubeDownloader::isWaitingAfterHTTPError() const {
  return httpErrorStatus_ != 0 && !isValid();
}

bool YoutubeDownloader::isWaitingToRetry() const {
  return httpErrorStatus_ != 0 && !isDownloading_ && !isComplete_;
}

std::string YoutubeDownloader::downloadErrorText() const {
  long status = httpErrorStatus_;
  return isWaitingAfterHTTPError() ? ns::format("HTTP %ld", status) : std::string();
}

std::vector<std::int32_t> YoutubeDownloader::getAvailableVideoFormat(const YoutubeSupport& record) {
  std::vector<std::int32_t> formats;
  for (std::int32_t itag : kKnownItags)
    if (mapURL(record, itag)) formats.push_back(itag);
  return formats;
}

void YoutubeDownloader::writeInfoFile(YoutubeSupport& record) {
  auto& info = record.videoInfo();
  info.set("videotype", ns::Value(videotype_));
  info.set("url", ns::Value(url_.value_or("")));
  if (isDashStream_) {
    info.set("audiotype", ns::Value(audiotype_));
    info.set("audiourl", ns::Value(audiourl_.value_or("")));
  } else {
    info.remove("audiotype");
    info.remove("audiourl");
  }
  ns::Array formats;
  for (std::int32_t itag : getAvailableVideoFormat(record)) formats.push_back(ns::Value(itag));
  info.set("availableVideoFormat", ns::Value(formats));
  removeItem(getCacheFolderFilePath(videoid_ + ".info").value_or(""));
  removeItem(infopath_);
  ensureFolder(getTempFolderPath());
  ns::writePropertyListToFile_atomically(ns::Value(info), infopath_, true);
}

void YoutubeDownloader::urlFetched(const ns::Ref<YoutubeSupport>& record) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!record) return;
  youtubeSupport_ = record;
  // The partial file steers the choice toward the stream it was made from.
  std::int32_t partialType = 0;
  if (ns::FileManager::defaultManager()->fileExistsAtPath(infopath_)) {
    ns::Value info = ns::dictionaryWithContentsOfFile(infopath_);
    if (info.isDictionary()) partialType = info["videotype"].intValue();
  }
  videotype_ = partialType;
  // Every choice starts afresh: a pair chosen earlier leaves nothing behind.
  isDashStream_ = false;
  audiotype_ = 0;
  audiourl_.reset();
  previewUrl_.reset();
  url_.reset();

  std::string quality = getChosenVideoQuality(videoid_).value_or("");
  if (quality.empty()) quality = getPreferredVideoQuality();

  bool chosen = false;
  if (quality == "1080" || videotype_ == 37 || videotype_ == 137) {
    if (auto u = mapURL(*record, 37)) {
      url_ = u;
      videotype_ = 37;
      chosen = true;
    } else if (auto video = mapURL(*record, 137)) {
      // A video-only stream is of use only with an audio stream to join it with.
      for (std::int32_t itag : {141, 140, 139}) {
        if (auto audio = mapURL(*record, itag)) {
          url_ = video;
          videotype_ = 137;
          isDashStream_ = true;
          previewUrl_ = mapURL(*record, 18);
          audiourl_ = audio;
          audiotype_ = itag;
          chosen = true;
          break;
        }
      }
    }
  }
  if (!chosen && (quality == "720" || quality == "1080" || videotype_ == 22)) {
    if ((url_ = mapURL(*record, 22))) {
      videotype_ = 22;
      chosen = true;
    }
  }
  if (!chosen && (quality == "240" || videotype_ == 36)) {
    if ((url_ = mapURL(*record, 36))) {
      videotype_ = 36;
      chosen = true;
    }
  }
  if (!chosen && (url_ = mapURL(*record, 18))) {
    videotype_ = 18;
    chosen = true;
  }

  if (!chosen) {
    ns::Log("error = %@", record->error().value_or("(null)"));
    record->failedRequest();
    errorReason_ = "No stream";
    markAsError();
    return;
  }

  if (partialType != 0 && partialType != videotype_) {
    // The partial file holds another stream: it cannot be resumed with this one.
    dropOperation(downloadRequest_);
    dropOperation(audioDownloadRequest_);
    deletePartialFiles();
  }
  writeInfoFile(*record);
  if (playAfterDownloadStart_) {
    startDownloadAlways();
    auto self = this->self<YoutubeDownloader>();
    dispatch::async(dispatch::globalQueue(dispatch::Priority::Background), [self] {
      while (self->isDownloading() && self->contentLength() == 0) {
        ns::Log("Waiting for video");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      dispatch::async(dispatch::mainQueue(), [self] { playVideoIfCurrent(self->videoid()); });
    });
  } else if (startDownload()) {
    ns::Log("startDownload ok");
  } else {
    ns::LogWarning("startDownload error");
    isDownloading_ = false;
    isAudioDownloading_ = false;
  }
}

void YoutubeDownloader::getDownloadURL() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  url_.reset();
  audiourl_.reset();
  youtubeSupport_ = YoutubeSupport::initWithYoutubeId(videoid_);
  ns::Weak<YoutubeDownloader> weak = this->self<YoutubeDownloader>();
  // Only the latest resolution starts the transfer, and none after a stop: a download stopped
  // while its streams were being resolved stays stopped.
  std::uint64_t resolution = ++resolutionCount_;
  auto record = youtubeSupport_;
  record->runRequest([weak, resolution, record] {
    auto self = weak.lock();
    if (!self || self->resolutionCount_ != resolution) return;
    self->urlFetched(record);
  });
  isDownloading_ = true;
  if (isDashStream_) isAudioDownloading_ = true;
}

std::string YoutubeDownloader::getUserAgent() {
  return getStringSetting(kUserAgentKey);
}

ns::Ref<PelCacheOperation> YoutubeDownloader::makeOperation(const std::string& url,
                                                            const std::string& tempPath,
                                                            const std::optional<std::string>& targetPath,
                                                            bool audio) {
  auto parsed = ns::URL::URLWithString(url);
  if (!parsed) return nullptr;
  auto request = ns::URLRequest::requestWithURL(parsed);
  std::string agent = getUserAgent();
  if (!agent.empty()) request->setValue_forHTTPHeaderField(agent, "User-Agent");
  ensureFolder(getTempFolderPath());
  auto op = targetPath ? PelCacheOperation::initWithRequest_targetPath_tempPath(request, targetPath, tempPath)
                       : PelCacheOperation::initWithRequest_tempPath(request, tempPath);
  if (!op) return nullptr;
  ns::Weak<YoutubeDownloader> weak = this->self<YoutubeDownloader>();
  ns::Weak<PelCacheOperation> weakOp = op;
  op->setDownloadProgressBlock([weak, weakOp, audio](long, long long read, long long expected) {
    auto self = weak.lock();
    auto operation = weakOp.lock();
    if (!self || !operation) return;
    if (audio)
      self->audioDownloadProgress_total(operation.get(), read, expected);
    else
      self->downloadProgress_total(operation.get(), read, expected);
  });
  op->setCompletionBlockWithSuccess_failure(
      [weak, audio](const ns::Ref<HTTPRequestOperation>& operation, const std::optional<ns::Data>&) {
        long status = statusOf(operation);
        ns::Log("complete success! %ld", status);
        auto self = weak.lock();
        if (!self) return;
        auto* cacheOp = static_cast<PelCacheOperation*>(operation.get());
        // A clean end of a 2xx reply whose length was not known holds the whole stream.
        const auto& current = audio ? self->audioDownloadRequest_ : self->downloadRequest_;
        if (current.get() != cacheOp || !isSuccessStatus(status)) return;
        if (audio ? self->audioDone_ : self->videoDone_) return;
        std::int64_t held = cacheOp->offsetContentLength() + cacheOp->totalBytesReadPerDownload();
        std::int64_t total = cacheOp->totalContentLength();
        if (total >= 0 && held < total) {
          // The reply ended before the resource did (a short range): resume later.
          if (audio)
            self->audioFailed(cacheOp, status, "The reply ended before the resource did.");
          else
            self->videoFailed(cacheOp, status, "The reply ended before the resource did.");
          return;
        }
        if (audio) {
          self->audioDownloadedBytes_ = held;
          self->audioContentLength_ = held;
          self->finishAudioStream();
        } else {
          self->downloadedBytes_ = held;
          self->contentLength_ = held;
          self->finishVideoStream();
        }
      },
      [weak, audio](const ns::Ref<HTTPRequestOperation>& operation, const ns::Error& error) {
        long status = statusOf(operation);
        auto self = weak.lock();
        if (!self) return;
        auto* cacheOp = static_cast<PelCacheOperation*>(operation.get());
        if (audio)
          self->audioFailed(cacheOp, status, error.localizedDescription());
        else
          self->videoFailed(cacheOp, status, error.localizedDescription());
      });
  return op;
}

bool YoutubeDownloader::startDownloadAlways() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (isComplete_) return false;
  if (awaitingJoin_) {
    setComplete();
    return true;
  }
  if (!url_) {
    getDownloadURL();
    return true;
  }
  // A finished transfer cannot be resumed: a stream that is not in yet gets a new one below.
  if (downloadRequest_ && downloadRequest_->isFinished()) dropOperation(downloadRequest_);
  if (audioDownloadRequest_ && audioDownloadRequest_->isFinished()) dropOperation(audioDownloadRequest_);
  bool videoResumed = false;
  if (downloadRequest_) {
    isDownloading_ = true;
    try {
      downloadRequest_->resume();
      videoResumed = true;
    } catch (const ns::Exception&) {
      isDownloading_ = false;
      dropOperation(downloadRequest_);
    }
  }
  bool audioResumed = false;
  if (audioDownloadRequest_) {
    downloadFFmpegIfNeeded();
    isAudioDownloading_ = true;
    try {
      audioDownloadRequest_->resume();
      audioResumed = true;
    } catch (const ns::Exception&) {
      isAudioDownloading_ = false;
      dropOperation(audioDownloadRequest_);
    }
  }
  initVariables();
  if (!videoResumed && !videoDone_) {
    auto op = makeOperation(*url_, tmppath_,
                            isDashStream_ ? std::nullopt : std::optional<std::string>(dstpath_), false);
    if (!op) {
      ns::Log("error = %@", "the stream URL cannot be read");
      errorReason_ = "Bad stream URL";
      markAsError();
      return false;
    }
    downloadRequest_ = op;
    isDownloading_ = true;
    op->start();
  }
  if (!audioResumed && isDashStream_ && !audioDone_) {
    downloadFFmpegIfNeeded();
    auto op = audiourl_ ? makeOperation(*audiourl_, audio_tmppath_, std::nullopt, true) : nullptr;
    if (!op) {
      errorReason_ = "Bad stream URL";
      markAsError();
      return false;
    }
    audioDownloadRequest_ = op;
    isAudioDownloading_ = true;
    postNotification(kLeftMenuNeedRefreshNotification);
    op->start();
  }
  return true;
}

bool YoutubeDownloader::startDownload() {
  if (!isValid()) return false;
  return startDownloadAlways();
}

void YoutubeDownloader::downloadProgress_total(const PelCacheOperation* operation, long long read,
                                               long long total) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  stallCount_ = 0;
  if (!downloadRequest_ || downloadRequest_.get() != operation) return;
  if (isSuccessStatus(statusOf(downloadRequest_))) httpErrorStatus_ = 0;
  downloadedBytes_ = operation->offsetContentLength() + read;
  contentLength_ = operation->totalContentLength();
  bool whole = read == total && contentLength_ >= 0 && downloadedBytes_ == contentLength_;
  if (whole && isSuccessStatus(statusOf(downloadRequest_)) && !videoDone_) {
    finishVideoStream();
  } else {
    setVideoInfoDirty(true);
  }
  // The bytes are in the file: a response waiting for them goes on now.
  YoutubeResponse::downloadChanged(videoid_);
}

void YoutubeDownloader::audioDownloadProgress_total(const PelCacheOperation* operation, long long read,
                                                    long long total) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  stallCount_ = 0;
  if (!audioDownloadRequest_ || audioDownloadRequest_.get() != operation) return;
  audioDownloadedBytes_ = operation->offsetContentLength() + read;
  audioContentLength_ = operation->totalContentLength();
  bool whole = read == total && audioContentLength_ >= 0 && audioDownloadedBytes_ == audioContentLength_;
  if (whole && isSuccessStatus(statusOf(audioDownloadRequest_)) && !audioDone_) {
    finishAudioStream();
  } else {
    setVideoInfoDirty(true);
  }
}

bool YoutubeDownloader::refuseUnlessMedia(const std::string& path) {
  if (beginsAsMedia(path)) return false;
  ns::Log("##### not a media file: %@", path);
  removeItem(path);
  if (&path == &tmppath_) {
    downloadedBytes_ = 0;
    contentLength_ = 0;
  } else {
    audioDownloadedBytes_ = 0;
    audioContentLength_ = 0;
  }
  errorReason_ = "Not a video file";
  markAsError();
  setVideoInfoDirty(true);
  return true;
}

void YoutubeDownloader::finishVideoStream() {
  isDownloading_ = false;
  if (refuseUnlessMedia(tmppath_)) {
    dropOperation(downloadRequest_);
    isAudioDownloading_ = false;
    dropOperation(audioDownloadRequest_);
    YoutubeResponse::downloadChanged(videoid_);
    return;
  }
  if (!isDashStream_) ensureFolder(getCacheFolderPath());
  if (!downloadRequest_ || !downloadRequest_->moveFile()) {
    increaseErrorCount();
    return;
  }
  videoDone_ = true;
  if (!isDashStream_ || audioDone_) setComplete();
  YoutubeResponse::downloadChanged(videoid_);
}

void YoutubeDownloader::finishAudioStream() {
  isAudioDownloading_ = false;
  if (refuseUnlessMedia(audio_tmppath_)) {
    dropOperation(audioDownloadRequest_);
    isDownloading_ = false;
    dropOperation(downloadRequest_);
    YoutubeResponse::downloadChanged(videoid_);
    return;
  }
  audioDone_ = true;
  if (videoDone_) setComplete();
}

// An error reply, not a cut connection: asking again at once would get the same.
static bool isErrorReplyStatus(long status) {
  return status >= 400 && status != 403 && status != 416;
}

void YoutubeDownloader::noteFailureStatus(long status, const std::string& tempPath) {
  httpErrorStatus_ = isErrorReplyStatus(status) ? status : 0;
  // An error reply to the first request leaves an empty partial that nothing would ever fill.
  if (httpErrorStatus_ != 0 && PelCacheOperation::fileSizeForPath(tempPath) == 0) removeItem(tempPath);
}

void YoutubeDownloader::videoFailed(const PelCacheOperation* operation, long status,
                                    const std::string& description) {
  if (downloadRequest_.get() != operation) return;
  ns::LogWarning("##### complete error! %ld %@", status, description);
  if (status == 403) {
    errorReason_ = "HTTP 403";
    markAsError();
  }
  noteFailureStatus(status, tmppath_);
  increaseErrorCount();
  dropOperation(downloadRequest_);
  isDownloading_ = false;
  isAudioDownloading_ = false;
  YoutubeResponse::downloadChanged(videoid_);
}

void YoutubeDownloader::audioFailed(const PelCacheOperation* operation, long status,
                                    const std::string& description) {
  if (audioDownloadRequest_.get() != operation) return;
  ns::LogWarning("complete error! %ld %@", status, description);
  if (status == 403) {
    errorReason_ = "HTTP 403";
    markAsError();
  }
  noteFailureStatus(status, audio_tmppath_);
  increaseErrorCount();
  dropOperation(audioDownloadRequest_);
}

void YoutubeDownloader::increaseErrorCount() {
  int count = ++errorCount_;
  validAfter_ = nowSeconds() + 60 * static_cast<std::int64_t>(count);
}

void YoutubeDownloader::markAsError() {
  isError_ = true;
  isDownloading_ = false;
  std::optional<std::string> text = youtubeSupport_ ? youtubeSupport_->error() : std::nullopt;
  // Without a text the error table would forget the video, and the cache manager would start
  // it again at every step.
  if (!text || text->empty()) text = errorReason_.empty() ? std::string("Download failed") : errorReason_;
  recordDownloadError(videoid_, text);
  YoutubeResponse::downloadChanged(videoid_);
}

void YoutubeDownloader::checkIfStalled() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (awaitingJoin_ && isValid() &&
      ns::FileManager::defaultManager()->attributesOfItemAtPath_error(getFFmpegPath(), nullptr)) {
    setComplete();
    return;
  }
  if (isDownloading_ || isAudioDownloading_) {
    ++stallCount_;
    ns::Log("## progress = %lld / %lld", static_cast<long long>(downloadedBytes_),
            static_cast<long long>(contentLength_));
    ns::Log("stallCount = %ld", static_cast<long>(stallCount_));
  }
  if (stallCount_ >= 2) {
    ns::Log("### stopDownload!");
    isStalled_ = true;
    stallCount_ = 0;
    YoutubeResponse::downloadChanged(videoid_);
    auto self = this->self<YoutubeDownloader>();
    dispatch::async(dispatch::mainQueue(), [self] {
      cacheManagerRestartServer();
      self->stopDownload();
      if (auto player = playerViewController()) player->updateVideoUrlIfNeeded(self->videoid());
      self->stallCount_ = 0;
    });
  }
}

void YoutubeDownloader::dropOperation(ns::Ref<PelCacheOperation>& operation) {
  if (!operation) return;
  auto op = std::move(operation);
  operation = nullptr;
  // Paused first, so nothing more reaches the partial file once this returns; cancelled, so
  // the finished operation lets go of its blocks.
  op->pause();
  op->cancel();
}

void YoutubeDownloader::stopDownload() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  ++resolutionCount_;
  isDownloading_ = false;
  isAudioDownloading_ = false;
  dropOperation(downloadRequest_);
  dropOperation(audioDownloadRequest_);
  YoutubeResponse::downloadChanged(videoid_);
}

void YoutubeDownloader::deletePartialFiles() {
  removeItem(tmppath_);
  removeItem(infopath_);
  removeItem(audio_tmppath_);
  downloadedBytes_ = 0;
  audioDownloadedBytes_ = 0;
  contentLength_ = 0;
  audioContentLength_ = 0;
  videoDone_ = false;
  audioDone_ = false;
  awaitingJoin_ = false;
}

void YoutubeDownloader::deleteDownloadingFile() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (isComplete_) return;
  deletePartialFiles();
  removeItem(getInfoFolderPath() + "/" + videoid_ + ".cell");
}

void YoutubeDownloader::stopAndDelete() {
  stopDownload();
  deleteDownloadingFile();
}

void YoutubeDownloader::setComplete() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (isComplete_) return;
  bool pair = isDashStream_;
  if (pair) {
    if (!videoDone_ || !audioDone_) return;
    ns::Log("tmppath = %@", tmppath_);
    ns::Log("audiotmppath = %@", audio_tmppath_);
    std::string joined = *getTempFolderFilePath(videoid_ + "_join.mp4");
    bool toolMissing = false;
    awaitingJoin_ = true;
    if (!mergeDashStreams(tmppath_, audio_tmppath_, joined, &toolMissing)) {
      removeItem(joined);
      // Without a tool the pair waits for it; a failed join counts as a failed download.
      if (!toolMissing) increaseErrorCount();
      setVideoInfoDirty(true);
      return;
    }
    ensureFolder(getCacheFolderPath());
    ns::Error error;
    removeItem(dstpath_);
    if (!ns::FileManager::defaultManager()->moveItemAtPath_toPath_error(joined, dstpath_, &error)) {
      removeItem(joined);
      increaseErrorCount();
      return;
    }
    awaitingJoin_ = false;
    removeItem(tmppath_);
    removeItem(audio_tmppath_);
  }
  isComplete_ = true;
  isDownloading_ = false;
  isAudioDownloading_ = false;
  std::uint64_t size = PelCacheOperation::fileSizeForPath(dstpath_);
  setVideoCacheState(videoid_, true);
  if (bDownload_) moveCachedVideoToDownloadFolder(videoid_, saveFilename_, savePlaylistTitle_);
  if (pair) postNotification(k1080pStatusChangedNotification);
  previewUrl_.reset();
  // The partial's info file has served its purpose: the finished copy is written below.
  removeItem(infopath_);
  if (youtubeSupport_) {
    auto& info = youtubeSupport_->videoInfo();
    info.set("filesize", ns::Value(static_cast<unsigned long long>(size)));
    if (auto path = getCacheFolderFilePath(videoid_ + ".info"))
      ns::writePropertyListToFile_atomically(ns::Value(info), *path, true);
  }
  unregisterDownloader(this);
  setVideoInfoDirty(true);
  YoutubeResponse::downloadChanged(videoid_);
}

int YoutubeDownloader::downloadedPercent() const {
  std::int64_t length = contentLength_;
  if (length == 0) return 0;
  float ratio;
  if (!isDashStream_) {
    ratio = static_cast<float>(downloadedBytes_) / static_cast<float>(length);
  } else {
    std::int64_t audioLength = audioContentLength_;
    if (audioLength == 0) return 0;
    ratio = static_cast<float>(downloadedBytes_ + audioDownloadedBytes_) /
            static_cast<float>(length + audioLength);
  }
  return static_cast<int>(ratio * 100);
}

int getCachedVideoHeight(const std::string& videoId) {
  ns::Value info = readInfoFile(videoId);
  if (!info.isDictionary()) return 360;
  switch (info["videotype"].intValue()) {
    case 22:
      return 720;
    case 36:
      return 240;
    case 37:
    case 137:
      return 1080;
    default:
      return 360;
  }
}

std::optional<std::vector<std::int32_t>> getAvailableVideoFormats(const std::string& videoId) {
  ns::Value info = readInfoFile(videoId);
  if (!info.isDictionary()) return std::nullopt;
  const ns::Value& formats = info["availableVideoFormat"];
  if (!formats.isArray() || formats.count() == 0) return std::nullopt;
  std::vector<std::int32_t> result;
  for (const auto& itag : formats.array()) result.push_back(itag.intValue());
  return result;
}
