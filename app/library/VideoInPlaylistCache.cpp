#include "app/library/VideoInPlaylistCache.h"

#include <algorithm>

#include "app/library/AccountCache.h"
#include "app/youtube/SearchEntry.h"
#include "common/IMainWindowController.h"

std::optional<std::vector<std::string>> VideoInPlaylistCache::getPlaylistIdArrayForVideo(
    const std::string& videoId) {
  if (!video2playlistDict_) populateCache();
  auto found = video2playlistDict_->find(videoId);
  if (found == video2playlistDict_->end()) return std::nullopt;
  return found->second;
}

void VideoInPlaylistCache::populateCache() {
  video2playlistDict_.emplace();
  auto controller = mainWindowController();
  auto account = controller ? controller->accountCache() : nullptr;
  if (!account) return;
  // A copy: reading the rows may not change the list, but the caller's sort might meanwhile.
  ns::Array playlists = account->playlistsArray();
  for (const ns::Value& entry : playlists) {
    if (!entry.isArray() || entry.count() == 0 || !entry[0].isString()) continue;
    const std::string& playlistId = entry[0].string();
    auto rows = account->getPlaylistCache_withId("playlists", playlistId);
    if (!rows) continue;
    for (const ns::Value& value : *rows) {
      auto row = value.isObject() ? value.objectAs<SearchEntry>() : nullptr;
      if (!row || !row->videoid()) continue;
      auto& ids = (*video2playlistDict_)[*row->videoid()];
      if (std::find(ids.begin(), ids.end(), playlistId) == ids.end()) ids.push_back(playlistId);
    }
  }
}

void VideoInPlaylistCache::addVideo_toPlaylist(const std::string& videoId, const std::string& playlistId) {
  if (!video2playlistDict_) return;
  auto& ids = (*video2playlistDict_)[videoId];
  if (std::find(ids.begin(), ids.end(), playlistId) == ids.end()) ids.push_back(playlistId);
}

void VideoInPlaylistCache::deleteVideo_fromPlaylist(const std::string& videoId,
                                                    const std::string& playlistId) {
  if (!video2playlistDict_) return;
  auto found = video2playlistDict_->find(videoId);
  if (found == video2playlistDict_->end()) return;
  auto& ids = found->second;
  ids.erase(std::remove(ids.begin(), ids.end(), playlistId), ids.end());
}

bool VideoInPlaylistCache::hasVideo_inPlaylist(const std::string& videoId,
                                               const std::string& playlistId) const {
  if (!video2playlistDict_) return false;
  auto found = video2playlistDict_->find(videoId);
  if (found == video2playlistDict_->end()) return false;
  return std::find(found->second.begin(), found->second.end(), playlistId) != found->second.end();
}
