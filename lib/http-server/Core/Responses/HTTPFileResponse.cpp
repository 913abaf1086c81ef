#include "lib/http-server/Core/Responses/HTTPFileResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/logging/LogHub.h"

namespace {
const std::string kLogName(SourceFileBaseName(__FILE__, false).value_or("HTTPFileResponse"));
}

HTTPFileResponse::HTTPFileResponse(std::string filePath, ns::Weak<HTTPConnection> connection,
                                   std::uint64_t fileLength)
    : connection_(std::move(connection)), filePath_(std::move(filePath)), fileLength_(fileLength) {}

HTTPFileResponse::~HTTPFileResponse() = default;

ns::Ref<HTTPFileResponse> HTTPFileResponse::initWithFilePath_forConnection(
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
  return ns::make<HTTPFileResponse>(filePath, connection, static_cast<std::uint64_t>(st.st_size));
}

const std::string& HTTPFileResponse::filePath() const {
  if (!resolvedPath_) {
    resolvedPath_ = filePath_;
    if (char* real = ::realpath(filePath_.c_str(), nullptr)) {
      resolvedPath_ = real;
      std::free(real);
    }
  }
  return *resolvedPath_;
}

void HTTPFileResponse::abort() {
  if (auto connection = connection_.lock()) connection->responseDidAbort(self<HTTPResponse>());
  aborted_ = true;
}

bool HTTPFileResponse::openFile() {
  fileFD_ = ::open(filePath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fileFD_ < 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@[%p]: Unable to open file. filePath: %@", kLogName, this,
                   filePath());
    abort();
    return false;
  }
  file_ = std::make_shared<DispatchFileDescriptor>(fileFD_);
  return true;
}

bool HTTPFileResponse::openFileIfNeeded() {
  if (aborted_) return false;
  if (fileFD_ >= 0) return true;
  return openFile();
}

void HTTPFileResponse::setOffset(std::uint64_t offset) {
  if (!openFileIfNeeded()) return;
  // Reads and ranges name their position themselves: the descriptor's own never matters.
  fileOffset_ = offset;
}

std::optional<ns::Data> HTTPFileResponse::readDataOfLength(std::uint64_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::uint64_t bytesLeft = fileOffset_ < fileLength_ ? fileLength_ - fileOffset_ : 0;
  std::uint64_t bytesToRead = std::min(length, bytesLeft);
  // Nothing asked or nothing left is an empty answer, not the end of the file.
  if (bytesToRead == 0) return ns::Data();
  if (buffer_.size() < bytesToRead) {
    try {
      buffer_.resize(bytesToRead);
    } catch (const std::bad_alloc&) {
      HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@[%p]: Unable to allocate buffer", kLogName, this);
      abort();
      return std::nullopt;
    }
  }
  // At the response's own position: the bytes handed out as file ranges did not move the
  // descriptor's.
  ssize_t result = ::pread(fileFD_, buffer_.data(), bytesToRead, static_cast<off_t>(fileOffset_));
  if (result < 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@: Error(%i) reading file(%@)", kLogName, errno, filePath());
    abort();
    return std::nullopt;
  }
  if (result == 0) {
    HTTP_LOG_ERROR(HTTP_LOG_LEVEL_RESPONSE, "%@: Read EOF on file(%@)", kLogName, filePath());
    abort();
    return std::nullopt;
  }
  fileOffset_ += static_cast<std::uint64_t>(result);
  return ns::Data(buffer_.data(), static_cast<std::size_t>(result));
}

std::optional<DispatchFileRange> HTTPFileResponse::fileRangeOfLength(std::uint64_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::uint64_t bytesLeft = fileOffset_ < fileLength_ ? fileLength_ - fileOffset_ : 0;
  std::uint64_t count = std::min(length, bytesLeft);
  // A small piece costs less to copy than to splice from the page cache.
  if (count < kMinFileRangeLength) return std::nullopt;
  // A file seen holding the bytes is asked again only for bytes past what it held: one that
  // shrinks after that fails the socket's send, as it fails a read.
  if (fileOffset_ + count > fileHolds_) {
    struct stat st {};
    if (::fstat(fileFD_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    fileHolds_ = static_cast<std::uint64_t>(st.st_size);
    if (fileHolds_ < fileOffset_ + count) return std::nullopt;
  }
  DispatchFileRange range{file_, fileOffset_, count};
  fileOffset_ += count;
  return range;
}
