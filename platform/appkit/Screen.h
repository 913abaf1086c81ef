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

  Rect frame() const { return frame_; }
  Rect visibleFrame() const { return visibleFrame_; }
  double backingScaleFactor() const { return 1.0; }

 private:
  Rect frame_;
  Rect visibleFrame_;
};

}  // namespace ak
