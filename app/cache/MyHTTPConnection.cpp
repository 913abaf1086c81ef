#include "app/cache/MyHTTPConnection.h"

#include "app/cache/YoutubeResponse.h"
#include "common/CacheUtilities.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"

namespace {

constexpr char kLogName[] = "MyHTTPConnection";
// Warnings, errors and the trace of each request.
constexpr std::uint64_t kLogLevel = LogFlagError | LogFlagWarning | LogFlagVerbose;
constexpr char kYoutubePrefix[] = "/youtube/";

}  // namespace

std::optional<std::string> MyHTTPConnection::videoIdForPath(const std::string& path) {
  if (path.rfind(kYoutubePrefix, 0) != 0) return std::nullopt;
  std::size_t start = sizeof(kYoutubePrefix) - 1;
  std::size_t end = path.find('/', start);
  return path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

ns::Ref<HTTPResponse> MyHTTPConnection::httpResponseForMethod_URI(const std::string& method,
                                                                  const std::string& path) {
  HTTP_LOG_TRACE(kLogLevel, "%@[%p]: %@", kLogName, this, "httpResponseForMethod:URI:");
  if (auto videoId = videoIdForPath(path)) {
    // The id names files in the cache folders: one that could name anything else (a query, a
    // "..") is nothing the server has.
    if (!isSafeVideoId(*videoId)) {
      youtubeResponse_ = nullptr;
      return nullptr;
    }
    ++serverCount;
    // Older responses still waiting are stale from now on: they give up now, not at a poll.
    YoutubeResponse::wakeAll();
    youtubeResponse_ = YoutubeResponse::initWithVideoid_forConnection(*videoId, self<HTTPConnection>());
    return youtubeResponse_;
  }
  auto response = HTTPConnection::httpResponseForMethod_URI(method, path);
  if (auto file = std::dynamic_pointer_cast<HTTPFileResponse>(response)) {
    markFileRead(file->filePath());
    std::string name = file->filePath().substr(file->filePath().rfind('/') + 1);
    if (name.size() > 4 && name.ends_with(".mp4")) noteCacheFileServed(file, name.substr(0, name.size() - 4));
  }
  return response;
}
