#include "ui/HoverButton.h"

#include "platform/appkit/Animation.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

// Mouse-entered-and-exited, active always, assume inside and in visible rect. The number has
// long been described as including "enabled during mouse drag", which is 0x400 and not in it.
constexpr unsigned long kHoverTrackingOptions = 0x381;

std::optional<std::string>& hovered() {
  static ns::NoDestructor<std::optional<std::string>> id;
  return *id;
}

bool sameVideo(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return a && b && *a == *b;
}

}  // namespace

std::optional<std::string> hoveredVideoId() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  return hovered();
}

void setHoveredVideoId(std::optional<std::string> videoId) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  hovered() = std::move(videoId);
}

void HoverButton::initWithFrame(const ak::Rect& frame) {
  ak::Button::initWithFrame(frame);
  setAlphaValue(0.0);
  createTrackingArea();
}

void HoverButton::createTrackingArea() {
  addTrackingArea(ak::TrackingArea::initWithRect_options_owner_userInfo(ak::ZeroRect, kHoverTrackingOptions,
                                                                        self<HoverButton>()));
}

void HoverButton::mouseEntered(const ns::Ref<ak::Event>&) {
  animator()->setAlphaValue(1.0);
  setHoveredVideoId(videoid());
}

void HoverButton::mouseExited(const ns::Ref<ak::Event>&) {
  animator()->setAlphaValue(0.0);
  if (sameVideo(hoveredVideoId(), videoid())) setHoveredVideoId(std::nullopt);
}

void HoverButton::reset() {
  animator()->setAlphaValue(sameVideo(videoid(), hoveredVideoId()) ? 1.0 : 0.0);
}

std::optional<std::string> HoverButton::videoid() const {
  std::lock_guard lock(mutex_);
  return videoid_;
}

void HoverButton::setVideoid(std::optional<std::string> videoid) {
  std::lock_guard lock(mutex_);
  videoid_ = std::move(videoid);
}

PL_CLASS(HoverButton, ak::Button) {}
