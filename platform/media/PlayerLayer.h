#pragma once
// Shows a player's pictures in a view. The layer is attached to an ak::View (addToView): it adds
// a drawing view that fills the host's bounds and follows its size, and that draws the player's
// latest picture, placed by the video gravity and turned by the layer's transform, over black.
// Pictures come from mpv's software renderer on the main queue, drawn by mpv at the size the
// layer shows them when the layer draws; headless and on screen alike.
// Main-thread only; "readyForDisplay" is announced through key-value observing.
#include <string>

#include "platform/appkit/AffineTransform.h"
#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"
#include "platform/media/MediaNames.h"

namespace ak {
class View;
}

namespace av {

class Player;

class PlayerLayer : public ns::Object {
 public:
  PlayerLayer() = default;
  ~PlayerLayer() override;

  static ns::Ref<PlayerLayer> playerLayerWithPlayer(const ns::Ref<Player>& player);

  ns::Ref<Player> player() const { return player_; }
  void setPlayer(const ns::Ref<Player>& player);
  // One of the AVLayerVideoGravity names; anything else is taken as ResizeAspect.
  const std::string& videoGravity() const { return gravity_; }
  void setVideoGravity(const std::string& gravity);
  // Applied about the centre of the layer after the gravity has placed the picture.
  ak::AffineTransform affineTransform() const { return transform_; }
  void setAffineTransform(const ak::AffineTransform& transform);
  // Where the picture lies in the layer's bounds (before the transform); zero without a picture.
  ak::Rect videoRect() const;
  // Whether a picture has arrived since the player was set.
  bool isReadyForDisplay() const { return readyForDisplay_; }

  // The layer fills `host` (replacing an earlier attachment).
  void addToView(const ns::Ref<ak::View>& host);
  void removeFromSuperlayer();
  // The view the layer draws in (nullptr until attached).
  ns::Ref<ak::View> drawingView() const { return view_; }
  ak::Rect bounds() const;

  // Called by the player when a new picture is there.
  void frameArrived();
  // Whether the layer shows its picture now: in a window on screen (not hidden, minimised or
  // covered), not hidden itself, with room for the picture. The player draws no picture that no
  // layer shows.
  bool isShowing() const;

  std::string className() const override { return "AVPlayerLayer"; }

 private:
  ns::Ref<Player> player_;
  std::string gravity_ = AVLayerVideoGravityResizeAspect;
  ak::AffineTransform transform_;
  bool readyForDisplay_ = false;
  ns::Ref<ak::View> view_;
  // Where the last picture was placed when it arrived.
  ak::Rect damagedRect_;
};

}  // namespace av
