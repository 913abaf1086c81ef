#include "app/cache/RevealDownloadedFile.h"

#include <filesystem>

#include "app/cache/CacheFiles.h"
#include "platform/core/Log.h"
#include "platform/net/URL.h"
#include "platform/system/Workspace.h"

bool revealDownloadedFileInFinder(const std::string& videoId) {
  auto path = getDownloadedVideoPath(videoId);
  if (!path || path->empty()) return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(*path, error)) return false;
  auto url = ns::URL::fileURLWithPath(*path);
  if (!url) return false;
  ns::Log("reveal in finder: %@", *path);
  ak::Workspace::sharedWorkspace()->activateFileViewerSelectingURLs({url});
  return true;
}
