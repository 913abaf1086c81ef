#pragma once
// The player pane's controller: it loads the rows the lists play (from the cache, through the
// local media server while they download, or from their stream URLs), resumes them where they
// were left, saves their positions and plays the current list on at the end of each video.
// Main thread only, but videoId, which any thread may read.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/IPlayerViewController.h"
#include "platform/appkit/ViewController.h"
#include "platform/media/Time.h"

class SearchEntry;
class PlayerControlBar;
class VideoView;
namespace av {
class Player;
class PlayerItem;
}  // namespace av
namespace ns {
class Timer;
class URL;
}  // namespace ns

class PlayerViewController : public ak::ViewController, public IPlayerViewController {
 public:
  // How long a message stays over the video.
  static constexpr double kMessageSeconds = 2.0;
  // With less than this left, a video counts as played.
  static constexpr double kPlayedMargin = 10.0;
  static constexpr double kShortSeekSeconds = 5.0;

  PlayerViewController();
  ~PlayerViewController() override;
  // Makes the controller from its nib, "PlayerViewController", with its view; it installs
  // itself as the process-wide player when it awakes.
  static ns::Ref<PlayerViewController> init();

  // The pane is always the "PlayerViewController" interface, also for a controller made
  // without a nib name.
  void loadView() override;
  // Follows the cache and the application's end, and becomes the process-wide player.
  void awakeFromNib() override;

  // ---- IPlayerViewController ----
  std::optional<std::string> videoId() override;
  void loadVideo(const ns::Ref<SearchEntry>& row) override;
  void playVideo(const ns::Ref<SearchEntry>& row) override;
  void play() override;
  void stopVideo() override;
  void updateVideoUrlIfNeeded(const std::string& videoId) override;
  void showOSD(const std::string& message) override;
  bool bookmarksVisible() override { return false; }
  bool isPlaying() override;
  void pause() override;
  double currentTimeSeconds() override;

  // Plays when paused, pauses when playing.
  void playPause();
  // kShortSeekSeconds later or earlier, to that very place (never a key frame near it), within
  // the video.
  void shortSeekForward();
  void shortSeekBack();
  // Saves the loaded video's position and played state (the application calls it at
  // will-terminate).
  void savePosition();
  // Deletes the video's cached copy or partial download and loads it again at the same place
  // (the quality pop-up does so after another quality was chosen).
  void reloadWithoutCache();

  // The control bar (made with the controller's view).
  const ns::Ref<PlayerControlBar>& controlBar() const { return controlBar_; }
  void setControlBar(const ns::Ref<PlayerControlBar>& bar);

  ns::Ref<VideoView> videoView();
  ns::Ref<av::Player> player();
  // The loaded row (nil when none).
  const ns::Ref<SearchEntry>& row() const { return row_; }
  const ns::Ref<ns::Timer>& messageTimer() const { return messageTimer_; }

  std::string className() const override { return "PlayerViewController"; }

 private:
  void load(const ns::Ref<SearchEntry>& row, bool play);
  void startLoading(const std::string& videoId, double position, bool play);
  void resolve(const std::string& videoId);
  // Loads the URL, seeking to `position` once ready, playing when `play`.
  void loadURL(const ns::Ref<ns::URL>& url, double position, bool play);
  void observeItem(const ns::Ref<av::PlayerItem>& item);
  void forgetItem();
  void itemReady();
  // Seeks to the stored position once the duration is known.
  void applyStoredPosition();
  void itemEnded();
  void itemFailed();
  // Where the video is: the player's time once the item plays from its place, else the place
  // it is to start from.
  double resumePosition();
  void setVideoId(std::optional<std::string> videoId);
  // The file the video plays from without the network: the recorded download, else the cache.
  static std::optional<std::string> localFileForVideoId(const std::string& videoId);
  void onCacheChanged();
  void shortSeekBy(double seconds);

  // Not std::atomic<std::shared_ptr>: libstdc++ 12 ends its load with a relaxed unlock, so a
  // reader's access is not ordered before the next store (ThreadSanitizer reports it).
  mutable std::mutex videoIdMutex_;
  std::shared_ptr<const std::string> videoId_;
  ns::Ref<SearchEntry> row_;
  ns::Ref<av::PlayerItem> item_;
  // Bumped at each load: a resolution or a ready item of an older load is dropped.
  std::uint64_t generation_ = 0;
  double pendingSeek_ = 0;
  bool playWhenReady_ = false;
  bool seekWaitsForDuration_ = false;
  // The stored position was applied: the player's time is the video's place.
  bool positionApplied_ = false;
  // The item is on the local server and may fail when the server restarts after a stall.
  bool fromServer_ = false;
  // Such an item failed: the player keeps its place until the video's URL is renewed.
  bool waitingForReload_ = false;
  ns::Ref<ns::Timer> messageTimer_;
  ns::Ref<PlayerControlBar> controlBar_;
  std::vector<ns::Ref<ns::Object>> tokens_;
  ns::Ref<ns::Object> itemTokens_[2];
  std::string observerId_;
};
