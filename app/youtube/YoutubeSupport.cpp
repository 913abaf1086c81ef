#include "app/youtube/YoutubeSupport.h"

#include <mutex>
#include <unordered_map>

#include "app/youtube/StreamResolver.h"
#include "app/youtube/YoutubeLinks.h"
#include "common/CacheUtilities.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace {

inline constexpr char kNoResolverError[] = "No stream resolver is installed";
inline constexpr char kNoVideoIdError[] = "No valid video id";

struct FailedVideoTable {
  std::mutex mutex;
  std::unordered_map<std::string, std::string> errors;
};

FailedVideoTable& failedVideos() {
  static ns::NoDestructor<FailedVideoTable> table;
  return *table;
}

}  // namespace

YoutubeSupport::YoutubeSupport(std::optional<std::string> videoid) : videoid_(std::move(videoid)) {}

ns::Ref<YoutubeSupport> YoutubeSupport::initWithYoutubeId(const std::string& videoId) {
  return ns::make<YoutubeSupport>(videoId);
}

ns::Ref<YoutubeSupport> YoutubeSupport::initWithYoutubeUrl(const std::string& text) {
  return ns::make<YoutubeSupport>(videoIdFromYoutubeLink(text));
}

void YoutubeSupport::runRequest(std::function<void()> block) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto self = this->self<YoutubeSupport>();
  // The resolver promises one call; a second one (or a late one after a failure was already
  // delivered) is dropped so that the caller's block runs exactly once.
  auto delivered = std::make_shared<std::atomic<bool>>(false);
  auto deliver = [self, block = std::move(block), delivered](StreamResolution resolution) {
    if (delivered->exchange(true)) return;
    dispatch::async(dispatch::mainQueue(), [self, block, resolution = std::move(resolution)]() mutable {
      self->takeResolution(std::move(resolution));
      if (block) block();
    });
  };

  auto resolver = StreamResolver::sharedResolver();
  if (!videoid_ || !isSafeVideoId(*videoid_) || !resolver) {
    deliver(StreamResolution{{}, {}, std::string(resolver ? kNoVideoIdError : kNoResolverError)});
    return;
  }
  std::string videoId = *videoid_;
  dispatch::async(dispatch::globalQueue(), [resolver, videoId, deliver] {
    try {
      resolver->resolveVideoId_completion(videoId, deliver);
    } catch (const std::exception& e) {
      // Resolvers report failures through the completion; an escaped exception still ends the
      // request instead of leaving its caller waiting.
      ns::LogError("YoutubeSupport: resolving %@ failed: %@", videoId, std::string(e.what()));
      deliver(StreamResolution{{}, {}, std::string(e.what())});
    }
  });
}

void YoutubeSupport::takeResolution(StreamResolution resolution) {
  urlMap_ = std::move(resolution.urlMap);
  // The info is written as an XML property list later: keep only what one can hold.
  videoInfo_.removeAllObjects();
  for (const auto& [key, value] : resolution.videoInfo) {
    if (key.isString() &&
        ns::PropertyListSerialization::propertyList_isValidForFormat(value, ns::PropertyListXMLFormat_v1_0)) {
      videoInfo_.set(key, value);
    }
  }
  error_ = std::move(resolution.error);
}

void YoutubeSupport::failedRequest() {
  if (!videoid_) return;
  std::string videoId = *videoid_;
  std::string text = error_.value_or("");
  dispatch::async(dispatch::mainQueue(), [videoId, text] {
    auto& table = failedVideos();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.errors[videoId] = text;
  });
}

std::optional<std::string> YoutubeSupport::failedRequestErrorForVideoId(const std::string& videoId) {
  auto& table = failedVideos();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.errors.find(videoId);
  if (it == table.errors.end()) return std::nullopt;
  return it->second;
}

void YoutubeSupport::resetFailedVideosForTesting() {
  auto& table = failedVideos();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.errors.clear();
}

std::string YoutubeSupport::description() const {
  return ns::format("<YoutubeSupport: %@, %ld streams>", videoid_.value_or("(no video)"),
                    static_cast<long>(urlMap_.size()));
}
