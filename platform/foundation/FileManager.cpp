#include "platform/foundation/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/foundation/ProcessInfo.h"

namespace ns {
namespace {

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string parentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

// Names in a folder in name order; errno is kept on failure.
bool listFolder(const std::string& path, std::vector<std::string>* names) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  names->clear();
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names->emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

Date dateOf(const struct timespec& ts) {
  return Date::dateWithTimeIntervalSince1970(static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9);
}

struct timespec timespecOf(const Date& date) {
  double t = date.timeIntervalSince1970();
  double whole = std::floor(t);
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(whole);
  ts.tv_nsec = static_cast<long>((t - whole) * 1e9);
  return ts;
}

Dictionary attributesOf(const std::string& path, int* err) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    *err = errno;
    return {};
  }
  Dictionary attrs;
  const char* type = NSFileTypeUnknown;
  switch (sx.stx_mode & S_IFMT) {
    case S_IFDIR:
      type = NSFileTypeDirectory;
      break;
    case S_IFREG:
      type = NSFileTypeRegular;
      break;
    case S_IFLNK:
      type = NSFileTypeSymbolicLink;
      break;
    case S_IFSOCK:
      type = NSFileTypeSocket;
      break;
    case S_IFCHR:
      type = NSFileTypeCharacterSpecial;
      break;
    case S_IFBLK:
      type = NSFileTypeBlockSpecial;
      break;
  }
  attrs.set(NSFileType, type);
  attrs.set(NSFileSize, static_cast<unsigned long long>(sx.stx_size));
  struct timespec mtime {
    static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)
  };
  attrs.set(NSFileModificationDate, dateOf(mtime));
  // Not every file system records a birth time; the modification time stands in.
  if (sx.stx_mask & STATX_BTIME) {
    struct timespec btime {
      static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)
    };
    attrs.set(NSFileCreationDate, dateOf(btime));
  } else {
    attrs.set(NSFileCreationDate, dateOf(mtime));
  }
  attrs.set(NSFilePosixPermissions, static_cast<unsigned long>(sx.stx_mode & 07777));
  attrs.set(NSFileReferenceCount, static_cast<unsigned long>(sx.stx_nlink));
  attrs.set(NSFileOwnerAccountID, static_cast<unsigned long>(sx.stx_uid));
  attrs.set(NSFileGroupOwnerAccountID, static_cast<unsigned long>(sx.stx_gid));
  char buffer[4096];
  struct passwd pwd;
  struct passwd* pw = nullptr;
  if (::getpwuid_r(sx.stx_uid, &pwd, buffer, sizeof buffer, &pw) == 0 && pw)
    attrs.set(NSFileOwnerAccountName, pw->pw_name);
  struct group grp;
  struct group* gr = nullptr;
  if (::getgrgid_r(sx.stx_gid, &grp, buffer, sizeof buffer, &gr) == 0 && gr)
    attrs.set(NSFileGroupOwnerAccountName, gr->gr_name);
  attrs.set(NSFileSystemNumber, static_cast<unsigned long>(makedev(sx.stx_dev_major, sx.stx_dev_minor)));
  attrs.set(NSFileSystemFileNumber, static_cast<unsigned long long>(sx.stx_ino));
  return attrs;
}

bool copyFileContents(const std::string& source, const std::string& destination, const struct stat& st,
                      Error* error) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    setError(error, fileError(errno, source, false));
    return false;
  }
  int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    int err = errno;
    ::close(in);
    setError(error, fileError(err, destination, true));
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  int err = 0;
  bool readFailed = false;
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      err = errno;
      readFailed = true;
      break;
    }
    if (n == 0) break;
    const char* p = buffer.data();
    while (n > 0) {
      ssize_t w = ::write(out, p, static_cast<std::size_t>(n));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        err = errno;
        break;
      }
      p += w;
      n -= w;
    }
    if (!ok) break;
  }
  if (ok) {
    ::fchmod(out, st.st_mode & 07777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(destination.c_str());
    setError(error, readFailed ? fileError(err, source, false) : fileError(err, destination, true));
  }
  return ok;
}

bool removeTree(const std::string& path, Error* error) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  if (ec) {
    setError(error, fileError(ec.value(), path, true));
    return false;
  }
  return true;
}

// Copies (or, with `link`, hard-links) an item and everything below it. The destination must
// not exist.
bool copyTree(const std::string& source, const std::string& destination, bool link, Error* error) {
  struct stat st {};
  if (::lstat(source.c_str(), &st) != 0) {
    setError(error, fileError(errno, source, false));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    if (::mkdir(destination.c_str(), (st.st_mode & 07777) | 0700) != 0) {
      setError(error, fileError(errno, destination, true));
      return false;
    }
    std::vector<std::string> names;
    if (!listFolder(source, &names)) {
      setError(error, fileError(errno, source, false));
      return false;
    }
    for (const auto& name : names) {
      if (!copyTree(joinPath(source, name), joinPath(destination, name), link, error)) return false;
    }
    ::chmod(destination.c_str(), st.st_mode & 07777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, destination.c_str(), times, 0);
    return true;
  }
  if (link) {
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), 0) != 0) {
      setError(error, fileError(errno, destination, true));
      return false;
    }
    return true;
  }
  if (S_ISLNK(st.st_mode)) {
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1);
    ssize_t n = ::readlink(source.c_str(), target.data(), target.size() - 1);
    if (n < 0) {
      setError(error, fileError(errno, source, false));
      return false;
    }
    if (::symlink(std::string(target.data(), static_cast<std::size_t>(n)).c_str(), destination.c_str()) !=
        0) {
      setError(error, fileError(errno, destination, true));
      return false;
    }
    return true;
  }
  if (S_ISREG(st.st_mode)) return copyFileContents(source, destination, st, error);
  if (S_ISFIFO(st.st_mode)) {
    if (::mkfifo(destination.c_str(), st.st_mode & 07777) != 0) {
      setError(error, fileError(errno, destination, true));
      return false;
    }
    return true;
  }
  setError(error, fileError(ENOTSUP, source, false));
  return false;
}

bool sameContents(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0) return false;
  if ((sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT)) return false;
  if (S_ISDIR(sa.st_mode)) {
    std::vector<std::string> na, nb;
    if (!listFolder(a, &na) || !listFolder(b, &nb) || na != nb) return false;
    for (const auto& name : na) {
      if (!sameContents(joinPath(a, name), joinPath(b, name))) return false;
    }
    return true;
  }
  if (S_ISLNK(sa.st_mode)) {
    char ta[4096], tb[4096];
    ssize_t la = ::readlink(a.c_str(), ta, sizeof ta), lb = ::readlink(b.c_str(), tb, sizeof tb);
    return la >= 0 && la == lb && std::memcmp(ta, tb, static_cast<std::size_t>(la)) == 0;
  }
  if (sa.st_size != sb.st_size) return false;
  auto da = dataWithContentsOfFile(a), db = dataWithContentsOfFile(b);
  return da && db && *da == *db;
}

}  // namespace

// ---- DirectoryEnumerator ----

DirectoryEnumerator::DirectoryEnumerator(std::string root) : root_(std::move(root)) {}

std::optional<std::string> DirectoryEnumerator::nextObject() {
  if (!started_) {
    started_ = true;
    Level top;
    if (!listFolder(root_, &top.names)) return std::nullopt;
    stack_.push_back(std::move(top));
  }
  if (pendingFolder_) {
    Level level;
    level.relative = *pendingFolder_;
    pendingFolder_.reset();
    if (listFolder(joinPath(root_, level.relative), &level.names)) stack_.push_back(std::move(level));
  }
  while (!stack_.empty() && stack_.back().next >= stack_.back().names.size()) stack_.pop_back();
  if (stack_.empty()) return std::nullopt;
  Level& level = stack_.back();
  std::string relative = joinPath(level.relative, level.names[level.next++]);
  lastLevel_ = stack_.size();
  last_ = relative;
  struct stat st {};
  if (::lstat(joinPath(root_, relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) pendingFolder_ = relative;
  return relative;
}

void DirectoryEnumerator::skipDescendants() {
  pendingFolder_.reset();
}

Dictionary DirectoryEnumerator::fileAttributes() const {
  if (last_.empty()) return {};
  int err = 0;
  return attributesOf(joinPath(root_, last_), &err);
}

Dictionary DirectoryEnumerator::directoryAttributes() const {
  int err = 0;
  return attributesOf(root_, &err);
}

// ---- FileManager ----

Ref<FileManager> FileManager::defaultManager() {
  // Never destroyed, so that work still running on other threads at exit can use it.
  static const ns::NoDestructor<Ref<FileManager>> manager(make<FileManager>());
  return *manager;
}

bool FileManager::fileExistsAtPath(const std::string& path) const {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool FileManager::fileExistsAtPath_isDirectory(const std::string& path, bool* isDirectory) const {
  struct stat st {};
  bool exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
  if (isDirectory) *isDirectory = exists && S_ISDIR(st.st_mode);
  return exists;
}

bool FileManager::isReadableFileAtPath(const std::string& path) const {
  return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

bool FileManager::isWritableFileAtPath(const std::string& path) const {
  return !path.empty() && ::access(path.c_str(), W_OK) == 0;
}

bool FileManager::isExecutableFileAtPath(const std::string& path) const {
  return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

bool FileManager::isDeletableFileAtPath(const std::string& path) const {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
  std::string parent = parentOf(path);
  if (::access(parent.c_str(), W_OK | X_OK) != 0) return false;
  struct stat ps {};
  if (::stat(parent.c_str(), &ps) == 0 && (ps.st_mode & S_ISVTX)) {
    // In a sticky folder only the owner of the item or of the folder may remove it.
    uid_t me = ::geteuid();
    return me == 0 || me == st.st_uid || me == ps.st_uid;
  }
  return true;
}

bool FileManager::createDirectoryAtPath_withIntermediateDirectories_attributes_error(
    const std::string& path, bool intermediates, const Dictionary& attributes, Error* error) {
  if (path.empty()) {
    setError(error, fileError(ENOENT, path, true));
    return false;
  }
  mode_t mode = 0777;
  if (const Value* perms = attributes.find(NSFilePosixPermissions))
    mode = static_cast<mode_t>(perms->integerValue() & 07777);
  if (!intermediates) {
    if (::mkdir(path.c_str(), mode) != 0) {
      setError(error, fileError(errno, path, true));
      return false;
    }
    if (attributes.find(NSFilePosixPermissions)) ::chmod(path.c_str(), mode);
    return true;
  }
  // Create each missing component in turn; an existing folder is fine, a file in the way is not.
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (part.empty() || part == "/") continue;
    if (::mkdir(part.c_str(), pos == std::string::npos ? mode : 0777) == 0) continue;
    int err = errno;
    struct stat st {};
    if (err == EEXIST && ::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    setError(error, fileError(err == EEXIST ? EEXIST : err, part, true));
    return false;
  }
  if (attributes.find(NSFilePosixPermissions)) ::chmod(path.c_str(), mode);
  return true;
}

bool FileManager::createFileAtPath_contents_attributes(const std::string& path,
                                                       const std::optional<Data>& contents,
                                                       const Dictionary& attributes) {
  if (!writeDataToFile(contents ? *contents : Data(), path, DataWritingAtomic, nullptr)) return false;
  if (const Value* perms = attributes.find(NSFilePosixPermissions))
    ::chmod(path.c_str(), static_cast<mode_t>(perms->integerValue() & 07777));
  return true;
}

std::optional<Data> FileManager::contentsAtPath(const std::string& path) const {
  return dataWithContentsOfFile(path);
}

bool FileManager::contentsEqualAtPath_andPath(const std::string& a, const std::string& b) const {
  return sameContents(a, b);
}

bool FileManager::removeItemAtPath_error(const std::string& path, Error* error) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
    setError(error, fileError(path.empty() ? ENOENT : errno, path, true));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(path.c_str()) != 0) {
      setError(error, fileError(errno, path, true));
      return false;
    }
    return true;
  }
  return removeTree(path, error);
}

bool FileManager::moveItemAtPath_toPath_error(const std::string& source, const std::string& destination,
                                              Error* error) {
  struct stat st {};
  if (source.empty() || ::lstat(source.c_str(), &st) != 0) {
    setError(error, fileError(source.empty() ? ENOENT : errno, source, true));
    return false;
  }
  if (destination.empty()) {
    setError(error, fileError(ENOENT, destination, true));
    return false;
  }
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // A file system without no-replace renames.
    struct stat dst {};
    if (::lstat(destination.c_str(), &dst) == 0) {
      setError(error, fileError(EEXIST, destination, true));
      return false;
    }
    if (::rename(source.c_str(), destination.c_str()) == 0) return true;
    err = errno;
  }
  if (err != EXDEV) {
    setError(error, fileError(err, err == EEXIST ? destination : source, true));
    return false;
  }
  // Another file system: copy, and only then remove the source.
  struct stat dst {};
  if (::lstat(destination.c_str(), &dst) == 0) {
    setError(error, fileError(EEXIST, destination, true));
    return false;
  }
  if (!copyTree(source, destination, false, error)) {
    removeTree(destination, nullptr);
    return false;
  }
  return removeItemAtPath_error(source, error);
}

namespace {

// Copies or hard-links an item to a destination that must not exist yet; a folder copied in
// part is removed again.
bool copyOrLinkItem(const std::string& source, const std::string& destination, bool link, Error* error) {
  struct stat st {};
  if (source.empty() || ::lstat(source.c_str(), &st) != 0) {
    setError(error, fileError(source.empty() ? ENOENT : errno, source, false));
    return false;
  }
  struct stat dst {};
  if (destination.empty() || ::lstat(destination.c_str(), &dst) == 0) {
    setError(error, fileError(destination.empty() ? ENOENT : EEXIST, destination, true));
    return false;
  }
  if (!copyTree(source, destination, link, error)) {
    if (S_ISDIR(st.st_mode)) removeTree(destination, nullptr);
    return false;
  }
  return true;
}

}  // namespace

bool FileManager::copyItemAtPath_toPath_error(const std::string& source, const std::string& destination,
                                              Error* error) {
  return copyOrLinkItem(source, destination, false, error);
}

bool FileManager::linkItemAtPath_toPath_error(const std::string& source, const std::string& destination,
                                              Error* error) {
  return copyOrLinkItem(source, destination, true, error);
}

bool FileManager::createSymbolicLinkAtPath_withDestinationPath_error(const std::string& path,
                                                                     const std::string& destination,
                                                                     Error* error) {
  if (::symlink(destination.c_str(), path.c_str()) != 0) {
    setError(error, fileError(errno, path, true));
    return false;
  }
  return true;
}

std::optional<std::string> FileManager::destinationOfSymbolicLinkAtPath_error(const std::string& path,
                                                                              Error* error) {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) {
      setError(error, fileError(errno, path, false));
      return std::nullopt;
    }
    if (static_cast<std::size_t>(n) < buffer.size())
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<Dictionary> FileManager::attributesOfItemAtPath_error(const std::string& path,
                                                                    Error* error) const {
  int err = 0;
  Dictionary attrs = attributesOf(path, &err);
  if (err) {
    setError(error, fileError(err, path, false));
    return std::nullopt;
  }
  return attrs;
}

bool FileManager::setAttributes_ofItemAtPath_error(const Dictionary& attributes, const std::string& path,
                                                   Error* error) {
  if (const Value* perms = attributes.find(NSFilePosixPermissions)) {
    if (::chmod(path.c_str(), static_cast<mode_t>(perms->integerValue() & 07777)) != 0) {
      setError(error, fileError(errno, path, true));
      return false;
    }
  }
  if (const Value* date = attributes.find(NSFileModificationDate); date && date->isDate()) {
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    times[1] = timespecOf(date->date());
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      setError(error, fileError(errno, path, true));
      return false;
    }
  }
  return true;
}

std::optional<Dictionary> FileManager::attributesOfFileSystemForPath_error(const std::string& path,
                                                                           Error* error) const {
  struct statvfs vfs {};
  struct stat st {};
  if (::statvfs(path.c_str(), &vfs) != 0 || ::stat(path.c_str(), &st) != 0) {
    setError(error, fileError(errno, path, false));
    return std::nullopt;
  }
  Dictionary attrs;
  attrs.set(NSFileSystemSize, static_cast<unsigned long long>(vfs.f_blocks) * vfs.f_frsize);
  attrs.set(NSFileSystemFreeSize, static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize);
  attrs.set(NSFileSystemNodes, static_cast<unsigned long long>(vfs.f_files));
  attrs.set(NSFileSystemFreeNodes, static_cast<unsigned long long>(vfs.f_favail));
  attrs.set(NSFileSystemNumber, static_cast<unsigned long>(st.st_dev));
  return attrs;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectoryAtPath_error(const std::string& path,
                                                                                     Error* error) const {
  std::vector<std::string> names;
  if (!listFolder(path, &names)) {
    setError(error, fileError(errno, path, false));
    return std::nullopt;
  }
  return names;
}

std::optional<std::vector<std::string>> FileManager::subpathsOfDirectoryAtPath_error(const std::string& path,
                                                                                     Error* error) const {
  std::vector<std::string> probe;
  if (!listFolder(path, &probe)) {
    setError(error, fileError(errno, path, false));
    return std::nullopt;
  }
  DirectoryEnumerator e(path);
  std::vector<std::string> out;
  while (auto next = e.nextObject()) out.push_back(std::move(*next));
  return out;
}

Ref<DirectoryEnumerator> FileManager::enumeratorAtPath(const std::string& path) const {
  bool isDirectory = false;
  if (!fileExistsAtPath_isDirectory(path, &isDirectory) || !isDirectory) return nullptr;
  return make<DirectoryEnumerator>(path);
}

std::string FileManager::currentDirectoryPath() const {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string() : p.string();
}

bool FileManager::changeCurrentDirectoryPath(const std::string& path) {
  return ::chdir(path.c_str()) == 0;
}

std::optional<std::string> FileManager::pathForDirectory_inDomain_appropriateForPath_create_error(
    SearchPathDirectory directory, SearchPathDomainMask domain,
    const std::optional<std::string>& appropriateFor, bool create, Error* error) {
  if (directory == ItemReplacementDirectory) {
    std::string base = TemporaryDirectory();
    base.pop_back();
    if (appropriateFor && !appropriateFor->empty()) {
      // The folder must share the target's file system, or the final rename would copy.
      std::string near = parentOf(*appropriateFor);
      struct stat target {
      }, tmp{};
      if (::stat(near.c_str(), &target) == 0 &&
          (::stat(base.c_str(), &tmp) != 0 || tmp.st_dev != target.st_dev))
        base = near;
    }
    std::string templ = base + "/.TemporaryItems-" + ProcessInfo::processInfo()->processName() + "-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
      setError(error, fileError(errno, base, true));
      return std::nullopt;
    }
    return std::string(buffer.data());
  }
  auto paths = SearchPathForDirectoriesInDomains(directory, domain, true);
  if (paths.empty()) {
    setError(error, fileError(ENOENT, "", false));
    return std::nullopt;
  }
  if (create &&
      !createDirectoryAtPath_withIntermediateDirectories_attributes_error(paths[0], true, {}, error))
    return std::nullopt;
  return paths[0];
}

}  // namespace ns
