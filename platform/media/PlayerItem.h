#pragma once
// One piece of media for a player: its URL, whether it could be loaded, its duration, what of it
// is buffered and whether playback is likely to keep up. The player that plays it fills these
// in on the main thread and announces each change through key-value observing ("status",
// "duration", "loadedTimeRanges", "seekableTimeRanges", "playbackLikelyToKeepUp",
// "playbackBufferEmpty", "playbackBufferFull", "presentationSize").
#include <optional>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/media/Time.h"
#include "platform/net/URL.h"

namespace av {

class Player;
struct PlayerEngine;

enum PlayerItemStatus : long {
  PlayerItemStatusUnknown = 0,
  PlayerItemStatusReadyToPlay = 1,
  PlayerItemStatusFailed = 2,
};

class PlayerItem : public ns::Object {
 public:
  PlayerItem() = default;
  static ns::Ref<PlayerItem> playerItemWithURL(const ns::Ref<ns::URL>& url) { return initWithURL(url); }
  // nullptr for a null URL.
  static ns::Ref<PlayerItem> initWithURL(const ns::Ref<ns::URL>& url);

  const ns::Ref<ns::URL>& URL() const { return url_; }
  PlayerItemStatus status() const { return status_; }
  // The failure, once the status is Failed.
  const std::optional<ns::Error>& error() const { return error_; }
  // Indefinite until the media's duration is known.
  cm::Time duration() const { return duration_; }
  // The time of the player playing this item (zero before it plays).
  cm::Time currentTime() const;
  const std::vector<cm::TimeRange>& loadedTimeRanges() const { return loadedTimeRanges_; }
  const std::vector<cm::TimeRange>& seekableTimeRanges() const { return seekableTimeRanges_; }
  bool isPlaybackLikelyToKeepUp() const { return likelyToKeepUp_; }
  bool isPlaybackBufferEmpty() const { return bufferEmpty_; }
  bool isPlaybackBufferFull() const { return bufferFull_; }
  // The picture's size in pixels (display aspect applied); zero until known.
  ak::Size presentationSize() const { return presentationSize_; }

  std::string className() const override { return "AVPlayerItem"; }

 private:
  friend class Player;
  friend struct PlayerEngine;

  // Changes made by the player, each announced when the value really changes.
  void changeStatus(PlayerItemStatus status, std::optional<ns::Error> error = std::nullopt);
  void changeDuration(cm::Time duration);
  void changeRanges(std::vector<cm::TimeRange> loaded, std::vector<cm::TimeRange> seekable);
  void changeBuffer(bool likelyToKeepUp, bool empty, bool full);
  void changePresentationSize(ak::Size size);

  ns::Ref<ns::URL> url_;
  PlayerItemStatus status_ = PlayerItemStatusUnknown;
  std::optional<ns::Error> error_;
  cm::Time duration_ = cm::kTimeIndefinite;
  std::vector<cm::TimeRange> loadedTimeRanges_;
  std::vector<cm::TimeRange> seekableTimeRanges_;
  bool likelyToKeepUp_ = false;
  bool bufferEmpty_ = true;
  bool bufferFull_ = false;
  ak::Size presentationSize_;
  ns::Weak<Player> player_;  // the player it is the current item of
};

}  // namespace av
