#pragma once
// A player of one item at a time, on libmpv: one mpv instance per player, its events drained on
// the main queue. Everything here is main-thread only; the changes of "status", "rate" and
// "currentItem" are announced through key-value observing, and the item's notifications
// (MediaNames.h) are posted on the main thread.
//
// Only http, https and existing file URLs are loaded; any other item fails at once. A stream
// that ends before the item's duration (a connection closed early, a truncated file) fails the
// item with an error and posts "failed to play to end", never "did play to end".
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"
#include "platform/media/PlayerItem.h"
#include "platform/media/Time.h"

namespace av {

class PlayerLayer;

enum PlayerStatus : long {
  PlayerStatusUnknown = 0,
  PlayerStatusReadyToPlay = 1,
  PlayerStatusFailed = 2,
};

enum PlayerActionAtItemEnd : long {
  PlayerActionAtItemEndAdvance = 0,
  PlayerActionAtItemEndPause = 1,
  PlayerActionAtItemEndNone = 2,
};

// The latest picture, as 32-bit pixels with the unused byte first in memory order of a
// little-endian word (cairo's RGB24 layout).
struct VideoFrame {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<unsigned char> pixels;
  std::uint64_t serial = 0;  // grows with each picture
};

// The latest picture drawn for a layer at the size it shows it, in VideoFrame's layout: rows
// `stride` bytes apart, both the rows and the first pixel 64-byte aligned. Valid until the next
// call that asks the player for a picture.
struct VideoPicture {
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
  const unsigned char* pixels = nullptr;
  std::uint64_t serial = 0;
};

class Player : public ns::Object {
 public:
  using SeekHandler = std::function<void(bool finished)>;
  using TimeBlock = std::function<void(cm::Time time)>;

  Player();
  ~Player() override;

  static ns::Ref<Player> playerWithURL(const ns::Ref<ns::URL>& url) { return initWithURL(url); }
  static ns::Ref<Player> initWithURL(const ns::Ref<ns::URL>& url);
  static ns::Ref<Player> playerWithPlayerItem(const ns::Ref<PlayerItem>& item) {
    return initWithPlayerItem(item);
  }
  static ns::Ref<Player> initWithPlayerItem(const ns::Ref<PlayerItem>& item);

  // The audio output new players use ("" for mpv's choice); tests make it "null".
  static void setDefaultAudioOutput(const std::string& output);
  static std::string defaultAudioOutput();
  // Why a player's media engine cannot be made here (nullopt when it can): its library is opened
  // and an instance made and let go, without starting it (any thread).
  static std::optional<std::string> engineUnavailableReason();

  ns::Ref<PlayerItem> currentItem() const { return item_; }
  // Stops the current item and loads `item` (nullptr leaves the player empty). An item that is
  // already another player's current item is refused (raises, as it is a programming error).
  void replaceCurrentItemWithPlayerItem(const ns::Ref<PlayerItem>& item);

  void play() { setRate(1); }
  void pause() { setRate(0); }
  // 0 pauses, anything else plays at normal speed.
  float rate() const { return rate_; }
  void setRate(float rate);
  // 0 to 1 (values outside are clamped).
  float volume() const { return volume_; }
  void setVolume(float volume);
  bool isMuted() const { return muted_; }
  void setMuted(bool muted);

  PlayerStatus status() const { return status_; }
  const std::optional<ns::Error>& error() const { return error_; }
  PlayerActionAtItemEnd actionAtItemEnd() const { return actionAtItemEnd_; }
  void setActionAtItemEnd(PlayerActionAtItemEnd action) { actionAtItemEnd_ = action; }

  // The position in the current item; zero when there is none.
  cm::Time currentTime() const;
  // The default tolerance lets the player stop at the nearest key frame; zero tolerances seek
  // exactly. A newer seek finishes an older one with NO; the handler runs on the main thread.
  void seekToTime(cm::Time time);
  void seekToTime_completionHandler(cm::Time time, SeekHandler handler);
  void seekToTime_toleranceBefore_toleranceAfter(cm::Time time, cm::Time before, cm::Time after);
  void seekToTime_toleranceBefore_toleranceAfter_completionHandler(cm::Time time, cm::Time before,
                                                                   cm::Time after, SeekHandler handler);

  // Calls `block` about every `interval` of playback, on jumps of the time (a seek's picture, or
  // any new picture while paused) and when playback starts or stops, on `queue` (the main queue
  // when null); answers the token removeTimeObserver takes.
  ns::Ref<ns::Object> addPeriodicTimeObserverForInterval_queue_usingBlock(
      cm::Time interval, const ns::Ref<dispatch::Queue>& queue, TimeBlock block);
  void removeTimeObserver(const ns::Ref<ns::Object>& observer);

  // The latest picture at the video's own size, drawn when asked for (a layer that shows the
  // picture asks for its own size instead).
  const VideoFrame& currentVideoFrame() const;
  // For layers: the latest picture drawn at `width` x `height` pixels, drawn again only when a
  // new one came or the size changed; an empty one before the first picture.
  VideoPicture pictureForLayer(int width, int height);
  // For layers: has the latest picture drawn at `width` x `height` straight into `pixels`, rows
  // `stride` bytes apart of opaque 32-bit pixels (B, G, R, A in memory), such as a window's own
  // surface. False before the first picture or when it could not be drawn.
  bool drawPictureInto(int width, int height, std::size_t stride, unsigned char* pixels);
  // Grows with each picture that arrives, drawn or not (0: none yet).
  std::uint64_t pictureSerial() const;
  // The picture's size in pixels as decoded, once known (zero before).
  ak::Size videoPixelSize() const;
  // The layers to tell about a new picture.
  void addLayer(const ns::Ref<PlayerLayer>& layer);
  void removeLayer(const PlayerLayer* layer);
  // Whether the engine runs: a layer or a time observer starts it soon after, out of the way of
  // the first window; an item at once.
  bool hasEngine() const { return engine_ != nullptr; }
  // One of the engine's options as it holds it now (empty without an engine).
  std::string engineOptionForTesting(const char* name) const;

  std::string className() const override { return "AVPlayer"; }

 private:
  friend struct PlayerEngine;
  void changeStatus(PlayerStatus status, std::optional<ns::Error> error);
  void changeRate(float rate);
  void ensureEngine();
  void startEngineSoon();

  std::shared_ptr<PlayerEngine> engine_;
  // Layers added before the engine started, handed to it when it does.
  std::vector<ns::Weak<PlayerLayer>> pendingLayers_;
  std::vector<ns::Ref<ns::Object>> pendingTimeObservers_;
  bool engineScheduled_ = false;
  ns::Ref<PlayerItem> item_;
  PlayerStatus status_ = PlayerStatusUnknown;
  std::optional<ns::Error> error_;
  float rate_ = 0;
  float volume_ = 1;
  bool muted_ = false;
  PlayerActionAtItemEnd actionAtItemEnd_ = PlayerActionAtItemEndPause;
};

}  // namespace av
