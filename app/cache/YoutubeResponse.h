#pragma once
// The local media server's answer to a "/youtube/<id>/..." request: the video's finished cache
// file, or the partial file its downloader is still writing. A read of bytes that are not there
// yet, and a response whose download has not begun, wait until the downloader has them, and
// give up when the response went stale (a server restart or a newer request), when the player
// moved to another video, when the download stalled or failed (also when it waits to retry after
// a failure: nothing comes before then), or when its downloader went away.
//
// Nothing here blocks the connection queue the server's connections share: a response that must
// wait holds back its header block (delayResponseHeaders) or answers no bytes for now, and the
// connection asks again when the response tells it to. That happens as soon as the video's
// downloader reports new bytes, completion, a stall or a failure, when a newer request or a
// restart makes waiting responses stale, and at the latest at the next 0.2 s poll (on ns::Clock),
// which also notices a player that moved on. A response whose client has gone stops waiting; a
// video without a downloader is waited for at most 60 s.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "lib/http-server/Core/HTTPResponse.h"

class HTTPConnection;
class YoutubeDownloader;
namespace dispatch {
class Queue;
}

// The server generation: raised by every restart of the local media server and by every new
// response. A response that sees another value than the one it was made with is stale.
extern std::atomic<std::int32_t> serverCount;

class YoutubeResponse : public HTTPResponse {
 public:
  YoutubeResponse(std::string videoid, const ns::Ref<HTTPConnection>& connection);
  ~YoutubeResponse() override;

  // Never waits. Nil when the served file cannot be found (the connection answers 404); a
  // response that gave up before it began has length 0.
  static ns::Ref<YoutubeResponse> initWithVideoid_forConnection(const std::string& videoid,
                                                                const ns::Ref<HTTPConnection>& connection);

  std::string className() const override { return "YoutubeResponse"; }

  std::uint64_t contentLength() override { return fileLength_; }
  std::uint64_t offset() override { return fileOffset_; }
  void setOffset(std::uint64_t offset) override;
  // The bytes from the offset that are on disk now, at most `length`; none while they are not
  // there yet (the connection is told when they are), nothing once the wait gave up.
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return fileOffset_ == fileLength_; }
  // True while the download has not begun: no downloader yet, no partial file or no length.
  bool delayResponseHeaders() override;
  // 404 when the file went away while the response waited for its download to begin.
  long status() override { return status_; }
  void connectionDidClose() override;
  // Bytes on disk go out from the file itself.
  std::optional<DispatchFileRange> fileRangeOfLength(std::uint64_t length) override;

  // Tells the connection, then refuses to open the file from now on.
  void abort();
  // A server restart or a newer response came after this one.
  bool shouldAbort() const;
  bool openFile();
  bool openFileIfNeeded();

  const std::string& videoid() const { return videoid_; }
  const std::string& filePath() const { return filePath_; }
  // The video's downloader while the partial file is served; nil for a finished file.
  const ns::Ref<YoutubeDownloader>& downloader() const { return downloader_; }
  bool isDownloading() const { return isDownloading_; }
  // Waiting now for its download to begin or for bytes.
  bool isWaiting() const { return waiting_; }
  // Holds the served file open (any thread).
  bool hasOpenFile() const { return hasOpenFile_; }

  // The video's download moved (bytes, completion, a stall, a failure, a downloader entered or
  // left): its waiting responses look again at once. Any thread.
  static void downloadChanged(const std::string& videoId);
  // Every waiting response looks again at once (staleness). Any thread.
  static void wakeAll();
  // Responses waiting now, for every video.
  static std::size_t waitingResponseCount();

  // The longest pause between two looks of a wait.
  static constexpr double kPollSeconds = 0.2;
  // How long a video nobody downloads is waited for.
  static constexpr double kDownloaderWaitSeconds = 60;

 private:
  enum class Phase { Preparing, Serving };

  // Preparation: finds the downloader, the partial file and its length. True once the header
  // block can go (the response may then be of length 0, or a 404).
  bool prepare();
  // The response gives up before it began: length 0.
  void endEmpty();
  // How many of `count` bytes from the offset can be handed out now; 0 while waiting or after
  // the wait gave up.
  std::uint64_t readyCount(std::uint64_t count);
  void giveUp();
  // Starts a wait: the next poll is armed unless one already is.
  void waitMore();
  // When waiting, asks the connection to try again.
  void wake();
  // The player has moved to another video.
  bool playerLeft() const;
  // The player shows another video than when the response was made.
  bool playerMoved() const;
  // Nothing to serve will come: the response went stale, or the download failed (also one
  // waiting for its retry), went away, or the player moved on. Bytes already on disk with a
  // known length are served all the same.
  bool downloadWillNotBegin() const;
  // The downloader was dropped (its partial deleted) or replaced before it finished: the bytes
  // waited for will never show in its counts.
  bool downloadGone() const;

  ns::Weak<HTTPConnection> connection_;
  ns::Ref<dispatch::Queue> queue_;
  std::uint64_t fileLength_ = 0;
  std::uint64_t fileOffset_ = 0;
  bool aborted_ = false;
  bool isDownloading_ = false;
  int fileFD_ = -1;
  std::shared_ptr<const DispatchFileDescriptor> file_;
  std::int32_t myServerCount_ = 0;
  std::string videoid_;
  std::string filePath_;
  std::string cachePath_;
  ns::Ref<YoutubeDownloader> downloader_;
  Phase phase_ = Phase::Preparing;
  long status_ = 200;
  // Waiting with no news since the last look: a new look would find the same.
  std::atomic<bool> waiting_{false};
  std::atomic<bool> pollArmed_{false};
  std::atomic<bool> closed_{false};
  std::atomic<bool> hasOpenFile_{false};
  bool gaveUp_ = false;
  // A seek beyond the downloaded bytes that has not been reached yet.
  bool seekPending_ = false;
  // Preparation without a downloader: the end of the wait, and the player's video at the start.
  double downloaderDeadline_ = 0;
  bool deadlineArmed_ = false;
  std::optional<std::string> playerVideoAtStart_;
};

// Marks the file as read now (its access time), which is what cache trimming ages files by:
// mounts with relatime would rarely record a read on their own.
void markFileRead(const std::string& path);
// Records a response that serves the cache folder's file of the video by its own name.
void noteCacheFileServed(const ns::Ref<HTTPResponse>& response, const std::string& videoId);
// Whether a media-server response has the video's file open now (cache trimming spares it).
bool isVideoFileServed(const std::string& videoId);
