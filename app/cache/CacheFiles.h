#pragma once
// The user's download folder and the names of saved videos, the recorded paths of saved videos,
// and the ids of partial downloads. The cache folders themselves are the shell's
// (common/CacheUtilities.h).
//
// Titles come from the network, so every title becomes one safe file or folder name: "/"
// becomes U+2571 ("╱"), a name "." or ".." or an empty one becomes "_", NUL is dropped, and a
// name is cut at a UTF-8 boundary so that it stays within 255 bytes with room for " (n).mp4".
// A "downloadPath" that is no file URL reads as unset (the Movies folder).
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

namespace ns {
class URL;
}

// Records the path of the video's saved file in the library store; nil forgets it.
void saveDownloadedVideoPath(const std::string& videoId, const std::optional<std::string>& path);
// The recorded path, nil when none (or when the file is gone: the store then forgets it).
std::optional<std::string> getDownloadedVideoPath(const std::string& videoId);

// The URL parsed from "downloadPath", else the file URL of the user's Movies folder.
ns::Ref<ns::URL> getDownloadFolderURL();
// Stores the URL's absolute text under "downloadPath".
void setDownloadFolderURL(const ns::Ref<ns::URL>& url);
// The folder a saved video goes to, ending in "/": the download folder, then, when
// "appendPlaylistNameToDownloadPath" is on and the title is not empty, the title as a subfolder.
std::string getDownloadFolderPath(const std::optional<std::string>& playlistTitle);
// A path in that folder for the video's title, ".mp4", that names nothing yet: "title.mp4",
// else "title (1).mp4", "title (2).mp4", ... The folder is not created here.
std::string getUniqueDownloadFilePath(const std::string& title,
                                      const std::optional<std::string>& playlistTitle);

// The file or folder name a title is saved under (see above); `reserve` bytes are kept free
// for a suffix.
std::string sanitizedFileName(const std::string& title, std::size_t reserve = 0);

// The names, without ".mp4", of the regular files in ".tmp" that end in ".mp4"
// ("<id>_Audio" for an audio track).
std::vector<std::string> getTempVideoIdArray();
