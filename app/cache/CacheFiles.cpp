#include "app/cache/CacheFiles.h"

#include "app/library/DBAccess.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/net/URL.h"

namespace {

constexpr std::size_t kMaxNameBytes = 255;
// " (n).mp4" with a number of up to nine digits.
constexpr std::size_t kSuffixReserve = 17;

std::string moviesFolderPath() {
  auto folders = ns::SearchPathForDirectoriesInDomains(ns::MoviesDirectory, ns::UserDomainMask, true);
  return folders.empty() ? std::string() : folders.front();
}

// The folder the stored "downloadPath" names, without a trailing "/"; nil when it names none.
std::optional<std::string> storedFolderPath() {
  std::string text = getStringSetting(kDownloadPathKey);
  if (text.empty()) return std::nullopt;
  auto url = ns::URL::URLWithString(text);
  if (!url || !url->isFileURL()) return std::nullopt;
  std::string path = url->path();
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string cutAtCharacterBoundary(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

void saveDownloadedVideoPath(const std::string& videoId, const std::optional<std::string>& path) {
  DBAccess::getInstance()->saveDownloadedVideoFilePath_forId(path, videoId);
}

std::optional<std::string> getDownloadedVideoPath(const std::string& videoId) {
  return DBAccess::getInstance()->getDownloadedVideoFilePath(videoId);
}

ns::Ref<ns::URL> getDownloadFolderURL() {
  std::string text = getStringSetting(kDownloadPathKey);
  if (!text.empty())
    if (auto url = ns::URL::URLWithString(text)) return url;
  return ns::URL::fileURLWithPath_isDirectory(moviesFolderPath(), true);
}

void setDownloadFolderURL(const ns::Ref<ns::URL>& url) {
  if (!url) return;
  setStringSetting(kDownloadPathKey, url->absoluteString());
}

std::string sanitizedFileName(const std::string& title, std::size_t reserve) {
  std::string name;
  for (char c : title) {
    if (c == '/')
      name += "\u2571";
    else if (c != '\0')
      name += c;
  }
  name = cutAtCharacterBoundary(name, kMaxNameBytes > reserve ? kMaxNameBytes - reserve : 0);
  if (name.empty() || name == "." || name == "..") name = "_";
  return name;
}

std::string getDownloadFolderPath(const std::optional<std::string>& playlistTitle) {
  // The folder is taken from the setting as a path first; only then is the title, made into a
  // single name, appended, so that nothing in a title can lead out of the folder.
  std::string folder = storedFolderPath().value_or(moviesFolderPath());
  if (folder.empty() || folder.back() != '/') folder += "/";
  if (getBoolSetting(kAppendPlaylistNameToDownloadPathKey) && playlistTitle && !playlistTitle->empty())
    folder += sanitizedFileName(*playlistTitle) + "/";
  return folder;
}

std::string getUniqueDownloadFilePath(const std::string& title,
                                      const std::optional<std::string>& playlistTitle) {
  std::string folder = getDownloadFolderPath(playlistTitle);
  std::string name = sanitizedFileName(title, kSuffixReserve);
  auto manager = ns::FileManager::defaultManager();
  // A broken link counts as taken too: the move would otherwise replace or follow it.
  std::string candidate = joinPath(folder, name + ".mp4");
  for (int n = 1; manager->attributesOfItemAtPath_error(candidate, nullptr).has_value(); ++n)
    candidate = joinPath(folder, name + " (" + std::to_string(n) + ").mp4");
  return candidate;
}

std::vector<std::string> getTempVideoIdArray() {
  std::vector<std::string> ids;
  auto manager = ns::FileManager::defaultManager();
  std::string folder = getTempFolderPath();
  auto names = manager->contentsOfDirectoryAtPath_error(folder, nullptr);
  if (!names) return ids;
  for (const auto& name : *names) {
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".mp4") != 0) continue;
    auto attributes = manager->attributesOfItemAtPath_error(folder + "/" + name, nullptr);
    if (!attributes) continue;
    const ns::Value& type = attributes->objectForKey(ns::NSFileType);
    if (!type.isString() || type.string() != ns::NSFileTypeRegular) continue;
    ids.push_back(name.substr(0, name.size() - 4));
  }
  return ids;
}
