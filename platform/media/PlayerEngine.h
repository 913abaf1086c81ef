#pragma once
// The mpv instance behind one player (internal to the media layer; no mpv header here). Events
// and new pictures are announced by mpv on its own threads; the engine hops to the main queue
// through a weak reference, so that nothing reaches a player that is gone.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/Player.h"

struct mpv_handle;
struct mpv_render_context;
struct mpv_event;
struct mpv_event_property;
struct mpv_node;

namespace av {

struct PlayerEngine : std::enable_shared_from_this<PlayerEngine> {
  // What mpv's threads may touch: a weak way back and flags that coalesce wake-ups.
  struct Wake {
    std::weak_ptr<PlayerEngine> engine;
    std::atomic<bool> eventsQueued{false};
    std::atomic<bool> frameQueued{false};
  };
  struct Seek {
    std::uint64_t id = 0;
    double target = 0;
    Player::SeekHandler handler;
    bool acknowledged = false;
  };

  explicit PlayerEngine(Player* owner) : owner(owner) {}
  ~PlayerEngine();

  // Makes the mpv instance; false (with the reason) when it cannot.
  bool start(std::string* reason);
  void shutdown();
  void load(const ns::Ref<PlayerItem>& item);
  void unload();
  void setPaused(bool paused);
  void setVolume(double volume, bool muted);
  void seek(double seconds, bool exact, Player::SeekHandler handler);
  // Sends the newest pending seek to mpv.
  void issueSeek(double seconds, bool exact);
  // Fails the item being loaded at once.
  void refuse(const ns::Error& error);
  // Ends every pending seek with NO.
  void cancelSeeks();
  double position() const;

  // On the main queue.
  void drain();
  // A new picture is there: the layers that show it draw it when they draw; with none, it is
  // taken without drawing, so that mpv goes on.
  void renderFrame();
  // The latest picture at the video's size, drawn now if a newer one arrived since.
  const VideoFrame& videoFrame();
  // The latest picture at a layer's size, drawn now if a newer one arrived or the size changed.
  VideoPicture picture(int width, int height);
  // Has mpv draw its latest picture at `size` into `pixels` (or only take it, with null pixels),
  // in one of mpv's packed formats ("bgr0" leaves the fourth byte undefined, "bgra" opaque).
  bool draw(int width, int height, std::size_t stride, void* pixels, const char* format = "bgr0");
  // An option's value as mpv holds it now, as text (empty when it has none).
  std::string optionValue(const char* name);
  void handle(const mpv_event& event);
  // The current item's file is loaded: it is ready to play, and a seek asked before is sent.
  void handleFileLoaded();
  // One of the observed properties changed (its number is the observation's reply id).
  void handlePropertyChange(std::uint64_t property, const mpv_event_property& change);
  // The demuxer's cache state, or nothing known (nullptr): ranges, end reached, underrun, ahead.
  void readCacheState(const mpv_node* state);
  void evaluate();
  void updateBuffer();
  void finishSeek(std::uint64_t id, bool finished);
  void setScalerThreadsFor(int width, int height);
  void failItem(const ns::Error& error, bool postNotification);
  void fireTimeObservers(bool jumped);
  static void wakeup(void* context);
  static void renderUpdate(void* context);

  Player* owner;
  mpv_handle* mpv = nullptr;
  mpv_render_context* render = nullptr;
  std::unique_ptr<Wake> wake;
  VideoFrame frame;
  // Pictures arrived, and whether mpv still holds the last one undrawn (it waits for that).
  std::uint64_t pictures = 0;
  bool framePending = false;
  // Pictures of at most this many pixels are scaled on the drawing thread alone.
  static constexpr long kOneScalerThreadPixels = 1920L * 1080;
  bool scalerOnOneThread = true;
  // The picture drawn for layers, at their size.
  struct Scaled {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> pixels{nullptr, &std::free};
    std::uint64_t serial = 0;
  } scaled;
  std::vector<ns::Weak<PlayerLayer>> layers;

  // The item loaded now and what mpv told of it.
  ns::Ref<PlayerItem> item;
  // The playlist entry mpv made for it, and the entry it started last.
  std::optional<std::int64_t> currentEntry;
  std::optional<std::int64_t> lastStartedEntry;
  bool fileLoaded = false;
  bool localFile = false;
  double timePos = 0;
  // mpv's own pause state (it starts paused).
  bool paused = true;
  double duration = -1;
  bool pausedForCache = false;
  bool eofReached = false;
  bool cacheEof = false;
  bool underrun = false;
  double cacheAhead = 0;
  std::vector<cm::TimeRange> cachedRanges;
  bool endHandled = false;
  int videoWidth = 0;
  int videoHeight = 0;

  std::vector<Seek> seeks;
  std::uint64_t nextSeekId = 1;
  std::optional<std::pair<double, bool>> deferredSeek;  // target, exact: issued once loaded

  struct TimeObserver;
  std::vector<ns::Ref<ns::Object>> timeObservers;
  double lastObservedTime = -1;
};

}  // namespace av
