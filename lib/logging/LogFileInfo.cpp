#include "lib/logging/LogFileInfo.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileManager.h"

namespace {

std::atomic<bool> attributesUnavailable{false};

bool noUserAttributes(int error) {
  return error == ENOTSUP || error == EOPNOTSUPP;
}

// The attribute calls, answering as a file system without user attributes does when tests ask.
ssize_t getAttribute(const std::string& path, const std::string& name) {
  if (attributesUnavailable.load()) return errno = ENOTSUP, -1;
  return ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
}
int setAttribute(const std::string& path, const std::string& name) {
  if (attributesUnavailable.load()) return errno = ENOTSUP, -1;
  return ::setxattr(path.c_str(), name.c_str(), "", 0, 0);
}
int removeAttribute(const std::string& path, const std::string& name) {
  if (attributesUnavailable.load()) return errno = ENOTSUP, -1;
  return ::removexattr(path.c_str(), name.c_str());
}

std::string folderOf(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

std::string lastComponent(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

LogFileInfo::LogFileInfo(std::string filePath) : filePath_(std::move(filePath)) {}

ns::Ref<LogFileInfo> LogFileInfo::logFileWithPath(const std::string& filePath) {
  return ns::make<LogFileInfo>(filePath);
}

std::string LogFileInfo::fileName() const {
  if (!fileName_) fileName_ = lastComponent(filePath_);
  return *fileName_;
}

const ns::Dictionary& LogFileInfo::fileAttributes() const {
  if (!fileAttributes_) {
    fileAttributes_ = ns::FileManager::defaultManager()
                          ->attributesOfItemAtPath_error(filePath_, nullptr)
                          .value_or(ns::Dictionary{});
  }
  return *fileAttributes_;
}

std::optional<ns::Date> LogFileInfo::creationDate() const {
  if (!creationDate_) {
    const ns::Value& v = fileAttributes().objectForKey(ns::NSFileCreationDate);
    creationDate_ = v.isDate() ? std::optional<ns::Date>(v.date()) : std::nullopt;
  }
  return *creationDate_;
}

std::optional<ns::Date> LogFileInfo::modificationDate() const {
  if (!modificationDate_) {
    const ns::Value& v = fileAttributes().objectForKey(ns::NSFileModificationDate);
    modificationDate_ = v.isDate() ? std::optional<ns::Date>(v.date()) : std::nullopt;
  }
  return *modificationDate_;
}

std::uint64_t LogFileInfo::fileSize() const {
  if (fileSize_ == 0) fileSize_ = fileAttributes().objectForKey(ns::NSFileSize).unsignedLongLongValue();
  return fileSize_;
}

double LogFileInfo::age() const {
  auto created = creationDate();
  return created ? -created->timeIntervalSinceNow() : 0;
}

bool LogFileInfo::isArchived() const {
  return hasExtendedAttributeWithName(kLogFileArchivedAttributeName);
}

void LogFileInfo::setIsArchived(bool archived) {
  if (archived) {
    addExtendedAttributeWithName(kLogFileArchivedAttributeName);
  } else {
    removeExtendedAttributeWithName(kLogFileArchivedAttributeName);
  }
}

void LogFileInfo::renameFile(const std::string& newName) {
  if (newName == fileName()) return;
  std::string newPath = (std::filesystem::path(folderOf(filePath_)) / newName).string();
  auto fm = ns::FileManager::defaultManager();
  ns::Error error;
  if (fm->fileExistsAtPath(newPath)) {
    if (!fm->removeItemAtPath_error(newPath, &error)) {
      ns::Log("LogFileInfo: Error deleting archive (%@): %@", fileName(), error.description());
    } else {
      removeCompanionMarks(newPath);
    }
  }
  if (!fm->moveItemAtPath_toPath_error(filePath_, newPath, &error)) {
    ns::Log("LogFileInfo: Error renaming file (%@): %@", fileName(), error.description());
  } else {
    // The companion mark follows its file.
    std::string oldCompanion = companionPathForAttribute(kLogFileArchivedAttributeName);
    std::string newCompanion = LogFileInfo(newPath).companionPathForAttribute(kLogFileArchivedAttributeName);
    ::rename(oldCompanion.c_str(), newCompanion.c_str());
  }
  filePath_ = std::move(newPath);
  reset();
}

void LogFileInfo::reset() {
  fileName_.reset();
  fileAttributes_.reset();
  creationDate_.reset();
  modificationDate_.reset();
}

std::string LogFileInfo::companionPathForAttribute(const std::string& name) const {
  return (std::filesystem::path(folderOf(filePath_)) / ("." + lastComponent(filePath_) + "." + name))
      .string();
}

void LogFileInfo::setUserAttributesUnavailableForTesting(bool unavailable) {
  attributesUnavailable.store(unavailable);
}

void LogFileInfo::removeCompanionMarks(const std::string& filePath) {
  ::unlink(LogFileInfo(filePath).companionPathForAttribute(kLogFileArchivedAttributeName).c_str());
}

bool LogFileInfo::hasExtendedAttributeWithName(const std::string& name) const {
  if (getAttribute(filePath_, name) >= 0) return true;
  // Unreadable or absent attributes count as no mark.
  if (!noUserAttributes(errno)) return false;
  return ::access(companionPathForAttribute(name).c_str(), F_OK) == 0;
}

void LogFileInfo::addExtendedAttributeWithName(const std::string& name) {
  if (setAttribute(filePath_, name) == 0) return;
  int error = errno;
  if (noUserAttributes(error)) {
    // Not through a link or into a pipe of that name: the mark is only ever made in the folder.
    int fd = ::open(companionPathForAttribute(name).c_str(),
                    O_CREAT | O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
    error = errno;
  }
  ns::Log("LogFileInfo: setxattr(%@, %@): error = %s", name, fileName(), std::strerror(error));
}

void LogFileInfo::removeExtendedAttributeWithName(const std::string& name) {
  if (removeAttribute(filePath_, name) == 0) return;
  int error = errno;
  if (error == ENODATA) return;
  if (noUserAttributes(error)) {
    if (::unlink(companionPathForAttribute(name).c_str()) == 0 || errno == ENOENT) return;
    error = errno;
  }
  ns::Log("LogFileInfo: removexattr(%@, %@): error = %s", name, fileName(), std::strerror(error));
}

namespace {

ns::ComparisonResult reverseCompare(const std::optional<ns::Date>& mine,
                                    const std::optional<ns::Date>& theirs) {
  // A file without a date counts as the oldest.
  double a = mine ? mine->timeIntervalSince1970() : -1e300;
  double b = theirs ? theirs->timeIntervalSince1970() : -1e300;
  if (a > b) return ns::OrderedAscending;
  if (a < b) return ns::OrderedDescending;
  return ns::OrderedSame;
}

}  // namespace

ns::ComparisonResult LogFileInfo::reverseCompareByCreationDate(const LogFileInfo& other) const {
  return reverseCompare(creationDate(), other.creationDate());
}

ns::ComparisonResult LogFileInfo::reverseCompareByModificationDate(const LogFileInfo& other) const {
  return reverseCompare(modificationDate(), other.modificationDate());
}

bool LogFileInfo::isEqual(const ns::Object* other) const {
  const auto* info = dynamic_cast<const LogFileInfo*>(other);
  return info != nullptr && typeid(*info) == typeid(*this) && info->filePath_ == filePath_;
}

std::size_t LogFileInfo::hash() const {
  return std::hash<std::string>{}(filePath_);
}

std::string LogFileInfo::description() const {
  auto orEmpty = [](const std::optional<ns::Date>& d) {
    return d ? ns::Value(*d) : ns::Value(std::string());
  };
  ns::Dictionary d;
  d.set("filePath", filePath_);
  d.set("fileName", fileName());
  d.set("fileAttributes", fileAttributes());
  d.set("creationDate", orEmpty(creationDate()));
  d.set("modificationDate", orEmpty(modificationDate()));
  d.set("fileSize", ns::Value(static_cast<unsigned long long>(fileSize())));
  d.set("age", ns::Value(age()));
  d.set("isArchived", ns::Value(isArchived()));
  return ns::Value(d).description();
}
