#pragma once
// The local media server's answer to a "/youtube/<id>/..." request: the video's finished cache
// file, or the partial file its downloader is still writing. Reads of bytes that are not there
// yet wait in 0.2 s polls on the connection queue until the downloader has them, and give up
// when the response went stale (a server restart or a newer request), when the player moved to
// another video, when the download stalled or failed, or when its downloader went away.
//
// Everything runs on the server's one connection queue, so a waiting response holds up every
// other request to the server until it returns.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/http-server/Core/HTTPResponse.h"

class HTTPConnection;
class YoutubeDownloader;

// The server generation: raised by every restart of the local media server and by every new
// response. A response that sees another value than the one it was made with is stale.
extern std::atomic<std::int32_t> serverCount;

class YoutubeResponse : public HTTPResponse {
 public:
  YoutubeResponse(std::string videoid, ns::Weak<HTTPConnection> connection);
  ~YoutubeResponse() override;

  // May block the connection queue while the download has not begun. Nil when the served file
  // cannot be found (the connection answers 404); a response of length 0 when it went stale or
  // the download failed while it waited.
  static ns::Ref<YoutubeResponse> initWithVideoid_forConnection(const std::string& videoid,
                                                                const ns::Ref<HTTPConnection>& connection);

  std::string className() const override { return "YoutubeResponse"; }

  std::uint64_t contentLength() override { return fileLength_; }
  std::uint64_t offset() override { return fileOffset_; }
  void setOffset(std::uint64_t offset) override;
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return fileOffset_ == fileLength_; }

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

  // The pause between two polls of a wait.
  static constexpr double kPollSeconds = 0.2;

 private:
  // Waits one poll.
  static void sleep();
  // The player has moved to another video.
  bool playerLeft() const;
  // The downloader was dropped (its partial deleted) or replaced before it finished: the bytes
  // waited for will never show in its counts.
  bool downloadGone() const;

  ns::Weak<HTTPConnection> connection_;
  std::uint64_t fileLength_ = 0;
  std::uint64_t fileOffset_ = 0;
  bool aborted_ = false;
  bool isDownloading_ = false;
  int fileFD_ = -1;
  std::int32_t myServerCount_ = 0;
  std::string videoid_;
  std::string filePath_;
  ns::Ref<YoutubeDownloader> downloader_;
  // Reused by every read.
  std::vector<std::uint8_t> buffer_;
};

// Marks the file as read now (its access time), which is what cache trimming ages files by:
// mounts with relatime would rarely record a read on their own.
void markFileRead(const std::string& path);
