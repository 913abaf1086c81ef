#pragma once
// One video's download into the media cache: the choice of stream by the wanted quality, the
// info file that records it, the one transfer (or, for 1080p, the video-only and audio-only
// pair joined afterwards) through PelCacheOperation, progress, stalls, failures with a growing
// retry delay, and completion into Cache/<id>.mp4.
//
// A downloader is a main-thread object; it enters the registry (CacheState.h) when made and
// leaves it when its download completes. The media server reads its flags and byte counts
// from its own queue, so those are atomics.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class PelCacheOperation;
class YoutubeSupport;

// Set whenever a download's shown state changes; the cache manager's one-second tick takes it
// and posts "videoInfoChanged".
bool videoInfoDirty();
void setVideoInfoDirty(bool dirty);
// Answers the flag and clears it.
bool takeVideoInfoDirty();

// The itags the downloader knows, in the order of the info file's "availableVideoFormat".
inline constexpr std::int32_t kKnownItags[] = {17, 36, 18, 22, 37, 137, 139, 140, 141};

class YoutubeDownloader : public ns::Object {
 public:
  // Made only through initWithId.
  explicit YoutubeDownloader(std::string videoid);
  ~YoutubeDownloader() override;

  // A downloader for the video, entered in the registry in place of an earlier one (which is
  // stopped first, as it writes the same partial file). Nil for an id that cannot name a file.
  static ns::Ref<YoutubeDownloader> initWithId(const std::string& videoId);
  // Resets the byte counts and the stall mark and re-reads the partial file's size.
  void initVariables();

  // Not in error, and past the retry delay.
  bool isValid() const;
  void setValidAfterToZero();
  std::int64_t validAfter() const { return validAfter_; }
  int errorCount() const { return errorCount_; }
  // The origin answered the last request with an error status (a 4xx or 5xx other than 403
  // and 416) and the retry delay has not passed: nothing should ask again before it has.
  bool isWaitingAfterHTTPError() const;
  // What went wrong with the last request while the retry waits ("HTTP 404"); empty otherwise.
  std::string downloadErrorText() const;
  // The origin answered the video stream's last request with an error reply and no transfer runs
  // now: no byte comes before the next start, which waits for the retry delay. (A cut
  // connection is resumed by the next cache step.) Any thread.
  bool isWaitingToRetry() const;

  static std::vector<std::int32_t> getAvailableVideoFormat(const YoutubeSupport& record);
  // Adds the chosen streams to the record's info and writes it to .tmp/<id>.info.
  void writeInfoFile(YoutubeSupport& record);
  // Chooses the streams of the resolved record and starts (or marks the video in error).
  void urlFetched(const ns::Ref<YoutubeSupport>& record);
  // Resolves the video's streams; urlFetched follows on the main thread.
  void getDownloadURL();
  // "yt_useragent", or "".
  static std::string getUserAgent();
  // Starts or resumes the transfers whatever the retry delay; false when already complete.
  bool startDownloadAlways();
  // False when not isValid(); else startDownloadAlways().
  bool startDownload();

  void downloadProgress_total(const PelCacheOperation* operation, long long read, long long total);
  void audioDownloadProgress_total(const PelCacheOperation* operation, long long read, long long total);
  // One more failure; the next automatic start waits 60 s per failure so far.
  void increaseErrorCount();
  // In error for the rest of the run; the error table gets the record's error text (or the
  // reason of the failure when the record has none).
  void markAsError();
  // The cache manager's five-second step: two steps without progress stop the transfer,
  // restart the media server and make the player reload. Also finishes a pair still waiting
  // for its join once the tool is there.
  void checkIfStalled();
  bool isStalled() const { return isStalled_; }
  // Stops the transfers; the partial files stay.
  void stopDownload();
  // Unless complete, deletes the partial video, audio and info files and the stored row.
  void deleteDownloadingFile();
  void stopAndDelete();
  // The completion steps: the pair joined, the video cached (or saved), the info file written,
  // the registry left.
  void setComplete();

  std::int64_t totalDownloadedBytes() const { return downloadedBytes_ + audioDownloadedBytes_; }
  std::int64_t totalContentLength() const { return contentLength_ + audioContentLength_; }
  int downloadedPercent() const;

  // ---- properties ----
  const std::string& videoid() const { return videoid_; }
  bool isError() const { return isError_; }
  bool isDownloading() const { return isDownloading_; }
  bool isAudioDownloading() const { return isAudioDownloading_; }
  bool isComplete() const { return isComplete_; }
  bool isDashStream() const { return isDashStream_; }
  bool playAfterDownloadStart() const { return playAfterDownloadStart_; }
  void setPlayAfterDownloadStart(bool on) { playAfterDownloadStart_ = on; }
  bool bDownload() const { return bDownload_; }
  void setBDownload(bool on) { bDownload_ = on; }
  std::int32_t videotype() const { return videotype_; }
  std::int32_t audiotype() const { return audiotype_; }
  const std::optional<std::string>& url() const { return url_; }
  const std::optional<std::string>& audiourl() const { return audiourl_; }
  const std::optional<std::string>& previewUrl() const { return previewUrl_; }
  std::int64_t downloadedBytes() const { return downloadedBytes_; }
  std::int64_t contentLength() const { return contentLength_; }
  std::int64_t audioDownloadedBytes() const { return audioDownloadedBytes_; }
  std::int64_t audioContentLength() const { return audioContentLength_; }
  const std::string& dstpath() const { return dstpath_; }
  const std::string& tmppath() const { return tmppath_; }
  const std::string& audio_tmppath() const { return audio_tmppath_; }
  const std::string& infopath() const { return infopath_; }
  const ns::Ref<YoutubeSupport>& youtubeSupport() const { return youtubeSupport_; }
  void setYoutubeSupport(ns::Ref<YoutubeSupport> record) { youtubeSupport_ = std::move(record); }
  const ns::Ref<PelCacheOperation>& downloadRequest() const { return downloadRequest_; }
  const ns::Ref<PelCacheOperation>& audioDownloadRequest() const { return audioDownloadRequest_; }
  const std::string& saveFilename() const { return saveFilename_; }
  void setSaveFilename(std::string name) { saveFilename_ = std::move(name); }
  const std::optional<std::string>& savePlaylistTitle() const { return savePlaylistTitle_; }
  void setSavePlaylistTitle(std::optional<std::string> title) { savePlaylistTitle_ = std::move(title); }
  // Both streams are in but the join has not been done yet (no tool, or the tool failed).
  bool isAwaitingJoin() const { return awaitingJoin_; }

  std::string className() const override { return "YoutubeDownloader"; }

 private:
  ns::Ref<PelCacheOperation> makeOperation(const std::string& url, const std::string& tempPath,
                                           const std::optional<std::string>& targetPath, bool audio);
  // A finished stream file that does not begin as media is deleted and the download put in
  // error; answers whether it was refused.
  bool refuseUnlessMedia(const std::string& path);
  void finishVideoStream();
  void finishAudioStream();
  // Records whether a failure was an error reply, and drops the empty partial it left.
  void noteFailureStatus(long status, const std::string& tempPath);
  void videoFailed(const PelCacheOperation* operation, long status, const std::string& description);
  void audioFailed(const PelCacheOperation* operation, long status, const std::string& description);
  void deletePartialFiles();
  static void dropOperation(ns::Ref<PelCacheOperation>& operation);

  std::string videoid_;
  std::atomic<int> errorCount_{0};
  std::atomic<std::int64_t> validAfter_{0};
  std::int64_t stallCount_ = 0;
  // The error status of the last failed request (0: the last failure was no error reply).
  std::atomic<long> httpErrorStatus_{0};
  // Counts stream resolutions begun and stops, so that a resolution knows whether it is still
  // wanted when it ends.
  std::uint64_t resolutionCount_ = 0;
  std::atomic<bool> isError_{false};
  std::atomic<bool> isStalled_{false};
  std::atomic<bool> isDownloading_{false};
  std::atomic<bool> isAudioDownloading_{false};
  std::atomic<bool> isComplete_{false};
  std::atomic<bool> playAfterDownloadStart_{false};
  std::atomic<bool> isDashStream_{false};
  std::atomic<bool> bDownload_{false};
  // Each stream holds all its bytes (a pair completes on both).
  bool videoDone_ = false;
  bool audioDone_ = false;
  bool awaitingJoin_ = false;
  std::int32_t videotype_ = 0;
  std::int32_t audiotype_ = 0;
  std::optional<std::string> url_;
  std::optional<std::string> audiourl_;
  std::optional<std::string> previewUrl_;
  ns::Ref<PelCacheOperation> downloadRequest_;
  ns::Ref<PelCacheOperation> audioDownloadRequest_;
  std::atomic<std::int64_t> downloadedBytes_{0};
  std::atomic<std::int64_t> contentLength_{0};
  std::atomic<std::int64_t> audioDownloadedBytes_{0};
  std::atomic<std::int64_t> audioContentLength_{0};
  std::string dstpath_;
  std::string tmppath_;
  std::string audio_tmppath_;
  std::string infopath_;
  ns::Ref<YoutubeSupport> youtubeSupport_;
  std::string saveFilename_;
  std::optional<std::string> savePlaylistTitle_;
  // Why the download failed for good, for the error table when the record has no error text.
  std::string errorReason_;
};

// The picture height recorded in Cache/<id>.info, else .tmp/<id>.info: 720 for itag 22, 240 for
// 36, 1080 for 37 and 137, 360 otherwise and without a file.
int getCachedVideoHeight(const std::string& videoId);
// The "availableVideoFormat" of the same file, nil when there is none or it is empty.
std::optional<std::vector<std::int32_t>> getAvailableVideoFormats(const std::string& videoId);
