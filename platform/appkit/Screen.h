#pragma once
// Screens. Headless there is one 1440x900 screen whose visible frame leaves out the 22-point
// menu-bar strip at the top; tests may configure others.
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class Screen : public ns::Object {
 public:
  Screen(Rect frame, Rect visibleFrame) : frame_(frame), visibleFrame_(visibleFrame) {}

  static ns::Ref<Screen> mainScreen();
  static std::vector<ns::Ref<Screen>> screens();
  // Replaces the screens (the first is the main one, with the menu bar); empty restores the
  // default single screen.
  static void setScreenFrames(const std::vector<Rect>& frames);
  // Replaces the screens with frames and the visible frames the system gives for them (the work
  // area: the screen less its panels and the menu bar's strip). A visible frame is kept within its
  // screen; a missing or empty one is the whole screen.
  static void setScreenFrames_visibleFrames(const std::vector<Rect>& frames,
                                            const std::vector<Rect>& visibleFrames);

  Rect frame() const { return frame_; }
  Rect visibleFrame() const { return visibleFrame_; }
  double backingScaleFactor() const { return 1.0; }

 private:
  Rect frame_;
  Rect visibleFrame_;
};

}  // namespace ak
