#include "app/cache/YoutubeResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <vector>

#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "common/CacheUtilities.h"
#include "common/IPlayerViewController.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
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

// Every live response of the media server, so that a download's news reaches the ones waiting
// on it and trimming can tell which files are being read.
struct Registry {
  std::mutex mutex;
  std::vector<ns::Weak<YoutubeResponse>> responses;
  // Files of the cache folder served by their own name, by video id.
  std::vector<std::pair<ns::Weak<HTTPResponse>, std::string>> files;
};

Registry& registry() {
  static ns::NoDestructor<Registry> instance;
  return *instance;
}

void enter(const ns::Ref<YoutubeResponse>& response) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.responses, [](const ns::Weak<YoutubeResponse>& weak) { return weak.expired(); });
  r.responses.push_back(response);
}

// The live responses (a copy), those of one video when `videoId` is given.
std::vector<ns::Ref<YoutubeResponse>> liveResponses(const std::string* videoId = nullptr) {
  std::vector<ns::Ref<YoutubeResponse>> found;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  for (const auto& weak : r.responses)
    if (auto response = weak.lock())
      if (!videoId || response->videoid() == *videoId) found.push_back(std::move(response));
  return found;
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

void noteCacheFileServed(const ns::Ref<HTTPResponse>& response, const std::string& videoId) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.files, [](const auto& entry) { return entry.first.expired(); });
  r.files.emplace_back(response, videoId);
}

bool isVideoFileServed(const std::string& videoId) {
  for (const auto& response : liveResponses(&videoId))
    if (response->hasOpenFile()) return true;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return std::any_of(r.files.begin(), r.files.end(),
                     [&](const auto& entry) { return entry.second == videoId && !entry.first.expired(); });
}

YoutubeResponse::YoutubeResponse(std::string videoid, const ns::Ref<HTTPConnection>& connection)
    : connection_(connection), queue_(connection->connectionQueue()), videoid_(std::move(videoid)) {}

YoutubeResponse::~YoutubeResponse() = default;

void YoutubeResponse::downloadChanged(const std::string& videoId) {
  for (const auto& response : liveResponses(&videoId)) response->wake();
}

void YoutubeResponse::wakeAll() {
  for (const auto& response : liveResponses()) response->wake();
}

std::size_t YoutubeResponse::waitingResponseCount() {
  std::size_t count = 0;
  for (const auto& response : liveResponses())
    if (response->isWaiting()) ++count;
  return count;
}

bool YoutubeResponse::shouldAbort() const {
  return myServerCount_ != serverCount.load();
}

bool YoutubeResponse::playerLeft() const {
  auto player = playerViewController();
  auto current = player ? player->videoId() : std::nullopt;
  return current != videoid_;
}

bool YoutubeResponse::playerMoved() const {
  auto player = playerViewController();
  auto current = player ? player->videoId() : std::nullopt;
  return current != playerVideoAtStart_;
}

bool YoutubeResponse::downloadWillNotBegin() const {
  if (shouldAbort() || downloadGone()) return true;
  // A failed download answers at once, whatever made it fail; a retry later is another request.
  if (downloader_->isError() || downloader_->isStalled() || downloader_->isWaitingToRetry()) {
    ns::Log("%@: the download of %@ failed", kLogName, videoid_);
    return true;
  }
  if (playerMoved()) {
    ns::Log("%@: the player left %@ before its download began", kLogName, videoid_);
    return true;
  }
  return false;
}

bool YoutubeResponse::downloadGone() const {
  // The registry first: a downloader leaves it only after it is marked complete.
  return getDownloaderForVideoId(videoid_) != downloader_ && !downloader_->isComplete();
}

void YoutubeResponse::wake() {
  if (!waiting_.exchange(false)) return;
  if (auto connection = connection_.lock()) connection->responseHasAvailableData(self<HTTPResponse>());
}

// Callers arm the poll before they log why they wait, so that the line means the poll is
// counting (a test that moves the clock on seeing it is not early).
void YoutubeResponse::waitMore() {
  if (closed_ || pollArmed_.exchange(true)) return;
  ns::Weak<YoutubeResponse> weak = self<YoutubeResponse>();
  dispatch::after(kPollSeconds, queue_, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->pollArmed_ = false;
    self->wake();
  });
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
  response->cachePath_ = *cachePath;
  response->isDownloading_ = !isRegularFile(*cachePath);
  response->filePath_ = response->isDownloading_ ? *tempPath : *cachePath;
  if (auto player = playerViewController()) response->playerVideoAtStart_ = player->videoId();
  enter(response);

  // What is known now is answered now: a file that cannot be found is a 404 at once.
  if (response->prepare() && response->status_ == 404) return nullptr;
  return response;
}

bool YoutubeResponse::delayResponseHeaders() {
  return !prepare();
}

void YoutubeResponse::endEmpty() {
  fileLength_ = 0;
  fileOffset_ = 0;
  downloader_ = nullptr;
  isDownloading_ = false;
  phase_ = Phase::Serving;
}

bool YoutubeResponse::prepare() {
  if (phase_ == Phase::Serving) return true;
  // No news since the last look, or nobody to answer.
  if (waiting_ || closed_) return false;
  waiting_ = true;

  if (isDownloading_ && !downloader_) {
    auto downloader = getDownloaderForVideoId(videoid_);
    if (!downloader) {
      if (!deadlineArmed_) {
        deadlineArmed_ = true;
        downloaderDeadline_ = ns::Clock::now() + kDownloaderWaitSeconds;
        ns::Weak<YoutubeResponse> weak = self<YoutubeResponse>();
        dispatch::after(kDownloaderWaitSeconds, queue_, [weak] {
          if (auto self = weak.lock()) self->wake();
        });
      }
      // Nobody downloads the video: the wait ends with the player's next video, a newer
      // request or a restart, or after a minute.
      if (shouldAbort() || playerMoved() || ns::Clock::now() >= downloaderDeadline_) {
        if (!shouldAbort()) ns::Log("%@: no download of %@ began", kLogName, videoid_);
        waiting_ = false;
        endEmpty();
        return true;
      }
      waitMore();
      ns::Log("waiting for downloader");
      return false;
    }
    downloader_ = downloader;
  }

  if (isDownloading_ && fileFD_ < 0) {
    // The partial file: the download may also have ended (into the finished file, which may be
    // a joined pair whose length is no stream's) or failed meanwhile.
    if (downloader_->isComplete()) {
      ns::Log("download Complete!");
      filePath_ = cachePath_;
      isDownloading_ = false;
      downloader_ = nullptr;
    } else if (downloader_->isError() || shouldAbort() || downloadGone()) {
      waiting_ = false;
      endEmpty();
      return true;
    } else if (!isRegularFile(filePath_)) {
      if (downloadWillNotBegin()) {
        waiting_ = false;
        endEmpty();
        return true;
      }
      waitMore();
      ns::Log("waiting for fileAttributes");
      return false;
    } else {
      // Opened now, so that the download moving the finished partial into the cache folder
      // before the first read leaves this response reading the same file.
      openFile();
    }
  }

  if (!isDownloading_) {
    waiting_ = false;
    std::uint64_t size = 0;
    if (!isRegularFile(filePath_, &size)) {
      ns::LogWarning("%@: Init failed - Unable to get file attributes. filePath: %@", kLogName, filePath_);
      endEmpty();
      filePath_.clear();
      status_ = 404;
      return true;
    }
    fileLength_ = size;
    phase_ = Phase::Serving;
    return true;
  }

  std::int64_t length = downloader_->contentLength();
  // A negative length is not known yet (a reply without one): the download ends with it.
  if (length > 0) {
    waiting_ = false;
    fileLength_ = static_cast<std::uint64_t>(length);
    phase_ = Phase::Serving;
    return true;
  }
  if (downloadWillNotBegin()) {
    waiting_ = false;
    endEmpty();
    return true;
  }
  waitMore();
  ns::Log("waiting for contentLength");
  return false;
}

void YoutubeResponse::connectionDidClose() {
  if (closed_.exchange(true)) return;
  if (waiting_ && !gaveUp_) ns::Log("%@: the client of %@ has gone", kLogName, videoid_);
  waiting_ = false;
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
    ns::LogWarning("%@[%p]: Unable to open file. filePath: %@", kLogName, this, filePath_);
    abort();
    return false;
  }
  file_ = std::make_shared<DispatchFileDescriptor>(fileFD_);
  hasOpenFile_ = true;
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
  // A new position is news: the next read looks afresh.
  waiting_ = false;
  seekPending_ =
      isDownloading_ && downloader_ && downloader_->downloadedBytes() < static_cast<std::int64_t>(offset);
}

void YoutubeResponse::giveUp() {
  gaveUp_ = true;
  waiting_ = false;
}

std::uint64_t YoutubeResponse::readyCount(std::uint64_t count) {
  if (!isDownloading_ || !downloader_) return count;
  if (gaveUp_ || closed_ || waiting_) return 0;
  waiting_ = true;
  std::int64_t have = downloader_->downloadedBytes();
  if (have > static_cast<std::int64_t>(fileOffset_)) {
    waiting_ = false;
    seekPending_ = false;
    return std::min(count, static_cast<std::uint64_t>(have) - fileOffset_);
  }
  // A failed download never brings the bytes: a seek waiting for them ends as when the player
  // leaves.
  bool failed = downloader_->isStalled() || downloader_->isError() || downloader_->isWaitingToRetry();
  if (seekPending_ && (playerLeft() || failed || downloadGone())) {
    ns::Log("0 ### ABORT ### (%p)", this);
    seekPending_ = false;
  }
  // These exits answer nothing and do not abort: the connection sends nothing more on this
  // response and waits until the server's restart, the player or the stall handler closes it.
  if (playerLeft()) {
    ns::Log("1 ### ABORT ###");
    giveUp();
    return 0;
  }
  if (shouldAbort()) {
    ns::Log("2 ### ABORT ###");
    giveUp();
    return 0;
  }
  // A download waiting out its retry delay brings nothing before then either.
  if (failed) {
    ns::Log("3 ### ABORT ###");
    giveUp();
    return 0;
  }
  // Nothing would ever close this connection: it closes now, and the player's next request
  // gets a response on the video's current download.
  if (downloadGone()) {
    ns::Log("%@: the download of %@ went away", kLogName, videoid_);
    giveUp();
    abort();
    return 0;
  }
  waitMore();
  return 0;
}

std::optional<ns::Data> YoutubeResponse::readDataOfLength(std::uint64_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::uint64_t left = fileOffset_ < fileLength_ ? fileLength_ - fileOffset_ : 0;
  std::uint64_t count = std::min(length, left);
  if (count == 0) return ns::Data();
  count = readyCount(count);
  if (count == 0) return gaveUp_ ? std::nullopt : std::optional<ns::Data>(ns::Data());
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count));
  std::uint8_t* bytes = buffer.data();
  std::uint64_t got = 0;
  while (got < count) {
    ssize_t n = ::pread(fileFD_, bytes + got, count - got, static_cast<off_t>(fileOffset_ + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      ns::LogWarning("%@: Error(%i) reading file(%@)", kLogName, errno, filePath_);
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
  buffer.resize(static_cast<std::size_t>(got));
  return ns::Data(std::move(buffer));
}

std::optional<DispatchFileRange> YoutubeResponse::fileRangeOfLength(std::uint64_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::uint64_t left = fileOffset_ < fileLength_ ? fileLength_ - fileOffset_ : 0;
  std::uint64_t count = std::min(length, left);
  if (isDownloading_ && downloader_) {
    std::int64_t have = downloader_->downloadedBytes();
    if (have <= static_cast<std::int64_t>(fileOffset_)) return std::nullopt;
    count = std::min(count, static_cast<std::uint64_t>(have) - fileOffset_);
  }
  // A small piece costs less to copy than to splice; bytes not there are waited for by the read.
  if (count < HTTPFileResponse::kMinFileRangeLength) return std::nullopt;
  struct stat st {};
  if (::fstat(fileFD_, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) < fileOffset_ + count)
    return std::nullopt;
  DispatchFileRange range{file_, fileOffset_, count};
  fileOffset_ += count;
  waiting_ = false;
  seekPending_ = false;
  return range;
}
