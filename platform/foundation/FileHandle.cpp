#include "platform/foundation/FileHandle.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/core/Exception.h"
#include "platform/foundation/SigpipeHeldBack.h"

namespace ns {
namespace {

// Writes everything; a vanished reader gives EPIPE on this thread only, without the signal.
bool writeAllNoSignal(int fd, const std::uint8_t* bytes, std::size_t length, int* err) {
  SigpipeHeldBack held;
  while (length > 0) {
    ssize_t n = ::write(fd, bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

Error handleError(int err) {
  return Error::posix(err);
}

}  // namespace

FileHandle::FileHandle(int fd, bool closeOnDealloc) : fd_(fd), closeOnDealloc_(closeOnDealloc) {}

FileHandle::~FileHandle() {
  if (closeOnDealloc_ && fd_ >= 0) ::close(fd_);
}

Ref<FileHandle> FileHandle::fileHandleForReadingAtPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? nullptr : make<FileHandle>(fd, true);
}

Ref<FileHandle> FileHandle::fileHandleForWritingAtPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  return fd < 0 ? nullptr : make<FileHandle>(fd, true);
}

Ref<FileHandle> FileHandle::fileHandleForUpdatingAtPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  return fd < 0 ? nullptr : make<FileHandle>(fd, true);
}

Ref<FileHandle> FileHandle::fileHandleWithStandardInput() {
  return make<FileHandle>(STDIN_FILENO, false);
}
Ref<FileHandle> FileHandle::fileHandleWithStandardOutput() {
  return make<FileHandle>(STDOUT_FILENO, false);
}
Ref<FileHandle> FileHandle::fileHandleWithStandardError() {
  return make<FileHandle>(STDERR_FILENO, false);
}

Ref<FileHandle> FileHandle::fileHandleWithNullDevice() {
  int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  return make<FileHandle>(fd, true);
}

int FileHandle::fileDescriptor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fd_;
}

void FileHandle::raise(const char* method, int err) const {
  Exception::raise(NSFileHandleOperationException,
                   std::string("*** -[NSConcreteFileHandle ") + method + "]: " + std::strerror(err));
}

std::optional<Data> FileHandle::readDataUpToLength_error(std::size_t length, Error* error) {
  int fd = fileDescriptor();
  if (fd < 0) {
    setError(error, handleError(EBADF));
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  while (bytes.size() < length) {
    std::size_t want = std::min(sizeof buffer, length - bytes.size());
    ssize_t n = ::read(fd, buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      setError(error, handleError(errno));
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return Data(std::move(bytes));
}

std::optional<Data> FileHandle::readDataToEndOfFileAndReturnError(Error* error) {
  return readDataUpToLength_error(static_cast<std::size_t>(-1), error);
}

Data FileHandle::readDataToEndOfFile() {
  Error error(NSPOSIXErrorDomain, 0);
  auto data = readDataToEndOfFileAndReturnError(&error);
  if (!data) raise("readDataToEndOfFile", static_cast<int>(error.code()));
  return *data;
}

Data FileHandle::readDataOfLength(std::size_t length) {
  Error error(NSPOSIXErrorDomain, 0);
  auto data = readDataUpToLength_error(length, &error);
  if (!data) raise("readDataOfLength:", static_cast<int>(error.code()));
  return *data;
}

Data FileHandle::availableData() {
  int fd = fileDescriptor();
  if (fd < 0) raise("availableData", EBADF);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return readDataToEndOfFile();
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n >= 0) return Data(buffer, static_cast<std::size_t>(n));
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      struct pollfd p {
        fd, POLLIN, 0
      };
      ::poll(&p, 1, -1);
      continue;
    }
    raise("availableData", errno);
  }
}

bool FileHandle::writeData_error(const Data& data, Error* error) {
  int fd = fileDescriptor();
  int err = EBADF;
  if (fd >= 0 && writeAllNoSignal(fd, data.bytes(), data.length(), &err)) return true;
  setError(error, handleError(err));
  return false;
}

void FileHandle::writeData(const Data& data) {
  Error error(NSPOSIXErrorDomain, 0);
  if (!writeData_error(data, &error)) raise("writeData:", static_cast<int>(error.code()));
}

bool FileHandle::getOffset_error(std::uint64_t* offset, Error* error) {
  int fd = fileDescriptor();
  off_t at = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) {
    setError(error, handleError(fd < 0 ? EBADF : errno));
    return false;
  }
  if (offset) *offset = static_cast<std::uint64_t>(at);
  return true;
}

bool FileHandle::seekToEndReturningOffset_error(std::uint64_t* offset, Error* error) {
  int fd = fileDescriptor();
  off_t at = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_END);
  if (at < 0) {
    setError(error, handleError(fd < 0 ? EBADF : errno));
    return false;
  }
  if (offset) *offset = static_cast<std::uint64_t>(at);
  return true;
}

bool FileHandle::seekToOffset_error(std::uint64_t offset, Error* error) {
  int fd = fileDescriptor();
  if (fd < 0 || ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    setError(error, handleError(fd < 0 ? EBADF : errno));
    return false;
  }
  return true;
}

bool FileHandle::truncateAtOffset_error(std::uint64_t offset, Error* error) {
  int fd = fileDescriptor();
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(offset)) != 0 ||
      ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    setError(error, handleError(fd < 0 ? EBADF : errno));
    return false;
  }
  return true;
}

bool FileHandle::synchronizeAndReturnError(Error* error) {
  int fd = fileDescriptor();
  if (fd < 0 || (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)) {
    setError(error, handleError(fd < 0 ? EBADF : errno));
    return false;
  }
  return true;
}

bool FileHandle::closeAndReturnError(Error* error) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fd = fd_;
    fd_ = -1;
  }
  if (fd < 0) return true;
  if (::close(fd) != 0 && errno != EINTR) {
    setError(error, handleError(errno));
    return false;
  }
  return true;
}

std::uint64_t FileHandle::offsetInFile() {
  std::uint64_t at = 0;
  Error error(NSPOSIXErrorDomain, 0);
  if (!getOffset_error(&at, &error)) raise("offsetInFile", static_cast<int>(error.code()));
  return at;
}

std::uint64_t FileHandle::seekToEndOfFile() {
  std::uint64_t at = 0;
  Error error(NSPOSIXErrorDomain, 0);
  if (!seekToEndReturningOffset_error(&at, &error)) raise("seekToEndOfFile", static_cast<int>(error.code()));
  return at;
}

void FileHandle::seekToFileOffset(std::uint64_t offset) {
  Error error(NSPOSIXErrorDomain, 0);
  if (!seekToOffset_error(offset, &error)) raise("seekToFileOffset:", static_cast<int>(error.code()));
}

void FileHandle::truncateFileAtOffset(std::uint64_t offset) {
  Error error(NSPOSIXErrorDomain, 0);
  if (!truncateAtOffset_error(offset, &error)) raise("truncateFileAtOffset:", static_cast<int>(error.code()));
}

void FileHandle::synchronizeFile() {
  Error error(NSPOSIXErrorDomain, 0);
  if (!synchronizeAndReturnError(&error)) raise("synchronizeFile", static_cast<int>(error.code()));
}

void FileHandle::closeFile() {
  closeAndReturnError(nullptr);
}

}  // namespace ns
