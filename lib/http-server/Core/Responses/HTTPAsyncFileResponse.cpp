#include "lib/http-server/Core/Responses/HTTPAsyncFileResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/logging/LogHub.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace {
const std::string kLogName(SourceFileBaseName(__FILE__, false).value_or("HTTPAsyncFileResponse"));
}

HTTPAsyncFileResponse::HTTPAsyncFileResponse(std::string filePath, ns::Weak<HTTPConnection> connection,
                                             std::uint64_t fileLength)
    : connection_(std::move(connection)), filePath_(std::move(filePath)), fileLength_(fileLength) {}

HTTPAsyncFileResponse::~HTTPAsyncFileResponse() {
  // The source's cancel handler closes the descriptor.
  if (readSource_ && !readSource_->isCancelled()) cancelReadSource();
}

ns::Ref<HTTPAsyncFileResponse> HTTPAsyncFileResponse::initWithFilePath_forConnection(
    const std::string& filePath, const ns::Ref<HTTPConnection>& connection) {
  if (filePath.empty()) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_RESPONSE, "%@: Init failed - Nil filePath", kLogName);
    return nullptr;
  }
  struct stat st {};
  if (::stat(filePath.c_str(), &st) != 0) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_RESPONSE, "%@: Init failed - Unable to get file attributes. filePath: %@",
                  kLogName, filePath);
    return nullptr;
  }
  return ns::make<HTTPAsyncFileResponse>(filePath, connection, static_cast<std::uint64_t>(st.st_size));
}

void HTTPAsyncFileResponse::abort() {
  ns::Ref<HTTPConnection> connection;
  {
    std::lock_guard lock(mutex_);
    connection = connection_.lock();
  }
  if (connection) connection->responseDidAbort(self<HTTPResponse>());
  std::lock_guard lock(mutex_);
  aborted_ = true;
}

bool HTTPAsyncFileResponse::openFileAndSetupReadSource() {
  int fd = ::open(filePath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@: Unable to open file. filePath: %@", kLogName, filePath_);
    return false;
  }
  fileFD_ = fd;
  readQueue_ = dispatch::queueCreate("HTTPAsyncFileResponse");
  dispatch::setSpecific(readQueue_, &readQueue_, this);
  readSource_ =
      dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(fd), 0, readQueue_);
  ns::Weak<HTTPAsyncFileResponse> weak = weakSelf<HTTPAsyncFileResponse>();
  readSource_->setEventHandler([weak] {
    if (auto me = weak.lock()) me->readSourceFired();
  });
  readSource_->setCancelHandler([fd] { ::close(fd); });
  readSourceSuspended_ = true;  // created suspended; resumed when the connection asks
  return true;
}

bool HTTPAsyncFileResponse::openFileIfNeeded() {
  if (aborted_ || closed_) return false;
  if (fileFD_ >= 0) return true;
  return openFileAndSetupReadSource();
}

void HTTPAsyncFileResponse::pauseReadSource() {
  if (!readSourceSuspended_) {
    readSourceSuspended_ = true;
    readSource_->suspend();
  }
}

void HTTPAsyncFileResponse::resumeReadSource() {
  if (readSourceSuspended_) {
    readSourceSuspended_ = false;
    readSource_->resume();
  }
}

void HTTPAsyncFileResponse::cancelReadSource() {
  readSource_->cancel();
  if (readSourceSuspended_) {
    readSourceSuspended_ = false;
    readSource_->resume();
  }
}

void HTTPAsyncFileResponse::onReadQueue(const std::function<void()>& body) {
  // The connection may let go of this response from the read queue itself, when a read
  // handler held the connection's last reference.
  if (dispatch::getSpecific(&readQueue_) == this)
    body();
  else
    dispatch::sync(readQueue_, body);
}

std::uint64_t HTTPAsyncFileResponse::offset() {
  std::lock_guard lock(mutex_);
  return fileOffset_;
}

bool HTTPAsyncFileResponse::isDone() {
  std::lock_guard lock(mutex_);
  return fileOffset_ == fileLength_;
}

void HTTPAsyncFileResponse::setOffset(std::uint64_t offset) {
  if (!openFileIfNeeded()) return;
  onReadQueue([&] {
    std::lock_guard lock(mutex_);
    // A piece read for the old position no longer applies.
    data_.reset();
    readBufferOffset_ = 0;
    fileOffset_ = offset;
    readOffset_ = offset;
  });
  if (::lseek(fileFD_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@[%p]: lseek failed - errno(%i) filePath(%@)", kLogName, this,
                   errno, filePath_);
    abort();
  }
}

std::optional<ns::Data> HTTPAsyncFileResponse::readDataOfLength(std::uint64_t length) {
  {
    std::lock_guard lock(mutex_);
    if (data_) {
      ns::Data piece = std::move(*data_);
      data_.reset();
      fileOffset_ += piece.length();
      return piece;
    }
  }
  if (!openFileIfNeeded()) return std::nullopt;
  onReadQueue([&] {
    readRequestLength_ = length;
    resumeReadSource();
  });
  return std::nullopt;
}

void HTTPAsyncFileResponse::readSourceFired() {
  std::uint64_t available = readSource_->data();
  std::uint64_t wanted;
  {
    std::lock_guard lock(mutex_);
    std::uint64_t requestLeft =
        readRequestLength_ > readBufferOffset_ ? readRequestLength_ - readBufferOffset_ : 0;
    std::uint64_t fileLeft = fileLength_ > readOffset_ ? fileLength_ - readOffset_ : 0;
    wanted = std::min(requestLeft, fileLeft);
  }
  // Nothing asked for, or nothing left to read: wait for the next request instead of taking
  // the empty read for the end of the file.
  if (wanted == 0) {
    pauseReadSource();
    return;
  }
  std::uint64_t toRead = std::min(available, wanted);
  if (toRead == 0) toRead = wanted;  // the read below tells the end of the file apart
  if (readBuffer_.size() - readBufferOffset_ < toRead) {
    try {
      readBuffer_.resize(readBufferOffset_ + toRead);
    } catch (const std::bad_alloc&) {
      HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@[%p]: Unable to allocate buffer", kLogName, this);
      pauseReadSource();
      abort();
      return;
    }
  }
  std::uint64_t at;
  {
    std::lock_guard lock(mutex_);
    at = readOffset_;
  }
  ssize_t result = ::pread(fileFD_, readBuffer_.data() + readBufferOffset_, toRead, static_cast<off_t>(at));
  if (result < 0) {
    if (errno == EAGAIN || errno == EINTR) return;
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@: Error(%i) reading file(%@)", kLogName, errno, filePath_);
    pauseReadSource();
    abort();
    return;
  }
  if (result == 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@: Read EOF on file(%@)", kLogName, filePath_);
    pauseReadSource();
    abort();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    readOffset_ += static_cast<std::uint64_t>(result);
    readBufferOffset_ += static_cast<std::uint64_t>(result);
  }
  pauseReadSource();
  processReadBuffer();
}

void HTTPAsyncFileResponse::processReadBuffer() {
  {
    std::lock_guard lock(mutex_);
    data_ = ns::Data(readBuffer_.data(), static_cast<std::size_t>(readBufferOffset_));
    readBufferOffset_ = 0;
  }
  notifyConnection();
}

void HTTPAsyncFileResponse::notifyConnection() {
  ns::Ref<HTTPConnection> connection;
  {
    std::lock_guard lock(mutex_);
    connection = connection_.lock();
  }
  if (connection) connection->responseHasAvailableData(self<HTTPResponse>());
}

void HTTPAsyncFileResponse::connectionDidClose() {
  if (fileFD_ < 0) return;
  onReadQueue([&] {
    {
      std::lock_guard lock(mutex_);
      connection_.reset();
    }
    if (!readSource_->isCancelled()) cancelReadSource();
  });
  closed_ = true;
}
