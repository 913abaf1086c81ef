#pragma once
// The player's controls along the bottom of the main window: previous, play/pause and next, the
// progress slider with the time, the volume slider and the quality pop-up. The main window
// puts the bar in its bottom bar and keeps the three buttons as its outlets. Main thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/View.h"

class PlayerViewController;
class CustomSlider;
namespace ak {
class Button;
class PopUpButton;
class TextField;
}  // namespace ak

class PlayerControlBar : public ak::View {
 public:
  static constexpr double kTimeObserverSeconds = 0.5;
  static constexpr double kHeight = 40;

  PlayerControlBar();
  ~PlayerControlBar() override;
  // Makes the controls (ak::make<PlayerControlBar>(frame)); they act once a controller is set.
  void initWithFrame(const ak::Rect& frame) override;
  using ak::View::init;
  // The bar of the controller's player (the controller keeps it).
  static ns::Ref<PlayerControlBar> initWithController(const ns::Ref<PlayerViewController>& controller);
  // Drives the controller's player: its volume and a periodic observer of its time.
  void setController(const ns::Ref<PlayerViewController>& controller);

  // Actions.
  void onPrev(const ns::Ref<ns::Object>& sender);
  void onNext(const ns::Ref<ns::Object>& sender);
  void onPlayPause(const ns::Ref<ns::Object>& sender);
  // The progress knob was let go: seeks to its value.
  void onProgress(const ns::Ref<ns::Object>& sender);
  void onVolume(const ns::Ref<ns::Object>& sender);
  void onQuality(const ns::Ref<ns::Object>& sender);

  // Follows the player's time (the periodic observer calls it).
  void updateProgress();
  // Lists the qualities of the loaded video and selects the cached one.
  void updateQualityMenu();

  // The titles of the quality pop-up for the video's formats.
  static std::vector<std::string> qualityTitles(const std::vector<std::int32_t>& itags);

  const ns::Ref<ak::Button>& prevBtn() const { return prevBtn_; }
  const ns::Ref<ak::Button>& playBtn() const { return playBtn_; }
  const ns::Ref<ak::Button>& nextBtn() const { return nextBtn_; }
  const ns::Ref<CustomSlider>& progressSlider() const { return progress_; }
  const ns::Ref<CustomSlider>& volumeSlider() const { return volume_; }
  const ns::Ref<ak::TextField>& timeLabel() const { return timeLabel_; }
  const ns::Ref<ak::PopUpButton>& qualityPopUp() const { return quality_; }

  std::string className() const override { return "PlayerControlBar"; }

 private:
  void build();

  std::weak_ptr<PlayerViewController> controller_;
  ns::Ref<ak::Button> prevBtn_, playBtn_, nextBtn_;
  ns::Ref<CustomSlider> progress_, volume_;
  ns::Ref<ak::TextField> timeLabel_;
  ns::Ref<ak::PopUpButton> quality_;
  ns::Ref<ns::Object> timeObserver_;
};
