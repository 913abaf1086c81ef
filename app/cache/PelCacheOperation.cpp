#include "app/cache/PelCacheOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>

#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileManager.h"

namespace {

constexpr char kErrorDomain[] = "PelCacheOperationErrorDomain";
enum : long { kErrorPartialTooLong = 1, kErrorBadContentRange = 2, kErrorRangeBeyondFile = 3 };

ns::Error operationError(long code, const std::string& description) {
  return ns::Error::withDescription(kErrorDomain, code, description);
}

bool parseNonNegative(std::string_view text, std::int64_t* value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && *value >= 0;
}

// "bytes first-last/total" split at every " ", "-" and "/": exactly four parts, the last three
// numbers with first <= last < total.
bool parseContentRange(const std::string& text, std::int64_t* first, std::int64_t* total) {
  if (text.rfind("bytes", 0) != 0) return false;
  std::vector<std::string_view> parts;
  std::string_view rest(text);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == ' ' || rest[i] == '-' || rest[i] == '/') {
      parts.push_back(rest.substr(start, i - start));
      start = i + 1;
    }
  }
  if (parts.size() != 4 || parts[0] != "bytes") return false;
  std::int64_t last = 0;
  if (!parseNonNegative(parts[1], first) || !parseNonNegative(parts[2], &last) ||
      !parseNonNegative(parts[3], total))
    return false;
  return *first <= last && last < *total;
}

}  // namespace

PelCacheOperation::PelCacheOperation(ns::Ref<ns::URLRequest> request)
    : HTTPRequestOperation(std::move(request)) {}

ns::Ref<PelCacheOperation> PelCacheOperation::initWithRequest_targetPath_tempPath(
    const ns::Ref<ns::URLRequest>& request, const std::optional<std::string>& targetPath,
    const std::string& tempPath) {
  if (!request || !targetPath)
    ns::Exception::raise_format("NSInternalInconsistencyException", "Invalid parameter not satisfying: %s",
                                "targetPath != nil && urlRequest != nil");
  auto op = ns::make<PelCacheOperation>(request->copy());
  op->targetPath_ = targetPath;
  op->tempPath_ = tempPath;
  op->dontMoveFile_ = false;
  op->shouldResume_ = true;
  bool resuming = op->updateByteStartRangeForRequest();
  if (!resuming) {
    // Made here so that a reader of the partial file finds it from the start; never truncated.
    int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) ::close(fd);
  }
  // An empty file is appended to rather than truncated: the file system would write back all of
  // a file truncated to nothing when it is closed, in the closing thread.
  auto stream =
      ns::OutputStream::outputStreamToFileAtPath_append(tempPath, resuming || fileSizeForPath(tempPath) == 0);
  if (!stream) return nullptr;
  op->setOutputStream(stream);
  return op;
}

ns::Ref<PelCacheOperation> PelCacheOperation::initWithRequest_tempPath(const ns::Ref<ns::URLRequest>& request,
                                                                       const std::string& tempPath) {
  if (!request)
    ns::Exception::raise_format("NSInternalInconsistencyException", "Invalid parameter not satisfying: %s",
                                "urlRequest != nil");
  auto op = initWithRequest_targetPath_tempPath(request, std::string(), tempPath);
  if (!op) return nullptr;
  std::lock_guard lock(op->pathMutex_);
  op->targetPath_.reset();
  op->dontMoveFile_ = true;
  return op;
}

std::optional<std::string> PelCacheOperation::targetPath() const {
  std::lock_guard lock(pathMutex_);
  return targetPath_;
}

std::string PelCacheOperation::tempPath() const {
  std::lock_guard lock(pathMutex_);
  return tempPath_;
}

std::uint64_t PelCacheOperation::fileSizeForPath(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool PelCacheOperation::updateByteStartRangeForRequest() {
  if (!shouldResume_) return false;
  std::uint64_t size = fileSizeForPath(tempPath());
  if (size < 2) return false;
  auto request = this->request()->copy();
  request->setValue_forHTTPHeaderField("bytes=" + std::to_string(size - 1) + "-", "Range");
  setRequest(request);
  return true;
}

void PelCacheOperation::pause() {
  URLConnectionOperation::pause();
  updateByteStartRangeForRequest();
}

std::set<long> PelCacheOperation::acceptableStatusCodes() const {
  auto codes = HTTPRequestOperation::acceptableStatusCodes();
  codes.insert(416);
  return codes;
}

bool PelCacheOperation::acceptsResponseBody(const ns::Ref<ns::URLResponse>& response) const {
  // Called under the base operation's lock: reads the flag without taking the file lock.
  return writeBody_ && HTTPRequestOperation::acceptsResponseBody(response);
}

PelCacheOperation::Verdict PelCacheOperation::judge(const ns::Ref<ns::HTTPURLResponse>& response,
                                                    std::int64_t* offset, std::int64_t* total,
                                                    std::optional<ns::Error>* failure,
                                                    bool* deletePartial) const {
  long status = response->statusCode();
  *offset = 0;
  *total = response->expectedContentLength();
  if (status == 416) {
    *failure = operationError(kErrorPartialTooLong, "The partial file is longer than the resource.");
    *deletePartial = true;
    return Verdict::Refuse;
  }
  if (status < 200 || status > 299) return Verdict::Refuse;
  if (status == 206) {
    auto range = response->valueForHTTPHeaderField("Content-Range");
    std::int64_t first = 0, length = 0;
    if (!range || !parseContentRange(*range, &first, &length)) {
      *failure = operationError(kErrorBadContentRange, "The reply's Content-Range cannot be read.");
      return Verdict::Refuse;
    }
    if (static_cast<std::uint64_t>(first) > fileSizeForPath(tempPath())) {
      *failure =
          operationError(kErrorRangeBeyondFile, "The reply starts beyond the end of the partial file.");
      *deletePartial = true;
      return Verdict::Refuse;
    }
    *offset = first;
    *total = length;
  }
  return Verdict::Write;
}

void PelCacheOperation::setFileError(ns::Error error) {
  std::lock_guard lock(fileMutex_);
  fileError_ = std::move(error);
}

void PelCacheOperation::connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                                      const ns::Ref<ns::URLResponse>& response) {
  // Callbacks run on the loading thread: a pause on the network thread waits until the file is
  // set up, and a connection it let go of sets up nothing.
  std::lock_guard guard(lock());
  if (!isCurrentConnection(connection)) return;
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
  if (!http) {
    HTTPRequestOperation::connection_didReceiveResponse(connection, response);
    return;
  }
  std::int64_t offset = 0, total = 0;
  std::optional<ns::Error> failure;
  bool deletePartial = false;
  Verdict verdict = judge(http, &offset, &total, &failure, &deletePartial);
  {
    std::lock_guard lock(fileMutex_);
    fileError_ = failure;
    writeBody_ = verdict == Verdict::Write;
  }
  HTTPRequestOperation::connection_didReceiveResponse(connection, response);
  std::string path = tempPath();
  if (verdict == Verdict::Refuse) {
    // The body goes to memory; the partial file is left alone unless it cannot be resumed.
    if (deletePartial) ::unlink(path.c_str());
    return;
  }
  totalBytesReadPerDownload_ = 0;
  offsetContentLength_ = offset;
  totalContentLength_ = total;
  // A fresh stream for every reply: a paused operation's stream is closed for good, and the
  // file is cut to the reply's first byte (all of it for a 200).
  if (auto old = outputStream()) old->close();
  if (offset > 0 && ::truncate(path.c_str(), offset) != 0) {
    setFileError(ns::Error::fromErrno(path));
  }
  auto stream =
      ns::OutputStream::outputStreamToFileAtPath_append(path, offset > 0 || fileSizeForPath(path) == 0);
  setOutputStream(stream);
  stream->open();
}

void PelCacheOperation::connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection,
                                                  const ns::Data& data) {
  HTTPRequestOperation::connection_didReceiveData(connection, data);
  if (!writeBody_) return;
  {
    // The piece was dropped (or the transfer let go of since): it is no part of this reply.
    std::lock_guard guard(lock());
    if (!isCurrentConnection(connection)) return;
  }
  ProgressiveBlock block;
  ns::Ref<dispatch::Queue> queue;
  {
    std::lock_guard lock(fileMutex_);
    block = progressiveBlock_;
    queue = progressiveQueue_;
  }
  totalBytesReadPerDownload_ += static_cast<std::int64_t>(data.length());
  if (!block) return;
  auto self = this->self<PelCacheOperation>();
  long long bytes = static_cast<long long>(data.length());
  dispatch::async(queue ? queue : dispatch::mainQueue(), [self, block, bytes] {
    auto response = self->response();
    long long expected = response ? response->expectedContentLength() : -1;
    long long read = self->totalBytesReadPerDownload();
    block(self, bytes, read, expected, self->offsetContentLength() + read, self->totalContentLength());
  });
}

bool PelCacheOperation::moveFile() {
  if (dontMoveFile_) return true;
  auto manager = ns::FileManager::defaultManager();
  std::string temp = tempPath();
  auto target = targetPath();
  if (target && manager->fileExistsAtPath(temp)) {
    manager->removeItemAtPath_error(*target, nullptr);
    manager->moveItemAtPath_toPath_error(temp, *target, nullptr);
    return true;
  }
  ns::Log("%s called", "-[PelCacheOperation moveFile]");
  ns::Log("file not found?");
  return false;
}

std::optional<std::string> PelCacheOperation::responseObject() {
  // The operation's state is read before the file lock: the loading thread takes the operation's
  // lock first and the file lock inside it.
  const bool finished = isFinished();
  const bool cancelled = isCancelled();
  // A cancelled operation ends with the cancellation as its error; its file step still runs.
  const bool failed = finished && !cancelled && HTTPRequestOperation::error();
  std::lock_guard lock(fileMutex_);
  if (responseObjectDone_ || !finished || fileError_) return responseObject_;
  if (failed) return responseObject_;
  responseObjectDone_ = true;
  auto manager = ns::FileManager::defaultManager();
  std::string temp = tempPath();
  if (cancelled) {
    ns::Error error;
    if (deleteTempFileOnCancel_ && manager->fileExistsAtPath(temp) &&
        !manager->removeItemAtPath_error(temp, &error))
      fileError_ = error;
    return std::nullopt;
  }
  auto target = targetPath();
  if (dontMoveFile_ || !target) {
    responseObject_ = temp;
    return responseObject_;
  }
  if (shouldOverwrite_) manager->removeItemAtPath_error(*target, nullptr);
  ns::Error error;
  if (manager->moveItemAtPath_toPath_error(temp, *target, &error))
    responseObject_ = *target;
  else
    fileError_ = error;
  return responseObject_;
}

std::optional<ns::Error> PelCacheOperation::error() const {
  {
    std::lock_guard lock(fileMutex_);
    if (fileError_) return fileError_;
  }
  return HTTPRequestOperation::error();
}

bool PelCacheOperation::deleteTempFileWithError(ns::Error* error) {
  std::lock_guard lock(fileMutex_);
  auto manager = ns::FileManager::defaultManager();
  std::string temp = tempPath();
  if (!manager->attributesOfItemAtPath_error(temp, nullptr)) return true;
  return manager->removeItemAtPath_error(temp, error);
}

void PelCacheOperation::setProgressiveDownloadProgressBlock(ProgressiveBlock block) {
  std::lock_guard lock(fileMutex_);
  progressiveBlock_ = std::move(block);
}

ns::Ref<dispatch::Queue> PelCacheOperation::progressiveDownloadCallbackQueue() const {
  std::lock_guard lock(fileMutex_);
  return progressiveQueue_;
}

void PelCacheOperation::setProgressiveDownloadCallbackQueue(const ns::Ref<dispatch::Queue>& queue) {
  std::lock_guard lock(fileMutex_);
  progressiveQueue_ = queue;
}
