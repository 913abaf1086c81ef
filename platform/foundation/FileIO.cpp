#include "platform/foundation/FileIO.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/Str.h"

namespace ns {
namespace {

mode_t processUmask() {
  // umask() can only be read by setting it, which races with other threads; the kernel shows it.
  static const mode_t mask = [] {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("Umask:", 0) == 0)
        return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return static_cast<mode_t>(022);
  }();
  return mask;
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Error fileError(int err, const std::string& path, bool writing) {
  long code;
  if (writing) {
    switch (err) {
      case ENOENT:
      case ENOTDIR:
        code = NSFileNoSuchFileError;
        break;
      case EACCES:
      case EPERM:
        code = NSFileWriteNoPermissionError;
        break;
      case EEXIST:
      case ENOTEMPTY:
        code = NSFileWriteFileExistsError;
        break;
      case ENOSPC:
      case EDQUOT:
        code = NSFileWriteOutOfSpaceError;
        break;
      case EROFS:
        code = NSFileWriteVolumeReadOnlyError;
        break;
      case ENAMETOOLONG:
      case EINVAL:
        code = NSFileWriteInvalidFileNameError;
        break;
      default:
        code = NSFileWriteUnknownError;
    }
  } else {
    switch (err) {
      case ENOENT:
      case ENOTDIR:
        code = NSFileReadNoSuchFileError;
        break;
      case EACCES:
      case EPERM:
        code = NSFileReadNoPermissionError;
        break;
      case ENAMETOOLONG:
        code = NSFileReadInvalidFileNameError;
        break;
      case EFBIG:
        code = NSFileReadTooLargeError;
        break;
      default:
        code = NSFileReadUnknownError;
    }
  }
  Dictionary info;
  info.set(NSFilePathErrorKey, path);
  info.set(NSUnderlyingErrorKey, Error::posix(err).toValue());
  return Error(NSCocoaErrorDomain, code, std::move(info));
}

std::optional<Data> dataWithContentsOfFile(const std::string& path, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    setError(error, fileError(errno, path, false));
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    setError(error, fileError(EISDIR, path, false));
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      setError(error, fileError(err, path, false));
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return Data(std::move(bytes));
}

bool writeDataToFile(const Data& data, const std::string& path, unsigned options, Error* error) {
  if (path.empty()) {
    setError(error, fileError(ENOENT, path, true));
    return false;
  }
  if (!(options & DataWritingAtomic)) {
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    if (options & DataWritingWithoutOverwriting) flags |= O_EXCL;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
      setError(error, fileError(errno, path, true));
      return false;
    }
    bool ok = writeAll(fd, data.bytes(), data.length());
    int err = errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (!ok) setError(error, fileError(err, path, true));
    return ok;
  }

  // The side file lives beside the target so that the final rename stays on one file system.
  // Its name is the target's cut short where the dot and suffix would make it longer than a
  // file name may be, so that any name the target may have can be written atomically.
  std::string side = folderOf(path) + "/." + nameOf(path).substr(0, NAME_MAX - 8) + ".XXXXXX";
  std::vector<char> templ(side.begin(), side.end());
  templ.push_back('\0');
  int fd = ::mkostemp(templ.data(), O_CLOEXEC);
  if (fd < 0) {
    setError(error, fileError(errno, path, true));
    return false;
  }
  std::string sidePath(templ.data());
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(sidePath.c_str());
    setError(error, fileError(err, path, true));
    return false;
  };
  if (!writeAll(fd, data.bytes(), data.length())) return fail(errno);
  struct stat existing {};
  mode_t mode = (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
                    ? (existing.st_mode & 07777)
                    : (0666 & ~processUmask());
  if (::fchmod(fd, mode) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(sidePath.c_str());
    setError(error, fileError(err, path, true));
    return false;
  }
  if (options & DataWritingWithoutOverwriting) {
    // link() refuses an existing target, which rename() would replace.
    if (::link(sidePath.c_str(), path.c_str()) != 0) {
      int err = errno;
      ::unlink(sidePath.c_str());
      setError(error, fileError(err, path, true));
      return false;
    }
    ::unlink(sidePath.c_str());
  } else if (::rename(sidePath.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(sidePath.c_str());
    setError(error, fileError(err, path, true));
    return false;
  }
  return true;
}

std::optional<std::string> stringWithContentsOfFile(const std::string& path, Error* error) {
  auto data = dataWithContentsOfFile(path, error);
  if (!data) return std::nullopt;
  std::string text = data->toString();
  if (!str::isValidUtf8(text)) {
    Dictionary info;
    info.set(NSFilePathErrorKey, path);
    info.set(NSStringEncodingErrorKey, 4L);
    setError(error, Error(NSCocoaErrorDomain, NSFileReadInapplicableStringEncodingError, std::move(info)));
    return std::nullopt;
  }
  return text;
}

bool writeStringToFile(const std::string& text, const std::string& path, bool atomically, Error* error) {
  return writeDataToFile(Data(text), path, atomically ? unsigned(DataWritingAtomic) : 0u, error);
}

}  // namespace ns
