// The default routing of HTTPConnection: request paths map to files below the document root,
// never outside it; and query strings become dictionaries for subclasses.
#include <sys/stat.h>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "lib/http-server/Core/StandardizedPath.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URL.h"

namespace {

constexpr char kLogName[] = "HTTPConnection";

}  // namespace

HTTPConnection::PathLookup HTTPConnection::lookUpPath(const std::string& path) {
  PathLookup lookup{path};
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    lookup.exists = true;
    lookup.directory = S_ISDIR(st.st_mode);
    lookup.size = static_cast<std::uint64_t>(st.st_size);
  }
  lastLookup_ = lookup;
  return lookup;
}

std::vector<std::string> HTTPConnection::directoryIndexFileNames() {
  return {"index.html", "index.htm"};
}

std::optional<std::string> HTTPConnection::filePathForURI_allowDirectory(const std::string& path,
                                                                         bool allowDirectory) {
  auto root = config_ ? config_->documentRoot() : std::nullopt;
  // An empty root would make "/" the prefix every path has: it is no root at all.
  if (!root || root->empty()) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: No configured document root", kLogName, this);
    return std::nullopt;
  }
  if (!docRootURL_ || docRootPath_ != *root) {
    docRootURL_ = ns::URL::fileURLWithPath_isDirectory(*root, true);
    docRootPath_ = *root;
  }
  const auto& docRoot = docRootURL_;
  if (!docRoot) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: Document root is invalid file path", kLogName, this);
    return std::nullopt;
  }
  auto url = ns::URL::URLWithString_relativeToURL(path, docRoot);
  if (!url) return std::nullopt;
  std::string relativePath = url->relativePath();
  // A decoded NUL would cut the path short at the file system.
  if (relativePath.find('\0') != std::string::npos) return std::nullopt;

  std::string fullPath = standardizedPath(*root + "/" + relativePath);

  std::string prefix = *root;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  // A path that climbs back to the root ("/sub/..") names the root folder itself.
  if (fullPath + "/" == prefix) fullPath = prefix;
  // Keeps ".." (plain or escaped) from climbing out, and a sibling folder whose name merely
  // starts with the root's out too. Symbolic links inside the root are followed wherever they
  // point: whoever places a link in the served folder chooses to serve its target.
  if (fullPath.compare(0, prefix.size(), prefix) != 0) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: Request for file outside document root", kLogName,
                  this);
    return std::nullopt;
  }
  if (allowDirectory) return fullPath;

  if (lookUpPath(fullPath).directory) {
    std::string folder = fullPath;
    if (folder.back() != '/') folder += '/';
    for (const auto& name : directoryIndexFileNames()) {
      std::string candidate = folder + name;
      auto lookup = lookUpPath(candidate);
      if (lookup.exists && !lookup.directory) return candidate;
    }
    return std::nullopt;
  }
  return fullPath;
}

ns::Ref<HTTPResponse> HTTPConnection::httpResponseForMethod_URI(const std::string&, const std::string& path) {
  lastLookup_.reset();
  auto filePath = filePathForURI_allowDirectory(path, false);
  if (!filePath) return nullptr;
  // The lookup made for this very path (a subclass may have answered another one).
  auto lookup = lastLookup_ && lastLookup_->path == *filePath ? *lastLookup_ : lookUpPath(*filePath);
  lastLookup_.reset();
  if (!lookup.exists || lookup.directory) return nullptr;
  return ns::make<HTTPFileResponse>(*filePath, self<HTTPConnection>(), lookup.size);
}

std::optional<ns::Dictionary> HTTPConnection::parseGetParams() const {
  assertOnConnectionQueue();
  if (!request_ || !request_->isHeaderComplete() || !request_->url()) return std::nullopt;
  auto query = request_->url()->query();
  if (!query) return std::nullopt;
  return parseParams(*query);
}

ns::Dictionary HTTPConnection::parseParams(const std::string& query) {
  ns::Dictionary result;
  std::size_t pos = 0;
  while (pos <= query.size()) {
    std::size_t amp = query.find('&', pos);
    std::string element = query.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
    pos = amp == std::string::npos ? query.size() + 1 : amp + 1;
    std::size_t eq = element.find('=');
    if (element.empty() || eq == std::string::npos || eq == 0) continue;
    auto key = ns::stringByRemovingPercentEncoding(element.substr(0, eq));
    if (!key) continue;
    auto value = ns::stringByRemovingPercentEncoding(element.substr(eq + 1));
    if (value)
      result.set(ns::Value(*key), ns::Value(*value));
    else
      result.set(ns::Value(*key), ns::Value::null());
  }
  return result;
}
