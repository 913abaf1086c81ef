#pragma once
// The play button over a video thumbnail: invisible until the mouse enters it, and shown again
// by `reset` when its video is the one the mouse was last over.
#include <mutex>
#include <optional>
#include <string>

#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"

// The video the mouse is over, shared by every hover button and the video row cells; nullopt
// when none. Main thread only.
std::optional<std::string> hoveredVideoId();
void setHoveredVideoId(std::optional<std::string> videoId);

class HoverButton : public ak::Button {
 public:
  void initWithFrame(const ak::Rect& frame) override;
  using ak::Button::init;

  // A tracking area that follows the visible rectangle: entered/exited, active always, assume
  // inside, in visible rect.
  void createTrackingArea();
  void mouseEntered(const ns::Ref<ak::Event>& event) override;
  void mouseExited(const ns::Ref<ak::Event>& event) override;
  // Fades in when this button's video is the hovered one, else out.
  void reset();

  std::optional<std::string> videoid() const;
  void setVideoid(std::optional<std::string> videoid);
  const ns::Ref<ak::ImageView>& playImg() const { return playImg_; }
  void setPlayImg(const ns::Ref<ak::ImageView>& view) { playImg_ = view; }

  std::string className() const override { return "HoverButton"; }

 private:
  mutable std::mutex mutex_;  // the video id is an atomic property
  std::optional<std::string> videoid_;
  ns::Ref<ak::ImageView> playImg_;
};
