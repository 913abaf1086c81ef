#pragma once
// Which of the signed-in account's own playlists hold a video, without a network request: an
// in-memory map from video id to playlist ids, built on the first lookup from the list contents
// the account cache keeps on disk, and kept in step by the callers when they add or remove a
// video. Until the first lookup there is no map: adds and deletes do nothing and hasVideo answers
// false. Main thread only.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

class VideoInPlaylistCache : public ns::Object {
 public:
  // Builds the map on first use, then answers the video's playlist ids (nil when the video is in
  // none; empty after its last playlist was deleted from it).
  std::optional<std::vector<std::string>> getPlaylistIdArrayForVideo(const std::string& videoId);
  // (Re)builds the map from the main window controller's account cache.
  void populateCache();
  // Appends the playlist id once.
  void addVideo_toPlaylist(const std::string& videoId, const std::string& playlistId);
  // Removes every occurrence; the video's array stays, possibly empty.
  void deleteVideo_fromPlaylist(const std::string& videoId, const std::string& playlistId);
  bool hasVideo_inPlaylist(const std::string& videoId, const std::string& playlistId) const;

  // Nil until the first lookup.
  const std::optional<std::map<std::string, std::vector<std::string>>>& video2playlistDict() const {
    return video2playlistDict_;
  }

 private:
  std::optional<std::map<std::string, std::vector<std::string>>> video2playlistDict_;
};
