#include "common/CacheUtilities.h"

#include <mutex>

#include "common/AppUtilities.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SearchPaths.h"

namespace {

struct RemoverSlot {
  std::mutex mutex;
  VideoCacheStateRemover remover;
};

RemoverSlot& removerSlot() {
  static ns::NoDestructor<RemoverSlot> slot;
  return *slot;
}

std::string firstUserFolder(ns::SearchPathDirectory directory) {
  auto folders = ns::SearchPathForDirectoriesInDomains(directory, ns::UserDomainMask, true);
  return folders.empty() ? std::string() : folders.front();
}

bool isSafeFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::optional<std::string> fileIn(const std::string& folder, const std::string& name) {
  if (!isSafeFileName(name)) return std::nullopt;
  return folder + "/" + name;
}

}  // namespace

bool isSafeVideoId(const std::string& id) {
  if (id.empty()) return false;
  for (char c : id) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '-' && c != '_') return false;
  }
  return true;
}

std::string getCacheBasePath() {
  std::string identifier = ns::Bundle::mainBundle()->bundleIdentifier().value_or("com.ordel42.zeravozezi");
  return firstUserFolder(ns::CachesDirectory) + "/" + identifier;
}

std::optional<std::string> getCacheBaseSubpath(const std::string& name) {
  return fileIn(getCacheBasePath(), name);
}

std::string getCacheFolderPath() {
  return getCacheBasePath() + "/Cache";
}
std::string getTempFolderPath() {
  return getCacheBasePath() + "/.tmp";
}
std::string getInfoFolderPath() {
  return getCacheBasePath() + "/.info";
}

std::optional<std::string> getCacheFolderFilePath(const std::string& fileName) {
  return fileIn(getCacheFolderPath(), fileName);
}

std::optional<std::string> getTempFolderFilePath(const std::string& fileName) {
  return fileIn(getTempFolderPath(), fileName);
}

std::optional<std::string> getCachedVideoPath(const std::string& videoId) {
  if (!isSafeVideoId(videoId)) return std::nullopt;
  return getCacheFolderPath() + "/" + videoId + ".mp4";
}

std::optional<std::string> getAppSupportFilePath(const std::string& fileName) {
  return fileIn(firstUserFolder(ns::ApplicationSupportDirectory) + "/Pelorin", fileName);
}

void removeVideoCacheState(const std::string& videoId) {
  VideoCacheStateRemover work;
  {
    auto& slot = removerSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    work = slot.remover;
  }
  if (work) work(videoId);
  postNotification("videoInfoChanged");
}

VideoCacheStateRemover setVideoCacheStateRemover(VideoCacheStateRemover remover) {
  auto& slot = removerSlot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  std::swap(slot.remover, remover);
  return remover;
}
