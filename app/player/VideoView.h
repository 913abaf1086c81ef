#pragma once
// The black view the video plays in: the player's layer, a message label over it and a white
// spinner shown while the player waits for data. Main thread only.
#include <string>

#include "platform/appkit/View.h"
#include "platform/core/Object.h"

namespace av {
class Player;
class PlayerLayer;
}  // namespace av
namespace ak {
class TextField;
}
class SpinningProgressIndicator;

class VideoView : public ak::View {
 public:
  VideoView();
  // Makes the player and the subviews (ak::make<VideoView>(frame)).
  void initWithFrame(const ak::Rect& frame) override;
  using ak::View::init;

  const ns::Ref<av::Player>& player() const { return player_; }
  const ns::Ref<av::PlayerLayer>& playerLayer() const { return layer_; }

  // Shows the message over the video; an empty one hides the label.
  void setMessage(const std::string& message);
  std::string message() const;
  bool isMessageVisible() const;

  // Turns the spinner while the player waits for data.
  void setBuffering(bool buffering);
  bool isBuffering() const { return buffering_; }

  void drawRect(const ak::Rect& dirty) override;
  std::string className() const override { return "VideoView"; }

 private:
  void build();

  ns::Ref<av::Player> player_;
  ns::Ref<av::PlayerLayer> layer_;
  ns::Ref<ak::TextField> label_;
  ns::Ref<SpinningProgressIndicator> spinner_;
  bool buffering_ = false;
};
