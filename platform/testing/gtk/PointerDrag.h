#pragma once
// A drag through real input that lets the application keep up: each movement of the pointer
// waits until the application took the one before and the window stands where its frame says,
// so that the next movement is seen against the window's new place (as when a user drags it).
//
//   ASSERT_TRUE(pltest::dragInSteps(app, window, {x, y}, {{100, 0}, {100, 0}, {0, 5}}));
#include <string>
#include <vector>

#include "platform/appkit/Window.h"
#include "platform/testing/gtk/Screen.h"

namespace pltest {

struct PointerStep {
  int dx = 0, dy = 0;
};

// Presses the left button at `from` (X11 coordinates), moves the pointer by each step in turn
// and releases it. Answers whether the application took the release where the pointer went.
bool dragInSteps(OnScreenApp& app, const ns::Ref<ak::Window>& window, ScreenPoint from,
                 const std::vector<PointerStep>& steps);

// Whether the window's content stands on the screen where its frame says (the system has done
// what the window last asked, or the window follows what the system did).
bool placedAsFramed(const ns::Ref<ak::Window>& window);

// "x,y wxh", for messages.
std::string frameText(const ak::Rect& frame);

}  // namespace pltest
