#include "platform/system/Workspace.h"

#include <algorithm>
#include <filesystem>

#include <cctype>
#include "platform/core/NoDestructor.h"
#include "platform/system/FileViewer.h"
#include "platform/system/Opener.h"
#include "platform/system/SystemServiceSettings.h"

namespace ak {
namespace {

namespace fs = std::filesystem;

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(path, ec);
}

std::string containingFolder(const std::string& path) {
  fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string("/") : parent.string();
}

void reveal(const std::vector<std::string>& paths) {
  std::vector<std::string> uris, folders;
  for (const auto& path : paths) {
    uris.push_back(ns::URL::fileURLWithPath_isDirectory(path, false)->absoluteString());
    std::string folder = containingFolder(path);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  sys::revealInFileViewer(std::move(uris), std::move(folders));
}

}  // namespace

ns::Ref<Workspace> Workspace::sharedWorkspace() {
  static ns::NoDestructor<ns::Ref<Workspace>> shared(ns::make<Workspace>());
  return *shared;
}

bool Workspace::isOpenableURL(const ns::URL& url) {
  auto scheme = url.scheme();
  if (!scheme) return false;
  std::string s = lowercase(*scheme);
  if (s == "http" || s == "https") {
    auto host = url.host();
    return host && !host->empty();
  }
  if (s == "mailto") return !url.resourceSpecifier().empty();
  if (s == "file") {
    auto host = url.host();
    // Only files on this machine: no host, or "localhost".
    if (host && !host->empty() && lowercase(*host) != "localhost") return false;
    return exists(url.path());
  }
  return false;
}

bool Workspace::openURL(const ns::Ref<ns::URL>& url, ns::Error* error) {
  if (!url || !isOpenableURL(*url)) return false;
  auto opener = sys::resolveOpener();
  if (!opener) {
    ns::setError(error, sys::openerNotFoundError("\"" + url->absoluteString() + "\""));
    return false;
  }
  return sys::runOpener(*opener, url->absoluteString(), sys::openerFailureWindow(), error);
}

void Workspace::activateFileViewerSelectingURLs(const std::vector<ns::Ref<ns::URL>>& fileURLs) {
  std::vector<std::string> paths;
  for (const auto& url : fileURLs) {
    if (url && url->isFileURL() && !url->path().empty()) paths.push_back(url->path());
  }
  if (!paths.empty()) reveal(paths);
}

bool Workspace::selectFile_inFileViewerRootedAtPath(const std::string& fullPath,
                                                    const std::string& rootFullPath) {
  if (fullPath.empty()) {
    std::error_code ec;
    if (rootFullPath.empty() || !fs::is_directory(rootFullPath, ec)) return false;
    auto opener = sys::resolveOpener();
    if (!opener) return false;
    // Only the opener can open a folder by itself; it runs off this thread like the bus calls.
    sys::revealInFileViewer({}, {fs::absolute(rootFullPath).string()});
    return true;
  }
  if (!exists(fullPath)) return false;
  reveal({fs::absolute(fullPath).string()});
  return true;
}

}  // namespace ak
