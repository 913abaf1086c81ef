#include "app/cache/CacheUtilities.h"

#include <filesystem>
#include <mutex>

#include "app/shell/AppUtilities.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SearchPaths.h"

namespace {

std::mutex removerMutex;
VideoCacheStateRemover& remover() {
  static VideoCacheStateRemover r;
  return r;
}

std::string firstUserFolder(ns::SearchPathDirectory directory) {
  auto folders = ns::SearchPathForDirectoriesInDomains(directory, ns::UserDomainMask, true);
  return folders.empty() ? std::string() : folders.front();
}

}  // namespace

std::string getAppSupportFilePath(const std::string& fileName) {
  std::filesystem::path folder = firstUserFolder(ns::ApplicationSupportDirectory);
  return (folder / "Pelorin" / fileName).string();
}

std::string getCacheBaseSubpath(const std::string& name) {
  // Read at each call (it is cheap) so that the folder follows the environment it runs in.
  std::filesystem::path folder = firstUserFolder(ns::CachesDirectory);
  std::string identifier = ns::Bundle::mainBundle()->bundleIdentifier().value_or("com.ordel42.zeravozezi");
  return (folder / identifier / name).string();
}

void removeVideoCacheState(const std::string& videoId) {
  VideoCacheStateRemover work;
  {
    std::lock_guard<std::mutex> lock(removerMutex);
    work = remover();
  }
  if (work) work(videoId);
  postNotification("videoInfoChanged");
}

VideoCacheStateRemover setVideoCacheStateRemover(VideoCacheStateRemover r) {
  std::lock_guard<std::mutex> lock(removerMutex);
  std::swap(remover(), r);
  return r;
}
