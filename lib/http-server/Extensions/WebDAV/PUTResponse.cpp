#include "lib/http-server/Extensions/WebDAV/PUTResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/StandardizedPath.h"
#include "platform/security/UUID.h"

namespace {

constexpr std::uint64_t kLogLevel = HTTP_LOG_LEVEL_RESPONSE;

std::string folderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Writes `data` to a new hidden file next to `path`; answers its path, or "" on failure.
std::string writeSibling(const std::string& path, const std::uint8_t* bytes, std::size_t length) {
  std::string temp = folderOf(path) + "/.upload-" + sec::UUID::newUUIDString();
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return "";
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bool ok = done == length && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(temp.c_str());
    return "";
  }
  return temp;
}

// Copies the file at `from` next to `path`, for a move across file systems.
std::string copySibling(const std::string& path, const std::string& from) {
  std::string temp = folderOf(path) + "/.upload-" + sec::UUID::newUUIDString();
  std::error_code ec;
  if (!std::filesystem::copy_file(from, temp, ec)) {
    std::filesystem::remove(temp, ec);
    return "";
  }
  return temp;
}

}  // namespace

bool PUTResponse::check(const std::string& path, const ns::HTTPHeaderFields& headers) {
  if (headers.get("Content-Range")) {
    HTTP_LOG_ERROR(kLogLevel, "Content-Range not supported for upload to \"%@\"", path);
    status_ = 400;
    return false;
  }
  struct stat st {};
  existed_ = ::lstat(path.c_str(), &st) == 0;
  // A folder is never replaced by an upload: that would delete everything in it.
  if (existed_ && S_ISDIR(st.st_mode)) {
    HTTP_LOG_ERROR(kLogLevel, "Failed writing upload to \"%@\"", path);
    status_ = 409;
    return false;
  }
  return true;
}

void PUTResponse::finish(const std::string& path, bool ok) {
  if (ok) {
    status_ = existed_ ? 200 : 201;
  } else {
    HTTP_LOG_ERROR(kLogLevel, "Failed writing upload to \"%@\"", path);
    status_ = 403;
  }
}

PUTResponse::PUTResponse(const std::string& path, const ns::HTTPHeaderFields& headers,
                         const ns::Data& bodyData) {
  if (!check(path, headers)) return;
  std::string temp = writeSibling(path, bodyData.bytes(), bodyData.length());
  bool ok = !temp.empty() && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok && !temp.empty()) ::unlink(temp.c_str());
  finish(path, ok);
}

PUTResponse::PUTResponse(const std::string& path, const ns::HTTPHeaderFields& headers,
                         const std::string& bodyFile) {
  if (!check(path, headers)) return;
  bool ok = ::rename(bodyFile.c_str(), path.c_str()) == 0;
  if (ok) {
    tookBodyFile_ = true;
  } else if (errno == EXDEV) {
    std::string temp = copySibling(path, bodyFile);
    ok = !temp.empty() && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok && !temp.empty()) ::unlink(temp.c_str());
  }
  finish(path, ok);
}

DELETEResponse::DELETEResponse(const std::string& path, const std::optional<std::string>& rootPath) {
  if (rootPath && standardizedPath(path) == standardizedPath(*rootPath)) {
    HTTP_LOG_ERROR(kLogLevel, "Failed deleting \"%@\"", path);
    status_ = 403;
    return;
  }
  std::error_code ec;
  bool existed = std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
  bool ok = existed && std::filesystem::remove_all(path, ec) != static_cast<std::uintmax_t>(-1) && !ec;
  if (!ok) {
    HTTP_LOG_ERROR(kLogLevel, "Failed deleting \"%@\"", path);
    status_ = 404;
    return;
  }
  status_ = existed ? 200 : 204;
}
