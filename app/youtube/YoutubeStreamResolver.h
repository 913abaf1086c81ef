#pragma once
// The stream resolver of the running application: asks the video service's video-info call
// and, when that yields no stream, the watch page (wire formats in PROTOCOLS.md). The requests
// run asynchronously, each with an idle time-out and an overall deadline on ns::Clock and a cap
// on the reply's size; the completion runs on the last request's own queue (on the caller's
// thread when the base URL makes no URL).
#include <string>

#include "app/youtube/StreamResolver.h"

class YoutubeStreamResolver : public StreamResolver {
 public:
  // `baseURL`: the service's base URL (scheme, host and port), without a trailing "/".
  explicit YoutubeStreamResolver(std::string baseURL);
  // The configured service (videoServiceBaseURL()).
  YoutubeStreamResolver();

  void resolveVideoId_completion(const std::string& videoId, Completion completion) override;
  // The same, waited for on the calling thread.
  StreamResolution resolveVideoId(const std::string& videoId) const;

  const std::string& baseURL() const { return baseURL_; }

 private:
  std::string baseURL_;
};
