#include "app/youtube/YoutubeStreamResolver.h"

#include <functional>
#include <memory>
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
using ReplyHandler = std::function<void(Reply)>;

// Collects one reply within the size cap and hands it on once it ends. It holds its connection
// until then (the connection holds it as its delegate), so that nobody has to wait for it.
class BoundedLoad : public ns::URLConnectionDelegate {
 public:
  BoundedLoad(std::size_t maxBytes, ReplyHandler done) : maxBytes_(maxBytes), done_(std::move(done)) {}

  void hold(ns::Ref<ns::URLConnection> connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_) connection_ = std::move(connection);
  }

  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>&,
                                     const ns::Ref<ns::URLResponse>& response) override {
    if (auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
        http && http->statusCode() != 200) {
      fail(ns::format("The video service answered with status %ld", http->statusCode()));
    } else if (response && response->expectedContentLength() > static_cast<std::int64_t>(maxBytes_)) {
      fail("The video service's reply is too large");
    }
  }
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>&, const ns::Data& data) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (finished_) return;
      if (body_.size() + data.length() <= maxBytes_) {
        body_.append(reinterpret_cast<const char*>(data.bytes()), data.length());
        return;
      }
    }
    fail("The video service's reply is too large");
  }
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>&) override { end(true, ""); }
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>&, const ns::Error& error) override {
    fail(error.localizedDescription());
  }
  void fail(const std::string& text) { end(false, text); }

 private:
  // The first end counts: it lets the connection go and hands the reply on.
  void end(bool withBody, std::string error) {
    Reply reply;
    ns::Ref<ns::URLConnection> connection;
    ReplyHandler done;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (finished_) return;
      finished_ = true;
      if (withBody) reply.body = std::move(body_);
      reply.error = std::move(error);
      body_.clear();
      connection = std::move(connection_);
      done = std::move(done_);
    }
    if (connection) connection->cancel();
    if (done) done(std::move(reply));
  }

  std::size_t maxBytes_;
  std::mutex mutex_;
  std::string body_;
  bool finished_ = false;
  ns::Ref<ns::URLConnection> connection_;
  ReplyHandler done_;
};

// Loads the URL and calls `done` once with its reply, on a queue of its own. Nothing waits:
// a thread of the global pool held for every resolution under way would leave none to deliver
// their replies once enough resolutions ran at once.
void fetch(const std::string& urlText, ReplyHandler done) {
  auto url = ns::URL::URLWithString(urlText);
  if (!url) {
    done({std::nullopt, "The video service's address is not a valid URL"});
    return;
  }
  auto request = ns::URLRequest::requestWithURL_cachePolicy_timeoutInterval(
      url, ns::URLRequestReloadIgnoringLocalCacheData, kVideoServiceRequestTimeout);
  auto load = ns::make<BoundedLoad>(kVideoServiceMaxReplyBytes, std::move(done));
  auto connection = ns::URLConnection::initWithRequest_delegate_startImmediately(request, load, false);
  if (!connection) {
    load->fail("The video service's address is not a valid URL");
    return;
  }
  auto queue = dispatch::queueCreate("com.ordel42.zeravozezi.videoservice");
  connection->setDelegateQueue(queue);
  load->hold(connection);
  // The idle time-out ends a stalled reply; the deadline also ends one that trickles.
  std::weak_ptr<BoundedLoad> weakLoad = load;
  dispatch::after(kVideoServiceRequestDeadline, queue, [weakLoad] {
    if (auto l = weakLoad.lock()) l->fail("The request to the video service timed out");
  });
  connection->start();
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
using AttemptHandler = std::function<void(Attempt)>;

// Fetches `url`; a reply's body goes to `read`, a transport or status failure is the error.
void attempt(const std::string& url, std::function<void(const std::string& body, Attempt&)> read,
             AttemptHandler done) {
  fetch(url, [read = std::move(read), done = std::move(done)](Reply reply) {
    Attempt attempt;
    if (!reply.body) {
      attempt.error = reply.error;
    } else {
      read(*reply.body, attempt);
    }
    done(std::move(attempt));
  });
}

void attemptVideoInfo(const std::string& baseURL, const std::string& videoId, AttemptHandler done) {
  attempt(
      baseURL + kVideoInfoPath + "?video_id=" + queryValue(videoId),
      [](const std::string& body, Attempt& a) { a.reply = readVideoInfoFields(parseFormEncoded(body)); },
      std::move(done));
}

void attemptWatchPage(const std::string& baseURL, const std::string& videoId, AttemptHandler done) {
  attempt(
      baseURL + kWatchPagePath + "?v=" + queryValue(videoId),
      [](const std::string& body, Attempt& a) {
        std::string error;
        if (auto args = playerArgsFromWatchPage(body, &error)) {
          a.reply = readVideoInfoFields(*args);
        } else {
          a.error = error;
        }
      },
      std::move(done));
}

StreamResolution resolutionWithStreams(Attempt attempt) {
  StreamResolution resolution;
  resolution.urlMap = std::move(attempt.reply.urlMap);
  resolution.videoInfo = std::move(attempt.reply.videoInfo);
  return resolution;
}

// Neither attempt gave a stream: the service's own reason says most, then what went wrong with
// the call.
StreamResolution resolutionWithoutStreams(const std::string& videoId, const Attempt& first,
                                          const Attempt& second) {
  StreamResolution resolution;
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
  ns::LogError("YoutubeStreamResolver: no stream for %@: %@ (video info: %@; watch page: %@)", videoId,
               *resolution.error, first.error.value_or(first.reply.reason.value_or("no stream")),
               second.error.value_or(second.reply.reason.value_or("no stream")));
  return resolution;
}

void resolve(const std::string& baseURL, const std::string& videoId, StreamResolver::Completion completion) {
  attemptVideoInfo(baseURL, videoId, [baseURL, videoId, completion](Attempt first) {
    if (!first.reply.urlMap.empty()) {
      completion(resolutionWithStreams(std::move(first)));
      return;
    }
    attemptWatchPage(baseURL, videoId, [videoId, completion, first](Attempt second) {
      if (!second.reply.urlMap.empty()) {
        completion(resolutionWithStreams(std::move(second)));
      } else {
        completion(resolutionWithoutStreams(videoId, first, second));
      }
    });
  });
}

}  // namespace

YoutubeStreamResolver::YoutubeStreamResolver(std::string baseURL) : baseURL_(std::move(baseURL)) {}
YoutubeStreamResolver::YoutubeStreamResolver() : YoutubeStreamResolver(videoServiceBaseURL()) {}

void YoutubeStreamResolver::resolveVideoId_completion(const std::string& videoId, Completion completion) {
  resolve(baseURL_, videoId, std::move(completion));
}

StreamResolution YoutubeStreamResolver::resolveVideoId(const std::string& videoId) const {
  auto done = ns::make<dispatch::Semaphore>(0);
  auto result = std::make_shared<StreamResolution>();
  resolve(baseURL_, videoId, [done, result](StreamResolution resolution) {
    *result = std::move(resolution);
    done->signal();
  });
  done->wait(dispatch::TimeForever);
  return std::move(*result);
}
