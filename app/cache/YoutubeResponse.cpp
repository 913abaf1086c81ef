#include "app/cache/YoutubeResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/shell/CacheUtilities.h"
#include "app/shell/IPlayerViewController.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "platform/core/Log.h"
#include "platform/runloop/Clock.h"

std::atomic<std::int32_t> serverCount{0};

namespace {

constexpr char kLogName[] = "YoutubeResponse";

bool isRegularFile(const std::string& path, std::uint64_t* size = nullptr) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

}  // namespace

void markFileRead(const std::string& path) {
  double now = ns::Clock::wallNow();
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(std::floor(now));
  times[0].tv_nsec = static_cast<long>((now - std::floor(now)) * 1e9);
  times[1].tv_sec = 0;
  times[1].tv_nsec = UTIME_OMIT;
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

YoutubeResponse::YoutubeResponse(std::string videoid, ns::Weak<HTTPConnection> connection)
    : connection_(std::move(connection)), videoid_(std::move(videoid)) {}

YoutubeResponse::~YoutubeResponse() {
  if (fileFD_ >= 0) ::close(fileFD_);
}

void YoutubeResponse::sleep() {
  std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kPollSeconds * 1000)));
}

bool YoutubeResponse::shouldAbort() const {
  return myServerCount_ != serverCount.load();
}

bool YoutubeResponse::playerLeft() const {
  auto player = playerViewController();
  auto current = player ? player->videoId() : std::nullopt;
  return current != videoid_;
}

bool YoutubeResponse::downloadGone() const {
  // The registry first: a downloader leaves it only after it is marked complete.
  return getDownloaderForVideoId(videoid_) != downloader_ && !downloader_->isComplete();
}

ns::Ref<YoutubeResponse> YoutubeResponse::initWithVideoid_forConnection(
    const std::string& videoid, const ns::Ref<HTTPConnection>& connection) {
  auto response = ns::make<YoutubeResponse>(videoid, connection);
  response->myServerCount_ = serverCount.load();

  auto cachePath = getCachedVideoPath(videoid);
  auto tempPath = getTempFolderFilePath(videoid + ".mp4");
  if (!cachePath || !tempPath) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_RESPONSE, "%@: Init failed - Nil filePath", kLogName);
    return nullptr;
  }
  response->isDownloading_ = !isRegularFile(*cachePath);
  response->filePath_ = response->isDownloading_ ? *tempPath : *cachePath;

  if (response->isDownloading_) {
    auto downloader = getDownloaderForVideoId(videoid);
    if (!downloader) {
      ns::Log("waiting for downloader");
      while (true) {
        sleep();
        downloader = getDownloaderForVideoId(videoid);
        if (response->shouldAbort()) return response;
        if (downloader) break;
        ns::Log("waiting for downloader");
      }
    }
    response->downloader_ = downloader;
    while (true) {
      ns::Log("waiting for fileAttributes");
      sleep();
      bool readable = isRegularFile(response->filePath_);
      if (downloader->isComplete()) {
        ns::Log("download Complete!");
        // The finished file may be a joined pair, whose length is not the video stream's: it
        // is served as any finished file is, by its own size and without waits.
        response->filePath_ = *cachePath;
        response->isDownloading_ = false;
        response->downloader_ = nullptr;
        break;
      }
      if (downloader->isError() || response->shouldAbort() || response->downloadGone()) {
        response->downloader_ = nullptr;
        return response;
      }
      if (readable) break;
    }
  }

  std::uint64_t size = 0;
  if (!isRegularFile(response->filePath_, &size)) {
    ns::Log("%@: Init failed - Unable to get file attributes. filePath: %@", kLogName, response->filePath_);
    return nullptr;
  }
  if (!response->isDownloading_) {
    response->fileLength_ = size;
    return response;
  }
  // Opened now, so that the download moving the finished partial into the cache folder before
  // the first read leaves this response reading the same file.
  response->openFile();
  while (true) {
    std::int64_t length = response->downloader_->contentLength();
    // A negative length is not known yet (a reply without one): the download ends with it.
    if (length > 0) {
      response->fileLength_ = static_cast<std::uint64_t>(length);
      return response;
    }
    ns::Log("waiting for contentLength");
    sleep();
    if (response->downloader_->isError() || response->shouldAbort() || response->downloadGone())
      return response;
  }
}

void YoutubeResponse::abort() {
  if (auto connection = connection_.lock()) connection->responseDidAbort(self<HTTPResponse>());
  aborted_ = true;
}

bool YoutubeResponse::openFile() {
  fileFD_ = ::open(filePath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fileFD_ < 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@[%p]: Unable to open file. filePath: %@", kLogName, this,
                   filePath_);
    ns::Log("%@[%p]: Unable to open file. filePath: %@", kLogName, this, filePath_);
    abort();
    return false;
  }
  markFileRead(filePath_);
  return true;
}

bool YoutubeResponse::openFileIfNeeded() {
  if (aborted_) return false;
  if (fileFD_ >= 0) return true;
  return openFile();
}

void YoutubeResponse::setOffset(std::uint64_t offset) {
  if (!openFileIfNeeded()) return;
  fileOffset_ = offset;
  if (!isDownloading_ || !downloader_) return;
  while (downloader_->downloadedBytes() < static_cast<std::int64_t>(offset)) {
    sleep();
    // A failed download never brings the bytes: the wait ends as when the player leaves.
    if (playerLeft() || downloader_->isError() || downloadGone()) {
      ns::Log("0 ### ABORT ### (%p)", this);
      return;
    }
    if (shouldAbort()) return;
  }
}

std::optional<ns::Data> YoutubeResponse::readDataOfLength(std::uint64_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::uint64_t left = fileOffset_ < fileLength_ ? fileLength_ - fileOffset_ : 0;
  std::uint64_t count = std::min(length, left);
  if (count == 0) return ns::Data();
  if (isDownloading_ && downloader_) {
    // These exits answer nothing and do not abort: the connection sends nothing more on this
    // response and waits until the server's restart, the player or the stall handler closes it.
    while (downloader_->downloadedBytes() < static_cast<std::int64_t>(fileOffset_ + count)) {
      sleep();
      if (playerLeft()) {
        ns::Log("1 ### ABORT ###");
        return std::nullopt;
      }
      if (shouldAbort()) {
        ns::Log("2 ### ABORT ###");
        return std::nullopt;
      }
      if (downloader_->isStalled() || downloader_->isError()) {
        ns::Log("3 ### ABORT ###");
        return std::nullopt;
      }
      // Nothing would ever close this connection: it closes now, and the player's next
      // request gets a response on the video's current download.
      if (downloadGone()) {
        ns::Log("%@: the download of %@ went away", kLogName, videoid_);
        abort();
        return std::nullopt;
      }
    }
  }
  if (buffer_.size() < count) buffer_.resize(count);
  std::vector<std::uint8_t>& buffer = buffer_;
  std::uint64_t got = 0;
  while (got < count) {
    ssize_t n = ::pread(fileFD_, buffer.data() + got, count - got, static_cast<off_t>(fileOffset_ + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      ns::Log("%@: Error(%i) reading file(%@)", kLogName, errno, filePath_);
      abort();
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  if (got == 0) {
    ns::Log("%@: Read EOF on file(%@)", kLogName, filePath_);
    abort();
    return std::nullopt;
  }
  fileOffset_ += got;
  return ns::Data(buffer.data(), static_cast<std::size_t>(got));
}
