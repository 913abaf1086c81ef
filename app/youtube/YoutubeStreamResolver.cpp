#include "app/youtube/YoutubeStreamResolver.h"

#include <mutex>

#include "app/youtube/VideoInfoParser.h"
#include "app/youtube/VideoServiceConfig.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace {

inline constexpr char kNoStreamError[] = "No playable stream was found for this video";

struct Reply {
  std::optional<std::string> body;
  std::string error;  // when there is no body
};

// Collects one reply within the size cap and wakes the waiting thread once it ends.
class BoundedLoad : public ns::URLConnectionDelegate {
 public:
  explicit BoundedLoad(std::size_t maxBytes) : maxBytes_(maxBytes), done_(ns::make<dispatch::Semaphore>(0)) {}

  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override {
    if (auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
        http && http->statusCode() != 200) {
      fail(connection, ns::format("The video service answered with status %ld", http->statusCode()));
    } else if (response && response->expectedContentLength() > static_cast<std::int64_t>(maxBytes_)) {
      fail(connection, "The video service's reply is too large");
    }
  }
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection,
                                 const ns::Data& data) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    if (body_.size() + data.length() > maxBytes_) {
      finishLocked(connection, std::nullopt, "The video service's reply is too large");
      return;
    }
    body_.append(reinterpret_cast<const char*>(data.bytes()), data.length());
  }
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override {
    std::lock_guard<std::mutex> lock(mutex_);
    finishLocked(connection, body_, "");
  }
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override {
    fail(connection, error.localizedDescription());
  }
  void fail(const ns::Ref<ns::URLConnection>& connection, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    finishLocked(connection, std::nullopt, text);
  }

  Reply wait() {
    done_->wait(dispatch::TimeForever);
    std::lock_guard<std::mutex> lock(mutex_);
    return reply_;
  }

 private:
  void finishLocked(const ns::Ref<ns::URLConnection>& connection, std::optional<std::string> body,
                    std::string error) {
    if (finished_) return;
    finished_ = true;
    reply_.body = std::move(body);
    reply_.error = std::move(error);
    body_.clear();
    if (connection) connection->cancel();
    done_->signal();
  }

  std::size_t maxBytes_;
  ns::Ref<dispatch::Semaphore> done_;
  std::mutex mutex_;
  std::string body_;
  bool finished_ = false;
  Reply reply_;
};

Reply fetch(const std::string& urlText) {
  auto url = ns::URL::URLWithString(urlText);
  if (!url) return {std::nullopt, "The video service's address is not a valid URL"};
  auto request = ns::URLRequest::requestWithURL_cachePolicy_timeoutInterval(
      url, ns::URLRequestReloadIgnoringLocalCacheData, kVideoServiceRequestTimeout);
  auto load = ns::make<BoundedLoad>(kVideoServiceMaxReplyBytes);
  auto connection = ns::URLConnection::initWithRequest_delegate_startImmediately(request, load, false);
  if (!connection) return {std::nullopt, "The video service's address is not a valid URL"};
  auto queue = dispatch::queueCreate("com.ordel42.zeravozezi.videoservice");
  connection->setDelegateQueue(queue);
  // The idle time-out ends a stalled reply; the deadline also ends one that trickles.
  std::weak_ptr<BoundedLoad> weakLoad = load;
  std::weak_ptr<ns::URLConnection> weakConnection = connection;
  dispatch::after(kVideoServiceRequestDeadline, queue, [weakLoad, weakConnection] {
    if (auto l = weakLoad.lock())
      l->fail(weakConnection.lock(), "The request to the video service timed out");
  });
  connection->start();
  return load->wait();
}

std::string queryValue(const std::string& text) {
  return ns::stringByAddingPercentEncodingWithAllowedCharacters(
      text, ns::URLCharacterSet::unreservedCharacterSet());
}

// One attempt's outcome.
struct Attempt {
  VideoInfoReply reply;
  std::optional<std::string> error;  // transport, status or format failure
};

Attempt attemptVideoInfo(const std::string& baseURL, const std::string& videoId) {
  Attempt attempt;
  Reply reply = fetch(baseURL + kVideoInfoPath + "?video_id=" + queryValue(videoId));
  if (!reply.body) {
    attempt.error = reply.error;
    return attempt;
  }
  attempt.reply = readVideoInfoFields(parseFormEncoded(*reply.body));
  return attempt;
}

Attempt attemptWatchPage(const std::string& baseURL, const std::string& videoId) {
  Attempt attempt;
  Reply reply = fetch(baseURL + kWatchPagePath + "?v=" + queryValue(videoId));
  if (!reply.body) {
    attempt.error = reply.error;
    return attempt;
  }
  std::string error;
  auto args = playerArgsFromWatchPage(*reply.body, &error);
  if (!args) {
    attempt.error = error;
    return attempt;
  }
  attempt.reply = readVideoInfoFields(*args);
  return attempt;
}

}  // namespace

YoutubeStreamResolver::YoutubeStreamResolver(std::string baseURL) : baseURL_(std::move(baseURL)) {}
YoutubeStreamResolver::YoutubeStreamResolver() : YoutubeStreamResolver(videoServiceBaseURL()) {}

void YoutubeStreamResolver::resolveVideoId_completion(const std::string& videoId, Completion completion) {
  completion(resolveVideoId(videoId));
}

StreamResolution YoutubeStreamResolver::resolveVideoId(const std::string& videoId) const {
  StreamResolution resolution;
  Attempt first = attemptVideoInfo(baseURL_, videoId);
  if (!first.reply.urlMap.empty()) {
    resolution.urlMap = std::move(first.reply.urlMap);
    resolution.videoInfo = std::move(first.reply.videoInfo);
    return resolution;
  }
  Attempt second = attemptWatchPage(baseURL_, videoId);
  if (!second.reply.urlMap.empty()) {
    resolution.urlMap = std::move(second.reply.urlMap);
    resolution.videoInfo = std::move(second.reply.videoInfo);
    return resolution;
  }
  // No stream: the service's own reason says most, then what went wrong with the call.
  resolution.videoInfo = first.reply.videoInfo.empty() ? second.reply.videoInfo : first.reply.videoInfo;
  if (first.reply.reason) {
    resolution.error = first.reply.reason;
  } else if (second.reply.reason) {
    resolution.error = second.reply.reason;
  } else if (first.error) {
    resolution.error = first.error;
  } else if (second.error) {
    resolution.error = second.error;
  } else {
    resolution.error = kNoStreamError;
  }
  ns::Log("YoutubeStreamResolver: no stream for %@: %@ (video info: %@; watch page: %@)", videoId,
          *resolution.error, first.error.value_or(first.reply.reason.value_or("no stream")),
          second.error.value_or(second.reply.reason.value_or("no stream")));
  return resolution;
}
