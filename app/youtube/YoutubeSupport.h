#pragma once
// One video's record: its id, its descriptive fields and its stream URLs by itag, resolved by
// the process-wide StreamResolver; and the table of videos whose resolution failed, which the
// player and the cache manager consult to refuse them.
//
// A record is a main-thread object: it is made, read and resolved on the main thread, and its
// resolution comes back there. The failed-video table may be read from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

struct StreamResolution;

class YoutubeSupport : public ns::Object {
 public:
  explicit YoutubeSupport(std::optional<std::string> videoid);

  // A record with an empty stream map and empty info.
  static ns::Ref<YoutubeSupport> initWithYoutubeId(const std::string& videoId);
  // A record for the video the text links to (see videoIdFromYoutubeLink); its videoid is nil
  // when the text holds no video link. Never throws.
  static ns::Ref<YoutubeSupport> initWithYoutubeUrl(const std::string& text);

  const std::optional<std::string>& videoid() const { return videoid_; }
  // Stream URL by itag; empty or partial after a failure.
  std::map<std::int32_t, std::string>& urlMap() { return urlMap_; }
  const std::map<std::int32_t, std::string>& urlMap() const { return urlMap_; }
  // The video's descriptive fields, property-list values only; the downloader adds its keys.
  ns::Dictionary& videoInfo() { return videoInfo_; }
  const ns::Dictionary& videoInfo() const { return videoInfo_; }
  // The resolution's error text, or nil.
  const std::optional<std::string>& error() const { return error_; }
  void setError(std::optional<std::string> error) { error_ = std::move(error); }

  // Resolves the stream URLs on a global queue through the shared resolver, then takes the
  // result and runs `block` on the main thread, exactly once, successful or not. Without an
  // installed resolver, or without a usable video id, the error says so and the block still
  // runs. The record stays alive until the block has run.
  void runRequest(std::function<void()> block);

  // Records the record's error text ("" when it has none) for its video id in the failed-video
  // table, on the main queue. Does nothing for a record without a video id.
  void failedRequest();
  // The error text recorded for the video, nil when it never failed. Safe from any thread.
  static std::optional<std::string> failedRequestErrorForVideoId(const std::string& videoId);
  // Empties the failed-video table, which otherwise lasts as long as the process; for tests.
  static void resetFailedVideosForTesting();

  std::string description() const override;

 private:
  void takeResolution(StreamResolution resolution);

  std::optional<std::string> videoid_;
  std::map<std::int32_t, std::string> urlMap_;
  ns::Dictionary videoInfo_;
  std::optional<std::string> error_;
};
