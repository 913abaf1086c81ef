#pragma once
// The seam between a video record and whatever finds its streams: the launch installs the
// resolver that talks to the video service, tests install a fake. One resolver serves the whole
// process.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

// What one resolution found: stream URL by itag, the video's descriptive fields (property-list
// values only: the downloader writes them into the video's info file), and the error text when
// no stream was found.
struct StreamResolution {
  std::map<std::int32_t, std::string> urlMap;
  ns::Dictionary videoInfo;
  std::optional<std::string> error;
};

class StreamResolver {
 public:
  using Completion = std::function<void(StreamResolution)>;

  virtual ~StreamResolver() = default;
  // Resolves the streams of the video (a safe id: letters, digits, "-" and "_"). Called on a
  // global queue; may block there, or finish later on any thread. Calls `completion` once.
  virtual void resolveVideoId_completion(const std::string& videoId, Completion completion) = 0;

  // The process-wide resolver, nil until one is installed.
  static ns::Ref<StreamResolver> sharedResolver();
  // Installs `resolver` (nil removes it) and answers the one it replaces.
  static ns::Ref<StreamResolver> setSharedResolver(ns::Ref<StreamResolver> resolver);
};
