#include "app/videopage/VideoPage.h"

#include <cctype>
#include <cmath>

#include "common/IPlayerViewController.h"
#include "platform/core/Log.h"
#include "platform/net/URL.h"
#include "platform/system/Workspace.h"

namespace {

// Ids come from lists filled by the network: only the characters of real ids go into a link,
// so that no id can add a path, a query or a fragment of its own.
bool isLinkableVideoId(const std::string& videoId) {
  if (videoId.empty() || videoId.size() > 64) return false;
  for (unsigned char c : videoId)
    if (!std::isalnum(c) && c != '-' && c != '_') return false;
  return true;
}

}  // namespace

std::string videoWatchPageURLString(const std::string& videoId) {
  return std::string("http://") + kVideoWebHost + "/watch?v=" + videoId;
}

std::string videoShortLinkURLString(const std::string& videoId) {
  return std::string("http://") + kVideoShortLinkHost + "/" + videoId;
}

bool openVideoPageAtCurrentTime(const std::string& videoId) {
  if (!isLinkableVideoId(videoId)) {
    ns::Log("openVideoPageAtCurrentTime: no video id in \"%@\"", videoId);
    return false;
  }
  std::string address = videoWatchPageURLString(videoId);
  if (auto player = playerViewController()) {
    if (player->isPlaying()) player->pause();
    if (player->videoId() == videoId) {
      const double seconds = player->currentTimeSeconds();
      if (std::isfinite(seconds) && seconds > 0 && seconds < 2147483647.0)
        address += "#t=" + std::to_string(static_cast<int>(seconds));
    }
  }
  auto url = ns::URL::URLWithString(address);
  if (!url) return false;
  ns::Error error;
  if (ak::Workspace::sharedWorkspace()->openURL(url, &error)) return true;
  ns::LogWarning("openVideoPageAtCurrentTime: %@", error.localizedDescription());
  return false;
}
