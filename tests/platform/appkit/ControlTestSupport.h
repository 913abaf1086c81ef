#pragma once
// Shared pieces of the control, text and menu tests: an action target that records its
// senders, solid-colour images and pixel helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/Image.h"
#include "platform/appkit/Window.h"
#include "platform/core/Object.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/platform/appkit/DrawingTestSupport.h"

namespace control_test {

// Receives "fired:" (and "other:") and records the senders; `onFire` runs inside the action.
class ActionRecorder : public ns::Object {
 public:
  std::vector<ns::Ref<ns::Object>> senders;
  std::vector<std::string> actions;
  std::function<void(const ns::Ref<ns::Object>&)> onFire;
  void fired(const ns::Ref<ns::Object>& sender) {
    senders.push_back(sender);
    actions.push_back("fired:");
    if (onFire) onFire(sender);
  }
  void other(const ns::Ref<ns::Object>& sender) {
    senders.push_back(sender);
    actions.push_back("other:");
  }
};

// A recorder made the target of `control`'s "fired:" action.
template <class Control>
ns::Ref<ActionRecorder> recordActions(const ns::Ref<Control>& control) {
  auto recorder = ns::make<ActionRecorder>();
  control->setTarget(recorder);
  control->setAction("fired:");
  return recorder;
}

using appkit_test::solidImage;

// The darkest grey level of the pixels in a rectangle of base coordinates.
inline int darkest(const ns::Ref<ak::Window>& window, const ak::Rect& r) {
  int best = 255;
  for (double y = r.origin.y; y < r.origin.y + r.size.height; ++y) {
    for (double x = r.origin.x; x < r.origin.x + r.size.width; ++x) {
      auto p = pltest::windowPixel(window, x, y);
      best = std::min(best, (p.r + p.g + p.b) / 3);
    }
  }
  return best;
}

inline testing::AssertionResult near(ak::RGBA seen, ak::RGBA expected, int tolerance = 3) {
  auto off = [&](int a, int b) { return std::abs(a - b) > tolerance; };
  if (off(seen.r, expected.r) || off(seen.g, expected.g) || off(seen.b, expected.b) ||
      off(seen.a, expected.a)) {
    return testing::AssertionFailure() << "saw " << int(seen.r) << "," << int(seen.g) << "," << int(seen.b)
                                       << "," << int(seen.a) << " instead of " << int(expected.r) << ","
                                       << int(expected.g) << "," << int(expected.b) << "," << int(expected.a);
  }
  return testing::AssertionSuccess();
}

}  // namespace control_test
