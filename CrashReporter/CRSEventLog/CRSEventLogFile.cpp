#include "CrashReporter/CRSEventLog/CRSEventLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <filesystem>

#include "CrashReporter/CRSDebugLog.h"
#include "platform/foundation/FileManager.h"

namespace fs = std::filesystem;

CRSEventLogFile::CRSEventLogFile(std::string url) : url_(std::move(url)) {}

CRSEventLogFile::~CRSEventLogFile() {
  closeFileHandle();
}

bool CRSEventLogFile::setUp() {
  std::error_code code;
  auto type = fs::symlink_status(url_, code).type();
  // A folder or a link in the way is removed: records are never written through a link.
  if (type == fs::file_type::directory || type == fs::file_type::symlink) {
    ns::Error error;
    if (!ns::FileManager::defaultManager()->removeItemAtPath_error(url_, &error))
      CRSDebugLog("[CrashReporter] CRSEventLogFile: Unable to delete blocking directory %@ [error: %@]", url_,
                  error);
  }
  int created = ::open(url_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (created >= 0) ::close(created);
  struct stat st {};
  if (::stat(url_.c_str(), &st) != 0) {
    CRSDebugLog("[CrashReporter] CRSEventLogFile: Unable to get attributes for item at path %@ [error: %@]",
                url_, ns::Error::fromErrno(url_));
    return false;
  }
  fileSize_ = static_cast<std::uint64_t>(st.st_size);
  ns::Error error;
  if (!openFileHandleForWriting(&error)) {
    CRSDebugLog("[CrashReporter] CRSEventLogFile: Unable to get open file for writing at path %@ [error: %@]",
                url_, error);
    return false;
  }
  return true;
}

ns::Ref<CRSEventLogFile> CRSEventLogFile::initWithURL(const std::string& url) {
  auto file = ns::make<CRSEventLogFile>(url);
  return file->setUp() ? file : nullptr;
}

ns::Ref<CRSEventLogFile> CRSEventLogFile::initWithName_inDirectoryWithURL(const std::string& name,
                                                                          const std::string& directory) {
  return initWithURL((fs::path(directory) / name).string());
}

ns::Ref<CRSEventLogEventFile> CRSEventLogEventFile::initWithURL(const std::string& url) {
  auto file = ns::make<CRSEventLogEventFile>(url);
  return file->setUp() ? file : nullptr;
}

bool CRSEventLogFile::openFileHandleForWriting(ns::Error* error) {
  assert(fd_ < 0 && "the file is already open");
  fd_ = ::open(url_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) {
    ns::setError(error, ns::Error::fromErrno(url_));
    return false;
  }
  return true;
}

bool CRSEventLogFile::openFileHandleForReading(ns::Error* error) {
  assert(fd_ < 0 && "the file is already open");
  fd_ = ::open(url_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) {
    ns::setError(error, ns::Error::fromErrno(url_));
    return false;
  }
  return true;
}

void CRSEventLogFile::closeFileHandle() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool CRSEventLogFile::appendData_error(const ns::Data& data, ns::Error* error) {
  assert(fd_ >= 0 && "the file is not open");
  const std::uint8_t* bytes = data.bytes();
  std::size_t left = data.length();
  while (left > 0) {
    ssize_t written = ::write(fd_, bytes, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      ns::setError(error, ns::Error::fromErrno(url_));
      return false;
    }
    bytes += written;
    left -= static_cast<std::size_t>(written);
    fileSize_ += static_cast<std::uint64_t>(written);
  }
  return true;
}

bool CRSEventLogFile::resetFile(ns::Error* error) {
  assert(fd_ >= 0 && "the file is not open");
  if (::ftruncate(fd_, 0) != 0) {
    ns::setError(error, ns::Error::fromErrno(url_));
    return false;
  }
  fileSize_ = 0;
  return true;
}

std::optional<ns::Data> CRSEventLogFile::readFromFile(ns::Error* error) {
  closeFileHandle();
  ns::Error readError;
  std::optional<ns::Data> data;
  if (openFileHandleForReading(&readError)) {
    ns::MutableData bytes;
    char buffer[8192];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        readError = ns::Error::fromErrno(url_);
        break;
      }
      if (n == 0) {
        data = ns::Data(bytes.toString());
        break;
      }
      bytes.appendBytes_length(buffer, static_cast<std::size_t>(n));
    }
    closeFileHandle();
  }
  ns::Error reopenError;
  if (!openFileHandleForWriting(&reopenError)) {
    if (data) {
      ns::setError(error, reopenError);
      return std::nullopt;
    }
    CRSDebugLog("[CrashReporter] CRSEventLogFile: Unable to reopen file for writing at path %@ [error: %@]",
                url_, reopenError);
  }
  if (!data) ns::setError(error, readError);
  return data;
}
